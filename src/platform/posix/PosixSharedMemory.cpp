// POSIX backend of the named shared memory, mutex and semaphores (the status
// channel's objects): shm_open/mmap for the area, and named semaphores for
// the mutex (initial count 1) and the two semaphores. Names get the leading
// "/" that POSIX wants; they stay in the system until removed.
//
// Trust: anyone may create an object under a name first (the names are
// predictable), so an existing object is used only after fstat on the very
// descriptor that is then mapped shows a regular file of the effective user
// without group or other permission bits. sem_open cannot be asked that, so
// a named semaphore is opened the way the C library does it on Linux, as
// the file /dev/shm/sem.NAME holding one process-shared sem_t, which is
// checked and then mapped; other programs keep using sem_open on the same
// names. The directory is sticky, so an object of ours under a name can be
// neither removed nor replaced by another user.

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
#include "platform/posix/PosixInternal.h"

namespace ordana::platform {

namespace {

// Only the current user may open the channel's objects.
constexpr mode_t kObjectMode = 0600;
// Where shm_open and sem_open keep their objects on Linux.
constexpr const char kSemaphorePrefix[] = "/dev/shm/sem.";

thread_local SharedObjectError t_error = SharedObjectError::kNone;

bool Fail(SharedObjectError error) {
  t_error = error;
  return false;
}

std::string PosixName(const char16_t* name) { return "/" + ToNative(name); }
std::string SemaphorePath(const char16_t* name) { return kSemaphorePrefix + ToNative(name); }

// Calls `remove` with "<prefix><name>" without allocating: names are removed
// from destructors, also when memory has run out. The channel's names are
// ASCII; any other name takes the ordinary conversion.
template <class Remove>
void WithPath(const char* prefix, const char16_t* name, Remove remove) {
  char fixed[256];
  std::size_t at = 0;
  for (; prefix[at] && at + 1 < sizeof fixed; ++at) fixed[at] = prefix[at];
  std::size_t k = 0;
  for (; name[k] && name[k] < 0x80 && at + 1 < sizeof fixed; ++k) {
    fixed[at++] = static_cast<char>(name[k]);
  }
  if (name[k] == 0) {
    fixed[at] = 0;
    remove(fixed);
    return;
  }
  try {
    remove((prefix + ToNative(name)).c_str());
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

bool Trusted(const struct stat& info) {
  return S_ISREG(info.st_mode) && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

// Whether the object open on `fd` may be used; sets the error when not.
bool CheckTrusted(int fd) {
  struct stat info;
  if (::fstat(fd, &info) != 0) return Fail(SharedObjectError::kUnusable);
  return Trusted(info) || Fail(SharedObjectError::kNotTrusted);
}

void CloseKeepingErrno(int fd) {
  const int saved = errno;
  ::close(fd);
  errno = saved;
}

bool MapArea(int fd, std::size_t size, bool readOnly, SharedMemory* memory) {
  const int protection = readOnly ? PROT_READ : PROT_READ | PROT_WRITE;
  void* base = ::mmap(nullptr, size, protection, MAP_SHARED, fd, 0);
  if (base == MAP_FAILED) return Fail(SharedObjectError::kUnusable);
  memory->base = static_cast<std::uint8_t*>(base);
  memory->size = size;
  memory->handle = fd;
  memory->readOnly = readOnly;
  return true;
}

// Opens an existing area, checks it and maps it. Its creator sets the size
// right after creating it, so a size of 0 is waited out for a moment.
bool OpenExisting(const std::string& name, std::size_t size, bool readOnly, SharedMemory* memory) {
  int fd = ::shm_open(name.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_NOFOLLOW | O_CLOEXEC, 0);
  if (fd < 0) {
    return Fail(errno == ENOENT  ? SharedObjectError::kMissing
                : errno == ELOOP ? SharedObjectError::kNotTrusted  // a link planted under the name
                                 : SharedObjectError::kUnusable);
  }
  if (!CheckTrusted(fd)) {
    CloseKeepingErrno(fd);
    return false;
  }
  for (int attempt = 0;; ++attempt) {
    struct stat info;
    if (::fstat(fd, &info) != 0) break;
    if (static_cast<std::size_t>(info.st_size) >= size) {
      if (MapArea(fd, size, readOnly, memory)) return true;
      CloseKeepingErrno(fd);
      return false;
    }
    if (info.st_size != 0 || attempt >= 50) break;  // not one of our areas
    SleepMilliseconds(10);
  }
  CloseKeepingErrno(fd);
  return Fail(SharedObjectError::kUnusable);
}

// Opens the named object `path` without following a link, and only when it
// is trusted; -1 otherwise (the error set).
int OpenTrustedFile(const std::string& path, int access) {
  int fd = ::open(path.c_str(), access | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    Fail(errno == ENOENT  ? SharedObjectError::kMissing
         : errno == ELOOP ? SharedObjectError::kNotTrusted
                          : SharedObjectError::kUnusable);
    return -1;
  }
  if (!CheckTrusted(fd)) {
    CloseKeepingErrno(fd);
    return -1;
  }
  return fd;
}

// Maps the sem_t of a semaphore file.
sem_t* MapSemaphore(int fd) {
  void* at = ::mmap(nullptr, sizeof(sem_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return at == MAP_FAILED ? nullptr : static_cast<sem_t*>(at);
}

bool CreateSemaphore(const char16_t* name, unsigned initial, SyncObject* object) {
  object->native = nullptr;
  const std::string path = SemaphorePath(name);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kObjectMode);
  if (fd < 0) {
    return Fail(errno == EEXIST ? SharedObjectError::kExists : SharedObjectError::kUnusable);
  }
  // A file of zeros is a semaphore of count 0 until it is initialised: an
  // opener that comes too early finds the mutex taken, never free twice. The
  // channel's openers wait for its signature, which comes after this.
  sem_t* semaphore = nullptr;
  if (::ftruncate(fd, sizeof(sem_t)) == 0) semaphore = MapSemaphore(fd);
  if (semaphore && ::sem_init(semaphore, 1, initial) != 0) {
    ::munmap(semaphore, sizeof(sem_t));
    semaphore = nullptr;
  }
  ::close(fd);
  if (!semaphore) {
    ::unlink(path.c_str());
    return Fail(SharedObjectError::kUnusable);
  }
  object->native = semaphore;
  return true;
}

bool OpenSemaphore(const char16_t* name, SyncObject* object) {
  object->native = nullptr;
  int fd = OpenTrustedFile(SemaphorePath(name), O_RDWR);
  if (fd < 0) return false;
  struct stat info;
  sem_t* semaphore = nullptr;
  if (::fstat(fd, &info) == 0 && static_cast<std::size_t>(info.st_size) >= sizeof(sem_t)) {
    semaphore = MapSemaphore(fd);
  }
  ::close(fd);
  if (!semaphore) return Fail(SharedObjectError::kUnusable);
  object->native = semaphore;
  return true;
}

// Removes `path` when it names a trusted object (of the effective user, not
// open to others). Another user can neither remove nor replace an object of
// ours in the sticky /dev/shm, so the name still means the checked object
// when it is removed.
void RemoveTrusted(const char* path) {
  int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  struct stat info;
  const bool trusted = ::fstat(fd, &info) == 0 && Trusted(info);
  ::close(fd);
  if (trusted) ::unlink(path);
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

}  // namespace

SharedObjectError LastSharedObjectError() { return t_error; }

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
      if (::ftruncate(fd, static_cast<off_t>(size)) == 0 && MapArea(fd, size, false, memory)) {
        return true;
      }
      CloseKeepingErrno(fd);
      ::shm_unlink(native.c_str());
      return Fail(SharedObjectError::kUnusable);
    }
    if (errno != EEXIST) return Fail(SharedObjectError::kUnusable);
    if (OpenExisting(native, size, false, memory)) {
      *alreadyExisted = true;
      return true;
    }
    // Removed between the two calls: try to create it again.
    if (t_error != SharedObjectError::kMissing) return false;
  }
  return false;
}

bool OpenSharedMemory(const char16_t* name, std::size_t size, SharedMemory* memory, bool readOnly) {
  *memory = SharedMemory();
  return OpenExisting(PosixName(name), size, readOnly, memory);
}

bool ReadSharedMemory(const SharedMemory& memory, std::size_t offset, void* out,
                      std::size_t count) {
  if (memory.handle < 0 || offset > memory.size || count > memory.size - offset) return false;
  // pread reports a short object as a short read; the mapping would fault.
  auto* target = static_cast<char*>(out);
  std::size_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(static_cast<int>(memory.handle), target + done, count - done,
                              static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::size_t SharedMemoryCurrentSize(const SharedMemory& memory) {
  struct stat info;
  if (memory.handle < 0 || ::fstat(static_cast<int>(memory.handle), &info) != 0) return 0;
  return static_cast<std::size_t>(info.st_size);
}

void CloseSharedMemory(SharedMemory* memory) {
  if (memory->base) ::munmap(memory->base, memory->size);
  if (memory->handle >= 0) ::close(static_cast<int>(memory->handle));
  *memory = SharedMemory();
}

void RemoveSharedMemoryName(const char16_t* name) {
  // shm_open's objects live in the same directory as the semaphores.
  WithPath("/dev/shm/", name, RemoveTrusted);
}

bool CreateSharedMutex(const char16_t* name, SyncObject* mutex) {
  return CreateSemaphore(name, 1, mutex);
}

bool OpenSharedMutex(const char16_t* name, SyncObject* mutex) { return OpenSemaphore(name, mutex); }

WaitResult WaitSharedMutex(SyncObject mutex, std::uint32_t milliseconds) {
  return WaitSemaphore(Sem(mutex), milliseconds);
}

namespace {

// Posts once; a refusal is kept for LastError, as the caller says why.
bool Post(sem_t* semaphore) {
  if (semaphore && ::sem_post(semaphore) == 0) return true;
  SetLastErrorCode(static_cast<ErrorCode>(semaphore ? errno : EINVAL));
  return false;
}

}  // namespace

bool ReleaseSharedMutex(SyncObject mutex) { return Post(Sem(mutex)); }

void RemoveSharedMutexName(const char16_t* name) {
  WithPath(kSemaphorePrefix, name, RemoveTrusted);
}

bool CreateSharedSemaphore(const char16_t* name, std::uint32_t initial, std::uint32_t maximum,
                           SyncObject* semaphore) {
  // POSIX semaphores have no maximum; the channel's protocol keeps its
  // counts within it.
  (void)maximum;
  return CreateSemaphore(name, initial, semaphore);
}

bool OpenSharedSemaphore(const char16_t* name, SyncObject* semaphore) {
  return OpenSemaphore(name, semaphore);
}

WaitResult WaitSharedSemaphore(SyncObject semaphore, std::uint32_t milliseconds) {
  return WaitSemaphore(Sem(semaphore), milliseconds);
}

bool ReleaseSharedSemaphore(SyncObject semaphore, std::uint32_t count) {
  for (std::uint32_t k = 0; k < count; ++k) {
    if (!Post(Sem(semaphore))) return false;
  }
  return true;
}

void RemoveSharedSemaphoreName(const char16_t* name) {
  WithPath(kSemaphorePrefix, name, RemoveTrusted);
}

void CloseSyncObject(SyncObject* object) {
  if (object->native) ::munmap(object->native, sizeof(sem_t));
  object->native = nullptr;
}

bool ProcessExists(std::uint32_t processId) {
  // 0 and ids beyond pid_t would make kill() address a group or fail oddly.
  if (processId == 0 || processId > 0x7FFFFFFFu) return false;
  if (::kill(static_cast<pid_t>(processId), 0) == 0) return true;
  return errno == EPERM;  // it exists, it is just not ours
}

}  // namespace ordana::platform
