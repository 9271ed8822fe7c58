// The HTML entity decoder: the output does not depend on the cuts (a
// reference may be cut anywhere), equals the plain rule applied to the whole
// text, and is never longer than the input.
#include "FuzzSupport.h"
#include "TransformFuzzSupport.h"
#include "transforms/HtmlEntities.h"
#include "transforms/HtmlEntityDecodeFilter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ordana;
  if (size < 3) return 0;
  const fuzz::Result whole =
      fuzz::CheckSplitInvariance([] { return new CHtmlEntityDecodeFilter(); }, data, size);

  const std::u16string text = fuzz::Units(data + 3, size - 3);
  std::u16string expected;
  std::u16string name;
  bool inReference = false;
  for (char16_t ch : text) {
    if (!inReference) {
      if (ch == u'&') {
        inReference = true;
        name.clear();
      } else {
        expected += ch;
      }
    } else if (ch == u';') {
      inReference = false;
      const HtmlEntity* found = nullptr;
      for (std::uint32_t row = 0; row < kHtmlEntityCount; ++row) {
        if (name == EntityByName[row].name) found = &EntityByName[row];
      }
      if (found) {
        expected += static_cast<char16_t>(found->codePoint);
      } else {
        expected += u"&" + name + u";";
      }
    } else if (IsLetterOrDigit(ch)) {
      name += ch;
      if (name.size() == CHtmlEntityDecodeFilter::kGiveUpLength) {
        expected += u"&" + name;
        inReference = false;
      }
    } else {
      expected += u"&" + name + ch;
      inReference = false;
    }
  }
  if (inReference) expected += u"&" + name;
  fuzz::Require(whole.output == fuzz::Bytes(expected), "output differs from the plain rule");
  fuzz::Require(whole.output.size() <= (size - 3) / 2 * 2, "output longer than the input");
  return 0;
}
