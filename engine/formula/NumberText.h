// How a number becomes text everywhere in the engine: item values, view cells and totals,
// full-text terms and the formula language's @Text.
#pragma once

#include <cstddef>
#include <string>

namespace quire::formula {

// At most 15 significant digits, trailing zeros dropped: a double holds 15 decimal digits
// faithfully and the 16th and 17th are binary noise (0.1 + 0.2 is "0.3", not
// "0.30000000000000004"). Exponents from 1E+15 and below 1E-4, written "1E+21", "1E-5".
// Zero (also -0) is "0".
std::string numberText(double n);

// The same written into `out`, which holds kNumberTextCapacity bytes; returns its length (no
// terminator is written). For callers that put the text straight into a buffer of their own.
constexpr size_t kNumberTextCapacity = 32;
size_t numberText(double n, char* out);

}  // namespace quire::formula
