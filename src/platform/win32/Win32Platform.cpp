// Win32 backend of the platform seam: files, devices, the console, memory
// regions, time, resources and paths. Built with the mingw-w64 cross compiler;
// char16_t text goes to the W functions as wchar_t, which has the same size
// and representation on Windows.

#include <shlwapi.h>

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/Win32Headers.h"
#include "platform/win32/Win32Internal.h"

namespace ordana::platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the W functions take UTF-16 code units");

const Handle kNullHandle = 0;
const Handle kInvalidHandle = -1;  // INVALID_HANDLE_VALUE

namespace {

thread_local ErrorCode t_lastError = 0;

bool Fail() {
  t_lastError = ::GetLastError();
  return false;
}

const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
wchar_t* W(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
const char16_t* U(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }

HANDLE H(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
Handle FromHANDLE(HANDLE handle) { return reinterpret_cast<Handle>(handle); }

bool IsOpenHandle(Handle handle) { return handle != kNullHandle && handle != kInvalidHandle; }

// Only disk files have a size, a position worth flushing and a file
// identity; pipes, consoles and the NUL device answer such queries
// inconsistently between Windows versions (and Wine), so they are told
// apart up front.
bool IsDiskFile(Handle handle) { return ::GetFileType(H(handle)) == FILE_TYPE_DISK; }

bool IsConsole(Handle handle) {
  DWORD mode;
  return ::GetConsoleMode(H(handle), &mode) != 0;
}

std::size_t PageSize() {
  static std::size_t page = [] {
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return static_cast<std::size_t>(info.dwPageSize);
  }();
  return page;
}

// The allocation protection of every buffer reservation carries PAGE_GUARD:
// it marks the address space the fault handler may commit. The page behind a
// reservation is committed PAGE_NOACCESS, so the handler (which commits only
// reserved pages) leaves it alone and an overflow faults for real.
constexpr DWORD kReserveMarker = PAGE_GUARD | PAGE_READWRITE;

LONG CALLBACK CommitOnFirstTouch(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  // Windows reports the first touch of a reserved page as an access
  // violation; Wine reports it as a guard-page violation when the
  // reservation carries PAGE_GUARD. Both name the address the same way.
  const DWORD code = record->ExceptionCode;
  if ((code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_GUARD_PAGE) ||
      record->NumberParameters < 2) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  void* address = reinterpret_cast<void*>(record->ExceptionInformation[1]);
  MEMORY_BASIC_INFORMATION info;
  if (::VirtualQuery(address, &info, sizeof info) == 0) return EXCEPTION_CONTINUE_SEARCH;
  if ((info.AllocationProtect & PAGE_GUARD) == 0 || info.State != MEM_RESERVE) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const std::uintptr_t page = reinterpret_cast<std::uintptr_t>(address) & ~(PageSize() - 1);
  if (!::VirtualAlloc(reinterpret_cast<void*>(page), PageSize(), MEM_COMMIT, PAGE_READWRITE)) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  return EXCEPTION_CONTINUE_EXECUTION;
}

std::u16string ModulePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::u16string();
    if (n < buffer.size()) return std::u16string(U(buffer.data()), n);
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

// ---- Errors ----------------------------------------------------------------

ErrorClass ClassifyError(ErrorCode code) {
  switch (code) {
    case ERROR_SUCCESS:
      return ErrorClass::kNone;
    case ERROR_FILE_NOT_FOUND:
      return ErrorClass::kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
      return ErrorClass::kPathNotFound;
    default:
      return ErrorClass::kOther;
  }
}

bool FileIsNotRegular(ErrorCode code) { return code == kNotRegularFile; }
bool IsBrokenPipe(ErrorCode code) { return code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA; }

void SetLastErrorCode(ErrorCode code) { t_lastError = code; }

std::u16string ErrorText(ErrorCode code) {
  if (code == kNotRegularFile) return u"Not a regular file";
  wchar_t buffer[512];
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, buffer, 512, nullptr);
  std::u16string text(U(buffer), n);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) {
    text.pop_back();
  }
  if (text.empty()) {
    char16_t number[32];
    std::size_t length = 0;
    char digits[16];
    int count = 0;
    ErrorCode rest = code;
    do {
      digits[count++] = static_cast<char>('0' + rest % 10);
      rest /= 10;
    } while (rest);
    for (const char16_t* p = u"Error "; *p; ++p) number[length++] = *p;
    while (count) number[length++] = static_cast<char16_t>(digits[--count]);
    text.assign(number, length);
  }
  return text;
}

ErrorCode LastError() { return t_lastError; }

// ---- Files ----------------------------------------------------------------

Handle OpenFile(const char16_t* path, std::uint32_t disposition, std::uint32_t access,
                std::uint32_t share, std::uint32_t flags) {
  // Our own flags are not the system's; a reparse point is opened as itself
  // so that it can be refused.
  const std::uint32_t own = flags & (kOpenRegularFileOnly | kOpenNoFollow);
  flags &= ~own;
  if (own & kOpenNoFollow) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  // Without FILE_FLAG_BACKUP_SEMANTICS CreateFileW refuses a directory.
  HANDLE handle = ::CreateFileW(W(path), access, share, nullptr, disposition,
                                flags ? flags : FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    return kInvalidHandle;
  }
  if (own != 0) {
    BY_HANDLE_FILE_INFORMATION info;
    const bool disk = ::GetFileType(handle) == FILE_TYPE_DISK;
    const bool reparse = disk && ::GetFileInformationByHandle(handle, &info) &&
                         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (((own & kOpenRegularFileOnly) && !disk) || ((own & kOpenNoFollow) && reparse)) {
      ::CloseHandle(handle);
      t_lastError = kNotRegularFile;
      return kInvalidHandle;
    }
  }
  return FromHANDLE(handle);
}

Handle OpenRegularFileForReading(const char16_t* path, std::uint64_t* size, bool* notRegular) {
  *size = 0;
  *notRegular = false;
  // CreateFileW refuses a directory without FILE_FLAG_BACKUP_SEMANTICS; a
  // pipe or device it opens is refused below by its type.
  HANDLE handle = ::CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (::GetLastError() == ERROR_ACCESS_DENIED && IsDirectory(path)) *notRegular = true;
    Fail();
    return kInvalidHandle;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *notRegular = true;
    ::CloseHandle(handle);
    ::SetLastError(ERROR_INVALID_FUNCTION);
    Fail();
    return kInvalidHandle;
  }
  *size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return FromHANDLE(handle);
}

