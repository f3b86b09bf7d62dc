// Large blocks are mappings of their own, trimmed to huge-page alignment: growing through the
// threshold, copying between block kinds and releasing must keep every byte and never touch
// memory outside the block (the sanitizer build watches the small ones).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/LargeAllocator.h"

namespace quire::engine::test {
namespace {

TEST(LargeAllocator, GrowingPastTheThresholdKeepsEveryElement) {
  std::vector<uint64_t, LargeAllocator<uint64_t>> numbers;
  std::basic_string<char, std::char_traits<char>, LargeAllocator<char>> text;
  constexpr uint64_t kCount = 3 * (uint64_t(1) << 20);  // 24 MB of numbers: several doublings
  for (uint64_t i = 0; i < kCount; ++i) {
    numbers.push_back(i * 2654435761u);
    if (i % 4 == 0) text.push_back(char('a' + i % 26));
  }
  ASSERT_EQ(numbers.size(), kCount);
  for (uint64_t i = 0; i < kCount; ++i) ASSERT_EQ(numbers[i], i * 2654435761u) << i;
  // Large blocks start on a 2 MB boundary, where huge pages can back them.
  EXPECT_EQ(reinterpret_cast<uintptr_t>(numbers.data()) % (uintptr_t(2) << 20), 0u);
  for (size_t i = 0; i < text.size(); ++i) ASSERT_EQ(text[i], char('a' + (i * 4) % 26)) << i;
  // Shrinking back under the threshold moves the elements to an ordinary block.
  numbers.resize(1000);
  numbers.shrink_to_fit();
  for (uint64_t i = 0; i < 1000; ++i) ASSERT_EQ(numbers[i], i * 2654435761u);
}

}  // namespace
}  // namespace quire::engine::test
