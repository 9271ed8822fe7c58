#include "detection/AutoDetectionInputFilter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "app/MessageLog.h"
#include "codecs/SingleByteFilters.h"
#include "codecs/Utf16Filters.h"
#include "codecs/Utf32Filters.h"
#include "codecs/Utf8Filters.h"
#include "core/File.h"
#include "platform/Platform.h"

namespace ordana {

namespace {

constexpr CharsetId kFallbackCharset = 14;  // ISO-8859-15

// Following bytes a UTF-8 lead byte needs; 0 for bytes that lead nothing.
int Utf8FollowingBytes(std::uint8_t c) {
  if (c >= 0xC0 && c <= 0xDF) return 1;
  if (c >= 0xE0 && c <= 0xEF) return 2;
  if (c >= 0xF0 && c <= 0xF7) return 3;
  if (c >= 0xF8 && c <= 0xFB) return 4;
  if (c >= 0xFC && c <= 0xFD) return 5;
  return 0;
}

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

constexpr std::uint32_t kHeaderSize = 16;
constexpr std::uint32_t kBlockHeaderSize = 12;
constexpr std::uint32_t kEntrySize = 12;

bool IsSingleByteCharset(CharsetId id) { return id < static_cast<CharsetId>(kSingleByteCharsetCount); }

struct DetectionCandidate {
  CharsetId charset = 0;
  char label[4] = {};
  double score = 0.0;
  bool loaded = false;
};

}  // namespace

CAutoDetectionInputFilter::CAutoDetectionInputFilter(const CodecOptions& options)
    : CFilter(kCategoryAutoDetection), options_(options) {
  Construct(platform::ExecutableDirectory());
}

CAutoDetectionInputFilter::CAutoDetectionInputFilter(const std::u16string& statisticsDirectory,
                                                     const CodecOptions& options)
    : CFilter(kCategoryAutoDetection), options_(options) {
  Construct(statisticsDirectory);
}

void CAutoDetectionInputFilter::Construct(const std::u16string& directory) {
  name_ = u"Auto Detection Input Filter";
  typeId_ = kFilterTypeAutoDetection;
  FindStatisticsFiles(directory.empty() ? u"." : directory);
  LogMessage(2, 0, u"Found %d stat files\r\n", statisticsFiles_.Count());
}

CAutoDetectionInputFilter::~CAutoDetectionInputFilter() {
  for (std::uint32_t k = 0; k < statisticsFiles_.Count(); ++k) delete[] statisticsFiles_.At(k);
}

void CAutoDetectionInputFilter::FindStatisticsFiles(const std::u16string& directory) {
  std::vector<platform::DirectoryEntry> entries;
  platform::ErrorClass error;
  if (!platform::ListDirectory(directory.c_str(), &entries, &error)) return;
  // Sorted by name so that equal scores are decided the same way on every
  // file system.
  std::sort(entries.begin(), entries.end(),
            [](const platform::DirectoryEntry& a, const platform::DirectoryEntry& b) {
              return a.name < b.name;
            });
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.isDirectory || entry.linkToDirectory) continue;
    if (!platform::MatchPathSpec(entry.name.c_str(), u"*.dat")) continue;
    std::u16string path = directory;
    if (path.back() != platform::kPathSeparator) path += platform::kPathSeparator;
    path += entry.name;
    CFile file;
    std::uint8_t header[kHeaderSize] = {};
    if (!file.Open(path.c_str(), platform::kOpenExisting, platform::kGenericRead,
                   platform::kFileShareRead, 0)) {
      continue;
    }
    const std::uint32_t read = file.ReadBytes(header, kHeaderSize);
    file.Close();
    if (read < 4 || std::memcmp(header, "STAT", 4) != 0) continue;
    if (read >= 12 && !IsSingleByteCharset(ReadU32(header + 8))) {
      // The detection could only hand such a file's set to a decoder that
      // cannot serve it.
      LogMessage(2, 0, u"Statistics file %s names character set %u, which is not a single-byte set; skipped\r\n",
                 path, ReadU32(header + 8));
      continue;
    }
    auto* copy = new char16_t[path.size() + 1];
    std::copy(path.c_str(), path.c_str() + path.size() + 1, copy);
    statisticsFiles_.Append(copy);
  }
}

