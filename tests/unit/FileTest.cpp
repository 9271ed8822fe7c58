#include <gtest/gtest.h>

#include <string>

#include "core/File.h"

#ifndef _WIN32
#include <unistd.h>
#endif

#include "TestSupport.h"
#include "core/Buffer.h"

namespace ordana {
namespace {

using test::ReadWholeFile;
using test::TempDir;
using test::WriteWholeFile;

TEST(FileTest, DevicePathsTakeTheStandardHandlesWithoutOwningThem) {
  CFile in;
  ASSERT_TRUE(in.Open(u"\\\\.\\conin$", platform::kOpenExisting, platform::kGenericRead,
                      platform::kFileShareRead, 0));
  EXPECT_EQ(in.handle(), platform::GetStandardInput());
  EXPECT_FALSE(in.ownsHandle());
  CFile out;
  ASSERT_TRUE(out.Open(u"\\\\.\\CONOUT$", platform::kCreateAlways, platform::kGenericWrite,
                       platform::kFileShareRead, 0));
  EXPECT_EQ(out.handle(), platform::GetStandardOutput());
  EXPECT_FALSE(out.ownsHandle());
  in.Close();
  out.Close();
  // Closing did not close the process's standard handles.
  EXPECT_EQ(
      platform::QueryOutputKind(platform::GetStandardOutput()) == platform::OutputKind::kUnusable,
      false);
}

TEST(FileTest, MissingFileReportsFileNotFound) {
  TempDir dir;
  CFile file;
  EXPECT_FALSE(file.Open(dir.File16("nope.txt").c_str(), platform::kOpenExisting,
                         platform::kGenericRead, platform::kFileShareRead, 0));
  EXPECT_EQ(platform::ClassifyError(file.lastError()), platform::ErrorClass::kFileNotFound);
  EXPECT_FALSE(platform::ErrorText(file.lastError()).empty());
}

TEST(FileTest, DirectoryIsNotAFile) {
  TempDir dir;
  CFile file;
  EXPECT_FALSE(file.Create(platform::FromNative(dir.path().c_str()).c_str(),
                           platform::kGenericWrite, platform::kFileShareRead));
  EXPECT_NE(file.lastError(), 0u);
}

TEST(FileTest, ReadAppendsAndReturnsZeroAtTheEnd) {
  TempDir dir;
  WriteWholeFile(dir.File("a"), "abc");
  CFile file;
  ASSERT_TRUE(file.Open(dir.File16("a").c_str(), platform::kOpenExisting, platform::kGenericRead,
                        platform::kFileShareRead, platform::kFileFlagSequentialScan));
  CBuffer buffer;
  EXPECT_TRUE(buffer.Append("x", 1));
  EXPECT_EQ(file.Read(buffer), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.base()), buffer.length()), "xabc");
  // Only a read that finds nothing knows the end.
  EXPECT_FALSE(file.AtEnd());
  EXPECT_EQ(file.Read(buffer), 0u);
  EXPECT_TRUE(file.AtEnd());
  EXPECT_EQ(file.lastError(), 0u);
  EXPECT_EQ(buffer.length(), 4u);
  // Opening again starts afresh.
  ASSERT_TRUE(file.Open(dir.File16("a").c_str(), platform::kOpenExisting, platform::kGenericRead,
                        platform::kFileShareRead, 0));
  EXPECT_FALSE(file.AtEnd());
}

