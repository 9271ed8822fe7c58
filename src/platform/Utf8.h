#pragma once
// The strict UTF-8 rule for one sequence, in one place for everything that
// reads UTF-8 outside the codec's fast loops: the POSIX seam (file names,
// messages and environment text arrive as bytes), the detection's
// well-formedness test and ordana-stats' reader of training text.
//
// It lives in the platform layer, header-only and free of anything the
// operating system provides, because the platform is the lowest layer that
// needs it and every other layer may include platform headers; the codec
// (CUtf8ToUtf16Filter) applies the same rule through its own lead table.
//
// Well-formed means: C2..DF and one continuation byte; E0..EF and two, the
// first of them A0..BF after E0 (no overlong forms) and 80..9F after ED (no
// surrogates); F0..F4 and three, the first 90..BF after F0 and 80..8F after
// F4 (nothing beyond U+10FFFF). 80..C1 and F5..FF start nothing.

#include <cstddef>
#include <cstdint>

namespace ordana::platform {

// DecodeUtf8Sequence's answers besides a length.
constexpr int kUtf8Malformed = 0;   // the bytes at `s` start no well-formed sequence
constexpr int kUtf8Truncated = -1;  // all `n` bytes are a proper prefix of one

// Decodes the sequence at `s` (`n` >= 1 bytes available): its length, 1 to
// 4, with the scalar value in *value; or kUtf8Malformed / kUtf8Truncated,
// leaving *value alone.
inline int DecodeUtf8Sequence(const std::uint8_t* s, std::size_t n, char32_t* value) {
  const std::uint8_t lead = s[0];
  if (lead < 0x80) {
    *value = lead;
    return 1;
  }
  std::size_t following = 0;
  char32_t v = 0;
  std::uint8_t low = 0x80;  // the range of the first continuation byte
  std::uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    following = 1;
    v = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    following = 2;
    v = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    following = 3;
    v = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return kUtf8Malformed;
  }
  for (std::size_t k = 1; k <= following; ++k) {
    if (k >= n) return kUtf8Truncated;
    const std::uint8_t b = s[k];
    if (b < low || b > high) return kUtf8Malformed;
    v = v << 6 | (b & 0x3Fu);
    low = 0x80;
    high = 0xBF;
  }
  *value = v;
  return static_cast<int>(following + 1);
}

}  // namespace ordana::platform
