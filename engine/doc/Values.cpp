#include "engine/doc/Values.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "engine/core/DateTime.h"
#include "engine/core/Engine.h"
#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/doc/Composite.h"
#include "engine/store/ItemCodec.h"
#include "engine/formula/NumberText.h"

namespace quire::engine::doc {
namespace codec = store::codec;
namespace {

// Serial days of 1 Jan 0001 and 31 Dec 9999, the range date-times may take.
constexpr int64_t kFirstDay = -693593;
constexpr int64_t kLastDay = 2958465;

// Little-endian 32-bit fields of text-list data.
uint32_t readU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void writeU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

template <size_t N>
std::string separator(const char (&field)[N], const char* fallback) {
  std::string s(field, strnlen(field, N));
  return s.empty() ? fallback : s;
}

char decimalChar(const HTINTERNATIONAL& intl) {
  return intl.decimalSeparator[0] ? intl.decimalSeparator[0] : '.';
}

[[noreturn]] void mismatch(const store::StoredItem& item, HTINT toType, std::string_view why = {}) {
  std::string msg = "Item " + item.name + " (" + typeName(item.type) + ") cannot be converted to " + typeName(toType);
  if (!why.empty()) msg += ": " + std::string(why);
  raise(HTFAIL_TYPE_MISMATCH, msg);
}

[[noreturn]] void malformed(const store::StoredItem& item) {
  raise(HTFAIL_STORAGE_ERROR, "Item " + item.name + " holds a malformed " + std::string(typeName(item.type)) + " value");
}

// The entries of any list-like or scalar item, as texts.
std::vector<std::string> entriesOf(const store::StoredItem& item, const HTINTERNATIONAL& intl) {
  std::vector<std::string> out;
  switch (item.type) {
    case HTTYPE_TEXT_LIST:
      if (!codec::decodeTextList(item.value, out)) malformed(item);
      return out;
    case HTTYPE_NUMBER_LIST: {
      std::vector<double> v;
      if (!codec::decodeNumberList(item.value, v)) malformed(item);
      for (double d : v) out.push_back(formatNumber(d, intl));
      return out;
    }
    case HTTYPE_DATETIME_LIST: {
      std::vector<HTDATETIME> v;
      if (!codec::decodeDateTimeList(item.value, v)) malformed(item);
      for (const HTDATETIME& d : v) out.push_back(formatDateTime(d, intl));
      return out;
    }
    case HTTYPE_TEXT:
    case HTTYPE_FORMULA:
      if (!item.value.empty()) out.emplace_back(item.value.begin(), item.value.end());
      return out;
    default: {
      std::string t = renderText(item, intl);
      if (!t.empty()) out.push_back(std::move(t));
      return out;
    }
  }
}

std::vector<double> numbersOf(const store::StoredItem& item, const HTINTERNATIONAL& intl, HTINT toType) {
  std::vector<double> out;
  if (item.type == HTTYPE_NUMBER) {
    double d;
    if (!codec::decodeNumber(item.value, d)) malformed(item);
    out.push_back(d);
  } else if (item.type == HTTYPE_NUMBER_LIST) {
    if (!codec::decodeNumberList(item.value, out)) malformed(item);
  } else if (item.type == HTTYPE_TEXT || item.type == HTTYPE_TEXT_LIST) {
    for (const std::string& e : entriesOf(item, intl)) {
      double d;
      if (!parseNumber(e, intl, d)) mismatch(item, toType, "\"" + e + "\" is not a number");
      out.push_back(d);
    }
  } else {
    mismatch(item, toType);
  }
  return out;
}

std::vector<HTDATETIME> datesOf(const store::StoredItem& item, const HTINTERNATIONAL& intl, HTINT toType) {
  std::vector<HTDATETIME> out;
  if (item.type == HTTYPE_DATETIME) {
    HTDATETIME d;
    if (!codec::decodeDateTime(item.value, d)) malformed(item);
    out.push_back(d);
  } else if (item.type == HTTYPE_DATETIME_LIST) {
    if (!codec::decodeDateTimeList(item.value, out)) malformed(item);
  } else if (item.type == HTTYPE_TEXT || item.type == HTTYPE_TEXT_LIST) {
    for (const std::string& e : entriesOf(item, intl)) {
      HTDATETIME d;
      if (!parseDateTime(e, intl, d)) mismatch(item, toType, "\"" + e + "\" is not a date-time");
      out.push_back(d);
    }
  } else {
    mismatch(item, toType);
  }
  return out;
}

// A text as a list of its one entry, or of none when it is empty, built without the
// intermediate vector of entriesOf: this is how every new text-list item starts.
store::Blob textAsList(const store::StoredItem& item) {
  store::Blob list;
  list.reserve(item.value.empty() ? 4 : 4 + 4 + item.value.size() + 1);
  list.resize(4);
  if (item.value.empty()) return list;
  const std::string_view text(reinterpret_cast<const char*>(item.value.data()), item.value.size());
  if (!appendTextListEntry(list, text))
    raise(HTFAIL_TEXT_TOO_LONG, "Item " + item.name + " is too long for a text list");
  return list;
}

// ---- date-time text ------------------------------------------------------------------

std::string two(int v) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "%02d", v % 100);
  return buf;
}

