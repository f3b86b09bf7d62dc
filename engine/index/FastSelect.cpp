#include "engine/index/FastSelect.h"

#include <algorithm>

#include "engine/formula/Ast.h"
#include "engine/formula/Collation.h"
#include "engine/formula/Failure.h"
#include "engine/formula/Functions.h"
#include "engine/formula/Parser.h"
#include "engine/index/NoteContext.h"

namespace quire::engine::index {

namespace f = quire::formula;

enum class Kind : uint8_t { Const, Cmp, Truth, NotTruth, Not, Logical };
enum class Tri : uint8_t { False, True, Error };

struct FastSelect::Node {
  Kind kind = Kind::Const;
  bool value = false;           // Const
  uint32_t slot = 0;            // Cmp, Truth, NotTruth
  f::Op op = f::Op::Eq;         // Cmp: field op constant
  f::ValueType type = f::ValueType::Number;  // Cmp: the constant's type
  double number = 0;            // Cmp with a number
  std::string key;              // Cmp with a text: its collation key
  std::string text;             // Cmp with a text: the text itself
  std::vector<uint32_t> children;  // Not (one), Logical
  std::vector<f::Op> ops;          // Logical: And / Or between children
};

namespace {

bool isAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isComparison(f::Op op) { return op >= f::Op::Eq && op <= f::Op::PermGe; }

// With a single constant, the permuted forms ask the same as the plain ones.
f::Op plain(f::Op op) {
  if (op >= f::Op::PermEq) return f::Op(int(op) - int(f::Op::PermEq) + int(f::Op::Eq));
  return op;
}

// constant op field  ==  field mirror(op) constant
f::Op mirror(f::Op op) {
  switch (op) {
    case f::Op::Lt: return f::Op::Gt;
    case f::Op::Gt: return f::Op::Lt;
    case f::Op::Le: return f::Op::Ge;
    case f::Op::Ge: return f::Op::Le;
    default: return op;
  }
}

bool satisfies(f::Op op, int c) {
  switch (op) {
    case f::Op::Eq: return c == 0;
    case f::Op::Ne: return c != 0;
    case f::Op::Lt: return c < 0;
    case f::Op::Gt: return c > 0;
    case f::Op::Le: return c <= 0;
    case f::Op::Ge: return c >= 0;
    default: return false;
  }
}

// A scalar constant: a literal, or a negated number literal.
bool constantOf(const f::Node& n, f::Value& out) {
  if (n.kind == f::NodeKind::Literal && n.literal.size() == 1 && !n.literal.isDateTime()) {
    out = n.literal;
    return true;
  }
  if (n.kind == f::NodeKind::Negate && n.children.size() == 1 && n.children[0]->kind == f::NodeKind::Literal &&
      n.children[0]->literal.isNumber() && n.children[0]->literal.size() == 1) {
    out = f::Value(-n.children[0]->literal.numbers()[0]);
    return true;
  }
  return false;
}

class Builder {
 public:
  std::vector<FastSelect::Node>& nodes;
  std::vector<std::string>& fields;

  uint32_t slotOf(const std::string& name) {
    const std::string folded = foldName(name);
    for (size_t k = 0; k < fields.size(); ++k)
      if (foldName(fields[k]) == folded) return uint32_t(k);
    fields.push_back(name);
    return uint32_t(fields.size() - 1);
  }

  uint32_t add(FastSelect::Node n) {
    nodes.push_back(std::move(n));
    return uint32_t(nodes.size() - 1);
  }

