#include "detection/AutoDetectionInputFilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "codecs/SingleByteFilters.h"
#include "codecs/Utf16Filters.h"
#include "codecs/Utf32Filters.h"
#include "codecs/Utf8Filters.h"
#include "core/MessageLog.h"
#include "core/StringTable.h"
#include "detection/DetectionEvidence.h"
#include "detection/StatisticsDirectories.h"
#include "platform/Platform.h"
#include "support/Bits.h"

namespace ordana {

namespace {

constexpr CharsetId kFallbackCharset = 14;  // ISO-8859-15

// Following bytes a UTF-8 lead byte announces; 0 for bytes that lead
// nothing. This is deliberately wider than the strict rule
// (platform/Utf8.h): the count it feeds asks whether the sample was written
// as UTF-8 at all, and text from older or careless writers (overlong C0 80
// for NUL, surrogates encoded one by one, the old five- and six-byte forms)
// still has that shape. Such text is better decoded as UTF-8 with those
// sequences reported and repaired than read as a single-byte set
// throughout. The strict test for well-formed samples is IsWellFormedUtf8.
int Utf8FollowingBytes(std::uint8_t c) {
  if (c >= 0xC0 && c <= 0xDF) return 1;
  if (c >= 0xE0 && c <= 0xEF) return 2;
  if (c >= 0xF0 && c <= 0xF7) return 3;
  if (c >= 0xF8 && c <= 0xFB) return 4;
  if (c >= 0xFC && c <= 0xFD) return 5;
  return 0;
}

// The sequences of a sample by the wide rule above: how many are complete
// and how many broken, and the first lead byte at which the complete ones
// outnumber the broken ones, at least two of them (-1: never).
struct Utf8Count {
  std::uint32_t valid = 0;
  std::uint32_t invalid = 0;
  std::int64_t decidedAt = -1;
};

Utf8Count CountUtf8Sequences(const std::uint8_t* b, std::uint32_t n) {
  Utf8Count count;
  // Only lead bytes (0xC0 and up) change the counts; each is judged on its
  // own, in the order of the sample.
  const auto countLead = [&count, b, n](std::uint32_t p) {
    const int need = Utf8FollowingBytes(b[p]);
    if (need == 0) return;
    bool ok = p + static_cast<std::uint32_t>(need) < n;
    for (int k = 1; ok && k <= need; ++k) ok = (b[p + k] & 0xC0) == 0x80;
    if (ok) {
      ++count.valid;
    } else {
      ++count.invalid;
    }
    if (count.decidedAt < 0 && count.valid > count.invalid && count.valid >= 2) count.decidedAt = p;
  };
  std::uint32_t p = 0;
#if ORDANA_HAVE_SSE2
  // Bytes 0xC0 and up are those below zero and above -65 as signed bytes.
  const __m128i belowLeads = _mm_set1_epi8(-65);
  for (; p + 16 <= n; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + p));
    auto leads = static_cast<std::uint32_t>(_mm_movemask_epi8(bytes) &
                                            _mm_movemask_epi8(_mm_cmpgt_epi8(bytes, belowLeads)));
    for (; leads != 0; leads &= leads - 1) countLead(p + CountTrailingZeros(leads));
  }
#endif
  for (; p < n; ++p) {
    if (b[p] >= 0xC0) countLead(p);
  }
  return count;
}

// Whether any byte that the scoring reads is 0x80 or above: the positions
// j with j + 4 < n read b[j], b[j+1] and b[j+2]. Without one, the sets
// between which the statistics files choose all decode the sample alike, and
// a file's score is no evidence for its set.
bool ScoredBytesHaveHighByte(const std::uint8_t* b, std::uint32_t n) {
  return n >= 5 && SkipAscii(b, 0, n - 2) < n - 2;
}

constexpr std::uint32_t kMessageNoEvidence = 336;
constexpr std::uint32_t kMessageWeakLead = 337;

// How far (in bits of the statistics files' log-likelihood scale) a set must
// lead the better of the ISO-8859-15 and Windows-1252 files to be taken
// instead of it.
constexpr double kFallbackMargin = 8.0;
constexpr CharsetId kWesternWindowsCharset = 18;  // Windows-1252
constexpr std::uint32_t kMessageUnclean = 338;
constexpr std::uint32_t kMessageRunnerUp = 339;
// Two scores are close when they differ by at most this fraction of the
// choice's score plus this many points.
constexpr double kCloseFraction = 0.15;
constexpr double kCloseBits = 16.0;

