#include "rtl/FormatSettings.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "rtl/Errors.h"

namespace rtl {
namespace {

// ---- Deriving settings from strftime formats ----

bool IsCOrPosix(const std::string& name) {
  return name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0;
}

std::string Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return std::string(text);
}

// Expands the composite conversions a D_FMT or T_FMT may use.
std::string ExpandComposites(std::string_view format, std::string_view ampmFormat) {
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 == format.size()) {
      out += format[i];
      continue;
    }
    const char c = format[++i];
    if (c == 'D') out += "%m/%d/%y";
    else if (c == 'F') out += "%Y-%m-%d";
    else if (c == 'T') out += "%H:%M:%S";
    else if (c == 'R') out += "%H:%M";
    else if (c == 'r') out += ExpandComposites(ampmFormat, "%I:%M:%S %p");
    else if (c == 'E' || c == 'O') continue;  // alternative-numeral modifiers
    else {
      out += '%';
      out += c;
    }
  }
  return out;
}

struct DateFields {
  std::string order;  // "dmy" in the order met
  std::string separator;
  bool zeroPadded = true;
};

DateFields ScanDateFormat(std::string_view format) {
  DateFields fields;
  std::string literal;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 == format.size()) {
      literal += format[i];
      continue;
    }
    char field = 0;
    switch (format[++i]) {
      case 'd': field = 'd'; break;
      case 'e': field = 'd'; fields.zeroPadded = false; break;
      case 'm': case 'b': case 'B': case 'h': field = 'm'; break;
      case 'Y': case 'y': case 'C': case 'G': field = 'y'; break;
      default: break;
    }
    if (field == 0 || fields.order.find(field) != std::string::npos) continue;
    if (fields.order.size() == 1) fields.separator = Trimmed(literal);
    fields.order += field;
    literal.clear();
  }
  return fields;
}

struct TimeFields {
  std::string format;
  std::string separator;
};

TimeFields ScanTimeFormat(std::string_view format, bool haveDesignators) {
  bool twelveHour = false;
  bool padded = true;
  bool seconds = false;
  bool sawHour = false;
  std::string separator;
  std::string literal;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 == format.size()) {
      literal += format[i];
      continue;
    }
    switch (format[++i]) {
      case 'H': sawHour = true; break;
      case 'k': sawHour = true; padded = false; break;
      case 'I': sawHour = true; twelveHour = true; break;
      case 'l': sawHour = true; twelveHour = true; padded = false; break;
      case 'M': if (sawHour && separator.empty()) separator = Trimmed(literal); break;
      case 'S': seconds = true; break;
      default: break;
    }
    literal.clear();
  }
  TimeFields fields;
  fields.separator = separator.empty() ? ":" : separator;
  fields.format = std::string(padded ? "hh" : "h") + ":nn" + (seconds ? ":ss" : "");
  // Without designators a 12-hour clock could not tell morning from evening.
  if (twelveHour && haveDesignators) fields.format += " ampm";
  return fields;
}

// ---- Formatting ----

// Format letters are ASCII, so they are matched without the locale's tolower.
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithAmPm(std::string_view format, size_t pos) {
  static constexpr std::string_view kAmPm = "ampm";
  if (format.size() - pos < kAmPm.size()) return false;
  for (size_t i = 0; i < kAmPm.size(); ++i) {
    if (LowerAscii(format[pos + i]) != kAmPm[i]) return false;
  }
  return true;
}

void AppendNumber(std::string& out, int value, int width) {
  char digits[16];
  const auto written = std::to_chars(digits, digits + sizeof digits, value);
  const size_t length = static_cast<size_t>(written.ptr - digits);
  if (length < static_cast<size_t>(width)) out.append(static_cast<size_t>(width) - length, '0');
  out.append(digits, length);
}

size_t RunLength(std::string_view format, size_t pos) {
  const char c = LowerAscii(format[pos]);
  size_t end = pos;
  while (end < format.size() && LowerAscii(format[end]) == c) ++end;
  return end - pos;
}

