// Read snapshots kept open between reads: a kept snapshot must never show a state older than
// the last commit of any connection, never swallow a write of its own connection, and end
// when asked so that checkpoints can go on.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "engine/core/Status.h"
#include "engine/store/Schema.h"
#include "engine/store/Transaction.h"

namespace quire::engine::store {
namespace {

class KeptRead : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quire-kept-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    auto conn = openSqlite(dir_ / "k.nsf", {.create = true});
    applySchema(*conn);
    conn->exec("CREATE TABLE t(k INTEGER PRIMARY KEY, v INTEGER)");
    conn->exec("INSERT INTO t VALUES(1, 0)");
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::unique_ptr<Connection> open() { return openSqlite(dir_ / "k.nsf", {}); }

  // v as one snapshot of `conn` sees it.
  static int64_t snapshotValue(Connection& conn) {
    ReadSnapshot snapshot(conn, ReadSnapshot::Keep::MayKeep);
    auto st = conn.prepare("SELECT v FROM t WHERE k = 1");
    return st->step() ? st->int64(0) : -1;
  }
  static void write(Connection& conn, int64_t v) {
    Transaction tx(conn);
    conn.prepare("UPDATE t SET v = ?1 WHERE k = 1")->bind(1, v).run();
    tx.commit();
  }
  // Frames in the log and frames copied back by a passive checkpoint run on `conn`.
  static std::pair<int64_t, int64_t> checkpoint(Connection& conn) {
    auto st = conn.prepare("PRAGMA wal_checkpoint(PASSIVE)");
    EXPECT_TRUE(st->step());
    return {st->int64(1), st->int64(2)};
  }

  std::filesystem::path dir_;
};

TEST_F(KeptRead, EverySnapshotSeesTheCommitsMadeBeforeIt) {
  auto reader = open(), writer = open();
  EXPECT_EQ(snapshotValue(*reader), 0);
  EXPECT_TRUE(reader->readKept());
  EXPECT_EQ(snapshotValue(*reader), 0);  // nothing committed: the kept one serves again
  for (int64_t v = 1; v <= 50; ++v) {
    write(*writer, v);
    EXPECT_EQ(snapshotValue(*reader), v);
    EXPECT_EQ(snapshotValue(*reader), v);
  }
  // Whichever connection commits.
  auto third = open();
  write(*third, 77);
  EXPECT_EQ(snapshotValue(*reader), 77);
}

TEST_F(KeptRead, OwnWritesAndReadsOutsideSnapshotsEndIt) {
  auto a = open(), b = open();
  EXPECT_EQ(snapshotValue(*a), 0);
  ASSERT_TRUE(a->readKept());
  // A write of the same connection ends the kept read and commits for real.
  write(*a, 5);
  EXPECT_FALSE(a->readKept());
  EXPECT_EQ(snapshotValue(*b), 5);

  // A plain statement after a kept read runs on its own, current state.
  EXPECT_EQ(snapshotValue(*a), 5);
  write(*b, 6);
  auto st = a->prepare("SELECT v FROM t WHERE k = 1");
  EXPECT_FALSE(a->readKept());
  ASSERT_TRUE(st->step());
  EXPECT_EQ(st->int64(0), 6);
  st.reset();

  // Same for the data version other caches ask, and a direct script.
  EXPECT_EQ(snapshotValue(*a), 6);
  const int64_t before = a->dataVersion();
  EXPECT_EQ(snapshotValue(*a), 6);
  write(*b, 7);
  EXPECT_NE(a->dataVersion(), before);
  EXPECT_EQ(snapshotValue(*a), 7);
  a->exec("UPDATE t SET v = 8 WHERE k = 1");
  EXPECT_EQ(snapshotValue(*b), 8);
}

TEST_F(KeptRead, InsideAWriteTransactionNothingIsKept) {
  auto a = open();
  {
    Transaction tx(*a);
    a->prepare("UPDATE t SET v = 9 WHERE k = 1")->run();
    EXPECT_EQ(snapshotValue(*a), 9);  // its own uncommitted write
    EXPECT_FALSE(a->readKept());
    tx.commit();
  }
  EXPECT_EQ(snapshotValue(*open()), 9);
  // A write transaction begun while a read is kept is not nested inside it: rolled back, its
  // change is gone, and the next write commits for real.
  EXPECT_EQ(snapshotValue(*a), 9);
  {
    Transaction tx(*a);
    a->prepare("UPDATE t SET v = 10 WHERE k = 1")->run();
  }
  EXPECT_EQ(snapshotValue(*open()), 9);
  write(*a, 11);
  EXPECT_EQ(snapshotValue(*open()), 11);
}

TEST_F(KeptRead, CheckpointsPassOnceItEnds) {
  auto reader = open(), writer = open();
  write(*writer, 1);
  EXPECT_EQ(snapshotValue(*reader), 1);
  ASSERT_TRUE(reader->readKept());
  write(*writer, 2);
  auto [logged, copied] = checkpoint(*writer);
  EXPECT_LT(copied, logged);  // the kept snapshot still needs the older pages
  reader->endKeptRead();
  EXPECT_FALSE(reader->readKept());
  std::tie(logged, copied) = checkpoint(*writer);
  EXPECT_EQ(copied, logged);
  EXPECT_EQ(snapshotValue(*reader), 2);
}

TEST_F(KeptRead, ASnapshotIsNotKeptPastItsAge) {
  auto a = open();
  {
    ReadSnapshot held(*a, ReadSnapshot::Keep::MayKeep);
    a->prepare("SELECT v FROM t")->step();
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
  }
  EXPECT_FALSE(a->readKept());
}

// Only a reader that also starts the flusher may leave its read open: any other snapshot
// (view opens, searches) ends its read, even one that reused a kept read, so a process that
// searched and fell idle cannot hold back checkpoints.
TEST_F(KeptRead, OnlyASnapshotThatAsksLeavesItsReadOpen) {
  auto reader = open(), writer = open();
  {
    ReadSnapshot plain(*reader);
    reader->prepare("SELECT v FROM t")->step();
  }
  EXPECT_FALSE(reader->readKept());
  EXPECT_EQ(snapshotValue(*reader), 0);
  ASSERT_TRUE(reader->readKept());
  {
    ReadSnapshot plain(*reader);  // reuses the kept read, and ends it
    auto st = reader->prepare("SELECT v FROM t WHERE k = 1");
    ASSERT_TRUE(st->step());
    EXPECT_EQ(st->int64(0), 0);
  }
  EXPECT_FALSE(reader->readKept());
  write(*writer, 5);
  auto [logged, copied] = checkpoint(*writer);
  EXPECT_EQ(copied, logged);
}

}  // namespace
}  // namespace quire::engine::store
