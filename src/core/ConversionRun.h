#pragma once
// The conversion run: reads one opened input through the filter chain in
// chunks of the buffer's commit size and records the outcome.

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace ordana {

class CFile;
class CFilterChain;

// How a conversion went, beyond the chain's own result.
struct ConversionOutcome {
  std::uint64_t bytesRead = 0;
  // A read failed: the input was not read to its end (0: read to the end).
  platform::ErrorCode readError = 0;
  // The output failed, so the rest of the input was not read.
  bool outputFailed = false;
  bool chainError = false;
};

// What a run tells about its progress and its end, in this order: Opened,
// Converting before every read, ChainFinished, Done. The application
// implements it for the status record and the CSV report.
class ConversionObserver {
 public:
  virtual ~ConversionObserver() = default;
  // Before the first read: the input's path and size (0 when unknown).
  virtual void Opened(const std::u16string& path, std::uint64_t size) = 0;
  // Before each read: the number of bytes read so far.
  virtual void Converting(std::uint64_t offset) = 0;
  // The chain is flushed and finished but not yet reset, so its filters
  // still hold this input's counts.
  virtual void ChainFinished(const CFilterChain& chain) = 0;
  // The chain has been reset; the run is over.
  virtual void Done() = 0;
};

// Converts `input` through `chain`, telling `observer` (may be null) how it
// goes. Reading stops at the end of the input, at a read error (which is
// never taken for the end) and as soon as the chain's output has failed:
// there is no point in reading a FIFO or /dev/zero on into a full disk.
// True when the whole input was read and converted and the output took all
// of it.
[[nodiscard]] bool RunConversion(CFilterChain& chain, CFile& input, ConversionObserver* observer,
                                 ConversionOutcome* outcome = nullptr);

// The elapsed-time text of the "Required time" message, for d milliseconds.
std::u16string FormatElapsed(std::uint32_t milliseconds);

}  // namespace ordana
