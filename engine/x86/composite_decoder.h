// The x86 variants of the kernels in engine/composite_decoder.h, which its
// variant tables list.
#pragma once

#include "engine/composite_decoder.h"

void decoder_fir_row_sse2(int16_t* out, const int16_t* in, const int16_t* taps, int reach,
                          int count);
void decoder_fir_row_avx2(int16_t* out, const int16_t* in, const int16_t* taps, int reach,
                          int count);
void demodulate_row_sse2(int16_t* u, int16_t* v, const int16_t* chroma, const int16_t* cos_weights,
                         const int16_t* sin_weights, int count, int32_t sign);
void demodulate_row_avx2(int16_t* u, int16_t* v, const int16_t* chroma, const int16_t* cos_weights,
                         const int16_t* sin_weights, int count, int32_t sign);
void assemble_row_sse2(PIXEL_YC* out, const int16_t* composite, const int16_t* chroma,
                       const int16_t* u, const int16_t* v, const int16_t matrix[4], int count);
void assemble_row_avx2(PIXEL_YC* out, const int16_t* composite, const int16_t* chroma,
                       const int16_t* u, const int16_t* v, const int16_t matrix[4], int count);
void line_comb_row_sse2(int16_t* out, const int16_t* row, const int16_t* above,
                        const int16_t* below, int count);
void line_comb_row_avx2(int16_t* out, const int16_t* row, const int16_t* above,
                        const int16_t* below, int count);
void frame_difference_row_sse2(int16_t* out, const int16_t* row, const int16_t* partner, int count);
void frame_difference_row_avx2(int16_t* out, const int16_t* row, const int16_t* partner, int count);
void frame_comb_row_sse2(int16_t* chroma, const int16_t* difference,
                         const int16_t* motion_difference, int count);
void frame_comb_row_avx2(int16_t* chroma, const int16_t* difference,
                         const int16_t* motion_difference, int count);
void extract_luma_row_sse2(int16_t* out, const PIXEL_YC* pixels, int count);
void extract_luma_row_avx2(int16_t* out, const PIXEL_YC* pixels, int count);
void bandpass_demodulate_row_sse2(int16_t* chroma, int16_t* u, int16_t* v, const int16_t* in,
                                  const int16_t* taps, const int16_t* cos_weights,
                                  const int16_t* sin_weights, int count, int32_t sign);
void bandpass_demodulate_row_avx2(int16_t* chroma, int16_t* u, int16_t* v, const int16_t* in,
                                  const int16_t* taps, const int16_t* cos_weights,
                                  const int16_t* sin_weights, int count, int32_t sign);
void assemble_delayed_row_sse2(PIXEL_YC* out, PIXEL_YC* previous, const int16_t* composite,
                               const int16_t* chroma, const int16_t* u, const int16_t* v,
                               const int16_t matrix[4], int count);
void assemble_delayed_row_avx2(PIXEL_YC* out, PIXEL_YC* previous, const int16_t* composite,
                               const int16_t* chroma, const int16_t* u, const int16_t* v,
                               const int16_t matrix[4], int count);