bool CloseHandle(Handle handle) {
  if (!IsOpenHandle(handle)) return true;
  return ::CloseHandle(H(handle)) != 0 || Fail();
}

bool ReadFile(Handle handle, void* data, std::uint32_t size, std::uint32_t* done) {
  *done = 0;
  DWORD n = 0;
  if (!::ReadFile(H(handle), data, size, &n, nullptr)) {
    // The writer of a pipe has gone: that is the end of the input.
    if (::GetLastError() == ERROR_BROKEN_PIPE) return true;
    return Fail();
  }
  *done = n;
  return true;
}

bool WriteFile(Handle handle, const void* data, std::uint32_t size, std::uint32_t* done) {
  *done = 0;
  const char* bytes = static_cast<const char*>(data);
  // A pipe may take less than asked for; the callers expect everything.
  while (*done < size) {
    DWORD n = 0;
    if (!::WriteFile(H(handle), bytes + *done, size - *done, &n, nullptr)) return Fail();
    if (n == 0) {
      ::SetLastError(ERROR_WRITE_FAULT);
      return Fail();
    }
    *done += n;
  }
  return true;
}

bool FlushFileBuffers(Handle handle) {
  // Pipes and consoles have nothing to flush (and report an error for it).
  if (IsOpenHandle(handle) && !IsDiskFile(handle)) return true;
  return ::FlushFileBuffers(H(handle)) != 0 || Fail();
}

bool GetFileSize(Handle handle, std::uint64_t* size) {
  *size = 0;
  if (!IsDiskFile(handle)) {
    ::SetLastError(ERROR_INVALID_FUNCTION);
    return Fail();
  }
  LARGE_INTEGER value;
  if (!::GetFileSizeEx(H(handle), &value)) return Fail();
  *size = static_cast<std::uint64_t>(value.QuadPart);
  return true;
}

bool SetFilePointer(Handle handle, std::int64_t distance, int origin, std::uint64_t* newPosition) {
  if (newPosition) *newPosition = 0;
  LARGE_INTEGER move;
  move.QuadPart = distance;
  LARGE_INTEGER result;
  const DWORD method = origin == 0 ? FILE_BEGIN : origin == 1 ? FILE_CURRENT : FILE_END;
  if (!::SetFilePointerEx(H(handle), move, &result, method)) return Fail();
  if (newPosition) *newPosition = static_cast<std::uint64_t>(result.QuadPart);
  return true;
}

