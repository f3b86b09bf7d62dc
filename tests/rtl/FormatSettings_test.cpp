#include "rtl/FormatSettings.h"

#include <gtest/gtest.h>

#include "rtl/Errors.h"

namespace {

using namespace rtl;

FormatSettings Dmy() { return FormatSettings::FromPosixFormats("%d.%m.%Y", "%H:%M:%S"); }
FormatSettings Ymd() { return FormatSettings::FromPosixFormats("%Y-%m-%d", "%T"); }
FormatSettings UsTwelveHour() { return FormatSettings::FromPosixFormats("%m/%d/%Y", "%r", "%I:%M:%S %p", "AM", "PM"); }

TEST(FormatSettings, CLocaleGivesMonthDayYear) {
  for (const char* name : {"C", "POSIX", "C.UTF-8"}) {
    const FormatSettings s = FormatSettings::FromLocale(name);
    EXPECT_EQ(s.Order, DateOrder::MDY) << name;
    EXPECT_EQ(s.DateSeparator, "/");
    EXPECT_EQ(s.TimeSeparator, ":");
    EXPECT_EQ(s.ShortDateFormat, "m/d/yyyy");
    EXPECT_EQ(s.LongTimeFormat, "h:nn:ss");
  }
  // A locale that does not exist falls back to the same defaults.
  EXPECT_EQ(FormatSettings::FromLocale("xx_NOWHERE.UTF-8").ShortDateFormat, "m/d/yyyy");
  EXPECT_EQ(DefaultFormatSettings().Order, DateOrder::MDY);  // the test process runs in the C locale
}

TEST(FormatSettings, DerivedFromLocaleFormats) {
  const FormatSettings dmy = Dmy();
  EXPECT_EQ(dmy.Order, DateOrder::DMY);
  EXPECT_EQ(dmy.DateSeparator, ".");
  EXPECT_EQ(dmy.ShortDateFormat, "dd/mm/yyyy");
  EXPECT_EQ(dmy.LongTimeFormat, "hh:nn:ss");

  const FormatSettings ymd = Ymd();
  EXPECT_EQ(ymd.Order, DateOrder::YMD);
  EXPECT_EQ(ymd.DateSeparator, "-");

  const FormatSettings us = UsTwelveHour();
  EXPECT_EQ(us.Order, DateOrder::MDY);
  EXPECT_EQ(us.LongTimeFormat, "hh:nn:ss ampm");

  // A two-digit locale year is still written with four digits.
  EXPECT_EQ(FormatSettings::FromPosixFormats("%D", "%T").ShortDateFormat, "mm/dd/yyyy");
  // Without designators a 12-hour clock falls back to 24 hours.
  EXPECT_EQ(FormatSettings::FromPosixFormats("%d/%m/%Y", "%r", "%I:%M:%S %p", "", "").LongTimeFormat, "hh:nn:ss");
  EXPECT_EQ(FormatSettings::FromPosixFormats("%e. %m. %Y", "%k.%M").LongTimeFormat, "h:nn");
  EXPECT_EQ(FormatSettings::FromPosixFormats("%e. %m. %Y", "%k.%M").TimeSeparator, ".");
}

TEST(FormatSettings, WritesDatesAndTimes) {
  const TDateTime value = EncodeDateTime(2024, 3, 5, 13, 4, 5, 60);
  const FormatSettings c;
  EXPECT_EQ(DateToStr(value, c), "3/5/2024");
  EXPECT_EQ(TimeToStr(value, c), "13:04:05");
  EXPECT_EQ(DateTimeToStr(value, c), "3/5/2024 13:04:05");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5), c), "3/5/2024");  // midnight: date only
  EXPECT_EQ(DateTimeToStr(value, Dmy()), "05.03.2024 13:04:05");
  EXPECT_EQ(DateTimeToStr(value, Ymd()), "2024-03-05 13:04:05");
  EXPECT_EQ(DateTimeToStr(value, UsTwelveHour()), "03/05/2024 01:04:05 PM");
  EXPECT_EQ(TimeToStr(EncodeTime(0, 30, 0), UsTwelveHour()), "12:30:00 AM");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz 'at' \"h\" yy", value, c), "2024-03-05 13:04:05.060 at h 24");
  EXPECT_EQ(FormatDateTime("d/m/yyyy", EncodeDate(12, 1, 2), Dmy()), "2.1.0012");
}

