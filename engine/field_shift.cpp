#include "engine/field_shift.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iterator>

#if NOREL_X86
#include "engine/x86/field_shift.h"
#endif

// The rows of a shift's source, row r stored as row r % cycle.
struct SourceRows {
    const PIXEL_YC* frame;
    int cycle;
    const FilterRect* rect;
};

static const PIXEL_YC* source_row(const SourceRows* src, int r)
{
    return rect_row(src->frame, src->rect, r % src->cycle);
}

static void copy_row(PIXEL_YC* out, const SourceRows* src, int src_row)
{
    std::memcpy(out, source_row(src, src_row),
                static_cast<size_t>(src->rect->right - src->rect->left) * sizeof(PIXEL_YC));
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

static void fill_row(PIXEL_YC* out, const SourceRows* src, int i, AverageRowsFn* average_rows)
{
    const FilterRect* rect = src->rect;
    // A one-row rectangle has no neighbour rows of its own; rather than read
    // outside it (or before the frame), the row is left as it is.
    if (rect->bottom - rect->top < 2) {
        copy_row(out, src, i);
        return;
    }
    const int a = i - 1 >= rect->top ? i - 1 : i + 1;
    const int b = i + 1 < rect->bottom ? i + 1 : i - 1;
    average_rows(components(out), components(source_row(src, a)), components(source_row(src, b)),
                 3 * (rect->right - rect->left));
}

void fill_from_other_field(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect, int i)
{
    const SourceRows rows = {src, INT_MAX, rect};
    fill_row(rect_row(dst, rect, i), &rows, i, best_variant(average_rows_kernel));
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
static InterpolateRowFn* interpolation_for(const int32_t weights[4], InterpolateRowFn* packed)
{
    for (int k = 0; k < 4; ++k) {
        if (weights[k] < -32767 || weights[k] > 32767)
            return interpolate_row_c;
    }
    return packed;
}

static int direction(int moved_field)
{
    return moved_field ? 1 : -1;
}

static void shift_row_whole(PIXEL_YC* out, const SourceRows* src, const FieldShift* shift, int i)
{
    const FilterRect* rect = src->rect;
    const long long source =
        i + static_cast<long long>(direction(shift->moved_field)) * 2 * (shift->v / 16);
    if (row_inside(rect, source))
        copy_row(out, src, static_cast<int>(source));
    else
        fill_row(out, src, i, shift->average_rows);
}

static void shift_row_fraction(PIXEL_YC* out, const SourceRows* src, const FieldShift* shift, int i)
{
    const FilterRect* rect = src->rect;
    const int32_t* kernel = shift->kernel;
    const int sigma = direction(shift->moved_field);
    const long long centre = i + static_cast<long long>(sigma) * 2 * ((shift->v >> 4) + 1);
    if (!row_inside(rect, centre)) {
        fill_row(out, src, i, shift->average_rows);
        return;
    }
    // Taps one field line apart; one outside the rectangle is replaced by
    // the tap one field line nearer the centre.
    const int m = static_cast<int>(centre);
    const int r1 = m;
    const int r0 = row_inside(rect, m - 2 * sigma) ? m - 2 * sigma : m;
    const int r2 = row_inside(rect, m + 2 * sigma) ? m + 2 * sigma : m;
    const int r3 = row_inside(rect, m + 4 * sigma) ? m + 4 * sigma : r2;
    const int16_t* const tap[4] = {components(source_row(src, r0)), components(source_row(src, r1)),
                                   components(source_row(src, r2)), components(source_row(src, r3))};
    interpolation_for(kernel, shift->interpolate_row)(components(out), tap, kernel,
                                                      3 * (rect->right - rect->left));
}

void shift_field_row(PIXEL_YC* out, const PIXEL_YC* src, int src_cycle, const FilterRect* rect,
                     const FieldShift* shift, int i)
{
    const SourceRows rows = {src, src_cycle, rect};
    if (row_stays(i, shift->moved_field))
        copy_row(out, &rows, i);
    else if (shift->kernel != nullptr)
        shift_row_fraction(out, &rows, shift, i);
    else
        shift_row_whole(out, &rows, shift, i);
}

int shift_field_reach(const FieldShift* shift)
{
    // Whole lines: 2 |v / 16| rows; fractions: the centre 2 |(v >> 4) + 1|
    // rows away and taps up to 4 further; gap fills 1.
    const long long whole_lines = std::llabs(static_cast<long long>(shift->v)) / 16;
    return static_cast<int>(std::min(2 * whole_lines + 6, 1LL << 30));
}

static void shift_rows(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect,
                       const FieldShift* shift)
{
    if (rect_is_empty(rect))
        return;
    for (int i = rect->top; i < rect->bottom; ++i)
        shift_field_row(rect_row(dst, rect, i), src, INT_MAX, rect, shift, i);
}

void shift_field_whole(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect, int32_t v,
                       int moved_field)
{
    const FieldShift shift = {v, moved_field, nullptr, best_variant(interpolate_row_kernel),
                              best_variant(average_rows_kernel)};
    shift_rows(dst, src, rect, &shift);
}

void shift_field_fraction(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect, int32_t v,
                          int moved_field, const int32_t kernel[4])
{
    const FieldShift shift = {v, moved_field, kernel, best_variant(interpolate_row_kernel),
                              best_variant(average_rows_kernel)};
    shift_rows(dst, src, rect, &shift);
}
