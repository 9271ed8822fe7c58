#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "CodecTestSupport.h"
#include "TestSupport.h"
#include "app/Settings.h"
#include "codecs/Utf32Filters.h"

namespace ordana {
namespace {

using test::B;
using test::ConvertEveryWay;
using test::Outcome;
using test::PutUtf16;
using test::RandomSplits;
using test::RecordingFilter;
using test::RunOnce;
using test::SingleCodecChain;
using test::U16;

void PutUtf32(std::string& s, std::uint32_t v, bool big) {
  for (int k = 0; k < 4; ++k) {
    const int shift = big ? 24 - 8 * k : 8 * k;
    s += static_cast<char>(v >> shift & 0xFF);
  }
}

std::string U32(std::initializer_list<std::uint32_t> values, bool big) {
  std::string s;
  for (std::uint32_t v : values) PutUtf32(s, v, big);
  return s;
}

std::uint32_t ReadUnit(const std::string& s, std::size_t at, std::size_t size, bool big) {
  std::uint32_t v = 0;
  for (std::size_t k = 0; k < size; ++k) {
    const std::uint32_t byte = static_cast<unsigned char>(s[at + k]);
    v |= byte << (big ? 8 * (size - 1 - k) : 8 * k);
  }
  return v;
}

// What the decoder must make of a whole file, written as plainly as
// possible, and how many errors it counts.
std::string ModelDecode(const std::string& in, bool big, bool strict = true,
                        std::uint32_t* errors = nullptr) {
  std::string out;
  std::uint32_t count = 0;
  std::size_t at = 0;
  if (in.size() >= 4 && ReadUnit(in, 0, 4, big) == 0xFEFF) at = 4;
  for (; at + 4 <= in.size(); at += 4) {
    const std::uint32_t v = ReadUnit(in, at, 4, big);
    const bool surrogate = v >= 0xD800 && v <= 0xDFFF;
    if (v > 0x10FFFF || (surrogate && strict)) {
      PutUtf16(out, 0xFFFD);
      ++count;
    } else if (v < 0x10000) {
      PutUtf16(out, v);
    } else {
      PutUtf16(out, 0xD800 + ((v - 0x10000) >> 10));
      PutUtf16(out, 0xDC00 + ((v - 0x10000) & 0x3FF));
    }
  }
  if (at < in.size()) {  // 1 to 3 bytes: one replacement
    PutUtf16(out, 0xFFFD);
    ++count;
  }
  if (errors) *errors = count;
  return out;
}

// What the encoder must make of a whole file.
std::string ModelEncode(const std::string& in, bool big, bool bom, bool strict = true,
                        std::uint32_t* errors = nullptr) {
  std::string out;
  std::uint32_t count = 0;
  if (bom && !in.empty()) PutUtf32(out, 0xFEFF, big);
  const std::size_t n = in.size() / 2;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t u = ReadUnit(in, 2 * i, 2, false);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
      const std::uint32_t w = ReadUnit(in, 2 * i + 2, 2, false);
      if (w >= 0xDC00 && w <= 0xDFFF) {
        PutUtf32(out, 0x10000 + ((u - 0xD800) << 10) + (w - 0xDC00), big);
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF && strict) {
      PutUtf32(out, 0xFFFD, big);  // unpaired
      ++count;
      continue;
    }
    PutUtf32(out, u, big);
  }
  if (in.size() % 2 != 0) {  // half a unit
    PutUtf32(out, 0xFFFD, big);
    ++count;
  }
  if (errors) *errors = count;
  return out;
}

CodecOptions WithMark(bool bom) {
  CodecOptions options;
  options.writeBom = bom;
  return options;
}

class Utf32Test : public ::testing::Test {
 protected:
  void TearDown() override { ResetSettings(); }
};

// ---- Decoder ------------------------------------------------------------------

TEST_F(Utf32Test, DecoderCases) {
  struct Case {
    const char* what;
    bool big;
    std::string input, expected;
    std::uint32_t errors;
    bool strict;
  };
  const Case cases[] = {
      {"LE mark removed", false, B({0xFF, 0xFE, 0, 0, 0x41, 0, 0, 0}), U16({0x41}), 0, true},
      {"BE mark removed", true, B({0, 0, 0xFE, 0xFF, 0, 0, 0, 0x41}), U16({0x41}), 0, true},
      {"mark later in the file is text", false, B({0x41, 0, 0, 0, 0xFF, 0xFE, 0, 0}),
       U16({0x41, 0xFEFF}), 0, true},
      {"only the first mark goes", false, B({0xFF, 0xFE, 0, 0, 0xFF, 0xFE, 0, 0}), U16({0xFEFF}), 0,
       true},
      {"the mark alone gives nothing", false, B({0xFF, 0xFE, 0, 0}), "", 0, true},
      {"BE supplementary character", true, B({0, 0x01, 0xF6, 0}), U16({0xD83D, 0xDE00}), 0, true},
      {"LE supplementary character", false, B({0, 0xF6, 0x01, 0}), U16({0xD83D, 0xDE00}), 0, true},
      {"first and last supplementary", false, U32({0x10000, 0x10FFFF}, false),
       U16({0xD800, 0xDC00, 0xDBFF, 0xDFFF}), 0, true},
      {"beyond U+10FFFF is U+FFFD and an error", false, B({0, 0, 0x11, 0}), U16({0xFFFD}), 1, true},
      {"beyond U+10FFFF is U+FFFD and an error (BE)", true, B({0, 0x11, 0, 0}), U16({0xFFFD}), 1,
       true},
      {"beyond U+10FFFF is an error under the loose policy too", false, B({0, 0, 0x11, 0}),
       U16({0xFFFD}), 1, false},
      {"largest value", false, U32({0xFFFFFFFF}, false), U16({0xFFFD}), 1, true},
      {"surrogate values are errors", false, U32({0xD800, 0x41, 0xDFFF}, false),
       U16({0xFFFD, 0x41, 0xFFFD}), 2, true},
      {"surrogate values pass under the loose policy", false, U32({0xD800, 0xDFFF}, false),
       U16({0xD800, 0xDFFF}), 0, false},
      {"BMP edges", true, U32({0, 0xFFFF, 0xFFFE}, true), U16({0, 0xFFFF, 0xFFFE}), 0, true},
      {"the other order's mark is an out-of-range value (LE)", false, B({0, 0, 0xFE, 0xFF}),
       U16({0xFFFD}), 1, true},
      {"the other order's mark is an out-of-range value (BE)", true, B({0xFF, 0xFE, 0, 0}),
       U16({0xFFFD}), 1, true},
      {"three bytes are one replacement", false, B({0x41, 0, 0}), U16({0xFFFD}), 1, true},
      {"a trailing partial unit is one replacement", false, B({0x41, 0, 0, 0, 0x42, 0, 0}),
       U16({0x41, 0xFFFD}), 1, false},
      {"one trailing byte", true, B({0, 0, 0, 0x41, 0}), U16({0x41, 0xFFFD}), 1, true},
      {"empty", false, "", "", 0, true},
  };
  for (const Case& c : cases) {
    for (bool fast : {true, false}) {
      auto* decoder = new CUtf32ToUtf16Filter(c.big, CodecOptions{c.strict});
      decoder->UseFastPath(fast);
      SingleCodecChain run(decoder);
      const Outcome outcome = run.ConvertEveryWay(c.input, c.what);
      EXPECT_EQ(outcome.output, c.expected) << c.what;
      EXPECT_EQ(outcome.errors, c.errors) << c.what;
      // A message for every repair, none without.
      EXPECT_EQ(outcome.log.empty(), c.errors == 0 && c.strict) << c.what;
      std::uint32_t modelErrors = 0;
      EXPECT_EQ(ModelDecode(c.input, c.big, c.strict, &modelErrors), c.expected) << c.what;
      EXPECT_EQ(modelErrors, c.errors) << c.what;
    }
  }
}

TEST_F(Utf32Test, DecoderMessagesNameWhatAndWhere) {
  struct Case {
    std::string input;
    bool strict;
    std::u16string log;
  };
  const Case cases[] = {
      {U32({0x41, 0x110000}, false), true,
       u"UTF-32: The value 00110000 at 4 is beyond U+10FFFF and was replaced with U+FFFD\r\n"},
      {U32({0xDC00}, false), true,
       u"UTF-32 (STRICT): Invalid surrogate U+dc00 at 0 replaced with U+FFFD\r\n"},
      {U32({0x41, 0xD800}, false), false,
       u"UTF-32 (LOOSE): Invalid surrogate U+d800 at 4 passed on unchanged\r\n"},
      {U32({0x41}, false) + B({1, 2}), true,
       u"UTF-32: The last 2 bytes at 4 are no whole code unit and were replaced with U+FFFD\r\n"},
  };
  for (const Case& c : cases) {
    SingleCodecChain run(new CUtf32ToUtf16Filter(false, CodecOptions{c.strict}));
    EXPECT_EQ(run.ConvertEveryWay(c.input, "messages").log, c.log);
  }
}

TEST_F(Utf32Test, DecoderWaitsForTheRestOfAUnit) {
  SingleCodecChain run(new CUtf32ToUtf16Filter(false, CodecOptions{}));
  CBuffer chunk;
  EXPECT_TRUE(chunk.Append("\x00\xF6\x01", 3));
  EXPECT_TRUE(run.chain.Process(chunk, 0));
  EXPECT_EQ(run.sink->received, "");
  EXPECT_EQ(run.codec->pending().length(), 3u);
  EXPECT_TRUE(chunk.Append("\x00", 1));
  EXPECT_TRUE(run.chain.Process(chunk, 3));
  EXPECT_EQ(run.sink->received, U16({0xD83D, 0xDE00}));
  EXPECT_EQ(run.codec->pending().length(), 0u);
}

TEST_F(Utf32Test, DecoderChecksTheMarkAgainAfterReset) {
  SingleCodecChain run(new CUtf32ToUtf16Filter(true, CodecOptions{}));
  const std::string input = B({0, 0, 0xFE, 0xFF, 0, 0, 0, 0x42});
  EXPECT_EQ(run.Run(input).output, U16({0x42}));
  EXPECT_EQ(run.Run(input).output, U16({0x42}));
}

// A random code point of the kind `pick` names; runs of the first two kinds
// are what the fast path takes.
std::uint32_t RandomValue(std::mt19937& random, std::uint32_t pick) {
  switch (pick) {
    case 0:
      return random() % 0x80;
    case 1:
      return random() % 0xD800;
    case 2:
      return 0x10000 + random() % 0x100000;
    case 3:
      return 0xD800 + random() % 0x800;
    case 4:
      return 0xE000 + random() % 0x2000;
    default:
      return static_cast<std::uint32_t>(random());
  }
}

TEST_F(Utf32Test, DecoderRandomInputAnySplitAndBothPaths) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 300; ++round) {
    const bool big = round % 2 != 0;
    const CodecOptions options{round % 8 < 4};
    SingleCodecChain fast(new CUtf32ToUtf16Filter(big, options));
    auto* plainDecoder = new CUtf32ToUtf16Filter(big, options);
    plainDecoder->UseFastPath(false);
    SingleCodecChain plain(plainDecoder);
    std::string input;
    if (round % 3 == 0) PutUtf32(input, 0xFEFF, big);
    const std::size_t runs = std::uniform_int_distribution<std::size_t>(0, 12)(random);
    for (std::size_t r = 0; r < runs; ++r) {
      // A run of one kind of value, then a few of any kind.
      const std::uint32_t kind = random() % 6;
      const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 40)(random);
      for (std::size_t k = 0; k < length; ++k) PutUtf32(input, RandomValue(random, kind), big);
      for (std::size_t k = random() % 3; k > 0; --k) {
        PutUtf32(input, RandomValue(random, random() % 6), big);
      }
    }
    input.append(random() % 4, '\x7F');  // a partial unit at the end
    const std::string what = "round " + std::to_string(round);
    const Outcome whole = fast.Run(input);
    std::uint32_t errors = 0;
    ASSERT_EQ(whole.output, ModelDecode(input, big, options.strict, &errors)) << what;
    EXPECT_EQ(whole.errors, errors) << what;
    ExpectSame(whole, fast.Run(input, RandomSplits(random, input.size(), 12)), what + " split");
    ExpectSame(whole, plain.Run(input), what + " plain");
    ExpectSame(whole, plain.Run(input, RandomSplits(random, input.size(), 12)),
               what + " plain split");
  }
}

