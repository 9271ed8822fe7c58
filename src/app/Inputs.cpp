#include "app/Inputs.h"

#include <memory>
#include <string>
#include <vector>

#include "app/ChainAssembly.h"
#include "app/RunReporting.h"
#include "app/Settings.h"
#include "app/WalkRules.h"
#include "codecs/CharsetRegistry.h"
#include "core/Buffer.h"
#include "core/ConversionRun.h"
#include "core/File.h"
#include "core/FilePersistenceFilter.h"
#include "core/MessageLog.h"
#include "core/StringTable.h"
#include "core/TextEscaping.h"
#include "detection/AutoDetectionInputFilter.h"
#include "platform/Platform.h"

namespace ordana {

namespace {

// A detection-only run (--detect): what decides each input's set, and how
// the inputs of a walk are shown.
struct DetectionRun {
  CharsetId source = kCharsetAuto;
  // The automatic detection, when the source set is auto.
  std::unique_ptr<CAutoDetectionInputFilter> detector;
  // The directory being walked as typed and as made absolute: results show
  // the paths the way the user wrote them.
  std::u16string typedRoot;
  std::u16string qualifiedRoot;
};

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
  // Inputs that could not be read or written whole (exit code 4).
  int failed = 0;
  // Set during a detection-only run: its inputs are examined, not converted.
  DetectionRun* detection = nullptr;
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
  LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringTooLong,
                     LoadResourceString(kStringWhatPath), kPathCapacity - 1, path);
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
  LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringOutputError, path,
                     DescribeError(error));
}

// Says that the reader of the converted text has gone. An error that ends
// the run is never silent: without a message sink it goes to standard error.
void ReportOutputClosed(const std::u16string& target) {
  constexpr std::uint32_t kStringOutputClosed = 250;
  MessageLog* log = GetMessageLog();
  if (log && log->sink()) {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringOutputClosed, target);
    return;
  }
  if (const char16_t* format = LoadResourceString(kStringOutputClosed)) {
    PrintToStandardError(Format(format, target).c_str());
  }
}

// Counts an input that failed (exit code 4); always false, for returning.
bool InputFailed() {
  ++State().failed;
  return false;
}

