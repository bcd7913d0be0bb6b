// The composite encoding sixteen pixels (48 components, three vectors) at a
// time in AVX2. The gathered pixel order is 11L mod 16 for lane L
// (11 = 1/3 mod 16): 0, 11, 6, 1, 12, 7, 2, 13 | 8, 3, 14, 9, 4, 15, 10, 5.
#include "engine/x86/composite_chroma.h"
#include <immintrin.h>

#include "engine/x86/composite_chroma_packed.h"

// Entries 0 .. 15 in the gathered order, times the row's sign. Each half
// takes lanes 0, 2, 3, 5, 6 from its own half of the entries and lanes 1,
// 4, 7 from the other half, at the same word positions in both halves, so
// two in-lane byte shuffles (one of the halves swapped) and an OR build it.
static inline __m256i gathered_entries(const int16_t* entries, __m256i sign)
{
    const __m256i x = Avx2Ops::load(entries);
    const __m256i swapped = _mm256_permute4x64_epi64(x, _MM_SHUFFLE(1, 0, 3, 2));
    const __m256i own = _mm256_setr_epi8(0, 1, -1, -1, 12, 13, 2, 3, -1, -1, 14, 15, 4, 5, -1, -1,
                                         0, 1, -1, -1, 12, 13, 2, 3, -1, -1, 14, 15, 4, 5, -1, -1);
    const __m256i other = _mm256_setr_epi8(-1, -1, 6, 7, -1, -1, -1, -1, 8, 9, -1, -1, -1, -1, 10,
                                           11, -1, -1, 6, 7, -1, -1, -1, -1, 8, 9, -1, -1, -1, -1,
                                           10, 11);
    const __m256i gathered =
        _mm256_or_si256(_mm256_shuffle_epi8(x, own), _mm256_shuffle_epi8(swapped, other));
    return _mm256_sign_epi16(gathered, sign);
}

void encode_composite_row_avx2(PIXEL_YC* pixels, const int16_t* cos_weights,
                               const int16_t* sin_weights, int count, int32_t sign)
{
    const __m256i sign_lanes = _mm256_set1_epi16(static_cast<short>(sign));
    const int x = encode_composite_groups<Avx2Ops>(
        pixels, cos_weights, sin_weights, count,
        [sign_lanes](const int16_t* entries) { return gathered_entries(entries, sign_lanes); });
    // Fewer than 17 pixels left: eight at a time, then one at a time.
    encode_composite_row_sse2(pixels + x, cos_weights + x, sin_weights + x, count - x, sign);
}

void encode_pal_row_avx2(PIXEL_YC* pixels, const int16_t* cos_weights, const int16_t* sin_weights,
                         int count, const int16_t coefficients[4])
{
    const __m256i keep = _mm256_set1_epi16(1);
    const int x = encode_pal_groups<Avx2Ops>(
        pixels, cos_weights, sin_weights, count, coefficients,
        [keep](const int16_t* entries) { return gathered_entries(entries, keep); });
    encode_pal_row_sse2(pixels + x, cos_weights + x, sin_weights + x, count - x, coefficients);
}
