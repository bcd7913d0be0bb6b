// The two operations that read other frames of the clip: "60FPS" weaves a
// frame with its pair's field, and "合成モード" pastes the source's second
// half into the first. The host hands the frames over through ClipFrames.
#pragma once

#include <cstdint>

#include "engine/frame_effects.h"

// Frames of the clip, laid out like the frame being filtered; null for a
// frame the host cannot give.
struct ClipFrames {
    void* host;
    const PIXEL_YC* (*frame)(void* host, int32_t number);
};

// "60FPS": frames 2k and 2k + 1 are the two fields of one interlaced frame.
// Replaces the moved field's rows of frame->pixels (whole rows of max_w
// pixels, the whole picture, whatever the rectangle) by those of frame
// number ^ 1 as it enters the filter; only complete row pairs, so the last
// row of an odd height stays. 0 on success, 1 when `clip` has no partner
// (the frame is then untouched).
int weave_paired_field(const EffectSettings* settings, const EffectFrame* frame,
                       const ClipFrames* clip);

// "合成モード": a frame of the clip's first half (number <= frame_count / 2)
// gets the rectangle of unfiltered source frame number + frame_count / 2;
// the second half, and a frame whose source `source` cannot give, stay.
void paste_second_half(const EffectSettings* settings, const EffectFrame* frame,
                       int32_t frame_count, const ClipFrames* source);
