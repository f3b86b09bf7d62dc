// List and number @functions. Membership and order use the collation of
// Collation.h for text; elements of different types never match.
#include "engine/formula/Collation.h"
#include "engine/formula/Evaluator.h"
#include "engine/formula/Functions.h"
#include "engine/formula/Operators.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <set>
#include <unordered_set>

namespace quire::formula {

namespace {

bool sameElement(const Value& a, size_t i, const Value& b, size_t j) {
    if (a.type() != b.type()) return false;
    switch (a.type()) {
        case ValueType::Text: return equalText(a.texts()[i], b.texts()[j]);
        case ValueType::Number: return a.numbers()[i] == b.numbers()[j];
        case ValueType::DateTime: return compareDateTime(a.dateTimes()[i], b.dateTimes()[j]) == 0;
    }
    return false;
}

// 1-based position of a[i] in b, 0 when absent.
size_t positionIn(const Value& a, size_t i, const Value& b) {
    for (size_t j = 0; j < b.size(); ++j)
        if (sameElement(a, i, b, j)) return j + 1;
    return 0;
}

Value fnElements(std::span<const Value> a, const Call&) {
    return Value(a[0].isEmptyText() ? 0.0 : static_cast<double>(a[0].size()));
}

Value fnMember(std::span<const Value> a, const Call& c) {
    c.evaluator.chargeWork(a[1].size(), c.offset);
    return Value(static_cast<double>(positionIn(a[0], 0, a[1])));
}

Value fnIsMember(std::span<const Value> a, const Call& c) {
    c.evaluator.chargeWork(a[0].size() * a[1].size(), c.offset);
    for (size_t i = 0; i < a[0].size(); ++i)
        if (!positionIn(a[0], i, a[1])) return Value::boolean(false);
    return Value::boolean(true);
}

Value fnIsNotMember(std::span<const Value> a, const Call& c) {
    c.evaluator.chargeWork(a[0].size() * a[1].size(), c.offset);
    for (size_t i = 0; i < a[0].size(); ++i)
        if (positionIn(a[0], i, a[1])) return Value::boolean(false);
    return Value::boolean(true);
}

// Picks elements of v by index, keeping its type.
Value select(const Value& v, const std::vector<size_t>& indices) {
    auto pick = [&](const auto& list) {
        std::remove_cvref_t<decltype(list)> out;
        out.reserve(indices.size());
        for (size_t i : indices) out.push_back(list[i]);
        return Value(std::move(out));
    };
    switch (v.type()) {
        case ValueType::Text: return pick(v.texts());
        case ValueType::Number: return pick(v.numbers());
        case ValueType::DateTime: return pick(v.dateTimes());
    }
    return v;
}

Value fnSubset(std::span<const Value> a, const Call& c) {
    const int64_t n = c.integer(a[1]);
    if (n == 0) c.fail("the count must not be 0");
    const size_t size = a[0].size();
    const size_t take = std::min(size, static_cast<size_t>(n < 0 ? -n : n));
    std::vector<size_t> indices(take);
    std::iota(indices.begin(), indices.end(), n > 0 ? 0 : size - take);
    return select(a[0], indices);
}

Value fnUnique(std::span<const Value> a, const Call& c) {
    const Value& v = a[0];
    std::vector<size_t> keep;
    if (v.isText()) {
        std::unordered_set<std::string> seen;
        for (size_t i = 0; i < v.size(); ++i)
            if (seen.insert(collationKey(v.texts()[i])).second) keep.push_back(i);
    } else if (v.isNumber()) {
        std::unordered_set<double> seen;
        for (size_t i = 0; i < v.size(); ++i)
            if (seen.insert(v.numbers()[i]).second) keep.push_back(i);
    } else {
        std::set<std::pair<int32_t, int32_t>> seen;
        for (size_t i = 0; i < v.size(); ++i)
            if (seen.insert({v.dateTimes()[i].date, v.dateTimes()[i].ms}).second) keep.push_back(i);
    }
    return select(v, keep);
}

bool descendingOption(std::span<const Value> a, const Call& c) {
    bool descending = false;
    if (a.size() < 2) return false;
    for (const auto& option : c.texts(a[1])) {
        std::string o = option;
        for (char& ch : o) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (o == "descending")
            descending = true;
        else if (o == "ascending")
            descending = false;
        else if (o != "caseinsensitive" && o != "accentsensitive")
            c.fail(std::string("unsupported option [") + option + "]");
    }
    return descending;
}

Value fnSort(std::span<const Value> a, const Call& c) {
    const Value& v = a[0];
    const bool descending = descendingOption(a, c);
    const size_t n = v.size();
    c.evaluator.chargeWork(n * (1 + static_cast<size_t>(std::log2(n + 1))), c.offset);
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::vector<std::string> keys;
    if (v.isText())
        for (const auto& s : v.texts()) keys.push_back(collationKey(s));
    auto cmp = [&](size_t i, size_t j) {
        switch (v.type()) {
            case ValueType::Text: return keys[i].compare(keys[j]);
            case ValueType::Number: return compareNumbers(v.numbers()[i], v.numbers()[j]);
            case ValueType::DateTime: return compareDateTime(v.dateTimes()[i], v.dateTimes()[j]);
        }
        return 0;
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t i, size_t j) { return descending ? cmp(i, j) > 0 : cmp(i, j) < 0; });
    return select(v, order);
}

Value fnReplace(std::span<const Value> a, const Call& c) {
    const auto& from = c.texts(a[1]);
    const auto& to = c.texts(a[2]);
    Value::TextList out;
    c.evaluator.chargeWork(a[0].size() * from.size(), c.offset);
    for (const auto& s : c.texts(a[0])) {
        const auto it = std::find(from.begin(), from.end(), s);
        if (it == from.end()) {
            out.push_back(s);
            continue;
        }
        const auto k = static_cast<size_t>(it - from.begin());
        out.push_back(k < to.size() ? to[k] : std::string());
    }
    return Value(std::move(out));
}

double finite(double n, const Call& c) {
    if (!std::isfinite(n)) c.fail("numeric overflow");
    return n;
}

Value fnSum(std::span<const Value> a, const Call& c) {
    double sum = 0;
    for (const Value& v : a)
        for (double n : c.numbers(v)) sum += n;
    return Value(finite(sum, c));
}

template <int kSign>
Value extreme(std::span<const Value> a, const Call& c) {
    if (a.size() == 1) {
        const Value& v = a[0];
        if (v.isDateTime()) {
            const auto& d = v.dateTimes();
            return Value(*std::max_element(d.begin(), d.end(), [](const DateTime& x, const DateTime& y) {
                return kSign * compareDateTime(x, y) < 0;
            }));
        }
        const auto& n = c.numbers(v);
        return Value(*std::max_element(n.begin(), n.end(), [](double x, double y) { return kSign * (x - y) < 0; }));
    }
    if (a[0].isDateTime() && a[1].isDateTime()) {
        const auto& x = a[0].dateTimes();
        const auto& y = a[1].dateTimes();
        Value::DateTimeList out;
        for (size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
            const DateTime& p = x[std::min(i, x.size() - 1)];
            const DateTime& q = y[std::min(i, y.size() - 1)];
            out.push_back(kSign * compareDateTime(p, q) >= 0 ? p : q);
        }
        return Value(std::move(out));
    }
    const auto& x = c.numbers(a[0]);
    const auto& y = c.numbers(a[1]);
    Value::NumberList out;
    for (size_t i = 0; i < std::max(x.size(), y.size()); ++i) {
        const double p = x[std::min(i, x.size() - 1)];
        const double q = y[std::min(i, y.size() - 1)];
        out.push_back(kSign > 0 ? std::max(p, q) : std::min(p, q));
    }
    return Value(std::move(out));
}

template <class F>
Value mapNumbers(const Value& v, const Call& c, F f) {
    Value::NumberList out = c.numbers(v);
    for (double& n : out) n = finite(f(n), c);
    return Value(std::move(out));
}

Value fnAbs(std::span<const Value> a, const Call& c) {
    return mapNumbers(a[0], c, [](double n) { return std::fabs(n); });
}

Value fnInteger(std::span<const Value> a, const Call& c) {
    return mapNumbers(a[0], c, [](double n) { return std::trunc(n); });
}

Value fnRound(std::span<const Value> a, const Call& c) {
    const double factor = a.size() > 1 ? c.number(a[1]) : 1.0;
    if (factor == 0) c.fail("the factor must not be 0");
    return mapNumbers(a[0], c, [factor](double n) {
        // 0.07 / 0.01 is 7.000000000000001 in binary; scaling by the integral
        // reciprocal and dividing back gives the double nearest the decimal result.
        if (std::fabs(factor) < 1) {
            const double inverse = std::round(1 / factor);
            if (std::fabs(inverse * factor - 1) < 1e-12) return std::round(n * inverse) / inverse;
        }
        return std::round(n / factor) * factor;
    });
}

constexpr FunctionDef kListFunctions[] = {
    {"Elements", 1, 1, fnElements},
    {"Member", 2, 2, fnMember},
    {"IsMember", 2, 2, fnIsMember},
    {"IsNotMember", 2, 2, fnIsNotMember},
    {"Subset", 2, 2, fnSubset},
    {"Unique", 1, 1, fnUnique},
    {"Sort", 1, 2, fnSort},
    {"Replace", 3, 3, fnReplace},
    {"Sum", 1, kVariadic, fnSum},
    {"Max", 1, 2, extreme<1>},
    {"Min", 1, 2, extreme<-1>},
    {"Abs", 1, 1, fnAbs},
    {"Integer", 1, 1, fnInteger},
    {"Round", 1, 2, fnRound},
};

}  // namespace

std::span<const FunctionDef> listFunctions() { return kListFunctions; }

}  // namespace quire::formula
