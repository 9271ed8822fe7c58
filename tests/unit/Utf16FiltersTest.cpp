#include <gtest/gtest.h>

#include <string>

#include "CodecTestSupport.h"
#include "TestSupport.h"
#include "app/Settings.h"
#include "codecs/Utf16Filters.h"

namespace ordana {
namespace {

using test::B;
using test::RecordingFilter;

// A chain of the UTF-16 input filter, the output filter and a recorder.
class Utf16ChainTest : public ::testing::Test {
 protected:
  std::string Convert(bool inBig, bool outBig, bool bom, const std::string& input) {
    CodecOptions options;
    options.writeBom = bom;
    CFilterChain chain;
    chain.Append(new CUtf16ToUtf16InputFilter(inBig, options));
    chain.Append(new CUtf16ToUtf16OutputFilter(outBig, options));
    auto* sink = new RecordingFilter();
    chain.Append(sink);
    std::string first = test::ConvertAllSplits(chain, *sink, input);
    // Reset re-arms everything: a second file converts the same way.
    EXPECT_EQ(test::ConvertThrough(chain, *sink, input), first);
    return first;
  }
};

TEST_F(Utf16ChainTest, ByteOrderMarksAndByteOrders) {
  struct Case {
    const char* what;
    bool inBig, outBig, bom;
    std::string input, expected;
  };
  const Case cases[] = {
      {"LE mark kept", false, false, true, B({0xFF, 0xFE, 0x41, 0, 0x0A, 0}),
       B({0xFF, 0xFE, 0x41, 0, 0x0A, 0})},
      {"LE mark added", false, false, true, B({0x41, 0, 0x0A, 0}),
       B({0xFF, 0xFE, 0x41, 0, 0x0A, 0})},
      {"LE /nobom drops the source mark", false, false, false, B({0xFF, 0xFE, 0x41, 0}),
       B({0x41, 0})},
      {"BE to LE", true, false, true, B({0xFE, 0xFF, 0, 0x41}), B({0xFF, 0xFE, 0x41, 0})},
      {"BE to BE", true, true, true, B({0xFE, 0xFF, 0, 0x41}), B({0xFE, 0xFF, 0, 0x41})},
      {"LE to BE", false, true, false, B({0xFF, 0xFE, 0x41, 0, 0x3D, 0xD8, 0x00, 0xDE}),
       B({0, 0x41, 0xD8, 0x3D, 0xDE, 0x00})},
      {"BE without mark", true, false, false, B({0, 0x41, 0, 0x42}), B({0x41, 0, 0x42, 0})},
      {"mark inside the text stays (LE)", false, false, false, B({0x41, 0, 0xFF, 0xFE}),
       B({0x41, 0, 0xFF, 0xFE})},
      {"mark inside the text stays (BE)", true, false, false, B({0, 0x41, 0xFE, 0xFF}),
       B({0x41, 0, 0xFF, 0xFE})},
      {"unpaired surrogate passes", true, false, false, B({0xDC, 0x00}), B({0x00, 0xDC})},
      {"one byte is half a unit: U+FFFD", false, false, false, B({0x41}), B({0xFD, 0xFF})},
      {"one byte is half a unit: U+FFFD (BE)", true, false, false, B({0x41}), B({0xFD, 0xFF})},
      {"odd BE source: the last byte becomes U+FFFD", true, false, false, B({0, 0x41, 0x42}),
       B({0x41, 0, 0xFD, 0xFF})},
      {"odd BE source to BE", true, true, false, B({0, 0x41, 0x42}), B({0, 0x41, 0xFF, 0xFD})},
      {"empty input, no mark either", false, false, true, "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Convert(c.inBig, c.outBig, c.bom, c.input), c.expected) << c.what;
  }
}

TEST_F(Utf16ChainTest, LittleEndianPassesWholeUnitsAndReplacesAnOddLastByte) {
  // Nothing looks at units once the mark is handled, but only whole units
  // go on: the odd last byte is half a unit.
  EXPECT_EQ(Convert(false, false, false, B({0x41, 0, 0x42})), B({0x41, 0, 0xFD, 0xFF}));
  EXPECT_EQ(Convert(false, false, false, B({0x41, 0, 0x42, 0x43, 0, 0x44})),
            B({0x41, 0, 0x42, 0x43, 0, 0x44}));
}

TEST(Utf16InputTest, HalfAUnitAtTheEndIsCountedAndReported) {
  struct Case {
    bool big;
    std::string input, output;
    std::u16string log;
  };
  const Case cases[] = {
      {false, B({0x41, 0, 0x42}), B({0x41, 0, 0xFD, 0xFF}),
       u"UTF-16: The last byte 42 at 2 is half a code unit and was replaced with U+FFFD\r\n"},
      {true, B({0xFE, 0xFF, 0, 0x41, 0x42}), B({0x41, 0, 0xFD, 0xFF}),
       u"UTF-16: The last byte 42 at 4 is half a code unit and was replaced with U+FFFD\r\n"},
      {false, B({0xFF}), B({0xFD, 0xFF}),
       u"UTF-16: The last byte ff at 0 is half a code unit and was replaced with U+FFFD\r\n"},
      {false, B({0xFF, 0xFE, 0x41}), B({0xFD, 0xFF}),
       u"UTF-16: The last byte 41 at 2 is half a code unit and was replaced with U+FFFD\r\n"},
  };
  for (const Case& c : cases) {
    test::SingleCodecChain run(new CUtf16ToUtf16InputFilter(c.big, CodecOptions{}));
    const test::Outcome outcome = run.ConvertEveryWay(c.input, "UTF-16 odd end");
    EXPECT_EQ(outcome.output, c.output);
    EXPECT_EQ(outcome.log, c.log);
    EXPECT_EQ(outcome.errors, 1u);
  }
}

TEST_F(Utf16ChainTest, LargeBigEndianInputCrossesTheForwardingSize) {
  std::string input;
  std::string expected = B({0xFF, 0xFE});
  for (std::uint32_t k = 0; k < 3 * 1024 * 1024 / 2 + 1; ++k) {
    input += static_cast<char>(k >> 8 & 0xFF);
    input += static_cast<char>(k & 0xFF);
    expected += static_cast<char>(k & 0xFF);
    expected += static_cast<char>(k >> 8 & 0xFF);
  }
  CFilterChain chain;
  chain.Append(new CUtf16ToUtf16InputFilter(true, CodecOptions{}));
  chain.Append(new CUtf16ToUtf16OutputFilter(false, CodecOptions{}));
  auto* sink = new RecordingFilter();
  chain.Append(sink);
  EXPECT_EQ(test::ConvertThrough(chain, *sink, input, {CBuffer::kCommitSize - 1}), expected);
  EXPECT_EQ(test::ConvertThrough(chain, *sink, input), expected);
}

TEST(Utf16FilterIdentityTest, NamesTypesCategoriesAndCharsets) {
  const CodecOptions options;
  CUtf16ToUtf16InputFilter inLittle(false, options), inBig(true, options);
  CUtf16ToUtf16OutputFilter outLittle(false, options), outBig(true, options);
  EXPECT_EQ(std::u16string(inLittle.GetName()), u"UTF-16 Input Filter");
  EXPECT_EQ(std::u16string(outBig.GetName()), u"UTF-16 Output Filter");
  EXPECT_EQ(inLittle.GetType(), 14u);
  EXPECT_EQ(outLittle.GetType(), 14u);
  EXPECT_EQ(inBig.category(), 2u);
  EXPECT_EQ(outBig.category(), 4u);
  EXPECT_EQ(inLittle.GetCharset(), 101u);
  EXPECT_EQ(inBig.GetCharset(), 102u);
  EXPECT_EQ(outLittle.GetCharset(), 101u);
  EXPECT_EQ(outBig.GetCharset(), 102u);
}

TEST(Utf16FilterIdentityTest, EncoderTakesTheMarkChoiceWhenBuilt) {
  CodecOptions options;
  options.writeBom = false;
  CUtf16ToUtf16OutputFilter quiet(false, options);
  options.writeBom = true;
  CUtf16ToUtf16OutputFilter marked(true, options);
  // The settings of the process are not the codecs' business.
  GetSettings().writeBom = false;
  marked.Reset();
  ResetSettings();
  EXPECT_EQ(quiet.output().length(), 0u);
  ASSERT_EQ(marked.output().length(), 2u);
  EXPECT_EQ(marked.output().base()[0], 0xFE);
  marked.Reset();
  EXPECT_EQ(marked.output().length(), 2u);  // the next file starts with a mark again
}

}  // namespace
}  // namespace ordana
