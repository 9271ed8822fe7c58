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
#include <cstring>
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

// One parsed statistics file. The single bytes have a slot each (0.0 when
// absent, which adds nothing); pairs and triples are read where the file
// holds them, as its entries (a key and a weight, 12 bytes), when the file
// lists each key once in ascending order, as real tables do, and otherwise
// from a sorted copy. Loading a file thus makes no allocation per entry.
// Scoring many samples goes through CStatisticsSet, which lays every file
// out side by side.
class CStatisticsModel {
 public:
  CStatisticsModel();
  void Clear();

  // The score of a sample: over the positions j with j + 4 < n, the weights
  // of b[j], of the pair b[j] b[j+1] and of the triple b[j] b[j+1] b[j+2] are
  // summed per table in the order of the positions; the total is the pair
  // sum times 50, plus the single sum, plus the triple sum times 500.
  double Score(const std::uint8_t* b, std::uint32_t n) const;

  double SingleWeight(std::uint8_t byte) const { return singles_[byte]; }
  // 0.0 for a pair or triple the file does not list.
  double PairWeight(std::uint32_t pair) const { return Find(pairs_, pair); }
  double TripleWeight(std::uint32_t triple) const { return Find(triples_, triple); }
  // Calls `f(key, weight)` for every pair or triple the file lists, in
  // ascending order of the keys.
  template <class F>
  void ForEachPair(F f) const {
    ForEach(pairs_, f);
  }
  template <class F>
  void ForEachTriple(F f) const {
    ForEach(triples_, f);
  }

  CharsetId charset = 0;
  char label[4] = {'E', 'N', 'G', 0};

 private:
  friend StatisticsLoad LoadStatisticsModel(const char16_t* path, CStatisticsModel* model);

  // A table's entries, ascending by key and each key once: `count` entries
  // from `offset` in the file's bytes, or in sorted_ when `sorted`.
  struct Table {
    bool sorted = false;
    std::uint32_t offset = 0;
    std::uint32_t count = 0;
  };
  const std::uint8_t* Entries(const Table& table) const {
    return (table.sorted ? sorted_[&table == &triples_] : data_).data() + table.offset;
  }
  // A little-endian word of the file (spelled out byte by byte, which
  // compilers read with one load on a little-endian machine), and an
  // entry's key and weight.
  static std::uint32_t U32At(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  }
  static std::uint32_t KeyAt(const std::uint8_t* entry) { return U32At(entry); }
  static double WeightAt(const std::uint8_t* entry) {
    const std::uint64_t bits = U32At(entry + 4) | (std::uint64_t{U32At(entry + 8)} << 32);
    double weight;
    std::memcpy(&weight, &bits, sizeof weight);
    return weight;
  }
  double Find(const Table& table, std::uint32_t key) const;
  template <class F>
  void ForEach(const Table& table, F f) const {
    const std::uint8_t* entry = Entries(table);
    for (std::uint32_t e = 0; e < table.count; ++e, entry += kEntryBytes) {
      f(KeyAt(entry), WeightAt(entry));
    }
  }
  // Takes the `count` entries at `offset` of the file's bytes as table
  // 0 (single bytes), 1 (pairs) or 2 (triples): keys no sample can form (a
  // "single byte" above 0xFF) are left out, and a later entry for the same
  // key replaces an earlier one. False if a weight is not usable.
  bool TakeBlock(int table, std::uint32_t offset, std::uint32_t count);
  void TakeUnordered(Table* table, std::vector<std::uint8_t>* copy, std::uint32_t offset,
                     std::uint32_t count, std::uint32_t limit);

  static constexpr std::uint32_t kEntryBytes = 12;
  double singles_[256] = {};
  std::vector<std::uint8_t> data_;  // the file
  std::vector<std::uint8_t> sorted_[2];
  Table pairs_;
  Table triples_;
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
  // lists, and the files that do not list a pair or triple another file
  // lists.
  void ScoreAll(const std::uint8_t* b, std::uint32_t n, std::vector<double>* scores) const;

 private:
  void BuildScoringIndex();
  void IndexSingles();
  void IndexPairs();
  void IndexTriples();
  // The positions base .. base + 63 that some weighed key may touch, as a
  // bit each: all of them, or, when every weighed key holds a high byte,
  // those where b[j], b[j + 1] or b[j + 2] is 0x80 or above. The n - base
  // bytes from base on may be read (at most 80 of them).
  std::uint64_t CandidatePositions(const std::uint8_t* b, std::uint32_t base,
                                   std::uint32_t n) const;
  // Adds the weights of a single byte to the sums (Count() of them).
  void AddSingle(std::uint8_t byte, double* s1) const;
  // Adds the weights of the triples of group entries begin .. end that
  // begin with `first`.
  void AddTriples(std::uint8_t first, std::uint32_t begin, std::uint32_t end, double* s3) const;
  // Where a position's pair and triples are.
  struct Lookup {
    std::uint32_t position;
    std::uint32_t pairsBegin;
    std::uint32_t pairsEnd;
    std::uint32_t triplesBegin;
    std::uint32_t triplesEnd;
  };
  // Looks up where the weights of the candidate positions base .. base + 63
  // are, and starts fetching them; returns how many positions there are.
  std::uint32_t GatherBlock(const std::uint8_t* b, std::uint32_t base, std::uint32_t n,
                            Lookup* lookups) const;
  // Adds the weights of looked-up positions to the sums, in their order.
  void AddWeights(const std::uint8_t* b, const Lookup* lookups, std::uint32_t count, double* s1,
                  double* s2, double* s3) const;

  std::vector<std::unique_ptr<CStatisticsModel>> models_;
  // Whether every single byte, pair and triple some file weighs holds a
  // byte 0x80 or above.
  bool keysHoldHighByte_ = true;
  // The single bytes side by side, one row of Count() doubles per byte, and
  // which bytes some file weighs.
  bool weightedSingle_[256] = {};
  std::vector<double> singles_;
  // Pairs and triples are laid out sparsely, as few files weigh any one of
  // them: only the weights other than zero are kept, each with its file.
  // The files that weigh pair p are pairs_[slots_[p].pairs ..
  // slots_[p + 1].pairs), in the order of the files; the triples that end
  // in the two bytes p are tripleEntries_[slots_[p].triples ..
  // slots_[p + 1].triples), file by file, with their first bytes alongside
  // in firstBytes_ (16 bytes longer, so that they are compared sixteen at
  // a time).
  struct SparseWeight {
    double weight;
    std::uint32_t model;
  };
  struct PairSlot {
    std::uint32_t pairs;
    std::uint32_t triples;
  };
  std::vector<PairSlot> slots_;  // 65537 entries
  std::vector<SparseWeight> pairs_;
  std::vector<SparseWeight> tripleEntries_;
  std::vector<std::uint8_t> firstBytes_;
  mutable std::vector<double> sums_;
};

}  // namespace ordana
