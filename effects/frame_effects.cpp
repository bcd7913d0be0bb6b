#include "effects/frame_effects.h"

#include <algorithm>

#include "effects/field_shift.h"
#include "effects/region.h"
#include "effects/vertical_lpf.h"

// An edge is kept inside [0, limit]. Hosts keep their values in range, but a
// damaged project file need not, and no setting may ever move the rectangle
// outside the frame.
static int clamp_edge(long long value, int limit)
{
    return static_cast<int>(std::max(0LL, std::min<long long>(value, limit)));
}

FilterRect effect_rect(const EffectSettings* settings, int w, int h, int max_w)
{
    FilterRect rect;
    rect.top = clamp_edge(settings->top, h);
    rect.left = clamp_edge(settings->left, w);
    rect.bottom = clamp_edge(static_cast<long long>(rect.top) + settings->height, h);
    rect.right = clamp_edge(static_cast<long long>(rect.left) + settings->width, w);
    rect.pitch = max_w;
    return rect;
}

FilterRect effect_input_window(const EffectSettings* settings, int w, int h, int max_w)
{
    // The field shift reads only rows inside the rectangle; the low-pass
    // filter reads five rows to either side of each output row.
    const int lpf_reach = 5;
    FilterRect window = effect_rect(settings, w, h, max_w);
    if (!rect_is_empty(&window) && settings->lpf) {
        window.top = std::max(0, window.top - lpf_reach);
        window.bottom = std::min(h, window.bottom + lpf_reach);
    }
    return window;
}

// Any non-zero flag counts as on.
static int top_field_first(const EffectSettings* settings)
{
    return settings->top_field_first != 0;
}

int moved_field(const EffectSettings* settings, int32_t frame)
{
    if (settings->paired_fields)
        return (~top_field_first(settings) ^ frame) & 1;
    return 1 - top_field_first(settings);
}

int32_t carrier_flags(const EffectSettings* settings, int32_t frame)
{
    // Unsigned arithmetic: -2 * frame must wrap, not overflow, for any frame.
    const uint32_t f = static_cast<uint32_t>(frame);
    const uint32_t sequence = settings->paired_fields ? f : 0u - 2u * f;
    return static_cast<int32_t>((sequence & 2u) | static_cast<uint32_t>(top_field_first(settings)));
}

static void shift_moved_field(EffectState* state, const EffectFrame* frame, const FilterRect* rect,
                              int32_t v, int field)
{
    if ((v & 15) != 0) {
        if (v != state->kernel_key) {
            build_shift_kernel(state->shift_kernel.weights, v);
            state->kernel_key = v;
        }
        shift_field_fraction(frame->scratch, frame->pixels, rect, v, field,
                             state->shift_kernel.weights);
    } else {
        shift_field_whole(frame->scratch, frame->pixels, rect, v, field);
    }
    copy_rect(frame->pixels, frame->scratch, rect);
}

void apply_effects(EffectState* state, const EffectSettings* settings, const EffectFrame* frame)
{
    const FilterRect rect = effect_rect(settings, frame->w, frame->h, frame->max_w);
    if (settings->show_range) {
        show_range(frame->pixels, &rect);
        return;
    }
    if (settings->composite &&
        build_subcarrier_tables(&state->subcarrier_tables, settings->freq, settings->phase,
                                frame->w, frame->max_w))
        encode_composite(frame->pixels, &rect, &state->subcarrier_tables,
                         carrier_flags(settings, frame->number));

    shift_moved_field(state, frame, &rect, settings->shift, moved_field(settings, frame->number));

    if (settings->lpf) {
        vertical_lpf(frame->scratch, frame->pixels, frame->h, frame->w, frame->max_w);
        copy_rect(frame->pixels, frame->scratch, &rect);
    }
    if (settings->mono && !settings->composite)
        strip_chroma(frame->pixels, &rect);
}

void release_effect_state(EffectState* state)
{
    release_subcarrier_tables(&state->subcarrier_tables);
}
