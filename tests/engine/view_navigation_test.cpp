// Walking views: categories (multi-value included), totals and responses in every direction,
// positions and position texts, cells of category and total rows, flag words.
#include <algorithm>
#include <cstring>

#include "view_support.h"

namespace quire::engine::test {
namespace {

using Rows = std::vector<std::string>;

class CategorizedView : public ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    if (IsSkipped()) return;
    doc("Fruit", "banana", 5);
    doc("Fruit", "apple", 3);
    doc("Veg", "carrot", 2);
    tomato_ = addDocument(db_, [](doc::Note& n) {
      n.setTextList("Category", {"Veg", "Fruit"});
      n.setText("Subject", "tomato");
      n.setNumber("Amount", 1);
    });
    doc("", "misc", 10);
    id_ = view("By category", "", {{"Category", "Category", "", HTCOLSORT_CAT_ASCEND},
                                   {"Subject", "Subject", "", HTCOLSORT_ASCEND},
                                   {"Amount", "Amount", "", HTCOLSORT_NONE, HTCOLTOTAL_TOTAL}});
  }
  HTID id_ = 0;
  HTID tomato_ = 0;
};

// A document's cell in the categorised column holds the value it is filed under.
const Rows kAllRows = {"1 C (Not categorized)||10", "1.1 D |misc|10",       "2 C Fruit||9",
                       "2.1 D Fruit|apple|3",       "2.2 D Fruit|banana|5", "2.3 D Fruit|tomato|1",
                       "3 C Veg||3",                "3.1 D Veg|carrot|2",   "3.2 D Veg|tomato|1",
                       "4 T ||22"};

TEST_P(CategorizedView, ForwardWalkShowsCategoriesDocumentsAndTotals) {
  HTINDEXHANDLE index = open(id_);
  EXPECT_EQ(HTIndexGetCount(index), kAllRows.size());
  EXPECT_EQ(rows(index, HTNAV_NEXT, 0, 3), kAllRows);
}

TEST_P(CategorizedView, BackwardWalkIsTheReverse) {
  HTINDEXHANDLE index = open(id_);
  HTID note = 0;
  HTUINT entry = 0;
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_END, 0, &note, &entry), HTSUCCESS);
  EXPECT_EQ(note, HTNOTEID_TOTAL);
  EXPECT_EQ(HTIndexGetPosition(index), kAllRows.size());
  Rows back = rows(index, HTNAV_NEXT, HTNAVFLAG_BACKWARD, 1);
  ASSERT_EQ(back.size(), kAllRows.size() - 1);
  EXPECT_EQ(back.front(), "3.2 D Veg");  // a document's categorised cell holds its own value
  EXPECT_EQ(back.back(), "1 C (Not categorized)");
  // At the first row, a further step back ends without moving.
  EXPECT_EQ(HTIndexNavigate(index, HTNAV_NEXT, HTNAVFLAG_BACKWARD, &note, &entry), HTFAIL_END_OF_LIST);
  EXPECT_EQ(HTIndexGetPosition(index), 1u);
}

TEST_P(CategorizedView, DocumentFlagSkipsCategoryAndTotalRows) {
  HTINDEXHANDLE index = open(id_);
  std::vector<HTID> forward = walk(index, 12);
  EXPECT_EQ(forward.size(), 6u);
  EXPECT_EQ(std::count(forward.begin(), forward.end(), tomato_), 2);  // once per category value
  HTID note = 0;
  HTUINT entry = 0;
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_END, 14, &note, &entry), HTSUCCESS);  // first document
  EXPECT_EQ(position(index), "1.1");
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_END, 12, &note, &entry), HTSUCCESS);  // last document
  EXPECT_EQ(position(index), "3.2");
  EXPECT_EQ(note, tomato_);
  EXPECT_EQ(walk(index, 12).size(), 0u);
}

