// ordana-stats: writes one statistics file (*.dat) that teaches Ordana's
// automatic detection a single-byte character set.
//
//   ordana-stats --charset <id|name> --label <text> --output <file.dat> [options] <sample.txt>...
//
// The samples are UTF-8 text.  Every character is encoded into the set with
// the program's own mapping table; a character the set cannot encode (or a
// malformed UTF-8 sequence) ends the current run of text, so that no n-gram
// spans the gap.
//
// What the weights mean.  The detection sums, over the positions of a sample,
// the weights of the single byte, pair and triple that start there,
// multiplies the three sums by 1, 50 and 500 and takes the file with the
// highest total.  Such sums compare fairly across files only when every file
// measures the same thing on the same scale.  Here every file's total is a
// log-likelihood ratio in bits, log2 P(sample | text in this set) minus
// log2 P(sample | reference), with one reference for all files, so the
// highest total is the most likely set.  The weights telescope: at each
// position the weights that fire add up to the log-probability of one byte
// given the two before it, the back-off factors being folded into the
// single-byte and pair weights.  Pairs and triples are written divided by 50
// and 500, which the detection's multipliers undo.
//
// Which positions count.  Bytes 0x00-0x7F ("low") mean the same in every set
// the detection chooses between, and the words written with them tell the
// language rather than the set: the English option names in Russian manual
// pages would otherwise vote for KOI8-R on an English text.  So high bytes
// (0x80-0xFF) are taken as rare events with the same overall rate in every
// set, and the file scores
//  - a high byte c after a low byte b: log2 r(b) + log2 P(c | the bytes
//    before, c is high) + 7, where r(b) is how much more often than on
//    average a high byte follows b in this set (a Cyrillic letter follows a
//    space, seldom a Latin letter), and the choice among the high bytes comes
//    from the longest of the triple, pair and single-byte estimates kept;
//  - any byte c after a high byte b: log2 P(c | a b) + 8, a Katz back-off
//    trigram model over all 256 bytes whose lowest level gives 1/256 to each
//    low byte and half the high-byte distribution to the high bytes;
//  - a low byte after a low byte: nothing (no entry, weight 0).
// The reference is uniform: 1/128 among the high bytes, 1/256 among all.
//
// Unseen events.  A mapped high byte that the samples never contained gets
// one in 100,000 of the high-byte mass; an unmapped byte or a control code
// (C1 such as 0x80-0x9F of the ISO 8859 sets; C0 other than tab, line feed,
// form feed and carriage return; DEL) one in 10^30, about -100 bits, so such a
// byte in a sample all but rules the set out.  A pair of a low and a high byte
// that the file does not keep costs gamma, the mean of what Katz would charge
// an unseen one.  Characters the set cannot encode count as high bytes that
// are missing, so two siblings trained on the same text (Windows-1250 and
// ISO-8859-2) give the letters they share the same weight.
//
// Pruning keeps the pairs and triples with the largest count x |bits they add
// over their back-off|; a missing n-gram falls back to the shorter one.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "codecs/CharsetRegistry.h"
#include "platform/Platform.h"
#include "platform/Utf8.h"