bool SetEndOfFile(Handle handle) { return ::SetEndOfFile(H(handle)) != 0 || Fail(); }

bool DeleteFile(const char16_t* path) { return ::DeleteFileW(W(path)) != 0 || Fail(); }

bool IsSameFile(const char16_t* a, const char16_t* b) {
  // Volume serial number and file index identify a file under any spelling
  // of its path; backup semantics let directories be opened too.
  auto identify = [](const char16_t* path, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE handle =
        ::CreateFileW(W(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool ok = ::GetFileInformationByHandle(handle, info) != 0;
    ::CloseHandle(handle);
    return ok;
  };
  BY_HANDLE_FILE_INFORMATION first, second;
  if (!identify(a, &first) || !identify(b, &second)) return false;
  return first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

bool IsDirectory(const char16_t* path) {
  const DWORD attributes = ::GetFileAttributesW(W(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathExists(const char16_t* path) {
  return ::GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES;
}

bool CreateDirectory(const char16_t* path) {
  return ::CreateDirectoryW(W(path), nullptr) != 0 || Fail();
}

bool ListDirectory(const char16_t* path, std::vector<DirectoryEntry>* entries, ErrorClass* error) {
  entries->clear();
  std::u16string pattern = path;
  if (!pattern.empty() && pattern.back() != u'\\' && pattern.back() != u'/') pattern += u'\\';
  pattern += u'*';
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW(W(pattern.c_str()), &data);
  if (find == INVALID_HANDLE_VALUE) {
    Fail();
    // An empty drive root has not even "." and "..".
    if (t_lastError == ERROR_FILE_NOT_FOUND && IsDirectory(path)) {
      *error = ErrorClass::kNone;
      return true;
    }
    *error = (t_lastError == ERROR_FILE_NOT_FOUND || t_lastError == ERROR_PATH_NOT_FOUND ||
              t_lastError == ERROR_DIRECTORY)
                 ? ErrorClass::kPathNotFound
                 : ErrorClass::kOther;
    return false;
  }
  do {
    const wchar_t* name = data.cFileName;
    if (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))) continue;
    const bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A junction or a directory symbolic link: walking it could go in circles.
    const bool reparse = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entries->push_back({std::u16string(U(name)), directory && !reparse, directory && reparse});
  } while (::FindNextFileW(find, &data));
  const DWORD last = ::GetLastError();
  ::FindClose(find);
  if (last != ERROR_NO_MORE_FILES) {
    t_lastError = last;
    *error = ErrorClass::kOther;
    return false;
  }
  *error = ErrorClass::kNone;
  return true;
}

bool MatchPathSpec(const char16_t* name, const char16_t* pattern) {
  return ::PathMatchSpecW(W(name), W(pattern)) != FALSE;
}

bool CreateTempFile(const char16_t* directory, const char16_t* prefix, std::u16string* path) {
  wchar_t buffer[MAX_PATH];
  const char16_t* where = directory[0] ? directory : u".";
  if (::GetTempFileNameW(W(where), W(prefix), 0, buffer) == 0) return Fail();
  *path = U(buffer);
  return true;
}

// ---- Standard handles and the console ------------------------------------------

// A Windows process without a standard handle gets null from GetStdHandle,
// and files the program opens never take its place.
void ReserveStandardStreams() {}

Handle GetStandardInput() { return FromHANDLE(::GetStdHandle(STD_INPUT_HANDLE)); }
Handle GetStandardOutput() { return FromHANDLE(::GetStdHandle(STD_OUTPUT_HANDLE)); }
// The standard output as the process received it, taken before the first
// SetStandardOutput can change it.
HANDLE ProcessStandardOutput() {
  static const HANDLE original = ::GetStdHandle(STD_OUTPUT_HANDLE);
  return original;
}
void SetStandardOutput(Handle handle) {
  ProcessStandardOutput();
  ::SetStdHandle(STD_OUTPUT_HANDLE, H(handle));
}
Handle GetProcessStandardOutput() { return FromHANDLE(ProcessStandardOutput()); }
Handle GetStandardError() { return FromHANDLE(::GetStdHandle(STD_ERROR_HANDLE)); }

void SetConsoleCodePages(std::uint32_t codePage) {
  // Refused for code pages a console cannot use (1200 among them); the
  // console output goes through WriteConsoleW, which does not depend on it.
  ::SetConsoleCP(codePage);
  ::SetConsoleOutputCP(codePage);
}

OutputKind QueryOutputKind(Handle handle) {
  if (!IsOpenHandle(handle)) return OutputKind::kUnusable;
  const DWORD type = ::GetFileType(H(handle));
  // The file type, not GetFileInformationByHandle: Wine refuses the latter
  // for a standard handle that the shell redirected to a file.
  if (type == FILE_TYPE_DISK) return OutputKind::kDiskFile;
  // A console, a pipe or a character device such as NUL: text, not bytes.
  if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) return OutputKind::kConsole;
  return OutputKind::kUnusable;
}

bool WriteConsole(Handle handle, const char16_t* text, std::size_t count) {
  if (IsConsole(handle)) {
    // Large writes are split: old consoles refuse writes above 64 KiB.
    while (count > 0) {
      const DWORD part = count > 8192 ? 8192 : static_cast<DWORD>(count);
      DWORD written = 0;
      if (!::WriteConsoleW(H(handle), W(text), part, &written, nullptr) || written == 0) {
        return Fail();
      }
      text += written;
      count -= written;
    }
    return true;
  }
  // A pipe or a redirected character device receives UTF-8, the encoding
  // the programs reading a pipe expect today.
  const std::string bytes = ToNative(text, count);
  std::uint32_t done = 0;
  return WriteFile(handle, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &done);
}

int ReadStandardInputChar() {
  unsigned char c;
  DWORD n = 0;
  if (!::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), &c, 1, &n, nullptr) || n != 1) return -1;
  return c;
}

bool StandardInputIsTerminal() {
  return ::GetFileType(::GetStdHandle(STD_INPUT_HANDLE)) == FILE_TYPE_CHAR;
}

// ---- Memory regions ------------------------------------------------------------

bool ReserveRegion(std::size_t reserveSize, std::size_t commitSize, MemoryRegion* region) {
  const std::size_t page = PageSize();
  reserveSize = (reserveSize + page - 1) / page * page;
  if (commitSize > reserveSize) commitSize = reserveSize;
  auto* base = static_cast<std::uint8_t*>(
      ::VirtualAlloc(nullptr, reserveSize + page, MEM_RESERVE, kReserveMarker));
  if (!base) return Fail();
  if ((commitSize && !::VirtualAlloc(base, commitSize, MEM_COMMIT, PAGE_READWRITE)) ||
      !::VirtualAlloc(base + reserveSize, page, MEM_COMMIT, PAGE_NOACCESS)) {
    Fail();
    ::VirtualFree(base, 0, MEM_RELEASE);
    return false;
  }
  // Registered last, behind any handler of a debugger or runtime.
  void* registration = ::AddVectoredExceptionHandler(0, CommitOnFirstTouch);
  if (!registration) {
    Fail();
    ::VirtualFree(base, 0, MEM_RELEASE);
    return false;
  }
  region->base = base;
  region->reserveSize = reserveSize;
  region->committed = commitSize;
  region->registration = registration;
  return true;
}

bool CommitRange(MemoryRegion* region, std::size_t offset, std::size_t size) {
  if (!region->base || offset > region->reserveSize || size > region->reserveSize - offset) {
    return false;
  }
  // Buffers append behind their data again and again: a range inside the
  // committed front of the region needs no system call.
  const std::size_t end = offset + size;
  if (size == 0 || end <= region->committed) return true;
  const std::size_t from = offset > region->committed ? offset : region->committed;
  if (!::VirtualAlloc(region->base + from, end - from, MEM_COMMIT, PAGE_READWRITE)) return Fail();
  // Only a range that starts inside the committed front extends it; the
  // pages before a range further on may still be reserved only.
  if (from == region->committed) {
    const std::size_t page = PageSize();
    const std::size_t rounded = (end + page - 1) / page * page;
    region->committed = rounded < region->reserveSize ? rounded : region->reserveSize;
  }
  return true;
}

void ReleaseRegion(MemoryRegion* region) {
  if (region->registration) ::RemoveVectoredExceptionHandler(region->registration);
  if (region->base) ::VirtualFree(region->base, 0, MEM_RELEASE);
  *region = MemoryRegion();
}

// ---- Time and process -------------------------------------------------------

SystemTime GetSystemTimeUtc() {
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  return {now.wYear, now.wMonth,  now.wDayOfWeek, now.wDay,
          now.wHour, now.wMinute, now.wSecond,    now.wMilliseconds};
}

std::uint64_t GetSystemTimeAsFileTime() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

std::uint32_t GetTickCount() { return ::GetTickCount(); }

std::uint32_t GetCurrentProcessId() { return ::GetCurrentProcessId(); }

// ---- Resources -----------------------------------------------------------------

std::uint16_t UserInterfaceLanguage() {
  return PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_GERMAN ? 1031 : 1033;
}

const char16_t* LoadStringResource(std::uint32_t id) {
  // LoadStringW with a zero length hands out a pointer into the resource,
  // which is not terminated; the terminated copies live for the process.
  static std::unordered_map<std::uint32_t, std::u16string> loaded;
  auto found = loaded.find(id);
  if (found != loaded.end()) return found->second.c_str();
  const wchar_t* text = nullptr;
  const int length =
      ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<wchar_t*>(&text), 0);
  if (length <= 0 || !text) return nullptr;
  return loaded.emplace(id, std::u16string(U(text), static_cast<std::size_t>(length)))
      .first->second.c_str();
}

