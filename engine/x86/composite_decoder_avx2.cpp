// The decoder's row kernels sixteen values at a time in AVX2; rows shorter
// than that go to the SSE2 variants, and what the packed code does not cover
// to the references.
#include "engine/x86/composite_decoder.h"
#include "engine/x86/composite_decoder_packed.h"

using Ops = Avx2DecoderOps;

void decoder_fir_row_avx2(int16_t* out, const int16_t* in, const int16_t* taps, int reach,
                          int count)
{
    if (!fir_row_packed<Ops>(out, in, taps, reach, count))
        decoder_fir_row_sse2(out, in, taps, reach, count);
}

void demodulate_row_avx2(int16_t* u, int16_t* v, const int16_t* chroma,
                         const int16_t* cos_weights, const int16_t* sin_weights, int count,
                         int32_t sign)
{
    if (!demodulate_row_packed<Ops>(u, v, chroma, cos_weights, sin_weights, count, sign))
        demodulate_row_sse2(u, v, chroma, cos_weights, sin_weights, count, sign);
}

void assemble_row_avx2(PIXEL_YC* out, const int16_t* composite, const int16_t* chroma,
                       const int16_t* u, const int16_t* v, const int16_t matrix[4], int count)
{
    if (!assemble_row_packed<Ops>(out, composite, chroma, u, v, matrix, count))
        assemble_row_sse2(out, composite, chroma, u, v, matrix, count);
}

void line_comb_row_avx2(int16_t* out, const int16_t* row, const int16_t* above,
                        const int16_t* below, int count)
{
    if (!line_comb_row_packed<Ops>(out, row, above, below, count))
        line_comb_row_sse2(out, row, above, below, count);
}

void frame_difference_row_avx2(int16_t* out, const int16_t* row, const int16_t* partner, int count)
{
    if (!frame_difference_row_packed<Ops>(out, row, partner, count))
        frame_difference_row_sse2(out, row, partner, count);
}

void frame_comb_row_avx2(int16_t* chroma, const int16_t* difference,
                         const int16_t* motion_difference, int count)
{
    if (!frame_comb_row_packed<Ops>(chroma, difference, motion_difference, count))
        frame_comb_row_sse2(chroma, difference, motion_difference, count);
}

void extract_luma_row_avx2(int16_t* out, const PIXEL_YC* pixels, int count)
{
    if (!extract_luma_row_packed<Ops>(out, pixels, count))
        extract_luma_row_sse2(out, pixels, count);
}

void assemble_delayed_row_avx2(PIXEL_YC* out, PIXEL_YC* previous, const int16_t* composite,
                              const int16_t* chroma, const int16_t* u, const int16_t* v,
                              const int16_t matrix[4], int count)
{
    if (!assemble_delayed_row_packed<Ops>(out, previous, composite, chroma, u, v, matrix, count))
        assemble_delayed_row_sse2(out, previous, composite, chroma, u, v, matrix, count);
}

void bandpass_demodulate_row_avx2(int16_t* chroma, int16_t* u, int16_t* v, const int16_t* in,
                                 const int16_t* taps, const int16_t* cos_weights,
                                 const int16_t* sin_weights, int count, int32_t sign)
{
    if (!bandpass_demodulate_row_packed<Ops>(chroma, u, v, in, taps, cos_weights, sin_weights,
                                             count, sign))
        bandpass_demodulate_row_sse2(chroma, u, v, in, taps, cos_weights, sin_weights, count, sign);
}
