#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/CommandLine.h"
#include "app/CsvReport.h"
#include "app/Settings.h"
#include "app/StatusChannel.h"
#include "core/ConversionRun.h"
#include "core/File.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ordana {
namespace {

std::string N(const std::u16string& s) { return platform::ToNative(s.c_str(), s.size()); }

// An owner id that no process can have (Linux process ids stay below 2^22),
// different for every call and every test process, so tests never meet each
// other's channels.
std::uint32_t DeadOwnerId() {
  static std::uint32_t counter = 0;
  return 0x40000000u | ((platform::GetCurrentProcessId() & 0x3FFFFFu) << 7) | (counter++ & 0x7Fu);
}

bool ChannelExists(std::uint32_t owner) {
  platform::SharedMemory memory;
  const StatusChannelNames names = MakeStatusChannelNames(owner);
  if (!platform::OpenSharedMemory(names.mapping.c_str(), kStatusChannelSize, &memory)) return false;
  platform::CloseSharedMemory(&memory);
  return true;
}

// How many counts a semaphore of the channel holds; the counts are given
// back afterwards.
std::uint32_t SemaphoreCount(const std::u16string& name) {
  platform::SyncObject semaphore;
  if (!platform::OpenSharedSemaphore(name.c_str(), &semaphore)) return 0xFFFFFFFFu;
  std::uint32_t count = 0;
  while (platform::WaitSharedSemaphore(semaphore, 0) == platform::WaitResult::kSignaled) ++count;
  if (count > 0) {
    EXPECT_TRUE(platform::ReleaseSharedSemaphore(semaphore, count));
  }
  platform::CloseSyncObject(&semaphore);
  return count;
}

std::vector<std::uint32_t> ListFrom(const StatusChannel& channel, std::uint32_t head) {
  std::vector<std::uint32_t> list;
  for (std::uint32_t k = head; k != kNoRecord && list.size() <= kStatusChannelCapacity;
       k = channel.RecordAt(k)->link) {
    list.push_back(k);
  }
  return list;
}

std::uint32_t ElapsedSince(std::uint32_t start) { return platform::GetTickCount() - start; }

StatusChannelLimits ShortLimits() {
  StatusChannelLimits limits;
  limits.recordWait = 100;
  limits.mutexWait = 100;
  limits.initialiseWait = 100;
  return limits;
}

TEST(StatusChannelNamesTest, OwnerIdInUpperCaseHexadecimal) {
  struct Case {
    std::uint32_t owner;
    const char* mapping;
    const char* mutex;
    const char* empty;
    const char* full;
  };
  const Case cases[] = {
      {0x1A2B, "Quennel.Ordana.1A2B", "Quennel.Ordana.Mutex.1A2B",
       "Quennel.Ordana.SemaphoreEmtpy.1A2B", "Quennel.Ordana.SemaphoreFull.1A2B"},
      {0, "Quennel.Ordana.0", "Quennel.Ordana.Mutex.0", "Quennel.Ordana.SemaphoreEmtpy.0",
       "Quennel.Ordana.SemaphoreFull.0"},
      {0xFFFFFFFFu, "Quennel.Ordana.FFFFFFFF", "Quennel.Ordana.Mutex.FFFFFFFF",
       "Quennel.Ordana.SemaphoreEmtpy.FFFFFFFF", "Quennel.Ordana.SemaphoreFull.FFFFFFFF"},
      {4242, "Quennel.Ordana.1092", "Quennel.Ordana.Mutex.1092",
       "Quennel.Ordana.SemaphoreEmtpy.1092", "Quennel.Ordana.SemaphoreFull.1092"},
  };
  for (const Case& c : cases) {
    const StatusChannelNames names = MakeStatusChannelNames(c.owner);
    EXPECT_EQ(N(names.mapping), c.mapping);
    EXPECT_EQ(N(names.mutex), c.mutex);
    EXPECT_EQ(N(names.empty), c.empty);
    EXPECT_EQ(N(names.full), c.full);
  }
}

// Other programs read the bytes, not our struct: every field at its offset,
// little-endian.
TEST(StatusRecordLayoutTest, FieldsAtTheirOffsets) {
  alignas(8) unsigned char bytes[sizeof(StatusRecord)] = {};
  auto* record = reinterpret_cast<StatusRecord*>(bytes);
  record->link = 0x04030201u;
  record->processedOffset = 0x0C0B0A0908070605ull;
  record->totalSize = 0x14131211100F0E0Dull;
  record->startTime = 0x1C1B1A1918171615ull;
  record->endTime = 0x24232221201F1E1Dull;
  SetStatusState(record, 0x28272625u);
  record->decoderErrors = 0x2C2B2A29u;
  record->decoderCharset = 0x302F2E2Du;
  record->encoderErrors = 0x34333231u;
  record->encoderCharset = 0x38373635u;
  record->inputPath[0] = 0x3A39;
  record->inputPath[259] = 0x3C3B;
  // Each of the first 56 bytes holds its own offset + 1.
  for (std::size_t k = 0; k < 56; ++k) EXPECT_EQ(bytes[k], k + 1) << k;
  EXPECT_EQ(bytes[56], 0x39);
  EXPECT_EQ(bytes[57], 0x3A);
  EXPECT_EQ(bytes[574], 0x3B);
  EXPECT_EQ(bytes[575], 0x3C);
  EXPECT_EQ(GetStatusState(record), 0x28272625u);
}

TEST(StatusRecordTest, PathStopsAtItsTerminatorOrTheEnd) {
  StatusRecord record{};
  const std::u16string path = u"/tmp/a.txt";
  for (std::size_t k = 0; k < path.size(); ++k) record.inputPath[k] = path[k];
  EXPECT_EQ(StatusRecordPath(record), path);
  for (char16_t& unit : record.inputPath) unit = u'x';
  EXPECT_EQ(StatusRecordPath(record), std::u16string(kStatusPathLength, u'x'));
}

TEST(PlatformSharedTest, ProcessExists) {
  EXPECT_TRUE(platform::ProcessExists(platform::GetCurrentProcessId()));
  EXPECT_FALSE(platform::ProcessExists(0));
  EXPECT_FALSE(platform::ProcessExists(DeadOwnerId()));
}

TEST(PlatformSharedTest, SemaphoreCountsAndBoundedWaits) {
  const std::u16string name = MakeStatusChannelNames(DeadOwnerId()).full;
  platform::SyncObject semaphore;
  ASSERT_TRUE(platform::CreateSharedSemaphore(name.c_str(), 2, 512, &semaphore));
  EXPECT_EQ(platform::WaitSharedSemaphore(semaphore, 0), platform::WaitResult::kSignaled);
  EXPECT_EQ(platform::WaitSharedSemaphore(semaphore, 1000), platform::WaitResult::kSignaled);
  const std::uint32_t start = platform::GetTickCount();
  EXPECT_EQ(platform::WaitSharedSemaphore(semaphore, 80), platform::WaitResult::kTimedOut);
  EXPECT_GE(ElapsedSince(start), 70u);
  EXPECT_EQ(platform::WaitSharedSemaphore(semaphore, 0), platform::WaitResult::kTimedOut);
  EXPECT_TRUE(platform::ReleaseSharedSemaphore(semaphore, 3));
  EXPECT_EQ(SemaphoreCount(name), 3u);
  platform::CloseSyncObject(&semaphore);
  platform::RemoveSharedSemaphoreName(name.c_str());
  EXPECT_FALSE(platform::OpenSharedSemaphore(name.c_str(), &semaphore));
}

TEST(PlatformSharedTest, MemoryIsSharedBetweenMappingsAndStartsZeroed) {
  const std::u16string name = MakeStatusChannelNames(DeadOwnerId()).mapping;
  platform::SharedMemory first, second;
  bool existed = true;
  ASSERT_TRUE(platform::CreateSharedMemory(name.c_str(), 4096, &first, &existed));
  EXPECT_FALSE(existed);
  for (std::size_t k = 0; k < 4096; ++k) ASSERT_EQ(first.base[k], 0) << k;
  ASSERT_TRUE(platform::CreateSharedMemory(name.c_str(), 4096, &second, &existed));
  EXPECT_TRUE(existed);
  first.base[100] = 42;
  EXPECT_EQ(second.base[100], 42);
  platform::SharedMemory tooBig;
  EXPECT_FALSE(platform::OpenSharedMemory(name.c_str(), 8192, &tooBig));
  platform::CloseSharedMemory(&first);
  platform::RemoveSharedMemoryName(name.c_str());
  // The name is gone; a mapping that is still open keeps working.
  EXPECT_FALSE(platform::OpenSharedMemory(name.c_str(), 4096, &first));
  EXPECT_EQ(second.base[100], 42);
  platform::CloseSharedMemory(&second);
}

class StatusChannelTest : public ::testing::Test {
 protected:
  std::uint32_t owner_ = DeadOwnerId();
  test::LogCapture log_{2};
};

TEST_F(StatusChannelTest, CreatorInitialisesHeaderAndFreeList) {
  StatusChannel channel(owner_);
  ASSERT_TRUE(channel.Open());
  EXPECT_TRUE(channel.creator());
  const StatusChannelHeader h = *channel.header();
  EXPECT_EQ(std::uint32_t{h.signature}, 1u);
  EXPECT_EQ(std::uint32_t{h.usedCount}, 0u);
  EXPECT_EQ(std::uint32_t{h.capacity}, 512u);
  EXPECT_EQ(std::uint32_t{h.freeHead}, 0u);
  EXPECT_EQ(std::uint32_t{h.usedHead}, kNoRecord);
  EXPECT_EQ(std::uint32_t{h.reserved}, 0u);
  for (std::uint32_t i = 0; i < 512; ++i) {
    EXPECT_EQ(std::uint32_t{channel.RecordAt(i)->link}, i < 511 ? i + 1 : kNoRecord) << i;
  }
  EXPECT_EQ(channel.RecordAt(512), nullptr);
  EXPECT_EQ(SemaphoreCount(channel.names().empty), 512u);
  EXPECT_EQ(SemaphoreCount(channel.names().full), 0u);
  EXPECT_EQ(SemaphoreCount(channel.names().mutex), 1u);
}

TEST_F(StatusChannelTest, SecondOpenerSharesTheChannelWithoutInitialisingIt) {
  StatusChannel creator(owner_);
  ASSERT_TRUE(creator.Open());
  creator.RecordAt(7)->totalSize = 1234;
  creator.header()->freeHead = 9;  // an opener must not reset the lists
  StatusChannel opener(owner_);
  ASSERT_TRUE(opener.Open());
  EXPECT_FALSE(opener.creator());
  EXPECT_EQ(std::uint64_t{opener.RecordAt(7)->totalSize}, 1234u);
  EXPECT_EQ(std::uint32_t{opener.header()->freeHead}, 9u);
  EXPECT_EQ(opener.IndexOf(opener.RecordAt(7)), 7u);
  EXPECT_EQ(opener.IndexOf(creator.RecordAt(7)), kNoRecord);
}

TEST_F(StatusChannelTest, OpenerGivesUpOnAChannelNobodyInitialises) {
  // The area exists, but its creator never publishes the signature.
  platform::SharedMemory bare;
  bool existed = true;
  const StatusChannelNames names = MakeStatusChannelNames(owner_);
  ASSERT_TRUE(
      platform::CreateSharedMemory(names.mapping.c_str(), kStatusChannelSize, &bare, &existed));
  StatusChannel opener(owner_, ShortLimits());
  const std::uint32_t start = platform::GetTickCount();
  EXPECT_FALSE(opener.Open());
  EXPECT_LT(ElapsedSince(start), 5000u);
  EXPECT_FALSE(opener.mapped());
  platform::CloseSharedMemory(&bare);
  platform::RemoveSharedMemoryName(names.mapping.c_str());
}

TEST_F(StatusChannelTest, AcquireMovesFreeRecordsToTheUsedListInOrder) {
  StatusChannel channel(owner_);
  ASSERT_TRUE(channel.Open());
  channel.RecordAt(1)->state = kStatusDone;  // left over from an earlier use
  for (std::uint32_t expected = 0; expected < 3; ++expected) {
    StatusRecord* record = channel.Acquire();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(channel.IndexOf(record), expected);
    EXPECT_EQ(GetStatusState(record), kStatusOpened);
  }
  const StatusChannelHeader h = *channel.header();
  EXPECT_EQ(std::uint32_t{h.usedCount}, 3u);
  EXPECT_EQ(std::uint32_t{h.freeHead}, 3u);
  EXPECT_EQ(ListFrom(channel, h.usedHead), (std::vector<std::uint32_t>{2, 1, 0}));
  EXPECT_EQ(ListFrom(channel, h.freeHead).size(), 509u);
  EXPECT_EQ(SemaphoreCount(channel.names().full), 3u);
  EXPECT_EQ(SemaphoreCount(channel.names().empty), 509u);
  EXPECT_EQ(SemaphoreCount(channel.names().mutex), 1u);
}

TEST_F(StatusChannelTest, ExhaustedChannelGivesNoRecordAfterABoundedWait) {
  StatusChannel channel(owner_, ShortLimits());
  ASSERT_TRUE(channel.Open());
  for (std::uint32_t i = 0; i < 512; ++i) ASSERT_NE(channel.Acquire(), nullptr) << i;
  std::uint32_t start = platform::GetTickCount();
  EXPECT_EQ(channel.Acquire(), nullptr);
  EXPECT_GE(ElapsedSince(start), 90u);
  EXPECT_NE(log_.narrow().find("No free record in the status channel"), std::string::npos);
  // A consumer that stopped freeing records costs one wait, not one per file.
  start = platform::GetTickCount();
  EXPECT_EQ(channel.Acquire(), nullptr);
  EXPECT_LT(ElapsedSince(start), 90u);

  // Once a record is free again it is taken at once, and waits are full again.
  SetStatusState(channel.RecordAt(0), kStatusDone);
  std::vector<CollectedRecord> collected;
  EXPECT_EQ(channel.CollectFinished(&collected), CollectResult::kCollected);
  ASSERT_EQ(collected.size(), 1u);
  StatusRecord* record = channel.Acquire();
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(channel.IndexOf(record), 0u);
  start = platform::GetTickCount();
  EXPECT_EQ(channel.Acquire(), nullptr);
  EXPECT_GE(ElapsedSince(start), 90u);
}

TEST_F(StatusChannelTest, MutexThatIsNeverReleasedGivesNoRecordAndKeepsTheFreeCount) {
  StatusChannel channel(owner_, ShortLimits());
  ASSERT_TRUE(channel.Open());
  // Another process died holding the mutex.
  platform::SyncObject mutex;
  ASSERT_TRUE(platform::OpenSharedMutex(channel.names().mutex.c_str(), &mutex));
  ASSERT_EQ(platform::WaitSharedMutex(mutex, 0), platform::WaitResult::kSignaled);
  const std::uint32_t start = platform::GetTickCount();
  EXPECT_EQ(channel.Acquire(), nullptr);
  EXPECT_LT(ElapsedSince(start), 5000u);
  EXPECT_NE(log_.narrow().find("was not released"), std::string::npos);
  // A holder that died costs one wait, not one per file.
  const std::uint32_t again = platform::GetTickCount();
  EXPECT_EQ(channel.Acquire(), nullptr);
  EXPECT_LT(ElapsedSince(again), 90u);
  EXPECT_EQ(SemaphoreCount(channel.names().empty), 512u);
  EXPECT_EQ(SemaphoreCount(channel.names().full), 0u);
  EXPECT_EQ(std::uint32_t{channel.header()->usedHead}, kNoRecord);

  // A consumer goes on without the holder's mutex rather than hang, but
  // releases only what it acquired: nothing.
  SetStatusState(channel.RecordAt(0), kStatusDone);
  std::vector<CollectedRecord> collected;
  EXPECT_EQ(channel.CollectFinished(&collected), CollectResult::kMutexTakenOver);
  EXPECT_EQ(SemaphoreCount(channel.names().mutex), 0u);
  // The next collection only tries: one wait, not one per collection.
  const std::uint32_t collectAgain = platform::GetTickCount();
  EXPECT_EQ(channel.CollectFinished(&collected), CollectResult::kMutexTakenOver);
  EXPECT_LT(ElapsedSince(collectAgain), 90u);
  // The holder was only slow: when it releases, the mutex is free once, and
  // one process at a time holds it again.
  ASSERT_TRUE(platform::ReleaseSharedMutex(mutex));
  EXPECT_EQ(SemaphoreCount(channel.names().mutex), 1u);
  EXPECT_EQ(channel.CollectFinished(&collected), CollectResult::kCollected);
  EXPECT_EQ(SemaphoreCount(channel.names().mutex), 1u);
  EXPECT_NE(channel.Acquire(), nullptr);
  EXPECT_EQ(SemaphoreCount(channel.names().mutex), 1u);
  platform::CloseSyncObject(&mutex);
}

// The count of the mutex never exceeds 1, however waits run out: a holder
// that keeps it past every limit, then releases it.
TEST_F(StatusChannelTest, MutexCountNeverExceedsOneAfterTimedOutWaits) {
  StatusChannelLimits limits = ShortLimits();
  limits.mutexWait = 30;
  limits.recordWait = 30;
  StatusChannel consumer(owner_, limits);
  ASSERT_TRUE(consumer.Open());
  StatusChannel producer(owner_, limits);
  ASSERT_TRUE(producer.Open());
  platform::SyncObject holder;
  ASSERT_TRUE(platform::OpenSharedMutex(consumer.names().mutex.c_str(), &holder));
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(platform::WaitSharedMutex(holder, 0), platform::WaitResult::kSignaled) << round;
    std::vector<CollectedRecord> collected;
    EXPECT_EQ(consumer.CollectFinished(&collected), CollectResult::kMutexTakenOver) << round;
    EXPECT_EQ(producer.Acquire(), nullptr) << round;
    EXPECT_EQ(SemaphoreCount(consumer.names().mutex), 0u) << round;
    ASSERT_TRUE(platform::ReleaseSharedMutex(holder));
    EXPECT_EQ(SemaphoreCount(consumer.names().mutex), 1u) << round;
    EXPECT_EQ(consumer.CollectFinished(&collected), CollectResult::kCollected) << round;
    EXPECT_EQ(SemaphoreCount(consumer.names().mutex), 1u) << round;
  }
  EXPECT_NE(producer.Acquire(), nullptr);
  EXPECT_EQ(SemaphoreCount(consumer.names().mutex), 1u);
  EXPECT_EQ(SemaphoreCount(consumer.names().empty), 511u);
  platform::CloseSyncObject(&holder);
}

