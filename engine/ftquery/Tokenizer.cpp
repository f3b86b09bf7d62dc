#include "engine/ftquery/FtQuery.h"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <memory>

namespace quire::ftquery {

namespace {

constexpr UChar32 kBoundaryChar = 0xE000;

// NFKC with case folding, then diacritics removed: decompose, drop
// non-spacing marks, recompose.
icu::UnicodeString normalize(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfkcCf = icu::Normalizer2::getNFKCCasefoldInstance(status);
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    icu::UnicodeString source = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    if (U_FAILURE(status)) return source;
    icu::UnicodeString decomposed = nfd->normalize(nfkcCf->normalize(source, status), status);
    if (U_FAILURE(status)) return source;
    icu::UnicodeString stripped;
    for (int32_t i = 0; i < decomposed.length();) {
        const UChar32 c = decomposed.char32At(i);
        if (u_charType(c) != U_NON_SPACING_MARK) stripped.append(c);
        i += U16_LENGTH(c);
    }
    icu::UnicodeString out = nfc->normalize(stripped, status);
    return U_FAILURE(status) ? stripped : out;
}

icu::BreakIterator* threadWordBreaker() {
    thread_local std::unique_ptr<icu::BreakIterator> breaker = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> b(icu::BreakIterator::createWordInstance(icu::Locale::getRoot(), status));
        return U_FAILURE(status) ? nullptr : std::move(b);
    }();
    return breaker.get();
}

bool separates(UChar32 c) {
    if (c == kBoundaryChar) return true;
    const int8_t type = u_charType(c);
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR ||
           type == U_CONTROL_CHAR;
}

void appendCut(std::string& token, std::vector<std::string>& out) {
    if (token.empty()) return;
    if (token.size() > kMaxTokenBytes) {
        size_t cut = kMaxTokenBytes;
        while (cut > 0 && (static_cast<unsigned char>(token[cut]) & 0xC0) == 0x80) --cut;
        token.resize(cut);
    }
    out.push_back(std::move(token));
    token.clear();
}

// A word segment may still hold characters the FTS5 tokenizer splits at; cut
// there too so both sides see the same tokens.
void appendSegment(const icu::UnicodeString& segment, std::vector<std::string>& out) {
    std::string token;
    for (int32_t i = 0; i < segment.length();) {
        const UChar32 c = segment.char32At(i);
        i += U16_LENGTH(c);
        if (separates(c)) {
            appendCut(token, out);
            continue;
        }
        icu::UnicodeString(c).toUTF8String(token);
    }
    appendCut(token, out);
}

}  // namespace

std::vector<std::string> tokenize(std::string_view text) {
    std::vector<std::string> out;
    const icu::UnicodeString normalized = normalize(text);
    icu::BreakIterator* breaker = threadWordBreaker();
    if (!breaker) {
        appendSegment(normalized, out);
        return out;
    }
    breaker->setText(normalized);
    int32_t start = breaker->first();
    for (int32_t end = breaker->next(); end != icu::BreakIterator::DONE; start = end, end = breaker->next()) {
        if (breaker->getRuleStatus() == UBRK_WORD_NONE) continue;
        appendSegment(icu::UnicodeString(normalized, start, end - start), out);
    }
    // The iterator keeps a reference to its text: leave none to `normalized`.
    static const icu::UnicodeString kNoText;
    breaker->setText(kNoText);
    return out;
}

std::string fieldKey(std::string_view itemName) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name;
    normalize(itemName).toUTF8String(name);
    std::string key;
    key.reserve(name.size() * 2 + 1);
    for (unsigned char c : name) {
        key += kHex[c >> 4];
        key += kHex[c & 15];
    }
    key += 'x';
    return key;
}

}  // namespace quire::ftquery
