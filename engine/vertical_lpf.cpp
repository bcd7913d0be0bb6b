#include "engine/vertical_lpf.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

#if NOREL_X86
#include "engine/x86/vertical_lpf.h"
#endif

static inline int32_t saturate16(int32_t v)
{
    return std::min(32767, std::max(-32768, v));
}

// Tap rows of output row n, clamped into [1, h - 2]: rows 0 and h - 1 are
// never read.
static void clamped_tap_rows(const int16_t* tap[11], const int16_t* in, int n, int h,
                             ptrdiff_t pitch)
{
    for (int k = -5; k <= 5; ++k)
        tap[k + 5] = in + std::max(1, std::min(h - 2, n + k)) * pitch;
}

void vertical_lpf_row_c(int16_t* out, const int16_t* const tap[11], int count)
{
    // Weight of the centre row and of the row pair at distance 1 .. 5.
    static const int32_t weight[6] = {27256, 4980, -3993, 2693, -1442, 518};
    for (int c = 0; c < count; ++c) {
        int32_t acc = weight[0] * tap[5][c] + 16384;
        for (int k = 1; k <= 5; ++k)
            acc += weight[k] * saturate16(tap[5 - k][c] + tap[5 + k][c]);
        out[c] = static_cast<int16_t>(saturate16(acc >> 15));
    }
}

void vertical_lpf_c(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w)
{
    if (h <= 2 || w <= 0)
        return;
    const ptrdiff_t pitch = 3 * static_cast<ptrdiff_t>(max_w);
    const auto* in = reinterpret_cast<const int16_t*>(src);
    auto* out = reinterpret_cast<int16_t*>(dst);
    for (int n = 1; n <= h - 2; ++n) {
        const int16_t* tap[11];
        clamped_tap_rows(tap, in, n, h, pitch);
        vertical_lpf_row_c(out + n * pitch, tap, 3 * w);
    }
}

static const int16_t* source_row(const LpfSource* src, int r)
{
    if (r >= src->ring_top && r < src->ring_bottom)
        return src->ring + (r % vertical_lpf_ring_rows) * src->ring_pitch;
    return src->frame + (src->frame_rows > 0 ? r % src->frame_rows : r) * src->pitch;
}

void vertical_lpf_source_rows(int16_t* out, ptrdiff_t out_pitch, const LpfSource* src, int first,
                              int end, int h, int count, VerticalLpfRowsFn* filter_rows)
{
    // Tap m of a group starting at row n is row n - 5 + m, clamped: output
    // row j of the group uses taps j .. j + 10, so one array serves all.
    const int16_t* tap[vertical_lpf_group_rows + 10];
    for (int n = first; n < end;) {
        const int rows = end - n >= vertical_lpf_group_rows ? vertical_lpf_group_rows : 1;
        for (int m = 0; m < rows + 10; ++m)
            tap[m] = source_row(src, std::max(1, std::min(h - 2, n - 5 + m)));
        filter_rows(out + (n - first) * out_pitch, out_pitch, tap, rows, count);
        n += rows;
    }
}

void vertical_lpf_window_rows(PIXEL_YC* dst, const PIXEL_YC* src, int h, const FilterRect* window,
                              VerticalLpfRowsFn* filter_rows)
{
    const int first = std::max(window->top, 1);
    const int end = std::min(window->bottom, h - 1);
    if (window->left >= window->right || first >= end)
        return;
    const ptrdiff_t pitch = 3 * static_cast<ptrdiff_t>(window->pitch);
    const ptrdiff_t left = 3 * static_cast<ptrdiff_t>(window->left);
    const LpfSource source = {reinterpret_cast<const int16_t*>(src) + left, pitch, nullptr, 0, 0, 0, 0};
    vertical_lpf_source_rows(reinterpret_cast<int16_t*>(dst) + left + first * pitch, pitch, &source, first, end, h,
                             3 * (window->right - window->left), filter_rows);
}

void vertical_lpf_rows(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w,
                       VerticalLpfRowsFn* filter_rows)
{
    const FilterRect whole = {0, h, 0, w, max_w};
    vertical_lpf_window_rows(dst, src, h, &whole, filter_rows);
}

static void filter_rows_c(int16_t* out, ptrdiff_t pitch, const int16_t* const* tap, int rows,
                          int count)
{
    for (int j = 0; j < rows; ++j)
        vertical_lpf_row_c(out + j * pitch, tap + j, count);
}

static const KernelVariant<VerticalLpfRowsFn> vertical_lpf_rows_variants[] = {
    {"c", 0, filter_rows_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, vertical_lpf_rows_sse2},
    {"avx2", CPU_FLAG_AVX2, vertical_lpf_rows_avx2},
#endif
};

DispatchedKernel<VerticalLpfRowsFn> vertical_lpf_rows_kernel = {
    vertical_lpf_rows_variants, std::size(vertical_lpf_rows_variants)};

static const KernelVariant<VerticalLpfFn> vertical_lpf_variants[] = {
    {"c", 0, vertical_lpf_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, vertical_lpf_sse2},
    {"avx2", CPU_FLAG_AVX2, vertical_lpf_avx2},
#endif
};

DispatchedKernel<VerticalLpfFn> vertical_lpf_kernel = {vertical_lpf_variants,
                                                       std::size(vertical_lpf_variants)};

void vertical_lpf(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w)
{
    best_variant(vertical_lpf_kernel)(dst, src, h, w, max_w);
}