TEST_F(StatusChannelTest, CollectTakesFinishedRecordsOldestFirstToTheFreeListTail) {
  StatusChannel producer(owner_);
  ASSERT_TRUE(producer.Open());
  StatusChannel consumer(owner_);
  ASSERT_TRUE(consumer.Open());
  for (int i = 0; i < 4; ++i) ASSERT_NE(producer.Acquire(), nullptr);
  for (std::uint32_t i : {0u, 2u}) {
    producer.RecordAt(i)->totalSize = 100 + i;
    SetStatusState(producer.RecordAt(i), kStatusDone);
  }

  std::vector<CollectedRecord> collected;
  EXPECT_EQ(consumer.CollectFinished(&collected), CollectResult::kCollected);
  ASSERT_EQ(collected.size(), 2u);
  EXPECT_EQ(collected[0].index, 0u);
  EXPECT_EQ(std::uint64_t{collected[0].record.totalSize}, 100u);
  EXPECT_EQ(std::uint32_t{collected[0].record.state}, kStatusDone);
  EXPECT_EQ(collected[1].index, 2u);
  EXPECT_EQ(std::uint64_t{collected[1].record.totalSize}, 102u);
  // Unfinished ones stay on the used list; returned ones are not "done" any
  // more and wait at the free list's tail.
  const StatusChannelHeader h = *consumer.header();
  EXPECT_EQ(ListFrom(consumer, h.usedHead), (std::vector<std::uint32_t>{3, 1}));
  EXPECT_EQ(std::uint32_t{h.usedCount}, 2u);
  const std::vector<std::uint32_t> free = ListFrom(consumer, h.freeHead);
  ASSERT_EQ(free.size(), 510u);
  EXPECT_EQ(free.front(), 4u);
  EXPECT_EQ(free[free.size() - 2], 0u);
  EXPECT_EQ(free.back(), 2u);
  EXPECT_NE(GetStatusState(consumer.RecordAt(0)), kStatusDone);
  EXPECT_EQ(SemaphoreCount(consumer.names().empty), 510u);

  collected.clear();
  EXPECT_EQ(consumer.CollectFinished(&collected), CollectResult::kCollected);
  EXPECT_TRUE(collected.empty());

  // At most `maximum`, the oldest first.
  SetStatusState(producer.RecordAt(3), kStatusDone);
  SetStatusState(producer.RecordAt(1), kStatusDone);
  EXPECT_EQ(consumer.CollectFinished(&collected, 1), CollectResult::kCollected);
  ASSERT_EQ(collected.size(), 1u);
  EXPECT_EQ(collected[0].index, 1u);
  EXPECT_EQ(ListFrom(consumer, consumer.header()->usedHead), (std::vector<std::uint32_t>{3}));
}

