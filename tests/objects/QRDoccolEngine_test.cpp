// TQuireDocCollection and the database's collection and document factories against the real
// engine: what the set holds, its ends, clamping, full-text narrowing and deletion.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "objects/QRDbase.h"
#include "objects/QRDoccol.h"
#include "objects/Quiredoc.h"
#include "tests/objects/TestEnv.h"

namespace {

class QRDoccolEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(HTInitOK) << "the engine did not initialise";
    path_ = quiretest::UniquePath("doccol");
    ASSERT_EQ(quiretest::CreateDatabase(path_, "Collections"), 0u);
    database_ = session_.GetDatabase("", path_);
    ASSERT_NE(database_, nullptr) << session_.GetNotesErrorString();
  }

  // Saves a document and answers its note ID.
  HTID Add(const std::string& subject, double amount, const std::string& body = "") {
    auto doc = database_->CreateDocument("");
    EXPECT_NE(doc, nullptr);
    if (!doc) return 0;
    doc->AppendTextItem("Form", "Memo");
    doc->AppendTextItem("Subject", subject);
    doc->AppendNumberItem("Amount", amount);
    if (!body.empty()) doc->AppendTextItem("Body", body);
    doc->Save();
    EXPECT_EQ(doc->LastError, 0u) << doc->GetNotesErrorString();
    ids_.push_back(doc->DocID);
    return doc->DocID;
  }

  static HTID IdOf(const std::unique_ptr<TQuireDocument>& doc) { return doc ? doc->DocID : 0; }

  TQuireSession session_;
  std::string path_;
  std::unique_ptr<TQuireDatabase> database_;
  std::vector<HTID> ids_;
};

TEST_F(QRDoccolEngine, AllDocumentsHandsOutEverySavedDocumentOnceAndRepeatsAtTheEnds) {
  Add("alpha", 10);
  Add("beta", 20);
  Add("gamma", 30);
  auto all = database_->AllDocuments();
  ASSERT_NE(all, nullptr);
  EXPECT_TRUE(all->IndexOpen);
  EXPECT_EQ(all->GetCount(), 3);
  EXPECT_EQ(all->GetPosition(), 1);

  std::set<HTID> seen;
  auto first = all->GetFirstDocument();
  ASSERT_NE(first, nullptr) << all->GetNotesErrorString();
  EXPECT_TRUE(first->Loaded);
  seen.insert(first->DocID);
  std::unique_ptr<TQuireDocument> last;
  for (int i = 0; i < 2; ++i) {
    last = all->GetNextDocument();
    ASSERT_NE(last, nullptr) << all->GetNotesErrorString();
    seen.insert(last->DocID);
  }
  EXPECT_EQ(seen, std::set<HTID>(ids_.begin(), ids_.end()));

  // Past the last: the last again; before the first: the first again.
  EXPECT_EQ(IdOf(all->GetNextDocument()), last->DocID);
  EXPECT_EQ(IdOf(all->GetLastDocument()), last->DocID);
  EXPECT_EQ(all->GetPosition(), 3);
  EXPECT_EQ(IdOf(all->GetFirstDocument()), first->DocID);
  EXPECT_EQ(IdOf(all->GetPrevDocument()), first->DocID);
  EXPECT_EQ(all->GetPosition(), 1);
  EXPECT_EQ(IdOf(all->GetCurrentDocument()), first->DocID);
}

TEST_F(QRDoccolEngine, FormulaSearchSelectsAndAnEmptySelectionStillHasAResult) {
  Add("alpha", 10);
  const HTID b = Add("beta", 20);
  const HTID c = Add("gamma", 30);
  Add("delta", 5);

  auto big = database_->Search("Amount > 15");
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->GetCount(), 2);
  std::set<HTID> found{IdOf(big->GetFirstDocument()), IdOf(big->GetNextDocument())};
  EXPECT_EQ(found, (std::set<HTID>{b, c}));

  auto none = database_->Search("Subject = \"nobody\"");
  ASSERT_NE(none, nullptr) << "an empty selection is still a result";
  EXPECT_TRUE(none->HasResult);
  EXPECT_EQ(none->LastError, HTFAIL_END_OF_LIST);
  EXPECT_EQ(none->GetCount(), 0);
  EXPECT_EQ(none->GetFirstDocument(), nullptr);
  EXPECT_EQ(none->GetNextDocument(), nullptr);
  EXPECT_EQ(none->GetLastDocument(), nullptr);

  const uint32_t before = database_->LastError;
  EXPECT_EQ(database_->Search("Amount > "), nullptr);
  EXPECT_EQ(database_->LastError, before);

  TQuireDocCollection broken("Amount > ", database_->DbHandle, false, 0, 1, 0);
  EXPECT_TRUE(broken.IndexOpen);
  EXPECT_FALSE(broken.HasResult);
  EXPECT_EQ(broken.LastError, HTFAIL_FORMULA_SYNTAX);
  EXPECT_FALSE(broken.GetNotesErrorString().empty());
}

