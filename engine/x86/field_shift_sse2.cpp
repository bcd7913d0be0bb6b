// The field shift's row operations eight components at a time in SSE2.
#include "engine/x86/field_shift.h"
#include "engine/x86/field_shift_packed.h"

void interpolate_row_sse2(int16_t* out, const int16_t* const tap[4], const int32_t weights[4],
                          int count)
{
    interpolate_row_packed<Sse2Ops>(out, tap, weights, count, interpolate_row_c);
}

void average_rows_sse2(int16_t* out, const int16_t* a, const int16_t* b, int count)
{
    average_rows_packed<Sse2Ops>(out, a, b, count, average_rows_c);
}
