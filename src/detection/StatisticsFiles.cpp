#include "detection/StatisticsFiles.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/MessageLog.h"
#include "core/StringTable.h"
#include "platform/Platform.h"
#include "support/Bits.h"

namespace ordana {

namespace {

constexpr std::uint32_t kHeaderSize = 16;
constexpr std::uint32_t kBlockHeaderSize = 12;
constexpr std::uint32_t kEntrySize = 12;
constexpr double kTableWeights[3] = {1.0, 50.0, 500.0};

// Level-2 messages of the loader.
constexpr std::uint32_t kMessageNotRegular = 331;
constexpr std::uint32_t kMessageTooLarge = 332;
constexpr std::uint32_t kMessageBadWeight = 333;
constexpr std::uint32_t kMessageNotSingleByte = 334;
constexpr std::uint32_t kMessageUnreadable = 335;

std::uint32_t ReadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

double ReadDouble(const std::uint8_t* p) {
  std::uint64_t bits = 0;
  for (int k = 7; k >= 0; --k) bits = (bits << 8) | p[k];
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

bool IsSingleByteCharset(CharsetId id) {
  return id < static_cast<CharsetId>(kSingleByteCharsetCount);
}

bool IsUsableWeight(double w) {
  return std::isfinite(w) && std::fabs(w) <= kLargestStatisticsWeight;
}

// Reads a whole open file of `size` bytes (at most kLargestStatisticsFile);
// what was read before a failure stays in `data`.
bool ReadWhole(platform::Handle handle, std::uint64_t size, std::vector<std::uint8_t>* data) {
  data->resize(static_cast<std::size_t>(size));
  std::size_t read = 0;
  bool ok = true;
  while (read < data->size()) {
    std::uint32_t n = 0;
    if (!platform::ReadFile(handle, data->data() + read,
                            static_cast<std::uint32_t>(data->size() - read), &n)) {
      ok = false;
      break;
    }
    if (n == 0) break;  // the file shrank since it was measured
    read += n;
  }
  data->resize(read);
  return ok;
}

}  // namespace

// ---- CStatisticsModel -------------------------------------------------------

CStatisticsModel::CStatisticsModel() { Clear(); }

void CStatisticsModel::Clear() {
  std::fill(singles_, singles_ + 256, 0.0);
  pairs_.clear();
  triples_.clear();
  std::memcpy(label, "ENG", 4);
  charset = 0;
}

void CStatisticsModel::Put(std::vector<WeightedKey>* table, std::uint32_t key, double weight) {
  if (table->empty() || table->back().key < key) {
    table->push_back({key, weight});
    return;
  }
  auto at = std::lower_bound(table->begin(), table->end(), key,
                             [](const WeightedKey& e, std::uint32_t k) { return e.key < k; });
  if (at->key == key) {
    at->weight = weight;
  } else {
    table->insert(at, {key, weight});
  }
}

double CStatisticsModel::Find(const std::vector<WeightedKey>& table, std::uint32_t key) {
  auto at = std::lower_bound(table.begin(), table.end(), key,
                             [](const WeightedKey& e, std::uint32_t k) { return e.key < k; });
  return at != table.end() && at->key == key ? at->weight : 0.0;
}

double CStatisticsModel::PairWeight(std::uint32_t pair) const { return Find(pairs_, pair); }

double CStatisticsModel::TripleWeight(std::uint32_t triple) const { return Find(triples_, triple); }

void CStatisticsModel::Reserve(int table, std::uint32_t count) {
  std::vector<WeightedKey>& list = table == 1 ? pairs_ : triples_;
  if (table == 1 || table == 2) list.reserve(list.size() + count);
}

void CStatisticsModel::Set(int table, std::uint32_t key, double weight) {
  if (table == 0 && key < 256) singles_[key] = weight;
  if (table == 1 && key < 65536) Put(&pairs_, key, weight);
  if (table == 2 && key < (1u << 24)) Put(&triples_, key, weight);
}

double CStatisticsModel::Score(const std::uint8_t* b, std::uint32_t n) const {
  double s1 = 0.0;
  double s2 = 0.0;
  double s3 = 0.0;
  for (std::uint32_t j = 0; j + 4 < n; ++j) {
    const std::uint32_t k1 = b[j];
    const std::uint32_t k2 = k1 | (static_cast<std::uint32_t>(b[j + 1]) << 8);
    const std::uint32_t k3 = k2 | (static_cast<std::uint32_t>(b[j + 2]) << 16);
    s1 += singles_[k1];
    s2 += PairWeight(k2);
    s3 += TripleWeight(k3);
  }
  double score = s2 * kTableWeights[1];
  score += s1 * kTableWeights[0];
  score += s3 * kTableWeights[2];
  return score;
}

// ---- Loading ------------------------------------------------------------------

StatisticsLoad LoadStatisticsModel(const char16_t* path, CStatisticsModel* model) {
  model->Clear();
  std::uint64_t size = 0;
  bool notRegular = false;
  const platform::Handle handle = platform::OpenRegularFileForReading(path, &size, &notRegular);
  if (handle == platform::kInvalidHandle) {
    return notRegular ? StatisticsLoad::kNotRegular : StatisticsLoad::kOpenFailed;
  }
  if (size > kLargestStatisticsFile) {
    // Only read: closing it cannot lose anything.
    (void)platform::CloseHandle(handle);
    return StatisticsLoad::kTooLarge;
  }
  std::vector<std::uint8_t> data;
  const bool readOk = ReadWhole(handle, size, &data);
  // Only read: closing it cannot lose anything.
  (void)platform::CloseHandle(handle);

  if (data.size() < 4 || std::memcmp(data.data(), "STAT", 4) != 0) {
    return StatisticsLoad::kNotStatistics;
  }
  std::uint8_t header[kHeaderSize] = {};
  std::memcpy(header, data.data(), std::min<std::size_t>(data.size(), kHeaderSize));
  std::memcpy(model->label, header + 4, 4);
  model->charset = ReadU32(header + 8);

  // Up to three blocks; a block whose entries would run past the bytes read
  // contributes the entries that are there, and parsing ends with it.
  const std::uint8_t* body = data.data() + std::min<std::size_t>(data.size(), kHeaderSize);
  const std::uint32_t read = static_cast<std::uint32_t>(data.size() - (body - data.data()));
  std::uint32_t pos = 0;
  bool weightsOk = true;
  for (int t = 0; t < 3; ++t) {
    if (read - pos < kBlockHeaderSize || std::memcmp(body + pos, "STBL", 4) != 0) break;
    const std::uint32_t count = ReadU32(body + pos + 8);
    pos += kBlockHeaderSize;
    const std::uint32_t fit = (read - pos) / kEntrySize;
    const std::uint32_t take = count < fit ? count : fit;
    model->Reserve(t, take);
    for (std::uint32_t e = 0; e < take; ++e, pos += kEntrySize) {
      const double weight = ReadDouble(body + pos + 4);
      if (!IsUsableWeight(weight)) weightsOk = false;
      model->Set(t, ReadU32(body + pos), weight);
    }
    if (take < count) break;
  }
  if (!weightsOk) return StatisticsLoad::kBadWeight;
  if (!IsSingleByteCharset(model->charset)) return StatisticsLoad::kNotSingleByte;
  return readOk ? StatisticsLoad::kLoaded : StatisticsLoad::kReadFailed;
}

// ---- CStatisticsSet -------------------------------------------------------------

CStatisticsSet::CStatisticsSet() = default;

CStatisticsSet::~CStatisticsSet() = default;

void CStatisticsSet::Load(const std::u16string& directory) {
  models_.clear();
  std::vector<platform::DirectoryEntry> entries;
  platform::ErrorClass error;
  if (platform::ListDirectory(directory.c_str(), &entries, &error)) {
    std::sort(entries.begin(), entries.end(),
              [](const platform::DirectoryEntry& a, const platform::DirectoryEntry& b) {
                return a.name < b.name;
              });
  }
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.isDirectory || entry.linkToDirectory) continue;
    if (!platform::MatchPathSpec(entry.name.c_str(), u"*.dat")) continue;
    std::u16string path = directory;
    if (path.back() != platform::kPathSeparator) path += platform::kPathSeparator;
    path += entry.name;
    auto model = std::make_unique<CStatisticsModel>();
    switch (LoadStatisticsModel(path.c_str(), model.get())) {
      case StatisticsLoad::kLoaded:
        models_.push_back(std::move(model));
        break;
      case StatisticsLoad::kNotStatistics:
        break;  // some other program's .dat file
      case StatisticsLoad::kNotRegular:
        LogResourceMessage(kLevelDetails, MessageKind::kInformation, kMessageNotRegular, path);
        break;
      case StatisticsLoad::kTooLarge:
        LogResourceMessage(kLevelDetails, MessageKind::kInformation, kMessageTooLarge, path,
                           static_cast<std::uint32_t>(kLargestStatisticsFile));
        break;
      case StatisticsLoad::kBadWeight:
        LogResourceMessage(kLevelDetails, MessageKind::kInformation, kMessageBadWeight, path,
                           static_cast<std::uint32_t>(kLargestStatisticsWeight),
                           static_cast<std::uint32_t>(kLargestStatisticsWeight));
        break;
      case StatisticsLoad::kNotSingleByte:
        // The detection could only hand such a file's set to a decoder that
        // cannot serve it.
        LogResourceMessage(kLevelDetails, MessageKind::kInformation, kMessageNotSingleByte, path,
                           model->charset);
        break;
      case StatisticsLoad::kOpenFailed:
      case StatisticsLoad::kReadFailed:
        LogResourceMessage(kLevelDetails, MessageKind::kInformation, kMessageUnreadable, path,
                           DescribeError(platform::LastError()));
        break;
    }
  }
  BuildScoringIndex();
}

