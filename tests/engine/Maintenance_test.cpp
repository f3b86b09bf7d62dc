// Whole-database work through the C API: copy (new database or replica), compaction, backup
// and restore, the progress reports of long work, and the UNID a new document may take.
#include <cstring>
#include <string>
#include <vector>

#include "hitest/HTQuireExtensions.h"
#include "index_support.h"

HT_EXPORT HTSTATUS HTQuireSetProgress(HTQuireProgressProc callback, void* context);
HT_EXPORT HTSTATUS HTQuireBackup(const char* server, const char* path, const char* file);
HT_EXPORT HTSTATUS HTQuireRestore(const char* file, const char* server, const char* path, HTUINT flags);

namespace quire::engine::test {
namespace {

struct Report {
  std::string phase;
  uint64_t done, total;
};

void Record(void* context, const char* phase, uint64_t done, uint64_t total) {
  static_cast<std::vector<Report>*>(context)->push_back({phase, done, total});
}

class Maintenance : public IndexTest {
 protected:
  void SetUp() override {
    IndexTest::SetUp();
    db_ = createAndOpen("orig.nsf", "Original");
    for (int i = 0; i < 50; ++i) addOrder(db_, "Order", "order " + std::to_string(i), i);
  }
  void TearDown() override {
    HTQuireSetProgress(nullptr, nullptr);
    if (db_) HTDatabaseClose(db_, 0);
    IndexTest::TearDown();
  }

  static HTREPLICAID replicaOf(HTDBHANDLE db) {
    HTREPLICAID id{};
    EXPECT_EQ(HTDatabaseGetProperty(db, HTDATABASE_REPLICAID, &id), HTSUCCESS);
    return id;
  }

  static HTUINT count(HTDBHANDLE db) {
    HTINDEXHANDLE index = 0;
    EXPECT_EQ(HTIndexOpen(db, &index), HTSUCCESS);
    HTUINT matched = 0;
    EXPECT_EQ(HTIndexSearch(index, "", 0, &matched), HTSUCCESS);
    HTIndexClose(index);
    return matched;
  }

  HTDBHANDLE db_ = 0;
};

TEST_F(Maintenance, CopyMakesANewDatabaseOrAReplica) {
  ASSERT_EQ(HTDatabaseCopy("", "orig.nsf", "", "sub\\copy.nsf", 0), HTSUCCESS) << message(HTFAIL_STORAGE_ERROR);
  ASSERT_EQ(HTDatabaseCopy("", "orig.nsf", "", "replica.nsf", HTDBCOPY_REPLICA), HTSUCCESS);
  EXPECT_EQ(HTDatabaseCopy("", "orig.nsf", "", "replica.nsf", 0), HTFAIL_DB_EXISTS);
  EXPECT_EQ(HTDatabaseCopy("", "missing.nsf", "", "other.nsf", 0), HTFAIL_DB_NOT_FOUND);
  EXPECT_EQ(HTDatabaseCopy("", "orig.nsf", "", "..\\..\\outside.nsf", 0), HTFAIL_PATH_OUTSIDE);
  HTDBHANDLE copy = 0, replica = 0;
  ASSERT_EQ(HTDatabaseOpen("", "sub\\copy.nsf", 0, &copy), HTSUCCESS);
  ASSERT_EQ(HTDatabaseOpen("", "replica.nsf", 0, &replica), HTSUCCESS);
  const HTREPLICAID original = replicaOf(db_);
  const HTREPLICAID other = replicaOf(copy);
  EXPECT_NE(std::memcmp(&original, &other, sizeof original), 0);
  const HTREPLICAID same = replicaOf(replica);
  EXPECT_EQ(std::memcmp(&original, &same, sizeof original), 0);
  EXPECT_EQ(count(copy), 50u);
  EXPECT_EQ(count(replica), 50u);
  HTDatabaseClose(copy, 0);
  HTDatabaseClose(replica, 0);
}

TEST_F(Maintenance, BackupAndRestoreGiveTheSnapshotBack) {
  std::vector<Report> reports;
  HTQuireSetProgress(&Record, &reports);
  const std::string file = (dataDir_ / "orig.backup").string();
  ASSERT_EQ(HTQuireBackup("", "orig.nsf", file.c_str()), HTSUCCESS) << message(HTFAIL_STORAGE_ERROR);
  EXPECT_EQ(HTQuireBackup("", "orig.nsf", file.c_str()), HTFAIL_DB_EXISTS);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().phase, "backup orig.nsf");
  EXPECT_EQ(reports.back().done, reports.back().total);
  EXPECT_GT(reports.back().total, 0u);

