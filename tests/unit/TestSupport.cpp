#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace ordana::test {

// A new directory of this process under the system's temporary directory
// (TMPDIR on POSIX, the user's temporary folder on Windows), readable only by
// its owner; created with a random name, so parallel tests never share one.
TempDir::TempDir() {
  namespace fs = std::filesystem;
  const fs::path base = fs::temp_directory_path();
  std::random_device seed;
  std::mt19937_64 random((std::uint64_t{seed()} << 32) ^ seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "ordana-test-%016llx",
                  static_cast<unsigned long long>(random()));
    std::error_code error;
    if (fs::create_directory(base / name, error)) {
      fs::permissions(base / name, fs::perms::owner_all, error);
      path_ = (base / name).string();
      return;
    }
  }
  throw std::runtime_error("no scratch directory in " + base.string());
}

TempDir::~TempDir() {
  // Leaving a scratch directory behind is not worth failing a test over.
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

void Feed(CFilterChain& chain, RecordingFilter& sink, const std::string& input,
          const std::vector<std::size_t>& splits) {
  sink.received.clear();
  sink.calls.clear();
  CBuffer chunk;
  std::size_t start = 0;
  std::vector<std::size_t> ends = splits;
  ends.push_back(input.size());
  for (std::size_t end : ends) {
    if (end < start || end > input.size()) {
      ADD_FAILURE() << "split " << end << " outside the input";
      continue;
    }
    chunk.Clear();
    EXPECT_TRUE(chunk.Append(input.data() + start, static_cast<std::uint32_t>(end - start)));
    if (!chunk.empty()) {
      EXPECT_TRUE(chain.Process(chunk, start));
    }
    start = end;
  }
  EXPECT_TRUE(chain.Flush());
  EXPECT_TRUE(chain.Finish());
}

std::string ConvertThrough(CFilterChain& chain, RecordingFilter& sink, const std::string& input,
                           const std::vector<std::size_t>& splits) {
  Feed(chain, sink, input, splits);
  std::string result = sink.received;
  chain.Reset();
  return result;
}

std::vector<std::vector<std::size_t>> EverySplit(std::size_t size) {
  std::vector<std::vector<std::size_t>> ways;
  for (std::size_t at = 1; at < size; ++at) ways.push_back({at});
  for (std::size_t chunk = 1; chunk <= 7; ++chunk) {
    std::vector<std::size_t> splits;
    for (std::size_t at = chunk; at < size; at += chunk) splits.push_back(at);
    ways.push_back(splits);
  }
  return ways;
}

namespace {

std::string Describe(const std::vector<std::size_t>& splits) {
  if (splits.size() == 1) return "split at " + std::to_string(splits.front());
  if (splits.empty()) return "one chunk";
  return "chunks of " + std::to_string(splits.front());
}

}  // namespace

std::vector<std::size_t> RandomSplits(std::mt19937& random, std::size_t size, std::size_t most) {
  std::vector<std::size_t> splits;
  if (size < 2) return splits;
  const std::size_t count = std::uniform_int_distribution<std::size_t>(0, most)(random);
  std::uniform_int_distribution<std::size_t> at(1, size - 1);
  for (std::size_t k = 0; k < count; ++k) splits.push_back(at(random));
  std::sort(splits.begin(), splits.end());
  splits.erase(std::unique(splits.begin(), splits.end()), splits.end());
  return splits;
}

Outcome RunOnce(CFilterChain& chain, RecordingFilter& sink, const std::string& input,
                const std::vector<std::size_t>& splits, const CFilter* codec) {
  LogCapture log(2);
  Feed(chain, sink, input, splits);
  Outcome outcome{sink.received, log.text(), codec != nullptr ? codec->errorCount() : 0};
  chain.Reset();
  return outcome;
}

void ExpectSame(const Outcome& whole, const Outcome& split, const std::string& what) {
  EXPECT_EQ(split.output, whole.output) << what;
  EXPECT_EQ(split.log, whole.log) << what;
  EXPECT_EQ(split.errors, whole.errors) << what;
}

Outcome ConvertEveryWay(CFilterChain& chain, RecordingFilter& sink, const std::string& input,
                        const std::string& what, const CFilter* codec) {
  const Outcome whole = RunOnce(chain, sink, input, {}, codec);
  for (const std::vector<std::size_t>& splits : EverySplit(input.size())) {
    ExpectSame(whole, RunOnce(chain, sink, input, splits, codec), what + ": " + Describe(splits));
  }
  return whole;
}

std::string ConvertAllSplits(CFilterChain& chain, RecordingFilter& sink, const std::string& input,
                             const std::string& what) {
  const std::string whole = ConvertThrough(chain, sink, input);
  for (const std::vector<std::size_t>& splits : EverySplit(input.size())) {
    EXPECT_EQ(ConvertThrough(chain, sink, input, splits), whole)
        << what << ": " << Describe(splits) << " of " << input.size() << " bytes";
  }
  return whole;
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::u16string ReadLogFile(const std::string& path) {
  const std::string bytes = ReadWholeFile(path);
  if (platform::kPosixConventions) {
    EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF") << path;
    EXPECT_NE(bytes.substr(0, 2), "\xFF\xFE") << path;
    return platform::FromNative(bytes.data(), bytes.size());
  }
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE") << path;
  std::u16string text;
  for (std::size_t k = 2; k + 1 < bytes.size(); k += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[k]) |
                                  (static_cast<unsigned char>(bytes[k + 1]) << 8));
  }
  return text;
}

}  // namespace ordana::test
