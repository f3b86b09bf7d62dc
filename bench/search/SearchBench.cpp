// bench_search: how fast documents are selected by formula and by full-text query, against
// the same selections made by plain SQLite over equivalent tables, in one run.
//
//   bench_search [COUNT] [--repeat N] [--keep]
//
// In a fresh temporary data directory, COUNT documents (default 100000) are created through
// the C API: Form "Order", "Invoice" or "Memo" in turn, Amount a number from 0 to 999, and a
// Subject of eight words from a vocabulary of 5000, with "harbour" in one document of 100
// and the phrase "blue harbour" in one of 500. The same rows go into a separate SQLite file:
// a table docs(id, form, amount, subject) indexed on (form, amount), and an FTS5 table over
// the subjects.
//
// Measured (each the median of N runs, default 5, in processor and wall-clock time; the first
// run is shown too -- the first formula search builds the summary cache):
//   formula search `Form = "Order" & Amount > 500`:
//     object model  TQuireDatabase::Search + GetCount
//     raw C API     HTIndexOpen + HTIndexSearch + HTIndexGetCount + HTIndexClose
//     SQLite        SELECT id FROM docs WHERE form = 'Order' AND amount > 500 (ids collected)
//   full-text search of a word and of a phrase:
//     scan          HTIndexFTSearch without a full-text index
//     index         the same after HTDatabaseCreateFTIndex (whose time is shown)
//     object model  TQuireDatabase::FTSearch + GetCount, with the index
//     FTS5          SELECT rowid FROM fts WHERE fts MATCH ... (rowids collected)
// It prints milliseconds, the ratios to the SQLite figures and the targets (formula search
// within 5x of SQLite, indexed full-text within 1.5x of FTS5, judged on processor time), and checks that every way of
// searching found the same number of documents. Exit status 0 when all ran and agreed.
#include <sqlite3.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/Quire01.h"
#include "objects/QRDbase.h"
#include "objects/QRDoccol.h"

namespace {

constexpr double kFormulaTarget = 5.0;
constexpr double kFullTextTarget = 1.5;
constexpr const char* kFormula = "Form = \"Order\" & Amount > 500";
constexpr const char* kSql = "SELECT id FROM docs WHERE form = 'Order' AND amount > 500";

struct Options {
  long count = 100000;
  int repeat = 5;
  bool keep = false;
};

[[noreturn]] void Fail(const std::string& what, uint32_t code = 0) {
  std::string message = what;
  if (code != 0) message += ": " + GetNotesErrorText(code);
  throw std::runtime_error(message);
}

using Clock = std::chrono::steady_clock;

// Wall-clock and processor time. On a shared machine the wall clock also counts the time
// other processes held the processor, so the ratios are taken on processor time (this
// program runs one thread); both are printed.
struct Timing {
  double first = 0;      // wall ms of the first run
  double median = 0;     // wall ms
  double cpuFirst = 0;   // processor ms of the first run
  double cpu = 0;        // processor ms, median
  long found = 0;
};

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Runs `body` `repeat` times; it returns the number of documents it found.
Timing Measure(int repeat, const std::function<long()>& body) {
  std::vector<double> wall, cpu;
  Timing t;
  for (int k = 0; k < repeat; ++k) {
    const auto start = Clock::now();
    const double cpuStart = CpuMs();
    const long found = body();
    cpu.push_back(CpuMs() - cpuStart);
    wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (k == 0) t.found = found;
    else if (found != t.found) Fail("a repeated search found a different number of documents");
  }
  t.first = wall.front();
  t.cpuFirst = cpu.front();
  t.median = Median(wall);
  t.cpu = Median(cpu);
  return t;
}

// Deterministic words: "w0".."w4999" plus the two the searches look for.
std::string SubjectOf(long i) {
  std::string s;
  uint64_t x = uint64_t(i) * 2654435761u + 12345;
  for (int k = 0; k < 8; ++k) {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    if (k) s += ' ';
    s += "w" + std::to_string((x >> 33) % 5000);
  }
  if (i % 100 == 7) s += " harbour";
  if (i % 500 == 3) s += " blue harbour";
  return s;
}
const char* FormOf(long i) {
  static const char* kForms[] = {"Order", "Invoice", "Memo"};
  return kForms[i % 3];
}
double AmountOf(long i) { return double((i * 7919) % 1000); }

void Sql(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : "?";
    sqlite3_free(error);
    Fail(std::string("SQLite: ") + message);
  }
}