struct Token {
  std::string_view text;
  bool number = false;
};

bool allDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

bool toInt(std::string_view s, int& out) {
  if (!allDigits(s) || s.size() > 9) return false;
  out = 0;
  for (char c : s) out = out * 10 + (c - '0');
  return true;
}

bool parseDatePart(std::string_view text, const HTINTERNATIONAL& intl, HTINT* parts) {
  const std::string sep = separator(intl.dateSeparator, "/");
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i <= text.size()) {
    size_t j = i;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
    fields.push_back(text.substr(i, j - i));
    if (j == text.size()) break;
    if (text.compare(j, sep.size(), sep) == 0) i = j + sep.size();
    else if (text[j] == '/' || text[j] == '-' || text[j] == '.') i = j + 1;
    else return false;
  }
  if (fields.size() != 3) return false;
  int a, b, c;
  if (!toInt(fields[0], a) || !toInt(fields[1], b) || !toInt(fields[2], c)) return false;
  int year, month, day;
  int yearDigits;
  if (fields[0].size() == 4 || intl.dateOrder == HTDATEORDER_YMD) {
    year = a, month = b, day = c, yearDigits = int(fields[0].size());
  } else if (intl.dateOrder == HTDATEORDER_DMY) {
    day = a, month = b, year = c, yearDigits = int(fields[2].size());
  } else {
    month = a, day = b, year = c, yearDigits = int(fields[2].size());
  }
  if (yearDigits <= 2) year += year < 50 ? 2000 : 1900;
  parts[HTDTUNIT_YEAR] = year;
  parts[HTDTUNIT_MONTH] = month;
  parts[HTDTUNIT_DAY] = day;
  return true;
}

