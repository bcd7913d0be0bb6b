#include "engine/rgba_yc.h"

#include <iterator>

#if NOREL_X86
#include "engine/x86/rgba_yc.h"
#endif

static short to_yc(int r, int g, int b, int from_r, int from_g, int from_b)
{
    const int rounding = 1 << (YC_FROM_RGB_SHIFT - 1);
    return static_cast<short>((r * from_r + g * from_g + b * from_b + rounding) >> YC_FROM_RGB_SHIFT);
}

void rgba_to_yc_row_c(PIXEL_YC* dst, const RgbaPixel* src, int count)
{
    for (int x = 0; x < count; ++x) {
        const int r = src[x].r, g = src[x].g, b = src[x].b;
        dst[x].y = to_yc(r, g, b, YC_FROM_R_Y, YC_FROM_G_Y, YC_FROM_B_Y);
        dst[x].cb = to_yc(r, g, b, YC_FROM_R_CB, YC_FROM_G_CB, YC_FROM_B_CB);
        dst[x].cr = to_yc(r, g, b, YC_FROM_R_CR, YC_FROM_G_CR, YC_FROM_B_CR);
    }
}

// The effects may leave any 16-bit value: every one maps into 0..255.
static uint8_t to_rgb(int y, int cb, int cr, int from_cb, int from_cr)
{
    const int rounding = 1 << (RGB_FROM_YC_SHIFT - 1);
    const int value = (y * RGB_FROM_Y + cb * from_cb + cr * from_cr + rounding) >> RGB_FROM_YC_SHIFT;
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

void yc_to_rgba_row_c(RgbaPixel* dst, const PIXEL_YC* src, const RgbaPixel* alpha_from, int count)
{
    for (int x = 0; x < count; ++x) {
        const int y = src[x].y, cb = src[x].cb, cr = src[x].cr;
        const uint8_t a = alpha_from[x].a;
        dst[x].r = to_rgb(y, cb, cr, 0, R_FROM_CR);
        dst[x].g = to_rgb(y, cb, cr, G_FROM_CB, G_FROM_CR);
        dst[x].b = to_rgb(y, cb, cr, B_FROM_CB, 0);
        dst[x].a = a;
    }
}

static const KernelVariant<RgbaToYcRowFn> rgba_to_yc_row_variants[] = {
    {"c", 0, rgba_to_yc_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, rgba_to_yc_row_sse2},
    {"avx2", CPU_FLAG_AVX2, rgba_to_yc_row_avx2},
#endif
};

static const KernelVariant<YcToRgbaRowFn> yc_to_rgba_row_variants[] = {
    {"c", 0, yc_to_rgba_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, yc_to_rgba_row_sse2},
    {"avx2", CPU_FLAG_AVX2, yc_to_rgba_row_avx2},
#endif
};

DispatchedKernel<RgbaToYcRowFn> rgba_to_yc_row_kernel = {rgba_to_yc_row_variants,
                                                         std::size(rgba_to_yc_row_variants)};
DispatchedKernel<YcToRgbaRowFn> yc_to_rgba_row_kernel = {yc_to_rgba_row_variants,
                                                         std::size(yc_to_rgba_row_variants)};

void select_rgba_kernels(RgbaKernels* kernels)
{
    kernels->to_yc = best_variant(rgba_to_yc_row_kernel);
    kernels->to_rgba = best_variant(yc_to_rgba_row_kernel);
}

static const RgbaPixel* rgba_row(const RgbaPixel* picture, ptrdiff_t stride, int row)
{
    return reinterpret_cast<const RgbaPixel*>(reinterpret_cast<const uint8_t*>(picture) +
                                              stride * row);
}

void rgba_to_yc(PIXEL_YC* dst, int pitch, const RgbaPixel* src, ptrdiff_t stride, int w, int h)
{
    RgbaToYcRowFn* row_fn = best_variant(rgba_to_yc_row_kernel);
    for (int r = 0; r < h; ++r)
        row_fn(dst + static_cast<ptrdiff_t>(r) * pitch, rgba_row(src, stride, r), w);
}

void yc_to_rgba(RgbaPixel* dst, ptrdiff_t stride, const PIXEL_YC* src, int pitch,
                const RgbaPixel* alpha_from, ptrdiff_t alpha_stride, int w, int h)
{
    YcToRgbaRowFn* row_fn = best_variant(yc_to_rgba_row_kernel);
    for (int r = 0; r < h; ++r)
        row_fn(const_cast<RgbaPixel*>(rgba_row(dst, stride, r)),
               src + static_cast<ptrdiff_t>(r) * pitch, rgba_row(alpha_from, alpha_stride, r), w);
}
