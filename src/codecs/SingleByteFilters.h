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

#include "codecs/CodecBase.h"

namespace ordana {

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

 private:
  CharsetId charset_;
  bool strict_;
  const std::uint16_t* table_;
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

 private:
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
