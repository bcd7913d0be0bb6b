// RGBA <-> YC eight pixels per 128-bit lane, in the integer arithmetic of
// the references.
//
// Both directions work on dword pairs of 16-bit values, so that one
// multiply-add gives a pixel's component from two of its inputs:
// - to YC, a pixel's (R, G) and (B, A) pairs, broadcast to the lanes of its
//   three components (A's weight is 0);
// - to RGBA, the two dwords of a PIXEL_YC row that hold a pixel's y, cb and
//   cr, broadcast to its R, G, B and A lanes (A's weights are 0 and the
//   alpha bytes are put in afterwards).
// Every shuffle stays within a 128-bit lane; the AVX2 variant gives its two
// lanes eight pixels each and reorders only when loading and storing.
// Internal linkage, as in vector_ops.h.
#pragma once

#include "engine/rgba_yc.h"
#include "engine/x86/vector_ops.h"

namespace {

// Weights (a, b) for the dword pairs of lanes 0 .. 3, the same in every lane.
template <typename V>
V weight_pairs(V (*set)(int, int, int, int), int a0, int b0, int a1, int b1, int a2, int b2,
               int a3, int b3)
{
    auto pair = [](int a, int b) {
        return static_cast<int>((static_cast<uint32_t>(b) << 16) | (static_cast<uint32_t>(a) & 0xffff));
    };
    return set(pair(a3, b3), pair(a2, b2), pair(a1, b1), pair(a0, b0));
}

// Four pixels' twelve components as three groups of four dwords: group g
// holds components 4g .. 4g + 3, from the pixels `pixel_of` names.
template <typename Ops>
struct ToYcWeights {
    using V = typename Ops::V;
    V rg[3], ba[3];
    ToYcWeights()
    {
        // Component c of the twelve is y, cb, cr for c mod 3 = 0, 1, 2.
        const int from_r[3] = {YC_FROM_R_Y, YC_FROM_R_CB, YC_FROM_R_CR};
        const int from_g[3] = {YC_FROM_G_Y, YC_FROM_G_CB, YC_FROM_G_CR};
        const int from_b[3] = {YC_FROM_B_Y, YC_FROM_B_CB, YC_FROM_B_CR};
        for (int g = 0; g < 3; ++g) {
            int c[4];
            for (int i = 0; i < 4; ++i)
                c[i] = (4 * g + i) % 3;
            rg[g] = weight_pairs<V>(Ops::set_i32, from_r[c[0]], from_g[c[0]], from_r[c[1]],
                                    from_g[c[1]], from_r[c[2]], from_g[c[2]], from_r[c[3]],
                                    from_g[c[3]]);
            ba[g] = weight_pairs<V>(Ops::set_i32, from_b[c[0]], 0, from_b[c[1]], 0, from_b[c[2]], 0,
                                    from_b[c[3]], 0);
        }
    }
};

// Components 4g .. 4g + 3 of four pixels whose (R, G) and (B, A) pairs are
// the dwords of rg and ba; `Pixels` is the shuffle that puts each lane's pixel
// there.
template <typename Ops, int Pixels>
typename Ops::V to_yc_group(typename Ops::V rg, typename Ops::V ba, typename Ops::V w_rg,
                            typename Ops::V w_ba)
{
    const typename Ops::V sum = Ops::add_i32(
        Ops::madd_i16(Ops::template shuffle_i32<Pixels>(rg), w_rg),
        Ops::madd_i16(Ops::template shuffle_i32<Pixels>(ba), w_ba));
    return Ops::srai_i32(Ops::add_i32(sum, Ops::set1_i32(1 << (YC_FROM_RGB_SHIFT - 1))),
                         YC_FROM_RGB_SHIFT);
}

// The pixels of each group's lanes: (0, 0, 0, 1), (1, 1, 2, 2), (2, 3, 3, 3).
constexpr int pixels_of_group[3] = {0x40, 0xa5, 0xfe};

// Eight pixels per lane: two vectors of four pixels each in, three vectors of
// 24 components out.
template <typename Ops>
void to_yc_block(typename Ops::V out[3], const typename Ops::V in[2], const ToYcWeights<Ops>& w)
{
    using V = typename Ops::V;
    V groups[6];
    for (int half = 0; half < 2; ++half) {
        const V lo = Ops::unpacklo_u8(in[half]);  // (R, G), (B, A) of pixels 0, 1
        const V hi = Ops::unpackhi_u8(in[half]);  // and of pixels 2, 3
        const V rg = Ops::template pick_i32<0x88>(lo, hi);
        const V ba = Ops::template pick_i32<0xdd>(lo, hi);
        V* g = groups + 3 * half;
        g[0] = to_yc_group<Ops, pixels_of_group[0]>(rg, ba, w.rg[0], w.ba[0]);
        g[1] = to_yc_group<Ops, pixels_of_group[1]>(rg, ba, w.rg[1], w.ba[1]);
        g[2] = to_yc_group<Ops, pixels_of_group[2]>(rg, ba, w.rg[2], w.ba[2]);
    }
    for (int k = 0; k < 3; ++k)
        out[k] = Ops::packs_i32(groups[2 * k], groups[2 * k + 1]);
}

template <typename Ops>
int rgba_to_yc_blocks(PIXEL_YC* dst, const RgbaPixel* src, int count)
{
    using V = typename Ops::V;
    constexpr int pixels = Ops::lanes;  // eight per 128-bit lane
    const ToYcWeights<Ops> weights;
    int x = 0;
    for (; x + pixels <= count; x += pixels) {
        V in[2], out[3];
        Ops::load_rgba(in, src + x);
        to_yc_block<Ops>(out, in, weights);
        Ops::store_components(reinterpret_cast<int16_t*>(dst + x), out);
    }
    return x;
}

// To RGBA: for an even pixel of a pair, its (y, cb) and (cr, next y)
// dwords; for an odd one, (previous cr, y) and (cb, cr). Weights for the
// first and second dword of each, in lanes R, G, B, A.
template <typename Ops>
struct ToRgbaWeights {
    using V = typename Ops::V;
    V even_first, even_second, odd_first, odd_second, colour_mask;
    ToRgbaWeights()
    {
        even_first = weight_pairs<V>(Ops::set_i32, RGB_FROM_Y, 0, RGB_FROM_Y, G_FROM_CB, RGB_FROM_Y,
                                     B_FROM_CB, 0, 0);
        even_second = weight_pairs<V>(Ops::set_i32, R_FROM_CR, 0, G_FROM_CR, 0, 0, 0, 0, 0);
        odd_first = weight_pairs<V>(Ops::set_i32, 0, RGB_FROM_Y, 0, RGB_FROM_Y, 0, RGB_FROM_Y, 0, 0);
        odd_second = weight_pairs<V>(Ops::set_i32, 0, R_FROM_CR, G_FROM_CB, G_FROM_CR, B_FROM_CB, 0,
                                     0, 0);
        colour_mask = Ops::set1_i32(0x00ffffff);
    }
};

// One pixel's R, G, B (and 0 for A) as dwords, from the dwords `first` and
// `second` of the component vectors.
template <typename Ops, int First, int Second>
typename Ops::V to_rgba_pixel(typename Ops::V first_from, typename Ops::V second_from,
                              typename Ops::V w_first, typename Ops::V w_second)
{
    const typename Ops::V sum = Ops::add_i32(
        Ops::madd_i16(Ops::template shuffle_i32<First * 0x55>(first_from), w_first),
        Ops::madd_i16(Ops::template shuffle_i32<Second * 0x55>(second_from), w_second));
    return Ops::srai_i32(Ops::add_i32(sum, Ops::set1_i32(1 << (RGB_FROM_YC_SHIFT - 1))),
                         RGB_FROM_YC_SHIFT);
}

// Eight pixels per lane: their 24 components in three vectors (dwords
// D0 .. D11), out as two vectors of four RGBA pixels with alpha 0.
template <typename Ops>
void to_rgba_block(typename Ops::V out[2], const typename Ops::V in[3], const ToRgbaWeights<Ops>& w)
{
    using V = typename Ops::V;
    const V ef = w.even_first, es = w.even_second, of = w.odd_first, os = w.odd_second;
    // Pixel p takes D(3p/2) and the next dword; D(j) is dword j % 4 of in[j / 4].
    const V p0 = to_rgba_pixel<Ops, 0, 1>(in[0], in[0], ef, es);  // D0, D1
    const V p1 = to_rgba_pixel<Ops, 1, 2>(in[0], in[0], of, os);  // D1, D2
    const V p2 = to_rgba_pixel<Ops, 3, 0>(in[0], in[1], ef, es);  // D3, D4
    const V p3 = to_rgba_pixel<Ops, 0, 1>(in[1], in[1], of, os);  // D4, D5
    const V p4 = to_rgba_pixel<Ops, 2, 3>(in[1], in[1], ef, es);  // D6, D7
    const V p5 = to_rgba_pixel<Ops, 3, 0>(in[1], in[2], of, os);  // D7, D8
    const V p6 = to_rgba_pixel<Ops, 1, 2>(in[2], in[2], ef, es);  // D9, D10
    const V p7 = to_rgba_pixel<Ops, 2, 3>(in[2], in[2], of, os);  // D10, D11
    out[0] = Ops::packus_i16(Ops::packs_i32(p0, p1), Ops::packs_i32(p2, p3));
    out[1] = Ops::packus_i16(Ops::packs_i32(p4, p5), Ops::packs_i32(p6, p7));
}

template <typename Ops>
int yc_to_rgba_blocks(RgbaPixel* dst, const PIXEL_YC* src, const RgbaPixel* alpha_from, int count)
{
    using V = typename Ops::V;
    constexpr int pixels = Ops::lanes;  // eight per 128-bit lane
    const ToRgbaWeights<Ops> weights;
    int x = 0;
    for (; x + pixels <= count; x += pixels) {
        V in[3], out[2], alpha[2];
        Ops::load_components(in, reinterpret_cast<const int16_t*>(src + x));
        to_rgba_block<Ops>(out, in, weights);
        Ops::order_rgba(out);
        // Alpha is read before anything is stored: alpha_from may be dst.
        Ops::load_pixels(alpha, alpha_from + x);
        for (int i = 0; i < 2; ++i)
            out[i] = Ops::bit_or(Ops::bit_and(out[i], weights.colour_mask),
                                 Ops::and_not(weights.colour_mask, alpha[i]));
        Ops::store_pixels(dst + x, out);
    }
    return x;
}

// What the conversions need beyond vector_ops.h, and how each width loads
// and stores its blocks.
struct Sse2RgbaOps : Sse2Ops {
    static V set_i32(int d3, int d2, int d1, int d0) { return _mm_set_epi32(d3, d2, d1, d0); }
    static V unpacklo_u8(V a) { return _mm_unpacklo_epi8(a, _mm_setzero_si128()); }
    static V unpackhi_u8(V a) { return _mm_unpackhi_epi8(a, _mm_setzero_si128()); }
    template <int Imm>
    static V shuffle_i32(V a) { return _mm_shuffle_epi32(a, Imm); }
    // Dwords 0, 1 from a and 2, 3 from b, each chosen by two bits of Imm.
    template <int Imm>
    static V pick_i32(V a, V b)
    {
        return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), Imm));
    }
    static V packus_i16(V a, V b) { return _mm_packus_epi16(a, b); }

    static V load_bytes(const void* p) { return _mm_loadu_si128(static_cast<const V*>(p)); }
    static void store_bytes(void* p, V v) { _mm_storeu_si128(static_cast<V*>(p), v); }
    static void load_rgba(V in[2], const RgbaPixel* src)
    {
        in[0] = load_bytes(src);
        in[1] = load_bytes(src + 4);
    }
    static void store_components(int16_t* dst, const V out[3])
    {
        for (int k = 0; k < 3; ++k)
            store(dst + 8 * k, out[k]);
    }
    static void load_components(V in[3], const int16_t* src)
    {
        for (int k = 0; k < 3; ++k)
            in[k] = load(src + 8 * k);
    }
    static void order_rgba(V*) {}
    static void load_pixels(V v[2], const RgbaPixel* p) { load_rgba(v, p); }
    static void store_pixels(RgbaPixel* p, const V v[2])
    {
        store_bytes(p, v[0]);
        store_bytes(p + 4, v[1]);
    }
};