TEST_F(StatusChannelTest, CollectOntoAnEmptyFreeList) {
  StatusChannel channel(owner_);
  ASSERT_TRUE(channel.Open());
  for (int i = 0; i < 512; ++i) ASSERT_NE(channel.Acquire(), nullptr);
  EXPECT_EQ(std::uint32_t{channel.header()->freeHead}, kNoRecord);
  SetStatusState(channel.RecordAt(5), kStatusDone);
  SetStatusState(channel.RecordAt(6), kStatusDone);
  std::vector<CollectedRecord> collected;
  EXPECT_EQ(channel.CollectFinished(&collected), CollectResult::kCollected);
  EXPECT_EQ(ListFrom(channel, channel.header()->freeHead), (std::vector<std::uint32_t>{5, 6}));
  EXPECT_EQ(channel.IndexOf(channel.Acquire()), 5u);
  EXPECT_EQ(channel.IndexOf(channel.Acquire()), 6u);
}

TEST_F(StatusChannelTest, WhoRemovesTheNames) {
  // A channel made for an owner that no longer exists goes with its creator;
  // an opener leaves it alone.
  {
    StatusChannel creator(owner_);
    ASSERT_TRUE(creator.Open());
    {
      StatusChannel opener(owner_);
      ASSERT_TRUE(opener.Open());
      StatusChannel reader(owner_);
      ASSERT_TRUE(reader.OpenToRead());
    }
    EXPECT_TRUE(ChannelExists(owner_));
  }
  EXPECT_FALSE(ChannelExists(owner_));
  platform::SyncObject semaphore;
  EXPECT_FALSE(
      platform::OpenSharedSemaphore(MakeStatusChannelNames(owner_).empty.c_str(), &semaphore));

  // The owner's own channel goes with the owner.
  const std::uint32_t self = platform::GetCurrentProcessId();
  StatusChannel own(self);
  ASSERT_TRUE(own.Open());
  EXPECT_TRUE(ChannelExists(self));
  own.Close();
  EXPECT_FALSE(ChannelExists(self));
}

