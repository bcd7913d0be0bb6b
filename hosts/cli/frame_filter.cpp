#include "hosts/cli/frame_filter.h"

#include <cstdint>
#include <new>

#include "hosts/cli/av.h"
#include "engine/clip_frames.h"

EffectSettings filter_settings(const EffectSettings& settings, bool preview)
{
    EffectSettings run = settings;
    // As the editor: "範囲表示" shows the rectangle only while previewing.
    run.show_range = settings.show_range && preview;
    return run;
}

int32_t first_frame_of_part(int64_t start, AVRational rate)
{
    // n / rate >= start - 1 / (2 rate): n >= (2 start num - den 10^6) / (2 den 10^6).
    const __int128 scale = static_cast<__int128>(2) * rate.den * AV_TIME_BASE;
    const __int128 above = static_cast<__int128>(2) * start * rate.num - static_cast<__int128>(rate.den) * AV_TIME_BASE;
    const __int128 n = above <= 0 ? 0 : (above + scale - 1) / scale;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(n)));
}

bool composes(const EffectSettings& settings)
{
    return settings.compose && !settings.show_range;
}

bool pairs_fields(const EffectSettings& settings)
{
    return settings.paired_fields && !settings.show_range && !settings.compose;
}

int frame_comb_reach(const EffectSettings& settings)
{
    const bool combs = settings.composite && !settings.show_range && !settings.compose &&
                       settings.decode.mode == DECODE_3D;
    return combs ? static_cast<int>(0u - static_cast<uint32_t>(comb_same_phase_frame(&settings, 0))) : 0;
}

namespace {

// The partner frame ("60FPS") as it enters the filter.
const PIXEL_YC* partner_frame(void* host, int32_t)
{
    return static_cast<const PIXEL_YC*>(host);
}

}  // namespace

FrameFilter::FrameFilter(const EffectSettings& settings, int width, int height)
    : settings_(settings), width_(width), height_(height),
      // Uninitialised: the chain touches only the few rows it stages.
      scratch_(new PIXEL_YC[static_cast<size_t>(width) * height])
{
}

FrameFilter::~FrameFilter()
{
    release_effect_state(&state_);
    release_yuv_effects(&yuv_);
}

void FrameFilter::weave(int number, PIXEL_YC* frame, const PIXEL_YC* partner) const
{
    if (partner == frame)
        return;  // the last frame of an odd clip, paired with itself
    const EffectFrame effect_frame = {frame, scratch_.get(), width_, height_, width_, number};
    const ClipFrames clip = {const_cast<PIXEL_YC*>(partner), partner_frame};
    weave_paired_field(&settings_, &effect_frame, &clip);
}

void FrameFilter::filter(int number, PIXEL_YC* frame, const ClipFrames* earlier)
{
    const EffectFrame effect_frame = {frame, scratch_.get(), width_, height_, width_, number};
    if (!apply_effects_in_clip(&state_, &settings_, &effect_frame, earlier))
        throw std::bad_alloc();
}

void FrameFilter::filter_picture(int number, const AVFrame* source, AVFrame* result, const EarlierPictures* earlier)
{
    const YuvPicture from = yuv_picture_of(source);
    YuvPicture to = yuv_picture_of(result);
    // The source's range and fields, whatever the result's tags say.
    to.layout = from.layout;
    to.interlaced = from.interlaced;
    if (!apply_effects_from_yuv(&yuv_, &settings_, &from, &to, number, earlier))
        throw std::bad_alloc();
}
