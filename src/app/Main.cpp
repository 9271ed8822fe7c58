#include "app/Main.h"

#include <new>
#include <string>
#include <vector>

#include "app/ChainAssembly.h"
#include "app/CommandLine.h"
#include "app/CsvReport.h"
#include "app/Inputs.h"
#include "app/Settings.h"
#include "app/StatusChannel.h"
#include "app/Usage.h"
#include "codecs/CharsetRegistry.h"
#include "core/File.h"
#include "core/MessageLog.h"
#include "core/StringTable.h"
#include "platform/Platform.h"

namespace ordana {

namespace {

// Closes the CSV report, gives the standard output back and deletes the
// log: the way out of every path through the program.
int Leave(int exitCode) {
  CloseCsvReport();
  DestroyMessageLog();
  // Here rather than at exit, where running out of memory could not be told.
  CloseStatusChannel();
  return exitCode;
}

// A device is decided by what the path names, not by how it is spelt: the
// device namespace, the process's own standard streams, or something that
// is neither a file nor a directory (a FIFO, a socket, a terminal). A
// regular file is a file wherever it lives (/dev/shm included).
bool IsDevicePath(const char16_t* path) {
  if (StartsWithIgnoreCase(path, u"\\\\.\\")) return true;
  if (platform::StandardStreamOf(path) != platform::StandardStream::kNone) return true;
  platform::PathInfo info;
  const std::u16string expanded = platform::ExpandEnvironmentStrings(path);
  return platform::InspectPath(expanded.c_str(), &info) && info.type == platform::PathType::kDevice;
}

bool IsStandardOutputPath(const char16_t* path) {
  return EqualsIgnoreCase(path, kConsoleOutputPath);
}

// The process's standard streams named as files are the console devices:
// taken as they are, never reopened (and so never truncated) by name.
void UseStandardStreamName(char16_t* path, platform::StandardStream stream,
                           const char16_t* deviceName) {
  if (platform::StandardStreamOf(path) != stream) return;
  for (std::size_t k = 0; k <= TextLength(deviceName); ++k) path[k] = deviceName[k];
}

// Says that `name` is not a known set, with the known names closest to it.
void ReportUnknownCharset(std::uint32_t message, const char16_t* name) {
  LogResourceMessage(kLevelNormal, MessageKind::kFailure, message, name);
  const std::vector<std::u16string> closest = ClosestCharsetNames(name, 3);
  if (!closest.empty()) {
    std::u16string list;
    for (const std::u16string& known : closest) {
      if (!list.empty()) list += u", ";
      list += known;
    }
    LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringClosestNames, list);
  }
  LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringListAllHint);
}

// True when two paths name one file: the same existing file under any name,
// or, for files that do not exist yet, the same full path.
bool NameOneFile(const char16_t* a, const char16_t* b) {
  if (platform::IsSameFile(a, b)) return true;
  const std::u16string first = platform::QualifyPath(platform::ExpandEnvironmentStrings(a));
  const std::u16string second = platform::QualifyPath(platform::ExpandEnvironmentStrings(b));
  return first == second;
}

// The log file and the CSV report are written while the run goes on: one
// that is also the input or the output would be converted while written, or
// overwritten. A pattern or a directory run skips them when it meets them.
// `paths`: the inputs and the output of the run.
bool CheckReportFiles(const Settings& settings, const std::vector<const char16_t*>& paths) {
  auto clashes = [&paths](const char16_t* report) {
    for (const char16_t* path : paths) {
      if (path[0] == 0 || IsDevicePath(path)) continue;
      if (NameOneFile(report, path)) return true;
    }
    return false;
  };
  if (settings.logToFile && clashes(settings.logPath)) {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringLogFileIsInputOrOutput,
                       settings.logPath);
    return false;
  }
  if (settings.csvPath[0] != 0 &&
      (clashes(settings.csvPath) ||
       (settings.logToFile && NameOneFile(settings.csvPath, settings.logPath)))) {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringCsvIsInputOrOutput,
                       settings.csvPath);
    return false;
  }
  return true;
}

// Silent mode: no messages unless into a log file, no questions. When the
// silence only keeps messages out of converted text on standard output,
// failures still go to standard error.
void SilenceWhenAsked(Settings& settings) {
  if (!settings.silent) return;
  if (!settings.logToFile) {
    GetMessageLog()->SetMaximumLevel(kLevelNormal);
    // No path: nothing is opened, the log only falls silent.
    (void)GetMessageLog()->OpenLogFile(nullptr);
    // Silent for the converted text's sake, not the user's: a failure is
    // still said, out of the text's way.
    if (settings.silentForOutput) GetMessageLog()->ShowFailuresWhenSilent();
  }
  settings.answerWithoutAsking = true;
}

