#pragma once
// UTF-8 in and out.
//
// The decoder is wide in some places and narrow in others, on purpose: it
// accepts overlong forms and the historical 5- and 6-byte forms, takes any
// byte with the top bit set as a continuation byte, turns a stray
// continuation byte into U+0000, and rejects encoded surrogates (passed on
// with a warning under the loose policy), U+FFFE, U+FFFF and values above
// U+10FFFF. The encoder combines surrogate pairs and replaces (strict) or
// encodes (loose) unpaired surrogates.

#include "codecs/CodecBase.h"

namespace ordana {

class CUtf8ToUtf16Filter : public CCharDecoderFilter {
 public:
  explicit CUtf8ToUtf16Filter(const CodecOptions& options);
  std::int32_t Filter() override;
  bool Finish() override;
  bool Reset() override;
  CharsetId GetCharset() const override { return kCharsetUtf8; }

  // The number of continuation bytes a sequence starting with `byte` has.
  static int SequenceLength(std::uint8_t byte);

 private:
  char16_t replacement_ = 0xFFFD;
  bool bomChecked_ = false;
  bool strict_;
};

class CUtf16ToUtf8Filter : public CCharEncoderFilter {
 public:
  explicit CUtf16ToUtf8Filter(const CodecOptions& options);
  std::int32_t Filter() override;
  bool Finish() override;
  bool Reset() override;
  CharsetId GetCharset() const override { return kCharsetUtf8; }

 private:
  void PutByteOrderMark();

  bool writeBom_;
  bool strict_;
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
