#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "CodecTestSupport.h"
#include "TestSupport.h"
#include "app/Settings.h"
#include "codecs/SingleByteFilters.h"

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

std::string AllBytes() {
  std::string s;
  for (int b = 0; b < 256; ++b) s += static_cast<char>(b);
  return s;
}

CUtf16ToSingleByteFilter* MakeEncoder(CharsetId charset, bool strict) {
  return new CUtf16ToSingleByteFilter(charset, CodecOptions{strict});
}

// With a decoder and an encoder in one chain, their messages interleave
// according to the chunks; each filter's own messages keep their order.
std::u16string GroupedByFilter(const std::u16string& log) {
  std::vector<std::u16string> lines;
  for (std::size_t at = 0; at < log.size();) {
    std::size_t end = log.find(u"\r\n", at);
    end = end == std::u16string::npos ? log.size() : end + 2;
    lines.push_back(log.substr(at, end - at));
    at = end;
  }
  std::stable_sort(lines.begin(), lines.end(),
                   [](const std::u16string& a, const std::u16string& b) {
                     return a.substr(0, 3) < b.substr(0, 3);
                   });
  std::u16string grouped;
  for (const auto& line : lines) grouped += line;
  return grouped;
}

class SingleByteTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetSettings(); }
};

// ---- Decoder ------------------------------------------------------------------

struct DecoderCase {
  const char* what;
  CharsetId charset;
  bool strict;
  std::string input, expected;
  std::u16string log;
  std::uint32_t errors;
};

TEST_F(SingleByteTest, DecoderCases) {
  std::string latin1;
  for (std::uint32_t b = 0; b < 256; ++b) PutUtf16(latin1, b);
  const std::string longRun(300, 'a');
  std::string longRunDecoded;
  for (int k = 0; k < 300; ++k) PutUtf16(longRunDecoded, 'a');
  const DecoderCase cases[] = {
      {"ISO-8859-1 maps every byte and never complains", 0, true, AllBytes(), latin1,
       u"SCS(0): Decoding errors: 0\r\n", 0},
      {"ISO-8859-1, loose", 0, false, AllBytes(), latin1, u"SCS(0): Decoding errors: 0\r\n", 0},
      {"Windows-1252 0x81, strict", 18, true, B({0x41, 0x81, 0x42}), U16({0x41, 0xFFFF, 0x42}),
       u"SCS (18): Decoding of 0x81 at 1 not possible.\r\n"
       u"SCS(18): Decoding errors: 1\r\n",
       1},
      {"Windows-1252 0x81, loose", 18, false, B({0x41, 0x81, 0x42}), U16({0x41, 0xDC81, 0x42}),
       u"SCS (18): Decoding of 0x81 at 1 not possible, replaced by U+dc81\r\n"
       u"SCS(18): Decoding errors: 0\r\n",
       0},
      {"every undefined byte of Windows-1252, strict", 18, true, B({0x81, 0x8D, 0x8F, 0x90, 0x9D}),
       U16({0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}),
       u"SCS (18): Decoding of 0x81 at 0 not possible.\r\n"
       u"SCS (18): Decoding of 0x8d at 1 not possible.\r\n"
       u"SCS (18): Decoding of 0x8f at 2 not possible.\r\n"
       u"SCS (18): Decoding of 0x90 at 3 not possible.\r\n"
       u"SCS (18): Decoding of 0x9d at 4 not possible.\r\n"
       u"SCS(18): Decoding errors: 5\r\n",
       5},
      {"Windows-1252 0x80 is the euro sign", 18, true, B({0x80}), U16({0x20AC}),
       u"SCS(18): Decoding errors: 0\r\n", 0},
      {"EBCDIC-37 0xC1 is A", 56, true, B({0xC1, 0x40}), U16({0x41, 0x20}),
       u"SCS(56): Decoding errors: 0\r\n", 0},
      {"ISO-8859-3 0xA5 is undefined", 2, true, B({0x61, 0x62, 0x63, 0xA5}),
       U16({0x61, 0x62, 0x63, 0xFFFF}),
       u"SCS (2): Decoding of 0xa5 at 3 not possible.\r\n"
       u"SCS(2): Decoding errors: 1\r\n",
       1},
      {"positions count from the start of the file", 18, false, longRun + B({0x90}),
       longRunDecoded + U16({0xDC90}),
       u"SCS (18): Decoding of 0x90 at 300 not possible, replaced by U+dc90\r\n"
       u"SCS(18): Decoding errors: 0\r\n",
       0},
      {"a NUL byte is text", 18, true, B({0x00, 0x41}), U16({0x00, 0x41}),
       u"SCS(18): Decoding errors: 0\r\n", 0},
      {"empty", 18, true, "", "", u"SCS(18): Decoding errors: 0\r\n", 0},
  };
  for (const DecoderCase& c : cases) {
    for (bool fast : {true, false}) {
      auto* decoder = new CSingleByteToUtf16Filter(c.charset, CodecOptions{c.strict});
      decoder->UseFastPath(fast);
      SingleCodecChain run(decoder);
      const Outcome outcome = run.ConvertEveryWay(c.input, c.what);
      EXPECT_EQ(outcome.output, c.expected) << c.what;
      EXPECT_EQ(outcome.log, c.log) << c.what;
      EXPECT_EQ(outcome.errors, c.errors) << c.what;
    }
  }
}

