// Key search and the sort-key list: exact and leading-text matches over one and several keys,
// text, number and date-time columns, descending columns, the library's text keys.
#include "engine/view/KeyMatch.h"
#include "view_support.h"

namespace quire::engine::test {
namespace {

class KeySearchTest : public ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    if (IsSkipped()) return;
    smithA_ = doc("Sales", "Smith", 100);
    doc("Sales", "smithers", 250);
    doc("Sales", "Jones", 100);
    doc("Support", "Smith", 75);
    doc("Support", "Adams", 5);
    id_ = view("Staff", "", {{"Dept", "Category", "", HTCOLSORT_CAT_ASCEND},
                             {"Name", "Subject", "", HTCOLSORT_ASCEND},
                             {"Amount", "Amount", "", HTCOLSORT_DESCEND}});
    index_ = open(id_);
  }

  // The library's key search: text keys, `mode` 0 exact or 3 partial.
  HTSTATUS search(const std::vector<const char*>& texts, HTUINT mode, HTUINT& matched) {
    std::vector<HTKEYDESC> keys(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
      keys[i].type = HTTYPE_TEXT;
      keys[i].value = texts[i];
    }
    return HTIndexKeySearch(index_, HTUINT(keys.size()), keys.data(), mode, &matched);
  }

  std::string found() {
    HTID note = 0;
    HTUINT entry = 0;
    if (HTIndexNavigate(index_, HTNAV_CURRENT, 0, &note, &entry) != HTSUCCESS) return "<none>";
    return row(index_, note, 3);
  }

  HTID id_ = 0, smithA_ = 0;
  HTINDEXHANDLE index_ = 0;
};

TEST_P(KeySearchTest, ListKeyDescribesTheSortedColumnsInKeyOrder) {
  HTKEYDESC keys[4] = {};
  ASSERT_EQ(HTIndexListKey(index_, HTLIST_FIRST, &keys[0]), HTSUCCESS);
  ASSERT_EQ(HTIndexListKey(index_, HTLIST_NEXT, &keys[1]), HTSUCCESS);
  ASSERT_EQ(HTIndexListKey(index_, HTLIST_NEXT, &keys[2]), HTSUCCESS);
  EXPECT_EQ(HTIndexListKey(index_, HTLIST_NEXT, &keys[3]), HTFAIL_END_OF_LIST);
  EXPECT_EQ(keys[0].column, 1u);
  EXPECT_EQ(keys[0].sort, uint32_t(HTCOLSORT_CAT_ASCEND));
  EXPECT_EQ(keys[1].column, 2u);
  EXPECT_EQ(keys[2].column, 3u);
  EXPECT_EQ(keys[2].sort, uint32_t(HTCOLSORT_DESCEND));
}

TEST_P(KeySearchTest, ExactSearchIgnoresCaseAndPositionsOnTheFirstMatch) {
  HTUINT matched = 0;
  ASSERT_EQ(search({"SALES"}, HTKEYSEARCH_EXACT, matched), HTSUCCESS);
  EXPECT_EQ(matched, 3u);
  EXPECT_EQ(found(), "1.1 D Sales|Jones|100");
  ASSERT_EQ(search({"support", "smith"}, HTKEYSEARCH_EXACT, matched), HTSUCCESS);
  EXPECT_EQ(matched, 1u);
  EXPECT_EQ(found(), "2.2 D Support|Smith|75");
  // A number key column read from text; the third key is the descending amount.
  ASSERT_EQ(search({"Sales", "Smith", "100"}, HTKEYSEARCH_EXACT, matched), HTSUCCESS);
  EXPECT_EQ(matched, 1u);
  EXPECT_EQ(found(), "1.2 D Sales|Smith|100");
  EXPECT_EQ(search({"Sales", "Smith", "99"}, HTKEYSEARCH_EXACT, matched), HTFAIL_NOT_FOUND);
  EXPECT_EQ(search({"Sales", "Smit"}, HTKEYSEARCH_EXACT, matched), HTFAIL_NOT_FOUND);
  EXPECT_EQ(found(), "1.2 D Sales|Smith|100");  // a failed search does not move
}

TEST_P(KeySearchTest, PartialSearchMatchesLeadingText) {
  HTUINT matched = 0;
  ASSERT_EQ(search({"sal", "SMI"}, HTKEYSEARCH_PARTIAL, matched), HTSUCCESS);
  EXPECT_EQ(matched, 2u);
  EXPECT_EQ(found(), "1.2 D Sales|Smith|100");
  ASSERT_EQ(search({"S", "a"}, HTKEYSEARCH_PARTIAL, matched), HTSUCCESS);
  EXPECT_EQ(matched, 1u);
  EXPECT_EQ(found(), "2.1 D Support|Adams|5");
  EXPECT_EQ(search({"Sales", "Smithz"}, HTKEYSEARCH_PARTIAL, matched), HTFAIL_NOT_FOUND);
  // An empty leading text matches everything.
  ASSERT_EQ(search({""}, HTKEYSEARCH_PARTIAL, matched), HTSUCCESS);
  EXPECT_EQ(matched, 5u);
}

