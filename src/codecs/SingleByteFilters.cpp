#include "codecs/SingleByteFilters.h"

#include <algorithm>
#include <cstring>

#include "codecs/Utf8Filters.h"
#include "core/MessageLog.h"
#include "core/StringTable.h"
#include "support/Bits.h"

namespace ordana {

namespace {

constexpr std::uint16_t kUnmapped = 0xFFFF;
// The loose policy carries an undefined byte b as the code unit
// kByteEscapeBase + b.
constexpr std::uint32_t kByteEscapeBase = 0xDC00;
constexpr std::uint8_t kUnmappableByte = 0xFF;

// An id outside the table would read someone else's memory; such an id
// cannot come from the registry, so falling back to the first set is only a
// guard.
const std::uint16_t* CodePageRow(CharsetId charset) {
  return CodePageTable[charset < static_cast<CharsetId>(kSingleByteCharsetCount) ? charset : 0];
}

// The fast paths work on blocks of this many units and use the vector unit
// where a set maps ASCII to itself (most text is mostly ASCII); the plain
// loop takes over at a unit without a mapping.
constexpr std::uint32_t kBlockUnits = 16;

// Decodes one whole block of bytes, writing every result; false when a byte
// of the block has no mapping (the block then counts for nothing).
// `units` holds every code unit with its bytes already in output order, so
// a byte costs one load and one store; the test for a missing mapping is
// folded into one flag per block instead of a branch per byte.
inline bool DecodeBlockUnchecked(const std::uint16_t* units, bool asciiIsIdentity,
                                 const std::uint8_t* in, std::uint8_t* out) {
  std::uint32_t carry = 0;  // bit 16 set once a unit was 0xFFFF (in any byte order)
#if ORDANA_HAVE_SSE2
  if (asciiIsIdentity) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    if (_mm_movemask_epi8(v) == 0) {
      const __m128i zero = _mm_setzero_si128();
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi8(v, zero));
      return true;
    }
    // Looking up only the bytes above 0x7F was measured slower than the
    // table for the whole block: the branches are unpredictable.
  }
#else
  (void)asciiIsIdentity;
#endif
  for (std::uint32_t m = 0; m < kBlockUnits; m += 4) {
    const std::uint16_t u0 = units[in[m]], u1 = units[in[m + 1]];
    const std::uint16_t u2 = units[in[m + 2]], u3 = units[in[m + 3]];
    std::memcpy(out + 2 * m, &u0, 2);
    std::memcpy(out + 2 * m + 2, &u1, 2);
    std::memcpy(out + 2 * m + 4, &u2, 2);
    std::memcpy(out + 2 * m + 6, &u3, 2);
    carry |= (u0 + 1u) | (u1 + 1u) | (u2 + 1u) | (u3 + 1u);
  }
  return (carry & 0x10000) == 0;
}

// Decodes bytes of `in` while they have a mapping and the output has room
// without forwarding; returns how many it decoded.
std::uint32_t DecodeMappedRun(const std::uint16_t* table, const std::uint16_t* units,
                              bool asciiIsIdentity, const std::uint8_t* in, std::uint32_t n,
                              OutputCursor& out) {
  // Invariant: Available() bytes are writable at Next() without a Reserve.
  const std::uint32_t count = std::min(n, out.Available() / 2);
  std::uint8_t* to = out.Next();
  std::uint32_t k = 0;
  while (k < count) {
    if (k + kBlockUnits <= count &&
        DecodeBlockUnchecked(units, asciiIsIdentity, in + k, to + 2 * k)) {
      k += kBlockUnits;
      continue;
    }
    // Up to the byte without a mapping, or the last few bytes.
    const std::uint32_t stop = std::min(count, k + kBlockUnits);
    for (; k < stop; ++k) {
      const std::uint16_t u = table[in[k]];
      if (u == kUnmapped) break;
      to[2 * k] = static_cast<std::uint8_t>(u);
      to[2 * k + 1] = static_cast<std::uint8_t>(u >> 8);
    }
    if (k < stop) break;  // a byte for the plain loop
  }
  out.Advance(2 * k);
  return k;
}

// Encodes one whole block of code units, writing every result; false when a
// unit of the block has no byte (the block then counts for nothing).
inline bool EncodeBlockUnchecked(const std::uint16_t* reverse, bool asciiIsIdentity,
                                 const std::uint8_t* in, std::uint8_t* out) {
#if ORDANA_HAVE_SSE2
  if (asciiIsIdentity) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16));
    const __m128i above =
        _mm_and_si128(_mm_or_si128(a, b), _mm_set1_epi16(static_cast<short>(0xFF80)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(above, _mm_setzero_si128())) == 0xFFFF) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(a, b));
      return true;
    }
  }
