// bench_documents: documents created per second through the object model and through the
// raw C API, in one run.
//
//   bench_documents [COUNT] [--tags N] [--only objects|raw] [--sync] [--keep] [--no-import]
//
// In a fresh temporary data directory, COUNT documents (default 100000) of five items --
// Form and Subject (text), Amount (number), Due (date-time), Tags (a text list of N entries,
// default 2) -- are created twice, each time into a database of its own, the two ways taking
// turns in blocks of 1000 documents so that both meet the same disk and machine load:
//   object model: TQuireDatabase::CreateDocument, the Append...Item calls (AddEntry for the
//                 further tags), Save, one TQuireDocument per document;
//   raw C API:    HTDocumentCreate, one HTItemPut per item, HTDocumentSave, HTDocumentClose.
// Both write the same values. Both databases use delayed commit, so saves are grouped into
// shared commits; closing the databases, which commits the last group, is inside the timed
// region. With --sync delayed commit stays off and every save is its own durable commit, so on
// a disk most of the wall time is spent waiting for it. The program prints documents per
// second for each (wall time and CPU time), the ratio of their times (object model / raw),
// the object model's rate in each tenth of the run (a rate that falls as the database grows
// shows growth worse than linear), and its rate in processor time against the target:
// 100,000 documents per second up to 100,000 documents, 70,000 sustained beyond. The data directory is made
// under $TMPDIR (default /tmp); TMPDIR=/dev/shm measures without the disk. Afterwards it
// checks that each database holds COUNT documents whose first and last carry the five items,
// so a run that silently wrote nothing cannot pass for a fast one. Exit status: 0 when both runs worked (targets met or not), 1 otherwise.
//
// Beside them, unless --no-import: the same documents as JSON Lines, imported by the quire
// tool (`quire doc import`, a process of its own, delayed commit), timed from its start to
// its exit with the CPU time it used; written out beforehand, untimed.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/Quire01.h"
#include "objects/QRDbase.h"
#include "objects/QRDoccol.h"
#include "objects/Quiredoc.h"
#include "rtl/DateTime.h"

namespace {

constexpr double kRateTarget = 100000.0;       // up to kSmallCount documents
constexpr double kLargeRateTarget = 70000.0;   // sustained beyond
constexpr long kSmallCount = 100000;
constexpr long kBlock = 1000;  // documents per turn of each way

struct Options {
  long count = 100000;
  int tags = 2;
  bool objects = true;
  bool raw = true;
  bool keep = false;
  bool sync = false;
  bool import = true;
};

[[noreturn]] void Fail(const std::string& what, uint32_t code = 0) {
  std::string message = what;
  if (code != 0) message += ": " + GetNotesErrorText(code);
  throw std::runtime_error(message);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int index = 1; index < argc; ++index) {
    const std::string word = argv[index];
    if (word == "--tags" && index + 1 < argc) {
      options.tags = std::atoi(argv[++index]);
    } else if (word == "--only" && index + 1 < argc) {
      const std::string which = argv[++index];
      options.objects = which == "objects";
      options.raw = which == "raw";
    } else if (word == "--keep") {
      options.keep = true;
    } else if (word == "--sync") {
      options.sync = true;
    } else if (word == "--no-import") {
      options.import = false;
    } else if (!word.empty() && word[0] != '-') {
      options.count = std::atol(word.c_str());
    } else {
      throw std::invalid_argument("usage: bench_documents [COUNT] [--tags N] [--only objects|raw] [--sync] [--keep] [--no-import]");
    }
  }
  if (options.count < 1 || options.tags < 1 || (!options.objects && !options.raw)) {
    throw std::invalid_argument("COUNT and --tags must be at least 1; --only takes objects or raw");
  }
  return options;
}

