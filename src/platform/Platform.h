#pragma once
// The one seam between Ordana and the operating system.
//
// Everything outside src/platform/ reaches the operating system only through
// this header. Names and numeric constants follow the Windows services the
// program was designed around (handles, GENERIC_* access masks, creation
// dispositions, FILETIME); each backend maps them onto its own system calls.
// Text crosses the seam as UTF-16 (char16_t); a backend converts to and from
// its native form. On POSIX a file name byte that is not valid UTF-8 travels
// as a lone surrogate U+DC80..U+DCFF so that every name round-trips exactly.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ordana::platform {

// ---- Handles -------------------------------------------------------------

// An open file, device or standard stream. Two values are reserved:
// kNullHandle (nothing open) and kInvalidHandle (an open that failed).
using Handle = std::intptr_t;
extern const Handle kNullHandle;
extern const Handle kInvalidHandle;

// What the clean-up table (at the end of this header) removes when the
// process ends early.
enum class CleanupKind : std::uint8_t {
  kFile,          // a file: `name` relative to `directory` (see RegisterCleanup)
  kSharedMemory,  // names as given to CreateSharedMemory and the like
  kSharedMutex,
  kSharedSemaphore,
};
using CleanupToken = int;
constexpr CleanupToken kNoCleanup = -1;

// ---- Error codes ---------------------------------------------------------

// Error codes are kept as the backend reports them (errno on POSIX, the
// GetLastError value on Windows). The few the program branches on are
// classified here.
using ErrorCode = std::uint32_t;
enum class ErrorClass { kNone, kFileNotFound, kPathNotFound, kOther };
ErrorClass ClassifyError(ErrorCode code);
// The system's text for an error, without a trailing line end.
std::u16string ErrorText(ErrorCode code);
// The error of the most recent failing call made through this header on
// this thread.
ErrorCode LastError();

// ---- Files and devices ---------------------------------------------------

constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kFileShareRead = 1;
constexpr std::uint32_t kFileShareWrite = 2;
constexpr std::uint32_t kFileAttributeNormal = 0x80;
constexpr std::uint32_t kFileFlagSequentialScan = 0x08000000u;
// Access for appending only: every write goes to the end of the file as it
// is at that moment, so writes of several processes never overwrite each
// other (O_APPEND on POSIX, FILE_APPEND_DATA on Windows).
constexpr std::uint32_t kFileAppendData = 0x0004;

enum Disposition : std::uint32_t {
  kCreateNew = 1,
  kCreateAlways = 2,
  kOpenExisting = 3,
  kOpenAlways = 4,
  kTruncateExisting = 5,
};

// Opens or creates a file. Returns kInvalidHandle on failure (see LastError).
// A directory is never opened as a file.
[[nodiscard]] Handle OpenFile(const char16_t* path, std::uint32_t disposition, std::uint32_t access,
                              std::uint32_t share, std::uint32_t flags);
// Closes a handle; closing kNullHandle or kInvalidHandle does nothing.
// False when the system reported an error on closing (see LastError).
[[nodiscard]] bool CloseHandle(Handle handle);
// One read or write call; false on failure (see LastError). A read of 0 bytes
// with a true result is the end of the input.
[[nodiscard]] bool ReadFile(Handle handle, void* data, std::uint32_t size, std::uint32_t* done);
[[nodiscard]] bool WriteFile(Handle handle, const void* data, std::uint32_t size,
                             std::uint32_t* done);
[[nodiscard]] bool FlushFileBuffers(Handle handle);
[[nodiscard]] bool GetFileSize(Handle handle, std::uint64_t* size);
// Moves the file position; origin 0 = begin, 1 = current, 2 = end.
[[nodiscard]] bool SetFilePointer(Handle handle, std::int64_t distance, int origin,
                                  std::uint64_t* newPosition);
