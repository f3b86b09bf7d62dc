// bench_server: one database on a server kept in PostgreSQL against the same database in a
// local SQLite file, on the same machine and in one run.
//
//   bench_server [COUNT] [--create N] [--url postgresql://host:port/dbname]
//
// Without --url a throwaway cluster is started with scripts/pg-cluster.sh (as root) and
// stopped at the end; it is switched to syncing every commit (fsync on), as the SQLite
// backend does, so the creation figures compare like with like. With --url the database
// "bench.nsf" is made on that server (it must not exist) and deleted at the end; the
// server's settings are left as they are and its processor time cannot be seen.
//
// On each backend, in a fresh database:
//   create   N documents (default 2000) saved one by one, each its own transaction, by one
//            writer process, then N more by four writer processes at once (N/4 each):
//            documents per second by the wall clock from the go signal to the last exit
//   fill     up to COUNT documents (default 100000) by one writer with delayed commit (not
//            measured)
//   build    HTViewCreate of the sample view "By region" (Region categorised, Customer
//            ascending, Amount descending with a total)
//   walk     every row through TQuireView::MoveNext; median of three runs
//   key      HTIndexKeySearch with Region and Customer, median of 1000 different keys
//   open     HTIndexOpenViewFolder of the sample view on an open index: 100 opens while
//            nothing changed (the shared rows are handed out again), and 30 each right after
//            a document was saved (the rows read afresh; the save is not timed); three runs
//   folder   a folder of kFolderMembers documents built again from its members (its design
//            note saved); three runs
//   fulltext HTDatabaseCreateFTIndex, then a search for the top 20 of a query matching
//            about one document in fifty; median of 50 different queries
// Processor time is this process's plus, for PostgreSQL, the cluster's (the postmaster and
// its backends, read from /proc: only for a cluster this program started); the ratios are
// PostgreSQL over SQLite on that total. Creation is judged by the wall clock, since its
// point is writers overlapping. The targets printed: the walk through TQuireView within 3x
// of SQLite, and four writers creating at least twice as fast as one. Exit status 0 when
// every step ran and the counts agreed on both backends; a step the backend does not offer
// yet (HTFAIL_NOT_IMPLEMENTED) is printed as such.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/Quire01.h"
#include "objects/QRView.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kWalkTarget = 3.0;
constexpr double kWritersTarget = 2.0;
constexpr int kWriters = 4;
constexpr int kRegions = 50;
constexpr int kCustomers = 20000;
constexpr int kKeySearches = 1000;
constexpr int kFtSearches = 50;
constexpr int kOpens = 100;
constexpr int kOpensAfterSave = 30;
constexpr long kFolderMembers = 3000;
constexpr const char* kPath = "bench.nsf";
constexpr const char* kDirectory = "names.nsf";

[[noreturn]] void Fail(const std::string& what, uint32_t code = 0) {
  std::string message = what;
  if (code != 0) message += ": " + GetNotesErrorText(code);
  throw std::runtime_error(message);
}

double Millis(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

double CpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

double ChildrenCpuMs() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  auto ms = [](const timeval& t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
  return ms(u.ru_utime) + ms(u.ru_stime);
}

std::string RegionOf(long i) { return "Region " + std::to_string((i * 7919) % kRegions); }
std::string CustomerOf(long i) {
  const uint64_t x = uint64_t(i) * 2654435761u + 977;
  return "Customer " + std::to_string((x >> 7) % kCustomers);
}
double AmountOf(long i) { return double((i * 31) % 1000); }

// ---- the server's processor time --------------------------------------------------------

// The postmaster's own time, the time of the backends it has reaped, and that of those alive.
class ClusterClock {
 public:
  explicit ClusterClock(pid_t postmaster) : postmaster_(postmaster), tick_(double(sysconf(_SC_CLK_TCK))) {}
  bool known() const { return postmaster_ > 0; }

  double cpuMs() const {
    if (!known()) return 0;
    double ticks = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string name = entry.path().filename();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      const pid_t pid = pid_t(std::atol(name.c_str()));
      long ppid = 0;
      double own = 0, reaped = 0;
      if (!stat(pid, ppid, own, reaped)) continue;
      if (pid == postmaster_) ticks += own + reaped;
      else if (ppid == postmaster_) ticks += own;
    }
    return ticks * 1000.0 / tick_;
  }

 private:
  static bool stat(pid_t pid, long& ppid, double& own, double& reaped) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return false;
    const size_t close = line.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream rest(line.substr(close + 2));
    std::vector<std::string> f;
    for (std::string w; rest >> w;) f.push_back(w);
    if (f.size() < 15) return false;
    // After the name: state(0) ppid(1) ... utime(11) stime(12) cutime(13) cstime(14).
    ppid = std::atol(f[1].c_str());
    own = std::atof(f[11].c_str()) + std::atof(f[12].c_str());
    reaped = std::atof(f[13].c_str()) + std::atof(f[14].c_str());
    return true;
  }

  pid_t postmaster_;
  double tick_;
};

