// Internal building blocks that the C API reaches only indirectly: handles, the ini file,
// list cursors, path resolution, item value forms, nested transactions and new UNIDs.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "engine/core/Handles.h"
#include "engine/core/Ini.h"
#include "engine/core/ListCursor.h"
#include "engine/core/Paths.h"
#include "engine/core/Process.h"
#include "engine/store/ItemCodec.h"
#include "engine/store/NoteStore.h"
#include "engine/store/Schema.h"
#include "engine/store/Transaction.h"

namespace quire::engine::test {
namespace {

TEST(EngineHandles, StaleAndForeignHandlesFail) {
  auto& table = HandleTable::instance();
  auto obj = std::make_shared<int>(42);
  uint32_t h = table.add(HandleKind::Document, obj);
  EXPECT_NE(h, 0u);
  EXPECT_EQ(*table.get<int>(HandleKind::Document, h), 42);
  EXPECT_EQ(table.find(HandleKind::Index, h), nullptr);
  EXPECT_NE(table.remove(HandleKind::Document, h), nullptr);
  EXPECT_EQ(table.find(HandleKind::Document, h), nullptr);
  // The slot is reused only with a new generation, so the old handle stays dead.
  std::vector<uint32_t> again;
  for (int i = 0; i < 64; ++i) again.push_back(table.add(HandleKind::Document, obj));
  for (uint32_t n : again) EXPECT_NE(n, h);
  EXPECT_EQ(table.find(HandleKind::Document, h), nullptr);
  EXPECT_EQ(table.find(HandleKind::Document, 0), nullptr);
  EXPECT_EQ(table.find(HandleKind::Document, 0xFFFFFFFF), nullptr);
  for (uint32_t n : again) table.remove(HandleKind::Document, n);
}

// Each thread remembers handles it found; a close on any thread must end that, and the
// memory must not keep a closed handle's object alive.
TEST(EngineHandles, RememberedHandlesEndWithTheirCloseOnAnyThread) {
  auto& table = HandleTable::instance();
  bool destroyed = false;
  auto object = std::shared_ptr<int>(new int(7), [&](int* p) {
    destroyed = true;
    delete p;
  });
  const uint32_t h = table.add(HandleKind::Document, std::move(object));
  ASSERT_NE(table.find(HandleKind::Document, h), nullptr);
  EXPECT_EQ(table.find(HandleKind::Composite, h), nullptr);  // remembered, but not of that kind
  ASSERT_NE(table.find(HandleKind::Document, h), nullptr);
  EXPECT_NE(table.remove(HandleKind::Document, h), nullptr);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(table.find(HandleKind::Document, h), nullptr);

  // Found on another thread, closed here while that thread waits, asked for there again.
  const uint32_t other = table.add(HandleKind::Document, std::make_shared<int>(8));
  std::mutex mutex;
  std::condition_variable changed;
  int step = 0;
  bool foundBefore = false, foundAfter = true;
  std::thread reader([&] {
    foundBefore = table.find(HandleKind::Document, other) != nullptr;
    std::unique_lock lock(mutex);
    step = 1;
    changed.notify_all();
    changed.wait(lock, [&] { return step == 2; });
    foundAfter = table.find(HandleKind::Document, other) != nullptr;
  });
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return step == 1; });
    table.remove(HandleKind::Document, other);
    step = 2;
    changed.notify_all();
  }
  reader.join();
  EXPECT_TRUE(foundBefore);
  EXPECT_FALSE(foundAfter);
}

TEST(EngineIni, RoundTripsEscapesAndIgnoresCaseOfKeys) {
  IniFile ini = IniFile::parse("; comment\n[Session]\nUserName = Ann\n\n[Environment]\nA=1\r\nweird line\n");
  EXPECT_EQ(ini.get("session", "username"), "Ann");
  ini.set("Environment", "a", "x\\y\nz");
  IniFile back = IniFile::parse(ini.serialize());
  EXPECT_EQ(back.get("Environment", "A"), "x\\y\nz");
  EXPECT_EQ(back.entries("Environment").size(), 1u);
  EXPECT_TRUE(back.remove("Environment", "A"));
  EXPECT_FALSE(back.get("Environment", "A"));
}

TEST(EngineListCursor, ModesWalkTheSnapshot) {
  ListCursor<int> c;
  int loads = 0;
  auto load = [&] {
    ++loads;
    return std::vector<int>{1, 2, 3};
  };
  int v = 0;
  EXPECT_EQ(c.step(HTLIST_CURRENT, load, v), HTFAIL_END_OF_LIST);
  EXPECT_EQ(c.step(HTLIST_FIRST, load, v), HTSUCCESS);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(c.step(HTLIST_NEXT, load, v), HTSUCCESS);
  EXPECT_EQ(c.step(HTLIST_CURRENT, load, v), HTSUCCESS);
  EXPECT_EQ(v, 2);
  EXPECT_EQ(c.step(HTLIST_NEXT, load, v), HTSUCCESS);
  EXPECT_EQ(c.step(HTLIST_NEXT, load, v), HTFAIL_END_OF_LIST);
  EXPECT_EQ(c.step(HTLIST_PREVIOUS, load, v), HTSUCCESS);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(c.step(HTLIST_LAST, load, v), HTSUCCESS);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(loads, 2);
  EXPECT_EQ(c.step(42, load, v), HTFAIL_INVALID_ARGUMENT);
}

