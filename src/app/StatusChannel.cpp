#include "app/StatusChannel.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "app/Settings.h"
#include "core/Format.h"
#include "core/MessageLog.h"
#include "core/StringTable.h"
#include "support/Bits.h"

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

namespace {

// The kinds of the four names, in the order of cleanupTokens_.
constexpr platform::CleanupKind kNameKinds[4] = {
    platform::CleanupKind::kSharedMemory, platform::CleanupKind::kSharedMutex,
    platform::CleanupKind::kSharedSemaphore, platform::CleanupKind::kSharedSemaphore};

}  // namespace

void StatusChannel::RemoveNames() const {
  platform::RemoveSharedMemoryName(names_.mapping.c_str());
  platform::RemoveSharedMutexName(names_.mutex.c_str());
  platform::RemoveSharedSemaphoreName(names_.empty.c_str());
  platform::RemoveSharedSemaphoreName(names_.full.c_str());
}

bool StatusChannel::Refuse(bool untrusted) {
  Close();
  untrusted_ = untrusted;
  return false;
}

bool StatusChannel::Open() {
  Close();
  untrusted_ = false;
  if (ownerId_ == platform::GetCurrentProcessId()) {
    // Objects under the owner's own id can only be left over from an earlier
    // process that had this id and was killed before it could remove them:
    // that process is gone, since this one has its id now. They are
    // reclaimed, but only if they are ours (RemoveNames removes nothing that
    // is not trusted; what stays makes the exclusive creation below fail).
    RemoveNames();
  }
  bool existed = false;
  if (!platform::CreateSharedMemory(names_.mapping.c_str(), kStatusChannelSize, &memory_,
                                    &existed)) {
    return Refuse(platform::LastSharedObjectError() == platform::SharedObjectError::kNotTrusted);
  }
  creator_ = !existed;
  if (creator_) {
    if (InitialiseAsCreator()) return Opened();
    // Someone else's objects stand under the other names.
    const bool untrusted =
        platform::LastSharedObjectError() != platform::SharedObjectError::kUnusable;
    platform::CloseSyncObject(&mutex_);
    platform::CloseSyncObject(&empty_);
    platform::CloseSyncObject(&full_);
    platform::CloseSharedMemory(&memory_);
    RemoveNames();
    return Refuse(untrusted);
  }

  // Another process created the channel; it publishes the signature only once
  // the mutex, the semaphores and the lists are in place.
  if (!WaitUntilInitialised()) return Refuse(false);
  if (!OpenSyncObjects()) return Refuse(true);
  return Opened();
}

bool StatusChannel::Opened() {
  // Names this process will remove must not outlive it when it ends early.
  if (RemovesNamesOnClose()) {
    const std::u16string* names[4] = {&names_.mapping, &names_.mutex, &names_.empty, &names_.full};
    for (int k = 0; k < 4; ++k) {
      cleanupTokens_[k] = platform::RegisterCleanup(kNameKinds[k], names[k]->c_str());
    }
  }
  return true;
}

bool StatusChannel::OpenSyncObjects() {
  // A missing object leaves its handle null: Acquire then obtains no record,
  // and the owner's own conversions need none of them. An object that is
  // there but not trusted makes the whole channel unusable.
  const auto opened = [](bool ok) {
    return ok || platform::LastSharedObjectError() != platform::SharedObjectError::kNotTrusted;
  };
  return opened(platform::OpenSharedMutex(names_.mutex.c_str(), &mutex_)) &&
         opened(platform::OpenSharedSemaphore(names_.empty.c_str(), &empty_)) &&
         opened(platform::OpenSharedSemaphore(names_.full.c_str(), &full_));
}

bool StatusChannel::OpenToRead() {
  Close();
  untrusted_ = false;
  if (!platform::OpenSharedMemory(names_.mapping.c_str(), kStatusChannelSize, &memory_, true)) {
    untrusted_ = platform::LastSharedObjectError() == platform::SharedObjectError::kNotTrusted;
    return false;
  }
  readOnly_ = true;
  return true;
}

