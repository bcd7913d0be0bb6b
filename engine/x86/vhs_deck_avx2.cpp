// The deck's row kernels sixteen values at a time in AVX2; rows shorter than that go to the SSE2 variants.
#include "engine/x86/vhs_deck.h"
#include "engine/x86/vhs_deck_packed.h"

using Ops = Avx2Ops;

void vhs_fir_row_avx2(int16_t* out, const int16_t* in, const int16_t* taps, int reach, int count)
{
    if (!fir_row_any_packed<Ops>(out, in, taps, reach, count))
        vhs_fir_row_sse2(out, in, taps, reach, count);
}

void vhs_symmetric_fir_row_avx2(int16_t* out, const int16_t* in, const int16_t* taps, int reach,
                                int count)
{
    if (!symmetric_fir_row_packed<Ops>(out, in, taps, reach, count))
        vhs_symmetric_fir_row_sse2(out, in, taps, reach, count);
}

void vhs_noise_row_avx2(int16_t* luma, int16_t* u, int16_t* v, uint32_t key, int32_t first, int count)
{
    if (!noise_row_packed<Ops>(luma, u, v, key, first, count))
        vhs_noise_row_sse2(luma, u, v, key, first, count);
}

void vhs_add_noise_row_avx2(int16_t* y, const int16_t* w, int count, int32_t gain, int32_t rise)
{
    if (!add_noise_row_packed<Ops>(y, w, count, gain, rise))
        vhs_add_noise_row_sse2(y, w, count, gain, rise);
}

void vhs_shift_row_avx2(int16_t* out, const int16_t* in, int count, int32_t fraction)
{
    if (!shift_row_packed<Ops>(out, in, count, fraction))
        vhs_shift_row_sse2(out, in, count, fraction);
}

void vhs_assemble_row_avx2(int16_t* out, const int16_t* y, const int16_t* u, const int16_t* v,
                          const int16_t* cos_weights, const int16_t* sin_weights,
                          const int16_t matrix[4], int count)
{
    if (!assemble_row_any_packed<Ops>(out, y, u, v, cos_weights, sin_weights, matrix, count))
        vhs_assemble_row_sse2(out, y, u, v, cos_weights, sin_weights, matrix, count);
}

void vhs_decimate_row_avx2(int16_t* out, const int16_t* in, int count)
{
    if (!decimate_row_packed<Ops>(out, in, count))
        vhs_decimate_row_sse2(out, in, count);
}

void vhs_interpolate_row_avx2(int16_t* out, const int16_t* in, int count)
{
    if (!interpolate_row_packed<Ops>(out, in, count))
        vhs_interpolate_row_sse2(out, in, count);
}

int32_t vhs_clip_row_avx2(int16_t* r, const int16_t* y, const int16_t* low, int32_t boost,
                     int32_t clip, int count)
{
    int32_t least = 0;
    if (!clip_row_packed<Ops>(&least, r, y, low, boost, clip, count))
        return vhs_clip_row_sse2(r, y, low, boost, clip, count);
    return least;
}

void vhs_mix_row_avx2(int16_t* y, const int16_t* r, const int16_t* l, int32_t a, int32_t b, int count)
{
    if (!mix_row_packed<Ops>(y, r, l, a, b, count))
        vhs_mix_row_sse2(y, r, l, a, b, count);
}

void vhs_store_luma_row_avx2(PIXEL_YC* pixels, const int16_t* y, int count)
{
    if (!store_luma_row_packed<Avx2DecoderOps>(pixels, y, count))
        vhs_store_luma_row_sse2(pixels, y, count);
}