// ---- Encoder ------------------------------------------------------------------

TEST_F(Utf32Test, EncoderCases) {
  struct Case {
    const char* what;
    bool big, bom;
    std::string input, expected;
    std::uint32_t errors = 0;
    bool strict = true;
  };
  const Case cases[] = {
      {"U+0041", false, false, U16({0x41}), B({0x41, 0, 0, 0})},
      {"U+0041 (BE)", true, false, U16({0x41}), B({0, 0, 0, 0x41})},
      {"a pair is combined", false, false, U16({0xD83D, 0xDE00}), B({0x00, 0xF6, 0x01, 0x00})},
      {"a pair is combined (BE)", true, false, U16({0xD83D, 0xDE00}), B({0x00, 0x01, 0xF6, 0x00})},
      {"last pair", false, false, U16({0xDBFF, 0xDFFF}), U32({0x10FFFF}, false)},
      {"a lone low surrogate is an error", false, false, U16({0xDC00}), U32({0xFFFD}, false), 1},
      {"a lone low surrogate passes under the loose policy", false, false, U16({0xDC00}),
       B({0x00, 0xDC, 0, 0}), 0, false},
      {"a lone high surrogate before text is an error", false, false, U16({0xD800, 0x41}),
       U32({0xFFFD, 0x41}, false), 1},
      {"a lone high surrogate before text passes under the loose policy", false, false,
       U16({0xD800, 0x41}), B({0x00, 0xD8, 0, 0, 0x41, 0, 0, 0}), 0, false},
      {"two highs, then a low", false, false, U16({0xD800, 0xD801, 0xDC00}),
       U32({0xD800, 0x10400}, false), 0, false},
      {"a low before a high", false, false, U16({0xDC00, 0xD800, 0x41}),
       U32({0xFFFD, 0xFFFD, 0x41}, false), 2},
      {"a high surrogate at the end is unpaired", false, false, U16({0x41, 0xD800}),
       U32({0x41, 0xFFFD}, false), 1},
      {"a high surrogate at the end passes under the loose policy", true, false,
       U16({0x41, 0xD800}), U32({0x41, 0xD800}, true), 0, false},
      {"an odd last byte is half a unit", false, false, U16({0x41}) + B({0x42}),
       U32({0x41, 0xFFFD}, false), 1},
      {"U+FEFF in the text is kept", false, false, U16({0xFEFF, 0x41}), U32({0xFEFF, 0x41}, false)},
      {"mark written (LE)", false, true, U16({0x41}), B({0xFF, 0xFE, 0, 0, 0x41, 0, 0, 0})},
      {"mark written (BE)", true, true, U16({0x41}), B({0, 0, 0xFE, 0xFF, 0, 0, 0, 0x41})},
      {"mark before a kept U+FEFF", false, true, U16({0xFEFF}),
       B({0xFF, 0xFE, 0, 0, 0xFF, 0xFE, 0, 0})},
      {"a single byte brings the mark and a replacement", false, true, B({0x41}),
       B({0xFF, 0xFE, 0, 0, 0xFD, 0xFF, 0, 0}), 1},
      {"empty input, no mark", false, true, "", ""},
      {"empty input, no mark (BE)", true, true, "", ""},
  };
  for (const Case& c : cases) {
    for (bool fast : {true, false}) {
      CodecOptions options = WithMark(c.bom);
      options.strict = c.strict;
      auto* encoder = new CUtf16ToUtf32Filter(c.big, options);
      encoder->UseFastPath(fast);
      SingleCodecChain run(encoder);
      const Outcome outcome = run.ConvertEveryWay(c.input, c.what);
      EXPECT_EQ(outcome.output, c.expected) << c.what;
      EXPECT_EQ(outcome.errors, c.errors) << c.what;
      std::uint32_t modelErrors = 0;
      EXPECT_EQ(ModelEncode(c.input, c.big, c.bom, c.strict, &modelErrors), c.expected) << c.what;
      EXPECT_EQ(modelErrors, c.errors) << c.what;
    }
  }
}

