// Writes racing a writer on another connection. The other connection (what another process
// would hold) takes the write lock and changes a document while this process is between
// reading the document and writing it back: the check must be made against what that writer
// committed, never against what was read before the write lock was ours.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "EngineFixture.h"
#include "engine/store/Storage.h"
#include "engine/store/Transaction.h"

namespace quire::engine::test {
namespace {

using namespace std::chrono_literals;

class RacingWriterTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    db_ = createAndOpen("race.nsf");
  }

  void TearDown() override {
    if (writer_.joinable()) writer_.join();
    EngineTest::TearDown();
  }

  HTID createDocument(double counter) {
    HTDOCHANDLE doc = 0;
    EXPECT_EQ(HTDocumentCreate(db_, 0, &doc), HTSUCCESS);
    EXPECT_EQ(HTItemPut(doc, "C", HTTYPE_NUMBER, 8, HTTYPE_NUMBER, &counter, 0), HTSUCCESS);
    EXPECT_EQ(HTDocumentSave(doc, 0), HTSUCCESS);
    HTID id = 0;
    HTDocumentGetProperty(doc, HTDOCUMENT_DOCID, &id);
    HTDocumentClose(doc, 0);
    return id;
  }

  // Runs `sql` (parameter ?1: `id`) on its own connection, holding the write lock for a
  // while after it, and returns once the lock is held.
  void writeElsewhere(const std::string& sql, HTID id) {
    std::atomic<bool> holding{false};
    writer_ = std::thread([this, sql, id, &holding] {
      auto conn = store::openSqlite(dataDir_ / "race.nsf", {});
      conn->begin();
      conn->prepare(sql)->bind(1, int64_t(id)).run();
      holding = true;
      std::this_thread::sleep_for(300ms);
      conn->commit();
    });
    while (!holding) std::this_thread::sleep_for(1ms);
  }

  double counter(HTID id) {
    HTDOCHANDLE doc = 0;
    EXPECT_EQ(HTDocumentOpen(db_, id, 0, &doc), HTSUCCESS);
    double value = -1;
    HTINT type = HTTYPE_NUMBER, want = HTTYPE_NUMBER;
    HTUINT len = sizeof value;
    EXPECT_EQ(HTItemFetch(doc, "C", &type, &len, &want, &value), HTSUCCESS);
    HTDocumentClose(doc, 0);
    return value;
  }

  HTDBHANDLE db_ = 0;
  std::thread writer_;
};

TEST_F(RacingWriterTest, SaveAfterAnotherWriterChangedTheDocumentIsAConflict) {
  for (const HTUINT delay : {0u, 1u}) {
    SCOPED_TRACE(delay ? "delayed commit" : "synchronous");
    ASSERT_EQ(HTDatabaseSetProperty(db_, HTDATABASE_DELAY_COMMIT, &delay), HTSUCCESS);
    const HTID id = createDocument(1);
    ASSERT_EQ(HTDatabaseSetProperty(db_, HTDATABASE_DELAY_COMMIT, &delay), HTSUCCESS);  // flushes
    HTDOCHANDLE doc = 0;
    ASSERT_EQ(HTDocumentOpen(db_, id, 0, &doc), HTSUCCESS);
    const double two = 2;
    ASSERT_EQ(HTItemPut(doc, "C", HTTYPE_NUMBER, 8, HTTYPE_NUMBER, &two, 0), HTSUCCESS);
    writeElsewhere("UPDATE notes SET sequence = sequence + 1 WHERE note_id = ?1", id);
    EXPECT_EQ(HTDocumentSave(doc, 0), HTFAIL_CONFLICT);
    HTDocumentClose(doc, 0);
    writer_.join();
  }
}

TEST_F(RacingWriterTest, DeleteAfterAnotherWriterDeletedTheDocumentSaysSo) {
  const HTID id = createDocument(1);
  writeElsewhere("UPDATE notes SET deleted = 1 WHERE note_id = ?1", id);
  EXPECT_EQ(HTDocumentDelete(db_, id, 0), HTFAIL_NOTE_DELETED);
}

// An agent computes new values from the documents it changes; it must read them inside the
// write, or it writes back a value computed from the one before another writer's change.
TEST_F(RacingWriterTest, AgentReadsWhatAnotherWriterCommitted) {
  const HTID target = createDocument(1);
  const HTID source = createDocument(5);
  HTAGENTSPEC spec{"Bump", "FIELD C := C + 1", HTAGENTDOCS_SELECTED_VIEW, "C < 3"};
  HTID agent = 0;
  ASSERT_EQ(HTAgentCreate(db_, &spec, &agent), HTSUCCESS);
  writeElsewhere("UPDATE notes SET items = (SELECT items FROM notes WHERE note_id = " + std::to_string(source) +
                     "), sequence = sequence + 1 WHERE note_id = ?1",
                 target);
  HTUINT processed = 0, changed = 0;
  ASSERT_EQ(HTAgentExecute(db_, agent, 0, &processed, &changed), HTSUCCESS);
  EXPECT_EQ(changed, 0u);  // by the time it may write, no document has C < 3
  EXPECT_EQ(counter(target), 5.0);
}

}  // namespace
}  // namespace quire::engine::test
