// TQuireView and its columns against the real engine: flat, categorised and hierarchical
// views walked in every direction, position texts, key and full-text search, readers, and a
// view walked while another handle changes the database.
#include "objects/QRView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "objects/QRAcl.h"
#include "objects/QRDbase.h"
#include "objects/QRDoccol.h"
#include "tests/objects/QRViewEngineFixture.h"

namespace {

using viewtest::Column;

struct Row {
  HTID note;
  std::string kind;  // "cat", "total" or "doc": what the view's flags said
  std::string cell;  // the first cell
  bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Row& r) {
  return out << "{" << r.note << " " << r.kind << " '" << r.cell << "'}";
}

Row Current(TQuireView& view) {
  std::string cell;
  view.GetCellText(1, cell);
  std::string kind = view.IsCategory ? "cat" : view.IsTotal ? "total" : view.IsDoc ? "doc" : "?";
  return Row{view.NoteID, kind, cell};
}

// Every row from the first forward, then from the last backward (reversed back).
std::vector<Row> WalkForward(TQuireView& view) {
  std::vector<Row> rows;
  view.MoveFirst();
  while (view.LastError == 0 && rows.size() < 100) {
    rows.push_back(Current(view));
    view.MoveNext();
  }
  EXPECT_EQ(view.LastError, HTFAIL_END_OF_LIST);
  return rows;
}
std::vector<Row> WalkBackward(TQuireView& view) {
  std::vector<Row> rows;
  view.MoveLast();
  while (view.LastError == 0 && rows.size() < 100) {
    rows.push_back(Current(view));
    view.MovePrev();
  }
  EXPECT_EQ(view.LastError, HTFAIL_END_OF_LIST);
  std::reverse(rows.begin(), rows.end());
  return rows;
}

class QRViewEngine : public viewtest::ViewEngineTest {
 protected:
  std::unique_ptr<TQuireView> Open(const std::string& name) {
    auto view = database_->GetView(name);
    EXPECT_NE(view, nullptr) << name << ": " << database_->GetNotesErrorString();
    return view;
  }

  // Categories Fruit (apple 3, pear 4) and Veg (leek 5), amounts totalled.
  void MakeCategorised() {
    MakeView("ByCategory", {Column("Category", "Category", HTCOLSORT_CAT_ASCEND),
                            Column("Subject", "Subject", HTCOLSORT_ASCEND),
                            Column("Amount", "Amount", HTCOLSORT_NONE, HTCOLTOTAL_TOTAL)});
    pear_ = Add("pear", "Fruit", 4);
    leek_ = Add("leek", "Veg", 5);
    apple_ = Add("apple", "Fruit", 3);
  }

  HTID apple_ = 0, pear_ = 0, leek_ = 0;
};

TEST_F(QRViewEngine, FlatViewIsSortedAndWalksBothWaysToTheEnds) {
  MakeView("BySubject", {Column("Subject", "Subject", HTCOLSORT_ASCEND), Column("Amount", "Amount", HTCOLSORT_NONE)},
           HTVIEWFLAG_FLAT);
  const HTID c = Add("cherry", "", 3);
  const HTID a = Add("apple", "", 1);
  const HTID b = Add("banana", "", 2);
  auto view = Open("bysubject");  // names are found whatever their case
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->FlatIndex);
  EXPECT_EQ(view->GetCount(), 3);
  EXPECT_EQ(view->NoteID, a) << "opening stands on the first document";

  const std::vector<Row> expected = {{a, "doc", "apple"}, {b, "doc", "banana"}, {c, "doc", "cherry"}};
  EXPECT_EQ(WalkForward(*view), expected);
  EXPECT_EQ(view->GetPosition(), 3) << "a failed move leaves the position";
  EXPECT_EQ(WalkBackward(*view), expected);
  EXPECT_EQ(view->GetPosition(), 1);

  EXPECT_EQ(IdOf(view->GetFirstDocument()), a);
  EXPECT_EQ(IdOf(view->GetNextDocument()), b);
  EXPECT_EQ(IdOf(view->GetLastDocument()), c);
  EXPECT_EQ(view->GetNextDocument(), nullptr);
  EXPECT_EQ(view->LastError, HTFAIL_END_OF_LIST);
  EXPECT_EQ(IdOf(view->GetPrevDocument()), b);
  EXPECT_EQ(IdOf(view->GetNthDocument(1)), a);
  EXPECT_EQ(view->GetPrevDocument(), nullptr);
  EXPECT_EQ(view->LastError, HTFAIL_END_OF_LIST);