TEST(FormatSettings, ReadsDatesInTheSettingsOrder) {
  EXPECT_EQ(StrToDate("1/2/2024", FormatSettings()), EncodeDate(2024, 1, 2));
  EXPECT_EQ(StrToDate("1.2.2024", Dmy()), EncodeDate(2024, 2, 1));
  EXPECT_EQ(StrToDate("2024-1-2", Ymd()), EncodeDate(2024, 1, 2));
  EXPECT_EQ(StrToDate("  01 / 02 / 2024 ", FormatSettings()), EncodeDate(2024, 1, 2));
  EXPECT_EQ(StrToDateTime("01/01/1996 00:00:00", FormatSettings()), 35065.0);
  EXPECT_EQ(StrToDateTime("01/01/1900 12:00:00", FormatSettings()), 2.5);
  EXPECT_EQ(StrToDateTime("12/29/1899 06:00"), -1.25);
}

TEST(FormatSettings, ReadsTimes) {
  const FormatSettings c;
  const TDateTime day = EncodeDate(2024, 1, 2);
  EXPECT_EQ(StrToDateTime("1/2/2024 3:04 PM", c), day + EncodeTime(15, 4, 0));
  EXPECT_EQ(StrToDateTime("1/2/2024 3 pm", c), day + EncodeTime(15, 0, 0));
  EXPECT_EQ(StrToDateTime("1/2/2024 12:00 AM", c), day);
  EXPECT_EQ(StrToDateTime("1/2/2024 12:00:01 PM", c), day + EncodeTime(12, 0, 1));
  EXPECT_EQ(StrToDateTime("1/2/2024 10:20:30.5", c), day + EncodeTime(10, 20, 30, 500));
  EXPECT_EQ(StrToDateTime("1/2/2024 10:20:30.007", c), day + EncodeTime(10, 20, 30, 7));
  EXPECT_EQ(StrToTime("23:59:59", c), EncodeTime(23, 59, 59));
  FormatSettings designators = c;
  designators.TimeAMString = "vorm.";
  designators.TimePMString = "nachm.";
  EXPECT_EQ(StrToTime("1:00 nachm.", designators), EncodeTime(13, 0, 0));
}

TEST(FormatSettings, TwoDigitYearsLandInTheCenturyWindow) {
  int thisYear, m, d;
  DecodeDate(Now(), thisYear, m, d);
  FormatSettings s;
  for (int yy = 0; yy < 100; ++yy) {
    int year;
    DecodeDate(StrToDate("6/15/" + std::string(yy < 10 ? "0" : "") + std::to_string(yy), s), year, m, d);
    EXPECT_EQ(year % 100, yy);
    EXPECT_GE(year, thisYear - 50);
    EXPECT_LT(year, thisYear + 50);
  }
  s.TwoDigitYearCenturyWindow = 0;
  int year;
  DecodeDate(StrToDate("1/1/99", s), year, m, d);
  EXPECT_EQ(year, thisYear / 100 * 100 + 99);
}