namespace {

// The slot of a triple key in an open-addressing table of 2^(32 - shift)
// slots (at least 512): the second and third bytes choose a run of 256
// slots (Fibonacci hashing), the first byte the slot in it. A file lists its
// triples by ascending key, so the triples that differ only in their first
// byte come one after the other and fill one run; a text's triples with the
// same two last bytes are found close together as well.
inline std::uint32_t TripleSlot(std::uint32_t key, std::uint32_t shift) {
  return (((key >> 8) * 0x9E3779B1u) >> (shift + 8) << 8) | (key & 0xFF);
}

// Whether one of the bytes of a key is 0x80 or above.
inline bool HoldsHighByte(std::uint32_t key) { return (key & 0x808080u) != 0; }

}  // namespace

void CStatisticsSet::BuildScoringIndex() {
  keysHoldHighByte_ = true;
  IndexSinglesAndPairs();
  IndexTriples();
}

void CStatisticsSet::IndexSinglesAndPairs() {
  const std::size_t m = models_.size();
  singles_.assign(256 * m, 0.0);
  for (std::uint32_t b = 0; b < 256; ++b) {
    weightedSingle_[b] = false;
    for (std::size_t k = 0; k < m; ++k) {
      singles_[b * m + k] = models_[k]->SingleWeight(static_cast<std::uint8_t>(b));
      if (singles_[b * m + k] != 0.0) weightedSingle_[b] = true;
    }
    if (weightedSingle_[b] && b < 0x80) keysHoldHighByte_ = false;
  }
  // A row for every pair some file weighs, numbered in the order they are
  // first met; counted first, so that the rows are laid out at once.
  pairRow_.assign(65536, 0);
  std::uint32_t rows = 1;  // row 0: zeros
  for (const auto& model : models_) {
    model->ForEachPair([&](std::uint32_t key, double weight) {
      if (weight != 0.0 && pairRow_[key] == 0) pairRow_[key] = rows++;
    });
  }
  pairs_.assign(std::size_t{rows} * m, 0.0);
  for (std::size_t k = 0; k < m; ++k) {
    models_[k]->ForEachPair([&](std::uint32_t key, double weight) {
      if (weight == 0.0) return;  // adds nothing to any sum
      pairs_[pairRow_[key] * m + k] = weight;
      if (!HoldsHighByte(key)) keysHoldHighByte_ = false;
    });
  }
}

