// Text helpers of the @functions: code point counting on UTF-8, Unicode case
// mapping, number formatting. Internal to the formula library.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quire::formula {

// Code points in s; an ill-formed byte counts as one.
size_t codePointCount(std::string_view s);
// Byte offset of code point `index` (s.size() when index is past the end).
size_t byteOffsetOf(std::string_view s, size_t index);

// The first `n` / last `n` code points.
std::string_view leftChars(std::string_view s, size_t n);
std::string_view rightChars(std::string_view s, size_t n);

enum class CaseMapping { Upper, Lower, Title };
std::string mapCase(std::string_view s, CaseMapping mapping);

// Drops leading and trailing spaces and collapses runs of spaces to one.
std::string trimSpaces(std::string_view s);

// numberText (NumberText.h): "1.5", "3", "1E+21".
std::string formatNumber(double n);
// Fixed decimals, optionally with ',' thousands separators.
std::string formatFixed(double n, int decimals, bool thousands);

}  // namespace quire::formula