constexpr std::uint32_t kMessageNoStatisticsFiles = 390;
constexpr std::uint32_t kMessageStatisticsDirectory = 391;

}  // namespace

CAutoDetectionInputFilter::CAutoDetectionInputFilter(const CodecOptions& options)
    : CFilter(kCategoryAutoDetection), options_(options) {
  Construct(StatisticsDirectories(platform::ExecutableDirectory()));
}

CAutoDetectionInputFilter::CAutoDetectionInputFilter(const std::u16string& statisticsDirectory,
                                                     const CodecOptions& options)
    : CFilter(kCategoryAutoDetection), options_(options) {
  Construct({statisticsDirectory});
}

void CAutoDetectionInputFilter::Construct(const std::vector<std::u16string>& directories) {
  name_ = u"Auto Detection Input Filter";
  typeId_ = kFilterTypeAutoDetection;
  searchedDirectories_ = JoinDirectories(directories);
  for (const std::u16string& directory : directories) {
    FindStatisticsFiles(directory.empty() ? u"." : directory);
    if (StatisticsFileCount() > 0) {
      LogResourceMessage(kLevelDetails, MessageKind::kInformation, kMessageStatisticsDirectory,
                         directory);
      break;
    }
  }
  LogResourceMessage(kLevelDetails, MessageKind::kInformation, kStringStatisticsFilesFound,
                     StatisticsFileCount());
}

void CAutoDetectionInputFilter::ReportMissingStatisticsFiles() const {
  // Once per run, however many inputs need the statistics: the chain, and
  // with it this filter, may be built more than once.
  MessageLog* log = GetMessageLog();
  if (!log || !log->FirstTimeFor(kMessageNoStatisticsFiles)) return;
  LogResourceMessage(kLevelNormal, MessageKind::kRepaired, kMessageNoStatisticsFiles,
                     searchedDirectories_);
}

CAutoDetectionInputFilter::~CAutoDetectionInputFilter() = default;

void CAutoDetectionInputFilter::FindStatisticsFiles(const std::u16string& directory) {
  statistics_.Load(directory);
}

bool CAutoDetectionInputFilter::LoadStatisticsFile(const char16_t* path) {
  return LoadStatisticsModel(path, &current_) == StatisticsLoad::kLoaded;
}

double CAutoDetectionInputFilter::ScoreSample(const std::uint8_t* b, std::uint32_t n) const {
  return current_.Score(b, n);
}

CharsetId CAutoDetectionInputFilter::DecideByStatistics(const std::uint8_t* b, std::uint32_t n,
                                                        const SampleByteCounts& counts) {
  if (statistics_.Count() == 0) return kCharsetUnknown;
  if (!ScoredBytesHaveHighByte(b, n)) {
    LogResourceMessage(kLevelDetails, MessageKind::kInformation, kMessageNoEvidence);
    return kCharsetUnknown;
  }
  std::vector<double> scores;
  statistics_.ScoreAll(b, n, &scores);
  // Highest score first; equal scores keep the order of the file names.
  std::vector<std::size_t> order(scores.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&scores](std::size_t a, std::size_t c) { return scores[a] > scores[c]; });
  if (order.size() > 1 && scores[order.front()] == scores[order.back()]) {
    // Every file scores the same: the text says nothing about the set, and
    // the first file by name must not win by default.
    LogResourceMessage(kLevelDetails, MessageKind::kInformation, kMessageNoEvidence);
    return kCharsetUnknown;
  }
  for (std::size_t k : order) {
    DetectionCandidate candidate{statistics_.At(k).charset, {}, scores[k]};
    std::memcpy(candidate.label, statistics_.At(k).label, 4);
    last_.candidates.push_back(candidate);
  }
  std::size_t chosen = KeepWesternOnWeakLead(order, scores);
  SampleBytes sample;
  CollectSampleBytes(b, n, counts, &sample);
  chosen = SettleCloseScores(order, scores, chosen, sample);
  ReportStatisticsChoice(order, scores, chosen, sample);
  return statistics_.At(chosen).charset;
}

