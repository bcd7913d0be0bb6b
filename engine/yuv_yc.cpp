#include "engine/yuv_yc.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <type_traits>
#include <vector>

#if NOREL_X86
#include "engine/x86/yuv_yc.h"
#endif

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


// A CodeMap that gives every code of the table exactly its value, if a
// factor near 4096 / span has a bias that fits every code: each code bounds
// the bias from both sides, and the bounds are intersected.
std::optional<CodeMap> linear_map(const std::vector<short>& table, const SampleScale& scale)
{
    const long long nominal = ((4096LL << code_map_shift) + scale.span / 2) / scale.span;
    for (long long factor = nominal - 2; factor <= nominal + 2; ++factor) {
        long long lowest = std::numeric_limits<long long>::min();
        long long highest = std::numeric_limits<long long>::max();
        for (int code = 0; code < static_cast<int>(table.size()); ++code) {
            const long long scaled = (code - scale.offset) * factor;
            // Values may be negative: scale by multiplying, not by shifting.
            const long long value = static_cast<long long>(table[code]) * (1LL << code_map_shift);
            lowest = std::max(lowest, value - scaled);
            highest = std::min(highest, value + (1LL << code_map_shift) - 1 - scaled);
        }
        if (lowest <= highest)
            return CodeMap{scale.offset, static_cast<int>(factor), static_cast<int>(lowest)};
    }
    return std::nullopt;
}

// A RoundingMap that gives every code of the table exactly its value: a
// shift that keeps (code - offset) << shift within 16 bits, and a factor
// near 4096 / span · 2^(15 - shift).
std::optional<RoundingMap> rounding_map(const std::vector<short>& table, const SampleScale& scale)
{
    const int reach = std::max(scale.offset, static_cast<int>(table.size()) - 1 - scale.offset);
    for (int shift = 7; shift >= 0; --shift) {
        if ((reach << shift) > 32767)
            continue;
        const long long nominal = ((4096LL << (15 - shift)) + scale.span / 2) / scale.span;
        for (long long factor = nominal - 2; factor <= nominal + 2; ++factor) {
            if (factor > 32767)
                continue;
            bool exact = true;
            for (int code = 0; exact && code < static_cast<int>(table.size()); ++code) {
                const long long product = static_cast<long long>((code - scale.offset) * (1 << shift)) * factor;
                exact = ((product + (1 << 14)) >> 15) == table[code];
            }
            if (exact)
                return RoundingMap{scale.offset, shift, static_cast<int>(factor)};
        }
    }
    return std::nullopt;
}

// Every code's value on one scale, and for 8-bit samples the same as a
// CodeMap and a RoundingMap, where there are such.
struct CodeValues {
    std::vector<short> table;
    std::optional<CodeMap> linear;
    std::optional<RoundingMap> rounding;
};

CodeValues code_values(const SampleScale& scale, int depth)
{
    CodeValues values{value_table(scale), std::nullopt, std::nullopt};
    if (depth == 8) {
        values.linear = linear_map(values.table, scale);
        values.rounding = rounding_map(values.table, scale);
    }
    return values;
}

// Every 8- to 12-bit scale's values, built once for the process at the
// first conversion (about 32 000 values) and only read afterwards: hosts
// convert a few rows at a time, with the same scales for every call.
// Another depth, which no host converts, has its values built at each call.
struct ScaleValues {
    CodeValues by_depth[5][2][2];  // depth - 8, full range, chroma
};

const ScaleValues& scale_values()
{
    static const ScaleValues values = [] {
        ScaleValues all;
        for (int depth = 8; depth <= 12; ++depth) {
            for (int full = 0; full < 2; ++full) {
                YuvLayout layout;
                layout.depth = depth;
                layout.full_range = full != 0;
                all.by_depth[depth - 8][full][0] = code_values(luma_scale(layout), depth);
                all.by_depth[depth - 8][full][1] = code_values(chroma_scale(layout), depth);
            }
        }
        return all;
    }();
    return values;
}

