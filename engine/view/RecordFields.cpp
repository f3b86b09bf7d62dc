#include "engine/view/RecordFields.h"

#include <algorithm>
#include <cstring>

#include "engine/index/ReadAccess.h"

namespace quire::engine::view {
namespace {

namespace f = quire::formula;

uint32_t u32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

double f64(const uint8_t* p) {
  const uint64_t bits = uint64_t(u32(p)) | uint64_t(u32(p + 4)) << 32;
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool sameFolded(std::string_view name, const std::string& folded) {
  if (name.size() != folded.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (lower(name[i]) != folded[i]) return false;
  return true;
}

// The element count of a fixed-size list as decode accepts it; false when malformed.
bool fixedListCount(const store::ItemRef& item, uint32_t& n) {
  if (item.size < 4) return false;
  n = u32(item.value);
  return (item.size - 4) / 8 >= n && item.size == 4 + size_t(n) * 8;
}

}  // namespace

int RecordFields::add(std::string_view name) {
  std::string folded;
  for (char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) return -1;
    folded.push_back(lower(c));
  }
  for (size_t k = 0; k < names_.size(); ++k)
    if (names_[k] == folded) return int(k);
  names_.push_back(std::move(folded));
  items_.resize(names_.size());
  found_.resize(names_.size());
  return int(names_.size() - 1);
}

bool RecordFields::take(const store::ItemRef& item) {
  // A name that occurs twice stays bound to its first occurrence.
  const size_t length = item.name.size();
  const char first = length ? lower(item.name[0]) : '\0';
  for (size_t k = 0; k < names_.size(); ++k) {
    const std::string& name = names_[k];
    if (name.size() != length || found_[k] || (length && name[0] != first) || !sameFolded(item.name, name)) continue;
    found_[k] = 1;
    items_[k] = item;
    return true;
  }
  return false;
}

bool RecordFields::bind(std::string_view record) {
  std::fill(found_.begin(), found_.end(), uint8_t(0));
  size_t left = names_.size();
  return store::forEachItem(record.data(), record.size(), [&](const store::ItemRef& item) {
    if (take(item)) --left;
    return left > 0;
  });
}

bool RecordFields::bindWhole(std::string_view record, Traits& traits) {
  std::fill(found_.begin(), found_.end(), uint8_t(0));
  traits = Traits{};
  return store::forEachItem(record.data(), record.size(), [&](const store::ItemRef& item) {
    traits.flags |= item.flags;
    const size_t length = item.name.size();
    for (char c : item.name)
      if (static_cast<unsigned char>(c) >= 0x80) traits.asciiNames = false;
    if (length == 5 && store::sameItemName(item.name, "$Seal")) traits.sealed = true;
    take(item);
    return true;
  });
}

bool RecordFields::scalar(size_t slot, Scalar& out) const {
  out = Scalar{};
  if (!found_[slot]) return true;
  const store::ItemRef& item = items_[slot];
  if (item.flags & index::kItemEncrypted) return true;
  switch (item.type) {
    case HTTYPE_TEXT:
    case HTTYPE_FORMULA:
      out.text = std::string_view(reinterpret_cast<const char*>(item.value), item.size);
      return true;
    case HTTYPE_NUMBER:
      if (item.size == 8) {
        out.isText = false;
        out.number = f64(item.value);
      }
      return true;
    case HTTYPE_DATETIME:
    case HTTYPE_TEXT_LIST:
    case HTTYPE_NUMBER_LIST:
    case HTTYPE_DATETIME_LIST:
    case HTTYPE_COMPOSITE:
      return false;
    default:
      return true;  // a type the evaluator does not read: absent
  }
}

bool RecordFields::operands(const std::vector<size_t>& slots, std::vector<index::FastSelect::Operand>& out) {
  // Elements go to texts_/numbers_ first and the pointers are set at the end, since the
  // vectors may move while they fill.
  struct Range {
    f::ValueType type = f::ValueType::Text;
    size_t first = 0, count = 0;
  };
  Range ranges[16];
  std::vector<Range> more;
  Range* range = ranges;
  if (slots.size() > std::size(ranges)) {
    more.resize(slots.size());
    range = more.data();
  }
  texts_.clear();
  numbers_.clear();
  static constexpr std::string_view kEmpty;
  for (size_t j = 0; j < slots.size(); ++j) {
    const size_t k = slots[j];
    Range& r = range[j];
    r = Range{f::ValueType::Text, texts_.size(), 1};
    const store::ItemRef& item = items_[k];
    if (!found_[k] || (item.flags & index::kItemEncrypted)) {
      texts_.push_back(kEmpty);
      continue;
    }
    switch (item.type) {
      case HTTYPE_TEXT:
      case HTTYPE_FORMULA:
        texts_.emplace_back(reinterpret_cast<const char*>(item.value), item.size);
        break;
      case HTTYPE_NUMBER:
      case HTTYPE_DATETIME:
        if (item.size != 8) {
          texts_.push_back(kEmpty);
          break;
        }
        r.first = numbers_.size();
        if (item.type == HTTYPE_NUMBER) {
          r.type = f::ValueType::Number;
          numbers_.push_back(f64(item.value));
        } else {
          r.type = f::ValueType::DateTime;  // compared by type only
        }
        break;
      case HTTYPE_TEXT_LIST: {
        // As store::codec::decodeTextList accepts it: a malformed list reads as absent.
        const uint8_t* p = item.value;
        const size_t size = item.size;
        bool ok = size >= 4;
        const size_t before = texts_.size();
        if (ok) {
          const uint32_t n = u32(p);
          size_t pos = 4;
          for (uint32_t i = 0; i < n && ok; ++i) {
            if (size - pos < 4) {
              ok = false;
              break;
            }
            const uint32_t len = u32(p + pos);
            pos += 4;
            if (size - pos < size_t(len) + 1 || p[pos + len] != 0) {
              ok = false;
              break;
            }
            texts_.emplace_back(reinterpret_cast<const char*>(p + pos), len);
            pos += size_t(len) + 1;
          }
          ok = ok && pos == size;
        }
        if (!ok) {
          texts_.resize(before);
          texts_.push_back(kEmpty);
          break;
        }
        r.count = texts_.size() - before;
        break;
      }
      case HTTYPE_NUMBER_LIST:
      case HTTYPE_DATETIME_LIST: {
        uint32_t n = 0;
        if (!fixedListCount(item, n)) {
          texts_.push_back(kEmpty);
          break;
        }
        r.first = numbers_.size();
        r.count = n;
        if (item.type == HTTYPE_NUMBER_LIST) {
          r.type = f::ValueType::Number;
          for (uint32_t i = 0; i < n; ++i) numbers_.push_back(f64(item.value + 4 + size_t(i) * 8));
        } else {
          r.type = f::ValueType::DateTime;
        }
        break;
      }
      case HTTYPE_COMPOSITE:
        return false;
      default:
        texts_.push_back(kEmpty);
        break;
    }
  }
  out.resize(slots.size());
  for (size_t j = 0; j < slots.size(); ++j) {
    const Range& r = range[j];
    index::FastSelect::Operand& o = out[j];
    o.type = r.type;
    o.count = r.count;
    o.texts = r.type == f::ValueType::Text ? texts_.data() + r.first : nullptr;
    o.numbers = r.type == f::ValueType::Number ? numbers_.data() + r.first : nullptr;
  }
  return true;
}

}  // namespace quire::engine::view