// The same where a count of converted files is returned: none.
int NotConverted() {
  InputFailed();
  return 0;
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

// Where the converted text of one input goes.
enum class OutputMode {
  kReplaceInput,  // a temporary beside the input, renamed over it
  kReplaceFile,   // a temporary beside the named output, renamed over it
  kAppend,        // the one output of several inputs, kept open, appended to
  kStream,        // a device, FIFO or standard output: written as it is
};

// The temporary of a replacement: removed unless it took the place of its
// target, also when the conversion is left by an exception.
class Replacement {
 public:
  Replacement() = default;
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;
  ~Replacement() { Discard(); }

  bool Create(const std::u16string& target, bool targetMustBeWritable) {
    return platform::CreateReplacementFile(target.c_str(), targetMustBeWritable, &file_);
  }
  platform::Handle handle() const { return file_.handle; }
  const std::u16string& path() const { return file_.path; }
  platform::CommitResult Commit(const platform::FileIdentity* expected) {
    return platform::CommitReplacementFile(&file_, expected);
  }
  void Discard() {
    if (file_.handle != platform::kNullHandle || file_.directory != platform::kNullHandle) {
      platform::DiscardReplacementFile(&file_);
    }
  }

 private:
  platform::ReplacementFile file_;
};

// Cuts an appended output back to its length before this input unless the
// input went through whole, also when the conversion is left by an
// exception: a failed input leaves no half of itself in the output.
class AppendGuard {
 public:
  AppendGuard(CFile& output, bool active) : output_(output) {
    active_ = active && platform::GetFileSize(output.handle(), &start_);
  }
  AppendGuard(const AppendGuard&) = delete;
  AppendGuard& operator=(const AppendGuard&) = delete;
  ~AppendGuard() {
    if (active_) output_.Truncate(start_);
  }
  void Keep() { active_ = false; }

 private:
  CFile& output_;
  std::uint64_t start_ = 0;
  bool active_ = false;
};

OutputMode ChooseOutputMode(const std::u16string& outputPath, bool replaceInput) {
  const Settings& settings = GetSettings();
  if (replaceInput) return OutputMode::kReplaceInput;
  if (settings.outputIsDevice) return OutputMode::kStream;
  if (State().appendToOutput) return OutputMode::kAppend;
  // An existing FIFO or device under an ordinary name is written to as it
  // is; only a file is replaced.
  platform::PathInfo existing;
  if (platform::InspectPath(outputPath.c_str(), &existing) &&
      existing.type == platform::PathType::kDevice) {
    return OutputMode::kStream;
  }
  return OutputMode::kReplaceFile;
}

// Opens the output for `mode` unless it is open already (appending). False
// when it cannot be opened (reported).
bool OpenOutput(OutputMode mode, const std::u16string& outputPath, Replacement& replacement) {
  CFilePersistenceFilter& persistence = *PersistenceFilter();
  CFile& output = persistence.stream();
  if (output.IsOpen()) return true;
  persistence.ClearWriteError();
  switch (mode) {
    case OutputMode::kReplaceInput:
    case OutputMode::kReplaceFile:
      // A named output that the user may not write stays as it is, as it
      // would if it were opened for writing.
      if (!replacement.Create(outputPath, mode == OutputMode::kReplaceFile)) {
        ReportOutputError(outputPath, platform::LastError());
        return false;
      }
      output.Attach(replacement.handle(), false, replacement.path().c_str());
      persistence.SetKeepOpen(true);
      return true;
    case OutputMode::kAppend:
      if (!output.Open(outputPath.c_str(), platform::kCreateAlways,
                       platform::kGenericWrite | platform::kFileAppendData,
                       platform::kFileShareRead, platform::kFileAttributeNormal)) {
        break;
      }
      persistence.SetKeepOpen(true);
      return true;
    case OutputMode::kStream:
      if (output.Create(outputPath.c_str(), platform::kGenericWrite, platform::kFileShareRead)) {
        return true;
      }
      break;
  }
  ReportOutputError(outputPath, output.lastError());
  output.Close();
  return false;
}

// Checks that the input was read whole and did not change while it was
// converted; reports and returns false otherwise.
bool InputReadWhole(const std::u16string& inputPath, CFile& input,
                    const platform::FileIdentity& opened, const ConversionOutcome& outcome) {
  if (outcome.readError != 0) {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringInputError, inputPath,
                       DescribeError(outcome.readError));
    return false;
  }
  if (outcome.outputFailed || !opened.regular)
    return true;  // the output tells; a stream has no size
  platform::FileIdentity now;
  if (!platform::GetFileIdentity(input.handle(), &now)) {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringInputError, inputPath,
                       DescribeError(platform::LastError()));
    return false;
  }
  if (now.size != opened.size || now.modified != opened.modified) {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringInputChanged, inputPath);
    return false;
  }
  if (outcome.bytesRead != opened.size) {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringInputShort, inputPath,
                       outcome.bytesRead, opened.size);
    return false;
  }
  return true;
}

// Puts a finished replacement in its target's place; reports and returns
// false when it cannot be done.
bool CommitReplacement(Replacement& replacement, const std::u16string& target,
                       const platform::FileIdentity* expected) {
  switch (replacement.Commit(expected)) {
    case platform::CommitResult::kCommitted:
      return true;
    case platform::CommitResult::kFailed:
      ReportOutputError(target, platform::LastError());
      break;
    case platform::CommitResult::kTargetDeleted:
      LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringInputDeleted, target);
      break;
    case platform::CommitResult::kTargetChanged:
      LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringTargetChanged, target);
      break;
  }
  replacement.Discard();
  return false;
}

