#include "rtl/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "rtl/Errors.h"

namespace {

using namespace rtl;

struct Parts {
  int year, month, day, hour, minute, second, ms;
  bool operator==(const Parts&) const = default;
};

Parts Decode(TDateTime value) {
  Parts p{};
  DecodeDateTime(value, p.year, p.month, p.day, p.hour, p.minute, p.second, p.ms);
  return p;
}

std::ostream& operator<<(std::ostream& out, const Parts& p) {
  return out << p.year << '-' << p.month << '-' << p.day << ' ' << p.hour << ':' << p.minute << ':' << p.second
             << '.' << p.ms;
}

TEST(DateTime, KnownCalendarValues) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDateTime(1900, 1, 1, 12, 0, 0), 2.5);
  EXPECT_EQ(EncodeDate(1996, 1, 1), 35065.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), 25569.0);
  EXPECT_EQ(EncodeDate(1, 1, 1), kMinDateDay);
  EXPECT_EQ(EncodeDate(9999, 12, 31), kMaxDateDay);
  EXPECT_EQ(EncodeTime(6, 0, 0), 0.25);
  EXPECT_EQ(Decode(35065.5), (Parts{1996, 1, 1, 12, 0, 0, 0}));
}

TEST(DateTime, NegativeValuesCarryTheTimeAsAbsoluteFraction) {
  EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0), -1.25);
  EXPECT_EQ(Decode(-1.25), (Parts{1899, 12, 29, 6, 0, 0, 0}));
  EXPECT_EQ(Decode(-1.0), (Parts{1899, 12, 29, 0, 0, 0, 0}));
  EXPECT_EQ(Decode(EncodeDateTime(1066, 10, 14, 9, 30, 15, 250)), (Parts{1066, 10, 14, 9, 30, 15, 250}));
}

TEST(DateTime, EveryDayOfTheRangeRoundTrips) {
  int year = 1, month = 1, day = 1;
  for (int n = kMinDateDay; n <= kMaxDateDay; ++n) {
    int y, m, d;
    ASSERT_TRUE(DecodeDate(n, y, m, d)) << n;
    ASSERT_EQ(y * 10000 + m * 100 + d, year * 10000 + month * 100 + day) << n;
    ASSERT_EQ(EncodeDate(y, m, d), n);
    if (++day > DaysInMonth(year, month)) {
      day = 1;
      if (++month > 12) month = 1, ++year;
    }
  }
  EXPECT_EQ(year, 10000);
}

TEST(DateTime, LeapYearsFollowTheGregorianRule) {
  TDateTime value = -7;
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, value));
  EXPECT_FALSE(TryEncodeDate(2100, 2, 29, value));
  EXPECT_FALSE(TryEncodeDate(2023, 2, 29, value));
  EXPECT_EQ(value, -7);  // untouched on failure
  EXPECT_TRUE(TryEncodeDate(2000, 2, 29, value));
  EXPECT_TRUE(TryEncodeDate(2024, 2, 29, value));
  EXPECT_TRUE(TryEncodeDate(4, 2, 29, value));
  EXPECT_EQ(EncodeDate(2000, 3, 1) - EncodeDate(2000, 2, 28), 2);
  EXPECT_EQ(EncodeDate(1900, 3, 1) - EncodeDate(1900, 2, 28), 1);
}

TEST(DateTime, EveryMillisecondOfASecondRoundTrips) {
  for (int year : {1, 1899, 1900, 1996, 2024, 9999}) {
    for (int ms = 0; ms < 1000; ++ms) {
      const Parts want{year, 12, 29, 23, 59, 59, ms};
      const TDateTime value = EncodeDateTime(year, 12, 29, 23, 59, 59, ms);
      ASSERT_EQ(Decode(value), want);
      const Parts noon{year, 12, 29, 12, 0, 0, ms};
      ASSERT_EQ(Decode(EncodeDateTime(year, 12, 29, 12, 0, 0, ms)), noon);
    }
  }
}

TEST(DateTime, DecodeRoundsToTheNearestMillisecond) {
  TDateTime value = EncodeDate(2024, 5, 17);
  for (int i = 0; i < 10; ++i) value += 0.1 / kSecsPerDay;
  EXPECT_EQ(Decode(value), (Parts{2024, 5, 17, 0, 0, 1, 0}));
  EXPECT_EQ(Decode(1.0 - 1e-10), (Parts{1899, 12, 31, 0, 0, 0, 0}));  // rounds up into the next day
  EXPECT_EQ(Decode(kMaxDateDay + (1 - 2e-9)), (Parts{9999, 12, 31, 23, 59, 59, 999}));
}

TEST(DateTime, InvalidPartsAndValuesAreRefused) {
  EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
  EXPECT_THROW(EncodeDate(10000, 1, 1), EConvertError);
  EXPECT_THROW(EncodeDate(2024, 13, 1), EConvertError);
  EXPECT_THROW(EncodeDate(2024, 4, 31), EConvertError);
  EXPECT_THROW(EncodeTime(24, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 60, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
  EXPECT_THROW(EncodeDateTime(2024, 1, 1, -1, 0, 0), EConvertError);

  for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -1e300, 1e300, kMaxDateDay + 1.0,
                     kMinDateDay - 1.0}) {
    int y = 5, m = 5, d = 5, h = 5, n = 5, s = 5, z = 5;
    EXPECT_FALSE(DecodeDateTime(bad, y, m, d, h, n, s, z)) << bad;
    EXPECT_EQ((Parts{y, m, d, h, n, s, z}), (Parts{0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(DayOfWeek(bad), 0);
  }
}

TEST(DateTime, DayOfWeekCountsFromSunday) {
  EXPECT_EQ(DayOfWeek(0), 7);                       // Saturday
  EXPECT_EQ(DayOfWeek(-1.5), 6);                    // Friday
  EXPECT_EQ(DayOfWeek(35065.75), 2);                // Monday 1 Jan 1996
  EXPECT_EQ(DayOfWeek(EncodeDate(1, 1, 1)), 2);     // proleptic Monday
  EXPECT_EQ(DayOfWeek(EncodeDate(2024, 2, 29)), 5);  // Thursday
}

TEST(DateTime, NowIsAPlausibleLocalTime) {
  const TDateTime now = Now();
  int year, month, day;
  ASSERT_TRUE(DecodeDate(now, year, month, day));
  EXPECT_GE(year, 2024);
  EXPECT_LE(Now() - now, 1.0 / kHoursPerDay);
}

}  // namespace
