// 8-bit YUV rows <-> PIXEL_YC rows sixteen pixels at a time in AVX2. Each
// 128-bit lane holds eight pixels: codes become values through the exact
// CodeMap, and the three components of a lane's pixels are interleaved or
// taken apart by one byte shuffle per component and two word blends per
// vector (store_pixels, load_pixels). What is left of a row, and maps that
// are not linear, go to the references.
#include "engine/x86/yuv_yc.h"
#include "engine/yuv_yc.h"
#include "engine/x86/rgba_yc_packed.h"

namespace {

using V = __m256i;

// Word k of each lane from word index[k] of the same lane.
V word_shuffle(const int (&index)[8])
{
    char bytes[32];
    for (int lane = 0; lane < 2; ++lane) {
        for (int k = 0; k < 8; ++k) {
            bytes[16 * lane + 2 * k] = static_cast<char>(2 * index[k]);
            bytes[16 * lane + 2 * k + 1] = static_cast<char>(2 * index[k] + 1);
        }
    }
    return _mm256_loadu_si256(reinterpret_cast<const V*>(bytes));
}

// A lane's words y0..7, cb0..7 and cr0..7 as the pixels' 24 components in
// three vectors: component c is y, cb, cr for c mod 3 = 0, 1, 2. Arranged
// so, y0 y3 y6 y1 y4 y7 y2 y5 has every y where each vector wants it (words
// 0, 3, 6 of the first, 1, 4, 7 of the second, 2, 5 of the third), and
// likewise for cb and cr; the shuffles are their own inverses for y and
// each other's for cb and cr.
struct Interleave {
    V y_order = word_shuffle({0, 3, 6, 1, 4, 7, 2, 5});
    V cb_order = word_shuffle({5, 0, 3, 6, 1, 4, 7, 2});
    V cr_order = word_shuffle({2, 5, 0, 3, 6, 1, 4, 7});
    V cb_back = word_shuffle({1, 4, 7, 2, 5, 0, 3, 6});
    V cr_back = word_shuffle({2, 5, 0, 3, 6, 1, 4, 7});
};

// Blend masks: words 0, 3, 6; 1, 4, 7; 2, 5 of a lane.
constexpr int words_036 = 0x49, words_147 = 0x92, words_25 = 0x24;

void store_pixels(PIXEL_YC* out, V y, V cb, V cr, const Interleave& order)
{
    const V ys = _mm256_shuffle_epi8(y, order.y_order);
    const V cbs = _mm256_shuffle_epi8(cb, order.cb_order);
    const V crs = _mm256_shuffle_epi8(cr, order.cr_order);
    V components[3];
    components[0] = _mm256_blend_epi16(_mm256_blend_epi16(ys, cbs, words_147), crs, words_25);
    components[1] = _mm256_blend_epi16(_mm256_blend_epi16(ys, cbs, words_25), crs, words_036);
    components[2] = _mm256_blend_epi16(_mm256_blend_epi16(ys, cbs, words_036), crs, words_147);
    Avx2RgbaOps::store_components(reinterpret_cast<int16_t*>(out), components);
}

void load_pixels(const PIXEL_YC* in, V& y, V& cb, V& cr, const Interleave& order)
{
    V c[3];
    Avx2RgbaOps::load_components(c, reinterpret_cast<const int16_t*>(in));
    y = _mm256_shuffle_epi8(_mm256_blend_epi16(_mm256_blend_epi16(c[0], c[1], words_147), c[2], words_25),
                            order.y_order);
    cb = _mm256_shuffle_epi8(_mm256_blend_epi16(_mm256_blend_epi16(c[2], c[0], words_147), c[1], words_25),
                             order.cb_back);
    cr = _mm256_shuffle_epi8(_mm256_blend_epi16(_mm256_blend_epi16(c[1], c[2], words_147), c[0], words_25),
                             order.cr_back);
}

// Sixteen codes (in words) to values: with a RoundingMap, one multiply-high
// with rounding of d << shift (d = code - offset); otherwise the pairs
// (d·128, d) times (factor >> 7, factor & 127) of the CodeMap give d·factor
// in 32 bits.
struct ValueMap {
    bool rounding;
    V offset, factor, bias, rounding_factor;
    __m128i shift;
    ValueMap(const CodeMap& map, const RoundingMap& round, bool exact)
        : rounding(exact), offset(_mm256_set1_epi16(static_cast<short>(exact ? round.offset : map.offset))),
          factor(_mm256_set1_epi32(((map.factor & 127) << 16) | (map.factor >> 7))),
          bias(_mm256_set1_epi32(map.bias)), rounding_factor(_mm256_set1_epi16(static_cast<short>(round.factor))),
          shift(_mm_cvtsi32_si128(round.shift))
    {
    }
    V values(V codes) const
    {
        const V d = _mm256_sub_epi16(codes, offset);
        if (rounding)
            return _mm256_mulhrs_epi16(_mm256_sll_epi16(d, shift), rounding_factor);
        const V high = _mm256_slli_epi16(d, 7);
        auto products = [&](V pairs) {
            return _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(pairs, factor), bias), code_map_shift);
        };
        return _mm256_packs_epi32(products(_mm256_unpacklo_epi16(high, d)), products(_mm256_unpackhi_epi16(high, d)));
    }
};

