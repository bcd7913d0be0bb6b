#include "engine/clip_frames.h"

#include <cstddef>
#include <cstring>

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
