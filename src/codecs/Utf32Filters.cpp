#include "codecs/Utf32Filters.h"

#include <algorithm>

#include "core/MessageLog.h"
#include "support/Bits.h"

namespace ordana {

namespace {

constexpr std::uint8_t kLittleEndianMark[4] = {0xFF, 0xFE, 0x00, 0x00};
constexpr std::uint8_t kBigEndianMark[4] = {0x00, 0x00, 0xFE, 0xFF};

constexpr std::uint32_t kLastCodePoint = 0x10FFFF;

template <bool kBigEndian>
inline std::uint32_t ReadUtf32Unit(const std::uint8_t* p) {
  // Byte by byte so that it works at any alignment; compilers turn it into
  // one load (and a byte swap for the foreign order).
  if (kBigEndian) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
  }
  return static_cast<std::uint32_t>(p[3]) << 24 | static_cast<std::uint32_t>(p[2]) << 16 |
         static_cast<std::uint32_t>(p[1]) << 8 | p[0];
}

template <bool kBigEndian>
inline void WriteUtf32Unit(std::uint8_t* p, std::uint32_t v) {
  if (kBigEndian) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
  } else {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
  }
}

inline bool IsSurrogate(std::uint32_t v) { return v - 0xD800 < 0x800; }

// The plain loops. Each handles the units from `i` up to `stop` one
// character at a time and leaves `i` behind the last unit it consumed.
// They stop early when the output can take no more, and at a unit that is
// no character (the filter reports and replaces it).
enum class Stop { kDone, kOutputFull, kBadUnit };

template <bool kBigEndian>
Stop Utf32ToUtf16Plain(const std::uint8_t* in, std::uint32_t stop, OutputCursor& out,
                       std::uint32_t& i) {
  for (; i < stop; ++i) {
    const std::uint32_t v = ReadUtf32Unit<kBigEndian>(in + 4 * i);
    if (v - 0x10000 <= kLastCodePoint - 0x10000) {
      // Asking for the exact room keeps a pair whole without letting a
      // single unit push the output past the forwarding point.
      if (!out.Reserve(4)) return Stop::kOutputFull;
      out.PutUnit(static_cast<char16_t>(0xD800 + ((v - 0x10000) >> 10)));
      out.PutUnit(static_cast<char16_t>(0xDC00 + ((v - 0x10000) & 0x3FF)));
    } else {
      if (v > kLastCodePoint || IsSurrogate(v)) return Stop::kBadUnit;
      if (!out.Reserve(2)) return Stop::kOutputFull;
      out.PutUnit(static_cast<char16_t>(v));
    }
  }
  return Stop::kDone;
}

// Encoding also stops at a high surrogate that is the last of all `units`
// (its partner may be in the next chunk; kDone with `i` on it), unless the
// input ends there. A pair may end one unit past `stop`.
template <bool kBigEndian>
Stop Utf16ToUtf32Plain(const std::uint8_t* in, std::uint32_t units, std::uint32_t stop,
                       bool endOfInput, OutputCursor& out, std::uint32_t& i) {
  while (i < stop) {
    std::uint32_t value = UnitAt(in + 2 * i);
    std::uint32_t used = 1;
    if (IsSurrogate(value)) {
      if (value >= 0xDC00) return Stop::kBadUnit;
      if (i + 1 == units) return endOfInput ? Stop::kBadUnit : Stop::kDone;
      const std::uint32_t low = UnitAt(in + 2 * i + 2);
      if (low - 0xDC00 >= 0x400) return Stop::kBadUnit;
      value = 0x10000 + ((value - 0xD800) << 10) + (low - 0xDC00);
      used = 2;
    }
    if (!out.Reserve(4)) return Stop::kOutputFull;
    WriteUtf32Unit<kBigEndian>(out.Next(), value);
    out.Advance(4);
    i += used;
  }
  return Stop::kDone;
}

// The fast paths work on blocks of this many units; the plain loop takes
// over for one block where a fast path stops.
constexpr std::uint32_t kBlockUnits = 8;

