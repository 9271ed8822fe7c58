#pragma once
// Which vector instruction sets the processor offers, for the kernels that
// choose at run time between a plain loop and wider ones.
//
// The levels are ordered: a kernel written for one level runs on every
// higher one. Only x86-64 builds with GCC or Clang outside Windows compile
// the AVX2 and AVX-512 kernels (ORDANA_SIMD_DISPATCH): they are functions
// with a target attribute, and mingw-w64 does not align the stack for the
// 32- and 64-byte spills such functions may make. Everywhere else SSE2 (the
// floor of x86-64) or plain C++ is all there is.

#include <cstdint>

#include "support/Bits.h"

#if (defined(__x86_64__) || defined(_M_X64)) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(_WIN32)
#define ORDANA_SIMD_DISPATCH 1
#else
#define ORDANA_SIMD_DISPATCH 0
#endif

namespace ordana {

enum class SimdLevel : std::uint8_t {
  kPlain = 0,   // no vector kernels: the plain loops alone
  kSse2 = 1,    // the floor of x86-64
  kAvx2 = 2,    // AVX2 with BMI1, BMI2 and POPCNT
  kAvx512 = 3,  // AVX-512 F, BW, VL and VBMI2
};

// The highest level this processor and this build support; asked once.
inline SimdLevel DetectSimdLevel() {
  static const SimdLevel level = [] {
#if ORDANA_SIMD_DISPATCH
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                      __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
    if (avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi2")) {
      return SimdLevel::kAvx512;
    }
    if (avx2) return SimdLevel::kAvx2;
    return SimdLevel::kSse2;
#elif ORDANA_HAVE_SSE2
    return SimdLevel::kSse2;
#else
    return SimdLevel::kPlain;
#endif
  }();
  return level;
}

// `wanted`, lowered to what this processor supports.
inline SimdLevel SupportedSimdLevel(SimdLevel wanted) {
  const SimdLevel have = DetectSimdLevel();
  return wanted < have ? wanted : have;
}

}  // namespace ordana
