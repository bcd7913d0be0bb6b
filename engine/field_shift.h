// "移動量": moves one field against the other by v/16 field lines inside the
// rectangle, writing dst from src (distinct buffers).
#pragma once

#include <cstdint>

#include "engine/cpu.h"
#include "engine/filter_rect.h"

// The row operations the stage dispatches. A row is a flat run of `count`
// 16-bit components (3 per pixel); out never overlaps the inputs.

// out[c] = low 16 bits of (tap[0][c] * weights[0] + ... + tap[3][c] *
// weights[3] + 0x4000) >> 15. The packed variants need weights that fit in
// -32767 .. 32767, as every ShiftKernel's do.
typedef void InterpolateRowFn(int16_t* out, const int16_t* const tap[4], const int32_t weights[4],
                              int count);

// out[c] = (a[c] + b[c] + 1) / 2, the division truncating toward zero.
typedef void AverageRowsFn(int16_t* out, const int16_t* a, const int16_t* b, int count);

// v a multiple of 16 (0 included): moved rows are copies of other rows of
// the same field.
void shift_field_whole(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect, int32_t v,
                       int moved_field);

// Any other v: moved rows are interpolated from four rows of the same field
// with kernel, the weights build_shift_kernel gives for v.
void shift_field_fraction(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect, int32_t v,
                          int moved_field, const int32_t kernel[4]);

// Rebuilds moved row i of dst from its neighbours of the field that stays.
// This and the two above choose their kernels on every call.
void fill_from_other_field(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect, int i);

// One frame's field shift, for walking the rectangle row by row: v, the
// moved field, the kernel of the fractional path (null: whole lines) and
// the row kernels' variants.
struct FieldShift {
    int32_t v;
    int moved_field;
    const int32_t* kernel;
    InterpolateRowFn* interpolate_row;
    AverageRowsFn* average_rows;
};

// Row i of the shifted rectangle (top <= i < bottom), columns left ..
// right - 1, into out (the pixel of column left), exactly as
// shift_field_whole or shift_field_fraction writes it. Source row r is row
// r % src_cycle of src, so that a caller can keep only the rows in use.
// Reads only rows inside the rectangle that lie within shift_field_reach
// rows of i.
void shift_field_row(PIXEL_YC* out, const PIXEL_YC* src, int src_cycle, const FilterRect* rect,
                     const FieldShift* shift, int i);
int shift_field_reach(const FieldShift* shift);

// The plain references the packed variants must match bit for bit.
void interpolate_row_c(int16_t* out, const int16_t* const tap[4], const int32_t weights[4],
                       int count);
void average_rows_c(int16_t* out, const int16_t* a, const int16_t* b, int count);

// The references "c" and, on x86, "sse2" and "avx2".
extern DispatchedKernel<InterpolateRowFn> interpolate_row_kernel;
extern DispatchedKernel<AverageRowsFn> average_rows_kernel;

