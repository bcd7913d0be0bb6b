// RGBA <-> YC eight pixels at a time in SSE2.
#include "engine/x86/rgba_yc.h"
#include "engine/x86/rgba_yc_packed.h"

void rgba_to_yc_row_sse2(PIXEL_YC* dst, const RgbaPixel* src, int count)
{
    const int x = rgba_to_yc_blocks<Sse2RgbaOps>(dst, src, count);
    rgba_to_yc_row_c(dst + x, src + x, count - x);
}

void yc_to_rgba_row_sse2(RgbaPixel* dst, const PIXEL_YC* src, const RgbaPixel* alpha_from,
                         int count)
{
    const int x = yc_to_rgba_blocks<Sse2RgbaOps>(dst, src, alpha_from, count);
    yc_to_rgba_row_c(dst + x, src + x, alpha_from + x, count - x);
}
