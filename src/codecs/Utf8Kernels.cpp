#include "codecs/Utf8Kernels.h"

#include "support/Bits.h"

#if ORDANA_SIMD_DISPATCH
#include <immintrin.h>
// GCC 12's AVX-512 intrinsics start some results from a deliberately
// undefined vector, which its own warning then reports.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#endif

namespace ordana {

#if ORDANA_SIMD_DISPATCH

namespace {

#define ORDANA_TARGET_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))
#define ORDANA_TARGET_AVX512 \
  __attribute__((target("avx2,bmi,bmi2,popcnt,avx512f,avx512bw,avx512vl,avx512vbmi2")))

// ---- Tables (AVX2: compressing by byte shuffles) ------------------------------

// For each 8-bit mask of 16-bit lanes: the byte shuffle that moves the marked
// lanes to the front, in order.
struct WordCompressTable {
  std::uint8_t shuffle[256][16];
  constexpr WordCompressTable() : shuffle() {
    for (int m = 0; m < 256; ++m) {
      int k = 0;
      for (int lane = 0; lane < 8; ++lane) {
        if ((m >> lane) & 1) {
          shuffle[m][k++] = static_cast<std::uint8_t>(2 * lane);
          shuffle[m][k++] = static_cast<std::uint8_t>(2 * lane + 1);
        }
      }
      while (k < 16) shuffle[m][k++] = 0x80;
    }
  }
};
constexpr WordCompressTable kWordCompress;

// For four 32-bit lanes, each holding the UTF-8 bytes of one unit from its
// lowest byte on: 2 bits per lane give how many of them count (0 to 3).
// The shuffle moves the counted bytes to the front; `length` is their sum.
struct ByteCompressTable {
  std::uint8_t shuffle[256][16];
  std::uint8_t length[256];
  constexpr ByteCompressTable() : shuffle(), length() {
    for (int code = 0; code < 256; ++code) {
      int k = 0;
      for (int lane = 0; lane < 4; ++lane) {
        const int count = (code >> (2 * lane)) & 3;
        for (int j = 0; j < count; ++j)
          shuffle[code][k++] = static_cast<std::uint8_t>(4 * lane + j);
      }
      length[code] = static_cast<std::uint8_t>(k);
      while (k < 16) shuffle[code][k++] = 0x80;
    }
  }
};
constexpr ByteCompressTable kByteCompress;

// Bit j of a 4-bit value to bit 2j.
constexpr std::uint8_t kSpread4[16] = {0x00, 0x01, 0x04, 0x05, 0x10, 0x11, 0x14, 0x15,
                                       0x40, 0x41, 0x44, 0x45, 0x50, 0x51, 0x54, 0x55};

// ---- Shared decisions -------------------------------------------------------

// Where a block of `width` bytes ends for the decoder: after the last
// character that ends in it. `cont` marks the continuation bytes of the
// block, `nextIsCont` says whether the byte after it is one. 0: no
// character ends in the block (then it is malformed anyway).
inline std::uint32_t DecodedLength(std::uint32_t cont, bool nextIsCont, std::uint32_t width) {
  if (!nextIsCont) return width;
  const std::uint32_t leads = ~cont & ((width == 32 ? 0u : (1u << width)) - 1u);
  if (leads == 0) return 0;
  return HighestSetBit(leads);
}

// Whether the bytes before position `at` (at least 3 of them) leave a
// sequence that wants more continuation bytes.
inline bool SequenceOpenBefore(const std::uint8_t* at) {
  return at[-1] >= 0xC0 || at[-2] >= 0xE0 || at[-3] >= 0xF0;
}

inline bool IsContinuationByte(std::uint8_t b) { return (b & 0xC0) == 0x80; }

// How many of the `units` units of an encoder's block it takes, given the
// masks of its high and low surrogates: all, or all but a high surrogate in
// the last lane, which waits for its partner in the next block; 0 when a
// surrogate in them is unpaired.
inline std::uint32_t EncodedLength(std::uint32_t high, std::uint32_t low, std::uint32_t units) {
  const std::uint32_t length = ((high >> (units - 1)) & 1u) != 0 ? units - 1 : units;
  const std::uint32_t inside = (1u << length) - 1u;
  // Each high is followed by a low and each low follows a high; a high
  // right before the waiting one wants a low in the last lane and fails.
  return ((high & inside) << 1) == (low & inside) ? length : 0;
}

// ---- AVX2 -------------------------------------------------------------------

// Unsigned b >= k for every byte.
ORDANA_TARGET_AVX2 inline __m128i AtLeast(__m128i b, int k) {
  return _mm_cmpgt_epi8(_mm_xor_si128(b, _mm_set1_epi8(static_cast<char>(0x80))),
                        _mm_set1_epi8(static_cast<char>((k - 1) ^ 0x80)));
}
ORDANA_TARGET_AVX2 inline std::uint32_t Bits(__m128i m) {
  return static_cast<std::uint32_t>(_mm_movemask_epi8(m));
}
ORDANA_TARGET_AVX2 inline __m128i Equal(__m128i b, int k) {
  return _mm_cmpeq_epi8(b, _mm_set1_epi8(static_cast<char>(k)));
}

ORDANA_TARGET_AVX2 KernelProgress DecodeAvx2(const std::uint8_t* in, std::uint32_t size,
                                             std::uint8_t* out, std::uint32_t room) {
  constexpr std::uint32_t kWidth = 16;
  std::uint32_t i = 0;
  std::uint32_t o = 0;
  const __m256i low6 = _mm256_set1_epi16(0x3F);
  while (i + kWidth + 1 <= size && room - o >= 2 * kWidth) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    if (_mm_movemask_epi8(b) == 0) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + o), _mm256_cvtepu8_epi16(b));
      i += kWidth;
      o += 2 * kWidth;
      continue;
    }
    // The three bytes before each byte of the block; before the block they
    // count as ASCII, as the block starts at a character boundary.
    const __m128i p1 = _mm_slli_si128(b, 1);
    const __m128i p2 = _mm_slli_si128(b, 2);
    const __m128i p3 = _mm_slli_si128(b, 3);
    const std::uint32_t cont = Bits(_mm_cmplt_epi8(b, _mm_set1_epi8(-64)));
    const __m128i lead2 = AtLeast(p1, 0xC0);
    const __m128i lead3 = AtLeast(p2, 0xE0);
    const __m128i lead4Third = AtLeast(p2, 0xF0);
    const __m128i lead4 = AtLeast(p3, 0xF0);
    const std::uint32_t need = Bits(lead2) | Bits(lead3) | Bits(lead4);
    const std::uint32_t atLeastA0 = Bits(AtLeast(b, 0xA0));
    const std::uint32_t atLeast90 = Bits(AtLeast(b, 0x90));
    const std::uint32_t bad =
        (cont ^ need) |
        Bits(_mm_cmpeq_epi8(_mm_and_si128(b, _mm_set1_epi8(static_cast<char>(0xFE))),
                            _mm_set1_epi8(static_cast<char>(0xC0)))) |
        Bits(AtLeast(b, 0xF5)) | (Bits(Equal(p1, 0xE0)) & ~atLeastA0) |
        (Bits(Equal(p1, 0xED)) & atLeastA0) | (Bits(Equal(p1, 0xF0)) & ~atLeast90) |
        (Bits(Equal(p1, 0xF4)) & atLeast90) |
        (Bits(Equal(p2, 0xEF)) & Bits(Equal(p1, 0xBF)) & Bits(AtLeast(b, 0xBE)));
    const bool nextIsCont = IsContinuationByte(in[i + kWidth]);
    const std::uint32_t length = DecodedLength(cont, nextIsCont, kWidth);
    if (length == 0) break;
    const std::uint32_t inside = (1u << length) - 1u;
    if ((bad & inside) != 0) break;
    if (length < kWidth ? ((need >> length) & 1u) != 0 : SequenceOpenBefore(in + i + kWidth)) break;

    const std::uint32_t ends = ~((cont >> 1) | (nextIsCont ? 1u << (kWidth - 1) : 0u));
    const std::uint32_t emit = (ends | (Bits(lead4Third) & cont)) & inside;

    const __m256i B = _mm256_cvtepu8_epi16(b);
    const __m256i P1 = _mm256_cvtepu8_epi16(p1);
    const __m256i P2 = _mm256_cvtepu8_epi16(p2);
    const __m256i last6 = _mm256_and_si256(B, low6);
    const __m256i two =
        _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(P1, _mm256_set1_epi16(0x1F)), 6), last6);
    const __m256i middle6 = _mm256_slli_epi16(_mm256_and_si256(P1, low6), 6);
    const __m256i three =
        _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(P2, 12), middle6), last6);
    const __m256i high = _mm256_add_epi16(
        _mm256_add_epi16(_mm256_set1_epi16(static_cast<short>(0xD7C0)),
                         _mm256_slli_epi16(_mm256_and_si256(P2, _mm256_set1_epi16(7)), 8)),
        _mm256_add_epi16(_mm256_slli_epi16(_mm256_and_si256(P1, low6), 2),
                         _mm256_and_si256(_mm256_srli_epi16(B, 4), _mm256_set1_epi16(3))));
    const __m256i lowSurrogate = _mm256_or_si256(
        _mm256_or_si256(_mm256_set1_epi16(static_cast<short>(0xDC00)),
                        _mm256_slli_epi16(_mm256_and_si256(P1, _mm256_set1_epi16(0xF)), 6)),
        last6);
    __m256i v = B;
    v = _mm256_blendv_epi8(v, two, _mm256_cvtepi8_epi16(lead2));
    v = _mm256_blendv_epi8(v, three, _mm256_cvtepi8_epi16(lead3));
    v = _mm256_blendv_epi8(v, high, _mm256_cvtepi8_epi16(lead4Third));
    v = _mm256_blendv_epi8(v, lowSurrogate, _mm256_cvtepi8_epi16(lead4));

    const std::uint32_t first = emit & 0xFF;
    const std::uint32_t second = (emit >> 8) & 0xFF;
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(out + o),
        _mm_shuffle_epi8(
            _mm256_castsi256_si128(v),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(kWordCompress.shuffle[first]))));
    o += 2 * PopCount(first);
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(out + o),
        _mm_shuffle_epi8(
            _mm256_extracti128_si256(v, 1),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(kWordCompress.shuffle[second]))));
    o += 2 * PopCount(second);
    i += length;
  }
  return {i, o};
}

