// UTF-32 or UTF-32BE to the internal form, strict or loose.
#include "FuzzSupport.h"
#include "codecs/Utf32Filters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordana;
  if (size < 1) return 0;
  const bool big = (data[0] & 1) != 0;
  const CodecOptions options{(data[0] & 2) != 0};
  fuzz::Result r =
      fuzz::CheckSplitInvariance([&] { return new CUtf32ToUtf16Filter(big, options); }, data, size);
  if (r.output.size() % 2 != 0) std::abort();  // whole code units only
  return 0;
}