// Says how many inputs failed, if any; the exit code that tells it. A CSV
// report that lost lines fails the run as well (it said so when it failed).
int ReportFailedInputs() {
  const int failed = FailedInputCount();
  if (failed == 0) return CsvReportFailed() ? kExitInputsFailed : kExitOk;
  if (failed == 1) {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringOneInputFailed);
  } else {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringInputsFailed, failed);
  }
  return kExitInputsFailed;
}

int Run(int count, char16_t* const* tokens);
int RunDetection(CharsetId sourceId);

}  // namespace

int wmain(int count, char16_t* const* tokens) {
  // Kept for the way out after memory has run out: freed first, so that the
  // message and the clean-up have room to work.
  auto* reserve = new (std::nothrow) char[64 * 1024];
  try {
    const int code = Run(count, tokens);
    delete[] reserve;
    return code;
  } catch (const std::bad_alloc&) {
    delete[] reserve;
    // The temporary file (the unwinding has removed it already, unless it
    // could not) and whatever else this process registered.
    platform::RemoveRegisteredObjects();
    try {
      LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringOutOfMemory, "wmain", 660);
      return Leave(kExitOutOfMemory);
    } catch (const std::bad_alloc&) {
      // Not even the message fits; the exit code still tells.
      return kExitOutOfMemory;
    }
  }
}

namespace {

// What the parts of Run return when the run goes on; anything else is the
// exit code to leave with.
constexpr int kGoOn = -1;

// Which paths are inputs and which the output, by what the command line
// holds: a path list, --detect, or the input and output paths.
int SettlePaths(Settings& settings) {
  if (settings.detectOnly) {
    // Every path, and every listed file, is an input.
    if (settings.pathArguments.empty() && settings.filesFromPath[0] == 0) {
      PrintUsage();
      return kExitOk;
    }
  } else if (settings.filesFromPath[0] != 0) {
    // The inputs come from the list; a path on the command line is the output.
    if (settings.pathArgumentCount > 1 || (settings.inputPath[0] != 0 && !settings.inPlace)) {
      LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringFilesFromOnePath);
      return kExitUnusableCommandLine;
    }
    if (settings.inputPath[0] != 0) {
      for (std::size_t k = 0; k < kPathCapacity; ++k)
        settings.outputPath[k] = settings.inputPath[k];
      settings.inputPath[0] = 0;
      settings.inPlace = false;
    }
  } else if (settings.inputPath[0] == 0) {
    PrintUsage();
    return kExitOk;
  }
  return kGoOn;
}

// Paths a shell, not the user, made of the command line.
int RefuseShellMadePaths(const Settings& settings) {
  // `ordana *.txt` reaches us as every matching name where the shell expands
  // patterns: the last of them would be overwritten as the output. Only a
  // shell produces more than two. A detection writes nothing: there every
  // path is an input.
  if (platform::kShellExpandsWildcards && settings.pathArgumentCount > 2 && !settings.detectOnly) {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringTooManyPaths,
                       settings.pathArgumentCount);
    return kExitUnusableCommandLine;
  }
  // Another system's device name means nothing here; taken as a name it
  // would become a regular file called \\.\pipe\NAME in the current directory.
  std::vector<std::u16string> named(settings.pathArguments);
  named.emplace_back(settings.outputPath);  // also when given by an option
  for (const std::u16string& path : named) {
    if (platform::NamesForeignDevice(path.c_str())) {
      LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringWindowsPipeName, path);
      return kExitUnusableCommandLine;
    }
  }
  return kGoOn;
}

// The source and destination character sets the command line names (the
// lookup may rewrite a name in the settings).
int LookUpCharsets(Settings& settings, CharsetId* sourceId, CharsetId* destinationId) {
  const CharsetLookup source = LookUpCharset(settings.sourceCharsetName);
  if (!source.known) {
    ReportUnknownCharset(kStringUnknownSourceName, settings.sourceCharsetName);
    return kExitUnknownSource;
  }
  const CharsetLookup destination = LookUpCharset(settings.destinationCharsetName);
  if (!destination.known) {
    ReportUnknownCharset(kStringUnknownDestinationName, settings.destinationCharsetName);
    return kExitUnknownDestination;
  }
  if (destination.sourceOnly) {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringSourceOnlyName,
                       settings.destinationCharsetName);
    return kExitUnknownDestination;
  }
  *sourceId = source.id;
  *destinationId = destination.id;
  return kGoOn;
}

