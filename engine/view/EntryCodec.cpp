#include "engine/view/EntryCodec.h"

#include <bit>
#include <charconv>
#include <cstring>

#include "engine/core/Engine.h"
#include "engine/formula/Collation.h"
#include "engine/formula/NumberText.h"

namespace quire::engine::view {
namespace {

// Bytes are gathered in a local array and appended at once: a build writes several per entry
// and a push_back each cost more than the values' conversion.
void putBigEndian(std::string& out, uint64_t value, int bytes) {
  char buffer[8];
  for (int i = 0; i < bytes; ++i) buffer[i] = char(uint8_t(value >> (8 * (bytes - 1 - i))));
  out.append(buffer, size_t(bytes));
}

void invertFrom(std::string& key, size_t start, bool descending) {
  if (!descending) return;
  for (size_t i = start; i < key.size(); ++i) key[i] = char(~uint8_t(key[i]));
}

void putVarint(std::string& out, uint64_t value) {
  while (value >= 0x80) {
    out.push_back(char(uint8_t(value) | 0x80));
    value >>= 7;
  }
  out.push_back(char(uint8_t(value)));
}

void putLittle(std::string& out, uint64_t value, int bytes) {
  char buffer[8];
  for (int i = 0; i < bytes; ++i) buffer[i] = char(uint8_t(value >> (8 * i)));
  out.append(buffer, size_t(bytes));
}

// A bounded reader over a cells blob: every read checks the remaining length.
class Reader {
 public:
  explicit Reader(std::string_view data) : data_(data) {}
  bool varint(uint64_t& out) {
    out = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (pos_ >= data_.size()) return false;
      const uint8_t b = uint8_t(data_[pos_++]);
      out |= uint64_t(b & 0x7F) << shift;
      if (!(b & 0x80)) return true;
    }
    return false;
  }
  bool little(uint64_t& out, int bytes) {
    if (data_.size() - pos_ < size_t(bytes)) return false;
    out = 0;
    for (int i = 0; i < bytes; ++i) out |= uint64_t(uint8_t(data_[pos_ + size_t(i)])) << (8 * i);
    pos_ += size_t(bytes);
    return true;
  }
  bool bytes(size_t n, std::string_view& out) {
    if (data_.size() - pos_ < n) return false;
    out = data_.substr(pos_, n);
    pos_ += n;
    return true;
  }
  size_t position() const { return pos_; }
  bool byte(uint8_t& out) {
    if (pos_ >= data_.size()) return false;
    out = uint8_t(data_[pos_++]);
    return true;
  }

 private:
  std::string_view data_;
  size_t pos_ = 0;
};

// Reads one column value; false on a malformed blob.
bool readValue(Reader& r, formula::Value& out, bool keep) {
  uint8_t type = 0;
  uint64_t count = 0;
  if (!r.byte(type) || !r.varint(count) || count > (uint64_t(1) << 32)) return false;
  switch (type) {
    case 0: {
      formula::Value::TextList list;
      for (uint64_t i = 0; i < count; ++i) {
        uint64_t len = 0;
        std::string_view text;
        if (!r.varint(len) || !r.bytes(size_t(len), text)) return false;
        if (keep) list.emplace_back(text);
      }
      if (keep) out = formula::Value(std::move(list));
      return true;
    }
    case 1: {
      formula::Value::NumberList list;
      for (uint64_t i = 0; i < count; ++i) {
        uint64_t bits = 0;
        if (!r.little(bits, 8)) return false;
        if (keep) list.push_back(std::bit_cast<double>(bits));
      }
      if (keep) out = formula::Value(std::move(list));
      return true;
    }
    case 2: {
      formula::Value::DateTimeList list;
      for (uint64_t i = 0; i < count; ++i) {
        uint64_t date = 0, ms = 0;
        if (!r.little(date, 4) || !r.little(ms, 4)) return false;
        if (keep) list.push_back(formula::DateTime{int32_t(uint32_t(date)), int32_t(uint32_t(ms))});
      }
      if (keep) out = formula::Value(std::move(list));
      return true;
    }
    default:
      return false;
  }
}

std::string twoDigits(int value) {
  std::string s = std::to_string(value);
  return s.size() < 2 ? "0" + s : s;
}

}  // namespace