bool parseTimePart(std::string_view text, std::string_view ampm, const HTINTERNATIONAL& intl, HTINT* parts) {
  const std::string sep = separator(intl.timeSeparator, ":");
  const char dec = decimalChar(intl);
  std::vector<std::string_view> fields;
  std::string_view fraction;
  size_t i = 0;
  while (true) {
    size_t j = i;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
    fields.push_back(text.substr(i, j - i));
    if (j == text.size()) break;
    if (text.compare(j, sep.size(), sep) == 0) {
      i = j + sep.size();
    } else if (text[j] == ':') {
      i = j + 1;
    } else if ((text[j] == '.' || text[j] == dec || text[j] == ',') && fields.size() == 3) {
      fraction = text.substr(j + 1);
      if (!allDigits(fraction)) return false;
      break;
    } else {
      return false;
    }
  }
  if (fields.size() < 2 || fields.size() > 3) return false;
  int h, m, s = 0;
  if (!toInt(fields[0], h) || !toInt(fields[1], m) || (fields.size() == 3 && !toInt(fields[2], s))) return false;
  int ms = 0;
  for (size_t k = 0; k < 3; ++k) ms = ms * 10 + (k < fraction.size() ? fraction[k] - '0' : 0);
  if (!ampm.empty()) {
    if (h < 1 || h > 12) return false;
    const bool pm = equalsNoCase(ampm, separator(intl.pmString, "PM")) || equalsNoCase(ampm, "PM");
    h = (h % 12) + (pm ? 12 : 0);
  }
  parts[HTDTUNIT_HOUR] = h;
  parts[HTDTUNIT_MINUTE] = m;
  parts[HTDTUNIT_SECOND] = s;
  parts[HTDTUNIT_HUNDREDTH] = ms;
  return true;
}

bool isAmPm(std::string_view word, const HTINTERNATIONAL& intl) {
  std::string am(intl.amString, strnlen(intl.amString, sizeof intl.amString));
  std::string pm(intl.pmString, strnlen(intl.pmString, sizeof intl.pmString));
  return equalsNoCase(word, "AM") || equalsNoCase(word, "PM") || (!am.empty() && equalsNoCase(word, am)) ||
         (!pm.empty() && equalsNoCase(word, pm));
}

}  // namespace

HTINTERNATIONAL international() { return config().international(); }

bool usesSettings(HTINT fromType, HTINT toType) {
  if (toType == 0 || toType == fromType || toType == HTTYPE_FORMULA) return false;
  const auto numeric = [](HTINT type) {
    return type == HTTYPE_NUMBER || type == HTTYPE_DATETIME || type == HTTYPE_NUMBER_LIST ||
           type == HTTYPE_DATETIME_LIST;
  };
  return numeric(fromType) || numeric(toType);
}

const char* typeName(HTINT type) {
  switch (type) {
    case 0: return "its own type";
    case HTTYPE_NUMBER: return "number";
    case HTTYPE_TEXT: return "text";
    case HTTYPE_DATETIME: return "date-time";
    case HTTYPE_TEXT_LIST: return "text list";
    case HTTYPE_NUMBER_LIST: return "number list";
    case HTTYPE_DATETIME_LIST: return "date-time list";
    case HTTYPE_COMPOSITE: return "rich text";
    case HTTYPE_FORMULA: return "formula";
    default: return "unknown type";
  }
}

std::string formatNumber(double value, const HTINTERNATIONAL& intl) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  std::string s = formula::numberText(value);
  const char dec = decimalChar(intl);
  for (char& c : s)
    if (c == '.') c = dec;
  return s;
}

bool parseNumber(std::string_view text, const HTINTERNATIONAL& intl, double& out) {
  text = trim(text);
  if (text.empty()) return false;
  const char dec = decimalChar(intl);
  const char thousands = intl.thousandsSeparator[0];
  std::string s;
  for (char c : text) {
    if (c == dec) s += '.';
    else if (thousands && c == thousands && thousands != dec) continue;
    else s += c;
  }
  if (!s.empty() && s[0] == '+') s.erase(0, 1);
  double v = 0;
  auto res = std::from_chars(s.data(), s.data() + s.size(), v);
  if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return false;
  out = v;
  return true;
}