struct Fields {
  int year, month, day, hour, minute, second, millisecond;
};

Fields Decoded(TDateTime value) {
  Fields f;
  DecodeDateTime(value, f.year, f.month, f.day, f.hour, f.minute, f.second, f.millisecond);
  return f;
}

// Appends `format` filled with `f` to `out`.
void AppendFormatted(std::string& out, std::string_view format, const Fields& f, const FormatSettings& settings) {
  bool twelveHour = false;
  for (size_t i = 0; i < format.size() && !twelveHour; ++i) twelveHour = StartsWithAmPm(format, i);
  const int clockHour = twelveHour ? (f.hour % 12 == 0 ? 12 : f.hour % 12) : f.hour;

  for (size_t i = 0; i < format.size();) {
    const char c = LowerAscii(format[i]);
    if (c == '"' || c == '\'') {
      const size_t end = std::min(format.find(format[i], i + 1), format.size());
      out.append(format.substr(i + 1, end - i - 1));
      i = end + 1;
      continue;
    }
    if (c == 'a' && StartsWithAmPm(format, i)) {
      out += f.hour < 12 ? settings.TimeAMString : settings.TimePMString;
      i += 4;
      continue;
    }
    const size_t run = RunLength(format, i);
    // Two letters make a padded field; longer runs of d, m, h, n, s repeat it.
    const size_t pair = std::min<size_t>(run, 2);
    switch (c) {
      case 'd': AppendNumber(out, f.day, static_cast<int>(pair)); i += pair; break;
      case 'm': AppendNumber(out, f.month, static_cast<int>(pair)); i += pair; break;
      case 'h': AppendNumber(out, clockHour, static_cast<int>(pair)); i += pair; break;
      case 'n': AppendNumber(out, f.minute, static_cast<int>(pair)); i += pair; break;
      case 's': AppendNumber(out, f.second, static_cast<int>(pair)); i += pair; break;
      case 'y':
        run <= 2 ? AppendNumber(out, f.year % 100, 2) : AppendNumber(out, f.year, 4);
        i += run;
        break;
      case 'z':
        AppendNumber(out, f.millisecond, run >= 3 ? 3 : 1);
        i += run >= 3 ? 3 : 1;
        break;
      case '/': out += settings.DateSeparator; ++i; break;
      case ':': out += settings.TimeSeparator; ++i; break;
      default: out += format[i]; ++i; break;
    }
  }
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

// ---- Parsing ----

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ == text_.size(); }
  bool SkipSpaces() {
    const size_t start = pos_;
    while (!AtEnd() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    return pos_ != start;
  }
  bool Literal(std::string_view literal) {
    if (literal.empty() || text_.substr(pos_, literal.size()) != literal) return false;
    pos_ += literal.size();
    return true;
  }
  bool LiteralNoCase(std::string_view literal) {
    if (literal.empty() || !StartsWithNoCase(text_.substr(pos_), literal)) return false;
    pos_ += literal.size();
    return true;
  }
  // Up to maxDigits decimal digits; the count read goes to `digits`.
  bool Number(int maxDigits, int& value, int& digits) {
    value = 0;
    digits = 0;
    while (!AtEnd() && digits < maxDigits && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
      value = value * 10 + (text_[pos_++] - '0');
      ++digits;
    }
    return digits > 0 && (AtEnd() || !std::isdigit(static_cast<unsigned char>(text_[pos_])));
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

int ExpandTwoDigitYear(int year, int window) {
  int thisYear, month, day;
  DecodeDate(Now(), thisYear, month, day);
  if (window <= 0) return thisYear / 100 * 100 + year;
  const int threshold = thisYear - window;
  year += threshold / 100 * 100;
  return year < threshold ? year + 100 : year;
}

bool ParseDate(Scanner& in, const FormatSettings& settings, TDateTime& result) {
  static constexpr const char* kLayouts[] = {"mdy", "dmy", "ymd"};
  const char* layout = kLayouts[static_cast<int>(settings.Order)];
  int year = 0, month = 0, day = 0, yearDigits = 0;
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      in.SkipSpaces();
      if (!in.Literal(settings.DateSeparator)) return false;
      in.SkipSpaces();
    }
    int value, digits;
    if (!in.Number(layout[i] == 'y' ? 4 : 2, value, digits)) return false;
    if (layout[i] == 'y') {
      year = value;
      yearDigits = digits;
    } else {
      (layout[i] == 'm' ? month : day) = value;
    }
  }
  if (yearDigits == 2) year = ExpandTwoDigitYear(year, settings.TwoDigitYearCenturyWindow);
  else if (yearDigits != 4) return false;
  return TryEncodeDate(year, month, day, result);
}

