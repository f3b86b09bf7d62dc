#include "engine/formula/Evaluator.h"

#include "engine/formula/Failure.h"
#include "engine/formula/Functions.h"
#include "engine/formula/Operators.h"


namespace quire::formula {

Evaluator::Evaluator(const Program& program, EvalContext& context)
    : program_(program), context_(context), slots_(program.variableCount) {}

Evaluation Evaluator::run() {
    Evaluation out;
    bool haveValue = false;
    bool selectSeen = false;
    for (const Statement& st : program_.statements) runStatement(st, out, haveValue, selectSeen);
    if (!selectSeen) out.selected = haveValue ? out.value.isTrue() : true;
    return out;
}

void Evaluator::runStatement(const Statement& st, Evaluation& out, bool& haveValue, bool& selectSeen) {
    switch (st.kind) {
        case StatementKind::Expression:
            out.value = eval(*st.expr);
            haveValue = true;
            return;
        case StatementKind::Select: {
            Value v = eval(*st.expr);
            if (!v.isNumber())
                fail(ErrorKind::Type, st.offset, std::string("SELECT: expected number, got ") + typeName(v.type()));
            out.selected = v.isTrue();
            out.value = std::move(v);
            haveValue = selectSeen = true;
            return;
        }
        case StatementKind::Assign: slots_[st.slot] = eval(*st.expr); return;
        case StatementKind::FieldAssign: {
            const Value v = eval(*st.expr);
            if (!context_.setField(st.fieldName, v))
                fail(ErrorKind::Context, st.offset, std::string("FIELD ") + st.fieldName + ": the document refused the change");
            return;
        }
    }
}

Value Evaluator::eval(const Node& node) {
    switch (node.kind) {
        case NodeKind::Literal:
        case NodeKind::Keyword: return node.literal;
        case NodeKind::Field: return context_.getField(node.name);
        case NodeKind::Variable: return slots_[node.slot];
        case NodeKind::Negate: return evalNegate(node);
        case NodeKind::Not: return evalNot(node);
        case NodeKind::Chain: return evalChain(node);
        case NodeKind::Logical: return evalLogical(node);
        case NodeKind::List: return evalList(node);
        case NodeKind::Call: return evalCall(node);
    }
    return Value();
}

bool Evaluator::truth(const Node& node, std::string_view what) {
    const Value v = eval(node);
    if (!v.isNumber())
        fail(ErrorKind::Type, node.offset,
             std::string(what) + ": expected number, got " + typeName(v.type()));
    return v.isTrue();
}

void Evaluator::chargeBytes(size_t bytes, uint32_t offset) {
    if (bytes > bytesLeft()) fail(ErrorKind::Limit, offset, "the formula builds values larger than the limit");
    bytesSpent_ += bytes;
}

void Evaluator::chargeWork(size_t units, uint32_t offset) {
    if (units > kMaxEvaluationWork - workDone_) fail(ErrorKind::Limit, offset, "the formula needs too much work");
    workDone_ += units;
}

Value Evaluator::evalNegate(const Node& node) {
    Value v = eval(*node.children[0]);
    if (!v.isNumber()) fail(ErrorKind::Type, node.offset, std::string("-: expected number, got ") + typeName(v.type()));
    Value::NumberList out = v.numbers();
    for (double& n : out) n = -n;
    return Value(std::move(out));
}

Value Evaluator::evalNot(const Node& node) {
    Value v = eval(*node.children[0]);
    if (!v.isNumber()) fail(ErrorKind::Type, node.offset, std::string("!: expected number, got ") + typeName(v.type()));
    Value::NumberList out = v.numbers();
    for (double& n : out) n = n == 0 ? 1 : 0;
    return Value(std::move(out));
}

Value Evaluator::evalLogical(const Node& node) {
    bool acc = truth(*node.children[0], opSpelling(node.ops[0]));
    for (size_t i = 0; i < node.ops.size(); ++i) {
        const Op op = node.ops[i];
        // The left side decides: skip evaluating the right one.
        if ((op == Op::And && !acc) || (op == Op::Or && acc)) continue;
        acc = truth(*node.children[i + 1], opSpelling(op));
    }
    return Value::boolean(acc);
}

Value Evaluator::evalChain(const Node& node) {
    Value acc = eval(*node.children[0]);
    for (size_t i = 0; i < node.ops.size(); ++i) {
        const Value rhs = eval(*node.children[i + 1]);
        const Op op = node.ops[i];
        const uint32_t offset = node.opOffsets[i];
        if (op <= Op::Div)
            acc = arithmetic(op, acc, rhs, offset, *this);
        else
            acc = Value::boolean(compare(op, acc, rhs, offset, *this));
        chargeBytes(acc.byteSize(), offset);
    }
    return acc;
}

namespace {

template <class List>
void append(List& out, const List& in) {
    out.insert(out.end(), in.begin(), in.end());
}

}  // namespace

Value Evaluator::evalList(const Node& node) {
    Value first = eval(*node.children[0]);
    const ValueType type = first.type();
    Value::TextList texts;
    Value::NumberList numbers;
    Value::DateTimeList dates;
    for (size_t i = 0; i < node.children.size(); ++i) {
        Value part = i == 0 ? std::move(first) : eval(*node.children[i]);
        if (part.type() != type)
            fail(ErrorKind::Type, node.children[i]->offset,
                 std::string("':' cannot join ") + typeName(type) + " with " + typeName(part.type()));
        chargeBytes(part.byteSize(), node.children[i]->offset);
        switch (type) {
            case ValueType::Text: append(texts, part.texts()); break;
            case ValueType::Number: append(numbers, part.numbers()); break;
            case ValueType::DateTime: append(dates, part.dateTimes()); break;
        }
    }
    switch (type) {
        case ValueType::Number: return Value(std::move(numbers));
        case ValueType::DateTime: return Value(std::move(dates));
        default: return Value(std::move(texts));
    }
}

Value Evaluator::evalCall(const Node& node) {
    const FunctionDef& def = *node.function;
    if (def.lazy) return def.lazy(node, *this);
    std::vector<Value> args;
    args.reserve(node.children.size());
    for (const auto& child : node.children) args.push_back(eval(*child));
    const Call call{*this, context_, def, node.offset};
    Value result = def.eager(args, call);
    chargeBytes(result.byteSize(), node.offset);
    return result;
}

}  // namespace quire::formula