  // Later changes are not in the backup; a restore over the database brings it back.
  addOrder(db_, "Order", "after the backup", 1);
  HTDatabaseClose(db_, 0);
  db_ = 0;
  EXPECT_EQ(HTQuireRestore(file.c_str(), "", "orig.nsf", 0), HTFAIL_DB_EXISTS);
  ASSERT_EQ(HTQuireRestore(file.c_str(), "", "orig.nsf", HTQUIRE_RESTORE_REPLACE), HTSUCCESS)
      << message(HTFAIL_STORAGE_ERROR);
  ASSERT_EQ(HTQuireRestore(file.c_str(), "", "new\\fresh.nsf", 0), HTSUCCESS);
  for (const char* path : {"orig.nsf", "new\\fresh.nsf"}) {
    HTDBHANDLE db = 0;
    ASSERT_EQ(HTDatabaseOpen("", path, 0, &db), HTSUCCESS) << path;
    EXPECT_EQ(count(db), 50u) << path;
    HTDatabaseClose(db, 0);
  }

  // While this process holds it open, a database is not replaced under its handles.
  ASSERT_EQ(HTDatabaseOpen("", "orig.nsf", 0, &db_), HTSUCCESS);
  EXPECT_EQ(HTQuireRestore(file.c_str(), "", "orig.nsf", HTQUIRE_RESTORE_REPLACE), HTFAIL_DB_IN_USE);
  const std::string foreign = (dataDir_ / "foreign.txt").string();
  FILE* f = std::fopen(foreign.c_str(), "w");
  std::fputs("not a database", f);
  std::fclose(f);
  EXPECT_EQ(HTQuireRestore(foreign.c_str(), "", "other.nsf", 0), HTFAIL_NOT_A_DATABASE);
  EXPECT_EQ(HTQuireRestore(file.c_str(), "", "x.nsf", 0x80), HTFAIL_INVALID_ARGUMENT);
}

TEST_F(Maintenance, CompactionAndIndexBuildsReportProgress) {
  std::vector<Report> reports;
  HTQuireSetProgress(&Record, &reports);
  HTFTSTATS stats{};
  ASSERT_EQ(HTDatabaseCreateFTIndex(db_, 0, 0, &stats), HTSUCCESS);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.front().phase, "full-text index");
  EXPECT_EQ(reports.front().total, 50u);
  EXPECT_EQ(reports.back().done, 50u);

  reports.clear();
  ASSERT_EQ(HTDatabaseCompact("", "orig.nsf", 0), HTSUCCESS) << message(HTFAIL_STORAGE_ERROR);
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back().phase, "compact orig.nsf");
  EXPECT_EQ(reports.back().done, reports.back().total);
  EXPECT_EQ(HTDatabaseCompact("", "orig.nsf", 1), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(count(db_), 50u);

  // No callback, no reports.
  HTQuireSetProgress(nullptr, nullptr);
  reports.clear();
  ASSERT_EQ(HTDatabaseCreateFTIndex(db_, 0, 1, &stats), HTSUCCESS);
  EXPECT_TRUE(reports.empty());
}

TEST_F(Maintenance, ANewDocumentMayTakeAFreeUnid) {
  UNID wanted{{0x11111111, 0x22222222, 0x33333333, 0x44444444}};
  HTDOCHANDLE document = 0;
  ASSERT_EQ(HTDocumentCreate(db_, 0, &document), HTSUCCESS);
  ASSERT_EQ(HTDocumentSetProperty(document, HTDOCUMENT_UNID, &wanted), HTSUCCESS);
  ASSERT_EQ(HTDocumentSave(document, 0), HTSUCCESS);
  UNID saved{};
  ASSERT_EQ(HTDocumentGetProperty(document, HTDOCUMENT_UNID, &saved), HTSUCCESS);
  EXPECT_EQ(std::memcmp(&saved, &wanted, sizeof saved), 0);
  EXPECT_EQ(HTDocumentSetProperty(document, HTDOCUMENT_UNID, &wanted), HTFAIL_UNKNOWN_PROPERTY);
  HTDocumentClose(document, 0);

  HTDOCHANDLE second = 0;
  ASSERT_EQ(HTDocumentCreate(db_, 0, &second), HTSUCCESS);
  EXPECT_EQ(HTDocumentSetProperty(second, HTDOCUMENT_UNID, &wanted), HTFAIL_INVALID_ARGUMENT);
  const UNID zero{};
  EXPECT_EQ(HTDocumentSetProperty(second, HTDOCUMENT_UNID, &zero), HTFAIL_INVALID_ARGUMENT);
  HTDocumentClose(second, 0);
}

}  // namespace
}  // namespace quire::engine::test
