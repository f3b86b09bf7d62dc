#include "objects/QRTLItem.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "objects/Quiredoc.h"
#include "tests/objects/DocApiDouble.h"
#include "tests/objects/DocEngineFixture.h"

namespace {

using docdouble::DocApiDouble;
using docdouble::FakeItem;
using Lines = std::vector<std::string>;
constexpr HTDOCHANDLE kDoc = DocApiDouble::kDoc;


std::vector<std::string> EntriesOf(const TQuireTextListItem& item) {
  std::vector<std::string> entries;
  for (int i = 0; i < item.GetCount(); ++i) entries.push_back(item.GetEntry(i));
  return entries;
}

// A list item "L" read from a document whose item has these entries and flags.
struct ListFixture {
  explicit ListFixture(std::vector<std::string> entries, HTUINT flags = 0) {
    FakeItem fake{"L", HTTYPE_TEXT_LIST, flags, "", std::move(entries)};
    api.Docs[kDoc].items.push_back(fake);
    item = std::make_unique<TQuireTextListItem>(kDoc, "L", "", false);
    api.Log.clear();
  }
  DocApiDouble api;
  std::unique_ptr<TQuireTextListItem> item;
};

TEST(QRTLItemTest, ReadsEveryEntryAndSkipsThoseTheApiCannotFetch) {
  std::vector<std::string> entries;
  for (int i = 0; i < 300; ++i) entries.push_back("e" + std::to_string(i));
  entries[5] = "";
  entries[6] = std::string(40000, 'x');
  ListFixture list(entries);
  ASSERT_EQ(list.item->GetCount(), 299);
  EXPECT_EQ(list.item->GetEntry(298), "e299");
  EXPECT_EQ(list.item->GetEntry(5), std::string(40000, 'x'));
  EXPECT_EQ(list.item->GetEntry(299), "");
  EXPECT_EQ(list.item->GetEntry(-1), "");
}

TEST(QRTLItemTest, AddEntryOfAnEmptyTextMakesNoCall) {
  ListFixture list({"a"});
  EXPECT_EQ(list.item->AddEntry(""), -1);
  EXPECT_TRUE(list.api.Log.empty());
  EXPECT_EQ(list.item->GetCount(), 1);
}

TEST(QRTLItemTest, EachAddWritesTheWholeListBackUnderTheItemsFlags) {
  ListFixture list({"a"}, kItemFlagNames | kItemFlagSigned);
  EXPECT_EQ(list.item->AddEntry("x"), 1);
  EXPECT_EQ(list.item->AddEntry("x"), 2);
  EXPECT_EQ(list.api.Log, (Lines{"HTItemPut(L,4,0,2,a,65)", "HTItemAppendTextList(L,x)",  //
                                 "HTItemPut(L,4,0,2,a,65)", "HTItemAppendTextList(L,x)", "HTItemAppendTextList(L,x)"}));
  EXPECT_EQ(list.api.Find(kDoc, "L")->entries, (Lines{"a", "x", "x"}));
}

TEST(QRTLItemTest, WithoutDuplicatesAMatchingValueIsRefusedWhateverItsCase) {
  ListFixture list({"Alice"});
  list.item->AllowDuplicates = false;
  EXPECT_EQ(list.item->AddEntry("ALICE"), -1);
  list.item->AddEntry("Bob");
  list.item->SetEntry(1, "alice");
  EXPECT_EQ(EntriesOf(*list.item), (Lines{"Alice", "Bob"}));
}

TEST(QRTLItemTest, RemovalsMatchIgnoringCaseAndIgnoreMissingEntries) {
  ListFixture list({"bob", "alice", "Alice"});
  list.item->RemoveEntryByValue("ALICE");
  EXPECT_EQ(EntriesOf(*list.item), (Lines{"bob", "Alice"}));
  EXPECT_EQ(list.api.Log.size(), 2u);
  list.api.Log.clear();
  list.item->RemoveEntry(5);
  list.item->RemoveEntryByValue("carol");
  EXPECT_TRUE(list.api.Log.empty());
  list.item->RemoveEntry(0);
  EXPECT_EQ(list.api.Log, Lines{"HTItemPut(L,4,0,2,Alice,0)"});
}

TEST(QRTLItemTest, SetEntryWaitsForTheNextWriteBack) {
  ListFixture list({"a", "b"});
  list.item->SetEntry(0, "y");
  EXPECT_EQ(list.item->GetEntry(0), "y");
  EXPECT_TRUE(list.api.Log.empty());
  EXPECT_EQ(list.api.Find(kDoc, "L")->entries, (Lines{"a", "b"}));
  list.item->AddEntry("z");
  EXPECT_EQ(list.api.Find(kDoc, "L")->entries, (Lines{"y", "b", "z"}));
}

TEST(QRTLItemTest, ReplacingWithAnEmptyListWritesOnlyTheEmptyPut) {
  ListFixture list({"a", "b"});
  rtl::TStringList none;
  list.item->ReplaceEntries(none);
  EXPECT_EQ(list.api.Log, Lines{"HTItemPut(L,4,0,2,,0)"});
  EXPECT_EQ(list.item->GetCount(), 0);

  rtl::TStringList two;
  two.Add("p");
  two.Add("q");
  list.item->ReplaceEntries(two);
  EXPECT_EQ(EntriesOf(*list.item), (Lines{"p", "q"}));
  list.item->ReplaceEntries(*list.item->GetAsStrings());
  EXPECT_EQ(EntriesOf(*list.item), (Lines{"p", "q"}));
}

TEST(QRTLItemTest, ANewItemStartsWithItsTextSoALaterWriteBackKeepsIt) {
  DocApiDouble api;
  TQuireTextListItem item(kDoc, "New", "first", true);
  EXPECT_EQ(EntriesOf(item), Lines{"first"});
  item.AddEntry("second");
  EXPECT_EQ(api.Find(kDoc, "New")->entries, (Lines{"first", "second"}));
  TQuireTextListItem empty(kDoc, "Empty", "", true);
  EXPECT_EQ(empty.GetCount(), 0);
}

TEST(QRTLItemTest, ANewListIsWrittenOnceInItsOwnTypeAndAFailedWriteLeavesItInvalid) {
  DocApiDouble api;
  TQuireTextListItem item(kDoc, "New", "first", true);
  EXPECT_TRUE(item.Valid);
  EXPECT_EQ(item.ItemType, qrTypeTextList);
  EXPECT_EQ(api.Calls("HTItemPut").size(), 1u) << "no text is written first only to be replaced";
  EXPECT_EQ(api.Find(kDoc, "New")->type, HTTYPE_TEXT_LIST);

  api.Fail["HTItemPut"] = HTFAIL_INVALID_ARGUMENT;
  TQuireTextListItem refused(kDoc, "Refused", "x", true);
  EXPECT_FALSE(refused.Valid);
  EXPECT_EQ(refused.LastError, HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(refused.GetCount(), 0) << "an entry that was never written is not kept";

  TQuireTextListItem tooLong(kDoc, std::string(kMaxApiText + 1, 'n'), "x", true);
  EXPECT_FALSE(tooLong.Valid);
  EXPECT_EQ(tooLong.LastError, HTFAIL_TEXT_TOO_LONG);
}

// ---- Through the real engine ------------------------------------------------------------

class QRTLItemEngineTest : public docdouble::DocEngineTest {};

TEST_F(QRTLItemEngineTest, EntriesSurviveSaveAndReopen) {
  HTID id = 0;
  std::vector<std::string> expected;
  {
    auto doc = TQuireDocument::CreateNewDoc(db, "");
    ASSERT_TRUE(doc->Loaded) << doc->GetNotesErrorString();
    doc->AppendTextListItem("People", "first");
    auto* list = dynamic_cast<TQuireTextListItem*>(doc->GetItemByName("People"));
    ASSERT_NE(list, nullptr);
    // More than 255 entries, one of them longer than 255 characters.
    rtl::TStringList many;
    for (int i = 0; i < 300; ++i) many.Add(i == 7 ? std::string(1000, 'L') : "person " + std::to_string(i));
    list->ReplaceEntries(many);
    ASSERT_EQ(list->LastError, 0u) << list->GetNotesErrorString();
    ASSERT_EQ(list->AddEntry("last"), 300);
    list->RemoveEntryByValue("PERSON 3");
    expected = EntriesOf(*list);
    ASSERT_EQ(expected.size(), 300u);
    doc->Save();
    ASSERT_EQ(doc->LastError, 0u) << doc->GetNotesErrorString();
    id = doc->DocID;
  }
  TQuireDocument reopened(db, id);
  ASSERT_TRUE(reopened.Loaded) << reopened.GetNotesErrorString();
  auto* list = dynamic_cast<TQuireTextListItem*>(reopened.GetItemByName("people"));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->ItemType, qrTypeTextList);
  EXPECT_EQ(EntriesOf(*list), expected);
}

TEST_F(QRTLItemEngineTest, EmptyingAListLeavesNoStrayEntry) {
  auto doc = TQuireDocument::CreateNewDoc(db, "");
  ASSERT_TRUE(doc->Loaded) << doc->GetNotesErrorString();
  doc->AppendTextListItem("L", "a");
  auto* list = dynamic_cast<TQuireTextListItem*>(doc->GetItemByName("L"));
  ASSERT_NE(list, nullptr);
  list->AddEntry("b");
  EXPECT_EQ(EntriesOf(TQuireTextListItem(doc->DocHandle, "L", "", false)), (Lines{"a", "b"}));
  list->RemoveAllEntries();
  TQuireTextListItem reread(doc->DocHandle, "L", "", false);
  EXPECT_EQ(reread.GetCount(), 0);
  list->AddEntry("c");
  TQuireTextListItem again(doc->DocHandle, "L", "", false);
  EXPECT_EQ(EntriesOf(again), Lines{"c"});
}

}  // namespace
