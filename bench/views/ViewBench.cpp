// bench_views: a categorised, sorted view of many documents, against plain SQLite doing the
// same ordered work over an equivalent indexed table, in one run.
//
//   bench_views [COUNT] [--keep]
//
// In a fresh temporary data directory, COUNT documents (default 100000) are written through
// the C API: Region (one of 50), Customer (one of 20000) and Amount (0 to 999). The same rows
// go into a separate SQLite file as docs(id, region, customer, amount). Then:
//   build    HTViewCreate of "By region" (Region categorised, Customer ascending, Amount
//            descending with a total): the index built from nothing, against SQLite's
//            CREATE INDEX on (region, customer, amount DESC) over the table
//   open     an index bound to the built view (HTIndexOpen + HTIndexOpenViewFolder + the
//            first move), and TQuireView's constructor, each with nothing cached
//   walk     every row: raw C API navigation (all rows; documents only; all rows reading
//            three cells), TQuireView::MoveNext, TQuireView::GetNextDocument (documents
//            made), against SELECT ... ORDER BY region, customer, amount DESC stepping
//            through every row and reading its three columns; median of three runs
//   key      HTIndexKeySearch with Region and Customer, median of 1000 different keys;
//            the same through TQuireView::KeySearch, the two taking turns at going first
//            so neither gets the other's warm cache; SQLite's equivalent point query
//   memory   peak resident size (getrusage)
// Every step is timed in processor time and in wall-clock time; ratios and targets are judged
// on processor time, which other programs on the machine disturb least. The targets: the
// build within 2x of SQLite's CREATE INDEX, the walk reading three cells within 1.5x of the
// SQLite scan reading three columns, TQuireView::GetNextDocument at 100,000 documents per
// second or more, the view opened in under 100 ms, peak memory under 100 MB up to 100,000
// documents and under 300 MB beyond. Exit status 0 when every step ran and the counts agreed.
#include <sqlite3.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/Quire01.h"
#include "objects/QRDbase.h"
#include "objects/QRView.h"

namespace {

constexpr double kWalkTarget = 1.5;
constexpr double kBuildTarget = 2.0;
constexpr double kDocumentRateTarget = 100000.0;
constexpr double kOpenTargetMs = 100.0;
constexpr double kMemoryTargetSmallMb = 100.0;  // up to kSmallCount documents
constexpr double kMemoryTargetMb = 300.0;
constexpr long kSmallCount = 100000;
constexpr int kRegions = 50;
constexpr int kCustomers = 20000;
constexpr int kKeySearches = 1000;

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what, uint32_t code = 0) {
  std::string message = what;
  if (code != 0) message += ": " + GetNotesErrorText(code);
  throw std::runtime_error(message);
}

double Millis(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double CpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

// Processor and wall-clock milliseconds of one piece of work.
struct Span {
  double cpu = 0;
  double wall = 0;
};

Span Time(const std::function<void()>& work) {
  const auto start = Clock::now();
  const double cpuStart = CpuMs();
  work();
  return {CpuMs() - cpuStart, Millis(start)};
}

std::string RegionOf(long i) { return "Region " + std::to_string((i * 7919) % kRegions); }
std::string CustomerOf(long i) {
  const uint64_t x = uint64_t(i) * 2654435761u + 977;
  return "Customer " + std::to_string((x >> 7) % kCustomers);
}
double AmountOf(long i) { return double((i * 31) % 1000); }

void Sql(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "?";
    sqlite3_free(error);
    Fail(std::string("SQLite: ") + message);
  }
}