// Whether the 16-bit lanes of `a` and `b` are all below 0x80.
ORDANA_TARGET_AVX2 inline bool AllAscii(__m128i a, __m128i b) {
  const __m128i bits =
      _mm_and_si128(_mm_or_si128(a, b), _mm_set1_epi16(static_cast<short>(0xFF80)));
  return _mm_testz_si128(bits, bits) != 0;
}

ORDANA_TARGET_AVX2 KernelProgress EncodeAvx2(const std::uint8_t* in, std::uint32_t size,
                                             std::uint8_t* out, std::uint32_t room) {
  constexpr std::uint32_t kUnits = 8;
  const std::uint32_t units = size / 2;
  std::uint32_t i = 0;
  std::uint32_t o = 0;
  const __m256i low6 = _mm256_set1_epi32(0x3F);
  const __m256i cont = _mm256_set1_epi32(0x80);
  const __m256i shiftByOne = _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 5, 6);
  while (i + kUnits <= units && room - o >= 32) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
    if (i + 2 * kUnits <= units) {
      const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i + 16));
      if (AllAscii(x, y)) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm_packus_epi16(x, y));
        i += 2 * kUnits;
        o += 2 * kUnits;
        continue;
      }
    }
    const __m128i kind = _mm_and_si128(x, _mm_set1_epi16(static_cast<short>(0xFC00)));
    const __m128i zero = _mm_setzero_si128();
    const std::uint32_t high = Bits(
        _mm_packs_epi16(_mm_cmpeq_epi16(kind, _mm_set1_epi16(static_cast<short>(0xD800))), zero));
    const std::uint32_t low = Bits(
        _mm_packs_epi16(_mm_cmpeq_epi16(kind, _mm_set1_epi16(static_cast<short>(0xDC00))), zero));
    const std::uint32_t length = EncodedLength(high, low, kUnits);
    if (length == 0) break;
    const std::uint32_t inside = (1u << length) - 1u;

    const __m256i u = _mm256_cvtepu16_epi32(x);
    const __m256i prev =
        _mm256_blend_epi32(_mm256_permutevar8x32_epi32(u, shiftByOne), _mm256_setzero_si256(), 1);
    const __m256i isAscii = _mm256_cmpgt_epi32(_mm256_set1_epi32(0x80), u);
    const __m256i belowThree = _mm256_cmpgt_epi32(_mm256_set1_epi32(0x800), u);
    const __m256i unitKind = _mm256_and_si256(u, _mm256_set1_epi32(0xFC00));
    const __m256i isHigh = _mm256_cmpeq_epi32(unitKind, _mm256_set1_epi32(0xD800));
    const __m256i isLow = _mm256_cmpeq_epi32(unitKind, _mm256_set1_epi32(0xDC00));

    const __m256i last = _mm256_slli_epi32(_mm256_or_si256(cont, _mm256_and_si256(u, low6)), 8);
    const __m256i two =
        _mm256_or_si256(_mm256_or_si256(_mm256_set1_epi32(0xC0), _mm256_srli_epi32(u, 6)), last);
    const __m256i three = _mm256_or_si256(
        _mm256_or_si256(_mm256_set1_epi32(0xE0), _mm256_srli_epi32(u, 12)),
        _mm256_or_si256(
            _mm256_slli_epi32(
                _mm256_or_si256(cont, _mm256_and_si256(_mm256_srli_epi32(u, 6), low6)), 8),
            _mm256_slli_epi32(last, 8)));
    const __m256i t = _mm256_sub_epi32(u, _mm256_set1_epi32(0xD7C0));
    const __m256i highBytes = _mm256_or_si256(
        _mm256_or_si256(_mm256_set1_epi32(0xF0), _mm256_srli_epi32(t, 8)),
        _mm256_slli_epi32(_mm256_or_si256(cont, _mm256_and_si256(_mm256_srli_epi32(t, 2), low6)),
                          8));
    const __m256i lowBytes = _mm256_or_si256(
        _mm256_or_si256(
            cont,
            _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(prev, _mm256_set1_epi32(3)), 4),
                            _mm256_and_si256(_mm256_srli_epi32(u, 6), _mm256_set1_epi32(0xF)))),
        last);
    __m256i bytes = three;
    bytes = _mm256_blendv_epi8(bytes, two, belowThree);
    bytes = _mm256_blendv_epi8(bytes, u, isAscii);
    bytes = _mm256_blendv_epi8(bytes, highBytes, isHigh);
    bytes = _mm256_blendv_epi8(bytes, lowBytes, isLow);

    // Two bits of length per lane: 01 one byte, 10 two, 11 three.
    const std::uint32_t asciiBits =
        static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(isAscii)));
    const std::uint32_t belowThreeBits =
        static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(belowThree)));
    const std::uint32_t surrogateBits = high | low;
    const std::uint32_t threeBits = ~belowThreeBits & ~surrogateBits;
    const std::uint32_t bit0 = (asciiBits | threeBits) & inside;
    const std::uint32_t bit1 = ~asciiBits & inside;
    const std::uint32_t code0 = kSpread4[bit0 & 15] | (kSpread4[bit1 & 15] << 1);
    const std::uint32_t code1 = kSpread4[(bit0 >> 4) & 15] | (kSpread4[(bit1 >> 4) & 15] << 1);
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(out + o),
        _mm_shuffle_epi8(
            _mm256_castsi256_si128(bytes),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(kByteCompress.shuffle[code0]))));
    o += kByteCompress.length[code0];
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(out + o),
        _mm_shuffle_epi8(
            _mm256_extracti128_si256(bytes, 1),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(kByteCompress.shuffle[code1]))));
    o += kByteCompress.length[code1];
    i += length;
  }
  return {2 * i, o};
}

