// The low-pass filter sixteen components at a time in AVX2.
#include <immintrin.h>

#include <cstdint>

#include "effects/vertical_lpf.h"

static inline __m256i load16(const int16_t* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Weights a and b alternating, for the multiply-add of pairs (A, B).
static inline __m256i weight_pair(short a, short b)
{
    return _mm256_unpacklo_epi16(_mm256_set1_epi16(a), _mm256_set1_epi16(b));
}

// Sixteen components of one output row from the same components of its
// eleven tap rows r[0] .. r[10]. Pair sums saturate, as in the reference;
// each multiply-add takes two weights at once, paired as (S1, x0),
// (S3, S2), (S4, S5), and yields exact 32-bit sums. Unpacking and packing
// both work within 128-bit lanes, so the result comes back in order.
static inline __m256i filter16(const __m256i* r)
{
    const __m256i x0 = r[5];
    const __m256i s1 = _mm256_adds_epi16(r[4], r[6]);
    const __m256i s2 = _mm256_adds_epi16(r[3], r[7]);
    const __m256i s3 = _mm256_adds_epi16(r[2], r[8]);
    const __m256i s4 = _mm256_adds_epi16(r[1], r[9]);
    const __m256i s5 = _mm256_adds_epi16(r[0], r[10]);
    const __m256i w_s1_x0 = weight_pair(4980, 27256);
    const __m256i w_s3_s2 = weight_pair(2693, -3993);
    const __m256i w_s4_s5 = weight_pair(-1442, 518);
    const __m256i round = _mm256_set1_epi32(16384);

    __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(s1, x0), w_s1_x0), round);
    lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(s3, s2), w_s3_s2));
    lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(s4, s5), w_s4_s5));
    __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(s1, x0), w_s1_x0), round);
    hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(s3, s2), w_s3_s2));
    hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(s4, s5), w_s4_s5));
    return _mm256_packs_epi32(_mm256_srai_epi32(lo, 15), _mm256_srai_epi32(hi, 15));
}

// `rows` output rows at once: every source row loaded serves all of them.
template <int rows>
static void filter_rows_together(int16_t* out, ptrdiff_t pitch, const int16_t* const* tap, int count)
{
    // A local copy: the stores below could otherwise alias the caller's
    // array and force a reload of every tap pointer per step.
    const int16_t* t[rows + 10];
    for (int k = 0; k < rows + 10; ++k)
        t[k] = tap[k];
    auto step = [&](int c) {
        __m256i r[rows + 10];
        for (int k = 0; k < rows + 10; ++k)
            r[k] = load16(t[k] + c);
        for (int j = 0; j < rows; ++j)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j * pitch + c), filter16(r + j));
    };
    // After a first step, the steps start at a 32-byte boundary of the first
    // tap row (and of every row, when the pitch allows): loads that cross a
    // cache line cost twice.
    int c = 0;
    const int to_boundary = static_cast<int>(-(reinterpret_cast<uintptr_t>(t[0]) / 2) & 15);
    if (to_boundary != 0) {
        step(0);
        c = to_boundary;
    }
    for (; c + 16 <= count; c += 16)
        step(c);
    // The last step overlaps the one before: it rewrites some components
    // with the same values and touches nothing past the row.
    if (c < count)
        step(count - 16);
}

static void filter_rows_avx2(int16_t* out, ptrdiff_t pitch, const int16_t* const* tap, int rows,
                             int count)
{
    if (count < 16) {
        // Five pixels or fewer: not worth a packed step.
        for (int j = 0; j < rows; ++j)
            vertical_lpf_row_c(out + j * pitch, tap + j, count);
    } else if (rows == vertical_lpf_group_rows) {
        filter_rows_together<vertical_lpf_group_rows>(out, pitch, tap, count);
    } else {
        for (int j = 0; j < rows; ++j)
            filter_rows_together<1>(out + j * pitch, pitch, tap + j, count);
    }
}

void vertical_lpf_avx2(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w)
{
    vertical_lpf_rows(dst, src, h, w, max_w, filter_rows_avx2);
}
