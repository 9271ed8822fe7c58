// The direct UTF-8 to single-byte path against the classic decoder and
// encoder it stands in for: the same bytes, messages (both filters' repairs
// and totals, in the same order) and both filters' counts, for every set,
// both policies, valid and malformed text, characters the set lacks, cut
// every way.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "codecs/SingleByteFilters.h"
#include "codecs/Utf8Filters.h"

namespace ordana {
namespace {

constexpr CharsetId kWindows1252 = 18;
constexpr CharsetId kIso88591 = 0;
constexpr std::size_t kMiB = 1024 * 1024;

struct Result {
  std::string output;
  std::u16string log;
  std::uint32_t decoderErrors = 0;
  std::uint32_t encoderErrors = 0;
};

// Which path the decoder is told to take: the classic filters, the direct
// path, or what the codec options say (on with the fast paths).
enum class Path { kClassic, kDirect, kByOptions };

// The UTF-8 decoder, a single-byte encoder (`between` stands between the
// two when given) and a recorder.
struct Chain {
  CFilterChain chain;
  CUtf8ToUtf16Filter* decoder;
  CUtf16ToSingleByteFilter* encoder;
  test::RecordingFilter* sink = new test::RecordingFilter();
  Chain(CharsetId charset, const CodecOptions& options, Path path, CFilter* between = nullptr)
      : decoder(new CUtf8ToUtf16Filter(options)),
        encoder(new CUtf16ToSingleByteFilter(charset, options)) {
    if (path != Path::kByOptions) decoder->UseDirectPath(path == Path::kDirect);
    chain.Append(decoder);
    if (between) chain.Append(between);
    chain.Append(encoder);
    chain.Append(sink);
  }
  // One conversion cut at `splits`, the messages up to `level` kept (at
  // the normal level the codecs say nothing: the direct path then keeps
  // none of the encoder's messages for later, and the counts must still
  // agree).
  Result Run(const std::string& input, const std::vector<std::size_t>& splits = {},
             LogLevel level = kLevelDetails) {
    Result result;
    {
      test::LogCapture log(level);
      test::Feed(chain, *sink, input, splits);
      result.log = log.text();
    }
    result.output = sink->received;
    result.decoderErrors = decoder->errorCount();
    result.encoderErrors = encoder->errorCount();
    chain.Reset();
    return result;
  }
};

void ExpectSame(const Result& expected, const Result& got, const std::string& what) {
  EXPECT_EQ(got.output, expected.output) << what;
  EXPECT_EQ(got.log, expected.log) << what;
  EXPECT_EQ(got.decoderErrors, expected.decoderErrors) << what;
  EXPECT_EQ(got.encoderErrors, expected.encoderErrors) << what;
}

std::string Utf8(std::uint32_t cp) {
  std::string s;
  test::PutUtf8(s, cp);
  return s;
}

// Pieces of text the direct loop takes itself, and pieces it hands to the
// classic code: malformed sequences, sequences cut short, four-byte
// characters, encoded surrogates, noncharacters, byte order marks.
const std::vector<std::string>& Awkward() {
  static const std::vector<std::string> pieces = {
      "\x80",              // a continuation byte alone
      "\xC3",              // a lead byte alone
      "\xC3(",             // a lead byte and no continuation
      "\xC0\xAF",          // overlong
      "\xE0\x80\xAF",      // overlong, three bytes
      "\xE2\x82",          // three bytes cut short
      "\xF0\x9F\x98",      // four bytes cut short
      "\xF5\x80",          // beyond U+10FFFF
      "\xF4\x90\x80\x80",  // beyond U+10FFFF
      "\xFF",              //
      "\xED\xA0\x80",      // an encoded high surrogate
      "\xED\xB1\x81",      // an encoded U+DC41: a byte the loose encoder restores
      "\xED\xB3\xBF",      // U+DCFF
      "\xEF\xBF\xBE",      // U+FFFE
      "\xEF\xBF\xBF",      // U+FFFF
      "\xEF\xBB\xBF",      // U+FEFF
      Utf8(0x1F600),       // a surrogate pair
      Utf8(0x10000),       // its low surrogate is U+DC00
      Utf8(0xFFFD),
      Utf8(0x3B1),   // Greek alpha
      Utf8(0x20AC),  // the euro sign
      Utf8(0x4E2D),
  };
  return pieces;
}

// Text for set `charset`: ASCII runs long enough for the vector loop,
// characters of the set (one to three UTF-8 bytes), awkward pieces and
// random bytes.
std::string MixedText(std::mt19937& random, CharsetId charset, std::size_t size) {
  const std::uint16_t* table = CodePageTable[charset];
  std::string s;
  while (s.size() < size) {
    switch (random() % 6) {
      case 0:
      case 1:
        s.append(16 + random() % 40, static_cast<char>('a' + random() % 26));
        break;
      case 2:
      case 3: {
        const std::uint16_t u = table[random() % 256];
        if (u != 0xFFFF && (u < 0xD800 || u > 0xDFFF)) test::PutUtf8(s, u);
        break;
      }
      case 4:
        s += Awkward()[random() % Awkward().size()];
        break;
      default:
        s.push_back(static_cast<char>(random() % 256));
    }
  }
  return s;
}

std::string Describe(CharsetId charset, bool strict) {
  return "set " + std::to_string(charset) + (strict ? " strict" : " loose");
}

TEST(DirectUtf8ToSingleByteTest, EverySetBothPoliciesRandomSplits) {
  std::mt19937 random(2016);
  for (CharsetId charset = 0; charset < static_cast<CharsetId>(kSingleByteCharsetCount);
       ++charset) {
    for (bool strict : {true, false}) {
      CodecOptions options;
      options.strict = strict;
      Chain classic(charset, options, Path::kClassic);
      Chain direct(charset, options, Path::kDirect);
      for (int k = 0; k < 6; ++k) {
        const std::string input = MixedText(random, charset, 1 + random() % 400);
        const std::vector<std::size_t> splits = test::RandomSplits(random, input.size());
        ExpectSame(classic.Run(input, splits), direct.Run(input, splits),
                   Describe(charset, strict));
        ExpectSame(classic.Run(input, splits, kLevelNormal),
                   direct.Run(input, splits, kLevelNormal),
                   Describe(charset, strict) + " at the normal level");
      }
      // The path was taken: otherwise the comparison proves nothing.
      EXPECT_GT(direct.decoder->DirectlyConverted(), 0u) << Describe(charset, strict);
      EXPECT_EQ(classic.decoder->DirectlyConverted(), 0u);
    }
  }
}

// Cases by hand: each whole and cut in every way, both policies.
TEST(DirectUtf8ToSingleByteTest, EverySplitOfEachCase) {
  struct Case {
    const char* what;
    CharsetId charset;
    std::string input;
  };
  const std::string ascii40 = "The quick brown fox jumps over the dog.";
  const std::vector<Case> cases = {
      {"ASCII", kWindows1252, ascii40},
      {"Latin", kWindows1252,
       "Gr\xC3\xBC\xC3\x9F"
       "e, " +
           ascii40 + "caf\xC3\xA9 \xC3\xA0 la cr\xC3\xA8me"},
      {"three-byte characters of the set", kWindows1252,
       "\xE2\x80\x9Cquoted\xE2\x80\x9D \xE2\x82\xAC"
       "10 \xE2\x80\xA6" +
           ascii40},
      {"characters the set lacks", kWindows1252,
       "\xCE\xB1\xCE\xB2 " + ascii40 + "\xE4\xB8\xAD \xF0\x9F\x98\x80 end"},
      {"the euro sign in Latin-1", kIso88591, "10 \xE2\x82\xAC, " + ascii40 + " \xC3\xA9"},
      {"malformed", kWindows1252,
       "a\x80"
       "b\xC3(" +
           ascii40 + "\xE2\x82 \xF0\x9F\x98 \xC0\xAF \xFF\xED\xA0\x80z"},
      {"encoded surrogates restored (loose)", kWindows1252,
       "x\xED\xB1\x81y\xED\xB2\x81" + ascii40 + "\xED\xB3\xBF"},
      {"noncharacters", kWindows1252, "\xEF\xBF\xBE" + ascii40 + "\xEF\xBF\xBF."},
      {"byte order mark twice", kWindows1252, "\xEF\xBB\xBF\xEF\xBB\xBF" + ascii40},
      {"byte order mark later", kWindows1252,
       ascii40 + "\xEF\xBB\xBF"
                 "x"},
      {"ends inside a sequence", kWindows1252, ascii40 + "\xE2\x82"},
      {"EBCDIC", 31, ascii40 + "\xC3\xA9\xC3\xA0 \xE2\x82\xAC \x80 \xCE\xB1"},
  };
  for (const Case& c : cases) {
    for (bool strict : {true, false}) {
      CodecOptions options;
      options.strict = strict;
      Chain classic(c.charset, options, Path::kClassic);
      Chain direct(c.charset, options, Path::kDirect);
      const std::string what = std::string(c.what) + (strict ? ", strict" : ", loose");
      ExpectSame(classic.Run(c.input), direct.Run(c.input), what + ", whole");
      for (const std::vector<std::size_t>& splits : test::EverySplit(c.input.size())) {
        ExpectSame(classic.Run(c.input, splits), direct.Run(c.input, splits),
                   what + ", " + std::to_string(splits.size()) + " cuts from " +
                       std::to_string(splits.front()));
      }
      EXPECT_GT(direct.decoder->DirectlyConverted(), 0u) << what;
    }
  }
}

// Every awkward piece at every offset of a text the direct loop takes
// whole, in a set that lacks some of its characters.
TEST(DirectUtf8ToSingleByteTest, AwkwardPieceAtEveryOffset) {
  const std::string text =
      "Stra\xC3\x9F"
      "e \xE2\x80\x9C"
      "abcdefghijklmnopqrstuvwxyz0123456789\xE2\x80\x9D caf\xC3\xA9!";
  for (bool strict : {true, false}) {
    CodecOptions options;
    options.strict = strict;
    Chain classic(kWindows1252, options, Path::kClassic);
    Chain direct(kWindows1252, options, Path::kDirect);
    for (const std::string& piece : Awkward()) {
      for (std::size_t at = 0; at <= text.size(); ++at) {
        const std::string input = text.substr(0, at) + piece + text.substr(at);
        const std::string what =
            "piece of " + std::to_string(piece.size()) + " bytes at " + std::to_string(at);
        ExpectSame(classic.Run(input), direct.Run(input), what);
        ExpectSame(classic.Run(input, {at}), direct.Run(input, {at}), what + ", cut there");
      }
    }
  }
}

// The classic decoder passes its output on before it would pass 2 MiB
// (1 Mi code units; a sequence outside its quick cases, which may write a
// surrogate pair, one unit earlier), and the encoder's messages of that
// part come after the decoder's. Malformed sequences and characters the
// set lacks on both sides of those points show that the direct path keeps
// the order, whole and in the 2 MiB reads of a file.
TEST(DirectUtf8ToSingleByteTest, MessageOrderAcrossStepsOfLargeInput) {
  const std::string greek = Utf8(0x3B1);  // one unit the set lacks
  struct Piece {
    std::string bytes;
    std::size_t units;  // the code units the decoder makes of it
  };
  for (const Piece& atBoundary :
       {Piece{greek, 1}, Piece{"\x80", 1}, Piece{Utf8(0x1F600), 2}, Piece{"\xC3(", 2}}) {
    // A cluster of pieces from ten units before unit 1 Mi and 2 Mi to
    // beyond them, ASCII between the clusters.
    std::string input;
    std::size_t units = 0;
    for (std::size_t step : {kMiB, 2 * kMiB}) {
      input.append(step - 10 - units, 'x');
      units = step - 10;
      for (int k = 0; k < 5; ++k) {
        input += greek + "\x81" + atBoundary.bytes + "z";
        units += 3 + atBoundary.units;
      }
    }
    input.append(1000, 'y');
    for (bool strict : {true, false}) {
      CodecOptions options;
      options.strict = strict;
      Chain classic(kWindows1252, options, Path::kClassic);
      Chain direct(kWindows1252, options, Path::kDirect);
      for (const std::vector<std::size_t>& splits :
           {std::vector<std::size_t>{}, std::vector<std::size_t>{2 * kMiB},
            std::vector<std::size_t>{kMiB / 2, kMiB + 3, 2 * kMiB - 1}}) {
        const Result expected = classic.Run(input, splits);
        const Result got = direct.Run(input, splits);
        EXPECT_EQ(got.output, expected.output);
        EXPECT_EQ(platform::ToNative(got.log.c_str(), got.log.size()),
                  platform::ToNative(expected.log.c_str(), expected.log.size()))
            << (strict ? "strict" : "loose") << ", piece of " << atBoundary.bytes.size()
            << " bytes";
        EXPECT_EQ(got.decoderErrors, expected.decoderErrors);
        EXPECT_EQ(got.encoderErrors, expected.encoderErrors);
      }
      EXPECT_GT(direct.decoder->DirectlyConverted(), 2 * kMiB);
    }
  }
}

// The path stands aside where it cannot stand for the encoder: with a
// transform between the two, with the filter trace on, and when turned off
// (as the program does with its fast paths off).
TEST(DirectUtf8ToSingleByteTest, OnlyDecoderStraightIntoTheEncoder) {
  CodecOptions options;
  CodecOptions plain;
  plain.fastPaths = false;
  const std::string input = "caf\xC3\xA9";
  struct Case {
    const char* what;
    const CodecOptions& options;
    CFilter* between;
    LogLevel level;
    std::uint64_t direct;  // bytes the direct path takes
  };
  const Case cases[] = {
      {"straight", options, nullptr, kLevelNormal, input.size()},
      {"a filter between", options, new CNulFilter(), kLevelNormal, 0},
      {"the filter trace", options, nullptr, kLevelTrace, 0},
      {"the fast paths off", plain, nullptr, kLevelNormal, 0},
  };
  for (const Case& c : cases) {
    Chain chain(kWindows1252, c.options, Path::kByOptions, c.between);
    test::LogCapture log(c.level);
    EXPECT_EQ(test::ConvertThrough(chain.chain, *chain.sink, input), "caf\xE9") << c.what;
    EXPECT_EQ(chain.decoder->DirectlyConverted(), c.direct) << c.what;
  }
}

}  // namespace
}  // namespace ordana
