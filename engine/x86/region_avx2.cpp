// show_range and strip_chroma sixteen pixels (48 components) at a time in
// AVX2; what is left of a row goes to the SSE2 variants.
#include "engine/x86/region.h"
#include "engine/x86/region_packed.h"

void show_range_row_avx2(PIXEL_YC* pixels, int count)
{
    show_range_row_packed<Avx2Ops>(pixels, count, show_range_row_sse2);
}

void strip_chroma_row_avx2(PIXEL_YC* pixels, int count)
{
    strip_chroma_row_packed<Avx2Ops>(pixels, count, strip_chroma_row_sse2);
}
