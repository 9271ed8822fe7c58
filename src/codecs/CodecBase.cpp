#include "codecs/CodecBase.h"

#include "core/MessageLog.h"
#include "support/Bits.h"

namespace ordana {

bool CCodecFilter::Reset() {
  CFilter::Reset();
  consumed_ = 0;
  return true;
}

bool CCodecFilter::Flush(CBuffer& target) {
  const bool result = CFilter::Flush(target);
  if (&target == &pending_ && !pending_.empty()) {
    FilterEndOfInput();
    if (!output_.empty()) Forward(output_);
  }
  return result;
}

bool CCodecFilter::TakeHalfUnit(const char16_t* codec) {
  if (pending_.length() != 1) return false;
  ++errorCount_;
  LogResourceMessage(kLevelDetails, MessageKind::kFailure, kMessageEncoderHalfUnit, codec,
                     static_cast<unsigned>(pending_.base()[0]), Position(0));
  Consume(1);
  return true;
}

void OutputCursor::Load() {
  CBuffer& output = filter_.output();
  next_ = output.base() + output.length();
  threshold_ = output.base() + output.commitSize();
  end_ = output.base() + output.reservationSize();
}

void OutputCursor::Store() {
  CBuffer& output = filter_.output();
  output.SetLength(static_cast<std::uint32_t>(next_ - output.base()));
}

bool OutputCursor::Flush(std::uint32_t n) {
  Store();
  CBuffer& output = filter_.output();
  // Forward before the commit size would be passed, not only once it has
  // been: otherwise a step could run on towards the end of the reservation
  // while a next filter was there to take the output.
  if (output.length() + n > output.commitSize() || output.Room() < n) filter_.Forward(output);
  Load();
  if (next_ + n <= threshold_) return true;
  // Nobody took the output (a filter without a successor): it may still use
  // the rest of the reservation.
  if (next_ + n <= end_) {
    threshold_ = end_;
    return true;
  }
  return false;
}

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
    std::uint32_t k = 0;
#if ORDANA_HAVE_SSE2
    for (; k + 16 <= size; k += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + k));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + k),
                       _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8)));
    }
#endif
    for (; k < size; k += 2) {
      to[k] = from[k + 1];
      to[k + 1] = from[k];
    }
    output.SetLength(output.length() + size);
    done += size;
  }
  pending.Discard(done);
}

}  // namespace ordana