// `replaceInput`: the converted text replaces the input (in place), once
// all of it is on the disk; `outputPath` is then not used.
// Opens the input (`source`, the file `inputPath` names) for reading, as
// itself and only a regular file when it is to be replaced; false after
// saying why not.
bool OpenInput(CFile& input, const std::u16string& inputPath, const std::u16string& source,
               bool replaceInput) {
  std::uint32_t flags = platform::kFileFlagSequentialScan | State().inputOpenFlags;
  if (replaceInput) flags |= platform::kOpenRegularFileOnly | platform::kOpenNoFollow;
  if (!input.Open(source.c_str(), platform::kOpenExisting, platform::kGenericRead,
                  platform::kFileShareRead, flags)) {
    if (replaceInput && platform::FileIsNotRegular(input.lastError())) {
      LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringNotConvertedInPlace,
                         inputPath);
    } else {
      LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringInputError, inputPath,
                         DescribeError(input.lastError()));
    }
    return false;
  }
  return true;
}

// The end of an input appended to the output, which stays open for the next
// input; its error is told once per input that lost data, and the input's
// part is cut off again.
bool FinishAppended(CFilePersistenceFilter& persistence, AppendGuard& appendGuard,
                    const std::u16string& target, bool inputOk) {
  if (persistence.writeError() != 0) {
    ReportOutputError(target, persistence.writeError());
    persistence.ClearWriteError();
    return InputFailed();
  }
  if (!inputOk) return InputFailed();
  appendGuard.Keep();
  return true;
}

// The end of an input written to a stream (a pipe, a device).
bool FinishStreamed(CFilePersistenceFilter& persistence, const std::u16string& target,
                    bool inputOk) {
  if (platform::IsBrokenPipe(persistence.writeError())) {
    // Whoever read the converted text has gone: nothing more can reach
    // them, so the run ends here.
    persistence.ClearWriteError();
    InputFailed();
    ReportOutputClosed(target);
    throw ProgramExit{kExitInputsFailed};
  }
  if (persistence.writeError() != 0) {
    ReportOutputError(target, persistence.writeError());
    persistence.ClearWriteError();
    return InputFailed();
  }
  return inputOk || InputFailed();
}

bool ConvertFileInto(const std::u16string& inputPath, const std::u16string& outputPath,
                     bool replaceInput) {
  CFilePersistenceFilter& persistence = *PersistenceFilter();
  CFile& output = persistence.stream();
  CFile input;
  // In place, a symbolic link stays a link and the file it points to is
  // converted: that file is opened as itself, and it is what is replaced.
  const std::u16string source = replaceInput ? platform::FollowFinalLink(inputPath) : inputPath;
  const std::u16string& target = replaceInput ? source : outputPath;

  LogResourceMessage(kLevelDetails, MessageKind::kInformation, kStringInputOutput, inputPath,
                     target);

  // The input is opened before the output is created: an input that cannot
  // be read must not cost the user an existing output file, nor leave an
  // empty one behind. Only a regular file, opened as itself, is replaced.
  if (!OpenInput(input, inputPath, source, replaceInput)) return InputFailed();
  platform::FileIdentity opened;
  if (!platform::GetFileIdentity(input.handle(), &opened)) opened = platform::FileIdentity();

  const OutputMode mode = ChooseOutputMode(target, replaceInput);
  Replacement replacement;
  if (!OpenOutput(mode, target, replacement)) return InputFailed();
  AppendGuard appendGuard(output, mode == OutputMode::kAppend);

  LogResourceMessage(kLevelDetails, MessageKind::kInformation, kStringFileOpened,
                     static_cast<std::uint32_t>(opened.size));

  ConversionOutcome outcome;
  StatusReportingObserver reporting;
  // The outcome says what failed, each part reported below; the result only
  // sums it up.
  (void)RunConversion(GetFilterChain(), input, &reporting, &outcome);
  if (outcome.chainError)
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringFilterChainError);
  const bool inputOk = InputReadWhole(inputPath, input, opened, outcome) && !outcome.chainError;
  input.Close();

  switch (mode) {
    case OutputMode::kReplaceInput:
    case OutputMode::kReplaceFile: {
      // The converted text takes the target's place only when all of it was
      // written; otherwise the target stays as it was and the temporary goes.
      const bool written = CloseOutput(persistence, target);
      if (!inputOk || !written) {
        replacement.Discard();
        return InputFailed();
      }
      return CommitReplacement(replacement, target, replaceInput ? &opened : nullptr) ||
             InputFailed();
    }
    case OutputMode::kAppend:
      return FinishAppended(persistence, appendGuard, target, inputOk);
    case OutputMode::kStream:
      return FinishStreamed(persistence, target, inputOk);
  }
  return InputFailed();
}

