// "移動量": moves one field against the other by v/16 field lines inside the
// rectangle, writing dst from src (distinct buffers).
#pragma once

#include <cstdint>

#include "effects/filter_rect.h"

// v a multiple of 16 (0 included): moved rows are copies of other rows of
// the same field.
void shift_field_whole(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect, int32_t v,
                       int moved_field);

// Any other v: moved rows are interpolated from four rows of the same field
// with kernel, the weights build_shift_kernel gives for v.
void shift_field_fraction(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect, int32_t v,
                          int moved_field, const int32_t kernel[4]);

// Rebuilds moved row i of dst from its neighbours of the field that stays.
void fill_from_other_field(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect, int i);
