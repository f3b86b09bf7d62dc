// quire view / quire folder: create views from a JSON design, print a view or folder as a
// person reads it, search a view by key, make folders and change their members.
//
// Reading goes through the object model (TQuireView, TQuireFolder, TQuireDatabase); the API
// is called directly only where the object model has no operation: creating a view from a
// design, listing views and folders, and the number of key matches.
//
// A design file is a JSON object:
//   {"name": "By region", "alias": "region", "selection": "SELECT Form = \"Order\"",
//    "flat": false, "alternateRows": true, "collapsed": false, "default": false,
//    "background": 1, "alternate": 17,
//    "columns": [{"title": "Region", "item": "Region", "sort": "ascending",
//                 "categorized": true, "hidden": false, "width": 15, "justify": "left",
//                 "total": "sum", "responseOnly": false,
//                 "font": {"face": "swiss", "size": 10, "color": 0, "bold": true}},
//                {"title": "Twice", "formula": "Amount * 2"}]}
// Widths are in characters; "sort" is none, ascending or descending; "total" is none, sum,
// average (per document), child-average, view-percent or parent-percent; "face" is roman,
// swiss, typewriter or a face number.
#include <algorithm>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "binding/Quire01.h"
#include "objects/QRDbase.h"
#include "objects/QRFolder.h"
#include "objects/QRView.h"
#include "objects/Quiredoc.h"
#include "rtl/Errors.h"
#include "tools/quire/Cli.h"

