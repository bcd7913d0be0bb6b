// "C/Y": folds cb and cr onto a colour subcarrier added to y, then drops them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/cpu.h"
#include "engine/filter_rect.h"

// The colour standards the carrier can follow.
enum ColourStandard : int32_t {
    STANDARD_NTSC = 0,  // 3.579545 MHz, the carrier inverted every field line
    STANDARD_PAL = 1,   // 4.43361875 MHz with the V switch and the 25 Hz offset
};
constexpr int32_t colour_standard_count = 2;
const char* colour_standard_name(int32_t standard);  // "ntsc", "pal"
int32_t colour_standard_from_name(const char* name);  // -1 for an unknown name

// Per-column carrier weights (Q11) with the inputs they were computed for.
// Owned by the caller of the effects (EffectState): built on the first
// "C/Y" frame, kept between frames, released by release_subcarrier_tables.
struct SubcarrierTables {
    int16_t* cos_table = nullptr;  // weight for cb, indexed by absolute column
    int16_t* sin_table = nullptr;  // weight for cr, indexed by absolute column
    int32_t table_max_w = -1;      // the max_w both blocks were allocated for
    int32_t table_phase = 360;     // the inputs the entries were computed for
    int32_t table_freq = -1;
    int32_t table_w = -1;
    int32_t table_standard = STANDARD_NTSC;
};

// The heap allocator behind the tables; tests swap it to make allocation fail.
// Blocks are released with free, so a replacement must take them from malloc.
extern void* (*subcarrier_table_alloc)(size_t size);

// Brings the tables up to date for (freq, phase, w), allocating only when
// max_w changed and computing only when an input changed. FALSE when the
// memory cannot be had; both tables are then absent.
int build_subcarrier_tables(SubcarrierTables* tables, int32_t freq, int32_t phase, int32_t w,
                            int32_t max_w);

// The same for either standard: NTSC's tables carry the cb and cr gains,
// PAL's are the plain cos and sin of the column's carrier angle (Q11).
int build_carrier_tables(SubcarrierTables* tables, int32_t standard, int32_t freq, int32_t phase,
                         int32_t w, int32_t max_w);

// The carrier's advance per column in radians at 13.5 MHz sampling.
double carrier_step(int32_t standard, int32_t freq);

// Computes entry x of both tables for the given carrier constants; the one
// place where floating point decides output pixels.
void compute_subcarrier_entries(int16_t* cos_table, int16_t* sin_table, int32_t freq,
                                int32_t phase, int32_t w);

// Modulates the rectangle's chroma onto y in place and zeroes cb and cr.
// Bit 1 of carrier_flags gives the starting sign (+1 when set), bit 0 the
// row-parity offset. Needs tables built for a width of at least rect->right.
// Chooses its kernel on every call.
void encode_composite(PIXEL_YC* frame, const FilterRect* rect, const SubcarrierTables* tables,
                      int32_t carrier_flags);

// The carrier's sign (+1 or -1) on row `row` of the rectangle: it flips
// every second row, so rows two apart (one field line) always differ.
int32_t composite_row_sign(const FilterRect* rect, int32_t carrier_flags, int row);

// PAL: the carrier's phase at the start of each line and the V switch
// follow from the line's place in the 625-line sequence. Frame `frame`
// (counted in interlaced frames), row r: field line r / 2 of the field
// the row's parity gives, the second field starting 312.5 lines after the
// first (for the switch, 312 whole lines). Phases are counted in
// pal_phase_steps a cycle; at freq 704 the
// sequence repeats after four frames, and two frames apart the carrier is
// exactly inverted.
constexpr int32_t pal_phase_steps = 4096;
struct PalSequence {
    int32_t freq;
    int32_t frame;
    int top_field_first;
};
struct PalLine {
    int32_t phase;  // 0 .. pal_phase_steps - 1
    int32_t v_switch;  // +1 or -1: the sign of V on the line
};
PalLine pal_line(const PalSequence* sequence, int row);

// cos and sin of a phase in steps, Q14, exact negatives half a cycle apart.
void pal_rotation(int16_t rotation[2], int32_t phase);

// The encoder's gains of cb and cr, Q14 (the weights of the NTSC tables over 2048).
constexpr int32_t cb_carrier_gain_q14 = 14302;
constexpr int32_t cr_carrier_gain_q14 = 20149;

// PAL's modulation of one row: u = (c[0] cb + c[1] cr + 8192) >> 14 and
// v = (c[2] cb + c[3] cr + 8192) >> 14 (cb and cr turned by the line's phase
// and switched), each saturated to 16 bits, then y gains (cos u + sin v +
// 1024) >> 11 (wrapping) and cb, cr become 0. The unit PAL's encoding
// dispatches.
typedef void EncodePalRowFn(PIXEL_YC* pixels, const int16_t* cos_weights,
                            const int16_t* sin_weights, int count, const int16_t coefficients[4]);
void encode_pal_row_c(PIXEL_YC* pixels, const int16_t* cos_weights, const int16_t* sin_weights,
                      int count, const int16_t coefficients[4]);
extern DispatchedKernel<EncodePalRowFn> encode_pal_row_kernel;

// The row coefficients of encode_pal_row for a line.
void pal_row_coefficients(int16_t coefficients[4], const PalLine& line);

// Row `row` of the rectangle encoded for PAL from in into out, as
// encode_composite_rect_row does for NTSC.
void encode_pal_rect_row(PIXEL_YC* out, const PIXEL_YC* in, const FilterRect* rect,
                         const SubcarrierTables* tables, const PalSequence* sequence, int row,
                         EncodePalRowFn* encode_row);

// Frees both tables; the next build allocates them again.
void release_subcarrier_tables(SubcarrierTables* tables);

// One row's run of `count` pixels: y gains both carrier terms under `sign`
// (+1 or -1), cb and cr become 0. cos_weights and sin_weights hold the
// table entries of the same columns, within -32767 .. 32767 for the packed
// variants. The unit that encode_composite dispatches.
typedef void EncodeCompositeRowFn(PIXEL_YC* pixels, const int16_t* cos_weights,
                                  const int16_t* sin_weights, int count, int32_t sign);

// The plain reference the packed variants must match bit for bit.
void encode_composite_row_c(PIXEL_YC* pixels, const int16_t* cos_weights,
                            const int16_t* sin_weights, int count, int32_t sign);

// The reference "c" and, on x86, "sse2" and "avx2".
extern DispatchedKernel<EncodeCompositeRowFn> encode_composite_row_kernel;

// Row `row` of the rectangle as encode_composite leaves it, encoded from
// the row's pixels `in` into out (both at column left), which may be in,
// by the given variant of encode_composite_row.
void encode_composite_rect_row(PIXEL_YC* out, const PIXEL_YC* in, const FilterRect* rect,
                               const SubcarrierTables* tables, int32_t carrier_flags, int row,
                               EncodeCompositeRowFn* encode_row);