namespace ordana {
namespace {

// Floors of the high-byte distribution, as shares of the high bytes seen.
constexpr double kRareCharacterShare = 1e-5;  // a mapped byte never seen in the samples
constexpr double kControlShare = 1e-30;       // an unmapped byte or a control code
constexpr double kPairMultiplier = 50.0;      // the detection's fixed multipliers
constexpr double kTripleMultiplier = 500.0;
constexpr std::uint32_t kFormatRevision = 1;  // header field 12, not read by the detection
constexpr std::size_t kPairKeys = 1u << 16;
constexpr std::size_t kTripleKeys = 1u << 24;

struct Options {
  CharsetId charset = 0;
  bool charsetGiven = false;
  char label[4] = {0, 0, 0, 0};
  bool labelGiven = false;
  std::string output;
  std::size_t maxPairs = 3000;
  std::size_t maxTriples = 6000;
  std::uint32_t minCount = 2;
  double highByteBias = 0.0;
  bool quiet = false;
  std::vector<std::string> samples;
};

void PrintUsage(std::FILE* to) {
  std::fputs(
      "Usage: ordana-stats --charset <id|name> --label <text> --output <file.dat>\n"
      "                    [--max-pairs N] [--max-triples N] [--min-count N]\n"
      "                    [--high-byte-bias BITS] [--quiet] <sample.txt>...\n"
      "\n"
      "Writes a statistics file for Ordana's automatic detection from UTF-8 sample\n"
      "texts encoded into the single-byte character set --charset (any name ordana\n"
      "accepts, such as Windows-1252 or 866, or an id 0..59; not EBCDIC).  --label is shown in the detection message (at\n"
      "most 4 characters).  The pair and triple tables keep the N n-grams that carry\n"
      "most information (defaults 3000 and 6000); n-grams seen fewer than\n"
      "--min-count times (default 2) are never kept.  --high-byte-bias adds BITS\n"
      "(usually a small negative number) to every byte 0x80-0xFF, so that this\n"
      "set loses ties against a sibling that decodes the same text.\n",
      to);
}

bool ParseUnsigned(const char* text, std::size_t* value) {
  char* end = nullptr;
  unsigned long long parsed = std::strtoull(text, &end, 10);
  if (end == text || *end != 0 || text[0] == '-') {
    return false;
  }
  *value = static_cast<std::size_t>(parsed);
  return true;
}

// Any name of a single-byte set that ordana itself accepts (names made of
// digits such as "866" included), or else an id 0..59. The registry's
// numbered names all lie above 59, so the two never meet. False, after
// saying why, for anything else and for sets whose bytes 0x00-0x7F are not
// ASCII (EBCDIC): the detection takes text that is plain ASCII in such a set
// for something else long before its statistics are asked.
bool ParseCharset(const char* text, CharsetId* charset) {
  CharsetId id = kCharsetUnknown;
  const std::u16string wide = platform::FromNative(text);
  if (wide.size() < 32) {
    char16_t name[64] = {};
    std::copy(wide.begin(), wide.end(), name);
    id = CharsetFromName(name);
  }
  std::size_t number = 0;
  if (id == kCharsetUnknown && ParseUnsigned(text, &number) &&
      number < static_cast<std::size_t>(kSingleByteCharsetCount)) {
    id = static_cast<CharsetId>(number);
  }
  if (id >= static_cast<CharsetId>(kSingleByteCharsetCount)) {
    std::fprintf(stderr, "ordana-stats: %s is not a single-byte character set\n", text);
    return false;
  }
  for (std::uint32_t b = 0; b < 0x80; ++b) {
    if (CodePageTable[id][b] != b) {
      std::fprintf(stderr,
                   "ordana-stats: %s is not ASCII in its bytes 0x00-0x7F (EBCDIC); the "
                   "detection cannot use statistics for it\n",
                   text);
      return false;
    }
  }
  *charset = id;
  return true;
}

// Returns 0 on success, 2 on a command line that cannot be used (after saying why).
int ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "ordana-stats: %s needs a value\n", name);
        return nullptr;
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      PrintUsage(stdout);
      std::exit(0);
    } else if (arg == "--charset") {
      const char* text = value("--charset");
      if (text == nullptr) return 2;
      if (!ParseCharset(text, &options->charset)) return 2;
      options->charsetGiven = true;
    } else if (arg == "--label") {
      const char* text = value("--label");
      if (text == nullptr) return 2;
      std::size_t length = std::strlen(text);
      if (length == 0 || length > 4) {
        std::fprintf(stderr, "ordana-stats: the label must have 1 to 4 characters\n");
        return 2;
      }
      for (std::size_t k = 0; k < length; ++k) {
        unsigned char c = static_cast<unsigned char>(text[k]);
        if (c < 0x20 || c > 0x7E) {
          std::fprintf(stderr, "ordana-stats: the label must be printable ASCII\n");
          return 2;
        }
        options->label[k] = static_cast<char>(c);
      }
      options->labelGiven = true;
    } else if (arg == "--output" || arg == "-o") {
      const char* text = value("--output");
      if (text == nullptr) return 2;
      options->output = text;
    } else if (arg == "--max-pairs" || arg == "--max-triples" || arg == "--min-count") {
      const char* text = value(arg.c_str());
      std::size_t number = 0;
      if (text == nullptr || !ParseUnsigned(text, &number)) {
        std::fprintf(stderr, "ordana-stats: %s needs a whole number\n", arg.c_str());
        return 2;
      }
      if (arg == "--max-pairs") {
        options->maxPairs = number;
      } else if (arg == "--max-triples") {
        options->maxTriples = number;
      } else {
        options->minCount = static_cast<std::uint32_t>(std::max<std::size_t>(1, number));
      }
    } else if (arg == "--high-byte-bias") {
      const char* text = value("--high-byte-bias");
      if (text == nullptr) return 2;
      char* end = nullptr;
      double bias = std::strtod(text, &end);
      if (end == text || *end != 0 || !std::isfinite(bias)) {
        std::fprintf(stderr, "ordana-stats: --high-byte-bias needs a number\n");
        return 2;
      }
      options->highByteBias = bias;
    } else if (arg == "--quiet" || arg == "-q") {
      options->quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "ordana-stats: unknown option %s\n", arg.c_str());
      return 2;
    } else {
      options->samples.push_back(arg);
    }
  }
  if (!options->charsetGiven || !options->labelGiven || options->output.empty() ||
      options->samples.empty()) {
    PrintUsage(stderr);
    return 2;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Encoding the samples and counting n-grams.

class NgramCounter {
 public:
  explicit NgramCounter(CharsetId charset)
      : byteOf_(0x10000, -1), pairs_(kPairKeys, 0), triples_(kTripleKeys, 0) {
    // Ascending, so that where several bytes share a code unit the highest
    // one is used, as the program's own encoder does.
    for (int b = 0; b < 256; ++b) {
      std::uint16_t unit = CodePageTable[charset][b];
      if (unit != 0xFFFF) {
        byteOf_[unit] = static_cast<std::int16_t>(b);
      }
    }
  }

  // Encodes and counts one sample; returns false when it cannot be read.
  bool AddSample(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      return false;
    }
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
      return false;
    }
    std::size_t pos = 0;
    if (data.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      pos = 3;  // a byte order mark is not text
    }
    BreakRun();
    while (pos < data.size()) {
      char32_t cp = 0;
      const int length = platform::DecodeUtf8Sequence(
          reinterpret_cast<const std::uint8_t*>(data.data()) + pos, data.size() - pos, &cp);
      if (length <= 0) {  // malformed, or cut off by the end of the sample
        ++malformed_;
        BreakRun();
        ++pos;
        continue;
      }
      pos += static_cast<std::size_t>(length);
      int byte = cp <= 0xFFFF ? byteOf_[cp] : -1;
      if (byte < 0) {
        ++unencodable_;
        // The character is still counted where it stood, as a high byte this
        // set cannot write, so that a set which cannot write typographic
        // quotes does not seem to have more letters among its high bytes than
        // its sibling that can; see Model::EstimateSingles.
        if (runLength_ >= 1) ++lostAfter_[prev1_];
        if (runLength_ >= 2) ++lostAfterPair_[prev2_ | prev1_ << 8];
        BreakRun();
        continue;
      }
      AddByte(static_cast<std::uint8_t>(byte));
    }
    BreakRun();
    return true;
  }

  const std::vector<std::uint8_t>& Encoded() const { return encoded_; }
  const std::vector<std::uint32_t>& RunEnds() const { return runEnds_; }
  const std::uint64_t* Singles() const { return singles_; }
  const std::vector<std::uint32_t>& Pairs() const { return pairs_; }
  const std::vector<std::uint32_t>& Triples() const { return triples_; }
  std::uint64_t Unencodable() const { return unencodable_; }
  // How often a character the set cannot encode followed a byte, a pair.
  const std::uint64_t* LostAfter() const { return lostAfter_; }
  const std::vector<std::uint32_t>& LostAfterPair() const { return lostAfterPair_; }
  std::uint64_t Malformed() const { return malformed_; }

 private:
  void AddByte(std::uint8_t b) {
    ++singles_[b];
    if (runLength_ >= 1) {
      ++pairs_[prev1_ | static_cast<std::uint32_t>(b) << 8];
    }
    if (runLength_ >= 2) {
      ++triples_[prev2_ | prev1_ << 8 | static_cast<std::uint32_t>(b) << 16];
    }
    prev2_ = prev1_;
    prev1_ = b;
    ++runLength_;
    encoded_.push_back(b);
  }

  void BreakRun() {
    if (runLength_ > 0) {
      runEnds_.push_back(static_cast<std::uint32_t>(encoded_.size()));
    }
    runLength_ = 0;
  }

  std::vector<std::int16_t> byteOf_;  // code unit -> byte, -1 when the set cannot encode it
  std::uint64_t singles_[256] = {};
  std::vector<std::uint32_t> pairs_;    // key: first byte | second << 8
  std::vector<std::uint32_t> triples_;  // key: first | second << 8 | third << 16
  std::vector<std::uint8_t> encoded_;   // every run, back to back, to measure the result
  std::vector<std::uint32_t> runEnds_;
  std::uint32_t prev1_ = 0, prev2_ = 0;
  std::uint64_t runLength_ = 0;
  std::uint64_t unencodable_ = 0, malformed_ = 0;
  std::uint64_t lostAfter_[256] = {};
  std::vector<std::uint32_t> lostAfterPair_ = std::vector<std::uint32_t>(kPairKeys, 0);
};

