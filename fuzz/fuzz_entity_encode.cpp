// The HTML entity encoder, with and without the markup kept: the output does
// not depend on the cuts, equals the plain rule (a linear scan of the table
// per unit), and without the markup kept the decoder gives the input back.
#include "FuzzSupport.h"
#include "TransformFuzzSupport.h"
#include "transforms/HtmlEntities.h"
#include "transforms/HtmlEntityDecodeFilter.h"
#include "transforms/HtmlEntityEncodeFilter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordana;
  if (size < 3) return 0;
  const bool keepMarkup = (data[0] & 1) != 0;
  const fuzz::Result whole = fuzz::CheckSplitInvariance(
      [keepMarkup] { return new CHtmlEntityEncodeFilter(keepMarkup); }, data, size);

  const std::u16string text = fuzz::Units(data + 3, size - 3);
  std::u16string expected;
  for (char16_t unit : text) {
    const HtmlEntity* found = nullptr;
    for (std::uint32_t row = keepMarkup ? kEntityMarkupRows : 0; row < kHtmlEntityCount; ++row) {
      if (EntityByCodePoint[row].codePoint == unit) found = &EntityByCodePoint[row];
    }
    if (found) {
      expected += u'&';
      expected += found->name;
      expected += u';';
    } else {
      expected += unit;
    }
  }
  fuzz::Require(whole.output == fuzz::Bytes(expected), "output differs from the plain rule");

  if (!keepMarkup) {
    CFilterChain chain;
    chain.Append(new CHtmlEntityDecodeFilter());
    auto* sink = new fuzz::Sink();
    chain.Append(sink);
    const std::size_t chunk = data[2] % 17;
    const fuzz::Result back =
        fuzz::Convert(chain, *sink, reinterpret_cast<const std::uint8_t*>(whole.output.data()),
                      whole.output.size(), chunk);
    fuzz::Require(back.output == fuzz::Bytes(text), "decoding the encoded text changes it");
  }
  return 0;
}
