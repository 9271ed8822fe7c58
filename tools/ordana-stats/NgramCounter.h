#pragma once
// Encoding the samples into the character set and counting its single bytes,
// pairs and triples. A character the set cannot encode (or a malformed UTF-8
// sequence) ends the current run of text, so that no n-gram spans the gap.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codecs/CharsetRegistry.h"

namespace ordana::stats {

constexpr std::size_t kPairKeys = 1u << 16;
constexpr std::size_t kTripleKeys = 1u << 24;

class NgramCounter {
 public:
  explicit NgramCounter(CharsetId charset);

  // Encodes and counts one sample; returns false when it cannot be read.
  bool AddSample(const std::string& path);

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
  void AddByte(std::uint8_t b);
  // Ends the current run of text: no n-gram spans what follows.
  void BreakRun();

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

}  // namespace ordana::stats
