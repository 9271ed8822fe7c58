// POSIX backend of the named shared memory, mutex and semaphores (the status
// channel's objects): shm_open/mmap for the area, sem_open for the mutex
// (initial count 1) and the semaphores. Names get the leading "/" that POSIX
// wants; they stay in the system until removed.

#include <fcntl.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <new>
#include <string>

#include "platform/Platform.h"

namespace ordana::platform {

namespace {

// Only the current user may open the channel's objects.
constexpr mode_t kObjectMode = 0600;

std::string PosixName(const char16_t* name) { return "/" + ToNative(name); }

// Removes a name without allocating: it is called from destructors, also
// when memory has run out. The channel's names are ASCII; any other name
// takes the ordinary conversion.
template <class Unlink>
void RemoveName(const char16_t* name, Unlink unlink) {
  char fixed[256];
  fixed[0] = '/';
  std::size_t k = 0;
  for (; name[k] && name[k] < 0x80 && k + 2 < sizeof fixed; ++k) fixed[k + 1] = static_cast<char>(name[k]);
  if (name[k] == 0) {
    fixed[k + 1] = 0;
    unlink(fixed);
    return;
  }
  try {
    unlink(PosixName(name).c_str());
  } catch (const std::bad_alloc&) {
    // Nothing to convert with; the name stays.
  }
}

sem_t* Sem(SyncObject object) { return static_cast<sem_t*>(object.native); }

void SleepMilliseconds(long milliseconds) {
  struct timespec pause = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

bool MapArea(int fd, std::size_t size, SharedMemory* memory) {
  void* base = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (base == MAP_FAILED) return false;
  memory->base = static_cast<std::uint8_t*>(base);
  memory->size = size;
  memory->handle = fd;
  return true;
}

// Opens an existing area and maps it. Its creator sets the size right after
// creating it, so a size of 0 is waited out for a moment.
bool OpenExisting(const std::string& name, std::size_t size, SharedMemory* memory) {
  int fd = ::shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return false;
  for (int attempt = 0;; ++attempt) {
    struct stat info;
    if (::fstat(fd, &info) != 0) break;
    if (static_cast<std::size_t>(info.st_size) >= size) {
      if (MapArea(fd, size, memory)) return true;
      break;
    }
    if (info.st_size != 0 || attempt >= 50) {
      errno = EINVAL;  // not one of our areas
      break;
    }
    SleepMilliseconds(10);
  }
  int saved = errno;
  ::close(fd);
  errno = saved;
  return false;
}

WaitResult WaitSemaphore(sem_t* semaphore, std::uint32_t milliseconds) {
  if (!semaphore) {
    errno = EINVAL;
    return WaitResult::kFailed;
  }
  int rc;
  if (milliseconds == 0) {
    do rc = ::sem_trywait(semaphore);
    while (rc != 0 && errno == EINTR);
    if (rc == 0) return WaitResult::kSignaled;
    return errno == EAGAIN ? WaitResult::kTimedOut : WaitResult::kFailed;
  }
  if (milliseconds == kWaitForever) {
    do rc = ::sem_wait(semaphore);
    while (rc != 0 && errno == EINTR);
    return rc == 0 ? WaitResult::kSignaled : WaitResult::kFailed;
  }
  // An absolute deadline, so that a wait interrupted by a signal resumes with
  // what is left of it. The monotonic clock is immune to clock changes where
  // the C library can wait on it.
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 30))
  const clockid_t clock = CLOCK_MONOTONIC;
#else
  const clockid_t clock = CLOCK_REALTIME;
#endif
  struct timespec deadline;
  ::clock_gettime(clock, &deadline);
  deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  do {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 30))
    rc = ::sem_clockwait(semaphore, clock, &deadline);
#else
    rc = ::sem_timedwait(semaphore, &deadline);
#endif
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return WaitResult::kSignaled;
  return errno == ETIMEDOUT ? WaitResult::kTimedOut : WaitResult::kFailed;
}

