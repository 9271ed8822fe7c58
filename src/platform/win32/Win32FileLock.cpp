// Win32 backend of the advisory file lock: LockFileEx on one byte at the far
// end of the 64-bit offset range. Windows locks are mandatory for the range
// they cover, so the range lies beyond any data: the lock orders the
// processes that take it and blocks no one's reads or writes.

#include "platform/Platform.h"
#include "platform/win32/Win32Headers.h"

namespace ordana::platform {

namespace {

HANDLE H(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

OVERLAPPED FarByte() {
  OVERLAPPED at = {};
  at.Offset = 0xFFFFFFFEu;
  at.OffsetHigh = 0x7FFFFFFFu;
  return at;
}

}  // namespace

bool LockFile(Handle handle) {
  OVERLAPPED at = FarByte();
  return ::LockFileEx(H(handle), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != 0;
}

void UnlockFile(Handle handle) {
  OVERLAPPED at = FarByte();
  ::UnlockFileEx(H(handle), 0, 1, 0, &at);
}

}  // namespace ordana::platform
