// Date-times through the C API: parts, encoding order, constants, arithmetic.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <ctime>

#include "engine/core/DateTime.h"
#include "engine/api/EntryPoints.h"
#include "hitest/hitest.h"

namespace quire::engine::test {
namespace {

HTDATETIME make(int y, int mo, int d, int h = -1, int mi = -1, int s = -1, int ms = -1) {
  HTINT parts[HTDATETIME_PART_COUNT] = {y, mo, d, 0, h, mi, s, ms, 0};
  HTDATETIME v{};
  EXPECT_EQ(HTDatetimeCreate(parts, 0, &v), HTSUCCESS);
  return v;
}

TEST(EngineDateTime, PartsRoundTripWithMilliseconds) {
  HTDATETIME v = make(1997, 6, 7, 9, 5, 3, 789);
  HTINT p[HTDATETIME_PART_COUNT];
  ASSERT_EQ(HTDatetimeFetch(&v, p), HTSUCCESS);
  EXPECT_EQ(p[HTDTUNIT_YEAR], 1997);
  EXPECT_EQ(p[HTDTUNIT_MONTH], 6);
  EXPECT_EQ(p[HTDTUNIT_DAY], 7);
  EXPECT_EQ(p[HTDTUNIT_WEEKDAY], 7);  // a Saturday
  EXPECT_EQ(p[HTDTUNIT_HOUR], 9);
  EXPECT_EQ(p[HTDTUNIT_MINUTE], 5);
  EXPECT_EQ(p[HTDTUNIT_SECOND], 3);
  EXPECT_EQ(p[HTDTUNIT_HUNDREDTH], 789);
  EXPECT_EQ(p[HTDTUNIT_ZONE], 0);
}

TEST(EngineDateTime, MissingPartsAreKept) {
  HTINT p[HTDATETIME_PART_COUNT];
  HTDATETIME dateOnly = make(2024, 2, 29);
  ASSERT_EQ(HTDatetimeFetch(&dateOnly, p), HTSUCCESS);
  EXPECT_EQ(p[HTDTUNIT_HOUR], -1);
  EXPECT_EQ(p[HTDTUNIT_HUNDREDTH], -1);
  HTDATETIME timeOnly = make(0, 0, 0, 23, 59, 59, 999);
  ASSERT_EQ(HTDatetimeFetch(&timeOnly, p), HTSUCCESS);
  EXPECT_EQ(p[HTDTUNIT_YEAR], 0);
  EXPECT_EQ(p[HTDTUNIT_DAY], 0);
  EXPECT_EQ(p[HTDTUNIT_HOUR], 23);
}

TEST(EngineDateTime, RejectsImpossibleValues) {
  for (auto bad : std::vector<std::vector<HTINT>>{{2023, 2, 29, 0, -1, -1, -1, -1, 0},
                                                  {2023, 4, 31, 0, -1, -1, -1, -1, 0},
                                                  {2023, 13, 1, 0, -1, -1, -1, -1, 0},
                                                  {10000, 1, 1, 0, -1, -1, -1, -1, 0},
                                                  {2023, 1, 1, 0, 24, 0, 0, 0, 0},
                                                  {2023, 1, 1, 0, 1, 0, 0, 1000, 0}}) {
    HTDATETIME v{};
    EXPECT_EQ(HTDatetimeCreate(bad.data(), 0, &v), HTFAIL_INVALID_ARGUMENT);
  }
  EXPECT_EQ(HTDatetimeCreate(nullptr, 0, nullptr), HTFAIL_INVALID_ARGUMENT);
}

TEST(EngineDateTime, CompareFollowsTheCalendarAndThePackedForm) {
  HTDATETIME a = make(1899, 12, 29, 23, 0, 0, 0), b = make(1899, 12, 30, 0, 0, 0, 0), c = make(2100, 1, 1, 0, 0, 0, 0);
  EXPECT_LT(HTDatetimeCompare(&a, &b), 0);
  EXPECT_GT(HTDatetimeCompare(&c, &b), 0);
  EXPECT_EQ(HTDatetimeCompare(&a, &a), 0);
  EXPECT_LT(dt::pack(a), dt::pack(b));
  EXPECT_LT(dt::pack(b), dt::pack(c));
  HTDATETIME noon = make(0, 0, 0, 12, 0, 0, 0), later = make(1950, 1, 1, 13, 0, 0, 0);
  EXPECT_LT(HTDatetimeCompare(&noon, &later), 0);  // only the times count
}

TEST(EngineDateTime, ConstantsAndSerialForm) {
  HTDATETIME min{}, max{}, wild{};
  ASSERT_EQ(HTDatetimeConstant(HTDTCONST_MINIMUM, &min), HTSUCCESS);
  ASSERT_EQ(HTDatetimeConstant(HTDTCONST_MAXIMUM, &max), HTSUCCESS);
  ASSERT_EQ(HTDatetimeConstant(HTDTCONST_WILDCARD, &wild), HTSUCCESS);
  EXPECT_EQ(HTDatetimeConstant(9, &wild), HTFAIL_INVALID_ARGUMENT);
  EXPECT_LT(HTDatetimeCompare(&min, &max), 0);
  int32_t days, ms;
  dt::toSerial(make(1899, 12, 30, 6, 0, 0, 0), days, ms);
  EXPECT_EQ(days, 0);
  EXPECT_EQ(ms, 6 * 3600 * 1000);
  dt::toSerial(wild, days, ms);
  EXPECT_EQ(days, dt::kSerialNoDate);
  EXPECT_EQ(ms, dt::kSerialNoTime);
  HTDATETIME back = dt::fromSerial(45000, 1234);
  dt::toSerial(back, days, ms);
  EXPECT_EQ(days, 45000);
  EXPECT_EQ(ms, 1234);
}

TEST(EngineDateTime, AdjustAndDifference) {
  HTDATETIME v = make(2024, 1, 31, 22, 0, 0, 0);
  ASSERT_EQ(HTDatetimeAdjust(&v, HTDTUNIT_MONTH, 1), HTSUCCESS);
  EXPECT_EQ(HTDatetimeCompare(&v, &(const HTDATETIME&)make(2024, 2, 29, 22, 0, 0, 0)), 0);
  ASSERT_EQ(HTDatetimeAdjust(&v, HTDTUNIT_HOUR, 3), HTSUCCESS);
  HTDATETIME expect = make(2024, 3, 1, 1, 0, 0, 0);
  EXPECT_EQ(HTDatetimeCompare(&v, &expect), 0);
  HTINT diff = 0;
  HTDATETIME start = make(2024, 1, 31, 22, 0, 0, 0);
  ASSERT_EQ(HTDatetimeGetDiff(&v, &start, HTDTUNIT_HOUR, &diff), HTSUCCESS);
  EXPECT_EQ(diff, 29 * 24 + 3);
  ASSERT_EQ(HTDatetimeGetDiff(&start, &v, HTDTUNIT_DAY, &diff), HTSUCCESS);
  EXPECT_EQ(diff, -29);
  ASSERT_EQ(HTDatetimeGetDiff(&v, &start, HTDTUNIT_MONTH, &diff), HTSUCCESS);
  EXPECT_EQ(diff, 1);
  HTDATETIME max{};
  HTDatetimeConstant(HTDTCONST_MAXIMUM, &max);
  EXPECT_EQ(HTDatetimeAdjust(&max, HTDTUNIT_DAY, 1), HTFAIL_INVALID_ARGUMENT);
  HTDATETIME dateOnly = make(2024, 5, 5);
  EXPECT_EQ(HTDatetimeAdjust(&dateOnly, HTDTUNIT_HOUR, 1), HTFAIL_INVALID_ARGUMENT);
  HTDATETIME min{};
  HTDatetimeConstant(HTDTCONST_MINIMUM, &min);
  EXPECT_EQ(HTDatetimeGetDiff(&max, &min, HTDTUNIT_SECOND, &diff), HTFAIL_INVALID_ARGUMENT);  // beyond 32 bits
}

// The local time of a clock reading, worked out afresh: what dt::now must agree with.
int64_t localPacked(const timeval& tv) {
  tm local{};
  const time_t secs = tv.tv_sec;
  localtime_r(&secs, &local);
  const int64_t days = dt::daysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  const int64_t ms = ((local.tm_hour * 60 + local.tm_min) * 60 + std::min(local.tm_sec, 59)) * 1000 + tv.tv_usec / 1000;
  return dt::pack(HTDATETIME{uint32_t(ms), uint32_t(days + dt::kDayBias)});
}

// The current time is reused within a second; across second boundaries it must still be
// the local time of the moment, never the second before.
TEST(EngineDateTime, NowIsTheLocalTimeOfTheMomentAcrossSecondBoundaries) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2100);
  int secondsSeen = 0;
  time_t lastSecond = 0;
  int64_t previous = 0;
  while (std::chrono::steady_clock::now() < until && secondsSeen < 3) {
    timeval before{};
    gettimeofday(&before, nullptr);
    const int64_t now = dt::pack(dt::now());
    timeval after{};
    gettimeofday(&after, nullptr);
    if (before.tv_sec != after.tv_sec) continue;  // the local offset may differ between the two
    ASSERT_GE(now, localPacked(before));
    ASSERT_LE(now, localPacked(after));
    ASSERT_GE(now, previous);
    previous = now;
    if (before.tv_sec != lastSecond) {
      lastSecond = before.tv_sec;
      ++secondsSeen;
    }
  }
  EXPECT_GE(secondsSeen, 2);
}

}  // namespace
}  // namespace quire::engine::test
