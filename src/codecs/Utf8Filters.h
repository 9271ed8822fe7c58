#pragma once
// UTF-8 in and out.
//
// The decoder takes the well-formed sequences of the Unicode standard and
// nothing else: only 80..BF continue a sequence, and overlong forms, values
// above U+10FFFF, U+FFFE, U+FFFF and encoded surrogates (passed on with a
// warning under the loose policy) are errors. Every error, wherever it
// stands and also where the input ends inside a sequence, is counted,
// reported and replaced by one U+FFFD per maximal subpart (the longest
// start of a well-formed sequence there; a lone bad byte is one), and
// decoding resumes at the first byte that cannot belong to it.
//
// The encoder combines surrogate pairs and replaces (strict) or encodes
// (loose) unpaired surrogates, also a high surrogate that ends the input.

#include <vector>

#include "codecs/CodecBase.h"
#include "support/CpuFeatures.h"

namespace ordana {

class CUtf16ToSingleByteFilter;

class CUtf8ToUtf16Filter : public CCharDecoderFilter {
 public:
  explicit CUtf8ToUtf16Filter(const CodecOptions& options);
  std::int32_t Filter() override;
  void FilterEndOfInput() override;
  bool Finish() override;
  bool Reset() override;
  CharsetId GetCharset() const override { return kCharsetUtf8; }

  // The number of continuation bytes a well-formed sequence starting with
  // `byte` has; 0 for bytes that start none.
  static int SequenceLength(std::uint8_t byte);

  // Off: every byte goes through the plain loop (the tests compare both).
  void UseFastPath(bool enabled) { simd_ = enabled ? DetectSimdLevel() : SimdLevel::kPlain; }
  // The vector kernels of at most `level` (lowered to what the processor has).
  void UseSimdLevel(SimdLevel level) { simd_ = SupportedSimdLevel(level); }
  // The direct path: when a single-byte encoder follows this decoder with
  // nothing between them, the decoder writes the encoder's bytes into the
  // encoder's output itself, in one pass and without the UTF-16 in between,
  // for ASCII and the well-formed sequences of characters the set has. Any
  // other sequence, and any character the set cannot encode, goes through
  // the classic code of both filters at that place, and the direct loop goes
  // on after it. Both filters' counts and positions are kept, and their
  // messages come in the order the two would say them (the decoder's
  // messages of a step, then the encoder's), so the result is the one of
  // the two filters working one after the other. Off (also with
  // CodecOptions::fastPaths off): the classic two filters always.
  void UseDirectPath(bool enabled) { directPath_ = enabled; }
  // Bytes the direct path has converted since the filter was made (the
  // tests ask whether it was taken).
  std::uint64_t DirectlyConverted() const { return directlyConverted_; }

 private:
  void Decode(bool endOfInput);
  // 3 when the pending bytes start the file with a byte order mark, else 0.
  std::uint32_t SkipByteOrderMark();
  // Decodes the sequence at pending byte `pos` by the general rules (four
  // bytes, the loose policy's surrogates, malformed input); room for four
  // bytes is reserved. Returns the bytes it used, 0 when the rest of the
  // sequence is still to come.
  std::uint32_t DecodeSequence(OutputCursor& out, std::uint32_t pos, bool endOfInput);
  // Writes the units of a decoded scalar value whose last byte is pending
  // byte `last`, and says what it kept or replaced.
  void PutScalar(OutputCursor& out, std::uint32_t value, std::uint32_t last);
  // Says which `length` bytes form a sequence that a byte cannot continue.
  void ReportBrokenSequence(const std::uint8_t* sequence, std::uint32_t length);
  // Writes U+FFFD for a bad sequence whose last byte is pending byte `last`.
  void PutReplacement(OutputCursor& out, std::uint32_t last);

