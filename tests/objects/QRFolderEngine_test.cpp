// TQuireFolder and the database's folder factories against the real engine: folders made
// from a view, private and shared, their membership, and the ones that are not there.
#include "objects/QRFolder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "objects/QRDbase.h"
#include "objects/QRDoccol.h"
#include "tests/objects/QRViewEngineFixture.h"

namespace {

using viewtest::Column;

class QRFolderEngine : public viewtest::ViewEngineTest {
 protected:
  void SetUp() override {
    ViewEngineTest::SetUp();
    if (HasFatalFailure()) return;
    MakeView("BySubject", {Column("Subject", "Subject", HTCOLSORT_ASCEND), Column("Amount", "Amount", HTCOLSORT_NONE)});
    c_ = Add("cherry", "", 3);
    a_ = Add("apple", "", 1);
    b_ = Add("banana", "", 2);
  }

  static std::vector<HTID> Walk(TQuireFolder& folder) {
    std::vector<HTID> ids;
    for (auto doc = folder.GetFirstDocument(); doc && ids.size() < 50; doc = folder.GetNextDocument())
      ids.push_back(doc->DocID);
    return ids;
  }

  HTID a_ = 0, b_ = 0, c_ = 0;
};

TEST_F(QRFolderEngine, PrivateFolderFromAViewGainsAndLosesMembers) {
  auto folder = database_->CreateFolderFromView("Mine", "BySubject", true);
  ASSERT_NE(folder, nullptr) << database_->GetNotesErrorString();
  EXPECT_TRUE(folder->Opened);
  EXPECT_NE(folder->FolderID, 0u);
  EXPECT_EQ(folder->ColumnCount, 2) << "the view's design";
  EXPECT_EQ(folder->KeyCount, 1);
  EXPECT_EQ(folder->GetCount(), 0);
  EXPECT_EQ(folder->GetFirstDocument(), nullptr);

  folder->AddDocument(c_);
  EXPECT_EQ(folder->LastError, 0u) << GetNotesErrorText(folder->LastError);
  folder->AddDocument(a_);
  EXPECT_EQ(folder->LastError, 0u);
  folder->Refresh();
  EXPECT_EQ(folder->LastError, 0u);
  EXPECT_EQ(folder->GetCount(), 2);
  EXPECT_EQ(Walk(*folder), (std::vector<HTID>{a_, c_})) << "in the view's order";
  std::string cell;
  folder->MoveLast();
  folder->GetCellText(1, cell);
  EXPECT_EQ(cell, "cherry");

  folder->AddDocument(a_);  // already there: whatever the engine says, only in LastError
  folder->RemoveDocument(b_);  // never there
  folder->Refresh();
  EXPECT_EQ(folder->GetCount(), 2);

  folder->SetKeyValue(1, "ch");
  ASSERT_TRUE(folder->KeySearch(1, false)) << folder->LastError;
  EXPECT_EQ(IdOf(folder->GetCurrentDocument()), c_);

  folder->RemoveDocument(a_);
  EXPECT_EQ(folder->LastError, 0u);
  folder->Refresh();
  EXPECT_EQ(folder->GetCount(), 1);
  EXPECT_EQ(Walk(*folder), (std::vector<HTID>{c_}));

  folder->AddDocument(b_);
  folder->RemoveAllDocuments();
  EXPECT_EQ(folder->LastError, 0u);
  folder->Refresh();
  EXPECT_EQ(folder->GetCount(), 0);

  // The documents themselves stay.
  auto all = database_->AllDocuments();
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(all->GetCount(), 3);
}

TEST_F(QRFolderEngine, SharedFolderIsFoundAgainByNameWithItsMembers) {
  {
    auto created = database_->CreateFolderFromView("Shared Box", "BySubject", false);
    ASSERT_NE(created, nullptr) << database_->GetNotesErrorString();
    created->AddDocument(b_);
    ASSERT_EQ(created->LastError, 0u);
  }
  auto folder = database_->GetFolder("Shared Box");
  ASSERT_NE(folder, nullptr) << database_->GetNotesErrorString();
  EXPECT_TRUE(folder->Opened);
  EXPECT_EQ(folder->GetCount(), 1);
  EXPECT_EQ(Walk(*folder), (std::vector<HTID>{b_}));
  EXPECT_NE(database_->ListFolders(qrFirst).find("Shared Box"), std::string::npos);

  // A second folder of the same name is refused, and the first is untouched.
  EXPECT_EQ(database_->CreateFolderFromView("Shared Box", "BySubject", false), nullptr);
  EXPECT_EQ(database_->LastError, HTFAIL_NAME_EXISTS);
  folder->Refresh();
  EXPECT_EQ(folder->GetCount(), 1);

  // A folder can be made from another folder; it starts empty.
  auto copy = database_->CreateFolderFromView("Copy", "Shared Box", false);
  ASSERT_NE(copy, nullptr) << database_->GetNotesErrorString();
  EXPECT_EQ(copy->GetCount(), 0);
  EXPECT_EQ(copy->ColumnCount, 2);
}

TEST_F(QRFolderEngine, MissingFoldersAndViewsGiveNothing) {
  EXPECT_EQ(database_->GetFolder("Nowhere"), nullptr);
  EXPECT_EQ(database_->LastError, HTFAIL_VIEW_NOT_FOUND);
  database_->LastError = 0;
  EXPECT_EQ(database_->GetFolder(""), nullptr);
  EXPECT_EQ(database_->LastError, 0u);

  TQuireFolder missing("Nowhere", database_->DbHandle);
  EXPECT_FALSE(missing.Opened);
  EXPECT_FALSE(missing.IndexOpen);
  EXPECT_EQ(missing.LastError, HTFAIL_VIEW_NOT_FOUND);
  EXPECT_EQ(missing.GetCount(), 0);

  EXPECT_EQ(database_->CreateFolderFromView("Orphan", "No Such View", false), nullptr);
  EXPECT_EQ(database_->LastError, HTFAIL_VIEW_NOT_FOUND);
  EXPECT_EQ(database_->GetFolder("Orphan"), nullptr) << "no folder was made";
  EXPECT_EQ(database_->CreateFolderFromView("", "BySubject", false), nullptr);

  // A view is not a folder.
  EXPECT_EQ(database_->GetFolder("BySubject"), nullptr);
}

TEST_F(QRFolderEngine, ADeletedDocumentLeavesTheFolderAndAnOpenFolderPassesItOver) {
  auto folder = database_->CreateFolderFromView("Box", "BySubject", false);
  ASSERT_NE(folder, nullptr) << database_->GetNotesErrorString();
  for (HTID id : {a_, b_, c_}) folder->AddDocument(id);
  folder->Refresh();
  ASSERT_EQ(folder->GetCount(), 3);
  EXPECT_EQ(IdOf(folder->GetFirstDocument()), a_);

  TQuireDocument banana(database_->DbHandle, b_);
  ASSERT_TRUE(database_->DeleteDocument(&banana)) << database_->GetNotesErrorString();
  EXPECT_EQ(IdOf(folder->GetNextDocument()), c_) << "the deleted row is passed over";
  folder->Refresh();
  EXPECT_EQ(folder->GetCount(), 2);
  EXPECT_EQ(Walk(*folder), (std::vector<HTID>{a_, c_}));
  HTUINT count = 0;
  EXPECT_EQ(HTAPI.HTFolderGetCount(database_->DbHandle, folder->FolderID, &count), 0u);
  EXPECT_EQ(count, 2u);
}

}  // namespace
