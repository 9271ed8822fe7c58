#include "platform/Platform.h"

#include <string>

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"

namespace ordana::platform {
namespace {

TEST(MatchPathSpecTest, Table) {
  struct Case {
    const char16_t* name;
    const char16_t* pattern;
    bool match;
  };
  const Case cases[] = {
      {u"a.txt", u"*.txt", true},     {u"A.TXT", u"*.txt", true},      {u"a.txt.bak", u"*.txt", false},
      {u"a1.txt", u"a?.txt", true},   {u"a22.txt", u"a?.txt", false},  {u"README", u"*.*", true},
      {u".hidden", u"*.*", true},     {u"abc", u"a*c", true},          {u"ac", u"a*c", true},
      {u"abcbc", u"a*bc", true},      {u"abcbd", u"a*bc", false},      {u"x", u"", false},
      {u"", u"*", true},              {u"report.txt", u"report.txt", true},
      {u"\u00e9.txt", u"?.txt", true}, {u"aXbXc", u"*X*X*", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchPathSpec(c.name, c.pattern), c.match)
        << ToNative(c.name) << " ~ " << ToNative(c.pattern);
  }
}

TEST(QualifyPathTest, AbsoluteAndNormalised) {
  struct Case {
    std::u16string in, out;
  };
  const Case cases[] = {
      {u"/a/b/../c/./d", u"/a/c/d"}, {u"/a//b/", u"/a/b"}, {u"/..", u"/"}, {u"/", u"/"}};
  for (const Case& c : cases) EXPECT_EQ(QualifyPath(c.in), c.out);
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(QualifyPath(u"x.txt"), FromNative(cwd) + u"/x.txt");
}

TEST(ExpandEnvironmentStringsTest, KnownUnknownAndLonePercent) {
  ::setenv("ORDANA_T1", "/tmp/ü", 1);
  ::unsetenv("ORDANA_NOPE");
  struct Case {
    std::u16string in, out;
  };
  const Case cases[] = {{u"%ORDANA_T1%/a", u"/tmp/\u00fc/a"},
                        {u"%ORDANA_NOPE%/a", u"%ORDANA_NOPE%/a"},
                        {u"100%", u"100%"},
                        {u"%%", u"%%"},
                        {u"a%ORDANA_T1%b%", u"a/tmp/\u00fcb%"}};
  for (const Case& c : cases) EXPECT_EQ(ExpandEnvironmentStrings(c.in), c.out) << ToNative(c.in.c_str());
}

TEST(NativeTextTest, EveryByteStringRoundTrips) {
  const std::string cases[] = {"plain", "caf\xc3\xa9", "caf\xe9", "\xff\xfe", "\xed\xa0\x80",
                               "\xf0\x9f\x98\x80", "\xc0\xaf", "\xf4\x90\x80\x80", "a\x80"};
  for (const std::string& bytes : cases) {
    std::u16string wide = FromNative(bytes.c_str());
    EXPECT_EQ(ToNative(wide.c_str()), bytes);
  }
  EXPECT_EQ(FromNative("caf\xc3\xa9"), u"caf\u00e9");
  EXPECT_EQ(FromNative("\xf0\x9f\x98\x80"), u"\U0001F600");
  EXPECT_EQ(FromNative("caf\xe9"), u"caf\xdce9");
}

TEST(TempFileTest, CreatesDistinctEmptyFilesWithThePrefix) {
  test::TempDir dir;
  std::u16string first, second;
  ASSERT_TRUE(CreateTempFile(FromNative(dir.path().c_str()).c_str(), u"odn", &first));
  ASSERT_TRUE(CreateTempFile(FromNative(dir.path().c_str()).c_str(), u"odn", &second));
  EXPECT_NE(first, second);
  std::string name = ToNative(first.c_str()).substr(dir.path().size() + 1);
  EXPECT_EQ(name.size(), 11u);
  EXPECT_EQ(name.substr(0, 3), "odn");
  EXPECT_EQ(name.substr(7), ".tmp");
  EXPECT_EQ(test::ReadWholeFile(ToNative(first.c_str())), "");
  EXPECT_FALSE(CreateTempFile(u"/nonexistent-dir", u"odn", &first));
}

bool Exists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

TEST(CleanupTableTest, RemovesWhatIsStillRegisteredOnce) {
  test::TempDir dir;
  test::WriteWholeFile(dir.File("kept"), "k");
  test::WriteWholeFile(dir.File("gone"), "g");
  const CleanupToken withdrawn = RegisterCleanup(CleanupKind::kFile, dir.File16("kept").c_str());
  const CleanupToken registered = RegisterCleanup(CleanupKind::kFile, dir.File16("gone").c_str());
  ASSERT_NE(withdrawn, kNoCleanup);
  ASSERT_NE(registered, kNoCleanup);
  WithdrawCleanup(withdrawn);
  RemoveRegisteredObjects();
  EXPECT_TRUE(Exists(dir.File("kept")));
  EXPECT_FALSE(Exists(dir.File("gone")));
  // The entry went with its object: a new file of that name stays.
  test::WriteWholeFile(dir.File("gone"), "again");
  RemoveRegisteredObjects();
  EXPECT_TRUE(Exists(dir.File("gone")));
  WithdrawCleanup(registered);  // already empty: harmless
  WithdrawCleanup(kNoCleanup);
}

TEST(CleanupTableTest, FileRelativeToDirectoryOnlyWhileItIsTheSameFile) {
  test::TempDir dir;
  const int directory = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(directory, 0);
  struct Case {
    bool replaced;
    bool removed;
  };
  for (const Case& c : {Case{false, true}, Case{true, false}}) {
    const int file = ::openat(directory, "odn1.tmp", O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(file, 0);
    ASSERT_NE(RegisterCleanup(CleanupKind::kFile, u"odn1.tmp", directory, file), kNoCleanup);
    if (c.replaced) {
      // Someone put another file under the name: it is not ours to remove.
      ASSERT_EQ(::unlink(dir.File("odn1.tmp").c_str()), 0);
      test::WriteWholeFile(dir.File("odn1.tmp"), "theirs");
    }
    RemoveRegisteredObjects();
    EXPECT_EQ(Exists(dir.File("odn1.tmp")), !c.removed) << c.replaced;
    ::close(file);
    ::unlink(dir.File("odn1.tmp").c_str());
  }
  ::close(directory);
}

TEST(CleanupTableTest, SharedObjectNamesAndAFullTable) {
  const std::u16string name = u"Ordana.CleanupTest." + FromNative(std::to_string(::getpid()).c_str());
  SharedMemory memory;
  bool existed = true;
  ASSERT_TRUE(CreateSharedMemory(name.c_str(), 4096, &memory, &existed));
  SyncObject semaphore;
  ASSERT_TRUE(CreateSharedSemaphore((name + u".S").c_str(), 0, 1, &semaphore));
  ASSERT_NE(RegisterCleanup(CleanupKind::kSharedMemory, name.c_str()), kNoCleanup);
  ASSERT_NE(RegisterCleanup(CleanupKind::kSharedSemaphore, (name + u".S").c_str()), kNoCleanup);
  RemoveRegisteredObjects();
  CloseSharedMemory(&memory);
  CloseSyncObject(&semaphore);
  SharedMemory again;
  EXPECT_FALSE(OpenSharedMemory(name.c_str(), 4096, &again));
  SyncObject reopened;
  EXPECT_FALSE(OpenSharedSemaphore((name + u".S").c_str(), &reopened));

  std::vector<CleanupToken> tokens;
  for (;;) {
    const CleanupToken token = RegisterCleanup(CleanupKind::kFile, u"/nonexistent/ordana-cleanup");
    if (token == kNoCleanup) break;
    tokens.push_back(token);
    ASSERT_LT(tokens.size(), 100u) << "the table never fills";
  }
  EXPECT_GE(tokens.size(), 8u);
  for (CleanupToken token : tokens) WithdrawCleanup(token);
  EXPECT_NE(RegisterCleanup(CleanupKind::kFile, u"/nonexistent/ordana-cleanup"), kNoCleanup);
  RemoveRegisteredObjects();
}

TEST(MoveFileReplaceTest, KeepsPermissionBitsAndLinks) {
  test::TempDir dir;
  test::WriteWholeFile(dir.File("target"), "old");
  ::chmod(dir.File("target").c_str(), 0640);
  ASSERT_EQ(::symlink("target", dir.File("link").c_str()), 0);
  test::WriteWholeFile(dir.File("new"), "new");
  ASSERT_TRUE(MoveFileReplace(dir.File16("new").c_str(), dir.File16("link").c_str()));
  struct stat info;
  ASSERT_EQ(::lstat(dir.File("link").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(::stat(dir.File("target").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(test::ReadWholeFile(dir.File("target")), "new");
  EXPECT_FALSE(IsSameFile(dir.File16("new").c_str(), dir.File16("target").c_str()));
  EXPECT_TRUE(IsSameFile(dir.File16("link").c_str(), dir.File16("target").c_str()));
}

TEST(ListDirectoryTest, EntriesAndMissingDirectory) {
  test::TempDir dir;
  test::WriteWholeFile(dir.File("f"), "");
  ASSERT_TRUE(CreateDirectory(dir.File16("d").c_str()));
  ASSERT_EQ(::symlink("d", dir.File("ld").c_str()), 0);
  std::vector<DirectoryEntry> entries;
  ErrorClass error;
  ASSERT_TRUE(ListDirectory(FromNative(dir.path().c_str()).c_str(), &entries, &error));
  ASSERT_EQ(entries.size(), 3u);
  for (const DirectoryEntry& e : entries) {
    const bool isFile = e.name == u"f";
    const bool isDir = e.name == u"d";
    const bool isLink = e.name == u"ld";
    EXPECT_TRUE(isFile || isDir || isLink);
    EXPECT_EQ(e.isDirectory, isDir) << ToNative(e.name.c_str());
    EXPECT_EQ(e.linkToDirectory, isLink) << ToNative(e.name.c_str());
  }
  EXPECT_FALSE(ListDirectory(dir.File16("missing").c_str(), &entries, &error));
  EXPECT_EQ(error, ErrorClass::kPathNotFound);
}

}  // namespace
}  // namespace ordana::platform