ValueMap luma_values(const YuvRowMaps* maps)
{
    return ValueMap(maps->luma_map, maps->luma_rounding, maps->rounding);
}
ValueMap chroma_values(const YuvRowMaps* maps)
{
    return ValueMap(maps->chroma_map, maps->chroma_rounding, maps->rounding);
}

// Sixteen values (in words) to codes before clamping: (value·span + 2048)
// >> 12 is (value · 8·span + 2^14) >> 15, a multiply-high with rounding.
struct CodeScale {
    V span, offset;
    explicit CodeScale(const SampleScale& scale)
        : span(_mm256_set1_epi16(static_cast<short>(8 * scale.span))),
          offset(_mm256_set1_epi16(static_cast<short>(scale.offset)))
    {
    }
    V codes(V values) const { return _mm256_add_epi16(_mm256_mulhrs_epi16(values, span), offset); }
};

// Sixteen words to bytes in order, clamped to 0..255, in the low 128 bits.
__m128i words_to_bytes(V words)
{
    const V packed = _mm256_packus_epi16(words, words);
    return _mm256_castsi256_si128(_mm256_permute4x64_epi64(packed, 0x08));
}

// The chroma of sixteen pixels' pairs, each over `rows` rows: block means
// (2·sum + count) >> (log2 count + 1), as codes. Words of the result: cb of
// pairs 0..3, cr of pairs 0..3 in the low lane; pairs 4..7 in the high.
V pair_codes(V cb, V cr, V cb2, V cr2, int rows, const CodeScale& scale)
{
    const V one = _mm256_set1_epi16(1);
    V sum_cb = _mm256_madd_epi16(cb, one), sum_cr = _mm256_madd_epi16(cr, one);
    if (rows == 2) {
        sum_cb = _mm256_add_epi32(sum_cb, _mm256_madd_epi16(cb2, one));
        sum_cr = _mm256_add_epi32(sum_cr, _mm256_madd_epi16(cr2, one));
    }
    const V count = _mm256_set1_epi32(2 * rows);
    const int shift = rows == 2 ? 3 : 2;
    auto means = [&](V sum) { return _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(sum, sum), count), shift); };
    return scale.codes(_mm256_packs_epi32(means(sum_cb), means(sum_cr)));
}

}  // namespace

void planar_to_yc_row_avx2(PIXEL_YC* out, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int count,
                           int shift_x, const YuvRowMaps* maps)
{
    int x = 0;
    if ((maps->linear || maps->rounding) && shift_x <= 1) {
        const Interleave order;
        const ValueMap luma = luma_values(maps), chroma = chroma_values(maps);
        auto chroma_codes = [&](const uint8_t* plane) {
            if (shift_x == 0)
                return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(plane + x)));
            const __m128i eight = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(plane + x / 2));
            return _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(eight, eight));
        };
        for (; x + 16 <= count; x += 16) {
            const V luma_codes = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x)));
            store_pixels(out + x, luma.values(luma_codes), chroma.values(chroma_codes(cb)),
                         chroma.values(chroma_codes(cr)), order);
        }
    }
    planar_to_yc_row_c(out + x, y + x, cb + (x >> shift_x), cr + (x >> shift_x), count - x, shift_x, maps);
}

