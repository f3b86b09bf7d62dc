// Locale date and time text: how calendar values are written and read back.
// A FormatSettings value says the date order and separators, the short date
// and long time formats and the AM/PM designators; the process default is
// taken once, on first use, from the LC_TIME category of the process locale
// (month/day/year with "/" and ":" for the C and POSIX locales) and can be
// replaced with SetDefaultFormatSettings.
//
// Formats use these tokens, letters in either case: d dd (day), m mm (month),
// yy yyyy (year), h hh (hour), n nn (minute), s ss (second), z zzz
// (millisecond), ampm (the AM/PM designator; the hour then counts 1..12);
// '/' and ':' stand for DateSeparator and TimeSeparator; text in single or
// double quotes and any other character are copied as they are.
//
// Parsers read the date in the settings' Order: day and month of 1 or 2
// digits, a year of 4 digits or of 2 digits placed by the century window,
// separated by DateSeparator (spaces around it allowed); a time follows after
// a space as h:m[:s[.zzz]] with an optional AM/PM designator (h alone is
// accepted when a designator follows). Leading and trailing spaces are
// ignored, anything else makes the text invalid. Try variants return false and
// leave the result alone; the others throw EConvertError.
//
// Reading the default is safe from any thread; replacing it is not.
#pragma once

#include <string>
#include <string_view>

#include "rtl/DateTime.h"
#include "rtl/Export.h"

namespace rtl {

enum class DateOrder { MDY, DMY, YMD };

struct QUIRE_API FormatSettings {
  std::string DateSeparator = "/";
  std::string TimeSeparator = ":";
  std::string ShortDateFormat = "m/d/yyyy";
  std::string LongTimeFormat = "h:nn:ss";
  DateOrder Order = DateOrder::MDY;
  std::string TimeAMString = "AM";
  std::string TimePMString = "PM";
  // A two-digit year lands in the hundred years starting this many years
  // before the current one; 0 puts it in the current century.
  int TwoDigitYearCenturyWindow = 50;

  // Settings of a named locale's LC_TIME; nullptr means the locale the process
  // currently uses, "" the one the environment selects. A locale that cannot
  // be loaded, and the C and POSIX locales, give the defaults above.
  static FormatSettings FromLocale(const char* localeName = nullptr);
  // Settings derived from the strftime formats of a locale (its D_FMT and
  // T_FMT, with "%r" standing for ampmFormat) and its AM/PM strings. Years
  // are always written with four digits, so that written dates read back
  // unchanged, even where the locale shows two.
  static FormatSettings FromPosixFormats(std::string_view dateFormat, std::string_view timeFormat,
                                         std::string_view ampmFormat = "%I:%M:%S %p", std::string_view am = "AM",
                                         std::string_view pm = "PM");
};

QUIRE_API const FormatSettings& DefaultFormatSettings();
QUIRE_API void SetDefaultFormatSettings(const FormatSettings& settings);

QUIRE_API std::string FormatDateTime(std::string_view format, TDateTime value,
                           const FormatSettings& settings = DefaultFormatSettings());
QUIRE_API std::string DateToStr(TDateTime value, const FormatSettings& settings = DefaultFormatSettings());
QUIRE_API std::string TimeToStr(TDateTime value, const FormatSettings& settings = DefaultFormatSettings());
// The short date, then a space and the long time unless the time is midnight.
QUIRE_API std::string DateTimeToStr(TDateTime value, const FormatSettings& settings = DefaultFormatSettings());

QUIRE_API bool TryStrToDate(std::string_view text, TDateTime& result, const FormatSettings& settings = DefaultFormatSettings());
QUIRE_API bool TryStrToTime(std::string_view text, TDateTime& result, const FormatSettings& settings = DefaultFormatSettings());
// A date with an optional time.
QUIRE_API bool TryStrToDateTime(std::string_view text, TDateTime& result,
                      const FormatSettings& settings = DefaultFormatSettings());
QUIRE_API TDateTime StrToDate(std::string_view text, const FormatSettings& settings = DefaultFormatSettings());
QUIRE_API TDateTime StrToTime(std::string_view text, const FormatSettings& settings = DefaultFormatSettings());
QUIRE_API TDateTime StrToDateTime(std::string_view text, const FormatSettings& settings = DefaultFormatSettings());

}  // namespace rtl
