// The internal form to any of the 60 single-byte sets, strict or loose.
#include "FuzzSupport.h"
#include "codecs/SingleByteFilters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordana;
  if (size < 1) return 0;
  const CharsetId charset = (data[0] >> 1) % kSingleByteCharsetCount;
  CodecOptions options;
  options.strict = (data[0] & 1) != 0;
  fuzz::CheckSplitInvariance([&] { return new CUtf16ToSingleByteFilter(charset, options); }, data,
                             size);
  return 0;
}
