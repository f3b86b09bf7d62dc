#include "engine/formula/Functions.h"

#include "engine/formula/Evaluator.h"
#include "engine/formula/Failure.h"

#include <cmath>
#include <string>
#include <unordered_map>

namespace quire::formula {

namespace {

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::unordered_map<std::string, const FunctionDef*> buildTable() {
    std::unordered_map<std::string, const FunctionDef*> table;
    for (auto group : {textFunctions(), listFunctions(), dateFunctions(), documentFunctions(), nameFunctions()})
        for (const FunctionDef& def : group) table.emplace(lowerAscii(def.name), &def);
    return table;
}

}  // namespace

const FunctionDef* findFunction(std::string_view name) {
    static const auto table = buildTable();
    const auto it = table.find(lowerAscii(name));
    return it == table.end() ? nullptr : it->second;
}

std::string Call::name() const {
    // Appending instead of operator+ sidesteps a false -Wrestrict of GCC 12 at -O3.
    std::string out;
    out.reserve(def.name.size() + 1);
    out += '@';
    out += def.name;
    return out;
}

void Call::fail(std::string message, ErrorKind kind) const {
    quire::formula::fail(kind, offset, name() + ": " + message);
}

void Call::typeError(ValueType expected, const Value& got) const {
    fail(std::string("expected ") + typeName(expected) + ", got " + typeName(got.type()), ErrorKind::Type);
}

const Value::TextList& Call::texts(const Value& v) const {
    if (!v.isText()) typeError(ValueType::Text, v);
    return v.texts();
}

const Value::NumberList& Call::numbers(const Value& v) const {
    if (!v.isNumber()) typeError(ValueType::Number, v);
    return v.numbers();
}

const Value::DateTimeList& Call::dateTimes(const Value& v) const {
    if (!v.isDateTime()) typeError(ValueType::DateTime, v);
    return v.dateTimes();
}

int64_t Call::integer(const Value& v) const {
    const double n = std::trunc(number(v));
    constexpr double kLimit = 2147483648.0;
    return static_cast<int64_t>(n < -kLimit ? -kLimit : (n > kLimit ? kLimit : n));
}

void Call::reserve(size_t bytes) const {
    if (bytes > evaluator.bytesLeft()) fail("the result is larger than the limit", ErrorKind::Limit);
}

}  // namespace quire::formula
