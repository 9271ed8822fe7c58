#include "app/Inputs.h"

#include "app/ChainAssembly.h"
#include "app/MessageLog.h"
#include "app/Settings.h"
#include "core/ConversionRun.h"
#include "core/FilePersistenceFilter.h"
#include "platform/Platform.h"

namespace ordana {

namespace {

bool ConvertFileInto(const std::u16string& inputPath, const std::u16string& outputPath,
                     bool replaceInput);

struct ResolvedPaths {
  std::u16string inputDirectory;
  std::u16string inputPattern;
  std::u16string outputDirectory;
  std::u16string outputFile;
};

// Paths are limited to 259 code units so that they fit every record and
// buffer that carries them; a longer one is refused, never shortened.
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

void ReportOutputError(const std::u16string& path, platform::ErrorCode error) {
  LogResourceMessage(1, 2, 144, path, platform::ErrorText(error));
}

// Converts into a temporary file beside the input and moves it over the
// input only when the whole conversion reached the disk.
bool ConvertInPlace(const std::u16string& inputPath, const std::u16string& directory) {
  std::u16string temporary;
  if (!platform::CreateTempFile(directory.c_str(), u"odn", &temporary)) {
    ReportOutputError(directory, platform::LastError());
    return false;
  }
  return ConvertFileInto(inputPath, temporary, true);
}

int ConvertNamedFile(const ResolvedPaths& paths, const std::u16string& name) {
  const Settings& settings = GetSettings();
  std::u16string inputPath =
      settings.inputIsDevice ? name : JoinPath(paths.inputDirectory, name);
  if (!CheckPathLength(inputPath)) return 0;
  if (settings.outputIsDevice) return ConvertFile(inputPath, paths.outputFile) ? 1 : 0;
  if (settings.inPlace) return ConvertInPlace(inputPath, paths.outputDirectory) ? 1 : 0;
  std::u16string outputPath =
      !paths.outputFile.empty() ? paths.outputFile : JoinPath(paths.outputDirectory, name);
  if (!CheckPathLength(outputPath)) return 0;
  // An output that is the input itself, under whatever name, would be
  // truncated before it is read: convert in place instead.
  if (!settings.inputIsDevice && platform::IsSameFile(inputPath.c_str(), outputPath.c_str())) {
    LogMessage(2, 0, u"Output is the input itself; converting in place: %s\r\n", inputPath);
    return ConvertInPlace(inputPath, DirectoryPart(inputPath)) ? 1 : 0;
  }
  return ConvertFile(inputPath, outputPath) ? 1 : 0;
}

// `replaceInput`: the output is a temporary file that replaces the input
// once the conversion is complete.
bool ConvertFileInto(const std::u16string& inputPath, const std::u16string& outputPath,
                     bool replaceInput) {
  CFilePersistenceFilter& persistence = *PersistenceFilter();
  CFile& output = persistence.stream();
  const bool temporaryOutput = replaceInput;
  CFile input;

  LogMessage(2, 0, u"Input: %s, Output: %s\r\n", inputPath, outputPath);

  // The input is opened before the output is created: an input that cannot
  // be read must not cost the user an existing output file.
  if (!input.Open(inputPath.c_str(), platform::kOpenExisting, platform::kGenericRead,
                  platform::kFileShareRead, platform::kFileFlagSequentialScan)) {
    LogResourceMessage(1, 2, 145, inputPath, platform::ErrorText(input.lastError()));
    if (temporaryOutput) platform::DeleteFile(outputPath.c_str());
    return false;
  }

  if (!output.IsOpen()) {
    persistence.ClearWriteError();
    if (!output.Create(outputPath.c_str(), platform::kGenericWrite, platform::kFileShareRead)) {
      ReportOutputError(outputPath, output.lastError());
      output.Close();
      if (temporaryOutput) platform::DeleteFile(outputPath.c_str());
      return false;
    }
    if (temporaryOutput) persistence.SetKeepOpen(true);
  }

  std::uint64_t size = 0;
  if (!platform::GetFileSize(input.handle(), &size)) input.SetLastError(platform::LastError());
  LogMessage(2, 0, u"File opened, Size: %u Bytes\r\n", static_cast<std::uint32_t>(size));

  if (!RunConversion(input)) LogResourceMessage(1, 2, 146);
  input.Close();

  if (temporaryOutput) {
    // The converted text replaces the input only when all of it reached the
    // disk; otherwise the input stays as it was and the temporary goes.
    if (!platform::FlushFileBuffers(output.handle()) && persistence.writeError() == 0) {
      ReportOutputError(outputPath, platform::LastError());
      persistence.SetKeepOpen(false);
      persistence.Reset();
      platform::DeleteFile(outputPath.c_str());
      return false;
    }
    if (persistence.writeError() != 0) {
      ReportOutputError(outputPath, persistence.writeError());
      persistence.SetKeepOpen(false);
      persistence.Reset();
      platform::DeleteFile(outputPath.c_str());
      return false;
    }
    bool moved = output.MoveTo(inputPath.c_str());
    platform::ErrorCode moveError = output.lastError();
    persistence.SetKeepOpen(false);
    persistence.Reset();
    if (!moved) {
      ReportOutputError(inputPath, moveError);
      platform::DeleteFile(outputPath.c_str());
      return false;
    }
    return true;
  }

  if (persistence.writeError() != 0 && !persistence.keepOpen()) {
    ReportOutputError(outputPath, persistence.writeError());
    persistence.ClearWriteError();
    return false;
  }
  return true;
}

}  // namespace

bool ConvertFile(const std::u16string& inputPath, const std::u16string& outputPath) {
  const Settings& settings = GetSettings();
  return ConvertFileInto(inputPath, outputPath, !settings.inputIsDevice && settings.inPlace);
}

int ProcessInputs() {
  Settings& settings = GetSettings();
  ResolvedPaths paths;

  if (settings.inputIsDevice) {
    paths.inputPattern = settings.inputPath;
  } else {
    std::u16string qualified =
        platform::QualifyPath(platform::ExpandEnvironmentStrings(settings.inputPath));
    if (!CheckPathLength(qualified)) throw ProgramExit{kExitUnusableCommandLine};
    paths.inputDirectory = DirectoryPart(qualified);
    paths.inputPattern = LastPart(qualified);
  }

  if (settings.outputIsDevice) {
    paths.outputFile = settings.outputPath;
  } else if (settings.inPlace) {
    paths.outputDirectory = paths.inputDirectory;
  } else {
    std::u16string qualified =
        platform::QualifyPath(platform::ExpandEnvironmentStrings(settings.outputPath));
    if (!CheckPathLength(qualified)) throw ProgramExit{kExitUnusableCommandLine};
    if (platform::IsDirectory(qualified.c_str())) {
      paths.outputDirectory = qualified;
      if (qualified == paths.inputDirectory) settings.inPlace = true;
    } else {
      paths.outputFile = qualified;
      paths.outputDirectory = DirectoryPart(qualified);
    }
  }

  return ConvertNamedFile(paths, paths.inputPattern);
}

}  // namespace ordana
