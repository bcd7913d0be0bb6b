// 8-bit RGBA pictures to the effects' YC scale and back, for hosts that hand
// over RGBA frames.
//
// Full-range RGB with the ITU-R BT.601 matrix: black..white is y 0..4096,
// the colour differences span cb, cr -2048..2048. In Q11 (to YC) and Q16 (to
// RGBA) fixed point, rounded, clamped to 0..255 on the way back. Every RGB
// colour comes back exactly, so pixels no effect touched stay as they were.
// Alpha is never converted: the way back copies it from a source row.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/cpu.h"
#include "engine/pixel_yc.h"

// Bytes R, G, B, A of each pixel in memory order (frei0r's RGBA8888).
struct RgbaPixel {
    uint8_t r, g, b, a;
};

// Rows of `count` pixels: the units the kernels dispatch.
typedef void RgbaToYcRowFn(PIXEL_YC* dst, const RgbaPixel* src, int count);
// dst's colour from `src`, its alpha from `alpha_from` (which may be dst).
typedef void YcToRgbaRowFn(RgbaPixel* dst, const PIXEL_YC* src, const RgbaPixel* alpha_from,
                           int count);

// The plain references the packed variants must match bit for bit.
void rgba_to_yc_row_c(PIXEL_YC* dst, const RgbaPixel* src, int count);
void yc_to_rgba_row_c(RgbaPixel* dst, const PIXEL_YC* src, const RgbaPixel* alpha_from, int count);

extern DispatchedKernel<RgbaToYcRowFn> rgba_to_yc_row_kernel;
extern DispatchedKernel<YcToRgbaRowFn> yc_to_rgba_row_kernel;

// The converters' kernels for a host that converts a row at a time: the
// best variants the allowed features (cpu_flags()) can run, chosen by
// select_rgba_kernels once per frame or state.
struct RgbaKernels {
    RgbaToYcRowFn* to_yc;
    YcToRgbaRowFn* to_rgba;
};
void select_rgba_kernels(RgbaKernels* kernels);

// The fixed-point matrices, shared by the references and the packed variants.
// To YC, Q11: 4096 / 255 * 2048 times the BT.601 weights; each colour
// difference row sums to 0, so greys have no chroma.
enum : int {
    YC_FROM_R_Y = 9836, YC_FROM_G_Y = 19310, YC_FROM_B_Y = 3750,
    YC_FROM_R_CB = -5551, YC_FROM_G_CB = -10897, YC_FROM_B_CB = 16448,
    YC_FROM_R_CR = 16448, YC_FROM_G_CR = -13773, YC_FROM_B_CR = -2675,
    YC_FROM_RGB_SHIFT = 11,
};
// To RGB, Q16: 255 / 4096 * 65536 = 4080 per unit of y, times the inverse
// BT.601 weights for cb and cr.
enum : int {
    RGB_FROM_Y = 4080,
    R_FROM_CR = 5720,
    G_FROM_CB = -1404, G_FROM_CR = -2914,
    B_FROM_CB = 7230,
    RGB_FROM_YC_SHIFT = 16,
};

// Whole pictures: w x h pixels, RGBA rows `stride` bytes apart, YC rows
// `pitch` pixels apart; each chooses its kernel on every call.
void rgba_to_yc(PIXEL_YC* dst, int pitch, const RgbaPixel* src, ptrdiff_t stride, int w, int h);
void yc_to_rgba(RgbaPixel* dst, ptrdiff_t stride, const PIXEL_YC* src, int pitch,
                const RgbaPixel* alpha_from, ptrdiff_t alpha_stride, int w, int h);
