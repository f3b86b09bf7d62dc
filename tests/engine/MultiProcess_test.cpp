// Other processes: a second process sees environment strings and ACL changes, and a
// database written by a process killed with SIGKILL keeps every committed change.
//
// The second process is this test binary run again (fork + exec) with QUIRE_CHILD_ACTION
// set; ChildProcess.Run performs that action and is skipped in a normal run.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "EngineFixture.h"

namespace quire::engine::test {
namespace {

// ---- the child's side ----------------------------------------------------------------

void report(const std::string& line) {
  const char* fd = std::getenv("QUIRE_CHILD_FD");
  if (!fd) return;
  std::string out = line + "\n";
  ssize_t n = write(std::atoi(fd), out.data(), out.size());
  (void)n;
}

TEST(ChildProcess, Run) {
  const char* action = std::getenv("QUIRE_CHILD_ACTION");
  if (!action) GTEST_SKIP() << "runs only as the second process of another test";
  ASSERT_EQ(_HTInit(HTVERSION_LIBRARY, 0, 0, nullptr), HTSUCCESS);
  const std::string a = action;
  if (a == "env") {
    ASSERT_EQ(HTSetEnvironmentString("FromChild", "hello parent", 1), HTSUCCESS);
  } else if (a == "acl") {
    HTDBHANDLE db = 0;
    ASSERT_EQ(HTDatabaseOpen("", "shared.nsf", 0, &db), HTSUCCESS);
    HTACLENTRY e{};
    std::strcpy(e.name, "Added By Child");
    e.level = HTACLLEVEL_EDITOR;
    ASSERT_EQ(HTACLAdd(db, &e), HTSUCCESS);
    ASSERT_EQ(HTACLSetRoleName(db, 7, "[Child]"), HTSUCCESS);
  } else if (a == "write-forever") {
    HTDBHANDLE db = 0;
    ASSERT_EQ(HTDatabaseOpen("", "crash.nsf", 0, &db), HTSUCCESS);
    for (int i = 1;; ++i) {
      std::string title = "v" + std::to_string(i);
      ASSERT_EQ(HTDatabaseSetProperty(db, HTDATABASE_TITLE, title.c_str()), HTSUCCESS);
      report(std::to_string(i));  // only after the commit returned
    }
  } else if (a == "save-delayed") {
    HTDBHANDLE db = 0;
    ASSERT_EQ(HTDatabaseOpen("", "delayed.nsf", 0, &db), HTSUCCESS);
    const HTUINT on = 1;
    ASSERT_EQ(HTDatabaseSetProperty(db, HTDATABASE_DELAY_COMMIT, &on), HTSUCCESS);
    for (int i = 1;; ++i) {
      HTDOCHANDLE doc = 0;
      ASSERT_EQ(HTDocumentCreate(db, 0, &doc), HTSUCCESS);
      const std::string n = std::to_string(i);
      ASSERT_EQ(HTItemPut(doc, "N", HTTYPE_TEXT, 0, HTTYPE_TEXT, n.c_str(), 0), HTSUCCESS);
      ASSERT_EQ(HTDocumentSave(doc, 0), HTSUCCESS);
      ASSERT_EQ(HTDocumentClose(doc, 0), HTSUCCESS);
      report(n);  // only after the save returned
    }
  }
  HTTerm(0);
}

// ---- the parent's side ---------------------------------------------------------------

struct Child {
  pid_t pid = -1;
  int readFd = -1;
};

Child spawn(const char* action) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  Child c;
  c.pid = fork();
  if (c.pid == 0) {
    close(fds[0]);
    // The child's own test report would interleave with ours.
    if (FILE* quiet = freopen("/dev/null", "w", stdout)) (void)quiet;
    setenv("QUIRE_CHILD_ACTION", action, 1);
    setenv("QUIRE_CHILD_FD", std::to_string(fds[1]).c_str(), 1);
    execl("/proc/self/exe", "engine_tests", "--gtest_filter=ChildProcess.Run", (char*)nullptr);
    _exit(127);
  }
  close(fds[1]);
  c.readFd = fds[0];
  return c;
}

int finish(Child& c) {
  int status = 0;
  waitpid(c.pid, &status, 0);
  close(c.readFd);
  return status;
}

// Reads whole lines from the child until `enough` says stop or the pipe ends.
template <typename F>
std::string readUntil(int fd, F enough) {
  std::string all, last;
  char buf[256];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    all.append(buf, size_t(n));
    size_t end = all.rfind('\n');
    if (end == std::string::npos) continue;
    size_t start = all.rfind('\n', end - 1);
    last = all.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
    if (enough(last)) break;
  }
  return last;
}

