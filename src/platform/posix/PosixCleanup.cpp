// POSIX backend of the clean-up table (see Platform.h): entries are filled
// in ordinary code and emptied by RemoveRegisteredObjects, which a signal
// handler may call, so removing uses only async-signal-safe calls.

#include <fcntl.h>
#include <limits.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <string>

#include "platform/CleanupTable.h"
#include "platform/Platform.h"

namespace ordana::platform {

namespace {

struct Entry {
  CleanupKind kind = CleanupKind::kFile;
  int directory = AT_FDCWD;  // AT_FDCWD: the name is a full path
  int file = -1;
  char name[PATH_MAX];
};

cleanup::Table<Entry, cleanup::kCleanupSlots> g_table;

// Removes the name only while it still names the file this process made:
// someone may have replaced it in a directory that others can write to.
void RemoveFile(const Entry& entry) {
  if (entry.file >= 0) {
    struct stat opened;
    struct stat named;
    if (::fstat(entry.file, &opened) != 0) return;
    if (::fstatat(entry.directory, entry.name, &named, AT_SYMLINK_NOFOLLOW) != 0) return;
    if (opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) return;
  }
  ::unlinkat(entry.directory, entry.name, 0);
}

}  // namespace

CleanupToken RegisterCleanup(CleanupKind kind, const char16_t* name, Handle directory,
                             Handle file) {
  std::string native;
  try {
    native = ToNative(name);
    if (kind != CleanupKind::kFile)
      native = "/" + native;  // as the shared-object backend names them
  } catch (const std::bad_alloc&) {
    return kNoCleanup;  // registering must never throw between making a thing and owning it
  }
  return g_table.Register([&](Entry& entry) {
    if (native.size() <= 1 || native.size() >= sizeof entry.name) return false;
    entry.kind = kind;
    entry.directory = directory >= 0 ? static_cast<int>(directory) : AT_FDCWD;
    entry.file = file >= 0 ? static_cast<int>(file) : -1;
    std::memcpy(entry.name, native.c_str(), native.size() + 1);
    return true;
  });
}

void WithdrawCleanup(CleanupToken token) { g_table.Withdraw(token); }

void RemoveRegisteredObjects() {
  g_table.RemoveAll([](const Entry& entry) {
    switch (entry.kind) {
      case CleanupKind::kFile:
        RemoveFile(entry);
        break;
      case CleanupKind::kSharedMemory:
        ::shm_unlink(entry.name);
        break;
      case CleanupKind::kSharedMutex:
      case CleanupKind::kSharedSemaphore:
        ::sem_unlink(entry.name);
        break;
    }
  });
}

}  // namespace ordana::platform
