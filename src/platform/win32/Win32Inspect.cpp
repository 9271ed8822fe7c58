// Win32 backend of "what a path names": devices, reparse points and file
// identities. Windows gives no cheap, reliable owner of a link and its target
// here (Wine least of all), so a link is never taken for the user's own:
// walks follow links only when told to.

#include "platform/Platform.h"
#include "platform/win32/Win32Headers.h"

namespace ordana::platform {

namespace {

HANDLE H(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

bool IdentityOf(HANDLE handle, FileIdentity* identity) {
  *identity = FileIdentity();
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info)) return false;
  identity->device = info.dwVolumeSerialNumber;
  identity->index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity->size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  identity->modified = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
      info.ftLastWriteTime.dwLowDateTime);
  identity->mode = info.dwFileAttributes;
  identity->regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  identity->deleted = info.nNumberOfLinks == 0;
  return true;
}

}  // namespace

bool GetFileIdentity(Handle handle, FileIdentity* identity) {
  if (handle == kNullHandle || handle == kInvalidHandle) return false;
  if (::GetFileType(H(handle)) != FILE_TYPE_DISK) return false;
  return IdentityOf(H(handle), identity);
}

bool InspectPath(const char16_t* path, PathInfo* info) {
  *info = PathInfo();
  const DWORD attributes = ::GetFileAttributesW(W(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  info->isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  // No access at all: only what the file is, never its contents.
  HANDLE handle = ::CreateFileW(W(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    // A link to nothing, or a file we may not even open for its attributes.
    if (!info->isLink)
      info->type = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathType::kDirectory : PathType::kFile;
    return true;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    info->type = PathType::kDirectory;
  } else {
    info->type = ::GetFileType(handle) == FILE_TYPE_DISK ? PathType::kFile : PathType::kDevice;
  }
  IdentityOf(handle, &info->identity);
  ::CloseHandle(handle);
  return true;
}

StandardStream StandardStreamOf(const char16_t*) { return StandardStream::kNone; }

}  // namespace ordana::platform
