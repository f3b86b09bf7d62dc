// Selects documents two ways: with a formula (evaluated against every document's items) and
// with a full-text query (answered from the database's full-text index).
#include <cstdio>
#include <memory>
#include <string>

#include <binding/Quire01.h>
#include <objects/QRDbase.h>
#include <objects/QRDoccol.h>
#include <objects/QRItem.h>
#include <objects/QRSessn.h>
#include <objects/Quiredoc.h>

namespace {

constexpr char kPath[] = "examples\\tickets.nsf";

struct Ticket {
  const char* subject;
  const char* body;
  double priority;
};
constexpr Ticket kTickets[] = {
    {"Printer jams on tray 2", "The printer on the second floor jams whenever tray 2 is used.", 2},
    {"Urgent: delivery address wrong", "The delivery for order 1182 went to the old warehouse.", 1},
    {"Laptop battery", "Battery drains within an hour; replacement requested.", 3},
    {"Delivery delayed", "Customer asks when the delayed delivery will arrive.", 2},
};

std::unique_ptr<TQuireDatabase> CreateFresh(TQuireSession& session, const char* path, const char* title) {
  HTAPI.HTDatabaseDelete("", path);
  const HTSTATUS status = HTAPI.HTDatabaseCreate("", path, title, "", HTDBCLASS_DATABASE);
  if (status != HTSUCCESS) {
    std::fprintf(stderr, "cannot create %s: %s\n", path, GetNotesErrorText(status).c_str());
    return nullptr;
  }
  return session.GetDatabase("", path);
}

bool AddTickets(TQuireDatabase& database) {
  for (const Ticket& ticket : kTickets) {
    auto doc = database.CreateDocument("");
    if (!doc) return false;
    doc->AppendTextItem("Form", "Ticket");
    doc->AppendTextItem("Subject", ticket.subject);
    doc->AppendTextItem("Body", ticket.body);
    doc->AppendNumberItem("Priority", ticket.priority);
    doc->Save();
    if (doc->LastError != 0) return false;
  }
  return true;
}

// Prints the subject of every document of the collection; the result is how many. The walk
// counts, because past the last document GetNextDocument answers the last one again.
int PrintSubjects(TQuireDocCollection& found) {
  const int total = found.GetCount();
  int count = 0;
  for (int n = 1; n <= total; ++n) {
    auto doc = n == 1 ? found.GetFirstDocument() : found.GetNextDocument();
    if (!doc) break;
    TQuireItem* subject = doc->GetItemByName("Subject");
    std::printf("  %s\n", subject ? subject->GetText().c_str() : "(no subject)");
    ++count;
  }
  return count;
}

// Runs one search and checks how many documents it found.
bool Show(const char* what, std::unique_ptr<TQuireDocCollection> found, TQuireDatabase& database, int expected) {
  if (!found) {
    std::fprintf(stderr, "%s failed: %s\n", what, database.GetNotesErrorString().c_str());
    return false;
  }
  std::printf("%s: %d documents\n", what, found->GetCount());
  const int count = PrintSubjects(*found);
  if (count == expected) return true;
  std::fprintf(stderr, "%s: expected %d documents, walked %d\n", what, expected, count);
  return false;
}

int Run() {
  TQuireSession session;
  if (!session.Initialized) {
    std::fprintf(stderr, "the database engine is not available\n");
    return 1;
  }
  auto database = CreateFresh(session, kPath, "Tickets");
  if (!database || !AddTickets(*database)) return 1;

  // A selection formula: every document for which it is true.
  bool ok = Show("formula 'SELECT Priority <= 2 & @Contains(Subject; \"Delivery\")'",
                 database->Search("SELECT Priority <= 2 & @Contains(Subject; \"Delivery\")"), *database, 1);

  // Full-text queries need the index; it follows later changes by itself.
  if (!database->CreateFTIndex(0)) {
    std::fprintf(stderr, "cannot index: %s\n", database->GetNotesErrorString().c_str());
    return 1;
  }
  ok &= Show("full text 'delivery'", database->FTSearch("delivery", 0), *database, 2);
  ok &= Show("full text '\"second floor\" OR batter*'", database->FTSearch("\"second floor\" OR batter*", 0),
             *database, 2);
  ok &= Show("full text 'FIELD Subject CONTAINS urgent'", database->FTSearch("FIELD Subject CONTAINS urgent", 0),
             *database, 1);
  return ok ? 0 : 1;
}

}  // namespace

int main() {
  Initialize();
  const int result = Run();
  Finalize();
  return result;
}