[[nodiscard]] bool SetEndOfFile(Handle handle);
// Takes an exclusive advisory lock that other processes taking it on the
// same file wait for (flock on POSIX, LockFileEx on a byte far beyond any
// data on Windows, so that reads and writes are not blocked); false when the
// system refuses. UnlockFile gives it back.
[[nodiscard]] bool LockFile(Handle handle);
void UnlockFile(Handle handle);
[[nodiscard]] bool DeleteFile(const char16_t* path);
// True when both paths name the same existing file (after following links).
bool IsSameFile(const char16_t* a, const char16_t* b);
bool IsDirectory(const char16_t* path);
// True when something (a file, directory, device or link, even a dangling
// one) stands under `path`.
bool PathExists(const char16_t* path);
// Opens an existing file for reading only when it is a regular file, and
// stores its size. Never waits: a FIFO is opened without blocking and
// refused like every other special file (and a directory); then the result
// is kInvalidHandle and `*notRegular` is true. Other failures leave
// `*notRegular` false (see LastError).
[[nodiscard]] Handle OpenRegularFileForReading(const char16_t* path, std::uint64_t* size,
                                               bool* notRegular);
[[nodiscard]] bool CreateDirectory(const char16_t* path);

struct DirectoryEntry {
  std::u16string name;
  bool isDirectory;      // a real directory, not a link to one
  bool linkToDirectory;  // a symbolic link to a directory: neither file nor walked
};
// Lists the entries of a directory except "." and "..", in the order the
// file system delivers them. On failure returns false and sets `error`
// (LastError holds the code): kPathNotFound when the directory does not
// exist.
[[nodiscard]] bool ListDirectory(const char16_t* path, std::vector<DirectoryEntry>* entries,
                                 ErrorClass* error);
// Matches a file name against a pattern of '*' and '?' without regard to
// case; "*.*" matches every name, with or without a dot.
bool MatchPathSpec(const char16_t* name, const char16_t* pattern);

// ---- What a path names: devices, links, file identity ----------------------

// Open flags of our own, beside the Windows ones above (never passed on to
// the system): refuse anything but a regular file, without ever blocking in
// the open (a FIFO without a writer), and refuse a symbolic link (a Windows
// reparse point) as the last part of the path.
constexpr std::uint32_t kOpenRegularFileOnly = 0x00010000u;
constexpr std::uint32_t kOpenNoFollow = 0x00020000u;
// True for the error of an open with these flags that met something other
// than a regular file (or a link where none may be).
bool FileIsNotRegular(ErrorCode code);
// True for the error of a write into a pipe whose reader has gone.
bool IsBrokenPipe(ErrorCode code);

// A file under any of its names: device and inode on POSIX, volume serial
// number and file index on Windows; besides, what tells whether an open
// file changed while it was read.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  std::uint64_t size = 0;
  std::int64_t modified = 0;  // nanoseconds (POSIX) or FILETIME units (Windows)
  std::uint32_t mode = 0;     // permission bits (POSIX); attributes (Windows)
  std::uint32_t owner = 0;    // user and group (POSIX only)
  std::uint32_t group = 0;
  bool regular = false;  // a regular file (not a directory, FIFO, socket, device)
  bool deleted = false;  // no name refers to it any more
  // The same file, whatever it holds now.
  bool operator==(const FileIdentity& other) const {
    return device == other.device && index == other.index;
  }
};
// Fills every field; false for a handle that is no disk file on Windows.
[[nodiscard]] bool GetFileIdentity(Handle handle, FileIdentity* identity);

enum class PathType {
  kMissing,  // nothing, or a symbolic link to nothing
  kFile,     // a regular file
  kDirectory,
  kDevice,  // a FIFO, socket, character or block device (Windows: not a disk file)
};
struct PathInfo {
  PathType type = PathType::kMissing;  // what the path names, links followed
  bool isLink = false;                 // the last part is a symbolic link (reparse point)
  // A link that, like every link it leads through and the file it ends at
  // (if any), belongs to the user the program runs as. Windows cannot tell:
  // false.
  bool linkOwnedByUser = false;
  FileIdentity identity;  // of what the path names, when it names something
};
// False when nothing at all stands under `path` (not even a dangling link).
[[nodiscard]] bool InspectPath(const char16_t* path, PathInfo* info);

// The process's own standard streams under a file name: on POSIX
// /dev/stdin and /dev/fd/0 are the standard input, /dev/stdout and
// /dev/fd/1 the standard output. They are never opened by name (that would
// truncate a redirected file). Windows has no such names.
enum class StandardStream { kNone, kInput, kOutput };
StandardStream StandardStreamOf(const char16_t* path);