// ---- The command line --------------------------------------------------------

ProcessCommandLine ReadProcessCommandLine(int, char**) {
  // Windows hands over one string; the program's own splitter makes the
  // tokens (argv, split by the C runtime by other rules, is not used).
  ProcessCommandLine line;
  line.split = false;
  line.text = U(::GetCommandLineW());
  return line;
}

bool NamesForeignDevice(const char16_t*) { return false; }

bool GetOwnProductVersion(std::uint32_t* mostSignificant, std::uint32_t* leastSignificant) {
  *mostSignificant = 0;
  *leastSignificant = 0;
  const std::u16string module = ModulePath();
  if (module.empty()) return Fail();
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(W(module.c_str()), &ignored);
  if (size == 0) return Fail();
  std::vector<unsigned char> block(size);
  if (!::GetFileVersionInfoW(W(module.c_str()), 0, size, block.data())) return Fail();
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return Fail();
  }
  *mostSignificant = info->dwProductVersionMS;
  *leastSignificant = info->dwProductVersionLS;
  return true;
}

// ---- Paths -----------------------------------------------------------------------

std::u16string ExpandEnvironmentStrings(const std::u16string& text) {
  std::vector<wchar_t> buffer(text.size() + 256);
  for (;;) {
    const DWORD n = ::ExpandEnvironmentStringsW(W(text.c_str()), buffer.data(),
                                                static_cast<DWORD>(buffer.size()));
    if (n == 0) return text;
    if (n <= buffer.size()) return std::u16string(U(buffer.data()));
    buffer.resize(n);
  }
}

