#include "effects/frame_effects.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

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

int32_t comb_partner_frame(const EffectSettings* settings, int32_t frame)
{
    // Unsigned arithmetic: no frame number overflows.
    const uint32_t frames = settings->standard == STANDARD_PAL ? 2u : 1u;
    return static_cast<int32_t>(static_cast<uint32_t>(frame) -
                                (settings->paired_fields ? 2 * frames : frames));
}

PalSequence pal_sequence(const EffectSettings* settings, int32_t frame)
{
    PalSequence sequence;
    sequence.freq = settings->freq;
    // Paired, frames 2k and 2k + 1 are the fields of interlaced frame k.
    sequence.frame = settings->paired_fields ? (frame >> 1) : frame;
    sequence.top_field_first = top_field_first(settings);
    return sequence;
}

int32_t carrier_flags(const EffectSettings* settings, int32_t frame)
{
    // Unsigned arithmetic: -2 * frame must wrap, not overflow, for any frame.
    const uint32_t f = static_cast<uint32_t>(frame);
    const uint32_t sequence = settings->paired_fields ? f : 0u - 2u * f;
    return static_cast<int32_t>((sequence & 2u) | static_cast<uint32_t>(top_field_first(settings)));
}

// What the chain does to one frame, decided before its rows are walked.
struct Chain {
    const SubcarrierTables* carrier;  // "C/Y" tables; null: no encoding
    int32_t standard;
    int32_t carrier_flags;  // NTSC
    PalSequence pal;
    FieldShift shift;
    VerticalLpfRowsFn* filter_rows;  // "LPF"; null: no filtering
};

static FieldShift field_shift(EffectState* state, int32_t v, int field)
{
    if ((v & 15) == 0)
        return {v, field, nullptr};
    if (v != state->kernel_key) {
        build_shift_kernel(state->shift_kernel.weights, v);
        state->kernel_key = v;
    }
    return {v, field, state->shift_kernel.weights};
}

// Columns per strip: a strip's rows at every stage stay in the processor's
// first caches while the chain walks down it.
constexpr int strip_pixels = 256;

// A strip's rows are short runs a pitch apart, which the processor does not
// fetch ahead by itself: the walk asks for the frame's rows a few rows
// before it stages them.
constexpr int prefetch_rows = 12;

static void prefetch_row(const EffectFrame* frame, const FilterRect* strip, int r)
{
    const char* in = reinterpret_cast<const char*>(rect_row(frame->pixels, strip, r));
    const size_t bytes = static_cast<size_t>(strip->right - strip->left) * sizeof(PIXEL_YC);
    for (size_t b = 0; b < bytes; b += 64)
        __builtin_prefetch(in + b, 0);
    __builtin_prefetch(in + bytes - 1, 0);
}

// The chain down one strip, rows top to bottom, each stage running just
// far enough ahead of the next: rows are chroma-encoded into the scratch
// frame, shifted from there into a ring of rows, and low-pass filtered from
// the ring (rows of the strip) and the frame (rows above and below it) into
// the frame. Every row of the frame is written once, and the frame's rows
// of the strip are read before they are written. The scratch frame keeps
// only the encoded rows that a shifted row still reads, row r in its row
// r % staged_rows, so that they too stay in cache.
static void run_chain(const EffectFrame* frame, const FilterRect* strip, const Chain* chain)
{
    alignas(32) PIXEL_YC ring[vertical_lpf_ring_rows][strip_pixels];
    const int width = strip->right - strip->left;
    const long long reach = shift_field_reach(&chain->shift);
    // Rows shifted - reach .. staged - 1 are in use, at most 2 reach + 1.
    const int staged_rows = static_cast<int>(std::min<long long>(frame->h, 2 * reach + 2));
    int staged = strip->top;   // rows top .. staged - 1 have been in the scratch frame
    int shifted = strip->top;  // rows shifted - ring rows .. shifted - 1 are in the ring

    auto stage_row = [&](int r) {
        if (r + prefetch_rows < strip->bottom)
            prefetch_row(frame, strip, r + prefetch_rows);
        // The scratch frame is the host's to give and the engine's to fill:
        // the host reads only the frame after the call.
        PIXEL_YC* out = rect_row(frame->scratch, strip, r % staged_rows);
        if (chain->carrier != nullptr && chain->standard == STANDARD_PAL)
            encode_pal_rect_row(out, frame->pixels, strip, chain->carrier, &chain->pal, r);
        else if (chain->carrier != nullptr)
            encode_composite_rect_row(out, frame->pixels, strip, chain->carrier,
                                      chain->carrier_flags, r);
        else
            std::memcpy(out, rect_row(frame->pixels, strip, r), width * sizeof(PIXEL_YC));
    };
    auto shift_through = [&](int last) {
        for (; shifted <= std::min(last, strip->bottom - 1); ++shifted) {
            for (; staged <= std::min<long long>(shifted + reach, strip->bottom - 1); ++staged)
                stage_row(staged);
            shift_field_row(ring[shifted % vertical_lpf_ring_rows], frame->scratch, staged_rows,
                            strip, &chain->shift, shifted);
        }
    };

    // The filter writes rows 1 .. h - 2; the strip's other rows are the shifted rows.
    const bool lpf = chain->filter_rows != nullptr;
    const int lpf_first = lpf ? std::max(strip->top, 1) : strip->bottom;
    const int lpf_end = lpf ? std::min(strip->bottom, frame->h - 1) : strip->bottom;
    const ptrdiff_t pitch = 3 * static_cast<ptrdiff_t>(strip->pitch);
    const ptrdiff_t left = 3 * static_cast<ptrdiff_t>(strip->left);
    auto* pixels = reinterpret_cast<int16_t*>(frame->pixels);
    for (int i = strip->top; i < strip->bottom;) {
        if (i >= lpf_first && i < lpf_end) {
            const int end = std::min(i + vertical_lpf_group_rows, lpf_end);
            shift_through(end + 4);
            const LpfSource source = {pixels + left, pitch, reinterpret_cast<int16_t*>(ring),
                                      3 * strip_pixels, strip->top, shifted};
            vertical_lpf_source_rows(pixels + left, pitch, &source, i, end, frame->h, 3 * width,
                                     chain->filter_rows);
            i = end;
        } else {
            shift_through(i);
            std::memcpy(rect_row(frame->pixels, strip, i), ring[i % vertical_lpf_ring_rows],
                        width * sizeof(PIXEL_YC));
            ++i;
        }
    }
}

