#include "TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

#include <gtest/gtest.h>

namespace ordana::test {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/ordana-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back(0);
  if (!::mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::string command = "rm -rf '" + path_ + "'";
  if (std::system(command.c_str()) != 0) {
    // Leaving a scratch directory behind is not worth failing a test over.
  }
}

std::string ConvertThrough(CFilterChain& chain, RecordingFilter& sink, const std::string& input,
                           const std::vector<std::size_t>& splits) {
  sink.received.clear();
  CBuffer chunk;
  std::size_t start = 0;
  std::vector<std::size_t> ends = splits;
  ends.push_back(input.size());
  for (std::size_t end : ends) {
    if (end < start || end > input.size()) continue;
    chunk.Clear();
    chunk.Append(input.data() + start, static_cast<std::uint32_t>(end - start));
    if (!chunk.empty()) chain.Process(chunk, start);
    start = end;
  }
  chain.Flush();
  chain.Finish();
  std::string result = sink.received;
  chain.Reset();
  return result;
}

std::string ConvertAllSplits(CFilterChain& chain, RecordingFilter& sink, const std::string& input) {
  const std::string whole = ConvertThrough(chain, sink, input);
  for (std::size_t at = 1; at < input.size(); ++at) {
    std::string split = ConvertThrough(chain, sink, input, {at});
    if (split != whole) {
      ADD_FAILURE() << "split at " << at << " of " << input.size() << " bytes changes the output";
      break;
    }
  }
  for (std::size_t size = 1; size <= 7; ++size) {
    std::vector<std::size_t> splits;
    for (std::size_t at = size; at < input.size(); at += size) splits.push_back(at);
    if (ConvertThrough(chain, sink, input, splits) != whole) {
      ADD_FAILURE() << "chunks of " << size << " bytes change the output";
    }
  }
  return whole;
}

Converted ConvertAllSplitsWithLog(CFilterChain& chain, RecordingFilter& sink,
                                  const std::string& input) {
  auto run = [&](const std::vector<std::size_t>& splits) {
    LogCapture log(2);
    Converted result;
    result.output = ConvertThrough(chain, sink, input, splits);
    result.log = log.narrow();
    return result;
  };
  const Converted whole = run({});
  std::vector<std::vector<std::size_t>> ways;
  for (std::size_t at = 1; at < input.size(); ++at) ways.push_back({at});
  for (std::size_t size = 1; size <= 7; ++size) {
    std::vector<std::size_t> splits;
    for (std::size_t at = size; at < input.size(); at += size) splits.push_back(at);
    ways.push_back(splits);
  }
  for (const auto& splits : ways) {
    const Converted split = run(splits);
    if (split.output != whole.output || split.log != whole.log) {
      ADD_FAILURE() << "splitting at " << splits.front() << " (" << splits.size()
                    << " splits) changes the result:\n"
                    << whole.log << "---\n"
                    << split.log;
      break;
    }
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

}  // namespace ordana::test
