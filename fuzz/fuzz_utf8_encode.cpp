// UTF-16 to UTF-8, strict or loose, with or without a byte order mark.
#include "FuzzSupport.h"
#include "codecs/Utf8Filters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordana;
  if (size < 1) return 0;
  CodecOptions options;
  options.strict = (data[0] & 1) != 0;
  options.writeBom = (data[0] & 2) != 0;
  fuzz::CheckSplitInvariance([&] { return new CUtf16ToUtf8Filter(options); }, data, size);
  return 0;
}
