// Translation between UTF-8 (the native character set) and LMBCS, through ICU's "LMBCS-1"
// converter. Converters are per thread (ICU converters are not thread-safe).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quire::engine::lmbcs {

// Whole-text conversions. Bytes that do not convert become the converter's substitute.
std::string fromUtf8(std::string_view utf8);
std::string toUtf8(std::string_view lmbcs);

// Converts into `buffer` of `capacity` bytes: writes at most capacity - 1 bytes, never
// splitting a character, then a terminator. Returns the bytes written (without the
// terminator). `toLmbcs` selects the direction.
size_t translate(bool toLmbcs, std::string_view source, char* buffer, size_t capacity,
                 size_t* needed = nullptr);

}  // namespace quire::engine::lmbcs