TEST_F(SingleByteTest, DecoderErrorCountStartsFromZeroAfterReset) {
  SingleCodecChain run(new CSingleByteToUtf16Filter(18, CodecOptions{true}));
  EXPECT_EQ(run.Run(B({0x81, 0x81})).errors, 2u);
  EXPECT_EQ(run.Run(B({0x81})).errors, 1u);
  EXPECT_EQ(run.Run(B({0x41})).log, u"SCS(18): Decoding errors: 0\r\n");
}

// ---- Encoder ------------------------------------------------------------------

struct EncoderCase {
  const char* what;
  CharsetId charset;
  bool strict;
  std::string input, expected;
  std::u16string log;
  std::uint32_t errors;
};

TEST_F(SingleByteTest, EncoderCases) {
  const EncoderCase cases[] = {
      {"the euro sign has no place in ISO-8859-1 (strict)", 0, true, U16({0x20AC}), B({0xFF}),
       u"DSC(0): Encoding of U+20ac (\u20AC) at 0 not possible.\r\n"
       u"DCS(0): Encoding errors: 1\r\n",
       1},
      {"the euro sign has no place in ISO-8859-1 (loose)", 0, false, U16({0x41, 0x20AC}),
       B({0x41, 0xFF}),
       u"DSC(0): Encoding of U+20ac (\u20AC) at 2 not possible.\r\n"
       u"DCS(0): Encoding errors: 1\r\n",
       1},
      {"the euro sign in ISO-8859-15", 14, true, U16({0x20AC}), B({0xA4}),
       u"DCS(14): Encoding errors: 0\r\n", 0},
      {"A in EBCDIC-37", 56, true, U16({0x41}), B({0xC1}), u"DCS(56): Encoding errors: 0\r\n", 0},
      {"a leading U+FEFF is dropped", 0, true, U16({0xFEFF, 0x41}), B({0x41}),
       u"DCS(0): Encoding errors: 0\r\n", 0},
      {"a leading U+FEFF alone gives nothing", 0, true, U16({0xFEFF}), "",
       u"DCS(0): Encoding errors: 0\r\n", 0},
      {"a later U+FEFF is unmappable", 0, true, U16({0x41, 0xFEFF}), B({0x41, 0xFF}),
       u"DSC(0): Encoding of U+feff (\uFEFF) at 2 not possible.\r\n"
       u"DCS(0): Encoding errors: 1\r\n",
       1},
      {"only the first U+FEFF is a mark", 0, false, U16({0xFEFF, 0xFEFF}), B({0xFF}),
       u"DSC(0): Encoding of U+feff (\uFEFF) at 2 not possible.\r\n"
       u"DCS(0): Encoding errors: 1\r\n",
       1},
      {"an escaped byte comes back (loose)", 18, false, U16({0xDC81}), B({0x81}),
       u"DSC(18): Encoding of replacement character U+dc81 at 0 become 0x81.\r\n"
       u"DCS(18): Encoding errors: 0\r\n",
       0},
      {"escapes cover the whole byte range (loose)", 18, false, U16({0xDC00, 0xDCFF, 0xDC41}),
       B({0x00, 0xFF, 0x41}),
       u"DSC(18): Encoding of replacement character U+dc00 at 0 become 0000.\r\n"
       u"DSC(18): Encoding of replacement character U+dcff at 2 become 0xff.\r\n"
       u"DSC(18): Encoding of replacement character U+dc41 at 4 become 0x41.\r\n"
       u"DCS(18): Encoding errors: 0\r\n",
       0},
      {"an escape is an error under the strict policy", 18, true, U16({0xDC81}), B({0xFF}),
       u"DSC(18): Encoding of U+dc81 (\xFFFD) at 0 not possible.\r\n"
       u"DCS(18): Encoding errors: 1\r\n",
       1},
      {"U+DD00 is no escape (loose)", 18, false, U16({0xDD00}), B({0xFF}),
       u"DSC(18): Encoding of U+dd00 (\xFFFD) at 0 not possible.\r\n"
       u"DCS(18): Encoding errors: 1\r\n",
       1},
      {"U+DBFF is no escape (loose)", 18, false, U16({0xDBFF}), B({0xFF}),
       u"DSC(18): Encoding of U+dbff (\xFFFD) at 0 not possible.\r\n"
       u"DCS(18): Encoding errors: 1\r\n",
       1},
      {"a surrogate pair is two unmappable units", 0, true, U16({0xD83D, 0xDE00}), B({0xFF, 0xFF}),
       u"DSC(0): Encoding of U+d83d (\xFFFD) at 0 not possible.\r\n"
       u"DSC(0): Encoding of U+de00 (\xFFFD) at 2 not possible.\r\n"
       u"DCS(0): Encoding errors: 2\r\n",
       2},
      {"U+FFFF from a strict decoder stays an error", 18, true, U16({0xFFFF}), B({0xFF}),
       u"DSC(18): Encoding of U+ffff (\xFFFF) at 0 not possible.\r\n"
       u"DCS(18): Encoding errors: 1\r\n",
       1},
      {"highest byte wins in CP1006", 54, true, U16({0xFE8E}), B({0xB2}),
       u"DCS(54): Encoding errors: 0\r\n", 0},
      {"highest byte wins in NeXT", 55, true, U16({0xFFFD}), B({0xFF}),
       u"DCS(55): Encoding errors: 0\r\n", 0},
      {"highest byte wins in EBCDIC-875", 58, true, U16({0x001A}), B({0xFD}),
       u"DCS(58): Encoding errors: 0\r\n", 0},
      {"an odd last byte is half a unit: replaced and counted", 0, true, U16({0x41}) + B({0x42}),
       B({0x41, 0xFF}),
       u"DCS(0): The last byte 42 at 2 is half a UTF-16 code unit and was replaced\r\n"
       u"DCS(0): Encoding errors: 1\r\n",
       1},
      {"empty", 0, true, "", "", u"DCS(0): Encoding errors: 0\r\n", 0},
  };
  for (const EncoderCase& c : cases) {
    for (bool fast : {true, false}) {
      auto* encoder = MakeEncoder(c.charset, c.strict);
      encoder->UseFastPath(fast);
      SingleCodecChain run(encoder);
      const Outcome outcome = run.ConvertEveryWay(c.input, c.what);
      EXPECT_EQ(outcome.output, c.expected) << c.what;
      EXPECT_EQ(outcome.log, c.log) << c.what;
      EXPECT_EQ(outcome.errors, c.errors) << c.what;
    }
  }
}

