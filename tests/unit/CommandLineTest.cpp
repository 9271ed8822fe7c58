#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/CommandLine.h"
#include "app/HelpText.h"
#include "app/Settings.h"

namespace ordana {
namespace {

std::vector<std::string> Split(const std::u16string& line, int* count = nullptr) {
  std::u16string text = line;
  int n = -1;
  auto table = SplitCommandLine(text.data(), &n);
  std::vector<std::string> tokens;
  for (int k = 0; k < n; ++k) tokens.push_back(platform::ToNative(table->tokens[k]));
  if (count) *count = n;
  EXPECT_EQ(n, table->count);
  return tokens;
}

using Tokens = std::vector<std::string>;

TEST(SplitCommandLineTest, Examples) {
  struct Case {
    std::u16string line;
    Tokens tokens;
  };
  const Case cases[] = {
      {u"", {}},
      {u"ordana", {"ordana"}},
      {u"ordana a.txt  b.txt", {"ordana", "a.txt", "b.txt"}},
      {u"ordana a.txt   ", {"ordana", "a.txt"}},
      {u"\"C:\\Program Files\\ordana.exe\" \"C:\\My Files\\in put.txt\" "
       u"/output=\"C:\\My Files\\out.txt\"",
       {"C:\\Program Files\\ordana.exe", "C:\\My Files\\in put.txt",
        "/output=\"C:\\My Files\\out.txt\""}},
      {u"x ab\"cd ef\"", {"x", "cd ef"}},
      {u"x \"unterminated text", {"x", "unterminated text"}},
      {u"x /output=\"no end", {"x", "/output=\"no end"}},
      {u"x /log=\"a b\"c d", {"x", "/log=\"a b\"", "d"}},
      {u"x a\tb", {"x", "a\tb"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Split(c.line), c.tokens) << platform::ToNative(c.line.c_str());
  }
}

TEST(SplitCommandLineTest, StopsAtOneHundredTokens) {
  std::u16string line = u"prog";
  for (int k = 0; k < 150; ++k) line += u" t";
  int count = 0;
  Tokens tokens = Split(line, &count);
  EXPECT_EQ(count, 100);
}

TEST(UnquoteSpacesTest, RemovesOnePairOfEnclosingQuotes) {
  struct Case {
    std::u16string in, out;
  };
  const Case cases[] = {{u"\"a b\"", u"a b"},
                        {u"a b", u"a b"},
                        {u"\"a", u"\"a"},
                        {u"\"\"", u""},
                        {u"\"\"x\"\"", u"\"x\""}};
  for (const Case& c : cases) {
    std::u16string text = c.in;
    UnquoteSpaces(text.data());
    EXPECT_EQ(std::u16string(text.c_str()), c.out);
  }
}

TEST(ParseDecimalTest, ReadsLikeWcstol) {
  EXPECT_EQ(ParseDecimal(u"5"), 5);
  EXPECT_EQ(ParseDecimal(u"  12x"), 12);
  EXPECT_EQ(ParseDecimal(u"-3"), -3);
  EXPECT_EQ(ParseDecimal(u"abc"), 0);
  EXPECT_EQ(ParseDecimal(u""), 0);
  EXPECT_EQ(ParseDecimal(u"99999999999999"), 0x7FFFFFFF);
}

// Applies a command line (after the program token) to fresh settings.
class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSettings(); }
  void TearDown() override { ResetSettings(); }

  OptionsResult Apply(std::vector<std::u16string> args) {
    args.insert(args.begin(), u"ordana");
    storage_ = args;
    std::vector<char16_t*> tokens;
    for (auto& a : storage_) tokens.push_back(a.data());
    return ApplyOptions(tokens.data(), static_cast<int>(tokens.size()));
  }
  std::string Text(const char16_t* s) { return platform::ToNative(s); }