  view->MoveTo(50);
  EXPECT_EQ(view->GetPosition(), 3);
  EXPECT_EQ(view->NoteID, c);
  EXPECT_FALSE(view->GetIsExpandable()) << "a flat view never expands";
  view->MoveTo(-5);
  EXPECT_EQ(view->GetPosition(), 0);
  EXPECT_EQ(view->LastError, HTFAIL_NO_POSITION) << "before the first row there is no current row";
  view->MoveNext();
  EXPECT_EQ(view->NoteID, a) << "and the next row is the first";

  std::string amount;
  view->GetCellText(2, amount);
  EXPECT_EQ(amount, "1");
  view->GetCellText(3, amount);
  EXPECT_EQ(amount, "") << "past the last column";
}

TEST_F(QRViewEngine, EmptyViewHasNoDocumentsAndAMissingViewIsReported) {
  MakeView("Nothing", {Column("Subject", "Subject", HTCOLSORT_ASCEND)}, 0, "Form = \"None\"");
  Add("apple");
  auto view = Open("Nothing");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->GetCount(), 0);
  EXPECT_EQ(view->GetFirstDocument(), nullptr);
  EXPECT_NE(view->LastError, 0u);
  view->MoveNext();
  EXPECT_EQ(view->LastError, HTFAIL_END_OF_LIST);

  EXPECT_EQ(database_->GetView("No Such View"), nullptr);
  EXPECT_EQ(database_->LastError, HTFAIL_VIEW_NOT_FOUND);
  TQuireView missing("No Such View", database_->DbHandle);
  EXPECT_FALSE(missing.Opened);
  EXPECT_FALSE(missing.IndexOpen);
  EXPECT_EQ(missing.LastError, HTFAIL_VIEW_NOT_FOUND);
}

TEST_F(QRViewEngine, CategoriesAndTotalsAreRowsOfTheirOwnInBothDirections) {
  MakeCategorised();
  auto view = Open("ByCategory");
  ASSERT_NE(view, nullptr);
  EXPECT_FALSE(view->FlatIndex);
  EXPECT_EQ(view->GetCount(), 6);
  EXPECT_EQ(view->NoteID, apple_) << "opening passes the category row";
  EXPECT_TRUE(view->IsDoc);

  // A document row's categorised cell is its own category.
  const std::vector<Row> expected = {{HTNOTEID_CATEGORY, "cat", "Fruit"}, {apple_, "doc", "Fruit"},
                                     {pear_, "doc", "Fruit"},            {HTNOTEID_CATEGORY, "cat", "Veg"},
                                     {leek_, "doc", "Veg"},              {HTNOTEID_TOTAL, "total", ""}};
  EXPECT_EQ(WalkForward(*view), expected);
  EXPECT_EQ(WalkBackward(*view), expected);

  std::string cell;
  view->MoveFirst();
  ASSERT_TRUE(view->IsCategory);
  EXPECT_FALSE(view->IsDoc);
  EXPECT_TRUE(view->GetIsExpandable());
  EXPECT_TRUE(view->IsCategory) << "the probe leaves the row's kind alone";
  view->GetCellText(3, cell);
  EXPECT_EQ(cell, "7");
  view->MoveNext();
  view->GetCellText(2, cell);
  EXPECT_EQ(cell, "apple");
  view->GetCellText(3, cell);
  EXPECT_EQ(cell, "3");
  EXPECT_FALSE(view->GetIsExpandable());
  view->MoveLast();
  ASSERT_TRUE(view->IsTotal);
  EXPECT_FALSE(view->IsDoc);
  view->GetCellText(3, cell);
  EXPECT_EQ(cell, "12");

  // Documents-only navigation passes category and total rows.
  EXPECT_EQ(IdOf(view->GetFirstDocument()), apple_);
  EXPECT_EQ(IdOf(view->GetNextDocument()), pear_);
  EXPECT_EQ(IdOf(view->GetNextDocument()), leek_);
  EXPECT_EQ(view->GetNextDocument(), nullptr);
  EXPECT_EQ(IdOf(view->GetLastDocument()), leek_);
  EXPECT_EQ(IdOf(view->GetPrevDocument()), pear_);

  // Sibling moves keep to the level: category to category.
  view->MoveFirst();
  view->MoveNextSibling();
  EXPECT_EQ(view->LastError, 0u);
  EXPECT_EQ(Current(*view), (Row{HTNOTEID_CATEGORY, "cat", "Veg"}));
  view->MoveNextChild();
  EXPECT_EQ(view->NoteID, leek_);
  view->MovePrevParent();
  EXPECT_EQ(Current(*view), (Row{HTNOTEID_CATEGORY, "cat", "Veg"}));
  view->MovePrevSibling();
  EXPECT_EQ(Current(*view), (Row{HTNOTEID_CATEGORY, "cat", "Fruit"}));
  view->MovePrevSibling();
  EXPECT_EQ(view->LastError, HTFAIL_END_OF_LIST);
}

