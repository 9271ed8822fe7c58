#pragma once
// StatusChannel: the named shared memory through which other processes
// follow conversions.
//
// The area holds a 24-byte header and 512 StatusRecords. Records are linked
// into two lists through their first word: the free list and the used list.
// A mutex guards the header and the links; the semaphore "Empty" counts free
// records and "Full" counts records handed to the consumer.
//
// Two ways to use it:
// - The converter's own channel, named after its own process id: every
//   conversion overwrites the record at the free-list head (record 0), so a
//   reader sees the conversion in progress. No semaphore or mutex is used.
// - Another process's channel (/ssb): the consumer owns the channel; each
//   conversion acquires a free record, which moves to the used list and stays
//   there until the consumer has collected it (state 2) and returned it.
//
// Consumer protocol (what ordana-watch --collect does): wait on "Full"; under
// the mutex take the finished records (state 2) off the used list and append
// them to the free list's tail; release the mutex; release "Empty" once per
// returned record.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/StatusRecord.h"
#include "platform/Platform.h"

namespace ordana {

constexpr std::uint32_t kStatusChannelCapacity = 512;
constexpr std::uint32_t kStatusChannelSignature = 1;

#pragma pack(push, 1)
struct StatusChannelHeader {
  std::uint32_t signature;  // 1 once the creator has initialised the channel
  std::uint32_t usedCount;  // producers add one per acquired record; ordana-watch subtracts
                            // one per returned record
  std::uint32_t capacity;   // 512
  std::uint32_t freeHead;   // first free record, kNoRecord when none
  std::uint32_t usedHead;   // most recently acquired record, kNoRecord when none
  std::uint32_t reserved;   // never written
};
#pragma pack(pop)

static_assert(sizeof(StatusChannelHeader) == 24, "the header layout is shared");
static_assert(offsetof(StatusChannelHeader, usedCount) == 4);
static_assert(offsetof(StatusChannelHeader, capacity) == 8);
static_assert(offsetof(StatusChannelHeader, freeHead) == 12);
static_assert(offsetof(StatusChannelHeader, usedHead) == 16);
static_assert(offsetof(StatusChannelHeader, reserved) == 20);

constexpr std::size_t kStatusChannelSize =
    sizeof(StatusChannelHeader) + kStatusChannelCapacity * sizeof(StatusRecord);
static_assert(kStatusChannelSize == 296984, "the area size is shared");

// The names of the channel's four objects for an owner process id, its
// hexadecimal digits in upper case. "SemaphoreEmtpy" is spelled so: other
// programs open it under that name.
struct StatusChannelNames {
  std::u16string mapping;  // Quennel.Ordana.%X
  std::u16string mutex;    // Quennel.Ordana.Mutex.%X
  std::u16string empty;    // Quennel.Ordana.SemaphoreEmtpy.%X
  std::u16string full;     // Quennel.Ordana.SemaphoreFull.%X
};
StatusChannelNames MakeStatusChannelNames(std::uint32_t ownerId);

// How long the channel waits, in milliseconds, before it gives up. Nothing
// waits without a limit: a consumer may never free a record, and on POSIX a
// mutex whose holder died is never released.
struct StatusChannelLimits {
  // For a free record. After this or the mutex wait ran out, the next
  // conversions take a record only when one is free and the mutex is
  // available at once, until a record is obtained again: a consumer that
  // stopped freeing records, or a holder that died with the mutex, costs one
  // wait, not one per file.
  std::uint32_t recordWait = 5000;
  // For the mutex, which is held only for a few list operations.
  std::uint32_t mutexWait = 2000;
  // For another process that created the channel to finish initialising it.
  std::uint32_t initialiseWait = 2000;
};

// A finished record taken off the used list by a consumer.
struct CollectedRecord {
  std::uint32_t index;
  StatusRecord record;
};

enum class CollectResult {
  kCollected,       // under the mutex
  kMutexTakenOver,  // the mutex was not released within the limit; its holder is taken for dead
  kFailed,          // the channel is not open, or its area is not whole any more
};

// What CollectFromArea did.
struct CollectCounts {
  std::size_t returned = 0;  // records moved to the free list: collected + rejected
  std::size_t rejected = 0;  // finished records that were not well-formed, not collected
};

// The list work of collecting on an area of kStatusChannelSize bytes (the
// caller holds the mutex or has given up waiting for it): the finished
// records on the used list, oldest first and at most `maximum`, are unlinked,
// marked not finished and appended to the free list's tail; the well-formed
// ones are appended to `collected`. Nothing in the area is trusted: every
// index is checked, every walk bounded and no record taken twice.
CollectCounts CollectFromArea(std::uint8_t* area, std::vector<CollectedRecord>* collected,
                              std::size_t maximum);

class StatusChannel {
 public:
  explicit StatusChannel(std::uint32_t ownerId, StatusChannelLimits limits = {});
  ~StatusChannel();
  StatusChannel(const StatusChannel&) = delete;
  StatusChannel& operator=(const StatusChannel&) = delete;

