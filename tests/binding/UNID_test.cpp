// The 32-character text form of universal IDs.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "binding/Quire01.h"
#include "rtl/Errors.h"

namespace {

UNID Words(uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3) { return UNID{{w0, w1, w2, w3}}; }

bool operator==(const UNID& a, const UNID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(UNIDText, WritesWordPairsHighWordFirst) {
  EXPECT_EQ(UNIDToStr(Words(2, 1, 4, 3)), "00000001000000020000000300000004");
  EXPECT_TRUE(StrToUNID("00000001000000020000000300000004") == Words(2, 1, 4, 3));
  EXPECT_EQ(UNIDToStr(Words(0xABCDEF01, 0x23456789, 0, 0xFEDCBA98)), "23456789ABCDEF01FEDCBA9800000000");
}

TEST(UNIDText, AllZeroAndAllOnes) {
  EXPECT_EQ(UNIDToStr(UNID{}), std::string(32, '0'));
  EXPECT_TRUE(StrToUNID(std::string(32, '0')) == UNID{});
  // A group with the top bit set is a full 32-bit word, not an overflow.
  EXPECT_TRUE(StrToUNID(std::string(32, 'F')) == Words(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF));
  EXPECT_TRUE(StrToUNID("80000000FFFFFFFF0000000000000000") == Words(0xFFFFFFFF, 0x80000000, 0, 0));
}

TEST(UNIDText, RoundTripsRandomIdentifiersAndTexts) {
  std::mt19937 random(20240601);
  for (int i = 0; i < 2000; ++i) {
    const UNID unid = Words(random(), random(), random(), random());
    const std::string text = UNIDToStr(unid);
    ASSERT_EQ(text.size(), 32u);
    ASSERT_TRUE(StrToUNID(text) == unid) << text;
  }
  const char digits[] = "0123456789ABCDEF";
  for (int i = 0; i < 2000; ++i) {
    std::string text;
    for (int d = 0; d < 32; ++d) text += digits[random() % 16];
    ASSERT_EQ(UNIDToStr(StrToUNID(text)), text);
  }
}

TEST(UNIDText, IgnoresBlanksAndControlCharactersAround) {
  const std::string text = "0123456789ABCDEF0123456789ABCDEF";
  const UNID expected = StrToUNID(text);
  EXPECT_TRUE(StrToUNID("   " + text + "  ") == expected);
  EXPECT_TRUE(StrToUNID("\t\r\n" + text + "\x01\x1f ") == expected);
  EXPECT_TRUE(StrToUNID(std::string(1, '\0') + text) == expected);
}

TEST(UNIDText, RejectsLowerCaseAndOtherCharactersNamingThem) {
  for (const std::string& text : {std::string("0000000a000000000000000000000000"),
                                  std::string("00000000000000000000000000000G00"),
                                  std::string("0000000000000000-000000000000000"),
                                  std::string("0x000000000000000000000000000000"),
                                  std::string("00000000 0000000000000000000000"
                                              "0"),
                                  std::string("000000000000000000000000000000\xC3\xA9")}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(StrToUNID(text), rtl::EConvertError);
  }
  try {
    StrToUNID("000000000000000a0000000000000000");
    FAIL() << "lower-case hexadecimal was accepted";
  } catch (const rtl::EConvertError& error) {
    EXPECT_STREQ(error.what(), "'0000000a' is not a valid integer value");
  }
}

TEST(UNIDText, TextOfAnotherLengthGivesTheZeroIdentifier) {
  for (const std::string& text : {std::string(), std::string("   "), std::string(31, 'A'), std::string(33, 'A'),
                                  std::string("zz"), std::string(64, 'F')}) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(StrToUNID(text) == UNID{});
  }
}

}  // namespace
