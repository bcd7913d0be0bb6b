// The x86 variants of the kernels in engine/composite_chroma.h, which its variant
// tables list.
#pragma once

#include "engine/composite_chroma.h"

void encode_pal_row_sse2(PIXEL_YC* pixels, const int16_t* cos_weights, const int16_t* sin_weights,
                         int count, const int16_t coefficients[4]);
void encode_pal_row_avx2(PIXEL_YC* pixels, const int16_t* cos_weights, const int16_t* sin_weights,
                         int count, const int16_t coefficients[4]);
void encode_composite_row_sse2(PIXEL_YC* pixels, const int16_t* cos_weights,
                               const int16_t* sin_weights, int count, int32_t sign);
void encode_composite_row_avx2(PIXEL_YC* pixels, const int16_t* cos_weights,
                               const int16_t* sin_weights, int count, int32_t sign);
