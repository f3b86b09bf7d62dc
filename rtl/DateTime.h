// Calendar values. A TDateTime is a double counting days since 30 December
// 1899 (value 0); its fraction is the time of day. Values before that day are
// negative and follow the usual convention that the integral part is the day
// and the absolute fraction the time of day: -1.25 is 29 December 1899 06:00.
// Dates follow the proleptic Gregorian calendar for years 1..9999.
//
// Encode functions take calendar parts and throw EConvertError when a part is
// out of range; their Try variants return false instead and leave the output
// alone. Decode functions round to the nearest millisecond (so 0.1 s steps do
// not come back as 999 ms of the previous second); for a value that is not
// finite or lies outside years 1..9999 they set every part to 0 and return
// false. All functions are pure except Now(), and safe from any thread.
#pragma once

#include "rtl/Export.h"

namespace rtl {

using TDateTime = double;

inline constexpr int kHoursPerDay = 24;
inline constexpr int kMinsPerDay = kHoursPerDay * 60;
inline constexpr int kSecsPerDay = kMinsPerDay * 60;
inline constexpr int kMSecsPerDay = kSecsPerDay * 1000;
// 1 January 0001 and 31 December 9999, the ends of the valid range.
inline constexpr int kMinDateDay = -693593;
inline constexpr int kMaxDateDay = 2958465;

QUIRE_API bool IsLeapYear(int year);
// 28..31; 0 for a month outside 1..12.
QUIRE_API int DaysInMonth(int year, int month);

QUIRE_API bool TryEncodeDate(int year, int month, int day, TDateTime& result);
QUIRE_API TDateTime EncodeDate(int year, int month, int day);
QUIRE_API bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result);
QUIRE_API TDateTime EncodeTime(int hour, int minute, int second, int millisecond = 0);
QUIRE_API bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond,
                       TDateTime& result);
QUIRE_API TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond = 0);

QUIRE_API bool DecodeDate(TDateTime value, int& year, int& month, int& day);
QUIRE_API bool DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);
QUIRE_API bool DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& millisecond);

// 1 = Sunday .. 7 = Saturday; 0 for a value outside the valid range.
QUIRE_API int DayOfWeek(TDateTime value);

// The current local date and time, to the millisecond.
QUIRE_API TDateTime Now();

}  // namespace rtl
