// Acknowledged saves survive kill -9. A writer process saves documents and increments a
// counter, reporting each save only after HTDocumentSave returned success; it is killed with
// SIGKILL at a random moment, and every save it reported must be in the file afterwards, in
// a file that passes SQLite's integrity check. The trials go on with the same file.
//
// A few trials run in every test run; QUIRE_KILL_TRIALS=N runs N (the settling run used
// several hundred). QUIRE_KILL_SEED fixes the random moments.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "EngineFixture.h"
#include "engine/store/Storage.h"

namespace quire::engine::test {
namespace {

constexpr const char* kPath = "killed.nsf";

std::string hexUnid(const UNID& u) {
  char text[33];
  std::snprintf(text, sizeof text, "%08X%08X%08X%08X", u.words[0], u.words[1], u.words[2], u.words[3]);
  return text;
}

UNID parseUnid(const std::string& text) {
  UNID u{};
  for (int k = 0; k < 4; ++k) u.words[k] = uint32_t(std::stoul(text.substr(size_t(k) * 8, 8), nullptr, 16));
  return u;
}

void say(int fd, const std::string& line) {
  const std::string out = line + "\n";
  if (write(fd, out.data(), out.size()) != ssize_t(out.size())) _exit(3);
}

// The writer, this test binary run again: runs until killed. "d <unid>" after each created
// document, "c <n>" after each increment of the counter to n.
TEST(KillNineChild, Run) {
  const char* fdText = std::getenv("QUIRE_KILL_CHILD_FD");
  if (!fdText) GTEST_SKIP() << "runs only as the writer of KillNine";
  const int fd = std::atoi(fdText);
  const HTID counter = HTID(std::atoi(std::getenv("QUIRE_KILL_COUNTER")));
  if (_HTInit(HTVERSION_LIBRARY, 0, 0, nullptr) != HTSUCCESS) _exit(4);
  HTDBHANDLE db = 0;
  if (HTDatabaseOpen("", kPath, 0, &db) != HTSUCCESS) _exit(4);
  say(fd, "ready");
  for (int n = 1;; ++n) {
    HTDOCHANDLE doc = 0;
    if (n % 3 == 0) {
      if (HTDocumentOpen(db, counter, 0, &doc) != HTSUCCESS) _exit(5);
      double c = 0;
      HTINT type = HTTYPE_NUMBER, want = HTTYPE_NUMBER;
      HTUINT len = sizeof c;
      if (HTItemFetch(doc, "C", &type, &len, &want, &c) != HTSUCCESS) _exit(6);
      ++c;
      HTItemPut(doc, "C", HTTYPE_NUMBER, 8, HTTYPE_NUMBER, &c, 0);
      if (HTDocumentSave(doc, 0) != HTSUCCESS) _exit(7);
      say(fd, "c " + std::to_string(long(c)));
    } else {
      if (HTDocumentCreate(db, 0, &doc) != HTSUCCESS) _exit(8);
      const std::string body(size_t(n % 7) * 300, 'x');
      HTItemPut(doc, "Body", HTTYPE_TEXT, 0, HTTYPE_TEXT, body.c_str(), 0);
      if (HTDocumentSave(doc, 0) != HTSUCCESS) _exit(9);
      UNID unid{};
      HTDocumentGetProperty(doc, HTDOCUMENT_UNID, &unid);
      say(fd, "d " + hexUnid(unid));
    }
    HTDocumentClose(doc, 0);
  }
}

struct Acknowledged {
  std::vector<UNID> documents;
  long counter = 0;
};

// Reads the writer's reports until the pipe closes; a line cut by the kill is not counted.
void collect(int fd, Acknowledged& acks) {
  std::string all;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) all.append(buf, size_t(n));
  std::istringstream in(all);
  for (std::string line; std::getline(in, line);) {
    if (in.eof()) break;  // no newline: the kill cut it
    if (line.rfind("d ", 0) == 0 && line.size() == 34) acks.documents.push_back(parseUnid(line.substr(2)));
    if (line.rfind("c ", 0) == 0) acks.counter = std::max(acks.counter, std::stol(line.substr(2)));
  }
}

TEST(KillNine, AcknowledgedSavesSurviveKillsAtRandomMoments) {
  char tmpl[] = "/tmp/quire-kill-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::filesystem::path dir = tmpl;
  setenv("QUIRE_DATA", tmpl, 1);
  unsetenv("QUIRE_USER");
  ASSERT_EQ(_HTInit(HTVERSION_LIBRARY, 0, 0, nullptr), HTSUCCESS);

  HTID counter = 0;
  {
    ASSERT_EQ(HTDatabaseCreate("", kPath, "Killed", nullptr, HTDBCLASS_DATABASE), HTSUCCESS);
    HTDBHANDLE db = 0;
    ASSERT_EQ(HTDatabaseOpen("", kPath, 0, &db), HTSUCCESS);
    HTDOCHANDLE doc = 0;
    ASSERT_EQ(HTDocumentCreate(db, 0, &doc), HTSUCCESS);
    const double zero = 0;
    ASSERT_EQ(HTItemPut(doc, "C", HTTYPE_NUMBER, 8, HTTYPE_NUMBER, &zero, 0), HTSUCCESS);
    ASSERT_EQ(HTDocumentSave(doc, 0), HTSUCCESS);
    HTDocumentGetProperty(doc, HTDOCUMENT_DOCID, &counter);
    HTDocumentClose(doc, 0);
    ASSERT_EQ(HTDatabaseClose(db, 0), HTSUCCESS);
  }

  const char* trialsText = std::getenv("QUIRE_KILL_TRIALS");
  const int trials = trialsText ? std::atoi(trialsText) : 8;
  const char* seedText = std::getenv("QUIRE_KILL_SEED");
  const unsigned seed = seedText ? unsigned(std::strtoul(seedText, nullptr, 10)) : std::random_device{}();
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> moment(0, 120);

  Acknowledged acks;
  long missingDocuments = 0, lostIncrements = 0;
  long counterSeen = 0;  // the counter found after the previous kill
  for (int trial = 0; trial < trials && !::testing::Test::HasFatalFailure(); ++trial) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      if (FILE* quiet = freopen("/dev/null", "w", stdout)) (void)quiet;
      setenv("QUIRE_KILL_CHILD_FD", std::to_string(fds[1]).c_str(), 1);
      setenv("QUIRE_KILL_COUNTER", std::to_string(counter).c_str(), 1);
      execl("/proc/self/exe", "engine_tests", "--gtest_filter=KillNineChild.Run", (char*)nullptr);
      _exit(127);
    }
    close(fds[1]);
    char ready[6];
    ASSERT_EQ(read(fds[0], ready, sizeof ready), ssize_t(sizeof ready)) << "the writer did not start";
    std::this_thread::sleep_for(std::chrono::milliseconds(moment(rng)));
    kill(pid, SIGKILL);
    collect(fds[0], acks);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "trial " << trial << ": the writer ended by itself, status " << status;