TEST_F(Utf32Test, EncoderMessagesNameWhatAndWhere) {
  struct Case {
    std::string input;
    bool strict;
    std::u16string log;
  };
  const Case cases[] = {
      {U16({0x41, 0xDC00}), true,
       u"UTF-32 (STRICT): Invalid surrogate U+dc00 at 2 replaced with U+FFFD\r\n"},
      {U16({0x41, 0xD800}), false,
       u"UTF-32 (LOOSE): Invalid surrogate U+d800 at 2 passed on unchanged\r\n"},
      {U16({0x41}) + B({0x42}), true,
       u"UTF-32: The last byte 42 at 2 is half a UTF-16 code unit and was replaced\r\n"},
  };
  for (const Case& c : cases) {
    CodecOptions options = WithMark(false);
    options.strict = c.strict;
    SingleCodecChain run(new CUtf16ToUtf32Filter(false, options));
    EXPECT_EQ(run.ConvertEveryWay(c.input, "messages").log, c.log);
  }
}

TEST_F(Utf32Test, EncoderRandomInputAnySplitAndBothPaths) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    const bool big = round % 2 != 0;
    const bool bom = round % 4 < 2;
    CodecOptions options = WithMark(bom);
    options.strict = round % 8 < 4;
    SingleCodecChain fast(new CUtf16ToUtf32Filter(big, options));
    auto* plainEncoder = new CUtf16ToUtf32Filter(big, options);
    plainEncoder->UseFastPath(false);
    SingleCodecChain plain(plainEncoder);
    std::string input;
    const std::size_t runs = std::uniform_int_distribution<std::size_t>(0, 12)(random);
    for (std::size_t r = 0; r < runs; ++r) {
      // A run of units without surrogates, then a few surrogates, paired or
      // not.
      const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 40)(random);
      const std::uint32_t kinds[] = {0, 1, 4};  // no surrogates
      for (std::size_t k = 0; k < length; ++k)
        PutUtf16(input, RandomValue(random, kinds[random() % 3]));
      for (std::size_t k = random() % 4; k > 0; --k) {
        if (random() % 2) {
          const std::uint32_t v = RandomValue(random, 2) - 0x10000;
          PutUtf16(input, 0xD800 + (v >> 10));
          PutUtf16(input, 0xDC00 + (v & 0x3FF));
        } else {
          PutUtf16(input, 0xD800 + random() % 0x800);
        }
      }
    }
    if (random() % 2) input += '\x41';
    const std::string what = "round " + std::to_string(round);
    const Outcome whole = fast.Run(input);
    std::uint32_t errors = 0;
    ASSERT_EQ(whole.output, ModelEncode(input, big, bom, options.strict, &errors)) << what;
    EXPECT_EQ(whole.errors, errors) << what;
    ExpectSame(whole, fast.Run(input, RandomSplits(random, input.size(), 12)), what + " split");
    ExpectSame(whole, plain.Run(input), what + " plain");
    ExpectSame(whole, plain.Run(input, RandomSplits(random, input.size(), 12)),
               what + " plain split");
  }
}

