#include "app/WalkRules.h"

#include <cstring>
#include <vector>

#include "app/CsvReport.h"
#include "app/Settings.h"
#include "codecs/CharsetRegistry.h"
#include "core/File.h"
#include "core/Format.h"
#include "core/MessageLog.h"
#include "core/StringTable.h"
#include "platform/Platform.h"

namespace ordana {

namespace {

constexpr std::uint32_t kStringSkippedDevice = 240;
constexpr std::uint32_t kStringSkippedRunFile = 241;
constexpr std::uint32_t kStringSkippedTemporary = 242;
constexpr std::uint32_t kStringSkippedCreatedDirectory = 243;
constexpr std::uint32_t kStringSkippedBinary = 244;
constexpr std::uint32_t kStringSkippedVersionControl = 245;
constexpr std::uint32_t kStringSkippedForeignLink = 246;
constexpr std::uint32_t kStringSkippedMessageFile = 450;
// The reasons kStringSkippedBinary names, by ContentKind.
constexpr std::uint32_t kStringContentNul = 253;
constexpr std::uint32_t kStringContentExecutable = 254;
constexpr std::uint32_t kStringContentImage = 255;
constexpr std::uint32_t kStringContentArchive = 256;
constexpr std::uint32_t kStringContentDocument = 257;

struct WalkState {
  // The source is read as UTF-16 or UTF-32: NUL bytes are its text.
  bool wideSource = false;
  std::vector<platform::FileIdentity> runFiles;
  // A standard error redirected into a file (`2> err.txt`), which receives
  // the messages on POSIX.
  std::vector<platform::FileIdentity> messageFiles;
  std::vector<platform::FileIdentity> createdDirectories;
};

WalkState& State() {
  static WalkState state;
  return state;
}

bool Contains(const std::vector<platform::FileIdentity>& set, const platform::FileIdentity& id) {
  for (const platform::FileIdentity& known : set) {
    if (known == id) return true;
  }
  return false;
}

bool StartsWith(const std::uint8_t* data, std::size_t size, const char* magic, std::size_t length) {
  return size >= length && std::memcmp(data, magic, length) == 0;
}

struct Magic {
  const char* bytes;
  std::size_t length;
  std::size_t offset;
  ContentKind kind;
};

// Signatures at the start of files that are never text, whatever bytes
// follow them.
const Magic kMagics[] = {
    {"\x7f"
     "ELF",
     4, 0, ContentKind::kExecutable},
    {"\xfe\xed\xfa\xce", 4, 0, ContentKind::kExecutable},  // Mach-O
    {"\xfe\xed\xfa\xcf", 4, 0, ContentKind::kExecutable},
    {"\xce\xfa\xed\xfe", 4, 0, ContentKind::kExecutable},
    {"\xcf\xfa\xed\xfe", 4, 0, ContentKind::kExecutable},
    {"\xca\xfe\xba\xbe", 4, 0, ContentKind::kExecutable},  // Java class, fat Mach-O
    {"\x89PNG\r\n\x1a\n", 8, 0, ContentKind::kImage},
    {"\xff\xd8\xff", 3, 0, ContentKind::kImage},  // JPEG
    {"GIF87a", 6, 0, ContentKind::kImage},
    {"GIF89a", 6, 0, ContentKind::kImage},
    {"II*\0", 4, 0, ContentKind::kImage},  // TIFF
    {"MM\0*", 4, 0, ContentKind::kImage},
    {"WEBP", 4, 8, ContentKind::kImage},  // behind "RIFF" and a size
    {"PK\x03\x04", 4, 0, ContentKind::kArchive},
    {"PK\x05\x06", 4, 0, ContentKind::kArchive},
    {"PK\x07\x08", 4, 0, ContentKind::kArchive},
    {"\x1f\x8b", 2, 0, ContentKind::kArchive},  // gzip
    {"\xfd"
     "7zXZ\0",
     6, 0, ContentKind::kArchive},
    {"7z\xbc\xaf\x27\x1c", 6, 0, ContentKind::kArchive},
    {"\x28\xb5\x2f\xfd", 4, 0, ContentKind::kArchive},  // zstd
    {"Rar!\x1a\x07", 6, 0, ContentKind::kArchive},
    {"%PDF-", 5, 0, ContentKind::kDocument},
};

// The zero patterns and byte order marks of UTF-16 and UTF-32 that the
// automatic detection reads: with them, NUL bytes are part of the text.
bool ZerosAreText(const std::uint8_t* b, std::size_t n) {
  if (n >= 2 && ((b[0] == 0xFE && b[1] == 0xFF) || (b[0] == 0xFF && b[1] == 0xFE))) return true;
  // Too short for the patterns: one UTF-16 character.
  if (n >= 2 && n < 4 && (b[0] == 0) != (b[1] == 0)) return true;
  if (n >= 4) {
    if (b[0] == 0 && b[1] == 0 && b[2] == 0xFE && b[3] == 0xFF) return true;
    if (b[0] != 0 && b[1] == 0 && b[2] != 0 && b[3] == 0) return true;
    if (b[0] == 0 && b[1] != 0 && b[2] == 0 && b[3] != 0) return true;
  }
  if (n >= 8) {
    auto w = [b](int k) { return b[2 * k] | (b[2 * k + 1] << 8); };
    if (w(0) != 0 && w(1) == 0 && w(2) != 0 && w(3) == 0) return true;
    if (w(0) == 0 && w(1) != 0 && w(2) == 0 && w(3) != 0) return true;
  }
  return false;
}

std::uint32_t ReasonText(ContentKind kind) {
  switch (kind) {
    case ContentKind::kExecutable:
      return kStringContentExecutable;
    case ContentKind::kImage:
      return kStringContentImage;
    case ContentKind::kArchive:
      return kStringContentArchive;
    case ContentKind::kDocument:
      return kStringContentDocument;
    default:
      return kStringContentNul;
  }
}

// Reads the first bytes of the file at `path`, opened with `flags`; false
// when it cannot be opened or read (the conversion then tells why).
bool ReadSample(const std::u16string& path, std::uint32_t flags,
                std::vector<std::uint8_t>* sample) {
  CFile file;
  if (!file.Open(path.c_str(), platform::kOpenExisting, platform::kGenericRead,
                 platform::kFileShareRead, flags)) {
    return false;
  }
  sample->resize(kContentSampleSize);
  std::size_t total = 0;
  while (total < sample->size()) {
    const std::uint32_t n =
        file.ReadBytes(sample->data() + total, static_cast<std::uint32_t>(sample->size() - total));
    if (n == 0) break;
    total += n;
  }
  sample->resize(total);
  return file.lastError() == 0;
}

}  // namespace

ContentKind ClassifyContent(const std::uint8_t* data, std::size_t size, bool nulsAreText) {
  for (const Magic& magic : kMagics) {
    if (size >= magic.offset &&
        StartsWith(data + magic.offset, size - magic.offset, magic.bytes, magic.length)) {
      if (magic.offset == 0 || StartsWith(data, size, "RIFF", 4)) return magic.kind;
    }
  }
  // bzip2: "BZh", the block size digit, then the block magic.
  if (size >= 10 && StartsWith(data, size, "BZh", 3) && data[3] >= '1' && data[3] <= '9' &&
      StartsWith(data + 4, size - 4, "1AY&SY", 6)) {
    return ContentKind::kArchive;
  }
  if (size > kContentSampleSize) size = kContentSampleSize;
  // An empty file is text (and memchr may not be handed the null pointer of
  // an empty sample).
  if (nulsAreText || size == 0 || std::memchr(data, 0, size) == nullptr ||
      ZerosAreText(data, size)) {
    return ContentKind::kText;
  }
  return ContentKind::kNulBytes;
}

bool IsTemporaryFileName(const std::u16string& name) {
  if (name.size() < 8 || name.size() > 11) return false;
  if (!StartsWithIgnoreCase(name.c_str(), u"odn")) return false;
  if (!EqualsIgnoreCase(name.c_str() + name.size() - 4, u".tmp")) return false;
  for (std::size_t k = 3; k + 4 < name.size(); ++k) {
    const char16_t c = ToUpperAscii(name[k]);
    if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) return false;
  }
  return true;
}

