#include "app/StatusChannel.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "app/MessageLog.h"
#include "app/Settings.h"
#include "core/Format.h"

namespace ordana {

namespace {

std::uint32_t* SignatureWord(StatusChannelHeader* header) {
  return reinterpret_cast<std::uint32_t*>(header);  // offset 0, aligned with the mapping
}

}  // namespace

StatusChannelNames MakeStatusChannelNames(std::uint32_t ownerId) {
  return {Format(u"Quennel.Ordana.%X", ownerId), Format(u"Quennel.Ordana.Mutex.%X", ownerId),
          Format(u"Quennel.Ordana.SemaphoreEmtpy.%X", ownerId),
          Format(u"Quennel.Ordana.SemaphoreFull.%X", ownerId)};
}

StatusChannel::StatusChannel(std::uint32_t ownerId, StatusChannelLimits limits)
    : ownerId_(ownerId), limits_(limits), names_(MakeStatusChannelNames(ownerId)) {}

StatusChannel::~StatusChannel() { Close(); }

StatusChannelHeader* StatusChannel::header() const {
  return reinterpret_cast<StatusChannelHeader*>(memory_.base);
}

StatusRecord* StatusChannel::RecordAt(std::uint32_t index) const {
  if (!mapped() || index >= kStatusChannelCapacity) return nullptr;
  return reinterpret_cast<StatusRecord*>(memory_.base + sizeof(StatusChannelHeader) +
                                         std::size_t{index} * sizeof(StatusRecord));
}

std::uint32_t StatusChannel::IndexOf(const StatusRecord* record) const {
  if (!mapped() || !record) return kNoRecord;
  const auto* first = memory_.base + sizeof(StatusChannelHeader);
  const auto* at = reinterpret_cast<const std::uint8_t*>(record);
  if (at < first || at >= memory_.base + kStatusChannelSize) return kNoRecord;
  const std::size_t offset = static_cast<std::size_t>(at - first);
  if (offset % sizeof(StatusRecord) != 0) return kNoRecord;
  return static_cast<std::uint32_t>(offset / sizeof(StatusRecord));
}

StatusRecord* StatusChannel::FreeHeadRecord() const {
  if (!mapped()) return nullptr;
  return RecordAt(header()->freeHead);
}

bool StatusChannel::Open() {
  Close();
  bool existed = false;
  if (!platform::CreateSharedMemory(names_.mapping.c_str(), kStatusChannelSize, &memory_,
                                    &existed)) {
    return false;
  }
  creator_ = !existed;
  if (creator_) return InitialiseAsCreator();

  // Another process created the channel; it publishes the signature only once
  // the mutex, the semaphores and the lists are in place.
  if (!WaitUntilInitialised()) {
    Close();
    return false;
  }
  // A missing object leaves its handle null: Acquire then obtains no record,
  // and the owner's own conversions need none of them.
  platform::OpenSharedMutex(names_.mutex.c_str(), &mutex_);
  platform::OpenSharedSemaphore(names_.empty.c_str(), &empty_);
  platform::OpenSharedSemaphore(names_.full.c_str(), &full_);
  return true;
}

bool StatusChannel::OpenToRead() {
  Close();
  if (!platform::OpenSharedMemory(names_.mapping.c_str(), kStatusChannelSize, &memory_)) {
    return false;
  }
  readOnly_ = true;
  return true;
}

bool StatusChannel::InitialiseAsCreator() {
  // The area is new, so objects under the other three names can only be left
  // over from an earlier channel of the same name whose process died; their
  // counts would be wrong.
  platform::RemoveSharedMutexName(names_.mutex.c_str());
  platform::RemoveSharedSemaphoreName(names_.empty.c_str());
  platform::RemoveSharedSemaphoreName(names_.full.c_str());
  platform::CreateSharedMutex(names_.mutex.c_str(), &mutex_);
  platform::CreateSharedSemaphore(names_.empty.c_str(), kStatusChannelCapacity,
                                  kStatusChannelCapacity, &empty_);
  platform::CreateSharedSemaphore(names_.full.c_str(), 0, kStatusChannelCapacity, &full_);

  // Nobody else can hold the mutex yet (openers wait for the signature); the
  // wait is bounded all the same.
  const bool locked =
      platform::WaitSharedMutex(mutex_, limits_.mutexWait) == platform::WaitResult::kSignaled;
  StatusChannelHeader* h = header();
  h->usedCount = 0;
  h->capacity = kStatusChannelCapacity;
  h->usedHead = kNoRecord;
  h->freeHead = 0;
  for (std::uint32_t i = 0; i < kStatusChannelCapacity; ++i) {
    RecordAt(i)->link = i + 1 < kStatusChannelCapacity ? i + 1 : kNoRecord;
  }
  // Last, with release ordering: whoever sees the signature sees the lists.
  __atomic_store_n(SignatureWord(h), kStatusChannelSignature, __ATOMIC_RELEASE);
  if (locked) platform::ReleaseSharedMutex(mutex_);
  return true;
}

bool StatusChannel::WaitUntilInitialised() const {
  const std::uint32_t start = platform::GetTickCount();
  for (;;) {
    if (__atomic_load_n(SignatureWord(header()), __ATOMIC_ACQUIRE) == kStatusChannelSignature) {
      return true;
    }
    if (platform::GetTickCount() - start >= limits_.initialiseWait) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool StatusChannel::RemovesNamesOnClose() const {
  if (readOnly_) return false;
  // The owner's channel ends with the owner. A channel made for another
  // process is that process's to remove, unless it is gone and no consumer
  // can ever come for it.
  if (ownerId_ == platform::GetCurrentProcessId()) return true;
  return creator_ && !platform::ProcessExists(ownerId_);
}

void StatusChannel::Close() {
  const bool wasOpen = mapped();
  const bool remove = wasOpen && RemovesNamesOnClose();
  platform::CloseSharedMemory(&memory_);
  platform::CloseSyncObject(&mutex_);
  platform::CloseSyncObject(&empty_);
  platform::CloseSyncObject(&full_);
  if (remove) {
    platform::RemoveSharedMemoryName(names_.mapping.c_str());
    platform::RemoveSharedMutexName(names_.mutex.c_str());
    platform::RemoveSharedSemaphoreName(names_.empty.c_str());
    platform::RemoveSharedSemaphoreName(names_.full.c_str());
  }
  creator_ = false;
  readOnly_ = false;
  congested_ = false;
}

StatusRecord* StatusChannel::Acquire() {
  if (!mapped() || readOnly_) return nullptr;
  if (!mutex_.native || !empty_.native || !full_.native) {
    LogMessage(2, 2,
               u"The status channel %s lacks its mutex or semaphores; this conversion is not "
               u"published\r\n",
               names_.mapping);
    return nullptr;
  }

  // After a wait that ran out, only what is available at once is taken,
  // until a record is obtained again.
  const std::uint32_t recordWait = congested_ ? 0 : limits_.recordWait;
  const std::uint32_t mutexWait = congested_ ? 0 : limits_.mutexWait;
  if (platform::WaitSharedSemaphore(empty_, recordWait) != platform::WaitResult::kSignaled) {
    congested_ = true;
    LogMessage(2, 2,
               u"No free record in the status channel %s within %u ms; this conversion is not "
               u"published\r\n",
               names_.mapping, recordWait);
    return nullptr;
  }
  if (platform::WaitSharedMutex(mutex_, mutexWait) != platform::WaitResult::kSignaled) {
    congested_ = true;
    // The free record we counted is given back: nothing was taken.
    platform::ReleaseSharedSemaphore(empty_, 1);
    LogMessage(2, 2,
               u"The mutex of the status channel %s was not released within %u ms; this conversion "
               u"is not published\r\n",
               names_.mapping, mutexWait);
    return nullptr;
  }
  StatusChannelHeader* h = header();
  StatusRecord* record = RecordAt(h->freeHead);
  if (record) {
    const std::uint32_t index = h->freeHead;
    h->freeHead = record->link;
    record->link = h->usedHead;
    // A returned record may still say "done" from its last conversion; a
    // consumer must not collect it before this conversion is done.
    SetStatusState(record, kStatusOpened);
    h->usedHead = index;
    h->usedCount += 1;
  }
  platform::ReleaseSharedMutex(mutex_);
  // "Full" counts records handed over; nothing is handed over without one.
  if (record) platform::ReleaseSharedSemaphore(full_, 1);
  congested_ = record == nullptr;
  return record;
}

platform::WaitResult StatusChannel::WaitForHandedOver(std::uint32_t milliseconds) {
  if (!mapped() || !full_.native) return platform::WaitResult::kFailed;
  return platform::WaitSharedSemaphore(full_, milliseconds);
}

CollectResult StatusChannel::CollectFinished(std::vector<CollectedRecord>* collected,
                                             std::size_t maximum) {
  if (!mapped() || readOnly_ || !mutex_.native) return CollectResult::kFailed;
  // A POSIX mutex whose holder died stays taken for good. Holders change the
  // lists in a few plain stores, so one that died holding it can at worst
  // have lost a record: going on is better than hanging.
  const bool locked =
      platform::WaitSharedMutex(mutex_, limits_.mutexWait) == platform::WaitResult::kSignaled;
  StatusChannelHeader* h = header();

  // The finished records on the used list, newest first. Every walk is
  // bounded by the capacity in case a crashed writer left a cycle.
  std::vector<std::uint32_t> finished;
  for (std::uint32_t k = h->usedHead, steps = 0;
       k < kStatusChannelCapacity && steps < kStatusChannelCapacity;
       k = RecordAt(k)->link, ++steps) {
    if (GetStatusState(RecordAt(k)) == kStatusDone) finished.push_back(k);
  }
  std::reverse(finished.begin(), finished.end());  // oldest first
  if (finished.size() > maximum) finished.resize(maximum);
  std::vector<bool> take(kStatusChannelCapacity, false);
  for (std::uint32_t k : finished) take[k] = true;

  std::uint32_t previous = kNoRecord;
  for (std::uint32_t k = h->usedHead, steps = 0;
       k < kStatusChannelCapacity && steps < kStatusChannelCapacity; ++steps) {
    const std::uint32_t next = RecordAt(k)->link;
    if (take[k]) {
      if (previous == kNoRecord) {
        h->usedHead = next;
      } else {
        RecordAt(previous)->link = next;
      }
    } else {
      previous = k;
    }
    k = next;
  }

  // Returned records go to the free list's tail, so records are reused
  // round-robin and a slow reader of a finished record has the longest time
  // before it is overwritten.
  std::uint32_t tail = kNoRecord;
  for (std::uint32_t k = h->freeHead, steps = 0;
       k < kStatusChannelCapacity && steps < kStatusChannelCapacity;
       k = RecordAt(k)->link, ++steps) {
    tail = k;
  }
  for (std::uint32_t k : finished) {
    StatusRecord* record = RecordAt(k);
    collected->push_back({k, SnapshotStatusRecord(record)});
    // Not "done" any more, so that it is never collected twice, even by a
    // consumer that does not go by the lists.
    SetStatusState(record, kStatusOpened);
    record->link = kNoRecord;
    if (tail == kNoRecord) {
      h->freeHead = k;
    } else {
      RecordAt(tail)->link = k;
    }
    tail = k;
    if (h->usedCount > 0) h->usedCount -= 1;
  }
  platform::ReleaseSharedMutex(mutex_);
  if (!finished.empty()) {
    platform::ReleaseSharedSemaphore(empty_, static_cast<std::uint32_t>(finished.size()));
  }
  return locked ? CollectResult::kCollected : CollectResult::kMutexTakenOver;
}

StatusRecord SnapshotStatusRecord(const StatusRecord* record) {
  StatusRecord first;
  StatusRecord second;
  std::memcpy(&first, record, sizeof first);
  for (int attempt = 0; attempt < 16; ++attempt) {
    // The acquire load orders the copy after the state it reflects.
    (void)GetStatusState(record);
    std::memcpy(&second, record, sizeof second);
    if (std::memcmp(&first, &second, sizeof first) == 0) break;
    first = second;
  }
  return first;
}

// ---- The converter's channel ---------------------------------------------------

namespace {

struct ProcessChannel {
  std::unique_ptr<StatusChannel> channel;
  StatusRecord* current = nullptr;  // the record of the current or latest conversion
};

ProcessChannel& TheProcessChannel() {
  // Destroyed at the end of the process, which closes the channel and, for
  // our own, removes its names.
  static ProcessChannel state;
  return state;
}

bool IsOwnChannel(const StatusChannel* channel) {
  return channel->ownerId() == platform::GetCurrentProcessId();
}

}  // namespace

StatusChannelLimits& ProcessStatusChannelLimits() {
  static StatusChannelLimits limits;
  return limits;
}

StatusChannel* OpenStatusChannel() {
  ProcessChannel& state = TheProcessChannel();
  if (!state.channel) {
    state.channel =
        std::make_unique<StatusChannel>(StatusChannelOwnerId(), ProcessStatusChannelLimits());
    if (!state.channel->Open()) {
      LogMessage(2, 2,
                 u"The status channel %s can not be opened; conversions are not published\r\n",
                 state.channel->names().mapping);
    }
  }
  return state.channel.get();
}

void CloseStatusChannel() {
  ProcessChannel& state = TheProcessChannel();
  state.channel.reset();
  state.current = nullptr;
}

StatusRecord* AcquireStatusRecord() { return OpenStatusChannel()->Acquire(); }

StatusRecord* SelectStatusRecord() {
  StatusChannel* channel = OpenStatusChannel();
  StatusRecord* record = IsOwnChannel(channel) ? channel->FreeHeadRecord() : channel->Acquire();
  TheProcessChannel().current = record ? record : LocalStatusRecord();
  return TheProcessChannel().current;
}

StatusRecord* CurrentStatusRecord() {
  ProcessChannel& state = TheProcessChannel();
  if (state.current) return state.current;
  StatusChannel* channel = OpenStatusChannel();
  if (IsOwnChannel(channel)) {
    if (StatusRecord* record = channel->FreeHeadRecord()) return record;
  }
  return LocalStatusRecord();
}

}  // namespace ordana