void appendNumberKey(std::string& key, double number, bool descending) {
  if (number == 0) number = 0;  // -0 and +0 are one key
  uint64_t bits = std::bit_cast<uint64_t>(number);
  bits = (bits >> 63) ? ~bits : bits | (uint64_t(1) << 63);
  char buffer[9];
  buffer[0] = char(kTagNumber);
  for (int i = 0; i < 8; ++i) buffer[1 + i] = char(uint8_t(bits >> (8 * (7 - i))));
  if (descending)
    for (char& c : buffer) c = char(~uint8_t(c));
  key.append(buffer, sizeof buffer);
}

void appendDateTimeKey(std::string& key, const formula::DateTime& dt, bool descending) {
  const size_t start = key.size();
  key.push_back(char(kTagDateTime));
  putBigEndian(key, uint32_t(dt.date) ^ 0x80000000u, 4);
  putBigEndian(key, uint32_t(dt.ms) ^ 0x80000000u, 4);
  invertFrom(key, start, descending);
}

void appendTextKey(std::string& key, std::string_view text, bool descending) {
  const size_t start = key.size();
  key.push_back(char(kTagText));
  formula::appendCollationKey(key, text);
  key.push_back('\0');
  invertFrom(key, start, descending);
}

std::string textPrefixKey(std::string_view prefix, bool descending) {
  std::string key(1, char(kTagText));
  const std::string collation = formula::collationKey(prefix);
  key += collation.substr(0, collation.find('\x01'));
  invertFrom(key, 0, descending);
  return key;
}

void appendKey(std::string& key, const formula::Value& value, size_t index, bool descending) {
  switch (value.type()) {
    case formula::ValueType::Number:
      appendNumberKey(key, value.numbers().at(index), descending);
      break;
    case formula::ValueType::DateTime:
      appendDateTimeKey(key, value.dateTimes().at(index), descending);
      break;
    case formula::ValueType::Text:
      appendTextKey(key, value.texts().at(index), descending);
      break;
  }
}

size_t componentLength(std::string_view key) {
  if (key.empty()) return 0;
  const uint8_t tag = uint8_t(key[0]);
  const bool descending = tag > 0x7F;
  switch (descending ? uint8_t(~tag) : tag) {
    case kTagNumber:
    case kTagDateTime:
      return key.size() >= 9 ? 9 : 0;
    case kTagText: {
      const char end = descending ? char(0xFF) : '\0';
      const size_t pos = key.find(end, 1);
      return pos == std::string_view::npos ? 0 : pos + 1;
    }
    default:
      return 0;
  }
}

std::vector<std::string_view> splitKey(std::string_view key) {
  std::vector<std::string_view> parts;
  splitKey(key, parts);
  return parts;
}

void splitKey(std::string_view key, std::vector<std::string_view>& parts) {
  parts.clear();
  while (!key.empty()) {
    const size_t n = componentLength(key);
    if (n == 0) break;
    parts.push_back(key.substr(0, n));
    key.remove_prefix(n);
  }
}

void appendCell(std::string& out, const formula::Value& v) {
  switch (v.type()) {
    case formula::ValueType::Text:
      out.push_back('\0');
      putVarint(out, v.texts().size());
      for (const std::string& t : v.texts()) {
        putVarint(out, t.size());
        out += t;
      }
      break;
    case formula::ValueType::Number:
      out.push_back('\1');
      putVarint(out, v.numbers().size());
      for (double d : v.numbers()) putLittle(out, std::bit_cast<uint64_t>(d), 8);
      break;
    case formula::ValueType::DateTime:
      out.push_back('\2');
      putVarint(out, v.dateTimes().size());
      for (const auto& dt : v.dateTimes()) {
        putLittle(out, uint32_t(dt.date), 4);
        putLittle(out, uint32_t(dt.ms), 4);
      }
      break;
  }
}

