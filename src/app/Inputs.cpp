#include "app/Inputs.h"

#include "app/ChainAssembly.h"
#include "app/MessageLog.h"
#include "app/Settings.h"
#include "app/StringTable.h"
#include "app/WalkRules.h"
#include "core/ConversionRun.h"
#include "core/FilePersistenceFilter.h"
#include "platform/Platform.h"

namespace ordana {

namespace {

// Decided once per run, before the first input.
struct RunState {
  bool inputHasWildcards = false;
  bool appendToOutput = false;
  // The output directory of a run that writes into one (not in place): the
  // walk never enters it, so converted files are not converted again.
  std::u16string outputRoot;
  // Extra open flags for the input of a walk (WalkRules): it must still be
  // the regular file the rules looked at.
  std::uint32_t inputOpenFlags = 0;
};

RunState& State() {
  static RunState state;
  return state;
}

// Paths are limited to 259 code units so that they fit every record and
// buffer that carries them; a longer one is reported and skipped, never
// shortened.
bool CheckPathLength(const std::u16string& path) {
  if (path.size() < kPathCapacity) return true;
  LogMessage(1, 2, u"Error: %s is too long (at most %u characters): %s\r\n", u"The path",
             kPathCapacity - 1, path);
  return false;
}

std::u16string JoinPath(const std::u16string& directory, const std::u16string& name) {
  if (directory.empty()) return name;
  if (directory.back() == platform::kPathSeparator) return directory + name;
  return directory + platform::kPathSeparator + name;
}

std::u16string DirectoryPart(const std::u16string& path) {
  std::size_t slash = path.rfind(platform::kPathSeparator);
  if (slash == std::u16string::npos) return std::u16string();
  if (slash == 0) return path.substr(0, 1);
  return path.substr(0, slash);
}

std::u16string LastPart(const std::u16string& path) {
  std::size_t slash = path.rfind(platform::kPathSeparator);
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

bool HasWildcards(const std::u16string& path) {
  return path.find_first_of(u"*?") != std::u16string::npos;
}

void ReportOutputError(const std::u16string& path, platform::ErrorCode error) {
  LogResourceMessage(1, 2, 144, path, platform::ErrorText(error));
}

// Closes the persistence filter's output and reports a write that did not
// reach the disk. False when one did not.
bool CloseOutput(CFilePersistenceFilter& persistence, const std::u16string& path) {
  persistence.SetKeepOpen(false);
  persistence.Reset();
  if (persistence.writeError() == 0) return true;
  ReportOutputError(path, persistence.writeError());
  persistence.ClearWriteError();
  return false;
}

// `replaceInput`: the output is a temporary file that replaces the input
// once the whole conversion is on the disk.
bool ConvertFileInto(const std::u16string& inputPath, const std::u16string& outputPath,
                     bool replaceInput) {
  CFilePersistenceFilter& persistence = *PersistenceFilter();
  CFile& output = persistence.stream();
  const Settings& settings = GetSettings();
  CFile input;

  LogMessage(2, 0, u"Input: %s, Output: %s\r\n", inputPath, outputPath);

  // The input is opened before the output is created: an input that cannot
  // be read must not cost the user an existing output file, nor leave an
  // empty one behind.
  if (!input.Open(inputPath.c_str(), platform::kOpenExisting, platform::kGenericRead,
                  platform::kFileShareRead,
                  platform::kFileFlagSequentialScan | State().inputOpenFlags)) {
    LogResourceMessage(1, 2, 145, inputPath, platform::ErrorText(input.lastError()));
    if (replaceInput) platform::DeleteFile(outputPath.c_str());
    return false;
  }

  if (!output.IsOpen()) {
    persistence.ClearWriteError();
    if (!output.Create(outputPath.c_str(), platform::kGenericWrite, platform::kFileShareRead)) {
      ReportOutputError(outputPath, output.lastError());
      output.Close();
      if (replaceInput) platform::DeleteFile(outputPath.c_str());
      return false;
    }
    if (!settings.inputIsDevice && (State().appendToOutput || replaceInput)) {
      persistence.SetKeepOpen(true);
    }
  }

  std::uint64_t size = 0;
  if (!platform::GetFileSize(input.handle(), &size)) input.SetLastError(platform::LastError());
  LogMessage(2, 0, u"File opened, Size: %u Bytes\r\n", static_cast<std::uint32_t>(size));

  if (!RunConversion(input)) LogResourceMessage(1, 2, 146);
  input.Close();

  if (replaceInput) {
    // The converted text replaces the input only when all of it reached the
    // disk; otherwise the input stays as it was and the temporary goes.
    if (!platform::FlushFileBuffers(output.handle()) && persistence.writeError() == 0) {
      ReportOutputError(outputPath, platform::LastError());
      CloseOutput(persistence, outputPath);
      platform::DeleteFile(outputPath.c_str());
      return false;
    }
    if (persistence.writeError() != 0) {
      CloseOutput(persistence, outputPath);
      platform::DeleteFile(outputPath.c_str());
      return false;
    }
    const bool moved = output.MoveTo(inputPath.c_str());
    const platform::ErrorCode moveError = output.lastError();
    CloseOutput(persistence, inputPath);
    if (!moved) {
      ReportOutputError(inputPath, moveError);
      platform::DeleteFile(outputPath.c_str());
      return false;
    }
    return true;
  }

  if (persistence.writeError() != 0) {
    // An appended output stays open for the next input; its error is told
    // once per input that lost data.
    ReportOutputError(outputPath, persistence.writeError());
    persistence.ClearWriteError();
    return false;
  }
  return true;
}

bool ConvertInPlace(const std::u16string& inputPath, const std::u16string& directory) {
  std::u16string temporary;
  if (!platform::CreateTempFile(directory.c_str(), u"odn", &temporary)) {
    ReportOutputError(directory, platform::LastError());
    return false;
  }
  return ConvertFileInto(inputPath, temporary, true);
}

int ConvertNamedFile(const std::u16string& directory, const std::u16string& name,
                     const std::u16string& outputDirectory, const std::u16string& outputFile) {
  const Settings& settings = GetSettings();
  const std::u16string inputPath = settings.inputIsDevice ? name : JoinPath(directory, name);
  if (!CheckPathLength(inputPath)) return 0;
  if (settings.outputIsDevice) return ConvertFile(inputPath, outputFile) ? 1 : 0;
  if (settings.inPlace) return ConvertInPlace(inputPath, outputDirectory) ? 1 : 0;

  const std::u16string outputPath =
      !outputFile.empty() ? outputFile : JoinPath(outputDirectory, name);
  if (!CheckPathLength(outputPath)) return 0;
  if (!settings.inputIsDevice && platform::IsSameFile(inputPath.c_str(), outputPath.c_str())) {
    if (State().appendToOutput) {
      // The file everything is appended to matches the pattern itself.
      LogMessage(1, 0, u"Skipped %s: it is the output file.\r\n", inputPath);
      return 0;
    }
    // An output that is the input itself, under whatever name, would be
    // truncated before it is read: convert in place instead.
    LogMessage(2, 0, u"The output is the input itself; converting in place: %s\r\n", inputPath);
    return ConvertInPlace(inputPath, DirectoryPart(inputPath)) ? 1 : 0;
  }
  return ConvertFile(inputPath, outputPath) ? 1 : 0;
}

// Takes the default answer when told to, else asks.
bool Confirm(std::uint32_t question, const std::u16string& text) {
  const Settings& settings = GetSettings();
  if (settings.answerWithoutAsking) return settings.defaultAnswer;
  return AskYesNo(question, text);
}

}  // namespace

bool AskYesNo(std::uint32_t resourceId, const std::u16string& text) {
  char16_t yes = u'Y';
  char16_t no = u'N';
  if (const char16_t* question = LoadResourceString(resourceId)) {
    const std::size_t n = TextLength(question);
    if (n >= 6) {
      yes = question[n - 6];
      no = question[n - 4];
    }
  }
  for (;;) {
    WriteResourceUnconditionally(0, resourceId, text);
    const int c = platform::ReadStandardInputChar();
    if (c < 0) {
      // Nobody is left to answer: no is the answer that changes nothing.
      WriteMessageUnconditionally(1, u"\r\nNo answer: the input has ended. Taking the answer no.\r\n");
      return false;
    }
    const char16_t key = ToUpperAscii(static_cast<char16_t>(c));
    if (key == yes) return true;
    if (key == no) return false;
  }
}

bool ConvertFile(const std::u16string& inputPath, const std::u16string& outputPath) {
  const Settings& settings = GetSettings();
  return ConvertFileInto(inputPath, outputPath, !settings.inputIsDevice && settings.inPlace);
}

int WalkDirectory(const std::u16string& directory, const std::u16string& pattern,
                  const std::u16string& outputDirectory, const std::u16string& outputFile) {
  const Settings& settings = GetSettings();
  // The names are read first and converted afterwards: converting in place
  // adds and renames entries, and a live listing could then deliver a file a
  // second time.
  std::vector<platform::DirectoryEntry> entries;
  platform::ErrorClass error;
  if (!platform::ListDirectory(directory.c_str(), &entries, &error)) {
    const platform::ErrorCode code = platform::LastError();
    if (error == platform::ErrorClass::kFileNotFound) {
      LogResourceMessage(1, 0, 147, pattern);
    } else if (error == platform::ErrorClass::kPathNotFound) {
      LogResourceMessage(1, 0, 148, directory);
    } else {
      LogMessage(1, 2, u"Error: FindFirstFile failed: %s\r\n", platform::ErrorText(code));
    }
    return 0;
  }

  int count = 0;
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.linkToDirectory) continue;
    if (entry.isDirectory) {
      if (!settings.recursive) continue;
      const std::u16string subInput = JoinPath(directory, entry.name);
      const std::u16string subOutput = JoinPath(outputDirectory, entry.name);
      if (!CheckPathLength(subInput) || !CheckPathLength(subOutput)) continue;
      if (!State().outputRoot.empty() &&
          platform::IsSameFile(subInput.c_str(), State().outputRoot.c_str())) {
        continue;  // our own output tree
      }
      if (!EnterWalkDirectory(subInput, entry.name)) continue;
      // Only an output directory mirrors the tree; in place, appending or
      // into a device there is nothing to create.
      const bool mirror = !settings.inPlace && !settings.outputIsDevice && outputFile.empty();
      if (mirror) CreateWalkDirectory(subOutput);  // it may well exist already
      count += WalkDirectory(subInput, pattern, subOutput, outputFile);
    } else if (platform::MatchPathSpec(entry.name.c_str(), pattern.c_str())) {
      std::uint32_t openFlags = 0;
      if (!TakeWalkFile(JoinPath(directory, entry.name), entry.name, &openFlags)) continue;
      State().inputOpenFlags = openFlags;
      count += ConvertNamedFile(directory, entry.name, outputDirectory, outputFile);
      State().inputOpenFlags = 0;
    }
  }
  return count;
}

