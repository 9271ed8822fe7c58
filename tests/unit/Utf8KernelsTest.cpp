// The vector kernels of the UTF-8 decoder and encoder against the plain
// loops: the same bytes, messages and error counts for random valid and
// malformed text, both policies, whole and split into random chunks, at
// every instruction-set level this processor has. Malformed pieces are put
// at every offset of a 64-byte block, so that they fall at every position
// of the kernels' blocks and straddle their ends.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "CodecTestSupport.h"
#include "codecs/Utf8Filters.h"
#include "codecs/Utf8Kernels.h"

namespace ordana {
namespace {

using test::Outcome;
using test::SingleCodecChain;

const SimdLevel kLevels[] = {SimdLevel::kSse2, SimdLevel::kAvx2, SimdLevel::kAvx512};

const char* LevelName(SimdLevel level) {
  switch (level) {
    case SimdLevel::kPlain:
      return "plain";
    case SimdLevel::kSse2:
      return "SSE2";
    case SimdLevel::kAvx2:
      return "AVX2";
    case SimdLevel::kAvx512:
      return "AVX-512";
  }
  return "?";
}

// A character of one of the kinds text is made of, with the edges of each
// range more often than their share.
std::uint32_t RandomCharacter(std::mt19937& random) {
  static const std::uint32_t kEdges[] = {0x00,    0x7F,    0x80,    0x7FF,    0x800,   0xFFF,
                                         0x1000,  0xD7FF,  0xE000,  0xFEFF,   0xFFFD,  0x10000,
                                         0x3FFFF, 0x40000, 0xFFFFF, 0x100000, 0x10FFFF};
  switch (random() % 10) {
    case 0:
    case 1:
    case 2:
    case 3:
      return 0x20 + random() % 0x5F;
    case 4:
      return 0x80 + random() % 0x780;
    case 5:
      return 0x800 + random() % (0xD800 - 0x800);
    case 6:
      return 0xE000 + random() % (0xFFFE - 0xE000);
    case 7:
      return 0x10000 + random() % 0x100000;
    case 8:
      return kEdges[random() % (sizeof kEdges / sizeof kEdges[0])];
    default:
      return random() % 0x80;
  }
}

// Runs of one kind of character (ASCII, Latin, CJK, emoji) with others
// mixed in, as text has.
std::string RandomUtf8(std::mt19937& random, std::size_t size) {
  std::string s;
  while (s.size() < size) {
    const std::uint32_t kind = random() % 4;
    const std::size_t run = random() % 48;
    for (std::size_t k = 0; k < run && s.size() < size; ++k) {
      std::uint32_t cp = RandomCharacter(random);
      if (random() % 3 != 0) {
        cp = kind == 0   ? 0x20 + random() % 0x5F
             : kind == 1 ? 0xA0 + random() % 0x500
             : kind == 2 ? 0x4E00 + random() % 0x5000
                         : 0x1F600 + random() % 0x50;
      }
      test::PutUtf8(s, cp);
    }
  }
  return s;
}

// Byte sequences the decoder repairs or reports: bad leads, out-of-place
// continuation bytes, overlong forms, encoded surrogates (a warning under
// the loose policy), values beyond U+10FFFF, U+FFFE and U+FFFF, sequences
// cut short by ASCII or by the next lead, a byte order mark inside text.
const std::vector<std::string> kMalformedUtf8 = {"\x80",
                                                 "\xBF",
                                                 "\xC0\x80",
                                                 "\xC1\xBF",
                                                 "\xC2",
                                                 "\xDF\x41",
                                                 "\xE0\x80\x80",
                                                 "\xE0\x9F\xBF",
                                                 "\xE3\x81",
                                                 "\xE3\x81\x41",
                                                 "\xED\xA0\x80",
                                                 "\xED\xBF\xBF",
                                                 "\xEF\xBF\xBE",
                                                 "\xEF\xBF\xBF",
                                                 "\xF0\x80\x80\x80",
                                                 "\xF0\x8F\xBF\xBF",
                                                 "\xF0\x9F\x98",
                                                 "\xF4\x90\x80\x80",
                                                 "\xF5\x80\x80\x80",
                                                 "\xF8",
                                                 "\xFE",
                                                 "\xFF",
                                                 "\xC3\xC3\xA9",
                                                 "\xE3\xE3\x81\x82",
                                                 "\xF0\x9F\xF0\x9F\x98\x80",
                                                 "\xEF\xBB\xBF",
                                                 "\xED\x9F\xBF",
                                                 "\xF4\x8F\xBF\xBF"};

// Unit sequences the encoder repairs or reports, with pairs around them.
const std::vector<std::vector<std::uint32_t>> kUnusualUtf16 = {{0xD800},
                                                               {0xDBFF},
                                                               {0xDC00},
                                                               {0xDFFF},
                                                               {0xDC00, 0xD800},
                                                               {0xD800, 0xD800, 0xDC00},
                                                               {0xD83D, 0x41},
                                                               {0x41, 0xDE00},
                                                               {0xD83D, 0xDE00, 0xDE00},
                                                               {0xFFFE, 0xFFFF, 0xD7FF, 0xE000}};

std::string Utf16Of(const std::string& utf8) {
  // Valid text only: the test's own generator made it.
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = static_cast<std::uint8_t>(utf8[i]);
    const int k = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    std::uint32_t cp = k == 0 ? c : c & (0x3F >> k);
    for (int j = 1; j <= k; ++j) cp = (cp << 6) | (static_cast<std::uint8_t>(utf8[i + j]) & 0x3F);
    if (cp >= 0x10000) {
      test::PutUtf16(out, 0xD800 + ((cp - 0x10000) >> 10));
      test::PutUtf16(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      test::PutUtf16(out, cp);
    }
    i += 1 + static_cast<std::size_t>(k);
  }
  return out;
}

// The decoder at `level` and the plain one agree on `input`, whole and in
// random chunks.
void ExpectDecodersAgree(const std::string& input, bool strict, SimdLevel level,
                         std::mt19937& random, const std::string& what) {
  auto* fastDecoder = new CUtf8ToUtf16Filter(CodecOptions{strict});
  fastDecoder->UseSimdLevel(level);
  SingleCodecChain fast(fastDecoder);
  auto* plainDecoder = new CUtf8ToUtf16Filter(CodecOptions{strict, true, false});
  SingleCodecChain plain(plainDecoder);
  const Outcome reference = plain.Run(input);
  test::ExpectSame(reference, fast.Run(input), what + " whole");
  const std::vector<std::size_t> splits = test::RandomSplits(random, input.size());
  test::ExpectSame(reference, fast.Run(input, splits), what + " split");
  test::ExpectSame(reference, plain.Run(input, splits), what + " plain split");
}

void ExpectEncodersAgree(const std::string& input, bool strict, SimdLevel level,
                         std::mt19937& random, const std::string& what) {
  auto* fastEncoder = new CUtf16ToUtf8Filter(CodecOptions{strict, false});
  fastEncoder->UseSimdLevel(level);
  SingleCodecChain fast(fastEncoder);
  SingleCodecChain plain(new CUtf16ToUtf8Filter(CodecOptions{strict, false, false}));
  const Outcome reference = plain.Run(input);
  test::ExpectSame(reference, fast.Run(input), what + " whole");
  const std::vector<std::size_t> splits = test::RandomSplits(random, input.size());
  test::ExpectSame(reference, fast.Run(input, splits), what + " split");
  test::ExpectSame(reference, plain.Run(input, splits), what + " plain split");
}

TEST(Utf8KernelsTest, DecoderAgreesWithThePlainLoopOnValidText) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 200; ++round) {
    const std::string input = RandomUtf8(random, random() % 600);
    for (SimdLevel level : kLevels) {
      const std::string what = std::string(LevelName(level)) + " round " + std::to_string(round);
      ExpectDecodersAgree(input, round % 2 == 0, level, random, what);
    }
  }
}