TEST_F(SingleByteTest, EncoderOddByteWaitsForTheNextStep) {
  SingleCodecChain run(MakeEncoder(0, true));
  CBuffer chunk;
  EXPECT_TRUE(chunk.Append("A\0B", 3));
  EXPECT_TRUE(run.chain.Process(chunk, 0));
  EXPECT_EQ(run.sink->received, "A");
  EXPECT_EQ(run.codec->pending().length(), 1u);
  EXPECT_TRUE(chunk.Append("\0", 1));
  EXPECT_TRUE(run.chain.Process(chunk, 3));
  EXPECT_EQ(run.sink->received, "AB");
  EXPECT_EQ(run.codec->pending().length(), 0u);
}

TEST_F(SingleByteTest, EncoderDropsTheMarkOfEveryFile) {
  SingleCodecChain run(MakeEncoder(0, true));
  const std::string input = U16({0xFEFF, 0x41});
  EXPECT_EQ(run.Run(input).output, "A");
  EXPECT_EQ(run.Run(input).output, "A");  // Reset re-arms it
}

TEST_F(SingleByteTest, EncoderTakesThePolicyWhenBuilt) {
  auto* loose = new CUtf16ToSingleByteFilter(18, CodecOptions{false});
  GetSettings().strictPolicy = true;  // the process settings are not the codec's business
  SingleCodecChain run(loose);
  EXPECT_EQ(run.Run(U16({0xDC81})).output, B({0x81}));
}

