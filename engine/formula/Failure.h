// Internal error propagation. Lexer, parser and evaluator abort with a
// Failure, which Formula.cpp catches at the public boundary and turns into a
// FormulaError; so every @function can stay a plain function returning a
// Value, and no exception ever leaves the library.
#pragma once

#include "engine/formula/Formula.h"

#include <cstdint>
#include <string>

namespace quire::formula {

struct Failure {
    ErrorKind kind;
    uint32_t offset;  // byte offset in the formula text
    std::string message;
};

[[noreturn]] inline void fail(ErrorKind kind, uint32_t offset, std::string message) {
    throw Failure{kind, offset, std::move(message)};
}

}  // namespace quire::formula
