#include "codecs/Utf16Filters.h"

namespace ordana {

// ---- Input ------------------------------------------------------------------

// Neither option changes the input side: code units pass as they are under
// both policies.
CUtf16ToUtf16InputFilter::CUtf16ToUtf16InputFilter(bool bigEndian, const CodecOptions&)
    : bigEndian_(bigEndian) {
  name_ = u"UTF-16 Input Filter";
  typeId_ = kFilterTypeUtf16;
}

std::int32_t CUtf16ToUtf16InputFilter::Filter() {
  if (pending_.length() < 2) return 0;  // a lone byte waits for its partner
  const std::uint8_t* p = pending_.base();
  if (!started_) {
    if (!bigEndian_) {
      if (p[0] == 0xFF && p[1] == 0xFE) pending_.Discard(2);
      // The rest of the file is already in the internal form.
      Disable();
      return -1;
    }
    if (p[0] == 0xFE && p[1] == 0xFF) pending_.Discard(2);
    started_ = true;
  }
  SwapPendingUnitsToOutput(*this);
  return 0;
}

bool CUtf16ToUtf16InputFilter::Reset() {
  CCodecFilter::Reset();
  started_ = false;
  Enable();
  return true;
}

// ---- Output -----------------------------------------------------------------

CUtf16ToUtf16OutputFilter::CUtf16ToUtf16OutputFilter(bool bigEndian, const CodecOptions& options)
    : writeBom_(options.writeBom), bigEndian_(bigEndian) {
  name_ = u"UTF-16 Output Filter";
  typeId_ = kFilterTypeUtf16;
  output_.Clear();
  pending_.Clear();
  errorCount_ = 0;
  PutByteOrderMark();
  Enable();
}

void CUtf16ToUtf16OutputFilter::PutByteOrderMark() {
  if (!writeBom_) return;
  static const std::uint8_t kLittle[2] = {0xFF, 0xFE};
  static const std::uint8_t kBig[2] = {0xFE, 0xFF};
  output_.Append(bigEndian_ ? kBig : kLittle, 2);
}

std::int32_t CUtf16ToUtf16OutputFilter::Filter() {
  if (!bigEndian_) {
    // Process forwards the waiting mark, then the text unchanged; later
    // chunks of this file pass the disabled filter untouched.
    Disable();
    return -1;
  }
  SwapPendingUnitsToOutput(*this);
  return 0;
}

bool CUtf16ToUtf16OutputFilter::Reset() {
  CCodecFilter::Reset();
  PutByteOrderMark();
  Enable();
  return true;
}

}  // namespace ordana
