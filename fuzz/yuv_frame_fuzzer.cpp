// Drives the effects over YUV pictures in a host's memory (engine/yuv_frame)
// with every packing, depth and subsampling, progressive and interlaced, odd
// and tiny sizes, padded rows, any settings and any sample values. Each plane is a heap block of exactly
// its rows (the last without padding), so AddressSanitizer reports any access
// past it. Every input checks that
//  - nothing but the rectangle, widened to whole chroma blocks, is written,
//    and no row's padding;
//  - filtering it into another picture gives the same samples there;
//  - the result equals converting the whole picture with the reference
//    conversion, running the chain and converting all of it back, which is
//    what the command line does (packed pictures: their planar twin's
//    result, repacked).
//
// Input layout: packing, depth, subsampling, range, width (0..70), height
// (0..40), each plane's row padding, the settings, the frame number, then
// samples from the remaining bytes and, once those run out, from a generator
// seeded by the input.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "engine/yuv_frame.h"
#include "fuzz/byte_reader.h"

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "yuv_frame fuzz: %s\n", what);
    std::abort();
}

struct Plane {
    int rows = 0;
    int row_bytes = 0;
    int linesize = 0;
    std::unique_ptr<uint8_t[]> bytes;
    size_t size() const { return rows == 0 ? 0 : static_cast<size_t>(linesize) * (rows - 1) + row_bytes; }
};

struct Picture {
    YuvPicture picture = {};
    Plane planes[3];

    Picture(const YuvPicture& shape, const int* padding)
    {
        picture = shape;
        const int bytes = shape.layout.depth > 8 || shape.sample_shift > 0 ? 2 : 1;
        const bool packed = shape.packing != YUV_PLANAR;
        for (int p = 0; p < (packed ? 1 : 3); ++p) {
            const int sx = p > 0 ? shape.layout.chroma_shift_x : 0;
            const int sy = p > 0 ? shape.layout.chroma_shift_y : 0;
            Plane& plane = planes[p];
            plane.rows = (shape.height + (1 << sy) - 1) >> sy;
            plane.row_bytes = packed ? 4 * ((shape.width + 1) / 2) : ((shape.width + (1 << sx) - 1) >> sx) * bytes;
            plane.linesize = plane.row_bytes + padding[p] * bytes;
            plane.bytes.reset(new uint8_t[std::max<size_t>(1, plane.size())]);
            picture.data[p] = plane.bytes.get();
            picture.linesize[p] = plane.linesize;
        }
    }
};

// The samples of 16-bit planes kept within the depth (and its shift).
void fill(Picture& picture, ByteReader& input, std::mt19937& random)
{
    const YuvPicture& shape = picture.picture;
    const int bits = shape.layout.depth + shape.sample_shift;
    for (Plane& plane : picture.planes) {
        for (size_t i = 0; i < plane.size(); ++i)
            plane.bytes[i] = input.exhausted() ? static_cast<uint8_t>(random()) : input.byte();
        if (bits > 8 && bits < 16) {
            for (size_t i = 1; i < plane.size(); i += 2)
                plane.bytes[i] &= static_cast<uint8_t>((1 << (bits - 8)) - 1);
        }
    }
}

// The reference conversion of the whole picture, to YC or back: interlaced
// 4:2:0 a field at a time (its luma rows and its chroma rows every other
// one), but for the last two rows of a picture 4k + 2 high, which share a
// chroma row.
template <bool ToYc>
void reference_conversion(const YuvPicture& shape, PIXEL_YC* pixels)
{
    const int w = shape.width, h = shape.height;
    auto convert = [&](int first, int step, int rows, int chroma_first) {
        YuvPlanes planes = {};
        for (int p = 0; p < 3; ++p) {
            planes.data[p] = shape.data[p] + static_cast<ptrdiff_t>(p > 0 ? chroma_first : first) * shape.linesize[p];
            planes.linesize[p] = shape.linesize[p] * step;
        }
        PIXEL_YC* yc = pixels + static_cast<size_t>(first) * w;
        if (ToYc)
            yuv_to_yc_reference(shape.layout, planes, w, rows, yc, step * w);
        else
            yc_to_yuv_reference(shape.layout, yc, step * w, w, rows, planes);
    };
    if (!shape.interlaced || shape.layout.chroma_shift_y != 1) {
        convert(0, 1, h, 0);
        return;
    }
    const int tail = h % 4 == 2 ? 2 : 0, body = h - tail;
    for (int parity = 0; parity < 2 && parity < body; ++parity)
        convert(parity, 2, (body - parity + 1) / 2, parity);
    if (tail > 0)
        convert(body, 1, tail, body / 2);
}

