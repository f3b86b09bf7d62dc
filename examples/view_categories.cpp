// Walks a categorised view: orders grouped by customer, each category row carrying the
// total of its orders' amounts, and a grand total at the end.
//
// The view is made here through the C API table (HTAPI), which is public: the object model
// reads views but leaves their design to the API or the `quire view create` command.
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>

#include <binding/Quire01.h>
#include <objects/QRDbase.h>
#include <objects/QRSessn.h>
#include <objects/QRView.h>
#include <objects/Quiredoc.h>

namespace {

constexpr char kPath[] = "examples\\orders.nsf";
constexpr char kView[] = "By Customer";

struct Order {
  const char* customer;
  const char* product;
  double amount;
};
constexpr Order kOrders[] = {{"Birch & Sons", "Bolts", 120.50}, {"Acme Corp", "Anchors", 99.90},
                             {"Birch & Sons", "Cables", 30.00},  {"Acme Corp", "Drills", 250.00},
                             {"Cobalt Labs", "Engines", 1200.00}, {"Acme Corp", "Bolts", 12.25}};

// A fresh database each run, so the totals below are always the same.
std::unique_ptr<TQuireDatabase> CreateFresh(TQuireSession& session, const char* path, const char* title) {
  HTAPI.HTDatabaseDelete("", path);  // "not found" on the first run is fine
  const HTSTATUS status = HTAPI.HTDatabaseCreate("", path, title, "", HTDBCLASS_DATABASE);
  if (status != HTSUCCESS) {
    std::fprintf(stderr, "cannot create %s: %s\n", path, GetNotesErrorText(status).c_str());
    return nullptr;
  }
  return session.GetDatabase("", path);
}

bool AddOrders(TQuireDatabase& database) {
  for (const Order& order : kOrders) {
    auto doc = database.CreateDocument("");
    if (!doc) return false;
    doc->AppendTextItem("Form", "Order");
    doc->AppendTextItem("Customer", order.customer);
    doc->AppendTextItem("Product", order.product);
    doc->AppendNumberItem("Amount", order.amount);
    doc->Save();
    if (doc->LastError != 0) return false;
  }
  return true;
}

// Customer is a category column (sorted ascending); Amount is totalled per category.
bool CreateView(TQuireDatabase& database) {
  HTCOLUMNSPEC columns[3] = {};
  columns[0].title = "Customer";
  columns[0].itemName = "Customer";
  columns[0].sort = HTCOLSORT_CAT_ASCEND;
  columns[1].title = "Product";
  columns[1].itemName = "Product";
  columns[1].sort = HTCOLSORT_ASCEND;
  columns[2].title = "Amount";
  columns[2].itemName = "Amount";
  columns[2].total = HTCOLTOTAL_TOTAL;
  columns[2].justify = HTCOLJUSTIFY_RIGHT;
  HTVIEWSPEC view = {};
  view.name = kView;
  view.selection = "SELECT Form = \"Order\"";
  view.columnCount = std::size(columns);
  view.columns = columns;
  HTID id = 0;
  const HTSTATUS status = HTAPI.HTViewCreate(database.DbHandle, &view, &id);
  if (status != HTSUCCESS) std::fprintf(stderr, "cannot create the view: %s\n", GetNotesErrorText(status).c_str());
  return status == HTSUCCESS;
}

std::string Cell(TQuireView& view, int column) {
  std::string text;
  view.GetCellText(column, text);
  return text;
}

int Run() {
  TQuireSession session;
  if (!session.Initialized) {
    std::fprintf(stderr, "the database engine is not available\n");
    return 1;
  }
  auto database = CreateFresh(session, kPath, "Orders");
  if (!database || !AddOrders(*database) || !CreateView(*database)) return 1;

  auto view = database->GetView(kView);
  if (!view) {
    std::fprintf(stderr, "cannot open the view: %s\n", database->GetNotesErrorString().c_str());
    return 1;
  }
  std::printf("%s: %d rows\n", kView, view->GetCount());
  int categories = 0;
  std::string grandTotal;
  // LastError turns non-zero when a move runs past the last row.
  for (view->MoveFirst(); view->LastError == 0; view->MoveNext()) {
    std::string position;
    view->GetViewPosition(position);  // "2.1": second category, its first document
    if (view->IsCategory) {
      ++categories;
      std::printf("%-5s %-14s total %s\n", position.c_str(), Cell(*view, 1).c_str(), Cell(*view, 3).c_str());
    } else if (view->IsTotal) {
      grandTotal = Cell(*view, 3);
      std::printf("      grand total %s\n", grandTotal.c_str());
    } else {
      std::printf("%-5s   %-12s %10s\n", position.c_str(), Cell(*view, 2).c_str(), Cell(*view, 3).c_str());
    }
  }
  if (categories != 3 || grandTotal.empty()) {
    std::fprintf(stderr, "expected 3 customers and a grand total, found %d and '%s'\n", categories,
                 grandTotal.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main() {
  Initialize();
  const int result = Run();
  Finalize();
  return result;
}