// Converts whole blocks of UTF-32 units that all lie in the Basic
// Multilingual Plane and are no surrogates from `in` to `out`, until a
// block holds another value or less than a block is left; returns the units converted. The caller
// guarantees room for 2 bytes per unit.
template <bool kBigEndian>
std::uint32_t Utf32BmpBlocksToUtf16Unchecked(const std::uint8_t* in, std::uint32_t units,
                                             std::uint8_t* out) {
  std::uint32_t i = 0;
#if ORDANA_HAVE_SSE2
  const __m128i zero = _mm_setzero_si128();
  for (; i + kBlockUnits <= units; i += kBlockUnits) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i + 16));
    __m128i packed;
    if (kBigEndian) {
      // Each lane, read little endian, holds the unit's bytes swapped in its
      // upper half; the lower half must be zero.
      const __m128i lower = _mm_or_si128(_mm_slli_epi32(a, 16), _mm_slli_epi32(b, 16));
      if (_mm_movemask_epi8(_mm_cmpeq_epi32(lower, zero)) != 0xFFFF) break;
      // Signed packing is exact for sign-extended 16-bit values.
      packed = _mm_packs_epi32(_mm_srai_epi32(a, 16), _mm_srai_epi32(b, 16));
      packed = _mm_or_si128(_mm_slli_epi16(packed, 8), _mm_srli_epi16(packed, 8));
    } else {
      const __m128i upper = _mm_or_si128(_mm_srli_epi32(a, 16), _mm_srli_epi32(b, 16));
      if (_mm_movemask_epi8(_mm_cmpeq_epi32(upper, zero)) != 0xFFFF) break;
      packed = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(a, 16), 16),
                               _mm_srai_epi32(_mm_slli_epi32(b, 16), 16));
    }
    // Surrogate values are errors: the plain loop takes their block.
    const __m128i surrogates =
        _mm_cmpeq_epi16(_mm_and_si128(packed, _mm_set1_epi16(static_cast<short>(0xF800))),
                        _mm_set1_epi16(static_cast<short>(0xD800)));
    if (_mm_movemask_epi8(surrogates) != 0) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), packed);
  }
#else
  for (; i + kBlockUnits <= units; i += kBlockUnits) {
    bool attention = false;
    for (std::uint32_t k = 0; k < kBlockUnits; ++k) {
      const std::uint32_t v = ReadUtf32Unit<kBigEndian>(in + 4 * (i + k));
      attention |= (v >> 16) != 0 || IsSurrogate(v);
    }
    if (attention) break;
    for (std::uint32_t k = 0; k < kBlockUnits; ++k) {
      const std::uint32_t v = ReadUtf32Unit<kBigEndian>(in + 4 * (i + k));
      out[2 * (i + k)] = static_cast<std::uint8_t>(v);
      out[2 * (i + k) + 1] = static_cast<std::uint8_t>(v >> 8);
    }
  }
#endif
  return i;
}

// Widens whole blocks of UTF-16 units without a surrogate from `in` to
// `out`, until a block holds a surrogate or less than a block is left;
// returns the units converted. The caller guarantees room for 4 bytes per
// unit.
template <bool kBigEndian>
std::uint32_t Utf16BlocksToUtf32Unchecked(const std::uint8_t* in, std::uint32_t units,
                                          std::uint8_t* out) {
  std::uint32_t i = 0;
#if ORDANA_HAVE_SSE2
  const __m128i zero = _mm_setzero_si128();
  const __m128i surrogateMask = _mm_set1_epi16(static_cast<short>(0xF800));
  const __m128i surrogateBits = _mm_set1_epi16(static_cast<short>(0xD800));
  for (; i + kBlockUnits <= units; i += kBlockUnits) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
    const __m128i surrogates = _mm_cmpeq_epi16(_mm_and_si128(v, surrogateMask), surrogateBits);
    if (_mm_movemask_epi8(surrogates) != 0) break;
    __m128i first, second;
    if (kBigEndian) {
      v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
      first = _mm_unpacklo_epi16(zero, v);
      second = _mm_unpackhi_epi16(zero, v);
    } else {
      first = _mm_unpacklo_epi16(v, zero);
      second = _mm_unpackhi_epi16(v, zero);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), first);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i + 16), second);
  }
#else
  for (; i + kBlockUnits <= units; i += kBlockUnits) {
    bool surrogate = false;
    for (std::uint32_t k = 0; k < kBlockUnits; ++k) {
      surrogate |= IsSurrogate(UnitAt(in + 2 * (i + k)));
    }
    if (surrogate) break;
    for (std::uint32_t k = 0; k < kBlockUnits; ++k) {
      WriteUtf32Unit<kBigEndian>(out + 4 * (i + k), UnitAt(in + 2 * (i + k)));
    }
  }