TEST(Utf8KernelsTest, DecoderAgreesWithThePlainLoopOnMalformedTextAtEveryOffset) {
  std::mt19937 random(4711);
  for (std::size_t piece = 0; piece < kMalformedUtf8.size(); ++piece) {
    // Valid text before and after, the bad piece at each offset of a 64-byte
    // block (two blocks of the widest kernel) after a first block.
    for (std::size_t offset = 0; offset < 64; ++offset) {
      std::string input = RandomUtf8(random, 64 + offset);
      input.resize(64 + offset);  // may cut a character: one more bad piece
      input += kMalformedUtf8[piece];
      input += RandomUtf8(random, 40 + random() % 100);
      const bool strict = (offset + piece) % 2 == 0;
      const SimdLevel level = kLevels[offset % 3];
      ExpectDecodersAgree(input, strict, level, random,
                          std::string(LevelName(level)) + " piece " + std::to_string(piece) +
                              " at " + std::to_string(offset));
    }
  }
}

TEST(Utf8KernelsTest, DecoderAgreesWithThePlainLoopOnRandomBytes) {
  std::mt19937 random(99);
  for (int round = 0; round < 300; ++round) {
    std::string input = RandomUtf8(random, random() % 200);
    // Bytes that make sequences more often than not, at random places.
    for (int k = random() % 6; k > 0; --k) {
      const std::size_t at = input.empty() ? 0 : random() % input.size();
      input.insert(at, 1,
                   static_cast<char>(random() % 3 == 0 ? random() % 256 : 0x80 + random() % 0x80));
    }
    const SimdLevel level = kLevels[round % 3];
    ExpectDecodersAgree(input, round % 4 < 2, level, random,
                        std::string(LevelName(level)) + " round " + std::to_string(round));
  }
}