static int32_t colour_standard(const EffectSettings* settings)
{
    return settings->standard == STANDARD_PAL ? STANDARD_PAL : STANDARD_NTSC;
}

// The decoder over the rectangle once the chain is done (it reads the rows
// a comb reaches above and below the row it writes), the composite signal
// kept first where the host asks for it. False where it did not decode.
static bool decode_rect(EffectState* state, const EffectSettings* settings,
                        const EffectFrame* frame, const SubcarrierTables* carrier,
                        const FilterRect* rect)
{
    if (carrier == nullptr || settings->decode.mode == DECODE_OFF || rect_is_empty(rect))
        return false;
    if (frame->composite != nullptr)
        copy_rect(frame->composite, frame->pixels, rect);
    if (colour_standard(settings) == STANDARD_PAL) {
        const PalSequence sequence = pal_sequence(settings, frame->number);
        return decode_pal_composite(&state->decoder, &settings->decode, carrier, &sequence,
                                    frame->pixels, frame->partner, rect) != 0;
    }
    return decode_composite(&state->decoder, &settings->decode, settings->freq, carrier,
                            carrier_flags(settings, frame->number), frame->pixels,
                            frame->partner, rect) != 0;
}

void apply_effects(EffectState* state, const EffectSettings* settings, const EffectFrame* frame)
{
    const FilterRect rect = effect_rect(settings, frame->w, frame->h, frame->max_w);
    if (settings->show_range) {
        show_range(frame->pixels, &rect);
        return;
    }
    Chain chain;
    chain.standard = colour_standard(settings);
    chain.carrier = settings->composite &&
                            build_carrier_tables(&state->subcarrier_tables, chain.standard,
                                                 settings->freq, settings->phase, frame->w,
                                                 frame->max_w)
                        ? &state->subcarrier_tables
                        : nullptr;
    chain.carrier_flags = carrier_flags(settings, frame->number);
    chain.pal = pal_sequence(settings, frame->number);
    chain.shift = field_shift(state, settings->shift, moved_field(settings, frame->number));
    chain.filter_rows = settings->lpf ? dispatched(&vertical_lpf_rows_kernel) : nullptr;

    // "C/Y", the field shift and "LPF" together, strip by strip of columns.
    const int width = rect.right - rect.left;
    const int strips = (width + strip_pixels - 1) / strip_pixels;
    for (int k = 0; k < strips; ++k) {
        FilterRect strip = rect;
        strip.left = rect.left + static_cast<int>(static_cast<long long>(width) * k / strips);
        strip.right = rect.left + static_cast<int>(static_cast<long long>(width) * (k + 1) / strips);
        run_chain(frame, &strip, &chain);
    }

    const bool decoded = decode_rect(state, settings, frame, chain.carrier, &rect);

    // A monochrome set: no colour, whether it was never encoded or decoded again.
    if (settings->mono && (!settings->composite || decoded))
        strip_chroma(frame->pixels, &rect);
}

int decode_effects(EffectState* state, const EffectSettings* settings, const EffectFrame* frame)
{
    const FilterRect rect = effect_rect(settings, frame->w, frame->h, frame->max_w);
    if (settings->decode.mode == DECODE_OFF || rect_is_empty(&rect))
        return 1;
    if (!build_carrier_tables(&state->subcarrier_tables, colour_standard(settings), settings->freq,
                              settings->phase, frame->w, frame->max_w) ||
        !decode_rect(state, settings, frame, &state->subcarrier_tables, &rect))
        return 0;
    if (settings->mono)
        strip_chroma(frame->pixels, &rect);
    return 1;
}

void release_effect_state(EffectState* state)
{
    release_subcarrier_tables(&state->subcarrier_tables);
    release_decoder_state(&state->decoder);
}