void Populate(const Options& options, HTDBHANDLE database, sqlite3* baseline) {
  // Writing is not what is measured here: let saves skip waiting for the disk.
  const HTUINT delay = 1;
  HTAPI.HTDatabaseSetProperty(database, HTDATABASE_DELAY_COMMIT, &delay);
  Sql(baseline, "CREATE TABLE docs(id INTEGER PRIMARY KEY, form TEXT NOT NULL, amount REAL NOT NULL, subject TEXT)");
  Sql(baseline, "CREATE INDEX docs_by_form_amount ON docs(form, amount)");
  Sql(baseline, "CREATE VIRTUAL TABLE fts USING fts5(form, subject)");
  Sql(baseline, "BEGIN");
  sqlite3_stmt* insert = nullptr;
  sqlite3_stmt* insertFts = nullptr;
  sqlite3_prepare_v2(baseline, "INSERT INTO docs(id, form, amount, subject) VALUES(?1, ?2, ?3, ?4)", -1, &insert, nullptr);
  sqlite3_prepare_v2(baseline, "INSERT INTO fts(rowid, form, subject) VALUES(?1, ?2, ?3)", -1, &insertFts, nullptr);
  for (long i = 0; i < options.count; ++i) {
    HTDOCHANDLE doc = 0;
    if (HTSTATUS s = HTAPI.HTDocumentCreate(database, 0, &doc)) Fail("HTDocumentCreate", s);
    const std::string subject = SubjectOf(i);
    const double amount = AmountOf(i);
    HTSTATUS s = HTAPI.HTItemPut(doc, "Form", HTTYPE_TEXT, 0, HTTYPE_TEXT, FormOf(i), 0);
    if (!s) s = HTAPI.HTItemPut(doc, "Amount", HTTYPE_NUMBER, sizeof amount, HTTYPE_NUMBER, &amount, 0);
    if (!s) s = HTAPI.HTItemPut(doc, "Subject", HTTYPE_TEXT, 0, HTTYPE_TEXT, subject.c_str(), 0);
    if (!s) s = HTAPI.HTDocumentSave(doc, 0);
    HTAPI.HTDocumentClose(doc, 0);
    if (s) Fail("writing document " + std::to_string(i), s);
    for (sqlite3_stmt* st : {insert, insertFts}) {
      sqlite3_reset(st);
      sqlite3_bind_int64(st, 1, i + 1);
    }
    sqlite3_bind_text(insert, 2, FormOf(i), -1, SQLITE_STATIC);
    sqlite3_bind_double(insert, 3, amount);
    sqlite3_bind_text(insert, 4, subject.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insertFts, 2, FormOf(i), -1, SQLITE_STATIC);
    sqlite3_bind_text(insertFts, 3, subject.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(insert) != SQLITE_DONE || sqlite3_step(insertFts) != SQLITE_DONE) Fail("baseline insert");
  }
  sqlite3_finalize(insert);
  sqlite3_finalize(insertFts);
  Sql(baseline, "COMMIT");
  Sql(baseline, "ANALYZE");
  const HTUINT noDelay = 0;
  HTAPI.HTDatabaseSetProperty(database, HTDATABASE_DELAY_COMMIT, &noDelay);
}

long SqlIds(sqlite3* db, const char* sql, const char* match = nullptr) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) Fail(std::string("SQLite: ") + sqlite3_errmsg(db));
  if (match) sqlite3_bind_text(st, 1, match, -1, SQLITE_STATIC);
  std::vector<int64_t> ids;
  while (sqlite3_step(st) == SQLITE_ROW) ids.push_back(sqlite3_column_int64(st, 0));
  sqlite3_finalize(st);
  return long(ids.size());
}

long RawSearch(HTDBHANDLE database, const char* formula, const char* ftQuery) {
  HTINDEXHANDLE index = 0;
  if (HTSTATUS s = HTAPI.HTIndexOpen(database, &index)) Fail("HTIndexOpen", s);
  HTSTATUS s = 0;
  if (formula) {
    HTUINT matched = 0;
    s = HTAPI.HTIndexSearch(index, formula, 0, &matched);
  } else {
    s = HTAPI.HTIndexFTSearch(index, ftQuery, 0, HTFTSORT_NONE, 0);
  }
  const long count = long(HTAPI.HTIndexGetCount(index));
  HTAPI.HTIndexClose(index);
  if (s) Fail(formula ? "HTIndexSearch" : "HTIndexFTSearch", s);
  return count;
}

void Header() {
  std::printf("  %-30s %10s %10s %10s %10s %7s %8s %8s\n", "", "cpu ms", "wall ms", "1st cpu", "1st wall", "found",
              "cpu x", "wall x");
}

void Row(const char* label, const Timing& t, const Timing* baseline = nullptr) {
  std::printf("  %-30s %10.2f %10.2f %10.2f %10.2f %7ld", label, t.cpu, t.median, t.cpuFirst, t.first, t.found);
  if (baseline) std::printf(" %8.2f %8.2f", t.cpu / baseline->cpu, t.median / baseline->median);
  std::printf("\n");
}

void Target(const char* what, const Timing& t, const Timing& baseline, double target) {
  const double ratio = t.cpu / baseline.cpu;
  std::printf("  %s: %.2fx processor time, %.2fx wall clock (target <= %.1fx: %s)\n", what, ratio,
              t.median / baseline.median, target, ratio <= target ? "met" : "MISSED");
}

void Agree(const std::vector<const Timing*>& all, const char* what) {
  for (const Timing* t : all)
    if (t->found != all.front()->found) Fail(std::string(what) + ": the ways of searching disagree on the count");
}