// ---------------------------------------------------------------------------
// The model and its weights (see the top of this file for what they mean).
//
// Per position, target byte c with the bytes a b before it, the weights that
// fire are: single(c), the history part of single(b), the history part of
// pair(a b), pair(b c), triple(a b c).  The history parts carry the back-off
// factors that Katz applies to whatever follows: u[b] = log2 alpha[b] after a
// high byte b, v[a b] = log2 beta[a b] after a pair whose second byte is high.

struct Entry {
  std::uint32_t key;
  double weight;  // in bits, before the division by the detection's multiplier
};

struct Tables {
  std::vector<Entry> singles, pairs, triples;
};

constexpr std::uint32_t kHigh = 0x80;

// A byte that real text in the set never contains: unmapped, or a control code.
bool IsControlOrUnmapped(std::uint16_t unit) {
  if (unit == 0xFFFF) return true;
  if (unit == 0x09 || unit == 0x0A || unit == 0x0C || unit == 0x0D) return false;
  return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F);
}

std::uint32_t ByteAt(std::uint32_t key, int index) { return (key >> (8 * index)) & 0xFF; }

// Absolute discount from the numbers of n-grams seen once and twice (Ney's estimate).
double Discount(std::uint64_t once, std::uint64_t twice) {
  if (once == 0 || twice == 0) return 0.5;
  double d =
      static_cast<double>(once) / (static_cast<double>(once) + 2.0 * static_cast<double>(twice));
  return std::clamp(d, 0.1, 0.9);
}

