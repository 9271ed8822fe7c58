// The direct single-byte to UTF-8 path against the classic decoder and
// encoder it stands in for: the same bytes, messages (both filters' repairs
// and totals, in the same order) and counts, for every set, both policies,
// with and without a byte order mark, cut every way.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "TestSupport.h"
#include "codecs/SingleByteFilters.h"
#include "codecs/Utf8Filters.h"

namespace ordana {
namespace {

using test::Outcome;

constexpr CharsetId kWindows1252 = 18;

// A decoder, the UTF-8 encoder and a recorder; the decoder's direct path on
// or off.
struct DirectChain {
  CFilterChain chain;
  CSingleByteToUtf16Filter* decoder;
  test::RecordingFilter* sink = new test::RecordingFilter();
  DirectChain(CharsetId charset, const CodecOptions& options, bool direct)
      : decoder(new CSingleByteToUtf16Filter(charset, options)) {
    decoder->UseDirectPath(direct);
    chain.Append(decoder);
    chain.Append(new CUtf16ToUtf8Filter(options));
    chain.Append(sink);
  }
  // The level-2 log holds both filters' messages and their totals.
  Outcome Run(const std::string& input, const std::vector<std::size_t>& splits = {}) {
    return test::RunOnce(chain, *sink, input, splits, decoder);
  }
};

// Text of the set's defined bytes with undefined ones among them: runs of
// ASCII long enough for the vector loop, then anything.
std::string MixedInput(std::mt19937& random, std::size_t size) {
  std::string s;
  while (s.size() < size) {
    if (random() % 3 == 0) {
      s.append(16 + random() % 40, static_cast<char>('a' + random() % 26));
    } else {
      s.push_back(static_cast<char>(random() % 256));
    }
  }
  s.resize(size);
  return s;
}

std::string Describe(CharsetId charset, bool strict, bool bom) {
  return "set " + std::to_string(charset) + (strict ? " strict" : " loose") +
         (bom ? " with BOM" : "");
}

TEST(DirectPathTest, EverySetBothPoliciesRandomSplits) {
  std::mt19937 random(160);
  for (CharsetId charset = 0; charset < static_cast<CharsetId>(kSingleByteCharsetCount);
       ++charset) {
    for (bool strict : {true, false}) {
      const bool bom = charset % 2 == 0;
      CodecOptions options;
      options.strict = strict;
      options.writeBom = bom;
      DirectChain classic(charset, options, false);
      DirectChain direct(charset, options, true);
      for (int k = 0; k < 6; ++k) {
        const std::string input = MixedInput(random, 1 + random() % 400);
        const std::vector<std::size_t> splits = test::RandomSplits(random, input.size());
        const std::string what = Describe(charset, strict, bom);
        test::ExpectSame(classic.Run(input, splits), direct.Run(input, splits), what);
      }
      // The path was taken: otherwise the comparison proves nothing.
      EXPECT_GT(direct.decoder->DirectlyConverted(), 0u) << Describe(charset, strict, bom);
      EXPECT_EQ(classic.decoder->DirectlyConverted(), 0u);
    }
  }
}

TEST(DirectPathTest, EverySplitOfMixedText) {
  std::mt19937 random(1252);
  for (bool strict : {true, false}) {
    CodecOptions options;
    options.strict = strict;
    DirectChain classic(kWindows1252, options, false);
    DirectChain direct(kWindows1252, options, true);
    // 0x81, 0x8D, 0x8F, 0x90 and 0x9D are undefined in Windows-1252.
    const std::string input =
        "Gr\xFC\xDF"
        "e \x80 10, \x93quoted\x94 \x81\x8D" +
        MixedInput(random, 70) +
        "\x9D"
        "caf\xE9";
    test::ExpectSame(classic.Run(input), direct.Run(input), "whole");
    // Where a chunk ends decides, in both, when the encoder speaks: each cut
    // is compared with the classic filters given the same cut.
    for (const std::vector<std::size_t>& splits : test::EverySplit(input.size())) {
      test::ExpectSame(classic.Run(input, splits), direct.Run(input, splits),
                       std::string(strict ? "strict" : "loose") + ", " +
                           std::to_string(splits.size()) + " cuts from " +
                           std::to_string(splits.front()));
    }
  }
}

// The classic decoder passes its output on every 1 MiB of input, and the
// encoder's messages of that part come after the decoder's: undefined bytes
// on both sides of those points under the loose policy (where both filters
// speak) show the order is kept, whole and in the 2 MiB reads of a file.
TEST(DirectPathTest, MessageOrderAcrossStepsOfLargeInput) {
  const std::size_t mib = 1024 * 1024;
  std::string input(3 * mib + 100, 'x');
  for (std::size_t at : {std::size_t{0}, std::size_t{5}, mib - 2, mib - 1, mib, mib + 1,
                         2 * mib - 1, 2 * mib, 2 * mib + 7, 3 * mib + 99}) {
    input[at] = '\x81';
  }
  for (std::size_t at = 1000; at < input.size(); at += 4099) input[at] = '\xE9';
  for (bool strict : {true, false}) {
    CodecOptions options;
    options.strict = strict;
    DirectChain classic(kWindows1252, options, false);
    DirectChain direct(kWindows1252, options, true);
    for (const std::vector<std::size_t>& splits :
         {std::vector<std::size_t>{}, std::vector<std::size_t>{2 * mib},
          std::vector<std::size_t>{mib / 2, mib + 3, 3 * mib}}) {
      const Outcome expected = classic.Run(input, splits);
      const Outcome got = direct.Run(input, splits);
      EXPECT_EQ(got.output, expected.output);
      EXPECT_EQ(got.narrowLog(), expected.narrowLog()) << (strict ? "strict" : "loose");
      EXPECT_EQ(got.errors, expected.errors);
    }
    EXPECT_GT(direct.decoder->DirectlyConverted(), 3 * mib);
  }
}

// The path stands aside where it cannot stand for the encoder: with a
// transform between the two, and with the filter trace on.
TEST(DirectPathTest, OnlyDecoderStraightIntoTheEncoder) {
  CodecOptions options;
  {
    CFilterChain chain;
    auto* decoder = new CSingleByteToUtf16Filter(kWindows1252, options);
    chain.Append(decoder);
    chain.Append(new CNulFilter());
    chain.Append(new CUtf16ToUtf8Filter(options));
    auto* sink = new test::RecordingFilter();
    chain.Append(sink);
    EXPECT_EQ(test::ConvertThrough(chain, *sink, "caf\xE9"),
              "\xEF\xBB\xBF"
              "caf\xC3\xA9");
    EXPECT_EQ(decoder->DirectlyConverted(), 0u);
  }
  {
    DirectChain direct(kWindows1252, options, true);
    test::LogCapture trace(5);
    EXPECT_EQ(test::ConvertThrough(direct.chain, *direct.sink, "caf\xE9"),
              "\xEF\xBB\xBF"
              "caf\xC3\xA9");
    EXPECT_EQ(direct.decoder->DirectlyConverted(), 0u);
  }
}

}  // namespace
}  // namespace ordana
