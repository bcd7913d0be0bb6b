// "LPF": symmetric 11-tap vertical low-pass filter in Q15 over rows 1 .. h-2
// of the whole picture, every component alike. dst and src must not overlap.
#pragma once

#include "host/pixel_yc.h"

void vertical_lpf(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w);

// The plain reference the packed versions must match bit for bit.
void vertical_lpf_c(PIXEL_YC* dst, const PIXEL_YC* src, int h, int w, int max_w);