bool ConvertInPlace(const std::u16string& inputPath) {
  return ConvertFileInto(inputPath, inputPath, true);
}

bool DetectFile(const std::u16string& path, const std::u16string& shown);
std::u16string ShownWalkPath(const std::u16string& path);

int ConvertNamedFile(const std::u16string& directory, const std::u16string& name,
                     const std::u16string& outputDirectory, const std::u16string& outputFile) {
  const Settings& settings = GetSettings();
  if (State().detection) {
    const std::u16string path = JoinPath(directory, name);
    if (!CheckPathLength(path)) return NotConverted();
    return DetectFile(path, ShownWalkPath(path)) ? 1 : 0;
  }
  // A path over the limit is an input that was not converted: it fails.
  const std::u16string inputPath = settings.inputIsDevice ? name : JoinPath(directory, name);
  if (!CheckPathLength(inputPath)) return NotConverted();
  if (settings.outputIsDevice) return ConvertFile(inputPath, outputFile) ? 1 : 0;
  if (settings.inPlace) return ConvertInPlace(inputPath) ? 1 : 0;

  const std::u16string outputPath =
      !outputFile.empty() ? outputFile : JoinPath(outputDirectory, name);
  if (!CheckPathLength(outputPath)) return NotConverted();
  if (!settings.inputIsDevice && platform::IsSameFile(inputPath.c_str(), outputPath.c_str())) {
    if (State().appendToOutput) {
      // The file everything is appended to matches the pattern itself.
      LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringSkippedOutputFile,
                         inputPath);
      return 0;
    }
    // An output that is the input itself, under whatever name, would be
    // truncated before it is read: convert in place instead.
    LogResourceMessage(kLevelDetails, MessageKind::kInformation, kStringOutputIsInput, inputPath);
    return ConvertInPlace(inputPath) ? 1 : 0;
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
  // On POSIX the English letters answer in every language (`yes | ordana`
  // sends y), the line end that closes an answer is not asked about again,
  // and an input that is no terminal gets one more chance after a wrong
  // answer and is then taken as no: a script never makes this loop.
  const bool lenient = platform::kLenientPrompts;
  const bool terminal = platform::StandardInputIsTerminal();
  // True after an answer's key until its line end has been read; kept from
  // one question to the next, which reads on where the last one stopped.
  static bool insideAnswerLine = false;
  int wrongAnswers = 0;
  for (;;) {
    WriteResourceUnconditionally(MessageKind::kInformation, resourceId, text);
    int c;
    do {
      c = platform::ReadStandardInputChar();
      if (!lenient || c < 0) break;
      const bool lineEnd = c == '\r' || c == '\n';
      if (!lineEnd) {
        insideAnswerLine = true;
        break;
      }
      if (!insideAnswerLine) {
        // An empty line is an answer, a wrong one; the LF of its CR LF is
        // part of it.
        insideAnswerLine = c == '\r';
        break;
      }
      if (c == '\n') insideAnswerLine = false;
    } while (true);
    if (c < 0) {
      // Nobody is left to answer: no is the answer that changes nothing.
      WriteResourceUnconditionally(MessageKind::kRepaired, kStringNoAnswerInputEnded);
      return false;
    }
    const char16_t key = ToUpperAscii(static_cast<char16_t>(c));
    if (key == yes || (lenient && key == u'Y')) return true;
    if (key == no || (lenient && key == u'N')) return false;
    if (lenient && !terminal && ++wrongAnswers > 1) {
      WriteResourceUnconditionally(MessageKind::kRepaired, kStringNoAnswerTakenAsNo);
      return false;
    }
  }
}