void appendTextCell(std::string& out, std::string_view text) {
  char head[12] = {'\0', '\1'};
  size_t n = 2;
  for (uint64_t v = text.size();; v >>= 7) {  // the varint length
    head[n++] = char(uint8_t(v & 0x7F) | (v >= 0x80 ? 0x80 : 0));
    if (v < 0x80) break;
  }
  out.append(head, n);
  out += text;
}

void appendNumberCell(std::string& out, double number) {
  const uint64_t bits = std::bit_cast<uint64_t>(number);
  char buffer[10] = {'\1', '\1'};
  for (int i = 0; i < 8; ++i) buffer[2 + i] = char(uint8_t(bits >> (8 * i)));
  out.append(buffer, sizeof buffer);
}

void appendCellElement(std::string& out, const formula::Value& v, size_t index) {
  switch (v.type()) {
    case formula::ValueType::Text:
      appendTextCell(out, v.texts().at(index));
      break;
    case formula::ValueType::Number:
      appendNumberCell(out, v.numbers().at(index));
      break;
    case formula::ValueType::DateTime: {
      const auto& dt = v.dateTimes().at(index);
      out.push_back('\2');
      putVarint(out, 1);
      putLittle(out, uint32_t(dt.date), 4);
      putLittle(out, uint32_t(dt.ms), 4);
      break;
    }
  }
}

std::string encodeCells(const std::vector<formula::Value>& values) {
  std::string out;
  for (const formula::Value& v : values) appendCell(out, v);
  return out;
}

formula::Value decodeCell(std::string_view cells, size_t column) {
  Reader r(cells);
  formula::Value v;
  for (size_t i = 0; i < column; ++i)
    if (!readValue(r, v, false)) return formula::Value();
  if (!readValue(r, v, true)) return formula::Value();
  return v;
}

bool findCell(std::string_view cells, size_t column, CellRef& out) {
  for (size_t i = 0; i < column; ++i)
    if (!nextCell(cells, out)) return false;
  return nextCell(cells, out);
}

bool nextCell(std::string_view& cells, CellRef& out) {
  Reader r(cells);
  uint8_t type = 0;
  uint64_t count = 0;
  if (!r.byte(type) || !r.varint(count) || count > (uint64_t(1) << 32)) return false;
  const size_t bodyStart = r.position();
  std::string_view ignored;
  switch (type) {
    case 0:
      for (uint64_t i = 0; i < count; ++i) {
        uint64_t len = 0;
        if (!r.varint(len) || !r.bytes(size_t(len), ignored)) return false;
      }
      break;
    case 1:
    case 2:  // numbers and date-times are 8 bytes each
      if (!r.bytes(size_t(count) * 8, ignored)) return false;
      break;
    default:
      return false;
  }
  out.type = type;
  out.count = size_t(count);
  out.body = cells.substr(bodyStart, r.position() - bodyStart);
  cells.remove_prefix(r.position());
  return true;
}

