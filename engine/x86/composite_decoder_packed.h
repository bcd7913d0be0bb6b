// The decoder's row kernels Ops::lanes values at a time, bit for bit as the
// references compute them for every input. Each variant file adds what its
// width does differently: the order the FIR's halves are put back in, and
// how pixels are split into components and joined again. Internal linkage,
// as in vector_ops.h.
#pragma once

#include <cstdint>

#include "engine/composite_decoder.h"
#include "engine/x86/vector_ops.h"

namespace {

// Lane operations beyond vector_ops.h that only the decoder needs.
struct Sse2DecoderOps : Sse2Ops {
    static V subs_i16(V a, V b) { return _mm_subs_epi16(a, b); }
    static V max_i16(V a, V b) { return _mm_max_epi16(a, b); }
    static V min_i16(V a, V b) { return _mm_min_epi16(a, b); }
    static V adds_u16(V a, V b) { return _mm_adds_epu16(a, b); }
    static V subs_u16(V a, V b) { return _mm_subs_epu16(a, b); }
    static V cmpgt_i16(V a, V b) { return _mm_cmpgt_epi16(a, b); }
    static V srli_i32(V a, int bits) { return _mm_srli_epi32(a, bits); }
    static V unpacklo_i32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
    static V unpackhi_i32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
    // Doublewords 0, 1 from a and 2, 3 from b, each chosen by two bits of Imm.
    template <int Imm>
    static V pick_i32(V a, V b)
    {
        return _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), Imm));
    }
    // Sums (e0, e1, ...) of the even outputs and (o0, o1, ...) of the odd
    // ones, packed as e0 .. e3, o0 .. o3, back in output order.
    static V interleave_halves(V packed)
    {
        return _mm_unpacklo_epi16(packed, _mm_unpackhi_epi64(packed, packed));
    }
    // Eight components from `offset` on of a block of eight pixels, and the
    // block's 24 components stored from three vectors.
    static V load_block(const int16_t* block, int offset) { return load(block + offset); }
    static void store_block(int16_t* block, const V out[3])
    {
        for (int k = 0; k < 3; ++k)
            store(block + 8 * k, out[k]);
    }
};

#ifdef __AVX2__
struct Avx2DecoderOps : Avx2Ops {
    static V subs_i16(V a, V b) { return _mm256_subs_epi16(a, b); }
    static V max_i16(V a, V b) { return _mm256_max_epi16(a, b); }
    static V min_i16(V a, V b) { return _mm256_min_epi16(a, b); }
    static V adds_u16(V a, V b) { return _mm256_adds_epu16(a, b); }
    static V subs_u16(V a, V b) { return _mm256_subs_epu16(a, b); }
    static V cmpgt_i16(V a, V b) { return _mm256_cmpgt_epi16(a, b); }
    static V srli_i32(V a, int bits) { return _mm256_srli_epi32(a, bits); }
    static V unpacklo_i32(V a, V b) { return _mm256_unpacklo_epi32(a, b); }
    static V unpackhi_i32(V a, V b) { return _mm256_unpackhi_epi32(a, b); }
    template <int Imm>
    static V pick_i32(V a, V b)
    {
        return _mm256_castps_si256(
            _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), Imm));
    }
    // Per 128-bit lane, as in SSE2: e0 .. e3, o0 .. o3 to e0, o0, ..., o3.
    static V interleave_halves(V packed)
    {
        const V order = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1,
                                         8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
        return _mm256_shuffle_epi8(packed, order);
    }
    // Sixteen pixels as two blocks of eight, one per 128-bit lane.
    static V load_block(const int16_t* block, int offset)
    {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + offset));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 24 + offset));
        return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
    }
    // Vector k holds the block's components 8k .. 8k + 7 in each lane.
    static void store_block(int16_t* block, const V out[3])
    {
        store(block, _mm256_permute2x128_si256(out[0], out[1], 0x20));
        store(block + 16, _mm256_blend_epi32(out[0], out[2], 0x0f));
        store(block + 32, _mm256_permute2x128_si256(out[1], out[2], 0x31));
    }
};
#endif

