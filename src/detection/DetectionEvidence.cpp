#include "detection/DetectionEvidence.h"

#include <cstring>

#include "platform/Utf8.h"

namespace ordana {

namespace {

// C0 controls that ordinary text contains: TAB, LF, FF, CR (and ESC, which
// terminal output and some old documents carry, in single-byte samples).
bool IsTextControl(std::uint32_t c) { return c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D; }

// What one reading of the sample as UTF-16 looks like.
struct Utf16Shape {
  std::uint32_t units = 0;
  std::uint32_t bad = 0;       // NUL, odd controls, noncharacters, lone surrogates
  std::uint32_t zeroHigh = 0;  // units U+0001..U+00FF
  std::uint32_t zeroLow = 0;   // units U+xx00 with xx != 0, surrogates aside
  std::uint32_t topHigh = 0;   // units whose high byte is the most common non-zero one
  bool Plausible() const {
    if (units < 8 || bad * 100 > units) return false;
    const bool oneBlock = (zeroHigh + topHigh) * 10 >= units * 9 && topHigh * 4 >= units;
    const bool spread = zeroHigh * 20 >= units && zeroLow * 100 <= units;
    return oneBlock || spread;
  }
  std::uint32_t Strength() const { return zeroHigh + topHigh - bad; }
};

Utf16Shape MeasureUtf16(const std::uint8_t* b, std::uint32_t n, bool bigEndian) {
  Utf16Shape shape;
  std::uint32_t highCounts[256] = {};
  shape.units = n / 2;
  bool expectLow = false;  // the previous unit was a high surrogate
  for (std::uint32_t k = 0; k + 1 < n; k += 2) {
    const std::uint32_t lo = bigEndian ? b[k + 1] : b[k];
    const std::uint32_t hi = bigEndian ? b[k] : b[k + 1];
    const std::uint32_t u = lo | (hi << 8);
    const bool low = u >= 0xDC00 && u <= 0xDFFF;
    if (expectLow && !low) ++shape.bad;  // the high surrogate had no partner
    if (!expectLow && low) ++shape.bad;
    expectLow = u >= 0xD800 && u <= 0xDBFF;
    if (u == 0 || (u < 0x20 && !IsTextControl(u)) || u == 0xFFFE || u == 0xFFFF) ++shape.bad;
    if (hi == 0) {
      ++shape.zeroHigh;
    } else {
      ++highCounts[hi];
      if (lo == 0 && (hi < 0xD8 || hi > 0xDF)) ++shape.zeroLow;
    }
  }
  // A high surrogate as the very last unit may have its partner just past
  // the sample: it is not held against the sample.
  for (std::uint32_t h = 1; h < 256; ++h) {
    if (h >= 0xD8 && h <= 0xDF) continue;  // surrogates are many blocks, not one
    if (highCounts[h] > shape.topHigh) shape.topHigh = highCounts[h];
  }
  return shape;
}

// Whether a reading whose high bytes are counted in `highCounts` can pass
// Utf16Shape::Plausible at all. Its zeroHigh and topHigh are these counts'
// exactly; the checks of the other measures are left out, so a false here
// means MeasureUtf16 would find the reading implausible too. Single-byte
// text, which has no NUL bytes, fails it at once.
bool Utf16MayBePlausible(const std::uint32_t* highCounts, std::uint32_t units) {
  if (units < 8) return false;
  const std::uint32_t zeroHigh = highCounts[0];
  std::uint32_t topHigh = 0;
  for (std::uint32_t h = 1; h < 256; ++h) {
    if (h >= 0xD8 && h <= 0xDF) continue;
    if (highCounts[h] > topHigh) topHigh = highCounts[h];
  }
  const bool oneBlock = (std::uint64_t{zeroHigh} + topHigh) * 10 >= std::uint64_t{units} * 9 &&
                        std::uint64_t{topHigh} * 4 >= units;
  const bool spread = std::uint64_t{zeroHigh} * 20 >= units;
  return oneBlock || spread;
}

bool Utf32Plausible(const std::uint8_t* b, std::uint32_t n, bool bigEndian) {
  const std::uint32_t units = n / 4;
  if (units < 4) return false;
  std::uint32_t bad = 0;
  for (std::uint32_t k = 0; k + 3 < n; k += 4) {
    const std::uint32_t u = bigEndian ? (static_cast<std::uint32_t>(b[k]) << 24) |
                                            (b[k + 1] << 16) | (b[k + 2] << 8) | b[k + 3]
                                      : (static_cast<std::uint32_t>(b[k + 3]) << 24) |
                                            (b[k + 2] << 16) | (b[k + 1] << 8) | b[k];
    if (u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) return false;
    if (u == 0 || (u < 0x20 && !IsTextControl(u))) ++bad;
  }
  return bad * 100 <= units;
}

}  // namespace

std::uint32_t SkipAscii(const std::uint8_t* b, std::uint32_t from, std::uint32_t n) {
  std::uint32_t k = from;
  for (; k + 8 <= n; k += 8) {
    std::uint64_t word;
    std::memcpy(&word, b + k, sizeof word);
    if ((word & 0x8080808080808080u) != 0) break;
  }
  while (k < n && b[k] < 0x80) ++k;
  return k;
}

void CountSampleBytes(const std::uint8_t* b, std::uint32_t n, SampleByteCounts* counts) {
  *counts = SampleByteCounts();
  for (std::uint32_t k = 0; k + 1 < n; k += 2) {
    ++counts->even[b[k]];
    ++counts->odd[b[k + 1]];
  }
}

UnicodeForm DetectUnicodeWithoutMark(const std::uint8_t* b, std::uint32_t n) {
  if (n < 16) return UnicodeForm::kNone;
  SampleByteCounts counts;
  CountSampleBytes(b, n, &counts);
  return DetectUnicodeWithoutMark(b, n, counts);
}

UnicodeForm DetectUnicodeWithoutMark(const std::uint8_t* b, std::uint32_t n,
                                     const SampleByteCounts& counts) {
  if (n < 16) return UnicodeForm::kNone;
  if (Utf32Plausible(b, n, false)) return UnicodeForm::kUtf32Le;
  if (Utf32Plausible(b, n, true)) return UnicodeForm::kUtf32Be;
  // The bytes at even and at odd offsets are the high bytes of the units
  // read big endian and little endian. A reading they rule out is not
  // measured.
  const Utf16Shape le =
      Utf16MayBePlausible(counts.odd, n / 2) ? MeasureUtf16(b, n, false) : Utf16Shape();
  const Utf16Shape be =
      Utf16MayBePlausible(counts.even, n / 2) ? MeasureUtf16(b, n, true) : Utf16Shape();
  const bool leOk = le.Plausible();
  const bool beOk = be.Plausible();
  if (leOk && (!beOk || le.Strength() >= be.Strength())) return UnicodeForm::kUtf16Le;
  if (beOk) return UnicodeForm::kUtf16Be;
  return UnicodeForm::kNone;
}

bool IsWellFormedUtf8(const std::uint8_t* b, std::uint32_t n) {
  std::uint32_t sequences = 0;
  std::uint32_t k = 0;
  while (k < n) {
    if (b[k] < 0x80) {
      k = SkipAscii(b, k + 1, n);
      continue;
    }
    char32_t value = 0;
    const int length = platform::DecodeUtf8Sequence(b + k, n - k, &value);
    // A sequence cut off by the end of the sample is no evidence either way.
    if (length == platform::kUtf8Truncated) return sequences > 0;
    if (length == platform::kUtf8Malformed) return false;
    ++sequences;
    k += static_cast<std::uint32_t>(length);
  }
  return sequences > 0;
}

void CollectSampleBytes(const std::uint8_t* b, std::uint32_t n, SampleBytes* sample) {
  SampleByteCounts counts;
  CountSampleBytes(b, n, &counts);
  CollectSampleBytes(b, n, counts, sample);
}

void CollectSampleBytes(const std::uint8_t* b, std::uint32_t n, const SampleByteCounts& counts,
                        SampleBytes* sample) {
  std::uint32_t controls = 0;
  for (std::uint32_t c = 0; c < 256; ++c) {
    const std::uint32_t count = counts.even[c] + counts.odd[c] + (n % 2 == 1 && b[n - 1] == c);
    sample->present[c] = count != 0;
    if (c < 0x20 && !IsTextControl(c) && c != 0x1B) controls += count;
  }
  sample->clearlyText = n > 0 && controls * 100 <= n;
}

bool DecodesCleanly(CharsetId id, const SampleBytes& sample) {
  if (id >= static_cast<CharsetId>(kSingleByteCharsetCount)) return false;
  for (std::uint32_t c = 0x80; c < 256; ++c) {
    if (!sample.present[c]) continue;
    const std::uint16_t u = CodePageTable[id][c];
    if (u == 0xFFFF) return false;
    if (sample.clearlyText && u >= 0x80 && u <= 0x9F) return false;
  }
  return true;
}

bool DecodeAlike(CharsetId a, CharsetId b, const SampleBytes& sample) {
  if (a >= static_cast<CharsetId>(kSingleByteCharsetCount) ||
      b >= static_cast<CharsetId>(kSingleByteCharsetCount)) {
    return a == b;
  }
  for (std::uint32_t c = 0; c < 256; ++c) {
    if (sample.present[c] && CodePageTable[a][c] != CodePageTable[b][c]) return false;
  }
  return true;
}

int PreferenceRank(CharsetId id) {
  if (id >= 15 && id <= 24) return 0;  // Windows-874, Windows-1250..1258
  if (id <= 14) return 1;              // ISO 8859
  if (id == 50 || id == 51) return 2;  // KOI8-R, KOI8-U
  if (id >= 25 && id <= 40) return 3;  // DOS
  if (id >= 41 && id <= 48) return 4;  // Mac
  return 5;
}

}  // namespace ordana
