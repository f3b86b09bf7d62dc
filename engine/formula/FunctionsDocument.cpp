// Logic, type tests and the document's own properties.
#include "engine/formula/Evaluator.h"
#include "engine/formula/Functions.h"

namespace quire::formula {

namespace {

Value fnTrue(std::span<const Value>, const Call&) { return Value::boolean(true); }
Value fnFalse(std::span<const Value>, const Call&) { return Value::boolean(false); }

Value fnIf(const Node& node, Evaluator& ev) {
    const auto& args = node.children;
    for (size_t i = 0; i + 1 < args.size(); i += 2)
        if (ev.truth(*args[i], "@If")) return ev.eval(*args[i + 1]);
    return ev.eval(*args.back());
}

Value fnDo(std::span<const Value> a, const Call&) { return a.back(); }

Value fnIsAvailable(const Node& node, Evaluator& ev) {
    return Value::boolean(ev.context().hasField(node.children[0]->name));
}
Value fnIsUnavailable(const Node& node, Evaluator& ev) {
    return Value::boolean(!ev.context().hasField(node.children[0]->name));
}

Value fnIsText(std::span<const Value> a, const Call&) { return Value::boolean(a[0].isText()); }
Value fnIsNumber(std::span<const Value> a, const Call&) { return Value::boolean(a[0].isNumber()); }
Value fnIsTime(std::span<const Value> a, const Call&) { return Value::boolean(a[0].isDateTime()); }

Value fnUnid(std::span<const Value>, const Call& c) { return Value(c.context.unid()); }
Value fnIsResponse(std::span<const Value>, const Call& c) { return Value::boolean(c.context.isResponse()); }
Value fnUserName(std::span<const Value>, const Call& c) { return Value(c.context.userName()); }

constexpr FunctionDef kDocumentFunctions[] = {
    {"All", 0, 0, fnTrue},
    {"True", 0, 0, fnTrue},
    {"False", 0, 0, fnFalse},
    {"If", 3, kVariadic, nullptr, fnIf, false, true},
    {"Do", 1, kVariadic, fnDo},
    {"IsAvailable", 1, 1, nullptr, fnIsAvailable, true},
    {"IsUnavailable", 1, 1, nullptr, fnIsUnavailable, true},
    {"IsText", 1, 1, fnIsText},
    {"IsNumber", 1, 1, fnIsNumber},
    {"IsTime", 1, 1, fnIsTime},
    {"DocumentUniqueID", 0, 0, fnUnid},
    {"IsResponseDoc", 0, 0, fnIsResponse},
    {"UserName", 0, 0, fnUserName},
};

}  // namespace

std::span<const FunctionDef> documentFunctions() { return kDocumentFunctions; }

}  // namespace quire::formula