// Walks a row of count >= Ops::lanes values: step(x) computes the lanes
// from x on and store(x, result) writes them. The last, overlapping step is
// computed first, so that a kernel that writes over its input (the frame
// comb) still reads every value before it changes, and nothing past count
// is read or written.
template <typename Ops, typename Step, typename Store>
void walk_row(int count, Step step, Store store)
{
    const auto last = step(count - Ops::lanes);
    for (int x = 0; x + Ops::lanes < count; x += Ops::lanes)
        store(x, step(x));
    store(count - Ops::lanes, last);
}

// The FIR with reach R. A 32-bit lane j of the row loaded from x - R + 2i
// holds in[x - R + 2i + 2j] and the value after it: one multiply-add with
// the taps (2i, 2i + 1) adds that pair to output x + 2j, and with the taps
// (2i - 1, 2i) to output x + 2j + 1 (taps beyond either end are 0). So R + 1
// loads give both halves of the outputs without any unpacking, and the
// pairs cover exactly the reference's reach. The 32-bit sums wrap as they
// go, which is exact wherever the reference's own sum fits in 32 bits.
template <typename Ops, int R, typename Store>
void fir_row_reach(const int16_t* in, const int16_t* taps, int count, Store store)
{
    using V = typename Ops::V;
    int16_t padded[2 * R + 4] = {};  // 0, taps, 0
    for (int k = 0; k < 2 * R + 1; ++k)
        padded[k + 1] = taps[k];
    V even[R + 1], odd[R + 1];
    for (int i = 0; i <= R; ++i) {
        even[i] = weight_pair<Ops>(padded[2 * i + 1], padded[2 * i + 2]);
        odd[i] = weight_pair<Ops>(padded[2 * i], padded[2 * i + 1]);
    }
    const V round = Ops::set1_i32(8192);
    auto step = [&](int x) {
        V sum_even = round, sum_odd = round;
        for (int i = 0; i <= R; ++i) {
            // Loaded once into a register for both multiply-adds: folded
            // into each, the unaligned loads would be split twice as often
            // and crowd out the taps, which then spill.
            V pairs = Ops::load(in + x - R + 2 * i);
            asm("" : "+x"(pairs));
            sum_even = Ops::add_i32(sum_even, Ops::madd_i16(pairs, even[i]));
            sum_odd = Ops::add_i32(sum_odd, Ops::madd_i16(pairs, odd[i]));
        }
        return Ops::interleave_halves(
            Ops::packs_i32(Ops::srai_i32(sum_even, 14), Ops::srai_i32(sum_odd, 14)));
    };
    walk_row<Ops>(count, step, store);
}

template <typename Ops, int R>
void fir_row_reach(int16_t* out, const int16_t* in, const int16_t* taps, int count)
{
    fir_row_reach<Ops, R>(in, taps, count,
                          [&](int x, typename Ops::V v) { Ops::store(out + x, v); });
}

// A DecoderFirRowFn for rows of at least Ops::lanes values and the reaches
// the decoder uses; false for anything else, left to the caller.
template <typename Ops>
bool fir_row_packed(int16_t* out, const int16_t* in, const int16_t* taps, int reach, int count)
{
    if (count < Ops::lanes)
        return false;
    switch (reach) {
    case 5: fir_row_reach<Ops, 5>(out, in, taps, count); return true;
    case 7: fir_row_reach<Ops, 7>(out, in, taps, count); return true;
    case 11: fir_row_reach<Ops, 11>(out, in, taps, count); return true;
    }
    return false;
}

