#include "engine/clip_frames.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/settings_table.h"

int weave_paired_field(const EffectSettings* settings, const EffectFrame* frame,
                       const ClipFrames* clip)
{
    // The current frame keeps the rows of parity (NOT "TFF" XOR frame) AND 1.
    const int32_t top_field_first = settings->top_field_first != 0;
    const int moved_parity = 1 - ((~top_field_first ^ frame->number) & 1);
    // frame + 1 for an even frame, frame - 1 for an odd one; flipping the
    // lowest bit gives both without overflow at the ends of the int range.
    const PIXEL_YC* other = clip->frame(clip->host, frame->number ^ 1);
    if (other == nullptr)
        return 1;
    const size_t row_pixels = static_cast<size_t>(frame->max_w);
    for (int pair = 0; 2 * pair + 1 < frame->h; ++pair) {
        const size_t r = static_cast<size_t>(2 * pair + moved_parity);
        std::memcpy(frame->pixels + r * row_pixels, other + r * row_pixels,
                    row_pixels * sizeof(PIXEL_YC));
    }
    return 0;
}

void paste_second_half(const EffectSettings* settings, const EffectFrame* frame,
                       int32_t frame_count, const ClipFrames* source)
{
    const int32_t half = frame_count / 2;
    if (frame->number > half)
        return;
    // The frame counts keep number + half in range; a damaged negative count
    // must not overflow, so the sum wraps as 32-bit arithmetic does.
    const int32_t source_number = static_cast<int32_t>(static_cast<uint32_t>(frame->number) +
                                                       static_cast<uint32_t>(half));
    const PIXEL_YC* pixels = source->frame(source->host, source_number);
    const FilterRect rect = effect_rect(settings, frame->w, frame->h, frame->max_w);
    if (pixels == nullptr || rect_is_empty(&rect))
        return;
    const size_t bytes = static_cast<size_t>(rect.right - rect.left) * sizeof(PIXEL_YC);
    for (int r = rect.top; r < rect.bottom; ++r)
        std::memcpy(rect_row(frame->pixels, &rect, r), rect_row(pixels, &rect, r), bytes);
}

namespace {

bool uses_frame_comb(const EffectSettings* settings)
{
    return settings->composite && !settings->show_range && settings->decode.mode == DECODE_3D;
}

// What a composite signal is made with: everything but the decoder and
// "MONO", which act on it only after it is kept.
EffectSettings signal_settings(const EffectSettings* settings)
{
    EffectSettings made = *settings;
    made.decode = DecodeSettings{};
    made.decode.mode = DECODE_OFF;
    made.mono = 0;
    return made;
}

bool same_signal(const CombSignal* signal, int32_t number, const EffectSettings* made_with,
                 const EffectFrame* frame)
{
    return signal->valid && signal->number == number && signal->w == frame->w &&
           signal->h == frame->h && signal->max_w == frame->max_w &&
           std::memcmp(&signal->made_with, made_with, sizeof(EffectSettings)) == 0;
}

// Frames the history holds for the comb: from the frame of the same phase
// to the frame itself.
int history_frames(const EffectSettings* settings)
{
    const int32_t reach = static_cast<int32_t>(0u - static_cast<uint32_t>(comb_same_phase_frame(settings, 0)));
    return reach + 1;
}

const CombSignal* find_signal(const CombHistory* history, int frames, int32_t number, const EffectSettings* made_with,
                        const EffectFrame* frame)
{
    for (int i = 0; i < frames; ++i) {
        if (same_signal(&history->signals[i], number, made_with, frame))
            return &history->signals[i];
    }
    return nullptr;
}

// A slot for frame `number`'s signal: its own, an empty one, else the one
// of the frame furthest back from the frame being filtered (a frame after
// it counts as furthest), but those in `keep`; null when memory cannot be
// had.
CombSignal* signal_slot(CombHistory* history, int frames, int32_t number, const EffectSettings* made_with,
                        const EffectFrame* frame, const PIXEL_YC* const (&keep)[2])
{
    auto rank = [&](const CombSignal* signal) {
        if (same_signal(signal, number, made_with, frame))
            return 0ull;
        if (!signal->valid)
            return 1ull;
        const uint32_t back = static_cast<uint32_t>(frame->number) - static_cast<uint32_t>(signal->number);
        return 2ull + (UINT32_MAX - back);
    };
    CombSignal* slot = nullptr;
    for (int i = 0; i < frames; ++i) {
        CombSignal* signal = &history->signals[i];
        const bool kept = signal->pixels != nullptr && (signal->pixels == keep[0] || signal->pixels == keep[1]);
        if (!kept && (slot == nullptr || rank(signal) < rank(slot)))
            slot = signal;
    }
    const size_t pixels = static_cast<size_t>(frame->h) * static_cast<size_t>(frame->max_w);
    slot->valid = false;  // until it holds the signal
    if (slot->capacity < pixels) {
        std::free(slot->pixels);
        slot->pixels = static_cast<PIXEL_YC*>(std::malloc(pixels * sizeof(PIXEL_YC)));
        slot->capacity = slot->pixels != nullptr ? pixels : 0;
        if (slot->pixels == nullptr)
            return nullptr;
    }
    slot->number = number;
    slot->made_with = *made_with;
    slot->w = frame->w;
    slot->h = frame->h;
    slot->max_w = frame->max_w;
    return slot;
}

}  // namespace

