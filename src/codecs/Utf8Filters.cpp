#include "codecs/Utf8Filters.h"

#include <algorithm>
#include <cstring>

#include "codecs/SingleByteFilters.h"
#include "codecs/Utf8Kernels.h"
#include "core/MessageLog.h"
#include "core/StringTable.h"
#include "support/Bits.h"

namespace ordana {

namespace {

// What may follow a lead byte in a well-formed sequence: the number of
// continuation bytes and the range of the first of them (the later ones are
// 80..BF). Only C2..F4 lead; 80..C1 and F5..FF start nothing. The narrow
// first ranges exclude overlong forms (E0 80..9F, F0 80..8F), surrogates
// (ED A0..BF) and values beyond U+10FFFF (F4 90..BF).
struct LeadTable {
  std::uint8_t following[256];
  std::uint8_t low[256];
  std::uint8_t high[256];
  constexpr LeadTable() : following(), low(), high() {
    for (int b = 0; b < 256; ++b) {
      int k = 0;
      if (b >= 0xC2 && b <= 0xDF)
        k = 1;
      else if (b >= 0xE0 && b <= 0xEF)
        k = 2;
      else if (b >= 0xF0 && b <= 0xF4)
        k = 3;
      following[b] = static_cast<std::uint8_t>(k);
      low[b] = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
      high[b] = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
    }
  }
};
constexpr LeadTable kLeads;

constexpr std::uint8_t kPayloadMask[4] = {0x7F, 0x1F, 0x0F, 0x07};

// After a block the vector kernel did not take, the plain loop goes on for
// at least this many bytes (units) before the kernel is asked again.
constexpr std::uint32_t kKernelRetryDistance = 32;

inline bool IsContinuation(std::uint8_t b) { return (b & 0xC0) == 0x80; }

// Encodes up to `units` code units from `in` into `out` while they are not
// surrogates; advances `*index` (a byte index) past what it encoded and
// returns the bytes written. Runs of ASCII go through NarrowAscii.
std::uint32_t EncodeBmpRun(const std::uint8_t* in, std::uint32_t units, std::uint8_t* out,
                           std::uint32_t* index);

}  // namespace

std::uint32_t WidenAscii(const std::uint8_t* in, std::uint32_t count, std::uint8_t* out) {
  std::uint32_t i = 0;
#if ORDANA_HAVE_SSE2
  const __m128i zero = _mm_setzero_si128();
  while (i + 16 <= count) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    // Widening the whole block is harmless even when it holds a non-ASCII
    // byte: the caller only keeps the units this function reports.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi8(bytes, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), _mm_unpackhi_epi8(bytes, zero));
    const int high = _mm_movemask_epi8(bytes);
    if (high != 0) return i + CountTrailingZeros(static_cast<std::uint32_t>(high));
    i += 16;
  }
#endif
  for (; i < count && in[i] < 0x80; ++i) {
    out[2 * i] = in[i];
    out[2 * i + 1] = 0;
  }
  return i;
}

std::uint32_t NarrowAscii(const std::uint8_t* in, std::uint32_t count, std::uint8_t* out) {
  std::uint32_t i = 0;
#if ORDANA_HAVE_SSE2
  const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  while (i + 16 <= count) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i + 16));
    const __m128i bad = _mm_or_si128(_mm_and_si128(a, nonAscii), _mm_and_si128(b, nonAscii));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(bad, zero)) != 0xFFFF) break;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
    i += 16;
  }
#endif
  for (; i < count; ++i) {
    const std::uint8_t low = in[2 * i];
    if (in[2 * i + 1] != 0 || low >= 0x80) break;
    out[i] = low;
  }
  return i;
}

