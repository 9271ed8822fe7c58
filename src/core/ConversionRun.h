#pragma once
// The conversion run: reads one opened input through the filter chain in
// chunks of the buffer's commit size and records the outcome.

#include <cstdint>
#include <string>

namespace ordana {

class CFile;

// Converts `input` through the global chain. True unless the chain reported
// an error.
bool RunConversion(CFile& input);

// The elapsed-time text of the "Required time" message, for d milliseconds.
std::u16string FormatElapsed(std::uint32_t milliseconds);

}  // namespace ordana
