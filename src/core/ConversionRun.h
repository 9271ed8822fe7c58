#pragma once
// The conversion run: reads one opened input through the filter chain in
// chunks of the buffer's commit size and records the outcome.

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace ordana {

class CFile;

// How a conversion went, beyond the chain's own result.
struct ConversionOutcome {
  std::uint64_t bytesRead = 0;
  // A read failed: the input was not read to its end (0: read to the end).
  platform::ErrorCode readError = 0;
  // The output failed, so the rest of the input was not read.
  bool outputFailed = false;
  bool chainError = false;
};

// Converts `input` through the global chain. Reading stops at the end of the
// input, at a read error (which is never taken for the end) and as soon as
// the chain's output has failed: there is no point in reading a FIFO or
// /dev/zero on into a full disk. True when the whole input was read and
// converted and the output took all of it.
bool RunConversion(CFile& input, ConversionOutcome* outcome = nullptr);

// The elapsed-time text of the "Required time" message, for d milliseconds.
std::u16string FormatElapsed(std::uint32_t milliseconds);

}  // namespace ordana