// Katz: the mass a history leaves to the n-grams it does not keep, spread in
// proportion to the lower level: (1 - kept mass) / (lower mass of the others).
double BackoffFactor(double keptMass, double remainingLowerMass) {
  double left = 1.0 - keptMass;
  if (remainingLowerMass <= 1e-12 || left <= 1e-12) {
    return 1.0;  // nothing left to share, or nowhere to put it
  }
  return left / remainingLowerMass;
}

struct Candidate {
  double gain;
  std::uint32_t key;
};

// Keeps the `limit` candidates with the largest gain (ties by key, so the
// result does not depend on the order of the input); returns them sorted by key.
std::vector<std::uint32_t> KeepBest(std::vector<Candidate> candidates, std::size_t limit) {
  auto better = [](const Candidate& a, const Candidate& b) {
    return a.gain != b.gain ? a.gain > b.gain : a.key < b.key;
  };
  if (candidates.size() > limit) {
    std::nth_element(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(limit),
                     candidates.end(), better);
    candidates.resize(limit);
  }
  std::vector<std::uint32_t> keys;
  keys.reserve(candidates.size());
  for (const Candidate& c : candidates) keys.push_back(c.key);
  std::sort(keys.begin(), keys.end());
  return keys;
}

class Model {
 public:
  Model(CharsetId charset, const NgramCounter& counter, const Options& options)
      : counter_(counter),
        c1_(counter.Singles()),
        c2_(counter.Pairs()),
        c3_(counter.Triples()),
        options_(options) {
    EstimateSingles(charset);
    EstimateTransitions();
    EstimatePairs();
    EstimateTriples();
  }

  Tables Weights() const {
    Tables tables;
    for (std::uint32_t c = 0; c < 256; ++c) {
      double weight =
          c < kHigh ? 0.0 : std::log2(q_[c]) + 8.0 + gamma_ + u_[c] + options_.highByteBias;
      tables.singles.push_back({c, weight});
    }
    for (std::uint32_t key = 0; key < kPairKeys; ++key) {
      if (!pairKept_[key] && !isHistory_[key]) continue;
      std::uint32_t b = ByteAt(key, 0), c = ByteAt(key, 1);
      double weight = isHistory_[key] ? v_[key] : 0.0;
      if (pairKept_[key] && b >= kHigh) {
        weight += std::log2(Pair(key)) - std::log2(q_[c]) - u_[b] - (c >= kHigh ? gamma_ : 0.0);
      } else if (pairKept_[key]) {
        weight += toHigh_[b] + std::log2(HighPair(key)) - gamma_ - std::log2(high_[c]);
      }
      tables.pairs.push_back({key, weight});
    }
    for (std::uint32_t key : triples_) {
      double weight =
          ByteAt(key, 1) >= kHigh
              ? std::log2(Triple(key)) - std::log2(ScoredPair(key >> 8)) - v_[key & 0xFFFF]
              : toHigh_[ByteAt(key, 1)] + std::log2(HighTriple(key)) - ScoredHighPairBits(key >> 8);
      tables.triples.push_back({key, weight});
    }
    return tables;
  }

