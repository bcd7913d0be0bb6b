// The processing rectangle shared by the driver and every stage.
#pragma once

#include "engine/pixel_yc.h"

// Rows [top, bottom) and columns [left, right) of a frame whose rows are
// pitch pixels apart. Empty when left >= right or top >= bottom.
struct FilterRect {
    int top;
    int bottom;
    int left;
    int right;
    int pitch;
};

inline bool rect_is_empty(const FilterRect* rect)
{
    return rect->left >= rect->right || rect->top >= rect->bottom;
}

inline PIXEL_YC* rect_row(PIXEL_YC* frame, const FilterRect* rect, int row)
{
    return frame + static_cast<long long>(row) * rect->pitch + rect->left;
}

inline const PIXEL_YC* rect_row(const PIXEL_YC* frame, const FilterRect* rect, int row)
{
    return frame + static_cast<long long>(row) * rect->pitch + rect->left;
}

// Rows of pixels `pitch` apart from `base`, the first column used of row 0;
// with `rows` > 0 a ring instead, row r kept at r % rows.
struct RowPlace {
    PIXEL_YC* base;
    long long pitch;
    int rows;
};

inline PIXEL_YC* place_row(const RowPlace* place, int row)
{
    return place->base + (place->rows > 0 ? row % place->rows : row) * place->pitch;
}
