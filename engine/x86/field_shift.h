// The x86 variants of the kernels in engine/field_shift.h, which its variant
// tables list.
#pragma once

#include "engine/field_shift.h"

void interpolate_row_sse2(int16_t* out, const int16_t* const tap[4], const int32_t weights[4],
                          int count);
void interpolate_row_avx2(int16_t* out, const int16_t* const tap[4], const int32_t weights[4],
                          int count);
void average_rows_sse2(int16_t* out, const int16_t* a, const int16_t* b, int count);
void average_rows_avx2(int16_t* out, const int16_t* a, const int16_t* b, int count);
