// Other processes: a second process sees environment strings and ACL changes, a database
// written by a process killed with SIGKILL keeps every committed change, and a batch of
// delayed commits neither corrupts a killed writer's file nor locks other writers out.
//
// The second process is this test binary run again (fork + exec) with QUIRE_CHILD_ACTION
// set; ChildProcess.Run performs that action and is skipped in a normal run.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "EngineFixture.h"
#include "engine/store/Storage.h"

#include <set>
#include <vector>

namespace quire::engine::test {
namespace {

// ---- the child's side ----------------------------------------------------------------

constexpr int kFlushedSaves = 50;

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
      ASSERT_EQ(HTItemPut(doc, "Copy", HTTYPE_TEXT, 0, HTTYPE_TEXT, n.c_str(), 0), HTSUCCESS);
      ASSERT_EQ(HTDocumentSave(doc, 0), HTSUCCESS);
      ASSERT_EQ(HTDocumentClose(doc, 0), HTSUCCESS);
      if (i == kFlushedSaves) {
        // Turning delayed commit off and on makes everything so far durable.
        const HTUINT off = 0;
        ASSERT_EQ(HTDatabaseSetProperty(db, HTDATABASE_DELAY_COMMIT, &off), HTSUCCESS);
        ASSERT_EQ(HTDatabaseSetProperty(db, HTDATABASE_DELAY_COMMIT, &on), HTSUCCESS);
      }
      report(n);  // only after the save returned
    }
  } else if (a == "update-forever") {
    HTDBHANDLE db = 0;
    ASSERT_EQ(HTDatabaseOpen("", "walk.nsf", 0, &db), HTSUCCESS);
    const HTID id = HTID(std::atol(std::getenv("QUIRE_CHILD_DOC")));
    for (int i = 1;; ++i) {
      HTDOCHANDLE doc = 0;
      ASSERT_EQ(HTDocumentOpen(db, id, 0, &doc), HTSUCCESS);
      const std::string n = std::to_string(i);
      ASSERT_EQ(HTItemPut(doc, "N", HTTYPE_TEXT, 0, HTTYPE_TEXT, n.c_str(), 0), HTSUCCESS);
      ASSERT_EQ(HTDocumentSave(doc, 0), HTSUCCESS);
      ASSERT_EQ(HTDocumentClose(doc, 0), HTSUCCESS);
      report(n);  // only after the save returned
    }
  } else if (a == "write-once") {
    HTDBHANDLE db = 0;
    ASSERT_EQ(HTDatabaseOpen("", "busy.nsf", 0, &db), HTSUCCESS);
    ASSERT_EQ(HTDatabaseSetProperty(db, HTDATABASE_TITLE, "written by child"), HTSUCCESS);
    report("ok");
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

// With delayed commit a process killed mid-run loses at most the saves of its open batch:
// the file opens, everything made durable before the last flush is there, and what is there
// is a run of whole saves from the first on -- no save half written, none skipped.
TEST_F(MultiProcessTest, DelayedCommitKilledKeepsAPrefixOfWholeSaves) {
  ASSERT_EQ(HTDatabaseCreate("", "delayed.nsf", "delayed", nullptr, 0), HTSUCCESS);
  Child c = spawn("save-delayed");
  std::string last = readUntil(c.readFd, [](const std::string& line) { return std::stoi(line) >= 2 * kFlushedSaves; });
  ASSERT_FALSE(last.empty());
  kill(c.pid, SIGKILL);
  std::string tail = readUntil(c.readFd, [](const std::string&) { return false; });
  if (!tail.empty()) last = tail;
  ASSERT_TRUE(WIFSIGNALED(finish(c)));
  const int saved = std::stoi(last);

  std::vector<HTID> ids;
  {
    auto conn = store::openSqlite(dataDir_ / "delayed.nsf", {.readOnly = true});
    auto check = conn->prepare("PRAGMA integrity_check");
    ASSERT_TRUE(check->step());
    EXPECT_EQ(check->text(0), "ok");
    auto list = conn->prepare("SELECT note_id FROM notes WHERE note_class = 1 AND deleted = 0");
    while (list->step()) ids.push_back(HTID(list->int64(0)));
  }
  HTDBHANDLE db = 0;
  ASSERT_EQ(HTDatabaseOpen("", "delayed.nsf", 0, &db), HTSUCCESS);
  std::set<int> present;
  for (HTID id : ids) {
    HTDOCHANDLE doc = 0;
    ASSERT_EQ(HTDocumentOpen(db, id, 0, &doc), HTSUCCESS);
    char n[32] = {}, copy[32] = {};
    HTINT type = HTTYPE_TEXT, want = HTTYPE_TEXT;
    HTUINT len = sizeof n;
    ASSERT_EQ(HTItemFetch(doc, "N", &type, &len, &want, n), HTSUCCESS);
    len = sizeof copy;
    ASSERT_EQ(HTItemFetch(doc, "Copy", &type, &len, &want, copy), HTSUCCESS);
    EXPECT_STREQ(n, copy);
    present.insert(std::atoi(n));
    HTDocumentClose(doc, 0);
  }
  const int kept = int(present.size());
  EXPECT_GE(kept, kFlushedSaves);
  EXPECT_LE(kept, saved + 1);
  if (!present.empty()) {
    EXPECT_EQ(*present.begin(), 1);
    EXPECT_EQ(*present.rbegin(), kept);
  }
  EXPECT_EQ(HTDatabaseSetProperty(db, HTDATABASE_TITLE, "after"), HTSUCCESS);
}

// A batch left open by an idle writer is committed by its flusher, so another process's
// write gets the lock well within its busy timeout and lands after the batch.
TEST_F(MultiProcessTest, SecondProcessCanWriteWhileABatchIsOpen) {
  HTDBHANDLE db = createAndOpen("busy.nsf", "parent");
  const HTUINT on = 1;
  ASSERT_EQ(HTDatabaseSetProperty(db, HTDATABASE_DELAY_COMMIT, &on), HTSUCCESS);
  for (int i = 0; i < 3; ++i) {
    HTDOCHANDLE doc = 0;
    ASSERT_EQ(HTDocumentCreate(db, 0, &doc), HTSUCCESS);
    ASSERT_EQ(HTDocumentSave(doc, 0), HTSUCCESS);
    HTDocumentClose(doc, 0);
  }
  Child c = spawn("write-once");
  const std::string reply = readUntil(c.readFd, [](const std::string&) { return true; });
  const int status = finish(c);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(reply, "ok");
  char title[HT_TITLE_CAPACITY];
  ASSERT_EQ(HTDatabaseGetProperty(db, HTDATABASE_TITLE, title), HTSUCCESS);
  EXPECT_STREQ(title, "written by child");
  auto conn = store::openSqlite(dataDir_ / "busy.nsf", {.readOnly = true});
  auto count = conn->prepare("SELECT count(*) FROM notes WHERE note_class = 1 AND deleted = 0");
  ASSERT_TRUE(count->step());
  EXPECT_EQ(count->int64(0), 3);
}

// The number item "N" of document `id`, read through a fresh open.
int openedNumber(HTDBHANDLE db, HTID id) {
  HTDOCHANDLE doc = 0;
  if (HTDocumentOpen(db, id, 0, &doc) != HTSUCCESS) return -1;
  char n[32] = {};
  HTINT type = HTTYPE_TEXT, want = HTTYPE_TEXT;
  HTUINT len = sizeof n - 1;
  const HTSTATUS s = HTItemFetch(doc, "N", &type, &len, &want, n);
  HTDocumentClose(doc, 0);
  return s == HTSUCCESS ? std::atoi(n) : -1;
}

HTID saveNumbered(HTDBHANDLE db, int n) {
  HTDOCHANDLE doc = 0;
  EXPECT_EQ(HTDocumentCreate(db, 0, &doc), HTSUCCESS);
  const std::string text = std::to_string(n);
  EXPECT_EQ(HTItemPut(doc, "N", HTTYPE_TEXT, 0, HTTYPE_TEXT, text.c_str(), 0), HTSUCCESS);
  EXPECT_EQ(HTDocumentSave(doc, 0), HTSUCCESS);
  HTID id = 0;
  EXPECT_EQ(HTDocumentGetProperty(doc, HTDOCUMENT_DOCID, &id), HTSUCCESS);
  HTDocumentClose(doc, 0);
  return id;
}

// Documents opened one after another share a read snapshot while nothing changes; a walk
// that goes on while another process saves must still see every save reported before each
// open.
TEST_F(MultiProcessTest, LongWalkSeesEverySaveOfAnotherProcess) {
  HTDBHANDLE db = createAndOpen("walk.nsf");
  std::vector<HTID> ids;
  for (int i = 0; i < 30; ++i) ids.push_back(saveNumbered(db, 0));
  const HTID target = ids[17];
  setenv("QUIRE_CHILD_DOC", std::to_string(target).c_str(), 1);
  Child c = spawn("update-forever");
  unsetenv("QUIRE_CHILD_DOC");
  int reported = 0;
  while (reported < 300) {
    const std::string line = readUntil(c.readFd, [](const std::string&) { return true; });
    ASSERT_FALSE(line.empty()) << "the writer stopped";
    reported = std::max(reported, std::atoi(line.c_str()));
    for (HTID id : ids) {
      const int seen = openedNumber(db, id);
      if (id == target) {
        ASSERT_GE(seen, reported);
      } else {
        ASSERT_EQ(seen, 0);
      }
    }
  }
  kill(c.pid, SIGKILL);
  finish(c);
}

// A read kept open after a document open ends soon once nothing else is opened, so another
// connection's checkpoint copies the whole log back.
TEST_F(MultiProcessTest, IdleReaderDoesNotHoldBackCheckpoints) {
  HTDBHANDLE db = createAndOpen("idle.nsf");
  const HTID id = saveNumbered(db, 1);
  EXPECT_EQ(openedNumber(db, id), 1);
  auto writer = store::openSqlite(dataDir_ / "idle.nsf", {});
  writer->exec("CREATE TABLE extra(x)");
  bool copiedAll = false;
  for (int attempt = 0; attempt < 200 && !copiedAll; ++attempt) {
    auto st = writer->prepare("PRAGMA wal_checkpoint(PASSIVE)");
    ASSERT_TRUE(st->step());
    copiedAll = st->int64(1) == st->int64(2);
    st.reset();
    if (!copiedAll) usleep(10'000);
  }
  EXPECT_TRUE(copiedAll);
  EXPECT_EQ(openedNumber(db, id), 1);
}

}  // namespace
}  // namespace quire::engine::test
