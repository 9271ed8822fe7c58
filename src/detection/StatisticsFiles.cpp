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
constexpr double kTableWeights[3] = {1.0, 50.0, 500.0};

// Level-2 messages of the loader.
constexpr std::uint32_t kMessageNotRegular = 331;
constexpr std::uint32_t kMessageTooLarge = 332;
constexpr std::uint32_t kMessageBadWeight = 333;
constexpr std::uint32_t kMessageNotSingleByte = 334;
constexpr std::uint32_t kMessageUnreadable = 335;

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
  data_.clear();
  sorted_[0].clear();
  sorted_[1].clear();
  pairs_ = Table();
  triples_ = Table();
  std::memcpy(label, "ENG", 4);
  charset = 0;
}

double CStatisticsModel::Find(const Table& table, std::uint32_t key) const {
  const std::uint8_t* const entries = Entries(table);
  std::uint32_t low = 0;
  std::uint32_t high = table.count;
  while (low < high) {
    const std::uint32_t middle = low + (high - low) / 2;
    if (KeyAt(entries + middle * kEntryBytes) < key) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  const std::uint8_t* const at = entries + low * kEntryBytes;
  return low < table.count && KeyAt(at) == key ? WeightAt(at) : 0.0;
}

bool CStatisticsModel::TakeBlock(int table, std::uint32_t offset, std::uint32_t count) {
  const std::uint32_t limit = table == 0 ? 256 : table == 1 ? 65536 : 1u << 24;
  // The usual file lists its keys strictly ascending; those beyond the
  // limit, if any, then come last, and the usable ones are a prefix.
  bool weightsOk = true;
  bool ascending = true;
  std::uint32_t usable = 0;
  for (std::uint32_t e = 0; e < count; ++e) {
    const std::uint8_t* const entry = data_.data() + offset + e * kEntryBytes;
    const std::uint32_t key = KeyAt(entry);
    const double weight = WeightAt(entry);
    if (!IsUsableWeight(weight)) weightsOk = false;
    if (table == 0 && key < limit) singles_[key] = weight;
    if (e > 0 && key <= KeyAt(entry - kEntryBytes)) ascending = false;
    if (key < limit) ++usable;
  }
  if (table == 0) return weightsOk;
  Table* const target = table == 1 ? &pairs_ : &triples_;
  if (ascending) {
    *target = Table{false, offset, usable};
  } else {
    TakeUnordered(target, &sorted_[table - 1], offset, count, limit);
  }
  return weightsOk;
}

void CStatisticsModel::TakeUnordered(Table* table, std::vector<std::uint8_t>* copy,
                                     std::uint32_t offset, std::uint32_t count,
                                     std::uint32_t limit) {
  // The entries by key, the later of two with the same key first, so that
  // the first of each key is the one that counts.
  std::vector<std::uint32_t> order;
  order.reserve(count);
  for (std::uint32_t e = 0; e < count; ++e) {
    if (KeyAt(data_.data() + offset + e * kEntryBytes) < limit) order.push_back(e);
  }
  const std::uint8_t* const entries = data_.data() + offset;
  std::stable_sort(order.begin(), order.end(), [entries](std::uint32_t x, std::uint32_t y) {
    const std::uint32_t kx = KeyAt(entries + x * kEntryBytes);
    const std::uint32_t ky = KeyAt(entries + y * kEntryBytes);
    return kx != ky ? kx < ky : x > y;
  });
  copy->clear();
  std::uint32_t kept = 0;
  for (std::size_t k = 0; k < order.size(); ++k) {
    const std::uint8_t* const entry = entries + order[k] * kEntryBytes;
    if (k > 0 && KeyAt(entry) == KeyAt(entries + order[k - 1] * kEntryBytes)) continue;
    copy->insert(copy->end(), entry, entry + kEntryBytes);
    ++kept;
  }
  *table = Table{true, 0, kept};
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
  std::vector<std::uint8_t>& data = model->data_;
  const bool readOk = ReadWhole(handle, size, &data);
  // Only read: closing it cannot lose anything.
  (void)platform::CloseHandle(handle);

  if (data.size() < 4 || std::memcmp(data.data(), "STAT", 4) != 0) {
    return StatisticsLoad::kNotStatistics;
  }
  std::uint8_t header[kHeaderSize] = {};
  std::memcpy(header, data.data(), std::min<std::size_t>(data.size(), kHeaderSize));
  std::memcpy(model->label, header + 4, 4);
  model->charset = CStatisticsModel::U32At(header + 8);

  // Up to three blocks; a block whose entries would run past the bytes read
  // contributes the entries that are there, and parsing ends with it.
  const auto size32 = static_cast<std::uint32_t>(data.size());
  std::uint32_t pos = std::min<std::uint32_t>(size32, kHeaderSize);
  bool weightsOk = true;
  for (int t = 0; t < 3; ++t) {
    if (size32 - pos < kBlockHeaderSize || std::memcmp(data.data() + pos, "STBL", 4) != 0) break;
    const std::uint32_t count = CStatisticsModel::U32At(data.data() + pos + 8);
    pos += kBlockHeaderSize;
    const std::uint32_t fit = (size32 - pos) / CStatisticsModel::kEntryBytes;
    const std::uint32_t take = count < fit ? count : fit;
    if (!model->TakeBlock(t, pos, take)) weightsOk = false;
    pos += take * CStatisticsModel::kEntryBytes;
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

constexpr std::uint32_t kPairKeys = 65536;
constexpr std::uint32_t kFirstBytePadding = 16;

// Whether one of the bytes of a key is 0x80 or above.
inline bool HoldsHighByte(std::uint32_t key) { return (key & 0x808080u) != 0; }

}  // namespace

void CStatisticsSet::BuildScoringIndex() {
  keysHoldHighByte_ = true;
  IndexSingles();
  IndexPairs();
  IndexTriples();
}

void CStatisticsSet::IndexSingles() {
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
}

// Both tables are laid out by counting: the entries of every pair key are
// counted (one slot up), the counts turned into starts, and the entries
// placed file by file with `start++`, after which each slot holds where the
// next key's entries start and is moved back one slot.

void CStatisticsSet::IndexPairs() {
  slots_.assign(kPairKeys + 1, PairSlot{0, 0});
  for (const auto& model : models_) {
    model->ForEachPair([&](std::uint32_t key, double weight) {
      if (weight == 0.0) return;  // adds nothing to any sum
      ++slots_[key + 1].pairs;
      if (!HoldsHighByte(key)) keysHoldHighByte_ = false;
    });
  }
  for (std::uint32_t p = 1; p <= kPairKeys; ++p) slots_[p].pairs += slots_[p - 1].pairs;
  pairs_.resize(slots_[kPairKeys].pairs);
  for (std::size_t k = 0; k < models_.size(); ++k) {
    models_[k]->ForEachPair([&](std::uint32_t key, double weight) {
      if (weight != 0.0) pairs_[slots_[key].pairs++] = {weight, static_cast<std::uint32_t>(k)};
    });
  }
  for (std::uint32_t p = kPairKeys; p > 0; --p) slots_[p].pairs = slots_[p - 1].pairs;
  slots_[0].pairs = 0;
}

void CStatisticsSet::IndexTriples() {
  // By the last two bytes of the triple; a file lists its triples in
  // ascending order of the key, whose high bytes those are, so its entries
  // are placed in ascending order of the slots.
  for (const auto& model : models_) {
    model->ForEachTriple([&](std::uint32_t key, double weight) {
      if (weight == 0.0) return;
      ++slots_[(key >> 8) + 1].triples;
      if (!HoldsHighByte(key)) keysHoldHighByte_ = false;
    });
  }
  for (std::uint32_t p = 1; p <= kPairKeys; ++p) slots_[p].triples += slots_[p - 1].triples;
  const std::uint32_t total = slots_[kPairKeys].triples;
  tripleEntries_.resize(total);
  firstBytes_.assign(total + kFirstBytePadding, 0);
  for (std::size_t k = 0; k < models_.size(); ++k) {
    models_[k]->ForEachTriple([&](std::uint32_t key, double weight) {
      if (weight == 0.0) return;
      const std::uint32_t at = slots_[key >> 8].triples++;
      tripleEntries_[at] = {weight, static_cast<std::uint32_t>(k)};
      firstBytes_[at] = static_cast<std::uint8_t>(key);
    });
  }
  for (std::uint32_t p = kPairKeys; p > 0; --p) slots_[p].triples = slots_[p - 1].triples;
  slots_[0].triples = 0;
}

namespace {

// Calls f(q) for every bit q set in `bits`, in ascending order.
template <class F>
ORDANA_ALWAYS_INLINE void ForEachSetBit(std::uint64_t bits, F f) {
  for (std::uint32_t half = 0; half < 64; half += 32) {
    for (auto low = static_cast<std::uint32_t>(bits >> half); low != 0; low &= low - 1) {
      f(half + CountTrailingZeros(low));
    }
  }
}

}  // namespace

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
  } else
#endif
  {
    const std::uint32_t count = std::min<std::uint32_t>(avail, 66);
    for (std::uint32_t q = 0; q < count; ++q) {
      if (b[base + q] < 0x80) continue;
      if (q < 64) {
        high |= std::uint64_t{1} << q;
      } else {
        tail |= std::uint64_t{1} << (q - 64);
      }
    }
  }
  // Position q reads the bytes q, q + 1 and q + 2.
  return high | (high >> 1) | (high >> 2) | (tail << 63) | (tail << 62);
}

