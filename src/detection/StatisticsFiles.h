#pragma once
// Statistics files: what the automatic detection scores single-byte text
// against.
//
// A file is "STAT", a four-byte label, the character set id (u32, little
// endian), a u32 left unused, then up to three blocks: "STBL", a u32 left
// unused, an entry count (u32) and that many entries of a u32 key and an
// IEEE double weight. The blocks hold single bytes, byte pairs (first byte in
// the low eight bits) and byte triples.
//
// The files of a directory are read and checked once, when the detection is
// built, and kept laid out for scoring for the rest of the run.

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codecs/CharsetRegistry.h"
#include "support/HashTable.h"

namespace ordana {

// The largest statistics file that is read: a real table of a few thousand
// pairs and triples is about 100 KiB.
constexpr std::uint64_t kLargestStatisticsFile = 1024 * 1024;
// The largest weight (in absolute value) a usable file may hold. A real
// table's weights are log-likelihood ratios of a few bits, at most about 100
// for a byte a set leaves undefined; anything far beyond that can only be
// there to outvote every other file.
constexpr double kLargestStatisticsWeight = 10000.0;

// One parsed statistics file, laid out for scoring: every single byte and
// pair has a slot (0.0 when absent, which adds nothing), and a triple is
// looked up only when some triple of the file starts with its first two
// bytes. The sums are the same as with lookups in the file's tables.
class CStatisticsModel {
 public:
  CStatisticsModel();
  void Clear();
  // Sets the weight of `key` in table 0 (single bytes), 1 (pairs) or 2
  // (triples); a later entry for the same key replaces an earlier one. Keys
  // that no sample can form (a "single byte" above 0xFF) are left out: they
  // would never be found.
  void Set(int table, std::uint32_t key, double weight);

  // The score of a sample: over the positions j with j + 4 < n, the weights
  // of b[j], of the pair b[j] b[j+1] and of the triple b[j] b[j+1] b[j+2] are
  // summed per table in the order of the positions; the total is the pair
  // sum times 50, plus the single sum, plus the triple sum times 500.
  double Score(const std::uint8_t* b, std::uint32_t n) const;
  // The same sum over the listed positions only (ascending). Equal to
  // Score() bit for bit when every other position adds exact zeros.
  double ScorePositions(const std::uint8_t* b, const std::uint32_t* positions,
                        std::size_t count) const;

  double SingleWeight(std::uint8_t byte) const { return singles_[byte]; }
  double PairWeight(std::uint32_t pair) const { return pairs_[pair]; }
  // Calls `f(key)` for every triple with a weight other than zero.
  template <class F>
  void ForEachWeightedTriple(F f) const {
    for (std::uint32_t key : tripleKeys_) {
      if (const double* w = triples_.Find(key); w && *w != 0.0) f(key);
    }
  }

  CharsetId charset = 0;
  char label[4] = {'E', 'N', 'G', 0};

 private:
  // The sum over `count` positions, the p-th of them positionAt(p).
  template <class PositionAt>
  double Sum(const std::uint8_t* b, std::size_t count, PositionAt positionAt) const;

  double singles_[256] = {};
  std::unique_ptr<double[]> pairs_;
  std::bitset<65536> triplePrefixes_;
  CHashTable<std::uint32_t, double> triples_;
  std::vector<std::uint32_t> tripleKeys_;
};

enum class StatisticsLoad {
  kLoaded,
  kOpenFailed,     // missing, unreadable
  kNotRegular,     // a FIFO, a device, a directory, ...
  kTooLarge,       // more than kLargestStatisticsFile bytes
  kNotStatistics,  // does not start with "STAT"
  kBadWeight,      // a weight that is not finite or beyond kLargestStatisticsWeight
  kNotSingleByte,  // names a set that the detection cannot hand a decoder for
  kReadFailed,     // the read failed part way
};

// Reads and checks one file into `model`. Blocks whose entries would run past
// the end of the file contribute the entries that are there, and parsing ends
// with them; bytes after the third block are ignored. `model` holds what was
// parsed whatever the result; only kLoaded makes it usable.
StatisticsLoad LoadStatisticsModel(const char16_t* path, CStatisticsModel* model);

// Every usable statistics file of a directory, parsed once.
class CStatisticsSet {
 public:
  CStatisticsSet();
  ~CStatisticsSet();

  // Loads the "*.dat" files of `directory` in the order of their names (so
  // that equal scores are decided the same way on every file system). Files
  // that are not statistics files at all are passed over in silence; a
  // statistics file that cannot be used is skipped with a level-2 message.
  void Load(const std::u16string& directory);

  std::size_t Count() const { return models_.size(); }
  const CStatisticsModel& At(std::size_t k) const { return *models_[k]; }

  // The scores of a sample against every file, in the order of Load. Only
  // positions where some file weighs the single byte, the pair or the
  // triple are visited; every other position would add exact zeros, which
  // change no sum, so each score is bit-identical to CStatisticsModel::Score.
  void ScoreAll(const std::uint8_t* b, std::uint32_t n, std::vector<double>* scores) const;

 private:
  void IndexRelevantPositions();

  std::vector<std::unique_ptr<CStatisticsModel>> models_;
  // Pairs whose own weight or whose first byte's weight is not zero in some
  // file, and triples whose weight is not zero in some file.
  std::bitset<65536> relevantPairs_;
  std::vector<std::uint64_t> relevantTriples_;
  mutable std::vector<std::uint32_t> positions_;
};

}  // namespace ordana