// The low 16 bits of (a * b + 1024) >> 11, or with Negate of (-a * b +
// 1024) >> 11, for any 16-bit a and b. The 32-bit product is taken as its
// two halves and bits 11 .. 26 put together; the rounding then needs only
// its low 11 bits m: +1 when bit 10 is set, and for the negated product,
// whose floor is -(p >> 11) - 1 exactly when m > 1024, -1 then.
template <typename Ops, bool Negate>
typename Ops::V demodulated(typename Ops::V a, typename Ops::V b)
{
    using V = typename Ops::V;
    const V low = Ops::mullo_i16(a, b);
    const V high = Ops::mulhi_i16(a, b);
    const V floor = Ops::bit_or(Ops::srli_i16(low, 11), Ops::slli_i16(high, 5));
    if (Negate) {
        const V below = Ops::cmpgt_i16(Ops::bit_and(low, Ops::set1_i16(2047)), Ops::set1_i16(1024));
        return Ops::sub_i16(below, floor);
    }
    return Ops::add_i16(floor, Ops::bit_and(Ops::srli_i16(low, 10), Ops::set1_i16(1)));
}

template <typename Ops, bool Negate>
void demodulate_row_signed(int16_t* u, int16_t* v, const int16_t* chroma, const int16_t* cos_weights,
                           const int16_t* sin_weights, int count)
{
    using V = typename Ops::V;
    struct Pair {
        V u, v;
    };
    auto step = [&](int x) {
        const V c = Ops::load(chroma + x);
        return Pair{demodulated<Ops, Negate>(c, Ops::load(cos_weights + x)),
                    demodulated<Ops, Negate>(c, Ops::load(sin_weights + x))};
    };
    walk_row<Ops>(count, step, [&](int x, Pair p) {
        Ops::store(u + x, p.u);
        Ops::store(v + x, p.v);
    });
}

// A DemodulateRowFn for rows of at least Ops::lanes values and the signs
// the stage passes (+1, -1); false for anything else.
template <typename Ops>
bool demodulate_row_packed(int16_t* u, int16_t* v, const int16_t* chroma,
                           const int16_t* cos_weights, const int16_t* sin_weights, int count,
                           int32_t sign)
{
    if (count < Ops::lanes || (sign != 1 && sign != -1))
        return false;
    if (sign > 0)
        demodulate_row_signed<Ops, false>(u, v, chroma, cos_weights, sin_weights, count);
    else
        demodulate_row_signed<Ops, true>(u, v, chroma, cos_weights, sin_weights, count);
    return true;
}

// The combs in 16 bits with unsigned rounding averages (avg: (a + b + 1)
// >> 1 of 0 .. 65535). With s = x + 32768 and ~s = 65535 - s:
// (x - y) >> 1 = avg(s(x), ~s(y)) - 32768, and
// (2x - y - z + 2) >> 2 = 32768 - avg(~s(x), avg(s(y), s(z))), which gives
// 32768 for the one input whose reference result wraps to -32768.
template <typename Ops>
typename Ops::V half_difference(typename Ops::V x, typename Ops::V y)
{
    const typename Ops::V sign = Ops::set1_i16(-32768), rest = Ops::set1_i16(32767);
    return Ops::bit_xor(Ops::avg_u16(Ops::bit_xor(x, sign), Ops::bit_xor(y, rest)), sign);
}

template <typename Ops>
bool line_comb_row_packed(int16_t* out, const int16_t* row, const int16_t* above,
                          const int16_t* below, int count)
{
    using V = typename Ops::V;
    if (count < Ops::lanes)
        return false;
    const auto store = [&](int x, V v) { Ops::store(out + x, v); };
    if (below == nullptr) {
        walk_row<Ops>(
            count,
            [&](int x) { return half_difference<Ops>(Ops::load(row + x), Ops::load(above + x)); },
            store);
        return true;
    }
    const V sign = Ops::set1_i16(-32768), rest = Ops::set1_i16(32767);
    auto step = [&](int x) {
        const V partners = Ops::avg_u16(Ops::bit_xor(Ops::load(above + x), sign),
                                        Ops::bit_xor(Ops::load(below + x), sign));
        return Ops::sub_i16(sign, Ops::avg_u16(Ops::bit_xor(Ops::load(row + x), rest), partners));
    };
    walk_row<Ops>(count, step, store);
    return true;
}

