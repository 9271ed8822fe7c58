// POSIX backend of the platform seam (Linux first; nothing here is
// Linux-only except /proc/self/exe).

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <type_traits>
#include <vector>

#include "Version.h"
#include "platform/Platform.h"
#include "platform/Utf8.h"
#include "platform/posix/PosixInternal.h"

namespace ordana::platform {

const Handle kNullHandle = -1;
const Handle kInvalidHandle = -2;

namespace {

thread_local ErrorCode t_lastError = 0;
Handle g_standardOutput = STDOUT_FILENO;

bool Fail() {
  t_lastError = static_cast<ErrorCode>(errno);
  return false;
}

bool IsOpenHandle(Handle handle) { return handle >= 0; }

int Fd(Handle handle) { return static_cast<int>(handle); }

}  // namespace

std::string DirectoryOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Follows symbolic links at `path` (the last part only, repeatedly) so that
// a replacement lands on the file a link points to and the link survives.
std::string ResolveFinalLink(const std::string& path) {
  std::string current = path;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat info;
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    std::vector<char> target(PATH_MAX + 1);
    ssize_t n = ::readlink(current.c_str(), target.data(), PATH_MAX);
    if (n < 0) return current;
    std::string next(target.data(), static_cast<std::size_t>(n));
    current = next[0] == '/' ? next : DirectoryOf(current) + "/" + next;
  }
  return current;
}

void SetLastErrorCode(ErrorCode code) { t_lastError = code; }

// ---- Errors ----------------------------------------------------------------

ErrorClass ClassifyError(ErrorCode code) {
  switch (code) {
    case 0:
      return ErrorClass::kNone;
    case ENOENT:
      return ErrorClass::kFileNotFound;
    case ENOTDIR:
      return ErrorClass::kPathNotFound;
    default:
      return ErrorClass::kOther;
  }
}

// Our own code for "not a regular file", outside the range of errno values.
constexpr ErrorCode kNotRegularFile = 0x20000001u;

bool FileIsNotRegular(ErrorCode code) { return code == kNotRegularFile; }
bool IsBrokenPipe(ErrorCode code) { return code == EPIPE; }

std::u16string ErrorText(ErrorCode code) {
  if (code == kNotRegularFile) return u"Not a regular file";
  char text[256];
  // The GNU and the XSI strerror_r differ in their result; both are handled.
  auto result = ::strerror_r(static_cast<int>(code), text, sizeof text);
  const char* message = text;
  if constexpr (std::is_same_v<decltype(result), char*>) message = result;
  return FromNative(message);
}

ErrorCode LastError() { return t_lastError; }

// ---- Files ----------------------------------------------------------------

namespace {

// The open(2) flags for CreateFile's disposition, access and flags; -1 for a
// disposition that does not exist.
int OpenFlags(std::uint32_t disposition, std::uint32_t access, std::uint32_t flags) {
  int mode = O_CLOEXEC;
  bool read = (access & kGenericRead) != 0;
  bool write = (access & (kGenericWrite | kFileAppendData)) != 0;
  mode |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  if (access & kFileAppendData) mode |= O_APPEND;
  switch (disposition) {
    case kCreateNew:
      mode |= O_CREAT | O_EXCL;
      break;
    case kCreateAlways:
      mode |= O_CREAT | O_TRUNC;
      break;
    case kOpenExisting:
      break;
    case kOpenAlways:
      mode |= O_CREAT;
      break;
    case kTruncateExisting:
      mode |= O_TRUNC;
      break;
    default:
      return -1;
  }
  // A file that must be regular is opened without waiting for a FIFO's
  // writer; the check after opening refuses it before anything reads.
  if (flags & kOpenRegularFileOnly) mode |= O_NONBLOCK;
  if (flags & kOpenNoFollow) mode |= O_NOFOLLOW;
  return mode;
}

// For a file opened with kOpenRegularFileOnly: 0 when it is a regular file,
// now blocking again; otherwise the error to report.
ErrorCode CheckRegularFile(int fd) {
  struct stat info;
  if (::fstat(fd, &info) != 0) return static_cast<ErrorCode>(errno);
  if (!S_ISREG(info.st_mode)) return kNotRegularFile;
  if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    return static_cast<ErrorCode>(errno);
  }
  return 0;
}

}  // namespace

