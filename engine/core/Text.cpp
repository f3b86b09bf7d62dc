#include "engine/core/Text.h"

#include <unicode/ucasemap.h>
#include <unicode/utypes.h>

#include <cstring>
#include <memory>

namespace quire::engine {

size_t utf8Boundary(std::string_view text, size_t limit) {
  if (limit >= text.size()) return text.size();
  size_t n = limit;
  // Back up over continuation bytes to the lead byte of the cut sequence, then drop it.
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

size_t copyText(char* buffer, size_t capacity, std::string_view text) {
  if (!buffer || capacity == 0) return 0;
  size_t n = utf8Boundary(text, capacity - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return n;
}

std::string foldCase(std::string_view text) {
  bool ascii = true;
  for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) {
    std::string out(text);
    for (char& c : out) c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return out;
  }
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UCaseMap, decltype(&ucasemap_close)> map(ucasemap_open("", U_FOLD_CASE_DEFAULT, &status),
                                                          &ucasemap_close);
  if (U_FAILURE(status)) return std::string(text);
  std::string out(text.size() * 3 + 4, '\0');
  int32_t n = ucasemap_utf8FoldCase(map.get(), out.data(), int32_t(out.size()), text.data(), int32_t(text.size()),
                                    &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    status = U_ZERO_ERROR;
    out.resize(size_t(n) + 1);
    n = ucasemap_utf8FoldCase(map.get(), out.data(), int32_t(out.size()), text.data(), int32_t(text.size()), &status);
  }
  if (U_FAILURE(status)) return std::string(text);
  out.resize(size_t(n));
  return out;
}

bool equalsNoCase(std::string_view a, std::string_view b) { return foldCase(a) == foldCase(b); }

std::string_view trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  return text.substr(b, e - b);
}

}  // namespace quire::engine
