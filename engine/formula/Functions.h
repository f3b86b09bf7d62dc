// The @function table and the helpers @functions are written with. Internal
// to the formula library.
#pragma once

#include "engine/formula/Ast.h"
#include "engine/formula/Formula.h"

#include <span>
#include <string>
#include <string_view>

namespace quire::formula {

class Evaluator;
struct FunctionDef;

// What an eager @function sees besides its evaluated arguments.
struct Call {
    Evaluator& evaluator;
    EvalContext& context;
    const FunctionDef& def;
    uint32_t offset;

    [[noreturn]] void fail(std::string message, ErrorKind kind = ErrorKind::Argument) const;
    [[noreturn]] void typeError(ValueType expected, const Value& got) const;

    const Value::TextList& texts(const Value& v) const;
    const Value::NumberList& numbers(const Value& v) const;
    const Value::DateTimeList& dateTimes(const Value& v) const;
    const std::string& text(const Value& v) const { return texts(v)[0]; }
    double number(const Value& v) const { return numbers(v)[0]; }
    // The first element as an integer, clamped to +-2^31.
    int64_t integer(const Value& v) const;
    // Refuses (limit error) once a value being built would pass the
    // evaluation's byte budget.
    void reserve(size_t bytes) const;
    std::string name() const;
};

using EagerFunction = Value (*)(std::span<const Value> args, const Call& call);
// Lazy functions receive their argument nodes unevaluated (@If, @IsAvailable).
using LazyFunction = Value (*)(const Node& call, Evaluator& evaluator);

struct FunctionDef {
    std::string_view name;  // without '@', as documented
    uint8_t minArgs;
    uint8_t maxArgs;  // kVariadic for no limit
    EagerFunction eager = nullptr;
    LazyFunction lazy = nullptr;
    bool fieldNameArgument = false;  // the single argument names a field
    bool oddArgs = false;            // @If
    uint16_t countMask = 0;          // when set, bit n allows n arguments
};

inline constexpr uint8_t kVariadic = 255;

// Case-insensitive lookup; nullptr when unknown.
const FunctionDef* findFunction(std::string_view name);

// Each group lives in its own file.
std::span<const FunctionDef> textFunctions();
std::span<const FunctionDef> listFunctions();
std::span<const FunctionDef> dateFunctions();
std::span<const FunctionDef> documentFunctions();
std::span<const FunctionDef> nameFunctions();

}  // namespace quire::formula