// The values of the layout's luma (chroma false) or chroma scale; `built`
// holds them for a depth outside 8..12.
const CodeValues& layout_values(const YuvLayout& layout, bool chroma, CodeValues* built)
{
    if (layout.depth >= 8 && layout.depth <= 12)
        return scale_values().by_depth[layout.depth - 8][layout.full_range][chroma];
    *built = code_values(chroma ? chroma_scale(layout) : luma_scale(layout), layout.depth);
    return *built;
}

template <typename Sample>
void planes_to_yc_fast(const YuvLayout& layout, const YuvPlanes& planes, int width, int height,
                       PIXEL_YC* yc, int pitch)
{
    if constexpr (std::is_same_v<Sample, uint8_t>) {
        if (layout.has_chroma) {
            const YuvRowMaps maps = yuv_row_maps(layout);
            PlanarToYcRowFn* row_to_yc = best_variant(planar_to_yc_row_kernel);
            for (int r = 0; r < height; ++r) {
                const int chroma_row = r >> layout.chroma_shift_y;
                row_to_yc(yc + static_cast<long long>(r) * pitch, plane_row<Sample>(planes, 0, r),
                          plane_row<Sample>(planes, 1, chroma_row), plane_row<Sample>(planes, 2, chroma_row),
                          width, layout.chroma_shift_x, &maps);
            }
            return;
        }
    }
    CodeValues built_luma, built_chroma;
    const std::vector<short>& luma = layout_values(layout, false, &built_luma).table;
    const std::vector<short>& chroma = layout_values(layout, true, &built_chroma).table;
    const int luma_max = static_cast<int>(luma.size()) - 1, chroma_max = static_cast<int>(chroma.size()) - 1;
    const int shift_x = layout.chroma_shift_x;
    for (int r = 0; r < height; ++r) {
        PIXEL_YC* out = yc + static_cast<long long>(r) * pitch;
        const Sample* y = plane_row<Sample>(planes, 0, r);
        for (int x = 0; x < width; ++x)
            out[x].y = luma[table_index(y[x], luma_max)];
        if (!layout.has_chroma) {
            for (int x = 0; x < width; ++x)
                out[x].cb = out[x].cr = 0;
            continue;
        }
        const Sample* cb = plane_row<Sample>(planes, 1, r >> layout.chroma_shift_y);
        const Sample* cr = plane_row<Sample>(planes, 2, r >> layout.chroma_shift_y);
        for (int x = 0; x < width; ++x) {
            out[x].cb = chroma[table_index(cb[x >> shift_x], chroma_max)];
            out[x].cr = chroma[table_index(cr[x >> shift_x], chroma_max)];
        }
    }
}

// yc_to_code with the division by 4096 as a shift: floor((2·v·span +
// 4096) / 8192) is (v·span + 2048) >> 12, and v·span fits in 32 bits.
inline int value_to_code(int value, const SampleScale& scale)
{
    const int code = scale.offset + ((value * scale.span + 2048) >> 12);
    return std::clamp(code, 0, scale.max_code);
}

// The rounded mean of a block's `count` values summing to `sum`: for a
// power-of-two count (2·sum + count) >> (log2 count + 1), which is
// divide_rounded's floor for such counts.
int block_mean(int sum, int count)
{
    if ((count & (count - 1)) != 0)
        return divide_rounded(sum, count);
    int shift = 1;
    for (int c = count; c > 1; c >>= 1)
        ++shift;
    return (2 * sum + count) >> shift;
}

