#include "transforms/TransformSupport.h"

#include "support/Bits.h"

namespace ordana {

std::uint32_t CopyUntilUnit(const std::uint8_t* in, std::uint32_t count, std::uint8_t* out,
                            char16_t stop) {
  std::uint32_t i = 0;
#if ORDANA_HAVE_SSE2
  const __m128i wanted = _mm_set1_epi16(static_cast<short>(stop));
  while (i + 8 <= count) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
    // Storing the whole block is harmless even when it holds `stop`: the
    // caller keeps only the units this function reports.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), units);
    const int found = _mm_movemask_epi8(_mm_cmpeq_epi16(units, wanted));
    if (found != 0)
      return i + CountTrailingZeros(static_cast<std::uint32_t>(found)) / 2;
    i += 8;
  }
#endif
  for (; i < count; ++i) {
    if (UnitAt(in + 2 * i) == stop) break;
    out[2 * i] = in[2 * i];
    out[2 * i + 1] = in[2 * i + 1];
  }
  return i;
}

}  // namespace ordana
