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

std::string collationKey(std::string_view text) {
    UCollator* collator = threadCollator();
    if (!collator) return std::string(text);
    std::vector<UChar> utf16(text.size() + 1);
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(utf16.data(), clampLength(utf16.size()), &length, text.data(), clampLength(text.size()),
                         0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) return std::string(text);
    std::string key(static_cast<size_t>(length) * 4 + 32, '\0');
    int32_t needed = ucol_getSortKey(collator, utf16.data(), length, reinterpret_cast<uint8_t*>(key.data()),
                                     clampLength(key.size()));
    if (needed > static_cast<int32_t>(key.size())) {
        key.resize(static_cast<size_t>(needed));
        needed = ucol_getSortKey(collator, utf16.data(), length, reinterpret_cast<uint8_t*>(key.data()),
                                 clampLength(key.size()));
    }
    key.resize(needed > 0 ? static_cast<size_t>(needed) - 1 : 0);  // drop the terminating zero
    return key;
}

}  // namespace quire::formula
