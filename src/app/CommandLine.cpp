#include "app/CommandLine.h"

#include <string>
#include <vector>

#include "app/CsvReport.h"
#include "app/HelpText.h"
#include "app/Listings.h"
#include "app/Settings.h"
#include "app/StatusChannel.h"
#include "app/Usage.h"
#include "core/File.h"
#include "core/Format.h"
#include "core/MessageLog.h"
#include "core/StringTable.h"
#include "platform/Platform.h"

namespace ordana {

std::unique_ptr<TokenTable> SplitCommandLine(char16_t* text, int* count) {
  auto table = std::make_unique<TokenTable>();
  *count = 0;
  const std::size_t length = TextLength(text);
  if (length == 0) return table;
  char16_t* const end = text + length;

  // Finds the next double quote at or after `from`, or the end of the text.
  auto nextQuote = [end](char16_t* from) {
    while (from < end && *from != u'"') ++from;
    return from;
  };

  char16_t* p = text;
  while (p < end && table->count < kMaxTokens) {
    char16_t* start = p;
    char16_t* tokenEnd = end;
    for (char16_t* q = p; q < end; ++q) {
      if (*q == 0 || *q == u' ') {
        tokenEnd = q;
        break;
      }
      if (*q == u'"') {
        start = q + 1;
        tokenEnd = nextQuote(q + 1);
        break;
      }
      if (*q == u'=' && q + 1 < end && q[1] == u'"') {
        char16_t* close = nextQuote(q + 2);
        tokenEnd = close < end ? close + 1 : end;
        break;
      }
    }
    *tokenEnd = 0;  // at `end` this is the text's own terminator
    table->tokens[table->count++] = start;
    if (tokenEnd >= end) {
      p = end;
      break;
    }
    p = tokenEnd + 1;
    while (p < end && *p == u' ') ++p;
  }
  table->truncated = p < end;
  *count = table->count;
  return table;
}

void UnquoteSpaces(char16_t* text) {
  std::size_t n = TextLength(text);
  if (n >= 2 && text[0] == u'"' && text[n - 1] == u'"') {
    for (std::size_t k = 0; k + 2 < n; ++k) text[k] = text[k + 1];
    text[n - 2] = 0;
  }
}

long ParseDecimal(const char16_t* text) {
  while (*text == u' ' || (*text >= u'\t' && *text <= u'\r')) ++text;
  bool negative = false;
  if (*text == u'+' || *text == u'-') negative = *text++ == u'-';
  long long value = 0;
  while (*text >= u'0' && *text <= u'9') {
    value = value * 10 + (*text++ - u'0');
    if (value > 0x7FFFFFFFLL) value = 0x80000000LL;  // saturates like wcstol
  }
  if (negative) value = -value;
  if (value > 0x7FFFFFFFLL) value = 0x7FFFFFFFLL;
  return static_cast<long>(value);
}

namespace {

constexpr const char16_t* kDefaultLogName = u"ordana.log";
// Messages into a log file go up to this level unless /loglevel says otherwise.
constexpr LogLevel kLogFileLevel = kLevelDetails;

// Copies a value into a fixed-size setting, refusing it when it does not
// fit: a silently shortened path could name another file.
bool CopySetting(char16_t* target, std::uint32_t capacity, const char16_t* value,
                 std::uint32_t what) {
  std::size_t n = TextLength(value);
  if (n >= capacity) {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringTooLong,
                       LoadResourceString(what), capacity - 1, value);
    return false;
  }
  for (std::size_t k = 0; k <= n; ++k) target[k] = value[k];
  return true;
}

EolMode ParseEolMode(const char16_t* value) {
  if (EqualsIgnoreCase(value, u"mac")) return EolMode::kMac;
  if (EqualsIgnoreCase(value, u"unix")) return EolMode::kUnix;
  return EolMode::kDos;
}

// What applying one option leads to.
enum class Step { kGoOn, kExitOk, kUnusable };

// How an option takes its value.
enum class ValueForm {
  kNone,           // the token is the whole option
  kAttached,       // the token starts with the word, the rest is the value
  kNext,           // the next token is the value
  kNextOrDefault,  // the next token when there is one, else the row's default
  // GNU long options, compared with case: "--from=X" or "--from X"; the
  // optional form takes a value only as "--log=FILE".
  kLong,
  kLongOptional,
};

struct OptionRow {
  const char16_t* word;
  ValueForm form;
  Step (*apply)(Settings& settings, const char16_t* value);
  const char16_t* defaultValue = nullptr;
};

// A switch: the row sets one flag of the settings to `value`.
template <bool Settings::*flag, bool value>
Step Set(Settings& settings, const char16_t*) {
  settings.*flag = value;
  return Step::kGoOn;
}

template <bool answer>
Step AnswerEveryQuestion(Settings& settings, const char16_t*) {
  settings.defaultAnswer = answer;
  settings.answerWithoutAsking = true;
  return Step::kGoOn;
}

Step SetSourceCharset(Settings& settings, const char16_t* value) {
  return CopySetting(settings.sourceCharsetName, kCharsetNameCapacity, value, kStringWhatSourceName)
             ? Step::kGoOn
             : Step::kUnusable;
}

Step SetDestinationCharset(Settings& settings, const char16_t* value) {
  return CopySetting(settings.destinationCharsetName, kCharsetNameCapacity, value,
                     kStringWhatDestinationName)
             ? Step::kGoOn
             : Step::kUnusable;
}

Step SetOutputPath(Settings& settings, const char16_t* value) {
  if (!CopySetting(settings.outputPath, kPathCapacity, value, kStringWhatOutputPath)) {
    return Step::kUnusable;
  }
  UnquoteSpaces(settings.outputPath);
  settings.inPlace = false;
  return Step::kGoOn;
}

// Logging into a file: the name is kept and the file opened once the whole
// command line has been accepted (OpenReportFiles), so that a refused
// command line never creates or truncates it.
Step LogToFile(Settings& settings, const char16_t* name) {
  if (!CopySetting(settings.logPath, kPathCapacity, name, kStringWhatLogFileName)) {
    return Step::kUnusable;
  }
  UnquoteSpaces(settings.logPath);
  settings.logToFile = true;
  GetMessageLog()->SetMaximumLevel(kLogFileLevel);
  return Step::kGoOn;
}

Step SetCsvReport(Settings& settings, const char16_t* name) {
  return CopySetting(settings.csvPath, kPathCapacity, name, kStringWhatCsvReportName)
             ? Step::kGoOn
             : Step::kUnusable;
}

Step SetFilesFrom(Settings& settings, const char16_t* name) {
  return CopySetting(settings.filesFromPath, kPathCapacity, name, kStringWhatInputPath)
             ? Step::kGoOn
             : Step::kUnusable;
}

Step SetEol(Settings& settings, const char16_t* value) {
  settings.eolRequested = true;
  settings.eolMode = ParseEolMode(value);
  return Step::kGoOn;
}

Step SetHtmlEntityMode(Settings& settings, const char16_t* value) {
  if (EqualsIgnoreCase(value, u"enc"))
    settings.htmlEntityMode = 1;
  else if (EqualsIgnoreCase(value, u"dec"))
    settings.htmlEntityMode = 2;
  return Step::kGoOn;
}

Step SetLogLevel(Settings&, const char16_t* value) {
  GetMessageLog()->SetMaximumLevel(static_cast<std::uint32_t>(ParseDecimal(value)));
  return Step::kGoOn;
}

Step SetPolicy(Settings& settings, const char16_t* value) {
  settings.strictPolicy = EqualsIgnoreCase(value, u"strict");
  return Step::kGoOn;
}

Step SetStatusOwner(Settings&, const char16_t* value) {
  StatusChannelOwnerId() = static_cast<std::uint32_t>(ParseDecimal(value));
  // The next conversion opens the channel of the new owner.
  CloseStatusChannel();
  return Step::kGoOn;
}

// A listing or the usage is printed where the options so far send messages:
// a log file named before it is opened first.
Step ShowAndLeave(Settings& settings, void (*show)()) {
  if (settings.logToFile) OpenLogFileOfSettings(settings);
  show();
  return Step::kExitOk;
}

// Options are compared without regard to case, in this order; the first row
// that matches wins (so "/eol=" is tried before "/eol", "/log" before "/log=").
const OptionRow kOptionRows[] = {
    {u"/?", ValueForm::kNone,
     [](Settings& s, const char16_t*) { return ShowAndLeave(s, &PrintUsage); }},
    {u"/scs=", ValueForm::kAttached, &SetSourceCharset},
    {u"/i", ValueForm::kNext, &SetSourceCharset},
    {u"/dcs=", ValueForm::kAttached, &SetDestinationCharset},
    {u"/o", ValueForm::kNext, &SetDestinationCharset},
    {u"/output=", ValueForm::kAttached, &SetOutputPath},
    {u"/nobom", ValueForm::kNone, &Set<&Settings::writeBom, false>},
    {u"/eol=", ValueForm::kAttached, &SetEol},
    {u"/eol", ValueForm::kNext, &SetEol},
    {u"/xml", ValueForm::kNone, &Set<&Settings::modifyXmlDeclaration, true>},
    {u"/html", ValueForm::kNone, &Set<&Settings::modifyHtmlMeta, true>},
    {u"/htmlentity=", ValueForm::kAttached, &SetHtmlEntityMode},
    {u"/htmlentity", ValueForm::kNext, &SetHtmlEntityMode},
    {u"/silent", ValueForm::kNone, &Set<&Settings::silent, true>},
    {u"/s", ValueForm::kNone, &Set<&Settings::silent, true>},
    {u"/recursive", ValueForm::kNone, &Set<&Settings::recursive, true>},
    {u"/r", ValueForm::kNone, &Set<&Settings::recursive, true>},
    {u"/binary", ValueForm::kNone, &Set<&Settings::convertBinaryFiles, true>},
    {u"/followlinks", ValueForm::kNone, &Set<&Settings::followAllLinks, true>},
    {u"/loglevel=", ValueForm::kAttached, &SetLogLevel},
    {u"/loglevel", ValueForm::kNext, &SetLogLevel},
    {u"/log", ValueForm::kNone,
     [](Settings& s, const char16_t*) { return LogToFile(s, kDefaultLogName); }},
    {u"/log=", ValueForm::kAttached, &LogToFile},
    {u"/logto", ValueForm::kNextOrDefault, &LogToFile, kDefaultLogName},
    {u"/policy=", ValueForm::kAttached, &SetPolicy},
    {u"/policy", ValueForm::kNext, &SetPolicy},
    {u"/y", ValueForm::kNone, &AnswerEveryQuestion<true>},
    {u"/y-", ValueForm::kNone, &AnswerEveryQuestion<false>},
    {u"/listall", ValueForm::kNone,
     [](Settings& s, const char16_t*) {
       return ShowAndLeave(s, [] { PrintCharsetListing(false); });
     }},
    {u"/listallcsv", ValueForm::kNone,
     [](Settings& s, const char16_t*) {
       return ShowAndLeave(s, [] { PrintCharsetListing(true); });
     }},
    {u"/csv", ValueForm::kNext, &SetCsvReport},
    {u"/ssb", ValueForm::kNext, &SetStatusOwner},
    {u"/detect", ValueForm::kNone, &Set<&Settings::detectOnly, true>},
    {u"/verbose", ValueForm::kNone, &Set<&Settings::detectVerbose, true>},
};

Step ShowHelp(Settings& settings, const char16_t*) {
  return ShowAndLeave(settings, [] {
    PrintForUser(platform::UserInterfaceLanguage() == kLanguageGerman ? kHelpTextGerman
                                                                      : kHelpTextEnglish);
  });
}

Step ShowVersion(Settings& settings, const char16_t*) {
  return ShowAndLeave(settings, [] {
    std::uint32_t most = 0, least = 0;
    // Without a version resource the parts stay 0 and the line says 0.0.0.0.
    (void)platform::GetOwnProductVersion(&most, &least);
    PrintForUser(
        Format(u"ordana %u.%u.%u.%u\n", most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)
            .c_str());
  });
}

// The spellings people know from other POSIX tools, with exactly the effect
// of the options above. Compared with case, as such options are.
const OptionRow kGnuOptionRows[] = {
    {u"-f", ValueForm::kNext, &SetSourceCharset},
    {u"--from", ValueForm::kLong, &SetSourceCharset},
    {u"-t", ValueForm::kNext, &SetDestinationCharset},
    {u"--to", ValueForm::kLong, &SetDestinationCharset},
    {u"-o", ValueForm::kNext, &SetOutputPath},
    {u"--output", ValueForm::kLong, &SetOutputPath},
    {u"--no-bom", ValueForm::kNone, &Set<&Settings::writeBom, false>},
    {u"--eol", ValueForm::kLong, &SetEol},
    {u"--xml", ValueForm::kNone, &Set<&Settings::modifyXmlDeclaration, true>},
    {u"--html", ValueForm::kNone, &Set<&Settings::modifyHtmlMeta, true>},
    {u"--html-entities", ValueForm::kLong, &SetHtmlEntityMode},
    {u"--policy", ValueForm::kLong, &SetPolicy},
    {u"-r", ValueForm::kNone, &Set<&Settings::recursive, true>},
    {u"--recursive", ValueForm::kNone, &Set<&Settings::recursive, true>},
    {u"--binary", ValueForm::kNone, &Set<&Settings::convertBinaryFiles, true>},
    {u"--follow-links", ValueForm::kNone, &Set<&Settings::followAllLinks, true>},
    {u"-y", ValueForm::kNone, &AnswerEveryQuestion<true>},
    {u"--yes", ValueForm::kNone, &AnswerEveryQuestion<true>},
    {u"--no", ValueForm::kNone, &AnswerEveryQuestion<false>},
    {u"-q", ValueForm::kNone, &Set<&Settings::silent, true>},
    {u"--quiet", ValueForm::kNone, &Set<&Settings::silent, true>},
    {u"--silent", ValueForm::kNone, &Set<&Settings::silent, true>},
    {u"--log", ValueForm::kLongOptional, &LogToFile, kDefaultLogName},
    {u"--log-level", ValueForm::kLong, &SetLogLevel},
    {u"--files-from", ValueForm::kLong, &SetFilesFrom},
    {u"--null", ValueForm::kNone, &Set<&Settings::filesFromNull, true>},
    {u"--csv", ValueForm::kLong, &SetCsvReport},
    {u"--status-channel", ValueForm::kLong, &SetStatusOwner},
    {u"--detect", ValueForm::kNone, &Set<&Settings::detectOnly, true>},
    {u"--verbose", ValueForm::kNone, &Set<&Settings::detectVerbose, true>},
    {u"--list", ValueForm::kNone,
     [](Settings& s, const char16_t*) {
       return ShowAndLeave(s, [] { PrintCharsetListing(false); });
     }},
    {u"--list-csv", ValueForm::kNone,
     [](Settings& s, const char16_t*) {
       return ShowAndLeave(s, [] { PrintCharsetListing(true); });
     }},
    {u"-h", ValueForm::kNone, &ShowHelp},
    {u"--help", ValueForm::kNone, &ShowHelp},
    {u"--version", ValueForm::kNone, &ShowVersion},
};

bool StartsWith(const char16_t* text, const char16_t* prefix) {
  while (*prefix != 0 && *text == *prefix) ++text, ++prefix;
  return *prefix == 0;
}

bool Matches(const OptionRow& row, const char16_t* token) {
  switch (row.form) {
    case ValueForm::kAttached:
      return StartsWithIgnoreCase(token, row.word);
    case ValueForm::kLong:
    case ValueForm::kLongOptional: {
      if (!StartsWith(token, row.word)) return false;
      const char16_t next = token[TextLength(row.word)];
      return next == 0 || next == u'=';
    }
    default:
      return row.word[0] == u'-'
                 ? TextLength(token) == TextLength(row.word) && StartsWith(token, row.word)
                 : EqualsIgnoreCase(token, row.word);
  }
}

const OptionRow* FindOption(const char16_t* token) {
  for (const OptionRow& row : kOptionRows) {
    if (Matches(row, token)) return &row;
  }
  if (platform::kPosixConventions) {
    for (const OptionRow& row : kGnuOptionRows) {
      if (Matches(row, token)) return &row;
    }
  }
  return nullptr;
}

Step RefuseWithHint(std::uint32_t message, const char16_t* token) {
  LogResourceMessage(kLevelNormal, MessageKind::kFailure, message, token);
  LogResourceMessage(kLevelNormal, MessageKind::kInformation,
                     platform::kPosixConventions ? kStringUsageHintPosix : kStringUsageHint);
  return Step::kUnusable;
}

// A token that looks like an option ("/recurse") but is none. A path of one
// part under the root that exists ("/tmp") is still a path, and so is
// anything with a further separator ("/home/a.txt").
bool LooksLikeUnknownOption(const char16_t* token) {
  // "-x" and "--xyz" are options by the POSIX habit ("-" alone is a stream);
  // a file whose name starts with "-" is written "./-x" or after "--".
  if (platform::kPosixConventions && token[0] == u'-' && token[1] != 0) return true;
  if (token[0] != u'/' || token[1] == 0) return false;
  for (const char16_t* p = token + 1; *p != 0; ++p) {
    if (*p == u'/' || *p == platform::kPathSeparator) return false;
  }
  return !platform::PathExists(token);
}

Step TakePath(Settings& settings, const char16_t* token) {
  if (token[0] == 0) {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringEmptyArgument);
    return Step::kUnusable;
  }
  ++settings.pathArgumentCount;
  settings.pathArguments.emplace_back(token);
  // "-" is the standard input as the input, the standard output as the output.
  if (platform::kPosixConventions && token[0] == u'-' && token[1] == 0) {
    token = settings.inputPath[0] == 0 ? kConsoleInputPath : kConsoleOutputPath;
  }
  if (settings.inputPath[0] == 0) {
    return CopySetting(settings.inputPath, kPathCapacity, token, kStringWhatInputPath)
               ? Step::kGoOn
               : Step::kUnusable;
  }
  return SetOutputPath(settings, token);
}

}  // namespace