// The values of document `i`, the same for both ways of writing it.
std::string SubjectOf(long i) { return "Invoice " + std::to_string(i); }
double AmountOf(long i) { return 10.0 + static_cast<double>(i % 1000) * 1.25; }
// Whole seconds, since the object model writes dates as text to the second.
rtl::TDateTime DueOf(long i) {
  return rtl::EncodeDateTime(2026, 12, 8, 9, 0, 0) + static_cast<double>(i % 50000) * 61.0 / rtl::kSecsPerDay;
}
std::vector<std::string> TagsOf(long i, int count) {
  std::vector<std::string> tags{"alpha"};
  for (int k = 1; k < count; ++k) tags.push_back("tag" + std::to_string(k) + "-" + std::to_string(i % 10));
  return tags;
}

// Wall time and the process's CPU time: their difference is time spent waiting, mostly for
// the disk to confirm each commit.
struct Times {
  double wall = 0.0;
  double cpu = 0.0;
};

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

template <class Work>
void Timed(Times& total, Work work) {
  using Clock = std::chrono::steady_clock;
  const auto wallStart = Clock::now();
  const double cpuStart = CpuSeconds();
  work();
  total.cpu += CpuSeconds() - cpuStart;
  total.wall += std::chrono::duration<double>(Clock::now() - wallStart).count();
}

void CreateDatabase(const std::string& path) {
  const HTSTATUS status = HTAPI.HTDatabaseCreate("", path.c_str(), path.c_str(), "", HTDBCLASS_DATABASE);
  if (status != 0) Fail("cannot create " + path, status);
}

// Writes documents through the object model: one TQuireDocument per document.
class ObjectModelWriter {
 public:
  ObjectModelWriter(const std::string& path, int tags, bool delayCommit) : database_("", path), tags_(tags) {
    if (!database_.Opened) Fail("cannot open " + path, database_.LastError);
    if (delayCommit) {
      database_.SetDelayCommit(true);
      if (database_.LastError != 0) Fail("cannot set delayed commit on " + path, database_.LastError);
    }
  }

  // Closes the database, which commits what delayed commit still holds.
  // The object has no close of its own beyond its destructor, which drops the status.
  void Close() {
    if (!database_.CloseOnDestroy) return;
    database_.CloseOnDestroy = false;
    if (const HTSTATUS status = HTAPI.HTDatabaseClose(database_.DbHandle, 0)) {
      Fail("closing the object-model database failed", status);
    }
  }

  void Write(long from, long to) {
    for (long i = from; i < to; ++i) {
      auto document = database_.CreateDocument("");
      if (!document) Fail("CreateDocument failed at document " + std::to_string(i));
      document->AppendTextItem("Form", "Invoice");
      document->AppendTextItem("Subject", SubjectOf(i));
      document->AppendNumberItem("Amount", AmountOf(i));
      document->AppendDateTimeItem("Due", DueOf(i));
      const std::vector<std::string> tags = TagsOf(i, tags_);
      document->AppendTextListItem("Tags", tags.front());
      if (tags.size() > 1) {
        auto* list = static_cast<TQuireTextListItem*>(document->GetItem(document->Items.Count() - 1));
        for (size_t k = 1; k < tags.size(); ++k) list->AddEntry(tags[k]);
      }
      document->Save();
      if (document->LastError != 0) Fail("Save failed at document " + std::to_string(i), document->LastError);
    }
  }

 private:
  TQuireDatabase database_;
  int tags_;
};

// Text-list data as the API takes it: a 32-bit count, then per entry a 32-bit length, the
// bytes and a terminating zero.
void EncodeTextList(const std::vector<std::string>& entries, std::vector<char>& data) {
  data.clear();
  const auto put32 = [&data](uint32_t value) {
    const char* bytes = reinterpret_cast<const char*>(&value);
    data.insert(data.end(), bytes, bytes + 4);
  };
  put32(static_cast<uint32_t>(entries.size()));
  for (const std::string& entry : entries) {
    put32(static_cast<uint32_t>(entry.size()));
    data.insert(data.end(), entry.begin(), entry.end());
    data.push_back('\0');
  }
}

