// Formula selections answered straight from the summary cache's columns, without building
// formula values: the common shape of a search formula -- comparisons of a field with a
// constant, joined by & and | and negated by ! -- evaluated over precomputed collation keys
// and numbers.
//
// `build` accepts a formula only when every part of it has that shape: one expression or
// SELECT statement made of
//   field op constant, constant op field   (op: = != < > <= >= and their * forms; the
//                                           constant a text or a number, possibly negated)
//   a field alone (its truth), a number, @All, @True, @False
//   ! x,  x & y,  x | y,  parentheses
// with item names in ASCII. Anything else -- variables, @functions, arithmetic, lists,
// several statements -- gets nullptr and the caller runs the full evaluator.
//
// The answers are the evaluator's (engine/formula): text compares by the collation (case
// ignored, accents not), any element of a multi-value field may satisfy a comparison,
// & and | are evaluated left to right and lazily, and a comparison of different types is a
// type error -- reported as Outcome::Error, on which the caller evaluates that document in
// full to learn the error's text. A differential test holds the two paths together.
//
// This reads the formula library's compiled form (engine/formula/Ast.h), the one place in
// the index layer that does.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/formula/Value.h"
#include "engine/index/SummaryCache.h"

namespace quire::engine::index {

class FastSelect {
 public:
  static std::unique_ptr<FastSelect> build(std::string_view formulaText);
  ~FastSelect();

  // Item names, one per column slot; test() takes the columns in this order, compiled.
  const std::vector<std::string>& fields() const { return fields_; }

  enum class Outcome : uint8_t { No, Yes, Error };
  Outcome test(size_t row, const std::vector<SummaryCache::Column*>& columns) const;

  // A field's value as the evaluator would read it, given as views into memory the caller
  // owns, so a caller reading stored items in place need not build formula values (a view
  // build tests every document). Texts compare by formula::compareText; a date-time's
  // elements are never compared (no constant is one), so only its type is needed.
  struct Operand {
    formula::ValueType type = formula::ValueType::Text;
    const std::string_view* texts = nullptr;
    const double* numbers = nullptr;
    size_t count = 0;
  };
  // `operands` holds one per fields() entry, in that order.
  Outcome test(const std::vector<Operand>& operands) const;

  struct Node;

 private:
  FastSelect() = default;
  std::vector<Node> nodes_;  // children before parents; the root last
  std::vector<std::string> fields_;
  bool select_ = false;      // the statement is SELECT
};

}  // namespace quire::engine::index