ORDANA_ALWAYS_INLINE void CStatisticsSet::AddSingle(std::uint8_t byte, double* s1) const {
  if (!weightedSingle_[byte]) return;
  const std::size_t m = models_.size();
  const double* const w1 = singles_.data() + byte * m;
  std::size_t k = 0;
#if ORDANA_HAVE_SSE2
  // Two files at a time: each lane is its own sum, added as alone.
  for (; k + 2 <= m; k += 2) {
    _mm_storeu_pd(s1 + k, _mm_add_pd(_mm_loadu_pd(s1 + k), _mm_loadu_pd(w1 + k)));
  }
#endif
  for (; k < m; ++k) s1[k] += w1[k];
}

ORDANA_ALWAYS_INLINE void CStatisticsSet::AddTriples(std::uint8_t first, std::uint32_t begin,
                                                     std::uint32_t end, double* s3) const {
  // The triples of a group are laid out file by file: those that begin
  // with `first` come in the order of the files.
#if ORDANA_HAVE_SSE2
  const __m128i wanted = _mm_set1_epi8(static_cast<char>(first));
  for (std::uint32_t e = begin; e < end; e += 16) {
    const auto* bytes = reinterpret_cast<const __m128i*>(firstBytes_.data() + e);
    auto hits = static_cast<std::uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(bytes), wanted)));
    if (end - e < 16) hits &= (1u << (end - e)) - 1;
    for (; hits != 0; hits &= hits - 1) {
      const SparseWeight& entry = tripleEntries_[e + CountTrailingZeros(hits)];
      s3[entry.model] += entry.weight;
    }
  }
