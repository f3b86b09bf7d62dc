// Numbers become text with at most 15 significant digits wherever the engine renders them:
// the rule itself, item values read as text, view cells and totals, and formula @Text.
#include <cstring>
#include <limits>

#include "engine/formula/NumberText.h"
#include "engine/index/Evaluate.h"
#include "view_support.h"

namespace quire::engine::test {
namespace {

TEST(NumberText, FifteenSignificantDigitsAndNoBinaryNoise) {
  const std::pair<double, const char*> cases[] = {
      {0.1 + 0.2, "0.3"},
      {110.00000000000001, "110"},
      {4950.000000000001, "4950"},
      {-0.0, "0"},
      {1.0 / 3.0, "0.333333333333333"},
      {123456789012345.0, "123456789012345"},
      {1234567890123456.0, "1.23456789012346E+15"},
      {1e21, "1E+21"},
      {0.0001, "0.0001"},
      {0.00001, "1E-5"},
      {-2.5, "-2.5"},
      // Whole numbers take a shorter path up to the edge of fifteen digits.
      {100.0, "100"},
      {-42.0, "-42"},
      {999999999999999.0, "999999999999999"},
      {-999999999999999.0, "-999999999999999"},
      {1e15, "1E+15"},
      {999999999999999.5, "1E+15"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(formula::numberText(value), text) << value;
}

TEST(NumberText, WrittenIntoABufferAsIntoAString) {
  const double cases[] = {0.1 + 0.2, -0.0, 1e21, 0.00001, -2.5, 1e15, -1.23456789012345e-308,
                          -1.7976931348623157e308, 5e-324, -999999999999999.0,
                          std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::infinity()};
  for (double value : cases) {
    char text[formula::kNumberTextCapacity];
    const size_t length = formula::numberText(value, text);
    ASSERT_LT(length, formula::kNumberTextCapacity) << value;
    EXPECT_EQ(std::string(text, length), formula::numberText(value)) << value;
  }
  char text[formula::kNumberTextCapacity];
  EXPECT_EQ(std::string(text, formula::numberText(-1.23456789012345e-308, text)), "-1.23456789012345E-308");
}

class NumberRendering : public ViewTest {};

TEST_F(NumberRendering, ItemsCellsTotalsAndFormulasShowNoNoise) {
  doc("A", "first", 0.1);
  doc("A", "second", 0.2);
  const HTID noisy = doc("B", "noisy", 110.00000000000001);
  const HTID id = view("Amounts", "", {{"Category", "Category", "", HTCOLSORT_CAT_ASCEND},
                                       {"Subject", "Subject", "", HTCOLSORT_ASCEND},
                                       {"Amount", "Amount", "", HTCOLSORT_NONE, HTCOLTOTAL_TOTAL}});
  HTINDEXHANDLE index = open(id);
  EXPECT_EQ(rows(index, HTNAV_NEXT, 0, 3),
            (std::vector<std::string>{"1 C A||0.3", "1.1 D A|first|0.1", "1.2 D A|second|0.2", "2 C B||110",
                                      "2.1 D B|noisy|110", "3 T ||110.3"}));

  HTDOCHANDLE document = 0;
  ASSERT_EQ(HTDocumentOpen(db_, noisy, 0, &document), HTSUCCESS);
  char text[64] = {};
  HTUINT length = sizeof text;
  HTINT type = 0, want = HTTYPE_TEXT;
  ASSERT_EQ(HTItemFetch(document, "Amount", &type, &length, &want, text), HTSUCCESS);
  EXPECT_STREQ(text, "110");
  HTDocumentClose(document, 0);

  char result[64] = {};
  ASSERT_EQ(HTQuireEvaluate(db_, 0, "@Text(0.1 + 0.2) + \" \" + @Text(4950.000000000001)", sizeof result, result),
            HTSUCCESS);
  EXPECT_STREQ(result, "0.3 4950");
}

}  // namespace
}  // namespace quire::engine::test
