#include "plugin/region.h"

#include <cstring>

void copy_rect(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect)
{
    if (rect_is_empty(rect))
        return;
    const size_t bytes = static_cast<size_t>(rect->right - rect->left) * sizeof(PIXEL_YC);
    for (int r = rect->top; r < rect->bottom; ++r)
        std::memcpy(rect_row(dst, rect, r), rect_row(src, rect, r), bytes);
}

void show_range(PIXEL_YC* frame, const FilterRect* rect)
{
    if (rect_is_empty(rect))
        return;
    const int width = rect->right - rect->left;
    for (int r = rect->top; r < rect->bottom; ++r) {
        PIXEL_YC* row = rect_row(frame, rect, r);
        for (int x = 0; x < width; ++x) {
            row[x].y = static_cast<short>(4096 - row[x].y);
            row[x].cb = static_cast<short>(-row[x].cb);
            row[x].cr = static_cast<short>(-row[x].cr);
        }
    }
}

void strip_chroma(PIXEL_YC* frame, const FilterRect* rect)
{
    if (rect_is_empty(rect))
        return;
    const int width = rect->right - rect->left;
    for (int r = rect->top; r < rect->bottom; ++r) {
        PIXEL_YC* row = rect_row(frame, rect, r);
        for (int x = 0; x < width; ++x) {
            row[x].cb = 0;
            row[x].cr = 0;
        }
    }
}