Handle OpenFile(const char16_t* path, std::uint32_t disposition, std::uint32_t access,
                std::uint32_t /*share: POSIX has no share modes*/, std::uint32_t flags) {
  const int mode = OpenFlags(disposition, access, flags);
  if (mode < 0) {
    errno = EINVAL;
    Fail();
    return kInvalidHandle;
  }
  std::string native = ToNative(path);
  // A directory is not a file: refuse it before O_TRUNC or O_CREAT could
  // matter, as CreateFile does.
  struct stat info;
  if (::stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    Fail();
    return kInvalidHandle;
  }
  int fd;
  do {
    fd = ::open(native.c_str(), mode, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    // O_NOFOLLOW met a symbolic link.
    const bool link = (flags & kOpenNoFollow) != 0 && errno == ELOOP;
    t_lastError = link ? kNotRegularFile : static_cast<ErrorCode>(errno);
    return kInvalidHandle;
  }
  if ((flags & kOpenRegularFileOnly) != 0) {
    if (const ErrorCode code = CheckRegularFile(fd); code != 0) {
      ::close(fd);
      t_lastError = code;
      return kInvalidHandle;
    }
  }
#ifdef POSIX_FADV_SEQUENTIAL
  if (flags & kFileFlagSequentialScan) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return fd;
}

Handle OpenRegularFileForReading(const char16_t* path, std::uint64_t* size, bool* notRegular) {
  *size = 0;
  *notRegular = false;
  std::string native = ToNative(path);
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  int fd;
  do {
    fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    Fail();
    return kInvalidHandle;
  }
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    Fail();
    ::close(fd);
    return kInvalidHandle;
  }
  if (!S_ISREG(info.st_mode)) {
    *notRegular = true;
    ::close(fd);
    errno = EINVAL;
    Fail();
    return kInvalidHandle;
  }
  // Reads of a regular file never block; the flag is cleared all the same so
  // the handle behaves like any other.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  *size = static_cast<std::uint64_t>(info.st_size);
  return fd;
}

bool CloseHandle(Handle handle) {
  if (!IsOpenHandle(handle)) return true;
  // Linux releases the descriptor even when close fails; never retry it.
  return ::close(Fd(handle)) == 0 || errno == EINTR || Fail();
}