std::string formatDateTime(const HTDATETIME& value, const HTINTERNATIONAL& intl) {
  const dt::Parts p = dt::toParts(value);
  std::string out;
  if (dt::hasDate(value)) {
    const std::string sep = separator(intl.dateSeparator, "/");
    char year[8];
    std::snprintf(year, sizeof year, "%04d", p[HTDTUNIT_YEAR]);
    const std::string d = two(p[HTDTUNIT_DAY]), m = two(p[HTDTUNIT_MONTH]);
    switch (intl.dateOrder) {
      case HTDATEORDER_DMY: out = d + sep + m + sep + year; break;
      case HTDATEORDER_YMD: out = year + sep + m + sep + d; break;
      default: out = m + sep + d + sep + year; break;
    }
  }
  if (dt::hasTime(value)) {
    if (!out.empty()) out += ' ';
    const std::string sep = separator(intl.timeSeparator, ":");
    int hour = p[HTDTUNIT_HOUR];
    const bool clock24 = intl.flags & HTINTL_24_HOUR;
    std::string suffix;
    if (!clock24) {
      suffix = hour < 12 ? separator(intl.amString, "AM") : separator(intl.pmString, "PM");
      hour = hour % 12 == 0 ? 12 : hour % 12;
    }
    out += two(hour) + sep + two(p[HTDTUNIT_MINUTE]) + sep + two(p[HTDTUNIT_SECOND]);
    if (p[HTDTUNIT_HUNDREDTH] > 0) {
      char ms[16];
      std::snprintf(ms, sizeof ms, "%c%03d", decimalChar(intl), p[HTDTUNIT_HUNDREDTH]);
      out += ms;
    }
    if (!suffix.empty()) out += " " + suffix;
  }
  return out;
}

bool parseDateTime(std::string_view text, const HTINTERNATIONAL& intl, HTDATETIME& out) {
  text = trim(text);
  if (text.empty()) return false;
  // Words separated by blanks (or an ISO 'T' between date and time).
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && text[i] == ' ') ++i;
    size_t j = i;
    while (j < text.size() && text[j] != ' ') ++j;
    if (j > i) words.push_back(text.substr(i, j - i));
    i = j;
  }
  if (words.size() == 1) {
    size_t t = words[0].find('T');
    if (t != std::string_view::npos && t > 0) words = {words[0].substr(0, t), words[0].substr(t + 1)};
  }
  HTINT parts[HTDATETIME_PART_COUNT] = {0, 0, 0, 0, -1, -1, -1, -1, 0};
  bool haveDate = false, haveTime = false;
  std::string_view timeWord, ampm;
  const std::string timeSep = separator(intl.timeSeparator, ":");
  for (std::string_view w : words) {
    if (isAmPm(w, intl)) {
      if (!ampm.empty()) return false;
      ampm = w;
    } else if (w.find(':') != std::string_view::npos || w.find(timeSep) != std::string_view::npos) {
      if (haveTime) return false;
      // "10:30PM": the marker may follow the digits directly.
      size_t k = w.size();
      while (k > 0 && std::isalpha(static_cast<unsigned char>(w[k - 1]))) --k;
      if (k < w.size()) {
        if (!isAmPm(w.substr(k), intl) || !ampm.empty()) return false;
        ampm = w.substr(k);
        w = w.substr(0, k);
      }
      timeWord = w;
      haveTime = true;
    } else {
      if (haveDate || !parseDatePart(w, intl, parts)) return false;
      haveDate = true;
    }
  }
  if (!ampm.empty() && !haveTime) return false;
  if (haveTime && !parseTimePart(timeWord, ampm, intl, parts)) return false;
  if (!haveDate && !haveTime) return false;
  return dt::fromParts(parts, out);
}

std::string renderText(const store::StoredItem& item, const HTINTERNATIONAL& intl) {
  switch (item.type) {
    case HTTYPE_TEXT:
    case HTTYPE_FORMULA:
      return std::string(item.value.begin(), item.value.end());
    case HTTYPE_NUMBER: {
      double d;
      if (!codec::decodeNumber(item.value, d)) malformed(item);
      return formatNumber(d, intl);
    }
    case HTTYPE_DATETIME: {
      HTDATETIME d;
      if (!codec::decodeDateTime(item.value, d)) malformed(item);
      return formatDateTime(d, intl);
    }
    case HTTYPE_TEXT_LIST:
    case HTTYPE_NUMBER_LIST:
    case HTTYPE_DATETIME_LIST: {
      std::string out;
      bool first = true;
      for (const std::string& e : entriesOf(item, intl)) {
        if (!first) out += kListSeparator;
        out += e;
        first = false;
      }
      return out;
    }
    case HTTYPE_COMPOSITE: {
      Composite c;
      if (!Composite::decode(item.value, c)) malformed(item);
      return c.plainText();
    }
    default:
      mismatch(item, HTTYPE_TEXT);
  }
}

