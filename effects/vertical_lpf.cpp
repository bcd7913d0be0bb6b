#include "effects/vertical_lpf.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

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

void vertical_lpf_rows(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w,
                       VerticalLpfRowsFn* filter_rows)
{
    if (h <= 2 || w <= 0)
        return;
    const int group = vertical_lpf_group_rows;
    const ptrdiff_t pitch = 3 * static_cast<ptrdiff_t>(max_w);
    const auto* in = reinterpret_cast<const int16_t*>(src);
    auto* out = reinterpret_cast<int16_t*>(dst);
    const int16_t* tap[vertical_lpf_group_rows + 10];
    int n = 1;
    while (n <= h - 2) {
        if (n >= 6 && n + group + 4 <= h - 2) {
            // Every tap of the group lies inside [1, h - 2]: rows n - 5 ..
            // n + group + 4, one pitch apart.
            const int16_t* row = in + (n - 5) * pitch;
            for (const int16_t*& t : tap) {
                t = row;
                row += pitch;
            }
            filter_rows(out + n * pitch, pitch, tap, group, 3 * w);
            n += group;
        } else {
            clamped_tap_rows(tap, in, n, h, pitch);
            filter_rows(out + n * pitch, pitch, tap, 1, 3 * w);
            ++n;
        }
    }
}

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
    dispatched(&vertical_lpf_kernel)(dst, src, h, w, max_w);
}
