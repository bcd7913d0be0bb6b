// The composite encoding a group of Ops::lanes pixels (three vectors) at a
// time.
//
// Lane L of the vector k of a group holds component n * k + L of the group
// (n = Ops::lanes), which is the y of a pixel exactly when n * k + L is a
// multiple of 3. Because n (8 or 16) and 3 are coprime, every lane L is a y
// lane in exactly one of the three vectors. So masking the three vectors to
// their y lanes and OR-ing them gathers the n y values, one per lane, in a
// fixed pixel order (lane L: pixel m * L mod n, where 3 * m = 1 mod n).
// Loading the vectors one and two components further on lines each pixel's
// cb and cr up with its y, so the same masks gather cb and cr in that order
// too. The carrier terms are computed in that order, with the table entries
// shuffled to match (by each variant's own shuffle), and added back to each
// vector's y lanes, where the mask also clears cb and cr. Internal linkage,
// as in vector_ops.h.
#pragma once

#include "engine/composite_chroma.h"
#include "engine/x86/pixel_lanes.h"

namespace {

// One component of the group's pixels, in the gathered order, from the
// group's components starting `offset` (0: y, 1: cb, 2: cr) on.
template <typename Ops>
typename Ops::V gather(const int16_t* group, int offset, const typename Ops::V mask[3])
{
    using V = typename Ops::V;
    const V a = Ops::bit_and(Ops::load(group + offset), mask[0]);
    const V b = Ops::bit_and(Ops::load(group + Ops::lanes + offset), mask[1]);
    const V c = Ops::bit_and(Ops::load(group + 2 * Ops::lanes + offset), mask[2]);
    return Ops::bit_or(Ops::bit_or(a, b), c);
}

// The low 16 bits of (a * b + 1024) >> 11 for signed 16-bit a and b: the
// 32-bit product is taken as its two halves, bits 11 .. 26 are put together
// and bit 10 rounds.
template <typename Ops>
typename Ops::V carrier_term(typename Ops::V a, typename Ops::V b)
{
    using V = typename Ops::V;
    const V low = Ops::mullo_i16(a, b);
    const V high = Ops::mulhi_i16(a, b);
    const V floor = Ops::bit_or(Ops::srli_i16(low, 11), Ops::slli_i16(high, 5));
    const V round = Ops::bit_and(Ops::srli_i16(low, 10), Ops::set1_i16(1));
    return Ops::add_i16(floor, round);
}

// Encodes the row's whole groups up to one pixel before its end (the cr
// loads of a group read two components into the next pixel) and returns the
// number of pixels done. gathered_entries(entries) gives the table entries
// entries[0 .. n - 1] in the gathered order, times the row's sign.
template <typename Ops, typename GatheredEntries>
int encode_composite_groups(PIXEL_YC* pixels, const int16_t* cos_weights,
                            const int16_t* sin_weights, int count,
                            GatheredEntries gathered_entries)
{
    using V = typename Ops::V;
    V mask[3];
    y_lane_patterns<Ops>(mask, -1);
    int x = 0;
    for (; x + Ops::lanes + 1 <= count; x += Ops::lanes) {
        auto* group = reinterpret_cast<int16_t*>(pixels + x);
        const V cb = gather<Ops>(group, 1, mask);
        const V cr = gather<Ops>(group, 2, mask);
        const V cos_w = gathered_entries(cos_weights + x);
        const V sin_w = gathered_entries(sin_weights + x);
        const V terms = Ops::add_i16(carrier_term<Ops>(cb, cos_w), carrier_term<Ops>(cr, sin_w));
        // New y in the y lanes, 0 in the cb and cr lanes.
        for (int k = 0; k < 3; ++k) {
            int16_t* v = group + Ops::lanes * k;
            Ops::store(v, Ops::bit_and(Ops::add_i16(Ops::load(v), terms), mask[k]));
        }
    }
    return x;
}

// The sums of pairs of (a, b) lanes times their weights, + round, >> shift,
// as 32-bit values in two halves, in the order the unpacks give.
template <typename Ops>
void weighted_pairs(typename Ops::V out[2], typename Ops::V a, typename Ops::V b,
                    typename Ops::V weights, int32_t round, int shift)
{
    const typename Ops::V r = Ops::set1_i32(round);
    out[0] = Ops::srai_i32(Ops::add_i32(Ops::madd_i16(Ops::unpacklo_i16(a, b), weights), r), shift);
    out[1] = Ops::srai_i32(Ops::add_i32(Ops::madd_i16(Ops::unpackhi_i16(a, b), weights), r), shift);
}

// PAL's encoding of the row's whole groups, as encode_composite_groups: u and
// v saturate to 16 bits (the pack), the carrier term is taken to its low 16
// bits.
template <typename Ops, typename GatheredEntries>
int encode_pal_groups(PIXEL_YC* pixels, const int16_t* cos_weights, const int16_t* sin_weights,
                      int count, const int16_t coefficients[4], GatheredEntries gathered_entries)
{
    using V = typename Ops::V;
    V mask[3];
    y_lane_patterns<Ops>(mask, -1);
    const V u_weights = weight_pair<Ops>(coefficients[0], coefficients[1]);
    const V v_weights = weight_pair<Ops>(coefficients[2], coefficients[3]);
    // The low 16 bits of each term, sign-extended so that the saturating
    // pack keeps them.
    auto low_bits = [](V t) { return Ops::srai_i32(Ops::slli_i32(t, 16), 16); };
    int x = 0;
    for (; x + Ops::lanes + 1 <= count; x += Ops::lanes) {
        auto* group = reinterpret_cast<int16_t*>(pixels + x);
        const V cb = gather<Ops>(group, 1, mask);
        const V cr = gather<Ops>(group, 2, mask);
        V half[2];
        weighted_pairs<Ops>(half, cb, cr, u_weights, 8192, 14);
        const V u = Ops::packs_i32(half[0], half[1]);
        weighted_pairs<Ops>(half, cb, cr, v_weights, 8192, 14);
        const V v = Ops::packs_i32(half[0], half[1]);
        // cos u + sin v: a multiply-add of (cos, sin) pairs with (u, v) pairs.
        const V cos_w = gathered_entries(cos_weights + x);
        const V sin_w = gathered_entries(sin_weights + x);
        const V r = Ops::set1_i32(1024);
        const V lo = Ops::madd_i16(Ops::unpacklo_i16(cos_w, sin_w), Ops::unpacklo_i16(u, v));
        const V hi = Ops::madd_i16(Ops::unpackhi_i16(cos_w, sin_w), Ops::unpackhi_i16(u, v));
        const V terms = Ops::packs_i32(low_bits(Ops::srai_i32(Ops::add_i32(lo, r), 11)),
                                       low_bits(Ops::srai_i32(Ops::add_i32(hi, r), 11)));
        for (int k = 0; k < 3; ++k) {
            int16_t* vec = group + Ops::lanes * k;
            Ops::store(vec, Ops::bit_and(Ops::add_i16(Ops::load(vec), terms), mask[k]));
        }
    }
    return x;
}

}  // namespace