std::u16string QualifyPath(const std::u16string& path) {
  // GetFullPathNameW rather than PathSearchAndQualifyW: the latter searches
  // the PATH for a bare name, and a name that is not in the current
  // directory must not be found elsewhere.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetFullPathNameW(W(path.c_str()), static_cast<DWORD>(buffer.size()),
                                       buffer.data(), nullptr);
    if (n == 0) return path;
    if (n < buffer.size()) return std::u16string(U(buffer.data()), n);
    buffer.resize(n + 1);
  }
}

std::u16string ExecutableDirectory() {
  std::u16string module = ModulePath();
  const std::size_t slash = module.find_last_of(u"\\/");
  if (slash == std::u16string::npos) return u".";
  // "C:\ordana.exe" lives in "C:\", not in "C:".
  if (slash == 2 && module[1] == u':') return module.substr(0, 3);
  return module.substr(0, slash);
}

// ---- Text conversion at the seam -----------------------------------------------

// The narrow text of the seam is UTF-8 on Windows too: the tools write it to
// pipes and files, and it carries every character, unlike the ANSI code page.
std::u16string FromNative(const char* text) { return FromNative(text, std::strlen(text)); }

std::u16string FromNative(const char* text, std::size_t length) {
  if (length == 0) return std::u16string();
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0);
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(length), W(&out[0]), n);
  return out;
}

std::string ToNative(const char16_t* text) {
  std::size_t length = 0;
  while (text[length]) ++length;
  return ToNative(text, length);
}

std::string ToNative(const char16_t* text, std::size_t length) {
  if (length == 0) return std::string();
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, W(text), static_cast<int>(length), nullptr, 0,
                                      nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, W(text), static_cast<int>(length), &out[0], n, nullptr,
                        nullptr);
  return out;
}

}  // namespace ordana::platform
