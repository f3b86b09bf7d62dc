// TQuireView against a recording double of the index calls: the exact call sequences,
// flag words and limits, and the calls that must not happen.
#include "objects/QRView.h"

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

constexpr HTID kViewID = 42;

class QRViewTest : public ::testing::Test {
 protected:
  QRViewTest() {
    api.views["Main"] = kViewID;
    api.rows = {101, 102, HTNOTEID_CATEGORY, 104};
    api.keyCount = 2;
  }
  ~QRViewTest() override { TranslateOn = savedTranslate; }

  std::unique_ptr<TQuireView> Open(const std::string& name = "Main") {
    auto view = std::make_unique<TQuireView>(name, kDatabase);
    api.calls.clear();
    return view;
  }

  IndexDouble api;
  bool savedTranslate = TranslateOn;
};

TEST_F(QRViewTest, OpensInTheDocumentedOrder) {
  api.columns = {IndexDouble::Column("A", 10), IndexDouble::Column("B", 12)};
  api.viewFetchStatus = 0;
  TQuireView view("Main", kDatabase);
  EXPECT_EQ(api.Names(), (std::vector<std::string>{
                             "HTViewLocateByName", "HTIndexOpen", "HTIndexOpenViewFolder", "HTIndexNavigate",
                             "HTIndexListKey", "HTIndexListKey", "HTIndexListKey", "HTColumnGetCount",
                             "HTColumnList", "HTColumnList", "HTColumnList", "HTViewFetch"}));
  EXPECT_EQ(api.calls[0].text, "Main");
  EXPECT_EQ(api.calls[2].args, (std::vector<uint64_t>{kIndex, 0, kViewID, 0}));
  EXPECT_EQ(api.Navigations(), (std::vector<Nav>{{HTNAV_NEXT, 12}}));
  EXPECT_EQ(api.Only("HTColumnList")[0].args[2], uint64_t{HTLIST_FIRST});
  EXPECT_EQ(api.Only("HTColumnList")[1].args[2], uint64_t{HTLIST_NEXT});
  EXPECT_TRUE(view.Opened);
  EXPECT_TRUE(view.IndexOpen);
  EXPECT_EQ(view.ViewID, kViewID);
  EXPECT_EQ(view.NoteID, 101u);
  EXPECT_TRUE(view.IsDoc);
  EXPECT_EQ(view.ColumnCount, 2);
  EXPECT_EQ(view.KeyCount, 2);
  EXPECT_EQ(view.LastError, 0u);  // the view record's result
  EXPECT_EQ(view.Columns.Strings(1), "B");
}

TEST_F(QRViewTest, AbsentViewHoldsNothingAndClosesNothing) {
  {
    TQuireView view("Nope", kDatabase);
    EXPECT_FALSE(view.Opened);
    EXPECT_FALSE(view.IndexOpen);
    EXPECT_EQ(view.LastError, HTFAIL_VIEW_NOT_FOUND);
    EXPECT_EQ(view.GetCount(), 0);
    EXPECT_EQ(view.GetFirstDocument(), nullptr);
    view.MoveNext();
    EXPECT_FALSE(view.KeySearch(1, true));
    EXPECT_EQ(view.FTSearch("x", 0), 0);
    EXPECT_FALSE(view.GetIsExpandable());
  }
  EXPECT_EQ(api.Names(), std::vector<std::string>{"HTViewLocateByName"});
}

TEST_F(QRViewTest, IndexFailuresLeaveTheirCode) {
  api.indexOpenStatus = HTFAIL_NO_MEMORY;
  {
    TQuireView view("Main", kDatabase);
    EXPECT_FALSE(view.IndexOpen);
    EXPECT_FALSE(view.Opened);
    EXPECT_EQ(view.LastError, HTFAIL_NO_MEMORY);
  }
  EXPECT_EQ(api.Count("HTIndexClose"), 0);

  api.indexOpenStatus = 0;
  api.openViewFolderStatus = HTFAIL_NOT_A_VIEW;
  {
    TQuireView view("Main", kDatabase);
    EXPECT_TRUE(view.IndexOpen);
    EXPECT_FALSE(view.Opened);
    EXPECT_EQ(view.LastError, HTFAIL_NOT_A_VIEW);
    EXPECT_EQ(api.Count("HTIndexNavigate"), 0);
  }
  EXPECT_EQ(api.Count("HTIndexClose"), 1);  // the index stays open until the view goes
}