namespace {

std::uint32_t EncodeBmpRun(const std::uint8_t* in, std::uint32_t units, std::uint8_t* out,
                           std::uint32_t* index) {
  std::uint8_t* o = out;
  std::uint32_t k = 0;
  while (k < units) {
    const char16_t u = UnitAt(in + 2 * k);
    if (u < 0x80 && units - k >= 16) {
      // Eight ASCII units in a row make a bulk copy worth starting.
      std::uint64_t a, b;
      std::memcpy(&a, in + 2 * k, 8);
      std::memcpy(&b, in + 2 * k + 8, 8);
      if (((a | b) & 0xFF80FF80FF80FF80ull) == 0) {
        const std::uint32_t run = NarrowAscii(in + 2 * k, units - k, o);
        o += run;
        k += run;
        continue;
      }
    }
    if (u < 0x800) {
      // One or two bytes, without a branch on which: mixed Latin text
      // alternates between them unpredictably.
      const std::uint32_t two = u >= 0x80 ? 1u : 0u;
      o[0] = static_cast<std::uint8_t>(two ? (0xC0 | (u >> 6)) : u);
      o[1] = static_cast<std::uint8_t>(0x80 | (u & 0x3F));
      o += 1 + two;
    } else if (u < 0xD800 || u > 0xDFFF) {
      o[0] = static_cast<std::uint8_t>(0xE0 | (u >> 12));
      o[1] = static_cast<std::uint8_t>(0x80 | ((u >> 6) & 0x3F));
      o[2] = static_cast<std::uint8_t>(0x80 | (u & 0x3F));
      o += 3;
    } else {
      break;  // a surrogate: the caller's general path
    }
    ++k;
  }
  *index += 2 * k;
  return static_cast<std::uint32_t>(o - out);
}

}  // namespace

// ---- Decoder ------------------------------------------------------------------

CUtf8ToUtf16Filter::CUtf8ToUtf16Filter(const CodecOptions& options)
    : strict_(options.strict),
      simd_(options.fastPaths ? DetectSimdLevel() : SimdLevel::kPlain),
      directPath_(options.fastPaths) {
  name_ = u"UTF-8 to UTF-16 conversion filter";
  typeId_ = kFilterTypeUtf8ToUtf16;
}

int CUtf8ToUtf16Filter::SequenceLength(std::uint8_t byte) { return kLeads.following[byte]; }

std::int32_t CUtf8ToUtf16Filter::Filter() {
  if (CUtf16ToSingleByteFilter* encoder = DirectEncoder()) {
    DecodeDirect(false, *encoder);
  } else {
    Decode(false);
  }
  return 0;
}

void CUtf8ToUtf16Filter::FilterEndOfInput() {
  if (CUtf16ToSingleByteFilter* encoder = DirectEncoder()) {
    DecodeDirect(true, *encoder);
  } else {
    Decode(true);
  }
}

void CUtf8ToUtf16Filter::PutReplacement(OutputCursor& out, std::uint32_t last) {
  out.PutUnit(replacement_);
  ++errorCount_;
  LogResourceMessage(kLevelDetails, MessageKind::kFailure, kStringUtf8Malformed, Position(last),
                     static_cast<unsigned>(replacement_));
}

namespace {

// The vector kernel takes whole blocks of well-formed text from `in`
// (`available` bytes, starting at a character boundary) and stops at one;
// returns the bytes it took.
inline std::uint32_t DecodeBlocks(OutputCursor& out, SimdLevel simd, const std::uint8_t* in,
                                  std::uint32_t available) {
  const KernelProgress done = DecodeUtf8Blocks(simd, in, available, out.Next(), out.Available());
  out.Advance(done.written);
  return done.consumed;
}

// Copies a run of ASCII bytes from `in` (`available` of them, the first one
// ASCII) as units, as far as the output takes them; returns the run's length.
inline std::uint32_t WidenAsciiRun(OutputCursor& out, const std::uint8_t* in,
                                   std::uint32_t available) {
  const std::uint32_t room = out.Available() / 2;
  const std::uint32_t run = WidenAscii(in, std::min(available, room), out.Next());
  out.Advance(2 * run);
  return run;
}

// Well-formed two- and three-byte sequences of ordinary characters are the
// bulk of non-ASCII text: the length of such a sequence at `in` (`available`
// bytes), with its unit in `*unit`, or 0 for anything else. The units are
// those the general path gives, without its bookkeeping.
ORDANA_ALWAYS_INLINE std::uint32_t CommonSequence(const std::uint8_t* in, std::uint32_t available,
                                                  char16_t* unit) {
  const std::uint8_t c = in[0];
  if (c >= 0xC2 && c < 0xE0) {
    if (available >= 2 && IsContinuation(in[1])) {
      *unit = static_cast<char16_t>(((c & 0x1Fu) << 6) | (in[1] & 0x3Fu));
      return 2;
    }
  } else if (c >= 0xE0 && c < 0xF0) {
    if (available >= 3 && IsContinuation(in[1]) && IsContinuation(in[2])) {
      const std::uint32_t v = ((c & 0x0Fu) << 12) | ((in[1] & 0x3Fu) << 6) | (in[2] & 0x3Fu);
      if (v >= 0x800 && (v < 0xD800 || v > 0xDFFF) && v < 0xFFFE) {
        *unit = static_cast<char16_t>(v);
        return 3;
      }
    }
  }
  return 0;
}

}  // namespace