TEST_P(CategorizedView, SiblingsChildrenAndParents) {
  HTINDEXHANDLE index = open(id_);
  // Siblings at the top level: the categories and the total row.
  EXPECT_EQ(rows(index, HTNAV_SIBLING, 0, 1), (Rows{"1 C (Not categorized)", "2 C Fruit", "3 C Veg", "4 T "}));
  ASSERT_EQ(HTIndexSetViewPosition(index, "2"), HTSUCCESS);
  HTID note = 0;
  HTUINT entry = 0;
  // Probing for a child does not move.
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_CHILD, HTNAVFLAG_PROBE, &note, &entry), HTSUCCESS);
  EXPECT_EQ(position(index), "2");
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_CHILD, 0, &note, &entry), HTSUCCESS);
  EXPECT_EQ(position(index), "2.1");
  EXPECT_EQ(rows(index, HTNAV_SIBLING, 0, 2), (Rows{"2.2 D Fruit|banana", "2.3 D Fruit|tomato"}));
  EXPECT_EQ(rows(index, HTNAV_SIBLING, HTNAVFLAG_BACKWARD, 2), (Rows{"2.2 D Fruit|banana", "2.1 D Fruit|apple"}));
  // A document has no child; backward to the parent, forward to the parent's next sibling.
  EXPECT_EQ(HTIndexNavigate(index, HTNAV_CHILD, HTNAVFLAG_PROBE, &note, &entry), HTFAIL_END_OF_LIST);
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_PARENT, HTNAVFLAG_BACKWARD, &note, &entry), HTSUCCESS);
  EXPECT_EQ(position(index), "2");
  ASSERT_EQ(HTIndexSetViewPosition(index, "2.2"), HTSUCCESS);
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_PARENT, 0, &note, &entry), HTSUCCESS);
  EXPECT_EQ(position(index), "3");
  EXPECT_EQ(HTIndexNavigate(index, HTNAV_PARENT, 0, &note, &entry), HTFAIL_END_OF_LIST);
  EXPECT_EQ(position(index), "3");
}

TEST_P(CategorizedView, PositionsAndPositionTextsRoundTrip) {
  HTINDEXHANDLE index = open(id_);
  EXPECT_EQ(HTIndexGetPosition(index), 0u);
  EXPECT_EQ(position(index), "0");
  for (uint32_t p = 1; p <= kAllRows.size(); ++p) {
    ASSERT_EQ(HTIndexSetPosition(index, p), HTSUCCESS);
    const std::string text = position(index);
    EXPECT_EQ(text, kAllRows[p - 1].substr(0, kAllRows[p - 1].find(' ')));
    ASSERT_EQ(HTIndexSetPosition(index, 1), HTSUCCESS);
    ASSERT_EQ(HTIndexSetViewPosition(index, text.c_str()), HTSUCCESS);
    EXPECT_EQ(HTIndexGetPosition(index), p);
  }
  for (const char* bad : {"", "x", "2.", ".2", "2..1", "9", "2.9", "1.1.1", "-1", "2.0"}) {
    EXPECT_EQ(HTIndexSetViewPosition(index, bad), HTFAIL_BAD_POSITION) << bad;
  }
  EXPECT_EQ(position(index), "4");  // unchanged by the failures
  // Beyond the count clamps to the last row; 0 is before the first.
  EXPECT_EQ(HTIndexSetPosition(index, 1000), HTSUCCESS);
  EXPECT_EQ(HTIndexGetPosition(index), kAllRows.size());
  EXPECT_EQ(HTIndexSetPosition(index, 0), HTSUCCESS);
  HTID note = 0;
  HTUINT entry = 0;
  EXPECT_EQ(HTIndexNavigate(index, HTNAV_CURRENT, 0, &note, &entry), HTFAIL_NO_POSITION);
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_NEXT, 12, &note, &entry), HTSUCCESS);  // the library's first move
  EXPECT_EQ(position(index), "1.1");
}

TEST_P(CategorizedView, CurrentWithDocumentFlagMovesOffACategory) {
  HTINDEXHANDLE index = open(id_);
  ASSERT_EQ(HTIndexSetPosition(index, 3), HTSUCCESS);  // "2", the Fruit category
  HTID note = 0;
  HTUINT entry = 0;
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_CURRENT, 0, &note, &entry), HTSUCCESS);
  EXPECT_EQ(note, HTNOTEID_CATEGORY);
  EXPECT_EQ(entry & 0x3u, 0x3u);  // has children, is a category
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_CURRENT, 12, &note, &entry), HTSUCCESS);
  EXPECT_EQ(position(index), "2.1");
}