// Whether a value in its own form is whole. Callers read it by its type's layout (8 bytes
// for a number, a list by its counts and lengths), so a damaged one must not reach them.
bool wellFormed(const store::StoredItem& item) {
  std::vector<std::string> texts;
  std::vector<double> numbers;
  std::vector<HTDATETIME> dates;
  switch (item.type) {
    case HTTYPE_NUMBER:
    case HTTYPE_DATETIME: return item.value.size() == 8;
    case HTTYPE_TEXT_LIST: return codec::decodeTextList(item.value, texts);
    case HTTYPE_NUMBER_LIST: return codec::decodeNumberList(item.value, numbers);
    case HTTYPE_DATETIME_LIST: return codec::decodeDateTimeList(item.value, dates);
    default: return true;
  }
}

store::Blob convert(const store::StoredItem& item, HTINT toType, const HTINTERNATIONAL& intl) {
  if (toType == 0 || toType == item.type) {
    if (!wellFormed(item)) malformed(item);
    return item.value;
  }
  switch (toType) {
    case HTTYPE_TEXT:
      return codec::encodeText(renderText(item, intl));
    case HTTYPE_FORMULA:
      if (item.type != HTTYPE_TEXT) mismatch(item, toType);
      return item.value;
    case HTTYPE_NUMBER: {
      auto v = numbersOf(item, intl, toType);
      if (v.empty()) mismatch(item, toType, "the list is empty");
      return codec::encodeNumber(v.front());
    }
    case HTTYPE_DATETIME: {
      auto v = datesOf(item, intl, toType);
      if (v.empty()) mismatch(item, toType, "the list is empty");
      return codec::encodeDateTime(v.front());
    }
    case HTTYPE_TEXT_LIST:
      if (item.type == HTTYPE_TEXT || item.type == HTTYPE_FORMULA) return textAsList(item);
      return codec::encodeTextList(entriesOf(item, intl));
    case HTTYPE_NUMBER_LIST:
      return codec::encodeNumberList(numbersOf(item, intl, toType));
    case HTTYPE_DATETIME_LIST:
      return codec::encodeDateTimeList(datesOf(item, intl, toType));
    case HTTYPE_COMPOSITE:
      return Composite::fromPlainText(renderText(item, intl)).encode();
    default:
      raise(HTFAIL_INVALID_ARGUMENT, "Unknown value type " + std::to_string(toType));
  }
}

bool isTextList(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  if (size < 4) return false;
  const uint32_t count = readU32(p);
  size_t pos = 4;
  for (uint32_t i = 0; i < count; ++i) {
    if (size - pos < 4) return false;
    const uint32_t length = readU32(p + pos);
    pos += 4;
    if (size - pos < size_t(length) + 1 || p[pos + length] != 0) return false;
    pos += size_t(length) + 1;
  }
  return pos == size;
}

bool appendTextListEntry(store::Blob& list, std::string_view entry) {
  if (!isTextList(list.data(), list.size())) return false;
  const uint32_t count = readU32(list.data());
  if (count == UINT32_MAX || entry.size() > UINT32_MAX) return false;
  const size_t at = list.size();
  list.resize(at + 4 + entry.size() + 1);
  writeU32(list.data() + at, uint32_t(entry.size()));
  if (!entry.empty()) std::memcpy(list.data() + at + 4, entry.data(), entry.size());
  list.back() = 0;
  writeU32(list.data(), count + 1);
  return true;
}