// ---- AVX-512 ----------------------------------------------------------------

ORDANA_TARGET_AVX512 inline __m512i Set16(int k) {
  return _mm512_set1_epi16(static_cast<short>(k));
}
ORDANA_TARGET_AVX512 inline __m512i Set32(int k) { return _mm512_set1_epi32(k); }

// Lane k of a permutation takes lane k - 1 (lane 0 is masked off).
alignas(64) constexpr std::uint16_t kBackOne[32] = {0,  0,  1,  2,  3,  4,  5,  6,  7,  8,  9,
                                                    10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                                                    21, 22, 23, 24, 25, 26, 27, 28, 29, 30};

ORDANA_TARGET_AVX512 KernelProgress DecodeAvx512(const std::uint8_t* in, std::uint32_t size,
                                                 std::uint8_t* out, std::uint32_t room) {
  constexpr std::uint32_t kWidth = 32;
  std::uint32_t i = 0;
  std::uint32_t o = 0;
  // Lane k takes lane k - d; the lanes below d are zero (ASCII before the
  // block, which starts at a character boundary).
  const __m512i back1 = _mm512_load_si512(kBackOne);
  const __m512i one = _mm512_set1_epi16(1);
  const __m512i back2 = _mm512_subs_epu16(back1, one);
  const __m512i back3 = _mm512_subs_epu16(back2, one);
  const __m512i low6 = _mm512_set1_epi16(0x3F);
  while (i + kWidth + 1 <= size && room - o >= 2 * kWidth) {
    const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    const __m512i b = _mm512_cvtepu8_epi16(raw);
    if (_mm256_movemask_epi8(raw) == 0) {
      _mm512_storeu_si512(out + o, b);
      i += kWidth;
      o += 2 * kWidth;
      continue;
    }
    const __m512i p1 = _mm512_maskz_permutexvar_epi16(0xFFFFFFFEu, back1, b);
    const __m512i p2 = _mm512_maskz_permutexvar_epi16(0xFFFFFFFCu, back2, b);
    const __m512i p3 = _mm512_maskz_permutexvar_epi16(0xFFFFFFF8u, back3, b);
    const std::uint32_t cont =
        _mm512_cmpeq_epi16_mask(_mm512_and_si512(b, Set16(0xC0)), Set16(0x80));
    const __mmask32 lead2 = _mm512_cmpge_epu16_mask(p1, Set16(0xC0));
    const __mmask32 lead3 = _mm512_cmpge_epu16_mask(p2, Set16(0xE0));
    const __mmask32 lead4Third = _mm512_cmpge_epu16_mask(p2, Set16(0xF0));
    const __mmask32 lead4 = _mm512_cmpge_epu16_mask(p3, Set16(0xF0));
    const std::uint32_t need = lead2 | lead3 | lead4;
    const std::uint32_t atLeastA0 = _mm512_cmpge_epu16_mask(b, Set16(0xA0));
    const std::uint32_t atLeast90 = _mm512_cmpge_epu16_mask(b, Set16(0x90));
    const std::uint32_t bad =
        (cont ^ need) | _mm512_cmpeq_epi16_mask(_mm512_and_si512(b, Set16(0xFE)), Set16(0xC0)) |
        _mm512_cmpge_epu16_mask(b, Set16(0xF5)) |
        (_mm512_cmpeq_epi16_mask(p1, Set16(0xE0)) & ~atLeastA0) |
        (_mm512_cmpeq_epi16_mask(p1, Set16(0xED)) & atLeastA0) |
        (_mm512_cmpeq_epi16_mask(p1, Set16(0xF0)) & ~atLeast90) |
        (_mm512_cmpeq_epi16_mask(p1, Set16(0xF4)) & atLeast90) |
        (_mm512_cmpeq_epi16_mask(p2, Set16(0xEF)) & _mm512_cmpeq_epi16_mask(p1, Set16(0xBF)) &
         _mm512_cmpge_epu16_mask(b, Set16(0xBE)));
    const bool nextIsCont = IsContinuationByte(in[i + kWidth]);
    const std::uint32_t length = DecodedLength(cont, nextIsCont, kWidth);
    if (length == 0) break;
    const std::uint32_t inside = length == kWidth ? 0xFFFFFFFFu : (1u << length) - 1u;
    if ((bad & inside) != 0) break;
    if (length < kWidth ? ((need >> length) & 1u) != 0 : SequenceOpenBefore(in + i + kWidth)) break;

    const std::uint32_t ends = ~((cont >> 1) | (nextIsCont ? 1u << (kWidth - 1) : 0u));
    const __mmask32 emit = (ends | (lead4Third & cont)) & inside;

    const __m512i last6 = _mm512_and_si512(b, low6);
    const __m512i middle6 = _mm512_slli_epi16(_mm512_and_si512(p1, low6), 6);
    __m512i v = b;
    v = _mm512_mask_mov_epi16(
        v, lead2, _mm512_or_si512(_mm512_slli_epi16(_mm512_and_si512(p1, Set16(0x1F)), 6), last6));
    v = _mm512_mask_mov_epi16(
        v, lead3, _mm512_or_si512(_mm512_or_si512(_mm512_slli_epi16(p2, 12), middle6), last6));
    v = _mm512_mask_mov_epi16(
        v, lead4Third,
        _mm512_add_epi16(
            _mm512_add_epi16(Set16(0xD7C0), _mm512_slli_epi16(_mm512_and_si512(p2, Set16(7)), 8)),
            _mm512_add_epi16(_mm512_slli_epi16(_mm512_and_si512(p1, low6), 2),
                             _mm512_and_si512(_mm512_srli_epi16(b, 4), Set16(3)))));
    v = _mm512_mask_mov_epi16(
        v, lead4,
        _mm512_or_si512(
            _mm512_or_si512(Set16(0xDC00), _mm512_slli_epi16(_mm512_and_si512(p1, Set16(0xF)), 6)),
            last6));
    _mm512_storeu_si512(out + o, _mm512_maskz_compress_epi16(emit, v));
    o += 2 * PopCount(emit);
    i += length;
  }
  return {i, o};
}