void packed_to_yc_row_avx2(PIXEL_YC* out, const uint8_t* in, int count, int luma_first, const YuvRowMaps* maps)
{
    int x = 0;
    if (maps->linear || maps->rounding) {
        const Interleave order;
        const ValueMap luma = luma_values(maps), chroma = chroma_values(maps);
        const V low_bytes = _mm256_set1_epi16(0x00FF);
        for (; x + 16 <= count; x += 16) {
            const V bytes = _mm256_loadu_si256(reinterpret_cast<const V*>(in + 2 * x));
            const V low = _mm256_and_si256(bytes, low_bytes), high = _mm256_srli_epi16(bytes, 8);
            const V y = luma.values(luma_first ? low : high);
            // Words cb0 cr0 cb1 cr1 ...: each pair's cb and cr, for both its pixels.
            const V c = chroma.values(luma_first ? high : low);
            const V cb = _mm256_blend_epi16(c, _mm256_slli_epi32(c, 16), 0xAA);
            const V cr = _mm256_blend_epi16(_mm256_srli_epi32(c, 16), c, 0xAA);
            store_pixels(out + x, y, cb, cr, order);
        }
    }
    packed_to_yc_row_c(out + x, in + 2 * x, count - x, luma_first, maps);
}

void yc_to_planar_rows_avx2(uint8_t* y0, uint8_t* y1, uint8_t* cb, uint8_t* cr, const PIXEL_YC* in,
                            ptrdiff_t pitch, int rows, int count, int shift_x, const YuvRowMaps* maps)
{
    int x = 0;
    // Blocks two wide and up to two high, or single pixels.
    if ((shift_x == 1 && rows <= 2) || (shift_x == 0 && rows == 1)) {
        const Interleave order;
        const CodeScale luma(maps->luma), chroma(maps->chroma);
        // Pairs' codes as cb0..7 then cr0..7.
        const __m128i split = _mm_setr_epi8(0, 1, 2, 3, 8, 9, 10, 11, 4, 5, 6, 7, 12, 13, 14, 15);
        for (; x + 16 <= count; x += 16) {
            V y, u, v, y2 = V(), u2 = V(), v2 = V();
            load_pixels(in + x, y, u, v, order);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(y0 + x), words_to_bytes(luma.codes(y)));
            if (rows == 2) {
                load_pixels(in + pitch + x, y2, u2, v2, order);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(y1 + x), words_to_bytes(luma.codes(y2)));
            }
            if (shift_x == 0) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(cb + x), words_to_bytes(chroma.codes(u)));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(cr + x), words_to_bytes(chroma.codes(v)));
                continue;
            }
            const __m128i codes = _mm_shuffle_epi8(words_to_bytes(pair_codes(u, v, u2, v2, rows, chroma)), split);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(cb + x / 2), codes);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(cr + x / 2), _mm_unpackhi_epi64(codes, codes));
        }
    }
    yc_to_planar_rows_c(y0 + x, y1 != nullptr ? y1 + x : nullptr, cb + (x >> shift_x), cr + (x >> shift_x),
                        in + x, pitch, rows, count - x, shift_x, maps);
}

void yc_to_packed_row_avx2(uint8_t* out, const PIXEL_YC* in, int count, int luma_first, const YuvRowMaps* maps)
{
    int x = 0;
    const Interleave order;
    const CodeScale luma(maps->luma), chroma(maps->chroma);
    // Pairs' codes as cb0 cr0 cb1 cr1 ... cb7 cr7.
    const __m128i pairs = _mm_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
    for (; x + 16 <= count; x += 16) {
        V y, u, v;
        load_pixels(in + x, y, u, v, order);
        const __m128i luma_bytes = words_to_bytes(luma.codes(y));
        const __m128i chroma_bytes = _mm_shuffle_epi8(words_to_bytes(pair_codes(u, v, V(), V(), 1, chroma)), pairs);
        const __m128i first = luma_first ? luma_bytes : chroma_bytes;
        const __m128i second = luma_first ? chroma_bytes : luma_bytes;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * x), _mm_unpacklo_epi8(first, second));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * x + 16), _mm_unpackhi_epi8(first, second));
    }
    yc_to_packed_row_c(out + 2 * x, in + x, count - x, luma_first, maps);
}
