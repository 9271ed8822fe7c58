#include "core/File.h"

#include <string>

#include <gtest/gtest.h>

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
  EXPECT_EQ(in.access(), platform::kGenericRead | platform::kGenericWrite);
  CFile out;
  ASSERT_TRUE(out.Open(u"\\\\.\\CONOUT$", platform::kCreateAlways, platform::kGenericWrite,
                       platform::kFileShareRead, 0));
  EXPECT_EQ(out.handle(), platform::GetStandardOutput());
  EXPECT_EQ(out.share(), platform::kFileShareWrite);
  in.Close();
  out.Close();
  // Closing did not close the process's standard handles.
  EXPECT_EQ(platform::QueryOutputKind(platform::GetStandardOutput()) ==
                platform::OutputKind::kUnusable,
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
  buffer.Append("x", 1);
  EXPECT_EQ(file.Read(buffer), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.base()), buffer.length()), "xabc");
  EXPECT_TRUE(file.IsAtEnd());
  EXPECT_EQ(file.Read(buffer), 0u);
  EXPECT_EQ(buffer.length(), 4u);
}

TEST(FileTest, ReadNeverOverfillsABuffer) {
  TempDir dir;
  WriteWholeFile(dir.File("a"), std::string(CBuffer::kCommitSize, 'r'));
  CFile file;
  ASSERT_TRUE(file.Open(dir.File16("a").c_str(), platform::kOpenExisting, platform::kGenericRead,
                        platform::kFileShareRead, 0));
  CBuffer buffer;
  std::string fill(CBuffer::kReservationSize - 10, 'f');
  buffer.Append(fill.data(), static_cast<std::uint32_t>(fill.size()));
  EXPECT_EQ(file.Read(buffer), 10u);
  EXPECT_EQ(buffer.length(), CBuffer::kReservationSize);
  EXPECT_EQ(file.Read(buffer), 0u);
}

TEST(FileTest, WriteOfEmptyBufferWritesNothing) {
  TempDir dir;
  CFile file;
  ASSERT_TRUE(file.Create(dir.File16("w").c_str(), platform::kGenericWrite, platform::kFileShareRead));
  CBuffer empty;
  EXPECT_EQ(file.Write(empty), 0u);
  EXPECT_EQ(file.lastError(), 0u);
  file.Printf(u"%s=%d", u"\u00e9", 5);
  file.Close();
  EXPECT_EQ(ReadWholeFile(dir.File("w")), std::string("\xe9\0=\0" "5\0", 6));
}

TEST(FileTest, CreateTruncatesAnExistingFile) {
  TempDir dir;
  WriteWholeFile(dir.File("t"), "old content");
  CFile file;
  ASSERT_TRUE(file.Create(dir.File16("t").c_str(), platform::kGenericWrite, platform::kFileShareRead));
  file.WriteBytes("new", 3);
  file.Close();
  EXPECT_EQ(ReadWholeFile(dir.File("t")), "new");
}

TEST(FileTest, DeleteRemovesTheFile) {
  TempDir dir;
  CFile file;
  ASSERT_TRUE(file.Create(dir.File16("d").c_str(), platform::kGenericWrite, platform::kFileShareRead));
  file.Delete();
  EXPECT_FALSE(file.IsOpen());
  CFile probe;
  EXPECT_FALSE(probe.Open(dir.File16("d").c_str(), platform::kOpenExisting, platform::kGenericRead,
                          platform::kFileShareRead, 0));
}

}  // namespace
}  // namespace ordana
