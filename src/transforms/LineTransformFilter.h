#pragma once
// CLineTransformFilter: every line end of the text (CR LF, a lone LF, a lone
// CR) becomes one line end of the chosen form; everything else, other
// Unicode line separators included, passes unchanged.
//
// A CR at the end of a step waits in the pending input, because an LF at
// the start of the next chunk belongs to it. At the end of the input that
// CR is a line end of its own (a classic Mac text ends in CR), so Flush
// writes it instead of letting it be dropped.
//
// The output may be twice the input (every unit a lone LF in CR LF mode);
// it is forwarded whenever it reaches the commit size, so it never outgrows
// the output buffer, whatever the size of the batch received.

#include <cstdint>

#include "core/Filter.h"

namespace ordana {

class OutputCursor;

class CLineTransformFilter : public CFilter {
 public:
  enum Mode : int { kModeDos = 0, kModeUnix = 1, kModeMac = 2 };

  // 0 writes CR LF, 1 LF, 2 CR; any other value is taken as 0.
  explicit CLineTransformFilter(int mode);
  std::int32_t Filter() override;
  bool Flush(CBuffer& target) override;

  int mode() const { return mode_; }

 private:
  void Transform(bool endOfInput);
  bool PutLineEnd(OutputCursor& out) const;

  int mode_;
};

// The fast path, exposed for its test: copies UTF-16LE units from `in` to
// `out` until the first CR or LF or `count` units and returns the number
// copied. `out` must have room for 2 * count bytes.
std::uint32_t CopyUntilLineBreak(const std::uint8_t* in, std::uint32_t count, std::uint8_t* out);

}  // namespace ordana
