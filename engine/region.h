// Rectangle operations the driver needs between and besides the stages.
#pragma once

#include "engine/cpu.h"
#include "engine/filter_rect.h"

// Copies the rectangle's pixels from src to dst; nothing else is touched.
void copy_rect(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect);

// "範囲表示": y becomes 4096 - y, cb and cr are negated, all wrapping.
void show_range(PIXEL_YC* frame, const FilterRect* rect);

// "MONO": cb and cr become 0, y stays.
void strip_chroma(PIXEL_YC* frame, const FilterRect* rect);

// The row operations of show_range and strip_chroma, in place over a run of
// `count` pixels: the units they dispatch.
typedef void RegionRowFn(PIXEL_YC* pixels, int count);

// The rectangle's rows through a variant of one of them. show_range and
// strip_chroma choose theirs on every call.
void change_rect_rows(PIXEL_YC* frame, const FilterRect* rect, RegionRowFn* row_fn);

// The plain references the packed variants must match bit for bit.
void show_range_row_c(PIXEL_YC* pixels, int count);
void strip_chroma_row_c(PIXEL_YC* pixels, int count);

// The references "c" and, on x86, "sse2" and "avx2".
extern DispatchedKernel<RegionRowFn> show_range_row_kernel;
extern DispatchedKernel<RegionRowFn> strip_chroma_row_kernel;