template <typename Ops>
bool frame_difference_row_packed(int16_t* out, const int16_t* row, const int16_t* partner,
                                 int count)
{
    if (count < Ops::lanes)
        return false;
    walk_row<Ops>(
        count,
        [&](int x) { return half_difference<Ops>(Ops::load(row + x), Ops::load(partner + x)); },
        [&](int x, typename Ops::V v) { Ops::store(out + x, v); });
    return true;
}

// The motion, the largest of the neighbours' |motion_difference|, as the
// larger of their largest and their smallest's saturated negation (32767
// for -32768, which blends as fully moving all the same), held to
// threshold + 256 / slope with saturating steps; the blend as one multiply-add of the pair
// (chroma, difference) with (moving, 256 - moving).
template <typename Ops>
bool frame_comb_row_packed(int16_t* chroma, const int16_t* difference,
                           const int16_t* motion_difference, int count)
{
    using V = typename Ops::V;
    static_assert(frame_comb_slope * (256 / frame_comb_slope) == 256, "whole steps to 256");
    if (count < Ops::lanes)
        return false;
    const V threshold = Ops::set1_i16(frame_comb_threshold);
    const V ceiling = Ops::set1_i16(static_cast<short>(65535 - 256 / frame_comb_slope));
    const V full = Ops::set1_i16(256);
    const V round = Ops::set1_i32(128);
    const V zero = Ops::set1_i16(0);
    auto step = [&](int x) {
        const V c = Ops::load(chroma + x);
        const V d = Ops::load(difference + x);
        V largest = Ops::load(motion_difference + x - frame_comb_motion_reach), smallest = largest;
        for (int k = 1 - frame_comb_motion_reach; k <= frame_comb_motion_reach; ++k) {
            const V m = Ops::load(motion_difference + x + k);
            largest = Ops::max_i16(largest, m);
            smallest = Ops::min_i16(smallest, m);
        }
        const V motion = Ops::max_i16(largest, Ops::subs_i16(zero, smallest));
        const V over = Ops::subs_u16(Ops::adds_u16(Ops::subs_u16(motion, threshold), ceiling),
                                     ceiling);
        const V moving = Ops::mullo_i16(over, Ops::set1_i16(frame_comb_slope));
        const V still = Ops::sub_i16(full, moving);
        const V lo = Ops::madd_i16(Ops::unpacklo_i16(c, d), Ops::unpacklo_i16(moving, still));
        const V hi = Ops::madd_i16(Ops::unpackhi_i16(c, d), Ops::unpackhi_i16(moving, still));
        return Ops::packs_i32(Ops::srai_i32(Ops::add_i32(lo, round), 8),
                              Ops::srai_i32(Ops::add_i32(hi, round), 8));
    };
    walk_row<Ops>(count, step, [&](int x, V v) { Ops::store(chroma + x, v); });
    return true;
}

// Per 128-bit lane, the y of eight pixels: doublewords 0, 3, 6, 9 of their
// components hold the even pixels' y in their low halves, doublewords 1, 4,
// 7, 10 the odd pixels' in their high halves, and each set lies in lanes 0
// and 3 of two loads.
template <typename Ops>
typename Ops::V extracted_luma(const int16_t* block)
{
    using V = typename Ops::V;
    constexpr int pick = _MM_SHUFFLE(3, 0, 3, 0);
    const V even = Ops::template pick_i32<pick>(Ops::load_block(block, 0),
                                                 Ops::load_block(block, 12));
    const V odd = Ops::template pick_i32<pick>(Ops::load_block(block, 2),
                                                Ops::load_block(block, 14));
    const V low = Ops::set1_i32(0xffff);
    return Ops::bit_or(Ops::bit_and(even, low), Ops::and_not(low, odd));
}

