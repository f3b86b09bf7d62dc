// Scans that may answer more rows than should be held at once (store::manyRows): on
// PostgreSQL they arrive in batches through a cursor, and must still come whole, in order,
// with other statements, other scans and whole write transactions run between their steps.
#include <memory>
#include <string>

#include "EngineFixture.h"
#include "engine/core/Status.h"
#include "engine/db/Database.h"
#include "engine/store/Locator.h"
#include "engine/store/ManyRows.h"
#include "engine/store/Transaction.h"

namespace quire::engine::test {
namespace {

// Enough rows of enough bytes that a batched backend needs several batches.
constexpr int kRows = 5000;
constexpr size_t kPayload = 700;

store::Blob payloadOf(int n) {
  store::Blob b(kPayload);
  for (size_t k = 0; k < b.size(); ++k) b[k] = uint8_t((size_t(n) * 31 + k) & 0xFF);
  return b;
}

class ManyRowsTest : public BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(HTDatabaseCreate(server(), "rows.nsf", "Rows", nullptr, 0), HTSUCCESS) << message(HTFAIL_STORAGE_ERROR);
    ASSERT_EQ(HTDatabaseOpen(server(), "rows.nsf", 0, &db_), HTSUCCESS);
    std::shared_ptr<db::DbHandle> handle;
    ASSERT_EQ(db::lookup(db_, handle), HTSUCCESS);
    file_ = handle->database()->file();
    conn_ = store::open(file_, {});
    conn_->exec("CREATE TABLE scan_rows(n INTEGER PRIMARY KEY, payload BLOB NOT NULL)");
    conn_->exec("CREATE TABLE scan_notes(n INTEGER PRIMARY KEY)");
    store::Transaction tx(*conn_);
    auto put = conn_->prepare("INSERT INTO scan_rows(n, payload) VALUES(?1, ?2)");
    for (int n = 1; n <= kRows; ++n) {
      put->reset();
      put->bind(1, n).bindBlob(2, payloadOf(n)).run();
    }
    tx.commit();
  }
  void TearDown() override {
    conn_.reset();
    if (db_) HTDatabaseClose(db_, 0);
    BackendTest::TearDown();
  }

  std::unique_ptr<store::Statement> scan(const char* order = "ASC") {
    auto st = conn_->prepare(std::string("SELECT n, payload FROM scan_rows ORDER BY n ") + order);
    store::manyRows(*st);
    return st;
  }
  // Checks the current row of a scan against the row it must be.
  static bool rowIs(store::Statement& st, int n) {
    return st.int64(0) == n && st.blob(1) == payloadOf(n);
  }

  HTDBHANDLE db_ = 0;
  std::filesystem::path file_;
  std::unique_ptr<store::Connection> conn_;
};

