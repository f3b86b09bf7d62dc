// Bounded text copies and case-insensitive name comparison.
//
// Every out-text of the C API goes through copyText: it never writes more than `capacity`
// bytes, always terminates (when capacity > 0), and cuts a longer text at the capacity
// without splitting a UTF-8 sequence. Names (ACL entries, design notes, servers,
// environment strings) compare without regard to letter case using ICU's full case folding,
// so "GRÜSSE" equals "grüße".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quire::engine {

// Copies `text` into `buffer` of `capacity` bytes, cut to fit and terminated. Returns the
// number of bytes written before the terminator. Does nothing when buffer is null or
// capacity is 0.
size_t copyText(char* buffer, size_t capacity, std::string_view text);

// True when `text` (with its terminator) fits into `capacity` bytes.
inline bool fits(std::string_view text, size_t capacity) { return text.size() < capacity; }

// The text of a possibly null C string (null is the empty text, hitest.h convention 4).
inline std::string_view textArg(const char* s) { return s ? std::string_view(s) : std::string_view(); }

// The length of `text` cut back so that it does not end inside a UTF-8 sequence.
size_t utf8Boundary(std::string_view text, size_t limit);

// Case-folded form of a UTF-8 name (invalid bytes are kept as they are).
std::string foldCase(std::string_view text);
bool equalsNoCase(std::string_view a, std::string_view b);

// Leading and trailing blanks removed.
std::string_view trim(std::string_view text);

}  // namespace quire::engine
