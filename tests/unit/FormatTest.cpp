#include <gtest/gtest.h>

#include "core/Format.h"
#include "platform/Platform.h"

namespace ordana {
namespace {

std::string N(const std::u16string& s) { return platform::ToNative(s.c_str(), s.size()); }

struct Case {
  std::u16string expected;
  std::u16string actual;
};

TEST(FormatTest, SpecifiersTheProgramUses) {
  const Case cases[] = {
      {u"2026-12-06 09:05:03,0042 (2): ",
       Format(u"%04u-%02u-%02u %02u:%02u:%02u,%04u (%d): ", 2026u, 12u, 6u, 9u, 5u, 3u, 42u, 2)},
      {u"Filter (12 Bytes) in \"NUL\", Enabled: 1",
       Format(u"Filter (%d Bytes) in \"%s\", Enabled: %d", 12u, u"NUL", 1)},
      {u"Memory allocation error in wmain:660",
       Format(u"Memory allocation error in %S:%d", "wmain", 660)},
      {u"abcd", Format(u"%.4S", "abcdefgh")},
      {u"ab", Format(u"%.4S", "ab")},
      {u"x=41", Format(u"x=%x", 0x41)},
      {u"X=FF", Format(u"X=%X", 255u)},
      {u"0a", Format(u"%02x", 10)},
      {u"00e9", Format(u"%04x", 0xE9)},
      {u"0x0a", Format(u"%#04x", 10)},
      {u"0000", Format(u"%#04x", 0)},
      {u"0x1234", Format(u"%#04x", 0x1234)},
      {u"18446744073709551615", Format(u"%I64u", UINT64_C(18446744073709551615))},
      {u"4294967296", Format(u"%I64u", UINT64_C(4294967296))},
      {u"1000.000 ms", Format(u"%.3f ms", 1000.0)},
      {u"1.001", Format(u"%.3f", 1.001)},
      {u"0.1235", Format(u"%.4f", 0.12345)},
      {u"-7", Format(u"%d", -7)},
      {u"4294967295", Format(u"%u", -1)},
      {u"-1", Format(u"%d", 0xFFFFFFFFu)},
      {u"=Q", Format(u"=%c", u'Q')},
      {u"100%", Format(u"100%%")},
      {u"[  42]", Format(u"[%4d]", 42)},
      {u"[42  ]", Format(u"[%-4d]", 42)},
      {u"[-042]", Format(u"[%04d]", -42)},
      {u"\u00e9t\u00e9", Format(u"%s", u"\u00e9t\u00e9")},
  };
  for (const Case& c : cases) EXPECT_EQ(N(c.expected), N(c.actual));
}

TEST(FormatTest, UserTextIsNeverInterpreted) {
  // A path full of specifiers is printed as it is.
  EXPECT_EQ(N(Format(u"Input: %s\r\n", u"%s%n%d%%.txt")), "Input: %s%n%d%%.txt\r\n");
}

TEST(FormatTest, MissingAndMismatchedArgumentsAreHarmless) {
  EXPECT_EQ(N(Format(u"a%sb%dc")), "abc");
  EXPECT_EQ(N(Format(u"%d", u"text")), "text");
  EXPECT_EQ(N(Format(u"%s", 12)), "12");
  EXPECT_EQ(N(Format(u"%s", static_cast<const char16_t*>(nullptr))), "(null)");
  EXPECT_EQ(N(Format(u"trailing %")), "trailing %");
  EXPECT_EQ(N(Format(u"%q", 5)), "%q");
}

TEST(FormatTest, LongOutputIsNotCut) {
  std::u16string big(10000, u'x');
  EXPECT_EQ(Format(u"<%s>", big).size(), 10002u);
}

TEST(FormatTest, CaseInsensitiveComparison) {
  EXPECT_TRUE(EqualsIgnoreCase(u"\\\\.\\conin$", u"\\\\.\\CONIN$"));
  EXPECT_FALSE(EqualsIgnoreCase(u"/nobomx", u"/nobom"));
  EXPECT_TRUE(StartsWithIgnoreCase(u"/SCS=x", u"/scs="));
  EXPECT_FALSE(StartsWithIgnoreCase(u"/sc", u"/scs="));
}

}  // namespace
}  // namespace ordana
