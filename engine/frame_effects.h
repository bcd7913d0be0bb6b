// The per-frame effect chain on one PIXEL_YC frame, for any host: plain
// settings in, the frame changed in place, state kept in a record that the
// caller owns. Two records may be used at once on different threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/composite_chroma.h"
#include "engine/composite_decoder.h"
#include "engine/effect_kernels.h"
#include "engine/filter_rect.h"
#include "engine/shift_kernel.h"
#include "engine/vhs_deck.h"

// The effects' settings, every one an int32_t: what each means, its range
// and default are in engine/settings_table.h. Flags are 0 (off) or
// non-zero (on).
struct EffectSettings {
    int32_t left = 0;     // the rectangle, before it is cut to the picture
    int32_t width = 320;
    int32_t top = 0;
    int32_t height = 320;
    int32_t shift = 0;    // field shift, in sixteenths of a field line
    int32_t freq = 704;   // subcarrier frequency scale, 704 = 3.579545 MHz
    int32_t phase = 0;    // subcarrier phase offset, in degrees
    int32_t top_field_first = 1;
    int32_t paired_fields = 0;  // "60FPS": frames 2k and 2k + 1 are the two fields of one frame
    int32_t show_range = 0;     // show the rectangle inverted instead of any effect
    int32_t mono = 0;
    int32_t composite = 0;      // "C/Y"
    int32_t lpf = 1;
    int32_t standard = STANDARD_NTSC;  // the colour standard of "C/Y" and the decoder
    // The television after "C/Y": off unless decode.mode says otherwise, and
    // only where "C/Y" is on. "MONO" then drops the decoded colour.
    DecodeSettings decode;
    // "合成モード": the clip's first half gets the source's second half in the
    // rectangle (compose_second_half); no effect runs. Hosts run it.
    int32_t compose = 0;
    // The VHS deck between "C/Y" (after the field shift and "LPF") and the
    // decoder: off unless vhs.format says otherwise, and only with "C/Y".
    VhsSettings vhs;
};

// The frame comb's history ("3d"): the composite signals of the frames a
// later frame's comb reads, each with its frame number and what made it (the
// settings, the decoder apart, and the geometry). The frames furthest back
// give way to newer ones.
constexpr int comb_history_frames = 9;  // PAL with "60FPS" reads 8 frames back
struct CombSignal {
    PIXEL_YC* pixels;  // h rows of max_w pixels; null: none
    size_t capacity;   // pixels
    int32_t number;
    EffectSettings made_with;
    int w, h, max_w;
    bool valid;
};
struct CombHistory {
    CombSignal signals[comb_history_frames];
};

// What survives between frames: the kernels, the subcarrier tables and the
// shift kernel, each with the inputs it was built for, and the frame comb's
// history. Zero frames processed: as declared.
struct EffectState {
    EffectKernels kernels = {};  // chosen at the first frame
    bool kernels_chosen = false;
    SubcarrierTables subcarrier_tables;
    ShiftKernel shift_kernel = {};
    int32_t kernel_key = 0;  // the shift value shift_kernel was built for; 0: none
    DecoderState decoder;
    VhsState vhs;
    PIXEL_YC* walk_rows = nullptr;  // the walk's rings of rows
    size_t walk_capacity = 0;       // pixels in walk_rows
    // Columns of the strips a frame in memory is walked in; 0: as many as
    // the second-level cache holds the rows in use for (any width gives
    // the same pixels).
    int strip_columns = 0;
    CombHistory comb_history = {};  // for apply_effects_in_clip and the YUV hosts
};