// What an earlier process with this process's id left behind (it was
// killed): an area with stale lists and semaphores with wrong counts. The
// new owner reclaims the names and starts afresh.
TEST_F(StatusChannelTest, OwnerReclaimsTheChannelOfADeadProcessWithItsId) {
  const std::uint32_t self = platform::GetCurrentProcessId();
  const StatusChannelNames names = MakeStatusChannelNames(self);
  platform::SharedMemory stale;
  bool existed = true;
  ASSERT_TRUE(platform::CreateSharedMemory(names.mapping.c_str(), 100, &stale, &existed));
  stale.base[0] = 1;  // a signature over an area far too small
  platform::SyncObject mutex, empty, full;
  ASSERT_TRUE(platform::CreateSharedMutex(names.mutex.c_str(), &mutex));
  ASSERT_EQ(platform::WaitSharedMutex(mutex, 0),
            platform::WaitResult::kSignaled);  // held by the dead
  ASSERT_TRUE(platform::CreateSharedSemaphore(names.empty.c_str(), 3, 512, &empty));
  ASSERT_TRUE(platform::CreateSharedSemaphore(names.full.c_str(), 7, 512, &full));

  StatusChannel own(self);
  ASSERT_TRUE(own.Open());
  EXPECT_TRUE(own.creator());
  EXPECT_EQ(std::uint32_t{own.header()->capacity}, 512u);
  EXPECT_EQ(SemaphoreCount(names.mutex), 1u);
  EXPECT_EQ(SemaphoreCount(names.empty), 512u);
  EXPECT_EQ(SemaphoreCount(names.full), 0u);
  // The stale objects are no longer under the names.
  EXPECT_EQ(platform::WaitSharedSemaphore(full, 0), platform::WaitResult::kSignaled);
  EXPECT_EQ(SemaphoreCount(names.full), 0u);
  own.Close();
  EXPECT_FALSE(ChannelExists(self));
  platform::SyncObject gone;
  EXPECT_FALSE(platform::OpenSharedMutex(names.mutex.c_str(), &gone));
  EXPECT_EQ(platform::LastSharedObjectError(), platform::SharedObjectError::kMissing);
  for (platform::SyncObject* object : {&mutex, &empty, &full}) platform::CloseSyncObject(object);
  platform::CloseSharedMemory(&stale);
}

