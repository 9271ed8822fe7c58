#pragma once
// CHtmlEntityDecodeFilter: each named character reference of HTML 4.01
// ("&" name ";", the name case-sensitive) becomes the character it names;
// all other text passes as it came. Numeric references are left alone ('#'
// ends the attempt), and so is anything that is no known name.
//
// After an '&' the filter collects letters and digits (of any script); a ';'
// ends the reference, any other unit ends the attempt and is written after
// the collected text, and a tenth letter or digit gives up (no name is
// longer than eight). The collecting state survives from one step to the
// next, so a reference cut by a chunk end still decodes; at the end of the
// input an open attempt is written as the text it is.
//
// The output of a step is at most its input plus the ten units held from
// the step before; it is forwarded whenever it reaches the commit size.

#include <cstdint>

#include "core/Filter.h"

namespace ordana {

class CHtmlEntityDecodeFilter : public CFilter {
 public:
  CHtmlEntityDecodeFilter();
  ~CHtmlEntityDecodeFilter() override;
  std::int32_t Filter() override;
  bool Flush(CBuffer& target) override;
  bool Reset() override;

  // Units collected after an '&' before the attempt is given up.
  static constexpr std::uint32_t kGiveUpLength = 10;

 private:
  void Transform(bool endOfInput);

  char16_t collected_[16] = {};  // the name units after the '&'
  std::uint32_t collectedLength_ = 0;
  bool inReference_ = false;
};

}  // namespace ordana
