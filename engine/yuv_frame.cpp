#include "engine/yuv_frame.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "engine/clip_frames.h"


namespace {

// Rows narrowed to the depth at once: the tallest chroma block's.
constexpr int chunk_rows = 4;

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

// 4:2:0 whose chroma rows alternate between the fields.
bool fields_apart(const YuvPicture* picture)
{
    return picture->interlaced && picture->layout.has_chroma && picture->layout.chroma_shift_y == 1;
}

int block_width(const YuvPicture* picture)
{
    return picture->layout.has_chroma ? 1 << picture->layout.chroma_shift_x : 1;
}

int block_height(const YuvPicture* picture)
{
    if (fields_apart(picture))
        return 4;
    return picture->layout.has_chroma ? 1 << picture->layout.chroma_shift_y : 1;
}

// A progressive picture inside a picture: its row r is row first + r · step.
struct PicturePart {
    YuvPicture picture;
    int first;
    int step;
};

// The picture as progressive pictures, each converted as it lies: the
// picture itself, or for interlaced 4:2:0 each field down to the last whole
// block of four rows and, 4k + 2 rows high, the last two rows. Returns how
// many parts.
int progressive_parts(const YuvPicture* picture, PicturePart* parts)
{
    parts[0] = {*picture, 0, 1};
    if (!fields_apart(picture))
        return 1;
    const int tail = picture->height % 4 == 2 ? 2 : 0;
    const int body = picture->height - tail;
    const int planes = picture->layout.has_chroma ? 3 : 1;
    int count = 0;
    for (int parity = 0; parity < 2 && parity < body; ++parity) {
        PicturePart& part = parts[count++];
        part = {*picture, parity, 2};
        part.picture.interlaced = 0;
        part.picture.height = (body - parity + 1) / 2;
        for (int p = 0; p < planes; ++p) {
            part.picture.data[p] += static_cast<ptrdiff_t>(parity) * picture->linesize[p];
            part.picture.linesize[p] *= 2;
        }
    }
    if (tail > 0) {
        PicturePart& part = parts[count++];
        part = {*picture, body, 1};
        part.picture.interlaced = 0;
        part.picture.height = tail;
        for (int p = 0; p < planes; ++p)
            part.picture.data[p] += static_cast<ptrdiff_t>(p > 0 ? body / 2 : body) * picture->linesize[p];
    }
    return count;
}

// The part that holds frame row `row`, and the row there.
const PicturePart* part_of_row(const PicturePart* parts, int count, int row, int* part_row)
{
    for (int i = 0; i + 1 < count; ++i) {
        const PicturePart& part = parts[i];
        if ((row - part.first) % part.step == 0 && (row - part.first) / part.step < part.picture.height) {
            *part_row = (row - part.first) / part.step;
            return &part;
        }
    }
    const PicturePart& last = parts[count - 1];
    *part_row = (row - last.first) / last.step;
    return &last;
}

// Rows [top, bottom) and columns [left, right) widened outward to whole
// chroma blocks, held to the picture.
FilterRect widened_to_blocks(FilterRect rect, const YuvPicture* picture)
{
    const int bw = block_width(picture);
    const int bh = block_height(picture);
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

// Where a packed pixel's luma lies in its two bytes.
int luma_byte(const YuvPicture* picture)
{
    return picture->packing == YUV_UYVY ? 1 : 0;
}

// Pixel x (even) of row `row` of a packed picture.
uint8_t* packed_row(const YuvPicture* picture, int x, int row)
{
    return picture->data[0] + static_cast<ptrdiff_t>(row) * picture->linesize[0] + 2 * x;
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

// The picture as the chain's rows: each row converted as the chain asks
// for it, and each finished row kept until its chroma block is whole, then
// written back widened to whole blocks (their pixels outside the rectangle
// converted from the picture as it is).
struct PictureRows {
    YuvEffects* effects;
    const YuvPicture* picture;  // read; where results go unless `result` is another
    const YuvPicture* result;   // null: nothing is written back
    PicturePart picture_parts[3];
    PicturePart result_parts[3];
    int part_count;
    FilterRect rect;
    FilterRect out;  // the rectangle widened to whole blocks
    int block_w;
    int block_h;
    PIXEL_YC* block;  // rows block_top .. + block_h - 1 of out's columns
    PIXEL_YC* edge;   // a block-aligned run converted for its pixels outside
    int block_top;
    // 8-bit pictures with chroma go through the row kernels with these.
    bool row_kernels;
    YuvRowMaps maps;
};

// Columns [x, x + columns) of row `row` to YC, x on a block edge.
void row_to_yc(const PictureRows* rows, int x, int frame_row, int columns, PIXEL_YC* yc)
{
    int row;
    const YuvPicture* picture = &part_of_row(rows->picture_parts, rows->part_count, frame_row, &row)->picture;
    if (is_packed(picture)) {
        rows->effects->kernels.packed_to_yc(yc, packed_row(picture, x, row), columns,
                                            picture->packing == YUV_YUYV, &rows->maps);
    } else if (rows->row_kernels) {
        const YuvPlanes planes = planes_at(picture, x, row);
        rows->effects->kernels.planar_to_yc(yc, planes.data[0], planes.data[1], planes.data[2], columns,
                                            picture->layout.chroma_shift_x, &rows->maps);
    } else if (picture->sample_shift == 0) {
        yuv_to_yc(picture->layout, planes_at(picture, x, row), columns, 1, yc, columns);
    } else {
        const YuvPlanes chunk = chunk_planes(picture, rows->effects->rows, columns);
        shifted_rows<true>(picture, x, row, 1, columns, chunk);
        yuv_to_yc(picture->layout, chunk, columns, 1, yc, columns);
    }
}

// The `count` rows of a part's block row, from `top` on, back from YC
// rows `pitch` apart.
void part_rows_from_yc(const PictureRows* rows, const YuvPicture* picture, const PIXEL_YC* yc, ptrdiff_t pitch,
                       int x, int top, int count, int columns)
{
    if (is_packed(picture)) {
        for (int r = 0; r < count; ++r)
            rows->effects->kernels.yc_to_packed(packed_row(picture, x, top + r), yc + r * pitch, columns,
                                                picture->packing == YUV_YUYV, &rows->maps);
    } else if (rows->row_kernels && count <= 2) {
        const YuvPlanes planes = planes_at(picture, x, top);
        rows->effects->kernels.yc_to_planar(planes.data[0], count > 1 ? planes.data[0] + planes.linesize[0] : nullptr,
                                            planes.data[1], planes.data[2], yc, pitch, count, columns,
                                            picture->layout.chroma_shift_x, &rows->maps);
    } else if (picture->sample_shift == 0) {
        yc_to_yuv(picture->layout, yc, static_cast<int>(pitch), columns, count, planes_at(picture, x, top));
    } else {
        const YuvPlanes chunk = chunk_planes(picture, rows->effects->rows, columns);
        yc_to_yuv(picture->layout, yc, static_cast<int>(pitch), columns, count, chunk);
        shifted_rows<false>(picture, x, top, count, columns, chunk);
    }
}

// The `count` rows of a block row, from `top` on, back from YC, each part's
// rows of it into that part.
void rows_from_yc(const PictureRows* rows, const PIXEL_YC* yc, int x, int top, int count, int columns)
{
    for (int i = 0; i < rows->part_count; ++i) {
        const PicturePart& part = rows->result_parts[i];
        if (top + count <= part.first)
            continue;
        // The part's rows [begin, end) lie in the block row.
        const int begin = (std::max(top, part.first) - part.first + part.step - 1) / part.step;
        const int end = std::min(part.picture.height, (top + count - 1 - part.first) / part.step + 1);
        if (begin >= end)
            continue;
        const int frame_row = part.first + begin * part.step;
        part_rows_from_yc(rows, &part.picture, yc + static_cast<ptrdiff_t>(frame_row - top) * columns,
                          static_cast<ptrdiff_t>(part.step) * columns, x, begin, end - begin, columns);
    }
}

void read_row(void* host, int row, int left, int right, PIXEL_YC* out)
{
    auto* rows = static_cast<PictureRows*>(host);
    const int x = left - left % rows->block_w;
    if (x == left) {
        row_to_yc(rows, x, row, right - left, out);
        return;
    }
    row_to_yc(rows, x, row, right - x, rows->edge);
    std::memcpy(out, rows->edge + (left - x), static_cast<size_t>(right - left) * sizeof(PIXEL_YC));
}

// Row `row` of out's columns from the picture.
void read_out_row(PictureRows* rows, int row, PIXEL_YC* yc)
{
    row_to_yc(rows, rows->out.left, row, rows->out.right - rows->out.left, yc);
}

void write_row(void* host, int row, const PIXEL_YC* pixels)
{
    auto* rows = static_cast<PictureRows*>(host);
    if (rows->result == nullptr)
        return;
    const FilterRect& rect = rows->rect;
    const FilterRect& out = rows->out;
    const int out_width = out.right - out.left;
    const int top = row - row % rows->block_h;
    auto block_row = [&](int r) { return rows->block + static_cast<size_t>(r - top) * out_width; };
    // A block that starts above the rectangle: its rows there as they are.
    if (top != rows->block_top) {
        rows->block_top = top;
        for (int r = top; r < row; ++r)
            read_out_row(rows, r, block_row(r));
    }
    const bool whole = out.left == rect.left && out.right == rect.right;
    if (rows->block_h == 1 && whole) {
        rows_from_yc(rows, pixels, out.left, row, 1, out_width);
        return;
    }
    PIXEL_YC* line = block_row(row);
    if (out.left < rect.left)
        read_row(host, row, out.left, rect.left, line);
    if (rect.right < out.right)
        read_row(host, row, rect.right, out.right, line + (rect.right - out.left));
    std::memcpy(line + (rect.left - out.left), pixels, static_cast<size_t>(rect.right - rect.left) * sizeof(PIXEL_YC));
    const int end = std::min(top + rows->block_h, rows->picture->height);
    if (row + 1 < end && row + 1 < rect.bottom)
        return;
    // The block's rows below the rectangle as they are, then the block back.
    for (int r = row + 1; r < end; ++r)
        read_out_row(rows, r, block_row(r));
    rows_from_yc(rows, rows->block, out.left, top, end - top, out_width);
}

// Everything of `source` outside `out` (on block edges) into `result`.
// Packed rows count in pixel pairs: a pair of an odd width's last pixel
// also holds the luma byte of a pixel that is not there, which no
// conversion writes.
void copy_outside(const YuvPicture* source, const YuvPicture* result, const FilterRect& out)
{
    const bool packed = is_packed(source);
    const int bytes = packed ? 4 : bytes_per_sample(source);
    const int planes = packed ? 1 : source->layout.has_chroma ? 3 : 1;
    for (int p = 0; p < planes; ++p) {
        const int sx = packed ? 1 : p > 0 ? source->layout.chroma_shift_x : 0;
        const int sy = p > 0 ? source->layout.chroma_shift_y : 0;
        const int columns = chroma_columns(source->width, sx);
        const int rows = chroma_columns(source->height, sy);
        const int left = out.left >> sx, right = std::min(columns, chroma_columns(out.right, sx));
        const int top = out.top >> sy, bottom = chroma_columns(out.bottom, sy);
        const bool lone_pixel = packed && (out.right & 1) != 0;
        for (int r = 0; r < rows; ++r) {
            const uint8_t* in = source->data[p] + static_cast<ptrdiff_t>(r) * source->linesize[p];
            uint8_t* to = result->data[p] + static_cast<ptrdiff_t>(r) * result->linesize[p];
            if (r < top || r >= bottom || left >= right) {
                std::memcpy(to, in, static_cast<size_t>(columns) * bytes);
                continue;
            }
            std::memcpy(to, in, static_cast<size_t>(left) * bytes);
            std::memcpy(to + static_cast<size_t>(right) * bytes, in + static_cast<size_t>(right) * bytes,
                        static_cast<size_t>(columns - right) * bytes);
            if (lone_pixel) {
                const int missing = 2 * out.right + luma_byte(source);
                to[missing] = in[missing];
            }
        }
    }
}

bool same_geometry(const YuvPicture* a, const YuvPicture* b)
{
    return a->width == b->width && a->height == b->height && a->packing == b->packing &&
           a->sample_shift == b->sample_shift && a->layout.depth == b->layout.depth &&
           a->layout.has_chroma == b->layout.has_chroma && a->layout.chroma_shift_x == b->layout.chroma_shift_x &&
           a->layout.chroma_shift_y == b->layout.chroma_shift_y && a->layout.full_range == b->layout.full_range &&
           fields_apart(a) == fields_apart(b);
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
        // A field's rows are two rows apart.
        if (fields_apart(picture) && picture->linesize[p] > std::numeric_limits<int>::max() / 2)
            return 0;
        // 2-byte samples lie on 2-byte boundaries.
        if (bytes == 2 && ((picture->linesize[p] & 1) != 0 || (reinterpret_cast<uintptr_t>(picture->data[p]) & 1) != 0))
            return 0;
    }
    return 1;
}

namespace {

// The chain over the picture as frame `number`, with the frame comb's
// signals as `comb` holds them (partner, same phase, composite).
int filter_picture(YuvEffects* effects, const EffectSettings* settings, const YuvPicture* picture,
                   const YuvPicture* result, int32_t number, const EffectFrame* comb)
{
    const int w = picture->width, h = picture->height;
    const FilterRect rect = effect_rect(settings, w, h, w);
    PictureRows rows = {};
    rows.effects = effects;
    rows.picture = picture;
    rows.result = result;
    rows.rect = rect;
    rows.part_count = progressive_parts(picture, rows.picture_parts);
    if (result != nullptr)
        progressive_parts(result, rows.result_parts);
    rows.out = widened_to_blocks(rect, picture);
    const bool copies = result != nullptr && result != picture;
    if (rect_is_empty(&rect)) {
        if (copies)
            copy_outside(picture, result, FilterRect{0, 0, 0, 0, w});
        return 1;
    }
    rows.block_w = block_width(picture);
    rows.block_h = block_height(picture);
    rows.block_top = -1;
    // A block of rows of out's columns and a run for the pixels outside.
    const size_t out_width = static_cast<size_t>(rows.out.right - rows.out.left);
    if (!grow(reinterpret_cast<void**>(&effects->pixels), &effects->capacity,
              (rows.block_h + 1) * out_width + rows.block_w, sizeof(PIXEL_YC)))
        return 0;
    if (picture->sample_shift > 0 &&
        !grow(reinterpret_cast<void**>(&effects->rows), &effects->rows_capacity, chunk_bytes(picture, w), 1))
        return 0;
    rows.row_kernels = picture->layout.depth == 8 && picture->layout.has_chroma;
    if (rows.row_kernels || is_packed(picture))
        rows.maps = yuv_row_maps(picture->layout);
    if (!effects->kernels_chosen) {
        select_yuv_kernels(&effects->kernels);
        effects->kernels_chosen = true;
    }
    rows.block = effects->pixels;
    rows.edge = effects->pixels + rows.block_h * out_width;

    const FrameRows frame_rows = {&rows, read_row, write_row};
    EffectFrame frame = {nullptr, nullptr, w, h, w, number};
    frame.partner = comb->partner;
    frame.same_phase = comb->same_phase;
    frame.composite = comb->composite;
    if (!apply_effects_by_rows(&effects->state, settings, &frame, &frame_rows))
        return 0;
    // The rest of the picture: no row of it was written.
    if (copies)
        copy_outside(picture, result, rows.out);
    return 1;
}

// An earlier frame the history lacks, chained from the host's picture of
// it, which must have the geometry of the frame being filtered.
struct EarlierChain {
    YuvEffects* effects;
    const YuvPicture* picture;
    const EarlierPictures* earlier;
};

int chain_earlier_picture(void* host, int32_t number, const EffectSettings* settings, PIXEL_YC* signal)
{
    const auto* chain = static_cast<const EarlierChain*>(host);
    YuvPicture earlier;
    if (!chain->earlier->picture(chain->earlier->host, number, &earlier))
        return 0;
    EffectFrame comb = {};
    comb.composite = signal;
    const int chained = yuv_picture_is_usable(&earlier) && same_geometry(&earlier, chain->picture) &&
                        filter_picture(chain->effects, settings, &earlier, nullptr, number, &comb);
    chain->earlier->release(chain->earlier->host, number);
    return chained;
}

}  // namespace

int apply_effects_to_yuv(YuvEffects* effects, const EffectSettings* settings, const YuvPicture* picture,
                         int32_t number, const EarlierPictures* earlier)
{
    return apply_effects_from_yuv(effects, settings, picture, picture, number, earlier);
}

int apply_effects_from_yuv(YuvEffects* effects, const EffectSettings* settings, const YuvPicture* picture,
                           const YuvPicture* result, int32_t number, const EarlierPictures* earlier)
{
    if (effects == nullptr || settings == nullptr || !yuv_picture_is_usable(picture))
        return 0;
    if (result != picture && (!yuv_picture_is_usable(result) || !same_geometry(picture, result)))
        return 0;
    EffectFrame comb = {nullptr, nullptr, picture->width, picture->height, picture->width, number};
    EarlierChain chain = {effects, picture, earlier};
    if (!take_comb_signals(&effects->state, settings, &comb, earlier != nullptr ? chain_earlier_picture : nullptr,
                           &chain) ||
        !filter_picture(effects, settings, picture, result, number, &comb))
        return 0;
    keep_comb_signal(&effects->state, &comb);
    return 1;
}

void yuv_picture_to_yc(const YuvPicture* picture, PIXEL_YC* yc, int pitch)
{
    PicturePart parts[3];
    const int count = progressive_parts(picture, parts);
    for (int i = 0; i < count; ++i) {
        const YuvPicture& part = parts[i].picture;
        yuv_to_yc(part.layout, planes_at(&part, 0, 0), part.width, part.height,
                  yc + static_cast<ptrdiff_t>(parts[i].first) * pitch, parts[i].step * pitch);
    }
}

void yc_to_yuv_picture(const PIXEL_YC* yc, int pitch, const YuvPicture* picture)
{
    PicturePart parts[3];
    const int count = progressive_parts(picture, parts);
    for (int i = 0; i < count; ++i) {
        const YuvPicture& part = parts[i].picture;
        yc_to_yuv(part.layout, yc + static_cast<ptrdiff_t>(parts[i].first) * pitch, parts[i].step * pitch, part.width,
                  part.height, planes_at(&part, 0, 0));
    }
}

void release_yuv_effects(YuvEffects* effects)
{
    if (effects == nullptr)
        return;
    release_effect_state(&effects->state);
    std::free(effects->pixels);
    std::free(effects->rows);
    effects->pixels = nullptr;
    effects->rows = nullptr;
    effects->capacity = effects->rows_capacity = 0;
}
