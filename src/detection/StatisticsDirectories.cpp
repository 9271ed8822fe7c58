#include "detection/StatisticsDirectories.h"

#include "platform/Platform.h"

namespace ordana {

std::vector<std::u16string> StatisticsDirectories(const std::u16string& executableDirectory) {
  const std::u16string beside = executableDirectory.empty() ? u"." : executableDirectory;
  std::vector<std::u16string> directories{beside};
  const std::u16string installed = platform::kInstalledDataDirectory;
  if (!installed.empty()) {
    std::u16string path = beside;
    if (path.back() != platform::kPathSeparator) path += platform::kPathSeparator;
    path += installed;
    path += platform::kPathSeparator;
    path += u"stats";
    // "/usr/bin/../share/ordana/stats" is shown as "/usr/share/ordana/stats".
    directories.push_back(platform::QualifyPath(path));
  }
  return directories;
}

std::u16string JoinDirectories(const std::vector<std::u16string>& directories) {
  std::u16string line;
  for (const std::u16string& directory : directories) {
    if (!line.empty()) line += u", ";
    line += directory;
  }
  return line;
}

}  // namespace ordana