std::size_t CAutoDetectionInputFilter::KeepWesternOnWeakLead(
    const std::vector<std::size_t>& order, const std::vector<double>& scores) const {
  // A few high bytes give every set a handful of points: a short Latin word
  // would go to a DOS or Baltic set on a whim of the training text. The sets
  // the fallback stands for (ISO-8859-15 and Windows-1252, which decode
  // Latin-1 text alike) stay unless another set leads them clearly.
  std::size_t chosen = order.front();
  for (std::size_t k : order) {
    const CharsetId id = statistics_.At(k).charset;
    if (id != kFallbackCharset && id != kWesternWindowsCharset) continue;
    const double lead = scores[chosen] - scores[k];
    if (k != chosen && lead < kFallbackMargin) {
      char16_t leader[64];
      char16_t kept[64];
      LogResourceMessage(kLevelDetails, MessageKind::kInformation, kMessageWeakLead,
                         CharsetName(statistics_.At(chosen).charset, leader), lead,
                         CharsetName(id, kept));
      chosen = k;
    }
    break;
  }
  return chosen;
}

std::size_t CAutoDetectionInputFilter::SettleCloseScores(const std::vector<std::size_t>& order,
                                                         const std::vector<double>& scores,
                                                         std::size_t chosen,
                                                         const SampleBytes& sample) const {
  // Scores this close to the choice's count as a tie for the checks below.
  const double close = std::fabs(scores[chosen]) * kCloseFraction + kCloseBits;
  // A set that leaves a byte of the text undefined, or reads it as a C1
  // control, loses to the best close set that decodes the text cleanly.
  const auto charsetOf = [this](std::size_t k) { return statistics_.At(k).charset; };
  if (!DecodesCleanly(charsetOf(chosen), sample)) {
    for (std::size_t k : order) {
      if (scores[chosen] - scores[k] > close) break;
      if (DecodesCleanly(charsetOf(k), sample)) {
        char16_t from[64];
        char16_t to[64];
        LogResourceMessage(kLevelDetails, MessageKind::kInformation, kMessageUnclean,
                           CharsetName(charsetOf(chosen), from), CharsetName(charsetOf(k), to));
        chosen = k;
        break;
      }
    }
  }
  // Close sets that decode the text to the same characters are equally
  // right: the one the family's users meet most is taken.
  const double best = scores[chosen];
  for (std::size_t k : order) {
    if (best - scores[k] > close) break;
    if (PreferenceRank(charsetOf(k)) < PreferenceRank(charsetOf(chosen)) &&
        DecodeAlike(charsetOf(k), charsetOf(chosen), sample)) {
      chosen = k;
    }
  }
  return chosen;
}

void CAutoDetectionInputFilter::ReportStatisticsChoice(const std::vector<std::size_t>& order,
                                                       const std::vector<double>& scores,
                                                       std::size_t chosen,
                                                       const SampleBytes& sample) const {
  const auto charsetOf = [this](std::size_t k) { return statistics_.At(k).charset; };
  const CStatisticsModel& winner = statistics_.At(chosen);
  char16_t name[64];
  char label[5] = {};
  std::memcpy(label, winner.label, 4);
  LogResourceMessage(kLevelDetails, MessageKind::kInformation, kStringDetectedByStatistics,
                     CharsetName(winner.charset, name), static_cast<const char*>(label));
  // How sure the choice was: the best set that decodes the text differently.
  for (std::size_t k : order) {
    if (DecodeAlike(charsetOf(k), winner.charset, sample)) continue;
    char16_t other[64];
    char otherLabel[5] = {};
    std::memcpy(otherLabel, statistics_.At(k).label, 4);
    LogResourceMessage(kLevelDetails, MessageKind::kInformation, kMessageRunnerUp,
                       CharsetName(charsetOf(k), other), static_cast<const char*>(otherLabel),
                       scores[chosen] - scores[k]);
    break;
  }
}

CharsetId CAutoDetectionInputFilter::Decided(CharsetId charset, DetectionBasis basis) {
  last_.charset = charset;
  last_.basis = basis;
  return charset;
}

CFilter* CAutoDetectionInputFilter::MakeDecoder(CharsetId charset) const {
  switch (charset) {
    case kCharsetUtf8:
      return new CUtf8ToUtf16Filter(options_);
    case kCharsetUtf16:
    case kCharsetUtf16Be:
      return new CUtf16ToUtf16InputFilter(charset == kCharsetUtf16Be, options_);
    case kCharsetUtf32:
    case kCharsetUtf32Be:
      return new CUtf32ToUtf16Filter(charset == kCharsetUtf32Be, options_);
    default:
      return new CSingleByteToUtf16Filter(charset, options_);
  }
}

