#pragma once
// What a pattern, directory or recursive run takes from the directories it
// walks, and what it leaves alone.
//
// A walk meets files nobody named: devices and FIFOs (never opened), links
// planted by other users, the run's own log file and CSV report, temporary
// files of in-place conversions, version control data, executables and
// images. It takes only regular files that look like text, follows only the
// user's own symbolic links and never enters a directory this run created.
// Every skip is said at level 1. A file named explicitly is not a walk and
// none of this applies to it.

#include <cstddef>
#include <cstdint>
#include <string>

namespace ordana {

// Why a file's first bytes say it is not text.
enum class ContentKind {
  kText,
  kNulBytes,    // a NUL byte that no UTF-16/UTF-32 mark or zero pattern explains
  kExecutable,  // ELF, Mach-O, Java class
  kImage,       // PNG, JPEG, GIF, TIFF, WebP
  kArchive,     // zip, gzip, bzip2, xz, 7z, zstd, rar
  kDocument,    // PDF
};
// How many bytes of a file ClassifyContent looks at.
constexpr std::size_t kContentSampleSize = 8192;
// `nulsAreText`: the source is known to be UTF-16 or UTF-32, so only the
// signatures count.
ContentKind ClassifyContent(const std::uint8_t* data, std::size_t size, bool nulsAreText = false);

// True for the names of temporary files of in-place conversions:
// "odn" + one to four hexadecimal digits + ".tmp", in any case.
bool IsTemporaryFileName(const std::u16string& name);
// True for ".git", ".hg" and ".svn".
bool IsVersionControlDirectory(const std::u16string& name);

// Starts the rules for one run: remembers which files are the run's log and
// report, forgets the directories of an earlier run.
void BeginWalk();
// Whether the walk converts the file at `path` (its last part `name`).
// Says at level 1 why not. `openFlags` receives the platform open flags
// that keep the file what the rules found (a regular file; no link where
// there was none).
bool TakeWalkFile(const std::u16string& path, const std::u16string& name, std::uint32_t* openFlags);
// Whether the walk enters the subdirectory at `path`; says at level 1 why
// not.
bool EnterWalkDirectory(const std::u16string& path, const std::u16string& name);
// Creates the output directory `path` for a subdirectory; one this call
// created is never entered by the walk.
void CreateWalkDirectory(const std::u16string& path);

}  // namespace ordana
