// The x86 variants of the kernels in engine/rgba_yc.h, which its variant
// tables list.
#pragma once

#include "engine/rgba_yc.h"

void rgba_to_yc_row_sse2(PIXEL_YC* dst, const RgbaPixel* src, int count);
void rgba_to_yc_row_avx2(PIXEL_YC* dst, const RgbaPixel* src, int count);
void yc_to_rgba_row_sse2(RgbaPixel* dst, const PIXEL_YC* src, const RgbaPixel* alpha_from,
                         int count);
void yc_to_rgba_row_avx2(RgbaPixel* dst, const PIXEL_YC* src, const RgbaPixel* alpha_from,
                         int count);
