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

#include <cstdint>

#include "host/pixel_yc.h"

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
// Reads codes through a table of the scale's values, for 8-bit samples with
// SSE2 through the same values as a multiply, add and shift, and interleaves
// rows with SSE2 when chroma is subsampled at most 2x horizontally.
void yuv_to_yc(const YuvLayout& layout, const YuvPlanes& planes, int width, int height,
               PIXEL_YC* yc, int pitch);

// Writes the width x height pixels of `yc` into the planes. Maps values
// with a multiply and a shift (the scale has 4096 steps) and sums blocks
// column by column; for 8-bit samples with SSE2 it converts luma and blocks
// two pixels wide and at most two high sixteen pixels at a time.
void yc_to_yuv(const YuvLayout& layout, const PIXEL_YC* yc, int pitch, int width, int height,
               const YuvPlanes& planes);

// The same conversions one sample at a time through code_to_yc and
// yc_to_code: the definition the fast ones are tested against.
void yuv_to_yc_reference(const YuvLayout& layout, const YuvPlanes& planes, int width, int height,
                         PIXEL_YC* yc, int pitch);
void yc_to_yuv_reference(const YuvLayout& layout, const PIXEL_YC* yc, int pitch, int width, int height,
                         const YuvPlanes& planes);