TEST_F(QRViewEngine, PositionTextsRoundTripAndBadOnesLeaveThePosition) {
  MakeCategorised();
  auto view = Open("ByCategory");
  ASSERT_NE(view, nullptr);
  std::vector<std::string> texts;
  view->MoveFirst();
  while (view->LastError == 0) {
    std::string text;
    view->GetViewPosition(text);
    EXPECT_EQ(view->LastError, 0u);
    texts.push_back(text);
    view->MoveNext();
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"1", "1.1", "1.2", "2", "2.1", "3"}));

  for (size_t i = 0; i < texts.size(); ++i) {
    view->SetViewPosition(texts[i]);
    ASSERT_EQ(view->LastError, 0u) << texts[i];
    EXPECT_EQ(view->GetPosition(), static_cast<int>(i + 1)) << texts[i];
    std::string back;
    view->GetViewPosition(back);
    EXPECT_EQ(back, texts[i]);
  }
  view->SetViewPosition("1.2");
  EXPECT_EQ(IdOf(view->GetCurrentDocument()), pear_);
  view->SetViewPosition("1.9");
  EXPECT_EQ(view->LastError, HTFAIL_BAD_POSITION);
  view->SetViewPosition("x.1");
  EXPECT_EQ(view->LastError, HTFAIL_BAD_POSITION);
  EXPECT_EQ(IdOf(view->GetCurrentDocument()), pear_) << "a bad position text moves nothing";
  EXPECT_EQ(view->GetPosition(), 3);
  view->SetViewPosition(std::string(400, '1'));
  EXPECT_NE(view->LastError, 0u) << "an overlong text is cut and refused, not overrun";
}

TEST_F(QRViewEngine, ResponsesAreWalkedThroughChildrenParentsSiblingsAndMains) {
  MakeView("Threads", {Column("Subject", "Subject", HTCOLSORT_ASCEND)});
  const HTID a = Add("a main");
  const HTID b = Add("b main");
  const HTID r1 = Add("r1 reply", "", 0, a);
  const HTID r2 = Add("r2 reply", "", 0, a);
  const HTID rr = Add("rr reply to reply", "", 0, r1);
  auto view = Open("Threads");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->GetCount(), 5);
  const std::vector<Row> expected = {{a, "doc", "a main"},
                                     {r1, "doc", "r1 reply"},
                                     {rr, "doc", "rr reply to reply"},
                                     {r2, "doc", "r2 reply"},
                                     {b, "doc", "b main"}};
  EXPECT_EQ(WalkForward(*view), expected);
  EXPECT_EQ(WalkBackward(*view), expected);

  view->MoveFirst();
  EXPECT_TRUE(view->GetIsExpandable());
  EXPECT_EQ(view->NoteID, a);
  EXPECT_EQ(IdOf(view->GetNextChildDocument()), r1);
  EXPECT_EQ(IdOf(view->GetNextChildDocument()), rr);
  std::string text;
  view->GetViewPosition(text);
  EXPECT_EQ(text, "1.1.1");
  EXPECT_FALSE(view->GetIsExpandable());
  EXPECT_EQ(view->GetNextChildDocument(), nullptr);
  EXPECT_EQ(view->LastError, HTFAIL_END_OF_LIST);
  EXPECT_EQ(view->NoteID, rr) << "a failed move keeps the row";
  EXPECT_EQ(IdOf(view->GetNextParentDocument()), r2) << "the parent's next sibling";
  EXPECT_EQ(IdOf(view->GetPrevParentDocument()), a) << "backward: the parent itself";
  EXPECT_EQ(IdOf(view->GetNextSiblingDocument()), b);
  EXPECT_EQ(view->GetNextSiblingDocument(), nullptr);
  EXPECT_EQ(IdOf(view->GetPrevSiblingDocument()), a);

  view->SetViewPosition("1.1");
  EXPECT_EQ(IdOf(view->GetNextMainDocument()), b);
  EXPECT_EQ(view->GetNextMainDocument(), nullptr);
  EXPECT_EQ(IdOf(view->GetPrevMainDocument()), a);
  view->SetViewPosition("1.2");
  EXPECT_EQ(IdOf(view->GetPrevSiblingDocument()), r1);
  EXPECT_EQ(view->GetPrevSiblingDocument(), nullptr);
}

