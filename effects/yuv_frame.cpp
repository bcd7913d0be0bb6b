#include "effects/yuv_frame.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Rows converted at once through the planar chunk: a multiple of every
// chroma block height, small enough to stay in cache at 4K.
constexpr int chunk_rows = 32;

int bytes_per_sample(const YuvPicture* picture)
{
    return picture->layout.depth > 8 || picture->sample_shift > 0 ? 2 : 1;
}

bool is_packed(const YuvPicture* picture)
{
    return picture->packing == YUV_YUYV || picture->packing == YUV_UYVY;
}

int chroma_columns(int width, int shift_x)
{
    return (width + (1 << shift_x) - 1) >> shift_x;
}

// Rows [top, bottom) and columns [left, right) widened outward to whole
// chroma blocks, held to the picture.
FilterRect widened_to_blocks(FilterRect rect, const YuvPicture* picture)
{
    const int bw = picture->layout.has_chroma ? 1 << picture->layout.chroma_shift_x : 1;
    const int bh = picture->layout.has_chroma ? 1 << picture->layout.chroma_shift_y : 1;
    rect.left -= rect.left % bw;
    rect.top -= rect.top % bh;
    rect.right = std::min(picture->width, (rect.right + bw - 1) / bw * bw);
    rect.bottom = std::min(picture->height, (rect.bottom + bh - 1) / bh * bh);
    return rect;
}

bool grow(void** buffer, size_t* capacity, size_t count, size_t size)
{
    if (count <= *capacity)
        return true;
    if (count > std::numeric_limits<size_t>::max() / size)
        return false;
    void* bigger = std::malloc(count * size);
    if (bigger == nullptr)
        return false;
    std::free(*buffer);
    *buffer = bigger;
    *capacity = count;
    return true;
}

// The picture's planes moved to pixel (x, row), both on block edges.
YuvPlanes planes_at(const YuvPicture* picture, int x, int row)
{
    const int bytes = bytes_per_sample(picture);
    YuvPlanes planes = {};
    for (int p = 0; p < 3; ++p) {
        const int sx = p > 0 ? picture->layout.chroma_shift_x : 0;
        const int sy = p > 0 ? picture->layout.chroma_shift_y : 0;
        planes.linesize[p] = picture->linesize[p];
        if (picture->data[p] != nullptr)
            planes.data[p] = picture->data[p] + static_cast<ptrdiff_t>(row >> sy) * picture->linesize[p] +
                             static_cast<ptrdiff_t>(x >> sx) * bytes;
    }
    return planes;
}

// The chunk's planar rows: `columns` samples of luma and their chroma for
// up to chunk_rows rows, in `rows`.
YuvPlanes chunk_planes(const YuvPicture* picture, uint8_t* rows, int columns)
{
    const int bytes = bytes_per_sample(picture);
    const int cw = chroma_columns(columns, picture->layout.chroma_shift_x);
    YuvPlanes planes = {};
    planes.data[0] = rows;
    planes.linesize[0] = columns * bytes;
    planes.data[1] = rows + static_cast<size_t>(chunk_rows) * columns * bytes;
    planes.linesize[1] = cw * bytes;
    planes.data[2] = planes.data[1] + static_cast<size_t>(chunk_rows) * cw * bytes;
    planes.linesize[2] = cw * bytes;
    return planes;
}

size_t chunk_bytes(const YuvPicture* picture, int columns)
{
    const size_t cw = chroma_columns(columns, picture->layout.chroma_shift_x);
    return static_cast<size_t>(chunk_rows) * (columns + 2 * cw) * bytes_per_sample(picture);
}

// Packed offsets of Y0 and Cb within a two-pixel group; Y1 and Cr follow 2
// bytes after each.
int luma_offset(const YuvPicture* picture)
{
    return picture->packing == YUV_UYVY ? 1 : 0;
}
int chroma_offset(const YuvPicture* picture)
{
    return picture->packing == YUV_UYVY ? 0 : 1;
}

