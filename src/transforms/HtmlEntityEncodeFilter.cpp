#include "transforms/HtmlEntityEncodeFilter.h"

#include <algorithm>

#include "codecs/CodecBase.h"
#include "transforms/HtmlEntities.h"
#include "transforms/TransformSupport.h"

#include "support/Bits.h"

namespace ordana {

bool IsEntityCandidate(char16_t unit, bool keepMarkup) {
  if (unit < kEntityRangeLowFirst) {
    return !keepMarkup && (unit == u'"' || unit == u'&' || unit == u'<' || unit == u'>');
  }
  return unit <= kEntityRangeLowLast ||
         (unit >= kEntityRangeHighFirst && unit <= kEntityRangeHighLast);
}

std::uint32_t CopyUntilEntityCandidate(const std::uint8_t* in, std::uint32_t count,
                                       std::uint8_t* out, bool keepMarkup) {
  std::uint32_t i = 0;
#if ORDANA_HAVE_SSE2
  // Unsigned range tests with saturating subtraction:
  // u >= first  <=>  sat(u - (first - 1)) != 0, and u <= last  <=>  sat(u - last) == 0.
  const __m128i zero = _mm_setzero_si128();
  const __m128i lowBelow = _mm_set1_epi16(static_cast<short>(kEntityRangeLowFirst - 1));
  const __m128i lowLast = _mm_set1_epi16(static_cast<short>(kEntityRangeLowLast));
  const __m128i highBelow = _mm_set1_epi16(static_cast<short>(kEntityRangeHighFirst - 1));
  const __m128i highLast = _mm_set1_epi16(static_cast<short>(kEntityRangeHighLast));
  const __m128i quot = _mm_set1_epi16(u'"');
  const __m128i amp = _mm_set1_epi16(u'&');
  const __m128i lt = _mm_set1_epi16(u'<');
  const __m128i gt = _mm_set1_epi16(u'>');
  while (i + 8 <= count) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
    // The whole block is stored even when it holds a candidate: the caller
    // keeps only the units reported.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), units);
    const __m128i belowLow = _mm_cmpeq_epi16(_mm_subs_epu16(units, lowBelow), zero);
    const __m128i notAboveLow = _mm_cmpeq_epi16(_mm_subs_epu16(units, lowLast), zero);
    const __m128i inLow = _mm_andnot_si128(belowLow, notAboveLow);
    const __m128i belowHigh = _mm_cmpeq_epi16(_mm_subs_epu16(units, highBelow), zero);
    const __m128i notAboveHigh = _mm_cmpeq_epi16(_mm_subs_epu16(units, highLast), zero);
    const __m128i inHigh = _mm_andnot_si128(belowHigh, notAboveHigh);
    __m128i candidates = _mm_or_si128(inLow, inHigh);
    if (!keepMarkup) {
      const __m128i markup =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(units, quot), _mm_cmpeq_epi16(units, amp)),
                       _mm_or_si128(_mm_cmpeq_epi16(units, lt), _mm_cmpeq_epi16(units, gt)));
      candidates = _mm_or_si128(candidates, markup);
    }
    const int found = _mm_movemask_epi8(candidates);
    if (found != 0) {
      return i + CountTrailingZeros(static_cast<std::uint32_t>(found)) / 2;
    }
    i += 8;
  }
#endif
  for (; i < count; ++i) {
    if (IsEntityCandidate(UnitAt(in + 2 * i), keepMarkup)) break;
    out[2 * i] = in[2 * i];
    out[2 * i + 1] = in[2 * i + 1];
  }
  return i;
}

CHtmlEntityEncodeFilter::CHtmlEntityEncodeFilter(bool keepMarkup)
    : CFilter(kCategoryTransform), keepMarkup_(keepMarkup) {
  name_ = u"HTML Entity Encode Filter";
  typeId_ = kFilterTypeHtmlEntityEncode;
}

std::int32_t CHtmlEntityEncodeFilter::Filter() {
  const std::uint8_t* const p = pending_.base();
  const std::uint32_t n = pending_.length() / 2;
  std::uint32_t i = 0;
  OutputCursor out(*this);
  while (i < n) {
    if (!out.Reserve(2)) break;
    const std::uint32_t room = out.Available() / 2;
    const std::uint32_t run =
        CopyUntilEntityCandidate(p + 2 * i, std::min(n - i, room), out.Next(), keepMarkup_);
    if (run > 0) {
      out.Advance(2 * run);
      i += run;
      continue;
    }
    const char16_t unit = UnitAt(p + 2 * i);
    ++i;
    const int row = FindEntityByCodePoint(unit);
    if (row < 0 || (keepMarkup_ && row < static_cast<int>(kEntityMarkupRows))) {
      out.PutUnit(unit);  // room for it was reserved above
      continue;
    }
    const HtmlEntity& entity = EntityByCodePoint[row];
    char16_t reference[kMaxEntityReferenceLength];
    reference[0] = u'&';
    std::copy(entity.name, entity.name + entity.length, reference + 1);
    reference[entity.length + 1] = u';';
    if (!PutUnits(out, reference, entity.length + 2)) break;
  }
  pending_.Discard(2 * i);
  return 0;
}

}  // namespace ordana
