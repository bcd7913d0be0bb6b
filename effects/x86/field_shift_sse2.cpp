// The field shift's row operations eight components at a time in SSE2.
#include <emmintrin.h>

#include "effects/field_shift.h"

static inline __m128i load8(const int16_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

static inline void store8(int16_t* p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// Weights a and b alternating, for the multiply-add of pairs (A, B).
static inline __m128i weight_pair(int32_t a, int32_t b)
{
    return _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(b) << 16) |
                                               (static_cast<uint32_t>(a) & 0xffff)));
}

// The low 16 bits of each 32-bit lane shifted right by 15: bits 15 .. 30,
// moved to the upper half and brought down with the sign, so that packing
// never saturates.
static inline __m128i pack_shifted(__m128i lo, __m128i hi)
{
    return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(lo, 1), 16),
                           _mm_srai_epi32(_mm_slli_epi32(hi, 1), 16));
}

// Components c .. c+7. Each multiply-add sums two products of 16-bit
// numbers whose weights are at most 32767 in size, so no pair sum reaches
// 2^31 and the 32-bit lanes hold the reference's sums exactly.
static inline __m128i interpolate8(const int16_t* const t[4], int c, __m128i w01, __m128i w23)
{
    const __m128i a0 = load8(t[0] + c), a1 = load8(t[1] + c);
    const __m128i a2 = load8(t[2] + c), a3 = load8(t[3] + c);
    const __m128i round = _mm_set1_epi32(0x4000);
    __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(a0, a1), w01), round);
    lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a2, a3), w23));
    __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(a0, a1), w01), round);
    hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a2, a3), w23));
    return pack_shifted(lo, hi);
}

void interpolate_row_sse2(int16_t* out, const int16_t* const tap[4], const int32_t weights[4],
                          int count)
{
    if (count < 8) {
        interpolate_row_c(out, tap, weights, count);
        return;
    }
    const int16_t* const t[4] = {tap[0], tap[1], tap[2], tap[3]};
    const __m128i w01 = weight_pair(weights[0], weights[1]);
    const __m128i w23 = weight_pair(weights[2], weights[3]);
    int c = 0;
    for (; c + 8 <= count; c += 8)
        store8(out + c, interpolate8(t, c, w01, w23));
    // The last step overlaps the one before: out is not an input, so the
    // components it rewrites get the same values.
    if (c < count)
        store8(out + count - 8, interpolate8(t, count - 8, w01, w23));
}

// (a + b + 1) / 2 truncated: the unsigned rounding average of the inputs
// offset by 32768 gives the floor of (a + b + 1) / 2, which is one below the
// truncated quotient when that is negative and a + b is even.
static inline __m128i average8(const int16_t* a, const int16_t* b, int c)
{
    const __m128i offset = _mm_set1_epi16(-32768);
    const __m128i x = load8(a + c), y = load8(b + c);
    const __m128i floor = _mm_xor_si128(
        _mm_avg_epu16(_mm_xor_si128(x, offset), _mm_xor_si128(y, offset)), offset);
    const __m128i even_and_negative =
        _mm_andnot_si128(_mm_xor_si128(x, y), _mm_srai_epi16(floor, 15));
    return _mm_add_epi16(floor, _mm_and_si128(even_and_negative, _mm_set1_epi16(1)));
}

void average_rows_sse2(int16_t* out, const int16_t* a, const int16_t* b, int count)
{
    if (count < 8) {
        average_rows_c(out, a, b, count);
        return;
    }
    int c = 0;
    for (; c + 8 <= count; c += 8)
        store8(out + c, average8(a, b, c));
    if (c < count)
        store8(out + count - 8, average8(a, b, count - 8));
}