using MultiProcessTest = EngineTest;

TEST_F(MultiProcessTest, SecondProcessSeesEnvironmentStrings) {
  char value[152];
  EXPECT_EQ(HTGetEnvironmentString("FromChild", 151, value), HTFAIL_ENTRY_NOT_FOUND);
  Child c = spawn("env");
  int status = finish(c);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(HTGetEnvironmentString("FromChild", 151, value), HTSUCCESS);
  EXPECT_STREQ(value, "hello parent");
  // And the other way round: a change here does not lose the child's.
  ASSERT_EQ(HTSetEnvironmentString("FromParent", "x", 1), HTSUCCESS);
  ASSERT_EQ(HTGetEnvironmentString("FromChild", 151, value), HTSUCCESS);
}

TEST_F(MultiProcessTest, SecondProcessSeesAclChangesOnAnOpenDatabase) {
  HTDBHANDLE db = createAndOpen("shared.nsf");
  Child c = spawn("acl");
  int status = finish(c);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  HTACLENTRY e{};
  ASSERT_EQ(HTACLLookup(db, "added by child", &e), HTSUCCESS);
  EXPECT_EQ(e.level, HTACLLEVEL_EDITOR);
  char role[HT_ROLE_NAME_CAPACITY];
  ASSERT_EQ(HTACLGetRoleName(db, 7, role), HTSUCCESS);
  EXPECT_STREQ(role, "[Child]");
}

TEST_F(MultiProcessTest, KillNineLosesNothingCommitted) {
  ASSERT_EQ(HTDatabaseCreate("", "crash.nsf", "v0", nullptr, 0), HTSUCCESS);
  Child c = spawn("write-forever");
  std::string last = readUntil(c.readFd, [](const std::string& line) { return std::stoi(line) >= 200; });
  ASSERT_FALSE(last.empty());
  kill(c.pid, SIGKILL);
  // Whatever the child reported after our last read also committed.
  std::string tail = readUntil(c.readFd, [](const std::string&) { return false; });
  if (!tail.empty()) last = tail;
  int status = finish(c);
  ASSERT_TRUE(WIFSIGNALED(status));
  const int committed = std::stoi(last);

  HTDBHANDLE db = 0;
  ASSERT_EQ(HTDatabaseOpen("", "crash.nsf", 0, &db), HTSUCCESS);
  char title[HT_TITLE_CAPACITY];
  ASSERT_EQ(HTDatabaseGetProperty(db, HTDATABASE_TITLE, title), HTSUCCESS);
  ASSERT_EQ(title[0], 'v');
  // The child may have committed one more change between its report and the kill.
  const int found = std::atoi(title + 1);
  EXPECT_GE(found, committed);
  EXPECT_LE(found, committed + 1);
  // The database is fully usable afterwards.
  EXPECT_EQ(HTDatabaseSetProperty(db, HTDATABASE_TITLE, "after"), HTSUCCESS);
}

// Delayed commit skips the sync to disk, not the write-ahead log: a process killed right
// after a save still leaves that document in the file.
TEST_F(MultiProcessTest, DelayedCommitSurvivesKillNine) {
  ASSERT_EQ(HTDatabaseCreate("", "delayed.nsf", "delayed", nullptr, 0), HTSUCCESS);
  Child c = spawn("save-delayed");
  std::string last = readUntil(c.readFd, [](const std::string& line) { return std::stoi(line) >= 100; });
  ASSERT_FALSE(last.empty());
  kill(c.pid, SIGKILL);
  std::string tail = readUntil(c.readFd, [](const std::string&) { return false; });
  if (!tail.empty()) last = tail;
  ASSERT_TRUE(WIFSIGNALED(finish(c)));
  const int saved = std::stoi(last);

  HTDBHANDLE db = 0;
  ASSERT_EQ(HTDatabaseOpen("", "delayed.nsf", 0, &db), HTSUCCESS);
  int found = 0;
  // Every document the child reported saved is there, with its item intact.
  for (HTID id = 1; id < HTID(saved) + 64 && found < saved + 1; ++id) {
    HTDOCHANDLE doc = 0;
    if (HTDocumentOpen(db, id, 0, &doc) != HTSUCCESS) continue;
    char text[32] = {};
    HTINT type = HTTYPE_TEXT, want = HTTYPE_TEXT;
    HTUINT len = sizeof text;
    if (HTItemFetch(doc, "N", &type, &len, &want, text) == HTSUCCESS) ++found;
    HTDocumentClose(doc, 0);
  }
  EXPECT_GE(found, saved);
  EXPECT_LE(found, saved + 1);
}

}  // namespace
}  // namespace quire::engine::test