std::uint32_t CUtf8ToUtf16Filter::SkipByteOrderMark() {
  // A byte order mark counts only at the very start of the file. With fewer
  // than three bytes the check waits; those bytes cannot be decoded yet
  // either, as EF starts a three-byte sequence.
  const std::uint8_t* const p = pending_.base();
  if (bomChecked_ || pending_.length() < 3) return 0;
  bomChecked_ = true;
  return p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF ? 3 : 0;
}

void CUtf8ToUtf16Filter::Decode(bool endOfInput) {
  const std::uint8_t* const p = pending_.base();
  const std::uint32_t n = pending_.length();
  std::uint32_t pos = SkipByteOrderMark();

  // A block the vector kernel cannot take goes through the loop below,
  // which asks the kernel again only after it: the loop starts and ends at
  // character boundaries.
  const bool kernel = HaveUtf8Kernels(simd_);
  const bool bulk = simd_ != SimdLevel::kPlain;
  std::uint32_t kernelFrom = pos;
  OutputCursor out(*this);
  while (pos < n) {
    if (kernel && pos >= kernelFrom) {
      pos += DecodeBlocks(out, simd_, p + pos, n - pos);
      kernelFrom = pos + kKernelRetryDistance;
      if (pos >= n) break;
    }
    const std::uint8_t c = p[pos];
    if (c < 0x80) {
      if (!out.Reserve(2)) break;
      if (!bulk) {
        out.PutUnit(c);
        ++pos;
        continue;
      }
      pos += WidenAsciiRun(out, p + pos, n - pos);
      continue;
    }
    char16_t unit;
    if (const std::uint32_t length = CommonSequence(p + pos, n - pos, &unit)) {
      if (!out.Reserve(2)) break;
      out.PutUnit(unit);
      pos += length;
      continue;
    }
    // Invariant: at most four bytes (a surrogate pair) are written below.
    if (!out.Reserve(4)) break;
    const std::uint32_t used = DecodeSequence(out, pos, endOfInput);
    if (used == 0) break;
    pos += used;
  }
  // Once anything is decoded, a mark can no longer be at the start.
  if (pos > 0) bomChecked_ = true;
  Consume(pos);
}

ORDANA_ALWAYS_INLINE std::uint32_t CUtf8ToUtf16Filter::DecodeSequence(OutputCursor& out,
                                                                      std::uint32_t pos,
                                                                      bool endOfInput) {
  const std::uint8_t* const p = pending_.base();
  const std::uint8_t c = p[pos];
  const std::uint32_t k = kLeads.following[c];
  if (k == 0) {
    // A byte that starts no sequence: a continuation byte out of place,
    // C0 and C1 (they could only start overlong forms), F5..FF.
    PutReplacement(out, pos);
    return 1;
  }
  const std::uint32_t available = pending_.length() - pos;
  // The whole sequence is awaited, also when a byte already shows it to
  // be broken, so that the message below can show all of it whatever the
  // chunks.
  if (available < k + 1 && !endOfInput) return 0;

  // The maximal subpart: the lead and the continuation bytes that can
  // follow it. Once a byte cannot, the bytes before it are one bad
  // sequence and decoding resumes at that byte. The loose policy lets
  // encoded surrogates (ED A0..BF xx) through.
  const std::uint8_t low = kLeads.low[c];
  const std::uint8_t high = c != 0xED ? kLeads.high[c] : strict_ ? kLeads.high[0xED] : 0xBF;
  std::uint32_t value = c & kPayloadMask[k];
  std::uint32_t j = 1;
  for (; j <= k && j < available; ++j) {
    const std::uint8_t b = p[pos + j];
    if (j == 1 ? (b < low || b > high) : !IsContinuation(b)) break;
    value = (value << 6) | (b & 0x3Fu);
  }
  if (j > k) {
    PutScalar(out, value, pos + k);
    return k + 1;
  }
  if (j < available) {
    // A byte that cannot continue the sequence.
    if (available >= k + 1 && GetMessageLog() && GetMessageLog()->Enabled(kLevelDetails)) {
      ReportBrokenSequence(p + pos, k + 1);
    }
  } else {
    // The input ends inside the sequence.
    LogResourceMessage(kLevelDetails, MessageKind::kRepaired, kMessageUtf8Incomplete, k + 1,
                       Position(pos));
  }
  PutReplacement(out, pos + j - 1);
  return j;
}

