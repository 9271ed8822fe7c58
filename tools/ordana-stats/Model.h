#pragma once
// The model of ordana-stats: from the counted n-grams of the samples to the
// weights a statistics file holds.
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

#include <cstdint>
#include <utility>
#include <vector>

#include "codecs/CharsetRegistry.h"
#include "ordana-stats/NgramCounter.h"
#include "ordana-stats/Options.h"

namespace ordana::stats {

constexpr double kPairMultiplier = 50.0;  // the detection's fixed multipliers
constexpr double kTripleMultiplier = 500.0;

struct Entry {
  std::uint32_t key;
  double weight;  // in bits, before the division by the detection's multiplier
};

struct Tables {
  std::vector<Entry> singles, pairs, triples;
};

// The weights of the single bytes, pairs and triples for the set `charset`,
// in bits, from the n-grams `counter` holds and the limits in `options`.
Tables ComputeWeights(CharsetId charset, const NgramCounter& counter, const Options& options);

// The detection's own arithmetic, with the values as stored in the file.
class DetectionScorer {
 public:
  explicit DetectionScorer(const Tables& tables) : w1_(256, 0.0), w2_(kPairKeys, 0.0) {
    for (const Entry& e : tables.singles) w1_[e.key] = e.weight;
    for (const Entry& e : tables.pairs) w2_[e.key] = e.weight / kPairMultiplier;
    for (const Entry& e : tables.triples) w3_.emplace_back(e.key, e.weight / kTripleMultiplier);
  }

  // The score of n bytes as the detection computes it.
  double Score(const std::uint8_t* b, std::size_t n) const;

 private:
  std::vector<double> w1_, w2_;
  std::vector<std::pair<std::uint32_t, double>> w3_;  // sorted by key, as written
};

}  // namespace ordana::stats