// The path of the file that a symbolic link at the last part of `path`
// points to, links to links followed; `path` itself when it is no link
// (always on Windows).
std::u16string FollowFinalLink(const std::u16string& path);

// A file that is written beside the file it is to replace, under a
// temporary name, and takes that file's place only when it is complete.
// It stays open from its exclusive creation to the rename and is never
// opened by name again, so nobody can slip another file or a link under it.
struct ReplacementFile {
  Handle handle = kNullHandle;     // open for reading and writing
  Handle directory = kNullHandle;  // POSIX: the open directory both names are in
  std::u16string path;             // the temporary's full path
  std::u16string directoryPath;
  std::u16string targetName;  // last part of the file it replaces
  CleanupToken cleanup = kNoCleanup;
};
// Creates "odnXXXX.tmp" exclusively beside `target` (beside the file a
// symbolic link at `target` points to: the link stays and its file is
// replaced) and registers it for clean-up. With `targetMustBeWritable`, an
// existing target that the user may not write is refused (permission
// denied), as opening it for writing would be.
[[nodiscard]] bool CreateReplacementFile(const char16_t* target, bool targetMustBeWritable,
                                         ReplacementFile* file);

enum class CommitResult {
  kCommitted,
  kFailed,         // see LastError; the temporary is still there
  kTargetDeleted,  // the file to replace no longer exists
  kTargetChanged,  // its name, the temporary's or the directory now refers to another object
};
// Puts the temporary in the target's place: gives it the permission bits
// (and, where allowed, the owner) of the file it replaces, or those of a new
// file when there is none; forces it onto the disk when it replaces a file;
// checks that the directory is still the one at its path, that the
// temporary's name still names it and, with `expected`, that the target's
// name still names that file; then renames it relative to the open
// directory and closes it. Whatever the result, the caller discards what was
// not committed.
[[nodiscard]] CommitResult CommitReplacementFile(ReplacementFile* file,
                                                 const FileIdentity* expected);
// Closes the temporary and removes it (only while its name still names it).
void DiscardReplacementFile(ReplacementFile* file);

// Creates an empty file "<prefix>XXXX.tmp" (hexadecimal digits) in
// `directory`, exclusively, and stores its path. False on failure.
[[nodiscard]] bool CreateTempFile(const char16_t* directory, const char16_t* prefix,
                                  std::u16string* path);

// ---- Standard handles and the console -------------------------------------

// Makes sure the three standard streams are open: one that was closed when
// the program started is opened on the null device, so that no file the
// program opens later takes its number and receives messages or converted
// text meant for a standard stream.
void ReserveStandardStreams();

Handle GetStandardInput();
// The process's current standard output handle (the message log may point
// it at a log file).
Handle GetStandardOutput();
void SetStandardOutput(Handle handle);
// The standard output the process was started with, whatever
// SetStandardOutput has made of the current one: converted text for the
// console device goes here, never into a log file.
Handle GetProcessStandardOutput();
// The standard error handle (messages that must stay out of a standard
// output that carries converted text).
Handle GetStandardError();
// Sets the console code pages; a no-op where there is no such thing.
void SetConsoleCodePages(std::uint32_t codePage);

enum class OutputKind {
  kDiskFile,  // receives UTF-16LE bytes
  kConsole,   // receives text through WriteConsole
  kUnusable,  // closed or otherwise not writable
};
OutputKind QueryOutputKind(Handle handle);
// Writes text to a console: WriteConsoleW on Windows, UTF-8 bytes on POSIX.
[[nodiscard]] bool WriteConsole(Handle handle, const char16_t* text, std::size_t count);
// Reads one byte from the standard input; -1 at the end of the input.
int ReadStandardInputChar();
// True when the standard input is a terminal (a console), not a pipe or file.
bool StandardInputIsTerminal();

// ---- Memory regions --------------------------------------------------------