// Frame rows [r0, r0 + count) of columns [x, x + columns) into the chunk's
// planes, or back out of them; with SSE2 sixteen pixels at a time.
void packed_rows_in(const YuvPicture* picture, int x, int r0, int count, int columns, const YuvPlanes& chunk)
{
    const int yo = luma_offset(picture), co = chroma_offset(picture);
    const int cw = chroma_columns(columns, 1);
    for (int r = 0; r < count; ++r) {
        const uint8_t* in = picture->data[0] + static_cast<ptrdiff_t>(r0 + r) * picture->linesize[0] + x * 2;
        uint8_t* y = chunk.data[0] + r * chunk.linesize[0];
        uint8_t* cb = chunk.data[1] + r * chunk.linesize[1];
        uint8_t* cr = chunk.data[2] + r * chunk.linesize[2];
        int i = 0;
#if defined(__SSE2__)
        const __m128i low_bytes = _mm_set1_epi16(0x00FF);
        // Luma in the low bytes of each 16-bit lane for YUYV, the high for UYVY.
        auto low = [&](__m128i v) { return _mm_and_si128(v, low_bytes); };
        auto high = [](__m128i v) { return _mm_srli_epi16(v, 8); };
        for (; i + 16 <= columns; i += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i + 16));
            const __m128i luma = yo == 0 ? _mm_packus_epi16(low(a), low(b)) : _mm_packus_epi16(high(a), high(b));
            const __m128i chroma = co == 0 ? _mm_packus_epi16(low(a), low(b)) : _mm_packus_epi16(high(a), high(b));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(y + i), luma);
            // chroma: cb cr pairs; cb in the low bytes.
            const __m128i cbs = _mm_packus_epi16(low(chroma), _mm_setzero_si128());
            const __m128i crs = _mm_packus_epi16(high(chroma), _mm_setzero_si128());
            _mm_storel_epi64(reinterpret_cast<__m128i*>(cb + i / 2), cbs);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(cr + i / 2), crs);
        }
#endif
        for (int j = i; j < columns; ++j)
            y[j] = in[2 * j + yo];
        for (int j = i / 2; j < cw; ++j) {
            cb[j] = in[4 * j + co];
            cr[j] = in[4 * j + co + 2];
        }
    }
}

void packed_rows_out(const YuvPicture* picture, int x, int r0, int count, int columns, const YuvPlanes& chunk)
{
    const int yo = luma_offset(picture), co = chroma_offset(picture);
    const int cw = chroma_columns(columns, 1);
    for (int r = 0; r < count; ++r) {
        uint8_t* out = picture->data[0] + static_cast<ptrdiff_t>(r0 + r) * picture->linesize[0] + x * 2;
        const uint8_t* y = chunk.data[0] + r * chunk.linesize[0];
        const uint8_t* cb = chunk.data[1] + r * chunk.linesize[1];
        const uint8_t* cr = chunk.data[2] + r * chunk.linesize[2];
        int i = 0;
#if defined(__SSE2__)
        for (; i + 16 <= columns; i += 16) {
            const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + i));
            const __m128i chroma = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + i / 2)),
                                                     _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + i / 2)));
            const __m128i first = yo == 0 ? _mm_unpacklo_epi8(luma, chroma) : _mm_unpacklo_epi8(chroma, luma);
            const __m128i second = yo == 0 ? _mm_unpackhi_epi8(luma, chroma) : _mm_unpackhi_epi8(chroma, luma);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), first);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), second);
        }
#endif
        for (int j = i; j < columns; ++j)
            out[2 * j + yo] = y[j];
        for (int j = i / 2; j < cw; ++j) {
            out[4 * j + co] = cb[j];
            out[4 * j + co + 2] = cr[j];
        }
    }
}

// The same for planar samples with bits below the depth.
template <bool In>
void shifted_rows(const YuvPicture* picture, int x, int r0, int count, int columns, const YuvPlanes& chunk)
{
    const int shift = picture->sample_shift;
    const int max_code = (1 << picture->layout.depth) - 1;
    const YuvPlanes frame = planes_at(picture, x, r0);
    const int planes = picture->layout.has_chroma ? 3 : 1;
    for (int p = 0; p < planes; ++p) {
        const int sy = p > 0 ? picture->layout.chroma_shift_y : 0;
        const int n = p > 0 ? chroma_columns(columns, picture->layout.chroma_shift_x) : columns;
        const int rows = ((r0 + count - 1) >> sy) - (r0 >> sy) + 1;
        for (int r = 0; r < rows; ++r) {
            auto* wide = reinterpret_cast<uint16_t*>(frame.data[p] + static_cast<ptrdiff_t>(r) * frame.linesize[p]);
            auto* narrow = reinterpret_cast<uint16_t*>(chunk.data[p] + r * chunk.linesize[p]);
            for (int i = 0; i < n; ++i) {
                if (In)
                    narrow[i] = static_cast<uint16_t>(std::min(max_code, (wide[i] + (1 << (shift - 1))) >> shift));
                else
                    wide[i] = static_cast<uint16_t>((narrow[i] << shift) | (narrow[i] >> (picture->layout.depth - shift)));
            }
        }
    }
}