#else
  for (std::uint32_t e = begin; e < end; ++e) {
    if (firstBytes_[e] == first) s3[tripleEntries_[e].model] += tripleEntries_[e].weight;
  }
#endif
}

ORDANA_ALWAYS_INLINE std::uint32_t CStatisticsSet::GatherBlock(const std::uint8_t* b,
                                                               std::uint32_t base, std::uint32_t n,
                                                               Lookup* lookups) const {
  // The positions j with j + 4 < n.
  const std::uint32_t positions = n - 4;
  const std::uint64_t inRange =
      positions - base < 64 ? (std::uint64_t{1} << (positions - base)) - 1 : ~std::uint64_t{0};
  std::uint32_t count = 0;
  ForEachSetBit(CandidatePositions(b, base, n) & inRange, [&](std::uint32_t q) {
    const std::uint8_t* const at = b + base + q;
    const std::uint32_t pair = at[0] | (static_cast<std::uint32_t>(at[1]) << 8);
    const std::uint32_t last = at[1] | (static_cast<std::uint32_t>(at[2]) << 8);
    Lookup& lookup = lookups[count++];
    lookup.position = base + q;
    lookup.pairsBegin = slots_[pair].pairs;
    lookup.pairsEnd = slots_[pair + 1].pairs;
    lookup.triplesBegin = slots_[last].triples;
    lookup.triplesEnd = slots_[last + 1].triples;
#if ORDANA_HAVE_SSE2
    const auto prefetch = [](const void* p) {
      _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0);
    };
    prefetch(pairs_.data() + lookup.pairsBegin);
    prefetch(firstBytes_.data() + lookup.triplesBegin);
    prefetch(tripleEntries_.data() + lookup.triplesBegin);
#endif
  });
  return count;
}

ORDANA_ALWAYS_INLINE void CStatisticsSet::AddWeights(const std::uint8_t* b, const Lookup* lookups,
                                                     std::uint32_t count, double* s1, double* s2,
                                                     double* s3) const {
  for (std::uint32_t i = 0; i < count; ++i) {
    const Lookup& lookup = lookups[i];
    const std::uint8_t first = b[lookup.position];
    AddSingle(first, s1);
    for (std::uint32_t e = lookup.pairsBegin; e < lookup.pairsEnd; ++e) {
      s2[pairs_[e].model] += pairs_[e].weight;
    }
    AddTriples(first, lookup.triplesBegin, lookup.triplesEnd, s3);
  }
}

void CStatisticsSet::ScoreAll(const std::uint8_t* b, std::uint32_t n,
                              std::vector<double>* scores) const {
  const std::size_t m = models_.size();
  sums_.assign(3 * m, 0.0);
  double* const s1 = sums_.data();
  double* const s2 = s1 + m;
  double* const s3 = s2 + m;
  // The positions j with j + 4 < n, 64 at a time, in their order (none
  // without a file: nothing is laid out before Load). Where the weights of
  // a block's positions are is looked up (and they are fetched) before any
  // is added, so that the lookups do not wait for one another.
  const std::uint32_t positions = m > 0 && n > 4 ? n - 4 : 0;
  Lookup lookups[64];
  for (std::uint32_t base = 0; base < positions; base += 64) {
    AddWeights(b, lookups, GatherBlock(b, base, n, lookups), s1, s2, s3);
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
