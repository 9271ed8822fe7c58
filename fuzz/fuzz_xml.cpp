// The XML declaration filter: the output does not depend on the cuts; text
// without a '<' passes unchanged; and each input is converted as if it were
// the only one, whatever the input before it left open.
#include "FuzzSupport.h"
#include "TransformFuzzSupport.h"
#include "transforms/XmlFilter.h"

namespace {

const char16_t* const kNames[] = {u"utf-8", u"UTF-16BE", u"latin1",
                                  u"a-name-of-thirty-one-units-xxxx"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordana;
  if (size < 3) return 0;
  const char16_t* const name = kNames[data[0] % 4];
  const std::size_t chunks[] = {0, std::size_t{data[1]} % 64 + 1, std::size_t{data[2]} + 1, 1};
  const std::uint8_t* const text = data + 3;
  const std::size_t length = size - 3;
  // Two inputs in a row: the first part of the data and the rest, cut where
  // byte 0 says.
  const std::size_t first = length == 0 ? 0 : (std::size_t{data[0]} * 7) % (length + 1);

  CFilterChain chain;
  chain.Append(new CXmlFilter(name));
  auto* sink = new fuzz::Sink();
  chain.Append(sink);
  std::string wholeOutput;
  std::string wholePair;
  std::string secondAlone;
  for (std::size_t chunk : chunks) {
    if (chunk == 0) {
      secondAlone = fuzz::Convert(chain, *sink, text + first, length - first, 0).output;
    }
    const fuzz::Result result = fuzz::Convert(chain, *sink, text, length, chunk);
    const fuzz::Result one = fuzz::Convert(chain, *sink, text, first, chunk);
    const fuzz::Result two = fuzz::Convert(chain, *sink, text + first, length - first, chunk);
    fuzz::Require(two.output == secondAlone, "the first input changed the second");
    const std::string pair = one.output + '|' + two.output;
    if (chunk == 0) {
      wholeOutput = result.output;
      wholePair = pair;
      continue;
    }
    if (result.output != wholeOutput || pair != wholePair) {
      std::fprintf(stderr, "chunks of %zu bytes change the result\n", chunk);
      std::abort();
    }
  }

  const std::u16string units = fuzz::Units(text, length);
  if (units.find(u'<') == std::u16string::npos) {
    fuzz::Require(wholeOutput == fuzz::Bytes(units), "text without '<' changed");
  }
  return 0;
}