template <typename Ops>
bool extract_luma_row_packed(int16_t* out, const PIXEL_YC* pixels, int count)
{
    if (count < Ops::lanes)
        return false;
    walk_row<Ops>(
        count,
        [&](int x) { return extracted_luma<Ops>(reinterpret_cast<const int16_t*>(pixels + x)); },
        [&](int x, typename Ops::V v) { Ops::store(out + x, v); });
    return true;
}

// The three components of Ops::lanes pixels, each in output order, as the
// assembly stores them; Ops::lanes / 2 doublewords per vector.
template <typename Ops>
struct Components {
    typename Ops::V y, cb, cr;
};

template <typename Ops>
Components<Ops> assembled(const int16_t* composite, const int16_t* chroma, const int16_t* u,
                          const int16_t* v, const typename Ops::V m[2], int x)
{
    using V = typename Ops::V;
    const V c = Ops::load(chroma + x);
    const V uu = Ops::load(u + x), vv = Ops::load(v + x);
    const V lo = Ops::unpacklo_i16(uu, vv), hi = Ops::unpackhi_i16(uu, vv);
    const V round = Ops::set1_i32(2048);
    auto matrix_row = [&](V weights) {
        return Ops::packs_i32(Ops::srai_i32(Ops::add_i32(Ops::madd_i16(lo, weights), round), 12),
                              Ops::srai_i32(Ops::add_i32(Ops::madd_i16(hi, weights), round), 12));
    };
    return {Ops::subs_i16(Ops::load(composite + x), c), matrix_row(m[0]), matrix_row(m[1])};
}

// Per 128-bit lane: eight pixels' components into the three vectors of
// their 24 interleaved components. Pixels 2j and 2j + 1 fill doublewords
// 3j .. 3j + 2 as (y, cb), (cr, y') and (cb', cr'): E, G and F below.
template <typename Ops>
void interleave_pixels(typename Ops::V out[3], const Components<Ops>& p)
{
    using V = typename Ops::V;
    const V low = Ops::set1_i32(0xffff);
    const V e = Ops::bit_or(Ops::bit_and(p.y, low), Ops::slli_i32(p.cb, 16));
    const V g = Ops::bit_or(Ops::bit_and(p.cr, low), Ops::and_not(low, p.y));
    const V f = Ops::bit_or(Ops::srli_i32(p.cb, 16), Ops::and_not(low, p.cr));
    // E0 G0 F0 E1 | G1 F1 E2 G2 | F2 E3 G3 F3
    out[0] = Ops::template pick_i32<_MM_SHUFFLE(2, 0, 1, 0)>(
        Ops::unpacklo_i32(e, g), Ops::template pick_i32<_MM_SHUFFLE(1, 1, 0, 0)>(f, e));
    out[1] = Ops::template pick_i32<_MM_SHUFFLE(1, 0, 3, 2)>(Ops::unpacklo_i32(g, f),
                                                             Ops::unpackhi_i32(e, g));
    out[2] = Ops::template pick_i32<_MM_SHUFFLE(3, 2, 2, 0)>(
        Ops::template pick_i32<_MM_SHUFFLE(3, 3, 2, 2)>(f, e), Ops::unpackhi_i32(g, f));
}

template <typename Ops>
bool assemble_row_packed(PIXEL_YC* out, const int16_t* composite, const int16_t* chroma,
                         const int16_t* u, const int16_t* v, const int16_t matrix[4], int count)
{
    using V = typename Ops::V;
    if (count < Ops::lanes)
        return false;
    struct Block {
        V k[3];
    };
    const V m[2] = {weight_pair<Ops>(matrix[0], matrix[1]), weight_pair<Ops>(matrix[2], matrix[3])};
    walk_row<Ops>(
        count,
        [&](int x) {
            Block block;
            interleave_pixels<Ops>(block.k, assembled<Ops>(composite, chroma, u, v, m, x));
            return block;
        },
        [&](int x, const Block& block) {
            Ops::store_block(reinterpret_cast<int16_t*>(out + x), block.k);
        });
    return true;
}

