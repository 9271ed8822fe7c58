#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/Platform.h"

namespace ordana::platform {
namespace {

TEST(MatchPathSpecTest, Table) {
  struct Case {
    const char16_t* name;
    const char16_t* pattern;
    bool match;
  };
  const Case cases[] = {
      {u"a.txt", u"*.txt", true},
      {u"A.TXT", u"*.txt", true},
      {u"a.txt.bak", u"*.txt", false},
      {u"a1.txt", u"a?.txt", true},
      {u"a22.txt", u"a?.txt", false},
      {u"README", u"*.*", true},
      {u".hidden", u"*.*", true},
      {u"abc", u"a*c", true},
      {u"ac", u"a*c", true},
      {u"abcbc", u"a*bc", true},
      {u"abcbd", u"a*bc", false},
      {u"x", u"", false},
      {u"", u"*", true},
      {u"report.txt", u"report.txt", true},
      {u"\u00e9.txt", u"?.txt", true},
      {u"aXbXc", u"*X*X*", true},
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
  for (const Case& c : cases)
    EXPECT_EQ(ExpandEnvironmentStrings(c.in), c.out) << ToNative(c.in.c_str());
}

TEST(NativeTextTest, EveryByteStringRoundTrips) {
  const std::string cases[] = {"plain",    "caf\xc3\xa9",      "caf\xe9",
                               "\xff\xfe", "\xed\xa0\x80",     "\xf0\x9f\x98\x80",
                               "\xc0\xaf", "\xf4\x90\x80\x80", "a\x80"};
  for (const std::string& bytes : cases) {
    std::u16string wide = FromNative(bytes.c_str());
    EXPECT_EQ(ToNative(wide.c_str()), bytes);
  }
  EXPECT_EQ(FromNative("caf\xc3\xa9"), u"caf\u00e9");
  EXPECT_EQ(FromNative("\xf0\x9f\x98\x80"), u"\U0001F600");
  EXPECT_EQ(FromNative("caf\xe9"), u"caf\xdce9");
}

TEST(CommandLineSourceTest, ArgvIsTheSplitTokenTable) {
  char program[] = "ordana";
  char pattern[] = "*.txt";
  char name[] = "caf\xe9 \xc3\xa9";
  char* argv[] = {program, pattern, name, nullptr};
  const ProcessCommandLine line = ReadProcessCommandLine(3, argv);
  EXPECT_TRUE(line.split);
  EXPECT_TRUE(line.text.empty());
  const std::vector<std::u16string> expected = {u"ordana", u"*.txt", u"caf\xdce9 \u00e9"};
  EXPECT_EQ(line.tokens, expected);
  EXPECT_TRUE(kShellExpandsWildcards);
}

TEST(CommandLineSourceTest, WindowsPipeNamesAreForeignDevices) {
  struct Case {
    const char16_t* path;
    bool foreign;
  };
  const Case cases[] = {
      {u"\\\\.\\pipe\\x", true},   {u"\\\\.\\PIPE\\x", true},
      {u"\\\\.\\Pipe\\", true},    {u"\\\\.\\pipe", false},
      {u"\\\\.\\pipex\\a", false}, {u"/tmp/pipe", false},
      {u"\\\\.\\CONOUT$", false},  {u"", false},
      {u"\\\\?\\pipe\\x", false},
  };
  for (const Case& c : cases) EXPECT_EQ(NamesForeignDevice(c.path), c.foreign) << ToNative(c.path);
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
  const std::u16string name =
      u"Ordana.CleanupTest." + FromNative(std::to_string(::getpid()).c_str());
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

// Writes `text` into a new replacement for `target` and commits it.
CommitResult Replace(const std::u16string& target, const std::string& text,
                     const FileIdentity* expected, ReplacementFile* file) {
  EXPECT_TRUE(CreateReplacementFile(target.c_str(), false, file));
  std::uint32_t done = 0;
  EXPECT_TRUE(WriteFile(file->handle, text.data(), static_cast<std::uint32_t>(text.size()), &done));
  const CommitResult result = CommitReplacementFile(file, expected);
  DiscardReplacementFile(file);
  return result;
}

std::vector<std::string> Names(const test::TempDir& dir) {
  std::vector<DirectoryEntry> entries;
  ErrorClass error;
  EXPECT_TRUE(ListDirectory(FromNative(dir.path().c_str()).c_str(), &entries, &error));
  std::vector<std::string> names;
  for (const DirectoryEntry& e : entries) names.push_back(ToNative(e.name.c_str()));
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ReplacementFileTest, KeepsPermissionBitsAndLinks) {
  test::TempDir dir;
  test::WriteWholeFile(dir.File("target"), "old");
  ::chmod(dir.File("target").c_str(), 0440);  // read-only: replaced all the same
  ASSERT_EQ(::symlink("target", dir.File("link").c_str()), 0);
  ReplacementFile file;
  EXPECT_EQ(Replace(dir.File16("link"), "new", nullptr, &file), CommitResult::kCommitted);
  struct stat info;
  ASSERT_EQ(::lstat(dir.File("link").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(::stat(dir.File("target").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0440u);
  EXPECT_EQ(test::ReadWholeFile(dir.File("target")), "new");
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"link", "target"}));
}

TEST(ReplacementFileTest, NewFileGetsTheModeOfANewFile) {
  test::TempDir dir;
  const mode_t mask = ::umask(022);
  ReplacementFile file;
  EXPECT_EQ(Replace(dir.File16("fresh"), "text", nullptr, &file), CommitResult::kCommitted);
  ::umask(mask);
  struct stat info;
  ASSERT_EQ(::stat(dir.File("fresh").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  EXPECT_EQ(test::ReadWholeFile(dir.File("fresh")), "text");
}

TEST(ReplacementFileTest, ChangesUnderItReplaceNothing) {
  // What another process may do while the temporary is being written, and
  // what the commit then says. Nothing may be replaced, and only the
  // process's own temporary may be removed.
  struct Case {
    const char* what;
    void (*change)(const test::TempDir& dir, const ReplacementFile& file);
    CommitResult result;
    std::vector<std::string> left;  // the names in the directory afterwards
  };
  const Case cases[] = {
      {"nothing",
       [](const test::TempDir&, const ReplacementFile&) {},
       CommitResult::kCommitted,
       {"in"}},
      {"the input deleted",
       [](const test::TempDir& dir, const ReplacementFile&) { ::unlink(dir.File("in").c_str()); },
       CommitResult::kTargetDeleted,
       {}},
      {"the input replaced",
       [](const test::TempDir& dir, const ReplacementFile&) {
         test::WriteWholeFile(dir.File("other"), "other");
         ::rename(dir.File("other").c_str(), dir.File("in").c_str());
       },
       CommitResult::kTargetChanged,
       {"in"}},
      {"the temporary swapped for a link",
       [](const test::TempDir& dir, const ReplacementFile& file) {
         const std::string temporary = ToNative(file.path.c_str());
         ::unlink(temporary.c_str());
         ::symlink(dir.File("victim").c_str(), temporary.c_str());
       },
       CommitResult::kTargetChanged,
       {"in", "odn-link"}},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    test::WriteWholeFile(dir.File("in"), "original");
    const int fd = ::open(dir.File("in").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    FileIdentity opened;
    ASSERT_TRUE(GetFileIdentity(fd, &opened));
    ReplacementFile file;
    ASSERT_TRUE(CreateReplacementFile(dir.File16("in").c_str(), false, &file));
    std::uint32_t done = 0;
    ASSERT_TRUE(WriteFile(file.handle, "converted", 9, &done));
    c.change(dir, file);
    const std::string temporaryName = ToNative(file.path.c_str()).substr(dir.path().size() + 1);
    EXPECT_EQ(CommitReplacementFile(&file, &opened), c.result) << c.what;
    DiscardReplacementFile(&file);
    ::close(fd);
    std::vector<std::string> left = Names(dir);
    for (std::string& name : left) {
      if (name == temporaryName) name = "odn-link";  // the other process's link stays
    }
    EXPECT_EQ(left, c.left) << c.what;
    if (c.result == CommitResult::kCommitted) {
      EXPECT_EQ(test::ReadWholeFile(dir.File("in")), "converted");
    } else if (c.result == CommitResult::kTargetChanged && c.left.size() == 1) {
      EXPECT_EQ(test::ReadWholeFile(dir.File("in")), "other") << c.what;
    } else if (c.left.size() == 2) {
      EXPECT_EQ(test::ReadWholeFile(dir.File("in")), "original") << c.what;
    }
  }
}

TEST(ReplacementFileTest, AnOutputTheUserMayNotWriteIsRefused) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write every file";
  test::TempDir dir;
  test::WriteWholeFile(dir.File("ro"), "keep");
  ::chmod(dir.File("ro").c_str(), 0444);
  ReplacementFile file;
  EXPECT_FALSE(CreateReplacementFile(dir.File16("ro").c_str(), true, &file));
  EXPECT_EQ(LastError(), static_cast<ErrorCode>(EACCES));
  EXPECT_EQ(Names(dir), (std::vector<std::string>{"ro"}));
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
