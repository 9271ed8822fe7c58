#pragma once
// The compiler's intrinsics, each behind one name: the lowest and highest
// set bit of a mask and the number of set bits, the acquire/release word accesses the status
// channel shares with other processes, whether the 128-bit vector unit (SSE2) may be used, and
// forced inlining.
// Code elsewhere uses these names only, so a new compiler or target is one
// change here.

#include <cstdint>

// SSE2: every x86-64 target has it; GCC and clang say so with __SSE2__,
// Microsoft's compiler with _M_X64. Vector paths test ORDANA_HAVE_SSE2 (or
// kHaveSse2) and always keep a plain loop for the other targets.
#if defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64)
#define ORDANA_HAVE_SSE2 1
#include <emmintrin.h>
#else
#define ORDANA_HAVE_SSE2 0
#endif

// For a part of a hot loop that is split out to be read on its own: it is
// inlined into the loop whatever the compiler's estimate, so that the loop
// keeps its state in registers as if the part were written in it.
#if defined(__GNUC__) || defined(__clang__)
#define ORDANA_ALWAYS_INLINE inline __attribute__((always_inline))
#elif defined(_MSC_VER)
#define ORDANA_ALWAYS_INLINE __forceinline
#else
#define ORDANA_ALWAYS_INLINE inline
#endif

namespace ordana {

constexpr bool kHaveSse2 = ORDANA_HAVE_SSE2 != 0;

// The index of the lowest set bit of `mask`, which must not be 0.
inline std::uint32_t CountTrailingZeros(std::uint32_t mask) {
#if defined(__GNUC__) || defined(__clang__)
  return static_cast<std::uint32_t>(__builtin_ctz(mask));
#else
  std::uint32_t n = 0;
  while ((mask & 1u) == 0) {
    mask >>= 1;
    ++n;
  }
  return n;
#endif
}

// The index of the highest set bit of `mask`, which must not be 0.
inline std::uint32_t HighestSetBit(std::uint32_t mask) {
#if defined(__GNUC__) || defined(__clang__)
  return 31u - static_cast<std::uint32_t>(__builtin_clz(mask));
#else
  std::uint32_t n = 31;
  while ((mask & 0x80000000u) == 0) {
    mask <<= 1;
    --n;
  }
  return n;
#endif
}

// The number of set bits of `bits`.
inline std::uint32_t PopCount(std::uint64_t bits) {
#if defined(__GNUC__) || defined(__clang__)
  return static_cast<std::uint32_t>(__builtin_popcountll(bits));
#else
  std::uint32_t n = 0;
  for (; bits != 0; bits &= bits - 1) ++n;
  return n;
#endif
}

// A 32-bit word shared with other threads or processes (through shared
// memory): a store that publishes everything written before it, and a load
// after which everything published by such a store is visible.
inline void StoreRelease(std::uint32_t* word, std::uint32_t value) {
  __atomic_store_n(word, value, __ATOMIC_RELEASE);
}

inline std::uint32_t LoadAcquire(const std::uint32_t* word) {
  return __atomic_load_n(word, __ATOMIC_ACQUIRE);
}

}  // namespace ordana
