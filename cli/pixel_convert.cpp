#include "cli/pixel_convert.h"

#include <algorithm>

namespace {

// Rounds numerator / denominator to nearest, halves upward, for a positive
// denominator and a numerator of either sign.
int divide_rounded(long long numerator, long long denominator)
{
    const long long twice = 2 * numerator + denominator;
    const long long divisor = 2 * denominator;
    return static_cast<int>(twice >= 0 ? twice / divisor : -((-twice + divisor - 1) / divisor));
}

template <typename Sample>
const Sample* plane_row(const YuvPlanes& planes, int plane, int row)
{
    return reinterpret_cast<const Sample*>(planes.data[plane] + static_cast<long long>(row) * planes.linesize[plane]);
}

template <typename Sample>
Sample* plane_row_out(const YuvPlanes& planes, int plane, int row)
{
    return reinterpret_cast<Sample*>(planes.data[plane] + static_cast<long long>(row) * planes.linesize[plane]);
}

template <typename Sample>
void luma_row_to_yc(const Sample* luma, int width, const SampleScale& scale, PIXEL_YC* out)
{
    for (int x = 0; x < width; ++x)
        out[x].y = code_to_yc(luma[x], scale);
}

template <typename Sample>
void chroma_row_to_yc(const Sample* cb, const Sample* cr, int width, int shift_x,
                      const SampleScale& scale, PIXEL_YC* out)
{
    for (int x = 0; x < width; ++x) {
        out[x].cb = code_to_yc(cb[x >> shift_x], scale);
        out[x].cr = code_to_yc(cr[x >> shift_x], scale);
    }
}

template <typename Sample>
void yc_row_to_luma(const PIXEL_YC* in, int width, const SampleScale& scale, Sample* luma)
{
    for (int x = 0; x < width; ++x)
        luma[x] = static_cast<Sample>(yc_to_code(in[x].y, scale));
}

// One chroma row from the `rows` PIXEL_YC rows of its blocks: each sample is
// the rounded mean of its block.
template <typename Sample>
void yc_rows_to_chroma(const PIXEL_YC* in, int pitch, int rows, int width, int shift_x,
                       const SampleScale& scale, Sample* cb, Sample* cr)
{
    const int block_w = 1 << shift_x;
    for (int x0 = 0, cx = 0; x0 < width; x0 += block_w, ++cx) {
        const int x1 = std::min(width, x0 + block_w);
        long long sum_cb = 0, sum_cr = 0;
        for (int r = 0; r < rows; ++r) {
            for (int x = x0; x < x1; ++x) {
                sum_cb += in[static_cast<long long>(r) * pitch + x].cb;
                sum_cr += in[static_cast<long long>(r) * pitch + x].cr;
            }
        }
        const int count = rows * (x1 - x0);
        cb[cx] = static_cast<Sample>(yc_to_code(divide_rounded(sum_cb, count), scale));
        cr[cx] = static_cast<Sample>(yc_to_code(divide_rounded(sum_cr, count), scale));
    }
}

template <typename Sample>
void planes_to_yc(const YuvLayout& layout, const YuvPlanes& planes, int width, int height,
                  PIXEL_YC* yc, int pitch)
{
    const SampleScale luma = luma_scale(layout);
    const SampleScale chroma = chroma_scale(layout);
    for (int r = 0; r < height; ++r) {
        PIXEL_YC* out = yc + static_cast<long long>(r) * pitch;
        luma_row_to_yc(plane_row<Sample>(planes, 0, r), width, luma, out);
        if (layout.has_chroma) {
            const int chroma_row = r >> layout.chroma_shift_y;
            chroma_row_to_yc(plane_row<Sample>(planes, 1, chroma_row),
                             plane_row<Sample>(planes, 2, chroma_row), width,
                             layout.chroma_shift_x, chroma, out);
        } else {
            for (int x = 0; x < width; ++x)
                out[x].cb = out[x].cr = 0;
        }
    }
}

template <typename Sample>
void yc_to_planes(const YuvLayout& layout, const PIXEL_YC* yc, int pitch, int width, int height,
                  const YuvPlanes& planes)
{
    const SampleScale luma = luma_scale(layout);
    for (int r = 0; r < height; ++r)
        yc_row_to_luma(yc + static_cast<long long>(r) * pitch, width, luma,
                       plane_row_out<Sample>(planes, 0, r));
    if (!layout.has_chroma)
        return;
    const SampleScale chroma = chroma_scale(layout);
    const int block_h = 1 << layout.chroma_shift_y;
    for (int r0 = 0, cy = 0; r0 < height; r0 += block_h, ++cy) {
        yc_rows_to_chroma(yc + static_cast<long long>(r0) * pitch, pitch,
                          std::min(height - r0, block_h), width, layout.chroma_shift_x, chroma,
                          plane_row_out<Sample>(planes, 1, cy), plane_row_out<Sample>(planes, 2, cy));
    }
}

}  // namespace

SampleScale luma_scale(const YuvLayout& layout)
{
    const int max_code = (1 << layout.depth) - 1;
    if (layout.full_range)
        return {0, max_code, max_code};
    return {16 << (layout.depth - 8), 219 << (layout.depth - 8), max_code};
}

SampleScale chroma_scale(const YuvLayout& layout)
{
    const int max_code = (1 << layout.depth) - 1;
    const int middle = 1 << (layout.depth - 1);
    if (layout.full_range)
        return {middle, max_code, max_code};
    return {middle, 224 << (layout.depth - 8), max_code};
}

short code_to_yc(int code, const SampleScale& scale)
{
    // A sample beyond the depth, which only a damaged file holds, counts as
    // the largest code.
    const int valid = std::clamp(code, 0, scale.max_code);
    return static_cast<short>(divide_rounded(static_cast<long long>(valid - scale.offset) * 4096, scale.span));
}

int yc_to_code(int value, const SampleScale& scale)
{
    const int code = scale.offset + divide_rounded(static_cast<long long>(value) * scale.span, 4096);
    return std::clamp(code, 0, scale.max_code);
}

void yuv_to_yc(const YuvLayout& layout, const YuvPlanes& planes, int width, int height,
               PIXEL_YC* yc, int pitch)
{
    if (layout.depth > 8)
        planes_to_yc<uint16_t>(layout, planes, width, height, yc, pitch);
    else
        planes_to_yc<uint8_t>(layout, planes, width, height, yc, pitch);
}

void yc_to_yuv(const YuvLayout& layout, const PIXEL_YC* yc, int pitch, int width, int height,
               const YuvPlanes& planes)
{
    if (layout.depth > 8)
        yc_to_planes<uint16_t>(layout, yc, pitch, width, height, planes);
    else
        yc_to_planes<uint8_t>(layout, yc, pitch, width, height, planes);
}
