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
#include "detection/DetectionEvidence.h"
#include "detection/StatisticsFiles.h"

namespace ordana {

// How a decision was reached.
enum class DetectionBasis {
  kByteOrderMark,  // a UTF-8, UTF-16 or UTF-32 byte order mark
  kZeroPattern,    // the zero bytes of UTF-16 or UTF-32 in the first units
  kUtf8,           // valid UTF-8 sequences
  kUnicodeShape,   // UTF-16 or UTF-32 without a mark, by the whole sample
  kStatistics,     // the statistics files' scores
  kFallback,       // nothing decided: ISO-8859-15
};

// A set the statistics files scored, with its file's label.
struct DetectionCandidate {
  CharsetId charset;
  char label[5];
  double score;
};

// The last decision of a detection: the set, how it was reached and, when
// the statistics decided, every file's set with its score, best first.
struct DetectionResult {
  CharsetId charset = kCharsetUnknown;
  DetectionBasis basis = DetectionBasis::kFallback;
  std::vector<DetectionCandidate> candidates;
};

class CAutoDetectionInputFilter : public CFilter {
 public:
  // Looks for statistics files in the executable's directory, then in the
  // installed data directory (see StatisticsDirectories). `options` go to
  // the decoder the detection builds.
  explicit CAutoDetectionInputFilter(const CodecOptions& options);
  // Looks for statistics files in `statisticsDirectory`.
  CAutoDetectionInputFilter(const std::u16string& statisticsDirectory, const CodecOptions& options);
  ~CAutoDetectionInputFilter() override;

  bool Process(CBuffer& input) override;
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

  // Decides the character set of a sample as a conversion of it would
  // (the same messages included), without building a decoder: the
  // detection-only runs.
  const DetectionResult& Examine(const std::uint8_t* b, std::uint32_t n);
  // The decision of the last Examine or conversion.
  const DetectionResult& LastDetection() const { return last_; }

  std::uint32_t StatisticsFileCount() const {
    return static_cast<std::uint32_t>(statistics_.Count());
  }
  const char* CurrentLabel() const { return current_.label; }
  CharsetId CurrentCharset() const { return current_.charset; }

 private:
  // Takes the statistics files of the first of `directories` that has any.
  void Construct(const std::vector<std::u16string>& directories);
  // Says at level 1, once per run, that single-byte text cannot be told
  // apart because no statistics files were found.
  void ReportMissingStatisticsFiles() const;
  // Decides the character set of the first chunk of `data` (the pending
  // bytes, or a whole chunk that came at once), puts its decoder behind
  // this filter in place of the successor, and switches this filter off.
  void Detect(const CBuffer& data);
  // Decides the set of a sample and records it in last_.
  CharsetId Decide(const std::uint8_t* b, std::uint32_t n);
  // Records and returns a decision.
  CharsetId Decided(CharsetId charset, DetectionBasis basis);
  // The same, after saying it with `message` and the set's `name`.
  CharsetId DecidedAs(CharsetId charset, DetectionBasis basis, std::uint32_t message,
                      const char16_t* name);
  // A decision by the first units (byte order marks, zero bytes) or by the
  // UTF-8 sequences of the sample; kCharsetUnknown when they tell nothing.
  CharsetId DecideByFirstUnits(const std::uint8_t* b, std::uint32_t n);
  // UTF-32 or UTF-16 without a mark, by the shape of the whole sample;
  // kCharsetUnknown when it is neither.
  CharsetId DecideByUnicodeShape(const std::uint8_t* b, std::uint32_t n,
                                 const SampleByteCounts& counts);
  // The set the statistics files choose, kCharsetUnknown when they cannot.
  CharsetId DecideByStatistics(const std::uint8_t* b, std::uint32_t n,
                               const SampleByteCounts& counts);
  // The parts of that choice, over the files in `order` (best score first)
  // with their `scores`: the Western sets kept against a weak lead, then
  // among close scores a set that decodes the text cleanly and the family's
  // favourite; and the messages that tell the choice and the runner-up.
  std::size_t KeepWesternOnWeakLead(const std::vector<std::size_t>& order,
                                    const std::vector<double>& scores) const;
  std::size_t SettleCloseScores(const std::vector<std::size_t>& order,
                                const std::vector<double>& scores, std::size_t chosen,
                                const SampleBytes& sample) const;
  void ReportStatisticsChoice(const std::vector<std::size_t>& order,
                              const std::vector<double>& scores, std::size_t chosen,
                              const SampleBytes& sample) const;
  // The decoder of a decided set.
  CFilter* MakeDecoder(CharsetId charset) const;

  CodecOptions options_;
  CStatisticsSet statistics_;
  CStatisticsModel current_;
  DetectionResult last_;
  std::u16string searchedDirectories_;  // for the message when none was found
};

}  // namespace ordana