#endif
  return i;
}

// Decodes from unit `i` on of the `units` whole units of `in` until all are
// done, the output is full or a unit is no character.
template <bool kBigEndian>
Stop DecodeUtf32(const std::uint8_t* in, std::uint32_t units, bool fastPath, OutputCursor& out,
                 std::uint32_t& i) {
  if (!fastPath) return Utf32ToUtf16Plain<kBigEndian>(in, units, out, i);
  while (i < units) {
    const std::uint32_t room = out.Available() / 2;
    const std::uint32_t done = Utf32BmpBlocksToUtf16Unchecked<kBigEndian>(
        in + 4 * i, std::min(units - i, room), out.Next());
    out.Advance(2 * done);
    i += done;
    const std::uint32_t stop = std::min(units, i + kBlockUnits);
    const Stop result = Utf32ToUtf16Plain<kBigEndian>(in, stop, out, i);
    if (result != Stop::kDone) return result;
  }
  return Stop::kDone;
}

// Encodes from unit `i` on of the `units` whole UTF-16 units of `in` until
// all are done (but a waiting high surrogate), the output is full or a
// surrogate is unpaired.
template <bool kBigEndian>
Stop EncodeUtf32(const std::uint8_t* in, std::uint32_t units, bool fastPath, bool endOfInput,
                 OutputCursor& out, std::uint32_t& i) {
  if (!fastPath) return Utf16ToUtf32Plain<kBigEndian>(in, units, units, endOfInput, out, i);
  while (i < units) {
    const std::uint32_t room = out.Available() / 4;
    const std::uint32_t done =
        Utf16BlocksToUtf32Unchecked<kBigEndian>(in + 2 * i, std::min(units - i, room), out.Next());
    out.Advance(4 * done);
    i += done;
    const std::uint32_t stop = std::min(units, i + kBlockUnits);
    const std::uint32_t before = i;
    const Stop result = Utf16ToUtf32Plain<kBigEndian>(in, units, stop, endOfInput, out, i);
    if (result != Stop::kDone) return result;
    if (i == before && i < units) break;  // a high surrogate waits for its partner
  }
  return Stop::kDone;
}

}  // namespace

// ---- Decoder ----------------------------------------------------------------

CUtf32ToUtf16Filter::CUtf32ToUtf16Filter(bool bigEndian, const CodecOptions& options)
    : bigEndian_(bigEndian), strict_(options.strict) {
  name_ = u"UTF-32 to UTF-16 character conversion filter";
  fastPath_ = options.fastPaths;
  typeId_ = kFilterTypeUtf32;
}

std::int32_t CUtf32ToUtf16Filter::Filter() {
  if (pending_.length() < 4) return 0;
  if (!bomChecked_) {
    // Invariant: nothing of this file has been consumed yet (the check is
    // made the first time four bytes are pending), so these are the first
    // four bytes of the file whatever the chunk sizes.
    const std::uint8_t* mark = bigEndian_ ? kBigEndianMark : kLittleEndianMark;
    const std::uint8_t* p = pending_.base();
    if (p[0] == mark[0] && p[1] == mark[1] && p[2] == mark[2] && p[3] == mark[3]) Consume(4);
    bomChecked_ = true;
  }
  const std::uint8_t* const in = pending_.base();
  const std::uint32_t units = pending_.length() / 4;
  std::uint32_t i = 0;
  {
    OutputCursor out(*this);
    for (;;) {
      const Stop stop = bigEndian_ ? DecodeUtf32<true>(in, units, fastPath_, out, i)
                                   : DecodeUtf32<false>(in, units, fastPath_, out, i);
      if (stop != Stop::kBadUnit || !out.Reserve(2)) break;
      const std::uint32_t v =
          bigEndian_ ? ReadUtf32Unit<true>(in + 4 * i) : ReadUtf32Unit<false>(in + 4 * i);
      if (v > kLastCodePoint) {
        ++errorCount_;
        LogResourceMessage(kLevelDetails, MessageKind::kFailure, kMessageUtf32BeyondRange, v,
                           Position(4 * i));
        out.PutUnit(replacement_);
      } else if (strict_) {
        ++errorCount_;
        LogResourceMessage(kLevelDetails, MessageKind::kFailure, kMessageSurrogateReplaced,
                           u"UTF-32", v, Position(4 * i));
        out.PutUnit(replacement_);
      } else {
        LogResourceMessage(kLevelDetails, MessageKind::kRepaired, kMessageSurrogateKept, u"UTF-32",
                           v, Position(4 * i));
        out.PutUnit(static_cast<char16_t>(v));
      }
      ++i;
    }
  }
  Consume(4 * i);
  return 0;
}

