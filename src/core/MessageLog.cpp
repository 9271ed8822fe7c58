#include "core/MessageLog.h"

#include <vector>

#include "core/StringTable.h"
#include "core/TextEscaping.h"

namespace ordana {

MessageLog::MessageLog() : savedStandardOutput_(platform::GetStandardOutput()) {
  AttachStandardOutput();
}

MessageLog::~MessageLog() = default;

void MessageLog::WritePrefix(MessageKind kind) {
  platform::SystemTime t = platform::GetSystemTimeUtc();
  sink_->Printf(u"%04u-%02u-%02u %02u:%02u:%02u,%04u (%d): ", t.year, t.month, t.day, t.hour,
                t.minute, t.second, t.milliseconds, static_cast<std::uint32_t>(kind));
}

namespace {

// The message as it is written: text arguments (paths, names, anything from
// outside) with their control characters escaped, and the whole text
// well-formed UTF-16 (a %c of a lone surrogate becomes U+FFFD; the messages
// that print one also give its code point). Line ends and TABs of the
// format itself stay.
std::u16string Compose(const char16_t* format, const FormatArg* args, std::size_t count) {
  std::vector<std::u16string> escaped;
  escaped.reserve(count);
  std::vector<FormatArg> safe(args, args + count);
  for (FormatArg& arg : safe) {
    if (arg.type != FormatArg::Type::kText16 || !arg.text16) continue;
    escaped.push_back(EscapeForDisplay(arg.text16));
    arg = FormatArg(escaped.back());
  }
  std::u16string text;
  FormatTo(text, format, safe.data(), safe.size());
  std::u16string out;
  out.reserve(text.size());
  for (char16_t unit : MakeWellFormed(text)) {
    // What a %c brought in; the format's own line ends and TABs stay.
    if (unit != u'\r' && unit != u'\n' && unit != u'\t' && NeedsEscape(unit)) {
      out += EscapeForDisplay(std::u16string(1, unit));
    } else {
      out += unit;
    }
  }
  return out;
}

// Text for people on a POSIX system: UTF-8 with LF line ends, whatever the
// stream is (terminal, pipe, file), so that grep and scripts can read it.
class Utf8LineSink : public CFile {
 public:
  void Print(const char16_t* format, const FormatArg* args, std::size_t count) override {
    std::u16string text;
    FormatTo(text, format, args, count);
    std::u16string lines;
    lines.reserve(text.size());
    for (std::size_t k = 0; k < text.size(); ++k) {
      if (text[k] == u'\r' && k + 1 < text.size() && text[k + 1] == u'\n') continue;
      lines += text[k];
    }
    const std::string bytes = platform::ToNative(lines.data(), lines.size());
    // What fails is kept in lastError(); the message itself is dropped, as
    // every message that cannot be written is (a reader that has gone must
    // not stop the run).
    if (!bytes.empty()) (void)WriteBytes(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  }
};

void PrintUtf8Lines(platform::Handle handle, const char16_t* text) {
  if (platform::QueryOutputKind(handle) == platform::OutputKind::kUnusable) return;
  Utf8LineSink sink;
  sink.Attach(handle, false, kConsoleOutputPath);
  sink.Printf(u"%s", MakeWellFormed(text));
}

}  // namespace

void PrintForUser(const char16_t* text) {
  if (!platform::kPosixConventions) {
    LogOwnText(kLevelNormal, MessageKind::kInformation, text);
    return;
  }
  // The process's own standard output, also when a log file has taken its
  // place for the messages.
  PrintUtf8Lines(platform::GetProcessStandardOutput(), text);
}

void PrintToStandardError(const char16_t* text) {
  if (platform::kPosixConventions) {
    PrintUtf8Lines(platform::GetStandardError(), text);
    return;
  }
  const std::u16string wellFormed = MakeWellFormed(text);
  // A message that cannot be written is dropped: there is no other place
  // to say so.
  (void)platform::WriteConsole(platform::GetStandardError(), wellFormed.data(), wellFormed.size());
}

void MessageLog::WriteWithoutSink(MessageKind kind, const char16_t* text) const {
  if (failuresWhenSilent_ && kind == MessageKind::kFailure) PrintToStandardError(text);
}

void MessageLog::Write(MessageKind kind, const char16_t* format, const FormatArg* args,
                       std::size_t count) {
  if (!sink_) return WriteWithoutSink(kind, Compose(format, args, count).c_str());
  if (timestampPrefix_) WritePrefix(kind);
  sink_->Printf(u"%s", Compose(format, args, count));
}

void MessageLog::WriteResource(MessageKind kind, std::uint32_t id, const FormatArg* args,
                               std::size_t count) {
  const char16_t* format = LoadResourceString(id);
  if (!sink_) {
    if (format && *format) WriteWithoutSink(kind, Compose(format, args, count).c_str());
    return;
  }
  if (timestampPrefix_) WritePrefix(kind);
  if (format && *format) sink_->Printf(u"%s", Compose(format, args, count));
}

void MessageLog::WriteOwnText(MessageKind kind, const char16_t* text) {
  if (!sink_) return WriteWithoutSink(kind, text);
  if (timestampPrefix_) WritePrefix(kind);
  sink_->Printf(u"%s", MakeWellFormed(text));
}

bool MessageLog::FirstTimeFor(std::uint32_t id) {
  for (std::uint32_t said : saidOnce_) {
    if (said == id) return false;
  }
  saidOnce_.push_back(id);
  return true;
}

void MessageLog::AttachStandardOutput() {
  platform::SetStandardOutput(savedStandardOutput_);
  sink_.reset();
  timestampPrefix_ = false;
  if (platform::kPosixConventions) {
    // Messages go to the standard error, so that the standard output
    // carries only what the user asked to see.
    const platform::Handle error = platform::GetStandardError();
    if (platform::QueryOutputKind(error) == platform::OutputKind::kUnusable) return;
    auto sink = std::make_unique<Utf8LineSink>();
    sink->Attach(error, false, kConsoleOutputPath);
    sink_ = std::move(sink);
    return;
  }
  const platform::Handle target =
      keepOffStandardOutput_ ? platform::GetStandardError() : savedStandardOutput_;
  switch (platform::QueryOutputKind(target)) {
    case platform::OutputKind::kDiskFile: {
      auto file = std::make_unique<CFile>();
      file->Attach(target, false, kConsoleOutputPath);
      sink_ = std::move(file);
      break;
    }
    case platform::OutputKind::kConsole:
      sink_ = std::make_unique<CConsole>(target);
      break;
    case platform::OutputKind::kUnusable:
      break;
  }
}

void MessageLog::KeepOffStandardOutput() {
  if (keepOffStandardOutput_) return;
  keepOffStandardOutput_ = true;
  // Only a sink on the standard output moves; a log file stays, and so does
  // silence.
  if (!silent_ && !timestampPrefix_) AttachStandardOutput();
}

bool MessageLog::OpenLogFile(const char16_t* path) {
  if (!path) silent_ = true;
  timestampPrefix_ = true;
  sink_.reset();
  if (silent_) return true;
  // On POSIX the log file is UTF-8 with LF, as grep and scripts read it; on
  // Windows UTF-16LE with a byte order mark.
  std::unique_ptr<CFile> file;
  if (platform::kPosixConventions) {
    file = std::make_unique<Utf8LineSink>();
  } else {
    file = std::make_unique<CFile>();
  }
  if (!file->Open(path, platform::kCreateAlways, platform::kGenericRead | platform::kGenericWrite,
                  platform::kFileShareRead, platform::kFileAttributeNormal)) {
    platform::ErrorCode error = file->lastError();
    file.reset();
    AttachStandardOutput();
    // The caller reports the reason; keep it where it can find it.
    lastOpenError_ = error;
    return false;
  }
  platform::SetStandardOutput(file->handle());
  if (!platform::kPosixConventions) {
    static const std::uint8_t kByteOrderMark[2] = {0xFF, 0xFE};
    // A failure stays in the sink's lastError(), like that of every later
    // message written into the log.
    (void)file->WriteBytes(kByteOrderMark, 2);
  }
  sink_ = std::move(file);
  return true;
}

namespace {
std::unique_ptr<MessageLog>& Instance() {
  static std::unique_ptr<MessageLog> log = std::make_unique<MessageLog>();
  return log;
}
}  // namespace

MessageLog* GetMessageLog() { return Instance().get(); }

void DestroyMessageLog() {
  if (Instance()) Instance()->AttachStandardOutput();
  Instance().reset();
}

void ResetMessageLog() { Instance() = std::make_unique<MessageLog>(); }

}  // namespace ordana