int take_comb_signals(EffectState* state, const EffectSettings* given, EffectFrame* frame,
                      ChainEarlierFn* chain, void* host)
{
    frame->partner = frame->same_phase = nullptr;
    frame->composite = nullptr;
    const EffectSettings settings = normalised_settings(given);
    if (!uses_frame_comb(&settings))
        return 1;
    CombHistory* history = &state->comb_history;
    const int frames = history_frames(&settings);
    // Slots beyond what these settings reach are freed.
    for (int i = frames; i < comb_history_frames; ++i) {
        std::free(history->signals[i].pixels);
        history->signals[i] = CombSignal{};
    }
    const EffectSettings made_with = signal_settings(&settings);
    const int32_t partner = comb_partner_frame(&settings, frame->number);
    const int32_t same_phase = comb_same_phase_frame(&settings, frame->number);
    // Frame numbers count from the clip's first frame: before it there is none.
    const PIXEL_YC* signals[2] = {nullptr, nullptr};
    const int32_t numbers[2] = {same_phase, partner};
    for (int k = 0; k < 2 && partner >= 0 && same_phase >= 0; ++k) {
        if (const CombSignal* found = find_signal(history, frames, numbers[k], &made_with, frame)) {
            signals[k] = found->pixels;
            continue;
        }
        if (chain == nullptr)
            break;
        CombSignal* slot = signal_slot(history, frames, numbers[k], &made_with, frame, signals);
        if (slot == nullptr)
            return 0;
        slot->valid = chain(host, numbers[k], &made_with, slot->pixels) != 0;
        if (!slot->valid)
            break;
        signals[k] = slot->pixels;
    }
    if (signals[0] != nullptr && signals[1] != nullptr) {
        frame->same_phase = signals[0];
        frame->partner = signals[1];
    }
    CombSignal* own = signal_slot(history, frames, frame->number, &made_with, frame, signals);
    if (own == nullptr)
        return 0;
    frame->composite = own->pixels;
    return 1;
}

void keep_comb_signal(EffectState* state, const EffectFrame* frame)
{
    for (CombSignal& signal : state->comb_history.signals) {
        if (frame->composite != nullptr && signal.pixels == frame->composite)
            signal.valid = true;
    }
}

namespace {

// An earlier frame in memory, read as rows; what the chain writes back is
// dropped.
struct MemoryRows {
    const PIXEL_YC* pixels;
    int max_w;
};

void read_memory_row(void* host, int row, int left, int right, PIXEL_YC* out)
{
    const auto* frame = static_cast<const MemoryRows*>(host);
    std::memcpy(out, frame->pixels + static_cast<size_t>(row) * frame->max_w + left,
                static_cast<size_t>(right - left) * sizeof(PIXEL_YC));
}

void drop_row(void*, int, const PIXEL_YC*) {}

struct EarlierInMemory {
    EffectState* state;
    const EffectFrame* frame;
    const ClipFrames* earlier;
};

int chain_in_memory(void* host, int32_t number, const EffectSettings* settings, PIXEL_YC* signal)
{
    const auto* clip = static_cast<const EarlierInMemory*>(host);
    MemoryRows memory = {clip->earlier->frame(clip->earlier->host, number), clip->frame->max_w};
    if (memory.pixels == nullptr)
        return 0;
    const FrameRows rows = {&memory, read_memory_row, drop_row};
    EffectFrame frame = {nullptr, nullptr, clip->frame->w, clip->frame->h, clip->frame->max_w, number};
    frame.composite = signal;
    return apply_effects_by_rows(clip->state, settings, &frame, &rows);
}

}  // namespace

int apply_effects_in_clip(EffectState* state, const EffectSettings* settings, const EffectFrame* given,
                          const ClipFrames* earlier)
{
    EffectFrame frame = *given;
    EarlierInMemory host = {state, given, earlier};
    if (!take_comb_signals(state, settings, &frame, earlier != nullptr ? chain_in_memory : nullptr, &host))
        return 0;
    // A signal the walk could not write is not kept.
    if (!apply_effects(state, settings, &frame))
        return 0;
    keep_comb_signal(state, &frame);
    return 1;
}
