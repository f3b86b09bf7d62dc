// Loading the real engine through the normal library search (libquire's RUNPATH $ORIGIN)
// and translating non-ASCII text to LMBCS and back through it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "binding/Quire01.h"
#include "tests/binding/LoaderFixture.h"

namespace {

class EngineTest : public FakeApiTest {
 protected:
  // In the child: the engine's data lives in this test's directory, and the default
  // library names are used, as an application would.
  void UseEngine() const {
    setenv("HOME", dir_.c_str(), 1);
    setenv("XDG_DATA_HOME", dir_.c_str(), 1);
    setenv("QUIRE_DATA", (dir_ + "/data").c_str(), 1);
    Initialize();
    ASSERT_TRUE(DLLLoaded);
    ASSERT_TRUE(HTInitOK) << std::hex << HTGlobalErr << " " << GetNotesErrorText(HTGlobalErr);
    char probe[8] = {};
    HTUINT length = 0;
    if (HTAPI.HTTranslate(HTTRANSLATE_NATIVE_TO_LMBCS, 1, "a", sizeof probe, probe, &length) ==
        HTFAIL_NOT_IMPLEMENTED) {
      std::exit(kChildSkipped);
    }
    TranslateOn = true;
  }
};

std::string ToLmbcs(const std::string& text) {
  std::string lmbcs;
  Translate_From_Native(text.c_str(), lmbcs);
  return lmbcs;
}

std::string ToNative(const std::string& lmbcs) {
  std::string text;
  Translate_To_Native(lmbcs.c_str(), text);
  return text;
}

TEST_F(EngineTest, NonAsciiTextRoundTripsThroughLmbcs) {
  const int code = RunInChild([&] {
    UseEngine();
    if (HasFatalFailure()) return;
    // Characters of the code page LMBCS favours are single bytes; others carry a group byte.
    EXPECT_EQ(ToLmbcs("Grüße"), "Gr\x81\xE1" "e");
    EXPECT_EQ(ToLmbcs("café"), "caf\x82");
    const std::vector<std::string> texts = {
        "plain ASCII stays as it is", "Grüße aus Köln", "Ελληνικά", "日本語のテキスト", "€ 100,–",
        "╔═══╗ box drawing", "emoji 😀 beyond the basic plane", "Ünïcödé mixed with ASCII ✓"};
    for (const std::string& text : texts) {
      SCOPED_TRACE(text);
      const std::string lmbcs = ToLmbcs(text);
      EXPECT_EQ(ToNative(lmbcs), text);
    }
    EXPECT_EQ(ToLmbcs("plain ASCII stays as it is"), "plain ASCII stays as it is");
  });
  if (code == kChildSkipped) GTEST_SKIP() << "the engine does not implement HTTranslate yet";
  EXPECT_EQ(code, 0);
}

TEST_F(EngineTest, TextThatGrowsBeyondTheBufferSurvivesTheWayBack) {
  const int code = RunInChild([&] {
    UseEngine();
    if (HasFatalFailure()) return;
    // One LMBCS byte each, three UTF-8 bytes each: more than the buffer sizes allow.
    for (const size_t count : {size_t{3}, size_t{20000}, size_t{40000}}) {
      std::string text;
      for (size_t i = 0; i < count; ++i) text += "═";
      const std::string lmbcs = ToLmbcs(text);
      ASSERT_EQ(lmbcs.size(), count);
      const std::string back = ToNative(lmbcs);
      EXPECT_EQ(back.size(), text.size()) << count << " characters";
      EXPECT_TRUE(back == text) << count << " characters";
    }
  });
  if (code == kChildSkipped) GTEST_SKIP() << "the engine does not implement HTTranslate yet";
  EXPECT_EQ(code, 0);
}

}  // namespace
