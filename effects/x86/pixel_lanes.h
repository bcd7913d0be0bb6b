// Lane patterns for packed code that walks rows of PIXEL_YC as 16-bit
// lanes. A group of pixels fills three vectors; lane L of vector k holds
// component n * k + L of the group (n lanes per vector), which is a y
// exactly when n * k + L is a multiple of 3.
#pragma once

#include <cstdint>

#include <emmintrin.h>
#ifdef __AVX2__
#include <immintrin.h>
#endif

// `value` in the y lanes of vector k of an 8-pixel group, 0 elsewhere.
static inline __m128i y_lanes_128(int k, short value)
{
    int16_t lanes[8];
    for (int i = 0; i < 8; ++i)
        lanes[i] = (8 * k + i) % 3 == 0 ? value : 0;
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes));
}

#ifdef __AVX2__
// `value` in the y lanes of vector k of a 16-pixel group, 0 elsewhere.
static inline __m256i y_lanes_256(int k, short value)
{
    int16_t lanes[16];
    for (int i = 0; i < 16; ++i)
        lanes[i] = (16 * k + i) % 3 == 0 ? value : 0;
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes));
}
#endif