bool StatusChannel::ReadFreeHeadRecord(StatusRecord* record) const {
  if (!mapped()) return false;
  // Read through the object, never through the mapping: another process may
  // truncate the area, and touching a page beyond its end would kill us.
  const auto read = [this](std::size_t offset, void* out, std::size_t count) {
    return platform::ReadSharedMemory(memory_, offset, out, count);
  };
  StatusChannelHeader h;
  if (!read(0, &h, sizeof h)) return false;
  const std::uint32_t index = h.freeHead;
  if (index >= kStatusChannelCapacity) {
    *record = StatusRecord{};  // no record to show (an empty free list)
    return true;
  }
  const std::size_t offset =
      sizeof(StatusChannelHeader) + std::size_t{index} * sizeof(StatusRecord);
  StatusRecord first;
  StatusRecord second;
  if (!read(offset, &first, sizeof first)) return false;
  for (int attempt = 0; attempt < 16; ++attempt) {
    if (!read(offset, &second, sizeof second)) return false;
    if (std::memcmp(&first, &second, sizeof first) == 0) break;
    first = second;
  }
  *record = first;
  return true;
}

bool StatusChannel::InitialiseAsCreator() {
  // The area is new, so objects of ours under the other three names can only
  // be left over from an earlier channel of the same name whose process
  // died; their counts would be wrong. Another user's objects are not
  // removed, and then the exclusive creation fails.
  platform::RemoveSharedMutexName(names_.mutex.c_str());
  platform::RemoveSharedSemaphoreName(names_.empty.c_str());
  platform::RemoveSharedSemaphoreName(names_.full.c_str());
  if (!platform::CreateSharedMutex(names_.mutex.c_str(), &mutex_) ||
      !platform::CreateSharedSemaphore(names_.empty.c_str(), kStatusChannelCapacity,
                                       kStatusChannelCapacity, &empty_) ||
      !platform::CreateSharedSemaphore(names_.full.c_str(), 0, kStatusChannelCapacity, &full_)) {
    return false;
  }

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
  StoreRelease(SignatureWord(h), kStatusChannelSignature);
  if (locked) Release(mutex_, 0);
  return true;
}

void StatusChannel::Release(platform::SyncObject object, std::uint32_t count) const {
  const bool released = count == 0 ? platform::ReleaseSharedMutex(object)
                                   : platform::ReleaseSharedSemaphore(object, count);
  // The system refuses only an object that is broken (replaced under its
  // name, or a count beyond its maximum). Nothing here can mend it; the
  // user learns that the channel's counts may be wrong from now on.
  if (!released) {
    LogResourceMessage(kLevelDetails, MessageKind::kFailure, kStringChannelReleaseFailed,
                       names_.mapping, DescribeError(platform::LastError()));
  }
}

