#include "engine/formula/TextOps.h"

#include "engine/formula/NumberText.h"

#include <unicode/ustring.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

namespace quire::formula {

namespace {

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

int32_t clampLength(size_t n) { return n > INT32_MAX / 4 ? INT32_MAX / 4 : static_cast<int32_t>(n); }

bool toUtf16(std::string_view s, std::u16string& out) {
    out.resize(s.size() + 1);
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), clampLength(out.size()), &length, s.data(), clampLength(s.size()), 0xFFFD,
                         nullptr, &status);
    if (U_FAILURE(status)) return false;
    out.resize(static_cast<size_t>(length));
    return true;
}

std::string toUtf8(const std::u16string& s) {
    std::string out(s.size() * 3 + 1, '\0');
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), clampLength(out.size()), &length, s.data(), clampLength(s.size()), 0xFFFD,
                       nullptr, &status);
    if (U_FAILURE(status)) return {};
    out.resize(static_cast<size_t>(length));
    return out;
}

// ICU case mapping can lengthen text (German sharp s, ligatures): retry once
// with the size it asks for.
template <class Mapper>
std::u16string mapUtf16(const std::u16string& in, Mapper mapper) {
    std::u16string out(in.size() + 16, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = mapper(out.data(), clampLength(out.size()), in.data(), clampLength(in.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out.resize(static_cast<size_t>(length));
        status = U_ZERO_ERROR;
        length = mapper(out.data(), clampLength(out.size()), in.data(), clampLength(in.size()), &status);
    }
    if (U_FAILURE(status)) return in;
    out.resize(static_cast<size_t>(length));
    return out;
}

}  // namespace

size_t codePointCount(std::string_view s) {
    size_t n = 0;
    for (char c : s)
        if (!isContinuation(static_cast<unsigned char>(c))) ++n;
    return n;
}

size_t byteOffsetOf(std::string_view s, size_t index) {
    size_t seen = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (isContinuation(static_cast<unsigned char>(s[i]))) continue;
        if (seen == index) return i;
        ++seen;
    }
    return s.size();
}

std::string_view leftChars(std::string_view s, size_t n) { return s.substr(0, byteOffsetOf(s, n)); }

std::string_view rightChars(std::string_view s, size_t n) {
    const size_t total = codePointCount(s);
    if (n >= total) return s;
    return s.substr(byteOffsetOf(s, total - n));
}

std::string mapCase(std::string_view s, CaseMapping mapping) {
    std::u16string utf16;
    if (!toUtf16(s, utf16)) return std::string(s);
    std::u16string mapped;
    switch (mapping) {
        case CaseMapping::Upper:
            mapped = mapUtf16(utf16, [](UChar* d, int32_t dc, const UChar* s, int32_t sl, UErrorCode* e) {
                return u_strToUpper(d, dc, s, sl, "", e);
            });
            break;
        case CaseMapping::Lower:
            mapped = mapUtf16(utf16, [](UChar* d, int32_t dc, const UChar* s, int32_t sl, UErrorCode* e) {
                return u_strToLower(d, dc, s, sl, "", e);
            });
            break;
        case CaseMapping::Title:
            mapped = mapUtf16(utf16, [](UChar* d, int32_t dc, const UChar* s, int32_t sl, UErrorCode* e) {
                return u_strToTitle(d, dc, s, sl, nullptr, "", e);
            });
            break;
    }
    return toUtf8(mapped);
}

std::string trimSpaces(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    bool pendingSpace = false;
    for (char c : s) {
        if (c == ' ') {
            pendingSpace = !out.empty();
            continue;
        }
        if (pendingSpace) out += ' ';
        pendingSpace = false;
        out += c;
    }
    return out;
}

std::string formatNumber(double n) { return numberText(n); }

size_t numberText(double n, char* out) {
    const auto put = [out](std::string_view text) {
        std::memcpy(out, text.data(), text.size());
        return text.size();
    };
    if (n == 0) return put("0");  // also -0
    if (std::isnan(n)) return put("NaN");
    if (std::isinf(n)) return put(n < 0 ? "-Infinity" : "Infinity");
    // Whole numbers below 1E15 print as their digits under %.15G too; they are most of the
    // numbers views show, and formatting them directly costs a tenth of the general path.
    if (std::fabs(n) < 1e15 && n == std::trunc(n))
        return size_t(std::to_chars(out, out + kNumberTextCapacity, int64_t(n)).ptr - out);
    // At most a sign, 15 digits, a point and "E-308": it fits.
    size_t length = size_t(std::snprintf(out, kNumberTextCapacity, "%.15G", n));
    // "1E+21" as written; "1E-05" loses its padding zero.
    const std::string_view text(out, length);
    size_t e = text.find("E-0");
    if (e == std::string_view::npos) e = text.find("E+0");
    if (e != std::string_view::npos) {
        std::memmove(out + e + 2, out + e + 3, length - e - 3);
        --length;
    }
    return length;
}

std::string numberText(double n) {
    char text[kNumberTextCapacity];
    return std::string(text, numberText(n, text));
}

std::string formatFixed(double n, int decimals, bool thousands) {
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, n);
    std::string digits(buf);
    if (!thousands) return digits;
    const size_t start = digits[0] == '-' ? 1 : 0;
    size_t intEnd = digits.find('.');
    if (intEnd == std::string::npos) intEnd = digits.size();
    std::string out = digits.substr(0, start);
    for (size_t i = start; i < intEnd; ++i) {
        if (i > start && (intEnd - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    out += digits.substr(intEnd);
    return out;
}

}  // namespace quire::formula
