#include "effects/field_shift.h"

#include <cstring>

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
    const PIXEL_YC* above = rect_row(src, rect, a);
    const PIXEL_YC* below = rect_row(src, rect, b);
    PIXEL_YC* out = rect_row(dst, rect, i);
    const int width = rect->right - rect->left;
    for (int x = 0; x < width; ++x) {
        // (a + b + 1) / 2 with C's division truncating toward zero.
        out[x].y = static_cast<short>((above[x].y + below[x].y + 1) / 2);
        out[x].cb = static_cast<short>((above[x].cb + below[x].cb + 1) / 2);
        out[x].cr = static_cast<short>((above[x].cr + below[x].cr + 1) / 2);
    }
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

static inline short interpolate(int32_t s0, int32_t s1, int32_t s2, int32_t s3,
                                 const int32_t kernel[4])
{
    const int32_t acc = s0 * kernel[0] + s1 * kernel[1] + s2 * kernel[2] + s3 * kernel[3] + 0x4000;
    return static_cast<short>(acc >> 15);
}

void shift_field_fraction(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect, int32_t v,
                          int moved_field, const int32_t kernel[4])
{
    if (rect_is_empty(rect))
        return;
    const int direction = moved_field ? 1 : -1;
    const long long centre_offset = static_cast<long long>(direction) * 2 * ((v >> 4) + 1);
    const int width = rect->right - rect->left;
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
        const PIXEL_YC* t0 = rect_row(src, rect, r0);
        const PIXEL_YC* t1 = rect_row(src, rect, r1);
        const PIXEL_YC* t2 = rect_row(src, rect, r2);
        const PIXEL_YC* t3 = rect_row(src, rect, r3);
        PIXEL_YC* out = rect_row(dst, rect, i);
        for (int x = 0; x < width; ++x) {
            out[x].y = interpolate(t0[x].y, t1[x].y, t2[x].y, t3[x].y, kernel);
            out[x].cb = interpolate(t0[x].cb, t1[x].cb, t2[x].cb, t3[x].cb, kernel);
            out[x].cr = interpolate(t0[x].cr, t1[x].cr, t2[x].cr, t3[x].cr, kernel);
        }
    }
}