// The reference: the whole picture converted, the chain, all of it back.
void whole_frame_reference(const EffectSettings& settings, Picture& picture, int32_t number)
{
    const YuvPicture& shape = picture.picture;
    const int w = shape.width, h = shape.height;
    std::vector<PIXEL_YC> pixels(static_cast<size_t>(w) * h), scratch(pixels.size());
    reference_conversion<true>(shape, pixels.data());
    EffectState state;
    const EffectFrame frame = {pixels.data(), scratch.data(), w, h, w, number};
    apply_effects(&state, &settings, &frame);
    release_effect_state(&state);
    reference_conversion<false>(shape, pixels.data());
}

// A packed picture's planar twin, and the twin's samples packed back.
void unpack(const Picture& packed, Picture& planar)
{
    const int yo = packed.picture.packing == YUV_UYVY ? 1 : 0, co = 1 - yo;
    const int w = packed.picture.width;
    for (int r = 0; r < packed.picture.height; ++r) {
        const uint8_t* in = packed.planes[0].bytes.get() + static_cast<size_t>(r) * packed.planes[0].linesize;
        uint8_t* row[3];
        for (int p = 0; p < 3; ++p)
            row[p] = planar.planes[p].bytes.get() + static_cast<size_t>(r) * planar.planes[p].linesize;
        for (int x = 0; x < w; ++x)
            row[0][x] = in[2 * x + yo];
        for (int x = 0; x < (w + 1) / 2; ++x) {
            row[1][x] = in[4 * x + co];
            row[2][x] = in[4 * x + co + 2];
        }
    }
}

void repack_into(const Picture& planar, Picture& packed)
{
    const int yo = packed.picture.packing == YUV_UYVY ? 1 : 0, co = 1 - yo;
    const int w = packed.picture.width;
    for (int r = 0; r < packed.picture.height; ++r) {
        uint8_t* out = packed.planes[0].bytes.get() + static_cast<size_t>(r) * packed.planes[0].linesize;
        const uint8_t* row[3];
        for (int p = 0; p < 3; ++p)
            row[p] = planar.planes[p].bytes.get() + static_cast<size_t>(r) * planar.planes[p].linesize;
        for (int x = 0; x < w; ++x)
            out[2 * x + yo] = row[0][x];
        for (int x = 0; x < (w + 1) / 2; ++x) {
            out[4 * x + co] = row[1][x];
            out[4 * x + co + 2] = row[2][x];
        }
    }
}

void copy_samples(const Picture& from, Picture& to)
{
    for (int p = 0; p < 3; ++p) {
        if (from.planes[p].size() > 0)
            std::memcpy(to.planes[p].bytes.get(), from.planes[p].bytes.get(), from.planes[p].size());
    }
}