void DueParts(long i, HTINT (&parts)[HTDATETIME_PART_COUNT]) {
  int year, month, day, hour, minute, second, millisecond;
  rtl::DecodeDateTime(DueOf(i), year, month, day, hour, minute, second, millisecond);
  std::memset(parts, 0, sizeof parts);
  parts[HTDTUNIT_YEAR] = year;
  parts[HTDTUNIT_MONTH] = month;
  parts[HTDTUNIT_DAY] = day;
  parts[HTDTUNIT_HOUR] = hour;
  parts[HTDTUNIT_MINUTE] = minute;
  parts[HTDTUNIT_SECOND] = second;
  parts[HTDTUNIT_HUNDREDTH] = millisecond;
}

// Writes the same documents through the C API alone.
class RawApiWriter {
 public:
  RawApiWriter(const std::string& path, int tags, bool delayCommit) : tags_(tags) {
    if (const HTSTATUS status = HTAPI.HTDatabaseOpen("", path.c_str(), 0, &database_)) {
      Fail("cannot open " + path, status);
    }
    const uint32_t one = 1;
    if (delayCommit) {
      if (const HTSTATUS status = HTAPI.HTDatabaseSetProperty(database_, HTDATABASE_DELAY_COMMIT, &one)) {
        Fail("cannot set delayed commit on " + path, status);
      }
    }
  }
  ~RawApiWriter() {
    if (database_ != 0) HTAPI.HTDatabaseClose(database_, 0);
  }

  // Closes the database, which commits what delayed commit still holds.
  void Close() {
    const HTSTATUS status = HTAPI.HTDatabaseClose(database_, 0);
    database_ = 0;
    if (status != 0) Fail("closing the raw database failed", status);
  }
  RawApiWriter(const RawApiWriter&) = delete;
  RawApiWriter& operator=(const RawApiWriter&) = delete;

  void Write(long from, long to) {
    for (long i = from; i < to; ++i) {
      HTSTATUS first = 0;
      const auto step = [&first](HTSTATUS status) {
        if (first == 0) first = status;
      };
      HTDOCHANDLE document = 0;
      if (const HTSTATUS status = HTAPI.HTDocumentCreate(database_, 0, &document)) {
        Fail("HTDocumentCreate failed", status);
      }
      step(HTAPI.HTItemPut(document, "Form", HTTYPE_TEXT, 0, HTTYPE_TEXT, "Invoice", 0));
      const std::string subject = SubjectOf(i);
      step(HTAPI.HTItemPut(document, "Subject", HTTYPE_TEXT, 0, HTTYPE_TEXT, subject.c_str(), 0));
      const double amount = AmountOf(i);
      step(HTAPI.HTItemPut(document, "Amount", HTTYPE_NUMBER, sizeof amount, HTTYPE_NUMBER, &amount, 0));
      HTINT parts[HTDATETIME_PART_COUNT];
      DueParts(i, parts);
      HTDATETIME due{};
      step(HTAPI.HTDatetimeCreate(parts, 1, &due));
      step(HTAPI.HTItemPut(document, "Due", HTTYPE_DATETIME, 0, HTTYPE_DATETIME, &due, 0));
      EncodeTextList(TagsOf(i, tags_), tagData_);
      step(HTAPI.HTItemPut(document, "Tags", HTTYPE_TEXT_LIST, static_cast<HTUINT>(tagData_.size()),
                           HTTYPE_TEXT_LIST, tagData_.data(), 0));
      step(HTAPI.HTDocumentSave(document, 0));
      step(HTAPI.HTDocumentClose(document, 0));
      if (first != 0) Fail("raw document " + std::to_string(i) + " failed", first);
    }
  }

 private:
  HTDBHANDLE database_ = 0;
  int tags_;
  std::vector<char> tagData_;
};

void CheckDocument(TQuireDocument& document, const std::string& path) {
  const struct {
    const char* name;
    TQRItemType type;
  } expected[] = {{"Form", qrTypeText},
                  {"Subject", qrTypeText},
                  {"Amount", qrTypeNumber},
                  {"Due", qrTypeDateTime},
                  {"Tags", qrTypeTextList}};
  for (const auto& item : expected) {
    TQuireItem* found = document.GetItemByName(item.name);
    if (!found || found->ItemType != item.type) Fail(path + ": a document lacks its " + item.name + " item");
  }
}

