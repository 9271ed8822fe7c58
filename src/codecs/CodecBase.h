#pragma once
// The bases of every decoder (source bytes to internal UTF-16) and encoder
// (internal UTF-16 to destination bytes). The conversion run finds the first
// of each in a chain by type and asks it for its character set and error
// count.
//
// Conventions every codec's Filter step keeps:
// - it reads its pending input from the first byte (an encoder reads UTF-16
//   code units, little endian) and appends to its output buffer;
// - it never writes past the output buffer's reservation: it forwards the
//   output when the next unit would not fit, and (where it says so) as soon
//   as the output reaches the commit size;
// - it removes what it consumed from the front of the pending input and
//   leaves an incomplete unit there for the next chunk;
// - positions in messages are the stream offset plus the byte index in the
//   pending input; errors count, warnings (reversible repairs) do not;
// - Reset() forgets the file: buffers, error count, first-chunk flags; an
//   encoder with a byte order mark puts the mark back into its output.

#include <cstdint>

#include "codecs/CharsetRegistry.h"
#include "core/Filter.h"

namespace ordana {

class CCharDecoderFilter : public CFilter {
 public:
  virtual CharsetId GetCharset() const = 0;

 protected:
  CCharDecoderFilter() : CFilter(kCategoryDecoder) {}
};

class CCharEncoderFilter : public CFilter {
 public:
  virtual CharsetId GetCharset() const = 0;

 protected:
  CCharEncoderFilter() : CFilter(kCategoryEncoder) {}
};

// Moves every whole UTF-16 code unit of `filter`'s pending input to its
// output with the two bytes of each exchanged (little endian <-> big
// endian), forwarding the output whenever it fills; an odd last byte stays
// pending.
void SwapPendingUnitsToOutput(CFilter& filter);

}  // namespace ordana
