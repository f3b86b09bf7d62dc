// Delayed commit groups saves into shared commits: what another connection sees and when,
// a failing write inside a batch, the ways a batch gets committed, and failures of the batch
// commit itself. The other-process cases (kill -9, a second writer) are in
// MultiProcess_test.cpp.
#include <chrono>
#include <thread>

#include "EngineFixture.h"
#include "engine/core/Status.h"
#include "engine/db/Database.h"
#include "engine/store/NoteStore.h"
#include "engine/store/Properties.h"
#include "engine/store/Transaction.h"

namespace quire::engine::test {
namespace {

using namespace std::chrono_literals;

class DelayedCommitTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    saved_ = store::batchLimits();
    // Long enough that the flusher stays out of the way unless a test shortens it.
    store::setBatchLimits({1000, 60s});
  }
  void TearDown() override {
    EngineTest::TearDown();
    store::setBatchLimits(saved_);
  }

  HTDBHANDLE openDelayed(const char* path) {
    HTDBHANDLE db = createAndOpen(path);
    const HTUINT on = 1;
    EXPECT_EQ(HTDatabaseSetProperty(db, HTDATABASE_DELAY_COMMIT, &on), HTSUCCESS);
    return db;
  }

  static HTID save(HTDBHANDLE db, const std::string& value) {
    HTDOCHANDLE doc = 0;
    EXPECT_EQ(HTDocumentCreate(db, 0, &doc), HTSUCCESS);
    EXPECT_EQ(HTItemPut(doc, "N", HTTYPE_TEXT, 0, HTTYPE_TEXT, value.c_str(), 0), HTSUCCESS);
    EXPECT_EQ(HTDocumentSave(doc, 0), HTSUCCESS);
    HTID id = 0;
    HTDocumentGetProperty(doc, HTDOCUMENT_DOCID, &id);
    HTDocumentClose(doc, 0);
    return id;
  }

  // Documents in the file as a separate connection (another process) sees them.
  int64_t committedDocuments(const char* path) {
    auto conn = store::openSqlite(dataDir_ / path, {.readOnly = true});
    auto st = conn->prepare("SELECT count(*) FROM notes WHERE note_class = ?1 AND deleted = 0");
    st->bind(1, int64_t(store::note_class::kDocument));
    return st->step() ? st->int64(0) : -1;
  }

  store::BatchLimits saved_;
};

TEST_F(DelayedCommitTest, SavesAreVisibleInProcessAtOnceAndToOthersAfterClose) {
  HTDBHANDLE db = openDelayed("grouped.nsf");
  HTID first = 0;
  for (int i = 0; i < 5; ++i) {
    HTID id = save(db, "v" + std::to_string(i));
    if (i == 0) first = id;
  }
  EXPECT_EQ(committedDocuments("grouped.nsf"), 0);
  // The same process reads through the connection holding the batch.
  HTDOCHANDLE doc = 0;
  ASSERT_EQ(HTDocumentOpen(db, first, 0, &doc), HTSUCCESS);
  HTDocumentClose(doc, 0);
  ASSERT_EQ(HTDatabaseClose(db, 0), HTSUCCESS);
  EXPECT_EQ(committedDocuments("grouped.nsf"), 5);
}

TEST_F(DelayedCommitTest, BatchCommitsAtTheWriteLimitAndAfterItsAge) {
  store::setBatchLimits({3, 60s});
  HTDBHANDLE db = openDelayed("limits.nsf");
  save(db, "1");
  save(db, "2");
  EXPECT_EQ(committedDocuments("limits.nsf"), 0);
  save(db, "3");
  EXPECT_EQ(committedDocuments("limits.nsf"), 3);

  // An idle batch is committed by the background flusher, with no further call from us.
  store::setBatchLimits({1000, 50ms});
  save(db, "4");
  int64_t seen = 0;
  for (int i = 0; i < 200 && seen != 4; ++i) {
    std::this_thread::sleep_for(10ms);
    seen = committedDocuments("limits.nsf");
  }
  EXPECT_EQ(seen, 4);
}

TEST_F(DelayedCommitTest, TurningDelayOffOrAnUndelayedWriteCommitsTheBatch) {
  HTDBHANDLE db = openDelayed("off.nsf");
  save(db, "a");
  save(db, "b");
  EXPECT_EQ(committedDocuments("off.nsf"), 0);
  const HTUINT off = 0, on = 1;
  ASSERT_EQ(HTDatabaseSetProperty(db, HTDATABASE_DELAY_COMMIT, &off), HTSUCCESS);
  EXPECT_EQ(committedDocuments("off.nsf"), 2);

  // A handle without delayed commit on the same database: its save is durable when it
  // returns, and so is the batch written before it.
  ASSERT_EQ(HTDatabaseSetProperty(db, HTDATABASE_DELAY_COMMIT, &on), HTSUCCESS);
  save(db, "c");
  HTDBHANDLE plain = 0;
  ASSERT_EQ(HTDatabaseOpen("", "off.nsf", 0, &plain), HTSUCCESS);
  save(plain, "d");
  EXPECT_EQ(committedDocuments("off.nsf"), 4);

  // The session-wide switch, turned off, commits every database's batch.
  save(db, "e");
  ASSERT_EQ(HTSetProperty(HTSESSION_DELAY_COMMIT, &on), HTSUCCESS);
  save(plain, "f");
  EXPECT_EQ(committedDocuments("off.nsf"), 4);
  const uint8_t offByte = 0;
  ASSERT_EQ(HTSetProperty(HTSESSION_DELAY_COMMIT, &offByte), HTSUCCESS);
  EXPECT_EQ(committedDocuments("off.nsf"), 6);
}