  test::LogCapture log_{1};
  std::vector<std::u16string> storage_;
};

TEST_F(OptionsTest, CharacterSetsAndTheirLastTokenRule) {
  Apply({u"/scs=latin1", u"/DCS=\"cp1252\""});
  EXPECT_EQ(Text(GetSettings().sourceCharsetName), "latin1");
  EXPECT_EQ(Text(GetSettings().destinationCharsetName), "\"cp1252\"");  // quotes kept
  ResetSettings();
  Apply({u"/I", u"utf-8", u"/o", u"utf-16be"});
  EXPECT_EQ(Text(GetSettings().sourceCharsetName), "utf-8");
  EXPECT_EQ(Text(GetSettings().destinationCharsetName), "utf-16be");
}

TEST_F(OptionsTest, FlagTable) {
  struct Case {
    std::vector<std::u16string> args;
    bool Settings::*flag;
    bool expected;
  };
  const Case cases[] = {
      {{u"/NOBOM"}, &Settings::writeBom, false},
      {{u"/xml"}, &Settings::modifyXmlDeclaration, true},
      {{u"/html"}, &Settings::modifyHtmlMeta, true},
      {{u"/s"}, &Settings::silent, true},
      {{u"/silent"}, &Settings::silent, true},
      {{u"/r"}, &Settings::recursive, true},
      {{u"/RECURSIVE"}, &Settings::recursive, true},
      {{u"/policy=STRICT"}, &Settings::strictPolicy, true},
      {{u"/policy=loose"}, &Settings::strictPolicy, false},
      {{u"/policy=x"}, &Settings::strictPolicy, false},
      {{u"/policy", u"loose"}, &Settings::strictPolicy, false},
      {{u"/y", u"/y-"}, &Settings::defaultAnswer, false},
      {{u"/y-", u"/y"}, &Settings::defaultAnswer, true},
      {{u"/y-"}, &Settings::answerWithoutAsking, true},
      {{u"/eol=x"}, &Settings::eolRequested, true},
  };
  for (const Case& c : cases) {
    ResetSettings();
    EXPECT_FALSE(Apply(c.args).exit);
    EXPECT_EQ(GetSettings().*c.flag, c.expected) << platform::ToNative(c.args[0].c_str());
  }
}

TEST_F(OptionsTest, EndOfLineModes) {
  struct Case {
    std::vector<std::u16string> args;
    EolMode mode;
  };
  const Case cases[] = {
      {{u"/eol=dos"}, EolMode::kDos},       {{u"/eol=DOS"}, EolMode::kDos},
      {{u"/eol=foo"}, EolMode::kDos},       {{u"/eol=Mac"}, EolMode::kMac},
      {{u"/eol", u"unix"}, EolMode::kUnix}, {{u"/eol=mac", u"/eol=unix"}, EolMode::kUnix}};
  for (const Case& c : cases) {
    ResetSettings();
    Apply(c.args);
    EXPECT_TRUE(GetSettings().eolRequested);
    EXPECT_EQ(GetSettings().eolMode, c.mode);
  }
}

TEST_F(OptionsTest, HtmlEntityModes) {
  Apply({u"/htmlentity=enc"});
  EXPECT_EQ(GetSettings().htmlEntityMode, 1);
  Apply({u"/htmlentity", u"dec"});
  EXPECT_EQ(GetSettings().htmlEntityMode, 2);
  Apply({u"/htmlentity=other"});
  EXPECT_EQ(GetSettings().htmlEntityMode, 2);  // unchanged
  ResetSettings();
  Apply({u"/htmlentity", u"a.txt"});  // the next token is consumed either way
  EXPECT_EQ(GetSettings().inputPath[0], 0);
}

TEST_F(OptionsTest, PathsInputFirstLaterOutputsWin) {
  Apply({u"a.txt", u"b.txt", u"c.txt"});
  EXPECT_EQ(Text(GetSettings().inputPath), "a.txt");
  EXPECT_EQ(Text(GetSettings().outputPath), "c.txt");
  EXPECT_FALSE(GetSettings().inPlace);
  EXPECT_EQ(GetSettings().pathArgumentCount, 3);
  ResetSettings();
  // A token under the root that exists is a path, not an unknown option.
  EXPECT_FALSE(Apply({u"/tmp"}).exit);
  EXPECT_EQ(Text(GetSettings().inputPath), "/tmp");
  ResetSettings();
  Apply({u"in.txt", u"/output=\"My Files/out.txt\""});
  EXPECT_EQ(Text(GetSettings().outputPath), "My Files/out.txt");
  EXPECT_FALSE(GetSettings().inPlace);
}

TEST_F(OptionsTest, LogLevelInOptionOrder) {
  Apply({u"/loglevel=5"});
  EXPECT_EQ(GetMessageLog()->maximumLevel(), 5u);
  Apply({u"/loglevel", u"0"});
  EXPECT_EQ(GetMessageLog()->maximumLevel(), 0u);
  Apply({u"/loglevel=abc"});
  EXPECT_EQ(GetMessageLog()->maximumLevel(), 0u);
  EXPECT_TRUE(Apply({u"/loglevel=3", u"/loglevel"}).exit);  // the value is missing
  EXPECT_EQ(GetMessageLog()->maximumLevel(), 3u);
}

TEST_F(OptionsTest, StatusChannelOwner) {
  std::uint32_t saved = StatusChannelOwnerId();
  Apply({u"/ssb", u"4242"});
  EXPECT_EQ(StatusChannelOwnerId(), 4242u);
  StatusChannelOwnerId() = saved;
}

TEST_F(OptionsTest, ValuesLongerThanTheirBuffersAreRefused) {
  std::u16string longName(32, u'x');
  OptionsResult result = Apply({u"/scs=" + longName});
  EXPECT_TRUE(result.exit);
  EXPECT_EQ(result.exitCode, kExitUnusableCommandLine);
  EXPECT_EQ(Text(GetSettings().sourceCharsetName), "auto");
  EXPECT_NE(log_.narrow().find("too long"), std::string::npos);

  ResetSettings();
  EXPECT_FALSE(Apply({u"/scs=" + std::u16string(31, u'y')}).exit);  // 31 fit

  ResetSettings();
  std::u16string longPath(260, u'p');
  result = Apply({u"a.txt", longPath});
  EXPECT_TRUE(result.exit);
  EXPECT_EQ(GetSettings().outputPath[0], 0);
  ResetSettings();
  EXPECT_FALSE(Apply({std::u16string(259, u'p')}).exit);
}

// Each of these would otherwise convert something the user did not name:
// a mistyped option becomes an output path under the root, a missing value
// leaves the default in force, an empty variable drops the input.
TEST_F(OptionsTest, RefusesWhatCannotBeMeant) {
  struct Case {
    std::vector<std::u16string> args;
    const char* message;
  };
  const Case cases[] = {
      {{u"e.txt", u"/o", u"utf-8", u"/recurse"}, "unknown option /recurse"},
      {{u"/nobomx"}, "unknown option /nobomx"},
      {{u"a.txt", u"/i"}, "the option /i needs a value"},
      {{u"a.txt", u"/o"}, "the option /o needs a value"},
      {{u"a.txt", u"/policy"}, "the option /policy needs a value"},
      {{u"a.txt", u"/eol"}, "the option /eol needs a value"},
      {{u"a.txt", u"/csv"}, "the option /csv needs a value"},
      {{u"a.txt", u"/ssb"}, "the option /ssb needs a value"},
      {{u"a.txt", u"/loglevel"}, "the option /loglevel needs a value"},
      {{u"a.txt", u"/htmlentity"}, "the option /htmlentity needs a value"},
      {{u"a.txt", u"/scs="}, "the option /scs= needs a value"},
      {{u"a.txt", u"/DCS="}, "the option /dcs= needs a value"},
      {{u"a.txt", u"/output="}, "the option /output= needs a value"},
      {{u"a.txt", u"/log="}, "the option /log= needs a value"},
      {{u"a.txt", u"/logto", u""}, "the option /logto needs a value"},
      {{u"", u"b.txt"}, "an empty argument names no file"},
      {{u"a.txt", u""}, "an empty argument names no file"},
  };
  for (const Case& c : cases) {
    ResetSettings();
    const std::size_t before = log_.narrow().size();
    const OptionsResult result = Apply(c.args);
    EXPECT_TRUE(result.exit) << c.message;
    EXPECT_EQ(result.exitCode, kExitUnusableCommandLine) << c.message;
    const std::string said = log_.narrow().substr(before);
    EXPECT_NE(said.find(c.message), std::string::npos) << said;
  }
}

TEST_F(OptionsTest, LogToWithoutANameLogsToTheDefaultFile) {
  EXPECT_FALSE(Apply({u"a.txt", u"/logto"}).exit);
  EXPECT_TRUE(GetSettings().logToFile);
  EXPECT_EQ(Text(GetSettings().logPath), "ordana.log");
}

TEST_F(OptionsTest, DoubleDashEndsTheOptionsOnPosix) {
  const OptionsResult result = Apply({u"/y", u"--", u"/recurse", u"/r"});
  if (!platform::kPosixConventions) {
    EXPECT_TRUE(result.exit);  // "--" is an ordinary path there, "/recurse" unknown
    return;
  }
  EXPECT_FALSE(result.exit);
  EXPECT_TRUE(GetSettings().answerWithoutAsking);
  EXPECT_FALSE(GetSettings().recursive);
  EXPECT_EQ(Text(GetSettings().inputPath), "/recurse");
  EXPECT_EQ(Text(GetSettings().outputPath), "/r");
}

TEST_F(OptionsTest, MoreArgumentsThanTheTableHoldsAreRefused) {
  std::vector<std::u16string> args(kMaxTokens - 1, u"/y");
  EXPECT_FALSE(Apply(args).exit);  // the program token and 99 arguments fit
  args.push_back(u"a.txt");
  const OptionsResult result = Apply(args);
  EXPECT_TRUE(result.exit);
  EXPECT_EQ(result.exitCode, kExitUnusableCommandLine);
  EXPECT_EQ(GetSettings().inputPath[0], 0);
}

TEST(SplitCommandLineTest, SaysWhenTokensWereLeftOver) {
  struct Case {
    int tokens;
    const char16_t* tail;
    bool truncated;
  };
  const Case cases[] = {{kMaxTokens, u"", false},
                        {kMaxTokens, u"   ", false},
                        {kMaxTokens, u" more", true},
                        {kMaxTokens - 1, u" last", false}};
  for (const Case& c : cases) {
    std::u16string text = u"ordana";
    for (int k = 1; k < c.tokens; ++k) text += u" /y";
    text += c.tail;
    int count = 0;
    auto table = SplitCommandLine(text.data(), &count);
    EXPECT_EQ(table->truncated, c.truncated) << c.tokens << platform::ToNative(c.tail);
  }
}

// Each GNU spelling has exactly the effect of its Windows-style twin.
TEST_F(OptionsTest, GnuSpellingsEqualTheirSlashOptions) {
  if (!platform::kPosixConventions) GTEST_SKIP() << "GNU spellings are a POSIX habit";
  struct Pair {
    std::vector<std::u16string> gnu, slash;
  };
  const Pair pairs[] = {
      {{u"-f", u"koi8-r"}, {u"/i", u"koi8-r"}},
      {{u"--from=koi8-r"}, {u"/scs=koi8-r"}},
      {{u"--from", u"koi8-r"}, {u"/scs=koi8-r"}},
      {{u"-t", u"utf-8"}, {u"/o", u"utf-8"}},
      {{u"--to=utf-8"}, {u"/dcs=utf-8"}},
      {{u"a.txt", u"-o", u"b.txt"}, {u"a.txt", u"/output=b.txt"}},
      {{u"a.txt", u"--output=b.txt"}, {u"a.txt", u"b.txt"}},
      {{u"-r"}, {u"/r"}},
      {{u"--recursive"}, {u"/recursive"}},
      {{u"-y"}, {u"/y"}},
      {{u"--yes"}, {u"/y"}},
      {{u"--no"}, {u"/y-"}},
      {{u"-q"}, {u"/s"}},
      {{u"--quiet"}, {u"/silent"}},
      {{u"--no-bom"}, {u"/nobom"}},
      {{u"--policy=loose"}, {u"/policy=loose"}},
      {{u"--eol", u"unix"}, {u"/eol", u"unix"}},
      {{u"--xml"}, {u"/xml"}},
      {{u"--binary"}, {u"/binary"}},
      {{u"--follow-links"}, {u"/followlinks"}},
      {{u"--detect"}, {u"/detect"}},
      {{u"--verbose"}, {u"/VERBOSE"}},
      {{u"a.txt", u"--detect", u"--verbose"}, {u"/Detect", u"a.txt", u"/verbose"}},
      {{u"--html-entities=dec"}, {u"/htmlentity=dec"}},
      {{u"--log"}, {u"/log"}},
      {{u"--log=x.log"}, {u"/log=x.log"}},
      {{u"--log-level=5"}, {u"/loglevel=5"}},
      {{u"--csv=r.csv"}, {u"/csv", u"r.csv"}},
      {{u"-", u"-"}, {u"\\\\.\\CONIN$", u"\\\\.\\CONOUT$"}},
  };
  for (const Pair& pair : pairs) {
    ResetSettings();
    EXPECT_FALSE(Apply(pair.gnu).exit) << Text(pair.gnu[0].c_str());
    const Settings gnu = GetSettings();
    const std::uint32_t gnuLevel = GetMessageLog()->maximumLevel();
    ResetSettings();
    EXPECT_FALSE(Apply(pair.slash).exit) << Text(pair.slash[0].c_str());
    const Settings& slash = GetSettings();
    const std::string what = Text(pair.gnu[0].c_str());
    EXPECT_EQ(Text(gnu.sourceCharsetName), Text(slash.sourceCharsetName)) << what;
    EXPECT_EQ(Text(gnu.destinationCharsetName), Text(slash.destinationCharsetName)) << what;
    EXPECT_EQ(Text(gnu.inputPath), Text(slash.inputPath)) << what;
    EXPECT_EQ(Text(gnu.outputPath), Text(slash.outputPath)) << what;
    EXPECT_EQ(Text(gnu.logPath), Text(slash.logPath)) << what;
    EXPECT_EQ(Text(gnu.csvPath), Text(slash.csvPath)) << what;
    EXPECT_EQ(gnu.inPlace, slash.inPlace) << what;
    EXPECT_EQ(gnu.writeBom, slash.writeBom) << what;
    EXPECT_EQ(gnu.strictPolicy, slash.strictPolicy) << what;
    EXPECT_EQ(gnu.recursive, slash.recursive) << what;
    EXPECT_EQ(gnu.silent, slash.silent) << what;
    EXPECT_EQ(gnu.defaultAnswer, slash.defaultAnswer) << what;
    EXPECT_EQ(gnu.answerWithoutAsking, slash.answerWithoutAsking) << what;
    EXPECT_EQ(gnu.eolRequested, slash.eolRequested) << what;
    EXPECT_EQ(gnu.eolMode, slash.eolMode) << what;
    EXPECT_EQ(gnu.modifyXmlDeclaration, slash.modifyXmlDeclaration) << what;
    EXPECT_EQ(gnu.htmlEntityMode, slash.htmlEntityMode) << what;
    EXPECT_EQ(gnu.convertBinaryFiles, slash.convertBinaryFiles) << what;
    EXPECT_EQ(gnu.followAllLinks, slash.followAllLinks) << what;
    EXPECT_EQ(gnu.detectOnly, slash.detectOnly) << what;
    EXPECT_EQ(gnu.detectVerbose, slash.detectVerbose) << what;
    EXPECT_EQ(gnu.logToFile, slash.logToFile) << what;
    EXPECT_EQ(gnuLevel, GetMessageLog()->maximumLevel()) << what;
  }
}

// A detection-only run takes every path as an input: they are kept as typed,
// in order, however many there are.
TEST_F(OptionsTest, PathsAreKeptAsTyped) {
  struct Case {
    std::vector<std::u16string> args;
    std::vector<std::u16string> paths;
    bool detect;
  };
  const std::vector<Case> cases = {
      {{u"a.txt"}, {u"a.txt"}, false},
      {{u"/detect", u"a.txt", u"b.txt", u"c.txt"}, {u"a.txt", u"b.txt", u"c.txt"}, true},
      {{u"a.txt", u"/o", u"utf-8", u"/detect", u"./b.txt"}, {u"a.txt", u"./b.txt"}, true},
      {{u"/output=x.txt", u"a.txt"}, {u"a.txt"}, false},
  };
  for (const Case& c : cases) {
    ResetSettings();
    EXPECT_FALSE(Apply(c.args).exit) << Text(c.args[0].c_str());
    EXPECT_EQ(GetSettings().pathArguments, c.paths) << Text(c.args[0].c_str());
    EXPECT_EQ(GetSettings().detectOnly, c.detect) << Text(c.args[0].c_str());
    EXPECT_FALSE(GetSettings().detectVerbose);
  }
  if (platform::kPosixConventions) {
    ResetSettings();
    EXPECT_FALSE(Apply({u"--detect", u"-", u"--", u"-x"}).exit);
    EXPECT_EQ(GetSettings().pathArguments, (std::vector<std::u16string>{u"-", u"-x"}));
  }
}

TEST_F(OptionsTest, GnuOptionsAreExactAndUnknownOnesRefused) {
  if (!platform::kPosixConventions) GTEST_SKIP() << "GNU spellings are a POSIX habit";
  const std::vector<std::u16string> refused[] = {
      {u"a.txt", u"-x"},       {u"a.txt", u"--xyz"},  {u"a.txt", u"-F", u"x"},
      {u"a.txt", u"--FROM=x"}, {u"a.txt", u"--from"}, {u"a.txt", u"--fromage"},
      {u"a.txt", u"-rf"},      {u"a.txt", u"--to="},
  };
  for (const auto& args : refused) {
    ResetSettings();
    const OptionsResult result = Apply(args);
    EXPECT_TRUE(result.exit) << Text(args[1].c_str());
    EXPECT_EQ(result.exitCode, kExitUnusableCommandLine) << Text(args[1].c_str());
  }
  ResetSettings();
  EXPECT_FALSE(Apply({u"--", u"-x"}).exit);  // after "--" a name, whatever it looks like
  EXPECT_EQ(Text(GetSettings().inputPath), "-x");
}

// The help is generated from its own table (tools/gen_help.py): every
// spelling the program accepts must be in it, and every one it shows must
// be accepted.
TEST(HelpTextTest, ShowsExactlyTheAcceptedSpellings) {
  if (!platform::kPosixConventions) GTEST_SKIP() << "the GNU help is the POSIX build's";
  for (const char16_t* help : {kHelpTextEnglish, kHelpTextGerman}) {
    const std::u16string text(help);
    for (const std::u16string& word : OptionSpellings()) {
      if (word == u"/?") continue;  // the Windows-style usage, named in the text of -h
      std::u16string shown = word;
      const std::size_t at = text.find(shown);
      EXPECT_NE(at, std::u16string::npos)
          << platform::ToNative(word.c_str()) << " is not in the help";
    }
    // Lines "  -f CHARSET, --from=CHARSET  ..." and "  --xml   ... [/xml]".
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find(u'\n', start);
      const std::u16string line = text.substr(start, end - start);
      start = end + 1;
      if (line.rfind(u"  -", 0) != 0) continue;
      std::size_t p = 2;
      while (p < line.size() && line[p] == u'-') {
        std::size_t q = p;
        while (q < line.size() && line[q] != u' ' && line[q] != u'=' && line[q] != u',' &&
               line[q] != u'[') {
          ++q;
        }
        const std::u16string spelling = line.substr(p, q - p);
        EXPECT_TRUE(IsOptionSpelling(spelling.c_str()))
            << platform::ToNative(spelling.c_str()) << " is in the help but not accepted";
        // Past a value name ("-f CHARSET, ") to the next spelling.
        const std::size_t comma = line.find(u", -", q);
        const std::size_t gap = line.find(u"  ", q);
        if (comma == std::u16string::npos || (gap != std::u16string::npos && gap < comma)) break;
        p = comma + 2;
      }
    }
  }
}

TEST_F(OptionsTest, HelpEndsTheOptionsAfterApplyingThoseBefore) {
  // The usage is text the user asked for: the standard output on POSIX,
  // the messages' way on Windows.
  if (platform::kPosixConventions) testing::internal::CaptureStdout();
  OptionsResult result = Apply({u"/nobom", u"/?", u"/xml"});
  const std::string shown =
      platform::kPosixConventions ? testing::internal::GetCapturedStdout() : log_.narrow();
  EXPECT_TRUE(result.exit);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_FALSE(GetSettings().writeBom);
  EXPECT_FALSE(GetSettings().modifyXmlDeclaration);
  const std::string nl = platform::kPosixConventions ? "\n" : "\r\n";
  EXPECT_NE(shown.find("Ordana 2.0.17.8" + nl + nl), std::string::npos) << shown;
}

}  // namespace
}  // namespace ordana
