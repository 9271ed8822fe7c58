#pragma once
// What the text transforms share: reading UTF-16LE units from the pending
// input and writing units through an OutputCursor.
//
// The transforms write one unit per Reserve(2) (runs up to Available()), so
// the output is forwarded exactly when it reaches the commit size, as the
// filter contract asks, whatever the mix of one-unit and multi-unit writes.

#include <cstdint>

#include "codecs/CodecBase.h"
#include "support/Bits.h"

namespace ordana {

constexpr char16_t kCarriageReturn = 0x000D;
constexpr char16_t kLineFeed = 0x000A;

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

// The scan loop of every transform: copies whole units from `in` to `out`
// (both UTF-16LE) until the first unit that `stops` matches, or `count`
// units; returns the number copied. `out` must have room for 2 * count
// bytes. The predicate answers for one unit, `Unit(char16_t) -> bool`, and
// (where the vector unit is used) for eight, `Block(__m128i) -> __m128i`
// with all bits of a lane set where that unit matches; both must agree.
template <class Predicate>
inline std::uint32_t CopyUntil(const std::uint8_t* in, std::uint32_t count, std::uint8_t* out,
                               const Predicate& stops) {
  std::uint32_t i = 0;
#if ORDANA_HAVE_SSE2
  while (i + 8 <= count) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
    // The whole block is stored even when it holds a match: the caller
    // keeps only the units reported.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), units);
    const int found = _mm_movemask_epi8(stops.Block(units));
    if (found != 0) return i + CountTrailingZeros(static_cast<std::uint32_t>(found)) / 2;
    i += 8;
  }
#endif
  for (; i < count; ++i) {
    if (stops.Unit(UnitAt(in + 2 * i))) break;
    out[2 * i] = in[2 * i];
    out[2 * i + 1] = in[2 * i + 1];
  }
  return i;
}

// CopyUntil up to the first unit equal to `stop`.
std::uint32_t CopyUntilUnit(const std::uint8_t* in, std::uint32_t count, std::uint8_t* out,
                            char16_t stop);

}  // namespace ordana
