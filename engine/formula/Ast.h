// The compiled form of a formula. Internal to the formula library.
#pragma once

#include "engine/formula/Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quire::formula {

struct FunctionDef;

enum class NodeKind : uint8_t {
    Literal,   // literal
    Field,     // name: read through the context
    Variable,  // slot
    Keyword,   // literal holds the keyword's name as text
    Negate,    // children[0]
    Not,       // children[0]
    Chain,     // children[0] ops[0] children[1] ops[1] ... (arithmetic or comparison)
    Logical,   // children joined by ops (And / Or), lazily
    List,      // children concatenated with ':'
    Call,      // function, children are the arguments
};

enum class Op : uint8_t {
    Add, Sub, Mul, Div,
    Eq, Ne, Lt, Gt, Le, Ge,
    PermEq, PermNe, PermLt, PermGt, PermLe, PermGe,
    And, Or,
};

struct Node {
    NodeKind kind = NodeKind::Literal;
    uint32_t offset = 0;  // where errors about this node point
    Value literal;
    std::string name;
    uint32_t slot = 0;
    const FunctionDef* function = nullptr;
    std::vector<std::unique_ptr<Node>> children;
    std::vector<Op> ops;
    std::vector<uint32_t> opOffsets;
};

enum class StatementKind : uint8_t { Expression, Select, Assign, FieldAssign };

struct Statement {
    StatementKind kind = StatementKind::Expression;
    uint32_t offset = 0;
    uint32_t slot = 0;       // Assign
    std::string fieldName;   // FieldAssign
    std::unique_ptr<Node> expr;
};

struct Program {
    std::string source;
    std::vector<Statement> statements;
    uint32_t variableCount = 0;
    std::vector<std::string> fieldsRead;
    std::vector<std::string> fieldsWritten;
    bool hasSelect = false;
    bool hasExpression = false;  // any Expression or Select statement
};

}  // namespace quire::formula