TEST_F(Utf32Test, RoundTripThroughBothDirections) {
  std::mt19937 random(99);
  for (int round = 0; round < 40; ++round) {
    const bool inBig = round % 2 != 0, outBig = round % 4 < 2;
    CFilterChain chain;
    auto* decoder = new CUtf32ToUtf16Filter(inBig, CodecOptions{});
    chain.Append(decoder);
    chain.Append(new CUtf16ToUtf32Filter(outBig, WithMark(false)));
    auto* sink = new RecordingFilter();
    chain.Append(sink);
    std::string input, expected;
    for (int k = 0; k < 500; ++k) {
      // Scalar values only: those come back unchanged.
      std::uint32_t v = random() % 0x110000;
      if (v >= 0xD800 && v <= 0xDFFF) v = 0x20;
      if (k == 0 && v == 0xFEFF) v = 0x20;
      PutUtf32(input, v, inBig);
      PutUtf32(expected, v, outBig);
    }
    EXPECT_EQ(RunOnce(chain, *sink, input, RandomSplits(random, input.size(), 12)).output,
              expected);
  }
}

TEST_F(Utf32Test, EncoderTakesTheMarkChoiceWhenBuiltAndRestoresItOnReset) {
  CUtf16ToUtf32Filter quiet(false, WithMark(false));
  CUtf16ToUtf32Filter marked(true, WithMark(true));
  GetSettings().writeBom = false;  // the process settings are not the codec's business
  EXPECT_EQ(quiet.output().length(), 0u);
  ASSERT_EQ(marked.output().length(), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(marked.output().base()), 4),
            B({0, 0, 0xFE, 0xFF}));
  marked.Reset();
  EXPECT_EQ(marked.output().length(), 4u);
  quiet.Reset();
  EXPECT_EQ(quiet.output().length(), 0u);
}

