#pragma once
// A harness for codec tests: one codec in front of a recorder, converted
// whole, split at every offset and in small chunks, comparing the output, the
// messages and the codec's error count every way.

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace ordana::test {

struct Outcome {
  std::string output;
  std::u16string log;
  std::uint32_t errors = 0;
};

// One conversion of `input`, cut into chunks at `splits`, with the messages
// and `codec`'s error count as they stand after Finish.
inline Outcome RunOnce(CFilterChain& chain, CFilter& codec, RecordingFilter& sink,
                const std::string& input, const std::vector<std::size_t>& splits = {}) {
  test::LogCapture log(2);
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
    chunk.Append(input.data() + start, static_cast<std::uint32_t>(end - start));
    if (!chunk.empty()) chain.Process(chunk, start);
    start = end;
  }
  chain.Flush();
  chain.Finish();
  Outcome outcome{sink.received, log.text(), codec.errorCount()};
  chain.Reset();
  return outcome;
}

inline void ExpectSame(const Outcome& whole, const Outcome& split, const std::string& what) {
  EXPECT_EQ(split.output, whole.output) << what;
  EXPECT_EQ(split.log, whole.log) << what;
  EXPECT_EQ(split.errors, whole.errors) << what;
}

// Converts `input` whole, split once at every offset and in chunks of 1 to
// 7 bytes; every way must give the same result, which is returned.
inline Outcome ConvertEveryWay(CFilterChain& chain, CFilter& codec, RecordingFilter& sink,
                        const std::string& input, const std::string& what) {
  const Outcome whole = RunOnce(chain, codec, sink, input);
  for (std::size_t at = 1; at < input.size(); ++at) {
    ExpectSame(whole, RunOnce(chain, codec, sink, input, {at}),
               what + ": split at " + std::to_string(at));
  }
  for (std::size_t size = 1; size <= 7; ++size) {
    std::vector<std::size_t> splits;
    for (std::size_t at = size; at < input.size(); at += size) splits.push_back(at);
    ExpectSame(whole, RunOnce(chain, codec, sink, input, splits),
               what + ": chunks of " + std::to_string(size));
  }
  // The shared helper must agree as well.
  EXPECT_EQ(test::ConvertAllSplits(chain, sink, input), whole.output) << what;
  return whole;
}

inline std::vector<std::size_t> RandomSplits(std::mt19937& random, std::size_t size) {
  std::vector<std::size_t> splits;
  if (size < 2) return splits;
  const std::size_t count = std::uniform_int_distribution<std::size_t>(0, 12)(random);
  std::uniform_int_distribution<std::size_t> at(1, size - 1);
  for (std::size_t k = 0; k < count; ++k) splits.push_back(at(random));
  std::sort(splits.begin(), splits.end());
  splits.erase(std::unique(splits.begin(), splits.end()), splits.end());
  return splits;
}

// A decoder or an encoder alone in front of a recorder.
struct SingleCodecChain {
  CFilterChain chain;
  CFilter* codec;
  RecordingFilter* sink = new RecordingFilter();
  explicit SingleCodecChain(CFilter* filter) : codec(filter) {
    chain.Append(codec);
    chain.Append(sink);
  }
  Outcome Run(const std::string& input, const std::vector<std::size_t>& splits = {}) {
    return RunOnce(chain, *codec, *sink, input, splits);
  }
  Outcome ConvertEveryWay(const std::string& input, const std::string& what) {
    return test::ConvertEveryWay(chain, *codec, *sink, input, what);
  }
};

}  // namespace ordana::test
