#include "engine/formula/Collation.h"
#include "engine/formula/Value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace quire::formula {
namespace {

TEST(DateTime, DayZeroIsThirtiethDecember1899) {
    DateTime dt;
    ASSERT_TRUE(DateTime::dateOnly(1899, 12, 30, dt));
    EXPECT_EQ(dt.date, 0);
    ASSERT_TRUE(DateTime::dateOnly(1900, 1, 1, dt));
    EXPECT_EQ(dt.date, 2);
    ASSERT_TRUE(DateTime::dateOnly(2000, 3, 1, dt));
    EXPECT_EQ(dt.date, 36586);
    EXPECT_EQ(dt.weekday(), 4);  // a Wednesday
}

TEST(DateTime, CivilRoundTripAcrossTheWholeRange) {
    for (int64_t day = daysFromCivil(1, 1, 1); day <= daysFromCivil(9999, 12, 31); day += 997) {
        int64_t y;
        unsigned m, d;
        civilFromDays(day, y, m, d);
        EXPECT_EQ(daysFromCivil(y, m, d), day);
        EXPECT_GE(d, 1u);
        EXPECT_LE(static_cast<int>(d), daysInMonth(y, static_cast<int>(m)));
    }
}

TEST(DateTime, RefusesImpossibleFields) {
    DateTime dt{5, 5};
    EXPECT_FALSE(DateTime::dateOnly(2023, 2, 29, dt));
    EXPECT_FALSE(DateTime::dateOnly(2024, 13, 1, dt));
    EXPECT_FALSE(DateTime::dateOnly(0, 1, 1, dt));
    EXPECT_FALSE(DateTime::fromCivil(CivilDateTime{2024, 1, 1, 24, 0, 0, 0}, dt));
    EXPECT_EQ(dt.date, 5);  // untouched
    EXPECT_TRUE(DateTime::dateOnly(2024, 2, 29, dt));
}

TEST(DateTime, CalendarValueKeepsTheDayBeforeZeroConvention) {
    DateTime dt;
    ASSERT_TRUE(DateTime::fromCalendar(-1.25, dt));
    const CivilDateTime c = dt.toCivil();
    EXPECT_EQ(c.year, 1899);
    EXPECT_EQ(c.month, 12);
    EXPECT_EQ(c.day, 29);
    EXPECT_EQ(c.hour, 6);
    EXPECT_DOUBLE_EQ(dt.toCalendar(), -1.25);

    ASSERT_TRUE(DateTime::fromCalendar(45000.5, dt));
    EXPECT_EQ(dt.ms, DateTime::kMsPerDay / 2);
    EXPECT_DOUBLE_EQ(dt.toCalendar(), 45000.5);
}

TEST(DateTime, CalendarValueRoundsToTheMillisecondAndRefusesNonsense) {
    DateTime dt;
    ASSERT_TRUE(DateTime::fromCalendar(1.0 - 1e-12, dt));  // rounds up to the next midnight
    EXPECT_EQ(dt.date, 1);
    EXPECT_EQ(dt.ms, 0);
    EXPECT_FALSE(DateTime::fromCalendar(NAN, dt));
    EXPECT_FALSE(DateTime::fromCalendar(INFINITY, dt));
    EXPECT_FALSE(DateTime::fromCalendar(1e12, dt));
}

TEST(DateTime, ComparisonIgnoresAMissingPart) {
    DateTime d1, d2;
    DateTime::dateOnly(2024, 1, 31, d1);
    DateTime::fromCivil(CivilDateTime{2024, 1, 31, 10, 0, 0, 0}, d2);
    EXPECT_EQ(compareDateTime(d1, d2), 0);
    EXPECT_LT(compareDateTime(DateTime::timeOnly(9, 0, 0), d2), 0);
}

TEST(Value, EmptyListsBecomeTheEmptyValue) {
    EXPECT_TRUE(Value(Value::TextList{}).isEmptyText());
    EXPECT_TRUE(Value(Value::NumberList{}).isEmptyText());
    EXPECT_TRUE(Value().isEmptyText());
    EXPECT_FALSE(Value(Value::TextList{"", ""}).isEmptyText());
    EXPECT_TRUE(Value(Value::NumberList{0, 2}).isTrue());
    EXPECT_FALSE(Value(Value::NumberList{0, 0}).isTrue());
    EXPECT_FALSE(Value("1").isTrue());
}

TEST(Collation, IgnoresCaseNotAccents) {
    EXPECT_EQ(compareText("abc", "ABC"), 0);
    EXPECT_NE(compareText("resume", "résumé"), 0);
    EXPECT_LT(compareText("resume", "résumé"), 0);
    EXPECT_LT(compareText("apple", "Banana"), 0);
    EXPECT_EQ(compareText("e\xCC\x81", "\xC3\xA9"), 0);  // decomposed and precomposed é
    EXPECT_NE(compareText("a\xFF", "a"), 0);             // ill-formed input still orders
}

TEST(Collation, SortKeysOrderLikeCompareText) {
    std::vector<std::string> words = {"zebra", "Apple", "apple", "Äpfel", "banana", "", "10", "9", "éclair", "eclair"};
    for (const auto& a : words)
        for (const auto& b : words) {
            const std::string ka = collationKey(a), kb = collationKey(b);
            const int byKey = ka < kb ? -1 : (ka > kb ? 1 : 0);
            const int byCompare = compareText(a, b);
            EXPECT_EQ(byKey, byCompare < 0 ? -1 : (byCompare > 0 ? 1 : 0)) << a << " vs " << b;
            EXPECT_EQ(ka.find('\0'), std::string::npos);
        }
}

// Keys are made from ASCII directly and from other text through a conversion, into room
// reused between calls: generated texts of both kinds (controls, NUL, accents, ill-formed
// bytes, one past the reused room) must still order like compareText, appended after
// whatever the buffer held.
TEST(Collation, AppendedKeysOfGeneratedTextsOrderLikeCompareText) {
    const std::vector<std::string> pieces = {"a", "B", " ", "-", "0", "9", "\x01", std::string(1, '\0'), "\xC3\xA9",
                                             "e\xCC\x81", "\xFF", "Z", "_", "~"};
    std::vector<std::string> texts;
    uint32_t state = 12345;
    for (int i = 0; i < 300; ++i) {
        std::string t;
        const int length = int(state % 6);
        for (int k = 0; k < length; ++k) {
            state = state * 1103515245u + 12345u;
            t += pieces[(state >> 16) % pieces.size()];
        }
        state = state * 1103515245u + 12345u;
        texts.push_back(t);
    }
    texts.push_back(std::string(5000, 'x'));
    texts.push_back(std::string(5000, 'x') + "\xC3\xA9");
    std::vector<std::string> keys;
    for (const auto& t : texts) {
        std::string out = "prefix";
        appendCollationKey(out, t);
        ASSERT_EQ(out.compare(0, 6, "prefix"), 0);
        keys.push_back(out.substr(6));
        EXPECT_EQ(keys.back(), collationKey(t));
    }
    for (size_t a = 0; a < texts.size(); ++a)
        for (size_t b = 0; b < texts.size(); b += 7) {
            const int byKey = keys[a] < keys[b] ? -1 : (keys[a] > keys[b] ? 1 : 0);
            const int byCompare = compareText(texts[a], texts[b]);
            ASSERT_EQ(byKey, byCompare < 0 ? -1 : (byCompare > 0 ? 1 : 0)) << a << " vs " << b;
        }
}

}  // namespace
}  // namespace quire::formula