bool CAutoDetectionInputFilter::LoadStatisticsFile(const char16_t* path) {
  for (auto& table : tables_) table.Clear();
  ClearScoringIndex();
  CFile file;
  if (!file.Open(path, platform::kOpenExisting, platform::kGenericRead, platform::kFileShareRead,
                 0)) {
    return false;
  }
  std::uint8_t header[kHeaderSize] = {};
  file.ReadBytes(header, kHeaderSize);
  if (std::memcmp(header, "STAT", 4) != 0) return false;
  std::memcpy(label_, header + 4, 4);
  charset_ = ReadU32(header + 8);

  std::uint64_t size = 0;
  platform::GetFileSize(file.handle(), &size);
  // A statistics file is small; a huge one is not ours to read whole.
  constexpr std::uint64_t kLargest = 64u * 1024 * 1024;
  if (size > kLargest) return false;
  std::vector<std::uint8_t> body(static_cast<std::size_t>(size));
  std::uint32_t read = 0;
  while (read < body.size()) {
    const std::uint32_t n =
        file.ReadBytes(body.data() + read, static_cast<std::uint32_t>(body.size() - read));
    if (n == 0) break;
    read += n;
  }
  // Whatever was read is parsed even when the read failed part way.
  const bool ok = file.lastError() == 0;

  // Up to three blocks; a block whose entries would run past the bytes read
  // contributes the entries that are there, and parsing ends with it.
  std::uint32_t pos = 0;
  for (int t = 0; t < 3; ++t) {
    if (read - pos < kBlockHeaderSize || std::memcmp(body.data() + pos, "STBL", 4) != 0) break;
    const std::uint32_t count = ReadU32(body.data() + pos + 8);
    pos += kBlockHeaderSize;
    const std::uint32_t fit = (read - pos) / kEntrySize;
    const std::uint32_t take = count < fit ? count : fit;
    for (std::uint32_t e = 0; e < take; ++e, pos += kEntrySize) {
      const std::uint32_t key = ReadU32(body.data() + pos);
      const double weight = ReadDouble(body.data() + pos + 4);
      tables_[t].GetOrInsert(key) = weight;
      IndexEntry(t, key, weight);
    }
    if (take < count) break;
  }
  if (!IsSingleByteCharset(charset_)) return false;
  return ok;
}

void CAutoDetectionInputFilter::ClearScoringIndex() {
  if (!pairWeights_) pairWeights_.reset(new double[65536]);
  if (!triplePrefixes_) triplePrefixes_ = std::make_unique<std::bitset<65536>>();
  std::fill(singleWeights_, singleWeights_ + 256, 0.0);
  std::fill(pairWeights_.get(), pairWeights_.get() + 65536, 0.0);
  triplePrefixes_->reset();
}

void CAutoDetectionInputFilter::IndexEntry(int table, std::uint32_t key, double weight) {
  // Keys a sample can never form (a "single byte" above 0xFF, say) stay out
  // of the index; they are in the table, where nothing finds them either.
  if (table == 0 && key < 256) singleWeights_[key] = weight;
  if (table == 1 && key < 65536) pairWeights_[key] = weight;
  if (table == 2 && key < (1u << 24)) triplePrefixes_->set(key & 0xFFFF);
}

double CAutoDetectionInputFilter::ScoreSample(const std::uint8_t* b, std::uint32_t n) const {
  double s1 = 0.0;
  double s2 = 0.0;
  double s3 = 0.0;
  if (!pairWeights_) return 0.0;  // nothing loaded yet
  for (std::uint32_t j = 0; j + 4 < n; ++j) {
    const std::uint32_t k1 = b[j];
    const std::uint32_t k2 = k1 | (static_cast<std::uint32_t>(b[j + 1]) << 8);
    s1 += singleWeights_[k1];
    s2 += pairWeights_[k2];
    if ((*triplePrefixes_)[k2]) {
      const std::uint32_t k3 = k2 | (static_cast<std::uint32_t>(b[j + 2]) << 16);
      if (const double* w = tables_[2].Find(k3)) s3 += *w;
    }
  }
  double score = s2 * weights_[1];
  score += s1 * weights_[0];
  score += s3 * weights_[2];
  return score;
}

CFilter* CAutoDetectionInputFilter::DetectByStatistics(const std::uint8_t* b, std::uint32_t n) {
  std::vector<DetectionCandidate> candidates(statisticsFiles_.Count());
  for (std::uint32_t k = 0; k < statisticsFiles_.Count(); ++k) {
    if (!LoadStatisticsFile(statisticsFiles_.At(k))) continue;
    candidates[k].charset = charset_;
    std::memcpy(candidates[k].label, label_, 4);
    candidates[k].score = ScoreSample(b, n);
    candidates[k].loaded = true;
  }
  // A file that could not be loaded has no score at all; it must not win
  // over files whose scores are below zero.
  candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                  [](const DetectionCandidate& c) { return !c.loaded; }),
                   candidates.end());
  if (candidates.empty()) return nullptr;
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const DetectionCandidate& a, const DetectionCandidate& c) {
                     return a.score > c.score;
                   });
  const DetectionCandidate& winner = candidates.front();
  char16_t name[64];
  char label[5] = {};
  std::memcpy(label, winner.label, 4);
  LogMessage(2, 0, u"Detected SCS %s (%.4S)\r\n", CharsetName(winner.charset, name),
             static_cast<const char*>(label));
  return new CSingleByteToUtf16Filter(winner.charset, options_);
}