const DetectionResult& CAutoDetectionInputFilter::Examine(const std::uint8_t* b, std::uint32_t n) {
  Decide(b, n);
  return last_;
}

CharsetId CAutoDetectionInputFilter::DecidedAs(CharsetId charset, DetectionBasis basis,
                                               std::uint32_t message, const char16_t* name) {
  LogResourceMessage(kLevelDetails, MessageKind::kInformation, message, name);
  return Decided(charset, basis);
}

CharsetId CAutoDetectionInputFilter::DecideByFirstUnits(const std::uint8_t* b, std::uint32_t n) {
  using B = DetectionBasis;
  if (n >= 4) {
    if (b[0] == 0xFE && b[1] == 0xFF) {
      return DecidedAs(kCharsetUtf16Be, B::kByteOrderMark, kStringDetectedWithMark, u"UTF-16BE");
    }
    if (b[0] == 0xFF && b[1] == 0xFE) {
      if (n >= 8 && b[2] == 0 && b[3] == 0) {
        return DecidedAs(kCharsetUtf32, B::kByteOrderMark, kStringDetectedWithMark, u"UTF-32");
      }
      return DecidedAs(kCharsetUtf16, B::kByteOrderMark, kStringDetectedWithMark, u"UTF-16");
    }
    if (b[0] != 0 && b[1] == 0 && b[2] != 0 && b[3] == 0) {
      return DecidedAs(kCharsetUtf16, B::kZeroPattern, kStringDetected, u"UTF-16");
    }
    if (b[0] == 0 && b[1] != 0 && b[2] == 0 && b[3] != 0) {
      return DecidedAs(kCharsetUtf16Be, B::kZeroPattern, kStringDetected, u"UTF-16BE");
    }
  }
  if (n >= 3) {
    if (b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
      return DecidedAs(kCharsetUtf8, B::kByteOrderMark, kStringDetectedWithMark, u"UTF-8");
    }
    // The counts run over the whole sample. Deciding at the first point
    // where valid sequences lead would take text in sets whose letters
    // happen to form valid sequences (DOS-866, TIS-620) for UTF-8 on its
    // first two words, and replace the rest of it; the message still names
    // that first point.
    const Utf8Count utf8 = CountUtf8Sequences(b, n);
    if (utf8.decidedAt >= 0 && utf8.valid > utf8.invalid && utf8.valid >= 2) {
      LogResourceMessage(kLevelDetails, MessageKind::kInformation, kStringDetectedUtf8,
                         static_cast<std::uint32_t>(utf8.decidedAt));
      return Decided(kCharsetUtf8, B::kUtf8);
    }
  }
  if (n >= 8) {
    const std::uint32_t w0 = b[0] | (b[1] << 8), w1 = b[2] | (b[3] << 8);
    const std::uint32_t w2 = b[4] | (b[5] << 8), w3 = b[6] | (b[7] << 8);
    if (b[0] == 0 && b[1] == 0 && b[2] == 0xFE && b[3] == 0xFF) {
      return DecidedAs(kCharsetUtf32Be, B::kByteOrderMark, kStringDetectedWithMark, u"UTF-32BE");
    }
    if (w0 != 0 && w1 == 0 && w2 != 0 && w3 == 0) {
      return DecidedAs(kCharsetUtf32, B::kZeroPattern, kStringDetected, u"UTF-32");
    }
    if (w0 == 0 && w1 != 0 && w2 == 0 && w3 != 0) {
      return DecidedAs(kCharsetUtf32Be, B::kZeroPattern, kStringDetected, u"UTF-32BE");
    }
  }
  return kCharsetUnknown;
}

