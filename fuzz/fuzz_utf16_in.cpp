// UTF-16 or UTF-16BE to the internal form.
#include "FuzzSupport.h"
#include "codecs/Utf16Filters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordana;
  if (size < 1) return 0;
  const bool big = (data[0] & 1) != 0;
  fuzz::CheckSplitInvariance([&] { return new CUtf16ToUtf16InputFilter(big, CodecOptions{}); },
                             data, size);
  return 0;
}
