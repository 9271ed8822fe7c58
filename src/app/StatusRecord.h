#pragma once
// StatusRecord: what one conversion is doing, in a fixed little-endian
// layout that other processes read (see StatusChannel.h for where it lives).

#include <cstddef>
#include <cstdint>
#include <string>

namespace ordana {

enum StatusState : std::uint32_t {
  kStatusOpened = 0,
  kStatusConverting = 1,
  kStatusDone = 2,
};

constexpr std::uint32_t kStatusPathLength = 260;
constexpr std::uint32_t kNoRecord = 0xFFFFFFFFu;

#pragma pack(push, 1)
struct StatusRecord {
  std::uint32_t link;             // next record in the free or used list
  std::uint64_t processedOffset;  // where the current read started
  std::uint64_t totalSize;        // 0 when the input has no size
  std::uint64_t startTime;        // FILETIME, UTC
  std::uint64_t endTime;          // FILETIME, UTC
  std::uint32_t state;            // StatusState; use SetStatusState/GetStatusState
  std::uint32_t decoderErrors;
  std::uint32_t decoderCharset;
  std::uint32_t encoderErrors;
  std::uint32_t encoderCharset;
  char16_t inputPath[kStatusPathLength];  // zero-terminated
  std::uint32_t reserved;                 // never written
};
#pragma pack(pop)

static_assert(sizeof(StatusRecord) == 580, "the record layout is shared with other processes");
static_assert(offsetof(StatusRecord, processedOffset) == 4);
static_assert(offsetof(StatusRecord, totalSize) == 12);
static_assert(offsetof(StatusRecord, startTime) == 20);
static_assert(offsetof(StatusRecord, endTime) == 28);
static_assert(offsetof(StatusRecord, state) == 36);
static_assert(offsetof(StatusRecord, decoderErrors) == 40);
static_assert(offsetof(StatusRecord, decoderCharset) == 44);
static_assert(offsetof(StatusRecord, encoderErrors) == 48);
static_assert(offsetof(StatusRecord, encoderCharset) == 52);
static_assert(offsetof(StatusRecord, inputPath) == 56);
static_assert(offsetof(StatusRecord, reserved) == 576);
// Invariant: records start at multiples of 4 in the channel (24 + 580 * i) and
// in LocalStatusRecord(), so the state word is naturally aligned and can be
// accessed atomically.
static_assert(offsetof(StatusRecord, state) % 4 == 0 && sizeof(StatusRecord) % 4 == 0);

// Stores the state with release ordering: a reader that sees the new state
// with GetStatusState also sees every field written before it. State 2 is the
// last write of a conversion, so a finished record is never seen torn.
void SetStatusState(StatusRecord* record, std::uint32_t state);
// Loads the state with acquire ordering (see SetStatusState).
std::uint32_t GetStatusState(const StatusRecord* record);

// The record's input path, up to its terminator (or all 260 units when a
// writer left none).
std::u16string StatusRecordPath(const StatusRecord& record);

// Whether a record read from a channel can be used as it is: a known state,
// and a path that ends within its 260 units. A record written by another
// process is checked before any of it is shown or written anywhere.
bool IsWellFormedStatusRecord(const StatusRecord& record);

// A record in this process's memory, filled when no shared record is
// available; nothing outside the process sees it.
StatusRecord* LocalStatusRecord();

// The record the current (or latest) conversion fills. Before the first
// conversion: the record the next one will fill where that is known (the
// process's own channel), otherwise LocalStatusRecord(). Defined with the
// channel in StatusChannel.cpp.
StatusRecord* CurrentStatusRecord();

}  // namespace ordana
