// The television's half of "C/Y": separates luma from chroma in the
// composite signal and demodulates the chroma back into cb and cr with the
// encoder's own carrier (its per-column tables and its row and frame signs).
#pragma once

#include <cstdint>

#include "engine/composite_chroma.h"
#include "engine/cpu.h"
#include "engine/filter_rect.h"

// How luma and chroma are told apart.
enum DecodeMode : int32_t {
    DECODE_OFF = 0,    // no decoding: the composite signal itself is shown
    DECODE_NOTCH = 1,  // a horizontal notch at the carrier; chroma is its complement
    DECODE_2LINE = 2,  // comb over this field line and the one above it (rows r, r - 2)
    DECODE_3LINE = 3,  // comb over the field lines above and below (1/4, 1/2, 1/4)
    DECODE_3D = 4,     // motion-adaptive frame comb, 3line where the picture moves
};
constexpr int32_t decode_mode_count = 5;

// The chroma low-pass after demodulation.
enum ChromaBandwidth : int32_t {
    CHROMA_WIDE = 0,    // about 1.3 MHz, a studio monitor
    CHROMA_NARROW = 1,  // about 0.5 MHz, a consumer set
};
constexpr int32_t chroma_bandwidth_count = 2;

// The decoder's settings, as every host names them.
struct DecodeSettings {
    int32_t mode = DECODE_OFF;
    int32_t bandwidth = CHROMA_WIDE;
    int32_t saturation = 100;  // percent
    int32_t hue = 0;           // degrees: turns the demodulation phase, like a set's tint
    // PAL only: u and v averaged over this and the previous field line, so
    // that a phase error costs saturation instead of hue. Off: "simple PAL".
    int32_t delay_line = 1;
};
constexpr int32_t saturation_min = 0, saturation_max = 200;
constexpr int32_t hue_min = -180, hue_max = 180;

// The names hosts show and take: "off", "notch", "2line", "3line", "3d";
// "wide", "narrow". from_name gives -1 for a name it does not know.
const char* decode_mode_name(int32_t mode);
int32_t decode_mode_from_name(const char* name);
const char* chroma_bandwidth_name(int32_t bandwidth);
int32_t chroma_bandwidth_from_name(const char* name);

// Values a damaged project or a script may give, made safe: saturation and
// hue held to their ranges, an unknown mode off, an unknown bandwidth wide,
// any non-zero delay_line on.
DecodeSettings clamp_decode_settings(const DecodeSettings& settings);

// Columns the horizontal filters reach to either side of a pixel.
constexpr int decoder_bandpass_reach = 7;
constexpr int decoder_lowpass_reach = 11;

// What the decoder keeps between frames: its filter taps and demodulation
// matrix, each with the inputs it was computed for, and its row buffers.
// Owned by the caller, like SubcarrierTables; zero frames: as declared.
struct DecoderState {
    int32_t bandpass_freq = -1;  // the freq and standard the band-pass taps are for
    int32_t bandpass_standard = STANDARD_NTSC;
    int16_t bandpass[2 * decoder_bandpass_reach + 1] = {};  // Q14, sum 0
    int32_t matrix_saturation = -1;  // the knobs the matrix is for
    int32_t matrix_hue = 0;
    int16_t matrix[4] = {};  // NTSC: cb from (u, v), then cr from (u, v), Q12
    int16_t pal_matrix[4] = {};  // PAL, before the line's phase turns it: V switch +1, Q12
    int16_t* rows = nullptr;  // working rows, for rows_width columns
    int32_t rows_width = -1;
};

// Decodes the rectangle of `frame` in place: y becomes the separated luma,
// cb and cr the demodulated chroma (only y is read). `carrier` holds the
// encoder's tables (built for a width of at least rect->right) and
// carrier_flags its flags for this frame. For DECODE_3D, `partner` is the
// composite signal of the frame whose carrier is opposite
// (comb_partner_frame) and `same_phase` that of the frame whose carrier is
// the same (comb_same_phase_frame), each the whole frame in the same
// geometry; without both the frame decodes as DECODE_3LINE. Where a comb's partner row lies outside
// the rectangle the comb uses the rectangle's rows alone: 2line takes the
// row below instead of the one above, 3line the row on the other side
// twice, and a rectangle of a single field line is notch-filtered.
// FALSE when the row buffers cannot be had (the frame is left as it is).
// NTSC; decode_pal_composite does the same for PAL, whose combs reach two
// field lines (four rows) to either side, where the carrier is inverted
// and the switch agrees, and whose carrier the sequence gives. Both choose
// their kernels on every call.
int decode_composite(DecoderState* state, const DecodeSettings* settings, int32_t freq,
                     const SubcarrierTables* carrier, int32_t carrier_flags, PIXEL_YC* frame,
                     const PIXEL_YC* partner, const PIXEL_YC* same_phase, const FilterRect* rect);