// The end of the data and a failed read are told apart: the end is AtEnd()
// and leaves the error slot empty (also on a pipe, which has no size), a
// failure is an error and never the end.
TEST(FileTest, EndOfDataIsNoErrorAndAFailedReadIsNoEnd) {
  TempDir dir;
  WriteWholeFile(dir.File("r"), "abc");
  struct Case {
    const char* name;
    bool pipe;             // read a pipe whose writer wrote "abc" and closed
    std::uint32_t access;  // otherwise open the file "r" with this access
    bool wholeBuffer;      // Read(CBuffer&) instead of ReadBytes
    std::string expected;
    bool atEnd;
    bool error;
  };
  const Case cases[] = {
      {"file, buffer", false, platform::kGenericRead, true, "abc", true, false},
      {"file, bytes", false, platform::kGenericRead, false, "abc", true, false},
      {"write-only file, buffer", false, platform::kGenericWrite, true, "", false, true},
      {"write-only file, bytes", false, platform::kGenericWrite, false, "", false, true},
#ifndef _WIN32
      {"pipe, buffer", true, 0, true, "abc", true, false},
      {"pipe, bytes", true, 0, false, "abc", true, false},
#endif
  };
  for (const Case& c : cases) {
    CFile file;
#ifndef _WIN32
    if (c.pipe) {
      int ends[2];
      ASSERT_EQ(::pipe(ends), 0);
      ASSERT_EQ(::write(ends[1], "abc", 3), 3);
      ::close(ends[1]);
      file.Attach(ends[0], true, u"pipe");
    }
#endif
    if (!c.pipe) {
      ASSERT_TRUE(file.Open(dir.File16("r").c_str(), platform::kOpenExisting, c.access,
                            platform::kFileShareRead, 0))
          << c.name;
    }
    std::string got;
    for (int reads = 0; reads < 10 && !file.AtEnd(); ++reads) {
      std::uint32_t n = 0;
      if (c.wholeBuffer) {
        CBuffer buffer;
        n = file.Read(buffer);
        got.append(reinterpret_cast<const char*>(buffer.base()), buffer.length());
      } else {
        char bytes[2];
        n = file.ReadBytes(bytes, sizeof bytes);
        got.append(bytes, n);
      }
      if (n == 0) break;
    }
    EXPECT_EQ(got, c.expected) << c.name;
    EXPECT_EQ(file.AtEnd(), c.atEnd) << c.name;
    EXPECT_EQ(file.lastError() != 0, c.error) << c.name;
  }
}

TEST(FileTest, ReadNeverOverfillsABuffer) {
  TempDir dir;
  WriteWholeFile(dir.File("a"), std::string(CBuffer::kCommitSize, 'r'));
  CFile file;
  ASSERT_TRUE(file.Open(dir.File16("a").c_str(), platform::kOpenExisting, platform::kGenericRead,
                        platform::kFileShareRead, 0));
  CBuffer buffer;
  std::string fill(CBuffer::kReservationSize - 10, 'f');
  EXPECT_TRUE(buffer.Append(fill.data(), static_cast<std::uint32_t>(fill.size())));
  EXPECT_EQ(file.Read(buffer), 10u);
  EXPECT_EQ(buffer.length(), CBuffer::kReservationSize);
  EXPECT_EQ(file.Read(buffer), 0u);
}

TEST(FileTest, WriteOfEmptyBufferWritesNothing) {
  TempDir dir;
  CFile file;
  ASSERT_TRUE(
      file.Create(dir.File16("w").c_str(), platform::kGenericWrite, platform::kFileShareRead));
  CBuffer empty;
  EXPECT_EQ(file.Write(empty), 0u);
  EXPECT_EQ(file.lastError(), 0u);
  file.Printf(u"%s=%d", u"\u00e9", 5);
  file.Close();
  EXPECT_EQ(ReadWholeFile(dir.File("w")), std::string("\xe9\0=\0"
                                                      "5\0",
                                                      6));
}

TEST(FileTest, CreateTruncatesAnExistingFile) {
  TempDir dir;
  WriteWholeFile(dir.File("t"), "old content");
  CFile file;
  ASSERT_TRUE(
      file.Create(dir.File16("t").c_str(), platform::kGenericWrite, platform::kFileShareRead));
  EXPECT_EQ(file.WriteBytes("new", 3), 3u);
  file.Close();
  EXPECT_EQ(ReadWholeFile(dir.File("t")), "new");
}

}  // namespace
}  // namespace ordana
