#pragma once
// What the text transforms share: reading UTF-16LE units from the pending
// input and writing units through an OutputCursor.
//
// The transforms write one unit per Reserve(2) (runs up to Available()), so
// the output is forwarded exactly when it reaches the commit size, as the
// filter contract asks, whatever the mix of one-unit and multi-unit writes.

#include <cstdint>

#include "codecs/CodecBase.h"

namespace ordana {

constexpr char16_t kCarriageReturn = 0x000D;
constexpr char16_t kLineFeed = 0x000A;

inline char16_t UnitAt(const std::uint8_t* p) { return static_cast<char16_t>(p[0] | (p[1] << 8)); }

// Writes `count` units. False only when a Reserve fails, which happens to a
// filter without a successor whose reservation is full; the units that did
// not fit are lost then, like everything else such a filter is given.
inline bool PutUnits(OutputCursor& out, const char16_t* units, std::uint32_t count) {
  if (out.Available() >= 2 * count) {
    for (std::uint32_t k = 0; k < count; ++k) out.PutUnit(units[k]);
    return true;
  }
  for (std::uint32_t k = 0; k < count; ++k) {
    if (!out.Reserve(2)) return false;
    out.PutUnit(units[k]);
  }
  return true;
}

inline bool PutUnit(OutputCursor& out, char16_t unit) {
  if (!out.Reserve(2)) return false;
  out.PutUnit(unit);
  return true;
}

// Copies whole units from `in` to `out` (both UTF-16LE) until the first unit
// equal to `stop` or `count` units; returns the number copied. `out` must
// have room for 2 * count bytes.
std::uint32_t CopyUntilUnit(const std::uint8_t* in, std::uint32_t count, std::uint8_t* out,
                            char16_t stop);

}  // namespace ordana