bool IsVersionControlDirectory(const std::u16string& name) {
  for (const char16_t* known : {u".git", u".hg", u".svn"}) {
    if (EqualsIgnoreCase(name.c_str(), known)) return true;
  }
  return false;
}

void BeginWalk() {
  WalkState& state = State();
  state = WalkState();
  char16_t name[kCharsetNameCapacity];
  std::memcpy(name, GetSettings().sourceCharsetName, sizeof name);
  const CharsetId source = CharsetFromName(name);
  state.wideSource = source >= kCharsetUtf16 && source <= kCharsetUtf32Be;
  platform::FileIdentity identity;
  const MessageLog* log = GetMessageLog();
  if (log && log->sink() && platform::GetFileIdentity(log->sink()->handle(), &identity)) {
    // A log file is the sink that carries time stamps; any other sink is
    // the console side, a file only when a standard stream was redirected.
    if (log->timestampPrefix()) {
      state.runFiles.push_back(identity);
    } else if (platform::kPosixConventions) {
      state.messageFiles.push_back(identity);
    }
  }
  platform::PathInfo info;
  if (const CsvReport* report = GetCsvReport();
      report && report->IsOpen() && platform::InspectPath(report->path().c_str(), &info)) {
    state.runFiles.push_back(info.identity);
  }
}