  // The node's index, or -1 when its shape is not supported.
  int64_t convert(const f::Node& n) {
    switch (n.kind) {
      case f::NodeKind::Literal: {
        if (!n.literal.isNumber()) return -1;  // a text's truth is a type error: leave it to the evaluator
        FastSelect::Node c;
        c.kind = Kind::Const;
        c.value = n.literal.isTrue();
        return add(std::move(c));
      }
      case f::NodeKind::Call: {
        if (!n.children.empty() || n.function == nullptr) return -1;
        const std::string_view name = n.function->name;
        if (name != "All" && name != "True" && name != "False") return -1;
        FastSelect::Node c;
        c.kind = Kind::Const;
        c.value = name != "False";
        return add(std::move(c));
      }
      case f::NodeKind::Field: {
        if (!isAscii(n.name)) return -1;
        FastSelect::Node t;
        t.kind = Kind::Truth;
        t.slot = slotOf(n.name);
        return add(std::move(t));
      }
      case f::NodeKind::Not: {
        if (n.children.size() != 1) return -1;
        const int64_t child = convert(*n.children[0]);
        if (child < 0) return -1;
        if (nodes[size_t(child)].kind == Kind::Truth) {
          nodes[size_t(child)].kind = Kind::NotTruth;
          return child;
        }
        FastSelect::Node x;
        x.kind = Kind::Not;
        x.children.push_back(uint32_t(child));
        return add(std::move(x));
      }
      case f::NodeKind::Chain: {
        if (n.ops.size() != 1 || n.children.size() != 2 || !isComparison(n.ops[0])) return -1;
        const f::Node* field = n.children[0].get();
        const f::Node* other = n.children[1].get();
        f::Op op = plain(n.ops[0]);
        if (field->kind != f::NodeKind::Field) {
          std::swap(field, other);
          op = mirror(op);
        }
        f::Value constant;
        if (field->kind != f::NodeKind::Field || !isAscii(field->name) || !constantOf(*other, constant)) return -1;
        FastSelect::Node c;
        c.kind = Kind::Cmp;
        c.slot = slotOf(field->name);
        c.op = op;
        c.type = constant.type();
        if (constant.isNumber()) c.number = constant.numbers()[0];
        else {
          c.text = constant.texts()[0];
          c.key = f::collationKey(c.text);
        }
        return add(std::move(c));
      }
      case f::NodeKind::Logical: {
        if (n.children.size() != n.ops.size() + 1) return -1;
        FastSelect::Node l;
        l.kind = Kind::Logical;
        for (const auto& child : n.children) {
          const int64_t k = convert(*child);
          if (k < 0) return -1;
          l.children.push_back(uint32_t(k));
        }
        for (f::Op op : n.ops) {
          if (op != f::Op::And && op != f::Op::Or) return -1;
          l.ops.push_back(op);
        }
        return add(std::move(l));
      }
      default:
        return -1;
    }
  }
};

int compareKeys(const std::string& a, const std::string& b) {
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Field values from the summary cache's compiled columns: texts as collation keys.
struct CacheCells {
  size_t row;
  const std::vector<SummaryCache::Column*>& columns;

  uint8_t type(uint32_t slot) const { return columns[slot]->cells[row].type; }
  template <typename Pred>
  bool anyNumber(uint32_t slot, Pred&& pred) const {
    const SummaryCache::Column& c = *columns[slot];
    const SummaryCache::Column::Cell& cell = c.cells[row];
    for (uint32_t k = cell.begin; k < cell.end; ++k)
      if (pred(c.numbers[k])) return true;
    return false;
  }
  bool anyText(uint32_t slot, const FastSelect::Node& n) const {
    const SummaryCache::Column& c = *columns[slot];
    const SummaryCache::Column::Cell& cell = c.cells[row];
    for (uint32_t k = cell.begin; k < cell.end; ++k)
      if (satisfies(n.op, compareKeys(c.keys[k], n.key))) return true;
    return false;
  }
};

// Field values given as views (FastSelect::Operand): texts compared by the collator.
struct OperandCells {
  const std::vector<FastSelect::Operand>& operands;

  uint8_t type(uint32_t slot) const { return uint8_t(operands[slot].type); }
  template <typename Pred>
  bool anyNumber(uint32_t slot, Pred&& pred) const {
    const FastSelect::Operand& o = operands[slot];
    for (size_t k = 0; k < o.count; ++k)
      if (pred(o.numbers[k])) return true;
    return false;
  }
  bool anyText(uint32_t slot, const FastSelect::Node& n) const {
    const FastSelect::Operand& o = operands[slot];
    for (size_t k = 0; k < o.count; ++k)
      if (satisfies(n.op, f::compareText(o.texts[k], n.text))) return true;
    return false;
  }
};

template <typename Cells>
Tri evaluate(const std::vector<FastSelect::Node>& nodes, uint32_t at, const Cells& cells) {
  const FastSelect::Node& n = nodes[at];
  switch (n.kind) {
    case Kind::Const:
      return n.value ? Tri::True : Tri::False;
    case Kind::Cmp: {
      if (cells.type(n.slot) != uint8_t(n.type)) return Tri::Error;
      if (n.type == f::ValueType::Number) {
        const bool any = cells.anyNumber(n.slot, [&](double v) {
          return satisfies(n.op, v < n.number ? -1 : (v > n.number ? 1 : 0));
        });
        return any ? Tri::True : Tri::False;
      }
      return cells.anyText(n.slot, n) ? Tri::True : Tri::False;
    }
    case Kind::Truth:
    case Kind::NotTruth: {
      if (cells.type(n.slot) != uint8_t(f::ValueType::Number)) return Tri::Error;
      const bool want = n.kind == Kind::Truth;
      return cells.anyNumber(n.slot, [&](double v) { return (v != 0) == want; }) ? Tri::True : Tri::False;
    }
    case Kind::Not: {
      const Tri t = evaluate(nodes, n.children[0], cells);
      return t == Tri::Error ? t : (t == Tri::True ? Tri::False : Tri::True);
    }
    case Kind::Logical: {
      Tri acc = evaluate(nodes, n.children[0], cells);
      if (acc == Tri::Error) return acc;
      for (size_t i = 0; i < n.ops.size(); ++i) {
        if ((n.ops[i] == f::Op::And && acc == Tri::False) || (n.ops[i] == f::Op::Or && acc == Tri::True)) continue;
        acc = evaluate(nodes, n.children[i + 1], cells);
        if (acc == Tri::Error) return acc;
      }
      return acc;
    }
  }
  return Tri::Error;
}

template <typename Cells>
FastSelect::Outcome outcomeOf(const std::vector<FastSelect::Node>& nodes, bool select, const Cells& cells) {
  const uint32_t root = uint32_t(nodes.size() - 1);
  const FastSelect::Node& top = nodes[root];
  // An expression whose value is a field's own: a text or date value does not select, and
  // is no error; SELECT insists on a number.
  if (!select && top.kind == Kind::Truth && cells.type(top.slot) != uint8_t(f::ValueType::Number))
    return FastSelect::Outcome::No;
  switch (evaluate(nodes, root, cells)) {
    case Tri::True: return FastSelect::Outcome::Yes;
    case Tri::False: return FastSelect::Outcome::No;
    case Tri::Error: return FastSelect::Outcome::Error;
  }
  return FastSelect::Outcome::Error;
}

}  // namespace

FastSelect::~FastSelect() = default;

std::unique_ptr<FastSelect> FastSelect::build(std::string_view text) {
  std::unique_ptr<f::Program> program;
  try {
    program = f::parseFormula(text);
  } catch (...) {
    return nullptr;
  }
  const f::Statement* statement = nullptr;
  for (const auto& st : program->statements) {
    if (statement != nullptr || !st.expr) return nullptr;
    if (st.kind != f::StatementKind::Expression && st.kind != f::StatementKind::Select) return nullptr;
    statement = &st;
  }
  if (statement == nullptr) return nullptr;
  std::unique_ptr<FastSelect> out(new FastSelect());
  Builder b{out->nodes_, out->fields_};
  if (b.convert(*statement->expr) < 0) return nullptr;
  out->select_ = statement->kind == f::StatementKind::Select;
  return out;
}

FastSelect::Outcome FastSelect::test(size_t row, const std::vector<SummaryCache::Column*>& columns) const {
  return outcomeOf(nodes_, select_, CacheCells{row, columns});
}

FastSelect::Outcome FastSelect::test(const std::vector<Operand>& operands) const {
  return outcomeOf(nodes_, select_, OperandCells{operands});
}

}  // namespace quire::engine::index