struct Span {
  double cpu = 0;  // this process and, where known, the server
  double wall = 0;
};

Span Time(const ClusterClock& server, const std::function<void()>& work) {
  const auto start = Clock::now();
  const double cpuStart = CpuMs() + server.cpuMs();
  work();
  return {CpuMs() + server.cpuMs() - cpuStart, Millis(start)};
}

struct Runs {
  double cpu = 0, wall = 0, cpuLow = 0, cpuHigh = 0;
  long rows = 0;
};

Runs Measure(const ClusterClock& server, const std::function<long()>& body) {
  std::vector<double> cpu, wall;
  Runs r;
  for (int k = 0; k < 3; ++k) {
    const Span s = Time(server, [&] { r.rows = body(); });
    cpu.push_back(s.cpu);
    wall.push_back(s.wall);
  }
  std::sort(cpu.begin(), cpu.end());
  std::sort(wall.begin(), wall.end());
  r.cpu = cpu[1];
  r.wall = wall[1];
  r.cpuLow = cpu.front();
  r.cpuHigh = cpu.back();
  return r;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// ---- writer processes -----------------------------------------------------------------

// A writer: this program run again with --writer; it opens the database, says it is ready,
// waits for the go byte, writes its share and exits with 0 on success.
int WriterMain(const std::string& server, long from, long count, bool delayed, int readyFd, int goFd) {
  Initialize();
  if (!HTInitOK) return 2;
  HTDBHANDLE db = 0;
  if (HTAPI.HTDatabaseOpen(server.c_str(), kPath, 0, &db)) return 3;
  const uint32_t delay = delayed ? 1 : 0;
  if (HTAPI.HTDatabaseSetProperty(db, HTDATABASE_DELAY_COMMIT, &delay)) return 4;
  char byte = 'r';
  if (write(readyFd, &byte, 1) != 1 || read(goFd, &byte, 1) != 1) return 5;
  for (long i = from; i < from + count; ++i) {
    const std::string region = RegionOf(i), customer = CustomerOf(i);
    const double amount = AmountOf(i);
    HTDOCHANDLE doc = 0;
    if (HTAPI.HTDocumentCreate(db, 0, &doc)) return 6;
    HTSTATUS s = HTAPI.HTItemPut(doc, "Form", HTTYPE_TEXT, 0, HTTYPE_TEXT, "Order", 0);
    if (!s) s = HTAPI.HTItemPut(doc, "Region", HTTYPE_TEXT, 0, HTTYPE_TEXT, region.c_str(), 0);
    if (!s) s = HTAPI.HTItemPut(doc, "Customer", HTTYPE_TEXT, 0, HTTYPE_TEXT, customer.c_str(), 0);
    if (!s) s = HTAPI.HTItemPut(doc, "Amount", HTTYPE_NUMBER, sizeof amount, HTTYPE_NUMBER, &amount, 0);
    if (!s) s = HTAPI.HTDocumentSave(doc, 0);
    HTAPI.HTDocumentClose(doc, 0);
    if (s) {
      std::fprintf(stderr, "writer: document %ld: %s\n", i, GetNotesErrorText(s).c_str());
      return 7;
    }
  }
  return HTAPI.HTDatabaseClose(db, 0) ? 8 : 0;
}

// Documents [from, from + count) written by `writers` processes; the wall-clock milliseconds
// from the go signal to the last writer's exit, and the writers' processor time.
Span RunWriters(const ClusterClock& server, const std::string& serverName, long from, long count, int writers,
                bool delayed) {
  int ready[2], go[2];
  if (pipe(ready) != 0 || pipe(go) != 0) Fail("pipe");
  std::vector<pid_t> pids;
  const long share = count / writers;
  for (int w = 0; w < writers; ++w) {
    const long first = from + w * share;
    const long n = w + 1 == writers ? count - w * share : share;
    const pid_t pid = fork();
    if (pid < 0) Fail("fork");
    if (pid == 0) {
      close(ready[0]);
      close(go[1]);
      const std::string args[] = {"--writer", serverName,           std::to_string(first), std::to_string(n),
                                  delayed ? "1" : "0", std::to_string(ready[1]), std::to_string(go[0])};
      execl("/proc/self/exe", "bench_server", args[0].c_str(), args[1].c_str(), args[2].c_str(), args[3].c_str(),
            args[4].c_str(), args[5].c_str(), args[6].c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    pids.push_back(pid);
  }
  close(ready[1]);
  close(go[0]);
  for (int w = 0; w < writers; ++w) {
    char byte = 0;
    if (read(ready[0], &byte, 1) != 1) Fail("a writer did not start");
  }
  const double childrenBefore = ChildrenCpuMs(), serverBefore = server.cpuMs();
  const auto start = Clock::now();
  const std::string go1(size_t(writers), 'g');
  if (write(go[1], go1.data(), go1.size()) != ssize_t(go1.size())) Fail("go");
  bool ok = true;
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  const double wall = Millis(start);
  close(ready[0]);
  close(go[1]);
  if (!ok) Fail("a writer failed");
  return {ChildrenCpuMs() - childrenBefore + server.cpuMs() - serverBefore, wall};
}

// ---- one backend ----------------------------------------------------------------------

struct Figures {
  double rate1 = 0, rate4 = 0;
  Span create1, create4, build, ftBuild;
  Runs walk, open, openAfterSave, folder;
  double keyUs = 0, ftUs = 0, ftCpuUs = 0;
  bool fullText = false;
  long rows = 0;
};

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

Figures RunBackend(const char* label, const std::string& serverName, const ClusterClock& server, long count,
                   long perRate) {
  std::printf("%s\n", label);
  std::fflush(stdout);
  Figures f;
  if (HTSTATUS s = HTAPI.HTDatabaseCreate(serverName.c_str(), kPath, "Bench", "", HTDBCLASS_DATABASE)) Fail("create", s);
  // A server has its directory, where access checks look up groups: without one, a server
  // in PostgreSQL is asked for it afresh, a new connection, at every check.
  if (HTSTATUS s = HTAPI.HTDatabaseCreate(serverName.c_str(), kDirectory, "Directory", "", HTDBCLASS_DATABASE))
    Fail("create the directory", s);

  f.create1 = RunWriters(server, serverName, 0, perRate, 1, false);
  f.create4 = RunWriters(server, serverName, perRate, perRate, kWriters, false);
  f.rate1 = double(perRate) * 1000.0 / f.create1.wall;
  f.rate4 = double(perRate) * 1000.0 / f.create4.wall;
  std::printf("  %-44s %10.0f docs/s  (%ld documents, %.0f ms, %.0f cpu ms incl. writers)\n", "create, 1 writer",
              f.rate1, perRate, f.create1.wall, f.create1.cpu);
  std::printf("  %-44s %10.0f docs/s  (%ld documents, %.0f ms, %.0f cpu ms incl. writers)\n", "create, 4 writers",
              f.rate4, perRate, f.create4.wall, f.create4.cpu);
  std::fflush(stdout);
  const auto fillStart = Clock::now();
  // One writer: batches of several writers would only wait for each other's turns.
  if (count > 2 * perRate) RunWriters(server, serverName, 2 * perRate, count - 2 * perRate, 1, true);
  std::printf("  filled to %ld documents in %.1f s (not measured)\n", std::max(count, 2 * perRate),
              Millis(fillStart) / 1000);
  std::fflush(stdout);
  const long total = std::max(count, 2 * perRate);

  HTDBHANDLE database = 0;
  if (HTSTATUS s = HTAPI.HTDatabaseOpen(serverName.c_str(), kPath, 0, &database)) Fail("open", s);
  f.build = Time(server, [&] { CreateView(database); });

  TQuireView view("By region", database);
  if (!view.Opened) Fail("TQuireView", view.LastError);
  f.walk = Measure(server, [&] {
    long rows = 0;
    view.MoveTo(0);
    for (view.MoveNext(); view.LastError == 0; view.MoveNext()) ++rows;
    return rows;
  });
  f.rows = f.walk.rows;
  if (f.rows <= total) Fail("the walk met " + std::to_string(f.rows) + " rows for " + std::to_string(total) + " documents");

  HTINDEXHANDLE index = 0;
  if (HTSTATUS s = HTAPI.HTIndexOpen(database, &index)) Fail("HTIndexOpen", s);
  if (HTSTATUS s = HTAPI.HTIndexOpenViewFolder(index, 0, view.ViewID, 0)) Fail("HTIndexOpenViewFolder", s);
  std::vector<double> key;
  for (int k = 0; k < kKeySearches; ++k) {
    const long i = (long(k) * 104729) % total;
    const std::string region = RegionOf(i), customer = CustomerOf(i);
    HTKEYDESC keys[2] = {};
    keys[0].type = keys[1].type = HTTYPE_TEXT;
    keys[0].value = region.c_str();
    keys[1].value = customer.c_str();
    HTUINT matched = 0;
    const auto begun = Clock::now();
    const HTSTATUS s = HTAPI.HTIndexKeySearch(index, 2, keys, HTKEYSEARCH_EXACT, &matched);
    key.push_back(Millis(begun) * 1000);
    if (s || matched == 0) Fail("HTIndexKeySearch of " + region + "/" + customer, s);
  }
  f.keyUs = Median(key);

  // Opening the view: per open, this process's processor time plus the server's.
  f.open = Measure(server, [&] {
    for (int k = 0; k < kOpens; ++k)
      if (HTSTATUS s = HTAPI.HTIndexOpenViewFolder(index, 0, view.ViewID, 0)) Fail("HTIndexOpenViewFolder", s);
    return long(kOpens);
  });
  HTID first = 0;
  HTUINT entryFlags = 0;
  if (HTSTATUS s = HTAPI.HTIndexNavigate(index, HTNAV_NEXT, HTNAVFLAG_DOCUMENTS, &first, &entryFlags))
    Fail("HTIndexNavigate", s);
  {
    std::vector<double> cpu, wall;
    for (int run = 0; run < 3; ++run) {
      double runCpu = 0, runWall = 0;
      for (int k = 0; k < kOpensAfterSave; ++k) {
        HTDOCHANDLE doc = 0;
        if (HTSTATUS s = HTAPI.HTDocumentOpen(database, first, 0, &doc)) Fail("HTDocumentOpen", s);
        const double amount = 1000 + run * kOpensAfterSave + k;
        HTSTATUS s = HTAPI.HTItemPut(doc, "Amount", HTTYPE_NUMBER, sizeof amount, HTTYPE_NUMBER, &amount, 0);
        if (!s) s = HTAPI.HTDocumentSave(doc, 0);
        HTAPI.HTDocumentClose(doc, 0);
        if (s) Fail("HTDocumentSave", s);
        const Span t = Time(server, [&] {
          if (HTSTATUS o = HTAPI.HTIndexOpenViewFolder(index, 0, view.ViewID, 0)) Fail("HTIndexOpenViewFolder", o);
        });
        runCpu += t.cpu;
        runWall += t.wall;
      }
      cpu.push_back(runCpu);
      wall.push_back(runWall);
    }
    std::sort(cpu.begin(), cpu.end());
    f.openAfterSave = {cpu[1], Median(wall), cpu.front(), cpu.back(), kOpensAfterSave};
  }

  // A folder of the first kFolderMembers documents of the view, built again three times.
  {
    std::vector<HTID> members;
    if (HTSTATUS s = HTAPI.HTIndexSetPosition(index, 0)) Fail("HTIndexSetPosition", s);
    HTID note = 0;
    while (long(members.size()) < std::min(kFolderMembers, total) &&
           HTAPI.HTIndexNavigate(index, HTNAV_NEXT, HTNAVFLAG_DOCUMENTS, &note, &entryFlags) == 0)
      members.push_back(note);
    HTID folder = 0;
    if (HTSTATUS s = HTAPI.HTFolderCreateFromViewFolder(database, 0, view.ViewID, 0, "Picked", &folder))
      Fail("HTFolderCreateFromViewFolder", s);
    if (HTSTATUS s = HTAPI.HTFolderAddEntries(database, folder, HTUINT(members.size()), members.data()))
      Fail("HTFolderAddEntries", s);
    f.folder = Measure(server, [&] {
      HTDOCHANDLE design = 0;
      if (HTSTATUS s = HTAPI.HTDocumentOpen(database, folder, 0, &design)) Fail("HTDocumentOpen of the folder", s);
      const HTSTATUS s = HTAPI.HTDocumentSave(design, 0);
      HTAPI.HTDocumentClose(design, 0);
      if (s) Fail("saving the folder's design", s);
      return long(members.size());
    });
    HTUINT count = 0;
    if (HTSTATUS s = HTAPI.HTFolderGetCount(database, folder, &count)) Fail("HTFolderGetCount", s);
    if (long(count) != long(members.size())) Fail("the folder holds " + std::to_string(count) + " documents");
  }
  HTAPI.HTIndexClose(index);

  HTSTATUS ft = 0;
  f.ftBuild = Time(server, [&] { ft = HTAPI.HTDatabaseCreateFTIndex(database, 0, 0, nullptr); });
  if (ft == HTFAIL_NOT_IMPLEMENTED) {
    std::printf("  full text: not offered by this backend yet\n");
  } else if (ft) {
    Fail("HTDatabaseCreateFTIndex", ft);
  } else {
    f.fullText = true;
    std::vector<double> wall, cpu;
    for (int k = 0; k < kFtSearches; ++k) {
      // A customer number names about five documents and a region about two thousand:
      // together about one in fifty, ranked, of which the first 20 are kept.
      const std::string query = std::to_string((k * 7) % kRegions) + " OR " + std::to_string((k * 389) % kCustomers);
      HTINDEXHANDLE search = 0;
      if (HTSTATUS s = HTAPI.HTIndexOpen(database, &search)) Fail("HTIndexOpen", s);
      HTSTATUS s = 0;
      const Span t = Time(server, [&] { s = HTAPI.HTIndexFTSearch(search, query.c_str(), 0, HTFTSORT_SCORE_DESCEND, 20); });
      const long found = long(HTAPI.HTIndexGetCount(search));
      HTAPI.HTIndexClose(search);
      if (s) Fail("HTIndexFTSearch " + query, s);
      if (found == 0 || found > 20) Fail("HTIndexFTSearch " + query + " kept " + std::to_string(found));
      wall.push_back(t.wall * 1000);
      cpu.push_back(t.cpu * 1000);
    }
    f.ftUs = Median(wall);
    f.ftCpuUs = Median(cpu);
  }
  HTAPI.HTDatabaseClose(database, 0);
  HTAPI.HTDatabaseDelete(serverName.c_str(), kPath);
  HTAPI.HTDatabaseDelete(serverName.c_str(), kDirectory);
  return f;
}

// ---- the throwaway cluster ------------------------------------------------------------

struct Cluster {
  std::string dir, uri;
  pid_t postmaster = 0;
};

std::string Shell(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) Fail("cannot run " + command);
  char buf[512];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  if (pclose(p) != 0) Fail(command + " failed");
  return out;
}

std::optional<Cluster> StartCluster() {
  const std::string script = std::string(QUIRE_SOURCE_DIR) + "/scripts/pg-cluster.sh";
  const std::string out = Shell(script + " start");
  Cluster c;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    auto value = [&](const char* name) -> std::optional<std::string> {
      const std::string prefix = std::string("export ") + name + "=";
      if (line.rfind(prefix, 0) != 0) return std::nullopt;
      std::string v = line.substr(prefix.size());
      if (v.size() >= 2 && v.front() == '\'') v = v.substr(1, v.size() - 2);
      return v;
    };
    if (auto v = value("QUIRE_PG_CLUSTER")) c.dir = *v;
    if (auto v = value("QUIRE_TEST_PG")) c.uri = *v;
    if (auto v = value("PGUSER")) setenv("PGUSER", v->c_str(), 1);
  }
  if (c.dir.empty() || c.uri.empty()) return std::nullopt;
  std::ifstream pidFile(c.dir + "/data/postmaster.pid");
  pidFile >> c.postmaster;
  // Durable commits, as the SQLite backend makes them.
  Shell("psql -q -X -d \"" + c.uri + "\" -c 'ALTER SYSTEM SET fsync = on' -c 'SELECT pg_reload_conf()' >/dev/null");
  return c;
}

void StopCluster(const Cluster& c) {
  const std::string script = std::string(QUIRE_SOURCE_DIR) + "/scripts/pg-cluster.sh";
  if (std::system((script + " stop '" + c.dir + "'").c_str()) != 0) std::fprintf(stderr, "could not stop %s\n", c.dir.c_str());
}

void Ratio(const char* label, double pg, double sqlite, const char* unit) {
  std::printf("  %-36s %12.2f %12.2f %s %8.2fx\n", label, sqlite, pg, unit, sqlite > 0 ? pg / sqlite : 0.0);
}

int Run(long count, long perRate, const std::string& url) {
  char tmpl[] = "/tmp/quire-bench-server-XXXXXX";
  if (!mkdtemp(tmpl)) Fail("mkdtemp");
  const std::string dir = tmpl;
  std::optional<Cluster> cluster;
  std::string uri = url;
  if (uri.empty()) {
    cluster = StartCluster();
    if (!cluster) Fail("no PostgreSQL cluster could be started (needs the postgresql package and root)");
    uri = cluster->uri;
  }
  int rc = 1;
  try {
    setenv("QUIRE_DATA", dir.c_str(), 1);
    setenv("QUIRE_USER", "Bench User", 1);
    std::ofstream(dir + "/quire.ini") << "[Servers]\nBench=" << uri << "\n";
    Initialize();
    if (!HTInitOK) Fail("the engine could not be started", HTGlobalErr);
    double load[3] = {};
    getloadavg(load, 3);
    std::printf("%ld documents (Region of %d, Customer of %d, Amount); load average %.2f %.2f %.2f\n", count, kRegions,
                kCustomers, load[0], load[1], load[2]);
    std::printf("PostgreSQL: %s\n\n", cluster ? "a throwaway cluster on a Unix socket, fsync on" : "the given server");
    const ClusterClock none(0), server(cluster ? cluster->postmaster : 0);
    const Figures lite = RunBackend("SQLite (local server)", "", none, count, perRate);
    const Figures pg = RunBackend("PostgreSQL (server Bench)", "Bench", server, count, perRate);
    getloadavg(load, 3);
    std::printf("\nload average now %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    std::printf("%s processor time\n",
                server.known() ? "this process plus the PostgreSQL cluster's" : "this process only (server unseen)");
    std::printf("  %-36s %12s %12s %s %9s\n", "", "SQLite", "PostgreSQL", "  ", "PG/SQLite");
    Ratio("create, 1 writer (docs/s)", pg.rate1, lite.rate1, "  ");
    Ratio("create, 4 writers (docs/s)", pg.rate4, lite.rate4, "  ");
    Ratio("view build (cpu ms)", pg.build.cpu, lite.build.cpu, "  ");
    Ratio("view build (wall ms)", pg.build.wall, lite.build.wall, "  ");
    Ratio("TQuireView walk (cpu ms, median)", pg.walk.cpu, lite.walk.cpu, "  ");
    Ratio("TQuireView walk (wall ms, median)", pg.walk.wall, lite.walk.wall, "  ");
    std::printf("  %-36s [%.0f-%.0f] [%.0f-%.0f] (cpu range of 3 runs, %ld rows)\n", "", lite.walk.cpuLow,
                lite.walk.cpuHigh, pg.walk.cpuLow, pg.walk.cpuHigh, pg.rows);
    Ratio("key search (wall us, median)", pg.keyUs, lite.keyUs, "  ");
    auto perOpen = [](const Runs& r, double Runs::*field) { return r.*field * 1000 / double(r.rows); };
    Ratio("view open, unchanged (cpu us/open)", perOpen(pg.open, &Runs::cpu), perOpen(lite.open, &Runs::cpu), "  ");
    std::printf("  %-36s [%.0f-%.0f] [%.0f-%.0f] (cpu range of 3 runs)\n", "", perOpen(lite.open, &Runs::cpuLow),
                perOpen(lite.open, &Runs::cpuHigh), perOpen(pg.open, &Runs::cpuLow), perOpen(pg.open, &Runs::cpuHigh));
    Ratio("view open, unchanged (wall us/open)", perOpen(pg.open, &Runs::wall), perOpen(lite.open, &Runs::wall), "  ");
    Ratio("view open after a save (cpu us/open)", perOpen(pg.openAfterSave, &Runs::cpu),
          perOpen(lite.openAfterSave, &Runs::cpu), "  ");
    std::printf("  %-36s [%.0f-%.0f] [%.0f-%.0f] (cpu range of 3 runs)\n", "",
                perOpen(lite.openAfterSave, &Runs::cpuLow), perOpen(lite.openAfterSave, &Runs::cpuHigh),
                perOpen(pg.openAfterSave, &Runs::cpuLow), perOpen(pg.openAfterSave, &Runs::cpuHigh));
    Ratio("view open after a save (wall us/open)", perOpen(pg.openAfterSave, &Runs::wall),
          perOpen(lite.openAfterSave, &Runs::wall), "  ");
    Ratio("folder rebuild (cpu ms, median)", pg.folder.cpu, lite.folder.cpu, "  ");
    std::printf("  %-36s [%.0f-%.0f] [%.0f-%.0f] (cpu range of 3 runs, %ld members)\n", "", lite.folder.cpuLow,
                lite.folder.cpuHigh, pg.folder.cpuLow, pg.folder.cpuHigh, pg.folder.rows);
    Ratio("folder rebuild (wall ms, median)", pg.folder.wall, lite.folder.wall, "  ");
    if (pg.fullText && lite.fullText) {
      Ratio("full-text top 20 (cpu us, median)", pg.ftCpuUs, lite.ftCpuUs, "  ");
      Ratio("full-text top 20 (wall us, median)", pg.ftUs, lite.ftUs, "  ");
    } else {
      std::printf("  %-36s not measured: no full text on %s\n", "full-text top 20", pg.fullText ? "SQLite" : "PostgreSQL");
    }
    std::printf("targets\n");
    const double walkRatio = pg.walk.cpu / lite.walk.cpu;
    std::printf("  %-44s %8.2fx (target <= %.1fx: %s)\n", "TQuireView walk, PostgreSQL over SQLite", walkRatio,
                kWalkTarget, walkRatio <= kWalkTarget ? "met" : "MISSED");
    const double writers = pg.rate4 / pg.rate1;
    std::printf("  %-44s %8.2fx (target >= %.1fx: %s)\n", "PostgreSQL, 4 writers over 1", writers, kWritersTarget,
                writers >= kWritersTarget ? "met" : "MISSED");
    std::printf("  %-44s %8.2fx (for comparison)\n", "SQLite, 4 writers over 1", lite.rate4 / lite.rate1);
    if (pg.rows != lite.rows) Fail("the two backends' views disagree on the number of rows");
    rc = 0;
  } catch (...) {
    if (cluster) StopCluster(*cluster);
    std::error_code ec;
    fs::remove_all(dir, ec);
    throw;
  }
  if (cluster) StopCluster(*cluster);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 8 && std::strcmp(argv[1], "--writer") == 0)
      return WriterMain(argv[2], std::atol(argv[3]), std::atol(argv[4]), argv[5][0] == '1', std::atoi(argv[6]),
                        std::atoi(argv[7]));
    long count = 100000, perRate = 2000;
    std::string url;
    for (int i = 1; i < argc; ++i) {
      const std::string a = argv[i];
      if (a == "--create" && i + 1 < argc) perRate = std::atol(argv[++i]);
      else if (a == "--url" && i + 1 < argc) url = argv[++i];
      else if (!a.empty() && a[0] != '-') count = std::atol(a.c_str());
      else {
        std::fprintf(stderr, "usage: %s [COUNT] [--create N] [--url postgresql://host:port/dbname]\n", argv[0]);
        return 2;
      }
    }
    if (count < 100 || perRate < kWriters) {
      std::fprintf(stderr, "COUNT must be at least 100 and N at least %d\n", kWriters);
      return 2;
    }
    return Run(count, perRate, url);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_server: %s\n", e.what());
    return 1;
  }
}
