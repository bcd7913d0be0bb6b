// Four-tap Lanczos-2 weights in Q15 for a sixteenth-line field shift.
#pragma once

#include <cstdint>

struct ShiftKernel {
    int32_t weights[4];
};

// Fills weights[0..3] for the phase v & 15 (which must not be 0). Weight i
// belongs to the tap distance f, 16 - f, 16 + f, 32 - f sixteenths of a
// field line; each is rounded on its own, so the total may be 32767.
void build_shift_kernel(int32_t weights[4], int32_t v);