bool appendCellText(std::string& out, const CellRef& cell) {
  Reader r(cell.body);
  for (size_t i = 0; i < cell.count; ++i) {
    if (i) out += ", ";
    switch (cell.type) {
      case 0: {
        uint64_t len = 0;
        std::string_view text;
        if (!r.varint(len) || !r.bytes(size_t(len), text)) return false;
        out += text;
        break;
      }
      case 1: {
        uint64_t bits = 0;
        if (!r.little(bits, 8)) return false;
        out += renderNumber(std::bit_cast<double>(bits));
        break;
      }
      case 2: {
        uint64_t date = 0, ms = 0;
        if (!r.little(date, 4) || !r.little(ms, 4)) return false;
        out += renderDateTime(formula::DateTime{int32_t(uint32_t(date)), int32_t(uint32_t(ms))});
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

bool cellFirstText(const CellRef& cell, std::string_view& out) {
  Reader r(cell.body);
  uint64_t len = 0;
  return cell.type == 0 && cell.count > 0 && r.varint(len) && r.bytes(size_t(len), out);
}

double cellNumber(const CellRef& cell) {
  Reader r(cell.body);
  uint64_t bits = 0;
  return cell.type == 1 && r.little(bits, 8) ? std::bit_cast<double>(bits) : 0;
}

formula::DateTime cellDateTime(const CellRef& cell) {
  Reader r(cell.body);
  uint64_t date = 0, ms = 0;
  if (cell.type != 2 || !r.little(date, 4) || !r.little(ms, 4)) return formula::DateTime{};
  return formula::DateTime{int32_t(uint32_t(date)), int32_t(uint32_t(ms))};
}

double cellNumberSum(std::string_view cells, size_t column) {
  CellRef cell;
  if (!findCell(cells, column, cell) || cell.type != 1) return 0;
  Reader r(cell.body);
  double sum = 0;
  for (size_t i = 0; i < cell.count; ++i) {
    uint64_t bits = 0;
    if (!r.little(bits, 8)) return 0;
    sum += std::bit_cast<double>(bits);
  }
  return sum;
}

std::string renderNumber(double number) { return formula::numberText(number); }

std::string renderDateTime(const formula::DateTime& dt) {
  HTINTERNATIONAL intl{};
  try {
    intl = config().international();
  } catch (...) {
    intl.dateOrder = HTDATEORDER_MDY;
  }
  const std::string dateSep = intl.dateSeparator[0] ? std::string(intl.dateSeparator, strnlen(intl.dateSeparator, 4)) : "/";
  const std::string timeSep = intl.timeSeparator[0] ? std::string(intl.timeSeparator, strnlen(intl.timeSeparator, 4)) : ":";
  const formula::CivilDateTime c = dt.toCivil();
  std::string out;
  if (dt.hasDate()) {
    const std::string y = std::to_string(c.year), m = twoDigits(c.month), d = twoDigits(c.day);
    switch (intl.dateOrder) {
      case HTDATEORDER_DMY: out = d + dateSep + m + dateSep + y; break;
      case HTDATEORDER_YMD: out = y + dateSep + m + dateSep + d; break;
      default: out = m + dateSep + d + dateSep + y; break;
    }
  }
  if (dt.hasTime()) {
    if (!out.empty()) out += ' ';
    if (intl.flags & HTINTL_24_HOUR) {
      out += twoDigits(c.hour) + timeSep + twoDigits(c.minute) + timeSep + twoDigits(c.second);
    } else {
      const int hour12 = c.hour % 12 == 0 ? 12 : c.hour % 12;
      const char* suffix = c.hour < 12 ? intl.amString : intl.pmString;
      const std::string mark(suffix, strnlen(suffix, 8));
      out += twoDigits(hour12) + timeSep + twoDigits(c.minute) + timeSep + twoDigits(c.second);
      out += ' ' + (mark.empty() ? std::string(c.hour < 12 ? "AM" : "PM") : mark);
    }
  }
  return out;
}

std::string renderValue(const formula::Value& value) {
  std::string out;
  const size_t n = value.size();
  for (size_t i = 0; i < n; ++i) {
    if (i) out += ", ";
    switch (value.type()) {
      case formula::ValueType::Text: out += value.texts()[i]; break;
      case formula::ValueType::Number: out += renderNumber(value.numbers()[i]); break;
      case formula::ValueType::DateTime: out += renderDateTime(value.dateTimes()[i]); break;
    }
  }
  return out;
}

}  // namespace quire::engine::view
