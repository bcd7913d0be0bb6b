#include "engine/yuv_yc.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The values of the scale last used on this thread for luma (slot 0) or
// chroma (slot 1): hosts convert a frame a few rows at a time, with the same
// scales for every call.
const CodeValues& cached_code_values(const SampleScale& scale, int depth, int slot)
{
    struct Entry {
        SampleScale scale;
        int depth;
        CodeValues values;
    };
    thread_local Entry entries[2] = {{{0, 0, -1}, 0, {}}, {{0, 0, -1}, 0, {}}};
    Entry& e = entries[slot];
    if (e.depth != depth || e.scale.offset != scale.offset || e.scale.span != scale.span ||
        e.scale.max_code != scale.max_code)
        e = Entry{scale, depth, code_values(scale, depth)};
    return e.values;
}

// Codes to values through the table; with SSE2 for 8-bit samples with a
// CodeMap sixteen at a time, the code - offset pairs (d·128, d) times
// (factor >> 7, factor & 127) giving d·factor in 32 bits.
template <typename Sample>
void codes_to_values(const Sample* codes, int count, const short* table, int max_code, const CodeMap* linear,
                     short* values)
{
    int i = 0;
#if defined(__SSE2__)
    if constexpr (std::is_same_v<Sample, uint8_t>) {
        if (linear != nullptr) {
            const __m128i offset = _mm_set1_epi16(static_cast<short>(linear->offset));
            const __m128i factor = _mm_set1_epi32(((linear->factor & 127) << 16) | (linear->factor >> 7));
            const __m128i bias = _mm_set1_epi32(linear->bias);
            auto eight_values = [&](__m128i differences) {
                const __m128i high_part = _mm_slli_epi16(differences, 7);
                auto products = [&](__m128i pairs) {
                    return _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(pairs, factor), bias), code_map_shift);
                };
                return _mm_packs_epi32(products(_mm_unpacklo_epi16(high_part, differences)),
                                       products(_mm_unpackhi_epi16(high_part, differences)));
            };
            const __m128i zero = _mm_setzero_si128();
            for (; i + 16 <= count; i += 16) {
                const __m128i sixteen = _mm_loadu_si128(reinterpret_cast<const __m128i*>(codes + i));
                const __m128i low = _mm_sub_epi16(_mm_unpacklo_epi8(sixteen, zero), offset);
                const __m128i high = _mm_sub_epi16(_mm_unpackhi_epi8(sixteen, zero), offset);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(values + i), eight_values(low));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(values + i + 8), eight_values(high));
            }
        }
    }
#endif
    for (; i < count; ++i)
        values[i] = table[table_index(codes[i], max_code)];
}

template <typename Sample>
void codes_to_values(const Sample* codes, int count, const CodeValues& map, short* values)
{
    codes_to_values(codes, count, map.table.data(), static_cast<int>(map.table.size()) - 1,
                    map.linear ? &*map.linear : nullptr, values);
}

#if defined(__SSE2__)
// Stores four pixels held as [y cb cr junk] 64-bit lanes in `first` and
// `second`. Each 8-byte store overlaps the next pixel's first 2 bytes, which
// the following store overwrites, so the caller must own the pixel after
// the last one.
inline void store_four_pixels(__m128i first, __m128i second, PIXEL_YC* out)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), first);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 1), _mm_unpackhi_epi64(first, first));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2), second);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3), _mm_unpackhi_epi64(second, second));
}

// Eight pixels from eight y, cb and cr values each.
inline void store_eight_pixels(__m128i y, __m128i cb, __m128i cr, PIXEL_YC* out)
{
    const __m128i y_cb_low = _mm_unpacklo_epi16(y, cb);
    const __m128i y_cb_high = _mm_unpackhi_epi16(y, cb);
    const __m128i cr_low = _mm_unpacklo_epi16(cr, cr);
    const __m128i cr_high = _mm_unpackhi_epi16(cr, cr);
    store_four_pixels(_mm_unpacklo_epi32(y_cb_low, cr_low), _mm_unpackhi_epi32(y_cb_low, cr_low), out);
    store_four_pixels(_mm_unpacklo_epi32(y_cb_high, cr_high), _mm_unpackhi_epi32(y_cb_high, cr_high), out + 4);
}

inline __m128i load_eight(const short* values)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(values));
}
#endif