TEST_F(QRDoccolEngine, MovesStopAtTheEndsAndMoveToClamps) {
  for (int i = 1; i <= 4; ++i) Add("doc" + std::to_string(i), i);
  auto all = database_->AllDocuments();
  ASSERT_NE(all, nullptr);
  const HTID lastID = IdOf(all->GetLastDocument());
  ASSERT_NE(lastID, 0u);

  all->MoveFirst();
  EXPECT_EQ(all->LastError, 0u);
  EXPECT_EQ(all->GetPosition(), 1);
  all->MovePrev();
  EXPECT_EQ(all->LastError, HTFAIL_END_OF_LIST);
  all->MoveTo(10);
  EXPECT_EQ(all->LastError, 0u);
  EXPECT_EQ(all->GetPosition(), 4);
  EXPECT_EQ(IdOf(all->GetCurrentDocument()), lastID);
  all->MoveNext();
  EXPECT_EQ(all->LastError, HTFAIL_END_OF_LIST);
  all->MoveLast();
  EXPECT_EQ(all->LastError, 0u);
  EXPECT_EQ(all->GetPosition(), 4);

  all->MoveTo(2);
  const HTID second = IdOf(all->GetCurrentDocument());
  EXPECT_NE(second, 0u);
  all->MoveFirst();
  EXPECT_EQ(IdOf(all->GetNthDocument(2)), second);
  EXPECT_EQ(all->GetPosition(), 2);
  // N reaches the engine unchecked: beyond the set it stops on the last document, and
  // before the first there is no document at all.
  EXPECT_EQ(IdOf(all->GetNthDocument(9)), lastID);
  EXPECT_EQ(all->GetNthDocument(0), nullptr);
  EXPECT_NE(all->LastError, 0u);
}

TEST_F(QRDoccolEngine, FullTextNarrowsRefinesAndClearRestoresThePosition) {
  Add("one", 1, "quarterly budget review");
  Add("two", 2, "budget overrun in marketing");
  Add("three", 3, "holiday schedule");
  Add("four", 4, "annual budget marketing plan");
  ASSERT_TRUE(database_->CreateFTIndex(0)) << database_->GetNotesErrorString();

  auto ft = database_->FTSearch("budget", 0);
  ASSERT_NE(ft, nullptr);
  EXPECT_EQ(ft->GetCount(), 3);
  EXPECT_FALSE(ft->FTActive);
  auto capped = database_->FTSearch("budget", 2);
  ASSERT_NE(capped, nullptr);
  EXPECT_EQ(capped->GetCount(), 2) << "at most the documents asked for";
  auto nothing = database_->FTSearch("zeppelin", 0);
  ASSERT_NE(nothing, nullptr) << "no match is still a result";
  EXPECT_EQ(nothing->GetCount(), 0);
  EXPECT_EQ(nothing->GetFirstDocument(), nullptr);
  EXPECT_EQ(database_->FTSearch("budget AND (", 0), nullptr);

  auto all = database_->AllDocuments();
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(all->FTRefine("budget", 0), 0) << "nothing to refine yet";
  EXPECT_EQ(all->LastError, 0u);
  all->MoveTo(3);
  ASSERT_EQ(all->GetPosition(), 3);
  EXPECT_EQ(all->FTSearch("budget", 0), 3) << all->GetNotesErrorString();
  EXPECT_TRUE(all->FTActive);
  EXPECT_EQ(all->SavedPosition, 3);
  all->MoveTo(1);
  EXPECT_EQ(all->FTRefine("marketing", 0), 2) << all->GetNotesErrorString();
  EXPECT_EQ(all->SavedPosition, 1);
  auto hit = all->GetFirstDocument();
  ASSERT_NE(hit, nullptr);
  all->MoveTo(2);
  all->FTClear();
  EXPECT_EQ(all->LastError, 0u) << all->GetNotesErrorString();
  EXPECT_FALSE(all->FTActive);
  EXPECT_EQ(all->GetCount(), 4);
  EXPECT_EQ(all->GetPosition(), 1) << "back where the latest refinement started";

  // A second search while one is in force refines first and still answers a count.
  all->MoveTo(4);
  EXPECT_EQ(all->FTSearch("budget", 0), 3);
  all->FTSearch("marketing", 0);
  EXPECT_TRUE(all->FTActive);
  all->FTClear();
  EXPECT_FALSE(all->FTActive);
  EXPECT_EQ(all->GetCount(), 4);
}

