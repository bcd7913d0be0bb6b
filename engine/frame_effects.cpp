#include "engine/frame_effects.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "engine/field_shift.h"
#include "engine/settings_table.h"
#include "engine/region.h"
#include "engine/vertical_lpf.h"

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
    const EffectKernels* kernels;
    const SubcarrierTables* carrier;  // "C/Y" tables; null: no encoding
    int32_t standard;
    int32_t carrier_flags;  // NTSC
    PalSequence pal;
    FieldShift shift;
    VerticalLpfRowsFn* filter_rows;  // "LPF"; null: no filtering
    RegionRowFn* strip_row_chroma;   // "MONO"
};

static FieldShift field_shift(EffectState* state, int32_t v, int field)
{
    const EffectKernels* kernels = &state->kernels;
    if ((v & 15) == 0)
        return {v, field, nullptr, kernels->interpolate_row, kernels->average_rows};
    if (v != state->kernel_key) {
        build_shift_kernel(state->shift_kernel.weights, v);
        state->kernel_key = v;
    }
    return {v, field, state->shift_kernel.weights, kernels->interpolate_row, kernels->average_rows};
}

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

// The low-pass filter's reach above and below a row.
constexpr int lpf_reach = 5;

// Columns the decoder's output reads to either side: the band-pass's reach,
// then the chroma low-pass's. Decoded strips compute this many columns of
// their neighbours too, so that the columns they write are decoded from
// the rectangle's own pixels, not from a strip's edge.
constexpr int decoder_overlap = decoder_bandpass_reach + decoder_lowpass_reach;

// Rows a walk keeps in its rings beyond the staged rows: the shifted rows,
// finished rows waiting for a filter group and the decoder's reach, and
// the host's rows outside the rectangle (the filter's five above and five
// below it, never needed together unless within these rows).
constexpr int output_ring_rows = 32;
constexpr int host_input_rows = 32;

// One walk down a strip of the rectangle, rows top to bottom, each stage
// running just far enough ahead of the next that the rows in use stay in
// cache: rows are chroma-encoded into the staged rows, shifted from there
// into a ring, low-pass filtered from the ring (rows of the rectangle) and
// the input (rows above and below it) into the output, then kept as the
// composite signal, decoded, "MONO", and handed to their sink.
//
// Rows come from and go to either the frame in memory, changed in place,
// or the host's rows. A decoded strip spans the decoder's overlap beyond
// the columns it writes; the overlap's input columns that the strip before
// it has already written are read from `band`, which that strip filled
// with them as they were.
struct Walk {
    const Chain* chain;
    int frame_h;
    FilterRect span;  // the rectangle's rows; the columns the strip computes
    int left, right;  // the columns it writes, within the span
    const FrameRows* host;  // null: the frame in memory
    RowPlace frame;         // the frame's rows at span.left (no host)
    RowPlace input;   // the rows outside the rectangle: the frame's, or a ring of the host's
    RowPlace staged;  // a ring of encoded rows
    RowPlace shifted; // a ring of vertical_lpf_ring_rows rows
    RowPlace output;  // the frame itself, or a ring of output_ring_rows rows
    PIXEL_YC* band;   // row r at band + (r - span.top) * decoder_overlap; null: no overlap
    PIXEL_YC* composite;  // frame->composite; null: not kept
    DecodeWalk* decoder;  // null: not decoded
    VhsWalk* deck;        // null: no VHS deck
    bool mono;
    bool finishes;  // rows need more once filtered than to be in the output
    int staged_end;   // rows top .. staged_end - 1 have been staged
    int shifted_end;  // rows shifted_end - ring rows .. shifted_end - 1 are in the ring
    int above, below; // the next host rows outside the rectangle to read
    int handed;       // rows top .. handed - 1 are in their sink
};

// Rows shifted - reach .. staged - 1 are in use, at most 2 reach + 1.
static int staged_row_count(int h, const Chain* chain)
{
    return static_cast<int>(std::min<long long>(h, 2LL * shift_field_reach(&chain->shift) + 2));
}

