#include "transforms/LineTransformFilter.h"

#include <algorithm>

#include "codecs/CodecBase.h"
#include "transforms/TransformSupport.h"

#include "support/Bits.h"

namespace ordana {

std::uint32_t CopyUntilLineBreak(const std::uint8_t* in, std::uint32_t count, std::uint8_t* out) {
  std::uint32_t i = 0;
#if ORDANA_HAVE_SSE2
  const __m128i cr = _mm_set1_epi16(static_cast<short>(kCarriageReturn));
  const __m128i lf = _mm_set1_epi16(static_cast<short>(kLineFeed));
  while (i + 8 <= count) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
    // The whole block is stored even when it holds a line break: the caller
    // keeps only the units reported.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), units);
    const __m128i breaks = _mm_or_si128(_mm_cmpeq_epi16(units, cr), _mm_cmpeq_epi16(units, lf));
    const int found = _mm_movemask_epi8(breaks);
    if (found != 0) {
      return i + CountTrailingZeros(static_cast<std::uint32_t>(found)) / 2;
    }
    i += 8;
  }
#endif
  for (; i < count; ++i) {
    const char16_t unit = UnitAt(in + 2 * i);
    if (unit == kCarriageReturn || unit == kLineFeed) break;
    out[2 * i] = in[2 * i];
    out[2 * i + 1] = in[2 * i + 1];
  }
  return i;
}

CLineTransformFilter::CLineTransformFilter(int mode)
    : CFilter(kCategoryTransform), mode_(mode == kModeUnix || mode == kModeMac ? mode : kModeDos) {
  name_ = u"Line Transform Filter";
  typeId_ = kFilterTypeLineTransform;
}

bool CLineTransformFilter::PutLineEnd(OutputCursor& out) const {
  static const char16_t kCrLf[2] = {kCarriageReturn, kLineFeed};
  switch (mode_) {
    case kModeUnix:
      return PutUnit(out, kLineFeed);
    case kModeMac:
      return PutUnit(out, kCarriageReturn);
    default:
      return PutUnits(out, kCrLf, 2);
  }
}

std::int32_t CLineTransformFilter::Filter() {
  Transform(false);
  return 0;
}

void CLineTransformFilter::Transform(bool endOfInput) {
  const std::uint8_t* const p = pending_.base();
  const std::uint32_t n = pending_.length() / 2;
  std::uint32_t i = 0;
  OutputCursor out(*this);
  while (i < n) {
    if (!out.Reserve(2)) break;
    const char16_t c = UnitAt(p + 2 * i);
    if (c != kCarriageReturn && c != kLineFeed) {
      // Invariant: Reserve(2) succeeded, so room >= 1, and c is no line
      // break, so the run copies at least one unit.
      const std::uint32_t room = out.Available() / 2;
      const std::uint32_t run = CopyUntilLineBreak(p + 2 * i, std::min(n - i, room), out.Next());
      out.Advance(2 * run);
      i += run;
      continue;
    }
    std::uint32_t used = 1;
    if (c == kCarriageReturn) {
      if (i + 1 == n) {
        // The LF that would pair with it may be the next chunk's first unit.
        if (!endOfInput) break;
      } else if (UnitAt(p + 2 * i + 2) == kLineFeed) {
        used = 2;
      }
    }
    i += used;
    if (!PutLineEnd(out)) break;
  }
  pending_.Discard(2 * i);
}

bool CLineTransformFilter::Flush(CBuffer& target) {
  const bool result = CFilter::Flush(target);
  // The chain flushes each filter into its own pending input: the end of
  // the input. A CR held back for a possible LF is a line end now.
  if (&target == &pending_ && pending_.length() >= 2) {
    Transform(true);
    if (!output_.empty()) Forward(output_);
  }
  return result;
}

}  // namespace ordana