bool ReadFile(Handle handle, void* data, std::uint32_t size, std::uint32_t* done) {
  *done = 0;
  if (!IsOpenHandle(handle)) {
    errno = EBADF;
    return Fail();
  }
  ssize_t n;
  do {
    n = ::read(Fd(handle), data, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return Fail();
  *done = static_cast<std::uint32_t>(n);
  return true;
}

bool WriteFile(Handle handle, const void* data, std::uint32_t size, std::uint32_t* done) {
  *done = 0;
  if (!IsOpenHandle(handle)) {
    errno = EBADF;
    return Fail();
  }
  // A blocking WriteFile writes everything; write(2) may stop early on pipes.
  const char* bytes = static_cast<const char*>(data);
  while (*done < size) {
    ssize_t n = ::write(Fd(handle), bytes + *done, size - *done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail();
    }
    *done += static_cast<std::uint32_t>(n);
  }
  return true;
}

bool FlushFileBuffers(Handle handle) {
  if (!IsOpenHandle(handle)) {
    errno = EBADF;
    return Fail();
  }
  if (::fsync(Fd(handle)) == 0) return true;
  // Pipes, terminals and read-only media have nothing to flush.
  if (errno == EINVAL || errno == EROFS || errno == ENOTSUP || errno == EBADF) return true;
  return Fail();
}

bool GetFileSize(Handle handle, std::uint64_t* size) {
  *size = 0;
  struct stat info;
  if (!IsOpenHandle(handle)) {
    errno = EBADF;
    return Fail();
  }
  if (::fstat(Fd(handle), &info) != 0) return Fail();
  if (!S_ISREG(info.st_mode)) {
    // Pipes, terminals and other devices have no size.
    errno = ESPIPE;
    return Fail();
  }
  *size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool SetFilePointer(Handle handle, std::int64_t distance, int origin, std::uint64_t* newPosition) {
  if (newPosition) *newPosition = 0;
  int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
  if (!IsOpenHandle(handle)) {
    errno = EBADF;
    return Fail();
  }
  off_t result = ::lseek(Fd(handle), static_cast<off_t>(distance), whence);
  if (result < 0) return Fail();
  if (newPosition) *newPosition = static_cast<std::uint64_t>(result);
  return true;
}

bool SetEndOfFile(Handle handle) {
  off_t position = ::lseek(Fd(handle), 0, SEEK_CUR);
  if (position < 0) return Fail();
  return ::ftruncate(Fd(handle), position) == 0 || Fail();
}

bool DeleteFile(const char16_t* path) { return ::unlink(ToNative(path).c_str()) == 0 || Fail(); }

bool IsSameFile(const char16_t* a, const char16_t* b) {
  struct stat first, second;
  if (::stat(ToNative(a).c_str(), &first) != 0) return false;
  if (::stat(ToNative(b).c_str(), &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool PathExists(const char16_t* path) {
  struct stat info;
  return ::lstat(ToNative(path).c_str(), &info) == 0;
}

bool IsDirectory(const char16_t* path) {
  struct stat info;
  return ::stat(ToNative(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool CreateDirectory(const char16_t* path) {
  return ::mkdir(ToNative(path).c_str(), 0777) == 0 || Fail();
}

bool ListDirectory(const char16_t* path, std::vector<DirectoryEntry>* entries, ErrorClass* error) {
  entries->clear();
  std::string native = ToNative(path);
  DIR* dir = ::opendir(native.c_str());
  if (!dir) {
    Fail();
    *error = (errno == ENOENT || errno == ENOTDIR) ? ErrorClass::kPathNotFound : ErrorClass::kOther;
    return false;
  }
  const int dirFd = ::dirfd(dir);
  for (;;) {
    errno = 0;
    struct dirent* entry = ::readdir(dir);
    if (!entry) {
      // The end of the directory leaves errno alone; a failed read sets it,
      // and a list cut short must not pass for the whole directory.
      if (errno == 0) break;
      Fail();
      ::closedir(dir);
      entries->clear();
      *error = ErrorClass::kOther;
      return false;
    }
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    bool isDirectory = entry->d_type == DT_DIR;
    bool isLink = entry->d_type == DT_LNK;
    struct stat info;
    if (entry->d_type == DT_UNKNOWN && ::fstatat(dirFd, name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
      isDirectory = S_ISDIR(info.st_mode);
      isLink = S_ISLNK(info.st_mode);
    }
    // Following links to directories could walk in circles.
    bool linkToDirectory = isLink && ::fstatat(dirFd, name, &info, 0) == 0 && S_ISDIR(info.st_mode);
    entries->push_back({FromNative(name), isDirectory, linkToDirectory});
  }
  ::closedir(dir);
  *error = ErrorClass::kNone;
  return true;
}

bool MatchPathSpec(const char16_t* name, const char16_t* pattern) {
  if (pattern[0] == u'*' && pattern[1] == u'.' && pattern[2] == u'*' && pattern[3] == 0)
    return true;
  auto fold = [](char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
  };
  // Iterative match with one backtrack point for the last '*'.
  const char16_t* star = nullptr;
  const char16_t* resume = nullptr;
  while (*name) {
    if (*pattern == u'*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == u'?' || (*pattern && fold(*pattern) == fold(*name))) {
      ++pattern;
      ++name;
    } else if (star) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == u'*') ++pattern;
  return *pattern == 0;
}

bool CreateTempFile(const char16_t* directory, const char16_t* prefix, std::u16string* path) {
  static std::uint32_t counter = 0;
  if (counter == 0) {
    counter = (static_cast<std::uint32_t>(::getpid()) * 2654435761u) ^ GetTickCount();
  }
  std::string base = ToNative(directory);
  if (base.empty()) base = ".";
  if (base.back() != '/') base += '/';
  base += ToNative(prefix);
  for (int attempt = 0; attempt < 0x10000; ++attempt) {
    unsigned number = (counter++) & 0xFFFF;
    if (number == 0) continue;  // as GetTempFileName, never 0000
    char name[16];
    std::snprintf(name, sizeof name, "%04X.tmp", number);
    std::string candidate = base + name;
    int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      *path = FromNative(candidate.c_str());
      return true;
    }
    if (errno != EEXIST) return Fail();
  }
  errno = EEXIST;
  return Fail();
}

// ---- Standard handles --------------------------------------------------------

void ReserveStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() returns the lowest free number: this one.
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened != -1 && opened != fd) ::close(opened);
  }
}

Handle GetStandardInput() { return STDIN_FILENO; }
Handle GetStandardOutput() { return g_standardOutput; }
void SetStandardOutput(Handle handle) { g_standardOutput = handle; }
Handle GetProcessStandardOutput() { return STDOUT_FILENO; }
Handle GetStandardError() { return STDERR_FILENO; }
void SetConsoleCodePages(std::uint32_t) {}

OutputKind QueryOutputKind(Handle handle) {
  struct stat info;
  if (!IsOpenHandle(handle) || ::fstat(Fd(handle), &info) != 0) return OutputKind::kUnusable;
  return S_ISREG(info.st_mode) ? OutputKind::kDiskFile : OutputKind::kConsole;
}

bool WriteConsole(Handle handle, const char16_t* text, std::size_t count) {
  std::string bytes = ToNative(text, count);
  std::uint32_t done = 0;
  return WriteFile(handle, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &done);
}

int ReadStandardInputChar() {
  unsigned char c;
  for (;;) {
    ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n == 1) return c;
    if (n < 0 && errno == EINTR) continue;
    return -1;
  }
}

bool StandardInputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

// ---- Memory --------------------------------------------------------------------

bool ReserveRegion(std::size_t reserveSize, std::size_t commitSize, MemoryRegion* region) {
  (void)commitSize;  // the kernel commits pages on first touch
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  reserveSize = (reserveSize + page - 1) / page * page;
  void* base = ::mmap(nullptr, reserveSize + page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return Fail();
  // Everything but the last page becomes usable; that one stays a guard.
  if (::mprotect(base, reserveSize, PROT_READ | PROT_WRITE) != 0) {
    Fail();
    ::munmap(base, reserveSize + page);
    return false;
  }
  region->base = static_cast<std::uint8_t*>(base);
  region->reserveSize = reserveSize;
  region->registration = nullptr;
  return true;
}

bool CommitRange(MemoryRegion* region, std::size_t offset, std::size_t size) {
  return region->base != nullptr && offset + size <= region->reserveSize;
}

void ReleaseRegion(MemoryRegion* region) {
  if (!region->base) return;
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  ::munmap(region->base, region->reserveSize + page);
  region->base = nullptr;
  region->reserveSize = 0;
}

// ---- Time and process -------------------------------------------------------

SystemTime GetSystemTimeUtc() {
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  struct tm parts;
  ::gmtime_r(&now.tv_sec, &parts);
  SystemTime t;
  t.year = static_cast<std::uint16_t>(parts.tm_year + 1900);
  t.month = static_cast<std::uint16_t>(parts.tm_mon + 1);
  t.dayOfWeek = static_cast<std::uint16_t>(parts.tm_wday);
  t.day = static_cast<std::uint16_t>(parts.tm_mday);
  t.hour = static_cast<std::uint16_t>(parts.tm_hour);
  t.minute = static_cast<std::uint16_t>(parts.tm_min);
  t.second = static_cast<std::uint16_t>(parts.tm_sec);
  t.milliseconds = static_cast<std::uint16_t>(now.tv_nsec / 1000000);
  return t;
}

std::uint64_t GetSystemTimeAsFileTime() {
  // Seconds from 1601-01-01 to 1970-01-01.
  constexpr std::uint64_t kEpochDifference = 11644473600ull;
  struct timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return (static_cast<std::uint64_t>(now.tv_sec) + kEpochDifference) * 10000000ull +
         static_cast<std::uint64_t>(now.tv_nsec) / 100u;
}

std::uint32_t GetTickCount() {
  struct timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                     static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

std::uint32_t GetCurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

// ---- Resources -----------------------------------------------------------------

std::uint16_t UserInterfaceLanguage() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) {
      return (value[0] == 'd' && value[1] == 'e') ? 1031 : 1033;
    }
  }
  return 1033;
}

// No resources on POSIX: the compiled-in string table serves.
const char16_t* LoadStringResource(std::uint32_t) { return nullptr; }

// ---- The command line --------------------------------------------------------

ProcessCommandLine ReadProcessCommandLine(int argc, char** argv) {
  ProcessCommandLine line;
  line.split = true;
  line.tokens.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) line.tokens.push_back(FromNative(argv[i]));
  return line;
}

bool NamesForeignDevice(const char16_t* path) {
  static const char16_t kPipePrefix[] = u"\\\\.\\pipe\\";
  for (std::size_t k = 0; kPipePrefix[k] != 0; ++k) {
    char16_t unit = path[k];
    if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
    if (unit != kPipePrefix[k]) return false;
  }
  return true;
}

bool GetOwnProductVersion(std::uint32_t* mostSignificant, std::uint32_t* leastSignificant) {
  *mostSignificant = (ORDANA_VERSION_MAJOR << 16) | ORDANA_VERSION_MINOR;
  *leastSignificant = (ORDANA_VERSION_BUILD << 16) | ORDANA_VERSION_REVISION;
  return true;
}

// ---- Paths -----------------------------------------------------------------------

std::u16string ExpandEnvironmentStrings(const std::u16string& text) {
  std::u16string out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == u'%') {
      std::size_t close = text.find(u'%', i + 1);
      if (close != std::u16string::npos && close > i + 1) {
        std::string name = ToNative(text.data() + i + 1, close - i - 1);
        if (const char* value = std::getenv(name.c_str())) {
          out += FromNative(value);
          i = close + 1;
          continue;
        }
        // Unknown names stay as written, the closing '%' included, as on
        // Windows.
        out.append(text, i, close - i + 1);
        i = close + 1;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

std::u16string QualifyPath(const std::u16string& path) {
  std::u16string full;
  if (!path.empty() && path[0] == u'/') {
    full = path;
  } else {
    std::vector<char> cwd(PATH_MAX + 1);
    if (::getcwd(cwd.data(), cwd.size()) == nullptr) return path;
    full = FromNative(cwd.data()) + u"/" + path;
  }
  std::vector<std::u16string> parts;
  std::size_t start = 0;
  while (start <= full.size()) {
    std::size_t end = full.find(u'/', start);
    if (end == std::u16string::npos) end = full.size();
    std::u16string part = full.substr(start, end - start);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::u16string result;
  for (const auto& part : parts) result += u"/" + part;
  return result.empty() ? u"/" : result;
}

std::u16string ExecutableDirectory() {
  std::vector<char> target(PATH_MAX + 1);
  ssize_t n = ::readlink("/proc/self/exe", target.data(), PATH_MAX);
  if (n <= 0) return u".";
  return FromNative(DirectoryOf(std::string(target.data(), static_cast<std::size_t>(n))).c_str());
}

// ---- Text ----------------------------------------------------------------------------

std::u16string FromNative(const char* text) { return FromNative(text, std::strlen(text)); }

std::u16string FromNative(const char* text, std::size_t length) {
  std::u16string out;
  out.reserve(length);
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  std::size_t i = 0;
  while (i < length) {
    unsigned char b = s[i];
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      ++i;
      continue;
    }
    // One strict UTF-8 sequence; any other byte escapes on its own.
    char32_t cp = 0;
    const int used = DecodeUtf8Sequence(s + i, length - i, &cp);
    if (used <= 0) {
      out += static_cast<char16_t>(0xDC00 + b);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += static_cast<std::size_t>(used);
  }
  return out;
}

std::string ToNative(const char16_t* text) {
  std::size_t length = 0;
  while (text[length]) ++length;
  return ToNative(text, length);
}

std::string ToNative(const char16_t* text, std::size_t length) {
  std::string out;
  out.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (cp >= 0xDC80 && cp <= 0xDCFF) {
      out += static_cast<char>(cp - 0xDC00);  // an escaped byte goes back as it came
      continue;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace ordana::platform
