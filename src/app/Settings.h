#pragma once
// The process-wide settings written by the command line and read by the
// chain assembly, the filters and the input processing.

#include <cstdint>
#include <string>
#include <vector>

namespace ordana {

constexpr std::uint32_t kCharsetNameCapacity = 32;  // 31 code units and a terminator
constexpr std::uint32_t kPathCapacity = 260;        // 259 code units and a terminator

enum class EolMode { kNone, kDos, kUnix, kMac };

// Exit codes of the program.
enum ExitCode : int {
  kExitOk = 0,
  kExitUnknownSource = 1,
  kExitUnknownDestination = 2,
  // Our own: a command line or path that cannot be used as given.
  kExitUnusableCommandLine = 3,
  // Our own: one or more inputs could not be read or written whole.
  kExitInputsFailed = 4,
  kExitDirectoryDeclined = 5,
  kExitMultipleInputsDeclined = 6,
  kExitOutOfMemory = 8,
};

struct Settings {
  char16_t sourceCharsetName[kCharsetNameCapacity] = u"auto";
  char16_t destinationCharsetName[kCharsetNameCapacity] = u"utf-16";
  char16_t inputPath[kPathCapacity] = {};
  char16_t outputPath[kPathCapacity] = {};
  bool inPlace = true;
  bool writeBom = true;
  bool strictPolicy = true;
  bool defaultAnswer = true;
  bool answerWithoutAsking = false;
  bool eolRequested = false;
  EolMode eolMode = EolMode::kNone;
  bool modifyXmlDeclaration = false;
  bool modifyHtmlMeta = false;
  int htmlEntityMode = 0;  // 0 none, 1 encode, 2 decode
  bool silent = false;
  // Silent only because the converted text goes to standard output, where
  // messages have a stream of their own: the failures are still said, on
  // standard error.
  bool silentForOutput = false;
  bool recursive = false;
  // Walks (patterns, directories): /binary converts files that look binary,
  // /followlinks follows symbolic links whoever owns them.
  bool convertBinaryFiles = false;
  bool followAllLinks = false;
  bool logToFile = false;
  bool inputIsDevice = false;
  bool outputIsDevice = false;
  // Paths given without an option word; more than two on POSIX can only
  // come from a pattern the shell expanded.
  int pathArgumentCount = 0;
  // Those paths as typed ("-" included), in order: every one of them is an
  // input of a detection-only run.
  std::vector<std::u16string> pathArguments;
  // --detect: name each input's character set on standard output, convert
  // nothing; --verbose adds how it was decided and the runners-up.
  bool detectOnly = false;
  bool detectVerbose = false;
  // The log file (/log, /log=, /logto) and the CSV report (/csv), the latest
  // of each; both are opened only once the command line has been accepted.
  char16_t logPath[kPathCapacity] = {};
  char16_t csvPath[kPathCapacity] = {};
  // --files-from: the file that lists the inputs ("-" for standard input),
  // one a line, or separated by NUL bytes with --null.
  char16_t filesFromPath[kPathCapacity] = {};
  bool filesFromNull = false;
};

Settings& GetSettings();
// For tests: back to the defaults.
void ResetSettings();

// The owner process id of the status channel (/ssb).
std::uint32_t& StatusChannelOwnerId();

}  // namespace ordana
