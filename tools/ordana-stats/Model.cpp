#include "ordana-stats/Model.h"

#include <algorithm>
#include <cmath>

namespace ordana::stats {
namespace {

// Floors of the high-byte distribution, as shares of the high bytes seen.
constexpr double kRareCharacterShare = 1e-5;  // a mapped byte never seen in the samples
constexpr double kControlShare = 1e-30;       // an unmapped byte or a control code

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

// The model and its weights (see Model.h for what they mean).
//
// Per position, target byte c with the bytes a b before it, the weights that
// fire are: single(c), the history part of single(b), the history part of
// pair(a b), pair(b c), triple(a b c).  The history parts carry the back-off
// factors that Katz applies to whatever follows: u[b] = log2 alpha[b] after a
// high byte b, v[a b] = log2 beta[a b] after a pair whose second byte is high.
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

}  // namespace

Tables ComputeWeights(CharsetId charset, const NgramCounter& counter, const Options& options) {
  return Model(charset, counter, options).Weights();
}

double DetectionScorer::Score(const std::uint8_t* b, std::size_t n) const {
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

}  // namespace ordana::stats
