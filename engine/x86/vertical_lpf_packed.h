// The low-pass filter Ops::lanes components at a time. Internal linkage, as
// in vector_ops.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/vertical_lpf.h"
#include "engine/x86/vector_ops.h"

namespace {

// Ops::lanes components of one output row from the same components of its
// eleven tap rows r[0] .. r[10]. Pair sums saturate, as in the reference;
// each multiply-add takes two weights at once, paired as (S1, x0),
// (S3, S2), (S4, S5), and yields exact 32-bit sums. Each pair of sums is
// formed just before its multiply-add, so that few values are live at once:
// the 32-bit build has only eight vector registers.
template <typename Ops>
typename Ops::V filter_step(const typename Ops::V* r)
{
    using V = typename Ops::V;
    const V round = Ops::set1_i32(16384);
    V lo = round;
    V hi = round;
    auto add_pair = [&](V a, V b, int32_t weight_a, int32_t weight_b) {
        const V weights = weight_pair<Ops>(weight_a, weight_b);
        lo = Ops::add_i32(lo, Ops::madd_i16(Ops::unpacklo_i16(a, b), weights));
        hi = Ops::add_i32(hi, Ops::madd_i16(Ops::unpackhi_i16(a, b), weights));
    };
    add_pair(Ops::adds_i16(r[4], r[6]), r[5], 4980, 27256);
    add_pair(Ops::adds_i16(r[2], r[8]), Ops::adds_i16(r[3], r[7]), 2693, -3993);
    add_pair(Ops::adds_i16(r[1], r[9]), Ops::adds_i16(r[0], r[10]), -1442, 518);
    return Ops::packs_i32(Ops::srai_i32(lo, 15), Ops::srai_i32(hi, 15));
}

// `rows` output rows at once: every source row loaded serves all of them.
template <typename Ops, int rows>
void filter_rows_together(int16_t* out, ptrdiff_t pitch, const int16_t* const* tap, int count)
{
    constexpr int lanes = Ops::lanes;
    // A local copy: the stores below could otherwise alias the caller's
    // array and force a reload of every tap pointer per step.
    const int16_t* t[rows + 10];
    for (int k = 0; k < rows + 10; ++k)
        t[k] = tap[k];
    auto step = [&](int c) {
        typename Ops::V r[rows + 10];
        for (int k = 0; k < rows + 10; ++k)
            r[k] = Ops::load(t[k] + c);
        for (int j = 0; j < rows; ++j)
            Ops::store(out + j * pitch + c, filter_step<Ops>(r + j));
    };
    // After a first step, the steps start at a vector-size boundary of the
    // first tap row (and of every row, when the pitch allows): loads that
    // cross a cache line cost twice.
    int c = 0;
    const int to_boundary =
        static_cast<int>(-(reinterpret_cast<uintptr_t>(t[0]) / 2) & (lanes - 1));
    if (to_boundary != 0) {
        step(0);
        c = to_boundary;
    }
    for (; c + lanes <= count; c += lanes)
        step(c);
    // The last step overlaps the one before: it rewrites some components
    // with the same values and touches nothing past the row.
    if (c < count)
        step(count - lanes);
}

// Sixteen vector registers hold the taps that a group of rows shares and
// the sums of its rows; the 32-bit build's eight do not, and there every
// row takes its taps straight from memory instead.
#if defined(__i386__)
constexpr bool rows_share_taps = false;
#else
constexpr bool rows_share_taps = true;
#endif

// A VerticalLpfRowsFn; the packed steps read only components 0 .. count - 1.
template <typename Ops>
void filter_rows_packed(int16_t* out, ptrdiff_t pitch, const int16_t* const* tap, int rows,
                        int count)
{
    if (count < Ops::lanes) {
        // Shorter than one step: not worth a packed step.
        for (int j = 0; j < rows; ++j)
            vertical_lpf_row_c(out + j * pitch, tap + j, count);
    } else if (rows_share_taps && rows == vertical_lpf_group_rows) {
        filter_rows_together<Ops, vertical_lpf_group_rows>(out, pitch, tap, count);
    } else {
        for (int j = 0; j < rows; ++j)
            filter_rows_together<Ops, 1>(out + j * pitch, pitch, tap + j, count);
    }
}

}  // namespace
