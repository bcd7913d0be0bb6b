// The x86 variants of the kernels in engine/region.h, which its variant
// tables list.
#pragma once

#include "engine/region.h"

void show_range_row_sse2(PIXEL_YC* pixels, int count);
void show_range_row_avx2(PIXEL_YC* pixels, int count);
void strip_chroma_row_sse2(PIXEL_YC* pixels, int count);
void strip_chroma_row_avx2(PIXEL_YC* pixels, int count);