// ---- Large inputs ---------------------------------------------------------------

std::uint32_t MaxCall(const RecordingFilter& sink) {
  std::uint32_t most = 0;
  for (std::uint32_t size : sink.calls) most = std::max(most, size);
  return most;
}

TEST_F(Utf32Test, LargeInputThroughTheEncoderCrossesTheForwardingSize) {
  // 3 MiB of UTF-16 becomes about 6 MiB of UTF-32: the output has to be
  // passed on several times within one step. Stretches of 1000 units
  // alternate between plain text and text with surrogate pairs.
  std::string input;
  for (std::uint32_t k = 0; input.size() < 3u * 1024 * 1024; ++k) {
    if (k / 1000 % 2 == 1 && k % 5 == 4) {
      PutUtf16(input, 0xD800 + k % 0x400);
      PutUtf16(input, 0xDC00 + k * 7 % 0x400);
    } else {
      PutUtf16(input, 0x20 + k % 0xD000);
    }
  }
  for (bool big : {false, true}) {
    for (bool fast : {true, false}) {
      auto* encoder = new CUtf16ToUtf32Filter(big, WithMark(true));
      encoder->UseFastPath(fast);
      SingleCodecChain run(encoder);
      const std::string expected = ModelEncode(input, big, true);
      ASSERT_GT(expected.size(), 2 * CBuffer::kCommitSize);
      EXPECT_TRUE(run.Run(input).output == expected) << big << fast;
      EXPECT_LE(MaxCall(*run.sink), CBuffer::kCommitSize);
      // As the conversion run feeds it: 2 MiB chunks, and odd cuts.
      EXPECT_TRUE(run.Run(input, {CBuffer::kCommitSize}).output == expected) << big << fast;
      EXPECT_TRUE(run.Run(input, {CBuffer::kCommitSize - 1, CBuffer::kCommitSize + 1}).output ==
                  expected)
          << big << fast;
    }
  }
}

