#include "app/Main.h"

#include "app/ChainAssembly.h"
#include "app/CommandLine.h"
#include "app/CsvReport.h"
#include "app/Inputs.h"
#include "app/MessageLog.h"
#include "app/Settings.h"
#include "app/StringTable.h"
#include "app/Usage.h"
#include "codecs/CharsetRegistry.h"
#include "core/File.h"
#include "platform/Platform.h"

namespace ordana {

namespace {

// Closes the CSV report, gives the standard output back and deletes the
// log: the way out of every path through the program.
int Leave(int exitCode) {
  CloseCsvReport();
  DestroyMessageLog();
  return exitCode;
}

bool IsDevicePath(const char16_t* path) {
  if (StartsWithIgnoreCase(path, u"\\\\.\\")) return true;
#ifndef _WIN32
  if (StartsWithIgnoreCase(path, u"/dev/")) return true;
#endif
  return false;
}

bool IsStandardOutputPath(const char16_t* path) {
  if (EqualsIgnoreCase(path, kConsoleOutputPath)) return true;
#ifndef _WIN32
  if (EqualsIgnoreCase(path, u"/dev/stdout")) return true;
#endif
  return false;
}

}  // namespace

int wmain(int count, char16_t* const* tokens) {
  platform::SetConsoleCodePages(1200);
  if (count < 2) {
    PrintUsage();
    return Leave(kExitOk);
  }

  OptionsResult options = ApplyOptions(tokens, count);
  if (options.exit) return Leave(options.exitCode);

  Settings& settings = GetSettings();
  if (settings.inputPath[0] == 0) {
    PrintUsage();
    return Leave(kExitOk);
  }
#ifndef _WIN32
  // `ordana *.txt` reaches us as every matching name: the last of them would
  // be overwritten as the output. Only a shell produces more than two.
  if (settings.pathArgumentCount > 2) {
    LogResourceMessage(1, 2, kStringTooManyPaths, settings.pathArgumentCount);
    return Leave(kExitUnusableCommandLine);
  }
#endif

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
    if (IsStandardOutputPath(settings.outputPath)) settings.silent = true;
  }
  if (settings.silent) {
    if (!settings.logToFile) {
      GetMessageLog()->SetMaximumLevel(1);
      GetMessageLog()->OpenLogFile(nullptr);
    }
    settings.answerWithoutAsking = true;
  }

  const CharsetId sourceId = CharsetFromName(settings.sourceCharsetName);
  const CharsetId destinationId = CharsetFromName(settings.destinationCharsetName);
  LogResourceMessage(1, 0, 104, settings.sourceCharsetName, settings.destinationCharsetName);

  int assembled = AssembleChain(sourceId, destinationId);
  if (assembled != kExitOk) return Leave(assembled);

  int processed;
  try {
    processed = ProcessInputs();
  } catch (const ProgramExit& exit) {
    return Leave(exit.code);
  }

  LogMessage(1, 0, u"\r\n");
  if (processed == 1) {
    LogResourceMessage(1, 0, 152);
  } else {
    LogResourceMessage(1, 0, 150, processed);
  }
  return Leave(kExitOk);
}

}  // namespace ordana
