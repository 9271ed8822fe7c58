// UTF-16 to UTF-8: the vector kernels against the plain loop, strict or
// loose, whole and in chunks. Byte 0: bit 0 the policy, bits 1-2 the
// instruction-set level (lowered to what the processor has).
#include "FuzzSupport.h"
#include "codecs/Utf8Filters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordana;
  if (size < 3) return 0;
  const bool strict = (data[0] & 1) != 0;
  const auto level = static_cast<SimdLevel>(1 + (data[0] >> 1) % 3);
  fuzz::CheckSameAsPlain(
      [&] {
        auto* encoder = new CUtf16ToUtf8Filter(CodecOptions{strict, false});
        encoder->UseSimdLevel(level);
        return encoder;
      },
      [&] {
        return new CUtf16ToUtf8Filter(CodecOptions{strict, false, false});
      },
      data, size);
  return 0;
}
