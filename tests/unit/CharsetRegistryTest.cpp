// Tests of the character set registry: its rows, the name lookup, the
// printable names and the two listings.  The expected rows below are the
// registry's published table (primary name, description, aliases in order),
// written out independently of CharsetRegistry.cpp.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "codecs/CharsetRegistry.h"

namespace ordana {
namespace {

struct ExpectedCharset {
  CharsetId id;
  std::u16string primary;
  std::u16string description;
  std::vector<std::u16string> aliases;
};

const std::vector<ExpectedCharset>& ExpectedCharsets() {
  static const std::vector<ExpectedCharset> charsets = {
      {0, u"ISO-8859-1", u"Latin-1, West European", {u"ISO 8859-1", u"Latin-1", u"Latin1"}},
      {1, u"ISO-8859-2", u"Latin-2, East European", {u"ISO 8859-2", u"Latin-2", u"Latin2"}},
      {2, u"ISO-8859-3", u"Latin-3, South European", {u"ISO 8859-3", u"Latin-3", u"Latin3"}},
      {3, u"ISO-8859-4", u"Latin-4, Baltic", {u"ISO 8859-4", u"Latin-4", u"Latin4"}},
      {4, u"ISO-8859-5", u"Cyrillic", {u"ISO 8859-5"}},
      {5, u"ISO-8859-6", u"Arabic", {u"ISO 8859-6"}},
      {6, u"ISO-8859-7", u"Greek", {u"ISO 8859-7"}},
      {7, u"ISO-8859-8", u"Hebrew", {u"ISO 8859-8"}},
      {8, u"ISO-8859-9", u"Latin-5, Turkish", {u"ISO 8859-9", u"Latin-5", u"Latin5"}},
      {9, u"ISO-8859-10", u"Latin-6, Nordic", {u"ISO 8859-10", u"Latin-6", u"Latin6"}},
      {10, u"ISO-8859-11", u"Thai", {u"ISO 8859-11", u"TIS-620"}},
      {11,
       u"ISO-8859-16",
       u"Latin-10, South Eastern European",
       {u"ISO 8859-16", u"Latin-10", u"Latin10"}},
      {12, u"ISO-8859-13", u"Latin-7, Baltic", {u"ISO 8859-13", u"Latin-7", u"Latin7"}},
      {13, u"ISO-8859-14", u"Latin-8, Celtic", {u"ISO 8859-14", u"Latin-8", u"Latin8"}},
      {14,
       u"ISO-8859-15",
       u"Latin-9, West European, Euro",
       {u"ISO 8859-15", u"Latin-9", u"Latin9"}},
      {15, u"Windows-874", u"Thai", {u"Windows 874", u"CP874"}},
      {16, u"Windows-1250", u"Central European", {u"Windows 1250", u"CP1250"}},
      {17, u"Windows-1251", u"Cyrillic", {u"Windows 1251", u"CP1251"}},
      {18, u"Windows-1252", u"Western European, ANSI", {u"Windows 1252", u"CP1252", u"Ansi"}},
      {19, u"Windows-1253", u"Greek", {u"Windows 1253", u"CP1253"}},
      {20, u"Windows-1254", u"Turkish", {u"Windows 1254", u"CP1254"}},
      {21, u"Windows-1255", u"Hebrew", {u"Windows 1255", u"CP1255"}},
      {22, u"Windows-1256", u"Arabic", {u"Windows 1256", u"CP1256"}},
      {23, u"Windows-1257", u"Baltic", {u"Windows 1257", u"CP1257"}},
      {24, u"Windows-1258", u"Vietnamese", {u"Windows 1258", u"CP1258"}},
      {25, u"DOS-437", u"DOS - US", {u"DOS 437", u"437", u"CP437"}},
      {26, u"DOS-737", u"DOS - Greek", {u"DOS 737", u"737", u"CP737"}},
      {27, u"DOS-775", u"DOS - Baltic", {u"DOS 775", u"775", u"CP775"}},
      {28, u"DOS-850", u"DOS - Latin 1", {u"DOS 850", u"850", u"CP850"}},
      {29, u"DOS-852", u"DOS - Latin 2", {u"DOS 852", u"852", u"CP852"}},
      {30, u"DOS-855", u"DOS - Cyrillic", {u"DOS 855", u"855", u"CP855"}},
      {31, u"DOS-857", u"DOS - Turkish", {u"DOS 857", u"857", u"CP857"}},
      {32, u"DOS-860", u"DOS - Portuguese", {u"DOS 860", u"860", u"CP860"}},
      {33, u"DOS-861", u"DOS - Icelandic", {u"DOS 861", u"861", u"CP861"}},
      {34, u"DOS-862", u"DOS - Hebrew", {u"DOS 862", u"862", u"CP862"}},
      {35, u"DOS-863", u"DOS - CanadaF", {u"DOS 863", u"863", u"CP863"}},
      {36, u"DOS-864", u"DOS - Arabic", {u"DOS 864", u"864", u"CP864"}},
      {37, u"DOS-865", u"DOS - Nordic", {u"DOS 865", u"865", u"CP865"}},
      {38, u"DOS-866", u"DOS - Cyrillic/Russian", {u"DOS 866", u"866", u"CP866"}},
      {39, u"DOS-869", u"DOS - Greek2", {u"DOS 869", u"869", u"CP869"}},
      {40, u"DOS-874", u"DOS - 874", {u"DOS 874", u"874", u"CP874"}},
      {41, u"MSMAC-CYRILLIC", u"Microsoft MAC - Cyrillic, CP 10007", {u"CP10007"}},
      {42, u"MSMAC-GREEK", u"Microsoft MAC - Greek, CP 10006", {u"CP10006"}},
      {43, u"MSMAC-ICELAND", u"Microsoft MAC - Icelandic, CP 10079", {u"CP10079"}},
      {44, u"MSMAC-LATIN2", u"Microsoft MAC - Latin 2, CP 10029", {u"CP10029"}},
      {45, u"MSMAC-ROMAN", u"Microsoft MAC - Roman, CP 10000", {u"CP10000"}},
      {46, u"MSMAC-TURKISH", u"Microsoft MAC - Turkish, CP 10081", {u"CP10081"}},
      {47, u"Apple-CENTEURO", u"Apple - Central European", {u"CENTEURO"}},
      {48, u"Apple-Roman", u"Apple - Roman", {}},
      {49, u"AtariST", u"AtariST", {}},
      {50, u"KOI8-R", u"Code for Information Exchange - Russian", {u"KOI8R"}},
      {51, u"KOI8-U", u"Code for Information Exchange - Ukrainian", {u"KOI8U"}},
      {52, u"CP856", u"CP856 - Hebrew", {u"856", u"DOS 856", u"DOS-856"}},
      {53,
       u"KZ-1048",
       u"KZ-1048/STRK1048-2002 - Kazakhstan",
       {u"KZ1048", u"RK1048", u"STRK1048-2002"}},
      {54, u"CP1006", u"IBM CP 1006 - English/Urdu - Pakistan", {u"CP-1006"}},
      {55, u"NeXT", u"NextStep, OpenStep", {u"openstep", u"nextstep"}},
      {56, u"EBCDIC-37", u"EBCDIC CP 37 - USA", {u"CP37"}},
      {57, u"EBCDIC-500", u"EBCDIC CP 500 - International", {u"CP500"}},
      {58, u"EBCDIC-875", u"EBCDIC CP 875 - Greek", {u"CP875"}},
      {59, u"EBCDIC-1026", u"EBCDIC CP 1026 - Turkish", {u"CP1026"}},
  };
  return charsets;
}

constexpr std::size_t kRegistryRowCount = 187;
constexpr std::size_t kNameCapacity = 32;
constexpr std::size_t kDescriptionCapacity = 48;

// Readable form of UTF-16 text for failure messages; non-ASCII as \uXXXX.
std::string Printable(const std::u16string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string result;
  for (char16_t unit : text) {
    if (unit == u'\r') {
      result += "\\r";
    } else if (unit == u'\n') {
      result += "\\n";
    } else if (unit == u'\t') {
      result += "\\t";
    } else if (unit >= 0x20 && unit < 0x7F) {
      result += static_cast<char>(unit);
    } else {
      result += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) {
        result += kHex[(unit >> shift) & 0xF];
      }
    }
  }
  return result;
}

// Length of a zero-terminated field, or `capacity` if it has no terminator.
std::size_t BoundedLength(const char16_t* field, std::size_t capacity) {
  std::size_t length = 0;
  while (length < capacity && field[length] != 0) {
    ++length;
  }
  return length;
}

std::u16string FieldText(const char16_t* field, std::size_t capacity) {
  return std::u16string(field, BoundedLength(field, capacity));
}

std::u16string AsciiUpper(std::u16string text) {
  for (char16_t& unit : text) {
    if (unit >= u'a' && unit <= u'z') {
      unit = static_cast<char16_t>(unit - u'a' + u'A');
    }
  }
  return text;
}

std::u16string AsciiLower(std::u16string text) {
  for (char16_t& unit : text) {
    if (unit >= u'A' && unit <= u'Z') {
      unit = static_cast<char16_t>(unit - u'A' + u'a');
    }
  }
  return text;
}

struct LookupResult {
  CharsetId id;
  std::u16string bufferAfter;
};

// Runs CharsetFromName on a 32-unit buffer that sits between canary units, so
// a write outside the buffer is caught.
LookupResult LookUp(const std::u16string& name) {
  constexpr char16_t kCanary = 0xA5A5;
  constexpr std::size_t kGuard = 8;
  std::vector<char16_t> storage(kGuard + kNameCapacity + kGuard, kCanary);
  char16_t* buffer = storage.data() + kGuard;
  EXPECT_LT(name.size(), kNameCapacity) << "test input does not fit the lookup buffer";
  for (std::size_t i = 0; i < kNameCapacity; ++i) {
    buffer[i] = i < name.size() ? name[i] : char16_t{0};
  }
  LookupResult result{CharsetFromName(buffer), FieldText(buffer, kNameCapacity)};
  for (std::size_t i = 0; i < kGuard; ++i) {
    EXPECT_EQ(storage[i], kCanary) << "write before the buffer for " << Printable(name);
    EXPECT_EQ(storage[kGuard + kNameCapacity + i], kCanary)
        << "write after the buffer for " << Printable(name);
  }
  return result;
}

// ---------------------------------------------------------------------------
// Rows

TEST(CharsetRegistryRows, MatchThePublishedTableInOrder) {
  std::size_t row = 0;
  for (const ExpectedCharset& charset : ExpectedCharsets()) {
    std::vector<std::u16string> names{charset.primary};
    names.insert(names.end(), charset.aliases.begin(), charset.aliases.end());
    for (std::size_t i = 0; i < names.size(); ++i, ++row) {
      ASSERT_LT(row, kRegistryRowCount);
      const CharsetEntry& entry = CharsetRegistry[row];
      SCOPED_TRACE("row " + std::to_string(row) + " " + Printable(names[i]));
      EXPECT_EQ(FieldText(entry.name, kNameCapacity), names[i]);
      EXPECT_EQ(entry.id, charset.id);
      EXPECT_EQ(entry.primary != 0, i == 0);
      EXPECT_EQ(FieldText(entry.description, kDescriptionCapacity),
                i == 0 ? charset.description : u"");
    }
  }
  EXPECT_EQ(row, kRegistryRowCount);
}

TEST(CharsetRegistryRows, EndWithOneEmptyTerminatingRow) {
  std::size_t count = 0;
  while (CharsetRegistry[count].name[0] != 0) {
    ++count;
    ASSERT_LT(count, sizeof CharsetRegistry / sizeof CharsetRegistry[0]);
  }
  EXPECT_EQ(count, kRegistryRowCount);
  EXPECT_EQ(sizeof CharsetRegistry / sizeof CharsetRegistry[0], kRegistryRowCount + 1);
}

TEST(CharsetRegistryRows, FieldsAreTerminatedAndZeroFilled) {
  for (std::size_t row = 0; row <= kRegistryRowCount; ++row) {
    const CharsetEntry& entry = CharsetRegistry[row];
    SCOPED_TRACE("row " + std::to_string(row));
    std::size_t nameLength = BoundedLength(entry.name, kNameCapacity);
    ASSERT_LT(nameLength, kNameCapacity);
    for (std::size_t i = nameLength; i < kNameCapacity; ++i) {
      EXPECT_EQ(entry.name[i], 0) << "name unit " << i;
    }
    std::size_t descriptionLength = BoundedLength(entry.description, kDescriptionCapacity);
    ASSERT_LT(descriptionLength, kDescriptionCapacity);
    for (std::size_t i = descriptionLength; i < kDescriptionCapacity; ++i) {
      EXPECT_EQ(entry.description[i], 0) << "description unit " << i;
    }
  }
}

TEST(CharsetRegistryRows, IdsAscendWithThePrimaryRowFirst) {
  std::vector<int> primaryRows(kSingleByteCharsetCount, 0);
  std::size_t primaryCount = 0;
  for (std::size_t row = 0; row < kRegistryRowCount; ++row) {
    const CharsetEntry& entry = CharsetRegistry[row];
    SCOPED_TRACE("row " + std::to_string(row) + " " +
                 Printable(FieldText(entry.name, kNameCapacity)));
    ASSERT_LT(entry.id, static_cast<CharsetId>(kSingleByteCharsetCount));
    EXPECT_TRUE(entry.primary == 0 || entry.primary == 1) << entry.primary;
    const bool firstOfId = row == 0 || CharsetRegistry[row - 1].id != entry.id;
    if (row > 0) {
      const CharsetId previous = CharsetRegistry[row - 1].id;
      EXPECT_TRUE(entry.id == previous || entry.id == previous + 1)
          << "id " << entry.id << " follows " << previous;
    } else {
      EXPECT_EQ(entry.id, 0u);
    }
    EXPECT_EQ(entry.primary != 0, firstOfId);
    EXPECT_EQ(entry.description[0] != 0, entry.primary != 0);
    if (entry.primary != 0) {
      ++primaryRows[entry.id];
      ++primaryCount;
    }
  }
  EXPECT_EQ(primaryCount, static_cast<std::size_t>(kSingleByteCharsetCount));
  for (int id = 0; id < kSingleByteCharsetCount; ++id) {
    EXPECT_EQ(primaryRows[id], 1) << "id " << id;
  }
  EXPECT_EQ(CharsetRegistry[kRegistryRowCount - 1].id,
            static_cast<CharsetId>(kSingleByteCharsetCount - 1));
}

TEST(CharsetRegistryRows, OnlyCp874IsListedTwice) {
  std::multiset<std::u16string> folded;
  for (std::size_t row = 0; row < kRegistryRowCount; ++row) {
    folded.insert(AsciiLower(FieldText(CharsetRegistry[row].name, kNameCapacity)));
  }
  for (const std::u16string& name : std::set<std::u16string>(folded.begin(), folded.end())) {
    EXPECT_EQ(folded.count(name), name == u"cp874" ? 2u : 1u) << Printable(name);
  }
}

// ---------------------------------------------------------------------------
// CharsetFromName

struct NameCase {
  std::u16string input;
  CharsetId expectedId;
  std::u16string expectedBuffer;  // what the buffer holds afterwards
};

void PrintTo(const NameCase& nameCase, std::ostream* out) {
  *out << '"' << Printable(nameCase.input) << '"';
}

class CharsetFromNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(CharsetFromNameTest, ReturnsIdAndLeavesExpectedBuffer) {
  const NameCase& c = GetParam();
  LookupResult result = LookUp(c.input);
  EXPECT_EQ(result.id, c.expectedId);
  EXPECT_EQ(Printable(result.bufferAfter), Printable(c.expectedBuffer));
}

INSTANTIATE_TEST_SUITE_P(
    UnicodeForms, CharsetFromNameTest,
    testing::Values(NameCase{u"UTF8", 100, u"utf-8"}, NameCase{u"Utf 8", 100, u"utf-8"},
                    NameCase{u"utf-8", 100, u"utf-8"}, NameCase{u"UTF-8", 100, u"utf-8"},
                    NameCase{u"utf 16", 101, u"utf-16"}, NameCase{u"UTF-16", 101, u"utf-16"},
                    NameCase{u"Utf16", 101, u"utf-16"}, NameCase{u"UTF-16BE", 102, u"utf-16be"},
                    NameCase{u"utf 16be", 102, u"utf-16be"}, NameCase{u"utf16BE", 102, u"utf-16be"},
                    NameCase{u"UTF-32", 103, u"utf-32"}, NameCase{u"utf32", 103, u"utf-32"},
                    NameCase{u"UTF 32", 103, u"utf-32"}, NameCase{u"UTF-32BE", 104, u"utf-32be"},
                    NameCase{u"Utf32be", 104, u"utf-32be"},
                    NameCase{u"utf 32BE", 104, u"utf-32be"}));

// Other tools' spellings of the Unicode forms read as the form itself.
INSTANTIATE_TEST_SUITE_P(
    OtherUnicodeSpellings, CharsetFromNameTest,
    testing::Values(NameCase{u"UTF-16LE", 101, u"utf-16"}, NameCase{u"UTF16LE", 101, u"utf-16"},
                    NameCase{u"utf_8", 100, u"utf-8"}, NameCase{u"ucs-2", 101, u"utf-16"},
                    NameCase{u"UCS-2BE", 102, u"utf-16be"}, NameCase{u"utf-32le", 103, u"utf-32"},
                    NameCase{u"UTF_32LE", 103, u"utf-32"}, NameCase{u"ucs-4be", 104, u"utf-32be"},
                    NameCase{u"utf--8", 100, u"utf-8"}, NameCase{u"Unicode", 101, u"utf-16"}));

INSTANTIATE_TEST_SUITE_P(UnrecognisedUnicodeSpellings, CharsetFromNameTest,
                         testing::Values(NameCase{u"utf-8 ", kCharsetUnknown, u"utf-8 "},
                                         NameCase{u" utf-8", kCharsetUnknown, u" utf-8"},
                                         NameCase{u"utf", kCharsetUnknown, u"utf"},
                                         NameCase{u"utf-", kCharsetUnknown, u"utf-"},
                                         NameCase{u"utf-7", kCharsetUnknown, u"utf-7"},
                                         NameCase{u"ucs-4", kCharsetUnknown, u"ucs-4"}));

// Everyday names of other tools and the IANA list name the sets they mean,
// and are not rewritten.
INSTANTIATE_TEST_SUITE_P(
    EverydayNames, CharsetFromNameTest,
    testing::Values(
        NameCase{u"IBM850", 28, u"IBM850"}, NameCase{u"ibm866", 38, u"ibm866"},
        NameCase{u"IBM437", 25, u"IBM437"}, NameCase{u"MACINTOSH", 48, u"MACINTOSH"},
        NameCase{u"MacRoman", 48, u"MacRoman"}, NameCase{u"ISO8859-15", 14, u"ISO8859-15"},
        NameCase{u"ISO_8859-15", 14, u"ISO_8859-15"}, NameCase{u"iso885915", 14, u"iso885915"},
        NameCase{u"koi8_r", 50, u"koi8_r"}, NameCase{u"CP037", 56, u"CP037"},
        NameCase{u"IBM037", 56, u"IBM037"}, NameCase{u"WIN1252", 18, u"WIN1252"},
        NameCase{u"win-1251", 17, u"win-1251"}, NameCase{u"windows_1250", 16, u"windows_1250"},
        NameCase{u"IBM1026", 59, u"IBM1026"}, NameCase{u"x-mac-cyrillic", 41, u"x-mac-cyrillic"},
        NameCase{u"tis620", 10, u"tis620"}, NameCase{u"cp819", 0, u"cp819"},
        // "CP874" names two sets; every spelling of it finds the first row.
        NameCase{u"IBM874", 15, u"IBM874"}, NameCase{u"cp_874", 15, u"cp_874"}));

TEST(LookUpCharset, AsciiNamesAreLatin1ForReadingOnly) {
  for (const std::u16string name : {u"ASCII", u"us-ascii", u"US_ASCII", u"ANSI_X3.4-1968"}) {
    std::u16string buffer = name;
    buffer.resize(32, 0);
    const CharsetLookup found = LookUpCharset(buffer.data());
    EXPECT_TRUE(found.known) << Printable(name);
    EXPECT_TRUE(found.sourceOnly) << Printable(name);
    EXPECT_EQ(found.id, 0u) << Printable(name);
  }
  std::u16string latin1 = u"latin1";
  latin1.resize(32, 0);
  EXPECT_FALSE(LookUpCharset(latin1.data()).sourceOnly);
}

// The chain has a decoder for every id the lookup gives: a single-byte set,
// a Unicode form or the detection. (The chain assembly has no other way out:
// a name the lookup does not know is refused before any chain is built.)
TEST(LookUpCharset, EveryKnownNameIsASetTheChainCanRead) {
  std::vector<std::u16string> names = {u"auto",  u"AUTO",  u"utf8",   u"UTF-16BE", u"utf_32le",
                                       u"UCS-2", u"ASCII", u"ibm850", u"win1252"};
  for (const CharsetEntry* entry = CharsetRegistry; entry->name[0] != 0; ++entry) {
    names.emplace_back(entry->name);
  }
  for (const std::u16string& name : names) {
    std::u16string buffer = name;
    buffer.resize(32, 0);
    const CharsetLookup found = LookUpCharset(buffer.data());
    if (!found.known) continue;  // refused before the chain is built
    const bool singleByte = found.id < static_cast<CharsetId>(kSingleByteCharsetCount);
    const bool unicode = found.id >= kCharsetUtf8 && found.id <= kCharsetUtf32Be;
    EXPECT_TRUE(singleByte || unicode || found.id == kCharsetAuto)
        << Printable(name) << " " << found.id;
  }
}

struct ClosestCase {
  std::u16string unknown;
  std::vector<std::u16string> firstNames;  // expected at the front, in order
};

TEST(ClosestCharsetNames, SuggestsTheNamesATypingSlipCameFrom) {
  const ClosestCase cases[] = {
      {u"utf-9", {u"utf-8"}},
      {u"windows-12522", {u"Windows-1252"}},
      {u"koi8-x", {u"KOI8-R"}},
      {u"latin-11", {u"Latin-1"}},
  };
  for (const ClosestCase& c : cases) {
    const std::vector<std::u16string> names = ClosestCharsetNames(c.unknown.c_str(), 3);
    ASSERT_GE(names.size(), c.firstNames.size()) << Printable(c.unknown);
    for (std::size_t i = 0; i < c.firstNames.size(); ++i) {
      EXPECT_EQ(AsciiLower(names[i]), AsciiLower(c.firstNames[i])) << Printable(c.unknown);
    }
    EXPECT_LE(names.size(), 3u);
  }
  EXPECT_TRUE(ClosestCharsetNames(u"qqqqqqqqqqqqqqqqq", 3).empty());
  EXPECT_TRUE(ClosestCharsetNames(u"", 3).empty());
}

INSTANTIATE_TEST_SUITE_P(
    RegistryNames, CharsetFromNameTest,
    testing::Values(
        NameCase{u"latin1", 0, u"latin1"}, NameCase{u"LATIN-1", 0, u"LATIN-1"},
        NameCase{u"iso 8859-1", 0, u"iso 8859-1"}, NameCase{u"ISO-8859-1", 0, u"ISO-8859-1"},
        NameCase{u"ansi", 18, u"ansi"}, NameCase{u"CP874", 15, u"CP874"},
        NameCase{u"cp874", 15, u"cp874"}, NameCase{u"DOS 874", 40, u"DOS 874"},
        NameCase{u"874", 40, u"874"}, NameCase{u"DOS-856", 52, u"DOS-856"},
        NameCase{u"Latin-10", 11, u"Latin-10"}, NameCase{u"latin10", 11, u"latin10"},
        NameCase{u"latin-9", 14, u"latin-9"}, NameCase{u"OPENSTEP", 55, u"OPENSTEP"},
        NameCase{u"strk1048-2002", 53, u"strk1048-2002"}, NameCase{u"cp-1006", 54, u"cp-1006"},
        NameCase{u"ebcdic-1026", 59, u"ebcdic-1026"}, NameCase{u"centeuro", 47, u"centeuro"},
        NameCase{u"apple-roman", 48, u"apple-roman"}));

INSTANTIATE_TEST_SUITE_P(
    AutoAndUnknownNames, CharsetFromNameTest,
    testing::Values(NameCase{u"AUTO", 1000, u"AUTO"}, NameCase{u"auto", 1000, u"auto"},
                    NameCase{u"automatic", kCharsetUnknown, u"automatic"},
                    NameCase{u"aut", kCharsetUnknown, u"aut"},
                    NameCase{u"ISO-8859-99", kCharsetUnknown, u"ISO-8859-99"},
                    NameCase{u"ISO-8859-1 ", kCharsetUnknown, u"ISO-8859-1 "},
                    NameCase{u"Windows-125", kCharsetUnknown, u"Windows-125"},
                    NameCase{u"Windows-12520", kCharsetUnknown, u"Windows-12520"},
                    NameCase{u"", kCharsetUnknown, u""},
                    // Only ASCII letters are folded: a dotted capital I or a Kelvin sign
                    // never stands in for an ASCII letter.
                    NameCase{u"\u0130SO-8859-2", kCharsetUnknown, u"\u0130SO-8859-2"},
                    NameCase{u"\u212AOI8-R", kCharsetUnknown, u"\u212AOI8-R"},
                    NameCase{u"utf-\uFF18", kCharsetUnknown, u"utf-\uFF18"}));

TEST(CharsetFromName, EveryRegistryNameInAnyAsciiCaseFindsTheFirstRowWithIt) {
  std::vector<std::pair<std::u16string, CharsetId>> firstIds;
  for (const ExpectedCharset& charset : ExpectedCharsets()) {
    std::vector<std::u16string> names{charset.primary};
    names.insert(names.end(), charset.aliases.begin(), charset.aliases.end());
    for (const std::u16string& name : names) {
      bool seen = false;
      for (const auto& earlier : firstIds) {
        seen = seen || AsciiLower(earlier.first) == AsciiLower(name);
      }
      if (!seen) {
        firstIds.emplace_back(name, charset.id);
      }
    }
  }
  ASSERT_EQ(firstIds.size(), kRegistryRowCount - 1);  // "CP874" counts once
  for (const auto& [name, id] : firstIds) {
    for (const std::u16string& spelling : {name, AsciiUpper(name), AsciiLower(name)}) {
      LookupResult result = LookUp(spelling);
      EXPECT_EQ(result.id, id) << Printable(spelling);
      EXPECT_EQ(result.bufferAfter, spelling) << "a registry name is not rewritten";
    }
  }
}

TEST(CharsetFromName, LongNameInALargerBufferIsUnknownAndUntouched) {
  std::u16string name(200, u'a');
  name.replace(0, 5, u"utf-8");  // the Unicode form followed by more text
  std::vector<char16_t> buffer(name.begin(), name.end());
  buffer.push_back(0);
  EXPECT_EQ(CharsetFromName(buffer.data()), kCharsetUnknown);
  EXPECT_EQ(std::u16string(buffer.data()), name);
}

// ---------------------------------------------------------------------------
// CharsetName

struct PrintableNameCase {
  CharsetId id;
  std::u16string expected;
};

class CharsetNameTest : public testing::TestWithParam<PrintableNameCase> {};

TEST_P(CharsetNameTest, FillsBufferAndReturnsIt) {
  const PrintableNameCase& c = GetParam();
  char16_t buffer[64];
  for (char16_t& unit : buffer) {
    unit = u'#';  // a stale name from an earlier call
  }
  char16_t* returned = CharsetName(c.id, buffer);
  EXPECT_EQ(returned, buffer);
  EXPECT_EQ(Printable(FieldText(buffer, 64)), Printable(c.expected)) << "id " << c.id;
}

INSTANTIATE_TEST_SUITE_P(
    Ids, CharsetNameTest,
    testing::Values(PrintableNameCase{18, u"Windows-1252"}, PrintableNameCase{102, u"utf-16be"},
                    PrintableNameCase{1000, u""}, PrintableNameCase{100, u"utf-8"},
                    PrintableNameCase{101, u"utf-16"}, PrintableNameCase{103, u"utf-32"},
                    PrintableNameCase{104, u"utf-32be"}, PrintableNameCase{0, u"ISO-8859-1"},
                    PrintableNameCase{15, u"Windows-874"}, PrintableNameCase{40, u"DOS-874"},
                    PrintableNameCase{59, u"EBCDIC-1026"}, PrintableNameCase{60, u""},
                    PrintableNameCase{99, u""}, PrintableNameCase{105, u""},
                    PrintableNameCase{0xFFFFFFFFu, u""}));

TEST(CharsetName, GivesThePrimaryNameOfEverySingleByteSet) {
  for (const ExpectedCharset& charset : ExpectedCharsets()) {
    char16_t buffer[64] = {};
    CharsetName(charset.id, buffer);
    EXPECT_EQ(FieldText(buffer, 64), charset.primary) << "id " << charset.id;
  }
}

TEST(CharsetName, NamesLookUpToTheirOwnId) {
  std::vector<CharsetId> ids = {100, 101, 102, 103, 104};
  for (CharsetId id = 0; id < static_cast<CharsetId>(kSingleByteCharsetCount); ++id) {
    ids.push_back(id);
  }
  for (CharsetId id : ids) {
    char16_t buffer[64] = {};
    CharsetName(id, buffer);
    EXPECT_EQ(LookUp(FieldText(buffer, 64)).id, id) << Printable(FieldText(buffer, 64));
  }
}

// ---------------------------------------------------------------------------
// Listings

struct Capture {
  std::vector<std::u16string> lines;
  int calls = 0;
};

void CaptureLine(const char16_t* line, void* context) {
  auto* capture = static_cast<Capture*>(context);
  capture->lines.emplace_back(line);
  ++capture->calls;
}

const std::vector<std::u16string> kUnicodeBlock = {
    u"UTF-16\r\n", u"UTF-16BE\r\n", u"UTF-8\r\n", u"UTF-32\r\n", u"UTF-32BE\r\n",
};

void ExpectWellFormedLines(const std::vector<std::u16string>& lines) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::u16string& line = lines[i];
    ASSERT_GE(line.size(), 2u) << "line " << i;
    EXPECT_EQ(line.substr(line.size() - 2), u"\r\n") << "line " << i;
    EXPECT_EQ(line.find_first_of(u"\r\n"), line.size() - 2)
        << "line " << i << " has an inner line break: " << Printable(line);
  }
}

