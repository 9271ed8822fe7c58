#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/MessageLog.h"
#include "core/StringTable.h"

namespace ordana {
namespace {

using test::LogCapture;

TEST(MessageLogTest, LevelsUpToTheMaximumAreWritten) {
  LogCapture log(2);
  LogMessage(kLevelNormal, MessageKind::kInformation, u"one\r\n");
  LogMessage(kLevelDetails, MessageKind::kRepaired, u"two\r\n");
  LogMessage(kLevelTrace, MessageKind::kInformation, u"trace\r\n");
  LogMessage(0xFFFFFFFFu, MessageKind::kInformation, u"huge\r\n");
  EXPECT_EQ(log.narrow(), "one\r\ntwo\r\n");
}

TEST(MessageLogTest, LevelZeroSuppressesEverything) {
  LogCapture log(0);
  LogMessage(kLevelNormal, MessageKind::kInformation, u"one\r\n");
  LogResourceMessage(kLevelNormal, MessageKind::kInformation, 152);
  EXPECT_EQ(log.narrow(), "");
  // A question is written whatever the level.
  WriteResourceUnconditionally(MessageKind::kInformation, 110, u"dir");
  EXPECT_NE(log.narrow().find("\"dir\""), std::string::npos);
}

TEST(MessageLogTest, ResourceMessagesUseTheTableAsFormat) {
  LogCapture log(1);
  LogResourceMessage(kLevelNormal, MessageKind::kInformation, 150, 3);
  LogResourceMessage(kLevelNormal, MessageKind::kInformation, 999);  // no such entry: nothing
  std::string expected = platform::ToNative(LoadResourceString(150));
  expected.replace(expected.find("%d"), 2, "3");
  EXPECT_EQ(log.narrow(), expected);
}

// The log file is UTF-8 with LF on POSIX (grep reads it), UTF-16LE with a
// byte order mark and CR LF on Windows; every message has a time stamp.
TEST(MessageLogTest, LogFileHasTheSystemsEncodingAndTimeStamps) {
  test::TempDir dir;
  ResetMessageLog();
  MessageLog* log = GetMessageLog();
  platform::Handle original = platform::GetStandardOutput();
  ASSERT_TRUE(log->OpenLogFile(dir.File16("x.log").c_str()));
  EXPECT_NE(platform::GetStandardOutput(), original);  // standard output points at the file
  log->SetMaximumLevel(kLevelDetails);
  LogMessage(kLevelDetails, MessageKind::kFailure, u"failed %s\r\n", u"here");
  DestroyMessageLog();
  EXPECT_EQ(platform::GetStandardOutput(), original);
  ResetMessageLog();

  const std::string bytes = test::ReadWholeFile(dir.File("x.log"));
  const std::u16string text = test::ReadLogFile(dir.File("x.log"));
  if (platform::kPosixConventions) {
    EXPECT_EQ(platform::ToNative(text.c_str(), text.size()), bytes);  // UTF-8 as it is
  }
  std::string narrow = platform::ToNative(text.c_str(), text.size());
  const std::string lineEnd = platform::kPosixConventions ? "\n" : "\r\n";
  EXPECT_TRUE(std::regex_match(
      narrow, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,0\d{3} \(2\): failed here)" + lineEnd)))
      << narrow;
}

// Outside text (paths, names) is escaped; the format's own line ends and
// TABs stay; what a %c brings in is made harmless too.
TEST(MessageLogTest, ControlCharactersOfArgumentsAreEscaped) {
  LogCapture log(2);
  LogMessage(kLevelNormal, MessageKind::kInformation, u"Input: %s, Output: %s\r\n",
             u"a\tb\nc\x1b[31m", u"/x\r.txt");
  LogMessage(kLevelDetails, MessageKind::kFailure, u"\tunit %c and %c and %c\r\n", char16_t{0x1b},
             char16_t{0xDC81}, char16_t{u'e'});
  LogResourceMessage(kLevelNormal, MessageKind::kInformation, 110, u"dir\nname");
  std::u16string question = LoadResourceString(110);
  question.replace(question.find(u"%s"), 2, u"dir\\nname");
  EXPECT_EQ(log.text(),
            u"Input: a\\tb\\nc\\x1b[31m, Output: /x\\r.txt\r\n"
            u"\tunit \\x1b and \uFFFD and e\r\n" +
                question);
  // The program's own text (a listing line) stays as it is.
  LogOwnText(kLevelNormal, MessageKind::kInformation, u"utf-8\tUTF-8\r\n");
  EXPECT_EQ(log.text().substr(log.text().size() - 13), u"utf-8\tUTF-8\r\n");
}

// The log file is well-formed: a name byte that was not UTF-8 (U+DC80..U+DCFF
// inside) is U+FFFD there.
TEST(MessageLogTest, LogFileIsWellFormed) {
  test::TempDir dir;
  ResetMessageLog();
  MessageLog* log = GetMessageLog();
  ASSERT_TRUE(log->OpenLogFile(dir.File16("w.log").c_str()));
  LogMessage(kLevelNormal, MessageKind::kInformation, u"%s|%c\r\n", u"caf\xDCE9\xD800",
             char16_t{0xDFFF});
  DestroyMessageLog();
  ResetMessageLog();
  const std::string bytes = test::ReadWholeFile(dir.File("w.log"));
  const std::string tail =
      platform::kPosixConventions
          ? std::string("caf\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\n")
          : test::U16({u'c', u'a', u'f', 0xFFFD, 0xFFFD, u'|', 0xFFFD, u'\r', u'\n'});
  ASSERT_GE(bytes.size(), tail.size());
  EXPECT_EQ(bytes.substr(bytes.size() - tail.size()), tail);
}

// On POSIX the console side is the standard error, UTF-8 with LF; nothing
// goes to the standard output.
TEST(MessageLogTest, ConsoleSideIsStandardErrorInUtf8OnPosix) {
  if (!platform::kPosixConventions)
    GTEST_SKIP() << "Windows writes messages to the standard output";
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  ResetMessageLog();  // attaches to the captured standard error
  LogMessage(kLevelNormal, MessageKind::kInformation, u"caf\u00e9 %s\r\n", u"\u4e2d\tx");
  LogResourceMessage(kLevelNormal, MessageKind::kInformation, 152);
  PrintToStandardError(u"last\r\nword\r\n");
  ResetMessageLog();
  const std::string err = testing::internal::GetCapturedStderr();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(err,
            "caf\xC3\xA9 \xE4\xB8\xAD\\tx\n"
            "1 file was processed.\n"
            "last\nword\n");
  EXPECT_EQ(out, "");
}

TEST(MessageLogTest, SilentModeDiscardsEverything) {
  ResetMessageLog();
  MessageLog* log = GetMessageLog();
  EXPECT_TRUE(log->OpenLogFile(nullptr));
  EXPECT_TRUE(log->silent());
  EXPECT_EQ(log->sink(), nullptr);
  LogMessage(kLevelNormal, MessageKind::kInformation, u"nothing\r\n");  // must not crash
  // Once silent, a later log file is not opened either.
  EXPECT_TRUE(log->OpenLogFile(u"/nonexistent/dir/never.log"));
  EXPECT_EQ(log->sink(), nullptr);
  ResetMessageLog();
}

TEST(MessageLogTest, UnwritableLogFileFallsBackToStandardOutput) {
  ResetMessageLog();
  MessageLog* log = GetMessageLog();
  EXPECT_FALSE(log->OpenLogFile(u"/nonexistent/dir/x.log"));
  EXPECT_EQ(platform::ClassifyError(log->lastOpenError()), platform::ErrorClass::kFileNotFound);
  EXPECT_FALSE(log->timestampPrefix());
  ResetMessageLog();
}

TEST(MessageLogTest, FirstTimeForIsTrueOncePerIdAndLog) {
  MessageLog log;
  EXPECT_TRUE(log.FirstTimeFor(156));
  EXPECT_FALSE(log.FirstTimeFor(156));
  EXPECT_TRUE(log.FirstTimeFor(157));
  EXPECT_FALSE(log.FirstTimeFor(157));
  EXPECT_FALSE(log.FirstTimeFor(156));
  MessageLog next;  // a new run
  EXPECT_TRUE(next.FirstTimeFor(156));
}

TEST(StringTableTest, EveryEntryHasBothLanguages) {
  ASSERT_GE(StringTableSize(), 52u);  // the first table; later messages add rows
  std::uint32_t previous = 0;
  for (std::size_t k = 0; k < StringTableSize(); ++k) {
    std::uint32_t id = StringTableId(k);
    EXPECT_GT(id, previous);
    previous = id;
    ASSERT_NE(LoadResourceString(id, kLanguageEnglish), nullptr) << id;
    ASSERT_NE(LoadResourceString(id, kLanguageGerman), nullptr) << id;
  }
  EXPECT_EQ(LoadResourceString(103, kLanguageEnglish), nullptr);
  EXPECT_EQ(std::u16string(LoadResourceString(152, kLanguageGerman)),
            u"Es wurde 1 Datei verarbeitet.\r\n");
}

// The German text of a message is formatted with the English text's
// arguments: both must take the same conversions in the same order, or a
// German message would show the wrong value (or read a number as text).
TEST(StringTableTest, GermanTextsTakeTheEnglishArguments) {
  auto conversions = [](const char16_t* text) {
    std::vector<std::u16string> found;
    for (const char16_t* p = text; *p != 0; ++p) {
      if (*p != u'%') continue;
      const char16_t* start = ++p;
      if (*p == u'%') continue;
      while (*p != 0 && !((*p >= u'a' && *p <= u'z') || (*p >= u'A' && *p <= u'Z'))) ++p;
      // %I64u: the width prefix belongs to the conversion.
      if (*p == u'I' && p[1] == u'6' && p[2] == u'4') p += 3;
      if (*p == 0) break;
      found.emplace_back(start, p + 1);
    }
    return found;
  };
  std::size_t checked = 0;
  for (std::size_t k = 0; k < StringTableSize(); ++k) {
    const std::uint32_t id = StringTableId(k);
    const char16_t* english = LoadResourceString(id, kLanguageEnglish);
    const char16_t* german = LoadResourceString(id, kLanguageGerman);
    ASSERT_NE(german, nullptr) << id;
    EXPECT_NE(german[0], 0) << id;
    EXPECT_EQ(conversions(english), conversions(german)) << id;
    checked += conversions(english).empty() ? 0 : 1;
  }
  EXPECT_GT(checked, 60u);
  // The rule sees a difference where there is one.
  EXPECT_NE(conversions(u"%s at %I64u"), conversions(u"%I64u bei %s"));
  EXPECT_EQ(conversions(u"100%% of %d"), conversions(u"%d zu 100%%"));
}

TEST(StringTableTest, QuestionsCarryTheirAnswerLetters) {
  // The prompt takes its yes and no letters from fixed places in the text.
  struct Case {
    std::uint32_t id;
    std::uint16_t language;
    char16_t yes, no;
  };
  const Case cases[] = {{110, kLanguageEnglish, u'Y', u'N'},
                        {111, kLanguageEnglish, u'Y', u'N'},
                        {110, kLanguageGerman, u'J', u'N'},
                        {111, kLanguageGerman, u'J', u'N'}};
  for (const Case& c : cases) {
    std::u16string text = LoadResourceString(c.id, c.language);
    ASSERT_GT(text.size(), 6u);
    EXPECT_EQ(text[text.size() - 6], c.yes);
    EXPECT_EQ(text[text.size() - 4], c.no);
  }
}

}  // namespace
}  // namespace ordana