static void stage_row(Walk* walk, int r, PIXEL_YC* out)
{
    const int width = walk->span.right - walk->span.left;
    const PIXEL_YC* in = out;
    if (walk->host != nullptr) {
        walk->host->read(walk->host->host, r, walk->span.left, walk->span.right, out);
    } else {
        const PIXEL_YC* row = place_row(&walk->frame, r);
        if (r + prefetch_rows < walk->span.bottom)
            prefetch_row(place_row(&walk->frame, r + prefetch_rows), width);
        in = row;
        if (walk->band != nullptr) {
            PIXEL_YC* band = walk->band + static_cast<size_t>(r - walk->span.top) * decoder_overlap;
            const int before = walk->left - walk->span.left;  // the previous strip's columns
            if (before > 0) {
                std::memcpy(out, band, before * sizeof(PIXEL_YC));
                std::memcpy(out + before, row + before, (width - before) * sizeof(PIXEL_YC));
                in = out;
            }
            // The last columns this strip writes, for the next strip's overlap.
            if (walk->right < walk->span.right)
                std::memcpy(band, row + (walk->right - decoder_overlap - walk->span.left),
                            decoder_overlap * sizeof(PIXEL_YC));
        }
    }
    const Chain* chain = walk->chain;
    if (chain->carrier != nullptr && chain->standard == STANDARD_PAL)
        encode_pal_rect_row(out, in, &walk->span, chain->carrier, &chain->pal, r,
                            chain->kernels->encode_pal_row);
    else if (chain->carrier != nullptr)
        encode_composite_rect_row(out, in, &walk->span, chain->carrier, chain->carrier_flags, r,
                                  chain->kernels->encode_composite_row);
    else if (out != in)
        std::memcpy(out, in, width * sizeof(PIXEL_YC));
}

static void shift_through(Walk* walk, int last)
{
    const FilterRect* span = &walk->span;
    const long long reach = shift_field_reach(&walk->chain->shift);
    // The shift moves rows alone: its columns count from the staged rows' first.
    const FilterRect staged_rect = {span->top, span->bottom, 0, span->right - span->left,
                                    static_cast<int>(walk->staged.pitch)};
    for (; walk->shifted_end <= std::min(last, span->bottom - 1); ++walk->shifted_end) {
        const int r = walk->shifted_end;
        // A shift of nothing leaves every row as it is staged: straight into the ring.
        if (walk->chain->shift.v == 0) {
            stage_row(walk, r, place_row(&walk->shifted, r));
            continue;
        }
        for (; walk->staged_end <= std::min<long long>(r + reach, span->bottom - 1); ++walk->staged_end)
            stage_row(walk, walk->staged_end, place_row(&walk->staged, walk->staged_end));
        shift_field_row(place_row(&walk->shifted, r), walk->staged.base, walk->staged.rows,
                        &staged_rect, &walk->chain->shift, r);
    }
}

// The host's rows above the rectangle and below it that the filter reads,
// through row `last`: above all at once, below as the filter nears them.
static void read_outside(Walk* walk, int last)
{
    const FrameRows* host = walk->host;
    if (host == nullptr)
        return;
    for (; walk->above < walk->span.top; ++walk->above)
        host->read(host->host, walk->above, walk->span.left, walk->span.right,
                   place_row(&walk->input, walk->above));
    for (; walk->below <= last; ++walk->below)
        host->read(host->host, walk->below, walk->span.left, walk->span.right,
                   place_row(&walk->input, walk->below));
}

static void hand_back(Walk* walk, int end)
{
    const int width = walk->right - walk->left;
    const bool ring = walk->output.rows > 0;
    for (; walk->handed < end; ++walk->handed) {
        const int r = walk->handed;
        PIXEL_YC* row = place_row(&walk->output, r) + (walk->left - walk->span.left);
        if (walk->mono)
            walk->chain->strip_row_chroma(row, width);
        if (walk->host != nullptr)
            walk->host->write(walk->host->host, r, row);
        else if (ring)
            std::memcpy(place_row(&walk->frame, r) + (walk->left - walk->span.left), row,
                        width * sizeof(PIXEL_YC));
    }
}

// Rows first .. end - 1 are filtered: kept, decoded once the rows its
// combs reach below them are there, and handed back in order.
static void finish_rows(Walk* walk, int first, int end)
{
    if (!walk->finishes)
        return;
    const int width = walk->right - walk->left;
    for (int r = first; r < end; ++r) {
        // The deck plays the row (whole: the strip is the rectangle) as the
        // encoder left it; what it plays is the composite signal kept and decoded.
        if (walk->deck != nullptr)
            play_vhs_row(walk->deck, place_row(&walk->output, r), r);
        if (walk->composite != nullptr)
            std::memcpy(rect_row(walk->composite, &walk->span, r) + (walk->left - walk->span.left),
                        place_row(&walk->output, r) + (walk->left - walk->span.left),
                        width * sizeof(PIXEL_YC));
        if (walk->decoder == nullptr) {
            hand_back(walk, r + 1);
            continue;
        }
        const bool last = r + 1 == walk->span.bottom;
        decode_walk_rows(walk->decoder, &walk->output,
                         last ? r + 1 : r + 1 - decode_walk_reach(walk->decoder));
        hand_back(walk, walk->decoder->decoded);
    }
}

