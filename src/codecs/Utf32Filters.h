#pragma once
// UTF-32 in and out. The decoder turns 32-bit code points into UTF-16 code
// units, splitting what lies beyond the Basic Multilingual Plane into a
// surrogate pair; the encoder combines pairs again. What is no character is
// an error, counted, reported and replaced by U+FFFD: a value beyond
// U+10FFFF, 1 to 3 bytes where the input ends; and under the strict policy
// a surrogate value (decoder) or an unpaired surrogate (encoder, also a
// high surrogate that ends the input), which the loose policy passes on
// with a warning.
//
// Each direction has a fast path for runs of 8 units that need no
// attention (no surrogate pair to make or split) and a plain loop that
// handles everything one character at a time; the plain loop alone gives
// the same result.

#include "codecs/CodecBase.h"

namespace ordana {

class CUtf32ToUtf16Filter : public CCharDecoderFilter {
 public:
  CUtf32ToUtf16Filter(bool bigEndian, const CodecOptions& options);
  // Consumes every whole 4-byte unit (a leading byte order mark of the
  // filter's byte order is dropped once per file); 1 to 3 trailing bytes stay
  // pending. Writes at most 4 output bytes per unit.
  std::int32_t Filter() override;
  void FilterEndOfInput() override;
  bool Reset() override;
  CharsetId GetCharset() const override { return bigEndian_ ? kCharsetUtf32Be : kCharsetUtf32; }

  // Off: every unit goes through the plain loop (the tests compare both).
  void UseFastPath(bool enabled) { fastPath_ = enabled; }

 private:
  bool bigEndian_;
  bool strict_;
  bool bomChecked_ = false;
  char16_t replacement_ = 0xFFFD;
  bool fastPath_ = true;
};

class CUtf16ToUtf32Filter : public CCharEncoderFilter {
 public:
  CUtf16ToUtf32Filter(bool bigEndian, const CodecOptions& options);
  // Consumes whole code units; an odd byte, or a high surrogate at the end
  // of the pending input (its partner may be in the next chunk), stays
  // pending. Writes 4 output bytes per character.
  std::int32_t Filter() override;
  void FilterEndOfInput() override;
  bool Reset() override;
  CharsetId GetCharset() const override { return bigEndian_ ? kCharsetUtf32Be : kCharsetUtf32; }

  // Off: every unit goes through the plain loop (the tests compare both).
  void UseFastPath(bool enabled) { fastPath_ = enabled; }

 private:
  void Encode(bool endOfInput);
  void PutByteOrderMark();

  bool writeBom_;
  bool bigEndian_;
  bool strict_;
  bool fastPath_ = true;
};

}  // namespace ordana
