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

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codecs/CharsetRegistry.h"

namespace ordana {

// The largest statistics file that is read: a real table of a few thousand
// pairs and triples is about 100 KiB.
constexpr std::uint64_t kLargestStatisticsFile = 1024 * 1024;
// The largest weight (in absolute value) a usable file may hold. A real
// table's weights are log-likelihood ratios of a few bits, at most about 100
// for a byte a set leaves undefined; anything far beyond that can only be
// there to outvote every other file.
constexpr double kLargestStatisticsWeight = 10000.0;

// One parsed statistics file. The single bytes have a slot each (0.0 when
// absent, which adds nothing); pairs and triples are kept sorted by key, so
// that loading a file makes no allocation per entry. Scoring many samples
// goes through CStatisticsSet, which lays every file out side by side.
class CStatisticsModel {
 public:
  CStatisticsModel();
  void Clear();
  // Sets the weight of `key` in table 0 (single bytes), 1 (pairs) or 2
  // (triples); a later entry for the same key replaces an earlier one. Keys
  // that no sample can form (a "single byte" above 0xFF) are left out: they
  // would never be found.
  void Set(int table, std::uint32_t key, double weight);
  // Makes room for `count` more entries in table 1 or 2, so that a file's
  // block is read without the list growing step by step.
  void Reserve(int table, std::uint32_t count);

  // The score of a sample: over the positions j with j + 4 < n, the weights
  // of b[j], of the pair b[j] b[j+1] and of the triple b[j] b[j+1] b[j+2] are
  // summed per table in the order of the positions; the total is the pair
  // sum times 50, plus the single sum, plus the triple sum times 500.
  double Score(const std::uint8_t* b, std::uint32_t n) const;

  double SingleWeight(std::uint8_t byte) const { return singles_[byte]; }
  // 0.0 for a pair or triple the file does not list.
  double PairWeight(std::uint32_t pair) const;
  double TripleWeight(std::uint32_t triple) const;
  // Calls `f(key, weight)` for every pair or triple the file lists, in
  // ascending order of the keys.
  template <class F>
  void ForEachPair(F f) const {
    for (const WeightedKey& e : pairs_) f(e.key, e.weight);
  }
  template <class F>
  void ForEachTriple(F f) const {
    for (const WeightedKey& e : triples_) f(e.key, e.weight);
  }

  CharsetId charset = 0;
  char label[4] = {'E', 'N', 'G', 0};

 private:
  struct WeightedKey {
    std::uint32_t key;
    double weight;
  };
  // Inserts or replaces; the files list their keys in ascending order, so
  // an entry is normally appended.
  static void Put(std::vector<WeightedKey>* table, std::uint32_t key, double weight);
  static double Find(const std::vector<WeightedKey>& table, std::uint32_t key);

  double singles_[256] = {};
  std::vector<WeightedKey> pairs_;
  std::vector<WeightedKey> triples_;
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
[[nodiscard]] StatisticsLoad LoadStatisticsModel(const char16_t* path, CStatisticsModel* model);

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

  // The scores of a sample against every file, in the order of Load, in
  // one pass over the sample: at each position the weights of all files
  // are added side by side, each file's three sums in the order of the
  // positions, so each score is bit-identical to CStatisticsModel::Score.
  // Only additions of exact zeros are left out (a sum that starts at +0.0
  // is never -0.0, and adding a zero to it changes nothing): when every
  // weighed key holds a byte 0x80 or above, as in every real table, the
  // positions whose three bytes are all ASCII (found sixteen bytes at a
  // time); the single bytes no file weighs, the pairs and triples no file
  // lists, and the files that do not list a triple another file lists.
  void ScoreAll(const std::uint8_t* b, std::uint32_t n, std::vector<double>* scores) const;

 private:
  void BuildScoringIndex();
  void IndexSinglesAndPairs();
  void IndexTriples();
  // The positions base .. base + 63 that some weighed key may touch, as a
  // bit each: all of them, or, when every weighed key holds a high byte,
  // those where b[j], b[j + 1] or b[j + 2] is 0x80 or above. The n - base
  // bytes from base on may be read (at most 80 of them).
  std::uint64_t CandidatePositions(const std::uint8_t* b, std::uint32_t base,
                                   std::uint32_t n) const;
  // Adds the weights of position j to the sums (s1, s2, s3: Count() each).
  void ScorePosition(const std::uint8_t* b, std::uint32_t j, double* s1, double* s2,
                     double* s3) const;
  // The row of the triple `key` in triples_, 0 (a row of zeros) when no
  // file lists it.
  std::uint32_t TripleRow(std::uint32_t key) const;

  std::vector<std::unique_ptr<CStatisticsModel>> models_;
  // Whether every single byte, pair and triple some file weighs holds a
  // byte 0x80 or above.
  bool keysHoldHighByte_ = true;
  // The weights side by side, one row of Count() doubles per single byte
  // and per pair row (row 0 of the pairs, of the pairs no file weighs, is
  // all zeros); and which single bytes some file weighs.
  bool weightedSingle_[256] = {};
  std::vector<double> singles_;
  std::vector<std::uint32_t> pairRow_;  // 65536 entries
  std::vector<double> pairs_;
  // The pairs that begin a triple whose weight is not zero in some file:
  // only at those is the table of triples asked.
  std::vector<bool> tripleFirstPairs_;
  // Triple row r (1 and up; 0 for a triple no file lists) is
  // triples_[tripleStart_[r] .. tripleStart_[r + 1]): the files that list
  // it with a weight other than zero, in the order of the files.
  struct TripleWeight {
    std::uint32_t model;
    double weight;
  };
  std::vector<std::uint32_t> tripleStart_;
  std::vector<TripleWeight> triples_;
  // An open-addressing table from a triple's key to its row (row 0: an
  // empty slot).
  struct TripleSlotEntry {
    std::uint32_t key;
    std::uint32_t row;
  };
  std::vector<TripleSlotEntry> tripleSlots_;
  std::uint32_t tripleShift_ = 32;
  mutable std::vector<double> sums_;
};

}  // namespace ordana
