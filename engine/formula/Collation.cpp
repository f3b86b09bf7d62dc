#include "engine/formula/Collation.h"

#include <unicode/ucol.h>
#include <unicode/ustring.h>

#include <climits>
#include <memory>
#include <vector>

namespace quire::formula {

namespace {

struct CollatorCloser {
    void operator()(UCollator* c) const { ucol_close(c); }
};

// A UCollator may not be used from two threads at once, so each thread opens
// its own; opening the root collator is cheap after the first time.
UCollator* threadCollator() {
    thread_local std::unique_ptr<UCollator, CollatorCloser> collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<UCollator, CollatorCloser> c(ucol_open("", &status));
        if (U_FAILURE(status)) return std::unique_ptr<UCollator, CollatorCloser>();
        ucol_setStrength(c.get(), UCOL_SECONDARY);
        ucol_setAttribute(c.get(), UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
        return c;
    }();
    return collator.get();
}

int32_t clampLength(size_t n) { return n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n); }

}  // namespace

int compareText(std::string_view a, std::string_view b) {
    if (a == b) return 0;
    UCollator* collator = threadCollator();
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult r = UCOL_EQUAL;
    if (collator)
        r = ucol_strcollUTF8(collator, a.data(), clampLength(a.size()), b.data(), clampLength(b.size()), &status);
    if (!collator || U_FAILURE(status)) return a < b ? -1 : 1;  // ICU data missing: fall back to bytes
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

void appendCollationKey(std::string& out, std::string_view text) {
    UCollator* collator = threadCollator();
    if (!collator) {
        out += text;
        return;
    }
    // Per-thread room, for the texts of ordinary length: a view build asks for a key per
    // distinct text of every document. A long text gets room of its own, not kept.
    constexpr size_t kKeptRoom = 4096;
    thread_local std::vector<UChar> kept;
    std::vector<UChar> own;
    std::vector<UChar>& utf16 = text.size() < kKeptRoom ? kept : own;
    if (utf16.size() < text.size() + 1) utf16.resize(text.size() + 1);
    int32_t length = 0;
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {  // UTF-8 and UTF-16 agree on ASCII, unit for unit
        for (size_t i = 0; i < text.size(); ++i) utf16[i] = UChar(static_cast<unsigned char>(text[i]));
        length = clampLength(text.size());
    } else {
        UErrorCode status = U_ZERO_ERROR;
        u_strFromUTF8WithSub(utf16.data(), clampLength(utf16.size()), &length, text.data(), clampLength(text.size()),
                             0xFFFD, nullptr, &status);
        if (U_FAILURE(status)) {
            out += text;
            return;
        }
    }
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(length) * 4 + 32);
    int32_t needed = ucol_getSortKey(collator, utf16.data(), length, reinterpret_cast<uint8_t*>(out.data() + start),
                                     clampLength(out.size() - start));
    if (needed > static_cast<int32_t>(out.size() - start)) {
        out.resize(start + static_cast<size_t>(needed));
        needed = ucol_getSortKey(collator, utf16.data(), length, reinterpret_cast<uint8_t*>(out.data() + start),
                                 clampLength(out.size() - start));
    }
    out.resize(start + (needed > 0 ? static_cast<size_t>(needed) - 1 : 0));  // drop the terminating zero
}

std::string collationKey(std::string_view text) {
    std::string key;
    appendCollationKey(key, text);
    return key;
}

}  // namespace quire::formula
