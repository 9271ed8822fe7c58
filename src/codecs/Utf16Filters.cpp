#include "codecs/Utf16Filters.h"

#include "core/MessageLog.h"

namespace ordana {

// ---- Input ------------------------------------------------------------------

// Neither option changes the input side: code units pass as they are under
// both policies.
CUtf16ToUtf16InputFilter::CUtf16ToUtf16InputFilter(bool bigEndian, const CodecOptions&)
    : bigEndian_(bigEndian) {
  name_ = u"UTF-16 Input Filter";
  typeId_ = kFilterTypeUtf16;
}

bool CUtf16ToUtf16InputFilter::Process(CBuffer& input) {
  // Little endian past the mark, the input is the internal form already: it
  // goes on without a copy as long as it comes in whole code units.
  if (started_ && !bigEndian_ && pending_.empty() && output_.empty() && input.length() % 2 == 0 &&
      NextFilter()) {
    CountPassedOn(input.length());
    if (!input.empty()) Forward(input);
    input.Clear();
    return true;
  }
  return CFilter::Process(input);
}

std::int32_t CUtf16ToUtf16InputFilter::Filter() {
  if (pending_.length() < 2) return 0;  // a lone byte waits for its partner
  if (!started_) {
    const std::uint8_t* p = pending_.base();
    const std::uint8_t first = bigEndian_ ? 0xFE : 0xFF;
    if (p[0] == first && p[1] == (first ^ 0x01)) Consume(2);
    started_ = true;
  }
  const std::uint32_t before = pending_.length();
  if (bigEndian_) {
    SwapPendingUnitsToOutput(*this);
    CountPassedOn(before - pending_.length());
    return 0;
  }
  // Whole units go on as they are; an odd last byte stays for the next
  // chunk.
  const std::uint32_t whole = before & ~1u;
  if (whole == 0) return 0;
  std::uint8_t odd = 0;
  if (whole != before) odd = pending_.base()[whole];
  pending_.SetLength(whole);
  CountPassedOn(whole);
  Forward(pending_);
  pending_.Clear();
  // One byte into the buffer just emptied: it always fits.
  if (whole != before) (void)pending_.Append(&odd, 1);
  return 0;
}

void CUtf16ToUtf16InputFilter::FilterEndOfInput() {
  Filter();
  if (pending_.length() != 1) return;
  OutputCursor out(*this);
  if (!out.Reserve(2)) return;
  ++errorCount_;
  LogResourceMessage(kLevelDetails, MessageKind::kFailure, kMessageUtf16HalfUnit,
                     static_cast<unsigned>(pending_.base()[0]), Position(0));
  Consume(1);
  out.PutUnit(0xFFFD);
}

bool CUtf16ToUtf16InputFilter::Reset() {
  CCodecFilter::Reset();
  started_ = false;
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
  // Called on an empty output (a new or reset filter), where the mark
  // always fits.
  (void)output_.Append(bigEndian_ ? kBig : kLittle, 2);
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

void CUtf16ToUtf16OutputFilter::FilterEndOfInput() {
  if (!TakeHalfUnit(bigEndian_ ? u"UTF-16BE" : u"UTF-16")) return;
  static const std::uint8_t kLittle[2] = {0xFD, 0xFF};
  static const std::uint8_t kBig[2] = {0xFF, 0xFD};
  OutputCursor out(*this);
  if (!out.Reserve(2)) return;
  const std::uint8_t* replacement = bigEndian_ ? kBig : kLittle;
  out.PutByte(replacement[0]);
  out.PutByte(replacement[1]);
}

bool CUtf16ToUtf16OutputFilter::Reset() {
  CCodecFilter::Reset();
  PutByteOrderMark();
  Enable();
  return true;
}

}  // namespace ordana
