// bench_datactrl: walking a view through the data control against walking it through the view
// object, in one run.
//
//   bench_datactrl [COUNT] [--keep]
//
// In a fresh temporary data directory COUNT documents (default 100000) are written through the
// C API with delayed commit, and a flat view sorted by Customer selects them all. Then every
// row is walked, three times each, interleaved:
//   view        TQuireView::GetFirstDocument, then GetNextDocument until none (the baseline)
//   control     TQuireDataCtrl: OpenRecordset (its first move), then MoveNext until the end,
//               with OnMove, OnDBBusy and OnDBIdle unassigned
//   handlers    the same with OnMove, OnDBBusy and OnDBIdle assigned (empty callables), which
//               adds the universal ID and the nested position read of every announcement
// It prints the CPU time of each walk (median and range of the three), the control's ratio to
// the baseline and the target (control within 1.5x of the view). Exit status 0 when every walk
// saw every document.
#include <QtWidgets/QApplication>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/Quire01.h"
#include "components/QRData.h"
#include "objects/QRDbase.h"
#include "objects/QRView.h"

namespace {

constexpr double kTarget = 1.5;
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

long WalkView(TQuireDatabase& database) {
  auto view = database.GetView("Orders");
  if (!view) Fail("cannot open the view", database.LastError);
  long rows = 0;
  for (auto doc = view->GetFirstDocument(); doc; doc = view->GetNextDocument()) ++rows;
  return rows;
}

long WalkControl(const std::string& path, bool handlers) {
  TQuireDataCtrl control;
  control.SetDBName(QString::fromStdString(path));
  control.SetViewName("Orders");
  control.SetEOFBehaviour(eoEvents);
  long rows = 0;
  long announced = 0;
  if (handlers) {
    control.OnMove = [&](QObject*, int, const QString& unid, bool, bool, bool) { announced += !unid.isEmpty(); };
    control.OnDBBusy = [](QObject*) {};
    control.OnDBIdle = [](QObject*) {};
  }
  control.SetActive(true);
  if (!control.OpenDatabase() || !control.OpenRecordset()) Fail("the control cannot open the view");
  while (control.DocLoaded()) {
    ++rows;
    control.MoveNext();
  }
  if (handlers && announced != rows) Fail("the control announced " + std::to_string(announced) + " documents");
  return rows;
}

struct Figures {
  std::vector<double> times;
  double Median() const {
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
  }
  double Min() const { return *std::min_element(times.begin(), times.end()); }
  double Max() const { return *std::max_element(times.begin(), times.end()); }
};

void Measure(Figures& figures, long expected, const char* what, const std::function<long()>& walk) {
  const double start = CpuMillis();
  const long rows = walk();
  figures.times.push_back(CpuMillis() - start);
  if (rows != expected) Fail(std::string(what) + " walked " + std::to_string(rows) + " rows");
}

void Line(const char* what, const Figures& f, const Figures* baseline) {
  std::printf("  %-44s %9.1f ms CPU (%.1f .. %.1f)", what, f.Median(), f.Min(), f.Max());
  if (baseline) std::printf("  %5.2fx the view", f.Median() / baseline->Median());
  std::printf("\n");
}

int Run(long count, const std::string& dir) {
  setenv("QUIRE_DATA", dir.c_str(), 1);
  setenv("QUIRE_USER", "Bench User", 1);
  Initialize();
  if (!HTInitOK) Fail("the engine could not be started", HTGlobalErr);
  const std::string path = "datactrl.nsf";
  if (HTSTATUS s = HTAPI.HTDatabaseCreate("", path.c_str(), "Data control", "", HTDBCLASS_DATABASE)) Fail("create", s);
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
  WalkView(*database);  // warm the caches both walks share

  Figures view, control, handlers;
  for (int run = 0; run < kRuns; ++run) {
    Measure(view, count, "the view", [&] { return WalkView(*database); });
    Measure(control, count, "the control", [&] { return WalkControl(path, false); });
    Measure(handlers, count, "the control with handlers", [&] { return WalkControl(path, true); });
  }
  std::printf("walk every row (median and range of %d runs)\n", kRuns);
  Line("TQuireView::GetNextDocument", view, nullptr);
  Line("TQuireDataCtrl::MoveNext", control, &view);
  Line("TQuireDataCtrl::MoveNext, handlers assigned", handlers, &view);
  const double ratio = control.Median() / view.Median();
  std::printf("  per move: view %.2f us, control %.2f us, with handlers %.2f us\n", 1e3 * view.Median() / double(count),
              1e3 * control.Median() / double(count), 1e3 * handlers.Median() / double(count));
  std::printf("target: control within %.1fx of the view, handlers unassigned: %.2fx, %s\n", kTarget, ratio,
              ratio <= kTarget ? "met" : "MISSED");
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
      std::fprintf(stderr, "usage: bench_datactrl [COUNT] [--keep]\n");
      return 2;
    }
  }
  // The control is a widget and needs an application, never a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  std::string dir = (std::filesystem::temp_directory_path() / "quire-bench-datactrl-XXXXXX").string();
  if (!mkdtemp(dir.data())) {
    std::fprintf(stderr, "bench_datactrl: cannot make a temporary directory\n");
    return 1;
  }
  int status = 1;
  try {
    status = Run(count, dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_datactrl: %s\n", e.what());
  }
  if (!keep) {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  } else {
    std::printf("kept %s\n", dir.c_str());
  }
  return status;
}
