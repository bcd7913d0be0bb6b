// 8-bit YUV rows <-> PIXEL_YC rows sixteen pixels at a time in SSE2: codes
// become values through the exact CodeMap, values become codes by a
// multiply, add and shift, and pixels are interleaved or taken apart by
// 64-bit moves and word unpacks. What is left of a row, and the shapes
// and maps these do not take, go to the references.
#include <emmintrin.h>

#include "engine/x86/yuv_yc.h"

namespace {

// Sixteen codes' values through the map: the code - offset pairs (d·128, d)
// times (factor >> 7, factor & 127) give d·factor in 32 bits.
struct LinearValues {
    __m128i offset, factor, bias;
    explicit LinearValues(const CodeMap& map)
        : offset(_mm_set1_epi16(static_cast<short>(map.offset))),
          factor(_mm_set1_epi32(((map.factor & 127) << 16) | (map.factor >> 7))),
          bias(_mm_set1_epi32(map.bias))
    {
    }
    __m128i eight(__m128i codes) const
    {
        const __m128i differences = _mm_sub_epi16(codes, offset);
        const __m128i high_part = _mm_slli_epi16(differences, 7);
        auto products = [&](__m128i pairs) {
            return _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(pairs, factor), bias), code_map_shift);
        };
        return _mm_packs_epi32(products(_mm_unpacklo_epi16(high_part, differences)),
                               products(_mm_unpackhi_epi16(high_part, differences)));
    }
};

// Stores four pixels held as [y cb cr junk] 64-bit lanes in `first` and
// `second`. Each 8-byte store overlaps the next pixel's first 2 bytes, which
// the following store overwrites, so the caller must own the pixel after
// the last one.
void store_four_pixels(__m128i first, __m128i second, PIXEL_YC* out)
{
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), first);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 1), _mm_unpackhi_epi64(first, first));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2), second);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 3), _mm_unpackhi_epi64(second, second));
}

// Eight pixels from eight y, cb and cr values each.
void store_eight_pixels(__m128i y, __m128i cb, __m128i cr, PIXEL_YC* out)
{
    const __m128i y_cb_low = _mm_unpacklo_epi16(y, cb);
    const __m128i y_cb_high = _mm_unpackhi_epi16(y, cb);
    const __m128i cr_low = _mm_unpacklo_epi16(cr, cr);
    const __m128i cr_high = _mm_unpackhi_epi16(cr, cr);
    store_four_pixels(_mm_unpacklo_epi32(y_cb_low, cr_low), _mm_unpackhi_epi32(y_cb_low, cr_low), out);
    store_four_pixels(_mm_unpacklo_epi32(y_cb_high, cr_high), _mm_unpackhi_epi32(y_cb_high, cr_high), out + 4);
}

// y, cb and cr of eight pixels. Reads the first 2 bytes of the pixel after
// them, so the caller must own it.
void load_eight_pixels(const PIXEL_YC* in, __m128i& y, __m128i& cb, __m128i& cr)
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

// Eight values' codes before the clamping, (value·span + 2048) >> 12 +
// offset, in 16-bit lanes: each lane pair (value, 1) times (span, 2048)
// gives value·span + 2048.
__m128i unclamped_codes(__m128i values, const SampleScale& scale)
{
    const __m128i span_and_half = _mm_set1_epi32((2048 << 16) | scale.span);
    const __m128i one = _mm_set1_epi16(1);
    const __m128i low = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(values, one), span_and_half), 12);
    const __m128i high = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(values, one), span_and_half), 12);
    return _mm_add_epi16(_mm_packs_epi32(low, high), _mm_set1_epi16(static_cast<short>(scale.offset)));
}

}  // namespace

