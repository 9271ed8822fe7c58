#pragma once
// CHtmlEntityEncodeFilter: every unit that has a named character reference
// in HTML 4.01 becomes "&name;"; every other unit passes unchanged. Each unit
// is looked up on its own, so characters beyond the Basic Multilingual Plane
// pass as their two surrogates, and no numeric reference is ever written.
//
// With KeepMarkup (the XML declaration is being rewritten as well) the four
// markup characters '"', '&', '<' and '>' stay as they are, so the document's
// markup survives; without it they are encoded like everything else.
//
// Stateless: a step consumes every whole unit. The output may be ten times
// the input ("&thetasym;"); it is forwarded whenever it reaches the commit
// size.

#include <cstdint>

#include "core/Filter.h"

namespace ordana {

class CHtmlEntityEncodeFilter : public CFilter {
 public:
  explicit CHtmlEntityEncodeFilter(bool keepMarkup);
  std::int32_t Filter() override;

  bool keepMarkup() const { return keepMarkup_; }

 private:
  bool keepMarkup_;
};

// The fast path, exposed for its test: copies UTF-16LE units from `in` to
// `out` until the first unit that may have a name (a markup character unless
// `keepMarkup`, or a unit in one of the two ranges the names occupy) or
// `count` units; returns the number copied. `out` must have room for
// 2 * count bytes.
std::uint32_t CopyUntilEntityCandidate(const std::uint8_t* in, std::uint32_t count,
                                       std::uint8_t* out, bool keepMarkup);
// The test the fast path applies to one unit.
bool IsEntityCandidate(char16_t unit, bool keepMarkup);

}  // namespace ordana