TEST(CharsetListing, ListsTheUnicodeFormsThenEveryRowThenAnEmptyLine) {
  Capture capture;
  WriteCharsetListing(CaptureLine, &capture);
  std::vector<std::u16string> expected = kUnicodeBlock;
  for (const ExpectedCharset& charset : ExpectedCharsets()) {
    expected.push_back(charset.primary + u"\r\n");
    for (const std::u16string& alias : charset.aliases) {
      expected.push_back(alias + u"\r\n");
    }
  }
  expected.push_back(u"\r\n");

  ASSERT_EQ(capture.lines.size(), 5u + 187u + 1u);
  EXPECT_EQ(capture.calls, 193);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(Printable(capture.lines[i]), Printable(expected[i])) << "line " << i;
  }
  EXPECT_EQ(Printable(capture.lines[5]), "ISO-8859-1\\r\\n");
  EXPECT_EQ(Printable(capture.lines[191]), "CP1026\\r\\n");
  int cp874 = 0;
  int names = 0;
  for (const std::u16string& line : capture.lines) {
    cp874 += line == u"CP874\r\n";
    names += line != u"\r\n";
  }
  EXPECT_EQ(cp874, 2);
  EXPECT_EQ(names, 192);
  ExpectWellFormedLines(capture.lines);
}

