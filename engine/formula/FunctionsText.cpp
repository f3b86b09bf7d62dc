// Text @functions. Searching inside text is exact (case and accents count);
// positions and lengths count code points.
#include "engine/formula/Evaluator.h"
#include "engine/formula/Functions.h"
#include "engine/formula/TextOps.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace quire::formula {

namespace {

template <class F>
Value mapTexts(const Value& v, const Call& call, F f) {
    Value::TextList out;
    out.reserve(v.size());
    for (const std::string& s : call.texts(v)) out.push_back(std::string(f(s)));
    return Value(std::move(out));
}

template <class Test>
Value anyPair(std::span<const Value> args, const Call& call, Test test) {
    const auto& texts = call.texts(args[0]);
    const auto& subs = call.texts(args[1]);
    call.evaluator.chargeWork(texts.size() * subs.size(), call.offset);
    for (const auto& t : texts)
        for (const auto& s : subs)
            if (test(std::string_view(t), std::string_view(s))) return Value::boolean(true);
    return Value::boolean(false);
}

Value fnContains(std::span<const Value> a, const Call& c) {
    return anyPair(a, c, [](std::string_view t, std::string_view s) { return t.find(s) != std::string_view::npos; });
}
Value fnBegins(std::span<const Value> a, const Call& c) {
    return anyPair(a, c, [](std::string_view t, std::string_view s) { return t.substr(0, s.size()) == s; });
}
Value fnEnds(std::span<const Value> a, const Call& c) {
    return anyPair(a, c, [](std::string_view t, std::string_view s) {
        return t.size() >= s.size() && t.substr(t.size() - s.size()) == s;
    });
}

size_t count(const Call& c, const Value& v) {
    const int64_t n = c.integer(v);
    return n < 0 ? 0 : static_cast<size_t>(n);
}

// The four cut functions share one shape: a count of characters, or a text
// found first (Left, Right) or last (LeftBack, RightBack).
enum class Cut { Left, Right, LeftBack, RightBack };

std::string_view cutByCount(std::string_view s, size_t n, Cut cut) {
    const size_t total = codePointCount(s);
    switch (cut) {
        case Cut::Left: return leftChars(s, n);
        case Cut::Right: return rightChars(s, n);
        case Cut::LeftBack: return leftChars(s, n >= total ? 0 : total - n);
        case Cut::RightBack: return rightChars(s, n >= total ? 0 : total - n);
    }
    return s;
}

std::string_view cutByText(std::string_view s, std::string_view sub, Cut cut) {
    const bool fromEnd = cut == Cut::LeftBack || cut == Cut::RightBack;
    const size_t at = fromEnd ? s.rfind(sub) : s.find(sub);
    if (at == std::string_view::npos) return {};
    if (cut == Cut::Left || cut == Cut::LeftBack) return s.substr(0, at);
    return s.substr(at + sub.size());
}

template <Cut kCut>
Value fnCut(std::span<const Value> a, const Call& c) {
    if (a[1].isNumber()) {
        const size_t n = count(c, a[1]);
        return mapTexts(a[0], c, [n](std::string_view s) { return cutByCount(s, n, kCut); });
    }
    const std::string& sub = c.text(a[1]);
    return mapTexts(a[0], c, [&sub](std::string_view s) { return cutByText(s, sub, kCut); });
}

std::string_view middle(std::string_view s, const Value& from, const Value& to, const Call& c) {
    size_t after = 0;   // where a positive count or an end text starts
    size_t before = 0;  // where a negative count ends
    if (from.isNumber()) {
        after = before = byteOffsetOf(s, count(c, from));
    } else {
        const std::string& start = c.text(from);
        const size_t at = s.find(start);
        if (at == std::string_view::npos) return {};
        before = at;
        after = at + start.size();
    }
    if (!to.isNumber()) {
        const std::string& end = c.text(to);
        const size_t at = s.find(end, after);
        return s.substr(after, at == std::string_view::npos ? std::string_view::npos : at - after);
    }
    const int64_t n = c.integer(to);
    if (n >= 0) return leftChars(s.substr(after), static_cast<size_t>(n));
    return rightChars(s.substr(0, before), static_cast<size_t>(-n));
}

Value fnMiddle(std::span<const Value> a, const Call& c) {
    return mapTexts(a[0], c, [&](std::string_view s) { return middle(s, a[1], a[2], c); });
}

Value fnLength(std::span<const Value> a, const Call& c) {
    Value::NumberList out;
    for (const auto& s : c.texts(a[0])) out.push_back(static_cast<double>(codePointCount(s)));
    return Value(std::move(out));
}

Value fnTrim(std::span<const Value> a, const Call& c) {
    Value::TextList out;
    for (const auto& s : c.texts(a[0]))
        if (std::string t = trimSpaces(s); !t.empty()) out.push_back(std::move(t));
    return Value(std::move(out));
}

template <CaseMapping kMapping>
Value fnCase(std::span<const Value> a, const Call& c) {
    return mapTexts(a[0], c, [](std::string_view s) { return mapCase(s, kMapping); });
}

std::string_view word(std::string_view s, std::string_view separator, int64_t n) {
    if (n == 0) return {};
    std::vector<std::string_view> words;
    if (separator.empty()) {
        words.push_back(s);
    } else {
        size_t start = 0;
        for (size_t at; (at = s.find(separator, start)) != std::string_view::npos; start = at + separator.size())
            words.push_back(s.substr(start, at - start));
        words.push_back(s.substr(start));
    }
    const auto size = static_cast<int64_t>(words.size());
    const int64_t index = n > 0 ? n - 1 : size + n;
    return index >= 0 && index < size ? words[static_cast<size_t>(index)] : std::string_view{};
}

Value fnWord(std::span<const Value> a, const Call& c) {
    const std::string& separator = c.text(a[1]);
    const int64_t n = c.integer(a[2]);
    return mapTexts(a[0], c, [&](std::string_view s) { return word(s, separator, n); });
}

// Separators are code points, so a multi-byte separator splits whole characters.
std::vector<std::string_view> codePoints(std::string_view s) {
    std::vector<std::string_view> out;
    for (size_t i = 0; i < s.size();) {
        size_t j = i + 1;
        while (j < s.size() && (static_cast<unsigned char>(s[j]) & 0xC0) == 0x80) ++j;
        out.push_back(s.substr(i, j - i));
        i = j;
    }
    return out;
}

void explodeOne(std::string_view s, const std::vector<std::string_view>& seps, bool keepEmpty,
                Value::TextList& out) {
    std::string piece;
    auto flush = [&] {
        if (keepEmpty || !piece.empty()) out.push_back(piece);
        piece.clear();
    };
    for (std::string_view cp : codePoints(s)) {
        if (std::find(seps.begin(), seps.end(), cp) != seps.end())
            flush();
        else
            piece += cp;
    }
    flush();
}

Value fnExplode(std::span<const Value> a, const Call& c) {
    const std::string separators = a.size() > 1 ? c.text(a[1]) : std::string(" ,;");
    const bool keepEmpty = a.size() > 2 && c.numbers(a[2])[0] != 0;
    const bool newlines = a.size() <= 3 || c.numbers(a[3])[0] != 0;
    std::vector<std::string_view> seps = codePoints(separators);
    if (newlines) {
        seps.push_back("\n");
        seps.push_back("\r");
    }
    Value::TextList out;
    for (const auto& s : c.texts(a[0])) {
        c.evaluator.chargeWork(s.size() * seps.size(), c.offset);
        explodeOne(s, seps, keepEmpty, out);
        c.reserve(out.size() * sizeof(std::string));
    }
    return Value(std::move(out));
}

Value fnImplode(std::span<const Value> a, const Call& c) {
    const std::string separator = a.size() > 1 ? c.text(a[1]) : std::string(" ");
    std::string out;
    const auto& texts = c.texts(a[0]);
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i) out += separator;
        out += texts[i];
        c.reserve(out.size());
    }
    return Value(std::move(out));
}

