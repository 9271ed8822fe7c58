// ordana-stats: writes one statistics file (*.dat) that teaches Ordana's
// automatic detection a single-byte character set.
//
//   ordana-stats --charset <id|name> --label <text> --output <file.dat> [options] <sample.txt>...
//
// The samples are UTF-8 text.  Every character is encoded into the set with
// the program's own mapping table; a character the set cannot encode (or a
// malformed UTF-8 sequence) ends the current run of text, so that no n-gram
// spans the gap.
//
// The parts: Options (the command line), NgramCounter (encoding the samples
// and counting), Model (the weights; what they mean is told there) and
// StatisticsFile (the file format and writing it safely).

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "codecs/CharsetRegistry.h"
#include "ordana-stats/Model.h"
#include "ordana-stats/NgramCounter.h"
#include "ordana-stats/Options.h"
#include "ordana-stats/StatisticsFile.h"

namespace ordana::stats {
namespace {

// Tells what was written and how the detection will see the training text
// itself, run by run.
void Report(const Options& options, const NgramCounter& counter, const Tables& tables,
            std::size_t written) {
  char16_t name16[64];
  CharsetName(options.charset, name16);
  std::string name;
  for (const char16_t* p = name16; *p != 0; ++p) name.push_back(static_cast<char>(*p));
  const std::vector<std::uint8_t>& encoded = counter.Encoded();
  DetectionScorer scorer(tables);
  double score = 0;
  std::size_t scored = 0, start = 0;
  for (std::uint32_t end : counter.RunEnds()) {
    if (end - start > 4) {
      score += scorer.Score(encoded.data() + start, end - start);
      scored += end - start - 4;
    }
    start = end;
  }
  std::fprintf(stderr,
               "ordana-stats: %s (%s, id %u): %zu bytes of text, %llu characters not "
               "encodable, %llu malformed bytes\n",
               options.output.c_str(), name.c_str(), static_cast<unsigned>(options.charset),
               encoded.size(), static_cast<unsigned long long>(counter.Unencodable()),
               static_cast<unsigned long long>(counter.Malformed()));
  std::fprintf(stderr,
               "ordana-stats: %zu single bytes, %zu pairs, %zu triples, %zu bytes written; "
               "the samples score %.2f bits per byte\n",
               tables.singles.size(), tables.pairs.size(), tables.triples.size(), written,
               scored != 0 ? score / static_cast<double>(scored) : 0.0);
}

int Run(int argc, char** argv) {
  Options options;
  if (int status = ParseOptions(argc, argv, &options); status != 0) {
    return status;
  }
  NgramCounter counter(options.charset);
  for (const std::string& sample : options.samples) {
    if (!counter.AddSample(sample)) {
      std::fprintf(stderr, "ordana-stats: cannot read %s\n", sample.c_str());
      return 1;
    }
  }
  if (counter.Encoded().empty()) {
    std::fprintf(stderr, "ordana-stats: the samples hold no text this character set can encode\n");
    return 1;
  }
  Tables tables = ComputeWeights(options.charset, counter, options);
  std::string data = SerializeStatistics(options.label, options.charset, tables);
  std::string why;
  if (!WriteFileAtomically(options.output, data, &why)) {
    std::fprintf(stderr, "ordana-stats: cannot write %s: %s\n", options.output.c_str(),
                 why.c_str());
    return 1;
  }
  if (!options.quiet) {
    Report(options, counter, tables, data.size());
  }
  return 0;
}

}  // namespace
}  // namespace ordana::stats

int main(int argc, char** argv) { return ordana::stats::Run(argc, argv); }