store::Blob convert(const store::StoredItem& item, HTINT toType) {
  if (!usesSettings(item.type, toType)) return convert(item, toType, HTINTERNATIONAL{});
  return convert(item, toType, international());
}

store::StoredItem fromCaller(std::string_view name, HTINT valueType, const void* value, size_t length) {
  store::StoredItem item{std::string(name), valueType, 0, {}};
  if (value == nullptr) {
    if (valueType == HTTYPE_TEXT || valueType == HTTYPE_FORMULA) return item;  // null text is ""
    raise(HTFAIL_INVALID_ARGUMENT, "No value given for item " + item.name);
  }
  const auto* bytes = static_cast<const uint8_t*>(value);
  auto fixed = [&](size_t size) {
    if (length != 0 && length < size)
      raise(HTFAIL_INVALID_ARGUMENT, "A " + std::string(typeName(valueType)) + " value needs " + std::to_string(size) +
                                         " bytes; " + std::to_string(length) + " given for item " + item.name);
    item.value.assign(bytes, bytes + size);
  };
  switch (valueType) {
    case HTTYPE_TEXT:
    case HTTYPE_FORMULA: {
      const char* text = static_cast<const char*>(value);
      const size_t n = length == 0 ? std::strlen(text) : strnlen(text, length);
      item.value.assign(bytes, bytes + n);
      return item;
    }
    case HTTYPE_NUMBER:
    case HTTYPE_DATETIME:
      fixed(8);
      if (valueType == HTTYPE_DATETIME) {
        HTDATETIME d;
        codec::decodeDateTime(item.value, d);
        const int64_t days = int64_t(d.hi) - dt::kDayBias;
        if ((dt::hasTime(d) && d.lo >= uint32_t(dt::kMsPerDay)) ||
            (dt::hasDate(d) && (days < kFirstDay || days > kLastDay)))
          raise(HTFAIL_INVALID_ARGUMENT, "Malformed date-time value for item " + item.name);
      }
      return item;
    case HTTYPE_TEXT_LIST: {
      size_t size = length;
      if (size == 0) {  // text-list data as HTItemGetPointer hands it out: walk it
        const uint32_t count = codec::textListCount(value);
        size = 4;
        for (uint32_t i = 0; i < count; ++i) {
          const char* t;
          uint32_t len;
          codec::textListEntry(value, i, t, len);
          size += 4 + size_t(len) + 1;
        }
      }
      item.value.assign(bytes, bytes + size);
      if (!isTextList(item.value.data(), item.value.size()))
        raise(HTFAIL_INVALID_ARGUMENT, "Malformed text-list value for item " + item.name);
      return item;
    }
    case HTTYPE_NUMBER_LIST:
    case HTTYPE_DATETIME_LIST:
    case HTTYPE_COMPOSITE: {
      if (length == 0) raise(HTFAIL_INVALID_ARGUMENT, "A " + std::string(typeName(valueType)) + " value needs its length");
      item.value.assign(bytes, bytes + length);
      bool ok = false;
      if (valueType == HTTYPE_COMPOSITE) {
        Composite c;
        ok = Composite::decode(item.value, c);
      } else if (valueType == HTTYPE_NUMBER_LIST) {
        std::vector<double> v;
        ok = codec::decodeNumberList(item.value, v);
      } else {
        std::vector<HTDATETIME> v;
        ok = codec::decodeDateTimeList(item.value, v);
      }
      if (!ok) raise(HTFAIL_INVALID_ARGUMENT, "Malformed " + std::string(typeName(valueType)) + " value for item " + item.name);
      return item;
    }
    default:
      raise(HTFAIL_INVALID_ARGUMENT, "Unknown value type " + std::to_string(valueType) + " for item " + item.name);
  }
}

}  // namespace quire::engine::doc