// Every row of the strip, through every stage. Each row of the output is
// written once, and the input's rows of the span are read before they are
// written.
static void walk_strip(Walk* walk)
{
    const FilterRect* span = &walk->span;
    const int width = span->right - span->left;
    walk->staged_end = walk->shifted_end = walk->handed = span->top;
    walk->above = std::max(1, span->top - lpf_reach);
    walk->below = span->bottom;
    // The filter writes rows 1 .. h - 2; the strip's other rows are the shifted rows.
    const bool lpf = walk->chain->filter_rows != nullptr;
    const int lpf_first = lpf ? std::max(span->top, 1) : span->bottom;
    const int lpf_end = lpf ? std::min(span->bottom, walk->frame_h - 1) : span->bottom;
    for (int i = span->top; i < span->bottom;) {
        if (i < lpf_first || i >= lpf_end) {
            shift_through(walk, i);
            std::memcpy(place_row(&walk->output, i), place_row(&walk->shifted, i),
                        width * sizeof(PIXEL_YC));
            finish_rows(walk, i, i + 1);
            ++i;
            continue;
        }
        int end = std::min(i + vertical_lpf_group_rows, lpf_end);
        if (walk->output.rows > 0)  // a group's rows never wrap around the ring
            end = std::min(end, (i / walk->output.rows + 1) * walk->output.rows);
        shift_through(walk, end + lpf_reach - 1);
        read_outside(walk, std::min(walk->frame_h - 2, end + lpf_reach - 1));
        const LpfSource source = {reinterpret_cast<const int16_t*>(walk->input.base),
                                  3 * static_cast<ptrdiff_t>(walk->input.pitch),
                                  reinterpret_cast<const int16_t*>(walk->shifted.base),
                                  3 * static_cast<ptrdiff_t>(walk->shifted.pitch),
                                  span->top,
                                  walk->shifted_end,
                                  walk->input.rows};
        vertical_lpf_source_rows(reinterpret_cast<int16_t*>(place_row(&walk->output, i)),
                                 3 * static_cast<ptrdiff_t>(walk->output.pitch), &source, i, end,
                                 walk->frame_h, 3 * width, walk->chain->filter_rows);
        finish_rows(walk, i, end);
        i = end;
    }
}

// The state's kernels, chosen when it is first used.
static void choose_kernels(EffectState* state)
{
    if (!state->kernels_chosen) {
        select_effect_kernels(&state->kernels);
        state->kernels_chosen = true;
    }
}

static int32_t colour_standard(const EffectSettings* settings)
{
    return settings->standard == STANDARD_PAL ? STANDARD_PAL : STANDARD_NTSC;
}

// The decoder's walk for the frame, over `rect`; false where the frame is
// not decoded.
static bool start_decoding(DecodeWalk* walk, EffectState* state, const EffectSettings* settings,
                           const EffectFrame* frame, const SubcarrierTables* carrier,
                           const FilterRect* rect)
{
    if (carrier == nullptr || settings->decode.mode == DECODE_OFF || rect_is_empty(rect))
        return false;
    const PalSequence sequence = pal_sequence(settings, frame->number);
    return start_decode_walk(walk, &state->decoder, &state->kernels.decoder, &settings->decode,
                             colour_standard(settings),
                             settings->freq, carrier, carrier_flags(settings, frame->number),
                             &sequence, frame->partner, frame->same_phase, rect) != 0;
}

// The decoder alone over the rectangle of a frame, the composite signal
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
    chain.kernels = &state->kernels;
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
    chain.filter_rows = settings->lpf ? state->kernels.vertical_lpf_rows : nullptr;
    chain.strip_row_chroma = state->kernels.strip_chroma_row;
    return chain;
}

