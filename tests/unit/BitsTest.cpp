#include "support/Bits.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace ordana {
namespace {

TEST(BitsTest, CountTrailingZerosIsTheIndexOfTheLowestSetBit) {
  for (std::uint32_t bit = 0; bit < 32; ++bit) {
    const std::uint32_t single = std::uint32_t{1} << bit;
    EXPECT_EQ(CountTrailingZeros(single), bit);
    // Higher bits do not matter.
    EXPECT_EQ(CountTrailingZeros(single | 0x80000000u), bit);
    EXPECT_EQ(CountTrailingZeros(~(single - 1)), bit);
  }
}

TEST(BitsTest, ReleaseStoreIsSeenByAcquireLoad) {
  std::uint32_t words[3] = {7, 8, 9};
  StoreRelease(&words[1], 0xCAFEF00Du);
  EXPECT_EQ(LoadAcquire(&words[1]), 0xCAFEF00Du);
  EXPECT_EQ(words[0], 7u);
  EXPECT_EQ(words[2], 9u);
}

}  // namespace
}  // namespace ordana
