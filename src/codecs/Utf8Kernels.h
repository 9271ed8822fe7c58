#pragma once
// Vector kernels for UTF-8 <-> UTF-16LE, in front of the plain loops of the
// UTF-8 decoder and encoder.
//
// A kernel takes whole blocks (16 or 32 bytes of UTF-8, 8 or 16 UTF-16
// units) as long as every character in the block is well formed and needs
// no message under either policy, and stops before the first block that
// holds anything else: a malformed or incomplete sequence, an encoded or
// unpaired surrogate, U+FFFE or U+FFFF, or the last bytes of the input. The
// plain loop takes over there, so every repair, message, count and position
// still comes from it; the kernels only make the common case fast. They
// consume whole characters only, starting at a character boundary.
//
// The kernels write through unaligned full-width stores: they need more
// room than they fill (see the minimums below) and may leave bytes past
// `written` changed within `room`.

#include <cstdint>

#include "support/CpuFeatures.h"

namespace ordana {

struct KernelProgress {
  std::uint32_t consumed = 0;  // input bytes
  std::uint32_t written = 0;   // output bytes
};

// The output room a kernel needs for one more block; with less it stops.
constexpr std::uint32_t kUtf8KernelRoom = 64;

// Decodes well-formed UTF-8 from `in` (`size` bytes) to UTF-16LE at `out`
// (`room` bytes); the plain loop is the reference for what it writes.
KernelProgress DecodeUtf8Blocks(SimdLevel level, const std::uint8_t* in, std::uint32_t size,
                                std::uint8_t* out, std::uint32_t room);

// Encodes UTF-16LE (`size` bytes, whole units) without unpaired surrogates
// to UTF-8. A high surrogate at the end of a block waits for the next one.
KernelProgress EncodeUtf8Blocks(SimdLevel level, const std::uint8_t* in, std::uint32_t size,
                                std::uint8_t* out, std::uint32_t room);

// Whether `level` has kernels here at all (the plain loop is used alone
// otherwise).
bool HaveUtf8Kernels(SimdLevel level);

}  // namespace ordana
