// show_range and strip_chroma eight pixels (24 components, three vectors)
// at a time in SSE2. The components of a pixel repeat every three lanes, so
// each of the three vectors of a group has its own lane pattern.
#include <emmintrin.h>

#include "effects/x86/pixel_lanes.h"
#include "plugin/region.h"

static inline __m128i* vector(PIXEL_YC* pixels, int x, int k)
{
    return reinterpret_cast<__m128i*>(reinterpret_cast<int16_t*>(pixels + x) + 8 * k);
}

void show_range_row_sse2(PIXEL_YC* pixels, int count)
{
    // Every lane is subtracted from its pattern: 4096 - y, 0 - cb, 0 - cr.
    const __m128i from[3] = {y_lanes_128(0, 4096), y_lanes_128(1, 4096), y_lanes_128(2, 4096)};
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        for (int k = 0; k < 3; ++k) {
            __m128i* v = vector(pixels, x, k);
            _mm_storeu_si128(v, _mm_sub_epi16(from[k], _mm_loadu_si128(v)));
        }
    }
    show_range_row_c(pixels + x, count - x);
}

void strip_chroma_row_sse2(PIXEL_YC* pixels, int count)
{
    const __m128i keep[3] = {y_lanes_128(0, -1), y_lanes_128(1, -1), y_lanes_128(2, -1)};
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        for (int k = 0; k < 3; ++k) {
            __m128i* v = vector(pixels, x, k);
            _mm_storeu_si128(v, _mm_and_si128(keep[k], _mm_loadu_si128(v)));
        }
    }
    strip_chroma_row_c(pixels + x, count - x);
}
