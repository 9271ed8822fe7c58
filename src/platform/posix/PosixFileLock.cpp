// POSIX backend of the advisory file lock: flock, which belongs to the open
// file and is given back when it is closed, whatever happens to the process.

#include <sys/file.h>

#include <cerrno>

#include "platform/Platform.h"

namespace ordana::platform {

bool LockFile(Handle handle) {
  if (handle < 0) return false;
  int rc;
  do rc = ::flock(static_cast<int>(handle), LOCK_EX);
  while (rc != 0 && errno == EINTR);
  return rc == 0;
}

void UnlockFile(Handle handle) {
  if (handle >= 0) ::flock(static_cast<int>(handle), LOCK_UN);
}

}  // namespace ordana::platform
