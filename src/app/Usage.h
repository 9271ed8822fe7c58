#pragma once
#include <cstdint>

namespace ordana {

// The product version as two 32-bit words: the most significant word
// (major, minor) in the low half, the least significant (build, revision)
// in the high half; 0 when it cannot be read.
std::uint64_t GetProductVersion();

// Prints the banner line and the help text.
void PrintUsage();

}  // namespace ordana