// The VHS deck's walk over the rectangle for the frame; false when its
// memory cannot be had.
static bool start_deck(VhsWalk* deck, EffectState* state, const EffectSettings* settings,
                       const EffectFrame* frame, const FilterRect* rect)
{
    const PalSequence sequence = pal_sequence(settings, frame->number);
    return start_vhs_deck(deck, &state->vhs, &state->kernels.vhs, &settings->vhs,
                          colour_standard(settings),
                          settings->freq, settings->phase, carrier_flags(settings, frame->number),
                          &sequence, rect, frame->w, frame->h, frame->number) != 0;
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

// A rectangle this narrow is walked in strips of strip_pixels, whose rows
// at every stage stay in the first-level cache; wider ones, and decoded
// ones (whose strips overlap), in strips as wide as the second-level cache
// holds the rows in use (the start of each row costs more than the
// first-level cache saves).
constexpr int strip_pixels = 256;
constexpr int narrow_rect = 2 * strip_pixels;

// The narrowest strip: wider than the decoder's overlap, so that only the
// strip before it has written the overlap's columns.
constexpr int min_strip_columns = 64;

// The strips' width for this chain: as many columns as keep the walk's
// rows in use within three quarters of the second-level cache (the rest
// holds the frame's rows in flight, the tables and the code), unless the
// state forces one.
static int strip_columns(const EffectState* state, int width, int staged_rows, bool decoding)
{
    if (state->strip_columns > 0)
        return std::max(state->strip_columns, min_strip_columns);
    if (width <= narrow_rect && !decoding)
        return strip_pixels;
    // Per column: the staged rows, the shifted ring, the finished rows a
    // filter group and the decoder's reach hold, the frame's rows fetched
    // ahead, the decoder's working rows (about nine pixels' worth) and
    // the carrier tables.
    const size_t rows = static_cast<size_t>(staged_rows) + vertical_lpf_ring_rows +
                        vertical_lpf_group_rows + prefetch_rows + (decoding ? 8 + 9 : 0);
    const size_t column_bytes = rows * sizeof(PIXEL_YC) + 2 * sizeof(int16_t);
    const size_t l2 = cpu_l2_cache_bytes();
    if (l2 == 0)
        return width;
    return static_cast<int>(std::max<size_t>(min_strip_columns, l2 / 4 * 3 / column_bytes));
}

// The chain over the rectangle in strips, each walked through every stage:
// over the host's rows (one strip of the whole width, as the host takes
// its rows whole), or with no host over the frame's own pixels in place.
// FALSE when memory cannot be had; nothing has been written then.
static int walk_rect(EffectState* state, const EffectSettings* settings, const EffectFrame* frame,
                     const Chain* chain, const FilterRect* rect, const FrameRows* host)
{
    const int width = rect->right - rect->left;
    const int height = rect->bottom - rect->top;
    const bool decodes = chain->carrier != nullptr && settings->decode.mode != DECODE_OFF;
    const int staged_rows = staged_row_count(frame->h, chain);
    const int columns = strip_columns(state, width, staged_rows, decodes);
    // The deck moves and filters whole rows (time-base error, its reach
    // across the line): it plays the rectangle in one strip.
    const bool plays = chain->carrier != nullptr && settings->vhs.format != VHS_OFF;
    const int strips = host != nullptr || plays ? 1 : (width + columns - 1) / columns;
    const int overlap = decodes && strips > 1 ? decoder_overlap : 0;
    const int span_width = std::min(width, (width + strips - 1) / strips + 2 * overlap);
    // Over the frame itself, its own rows are the input, and the output
    // unless the strips overlap.
    const bool output_ring = host != nullptr || overlap > 0;
    const size_t rows = static_cast<size_t>(staged_rows) + vertical_lpf_ring_rows +
                        (output_ring ? output_ring_rows : 0) +
                        (host != nullptr ? host_input_rows : 0);
    const size_t band = static_cast<size_t>(overlap) * height;
    if (!reserve_walk_rows(state, rows * span_width + band))
        return 0;
    // The decoder's rows for the widest span, so that each strip's start cannot fail.
    DecodeWalk decoder;
    FilterRect widest = *rect;
    widest.right = rect->left + span_width;
    if (decodes && !start_decoding(&decoder, state, settings, frame, chain->carrier, &widest))
        return 0;
    VhsWalk deck;
    if (plays && !start_deck(&deck, state, settings, frame, rect))
        return 0;

    Walk walk = {};
    walk.chain = chain;
    walk.frame_h = frame->h;
    walk.host = host;
    PIXEL_YC* next = state->walk_rows;
    auto ring_of = [&](int count) {
        const RowPlace place = {next, span_width, count};
        next += static_cast<size_t>(count) * span_width;
        return place;
    };
    walk.staged = ring_of(staged_rows);
    walk.shifted = ring_of(vertical_lpf_ring_rows);
    if (output_ring)
        walk.output = ring_of(output_ring_rows);
    if (host != nullptr)
        walk.input = ring_of(host_input_rows);
    walk.band = overlap > 0 ? next : nullptr;
    walk.composite = frame->composite;
    walk.decoder = decodes ? &decoder : nullptr;
    walk.deck = plays ? &deck : nullptr;
    walk.mono = settings->mono && (!settings->composite || decodes);
    walk.finishes = output_ring || decodes || plays || walk.mono || frame->composite != nullptr;
    for (int k = 0; k < strips; ++k) {
        walk.left = rect->left + static_cast<int>(static_cast<long long>(width) * k / strips);
        walk.right = rect->left + static_cast<int>(static_cast<long long>(width) * (k + 1) / strips);
        walk.span = *rect;
        walk.span.left = std::max(rect->left, walk.left - overlap);
        walk.span.right = std::min(rect->right, walk.right + overlap);
        if (host == nullptr) {
            walk.frame = {rect_row(frame->pixels, &walk.span, 0), walk.span.pitch, 0};
            walk.input = walk.frame;
            if (!output_ring)
                walk.output = walk.frame;
        }
        if (decodes)
            start_decoding(&decoder, state, settings, frame, chain->carrier, &walk.span);
        walk_strip(&walk);
    }
    return 1;
}

int apply_effects(EffectState* state, const EffectSettings* given, const EffectFrame* frame)
{
    const EffectSettings safe = normalised_settings(given);
    const EffectSettings* settings = &safe;
    choose_kernels(state);
    const FilterRect rect = effect_rect(settings, frame->w, frame->h, frame->max_w);
    if (settings->show_range) {
        change_rect_rows(frame->pixels, &rect, state->kernels.show_range_row);
        return 1;
    }
    // The tables are built even for an empty rectangle: the state is the
    // same after any frame.
    const Chain chain = frame_chain(state, settings, frame);
    return rect_is_empty(&rect) || walk_rect(state, settings, frame, &chain, &rect, nullptr);
}

int apply_effects_by_rows(EffectState* state, const EffectSettings* given,
                          const EffectFrame* frame, const FrameRows* host)
{
    const EffectSettings safe = normalised_settings(given);
    const EffectSettings* settings = &safe;
    choose_kernels(state);
    const FilterRect rect = effect_rect(settings, frame->w, frame->h, frame->max_w);
    if (rect_is_empty(&rect))
        return 1;
    if (settings->show_range) {
        if (!reserve_walk_rows(state, static_cast<size_t>(rect.right - rect.left)))
            return 0;
        rows_through(host, &rect, state->walk_rows, state->kernels.show_range_row);
        return 1;
    }
    const Chain chain = frame_chain(state, settings, frame);
    return walk_rect(state, settings, frame, &chain, &rect, host);
}

int decode_effects(EffectState* state, const EffectSettings* given, const EffectFrame* frame)
{
    const EffectSettings safe = normalised_settings(given);
    const EffectSettings* settings = &safe;
    choose_kernels(state);
    const FilterRect rect = effect_rect(settings, frame->w, frame->h, frame->max_w);
    if (rect_is_empty(&rect))
        return 1;
    if (settings->vhs.format != VHS_OFF) {
        VhsWalk deck;
        if (!start_deck(&deck, state, settings, frame, &rect))
            return 0;
        for (int r = rect.top; r < rect.bottom; ++r)
            play_vhs_row(&deck, rect_row(frame->pixels, &rect, r), r);
    }
    if (settings->decode.mode == DECODE_OFF)
        return 1;
    if (!build_carrier_tables(&state->subcarrier_tables, colour_standard(settings), settings->freq,
                              settings->phase, frame->w, frame->max_w) ||
        !decode_rect(state, settings, frame, &state->subcarrier_tables, &rect))
        return 0;
    if (settings->mono)
        change_rect_rows(frame->pixels, &rect, state->kernels.strip_chroma_row);
    return 1;
}

void release_effect_state(EffectState* state)
{
    for (CombSignal& signal : state->comb_history.signals) {
        std::free(signal.pixels);
        signal = CombSignal{};
    }
    release_subcarrier_tables(&state->subcarrier_tables);
    release_decoder_state(&state->decoder);
    release_vhs_state(&state->vhs);
    std::free(state->walk_rows);
    state->walk_rows = nullptr;
    state->walk_capacity = 0;
}
