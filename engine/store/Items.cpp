#include "engine/store/Items.h"

#include <cctype>
#include <cstring>
#include <stdexcept>

#include "engine/core/Status.h"
#include "engine/core/Text.h"

namespace quire::engine::store {
namespace {

constexpr uint8_t kFormat = 1;

void put16(Blob& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void put32(Blob& b, uint32_t v) {
  for (int k = 0; k < 4; ++k) b.push_back(uint8_t(v >> (8 * k)));
}
uint32_t get16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

namespace items_detail {

bool readHead(const uint8_t* p, size_t size, size_t& pos, uint32_t& count) {
  pos = 0;
  count = 0;
  if (size == 0) return true;
  if (size < 5 || p[0] != kFormat) return false;
  count = get32(p + 1);
  pos = 5;
  return true;
}

bool readItem(const uint8_t* p, size_t size, size_t& pos, ItemRef& out) {
  if (size - pos < 2) return false;
  const size_t nameLength = get16(p + pos);
  pos += 2;
  if (size - pos < nameLength + 10) return false;
  out.name = std::string_view(reinterpret_cast<const char*>(p + pos), nameLength);
  pos += nameLength;
  out.type = HTINT(get16(p + pos));
  out.flags = get32(p + pos + 2);
  const size_t valueLength = get32(p + pos + 6);
  pos += 10;
  if (size - pos < valueLength) return false;
  out.value = p + pos;
  out.size = valueLength;
  pos += valueLength;
  return true;
}

}  // namespace items_detail

Blob encodeItems(const std::vector<StoredItem>& items) {
  Blob b;
  if (items.empty()) return b;
  size_t total = 5;
  size_t content = 0;
  for (const StoredItem& item : items) {
    total += 12 + item.name.size() + item.value.size();
    content += item.name.size() + item.value.size();
  }
  if (content > HT_MAX_DOCUMENT_BYTES)
    raise(HTFAIL_INVALID_ARGUMENT, "The items of a document may hold at most " + std::to_string(HT_MAX_DOCUMENT_BYTES) +
                                       " bytes of names and values; these hold " + std::to_string(content));
  b.reserve(total);
  b.push_back(kFormat);
  put32(b, uint32_t(items.size()));
  for (const StoredItem& item : items) {
    // Names are limited to 255 bytes and types to 16 bits by the API; refuse rather than
    // write a record that would read back as something else.
    if (item.name.size() > 0xFFFF || uint32_t(item.type) > 0xFFFF || item.value.size() > 0xFFFFFFFFu)
      raise(HTFAIL_INVALID_ARGUMENT, "Item " + item.name.substr(0, 64) + " cannot be stored: name, type or value too large");
    put16(b, uint32_t(item.name.size()));
    b.insert(b.end(), item.name.begin(), item.name.end());
    put16(b, uint32_t(item.type));
    put32(b, item.flags);
    put32(b, uint32_t(item.value.size()));
    b.insert(b.end(), item.value.begin(), item.value.end());
  }
  return b;
}

bool decodeItems(const void* data, size_t size, std::vector<StoredItem>& out) {
  out.clear();
  return forEachItem(data, size, [&](const ItemRef& ref) {
    out.push_back(ref.copy());
    return true;
  });
}

bool findItem(const void* data, size_t size, std::string_view name, ItemRef& out) {
  bool found = false;
  forEachItem(data, size, [&](const ItemRef& ref) {
    if (!sameItemName(ref.name, name)) return true;
    out = ref;
    found = true;
    return false;
  });
  return found;
}

uint32_t itemFlags(const std::vector<StoredItem>& items) {
  uint32_t flags = 0;
  for (const StoredItem& item : items) flags |= item.flags;
  return flags;
}

bool sameItemName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    for (std::string_view s : {a, b})
      for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return equalsNoCase(a, b);
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 0x80 || y >= 0x80) return equalsNoCase(a, b);
    if (x != y && std::tolower(x) != std::tolower(y)) return false;
  }
  return true;
}

}  // namespace quire::engine::store