int FailedInputCount() { return State().failed; }

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
    if (error == platform::ErrorClass::kPathNotFound) {
      LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringPathNotFound, directory);
    } else if (platform::kPosixConventions) {
      LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringDirectoryUnreadable, directory,
                         DescribeError(code));
    } else {
      LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringListingFailed,
                         DescribeError(code));
    }
    // A directory that is not there or cannot be read to its end is a failed
    // input; a pattern that matches no file is not (an empty listing).
    InputFailed();
    return 0;
  }

  int count = 0;
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.linkToDirectory) continue;
    if (entry.isDirectory) {
      if (!settings.recursive) continue;
      const std::u16string subInput = JoinPath(directory, entry.name);
      const std::u16string subOutput = JoinPath(outputDirectory, entry.name);
      if (!CheckPathLength(subInput) || !CheckPathLength(subOutput)) {
        InputFailed();  // a subtree that is not converted
        continue;
      }
      if (!State().outputRoot.empty() &&
          platform::IsSameFile(subInput.c_str(), State().outputRoot.c_str())) {
        continue;  // our own output tree
      }
      if (!EnterWalkDirectory(subInput, entry.name)) continue;
      // Only an output directory mirrors the tree; in place, appending or
      // into a device there is nothing to create.
      const bool mirror =
          !settings.inPlace && !settings.outputIsDevice && outputFile.empty() && !State().detection;
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

namespace {

// The names of --files-from, split at line ends or NUL bytes; empty names
// are left out. False when the list cannot be read.
bool ReadInputList(const Settings& settings, std::vector<std::u16string>* names) {
  std::string bytes;
  const std::u16string listPath = settings.filesFromPath;
  if (listPath == u"-") {
    for (int c; (c = platform::ReadStandardInputChar()) >= 0;) bytes += static_cast<char>(c);
  } else {
    CFile list;
    if (!list.Open(listPath.c_str(), platform::kOpenExisting, platform::kGenericRead,
                   platform::kFileShareRead, platform::kFileFlagSequentialScan)) {
      LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringFilesFromUnreadable, listPath,
                         DescribeError(list.lastError()));
      return false;
    }
    char chunk[65536];
    while (const std::uint32_t n = list.ReadBytes(chunk, sizeof chunk)) bytes.append(chunk, n);
  }
  const char separator = settings.filesFromNull ? '\0' : '\n';
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find(separator, start);
    if (end == std::string::npos) end = bytes.size();
    if (end > start) names->push_back(platform::FromNative(bytes.data() + start, end - start));
    start = end + 1;
  }
  return true;
}

// --files-from: every listed file is taken as a pattern run takes the files
// it matches (the same skips), and written as a pattern run writes them: in
// place, into the output directory under its own name, or appended to the one
// output file after the question.
int ConvertListedInputs(std::u16string* appendedOutput) {
  Settings& settings = GetSettings();
  RunState& state = State();
  std::vector<std::u16string> names;
  if (!ReadInputList(settings, &names)) {
    InputFailed();
    return 0;
  }
  std::u16string outputDirectory;
  std::u16string outputFile;
  if (settings.outputIsDevice) {
    outputFile = settings.outputPath;
  } else if (!settings.inPlace) {
    const std::u16string typed = platform::ExpandEnvironmentStrings(settings.outputPath);
    const std::u16string qualified = platform::QualifyPath(typed);
    if (!CheckPathLength(qualified)) throw ProgramExit{kExitUnusableCommandLine};
    if (platform::IsDirectory(qualified.c_str())) {
      outputDirectory = qualified;
      state.outputRoot = qualified;
    } else {
      if (!Confirm(kStringConfirmManyInputsOneOutput, LastPart(qualified))) {
        LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringOutputFileForManyInputs);
        throw ProgramExit{kExitMultipleInputsDeclined};
      }
      state.appendToOutput = true;
      outputFile = qualified;
      *appendedOutput = qualified;
    }
  }
  BeginWalk();
  int count = 0;
  for (const std::u16string& name : names) {
    const std::u16string qualified = platform::QualifyPath(name);
    if (!CheckPathLength(qualified)) {
      InputFailed();
      continue;
    }
    const std::u16string directory = DirectoryPart(qualified);
    const std::u16string last = LastPart(qualified);
    std::uint32_t openFlags = 0;
    if (!TakeWalkFile(qualified, last, &openFlags)) continue;
    state.inputOpenFlags = openFlags;
    count += ConvertNamedFile(directory, last, settings.inPlace ? directory : outputDirectory,
                              outputFile);
    state.inputOpenFlags = 0;
  }
  return count;
}