TEST_F(QRDoccolEngine, UnknownUNIDGivesNothingAndDeletedDocumentsLeaveTheSet) {
  const HTID a = Add("alpha", 1);
  Add("beta", 2);
  auto doc = std::make_unique<TQuireDocument>(database_->DbHandle, a);
  ASSERT_TRUE(doc->Loaded);
  const std::string unid = doc->GetUniversalID();
  ASSERT_EQ(unid.size(), 32u);

  const uint32_t before = database_->LastError;
  EXPECT_EQ(database_->GetDocumentByUNID("0123456789ABCDEF0123456789ABCDEF"), nullptr);
  EXPECT_EQ(database_->LastError, before);
  auto again = database_->GetDocumentByUNID(unid);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->DocID, a);

  EXPECT_FALSE(database_->DeleteDocument(nullptr));
  ASSERT_TRUE(database_->DeleteDocument(doc.get())) << database_->GetNotesErrorString();
  EXPECT_EQ(database_->LastError, 0u);
  EXPECT_EQ(database_->GetDocumentByUNID(unid), nullptr);
  EXPECT_FALSE(database_->DeleteDocument(doc.get())) << "already deleted";
  EXPECT_NE(database_->LastError, 0u);

  auto all = database_->AllDocuments();
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(all->GetCount(), 1);
  EXPECT_NE(IdOf(all->GetFirstDocument()), a);
  EXPECT_EQ(TQuireDocument(database_->DbHandle, a).Loaded, false);
}

TEST_F(QRDoccolEngine, ACollectionWalkedWhileAnotherHandleDeletesPassesOverTheDeleted) {
  for (int i = 1; i <= 5; ++i) Add("doc" + std::to_string(i), i);
  auto all = database_->AllDocuments();
  ASSERT_NE(all, nullptr);
  auto other = TQuireDatabase::CreateShared(database_->DbHandle);
  ASSERT_NE(other, nullptr);

  std::vector<HTID> seen{IdOf(all->GetFirstDocument())};
  all->MoveTo(3);
  const HTID third = IdOf(all->GetCurrentDocument());
  all->MoveTo(1);
  TQuireDocument doomed(other->DbHandle, third);
  ASSERT_TRUE(other->DeleteDocument(&doomed)) << other->GetNotesErrorString();
  auto extra = other->CreateDocument("");
  ASSERT_NE(extra, nullptr);
  extra->AppendTextItem("Subject", "late");
  extra->Save();
  ASSERT_EQ(extra->LastError, 0u);

  for (int i = 0; i < 10 && all->GetPosition() < all->GetCount(); ++i) {
    auto doc = all->GetNextDocument();
    ASSERT_NE(doc, nullptr) << "step " << i << ": " << all->GetNotesErrorString();
    if (seen.back() == doc->DocID) break;  // the last again
    seen.push_back(doc->DocID);
  }
  std::vector<HTID> expected = ids_;
  std::erase(expected, third);
  EXPECT_EQ(std::set<HTID>(seen.begin(), seen.end()), std::set<HTID>(expected.begin(), expected.end()));
  EXPECT_EQ(seen.size(), expected.size()) << "no repeats";
}

}  // namespace