TEST_F(StatusChannelTest, OpenToReadNeedsAnExistingChannel) {
  StatusChannel reader(owner_);
  EXPECT_FALSE(reader.OpenToRead());
  EXPECT_FALSE(ChannelExists(owner_));
  EXPECT_EQ(reader.Acquire(), nullptr);
  std::vector<CollectedRecord> collected;
  EXPECT_EQ(reader.CollectFinished(&collected), CollectResult::kFailed);
}

TEST(StatusSnapshotTest, CopiesTheRecord) {
  StatusRecord record{};
  record.totalSize = 77;
  record.inputPath[0] = u'a';
  SetStatusState(&record, kStatusConverting);
  const StatusRecord copy = SnapshotStatusRecord(&record);
  EXPECT_EQ(std::memcmp(&copy, &record, sizeof copy), 0);
}

// ---- The converter's channel -----------------------------------------------------

class ProcessChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = StatusChannelOwnerId();
    CloseStatusChannel();
  }
  void TearDown() override {
    CloseStatusChannel();
    ProcessStatusChannelLimits() = StatusChannelLimits();
    StatusChannelOwnerId() = saved_;
    CloseCsvReport();
    ResetSettings();
  }
  std::uint32_t saved_ = 0;
  test::LogCapture log_{2};
};

TEST_F(ProcessChannelTest, OwnChannelOverwritesTheFreeHeadRecord) {
  StatusChannel* channel = OpenStatusChannel();
  ASSERT_TRUE(channel->mapped());
  EXPECT_EQ(channel->ownerId(), platform::GetCurrentProcessId());
  EXPECT_EQ(CurrentStatusRecord(), channel->RecordAt(0));
  EXPECT_EQ(SelectStatusRecord(), channel->RecordAt(0));
  EXPECT_EQ(SelectStatusRecord(), channel->RecordAt(0));
  // Nothing leaves the free list and no semaphore moves.
  EXPECT_EQ(std::uint32_t{channel->header()->freeHead}, 0u);
  EXPECT_EQ(std::uint32_t{channel->header()->usedHead}, kNoRecord);
  EXPECT_EQ(SemaphoreCount(channel->names().empty), 512u);
  EXPECT_EQ(SemaphoreCount(channel->names().full), 0u);
}