void Populate(long count, HTDBHANDLE database, sqlite3* baseline) {
  Sql(baseline, "CREATE TABLE docs(id INTEGER PRIMARY KEY, region TEXT NOT NULL, customer TEXT NOT NULL, amount REAL)");
  Sql(baseline, "BEGIN");
  // Writing the data is not measured: group its saves (turned off again below, which commits).
  uint32_t on = 1, off = 0;
  if (HTSTATUS s = HTAPI.HTDatabaseSetProperty(database, HTDATABASE_DELAY_COMMIT, &on)) Fail("delay commit", s);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(baseline, "INSERT INTO docs(id, region, customer, amount) VALUES(?1, ?2, ?3, ?4)", -1, &insert,
                     nullptr);
  for (long i = 0; i < count; ++i) {
    const std::string region = RegionOf(i), customer = CustomerOf(i);
    const double amount = AmountOf(i);
    HTDOCHANDLE doc = 0;
    if (HTSTATUS s = HTAPI.HTDocumentCreate(database, 0, &doc)) Fail("HTDocumentCreate", s);
    HTSTATUS s = HTAPI.HTItemPut(doc, "Form", HTTYPE_TEXT, 0, HTTYPE_TEXT, "Order", 0);
    if (!s) s = HTAPI.HTItemPut(doc, "Region", HTTYPE_TEXT, 0, HTTYPE_TEXT, region.c_str(), 0);
    if (!s) s = HTAPI.HTItemPut(doc, "Customer", HTTYPE_TEXT, 0, HTTYPE_TEXT, customer.c_str(), 0);
    if (!s) s = HTAPI.HTItemPut(doc, "Amount", HTTYPE_NUMBER, sizeof amount, HTTYPE_NUMBER, &amount, 0);
    if (!s) s = HTAPI.HTDocumentSave(doc, 0);
    HTAPI.HTDocumentClose(doc, 0);
    if (s) Fail("writing document " + std::to_string(i), s);
    sqlite3_reset(insert);
    sqlite3_bind_int64(insert, 1, i + 1);
    sqlite3_bind_text(insert, 2, region.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, customer.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_double(insert, 4, amount);
    if (sqlite3_step(insert) != SQLITE_DONE) Fail("baseline insert");
  }
  sqlite3_finalize(insert);
  Sql(baseline, "COMMIT");
  if (HTSTATUS s = HTAPI.HTDatabaseSetProperty(database, HTDATABASE_DELAY_COMMIT, &off)) Fail("delay commit off", s);
}

HTID CreateView(HTDBHANDLE database) {
  HTCOLUMNSPEC columns[3] = {};
  columns[0] = {"Region", "Region", "", HTCOLSORT_CAT_ASCEND, HTCOLTOTAL_NONE, 0, 120, 0, 1, 0, 0, 10};
  columns[1] = {"Customer", "Customer", "", HTCOLSORT_ASCEND, HTCOLTOTAL_NONE, 0, 160, 0, 1, 0, 0, 10};
  columns[2] = {"Amount", "Amount", "", HTCOLSORT_DESCEND, HTCOLTOTAL_TOTAL, 0, 80, 1, 1, 0, 0, 10};
  HTVIEWSPEC spec{};
  spec.name = "By region";
  spec.selection = "SELECT Form = \"Order\"";
  spec.backgroundColor = 1;
  spec.alternateColor = 1;
  spec.columnCount = 3;
  spec.columns = columns;
  HTID id = 0;
  if (HTSTATUS s = HTAPI.HTViewCreate(database, &spec, &id)) Fail("HTViewCreate", s);
  return id;
}

HTINDEXHANDLE OpenIndex(HTDBHANDLE database, HTID view) {
  HTINDEXHANDLE index = 0;
  if (HTSTATUS s = HTAPI.HTIndexOpen(database, &index)) Fail("HTIndexOpen", s);
  if (HTSTATUS s = HTAPI.HTIndexOpenViewFolder(index, 0, view, 0)) Fail("HTIndexOpenViewFolder", s);
  HTID note = 0;
  HTUINT entry = 0;
  HTAPI.HTIndexNavigate(index, HTNAV_NEXT, 12, &note, &entry);
  return index;
}

long RawWalk(HTINDEXHANDLE index, HTUINT flags, bool cells) {
  HTAPI.HTIndexSetPosition(index, 0);
  long rows = 0;
  HTID note = 0;
  HTUINT entry = 0;
  char buffer[256];
  while (HTAPI.HTIndexNavigate(index, HTNAV_NEXT, flags, &note, &entry) == 0) {
    ++rows;
    for (HTUINT c = 1; cells && c <= 3; ++c) {
      HTINT type = HTTYPE_TEXT;
      HTUINT length = 255;
      if (HTSTATUS s = HTAPI.HTViewcellFetch(index, c, &type, &length, buffer)) Fail("HTViewcellFetch", s);
    }
  }
  return rows;
}

long SqlScan(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  const char* sql =
      "SELECT id, region, customer, amount FROM docs ORDER BY region COLLATE NOCASE, customer COLLATE NOCASE, "
      "amount DESC";
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) Fail(std::string("SQLite: ") + sqlite3_errmsg(db));
  long rows = 0;
  size_t bytes = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    ++rows;
    bytes += size_t(sqlite3_column_bytes(st, 1)) + size_t(sqlite3_column_bytes(st, 2));
    bytes += sqlite3_column_double(st, 3) > 0;
  }
  sqlite3_finalize(st);
  return bytes ? rows : 0;
}

