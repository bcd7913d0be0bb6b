#include "hosts/cli/frame_filter.h"

#include <new>
#include <utility>

#include "hosts/cli/av.h"
#include "engine/clip_frames.h"

void CompositeSignals::put(int frame, std::vector<PIXEL_YC> signal)
{
    std::lock_guard<std::mutex> lock(mutex_);
    signals_[frame] = std::move(signal);
    arrived_.notify_all();
}

const PIXEL_YC* CompositeSignals::wait(int frame)
{
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait(lock, [&] { return cancelled_ || signals_.count(frame) != 0; });
    // A map's elements stay where they are while others come and go.
    return cancelled_ ? nullptr : signals_[frame].data();
}

void CompositeSignals::drop(int frame)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = signals_.find(frame);
    // Two later frames read each signal: as partner and as same phase.
    if (found == signals_.end() || ++reads_[frame] < 2)
        return;
    reads_.erase(frame);
    spares_.push_back(std::move(found->second));
    signals_.erase(found);
}

std::vector<PIXEL_YC> CompositeSignals::spare()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (spares_.empty())
        return {};
    std::vector<PIXEL_YC> buffer = std::move(spares_.back());
    spares_.pop_back();
    return buffer;
}

void CompositeSignals::cancel()
{
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    arrived_.notify_all();
}

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

bool uses_frame_comb(const EffectSettings& settings)
{
    return settings.composite && !settings.show_range && !settings.compose && settings.decode.mode == DECODE_3D;
}

namespace {

// The partner frame ("60FPS") as it enters the filter.
const PIXEL_YC* partner_frame(void* host, int32_t)
{
    return static_cast<const PIXEL_YC*>(host);
}

}  // namespace

FrameFilter::FrameFilter(const EffectSettings& settings, int width, int height, CompositeSignals* signals)
    : settings_(settings), chain_settings_(settings), width_(width), height_(height),
      frame_comb_(uses_frame_comb(settings)), signals_(signals),
      // Uninitialised: the chain touches only the few rows it stages.
      scratch_(new PIXEL_YC[static_cast<size_t>(width) * height])
{
    // The frame comb reads another frame's signal, which another thread may
    // be chaining: chain() leaves the signal, finish() filters the frame.
    if (frame_comb_)
        chain_settings_.decode.mode = DECODE_OFF;
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

void FrameFilter::chain(int number, PIXEL_YC* frame)
{
    if (!frame_comb_) {
        const EffectFrame effect_frame = {frame, scratch_.get(), width_, height_, width_, number};
        apply_effects(&state_, &settings_, &effect_frame);
        return;
    }
    // The signal the engine would keep for a later frame: the chain up to
    // the decoder, on a copy; the frame itself is filtered by finish().
    std::vector<PIXEL_YC> signal = signals_->spare();
    signal.assign(frame, frame + static_cast<size_t>(width_) * height_);
    const EffectFrame effect_frame = {signal.data(), scratch_.get(), width_, height_, width_, number};
    apply_effects(&state_, &chain_settings_, &effect_frame);
    signals_->put(number, std::move(signal));
}

bool FrameFilter::earlier_signals(int number, const PIXEL_YC** partner, const PIXEL_YC** same_phase)
{
    *partner = *same_phase = nullptr;
    const int same_phase_number = frame_comb_ ? comb_same_phase_frame(&settings_, number) : -1;
    if (same_phase_number < 0)
        return true;  // the clip's first frames decode as "3line"
    *partner = signals_->wait(comb_partner_frame(&settings_, number));
    *same_phase = signals_->wait(same_phase_number);
    return *partner != nullptr && *same_phase != nullptr;
}

void FrameFilter::drop_earlier_signals(int number)
{
    if (frame_comb_ && comb_same_phase_frame(&settings_, number) >= 0) {
        signals_->drop(comb_partner_frame(&settings_, number));
        signals_->drop(comb_same_phase_frame(&settings_, number));
    }
}

bool FrameFilter::finish(int number, PIXEL_YC* frame)
{
    if (!frame_comb_)
        return true;
    EffectFrame effect_frame = {frame, scratch_.get(), width_, height_, width_, number};
    if (!earlier_signals(number, &effect_frame.partner, &effect_frame.same_phase))
        return false;
    apply_effects(&state_, &settings_, &effect_frame);
    drop_earlier_signals(number);
    return true;
}

void FrameFilter::chain_picture(int number, const AVFrame* source)
{
    if (!frame_comb_)
        return;
    std::vector<PIXEL_YC> signal = signals_->spare();
    signal.resize(static_cast<size_t>(width_) * height_);
    const YuvPicture picture = yuv_picture_of(source);
    if (!apply_effects_from_yuv(&yuv_, &chain_settings_, &picture, nullptr, number, nullptr, signal.data()))
        throw std::bad_alloc();
    signals_->put(number, std::move(signal));
}

bool FrameFilter::filter_picture(int number, const AVFrame* source, AVFrame* result)
{
    const PIXEL_YC *partner, *same_phase;
    if (!earlier_signals(number, &partner, &same_phase))
        return false;
    const YuvPicture from = yuv_picture_of(source);
    YuvPicture to = yuv_picture_of(result);
    // The source's range and fields, whatever the result's tags say.
    to.layout = from.layout;
    to.interlaced = from.interlaced;
    if (!apply_effects_from_yuv(&yuv_, &settings_, &from, &to, number, partner, nullptr, same_phase))
        throw std::bad_alloc();
    drop_earlier_signals(number);
    return true;
}
