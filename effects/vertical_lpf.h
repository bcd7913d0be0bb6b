// "LPF": symmetric 11-tap vertical low-pass filter in Q15 over rows 1 .. h-2
// of the whole picture, every component alike. dst and src must not overlap.
#pragma once

#include <cstddef>
#include <cstdint>

#include "effects/cpu.h"
#include "host/pixel_yc.h"

void vertical_lpf(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w);

typedef void VerticalLpfFn(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w);

// The variants vertical_lpf chooses from: the reference "c" and, on x86,
// "sse2" and "avx2".
extern DispatchedKernel<VerticalLpfFn> vertical_lpf_kernel;

// The plain reference the packed versions must match bit for bit.
void vertical_lpf_c(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w);

// Building blocks of the variants. A row is a flat run of 16-bit
// components; tap[k] points at the start of the source row used at
// distance k - 5 from the output row (tap[5] is the row itself).
void vertical_lpf_row_c(int16_t* out, const int16_t* const tap[11], int count);

// Output rows filtered together in the middle of the picture: their taps
// overlap, so each source row is fetched once for the group rather than
// once per output row.
constexpr int vertical_lpf_group_rows = 4;

// Filters components 0 .. count-1 of `rows` consecutive output rows, the
// first at out and each next one pitch components further; output row j
// uses the tap rows tap[j] .. tap[j + 10].
typedef void VerticalLpfRowsFn(int16_t* out, ptrdiff_t pitch, const int16_t* const* tap, int rows,
                               int count);

// Runs filter_rows over rows 1 .. h-2: one row at a time with clamped tap
// rows near the top and bottom, groups of vertical_lpf_group_rows rows
// with tap rows one pitch apart in between.
void vertical_lpf_rows(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w,
                       VerticalLpfRowsFn* filter_rows);

#if NOREL_X86
void vertical_lpf_sse2(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w);
void vertical_lpf_avx2(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w);
#endif
