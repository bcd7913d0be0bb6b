// Rectangle operations the driver needs between and besides the stages.
#pragma once

#include "effects/filter_rect.h"

// Copies the rectangle's pixels from src to dst; nothing else is touched.
void copy_rect(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect);

// "範囲表示": y becomes 4096 - y, cb and cr are negated, all wrapping.
void show_range(PIXEL_YC* frame, const FilterRect* rect);

// "MONO": cb and cr become 0, y stays.
void strip_chroma(PIXEL_YC* frame, const FilterRect* rect);
