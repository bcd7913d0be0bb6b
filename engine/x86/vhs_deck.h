// The x86 variants of the kernels in engine/vhs_deck.h, which its variant
// tables list.
#pragma once

#include "engine/vhs_deck.h"

void vhs_fir_row_sse2(int16_t* out, const int16_t* in, const int16_t* taps, int reach, int count);
void vhs_fir_row_avx2(int16_t* out, const int16_t* in, const int16_t* taps, int reach, int count);
void vhs_symmetric_fir_row_sse2(int16_t* out, const int16_t* in, const int16_t* taps, int reach,
                                int count);
void vhs_symmetric_fir_row_avx2(int16_t* out, const int16_t* in, const int16_t* taps, int reach,
                                int count);
void vhs_noise_row_sse2(int16_t* luma, int16_t* u, int16_t* v, uint32_t key, int32_t first, int count);
void vhs_noise_row_avx2(int16_t* luma, int16_t* u, int16_t* v, uint32_t key, int32_t first, int count);
void vhs_add_noise_row_sse2(int16_t* y, const int16_t* w, int count, int32_t gain, int32_t rise);
void vhs_add_noise_row_avx2(int16_t* y, const int16_t* w, int count, int32_t gain, int32_t rise);
void vhs_shift_row_sse2(int16_t* out, const int16_t* in, int count, int32_t fraction);
void vhs_shift_row_avx2(int16_t* out, const int16_t* in, int count, int32_t fraction);
void vhs_assemble_row_sse2(int16_t* out, const int16_t* y, const int16_t* u, const int16_t* v,
                           const int16_t* cos_weights, const int16_t* sin_weights,
                           const int16_t matrix[4], int count);
void vhs_assemble_row_avx2(int16_t* out, const int16_t* y, const int16_t* u, const int16_t* v,
                           const int16_t* cos_weights, const int16_t* sin_weights,
                           const int16_t matrix[4], int count);
void vhs_decimate_row_sse2(int16_t* out, const int16_t* in, int count);
void vhs_interpolate_row_sse2(int16_t* out, const int16_t* in, int count);
int32_t vhs_clip_row_sse2(int16_t* r, const int16_t* y, const int16_t* low, int32_t boost,
                        int32_t clip, int count);
void vhs_mix_row_sse2(int16_t* y, const int16_t* r, const int16_t* l, int32_t a, int32_t b, int count);
void vhs_decimate_row_avx2(int16_t* out, const int16_t* in, int count);
void vhs_interpolate_row_avx2(int16_t* out, const int16_t* in, int count);
int32_t vhs_clip_row_avx2(int16_t* r, const int16_t* y, const int16_t* low, int32_t boost,
                        int32_t clip, int count);
void vhs_mix_row_avx2(int16_t* y, const int16_t* r, const int16_t* l, int32_t a, int32_t b, int count);
void vhs_store_luma_row_sse2(PIXEL_YC* pixels, const int16_t* y, int count);
void vhs_store_luma_row_avx2(PIXEL_YC* pixels, const int16_t* y, int count);
