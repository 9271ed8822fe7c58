#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "TransformTestSupport.h"
#include "transforms/LineTransformFilter.h"

namespace ordana {
namespace {

using test::Show;
using test::TransformChain;

constexpr int kDos = CLineTransformFilter::kModeDos;
constexpr int kUnix = CLineTransformFilter::kModeUnix;
constexpr int kMac = CLineTransformFilter::kModeMac;

// The rule, one unit at a time over the whole text: CR LF, a lone LF and a
// lone CR (the last unit included) each become one line end.
std::u16string LineEndsReference(const std::u16string& text, int mode) {
  const std::u16string lineEnd = mode == kUnix ? u"\n" : mode == kMac ? u"\r" : u"\r\n";
  std::u16string result;
  for (std::size_t k = 0; k < text.size(); ++k) {
    const char16_t c = text[k];
    if (c == u'\r') {
      if (k + 1 < text.size() && text[k + 1] == u'\n') ++k;
      result += lineEnd;
    } else if (c == u'\n') {
      result += lineEnd;
    } else {
      result += c;
    }
  }
  return result;
}

struct LineCase {
  const char* what;
  int mode;
  std::u16string input;
  std::u16string output;
};

TEST(LineTransformTest, Table) {
  const LineCase cases[] = {
      {"unix: every kind of line end", kUnix, u"a\r\nb\rc\nd", u"a\nb\nc\nd"},
      {"dos: lone LF", kDos, u"a\nb", u"a\r\nb"},
      {"mac: CR LF", kMac, u"a\r\nb", u"a\rb"},
      {"dos: CR LF stays one line end", kDos, u"a\r\nb", u"a\r\nb"},
      {"unix: LF CR is two line ends", kUnix, u"a\n\rb", u"a\n\nb"},
      {"unix: CR CR LF is two line ends", kUnix, u"a\r\r\nb", u"a\n\nb"},
      {"dos: CR CR LF is two line ends", kDos, u"a\r\r\nb", u"a\r\n\r\nb"},
      {"mac: lone LF", kMac, u"a\nb\n", u"a\rb\r"},
      {"other separators pass", kUnix, u"a\u2028b\u0085c\vd\fe\u2029",
       u"a\u2028b\u0085c\vd\fe\u2029"},
      {"unix: text ending in LF keeps it", kUnix, u"a\n", u"a\n"},
      {"dos: text ending in CR LF keeps it", kDos, u"a\r\n", u"a\r\n"},
      // A classic Mac text ends in CR: that CR is a line end, not lost.
      {"unix: final CR", kUnix, u"a\r", u"a\n"},
      {"dos: final CR", kDos, u"a\r", u"a\r\n"},
      {"mac: final CR", kMac, u"a\r", u"a\r"},
      {"only a CR", kDos, u"\r", u"\r\n"},
      {"empty", kDos, u"", u""},
      {"surrogates pass", kUnix, u"\U0001F600\r\n", u"\U0001F600\n"},
      {"CR before a long run", kUnix, u"\rabcdefghijklmnopqrstuvwxyz0123456789",
       u"\nabcdefghijklmnopqrstuvwxyz0123456789"},
  };
  for (const LineCase& c : cases) {
    TransformChain chain(new CLineTransformFilter(c.mode));
    EXPECT_EQ(Show(chain.RunEverySplit(c.input)), Show(c.output)) << c.what;
    EXPECT_EQ(Show(LineEndsReference(c.input, c.mode)), Show(c.output)) << c.what;
  }
}

TEST(LineTransformTest, CrLfCutBetweenChunksIsOneLineEnd) {
  TransformChain chain(new CLineTransformFilter(kUnix));
  // Cut right between the CR (bytes 2-3) and the LF (bytes 4-5).
  EXPECT_EQ(Show(chain.Run(u"a\r\nb", {4})), Show(u"a\nb"));
  // The same when the LF comes alone in the next chunk.
  EXPECT_EQ(Show(chain.Run(u"a\r\n", {4})), Show(u"a\n"));
}

TEST(LineTransformTest, OddByteStaysPendingAndIsDropped) {
  TransformChain chain(new CLineTransformFilter(kDos));
  EXPECT_EQ(chain.RunBytes(std::string("a\0\n\0x", 5)), std::string("a\0\r\0\n\0", 6));
  EXPECT_EQ(chain.RunBytes(std::string("a\0\r\0x", 5)), std::string("a\0\r\0\n\0", 6));
}

TEST(LineTransformTest, NamesTypeAndModes) {
  CLineTransformFilter filter(kUnix);
  EXPECT_EQ(std::u16string(filter.GetName()), u"Line Transform Filter");
  EXPECT_EQ(filter.GetType(), 40u);
  EXPECT_EQ(filter.category(), 16u);
  EXPECT_EQ(filter.mode(), kUnix);
  EXPECT_EQ(CLineTransformFilter(kMac).mode(), kMac);
  EXPECT_EQ(CLineTransformFilter(kDos).mode(), kDos);
  EXPECT_EQ(CLineTransformFilter(7).mode(), kDos);
  EXPECT_EQ(CLineTransformFilter(-1).mode(), kDos);
}

TEST(LineTransformTest, ResetDropsAHeldCrOfAnAbandonedInput) {
  TransformChain chain(new CLineTransformFilter(kUnix));
  CBuffer input;
  const std::string bytes = test::Utf16(u"a\r");
  EXPECT_TRUE(input.Append(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
  EXPECT_TRUE(chain.chain().Process(input, 0));
  EXPECT_EQ(chain.filter().pending().length(), 2u);  // the CR waits
  chain.chain().Reset();
  EXPECT_TRUE(chain.filter().pending().empty());
  EXPECT_EQ(Show(chain.Run(u"\nb")), Show(u"\nb"));
}

TEST(LineTransformTest, RandomTextAtRandomCutsMatchesTheRule) {
  std::mt19937 rng(4101);
  const std::u16string alphabet = u"\r\n\r\n\r\r\n\n x\u2028\u00e9";
  for (int round = 0; round < 400; ++round) {
    const int mode = static_cast<int>(rng() % 3);
    const std::u16string text = test::RandomText(rng, rng() % 120, alphabet);
    const std::string bytes = test::Utf16(text);
    TransformChain chain(new CLineTransformFilter(mode));
    const std::u16string expected = LineEndsReference(text, mode);
    ASSERT_EQ(Show(chain.Run(text)), Show(expected)) << "mode " << mode;
    const std::vector<std::size_t> splits = test::RandomSplits(rng, bytes.size());
    ASSERT_EQ(Show(test::FromUtf16(chain.RunBytes(bytes, splits))), Show(expected))
        << "mode " << mode << ", " << splits.size() << " cuts";
  }
}

TEST(LineTransformTest, ShiftedAndRepeatedTextMatchesTheRule) {
  // Shifts move the text against the fast path's 8-unit blocks; repeats
  // carry it across the chunk and forwarding sizes.
  const std::u16string sample = u"line one\r\nline two\nthree\rfour\r\n\r\n\u00e9\u20ac\r";
  for (int mode : {kDos, kUnix, kMac}) {
    TransformChain chain(new CLineTransformFilter(mode));
    for (std::size_t shift = 0; shift < 32; ++shift) {
      const std::u16string text = std::u16string(shift, u'x') + sample;
      ASSERT_EQ(Show(chain.Run(text, {2 * shift + 3})), Show(LineEndsReference(text, mode)));
    }
    for (std::size_t repeat : {0, 1, 2, 10, 123, 4567, 70000}) {
      std::u16string text;
      for (std::size_t k = 0; k < repeat; ++k) text += sample;
      const std::string bytes = test::Utf16(text);
      // Chunks of the size the conversion run reads.
      std::vector<std::size_t> splits;
      for (std::size_t at = CBuffer::kCommitSize; at < bytes.size(); at += CBuffer::kCommitSize) {
        splits.push_back(at);
      }
      ASSERT_TRUE(chain.Run(text, splits) == LineEndsReference(text, mode))
          << "mode " << mode << ", repeated " << repeat << " times";
    }
  }
}

// The output of lone LFs in CR LF mode is twice the input. However big the
// batch the filter is handed (up to a whole 4 MiB buffer), nothing may be
// written past the output buffer's reservation; under AddressSanitizer a
// write past it faults.
TEST(LineTransformTest, LoneLineFeedsDoubleWithoutOverflow) {
  const std::uint32_t sizes[] = {CBuffer::kCommitSize + 2, CBuffer::kReservationSize};
  for (std::uint32_t chunk : sizes) {
    TransformChain chain(new CLineTransformFilter(kDos));
    // More than 4 MiB of input in batches of `chunk` bytes.
    const std::size_t units = CBuffer::kReservationSize + 4096;
    const std::string bytes = test::Utf16(std::u16string(units, u'\n'));
    std::vector<std::size_t> splits;
    for (std::size_t at = chunk; at < bytes.size(); at += chunk) splits.push_back(at);
    const std::string output = chain.RunBytes(bytes, splits);
    ASSERT_EQ(output.size(), 4 * units) << chunk;
    EXPECT_TRUE(output == test::Utf16(LineEndsReference(std::u16string(units, u'\n'), kDos)));
    for (std::uint32_t piece : chain.sink().calls) {
      EXPECT_LE(piece, CBuffer::kCommitSize) << "forwarded at the commit size";
    }
  }
}

TEST(LineTransformTest, OutputIsForwardedAtTheCommitSize) {
  TransformChain chain(new CLineTransformFilter(kDos));
  const std::size_t units = 3 * CBuffer::kCommitSize / 4;  // 1.5 MiB of units, 3 MiB out
  chain.Run(std::u16string(units, u'\n'));
  const std::vector<std::uint32_t>& calls = chain.sink().calls;
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0], CBuffer::kCommitSize);
  std::size_t total = 0;
  for (std::uint32_t piece : calls) total += piece;
  EXPECT_EQ(total, 4 * units);
}

// The fast path against a plain loop on random input, at every alignment.
TEST(LineTransformTest, FastPathAgreesWithThePlainLoop) {
  std::mt19937 rng(808);
  for (int round = 0; round < 3000; ++round) {
    const std::size_t count = rng() % 70;
    const std::size_t offset = rng() % 3;  // an odd start moves the loads off alignment
    std::string in(offset + 2 * count, '\0');
    for (std::size_t k = 0; k < count; ++k) {
      char16_t unit = static_cast<char16_t>(rng() & 0xFFFF);
      const unsigned pick = rng() % 40;
      if (pick == 0) unit = u'\r';
      if (pick == 1) unit = u'\n';
      if (pick == 2) unit = 0x0D0A;  // both bytes look like line breaks, the unit is none
      if (pick == 3) unit = 0x0A00;
      in[offset + 2 * k] = static_cast<char>(unit & 0xFF);
      in[offset + 2 * k + 1] = static_cast<char>(unit >> 8);
    }
    std::size_t expected = 0;
    while (expected < count) {
      const char16_t unit =
          static_cast<char16_t>(static_cast<std::uint8_t>(in[offset + 2 * expected]) |
                                (static_cast<std::uint8_t>(in[offset + 2 * expected + 1]) << 8));
      if (unit == u'\r' || unit == u'\n') break;
      ++expected;
    }
    // Canary bytes behind the room the function is given.
    std::string out(2 * count + 16, '\x5A');
    const std::uint32_t got = CopyUntilLineBreak(
        reinterpret_cast<const std::uint8_t*>(in.data() + offset),
        static_cast<std::uint32_t>(count), reinterpret_cast<std::uint8_t*>(&out[0]));
    ASSERT_EQ(got, expected);
    ASSERT_EQ(out.substr(0, 2 * got), in.substr(offset, 2 * got));
    ASSERT_EQ(out.substr(2 * count), std::string(16, '\x5A'));
  }
}

}  // namespace
}  // namespace ordana
