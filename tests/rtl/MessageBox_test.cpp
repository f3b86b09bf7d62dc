#include "rtl/MessageBox.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <vector>

#include "rtl/Errno.h"

namespace {

struct Shown {
  std::string text, caption;
  unsigned flags;
};

TEST(MessageBox, RecorderReceivesEveryMessageAndIsRemovedAfterwards) {
  std::vector<Shown> shown;
  {
    rtl::ScopedMessageBoxHandler recorder([&](const std::string& text, const std::string& caption, unsigned flags) {
      shown.push_back({text, caption, flags});
      return 7;
    });
    EXPECT_EQ(rtl::ShowMessageBox("Error Loading DLL\r\nsecond line", "Error", rtl::kMbOk), 7);
  }
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Error Loading DLL\r\nsecond line");
  EXPECT_EQ(shown[0].caption, "Error");
  EXPECT_EQ(shown[0].flags, rtl::kMbOk);

  ::testing::internal::CaptureStderr();
  EXPECT_EQ(rtl::ShowMessageBox("text", "caption"), rtl::kIdOk);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "caption: text\n");
  EXPECT_EQ(shown.size(), 1u);
}

TEST(Errno, GivesTheSystemText) {
  EXPECT_EQ(rtl::ErrnoText(ENOENT), "No such file or directory");
  EXPECT_FALSE(rtl::ErrnoText(-12345).empty());
}

}  // namespace
