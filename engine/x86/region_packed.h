// show_range and strip_chroma a group of Ops::lanes pixels (three vectors)
// at a time. The components of a pixel repeat every three lanes, so each of
// the three vectors of a group has its own lane pattern. Internal linkage,
// as in vector_ops.h.
#pragma once

#include "engine/x86/pixel_lanes.h"
#include "engine/region.h"

namespace {

// Replaces each vector k of every whole group of the row by
// combine(pattern[k], vector), where pattern[k] holds `y_value` in the y
// lanes and 0 elsewhere; returns the number of pixels done.
template <typename Ops, typename Combine>
int combine_groups(PIXEL_YC* pixels, int count, short y_value, Combine combine)
{
    typename Ops::V pattern[3];
    y_lane_patterns<Ops>(pattern, y_value);
    int x = 0;
    for (; x + Ops::lanes <= count; x += Ops::lanes) {
        auto* group = reinterpret_cast<int16_t*>(pixels + x);
        for (int k = 0; k < 3; ++k) {
            int16_t* v = group + Ops::lanes * k;
            Ops::store(v, combine(pattern[k], Ops::load(v)));
        }
    }
    return x;
}

// Every lane is subtracted from its pattern: 4096 - y, 0 - cb, 0 - cr; the
// pixels after the last whole group go to `rest`.
template <typename Ops>
void show_range_row_packed(PIXEL_YC* pixels, int count, RegionRowFn* rest)
{
    using V = typename Ops::V;
    const int x = combine_groups<Ops>(pixels, count, 4096,
                                      [](V from, V v) { return Ops::sub_i16(from, v); });
    rest(pixels + x, count - x);
}

// The y lanes are kept, cb and cr cleared.
template <typename Ops>
void strip_chroma_row_packed(PIXEL_YC* pixels, int count, RegionRowFn* rest)
{
    using V = typename Ops::V;
    const int x = combine_groups<Ops>(pixels, count, -1,
                                      [](V keep, V v) { return Ops::bit_and(keep, v); });
    rest(pixels + x, count - x);
}

}  // namespace