namespace quirecli {

namespace {

constexpr char kViewUsage[] =
    "  quire view create PATH DESIGN.json\n"
    "  quire view list PATH [--json]\n"
    "  quire view show PATH NAME [--json]\n"
    "  quire view key PATH NAME KEY... [--partial] [--json]\n"
    "  quire view delete PATH NAME\n"
    "  (every view command also takes --server SERVER)\n";

constexpr char kFolderUsage[] =
    "  quire folder create PATH FOLDER --from VIEW [--private]\n"
    "  quire folder show PATH FOLDER [--json]\n"
    "  quire folder add PATH FOLDER UNID...\n"
    "  quire folder remove PATH FOLDER UNID...\n"
    "  quire folder delete PATH FOLDER\n"
    "  (every folder command also takes --server SERVER)\n";

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

// ---- designs ------------------------------------------------------------------------------

// Everything a spec points at, kept alive until HTViewCreate returns.
struct Design {
  std::string name, alias, selection;
  std::vector<std::string> titles, items, formulas;
  std::vector<HTCOLUMNSPEC> columns;
  HTVIEWSPEC spec{};
};

std::string Text(const Json& object, const char* key, const std::string& what) {
  if (!object.contains(key) || object[key].is_null()) return {};
  if (!object[key].is_string()) throw Failure(what + ": \"" + key + "\" must be a text");
  return object[key].get<std::string>();
}

bool Flag(const Json& object, const char* key, const std::string& what) {
  if (!object.contains(key)) return false;
  if (!object[key].is_boolean()) throw Failure(what + ": \"" + key + "\" must be true or false");
  return object[key].get<bool>();
}

int Number(const Json& object, const char* key, int fallback, const std::string& what) {
  if (!object.contains(key)) return fallback;
  if (!object[key].is_number_integer()) throw Failure(what + ": \"" + key + "\" must be a whole number");
  return object[key].get<int>();
}

int Choice(const Json& object, const char* key, std::initializer_list<std::pair<const char*, int>> choices,
           int fallback, const std::string& what) {
  const std::string value = Text(object, key, what);
  if (value.empty()) return fallback;
  for (const auto& [name, code] : choices)
    if (value == name) return code;
  std::string known;
  for (const auto& c : choices) known += std::string(known.empty() ? "" : ", ") + c.first;
  throw Failure(what + ": \"" + key + "\" is '" + value + "'; use one of " + known);
}

void ReadColumn(const Json& c, size_t number, Design& d) {
  const std::string what = "column " + std::to_string(number);
  if (!c.is_object()) throw Failure(what + " must be an object");
  d.titles.push_back(Text(c, "title", what));
  d.items.push_back(Text(c, "item", what));
  d.formulas.push_back(Text(c, "formula", what));
  HTCOLUMNSPEC s{};
  const int sort = Choice(c, "sort", {{"none", 0}, {"ascending", 1}, {"descending", 3}}, 0, what);
  if (Flag(c, "categorized", what)) s.sort = sort == 3 ? HTCOLSORT_CAT_DESCEND : HTCOLSORT_CAT_ASCEND;
  else s.sort = sort;
  s.total = Choice(c, "total",
                   {{"none", HTCOLTOTAL_NONE}, {"sum", HTCOLTOTAL_TOTAL}, {"average", HTCOLTOTAL_DOCUMENT_AVG},
                    {"child-average", HTCOLTOTAL_CHILD_AVG}, {"view-percent", HTCOLTOTAL_VIEW_PCT},
                    {"parent-percent", HTCOLTOTAL_PARENT_PCT}},
                   HTCOLTOTAL_NONE, what);
  if (Flag(c, "hidden", what)) s.flags |= HTCOLFLAG_HIDDEN;
  if (Flag(c, "responseOnly", what)) s.flags |= HTCOLFLAG_RESPONSE_ONLY;
  if (Flag(c, "icon", what)) s.flags |= HTCOLFLAG_ICON;
  if (Flag(c, "twistie", what)) s.flags |= HTCOLFLAG_TWISTIE;
  s.width = Number(c, "width", 10, what) * 8;
  s.justify = Choice(c, "justify", {{"left", HTCOLJUSTIFY_LEFT}, {"right", HTCOLJUSTIFY_RIGHT},
                                    {"center", HTCOLJUSTIFY_CENTER}},
                     HTCOLJUSTIFY_LEFT, what);
  s.fontFace = HTFONT_SWISS;
  if (c.contains("font")) {
    const Json& f = c["font"];
    const std::string fontWhat = what + " font";
    if (!f.is_object()) throw Failure(fontWhat + " must be an object");
    if (f.contains("face") && f["face"].is_number_integer()) s.fontFace = f["face"].get<int>();
    else s.fontFace = Choice(f, "face", {{"roman", HTFONT_ROMAN}, {"swiss", HTFONT_SWISS}, {"typewriter", HTFONT_TYPEWRITER}},
                             HTFONT_SWISS, fontWhat);
    s.fontSize = Number(f, "size", 10, fontWhat);
    s.fontColor = Number(f, "color", 0, fontWhat);
    if (Flag(f, "bold", fontWhat)) s.fontStyle |= HTFONTSTYLE_BOLD;
    if (Flag(f, "italic", fontWhat)) s.fontStyle |= HTFONTSTYLE_ITALIC;
    if (Flag(f, "underline", fontWhat)) s.fontStyle |= HTFONTSTYLE_UNDERLINE;
    if (Flag(f, "strikeout", fontWhat)) s.fontStyle |= HTFONTSTYLE_STRIKEOUT;
  }
  d.columns.push_back(s);
}

void ReadDesign(const std::string& file, Design& d) {
  std::ifstream in(file);
  if (!in) throw Failure("cannot read '" + file + "'");
  Json j;
  try {
    in >> j;
  } catch (const Json::exception& e) {
    throw Failure("'" + file + "' is not JSON: " + e.what());
  }
  if (!j.is_object()) throw Failure("'" + file + "' must hold a JSON object");
  const std::string what = "'" + file + "'";
  d.name = Text(j, "name", what);
  d.alias = Text(j, "alias", what);
  d.selection = Text(j, "selection", what);
  HTVIEWSPEC& s = d.spec;
  if (Flag(j, "flat", what)) s.flags |= HTVIEWFLAG_FLAT;
  if (Flag(j, "alternateRows", what)) s.flags |= HTVIEWFLAG_ALTERNATE_ROWS;
  if (Flag(j, "collapsed", what)) s.flags |= HTVIEWFLAG_COLLAPSED;
  if (Flag(j, "default", what)) s.flags |= HTVIEWFLAG_DEFAULT;
  s.backgroundColor = Number(j, "background", 1, what);
  s.alternateColor = Number(j, "alternate", s.backgroundColor, what);
  if (j.contains("columns")) {
    if (!j["columns"].is_array()) throw Failure(what + ": \"columns\" must be a list");
    for (const Json& c : j["columns"]) ReadColumn(c, d.columns.size() + 1, d);
  }
  for (size_t i = 0; i < d.columns.size(); ++i) {
    d.columns[i].title = d.titles[i].c_str();
    d.columns[i].itemName = d.items[i].c_str();
    d.columns[i].formula = d.formulas[i].c_str();
  }
  s.name = d.name.c_str();
  s.alias = d.alias.c_str();
  s.selection = d.selection.c_str();
  s.columnCount = HTUINT(d.columns.size());
  s.columns = d.columns.data();
}

// ---- printing --------------------------------------------------------------------------------

struct Layout {
  std::vector<int> shown;   // 0-based columns that are not hidden
  std::vector<size_t> widths;
  std::vector<bool> right;       // right-justified
  std::vector<bool> categories;  // categorised: blank on document rows, as on screen
};

Layout MakeLayout(TQuireViewBase& view) {
  Layout layout;
  for (int i = 0; i < view.ColumnCount; ++i) {
    TQuireViewColumn* column = view.GetColumn(i);
    if (!column || column->Hidden) continue;
    std::string title;
    view.GetColumnTitles(i, title);
    layout.shown.push_back(i);
    layout.widths.push_back(std::max<size_t>({title.size(), size_t(std::max(column->ColumnRecord.width / 8, 4))}));
    layout.right.push_back(column->Justify == cjRight);
    layout.categories.push_back(column->Category);
  }
  return layout;
}

std::string Pad(const std::string& text, size_t width, bool right = false) {
  if (text.size() >= width) return text;
  const std::string fill(width - text.size(), ' ');
  return right ? fill + text : text + fill;
}

void PrintHeader(Context& context, TQuireViewBase& view, const Layout& layout) {
  std::string line;
  for (size_t k = 0; k < layout.shown.size(); ++k) {
    std::string title;
    view.GetColumnTitles(layout.shown[k], title);
    line += (k ? "  " : "") + Pad(title, layout.widths[k], layout.right[k]);
  }
  context.out << line << "\n" << std::string(line.size(), '-') << "\n";
}

// The current row: indented by its depth (the parts of its position text), the category or
// total label where the row is not a document.
void PrintRow(Context& context, TQuireViewBase& view, const Layout& layout) {
  std::string position;
  view.GetViewPosition(position);
  const size_t depth = size_t(std::count(position.begin(), position.end(), '.'));
  const bool document = !(view.NoteID & 0x80000000u);
  std::string line(depth * 2, ' ');
  for (size_t k = 0; k < layout.shown.size(); ++k) {
    std::string cell;
    if (!(document && layout.categories[k])) view.GetCellText(layout.shown[k] + 1, cell);
    if (k == 0 && view.NoteID == HTNOTEID_TOTAL && cell.empty()) cell = "Total";
    const size_t width = k == 0 && layout.widths[k] > depth * 2 ? layout.widths[k] - depth * 2 : layout.widths[k];
    line += (k ? "  " : "") + Pad(cell, width, layout.right[k]);
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  context.out << line << "\n";
}

// The current row as JSON: position, kind, UNID of a document, and the shown cells.
OrderedJson RowJson(TQuireViewBase& view, const Layout& layout) {
  std::string position;
  view.GetViewPosition(position);
  const bool document = !(view.NoteID & 0x80000000u);
  OrderedJson row{{"position", position},
                  {"kind", document ? "document" : view.NoteID == HTNOTEID_TOTAL ? "total" : "category"}};
  if (document) {
    UNID unid{};
    HTDOCHANDLE handle = 0;
    if (HTAPI.HTDocumentOpen(view.DatabaseHandle, view.NoteID, 0, &handle) == 0) {
      if (HTAPI.HTDocumentGetProperty(handle, HTDOCUMENT_UNID, &unid) == 0) row["unid"] = UNIDToStr(unid);
      HTAPI.HTDocumentClose(handle, 0);
    }
  }
  OrderedJson cells = OrderedJson::array();
  for (size_t k = 0; k < layout.shown.size(); ++k) {
    std::string cell;
    if (!(document && layout.categories[k])) view.GetCellText(layout.shown[k] + 1, cell);
    cells.push_back(cell);
  }
  row["cells"] = cells;
  return row;
}

OrderedJson ColumnsJson(TQuireViewBase& view, const Layout& layout) {
  OrderedJson titles = OrderedJson::array();
  for (int column : layout.shown) {
    std::string title;
    view.GetColumnTitles(column, title);
    titles.push_back(title);
  }
  return titles;
}

void PrintJson(Context& context, const OrderedJson& json) {
  context.out << json.dump(2, ' ', false, OrderedJson::error_handler_t::replace) << "\n";
}

void PrintAllJson(Context& context, TQuireViewBase& view) {
  const Layout layout = MakeLayout(view);
  OrderedJson rows = OrderedJson::array();
  view.MoveTo(0);
  for (view.MoveNext(); view.LastError == 0; view.MoveNext()) rows.push_back(RowJson(view, layout));
  if (view.LastError != HTFAIL_END_OF_LIST) Check(view.LastError, "cannot walk the rows");
  PrintJson(context, OrderedJson{{"columns", ColumnsJson(view, layout)}, {"rows", rows}});
}

void PrintAll(Context& context, TQuireViewBase& view) {
  const Layout layout = MakeLayout(view);
  PrintHeader(context, view, layout);
  view.MoveTo(0);
  int rows = 0;
  for (view.MoveNext(); view.LastError == 0; view.MoveNext()) {
    PrintRow(context, view, layout);
    ++rows;
  }
  if (view.LastError != HTFAIL_END_OF_LIST) Check(view.LastError, "cannot walk the rows");
  context.out << "(" << rows << " rows)\n";
}

std::unique_ptr<TQuireView> OpenView(TQuireDatabase& database, const std::string& name) {
  auto view = database.GetView(name);
  if (!view) throw Failure("cannot open view '" + name + "': " + DescribeError(database.LastError));
  return view;
}

std::unique_ptr<TQuireFolder> OpenFolder(TQuireDatabase& database, const std::string& name) {
  auto folder = database.GetFolder(name);
  if (!folder) throw Failure("cannot open folder '" + name + "': " + DescribeError(database.LastError));
  return folder;
}

// ---- view commands -----------------------------------------------------------------------------

int ViewCreate(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string file = arguments.Next("DESIGN.json");
  arguments.ExpectEnd();
  Design design;
  ReadDesign(file, design);
  auto database = OpenDatabase(context, server, path);
  ProgressLine progress;  // the engine builds the new view's index before it returns
  HTID id = 0;
  Check(HTAPI.HTViewCreate(database->DbHandle, &design.spec, &id), "cannot create view '" + design.name + "'");
  context.out << "created view " << design.name << " (" << design.columns.size() << " columns)\n";
  return kExitOk;
}

int ViewList(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool json = TakeJson(arguments);
  const std::string path = arguments.Next("PATH");
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  OrderedJson designs = OrderedJson::array();
  for (auto [kind, list] : {std::pair{"view  ", HTAPI.HTViewList}, std::pair{"folder", HTAPI.HTFolderList}}) {
    HTLISTREC record{};
    for (HTINT mode = HTLIST_FIRST; list(database->DbHandle, mode, &record) == 0; mode = HTLIST_NEXT) {
      if (json) {
        designs.push_back(OrderedJson{{"kind", kind[0] == 'v' ? "view" : "folder"},
                                      {"name", record.name},
                                      {"alias", record.secondName},
                                      {"private", (record.flags & HTVIEWFLAG_PRIVATE) != 0}});
        continue;
      }
      context.out << kind << " " << record.name;
      if (record.secondName[0]) context.out << " (" << record.secondName << ")";
      if (record.flags & HTVIEWFLAG_PRIVATE) context.out << " [private]";
      context.out << "\n";
    }
  }
  if (json) PrintJson(context, designs);
  return kExitOk;
}

int ViewShow(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool json = TakeJson(arguments);
  const std::string path = arguments.Next("PATH");
  const std::string name = arguments.Next("NAME");
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  ProgressLine progress;
  auto view = OpenView(*database, name);
  if (json) PrintAllJson(context, *view);
  else PrintAll(context, *view);
  return kExitOk;
}

// Deletes the design `name` of the kind `locate` finds; Failure naming `kind` when absent.
int DeleteDesign(Context& context, Arguments& arguments, const char* kind, HT_HTViewLocateByName_fn locate,
                 HT_HTViewDelete_fn remove) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string name = arguments.Next("NAME");
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  const HTID id = locate(database->DbHandle, name.c_str());
  if (id == 0) throw Failure(std::string("no ") + kind + " '" + name + "' in '" + path + "'");
  Check(remove(database->DbHandle, id), std::string("cannot delete ") + kind + " '" + name + "'");
  context.out << "deleted " << kind << " " << name << "\n";
  return kExitOk;
}

int ViewDelete(Context& context, Arguments& arguments) {
  return DeleteDesign(context, arguments, "view", HTAPI.HTViewLocateByName, HTAPI.HTViewDelete);
}

int ViewKey(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool json = TakeJson(arguments);
  const bool partial = arguments.TakeFlag("--partial");
  const std::string path = arguments.Next("PATH");
  const std::string name = arguments.Next("NAME");
  std::vector<std::string> keys{arguments.Next("KEY")};
  while (!arguments.Empty()) keys.push_back(arguments.Next("KEY"));
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  auto view = OpenView(*database, name);
  if (int(keys.size()) > view->KeyCount)
    throw Failure("view '" + name + "' has " + std::to_string(view->KeyCount) + " sort keys; " +
                  std::to_string(keys.size()) + " were given");
  for (size_t k = 0; k < keys.size(); ++k) view->SetKeyValue(int(k) + 1, keys[k]);
  if (!view->KeySearch(int(keys.size()), !partial)) {
    if (view->LastError == HTFAIL_NOT_FOUND) {
      if (json) PrintJson(context, OrderedJson{{"matches", 0}, {"rows", OrderedJson::array()}});
      else context.out << "no match\n";
      return kExitFailure;
    }
    Check(view->LastError, "cannot search view '" + name + "'");
  }
  // The object model positions on the first match; the number of matches comes from the
  // API, and the matches are the main documents that follow in view order.
  HTUINT matched = 0;
  HTAPI.HTIndexKeySearch(view->IndexHandle, HTUINT(keys.size()), view->KeyDescriptors, partial ? 3 : 0, &matched);
  const Layout layout = MakeLayout(*view);
  if (!json) PrintHeader(context, *view, layout);
  view->GetCurrentDocument();
  OrderedJson rows = OrderedJson::array();
  for (HTUINT n = 0; n < std::max<HTUINT>(matched, 1); ++n) {
    if (n) {
      view->MoveNextMain();
      if (view->LastError) break;
    }
    if (json) rows.push_back(RowJson(*view, layout));
    else PrintRow(context, *view, layout);
  }
  if (json) {
    PrintJson(context, OrderedJson{{"matches", matched}, {"columns", ColumnsJson(*view, layout)}, {"rows", rows}});
    return kExitOk;
  }
  context.out << "(" << matched << (matched == 1 ? " match" : " matches") << ")\n";
  return kExitOk;
}

int RunView(Context& context, Arguments& arguments) {
  return Dispatch(context, arguments,
                  {{"create", ViewCreate}, {"list", ViewList}, {"show", ViewShow}, {"key", ViewKey}, {"delete", ViewDelete}});
}

// ---- folder commands ---------------------------------------------------------------------------

int FolderCreate(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const std::string from = arguments.TakeOption("--from");
  const bool isPrivate = arguments.TakeFlag("--private");
  const std::string path = arguments.Next("PATH");
  const std::string name = arguments.Next("FOLDER");
  arguments.ExpectEnd();
  if (from.empty()) throw UsageError("folder create needs --from VIEW");
  auto database = OpenDatabase(context, server, path);
  auto folder = database->CreateFolderFromView(name, from, isPrivate);
  if (!folder) throw Failure("cannot create folder '" + name + "': " + DescribeError(database->LastError));
  context.out << "created " << (isPrivate ? "private " : "") << "folder " << name << " from " << from << "\n";
  return kExitOk;
}

int FolderShow(Context& context, Arguments& arguments) {
  const std::string server = arguments.TakeOption("--server");
  const bool json = TakeJson(arguments);
  const std::string path = arguments.Next("PATH");
  const std::string name = arguments.Next("FOLDER");
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  ProgressLine progress;
  auto folder = OpenFolder(*database, name);
  if (json) PrintAllJson(context, *folder);
  else PrintAll(context, *folder);
  return kExitOk;
}

int FolderDelete(Context& context, Arguments& arguments) {
  return DeleteDesign(context, arguments, "folder", HTAPI.HTFolderLocateByName, HTAPI.HTFolderDelete);
}

int ChangeMembers(Context& context, Arguments& arguments, bool add) {
  const std::string server = arguments.TakeOption("--server");
  const std::string path = arguments.Next("PATH");
  const std::string name = arguments.Next("FOLDER");
  std::vector<std::string> unids{arguments.Next("UNID")};
  while (!arguments.Empty()) unids.push_back(arguments.Next("UNID"));
  arguments.ExpectEnd();
  auto database = OpenDatabase(context, server, path);
  auto folder = OpenFolder(*database, name);
  for (const std::string& unid : unids) {
    std::unique_ptr<TQuireDocument> doc;
    try {
      doc = database->GetDocumentByUNID(unid);
    } catch (const rtl::EConvertError&) {
      throw Failure("'" + unid + "' is not a UNID (32 hexadecimal digits)");
    }
    if (!doc) throw Failure("no document with UNID " + unid);
    if (add) folder->AddDocument(doc->DocID);
    else folder->RemoveDocument(doc->DocID);
    Check(folder->LastError, std::string("cannot ") + (add ? "add " : "remove ") + unid);
    context.out << (add ? "added " : "removed ") << unid << "\n";
  }
  return kExitOk;
}

int FolderAdd(Context& context, Arguments& arguments) { return ChangeMembers(context, arguments, true); }
int FolderRemove(Context& context, Arguments& arguments) { return ChangeMembers(context, arguments, false); }

int RunFolder(Context& context, Arguments& arguments) {
  return Dispatch(context, arguments,
                  {{"create", FolderCreate},
                   {"show", FolderShow},
                   {"add", FolderAdd},
                   {"remove", FolderRemove},
                   {"delete", FolderDelete}});
}

}  // namespace

QUIRE_COMMAND_GROUP(view, "view", "create, list, show, search and delete views", kViewUsage, RunView);
QUIRE_COMMAND_GROUP(folder, "folder", "create, show, change and delete folders", kFolderUsage, RunFolder);

}  // namespace quirecli