 private:
  // The high bytes' own distribution, with floors that are a fixed share of
  // the high bytes seen, so a set trained on little text is as strict as one
  // trained on much.
  // Characters the set cannot encode count in the total as high bytes that
  // are not there: siblings such as Windows-1250 and ISO-8859-2, trained on
  // the same text, then give the letters they share the same probability,
  // instead of the one that cannot write typographic quotes seeming surer of
  // its letters.  The distribution is deficient by that share.
  void EstimateSingles(CharsetId charset) {
    double seen = 0;
    for (std::uint32_t c = kHigh; c < 256; ++c) seen += static_cast<double>(c1_[c]);
    double sum = static_cast<double>(counter_.Unencodable());
    for (std::uint32_t c = kHigh; c < 256; ++c) {
      double share =
          IsControlOrUnmapped(CodePageTable[charset][c]) ? kControlShare : kRareCharacterShare;
      high_[c] = static_cast<double>(c1_[c]) + share * std::max(seen, 1.0);
      sum += high_[c];
    }
    for (std::uint32_t c = 0; c < 256; ++c) {
      if (c >= kHigh) high_[c] /= sum;
      q_[c] = c < kHigh ? 1.0 / 256.0 : high_[c] / 2.0;
    }
  }

  // After each low byte: how much more (or less) often than on average a high
  // byte follows it.  High bytes are taken as rare events whose overall rate
  // is the same for every set (so a low byte after a low byte says nothing);
  // where they appear, relative to the average, is this set's own.  Bytes seen
  // rarely lean on the average.
  void EstimateTransitions() {
    double followed[128] = {}, toHigh[128] = {}, allFollowed = 0, allToHigh = 0;
    for (std::uint32_t key = 0; key < kPairKeys; ++key) {
      std::uint32_t b = ByteAt(key, 0);
      if (b >= kHigh) continue;
      followed[b] += c2_[key];
      if (ByteAt(key, 1) >= kHigh) toHigh[b] += c2_[key];
    }
    const std::uint64_t* lost = counter_.LostAfter();
    for (std::uint32_t b = 0; b < kHigh; ++b) {
      followed[b] += static_cast<double>(lost[b]);  // as above: a high byte this set lacks
      toHigh[b] += static_cast<double>(lost[b]);
      allFollowed += followed[b];
      allToHigh += toHigh[b];
      lowWeight_[b] = followed[b];
    }
    double average = std::clamp(allFollowed > 0 ? allToHigh / allFollowed : 0.0, 1e-9, 1.0);
    constexpr double kPriorCount = 10.0;
    for (std::uint32_t b = 0; b < kHigh; ++b) {
      double p = (toHigh[b] + kPriorCount * average) / (followed[b] + kPriorCount);
      toHigh_[b] = std::log2(p / average);
    }
  }

  // Pairs: after a high byte every next byte (Katz over Q), after a low byte
  // the choice among the high bytes.
  void EstimatePairs() {
    std::uint64_t once = 0, twice = 0;
    for (std::uint32_t key = 0; key < kPairKeys; ++key) {
      if (!Scored2(key)) continue;
      std::uint32_t b = ByteAt(key, 0);
      (b >= kHigh ? history2_ : highHistory2_)[b] += c2_[key];
      once += c2_[key] == 1;
      twice += c2_[key] == 2;
    }
    d2_ = Discount(once, twice);
    for (std::uint32_t b = 0; b < 256; ++b) {  // see EstimateSingles
      (b >= kHigh ? history2_ : highHistory2_)[b] += static_cast<double>(counter_.LostAfter()[b]);
    }
    std::vector<bool> candidate(kPairKeys, false);
    for (std::uint32_t key = 0; key < kPairKeys; ++key) {
      candidate[key] = Scored2(key) && c2_[key] >= options_.minCount;
    }
    UpdateBackoff(candidate);
    std::vector<Candidate> candidates;
    for (std::uint32_t key = 0; key < kPairKeys; ++key) {
      if (!candidate[key]) continue;
      std::uint32_t b = ByteAt(key, 0), c = ByteAt(key, 1);
      double shift;  // bits between keeping the pair and leaving it to the single byte
      if (b >= kHigh) {
        shift = std::log2(Pair(key)) - std::log2(alpha_[b] * q_[c]) - (c >= kHigh ? gamma_ : 0.0);
      } else {
        shift = toHigh_[b] + std::log2(HighPair(key)) - gamma_ - std::log2(high_[c]);
      }
      candidates.push_back({c2_[key] * std::fabs(shift), key});
    }
    for (std::uint32_t key : KeepBest(std::move(candidates), options_.maxPairs)) {
      pairKept_[key] = true;
    }
    UpdateBackoff(pairKept_);
  }