// One pass from the left; at each position the first matching `from` wins
// and replaced text is not searched again, so replacements cannot cascade.
std::string replaceAll(std::string_view s, const Value::TextList& from, const Value::TextList& to, const Call& c) {
    std::string out;
    size_t i = 0;
    while (i < s.size()) {
        bool replaced = false;
        for (size_t k = 0; k < from.size() && !replaced; ++k) {
            if (from[k].empty() || s.compare(i, from[k].size(), from[k]) != 0) continue;
            out += to[std::min(k, to.size() - 1)];
            i += from[k].size();
            replaced = true;
        }
        if (!replaced) out += s[i++];
        if (out.size() > c.evaluator.bytesLeft()) c.reserve(out.size());
    }
    return out;
}

Value fnReplaceSubstring(std::span<const Value> a, const Call& c) {
    const auto& from = c.texts(a[1]);
    const auto& to = c.texts(a[2]);
    Value::TextList out;
    for (const auto& s : c.texts(a[0])) {
        c.evaluator.chargeWork(s.size() * from.size(), c.offset);
        out.push_back(replaceAll(s, from, to, c));
    }
    return Value(std::move(out));
}

std::string numberText(double n, std::string_view format) {
    const size_t f = format.find_first_of("Ff");
    if (f == std::string_view::npos) return formatNumber(n);
    int decimals = 0;
    std::from_chars(format.data() + f + 1, format.data() + format.size(), decimals);
    decimals = std::clamp(decimals, 0, 15);
    return formatFixed(n, decimals, format.find(',') != std::string_view::npos);
}