int ProcessInputs() {
  Settings& settings = GetSettings();
  RunState& state = State();
  state = RunState();
  std::u16string inputDirectory;
  std::u16string inputPattern;
  std::u16string outputDirectory;
  std::u16string outputFile;

  if (settings.inputIsDevice) {
    inputPattern = settings.inputPath;
  } else {
    std::u16string qualified =
        platform::QualifyPath(platform::ExpandEnvironmentStrings(settings.inputPath));
    if (!CheckPathLength(qualified)) throw ProgramExit{kExitUnusableCommandLine};
    if (platform::IsDirectory(qualified.c_str())) {
      if (!Confirm(110, LastPart(qualified))) {
        LogResourceMessage(1, 0, 113);
        throw ProgramExit{kExitDirectoryDeclined};
      }
      qualified = JoinPath(qualified, u"*.*");
      if (!CheckPathLength(qualified)) throw ProgramExit{kExitUnusableCommandLine};
    }
    state.inputHasWildcards = HasWildcards(qualified);
    inputDirectory = DirectoryPart(qualified);
    inputPattern = LastPart(qualified);
  }

  if (settings.outputIsDevice) {
    outputFile = settings.outputPath;
  } else if (settings.inPlace) {
    outputDirectory = inputDirectory;
  } else {
    const std::u16string typed = platform::ExpandEnvironmentStrings(settings.outputPath);
    const std::u16string qualified = platform::QualifyPath(typed);
    if (!CheckPathLength(qualified)) throw ProgramExit{kExitUnusableCommandLine};
    if (platform::IsDirectory(qualified.c_str())) {
      outputDirectory = qualified;
      // The same directory under any spelling means in place.
      if (!settings.inputIsDevice &&
          platform::IsSameFile(qualified.c_str(), inputDirectory.c_str())) {
        settings.inPlace = true;
      } else {
        state.outputRoot = qualified;
      }
    } else {
      if (!typed.empty() && (typed.back() == u'/' || typed.back() == platform::kPathSeparator)) {
        // Written as a directory that does not exist: never turn it into a
        // file of that name.
        LogResourceMessage(1, 2, 148, qualified);
        throw ProgramExit{kExitUnusableCommandLine};
      }
      if (state.inputHasWildcards) {
        if (!Confirm(111, LastPart(qualified))) {
          LogResourceMessage(1, 0, 112);
          throw ProgramExit{kExitMultipleInputsDeclined};
        }
        state.appendToOutput = true;
      }
      outputFile = qualified;
      outputDirectory = DirectoryPart(qualified);
    }
  }

  if (state.inputHasWildcards) BeginWalk();
  int processed = state.inputHasWildcards
                      ? WalkDirectory(inputDirectory, inputPattern, outputDirectory, outputFile)
                      : ConvertNamedFile(inputDirectory, inputPattern, outputDirectory, outputFile);

  // The output that every input was appended to is closed here, where a
  // failure to get it onto the disk can still be told.
  CFilePersistenceFilter& persistence = *PersistenceFilter();
  if (state.appendToOutput && persistence.stream().IsOpen()) CloseOutput(persistence, outputFile);
  return processed;
}

}  // namespace ordana