CharsetId CAutoDetectionInputFilter::DecideByUnicodeShape(const std::uint8_t* b, std::uint32_t n,
                                                          const SampleByteCounts& counts) {
  using B = DetectionBasis;
  switch (DetectUnicodeWithoutMark(b, n, counts)) {
    case UnicodeForm::kUtf32Le:
      return DecidedAs(kCharsetUtf32, B::kUnicodeShape, kStringDetected, u"UTF-32");
    case UnicodeForm::kUtf32Be:
      return DecidedAs(kCharsetUtf32Be, B::kUnicodeShape, kStringDetected, u"UTF-32BE");
    case UnicodeForm::kUtf16Le:
      return DecidedAs(kCharsetUtf16, B::kUnicodeShape, kStringDetected, u"UTF-16");
    case UnicodeForm::kUtf16Be:
      return DecidedAs(kCharsetUtf16Be, B::kUnicodeShape, kStringDetected, u"UTF-16BE");
    case UnicodeForm::kNone:
      break;
  }
  return kCharsetUnknown;
}

CharsetId CAutoDetectionInputFilter::Decide(const std::uint8_t* b, std::uint32_t n) {
  last_ = DetectionResult();
  if (const CharsetId id = DecideByFirstUnits(b, n); id != kCharsetUnknown) return id;
  // Well-formed UTF-8 with fewer multi-byte sequences than the count above
  // asks for (a short text with one accented letter).
  if (IsWellFormedUtf8(b, n)) {
    LogResourceMessage(kLevelDetails, MessageKind::kInformation, kStringDetectedUtf8, n);
    return Decided(kCharsetUtf8, DetectionBasis::kUtf8);
  }
  // UTF-32 and UTF-16 without a byte order mark in any script, by the shape
  // of the whole sample (the tests above look at its first units only).
  // The byte counts serve the UTF-16 test and the single-byte checks.
  SampleByteCounts counts;
  CountSampleBytes(b, n, &counts);
  if (const CharsetId id = DecideByUnicodeShape(b, n, counts); id != kCharsetUnknown) return id;
  if (n >= 4 && StatisticsFileCount() == 0) ReportMissingStatisticsFiles();
  if (n >= 4 && StatisticsFileCount() > 0) {
    const CharsetId chosen = DecideByStatistics(b, n, counts);
    if (chosen != kCharsetUnknown) return Decided(chosen, DetectionBasis::kStatistics);
  }
  LogResourceMessage(kLevelDetails, MessageKind::kInformation, kStringDetectedFallback);
  return Decided(kFallbackCharset, DetectionBasis::kFallback);
}

void CAutoDetectionInputFilter::Detect(const CBuffer& data) {
  CFilter* successor = NextFilter();
  // The sample is the first chunk exactly: the last piece from a pipe may
  // have brought more.
  const std::uint32_t sample = std::min(data.length(), pending_.commitSize());
  std::unique_ptr<CFilter> decoder(MakeDecoder(Decide(data.base(), sample)));
  successor->InsertBefore(decoder.release());
  Disable();
  successor->Detach();
  LogResourceMessage(kLevelDetails, MessageKind::kInformation, kStringRemovedLastFilter,
                     successor->GetName());
  delete successor;
}

bool CAutoDetectionInputFilter::Process(CBuffer& input) {
  // A whole chunk that comes while nothing waits here is decided where it
  // lies and passed on as it is: gathering it first would only copy it. The
  // trace says what gathering it would have said.
  if (!IsEnabled() || !pending_.empty() || !output_.empty() || !NextFilter() ||
      input.length() < pending_.commitSize() || input.length() > pending_.Room()) {
    return CFilter::Process(input);
  }
  LogResourceMessage(kLevelTrace, MessageKind::kInformation, kStringTraceFilter, input.length(),
                     GetName(), 1);
  Detect(input);
  LogResourceMessage(kLevelTrace, MessageKind::kInformation, kStringTraceSkipped, input.length());
  Forward(input);
  input.Clear();
  return true;
}

std::int32_t CAutoDetectionInputFilter::Filter() {
  // The decision rests on the first chunk of a file, 2 MiB when the file is
  // that large. A pipe delivers smaller pieces; the bytes wait here until a
  // chunk's worth has come or the input ends (Flush), so the decision never
  // depends on how the input happened to arrive.
  if (pending_.length() < pending_.commitSize()) return 0;
  Detect(pending_);
  return -1;
}

bool CAutoDetectionInputFilter::Flush(CBuffer& target) {
  if (IsEnabled() && &target == &pending_ && !pending_.empty()) {
    // The input ended before a whole chunk came: decide on what is there and
    // pass it on to the decoder, which is flushed next.
    Detect(pending_);
    LogResourceMessage(kLevelTrace, MessageKind::kInformation, kStringTraceSkipped,
                       pending_.length());
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