// Reserves `reserveSize` bytes of address space and makes the first
// `commitSize` usable at once; later pages become usable on first touch.
// The page after the reservation is never accessible, so a write past the
// reservation faults at once instead of corrupting a neighbour.
struct MemoryRegion {
  std::uint8_t* base = nullptr;
  std::size_t reserveSize = 0;
  // Bytes from base known to be usable: CommitRange asks the system only
  // for what lies beyond (the Windows backend; POSIX pages need no call).
  std::size_t committed = 0;
  void* registration = nullptr;  // backend bookkeeping (the fault handler)
};
[[nodiscard]] bool ReserveRegion(std::size_t reserveSize, std::size_t commitSize,
                                 MemoryRegion* region);
// Makes [address, address + size) usable, within a reserved region.
[[nodiscard]] bool CommitRange(MemoryRegion* region, std::size_t offset, std::size_t size);
void ReleaseRegion(MemoryRegion* region);

// ---- Time and process ---------------------------------------------------

struct SystemTime {
  std::uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};
SystemTime GetSystemTimeUtc();
// 100-ns units since 1601-01-01 UTC.
std::uint64_t GetSystemTimeAsFileTime();
// Milliseconds since an arbitrary start; wraps around after 49.7 days.
std::uint32_t GetTickCount();
std::uint32_t GetCurrentProcessId();

// ---- Resources ----------------------------------------------------------

// The language the user interface should speak: 1031 (German) or 1033
// (English).
std::uint16_t UserInterfaceLanguage();
// The four 16-bit parts of the program's product version as two 32-bit
// words (major << 16 | minor, build << 16 | revision). False on failure.
[[nodiscard]] bool GetOwnProductVersion(std::uint32_t* mostSignificant,
                                        std::uint32_t* leastSignificant);
// The text of string resource `id` of the program's own module, as
// LoadStringW picks it for the user's interface language; null when the
// module has no such string (always on POSIX, which has no resources: the
// compiled-in string table serves).
const char16_t* LoadStringResource(std::uint32_t id);

// ---- The command line ------------------------------------------------------

// The process's command line as it reaches the program. On POSIX the shell
// has split and unquoted it already: `tokens` is argv, converted to UTF-16.
// Windows hands over one string (GetCommandLineW), which the program splits
// itself with its own splitter: `split` is false and `text` holds it.
struct ProcessCommandLine {
  bool split = false;
  std::vector<std::u16string> tokens;
  std::u16string text;
};
ProcessCommandLine ReadProcessCommandLine(int argc, char** argv);

// Whether the shell has expanded wildcards before the program runs: a POSIX
// shell turns an unquoted `*.txt` into every matching name, so more paths
// than a conversion takes can only have come from such a pattern. The
// Windows shell passes patterns on as they are.
constexpr bool kShellExpandsWildcards =
#ifdef _WIN32
    false;
#else
    true;
#endif

// True for a name in another system's device namespace that means nothing
// here: on POSIX a Windows pipe name (\\.\pipe\NAME), which taken as a file
// name would become a regular file of that name in the current directory.
// Always false on Windows, where such a name is the device it names.
bool NamesForeignDevice(const char16_t* path);

// ---- Paths --------------------------------------------------------------

constexpr char16_t kPathSeparator =
#ifdef _WIN32
    u'\\';
#else
    u'/';
#endif

// The conventions of a POSIX command-line tool: "--" ends the options, GNU
// spellings ("-f", "--from=") and "-" for standard input and output; messages
// go to standard error and every text for people (messages, the log file,
// help, listings) is UTF-8 with LF line ends, so that standard output
// carries only what the user asked to see. The Windows build follows the
// Windows habits instead (messages on the standard output, UTF-16 and CR LF).
constexpr bool kPosixConventions =
#ifdef _WIN32
    false;
#else
    true;
#endif

// Yes/no questions take the English letters in every language, skip the
// line end of an answer and give up on a non-terminal input that keeps
// answering wrongly (POSIX); on Windows they keep the letters of the
// question and ask until they get one.
constexpr bool kLenientPrompts =
#ifdef _WIN32
    false;
#else
    true;
#endif

// The line end of text meant for people and scripts on this system.
constexpr const char16_t* kLineEnd =
#ifdef _WIN32
    u"\r\n";
#else
    u"\n";
#endif

