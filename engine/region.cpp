#include "engine/region.h"

#include <cstring>
#include <iterator>

#if NOREL_X86
#include "engine/x86/region.h"
#endif

void copy_rect(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect)
{
    if (rect_is_empty(rect))
        return;
    const size_t bytes = static_cast<size_t>(rect->right - rect->left) * sizeof(PIXEL_YC);
    // Whole rows of the buffer are one block, which memcpy moves faster than
    // row by row.
    if (rect->left == 0 && rect->right == rect->pitch) {
        std::memcpy(rect_row(dst, rect, rect->top), rect_row(src, rect, rect->top),
                    bytes * static_cast<size_t>(rect->bottom - rect->top));
        return;
    }
    for (int r = rect->top; r < rect->bottom; ++r)
        std::memcpy(rect_row(dst, rect, r), rect_row(src, rect, r), bytes);
}

void show_range_row_c(PIXEL_YC* pixels, int count)
{
    for (int x = 0; x < count; ++x) {
        pixels[x].y = static_cast<short>(4096 - pixels[x].y);
        pixels[x].cb = static_cast<short>(-pixels[x].cb);
        pixels[x].cr = static_cast<short>(-pixels[x].cr);
    }
}

void strip_chroma_row_c(PIXEL_YC* pixels, int count)
{
    for (int x = 0; x < count; ++x) {
        pixels[x].cb = 0;
        pixels[x].cr = 0;
    }
}

static const KernelVariant<RegionRowFn> show_range_row_variants[] = {
    {"c", 0, show_range_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, show_range_row_sse2},
    {"avx2", CPU_FLAG_AVX2, show_range_row_avx2},
#endif
};

static const KernelVariant<RegionRowFn> strip_chroma_row_variants[] = {
    {"c", 0, strip_chroma_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, strip_chroma_row_sse2},
    {"avx2", CPU_FLAG_AVX2, strip_chroma_row_avx2},
#endif
};

DispatchedKernel<RegionRowFn> show_range_row_kernel = {show_range_row_variants,
                                                       std::size(show_range_row_variants)};
DispatchedKernel<RegionRowFn> strip_chroma_row_kernel = {strip_chroma_row_variants,
                                                         std::size(strip_chroma_row_variants)};

void change_rect_rows(PIXEL_YC* frame, const FilterRect* rect, RegionRowFn* row_fn)
{
    if (rect_is_empty(rect))
        return;
    const int width = rect->right - rect->left;
    for (int r = rect->top; r < rect->bottom; ++r)
        row_fn(rect_row(frame, rect, r), width);
}

void show_range(PIXEL_YC* frame, const FilterRect* rect)
{
    change_rect_rows(frame, rect, best_variant(show_range_row_kernel));
}

void strip_chroma(PIXEL_YC* frame, const FilterRect* rect)
{
    change_rect_rows(frame, rect, best_variant(strip_chroma_row_kernel));
}