TEST_F(SingleByteTest, LooseWindows1252KeepsItsUndefinedBytes) {
  CFilterChain chain;
  auto* decoder = new CSingleByteToUtf16Filter(18, CodecOptions{false});
  chain.Append(decoder);
  chain.Append(MakeEncoder(18, false));
  auto* sink = new RecordingFilter();
  chain.Append(sink);
  const std::string input = B({0x81, 0x8D, 0x8F, 0x90, 0x9D});
  const std::u16string expectedLog =
      u"DCS(18): Encoding errors: 0\r\n"
      u"DSC(18): Encoding of replacement character U+dc81 at 0 become 0x81.\r\n"
      u"DSC(18): Encoding of replacement character U+dc8d at 2 become 0x8d.\r\n"
      u"DSC(18): Encoding of replacement character U+dc8f at 4 become 0x8f.\r\n"
      u"DSC(18): Encoding of replacement character U+dc90 at 6 become 0x90.\r\n"
      u"DSC(18): Encoding of replacement character U+dc9d at 8 become 0x9d.\r\n"
      u"SCS (18): Decoding of 0x81 at 0 not possible, replaced by U+dc81\r\n"
      u"SCS (18): Decoding of 0x8d at 1 not possible, replaced by U+dc8d\r\n"
      u"SCS (18): Decoding of 0x8f at 2 not possible, replaced by U+dc8f\r\n"
      u"SCS (18): Decoding of 0x90 at 3 not possible, replaced by U+dc90\r\n"
      u"SCS (18): Decoding of 0x9d at 4 not possible, replaced by U+dc9d\r\n"
      u"SCS(18): Decoding errors: 0\r\n";
  for (std::size_t at = 0; at <= input.size(); ++at) {
    std::vector<std::size_t> splits;
    if (at > 0 && at < input.size()) splits.push_back(at);
    const Outcome outcome = RunOnce(chain, *sink, input, splits, decoder);
    EXPECT_EQ(outcome.output, input) << at;
    EXPECT_EQ(GroupedByFilter(outcome.log), expectedLog) << at;
    EXPECT_EQ(outcome.errors, 0u);
  }
  EXPECT_EQ(test::ConvertAllSplits(chain, *sink, input), input);
}

// ---- Message kinds --------------------------------------------------------------

// Sends the log to a file, where every message carries its kind in the time
// stamp, and reads back (kind, text) pairs.
class KindLog {
 public:
  KindLog() {
    ResetMessageLog();
    EXPECT_TRUE(GetMessageLog()->OpenLogFile(dir_.File16("kinds.log").c_str()));
    GetMessageLog()->SetMaximumLevel(kLevelDetails);
  }
  ~KindLog() { Close(); }

