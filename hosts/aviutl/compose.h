// "合成モード": pastes the rectangle of the source frame half a clip later
// into every frame of the clip's first half.
#pragma once

#include "engine/frame_effects.h"
#include "abi/filter.h"

void compose_second_half(FILTER* fp, FILTER_PROC_INFO* fpip, const EffectSettings* settings);