template <typename Sample>
void yc_to_planes_fast(const YuvLayout& layout, const PIXEL_YC* yc, int pitch, int width, int height,
                       const YuvPlanes& planes)
{
    const int block_w = 1 << layout.chroma_shift_x;
    const int block_h = 1 << layout.chroma_shift_y;
    if constexpr (std::is_same_v<Sample, uint8_t>) {
        if (layout.has_chroma && block_h <= 2) {
            const YuvRowMaps maps = yuv_row_maps(layout);
            YcToPlanarRowsFn* rows_to_codes = best_variant(yc_to_planar_rows_kernel);
            for (int r0 = 0, cy = 0; r0 < height; r0 += block_h, ++cy) {
                const int rows = std::min(height - r0, block_h);
                rows_to_codes(plane_row_out<Sample>(planes, 0, r0),
                              rows > 1 ? plane_row_out<Sample>(planes, 0, r0 + 1) : nullptr,
                              plane_row_out<Sample>(planes, 1, cy), plane_row_out<Sample>(planes, 2, cy),
                              yc + static_cast<long long>(r0) * pitch, pitch, rows, width,
                              layout.chroma_shift_x, &maps);
            }
            return;
        }
    }
    const SampleScale luma = luma_scale(layout);
    for (int r = 0; r < height; ++r) {
        const PIXEL_YC* in = yc + static_cast<long long>(r) * pitch;
        Sample* codes = plane_row_out<Sample>(planes, 0, r);
        for (int x = 0; x < width; ++x)
            codes[x] = static_cast<Sample>(value_to_code(in[x].y, luma));
    }
    if (!layout.has_chroma)
        return;
    const SampleScale chroma = chroma_scale(layout);
    for (int r0 = 0, cy = 0; r0 < height; r0 += block_h, ++cy) {
        const int rows = std::min(height - r0, block_h);
        const PIXEL_YC* in = yc + static_cast<long long>(r0) * pitch;
        Sample* cb = plane_row_out<Sample>(planes, 1, cy);
        Sample* cr = plane_row_out<Sample>(planes, 2, cy);
        for (int x0 = 0, cx = 0; x0 < width; x0 += block_w, ++cx) {
            const int x1 = std::min(width, x0 + block_w);
            int sum_cb = 0, sum_cr = 0;
            for (int r = 0; r < rows; ++r) {
                for (int x = x0; x < x1; ++x) {
                    sum_cb += in[static_cast<long long>(r) * pitch + x].cb;
                    sum_cr += in[static_cast<long long>(r) * pitch + x].cr;
                }
            }
            const int count = rows * (x1 - x0);
            cb[cx] = static_cast<Sample>(value_to_code(block_mean(sum_cb, count), chroma));
            cr[cx] = static_cast<Sample>(value_to_code(block_mean(sum_cr, count), chroma));
        }
    }
}

}  // namespace

YuvRowMaps yuv_row_maps(const YuvLayout& layout)
{
    YuvLayout eight_bits = layout;
    eight_bits.depth = 8;
    const CodeValues& luma = layout_values(eight_bits, false, nullptr);
    const CodeValues& chroma = layout_values(eight_bits, true, nullptr);
    YuvRowMaps maps = {};
    maps.luma_values = luma.table.data();
    maps.chroma_values = chroma.table.data();
    maps.linear = luma.linear && chroma.linear;
    if (maps.linear) {
        maps.luma_map = *luma.linear;
        maps.chroma_map = *chroma.linear;
    }
    maps.rounding = luma.rounding && chroma.rounding;
    if (maps.rounding) {
        maps.luma_rounding = *luma.rounding;
        maps.chroma_rounding = *chroma.rounding;
    }
    maps.luma = luma_scale(layout);
    maps.chroma = chroma_scale(layout);
    return maps;
}

void planar_to_yc_row_c(PIXEL_YC* out, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int count,
                        int shift_x, const YuvRowMaps* maps)
{
    for (int x = 0; x < count; ++x) {
        out[x].y = maps->luma_values[y[x]];
        out[x].cb = maps->chroma_values[cb[x >> shift_x]];
        out[x].cr = maps->chroma_values[cr[x >> shift_x]];
    }
}

void packed_to_yc_row_c(PIXEL_YC* out, const uint8_t* in, int count, int luma_first, const YuvRowMaps* maps)
{
    const int luma = luma_first ? 0 : 1, chroma = luma_first ? 1 : 0;
    for (int x = 0; x < count; ++x) {
        const uint8_t* pair = in + 4 * (x >> 1);
        out[x].y = maps->luma_values[in[2 * x + luma]];
        out[x].cb = maps->chroma_values[pair[chroma]];
        out[x].cr = maps->chroma_values[pair[chroma + 2]];
    }
}

