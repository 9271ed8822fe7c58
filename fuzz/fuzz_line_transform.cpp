// The line transform in its three modes: the output does not depend on the
// cuts, equals the plain rule (every CR LF, lone LF and lone CR one line end,
// a final CR included), and holds line breaks of the chosen form only.
#include "FuzzSupport.h"
#include "TransformFuzzSupport.h"
#include "transforms/LineTransformFilter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordana;
  if (size < 3) return 0;
  const int mode = data[0] % 3;
  const fuzz::Result whole =
      fuzz::CheckSplitInvariance([mode] { return new CLineTransformFilter(mode); }, data, size);

  const std::u16string text = fuzz::Units(data + 3, size - 3);
  const std::u16string lineEnd = mode == 1 ? u"\n" : mode == 2 ? u"\r" : u"\r\n";
  std::u16string expected;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (text[k] == u'\r') {
      if (k + 1 < text.size() && text[k + 1] == u'\n') ++k;
      expected += lineEnd;
    } else if (text[k] == u'\n') {
      expected += lineEnd;
    } else {
      expected += text[k];
    }
  }
  fuzz::Require(whole.output == fuzz::Bytes(expected), "output differs from the plain rule");

  const std::u16string out =
      fuzz::Units(reinterpret_cast<const std::uint8_t*>(whole.output.data()), whole.output.size());
  for (std::size_t k = 0; k < out.size(); ++k) {
    if (mode == 1) fuzz::Require(out[k] != u'\r', "a CR in LF mode");
    if (mode == 2) fuzz::Require(out[k] != u'\n', "an LF in CR mode");
    if (mode == 0 && out[k] == u'\r') {
      fuzz::Require(k + 1 < out.size() && out[k + 1] == u'\n', "a CR without LF in CR LF mode");
    }
    if (mode == 0 && out[k] == u'\n') {
      fuzz::Require(k > 0 && out[k - 1] == u'\r', "an LF without CR in CR LF mode");
    }
  }
  return 0;
}