TEST_F(Utf32Test, LargeInputThroughTheDecoderComesOutWhole) {
  // Just under 4 MiB, so that it also fits one chunk; stretches of 1000
  // values alternate between the Basic Multilingual Plane and beyond.
  std::vector<std::uint32_t> values;
  for (std::uint32_t k = 0; values.size() < (CBuffer::kReservationSize - 8) / 4; ++k) {
    values.push_back(k / 1000 % 2 == 1 ? 0x10000 + k % 0x100000 : k % 0xD000);
  }
  for (bool big : {false, true}) {
    for (bool fast : {true, false}) {
      std::string input;
      for (std::uint32_t v : values) PutUtf32(input, v, big);
      auto* decoder = new CUtf32ToUtf16Filter(big, CodecOptions{});
      decoder->UseFastPath(fast);
      SingleCodecChain run(decoder);
      const std::string expected = ModelDecode(input, big);
      ASSERT_GT(expected.size(), CBuffer::kCommitSize);
      EXPECT_TRUE(run.Run(input).output == expected) << big << fast;
      EXPECT_TRUE(run.Run(input, {CBuffer::kCommitSize - 2, CBuffer::kCommitSize + 4097}).output ==
                  expected)
          << big << fast;
      EXPECT_LE(MaxCall(*run.sink), CBuffer::kReservationSize);
    }
  }
}

