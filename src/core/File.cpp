#include "core/File.h"

#include "core/Buffer.h"

namespace ordana {

const char16_t kConsoleInputPath[] = u"\\\\.\\CONIN$";
const char16_t kConsoleOutputPath[] = u"\\\\.\\CONOUT$";

CFile::~CFile() { Close(); }

void CFile::Close(bool keepCloseError) {
  // Closing does not force the data onto the disk: that costs a disk write
  // per file and protects nothing the file system does not already keep.
  // The one place where it matters, a temporary about to replace a file, is
  // forced onto the disk before the rename (CommitReplacementFile). A failing close (a network file
  // system that reports a lost write only then) is still noticed.
  platform::ErrorCode closeError = 0;
  path_.clear();
  if (IsOpen() && ownsHandle_ && !platform::CloseHandle(handle_))
    closeError = platform::LastError();
  handle_ = platform::kNullHandle;
  atEnd_ = false;
  lastError_ = keepCloseError ? closeError : 0;
}

void CFile::Attach(platform::Handle handle, bool owns, const char16_t* path) {
  Close();
  handle_ = handle;
  ownsHandle_ = owns;
  path_ = path;
}

bool CFile::Create(const char16_t* path, std::uint32_t access, std::uint32_t share) {
  return Open(path, platform::kCreateAlways, access, share, platform::kFileAttributeNormal);
}

bool CFile::Open(const char16_t* path, std::uint32_t disposition, std::uint32_t access,
                 std::uint32_t share, std::uint32_t flags) {
  Close();
  if (EqualsIgnoreCase(path, kConsoleInputPath)) {
    handle_ = platform::GetStandardInput();
    ownsHandle_ = false;
  } else if (EqualsIgnoreCase(path, kConsoleOutputPath)) {
    // The real standard output, even while the message log has pointed the
    // current one at its file: converted text never goes among messages.
    handle_ = platform::GetProcessStandardOutput();
    ownsHandle_ = false;
  } else {
    handle_ = platform::OpenFile(path, disposition, access, share, flags);
    if (handle_ == platform::kInvalidHandle) SetLastError(platform::LastError());
    ownsHandle_ = true;  // a file we opened ourselves is ours to close
  }
  path_ = path;
  return handle_ != platform::kInvalidHandle;
}

void CFile::Truncate(std::uint64_t length) {
  if (!platform::SetFilePointer(handle_, static_cast<std::int64_t>(length), 0, nullptr) ||
      !platform::SetEndOfFile(handle_)) {
    SetLastError(platform::LastError());
  }
}

std::uint32_t CFile::WriteBytes(const void* data, std::uint32_t size) {
  std::uint32_t done = 0;
  if (!platform::WriteFile(handle_, data, size, &done)) SetLastError(platform::LastError());
  return done;
}

std::uint32_t CFile::Write(const CBuffer& buffer) {
  return WriteBytes(buffer.base(), buffer.length());
}

std::uint32_t CFile::ReadBytes(void* destination, std::uint32_t size) {
  std::uint32_t done = 0;
  if (!platform::ReadFile(handle_, destination, size, &done)) {
    SetLastError(platform::LastError());
  } else if (done == 0 && size > 0) {
    atEnd_ = true;
  }
  return done;
}

std::uint32_t CFile::Read(CBuffer& buffer) {
  // Never read past the reservation: a buffer that already holds data gets
  // only what still fits.
  std::uint32_t size = buffer.commitSize();
  if (size > buffer.Room()) size = buffer.Room();
  std::uint8_t* target = buffer.PrepareWrite(size);
  if (!target || size == 0) return 0;
  std::uint32_t done = 0;
  if (!platform::ReadFile(handle_, target, size, &done)) {
    SetLastError(platform::LastError());
    return 0;
  }
  if (done == 0) atEnd_ = true;
  buffer.SetLength(buffer.length() + done);
  return done;
}

void CFile::WriteText(const std::u16string& text) {
  if (text.empty()) return;
  std::string bytes;
  bytes.resize(text.size() * 2);
  for (std::size_t k = 0; k < text.size(); ++k) {
    bytes[2 * k] = static_cast<char>(text[k] & 0xFF);
    bytes[2 * k + 1] = static_cast<char>(text[k] >> 8);
  }
  // A failure is kept in lastError() for the caller of Print to look at.
  (void)WriteBytes(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

void CFile::Print(const char16_t* format, const FormatArg* args, std::size_t count) {
  std::u16string text;
  FormatTo(text, format, args, count);
  WriteText(text);
}

CConsole::CConsole(platform::Handle handle) {
  handle_ = handle != platform::kNullHandle ? handle : platform::GetStandardOutput();
  path_ = kConsoleOutputPath;
  ownsHandle_ = false;
}

void CConsole::Print(const char16_t* format, const FormatArg* args, std::size_t count) {
  std::u16string text;
  FormatTo(text, format, args, count);
  if (!platform::WriteConsole(handle_, text.data(), text.size()))
    SetLastError(platform::LastError());
}

}  // namespace ordana