// ---- Detection-only runs ------------------------------------------------------

// The name of a set as the listings show it.
std::u16string NameOf(CharsetId id) {
  char16_t name[64];
  return CharsetName(id, name);
}

const char16_t* BasisWord(DetectionBasis basis) {
  switch (basis) {
    case DetectionBasis::kByteOrderMark:
      return u"byte-order-mark";
    case DetectionBasis::kZeroPattern:
      return u"zero-bytes";
    case DetectionBasis::kUtf8:
      return u"utf-8";
    case DetectionBasis::kUnicodeShape:
      return u"unicode-shape";
    case DetectionBasis::kStatistics:
      return u"statistics";
    case DetectionBasis::kFallback:
      break;
  }
  return u"fallback";
}

// How many sets besides the chosen one --verbose lists.
constexpr std::size_t kRunnersUpShown = 5;

// The lines --verbose adds: how the set was decided, and for the statistics
// the chosen set's score and the best other sets' scores (one line per set,
// best first).
std::u16string VerboseLines(const DetectionResult* result) {
  if (!result) return u"  basis: given\r\n";
  std::u16string lines = Format(u"  basis: %s\r\n", BasisWord(result->basis));
  auto line = [](const DetectionCandidate& candidate) {
    char label[5] = {};
    for (int k = 0; k < 4; ++k) label[k] = candidate.label[k];
    return Format(u"  %s (%.4S): %.3f\r\n", NameOf(candidate.charset),
                  static_cast<const char*>(label), candidate.score);
  };
  std::vector<CharsetId> listed;
  for (const DetectionCandidate& candidate : result->candidates) {
    if (candidate.charset != result->charset) continue;
    lines += line(candidate);
    listed.push_back(candidate.charset);
    break;
  }
  std::size_t runnersUp = 0;
  for (const DetectionCandidate& candidate : result->candidates) {
    if (runnersUp == kRunnersUpShown) break;
    bool seen = false;
    for (CharsetId id : listed) seen = seen || id == candidate.charset;
    if (seen || candidate.charset == result->charset) continue;
    lines += line(candidate);
    listed.push_back(candidate.charset);
    ++runnersUp;
  }
  return lines;
}

// A walked file as the user would write it: the walked directory as typed,
// then the rest of the path.
std::u16string ShownWalkPath(const std::u16string& path) {
  const DetectionRun& run = *State().detection;
  if (run.qualifiedRoot.empty() ||
      path.compare(0, run.qualifiedRoot.size(), run.qualifiedRoot) != 0) {
    return path;
  }
  std::u16string rest = path.substr(run.qualifiedRoot.size());
  if (run.typedRoot.empty()) {
    while (!rest.empty() && rest.front() == platform::kPathSeparator) rest.erase(0, 1);
    return rest;
  }
  if (!rest.empty() && rest.front() == platform::kPathSeparator &&
      run.typedRoot.back() == platform::kPathSeparator) {
    rest.erase(0, 1);
  }
  return run.typedRoot + rest;
}

// Reads as much of the input as a conversion decides on and prints the set
// it would take: "PATH: NAME". Nothing is written, the input is only read.
bool DetectFile(const std::u16string& path, const std::u16string& shown) {
  DetectionRun& run = *State().detection;
  CFile input;
  if (!input.Open(path.c_str(), platform::kOpenExisting, platform::kGenericRead,
                  platform::kFileShareRead,
                  platform::kFileFlagSequentialScan | State().inputOpenFlags)) {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringInputError, path,
                       DescribeError(input.lastError()));
    return InputFailed();
  }
  // A chunk's worth, gathered as the detection filter gathers it from the
  // conversion's reads (a pipe delivers smaller pieces), or all of a
  // shorter input.
  CBuffer sample;
  while (sample.length() < sample.commitSize() && !input.AtEnd()) {
    if (input.Read(sample) == 0) break;
  }
  if (input.lastError() != 0) {
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringInputError, path,
                       DescribeError(input.lastError()));
    return InputFailed();
  }
  static const std::uint8_t kNothing = 0;
  const std::uint8_t* bytes = sample.empty() ? &kNothing : sample.base();
  const DetectionResult* result =
      run.detector ? &run.detector->Examine(bytes, std::min(sample.length(), sample.commitSize()))
                   : nullptr;
  const CharsetId chosen = result ? result->charset : run.source;
  std::u16string line = EscapeForDisplay(shown) + u": " + NameOf(chosen) + u"\r\n";
  if (GetSettings().detectVerbose) line += VerboseLines(result);
  PrintForUser(line.c_str());
  return true;
}