// The database holds `count` documents, and the first and the last carry the five items.
void Verify(const std::string& path, long count) {
  TQuireDatabase database("", path);
  if (!database.Opened) Fail("cannot reopen " + path, database.LastError);
  auto all = database.AllDocuments();
  if (!all) Fail("cannot list the documents of " + path);
  if (all->GetCount() != count) {
    Fail(path + " holds " + std::to_string(all->GetCount()) + " documents, not " + std::to_string(count));
  }
  auto first = all->GetFirstDocument();
  if (!first) Fail("cannot open the first document of " + path, all->LastError);
  CheckDocument(*first, path);
  auto last = all->GetLastDocument();
  if (!last) Fail("cannot open the last document of " + path, all->LastError);
  CheckDocument(*last, path);
}

extern "C" char** environ;

double ChildCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The documents of both ways as `quire doc export` writes them.
void WriteJsonLines(const std::string& file, long count, int tags) {
  std::ofstream out(file, std::ios::binary);
  for (long i = 0; i < count; ++i) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    rtl::DecodeDateTime(DueOf(i), year, month, day, hour, minute, second, ms);
    char due[48];
    std::snprintf(due, sizeof due, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day, hour, minute, second);
    out << "{\"items\":[{\"name\":\"Form\",\"type\":\"text\",\"value\":\"Invoice\"},"
        << "{\"name\":\"Subject\",\"type\":\"text\",\"value\":\"" << SubjectOf(i) << "\"},"
        << "{\"name\":\"Amount\",\"type\":\"number\",\"value\":" << AmountOf(i) << "},"
        << "{\"name\":\"Due\",\"type\":\"date\",\"value\":\"" << due << "\"},"
        << "{\"name\":\"Tags\",\"type\":\"list\",\"value\":[";
    const std::vector<std::string> entries = TagsOf(i, tags);
    for (size_t t = 0; t < entries.size(); ++t) out << (t ? "," : "") << "\"" << entries[t] << "\"";
    out << "]}]}\n";
  }
  if (!out) Fail("cannot write " + file);
}

// Runs `quire doc import` on the file as its own process; its wall and CPU time.
Times RunImport(const std::string& dataDirectory, const std::string& file) {
  const std::string binary = QUIRE_CLI_PATH;
  std::vector<std::string> words = {binary, "--data", dataDirectory, "--user", "Bench User", "doc", "import",
                                    "import.nsf", file};
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const double cpuStart = ChildCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) Fail("cannot start " + binary);
  int status = 0;
  waitpid(pid, &status, 0);
  Times times;
  times.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  times.cpu = ChildCpuSeconds() - cpuStart;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("quire doc import failed");
  return times;
}

std::string MakeDataDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quire-bench-documents-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary directory");
  return pattern;
}

void PrintRate(const char* label, long count, const Times& times) {
  std::printf("%-14s %9.0f documents/s  (%.2f s; CPU %.2f s, %.0f documents per CPU second)\n", label,
              static_cast<double>(count) / times.wall, times.wall, times.cpu, static_cast<double>(count) / times.cpu);
}

