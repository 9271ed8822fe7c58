#include "app/StatusRecord.h"

#include "support/Bits.h"

namespace ordana {

namespace {

// The state word's address, computed from the record's address: a packed
// member's address may not be taken directly.
std::uint32_t* StateWord(StatusRecord* record) {
  return reinterpret_cast<std::uint32_t*>(reinterpret_cast<unsigned char*>(record) +
                                          offsetof(StatusRecord, state));
}

}  // namespace

void SetStatusState(StatusRecord* record, std::uint32_t state) {
  StoreRelease(StateWord(record), state);
}

std::uint32_t GetStatusState(const StatusRecord* record) {
  return LoadAcquire(StateWord(const_cast<StatusRecord*>(record)));
}

std::u16string StatusRecordPath(const StatusRecord& record) {
  std::u16string path;
  for (std::size_t n = 0; n < kStatusPathLength && record.inputPath[n] != 0; ++n) {
    path += record.inputPath[n];
  }
  return path;
}

bool IsWellFormedStatusRecord(const StatusRecord& record) {
  const std::uint32_t state = record.state;
  if (state != kStatusOpened && state != kStatusConverting && state != kStatusDone) return false;
  for (std::size_t n = 0; n < kStatusPathLength; ++n) {
    if (record.inputPath[n] == 0) return true;
  }
  return false;
}

StatusRecord* LocalStatusRecord() {
  // Aligned like a record in the channel, for the atomic state word.
  alignas(8) static StatusRecord record{};
  return &record;
}

}  // namespace ordana