#else
  (void)asciiIsIdentity;
#endif
  std::uint32_t carry = 0;  // bit 16 set once an entry was 0xFFFF
  for (std::uint32_t m = 0; m < kBlockUnits; m += 4) {
    const std::uint16_t e0 = reverse[UnitAt(in + 2 * m)];
    const std::uint16_t e1 = reverse[UnitAt(in + 2 * m + 2)];
    const std::uint16_t e2 = reverse[UnitAt(in + 2 * m + 4)];
    const std::uint16_t e3 = reverse[UnitAt(in + 2 * m + 6)];
    out[m] = static_cast<std::uint8_t>(e0);
    out[m + 1] = static_cast<std::uint8_t>(e1);
    out[m + 2] = static_cast<std::uint8_t>(e2);
    out[m + 3] = static_cast<std::uint8_t>(e3);
    carry |= (e0 + 1u) | (e1 + 1u) | (e2 + 1u) | (e3 + 1u);
  }
  return (carry & 0x10000) == 0;
}

// Encodes code units of `in` (`units` of them) while the reverse table maps
// them and the output has room without forwarding; returns how many it
// encoded.
std::uint32_t EncodeMappedRun(const std::uint16_t* reverse, bool asciiIsIdentity,
                              const std::uint8_t* in, std::uint32_t units, OutputCursor& out) {
  // Invariant: Available() bytes are writable at Next() without a Reserve.
  const std::uint32_t count = std::min(units, out.Available());
  std::uint8_t* to = out.Next();
  std::uint32_t k = 0;
  while (k < count) {
    if (k + kBlockUnits <= count &&
        EncodeBlockUnchecked(reverse, asciiIsIdentity, in + 2 * k, to + k)) {
      k += kBlockUnits;
      continue;
    }
    // Up to the unit without a byte, or the last few units.
    const std::uint32_t stop = std::min(count, k + kBlockUnits);
    for (; k < stop; ++k) {
      const std::uint16_t e = reverse[UnitAt(in + 2 * k)];
      if (e == kUnmapped) break;
      to[k] = static_cast<std::uint8_t>(e);
    }
    if (k < stop) break;  // a unit for the plain loop
  }
  out.Advance(k);
  return k;
}

}  // namespace

// ---- Decoder ----------------------------------------------------------------

CSingleByteToUtf16Filter::CSingleByteToUtf16Filter(CharsetId charset, const CodecOptions& options)
    : charset_(charset), strict_(options.strict), table_(CodePageRow(charset)) {
  name_ = u"Single to UTF-16 character conversion filter";
  typeId_ = kFilterTypeSingleToUtf16;
  fastPath_ = options.fastPaths;
  directPath_ = options.fastPaths;
  asciiIsIdentity_ = true;
  for (std::uint32_t b = 0; b < 256; ++b) {
    if (b < 0x80 && table_[b] != b) asciiIsIdentity_ = false;
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(table_[b]),
                                   static_cast<std::uint8_t>(table_[b] >> 8)};
    std::memcpy(&outputUnits_[b], bytes, 2);
    const std::uint32_t u = table_[b];
    std::uint8_t* e = utf8_[b];
    if (u == kUnmapped) continue;
    if (u >= 0xD800 && u <= 0xDFFF) {
      directCapable_ = false;  // the encoder alone pairs surrogates
    } else if (u < 0x80) {
      e[0] = static_cast<std::uint8_t>(u);
      e[3] = 1;
    } else if (u < 0x800) {
      e[0] = static_cast<std::uint8_t>(0xC0 | (u >> 6));
      e[1] = static_cast<std::uint8_t>(0x80 | (u & 0x3F));
      e[3] = 2;
    } else {
      e[0] = static_cast<std::uint8_t>(0xE0 | (u >> 12));
      e[1] = static_cast<std::uint8_t>(0x80 | ((u >> 6) & 0x3F));
      e[2] = static_cast<std::uint8_t>(0x80 | (u & 0x3F));
      e[3] = 3;
    }
  }
}

std::uint16_t CSingleByteToUtf16Filter::DecodeUndefined(std::uint32_t b, std::uint32_t index) {
  if (strict_) {
    ++errorCount_;
    LogResourceMessage(kLevelDetails, MessageKind::kFailure, kStringSingleByteUndecodable, charset_,
                       b, Position(index));
    // U+FFFF (a noncharacter) marks the place of the lost byte.
    return kUnmapped;
  }
  const std::uint16_t u = static_cast<std::uint16_t>(kByteEscapeBase + b);
  LogResourceMessage(kLevelDetails, MessageKind::kRepaired, kStringSingleByteUndecodableKept,
                     charset_, b, Position(index), static_cast<std::uint32_t>(u));
  return u;
}