  // Back-off factors for the given set of kept pairs.  gamma: what a pair of
  // a low and a high byte that the file does not keep costs, the weighted mean
  // over the low bytes of what Katz would charge such a pair, so that leaving
  // one out costs about what an unseen one should.  alpha after each high
  // byte: Katz against the lower level as it is scored, Q with the high bytes
  // scaled by 2^gamma, so that the pair level stays a distribution.
  void UpdateBackoff(const std::vector<bool>& kept) {
    double keptMass[256] = {}, keptLower[256] = {}, keptLowerHigh[256] = {};
    for (std::uint32_t key = 0; key < kPairKeys; ++key) {
      if (!kept[key]) continue;
      std::uint32_t b = ByteAt(key, 0), c = ByteAt(key, 1);
      if (b >= kHigh) {
        keptMass[b] += Pair(key);
        (c >= kHigh ? keptLowerHigh : keptLower)[b] += q_[c];
      } else {
        keptMass[b] += HighPair(key);
        keptLower[b] += high_[c];
      }
    }
    double highTotal = 0;
    for (std::uint32_t c = kHigh; c < 256; ++c) highTotal += high_[c];
    double total = 0, weighted = 0;
    for (std::uint32_t b = 0; b < kHigh; ++b) {
      if (lowWeight_[b] <= 0) continue;
      double factor = BackoffFactor(keptMass[b], highTotal - keptLower[b]);
      weighted += lowWeight_[b] * (toHigh_[b] + std::log2(factor));
      total += lowWeight_[b];
    }
    gamma_ = std::clamp(total > 0 ? weighted / total : -8.0, -24.0, 0.0);
    double scale = std::exp2(gamma_);
    for (std::uint32_t b = kHigh; b < 256; ++b) {
      double remaining = (0.5 - keptLower[b]) + scale * (highTotal / 2.0 - keptLowerHigh[b]);
      alpha_[b] = BackoffFactor(keptMass[b], remaining);
      u_[b] = std::log2(alpha_[b]);
    }
  }

  void EstimateTriples() {
    std::uint64_t once = 0, twice = 0;
    for (std::uint32_t key = 0; key < kTripleKeys; ++key) {
      std::uint32_t count = c3_[key];
      if (count == 0 || !Scored3(key)) continue;
      (ByteAt(key, 1) >= kHigh ? history3_ : highHistory3_)[key & 0xFFFF] += count;
      once += count == 1;
      twice += count == 2;
    }
    d3_ = Discount(once, twice);
    const std::vector<std::uint32_t>& lost = counter_.LostAfterPair();
    for (std::uint32_t history = 0; history < kPairKeys; ++history) {  // see EstimateSingles
      (ByteAt(history, 1) >= kHigh ? history3_ : highHistory3_)[history] += lost[history];
    }
    std::vector<double> keptMass(kPairKeys, 0.0), keptLower(kPairKeys, 0.0);
    for (std::uint32_t key = 0; key < kTripleKeys; ++key) {
      if (c3_[key] >= options_.minCount && Scored3(key) && ByteAt(key, 1) >= kHigh) {
        keptMass[key & 0xFFFF] += Triple(key);
        keptLower[key & 0xFFFF] += ScoredPair(key >> 8);
      }
    }
    std::vector<Candidate> candidates;
    for (std::uint32_t key = 0; key < kTripleKeys; ++key) {
      if (c3_[key] < options_.minCount || !Scored3(key)) continue;
      std::uint32_t history = key & 0xFFFF;
      double shift;
      if (ByteAt(key, 1) >= kHigh) {
        double beta = BackoffFactor(keptMass[history], 1.0 - keptLower[history]);
        shift = std::log2(Triple(key)) - std::log2(beta * ScoredPair(key >> 8));
      } else {
        shift = toHigh_[ByteAt(key, 1)] + std::log2(HighTriple(key)) - ScoredHighPairBits(key >> 8);
      }
      candidates.push_back({c3_[key] * std::fabs(shift), key});
    }
    triples_ = KeepBest(std::move(candidates), options_.maxTriples);
    std::fill(keptMass.begin(), keptMass.end(), 0.0);
    std::fill(keptLower.begin(), keptLower.end(), 0.0);
    for (std::uint32_t key : triples_) {
      if (ByteAt(key, 1) < kHigh) continue;
      keptMass[key & 0xFFFF] += Triple(key);
      keptLower[key & 0xFFFF] += ScoredPair(key >> 8);
      isHistory_[key & 0xFFFF] = true;
    }
    for (std::uint32_t history = 0; history < kPairKeys; ++history) {
      if (isHistory_[history]) {
        v_[history] = std::log2(BackoffFactor(keptMass[history], 1.0 - keptLower[history]));
      }
    }
  }

  // What the model scores: a pair whose first or second byte is high; a
  // triple whose middle byte is high, or whose middle byte is low and last
  // byte high.  A low byte after a low byte is scored by the transition alone.
  static bool Scored2(std::uint32_t key) {
    return ByteAt(key, 0) >= kHigh || ByteAt(key, 1) >= kHigh;
  }
  static bool Scored3(std::uint32_t key) {
    return ByteAt(key, 1) >= kHigh || ByteAt(key, 2) >= kHigh;
  }

