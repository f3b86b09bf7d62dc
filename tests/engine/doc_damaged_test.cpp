// A document whose stored items are damaged is reported as damaged wherever it is reached:
// never taken for a missing document, never passed over by a search that then succeeds.
#include <sqlite3.h>

#include <fstream>

#include "doc_support.h"

namespace quire::engine::test {
namespace {

class DamagedTest : public DocTest {
 protected:
  void SetUp() override {
    DocTest::SetUp();
    if (IsSkipped()) return;
    for (const char* subject : {"fine", "soon damaged"}) {
      HTDOCHANDLE doc = create();
      putText(doc, "Form", "Memo");
      putText(doc, "Subject", subject);
      save(doc);
      ids_.push_back(idOf(doc));
      EXPECT_EQ(HTDocumentGetProperty(doc, HTDOCUMENT_UNID, &damagedUnid_), HTSUCCESS);  // the last one's stays
      HTDocumentClose(doc, 0);
    }
    HTDatabaseClose(db_, 0);
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(tempPath("docs.nsf").c_str(), &raw), SQLITE_OK);
    // A record that claims more items than it holds, as a torn or corrupted page would.
    const std::string damage =
        "UPDATE notes SET items = x'0102000000050041' WHERE note_id = " + std::to_string(ids_[1]);
    EXPECT_EQ(sqlite3_exec(raw, damage.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(raw);
    ASSERT_EQ(HTDatabaseOpen("", "docs.nsf", 0, &db_), HTSUCCESS);
  }

  HTSTATUS search(const char* formula, HTUINT& matched) {
    HTINDEXHANDLE index = 0;
    EXPECT_EQ(HTIndexOpen(db_, &index), HTSUCCESS);
    const HTSTATUS status = HTIndexSearch(index, formula, 0, &matched);
    HTIndexClose(index);
    return status;
  }

  std::vector<HTID> ids_;
  UNID damagedUnid_{};
};

TEST_F(DamagedTest, TheDocumentIsFoundAndOpeningItReportsTheDamage) {
  EXPECT_EQ(HTDocumentLocateByUnid(db_, &damagedUnid_), ids_[1]);
  HTDOCHANDLE doc = 0;
  EXPECT_EQ(HTDocumentOpen(db_, ids_[1], 0, &doc), HTFAIL_STORAGE_ERROR);
  EXPECT_NE(message(HTFAIL_STORAGE_ERROR).find("damaged"), std::string::npos);
  // The file itself is sound: the check says so, which points at the record alone.
  EXPECT_NE(message(HTFAIL_STORAGE_ERROR).find("quick check: ok"), std::string::npos) << message(HTFAIL_STORAGE_ERROR);
}

TEST_F(DamagedTest, FormulaSearchesReportTheDamageInsteadOfSkippingTheDocument) {
  // The summary cache's fast path, an absent item, and a formula the fast path cannot take.
  for (const char* formula : {"Form = \"Memo\"", "Missing = \"\"", "@Contains(Subject; \"i\")"}) {
    HTUINT matched = 99;
    EXPECT_EQ(search(formula, matched), HTFAIL_STORAGE_ERROR) << formula << ": " << matched << " matched";
    EXPECT_NE(message(HTFAIL_STORAGE_ERROR).find("damaged"), std::string::npos) << formula;
  }
}

// Pages of the file itself damaged: whatever call reaches them fails with the file's name and
// what SQLite's quick check found there, never with a crash or with data taken for whole.
class DamagedPagesTest : public DocTest {};

TEST_F(DamagedPagesTest, ReadingDamagedPagesReportsTheFileAndWhatTheCheckFound) {
  const std::string filler(300, 'x');
  for (int k = 0; k < 400; ++k) {
    HTDOCHANDLE doc = create();
    putText(doc, "Form", "Memo");
    putText(doc, "Subject", ("subject " + std::to_string(k) + filler).c_str());
    save(doc);
    HTDocumentClose(doc, 0);
  }
  HTDatabaseClose(db_, 0);
  db_ = 0;

  // Closing checkpointed the log, so every page is in the file. Spoil the header byte of each
  // page in the file's second half: the notes' leaf pages, not the schema at its start.
  const std::string path = tempPath("docs.nsf");
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(file);
  unsigned char header[18];
  file.read(reinterpret_cast<char*>(header), sizeof header);
  const size_t pageSize = header[16] == 0 && header[17] == 1 ? 65536 : size_t(header[16]) << 8 | header[17];
  file.seekg(0, std::ios::end);
  const size_t pages = size_t(file.tellg()) / pageSize;
  ASSERT_GT(pages, 8u);
  for (size_t page = pages / 2; page < pages; ++page) {
    file.seekp(std::streamoff(page * pageSize));
    file.put(char(0x42));
  }
  file.close();

  HTSTATUS status = HTDatabaseOpen("", "docs.nsf", 0, &db_);
  if (status == HTSUCCESS) {
    HTINDEXHANDLE index = 0;
    ASSERT_EQ(HTIndexOpen(db_, &index), HTSUCCESS);
    HTUINT matched = 0;
    status = HTIndexSearch(index, "Form = \"Memo\"", 0, &matched);
    HTIndexClose(index);
  }
  ASSERT_EQ(status, HTFAIL_STORAGE_ERROR);
  const std::string text = message(HTFAIL_STORAGE_ERROR);
  EXPECT_NE(text.find("docs.nsf"), std::string::npos) << text;
  const size_t check = text.find("quick check: ");
  ASSERT_NE(check, std::string::npos) << text;
  EXPECT_NE(text.compare(check, 15, "quick check: ok"), 0) << text;
}

}  // namespace
}  // namespace quire::engine::test
