// The field shift's row operations Ops::lanes components at a time.
// Internal linkage, as in vector_ops.h.
#pragma once

#include "engine/field_shift.h"
#include "engine/x86/vector_ops.h"

namespace {

// The low 16 bits of each 32-bit lane shifted right by 15: bits 15 .. 30,
// moved to the upper half and brought down with the sign, so that packing
// never saturates.
template <typename Ops>
typename Ops::V pack_shifted(typename Ops::V lo, typename Ops::V hi)
{
    return Ops::packs_i32(Ops::srai_i32(Ops::slli_i32(lo, 1), 16),
                          Ops::srai_i32(Ops::slli_i32(hi, 1), 16));
}

// Components c .. c + Ops::lanes - 1. Each multiply-add sums two products
// of 16-bit numbers whose weights are at most 32767 in size, so no pair sum
// reaches 2^31 and the 32-bit lanes hold the reference's sums exactly.
template <typename Ops>
typename Ops::V interpolate_step(const int16_t* const t[4], int c, typename Ops::V w01,
                                 typename Ops::V w23)
{
    using V = typename Ops::V;
    const V a0 = Ops::load(t[0] + c), a1 = Ops::load(t[1] + c);
    const V a2 = Ops::load(t[2] + c), a3 = Ops::load(t[3] + c);
    const V round = Ops::set1_i32(0x4000);
    V lo = Ops::add_i32(Ops::madd_i16(Ops::unpacklo_i16(a0, a1), w01), round);
    lo = Ops::add_i32(lo, Ops::madd_i16(Ops::unpacklo_i16(a2, a3), w23));
    V hi = Ops::add_i32(Ops::madd_i16(Ops::unpackhi_i16(a0, a1), w01), round);
    hi = Ops::add_i32(hi, Ops::madd_i16(Ops::unpackhi_i16(a2, a3), w23));
    return pack_shifted<Ops>(lo, hi);
}

// Rows shorter than one step go to `narrow`.
template <typename Ops>
void interpolate_row_packed(int16_t* out, const int16_t* const tap[4], const int32_t weights[4],
                            int count, InterpolateRowFn* narrow)
{
    if (count < Ops::lanes) {
        narrow(out, tap, weights, count);
        return;
    }
    const int16_t* const t[4] = {tap[0], tap[1], tap[2], tap[3]};
    const typename Ops::V w01 = weight_pair<Ops>(weights[0], weights[1]);
    const typename Ops::V w23 = weight_pair<Ops>(weights[2], weights[3]);
    int c = 0;
    for (; c + Ops::lanes <= count; c += Ops::lanes)
        Ops::store(out + c, interpolate_step<Ops>(t, c, w01, w23));
    // The last step overlaps the one before: out is not an input, so the
    // components it rewrites get the same values.
    if (c < count)
        Ops::store(out + count - Ops::lanes,
                   interpolate_step<Ops>(t, count - Ops::lanes, w01, w23));
}

// (a + b + 1) / 2 truncated: the unsigned rounding average of the inputs
// offset by 32768 gives the floor of (a + b + 1) / 2, which is one below the
// truncated quotient when that is negative and a + b is even.
template <typename Ops>
typename Ops::V average_step(const int16_t* a, const int16_t* b, int c)
{
    using V = typename Ops::V;
    const V offset = Ops::set1_i16(-32768);
    const V x = Ops::load(a + c), y = Ops::load(b + c);
    const V floor = Ops::bit_xor(
        Ops::avg_u16(Ops::bit_xor(x, offset), Ops::bit_xor(y, offset)), offset);
    const V even_and_negative = Ops::and_not(Ops::bit_xor(x, y), Ops::srai_i16(floor, 15));
    return Ops::add_i16(floor, Ops::bit_and(even_and_negative, Ops::set1_i16(1)));
}

// Rows shorter than one step go to `narrow`.
template <typename Ops>
void average_rows_packed(int16_t* out, const int16_t* a, const int16_t* b, int count,
                         AverageRowsFn* narrow)
{
    if (count < Ops::lanes) {
        narrow(out, a, b, count);
        return;
    }
    int c = 0;
    for (; c + Ops::lanes <= count; c += Ops::lanes)
        Ops::store(out + c, average_step<Ops>(a, b, c));
    if (c < count)
        Ops::store(out + count - Ops::lanes, average_step<Ops>(a, b, count - Ops::lanes));
}

}  // namespace
