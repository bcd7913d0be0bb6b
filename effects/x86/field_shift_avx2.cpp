// The field shift's row operations sixteen components at a time in AVX2,
// computed as in the SSE2 variants. Unpacking and packing both work within
// 128-bit lanes, so the packed results come back in component order.
#include <immintrin.h>

#include "effects/field_shift.h"

static inline __m256i load16(const int16_t* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

static inline void store16(int16_t* p, __m256i v)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

static inline __m256i weight_pair(int32_t a, int32_t b)
{
    return _mm256_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(b) << 16) |
                                                  (static_cast<uint32_t>(a) & 0xffff)));
}

static inline __m256i pack_shifted(__m256i lo, __m256i hi)
{
    return _mm256_packs_epi32(_mm256_srai_epi32(_mm256_slli_epi32(lo, 1), 16),
                              _mm256_srai_epi32(_mm256_slli_epi32(hi, 1), 16));
}

static inline __m256i interpolate16(const int16_t* const t[4], int c, __m256i w01, __m256i w23)
{
    const __m256i a0 = load16(t[0] + c), a1 = load16(t[1] + c);
    const __m256i a2 = load16(t[2] + c), a3 = load16(t[3] + c);
    const __m256i round = _mm256_set1_epi32(0x4000);
    __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a0, a1), w01), round);
    lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a2, a3), w23));
    __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a0, a1), w01), round);
    hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a2, a3), w23));
    return pack_shifted(lo, hi);
}

void interpolate_row_avx2(int16_t* out, const int16_t* const tap[4], const int32_t weights[4],
                          int count)
{
    if (count < 16) {
        interpolate_row_sse2(out, tap, weights, count);
        return;
    }
    const int16_t* const t[4] = {tap[0], tap[1], tap[2], tap[3]};
    const __m256i w01 = weight_pair(weights[0], weights[1]);
    const __m256i w23 = weight_pair(weights[2], weights[3]);
    int c = 0;
    for (; c + 16 <= count; c += 16)
        store16(out + c, interpolate16(t, c, w01, w23));
    if (c < count)
        store16(out + count - 16, interpolate16(t, count - 16, w01, w23));
}

static inline __m256i average16(const int16_t* a, const int16_t* b, int c)
{
    const __m256i offset = _mm256_set1_epi16(-32768);
    const __m256i x = load16(a + c), y = load16(b + c);
    const __m256i floor = _mm256_xor_si256(
        _mm256_avg_epu16(_mm256_xor_si256(x, offset), _mm256_xor_si256(y, offset)), offset);
    const __m256i even_and_negative =
        _mm256_andnot_si256(_mm256_xor_si256(x, y), _mm256_srai_epi16(floor, 15));
    return _mm256_add_epi16(floor, _mm256_and_si256(even_and_negative, _mm256_set1_epi16(1)));
}

void average_rows_avx2(int16_t* out, const int16_t* a, const int16_t* b, int count)
{
    if (count < 16) {
        average_rows_sse2(out, a, b, count);
        return;
    }
    int c = 0;
    for (; c + 16 <= count; c += 16)
        store16(out + c, average16(a, b, c));
    if (c < count)
        store16(out + count - 16, average16(a, b, count - 16));
}