struct Walk {
  double cpu = 0;  // medians
  double wall = 0;
  double cpuLow = 0;  // range of the processor times
  double cpuHigh = 0;
  long rows = 0;
};

// Three runs of `body`, which returns the rows it met.
Walk Measure(const std::function<long()>& body) {
  std::vector<double> cpu, wall;
  Walk w;
  for (int k = 0; k < 3; ++k) {
    const Span span = Time([&] { w.rows = body(); });
    cpu.push_back(span.cpu);
    wall.push_back(span.wall);
  }
  std::sort(cpu.begin(), cpu.end());
  std::sort(wall.begin(), wall.end());
  w.cpu = cpu[1];
  w.wall = wall[1];
  w.cpuLow = cpu.front();
  w.cpuHigh = cpu.back();
  return w;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Line(const char* label, const Span& t, long count = -1, double baseline = 0) {
  std::printf("  %-44s %10.2f cpu ms %10.2f wall ms", label, t.cpu, t.wall);
  if (count >= 0) std::printf("  %8ld rows", count);
  if (baseline > 0) std::printf("  %6.2fx SQLite", t.cpu / baseline);
  std::printf("\n");
}

void Line(const char* label, const Walk& w, double baseline = 0) {
  std::printf("  %-44s %10.2f cpu ms [%.2f-%.2f] %10.2f wall ms  %8ld rows", label, w.cpu, w.cpuLow, w.cpuHigh,
              w.wall, w.rows);
  if (baseline > 0) std::printf("  %6.2fx SQLite", w.cpu / baseline);
  std::printf("\n");
}

void Target(const char* what, double value, double target, const char* unit) {
  std::printf("  %-44s %10.2f%s (target <= %.1f%s: %s)\n", what, value, unit, target, unit,
              value <= target ? "met" : "MISSED");
}

void TargetAtLeast(const char* what, double value, double target, const char* unit) {
  std::printf("  %-44s %10.0f%s (target >= %.0f%s: %s)\n", what, value, unit, target, unit,
              value >= target ? "met" : "MISSED");
}

int Run(long count, const std::string& dir) {
  setenv("QUIRE_DATA", dir.c_str(), 1);
  setenv("QUIRE_USER", "Bench User", 1);
  Initialize();
  if (!HTInitOK) Fail("the engine could not be started", HTGlobalErr);
  if (HTSTATUS s = HTAPI.HTDatabaseCreate("", "views.nsf", "Views", "", HTDBCLASS_DATABASE)) Fail("create", s);
  HTDBHANDLE database = 0;
  if (HTSTATUS s = HTAPI.HTDatabaseOpen("", "views.nsf", 0, &database)) Fail("open", s);
  sqlite3* baseline = nullptr;
  if (sqlite3_open((dir + "/baseline.sqlite").c_str(), &baseline) != SQLITE_OK) Fail("cannot open the baseline");

  std::printf("%ld documents (Region of %d, Customer of %d, Amount) in %s\n", count, kRegions, kCustomers, dir.c_str());
  auto start = Clock::now();
  Populate(count, database, baseline);
  std::printf("  written in %.1f s\n\n", Millis(start) / 1000);

  std::printf("build from nothing\n");
  const Span sqlBuild = Time(
      [&] { Sql(baseline, "CREATE INDEX docs_order ON docs(region COLLATE NOCASE, customer COLLATE NOCASE, amount DESC)"); });
  Sql(baseline, "ANALYZE");
  HTID view = 0;
  const Span build = Time([&] { view = CreateView(database); });
  Line("SQLite CREATE INDEX", sqlBuild);
  Line("HTViewCreate (index built)", build, -1, sqlBuild.cpu);

  std::printf("open (index already built, nothing cached)\n");
  HTINDEXHANDLE index = 0;
  const Span openRaw = Time([&] { index = OpenIndex(database, view); });
  const long total = long(HTAPI.HTIndexGetCount(index));
  HTAPI.HTIndexClose(index);
  Span openObjects;
  {
    std::unique_ptr<TQuireView> opened;
    openObjects = Time([&] { opened = std::make_unique<TQuireView>("By region", database); });
    if (!opened->Opened) Fail("TQuireView", opened->LastError);
  }
  Line("raw C API: open, bind, first move", openRaw, total);
  Line("TQuireView constructor", openObjects);

  std::printf("walk every row (median of 3 runs, processor-time range in brackets)\n");
  index = OpenIndex(database, view);
  TQuireView objectView("By region", database);
  if (!objectView.Opened) Fail("TQuireView", objectView.LastError);
  const Walk sqlWalk = Measure([&] { return SqlScan(baseline); });
  const Walk rawWalk = Measure([&] { return RawWalk(index, 0, false); });
  const Walk rawDocWalk = Measure([&] { return RawWalk(index, 12, false); });
  const Walk cellWalk = Measure([&] { return RawWalk(index, 0, true); });
  const Walk objectWalk = Measure([&] {
    long rows = 0;
    objectView.MoveTo(0);
    for (objectView.MoveNext(); objectView.LastError == 0; objectView.MoveNext()) ++rows;
    return rows;
  });
  const Walk documentWalk = Measure([&] {
    long made = 0;
    objectView.MoveTo(0);
    for (auto doc = objectView.GetNextDocument(); doc; doc = objectView.GetNextDocument()) ++made;
    return made;
  });
  Line("SQLite ordered scan (3 columns read)", sqlWalk);
  Line("raw C API: every row", rawWalk, sqlWalk.cpu);
  Line("raw C API: documents only (flags 12)", rawDocWalk, sqlWalk.cpu);
  Line("raw C API: every row, 3 cells read", cellWalk, sqlWalk.cpu);
  Line("TQuireView::MoveNext", objectWalk, sqlWalk.cpu);
  Line("TQuireView::GetNextDocument (made)", documentWalk, sqlWalk.cpu);
  if (rawDocWalk.rows != count || sqlWalk.rows != count || documentWalk.rows != count || rawWalk.rows != total ||
      objectWalk.rows != total)
    Fail("the walks disagree on the number of rows");

  std::printf("key search (Region and Customer, exact), %d different keys\n", kKeySearches);
  std::vector<double> raw, objects, sql;
  sqlite3_stmt* point = nullptr;
  sqlite3_prepare_v2(baseline,
                     "SELECT id FROM docs WHERE region = ?1 COLLATE NOCASE AND customer = ?2 COLLATE NOCASE "
                     "ORDER BY region COLLATE NOCASE, customer COLLATE NOCASE, amount DESC LIMIT 1",
                     -1, &point, nullptr);
  for (int k = 0; k < kKeySearches; ++k) {
    const long i = (long(k) * 104729) % count;
    const std::string region = RegionOf(i), customer = CustomerOf(i);
    HTKEYDESC keys[2] = {};
    keys[0].type = keys[1].type = HTTYPE_TEXT;
    keys[0].value = region.c_str();
    keys[1].value = customer.c_str();
    const auto searchRaw = [&] {
      HTUINT matched = 0;
      const auto begun = Clock::now();
      const HTSTATUS s = HTAPI.HTIndexKeySearch(index, 2, keys, HTKEYSEARCH_EXACT, &matched);
      raw.push_back(Millis(begun) * 1000);
      if (s) Fail("HTIndexKeySearch of " + region + "/" + customer, s);
    };
    const auto searchObjects = [&] {
      objectView.SetKeyValue(1, region);
      objectView.SetKeyValue(2, customer);
      const auto begun = Clock::now();
      const bool found = objectView.KeySearch(2, true);
      objects.push_back(Millis(begun) * 1000);
      if (!found) Fail("TQuireView::KeySearch", objectView.LastError);
    };
    // Whichever goes second finds the pages the first one read: take turns.
    if (k % 2 == 0) {
      searchRaw();
      searchObjects();
    } else {
      searchObjects();
      searchRaw();
    }
    const auto start = Clock::now();
    sqlite3_reset(point);
    sqlite3_bind_text(point, 1, region.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(point, 2, customer.c_str(), -1, SQLITE_TRANSIENT);
    const bool hit = sqlite3_step(point) == SQLITE_ROW;
    sql.push_back(Millis(start) * 1000);
    if (!hit) Fail("SQLite point query found nothing");
  }
  sqlite3_finalize(point);
  std::printf("  %-44s %10.2f us median\n", "SQLite point query", Median(sql));
  std::printf("  %-44s %10.2f us median\n", "raw C API HTIndexKeySearch", Median(raw));
  std::printf("  %-44s %10.2f us median\n", "TQuireView::KeySearch", Median(objects));

  HTAPI.HTIndexClose(index);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double peakMb = double(usage.ru_maxrss) / 1024.0;

  std::printf("\ntargets (processor time)\n");
  Target("build / SQLite CREATE INDEX", build.cpu / sqlBuild.cpu, kBuildTarget, "x");
  Target("walk reading 3 cells / SQLite scan of 3 columns", cellWalk.cpu / sqlWalk.cpu, kWalkTarget, "x");
  TargetAtLeast("TQuireView::GetNextDocument, documents/s", double(documentWalk.rows) * 1000.0 / documentWalk.cpu,
                kDocumentRateTarget, "");
  Target("view open, raw C API", openRaw.cpu, kOpenTargetMs, " ms");
  Target("view open, TQuireView constructor", openObjects.cpu, kOpenTargetMs, " ms");
  Target("peak memory", peakMb, count <= kSmallCount ? kMemoryTargetSmallMb : kMemoryTargetMb, " MB");
  sqlite3_close(baseline);
  HTAPI.HTDatabaseClose(database, 0);
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
      std::fprintf(stderr, "usage: bench_views [COUNT] [--keep]\n");
      return 2;
    }
  }
  std::string dir = (std::filesystem::temp_directory_path() / "quire-bench-views-XXXXXX").string();
  if (!mkdtemp(dir.data())) {
    std::fprintf(stderr, "bench_views: cannot make a temporary directory\n");
    return 1;
  }
  int status = 1;
  try {
    status = Run(count, dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_views: %s\n", e.what());
  }
  if (!keep) {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  } else {
    std::printf("kept %s\n", dir.c_str());
  }
  return status;
}
