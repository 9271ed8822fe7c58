// Win32 backend of file identities and replacement files (see Platform.h).
//
// The temporary is created with CREATE_NEW and kept open, with delete access,
// until it is renamed through its handle (SetFileInformationByHandle with
// FileRenameInfo) or deleted through it; its name is never opened again.
// What Win32 does not offer: there is no directory handle to rename
// relative to, so the target is named by its full path, and a target that
// was swapped between the identity check and the rename is replaced as it
// then is. Where a file system refuses the rename by handle, the handle is
// closed and MoveFileExW renames by name.

#include <cstdio>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/Win32Headers.h"
#include "platform/win32/Win32Internal.h"

namespace ordana::platform {

namespace {

const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
HANDLE H(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

bool Fail() {
  SetLastErrorCode(::GetLastError());
  return false;
}

// The identity of what `path` names, without following a final link.
bool IdentityOfPath(const char16_t* path, DWORD flags, FileIdentity* identity) {
  HANDLE handle =
      ::CreateFileW(W(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Fail();
  const bool ok = GetFileIdentity(reinterpret_cast<Handle>(handle), identity);
  if (!ok) Fail();
  ::CloseHandle(handle);
  return ok;
}

std::size_t LastSeparator(const std::u16string& path) { return path.find_last_of(u"\\/"); }

bool RenameByHandle(HANDLE handle, const std::u16string& target) {
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) +
                                    (target.size() + 1) * sizeof(wchar_t));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  for (std::size_t k = 0; k <= target.size(); ++k)
    info->FileName[k] = static_cast<wchar_t>(target.c_str()[k]);
  return ::SetFileInformationByHandle(handle, FileRenameInfo, info,
                                      static_cast<DWORD>(buffer.size())) != 0;
}

}  // namespace

std::u16string FollowFinalLink(const std::u16string& path) { return path; }

bool CreateReplacementFile(const char16_t* target, bool targetMustBeWritable,
                           ReplacementFile* file) {
  *file = ReplacementFile();
  const std::u16string path = target;
  const std::size_t separator = LastSeparator(path);
  const std::u16string directory =
      separator == std::u16string::npos ? u"." : path.substr(0, separator);
  const std::u16string name = separator == std::u16string::npos ? path : path.substr(separator + 1);
  if (targetMustBeWritable) {
    const DWORD attributes = ::GetFileAttributesW(W(target));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
      ::SetLastError(ERROR_ACCESS_DENIED);
      return Fail();
    }
  }
  static std::uint32_t counter = 0;
  if (counter == 0) counter = ::GetCurrentProcessId() * 2654435761u ^ ::GetTickCount();
  for (int attempt = 0; attempt < 0x10000; ++attempt) {
    const unsigned number = (counter++) & 0xFFFF;
    if (number == 0) continue;
    char digits[16];
    std::snprintf(digits, sizeof digits, "odn%04X.tmp", number);
    std::u16string candidate = directory + u'\\';
    for (const char* p = digits; *p; ++p) candidate += static_cast<char16_t>(*p);
    HANDLE handle = ::CreateFileW(W(candidate.c_str()), GENERIC_READ | GENERIC_WRITE | DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (::GetLastError() == ERROR_FILE_EXISTS || ::GetLastError() == ERROR_ALREADY_EXISTS)
        continue;
      return Fail();
    }
    file->handle = reinterpret_cast<Handle>(handle);
    file->path = candidate;
    file->directoryPath = directory;
    file->targetName = name;
    file->cleanup =
        RegisterCleanup(CleanupKind::kFile, candidate.c_str(), kNullHandle, file->handle);
    return true;
  }
  ::SetLastError(ERROR_FILE_EXISTS);
  return Fail();
}

CommitResult CommitReplacementFile(ReplacementFile* file, const FileIdentity* expected) {
  HANDLE handle = H(file->handle);
  const std::u16string target = file->directoryPath + u'\\' + file->targetName;
  FileIdentity current;
  const bool targetExists = IdentityOfPath(target.c_str(), FILE_FLAG_OPEN_REPARSE_POINT, &current);
  if (expected) {
    if (!targetExists) return CommitResult::kTargetDeleted;
    if (!(current == *expected)) return CommitResult::kTargetChanged;
  }
  DWORD attributes =
      targetExists ? ::GetFileAttributesW(W(target.c_str())) : INVALID_FILE_ATTRIBUTES;
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return CommitResult::kTargetChanged;  // a link appeared under the name
  }
  // The data must be on the disk before the name points at it.
  if (targetExists && !::FlushFileBuffers(handle)) return Fail(), CommitResult::kFailed;
  // A read-only file cannot be replaced; it is made writable for the rename
  // and the replacement gets its attributes back afterwards.
  const bool readOnly =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
  if (readOnly) ::SetFileAttributesW(W(target.c_str()), attributes & ~FILE_ATTRIBUTE_READONLY);

  bool renamed = RenameByHandle(handle, target);
  bool closed = false;
  if (!renamed) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
        error == ERROR_INVALID_FUNCTION) {
      // This file system renames only by name.
      closed = true;
      ::CloseHandle(handle);
      renamed =
          ::MoveFileExW(W(file->path.c_str()), W(target.c_str()), MOVEFILE_REPLACE_EXISTING) != 0;
      if (!renamed) {
        // The temporary is closed now; remove it by name.
        const DWORD saved = ::GetLastError();
        ::DeleteFileW(W(file->path.c_str()));
        ::SetLastError(saved);
      }
    } else {
      ::SetLastError(error);
    }
  }
  if (!renamed) {
    Fail();
    if (readOnly) ::SetFileAttributesW(W(target.c_str()), attributes);
    if (closed) {
      WithdrawCleanup(file->cleanup);
      file->cleanup = kNoCleanup;
      file->handle = kNullHandle;
    }
    return CommitResult::kFailed;
  }
  WithdrawCleanup(file->cleanup);
  file->cleanup = kNoCleanup;
  if (!closed) ::CloseHandle(handle);
  file->handle = kNullHandle;
  if (attributes != INVALID_FILE_ATTRIBUTES) ::SetFileAttributesW(W(target.c_str()), attributes);
  return CommitResult::kCommitted;
}

void DiscardReplacementFile(ReplacementFile* file) {
  if (file->handle != kNullHandle && file->handle != kInvalidHandle) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    ::SetFileInformationByHandle(H(file->handle), FileDispositionInfo, &disposition,
                                 sizeof disposition);
    ::CloseHandle(H(file->handle));
  }
  WithdrawCleanup(file->cleanup);
  file->cleanup = kNoCleanup;
  file->handle = kNullHandle;
}

}  // namespace ordana::platform
