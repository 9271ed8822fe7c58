// Tests of the 60 byte-to-UTF-16 tables.  Expected values come from the
// published mapping tables, the documented differences from them, and
// glibc's own converters, never from the generated file itself.

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "codecs/CharsetRegistry.h"

namespace ordana {
namespace {

constexpr std::uint32_t kNoMapping = 0xFFFF;
constexpr std::uint32_t kSeveralCharacters = 0xFFFFFFFFu;  // glibc produced more than one

std::uint32_t Table(int id, int byte) { return CodePageTable[id][byte]; }

std::string Hex(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
  return text;
}

std::string Unit(std::uint32_t value) {
  if (value == kNoMapping) {
    return "no mapping";
  }
  if (value == kSeveralCharacters) {
    return "several characters";
  }
  return "U+" + Hex(value, 4);
}

// ---------------------------------------------------------------------------
// Single bytes that identify a table, and the documented differences from the
// published mapping files.

struct ByteCase {
  int id;
  int byte;
  std::uint32_t expected;
  const char* why;
};

void PrintTo(const ByteCase& c, std::ostream* out) {
  *out << "id " << c.id << " byte 0x" << Hex(static_cast<std::uint32_t>(c.byte), 2) << " (" << c.why
       << ")";
}

class CodePageByteTest : public testing::TestWithParam<ByteCase> {};

TEST_P(CodePageByteTest, MapsToExpectedUnit) {
  const ByteCase& c = GetParam();
  EXPECT_EQ(Unit(Table(c.id, c.byte)), Unit(c.expected));
}

INSTANTIATE_TEST_SUITE_P(TellingRows, CodePageByteTest,
                         testing::Values(ByteCase{18, 0x80, 0x20AC, "Windows-1252 euro sign"},
                                         ByteCase{18, 0x81, kNoMapping, "Windows-1252 hole"},
                                         ByteCase{18, 0x8D, kNoMapping, "Windows-1252 hole"},
                                         ByteCase{18, 0x8F, kNoMapping, "Windows-1252 hole"},
                                         ByteCase{18, 0x90, kNoMapping, "Windows-1252 hole"},
                                         ByteCase{18, 0x9D, kNoMapping, "Windows-1252 hole"},
                                         ByteCase{14, 0xA4, 0x20AC, "ISO-8859-15 euro sign"},
                                         ByteCase{0, 0xA4, 0x00A4, "ISO-8859-1 currency sign"},
                                         ByteCase{56, 0xC1, 0x0041, "EBCDIC-37 capital A"},
                                         ByteCase{56, 0x40, 0x0020, "EBCDIC-37 space"},
                                         ByteCase{25, 0xDB, 0x2588, "DOS-437 full block"}));

INSTANTIATE_TEST_SUITE_P(
    Differences, CodePageByteTest,
    testing::Values(ByteCase{10, 0xA0, kNoMapping, "ISO-8859-11 without NBSP, as TIS-620"},
                    ByteCase{10, 0xA1, 0x0E01, "ISO-8859-11 first Thai letter stays"},
                    ByteCase{36, 0x25, 0x0025, "DOS-864 plain percent sign"},
                    ByteCase{41, 0xA2, 0x00A2, "MSMAC-CYRILLIC cent sign"},
                    ByteCase{41, 0xB6, 0x2202, "MSMAC-CYRILLIC partial differential"},
                    ByteCase{41, 0xFF, 0x00A4, "MSMAC-CYRILLIC currency sign"},
                    ByteCase{42, 0x9C, 0x00AD, "MSMAC-GREEK soft hyphen"},
                    ByteCase{42, 0xAF, 0x0387, "MSMAC-GREEK ano teleia"},
                    ByteCase{42, 0xFF, kNoMapping, "MSMAC-GREEK unassigned"},
                    ByteCase{43, 0xBD, 0x2126, "MSMAC-ICELAND ohm sign"},
                    ByteCase{43, 0xDB, 0x00A4, "MSMAC-ICELAND currency sign"},
                    ByteCase{43, 0xF0, kNoMapping, "MSMAC-ICELAND no Apple logo"},
                    ByteCase{45, 0xBD, 0x2126, "MSMAC-ROMAN ohm sign"},
                    ByteCase{45, 0xDB, 0x00A4, "MSMAC-ROMAN currency sign"},
                    ByteCase{45, 0xF0, kNoMapping, "MSMAC-ROMAN no Apple logo"},
                    ByteCase{46, 0xBD, 0x2126, "MSMAC-TURKISH ohm sign"},
                    ByteCase{46, 0xF0, kNoMapping, "MSMAC-TURKISH no Apple logo"},
                    ByteCase{46, 0xF5, kNoMapping, "MSMAC-TURKISH unassigned"},
                    // Apple-Roman keeps the Apple file's values where MSMAC-ROMAN differs.
                    ByteCase{48, 0xBD, 0x03A9, "Apple-Roman capital omega"},
                    ByteCase{48, 0xDB, 0x20AC, "Apple-Roman euro sign"},
                    ByteCase{48, 0xF0, 0xF8FF, "Apple-Roman Apple logo (private use)"}));

INSTANTIATE_TEST_SUITE_P(SharedCodeUnits, CodePageByteTest,
                         testing::Values(ByteCase{54, 0xB1, 0xFE8E, "CP1006 alef final"},
                                         ByteCase{54, 0xB2, 0xFE8E, "CP1006 alef final again"},
                                         ByteCase{55, 0xFE, 0xFFFD, "NeXT replacement character"},
                                         ByteCase{55, 0xFF, 0xFFFD,
                                                  "NeXT replacement character again"},
                                         ByteCase{58, 0x3F, 0x001A, "EBCDIC-875 SUB"},
                                         ByteCase{58, 0xDC, 0x001A, "EBCDIC-875 SUB"},
                                         ByteCase{58, 0xE1, 0x001A, "EBCDIC-875 SUB"},
                                         ByteCase{58, 0xEC, 0x001A, "EBCDIC-875 SUB"},
                                         ByteCase{58, 0xED, 0x001A, "EBCDIC-875 SUB"},
                                         ByteCase{58, 0xFC, 0x001A, "EBCDIC-875 SUB"},
                                         ByteCase{58, 0xFD, 0x001A, "EBCDIC-875 SUB"}));

TEST(CodePageTables, Dos874IsWindows874) {
  for (int byte = 0; byte < 256; ++byte) {
    EXPECT_EQ(Table(40, byte), Table(15, byte)) << "byte " << byte;
  }
}

TEST(CodePageTables, Iso88591IsTheFirst256CodePoints) {
  for (int byte = 0; byte < 256; ++byte) {
    EXPECT_EQ(Table(0, byte), static_cast<std::uint32_t>(byte));
  }
}

TEST(CodePageTables, LowHalfIsAsciiExceptInEbcdic) {
  const std::set<int> ebcdic = {56, 57, 58, 59};
  for (int id = 0; id < kSingleByteCharsetCount; ++id) {
    int identical = 0;
    for (int byte = 0; byte < 0x80; ++byte) {
      identical += Table(id, byte) == static_cast<std::uint32_t>(byte);
    }
    if (ebcdic.count(id) != 0) {
      EXPECT_LT(identical, 0x80) << "id " << id << " should not be ASCII";
    } else {
      EXPECT_EQ(identical, 0x80) << "id " << id;
    }
  }
}

TEST(CodePageTables, NoEntryIsASurrogate) {
  for (int id = 0; id < kSingleByteCharsetCount; ++id) {
    for (int byte = 0; byte < 256; ++byte) {
      const std::uint32_t unit = Table(id, byte);
      EXPECT_FALSE(unit >= 0xD800 && unit <= 0xDFFF)
          << "id " << id << " byte " << byte << " " << Unit(unit);
    }
  }
}

// Only three tables send several bytes to one code unit, and only these bytes.
TEST(CodePageTables, OnlyTheKnownBytesShareACodeUnit) {
  const std::map<int, std::set<int>> expected = {
      {54, {0xB1, 0xB2}},
      {55, {0xFE, 0xFF}},
      {58, {0x3F, 0xDC, 0xE1, 0xEC, 0xED, 0xFC, 0xFD}},
  };
  for (int id = 0; id < kSingleByteCharsetCount; ++id) {
    std::map<std::uint32_t, std::set<int>> bytesByUnit;
    for (int byte = 0; byte < 256; ++byte) {
      if (Table(id, byte) != kNoMapping) {
        bytesByUnit[Table(id, byte)].insert(byte);
      }
    }
    std::set<int> shared;
    for (const auto& entry : bytesByUnit) {
      if (entry.second.size() > 1) {
        shared.insert(entry.second.begin(), entry.second.end());
      }
    }
    const auto found = expected.find(id);
    EXPECT_EQ(shared, found == expected.end() ? std::set<int>{} : found->second) << "id " << id;
  }
}

// ---------------------------------------------------------------------------
// The two sets without a published mapping file: bytes 0x80..0xFF, one row of
// sixteen per high nibble.

const std::uint16_t kAtariStHigh[8][16] = {
    {0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
     0x00EE, 0x00EC, 0x00C4, 0x00C5},
    {0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2,
     0x00A3, 0x00A5, 0x00DF, 0x0192},
    {0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD,
     0x00BC, 0x00A1, 0x00AB, 0x00BB},
    {0x00E3, 0x00F5, 0x00D8, 0x00F8, 0x0153, 0x0152, 0x00C0, 0x00C3, 0x00D5, 0x00A8, 0x00B4, 0x2020,
     0x00B6, 0x00A9, 0x00AE, 0x2122},
    {0x0133, 0x0132, 0x05D0, 0x05D1, 0x05D2, 0x05D3, 0x05D4, 0x05D5, 0x05D6, 0x05D7, 0x05D8, 0x05D9,
     0x05DB, 0x05DC, 0x05DE, 0x05E0},
    {0x05E1, 0x05E2, 0x05E4, 0x05E6, 0x05E7, 0x05E8, 0x05E9, 0x05EA, 0x05DF, 0x05DA, 0x05DD, 0x05E3,
     0x05E5, 0x00A7, 0x2227, 0x221E},
    {0x03B1, 0x03B2, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
     0x222E, 0x03C6, 0x2208, 0x2229},
    {0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A,
     0x207F, 0x00B2, 0x00B3, 0x00AF},
};

const std::uint16_t kNextHigh[8][16] = {
    {0x00A0, 0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB,
     0x00CC, 0x00CD, 0x00CE, 0x00CF},
    {0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD,
     0x00DE, 0x00B5, 0x00D7, 0x00F7},
    {0x00A9, 0x00A1, 0x00A2, 0x00A3, 0x2044, 0x00A5, 0x0192, 0x00A7, 0x00A4, 0x2019, 0x201C, 0x00AB,
     0x2039, 0x203A, 0xFB01, 0xFB02},
    {0x00AE, 0x2013, 0x2020, 0x2021, 0x00B7, 0x00A6, 0x00B6, 0x2022, 0x201A, 0x201E, 0x201D, 0x00BB,
     0x2026, 0x2030, 0x00AC, 0x00BF},
    {0x00B9, 0x02CB, 0x00B4, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x00A8, 0x00B2, 0x02DA, 0x00B8,
     0x00B3, 0x02DD, 0x02DB, 0x02C7},
    {0x2014, 0x00B1, 0x00BC, 0x00BD, 0x00BE, 0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E7,
     0x00E8, 0x00E9, 0x00EA, 0x00EB},
    {0x00EC, 0x00C6, 0x00ED, 0x00AA, 0x00EE, 0x00EF, 0x00F0, 0x00F1, 0x0141, 0x00D8, 0x0152, 0x00BA,
     0x00F2, 0x00F3, 0x00F4, 0x00F5},
    {0x00F6, 0x00E6, 0x00F9, 0x00FA, 0x00FB, 0x0131, 0x00FC, 0x00FD, 0x0142, 0x00F8, 0x0153, 0x00DF,
     0x00FE, 0x00FF, 0xFFFD, 0xFFFD},
};

void ExpectHighHalf(int id, const std::uint16_t (&high)[8][16]) {
  for (int byte = 0x80; byte < 0x100; ++byte) {
    EXPECT_EQ(Unit(Table(id, byte)), Unit(high[(byte >> 4) - 8][byte & 0xF]))
        << "id " << id << " byte 0x" << Hex(static_cast<std::uint32_t>(byte), 2);
  }
}

TEST(CodePageTables, AtariStHighHalf) { ExpectHighHalf(49, kAtariStHigh); }

TEST(CodePageTables, NextHighHalf) { ExpectHighHalf(55, kNextHigh); }

// ---------------------------------------------------------------------------
// Every table against glibc's converter for the same set.

struct GlibcReference {
  int id;
  const char* glibcName;    // nullptr: glibc has no converter for the set
  const char* uncheckable;  // why, when glibcName is nullptr
};

const GlibcReference kGlibcReferences[kSingleByteCharsetCount] = {
    {0, "ISO-8859-1", nullptr},
    {1, "ISO-8859-2", nullptr},
    {2, "ISO-8859-3", nullptr},
    {3, "ISO-8859-4", nullptr},
    {4, "ISO-8859-5", nullptr},
    {5, "ISO-8859-6", nullptr},
    {6, "ISO-8859-7", nullptr},
    {7, "ISO-8859-8", nullptr},
    {8, "ISO-8859-9", nullptr},
    {9, "ISO-8859-10", nullptr},
    {10, "ISO-8859-11", nullptr},
    {11, "ISO-8859-16", nullptr},
    {12, "ISO-8859-13", nullptr},
    {13, "ISO-8859-14", nullptr},
    {14, "ISO-8859-15", nullptr},
    {15, "WINDOWS-874", nullptr},
    {16, "CP1250", nullptr},
    {17, "CP1251", nullptr},
    {18, "CP1252", nullptr},
    {19, "CP1253", nullptr},
    {20, "CP1254", nullptr},
    {21, "CP1255", nullptr},
    {22, "CP1256", nullptr},
    {23, "CP1257", nullptr},
    {24, "CP1258", nullptr},
    {25, "IBM437", nullptr},
    {26, "CP737", nullptr},
    {27, "IBM775", nullptr},
    {28, "IBM850", nullptr},
    {29, "IBM852", nullptr},
    {30, "IBM855", nullptr},
    {31, "IBM857", nullptr},
    {32, "IBM860", nullptr},
    {33, "IBM861", nullptr},
    {34, "IBM862", nullptr},
    {35, "IBM863", nullptr},
    {36, "IBM864", nullptr},
    {37, "IBM865", nullptr},
    {38, "IBM866", nullptr},
    {39, "IBM869", nullptr},
    {40, "WINDOWS-874", nullptr},
    {41, "CP10007", nullptr},
    {42, nullptr, "glibc has no Macintosh Greek converter"},
    {43, "MAC-IS", nullptr},
    {44, "MAC-CENTRALEUROPE", nullptr},
    {45, "MACINTOSH", nullptr},
    {46, nullptr, "glibc has no Macintosh Turkish converter"},
    {47, "MAC-CENTRALEUROPE", nullptr},
    {48, "MACINTOSH", nullptr},
    {49, nullptr, "glibc has no Atari ST converter"},
    {50, "KOI8-R", nullptr},
    {51, "KOI8-U", nullptr},
    {52, "IBM856", nullptr},
    {53, "RK1048", nullptr},
    {54, nullptr, "glibc has no IBM 1006 (Urdu) converter"},
    {55, nullptr, "glibc has no NeXTSTEP converter"},
    {56, "IBM037", nullptr},
    {57, "IBM500", nullptr},
    {58, "IBM875", nullptr},
    {59, "IBM1026", nullptr},
};

// Bytes where our table and glibc decode differently, on purpose or because
// glibc follows another revision of the set.
struct ExpectedDisagreement {
  int id;
  int byte;
  std::uint32_t ours;
  std::uint32_t glibc;
  const char* reason;
};

const ExpectedDisagreement kExpectedDisagreements[] = {
    {10, 0xA0, kNoMapping, 0x00A0,
     "we leave 0xA0 unassigned as TIS-620 does; glibc follows 8859-11's NBSP"},
    {36, 0x25, 0x0025, 0x066A, "we keep ASCII '%'; glibc follows the file's ARABIC PERCENT SIGN"},
    {41, 0xB6, 0x2202, 0x0491,
     "code page 10007 has PARTIAL DIFFERENTIAL; glibc's CP10007 has Apple's later GHE WITH UPTURN"},
    {43, 0xA0, 0x00DD, 0x2020,
     "glibc's MAC-IS is an older layout that keeps the Roman DAGGER where Apple's Icelandic has Y "
     "ACUTE"},
    {43, 0xBD, 0x2126, 0x03A9, "code page 10079 has OHM SIGN; glibc uses GREEK CAPITAL OMEGA"},
    {43, 0xC6, 0x2206, 0x0394, "Apple's file has INCREMENT; glibc uses GREEK CAPITAL DELTA"},
    {43, 0xD0, 0x2013, 0x2014, "glibc's MAC-IS swaps EN DASH and EM DASH"},
    {43, 0xD1, 0x2014, 0x2013, "glibc's MAC-IS swaps EN DASH and EM DASH"},
    {43, 0xD7, 0x25CA, 0x25C6, "Apple's file has LOZENGE; glibc uses BLACK DIAMOND"},
    {43, 0xDC, 0x00D0, 0x0110, "Apple's file has capital ETH; glibc uses D WITH STROKE"},
    {43, 0xDD, 0x00F0, 0x0111, "Apple's file has small eth; glibc uses d with stroke"},
    {43, 0xE0, 0x00FD, 0x2021,
     "glibc's older layout keeps the Roman DOUBLE DAGGER where Apple's Icelandic has y acute"},
    {43, 0xF0, kNoMapping, 0xE01E,
     "code page 10079 has no Apple logo; glibc maps it to private use U+E01E"},
    {43, 0xF6, 0x02C6, kNoMapping, "glibc's older MAC-IS leaves MODIFIER CIRCUMFLEX unassigned"},
    {43, 0xF7, 0x02DC, kNoMapping, "glibc's older MAC-IS leaves SMALL TILDE unassigned"},
    {45, 0xBD, 0x2126, 0x03A9,
     "code page 10000 has OHM SIGN; glibc follows Apple's GREEK CAPITAL OMEGA"},
    {45, 0xC6, 0x2206, 0x0394, "Apple's file has INCREMENT; glibc uses GREEK CAPITAL DELTA"},
    {45, 0xDB, 0x00A4, 0x20AC, "code page 10000 predates the euro; glibc has Apple's EURO SIGN"},
    {45, 0xF0, kNoMapping, 0xE01E,
     "code page 10000 has no Apple logo; glibc maps it to private use U+E01E"},
    {48, 0xC6, 0x2206, 0x0394, "Apple's file has INCREMENT; glibc uses GREEK CAPITAL DELTA"},
    {48, 0xF0, 0xF8FF, 0xE01E,
     "Apple's file puts its logo at U+F8FF; glibc uses private use U+E01E"},
    {52, 0x1A, 0x001A, 0x001C,
     "the CP856 file keeps ASCII controls; glibc's IBM856 rotates 0x1A, 0x1C, 0x7F"},
    {52, 0x1C, 0x001C, 0x007F,
     "the CP856 file keeps ASCII controls; glibc's IBM856 rotates 0x1A, 0x1C, 0x7F"},
    {52, 0x7F, 0x007F, 0x001A,
     "the CP856 file keeps ASCII controls; glibc's IBM856 rotates 0x1A, 0x1C, 0x7F"},
    {52, 0xEE, 0x00AF, 0x203E, "the CP856 file has MACRON; glibc's IBM table has OVERLINE"},
    {52, 0xFA, 0x00B7, 0x2022, "the CP856 file has MIDDLE DOT; glibc's IBM table has BULLET"},
    {58, 0x6A, 0x007C, kNoMapping,
     "Microsoft's CP875 maps 0x6A to VERTICAL LINE; glibc's IBM875 leaves it unassigned"},
    {58, 0x74, 0x00A0, 0x2207, "Microsoft's CP875 has NO-BREAK SPACE; glibc's IBM875 has NABLA"},
    {58, 0xDC, 0x001A, kNoMapping,
     "Microsoft's CP875 maps unassigned positions to SUB; glibc leaves them unassigned"},
    {58, 0xDD, 0x0387, 0x00B7, "Microsoft's CP875 has GREEK ANO TELEIA; glibc has MIDDLE DOT"},
    {58, 0xE1, 0x001A, kNoMapping,
     "Microsoft's CP875 maps unassigned positions to SUB; glibc leaves them unassigned"},
    {58, 0xEC, 0x001A, kNoMapping,
     "Microsoft's CP875 maps unassigned positions to SUB; glibc leaves them unassigned"},
    {58, 0xED, 0x001A, kNoMapping,
     "Microsoft's CP875 maps unassigned positions to SUB; glibc leaves them unassigned"},
    {58, 0xFC, 0x001A, kNoMapping,
     "Microsoft's CP875 maps unassigned positions to SUB; glibc leaves them unassigned"},
    {58, 0xFD, 0x001A, kNoMapping,
     "Microsoft's CP875 maps unassigned positions to SUB; glibc leaves them unassigned"},
    {59, 0x9D, 0x00B8, 0x02DB, "Microsoft's CP1026 has CEDILLA; glibc's IBM1026 has OGONEK"},
    {59, 0xBC, 0x00AF, 0x2014, "Microsoft's CP1026 has MACRON; glibc's IBM1026 has EM DASH"},
};

class Iconv {
 public:
  Iconv(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) {
      iconv_close(handle_);
    }
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // Converts `input` from a fresh state, flushing any character the
  // converter holds back (CP1255 and CP1258 wait for combining marks).
  // Returns false when glibc reports the input as unconvertible.
  bool Convert(const std::string& input, std::string* output) {
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    std::string in = input;
    char buffer[64];
    char* inPointer = in.empty() ? nullptr : &in[0];
    std::size_t inLeft = in.size();
    char* outPointer = buffer;
    std::size_t outLeft = sizeof buffer;
    if (iconv(handle_, &inPointer, &inLeft, &outPointer, &outLeft) ==
        static_cast<std::size_t>(-1)) {
      return false;
    }
    if (iconv(handle_, nullptr, nullptr, &outPointer, &outLeft) == static_cast<std::size_t>(-1)) {
      return false;
    }
    output->assign(buffer, static_cast<std::size_t>(outPointer - buffer));
    return true;
  }