TEST_F(DelayedCommitTest, HTTermCommitsOpenBatches) {
  HTDBHANDLE db = openDelayed("term.nsf");
  save(db, "x");
  EXPECT_EQ(committedDocuments("term.nsf"), 0);
  ASSERT_EQ(HTTerm(0), HTSUCCESS);
  EXPECT_EQ(committedDocuments("term.nsf"), 1);
  ASSERT_EQ(_HTInit(HTVERSION_LIBRARY, 0, 0, nullptr), HTSUCCESS);
}

// Store level: a write that fails inside a batch is undone alone, the batch goes on.
TEST_F(DelayedCommitTest, FailingWriteInsideABatchRollsBackAlone) {
  createAndOpen("fail.nsf");
  auto db = db::openFile(dataDir_ / "fail.nsf");
  auto lock = db->lock();
  store::Connection& conn = db->conn();
  const auto write = [&](const char* name, bool breakIt) {
    store::Transaction tx(conn, store::Commit::Grouped);
    store::prop::set(conn, name, int64_t(1));
    if (breakIt) conn.exec("INSERT INTO no_such_table VALUES (1)");
    tx.commit();
  };
  write("first", false);
  EXPECT_THROW(write("broken", true), Error);
  EXPECT_TRUE(store::batchOpen(conn));
  write("third", false);
  EXPECT_FALSE(store::inTransaction(conn));
  db->flush();
  EXPECT_FALSE(store::batchOpen(conn));

  auto other = store::openSqlite(dataDir_ / "fail.nsf", {.readOnly = true});
  EXPECT_TRUE(store::prop::getInt(*other, "first").has_value());
  EXPECT_FALSE(store::prop::getInt(*other, "broken").has_value());
  EXPECT_TRUE(store::prop::getInt(*other, "third").has_value());
}

// A batch whose COMMIT fails must not pass for committed: the write that ended it gets the
// error; when a deferred flush met it, the next write or flush does.
TEST_F(DelayedCommitTest, FailedBatchCommitIsReportedNotDropped) {
  createAndOpen("deferred.nsf");
  auto db = db::openFile(dataDir_ / "deferred.nsf");
  auto lock = db->lock();
  store::Connection& conn = db->conn();
  // A deferred foreign key fails only at COMMIT, which is what a full disk looks like too.
  conn.exec("CREATE TABLE parent(id INTEGER PRIMARY KEY); "
            "CREATE TABLE child(p INTEGER REFERENCES parent(id) DEFERRABLE INITIALLY DEFERRED)");
  const auto orphan = [&](store::Commit mode) {
    store::Transaction tx(conn, mode);
    conn.exec("INSERT INTO child VALUES (42)");
    store::prop::set(conn, "orphan", int64_t(1));
    tx.commit();
  };

  orphan(store::Commit::Grouped);
  EXPECT_THROW(db->flush(), Error);
  EXPECT_FALSE(store::batchOpen(conn));
  EXPECT_FALSE(store::prop::getInt(conn, "orphan").has_value());

  orphan(store::Commit::Grouped);
  std::string error;
  EXPECT_FALSE(store::flushBatchDeferred(conn, &error));
  EXPECT_NE(error.find("lost"), std::string::npos) << error;
  // The next write is refused with that error rather than succeeding on top of the loss.
  EXPECT_THROW(orphan(store::Commit::Now), Error);
  // Reported once: writing works again afterwards.
  {
    store::Transaction tx(conn, store::Commit::Grouped);
    store::prop::set(conn, "later", int64_t(1));
    tx.commit();
  }
  EXPECT_NO_THROW(db->flush());
  EXPECT_TRUE(store::prop::getInt(conn, "later").has_value());

  // A Now write that joins a batch and then fails to commit it reports the failure itself.
  orphan(store::Commit::Grouped);
  EXPECT_THROW(
      {
        store::Transaction tx(conn, store::Commit::Now);
        store::prop::set(conn, "durable", int64_t(1));
        tx.commit();
      },
      Error);
  EXPECT_FALSE(store::prop::getInt(conn, "durable").has_value());
}

TEST_F(DelayedCommitTest, CloseReturnsTheFailureOfItsBatch) {
  HTDBHANDLE h = openDelayed("close.nsf");
  save(h, "kept until close");
  auto db = db::openFile(dataDir_ / "close.nsf");
  {
    auto lock = db->lock();
    db->conn().exec("CREATE TABLE IF NOT EXISTS parent(id INTEGER PRIMARY KEY); "
                    "CREATE TABLE IF NOT EXISTS child(p INTEGER REFERENCES parent(id) DEFERRABLE INITIALLY DEFERRED); "
                    "INSERT INTO child VALUES (7)");
  }
  EXPECT_EQ(HTDatabaseClose(h, 0), HTFAIL_STORAGE_ERROR);
  EXPECT_NE(message(HTFAIL_STORAGE_ERROR).find("lost"), std::string::npos);
  EXPECT_EQ(committedDocuments("close.nsf"), 0);
}

}  // namespace
}  // namespace quire::engine::test
