// IndexOf folds ASCII text with a table and everything else with ICU; both must agree with
// ICU's full case folding, also where ASCII and non-ASCII text fold to the same key.
#include <gtest/gtest.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <string>
#include <vector>

#include "rtl/StringList.h"

namespace {

using rtl::TStringList;

std::string IcuFold(const std::string& text) {
  icu::UnicodeString folded = icu::UnicodeString::fromUTF8(text);
  folded.foldCase(U_FOLD_CASE_DEFAULT);
  std::string out;
  folded.toUTF8String(out);
  return out;
}

// Every pair is looked up both ways: IndexOf finds the entry exactly when ICU folds both
// texts alike.
void ExpectAgreesWithIcu(const std::vector<std::string>& texts) {
  for (const std::string& entry : texts) {
    TStringList list;
    list.Add(entry);
    for (const std::string& probe : texts) {
      const bool same = IcuFold(entry) == IcuFold(probe);
      EXPECT_EQ(list.IndexOf(probe), same ? 0 : -1) << "entry \"" << entry << "\", probe \"" << probe << "\"";
    }
  }
}

TEST(StringListFolding, EveryAsciiCharacterFoldsAsIcuFoldsIt) {
  std::vector<std::string> texts;
  for (int c = 1; c < 0x80; ++c) texts.push_back(std::string(1, static_cast<char>(c)));
  ExpectAgreesWithIcu(texts);
}

TEST(StringListFolding, MixedAndNonAsciiTextAgreesWithIcu) {
  ExpectAgreesWithIcu({
      "k", "K", "\u212A",                    // KELVIN SIGN folds to ASCII k
      "s", "S", "\u017F",                    // LONG S folds to ASCII s
      "ss", "SS", "\u00DF", "\u1E9E",        // sharp s, small and capital, fold to "ss"
      "Strasse", "STRASSE", "Stra\u00DFe",   // ASCII text meeting its non-ASCII spelling
      "\u00C4rger", "\u00E4RGER", "Arger",
      "I", "i", "\u0130", "\u0131",          // dotted and dotless i stay apart from ASCII
      "Form", "FORM", "f\u00F6rm", "Fo\u0301rm",
      "\u03A3\u039F\u03A3", "\u03C3\u03BF\u03C2",  // final sigma folds to sigma
      "", " ", "Tags_1", "tags_1",
  });
}

TEST(StringListFolding, AsciiLookupFindsEntriesAddedWithNonAsciiText) {
  TStringList list;
  list.Add("Stra\u00DFe");
  list.Add("\u212Aelvin");
  EXPECT_EQ(list.IndexOf("STRASSE"), 0);
  EXPECT_EQ(list.IndexOf("kelvin"), 1);
  EXPECT_EQ(list.IndexOf("KELVIN"), 1);
  list.SetStrings(0, "Plain");
  EXPECT_EQ(list.IndexOf("strasse"), -1);
  EXPECT_EQ(list.IndexOf("PLAIN"), 0);
}

}  // namespace
