// The x86 variants of the kernels in engine/yuv_yc.h, which its variant
// tables list.
#pragma once

#include "engine/yuv_yc.h"

void planar_to_yc_row_sse2(PIXEL_YC* out, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int count,
                           int shift_x, const YuvRowMaps* maps);
void yc_to_planar_rows_sse2(uint8_t* y0, uint8_t* y1, uint8_t* cb, uint8_t* cr, const PIXEL_YC* in,
                            ptrdiff_t pitch, int rows, int count, int shift_x, const YuvRowMaps* maps);
void planar_to_yc_row_avx2(PIXEL_YC* out, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int count,
                           int shift_x, const YuvRowMaps* maps);
void packed_to_yc_row_avx2(PIXEL_YC* out, const uint8_t* in, int count, int luma_first,
                           const YuvRowMaps* maps);
void yc_to_planar_rows_avx2(uint8_t* y0, uint8_t* y1, uint8_t* cb, uint8_t* cr, const PIXEL_YC* in,
                            ptrdiff_t pitch, int rows, int count, int shift_x, const YuvRowMaps* maps);
void yc_to_packed_row_avx2(uint8_t* out, const PIXEL_YC* in, int count, int luma_first,
                           const YuvRowMaps* maps);
