// The byte forms of view entries: sort keys order as their values do (memcmp is what SQLite
// and the snapshot compare with), descending components reverse that order, keys split back
// into their components, and cells decode what was encoded without ever reading past a blob.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/formula/Collation.h"
#include "engine/view/EntryCodec.h"

namespace quire::engine::test {
namespace {

using formula::Value;

std::string key(const Value& v, bool descending = false) {
  std::string k;
  view::appendKey(k, v, 0, descending);
  return k;
}

TEST(ViewKeyCodec, NumbersOrderByValueInBothDirections) {
  std::vector<double> numbers = {-1e300, -2.5, -1, -0.0, 0, 1e-300, 0.5, 1, 2, 1e300};
  std::mt19937 rng(7);
  for (int i = 0; i < 200; ++i) numbers.push_back(std::uniform_real_distribution<double>(-1e6, 1e6)(rng));
  for (double a : numbers) {
    for (double b : numbers) {
      const std::string ka = key(Value(a)), kb = key(Value(b));
      EXPECT_EQ(ka < kb, a < b) << a << " " << b;
      EXPECT_EQ(key(Value(a), true) < key(Value(b), true), b < a) << a << " " << b;
    }
  }
}

TEST(ViewKeyCodec, TextsOrderByCollationAndPrefixesFirst) {
  const std::vector<std::string> texts = {"", "a", "A", "ab", "abc", "b", "Ärger", "zebra", "Zebra crossing"};
  for (const auto& a : texts) {
    for (const auto& b : texts) {
      const int order = formula::compareText(a, b);
      EXPECT_EQ(key(Value(a)) < key(Value(b)), order < 0) << a << " / " << b;
      EXPECT_EQ(key(Value(a)) == key(Value(b)), order == 0) << a << " / " << b;
      EXPECT_EQ(key(Value(a), true) < key(Value(b), true), order > 0) << a << " / " << b;
    }
  }
  // Types: numbers, then date-times, then texts.
  formula::DateTime dt;
  ASSERT_TRUE(formula::DateTime::dateOnly(2024, 1, 1, dt));
  EXPECT_LT(key(Value(1e300)), key(Value(dt)));
  EXPECT_LT(key(Value(dt)), key(Value("")));
}

TEST(ViewKeyCodec, KeysSplitIntoTheirComponents) {
  std::string k;
  view::appendTextKey(k, "Sales", false);
  view::appendNumberKey(k, 42, true);
  view::appendTextKey(k, "smith", true);
  const auto parts = view::splitKey(k);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[1].size(), 9u);
  EXPECT_EQ(std::string(parts[0]) + std::string(parts[1]) + std::string(parts[2]), k);
  // A leading-text key is a prefix of the key of every text starting that way.
  for (bool descending : {false, true}) {
    const std::string prefix = view::textPrefixKey("SMI", descending);
    std::string whole;
    view::appendTextKey(whole, "smithers", descending);
    EXPECT_EQ(whole.compare(0, prefix.size(), prefix), 0);
  }
  EXPECT_TRUE(view::splitKey(std::string(1, char(view::kTagText)) + "abc").empty());  // no terminator
  EXPECT_EQ(view::componentLength(std::string(5, char(view::kTagNumber))), 0u);
}

TEST(ViewCellCodec, CellsRoundTripAndMalformedBlobsReadAsEmpty) {
  formula::DateTime dt;
  ASSERT_TRUE(formula::DateTime::dateOnly(2000, 2, 29, dt));
  const std::vector<Value> values = {Value("text"), Value(Value::NumberList{1.5, -2}), Value(dt),
                                     Value(Value::TextList{"a", "", "c"})};
  const std::string cells = view::encodeCells(values);
  for (size_t i = 0; i < values.size(); ++i)
    EXPECT_EQ(view::decodeCell(cells, i).debugString(), values[i].debugString()) << i;
  EXPECT_TRUE(view::decodeCell(cells, 9).isEmptyText());
  EXPECT_EQ(view::cellNumberSum(cells, 1), -0.5);
  EXPECT_EQ(view::cellNumberSum(cells, 0), 0);
  // Every truncation of a valid blob decodes without reading past it.
  for (size_t n = 0; n < cells.size(); ++n)
    for (size_t i = 0; i < values.size(); ++i) (void)view::decodeCell(std::string_view(cells).substr(0, n), i);
  const std::string huge = std::string("\0\xff\xff\xff\xff\x0f", 6);  // claims 4 billion texts
  EXPECT_TRUE(view::decodeCell(huge, 0).isEmptyText());
}

TEST(ViewCellCodec, StepsThroughCellsAsFindingEachDoes) {
  const std::vector<Value> values = {Value(Value::TextList{"a", "", "c"}), Value(Value::NumberList{1.5, -2}),
                                     Value("text"), Value(Value::NumberList{})};
  const std::string cells = view::encodeCells(values);
  std::string_view rest = cells;
  for (size_t i = 0; i < values.size(); ++i) {
    view::CellRef stepped, found;
    ASSERT_TRUE(view::nextCell(rest, stepped)) << i;
    ASSERT_TRUE(view::findCell(cells, i, found)) << i;
    EXPECT_EQ(stepped.type, found.type) << i;
    EXPECT_EQ(stepped.count, found.count) << i;
    EXPECT_EQ(stepped.body.data(), found.body.data()) << i;
    EXPECT_EQ(stepped.body.size(), found.body.size()) << i;
  }
  view::CellRef cell;
  EXPECT_TRUE(rest.empty());
  EXPECT_FALSE(view::nextCell(rest, cell));
  std::string text;
  ASSERT_TRUE(view::findCell(cells, 1, cell));
  ASSERT_TRUE(view::appendCellText(text, cell));
  EXPECT_EQ(text, "1.5, -2");
  // A cell cut short, or claiming more elements than it holds, stops the walk where it is.
  for (size_t n = 0; n < cells.size(); ++n) {
    std::string_view cut = std::string_view(cells).substr(0, n);
    size_t stepped = 0;
    while (view::nextCell(cut, cell)) {
      ++stepped;
      EXPECT_LE(cell.body.data() + cell.body.size(), cells.data() + n) << n;
    }
    EXPECT_LT(stepped, values.size()) << n;
  }
  const std::string numbers("\1\3" "12345678" "12345678", 18);  // three numbers claimed, two held
  std::string_view damaged = numbers;
  EXPECT_FALSE(view::nextCell(damaged, cell));
  EXPECT_EQ(damaged.size(), numbers.size());
  EXPECT_FALSE(view::findCell(std::string("\7\1x", 3), 0, cell));  // no such type
}

}  // namespace
}  // namespace quire::engine::test