TEST(EngineCodec, ValueFormsRoundTripAndRejectTruncation) {
  store::Blob list = store::codec::encodeTextList({"a", "", "Grüße"});
  std::vector<std::string> back;
  ASSERT_TRUE(store::codec::decodeTextList(list, back));
  EXPECT_EQ(back, (std::vector<std::string>{"a", "", "Grüße"}));
  EXPECT_EQ(store::codec::textListCount(list.data()), 3u);
  const char* text;
  uint32_t len;
  ASSERT_TRUE(store::codec::textListEntry(list.data(), 2, text, len));
  EXPECT_EQ(std::string(text), "Grüße");  // entries are terminated in place
  EXPECT_FALSE(store::codec::textListEntry(list.data(), 3, text, len));
  list.pop_back();
  EXPECT_FALSE(store::codec::decodeTextList(list, back));
  std::vector<double> nums;
  EXPECT_TRUE(store::codec::decodeNumberList(store::codec::encodeNumberList({1.5, -2}), nums));
  EXPECT_EQ(nums, (std::vector<double>{1.5, -2}));
  store::Blob bad = {255, 255, 255, 255};
  EXPECT_FALSE(store::codec::decodeNumberList(bad, nums));
}

TEST(EngineStore, NestedTransactionsRollBackOnlyTheirPart) {
  char tmpl[] = "/tmp/quire-store-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::filesystem::path dir(tmpl);
  {
    auto conn = store::openSqlite(dir / "t.nsf", {.create = true});
    store::applySchema(*conn);
    store::Transaction outer(*conn);
    conn->exec("INSERT INTO properties VALUES('a', 1)");
    {
      store::Transaction inner(*conn);
      conn->exec("INSERT INTO properties VALUES('b', 2)");
    }  // not committed: rolled back
    outer.commit();
    auto st = conn->prepare("SELECT group_concat(name) FROM properties");
    ASSERT_TRUE(st->step());
    EXPECT_EQ(st->text(0), "a");
  }
  std::filesystem::remove_all(dir);
}

// New UNIDs sort by creation in their stored bytes (so they append to the UNID index), lead
// with the time, and stay distinct in a forked process that starts from the same state.
TEST(EngineUnid, NewOnesSortByCreationAndDifferAcrossProcesses) {
  std::vector<store::Blob> made;
  for (int i = 0; i < 20000; ++i) made.push_back(store::unidBlob(store::newUnid()));
  EXPECT_TRUE(std::adjacent_find(made.begin(), made.end(), std::greater_equal<>()) == made.end())
      << "UNIDs made later must sort after earlier ones";
  uint64_t millis = 0;
  for (int i = 0; i < 6; ++i) millis = millis << 8 | made.back()[size_t(i)];
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_LE(millis, uint64_t(now) + 1000);
  EXPECT_GE(millis, uint64_t(now) - 60000);
  // The text form and the stored size are those of any UNID.
  EXPECT_EQ(made.back().size(), 16u);
  EXPECT_EQ(store::unidBlob(store::unidFromBlob(made.back())), made.back());

  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  constexpr int kEach = 2000;
  if (child == 0) {
    close(pipeFds[0]);
    for (int i = 0; i < kEach; ++i) {
      const store::Blob b = store::unidBlob(store::newUnid());
      if (write(pipeFds[1], b.data(), b.size()) != ssize_t(b.size())) _exit(1);
    }
    _exit(0);
  }
  close(pipeFds[1]);
  std::set<store::Blob> mine;
  for (int i = 0; i < kEach; ++i) mine.insert(store::unidBlob(store::newUnid()));
  int clashes = 0, received = 0;
  store::Blob b(16);
  while (read(pipeFds[0], b.data(), b.size()) == ssize_t(b.size())) {
    ++received;
    clashes += int(mine.count(b));
  }
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(received, kEach);
  EXPECT_EQ(clashes, 0);
}

TEST(EngineProcess, TheCachedIdFollowsAFork) {
  EXPECT_EQ(currentProcess(), getpid());
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(currentProcess() == getpid() ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a forked child saw its parent's id";
  EXPECT_EQ(currentProcess(), getpid());
}

TEST(EnginePaths, ResolvesInsideAndRefusesEscapes) {
  char tmpl[] = "/tmp/quire-paths-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::filesystem::path root = std::filesystem::canonical(tmpl);
  std::filesystem::create_directories(root / "Mail");
  paths::Resolved r;
  ASSERT_EQ(paths::resolve(root, "mail\\x.nsf", r), HTSUCCESS);
  EXPECT_EQ(r.apiPath, "Mail\\x.nsf");
  ASSERT_EQ(paths::resolve(root, "mail\\..", r), HTSUCCESS);
  EXPECT_EQ(r.apiPath, "");
  EXPECT_EQ(paths::resolve(root, "mail\\..\\..", r), HTFAIL_PATH_OUTSIDE);
  EXPECT_EQ(paths::resolve(root, std::string(root.parent_path()) + "/other", r), HTFAIL_PATH_OUTSIDE);
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace quire::engine::test
