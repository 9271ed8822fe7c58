// UTF-8 to UTF-16, strict or loose.
#include "FuzzSupport.h"
#include "codecs/Utf8Filters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordana;
  if (size < 1) return 0;
  const bool strict = (data[0] & 1) != 0;
  fuzz::Result r = fuzz::CheckSplitInvariance(
      [&] { return new CUtf8ToUtf16Filter(CodecOptions{strict}); }, data, size);
  if (r.output.size() % 2 != 0) std::abort();  // whole code units only
  // Under the strict policy every surrogate the decoder writes is paired.
  if (strict) {
    for (std::size_t i = 0; i + 1 < r.output.size(); i += 2) {
      const unsigned u = static_cast<unsigned char>(r.output[i]) |
                         (static_cast<unsigned char>(r.output[i + 1]) << 8);
      if (u >= 0xD800 && u <= 0xDBFF) {
        if (i + 3 >= r.output.size()) std::abort();
        const unsigned next = static_cast<unsigned char>(r.output[i + 2]) |
                              (static_cast<unsigned char>(r.output[i + 3]) << 8);
        if (next < 0xDC00 || next > 0xDFFF) std::abort();
        i += 2;
      } else if (u >= 0xDC00 && u <= 0xDFFF) {
        std::abort();
      }
    }
  }
  return 0;
}