void CUtf32ToUtf16Filter::FilterEndOfInput() {
  Filter();
  // 1 to 3 bytes: no whole code unit, one replacement for them.
  const std::uint32_t left = pending_.length();
  if (left == 0 || left >= 4) return;
  OutputCursor out(*this);
  if (!out.Reserve(2)) return;
  ++errorCount_;
  LogResourceMessage(kLevelDetails, MessageKind::kFailure, kMessageUtf32Incomplete, left,
                     Position(0));
  Consume(left);
  out.PutUnit(replacement_);
}

bool CUtf32ToUtf16Filter::Reset() {
  CCodecFilter::Reset();
  bomChecked_ = false;
  return true;
}

// ---- Encoder ----------------------------------------------------------------

CUtf16ToUtf32Filter::CUtf16ToUtf32Filter(bool bigEndian, const CodecOptions& options)
    : writeBom_(options.writeBom), bigEndian_(bigEndian), strict_(options.strict) {
  name_ = u"UTF-16 to UTF-32 conversion filter";
  fastPath_ = options.fastPaths;
  typeId_ = kFilterTypeUtf32;
  output_.Clear();
  pending_.Clear();
  errorCount_ = 0;
  PutByteOrderMark();
}

void CUtf16ToUtf32Filter::PutByteOrderMark() {
  // The mark waits in the output buffer until the first chunk of the file
  // pushes it on; an empty file is never fed to the chain and so stays empty.
  // Called on an empty output (a new or reset filter), where the mark
  // always fits.
  if (writeBom_) (void)output_.Append(bigEndian_ ? kBigEndianMark : kLittleEndianMark, 4);
}

std::int32_t CUtf16ToUtf32Filter::Filter() {
  Encode(false);
  return 0;
}

void CUtf16ToUtf32Filter::Encode(bool endOfInput) {
  const std::uint8_t* const in = pending_.base();
  const std::uint32_t units = pending_.length() / 2;
  std::uint32_t i = 0;
  {
    OutputCursor out(*this);
    for (;;) {
      const Stop stop = bigEndian_ ? EncodeUtf32<true>(in, units, fastPath_, endOfInput, out, i)
                                   : EncodeUtf32<false>(in, units, fastPath_, endOfInput, out, i);
      if (stop != Stop::kBadUnit || !out.Reserve(4)) break;
      // An unpaired surrogate.
      std::uint32_t v = UnitAt(in + 2 * i);
      if (strict_) {
        ++errorCount_;
        LogResourceMessage(kLevelDetails, MessageKind::kFailure, kMessageSurrogateReplaced,
                           u"UTF-32", v, Position(2 * i));
        v = 0xFFFD;
      } else {
        LogResourceMessage(kLevelDetails, MessageKind::kRepaired, kMessageSurrogateKept, u"UTF-32",
                           v, Position(2 * i));
      }
      if (bigEndian_) {
        WriteUtf32Unit<true>(out.Next(), v);
      } else {
        WriteUtf32Unit<false>(out.Next(), v);
      }
      out.Advance(4);
      ++i;
    }
  }
  Consume(2 * i);
}

void CUtf16ToUtf32Filter::FilterEndOfInput() {
  // A high surrogate that waited for its partner is unpaired now.
  Encode(true);
  OutputCursor out(*this);
  if (pending_.length() != 1 || !out.Reserve(4)) return;
  TakeHalfUnit(bigEndian_ ? u"UTF-32BE" : u"UTF-32");
  if (bigEndian_) {
    WriteUtf32Unit<true>(out.Next(), 0xFFFD);
  } else {
    WriteUtf32Unit<false>(out.Next(), 0xFFFD);
  }
  out.Advance(4);
}

bool CUtf16ToUtf32Filter::Reset() {
  CCodecFilter::Reset();
  PutByteOrderMark();
  return true;
}

}  // namespace ordana
