// The strict UTF-8 rule (platform/Utf8.h) against its definition, and the
// POSIX seam's FromNative, which applies it to names and text the system
// hands over as bytes.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/Utf8.h"

namespace ordana::platform {
namespace {

// The shortest form of a scalar value, written out from the bit layout.
std::vector<std::uint8_t> Encode(char32_t v) {
  if (v < 0x80) return {static_cast<std::uint8_t>(v)};
  if (v < 0x800) {
    return {static_cast<std::uint8_t>(0xC0 | v >> 6), static_cast<std::uint8_t>(0x80 | (v & 0x3F))};
  }
  if (v < 0x10000) {
    return {static_cast<std::uint8_t>(0xE0 | v >> 12),
            static_cast<std::uint8_t>(0x80 | (v >> 6 & 0x3F)),
            static_cast<std::uint8_t>(0x80 | (v & 0x3F))};
  }
  return {static_cast<std::uint8_t>(0xF0 | v >> 18),
          static_cast<std::uint8_t>(0x80 | (v >> 12 & 0x3F)),
          static_cast<std::uint8_t>(0x80 | (v >> 6 & 0x3F)),
          static_cast<std::uint8_t>(0x80 | (v & 0x3F))};
}

bool IsScalarValue(char32_t v) { return v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF); }

TEST(Utf8SequenceTest, EveryScalarValueDecodesFromItsShortestForm) {
  for (char32_t v = 0; v <= 0x10FFFF; ++v) {
    if (!IsScalarValue(v)) continue;
    const std::vector<std::uint8_t> bytes = Encode(v);
    char32_t got = 0xFFFFFFFF;
    ASSERT_EQ(DecodeUtf8Sequence(bytes.data(), bytes.size(), &got), static_cast<int>(bytes.size()))
        << std::hex << v;
    ASSERT_EQ(got, v);
    // Every proper prefix is a cut-off sequence, and leaves the value alone.
    for (std::size_t n = 1; n < bytes.size(); ++n) {
      char32_t untouched = 0x12345;
      ASSERT_EQ(DecodeUtf8Sequence(bytes.data(), n, &untouched), kUtf8Truncated) << std::hex << v;
      ASSERT_EQ(untouched, 0x12345u);
    }
  }
}

// Every lead byte with every second byte (the later bytes continuation
// bytes 80, or BF): accepted exactly when the bit layout gives a scalar value
// in its shortest form.
TEST(Utf8SequenceTest, EveryLeadAndSecondByteFollowTheBitLayout) {
  for (int lead = 0x80; lead <= 0xFF; ++lead) {
    int length = 0;
    char32_t payload = 0;
    if ((lead & 0xE0) == 0xC0) {
      length = 2, payload = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, payload = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, payload = lead & 0x07;
    }
    for (int second = 0; second <= 0xFF; ++second) {
      for (const std::uint8_t filler : {std::uint8_t{0x80}, std::uint8_t{0xBF}}) {
        const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(lead),
                                       static_cast<std::uint8_t>(second), filler, filler};
        bool expected = length != 0 && (second & 0xC0) == 0x80;
        char32_t v = payload;
        for (int k = 1; expected && k < length; ++k) v = v << 6 | (bytes[k] & 0x3F);
        const char32_t shortest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        expected = expected && v >= shortest && IsScalarValue(v);
        char32_t got = 0;
        const int result = DecodeUtf8Sequence(bytes, 4, &got);
        if (expected) {
          ASSERT_EQ(result, length) << std::hex << lead << ' ' << second << ' ' << +filler;
          ASSERT_EQ(got, v);
        } else {
          ASSERT_EQ(result, kUtf8Malformed) << std::hex << lead << ' ' << second << ' ' << +filler;
        }
      }
    }
  }
}

TEST(Utf8SequenceTest, ALaterByteThatIsNoContinuationEndsTheSequence) {
  const char32_t values[] = {0x800, 0xFFFF, 0xD7FF, 0xE000, 0x10000, 0x10FFFF};
  for (const char32_t v : values) {
    const std::vector<std::uint8_t> good = Encode(v);
    for (std::size_t k = 1; k < good.size(); ++k) {
      for (const std::uint8_t bad : {0x00, 0x41, 0x7F, 0xC0, 0xC2, 0xF4, 0xFF}) {
        std::vector<std::uint8_t> bytes = good;
        bytes[k] = bad;
        char32_t got = 0;
        EXPECT_EQ(DecodeUtf8Sequence(bytes.data(), bytes.size(), &got), kUtf8Malformed)
            << std::hex << v << " byte " << k << " = " << +bad;
      }
    }
  }
}

std::u16string FromBytes(const std::string& bytes) {
  return FromNative(bytes.data(), bytes.size());
}

TEST(FromNativeTest, MalformedBytesTravelAsLoneSurrogatesAndComeBack) {
  if (!kPosixConventions) GTEST_SKIP() << "Windows names are UTF-16 already";
  struct Case {
    std::string bytes;
    std::u16string text;
  };
  const Case cases[] = {
      {"a\xC3\xA9z", u"a\u00E9z"},
      {"\xED\x9F\xBF", u"\uD7FF"},
      {"\xEE\x80\x80", u"\uE000"},
      {"\xEF\xBF\xBF", u"\uFFFF"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {"\xF0\x90\x80\x80", u"\U00010000"},
      // Encoded surrogates, overlong forms, values beyond U+10FFFF.
      {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},
      {"\xED\xBF\xBF", u"\xDCED\xDCBF\xDCBF"},
      {"\xC0\x80", u"\xDCC0\xDC80"},
      {"\xC1\xBF", u"\xDCC1\xDCBF"},
      {"\xE0\x9F\xBF", u"\xDCE0\xDC9F\xDCBF"},
      {"\xF0\x8F\xBF\xBF", u"\xDCF0\xDC8F\xDCBF\xDCBF"},
      {"\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},
      // F5..F7 would lead four bytes in the old layout; here they lead none.
      {"\xF5\x80\x80\x80", u"\xDCF5\xDC80\xDC80\xDC80"},
      {"\xF6\x80\x80\x80", u"\xDCF6\xDC80\xDC80\xDC80"},
      {"\xF7\xBF\xBF\xBF", u"\xDCF7\xDCBF\xDCBF\xDCBF"},
      {"\xF8\x88\x80\x80\x80", u"\xDCF8\xDC88\xDC80\xDC80\xDC80"},
      // Cut off by the end of the name, then the next byte starts afresh.
      {"x\xE2\x82", u"x\xDCE2\xDC82"},
      {"\xE2\x82"
       "A",
       u"\xDCE2\xDC82"
       u"A"},
      {"\xF0\x9F\x98", u"\xDCF0\xDC9F\xDC98"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FromBytes(c.bytes), c.text) << c.bytes;
    const std::u16string text = FromBytes(c.bytes);
    EXPECT_EQ(ToNative(text.c_str(), text.size()), c.bytes);
  }
}

TEST(FromNativeTest, EveryTwoByteNameRoundTrips) {
  if (!kPosixConventions) GTEST_SKIP() << "Windows names are UTF-16 already";
  for (int a = 1; a < 256; ++a) {
    for (int b = 1; b < 256; ++b) {
      const std::string bytes{static_cast<char>(a), static_cast<char>(b)};
      const std::u16string text = FromBytes(bytes);
      ASSERT_EQ(ToNative(text.c_str(), text.size()), bytes) << a << ' ' << b;
    }
  }
}

}  // namespace
}  // namespace ordana::platform
