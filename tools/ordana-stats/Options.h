#pragma once
// The command line of ordana-stats: which set, which label, where to write,
// how much of the model to keep, and the sample texts.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codecs/CharsetRegistry.h"

namespace ordana::stats {

struct Options {
  CharsetId charset = 0;
  bool charsetGiven = false;
  char label[4] = {0, 0, 0, 0};
  bool labelGiven = false;
  std::string output;
  std::size_t maxPairs = 3000;
  std::size_t maxTriples = 6000;
  std::uint32_t minCount = 2;
  double highByteBias = 0.0;
  bool quiet = false;
  std::vector<std::string> samples;
};

// Fills `options` from the command line. Returns 0 on success, 2 on a command
// line that cannot be used (after saying why); --help prints the usage and
// ends the program.
int ParseOptions(int argc, char** argv, Options* options);

}  // namespace ordana::stats
