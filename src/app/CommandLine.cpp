#include "app/CommandLine.h"

#include "app/CsvReport.h"
#include "app/Listings.h"
#include "app/MessageLog.h"
#include "app/Settings.h"
#include "app/StatusChannel.h"
#include "app/Usage.h"
#include "core/Format.h"

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
    if (tokenEnd >= end) break;
    p = tokenEnd + 1;
    while (p < end && *p == u' ') ++p;
  }
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

// Copies a value into a fixed-size setting, refusing it when it does not
// fit: a silently shortened path could name another file.
bool CopySetting(char16_t* target, std::uint32_t capacity, const char16_t* value,
                 const char16_t* what) {
  std::size_t n = TextLength(value);
  if (n >= capacity) {
    LogMessage(1, 2, u"Error: %s is too long (at most %u characters): %s\r\n", what, capacity - 1,
               value);
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

void ApplyHtmlEntityMode(const char16_t* value) {
  if (EqualsIgnoreCase(value, u"enc")) GetSettings().htmlEntityMode = 1;
  else if (EqualsIgnoreCase(value, u"dec")) GetSettings().htmlEntityMode = 2;
}

// Starts logging into `name` (quotes removed). False when the name is too
// long to use.
bool LogToFile(const char16_t* name) {
  Settings& settings = GetSettings();
  char16_t path[kPathCapacity];
  if (!CopySetting(path, kPathCapacity, name, u"The log file name")) return false;
  UnquoteSpaces(path);
  settings.logToFile = true;
  MessageLog* log = GetMessageLog();
  log->SetMaximumLevel(2);
  if (!log->OpenLogFile(path)) {
    LogMessage(1, 2, u"Log file can not be created: %s\r\n",
               platform::ErrorText(log->lastOpenError()));
  }
  return true;
}

}  // namespace

OptionsResult ApplyOptions(char16_t* const* tokens, int count) {
  Settings& settings = GetSettings();
  OptionsResult unusable{true, kExitUnusableCommandLine};
  for (int i = 1; i < count; ++i) {
    const char16_t* token = tokens[i];
    const bool hasNext = i + 1 < count;
    auto rest = [token](const char16_t* word) { return token + TextLength(word); };

    if (EqualsIgnoreCase(token, u"/?")) {
      PrintUsage();
      return {true, kExitOk};
    } else if (StartsWithIgnoreCase(token, u"/scs=")) {
      if (!CopySetting(settings.sourceCharsetName, kCharsetNameCapacity, rest(u"/scs="),
                       u"The source character set name")) {
        return unusable;
      }
    } else if (EqualsIgnoreCase(token, u"/i")) {
      if (!hasNext) continue;
      if (!CopySetting(settings.sourceCharsetName, kCharsetNameCapacity, tokens[++i],
                       u"The source character set name")) {
        return unusable;
      }
    } else if (StartsWithIgnoreCase(token, u"/dcs=")) {
      if (!CopySetting(settings.destinationCharsetName, kCharsetNameCapacity, rest(u"/dcs="),
                       u"The destination character set name")) {
        return unusable;
      }
    } else if (EqualsIgnoreCase(token, u"/o")) {
      if (!hasNext) continue;
      if (!CopySetting(settings.destinationCharsetName, kCharsetNameCapacity, tokens[++i],
                       u"The destination character set name")) {
        return unusable;
      }
    } else if (StartsWithIgnoreCase(token, u"/output=")) {
      if (!CopySetting(settings.outputPath, kPathCapacity, rest(u"/output="), u"The output path")) {
        return unusable;
      }
      UnquoteSpaces(settings.outputPath);
      settings.inPlace = false;
    } else if (EqualsIgnoreCase(token, u"/nobom")) {
      settings.writeBom = false;
    } else if (StartsWithIgnoreCase(token, u"/eol=")) {
      settings.eolRequested = true;
      settings.eolMode = ParseEolMode(rest(u"/eol="));
    } else if (EqualsIgnoreCase(token, u"/eol")) {
      if (!hasNext) continue;
      settings.eolRequested = true;
      settings.eolMode = ParseEolMode(tokens[++i]);
    } else if (EqualsIgnoreCase(token, u"/xml")) {
      settings.modifyXmlDeclaration = true;
    } else if (EqualsIgnoreCase(token, u"/html")) {
      settings.modifyHtmlMeta = true;
    } else if (StartsWithIgnoreCase(token, u"/htmlentity=")) {
      ApplyHtmlEntityMode(rest(u"/htmlentity="));
    } else if (EqualsIgnoreCase(token, u"/htmlentity")) {
      if (!hasNext) continue;
      ApplyHtmlEntityMode(tokens[++i]);
    } else if (EqualsIgnoreCase(token, u"/silent") || EqualsIgnoreCase(token, u"/s")) {
      settings.silent = true;
    } else if (EqualsIgnoreCase(token, u"/recursive") || EqualsIgnoreCase(token, u"/r")) {
      settings.recursive = true;
    } else if (StartsWithIgnoreCase(token, u"/loglevel=")) {
      GetMessageLog()->SetMaximumLevel(static_cast<std::uint32_t>(ParseDecimal(rest(u"/loglevel="))));
    } else if (EqualsIgnoreCase(token, u"/loglevel")) {
      if (!hasNext) continue;
      GetMessageLog()->SetMaximumLevel(static_cast<std::uint32_t>(ParseDecimal(tokens[++i])));
    } else if (EqualsIgnoreCase(token, u"/log")) {
      if (!LogToFile(u"ordana.log")) return unusable;
    } else if (StartsWithIgnoreCase(token, u"/log=")) {
      if (!LogToFile(rest(u"/log="))) return unusable;
    } else if (EqualsIgnoreCase(token, u"/logto")) {
      if (!LogToFile(hasNext ? tokens[++i] : u"ordana.log")) return unusable;
    } else if (StartsWithIgnoreCase(token, u"/policy=")) {
      settings.strictPolicy = EqualsIgnoreCase(rest(u"/policy="), u"strict");
    } else if (EqualsIgnoreCase(token, u"/policy")) {
      if (!hasNext) continue;
      settings.strictPolicy = EqualsIgnoreCase(tokens[++i], u"strict");
    } else if (EqualsIgnoreCase(token, u"/y")) {
      settings.defaultAnswer = true;
      settings.answerWithoutAsking = true;
    } else if (EqualsIgnoreCase(token, u"/y-")) {
      settings.defaultAnswer = false;
      settings.answerWithoutAsking = true;
    } else if (EqualsIgnoreCase(token, u"/listall")) {
      PrintCharsetListing(false);
      return {true, kExitOk};
    } else if (EqualsIgnoreCase(token, u"/listallcsv")) {
      PrintCharsetListing(true);
      return {true, kExitOk};
    } else if (EqualsIgnoreCase(token, u"/csv")) {
      if (!hasNext) continue;
      if (!CopySetting(settings.csvPath, kPathCapacity, tokens[++i], u"The CSV report name")) {
        return unusable;
      }
      OpenCsvReport(settings.csvPath);
    } else if (EqualsIgnoreCase(token, u"/ssb")) {
      if (!hasNext) continue;
      StatusChannelOwnerId() = static_cast<std::uint32_t>(ParseDecimal(tokens[++i]));
      // The next conversion opens the channel of the new owner.
      CloseStatusChannel();
    } else {
      ++settings.pathArgumentCount;
      if (settings.inputPath[0] == 0) {
        if (!CopySetting(settings.inputPath, kPathCapacity, token, u"The input path")) {
          return unusable;
        }
      } else {
        if (!CopySetting(settings.outputPath, kPathCapacity, token, u"The output path")) {
          return unusable;
        }
        UnquoteSpaces(settings.outputPath);
        settings.inPlace = false;
      }
    }
  }
  return {};
}

}  // namespace ordana
