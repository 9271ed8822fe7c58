#pragma once
// Small decoders written to be obviously correct, not fast: one character
// at a time, straight from the definitions, for the tests to hold the real
// decoders against. Each returns the UTF-16LE bytes the decoder must write
// and the number of errors it must count.
//
// UTF-8 follows the table of well-formed byte sequences of the Unicode
// standard and replaces each maximal subpart of an ill-formed one by one
// U+FFFD; the loose policy also takes encoded surrogates (ED A0..BF xx).
// U+FFFE and U+FFFF are errors too. A byte order mark is dropped only where
// the input starts.

#include <cstddef>
#include <cstdint>
#include <string>

namespace ordana::reference {

struct Decoded {
  std::string units;  // UTF-16LE bytes
  std::uint32_t errors = 0;

  void Put(std::uint32_t unit) {
    units += static_cast<char>(unit & 0xFF);
    units += static_cast<char>(unit >> 8);
  }
  void PutCodePoint(std::uint32_t cp) {
    if (cp >= 0x10000) {
      Put(0xD800 + ((cp - 0x10000) >> 10));
      Put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      Put(cp);
    }
  }
  void PutError() {
    Put(0xFFFD);
    ++errors;
  }
};

inline Decoded DecodeUtf8(const std::uint8_t* in, std::size_t n, bool strict) {
  Decoded out;
  std::size_t i = 0;
  if (n >= 3 && in[0] == 0xEF && in[1] == 0xBB && in[2] == 0xBF) i = 3;
  while (i < n) {
    const std::uint8_t b = in[i];
    if (b < 0x80) {
      out.Put(b);
      ++i;
      continue;
    }
    // Length and the range of the second byte, per lead byte.
    std::size_t length = 0;
    std::uint8_t low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
    } else if (b == 0xE0) {
      length = 3;
      low = 0xA0;
    } else if (b >= 0xE1 && b <= 0xEC) {
      length = 3;
    } else if (b == 0xED) {
      length = 3;
      if (strict) high = 0x9F;
    } else if (b >= 0xEE && b <= 0xEF) {
      length = 3;
    } else if (b == 0xF0) {
      length = 4;
      low = 0x90;
    } else if (b >= 0xF1 && b <= 0xF3) {
      length = 4;
    } else if (b == 0xF4) {
      length = 4;
      high = 0x8F;
    }
    if (length == 0) {  // starts nothing
      out.PutError();
      ++i;
      continue;
    }
    std::size_t taken = 1;
    while (taken < length && i + taken < n) {
      const std::uint8_t next = in[i + taken];
      const bool fits = taken == 1 ? (next >= low && next <= high) : (next >= 0x80 && next <= 0xBF);
      if (!fits) break;
      ++taken;
    }
    if (taken < length) {  // a maximal subpart
      out.PutError();
      i += taken;
      continue;
    }
    std::uint32_t cp = b & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
    for (std::size_t k = 1; k < length; ++k) cp = (cp << 6) | (in[i + k] & 0x3F);
    if (cp == 0xFFFE || cp == 0xFFFF) {
      out.PutError();
    } else {
      out.PutCodePoint(cp);  // a surrogate only under the loose policy
    }
    i += length;
  }
  return out;
}

inline Decoded DecodeUtf16(const std::uint8_t* in, std::size_t n, bool big) {
  Decoded out;
  std::size_t i = 0;
  if (n >= 2 && in[0] == (big ? 0xFE : 0xFF) && in[1] == (big ? 0xFF : 0xFE)) i = 2;
  for (; i + 2 <= n; i += 2) out.Put(big ? (in[i] << 8 | in[i + 1]) : (in[i + 1] << 8 | in[i]));
  if (i < n) out.PutError();  // half a unit
  return out;
}

inline Decoded DecodeUtf32(const std::uint8_t* in, std::size_t n, bool big, bool strict) {
  Decoded out;
  auto value = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      v |= static_cast<std::uint32_t>(in[at + k]) << (big ? 8 * (3 - k) : 8 * k);
    }
    return v;
  };
  std::size_t i = 0;
  if (n >= 4 && value(0) == 0xFEFF) i = 4;
  for (; i + 4 <= n; i += 4) {
    const std::uint32_t v = value(i);
    if (v > 0x10FFFF || (strict && v >= 0xD800 && v <= 0xDFFF)) {
      out.PutError();
    } else {
      out.PutCodePoint(v);
    }
  }
  if (i < n) out.PutError();  // 1 to 3 bytes
  return out;
}

}  // namespace ordana::reference