int decode_pal_composite(DecoderState* state, const DecodeSettings* settings,
                         const SubcarrierTables* carrier, const PalSequence* sequence,
                         PIXEL_YC* frame, const PIXEL_YC* partner, const PIXEL_YC* same_phase,
                         const FilterRect* rect);

struct DecoderKernels;  // below

// The same decoding as a walk down the rectangle, for a caller whose
// composite rows become available top to bottom: each call decodes the
// rows from `decoded` up to end - 1 in place in `rows`, having read the
// rows up to decode_walk_reach rows below the last (within the rectangle).
// `rows` places the rectangle's columns, and may be a ring.
struct DecodeWalk {
    DecoderState* state;
    const DecoderKernels* kernels;
    DecodeSettings settings;  // as clamp_decode_settings leaves them
    int32_t standard;
    int32_t freq;
    const SubcarrierTables* carrier;
    int32_t carrier_flags;  // NTSC
    PalSequence sequence;   // PAL
    const PIXEL_YC* partner;
    const PIXEL_YC* same_phase;
    FilterRect rect;
    int loaded;   // rows top .. loaded - 1 are in the decoder's working rows
    int decoded;  // rows top .. decoded - 1 are decoded
};

// FALSE when the row buffers cannot be had. `sequence` is read for PAL only.
int start_decode_walk(DecodeWalk* walk, DecoderState* state, const DecoderKernels* kernels,
                      const DecodeSettings* settings, int32_t standard, int32_t freq, const SubcarrierTables* carrier,
                      int32_t carrier_flags, const PalSequence* sequence, const PIXEL_YC* partner,
                      const PIXEL_YC* same_phase, const FilterRect* rect);
void decode_walk_rows(DecodeWalk* walk, const RowPlace* rows, int end);
// Rows to the nearest line of inverted carrier: how far below a row the
// decoder reads.
int decode_walk_reach(const DecodeWalk* walk);

// Frees the row buffers; the state can be used again afterwards.
void release_decoder_state(DecoderState* state);

// The tables' entries for freq and for the knobs: the one place where
// floating point decides the decoder's pixels.
void compute_decoder_bandpass(int16_t taps[2 * decoder_bandpass_reach + 1], int32_t freq,
                              int32_t standard = STANDARD_NTSC);
void compute_decoder_matrix(int16_t matrix[4], int32_t saturation, int32_t hue);
void compute_pal_decoder_matrix(int16_t matrix[4], int32_t saturation, int32_t hue);

// PAL's matrix for one line: the base matrix for the line's switch, turned
// back by the line's carrier phase, in integers.
void pal_line_matrix(int16_t matrix[4], const int16_t base[4], const PalLine& line);

// PAL's delay line: cb and cr of row become (own + previous + 1) >> 1, and
// previous takes row's own pixels, for the next field line.
void delay_line_row_c(PIXEL_YC* row, PIXEL_YC* previous, int count);

// assemble_row into out, then delay_line_row_c of out with previous: PAL's
// rows below the first field line in one pass.
typedef void AssembleDelayedRowFn(PIXEL_YC* out, PIXEL_YC* previous, const int16_t* composite,
                                  const int16_t* chroma, const int16_t* u, const int16_t* v,
                                  const int16_t matrix[4], int count);
void assemble_delayed_row_c(PIXEL_YC* out, PIXEL_YC* previous, const int16_t* composite,
                            const int16_t* chroma, const int16_t* u, const int16_t* v,
                            const int16_t matrix[4], int count);
extern DispatchedKernel<AssembleDelayedRowFn> assemble_delayed_row_kernel;

// The band-pass (reach decoder_bandpass_reach) into chroma, then
// demodulate_row of chroma: the stage's rows without the frame comb in one pass.
typedef void BandpassDemodulateRowFn(int16_t* chroma, int16_t* u, int16_t* v, const int16_t* in,
                                     const int16_t* taps, const int16_t* cos_weights,
                                     const int16_t* sin_weights, int count, int32_t sign);
void bandpass_demodulate_row_c(int16_t* chroma, int16_t* u, int16_t* v, const int16_t* in,
                               const int16_t* taps, const int16_t* cos_weights,
                               const int16_t* sin_weights, int count, int32_t sign);
extern DispatchedKernel<BandpassDemodulateRowFn> bandpass_demodulate_row_kernel;

// The chroma low-pass for `bandwidth` and `standard` (Q14, summing to
// 16384), read-only, and its reach.
const int16_t* decoder_lowpass_taps(int32_t bandwidth, int* reach,
                                    int32_t standard = STANDARD_NTSC);

