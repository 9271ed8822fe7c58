#pragma once
// Where the automatic detection looks for its statistics files.

#include <string>
#include <vector>

namespace ordana {

// The directories to search, in this order: the one holding the executable
// (`executableDirectory`), then the installed data directory "stats" below
// platform::kInstalledDataDirectory relative to it (on POSIX
// ../share/ordana/stats). The first directory that holds a usable statistics
// file is the one used; files in later directories are not mixed in.
std::vector<std::u16string> StatisticsDirectories(const std::u16string& executableDirectory);

// The directories as one line for messages: "a, b".
std::u16string JoinDirectories(const std::vector<std::u16string>& directories);

}  // namespace ordana