TEST_F(QRViewTest, LongViewNameIsCutTo255Characters) {
  TQuireView view(std::string(300, 'v'), kDatabase);
  EXPECT_EQ(api.calls[0].text, std::string(255, 'v'));
}

TEST_F(QRViewTest, AverageFontSizeCountsHiddenColumnsOnlyInTheDivisor) {
  api.columns = {IndexDouble::Column("A", 10), IndexDouble::Column("B", 12),
                 IndexDouble::Column("C", 9, HTCOLFLAG_HIDDEN)};
  auto view = Open();
  ASSERT_EQ(view->Columns.Count(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(view->GetColumn(i)->FontSize, 7) << i;
  EXPECT_EQ(view->GetColumn(0)->Font.Size, 10);  // the font keeps its own size
}

TEST_F(QRViewTest, ViewWithoutColumnsOpensWithAnEmptyList) {
  auto view = Open();
  EXPECT_TRUE(view->Opened);
  EXPECT_EQ(view->Columns.Count(), 0);
  EXPECT_EQ(view->GetColumn(0), nullptr);
}

TEST_F(QRViewTest, ColumnsAreZeroBasedAndCellsOneBased) {
  api.columns = {IndexDouble::Column("First", 10), IndexDouble::Column("Second", 10)};
  auto view = Open();
  std::string text = "stale";
  EXPECT_EQ(view->GetColumn(-1), nullptr);
  EXPECT_EQ(view->GetColumn(2), nullptr);
  ASSERT_NE(view->GetColumn(0), nullptr);
  view->GetColumn(0)->GetTitle(text);
  EXPECT_EQ(text, "First");
  view->GetColumnTitles(1, text);
  EXPECT_EQ(text, "Second");
  view->GetColumnTitles(2, text);
  EXPECT_EQ(text, "");

  text = "stale";
  view->GetCellText(0, text);
  EXPECT_EQ(text, "");
  view->GetCellText(view->ColumnCount + 1, text);
  EXPECT_EQ(text, "");
  EXPECT_TRUE(api.calls.empty());

  view->GetCellText(1, text);
  EXPECT_EQ(text, "cell1");
  ASSERT_EQ(api.Count("HTViewcellFetch"), 1);
  EXPECT_EQ(api.calls[0].args, (std::vector<uint64_t>{kIndex, 1, HTTYPE_TEXT, 255}));

  TranslateOn = true;
  view->GetCellText(2, text);
  EXPECT_EQ(text, "N:cell2");
}

TEST_F(QRViewTest, ColumnCountFromTheApiBoundsAccessEvenWhenTheListHasMore) {
  api.columns = {IndexDouble::Column("A", 10), IndexDouble::Column("B", 10)};
  api.columnCount = 1;
  auto view = Open();
  EXPECT_EQ(view->Columns.Count(), 2);
  EXPECT_NE(view->GetColumn(0), nullptr);
  EXPECT_EQ(view->GetColumn(1), nullptr);
}

TEST_F(QRViewTest, EveryNavigationSendsItsCodeAndFlagWord) {
  struct Case {
    const char* name;
    void (*run)(TQuireView&);
    Nav nav;
  };
  const Case cases[] = {
      {"MoveLast", [](TQuireView& v) { v.MoveLast(); }, {1, 0}},
      {"MoveNext", [](TQuireView& v) { v.MoveNext(); }, {0, 0}},
      {"MovePrev", [](TQuireView& v) { v.MovePrev(); }, {0, 2}},
      {"MoveNextSibling", [](TQuireView& v) { v.MoveNextSibling(); }, {2, 0}},
      {"MovePrevSibling", [](TQuireView& v) { v.MovePrevSibling(); }, {2, 2}},
      {"MoveNextChild", [](TQuireView& v) { v.MoveNextChild(); }, {3, 0}},
      {"MoveNextParent", [](TQuireView& v) { v.MoveNextParent(); }, {4, 0}},
      {"MovePrevParent", [](TQuireView& v) { v.MovePrevParent(); }, {4, 2}},
      {"MoveNextMain", [](TQuireView& v) { v.MoveNextMain(); }, {5, 0}},
      {"MovePrevMain", [](TQuireView& v) { v.MovePrevMain(); }, {5, 2}},
      {"GetFirstDocument", [](TQuireView& v) { v.GetFirstDocument(); }, {1, 14}},
      {"GetLastDocument", [](TQuireView& v) { v.GetLastDocument(); }, {1, 12}},
      {"GetNextDocument", [](TQuireView& v) { v.GetNextDocument(); }, {0, 12}},
      {"GetPrevDocument", [](TQuireView& v) { v.GetPrevDocument(); }, {0, 14}},
      {"GetCurrentDocument", [](TQuireView& v) { v.GetCurrentDocument(); }, {6, 12}},
      {"GetNextSiblingDocument", [](TQuireView& v) { v.GetNextSiblingDocument(); }, {2, 0}},
      {"GetPrevSiblingDocument", [](TQuireView& v) { v.GetPrevSiblingDocument(); }, {2, 2}},
      {"GetNextChildDocument", [](TQuireView& v) { v.GetNextChildDocument(); }, {3, 0}},
      {"GetNextParentDocument", [](TQuireView& v) { v.GetNextParentDocument(); }, {4, 0}},
      {"GetPrevParentDocument", [](TQuireView& v) { v.GetPrevParentDocument(); }, {4, 2}},
      {"GetNextMainDocument", [](TQuireView& v) { v.GetNextMainDocument(); }, {5, 0}},
      {"GetPrevMainDocument", [](TQuireView& v) { v.GetPrevMainDocument(); }, {5, 2}},
  };
  for (const Case& c : cases) {
    auto view = Open();
    api.position = 2;
    c.run(*view);
    EXPECT_EQ(api.Navigations(), std::vector<Nav>{c.nav}) << c.name;
    EXPECT_EQ(api.Count("HTIndexSetPosition"), 0) << c.name;
  }

  auto view = Open();
  view->MoveFirst();
  EXPECT_EQ(api.Only("HTIndexSetPosition")[0].args[1], 1u);
  EXPECT_EQ(api.Navigations(), std::vector<Nav>{Nav(6, 0)});
}

TEST_F(QRViewTest, MoveToClampsAndGetNthDocumentDoesNot) {
  auto view = Open();
  view->MoveTo(-5);
  view->MoveTo(4 + 10);
  view->MoveTo(3);
  std::vector<uint64_t> positions;
  for (const auto& c : api.Only("HTIndexSetPosition")) positions.push_back(c.args[1]);
  EXPECT_EQ(positions, (std::vector<uint64_t>{0, 4, 3}));
  EXPECT_EQ(view->NoteID, HTNOTEID_CATEGORY);

  api.calls.clear();
  view->GetNthDocument(99);
  EXPECT_EQ(api.Only("HTIndexSetPosition")[0].args[1], 99u);
  EXPECT_EQ(api.Navigations(), std::vector<Nav>{Nav(6, 12)});
  EXPECT_NE(view->LastError, 0u);
}

TEST_F(QRViewTest, EntryKindFollowsEverySuccessfulNavigation) {
  auto view = Open();
  api.position = 2;
  view->MoveNext();  // the category row
  EXPECT_TRUE(view->IsCategory);
  EXPECT_FALSE(view->IsDoc);
  EXPECT_FALSE(view->IsTotal);
  view->MoveNext();
  EXPECT_TRUE(view->IsDoc);
  EXPECT_FALSE(view->IsCategory);

  view->MoveNext();  // past the end: the flags keep their values
  EXPECT_EQ(view->LastError, HTFAIL_END_OF_LIST);
  EXPECT_TRUE(view->IsDoc);

  view->CheckFlags(HTNOTEID_TOTAL);
  EXPECT_TRUE(view->IsTotal);
  EXPECT_FALSE(view->IsDoc);
  EXPECT_FALSE(view->IsCategory);
  view->CheckFlags(0x80000005u);
  EXPECT_FALSE(view->IsTotal);
  EXPECT_FALSE(view->IsDoc);
  EXPECT_FALSE(view->IsCategory);
}

TEST_F(QRViewTest, FirstRowClassifiedAtOpening) {
  api.rows = {HTNOTEID_CATEGORY, 5};
  auto view = Open();
  EXPECT_TRUE(view->IsCategory);

  api.rows.clear();  // an empty view: nothing to classify
  auto empty = Open();
  EXPECT_FALSE(empty->IsCategory);
  EXPECT_FALSE(empty->IsDoc);
  EXPECT_TRUE(empty->Opened);
}

TEST_F(QRViewTest, DocumentOperationsHandOverTheDocumentsFailure) {
  auto view = Open();
  view->Opened = false;
  auto document = view->GetNextDocument();
  EXPECT_EQ(document, nullptr);
  EXPECT_TRUE(view->Opened);
  EXPECT_EQ(view->LastError, indexdouble::kDocOpenFailure);
  ASSERT_EQ(api.Count("HTDocumentOpen"), 1);
  EXPECT_EQ(api.Only("HTDocumentOpen")[0].args[1], 102u);

  api.calls.clear();
  api.position = 4;
  EXPECT_EQ(view->GetNextDocument(), nullptr);
  EXPECT_EQ(view->LastError, HTFAIL_END_OF_LIST);
  EXPECT_EQ(api.Count("HTDocumentOpen"), 0);

  api.calls.clear();
  api.hierarchyStatus = HTFAIL_END_OF_LIST;
  EXPECT_EQ(view->GetNextSiblingDocument(), nullptr);
  EXPECT_EQ(api.Count("HTDocumentOpen"), 0);
}

TEST_F(QRViewTest, KeysAreCountedUpToTen) {
  api.keyCount = 12;
  auto view = Open();
  EXPECT_EQ(view->KeyCount, 10);

  api.keyCount = 0;
  view->GetKeys();
  EXPECT_EQ(view->KeyCount, 0);
  EXPECT_EQ(view->LastError, HTFAIL_END_OF_LIST);
  EXPECT_EQ(api.Count("HTIndexListKey"), 1);
}

TEST_F(QRViewTest, KeySearchSendsAtMostTheKeysTheViewHas) {
  auto view = Open();
  view->SetKeyValue(1, "alpha");
  view->SetKeyValue(2, "beta");
  EXPECT_TRUE(view->KeySearch(3, true));
  auto search = api.Only("HTIndexKeySearch");
  ASSERT_EQ(search.size(), 1u);
  EXPECT_EQ(search[0].args, (std::vector<uint64_t>{kIndex, 2, HTKEYSEARCH_EXACT}));
  EXPECT_EQ(search[0].text, "2:alpha|2:beta");

  api.calls.clear();
  api.keySearchStatus = HTFAIL_NOT_FOUND;
  EXPECT_FALSE(view->KeySearch(1, false));
  EXPECT_EQ(api.Only("HTIndexKeySearch")[0].args, (std::vector<uint64_t>{kIndex, 1, HTKEYSEARCH_PARTIAL}));
  EXPECT_EQ(view->LastError, HTFAIL_NOT_FOUND);

  api.calls.clear();
  EXPECT_FALSE(view->KeySearch(0, true));
  EXPECT_FALSE(view->KeySearch(-3, true));
  EXPECT_TRUE(api.calls.empty());
  api.keyCount = 0;
  auto keyless = Open();
  EXPECT_FALSE(keyless->KeySearch(3, true));
  EXPECT_TRUE(api.calls.empty());
}

TEST_F(QRViewTest, KeyValuesAreCutAtOneHundredAndOutOfRangeKeysIgnored) {
  auto view = Open();
  view->SetKeyValue(1, std::string(150, 'k'));
  EXPECT_EQ(std::string(view->KeyValues[0]), std::string(100, 'k'));
  view->SetKeyValue(2, "two");
  view->SetKeyValue(view->KeyCount + 1, "three");
  view->SetKeyValue(0, "zero");
  EXPECT_EQ(std::string(view->KeyValues[1]), "two");
  EXPECT_EQ(std::string(view->KeyValues[2]), "");

  TranslateOn = true;  // key texts are never translated
  view->SetKeyValue(2, "plain");
  EXPECT_EQ(std::string(view->KeyValues[1]), "plain");
  EXPECT_TRUE(api.calls.empty());
}

TEST_F(QRViewTest, FullTextSearchRefinesFirstWhenASearchIsInForce) {
  api.ftRows = 3;
  auto view = Open();
  api.position = 2;
  EXPECT_EQ(view->FTSearch(std::string(600, 'q'), 50), 3);
  EXPECT_TRUE(view->FTActive);
  EXPECT_EQ(view->SavedPosition, 2);
  auto ft = api.Only("HTIndexFTSearch");
  ASSERT_EQ(ft.size(), 1u);
  EXPECT_EQ(ft[0].text, std::string(500, 'q'));
  EXPECT_EQ(ft[0].args, (std::vector<uint64_t>{kIndex, 1, 2, 50}));

  api.calls.clear();
  api.ftRows = 2;
  api.position = 1;
  EXPECT_EQ(view->FTSearch(std::string(300, 'r'), 7), 2);
  ft = api.Only("HTIndexFTSearch");
  ASSERT_EQ(ft.size(), 2u);
  EXPECT_EQ(ft[0].args, (std::vector<uint64_t>{kIndex, 0x11, 2, 7}));
  EXPECT_EQ(ft[0].text, std::string(255, 'r'));  // the refinement's smaller buffer
  EXPECT_EQ(ft[1].args, (std::vector<uint64_t>{kIndex, 1, 2, 7}));
  EXPECT_EQ(ft[1].text, std::string(300, 'r'));

  api.position = 2;
  api.calls.clear();
  view->FTClear();
  EXPECT_EQ(api.Names(), (std::vector<std::string>{"HTIndexFTSearch", "HTIndexSetPosition"}));
  EXPECT_EQ(api.calls[0].args, (std::vector<uint64_t>{kIndex, 0x10000, 0, 0}));
  EXPECT_EQ(api.calls[0].text, "");
  EXPECT_EQ(api.calls[1].args[1], 1u);  // the position before the latest search
  EXPECT_FALSE(view->FTActive);

  api.calls.clear();
  view->FTClear();
  EXPECT_EQ(view->FTRefine("again", 1), 0);
  EXPECT_TRUE(api.calls.empty());
}

TEST_F(QRViewTest, FailedSearchAnswersZeroAndFailedClearStillRestores) {
  auto view = Open();
  api.ftStatus = HTFAIL_FTQUERY_SYNTAX;
  EXPECT_EQ(view->FTSearch("(", 0), 0);
  EXPECT_FALSE(view->FTActive);
  EXPECT_EQ(view->LastError, HTFAIL_FTQUERY_SYNTAX);

  view->FTActive = true;
  view->SavedPosition = 3;
  api.calls.clear();
  view->FTClear();
  EXPECT_TRUE(view->FTActive);
  EXPECT_EQ(api.Only("HTIndexSetPosition")[0].args[1], 3u);
}

TEST_F(QRViewTest, QueriesAndMessagesAreTranslatedWhileTranslationIsOn) {
  auto view = Open();
  TranslateOn = true;
  view->FTSearch(std::string(499, 'x'), 0);
  auto ft = api.Only("HTIndexFTSearch");
  ASSERT_EQ(ft.size(), 1u);
  // Translated first and cut after, so the API never gets more than 500 characters.
  EXPECT_EQ(ft[0].text, "L:" + std::string(498, 'x'));

  view->LastError = 0x1234;
  std::string text = "stale";
  view->GetNotesErrorString(text);
  EXPECT_EQ(text, "N:message 00001234");
}

TEST_F(QRViewTest, ExpandabilityProbeRestoresThePosition) {
  auto view = Open();
  api.position = 2;
  view->MoveNext();
  const HTID note = view->NoteID;
  api.calls.clear();
  EXPECT_TRUE(view->GetIsExpandable());
  EXPECT_EQ(api.Names(), (std::vector<std::string>{"HTIndexGetViewPosition", "HTIndexNavigate",
                                                   "HTIndexSetViewPosition"}));
  EXPECT_EQ(api.Navigations(), std::vector<Nav>{Nav(3, 1)});
  EXPECT_EQ(api.calls[2].text, "1.3");
  EXPECT_EQ(api.position, 3);
  EXPECT_EQ(view->NoteID, note);
  EXPECT_EQ(view->LastError, 0u);

  api.hasChild = false;
  EXPECT_FALSE(view->GetIsExpandable());
  EXPECT_EQ(view->LastError, 0u);  // the restoring call's result, not the probe's
}

TEST_F(QRViewTest, FlatViewIsNeverExpandableAndMakesNoCall) {
  api.viewRecord.flags = HTVIEWFLAG_FLAT;
  auto view = Open();
  EXPECT_TRUE(view->FlatIndex);
  EXPECT_FALSE(view->GetIsExpandable());
  EXPECT_TRUE(api.calls.empty());
}

TEST_F(QRViewTest, ViewRecordGivesColoursFlagsAndAttributes) {
  api.viewRecord.flags = HTVIEWFLAG_DEFAULT | HTVIEWFLAG_ALTERNATE_ROWS | HTVIEWFLAG_COLLAPSED;
  api.viewRecord.linesPerRow = 200;
  api.viewRecord.openAt = 0xDEADBEEF;
  api.viewRecord.backgroundColor = 17;
  api.viewRecord.alternateColor = 20;
  auto view = Open();
  EXPECT_TRUE(view->ViewFlag0001);
  EXPECT_FALSE(view->FlatIndex);
  EXPECT_TRUE(view->ViewFlag4000);
  EXPECT_EQ(view->ViewAttr17, 200u);
  EXPECT_EQ(view->ViewAttr24, 0xDEADBEEFu);
  EXPECT_EQ(view->BackgroundColor, 0xC1FFFFu);
  EXPECT_EQ(view->AlternateColor, 0xE1FF82u);

  api.viewRecord.flags = 0;  // no alternate rows: the alternate colour is the background
  EXPECT_EQ(Open()->AlternateColor, 0xC1FFFFu);

  api.viewFetchStatus = HTFAIL_NOTE_NOT_FOUND;
  auto failed = Open();
  EXPECT_TRUE(failed->Opened);
  EXPECT_EQ(failed->LastError, HTFAIL_NOTE_NOT_FOUND);
  EXPECT_EQ(failed->BackgroundColor, 0xFFFFFFu);
  EXPECT_EQ(failed->AlternateColor, 0xFFFFFFu);
}

TEST_F(QRViewTest, PositionCallsNeedNoOpenIndex) {
  TQuireView view("Nope", kDatabase);
  api.calls.clear();
  view.SetPosition(3);
  view.Refresh();
  std::string text;
  view.GetViewPosition(text);
  view.SetViewPosition(std::string(300, '9'));
  EXPECT_EQ(api.Names(), (std::vector<std::string>{"HTIndexSetPosition", "HTIndexRefresh", "HTIndexGetViewPosition",
                                                   "HTIndexSetViewPosition"}));
  EXPECT_EQ(api.calls[2].args[1], 255u);
  EXPECT_EQ(api.calls[3].text, std::string(255, '9'));
}

TEST_F(QRViewTest, DatabaseGetViewTestsTheNameAndTheOutcome) {
  TQuireDatabase db("", "views.nsf");
  db.LastError = 0x77;
  api.calls.clear();
  EXPECT_EQ(db.GetView(""), nullptr);
  EXPECT_TRUE(api.calls.empty());
  EXPECT_EQ(db.LastError, 0x77u);

  EXPECT_EQ(db.GetView("Absent"), nullptr);
  EXPECT_EQ(db.LastError, HTFAIL_VIEW_NOT_FOUND);

  db.LastError = 0;
  auto view = db.GetView("Main");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->DatabaseHandle, kDatabase);
  EXPECT_EQ(db.LastError, 0u);
}

}  // namespace
