// The direct UTF-8 to single-byte path against the classic decoder and
// encoder: any bytes into any of the 60 sets, strict or loose, cut into
// chunks two ways; the output, the messages and both filters' error counts
// must be the same.
#include "FuzzSupport.h"
#include "codecs/SingleByteFilters.h"
#include "codecs/Utf8Filters.h"

namespace {

using namespace ordana;

struct Outcome {
  fuzz::Result result;
  std::uint32_t encoderErrors = 0;
};

// Both filters' totals are among the messages (level 2); the encoder's
// count is also read from the filter before the chain forgets it.
class CountingSink : public fuzz::Sink {
 public:
  explicit CountingSink(const CFilter* encoder) : encoder_(encoder) {}
  bool Finish() override {
    encoderErrors = encoder_->errorCount();
    return true;
  }
  std::uint32_t encoderErrors = 0;

 private:
  const CFilter* encoder_;
};

Outcome Run(CharsetId charset, const CodecOptions& options, bool direct, const std::uint8_t* data,
            std::size_t size, std::size_t chunk) {
  CFilterChain chain;
  auto* decoder = new CUtf8ToUtf16Filter(options);
  decoder->UseDirectPath(direct);
  chain.Append(decoder);
  auto* encoder = new CUtf16ToSingleByteFilter(charset, options);
  chain.Append(encoder);
  auto* sink = new CountingSink(encoder);
  chain.Append(sink);
  Outcome outcome;
  outcome.result = fuzz::Convert(chain, *sink, data, size, chunk);
  outcome.encoderErrors = sink->encoderErrors;
  if (!direct) fuzz::Require(decoder->DirectlyConverted() == 0, "classic path: nothing direct");
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const CharsetId charset = (data[0] >> 2) % kSingleByteCharsetCount;
  CodecOptions options;
  options.strict = (data[0] & 1) != 0;
  const std::size_t chunks[] = {0, static_cast<std::size_t>(data[1] % 64 + 1),
                                static_cast<std::size_t>(data[2]) * 97 + 1};
  data += 3;
  size -= 3;
  for (std::size_t chunk : chunks) {
    const Outcome classic = Run(charset, options, false, data, size, chunk);
    const Outcome direct = Run(charset, options, true, data, size, chunk);
    fuzz::Require(direct.result.output == classic.result.output, "direct path: same bytes");
    fuzz::Require(direct.result.messages == classic.result.messages,
                  "direct path: same messages and totals");
    fuzz::Require(direct.result.errors == classic.result.errors, "direct path: decoder's count");
    fuzz::Require(direct.encoderErrors == classic.encoderErrors, "direct path: encoder's count");
  }
  return 0;
}
