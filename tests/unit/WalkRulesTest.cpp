#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/WalkRules.h"

namespace ordana {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

struct ContentCase {
  const char* name;
  std::string bytes;
  ContentKind expected;
  bool nulsAreText;
};

TEST(WalkRulesTest, ClassifiesTheFirstBytesOfAFile) {
  const std::string zeros(100, '\0');
  const ContentCase cases[] = {
      {"empty", "", ContentKind::kText, false},
      {"plain text", "hello\nworld\n", ContentKind::kText, false},
      {"UTF-8 with mark", "\xef\xbb\xbfhello", ContentKind::kText, false},
      {"UTF-16LE with mark", std::string("\xff\xfeh\0i\0", 6), ContentKind::kText, false},
      {"UTF-16BE with mark", std::string("\xfe\xff\0h\0i", 6), ContentKind::kText, false},
      {"UTF-16LE without mark", std::string("h\0i\0!\0", 6), ContentKind::kText, false},
      {"UTF-16BE without mark", std::string("\0h\0i\0!", 6), ContentKind::kText, false},
      {"one UTF-16 character", std::string("a\0", 2), ContentKind::kText, false},
      {"UTF-32LE without mark", std::string("h\0\0\0i\0\0\0", 8), ContentKind::kText, false},
      {"UTF-32BE with mark", std::string("\0\0\xfe\xff\0\0\0h", 8), ContentKind::kText, false},
      {"UTF-32BE without mark", std::string("\0\0\0h\0\0\0i", 8), ContentKind::kText, false},
      {"NUL in text", std::string("text\0more", 9), ContentKind::kNulBytes, false},
      {"NUL first", std::string("\0\0\0\0data", 8), ContentKind::kNulBytes, false},
      {"NUL in a wide source", std::string("text\0more", 9), ContentKind::kText, true},
      {"NUL only beyond the sample", std::string(8192, 'a') + zeros, ContentKind::kText, false},
      {"NUL at the sample's end", std::string(8191, 'a') + zeros, ContentKind::kNulBytes, false},
      {"ELF",
       "\x7f"
       "ELF\x02\x01\x01",
       ContentKind::kExecutable, false},
      {"ELF in a wide source",
       "\x7f"
       "ELF\x02\x01\x01",
       ContentKind::kExecutable, true},
      {"Java class", "\xca\xfe\xba\xbe\x00\x00", ContentKind::kExecutable, false},
      {"PNG", "\x89PNG\r\n\x1a\nIHDR", ContentKind::kImage, false},
      {"JPEG", "\xff\xd8\xff\xe0", ContentKind::kImage, false},
      {"GIF", "GIF89a...", ContentKind::kImage, false},
      {"TIFF", std::string("II*\0", 4), ContentKind::kImage, false},
      {"WebP", "RIFF1234WEBPVP8 ", ContentKind::kImage, false},
      {"WAVE is no WebP", "RIFF1234WAVEfmt ", ContentKind::kText, false},
      {"WEBP without RIFF", "abcd1234WEBP", ContentKind::kText, false},
      {"zip", "PK\x03\x04\x14", ContentKind::kArchive, false},
      {"gzip", "\x1f\x8b\x08", ContentKind::kArchive, false},
      {"bzip2", "BZh91AY&SY\x01", ContentKind::kArchive, false},
      {"BZh as a word", "BZh91 is no archive", ContentKind::kText, false},
      {"xz",
       std::string("\xfd"
                   "7zXZ\0",
                   6),
       ContentKind::kArchive, false},
      {"7z", "7z\xbc\xaf\x27\x1c", ContentKind::kArchive, false},
      {"zstd", "\x28\xb5\x2f\xfd", ContentKind::kArchive, false},
      {"rar", "Rar!\x1a\x07\x01", ContentKind::kArchive, false},
      {"PDF", "%PDF-1.7\n", ContentKind::kDocument, false},
      {"text that starts like a signature", "PK is a name\n", ContentKind::kText, false},
      {"GIF alone is a word", "GIF", ContentKind::kText, false},
  };
  for (const ContentCase& c : cases) {
    const std::vector<std::uint8_t> data = Bytes(c.bytes);
    EXPECT_EQ(ClassifyContent(data.data(), data.size(), c.nulsAreText), c.expected) << c.name;
  }
}

TEST(WalkRulesTest, TemporaryFileNames) {
  const struct {
    const char16_t* name;
    bool temporary;
  } cases[] = {
      {u"odn1A2B.tmp", true},  {u"ODNF.TMP", true},      {u"odnffff.Tmp", true},
      {u"odn.tmp", false},     {u"odn12345.tmp", false}, {u"odnXYZ.tmp", false},
      {u"odn1A2B.txt", false}, {u"xodn1.tmp", false},    {u"odn1A2B.tmp.bak", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsTemporaryFileName(c.name), c.temporary) << std::string(c.name, c.name + 3);
  }
}

TEST(WalkRulesTest, VersionControlDirectories) {
  for (const char16_t* name : {u".git", u".hg", u".svn", u".GIT"}) {
    EXPECT_TRUE(IsVersionControlDirectory(name));
  }
  for (const char16_t* name : {u"git", u".github", u".gitignore", u"svn", u"."}) {
    EXPECT_FALSE(IsVersionControlDirectory(name));
  }
}

}  // namespace
}  // namespace ordana