CUtf16ToUtf8Filter* CSingleByteToUtf16Filter::DirectEncoder() const {
  if (!directPath_ || !directCapable_ || !output_.empty()) return nullptr;
  CFilter* next = NextFilter();
  if (!next || next->GetType() != kFilterTypeUtf16ToUtf8) return nullptr;
  auto* encoder = static_cast<CUtf16ToUtf8Filter*>(next);
  if (!encoder->AcceptsDirectOutput()) return nullptr;
  // The filter trace shows every step of both filters: it is made by them.
  if (const MessageLog* log = GetMessageLog(); log && log->Enabled(kLevelTrace)) return nullptr;
  return encoder;
}

std::uint32_t CSingleByteToUtf16Filter::DirectRun(std::uint32_t from, std::uint32_t to,
                                                  CUtf16ToUtf8Filter& encoder) {
  const std::uint8_t* const in = pending_.base();
  std::uint32_t i = from;
  OutputCursor out(encoder);
  // Invariant: a byte writes at most 3 bytes plus one scratch byte (the
  // length in utf8_ travels along and is overwritten by the next write).
  constexpr std::uint32_t kRoom = 64;
  while (i < to) {
    if (!out.Reserve(kRoom)) break;
    std::uint8_t* const start = out.Next();
    std::uint8_t* o = start;
    const std::uint32_t fits = (out.Available() - 1) / 3;
    const std::uint32_t stop = to - i > fits ? i + fits : to;
    while (i < stop) {
      if (kHaveSse2 && asciiIsIdentity_ && stop - i >= 16) {
        // ASCII bytes are their own UTF-8: sixteen at a time up to the
        // first other byte.
        const std::uint32_t ascii = CopyAsciiBlock(in + i, o);
        o += ascii;
        i += ascii;
        if (ascii == 16) continue;
      }
      const std::uint32_t b = in[i];
      const std::uint8_t* const e = utf8_[b];
      if (e[3] != 0) {
        std::memcpy(o, e, 4);
        o += e[3];
        ++i;
        continue;
      }
      const std::uint16_t u = DecodeUndefined(b, i);
      if (u >= 0xD800 && u <= 0xDFFF) {
        encoder.PutUnpairedSurrogate(static_cast<char16_t>(u), o);
        surrogates_.push_back(i);
      } else {
        o[0] = static_cast<std::uint8_t>(0xE0 | (u >> 12));
        o[1] = static_cast<std::uint8_t>(0x80 | ((u >> 6) & 0x3F));
        o[2] = static_cast<std::uint8_t>(0x80 | (u & 0x3F));
      }
      o += 3;
      ++i;
    }
    out.Advance(static_cast<std::uint32_t>(o - start));
  }
  return i;
}

void CSingleByteToUtf16Filter::FilterDirect(CUtf16ToUtf8Filter& encoder) {
  const std::uint32_t n = pending_.length();
  // The classic decoder passes its output on whenever it reaches the commit
  // size, two bytes per input byte: the encoder then converts that much and
  // says its messages. The direct path keeps these steps, so messages come
  // in the same order.
  const std::uint32_t step = output_.commitSize() / 2;
  std::uint32_t j = 0;
  while (j < n) {
    const std::uint32_t end = n - j > step ? j + step : n;
    const std::uint64_t encoderStart = encoder.InputPosition();
    surrogates_.clear();
    const std::uint32_t reached = DirectRun(j, end, encoder);
    encoder.CountDirectUnits(reached - j);
    directlyConverted_ += reached - j;
    for (std::uint32_t index : surrogates_) {
      encoder.ReportUnpairedSurrogate(
          static_cast<char16_t>(kByteEscapeBase + pending_.base()[index]),
          encoderStart + 2ull * (index - j));
    }
    encoder.ForwardOutput();
    if (reached < end) {
      // Nobody takes the output after all; what is left waits.
      j = reached;
      break;
    }
    j = end;
  }
  Consume(j);
}

std::int32_t CSingleByteToUtf16Filter::Filter() {
  if (CUtf16ToUtf8Filter* encoder = DirectEncoder()) {
    FilterDirect(*encoder);
    return 0;
  }
  const std::uint8_t* in = pending_.base();
  const std::uint32_t n = pending_.length();
  std::uint32_t j = 0;
  {
    OutputCursor out(*this);
    while (j < n) {
      if (fastPath_) {
        j += DecodeMappedRun(table_, outputUnits_, asciiIsIdentity_, in + j, n - j, out);
        if (j == n) break;
      }
      // The plain loop: one byte, whatever it is.
      if (!out.Reserve(2)) break;
      const std::uint32_t b = in[j];
      std::uint16_t u = table_[b];
      if (u == kUnmapped) u = DecodeUndefined(b, j);
      out.PutUnit(u);
      ++j;
    }
  }
  Consume(j);
  return 0;
}

