// Every Unicode scalar value through every Unicode codec, both ways and in
// both policies, and every encoded surrogate and value beyond U+10FFFF
// against the rule of the reference decoders. The text runs through the
// codecs' bulk paths (long runs of characters of one length, chunks that end
// inside a character) as real files do, so the edges of each fast path
// (U+D7FF/U+E000 in three bytes, U+FFFF, U+10000, U+10FFFF) are met there.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "../../fuzz/ReferenceDecoders.h"
#include "TestSupport.h"
#include "codecs/Utf16Filters.h"
#include "codecs/Utf32Filters.h"
#include "codecs/Utf8Filters.h"

namespace ordana {
namespace {

constexpr std::uint32_t kLastScalar = 0x10FFFF;

bool IsSurrogate(std::uint32_t v) { return v >= 0xD800 && v <= 0xDFFF; }

void PutUtf8(std::string& s, std::uint32_t v) {
  if (v < 0x80) {
    s += static_cast<char>(v);
  } else if (v < 0x800) {
    s += static_cast<char>(0xC0 | v >> 6);
    s += static_cast<char>(0x80 | (v & 0x3F));
  } else if (v < 0x10000) {
    s += static_cast<char>(0xE0 | v >> 12);
    s += static_cast<char>(0x80 | (v >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (v & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | v >> 18);
    s += static_cast<char>(0x80 | (v >> 12 & 0x3F));
    s += static_cast<char>(0x80 | (v >> 6 & 0x3F));
    s += static_cast<char>(0x80 | (v & 0x3F));
  }
}

void PutUtf32(std::string& s, std::uint32_t v, bool big) {
  for (int k = 0; k < 4; ++k) s += static_cast<char>(v >> (big ? 8 * (3 - k) : 8 * k));
}

void PutUtf16(std::string& s, std::uint32_t v, bool big) {
  reference::Decoded units;
  units.PutCodePoint(v);
  for (std::size_t k = 0; k < units.units.size(); k += 2) {
    s += units.units[k + (big ? 1 : 0)];
    s += units.units[k + (big ? 0 : 1)];
  }
}

// Every scalar value in order (U+0000 first, so no byte order mark).
template <class Put>
std::string EveryScalarValue(Put put) {
  std::string s;
  for (std::uint32_t v = 0; v <= kLastScalar; ++v) {
    if (!IsSurrogate(v)) put(s, v);
  }
  return s;
}

struct Result {
  std::string output;
  std::uint32_t errors = 0;
  std::string log;  // the level-2 messages, UTF-8
};

// Chunks of `size` bytes (the last one shorter).
std::vector<std::size_t> Chunks(std::size_t total, std::size_t size) {
  std::vector<std::size_t> splits;
  for (std::size_t at = size; at < total; at += size) splits.push_back(at);
  return splits;
}

// `codec` alone before a recorder, the input in chunks of two odd sizes
// (no larger than the program reads), which end inside characters of every
// length. Both ways must agree.
Result Convert(CFilter* codec, const std::string& input, const std::string& what) {
  CFilterChain chain;
  chain.Append(codec);
  auto* sink = new test::RecordingFilter();
  chain.Append(sink);
  const test::Outcome large =
      test::RunOnce(chain, *sink, input, Chunks(input.size(), 1048573), codec);
  const test::Outcome small =
      test::RunOnce(chain, *sink, input, Chunks(input.size(), 65521), codec);
  EXPECT_TRUE(small.output == large.output)
      << what << ": the size of the chunks changes the output";
  EXPECT_EQ(small.errors, large.errors) << what;
  return {large.output, large.errors, large.narrowLog()};
}

// The first difference, for a failure message that can be read.
std::string FirstDifference(const std::string& got, const std::string& wanted) {
  std::size_t k = 0;
  while (k < got.size() && k < wanted.size() && got[k] == wanted[k]) ++k;
  return "first difference at byte " + std::to_string(k) + " of " + std::to_string(got.size()) +
         " (wanted " + std::to_string(wanted.size()) + ")";
}

#define EXPECT_BYTES(got, wanted, what) \
  EXPECT_TRUE((got) == (wanted)) << (what) << ": " << FirstDifference((got), (wanted))

TEST(CodePointTest, Utf8DecodesEveryScalarValueAsTheRuleSays) {
  const std::string utf8 = EveryScalarValue([](std::string& s, std::uint32_t v) { PutUtf8(s, v); });
  for (bool strict : {true, false}) {
    const std::string what = strict ? "strict" : "loose";
    const reference::Decoded wanted = reference::DecodeUtf8(
        reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size(), strict);
    // The rule: every scalar value but the noncharacters U+FFFE and U+FFFF.
    ASSERT_EQ(wanted.errors, 2u);
    const Result got = Convert(new CUtf8ToUtf16Filter(CodecOptions{strict}), utf8, what);
    EXPECT_BYTES(got.output, wanted.units, what);
    EXPECT_EQ(got.errors, wanted.errors) << what;
  }
}

TEST(CodePointTest, Utf8EncodesEveryScalarValue) {
  const std::string utf16 =
      EveryScalarValue([](std::string& s, std::uint32_t v) { PutUtf16(s, v, false); });
  const std::string utf8 = EveryScalarValue([](std::string& s, std::uint32_t v) { PutUtf8(s, v); });
  for (bool strict : {true, false}) {
    const std::string what = strict ? "strict" : "loose";
    const Result got = Convert(new CUtf16ToUtf8Filter(CodecOptions{strict, false}), utf16, what);
    EXPECT_BYTES(got.output, utf8, what);
    EXPECT_EQ(got.errors, 0u) << what;
  }
}

TEST(CodePointTest, Utf16AndUtf32CarryEveryScalarValueBothWays) {
  for (bool big : {false, true}) {
    const std::string utf16le =
        EveryScalarValue([](std::string& s, std::uint32_t v) { PutUtf16(s, v, false); });
    const std::string utf16 =
        EveryScalarValue([big](std::string& s, std::uint32_t v) { PutUtf16(s, v, big); });
    const std::string utf32 =
        EveryScalarValue([big](std::string& s, std::uint32_t v) { PutUtf32(s, v, big); });
    for (bool strict : {true, false}) {
      const std::string what =
          std::string(big ? "big endian" : "little endian") + (strict ? ", strict" : ", loose");
      const CodecOptions options{strict, false};
      Result got = Convert(new CUtf32ToUtf16Filter(big, options), utf32, "UTF-32 in, " + what);
      EXPECT_BYTES(got.output, utf16le, "UTF-32 in, " + what);
      EXPECT_EQ(got.errors, 0u);
      got = Convert(new CUtf16ToUtf32Filter(big, options), utf16le, "UTF-32 out, " + what);
      EXPECT_BYTES(got.output, utf32, "UTF-32 out, " + what);
      EXPECT_EQ(got.errors, 0u);
      got = Convert(new CUtf16ToUtf16InputFilter(big, options), utf16, "UTF-16 in, " + what);
      EXPECT_BYTES(got.output, utf16le, "UTF-16 in, " + what);
      EXPECT_EQ(got.errors, 0u);
      got = Convert(new CUtf16ToUtf16OutputFilter(big, options), utf16le, "UTF-16 out, " + what);
      EXPECT_BYTES(got.output, utf16, "UTF-16 out, " + what);
      EXPECT_EQ(got.errors, 0u);
    }
  }
}

// Every encoded surrogate (ED A0..BF 80..BF) and every four-byte form beyond
// U+10FFFF that the old layout allowed (F4 90..BF, F5..F7), each between
// three-byte characters so that the fast paths meet them, against the rule:
// strict replaces each maximal subpart, loose carries encoded surrogates.
TEST(CodePointTest, Utf8EncodedSurrogatesAndValuesBeyondTheLastFollowTheRule) {
  std::string utf8;
  for (std::uint32_t v = 0xD800; v <= 0xDFFF; ++v) {
    PutUtf8(utf8, 0x4E00 + (v & 0xFF));
    PutUtf8(utf8, v);  // the bit layout alone: ED A0..BF xx
  }
  for (std::uint32_t v = 0x110000; v < 0x200000; v += 0x1111) {
    PutUtf8(utf8, 0x4E00);
    PutUtf8(utf8, v);  // F4 90.. and F5..F7
  }
  for (std::uint32_t last : {0xFFFDu, 0xFFFFu, 0x10FFFFu}) {
    PutUtf8(utf8, 0xD7FF);
    PutUtf8(utf8, last);
    PutUtf8(utf8, 0xE000);
  }
  for (bool strict : {true, false}) {
    const std::string what = strict ? "strict" : "loose";
    const reference::Decoded wanted = reference::DecodeUtf8(
        reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size(), strict);
    const Result got = Convert(new CUtf8ToUtf16Filter(CodecOptions{strict}), utf8, what);
    EXPECT_BYTES(got.output, wanted.units, what);
    EXPECT_EQ(got.errors, wanted.errors) << what;
    if (strict) continue;
    // Each surrogate carried through is a warning that names it, once.
    for (std::uint32_t v = 0xD800; v <= 0xDFFF; ++v) {
      char name[8];
      std::snprintf(name, sizeof name, "U+%04x", v);
      std::size_t count = 0;
      for (std::size_t at = got.log.find(name); at != std::string::npos;
           at = got.log.find(name, at + 1)) {
        ++count;
      }
      EXPECT_EQ(count, 1u) << name;
    }
  }
}

TEST(CodePointTest, Utf32SurrogatesAndValuesBeyondTheLastFollowTheRule) {
  std::vector<std::uint32_t> values;
  for (std::uint32_t v = 0xD800; v <= 0xDFFF; ++v) values.push_back(v);
  for (std::uint32_t v = 0x10FFF0; v <= 0x110010; ++v) values.push_back(v);
  for (int bit = 21; bit < 32; ++bit) {
    values.push_back(std::uint32_t{1} << bit);
    values.push_back((std::uint32_t{1} << bit) | 0xD800);  // a surrogate in the low half
  }
  values.push_back(0xFFFFFFFF);
  for (bool big : {false, true}) {
    std::string utf32;
    for (std::uint32_t v : values) {
      PutUtf32(utf32, 0x4E00, big);
      PutUtf32(utf32, v, big);
    }
    for (bool strict : {true, false}) {
      const std::string what =
          std::string(big ? "big endian" : "little endian") + (strict ? ", strict" : ", loose");
      const reference::Decoded wanted = reference::DecodeUtf32(
          reinterpret_cast<const std::uint8_t*>(utf32.data()), utf32.size(), big, strict);
      const Result got = Convert(new CUtf32ToUtf16Filter(big, CodecOptions{strict}), utf32, what);
      EXPECT_BYTES(got.output, wanted.units, what);
      EXPECT_EQ(got.errors, wanted.errors) << what;
    }
  }
}

// A lone surrogate in the text (a loose decoder let it through) is replaced
// and counted by a strict encoder and written as its own bit layout by a
// loose one.
TEST(CodePointTest, EncodersTakeEveryLoneSurrogateAsThePolicySays) {
  std::string utf16;
  std::string keptUtf8, replacedUtf8, keptUtf32, replacedUtf32;
  for (std::uint32_t v = 0xD800; v <= 0xDFFF; ++v) {
    test::PutUtf16(utf16, 0x4E00);
    test::PutUtf16(utf16, v);
    for (std::string* s : {&keptUtf8, &replacedUtf8}) PutUtf8(*s, 0x4E00);
    for (std::string* s : {&keptUtf32, &replacedUtf32}) PutUtf32(*s, 0x4E00, false);
    PutUtf8(keptUtf8, v);
    PutUtf8(replacedUtf8, 0xFFFD);
    PutUtf32(keptUtf32, v, false);
    PutUtf32(replacedUtf32, 0xFFFD, false);
  }
  for (bool strict : {true, false}) {
    const std::string what = strict ? "strict" : "loose";
    const CodecOptions options{strict, false};
    Result got = Convert(new CUtf16ToUtf8Filter(options), utf16, "UTF-8, " + what);
    EXPECT_BYTES(got.output, strict ? replacedUtf8 : keptUtf8, "UTF-8, " + what);
    EXPECT_EQ(got.errors, strict ? 0x800u : 0u) << what;
    got = Convert(new CUtf16ToUtf32Filter(false, options), utf16, "UTF-32, " + what);
    EXPECT_BYTES(got.output, strict ? replacedUtf32 : keptUtf32, "UTF-32, " + what);
    EXPECT_EQ(got.errors, strict ? 0x800u : 0u) << what;
  }
}

// The writers of four bytes per character take up to 2 MiB of UTF-16 in
// one step (the program's reads) and write up to 4 MiB: the output goes on
// in pieces of at most the commit size (2 MiB), each passed on only when the
// next write (a block of 8 characters at most, 32 bytes) would not fit, so
// only the last piece of a step is shorter.
TEST(CodePointTest, FourByteWritersForwardAtTheCommitSize) {
  for (bool mixed : {false, true}) {
    std::string utf16, utf32le, utf32be;
    for (std::uint32_t k = 0; k < 1600000; ++k) {
      // BMP characters (the fast path), or runs of them and of pairs (the
      // plain loop).
      const std::uint32_t v =
          mixed && (k / 1000) % 3 == 2 ? 0x10000 + k % 0xFFFF0 : 0x4E00 + k % 0x5000;
      PutUtf16(utf16, v, false);
      PutUtf32(utf32le, v, false);
      PutUtf32(utf32be, v, true);
    }
    const std::size_t step = CBuffer::kCommitSize;
    const std::size_t steps = (utf16.size() + step - 1) / step;
    const std::uint32_t largestWrite = 32;
    for (bool big : {false, true}) {
      const std::string what =
          std::string(big ? "UTF-32BE" : "UTF-32LE") + (mixed ? ", pairs too" : ", BMP");
      CFilterChain chain;
      auto* codec = new CUtf16ToUtf32Filter(big, CodecOptions{true, false});
      chain.Append(codec);
      auto* sink = new test::RecordingFilter();
      chain.Append(sink);
      const test::Outcome got =
          test::RunOnce(chain, *sink, utf16, Chunks(utf16.size(), step), codec);
      EXPECT_BYTES(got.output, big ? utf32be : utf32le, what);
      std::size_t shortPieces = 0;
      for (std::uint32_t piece : sink->calls) {
        EXPECT_LE(piece, CBuffer::kCommitSize) << what;
        if (piece + largestWrite <= CBuffer::kCommitSize) ++shortPieces;
      }
      EXPECT_LE(shortPieces, steps) << what;
    }
  }
}

}  // namespace
}  // namespace ordana
