// The VHS deck between "C/Y" and the television: the composite signal is
// recorded to tape and played back, row by row, top to bottom, in place.
// Every random value comes from the seed, the frame's place in the source,
// the generation, the field, the field line and the column through an
// integer hash, so a frame gets the same bytes in any order, on any thread
// and with any kernel variant. Where each number comes from: docs/vhs.md.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/composite_chroma.h"
#include "engine/composite_decoder.h"
#include "engine/cpu.h"
#include "engine/filter_rect.h"

enum VhsFormat : int32_t {
    VHS_OFF = 0,
    VHS_SP = 1,
    VHS_LP = 2,
    VHS_EP = 3,
    VHS_SVHS = 4,
};
constexpr int32_t vhs_format_count = 5;
const char* vhs_format_name(int32_t format);  // "off", "sp", "lp", "ep", "svhs"

// The deck's settings, as every host names them (engine/settings_table.h
// has their ranges). Two defaults are the standard's or the format's own,
// each stood for by a value below the range that is set.
constexpr int32_t vhs_head_switching_max = 8;
constexpr int32_t vhs_chroma_delay_max = 1000;
constexpr int32_t vhs_own_head_switching = -1;                    // 3 NTSC, 4 PAL
constexpr int32_t vhs_own_chroma_delay = -vhs_chroma_delay_max - 1;  // the format's
struct VhsSettings {
    int32_t format = VHS_OFF;
    uint32_t seed = 0;
    int32_t tape_noise = 100;      // percent of the format's nominal noise, 0 .. 200
    int32_t chroma_noise = 100;    // percent of that in the colour-under channel, 0 .. 200
    int32_t head_switching = vhs_own_head_switching;  // field lines in the band, 0 .. 8
    int32_t head_switching_shift = 2000;  // ns the band's first line moves right, -10000 .. 10000
    int32_t tracking = 0;          // percent, 0 .. 100
    int32_t dropouts = 30;         // mean dropouts per 100 fields, 0 .. 5000
    int32_t dropout_compensator = 1;
    int32_t jitter = 30;           // time-base error, rms ns, 0 .. 300
    int32_t chroma_delay = vhs_own_chroma_delay;  // ns of chroma behind luma, -1000 .. 1000
    int32_t generations = 1;       // 1 .. 5
    // The frame's place in the source is first_frame + EffectFrame::number:
    // a host that hands over a part of a clip counted from 0 gives here the
    // source's number of the part's first frame.
    int32_t first_frame = 0;
};
constexpr int32_t vhs_tape_noise_max = 200, vhs_head_switching_shift_max = 10000,
                  vhs_tracking_max = 100, vhs_dropouts_max = 5000, vhs_jitter_max = 300,
                  vhs_generations_max = 5;

// The settings as the deck plays them: made safe as the settings table
// makes every setting (normalised_settings), chroma_noise, which no host
// sets, held to its range, and the standard's and the format's own
// defaults filled in for `standard`.
VhsSettings clamp_vhs_settings(const VhsSettings& settings, int32_t standard);

// The deck's filters, tables and rows for one picture width, carrier and
// settings; kept between frames, rebuilt when any of them changes.
struct VhsState {
    int16_t* memory = nullptr;
    size_t capacity = 0;  // int16_t values in memory
    VhsSettings built_for = {};
    int32_t built_w = -1, built_standard = -1, built_freq = -1, built_phase = 361;
    // Filled in by start_vhs_deck.
    int luma_reach = 0, chroma_reach = 0, emphasis_reach = 0;
    int chroma_levels = 0;                    // the colour-under channel runs at 1 / 2^levels the rate
    int margin = 64;                          // values in the working rows beyond the rectangle
    int16_t luma_taps[2 * 64 + 2] = {};       // Q14, sum 16384
    int16_t record_taps[2 * 64 + 2] = {};     // Q14, sum 32768 (the demodulation's 1/2 back); reduced rate
    int16_t playback_taps[2 * 64 + 2] = {};   // Q14, sum 16384; reduced rate
    int16_t emphasis_taps[2 * 64 + 2] = {};   // Q14, sum 16384: the emphasis's low-pass, causal
    int32_t emphasis_boost = 0;               // Q12: the pre-emphasis is y + boost (y - low-passed y)
    int32_t white_clip = 0;                   // what the pre-emphasised luma is clipped to
    int32_t deemphasis_direct = 0;            // Q14: de-emphasis is direct r + (1 - direct) low-passed r
    int deemphasis_levels = 0;                // the de-emphasis's low-pass runs at 1 / 2^levels the rate
    int32_t deemphasis_pole = 0;              // Q15: its new value's weight a sample
    int32_t noise_gain = 0, noise_rise = 0;   // luma noise: (gain + rise) w[x] - rise w[x - 1]
    int32_t chroma_noise_gain = 0;
    int32_t chroma_delay_q8 = 0;              // pixels, Q8
    int16_t* cos_table = nullptr;             // Q11, from column -table_margin
    int16_t* sin_table = nullptr;
};

