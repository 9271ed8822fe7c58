#include "transforms/HtmlEntityDecodeFilter.h"

#include <algorithm>

#include "codecs/CodecBase.h"
#include "transforms/HtmlEntities.h"
#include "transforms/TransformSupport.h"

namespace ordana {

namespace {

constexpr char16_t kAmpersand = u'&';
constexpr char16_t kSemicolon = u';';

}  // namespace

CHtmlEntityDecodeFilter::CHtmlEntityDecodeFilter() : CFilter(kCategoryTransform) {
  name_ = u"HTML Entity Decode Filter";
  typeId_ = kFilterTypeHtmlEntityDecode;
}

CHtmlEntityDecodeFilter::~CHtmlEntityDecodeFilter() = default;

std::int32_t CHtmlEntityDecodeFilter::Filter() {
  Transform(false);
  return 0;
}

void CHtmlEntityDecodeFilter::Transform(bool endOfInput) {
  const std::uint8_t* const p = pending_.base();
  const std::uint32_t n = pending_.length() / 2;
  std::uint32_t i = 0;
  // '&', up to nine name units and the unit that ends the attempt.
  char16_t text[kGiveUpLength + 2];
  OutputCursor out(*this);
  while (i < n) {
    if (!inReference_) {
      if (!out.Reserve(2)) break;
      const std::uint32_t room = out.Available() / 2;
      const std::uint32_t run =
          CopyUntilUnit(p + 2 * i, std::min(n - i, room), out.Next(), kAmpersand);
      out.Advance(2 * run);
      i += run;
      if (run == 0) {
        // An '&': nothing is written until the reference ends.
        inReference_ = true;
        collectedLength_ = 0;
        ++i;
      }
      continue;
    }
    const char16_t ch = UnitAt(p + 2 * i);
    ++i;
    if (IsLetterOrDigit(ch)) {
      collected_[collectedLength_++] = ch;
      if (collectedLength_ < kGiveUpLength) continue;
      // Longer than any name: the text goes out as it came.
      text[0] = kAmpersand;
      std::copy(collected_, collected_ + collectedLength_, text + 1);
      inReference_ = false;
      if (!PutUnits(out, text, collectedLength_ + 1)) break;
      continue;
    }
    inReference_ = false;
    if (ch == kSemicolon) {
      const int row = FindEntityByName(collected_, collectedLength_);
      if (row >= 0) {
        if (!PutUnit(out, static_cast<char16_t>(EntityByName[row].codePoint))) break;
        continue;
      }
    }
    // No name, or a unit that cannot be part of one (a second '&' among
    // them, which does not start a new reference): the text as it came.
    text[0] = kAmpersand;
    std::copy(collected_, collected_ + collectedLength_, text + 1);
    text[collectedLength_ + 1] = ch;
    if (!PutUnits(out, text, collectedLength_ + 2)) break;
  }
  pending_.Discard(2 * i);
  if (endOfInput && inReference_ && i == n) {
    text[0] = kAmpersand;
    std::copy(collected_, collected_ + collectedLength_, text + 1);
    inReference_ = false;
    PutUnits(out, text, collectedLength_ + 1);
    collectedLength_ = 0;
  }
}

bool CHtmlEntityDecodeFilter::Flush(CBuffer& target) {
  const bool result = CFilter::Flush(target);
  // The end of the input: an open reference attempt is written as the text
  // it is.
  if (&target == &pending_ && (inReference_ || pending_.length() >= 2)) {
    Transform(true);
    if (!output_.empty()) Forward(output_);
  }
  return result;
}

bool CHtmlEntityDecodeFilter::Reset() {
  CFilter::Reset();
  collectedLength_ = 0;
  inReference_ = false;
  return true;
}

}  // namespace ordana