void planar_to_yc_row_sse2(PIXEL_YC* out, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int count,
                           int shift_x, const YuvRowMaps* maps)
{
    int x = 0;
    if (maps->linear && shift_x <= 1) {
        const LinearValues luma(maps->luma_map), chroma(maps->chroma_map);
        const __m128i zero = _mm_setzero_si128();
        // Sixteen chroma codes, each pixel's, as two vectors of words.
        auto chroma_codes = [&](const uint8_t* plane, __m128i& low, __m128i& high) {
            __m128i codes;
            if (shift_x == 0) {
                codes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(plane + x));
            } else {
                const __m128i eight = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(plane + x / 2));
                codes = _mm_unpacklo_epi8(eight, eight);
            }
            low = chroma.eight(_mm_unpacklo_epi8(codes, zero));
            high = chroma.eight(_mm_unpackhi_epi8(codes, zero));
        };
        for (; x + 16 < count; x += 16) {
            const __m128i luma_codes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
            __m128i cb_low, cb_high, cr_low, cr_high;
            chroma_codes(cb, cb_low, cb_high);
            chroma_codes(cr, cr_low, cr_high);
            store_eight_pixels(luma.eight(_mm_unpacklo_epi8(luma_codes, zero)), cb_low, cr_low, out + x);
            store_eight_pixels(luma.eight(_mm_unpackhi_epi8(luma_codes, zero)), cb_high, cr_high, out + x + 8);
        }
    }
    planar_to_yc_row_c(out + x, y + x, cb + (x >> shift_x), cr + (x >> shift_x), count - x, shift_x, maps);
}

void yc_to_planar_rows_sse2(uint8_t* y0, uint8_t* y1, uint8_t* cb, uint8_t* cr, const PIXEL_YC* in,
                            ptrdiff_t pitch, int rows, int count, int shift_x, const YuvRowMaps* maps)
{
    int x = 0;
    // Blocks two pixels wide and up to two high: a block's mean is
    // (2·sum + count) >> (log2 count + 1), the reference's rounding.
    if (shift_x == 1 && rows <= 2) {
        const __m128i pixels = _mm_set1_epi32(2 * rows);
        const int shift = rows == 2 ? 3 : 2;
        const __m128i one = _mm_set1_epi16(1);
        auto luma_codes = [&](const PIXEL_YC* at, uint8_t* codes, __m128i& cb_sums, __m128i& cr_sums,
                              __m128i& cb_high_sums, __m128i& cr_high_sums) {
            __m128i low, high, cb_values, cr_values;
            load_eight_pixels(at, low, cb_values, cr_values);
            cb_sums = _mm_add_epi32(cb_sums, _mm_madd_epi16(cb_values, one));
            cr_sums = _mm_add_epi32(cr_sums, _mm_madd_epi16(cr_values, one));
            load_eight_pixels(at + 8, high, cb_values, cr_values);
            cb_high_sums = _mm_add_epi32(cb_high_sums, _mm_madd_epi16(cb_values, one));
            cr_high_sums = _mm_add_epi32(cr_high_sums, _mm_madd_epi16(cr_values, one));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(codes),
                             _mm_packus_epi16(unclamped_codes(low, maps->luma), unclamped_codes(high, maps->luma)));
        };
        auto means = [&](__m128i sum) { return _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(sum, sum), pixels), shift); };
        auto store_chroma = [&](__m128i low_sums, __m128i high_sums, uint8_t* codes) {
            const __m128i unclamped = unclamped_codes(_mm_packs_epi32(means(low_sums), means(high_sums)), maps->chroma);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(codes), _mm_packus_epi16(unclamped, unclamped));
        };
        for (; x + 16 < count; x += 16) {
            __m128i cb_low = _mm_setzero_si128(), cr_low = cb_low, cb_high = cb_low, cr_high = cb_low;
            luma_codes(in + x, y0 + x, cb_low, cr_low, cb_high, cr_high);
            if (rows == 2)
                luma_codes(in + pitch + x, y1 + x, cb_low, cr_low, cb_high, cr_high);
            store_chroma(cb_low, cb_high, cb + x / 2);
            store_chroma(cr_low, cr_high, cr + x / 2);
        }
    }
    yc_to_planar_rows_c(y0 + x, y1 != nullptr ? y1 + x : nullptr, cb + (x >> shift_x), cr + (x >> shift_x),
                        in + x, pitch, rows, count - x, shift_x, maps);
}