struct VhsKernels;  // below

// One frame's walk of the deck over the rectangle's rows, which must come
// top to bottom, each row once.
struct VhsWalk {
    VhsState* state;
    const VhsKernels* kernels;
    VhsSettings settings;  // clamped
    int32_t standard;
    int32_t carrier_flags;  // NTSC
    PalSequence sequence;   // PAL
    FilterRect rect;
    int h;       // the picture's rows
    int w;       // the picture's columns: times and bandwidths scale by w / 720
    uint32_t frame;  // the frame's place in the source
    int row_length;  // values in a working row: the rectangle's width and margins
    // Per generation and field: the field line each history row holds.
    int comb_line[vhs_generations_max][2][2];
    int doc_line[vhs_generations_max][2];
};

// Builds what the deck needs for the frame; FALSE when memory cannot be
// had (then no row may be played). `carrier_flags` and `sequence` are the
// encoder's for this frame, `freq` and `phase` its carrier's settings;
// `kernels` the ones the walk runs.
int start_vhs_deck(VhsWalk* walk, VhsState* state, const VhsKernels* kernels,
                   const VhsSettings* settings, int32_t standard,
                   int32_t freq, int32_t phase, int32_t carrier_flags, const PalSequence* sequence,
                   const FilterRect* rect, int w, int h, int32_t frame_number);

// Plays rectangle row `row` (columns rect.left .. right - 1 at `pixels`)
// in place: y is read and written, cb and cr are left alone.
void play_vhs_row(VhsWalk* walk, PIXEL_YC* pixels, int row);

// Frees the state's memory; it can be used again afterwards.
void release_vhs_state(VhsState* state);

// The integer hash all the deck's noise comes from.
uint32_t vhs_hash(uint32_t value);

// The row kernels the deck dispatches.
constexpr int vhs_most_reach = 60;

// out[x] = saturated (sum over k of taps[k + reach] * in[x + k] + 8192) >> 14,
// any reach up to 64; in is read from -reach to count - 1 + reach.
typedef void VhsFirRowFn(int16_t* out, const int16_t* in, const int16_t* taps, int reach,
                         int count);
// The same for symmetric taps (taps[reach - k] = taps[reach + k]), folded:
// out[x] = saturated (taps[reach] in[x] + sum over k of 1 .. reach of
// taps[reach + k] saturated (in[x - k] + in[x + k]) + 8192) >> 14, which is
// the FIR's value wherever the pairs' sums stay within 16 bits, as the
// deck's rows do; only taps[reach .. 2 reach] are read, reach at least 1.
typedef VhsFirRowFn VhsSymmetricFirRowFn;
// h = vhs_hash(key + (first + x) * 0x9E3779B9): luma[x] its low 16 bits,
// u[x] bits 8 .. 15 of h >> 8 as the high byte, v[x] those of h >> 16.
typedef void VhsNoiseRowFn(int16_t* luma, int16_t* u, int16_t* v, uint32_t key, int32_t first,
                           int count);
// y[x] = saturated y[x] + ((gain + rise) w[x] - rise w[x - 1] + 16384) >> 15;
// w is read from -1; gain + rise and rise within 16 bits.
typedef void VhsAddNoiseRowFn(int16_t* y, const int16_t* w, int count, int32_t gain, int32_t rise);
// out[x] = (in[x] (256 - fraction) + in[x + 1] fraction + 128) >> 8, fraction 0 .. 255.
typedef void VhsShiftRowFn(int16_t* out, const int16_t* in, int count, int32_t fraction);
// (a, b) = saturated ((m0 u + m1 v + 8192) >> 14, (m2 u + m3 v + 8192) >> 14);
// out[x] = saturated y + ((a cos + b sin + 1024) >> 11).
typedef void VhsAssembleRowFn(int16_t* out, const int16_t* y, const int16_t* u, const int16_t* v,
                              const int16_t* cos_weights, const int16_t* sin_weights,
                              const int16_t matrix[4], int count);

