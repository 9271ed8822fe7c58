#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/CommandLine.h"
#include "app/CsvReport.h"
#include "app/Settings.h"
#include "codecs/CharsetRegistry.h"

namespace ordana {
namespace {

std::string N(const std::u16string& s) { return platform::ToNative(s.c_str(), s.size()); }

// The bytes of a UTF-16LE text.
std::string Le(const std::u16string& text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

const std::string kBom = "\xFF\xFE";

StatusRecord MakeRecord(const std::u16string& path, std::uint64_t size, CharsetId source,
                        CharsetId destination, std::uint32_t decoderErrors,
                        std::uint32_t encoderErrors, std::uint64_t start, std::uint64_t end) {
  StatusRecord record{};
  for (std::size_t k = 0; k < path.size(); ++k) record.inputPath[k] = path[k];
  record.totalSize = size;
  record.decoderCharset = source;
  record.encoderCharset = destination;
  record.decoderErrors = decoderErrors;
  record.encoderErrors = encoderErrors;
  record.startTime = start;
  record.endTime = end;
  SetStatusState(&record, kStatusDone);
  return record;
}

TEST(CsvLineTest, Format) {
  const std::uint64_t t0 = 133000000000000000ull;  // a FILETIME in 2022
  struct Case {
    StatusRecord record;
    const char* line;
  };
  const Case cases[] = {
      {MakeRecord(u"/data/a.txt", 1234, kCharsetUtf16, kCharsetUtf8, 0, 0, t0, t0 + 15000000),
       "/data/a.txt\t1234\tutf-16\tutf-8\t0\t0\t1500\r\n"},
      // A console or pipe input has no size.
      {MakeRecord(u"\\\\.\\CONIN$", 0, kCharsetUtf8, kCharsetUtf16Be, 3, 4, t0, t0 + 9999),
       "\\\\.\\CONIN$\t0\tutf-8\tutf-16be\t3\t4\t0\r\n"},
      // Single-byte sets by their primary names; unknown ids stay empty.
      {MakeRecord(u"b", 18446744073709551615ull, 0, 999, 4294967295u, 1, t0, t0 + 10000),
       "b\t18446744073709551615\tISO-8859-1\t\t4294967295\t1\t1\r\n"},
      // A path with a TAB is quoted, the TAB escaped: still seven fields.
      {MakeRecord(u"c d\t", 5, kCharsetAuto, kCharsetUtf32Be, 0, 0, t0, t0 + 600000000000ull),
       "\"c d\\t\"\t5\t\tutf-32be\t0\t0\t60000000\r\n"},
      // A clock set back during the conversion does not make it last for ages.
      {MakeRecord(u"e", 1, kCharsetUtf32, kCharsetUtf32, 0, 0, t0, t0 - 10000),
       "e\t1\tutf-32\tutf-32\t0\t0\t0\r\n"},
      {MakeRecord(u"\u00e4\u20ac", 2, kCharsetUtf16, kCharsetUtf16, 0, 0, 0, 0),
       "\xC3\xA4\xE2\x82\xAC\t2\tutf-16\tutf-16\t0\t0\t0\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(N(FormatCsvLine(c.record)), c.line);
  EXPECT_EQ(N(FormatCsvLine(cases[0].record, u';')), "/data/a.txt;1234;utf-16;utf-8;0;0;1500\r\n");
}

// Whatever a name holds, a record is one line of seven fields, and the text
// is well-formed UTF-16.
TEST(CsvLineTest, PathsAreQuotedAndEscapedWhereNeeded) {
  struct Case {
    std::u16string path;
    char16_t separator;
    std::u16string field;
  };
  const Case cases[] = {
      {u"/plain/name.txt", u'\t', u"/plain/name.txt"},
      {u"C:\\dir\\a b.txt", u'\t', u"C:\\dir\\a b.txt"},  // backslashes alone need nothing
      {u"a\tb", u'\t', u"\"a\\tb\""},
      {u"a\r\nb", u'\t', u"\"a\\r\\nb\""},
      {u"\x1b[31mred", u'\t', u"\"\\x1b[31mred\""},
      {u"x\x7f\x01", u'\t', u"\"x\\x7f\\x01\""},
      {u"n\u0085\u2028\u202e", u'\t', u"\"n\\u0085\\u2028\\u202e\""},
      {u"say \"hi\"", u'\t', u"\"say \"\"hi\"\"\""},
      // In quotes a backslash is doubled, so that the escapes can be undone.
      {u"dir\\\n", u'\t', u"\"dir\\\\\\n\""},
      {u"a;b", u';', u"\"a;b\""},
      {u"a;b", u'\t', u"a;b"},
      // Bytes of a name that were not UTF-8 (U+DC80..U+DCFF), and other lone
      // surrogates, are U+FFFD; a real pair stays.
      {u"caf\xDCE9.txt", u'\t', u"caf\xFFFD.txt"},
      {u"\xD800x\xDC00", u'\t', u"\xFFFDx\xFFFD"},
      {u"\U0001F600", u'\t', u"\U0001F600"},
      {u"\xDCFF\t", u'\t', u"\"\xFFFD\\t\""},
  };
  for (const Case& c : cases) {
    StatusRecord record = MakeRecord(c.path, 7, kCharsetUtf8, kCharsetUtf16, 1, 2, 0, 0);
    const std::u16string line = FormatCsvLine(record, c.separator);
    const std::u16string s(1, c.separator);
    EXPECT_EQ(line, c.field + s + u"7" + s + u"utf-8" + s + u"utf-16" + s + u"1" + s + u"2" + s +
                        u"0\r\n")
        << N(c.path);
    if (c.separator == u'\t') {
      EXPECT_EQ(std::count(line.begin(), line.end(), u'\t'), 6) << N(c.path);
      EXPECT_EQ(line.find_first_of(u"\r\n"), line.size() - 2) << N(c.path);
    }
  }
}

TEST(CsvLineTest, FullLengthPathWithoutTerminator) {
  StatusRecord record = MakeRecord(u"", 1, kCharsetUtf8, kCharsetUtf8, 0, 0, 0, 0);
  for (char16_t& unit : record.inputPath) unit = u'p';
  EXPECT_EQ(N(FormatCsvLine(record)), std::string(260, 'p') + "\t1\tutf-8\tutf-8\t0\t0\t0\r\n");
}

class CsvReportTest : public ::testing::Test {
 protected:
  void TearDown() override {
    CloseCsvReport();
    ResetSettings();
  }
  StatusRecord Record(const std::u16string& path) {
    return MakeRecord(path, 10, kCharsetUtf16, kCharsetUtf8, 1, 2, 0, 20000);
  }
  std::string Line(const std::u16string& path) { return Le(FormatCsvLine(Record(path))); }
  test::TempDir dir_;
};

TEST_F(CsvReportTest, NewReportIsUtf16WithByteOrderMarkAndOneLinePerRecord) {
  {
    CsvReport report(dir_.File16("r.csv").c_str());
    EXPECT_TRUE(report.IsOpen());
    EXPECT_EQ(test::ReadWholeFile(dir_.File("r.csv")), kBom);
    EXPECT_TRUE(report.WriteLine(Record(u"a")));
    EXPECT_TRUE(report.WriteLine(Record(u"b")));
  }
  EXPECT_EQ(test::ReadWholeFile(dir_.File("r.csv")), kBom + Line(u"a") + Line(u"b"));
}

// Several runs (also at the same time) share one report: it is appended to,
// and the byte order mark goes only into an empty file.
TEST_F(CsvReportTest, ExistingReportIsAppendedTo) {
  test::WriteWholeFile(dir_.File("r.csv"), kBom + Line(u"old"));
  {
    CsvReport first(dir_.File16("r.csv").c_str());
    CsvReport second(dir_.File16("r.csv").c_str());
    EXPECT_TRUE(first.WriteLine(Record(u"a")));
    EXPECT_TRUE(second.WriteLine(Record(u"b")));
    EXPECT_TRUE(first.WriteLine(Record(u"c")));
  }
  EXPECT_EQ(test::ReadWholeFile(dir_.File("r.csv")),
            kBom + Line(u"old") + Line(u"a") + Line(u"b") + Line(u"c"));
  // An empty file (made by touch, say) gets the mark once.
  test::WriteWholeFile(dir_.File("e.csv"), "");
  {
    CsvReport first(dir_.File16("e.csv").c_str());
    CsvReport second(dir_.File16("e.csv").c_str());
    EXPECT_TRUE(second.WriteLine(Record(u"x")));
  }
  EXPECT_EQ(test::ReadWholeFile(dir_.File("e.csv")), kBom + Line(u"x"));
}

TEST_F(CsvReportTest, SamePathKeepsTheReport) {
  CsvReport* first = OpenCsvReport(dir_.File16("r.csv").c_str());
  EXPECT_TRUE(first->WriteLine(Record(u"a")));
  const std::vector<std::u16string> spellings = {
      dir_.File16("r.csv"), platform::FromNative((dir_.path() + "/./r.csv").c_str())};
  for (const std::u16string& path : spellings) {
    EXPECT_EQ(OpenCsvReport(path.c_str()), first) << N(path);
  }
  EXPECT_TRUE(GetCsvReport()->WriteLine(Record(u"b")));
  CloseCsvReport();
  EXPECT_EQ(GetCsvReport(), nullptr);
  EXPECT_EQ(test::ReadWholeFile(dir_.File("r.csv")), kBom + Line(u"a") + Line(u"b"));
}

TEST_F(CsvReportTest, AnotherPathClosesTheFirstReport) {
  EXPECT_TRUE(OpenCsvReport(dir_.File16("one.csv").c_str())->WriteLine(Record(u"a")));
  CsvReport* second = OpenCsvReport(dir_.File16("two.csv").c_str());
  EXPECT_EQ(GetCsvReport(), second);
  EXPECT_EQ(N(second->path()), dir_.File("two.csv"));
  EXPECT_TRUE(second->WriteLine(Record(u"b")));
  CloseCsvReport();
  EXPECT_EQ(test::ReadWholeFile(dir_.File("one.csv")), kBom + Line(u"a"));
  EXPECT_EQ(test::ReadWholeFile(dir_.File("two.csv")), kBom + Line(u"b"));
}

TEST_F(CsvReportTest, FileThatCannotBeCreatedDropsLinesSilently) {
  const std::u16string path = dir_.File16("missing/r.csv");
  CsvReport* report = OpenCsvReport(path.c_str());
  ASSERT_NE(report, nullptr);
  EXPECT_FALSE(report->IsOpen());
  EXPECT_TRUE(report->WriteLine(Record(u"a")));
  EXPECT_EQ(OpenCsvReport(path.c_str()), report);
  CloseCsvReport();
}

// The report is created only once the whole command line is accepted, so a
// refused command line never truncates the file it names.
TEST_F(CsvReportTest, CsvOptionNamesTheReportWithoutCreatingIt) {
  std::vector<std::u16string> args = {u"ordana", u"/csv", dir_.File16("opt.csv"),
                                      u"in.txt", u"/csv", dir_.File16("later.csv")};
  std::vector<char16_t*> tokens;
  for (auto& a : args) tokens.push_back(a.data());
  EXPECT_FALSE(ApplyOptions(tokens.data(), static_cast<int>(tokens.size())).exit);
  EXPECT_EQ(GetCsvReport(), nullptr);
  EXPECT_EQ(N(GetSettings().csvPath), dir_.File("later.csv"));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("opt.csv")));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("later.csv")));
}

}  // namespace
}  // namespace ordana
