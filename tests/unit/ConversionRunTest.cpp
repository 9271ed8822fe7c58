#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "TestSupport.h"
#include "app/Settings.h"
#include "app/StatusRecord.h"
#include "codecs/Utf16Filters.h"
#include "core/Buffer.h"
#include "core/ConversionRun.h"
#include "core/File.h"
#include "core/FilePersistenceFilter.h"
#include "core/StringTable.h"

namespace ordana {
namespace {

std::string N(const std::u16string& s) { return platform::ToNative(s.c_str(), s.size()); }

TEST(FormatElapsedTest, Thresholds) {
  struct Case {
    std::uint32_t ms;
    const char* text;
  };
  const Case cases[] = {
      {0, "0.000 ms\r\n"},          {999, "999.000 ms\r\n"},       {1000, "1000.000 ms\r\n"},
      {1001, "1.001 seconds\r\n"},  {60000, "60.000 seconds\r\n"}, {60001, "1.000 minutes\r\n"},
      {90000, "1.500 minutes\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(N(FormatElapsed(c.ms)), c.text) << c.ms;
}

TEST(FormatElapsedTest, UnitsHaveGermanTexts) {
  EXPECT_EQ(N(Format(LoadResourceString(kStringElapsedMinutes, kLanguageGerman), 1.5)),
            "1.500 Minuten\r\n");
  EXPECT_EQ(N(Format(LoadResourceString(kStringElapsedSeconds, kLanguageGerman), 2.25)),
            "2.250 Sekunden\r\n");
}

TEST(DescribeErrorTest, TheProgramsOwnCodeComesFromTheStringTable) {
  // A symbolic link opened without following links gives the program's own
  // code.
  test::TempDir dir;
  test::WriteWholeFile(dir.File("target"), "x");
  std::error_code linkError;
  std::filesystem::create_symlink(dir.File("target"), dir.File("link"), linkError);
  if (linkError) GTEST_SKIP() << "no symbolic links here: " << linkError.message();
  CFile file;
  ASSERT_FALSE(file.Open(dir.File16("link").c_str(), platform::kOpenExisting,
                         platform::kGenericRead, platform::kFileShareRead,
                         platform::kOpenRegularFileOnly | platform::kOpenNoFollow));
  ASSERT_TRUE(platform::FileIsNotRegular(file.lastError()));
  EXPECT_EQ(DescribeError(file.lastError()), LoadResourceString(kStringNotARegularFile));
  EXPECT_EQ(N(LoadResourceString(kStringNotARegularFile, kLanguageGerman)), "Keine reguläre Datei");
  // Other codes keep the system's text.
  CFile missing;
  ASSERT_FALSE(missing.Open(dir.File16("missing").c_str(), platform::kOpenExisting,
                            platform::kGenericRead, platform::kFileShareRead, 0));
  ASSERT_FALSE(platform::FileIsNotRegular(missing.lastError()));
  EXPECT_EQ(DescribeError(missing.lastError()), platform::ErrorText(missing.lastError()));
}

// Runs files of chosen sizes through a chain that records every chunk.
class ConversionRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    chain_ = &GetFilterChain();
    ASSERT_EQ(chain_->head(), nullptr);
    recorder_ = new test::RecordingFilter();
    chain_->Append(recorder_);
  }
  void TearDown() override { chain_->Clear(); }

  bool Run(const std::string& bytes) {
    test::WriteWholeFile(dir_.File("in"), bytes);
    CFile input;
    EXPECT_TRUE(input.Open(dir_.File16("in").c_str(), platform::kOpenExisting,
                           platform::kGenericRead, platform::kFileShareRead, 0));
    return test::RunReported(input);
  }

  test::TempDir dir_;
  test::LogCapture log_{2};
  CFilterChain* chain_ = nullptr;
  test::RecordingFilter* recorder_ = nullptr;
};

TEST_F(ConversionRunTest, EmptyInputStillCompletesTheRecord) {
  EXPECT_TRUE(Run(""));
  EXPECT_TRUE(recorder_->calls.empty());
  // The record is packed: its fields are read by value.
  const StatusRecord record = *CurrentStatusRecord();
  EXPECT_EQ(std::uint32_t{record.state}, kStatusDone);
  EXPECT_EQ(std::uint64_t{record.totalSize}, 0u);
  EXPECT_GE(std::uint64_t{record.endTime}, std::uint64_t{record.startTime});
  EXPECT_NE(log_.narrow().find("Required time: "), std::string::npos);
}

TEST_F(ConversionRunTest, ChunksAreTwoMebibytesWithTheirOffsets) {
  struct Case {
    std::uint32_t size;
    std::vector<std::uint32_t> chunks;
    std::vector<std::uint64_t> offsets;
  };
  const std::uint32_t M2 = CBuffer::kCommitSize;
  const Case cases[] = {
      {5, {5}, {0}},
      {M2, {M2}, {0}},
      {M2 + 1, {M2, 1}, {0, M2}},
      {2 * M2 + 7, {M2, M2, 7}, {0, M2, 2ull * M2}},
  };
  for (const Case& c : cases) {
    recorder_->calls.clear();
    recorder_->offsets.clear();
    recorder_->received.clear();
    std::string bytes(c.size, '\0');
    for (std::uint32_t k = 0; k < c.size; ++k) bytes[k] = static_cast<char>(k * 7 + k / 251);
    EXPECT_TRUE(Run(bytes));
    EXPECT_EQ(recorder_->calls, c.chunks) << c.size;
    EXPECT_EQ(recorder_->offsets, c.offsets) << c.size;
    EXPECT_EQ(recorder_->received, bytes);
    const StatusRecord record = *CurrentStatusRecord();
    EXPECT_EQ(std::uint64_t{record.totalSize}, c.size);
    // The last, empty read started at the end.
    EXPECT_EQ(std::uint64_t{record.processedOffset}, c.size);
    EXPECT_EQ(std::u16string(record.inputPath), dir_.File16("in"));
  }
}

// An input whose read number `failAt` (counting from 1) fails with `error`,
// as a failing disk or a network file system does in the middle of a file.
class FailingInput : public CFile {
 public:
  FailingInput(int failAt, platform::ErrorCode error) : failAt_(failAt), error_(error) {}
  std::uint32_t Read(CBuffer& buffer) override {
    if (++reads_ == failAt_) {
      SetLastError(error_);
      return 0;
    }
    return CFile::Read(buffer);
  }
  int reads() const { return reads_; }

