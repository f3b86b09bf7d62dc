// The property cache: values read from memory must never be stale or undone ones.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "engine/core/Status.h"
#include "engine/store/Properties.h"
#include "engine/store/Schema.h"
#include "engine/store/Transaction.h"

namespace quire::engine::store {
namespace {

class PropertyCache : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quire-props-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    auto conn = openSqlite(dir_ / "p.nsf", {.create = true});
    applySchema(*conn);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::unique_ptr<Connection> open() { return openSqlite(dir_ / "p.nsf", {}); }

  std::filesystem::path dir_;
};

TEST_F(PropertyCache, AnotherConnectionsCommitIsSeenAtOnce) {
  auto a = open(), b = open();
  prop::set(*a, "x", int64_t(1));
  EXPECT_EQ(prop::getInt(*b, "x", 0), 1);
  prop::set(*a, "x", int64_t(2));
  EXPECT_EQ(prop::getInt(*b, "x", 0), 2);  // b had 1 cached
  {
    Transaction tx(*a);
    prop::set(*a, "x", std::string_view("text now"));
    tx.commit();
  }
  EXPECT_EQ(prop::getText(*b, "x").value_or(""), "text now");
  EXPECT_FALSE(prop::getInt(*b, "missing").has_value());
  prop::set(*a, "missing", int64_t(7));
  EXPECT_EQ(prop::getInt(*b, "missing", 0), 7);  // an absent value is not cached for ever
}

TEST_F(PropertyCache, RolledBackWritesAreNotServed) {
  auto a = open();
  prop::set(*a, "x", int64_t(1));
  {
    Transaction tx(*a);
    prop::set(*a, "x", int64_t(5));
    EXPECT_EQ(prop::getInt(*a, "x", 0), 5);
  }  // rolled back
  EXPECT_EQ(prop::getInt(*a, "x", 0), 1);
  {
    Transaction outer(*a);
    {
      Transaction inner(*a);
      prop::set(*a, "x", int64_t(9));
    }  // the savepoint is undone, the outer transaction goes on
    EXPECT_EQ(prop::getInt(*a, "x", 0), 1);
    outer.commit();
  }
  EXPECT_EQ(prop::getInt(*open(), "x", 0), 1);
}

TEST_F(PropertyCache, LaterValuesAreReadAtOnceAndWrittenWithTheCommit) {
  auto a = open(), b = open();
  {
    Transaction tx(*a);
    for (int64_t n = 1; n <= 3; ++n) prop::setLater(*a, "counter", n);
    EXPECT_EQ(prop::getInt(*a, "counter", 0), 3);
    EXPECT_EQ(prop::getInt(*b, "counter", 0), 0);  // nothing committed yet
    tx.commit();
  }
  EXPECT_EQ(prop::getInt(*b, "counter", 0), 3);
  {
    // A growing value set in an undone savepoint still grows: numbers are never handed out
    // twice.
    Transaction outer(*a);
    {
      Transaction inner(*a);
      prop::setLater(*a, "counter", int64_t(4));
    }
    EXPECT_EQ(prop::getInt(*a, "counter", 0), 4);
    prop::setLater(*a, "counter", prop::getInt(*a, "counter", 0) + 1);
    outer.commit();
  }
  EXPECT_EQ(prop::getInt(*b, "counter", 0), 5);
}

// Between the writes of a grouped batch the connection keeps the write lock, so its cache
// is served without asking the file; once the batch is committed, others' writes count again.
TEST_F(PropertyCache, ValuesStayCurrentAcrossAGroupedBatch) {
  const BatchLimits before = batchLimits();
  setBatchLimits({1000, std::chrono::seconds(60)});
  auto a = open(), b = open();
  prop::set(*b, "x", int64_t(1));
  for (int64_t n = 2; n <= 4; ++n) {
    Transaction tx(*a, Commit::Grouped);
    EXPECT_EQ(prop::getInt(*a, "x", 0), n - 1);
    prop::set(*a, "x", n);
    tx.commit();
    ASSERT_TRUE(batchOpen(*a));
    EXPECT_EQ(prop::getInt(*a, "x", 0), n);
  }
  EXPECT_EQ(prop::getInt(*b, "x", 0), 1);  // not committed yet
  flushBatch(*a);
  EXPECT_EQ(prop::getInt(*b, "x", 0), 4);
  prop::set(*b, "x", int64_t(9));
  EXPECT_EQ(prop::getInt(*a, "x", 0), 9);
  setBatchLimits(before);
}

// A read snapshot checks the file once when it begins, sees one committed state while it
// lives, and leaves the cache to check again once it ends.
TEST_F(PropertyCache, ReadSnapshotSeesOneStateAndCommitsAfterIt) {
  auto a = open(), b = open();
  prop::set(*b, "x", int64_t(1));
  EXPECT_EQ(prop::getInt(*a, "x", 0), 1);
  prop::set(*b, "x", int64_t(2));
  {
    ReadSnapshot snapshot(*a);
    EXPECT_EQ(prop::getInt(*a, "x", 0), 2);  // the value cached before the snapshot is stale
    prop::set(*b, "x", int64_t(3));         // the snapshot takes no lock a writer waits for
    EXPECT_EQ(prop::getInt(*a, "x", 0), 2);
    auto st = a->prepare("SELECT value FROM properties WHERE name = 'x'");
    ASSERT_TRUE(st->step());
    EXPECT_EQ(st->int64(0), 2);
  }
  EXPECT_EQ(prop::getInt(*a, "x", 0), 3);
  EXPECT_FALSE(a->readSnapshot);
}

TEST_F(PropertyCache, ReadSnapshotNestsAndRefusesWrites) {
  auto a = open();
  {
    ReadSnapshot outer(*a);
    {
      ReadSnapshot inner(*a);
    }
    EXPECT_TRUE(a->readSnapshot);  // the inner one ended nothing
    EXPECT_THROW(Transaction tx(*a), quire::engine::Error);
  }
  EXPECT_FALSE(a->readSnapshot);
  {
    Transaction tx(*a);
    ReadSnapshot inside(*a);  // the transaction already holds the lock: nothing to begin
    EXPECT_FALSE(a->readSnapshot);
    prop::set(*a, "x", int64_t(4));
    tx.commit();
  }
  EXPECT_EQ(prop::getInt(*open(), "x", 0), 4);
}

// Empty values are bound without a copy; they must still read back as empty, not NULL, and
// a blob given no bytes but a length must bind NULL rather than read past anything.
TEST_F(PropertyCache, EmptyAndMissingValuesBindAsWhatTheyAre) {
  auto conn = open();
  auto st = conn->prepare("SELECT ?1 IS NULL, length(?1), typeof(?1), ?2 IS NULL, typeof(?2), ?3 IS NULL, ?4 IS NULL");
  st->bind(1, std::string_view()).bindBlob(2, nullptr, 0).bindBlob(3, nullptr, 16).bind(4, std::string_view("x", 0));
  ASSERT_TRUE(st->step());
  EXPECT_EQ(st->int64(0), 0);
  EXPECT_EQ(st->int64(1), 0);
  EXPECT_EQ(st->text(2), "text");
  EXPECT_EQ(st->int64(3), 0);
  EXPECT_EQ(st->text(4), "blob");
  EXPECT_EQ(st->int64(5), 1);
  EXPECT_EQ(st->int64(6), 0);
}

}  // namespace
}  // namespace quire::engine::store
