#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/Buffer.h"

namespace ordana {
namespace {

TEST(BufferTest, StartsEmptyWithTheFixedSizes) {
  CBuffer buffer;
  EXPECT_EQ(buffer.length(), 0u);
  EXPECT_EQ(buffer.reservationSize(), 4194304u);
  EXPECT_EQ(buffer.commitSize(), 2097152u);
  EXPECT_TRUE(buffer.valid());
}

TEST(BufferTest, DiscardRemovesFromTheFront) {
  CBuffer buffer;
  ASSERT_TRUE(buffer.Append("abcdef", 6));
  buffer.Discard(2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.base()), buffer.length()), "cdef");
  buffer.Discard(100);
  EXPECT_EQ(buffer.length(), 0u);
}

TEST(BufferTest, GrowsInPlaceBeyondTheCommittedPart) {
  CBuffer buffer;
  std::uint8_t* base = buffer.base();
  std::string block(CBuffer::kCommitSize, 'a');
  ASSERT_TRUE(buffer.Append(block.data(), static_cast<std::uint32_t>(block.size())));
  ASSERT_TRUE(buffer.Append("zz", 2));
  buffer.base()[CBuffer::kReservationSize - 1] = 7;  // the last reserved byte is usable
  EXPECT_EQ(buffer.base(), base);
  EXPECT_EQ(buffer.base()[CBuffer::kCommitSize], 'z');
}

TEST(BufferTest, SwapExchangesStorageAndData) {
  CBuffer a;
  CBuffer b;
  ASSERT_TRUE(a.Append("abc", 3));
  std::uint8_t* const baseA = a.base();
  std::uint8_t* const baseB = b.base();
  a.Swap(b);
  EXPECT_EQ(a.base(), baseB);
  EXPECT_EQ(b.base(), baseA);
  EXPECT_TRUE(a.empty());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.base()), b.length()), "abc");
  // Each keeps working with the storage it has now, up to the reservation.
  ASSERT_TRUE(a.Append("x", 1));
  ASSERT_TRUE(b.Append("d", 1));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.base()), b.length()), "abcd");
  EXPECT_EQ(a.Room(), CBuffer::kReservationSize - 1);
  b.base()[CBuffer::kReservationSize - 1] = 7;
}

TEST(BufferTest, RefusesWritesPastTheReservation) {
  CBuffer buffer;
  std::string block(CBuffer::kReservationSize - 1, 'a');
  ASSERT_TRUE(buffer.Append(block.data(), static_cast<std::uint32_t>(block.size())));
  EXPECT_FALSE(buffer.Append("bc", 2));
  EXPECT_EQ(buffer.length(), CBuffer::kReservationSize - 1);
  EXPECT_EQ(buffer.PrepareWrite(2), nullptr);
  EXPECT_FALSE(buffer.Prepend("bc", 2));
  EXPECT_TRUE(buffer.Append("b", 1));
  EXPECT_EQ(buffer.Room(), 0u);
  buffer.SetLength(CBuffer::kReservationSize + 10);
  EXPECT_EQ(buffer.length(), CBuffer::kReservationSize);
}

TEST(BufferTest, PrependMovesTheDataUp) {
  CBuffer buffer;
  ASSERT_TRUE(buffer.Append("world", 5));
  ASSERT_TRUE(buffer.Prepend("hello ", 6));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.base()), buffer.length()), "hello world");
}

using BufferDeathTest = ::testing::Test;

TEST(BufferDeathTest, TheByteBehindTheReservationIsNeverWritable) {
  // A writer that ignores Room() must crash at once, not corrupt whatever
  // lies behind the buffer.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        CBuffer buffer;
        volatile std::uint8_t* p = buffer.base() + CBuffer::kReservationSize;
        *p = 1;
      },
      "");
}

}  // namespace
}  // namespace ordana
