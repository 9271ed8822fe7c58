#pragma once
// MessageLog: every text the program shows goes through here.
//
// A message has a level (kLevelNormal, kLevelDetails, kLevelTrace) and is
// written only when its level is at most the maximum level; the level test
// comes before any formatting, so a disabled trace costs one comparison. A
// message also has a kind (MessageKind), shown as its number in the
// time-stamp prefix of a log file.
//
// Text arguments are shown with their control characters escaped (see
// TextEscaping.h), and everything written is well-formed UTF-16.
//
// The sink is the console side, a log file, or nothing (silent mode). On
// POSIX the console side is the standard error and a log file is UTF-8 with
// LF line ends, whatever the stream is. On Windows the console side is the
// standard output (a console sink for terminals and pipes, a plain file sink
// writing UTF-16LE for a redirected file) and a log file is UTF-16LE with a
// byte order mark.

#include <cstdint>
#include <memory>
#include <vector>

#include "core/File.h"
#include "core/Format.h"

namespace ordana {

// Message levels. The maximum level is a number the user chooses
// (/loglevel=N), so levels stay numbers; these are the ones messages use.
using LogLevel = std::uint32_t;
constexpr LogLevel kLevelNormal = 1;   // what every run shows
constexpr LogLevel kLevelDetails = 2;  // per-input details (/log, /loglevel=2)
constexpr LogLevel kLevelTrace = 5;    // the filters' trace

// What a message tells; its number appears in a log file's prefix.
enum class MessageKind : std::uint32_t {
  kInformation = 0,
  kRepaired = 1,  // malformed text repaired or a character substituted
  kFailure = 2,
};

class MessageLog {
 public:
  MessageLog();
  ~MessageLog();

  bool Enabled(LogLevel level) const { return level <= maximumLevel_; }

  void Write(MessageKind kind, const char16_t* format, const FormatArg* args, std::size_t count);
  void WriteResource(MessageKind kind, std::uint32_t id, const FormatArg* args, std::size_t count);
  // Writes the program's own text as it is (made well-formed only): no
  // format, nothing escaped.
  void WriteOwnText(MessageKind kind, const char16_t* text);

  // Points the process's standard output back at the handle it had when the
  // log was created and makes the console side the sink.
  void AttachStandardOutput();
  // Opens `path` as the log file (null: silent, discard everything).
  [[nodiscard]] bool OpenLogFile(const char16_t* path);
  // The standard output carries converted text: from now on messages that
  // would go there go to the standard error instead (also when a log file
  // cannot be created), so that no message ever lands in the data.
  void KeepOffStandardOutput();
  // While there is no sink (silence), failures still go to standard error:
  // a run that is silent because of where its text goes must not fail
  // without saying why.
  void ShowFailuresWhenSilent() { failuresWhenSilent_ = true; }

  // True the first time it is asked for `id` in this log's life: a message
  // said once per run, however many inputs and chains need it.
  bool FirstTimeFor(std::uint32_t id);

  LogLevel maximumLevel() const { return maximumLevel_; }
  void SetMaximumLevel(LogLevel level) { maximumLevel_ = level; }
  CFile* sink() const { return sink_.get(); }
  // For tests: replaces the sink.
  void SetSink(std::unique_ptr<CFile> sink) { sink_ = std::move(sink); }
  bool timestampPrefix() const { return timestampPrefix_; }
  bool silent() const { return silent_; }
  // Why the last OpenLogFile failed.
  platform::ErrorCode lastOpenError() const { return lastOpenError_; }

 private:
  // A message while there is no sink: a failure to standard error when
  // ShowFailuresWhenSilent asked for it, anything else nowhere.
  void WriteWithoutSink(MessageKind kind, const char16_t* text) const;
  void WritePrefix(MessageKind kind);

  std::unique_ptr<CFile> sink_;
  LogLevel maximumLevel_ = kLevelNormal;
  platform::Handle savedStandardOutput_;
  bool timestampPrefix_ = false;
  bool silent_ = false;
  bool keepOffStandardOutput_ = false;
  bool failuresWhenSilent_ = false;
  platform::ErrorCode lastOpenError_ = 0;
  std::vector<std::uint32_t> saidOnce_;
};

// Text the user asked to see (the usage, the help, the listings): UTF-8
// with LF on the standard output on POSIX, whatever it is; the messages' way
// (level 1) on Windows.
void PrintForUser(const char16_t* text);
// A message that must be seen even when the log has no sink: on the
// standard error, UTF-8 with LF on POSIX.
void PrintToStandardError(const char16_t* text);

// The process-wide log. It exists from start-up; the entry point deletes it
// (DestroyMessageLog) on its way out, after which messages are dropped.
MessageLog* GetMessageLog();
void DestroyMessageLog();
// For tests: starts a fresh log.
void ResetMessageLog();

template <class... Args>
void LogMessage(LogLevel level, MessageKind kind, const char16_t* format, const Args&... args) {
  MessageLog* log = GetMessageLog();
  if (!log || !log->Enabled(level)) return;
  if constexpr (sizeof...(Args) == 0) {
    log->Write(kind, format, nullptr, 0);
  } else {
    const FormatArg list[] = {FormatArg(args)...};
    log->Write(kind, format, list, sizeof...(Args));
  }
}

template <class... Args>
void LogResourceMessage(LogLevel level, MessageKind kind, std::uint32_t id, const Args&... args) {
  MessageLog* log = GetMessageLog();
  if (!log || !log->Enabled(level)) return;
  if constexpr (sizeof...(Args) == 0) {
    log->WriteResource(kind, id, nullptr, 0);
  } else {
    const FormatArg list[] = {FormatArg(args)...};
    log->WriteResource(kind, id, list, sizeof...(Args));
  }
}

// The program's own text (a listing line), written as it is.
inline void LogOwnText(LogLevel level, MessageKind kind, const char16_t* text) {
  MessageLog* log = GetMessageLog();
  if (!log || !log->Enabled(level)) return;
  log->WriteOwnText(kind, text);
}

// A question: written whatever the maximum level is.
template <class... Args>
void WriteResourceUnconditionally(MessageKind kind, std::uint32_t id, const Args&... args) {
  MessageLog* log = GetMessageLog();
  if (!log) return;
  if constexpr (sizeof...(Args) == 0) {
    log->WriteResource(kind, id, nullptr, 0);
  } else {
    const FormatArg list[] = {FormatArg(args)...};
    log->WriteResource(kind, id, list, sizeof...(Args));
  }
}

template <class... Args>
void WriteMessageUnconditionally(MessageKind kind, const char16_t* format, const Args&... args) {
  MessageLog* log = GetMessageLog();
  if (!log) return;
  if constexpr (sizeof...(Args) == 0) {
    log->Write(kind, format, nullptr, 0);
  } else {
    const FormatArg list[] = {FormatArg(args)...};
    log->Write(kind, format, list, sizeof...(Args));
  }
}

}  // namespace ordana
