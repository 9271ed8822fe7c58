// Any of the 60 single-byte sets to the internal form, strict or loose.
#include "FuzzSupport.h"
#include "codecs/SingleByteFilters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordana;
  if (size < 1) return 0;
  const CharsetId charset = (data[0] >> 1) % kSingleByteCharsetCount;
  const bool strict = (data[0] & 1) != 0;
  fuzz::Result r = fuzz::CheckSplitInvariance(
      [&] { return new CSingleByteToUtf16Filter(charset, CodecOptions{strict}); }, data, size);
  // One code unit per byte, always.
  if (size >= 3 && r.output.size() != 2 * (size - 3)) std::abort();
  return 0;
}
