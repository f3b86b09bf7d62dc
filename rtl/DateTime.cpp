#include "rtl/DateTime.h"

#include <cmath>
#include <ctime>

#include "rtl/Errors.h"

namespace rtl {
namespace {

// Day number relative to 1 March of year 0, so leap days fall at the end of a
// cycle; the classic days-from-civil arithmetic on 400-year eras.
long DaysFromCivil(int year, int month, int day) {
  year -= month <= 2;
  const long era = (year >= 0 ? year : year - 399) / 400;
  const long yoe = year - era * 400;
  const long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;  // 0 = 1 January 1970
}

void CivilFromDays(long days, int& year, int& month, int& day) {
  days += 719468;
  const long era = (days >= 0 ? days : days - 146096) / 146097;
  const long doe = days - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

constexpr long kUnixEpochDay = 25569;  // 1 January 1970 as a TDateTime day

// Splits a value into its day and its millisecond of the day, rounded to the
// nearest millisecond; a time that rounds up to 24:00 moves to the next day.
bool Split(TDateTime value, long& day, long& msOfDay) {
  if (!std::isfinite(value) || value < kMinDateDay - 1.0 || value > kMaxDateDay + 1.0) return false;
  const double whole = std::trunc(value);
  day = static_cast<long>(whole);
  msOfDay = std::lround(std::fabs(value - whole) * kMSecsPerDay);
  if (msOfDay >= kMSecsPerDay) {
    if (day < kMaxDateDay) {
      ++day;
      msOfDay = 0;
    } else {
      msOfDay = kMSecsPerDay - 1;
    }
  }
  return day >= kMinDateDay && day <= kMaxDateDay;
}

[[noreturn]] void ThrowEncodeError(const char* what) {
  throw EConvertError(std::string("Invalid argument to ") + what + " encode");
}

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || day < 1 || day > DaysInMonth(year, month)) return false;
  result = static_cast<double>(DaysFromCivil(year, month, day) + kUnixEpochDay);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime result;
  if (!TryEncodeDate(year, month, day, result)) ThrowEncodeError("date");
  return result;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result) {
  if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 || millisecond < 0 ||
      millisecond >= 1000) {
    return false;
  }
  const long ms = ((hour * 60L + minute) * 60L + second) * 1000L + millisecond;
  result = static_cast<double>(ms) / kMSecsPerDay;
  return true;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  TDateTime result;
  if (!TryEncodeTime(hour, minute, second, millisecond, result)) ThrowEncodeError("time");
  return result;
}

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond,
                       TDateTime& result) {
  TDateTime date;
  TDateTime time;
  if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, millisecond, time)) {
    return false;
  }
  // Before 30 December 1899 the time of day is the absolute fraction.
  result = date < 0 ? date - time : date + time;
  return true;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  TDateTime result;
  if (!TryEncodeDateTime(year, month, day, hour, minute, second, millisecond, result)) {
    ThrowEncodeError("date and time");
  }
  return result;
}

bool DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& millisecond) {
  long dayNumber;
  long ms;
  if (!Split(value, dayNumber, ms)) {
    year = month = day = hour = minute = second = millisecond = 0;
    return false;
  }
  CivilFromDays(dayNumber - kUnixEpochDay, year, month, day);
  millisecond = static_cast<int>(ms % 1000);
  second = static_cast<int>(ms / 1000 % 60);
  minute = static_cast<int>(ms / 60000 % 60);
  hour = static_cast<int>(ms / 3600000);
  return true;
}

bool DecodeDate(TDateTime value, int& year, int& month, int& day) {
  int hour, minute, second, millisecond;
  return DecodeDateTime(value, year, month, day, hour, minute, second, millisecond);
}

bool DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond) {
  int year, month, day;
  return DecodeDateTime(value, year, month, day, hour, minute, second, millisecond);
}

int DayOfWeek(TDateTime value) {
  long day;
  long ms;
  if (!Split(value, day, ms)) return 0;
  // Day 0 was a Saturday.
  return static_cast<int>(((day % 7) + 7 + 6) % 7) + 1;
}

TDateTime Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                        // A leap second shows as 60; hold it at 59.
                        local.tm_sec > 59 ? 59 : local.tm_sec, static_cast<int>(now.tv_nsec / 1000000));
}

}  // namespace rtl