Value fnText(std::span<const Value> a, const Call& c) {
    const Value& v = a[0];
    if (v.isText()) return v;
    const std::string format = a.size() > 1 ? c.text(a[1]) : std::string();
    Value::TextList out;
    if (v.isNumber())
        for (double n : v.numbers()) out.push_back(numberText(n, format));
    else
        for (const DateTime& dt : v.dateTimes()) out.push_back(c.context.formatDateTime(dt));
    return Value(std::move(out));
}

Value fnTextToNumber(std::span<const Value> a, const Call& c) {
    if (a[0].isNumber()) return a[0];
    Value::NumberList out;
    for (const auto& s : c.texts(a[0])) {
        std::string_view t = s;
        while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
        while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
        if (!t.empty() && t.front() == '+') t.remove_prefix(1);
        double n = 0;
        const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
        if (t.empty() || ec != std::errc() || end != t.data() + t.size() || !std::isfinite(n)) {
            std::string shown = "\"";
            shown.append(s, 0, 40);
            c.fail(shown + "\" is not a number");
        }
        out.push_back(n);
    }
    return Value(std::move(out));
}

Value fnNewLine(std::span<const Value>, const Call&) { return Value("\n"); }

constexpr FunctionDef kTextFunctions[] = {
    {"Contains", 2, 2, fnContains},
    {"Begins", 2, 2, fnBegins},
    {"Ends", 2, 2, fnEnds},
    {"Left", 2, 2, fnCut<Cut::Left>},
    {"Right", 2, 2, fnCut<Cut::Right>},
    {"LeftBack", 2, 2, fnCut<Cut::LeftBack>},
    {"RightBack", 2, 2, fnCut<Cut::RightBack>},
    {"Middle", 3, 3, fnMiddle},
    {"Length", 1, 1, fnLength},
    {"Trim", 1, 1, fnTrim},
    {"UpperCase", 1, 1, fnCase<CaseMapping::Upper>},
    {"LowerCase", 1, 1, fnCase<CaseMapping::Lower>},
    {"ProperCase", 1, 1, fnCase<CaseMapping::Title>},
    {"Word", 3, 3, fnWord},
    {"Explode", 1, 4, fnExplode},
    {"Implode", 1, 2, fnImplode},
    {"ReplaceSubstring", 3, 3, fnReplaceSubstring},
    {"Text", 1, 2, fnText},
    {"TextToNumber", 1, 1, fnTextToNumber},
    {"NewLine", 0, 0, fnNewLine},
};

}  // namespace

std::span<const FunctionDef> textFunctions() { return kTextFunctions; }

}  // namespace quire::formula