bool OpenSemaphore(const char16_t* name, bool create, unsigned initial, SyncObject* object) {
  const std::string native = PosixName(name);
  sem_t* semaphore = create ? ::sem_open(native.c_str(), O_CREAT, kObjectMode, initial)
                            : ::sem_open(native.c_str(), 0);
  if (semaphore == SEM_FAILED) {
    object->native = nullptr;
    return false;
  }
  object->native = semaphore;
  return true;
}

}  // namespace

bool CreateSharedMemory(const char16_t* name, std::size_t size, SharedMemory* memory,
                        bool* alreadyExisted) {
  *memory = SharedMemory();
  *alreadyExisted = false;
  const std::string native = PosixName(name);
  // Creating exclusively tells creator from opener without a race: of two
  // processes starting at once, one creates and the other opens.
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = ::shm_open(native.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kObjectMode);
    if (fd >= 0) {
      if (::ftruncate(fd, static_cast<off_t>(size)) == 0 && MapArea(fd, size, memory)) return true;
      int saved = errno;
      ::close(fd);
      ::shm_unlink(native.c_str());
      errno = saved;
      break;
    }
    if (errno != EEXIST) break;
    if (OpenExisting(native, size, memory)) {
      *alreadyExisted = true;
      return true;
    }
    // Removed between the two calls: try to create it again.
    if (errno != ENOENT) break;
  }
  return false;
}

bool OpenSharedMemory(const char16_t* name, std::size_t size, SharedMemory* memory) {
  *memory = SharedMemory();
  return OpenExisting(PosixName(name), size, memory);
}

void CloseSharedMemory(SharedMemory* memory) {
  if (memory->base) ::munmap(memory->base, memory->size);
  if (memory->handle >= 0) ::close(static_cast<int>(memory->handle));
  *memory = SharedMemory();
}

void RemoveSharedMemoryName(const char16_t* name) {
  RemoveName(name, [](const char* native) { ::shm_unlink(native); });
}

bool CreateSharedMutex(const char16_t* name, SyncObject* mutex) {
  return OpenSemaphore(name, true, 1, mutex);
}

bool OpenSharedMutex(const char16_t* name, SyncObject* mutex) {
  return OpenSemaphore(name, false, 0, mutex);
}

WaitResult WaitSharedMutex(SyncObject mutex, std::uint32_t milliseconds) {
  return WaitSemaphore(Sem(mutex), milliseconds);
}

bool ReleaseSharedMutex(SyncObject mutex) { return Sem(mutex) && ::sem_post(Sem(mutex)) == 0; }

void RemoveSharedMutexName(const char16_t* name) {
  RemoveName(name, [](const char* native) { ::sem_unlink(native); });
}

bool CreateSharedSemaphore(const char16_t* name, std::uint32_t initial, std::uint32_t maximum,
                           SyncObject* semaphore) {
  // POSIX semaphores have no maximum; the channel's protocol keeps its
  // counts within it.
  (void)maximum;
  return OpenSemaphore(name, true, initial, semaphore);
}

bool OpenSharedSemaphore(const char16_t* name, SyncObject* semaphore) {
  return OpenSemaphore(name, false, 0, semaphore);
}

WaitResult WaitSharedSemaphore(SyncObject semaphore, std::uint32_t milliseconds) {
  return WaitSemaphore(Sem(semaphore), milliseconds);
}

bool ReleaseSharedSemaphore(SyncObject semaphore, std::uint32_t count) {
  if (!Sem(semaphore)) return false;
  for (std::uint32_t k = 0; k < count; ++k) {
    if (::sem_post(Sem(semaphore)) != 0) return false;
  }
  return true;
}

void RemoveSharedSemaphoreName(const char16_t* name) {
  RemoveName(name, [](const char* native) { ::sem_unlink(native); });
}

void CloseSyncObject(SyncObject* object) {
  if (object->native) ::sem_close(Sem(*object));
  object->native = nullptr;
}

bool ProcessExists(std::uint32_t processId) {
  // 0 and ids beyond pid_t would make kill() address a group or fail oddly.
  if (processId == 0 || processId > 0x7FFFFFFFu) return false;
  if (::kill(static_cast<pid_t>(processId), 0) == 0) return true;
  return errno == EPERM;  // it exists, it is just not ours
}

}  // namespace ordana::platform