// A block's chroma: the rounded mean of its pixels' values, as a code.
static void block_codes(const PIXEL_YC* in, ptrdiff_t pitch, int rows, int x0, int x1, const SampleScale& scale,
                        uint8_t* cb, uint8_t* cr)
{
    long long sum_cb = 0, sum_cr = 0;
    for (int r = 0; r < rows; ++r) {
        for (int x = x0; x < x1; ++x) {
            sum_cb += in[r * pitch + x].cb;
            sum_cr += in[r * pitch + x].cr;
        }
    }
    const int pixels = rows * (x1 - x0);
    *cb = static_cast<uint8_t>(yc_to_code(divide_rounded(sum_cb, pixels), scale));
    *cr = static_cast<uint8_t>(yc_to_code(divide_rounded(sum_cr, pixels), scale));
}

void yc_to_planar_rows_c(uint8_t* y0, uint8_t* y1, uint8_t* cb, uint8_t* cr, const PIXEL_YC* in,
                         ptrdiff_t pitch, int rows, int count, int shift_x, const YuvRowMaps* maps)
{
    for (int r = 0; r < rows; ++r) {
        uint8_t* luma = r == 0 ? y0 : y1;
        for (int x = 0; x < count; ++x)
            luma[x] = static_cast<uint8_t>(yc_to_code(in[r * pitch + x].y, maps->luma));
    }
    const int block_w = 1 << shift_x;
    for (int x0 = 0, cx = 0; x0 < count; x0 += block_w, ++cx)
        block_codes(in, pitch, rows, x0, std::min(count, x0 + block_w), maps->chroma, cb + cx, cr + cx);
}

void yc_to_packed_row_c(uint8_t* out, const PIXEL_YC* in, int count, int luma_first, const YuvRowMaps* maps)
{
    const int luma = luma_first ? 0 : 1, chroma = luma_first ? 1 : 0;
    for (int x = 0; x < count; ++x)
        out[2 * x + luma] = static_cast<uint8_t>(yc_to_code(in[x].y, maps->luma));
    for (int x0 = 0; x0 < count; x0 += 2) {
        uint8_t* pair = out + 2 * x0;
        block_codes(in, 0, 1, x0, std::min(count, x0 + 2), maps->chroma, pair + chroma, pair + chroma + 2);
    }
}

static const KernelVariant<PlanarToYcRowFn> planar_to_yc_row_variants[] = {
    {"c", 0, planar_to_yc_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, planar_to_yc_row_sse2},
    {"avx2", CPU_FLAG_AVX2, planar_to_yc_row_avx2},
#endif
};
static const KernelVariant<PackedToYcRowFn> packed_to_yc_row_variants[] = {
    {"c", 0, packed_to_yc_row_c},
#if NOREL_X86
    {"avx2", CPU_FLAG_AVX2, packed_to_yc_row_avx2},
#endif
};
static const KernelVariant<YcToPlanarRowsFn> yc_to_planar_rows_variants[] = {
    {"c", 0, yc_to_planar_rows_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, yc_to_planar_rows_sse2},
    {"avx2", CPU_FLAG_AVX2, yc_to_planar_rows_avx2},
#endif
};
static const KernelVariant<YcToPackedRowFn> yc_to_packed_row_variants[] = {
    {"c", 0, yc_to_packed_row_c},
#if NOREL_X86
    {"avx2", CPU_FLAG_AVX2, yc_to_packed_row_avx2},
#endif
};

DispatchedKernel<PlanarToYcRowFn> planar_to_yc_row_kernel = {planar_to_yc_row_variants,
                                                             std::size(planar_to_yc_row_variants)};
DispatchedKernel<PackedToYcRowFn> packed_to_yc_row_kernel = {packed_to_yc_row_variants,
                                                             std::size(packed_to_yc_row_variants)};
DispatchedKernel<YcToPlanarRowsFn> yc_to_planar_rows_kernel = {yc_to_planar_rows_variants,
                                                               std::size(yc_to_planar_rows_variants)};
DispatchedKernel<YcToPackedRowFn> yc_to_packed_row_kernel = {yc_to_packed_row_variants,
                                                             std::size(yc_to_packed_row_variants)};

void select_yuv_kernels(YuvKernels* kernels)
{
    kernels->planar_to_yc = best_variant(planar_to_yc_row_kernel);
    kernels->packed_to_yc = best_variant(packed_to_yc_row_kernel);
    kernels->yc_to_planar = best_variant(yc_to_planar_rows_kernel);
    kernels->yc_to_packed = best_variant(yc_to_packed_row_kernel);
}

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