// Writes `width` pixels from y and from cb, cr widened 2^shift_x times:
// with SSE2 for shift_x 0 and 1 sixteen pixels at a time while a pixel
// follows them (their stores reach into it), the rest one at a time.
void interleave_widened(const short* y, const short* cb, const short* cr, int width, int shift_x,
                       PIXEL_YC* out)
{
    int x = 0;
#if defined(__SSE2__)
    if (shift_x == 0) {
        for (; x + 16 < width; x += 16) {
            store_eight_pixels(load_eight(y + x), load_eight(cb + x), load_eight(cr + x), out + x);
            store_eight_pixels(load_eight(y + x + 8), load_eight(cb + x + 8), load_eight(cr + x + 8), out + x + 8);
        }
    } else if (shift_x == 1) {
        for (; x + 16 < width; x += 16) {
            const __m128i narrow_cb = load_eight(cb + x / 2);
            const __m128i narrow_cr = load_eight(cr + x / 2);
            store_eight_pixels(load_eight(y + x), _mm_unpacklo_epi16(narrow_cb, narrow_cb),
                               _mm_unpacklo_epi16(narrow_cr, narrow_cr), out + x);
            store_eight_pixels(load_eight(y + x + 8), _mm_unpackhi_epi16(narrow_cb, narrow_cb),
                               _mm_unpackhi_epi16(narrow_cr, narrow_cr), out + x + 8);
        }
    }
#endif
    for (; x < width; ++x) {
        out[x].y = y[x];
        out[x].cb = cb[x >> shift_x];
        out[x].cr = cr[x >> shift_x];
    }
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
    const CodeValues& luma = cached_code_values(luma_scale(layout), layout.depth, 0);
    const CodeValues& chroma = cached_code_values(chroma_scale(layout), layout.depth, 1);
    const int chroma_width = (width + (1 << layout.chroma_shift_x) - 1) >> layout.chroma_shift_x;
    // Hosts convert a row at a time: the rows' values are kept for the thread.
    thread_local std::vector<short> y, cb, cr;
    y.resize(width);
    cb.assign(chroma_width, 0);
    cr.assign(chroma_width, 0);
    int converted_row = -1;
    for (int r = 0; r < height; ++r) {
        codes_to_values(plane_row<Sample>(planes, 0, r), width, luma, y.data());
        const int chroma_row = r >> layout.chroma_shift_y;
        if (layout.has_chroma && chroma_row != converted_row) {
            codes_to_values(plane_row<Sample>(planes, 1, chroma_row), chroma_width, chroma, cb.data());
            codes_to_values(plane_row<Sample>(planes, 2, chroma_row), chroma_width, chroma, cr.data());
            converted_row = chroma_row;
        }
        interleave_widened(y.data(), cb.data(), cr.data(), width, layout.chroma_shift_x,
                           yc + static_cast<long long>(r) * pitch);
    }
}

// yc_to_code with the division by 4096 as a shift: floor((2·v·span +
// 4096) / 8192) is (v·span + 2048) >> 12, and v·span fits in 32 bits.
inline int value_to_code(int value, const SampleScale& scale)
{
    const int code = scale.offset + ((value * scale.span + 2048) >> 12);
    return std::clamp(code, 0, scale.max_code);
}

#if defined(__SSE2__)
// y, cb and cr of eight pixels. Reads the first 2 bytes of the pixel after
// them, so the caller must own it.
inline void load_eight_pixels(const PIXEL_YC* in, __m128i& y, __m128i& cb, __m128i& cr)
{
    // Pixels i and i + 1 as [y cb cr junk] 64-bit lanes.
    auto two_pixels = [in](int i) {
        return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + i)),
                                  _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + i + 1)));
    };
    // Four pixels as [y y y y cb cb cb cb] and [cr cr cr cr junk].
    auto four_pixels = [&](int i, __m128i& y_cb, __m128i& cr_junk) {
        const __m128i first = two_pixels(i), second = two_pixels(i + 2);
        const __m128i even = _mm_unpacklo_epi16(first, second);  // y0 y2 cb0 cb2 cr0 cr2
        const __m128i odd = _mm_unpackhi_epi16(first, second);   // y1 y3 cb1 cb3 cr1 cr3
        y_cb = _mm_unpacklo_epi16(even, odd);
        cr_junk = _mm_unpackhi_epi16(even, odd);
    };
    __m128i y_cb_low, cr_low, y_cb_high, cr_high;
    four_pixels(0, y_cb_low, cr_low);
    four_pixels(4, y_cb_high, cr_high);
    y = _mm_unpacklo_epi64(y_cb_low, y_cb_high);
    cb = _mm_unpackhi_epi64(y_cb_low, y_cb_high);
    cr = _mm_unpacklo_epi64(cr_low, cr_high);
}

