#pragma once
// Helpers for the tests of the text transforms: UTF-16 text in and out of a
// chain of one transform and a recorder, every way of cutting the input, and
// random text and cuts for the property tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/Filter.h"
#include "transforms/XmlFilter.h"

namespace ordana::test {

// UTF-16LE bytes of `text`.
inline std::string Utf16(const std::u16string& text) {
  std::string bytes;
  bytes.reserve(2 * text.size());
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

// The units of UTF-16LE `bytes` (an odd last byte is ignored).
inline std::u16string FromUtf16(const std::string& bytes) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t k = 0; k + 1 < bytes.size(); k += 2) {
    text += static_cast<char16_t>(static_cast<std::uint8_t>(bytes[k]) |
                                  (static_cast<std::uint8_t>(bytes[k + 1]) << 8));
  }
  return text;
}

// Readable text for failure messages: units outside printable ASCII as \uXXXX.
inline std::string Show(const std::u16string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string shown;
  for (char16_t unit : text) {
    if (unit >= 0x20 && unit < 0x7F) {
      shown += static_cast<char>(unit);
    } else {
      shown += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) shown += kHex[(unit >> shift) & 0xF];
    }
  }
  return shown;
}

// One transform between the chain's head and a recorder.
class TransformChain {
 public:
  explicit TransformChain(CFilter* filter) : filter_(filter) {
    chain_.Append(filter);
    sink_ = new RecordingFilter();
    chain_.Append(sink_);
  }

  CFilter& filter() { return *filter_; }
  RecordingFilter& sink() { return *sink_; }
  CFilterChain& chain() { return chain_; }

  // One conversion of raw bytes, cut at `splits`.
  std::string RunBytes(const std::string& input, const std::vector<std::size_t>& splits = {}) {
    return ConvertThrough(chain_, *sink_, input, splits);
  }

  std::u16string Run(const std::u16string& input, const std::vector<std::size_t>& splits = {}) {
    return FromUtf16(RunBytes(Utf16(input), splits));
  }

  // The output of `input` as one chunk; adds a failure for every way of
  // cutting it (EverySplit) that gives another.
  std::u16string RunEverySplit(const std::u16string& input) {
    return FromUtf16(ConvertAllSplits(chain_, *sink_, Utf16(input), Show(input)));
  }

 private:
  CFilterChain chain_;
  CFilter* filter_;
  RecordingFilter* sink_;
};

// Random text of `length` units drawn mostly from `alphabet` (the units that
// matter to a transform), with some arbitrary units mixed in.
inline std::u16string RandomText(std::mt19937& rng, std::size_t length,
                                 const std::u16string& alphabet) {
  std::u16string text;
  for (std::size_t k = 0; k < length; ++k) {
    const unsigned pick = rng() % 16;
    if (pick == 0) {
      text += static_cast<char16_t>(rng() & 0xFFFF);
    } else if (pick < 4) {
      text += static_cast<char16_t>(u'a' + rng() % 26);
    } else {
      text += alphabet[rng() % alphabet.size()];
    }
  }
  return text;
}

}  // namespace ordana::test