  // P(c | b) after a high byte b; P(c | b, c high) after a low byte b.
  double Pair(std::uint32_t key) const { return (c2_[key] - d2_) / history2_[ByteAt(key, 0)]; }
  double HighPair(std::uint32_t key) const {
    return (c2_[key] - d2_) / highHistory2_[ByteAt(key, 0)];
  }
  double Triple(std::uint32_t key) const { return (c3_[key] - d3_) / history3_[key & 0xFFFF]; }
  double HighTriple(std::uint32_t key) const {
    return (c3_[key] - d3_) / highHistory3_[key & 0xFFFF];
  }
  // What the single byte and the pair add up to for a pair after a high
  // byte, as a probability; and after a low byte, in bits less the 7 of the
  // reference.
  double ScoredPair(std::uint32_t key) const {
    std::uint32_t b = ByteAt(key, 0), c = ByteAt(key, 1);
    if (pairKept_[key]) return Pair(key);
    return alpha_[b] * q_[c] * (c >= kHigh ? std::exp2(gamma_) : 1.0);
  }
  double ScoredHighPairBits(std::uint32_t key) const {
    std::uint32_t b = ByteAt(key, 0), c = ByteAt(key, 1);
    if (pairKept_[key]) return toHigh_[b] + std::log2(HighPair(key));
    return gamma_ + std::log2(high_[c]);
  }

  const NgramCounter& counter_;
  const std::uint64_t* c1_;
  const std::vector<std::uint32_t>& c2_;
  const std::vector<std::uint32_t>& c3_;
  const Options& options_;
  double high_[256] = {};  // P(c | c is high); 0 for low bytes
  double q_[256] = {};     // the lowest level of the model after a high byte
  double toHigh_[128] = {}, lowWeight_[128] = {};
  double alpha_[256] = {}, u_[256] = {};
  double gamma_ = -8.0;
  double d2_ = 0.5, d3_ = 0.5;
  double history2_[256] = {}, highHistory2_[256] = {};
  std::vector<double> history3_ = std::vector<double>(kPairKeys, 0.0);
  std::vector<double> highHistory3_ = std::vector<double>(kPairKeys, 0.0);
  std::vector<bool> pairKept_ = std::vector<bool>(kPairKeys, false);
  std::vector<bool> isHistory_ = std::vector<bool>(kPairKeys, false);
  std::vector<double> v_ = std::vector<double>(kPairKeys, 0.0);
  std::vector<std::uint32_t> triples_;
};

// The detection's own arithmetic, with the values as stored in the file.
class DetectionScorer {
 public:
  explicit DetectionScorer(const Tables& tables) : w1_(256, 0.0), w2_(kPairKeys, 0.0) {
    for (const Entry& e : tables.singles) w1_[e.key] = e.weight;
    for (const Entry& e : tables.pairs) w2_[e.key] = e.weight / kPairMultiplier;
    for (const Entry& e : tables.triples) w3_.emplace_back(e.key, e.weight / kTripleMultiplier);
  }

  double Score(const std::uint8_t* b, std::size_t n) const {
    double s1 = 0, s2 = 0, s3 = 0;
    for (std::size_t j = 0; j + 4 < n; ++j) {
      std::uint32_t k2 = b[j] | static_cast<std::uint32_t>(b[j + 1]) << 8;
      std::uint32_t k3 = k2 | static_cast<std::uint32_t>(b[j + 2]) << 16;
      s1 += w1_[b[j]];
      s2 += w2_[k2];
      auto it = std::lower_bound(w3_.begin(), w3_.end(), std::make_pair(k3, -HUGE_VAL));
      if (it != w3_.end() && it->first == k3) s3 += it->second;
    }
    return s2 * kPairMultiplier + s1 + s3 * kTripleMultiplier;
  }

 private:
  std::vector<double> w1_, w2_;
  std::vector<std::pair<std::uint32_t, double>> w3_;  // sorted by key, as written
};

// ---------------------------------------------------------------------------
// Writing the file: all integers and doubles little-endian, whatever the host.

void PutU32(std::string* out, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) out->push_back(static_cast<char>((value >> (8 * k)) & 0xFF));
}

void PutDouble(std::string* out, double value) {
  std::uint64_t bits = 0;
  static_assert(sizeof bits == sizeof value, "IEEE 754 double expected");
  std::memcpy(&bits, &value, sizeof bits);
  for (int k = 0; k < 8; ++k) out->push_back(static_cast<char>((bits >> (8 * k)) & 0xFF));
}

