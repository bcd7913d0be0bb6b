// The composite encoding sixteen pixels (48 components, three vectors) at a
// time in AVX2, by the lane gathering of the SSE2 variant: 16 and 3 are
// coprime too, so lane L of the three vectors holds, in exactly one of
// them, the y of pixel 11L mod 16 (11 = 1/3 mod 16).
#include <immintrin.h>

#include "effects/composite_chroma.h"
#include "effects/x86/pixel_lanes.h"

static inline __m256i load16(const int16_t* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

static inline __m256i gather(const int16_t* group, int offset, const __m256i mask[3])
{
    const __m256i a = _mm256_and_si256(load16(group + offset), mask[0]);
    const __m256i b = _mm256_and_si256(load16(group + 16 + offset), mask[1]);
    const __m256i c = _mm256_and_si256(load16(group + 32 + offset), mask[2]);
    return _mm256_or_si256(_mm256_or_si256(a, b), c);
}

// Entries 0 .. 15 in the gathered order 0, 11, 6, 1, 12, 7, 2, 13 | 8, 3,
// 14, 9, 4, 15, 10, 5, times the row's sign. Each half takes lanes 0, 2, 3,
// 5, 6 from its own half of the entries and lanes 1, 4, 7 from the other
// half, at the same word positions in both halves, so two in-lane byte
// shuffles (one of the halves swapped) and an OR build it.
static inline __m256i gathered_entries(const int16_t* entries, __m256i sign)
{
    const __m256i x = load16(entries);
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

// The low 16 bits of (a * b + 1024) >> 11, as in the SSE2 variant.
static inline __m256i carrier_term(__m256i a, __m256i b)
{
    const __m256i low = _mm256_mullo_epi16(a, b);
    const __m256i high = _mm256_mulhi_epi16(a, b);
    const __m256i floor = _mm256_or_si256(_mm256_srli_epi16(low, 11), _mm256_slli_epi16(high, 5));
    const __m256i round = _mm256_and_si256(_mm256_srli_epi16(low, 10), _mm256_set1_epi16(1));
    return _mm256_add_epi16(floor, round);
}

void encode_composite_row_avx2(PIXEL_YC* pixels, const int16_t* cos_weights,
                               const int16_t* sin_weights, int count, int32_t sign)
{
    const __m256i mask[3] = {y_lanes_256(0, -1), y_lanes_256(1, -1), y_lanes_256(2, -1)};
    const __m256i sign_lanes = _mm256_set1_epi16(static_cast<short>(sign));
    int x = 0;
    for (; x + 17 <= count; x += 16) {
        auto* group = reinterpret_cast<int16_t*>(pixels + x);
        const __m256i cb = gather(group, 1, mask);
        const __m256i cr = gather(group, 2, mask);
        const __m256i cos_w = gathered_entries(cos_weights + x, sign_lanes);
        const __m256i sin_w = gathered_entries(sin_weights + x, sign_lanes);
        const __m256i terms = _mm256_add_epi16(carrier_term(cb, cos_w), carrier_term(cr, sin_w));
        for (int k = 0; k < 3; ++k) {
            const __m256i y = _mm256_add_epi16(load16(group + 16 * k), terms);
            auto* out = reinterpret_cast<__m256i*>(group + 16 * k);
            _mm256_storeu_si256(out, _mm256_and_si256(y, mask[k]));
        }
    }
    // Fewer than 17 pixels left: eight at a time, then one at a time.
    encode_composite_row_sse2(pixels + x, cos_weights + x, sin_weights + x, count - x, sign);
}
