// bench_explorer: the explorer opening a large view and scrolling it end to end, against the
// view object reading the same rows, in one run.
//
//   bench_explorer [COUNT] [--keep]
//
// In a fresh temporary data directory COUNT documents (default 100000) are written through the
// C API with delayed commit, and a flat view sorted by Customer selects them all. Then, three
// times each, interleaved:
//   view        TQuireView: MoveFirst, then every row's cells, position and MoveNext until the
//               end (the baseline: what the explorer reads, without a model or a widget)
//   first paint Explorer::Open of the database until its window has painted the first rows
//   to the end  the tree's scroll bar pulled to its end until every row has been read and the
//               last one painted
// It prints CPU and wall time of each (median and range of the three) and the explorer's
// ratios to the baseline. Exit status 0 when every walk saw every document.
#include <QtWidgets/QApplication>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QTreeView>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/Quire01.h"
#include "objects/QRDbase.h"
#include "objects/QRView.h"
#include "tools/explorer/Explorer.h"
#include "tools/explorer/RowModel.h"

namespace {

constexpr int kRuns = 3;

[[noreturn]] void Fail(const std::string& what, uint32_t code = 0) {
  std::string message = what;
  if (code != 0) message += ": " + GetNotesErrorText(code);
  throw std::runtime_error(message);
}

double CpuMillis() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double WallMillis() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Populate(long count, HTDBHANDLE database) {
  uint32_t on = 1, off = 0;
  if (HTSTATUS s = HTAPI.HTDatabaseSetProperty(database, HTDATABASE_DELAY_COMMIT, &on)) Fail("delay commit", s);
  for (long i = 0; i < count; ++i) {
    const std::string customer = "Customer " + std::to_string((uint64_t(i) * 2654435761u) % 20000);
    const double amount = double((i * 31) % 1000);
    HTDOCHANDLE doc = 0;
    if (HTSTATUS s = HTAPI.HTDocumentCreate(database, 0, &doc)) Fail("HTDocumentCreate", s);
    HTSTATUS s = HTAPI.HTItemPut(doc, "Form", HTTYPE_TEXT, 0, HTTYPE_TEXT, "Order", 0);
    if (!s) s = HTAPI.HTItemPut(doc, "Customer", HTTYPE_TEXT, 0, HTTYPE_TEXT, customer.c_str(), 0);
    if (!s) s = HTAPI.HTItemPut(doc, "Amount", HTTYPE_NUMBER, sizeof amount, HTTYPE_NUMBER, &amount, 0);
    if (!s) s = HTAPI.HTDocumentSave(doc, 0);
    HTAPI.HTDocumentClose(doc, 0);
    if (s) Fail("writing document " + std::to_string(i), s);
  }
  if (HTSTATUS s = HTAPI.HTDatabaseSetProperty(database, HTDATABASE_DELAY_COMMIT, &off)) Fail("delay commit off", s);
}

void CreateView(HTDBHANDLE database) {
  HTCOLUMNSPEC columns[2] = {};
  columns[0] = {"Customer", "Customer", "", HTCOLSORT_ASCEND, HTCOLTOTAL_NONE, 0, 160, 0, 1, 0, 0, 10};
  columns[1] = {"Amount", "Amount", "", HTCOLSORT_NONE, HTCOLTOTAL_NONE, 0, 80, 1, 1, 0, 0, 10};
  HTVIEWSPEC spec{};
  spec.name = "Orders";
  spec.selection = "SELECT Form = \"Order\"";
  spec.flags = HTVIEWFLAG_FLAT;
  spec.backgroundColor = 1;
  spec.alternateColor = 1;
  spec.columnCount = 2;
  spec.columns = columns;
  HTID id = 0;
  if (HTSTATUS s = HTAPI.HTViewCreate(database, &spec, &id)) Fail("HTViewCreate", s);
}

// What the explorer's model reads of every row, read straight from the view object.
long WalkView(TQuireDatabase& database) {
  auto view = database.GetView("Orders");
  if (!view) Fail("cannot open the view", database.LastError);
  long rows = 0;
  std::string text;
  for (view->MoveFirst(); view->LastError == 0; view->MoveNext()) {
    for (int column = 1; column <= view->ColumnCount; ++column) view->GetCellText(column, text);
    view->GetViewPosition(text);
    view->GetPosition();
    ++rows;
  }
  return rows;
}

struct Figures {
  std::vector<double> cpu;
  std::vector<double> wall;
  static double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
  void Print(const char* what, const Figures* baseline) const {
    std::printf("  %-30s %9.1f ms CPU (%.1f .. %.1f)  %9.1f ms wall (%.1f .. %.1f)", what, Median(cpu),
                *std::min_element(cpu.begin(), cpu.end()), *std::max_element(cpu.begin(), cpu.end()), Median(wall),
                *std::min_element(wall.begin(), wall.end()), *std::max_element(wall.begin(), wall.end()));
    if (baseline) std::printf("  %6.3fx the view (CPU)", Median(cpu) / Median(baseline->cpu));
    std::printf("\n");
  }
};

// Runs `work` and adds its CPU and wall time to `figures`.
void Time(Figures& figures, const std::function<void()>& work) {
  const double cpu = CpuMillis();
  const double wall = WallMillis();
  work();
  figures.cpu.push_back(CpuMillis() - cpu);
  figures.wall.push_back(WallMillis() - wall);
}

void Paint(QTreeView& tree) {
  QApplication::processEvents();
  tree.viewport()->repaint();
}

int Run(long count, const std::string& dir) {
  setenv("QUIRE_DATA", dir.c_str(), 1);
  setenv("QUIRE_USER", "Bench User", 1);
  setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
  Initialize();
  if (!HTInitOK) Fail("the engine could not be started", HTGlobalErr);
  const std::string path = "explorer.nsf";
  if (HTSTATUS s = HTAPI.HTDatabaseCreate("", path.c_str(), "Explorer", "", HTDBCLASS_DATABASE)) Fail("create", s);
  {
    HTDBHANDLE database = 0;
    if (HTSTATUS s = HTAPI.HTDatabaseOpen("", path.c_str(), 0, &database)) Fail("open", s);
    std::printf("%ld documents in %s\n", count, dir.c_str());
    Populate(count, database);
    CreateView(database);
    HTAPI.HTDatabaseClose(database, 0);
  }
  TQuireSession session;
  auto database = session.GetDatabase("", path);
  if (!database) Fail("cannot open the database", session.LastError);
  WalkView(*database);  // warm the caches every walk shares

  Figures view, firstPaint, toTheEnd;
  for (int run = 0; run < kRuns; ++run) {
    long rows = 0;
    Time(view, [&] { rows = WalkView(*database); });
    if (rows != count) Fail("the view walked " + std::to_string(rows) + " rows");

    Explorer explorer;
    if (!explorer.Ok()) Fail("the explorer's form: " + explorer.FormError().toStdString());
    explorer.SetShowErrorBoxes(false);
    explorer.Window()->resize(1180, 720);
    explorer.Window()->show();
    QApplication::processEvents();
    QTreeView& tree = *explorer.Tree();
    RowModel& model = *explorer.Model();
    Time(firstPaint, [&] {
      if (!explorer.Open(QString::fromStdString(path))) Fail("the explorer cannot open the database");
      Paint(tree);
    });
    if (model.rowCount() == 0 || model.RowsRead() >= count) Fail("the first paint read " + std::to_string(model.RowsRead()));
    Time(toTheEnd, [&] {
      QScrollBar& bar = *tree.verticalScrollBar();
      while (model.canFetchMore(QModelIndex()) || bar.value() < bar.maximum()) {
        bar.setValue(bar.maximum());
        if (model.canFetchMore(QModelIndex())) tree.scrollToBottom();
        Paint(tree);
      }
    });
    if (model.rowCount() != count) Fail("the explorer showed " + std::to_string(model.rowCount()) + " rows");
  }
  std::printf("open a %ld-document view and scroll it end to end (median and range of %d runs)\n", count, kRuns);
  view.Print("view object, every row", nullptr);
  firstPaint.Print("explorer, open to first paint", &view);
  toTheEnd.Print("explorer, scroll to the end", &view);
  std::printf("  per row scrolled: view %.2f us, explorer %.2f us CPU\n", 1e3 * Figures::Median(view.cpu) / double(count),
              1e3 * Figures::Median(toTheEnd.cpu) / double(count));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  long count = 100000;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--keep") keep = true;
    else if (!word.empty() && word[0] != '-') count = std::max(1L, std::atol(word.c_str()));
    else {
      std::fprintf(stderr, "usage: bench_explorer [COUNT] [--keep]\n");
      return 2;
    }
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  std::string dir = (std::filesystem::temp_directory_path() / "quire-bench-explorer-XXXXXX").string();
  if (!mkdtemp(dir.data())) {
    std::fprintf(stderr, "bench_explorer: cannot make a temporary directory\n");
    return 1;
  }
  int status = 0;
  try {
    status = Run(count, dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_explorer: %s\n", e.what());
    status = 1;
  }
  if (!keep) std::filesystem::remove_all(dir);
  return status;
}