  // The encoder this step may write for, or null for the classic path.
  CUtf16ToSingleByteFilter* DirectEncoder() const;
  void DecodeDirect(bool endOfInput, CUtf16ToSingleByteFilter& encoder);
  // What one step of the direct path works with: the part of the input the
  // classic decoder converts before it passes its output on.
  struct DirectStep {
    CUtf16ToSingleByteFilter* encoder;
    const std::uint16_t* reverse;  // the encoder's byte of every code unit
    bool asciiCopies;              // ASCII bytes are their own bytes in the set
    bool say;                      // the encoder's messages are kept for the step's end
    std::uint64_t start = 0;       // the encoder's input position at the step's start
    std::uint32_t units = 0;       // the step's units so far (the classic decoder's output / 2)
  };
  // Converts from pending byte `*pos` to the end of the step (true) or of
  // what can be converted now (false), and moves `*pos` along.
  bool RunDirectStep(DirectStep& step, std::uint32_t* pos, bool endOfInput);
  // Why a run stopped: the room it was given is used up, the step is
  // complete, or the input is (up to a sequence whose rest is to come).
  enum class DirectRunEnd { kRoom, kStep, kInput };
  // One run: from pending byte `*at` into the encoder's output at `*to`,
  // up to `limit` units of the step (of at most `stepUnits`); moves both
  // along.
  DirectRunEnd RunDirect(DirectStep& step, std::uint32_t* at, std::uint32_t limit,
                         std::uint32_t stepUnits, bool endOfInput, std::uint8_t** to);
  // DecodeSequence for the direct path: the units go to `units` (their
  // number to `count`) by way of the decoder's own output, which is empty
  // on the direct path and empty again afterwards.
  std::uint32_t DecodeSequenceAside(std::uint32_t pos, bool endOfInput, char16_t* units,
                                    std::uint32_t* count);
  // Hands code unit `u`, the step's unit number `index`, which the direct
  // loop does not write itself, to the encoder's classic code: writes its
  // byte (if any) at `o` and returns the new end. The encoder's message is
  // kept for the end of the step.
  std::uint8_t* EncodeAside(const DirectStep& step, std::uint32_t u, std::uint32_t index,
                            std::uint8_t* o);

  char16_t replacement_ = 0xFFFD;
  bool bomChecked_ = false;
  bool strict_;
  SimdLevel simd_;
  bool directPath_ = true;
  std::uint64_t directlyConverted_ = 0;
  // The encoder's messages of the current direct step: the unit in the low
  // 32 bits, its index in the step in the high ones.
  std::vector<std::uint64_t> encoderMessages_;
};

class CUtf16ToUtf8Filter : public CCharEncoderFilter {
 public:
  explicit CUtf16ToUtf8Filter(const CodecOptions& options);
  std::int32_t Filter() override;
  void FilterEndOfInput() override;
  bool Finish() override;
  bool Reset() override;
  CharsetId GetCharset() const override { return kCharsetUtf8; }

  // Off: every unit goes through the plain loop (the tests compare both).
  void UseFastPath(bool enabled) { simd_ = enabled ? DetectSimdLevel() : SimdLevel::kPlain; }
  // The vector kernels of at most `level` (lowered to what the processor has).
  void UseSimdLevel(SimdLevel level) { simd_ = SupportedSimdLevel(level); }
  // For a decoder that writes this encoder's output itself (the direct
  // path, see CSingleByteToUtf16Filter): true when nothing of this encoder
  // waits in its pending input and a next filter takes its output, so
  // bytes appended to the output now stand where the encoder's own would.
  bool AcceptsDirectOutput() const {
    return enabled_ && pending_.empty() && NextFilter() != nullptr;
  }
  // Where the next code unit would stand in the encoder's input stream.
  std::uint64_t InputPosition() const { return Position(0); }
  // Counts `units` code units that were converted into the output directly.
  void CountDirectUnits(std::uint32_t units) { CountPassedOn(2 * units); }
  // Passes the output on, as the encoder does at the end of each step.
  void ForwardOutput() {
    if (!output_.empty()) Forward(output_);
  }
  // An unpaired surrogate `u`: its three bytes by the policy (U+FFFD
  // strict, the surrogate's own encoding loose) written to `o`, and the
  // message (with the error count, strict) for input position `position`.
  void PutUnpairedSurrogate(char16_t u, std::uint8_t* o) const;
  void ReportUnpairedSurrogate(char16_t u, std::uint64_t position);

 private:
  void Encode(bool endOfInput);
  // Encodes the surrogate at byte `i` of the `n` pending bytes `p`: a pair
  // as four bytes, an unpaired one as the policy says; room for four bytes
  // is reserved. Returns the bytes it used, 0 when a high surrogate's
  // partner is still to come.
  std::uint32_t EncodeSurrogate(OutputCursor& out, const std::uint8_t* p, std::uint32_t i,
                                std::uint32_t n, bool endOfInput);
  void PutByteOrderMark();

  bool writeBom_;
  bool strict_;
  SimdLevel simd_;
};

// Fast paths, exposed for their tests. Each handles a prefix of its input
// and returns how many units it handled; the caller's plain loop does the
// rest.

// Widens ASCII bytes to UTF-16LE until the first byte >= 0x80 or `count`.
// `out` must have room for 2 * count bytes.
std::uint32_t WidenAscii(const std::uint8_t* in, std::uint32_t count, std::uint8_t* out);
// Narrows UTF-16LE units below 0x80 to bytes until the first other unit or
// `count` units. `out` must have room for `count` bytes.
std::uint32_t NarrowAscii(const std::uint8_t* in, std::uint32_t count, std::uint8_t* out);

}  // namespace ordana