TEST_P(CategorizedView, CellsOfCategoryAndTotalRows) {
  HTINDEXHANDLE index = open(id_);
  ASSERT_EQ(HTIndexSetViewPosition(index, "3"), HTSUCCESS);
  EXPECT_EQ(cell(index, 1), "Veg");
  EXPECT_EQ(cell(index, 2), "");
  EXPECT_EQ(cell(index, 3), "3");
  // Native form: the total as a number.
  HTINT type = HTTYPE_NUMBER;
  HTUINT length = 8;
  double total = 0;
  ASSERT_EQ(HTViewcellFetch(index, 3, &type, &length, &total), HTSUCCESS);
  EXPECT_EQ(total, 3.0);
  type = HTTYPE_NUMBER;
  EXPECT_EQ(HTViewcellFetch(index, 1, &type, &length, &total), HTFAIL_TYPE_MISMATCH);
  ASSERT_EQ(HTIndexSetViewPosition(index, "4"), HTSUCCESS);
  EXPECT_EQ(cell(index, 1), "");
  EXPECT_EQ(cell(index, 3), "22");
  // Columns outside the view, and no current row.
  type = HTTYPE_TEXT;
  char text[16];
  length = sizeof text;
  EXPECT_EQ(HTViewcellFetch(index, 0, &type, &length, text), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTViewcellFetch(index, 4, &type, &length, text), HTFAIL_INVALID_ARGUMENT);
  ASSERT_EQ(HTIndexSetPosition(index, 0), HTSUCCESS);
  EXPECT_EQ(HTViewcellFetch(index, 1, &type, &length, text), HTFAIL_NO_POSITION);
}

TEST_P(CategorizedView, LongCellIsCutToTheBufferAndLengthTells) {
  const std::string longSubject(300, 'x');
  doc("Fruit", longSubject, 1);
  HTINDEXHANDLE index = open(id_);
  ASSERT_EQ(HTIndexSetViewPosition(index, "2.4"), HTSUCCESS);
  HTINT type = HTTYPE_TEXT;
  HTUINT length = 0;
  ASSERT_EQ(HTViewcellGetLength(index, 2, &type, &length), HTSUCCESS);
  EXPECT_EQ(length, 300u);
  char buffer[12];
  std::memset(buffer, '#', sizeof buffer);
  type = HTTYPE_TEXT;
  length = 8;  // the room the caller gives, terminator included
  ASSERT_EQ(HTViewcellFetch(index, 2, &type, &length, buffer), HTSUCCESS);
  EXPECT_EQ(length, 7u);
  EXPECT_STREQ(buffer, "xxxxxxx");
  EXPECT_EQ(buffer[8], '#');  // nothing written past the room
}

TEST_P(ViewTest, TotalsAveragesAndPercentages) {
  doc("a", "1", 10);
  doc("a", "2", 30);
  doc("b", "3", 60);
  const HTID id = view("Totals", "", {{"C", "Category", "", HTCOLSORT_CAT_ASCEND},
                                      {"Sum", "Amount", "", 0, HTCOLTOTAL_TOTAL},
                                      {"Avg", "Amount", "", 0, HTCOLTOTAL_DOCUMENT_AVG},
                                      {"Share", "Amount", "", 0, HTCOLTOTAL_VIEW_PCT},
                                      {"OfParent", "Amount", "", 0, HTCOLTOTAL_PARENT_PCT}});
  EXPECT_EQ(rows(open(id), HTNAV_NEXT, 0, 5),
            (std::vector<std::string>{"1 C a|40|20|40%|40%", "1.1 D a|10|10|10|10", "1.2 D a|30|30|30|30",
                                      "2 C b|60|60|60%|60%", "2.1 D b|60|60|60|60", "3 T |100|33.33|100%|100%"}));
}

class HierarchyView : public ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    if (IsSkipped()) return;
    a_ = doc("", "A topic", 1);
    b_ = doc("", "B topic", 2);
    ra_ = response(a_, "Re: A", 10);
    rra_ = response(ra_, "Re: Re: A", 100);
    rb_ = response(b_, "Re: B", 20);
    // A response whose parent the view does not select is not shown.
    hidden_ = doc("", "Z hidden", 0);
    orphan_ = response(hidden_, "Re: hidden", 0);
    id_ = view("Threads", "SELECT Subject != \"Z hidden\"",
               {{"Subject", "Subject", "", HTCOLSORT_ASCEND}, {"Amount", "Amount", "", 0, HTCOLTOTAL_TOTAL}});
  }
  HTID a_ = 0, b_ = 0, ra_ = 0, rra_ = 0, rb_ = 0, hidden_ = 0, orphan_ = 0, id_ = 0;
};