TEST_F(QRViewEngine, KeySearchMatchesExactlyOrByLeadingTextOverOneAndTwoKeys) {
  MakeCategorised();
  const HTID apricot = Add("apricot", "Fruit", 6);
  auto view = Open("ByCategory");
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(view->KeyCount, 2);
  EXPECT_EQ(view->KeyDescriptors[0].column, 1u);
  EXPECT_EQ(view->KeyDescriptors[1].column, 2u);

  view->SetKeyValue(1, "Veg");
  ASSERT_TRUE(view->KeySearch(1, true)) << view->LastError;
  EXPECT_EQ(IdOf(view->GetCurrentDocument()), leek_);

  view->SetKeyValue(1, "fruit");
  view->SetKeyValue(2, "pear");
  ASSERT_TRUE(view->KeySearch(2, true)) << view->LastError;
  EXPECT_EQ(IdOf(view->GetCurrentDocument()), pear_);

  view->SetKeyValue(2, "ap");
  EXPECT_FALSE(view->KeySearch(2, true));
  EXPECT_EQ(view->LastError, HTFAIL_NOT_FOUND);
  ASSERT_TRUE(view->KeySearch(5, false)) << "more keys than the view has: its two";
  EXPECT_EQ(IdOf(view->GetCurrentDocument()), apple_) << "the first match in view order";
  EXPECT_EQ(IdOf(view->GetNextDocument()), apricot);

  view->SetKeyValue(1, "Fr");
  ASSERT_TRUE(view->KeySearch(1, false));
  EXPECT_EQ(IdOf(view->GetCurrentDocument()), apple_);
  EXPECT_FALSE(view->KeySearch(1, true)) << "leading text is no exact match";
  view->SetKeyValue(1, "Meat");
  EXPECT_FALSE(view->KeySearch(1, false));
}

TEST_F(QRViewEngine, UnsortedViewHasNoKeysToSearch) {
  MakeView("Unsorted", {Column("Subject", "Subject", HTCOLSORT_NONE)});
  Add("apple");
  auto view = Open("Unsorted");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->KeyCount, 0);
  view->LastError = 0;
  view->SetKeyValue(1, "apple");
  EXPECT_FALSE(view->KeySearch(1, true));
  EXPECT_EQ(view->LastError, 0u) << "no call was made";
}

