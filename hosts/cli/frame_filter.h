// The filter on the engine, as the editor's driver runs it (the same
// settings, the same field pairing), with one record of state for each
// thread, so that frames are filtered on every core, the decoder's frame
// comb among them.
#pragma once

#include <memory>

extern "C" {
#include <libavutil/frame.h>
}

#include "engine/clip_frames.h"
#include "engine/frame_effects.h"
#include "engine/yuv_frame.h"
#include "engine/pixel_yc.h"

// The filter on one thread: frames of `width` x `height` pixels, rows
// `width` apart. weave() puts the partner frame's field in (60FPS), and
// filter() filters the frame; the decoder's frame comb ("3d") reads earlier
// frames' composite signals from the engine's history, which chains those
// it lacks from `earlier`, the clip's frames before the job's.
class FrameFilter {
public:
    FrameFilter(const EffectSettings& settings, int width, int height);
    ~FrameFilter();
    FrameFilter(const FrameFilter&) = delete;
    FrameFilter& operator=(const FrameFilter&) = delete;

    const EffectSettings& settings() const { return settings_; }

    // Replaces frame `number`'s moved field by that of `partner`, frame
    // number ^ 1 as decoded (clamped to the clip), as the editor's adapter
    // does. Weaving frame 2k first, frame 2k + 1 may take its field from
    // frame 2k woven: those rows are frame 2k's own.
    void weave(int number, PIXEL_YC* frame, const PIXEL_YC* partner) const;
    // Filters the frame in place; `earlier` gives earlier frames woven.
    void filter(int number, PIXEL_YC* frame, const ClipFrames* earlier);

    // The same without weaving on the decoder's own pictures, whose rows go
    // into the chain one at a time: filters `source` into `result`, a
    // picture of the same format.
    void filter_picture(int number, const AVFrame* source, AVFrame* result, const EarlierPictures* earlier);

private:
    EffectSettings settings_;
    int width_;
    int height_;
    EffectState state_;
    std::unique_ptr<PIXEL_YC[]> scratch_;
    YuvEffects yuv_ = {};
};

// How many frames back the frame comb reads: frames first - this .. first - 1
// are what a job's first frame may need; 0 without the frame comb.
int frame_comb_reach(const EffectSettings& settings);
// Frames a worker filters in a row with the frame comb: each but the first
// reads the frames before it from the worker's own history.
constexpr int combed_job_frames = 4;

// True where compose mode ("合成モード") runs instead of the effects.
bool composes(const EffectSettings& settings);
// True where frames 2k and 2k + 1 are the fields of one frame: each is
// woven with the other's field.
bool pairs_fields(const EffectSettings& settings);
// The settings norel's filter runs with: "範囲表示" only while previewing.
EffectSettings filter_settings(const EffectSettings& settings, bool preview);

// The number in the source of the first frame of a part that starts `start`
// (AV_TIME_BASE units) into a clip of constant `rate`: the first frame that
// starts less than half a frame before it, as the decoder takes it.
int32_t first_frame_of_part(int64_t start, AVRational rate);
