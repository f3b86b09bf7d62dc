// Opens a database (creating it on first use), creates a document with items of several
// types, saves it, and reads it back by its universal ID.
//
// Build against an installed Quire (see README.md), then run it; the database lands in the
// local data directory ($QUIRE_DATA, or ~/.local/share/quire/data).
#include <cstdio>
#include <memory>
#include <string>

#include <binding/Quire01.h>
#include <objects/QRDbase.h>
#include <objects/QRItem.h>
#include <objects/QRSessn.h>
#include <objects/QRTLItem.h>
#include <objects/Quiredoc.h>
#include <rtl/DateTime.h>
#include <rtl/FormatSettings.h>

namespace {

constexpr char kPath[] = "examples\\contacts.nsf";

// The local server's database at `path`, created first when there is none.
std::unique_ptr<TQuireDatabase> OpenOrCreate(TQuireSession& session, const char* path, const char* title) {
  if (auto database = session.GetDatabase("", path)) return database;
  const HTSTATUS status = HTAPI.HTDatabaseCreate("", path, title, "", HTDBCLASS_DATABASE);
  if (status != HTSUCCESS && status != HTFAIL_DB_EXISTS) {
    std::fprintf(stderr, "cannot create %s: %s\n", path, GetNotesErrorText(status).c_str());
    return nullptr;
  }
  auto database = session.GetDatabase("", path);
  if (!database) std::fprintf(stderr, "cannot open %s: %s\n", path, session.GetNotesErrorString().c_str());
  return database;
}

int Run() {
  TQuireSession session;
  if (!session.Initialized) {
    std::fprintf(stderr, "the database engine is not available: %s\n", session.GetNotesErrorString().c_str());
    return 1;
  }
  std::printf("user %s, engine %s\n", session.GetUserName().c_str(), session.GetHTAPIVersion().c_str());

  auto database = OpenOrCreate(session, kPath, "Contacts");
  if (!database) return 1;

  // The document and its items live in memory until Save writes them in one transaction.
  auto doc = database->CreateDocument("");
  if (!doc) {
    std::fprintf(stderr, "cannot create a document: %s\n", database->GetNotesErrorString().c_str());
    return 1;
  }
  doc->AppendTextItem("Form", "Contact");
  doc->AppendTextItem("Name", "Ada Lovelace");
  doc->AppendNumberItem("Orders", 3);
  doc->AppendDateTimeItem("LastContact", rtl::EncodeDateTime(2026, 12, 1, 14, 30, 0));
  // A text list starts with one entry; the item object adds the others.
  doc->AppendTextListItem("Phones", "+44 20 7946 0000");
  if (auto* phones = dynamic_cast<TQuireTextListItem*>(doc->GetItemByName("Phones"))) {
    phones->AddEntry("+44 20 7946 0001");
  }
  doc->Save();
  if (doc->LastError != 0) {
    std::fprintf(stderr, "cannot save: %s\n", doc->GetNotesErrorString().c_str());
    return 1;
  }
  const std::string unid = doc->GetUniversalID();
  std::printf("saved document %s in %s\n", unid.c_str(), kPath);

  // Read it back as another program would: by its universal ID.
  auto again = database->GetDocumentByUNID(unid);
  if (!again) {
    std::fprintf(stderr, "cannot find document %s\n", unid.c_str());
    return 1;
  }
  for (int i = 0; i < again->GetITemCount(); ++i) {
    TQuireItem* item = again->GetItem(i);
    std::printf("  %-12s %s\n", item->Name.c_str(), item->GetText().c_str());
  }
  TQuireItem* when = again->GetItemByName("LastContact");
  TQuireItem* name = again->GetItemByName("Name");
  auto* phones = dynamic_cast<TQuireTextListItem*>(again->GetItemByName("Phones"));
  if (!when || !name || name->GetText() != "Ada Lovelace" || !phones || phones->GetCount() != 2) {
    std::fprintf(stderr, "the document did not come back as saved\n");
    return 1;
  }
  std::printf("last contact: %s\n", rtl::DateTimeToStr(when->GetAsDate()).c_str());
  return 0;
}

}  // namespace

int main() {
  Initialize();  // loads the engine once per process
  const int result = Run();
  Finalize();
  return result;
}