  // Creates the channel, or opens it when another process has created it.
  // The owner (this process's own id) reclaims what an earlier process of the
  // same id left behind. False when the area cannot be created, mapped, or was
  // not initialised by its creator in time, or when an object under one of
  // the names is not trusted (untrusted() then says so); the object then
  // stays without mapping.
  [[nodiscard]] bool Open();
  // Maps an existing channel only to read it (following a converter); no
  // mutex or semaphore is opened. False when there is no such channel or it
  // is not trusted.
  [[nodiscard]] bool OpenToRead();
  // Reads the record at the free-list head without touching the mapping
  // (ReadSharedMemory), a consistent copy as SnapshotStatusRecord makes it.
  // An empty free list gives an empty record (start time 0). False when the
  // area is not whole any more (truncated under us).
  [[nodiscard]] bool ReadFreeHeadRecord(StatusRecord* record) const;
  // Unmaps and closes everything. The names are removed (where names outlive
  // their handles) when this process owns the channel, or when it created
  // the channel for an owner that no longer exists.
  void Close();

  bool mapped() const { return memory_.base != nullptr; }
  // The last Open or OpenToRead met an object that belongs to another user
  // or that others may open.
  bool untrusted() const { return untrusted_; }
  // Finished records the last CollectFinished found malformed and skipped.
  std::size_t rejected() const { return rejected_; }
  bool creator() const { return creator_; }
  std::uint32_t ownerId() const { return ownerId_; }
  const StatusChannelNames& names() const { return names_; }
  StatusChannelHeader* header() const;
  // Record `index`, or null when the index is outside the channel.
  StatusRecord* RecordAt(std::uint32_t index) const;
  // Index of a record of this channel; kNoRecord for any other pointer.
  std::uint32_t IndexOf(const StatusRecord* record) const;
  // The record at the free-list head, which the owner's own conversions
  // overwrite; null when the list is empty or not mapped.
  StatusRecord* FreeHeadRecord() const;

  // Producer: waits (bounded) for a free record, moves it from the free list
  // to the used list under the mutex and hands it over ("Full"). Null when
  // none was obtained.
  StatusRecord* Acquire();

  // Consumer: waits for a handed-over record.
  platform::WaitResult WaitForHandedOver(std::uint32_t milliseconds);
  // Consumer: takes the finished records off the used list (the oldest
  // `maximum` of them), appends them oldest first to `collected` and to the
  // free list's tail, and releases "Empty" once per record. Records still
  // being converted stay on the used list.
  [[nodiscard]] CollectResult CollectFinished(std::vector<CollectedRecord>* collected,
                                              std::size_t maximum = kStatusChannelCapacity);

 private:
  bool InitialiseAsCreator();
  bool WaitUntilInitialised() const;
  bool RemovesNamesOnClose() const;
  bool OpenSyncObjects();
  bool Opened();
  void RemoveNames() const;
  bool Refuse(bool untrusted);
  // Gives back the mutex (`count` 0) or `count` counts of a semaphore that
  // this process took; says so at level 2 when the system refuses.
  void Release(platform::SyncObject object, std::uint32_t count) const;

  std::uint32_t ownerId_;
  StatusChannelLimits limits_;
  StatusChannelNames names_;
  platform::SharedMemory memory_;
  platform::SyncObject mutex_;
  platform::SyncObject empty_;
  platform::SyncObject full_;
  bool creator_ = false;
  bool readOnly_ = false;
  bool congested_ = false;  // the last Acquire obtained no record
  bool untrusted_ = false;
  bool mutexTakenOver_ = false;  // the last CollectFinished went on without the mutex
  std::size_t rejected_ = 0;
  int cleanupTokens_[4] = {-1, -1, -1, -1};  // platform::CleanupToken of the four names
};

// A consistent copy of a record that its writer may be changing: copied until
// two copies in a row agree.
StatusRecord SnapshotStatusRecord(const StatusRecord* record);

// ---- The converter's channel -------------------------------------------------

// The limits the process's channel is opened with (tests shorten them).
StatusChannelLimits& ProcessStatusChannelLimits();
// The process's channel for StatusChannelOwnerId(), created (or opened) on
// first use and kept until CloseStatusChannel or the end of the process.
StatusChannel* OpenStatusChannel();
// Closes the process's channel; the next conversion opens the channel of the
// then current owner id (/ssb).
void CloseStatusChannel();
// Acquires a record of the process's channel (see StatusChannel::Acquire).
StatusRecord* AcquireStatusRecord();
// The record for the next conversion: on the own channel the free-list head
// record (not taken off the list), on another process's channel an acquired
// one; LocalStatusRecord() when there is none, so the conversion still has
// somewhere to write and publishes nothing.
StatusRecord* SelectStatusRecord();

}  // namespace ordana
