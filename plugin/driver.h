// The per-frame driver and the unload callback the descriptor hands the host.
#pragma once

#include <cstdint>

#include "effects/filter_rect.h"
#include "effects/shift_kernel.h"
#include "host/filter.h"

// Track and check indices, in the order the descriptor declares them.
enum TrackIndex { TRACK_LEFT, TRACK_WIDTH, TRACK_TOP, TRACK_HEIGHT, TRACK_SHIFT, TRACK_FREQ,
                  TRACK_PHASE, TRACK_COUNT };
enum CheckIndex { CHECK_COMPOSE, CHECK_60FPS, CHECK_TFF, CHECK_SHOW_RANGE, CHECK_MONO, CHECK_CY,
                  CHECK_LPF, CHECK_COUNT };

// The kernel for the shift value kernel_key; rebuilt only on the fractional
// path and only when the shift value changes.
extern ShiftKernel shift_kernel;
extern int32_t kernel_key;

BOOL filter_proc(FILTER* fp, FILTER_PROC_INFO* fpip);
BOOL filter_exit(FILTER* fp);

// The rectangle of the track values, cut to the w x h picture.
FilterRect filter_rect(const int* track, int w, int h, int max_w);

// 1 when the even rows are the moved field, 0 when the odd rows are.
int moved_field(const int* check, int frame);

// Bits for encode_composite: bit 1 the starting sign, bit 0 the "TFF" value.
int32_t carrier_flags(const int* check, int frame);
