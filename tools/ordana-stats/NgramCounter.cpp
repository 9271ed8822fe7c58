#include "ordana-stats/NgramCounter.h"

#include <fstream>
#include <iterator>

#include "platform/Utf8.h"

namespace ordana::stats {

NgramCounter::NgramCounter(CharsetId charset)
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

bool NgramCounter::AddSample(const std::string& path) {
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

void NgramCounter::AddByte(std::uint8_t b) {
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

void NgramCounter::BreakRun() {
  if (runLength_ > 0) {
    runEnds_.push_back(static_cast<std::uint32_t>(encoded_.size()));
  }
  runLength_ = 0;
}

}  // namespace ordana::stats
