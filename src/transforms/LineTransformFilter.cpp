#include "transforms/LineTransformFilter.h"

#include <algorithm>

#include "codecs/CodecBase.h"
#include "transforms/TransformSupport.h"

namespace ordana {

namespace {

struct LineBreak {
  bool Unit(char16_t unit) const { return unit == kCarriageReturn || unit == kLineFeed; }
#if ORDANA_HAVE_SSE2
  __m128i Block(__m128i units) const {
    return _mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16(static_cast<short>(kCarriageReturn))),
                        _mm_cmpeq_epi16(units, _mm_set1_epi16(static_cast<short>(kLineFeed))));
  }
#endif
};

}  // namespace

std::uint32_t CopyUntilLineBreak(const std::uint8_t* in, std::uint32_t count, std::uint8_t* out) {
  return CopyUntil(in, count, out, LineBreak{});
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
