// show_range and strip_chroma sixteen pixels (48 components, three vectors)
// at a time in AVX2, with lane patterns as in the SSE2 variants; what is
// left of a row goes to those.
#include <immintrin.h>

#include "effects/x86/pixel_lanes.h"
#include "plugin/region.h"

static inline __m256i* vector(PIXEL_YC* pixels, int x, int k)
{
    return reinterpret_cast<__m256i*>(reinterpret_cast<int16_t*>(pixels + x) + 16 * k);
}

void show_range_row_avx2(PIXEL_YC* pixels, int count)
{
    const __m256i from[3] = {y_lanes_256(0, 4096), y_lanes_256(1, 4096), y_lanes_256(2, 4096)};
    int x = 0;
    for (; x + 16 <= count; x += 16) {
        for (int k = 0; k < 3; ++k) {
            __m256i* v = vector(pixels, x, k);
            _mm256_storeu_si256(v, _mm256_sub_epi16(from[k], _mm256_loadu_si256(v)));
        }
    }
    show_range_row_sse2(pixels + x, count - x);
}

void strip_chroma_row_avx2(PIXEL_YC* pixels, int count)
{
    const __m256i keep[3] = {y_lanes_256(0, -1), y_lanes_256(1, -1), y_lanes_256(2, -1)};
    int x = 0;
    for (; x + 16 <= count; x += 16) {
        for (int k = 0; k < 3; ++k) {
            __m256i* v = vector(pixels, x, k);
            _mm256_storeu_si256(v, _mm256_and_si256(keep[k], _mm256_loadu_si256(v)));
        }
    }
    strip_chroma_row_sse2(pixels + x, count - x);
}