#ifdef __AVX2__
// Lane 0 takes pixels 0 .. 7 of the sixteen, lane 1 pixels 8 .. 15.
struct Avx2RgbaOps : Avx2Ops {
    static V set_i32(int d3, int d2, int d1, int d0)
    {
        return _mm256_set_epi32(d3, d2, d1, d0, d3, d2, d1, d0);
    }
    static V unpacklo_u8(V a) { return _mm256_unpacklo_epi8(a, _mm256_setzero_si256()); }
    static V unpackhi_u8(V a) { return _mm256_unpackhi_epi8(a, _mm256_setzero_si256()); }
    template <int Imm>
    static V shuffle_i32(V a) { return _mm256_shuffle_epi32(a, Imm); }
    template <int Imm>
    static V pick_i32(V a, V b)
    {
        return _mm256_castps_si256(
            _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), Imm));
    }
    static V packus_i16(V a, V b) { return _mm256_packus_epi16(a, b); }

    static V load_bytes(const void* p) { return _mm256_loadu_si256(static_cast<const V*>(p)); }
    static void store_bytes(void* p, V v) { _mm256_storeu_si256(static_cast<V*>(p), v); }
    // Pixels 0-3 | 8-11 and 4-7 | 12-15.
    static void load_rgba(V in[2], const RgbaPixel* src)
    {
        const V a = load_bytes(src), b = load_bytes(src + 8);
        in[0] = _mm256_permute2x128_si256(a, b, 0x20);
        in[1] = _mm256_permute2x128_si256(a, b, 0x31);
    }
    // Components 0-7 | 24-31, 8-15 | 32-39, 16-23 | 40-47 to memory order.
    static void store_components(int16_t* dst, const V out[3])
    {
        store(dst, _mm256_permute2x128_si256(out[0], out[1], 0x20));
        store(dst + 16, _mm256_permute2x128_si256(out[2], out[0], 0x30));
        store(dst + 32, _mm256_permute2x128_si256(out[1], out[2], 0x31));
    }
    static void load_components(V in[3], const int16_t* src)
    {
        const V a = load(src), b = load(src + 16), c = load(src + 32);
        in[0] = _mm256_permute2x128_si256(a, b, 0x30);
        in[1] = _mm256_permute2x128_si256(a, c, 0x21);
        in[2] = _mm256_permute2x128_si256(b, c, 0x30);
    }
    // Pixels 0-3 | 8-11 and 4-7 | 12-15 to memory order.
    static void order_rgba(V v[2])
    {
        const V a = v[0], b = v[1];
        v[0] = _mm256_permute2x128_si256(a, b, 0x20);
        v[1] = _mm256_permute2x128_si256(a, b, 0x31);
    }
    static void load_pixels(V v[2], const RgbaPixel* p)
    {
        v[0] = load_bytes(p);
        v[1] = load_bytes(p + 8);
    }
    static void store_pixels(RgbaPixel* p, const V v[2])
    {
        store_bytes(p, v[0]);
        store_bytes(p + 8, v[1]);
    }
};
#endif

}  // namespace
