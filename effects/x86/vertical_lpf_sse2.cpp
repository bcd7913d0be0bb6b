// The low-pass filter eight components at a time in SSE2.
#include <emmintrin.h>

#include <cstdint>

#include "effects/vertical_lpf.h"

static inline __m128i load8(const int16_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Weights a and b alternating, for the multiply-add of pairs (A, B).
static inline __m128i weight_pair(short a, short b)
{
    return _mm_unpacklo_epi16(_mm_set1_epi16(a), _mm_set1_epi16(b));
}

// Eight components of one output row from the same components of its
// eleven tap rows r[0] .. r[10]. Pair sums saturate, as in the reference;
// each multiply-add takes two weights at once, paired as (S1, x0),
// (S3, S2), (S4, S5), and yields exact 32-bit sums.
static inline __m128i filter8(const __m128i* r)
{
    const __m128i x0 = r[5];
    const __m128i s1 = _mm_adds_epi16(r[4], r[6]);
    const __m128i s2 = _mm_adds_epi16(r[3], r[7]);
    const __m128i s3 = _mm_adds_epi16(r[2], r[8]);
    const __m128i s4 = _mm_adds_epi16(r[1], r[9]);
    const __m128i s5 = _mm_adds_epi16(r[0], r[10]);
    const __m128i w_s1_x0 = weight_pair(4980, 27256);
    const __m128i w_s3_s2 = weight_pair(2693, -3993);
    const __m128i w_s4_s5 = weight_pair(-1442, 518);
    const __m128i round = _mm_set1_epi32(16384);

    __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(s1, x0), w_s1_x0), round);
    lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(s3, s2), w_s3_s2));
    lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(s4, s5), w_s4_s5));
    __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(s1, x0), w_s1_x0), round);
    hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(s3, s2), w_s3_s2));
    hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(s4, s5), w_s4_s5));
    return _mm_packs_epi32(_mm_srai_epi32(lo, 15), _mm_srai_epi32(hi, 15));
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
        __m128i r[rows + 10];
        for (int k = 0; k < rows + 10; ++k)
            r[k] = load8(t[k] + c);
        for (int j = 0; j < rows; ++j)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j * pitch + c), filter8(r + j));
    };
    // After a first step, the steps start at a 16-byte boundary of the first
    // tap row (and of every row, when the pitch allows): loads that cross a
    // cache line cost twice.
    int c = 0;
    const int to_boundary = static_cast<int>(-(reinterpret_cast<uintptr_t>(t[0]) / 2) & 7);
    if (to_boundary != 0) {
        step(0);
        c = to_boundary;
    }
    for (; c + 8 <= count; c += 8)
        step(c);
    // The last step overlaps the one before: it rewrites some components
    // with the same values and touches nothing past the row.
    if (c < count)
        step(count - 8);
}

static void filter_rows_sse2(int16_t* out, ptrdiff_t pitch, const int16_t* const* tap, int rows,
                             int count)
{
    if (count < 8) {
        // Two pixels or fewer: not worth a packed step.
        for (int j = 0; j < rows; ++j)
            vertical_lpf_row_c(out + j * pitch, tap + j, count);
    } else if (rows == vertical_lpf_group_rows) {
        filter_rows_together<vertical_lpf_group_rows>(out, pitch, tap, count);
    } else {
        for (int j = 0; j < rows; ++j)
            filter_rows_together<1>(out + j * pitch, pitch, tap + j, count);
    }
}

void vertical_lpf_sse2(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w)
{
    vertical_lpf_rows(dst, src, h, w, max_w, filter_rows_sse2);
}
