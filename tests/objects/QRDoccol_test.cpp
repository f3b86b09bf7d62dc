// TQuireDocCollection against a recording double of the index calls: construction, the
// ends of the set, clamping, the full-text sequence and the calls that must not happen.
#include "objects/QRDoccol.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "IndexDouble.h"
#include "objects/QRDbase.h"

namespace {

using indexdouble::IndexDouble;
using indexdouble::kDatabase;
using indexdouble::kIndex;
using Nav = std::pair<uint64_t, uint64_t>;

class QRDoccolTest : public ::testing::Test {
 protected:
  QRDoccolTest() { api.rows = {11, 12, 13, 14}; }
  ~QRDoccolTest() override { TranslateOn = savedTranslate; }

  std::unique_ptr<TQuireDocCollection> Make(const std::string& formula = "Form = \"Memo\"") {
    auto collection = std::make_unique<TQuireDocCollection>(formula, kDatabase, false, 0, 1, 0);
    api.calls.clear();
    return collection;
  }
  // The note IDs of the documents the collection tried to open, in order.
  std::vector<uint64_t> Opened() const {
    std::vector<uint64_t> ids;
    for (const auto& c : api.Only("HTDocumentOpen")) ids.push_back(c.args[1]);
    return ids;
  }

  IndexDouble api;
  bool savedTranslate = TranslateOn;
};

TEST_F(QRDoccolTest, FormulaConstructionSearchesAndStepsOnTheFirstDocument) {
  TQuireDocCollection collection("Form = \"Memo\"", kDatabase, false, 0, 1, 0);
  EXPECT_EQ(api.Names(), (std::vector<std::string>{"HTIndexOpen", "HTIndexSearch", "HTIndexNavigate"}));
  EXPECT_EQ(api.calls[1].text, "Form = \"Memo\"");
  EXPECT_EQ(api.calls[1].args, (std::vector<uint64_t>{kIndex, 0}));
  EXPECT_EQ(api.Navigations(), std::vector<Nav>{Nav(0, 0)});
  EXPECT_TRUE(collection.IndexOpen);
  EXPECT_TRUE(collection.HasResult);
  EXPECT_FALSE(collection.FTActive);
  EXPECT_EQ(collection.Query, "Form = \"Memo\"");
  EXPECT_EQ(collection.GetPosition(), 1);
}

TEST_F(QRDoccolTest, EmptyResultStillHasAResult) {
  api.rows.clear();
  TQuireDocCollection collection("@False", kDatabase, false, 0, 1, 0);
  EXPECT_TRUE(collection.HasResult);
  EXPECT_EQ(collection.LastError, HTFAIL_END_OF_LIST);
  EXPECT_EQ(collection.GetCount(), 0);
  EXPECT_EQ(collection.GetFirstDocument(), nullptr);
}

TEST_F(QRDoccolTest, FailedSearchHasNoResult) {
  api.searchStatus = HTFAIL_FORMULA_SYNTAX;
  TQuireDocCollection collection("Form = ", kDatabase, false, 0, 1, 0);
  EXPECT_TRUE(collection.IndexOpen);
  EXPECT_FALSE(collection.HasResult);
  EXPECT_EQ(collection.LastError, HTFAIL_FORMULA_SYNTAX);
  EXPECT_EQ(api.Count("HTIndexNavigate"), 0);
}

TEST_F(QRDoccolTest, FullTextConstructionPassesItsValuesAndLeavesNoSearchInForce) {
  TQuireDocCollection collection("budget", kDatabase, true, 7, 3, 25);
  const auto ft = api.Only("HTIndexFTSearch");
  ASSERT_EQ(ft.size(), 1u);
  EXPECT_EQ(ft[0].text, "budget");
  EXPECT_EQ(ft[0].args, (std::vector<uint64_t>{kIndex, 7, 3, 25}));
  EXPECT_EQ(api.Count("HTIndexSearch"), 0);
  EXPECT_TRUE(collection.HasResult);
  EXPECT_FALSE(collection.FTActive);
}

TEST_F(QRDoccolTest, ConstructionQueryIsCutAtFiveHundredAfterTranslation) {
  TQuireDocCollection plain(std::string(700, 'a'), kDatabase, false, 0, 1, 0);
  EXPECT_EQ(api.Only("HTIndexSearch")[0].text, std::string(500, 'a'));
  EXPECT_EQ(plain.Query.size(), 700u);  // the stored query is the caller's

  api.calls.clear();
  TranslateOn = true;
  TQuireDocCollection translated(std::string(499, 'b'), kDatabase, false, 0, 1, 0);
  EXPECT_EQ(api.Only("HTIndexSearch")[0].text, "L:" + std::string(498, 'b'));
}

TEST_F(QRDoccolTest, UnopenedIndexMakesEveryOperationInert) {
  api.indexOpenStatus = HTFAIL_NO_MEMORY;
  {
    TQuireDocCollection collection("", kDatabase, false, 0, 0, 0);
    EXPECT_FALSE(collection.IndexOpen);
    EXPECT_FALSE(collection.HasResult);
    EXPECT_EQ(collection.LastError, HTFAIL_NO_MEMORY);
    api.calls.clear();
    EXPECT_EQ(collection.GetCount(), 0);
    EXPECT_EQ(collection.GetPosition(), 0);
    EXPECT_EQ(collection.GetFirstDocument(), nullptr);
    EXPECT_EQ(collection.GetNextDocument(), nullptr);
    EXPECT_EQ(collection.GetPrevDocument(), nullptr);
    EXPECT_EQ(collection.GetLastDocument(), nullptr);
    EXPECT_EQ(collection.GetCurrentDocument(), nullptr);
    EXPECT_EQ(collection.GetNthDocument(2), nullptr);
    collection.MoveFirst();
    collection.MoveTo(2);
    EXPECT_EQ(collection.FTSearch("x", 0), 0);
  }
  EXPECT_TRUE(api.calls.empty());  // no close either
}

TEST_F(QRDoccolTest, NextPastTheEndGivesTheLastAgainAndPrevBeforeTheStartTheFirst) {
  auto collection = Make();
  api.position = 4;
  collection->GetNextDocument();
  EXPECT_EQ(api.Navigations(), (std::vector<Nav>{{0, 0}, {1, 0}}));
  EXPECT_EQ(Opened(), std::vector<uint64_t>{14});

  api.calls.clear();
  api.position = 1;
  collection->GetPrevDocument();
  EXPECT_EQ(api.Navigations(), (std::vector<Nav>{{0, 2}, {1, 2}}));
  EXPECT_EQ(Opened(), std::vector<uint64_t>{11});

  api.calls.clear();
  api.position = 2;
  collection->GetNextDocument();
  EXPECT_EQ(api.Navigations(), std::vector<Nav>{Nav(0, 0)});
  EXPECT_EQ(Opened(), std::vector<uint64_t>{13});
}

TEST_F(QRDoccolTest, DocumentThatCannotBeOpenedGivesItsFailure) {
  auto collection = Make();
  collection->HasResult = false;
  EXPECT_EQ(collection->GetCurrentDocument(), nullptr);
  EXPECT_TRUE(collection->HasResult);
  EXPECT_EQ(collection->LastError, indexdouble::kDocOpenFailure);
}

TEST_F(QRDoccolTest, GetFirstAndNthSetThePositionFirst) {
  auto collection = Make();
  collection->GetFirstDocument();
  collection->GetNthDocument(-3);
  collection->GetLastDocument();
  std::vector<uint64_t> positions;
  for (const auto& c : api.Only("HTIndexSetPosition")) positions.push_back(c.args[1]);
  EXPECT_EQ(positions, (std::vector<uint64_t>{1, static_cast<HTUINT>(-3)}));
  EXPECT_EQ(api.Navigations(), (std::vector<Nav>{{6, 0}, {6, 0}, {1, 0}}));
  EXPECT_EQ(Opened(), (std::vector<uint64_t>{11, 11, 14}));
}

TEST_F(QRDoccolTest, MovesMakeNoDocumentsAndDoNotRetryAtTheEnds) {
  auto collection = Make();
  api.position = 4;
  collection->MoveNext();
  EXPECT_EQ(collection->LastError, HTFAIL_END_OF_LIST);
  collection->MoveFirst();
  collection->MovePrev();
  EXPECT_EQ(collection->LastError, HTFAIL_END_OF_LIST);
  collection->MoveLast();
  EXPECT_EQ(api.Navigations(), (std::vector<Nav>{{0, 0}, {6, 0}, {0, 2}, {1, 0}}));
  EXPECT_EQ(api.Count("HTDocumentOpen"), 0);
  EXPECT_EQ(collection->GetPosition(), 4);
}

TEST_F(QRDoccolTest, MoveToBeyondTheCountStopsOnTheLast) {
  auto collection = Make();
  collection->MoveTo(10);
  EXPECT_EQ(api.Only("HTIndexSetPosition")[0].args[1], 4u);
  EXPECT_EQ(collection->LastError, 0u);
  EXPECT_EQ(collection->GetPosition(), 4);
}

TEST_F(QRDoccolTest, RefineNeedsASearchAndSearchRefinesAnActiveOne) {
  auto collection = Make();
  EXPECT_EQ(collection->FTRefine("alpha", 0), 0);
  collection->FTClear();
  EXPECT_TRUE(api.calls.empty());

  TranslateOn = true;
  api.position = 3;
  api.ftRows = 3;
  EXPECT_EQ(collection->FTSearch(std::string(300, 's'), 9), 3);
  EXPECT_TRUE(collection->FTActive);
  EXPECT_EQ(collection->SavedPosition, 3);
  api.ftRows = 2;
  api.position = 2;
  EXPECT_EQ(collection->FTSearch("beta", 9), 2);
  auto ft = api.Only("HTIndexFTSearch");
  ASSERT_EQ(ft.size(), 3u);
  EXPECT_EQ(ft[0].text, "L:" + std::string(253, 's'));
  EXPECT_EQ(ft[0].args, (std::vector<uint64_t>{kIndex, 1, 2, 9}));
  EXPECT_EQ(ft[1].text, "beta");  // the refinement is not translated
  EXPECT_EQ(ft[1].args, (std::vector<uint64_t>{kIndex, 0x11, 2, 9}));
  EXPECT_EQ(ft[2].text, "L:beta");
  EXPECT_EQ(ft[2].args, (std::vector<uint64_t>{kIndex, 1, 2, 9}));

  api.calls.clear();
  collection->FTRefine(std::string(400, 'r'), 0);
  EXPECT_EQ(api.Only("HTIndexFTSearch")[0].text, std::string(255, 'r'));
}

TEST_F(QRDoccolTest, ClearReturnsToThePositionBeforeTheSearch) {
  auto collection = Make();
  api.position = 3;
  collection->FTSearch("gamma", 0);
  api.position = 1;
  api.calls.clear();
  collection->FTClear();
  EXPECT_FALSE(collection->FTActive);
  const auto ft = api.Only("HTIndexFTSearch");
  ASSERT_EQ(ft.size(), 1u);
  EXPECT_EQ(ft[0].text, "");
  EXPECT_EQ(ft[0].args, (std::vector<uint64_t>{kIndex, 0x10000, 0, 0}));
  EXPECT_EQ(api.Only("HTIndexSetPosition")[0].args[1], 3u);
  EXPECT_EQ(collection->GetPosition(), 3);
}

TEST_F(QRDoccolTest, DatabaseReturnsOnlyCollectionsWithAResult) {
  TQuireDatabase db("", "collections.nsf");
  db.LastError = 0x66;
  api.calls.clear();
  auto all = db.AllDocuments();
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(api.Only("HTIndexSearch")[0].text, "");
  EXPECT_NE(db.Search("Form = \"Memo\""), nullptr);
  auto ft = db.FTSearch("word", 12);
  ASSERT_NE(ft, nullptr);
  EXPECT_EQ(api.Only("HTIndexFTSearch")[0].args, (std::vector<uint64_t>{kIndex, 0, 0, 12}));

  api.searchStatus = HTFAIL_FORMULA_SYNTAX;
  EXPECT_EQ(db.Search("bad("), nullptr);
  EXPECT_EQ(db.LastError, 0x66u);  // the reason stays in the discarded collection
}

TEST_F(QRDoccolTest, DatabaseDocumentFactoriesKeepLastError) {
  TQuireDatabase db("", "documents.nsf");
  db.LastError = 0x66;
  api.calls.clear();
  EXPECT_EQ(db.GetDocumentByUNID("00000001000000020000000300000004"), nullptr);
  const auto locate = api.Only("HTDocumentLocateByUnid");
  ASSERT_EQ(locate.size(), 1u);
  EXPECT_EQ(locate[0].args, (std::vector<uint64_t>{kDatabase, 2, 1, 4, 3}));
  EXPECT_EQ(api.Count("HTDocumentOpen"), 0);
  EXPECT_EQ(db.LastError, 0x66u);

  EXPECT_FALSE(db.DeleteDocument(nullptr));
  EXPECT_EQ(db.LastError, 0x66u);
}

}  // namespace
