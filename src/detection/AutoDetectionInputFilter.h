#pragma once
// The filter that decides an input's character set from its first bytes and
// puts the matching decoder into the chain in place of its successor.
//
// The tests run in a fixed order and the first that fires decides: UTF-16
// marks and zero patterns, the UTF-8 mark and a validity count, UTF-32 marks
// and zero patterns, the statistics files (next to the executable, or
// installed), and last ISO-8859-15. After the hand-over the filter is a
// disabled pass-through until Reset arms it for the next input.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codecs/CharsetRegistry.h"
#include "codecs/CodecBase.h"
#include "core/Filter.h"
#include "detection/StatisticsFiles.h"

namespace ordana {

class CAutoDetectionInputFilter : public CFilter {
 public:
  // Looks for statistics files in the executable's directory, then in the
  // installed data directory (see StatisticsDirectories). `options` go to
  // the decoder the detection builds.
  explicit CAutoDetectionInputFilter(const CodecOptions& options);
  // Looks for statistics files in `statisticsDirectory`.
  CAutoDetectionInputFilter(const std::u16string& statisticsDirectory, const CodecOptions& options);
  ~CAutoDetectionInputFilter() override;

  std::int32_t Filter() override;
  bool Flush(CBuffer& target) override;
  bool Reset() override;

  // Loads the statistics files (*.dat starting with "STAT") of `directory`;
  // they are read once and kept for every input of the run.
  void FindStatisticsFiles(const std::u16string& directory);
  // Loads one file as the current table set; sets the current label and
  // charset id once its header is read. False when it cannot be used.
  bool LoadStatisticsFile(const char16_t* path);
  // The score of a sample against the file loaded last by LoadStatisticsFile.
  double ScoreSample(const std::uint8_t* bytes, std::uint32_t n) const;

  std::uint32_t StatisticsFileCount() const { return static_cast<std::uint32_t>(statistics_.Count()); }
  const char* CurrentLabel() const { return current_.label; }
  CharsetId CurrentCharset() const { return current_.charset; }

 private:
  // Takes the statistics files of the first of `directories` that has any.
  void Construct(const std::vector<std::u16string>& directories);
  // Says at level 1, once per run, that single-byte text cannot be told
  // apart because no statistics files were found.
  void ReportMissingStatisticsFiles() const;
  // Decides the character set of the pending bytes, puts its decoder behind
  // this filter in place of the successor, and switches this filter off.
  void Detect();
  CFilter* DetectDecoder(const std::uint8_t* b, std::uint32_t n);
  CFilter* DetectByStatistics(const std::uint8_t* b, std::uint32_t n);

  CodecOptions options_;
  CStatisticsSet statistics_;
  CStatisticsModel current_;
  std::u16string searchedDirectories_;  // for the message when none was found
};

}  // namespace ordana
