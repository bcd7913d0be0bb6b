#include "effects/field_shift.h"

#include <cstring>
#include <iterator>

static void copy_row(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect, int dst_row,
                     int src_row)
{
    std::memcpy(rect_row(dst, rect, dst_row), rect_row(src, rect, src_row),
                static_cast<size_t>(rect->right - rect->left) * sizeof(PIXEL_YC));
}

// Rows of the moved field have parity 0 when moved_field is non-zero.
static bool row_stays(int row, int moved_field)
{
    return (row & 1) == (moved_field ? 1 : 0);
}

// Source rows are computed wide so that no shift value can overflow them.
static bool row_inside(const FilterRect* rect, long long row)
{
    return row >= rect->top && row < rect->bottom;
}

void average_rows_c(int16_t* out, const int16_t* a, const int16_t* b, int count)
{
    // (a + b + 1) / 2 with C's division truncating toward zero.
    for (int c = 0; c < count; ++c)
        out[c] = static_cast<int16_t>((a[c] + b[c] + 1) / 2);
}

static const KernelVariant<AverageRowsFn> average_rows_variants[] = {
    {"c", 0, average_rows_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, average_rows_sse2},
    {"avx2", CPU_FLAG_AVX2, average_rows_avx2},
#endif
};

DispatchedKernel<AverageRowsFn> average_rows_kernel = {average_rows_variants,
                                                       std::size(average_rows_variants)};

static int16_t* components(PIXEL_YC* pixels)
{
    return reinterpret_cast<int16_t*>(pixels);
}

static const int16_t* components(const PIXEL_YC* pixels)
{
    return reinterpret_cast<const int16_t*>(pixels);
}

void fill_from_other_field(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect, int i)
{
    // A one-row rectangle has no neighbour rows of its own; rather than read
    // outside it (or before the frame), the row is left as it is.
    if (rect->bottom - rect->top < 2) {
        copy_row(dst, src, rect, i, i);
        return;
    }
    const int a = i - 1 >= rect->top ? i - 1 : i + 1;
    const int b = i + 1 < rect->bottom ? i + 1 : i - 1;
    dispatched(&average_rows_kernel)(components(rect_row(dst, rect, i)),
                                     components(rect_row(src, rect, a)),
                                     components(rect_row(src, rect, b)),
                                     3 * (rect->right - rect->left));
}

void shift_field_whole(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect, int32_t v,
                       int moved_field)
{
    if (rect_is_empty(rect))
        return;
    const int direction = moved_field ? 1 : -1;
    const long long offset = static_cast<long long>(direction) * 2 * (v / 16);
    for (int i = rect->top; i < rect->bottom; ++i) {
        if (row_stays(i, moved_field)) {
            copy_row(dst, src, rect, i, i);
            continue;
        }
        const long long source = i + offset;
        if (row_inside(rect, source))
            copy_row(dst, src, rect, i, static_cast<int>(source));
        else
            fill_from_other_field(dst, src, rect, i);
    }
}

void interpolate_row_c(int16_t* out, const int16_t* const tap[4], const int32_t weights[4],
                       int count)
{
    for (int c = 0; c < count; ++c) {
        const int32_t acc = tap[0][c] * weights[0] + tap[1][c] * weights[1] +
                            tap[2][c] * weights[2] + tap[3][c] * weights[3] + 0x4000;
        out[c] = static_cast<int16_t>(acc >> 15);
    }
}

static const KernelVariant<InterpolateRowFn> interpolate_row_variants[] = {
    {"c", 0, interpolate_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, interpolate_row_sse2},
    {"avx2", CPU_FLAG_AVX2, interpolate_row_avx2},
#endif
};

DispatchedKernel<InterpolateRowFn> interpolate_row_kernel = {interpolate_row_variants,
                                                             std::size(interpolate_row_variants)};

// The packed variants multiply 16-bit weights; a kernel from elsewhere that
// does not fit is left to the reference.
static InterpolateRowFn* interpolation_for(const int32_t weights[4])
{
    for (int k = 0; k < 4; ++k) {
        if (weights[k] < -32767 || weights[k] > 32767)
            return interpolate_row_c;
    }
    return dispatched(&interpolate_row_kernel);
}

void shift_field_fraction(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect, int32_t v,
                          int moved_field, const int32_t kernel[4])
{
    if (rect_is_empty(rect))
        return;
    InterpolateRowFn* interpolate_row = interpolation_for(kernel);
    const int direction = moved_field ? 1 : -1;
    const long long centre_offset = static_cast<long long>(direction) * 2 * ((v >> 4) + 1);
    const int count = 3 * (rect->right - rect->left);
    for (int i = rect->top; i < rect->bottom; ++i) {
        if (row_stays(i, moved_field)) {
            copy_row(dst, src, rect, i, i);
            continue;
        }
        const long long centre = i + centre_offset;
        if (!row_inside(rect, centre)) {
            fill_from_other_field(dst, src, rect, i);
            continue;
        }
        // Taps one field line apart; one outside the rectangle is replaced by
        // the tap one field line nearer the centre.
        const int m = static_cast<int>(centre);
        const int r1 = m;
        const int r0 = row_inside(rect, m - 2 * direction) ? m - 2 * direction : m;
        const int r2 = row_inside(rect, m + 2 * direction) ? m + 2 * direction : m;
        const int r3 = row_inside(rect, m + 4 * direction) ? m + 4 * direction : r2;
        const int16_t* const tap[4] = {components(rect_row(src, rect, r0)),
                                       components(rect_row(src, rect, r1)),
                                       components(rect_row(src, rect, r2)),
                                       components(rect_row(src, rect, r3))};
        interpolate_row(components(rect_row(dst, rect, i)), tap, kernel, count);
    }
}
