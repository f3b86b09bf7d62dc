// Shared helpers of the formula tests.
#pragma once

#include "engine/formula/Formula.h"
#include "engine/formula/MapContext.h"

#include <string>

namespace quire::formula::test {

inline DateTime makeDate(int y, int m, int d) {
    DateTime dt;
    DateTime::dateOnly(y, m, d, dt);
    return dt;
}

inline DateTime makeDateTime(int y, int mo, int d, int h, int mi, int s) {
    DateTime dt;
    DateTime::fromCivil(CivilDateTime{y, mo, d, h, mi, s, 0}, dt);
    return dt;
}

// A document with a few items of every type, and a fixed clock.
inline MapContext sampleDocument() {
    MapContext ctx;
    ctx.set("Subject", Value("Quarterly Report"));
    ctx.set("Form", Value("Memo"));
    ctx.set("Tags", Value(Value::TextList{"red", "Green", "blue"}));
    ctx.set("Amount", Value(12.5));
    ctx.set("Counts", Value(Value::NumberList{1, 2, 3}));
    ctx.set("Due", Value(makeDate(2024, 1, 31)));
    ctx.set("Author", Value("CN=John Smith/OU=Sales/O=Acme/C=US"));
    ctx.now_ = makeDateTime(2024, 3, 15, 14, 30, 0);
    ctx.created_ = makeDateTime(2023, 12, 1, 9, 0, 0);
    ctx.modified_ = makeDateTime(2024, 2, 29, 17, 45, 10);
    ctx.unid_ = "0123456789ABCDEF0123456789ABCDEF";
    ctx.userName_ = "CN=Jane Doe/O=Acme";
    return ctx;
}

// The value's debug form, or "error: <message>" for a compile or run failure.
inline std::string eval(std::string_view text, EvalContext& ctx) {
    auto formula = Formula::compile(text);
    if (!formula) return "error: " + formula.error().message;
    auto value = formula.value().evaluate(ctx);
    if (!value) return "error: " + value.error().message;
    return value.value().debugString();
}

inline std::string eval(std::string_view text) {
    MapContext ctx = sampleDocument();
    return eval(text, ctx);
}

}  // namespace quire::formula::test