// value_to_code of eight values before the clamping, in 16-bit lanes: each
// lane pair (value, 1) times (span, 2048) gives value·span + 2048.
inline __m128i values_to_unclamped_codes(__m128i values, const SampleScale& scale)
{
    const __m128i span_and_half = _mm_set1_epi32((2048 << 16) | scale.span);
    const __m128i one = _mm_set1_epi16(1);
    const __m128i low = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(values, one), span_and_half), 12);
    const __m128i high = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(values, one), span_and_half), 12);
    return _mm_add_epi16(_mm_packs_epi32(low, high), _mm_set1_epi16(static_cast<short>(scale.offset)));
}
#endif

// Luma codes of a row: with SSE2 for 8-bit samples sixteen pixels at a
// time while a pixel follows them, where packing to unsigned bytes is the
// clamping to 0..255.
template <typename Sample>
void yc_row_to_luma_fast(const PIXEL_YC* in, int width, const SampleScale& scale, Sample* luma)
{
    int x = 0;
#if defined(__SSE2__)
    if constexpr (std::is_same_v<Sample, uint8_t>) {
        for (; x + 16 < width; x += 16) {
            __m128i y_low, y_high, cb, cr;
            load_eight_pixels(in + x, y_low, cb, cr);
            load_eight_pixels(in + x + 8, y_high, cb, cr);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(luma + x),
                             _mm_packus_epi16(values_to_unclamped_codes(y_low, scale),
                                              values_to_unclamped_codes(y_high, scale)));
        }
    }
#endif
    for (; x < width; ++x)
        luma[x] = static_cast<Sample>(value_to_code(in[x].y, scale));
}

// Chroma codes of blocks two pixels wide and `rows` high: with SSE2 for
// 8-bit samples and rows 1 or 2, sixteen pixels at a time while a pixel
// follows them. A block's mean is (2·sum + count) >> (log2 count + 1), as
// in block_means_to_codes. Returns the number of pixels done.
template <typename Sample>
int pair_blocks_to_codes(const PIXEL_YC* in, int pitch, int rows, int width, const SampleScale& scale,
                         Sample* cb, Sample* cr)
{
    int x = 0;
#if defined(__SSE2__)
    if constexpr (std::is_same_v<Sample, uint8_t>) {
        if (rows > 2)
            return 0;
        const __m128i count = _mm_set1_epi32(2 * rows);
        const int shift = rows == 2 ? 3 : 2;
        const __m128i one = _mm_set1_epi16(1);
        // Block sums of eight pixels, in four 32-bit lanes each.
        auto block_sums = [&](const PIXEL_YC* at, __m128i& sum_cb, __m128i& sum_cr) {
            __m128i y, cb_values, cr_values;
            load_eight_pixels(at, y, cb_values, cr_values);
            sum_cb = _mm_madd_epi16(cb_values, one);
            sum_cr = _mm_madd_epi16(cr_values, one);
            if (rows == 2) {
                load_eight_pixels(at + pitch, y, cb_values, cr_values);
                sum_cb = _mm_add_epi32(sum_cb, _mm_madd_epi16(cb_values, one));
                sum_cr = _mm_add_epi32(sum_cr, _mm_madd_epi16(cr_values, one));
            }
        };
        auto means = [&](__m128i sum) { return _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(sum, sum), count), shift); };
        auto store_codes = [&](__m128i low_sums, __m128i high_sums, Sample* codes) {
            const __m128i values = _mm_packs_epi32(means(low_sums), means(high_sums));
            const __m128i unclamped = values_to_unclamped_codes(values, scale);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(codes), _mm_packus_epi16(unclamped, unclamped));
        };
        for (; x + 16 < width; x += 16) {
            __m128i cb_low, cr_low, cb_high, cr_high;
            block_sums(in + x, cb_low, cr_low);
            block_sums(in + x + 8, cb_high, cr_high);
            store_codes(cb_low, cb_high, cb + x / 2);
            store_codes(cr_low, cr_high, cr + x / 2);
        }
    }