TEST_F(QRViewEngine, NativeTextsRoundTripThroughTheViewWhileTranslationIsOn) {
  MakeView("BySubject", {Column("Subject", "Subject", HTCOLSORT_ASCEND)});
  TranslateOn = true;
  const HTID m = Add("M\xC3\xBCller Stra\xC3\x9F" "e", "", 0, 0, "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln");
  const HTID z = Add("Zebra");
  ASSERT_TRUE(database_->CreateFTIndex(0)) << database_->GetNotesErrorString();
  auto view = Open("BySubject");
  ASSERT_NE(view, nullptr);
  view->MoveFirst();
  std::string cell;
  view->GetCellText(1, cell);
  EXPECT_EQ(cell, "M\xC3\xBCller Stra\xC3\x9F" "e");

  // Key texts reach the API as they are: the caller gives them in the API's character set.
  // Native text there is only a key that matches nothing.
  view->SetKeyValue(1, "M\xC3\xBCll");
  EXPECT_FALSE(view->KeySearch(1, false));
  view->SetKeyValue(1, "\xC3\xBC\xFF\x10\x14\x1F");
  EXPECT_FALSE(view->KeySearch(1, true));
  std::string key;
  Translate_From_Native("M\xC3\xBCll", key);
  view->SetKeyValue(1, key);
  ASSERT_TRUE(view->KeySearch(1, false)) << view->LastError;
  EXPECT_EQ(IdOf(view->GetCurrentDocument()), m);
  view->SetKeyValue(1, "zebra");
  ASSERT_TRUE(view->KeySearch(1, true));
  EXPECT_EQ(IdOf(view->GetCurrentDocument()), z);

  EXPECT_EQ(view->FTSearch("K\xC3\xB6ln", 0), 1) << view->LastError;
  EXPECT_EQ(IdOf(view->GetFirstDocument()), m);
  view->FTClear();

  auto found = database_->Search("Subject = \"M\xC3\xBCller Stra\xC3\x9F" "e\"");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->GetCount(), 1);
  EXPECT_EQ(IdOf(found->GetFirstDocument()), m);

  // A failure's message crosses back as well.
  view->SetViewPosition("9.9");
  std::string message;
  view->GetNotesErrorString(message);
  EXPECT_FALSE(message.empty());
}

TEST_F(QRViewEngine, FullTextNarrowsTheViewAndClearRestoresIt) {
  MakeView("BySubject", {Column("Subject", "Subject", HTCOLSORT_ASCEND)});
  const HTID a = Add("alpha", "", 0, 0, "budget meeting");
  Add("beta", "", 0, 0, "holiday");
  const HTID c = Add("gamma", "", 0, 0, "budget marketing");
  const HTID d = Add("delta", "", 0, 0, "marketing only");
  ASSERT_TRUE(database_->CreateFTIndex(0)) << database_->GetNotesErrorString();
  auto view = Open("BySubject");
  ASSERT_NE(view, nullptr);
  view->MoveTo(3);
  EXPECT_EQ(view->FTRefine("budget", 0), 0);
  EXPECT_EQ(view->FTSearch("budget", 0), 2) << view->LastError;
  EXPECT_TRUE(view->FTActive);
  EXPECT_EQ(view->SavedPosition, 3);
  std::set<HTID> found{IdOf(view->GetFirstDocument()), IdOf(view->GetNextDocument())};
  EXPECT_EQ(found, (std::set<HTID>{a, c}));
  EXPECT_EQ(view->GetNextDocument(), nullptr);
  view->MoveTo(1);
  EXPECT_EQ(view->FTRefine("marketing", 0), 1);
  EXPECT_EQ(IdOf(view->GetFirstDocument()), c);
  view->FTClear();
  EXPECT_EQ(view->LastError, 0u);
  EXPECT_FALSE(view->FTActive);
  EXPECT_EQ(view->GetCount(), 4);
  EXPECT_EQ(view->GetPosition(), 1) << "where the refinement started";
  EXPECT_EQ(view->FTSearch("marketing", 0), 2);
  view->FTClear();
  EXPECT_EQ(view->GetPosition(), 1);
  EXPECT_EQ(view->FTSearch("budget AND (", 0), 0);
  EXPECT_EQ(view->LastError, HTFAIL_FTQUERY_SYNTAX);
  EXPECT_FALSE(view->FTActive);
  (void)d;
}