TEST_P(KeySearchTest, NumberAndDateKeysInTheirOwnTypes) {
  double amount = 250;
  HTKEYDESC keys[3] = {};
  keys[0] = {0, HTTYPE_TEXT, "Sales", 0};
  keys[1] = {0, HTTYPE_TEXT, "smithers", 0};
  keys[2] = {0, HTTYPE_NUMBER, &amount, 0};
  HTUINT matched = 0;
  ASSERT_EQ(HTIndexKeySearch(index_, 3, keys, HTKEYSEARCH_EXACT, &matched), HTSUCCESS);
  EXPECT_EQ(found(), "1.3 D Sales|smithers|250");
  keys[2].type = HTTYPE_COMPOSITE;
  EXPECT_EQ(HTIndexKeySearch(index_, 3, keys, HTKEYSEARCH_EXACT, &matched), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTIndexKeySearch(index_, 4, keys, HTKEYSEARCH_EXACT, &matched), HTFAIL_INVALID_ARGUMENT);
  EXPECT_EQ(HTIndexKeySearch(index_, 1, keys, 7, &matched), HTFAIL_INVALID_ARGUMENT);

  HTDATETIME when{};
  HTINT parts[HTDATETIME_PART_COUNT] = {2024, 3, 14, 0, 10, 30, 0, 0, 0};
  ASSERT_EQ(HTDatetimeCreate(parts, 0, &when), HTSUCCESS);
  addDocument(db_, [&](doc::Note& n) { n.setDateTime("Due", when); });
  HTINT otherParts[HTDATETIME_PART_COUNT] = {2023, 1, 2, 0, 8, 0, 0, 0, 0};
  HTDATETIME other{};
  ASSERT_EQ(HTDatetimeCreate(otherParts, 0, &other), HTSUCCESS);
  addDocument(db_, [&](doc::Note& n) { n.setDateTime("Due", other); });
  HTINDEXHANDLE byDate = open(view("By date", "SELECT @IsAvailable(Due)", {{"Due", "Due", "", HTCOLSORT_ASCEND}}));
  HTKEYDESC dateKey{0, HTTYPE_DATETIME, &when, 0};
  ASSERT_EQ(HTIndexKeySearch(byDate, 1, &dateKey, HTKEYSEARCH_EXACT, &matched), HTSUCCESS);
  EXPECT_EQ(HTIndexGetPosition(byDate), 2u);
  // The same date as text, in the international settings' month/day/year order.
  HTKEYDESC textKey{0, HTTYPE_TEXT, "03/14/2024 10:30", 0};
  ASSERT_EQ(HTIndexSetPosition(byDate, 0), HTSUCCESS);
  ASSERT_EQ(HTIndexKeySearch(byDate, 1, &textKey, HTKEYSEARCH_EXACT, &matched), HTSUCCESS);
  EXPECT_EQ(HTIndexGetPosition(byDate), 2u);
}

TEST_P(ViewTest, ViewWithoutSortedColumnsHasNoKeys) {
  doc("a", "b", 1);
  HTINDEXHANDLE index = open(view("Unsorted", "", {{"S", "Subject"}}));
  HTKEYDESC key{};
  EXPECT_EQ(HTIndexListKey(index, HTLIST_FIRST, &key), HTFAIL_END_OF_LIST);
  HTKEYDESC search{0, HTTYPE_TEXT, "b", 0};
  HTUINT matched = 0;
  EXPECT_EQ(HTIndexKeySearch(index, 1, &search, HTKEYSEARCH_EXACT, &matched), HTFAIL_INVALID_ARGUMENT);
}

TEST(KeyTextParsing, NumbersAndDates) {
  double d = 0;
  EXPECT_TRUE(view::parseNumber(" 12.5 ", d));
  EXPECT_EQ(d, 12.5);
  EXPECT_TRUE(view::parseNumber("+3", d));
  EXPECT_FALSE(view::parseNumber("12abc", d));
  EXPECT_FALSE(view::parseNumber("", d));
  formula::DateTime dt;
  EXPECT_TRUE(view::parseDateTime("2024-03-14", dt));
  EXPECT_FALSE(dt.hasTime());
  EXPECT_TRUE(view::parseDateTime("03/14/2024 01:15 PM", dt));
  EXPECT_EQ(dt.toCivil().hour, 13);
  EXPECT_FALSE(view::parseDateTime("02/30/2024", dt));
  EXPECT_FALSE(view::parseDateTime("14", dt));
  EXPECT_FALSE(view::parseDateTime("03/14/2024 25:00", dt));
}


QUIRE_BOTH_BACKENDS(KeySearchTest);

}  // namespace
}  // namespace quire::engine::test
