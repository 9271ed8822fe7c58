// The direct single-byte to UTF-8 path against the classic decoder and
// encoder: any bytes in any of the 60 sets, strict or loose, cut into
// chunks two ways; the output, the messages and both filters' error counts
// must be the same.
#include "FuzzSupport.h"
#include "codecs/SingleByteFilters.h"
#include "codecs/Utf8Filters.h"

namespace {

using namespace ordana;

// Both filters' totals are among the messages (level 2), so comparing the
// messages compares the encoder's count too.
fuzz::Result Run(CharsetId charset, const CodecOptions& options, bool direct,
                 const std::uint8_t* data, std::size_t size, std::size_t chunk) {
  CFilterChain chain;
  auto* decoder = new CSingleByteToUtf16Filter(charset, options);
  decoder->UseDirectPath(direct);
  chain.Append(decoder);
  chain.Append(new CUtf16ToUtf8Filter(options));
  auto* sink = new fuzz::Sink();
  chain.Append(sink);
  return fuzz::Convert(chain, *sink, data, size, chunk);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const CharsetId charset = (data[0] >> 2) % kSingleByteCharsetCount;
  CodecOptions options;
  options.strict = (data[0] & 1) != 0;
  options.writeBom = (data[0] & 2) != 0;
  const std::size_t chunks[] = {0, static_cast<std::size_t>(data[1] % 64 + 1),
                                static_cast<std::size_t>(data[2]) * 97 + 1};
  data += 3;
  size -= 3;
  for (std::size_t chunk : chunks) {
    const fuzz::Result classic = Run(charset, options, false, data, size, chunk);
    const fuzz::Result direct = Run(charset, options, true, data, size, chunk);
    fuzz::Require(direct.output == classic.output, "direct path: same bytes");
    fuzz::Require(direct.messages == classic.messages, "direct path: same messages and totals");
    fuzz::Require(direct.errors == classic.errors, "direct path: decoder's count");
  }
  return 0;
}