TEST(Utf8KernelsTest, EncoderAgreesWithThePlainLoop) {
  std::mt19937 random(1207);
  for (int round = 0; round < 200; ++round) {
    const std::string valid = Utf16Of(RandomUtf8(random, random() % 600));
    for (SimdLevel level : kLevels) {
      ExpectEncodersAgree(valid, round % 2 == 0, level, random,
                          std::string(LevelName(level)) + " round " + std::to_string(round));
    }
  }
  for (std::size_t piece = 0; piece < kUnusualUtf16.size(); ++piece) {
    for (std::size_t offset = 0; offset < 32; ++offset) {
      std::string input = Utf16Of(RandomUtf8(random, 2 * (32 + offset)));
      input.resize(2 * (32 + offset));  // may cut a pair: one more lone surrogate
      for (std::uint32_t unit : kUnusualUtf16[piece]) test::PutUtf16(input, unit);
      input += Utf16Of(RandomUtf8(random, 40 + random() % 100));
      if (offset % 5 == 0) input += '\x41';  // half a unit at the end
      const SimdLevel level = kLevels[offset % 3];
      ExpectEncodersAgree(input, (offset + piece) % 2 == 0, level, random,
                          std::string(LevelName(level)) + " piece " + std::to_string(piece) +
                              " at " + std::to_string(offset));
    }
  }
}

// The kernels do the work on valid text: they leave at most the last blocks
// to the plain loop, and what they write is the text's UTF-16 (UTF-8).
TEST(Utf8KernelsTest, KernelsTakeValidTextUpToTheLastBlock) {
  const SimdLevel best = DetectSimdLevel();
  if (!HaveUtf8Kernels(best)) GTEST_SKIP() << "no vector kernels for this processor or build";
  std::mt19937 random(3);
  for (SimdLevel level : kLevels) {
    if (!HaveUtf8Kernels(level) || level > best) continue;
    for (int round = 0; round < 50; ++round) {
      const std::string utf8 = RandomUtf8(random, 200 + random() % 2000);
      const std::string utf16 = Utf16Of(utf8);
      std::vector<std::uint8_t> out(2 * utf8.size() + kUtf8KernelRoom);
      const KernelProgress decoded =
          DecodeUtf8Blocks(level, reinterpret_cast<const std::uint8_t*>(utf8.data()),
                           static_cast<std::uint32_t>(utf8.size()), out.data(),
                           static_cast<std::uint32_t>(out.size()));
      const std::string what = std::string(LevelName(level)) + " round " + std::to_string(round);
      EXPECT_GE(decoded.consumed + 64, utf8.size()) << what;
      ASSERT_LE(decoded.consumed, utf8.size()) << what;
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data()), decoded.written),
                Utf16Of(utf8.substr(0, decoded.consumed)))
          << what;

      std::vector<std::uint8_t> back(2 * utf16.size() + kUtf8KernelRoom);
      const KernelProgress encoded =
          EncodeUtf8Blocks(level, reinterpret_cast<const std::uint8_t*>(utf16.data()),
                           static_cast<std::uint32_t>(utf16.size()), back.data(),
                           static_cast<std::uint32_t>(back.size()));
      EXPECT_GE(encoded.consumed + 64, utf16.size()) << what;
      ASSERT_LE(encoded.consumed, utf16.size()) << what;
      EXPECT_EQ(encoded.consumed % 2, 0u) << what;
      const std::string prefix(reinterpret_cast<const char*>(back.data()), encoded.written);
      EXPECT_EQ(Utf16Of(prefix), utf16.substr(0, encoded.consumed)) << what;
    }
  }
}

}  // namespace
}  // namespace ordana