TEST_P(ManyRowsTest, ScansComeWholeAndInOrderWithOtherStatementsAndScansBetweenTheirSteps) {
  auto up = scan("ASC");
  auto down = scan("DESC");
  auto point = conn_->prepare("SELECT payload FROM scan_rows WHERE n = ?1");
  int seen = 0, wrong = 0;
  for (int n = 1; n <= kRows; ++n) {
    ASSERT_TRUE(up->step()) << "ended after " << seen;
    ASSERT_TRUE(down->step());
    wrong += !rowIs(*up, n) + !rowIs(*down, kRows + 1 - n);
    if (n % 997 == 0) {
      point->reset();
      point->bind(1, kRows - n);
      ASSERT_TRUE(point->step());
      wrong += point->blob(0) != payloadOf(kRows - n);
    }
    ++seen;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_FALSE(up->step());
  EXPECT_FALSE(down->step());

  // Run again after a reset in the middle, and with an answer shorter than a batch.
  up->reset();
  for (int n = 1; n <= 300; ++n) ASSERT_TRUE(up->step() && rowIs(*up, n)) << n;
  up->reset();
  int again = 0;
  while (up->step()) ++again;
  EXPECT_EQ(again, kRows);
  auto few = conn_->prepare("SELECT n FROM scan_rows WHERE n <= ?1 ORDER BY n");
  store::manyRows(*few).bind(1, 3);
  int count = 0;
  while (few->step()) EXPECT_EQ(few->int64(0), ++count);
  EXPECT_EQ(count, 3);
}

// A write between two steps (a view read that finds an index to bring up to date) commits,
// is kept, and the scan carries on to its last row.
TEST_P(ManyRowsTest, AWriteCommittedInTheMiddleOfAScanLeavesTheScanWhole) {
  auto st = scan();
  int n = 0;
  while (st->step()) {
    ++n;
    if (!rowIs(*st, n)) ADD_FAILURE() << "row " << n;
    if (n == 1000 || n == 4000) {
      store::Transaction tx(*conn_);
      conn_->prepare("INSERT INTO scan_notes(n) VALUES(?1)")->bind(1, n).run();
      tx.commit();
    }
  }
  EXPECT_EQ(n, kRows);
  auto notes = conn_->prepare("SELECT count(*) FROM scan_notes");
  ASSERT_TRUE(notes->step());
  EXPECT_EQ(notes->int64(0), 2);

  // Inside a write transaction, scans run in it and see its own writes.
  store::Transaction tx(*conn_);
  conn_->prepare("DELETE FROM scan_rows WHERE n > 10")->run();
  auto inside = scan();
  int rows = 0;
  while (inside->step()) ++rows;
  EXPECT_EQ(rows, 10);
  tx.commit();

  if (onPostgres()) {
    // Nothing of the scans' own read transaction is left holding the table: another
    // connection may drop it without waiting.
    auto other = store::open(file_, {});
    other->exec("SET lock_timeout = '5s'");
    EXPECT_NO_THROW(other->exec("DROP TABLE scan_rows"));
  }
}

// A scan whose transaction is rolled back under it must not look like a short answer.
TEST_P(ManyRowsTest, ATransactionRolledBackUnderAScanMakesTheScanFailNotEndEarly) {
  if (!onPostgres()) GTEST_SKIP() << "SQLite's statements step row by row and hold no cursor";
  std::unique_ptr<store::Statement> st;
  {
    store::Transaction tx(*conn_);
    st = scan();
    for (int n = 1; n <= 300; ++n) ASSERT_TRUE(st->step());
  }  // rolled back
  try {
    int more = 0;
    while (st->step()) ++more;
    ADD_FAILURE() << "the scan ended quietly after " << 300 + more << " of " << kRows << " rows";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), HTFAIL_STORAGE_ERROR);
  }
  // The connection is fit for the next scan.
  auto next = scan();
  int rows = 0;
  while (next->step()) ++rows;
  EXPECT_EQ(rows, kRows);
}

// A read snapshot: its statements and scans see one committed state while another
// connection commits; a scan still open when it ends keeps its rows; one begun while a scan is
// open sees that scan's state; inside a write transaction it is that transaction.
TEST_P(ManyRowsTest, AReadSnapshotShowsOneStateToItsStatementsAndScans) {
  auto other = store::open(file_, {});
  auto count = [&](store::Connection& conn) {
    auto st = conn.prepare("SELECT count(*) FROM scan_rows");
    return st->step() ? st->int64(0) : -1;
  };
  auto add = [&](int n) {
    store::Transaction tx(*other);
    other->prepare("INSERT INTO scan_rows(n, payload) VALUES(?1, ?2)")->bind(1, n).bindBlob(2, payloadOf(n)).run();
    tx.commit();
  };
  auto up = scan();
  {
    store::ReadSnapshot snapshot(*conn_);
    EXPECT_EQ(count(*conn_), kRows);
    add(kRows + 1);
    EXPECT_EQ(count(*conn_), kRows);
    for (int n = 1; n <= kRows / 2; ++n) ASSERT_TRUE(up->step() && rowIs(*up, n)) << n;
  }
  add(kRows + 2);
  int n = kRows / 2;
  while (up->step()) ASSERT_TRUE(rowIs(*up, ++n)) << n;
  EXPECT_EQ(n, kRows);  // the rows committed meanwhile are not in it
  up.reset();
  EXPECT_EQ(count(*conn_), kRows + 2);

  // Begun while a scan is open: the scan's state.
  auto again = scan();
  ASSERT_TRUE(again->step() && rowIs(*again, 1));
  add(kRows + 3);
  {
    store::ReadSnapshot snapshot(*conn_);
    EXPECT_EQ(count(*conn_), kRows + 2);
  }
  again.reset();
  EXPECT_EQ(count(*conn_), kRows + 3);

  {
    // Inside a write transaction (rolled back at the end of the block): its own changes show.
    store::Transaction tx(*conn_);
    conn_->prepare("DELETE FROM scan_rows WHERE n > ?1")->bind(1, kRows).run();
    store::ReadSnapshot snapshot(*conn_);
    EXPECT_FALSE(conn_->readSnapshot);
    EXPECT_EQ(count(*conn_), kRows);
  }
  EXPECT_EQ(count(*conn_), kRows + 3);
}

QUIRE_BOTH_BACKENDS(ManyRowsTest);

}  // namespace
}  // namespace quire::engine::test
