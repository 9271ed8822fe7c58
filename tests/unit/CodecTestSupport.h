#pragma once
// Codec tests: one codec in front of a recorder, run through the split
// harness of TestSupport.h with the codec's error count compared as well.

#include <string>
#include <vector>

#include "TestSupport.h"

namespace ordana::test {

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
    return RunOnce(chain, *sink, input, splits, codec);
  }
  Outcome ConvertEveryWay(const std::string& input, const std::string& what) {
    return test::ConvertEveryWay(chain, *sink, input, what, codec);
  }
};

}  // namespace ordana::test