bool ParseTime(Scanner& in, const FormatSettings& settings, TDateTime& result) {
  int hour, minute = 0, second = 0, millisecond = 0, digits;
  if (!in.Number(2, hour, digits)) return false;
  const bool hasMinute = in.Literal(settings.TimeSeparator);
  if (hasMinute) {
    if (!in.Number(2, minute, digits)) return false;
    if (in.Literal(settings.TimeSeparator)) {
      if (!in.Number(2, second, digits)) return false;
      if (in.Literal(".")) {
        if (!in.Number(3, millisecond, digits)) return false;
        for (; digits < 3; ++digits) millisecond *= 10;
      }
    }
  }
  in.SkipSpaces();
  int designator = 0;  // 1 = AM, 2 = PM
  if (in.LiteralNoCase(settings.TimeAMString) || in.LiteralNoCase("AM")) designator = 1;
  else if (in.LiteralNoCase(settings.TimePMString) || in.LiteralNoCase("PM")) designator = 2;
  if (!hasMinute && designator == 0) return false;
  if (designator != 0) {
    if (hour > 12) return false;
    hour = hour % 12 + (designator == 2 ? 12 : 0);
  }
  return TryEncodeTime(hour, minute, second, millisecond, result);
}

TDateTime Combine(TDateTime date, TDateTime time) { return date < 0 ? date - time : date + time; }

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

}  // namespace

FormatSettings FormatSettings::FromPosixFormats(std::string_view dateFormat, std::string_view timeFormat,
                                                std::string_view ampmFormat, std::string_view am,
                                                std::string_view pm) {
  FormatSettings settings;
  const DateFields date = ScanDateFormat(ExpandComposites(dateFormat, ampmFormat));
  if (date.order == "dmy") settings.Order = DateOrder::DMY;
  else if (date.order == "ymd") settings.Order = DateOrder::YMD;
  else if (date.order == "mdy") settings.Order = DateOrder::MDY;
  else return settings;  // unusual orders keep the defaults whole
  if (!date.separator.empty()) settings.DateSeparator = date.separator;
  const std::string d = date.zeroPadded ? "dd" : "d";
  const std::string m = date.zeroPadded ? "mm" : "m";
  switch (settings.Order) {
    case DateOrder::MDY: settings.ShortDateFormat = m + "/" + d + "/yyyy"; break;
    case DateOrder::DMY: settings.ShortDateFormat = d + "/" + m + "/yyyy"; break;
    case DateOrder::YMD: settings.ShortDateFormat = "yyyy/" + m + "/" + d; break;
  }
  const bool haveDesignators = !am.empty() && !pm.empty();
  const TimeFields time = ScanTimeFormat(ExpandComposites(timeFormat, ampmFormat), haveDesignators);
  settings.TimeSeparator = time.separator;
  settings.LongTimeFormat = time.format;
  if (haveDesignators) {
    settings.TimeAMString = std::string(am);
    settings.TimePMString = std::string(pm);
  }
  return settings;
}

