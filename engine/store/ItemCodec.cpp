#include "engine/store/ItemCodec.h"

#include <cstring>

namespace quire::engine::store::codec {
namespace {

void putU32(Blob& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

void putU64(Blob& b, uint64_t v) {
  for (int i = 0; i < 8; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

uint32_t getU32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

uint64_t getU64(const uint8_t* p) { return uint64_t(getU32(p)) | uint64_t(getU32(p + 4)) << 32; }

uint64_t doubleBits(double d) {
  uint64_t u;
  std::memcpy(&u, &d, 8);
  return u;
}

double bitsDouble(uint64_t u) {
  double d;
  std::memcpy(&d, &u, 8);
  return d;
}

template <typename T, typename Get>
bool decodeFixedList(const Blob& blob, size_t width, std::vector<T>& out, Get get) {
  if (blob.size() < 4) return false;
  uint32_t n = getU32(blob.data());
  if ((blob.size() - 4) / width < n || blob.size() != 4 + size_t(n) * width) return false;
  out.clear();
  out.reserve(n);
  for (uint32_t i = 0; i < n; ++i) out.push_back(get(blob.data() + 4 + i * width));
  return true;
}

}  // namespace

Blob encodeText(std::string_view text) { return Blob(text.begin(), text.end()); }

Blob encodeNumber(double value) {
  Blob b;
  putU64(b, doubleBits(value));
  return b;
}

Blob encodeDateTime(const HTDATETIME& v) {
  Blob b;
  putU32(b, v.lo);
  putU32(b, v.hi);
  return b;
}

Blob encodeTextList(const std::vector<std::string>& entries) {
  Blob b;
  putU32(b, uint32_t(entries.size()));
  for (const std::string& e : entries) {
    putU32(b, uint32_t(e.size()));
    b.insert(b.end(), e.begin(), e.end());
    b.push_back(0);
  }
  return b;
}

Blob encodeNumberList(const std::vector<double>& values) {
  Blob b;
  putU32(b, uint32_t(values.size()));
  for (double d : values) putU64(b, doubleBits(d));
  return b;
}

Blob encodeDateTimeList(const std::vector<HTDATETIME>& values) {
  Blob b;
  putU32(b, uint32_t(values.size()));
  for (const HTDATETIME& v : values) {
    putU32(b, v.lo);
    putU32(b, v.hi);
  }
  return b;
}

bool decodeText(const Blob& blob, std::string& out) {
  out.assign(blob.begin(), blob.end());
  return true;
}

bool decodeNumber(const Blob& blob, double& out) {
  if (blob.size() != 8) return false;
  out = bitsDouble(getU64(blob.data()));
  return true;
}

bool decodeDateTime(const Blob& blob, HTDATETIME& out) {
  if (blob.size() != 8) return false;
  out = HTDATETIME{getU32(blob.data()), getU32(blob.data() + 4)};
  return true;
}

bool decodeTextList(const void* data, size_t size, std::vector<std::string>& out) {
  const auto* p = static_cast<const uint8_t*>(data);
  if (size < 4) return false;
  uint32_t n = getU32(p);
  size_t pos = 4;
  out.clear();
  for (uint32_t i = 0; i < n; ++i) {
    if (size - pos < 4) return false;
    uint32_t len = getU32(p + pos);
    pos += 4;
    if (size - pos < size_t(len) + 1 || p[pos + len] != 0) return false;
    out.emplace_back(reinterpret_cast<const char*>(p + pos), len);
    pos += size_t(len) + 1;
  }
  return pos == size;
}

bool decodeTextList(const Blob& blob, std::vector<std::string>& out) {
  return decodeTextList(blob.data(), blob.size(), out);
}

bool decodeNumberList(const Blob& blob, std::vector<double>& out) {
  return decodeFixedList(blob, 8, out, [](const uint8_t* p) { return bitsDouble(getU64(p)); });
}

bool decodeDateTimeList(const Blob& blob, std::vector<HTDATETIME>& out) {
  return decodeFixedList(blob, 8, out, [](const uint8_t* p) { return HTDATETIME{getU32(p), getU32(p + 4)}; });
}

uint32_t textListCount(const void* list) { return list ? getU32(static_cast<const uint8_t*>(list)) : 0; }

bool textListEntry(const void* list, uint32_t index, const char*& text, uint32_t& length) {
  if (!list) return false;
  const auto* p = static_cast<const uint8_t*>(list);
  uint32_t n = getU32(p);
  if (index >= n) return false;
  size_t pos = 4;
  for (uint32_t i = 0; i < index; ++i) pos += 4 + size_t(getU32(p + pos)) + 1;
  length = getU32(p + pos);
  text = reinterpret_cast<const char*>(p + pos + 4);
  return true;
}

}  // namespace quire::engine::store::codec