TEST_P(HierarchyView, ResponsesFollowTheirParents) {
  HTINDEXHANDLE index = open(id_);
  EXPECT_EQ(rows(index, HTNAV_NEXT, 0, 2), (Rows{"1 D A topic|1", "1.1 D Re: A|10", "1.1.1 D Re: Re: A|100",
                                                  "2 D B topic|2", "2.1 D Re: B|20", "3 T |133"}));
  EXPECT_EQ(rows(index, HTNAV_NEXT, HTNAVFLAG_BACKWARD, 1),
            (Rows{"2.1 D Re: B", "2 D B topic", "1.1.1 D Re: Re: A", "1.1 D Re: A", "1 D A topic"}));
}

TEST_P(HierarchyView, MainDocumentsSkipResponses) {
  HTINDEXHANDLE index = open(id_);
  EXPECT_EQ(rows(index, HTNAV_MAIN, 0, 1), (Rows{"1 D A topic", "2 D B topic"}));
  EXPECT_EQ(rows(index, HTNAV_MAIN, HTNAVFLAG_BACKWARD, 1), (Rows{"1 D A topic"}));
  ASSERT_EQ(HTIndexSetViewPosition(index, "1.1.1"), HTSUCCESS);
  HTID note = 0;
  HTUINT entry = 0;
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_PARENT, HTNAVFLAG_BACKWARD, &note, &entry), HTSUCCESS);
  EXPECT_EQ(note, ra_);
  EXPECT_EQ(entry & view::kEntryResponse, view::kEntryResponse);
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_MAIN, 0, &note, &entry), HTSUCCESS);
  EXPECT_EQ(note, b_);
}

TEST_P(HierarchyView, FlatViewListsResponsesAmongDocuments) {
  HTID flat = view("Flat", "", {{"Subject", "Subject", "", HTCOLSORT_ASCEND}}, HTVIEWFLAG_FLAT);
  HTINDEXHANDLE index = open(flat);
  EXPECT_EQ(rows(index, HTNAV_NEXT, 0, 1),
            (Rows{"1 D A topic", "2 D B topic", "3 D Re: A", "4 D Re: B", "5 D Re: hidden", "6 D Re: Re: A",
                  "7 D Z hidden"}));
}

TEST_P(HierarchyView, ResponseSavedBeforeItsParentAppearsOnceTheParentIs) {
  // A reply replicated in ahead of its topic names a parent that does not exist yet.
  UNID future = store::newUnid();
  addDocument(db_, [&](doc::Note& n) {
    n.setText("Subject", "Re: C");
    n.header.parent = future;
  });
  EXPECT_EQ(rows(open(id_), HTNAV_NEXT, 0, 1).size(), 6u);
  addDocument(db_, [&](doc::Note& n) {
    n.setText("Subject", "C topic");
    n.header.unid = future;
  });
  Rows now = rows(open(id_), HTNAV_NEXT, 0, 1);
  ASSERT_EQ(now.size(), 8u);
  EXPECT_EQ(now[5], "3 D C topic");
  EXPECT_EQ(now[6], "3.1 D Re: C");
}

TEST_P(ViewTest, EmptyViewEndsEveryNavigation) {
  HTINDEXHANDLE index = open(view("Nothing", "SELECT 0", {{"S", "Subject", "", HTCOLSORT_ASCEND}}));
  doc("x", "y", 1);
  EXPECT_EQ(HTIndexGetCount(index), 0u);
  HTID note = 0;
  HTUINT entry = 0;
  for (HTINT nav : {HTNAV_NEXT, HTNAV_END, HTNAV_SIBLING, HTNAV_CHILD, HTNAV_PARENT, HTNAV_MAIN, HTNAV_CURRENT}) {
    for (HTUINT flags : {0u, 2u, 12u, 14u}) EXPECT_EQ(HTIndexNavigate(index, nav, flags, &note, &entry), HTFAIL_END_OF_LIST);
  }
  EXPECT_EQ(HTIndexNavigate(index, 99, 0, &note, &entry), HTFAIL_INVALID_ARGUMENT);
}