TEST(CharsetCsvListing, ListsTheUnicodeFormsThenPrimaryNamesWithDescriptions) {
  Capture capture;
  WriteCharsetCsvListing(CaptureLine, &capture);
  std::vector<std::u16string> expected = kUnicodeBlock;
  for (const ExpectedCharset& charset : ExpectedCharsets()) {
    expected.push_back(charset.primary + u"\t" + charset.description + u"\r\n");
  }
  expected.push_back(u"\r\n");

  ASSERT_EQ(capture.lines.size(), 5u + 60u + 1u);
  EXPECT_EQ(capture.calls, 66);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(Printable(capture.lines[i]), Printable(expected[i])) << "line " << i;
  }
  EXPECT_EQ(Printable(capture.lines[5]), "ISO-8859-1\\tLatin-1, West European\\r\\n");
  EXPECT_EQ(Printable(capture.lines[64]), "EBCDIC-1026\\tEBCDIC CP 1026 - Turkish\\r\\n");
  for (std::size_t i = 0; i < capture.lines.size(); ++i) {
    const std::size_t tabs = std::count(capture.lines[i].begin(), capture.lines[i].end(), u'\t');
    EXPECT_EQ(tabs, (i >= 5 && i < 65) ? 1u : 0u) << "line " << i;
  }
  ExpectWellFormedLines(capture.lines);
}

}  // namespace
}  // namespace ordana
