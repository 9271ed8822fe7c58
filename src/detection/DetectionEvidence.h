#pragma once
// Evidence about a sample that the scoring of the statistics files does not
// use: the shape of UTF-16 and UTF-32 text without a byte order mark, bytes
// that a single-byte set leaves undefined or maps to C1 control characters,
// and which sets decode a sample alike.

#include <cstddef>
#include <cstdint>

#include "codecs/CharsetRegistry.h"

namespace ordana {

enum class UnicodeForm { kNone, kUtf16Le, kUtf16Be, kUtf32Le, kUtf32Be };

// UTF-32 or UTF-16 text without a byte order mark, in any script.
//
// UTF-32: every unit of the sample is a Unicode scalar value (at most
// U+10FFFF, no surrogate) and at most one in a hundred is U+0000 or a C0
// control other than TAB, LF, FF and CR.
//
// UTF-16: at most one in a hundred units is U+0000, a C0 control other than
// those four, a noncharacter U+FFFE/U+FFFF, or a surrogate that is not half
// of a pair (a high surrogate followed by a low one); and either the text
// keeps to one script block (its units' high bytes are 0x00 or one other
// value in at least nine of ten units: Cyrillic 0x04, Greek 0x03, ...) or,
// for scripts spread over many blocks (CJK, Hangul), at least one unit in
// twenty has the high byte 0x00 (spaces, line ends, digits) while the low
// bytes are 0x00 in at most one in a hundred. Single-byte text has neither
// shape: it has no zero bytes, and its every other byte is not one value.
// Samples under 16 bytes are too short to tell.
UnicodeForm DetectUnicodeWithoutMark(const std::uint8_t* b, std::uint32_t n);

// How often each byte value occurs at the even and at the odd offsets of a
// sample (the last byte of a sample of odd length is in neither): what the
// UTF-16 test and the single-byte checks below need, counted once.
struct SampleByteCounts {
  std::uint32_t even[256] = {};
  std::uint32_t odd[256] = {};
};
void CountSampleBytes(const std::uint8_t* b, std::uint32_t n, SampleByteCounts* counts);
// The same test with the sample's counts already made.
UnicodeForm DetectUnicodeWithoutMark(const std::uint8_t* b, std::uint32_t n,
                                     const SampleByteCounts& counts);

// The first position at or after `from` and before n whose byte is 0x80 or
// above; n when there is none (runs of ASCII go by eight bytes at a time).
std::uint32_t SkipAscii(const std::uint8_t* b, std::uint32_t from, std::uint32_t n);

// True when the whole sample is well-formed UTF-8 (shortest forms, no
// surrogates, nothing above U+10FFFF; a sequence cut off by the end of the
// sample is not held against it) with at least one sequence of two or more
// bytes. Text in a single-byte set almost never is: its high bytes would
// have to come in exactly the lead-and-continuation pattern every time.
bool IsWellFormedUtf8(const std::uint8_t* b, std::uint32_t n);

// What a sample holds, for the single-byte checks below.
struct SampleBytes {
  // Whether each byte value occurs in the sample.
  bool present[256] = {};
  // The sample is clearly text: at most one byte in a hundred is a C0
  // control other than TAB, LF, FF, CR and ESC.
  bool clearlyText = false;
};
void CollectSampleBytes(const std::uint8_t* b, std::uint32_t n, SampleBytes* sample);
// The same from the sample's counts (n bytes, ending in b[n - 1]).
void CollectSampleBytes(const std::uint8_t* b, std::uint32_t n, const SampleByteCounts& counts,
                        SampleBytes* sample);

// False when the set leaves a byte of the sample undefined, or, in a sample
// that is clearly text, maps one to a C1 control character (U+0080..U+009F).
bool DecodesCleanly(CharsetId id, const SampleBytes& sample);
// True when both sets decode every byte of the sample to the same character.
bool DecodeAlike(CharsetId a, CharsetId b, const SampleBytes& sample);

// Among sets that decode a sample alike, the one their users meet most wins:
// the Windows sets first, then the ISO 8859 sets, KOI8, the DOS sets and the
// Mac sets. Lower is preferred.
int PreferenceRank(CharsetId id);

}  // namespace ordana
