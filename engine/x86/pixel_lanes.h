// Lane patterns for packed code that walks rows of PIXEL_YC as 16-bit
// lanes. A group of Ops::lanes pixels fills three vectors; lane L of vector
// k holds component Ops::lanes * k + L of the group, which is a y exactly
// when that is a multiple of 3. Internal linkage, as in vector_ops.h.
#pragma once

#include "engine/x86/vector_ops.h"

namespace {

// `value` in the y lanes of vector k of a group, 0 elsewhere.
template <typename Ops>
typename Ops::V y_lanes(int k, short value)
{
    int16_t lanes[Ops::lanes];
    for (int i = 0; i < Ops::lanes; ++i)
        lanes[i] = (Ops::lanes * k + i) % 3 == 0 ? value : 0;
    return Ops::load(lanes);
}

// The three vectors' patterns for `value` in the y lanes.
template <typename Ops>
void y_lane_patterns(typename Ops::V patterns[3], short value)
{
    for (int k = 0; k < 3; ++k)
        patterns[k] = y_lanes<Ops>(k, value);
}

}  // namespace
