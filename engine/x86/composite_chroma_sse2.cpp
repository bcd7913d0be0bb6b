// The composite encoding eight pixels (24 components, three vectors) at a
// time in SSE2. The gathered pixel order is 0, 3, 6, 1, 4, 7, 2, 5.
#include "engine/x86/composite_chroma.h"
#include <emmintrin.h>

#include "engine/x86/composite_chroma_packed.h"

// Entries 0 .. 7 in the gathered order, times the row's sign (negate: all
// ones for -1; entries lie within -32767 .. 32767, so negating never
// wraps). The even lanes take entries 0, 6, 4, 2 and the odd lanes 3, 1, 7,
// 5, each a doubleword shuffle away.
static inline __m128i gathered_entries(const int16_t* entries, __m128i negate)
{
    const __m128i x = Sse2Ops::load(entries);
    const __m128i even = _mm_shuffle_epi32(x, _MM_SHUFFLE(1, 2, 3, 0));
    const __m128i odd = _mm_shuffle_epi32(x, _MM_SHUFFLE(2, 3, 0, 1));
    const __m128i low_words = _mm_set1_epi32(0xffff);
    const __m128i gathered =
        _mm_or_si128(_mm_and_si128(even, low_words), _mm_andnot_si128(low_words, odd));
    return _mm_sub_epi16(_mm_xor_si128(gathered, negate), negate);
}

void encode_composite_row_sse2(PIXEL_YC* pixels, const int16_t* cos_weights,
                               const int16_t* sin_weights, int count, int32_t sign)
{
    const __m128i negate = _mm_set1_epi16(sign < 0 ? -1 : 0);
    const int x = encode_composite_groups<Sse2Ops>(
        pixels, cos_weights, sin_weights, count,
        [negate](const int16_t* entries) { return gathered_entries(entries, negate); });
    encode_composite_row_c(pixels + x, cos_weights + x, sin_weights + x, count - x, sign);
}

void encode_pal_row_sse2(PIXEL_YC* pixels, const int16_t* cos_weights, const int16_t* sin_weights,
                         int count, const int16_t coefficients[4])
{
    const __m128i keep = _mm_setzero_si128();
    const int x = encode_pal_groups<Sse2Ops>(
        pixels, cos_weights, sin_weights, count, coefficients,
        [keep](const int16_t* entries) { return gathered_entries(entries, keep); });
    encode_pal_row_c(pixels + x, cos_weights + x, sin_weights + x, count - x, coefficients);
}
