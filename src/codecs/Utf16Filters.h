#pragma once
// UTF-16 in and out. The internal text form is UTF-16 little endian, so in
// little-endian mode these filters only remove (input) or write (output) a
// byte order mark and otherwise pass the text on as it is; in big-endian
// mode they swap the bytes of every code unit. Code units are never
// inspected: unpaired surrogates pass unchanged under both policies.
//
// The input filter passes on whole code units only. A byte left over where
// the input ends is half a unit: it is counted, reported and replaced by
// U+FFFD.

#include "codecs/CodecBase.h"

namespace ordana {

class CUtf16ToUtf16InputFilter : public CCharDecoderFilter {
 public:
  CUtf16ToUtf16InputFilter(bool bigEndian, const CodecOptions& options);
  bool Process(CBuffer& input) override;
  std::int32_t Filter() override;
  void FilterEndOfInput() override;
  bool Reset() override;
  CharsetId GetCharset() const override { return bigEndian_ ? kCharsetUtf16Be : kCharsetUtf16; }

 private:
  bool started_ = false;
  bool bigEndian_;
};

class CUtf16ToUtf16OutputFilter : public CCharEncoderFilter {
 public:
  CUtf16ToUtf16OutputFilter(bool bigEndian, const CodecOptions& options);
  std::int32_t Filter() override;
  void FilterEndOfInput() override;
  bool Reset() override;
  CharsetId GetCharset() const override { return bigEndian_ ? kCharsetUtf16Be : kCharsetUtf16; }

 private:
  void PutByteOrderMark();

  bool writeBom_;
  bool bigEndian_;
};

}  // namespace ordana
