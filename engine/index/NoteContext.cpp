#include "engine/index/NoteContext.h"

#include <charconv>
#include <cstring>
#include <utility>

#include "engine/core/DateTime.h"
#include "engine/core/Text.h"
#include "engine/db/Session.h"
#include "engine/index/ReadAccess.h"
#include "engine/doc/Composite.h"
#include "engine/store/ItemCodec.h"
#include "engine/formula/NumberText.h"

namespace quire::engine::index {
namespace {

using formula::Value;

bool isAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// Item names compare without regard to case; most are ASCII, which needs no folding.
bool sameName(std::string_view a, std::string_view b) {
  if (isAscii(a) && isAscii(b)) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
  }
  return equalsNoCase(a, b);
}

uint32_t u32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

double f64(const uint8_t* p) {
  uint64_t bits = uint64_t(u32(p)) | uint64_t(u32(p + 4)) << 32;
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

formula::DateTime dateTimeAt(const uint8_t* p) {
  HTDATETIME v{u32(p), u32(p + 4)};
  int32_t days = 0, ms = 0;
  dt::toSerial(v, days, ms);
  return formula::DateTime{days, ms};
}

}  // namespace

NoteContext::NoteContext() : userName_(db::userName()) {}
NoteContext::~NoteContext() = default;

void NoteContext::bind(const store::NoteHeader& header, const std::vector<store::StoredItem>& items) {
  header_ = &header;
  items_ = &items;
  covered_ = nullptr;
  source_ = nullptr;
  conn_ = nullptr;
  loaded_.clear();
  allLoaded_ = false;
  assignments_.clear();
}

void NoteContext::bindStored(store::Connection& conn, const store::NoteHeader& header) {
  header_ = &header;
  items_ = nullptr;
  covered_ = nullptr;
  source_ = nullptr;
  conn_ = &conn;
  loaded_.clear();
  allLoaded_ = false;
  assignments_.clear();
}

void NoteContext::bindPartial(store::Connection& conn, const store::NoteHeader& header,
                              const std::vector<store::StoredItem>& items, const std::vector<std::string>& covered) {
  bindStored(conn, header);
  items_ = &items;
  covered_ = &covered;
}

void NoteContext::bindSource(store::Connection& conn, const store::NoteHeader& header, FieldSource& source) {
  bindStored(conn, header);
  source_ = &source;
}

void NoteContext::unbind() {
  header_ = nullptr;
  items_ = nullptr;
  covered_ = nullptr;
  source_ = nullptr;
  conn_ = nullptr;
  loaded_.clear();
  allLoaded_ = false;
  assignments_.clear();
}

const store::StoredItem* NoteContext::findItem(std::string_view name) {
  if (items_ != nullptr) {
    for (const auto& item : *items_)
      if (sameName(item.name, name)) return &item;
    if (covered_ == nullptr) return nullptr;
    const std::string folded = foldName(name);
    for (const auto& c : *covered_)
      if (c == folded) return nullptr;
  }
  if (conn_ == nullptr || header_ == nullptr) return nullptr;
  // A note's items are one record: read it whole on the first reference and answer every
  // later one from memory (pointers into loaded_ stay valid until the next bind).
  if (!allLoaded_) {
    loaded_ = store::readItems(*conn_, header_->id);
    allLoaded_ = true;
  }
  for (const auto& item : loaded_)
    if (sameName(item.name, name)) return &item;
  return nullptr;
}

const NoteContext::Assignment* NoteContext::findAssignment(std::string_view name) const {
  for (const auto& a : assignments_)
    if (sameName(a.name, name)) return &a;
  return nullptr;
}

bool NoteContext::decode(HTINT type, const void* data, size_t size, Value& out) {
  const auto* p = static_cast<const uint8_t*>(data);
  switch (type) {
    case HTTYPE_TEXT:
    case HTTYPE_FORMULA:
      out = Value(std::string(reinterpret_cast<const char*>(p), size));
      return true;
    case HTTYPE_NUMBER:
      if (size != 8) return false;
      out = Value(f64(p));
      return true;
    case HTTYPE_DATETIME:
      if (size != 8) return false;
      out = Value(dateTimeAt(p));
      return true;
    case HTTYPE_TEXT_LIST: {
      std::vector<std::string> entries;
      if (!store::codec::decodeTextList(p, size, entries)) return false;
      out = Value(std::move(entries));
      return true;
    }
    case HTTYPE_NUMBER_LIST:
    case HTTYPE_DATETIME_LIST: {
      if (size < 4) return false;
      const uint32_t n = u32(p);
      if ((size - 4) / 8 < n || size != 4 + size_t(n) * 8) return false;
      if (type == HTTYPE_NUMBER_LIST) {
        Value::NumberList list(n);
        for (uint32_t i = 0; i < n; ++i) list[i] = f64(p + 4 + size_t(i) * 8);
        out = Value(std::move(list));
      } else {
        Value::DateTimeList list(n);
        for (uint32_t i = 0; i < n; ++i) list[i] = dateTimeAt(p + 4 + size_t(i) * 8);
        out = Value(std::move(list));
      }
      return true;
    }
    case HTTYPE_COMPOSITE: {
      std::string text;
      if (!compositePlainText(p, size, text)) return false;
      out = Value(std::move(text));
      return true;
    }
    default:
      return false;
  }
}

bool NoteContext::decode(const store::StoredItem& item, Value& out) {
  if (item.flags & kItemEncrypted) return false;
  return decode(item.type, item.value.data(), item.value.size(), out);
}

store::StoredItem NoteContext::encode(std::string_view name, const Value& value) {
  store::StoredItem item;
  item.name = std::string(name);
  switch (value.type()) {
    case formula::ValueType::Text:
      if (value.size() == 1) {
        item.type = HTTYPE_TEXT;
        item.value = store::codec::encodeText(value.texts()[0]);
      } else {
        item.type = HTTYPE_TEXT_LIST;
        item.value = store::codec::encodeTextList(value.texts());
      }
      break;
    case formula::ValueType::Number:
      if (value.size() == 1) {
        item.type = HTTYPE_NUMBER;
        item.value = store::codec::encodeNumber(value.numbers()[0]);
      } else {
        item.type = HTTYPE_NUMBER_LIST;
        item.value = store::codec::encodeNumberList(value.numbers());
      }
      break;
    case formula::ValueType::DateTime: {
      std::vector<HTDATETIME> list;
      for (const auto& d : value.dateTimes()) list.push_back(dt::fromSerial(d.date, d.ms));
      if (list.size() == 1) {
        item.type = HTTYPE_DATETIME;
        item.value = store::codec::encodeDateTime(list[0]);
      } else {
        item.type = HTTYPE_DATETIME_LIST;
        item.value = store::codec::encodeDateTimeList(list);
      }
      break;
    }
  }
  return item;
}

Value NoteContext::getField(std::string_view name) {
  if (const Assignment* a = findAssignment(name)) return a->value;
  if (source_ != nullptr) {
    const Value* v = nullptr;
    if (source_->lookup(name, v)) return v ? *v : Value();
  }
  const store::StoredItem* item = findItem(name);
  Value v;
  if (item != nullptr && !decode(*item, v)) v = Value();
  return v;
}

bool NoteContext::hasField(std::string_view name) {
  if (findAssignment(name) != nullptr) return true;
  if (source_ != nullptr) {
    const Value* v = nullptr;
    if (source_->lookup(name, v)) return v != nullptr;
  }
  return findItem(name) != nullptr;
}

bool NoteContext::setField(std::string_view name, const Value& value) {
  if (header_ == nullptr) return false;  // no document to write to
  for (auto& a : assignments_) {
    if (sameName(a.name, name)) {
      a.value = value;
      return true;
    }
  }
  assignments_.push_back(Assignment{std::string(name), value});
  return true;
}

formula::DateTime NoteContext::created() {
  if (header_ == nullptr) return now();
  int32_t days = 0, ms = 0;
  dt::toSerial(dt::unpack(header_->created), days, ms);
  return formula::DateTime{days, ms};
}

formula::DateTime NoteContext::modified() {
  if (header_ == nullptr) return now();
  int32_t days = 0, ms = 0;
  dt::toSerial(dt::unpack(header_->modified), days, ms);
  return formula::DateTime{days, ms};
}

std::string NoteContext::unid() { return header_ ? unidText(header_->unid) : std::string(); }

bool NoteContext::isResponse() { return header_ != nullptr && header_->parent.has_value(); }

std::string NoteContext::userName() { return userName_; }

bool NoteContext::applyAssignments(const std::vector<Assignment>& assignments, std::vector<store::StoredItem>& items) {
  bool changed = false;
  for (const auto& a : assignments) {
    store::StoredItem fresh = encode(a.name, a.value);
    store::StoredItem* existing = nullptr;
    for (auto& item : items) {
      if (sameName(item.name, a.name)) {
        existing = &item;
        break;
      }
    }
    if (existing == nullptr) {
      items.push_back(std::move(fresh));
      changed = true;
      continue;
    }
    if (existing->type == fresh.type && existing->value == fresh.value) continue;
    existing->type = fresh.type;
    existing->value = std::move(fresh.value);
    existing->flags &= ~kItemEncrypted;  // the new value is stored in the clear
    changed = true;
  }
  return changed;
}

bool compositePlainText(const void* data, size_t size, std::string& out) {
  const auto* p = static_cast<const uint8_t*>(data);
  doc::Composite composite;
  if (!doc::Composite::decode(store::Blob(p, p + size), composite)) return false;
  out = composite.plainText();
  return true;
}

std::string foldName(std::string_view name) {
  if (!isAscii(name)) return foldCase(name);
  std::string out(name);
  for (char& c : out) c = lowerAscii(c);
  return out;
}

std::string unidText(const UNID& unid) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(32);
  // The text form every caller sees: W1 W0 W3 W2, each pair with its high word first.
  for (int k : {1, 0, 3, 2})
    for (int shift = 28; shift >= 0; shift -= 4) out.push_back(kHex[(unid.words[k] >> shift) & 0xF]);
  return out;
}

std::string numberText(double n) { return formula::numberText(n); }

std::string renderValue(const Value& value, formula::EvalContext& context, std::string_view separator) {
  std::string out;
  auto add = [&](const std::string& s, bool first) {
    if (!first) out += separator;
    out += s;
  };
  bool first = true;
  switch (value.type()) {
    case formula::ValueType::Text:
      for (const auto& t : value.texts()) add(t, std::exchange(first, false));
      break;
    case formula::ValueType::Number:
      for (double n : value.numbers()) add(numberText(n), std::exchange(first, false));
      break;
    case formula::ValueType::DateTime:
      for (const auto& d : value.dateTimes()) add(context.formatDateTime(d), std::exchange(first, false));
      break;
  }
  return out;
}

}  // namespace quire::engine::index