ORDANA_ALWAYS_INLINE void CUtf8ToUtf16Filter::PutScalar(OutputCursor& out, std::uint32_t value,
                                                        std::uint32_t last) {
  if (value >= 0x10000) {
    const std::uint32_t v = value - 0x10000;
    out.PutUnit(static_cast<char16_t>(0xD800 + (v >> 10)));
    out.PutUnit(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
  } else if (value >= 0xD800 && value <= 0xDFFF) {
    // Only the loose policy gets here.
    out.PutUnit(static_cast<char16_t>(value));
    LogResourceMessage(kLevelDetails, MessageKind::kRepaired, kStringUtf8SurrogateKept, value,
                       Position(last));
  } else if (value >= 0xFFFE) {
    PutReplacement(out, last);  // U+FFFE and U+FFFF are no characters
  } else {
    out.PutUnit(static_cast<char16_t>(value));
  }
}

void CUtf8ToUtf16Filter::ReportBrokenSequence(const std::uint8_t* sequence, std::uint32_t length) {
  // The whole sequence, its bytes in hexadecimal: "c3 28".
  std::u16string shown;
  for (std::uint32_t b = 0; b < length; ++b) {
    if (b > 0) shown += u' ';
    shown += Format(u"%02x", static_cast<unsigned>(sequence[b]));
  }
  LogResourceMessage(kLevelDetails, MessageKind::kRepaired, kStringUtf8MalformedBytes, length,
                     shown);
}

// ---- The direct path into a single-byte encoder ---------------------------------

CUtf16ToSingleByteFilter* CUtf8ToUtf16Filter::DirectEncoder() const {
  if (!directPath_ || !output_.empty()) return nullptr;
  CFilter* next = NextFilter();
  if (!next || next->GetType() != kFilterTypeUtf16ToSingle) return nullptr;
  auto* encoder = static_cast<CUtf16ToSingleByteFilter*>(next);
  if (!encoder->AcceptsDirectOutput()) return nullptr;
  // The filter trace shows every step of both filters: it is made by them.
  if (const MessageLog* log = GetMessageLog(); log && log->Enabled(kLevelTrace)) return nullptr;
  return encoder;
}

std::uint32_t CUtf8ToUtf16Filter::DecodeSequenceAside(std::uint32_t pos, bool endOfInput,
                                                      char16_t* units, std::uint32_t* count) {
  std::uint32_t used = 0;
  {
    OutputCursor out(*this);
    // The output is empty: room for a surrogate pair without passing it on.
    if (out.Reserve(4)) used = DecodeSequence(out, pos, endOfInput);
  }
  *count = output_.length() / 2;
  for (std::uint32_t k = 0; k < *count; ++k) units[k] = UnitAt(output_.base() + 2 * k);
  output_.Clear();
  return used;
}

std::uint8_t* CUtf8ToUtf16Filter::EncodeAside(const DirectStep& step, std::uint32_t u,
                                              std::uint32_t index, std::uint8_t* o) {
  CUtf16ToSingleByteFilter& encoder = *step.encoder;
  if (encoder.TakeByteOrderMark(u, step.start + 2ull * index)) return o;
  const std::uint16_t e = step.reverse[u];
  if (e != CUtf16ToSingleByteFilter::kNoByte) {
    *o = static_cast<std::uint8_t>(e);
    return o + 1;
  }
  *o = encoder.TakeUnmapped(u);
  if (step.say) encoderMessages_.push_back(static_cast<std::uint64_t>(index) << 32 | u);
  return o + 1;
}

namespace {

// Room asked of the encoder's output for a run of the direct path, and how
// much of it a vector store may write beyond the last byte of a run.
constexpr std::uint32_t kDirectRoom = 64;
constexpr std::uint32_t kDirectOverhang = 16;

}  // namespace

void CUtf8ToUtf16Filter::DecodeDirect(bool endOfInput, CUtf16ToSingleByteFilter& encoder) {
  const std::uint32_t first = SkipByteOrderMark();
  std::uint32_t pos = first;
  // The encoder's messages are said at the end of each step, after the
  // decoder's; with the log below their level there is nothing to keep.
  const MessageLog* const log = GetMessageLog();
  DirectStep step{&encoder, encoder.ReverseTable(), encoder.AsciiIsIdentity(),
                  log && log->Enabled(kLevelDetails)};
  bool more = true;
  while (more) {
    step.start = encoder.InputPosition();
    step.units = 0;
    encoderMessages_.clear();
    more = RunDirectStep(step, &pos, endOfInput);
    encoder.CountDirectUnits(step.units);
    for (const std::uint64_t message : encoderMessages_) {
      encoder.SayUnmapped(static_cast<std::uint32_t>(message), step.start + 2 * (message >> 32));
    }
    encoder.ForwardOutput();
  }
  directlyConverted_ += pos - first;
  // Once anything is decoded, a mark can no longer be at the start.
  if (pos > 0) bomChecked_ = true;
  Consume(pos);
}

bool CUtf8ToUtf16Filter::RunDirectStep(DirectStep& step, std::uint32_t* pos, bool endOfInput) {
  // The classic decoder passes its output on before a character would
  // take it past the commit size: a character of the quick cases (two
  // bytes of room) after stepUnits units, any other (four bytes of room:
  // a surrogate pair) after stepUnits - 1. The encoder then converts that
  // much and says its messages. The direct path keeps these steps, so
  // messages come in the same order.
  const std::uint32_t stepUnits = output_.commitSize() / 2;
  OutputCursor out(*step.encoder);
  for (;;) {
    if (*pos >= pending_.length() || !out.Reserve(kDirectRoom)) return false;
    std::uint8_t* const start = out.Next();
    std::uint8_t* o = start;
    // Every unit writes at most one byte: `limit` bounds the units of this
    // run by the step and by the room.
    const std::uint32_t limit =
        step.units + std::min(stepUnits - step.units, out.Available() - kDirectOverhang);
    const DirectRunEnd end = RunDirect(step, pos, limit, stepUnits, endOfInput, &o);
    out.Advance(static_cast<std::uint32_t>(o - start));
    if (end != DirectRunEnd::kRoom) return end == DirectRunEnd::kStep;
  }
}

CUtf8ToUtf16Filter::DirectRunEnd CUtf8ToUtf16Filter::RunDirect(DirectStep& step, std::uint32_t* at,
                                                               std::uint32_t limit,
                                                               std::uint32_t stepUnits,
                                                               bool endOfInput, std::uint8_t** to) {
  const std::uint8_t* const p = pending_.base();
  const std::uint32_t n = pending_.length();
  std::uint32_t pos = *at;
  std::uint32_t units = step.units;
  std::uint8_t* o = *to;
  DirectRunEnd end = DirectRunEnd::kInput;
  while (pos < n) {
    if (step.asciiCopies && n - pos >= 16 && limit - units >= 16) {
      // ASCII bytes are their own bytes in the set.
      const std::uint32_t ascii = CopyAsciiBlock(p + pos, o);
      o += ascii;
      pos += ascii;
      units += ascii;
      if (ascii == 16) continue;
    }
    // The quick cases of the classic decoder: one code unit each.
    const std::uint8_t c = p[pos];
    char16_t unit = c;
    const std::uint32_t length = c < 0x80 ? 1 : CommonSequence(p + pos, n - pos, &unit);
    if (length != 0) {
      if (units >= limit) {
        end = units >= stepUnits ? DirectRunEnd::kStep : DirectRunEnd::kRoom;
        break;
      }
      // U+FEFF may be the byte order mark the encoder drops.
      const std::uint16_t e = step.reverse[unit];
      if (e != CUtf16ToSingleByteFilter::kNoByte && unit != 0xFEFF) {
        *o++ = static_cast<std::uint8_t>(e);
      } else {
        o = EncodeAside(step, unit, units, o);
      }
      pos += length;
      ++units;
      continue;
    }
    // Anything else: the classic decoder's general rules, then each of its
    // units through the encoder's table or its classic code.
    if (units + 2 > limit) {
      end = units + 2 > stepUnits ? DirectRunEnd::kStep : DirectRunEnd::kRoom;
      break;
    }
    char16_t decoded[2];
    std::uint32_t count = 0;
    const std::uint32_t used = DecodeSequenceAside(pos, endOfInput, decoded, &count);
    if (used == 0) break;  // the rest of the sequence is still to come
    for (std::uint32_t k = 0; k < count; ++k) o = EncodeAside(step, decoded[k], units++, o);
    pos += used;
  }
  *at = pos;
  step.units = units;
  *to = o;
  return end;
}

bool CUtf8ToUtf16Filter::Finish() {
  LogResourceMessage(kLevelDetails, SummaryKind(errorCount_), kStringDecodingErrors, u"UTF-8",
                     errorCount_);
  return true;
}

bool CUtf8ToUtf16Filter::Reset() {
  CCodecFilter::Reset();
  bomChecked_ = false;
  return true;
}

// ---- Encoder ------------------------------------------------------------------

CUtf16ToUtf8Filter::CUtf16ToUtf8Filter(const CodecOptions& options)
    : writeBom_(options.writeBom),
      strict_(options.strict),
      simd_(options.fastPaths ? DetectSimdLevel() : SimdLevel::kPlain) {
  name_ = u"UTF-16 to UTF-8 conversion filter";
  typeId_ = kFilterTypeUtf16ToUtf8;
  output_.Clear();
  pending_.Clear();
  errorCount_ = 0;
  PutByteOrderMark();
}

void CUtf16ToUtf8Filter::PutByteOrderMark() {
  static const std::uint8_t kMark[3] = {0xEF, 0xBB, 0xBF};
  // Called on an empty output (a new or reset filter), where the mark
  // always fits.
  if (writeBom_) (void)output_.Append(kMark, 3);
}

std::int32_t CUtf16ToUtf8Filter::Filter() {
  Encode(false);
  return 0;
}

void CUtf16ToUtf8Filter::FilterEndOfInput() {
  // A high surrogate that waited for its partner is unpaired now.
  Encode(true);
  if (pending_.length() == 1) {
    OutputCursor out(*this);
    if (out.Reserve(3)) {
      TakeHalfUnit(u"UTF-8");
      static const std::uint8_t kReplacement[3] = {0xEF, 0xBF, 0xBD};
      std::memcpy(out.Next(), kReplacement, 3);
      out.Advance(3);
    }
  }
}

namespace {

// The vector kernel takes whole blocks of units from `in` (`available`
// bytes) and stops before an unpaired surrogate; returns the bytes it took.
inline std::uint32_t EncodeBlocks(OutputCursor& out, SimdLevel simd, const std::uint8_t* in,
                                  std::uint32_t available) {
  const KernelProgress done = EncodeUtf8Blocks(simd, in, available, out.Next(), out.Available());
  out.Advance(done.written);
  return done.consumed;
}

// Copies a run of ASCII units from `in` (`units` of them, the first one
// ASCII) as bytes, as far as the output takes them; returns the run's length.
inline std::uint32_t NarrowAsciiRun(OutputCursor& out, const std::uint8_t* in,
                                    std::uint32_t units) {
  const std::uint32_t run = NarrowAscii(in, std::min(units, out.Available()), out.Next());
  out.Advance(run);
  return run;
}

}  // namespace

void CUtf16ToUtf8Filter::Encode(bool endOfInput) {
  const std::uint8_t* const p = pending_.base();
  const std::uint32_t n = pending_.length() & ~1u;
  std::uint32_t i = 0;
  // As in the decoder: the kernel takes whole blocks, the loop the rest.
  const bool kernel = HaveUtf8Kernels(simd_);
  const bool bulk = simd_ != SimdLevel::kPlain;
  std::uint32_t kernelFrom = 0;
  OutputCursor out(*this);
  while (i < n) {
    if (kernel && i >= kernelFrom) {
      i += EncodeBlocks(out, simd_, p + i, n - i);
      kernelFrom = i + 2 * kKernelRetryDistance;
      if (i >= n) break;
    }
    if (!out.Reserve(4)) break;
    // Characters outside the surrogate range go through a loop without
    // per-character room checks: a unit never needs more than three bytes,
    // so a third of the room bounds how many units it may take.
    if (bulk) {
      std::uint32_t units = std::min((n - i) / 2, out.Available() / 3);
      // Up to where the kernel is asked again (kernelFrom > i here).
      if (kernel) units = std::min(units, (kernelFrom - i) / 2);
      out.Advance(EncodeBmpRun(p + i, units, out.Next(), &i));
      if (i >= n) break;
      if (!out.Reserve(4)) break;
    }
    const char16_t u = UnitAt(p + i);
    if (u < 0x80 && !bulk) {
      out.PutByte(static_cast<std::uint8_t>(u));
      i += 2;
      continue;
    }
    if (u < 0x80) {
      i += 2 * NarrowAsciiRun(out, p + i, (n - i) / 2);
      continue;
    }
    std::uint8_t* o = out.Next();
    if (u < 0x800) {
      o[0] = static_cast<std::uint8_t>(0xC0 | (u >> 6));
      o[1] = static_cast<std::uint8_t>(0x80 | (u & 0x3F));
      out.Advance(2);
      i += 2;
      continue;
    }
    if (u < 0xD800 || u > 0xDFFF) {
      o[0] = static_cast<std::uint8_t>(0xE0 | (u >> 12));
      o[1] = static_cast<std::uint8_t>(0x80 | ((u >> 6) & 0x3F));
      o[2] = static_cast<std::uint8_t>(0x80 | (u & 0x3F));
      out.Advance(3);
      i += 2;
      continue;
    }
    const std::uint32_t used = EncodeSurrogate(out, p, i, n, endOfInput);
    if (used == 0) break;
    i += used;
  }
  Consume(i);
}

ORDANA_ALWAYS_INLINE std::uint32_t CUtf16ToUtf8Filter::EncodeSurrogate(
    OutputCursor& out, const std::uint8_t* p, std::uint32_t i, std::uint32_t n, bool endOfInput) {
  const char16_t u = UnitAt(p + i);
  std::uint8_t* o = out.Next();
  if (u <= 0xDBFF) {
    if (n - i < 4 && !endOfInput) return 0;  // the partner may come with the next chunk
    const char16_t next = n - i >= 4 ? UnitAt(p + i + 2) : 0;
    if (next >= 0xDC00 && next <= 0xDFFF) {
      const std::uint32_t cp = 0x10000 + ((u - 0xD800u) << 10) + (next - 0xDC00u);
      o[0] = static_cast<std::uint8_t>(0xF0 | (cp >> 18));
      o[1] = static_cast<std::uint8_t>(0x80 | ((cp >> 12) & 0x3F));
      o[2] = static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F));
      o[3] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
      out.Advance(4);
      return 4;
    }
  }
  // An unpaired surrogate.
  ReportUnpairedSurrogate(u, Position(i));
  PutUnpairedSurrogate(u, o);
  out.Advance(3);
  return 2;
}

