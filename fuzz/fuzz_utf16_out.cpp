// The internal form to UTF-16 or UTF-16BE, with or without a byte order mark.
#include "FuzzSupport.h"
#include "codecs/Utf16Filters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordana;
  if (size < 1) return 0;
  const bool big = (data[0] & 1) != 0;
  CodecOptions options;
  options.writeBom = (data[0] & 2) != 0;
  fuzz::CheckSplitInvariance([&] { return new CUtf16ToUtf16OutputFilter(big, options); }, data,
                             size);
  return 0;
}
