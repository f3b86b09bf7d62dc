// TQuireFolder against a recording double of the index calls: how it differs from a view
// (opening, no translation, the shorter full-text buffer, membership).
#include "objects/QRFolder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "IndexDouble.h"
#include "objects/QRDbase.h"
#include "objects/QRView.h"

namespace {

using indexdouble::IndexDouble;
using indexdouble::kDatabase;
using indexdouble::kIndex;
using Nav = std::pair<uint64_t, uint64_t>;

constexpr HTID kFolderID = 61;
constexpr HTID kViewID = 42;

class QRFolderTest : public ::testing::Test {
 protected:
  QRFolderTest() {
    api.folders["Saved"] = kFolderID;
    api.views["Main"] = kViewID;
    api.rows = {201, 202, 203};
    api.keyCount = 1;
    api.columns = {IndexDouble::Column("Who", 8), IndexDouble::Column("What", 11)};
  }
  ~QRFolderTest() override { TranslateOn = savedTranslate; }

  std::unique_ptr<TQuireFolder> Open() {
    auto folder = std::make_unique<TQuireFolder>("Saved", kDatabase);
    api.calls.clear();
    return folder;
  }

  IndexDouble api;
  bool savedTranslate = TranslateOn;
};

TEST_F(QRFolderTest, OpensWithoutAViewRecordAndEndsWithTheKeyListingsResult) {
  TQuireFolder folder("Saved", kDatabase);
  EXPECT_EQ(api.Names(), (std::vector<std::string>{"HTFolderLocateByName", "HTIndexOpen", "HTIndexOpenViewFolder",
                                                   "HTIndexNavigate", "HTIndexListKey", "HTIndexListKey",
                                                   "HTColumnGetCount", "HTColumnList", "HTColumnList",
                                                   "HTColumnList"}));
  EXPECT_EQ(api.calls[2].args, (std::vector<uint64_t>{kIndex, 0, kFolderID, 0}));
  EXPECT_EQ(api.Navigations(), std::vector<Nav>{Nav(HTNAV_NEXT, 0)});
  EXPECT_TRUE(folder.Opened);
  EXPECT_EQ(folder.FolderID, kFolderID);
  EXPECT_EQ(folder.NoteID, 201u);
  EXPECT_EQ(folder.LastError, HTFAIL_END_OF_LIST);  // only Opened tells success
  EXPECT_EQ(folder.KeyCount, 1);
  EXPECT_EQ(folder.GetColumn(1)->FontSize, 9);  // (8 + 11) div 2
}

TEST_F(QRFolderTest, AbsentFolderHoldsNoIndex) {
  {
    TQuireFolder folder("Nothing", kDatabase);
    EXPECT_FALSE(folder.Opened);
    EXPECT_FALSE(folder.IndexOpen);
    EXPECT_EQ(folder.LastError, HTFAIL_VIEW_NOT_FOUND);
  }
  EXPECT_EQ(api.Names(), std::vector<std::string>{"HTFolderLocateByName"});
}

TEST_F(QRFolderTest, CreateFromViewMakesTheFolderThenOpensItById) {
  auto folder = TQuireFolder::CreateFromView(std::string(300, 'f'), "Main", 0x80000000u, kDatabase);
  auto names = api.Names();
  ASSERT_GE(names.size(), 3u);
  EXPECT_EQ(names[0], "HTViewLocateByName");
  EXPECT_EQ(names[1], "HTFolderCreateFromViewFolder");
  EXPECT_EQ(names[2], "HTIndexOpen");
  EXPECT_EQ(api.Count("HTFolderLocateByName"), 0);
  const auto create = api.Only("HTFolderCreateFromViewFolder")[0];
  EXPECT_EQ(create.args, (std::vector<uint64_t>{kDatabase, 0, kViewID, 0x80000000u}));
  EXPECT_EQ(create.text, std::string(255, 'f'));
  EXPECT_EQ(api.Only("HTIndexOpenViewFolder")[0].args[2], api.createdFolder);
  EXPECT_TRUE(folder->Opened);
  EXPECT_EQ(folder->FolderID, api.createdFolder);
}

TEST_F(QRFolderTest, CreateFromViewFailuresLeaveNoIndex) {
  auto noView = TQuireFolder::CreateFromView("New", "Absent", 0, kDatabase);
  EXPECT_FALSE(noView->Opened);
  EXPECT_FALSE(noView->IndexOpen);
  EXPECT_EQ(noView->LastError, HTFAIL_VIEW_NOT_FOUND);
  EXPECT_EQ(api.Count("HTFolderCreateFromViewFolder"), 0);

  api.folderCreateStatus = HTFAIL_NAME_EXISTS;
  auto refused = TQuireFolder::CreateFromView("New", "Main", 0, kDatabase);
  EXPECT_FALSE(refused->Opened);
  EXPECT_FALSE(refused->IndexOpen);
  EXPECT_EQ(refused->LastError, HTFAIL_NAME_EXISTS);
  EXPECT_EQ(api.Count("HTIndexOpen"), 0);
}

TEST_F(QRFolderTest, TextsCrossTheApiUntranslated) {
  auto folder = Open();
  TranslateOn = true;
  std::string text;
  folder->GetCellText(1, text);
  EXPECT_EQ(text, "cell1");

  EXPECT_EQ(folder->FTSearch(std::string(300, 'q'), 0), 3);
  folder->FTRefine(std::string(300, 'r'), 0);
  auto ft = api.Only("HTIndexFTSearch");
  ASSERT_EQ(ft.size(), 2u);
  EXPECT_EQ(ft[0].text, std::string(255, 'q'));  // where a view keeps all 300
  EXPECT_EQ(ft[1].text, std::string(255, 'r'));
  EXPECT_EQ(ft[1].args[1], 0x11u);
  EXPECT_EQ(api.Count("HTTranslate"), 0);

  folder->LastError = 0x4321;
  folder->GetNotesErrorString(text);
  EXPECT_EQ(text, "message 00004321");
  EXPECT_EQ(api.Count("HTTranslate"), 0);
}

TEST_F(QRFolderTest, ViewKeepsALongerQueryThanAFolder) {
  TQuireView view("Main", kDatabase);
  api.calls.clear();
  view.FTSearch(std::string(300, 'q'), 0);
  EXPECT_EQ(api.Only("HTIndexFTSearch")[0].text, std::string(300, 'q'));
}

TEST_F(QRFolderTest, NavigationUsesTheViewsWords) {
  auto folder = Open();
  folder->GetFirstDocument();
  folder->GetNextDocument();
  folder->GetPrevDocument();
  folder->GetLastDocument();
  folder->GetCurrentDocument();
  folder->MoveNext();
  folder->MovePrev();
  folder->MoveLast();
  folder->MoveTo(-1);
  EXPECT_EQ(api.Navigations(), (std::vector<Nav>{{1, 14}, {0, 12}, {0, 14}, {1, 12}, {6, 12}, {0, 0}, {0, 2},
                                                 {1, 0}, {6, 0}}));
  EXPECT_EQ(api.Only("HTIndexSetPosition").back().args[1], 0u);
  EXPECT_TRUE(folder->Opened);
}

TEST_F(QRFolderTest, MembershipReportsOnlyThroughLastError) {
  TQuireFolder folder("Nothing", kDatabase);  // no index needed
  folder.FolderID = kFolderID;
  api.calls.clear();
  api.membershipStatus = HTFAIL_ENTRY_EXISTS;
  folder.AddDocument(17);
  EXPECT_EQ(folder.LastError, HTFAIL_ENTRY_EXISTS);
  api.membershipStatus = 0;
  folder.RemoveDocument(18);
  EXPECT_EQ(folder.LastError, 0u);
  folder.RemoveAllDocuments();
  EXPECT_EQ(api.Names(), (std::vector<std::string>{"HTFolderAddEntries", "HTFolderRemoveEntries",
                                                   "HTFolderRemoveAllEntries"}));
  EXPECT_EQ(api.calls[0].args, (std::vector<uint64_t>{kDatabase, kFolderID, 1, 17}));
  EXPECT_EQ(api.calls[1].args, (std::vector<uint64_t>{kDatabase, kFolderID, 1, 18}));
}

TEST_F(QRFolderTest, OpeningAgainReleasesTheFirstIndex) {
  auto folder = Open();
  folder->Init("Saved", false);
  EXPECT_EQ(api.Count("HTIndexClose"), 1);
  EXPECT_TRUE(folder->Opened);
  EXPECT_EQ(folder->Columns.Count(), 2);
}

TEST_F(QRFolderTest, DatabaseFolderFactories) {
  TQuireDatabase db("", "folders.nsf");
  db.LastError = 0x55;
  api.calls.clear();
  EXPECT_EQ(db.GetFolder(""), nullptr);
  EXPECT_EQ(db.CreateFolderFromView("", "Main", true), nullptr);
  EXPECT_TRUE(api.calls.empty());
  EXPECT_EQ(db.LastError, 0x55u);

  EXPECT_EQ(db.GetFolder("Nothing"), nullptr);
  EXPECT_EQ(db.LastError, HTFAIL_VIEW_NOT_FOUND);
  EXPECT_NE(db.GetFolder("Saved"), nullptr);

  api.calls.clear();
  EXPECT_NE(db.CreateFolderFromView("Mine", "Main", true), nullptr);
  EXPECT_NE(db.CreateFolderFromView("Ours", "Main", false), nullptr);
  auto creates = api.Only("HTFolderCreateFromViewFolder");
  ASSERT_EQ(creates.size(), 2u);
  EXPECT_EQ(creates[0].args[3], 0x80000000u);
  EXPECT_EQ(creates[1].args[3], 0u);

  api.folderCreateStatus = HTFAIL_ACCESS_DENIED;
  EXPECT_EQ(db.CreateFolderFromView("Denied", "Main", false), nullptr);
  EXPECT_EQ(db.LastError, HTFAIL_ACCESS_DENIED);
}

}  // namespace
