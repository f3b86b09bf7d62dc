#include "engine/formula/Operators.h"

#include "engine/formula/Collation.h"
#include "engine/formula/Evaluator.h"
#include "engine/formula/Failure.h"

#include <algorithm>
#include <cmath>

namespace quire::formula {

namespace {

constexpr int64_t kMsPerDay = DateTime::kMsPerDay;

// Element i of the longer operand meets element min(i, n-1) of the shorter.
template <class A, class B, class F>
auto pairwise(const std::vector<A>& a, const std::vector<B>& b, F f) {
    using R = decltype(f(a[0], b[0]));
    const size_t n = std::max(a.size(), b.size());
    std::vector<R> out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) out.push_back(f(a[std::min(i, a.size() - 1)], b[std::min(i, b.size() - 1)]));
    return out;
}

[[noreturn]] void mismatch(Op op, const Value& a, const Value& b, uint32_t offset) {
    fail(ErrorKind::Type, offset,
         std::string("operator '") + opSpelling(op) + "' cannot combine " + typeName(a.type()) + " with " +
             typeName(b.type()));
}

double checkedNumber(double n, uint32_t offset) {
    if (!std::isfinite(n)) fail(ErrorKind::Argument, offset, "numeric overflow");
    return n;
}

Value numberArithmetic(Op op, const Value& a, const Value& b, uint32_t offset) {
    return Value(pairwise(a.numbers(), b.numbers(), [&](double x, double y) {
        switch (op) {
            case Op::Add: return checkedNumber(x + y, offset);
            case Op::Sub: return checkedNumber(x - y, offset);
            case Op::Mul: return checkedNumber(x * y, offset);
            default:
                if (y == 0) fail(ErrorKind::Argument, offset, "division by zero");
                return checkedNumber(x / y, offset);
        }
    }));
}

Value textConcatenation(const Value& a, const Value& b, uint32_t offset, Evaluator& evaluator) {
    return Value(pairwise(a.texts(), b.texts(), [&](const std::string& x, const std::string& y) {
        evaluator.chargeBytes(x.size() + y.size() + sizeof(std::string), offset);
        return x + y;
    }));
}

double secondsBetween(const DateTime& a, const DateTime& b) {
    const int64_t ams = a.hasTime() ? a.ms : 0;
    const int64_t bms = b.hasTime() ? b.ms : 0;
    if (!a.hasDate() || !b.hasDate()) return static_cast<double>(ams - bms) / 1000.0;
    return static_cast<double>((static_cast<int64_t>(a.date) - b.date) * kMsPerDay + ams - bms) / 1000.0;
}

Value dateArithmetic(Op op, const Value& a, const Value& b, uint32_t offset) {
    if (op == Op::Sub && a.isDateTime() && b.isDateTime())
        return Value(pairwise(a.dateTimes(), b.dateTimes(), secondsBetween));
    if (a.isDateTime() && b.isNumber() && (op == Op::Add || op == Op::Sub)) {
        const double sign = op == Op::Add ? 1 : -1;
        return Value(pairwise(a.dateTimes(), b.numbers(),
                              [&](const DateTime& d, double s) { return shiftSeconds(d, sign * s, offset); }));
    }
    if (a.isNumber() && b.isDateTime() && op == Op::Add)
        return Value(pairwise(a.numbers(), b.dateTimes(),
                              [&](double s, const DateTime& d) { return shiftSeconds(d, s, offset); }));
    mismatch(op, a, b, offset);
}

int compareElementsAt(const Value& a, size_t i, const Value& b, size_t j) {
    switch (a.type()) {
        case ValueType::Text: return compareText(a.texts()[i], b.texts()[j]);
        case ValueType::Number: return compareNumbers(a.numbers()[i], b.numbers()[j]);
        case ValueType::DateTime: return compareDateTime(a.dateTimes()[i], b.dateTimes()[j]);
    }
    return 0;
}

bool satisfies(Op op, int c) {
    switch (op) {
        case Op::Eq: case Op::PermEq: return c == 0;
        case Op::Ne: case Op::PermNe: return c != 0;
        case Op::Lt: case Op::PermLt: return c < 0;
        case Op::Gt: case Op::PermGt: return c > 0;
        case Op::Le: case Op::PermLe: return c <= 0;
        case Op::Ge: case Op::PermGe: return c >= 0;
        default: return false;
    }
}

bool isPermuted(Op op) { return op >= Op::PermEq && op <= Op::PermGe; }

}  // namespace

const char* opSpelling(Op op) {
    static constexpr const char* kSpellings[] = {"+", "-", "*", "/", "=", "!=", "<", ">", "<=", ">=",
                                                 "*=", "*!=", "*<", "*>", "*<=", "*>=", "&", "|"};
    return kSpellings[static_cast<size_t>(op)];
}

int compareNumbers(double a, double b) { return a < b ? -1 : (a > b ? 1 : 0); }

DateTime shiftSeconds(const DateTime& dt, double seconds, uint32_t offset) {
    // 1e13 s is far beyond the calendar range, and keeps the product exact.
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e13) fail(ErrorKind::Argument, offset, "date out of range");
    const int64_t delta = std::llround(seconds * 1000.0);
    if (!dt.hasDate()) {
        DateTime out = dt;
        out.ms = static_cast<int32_t>(((dt.ms + delta) % kMsPerDay + kMsPerDay) % kMsPerDay);
        return out;
    }
    const int64_t total = static_cast<int64_t>(dt.date) * kMsPerDay + (dt.hasTime() ? dt.ms : 0) + delta;
    const int64_t days = total >= 0 ? total / kMsPerDay : -((-total + kMsPerDay - 1) / kMsPerDay);
    DateTime out;
    if (days < daysFromCivil(1, 1, 1) || days > daysFromCivil(9999, 12, 31))
        fail(ErrorKind::Argument, offset, "date out of range");
    out.date = static_cast<int32_t>(days);
    out.ms = static_cast<int32_t>(total - days * kMsPerDay);
    // A date without time stays one while whole days are added.
    if (!dt.hasTime() && delta % kMsPerDay == 0) out.ms = DateTime::kNoTime;
    return out;
}

Value arithmetic(Op op, const Value& a, const Value& b, uint32_t offset, Evaluator& evaluator) {
    if (a.isNumber() && b.isNumber()) return numberArithmetic(op, a, b, offset);
    if (a.isText() && b.isText() && op == Op::Add) return textConcatenation(a, b, offset, evaluator);
    if (a.isDateTime() || b.isDateTime()) return dateArithmetic(op, a, b, offset);
    mismatch(op, a, b, offset);
}

bool compare(Op op, const Value& a, const Value& b, uint32_t offset, Evaluator& evaluator) {
    if (a.type() != b.type()) mismatch(op, a, b, offset);
    const size_t na = a.size(), nb = b.size();
    if (isPermuted(op)) {
        evaluator.chargeWork(na * nb, offset);
        for (size_t i = 0; i < na; ++i)
            for (size_t j = 0; j < nb; ++j)
                if (satisfies(op, compareElementsAt(a, i, b, j))) return true;
        return false;
    }
    const size_t n = std::max(na, nb);
    for (size_t i = 0; i < n; ++i)
        if (satisfies(op, compareElementsAt(a, std::min(i, na - 1), b, std::min(i, nb - 1)))) return true;
    return false;
}

}  // namespace quire::formula