ORDANA_TARGET_AVX512 KernelProgress EncodeAvx512(const std::uint8_t* in, std::uint32_t size,
                                                 std::uint8_t* out, std::uint32_t room) {
  constexpr std::uint32_t kUnits = 16;
  const std::uint32_t units = size / 2;
  std::uint32_t i = 0;
  std::uint32_t o = 0;
  const __m512i low6 = Set32(0x3F);
  const __m512i cont = Set32(0x80);
  while (i + kUnits <= units && room - o >= 64) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 2 * i));
    if (_mm256_testz_si256(x, _mm256_set1_epi16(static_cast<short>(0xFF80)))) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm256_cvtepi16_epi8(x));
      i += kUnits;
      o += kUnits;
      continue;
    }
    const __m512i u = _mm512_cvtepu16_epi32(x);
    const __m512i unitKind = _mm512_and_si512(u, Set32(0xFC00));
    const std::uint32_t high = _mm512_cmpeq_epi32_mask(unitKind, Set32(0xD800));
    const std::uint32_t low = _mm512_cmpeq_epi32_mask(unitKind, Set32(0xDC00));
    const std::uint32_t length = EncodedLength(high, low, kUnits);
    if (length == 0) break;
    const std::uint32_t inside = (1u << length) - 1u;

    const __m512i prev = _mm512_alignr_epi32(u, _mm512_setzero_si512(), 15);
    const __mmask16 isAscii = _mm512_cmplt_epu32_mask(u, Set32(0x80));
    const __mmask16 belowThree = _mm512_cmplt_epu32_mask(u, Set32(0x800));
    const __m512i last = _mm512_slli_epi32(_mm512_or_si512(cont, _mm512_and_si512(u, low6)), 8);
    const __m512i t = _mm512_sub_epi32(u, Set32(0xD7C0));
    __m512i bytes = _mm512_or_si512(
        _mm512_or_si512(Set32(0xE0), _mm512_srli_epi32(u, 12)),
        _mm512_or_si512(
            _mm512_slli_epi32(
                _mm512_or_si512(cont, _mm512_and_si512(_mm512_srli_epi32(u, 6), low6)), 8),
            _mm512_slli_epi32(last, 8)));
    __m512i keep = Set32(0xFFFFFF);
    bytes = _mm512_mask_mov_epi32(
        bytes, belowThree,
        _mm512_or_si512(_mm512_or_si512(Set32(0xC0), _mm512_srli_epi32(u, 6)), last));
    bytes = _mm512_mask_mov_epi32(bytes, isAscii, u);
    bytes = _mm512_mask_mov_epi32(
        bytes, static_cast<__mmask16>(high),
        _mm512_or_si512(
            _mm512_or_si512(Set32(0xF0), _mm512_srli_epi32(t, 8)),
            _mm512_slli_epi32(
                _mm512_or_si512(cont, _mm512_and_si512(_mm512_srli_epi32(t, 2), low6)), 8)));
    bytes = _mm512_mask_mov_epi32(
        bytes, static_cast<__mmask16>(low),
        _mm512_or_si512(
            _mm512_or_si512(cont,
                            _mm512_or_si512(_mm512_slli_epi32(_mm512_and_si512(prev, Set32(3)), 4),
                                            _mm512_and_si512(_mm512_srli_epi32(u, 6), Set32(0xF)))),
            last));
    keep =
        _mm512_mask_mov_epi32(keep, static_cast<__mmask16>(belowThree | high | low), Set32(0xFFFF));
    keep = _mm512_mask_mov_epi32(keep, isAscii, Set32(0xFF));
    keep = _mm512_maskz_mov_epi32(static_cast<__mmask16>(inside), keep);
    const __mmask64 kept = _mm512_test_epi8_mask(keep, keep);
    _mm512_storeu_si512(out + o, _mm512_maskz_compress_epi8(kept, bytes));
    o += PopCount(kept);
    i += length;
  }
  return {2 * i, o};
}

}  // namespace

