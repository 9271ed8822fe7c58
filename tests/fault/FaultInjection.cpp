// A fault-injection library for the end-to-end tests, loaded into the
// program under test with LD_PRELOAD. It makes the system calls fail (or
// wait) the way a failing disk, a full disk, a network file system or a
// machine out of memory would, at exactly the call a test chooses.
//
// Environment (all optional; nothing set: every call passes through):
//   ORDANA_FAULT_PATH        only descriptors opened with a path containing
//                            this text count as "matching" (default: all
//                            descriptors opened after loading)
//   ORDANA_FAULT_READ_FAIL   the Nth read of a matching descriptor fails
//   ORDANA_FAULT_READ_ERRNO  with this errno (default EIO)
//   ORDANA_FAULT_WRITE_FAIL  the Nth write to a matching descriptor and every
//                            later one fail (a full disk stays full)
//   ORDANA_FAULT_WRITE_ERRNO with this errno (default ENOSPC)
//   ORDANA_FAULT_WRITE_SHORT every write to a matching descriptor takes at
//                            most this many bytes (a partial write, as pipes,
//                            sockets and interrupted writes return them)
//   ORDANA_FAULT_READDIR_FAIL the Nth readdir of a matching directory (opened
//                            with opendir) fails with the read errno (default
//                            EIO), as a damaged directory on a failing disk
//   ORDANA_FAULT_SEM_POST_FAIL the Nth sem_post fails with EOVERFLOW, as the
//                            system refuses a semaphore at its maximum count
//                            (or one replaced under its name)
//   ORDANA_FAULT_PAUSE_READ  before the Nth read of a matching descriptor,
//   ORDANA_FAULT_PAUSE_FILE  create "<file>.paused" and wait until <file>
//                            exists (at most 60 s), so that a test can change
//                            the world at a known point of the conversion
//
// Allocation failures live in a library of their own (FaultAllocation.cpp):
// a sanitizer build cannot have its allocator replaced, but can have these.
//
// Counting uses atomics; the program under test is single-threaded anyway.

#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <semaphore.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace {

constexpr int kMaxFd = 4096;
std::atomic<bool> g_matching[kMaxFd];
std::atomic<long> g_reads{0};
std::atomic<long> g_writes{0};
std::atomic<long> g_directoryReads{0};
std::atomic<long> g_semaphorePosts{0};

long Number(const char* name) {
  const char* value = getenv(name);
  return value && *value ? atol(value) : 0;
}

template <class F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

void Track(int fd, const char* path) {
  if (fd < 0 || fd >= kMaxFd) return;
  const char* filter = getenv("ORDANA_FAULT_PATH");
  const bool match = !filter || !*filter || (path && strstr(path, filter));
  g_matching[fd].store(match);
}

bool Matching(int fd) { return fd >= 0 && fd < kMaxFd && g_matching[fd].load(); }

void PauseIfAsked(long n) {
  const char* file = getenv("ORDANA_FAULT_PAUSE_FILE");
  if (!file || Number("ORDANA_FAULT_PAUSE_READ") != n) return;
  char marker[4096];
  if (strlen(file) + 8 >= sizeof marker) return;
  strcpy(marker, file);
  strcat(marker, ".paused");
  const int fd =
      Next<int (*)(const char*, int, ...)>("open")(marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) close(fd);
  struct stat info;
  for (int k = 0; k < 6000 && stat(file, &info) != 0; ++k) {
    struct timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
}

// True when this readdir of `dir` is the one to fail (errno set).
bool DirectoryReadFails(DIR* dir) {
  if (!Matching(dirfd(dir))) return false;
  if (++g_directoryReads != Number("ORDANA_FAULT_READDIR_FAIL")) return false;
  const long code = Number("ORDANA_FAULT_READ_ERRNO");
  errno = code ? static_cast<int>(code) : EIO;
  return true;
}

int OpenMode(int flags, va_list args) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, int) : 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = OpenMode(flags, args);
  va_end(args);
  const int fd = Next<int (*)(const char*, int, ...)>("open")(path, flags, mode);
  Track(fd, path);
  return fd;
}

int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = OpenMode(flags, args);
  va_end(args);
  const int fd = Next<int (*)(const char*, int, ...)>("open64")(path, flags, mode);
  Track(fd, path);
  return fd;
}

int openat(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = OpenMode(flags, args);
  va_end(args);
  const int fd = Next<int (*)(int, const char*, int, ...)>("openat")(dir, path, flags, mode);
  Track(fd, path);
  return fd;
}

int openat64(int dir, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = OpenMode(flags, args);
  va_end(args);
  const int fd = Next<int (*)(int, const char*, int, ...)>("openat64")(dir, path, flags, mode);
  Track(fd, path);
  return fd;
}

ssize_t read(int fd, void* data, size_t size) {
  static auto next = Next<ssize_t (*)(int, void*, size_t)>("read");
  if (Matching(fd)) {
    const long n = ++g_reads;
    PauseIfAsked(n);
    if (n == Number("ORDANA_FAULT_READ_FAIL")) {
      const long code = Number("ORDANA_FAULT_READ_ERRNO");
      errno = code ? static_cast<int>(code) : EIO;
      return -1;
    }
  }
  return next(fd, data, size);
}

ssize_t write(int fd, const void* data, size_t size) {
  static auto next = Next<ssize_t (*)(int, const void*, size_t)>("write");
  if (Matching(fd)) {
    const long n = ++g_writes;
    const long failAt = Number("ORDANA_FAULT_WRITE_FAIL");
    if (failAt > 0 && n >= failAt) {
      const long code = Number("ORDANA_FAULT_WRITE_ERRNO");
      errno = code ? static_cast<int>(code) : ENOSPC;
      return -1;
    }
    const long most = Number("ORDANA_FAULT_WRITE_SHORT");
    if (most > 0 && size > static_cast<size_t>(most)) size = static_cast<size_t>(most);
  }
  return next(fd, data, size);
}

DIR* opendir(const char* path) {
  DIR* dir = Next<DIR* (*)(const char*)>("opendir")(path);
  if (dir) Track(dirfd(dir), path);
  return dir;
}

struct dirent* readdir(DIR* dir) {
  static auto next = Next<struct dirent* (*)(DIR*)>("readdir");
  return DirectoryReadFails(dir) ? nullptr : next(dir);
}

struct dirent64* readdir64(DIR* dir) {
  static auto next = Next<struct dirent64* (*)(DIR*)>("readdir64");
  return DirectoryReadFails(dir) ? nullptr : next(dir);
}

int close(int fd) {
  static auto next = Next<int (*)(int)>("close");
  if (fd >= 0 && fd < kMaxFd) g_matching[fd].store(false);
  return next(fd);
}

int sem_post(sem_t* semaphore) {
  static auto next = Next<int (*)(sem_t*)>("sem_post");
  if (++g_semaphorePosts == Number("ORDANA_FAULT_SEM_POST_FAIL")) {
    errno = EOVERFLOW;
    return -1;
  }
  return next(semaphore);
}

}  // extern "C"