// out[j] = (in[2j - 2] + 4 in[2j - 1] + 6 in[2j] + 4 in[2j + 1] + in[2j + 2] + 8) >> 4:
// the row low-passed and at half its rate; in is read from -2 to 2 count.
typedef void VhsDecimateRowFn(int16_t* out, const int16_t* in, int count);
// out[2j] = in[j], out[2j + 1] = (in[j] + in[j + 1] + 1) >> 1: the row at
// twice its rate, linearly between its samples; in is read from 0 to count.
typedef void VhsInterpolateRowFn(int16_t* out, const int16_t* in, int count);
// The pre-emphasis p = (y (4096 + boost) - low boost + 2048) >> 12 and what
// the white clip takes off it: r[x] = min(saturated (clip - p), 0); returns
// the least r[x] (0 for none clipped). boost and 4096 + boost within 16 bits.
typedef int32_t VhsClipRowFn(int16_t* r, const int16_t* y, const int16_t* low, int32_t boost,
                             int32_t clip, int count);
// pixels[x].y = y[x]; cb and cr are left alone.
typedef void VhsStoreLumaRowFn(PIXEL_YC* pixels, const int16_t* y, int count);
// y[x] = saturated y[x] + ((a r[x] + b l[x] + 8192) >> 14).
typedef void VhsMixRowFn(int16_t* y, const int16_t* r, const int16_t* l, int32_t a, int32_t b,
                         int count);

// The FIR's plain reference is the decoder's decoder_fir_row_c, the same filter
// at any reach; the deck's variants take the deck's longer reaches too.
void vhs_symmetric_fir_row_c(int16_t* out, const int16_t* in, const int16_t* taps, int reach,
                             int count);
void vhs_noise_row_c(int16_t* luma, int16_t* u, int16_t* v, uint32_t key, int32_t first, int count);
void vhs_add_noise_row_c(int16_t* y, const int16_t* w, int count, int32_t gain, int32_t rise);
void vhs_shift_row_c(int16_t* out, const int16_t* in, int count, int32_t fraction);
void vhs_assemble_row_c(int16_t* out, const int16_t* y, const int16_t* u, const int16_t* v,
                        const int16_t* cos_weights, const int16_t* sin_weights,
                        const int16_t matrix[4], int count);
void vhs_decimate_row_c(int16_t* out, const int16_t* in, int count);
void vhs_interpolate_row_c(int16_t* out, const int16_t* in, int count);
int32_t vhs_clip_row_c(int16_t* r, const int16_t* y, const int16_t* low, int32_t boost, int32_t clip,
                       int count);
void vhs_mix_row_c(int16_t* y, const int16_t* r, const int16_t* l, int32_t a, int32_t b, int count);
void vhs_store_luma_row_c(PIXEL_YC* pixels, const int16_t* y, int count);

extern DispatchedKernel<VhsFirRowFn> vhs_fir_row_kernel;
extern DispatchedKernel<VhsSymmetricFirRowFn> vhs_symmetric_fir_row_kernel;
extern DispatchedKernel<VhsNoiseRowFn> vhs_noise_row_kernel;
extern DispatchedKernel<VhsAddNoiseRowFn> vhs_add_noise_row_kernel;
extern DispatchedKernel<VhsShiftRowFn> vhs_shift_row_kernel;
extern DispatchedKernel<VhsAssembleRowFn> vhs_assemble_row_kernel;
extern DispatchedKernel<VhsDecimateRowFn> vhs_decimate_row_kernel;
extern DispatchedKernel<VhsInterpolateRowFn> vhs_interpolate_row_kernel;
extern DispatchedKernel<VhsClipRowFn> vhs_clip_row_kernel;
extern DispatchedKernel<VhsMixRowFn> vhs_mix_row_kernel;
extern DispatchedKernel<VhsStoreLumaRowFn> vhs_store_luma_row_kernel;

// The row kernels the deck runs, chosen once by the state that runs it
// (select_vhs_kernels: the best variants cpu_flags() allows); the
// demodulation and the luma's extraction are the decoder's.
struct VhsKernels {
    VhsFirRowFn* fir;
    VhsSymmetricFirRowFn* symmetric_fir;
    VhsNoiseRowFn* noise;
    VhsAddNoiseRowFn* add_noise;
    VhsShiftRowFn* shift;
    VhsAssembleRowFn* assemble;
    VhsDecimateRowFn* decimate;
    VhsInterpolateRowFn* interpolate;
    VhsClipRowFn* clip;
    VhsMixRowFn* mix;
    DemodulateRowFn* demodulate;
    ExtractLumaRowFn* extract_luma;
    VhsStoreLumaRowFn* store_luma;
};
void select_vhs_kernels(VhsKernels* kernels);
