// Malformed and cut-off input in the Unicode decoders: every class of bad
// sequence against the number of replacements the maximal-subpart rule
// gives, and random mixtures of good and bad pieces, cut anywhere, against
// the reference decoders (which the fuzz target uses as well).

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "../../fuzz/ReferenceDecoders.h"
#include "CodecTestSupport.h"
#include "TestSupport.h"
#include "codecs/Utf16Filters.h"
#include "codecs/Utf32Filters.h"
#include "codecs/Utf8Filters.h"

namespace ordana {
namespace {

using test::B;
using test::U16;

struct ClassCase {
  const char* what;
  std::string bad;         // the malformed bytes, between "<" and ">"
  std::uint32_t strict;    // replacements (and errors) under the strict policy
  std::uint32_t loose;     // under the loose policy
  std::string looseUnits;  // what the loose policy writes instead, when not U+FFFD
};

// Each class stands between '<' and '>' so that a lost neighbour shows.
TEST(MaximalSubpartTest, EveryClassOfBadUtf8Sequence) {
  const ClassCase cases[] = {
      {"stray continuation byte", B({0x80}), 1, 1, ""},
      {"last continuation byte", B({0xBF}), 1, 1, ""},
      {"two stray continuation bytes", B({0x80, 0xBF}), 2, 2, ""},
      {"C0 and C1 lead nothing", B({0xC0, 0xC1}), 2, 2, ""},
      {"overlong slash in two bytes", B({0xC0, 0xAF}), 2, 2, ""},
      {"overlong NUL in two bytes", B({0xC0, 0x80}), 2, 2, ""},
      {"overlong in three bytes", B({0xE0, 0x80, 0xAF}), 3, 3, ""},
      {"overlong in four bytes", B({0xF0, 0x80, 0x80, 0xAF}), 4, 4, ""},
      {"overlong in four bytes, largest", B({0xF0, 0x8F, 0xBF, 0xBF}), 4, 4, ""},
      {"F5 and above lead nothing", B({0xF5, 0xF7, 0xF8, 0xFB, 0xFC, 0xFD}), 6, 6, ""},
      {"FE and FF", B({0xFE, 0xFF}), 2, 2, ""},
      {"five-byte form", B({0xF8, 0x88, 0x80, 0x80, 0x80}), 5, 5, ""},
      {"six-byte form", B({0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}), 6, 6, ""},
      {"beyond U+10FFFF", B({0xF4, 0x90, 0x80, 0x80}), 4, 4, ""},
      {"beyond U+10FFFF with F5", B({0xF5, 0x80, 0x80, 0x80}), 4, 4, ""},
      {"high surrogate", B({0xED, 0xA0, 0x80}), 3, 0, U16({0xD800})},
      {"low surrogate", B({0xED, 0xBF, 0xBF}), 3, 0, U16({0xDFFF})},
      {"surrogate pair in six bytes", B({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80}), 6, 0,
       U16({0xD83D, 0xDE00})},
      {"U+FFFE", B({0xEF, 0xBF, 0xBE}), 1, 1, ""},
      {"U+FFFF", B({0xEF, 0xBF, 0xBF}), 1, 1, ""},
      {"lead without continuation (two)", B({0xC3}), 1, 1, ""},
      {"lead without continuation (three)", B({0xE2}), 1, 1, ""},
      {"three-byte sequence cut after two", B({0xE2, 0x82}), 1, 1, ""},
      {"four-byte sequence cut after three", B({0xF0, 0x9F, 0x98}), 1, 1, ""},
      {"four-byte sequence cut after two", B({0xF4, 0x8F}), 1, 1, ""},
      {"a lead where a continuation belongs", B({0xE2, 0x82, 0xC3}), 2, 2, ""},
      {"a lead after a lead", B({0xC3, 0xC3}), 2, 2, ""},
      {"E0 followed by a byte below A0", B({0xE0, 0x9F, 0x80}), 3, 3, ""},
      {"F0 followed by a byte below 90", B({0xF0, 0x8F, 0x80}), 3, 3, ""},
      {"F4 followed by a byte above 8F", B({0xF4, 0x90}), 2, 2, ""},
  };
  for (const ClassCase& c : cases) {
    for (bool strict : {true, false}) {
      const std::uint32_t count = strict ? c.strict : c.loose;
      std::string expected = U16({'<'});
      if (!strict && !c.looseUnits.empty()) {
        expected += c.looseUnits;
      } else {
        for (std::uint32_t k = 0; k < count; ++k) expected += U16({0xFFFD});
      }
      const std::string input = "<" + c.bad + ">";
      // At the end of the input as well: the class then closes the file.
      for (const std::string& text : {input, "<" + c.bad}) {
        const std::string wanted = text == input ? expected + U16({'>'}) : expected;
        test::SingleCodecChain run(new CUtf8ToUtf16Filter(CodecOptions{strict}));
        const test::Outcome outcome = run.ConvertEveryWay(text, c.what);
        EXPECT_EQ(outcome.output, wanted) << c.what << (strict ? " strict" : " loose");
        EXPECT_EQ(outcome.errors, count) << c.what << (strict ? " strict" : " loose");
        // The reference agrees, which keeps it honest for the fuzz target.
        const reference::Decoded ref = reference::DecodeUtf8(
            reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), strict);
        EXPECT_EQ(ref.units, wanted) << c.what;
        EXPECT_EQ(ref.errors, count) << c.what;
      }
    }
  }
}

// Pieces random inputs are made of: whole characters of every length, every
// kind of bad sequence, and pieces that only make sense cut off.
const std::vector<std::string>& Utf8Pieces() {
  static const std::vector<std::string> pieces = {"a",
                                                  " ",
                                                  B({0xC3, 0xA9}),
                                                  B({0xE2, 0x82, 0xAC}),
                                                  B({0xF0, 0x9F, 0x98, 0x80}),
                                                  B({0xEF, 0xBB, 0xBF}),
                                                  B({0xED, 0x9F, 0xBF}),
                                                  B({0xF4, 0x8F, 0xBF, 0xBF}),
                                                  B({0x80}),
                                                  B({0xBF}),
                                                  B({0xC0}),
                                                  B({0xC1, 0xBF}),
                                                  B({0xE0, 0x80}),
                                                  B({0xED, 0xA0}),
                                                  B({0xED, 0xBF, 0xBF}),
                                                  B({0xEF, 0xBF, 0xBE}),
                                                  B({0xF0, 0x8F}),
                                                  B({0xF4, 0x90}),
                                                  B({0xF5}),
                                                  B({0xF8, 0x88}),
                                                  B({0xFC}),
                                                  B({0xFE}),
                                                  B({0xFF}),
                                                  B({0xC3}),
                                                  B({0xE2}),
                                                  B({0xE2, 0x82}),
                                                  B({0xF0}),
                                                  B({0xF0, 0x9F}),
                                                  B({0xF0, 0x9F, 0x98})};
  return pieces;
}

std::string RandomUtf8(std::mt19937& random) {
  std::string text;
  const std::size_t count = random() % 14;
  for (std::size_t k = 0; k < count; ++k) text += Utf8Pieces()[random() % Utf8Pieces().size()];
  return text;
}

std::string RandomBytes(std::mt19937& random) {
  std::string text;
  const std::size_t count = random() % 24;
  static const int kBytes[] = {0x00, 0x41, 0xD8, 0xDC, 0xFE, 0xFF, 0x10, 0x11, 0x80};
  for (std::size_t k = 0; k < count; ++k) {
    text += static_cast<char>(random() % 3 == 0 ? random() % 256 : kBytes[random() % 9]);
  }
  return text;
}

TEST(DecoderReferenceTest, RandomInputCutAnywhereAgreesWithTheReference) {
  std::mt19937 random(14);
  for (int round = 0; round < 400; ++round) {
    const int kind = round % 5;
    const bool strict = round % 10 < 5;
    const std::string input = kind == 0 ? RandomUtf8(random) : RandomBytes(random);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(input.data());
    CFilter* decoder = nullptr;
    reference::Decoded expected;
    const CodecOptions options{strict};
    switch (kind) {
      case 0:
        decoder = new CUtf8ToUtf16Filter(options);
        expected = reference::DecodeUtf8(bytes, input.size(), strict);
        break;
      case 1:
      case 2:
        decoder = new CUtf16ToUtf16InputFilter(kind == 2, options);
        expected = reference::DecodeUtf16(bytes, input.size(), kind == 2);
        break;
      default:
        decoder = new CUtf32ToUtf16Filter(kind == 4, options);
        expected = reference::DecodeUtf32(bytes, input.size(), kind == 4, strict);
        break;
    }
    test::SingleCodecChain run(decoder);
    const std::string what = "round " + std::to_string(round);
    const test::Outcome outcome = run.ConvertEveryWay(input, what);
    EXPECT_EQ(outcome.output, expected.units) << what;
    EXPECT_EQ(outcome.errors, expected.errors) << what;
  }
}

}  // namespace
}  // namespace ordana
