// POSIX backend of file identities and replacement files (see Platform.h).
//
// A replacement is made relative to one open directory descriptor: the
// temporary is created there with O_EXCL and O_NOFOLLOW, written, given its
// mode and owner through its descriptor, and renamed with renameat. Its name
// is never opened again, so in a directory that someone else can write to,
// swapping the temporary for a link or another file cannot redirect the
// conversion's data or its chmod/chown to a file of the attacker's choosing;
// such a swap, a moved directory or a replaced target is noticed before the
// rename and nothing is replaced.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/Platform.h"
#include "platform/posix/PosixInternal.h"

namespace ordana::platform {

namespace {

bool FailWithErrno() {
  SetLastErrorCode(static_cast<ErrorCode>(errno));
  return false;
}

bool SameObject(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The permission bits a newly created file gets: 0666 less the umask.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// True while the temporary's name still names the open temporary.
bool TemporaryIsStillNamed(const ReplacementFile& file, const std::string& name) {
  struct stat opened;
  struct stat named;
  return ::fstat(static_cast<int>(file.handle), &opened) == 0 &&
         ::fstatat(static_cast<int>(file.directory), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) ==
             0 &&
         SameObject(opened, named);
}

std::string LastPartOf(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void CloseQuietly(Handle* handle) {
  if (*handle >= 0) ::close(static_cast<int>(*handle));
  *handle = kNullHandle;
}

}  // namespace

std::u16string FollowFinalLink(const std::u16string& path) {
  return FromNative(ResolveFinalLink(ToNative(path.c_str())).c_str());
}

bool CreateReplacementFile(const char16_t* target, bool targetMustBeWritable,
                           ReplacementFile* file) {
  *file = ReplacementFile();
  const std::string resolved = ResolveFinalLink(ToNative(target));
  const std::string directory = DirectoryOf(resolved);
  const std::string name = LastPartOf(resolved);
  if (name.empty()) {
    errno = EISDIR;
    return FailWithErrno();
  }
  const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return FailWithErrno();
  struct stat existing;
  if (targetMustBeWritable && ::fstatat(dirFd, name.c_str(), &existing, 0) == 0 &&
      ::faccessat(dirFd, name.c_str(), W_OK, AT_EACCESS) != 0) {
    const int saved = errno;
    ::close(dirFd);
    errno = saved;
    return FailWithErrno();
  }

  static std::uint32_t counter = 0;
  if (counter == 0)
    counter = (static_cast<std::uint32_t>(::getpid()) * 2654435761u) ^ GetTickCount();
  // Everything that allocates happens before the file exists, so that
  // running out of memory cannot leave it behind unregistered.
  ReplacementFile made;
  made.directoryPath = FromNative(directory.c_str());
  made.targetName = FromNative(name.c_str());
  const std::string prefix = directory == "/" ? "/" : directory + "/";
  for (int attempt = 0; attempt < 0x10000; ++attempt) {
    const unsigned number = (counter++) & 0xFFFF;
    if (number == 0) continue;  // as GetTempFileName, never 0000
    char temporary[16];
    std::snprintf(temporary, sizeof temporary, "odn%04X.tmp", number);
    std::u16string path = FromNative((prefix + temporary).c_str());
    const std::u16string temporaryName = FromNative(temporary);
    const int fd =
        ::openat(dirFd, temporary, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      const int saved = errno;
      ::close(dirFd);
      errno = saved;
      return FailWithErrno();
    }
    made.handle = fd;
    made.directory = dirFd;
    made.path = std::move(path);
    made.cleanup = RegisterCleanup(CleanupKind::kFile, temporaryName.c_str(), dirFd, fd);
    *file = std::move(made);
    return true;
  }
  ::close(dirFd);
  errno = EEXIST;
  return FailWithErrno();
}

CommitResult CommitReplacementFile(ReplacementFile* file, const FileIdentity* expected) {
  const int fd = static_cast<int>(file->handle);
  const int dirFd = static_cast<int>(file->directory);
  const std::string target = ToNative(file->targetName.c_str());
  const std::string temporary = LastPartOf(ToNative(file->path.c_str()));

  // The directory must still be the one the user named, and the temporary
  // still ours.
  struct stat opened;
  struct stat named;
  if (::fstat(dirFd, &opened) != 0) return FailWithErrno(), CommitResult::kFailed;
  if (::stat(ToNative(file->directoryPath.c_str()).c_str(), &named) != 0 ||
      !SameObject(opened, named) || !TemporaryIsStillNamed(*file, temporary)) {
    return CommitResult::kTargetChanged;
  }

  struct stat current;
  const bool targetExists = ::fstatat(dirFd, target.c_str(), &current, AT_SYMLINK_NOFOLLOW) == 0;
  if (expected) {
    if (!targetExists) return CommitResult::kTargetDeleted;
    if (current.st_dev != expected->device || current.st_ino != expected->index) {
      return CommitResult::kTargetChanged;
    }
  } else if (targetExists && !S_ISREG(current.st_mode)) {
    // A link, FIFO or directory appeared under the output's name.
    return CommitResult::kTargetChanged;
  }

  // Owner first: changing it may clear set-id bits that the mode then sets.
  if (targetExists) {
    if ((current.st_uid != ::geteuid() || current.st_gid != ::getegid()) &&
        ::fchown(fd, current.st_uid, current.st_gid) != 0) {
      // Not permitted for an ordinary user; the file stays the user's.
    }
    if (::fchmod(fd, current.st_mode & 07777) != 0) return FailWithErrno(), CommitResult::kFailed;
    // The data must be on the disk before the name points at it, or a crash
    // right after the rename could cost the user the file it replaced.
    if (::fsync(fd) != 0 && errno != EINVAL) return FailWithErrno(), CommitResult::kFailed;
  } else if (::fchmod(fd, NewFileMode()) != 0) {
    return FailWithErrno(), CommitResult::kFailed;
  }

  if (::renameat(dirFd, temporary.c_str(), dirFd, target.c_str()) != 0) {
    return FailWithErrno(), CommitResult::kFailed;
  }
  WithdrawCleanup(file->cleanup);
  file->cleanup = kNoCleanup;
  // A file system that reports a lost write only on closing (NFS) does so
  // here; the file that was replaced is gone by then, so this is still told.
  const bool closed = ::close(fd) == 0 || errno == EINTR;
  const int closeError = errno;
  file->handle = kNullHandle;
  CloseQuietly(&file->directory);
  if (!closed) {
    errno = closeError;
    return FailWithErrno(), CommitResult::kFailed;
  }
  return CommitResult::kCommitted;
}

void DiscardReplacementFile(ReplacementFile* file) {
  if (file->handle >= 0 && file->directory >= 0) {
    const std::string temporary = LastPartOf(ToNative(file->path.c_str()));
    if (TemporaryIsStillNamed(*file, temporary)) {
      ::unlinkat(static_cast<int>(file->directory), temporary.c_str(), 0);
    }
  }
  WithdrawCleanup(file->cleanup);
  file->cleanup = kNoCleanup;
  CloseQuietly(&file->handle);
  CloseQuietly(&file->directory);
}

}  // namespace ordana::platform
