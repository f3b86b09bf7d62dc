// Native/LMBCS translation against the C API double, which upper-cases on the way to LMBCS,
// lower-cases on the way back, and logs the buffer size it was given.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/Quire01.h"
#include "tests/binding/LoaderFixture.h"

namespace {

using TranslateTest = FakeApiTest;

// Restores TranslateOn in this (never loading) process.
class TranslationSwitch {
 public:
  explicit TranslationSwitch(bool on) : saved_(TranslateOn) { TranslateOn = on; }
  ~TranslationSwitch() { TranslateOn = saved_; }

 private:
  bool saved_;
};

TEST(Translate, SwitchedOffCopiesTheSourceUnchanged) {
  TranslationSwitch off(false);
  std::string dest = "previous";
  Translate_From_Native("Grüße, World", dest);
  EXPECT_EQ(dest, "Grüße, World");
  Translate_To_Native("Grüße, World", dest);
  EXPECT_EQ(dest, "Grüße, World");
  Translate_To_Native(nullptr, dest);
  EXPECT_EQ(dest, "");
}

TEST(Translate, WithoutAnEngineTheSourceIsKept) {
  TranslationSwitch on(true);  // this process has no library: the slot holds its fallback
  std::string dest;
  Translate_From_Native("abc", dest);
  EXPECT_EQ(dest, "abc");
}

TEST_F(TranslateTest, SwitchedOffMakesNoCall) {
  const int code = RunInChild([&] {
    UseFakes();
    Initialize();
    ASSERT_FALSE(TranslateOn);  // loading leaves translation off
    std::string dest;
    Translate_From_Native("Mixed Case", dest);
    EXPECT_EQ(dest, "Mixed Case");
    Translate_To_Native("Mixed Case", dest);
    EXPECT_EQ(dest, "Mixed Case");
    EXPECT_TRUE(Calls("HTTranslate").empty());
  });
  EXPECT_EQ(code, 0);
}

TEST_F(TranslateTest, SwitchedOnTranslatesBothWays) {
  const int code = RunInChild([&] {
    UseFakes();
    Initialize();
    TranslateOn = true;
    std::string dest;
    Translate_From_Native("Mixed Case", dest);
    EXPECT_EQ(dest, "MIXED CASE");
    Translate_To_Native("Mixed Case", dest);
    EXPECT_EQ(dest, "mixed case");
    EXPECT_EQ(Calls("HTTranslate"), (std::vector<std::string>{"HTTranslate 0 10 20", "HTTranslate 1 10 20"}));
  });
  EXPECT_EQ(code, 0);
}

TEST_F(TranslateTest, EmptySourceGivesEmptyTextWithoutACall) {
  const int code = RunInChild([&] {
    UseFakes();
    Initialize();
    TranslateOn = true;
    std::string dest = "previous";
    Translate_From_Native("", dest);
    EXPECT_EQ(dest, "");
    dest = "previous";
    Translate_To_Native(nullptr, dest);
    EXPECT_EQ(dest, "");
    EXPECT_TRUE(Calls("HTTranslate").empty());
  });
  EXPECT_EQ(code, 0);
}

TEST_F(TranslateTest, BufferIsTwiceTheLengthBelow32000AndLengthPlus1000From32000On) {
  struct Case {
    size_t length;
    HTUINT capacity;
  };
  const Case cases[] = {{1, 2}, {31999, 63998}, {32000, 33000}, {100000, 101000}};
  const int code = RunInChild([&] {
    UseFakes();
    Initialize();
    TranslateOn = true;
    for (const Case& c : cases) {
      const std::string source(c.length, 'q');
      std::string dest;
      Translate_From_Native(source.c_str(), dest);
      EXPECT_EQ(dest, std::string(c.length, 'Q'));
      Translate_To_Native(dest.c_str(), dest);
      EXPECT_EQ(dest, source);
    }
    std::vector<std::string> expected;
    for (const Case& c : cases) {
      for (int mode : {0, 1}) {
        expected.push_back("HTTranslate " + std::to_string(mode) + " " + std::to_string(c.length) + " " +
                           std::to_string(c.capacity));
      }
    }
    EXPECT_EQ(Calls("HTTranslate"), expected);
  });
  EXPECT_EQ(code, 0);
}

TEST_F(TranslateTest, UnterminatedOutputEndsWithinTheBuffer) {
  const int code = RunInChild([&] {
    UseFakes({{"QR_FAKE_TRANSLATE", "unterminated"}});
    Initialize();
    TranslateOn = true;
    std::string dest;
    Translate_To_Native("abcde", dest);  // 10-byte buffer filled to the brim
    EXPECT_EQ(dest, std::string(9, 'x'));
  });
  EXPECT_EQ(code, 0);
}

TEST_F(TranslateTest, FailedTranslationKeepsTheSource) {
  const int code = RunInChild([&] {
    UseFakes({{"QR_FAKE_TRANSLATE", "fail"}});
    Initialize();
    TranslateOn = true;
    std::string dest;
    Translate_To_Native("Grüße", dest);
    EXPECT_EQ(dest, "Grüße");
  });
  EXPECT_EQ(code, 0);
}

TEST_F(TranslateTest, TooSmallBufferIsRetriedWithTheSizeTheEngineNeeds) {
  const int code = RunInChild([&] {
    UseFakes({{"QR_FAKE_TRANSLATE", "triple"}});
    Initialize();
    TranslateOn = true;
    std::string dest;
    Translate_To_Native("abcd", dest);
    EXPECT_EQ(dest, "aaabbbcccddd");
    EXPECT_EQ(Calls("HTTranslate"), (std::vector<std::string>{"HTTranslate 1 4 8", "HTTranslate 1 4 13"}));
  });
  EXPECT_EQ(code, 0);
}

TEST_F(TranslateTest, TooSmallBufferWithoutASizeKeepsTheCutText) {
  const int code = RunInChild([&] {
    UseFakes({{"QR_FAKE_TRANSLATE", "triple-nohint"}});
    Initialize();
    TranslateOn = true;
    std::string dest;
    Translate_To_Native("abcd", dest);
    EXPECT_EQ(dest, "aaabbbc");
    EXPECT_EQ(Calls("HTTranslate").size(), 1u);
  });
  EXPECT_EQ(code, 0);
}

}  // namespace