int Run(const Options& options, const std::string& dataDirectory) {
  setenv("QUIRE_DATA", dataDirectory.c_str(), 1);
  setenv("QUIRE_USER", "Bench User", 1);
  Initialize();
  if (!HTInitOK) Fail("the engine could not be started", HTGlobalErr);
  std::printf("%ld documents of 5 items (Tags: %d entries) in %s\n", options.count, options.tags,
              dataDirectory.c_str());
  std::fflush(stdout);

  std::unique_ptr<RawApiWriter> raw;
  std::unique_ptr<ObjectModelWriter> objects;
  if (options.raw) {
    CreateDatabase("raw.nsf");
    raw = std::make_unique<RawApiWriter>("raw.nsf", options.tags, !options.sync);
  }
  if (options.objects) {
    CreateDatabase("objects.nsf");
    objects = std::make_unique<ObjectModelWriter>("objects.nsf", options.tags, !options.sync);
  }
  // The two ways take turns, block by block and in alternating order, so that both meet the
  // same disk and the same load from other programs.
  Times rawTimes;
  Times objectTimes;
  std::vector<Times> tenths(10);  // the object model's time in each tenth of the documents
  for (long from = 0, block = 0; from < options.count; from += kBlock, ++block) {
    const long to = std::min(options.count, from + kBlock);
    const auto runRaw = [&] {
      if (raw) Timed(rawTimes, [&] { raw->Write(from, to); });
    };
    const auto runObjects = [&] {
      if (!objects) return;
      Times part;
      Timed(part, [&] { objects->Write(from, to); });
      objectTimes.cpu += part.cpu;
      objectTimes.wall += part.wall;
      Times& tenth = tenths[size_t(std::min(9L, from * 10 / options.count))];
      tenth.cpu += part.cpu;
      tenth.wall += part.wall;
    };
    if (block % 2 == 0) {
      runRaw();
      runObjects();
    } else {
      runObjects();
      runRaw();
    }
  }
  // The last group of delayed commits is committed at close: that is part of the work.
  if (raw) Timed(rawTimes, [&] { raw->Close(); });
  if (objects) Timed(objectTimes, [&] { objects->Close(); });
  raw.reset();
  objects.reset();
  std::printf("%s\n", options.sync ? "commits: every save committed and synced on its own (--sync)"
                                    : "commits: delayed commit, saves grouped; the closing commit is timed");

  if (options.raw) PrintRate("raw C API:", options.count, rawTimes);
  if (options.objects) PrintRate("object model:", options.count, objectTimes);
  std::fflush(stdout);
  if (options.raw) Verify("raw.nsf", options.count);
  if (options.objects) Verify("objects.nsf", options.count);
  if (options.import) {
    const std::string file = dataDirectory + "/import.jsonl";
    WriteJsonLines(file, options.count, options.tags);
    CreateDatabase("import.nsf");
    const Times importTimes = RunImport(dataDirectory, file);
    PrintRate("doc import:", options.count, importTimes);
    if (options.objects) {
      std::printf("doc import / object model, in time: %.3f; in CPU time %.3f\n", importTimes.wall / objectTimes.wall,
                  importTimes.cpu / objectTimes.cpu);
    }
    std::fflush(stdout);
    Verify("import.nsf", options.count);
  }
  if (options.raw && options.objects) {
    std::printf("ratio (object model time / raw time): %.3f in CPU time, %.3f in wall time\n",
                objectTimes.cpu / rawTimes.cpu, objectTimes.wall / rawTimes.wall);
  }
  if (options.objects && options.count >= 10 * kBlock) {
    std::printf("object model documents per CPU second by tenth of the run:");
    for (const Times& tenth : tenths) std::printf(" %.0f", static_cast<double>(options.count) / 10.0 / tenth.cpu);
    std::printf("\n  rate of the last tenth / rate of the first: %.2f (1.00: time grows linearly)\n", tenths.front().cpu / tenths.back().cpu);
  }
  if (options.objects) {
    const double rate = static_cast<double>(options.count) / objectTimes.cpu;
    const double target = options.count <= kSmallCount ? kRateTarget : kLargeRateTarget;
    std::printf("object model rate: %.0f documents per CPU second, %.0f per wall second  (target >= %.0f: %s)\n",
                rate, static_cast<double>(options.count) / objectTimes.wall, target, rate >= target ? "met" : "MISSED");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = ParseOptions(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 2;
  }
  std::string dataDirectory;
  int code = 1;
  try {
    dataDirectory = MakeDataDirectory();
    code = Run(options, dataDirectory);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_documents: %s\n", error.what());
  }
  if (!dataDirectory.empty() && !options.keep) {
    std::error_code ignored;
    std::filesystem::remove_all(dataDirectory, ignored);
  }
  return code;
}