// Compares sample bytes; padding must equal the input's.
void compare(const Picture& result, const Picture& expected, const Picture& input, const char* what)
{
    for (int p = 0; p < 3; ++p) {
        const Plane& plane = result.planes[p];
        for (size_t i = 0; i < plane.size(); ++i) {
            const bool padding = static_cast<int>(i % plane.linesize) >= plane.row_bytes;
            const uint8_t want = padding ? input.planes[p].bytes[i] : expected.planes[p].bytes[i];
            if (plane.bytes[i] != want) {
                std::fprintf(stderr, "plane %d byte %zu: %d, expected %d (%s)\n", p, i, plane.bytes[i], want,
                             padding ? "padding" : what);
                fail("the result differs");
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ByteReader input(data, size);
    YuvPicture shape = {};
    shape.packing = input.below(3);
    YuvLayout& layout = shape.layout;
    const int depth_choice = input.below(6);  // 8..12, or 16-bit samples kept with 12
    if (shape.packing == YUV_PLANAR) {
        layout.depth = depth_choice < 5 ? 8 + depth_choice : 12;
        shape.sample_shift = depth_choice == 5 ? 4 : 0;
        layout.chroma_shift_x = input.below(3);
        layout.chroma_shift_y = input.below(3);
    } else {
        layout.depth = 8;
        layout.chroma_shift_x = 1;
        layout.chroma_shift_y = 0;
        input.byte();
        input.byte();
    }
    layout.full_range = input.below(2) == 1;
    shape.width = input.below(71);
    shape.height = input.below(41);
    int padding[3];
    for (int& p : padding)
        p = input.below(4);

    EffectSettings settings;
    settings.left = input.interesting_int() & 127;
    settings.width = input.interesting_int();
    settings.top = input.interesting_int() & 63;
    settings.height = input.interesting_int();
    settings.shift = input.interesting_int();
    settings.freq = 600 + input.below(151);
    settings.phase = input.interesting_int() % 181;
    const uint8_t flags = input.byte();
    settings.top_field_first = flags & 1;
    settings.show_range = (flags >> 1) & 1 && (flags & 0x80);
    settings.mono = (flags >> 2) & 1;
    settings.composite = (flags >> 3) & 1;
    settings.lpf = (flags >> 4) & 1;
    shape.interlaced = (flags >> 5) & 1;
    settings.decode.mode = input.below(4);
    const int32_t number = input.interesting_int();

    Picture picture(shape, padding);
    std::mt19937 random(static_cast<unsigned>(size) * 2654435761u + (size > 0 ? data[size - 1] : 0));
    fill(picture, input, random);
    Picture original(shape, padding);
    copy_samples(picture, original);

    YuvEffects effects = {};
    const int usable = yuv_picture_is_usable(&picture.picture);
    const int done = apply_effects_to_yuv(&effects, &settings, &picture.picture, number);
    release_yuv_effects(&effects);
    if (done != usable)
        fail("a usable picture was not done, or an unusable one was");
    if (!usable) {
        compare(picture, original, original, "an unusable picture changed");
        return 0;
    }

    // From the original into another picture: the same samples, and not a
    // byte of that picture's padding written.
    Picture into(shape, padding), blank(shape, padding);
    for (int p = 0; p < 3; ++p) {
        if (into.planes[p].size() > 0) {
            std::memset(into.planes[p].bytes.get(), 0xA5, into.planes[p].size());
            std::memset(blank.planes[p].bytes.get(), 0xA5, blank.planes[p].size());
        }
    }
    YuvEffects other = {};
    const int moved = apply_effects_from_yuv(&other, &settings, &original.picture, &into.picture, number);
    release_yuv_effects(&other);
    if (!moved)
        fail("a usable picture was not filtered into another");
    compare(into, picture, blank, "into another picture");

    if (shape.packing == YUV_PLANAR && shape.sample_shift == 0) {
        Picture expected(shape, padding);
        copy_samples(original, expected);
        whole_frame_reference(settings, expected, number);
        compare(picture, expected, original, "against the whole-frame reference");
    } else if (shape.packing != YUV_PLANAR) {
        YuvPicture twin_shape = shape;
        twin_shape.packing = YUV_PLANAR;
        const int no_padding[3] = {0, 0, 0};
        Picture twin(twin_shape, no_padding);
        unpack(original, twin);
        whole_frame_reference(settings, twin, number);
        Picture expected(shape, padding);
        copy_samples(original, expected);
        repack_into(twin, expected);
        compare(picture, expected, original, "against the planar twin");
    } else {
        // 16-bit samples: outside the rectangle's blocks nothing changes.
        const FilterRect rect = effect_rect(&settings, shape.width, shape.height, shape.width);
        const bool fields = shape.interlaced && layout.chroma_shift_y == 1;
        const int bw = 1 << layout.chroma_shift_x, bh = fields ? 4 : 1 << layout.chroma_shift_y;
        for (int p = 0; p < 3; ++p) {
            const int sx = p > 0 ? layout.chroma_shift_x : 0, sy = p > 0 ? layout.chroma_shift_y : 0;
            for (int r = 0; r < picture.planes[p].rows; ++r) {
                for (int x = 0; x < picture.planes[p].row_bytes / 2; ++x) {
                    // The picture's pixels this sample covers.
                    const bool field_chroma = fields && p > 0;
                    const int x0 = x << sx, r0 = field_chroma ? r / 2 * 4 : r << sy;
                    const int r_span = field_chroma ? 4 : 1 << sy;
                    const bool near = !rect_is_empty(&rect) && x0 + (1 << sx) > rect.left / bw * bw &&
                                      x0 < rect.right + bw && r0 + r_span > rect.top / bh * bh &&
                                      r0 < rect.bottom + bh;
                    const size_t i = static_cast<size_t>(r) * picture.planes[p].linesize + 2 * x;
                    if (!near && std::memcmp(&picture.planes[p].bytes[i], &original.planes[p].bytes[i], 2) != 0)
                        fail("a 16-bit sample outside the rectangle changed");
                }
            }
        }
        compare(picture, picture, original, "padding");
    }
    return 0;
}