    {
      auto conn = store::openSqlite(dir / kPath, {.readOnly = true});
      auto check = conn->prepare("PRAGMA integrity_check");
      ASSERT_TRUE(check->step());
      ASSERT_EQ(check->text(0), "ok") << "trial " << trial;
    }
    HTDBHANDLE db = 0;
    ASSERT_EQ(HTDatabaseOpen("", kPath, 0, &db), HTSUCCESS) << "trial " << trial;
    for (const UNID& unid : acks.documents)
      if (HTDocumentLocateByUnid(db, &unid) == 0) ++missingDocuments;
    HTDOCHANDLE doc = 0;
    ASSERT_EQ(HTDocumentOpen(db, counter, 0, &doc), HTSUCCESS);
    double c = 0;
    HTINT type = HTTYPE_NUMBER, want = HTTYPE_NUMBER;
    HTUINT len = sizeof c;
    ASSERT_EQ(HTItemFetch(doc, "C", &type, &len, &want, &c), HTSUCCESS);
    HTDocumentClose(doc, 0);
    if (long(c) < acks.counter) ++lostIncrements;
    // Each writer may have saved one increment more than it reported before the kill.
    EXPECT_LE(long(c), std::max(acks.counter, counterSeen) + 1) << "trial " << trial;
    counterSeen = long(c);
    ASSERT_EQ(HTDatabaseClose(db, 0), HTSUCCESS);
  }
  EXPECT_EQ(missingDocuments, 0) << "acknowledged documents missing after a kill";
  EXPECT_EQ(lostIncrements, 0) << "kills after which an acknowledged increment was missing";
  std::printf("[ figures  ] %d kills (seed %u): %zu acknowledged documents and %ld acknowledged increments, "
              "%ld documents missing, %ld increments lost\n",
              trials, seed, acks.documents.size(), acks.counter, missingDocuments, lostIncrements);

  HTTerm(0);
  unsetenv("QUIRE_DATA");
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
}  // namespace quire::engine::test