TEST_F(ProcessChannelTest, AnotherOwnersChannelGivesOneRecordPerConversion) {
  const std::uint32_t owner = DeadOwnerId();
  StatusChannelOwnerId() = owner;
  for (std::uint32_t expected = 0; expected < 3; ++expected) {
    StatusRecord* record = SelectStatusRecord();
    EXPECT_EQ(OpenStatusChannel()->IndexOf(record), expected);
    EXPECT_EQ(CurrentStatusRecord(), record);
  }
  EXPECT_EQ(std::uint32_t{OpenStatusChannel()->header()->usedCount}, 3u);
  CloseStatusChannel();
  EXPECT_FALSE(ChannelExists(owner));  // made for an owner that does not exist
}

TEST_F(ProcessChannelTest, NoRecordMeansTheLocalOne) {
  StatusChannelOwnerId() = DeadOwnerId();
  ProcessStatusChannelLimits() = ShortLimits();
  ASSERT_TRUE(OpenStatusChannel()->mapped());
  for (int i = 0; i < 512; ++i) ASSERT_NE(AcquireStatusRecord(), nullptr);
  EXPECT_EQ(SelectStatusRecord(), LocalStatusRecord());
  EXPECT_EQ(CurrentStatusRecord(), LocalStatusRecord());
  EXPECT_NE(log_.narrow().find("this conversion is not published"), std::string::npos);

  // A channel that cannot be opened at all: the same.
  CloseStatusChannel();
  const std::uint32_t owner = DeadOwnerId();
  platform::SharedMemory foreign;  // too small to be a channel
  bool existed = true;
  const StatusChannelNames names = MakeStatusChannelNames(owner);
  ASSERT_TRUE(platform::CreateSharedMemory(names.mapping.c_str(), 100, &foreign, &existed));
  StatusChannelOwnerId() = owner;
  EXPECT_FALSE(OpenStatusChannel()->mapped());
  EXPECT_EQ(SelectStatusRecord(), LocalStatusRecord());
  EXPECT_NE(log_.narrow().find("can not be opened"), std::string::npos);
  platform::CloseSharedMemory(&foreign);
  platform::RemoveSharedMemoryName(names.mapping.c_str());
}

TEST_F(ProcessChannelTest, SsbOptionClosesTheOpenChannel) {
  StatusChannel* own = OpenStatusChannel();
  EXPECT_EQ(own->ownerId(), platform::GetCurrentProcessId());
  const std::uint32_t owner = DeadOwnerId();
  std::vector<std::u16string> args = {u"ordana", u"/ssb", Format(u"%u", owner)};
  std::vector<char16_t*> tokens;
  for (auto& a : args) tokens.push_back(a.data());
  EXPECT_FALSE(ApplyOptions(tokens.data(), static_cast<int>(tokens.size())).exit);
  EXPECT_FALSE(ChannelExists(platform::GetCurrentProcessId()));
  EXPECT_EQ(OpenStatusChannel()->ownerId(), owner);
}

// A whole run on another process's channel: the fields, the CSV line, and
// "done" at the end.
TEST_F(ProcessChannelTest, RunFillsAnAcquiredRecordAndTheReport) {
  const std::uint32_t owner = DeadOwnerId();
  StatusChannelOwnerId() = owner;
  test::TempDir dir;
  OpenCsvReport(dir.File16("report.csv").c_str());
  CFilterChain& chain = GetFilterChain();
  ASSERT_EQ(chain.head(), nullptr);
  chain.Append(new test::RecordingFilter());
  test::WriteWholeFile(dir.File("in"), std::string(300, 'x'));
  for (std::uint32_t expected = 0; expected < 2; ++expected) {
    CFile input;
    ASSERT_TRUE(input.Open(dir.File16("in").c_str(), platform::kOpenExisting,
                           platform::kGenericRead, platform::kFileShareRead, 0));
    const std::uint64_t before = platform::GetSystemTimeAsFileTime();
    EXPECT_TRUE(test::RunReported(input));
    StatusRecord* shared = OpenStatusChannel()->RecordAt(expected);
    const StatusRecord record = *shared;
    EXPECT_EQ(GetStatusState(shared), kStatusDone);
    EXPECT_EQ(std::uint64_t{record.totalSize}, 300u);
    EXPECT_EQ(std::uint64_t{record.processedOffset}, 300u);
    EXPECT_GE(std::uint64_t{record.startTime}, before);
    EXPECT_GE(std::uint64_t{record.endTime}, std::uint64_t{record.startTime});
    EXPECT_EQ(StatusRecordPath(record), dir.File16("in"));
    EXPECT_EQ(std::uint32_t{record.reserved}, 0u);
  }
  chain.Clear();
  CloseCsvReport();
  const std::string csv = test::ReadWholeFile(dir.File("report.csv"));
  std::u16string text;
  for (std::size_t k = 2; k + 1 < csv.size(); k += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(csv[k]) |
                                  static_cast<unsigned char>(csv[k + 1]) << 8);
  }
  // No codec in this chain: the ids keep what the new channel held, 0, which
  // names ISO-8859-1.
  const std::string line = N(dir.File16("in")) + "\t300\tISO-8859-1\tISO-8859-1\t0\t0\t";
  const std::string all = N(text);
  ASSERT_EQ(all.substr(0, line.size()), line);
  EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 2);
}

}  // namespace
}  // namespace ordana