// One input of a detection-only run as typed: a stream, a directory, a
// pattern or a file.
int DetectTypedInput(const std::u16string& typed) {
  DetectionRun& run = *State().detection;
  run.typedRoot.clear();
  run.qualifiedRoot.clear();
  // "-" is the standard input by the POSIX habit; on Windows a file's name.
  if (platform::kPosixConventions && typed == u"-") {
    return DetectFile(kConsoleInputPath, typed) ? 1 : 0;
  }
  if (StartsWithIgnoreCase(typed.c_str(), u"\\\\.\\") ||
      platform::StandardStreamOf(typed.c_str()) == platform::StandardStream::kInput) {
    const bool standardInput =
        platform::StandardStreamOf(typed.c_str()) == platform::StandardStream::kInput;
    return DetectFile(standardInput ? kConsoleInputPath : typed, typed) ? 1 : 0;
  }
  std::u16string expanded = platform::ExpandEnvironmentStrings(typed.c_str());
  if (!platform::kPosixConventions) {
    for (char16_t& c : expanded) {
      if (c == u'/') c = platform::kPathSeparator;
    }
  }
  const std::u16string qualified = platform::QualifyPath(expanded);
  if (!CheckPathLength(qualified)) {
    InputFailed();
    return 0;
  }
  if (platform::IsDirectory(qualified.c_str())) {
    // Nothing is touched, so nothing is asked.
    run.typedRoot = expanded;
    run.qualifiedRoot = qualified;
    return WalkDirectory(qualified, u"*.*", std::u16string(), std::u16string());
  }
  if (HasWildcards(qualified)) {
    run.typedRoot = DirectoryPart(expanded);
    run.qualifiedRoot = DirectoryPart(qualified);
    return WalkDirectory(run.qualifiedRoot, LastPart(qualified), std::u16string(),
                         std::u16string());
  }
  return DetectFile(qualified, typed) ? 1 : 0;
}

}  // namespace

int DetectInputs(CharsetId source) {
  Settings& settings = GetSettings();
  RunState& state = State();
  state = RunState();
  DetectionRun run;
  run.source = source;
  if (source == kCharsetAuto) {
    CodecOptions options;
    options.strict = settings.strictPolicy;
    options.writeBom = settings.writeBom;
    run.detector = std::make_unique<CAutoDetectionInputFilter>(options);
  }
  state.detection = &run;
  // Every path is an input; nothing is written anywhere.
  settings.inPlace = true;
  settings.outputPath[0] = 0;
  settings.inputIsDevice = false;
  settings.outputIsDevice = false;
  BeginWalk();
  int count = 0;
  for (const std::u16string& typed : settings.pathArguments) count += DetectTypedInput(typed);
  if (settings.filesFromPath[0] != 0) {
    std::vector<std::u16string> names;
    if (!ReadInputList(settings, &names)) InputFailed();
    for (const std::u16string& name : names) {
      const std::u16string qualified = platform::QualifyPath(name);
      if (!CheckPathLength(qualified)) {
        InputFailed();
        continue;
      }
      std::uint32_t openFlags = 0;
      if (!TakeWalkFile(qualified, LastPart(qualified), &openFlags)) continue;
      state.inputOpenFlags = openFlags;
      count += DetectFile(qualified, name) ? 1 : 0;
      state.inputOpenFlags = 0;
    }
  }
  state.detection = nullptr;
  return count;
}