TEST_P(ViewTest, DescendingAndNumberSortOrders) {
  doc("", "b", 10);
  doc("", "a", 9);
  doc("", "c", -2.5);
  doc("", "d", 100);
  HTINDEXHANDLE byAmount = open(view("By amount", "", {{"Amount", "Amount", "", HTCOLSORT_DESCEND}}));
  EXPECT_EQ(rows(byAmount, HTNAV_NEXT, 0, 1), (Rows{"1 D 100", "2 D 10", "3 D 9", "4 D -2.5"}));
  HTINDEXHANDLE bySubject =
      open(view("By subject", "", {{"Subject", "", "@UpperCase(Subject)", HTCOLSORT_DESCEND}, {"N", "Amount"}}));
  EXPECT_EQ(rows(bySubject, HTNAV_NEXT, 0, 2), (Rows{"1 D D|100", "2 D C|-2.5", "3 D B|10", "4 D A|9"}));
}

TEST_P(ViewTest, TextSortsByCollationNotBytes) {
  for (const char* s : {"zebra", "Apple", "éclair", "apple pie", "Eclair", "banana"}) doc("", s, 0);
  HTINDEXHANDLE index = open(view("Words", "", {{"S", "Subject", "", HTCOLSORT_ASCEND}}));
  EXPECT_EQ(rows(index, HTNAV_NEXT, 0, 1),
            (Rows{"1 D Apple", "2 D apple pie", "3 D banana", "4 D Eclair", "5 D éclair", "6 D zebra"}));
}

// A walk reads a row's cells once split; the split must follow the row, whatever order the
// cells are asked in, and the rows a refresh brings even at the same position.
TEST_P(ViewTest, CellsFollowTheRowInAnyOrderAndAcrossRefresh) {
  doc("x", "b", 2);
  doc("y", "c", 3.25);
  HTINDEXHANDLE index = open(view("Subjects", "", {{"S", "Subject", "", HTCOLSORT_ASCEND},
                                                   {"C", "Category"},
                                                   {"A", "Amount"}}));
  HTID note = 0;
  HTUINT entry = 0;
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_NEXT, 0, &note, &entry), HTSUCCESS);
  EXPECT_EQ(cell(index, 3), "2");
  EXPECT_EQ(cell(index, 1), "b");
  EXPECT_EQ(cell(index, 3), "2");
  EXPECT_EQ(cell(index, 2), "x");
  double amount = 0;
  HTINT type = HTTYPE_NUMBER;
  HTUINT length = sizeof amount;
  ASSERT_EQ(HTViewcellFetch(index, 3, &type, &length, &amount), HTSUCCESS);
  EXPECT_EQ(amount, 2);
  type = HTTYPE_NUMBER;
  EXPECT_EQ(HTViewcellFetch(index, 1, &type, &length, &amount), HTFAIL_TYPE_MISMATCH);
  ASSERT_EQ(HTIndexNavigate(index, HTNAV_NEXT, 0, &note, &entry), HTSUCCESS);
  EXPECT_EQ(cell(index, 2), "y");
  EXPECT_EQ(cell(index, 3), "3.25");
  // Back on row 1 after reading row 2, then row 1 holds another document after a refresh.
  ASSERT_EQ(HTIndexSetPosition(index, 1), HTSUCCESS);
  EXPECT_EQ(cell(index, 1), "b");
  doc("w", "a", 1e-5);
  ASSERT_EQ(HTIndexRefresh(index), HTSUCCESS);
  ASSERT_EQ(HTIndexGetPosition(index), 1u);
  EXPECT_EQ(cell(index, 1), "a");
  EXPECT_EQ(cell(index, 2), "w");
  EXPECT_EQ(cell(index, 3), "1E-5");
}

QUIRE_BOTH_BACKENDS(CategorizedView);

QUIRE_BOTH_BACKENDS(HierarchyView);

QUIRE_BOTH_BACKENDS(ViewTest);

}  // namespace
}  // namespace quire::engine::test
