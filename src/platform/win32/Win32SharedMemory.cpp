// Win32 backend of the named shared memory, mutex and semaphores (the status
// channel's objects): a paging-file mapping, a mutex and two semaphores, all
// named as given. A name vanishes with the last handle to its object, so the
// Remove...Name functions have nothing to do here.
//
// Trust: an existing object is used only when its owner is the user running
// this process (or the token's default owner, which is what objects this
// user creates get). A mapping cannot shrink while it is mapped, so reads
// need no more than the bounds of the view.

#include <aclapi.h>

#include <cstring>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/Win32Headers.h"
#include "platform/win32/Win32Internal.h"

namespace ordana::platform {

namespace {

thread_local SharedObjectError t_error = SharedObjectError::kNone;

bool Fail(SharedObjectError error) {
  t_error = error;
  return false;
}

const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

HANDLE Native(SyncObject object) { return static_cast<HANDLE>(object.native); }

// The SID of a token information class that starts with one (TokenUser,
// TokenOwner); empty when it cannot be read.
std::vector<BYTE> TokenSid(HANDLE token, TOKEN_INFORMATION_CLASS which) {
  DWORD length = 0;
  ::GetTokenInformation(token, which, nullptr, 0, &length);
  std::vector<BYTE> data(length);
  if (length == 0 || !::GetTokenInformation(token, which, data.data(), length, &length)) return {};
  return data;
}

bool OwnedByUser(HANDLE object) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  // An object without an owner is one the system keeps no owner for (Wine
  // does so); Windows gives every named object one.
  bool owned = owner == nullptr;
  HANDLE token = nullptr;
  if (owner && ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
    const std::vector<BYTE> user = TokenSid(token, TokenUser);
    const std::vector<BYTE> defaultOwner = TokenSid(token, TokenOwner);
    owned = (!user.empty() &&
             ::EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid)) ||
            (!defaultOwner.empty() &&
             ::EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(defaultOwner.data())->Owner));
    ::CloseHandle(token);
  }
  ::LocalFree(descriptor);
  return owned;
}

// A handle of an object that was opened rather than created is kept only
// when the object is trusted.
HANDLE KeepIfTrusted(HANDLE object) {
  if (!object) {
    Fail(::GetLastError() == ERROR_FILE_NOT_FOUND ? SharedObjectError::kMissing
                                                  : SharedObjectError::kUnusable);
    return nullptr;
  }
  if (OwnedByUser(object)) return object;
  ::CloseHandle(object);
  Fail(SharedObjectError::kNotTrusted);
  return nullptr;
}

// A handle from a Create... call is kept only when the object is new.
HANDLE KeepIfNew(HANDLE object) {
  if (!object) {
    Fail(SharedObjectError::kUnusable);
    return nullptr;
  }
  if (::GetLastError() != ERROR_ALREADY_EXISTS) return object;
  ::CloseHandle(object);
  Fail(SharedObjectError::kExists);
  return nullptr;
}

bool MapArea(HANDLE mapping, std::size_t size, bool readOnly, SharedMemory* memory) {
  const DWORD access = readOnly ? FILE_MAP_READ : FILE_MAP_READ | FILE_MAP_WRITE;
  void* base = ::MapViewOfFileEx(mapping, access, 0, 0, size, nullptr);
  if (!base) return Fail(SharedObjectError::kUnusable);
  // A view of an existing mapping is as large as the mapping, rounded up to
  // whole pages; one that is too small is not one of ours.
  MEMORY_BASIC_INFORMATION info;
  if (::VirtualQuery(base, &info, sizeof info) == 0 || info.RegionSize < size) {
    ::UnmapViewOfFile(base);
    ::SetLastError(ERROR_INVALID_DATA);
    return Fail(SharedObjectError::kUnusable);
  }
  memory->base = static_cast<std::uint8_t*>(base);
  memory->size = size;
  memory->handle = reinterpret_cast<std::intptr_t>(mapping);
  memory->readOnly = readOnly;
  return true;
}

