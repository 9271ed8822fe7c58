#pragma once
// StatusRecord: what one conversion is doing, in a fixed little-endian
// layout that other processes read.

#include <cstddef>
#include <cstdint>

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
  std::uint32_t state;            // StatusState
  std::uint32_t decoderErrors;
  std::uint32_t decoderCharset;
  std::uint32_t encoderErrors;
  std::uint32_t encoderCharset;
  char16_t inputPath[kStatusPathLength];  // zero-terminated
  std::uint32_t reserved;
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

// The record the current conversion fills. Until the shared channel exists
// it is held in this process's memory.
StatusRecord* CurrentStatusRecord();

}  // namespace ordana