FormatSettings FormatSettings::FromLocale(const char* localeName) {
  std::string name;
  if (localeName != nullptr) {
    name = localeName;
  } else if (const char* current = setlocale(LC_TIME, nullptr)) {
    name = current;
  }
  locale_t locale = newlocale(LC_TIME_MASK, name.c_str(), static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return FormatSettings();
  // "" resolves through the environment; only the resolved name tells C apart.
  const char* resolved = nl_langinfo_l(_NL_LOCALE_NAME(LC_TIME), locale);
  FormatSettings settings;
  if (!IsCOrPosix(resolved != nullptr ? resolved : name)) {
    settings = FromPosixFormats(nl_langinfo_l(D_FMT, locale), nl_langinfo_l(T_FMT, locale),
                                nl_langinfo_l(T_FMT_AMPM, locale), nl_langinfo_l(AM_STR, locale),
                                nl_langinfo_l(PM_STR, locale));
  }
  freelocale(locale);
  return settings;
}

namespace {
FormatSettings& DefaultSettingsStorage() {
  static FormatSettings settings = FormatSettings::FromLocale();
  return settings;
}
}  // namespace

const FormatSettings& DefaultFormatSettings() { return DefaultSettingsStorage(); }

void SetDefaultFormatSettings(const FormatSettings& settings) { DefaultSettingsStorage() = settings; }

std::string FormatDateTime(std::string_view format, TDateTime value, const FormatSettings& settings) {
  std::string out;
  AppendFormatted(out, format, Decoded(value), settings);
  return out;
}

std::string DateToStr(TDateTime value, const FormatSettings& settings) {
  return FormatDateTime(settings.ShortDateFormat, value, settings);
}

std::string TimeToStr(TDateTime value, const FormatSettings& settings) {
  return FormatDateTime(settings.LongTimeFormat, value, settings);
}

std::string DateTimeToStr(TDateTime value, const FormatSettings& settings) {
  const Fields f = Decoded(value);
  std::string text;
  AppendFormatted(text, settings.ShortDateFormat, f, settings);
  if (f.hour != 0 || f.minute != 0 || f.second != 0 || f.millisecond != 0) {
    text += ' ';
    AppendFormatted(text, settings.LongTimeFormat, f, settings);
  }
  return text;
}

bool TryStrToDate(std::string_view text, TDateTime& result, const FormatSettings& settings) {
  Scanner in(text);
  TDateTime date;
  in.SkipSpaces();
  if (!ParseDate(in, settings, date)) return false;
  in.SkipSpaces();
  if (!in.AtEnd()) return false;
  result = date;
  return true;
}

bool TryStrToTime(std::string_view text, TDateTime& result, const FormatSettings& settings) {
  Scanner in(text);
  TDateTime time;
  in.SkipSpaces();
  if (!ParseTime(in, settings, time)) return false;
  in.SkipSpaces();
  if (!in.AtEnd()) return false;
  result = time;
  return true;
}

bool TryStrToDateTime(std::string_view text, TDateTime& result, const FormatSettings& settings) {
  Scanner in(text);
  TDateTime date;
  TDateTime time = 0;
  in.SkipSpaces();
  if (!ParseDate(in, settings, date)) return false;
  const bool spaced = in.SkipSpaces();
  if (!in.AtEnd()) {
    if (!spaced || !ParseTime(in, settings, time)) return false;
    in.SkipSpaces();
    if (!in.AtEnd()) return false;
  }
  result = Combine(date, time);
  return true;
}

TDateTime StrToDate(std::string_view text, const FormatSettings& settings) {
  TDateTime result;
  if (!TryStrToDate(text, result, settings)) throw EConvertError(Quoted(text) + " is not a valid date");
  return result;
}

TDateTime StrToTime(std::string_view text, const FormatSettings& settings) {
  TDateTime result;
  if (!TryStrToTime(text, result, settings)) throw EConvertError(Quoted(text) + " is not a valid time");
  return result;
}

TDateTime StrToDateTime(std::string_view text, const FormatSettings& settings) {
  TDateTime result;
  if (!TryStrToDateTime(text, result, settings)) {
    throw EConvertError(Quoted(text) + " is not a valid date and time");
  }
  return result;
}

}  // namespace rtl