// Expands %NAME% references to environment variables, as Windows does:
// an unknown name or a lone '%' is kept as written.
std::u16string ExpandEnvironmentStrings(const std::u16string& text);
// Makes a path absolute against the current directory and removes "." and
// ".." parts, without following symbolic links.
std::u16string QualifyPath(const std::u16string& path);
// The directory holding the running executable.
std::u16string ExecutableDirectory();
// Where an installed program keeps its data, relative to the directory
// holding the executable: `cmake --install` and the package put the
// programs into bin/ and their data into share/ordana/. Empty on Windows,
// where the data lives beside the executable only.
constexpr const char16_t* kInstalledDataDirectory =
#ifdef _WIN32
    u"";
#else
    u"../share/ordana";
#endif

// ---- Text conversion at the seam -----------------------------------------

// Native narrow text (UTF-8 on POSIX) to UTF-16 and back; see the header
// comment for how bytes that are not UTF-8 travel.
std::u16string FromNative(const char* text);
std::u16string FromNative(const char* text, std::size_t length);
std::string ToNative(const char16_t* text);
std::string ToNative(const char16_t* text, std::size_t length);

// ---- Named shared memory and synchronisation -------------------------------
//
// The objects behind the status channel, which other processes open by name:
// a shared memory area, a mutex and counting semaphores. Names are given
// without any prefix ("Quennel.Ordana.1A2B"); a backend adds what its system
// needs. Windows backs them with CreateFileMappingW/MapViewOfFileEx,
// CreateMutexW/OpenMutexW and CreateSemaphoreW/OpenSemaphoreW, and a name
// vanishes with its last handle. POSIX backs them with shm_open/mmap and
// named semaphores (/dev/shm/sem.NAME on Linux; the mutex is a semaphore of
// count 1), and a name stays until it is removed: whoever decides the
// lifetime calls the Remove...Name functions.
//
// Objects are created for the current user only. Anyone can create an object
// under a name first, so an existing object is used only when it is trusted:
// on POSIX it must be a regular file that belongs to the effective user and
// grants nothing to the group or to others (checked with fstat on the very
// object that is then used); Windows checks that the object's owner is the
// user. Create... functions create exclusively; an object already under the
// name is a failure (a leftover must be removed first).

// Why the last failing call of this section failed (on this thread).
enum class SharedObjectError {
  kNone,
  kMissing,     // nothing under the name
  kExists,      // a Create... call found an object under the name
  kNotTrusted,  // the object belongs to someone else or others may open it
  kUnusable,    // too small, or the system refused
};
SharedObjectError LastSharedObjectError();

// A mapped view of a named area; `base` is null when nothing is mapped.
struct SharedMemory {
  std::uint8_t* base = nullptr;
  std::size_t size = 0;
  std::intptr_t handle = -1;  // backend bookkeeping (a file descriptor, a mapping handle)
  bool readOnly = false;
};
// Creates the named area of `size` zero bytes, or opens it when it exists
// already and is trusted (then `*alreadyExisted` is true), and maps `size`
// bytes of it read/write. False on failure (see LastSharedObjectError); an
// existing area smaller than `size` is a failure.
[[nodiscard]] bool CreateSharedMemory(const char16_t* name, std::size_t size, SharedMemory* memory,
                                      bool* alreadyExisted);
// Opens and maps an existing, trusted area; false when there is none (or it
// is smaller than `size`). `readOnly` maps it for reading only: another
// process's area that this one only reads.
[[nodiscard]] bool OpenSharedMemory(const char16_t* name, std::size_t size, SharedMemory* memory,
                                    bool readOnly = false);
// Copies `count` bytes at `offset` of the area without touching the mapping
// where the object can shrink under it (POSIX: another process may truncate
// it, and touching a page beyond its end raises SIGBUS). False when the area
// is not that large (any more).
[[nodiscard]] bool ReadSharedMemory(const SharedMemory& memory, std::size_t offset, void* out,
                                    std::size_t count);
// The object's size now (it may have been truncated since it was mapped).
std::size_t SharedMemoryCurrentSize(const SharedMemory& memory);
// Unmaps and closes; the area lives on while others have it mapped.
void CloseSharedMemory(SharedMemory* memory);
// Removes the name, only when the object under it is trusted: nothing of
// another user is ever removed.
void RemoveSharedMemoryName(const char16_t* name);