int Run(const Options& options, const std::string& dir) {
  setenv("QUIRE_DATA", dir.c_str(), 1);
  setenv("QUIRE_USER", "Bench User", 1);
  Initialize();
  if (!HTInitOK) Fail("the engine could not be started", HTGlobalErr);
  if (HTSTATUS s = HTAPI.HTDatabaseCreate("", "search.nsf", "Search", "", HTDBCLASS_DATABASE)) Fail("create", s);
  HTDBHANDLE database = 0;
  if (HTSTATUS s = HTAPI.HTDatabaseOpen("", "search.nsf", 0, &database)) Fail("open", s);
  sqlite3* baseline = nullptr;
  if (sqlite3_open((dir + "/baseline.sqlite").c_str(), &baseline) != SQLITE_OK) Fail("cannot open the baseline");

  std::printf("%ld documents (Form, Amount, Subject of 8 words) in %s; medians of %d runs\n", options.count,
              dir.c_str(), options.repeat);
  const auto start = Clock::now();
  Populate(options, database, baseline);
  std::printf("  written in %.1f s\n\n", std::chrono::duration<double>(Clock::now() - start).count());

  TQuireDatabase objects("", "search.nsf");
  if (!objects.Opened) Fail("TQuireDatabase", objects.LastError);

  std::printf("formula search: %s\n", kFormula);
  const Timing sql = Measure(options.repeat, [&] { return SqlIds(baseline, kSql); });
  const Timing raw = Measure(options.repeat, [&] { return RawSearch(database, kFormula, nullptr); });
  const Timing object = Measure(options.repeat, [&]() -> long {
    auto collection = objects.Search(kFormula);
    if (!collection) Fail("TQuireDatabase::Search");
    return collection->GetCount();
  });
  Header();
  Row("SQLite (indexed form, amount)", sql);
  Row("raw C API", raw, &sql);
  Row("object model", object, &sql);
  Agree({&sql, &raw, &object}, "formula search");
  Target("raw C API / SQLite", raw, sql, kFormulaTarget);
  Target("object model / SQLite", object, sql, kFormulaTarget);

  struct FtCase {
    const char* label;
    const char* query;
  } cases[] = {{"word", "harbour"}, {"phrase", "\"blue harbour\""}};
  std::vector<Timing> scans;
  for (const auto& c : cases)
    scans.push_back(Measure(std::min(options.repeat, 3), [&] { return RawSearch(database, nullptr, c.query); }));

  HTFTSTATS stats{};
  const auto indexStart = Clock::now();
  if (HTSTATUS s = HTAPI.HTDatabaseCreateFTIndex(database, 0, 0, &stats)) Fail("HTDatabaseCreateFTIndex", s);
  std::printf("\nfull-text index built in %.0f ms (%u documents, %u bytes of text)\n",
              std::chrono::duration<double, std::milli>(Clock::now() - indexStart).count(), stats.documentsIndexed,
              stats.bytesIndexed);

  for (size_t k = 0; k < 2; ++k) {
    const FtCase& c = cases[k];
    std::printf("full-text search of a %s: %s\n", c.label, c.query);
    const Timing fts = Measure(options.repeat, [&] { return SqlIds(baseline, "SELECT rowid FROM fts WHERE fts MATCH ?1", c.query); });
    const Timing indexed = Measure(options.repeat, [&] { return RawSearch(database, nullptr, c.query); });
    const Timing viaObjects = Measure(options.repeat, [&]() -> long {
      auto collection = objects.FTSearch(c.query, 0);
      if (!collection) Fail("TQuireDatabase::FTSearch");
      return collection->GetCount();
    });
    Header();
    Row("FTS5 over the same text", fts);
    Row("raw C API, index", indexed, &fts);
    Row("object model, index", viaObjects, &fts);
    Row("raw C API, no index (scan)", scans[k], &fts);
    Agree({&fts, &indexed, &viaObjects, &scans[k]}, c.label);
    Target("indexed / FTS5", indexed, fts, kFullTextTarget);
  }
  sqlite3_close(baseline);
  HTAPI.HTDatabaseClose(database, 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--repeat" && i + 1 < argc) options.repeat = std::max(1, std::atoi(argv[++i]));
    else if (word == "--keep") options.keep = true;
    else if (!word.empty() && word[0] != '-') options.count = std::max(1L, std::atol(word.c_str()));
    else {
      std::fprintf(stderr, "usage: bench_search [COUNT] [--repeat N] [--keep]\n");
      return 2;
    }
  }
  std::string dir = (std::filesystem::temp_directory_path() / "quire-bench-search-XXXXXX").string();
  if (!mkdtemp(dir.data())) {
    std::fprintf(stderr, "bench_search: cannot make a temporary directory\n");
    return 1;
  }
  int status = 1;
  try {
    status = Run(options, dir);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_search: %s\n", e.what());
  }
  if (!options.keep) {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  } else {
    std::printf("kept %s\n", dir.c_str());
  }
  return status;
}
