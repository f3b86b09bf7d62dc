// A document whose stored items are damaged is reported as damaged wherever it is reached:
// never taken for a missing document, never passed over by a search that then succeeds.
#include <sqlite3.h>

#include "doc_support.h"

namespace quire::engine::test {
namespace {

class DamagedTest : public DocTest {
 protected:
  void SetUp() override {
    DocTest::SetUp();
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
}

TEST_F(DamagedTest, FormulaSearchesReportTheDamageInsteadOfSkippingTheDocument) {
  // The summary cache's fast path, an absent item, and a formula the fast path cannot take.
  for (const char* formula : {"Form = \"Memo\"", "Missing = \"\"", "@Contains(Subject; \"i\")"}) {
    HTUINT matched = 99;
    EXPECT_EQ(search(formula, matched), HTFAIL_STORAGE_ERROR) << formula << ": " << matched << " matched";
    EXPECT_NE(message(HTFAIL_STORAGE_ERROR).find("damaged"), std::string::npos) << formula;
  }
}

}  // namespace
}  // namespace quire::engine::test
