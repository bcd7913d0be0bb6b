// The 16-bit-lane vector operations the packed kernels are written in, one
// traits struct per vector width, so that each kernel's row walk is written
// once (engine/x86/*_packed.h) and instantiated in its _sse2.cpp and
// _avx2.cpp files.
//
// Those files are compiled with different instruction-set flags, so nothing
// here or in the kernel headers may have external linkage: an inline
// function or template instantiated in both would be one symbol, and the
// linker could keep the AVX2 copy for the SSE2 callers. Everything sits in
// an anonymous namespace, giving each file its own copy.
#pragma once

#include <cstdint>

#include <emmintrin.h>
#ifdef __AVX2__
#include <immintrin.h>
#endif

namespace {

// Eight 16-bit lanes in SSE2.
struct Sse2Ops {
    using V = __m128i;
    static constexpr int lanes = 8;

    static V load(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
    static void store(int16_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
    static V set1_i16(short a) { return _mm_set1_epi16(a); }
    static V set1_i32(int32_t a) { return _mm_set1_epi32(a); }

    static V bit_and(V a, V b) { return _mm_and_si128(a, b); }
    static V and_not(V a, V b) { return _mm_andnot_si128(a, b); }
    static V bit_or(V a, V b) { return _mm_or_si128(a, b); }
    static V bit_xor(V a, V b) { return _mm_xor_si128(a, b); }

    static V add_i16(V a, V b) { return _mm_add_epi16(a, b); }
    static V sub_i16(V a, V b) { return _mm_sub_epi16(a, b); }
    static V adds_i16(V a, V b) { return _mm_adds_epi16(a, b); }
    static V avg_u16(V a, V b) { return _mm_avg_epu16(a, b); }
    static V mullo_i16(V a, V b) { return _mm_mullo_epi16(a, b); }
    static V mulhi_i16(V a, V b) { return _mm_mulhi_epi16(a, b); }
    static V srli_i16(V a, int bits) { return _mm_srli_epi16(a, bits); }
    static V slli_i16(V a, int bits) { return _mm_slli_epi16(a, bits); }
    static V srai_i16(V a, int bits) { return _mm_srai_epi16(a, bits); }

    static V add_i32(V a, V b) { return _mm_add_epi32(a, b); }
    static V slli_i32(V a, int bits) { return _mm_slli_epi32(a, bits); }
    static V srai_i32(V a, int bits) { return _mm_srai_epi32(a, bits); }

    // Pairwise products of 16-bit lanes summed into 32-bit lanes.
    static V madd_i16(V a, V b) { return _mm_madd_epi16(a, b); }
    static V unpacklo_i16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
    static V unpackhi_i16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
    static V packs_i32(V lo, V hi) { return _mm_packs_epi32(lo, hi); }
};

#ifdef __AVX2__
// Sixteen 16-bit lanes in AVX2. Unpacking and packing work within 128-bit
// lanes, so an unpack, a multiply-add and a pack bring results back in lane
// order, as in SSE2.
struct Avx2Ops {
    using V = __m256i;
    static constexpr int lanes = 16;

    static V load(const int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
    static void store(int16_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
    static V set1_i16(short a) { return _mm256_set1_epi16(a); }
    static V set1_i32(int32_t a) { return _mm256_set1_epi32(a); }

    static V bit_and(V a, V b) { return _mm256_and_si256(a, b); }
    static V and_not(V a, V b) { return _mm256_andnot_si256(a, b); }
    static V bit_or(V a, V b) { return _mm256_or_si256(a, b); }
    static V bit_xor(V a, V b) { return _mm256_xor_si256(a, b); }

    static V add_i16(V a, V b) { return _mm256_add_epi16(a, b); }
    static V sub_i16(V a, V b) { return _mm256_sub_epi16(a, b); }
    static V adds_i16(V a, V b) { return _mm256_adds_epi16(a, b); }
    static V avg_u16(V a, V b) { return _mm256_avg_epu16(a, b); }
    static V mullo_i16(V a, V b) { return _mm256_mullo_epi16(a, b); }
    static V mulhi_i16(V a, V b) { return _mm256_mulhi_epi16(a, b); }
    static V srli_i16(V a, int bits) { return _mm256_srli_epi16(a, bits); }
    static V slli_i16(V a, int bits) { return _mm256_slli_epi16(a, bits); }
    static V srai_i16(V a, int bits) { return _mm256_srai_epi16(a, bits); }

    static V add_i32(V a, V b) { return _mm256_add_epi32(a, b); }
    static V slli_i32(V a, int bits) { return _mm256_slli_epi32(a, bits); }
    static V srai_i32(V a, int bits) { return _mm256_srai_epi32(a, bits); }

    static V madd_i16(V a, V b) { return _mm256_madd_epi16(a, b); }
    static V unpacklo_i16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
    static V unpackhi_i16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
    static V packs_i32(V lo, V hi) { return _mm256_packs_epi32(lo, hi); }
};
#endif

// Weights a and b alternating, for the multiply-add of pairs (A, B).
template <typename Ops>
typename Ops::V weight_pair(int32_t a, int32_t b)
{
    return Ops::set1_i32(static_cast<int32_t>((static_cast<uint32_t>(b) << 16) |
                                              (static_cast<uint32_t>(a) & 0xffff)));
}

}  // namespace
