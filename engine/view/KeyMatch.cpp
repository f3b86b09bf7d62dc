#include "engine/view/KeyMatch.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

#include "engine/core/DateTime.h"
#include "engine/core/Engine.h"
#include "engine/core/Status.h"
#include "engine/core/Text.h"
#include "engine/formula/Collation.h"
#include "engine/view/EntryCodec.h"

namespace quire::engine::view {
namespace {

// A text key that could be a number, a date or a text in a column of mixed values is tried
// each way; this bounds the combinations over several such keys.
constexpr size_t kMaxCombinations = 64;

size_t codePoints(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

std::string_view firstCodePoints(std::string_view s, size_t n) {
  size_t seen = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((uint8_t(s[i]) & 0xC0) != 0x80) {
      if (seen == n) return s.substr(0, i);
      ++seen;
    }
  }
  return s;
}

bool readInt(std::string_view text, int& out) {
  if (text.empty() || text.size() > 9) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

// Splits at any character of `separators`.
std::vector<std::string_view> splitAny(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || separators.find(text[i]) != std::string_view::npos) {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return parts;
}

bool parseTime(std::string_view text, int& hour, int& minute, int& second) {
  std::string_view t = trim(text);
  int pmShift = -1;  // -1: 24-hour clock
  auto endsWithNoCase = [&](std::string_view suffix) {
    return t.size() >= suffix.size() && equalsNoCase(t.substr(t.size() - suffix.size()), suffix);
  };
  if (endsWithNoCase("AM")) pmShift = 0;
  else if (endsWithNoCase("PM")) pmShift = 12;
  if (pmShift >= 0) t = trim(t.substr(0, t.size() - 2));
  const auto parts = splitAny(t, ":");
  if (parts.size() < 2 || parts.size() > 3) return false;
  second = 0;
  if (!readInt(parts[0], hour) || !readInt(parts[1], minute)) return false;
  if (parts.size() == 3 && !readInt(parts[2], second)) return false;
  if (pmShift >= 0) {
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + pmShift;
  }
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

}  // namespace

HTSTATUS readKey(const HTKEYDESC& key, KeyValue& out) {
  out.type = key.type;
  switch (key.type) {
    case HTTYPE_TEXT:
      out.text = key.value ? static_cast<const char*>(key.value) : "";
      return HTSUCCESS;
    case HTTYPE_NUMBER:
      if (!key.value) return fail(HTFAIL_INVALID_ARGUMENT, "A number key needs a value");
      std::memcpy(&out.number, key.value, sizeof out.number);
      return HTSUCCESS;
    case HTTYPE_DATETIME: {
      if (!key.value) return fail(HTFAIL_INVALID_ARGUMENT, "A date-time key needs a value");
      HTDATETIME v;
      std::memcpy(&v, key.value, sizeof v);
      dt::toSerial(v, out.dateTime.date, out.dateTime.ms);
      return HTSUCCESS;
    }
    default:
      return fail(HTFAIL_INVALID_ARGUMENT, "A key value of type " + std::to_string(key.type) +
                                               " cannot be searched; give a text, number or date-time");
  }
}

bool parseNumber(std::string_view text, double& out) {
  std::string_view t = trim(text);
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  if (t.empty()) return false;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
  return ec == std::errc() && end == t.data() + t.size();
}

bool parseDateTime(std::string_view text, formula::DateTime& out) {
  const std::string_view t = trim(text);
  const size_t space = t.find(' ');
  const std::string_view datePart = t.substr(0, space);
  HTINTERNATIONAL intl{};
  try {
    intl = config().international();
  } catch (const Error&) {
    intl.dateOrder = HTDATEORDER_MDY;
  }
  std::string separators = "/-.";
  separators += std::string(intl.dateSeparator, strnlen(intl.dateSeparator, sizeof intl.dateSeparator));
  const auto parts = splitAny(datePart, separators);
  if (parts.size() != 3) return false;
  int a = 0, b = 0, c = 0;
  if (!readInt(parts[0], a) || !readInt(parts[1], b) || !readInt(parts[2], c)) return false;
  int year = 0, month = 0, day = 0;
  if (parts[0].size() == 4 || intl.dateOrder == HTDATEORDER_YMD) {
    year = a, month = b, day = c;
  } else if (intl.dateOrder == HTDATEORDER_DMY) {
    day = a, month = b, year = c;
  } else {
    month = a, day = b, year = c;
  }
  if (parts[0].size() != 4 && parts[2].size() <= 2 && intl.dateOrder != HTDATEORDER_YMD) year += year < 50 ? 2000 : 1900;
  formula::CivilDateTime civil;
  civil.year = year;
  civil.month = month;
  civil.day = day;
  if (space == std::string_view::npos) return formula::DateTime::dateOnly(year, month, day, out);
  if (!parseTime(t.substr(space + 1), civil.hour, civil.minute, civil.second)) return false;
  return formula::DateTime::fromCivil(civil, out);
}

KeyMatcher::KeyMatcher(const ViewSnapshot& snapshot, const std::vector<KeyValue>& keys, bool partial)
    : snap_(snapshot) {
  const CompiledDesign& d = snapshot.design();
  std::vector<std::vector<Part>> options;
  for (size_t k = 0; k < keys.size() && k < d.keyColumns.size(); ++k) {
    const size_t column = d.keyColumns[k];
    const bool descending = d.columns[column].design.descending();
    const uint8_t types = snapshot.keyTypes(k) ? snapshot.keyTypes(k) : 0x7;
    const KeyValue& key = keys[k];
    std::vector<Part> choices;
    auto add = [&](std::string bytes, bool isPartial, std::string text) {
      choices.push_back(Part{std::move(bytes), isPartial, std::move(text), column});
    };
    if (key.type == HTTYPE_NUMBER) {
      std::string b;
      appendNumberKey(b, key.number, descending);
      add(std::move(b), false, {});
    } else if (key.type == HTTYPE_DATETIME) {
      std::string b;
      appendDateTimeKey(b, key.dateTime, descending);
      add(std::move(b), false, {});
    } else {
      double number = 0;
      formula::DateTime dt;
      if ((types & 1) && parseNumber(key.text, number)) {
        std::string b;
        appendNumberKey(b, number, descending);
        add(std::move(b), false, {});
      }
      if ((types & 2) && parseDateTime(key.text, dt)) {
        std::string b;
        appendDateTimeKey(b, dt, descending);
        add(std::move(b), false, {});
      }
      if ((types & 4) || choices.empty()) {
        if (partial) {
          add(textPrefixKey(key.text, descending), true, key.text);
        } else {
          std::string b;
          appendTextKey(b, key.text, descending);
          add(std::move(b), false, {});
        }
      }
    }
    options.push_back(std::move(choices));
  }
  // Every combination of the keys' readings, up to the bound.
  combinations_.push_back({});
  for (const auto& choices : options) {
    std::vector<std::vector<Part>> next;
    for (const auto& prefix : combinations_) {
      for (const Part& p : choices) {
        if (next.size() >= kMaxCombinations) break;
        auto combo = prefix;
        combo.push_back(p);
        next.push_back(std::move(combo));
      }
    }
    combinations_ = std::move(next);
  }
}

bool KeyMatcher::leadingText(uint32_t row, size_t column, const std::string& prefix) const {
  const formula::Value value = snap_.cellValue(row, column);
  if (!value.isText()) return false;
  const std::string_view text = value.texts()[0];
  return formula::equalText(firstCodePoints(text, codePoints(prefix)), prefix);
}

void KeyMatcher::matchCombination(const std::vector<Part>& parts,
                                  const std::function<void(size_t, uint32_t)>& visit) const {
  std::string prefix;
  size_t firstPartial = parts.size();
  for (size_t i = 0; i < parts.size(); ++i) {
    prefix += parts[i].bytes;
    if (parts[i].partial) {
      firstPartial = i;
      break;
    }
  }
  const uint32_t mains = snap_.mainCount();
  for (uint32_t i = snap_.mainLowerBound(prefix); i < mains; ++i) {
    const uint32_t row = snap_.mainRow(i);
    const std::string_view key = snap_.key(row);
    if (key.substr(0, prefix.size()) != prefix) break;
    bool ok = true;
    if (firstPartial < parts.size()) {
      const auto components = splitKey(key);
      for (size_t i = firstPartial; ok && i < parts.size(); ++i) {
        if (i >= components.size()) {
          ok = false;
        } else if (parts[i].partial) {
          ok = components[i].substr(0, parts[i].bytes.size()) == parts[i].bytes &&
               leadingText(row, parts[i].column, parts[i].text);
        } else {
          ok = components[i] == parts[i].bytes;
        }
      }
    }
    if (ok) visit(size_t(i), row);
  }
}

void KeyMatcher::forEachMatch(const std::function<void(size_t, uint32_t)>& visit) const {
  for (const auto& parts : combinations_) matchCombination(parts, visit);
}

}  // namespace quire::engine::view
