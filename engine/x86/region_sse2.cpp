// show_range and strip_chroma eight pixels (24 components) at a time in SSE2.
#include "engine/x86/region.h"
#include "engine/x86/region_packed.h"

void show_range_row_sse2(PIXEL_YC* pixels, int count)
{
    show_range_row_packed<Sse2Ops>(pixels, count, show_range_row_c);
}

void strip_chroma_row_sse2(PIXEL_YC* pixels, int count)
{
    strip_chroma_row_packed<Sse2Ops>(pixels, count, strip_chroma_row_c);
}
