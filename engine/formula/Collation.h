// Text order shared by the formula language and the view indexes.
//
// Text compares by the ICU root collator at secondary strength with
// canonical normalisation: letter case is ignored, accents and other
// diacritics are not ("abc" = "ABC", "resume" < "résumé"), and canonically
// equivalent spellings are equal. Every comparing operation of the formula
// language (= <> < > <= >= and their permuted forms, @Member, @IsMember,
// @IsNotMember, @Unique, @Sort) uses this order; the view indexes sort text columns by
// collationKey() so that SQLite's memcmp order of the keys is this order.
//
// Ill-formed UTF-8 is read as U+FFFD. Both functions are pure and safe from
// any thread (each thread keeps its own collator).
#pragma once

#include <string>
#include <string_view>

namespace quire::formula {

// <0, 0 or >0 as a sorts before, with or after b.
int compareText(std::string_view a, std::string_view b);

inline bool equalText(std::string_view a, std::string_view b) { return a == b || compareText(a, b) == 0; }

// ICU sort key bytes (without the terminating zero): for any texts a and b,
// memcmp order of their keys, shorter-is-less on a common prefix, equals
// compareText order. Keys contain no zero byte.
std::string collationKey(std::string_view text);
// The same key appended to `out`.
void appendCollationKey(std::string& out, std::string_view text);

}  // namespace quire::formula
