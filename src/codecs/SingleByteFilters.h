#pragma once
// The single-byte character sets (ids 0..59), one code unit per byte through
// the set's CodePageTable.
//
// Under the loose policy the two directions cooperate: a byte the source set
// does not define is decoded to the code unit U+DC00 + byte, and the encoder
// turns exactly the units U+DC00..U+DCFF it cannot map back into those
// bytes, so a loose conversion between two single-byte sets keeps bytes
// nobody could read. Under the strict policy such a byte becomes U+FFFF and
// an unmappable character the byte 0xFF; both are counted as errors.
//
// Both filters have a fast path for runs of mappable input (whole blocks of
// ASCII at once where the set maps ASCII to itself) and a plain loop that
// handles everything else one unit at a time; the plain loop alone gives
// the same result (UseFastPath lets the tests compare the two).

#include <cstdint>
#include <memory>
#include <vector>

#include "codecs/CodecBase.h"

namespace ordana {

class CUtf16ToUtf8Filter;

class CSingleByteToUtf16Filter : public CCharDecoderFilter {
 public:
  // `charset` is a single-byte set id (0..59).
  CSingleByteToUtf16Filter(CharsetId charset, const CodecOptions& options);
  // Consumes every pending byte; writes 2 output bytes per byte.
  std::int32_t Filter() override;
  // Nothing waits: every byte is a whole character.
  void FilterEndOfInput() override { Filter(); }
  bool Finish() override;
  CharsetId GetCharset() const override { return charset_; }

  void UseFastPath(bool enabled) { fastPath_ = enabled; }
  // The direct path: when the UTF-8 encoder follows this decoder with
  // nothing between them, the decoder writes UTF-8 into the encoder's
  // output itself, in one pass and without the UTF-16 in between. It keeps
  // both filters' counts and positions and says their messages in the
  // order the two would (the decoder's messages of a step, then the
  // encoder's), so the result is the one of the two filters working one
  // after the other. Off (also with CodecOptions::fastPaths off): the
  // classic two filters always.
  void UseDirectPath(bool enabled) { directPath_ = enabled; }
  // Bytes the direct path has converted since the filter was made (the
  // tests ask whether it was taken).
  std::uint64_t DirectlyConverted() const { return directlyConverted_; }

 private:
  // The encoder this step may write for, or null for the classic path.
  CUtf16ToUtf8Filter* DirectEncoder() const;
  void FilterDirect(CUtf16ToUtf8Filter& encoder);
  // Converts pending bytes [from, to) into the encoder's output; returns
  // where it stopped (before `to` only when the output has no room). An
  // unpaired surrogate written for the encoder is remembered in
  // surrogates_ (its pending index) for the encoder's message.
  std::uint32_t DirectRun(std::uint32_t from, std::uint32_t to, CUtf16ToUtf8Filter& encoder);
  // The code unit of byte `b`, which the set leaves undefined, at pending
  // index `index`: counted and reported by the policy.
  std::uint16_t DecodeUndefined(std::uint32_t b, std::uint32_t index);

  CharsetId charset_;
  bool strict_;
  const std::uint16_t* table_;
  // The UTF-8 bytes of every defined byte's character; byte 3 is the length
  // (0: undefined, reported and written one by one).
  std::uint8_t utf8_[256][4] = {};
  bool directCapable_ = true;  // no byte maps to a surrogate
  bool directPath_ = true;
  std::vector<std::uint32_t> surrogates_;
  std::uint64_t directlyConverted_ = 0;
  // The code unit of every byte as it is stored: little endian whatever the
  // machine (0xFFFF, the missing mapping, reads the same either way).
  std::uint16_t outputUnits_[256];
  bool asciiIsIdentity_ = false;  // bytes below 0x80 decode to themselves
  bool fastPath_ = true;
};

class CUtf16ToSingleByteFilter : public CCharEncoderFilter {
 public:
  // `charset` is a single-byte set id (0..59). Throws std::bad_alloc when
  // the reverse table cannot be made.
  CUtf16ToSingleByteFilter(CharsetId charset, const CodecOptions& options);
  // Consumes whole code units (an odd last byte stays pending); writes one
  // output byte per unit. A U+FEFF that opens the file is dropped.
  std::int32_t Filter() override;
  void FilterEndOfInput() override;
  bool Finish() override;
  bool Reset() override;
  CharsetId GetCharset() const override { return charset_; }

  void UseFastPath(bool enabled) { fastPath_ = enabled; }

  // For a decoder that writes this encoder's output itself (the direct
  // path, see CUtf8ToUtf16Filter): true when nothing of this encoder waits
  // in its pending input and a next filter takes its output, so bytes
  // appended to the output now stand where the encoder's own would.
  bool AcceptsDirectOutput() const {
    return enabled_ && pending_.empty() && NextFilter() != nullptr;
  }
  // The byte of every code unit, kNoByte where the set has none.
  static constexpr std::uint16_t kNoByte = 0xFFFF;
  const std::uint16_t* ReverseTable() const { return reverse_.get(); }
  // Units below U+0080 encode to themselves.
  bool AsciiIsIdentity() const { return asciiIsIdentity_; }
  // Where the next code unit would stand in the encoder's input stream.
  std::uint64_t InputPosition() const { return Position(0); }
  // Counts `units` code units that were converted into the output directly.
  void CountDirectUnits(std::uint32_t units) { CountPassedOn(2 * units); }
  // Passes the output on, as the encoder does at the end of each step.
  void ForwardOutput() {
    if (!output_.empty()) Forward(output_);
  }
  // True (and nothing is written for it) when `u` at input position
  // `position` is the byte order mark that opens the file.
  bool TakeByteOrderMark(std::uint32_t u, std::uint64_t position) {
    if (u != kByteOrderMark || position != 0 || bomSkipped_) return false;
    bomSkipped_ = true;
    return true;
  }
  // The byte written for `u`, which the reverse table does not map, by the
  // policy (a byte the loose decoder carried, else 0xFF), counted as an
  // error when it is one; SayUnmapped says the message that goes with it
  // for input position `position`.
  std::uint8_t TakeUnmapped(std::uint32_t u);
  void SayUnmapped(std::uint32_t u, std::uint64_t position) const;

 private:
  static constexpr std::uint32_t kByteOrderMark = 0xFEFF;
  // A unit the loose decoder made of an undefined byte, to be restored.
  bool Restores(std::uint32_t u) const;

  CharsetId charset_;
  // For every code unit the byte that encodes it, 0xFFFF for none. 128 KiB
  // per filter buys one table access per character.
  std::unique_ptr<std::uint16_t[]> reverse_;
  bool bomSkipped_ = false;
  bool strict_;
  bool asciiIsIdentity_ = false;  // units below U+0080 encode to themselves
  bool fastPath_ = true;
};

}  // namespace ordana