bool TakeWalkFile(const std::u16string& path, const std::u16string& name,
                  std::uint32_t* openFlags) {
  const Settings& settings = GetSettings();
  *openFlags = platform::kOpenRegularFileOnly;
  if (IsTemporaryFileName(name)) {
    LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringSkippedTemporary, path);
    return false;
  }
  platform::PathInfo info;
  // Gone since the listing: the conversion reports it.
  if (!platform::InspectPath(path.c_str(), &info)) return true;
  if (info.isLink) {
    // Only the user's own links are followed; the user's own link to
    // nothing goes on to the conversion, which reports it.
    if (!info.linkOwnedByUser && !settings.followAllLinks) {
      LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringSkippedForeignLink, path);
      return false;
    }
  } else {
    // Taken as what it is now: a link swapped in later is not followed.
    *openFlags |= platform::kOpenNoFollow;
  }
  if (info.type == platform::PathType::kMissing) return true;
  if (info.type != platform::PathType::kFile) {
    LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringSkippedDevice, path);
    return false;
  }
  if (Contains(State().runFiles, info.identity)) {
    LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringSkippedRunFile, path);
    return false;
  }
  if (Contains(State().messageFiles, info.identity)) {
    LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringSkippedMessageFile, path);
    return false;
  }
  if (!settings.convertBinaryFiles) {
    std::vector<std::uint8_t> sample;
    if (ReadSample(path, *openFlags, &sample)) {
      const ContentKind kind = ClassifyContent(sample.data(), sample.size(), State().wideSource);
      if (kind != ContentKind::kText) {
        const char16_t* reason = LoadResourceString(ReasonText(kind));
        LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringSkippedBinary, path,
                           reason ? reason : u"");
        return false;
      }
    }
  }
  return true;
}

bool EnterWalkDirectory(const std::u16string& path, const std::u16string& name) {
  if (IsVersionControlDirectory(name)) {
    LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringSkippedVersionControl, path);
    return false;
  }
  platform::PathInfo info;
  if (platform::InspectPath(path.c_str(), &info) &&
      Contains(State().createdDirectories, info.identity)) {
    LogResourceMessage(kLevelNormal, MessageKind::kInformation, kStringSkippedCreatedDirectory,
                       path);
    return false;
  }
  return true;
}

void CreateWalkDirectory(const std::u16string& path) {
  // An existing directory is not this run's; only one made here is.
  if (!platform::CreateDirectory(path.c_str())) return;
  platform::PathInfo info;
  if (platform::InspectPath(path.c_str(), &info))
    State().createdDirectories.push_back(info.identity);
}

}  // namespace ordana