CFilter* CAutoDetectionInputFilter::DetectDecoder(const std::uint8_t* b, std::uint32_t n) {
  if (n >= 4) {
    if (b[0] == 0xFE && b[1] == 0xFF) {
      LogMessage(2, 0, u"Detected SCS with BOM: UTF-16BE\r\n");
      return new CUtf16ToUtf16InputFilter(true, options_);
    }
    if (b[0] == 0xFF && b[1] == 0xFE) {
      if (n >= 8 && b[2] == 0 && b[3] == 0) {
        LogMessage(2, 0, u"Detected SCS with BOM: UTF-32\r\n");
        return new CUtf32ToUtf16Filter(false, options_);
      }
      LogMessage(2, 0, u"Detected SCS with BOM: UTF-16\r\n");
      return new CUtf16ToUtf16InputFilter(false, options_);
    }
    if (b[0] != 0 && b[1] == 0 && b[2] != 0 && b[3] == 0) {
      LogMessage(2, 0, u"Detected SCS: UTF-16\r\n");
      return new CUtf16ToUtf16InputFilter(false, options_);
    }
    if (b[0] == 0 && b[1] != 0 && b[2] == 0 && b[3] != 0) {
      LogMessage(2, 0, u"Detected SCS: UTF-16BE\r\n");
      return new CUtf16ToUtf16InputFilter(true, options_);
    }
  }
  if (n >= 3) {
    if (b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
      LogMessage(2, 0, u"Detected SCS with BOM: UTF-8\r\n");
      return new CUtf8ToUtf16Filter(options_);
    }
    // The counts run over the whole sample. Deciding at the first point
    // where valid sequences lead would take text in sets whose letters
    // happen to form valid sequences (DOS-866, TIS-620) for UTF-8 on its
    // first two words, and replace the rest of it; the message still names
    // that first point.
    std::uint32_t valid = 0;
    std::uint32_t invalid = 0;
    std::int64_t decidedAt = -1;
    for (std::uint32_t p = 0; p < n; ++p) {
      const int need = Utf8FollowingBytes(b[p]);
      if (need == 0) continue;
      bool ok = p + static_cast<std::uint32_t>(need) < n;
      for (int k = 1; ok && k <= need; ++k) ok = (b[p + k] & 0xC0) == 0x80;
      if (ok) {
        ++valid;
      } else {
        ++invalid;
      }
      if (decidedAt < 0 && valid > invalid && valid >= 2) decidedAt = p;
    }
    if (decidedAt >= 0 && valid > invalid && valid >= 2) {
      LogMessage(2, 0, u"Detected SCS: UTF-8 (Analyzed %d Bytes)\r\n",
                 static_cast<std::uint32_t>(decidedAt));
      return new CUtf8ToUtf16Filter(options_);
    }
  }
  if (n >= 8) {
    const std::uint32_t w0 = b[0] | (b[1] << 8), w1 = b[2] | (b[3] << 8);
    const std::uint32_t w2 = b[4] | (b[5] << 8), w3 = b[6] | (b[7] << 8);
    if (b[0] == 0 && b[1] == 0 && b[2] == 0xFE && b[3] == 0xFF) {
      LogMessage(2, 0, u"Detected SCS with BOM: UTF-32BE\r\n");
      return new CUtf32ToUtf16Filter(true, options_);
    }
    if (w0 != 0 && w1 == 0 && w2 != 0 && w3 == 0) {
      LogMessage(2, 0, u"Detected SCS: UTF-32\r\n");
      return new CUtf32ToUtf16Filter(false, options_);
    }
    if (w0 == 0 && w1 != 0 && w2 == 0 && w3 != 0) {
      LogMessage(2, 0, u"Detected SCS: UTF-32BE\r\n");
      return new CUtf32ToUtf16Filter(true, options_);
    }
  }
  if (n >= 4 && statisticsFiles_.Count() > 0) {
    if (CFilter* decoder = DetectByStatistics(b, n)) return decoder;
  }
  LogMessage(2, 0, u"Detected character set (fallback) ISO-8859-15\r\n");
  return new CSingleByteToUtf16Filter(kFallbackCharset, options_);
}

void CAutoDetectionInputFilter::Detect() {
  CFilter* successor = NextFilter();
  std::unique_ptr<CFilter> decoder(DetectDecoder(pending_.base(), pending_.length()));
  successor->InsertBefore(decoder.release());
  Disable();
  successor->Detach();
  LogMessage(2, 0, u"Removed Last Filter \"%s\"\r\n", successor->GetName());
  delete successor;
}

std::int32_t CAutoDetectionInputFilter::Filter() {
  // The decision rests on the first chunk of a file, 2 MiB when the file is
  // that large. A pipe delivers smaller pieces; the bytes wait here until a
  // chunk's worth has come or the input ends (Flush), so the decision never
  // depends on how the input happened to arrive.
  if (pending_.length() < pending_.commitSize()) return 0;
  Detect();
  return -1;
}

bool CAutoDetectionInputFilter::Flush(CBuffer& target) {
  if (IsEnabled() && &target == &pending_ && !pending_.empty()) {
    // The input ended before a whole chunk came: decide on what is there and
    // pass it on to the decoder, which is flushed next.
    Detect();
    LogMessage(5, 0, u"Filtering skipped, forwarding (%d Bytes)...\r\n", pending_.length());
    Forward(pending_);
    return true;
  }
  return CFilter::Flush(target);
}

bool CAutoDetectionInputFilter::Reset() {
  CFilter::Reset();
  Enable();
  return true;
}

}  // namespace ordana