  std::vector<std::pair<int, std::u16string>> Take() {
    Close();
    const std::u16string text = test::ReadLogFile(dir_.File("kinds.log"));
    const std::u16string lineEnd = platform::kLineEnd;
    std::vector<std::pair<int, std::u16string>> messages;
    // "YYYY-MM-DD hh:mm:ss,mmmm (k): " is 30 code units; the message is
    // given back with CR LF, as the string table writes it.
    for (std::size_t at = 0; at < text.size();) {
      std::size_t end = text.find(lineEnd, at);
      if (end == std::u16string::npos) {
        ADD_FAILURE() << "log line without its line end";
        break;
      }
      const std::u16string line = text.substr(at, end - at) + u"\r\n";
      end += lineEnd.size();
      if (line.size() < 30 || line.substr(24, 2) != u" (" || line.substr(27, 3) != u"): ") {
        ADD_FAILURE() << "unexpected log line";
        break;
      }
      messages.emplace_back(line[26] - u'0', line.substr(30));
      at = end;
    }
    return messages;
  }

 private:
  void Close() {
    if (closed_) return;
    closed_ = true;
    DestroyMessageLog();  // gives the standard output back
    ResetMessageLog();
  }

  test::TempDir dir_;
  bool closed_ = false;
};

using Messages = std::vector<std::pair<int, std::u16string>>;

TEST_F(SingleByteTest, MessageKinds) {
  {
    SingleCodecChain run(new CSingleByteToUtf16Filter(18, CodecOptions{true}));
    KindLog log;
    test::ConvertThrough(run.chain, *run.sink, B({0x81}));
    EXPECT_EQ(log.Take(), (Messages{{2, u"SCS (18): Decoding of 0x81 at 0 not possible.\r\n"},
                                    {2, u"SCS(18): Decoding errors: 1\r\n"}}));
  }
  {
    SingleCodecChain run(new CSingleByteToUtf16Filter(18, CodecOptions{false}));
    KindLog log;
    test::ConvertThrough(run.chain, *run.sink, B({0x81}));
    EXPECT_EQ(
        log.Take(),
        (Messages{{1, u"SCS (18): Decoding of 0x81 at 0 not possible, replaced by U+dc81\r\n"},
                  {0, u"SCS(18): Decoding errors: 0\r\n"}}));
  }
  {
    SingleCodecChain run(MakeEncoder(0, true));
    KindLog log;
    test::ConvertThrough(run.chain, *run.sink, U16({0x20AC}));
    EXPECT_EQ(log.Take(),
              (Messages{{2, u"DSC(0): Encoding of U+20ac (\u20AC) at 0 not possible.\r\n"},
                        {2, u"DCS(0): Encoding errors: 1\r\n"}}));
  }
  {
    SingleCodecChain run(MakeEncoder(18, false));
    KindLog log;
    test::ConvertThrough(run.chain, *run.sink, U16({0xDC81}));
    EXPECT_EQ(
        log.Take(),
        (Messages{{1, u"DSC(18): Encoding of replacement character U+dc81 at 0 become 0x81.\r\n"},
                  {0, u"DCS(18): Encoding errors: 0\r\n"}}));
  }
}

// ---- Every set, both directions --------------------------------------------------

// The sets where several bytes share one code unit: the encoder gives the
// highest of them back for each.
const std::map<CharsetId, std::map<int, int>> kManyToOne = {
    {54, {{0xB1, 0xB2}}},
    {55, {{0xFE, 0xFF}}},
    {58, {{0x3F, 0xFD}, {0xDC, 0xFD}, {0xE1, 0xFD}, {0xEC, 0xFD}, {0xED, 0xFD}, {0xFC, 0xFD}}},
};

