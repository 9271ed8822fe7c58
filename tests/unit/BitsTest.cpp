#include <gtest/gtest.h>

#include <cstdint>

#include "support/Bits.h"

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

TEST(BitsTest, HighestSetBitIsTheIndexOfTheTopBit) {
  for (std::uint32_t bit = 0; bit < 32; ++bit) {
    const std::uint32_t single = std::uint32_t{1} << bit;
    EXPECT_EQ(HighestSetBit(single), bit);
    // Lower bits do not matter.
    EXPECT_EQ(HighestSetBit(single | 1u), bit);
    EXPECT_EQ(HighestSetBit(single | (single - 1)), bit);
  }
}

TEST(BitsTest, PopCountCountsEverySetBit) {
  struct Case {
    std::uint64_t bits;
    std::uint32_t count;
  };
  const Case cases[] = {{0, 0},
                        {1, 1},
                        {0x80000000u, 1},
                        {0xFFFFFFFFu, 32},
                        {0x8000000000000000ull, 1},
                        {0xFFFFFFFFFFFFFFFFull, 64},
                        {0x00FF00FF00FF00FFull, 32},
                        {0xA5u, 4}};
  for (const Case& c : cases) EXPECT_EQ(PopCount(c.bits), c.count) << c.bits;
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