 private:
  iconv_t handle_;
};

std::string Ucs4Le(std::uint32_t codePoint) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) {
    bytes[static_cast<std::size_t>(i)] = static_cast<char>((codePoint >> (8 * i)) & 0xFF);
  }
  return bytes;
}

std::uint32_t GlibcDecode(Iconv& decoder, int byte) {
  std::string output;
  if (!decoder.Convert(std::string(1, static_cast<char>(byte)), &output) || output.empty()) {
    return kNoMapping;
  }
  if (output.size() != 4) {
    return kSeveralCharacters;
  }
  std::uint32_t codePoint = 0;
  for (int i = 3; i >= 0; --i) {
    codePoint = (codePoint << 8) | static_cast<unsigned char>(output[static_cast<std::size_t>(i)]);
  }
  return codePoint;
}

class GlibcCrossCheck : public testing::TestWithParam<int> {};

TEST_P(GlibcCrossCheck, AllBytesDecodeAsGlibcDecodesThemExceptListed) {
  const int id = GetParam();
  const GlibcReference& reference = kGlibcReferences[id];
  ASSERT_EQ(reference.id, id) << "kGlibcReferences is out of order";
  if (reference.glibcName == nullptr) {
    GTEST_SKIP() << "id " << id << " not independently checkable: " << reference.uncheckable;
  }
  Iconv decoder("UCS-4LE", reference.glibcName);
  ASSERT_TRUE(decoder.ok()) << "glibc has no converter " << reference.glibcName;

  std::map<int, std::pair<std::uint32_t, std::uint32_t>> expected;  // byte -> (ours, glibc)
  for (const ExpectedDisagreement& d : kExpectedDisagreements) {
    if (d.id == id) {
      expected[d.byte] = {d.ours, d.glibc};
    }
  }
  std::map<int, std::pair<std::uint32_t, std::uint32_t>> actual;
  for (int byte = 0; byte < 256; ++byte) {
    const std::uint32_t theirs = GlibcDecode(decoder, byte);
    if (theirs != Table(id, byte)) {
      actual[byte] = {Table(id, byte), theirs};
    }
  }
  for (const auto& [byte, pair] : actual) {
    const auto listed = expected.find(byte);
    EXPECT_TRUE(listed != expected.end() && listed->second == pair)
        << reference.glibcName << " byte 0x" << Hex(static_cast<std::uint32_t>(byte), 2)
        << ": ours " << Unit(pair.first) << ", glibc " << Unit(pair.second);
  }
  for (const auto& [byte, pair] : expected) {
    EXPECT_EQ(actual.count(byte), 1u)
        << "listed disagreement at byte 0x" << Hex(static_cast<std::uint32_t>(byte), 2) << " (ours "
        << Unit(pair.first) << ", glibc " << Unit(pair.second) << ") no longer occurs";
  }
}

