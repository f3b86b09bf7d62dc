// The binary operators on list values. Internal to the formula library.
#pragma once

#include "engine/formula/Ast.h"

namespace quire::formula {

class Evaluator;

// + - * / pairwise. Throws Failure on type errors, division by zero,
// non-finite results and dates out of range.
Value arithmetic(Op op, const Value& a, const Value& b, uint32_t offset, Evaluator& evaluator);

// = != < > <= >= and permuted forms; true when any compared pair satisfies op.
bool compare(Op op, const Value& a, const Value& b, uint32_t offset, Evaluator& evaluator);

// Shifts by a (possibly fractional) number of seconds; throws Failure when
// the result leaves years 1..9999.
DateTime shiftSeconds(const DateTime& dt, double seconds, uint32_t offset);

// Orders two elements of one list type; used by comparisons, @Sort, @Max.
int compareNumbers(double a, double b);

const char* opSpelling(Op op);

}  // namespace quire::formula
