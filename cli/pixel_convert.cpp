#include "cli/pixel_convert.h"

#include <algorithm>
#include <vector>

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
void planes_to_yc_reference(const YuvLayout& layout, const YuvPlanes& planes, int width, int height,
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
void yc_to_planes_reference(const YuvLayout& layout, const PIXEL_YC* yc, int pitch, int width, int height,
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


// Every code's PIXEL_YC value on one scale.
std::vector<short> value_table(const SampleScale& scale)
{
    std::vector<short> table(static_cast<size_t>(scale.max_code) + 1);
    for (int code = 0; code <= scale.max_code; ++code)
        table[code] = code_to_yc(code, scale);
    return table;
}

// A sample's index into its value table: a sample beyond the depth, which
// only a damaged file holds, counts as the largest code. 8-bit samples are
// always within their table.
inline int table_index(uint8_t code, int)
{
    return code;
}
inline int table_index(uint16_t code, int max_code)
{
    return std::min<int>(code, max_code);
}

template <typename Sample>
void codes_to_values(const Sample* codes, int count, const std::vector<short>& table, short* values)
{
    const int max_code = static_cast<int>(table.size()) - 1;
    for (int i = 0; i < count; ++i)
        values[i] = table[table_index(codes[i], max_code)];
}

// Gives every pixel of a block its chroma row's value.
void widen(const short* values, int width, int shift_x, short* wide)
{
    for (int x = 0; x < width; ++x)
        wide[x] = values[x >> shift_x];
}

void interleave(const short* y, const short* cb, const short* cr, int width, PIXEL_YC* out)
{
    for (int x = 0; x < width; ++x) {
        out[x].y = y[x];
        out[x].cb = cb[x];
        out[x].cr = cr[x];
    }
}

template <typename Sample>
void planes_to_yc_fast(const YuvLayout& layout, const YuvPlanes& planes, int width, int height,
                       PIXEL_YC* yc, int pitch)
{
    const std::vector<short> luma = value_table(luma_scale(layout));
    const std::vector<short> chroma = value_table(chroma_scale(layout));
    const int chroma_width = (width + (1 << layout.chroma_shift_x) - 1) >> layout.chroma_shift_x;
    std::vector<short> y(width), cb(width, 0), cr(width, 0), narrow(chroma_width);
    int widened_row = -1;
    for (int r = 0; r < height; ++r) {
        codes_to_values(plane_row<Sample>(planes, 0, r), width, luma, y.data());
        const int chroma_row = r >> layout.chroma_shift_y;
        if (layout.has_chroma && chroma_row != widened_row) {
            codes_to_values(plane_row<Sample>(planes, 1, chroma_row), chroma_width, chroma, narrow.data());
            widen(narrow.data(), width, layout.chroma_shift_x, cb.data());
            codes_to_values(plane_row<Sample>(planes, 2, chroma_row), chroma_width, chroma, narrow.data());
            widen(narrow.data(), width, layout.chroma_shift_x, cr.data());
            widened_row = chroma_row;
        }
        interleave(y.data(), cb.data(), cr.data(), width, yc + static_cast<long long>(r) * pitch);
    }
}

// yc_to_code with the division by 4096 as a shift: floor((2·v·span +
// 4096) / 8192) is (v·span + 2048) >> 12, and v·span fits in 32 bits.
inline int value_to_code(int value, const SampleScale& scale)
{
    const int code = scale.offset + ((value * scale.span + 2048) >> 12);
    return std::clamp(code, 0, scale.max_code);
}

template <typename Sample>
void yc_row_to_luma_fast(const PIXEL_YC* in, int width, const SampleScale& scale, Sample* luma)
{
    for (int x = 0; x < width; ++x)
        luma[x] = static_cast<Sample>(value_to_code(in[x].y, scale));
}

// Column sums of cb and cr over `rows` rows.
void sum_columns(const PIXEL_YC* in, int pitch, int rows, int width, int* cb, int* cr)
{
    for (int x = 0; x < width; ++x) {
        cb[x] = in[x].cb;
        cr[x] = in[x].cr;
    }
    for (int r = 1; r < rows; ++r) {
        const PIXEL_YC* row = in + static_cast<long long>(r) * pitch;
        for (int x = 0; x < width; ++x) {
            cb[x] += row[x].cb;
            cr[x] += row[x].cr;
        }
    }
}

// Chroma samples from column sums: each the rounded mean of its block.
// Whole blocks of a power-of-two count divide by a shift, (2·sum + count)
// >> (log2 count + 1), which is divide_rounded's floor for such counts.
template <int ShiftX, typename Sample>
void block_means_to_codes(const int* sums, int width, int rows, const SampleScale& scale, Sample* codes)
{
    constexpr int block_w = 1 << ShiftX;
    const int whole_blocks = width / block_w;
    int cx = 0;
    if ((rows & (rows - 1)) == 0) {
        int shift = ShiftX + 1;
        for (int r = rows; r > 1; r >>= 1)
            ++shift;
        const int count = rows * block_w;
        for (; cx < whole_blocks; ++cx) {
            int sum = 0;
            for (int j = 0; j < block_w; ++j)
                sum += sums[cx * block_w + j];
            codes[cx] = static_cast<Sample>(value_to_code((2 * sum + count) >> shift, scale));
        }
    }
    // A partial block at the edge, or blocks of a count that is no power of
    // two, are divided exactly.
    for (; cx * block_w < width; ++cx) {
        const int x1 = std::min(width, (cx + 1) * block_w);
        int sum = 0;
        for (int x = cx * block_w; x < x1; ++x)
            sum += sums[x];
        codes[cx] = static_cast<Sample>(value_to_code(divide_rounded(sum, rows * (x1 - cx * block_w)), scale));
    }
}

template <typename Sample>
void sums_to_chroma(const int* sums, int width, int rows, int shift_x, const SampleScale& scale, Sample* codes)
{
    switch (shift_x) {
    case 0: block_means_to_codes<0>(sums, width, rows, scale, codes); break;
    case 1: block_means_to_codes<1>(sums, width, rows, scale, codes); break;
    default: block_means_to_codes<2>(sums, width, rows, scale, codes); break;
    }
}

template <typename Sample>
void yc_to_planes_fast(const YuvLayout& layout, const PIXEL_YC* yc, int pitch, int width, int height,
                       const YuvPlanes& planes)
{
    const SampleScale luma = luma_scale(layout);
    for (int r = 0; r < height; ++r)
        yc_row_to_luma_fast(yc + static_cast<long long>(r) * pitch, width, luma,
                            plane_row_out<Sample>(planes, 0, r));
    if (!layout.has_chroma)
        return;
    const SampleScale chroma = chroma_scale(layout);
    const int block_h = 1 << layout.chroma_shift_y;
    std::vector<int> sum_cb(width), sum_cr(width);
    for (int r0 = 0, cy = 0; r0 < height; r0 += block_h, ++cy) {
        const int rows = std::min(height - r0, block_h);
        sum_columns(yc + static_cast<long long>(r0) * pitch, pitch, rows, width, sum_cb.data(), sum_cr.data());
        sums_to_chroma(sum_cb.data(), width, rows, layout.chroma_shift_x, chroma, plane_row_out<Sample>(planes, 1, cy));
        sums_to_chroma(sum_cr.data(), width, rows, layout.chroma_shift_x, chroma, plane_row_out<Sample>(planes, 2, cy));
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
        planes_to_yc_fast<uint16_t>(layout, planes, width, height, yc, pitch);
    else
        planes_to_yc_fast<uint8_t>(layout, planes, width, height, yc, pitch);
}

void yc_to_yuv(const YuvLayout& layout, const PIXEL_YC* yc, int pitch, int width, int height,
               const YuvPlanes& planes)
{
    if (layout.depth > 8)
        yc_to_planes_fast<uint16_t>(layout, yc, pitch, width, height, planes);
    else
        yc_to_planes_fast<uint8_t>(layout, yc, pitch, width, height, planes);
}

void yuv_to_yc_reference(const YuvLayout& layout, const YuvPlanes& planes, int width, int height,
                         PIXEL_YC* yc, int pitch)
{
    if (layout.depth > 8)
        planes_to_yc_reference<uint16_t>(layout, planes, width, height, yc, pitch);
    else
        planes_to_yc_reference<uint8_t>(layout, planes, width, height, yc, pitch);
}

void yc_to_yuv_reference(const YuvLayout& layout, const PIXEL_YC* yc, int pitch, int width, int height,
                         const YuvPlanes& planes)
{
    if (layout.depth > 8)
        yc_to_planes_reference<uint16_t>(layout, yc, pitch, width, height, planes);
    else
        yc_to_planes_reference<uint8_t>(layout, yc, pitch, width, height, planes);
}
