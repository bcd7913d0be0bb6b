// The operations that read other frames of the clip: "60FPS" weaves a frame
// with its pair's field, "合成モード" pastes the source's second half into
// the first, and the decoder's frame comb ("3d") reads earlier frames'
// composite signals. The host hands the frames over through ClipFrames.
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

// The frame comb's signals for `frame`, filtered with `settings`, from the
// state's history: sets frame->partner and same_phase (both null where the
// frame decodes as "3line": the clip's first frames, or an earlier frame
// the host cannot give) and frame->composite, where the frame's own signal
// is to be kept. An earlier frame the history lacks is chained first by
// `chain` (null: a host that has no earlier frames), so that a frame gets
// the same bytes whatever the order frames are filtered in. Without the
// frame comb all three are null. FALSE when memory cannot be had.
//
// `chain` runs the chain over frame `number` as it enters the filter, with
// `settings` (the decoder off), keeping its composite signal in `signal`,
// laid out like `frame`; FALSE where the host cannot give that frame.
typedef int ChainEarlierFn(void* host, int32_t number, const EffectSettings* settings, PIXEL_YC* signal);
int take_comb_signals(EffectState* state, const EffectSettings* settings, EffectFrame* frame,
                      ChainEarlierFn* chain, void* host);
// The frame's signal is in frame->composite: the history holds it from now.
void keep_comb_signal(EffectState* state, const EffectFrame* frame);

// apply_effects with the frame comb's history: frame->partner, same_phase
// and composite are taken from it (those given are not read), and the
// earlier frames it lacks are chained from `earlier`, the clip's frames as
// they enter the filter, laid out like `frame` (null: none). FALSE when
// memory cannot be had; the frame is then left as it is.
int apply_effects_in_clip(EffectState* state, const EffectSettings* settings, const EffectFrame* frame,
                          const ClipFrames* earlier);