void CUtf16ToUtf8Filter::PutUnpairedSurrogate(char16_t u, std::uint8_t* o) const {
  if (strict_) {
    o[0] = 0xEF;
    o[1] = 0xBF;
    o[2] = 0xBD;
  } else {
    o[0] = static_cast<std::uint8_t>(0xE0 | (u >> 12));
    o[1] = static_cast<std::uint8_t>(0x80 | ((u >> 6) & 0x3F));
    o[2] = static_cast<std::uint8_t>(0x80 | (u & 0x3F));
  }
}

void CUtf16ToUtf8Filter::ReportUnpairedSurrogate(char16_t u, std::uint64_t position) {
  if (strict_) {
    ++errorCount_;
    LogResourceMessage(kLevelDetails, MessageKind::kFailure, kStringUtf8EncodeSurrogateReplaced,
                       static_cast<unsigned>(u), position);
  } else {
    LogResourceMessage(kLevelDetails, MessageKind::kRepaired, kStringUtf8EncodeSurrogateKept,
                       static_cast<unsigned>(u), position);
  }
}

bool CUtf16ToUtf8Filter::Finish() {
  LogResourceMessage(kLevelDetails, SummaryKind(errorCount_), kStringEncodingErrors, u"UTF-8",
                     errorCount_);
  return true;
}

bool CUtf16ToUtf8Filter::Reset() {
  CCodecFilter::Reset();
  PutByteOrderMark();
  return true;
}

}  // namespace ordana
