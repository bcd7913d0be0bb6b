// The composite encoding eight pixels (24 components, three vectors) at a
// time in SSE2.
//
// Lane L of the vector k of a group holds component 8k + L of the group,
// which is the y of a pixel exactly when 8k + L is a multiple of 3. Because
// 8 and 3 are coprime, every lane L is a y lane in exactly one of the three
// vectors, the one of pixel 3L mod 8. So masking the three vectors to their
// y lanes and OR-ing them gathers the eight y values, one per lane, in the
// pixel order 0, 3, 6, 1, 4, 7, 2, 5. Loading the vectors one and two
// components further on lines each pixel's cb and cr up with its y, so the
// same masks gather cb and cr in that order too. The carrier terms are
// computed in that order, with the table entries shuffled to match, and
// added back to each vector's y lanes, where the mask also clears cb and cr.
#include <emmintrin.h>

#include "effects/composite_chroma.h"
#include "effects/x86/pixel_lanes.h"

static inline __m128i load8(const int16_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// One component of the group's eight pixels, in the gathered order, from
// the group's components starting `offset` (0: y, 1: cb, 2: cr) on.
static inline __m128i gather(const int16_t* group, int offset, const __m128i mask[3])
{
    const __m128i a = _mm_and_si128(load8(group + offset), mask[0]);
    const __m128i b = _mm_and_si128(load8(group + 8 + offset), mask[1]);
    const __m128i c = _mm_and_si128(load8(group + 16 + offset), mask[2]);
    return _mm_or_si128(_mm_or_si128(a, b), c);
}

// Entries 0 .. 7 in the gathered order 0, 3, 6, 1, 4, 7, 2, 5, times the
// row's sign (negate: all ones for -1; entries lie within -32767 .. 32767,
// so negating never wraps). The even lanes take entries 0, 6, 4, 2 and the odd lanes 3, 1, 7,
// 5, each a doubleword shuffle away.
static inline __m128i gathered_entries(const int16_t* entries, __m128i negate)
{
    const __m128i x = load8(entries);
    const __m128i even = _mm_shuffle_epi32(x, _MM_SHUFFLE(1, 2, 3, 0));
    const __m128i odd = _mm_shuffle_epi32(x, _MM_SHUFFLE(2, 3, 0, 1));
    const __m128i low_words = _mm_set1_epi32(0xffff);
    const __m128i gathered =
        _mm_or_si128(_mm_and_si128(even, low_words), _mm_andnot_si128(low_words, odd));
    return _mm_sub_epi16(_mm_xor_si128(gathered, negate), negate);
}

// The low 16 bits of (a * b + 1024) >> 11 for signed 16-bit a and b: the
// 32-bit product is taken as its two halves, bits 11 .. 26 are put together
// and bit 10 rounds.
static inline __m128i carrier_term(__m128i a, __m128i b)
{
    const __m128i low = _mm_mullo_epi16(a, b);
    const __m128i high = _mm_mulhi_epi16(a, b);
    const __m128i floor = _mm_or_si128(_mm_srli_epi16(low, 11), _mm_slli_epi16(high, 5));
    const __m128i round = _mm_and_si128(_mm_srli_epi16(low, 10), _mm_set1_epi16(1));
    return _mm_add_epi16(floor, round);
}

void encode_composite_row_sse2(PIXEL_YC* pixels, const int16_t* cos_weights,
                               const int16_t* sin_weights, int count, int32_t sign)
{
    const __m128i mask[3] = {y_lanes_128(0, -1), y_lanes_128(1, -1), y_lanes_128(2, -1)};
    const __m128i negate = _mm_set1_epi16(sign < 0 ? -1 : 0);
    int x = 0;
    // The cr loads of a group read two components into the next pixel.
    for (; x + 9 <= count; x += 8) {
        auto* group = reinterpret_cast<int16_t*>(pixels + x);
        const __m128i cb = gather(group, 1, mask);
        const __m128i cr = gather(group, 2, mask);
        const __m128i cos_w = gathered_entries(cos_weights + x, negate);
        const __m128i sin_w = gathered_entries(sin_weights + x, negate);
        const __m128i terms = _mm_add_epi16(carrier_term(cb, cos_w), carrier_term(cr, sin_w));
        // New y in the y lanes, 0 in the cb and cr lanes.
        for (int k = 0; k < 3; ++k) {
            const __m128i y = _mm_add_epi16(load8(group + 8 * k), terms);
            auto* out = reinterpret_cast<__m128i*>(group + 8 * k);
            _mm_storeu_si128(out, _mm_and_si128(y, mask[k]));
        }
    }
    encode_composite_row_c(pixels + x, cos_weights + x, sin_weights + x, count - x, sign);
}