// Columns [x, x + columns) of rows [top, bottom) to YC or back.
template <bool In>
void convert(YuvEffects* effects, const YuvPicture* picture, int x, int top, int bottom, int columns)
{
    const int w = picture->width;
    if (!is_packed(picture) && picture->sample_shift == 0) {
        const YuvPlanes planes = planes_at(picture, x, top);
        PIXEL_YC* yc = effects->pixels + static_cast<size_t>(top) * w + x;
        if (In)
            yuv_to_yc(picture->layout, planes, columns, bottom - top, yc, w);
        else
            yc_to_yuv(picture->layout, yc, w, columns, bottom - top, planes);
        return;
    }
    const YuvPlanes chunk = chunk_planes(picture, effects->rows, columns);
    for (int r0 = top; r0 < bottom; r0 += chunk_rows) {
        const int count = std::min(chunk_rows, bottom - r0);
        PIXEL_YC* yc = effects->pixels + static_cast<size_t>(r0) * w + x;
        if (In) {
            if (is_packed(picture))
                packed_rows_in(picture, x, r0, count, columns, chunk);
            else
                shifted_rows<true>(picture, x, r0, count, columns, chunk);
            yuv_to_yc(picture->layout, chunk, columns, count, yc, w);
        } else {
            yc_to_yuv(picture->layout, yc, w, columns, count, chunk);
            if (is_packed(picture))
                packed_rows_out(picture, x, r0, count, columns, chunk);
            else
                shifted_rows<false>(picture, x, r0, count, columns, chunk);
        }
    }
}

}  // namespace

int yuv_picture_is_usable(const YuvPicture* picture)
{
    if (picture == nullptr || picture->width <= 0 || picture->height <= 0)
        return 0;
    const YuvLayout& layout = picture->layout;
    if (is_packed(picture)) {
        if (layout.depth != 8 || !layout.has_chroma || layout.chroma_shift_x != 1 || layout.chroma_shift_y != 0 ||
            picture->sample_shift != 0)
            return 0;
    } else if (picture->packing != YUV_PLANAR) {
        return 0;
    }
    if (layout.depth < 8 || layout.depth > 12 || layout.chroma_shift_x < 0 || layout.chroma_shift_x > 2 ||
        layout.chroma_shift_y < 0 || layout.chroma_shift_y > 2)
        return 0;
    if (picture->sample_shift < 0 || (picture->sample_shift > 0 && layout.depth + picture->sample_shift > 16))
        return 0;
    // The engine indexes rows with int and the YC frame is width x height.
    if (static_cast<long long>(picture->width) * picture->height >
        static_cast<long long>(std::numeric_limits<int>::max()))
        return 0;
    const int bytes = bytes_per_sample(picture);
    const int planes = is_packed(picture) ? 1 : layout.has_chroma ? 3 : 1;
    for (int p = 0; p < planes; ++p) {
        const int sx = p > 0 ? layout.chroma_shift_x : 0;
        const long long row = is_packed(picture) ? 4LL * chroma_columns(picture->width, 1)
                                                 : static_cast<long long>(chroma_columns(picture->width, sx)) * bytes;
        if (picture->data[p] == nullptr || picture->linesize[p] < row)
            return 0;
        // 2-byte samples lie on 2-byte boundaries.
        if (bytes == 2 && ((picture->linesize[p] & 1) != 0 || (reinterpret_cast<uintptr_t>(picture->data[p]) & 1) != 0))
            return 0;
    }
    return 1;
}

int apply_effects_to_yuv(YuvEffects* effects, const EffectSettings* settings, const YuvPicture* picture,
                         int32_t number, const PIXEL_YC* partner, PIXEL_YC* composite)
{
    if (effects == nullptr || settings == nullptr || !yuv_picture_is_usable(picture))
        return 0;
    const int w = picture->width, h = picture->height;
    const FilterRect rect = effect_rect(settings, w, h, w);
    if (rect_is_empty(&rect))
        return 1;
    const FilterRect window = widened_to_blocks(effect_input_window(settings, w, h, w), picture);
    const FilterRect out = widened_to_blocks(rect, picture);
    const size_t pixels = static_cast<size_t>(w) * h;
    if (!grow(reinterpret_cast<void**>(&effects->pixels), &effects->capacity, pixels, sizeof(PIXEL_YC)) ||
        !grow(reinterpret_cast<void**>(&effects->scratch), &effects->scratch_capacity, pixels, sizeof(PIXEL_YC)))
        return 0;
    if ((is_packed(picture) || picture->sample_shift > 0) &&
        !grow(reinterpret_cast<void**>(&effects->rows), &effects->rows_capacity,
              chunk_bytes(picture, window.right - window.left), 1))
        return 0;

    convert<true>(effects, picture, window.left, window.top, window.bottom, window.right - window.left);
    EffectFrame frame = {effects->pixels, effects->scratch, w, h, w, number};
    frame.partner = partner;
    frame.composite = composite;
    apply_effects(&effects->state, settings, &frame);
    convert<false>(effects, picture, out.left, out.top, out.bottom, out.right - out.left);
    return 1;
}

void release_yuv_effects(YuvEffects* effects)
{
    if (effects == nullptr)
        return;
    release_effect_state(&effects->state);
    std::free(effects->pixels);
    std::free(effects->scratch);
    std::free(effects->rows);
    effects->pixels = effects->scratch = nullptr;
    effects->rows = nullptr;
    effects->capacity = effects->scratch_capacity = effects->rows_capacity = 0;
}
