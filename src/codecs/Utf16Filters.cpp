#include "codecs/Utf16Filters.h"

#include "app/Settings.h"

namespace ordana {

void SwapPendingUnitsToOutput(CFilter& filter) {
  CBuffer& pending = filter.pending();
  CBuffer& output = filter.output();
  const std::uint32_t total = pending.length() / 2 * 2;
  std::uint32_t done = 0;
  while (done < total) {
    if (output.length() >= output.commitSize() || output.Room() < 2) filter.Forward(output);
    std::uint32_t size = total - done;
    if (size > output.Room()) size = output.Room() / 2 * 2;
    if (size == 0) break;  // nobody takes the output; keep the rest pending
    const std::uint8_t* from = pending.base() + done;
    std::uint8_t* to = output.PrepareWrite(size);
    for (std::uint32_t k = 0; k < size; k += 2) {
      to[k] = from[k + 1];
      to[k + 1] = from[k];
    }
    output.SetLength(output.length() + size);
    done += size;
  }
  pending.Discard(done);
}

// ---- Input ------------------------------------------------------------------

CUtf16ToUtf16InputFilter::CUtf16ToUtf16InputFilter(bool bigEndian) : bigEndian_(bigEndian) {
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
  CFilter::Reset();
  started_ = false;
  Enable();
  return true;
}

// ---- Output -----------------------------------------------------------------

CUtf16ToUtf16OutputFilter::CUtf16ToUtf16OutputFilter(bool bigEndian)
    : writeBom_(GetSettings().writeBom), bigEndian_(bigEndian) {
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
  CFilter::Reset();
  PutByteOrderMark();
  Enable();
  return true;
}

}  // namespace ordana
