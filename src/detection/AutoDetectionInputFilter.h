#pragma once
// The filter that decides an input's character set from its first bytes and
// puts the matching decoder into the chain in place of its successor.
//
// The tests run in a fixed order and the first that fires decides: UTF-16
// marks and zero patterns, the UTF-8 mark and a validity count, UTF-32 marks
// and zero patterns, the statistics files next to the executable, and last
// ISO-8859-15. After the hand-over the filter is a disabled pass-through
// until Reset arms it for the next input.

#include <bitset>
#include <cstdint>
#include <memory>
#include <string>

#include "codecs/CharsetRegistry.h"
#include "codecs/CodecBase.h"
#include "core/Filter.h"
#include "support/Array.h"
#include "support/HashTable.h"

namespace ordana {

class CAutoDetectionInputFilter : public CFilter {
 public:
  // Looks for statistics files in the executable's directory. `options` go
  // to the decoder the detection builds.
  explicit CAutoDetectionInputFilter(const CodecOptions& options);
  // Looks for statistics files in `statisticsDirectory`.
  CAutoDetectionInputFilter(const std::u16string& statisticsDirectory, const CodecOptions& options);
  ~CAutoDetectionInputFilter() override;

  std::int32_t Filter() override;
  bool Flush(CBuffer& target) override;
  bool Reset() override;

  // The statistics files (*.dat starting with "STAT") in `directory`.
  void FindStatisticsFiles(const std::u16string& directory);
  // Loads one file into the three n-gram tables; sets the current label and
  // charset id once its header is read. False when it cannot be used.
  bool LoadStatisticsFile(const char16_t* path);
  // The score of a sample against the tables loaded last.
  double ScoreSample(const std::uint8_t* bytes, std::uint32_t n) const;

  std::uint32_t StatisticsFileCount() const { return statisticsFiles_.Count(); }
  const char* CurrentLabel() const { return label_; }
  CharsetId CurrentCharset() const { return charset_; }

 private:
  void Construct(const std::u16string& directory);
  // Decides the character set of the pending bytes, puts its decoder behind
  // this filter in place of the successor, and switches this filter off.
  void Detect();
  CFilter* DetectDecoder(const std::uint8_t* b, std::uint32_t n);
  CFilter* DetectByStatistics(const std::uint8_t* b, std::uint32_t n);

  // Mirrors of the tables loaded last for scoring: every single byte and
  // pair has a slot (0.0 when absent, which adds nothing), and a triple is
  // looked up only when some triple of the file starts with its first two
  // bytes. The sums are the same as with lookups in the tables.
  void ClearScoringIndex();
  void IndexEntry(int table, std::uint32_t key, double weight);

  CodecOptions options_;
  CHashTable<std::uint32_t, double> tables_[3];
  double singleWeights_[256] = {};
  std::unique_ptr<double[]> pairWeights_;
  std::unique_ptr<std::bitset<65536>> triplePrefixes_;
  char label_[4] = {'E', 'N', 'G', 0};
  CharsetId charset_ = 0;
  double weights_[3] = {1.0, 50.0, 500.0};
  CArray<char16_t*, CLock, int> statisticsFiles_;
};

}  // namespace ordana
