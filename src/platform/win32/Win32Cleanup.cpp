// Win32 backend of the clean-up table (see Platform.h). Named shared objects
// vanish with their last handle, so only files need removing; a file
// registered with its handle is deleted through it (the handle was opened
// with delete access), so a file someone else put under the name in the
// meantime is never touched. The console control handler runs on a thread of
// its own; the table's state words keep it and the main thread apart.

#include <cstring>

#include "platform/CleanupTable.h"
#include "platform/Platform.h"
#include "platform/win32/Win32Headers.h"

namespace ordana::platform {

namespace {

struct Entry {
  CleanupKind kind = CleanupKind::kFile;
  HANDLE file = nullptr;
  wchar_t name[MAX_PATH + 1];
};

cleanup::Table<Entry, cleanup::kCleanupSlots> g_table;

}  // namespace

CleanupToken RegisterCleanup(CleanupKind kind, const char16_t* name, Handle /*directory*/,
                             Handle file) {
  std::size_t length = 0;
  while (name[length]) ++length;
  return g_table.Register([&](Entry& entry) {
    if (length == 0 || length > MAX_PATH) return false;
    entry.kind = kind;
    entry.file =
        (file != kNullHandle && file != kInvalidHandle) ? reinterpret_cast<HANDLE>(file) : nullptr;
    std::memcpy(entry.name, name, (length + 1) * sizeof(wchar_t));
    return true;
  });
}

void WithdrawCleanup(CleanupToken token) { g_table.Withdraw(token); }

void RemoveRegisteredObjects() {
  g_table.RemoveAll([](const Entry& entry) {
    if (entry.kind != CleanupKind::kFile) return;
    if (entry.file) {
      FILE_DISPOSITION_INFO disposition = {TRUE};
      ::SetFileInformationByHandle(entry.file, FileDispositionInfo, &disposition,
                                   sizeof disposition);
    } else {
      ::DeleteFileW(entry.name);
    }
  });
}

}  // namespace ordana::platform