// A named mutex or semaphore; `native` is null when nothing is open.
struct SyncObject {
  void* native = nullptr;
};
enum class WaitResult { kSignaled, kTimedOut, kFailed };
constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

// Creates the mutex, not owned, exclusively.
[[nodiscard]] bool CreateSharedMutex(const char16_t* name, SyncObject* mutex);
// Opens an existing, trusted mutex.
[[nodiscard]] bool OpenSharedMutex(const char16_t* name, SyncObject* mutex);
// Waits at most `milliseconds` (0: just try; kWaitForever: no limit). A mutex
// whose holder died counts as acquired where the system can tell (Windows);
// POSIX cannot, so callers bound their waits.
[[nodiscard]] WaitResult WaitSharedMutex(SyncObject mutex, std::uint32_t milliseconds);
// Releases a mutex; only ever after a wait that acquired it.
[[nodiscard]] bool ReleaseSharedMutex(SyncObject mutex);
void RemoveSharedMutexName(const char16_t* name);

// Creates the semaphore with `initial` of at most `maximum` counts,
// exclusively.
[[nodiscard]] bool CreateSharedSemaphore(const char16_t* name, std::uint32_t initial,
                                         std::uint32_t maximum, SyncObject* semaphore);
// Opens an existing, trusted semaphore, keeping its count.
[[nodiscard]] bool OpenSharedSemaphore(const char16_t* name, SyncObject* semaphore);
[[nodiscard]] WaitResult WaitSharedSemaphore(SyncObject semaphore, std::uint32_t milliseconds);
[[nodiscard]] bool ReleaseSharedSemaphore(SyncObject semaphore, std::uint32_t count);
void RemoveSharedSemaphoreName(const char16_t* name);

// Closes a mutex or semaphore handle; the object lives on while others have
// it open.
void CloseSyncObject(SyncObject* object);

// True while a process with this id exists (whoever it belongs to).
bool ProcessExists(std::uint32_t processId);

// ---- Clean-up when the process ends early -------------------------------------
//
// One table of what this process must not leave behind when it ends before
// its ordinary clean-up can run (a signal, the console closing, running out of
// memory): its temporary output file and the names of its status channel.
// Whoever creates such a thing registers it at once and withdraws the entry
// when the thing has been renamed or removed the ordinary way.
// Registering copies everything into fixed storage; RemoveRegisteredObjects
// allocates nothing and, on POSIX, makes only calls that are safe in a signal
// handler, so a handler may call it. Each entry is removed at most once.

// (CleanupKind and CleanupToken are declared with the handles above.)

// Registers `name` for removal. For a file, `directory` is the open
// directory the name is relative to (kNullHandle: the name is a full path)
// and `file` the open file itself: POSIX removes the name only while it
// still names that file; Windows deletes through the handle, which must have
// been opened with delete access. Returns kNoCleanup when the table is full
// or the name too long (nothing is registered then).
CleanupToken RegisterCleanup(CleanupKind kind, const char16_t* name, Handle directory = kNullHandle,
                             Handle file = kNullHandle);
// Withdraws an entry; kNoCleanup does nothing.
void WithdrawCleanup(CleanupToken token);
// Removes everything still registered and empties the table.
void RemoveRegisteredObjects();

// ---- Ending early: signals and the console -----------------------------------
//
// Installs the program's answers to being told to stop. POSIX: SIGINT,
// SIGTERM and SIGHUP remove what is registered (RemoveRegisteredObjects) and
// end the process with 128 + the signal number; SIGPIPE is ignored, so a
// write into a pipe whose reader has gone fails with an error the caller sees
// instead of killing the process. Windows: Ctrl+C and Ctrl+Break end with
// kExitInterrupted, closing the console window, logging off and shutting down
// with kExitHangUp, after the same removal.
constexpr int kExitInterrupted = 130;  // 128 + SIGINT
constexpr int kExitHangUp = 129;       // 128 + SIGHUP
void InstallTerminationHandlers();

}  // namespace ordana::platform