// The frame comb falls back to the line comb as the picture moves: fully
// once half the difference from the frame of the same carrier phase exceeds
// the threshold by 256 / slope.
constexpr int32_t frame_comb_threshold = 16;
constexpr int32_t frame_comb_slope = 8;
constexpr int frame_comb_motion_reach = 2;

// The row operations the stage dispatches, over runs of `count` values.

// out[x] = saturated (sum over k of taps[k + reach] * in[x + k] + 8192) >> 14;
// in is read from -reach to count - 1 + reach. The sum stays within 32 bits
// for any row when the taps' magnitudes add up to at most 65535.
typedef void DecoderFirRowFn(int16_t* out, const int16_t* in, const int16_t* taps, int reach,
                             int count);

// u = (chroma * cos * sign + 1024) >> 11 and v likewise with sin.
typedef void DemodulateRowFn(int16_t* u, int16_t* v, const int16_t* chroma,
                             const int16_t* cos_weights, const int16_t* sin_weights, int count,
                             int32_t sign);

// y = saturated composite - chroma; (cb, cr) = saturated (matrix (u, v) + 2048) >> 12.
typedef void AssembleRowFn(PIXEL_YC* out, const int16_t* composite, const int16_t* chroma,
                           const int16_t* u, const int16_t* v, const int16_t matrix[4], int count);

// With both partners: (2 row - above - below + 2) >> 2;
// with below null: (row - above) >> 1.
typedef void LineCombRowFn(int16_t* out, const int16_t* row, const int16_t* above,
                           const int16_t* below, int count);

// (row - partner) >> 1.
typedef void FrameDifferenceRowFn(int16_t* out, const int16_t* row, const int16_t* partner,
                                  int count);

// chroma becomes the blend of itself (where the picture moved) and the frame
// difference (where it is still), by the motion: the largest
// |motion_difference| over columns x - frame_comb_motion_reach to
// x + frame_comb_motion_reach (read beyond the row's ends as far), half the
// difference from the frame of the same carrier phase, nought where nothing
// moved, whatever the colours. Taken over a carrier cycle, as a colour may
// move into a pixel where its composite value happens to be the old one's.
typedef void FrameCombRowFn(int16_t* chroma, const int16_t* difference,
                            const int16_t* motion_difference, int count);

// out[x] = pixels[x].y.
typedef void ExtractLumaRowFn(int16_t* out, const PIXEL_YC* pixels, int count);

// The plain references the packed variants must match bit for bit.
void decoder_fir_row_c(int16_t* out, const int16_t* in, const int16_t* taps, int reach, int count);
void demodulate_row_c(int16_t* u, int16_t* v, const int16_t* chroma, const int16_t* cos_weights,
                      const int16_t* sin_weights, int count, int32_t sign);
void assemble_row_c(PIXEL_YC* out, const int16_t* composite, const int16_t* chroma,
                    const int16_t* u, const int16_t* v, const int16_t matrix[4], int count);
void line_comb_row_c(int16_t* out, const int16_t* row, const int16_t* above, const int16_t* below,
                     int count);
void frame_difference_row_c(int16_t* out, const int16_t* row, const int16_t* partner, int count);
void frame_comb_row_c(int16_t* chroma, const int16_t* difference,
                      const int16_t* motion_difference, int count);
void extract_luma_row_c(int16_t* out, const PIXEL_YC* pixels, int count);

extern DispatchedKernel<DecoderFirRowFn> decoder_fir_row_kernel;
extern DispatchedKernel<DemodulateRowFn> demodulate_row_kernel;
extern DispatchedKernel<AssembleRowFn> assemble_row_kernel;
extern DispatchedKernel<LineCombRowFn> line_comb_row_kernel;
extern DispatchedKernel<FrameDifferenceRowFn> frame_difference_row_kernel;
extern DispatchedKernel<FrameCombRowFn> frame_comb_row_kernel;
extern DispatchedKernel<ExtractLumaRowFn> extract_luma_row_kernel;

// The row kernels the decoder runs, chosen once by the state that runs it
// (select_decoder_kernels: the best variants cpu_flags() allows).
struct DecoderKernels {
    DecoderFirRowFn* fir;
    DemodulateRowFn* demodulate;
    AssembleRowFn* assemble;
    LineCombRowFn* line_comb;
    FrameDifferenceRowFn* frame_difference;
    FrameCombRowFn* frame_comb;
    AssembleDelayedRowFn* assemble_delayed;
    BandpassDemodulateRowFn* bandpass_demodulate;
    ExtractLumaRowFn* extract_luma;
};
void select_decoder_kernels(DecoderKernels* kernels);
