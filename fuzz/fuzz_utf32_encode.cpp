// The internal form to UTF-32 or UTF-32BE, with or without a byte order mark,
// strict or loose.
#include "FuzzSupport.h"
#include "codecs/Utf32Filters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordana;
  if (size < 1) return 0;
  const bool big = (data[0] & 1) != 0;
  CodecOptions options;
  options.writeBom = (data[0] & 2) != 0;
  options.strict = (data[0] & 4) != 0;
  fuzz::Result r =
      fuzz::CheckSplitInvariance([&] { return new CUtf16ToUtf32Filter(big, options); }, data, size);
  if (r.output.size() % 4 != 0) std::abort();  // whole code points only
  return 0;
}
