// RGBA <-> YC sixteen pixels at a time in AVX2; what is left of a row goes
// to the SSE2 variants.
#include "engine/x86/rgba_yc.h"
#include "engine/x86/rgba_yc_packed.h"

void rgba_to_yc_row_avx2(PIXEL_YC* dst, const RgbaPixel* src, int count)
{
    const int x = rgba_to_yc_blocks<Avx2RgbaOps>(dst, src, count);
    rgba_to_yc_row_sse2(dst + x, src + x, count - x);
}

void yc_to_rgba_row_avx2(RgbaPixel* dst, const PIXEL_YC* src, const RgbaPixel* alpha_from,
                         int count)
{
    const int x = yc_to_rgba_blocks<Avx2RgbaOps>(dst, src, alpha_from, count);
    yc_to_rgba_row_sse2(dst + x, src + x, alpha_from + x, count - x);
}
