#pragma once
// Shared by the fuzz targets of the text transforms: the input as UTF-16
// units and back, for comparing a transform's output with its plain rule.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace ordana::fuzz {

// The whole UTF-16LE units of `data` (an odd last byte is left out, as the
// transforms leave it pending).
inline std::u16string Units(const std::uint8_t* data, std::size_t size) {
  std::u16string units;
  for (std::size_t k = 0; k + 1 < size; k += 2) {
    units += static_cast<char16_t>(data[k] | (data[k + 1] << 8));
  }
  return units;
}

inline std::string Bytes(const std::u16string& units) {
  std::string bytes;
  for (char16_t unit : units) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

}  // namespace ordana::fuzz
