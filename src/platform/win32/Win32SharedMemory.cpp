// Win32 backend of the named shared memory, mutex and semaphores (the status
// channel's objects): a paging-file mapping, a mutex and two semaphores, all
// named as given. A name vanishes with the last handle to its object, so the
// Remove...Name functions have nothing to do here.

#include "platform/win32/Win32Headers.h"

#include "platform/Platform.h"

namespace ordana::platform {

namespace {

const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

HANDLE Native(SyncObject object) { return static_cast<HANDLE>(object.native); }

bool MapArea(HANDLE mapping, std::size_t size, SharedMemory* memory) {
  void* base = ::MapViewOfFileEx(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, size, nullptr);
  if (!base) return false;
  // A view of an existing mapping is as large as the mapping, rounded up to
  // whole pages; one that is too small is not one of ours.
  MEMORY_BASIC_INFORMATION info;
  if (::VirtualQuery(base, &info, sizeof info) == 0 || info.RegionSize < size) {
    ::UnmapViewOfFile(base);
    ::SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  memory->base = static_cast<std::uint8_t*>(base);
  memory->size = size;
  memory->handle = reinterpret_cast<std::intptr_t>(mapping);
  return true;
}

WaitResult Wait(HANDLE object, std::uint32_t milliseconds) {
  if (!object) return WaitResult::kFailed;
  switch (::WaitForSingleObject(object, milliseconds == kWaitForever ? INFINITE : milliseconds)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // its holder died: the mutex is ours now
      return WaitResult::kSignaled;
    case WAIT_TIMEOUT:
      return WaitResult::kTimedOut;
    default:
      return WaitResult::kFailed;
  }
}

}  // namespace

bool CreateSharedMemory(const char16_t* name, std::size_t size, SharedMemory* memory,
                        bool* alreadyExisted) {
  *memory = SharedMemory();
  *alreadyExisted = false;
  const auto size64 = static_cast<unsigned long long>(size);
  // Null security attributes: the default DACL of our token, which admits
  // the current user (and the system), not other users.
  HANDLE mapping =
      ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                           static_cast<DWORD>(size64 >> 32), static_cast<DWORD>(size64), W(name));
  if (!mapping) return false;
  *alreadyExisted = ::GetLastError() == ERROR_ALREADY_EXISTS;
  if (MapArea(mapping, size, memory)) return true;
  const DWORD error = ::GetLastError();
  ::CloseHandle(mapping);
  ::SetLastError(error);
  return false;
}

bool OpenSharedMemory(const char16_t* name, std::size_t size, SharedMemory* memory) {
  *memory = SharedMemory();
  HANDLE mapping = ::OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, W(name));
  if (!mapping) return false;
  if (MapArea(mapping, size, memory)) return true;
  const DWORD error = ::GetLastError();
  ::CloseHandle(mapping);
  ::SetLastError(error);
  return false;
}

void CloseSharedMemory(SharedMemory* memory) {
  if (memory->base) ::UnmapViewOfFile(memory->base);
  if (memory->handle != -1) ::CloseHandle(reinterpret_cast<HANDLE>(memory->handle));
  *memory = SharedMemory();
}

void RemoveSharedMemoryName(const char16_t*) {}

bool CreateSharedMutex(const char16_t* name, SyncObject* mutex) {
  mutex->native = ::CreateMutexW(nullptr, FALSE, W(name));
  return mutex->native != nullptr;
}

bool OpenSharedMutex(const char16_t* name, SyncObject* mutex) {
  mutex->native = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, W(name));
  return mutex->native != nullptr;
}

WaitResult WaitSharedMutex(SyncObject mutex, std::uint32_t milliseconds) {
  return Wait(Native(mutex), milliseconds);
}

bool ReleaseSharedMutex(SyncObject mutex) {
  return Native(mutex) && ::ReleaseMutex(Native(mutex)) != 0;
}

void RemoveSharedMutexName(const char16_t*) {}

bool CreateSharedSemaphore(const char16_t* name, std::uint32_t initial, std::uint32_t maximum,
                           SyncObject* semaphore) {
  semaphore->native =
      ::CreateSemaphoreW(nullptr, static_cast<LONG>(initial), static_cast<LONG>(maximum), W(name));
  return semaphore->native != nullptr;
}

bool OpenSharedSemaphore(const char16_t* name, SyncObject* semaphore) {
  semaphore->native = ::OpenSemaphoreW(SYNCHRONIZE | SEMAPHORE_MODIFY_STATE, FALSE, W(name));
  return semaphore->native != nullptr;
}

WaitResult WaitSharedSemaphore(SyncObject semaphore, std::uint32_t milliseconds) {
  return Wait(Native(semaphore), milliseconds);
}

bool ReleaseSharedSemaphore(SyncObject semaphore, std::uint32_t count) {
  return Native(semaphore) &&
         ::ReleaseSemaphore(Native(semaphore), static_cast<LONG>(count), nullptr) != 0;
}

void RemoveSharedSemaphoreName(const char16_t*) {}

void CloseSyncObject(SyncObject* object) {
  if (object->native) ::CloseHandle(Native(*object));
  object->native = nullptr;
}

bool ProcessExists(std::uint32_t processId) {
  if (processId == 0) return false;
  HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (!process) return ::GetLastError() == ERROR_ACCESS_DENIED;  // it exists, it is not ours
  // A process that has ended lives on as an object while handles to it are
  // open; only a running one counts.
  const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  ::CloseHandle(process);
  return running;
}

}  // namespace ordana::platform