bool CSingleByteToUtf16Filter::Finish() {
  LogResourceMessage(kLevelDetails, SummaryKind(errorCount_), kStringDecodingErrors,
                     Format(u"SCS(%d)", charset_), errorCount_);
  return true;
}

// ---- Encoder ----------------------------------------------------------------

CUtf16ToSingleByteFilter::CUtf16ToSingleByteFilter(CharsetId charset, const CodecOptions& options)
    : charset_(charset), reverse_(new std::uint16_t[0x10000]), strict_(options.strict) {
  name_ = u"UTF-16 to single character conversion filter";
  typeId_ = kFilterTypeUtf16ToSingle;
  fastPath_ = options.fastPaths;
  std::fill(reverse_.get(), reverse_.get() + 0x10000, kUnmapped);
  // Ascending, so that where several bytes share one code unit the highest
  // byte wins (U+FE8E is 0xB2 in CP1006, U+FFFD is 0xFF in NeXT, U+001A is
  // 0xFD in EBCDIC-875).
  const std::uint16_t* table = CodePageRow(charset);
  for (std::uint32_t b = 0; b < 256; ++b) {
    if (table[b] != kUnmapped) reverse_[table[b]] = static_cast<std::uint16_t>(b);
  }
  // Asked of the finished table: a higher byte that shares an ASCII code
  // unit would win over the ASCII byte.
  asciiIsIdentity_ = true;
  for (std::uint32_t u = 0; u < 0x80; ++u) {
    if (reverse_[u] != u) asciiIsIdentity_ = false;
  }
}

std::int32_t CUtf16ToSingleByteFilter::Filter() {
  const std::uint8_t* in = pending_.base();
  const std::uint32_t n = pending_.length() / 2 * 2;
  const std::uint16_t* reverse = reverse_.get();
  std::uint32_t i = 0;
  // A byte order mark means nothing in a single-byte set. Only the one that
  // opens the file is a mark; one further on is text, and tying the test to
  // the start of the file (not of a step) keeps the result independent of
  // where the chunks end.
  if (n >= 2 && TakeByteOrderMark(UnitAt(in), Position(0))) i = 2;
  {
    OutputCursor out(*this);
    while (i < n) {
      if (fastPath_) {
        i += 2 * EncodeMappedRun(reverse, asciiIsIdentity_, in + i, (n - i) / 2, out);
        if (i == n) break;
      }
      // The plain loop: one code unit, whatever it is.
      if (!out.Reserve(1)) break;
      const std::uint32_t u = UnitAt(in + i);
      std::uint32_t e = reverse[u];
      if (e == kUnmapped) {
        e = TakeUnmapped(u);
        SayUnmapped(u, Position(i));
      }
      out.PutByte(static_cast<std::uint8_t>(e));
      i += 2;
    }
  }
  Consume(i);
  return 0;
}

bool CUtf16ToSingleByteFilter::Restores(std::uint32_t u) const {
  // A byte the decoder could not map, carried here to be restored.
  return !strict_ && u - kByteEscapeBase < 0x100;
}

std::uint8_t CUtf16ToSingleByteFilter::TakeUnmapped(std::uint32_t u) {
  if (Restores(u)) return static_cast<std::uint8_t>(u - kByteEscapeBase);
  ++errorCount_;
  return kUnmappableByte;
}

void CUtf16ToSingleByteFilter::SayUnmapped(std::uint32_t u, std::uint64_t position) const {
  if (Restores(u)) {
    LogResourceMessage(kLevelDetails, MessageKind::kRepaired, kStringSingleByteEscapeRestored,
                       charset_, u, position, u - kByteEscapeBase);
  } else {
    LogResourceMessage(kLevelDetails, MessageKind::kFailure, kStringSingleByteUnencodable, charset_,
                       u, u, position);
  }
}

void CUtf16ToSingleByteFilter::FilterEndOfInput() {
  Filter();
  OutputCursor out(*this);
  if (pending_.length() == 1 && out.Reserve(1)) {
    const std::u16string codec = Format(u"DCS(%d)", charset_);
    TakeHalfUnit(codec.c_str());
    out.PutByte(kUnmappableByte);
  }
}

bool CUtf16ToSingleByteFilter::Finish() {
  LogResourceMessage(kLevelDetails, SummaryKind(errorCount_), kStringEncodingErrors,
                     Format(u"DCS(%d)", charset_), errorCount_);
  return true;
}

bool CUtf16ToSingleByteFilter::Reset() {
  CCodecFilter::Reset();
  bomSkipped_ = false;
  return true;
}

}  // namespace ordana
