#include "objects/Quiredoc.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "rtl/Errors.h"
#include "tests/objects/DocApiDouble.h"
#include "tests/objects/DocEngineFixture.h"

namespace {

using docdouble::DocApiDouble;
using docdouble::FakeItem;
using Lines = std::vector<std::string>;
constexpr HTDOCHANDLE kDoc = DocApiDouble::kDoc;
constexpr HTDBHANDLE kDb = 3;
constexpr HTID kNote = 42;


// ---- Through the recording double ----------------------------------------------------

TEST(QuiredocTest, ADocumentThatCannotBeOpenedIsNotLoadedAndIsNotClosed) {
  DocApiDouble api;
  api.Fail["HTDocumentOpen"] = HTFAIL_NOTE_NOT_FOUND;
  {
    TQuireDocument doc(kDb, kNote);
    EXPECT_FALSE(doc.Loaded);
    EXPECT_FALSE(doc.Opened);
    EXPECT_EQ(doc.LastError, HTFAIL_NOTE_NOT_FOUND);
    EXPECT_EQ(doc.Items.Count(), 0);
    EXPECT_EQ(doc.GetUniversalID(), "");
  }
  EXPECT_TRUE(api.Calls("HTDocumentClose").empty());
}

TEST(QuiredocTest, ItemsAreMadeByTypeKeptInOrderAndAppendReplacesOnlyTheFirstOfAName) {
  DocApiDouble api;
  auto& items = api.Docs[kDoc].items;
  items = {FakeItem{"Body", HTTYPE_TEXT, 0, "one"}, FakeItem{"Rich", HTTYPE_COMPOSITE},
           FakeItem{"List", HTTYPE_TEXT_LIST, 0, "", {"a", "b"}}, FakeItem{"Body", HTTYPE_NUMBER, 0, "two"}};
  {
    TQuireDocument doc(kDb, kNote);
    ASSERT_TRUE(doc.Loaded);
    ASSERT_EQ(doc.Items.Count(), 4);
    EXPECT_NE(dynamic_cast<TQuireRTItem*>(doc.GetItem(1)), nullptr);
    auto* list = dynamic_cast<TQuireTextListItem*>(doc.GetItemByName("LIST"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->GetCount(), 2);
    TQuireItem* first = doc.GetItemByName("body");
    EXPECT_EQ(first, doc.GetItem(0));
    TQuireItem* second = doc.GetItem(3);
    EXPECT_EQ(doc.GetItem(4), nullptr);
    EXPECT_EQ(doc.GetItem(-1), nullptr);
    EXPECT_EQ(doc.GetFirstItem(""), nullptr);

    doc.AppendTextItem("BODY", "new");
    ASSERT_EQ(doc.Items.Count(), 4);
    EXPECT_EQ(doc.GetItem(2), second);
    EXPECT_EQ(doc.Items.Strings(3), "BODY");
    EXPECT_EQ(doc.GetItemByName("Body"), second);
  }
  // The rich-text item's composite goes before the document.
  const Lines closes = {api.Log.end() - 2, api.Log.end()};
  EXPECT_EQ(closes, (Lines{"HTCompositeClose(100,0)", "HTDocumentClose(7,131072)"}));
}

TEST(QuiredocTest, AttachmentsAreListedEvenWhenTheDocumentHasNoItems) {
  DocApiDouble api;
  api.Docs[kDoc].attachments = {"a.txt", "B.PDF"};
  TQuireDocument doc(kDb, kNote);
  EXPECT_EQ(doc.AttachCount, 2);
  ASSERT_NE(doc.GetAttachment("b.pdf"), nullptr);
  EXPECT_EQ(doc.GetAttachment("b.pdf")->ListValue1, 2u);
  EXPECT_EQ(doc.GetAttach(0)->Name, "a.txt");
  EXPECT_EQ(doc.GetAttachment(""), nullptr);
  EXPECT_EQ(doc.GetAttach(2), nullptr);
}

TEST(QuiredocTest, ANewDocumentListsItsFormsItemsByTypeAndRefusesAnOverlongFormName) {
  DocApiDouble api;
  api.Forms["Memo"] = 1000;
  api.Docs[kDoc].items = {FakeItem{"Recipients", HTTYPE_TEXT_LIST, 0, "", {"x"}}};
  auto doc = TQuireDocument::CreateNewDoc(kDb, "Memo");
  ASSERT_TRUE(doc->Loaded);
  EXPECT_TRUE(doc->IsNew);
  EXPECT_EQ(doc->DocID, 0u);
  EXPECT_EQ(api.Calls("HTDocumentCreate"), Lines{"HTDocumentCreate(1000)"});
  EXPECT_NE(dynamic_cast<TQuireTextListItem*>(doc->GetItemByName("recipients")), nullptr);

  api.Log.clear();
  auto refused = TQuireDocument::CreateNewDoc(kDb, std::string(256, 'F'));
  EXPECT_FALSE(refused->Loaded);
  EXPECT_EQ(refused->LastError, HTFAIL_TEXT_TOO_LONG);
  EXPECT_TRUE(api.Log.empty());
}

TEST(QuiredocTest, SaveClearsIsNewOnSuccessOrWarningAndGivesANewDocumentItsID) {
  DocApiDouble api;
  api.NewDocID = 77;
  for (const auto& [status, cleared] : std::vector<std::pair<HTSTATUS, bool>>{
           {HTFAIL_CONFLICT, false}, {HTFAIL_SAVE_WARNING, true}, {0, true}}) {
    auto doc = TQuireDocument::CreateNewDoc(kDb, "");
    api.Fail["HTDocumentSave"] = status;
    doc->Save();
    EXPECT_EQ(doc->LastError, status);
    EXPECT_EQ(doc->IsNew, !cleared);
    EXPECT_EQ(doc->DocID, cleared ? 77u : 0u);
  }
}

TEST(QuiredocTest, DelayCommitIsWrittenOnlyWhenItChanges) {
  DocApiDouble api;
  TQuireDocument doc(kDb, kNote);
  doc.SetDelayCommit(false);
  EXPECT_TRUE(api.Calls("HTDocumentSetProperty").empty());
  doc.SetDelayCommit(true);
  doc.SetDelayCommit(true);
  EXPECT_EQ(api.Calls("HTDocumentSetProperty"), Lines{"HTDocumentSetProperty(1,1)"});
}

TEST(QuiredocTest, ExportClosesItsCompositeAndRestoresDelayCommit) {
  DocApiDouble api;
  TQuireDocument doc(kDb, kNote);
  doc.SetDelayCommit(true);
  api.Log.clear();
  EXPECT_TRUE(doc.ExportDocument("/tmp/doc.txt", "text"));
  EXPECT_EQ(api.Log, (Lines{"HTDocumentSetProperty(1,1)", "HTCompositeConvertDocument()",
                            "HTCompositeExport(100,/tmp/doc.txt,text)", "HTCompositeClose(100,0)",
                            "HTDocumentSetProperty(1,1)"}));
  api.Log.clear();
  EXPECT_FALSE(doc.ExportDocument(std::string(256, 'p'), "text"));
  EXPECT_EQ(doc.LastError, HTFAIL_TEXT_TOO_LONG);
  EXPECT_TRUE(api.Log.empty());
}

TEST(QuiredocTest, SendSplitsRecipientsAtEveryCommaWithoutTrimming) {
  const std::vector<std::pair<std::string, Lines>> cases = {
      {"a,b,", {"a", "b"}}, {"a, b", {"a", " b"}}, {"a,,b", {"a", "", "b"}}, {"", {""}}, {",", {""}}, {"x", {"x"}}};
  for (const auto& [recipients, pieces] : cases) {
    DocApiDouble api;
    TQuireDocument doc(kDb, kNote);
    EXPECT_TRUE(doc.Send(false, false, false, recipients));
    Lines expected;
    for (const std::string& piece : pieces) expected.push_back("HTItemAppendTextList(SendTo," + piece + ")");
    EXPECT_EQ(api.Calls("HTItemAppendTextList"), expected) << recipients;
    EXPECT_EQ(api.Calls("HTMailSend"), Lines{"HTMailSend(0)"});
  }
}

TEST(QuiredocTest, SendFlagsAndFailures) {
  DocApiDouble api;
  TQuireDocument doc(kDb, kNote);
  doc.Send(false, true, true, "x");
  doc.Send(false, false, true, "x");
  doc.Send(false, true, false, "x");
  EXPECT_EQ(api.Calls("HTMailSend"), (Lines{"HTMailSend(10)", "HTMailSend(2)", "HTMailSend(8)"}));

  api.Fail["HTMailSend"] = HTFAIL_MAIL_NO_RECIPIENT;
  EXPECT_FALSE(doc.Send(false, false, false, "x"));
  EXPECT_EQ(doc.LastError, HTFAIL_MAIL_NO_RECIPIENT);

  api.Log.clear();
  EXPECT_FALSE(doc.Send(true, false, false, "ok," + std::string(256, 'r')));
  EXPECT_EQ(doc.LastError, HTFAIL_TEXT_TOO_LONG);
  EXPECT_TRUE(api.Log.empty());
}

TEST(QuiredocTest, SendWithoutAPersonFormNeitherCopiesNorDeletes) {
  DocApiDouble api;
  TQuireDocument doc(kDb, kNote);
  api.Log.clear();
  doc.Send(true, false, false, "x");
  EXPECT_EQ(api.Log, (Lines{"HTFormLocateByName(Person)", "HTItemAppendTextList(SendTo,x)", "HTMailSend(0)"}));
}

TEST(QuiredocTest, SendWithAPersonFormCopiesItsDesignItemsAndClosesIt) {
  DocApiDouble api;
  api.Forms["Person"] = 1001;
  api.Docs[DocApiDouble::kFormDoc].items = {FakeItem{"$Body"}, FakeItem{"Name"}, FakeItem{"$UpdatedBy"},
                                            FakeItem{"$Info"}};
  TQuireDocument doc(kDb, kNote);
  api.Log.clear();
  EXPECT_TRUE(doc.Send(true, false, false, "x"));
  EXPECT_EQ(api.Log, (Lines{"HTFormLocateByName(Person)", "HTDatabaseSetProperty(5,1)", "HTDocumentOpen(1001,0)",
                            "HTItemCopy(8,$Body,7)", "HTItemCopy(8,$Info,7)", "HTDocumentClose(8,131072)",
                            "HTItemDelete(Form)", "HTItemDelete(SendTo)", "HTDatabaseSetProperty(5,0)",
                            "HTItemAppendTextList(SendTo,x)", "HTMailSend(0)"}));
}

TEST(QuiredocTest, UniversalIDsAreTheWordsInTextOrderAndSetParentRejectsBadText) {
  DocApiDouble api;
  api.Unids[HTDOCUMENT_UNID] = UNID{{0x00000002, 0x00000001, 0x00000004, 0xABCDEF03}};
  TQuireDocument doc(kDb, kNote);
  EXPECT_EQ(doc.GetUniversalID(), "0000000100000002ABCDEF0300000004");
  EXPECT_EQ(doc.GetParentUNID(), std::string(32, '0'));
  api.Fail["HTDocumentGetProperty"] = HTFAIL_INVALID_HANDLE;
  EXPECT_EQ(doc.GetUniversalID(), "");
  EXPECT_EQ(doc.LastError, HTFAIL_INVALID_HANDLE);
  EXPECT_THROW(doc.SetParentUNID("0000000100000002abcdef0300000004"), rtl::EConvertError);
}

// ---- Through the real engine ------------------------------------------------------------

class QuiredocEngineTest : public docdouble::DocEngineTest {};

TEST_F(QuiredocEngineTest, OpeningAnAbsentDocumentFails) {
  TQuireDocument doc(db, 0x7FFFFFF0);
  EXPECT_FALSE(doc.Loaded);
  EXPECT_NE(doc.LastError, 0u);
  EXPECT_EQ(doc.Items.Count(), 0);
}

TEST_F(QuiredocEngineTest, ASavedDocumentReopensWithItsItemsAndUniversalID) {
  HTID id = 0;
  std::string unid;
  {
    auto doc = TQuireDocument::CreateNewDoc(db, "");
    ASSERT_TRUE(doc->Loaded) << doc->GetNotesErrorString();
    doc->AppendTextItem("Subject", "first");
    doc->AppendNumberItem("Count", 7);
    doc->AppendDateTimeItem("When", rtl::EncodeDateTime(2022, 8, 9, 0, 15, 30));
    doc->AppendRTItem("Body", "rich");
    doc->AppendTextListItem("Tags", "red");
    doc->AppendTextItem("subject", "second");
    EXPECT_EQ(doc->Items.Count(), 5);
    doc->Save();
    ASSERT_EQ(doc->LastError, 0u) << doc->GetNotesErrorString();
    EXPECT_FALSE(doc->IsNew);
    EXPECT_NE(doc->DocID, 0u);
    id = doc->DocID;
    unid = doc->GetUniversalID();
  }
  ASSERT_EQ(unid.size(), 32u);
  EXPECT_EQ(unid.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  const UNID binary = StrToUNID(unid);
  EXPECT_EQ(HTAPI.HTDocumentLocateByUnid(db, &binary), id);

  TQuireDocument doc(db, id);
  ASSERT_TRUE(doc.Loaded) << doc.GetNotesErrorString();
  EXPECT_FALSE(doc.IsNew);
  EXPECT_EQ(doc.GetUniversalID(), unid);
  EXPECT_GE(doc.GetITemCount(), 5);
  ASSERT_NE(doc.GetItemByName("SUBJECT"), nullptr);
  EXPECT_EQ(doc.GetItemByName("SUBJECT")->GetText(), "second");
  EXPECT_EQ(doc.GetItemByName("Count")->GetAsNumber(), 7.0);
  EXPECT_EQ(doc.GetItemByName("When")->GetAsDate(), rtl::EncodeDateTime(2022, 8, 9, 0, 15, 30));
  EXPECT_NE(dynamic_cast<TQuireRTItem*>(doc.GetItemByName("Body")), nullptr);
  EXPECT_NE(dynamic_cast<TQuireTextListItem*>(doc.GetItemByName("Tags")), nullptr);
}

TEST_F(QuiredocEngineTest, AResponseKnowsItsParent) {
  auto parent = TQuireDocument::CreateNewDoc(db, "");
  ASSERT_TRUE(parent->Loaded) << parent->GetNotesErrorString();
  parent->Save();
  const std::string parentID = parent->GetUniversalID();
  auto child = TQuireDocument::CreateNewDoc(db, "");
  ASSERT_TRUE(child->Loaded);
  child->SetParentUNID(parentID);
  ASSERT_EQ(child->LastError, 0u) << child->GetNotesErrorString();
  EXPECT_EQ(child->GetParentUNID(), parentID);
}

TEST_F(QuiredocEngineTest, ANewDocumentOfAFormStartsWithTheFormsItems) {
  const char* status = "draft";
  const HTFORMITEM items[] = {{"Status", HTTYPE_TEXT, 0, status, 0}, {"$Design", HTTYPE_TEXT, 0, "d", 0}};
  HTID form = 0;
  ASSERT_EQ(HTAPI.HTFormCreate(db, "Memo", 2, items, &form), 0u);
  auto doc = TQuireDocument::CreateNewDoc(db, "Memo");
  ASSERT_TRUE(doc->Loaded) << doc->GetNotesErrorString();
  ASSERT_NE(doc->GetItemByName("status"), nullptr);
  EXPECT_EQ(doc->GetItemByName("status")->GetText(), "draft");

  auto plain = TQuireDocument::CreateNewDoc(db, "No such form");
  ASSERT_TRUE(plain->Loaded) << plain->GetNotesErrorString();
  EXPECT_EQ(plain->GetItemByName("status"), nullptr);
}

TEST_F(QuiredocEngineTest, ExportWritesTheWholeDocument) {
  auto doc = TQuireDocument::CreateNewDoc(db, "");
  ASSERT_TRUE(doc->Loaded) << doc->GetNotesErrorString();
  doc->AppendTextItem("Subject", "exported subject");
  const auto file = std::filesystem::path(quiretest::DataDir()) / "export.txt";
  ASSERT_TRUE(doc->ExportDocument(file.string(), "text")) << doc->GetNotesErrorString();
  EXPECT_GT(std::filesystem::file_size(file), 0u);
  EXPECT_FALSE(doc->ExportDocument("/nonexistent-dir/x.txt", "text"));
  EXPECT_NE(doc->GetNotesErrorString(), "");
}

}  // namespace
