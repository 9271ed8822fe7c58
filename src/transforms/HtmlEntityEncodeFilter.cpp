#include "transforms/HtmlEntityEncodeFilter.h"

#include <algorithm>

#include "codecs/CodecBase.h"
#include "transforms/HtmlEntities.h"
#include "transforms/TransformSupport.h"

namespace ordana {

bool IsEntityCandidate(char16_t unit, bool keepMarkup) {
  if (unit < kEntityRangeLowFirst) {
    return !keepMarkup && (unit == u'"' || unit == u'&' || unit == u'<' || unit == u'>');
  }
  return unit <= kEntityRangeLowLast ||
         (unit >= kEntityRangeHighFirst && unit <= kEntityRangeHighLast);
}

namespace {

struct EntityCandidate {
  bool keepMarkup;
  bool Unit(char16_t unit) const { return IsEntityCandidate(unit, keepMarkup); }
#if ORDANA_HAVE_SSE2
  // Unsigned range tests with saturating subtraction:
  // u >= first  <=>  sat(u - (first - 1)) != 0, and u <= last  <=>  sat(u - last) == 0.
  __m128i Block(__m128i units) const {
    const __m128i zero = _mm_setzero_si128();
    const __m128i lowBelow = _mm_set1_epi16(static_cast<short>(kEntityRangeLowFirst - 1));
    const __m128i lowLast = _mm_set1_epi16(static_cast<short>(kEntityRangeLowLast));
    const __m128i highBelow = _mm_set1_epi16(static_cast<short>(kEntityRangeHighFirst - 1));
    const __m128i highLast = _mm_set1_epi16(static_cast<short>(kEntityRangeHighLast));
    const __m128i belowLow = _mm_cmpeq_epi16(_mm_subs_epu16(units, lowBelow), zero);
    const __m128i notAboveLow = _mm_cmpeq_epi16(_mm_subs_epu16(units, lowLast), zero);
    const __m128i inLow = _mm_andnot_si128(belowLow, notAboveLow);
    const __m128i belowHigh = _mm_cmpeq_epi16(_mm_subs_epu16(units, highBelow), zero);
    const __m128i notAboveHigh = _mm_cmpeq_epi16(_mm_subs_epu16(units, highLast), zero);
    const __m128i inHigh = _mm_andnot_si128(belowHigh, notAboveHigh);
    const __m128i candidates = _mm_or_si128(inLow, inHigh);
    if (keepMarkup) return candidates;
    const __m128i markup = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16(u'"')),
                                                     _mm_cmpeq_epi16(units, _mm_set1_epi16(u'&'))),
                                        _mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16(u'<')),
                                                     _mm_cmpeq_epi16(units, _mm_set1_epi16(u'>'))));
    return _mm_or_si128(candidates, markup);
  }
#endif
};

}  // namespace

std::uint32_t CopyUntilEntityCandidate(const std::uint8_t* in, std::uint32_t count,
                                       std::uint8_t* out, bool keepMarkup) {
  return CopyUntil(in, count, out, EntityCandidate{keepMarkup});
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