 private:
  int failAt_;
  platform::ErrorCode error_;
  int reads_ = 0;
};

TEST_F(ConversionRunTest, AFailedReadIsNotTheEndOfTheInput) {
  const std::uint32_t M2 = CBuffer::kCommitSize;
  struct Case {
    int failAt;
    std::uint64_t read;  // bytes read before the failure
  };
  for (const Case& c : {Case{1, 0}, Case{2, M2}, Case{3, 2ull * M2}}) {
    recorder_->received.clear();
    std::string bytes(2 * M2 + 100, 'x');
    test::WriteWholeFile(dir_.File("in"), bytes);
    FailingInput input(c.failAt, 5);
    ASSERT_TRUE(input.Open(dir_.File16("in").c_str(), platform::kOpenExisting,
                           platform::kGenericRead, platform::kFileShareRead, 0));
    ConversionOutcome outcome;
    EXPECT_FALSE(test::RunReported(input, &outcome)) << c.failAt;
    EXPECT_EQ(outcome.readError, 5u);
    EXPECT_EQ(outcome.bytesRead, c.read);
    EXPECT_FALSE(outcome.outputFailed);
    EXPECT_EQ(input.reads(), c.failAt) << "reading went on after the failure";
    EXPECT_EQ(recorder_->received.size(), c.read);
  }
  // Read to the end: no error, every byte counted.
  recorder_->received.clear();
  FailingInput whole(100, 5);
  ASSERT_TRUE(whole.Open(dir_.File16("in").c_str(), platform::kOpenExisting, platform::kGenericRead,
                         platform::kFileShareRead, 0));
  ConversionOutcome outcome;
  EXPECT_TRUE(test::RunReported(whole, &outcome));
  EXPECT_EQ(outcome.readError, 0u);
  EXPECT_EQ(outcome.bytesRead, 2ull * M2 + 100);
}

TEST(ConversionRunOutputTest, ReadingStopsOnceTheOutputHasFailed) {
  // The output stream is not open, so the first write fails: the rest of a
  // large (or endless) input must not be read.
  CFilterChain& chain = GetFilterChain();
  ASSERT_EQ(chain.head(), nullptr);
  auto* persistence = new CFilePersistenceFilter();
  chain.Append(persistence);
  test::LogCapture log(2);
  test::TempDir dir;
  const std::uint32_t M2 = CBuffer::kCommitSize;
  test::WriteWholeFile(dir.File("in"), std::string(3 * M2, 'y'));
  FailingInput input(100, 5);
  ASSERT_TRUE(input.Open(dir.File16("in").c_str(), platform::kOpenExisting, platform::kGenericRead,
                         platform::kFileShareRead, 0));
  ConversionOutcome outcome;
  EXPECT_FALSE(test::RunReported(input, &outcome));
  EXPECT_TRUE(outcome.outputFailed);
  EXPECT_EQ(outcome.readError, 0u);
  EXPECT_EQ(outcome.bytesRead, M2);
  EXPECT_EQ(input.reads(), 1);
  EXPECT_NE(persistence->writeError(), 0u);
  chain.Clear();
}

TEST(ConversionRunRecordTest, FirstDecoderAndEncoderGoIntoTheRecord) {
  CFilterChain& chain = GetFilterChain();
  ASSERT_EQ(chain.head(), nullptr);
  chain.Append(new CNulFilter());
  chain.Append(new CUtf16ToUtf16InputFilter(true, CodecOptions{}));
  chain.Append(new CUtf16ToUtf16OutputFilter(false, CodecOptions{}));
  chain.Append(
      new CUtf16ToUtf16OutputFilter(true, CodecOptions{}));  // not the first encoder: ignored
  auto* sink = new test::RecordingFilter();
  chain.Append(sink);
  test::TempDir dir;
  test::WriteWholeFile(dir.File("in"), std::string("\0A", 2));
  CFile input;
  ASSERT_TRUE(input.Open(dir.File16("in").c_str(), platform::kOpenExisting, platform::kGenericRead,
                         platform::kFileShareRead, 0));
  StatusRecord* record = CurrentStatusRecord();
  record->decoderCharset = 7;
  record->encoderCharset = 7;
  EXPECT_TRUE(test::RunReported(input));
  const StatusRecord copy = *record;
  EXPECT_EQ(std::uint32_t{copy.decoderCharset}, 102u);
  EXPECT_EQ(std::uint32_t{copy.encoderCharset}, 101u);
  EXPECT_EQ(std::uint32_t{copy.decoderErrors}, 0u);
  chain.Clear();
  ResetSettings();
}

}  // namespace
}  // namespace ordana
