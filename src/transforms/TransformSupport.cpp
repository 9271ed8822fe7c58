#include "transforms/TransformSupport.h"

namespace ordana {

namespace {

struct UnitEquals {
  char16_t wanted;
  bool Unit(char16_t unit) const { return unit == wanted; }
#if ORDANA_HAVE_SSE2
  __m128i Block(__m128i units) const {
    return _mm_cmpeq_epi16(units, _mm_set1_epi16(static_cast<short>(wanted)));
  }
#endif
};

}  // namespace

std::uint32_t CopyUntilUnit(const std::uint8_t* in, std::uint32_t count, std::uint8_t* out,
                            char16_t stop) {
  return CopyUntil(in, count, out, UnitEquals{stop});
}

}  // namespace ordana