TEST_P(GlibcCrossCheck, GlibcEncodesEveryAgreedUnitToAByteThatDecodesBack) {
  const int id = GetParam();
  const GlibcReference& reference = kGlibcReferences[id];
  if (reference.glibcName == nullptr) {
    GTEST_SKIP() << "id " << id << " not independently checkable: " << reference.uncheckable;
  }
  Iconv decoder("UCS-4LE", reference.glibcName);
  Iconv encoder(reference.glibcName, "UCS-4LE");
  ASSERT_TRUE(decoder.ok() && encoder.ok()) << "glibc has no converter " << reference.glibcName;
  int checked = 0;
  for (int byte = 0; byte < 256; ++byte) {
    const std::uint32_t unit = Table(id, byte);
    if (unit == kNoMapping || GlibcDecode(decoder, byte) != unit) {
      continue;  // unmapped, or a listed decoding disagreement
    }
    std::string encoded;
    const bool converted = encoder.Convert(Ucs4Le(unit), &encoded);
    ASSERT_TRUE(converted && encoded.size() == 1)
        << reference.glibcName << " cannot encode " << Unit(unit);
    EXPECT_EQ(Unit(Table(id, static_cast<unsigned char>(encoded[0]))), Unit(unit))
        << reference.glibcName << " encodes " << Unit(unit) << " as 0x"
        << Hex(static_cast<unsigned char>(encoded[0]), 2);
    ++checked;
  }
  EXPECT_GT(checked, 128);
}

INSTANTIATE_TEST_SUITE_P(AllSingleByteSets, GlibcCrossCheck,
                         testing::Range(0, kSingleByteCharsetCount),
                         [](const testing::TestParamInfo<int>& paramInfo) {
                           return "Id" + std::to_string(paramInfo.param);
                         });

TEST(GlibcCrossCheckList, DisagreementsAreSortedUniqueAndOnCheckableSets) {
  for (std::size_t i = 0; i < sizeof kExpectedDisagreements / sizeof kExpectedDisagreements[0];
       ++i) {
    const ExpectedDisagreement& d = kExpectedDisagreements[i];
    ASSERT_GE(d.id, 0);
    ASSERT_LT(d.id, kSingleByteCharsetCount);
    EXPECT_NE(kGlibcReferences[d.id].glibcName, nullptr) << "id " << d.id;
    EXPECT_NE(d.ours, d.glibc) << "id " << d.id << " byte " << d.byte;
    if (i > 0) {
      const ExpectedDisagreement& previous = kExpectedDisagreements[i - 1];
      EXPECT_TRUE(previous.id < d.id || (previous.id == d.id && previous.byte < d.byte))
          << "entry " << i;
    }
  }
}

}  // namespace
}  // namespace ordana
