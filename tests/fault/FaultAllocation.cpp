// The allocation part of the fault injection (see FaultInjection.cpp), loaded
// with LD_PRELOAD beside it when a test needs memory to run out.
//
// Environment:
//   ORDANA_FAULT_PATH        counting starts at the first open of a path
//                            containing this text (default: at once)
//   ORDANA_FAULT_ALLOC_FAIL  from then on, the Nth anonymous mmap and the Nth
//                            malloc fail (once each), as when memory runs out

#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>

#include <atomic>

extern "C" void* __libc_malloc(size_t size);

namespace {

std::atomic<long> g_mmaps{0};
std::atomic<long> g_mallocs{0};
std::atomic<bool> g_armed{false};

template <class F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

long Number(const char* name) {
  const char* value = getenv(name);
  return value && *value ? atol(value) : 0;
}

void Arm(int fd, const char* path) {
  if (fd < 0 || g_armed.load()) return;
  const char* filter = getenv("ORDANA_FAULT_PATH");
  if (!filter || !*filter || (path && strstr(path, filter))) g_armed.store(true);
}

int OpenMode(int flags, va_list args) {
  return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, int) : 0;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  static auto next = Next<int (*)(const char*, int, ...)>("open");
  va_list args;
  va_start(args, flags);
  const int mode = OpenMode(flags, args);
  va_end(args);
  const int fd = next(path, flags, mode);
  Arm(fd, path);
  return fd;
}

void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
  static auto next = Next<void* (*)(void*, size_t, int, int, int, off_t)>("mmap");
  if ((flags & MAP_ANONYMOUS) && g_armed.load()) {
    const long n = ++g_mmaps;
    if (n == Number("ORDANA_FAULT_ALLOC_FAIL")) {
      errno = ENOMEM;
      return MAP_FAILED;
    }
  }
  return next(address, length, protection, flags, fd, offset);
}

void* malloc(size_t size) {
  if (g_armed.load()) {
    const long n = ++g_mallocs;
    if (n == Number("ORDANA_FAULT_ALLOC_FAIL")) {
      errno = ENOMEM;
      return nullptr;
    }
  }
  return __libc_malloc(size);
}

}  // extern "C"
