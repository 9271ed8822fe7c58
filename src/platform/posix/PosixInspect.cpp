// POSIX backend of "what a path names": devices told apart from files by
// what they are (never by their name), symbolic links and who owns them,
// and file identities.

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace ordana::platform {

namespace {

PathType TypeOf(const struct stat& info) {
  if (S_ISREG(info.st_mode)) return PathType::kFile;
  if (S_ISDIR(info.st_mode)) return PathType::kDirectory;
  return PathType::kDevice;
}

std::string DirectoryPart(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// True when every symbolic link met from `path` on (the last part, link
// after link) belongs to `user`. A link that someone else planted, or that
// leads through someone else's link, is not the user's to follow.
bool LinkChainOwnedBy(const std::string& path, uid_t user) {
  std::string current = path;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat info;
    // Where the chain runs out (a link to nothing) it has ended.
    if (::lstat(current.c_str(), &info) != 0) return depth > 0;
    if (!S_ISLNK(info.st_mode)) return true;
    if (info.st_uid != user) return false;
    std::vector<char> target(PATH_MAX + 1);
    const ssize_t n = ::readlink(current.c_str(), target.data(), PATH_MAX);
    if (n <= 0) return false;
    const std::string next(target.data(), static_cast<std::size_t>(n));
    current = next[0] == '/' ? next : DirectoryPart(current) + "/" + next;
  }
  return false;  // a loop, or deeper than the system follows
}

}  // namespace

bool GetFileIdentity(Handle handle, FileIdentity* identity) {
  *identity = FileIdentity();
  struct stat info;
  if (handle < 0 || ::fstat(static_cast<int>(handle), &info) != 0) return false;
  identity->device = static_cast<std::uint64_t>(info.st_dev);
  identity->index = static_cast<std::uint64_t>(info.st_ino);
  identity->size = static_cast<std::uint64_t>(info.st_size);
  identity->modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 +
                       static_cast<std::int64_t>(info.st_mtim.tv_nsec);
  identity->mode = static_cast<std::uint32_t>(info.st_mode & 07777);
  identity->owner = static_cast<std::uint32_t>(info.st_uid);
  identity->group = static_cast<std::uint32_t>(info.st_gid);
  identity->regular = S_ISREG(info.st_mode);
  identity->deleted = info.st_nlink == 0;
  return true;
}

bool InspectPath(const char16_t* path, PathInfo* info) {
  *info = PathInfo();
  const std::string native = ToNative(path);
  struct stat own;
  if (native.empty() || ::lstat(native.c_str(), &own) != 0) return false;
  struct stat named = own;
  info->isLink = S_ISLNK(own.st_mode);
  if (info->isLink) {
    const uid_t user = ::geteuid();
    if (::stat(native.c_str(), &named) != 0) {  // a link to nothing
      info->linkOwnedByUser = LinkChainOwnedBy(native, user);
      return true;
    }
    info->linkOwnedByUser = named.st_uid == user && LinkChainOwnedBy(native, user);
  }
  info->type = TypeOf(named);
  info->identity.device = static_cast<std::uint64_t>(named.st_dev);
  info->identity.index = static_cast<std::uint64_t>(named.st_ino);
  return true;
}

StandardStream StandardStreamOf(const char16_t* path) {
  const std::string native = ToNative(path);
  static const char* const kInputs[] = {"/dev/stdin", "/dev/fd/0", "/proc/self/fd/0"};
  static const char* const kOutputs[] = {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"};
  for (const char* name : kInputs) {
    if (native == name) return StandardStream::kInput;
  }
  for (const char* name : kOutputs) {
    if (native == name) return StandardStream::kOutput;
  }
  return StandardStream::kNone;
}

}  // namespace ordana::platform