#endif
    return x;
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
    auto luma_rows = [&](int first, int count) {
        for (int r = first; r < first + count; ++r)
            yc_row_to_luma_fast(yc + static_cast<long long>(r) * pitch, width, luma,
                                plane_row_out<Sample>(planes, 0, r));
    };
    if (!layout.has_chroma) {
        luma_rows(0, height);
        return;
    }
    const SampleScale chroma = chroma_scale(layout);
    const int block_h = 1 << layout.chroma_shift_y;
    if constexpr (std::is_same_v<Sample, uint8_t>) {
        if (block_h <= 2) {
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
    thread_local std::vector<int> sum_cb, sum_cr;
    sum_cb.resize(width);
    sum_cr.resize(width);
    // Each block row's luma and chroma together, while its rows are cached.
    for (int r0 = 0, cy = 0; r0 < height; r0 += block_h, ++cy) {
        const int rows = std::min(height - r0, block_h);
        luma_rows(r0, rows);
        const PIXEL_YC* in = yc + static_cast<long long>(r0) * pitch;
        Sample* cb = plane_row_out<Sample>(planes, 1, cy);
        Sample* cr = plane_row_out<Sample>(planes, 2, cy);
        const int done = layout.chroma_shift_x == 1 ? pair_blocks_to_codes(in, pitch, rows, width, chroma, cb, cr) : 0;
        const int rest = width - done;
        sum_columns(in + done, pitch, rows, rest, sum_cb.data(), sum_cr.data());
        sums_to_chroma(sum_cb.data(), rest, rows, layout.chroma_shift_x, chroma, cb + (done >> layout.chroma_shift_x));
        sums_to_chroma(sum_cr.data(), rest, rows, layout.chroma_shift_x, chroma, cr + (done >> layout.chroma_shift_x));
    }
}

// The conversions above as row kernels: what the variant table calls "sse2".
void planar_to_yc_row_sse2(PIXEL_YC* out, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int count,
                           int shift_x, const YuvRowMaps* maps)
{
    const int chroma_width = (count + (1 << shift_x) - 1) >> shift_x;
    thread_local std::vector<short> values;
    values.resize(static_cast<size_t>(count) + 2 * chroma_width);
    short* y_values = values.data();
    short* cb_values = y_values + count;
    short* cr_values = cb_values + chroma_width;
    const CodeMap* luma_map = maps->linear ? &maps->luma_map : nullptr;
    const CodeMap* chroma_map = maps->linear ? &maps->chroma_map : nullptr;
    codes_to_values(y, count, maps->luma_values, 255, luma_map, y_values);
    codes_to_values(cb, chroma_width, maps->chroma_values, 255, chroma_map, cb_values);
    codes_to_values(cr, chroma_width, maps->chroma_values, 255, chroma_map, cr_values);
    interleave_widened(y_values, cb_values, cr_values, count, shift_x, out);
}

void yc_to_planar_rows_sse2(uint8_t* y0, uint8_t* y1, uint8_t* cb, uint8_t* cr, const PIXEL_YC* in,
                            ptrdiff_t pitch, int rows, int count, int shift_x, const YuvRowMaps* maps)
{
    yc_row_to_luma_fast(in, count, maps->luma, y0);
    if (rows > 1)
        yc_row_to_luma_fast(in + pitch, count, maps->luma, y1);
    const int done = shift_x == 1 ? pair_blocks_to_codes(in, static_cast<int>(pitch), rows, count, maps->chroma, cb, cr) : 0;
    const int rest = count - done;
    thread_local std::vector<int> sums;
    sums.resize(2 * static_cast<size_t>(rest));
    sum_columns(in + done, static_cast<int>(pitch), rows, rest, sums.data(), sums.data() + rest);
    sums_to_chroma(sums.data(), rest, rows, shift_x, maps->chroma, cb + (done >> shift_x));
    sums_to_chroma(sums.data() + rest, rest, rows, shift_x, maps->chroma, cr + (done >> shift_x));
}

}  // namespace

YuvRowMaps yuv_row_maps(const YuvLayout& layout)
{
    const CodeValues& luma = cached_code_values(luma_scale(layout), 8, 0);
    const CodeValues& chroma = cached_code_values(chroma_scale(layout), 8, 1);
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
#if defined(__SSE2__)
    {"sse2", CPU_FLAG_SSE2, planar_to_yc_row_sse2},
#endif
#if NOREL_X86
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
#if defined(__SSE2__)
    {"sse2", CPU_FLAG_SSE2, yc_to_planar_rows_sse2},
#endif
#if NOREL_X86
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
