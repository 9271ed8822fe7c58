#include <gtest/gtest.h>

#include <string>

#include "core/TextEscaping.h"
#include "platform/Platform.h"

namespace ordana {
namespace {

std::string N(const std::u16string& s) { return platform::ToNative(s.c_str(), s.size()); }

TEST(TextEscapingTest, ControlCharactersAreShownAsEscapes) {
  struct Case {
    std::u16string text;
    std::u16string shown;
  };
  const Case cases[] = {
      {u"/srv/plain name.txt", u"/srv/plain name.txt"},
      {u"C:\\dir\\file.txt", u"C:\\dir\\file.txt"},
      {u"a\tb\nc\rd", u"a\\tb\\nc\\rd"},
      {u"\x1b[2J\x1b]0;owned\x07", u"\\x1b[2J\\x1b]0;owned\\x07"},
      {std::u16string(1, u'\0') + u"z", u"\\x00z"},
      {u"\x1f\x7f", u"\\x1f\\x7f"},
      {u"\u0080\u009b\u009f\u00a0\u00e9", u"\\u0080\\u009b\\u009f\u00a0\u00e9"},
      {u"x\u2028y\u2029z", u"x\\u2028y\\u2029z"},
      {u"\u202egnp.exe", u"\\u202egnp.exe"},
      {u"\u200e\u200f\u202a\u202b\u202c\u202d\u2066\u2067\u2068\u2069",
       u"\\u200e\\u200f\\u202a\\u202b\\u202c\\u202d\\u2066\\u2067\\u2068\\u2069"},
      {u"\u200d\u2030\u2065\u206a", u"\u200d\u2030\u2065\u206a"},
      // Units that cannot stand alone; a pair is a character.
      {u"caf\xDCE9", u"caf\uFFFD"},
      {u"\xD800", u"\uFFFD"},
      {u"\xDC00\xD800", u"\uFFFD\uFFFD"},
      {u"\xD83D\xDE00", u"\xD83D\xDE00"},
      {u"\xD83D\xD83D\xDE00", u"\uFFFD\xD83D\xDE00"},
      {u"", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(EscapeForDisplay(c.text), c.shown) << N(c.shown);
}

TEST(TextEscapingTest, WellFormedChangesOnlyLoneSurrogates) {
  EXPECT_EQ(MakeWellFormed(u"a\tb\x1b\xDC80\xD800\xDC00\xDBFF"),
            u"a\tb\x1b\uFFFD\xD800\xDC00\uFFFD");
}

TEST(TextEscapingTest, EveryUnitEitherPassesOrIsEscapedAway) {
  // No unit that NeedsEscape, and no unpaired surrogate, survives.
  for (std::uint32_t u = 0; u <= 0xFFFF; ++u) {
    const std::u16string shown = EscapeForDisplay(std::u16string(1, static_cast<char16_t>(u)));
    for (char16_t unit : shown) {
      ASSERT_FALSE(NeedsEscape(unit)) << u;
      ASSERT_FALSE(unit >= 0xD800 && unit <= 0xDFFF) << u;
    }
    if (!NeedsEscape(static_cast<char16_t>(u)) && !(u >= 0xD800 && u <= 0xDFFF)) {
      ASSERT_EQ(shown, std::u16string(1, static_cast<char16_t>(u))) << u;
    }
  }
}

}  // namespace
}  // namespace ordana
