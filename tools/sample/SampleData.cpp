// The sample documents, views, folder and access control list, and how the demo shows them.
//
// The data are made once, when the sample database has no documents: a few hundred orders
// with comments answering some of them, a categorised view with totals, a hierarchical
// view, a folder and the full-text index. Showing walks the categorised view as a person
// reads it, then runs a key search and a full-text search.
#include "tools/sample/SampleData.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "binding/Quire01.h"
#include "objects/QRAcl.h"
#include "objects/QRDbase.h"
#include "objects/QRDoccol.h"
#include "objects/QRFolder.h"
#include "objects/QRItem.h"
#include "objects/QRView.h"
#include "objects/QRSessn.h"
#include "objects/QuireCol.h"
#include "objects/Quiredoc.h"

namespace quiresample {
namespace {

constexpr int kOrderCount = 300;

const char* const kCustomers[] = {"Acme Corp", "Birch & Sons", "Cobalt Labs", "Delta Freight",
                                  "Elm Street Bakery", "Fjord Shipping"};
const char* const kProducts[] = {"Anchors", "Bolts", "Cables", "Drills", "Engines"};
const char* const kNotes[] = {"routine reorder", "urgent delivery requested", "seasonal stock",
                              "replacement parts", "trial order"};

void Check(bool ok, uint32_t status, const std::string& what) {
  if (ok) return;
  std::string message = GetNotesErrorText(status);
  throw SampleFailure(what + (message.empty() ? std::string() : ": " + message));
}

struct SampleEntry {
  const char* name;
  TQRAccessLevel level;
  std::vector<const char*> roles;
};

const char* const kSampleRoles[] = {"[Admin]", "[Editors]", "[Reviewers]"};

const SampleEntry kSampleEntries[] = {
    {"Ann Reader", alReader, {}},
    {"Bob Editor", alEditor, {"[Editors]"}},
    {"Sales Team", alAuthor, {"[Reviewers]"}},
};

// Adds each sample role the database does not have yet.
void EnsureRoles(TQuireACL& acl) {
  std::vector<std::string> present;
  const int count = acl.GetRoleCount();
  for (int index = 0; index < count; ++index) {
    std::string name;
    acl.GetRoleName(index, name);
    present.push_back(name);
  }
  for (const char* role : kSampleRoles) {
    if (std::find(present.begin(), present.end(), role) != present.end()) continue;
    if (acl.AddRole(role)) continue;
    Check(acl.LastError == 0, acl.LastError, "cannot add role " + std::string(role));
    throw SampleFailure("cannot add role " + std::string(role) + ": no free role slot");
  }
}

void EnableRole(TQuireACLEntry& entry, const char* role) {
  if (entry.IsRoleEnabled(role)) return;
  if (entry.EnableRole(role)) return;
  Check(entry.LastError == 0, entry.LastError, "cannot enable " + std::string(role));
  throw SampleFailure("no role " + std::string(role) + " in the sample database");
}

void SaveEntry(TQuireACLEntry& entry) {
  if (!entry.Save() && entry.LastError != 0)
    Check(false, entry.LastError, "cannot save entry '" + entry.GetName() + "'");
}

// A deterministic spread of amounts, so every run of the demo shows the same totals.
double AmountOf(int i) { return 25.0 + double((i * 7919) % 2000) / 4.0; }

std::string MakeOrder(TQuireDatabase& database, int i) {
  auto doc = database.CreateDocument("");
  Check(doc != nullptr, database.LastError, "cannot create a sample order");
  const char* customer = kCustomers[i % std::size(kCustomers)];
  const char* product = kProducts[(i / 3) % std::size(kProducts)];
  doc->AppendTextItem("Form", "Order");
  doc->AppendTextItem("Customer", customer);
  doc->AppendTextItem("Product", product);
  doc->AppendNumberItem("Amount", AmountOf(i));
  doc->AppendTextItem("Subject", std::string(product) + " for " + customer + ", " + kNotes[i % std::size(kNotes)]);
  doc->Save();
  Check(doc->LastError == 0, doc->LastError, "cannot save a sample order");
  return doc->GetUniversalID();
}

void MakeComment(TQuireDatabase& database, const std::string& parentUnid, int i) {
  auto doc = database.CreateDocument("");
  Check(doc != nullptr, database.LastError, "cannot create a sample comment");
  doc->AppendTextItem("Form", "Comment");
  doc->AppendTextItem("Subject", i % 2 ? "Confirmed by phone" : "Waiting for the customer's answer");
  doc->SetParentUNID(parentUnid);
  doc->Save();
  Check(doc->LastError == 0, doc->LastError, "cannot save a sample comment");
}

HTCOLUMNSPEC Column(const char* title, const char* item, HTINT sort, HTINT width) {
  HTCOLUMNSPEC c{};
  c.title = title;
  c.itemName = item;
  c.sort = sort;
  c.width = width * 8;
  c.fontSize = 10;
  return c;
}

void MakeViews(TQuireDatabase& database) {
  HTCOLUMNSPEC byCustomer[] = {Column("Customer", "Customer", HTCOLSORT_CAT_ASCEND, 20),
                               Column("Product", "Product", HTCOLSORT_ASCEND, 12),
                               Column("Amount", "Amount", HTCOLSORT_NONE, 10),
                               Column("Subject", "Subject", HTCOLSORT_NONE, 40)};
  byCustomer[2].total = HTCOLTOTAL_TOTAL;
  byCustomer[2].justify = HTCOLJUSTIFY_RIGHT;
  HTVIEWSPEC customers{};
  customers.name = kByCustomer;
  customers.alias = "customers";
  customers.selection = "SELECT Form = \"Order\"";
  customers.flags = HTVIEWFLAG_FLAT | HTVIEWFLAG_ALTERNATE_ROWS;
  customers.backgroundColor = 1;
  customers.alternateColor = 17;
  customers.columnCount = std::size(byCustomer);
  customers.columns = byCustomer;
  HTID id = 0;
  HTSTATUS status = HTAPI.HTViewCreate(database.DbHandle, &customers, &id);
  Check(status == 0, status, "cannot create the view '" + std::string(kByCustomer) + "'");

  HTCOLUMNSPEC threads[] = {Column("Subject", "Subject", HTCOLSORT_ASCEND, 50),
                            Column("Customer", "Customer", HTCOLSORT_NONE, 20)};
  HTVIEWSPEC hierarchy{};
  hierarchy.name = kThreads;
  hierarchy.selection = "";
  hierarchy.columnCount = std::size(threads);
  hierarchy.columns = threads;
  status = HTAPI.HTViewCreate(database.DbHandle, &hierarchy, &id);
  Check(status == 0, status, "cannot create the view '" + std::string(kThreads) + "'");
}

void MakeFolder(TQuireDatabase& database, const std::vector<std::string>& unids) {
  auto folder = database.CreateFolderFromView(kFollowUp, kByCustomer, false);
  Check(folder != nullptr, database.LastError, "cannot create the folder '" + std::string(kFollowUp) + "'");
  for (size_t i = 0; i < unids.size(); i += 37) {
    auto doc = database.GetDocumentByUNID(unids[i]);
    if (doc) folder->AddDocument(doc->DocID);
  }
}

bool HasDocuments(TQuireDatabase& database) {
  auto all = database.AllDocuments();
  return all && all->GetCount() > 0;
}

// The depth of a view row: its position text "2.1.3" has one part per level.
int Depth(TQuireViewBase& view) {
  std::string position;
  view.GetViewPosition(position);
  return int(std::count(position.begin(), position.end(), '.'));
}

// A table as a reader sees it: one line per row, each column padded to its widest cell,
// numbers right-aligned.
struct Table {
  std::vector<std::string> titles;
  std::vector<bool> right;
  struct Row {
    std::string marker;  // "+ " category, "= " total, "  " document; after the indent
    int depth = 0;
    std::vector<std::string> cells;
  };
  std::vector<Row> rows;

