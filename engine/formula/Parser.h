// Builds a Program from formula text. Internal to the formula library.
#pragma once

#include "engine/formula/Ast.h"

#include <memory>
#include <string_view>

namespace quire::formula {

// Throws Failure (Syntax or Limit) on malformed text.
std::unique_ptr<Program> parseFormula(std::string_view source);

}  // namespace quire::formula
