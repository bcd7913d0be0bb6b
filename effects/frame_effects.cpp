#include "effects/frame_effects.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "effects/field_shift.h"
#include "effects/settings_table.h"
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

int32_t comb_same_phase_frame(const EffectSettings* settings, int32_t frame)
{
    return comb_partner_frame(settings, comb_partner_frame(settings, frame));
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

static void prefetch_row(const PIXEL_YC* row, int width)
{
    const char* in = reinterpret_cast<const char*>(row);
    const size_t bytes = static_cast<size_t>(width) * sizeof(PIXEL_YC);
    for (size_t b = 0; b < bytes; b += 64)
        __builtin_prefetch(in + b, 0);
    __builtin_prefetch(in + bytes - 1, 0);
}

// Where one walk down the rows takes them from and puts them. Over a
// PIXEL_YC frame, input and output are the frame itself; over a host's
// rows, the input rows come from the host (those outside the rectangle
// into the ring `input`), and finished rows go into the ring `output`,
// each announced to `finished`.
struct Walk {
    RowPlace input;
    const FrameRows* host;
    RowPlace staged;   // encoded rows; its ring size is the walk's to set
    RowPlace shifted;  // vertical_lpf_ring_rows rows
    RowPlace output;
    void (*finished)(void* sink, int row);
    void* sink;
};

// Rows a walk over a host's rows keeps: each ring holds every row in use
// at once. Input rows outside the rectangle are the filter's five above and
// five below it, never needed together unless within these rows; finished
// rows wait here up to a filter group and the decoder's reach.
constexpr int host_input_rows = 32;
constexpr int host_output_rows = 32;

// The chain down one strip, rows top to bottom, each stage running just
// far enough ahead of the next: rows are chroma-encoded into the staged
// rows, shifted from there into a ring of rows, and low-pass filtered from
// the ring (rows of the strip) and the input (rows above and below it)
// into the output. Every row of the output is written once, and the
// input's rows of the strip are read before they are written. The staged
// rows keep only the encoded rows that a shifted row still reads, row r in
// its row r % staged_rows, so that they too stay in cache.
// Rows shifted - reach .. staged - 1 are in use, at most 2 reach + 1.
static int staged_row_count(const EffectFrame* frame, const Chain* chain)
{
    return static_cast<int>(std::min<long long>(frame->h, 2LL * shift_field_reach(&chain->shift) + 2));
}

static void run_chain(const EffectFrame* frame, const FilterRect* strip, const Chain* chain,
                      Walk walk)
{
    const int width = strip->right - strip->left;
    const long long reach = shift_field_reach(&chain->shift);
    walk.staged.rows = staged_row_count(frame, chain);
    int staged = strip->top;   // rows top .. staged - 1 have been staged
    int shifted = strip->top;  // rows shifted - ring rows .. shifted - 1 are in the ring
    const FrameRows* host = walk.host;

    auto stage_row = [&](int r, PIXEL_YC* out) {
        const PIXEL_YC* in = out;
        if (host != nullptr) {
            host->read(host->host, r, strip->left, strip->right, out);
        } else {
            in = place_row(&walk.input, r);
            if (r + prefetch_rows < strip->bottom)
                prefetch_row(place_row(&walk.input, r + prefetch_rows), width);
        }
        if (chain->carrier != nullptr && chain->standard == STANDARD_PAL)
            encode_pal_rect_row(out, in, strip, chain->carrier, &chain->pal, r);
        else if (chain->carrier != nullptr)
            encode_composite_rect_row(out, in, strip, chain->carrier, chain->carrier_flags, r);
        else if (out != in)
            std::memcpy(out, in, width * sizeof(PIXEL_YC));
    };
    // A shift of nothing leaves every row as it is staged: straight into the ring.
    const bool still = chain->shift.v == 0;
    auto shift_through = [&](int last) {
        for (; shifted <= std::min(last, strip->bottom - 1); ++shifted) {
            if (still) {
                stage_row(shifted, place_row(&walk.shifted, shifted));
                continue;
            }
            for (; staged <= std::min<long long>(shifted + reach, strip->bottom - 1); ++staged)
                stage_row(staged, place_row(&walk.staged, staged));
            // The shift moves rows alone: its columns count from the staged rows' first.
            const FilterRect staged_rect = {strip->top, strip->bottom, 0, width,
                                            static_cast<int>(walk.staged.pitch)};
            shift_field_row(place_row(&walk.shifted, shifted), walk.staged.base, walk.staged.rows,
                            &staged_rect, &chain->shift, shifted);
        }
    };
    // The host's rows above the strip and below it that the filter reads,
    // through row `last`: above all at once, below as the filter nears them.
    const int lpf_reach = 5;
    int above = std::max(1, strip->top - lpf_reach);
    int below = strip->bottom;
    auto read_outside = [&](int last) {
        for (; host != nullptr && above < strip->top; ++above)
            host->read(host->host, above, strip->left, strip->right, place_row(&walk.input, above));
        for (; host != nullptr && below <= last; ++below)
            host->read(host->host, below, strip->left, strip->right, place_row(&walk.input, below));
    };
    auto finish = [&](int first, int end) {
        for (int r = first; walk.finished != nullptr && r < end; ++r)
            walk.finished(walk.sink, r);
    };

    // The filter writes rows 1 .. h - 2; the strip's other rows are the shifted rows.
    const bool lpf = chain->filter_rows != nullptr;
    const int lpf_first = lpf ? std::max(strip->top, 1) : strip->bottom;
    const int lpf_end = lpf ? std::min(strip->bottom, frame->h - 1) : strip->bottom;
    for (int i = strip->top; i < strip->bottom;) {
        if (i >= lpf_first && i < lpf_end) {
            int end = std::min(i + vertical_lpf_group_rows, lpf_end);
            if (walk.output.rows > 0)  // a group's rows never wrap around the ring
                end = std::min(end, (i / walk.output.rows + 1) * walk.output.rows);
            shift_through(end + 4);
            read_outside(std::min(frame->h - 2, end + 4));
            const LpfSource source = {reinterpret_cast<const int16_t*>(walk.input.base),
                                      3 * static_cast<ptrdiff_t>(walk.input.pitch),
                                      reinterpret_cast<const int16_t*>(walk.shifted.base),
                                      3 * static_cast<ptrdiff_t>(walk.shifted.pitch),
                                      strip->top,
                                      shifted,
                                      walk.input.rows};
            vertical_lpf_source_rows(reinterpret_cast<int16_t*>(place_row(&walk.output, i)),
                                     3 * static_cast<ptrdiff_t>(walk.output.pitch), &source, i,
                                     end, frame->h, 3 * width, chain->filter_rows);
            finish(i, end);
            i = end;
        } else {
            shift_through(i);
            std::memcpy(place_row(&walk.output, i), place_row(&walk.shifted, i),
                        width * sizeof(PIXEL_YC));
            finish(i, i + 1);
            ++i;
        }
    }
}

static int32_t colour_standard(const EffectSettings* settings)
{
    return settings->standard == STANDARD_PAL ? STANDARD_PAL : STANDARD_NTSC;
}

// The decoder's walk for the frame, over the rectangle; false where the
// frame is not decoded.
static bool start_decoding(DecodeWalk* walk, EffectState* state, const EffectSettings* settings,
                           const EffectFrame* frame, const SubcarrierTables* carrier,
                           const FilterRect* rect)
{
    if (carrier == nullptr || settings->decode.mode == DECODE_OFF || rect_is_empty(rect))
        return false;
    const PalSequence sequence = pal_sequence(settings, frame->number);
    return start_decode_walk(walk, &state->decoder, &settings->decode, colour_standard(settings),
                             settings->freq, carrier, carrier_flags(settings, frame->number),
                             &sequence, frame->partner, frame->same_phase, rect) != 0;
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
    DecodeWalk walk;
    if (!start_decoding(&walk, state, settings, frame, carrier, rect))
        return false;
    const RowPlace rows = {rect_row(frame->pixels, rect, 0), rect->pitch, 0};
    decode_walk_rows(&walk, &rows, rect->bottom);
    return true;
}

static Chain frame_chain(EffectState* state, const EffectSettings* settings, const EffectFrame* frame)
{
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
    return chain;
}

// The VHS deck's walk over the rectangle for the frame; false when its
// memory cannot be had.
static bool start_deck(VhsWalk* deck, EffectState* state, const EffectSettings* settings,
                       const EffectFrame* frame, const FilterRect* rect)
{
    const PalSequence sequence = pal_sequence(settings, frame->number);
    return start_vhs_deck(deck, &state->vhs, &settings->vhs, colour_standard(settings),
                          settings->freq, settings->phase, carrier_flags(settings, frame->number),
                          &sequence, rect, frame->w, frame->h, frame->number) != 0;
}

// What becomes of finished rows: kept as the composite signal, decoded,
// "MONO", and handed back to the host where there is one, in order.
struct RowSink {
    const FrameRows* host;
    const EffectFrame* frame;
    FilterRect rect;
    RowPlace output;
    DecodeWalk* decoder;  // null: not decoded
    VhsWalk* deck;        // null: no VHS deck
    bool mono;
    int handed;  // rows top .. handed - 1 are back with the host
};

static void hand_back(RowSink* sink, int end)
{
    RegionRowFn* strip_row_chroma = dispatched(&strip_chroma_row_kernel);
    const int width = sink->rect.right - sink->rect.left;
    for (; sink->handed < end; ++sink->handed) {
        PIXEL_YC* row = place_row(&sink->output, sink->handed);
        if (sink->mono)
            strip_row_chroma(row, width);
        if (sink->host != nullptr)
            sink->host->write(sink->host->host, sink->handed, row);
    }
}

static void row_finished(void* context, int row)
{
    auto* sink = static_cast<RowSink*>(context);
    const int width = sink->rect.right - sink->rect.left;
    if (sink->deck != nullptr)
        play_vhs_row(sink->deck, place_row(&sink->output, row), row);
    if (sink->frame->composite != nullptr)
        std::memcpy(rect_row(sink->frame->composite, &sink->rect, row),
                    place_row(&sink->output, row), width * sizeof(PIXEL_YC));
    if (sink->decoder == nullptr) {
        hand_back(sink, row + 1);
        return;
    }
    // A row is decoded once the rows its combs reach below it are there.
    const int last = row + 1 == sink->rect.bottom;
    decode_walk_rows(sink->decoder, &sink->output,
                     last ? row + 1 : row + 1 - decode_walk_reach(sink->decoder));
    hand_back(sink, sink->decoder->decoded);
}

// Every row of the rectangle read, changed by `change` and handed back.
static void rows_through(const FrameRows* host, const FilterRect* rect, PIXEL_YC* row,
                         RegionRowFn* change)
{
    for (int r = rect->top; r < rect->bottom; ++r) {
        host->read(host->host, r, rect->left, rect->right, row);
        change(row, rect->right - rect->left);
        host->write(host->host, r, row);
    }
}

static bool reserve_walk_rows(EffectState* state, size_t count)
{
    if (count <= state->walk_capacity)
        return true;
    std::free(state->walk_rows);
    state->walk_rows = static_cast<PIXEL_YC*>(std::malloc(count * sizeof(PIXEL_YC)));
    state->walk_capacity = state->walk_rows != nullptr ? count : 0;
    return state->walk_rows != nullptr;
}

// The chain over the whole rectangle's width in one walk, rows decoded as
// they are finished: over the host's rows, or with no host over the
// frame's own pixels in place. FALSE when memory cannot be had; nothing has
// been written then.
static int walk_whole_rows(EffectState* state, const EffectSettings* settings,
                           const EffectFrame* frame, const Chain* chain, const FilterRect* rect,
                           const FrameRows* host)
{
    const int width = rect->right - rect->left;
    const int staged_rows = staged_row_count(frame, chain);
    // Over the frame itself, its own rows are the input and the output.
    const size_t rows = static_cast<size_t>(staged_rows) + vertical_lpf_ring_rows +
                        (host != nullptr ? host_input_rows + host_output_rows : 0);
    if (!reserve_walk_rows(state, rows * width))
        return 0;
    PIXEL_YC* next = state->walk_rows;
    auto ring_of = [&](int count) {
        const RowPlace place = {next, width, count};
        next += static_cast<size_t>(count) * width;
        return place;
    };
    Walk walk = {};
    walk.host = host;
    walk.staged = ring_of(staged_rows);
    walk.shifted = ring_of(vertical_lpf_ring_rows);
    if (host != nullptr) {
        walk.input = ring_of(host_input_rows);
        walk.output = ring_of(host_output_rows);
    } else {
        walk.input = walk.output = {rect_row(frame->pixels, rect, 0), rect->pitch, 0};
    }
    DecodeWalk decoder;
    const bool decoding = start_decoding(&decoder, state, settings, frame, chain->carrier, rect);
    if (!decoding && chain->carrier != nullptr && settings->decode.mode != DECODE_OFF)
        return 0;  // the decoder's rows cannot be had
    VhsWalk deck;
    const bool playing = settings->vhs.format != VHS_OFF && chain->carrier != nullptr;
    if (playing && !start_deck(&deck, state, settings, frame, rect))
        return 0;
    RowSink sink = {host, frame, *rect, walk.output, decoding ? &decoder : nullptr,
                    playing ? &deck : nullptr,
                    settings->mono && (!settings->composite || decoding), rect->top};
    // Over the frame itself, rows that are only finished need nothing more.
    const bool needs_rows =
        host != nullptr || decoding || playing || sink.mono || frame->composite != nullptr;
    walk.finished = needs_rows ? row_finished : nullptr;
    walk.sink = &sink;
    run_chain(frame, rect, chain, walk);
    return 1;
}

void apply_effects(EffectState* state, const EffectSettings* given, const EffectFrame* frame)
{
    const EffectSettings safe = normalised_settings(given);
    const EffectSettings* settings = &safe;
    const FilterRect rect = effect_rect(settings, frame->w, frame->h, frame->max_w);
    if (settings->show_range) {
        show_range(frame->pixels, &rect);
        return;
    }
    const Chain chain = frame_chain(state, settings, frame);
    // Decoded, the rows are walked over the rectangle's whole width, so that
    // the decoder takes each row while it is still in cache; so are wide
    // rectangles, whose rows in use stay in the second-level cache, which
    // serves them faster than walking strips (narrow rectangles the other
    // way round).
    const bool decodes = chain.carrier != nullptr && settings->decode.mode != DECODE_OFF;
    const bool wide = rect.right - rect.left > 2 * strip_pixels;
    if ((decodes || wide) && !rect_is_empty(&rect) &&
        walk_whole_rows(state, settings, frame, &chain, &rect, nullptr))
        return;

    // "C/Y", the field shift and "LPF" together, strip by strip of columns.
    alignas(32) PIXEL_YC ring[vertical_lpf_ring_rows][strip_pixels];
    const int width = rect.right - rect.left;
    const int strips = (width + strip_pixels - 1) / strip_pixels;
    for (int k = 0; k < strips; ++k) {
        FilterRect strip = rect;
        strip.left = rect.left + static_cast<int>(static_cast<long long>(width) * k / strips);
        strip.right = rect.left + static_cast<int>(static_cast<long long>(width) * (k + 1) / strips);
        const RowPlace in_frame = {rect_row(frame->pixels, &strip, 0), strip.pitch, 0};
        Walk walk = {};
        walk.input = walk.output = in_frame;
        walk.staged = {rect_row(frame->scratch, &strip, 0), strip.pitch, 0};
        walk.shifted = {&ring[0][0], strip_pixels, vertical_lpf_ring_rows};
        run_chain(frame, &strip, &chain, walk);
    }

    VhsWalk deck;
    if (settings->vhs.format != VHS_OFF && chain.carrier != nullptr && !rect_is_empty(&rect) &&
        start_deck(&deck, state, settings, frame, &rect)) {
        for (int r = rect.top; r < rect.bottom; ++r)
            play_vhs_row(&deck, rect_row(frame->pixels, &rect, r), r);
    }

    const bool decoded = decode_rect(state, settings, frame, chain.carrier, &rect);

    // A monochrome set: no colour, whether it was never encoded or decoded again.
    if (settings->mono && (!settings->composite || decoded))
        strip_chroma(frame->pixels, &rect);
}

int apply_effects_by_rows(EffectState* state, const EffectSettings* given,
                          const EffectFrame* frame, const FrameRows* host)
{
    const EffectSettings safe = normalised_settings(given);
    const EffectSettings* settings = &safe;
    const FilterRect rect = effect_rect(settings, frame->w, frame->h, frame->max_w);
    if (rect_is_empty(&rect))
        return 1;
    if (settings->show_range) {
        if (!reserve_walk_rows(state, static_cast<size_t>(rect.right - rect.left)))
            return 0;
        rows_through(host, &rect, state->walk_rows, dispatched(&show_range_row_kernel));
        return 1;
    }
    const Chain chain = frame_chain(state, settings, frame);
    return walk_whole_rows(state, settings, frame, &chain, &rect, host);
}

int decode_effects(EffectState* state, const EffectSettings* given, const EffectFrame* frame)
{
    const EffectSettings safe = normalised_settings(given);
    const EffectSettings* settings = &safe;
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
    release_vhs_state(&state->vhs);
    std::free(state->walk_rows);
    state->walk_rows = nullptr;
    state->walk_capacity = 0;
}