// One frame: `pixels` is input and output; `scratch` has the same geometry
// and its contents are the engine's to overwrite (a caller reads only
// `pixels` afterwards). Pixel (x, r) is element r * max_w + x.
struct EffectFrame {
    PIXEL_YC* pixels;
    PIXEL_YC* scratch;
    int w;
    int h;
    int max_w;
    int32_t number;  // the frame's number in its clip: carrier phase, paired the moved field,
                     // and with vhs.first_frame the deck's noise
    // The frame comb ("3d"): the composite signals of frames
    // comb_partner_frame(number) and comb_same_phase_frame(number), as
    // apply_effects stored them into those frames' `composite`; without
    // both (the first frames of a clip) it decodes as "3line". Hosts take
    // them from the state's history (apply_effects_in_clip).
    const PIXEL_YC* partner = nullptr;
    const PIXEL_YC* same_phase = nullptr;
    // Where apply_effects stores the rectangle's composite signal, before
    // it is decoded, for a later frame's `partner`; null: not kept.
    PIXEL_YC* composite = nullptr;
};

// Runs show range (alone, when set), then "C/Y", the field shift, "LPF",
// the VHS deck, the decoder and "MONO", each as the settings ask, inside the rectangle
// cut to the picture.
// Touches nothing but the frame, its scratch frame and `state`; where the
// memory for the rows in use cannot be had, the frame is left as it is
// (and frame->composite unwritten) and the result is FALSE.
int apply_effects(EffectState* state, const EffectSettings* settings, const EffectFrame* frame);

// A frame in a host's own pixel format, handed to the chain a row at a
// time so that no frame of PIXEL_YC is ever made. read() converts columns
// [left, right) of frame row `row` into `out`; the chain asks only for
// pixels of effect_input_window, for each row before that row or any row
// below it is written, and for the rows below the rectangle before its
// last eight rows are written. write() takes back the rectangle's columns
// of a finished row, rows top to bottom; the pixels are the chain's again
// once write returns.
struct FrameRows {
    void* host;
    void (*read)(void* host, int row, int left, int right, PIXEL_YC* out);
    void (*write)(void* host, int row, const PIXEL_YC* pixels);
};

// apply_effects over such a frame: frame->pixels and frame->scratch are
// not used (partner and composite are), and the rows in use are kept in
// the state, in cache. FALSE when memory cannot be had; nothing has been
// written then.
int apply_effects_by_rows(EffectState* state, const EffectSettings* settings,
                          const EffectFrame* frame, const FrameRows* rows);

// The VHS deck and the decoder alone, as apply_effects runs them after
// "C/Y", then "MONO": for a host whose frame holds the composite signal
// another filter encoded with the same settings. The deck plays only the
// frame itself: `partner` and `same_phase` must hold what it played there.
// FALSE when the memory cannot be had (the frame may then be played but
// not decoded).
int decode_effects(EffectState* state, const EffectSettings* settings, const EffectFrame* frame);

// Frees what the state holds; it can be used again afterwards.
void release_effect_state(EffectState* state);

// The settings' rectangle cut to the w x h picture.
FilterRect effect_rect(const EffectSettings* settings, int w, int h, int max_w);

// The pixels apply_effects reads to compute the rectangle: its columns, and
// its rows with the low-pass filter's reach above and below. A host that
// converts its frames may convert only these; everything else in `pixels`
// may hold anything.
FilterRect effect_input_window(const EffectSettings* settings, int w, int h, int max_w);

// 1 when the even rows are the moved field, 0 when the odd rows are.
int moved_field(const EffectSettings* settings, int32_t frame);

// The frame whose carrier is opposite to frame's at every row: for NTSC
// the one before it, for PAL the one two frames before; with paired fields
// counted in pairs.
int32_t comb_partner_frame(const EffectSettings* settings, int32_t frame);

// The frame whose carrier is the same as frame's at every row, the partner's
// partner: where nothing moved, its composite signal is frame's own.
int32_t comb_same_phase_frame(const EffectSettings* settings, int32_t frame);

// PAL's carrier sequence for the frame: interlaced frames counted from 0.
PalSequence pal_sequence(const EffectSettings* settings, int32_t frame);

// Bits for encode_composite: bit 1 the starting sign, bit 0 the "TFF" value.
int32_t carrier_flags(const EffectSettings* settings, int32_t frame);
