#include "effects/vertical_lpf.h"

#include <algorithm>
#include <cstdint>

static inline int32_t saturate16(int32_t v)
{
    return std::min(32767, std::max(-32768, v));
}

void vertical_lpf_c(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w)
{
    if (h <= 2 || w <= 0)
        return;
    // Weight of the centre row and of the row pair at distance 1 .. 5.
    static const int32_t weight[6] = {27256, 4980, -3993, 2693, -1442, 518};
    const long long pitch = 3LL * max_w;
    const int components = 3 * w;
    const auto* in = reinterpret_cast<const int16_t*>(src);
    auto* out = reinterpret_cast<int16_t*>(dst);
    for (int n = 1; n <= h - 2; ++n) {
        // Tap rows clamped into [1, h - 2]: rows 0 and h - 1 are never read.
        const int16_t* tap[11];
        for (int k = -5; k <= 5; ++k)
            tap[k + 5] = in + std::max(1, std::min(h - 2, n + k)) * pitch;
        int16_t* row = out + n * pitch;
        for (int c = 0; c < components; ++c) {
            int32_t acc = weight[0] * tap[5][c] + 16384;
            for (int k = 1; k <= 5; ++k)
                acc += weight[k] * saturate16(tap[5 - k][c] + tap[5 + k][c]);
            row[c] = static_cast<int16_t>(saturate16(acc >> 15));
        }
    }
}

void vertical_lpf(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w)
{
    vertical_lpf_c(dst, src, h, w, max_w);
}