TEST(FormatSettings, MalformedTextIsRefused) {
  const FormatSettings c;
  for (const char* text : {"", " ", "abc", "1/2", "1/2/", "1//2024", "13/1/2024", "2/30/2024", "0/1/2024",
                           "1/2/2024x", "1/2/123", "1/2/12345", "1/2/0000", "001/2/2024", "1-2-2024", "-1/2/2024",
                           "1/2/2024 25:00", "1/2/2024 13:00 PM", "1/2/2024 10", "1/2/2024 10:", "1/2/2024 10:60",
                           "1/2/2024 10:00:00.1234", "1/2/202410:00", "1/2/2024 10:00 AM x"}) {
    TDateTime result = -3;
    EXPECT_FALSE(TryStrToDateTime(text, result, c)) << '"' << text << '"';
    EXPECT_EQ(result, -3);
  }
  TDateTime result = -3;
  EXPECT_FALSE(TryStrToDate("1/2/2024 10:00", result, c));  // a date alone, no time
  EXPECT_FALSE(TryStrToTime("10", result, c));
  EXPECT_FALSE(TryStrToDate("1.2.2024", result, c));  // not this settings' separator

  try {
    StrToDate("not a date", c);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'not a date' is not a valid date");
  }
  EXPECT_THROW(StrToDateTime("1/2/2024 99:00", c), EConvertError);
  EXPECT_THROW(StrToTime("x", c), EConvertError);
  EXPECT_STREQ(EConvertError::InvalidInteger("x").what(), "'x' is not a valid integer value");
}

// What a document does with a date-time item: write it as text, read it back.
TEST(FormatSettings, WrittenValuesReadBackInEveryOrder) {
  for (const FormatSettings& s : {FormatSettings(), Dmy(), Ymd(), UsTwelveHour()}) {
    for (int day = kMinDateDay; day <= kMaxDateDay; day += 997) {
      const long long seconds = (day * 7919LL % kSecsPerDay + kSecsPerDay) % kSecsPerDay;
      const TDateTime time = static_cast<double>(seconds) / kSecsPerDay;
      const TDateTime value = day < 0 ? day - time : day + time;
      const std::string text = DateTimeToStr(value, s);
      TDateTime back = 0;
      ASSERT_TRUE(TryStrToDateTime(text, back, s)) << text;
      ASSERT_EQ(DateTimeToStr(back, s), text);
      ASSERT_NEAR(back, value, 0.5 / kMSecsPerDay) << text;
      ASSERT_EQ(StrToDate(DateToStr(value, s), s), static_cast<double>(day)) << text;
    }
  }
}

// DateTimeToStr decodes the value once for both halves; it must say what the halves say alone.
TEST(FormatSettings, DateTimeTextIsTheDateTextAndTheTimeText) {
  FormatSettings custom;
  custom.ShortDateFormat = "dd-mm-yy 'wk' \"d\"";
  custom.LongTimeFormat = "HH.NN.SS.zzz AmPm";
  custom.TimeAMString = "vorm.";
  custom.TimePMString = "nachm.";
  for (const FormatSettings& s : {FormatSettings(), Dmy(), Ymd(), UsTwelveHour(), custom}) {
    for (int step = 0; step < 4000; ++step) {
      const int day = kMinDateDay + static_cast<int>((step * 104729LL) % (kMaxDateDay - kMinDateDay));
      const long long ms = step % 5 == 0 ? 0 : (step * 7919LL * 1009) % kMSecsPerDay;
      const TDateTime time = static_cast<double>(ms) / kMSecsPerDay;
      const TDateTime value = day < 0 ? day - time : day + time;
      const std::string date = DateToStr(value, s);
      const std::string expected = ms == 0 ? date : date + " " + TimeToStr(value, s);
      ASSERT_EQ(DateTimeToStr(value, s), expected) << "day " << day << " ms " << ms;
    }
  }
  EXPECT_EQ(DateTimeToStr(EncodeDateTime(2024, 3, 5, 13, 4, 5, 60), custom), "05-03-24 wk d 01.04.05.060 nachm.");
  EXPECT_EQ(DateTimeToStr(EncodeDateTime(2024, 3, 5, 0, 0, 0, 1), custom), "05-03-24 wk d 12.00.00.001 vorm.");
}

}  // namespace