void PutBlock(std::string* out, std::uint32_t order, const std::vector<Entry>& entries,
              double divisor) {
  out->append("STBL", 4);
  PutU32(out, order);  // not interpreted by the detection; the n-gram length, for readers
  PutU32(out, static_cast<std::uint32_t>(entries.size()));
  for (const Entry& e : entries) {
    PutU32(out, e.key);
    PutDouble(out, e.weight / divisor);
  }
}

std::string Serialize(const Options& options, const Tables& tables) {
  std::string out;
  out.append("STAT", 4);
  out.append(options.label, 4);
  PutU32(&out, options.charset);
  PutU32(&out, kFormatRevision);
  PutBlock(&out, 1, tables.singles, 1.0);
  PutBlock(&out, 2, tables.pairs, kPairMultiplier);
  PutBlock(&out, 3, tables.triples, kTripleMultiplier);
  return out;
}

// Writes `data` to `path` through a new temporary file beside it, which
// replaces `path` only once it is complete, so a failed run never leaves
// half a file. Only a regular file is ever replaced: when something else
// stands under `path` (a directory, a device, a FIFO, a dangling link) the
// file is not written and `why` says so.
bool WriteFileAtomically(const std::string& path, const std::string& data, std::string* why) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path target(path);
  if (fs::symlink_status(target, error).type() != fs::file_type::not_found &&
      fs::status(target, error).type() != fs::file_type::regular) {
    *why = "it exists and is not a regular file";
    return false;
  }
  // The temporary is created exclusively beside the target and stays open
  // until it is renamed over it: nobody can slip a link under its name.
  platform::ReplacementFile file;
  if (!platform::CreateReplacementFile(platform::FromNative(path.c_str()).c_str(), false, &file)) {
    *why = "no temporary file can be made beside it";
    return false;
  }
  bool written = true;
  std::size_t done = 0;
  while (written && done < data.size()) {
    std::uint32_t n = 0;
    const std::size_t left = data.size() - done;
    written = platform::WriteFile(file.handle, data.data() + done,
                                  static_cast<std::uint32_t>(std::min<std::size_t>(left, 1u << 20)),
                                  &n) &&
              n != 0;
    done += n;
  }
  if (!written || platform::CommitReplacementFile(&file, nullptr) != platform::CommitResult::kCommitted) {
    platform::DiscardReplacementFile(&file);
    *why = "writing or replacing it failed";
    return false;
  }
  return true;
}

int Run(int argc, char** argv) {
  Options options;
  if (int status = ParseOptions(argc, argv, &options); status != 0) {
    return status;
  }
  NgramCounter counter(options.charset);
  for (const std::string& sample : options.samples) {
    if (!counter.AddSample(sample)) {
      std::fprintf(stderr, "ordana-stats: cannot read %s\n", sample.c_str());
      return 1;
    }
  }
  const std::vector<std::uint8_t>& encoded = counter.Encoded();
  if (encoded.empty()) {
    std::fprintf(stderr, "ordana-stats: the samples hold no text this character set can encode\n");
    return 1;
  }
  Tables tables = Model(options.charset, counter, options).Weights();
  std::string data = Serialize(options, tables);
  std::string why;
  if (!WriteFileAtomically(options.output, data, &why)) {
    std::fprintf(stderr, "ordana-stats: cannot write %s: %s\n", options.output.c_str(),
                 why.c_str());
    return 1;
  }
  if (!options.quiet) {
    char16_t name16[64];
    CharsetName(options.charset, name16);
    std::string name;
    for (const char16_t* p = name16; *p != 0; ++p) name.push_back(static_cast<char>(*p));
    // How the detection will see the training text itself, run by run.
    DetectionScorer scorer(tables);
    double score = 0;
    std::size_t scored = 0, start = 0;
    for (std::uint32_t end : counter.RunEnds()) {
      if (end - start > 4) {
        score += scorer.Score(encoded.data() + start, end - start);
        scored += end - start - 4;
      }
      start = end;
    }
    std::fprintf(stderr,
                 "ordana-stats: %s (%s, id %u): %zu bytes of text, %llu characters not "
                 "encodable, %llu malformed bytes\n",
                 options.output.c_str(), name.c_str(), static_cast<unsigned>(options.charset),
                 encoded.size(), static_cast<unsigned long long>(counter.Unencodable()),
                 static_cast<unsigned long long>(counter.Malformed()));
    std::fprintf(stderr,
                 "ordana-stats: %zu single bytes, %zu pairs, %zu triples, %zu bytes written; "
                 "the samples score %.2f bits per byte\n",
                 tables.singles.size(), tables.pairs.size(), tables.triples.size(), data.size(),
                 scored != 0 ? score / static_cast<double>(scored) : 0.0);
  }
  return 0;
}

}  // namespace
}  // namespace ordana

int main(int argc, char** argv) { return ordana::Run(argc, argv); }
