// "LPF": symmetric 11-tap vertical low-pass filter in Q15 over rows 1 .. h-2
// of the whole picture, every component alike. dst and src must not overlap.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/cpu.h"
#include "engine/filter_rect.h"
#include "engine/pixel_yc.h"

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

// Output rows filtered together: their taps overlap, so each source row is
// fetched once for the group rather than once per output row.
constexpr int vertical_lpf_group_rows = 4;

// Filters components 0 .. count-1 of `rows` consecutive output rows, the
// first at out and each next one pitch components further; output row j
// uses the tap rows tap[j] .. tap[j + 10].
typedef void VerticalLpfRowsFn(int16_t* out, ptrdiff_t pitch, const int16_t* const* tap, int rows,
                               int count);

// The row-group variants the effect chain chooses from: "c" and, on x86,
// "sse2" and "avx2".
extern DispatchedKernel<VerticalLpfRowsFn> vertical_lpf_rows_kernel;

// Where the filter finds source row r: at frame + r * pitch (with
// frame_rows > 0, at frame + (r % frame_rows) * pitch), except rows
// ring_top .. ring_bottom - 1, which a caller producing them row by row
// keeps in a ring, row r at ring + (r % vertical_lpf_ring_rows) *
// ring_pitch. Pointers are at the first component filtered.
struct LpfSource {
    const int16_t* frame;
    ptrdiff_t pitch;
    const int16_t* ring;
    ptrdiff_t ring_pitch;
    int ring_top;
    int ring_bottom;
    int frame_rows;
};

// Enough ring rows for the taps of one group of output rows.
constexpr int vertical_lpf_ring_rows = 16;
static_assert(vertical_lpf_ring_rows >= vertical_lpf_group_rows + 10, "a group's taps fit the ring");

// Output rows first .. end - 1 (within 1 .. h - 2), components 0 .. count-1,
// row n at out + (n - first) * out_pitch, in groups of vertical_lpf_group_rows.
void vertical_lpf_source_rows(int16_t* out, ptrdiff_t out_pitch, const LpfSource* src, int first,
                              int end, int h, int count, VerticalLpfRowsFn* filter_rows);

// vertical_lpf over the whole picture with the given row-group variant.
void vertical_lpf_rows(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w,
                       VerticalLpfRowsFn* filter_rows);

// The same filter over the window's pixels alone, with the given row-group
// variant: destination rows max(top, 1) .. min(bottom, h - 1) - 1, columns
// left .. right - 1, each exactly as vertical_lpf computes it from the whole
// picture (taps clamped to rows 1 .. h - 2, read from outside the window
// where they fall there). Nothing else of dst is written; src is read only
// in the window's columns.
void vertical_lpf_window_rows(PIXEL_YC* dst, const PIXEL_YC* src, int h, const FilterRect* window,
                              VerticalLpfRowsFn* filter_rows);