TEST_F(QRViewEngine, ColumnsCarryTheirDesign) {
  MakeView("Designed", {Column("Category", "Category", HTCOLSORT_CAT_ASCEND, HTCOLTOTAL_NONE, 0, 160, 10),
                        Column("Subject", "Subject", HTCOLSORT_DESCEND, HTCOLTOTAL_NONE, 0, 100, 12),
                        Column("Secret", "Amount", HTCOLSORT_NONE, HTCOLTOTAL_NONE, HTCOLFLAG_HIDDEN, 8, 9)});
  auto view = Open("Designed");
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(view->ColumnCount, 3);
  std::string title;
  view->GetColumnTitles(0, title);
  EXPECT_EQ(title, "Category");
  view->GetColumnTitles(2, title);
  EXPECT_EQ(title, "Secret");
  view->GetColumnTitles(3, title);
  EXPECT_EQ(title, "");
  TQuireViewColumn* category = view->GetColumn(0);
  ASSERT_NE(category, nullptr);
  EXPECT_TRUE(category->Category);
  EXPECT_EQ(category->GetWidth(), 20 * 12);
  EXPECT_EQ(category->ColumnNumber, 1u);
  EXPECT_EQ(category->ViewID, view->ViewID);
  EXPECT_FALSE(view->GetColumn(1)->Category);
  EXPECT_EQ(view->GetColumn(1)->GetWidth(), 12 * 12);
  EXPECT_TRUE(view->GetColumn(2)->Hidden);
  EXPECT_FALSE(view->GetColumn(1)->Hidden);
  EXPECT_EQ(view->GetColumn(2)->GetWidth(), 12);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(view->GetColumn(i)->FontSize, (10 + 12) / 3) << i;
  EXPECT_EQ(view->GetColumn(3), nullptr);
  EXPECT_EQ(view->KeyCount, 2);
}

TEST_F(QRViewEngine, ReadersHideDocumentsFromTheViewWhereTheListIsEnforced) {
  MakeCategorised();
  {
    auto secret = database_->CreateDocument("");
    ASSERT_NE(secret, nullptr);
    secret->AppendTextItem("Subject", "secret");
    secret->AppendTextItem("Category", "Hidden");
    secret->AppendNumberItem("Amount", 100);
    secret->AppendTextItem("Readers", "Somebody Else");
    TQuireItem* readers = secret->GetItemByName("Readers");
    ASSERT_NE(readers, nullptr);
    readers->SetIsReaders(true);
    secret->Save();
    ASSERT_EQ(secret->LastError, 0u) << secret->GetNotesErrorString();
  }
  {
    auto open = Open("ByCategory");
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->GetCount(), 8) << "unenforced: the owner of the file reads everything";
  }
  auto acl = database_->GetACL();
  acl->SetUniformAccess(true);
  ASSERT_EQ(acl->LastError, 0u) << acl->GetNotesErrorString();
  acl.reset();
  database_ = session_.GetDatabase("", path_);
  ASSERT_NE(database_, nullptr);

  auto view = Open("ByCategory");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->GetCount(), 6) << "neither the document nor its category";
  std::vector<Row> rows = WalkForward(*view);
  for (const Row& r : rows) EXPECT_NE(r.cell, "Hidden");
  view->MoveLast();
  std::string total;
  view->GetCellText(3, total);
  EXPECT_EQ(total, "12") << "totals count only readable documents";
}

TEST_F(QRViewEngine, AnOpenViewIsStableWhileAnotherHandleSavesAndDeletes) {
  MakeView("BySubject", {Column("Subject", "Subject", HTCOLSORT_ASCEND)}, HTVIEWFLAG_FLAT);
  std::vector<HTID> ids;
  for (const char* s : {"b", "d", "f", "h", "j"}) ids.push_back(Add(s));
  auto view = Open("BySubject");
  ASSERT_NE(view, nullptr);
  auto other = TQuireDatabase::CreateShared(database_->DbHandle);
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(other->Opened);

  std::vector<HTID> seen{IdOf(view->GetFirstDocument()), IdOf(view->GetNextDocument())};
  // Behind, ahead and a deletion ahead, through the other handle.
  for (const char* s : {"a", "e", "z"}) {
    auto doc = other->CreateDocument("");
    ASSERT_NE(doc, nullptr);
    doc->AppendTextItem("Subject", s);
    doc->Save();
    ASSERT_EQ(doc->LastError, 0u);
  }
  TQuireDocument doomed(other->DbHandle, ids[3]);
  ASSERT_TRUE(other->DeleteDocument(&doomed)) << other->GetNotesErrorString();

  for (auto doc = view->GetNextDocument(); doc; doc = view->GetNextDocument()) seen.push_back(doc->DocID);
  EXPECT_EQ(view->LastError, HTFAIL_END_OF_LIST);
  EXPECT_EQ(seen, (std::vector<HTID>{ids[0], ids[1], ids[2], ids[4]})) << "no skip, no repeat, no newcomer";
  EXPECT_EQ(view->GetCount(), 5) << "positions hold until Refresh";

  view->Refresh();
  EXPECT_EQ(view->LastError, 0u);
  EXPECT_EQ(view->GetCount(), 7);
  std::vector<std::string> subjects;
  view->MoveFirst();
  while (view->LastError == 0) {
    std::string s;
    view->GetCellText(1, s);
    subjects.push_back(s);
    view->MoveNext();
  }
  EXPECT_EQ(subjects, (std::vector<std::string>{"a", "b", "d", "e", "f", "j", "z"}));
}