bool StatusChannel::WaitUntilInitialised() const {
  const std::uint32_t start = platform::GetTickCount();
  for (;;) {
    if (LoadAcquire(SignatureWord(header())) == kStatusChannelSignature) {
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
  if (remove) RemoveNames();
  for (int& token : cleanupTokens_) {
    platform::WithdrawCleanup(token);
    token = platform::kNoCleanup;
  }
  creator_ = false;
  readOnly_ = false;
  congested_ = false;
  mutexTakenOver_ = false;
}

StatusRecord* StatusChannel::Acquire() {
  if (!mapped() || readOnly_) return nullptr;
  if (!mutex_.native || !empty_.native || !full_.native) {
    // Mapped, but its mutex or semaphores could not be opened.
    LogResourceMessage(kLevelDetails, MessageKind::kFailure, kStringChannelNotOpened,
                       names_.mapping);
    return nullptr;
  }

  // After a wait that ran out, only what is available at once is taken,
  // until a record is obtained again.
  const std::uint32_t recordWait = congested_ ? 0 : limits_.recordWait;
  const std::uint32_t mutexWait = congested_ ? 0 : limits_.mutexWait;
  if (platform::WaitSharedSemaphore(empty_, recordWait) != platform::WaitResult::kSignaled) {
    congested_ = true;
    LogResourceMessage(kLevelDetails, MessageKind::kFailure, kStringChannelNoFreeRecord,
                       names_.mapping, recordWait);
    return nullptr;
  }
  if (platform::WaitSharedMutex(mutex_, mutexWait) != platform::WaitResult::kSignaled) {
    congested_ = true;
    // The free record we counted is given back: nothing was taken.
    Release(empty_, 1);
    LogResourceMessage(kLevelDetails, MessageKind::kFailure, kStringChannelMutexHeld,
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
  Release(mutex_, 0);
  // "Full" counts records handed over; nothing is handed over without one.
  if (record) Release(full_, 1);
  congested_ = record == nullptr;
  return record;
}

platform::WaitResult StatusChannel::WaitForHandedOver(std::uint32_t milliseconds) {
  if (!mapped() || !full_.native) return platform::WaitResult::kFailed;
  return platform::WaitSharedSemaphore(full_, milliseconds);
}

namespace {

StatusRecord* RecordAt(std::uint8_t* area, std::uint32_t index) {
  return reinterpret_cast<StatusRecord*>(area + sizeof(StatusChannelHeader) +
                                         std::size_t{index} * sizeof(StatusRecord));
}

// The finished records on the used list, oldest first, at most `maximum`. A
// walk ends at the first index outside the channel or met before (a cycle
// left by a writer that crashed, or a forged list).
std::vector<std::uint32_t> FinishedRecords(std::uint8_t* area, std::size_t maximum) {
  auto* h = reinterpret_cast<StatusChannelHeader*>(area);
  std::vector<bool> seen(kStatusChannelCapacity, false);
  std::vector<std::uint32_t> finished;
  for (std::uint32_t k = h->usedHead; k < kStatusChannelCapacity && !seen[k];
       k = RecordAt(area, k)->link) {
    seen[k] = true;
    if (GetStatusState(RecordAt(area, k)) == kStatusDone) finished.push_back(k);
  }
  std::reverse(finished.begin(), finished.end());  // oldest first
  if (finished.size() > maximum) finished.resize(maximum);
  return finished;
}

// Unlinks the records marked in `take` from the used list. The list is cut
// where it leaves the channel or turns back on itself, so that afterwards it
// is a plain list that holds none of them. Returns which records it holds.
std::vector<bool> UnlinkFromUsedList(std::uint8_t* area, const std::vector<bool>& take) {
  auto* h = reinterpret_cast<StatusChannelHeader*>(area);
  std::vector<bool> seen(kStatusChannelCapacity, false);
  std::uint32_t previous = kNoRecord;
  const auto setLinkTo = [&](std::uint32_t value) {
    if (previous == kNoRecord) {
      h->usedHead = value;
    } else {
      RecordAt(area, previous)->link = value;
    }
  };
  for (std::uint32_t k = h->usedHead;;) {
    if (k >= kStatusChannelCapacity || seen[k]) {
      if (k != kNoRecord) setLinkTo(kNoRecord);
      break;
    }
    seen[k] = true;
    const std::uint32_t next = RecordAt(area, k)->link;
    if (take[k]) {
      setLinkTo(next);
    } else {
      previous = k;
    }
    k = next;
  }
  std::vector<bool> used(kStatusChannelCapacity, false);
  for (std::uint32_t k = h->usedHead; k < kStatusChannelCapacity && !used[k];
       k = RecordAt(area, k)->link) {
    used[k] = true;
  }
  return used;
}

// The tail of the free list (kNoRecord when it is empty), after cutting the
// list before anything that would make the two lists share a record.
std::uint32_t CutFreeList(std::uint8_t* area, const std::vector<bool>& take,
                          const std::vector<bool>& used) {
  auto* h = reinterpret_cast<StatusChannelHeader*>(area);
  std::uint32_t tail = kNoRecord;
  std::vector<bool> seen(kStatusChannelCapacity, false);
  for (std::uint32_t k = h->freeHead;
       k < kStatusChannelCapacity && !seen[k] && !take[k] && !used[k];
       k = RecordAt(area, k)->link) {
    seen[k] = true;
    tail = k;
  }
  if (tail == kNoRecord) {
    h->freeHead = kNoRecord;
  } else {
    RecordAt(area, tail)->link = kNoRecord;
  }
  return tail;
}

}  // namespace

CollectCounts CollectFromArea(std::uint8_t* area, std::vector<CollectedRecord>* collected,
                              std::size_t maximum) {
  auto* h = reinterpret_cast<StatusChannelHeader*>(area);
  const std::vector<std::uint32_t> finished = FinishedRecords(area, maximum);
  std::vector<bool> take(kStatusChannelCapacity, false);
  for (std::uint32_t k : finished) take[k] = true;
  const std::vector<bool> used = UnlinkFromUsedList(area, take);
  // Returned records go to the free list's tail, so records are reused
  // round-robin and a slow reader of a finished record has the longest time
  // before it is overwritten.
  std::uint32_t tail = CutFreeList(area, take, used);
  CollectCounts counts;
  for (std::uint32_t k : finished) {
    StatusRecord* record = RecordAt(area, k);
    const StatusRecord copy = SnapshotStatusRecord(record);
    if (IsWellFormedStatusRecord(copy)) {
      collected->push_back({k, copy});
    } else {
      ++counts.rejected;
    }
    // Not "done" any more, so that it is never collected twice, even by a
    // consumer that does not go by the lists.
    SetStatusState(record, kStatusOpened);
    record->link = kNoRecord;
    if (tail == kNoRecord) {
      h->freeHead = k;
    } else {
      RecordAt(area, tail)->link = k;
    }
    tail = k;
    if (h->usedCount > 0) h->usedCount -= 1;
  }
  counts.returned = finished.size();
  return counts;
}

CollectResult StatusChannel::CollectFinished(std::vector<CollectedRecord>* collected,
                                             std::size_t maximum) {
  rejected_ = 0;
  if (!mapped() || readOnly_ || !mutex_.native) return CollectResult::kFailed;
  // A POSIX mutex whose holder died stays taken for good. Holders change the
  // lists in a few plain stores, so one that died holding it can at worst
  // have lost a record: going on without it is better than hanging. After
  // that only an immediate try is made, until the mutex is obtained again:
  // a dead holder costs one wait, not one per collection.
  const std::uint32_t wait = mutexTakenOver_ ? 0 : limits_.mutexWait;
  const bool locked = platform::WaitSharedMutex(mutex_, wait) == platform::WaitResult::kSignaled;
  mutexTakenOver_ = !locked;
  // Another process of this user may have cut the area short; touching what
  // is not there any more would raise SIGBUS.
  if (platform::SharedMemoryCurrentSize(memory_) < kStatusChannelSize) {
    if (locked) Release(mutex_, 0);
    return CollectResult::kFailed;
  }
  const CollectCounts counts = CollectFromArea(memory_.base, collected, maximum);
  rejected_ = counts.rejected;
  // Only what was acquired is released: releasing a mutex this process never
  // got would let two holders in at once when the real holder releases it.
  if (locked) Release(mutex_, 0);
  if (counts.returned > 0) {
    Release(empty_, static_cast<std::uint32_t>(counts.returned));
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
      if (state.channel->untrusted()) {
        // Someone else's object under our name: it may be read or changed by
        // them, so nothing goes into it. Said once; converting goes on.
        LogResourceMessage(kLevelNormal, MessageKind::kRepaired, kStringChannelNotTrusted,
                           state.channel->names().mapping);
      } else {
        LogResourceMessage(kLevelDetails, MessageKind::kFailure, kStringChannelNotOpened,
                           state.channel->names().mapping);
      }
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