TEST_F(SingleByteTest, EverySetDecodesAndEncodesBack) {
  for (CharsetId id = 0; id < static_cast<CharsetId>(kSingleByteCharsetCount); ++id) {
    const auto exceptions = kManyToOne.find(id);
    for (bool strict : {true, false}) {
      const std::string what = "set " + std::to_string(id) + (strict ? " strict" : " loose");
      std::string decodedExpected, roundTripExpected;
      std::uint32_t unmapped = 0;
      for (int b = 0; b < 256; ++b) {
        const std::uint16_t u = CodePageTable[id][b];
        int back = b;
        if (u == 0xFFFF) {
          ++unmapped;
          PutUtf16(decodedExpected, strict ? 0xFFFF : 0xDC00 + b);
          if (strict) back = 0xFF;
        } else {
          PutUtf16(decodedExpected, u);
          if (exceptions != kManyToOne.end() && exceptions->second.count(b)) {
            back = exceptions->second.at(b);
          }
        }
        roundTripExpected += static_cast<char>(back);
      }

      SingleCodecChain decode(new CSingleByteToUtf16Filter(id, CodecOptions{strict}));
      const Outcome decoded = decode.Run(AllBytes(), {1, 100, 200});
      EXPECT_EQ(decoded.output, decodedExpected) << what;
      EXPECT_EQ(decoded.errors, strict ? unmapped : 0u) << what;

      CFilterChain chain;
      auto* decoder = new CSingleByteToUtf16Filter(id, CodecOptions{strict});
      chain.Append(decoder);
      auto* encoder = MakeEncoder(id, strict);
      chain.Append(encoder);
      auto* sink = new RecordingFilter();
      chain.Append(sink);
      sink->received.clear();
      CBuffer chunk;
      const std::string input = AllBytes();
      EXPECT_TRUE(chunk.Append(input.data(), 256));
      {
        test::LogCapture quiet(1);
        EXPECT_TRUE(chain.Process(chunk, 0));
        EXPECT_TRUE(chain.Flush());
        EXPECT_TRUE(chain.Finish());
      }
      EXPECT_EQ(sink->received, roundTripExpected) << what;
      EXPECT_EQ(decoder->errorCount(), strict ? unmapped : 0u) << what;
      // Strict: every U+FFFF the decoder left is unmappable again.
      EXPECT_EQ(encoder->errorCount(), strict ? unmapped : 0u) << what;
      chain.Reset();
    }
  }
}

TEST_F(SingleByteTest, ManyToOneListIsComplete) {
  for (CharsetId id = 0; id < static_cast<CharsetId>(kSingleByteCharsetCount); ++id) {
    std::map<std::uint16_t, int> highest;
    for (int b = 0; b < 256; ++b) {
      if (CodePageTable[id][b] != 0xFFFF) highest[CodePageTable[id][b]] = b;
    }
    std::map<int, int> shared;
    for (int b = 0; b < 256; ++b) {
      const std::uint16_t u = CodePageTable[id][b];
      if (u != 0xFFFF && highest[u] != b) shared[b] = highest[u];
    }
    const auto listed = kManyToOne.find(id);
    const std::map<int, int> expected =
        listed == kManyToOne.end() ? std::map<int, int>() : listed->second;
    EXPECT_EQ(shared, expected) << "set " << id;
  }
}

// ---- Random input: any split, fast path against the plain loop -------------------

std::string ModelDecode(CharsetId id, bool strict, const std::string& in) {
  std::string out;
  for (char c : in) {
    const int b = static_cast<unsigned char>(c);
    std::uint32_t u = CodePageTable[id][b];
    if (u == 0xFFFF && !strict) u = 0xDC00 + b;
    PutUtf16(out, u);
  }
  return out;
}

std::string ModelEncode(CharsetId id, bool strict, const std::string& in) {
  std::map<std::uint32_t, int> byteOf;
  for (int b = 0; b < 256; ++b) {
    if (CodePageTable[id][b] != 0xFFFF) byteOf[CodePageTable[id][b]] = b;  // the last one wins
  }
  std::string out;
  for (std::size_t at = 0; at + 1 < in.size(); at += 2) {
    const std::uint32_t u =
        static_cast<unsigned char>(in[at]) | static_cast<unsigned char>(in[at + 1]) << 8;
    if (at == 0 && u == 0xFEFF) continue;
    int byte = 0xFF;
    if (byteOf.count(u)) {
      byte = byteOf[u];
    } else if (!strict && u >= 0xDC00 && u <= 0xDCFF) {
      byte = static_cast<int>(u - 0xDC00);
    }
    out += static_cast<char>(byte);
  }
  if (in.size() % 2 != 0) out += '\xFF';  // half a unit at the end
  return out;
}

