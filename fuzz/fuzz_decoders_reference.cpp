// The Unicode decoders against the small reference decoders of
// ReferenceDecoders.h: the same text and the same error count for any
// input, malformed or cut off anywhere, strict or loose, whole or in chunks.
//
// Byte 0 chooses the decoder (UTF-8, UTF-16, UTF-16BE, UTF-32, UTF-32BE)
// and the policy.
#include "FuzzSupport.h"
#include "ReferenceDecoders.h"
#include "codecs/Utf16Filters.h"
#include "codecs/Utf32Filters.h"
#include "codecs/Utf8Filters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordana;
  if (size < 3) return 0;
  const int kind = data[0] % 5;
  const bool strict = (data[0] / 5) % 2 == 0;
  const CodecOptions options{strict};
  const fuzz::Result result = fuzz::CheckSplitInvariance(
      [&]() -> CFilter* {
        switch (kind) {
          case 0:
            return new CUtf8ToUtf16Filter(options);
          case 1:
            return new CUtf16ToUtf16InputFilter(false, options);
          case 2:
            return new CUtf16ToUtf16InputFilter(true, options);
          case 3:
            return new CUtf32ToUtf16Filter(false, options);
          default:
            return new CUtf32ToUtf16Filter(true, options);
        }
      },
      data, size);
  const std::uint8_t* text = data + 3;
  const std::size_t length = size - 3;
  reference::Decoded expected;
  switch (kind) {
    case 0:
      expected = reference::DecodeUtf8(text, length, strict);
      break;
    case 1:
      expected = reference::DecodeUtf16(text, length, false);
      break;
    case 2:
      expected = reference::DecodeUtf16(text, length, true);
      break;
    case 3:
      expected = reference::DecodeUtf32(text, length, false, strict);
      break;
    default:
      expected = reference::DecodeUtf32(text, length, true, strict);
      break;
  }
  fuzz::Require(result.output == expected.units, "the output differs from the reference");
  fuzz::Require(result.errors == expected.errors, "the error count differs from the reference");
  return 0;
}