void CStatisticsSet::IndexTriples() {
  const std::size_t m = models_.size();
  tripleFirstPairs_.assign(65536, false);
  std::size_t tripleCount = 0;
  for (const auto& model : models_) {
    model->ForEachTriple([&](std::uint32_t, double weight) { tripleCount += weight != 0.0; });
  }
  // Room for every triple at most half full: a lookup probes one or two
  // slots. Rows are numbered in the order the triples are first met.
  std::uint32_t bits = 9;  // runs of 256 slots, at least two of them
  while ((std::size_t{1} << bits) < 2 * tripleCount) ++bits;
  tripleShift_ = 32 - bits;
  const std::uint32_t mask = (1u << bits) - 1;
  tripleSlots_.assign(std::size_t{1} << bits, TripleSlotEntry{0, 0});
  std::vector<std::uint32_t> counts(1, 0);  // per row, row 0 unused
  std::vector<std::uint32_t> rows;          // of every weighted triple, file by file
  rows.reserve(tripleCount);
  for (std::size_t k = 0; k < m; ++k) {
    models_[k]->ForEachTriple([&](std::uint32_t key, double weight) {
      if (weight == 0.0) return;  // adds nothing to any sum
      std::uint32_t slot = TripleSlot(key, tripleShift_);
      while (tripleSlots_[slot].row != 0 && tripleSlots_[slot].key != key) slot = (slot + 1) & mask;
      if (tripleSlots_[slot].row == 0) {
        tripleSlots_[slot] = {key, static_cast<std::uint32_t>(counts.size())};
        counts.push_back(0);
        tripleFirstPairs_[key & 0xFFFF] = true;
        if (!HoldsHighByte(key)) keysHoldHighByte_ = false;
      }
      ++counts[tripleSlots_[slot].row];
      rows.push_back(tripleSlots_[slot].row);
    });
  }
  // Few files list any one triple: a row holds only the files that do (the
  // others would add zeros), in the order of the files.
  tripleStart_.assign(counts.size() + 1, 0);
  for (std::size_t r = 1; r < counts.size(); ++r) tripleStart_[r + 1] = tripleStart_[r] + counts[r];
  triples_.resize(tripleStart_.back());
  std::vector<std::uint32_t> next(tripleStart_.begin(), tripleStart_.end() - 1);
  const std::uint32_t* row = rows.data();
  for (std::size_t k = 0; k < m; ++k) {
    models_[k]->ForEachTriple([&](std::uint32_t, double weight) {
      if (weight != 0.0) triples_[next[*row++]++] = {static_cast<std::uint32_t>(k), weight};
    });
  }
}