// Random text in runs: long stretches of ASCII (what the fast path takes
// whole), of any byte, and of bytes the set cannot decode.
std::string RandomBytes(std::mt19937& random, CharsetId id) {
  std::vector<int> undefined;
  for (int b = 0; b < 256; ++b) {
    if (CodePageTable[id][b] == 0xFFFF) undefined.push_back(b);
  }
  std::string input;
  const std::size_t runs = std::uniform_int_distribution<std::size_t>(0, 16)(random);
  for (std::size_t r = 0; r < runs; ++r) {
    const std::uint32_t kind = random() % 4;
    const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 70)(random);
    for (std::size_t k = 0; k < length; ++k) {
      int b = kind <= 1 ? static_cast<int>(random() % 128) : static_cast<int>(random() % 256);
      if (kind == 3 && !undefined.empty() && random() % 4 == 0) {
        b = undefined[random() % undefined.size()];
      }
      input += static_cast<char>(b);
    }
  }
  return input;
}

// Random UTF-16 text in runs: ASCII, units the set can encode, escapes of
// undefined bytes, and units it cannot encode; U+FEFF now and then, also
// first.
std::string RandomUnits(std::mt19937& random, CharsetId id) {
  std::string input;
  if (random() % 3 == 0) PutUtf16(input, 0xFEFF);
  const std::size_t runs = std::uniform_int_distribution<std::size_t>(0, 16)(random);
  for (std::size_t r = 0; r < runs; ++r) {
    const std::uint32_t kind = random() % 5;
    const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 70)(random);
    for (std::size_t k = 0; k < length; ++k) {
      std::uint32_t u;
      const std::uint32_t pick = random() % 16;
      if (kind <= 1) {
        u = random() % 128;
      } else if (kind == 2 || pick < 10) {
        u = CodePageTable[id][random() % 256];  // mostly mappable
      } else if (pick < 12) {
        u = 0xDC00 + random() % 0x100;
      } else if (pick < 13) {
        u = 0xFEFF;
      } else if (pick < 14) {
        u = 0xD800 + random() % 0x800;
      } else {
        u = random() % 0x10000;
      }
      PutUtf16(input, u);
    }
  }
  if (random() % 2) input += 'x';
  return input;
}

TEST_F(SingleByteTest, DecoderRandomInputAnySplitAndBothPaths) {
  std::mt19937 random(1234);
  for (int round = 0; round < 400; ++round) {
    const CharsetId id = random() % kSingleByteCharsetCount;
    const bool strict = random() % 2 == 0;
    const std::string input = RandomBytes(random, id);
    SingleCodecChain fast(new CSingleByteToUtf16Filter(id, CodecOptions{strict}));
    auto* plainFilter = new CSingleByteToUtf16Filter(id, CodecOptions{strict});
    plainFilter->UseFastPath(false);
    SingleCodecChain plain(plainFilter);
    const std::string what = "round " + std::to_string(round);
    const Outcome whole = fast.Run(input);
    ASSERT_EQ(whole.output, ModelDecode(id, strict, input)) << what;
    ExpectSame(whole, fast.Run(input, RandomSplits(random, input.size(), 12)), what + " split");
    ExpectSame(whole, plain.Run(input), what + " plain");
    ExpectSame(whole, plain.Run(input, RandomSplits(random, input.size(), 12)),
               what + " plain split");
  }
}

TEST_F(SingleByteTest, EncoderRandomInputAnySplitAndBothPaths) {
  std::mt19937 random(4321);
  for (int round = 0; round < 400; ++round) {
    const CharsetId id = random() % kSingleByteCharsetCount;
    const bool strict = random() % 2 == 0;
    const std::string input = RandomUnits(random, id);
    SingleCodecChain fast(MakeEncoder(id, strict));
    auto* plainFilter = MakeEncoder(id, strict);
    plainFilter->UseFastPath(false);
    SingleCodecChain plain(plainFilter);
    const std::string what = "round " + std::to_string(round);
    const Outcome whole = fast.Run(input);
    ASSERT_EQ(whole.output, ModelEncode(id, strict, input)) << what;
    ExpectSame(whole, fast.Run(input, RandomSplits(random, input.size(), 12)), what + " split");
    ExpectSame(whole, plain.Run(input), what + " plain");
    ExpectSame(whole, plain.Run(input, RandomSplits(random, input.size(), 12)),
               what + " plain split");
  }
}

// ---- Large inputs ---------------------------------------------------------------