KernelProgress DecodeUtf8Blocks(SimdLevel level, const std::uint8_t* in, std::uint32_t size,
                                std::uint8_t* out, std::uint32_t room) {
  if (level >= SimdLevel::kAvx512) return DecodeAvx512(in, size, out, room);
  if (level >= SimdLevel::kAvx2) return DecodeAvx2(in, size, out, room);
  return {};
}

KernelProgress EncodeUtf8Blocks(SimdLevel level, const std::uint8_t* in, std::uint32_t size,
                                std::uint8_t* out, std::uint32_t room) {
  if (level >= SimdLevel::kAvx512) return EncodeAvx512(in, size, out, room);
  if (level >= SimdLevel::kAvx2) return EncodeAvx2(in, size, out, room);
  return {};
}

bool HaveUtf8Kernels(SimdLevel level) { return level >= SimdLevel::kAvx2; }

#else  // no run-time dispatch in this build: the plain loops alone

KernelProgress DecodeUtf8Blocks(SimdLevel, const std::uint8_t*, std::uint32_t, std::uint8_t*,
                                std::uint32_t) {
  return {};
}

KernelProgress EncodeUtf8Blocks(SimdLevel, const std::uint8_t*, std::uint32_t, std::uint8_t*,
                                std::uint32_t) {
  return {};
}

bool HaveUtf8Kernels(SimdLevel) { return false; }

#endif

}  // namespace ordana
