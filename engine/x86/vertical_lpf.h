// The x86 variants of the kernels in engine/vertical_lpf.h, which its variant
// tables list.
#pragma once

#include "engine/vertical_lpf.h"

void vertical_lpf_sse2(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w);
void vertical_lpf_avx2(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w);
void vertical_lpf_rows_sse2(int16_t* out, ptrdiff_t pitch, const int16_t* const* tap, int rows,
                            int count);
void vertical_lpf_rows_avx2(int16_t* out, ptrdiff_t pitch, const int16_t* const* tap, int rows,
                            int count);