std::uint32_t MaxCall(const RecordingFilter& sink) {
  std::uint32_t most = 0;
  for (std::uint32_t size : sink.calls) most = std::max(most, size);
  return most;
}

TEST_F(SingleByteTest, LargeInputThroughTheDecoderCrossesTheForwardingSize) {
  // 3 MiB of bytes become 6 MiB of UTF-16; one undefined byte sits behind
  // the first forwarding point, so its position has to survive it.
  std::string input;
  for (std::uint32_t k = 0; input.size() < 3u * 1024 * 1024; ++k) {
    input += static_cast<char>(0x20 + k % 0xE0);
  }
  const std::size_t late = 2u * 1024 * 1024 + 12345;
  input[late] = '\x81';
  for (bool fast : {true, false}) {
    auto* decoder = new CSingleByteToUtf16Filter(18, CodecOptions{false});
    decoder->UseFastPath(fast);
    SingleCodecChain run(decoder);
    const std::string expected = ModelDecode(18, false, input);
    const std::u16string undefinedBytes = [&] {
      std::u16string log;
      for (std::size_t at = 0; at < input.size(); ++at) {
        const int b = static_cast<unsigned char>(input[at]);
        if (CodePageTable[18][b] == 0xFFFF) {
          log +=
              Format(u"SCS (18): Decoding of %#04x at %I64u not possible, replaced by U+%04x\r\n",
                     b, static_cast<std::uint64_t>(at), 0xDC00 + b);
        }
      }
      return log + u"SCS(18): Decoding errors: 0\r\n";
    }();
    for (const std::vector<std::size_t>& splits :
         {std::vector<std::size_t>{}, std::vector<std::size_t>{CBuffer::kCommitSize},
          std::vector<std::size_t>{7, CBuffer::kCommitSize - 1, late}}) {
      const Outcome outcome = run.Run(input, splits);
      EXPECT_TRUE(outcome.output == expected) << fast << " " << splits.size();
      EXPECT_EQ(outcome.log, undefinedBytes);
      EXPECT_LE(MaxCall(*run.sink), CBuffer::kCommitSize);
    }
  }
}

TEST_F(SingleByteTest, LargeInputThroughTheEncoderComesOutWhole) {
  std::string input;
  for (std::uint32_t k = 0; input.size() < 3u * 1024 * 1024; ++k) {
    PutUtf16(input, CodePageTable[16][0x20 + k % 0xE0] == 0xFFFF
                        ? 0x41
                        : CodePageTable[16][0x20 + k % 0xE0]);
  }
  for (bool fast : {true, false}) {
    auto* encoder = MakeEncoder(16, true);
    encoder->UseFastPath(fast);
    SingleCodecChain run(encoder);
    const std::string expected = ModelEncode(16, true, input);
    for (const std::vector<std::size_t>& splits :
         {std::vector<std::size_t>{}, std::vector<std::size_t>{CBuffer::kCommitSize + 1}}) {
      const Outcome outcome = run.Run(input, splits);
      EXPECT_TRUE(outcome.output == expected) << fast;
      EXPECT_EQ(outcome.errors, 0u);
    }
  }
}

// ---- Identity -----------------------------------------------------------------

TEST(SingleByteFilterIdentityTest, NamesTypesCategoriesAndCharsets) {
  CSingleByteToUtf16Filter decoder(18, CodecOptions{true});
  CUtf16ToSingleByteFilter encoder(56, CodecOptions{});
  EXPECT_EQ(std::u16string(decoder.GetName()), u"Single to UTF-16 character conversion filter");
  EXPECT_EQ(std::u16string(encoder.GetName()), u"UTF-16 to single character conversion filter");
  EXPECT_EQ(decoder.GetType(), 2u);
  EXPECT_EQ(encoder.GetType(), 3u);
  EXPECT_EQ(decoder.category(), 2u);
  EXPECT_EQ(encoder.category(), 4u);
  EXPECT_EQ(decoder.GetCharset(), 18u);
  EXPECT_EQ(encoder.GetCharset(), 56u);
  EXPECT_EQ(encoder.output().length(), 0u);  // no mark in a single-byte set
}

}  // namespace
}  // namespace ordana