bool MapOrClose(HANDLE mapping, std::size_t size, bool readOnly, SharedMemory* memory) {
  if (MapArea(mapping, size, readOnly, memory)) return true;
  const DWORD error = ::GetLastError();
  ::CloseHandle(mapping);
  ::SetLastError(error);
  return false;
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

SharedObjectError LastSharedObjectError() { return t_error; }

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
  if (!mapping) return Fail(SharedObjectError::kUnusable);
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    *alreadyExisted = true;
    if (!KeepIfTrusted(mapping)) return false;
  }
  return MapOrClose(mapping, size, false, memory);
}

bool OpenSharedMemory(const char16_t* name, std::size_t size, SharedMemory* memory, bool readOnly) {
  *memory = SharedMemory();
  // READ_CONTROL: the owner is read through the handle.
  const DWORD access = readOnly ? FILE_MAP_READ : FILE_MAP_READ | FILE_MAP_WRITE;
  HANDLE mapping = KeepIfTrusted(::OpenFileMappingW(access | READ_CONTROL, FALSE, W(name)));
  if (!mapping) return false;
  return MapOrClose(mapping, size, readOnly, memory);
}

bool ReadSharedMemory(const SharedMemory& memory, std::size_t offset, void* out,
                      std::size_t count) {
  if (!memory.base || offset > memory.size || count > memory.size - offset) return false;
  std::memcpy(out, memory.base + offset, count);
  return true;
}

std::size_t SharedMemoryCurrentSize(const SharedMemory& memory) { return memory.size; }

void CloseSharedMemory(SharedMemory* memory) {
  if (memory->base) ::UnmapViewOfFile(memory->base);
  if (memory->handle != -1) ::CloseHandle(reinterpret_cast<HANDLE>(memory->handle));
  *memory = SharedMemory();
}

void RemoveSharedMemoryName(const char16_t*) {}

bool CreateSharedMutex(const char16_t* name, SyncObject* mutex) {
  mutex->native = KeepIfNew(::CreateMutexW(nullptr, FALSE, W(name)));
  return mutex->native != nullptr;
}

bool OpenSharedMutex(const char16_t* name, SyncObject* mutex) {
  mutex->native =
      KeepIfTrusted(::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL, FALSE, W(name)));
  return mutex->native != nullptr;
}

WaitResult WaitSharedMutex(SyncObject mutex, std::uint32_t milliseconds) {
  return Wait(Native(mutex), milliseconds);
}

namespace {

// A refused release is kept for LastError, as the caller says why.
bool Released(bool released) {
  if (!released) SetLastErrorCode(static_cast<ErrorCode>(::GetLastError()));
  return released;
}

}  // namespace

bool ReleaseSharedMutex(SyncObject mutex) {
  return Released(Native(mutex) && ::ReleaseMutex(Native(mutex)) != 0);
}

void RemoveSharedMutexName(const char16_t*) {}

bool CreateSharedSemaphore(const char16_t* name, std::uint32_t initial, std::uint32_t maximum,
                           SyncObject* semaphore) {
  semaphore->native = KeepIfNew(
      ::CreateSemaphoreW(nullptr, static_cast<LONG>(initial), static_cast<LONG>(maximum), W(name)));
  return semaphore->native != nullptr;
}

bool OpenSharedSemaphore(const char16_t* name, SyncObject* semaphore) {
  semaphore->native = KeepIfTrusted(
      ::OpenSemaphoreW(SYNCHRONIZE | SEMAPHORE_MODIFY_STATE | READ_CONTROL, FALSE, W(name)));
  return semaphore->native != nullptr;
}

WaitResult WaitSharedSemaphore(SyncObject semaphore, std::uint32_t milliseconds) {
  return Wait(Native(semaphore), milliseconds);
}

bool ReleaseSharedSemaphore(SyncObject semaphore, std::uint32_t count) {
  return Released(Native(semaphore) &&
                  ::ReleaseSemaphore(Native(semaphore), static_cast<LONG>(count), nullptr) != 0);
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
