#pragma once
// CFile and CConsole: streams over a platform handle.
//
// Two device paths select the process's standard handles instead of opening
// a file: "\\.\CONIN$" (standard input) and "\\.\CONOUT$" (the standard
// output the process was started with, even while the message log has
// pointed the current one at its file), compared without regard to case. A stream never closes a
// standard handle it took.

#include <cstdint>
#include <string>

#include "core/Format.h"
#include "platform/Platform.h"

namespace ordana {

class CBuffer;

extern const char16_t kConsoleInputPath[];   // \\.\CONIN$
extern const char16_t kConsoleOutputPath[];  // \\.\CONOUT$

class CFile {
 public:
  CFile() = default;
  virtual ~CFile();
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  [[nodiscard]] virtual bool Create(const char16_t* path, std::uint32_t access,
                                    std::uint32_t share);
  [[nodiscard]] virtual bool Open(const char16_t* path, std::uint32_t disposition,
                                  std::uint32_t access, std::uint32_t share, std::uint32_t flags);
  virtual void Truncate(std::uint64_t length);
  [[nodiscard]] virtual std::uint32_t WriteBytes(const void* data, std::uint32_t size);
  [[nodiscard]] virtual std::uint32_t Write(const CBuffer& buffer);
  [[nodiscard]] virtual std::uint32_t ReadBytes(void* destination, std::uint32_t size);
  [[nodiscard]] virtual std::uint32_t Read(CBuffer& buffer);
  // True once a read found nothing more to read: the end of a file, or of a
  // pipe whose writer has gone. A read that fails is not the end; its error
  // is in lastError().
  bool AtEnd() const { return atEnd_; }
  // Writes formatted text: as UTF-16LE bytes here, through the console in
  // CConsole.
  virtual void Print(const char16_t* format, const FormatArg* args, std::size_t count);

  template <class... Args>
  void Printf(const char16_t* format, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
      Print(format, nullptr, 0);
    } else {
      const FormatArg list[] = {FormatArg(args)...};
      Print(format, list, sizeof...(Args));
    }
  }

  // Wraps a handle opened elsewhere (a standard handle); `owns` says whether
  // closing the stream closes it.
  void Attach(platform::Handle handle, bool owns, const char16_t* path);
  // Closes the stream; a close error is kept in last error only when
  // `keepCloseError` is set.
  void Close(bool keepCloseError = false);

  platform::Handle handle() const { return handle_; }
  bool IsOpen() const {
    return handle_ != platform::kNullHandle && handle_ != platform::kInvalidHandle;
  }
  const std::u16string& path() const { return path_; }
  // The first error of the stream since it was opened or the error was
  // cleared; 0 when there was none. Only errors are kept here: the end of
  // the data is AtEnd().
  platform::ErrorCode lastError() const { return lastError_; }
  // Forgets a reported error, so that the next one is seen.
  void ClearError() { lastError_ = 0; }
  bool ownsHandle() const { return ownsHandle_; }

 protected:
  // Records an error; the first one since the stream was opened (or its
  // error cleared) is kept, as it is the one that explains the others.
  void SetLastError(platform::ErrorCode code) {
    if (lastError_ == 0) lastError_ = code;
  }
  // Writes UTF-16 code units as little-endian bytes.
  void WriteText(const std::u16string& text);

  platform::Handle handle_ = platform::kNullHandle;
  std::u16string path_;
  platform::ErrorCode lastError_ = 0;
  bool atEnd_ = false;
  bool ownsHandle_ = true;
};

class CConsole : public CFile {
 public:
  // Takes `handle`, or the current standard output when none is given.
  explicit CConsole(platform::Handle handle = platform::kNullHandle);
  void Print(const char16_t* format, const FormatArg* args, std::size_t count) override;
};

}  // namespace ordana