  void Print(std::ostream& out) const {
    std::vector<size_t> widths(titles.size());
    for (size_t c = 0; c < titles.size(); ++c) widths[c] = titles[c].size();
    for (const Row& row : rows) {
      for (size_t c = 0; c < row.cells.size(); ++c) {
        const size_t lead = c == 0 ? size_t(2 * row.depth) + row.marker.size() : 0;
        widths[c] = std::max(widths[c], row.cells[c].size() + lead);
      }
    }
    const auto line = [&](const std::string& lead, const std::vector<std::string>& cells) {
      std::string text = "    ";
      for (size_t c = 0; c < cells.size(); ++c) {
        std::string cell = (c == 0 ? lead : std::string()) + cells[c];
        const std::string fill(widths[c] > cell.size() ? widths[c] - cell.size() : 0, ' ');
        text += (c ? "  " : "") + (right[c] ? fill + cell : cell + fill);
      }
      while (!text.empty() && text.back() == ' ') text.pop_back();
      out << text << "\n";
    };
    line("", titles);
    size_t total = 0;
    for (size_t width : widths) total += width + 2;
    out << "    " << std::string(total > 2 ? total - 2 : 0, '-') << "\n";
    for (const Row& row : rows) {
      if (row.marker == "...") {
        out << "    " << std::string(size_t(2 * row.depth), ' ') << "...\n";
        continue;
      }
      line(std::string(size_t(2 * row.depth), ' ') + row.marker, row.cells);
    }
  }
};

Table TableOf(TQuireViewBase& view) {
  Table table;
  for (int i = 0; i < view.ColumnCount; ++i) {
    std::string title;
    view.GetColumnTitles(i, title);
    table.titles.push_back(title);
    TQuireViewColumn* column = view.GetColumn(i);
    table.right.push_back(column && column->Justify == cjRight);
  }
  return table;
}

// Category rows show the category and its totals; document rows leave the category
// column to the category row above them, as a reader sees a categorised view.
void AddRow(Table& table, TQuireViewBase& view, bool categorised) {
  Table::Row row;
  row.depth = Depth(view);
  const bool category = view.NoteID == HTNOTEID_CATEGORY;
  const bool total = view.NoteID == HTNOTEID_TOTAL;
  row.marker = category ? "+ " : total ? "= " : "";
  for (int column = 1; column <= view.ColumnCount; ++column) {
    std::string text;
    if (!(categorised && column == 1 && !category)) view.GetCellText(column, text);
    if (total && column == 1 && text.empty()) text = "total";
    row.cells.push_back(text);
  }
  table.rows.push_back(row);
}

void Ellipsis(Table& table, int depth) {
  Table::Row row;
  row.marker = "...";
  row.depth = depth;
  table.rows.push_back(row);
}

void PrintThreads(TQuireDatabase& database, std::ostream& out) {
  auto view = database.GetView(kThreads);
  Check(view != nullptr, database.LastError, "cannot open the view '" + std::string(kThreads) + "'");
  out << "\nView '" << kThreads << "' (" << view->GetCount() << " rows; comments indented under their orders):\n";
  Table table = TableOf(*view);
  int shown = 0;
  for (view->MoveFirst(); view->LastError == 0 && shown < 6; view->MoveNext(), ++shown) AddRow(table, *view, false);
  Ellipsis(table, 0);
  table.Print(out);
}

void PrintFolder(TQuireDatabase& database, std::ostream& out) {
  auto folder = database.GetFolder(kFollowUp);
  Check(folder != nullptr, database.LastError, "cannot open the folder '" + std::string(kFollowUp) + "'");
  out << "\nFolder '" << kFollowUp << "' (" << folder->GetCount()
      << " orders filed by hand, in the columns of '" << kByCustomer << "'):\n";
  Table table = TableOf(*folder);
  int shown = 0;
  for (folder->MoveFirst(); folder->LastError == 0 && shown < 4; folder->MoveNext(), ++shown) {
    AddRow(table, *folder, true);
  }
  if (folder->GetCount() > shown) Ellipsis(table, 0);
  table.Print(out);
}

}  // namespace

std::unique_ptr<TQuireDatabase> OpenSampleDatabase(TQuireSession& session, bool& created) {
  const HTSTATUS status = HTAPI.HTDatabaseCreate("", kSamplePath, kSampleTitle, "", HTDBCLASS_DATABASE);
  Check(status == 0 || status == HTFAIL_DB_EXISTS, status, "cannot create the sample database");
  created = status == 0;
  auto database = session.GetDatabase("", kSamplePath);
  if (!database) {
    Check(false, session.LastError, "cannot open the sample database '" + std::string(kSamplePath) + "'");
  }
  return database;
}

void EnsureSampleACL(TQuireDatabase& database, const std::string& user) {
  auto acl = database.GetACL();
  Check(acl && acl->LastError == 0, acl ? acl->LastError : database.LastError,
        "cannot read the access control list of the sample database");
  EnsureRoles(*acl);
  for (const auto& sample : kSampleEntries) {
    if (acl->GetEntry(sample.name)) continue;
    TQuireACLEntry* entry = acl->CreateACLEntry(sample.name);
    entry->SetLevel(sample.level);
    for (const char* role : sample.roles) EnableRole(*entry, role);
    SaveEntry(*entry);
  }
  if (TQuireACLEntry* self = acl->GetEntry(user)) {
    EnableRole(*self, "[Admin]");
    SaveEntry(*self);
  }
}

std::unique_ptr<TQuireDatabase> EnsureSampleDatabase(TQuireSession& session, std::ostream& out) {
  bool created = false;
  auto database = OpenSampleDatabase(session, created);
  EnsureSampleACL(*database, session.GetUserName());
  EnsureSampleData(*database, out);
  return database;
}

void EnsureSampleData(TQuireDatabase& database, std::ostream& out) {
  if (HasDocuments(database)) return;
  std::vector<std::string> orders;
  for (int i = 0; i < kOrderCount; ++i) orders.push_back(MakeOrder(database, i));
  for (size_t i = 0; i < orders.size(); i += 9) MakeComment(database, orders[i], int(i));
  MakeViews(database);
  MakeFolder(database, orders);
  Check(database.CreateFTIndex(0), database.LastError, "cannot create the full-text index");
  out << "Added " << kOrderCount << " orders with comments, the views '" << kByCustomer << "' and '" << kThreads
      << "', the folder '" << kFollowUp << "' and a full-text index.\n";
}

void ShowSampleData(TQuireDatabase& database, std::ostream& out) {
  auto view = database.GetView(kByCustomer);
  Check(view != nullptr, database.LastError, "cannot open the view '" + std::string(kByCustomer) + "'");
  out << "View '" << kByCustomer << "' (" << view->GetCount()
      << " rows: a category per customer with its total; the first customers):\n";
  Table table = TableOf(*view);
  // The first three customers, each with its first few orders.
  constexpr int kRowsPerCategory = 4;
  int categories = 0;
  int rowsInCategory = 0;
  view->MoveFirst();
  while (view->LastError == 0) {
    if (view->IsCategory) {
      if (Depth(*view) == 0 && ++categories > 3) break;
      rowsInCategory = 0;
    }
    if (view->IsCategory || ++rowsInCategory <= kRowsPerCategory) AddRow(table, *view, true);
    else if (rowsInCategory == kRowsPerCategory + 1) Ellipsis(table, 1);
    view->MoveNext();
  }
  view->MoveLast();
  if (view->LastError == 0 && view->IsTotal) {
    Ellipsis(table, 0);
    AddRow(table, *view, true);
  }
  table.Print(out);
  PrintThreads(database, out);
  PrintFolder(database, out);

  view->SetKeyValue(1, "Cobalt Labs");
  out << "\nKey search for 'Cobalt Labs' in '" << kByCustomer << "': ";
  if (view->KeySearch(1, true)) {
    auto doc = view->GetCurrentDocument();
    if (!doc) doc = view->GetNextDocument();  // the match is the category row of its documents
    out << "found at row " << view->GetPosition() << "\n";
    if (doc) {
      if (auto* subject = doc->GetItemByName("Subject")) out << "  first order: " << subject->GetText() << "\n";
    }
  } else {
    out << "not found\n";
  }

  const char* query = "urgent AND delivery";
  auto found = database.FTSearch(query, 0);
  out << "\nFull-text search '" << query << "': ";
  if (!found) {
    out << "failed\n";
    return;
  }
  out << found->GetCount() << " documents\n";
  int shown = 0;
  for (auto doc = found->GetFirstDocument(); doc && shown < 3; doc = found->GetNextDocument(), ++shown) {
    if (auto* subject = doc->GetItemByName("Subject")) out << "  " << subject->GetText() << "\n";
    if (found->GetPosition() >= found->GetCount()) break;
  }
}

}  // namespace quiresample
