// The filter on the engine, as the editor's driver runs it (the same
// settings, the same field pairing), with one record of state for each
// thread, so that frames are filtered on every core, the decoder's frame
// comb among them.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

#include "engine/frame_effects.h"
#include "engine/yuv_frame.h"
#include "engine/pixel_yc.h"

// The composite signals that frames leave for a later frame's frame comb
// ("3d"), by frame number. Frames are filtered in any order on any thread:
// a frame that needs an earlier one's signal waits for it.
class CompositeSignals {
public:
    void put(int frame, std::vector<PIXEL_YC> signal);
    // Frame `frame`'s signal, once it is there; null once cancelled.
    const PIXEL_YC* wait(int frame);
    // A later frame has read the signal; once two have, its buffer is kept
    // for spare().
    void drop(int frame);
    // A buffer for a signal, of a dropped one where there is one.
    std::vector<PIXEL_YC> spare();
    // Wakes and fails every wait: the run is ending.
    void cancel();

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::map<int, std::vector<PIXEL_YC>> signals_;
    std::map<int, int> reads_;
    std::vector<std::vector<PIXEL_YC>> spares_;
    bool cancelled_ = false;
};

// The filter on one thread: frames of `width` x `height` pixels, rows
// `width` apart, filtered in place in three steps. weave() puts the partner
// frame's field in (60FPS), chain() filters the frame, or where the
// decoder's frame comb reads an earlier frame ("3d") leaves the frame's
// composite signal for a later one, and finish() then filters the frame
// with its partner's signal, through the engine's own frame comb. A
// thread that weaves, then chains, then finishes the frames of a job never
// waits on a later job: the partner is an earlier frame.
class FrameFilter {
public:
    // `signals` is shared by every thread's filter of the run.
    FrameFilter(const EffectSettings& settings, int width, int height, CompositeSignals* signals);
    ~FrameFilter();
    FrameFilter(const FrameFilter&) = delete;
    FrameFilter& operator=(const FrameFilter&) = delete;

    const EffectSettings& settings() const { return settings_; }

    // Replaces frame `number`'s moved field by that of `partner`, frame
    // number ^ 1 as decoded (clamped to the clip), as the editor's adapter
    // does. Weaving frame 2k first, frame 2k + 1 may take its field from
    // frame 2k woven: those rows are frame 2k's own.
    void weave(int number, PIXEL_YC* frame, const PIXEL_YC* partner) const;
    // Filters the frame; with the frame comb, keeps its composite signal
    // instead (the chain up to the decoder, on a copy).
    void chain(int number, PIXEL_YC* frame);
    // With the frame comb, filters the chained frame once its partner's
    // signal is there; false when the run was cancelled meanwhile.
    bool finish(int number, PIXEL_YC* frame);

    // The same steps without weaving on the decoder's own pictures, whose
    // rows go into the chain one at a time: chain_picture() leaves the
    // frame's composite signal where the frame comb reads it, and
    // filter_picture() filters `source` into `result`, a picture of the same
    // format, once the partner's signal is there; false when the run was
    // cancelled meanwhile.
    void chain_picture(int number, const AVFrame* source);
    bool filter_picture(int number, const AVFrame* source, AVFrame* result);

private:
    // The signals of the frames of opposite and of the same carrier phase,
    // once they are there (both null for the clip's first frames); false
    // when the run was cancelled meanwhile.
    bool earlier_signals(int number, const PIXEL_YC** partner, const PIXEL_YC** same_phase);
    void drop_earlier_signals(int number);

    EffectSettings settings_;
    EffectSettings chain_settings_;  // the chain up to the decoder
    int width_;
    int height_;
    bool frame_comb_;
    CompositeSignals* signals_;
    EffectState state_;
    std::unique_ptr<PIXEL_YC[]> scratch_;
    YuvEffects yuv_ = {};
};

// True where compose mode ("合成モード") runs instead of the effects.
bool composes(const EffectSettings& settings);
// True where frames 2k and 2k + 1 are the fields of one frame: each is
// woven with the other's field.
bool pairs_fields(const EffectSettings& settings);
// True where the decoder's frame comb reads an earlier frame's signal.
bool uses_frame_comb(const EffectSettings& settings);

// The settings norel's filter runs with: "範囲表示" only while previewing.
EffectSettings filter_settings(const EffectSettings& settings, bool preview);

// The number in the source of the first frame of a part that starts `start`
// (AV_TIME_BASE units) into a clip of constant `rate`: the first frame that
// starts less than half a frame before it, as the decoder takes it.
int32_t first_frame_of_part(int64_t start, AVRational rate);
