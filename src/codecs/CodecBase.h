#pragma once
// The bases of every decoder (source bytes to internal UTF-16) and encoder
// (internal UTF-16 to destination bytes). The conversion run finds the first
// of each in a chain by type and asks it for its character set and error
// count.
//
// Conventions every codec's Filter step keeps:
// - it reads its pending input from the first byte (an encoder reads UTF-16
//   code units, little endian) and appends to its output buffer;
// - it never writes past the output buffer's reservation: it forwards the
//   output when the next unit would not fit, and (where it says so) as soon
//   as the output reaches the commit size;
// - it removes what it consumed from the front of the pending input and
//   leaves an incomplete unit there for the next chunk; where the input
//   ends, FilterEndOfInput consumes what is left (an error, counted and
//   replaced, when it is not a whole character);
// - positions in messages are byte offsets in the filter's own input stream
//   since the start of the file (the bytes it consumed before plus the index
//   in the pending input), so a message never depends on where a chunk
//   ended; errors count, warnings (reversible repairs) do not;
// - Reset() forgets the file: buffers, error count, first-chunk flags; an
//   encoder with a byte order mark puts the mark back into its output.

#include <cstdint>

#include "codecs/CharsetRegistry.h"
#include "core/Filter.h"
#include "core/MessageLog.h"
#include "support/Bits.h"

namespace ordana {

// The codecs' messages in the string table.
constexpr std::uint32_t kMessageUtf8Incomplete = 270;
constexpr std::uint32_t kMessageUtf16HalfUnit = 271;
constexpr std::uint32_t kMessageUtf32BeyondRange = 272;
constexpr std::uint32_t kMessageUtf32Incomplete = 273;
constexpr std::uint32_t kMessageSurrogateReplaced = 274;
constexpr std::uint32_t kMessageSurrogateKept = 275;
constexpr std::uint32_t kMessageEncoderHalfUnit = 276;

// What the chain assembly hands every decoder and encoder (and the detection,
// for the decoder it builds): codecs never read the process-wide settings,
// so a filter behaves the same whoever made it.
struct CodecOptions {
  // Strict: malformed input is replaced and counted. Loose: what can be
  // carried through (encoded surrogates, undefined single bytes) is, with a
  // warning.
  bool strict = true;
  // An encoder starts every file with a byte order mark.
  bool writeBom = true;
  // The fast paths (vector kernels and bulk loops) in front of the plain
  // loops; off, every unit goes through the plain loop. Both give the same
  // bytes, messages and counts.
  bool fastPaths = true;
};

// What decoders and encoders share: the character set query and the
// bookkeeping of how far into the file they are.
class CCodecFilter : public CFilter {
 public:
  virtual CharsetId GetCharset() const = 0;
  bool Reset() override;
  // At the end of the input (the chain flushes the filter's own pending
  // input) what is still pending is handled by FilterEndOfInput and its
  // output passed on: nothing a codec holds back is lost.
  bool Flush(CBuffer& target) override;

 protected:
  explicit CCodecFilter(std::uint32_t category) : CFilter(category) {}
  // The position of pending byte `index` in the filter's input stream.
  std::uint64_t Position(std::uint32_t index) const { return consumed_ + index; }
  // Removes `n` consumed bytes from the front of the pending input.
  void Consume(std::uint32_t n) {
    pending_.Discard(n);
    consumed_ += n;
  }
  // Nothing of this file has been consumed yet.
  bool AtStartOfFile() const { return consumed_ == 0; }
  // Counts `n` bytes that went on without passing through the pending input.
  void CountPassedOn(std::uint32_t n) { consumed_ += n; }
  // The end of the input with bytes still pending: a step that may no longer
  // wait for more. Consumes all of the pending input.
  virtual void FilterEndOfInput() = 0;
  // For an encoder's end of the input: one byte pending is half a UTF-16
  // code unit (no decoder leaves one, but the filter does not rely on it).
  // It is consumed, counted and reported under `codec`'s name; true when
  // there was one, and the caller writes its replacement.
  bool TakeHalfUnit(const char16_t* codec);

 private:
  std::uint64_t consumed_ = 0;
};

// The UTF-16LE code unit at `p` (any alignment): how every encoder and
// transform reads its pending input.
inline char16_t UnitAt(const std::uint8_t* p) { return static_cast<char16_t>(p[0] | (p[1] << 8)); }

class CCharDecoderFilter : public CCodecFilter {
 protected:
  CCharDecoderFilter() : CCodecFilter(kCategoryDecoder) {}
};

class CCharEncoderFilter : public CCodecFilter {
 protected:
  CCharEncoderFilter() : CCodecFilter(kCategoryEncoder) {}
};

// Writes a filter's output straight into its buffer, forwarding the output
// to the next filter once it has reached the commit size. A writer asks for
// room before each character (Reserve) and writes through the pointer.
//
// Invariant: after a successful Reserve(n), at least n bytes are writable
// at Next() without leaving the reservation.
class OutputCursor {
 public:
  explicit OutputCursor(CFilter& filter) : filter_(filter) { Load(); }
  ~OutputCursor() { Store(); }
  OutputCursor(const OutputCursor&) = delete;
  OutputCursor& operator=(const OutputCursor&) = delete;

  // True when `n` more bytes may be written at Next(); forwards first when
  // the output has reached the commit size. False only when the output can
  // neither be passed on nor grow (no next filter and a full buffer).
  bool Reserve(std::uint32_t n) {
    if (next_ + n <= threshold_) return true;
    return Flush(n);
  }
  std::uint8_t* Next() const { return next_; }
  void Advance(std::uint32_t n) { next_ += n; }
  void PutByte(std::uint8_t b) { *next_++ = b; }
  void PutUnit(char16_t u) {
    next_[0] = static_cast<std::uint8_t>(u & 0xFF);
    next_[1] = static_cast<std::uint8_t>(u >> 8);
    next_ += 2;
  }
  // Bytes that may be written before the next Reserve is needed.
  std::uint32_t Available() const {
    return next_ < threshold_ ? static_cast<std::uint32_t>(threshold_ - next_) : 0;
  }

 private:
  void Load();
  void Store();
  bool Flush(std::uint32_t n);

  CFilter& filter_;
  std::uint8_t* next_ = nullptr;
  std::uint8_t* threshold_ = nullptr;  // base + commit size: forward from here on
  std::uint8_t* end_ = nullptr;        // base + reservation
};

// The summary line a codec prints when a file is done: a failure when there
// were errors, else information.
inline MessageKind SummaryKind(std::uint32_t errors) {
  return errors != 0 ? MessageKind::kFailure : MessageKind::kInformation;
}

// Moves every whole UTF-16 code unit of `filter`'s pending input to its
// output with the two bytes of each exchanged (little endian <-> big
// endian), forwarding the output whenever it fills; an odd last byte stays
// pending.
void SwapPendingUnitsToOutput(CFilter& filter);

// Copies the 16 bytes at `in` to `out` (at least their ASCII prefix); returns
// how many of them, from the first, are ASCII (16: all). For the direct
// paths, where an ASCII byte is the same byte in the other encoding.
ORDANA_ALWAYS_INLINE std::uint32_t CopyAsciiBlock(const std::uint8_t* in, std::uint8_t* out) {
#if ORDANA_HAVE_SSE2
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
  const std::uint32_t high = static_cast<std::uint32_t>(_mm_movemask_epi8(v));
  return high == 0 ? 16 : CountTrailingZeros(high);
#else
  std::uint32_t k = 0;
  for (; k < 16 && in[k] < 0x80; ++k) out[k] = in[k];
  return k;
#endif
}

}  // namespace ordana