// The standard streams' names, and where a device's text goes.
void SettleDevices(Settings& settings) {
  UseStandardStreamName(settings.inputPath, platform::StandardStream::kInput, kConsoleInputPath);
  UseStandardStreamName(settings.outputPath, platform::StandardStream::kOutput, kConsoleOutputPath);
  settings.inputIsDevice = IsDevicePath(settings.inputPath);
  if (settings.inputIsDevice && settings.outputPath[0] == 0) {
    // A device has no place to convert in; its text goes to the standard
    // output, as a filter's would.
    for (std::size_t k = 0; k <= TextLength(kConsoleOutputPath); ++k) {
      settings.outputPath[k] = kConsoleOutputPath[k];
    }
    settings.inPlace = false;
  }
  if (settings.outputPath[0] != 0 && IsDevicePath(settings.outputPath)) {
    settings.outputIsDevice = true;
    if (IsStandardOutputPath(settings.outputPath)) {
      // Where messages have a stream of their own (standard error on
      // POSIX), failures still go there; a Windows console shows both
      // streams on one screen, among the converted text.
      settings.silentForOutput = platform::kPosixConventions && !settings.silent;
      settings.silent = true;
      GetMessageLog()->KeepOffStandardOutput();
    }
  }
}

// Builds the chain and converts every input; the exit code.
int ConvertInputs(CharsetId sourceId, CharsetId destinationId) {
  int assembled = AssembleChain(sourceId, destinationId);
  if (assembled != kExitOk) return assembled;

  int processed;
  try {
    processed = ProcessInputs();
  } catch (const ProgramExit& exit) {
    return exit.code;
  }

  LogMessage(kLevelNormal, MessageKind::kInformation, u"\r\n");
  if (processed == 1) {
    LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringOneFileProcessed);
  } else {
    LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringFilesProcessed, processed);
  }
  return ReportFailedInputs();
}

int Run(int count, char16_t* const* tokens) {
  platform::SetConsoleCodePages(1200);
  if (count < 2) {
    PrintUsage();
    return Leave(kExitOk);
  }

  OptionsResult options = ApplyOptions(tokens, count);
  if (options.exit) return Leave(options.exitCode);

  Settings& settings = GetSettings();
  if (int code = SettlePaths(settings); code != kGoOn) return Leave(code);
  if (int code = RefuseShellMadePaths(settings); code != kGoOn) return Leave(code);

  // Everything the command line names is checked before anything is
  // created: a refused command line leaves every file as it was.
  CharsetId sourceId = 0;
  CharsetId destinationId = 0;
  if (int code = LookUpCharsets(settings, &sourceId, &destinationId); code != kGoOn) {
    return Leave(code);
  }
  if (settings.detectOnly) return Leave(RunDetection(sourceId));

  SettleDevices(settings);
  if (!CheckReportFiles(
          settings, {settings.inputPath, settings.outputIsDevice ? u"" : settings.outputPath})) {
    return Leave(kExitUnusableCommandLine);
  }
  if (settings.logToFile) OpenLogFileOfSettings(settings);
  if (settings.csvPath[0] != 0) {
    const CsvReport* report = OpenCsvReport(settings.csvPath);
    if (report->error() != 0) ReportCsvWriteFailure(*report);
  }

  SilenceWhenAsked(settings);

  LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringCharsetLine,
                     settings.sourceCharsetName, settings.destinationCharsetName);
  return Leave(ConvertInputs(sourceId, destinationId));
}

// --detect: every path is an input, each is only read, and standard output
// carries nothing but the results.
int RunDetection(CharsetId sourceId) {
  Settings& settings = GetSettings();
  std::vector<const char16_t*> inputs;
  for (const std::u16string& path : settings.pathArguments) inputs.push_back(path.c_str());
  if (settings.filesFromPath[0] != 0) inputs.push_back(settings.filesFromPath);
  if (!CheckReportFiles(settings, inputs)) return kExitUnusableCommandLine;
  // The messages (the Windows console shows both on one screen, as it does
  // the listings).
  if (platform::kPosixConventions) GetMessageLog()->KeepOffStandardOutput();
  if (settings.logToFile) OpenLogFileOfSettings(settings);
  SilenceWhenAsked(settings);
  DetectInputs(sourceId);
  return ReportFailedInputs();
}

}  // namespace

}  // namespace ordana