std::uint32_t CStatisticsSet::TripleRow(std::uint32_t key) const {
  const std::uint32_t mask = static_cast<std::uint32_t>(tripleSlots_.size() - 1);
  for (std::uint32_t slot = TripleSlot(key, tripleShift_);; slot = (slot + 1) & mask) {
    const TripleSlotEntry& entry = tripleSlots_[slot];
    if (entry.row == 0) return 0;
    if (entry.key == key) return entry.row;
  }
}

std::uint64_t CStatisticsSet::CandidatePositions(const std::uint8_t* b, std::uint32_t base,
                                                 std::uint32_t n) const {
  if (!keysHoldHighByte_) return ~std::uint64_t{0};
  // Bit q of `high` (q < 64) and of `tail` (q - 64) says whether the byte
  // at base + q is 0x80 or above.
  std::uint64_t high = 0;
  std::uint64_t tail = 0;
  const std::uint32_t avail = n - base;
#if ORDANA_HAVE_SSE2
  if (avail >= 80) {
    const auto* p = reinterpret_cast<const __m128i*>(b + base);
    for (int q = 0; q < 4; ++q) {
      high |= std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_loadu_si128(p + q)))}
              << (16 * q);
    }
    tail = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_loadu_si128(p + 4))) & 3u;
    return high | (high >> 1) | (high >> 2) | (tail << 63) | (tail << 62);
  }
#endif
  const std::uint32_t count = std::min<std::uint32_t>(avail, 66);
  for (std::uint32_t q = 0; q < count; ++q) {
    if (b[base + q] < 0x80) continue;
    if (q < 64) {
      high |= std::uint64_t{1} << q;
    } else {
      tail |= std::uint64_t{1} << (q - 64);
    }
  }
  // Position q reads the bytes q, q + 1 and q + 2.
  return high | (high >> 1) | (high >> 2) | (tail << 63) | (tail << 62);
}

void CStatisticsSet::ScorePosition(const std::uint8_t* b, std::uint32_t j, double* s1, double* s2,
                                   double* s3) const {
  const std::size_t m = models_.size();
  if (weightedSingle_[b[j]]) {
    const double* const w1 = singles_.data() + b[j] * m;
    for (std::size_t k = 0; k < m; ++k) s1[k] += w1[k];
  }
  const std::uint32_t k2 = b[j] | (static_cast<std::uint32_t>(b[j + 1]) << 8);
  if (pairRow_[k2] != 0) {
    const double* const w2 = pairs_.data() + pairRow_[k2] * m;
    for (std::size_t k = 0; k < m; ++k) s2[k] += w2[k];
  }
  const std::uint32_t k3 = k2 | (static_cast<std::uint32_t>(b[j + 2]) << 16);
  if (!tripleFirstPairs_[k2]) return;
  const std::uint32_t row = TripleRow(k3);
  for (std::uint32_t e = tripleStart_[row]; e < tripleStart_[row + 1]; ++e) {
    s3[triples_[e].model] += triples_[e].weight;
  }
}

void CStatisticsSet::ScoreAll(const std::uint8_t* b, std::uint32_t n,
                              std::vector<double>* scores) const {
  const std::size_t m = models_.size();
  sums_.assign(3 * m, 0.0);
  double* const s1 = sums_.data();
  double* const s2 = s1 + m;
  double* const s3 = s2 + m;
  // The positions j with j + 4 < n, 64 at a time, in their order.
  const std::uint32_t positions = n > 4 ? n - 4 : 0;
  for (std::uint32_t base = 0; base < positions; base += 64) {
    std::uint64_t candidates = CandidatePositions(b, base, n);
    if (positions - base < 64) candidates &= (std::uint64_t{1} << (positions - base)) - 1;
    for (std::uint32_t half = 0; half < 64; half += 32) {
      for (auto bits = static_cast<std::uint32_t>(candidates >> half); bits != 0;
           bits &= bits - 1) {
        ScorePosition(b, base + half + CountTrailingZeros(bits), s1, s2, s3);
      }
    }
  }
  scores->resize(m);
  for (std::size_t k = 0; k < m; ++k) {
    double score = s2[k] * kTableWeights[1];
    score += s1[k] * kTableWeights[0];
    score += s3[k] * kTableWeights[2];
    (*scores)[k] = score;
  }
}

}  // namespace ordana
