// The collector's side of the status channel over an area another process
// may have forged: the input is laid over the start of the area (header and
// the first records), the rest stays zero. Checks that collecting follows only
// indices of the channel, takes no record twice, hands out only well-formed
// records, returns each taken record to the free list and never to the used
// list, and that every collected record makes one CSV line of seven fields
// and a shown path without control characters.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/CsvReport.h"
#include "app/StatusChannel.h"
#include "core/MessageLog.h"
#include "core/TextEscaping.h"

namespace {

using namespace ordana;

void Check(bool condition) {
  if (!condition) std::abort();
}

StatusRecord* At(std::vector<std::uint8_t>& area, std::uint32_t index) {
  return reinterpret_cast<StatusRecord*>(area.data() + sizeof(StatusChannelHeader) +
                                         std::size_t{index} * sizeof(StatusRecord));
}

// The indices on the list from `head`, up to the first repetition or index
// outside the channel.
std::vector<bool> Members(std::vector<std::uint8_t>& area, std::uint32_t head) {
  std::vector<bool> member(kStatusChannelCapacity, false);
  for (std::uint32_t k = head; k < kStatusChannelCapacity && !member[k]; k = At(area, k)->link) {
    member[k] = true;
  }
  return member;
}

bool WellFormedUtf16(const std::u16string& text) { return MakeWellFormed(text) == text; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::vector<std::uint8_t> area(kStatusChannelSize);
  static const bool quiet = [] {
    GetMessageLog()->SetSink(nullptr);
    return true;
  }();
  (void)quiet;
  std::fill(area.begin(), area.end(), 0);
  std::memcpy(area.data(), data, size < area.size() ? size : area.size());
  const std::size_t maximum = size > 0 ? data[0] % 8 + 1 : kStatusChannelCapacity;

  std::vector<CollectedRecord> collected;
  const CollectCounts counts = CollectFromArea(area.data(), &collected, maximum);
  Check(counts.returned == collected.size() + counts.rejected);
  Check(counts.returned <= maximum);

  auto* header = reinterpret_cast<StatusChannelHeader*>(area.data());
  const std::vector<bool> used = Members(area, header->usedHead);
  const std::vector<bool> free = Members(area, header->freeHead);
  std::vector<bool> seen(kStatusChannelCapacity, false);
  for (const CollectedRecord& item : collected) {
    Check(item.index < kStatusChannelCapacity);
    Check(!seen[item.index]);
    seen[item.index] = true;
    Check(IsWellFormedStatusRecord(item.record));
    Check(item.record.state == kStatusDone);
    Check(!used[item.index] && free[item.index]);
    Check(GetStatusState(At(area, item.index)) != kStatusDone);

    const std::u16string line = FormatCsvLine(item.record);
    Check(line.size() >= 2 && line.compare(line.size() - 2, 2, u"\r\n") == 0);
    std::size_t tabs = 0;
    for (std::size_t k = 0; k + 2 < line.size(); ++k) {
      Check(line[k] != u'\r' && line[k] != u'\n');
      if (line[k] == u'\t') ++tabs;
    }
    Check(tabs == 6);
    Check(WellFormedUtf16(line));
    const std::u16string shown = EscapeForDisplay(StatusRecordPath(item.record));
    Check(WellFormedUtf16(shown));
    for (char16_t unit : shown) Check(!NeedsEscape(unit));
  }
  // A second collection finds nothing new that the first one left finished
  // and reachable, and never returns more than it unlinks.
  std::vector<CollectedRecord> again;
  const CollectCounts second = CollectFromArea(area.data(), &again, kStatusChannelCapacity);
  Check(second.returned == again.size() + second.rejected);
  for (const CollectedRecord& item : again) Check(!seen[item.index]);
  return 0;
}