TEST_F(Utf32Test, DecoderPassesItsOutputOnAtTheCommitSize) {
  // One chunk of 4 MiB: 1 MiB of characters beyond the Basic Multilingual
  // Plane (4 bytes out for 4 in), then 3 MiB of characters within it (2 out
  // for 4 in). The output reaches the commit size inside the second part
  // and has to be passed on exactly there.
  std::string input;
  for (std::uint32_t k = 0; input.size() < CBuffer::kReservationSize / 4; ++k) {
    PutUtf32(input, 0x10000 + k % 0x100000, false);
  }
  for (std::uint32_t k = 0; input.size() < CBuffer::kReservationSize; ++k) {
    PutUtf32(input, 0x20 + k % 0xD000, false);
  }
  for (bool fast : {true, false}) {
    auto* decoder = new CUtf32ToUtf16Filter(false, CodecOptions{});
    decoder->UseFastPath(fast);
    SingleCodecChain run(decoder);
    EXPECT_TRUE(run.Run(input).output == ModelDecode(input, false)) << fast;
    EXPECT_EQ(run.sink->calls,
              (std::vector<std::uint32_t>{CBuffer::kCommitSize, CBuffer::kCommitSize / 4}))
        << fast;
  }
}

// ---- Identity -----------------------------------------------------------------

TEST(Utf32FilterIdentityTest, NamesTypesCategoriesAndCharsets) {
  CUtf32ToUtf16Filter inLittle(false, CodecOptions{}), inBig(true, CodecOptions{});
  CUtf16ToUtf32Filter outLittle(false, CodecOptions{}), outBig(true, CodecOptions{});
  EXPECT_EQ(std::u16string(inLittle.GetName()), u"UTF-32 to UTF-16 character conversion filter");
  EXPECT_EQ(std::u16string(outBig.GetName()), u"UTF-16 to UTF-32 conversion filter");
  EXPECT_EQ(inBig.GetType(), 16u);
  EXPECT_EQ(outLittle.GetType(), 16u);
  EXPECT_EQ(inLittle.category(), 2u);
  EXPECT_EQ(outBig.category(), 4u);
  EXPECT_EQ(inLittle.GetCharset(), 103u);
  EXPECT_EQ(inBig.GetCharset(), 104u);
  EXPECT_EQ(outLittle.GetCharset(), 103u);
  EXPECT_EQ(outBig.GetCharset(), 104u);
  EXPECT_TRUE(outLittle.Finish());
  EXPECT_TRUE(inLittle.Finish());
}

}  // namespace
}  // namespace ordana
