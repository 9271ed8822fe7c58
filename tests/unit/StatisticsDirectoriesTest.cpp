#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detection/StatisticsDirectories.h"
#include "platform/Platform.h"

namespace ordana {
namespace {

TEST(StatisticsDirectoriesTest, BesideTheProgramFirstThenTheInstalledDataDirectory) {
  struct Case {
    std::u16string executableDirectory;
    std::vector<std::u16string> expected;
  };
  // Each system's spelling: Windows keeps the data beside the program only.
  const std::vector<Case> cases =
      platform::kInstalledDataDirectory[0] == 0
          ? std::vector<Case>{
                {u"C:\\Tools", {u"C:\\Tools"}},
                {u"C:\\", {u"C:\\"}},
            }
          : std::vector<Case>{
                {u"/usr/bin", {u"/usr/bin", u"/usr/share/ordana/stats"}},
                {u"/opt/ordana/bin/", {u"/opt/ordana/bin/", u"/opt/ordana/share/ordana/stats"}},
                {u"/home/u/build", {u"/home/u/build", u"/home/u/share/ordana/stats"}},
                // The parent of the root is the root.
                {u"/", {u"/", u"/share/ordana/stats"}},
            };
  for (const Case& c : cases) {
    EXPECT_EQ(StatisticsDirectories(c.executableDirectory), c.expected);
  }
}

TEST(StatisticsDirectoriesTest, JoinsDirectoriesForMessages) {
  EXPECT_EQ(JoinDirectories({}), u"");
  EXPECT_EQ(JoinDirectories({u"/a"}), u"/a");
  EXPECT_EQ(JoinDirectories({u"/a", u"/b/c"}), u"/a, /b/c");
}

}  // namespace
}  // namespace ordana
