// Conversion between YUV pictures in memory (8 to 12 bits, any chroma
// subsampling, limited or full range) and the effects' PIXEL_YC frames, for
// hosts that hand over YUV.
//
// Every sample maps linearly onto the effects' YC scale: black..white onto y
// 0..4096 and the chroma span onto cb, cr -2048..2048, rounded to nearest:
//   limited range, d bits:  y = (Y - 16·2^(d-8)) · 4096 / (219·2^(d-8))
//                           c = (C - 128·2^(d-8)) · 4096 / (224·2^(d-8))
//   full range, d bits:     y = Y · 4096 / (2^d - 1)
//                           c = (C - 2^(d-1)) · 4096 / (2^d - 1)
// The way back is the inverse rounded to nearest and clamped to the d-bit
// codes. The YC scale is finer than every code scale up to 12 bits, so a
// code that goes there and back is unchanged.
//
// Subsampled chroma is brought to full resolution by giving every pixel of a
// block the block's sample, and brought back by averaging the block's
// PIXEL_YC values (rounded to nearest) before the code mapping: a block the
// filter left alone comes back exactly as it was.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/cpu.h"
#include "engine/pixel_yc.h"

struct YuvLayout {
    int depth = 8;               // bits per sample, 8..12; wider samples take 2 bytes
    bool has_chroma = true;      // false for grey pictures: cb and cr are 0
    int chroma_shift_x = 1;      // log2 of the horizontal chroma subsampling
    int chroma_shift_y = 1;      // log2 of the vertical chroma subsampling
    bool full_range = false;     // codes span 0..2^d-1 instead of the studio range
};

// code = offset + value · span / 4096, value = (code - offset) · 4096 / span.
struct SampleScale {
    int offset;
    int span;
    int max_code;
};

SampleScale luma_scale(const YuvLayout& layout);
SampleScale chroma_scale(const YuvLayout& layout);

// One sample's mapping onto the effects' YC scale and back.
short code_to_yc(int code, const SampleScale& scale);
int yc_to_code(int value, const SampleScale& scale);

// The planes of a picture: luma, then cb and cr when the layout has chroma.
// linesize is in bytes; samples are uint8_t for 8 bits and uint16_t above.
struct YuvPlanes {
    uint8_t* data[3];
    int linesize[3];
};

// Fills the width x height pixels of `yc` (rows `pitch` pixels apart).
// Reads codes through a table of the scale's values; 8-bit samples with
// chroma go through the row kernels below.
void yuv_to_yc(const YuvLayout& layout, const YuvPlanes& planes, int width, int height,
               PIXEL_YC* yc, int pitch);

// Writes the width x height pixels of `yc` into the planes. Maps values
// with a multiply and a shift (the scale has 4096 steps) and averages
// blocks; 8-bit samples with chroma blocks at most two rows high go
// through the row kernels below.
void yc_to_yuv(const YuvLayout& layout, const PIXEL_YC* yc, int pitch, int width, int height,
               const YuvPlanes& planes);

// The same conversions one sample at a time through code_to_yc and
// yc_to_code: the definition the fast ones are tested against.
void yuv_to_yc_reference(const YuvLayout& layout, const YuvPlanes& planes, int width, int height,
                         PIXEL_YC* yc, int pitch);
void yc_to_yuv_reference(const YuvLayout& layout, const PIXEL_YC* yc, int pitch, int width, int height,
                         const YuvPlanes& planes);

// Row kernels of the 8-bit conversions, chosen at run time (engine/cpu.h),
// each giving exactly what code_to_yc and yc_to_code give (for chroma
// blocks, their rounded means).
//
// value = ((code - offset) · factor + bias) >> 17, where that gives every
// code its value: the vector variants' form of a scale's table.
struct CodeMap {
    int offset;
    int factor;
    int bias;
};
constexpr int code_map_shift = 17;

// value = (((code - offset) << shift) · factor + 2^14) >> 15, the vector
// multiply-high with rounding, where that gives every code its value.
struct RoundingMap {
    int offset;
    int shift;
    int factor;
};

struct YuvRowMaps {
    const short* luma_values;  // every code's value
    const short* chroma_values;
    bool linear;  // luma_map and chroma_map give every code its value
    CodeMap luma_map;
    CodeMap chroma_map;
    bool rounding;  // so do luma_rounding and chroma_rounding
    RoundingMap luma_rounding;
    RoundingMap chroma_rounding;
    SampleScale luma;
    SampleScale chroma;
};

// The maps of an 8-bit layout. The tables are the process's, built at the
// first conversion and only read afterwards.
YuvRowMaps yuv_row_maps(const YuvLayout& layout);

// `count` pixels of a row from luma and from chroma 2^shift_x times
// narrower (shift_x 0..2).
typedef void PlanarToYcRowFn(PIXEL_YC* out, const uint8_t* y, const uint8_t* cb, const uint8_t* cr,
                             int count, int shift_x, const YuvRowMaps* maps);
// `count` pixels of a packed 4:2:2 row, luma first (YUYV, luma_first 1) or
// chroma first (UYVY, 0).
typedef void PackedToYcRowFn(PIXEL_YC* out, const uint8_t* in, int count, int luma_first,
                             const YuvRowMaps* maps);
// `rows` (1 or 2) rows of `count` pixels, `pitch` apart, to luma rows y0
// (and y1) and one row of chroma blocks 2^shift_x wide (shift_x 0..2).
typedef void YcToPlanarRowsFn(uint8_t* y0, uint8_t* y1, uint8_t* cb, uint8_t* cr, const PIXEL_YC* in,
                              ptrdiff_t pitch, int rows, int count, int shift_x,
                              const YuvRowMaps* maps);
typedef void YcToPackedRowFn(uint8_t* out, const PIXEL_YC* in, int count, int luma_first,
                             const YuvRowMaps* maps);

// The plain references.
void planar_to_yc_row_c(PIXEL_YC* out, const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int count,
                        int shift_x, const YuvRowMaps* maps);
void packed_to_yc_row_c(PIXEL_YC* out, const uint8_t* in, int count, int luma_first, const YuvRowMaps* maps);
void yc_to_planar_rows_c(uint8_t* y0, uint8_t* y1, uint8_t* cb, uint8_t* cr, const PIXEL_YC* in,
                         ptrdiff_t pitch, int rows, int count, int shift_x, const YuvRowMaps* maps);
void yc_to_packed_row_c(uint8_t* out, const PIXEL_YC* in, int count, int luma_first, const YuvRowMaps* maps);

extern DispatchedKernel<PlanarToYcRowFn> planar_to_yc_row_kernel;
extern DispatchedKernel<PackedToYcRowFn> packed_to_yc_row_kernel;
extern DispatchedKernel<YcToPlanarRowsFn> yc_to_planar_rows_kernel;
extern DispatchedKernel<YcToPackedRowFn> yc_to_packed_row_kernel;

// The row kernels for a host that converts a row at a time: the best
// variants the allowed features (cpu_flags()) can run, chosen by
// select_yuv_kernels once per state. yuv_to_yc and yc_to_yuv choose theirs
// on every call.
struct YuvKernels {
    PlanarToYcRowFn* planar_to_yc;
    PackedToYcRowFn* packed_to_yc;
    YcToPlanarRowsFn* yc_to_planar;
    YcToPackedRowFn* yc_to_packed;
};
void select_yuv_kernels(YuvKernels* kernels);

