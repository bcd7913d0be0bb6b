// Drives the conversion between YUV pictures and PIXEL_YC frames
// (engine/yuv_yc) with every pixel format it works in, odd and tiny
// sizes, padded rows and any sample values. Each plane is a heap block of
// exactly the bytes a packed picture holds (the last row without padding),
// so AddressSanitizer reports any access past a plane. Every input checks
// that
//  - in-range codes come back unchanged from PIXEL_YC, subsampled chroma
//    included, since a block the filter leaves alone must not change;
//  - nothing beyond a row's samples is written, in the PIXEL_YC frame (up
//    to its pitch) or in the planes (up to their line size);
//  - any PIXEL_YC values, the filter's extremes included, give codes
//    within the format's depth.
//
// Input layout: a format (an index into the usable formats), the colour
// range, width (0..66), height (0..66), the PIXEL_YC pitch's extra pixels
// (0..3), each plane's row padding, whether codes may exceed the depth (as
// in a damaged raw file), then samples from the remaining bytes and, once
// those run out, from a generator seeded by the input.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "hosts/cli/av.h"
#include "fuzz/byte_reader.h"

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "pixel_convert fuzz: %s\n", what);
    std::abort();
}

// The formats the conversion reads and writes directly.
const std::vector<AVPixelFormat>& usable_formats()
{
    static const std::vector<AVPixelFormat> formats = [] {
        std::vector<AVPixelFormat> list;
        for (const AVPixFmtDescriptor* d = av_pix_fmt_desc_next(nullptr); d != nullptr;
             d = av_pix_fmt_desc_next(d)) {
            const AVPixelFormat format = av_pix_fmt_desc_get_id(d);
            if (yuv_layout_of(format))
                list.push_back(format);
        }
        return list;
    }();
    return formats;
}

const uint8_t canary = 0xA7;

// memcpy, which must not be handed the null data() of an empty vector.
void copy_bytes(void* to, const void* from, size_t count)
{
    if (count > 0)
        std::memcpy(to, from, count);
}

// One plane: `rows` rows of `row_bytes` sample bytes, `linesize` apart, in
// a block that ends with the last row's last sample.
struct Plane {
    int rows = 0;
    int row_bytes = 0;
    int linesize = 0;
    std::vector<uint8_t> bytes;  // the contents, padding included

    size_t size() const { return rows == 0 ? 0 : static_cast<size_t>(linesize) * (rows - 1) + row_bytes; }
};

struct Picture {
    YuvLayout layout;
    int width = 0, height = 0;
    std::vector<Plane> planes;
};

// Heap copies of the planes, for the length of one conversion.
struct ExactPlanes {
    std::vector<uint8_t*> blocks;

    explicit ExactPlanes(const Picture& picture)
    {
        for (const Plane& plane : picture.planes) {
            uint8_t* block = static_cast<uint8_t*>(std::malloc(plane.size() > 0 ? plane.size() : 1));
            if (block == nullptr)
                std::abort();
            copy_bytes(block, plane.bytes.data(), plane.size());
            blocks.push_back(block);
        }
    }
    ~ExactPlanes()
    {
        for (uint8_t* block : blocks)
            std::free(block);
    }
    ExactPlanes(const ExactPlanes&) = delete;
    ExactPlanes& operator=(const ExactPlanes&) = delete;

    YuvPlanes planes(const Picture& picture) const
    {
        YuvPlanes out{};
        for (size_t i = 0; i < blocks.size(); ++i) {
            out.data[i] = blocks[i];
            out.linesize[i] = picture.planes[i].linesize;
        }
        return out;
    }

    void read_back(Picture& picture) const
    {
        for (size_t i = 0; i < blocks.size(); ++i)
            copy_bytes(picture.planes[i].bytes.data(), blocks[i], picture.planes[i].size());
    }
};

int sample(const Plane& plane, int bytes, int row, int x)
{
    const uint8_t* at = plane.bytes.data() + static_cast<size_t>(row) * plane.linesize + x * bytes;
    if (bytes == 1)
        return *at;
    uint16_t value;
    std::memcpy(&value, at, 2);
    return value;
}

// Checks the samples of `after` against `before` (when given) and against
// the depth, and that the padding still holds the canary.
void check_planes(const Picture& after, const Picture* before)
{
    const int bytes = after.layout.depth > 8 ? 2 : 1;
    const int max_code = (1 << after.layout.depth) - 1;
    for (size_t p = 0; p < after.planes.size(); ++p) {
        const Plane& plane = after.planes[p];
        for (int r = 0; r < plane.rows; ++r) {
            for (int x = 0; x < plane.row_bytes / bytes; ++x) {
                const int code = sample(plane, bytes, r, x);
                if (code > max_code)
                    fail("a code written back exceeds the format's depth");
                if (before != nullptr && code != sample(before->planes[p], bytes, r, x))
                    fail("an in-range code did not survive the way to PIXEL_YC and back");
            }
            if (r + 1 < plane.rows) {
                for (int b = plane.row_bytes; b < plane.linesize; ++b)
                    if (plane.bytes[static_cast<size_t>(r) * plane.linesize + b] != canary)
                        fail("a plane's row padding was written");
            }
        }
    }
}