namespace {

// Where the inputs are and where their text goes, as the paths name them.
struct Places {
  std::u16string inputDirectory;
  std::u16string inputPattern;
  std::u16string outputDirectory;
  std::u16string outputFile;
};

// The input path: a device, or a directory (converted whole once the user
// agrees) or a file name or pattern in a directory.
void SettleInput(const Settings& settings, RunState& state, Places* places) {
  if (settings.inputIsDevice) {
    places->inputPattern = settings.inputPath;
    return;
  }
  std::u16string qualified =
      platform::QualifyPath(platform::ExpandEnvironmentStrings(settings.inputPath));
  if (!CheckPathLength(qualified)) throw ProgramExit{kExitUnusableCommandLine};
  if (platform::IsDirectory(qualified.c_str())) {
    if (!Confirm(kStringConfirmDirectory, LastPart(qualified))) {
      LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringDirectoryInputInvalid);
      throw ProgramExit{kExitDirectoryDeclined};
    }
    qualified = JoinPath(qualified, u"*.*");
    if (!CheckPathLength(qualified)) throw ProgramExit{kExitUnusableCommandLine};
  }
  state.inputHasWildcards = HasWildcards(qualified);
  places->inputDirectory = DirectoryPart(qualified);
  places->inputPattern = LastPart(qualified);
}

// The output path: a device, in place, a directory, or one file (which
// every input of a pattern is appended to once the user agrees).
void SettleOutput(Settings& settings, RunState& state, Places* places) {
  if (settings.outputIsDevice) {
    places->outputFile = settings.outputPath;
    return;
  }
  if (settings.inPlace) {
    places->outputDirectory = places->inputDirectory;
    return;
  }
  const std::u16string typed = platform::ExpandEnvironmentStrings(settings.outputPath);
  const std::u16string qualified = platform::QualifyPath(typed);
  if (!CheckPathLength(qualified)) throw ProgramExit{kExitUnusableCommandLine};
  if (platform::IsDirectory(qualified.c_str())) {
    places->outputDirectory = qualified;
    // The same directory under any spelling means in place.
    if (!settings.inputIsDevice &&
        platform::IsSameFile(qualified.c_str(), places->inputDirectory.c_str())) {
      settings.inPlace = true;
    } else {
      state.outputRoot = qualified;
    }
    return;
  }
  if (!typed.empty() && (typed.back() == u'/' || typed.back() == platform::kPathSeparator)) {
    // Written as a directory that does not exist: never turn it into a
    // file of that name.
    LogResourceMessage(kLevelNormal, MessageKind::kFailure, kStringPathNotFound, qualified);
    throw ProgramExit{kExitUnusableCommandLine};
  }
  if (state.inputHasWildcards) {
    if (!Confirm(kStringConfirmManyInputsOneOutput, LastPart(qualified))) {
      LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringOutputFileForManyInputs);
      throw ProgramExit{kExitMultipleInputsDeclined};
    }
    state.appendToOutput = true;
  }
  places->outputFile = qualified;
  places->outputDirectory = DirectoryPart(qualified);
}

// The output that every input was appended to is closed at the end, where
// a failure to get it onto the disk can still be told.
void CloseAppendedOutput(const RunState& state, const std::u16string& path) {
  CFilePersistenceFilter& persistence = *PersistenceFilter();
  if (state.appendToOutput && persistence.stream().IsOpen() && !CloseOutput(persistence, path)) {
    InputFailed();
  }
}

}  // namespace

int ProcessInputs() {
  Settings& settings = GetSettings();
  RunState& state = State();
  state = RunState();
  if (settings.filesFromPath[0] != 0) {
    std::u16string appendedOutput;
    const int processed = ConvertListedInputs(&appendedOutput);
    CloseAppendedOutput(state, appendedOutput);
    return processed;
  }
  Places places;
  SettleInput(settings, state, &places);
  SettleOutput(settings, state, &places);
  if (state.inputHasWildcards) BeginWalk();
  const int processed = state.inputHasWildcards
                            ? WalkDirectory(places.inputDirectory, places.inputPattern,
                                            places.outputDirectory, places.outputFile)
                            : ConvertNamedFile(places.inputDirectory, places.inputPattern,
                                               places.outputDirectory, places.outputFile);
  CloseAppendedOutput(state, places.outputFile);
  return processed;
}

}  // namespace ordana