namespace ordana {
namespace {

// ---- Trust and forged areas ----------------------------------------------------

StatusRecord* RecordIn(std::vector<std::uint8_t>& area, std::uint32_t index) {
  return reinterpret_cast<StatusRecord*>(area.data() + sizeof(StatusChannelHeader) +
                                         std::size_t{index} * sizeof(StatusRecord));
}

StatusChannelHeader* HeaderIn(std::vector<std::uint8_t>& area) {
  return reinterpret_cast<StatusChannelHeader*>(area.data());
}

void Finish(StatusRecord* record, const std::u16string& path) {
  for (std::size_t k = 0; k < path.size(); ++k) record->inputPath[k] = path[k];
  record->inputPath[path.size()] = 0;
  SetStatusState(record, kStatusDone);
}

// Whatever the lists say, collecting follows only indices of the channel,
// takes no record twice, and hands out only well-formed records.
TEST(CollectFromAreaTest, ForgedListsAndRecords) {
  std::vector<std::uint8_t> area(kStatusChannelSize, 0);
  StatusChannelHeader* h = HeaderIn(area);
  // Used list 5 -> 6 -> 7 -> 5 (a cycle); 6 has no terminator, 7 an unknown
  // state; free list 9 -> 600 (outside).
  h->usedHead = 5;
  h->usedCount = 3;
  RecordIn(area, 5)->link = 6;
  RecordIn(area, 6)->link = 7;
  RecordIn(area, 7)->link = 5;
  Finish(RecordIn(area, 5), u"ok\x1b");
  Finish(RecordIn(area, 6), u"");
  for (char16_t& unit : RecordIn(area, 6)->inputPath) unit = u'x';
  Finish(RecordIn(area, 7), u"later");
  SetStatusState(RecordIn(area, 7), 7);
  h->freeHead = 9;
  RecordIn(area, 9)->link = 600;

  std::vector<CollectedRecord> collected;
  const CollectCounts counts = CollectFromArea(area.data(), &collected, kStatusChannelCapacity);
  EXPECT_EQ(counts.returned, 2u);
  EXPECT_EQ(counts.rejected, 1u);
  ASSERT_EQ(collected.size(), 1u);
  EXPECT_EQ(collected[0].index, 5u);
  EXPECT_EQ(StatusRecordPath(collected[0].record), u"ok\x1b");
  // 7 stays on the used list; the free list ends cleanly: 9, 6, 5.
  EXPECT_EQ(std::uint32_t{h->usedHead}, 7u);
  EXPECT_EQ(std::uint32_t{h->freeHead}, 9u);
  EXPECT_EQ(std::uint32_t{RecordIn(area, 9)->link}, 6u);
  EXPECT_EQ(std::uint32_t{RecordIn(area, 6)->link}, 5u);
  EXPECT_EQ(std::uint32_t{RecordIn(area, 5)->link}, kNoRecord);
  EXPECT_EQ(std::uint32_t{h->usedCount}, 1u);
  // A second pass finds nothing more.
  collected.clear();
  EXPECT_EQ(CollectFromArea(area.data(), &collected, kStatusChannelCapacity).returned, 0u);
}

TEST(CollectFromAreaTest, RecordValidation) {
  StatusRecord record{};
  EXPECT_TRUE(IsWellFormedStatusRecord(record));  // state 0, empty path
  for (std::uint32_t state : {1u, 2u}) {
    SetStatusState(&record, state);
    EXPECT_TRUE(IsWellFormedStatusRecord(record));
  }
  SetStatusState(&record, 3);
  EXPECT_FALSE(IsWellFormedStatusRecord(record));
  SetStatusState(&record, kStatusDone);
  for (char16_t& unit : record.inputPath) unit = u'p';
  EXPECT_FALSE(IsWellFormedStatusRecord(record));
  record.inputPath[kStatusPathLength - 1] = 0;
  EXPECT_TRUE(IsWellFormedStatusRecord(record));
}

#ifndef _WIN32
std::string ShmPath(const std::u16string& name) { return "/dev/shm/" + N(name); }
std::string SemPath(const std::u16string& name) { return "/dev/shm/sem." + N(name); }

// Objects that others may open, or that are links, are neither used nor
// removed.
TEST(SharedObjectTrustTest, OpenToOthersOrLinkedIsNotTrusted) {
  const StatusChannelNames names = MakeStatusChannelNames(DeadOwnerId());
  platform::SharedMemory area;
  bool existed = true;
  ASSERT_TRUE(platform::CreateSharedMemory(names.mapping.c_str(), 4096, &area, &existed));
  platform::SyncObject mutex;
  ASSERT_TRUE(platform::CreateSharedMutex(names.mutex.c_str(), &mutex));
  struct stat info;
  ASSERT_EQ(::stat(ShmPath(names.mapping).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(SemPath(names.mutex).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  for (mode_t mode : {0640, 0604, 0660, 0666}) {
    ASSERT_EQ(::chmod(ShmPath(names.mapping).c_str(), mode), 0);
    ASSERT_EQ(::chmod(SemPath(names.mutex).c_str(), mode), 0);
    platform::SharedMemory other;
    EXPECT_FALSE(platform::OpenSharedMemory(names.mapping.c_str(), 4096, &other)) << mode;
    EXPECT_EQ(platform::LastSharedObjectError(), platform::SharedObjectError::kNotTrusted);
    EXPECT_FALSE(platform::OpenSharedMemory(names.mapping.c_str(), 4096, &other, true)) << mode;
    EXPECT_FALSE(platform::CreateSharedMemory(names.mapping.c_str(), 4096, &other, &existed));
    EXPECT_EQ(platform::LastSharedObjectError(), platform::SharedObjectError::kNotTrusted);
    platform::SyncObject opened;
    EXPECT_FALSE(platform::OpenSharedMutex(names.mutex.c_str(), &opened)) << mode;
    EXPECT_EQ(platform::LastSharedObjectError(), platform::SharedObjectError::kNotTrusted);
    // Creating exclusively never takes an existing object.
    EXPECT_FALSE(platform::CreateSharedMutex(names.mutex.c_str(), &opened));
    EXPECT_EQ(platform::LastSharedObjectError(), platform::SharedObjectError::kExists);
    platform::RemoveSharedMemoryName(names.mapping.c_str());
    platform::RemoveSharedMutexName(names.mutex.c_str());
    EXPECT_EQ(::access(ShmPath(names.mapping).c_str(), F_OK), 0);
    EXPECT_EQ(::access(SemPath(names.mutex).c_str(), F_OK), 0);
  }
  ASSERT_EQ(::chmod(ShmPath(names.mapping).c_str(), 0600), 0);
  ASSERT_EQ(::chmod(SemPath(names.mutex).c_str(), 0600), 0);
  platform::SyncObject opened;
  EXPECT_TRUE(platform::OpenSharedMutex(names.mutex.c_str(), &opened));
  platform::CloseSyncObject(&opened);
  platform::CloseSyncObject(&mutex);
  platform::CloseSharedMemory(&area);
  platform::RemoveSharedMemoryName(names.mapping.c_str());
  platform::RemoveSharedMutexName(names.mutex.c_str());
  EXPECT_NE(::access(ShmPath(names.mapping).c_str(), F_OK), 0);
  EXPECT_NE(::access(SemPath(names.mutex).c_str(), F_OK), 0);

  // A link under a semaphore's name, to one of ours, is not followed.
  const StatusChannelNames other = MakeStatusChannelNames(DeadOwnerId());
  platform::SyncObject real;
  ASSERT_TRUE(platform::CreateSharedSemaphore(other.full.c_str(), 0, 512, &real));
  ASSERT_EQ(::symlink(SemPath(other.full).c_str(), SemPath(other.empty).c_str()), 0);
  platform::SyncObject linked;
  EXPECT_FALSE(platform::OpenSharedSemaphore(other.empty.c_str(), &linked));
  EXPECT_EQ(platform::LastSharedObjectError(), platform::SharedObjectError::kNotTrusted);
  ::unlink(SemPath(other.empty).c_str());
  platform::CloseSyncObject(&real);
  platform::RemoveSharedSemaphoreName(other.full.c_str());
}

// A channel whose area someone else may open is not used, and says so.
TEST(SharedObjectTrustTest, ChannelRefusesAnAreaOpenToOthers) {
  test::LogCapture log(2);
  const std::uint32_t owner = DeadOwnerId();
  StatusChannel creator(owner);
  ASSERT_TRUE(creator.Open());
  ASSERT_EQ(::chmod(ShmPath(creator.names().mapping).c_str(), 0644), 0);
  StatusChannel opener(owner);
  EXPECT_FALSE(opener.Open());
  EXPECT_TRUE(opener.untrusted());
  EXPECT_FALSE(opener.OpenToRead());
  EXPECT_TRUE(opener.untrusted());
  ASSERT_EQ(::chmod(ShmPath(creator.names().mapping).c_str(), 0600), 0);
  // Only a semaphore open to others: the same.
  ASSERT_EQ(::chmod(SemPath(creator.names().full).c_str(), 0606), 0);
  EXPECT_FALSE(opener.Open());
  EXPECT_TRUE(opener.untrusted());
  ASSERT_EQ(::chmod(SemPath(creator.names().full).c_str(), 0600), 0);
  EXPECT_TRUE(opener.Open());
  EXPECT_FALSE(opener.untrusted());
}

// An area cut short under a reader: reads fail, nothing faults.
TEST(SharedObjectTrustTest, TruncatedAreaIsReadWithoutFaulting) {
  const std::uint32_t owner = DeadOwnerId();
  StatusChannel creator(owner);
  ASSERT_TRUE(creator.Open());
  Finish(creator.RecordAt(0), u"/a");
  StatusChannel reader(owner);
  ASSERT_TRUE(reader.OpenToRead());
  StatusRecord record;
  ASSERT_TRUE(reader.ReadFreeHeadRecord(&record));
  EXPECT_EQ(StatusRecordPath(record), u"/a");
  // Every record taken: nothing to show, but nothing wrong either.
  creator.header()->freeHead = kNoRecord;
  ASSERT_TRUE(reader.ReadFreeHeadRecord(&record));
  EXPECT_EQ(std::uint64_t{record.startTime}, 0u);
  EXPECT_EQ(StatusRecordPath(record), u"");
  creator.header()->freeHead = 0;
  for (off_t size : {off_t{30}, off_t{0}}) {
    ASSERT_EQ(::truncate(ShmPath(creator.names().mapping).c_str(), size), 0);
    EXPECT_FALSE(reader.ReadFreeHeadRecord(&record)) << size;
    std::vector<CollectedRecord> collected;
    EXPECT_EQ(creator.CollectFinished(&collected), CollectResult::kFailed) << size;
  }
}
#endif

}  // namespace
}  // namespace ordana