class SampleSource {
public:
    SampleSource(ByteReader& reader, uint64_t seed) : reader_(reader), state_(seed | 1) {}

    uint16_t next()
    {
        if (!reader_.exhausted())
            return reader_.u16();
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<uint16_t>(state_ >> 40);
    }

private:
    ByteReader& reader_;
    uint64_t state_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<AVPixelFormat>& formats = usable_formats();
    ByteReader in(data, size);
    Picture picture;
    picture.layout = *yuv_layout_of(formats[in.u16() % formats.size()]);
    picture.layout.full_range = picture.layout.full_range || (in.byte() & 1);
    picture.width = in.below(67);
    picture.height = in.below(67);
    const int pitch = picture.width + in.below(4);
    const int bytes = picture.layout.depth > 8 ? 2 : 1;
    const int plane_count = picture.layout.has_chroma ? 3 : 1;
    for (int p = 0; p < plane_count; ++p) {
        const int shift_x = p > 0 ? picture.layout.chroma_shift_x : 0;
        const int shift_y = p > 0 ? picture.layout.chroma_shift_y : 0;
        Plane plane;
        plane.rows = -((-picture.height) >> shift_y);
        plane.row_bytes = -((-picture.width) >> shift_x) * bytes;
        plane.linesize = plane.row_bytes + in.below(33) * bytes;
        plane.bytes.assign(plane.size(), canary);
        picture.planes.push_back(plane);
    }
    const bool out_of_range_codes = in.byte() >= 0xE0;

    SampleSource samples(in, 0x2545F4914F6CDD1Dull ^ size);
    const uint16_t code_mask = out_of_range_codes ? 0xFFFF : (1 << picture.layout.depth) - 1;
    for (Plane& plane : picture.planes)
        for (int r = 0; r < plane.rows; ++r)
            for (int x = 0; x < plane.row_bytes / bytes; ++x) {
                const uint16_t code = samples.next() & code_mask;
                uint8_t* at = plane.bytes.data() + static_cast<size_t>(r) * plane.linesize + x * bytes;
                if (bytes == 1)
                    *at = static_cast<uint8_t>(code);
                else
                    std::memcpy(at, &code, 2);
            }

    // To PIXEL_YC: every pixel of every row, nothing past the width.
    const size_t yc_pixels = static_cast<size_t>(pitch) * picture.height;
    std::vector<PIXEL_YC> yc(yc_pixels, PIXEL_YC{-12345, -12345, -12345});
    PIXEL_YC* yc_block = static_cast<PIXEL_YC*>(std::malloc(yc_pixels > 0 ? yc_pixels * sizeof(PIXEL_YC) : 1));
    if (yc_block == nullptr)
        std::abort();
    copy_bytes(yc_block, yc.data(), yc_pixels * sizeof(PIXEL_YC));
    {
        const ExactPlanes source(picture);
        yuv_to_yc(picture.layout, source.planes(picture), picture.width, picture.height, yc_block, pitch);
    }
    copy_bytes(yc.data(), yc_block, yc_pixels * sizeof(PIXEL_YC));
    std::free(yc_block);
    for (int r = 0; r < picture.height; ++r)
        for (int x = picture.width; x < pitch; ++x)
            if (yc[static_cast<size_t>(r) * pitch + x].y != -12345)
                fail("a PIXEL_YC pixel past the width was written");

    // And back: the same codes where they were in range.
    Picture back = picture;
    for (Plane& plane : back.planes)
        plane.bytes.assign(plane.size(), canary);
    {
        const ExactPlanes target(back);
        yc_to_yuv(picture.layout, yc.data(), pitch, picture.width, picture.height, target.planes(back));
        target.read_back(back);
    }
    check_planes(back, out_of_range_codes ? nullptr : &picture);

    // Any PIXEL_YC values, as the filter may leave them, stay within the depth.
    for (PIXEL_YC& p : yc)
        p = {static_cast<short>(samples.next()), static_cast<short>(samples.next()),
             static_cast<short>(samples.next())};
    for (Plane& plane : back.planes)
        plane.bytes.assign(plane.size(), canary);
    {
        const ExactPlanes target(back);
        yc_to_yuv(picture.layout, yc.data(), pitch, picture.width, picture.height, target.planes(back));
        target.read_back(back);
    }
    check_planes(back, nullptr);
    return 0;
}