void OpenLogFileOfSettings(const Settings& settings) {
  MessageLog* log = GetMessageLog();
  if (!log->OpenLogFile(settings.logPath)) {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringLogFileNotCreated,
                       DescribeError(log->lastOpenError()));
  }
}

std::vector<std::u16string> OptionSpellings() {
  std::vector<std::u16string> words;
  for (const OptionRow& row : kOptionRows) words.emplace_back(row.word);
  if (platform::kPosixConventions) {
    for (const OptionRow& row : kGnuOptionRows) words.emplace_back(row.word);
  }
  return words;
}

bool IsOptionSpelling(const char16_t* token) { return FindOption(token) != nullptr; }

OptionsResult ApplyOptions(char16_t* const* tokens, int count) {
  Settings& settings = GetSettings();
  const OptionsResult unusable{true, kExitUnusableCommandLine};
  if (count > kMaxTokens) {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringTooManyArguments,
                       kMaxTokens - 1);
    return unusable;
  }
  bool optionsEnded = false;
  for (int i = 1; i < count; ++i) {
    const char16_t* token = tokens[i];
    Step step = Step::kGoOn;
    const OptionRow* row = optionsEnded ? nullptr : FindOption(token);
    if (!optionsEnded && platform::kPosixConventions && EqualsIgnoreCase(token, u"--")) {
      optionsEnded = true;
      continue;
    }
    if (row == nullptr) {
      step = !optionsEnded && LooksLikeUnknownOption(token)
                 ? RefuseWithHint(kStringUnknownOption, token)
                 : TakePath(settings, token);
    } else {
      const char16_t* value = nullptr;
      switch (row->form) {
        case ValueForm::kNone:
          break;
        case ValueForm::kAttached:
          value = token + TextLength(row->word);
          break;
        case ValueForm::kNext:
          value = i + 1 < count ? tokens[++i] : nullptr;
          break;
        case ValueForm::kNextOrDefault:
          value = i + 1 < count ? tokens[++i] : row->defaultValue;
          break;
        case ValueForm::kLong:
        case ValueForm::kLongOptional: {
          const char16_t* rest = token + TextLength(row->word);
          if (*rest == u'=') {
            value = rest + 1;
          } else if (row->form == ValueForm::kLongOptional) {
            value = row->defaultValue;
          } else {
            value = i + 1 < count ? tokens[++i] : nullptr;
          }
          break;
        }
      }
      if (row->form != ValueForm::kNone && (value == nullptr || value[0] == 0)) {
        step = RefuseWithHint(kStringOptionNeedsValue, row->word);
      } else {
        step = row->apply(settings, value);
      }
    }
    if (step == Step::kExitOk) return {true, kExitOk};
    if (step == Step::kUnusable) return unusable;
  }
  return {};
}

}  // namespace ordana
