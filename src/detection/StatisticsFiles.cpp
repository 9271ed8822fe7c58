#include "detection/StatisticsFiles.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/MessageLog.h"
#include "platform/Platform.h"

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

bool IsSingleByteCharset(CharsetId id) { return id < static_cast<CharsetId>(kSingleByteCharsetCount); }

bool IsUsableWeight(double w) { return std::isfinite(w) && std::fabs(w) <= kLargestStatisticsWeight; }

// Reads a whole open file of `size` bytes (at most kLargestStatisticsFile);
// what was read before a failure stays in `data`.
bool ReadWhole(platform::Handle handle, std::uint64_t size, std::vector<std::uint8_t>* data) {
  data->resize(static_cast<std::size_t>(size));
  std::size_t read = 0;
  bool ok = true;
  while (read < data->size()) {
    std::uint32_t n = 0;
    if (!platform::ReadFile(handle, data->data() + read, static_cast<std::uint32_t>(data->size() - read),
                            &n)) {
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

CStatisticsModel::CStatisticsModel() : pairs_(new double[65536]) { Clear(); }

void CStatisticsModel::Clear() {
  std::fill(singles_, singles_ + 256, 0.0);
  std::fill(pairs_.get(), pairs_.get() + 65536, 0.0);
  triplePrefixes_.reset();
  triples_.Clear();
  tripleKeys_.clear();
  std::memcpy(label, "ENG", 4);
  charset = 0;
}

void CStatisticsModel::Set(int table, std::uint32_t key, double weight) {
  if (table == 0 && key < 256) singles_[key] = weight;
  if (table == 1 && key < 65536) pairs_[key] = weight;
  if (table == 2 && key < (1u << 24)) {
    if (!triples_.Find(key)) tripleKeys_.push_back(key);
    triples_.GetOrInsert(key) = weight;
    triplePrefixes_.set(key & 0xFFFF);
  }
}

template <class PositionAt>
double CStatisticsModel::Sum(const std::uint8_t* b, std::size_t count, PositionAt positionAt) const {
  double s1 = 0.0;
  double s2 = 0.0;
  double s3 = 0.0;
  for (std::size_t p = 0; p < count; ++p) {
    const std::uint32_t j = positionAt(p);
    const std::uint32_t k1 = b[j];
    const std::uint32_t k2 = k1 | (static_cast<std::uint32_t>(b[j + 1]) << 8);
    s1 += singles_[k1];
    s2 += pairs_[k2];
    if (triplePrefixes_[k2]) {
      const std::uint32_t k3 = k2 | (static_cast<std::uint32_t>(b[j + 2]) << 16);
      if (const double* w = triples_.Find(k3)) s3 += *w;
    }
  }
  double score = s2 * kTableWeights[1];
  score += s1 * kTableWeights[0];
  score += s3 * kTableWeights[2];
  return score;
}

double CStatisticsModel::Score(const std::uint8_t* b, std::uint32_t n) const {
  return Sum(b, n > 4 ? n - 4 : 0, [](std::size_t p) { return static_cast<std::uint32_t>(p); });
}

double CStatisticsModel::ScorePositions(const std::uint8_t* b, const std::uint32_t* positions,
                                        std::size_t count) const {
  return Sum(b, count, [positions](std::size_t p) { return positions[p]; });
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
    platform::CloseHandle(handle);
    return StatisticsLoad::kTooLarge;
  }
  std::vector<std::uint8_t> data;
  const bool readOk = ReadWhole(handle, size, &data);
  platform::CloseHandle(handle);

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

CStatisticsSet::CStatisticsSet() : relevantTriples_((1u << 24) / 64, 0) {}

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
        LogResourceMessage(2, 0, kMessageNotRegular, path);
        break;
      case StatisticsLoad::kTooLarge:
        LogResourceMessage(2, 0, kMessageTooLarge, path,
                           static_cast<std::uint32_t>(kLargestStatisticsFile));
        break;
      case StatisticsLoad::kBadWeight:
        LogResourceMessage(2, 0, kMessageBadWeight, path,
                           static_cast<std::uint32_t>(kLargestStatisticsWeight),
                           static_cast<std::uint32_t>(kLargestStatisticsWeight));
        break;
      case StatisticsLoad::kNotSingleByte:
        // The detection could only hand such a file's set to a decoder that
        // cannot serve it.
        LogResourceMessage(2, 0, kMessageNotSingleByte, path, model->charset);
        break;
      case StatisticsLoad::kOpenFailed:
      case StatisticsLoad::kReadFailed:
        LogResourceMessage(2, 0, kMessageUnreadable, path, platform::ErrorText(platform::LastError()));
        break;
    }
  }
  IndexRelevantPositions();
}

void CStatisticsSet::IndexRelevantPositions() {
  relevantPairs_.reset();
  std::fill(relevantTriples_.begin(), relevantTriples_.end(), 0);
  for (const auto& model : models_) {
    for (std::uint32_t k2 = 0; k2 < 65536; ++k2) {
      if (model->SingleWeight(static_cast<std::uint8_t>(k2 & 0xFF)) != 0.0 ||
          model->PairWeight(k2) != 0.0) {
        relevantPairs_.set(k2);
      }
    }
    model->ForEachWeightedTriple(
        [this](std::uint32_t k3) { relevantTriples_[k3 >> 6] |= std::uint64_t{1} << (k3 & 63); });
  }
}

void CStatisticsSet::ScoreAll(const std::uint8_t* b, std::uint32_t n,
                              std::vector<double>* scores) const {
  positions_.clear();
  for (std::uint32_t j = 0; j + 4 < n; ++j) {
    const std::uint32_t k2 = b[j] | (static_cast<std::uint32_t>(b[j + 1]) << 8);
    const std::uint32_t k3 = k2 | (static_cast<std::uint32_t>(b[j + 2]) << 16);
    if (relevantPairs_[k2] || ((relevantTriples_[k3 >> 6] >> (k3 & 63)) & 1) != 0) {
      positions_.push_back(j);
    }
  }
  scores->resize(models_.size());
  for (std::size_t k = 0; k < models_.size(); ++k) {
    (*scores)[k] = models_[k]->ScorePositions(b, positions_.data(), positions_.size());
  }
}

}  // namespace ordana
