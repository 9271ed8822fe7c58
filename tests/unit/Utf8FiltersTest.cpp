#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/Settings.h"
#include "codecs/Utf8Filters.h"

namespace ordana {
namespace {

using test::B;
using test::RecordingFilter;
using test::U16;

test::Outcome Decode(const std::string& input, bool strict) {
  CFilterChain chain;
  chain.Append(new CUtf8ToUtf16Filter(CodecOptions{strict}));
  auto* sink = new RecordingFilter();
  chain.Append(sink);
  return test::ConvertEveryWay(chain, *sink, input, "");
}

test::Outcome Encode(const std::string& input, bool strict, bool bom = false) {
  CFilterChain chain;
  chain.Append(new CUtf16ToUtf8Filter(CodecOptions{strict, bom}));
  auto* sink = new RecordingFilter();
  chain.Append(sink);
  return test::ConvertEveryWay(chain, *sink, input, "");
}

const char* const kNoDecodingErrors = "UTF-8: Decoding errors: 0\r\n";

struct DecodeCase {
  const char* what;
  std::string input;
  bool strict;
  std::string output;
  std::string log;
};

// The message of one replacement whose bad sequence ends at `at`.
std::string Replaced(int at) {
  return "UTF-8 (STRICT): Malformed byte sequence at " + std::to_string(at) +
         " were replaced with replacement character fffd\r\n";
}

std::string Errors(int count) {
  return "UTF-8: Decoding errors: " + std::to_string(count) + "\r\n";
}

TEST(Utf8DecoderTest, Table) {
  const DecodeCase cases[] = {
      {"ascii and two bytes", B({0x41, 0xC3, 0xA9}), true, U16({0x41, 0xE9}), kNoDecodingErrors},
      {"four bytes", B({0xF0, 0x9F, 0x98, 0x80}), true, U16({0xD83D, 0xDE00}), kNoDecodingErrors},
      {"edges of every length",
       B({0x7F, 0xC2, 0x80, 0xDF, 0xBF, 0xE0, 0xA0, 0x80, 0xED, 0x9F, 0xBF, 0xEE, 0x80,
          0x80, 0xEF, 0xBF, 0xBD, 0xF0, 0x90, 0x80, 0x80, 0xF4, 0x8F, 0xBF, 0xBF}),
       true,
       U16({0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000, 0xFFFD, 0xD800, 0xDC00, 0xDBFF, 0xDFFF}),
       kNoDecodingErrors},
      // An encoded surrogate: ED cannot be followed by A0, so each byte is
      // a maximal subpart of its own.
      {"surrogate strict", B({0xED, 0xA0, 0x80}), true, U16({0xFFFD, 0xFFFD, 0xFFFD}),
       "UTF-8: Malformed 3 Byte sequence ed a0 80\r\n" + Replaced(0) + Replaced(1) + Replaced(2) +
           Errors(3)},
      {"surrogate loose", B({0xED, 0xA0, 0x80}), false, U16({0xD800}),
       std::string("UTF-8 (LOOSE): Malformed surrogate U+d800 detected at 2. Should be encoded as "
                   "F0 XX XX XX not as E0 XX XX\r\n") +
           kNoDecodingErrors},
      {"above U+10FFFF", B({0xF4, 0x90, 0x80, 0x80}), false, U16({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}),
       "UTF-8: Malformed 4 Byte sequence f4 90 80 80\r\n" + Replaced(0) + Replaced(1) +
           Replaced(2) + Replaced(3) + Errors(4)},
      {"F5 starts nothing", B({0xF5, 0x80, 0x41}), true, U16({0xFFFD, 0xFFFD, 0x41}),
       Replaced(0) + Replaced(1) + Errors(2)},
      {"U+FFFE", B({0x41, 0xEF, 0xBF, 0xBE}), true, U16({0x41, 0xFFFD}), Replaced(3) + Errors(1)},
      {"U+FFFF loose", B({0xEF, 0xBF, 0xBF}), false, U16({0xFFFD}), Replaced(2) + Errors(1)},
      {"missing continuation", B({0xC3, 0x41}), true, U16({0xFFFD, 0x41}),
       "UTF-8: Malformed 2 Byte sequence c3 41\r\n" + Replaced(0) + Errors(1)},
      {"missing continuation, all bytes shown", B({0x20, 0xF0, 0x9F, 0x41, 0x42}), false,
       U16({0x20, 0xFFFD, 0x41, 0x42}),
       "UTF-8: Malformed 4 Byte sequence f0 9f 41 42\r\n" + Replaced(2) + Errors(1)},
      {"stray continuation byte", B({0x41, 0x80, 0x42}), true, U16({0x41, 0xFFFD, 0x42}),
       Replaced(1) + Errors(1)},
      {"FE and FF", B({0xFE, 0xFF}), true, U16({0xFFFD, 0xFFFD}),
       Replaced(0) + Replaced(1) + Errors(2)},
      {"overlong NUL", B({0xC0, 0x80}), true, U16({0xFFFD, 0xFFFD}),
       Replaced(0) + Replaced(1) + Errors(2)},
      {"overlong slash", B({0xC0, 0xAF}), false, U16({0xFFFD, 0xFFFD}),
       Replaced(0) + Replaced(1) + Errors(2)},
      {"overlong A", B({0xE0, 0x81, 0x81}), true, U16({0xFFFD, 0xFFFD, 0xFFFD}),
       "UTF-8: Malformed 3 Byte sequence e0 81 81\r\n" + Replaced(0) + Replaced(1) + Replaced(2) +
           Errors(3)},
      {"overlong four bytes", B({0xF0, 0x8F, 0xBF, 0xBF}), true,
       U16({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}),
       "UTF-8: Malformed 4 Byte sequence f0 8f bf bf\r\n" + Replaced(0) + Replaced(1) +
           Replaced(2) + Replaced(3) + Errors(4)},
      {"five bytes", B({0xF8, 0x80, 0x80, 0x80, 0x80}), true,
       U16({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}),
       Replaced(0) + Replaced(1) + Replaced(2) + Replaced(3) + Replaced(4) + Errors(5)},
      {"a lead cannot continue a sequence", B({0x41, 0xC3, 0xC3, 0xA9, 0x42}), true,
       U16({0x41, 0xFFFD, 0xE9, 0x42}),
       "UTF-8: Malformed 2 Byte sequence c3 c3\r\n" + Replaced(1) + Errors(1)},
      {"a cut sequence before a whole one", B({0xE2, 0x82, 0xE2, 0x82, 0xAC}), true,
       U16({0xFFFD, 0x20AC}),
       "UTF-8: Malformed 3 Byte sequence e2 82 e2\r\n" + Replaced(1) + Errors(1)},
      {"mark at the start is dropped", B({0xEF, 0xBB, 0xBF, 0x41}), true, U16({0x41}),
       kNoDecodingErrors},
      {"mark alone", B({0xEF, 0xBB, 0xBF}), true, "", kNoDecodingErrors},
      {"mark later is a character", B({0x41, 0xEF, 0xBB, 0xBF}), true, U16({0x41, 0xFEFF}),
       kNoDecodingErrors},
      {"mark after a short start is a character", B({0x41, 0x42, 0xEF, 0xBB, 0xBF}), true,
       U16({0x41, 0x42, 0xFEFF}), kNoDecodingErrors},
      // The end of the input inside a sequence: what was there is one
      // maximal subpart.
      {"truncated sequence at the end", B({0x41, 0xE2, 0x82}), true, U16({0x41, 0xFFFD}),
       "UTF-8: The input ends inside a 3 byte sequence that starts at 1\r\n" + Replaced(2) +
           Errors(1)},
      {"a lone lead at the end", B({0x41, 0xC3}), false, U16({0x41, 0xFFFD}),
       "UTF-8: The input ends inside a 2 byte sequence that starts at 1\r\n" + Replaced(1) +
           Errors(1)},
      {"Latin-1 e acute before the last newline", B({0x63, 0x61, 0x66, 0xE9, 0x0A}), true,
       U16({0x63, 0x61, 0x66, 0xFFFD, 0x0A}), Replaced(3) + Errors(1)},
      {"E2 41 at the end keeps the A", B({0xE2, 0x41}), true, U16({0xFFFD, 0x41}),
       Replaced(0) + Errors(1)},
      {"E2 41 with one more byte", B({0xE2, 0x41, 0x42}), true, U16({0xFFFD, 0x41, 0x42}),
       "UTF-8: Malformed 3 Byte sequence e2 41 42\r\n" + Replaced(0) + Errors(1)},
      {"FC near the end keeps the ASCII after it",
       B({0x61, 0x62, 0x63, 0xFC, 0x41, 0x42, 0x43, 0x44}), true,
       U16({0x61, 0x62, 0x63, 0xFFFD, 0x41, 0x42, 0x43, 0x44}), Replaced(3) + Errors(1)},
      {"a mark cut short is one replacement", B({0xEF, 0xBB}), true, U16({0xFFFD}),
       "UTF-8: The input ends inside a 3 byte sequence that starts at 0\r\n" + Replaced(1) +
           Errors(1)},
      {"four-byte lead cut after three", B({0xF0, 0x9F, 0x98}), true, U16({0xFFFD}),
       "UTF-8: The input ends inside a 4 byte sequence that starts at 0\r\n" + Replaced(2) +
           Errors(1)},
  };
  for (const DecodeCase& c : cases) {
    test::Outcome result = Decode(c.input, c.strict);
    EXPECT_EQ(result.output, c.output) << c.what;
    EXPECT_EQ(result.narrowLog(), c.log) << c.what;
  }
}

TEST(Utf8DecoderTest, PositionsCountFromTheStartOfTheFile) {
  // The bad sequence sits behind the first 2 MiB chunk; its position must be
  // its offset in the file, however the file was cut.
  std::string input(CBuffer::kCommitSize + 10, 'a');
  input[CBuffer::kCommitSize + 3] = static_cast<char>(0xFF - 0x3F);  // C0: needs one more byte
  input[CBuffer::kCommitSize + 4] = 'b';
  CFilterChain chain;
  chain.Append(new CUtf8ToUtf16Filter(CodecOptions{true}));
  auto* sink = new RecordingFilter();
  chain.Append(sink);
  for (std::size_t split :
       {std::size_t{0}, std::size_t{CBuffer::kCommitSize}, std::size_t{CBuffer::kCommitSize + 4}}) {
    test::LogCapture log(2);
    test::ConvertThrough(chain, *sink, input, {split});
    EXPECT_NE(log.narrow().find("Malformed byte sequence at 2097155 were"), std::string::npos)
        << split << log.narrow();
  }
}

struct EncodeCase {
  const char* what;
  std::string input;
  bool strict;
  std::string output;
  std::string log;
};

TEST(Utf8EncoderTest, Table) {
  const EncodeCase cases[] = {
      {"one to four bytes", U16({0x41, 0xE9, 0x20AC, 0xD83D, 0xDE00}), true,
       B({0x41, 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80}),
       "UTF-8: Encoding errors: 0\r\n"},
      {"unpaired high, strict", U16({0xD800, 0x41}), true, B({0xEF, 0xBF, 0xBD, 0x41}),
       "UTF-8 (STRICT): Invalid surrogate U+d800 at 0 replaced with 0xEF 0xBF 0xBD.\r\n"
       "UTF-8: Encoding errors: 1\r\n"},
      {"unpaired high, loose", U16({0x41, 0xD800, 0x41}), false, B({0x41, 0xED, 0xA0, 0x80, 0x41}),
       "UTF-8 (LOOSE): Invalid surrogate U+d800 at 2 encoded into 3 byte sequence.\r\n"
       "UTF-8: Encoding errors: 0\r\n"},
      {"lone low, strict", U16({0xDC00}), true, B({0xEF, 0xBF, 0xBD}),
       "UTF-8 (STRICT): Invalid surrogate U+dc00 at 0 replaced with 0xEF 0xBF 0xBD.\r\n"
       "UTF-8: Encoding errors: 1\r\n"},
      {"lone low, loose", U16({0xDC00}), false, B({0xED, 0xB0, 0x80}),
       "UTF-8 (LOOSE): Invalid surrogate U+dc00 at 0 encoded into 3 byte sequence.\r\n"
       "UTF-8: Encoding errors: 0\r\n"},
      {"noncharacters encode", U16({0xFEFF, 0xFFFE, 0xFFFF}), true,
       B({0xEF, 0xBB, 0xBF, 0xEF, 0xBF, 0xBE, 0xEF, 0xBF, 0xBF}), "UTF-8: Encoding errors: 0\r\n"},
      {"high surrogate at the end is unpaired", U16({0x41, 0xD83D}), true,
       B({0x41, 0xEF, 0xBF, 0xBD}),
       "UTF-8 (STRICT): Invalid surrogate U+d83d at 2 replaced with 0xEF 0xBF 0xBD.\r\n"
       "UTF-8: Encoding errors: 1\r\n"},
      {"high surrogate at the end, loose", U16({0x41, 0xD83D}), false, B({0x41, 0xED, 0xA0, 0xBD}),
       "UTF-8 (LOOSE): Invalid surrogate U+d83d at 2 encoded into 3 byte sequence.\r\n"
       "UTF-8: Encoding errors: 0\r\n"},
      {"odd byte at the end is half a unit", U16({0x41}) + B({0x42}), true,
       B({0x41, 0xEF, 0xBF, 0xBD}),
       "UTF-8: The last byte 42 at 2 is half a UTF-16 code unit and was replaced\r\n"
       "UTF-8: Encoding errors: 1\r\n"},
  };
  for (const EncodeCase& c : cases) {
    test::Outcome result = Encode(c.input, c.strict);
    EXPECT_EQ(result.output, c.output) << c.what;
    EXPECT_EQ(result.narrowLog(), c.log) << c.what;
  }
}

TEST(Utf8EncoderTest, EveryFileStartsWithTheMarkUnlessSwitchedOff) {
  EXPECT_EQ(Encode(U16({0x41}), true, true).output, B({0xEF, 0xBB, 0xBF, 0x41}));
  EXPECT_EQ(Encode(U16({0x41}), true, false).output, B({0x41}));
  EXPECT_EQ(Encode("", true, true).output, "");  // the mark leaves only with data
}

// Reference decoder for valid UTF-8 built from random code points.
std::string RandomText(std::mt19937& rng, std::size_t count, std::u32string* points) {
  std::uniform_int_distribution<int> kind(0, 9);
  std::string bytes;
  for (std::size_t k = 0; k < count; ++k) {
    char32_t cp;
    switch (kind(rng)) {
      case 0:
        cp = std::uniform_int_distribution<char32_t>(0x80, 0x7FF)(rng);
        break;
      case 1:
        cp = std::uniform_int_distribution<char32_t>(0x800, 0xD7FF)(rng);
        break;
      case 2:
        cp = std::uniform_int_distribution<char32_t>(0x10000, 0x10FFFF)(rng);
        break;
      default:
        cp = std::uniform_int_distribution<char32_t>(0x20, 0x7E)(rng);
        break;
    }
    points->push_back(cp);
    test::PutUtf8(bytes, cp);
  }
  return bytes;
}

std::string Utf16Of(const std::u32string& points) {
  std::string out;
  auto put = [&out](unsigned u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  for (char32_t cp : points) {
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

TEST(Utf8RoundTripTest, RandomValidTextBothWaysAtRandomSplits) {
  std::mt19937 rng(20261207);
  for (int round = 0; round < 40; ++round) {
    std::u32string points;
    const std::string utf8 = RandomText(rng, 1 + rng() % 300, &points);
    const std::string utf16 = Utf16Of(points);
    std::vector<std::size_t> splits;
    for (std::size_t at = 0; at < utf8.size(); at += 1 + rng() % 9) splits.push_back(at);

    CFilterChain decode;
    decode.Append(new CUtf8ToUtf16Filter(CodecOptions{true}));
    auto* sink = new RecordingFilter();
    decode.Append(sink);
    EXPECT_EQ(test::ConvertThrough(decode, *sink, utf8, splits), utf16);

    CFilterChain encode;
    encode.Append(new CUtf16ToUtf8Filter(CodecOptions{true, false}));
    auto* sink2 = new RecordingFilter();
    encode.Append(sink2);
    splits.clear();
    for (std::size_t at = 0; at < utf16.size(); at += 1 + rng() % 9) splits.push_back(at);
    EXPECT_EQ(test::ConvertThrough(encode, *sink2, utf16, splits), utf8);
  }
}

TEST(Utf8RoundTripTest, RandomBytesAreSplitInvariant) {
  std::mt19937 rng(77);
  for (int round = 0; round < 30; ++round) {
    std::string bytes;
    const std::size_t size = rng() % 40;
    for (std::size_t k = 0; k < size; ++k) {
      // Mostly bytes that make sequences, some ASCII.
      bytes += static_cast<char>(rng() % 3 == 0 ? 0x41 : 0x80 + rng() % 0x80);
    }
    Decode(bytes, round % 2 == 0);
    Encode(bytes, round % 2 == 0);
  }
}

TEST(Utf8FastPathTest, AsciiLoopsAgreeWithThePlainLoop) {
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    const std::uint32_t n = rng() % 70;
    std::vector<std::uint8_t> in(n);
    for (auto& b : in)
      b = static_cast<std::uint8_t>(rng() % 100 == 0 ? 0x80 + rng() % 128 : rng() % 128);
    std::vector<std::uint8_t> out(2 * n + 1, 0xEE);
    const std::uint32_t widened = WidenAscii(in.data(), n, out.data());
    std::uint32_t expected = 0;
    while (expected < n && in[expected] < 0x80) ++expected;
    ASSERT_EQ(widened, expected);
    for (std::uint32_t k = 0; k < widened; ++k) {
      ASSERT_EQ(out[2 * k], in[k]);
      ASSERT_EQ(out[2 * k + 1], 0);
    }
    EXPECT_EQ(out[2 * n], 0xEE);  // nothing written past the room given

    std::vector<std::uint8_t> units(2 * n);
    for (std::uint32_t k = 0; k < n; ++k) {
      const unsigned u = rng() % 60 == 0 ? 0x80 + rng() % 0x1000 : rng() % 128;
      units[2 * k] = static_cast<std::uint8_t>(u & 0xFF);
      units[2 * k + 1] = static_cast<std::uint8_t>(u >> 8);
    }
    std::vector<std::uint8_t> narrow(n + 1, 0xEE);
    const std::uint32_t narrowed = NarrowAscii(units.data(), n, narrow.data());
    expected = 0;
    while (expected < n && units[2 * expected + 1] == 0 && units[2 * expected] < 0x80) ++expected;
    ASSERT_EQ(narrowed, expected);
    for (std::uint32_t k = 0; k < narrowed; ++k) ASSERT_EQ(narrow[k], units[2 * k]);
    EXPECT_EQ(narrow[n], 0xEE);
  }
}

TEST(Utf8LargeInputTest, OutputLargerThanTheForwardingSizeIsComplete) {
  // Three-byte characters: the encoder's output is half as large again as
  // its input, and crosses the 2 MiB forwarding size several times.
  std::string utf16;
  std::string utf8;
  for (int k = 0; k < 1500000; ++k) {
    const unsigned u = 0x800 + static_cast<unsigned>(k % 0xD000);
    utf16 += static_cast<char>(u & 0xFF);
    utf16 += static_cast<char>(u >> 8);
    utf8 += static_cast<char>(0xE0 | (u >> 12));
    utf8 += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    utf8 += static_cast<char>(0x80 | (u & 0x3F));
  }
  CFilterChain encode;
  encode.Append(new CUtf16ToUtf8Filter(CodecOptions{true, false}));
  auto* sink = new RecordingFilter();
  encode.Append(sink);
  EXPECT_EQ(test::ConvertThrough(encode, *sink, utf16, {CBuffer::kCommitSize - 1}), utf8);

  CFilterChain decode;
  decode.Append(new CUtf8ToUtf16Filter(CodecOptions{true}));
  auto* sink2 = new RecordingFilter();
  decode.Append(sink2);
  EXPECT_EQ(test::ConvertThrough(decode, *sink2, utf8, {CBuffer::kCommitSize + 1}), utf16);
}

TEST(Utf8IdentityTest, NamesTypesAndCharsets) {
  CUtf8ToUtf16Filter decoder(CodecOptions{});
  CUtf16ToUtf8Filter encoder(CodecOptions{});
  EXPECT_EQ(std::u16string(decoder.GetName()), u"UTF-8 to UTF-16 conversion filter");
  EXPECT_EQ(std::u16string(encoder.GetName()), u"UTF-16 to UTF-8 conversion filter");
  EXPECT_EQ(decoder.GetType(), 10u);
  EXPECT_EQ(encoder.GetType(), 11u);
  EXPECT_EQ(decoder.GetCharset(), 100u);
  EXPECT_EQ(encoder.GetCharset(), 100u);
  // Only C2..F4 lead a well-formed sequence.
  const int lengths[][2] = {{0x00, 0}, {0x7F, 0}, {0x80, 0}, {0xBF, 0}, {0xC0, 0}, {0xC1, 0},
                            {0xC2, 1}, {0xDF, 1}, {0xE0, 2}, {0xEF, 2}, {0xF0, 3}, {0xF4, 3},
                            {0xF5, 0}, {0xF7, 0}, {0xF8, 0}, {0xFC, 0}, {0xFE, 0}, {0xFF, 0}};
  for (const auto& l : lengths) {
    EXPECT_EQ(CUtf8ToUtf16Filter::SequenceLength(static_cast<std::uint8_t>(l[0])), l[1]) << l[0];
  }
}

}  // namespace
}  // namespace ordana
