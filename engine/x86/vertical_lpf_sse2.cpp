// The low-pass filter eight components at a time in SSE2.
#include "engine/x86/vertical_lpf.h"
#include "engine/x86/vertical_lpf_packed.h"

void vertical_lpf_rows_sse2(int16_t* out, ptrdiff_t pitch, const int16_t* const* tap, int rows,
                            int count)
{
    filter_rows_packed<Sse2Ops>(out, pitch, tap, rows, count);
}

void vertical_lpf_sse2(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w)
{
    vertical_lpf_rows(dst, src, h, w, max_w, vertical_lpf_rows_sse2);
}