TEST_F(QRViewEngine, ViewAttributesComeFromTheStoredDesign) {
  std::vector<HTCOLUMNSPEC> columns = {Column("Subject", "Subject", HTCOLSORT_ASCEND)};
  HTVIEWSPEC spec{};
  spec.name = "Striped";
  spec.alias = "stripes";
  spec.flags = HTVIEWFLAG_ALTERNATE_ROWS | HTVIEWFLAG_COLLAPSED | HTVIEWFLAG_FLAT;
  spec.backgroundColor = 2;
  spec.alternateColor = 3;
  spec.columnCount = 1;
  spec.columns = columns.data();
  HTID id = 0;
  ASSERT_EQ(HTAPI.HTViewCreate(database_->DbHandle, &spec, &id), 0u);
  spec.name = "Plain";
  spec.alias = nullptr;
  spec.flags = 0;
  ASSERT_EQ(HTAPI.HTViewCreate(database_->DbHandle, &spec, &id), 0u);

  auto striped = Open("STRIPES");  // found by its alias too
  ASSERT_NE(striped, nullptr);
  EXPECT_EQ(striped->LastError, 0u) << "the view record was read";
  EXPECT_EQ(striped->BackgroundColor, 0x0000FFu);
  EXPECT_EQ(striped->AlternateColor, 0x00FF00u);
  EXPECT_TRUE(striped->ViewFlag4000);
  EXPECT_TRUE(striped->FlatIndex);
  EXPECT_EQ(std::string(striped->ViewRecord.name), "Striped");
  auto plain = Open("Plain");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->AlternateColor, plain->BackgroundColor);
  EXPECT_FALSE(plain->ViewFlag4000);
  EXPECT_FALSE(plain->FlatIndex);
  EXPECT_EQ(plain->GetCount(), 0);
  EXPECT_EQ(plain->GetFirstDocument(), nullptr);
}

TEST_F(QRViewEngine, TotalsFollowChangesOnlyAfterRefresh) {
  MakeCategorised();
  auto view = Open("ByCategory");
  ASSERT_NE(view, nullptr);
  auto other = TQuireDatabase::CreateShared(database_->DbHandle);
  ASSERT_NE(other, nullptr);
  {
    auto plum = other->CreateDocument("");
    ASSERT_NE(plum, nullptr);
    plum->AppendTextItem("Category", "Fruit");
    plum->AppendTextItem("Subject", "plum");
    plum->AppendNumberItem("Amount", 10);
    plum->Save();
    ASSERT_EQ(plum->LastError, 0u);
  }
  TQuireDocument leek(other->DbHandle, leek_);
  ASSERT_TRUE(other->DeleteDocument(&leek));

  std::string cell;
  view->MoveLast();
  view->GetCellText(3, cell);
  EXPECT_EQ(cell, "12") << "the snapshot holds until Refresh";
  EXPECT_EQ(view->GetCount(), 6);

  view->Refresh();
  ASSERT_EQ(view->LastError, 0u);
  EXPECT_EQ(view->GetCount(), 5) << "Fruit, apple, pear, plum, total: Veg is gone with its only document";
  view->MoveLast();
  EXPECT_TRUE(view->IsTotal);
  view->GetCellText(3, cell);
  EXPECT_EQ(cell, "17");
  view->MoveFirst();
  view->GetCellText(3, cell);
  EXPECT_EQ(cell, "17");
  view->MoveNextSibling();
  EXPECT_EQ(view->NoteID, HTNOTEID_TOTAL) << "the next top-level row after Fruit";
}

}  // namespace
