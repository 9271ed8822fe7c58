#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/Array.h"
#include "support/HashTable.h"

namespace ordana {
namespace {

TEST(ArrayTest, CapacityGrowsByHalfAgain) {
  CArray<char16_t*, CLock, int> array;
  std::vector<std::uint32_t> capacities;
  std::uint32_t last = 0;
  for (int k = 0; k < 60; ++k) {
    array.Append(nullptr);
    if (array.Capacity() != last) capacities.push_back(last = array.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<std::uint32_t>{1, 3, 6, 10, 16, 25, 39, 60}));
  EXPECT_EQ(array.Count(), 60u);
}

TEST(ArrayTest, DefaultCapacityForAnEmptyRequest) {
  CArray<int, CLock, int> array;
  array.GetBuffer(0);
  EXPECT_EQ(array.Capacity(), 64u);
}

TEST(ArrayTest, SharedBlobIsCopiedOnWrite) {
  CArray<int, CLock, int> first;
  for (int k = 0; k < 5; ++k) first.Append(k);
  CArray<int, CLock, int> second;
  second = first;
  EXPECT_EQ(first.Blob(), second.Blob());
  second.GetBuffer(5)[2] = 99;  // a write through the second array
  EXPECT_NE(first.Blob(), second.Blob());
  EXPECT_EQ(first.At(2), 2);
  EXPECT_EQ(second.At(2), 99);
  EXPECT_EQ(second.Count(), 5u);
  CArray<int, CLock, int> third(first);
  EXPECT_EQ(third.Blob(), first.Blob());
}

TEST(ArrayTest, MaximumCapacityRefusesGrowth) {
  // Growth is refused once a request exceeds the maximum; capacity grown
  // before that (4 asked, 6 given) is still used.
  CArray<int, CLock, int> array(4, 4);
  for (int k = 0; k < 6; ++k) array.Append(k);
  EXPECT_EQ(array.Capacity(), 6u);
  EXPECT_THROW(array.Append(6), std::length_error);
  EXPECT_EQ(array.Count(), 6u);
}

TEST(HashTest, JenkinsIntegerHash) {
  // Values worked out by hand from the six steps.
  auto reference = [](std::uint32_t a) {
    a = (a + 0x7ed55d16u) + (a << 12);
    a = (a ^ 0xc761c23cu) ^ (a >> 19);
    a = (a + 0x165667b1u) + (a << 5);
    a = (a + 0xd3a2646cu) ^ (a << 9);
    a = (a + 0xfd7046c5u) + (a << 3);
    a = (a ^ 0xb55a4f09u) ^ (a >> 16);
    return a;
  };
  for (std::uint32_t key : {0u, 1u, 0x41u, 0x4142u, 0xFFFFFFFFu}) {
    EXPECT_EQ(CDefaultHash::Hash(key), reference(key));
  }
  EXPECT_NE(CDefaultHash::Hash(1), CDefaultHash::Hash(2));
}

TEST(HashTableTest, DoublesAfterHalfTheBucketsAndKeepsEveryKey) {
  CHashTable<std::uint32_t, double> table;
  for (std::uint32_t k = 0; k < 512; ++k) table.Insert(k * 7919, k + 0.5);
  EXPECT_EQ(table.BucketCount(), 1024u);
  table.Insert(512 * 7919, 512.5);
  EXPECT_EQ(table.BucketCount(), 2048u);
  EXPECT_EQ(table.InsertCount(), 513u);  // the distinct keys after the rehash
  for (std::uint32_t k = 0; k <= 512; ++k) {
    const double* value = table.Find(k * 7919);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(*value, k + 0.5);
  }
  EXPECT_EQ(table.Size(), 513u);
  for (std::uint32_t k = 513; k < 1025; ++k) table.Insert(k * 7919, 1.0);
  EXPECT_EQ(table.BucketCount(), 4096u);
}

TEST(HashTableTest, InsertingAPresentKeyReplacesItsValue) {
  CHashTable<std::uint32_t, double> table;
  // Enough keys that some share a bucket, so replaced keys sit deep in
  // chains too.
  for (std::uint32_t k = 0; k < 400; ++k) table.Insert(k, 1.0);
  for (std::uint32_t k = 0; k < 400; ++k) table.Insert(k, 2.0 + k);
  EXPECT_EQ(table.Size(), 400u);
  for (std::uint32_t k = 0; k < 400; ++k) EXPECT_EQ(*table.Find(k), 2.0 + k);
  EXPECT_GT(table.BucketCount(), 1024u);  // replacements count as inserts
}

TEST(HashTableTest, GetOrInsertAddsZeroAndClearEmpties) {
  CHashTable<std::uint32_t, double> table;
  EXPECT_EQ(table.Find(42), nullptr);
  EXPECT_EQ(table.GetOrInsert(42), 0.0);
  ASSERT_NE(table.Find(42), nullptr);
  table.GetOrInsert(42) = 3.5;
  EXPECT_EQ(*table.Find(42), 3.5);
  table.Clear();
  EXPECT_EQ(table.Find(42), nullptr);
  EXPECT_EQ(table.Size(), 0u);
  EXPECT_EQ(table.InsertCount(), 0u);
  EXPECT_EQ(table.BucketCount(), 1024u);
}

TEST(HashSetTest, ContainsWhatWasInserted) {
  CHashSet<std::uint32_t> set;
  for (std::uint32_t k = 0; k < 2000; k += 3) set.Insert(k);
  for (std::uint32_t k = 0; k < 2000; ++k) EXPECT_EQ(set.Contains(k), k % 3 == 0) << k;
}

}  // namespace
}  // namespace ordana