// The assembly and PAL's delay line in one pass: the block as assemble_row
// interleaves it, then cb and cr averaged with `previous`, which is read in
// the same layout (load_block) and takes the undelayed block. walk_row
// computes the last, overlapping step before anything is stored, so every
// step reads `previous` as it was.
template <typename Ops>
bool assemble_delayed_row_packed(PIXEL_YC* out, PIXEL_YC* previous, const int16_t* composite,
                                 const int16_t* chroma, const int16_t* u, const int16_t* v,
                                 const int16_t matrix[4], int count)
{
    using V = typename Ops::V;
    if (count < Ops::lanes)
        return false;
    struct Block {
        V own[3], delayed[3];
    };
    int16_t lanes_of_y[3 * Ops::lanes];
    for (int k = 0; k < 3; ++k) {
        for (int j = 0; j < Ops::lanes; ++j)
            lanes_of_y[k * Ops::lanes + j] = (8 * k + j % 8) % 3 == 0 ? -1 : 0;
    }
    const V keep[3] = {Ops::load(lanes_of_y), Ops::load(lanes_of_y + Ops::lanes),
                       Ops::load(lanes_of_y + 2 * Ops::lanes)};
    const V sign = Ops::set1_i16(-32768);
    const V m[2] = {weight_pair<Ops>(matrix[0], matrix[1]), weight_pair<Ops>(matrix[2], matrix[3])};
    walk_row<Ops>(
        count,
        [&](int x) {
            Block block;
            interleave_pixels<Ops>(block.own, assembled<Ops>(composite, chroma, u, v, m, x));
            const int16_t* before = reinterpret_cast<const int16_t*>(previous + x);
            for (int k = 0; k < 3; ++k) {
                const V average = Ops::bit_xor(
                    Ops::avg_u16(Ops::bit_xor(block.own[k], sign),
                                 Ops::bit_xor(Ops::load_block(before, 8 * k), sign)),
                    sign);
                block.delayed[k] = Ops::bit_or(Ops::bit_and(keep[k], block.own[k]),
                                               Ops::and_not(keep[k], average));
            }
            return block;
        },
        [&](int x, const Block& block) {
            Ops::store_block(reinterpret_cast<int16_t*>(out + x), block.delayed);
            Ops::store_block(reinterpret_cast<int16_t*>(previous + x), block.own);
        });
    return true;
}

// The band-pass and the demodulation of its output in one pass: each step's
// chroma is stored and demodulated while still in a register.
template <typename Ops, bool Negate>
void bandpass_demodulate_signed(int16_t* chroma, int16_t* u, int16_t* v, const int16_t* in,
                                const int16_t* taps, const int16_t* cos_weights,
                                const int16_t* sin_weights, int count)
{
    using V = typename Ops::V;
    fir_row_reach<Ops, decoder_bandpass_reach>(in, taps, count, [&](int x, V c) {
        Ops::store(chroma + x, c);
        Ops::store(u + x, demodulated<Ops, Negate>(c, Ops::load(cos_weights + x)));
        Ops::store(v + x, demodulated<Ops, Negate>(c, Ops::load(sin_weights + x)));
    });
}

template <typename Ops>
bool bandpass_demodulate_row_packed(int16_t* chroma, int16_t* u, int16_t* v, const int16_t* in,
                                    const int16_t* taps, const int16_t* cos_weights,
                                    const int16_t* sin_weights, int count, int32_t sign)
{
    if (count < Ops::lanes || (sign != 1 && sign != -1))
        return false;
    if (sign > 0)
        bandpass_demodulate_signed<Ops, false>(chroma, u, v, in, taps, cos_weights, sin_weights,
                                               count);
    else
        bandpass_demodulate_signed<Ops, true>(chroma, u, v, in, taps, cos_weights, sin_weights,
                                              count);
    return true;
}

}  // namespace
