#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "engine/yuv_yc.h"

namespace {

YuvLayout layout(int depth, int shift_x, int shift_y, bool full_range = false, bool chroma = true)
{
    YuvLayout l;
    l.depth = depth;
    l.chroma_shift_x = shift_x;
    l.chroma_shift_y = shift_y;
    l.full_range = full_range;
    l.has_chroma = chroma;
    return l;
}

// Planes of random samples, rows padded beyond the picture's width.
struct RandomPicture {
    YuvLayout layout;
    int width, height;
    std::vector<std::vector<uint8_t>> storage;
    YuvPlanes planes{};

    RandomPicture(const YuvLayout& l, int w, int h, unsigned seed) : layout(l), width(w), height(h)
    {
        const int bytes = l.depth > 8 ? 2 : 1;
        std::mt19937 random(seed);
        for (int p = 0; p < (l.has_chroma ? 3 : 1); ++p) {
            const int shift_x = p > 0 ? l.chroma_shift_x : 0;
            const int shift_y = p > 0 ? l.chroma_shift_y : 0;
            const int plane_w = (w + (1 << shift_x) - 1) >> shift_x;
            const int plane_h = (h + (1 << shift_y) - 1) >> shift_y;
            planes.linesize[p] = (plane_w + 5) * bytes;
            storage.emplace_back(static_cast<size_t>(planes.linesize[p]) * plane_h, 0xEE);
            planes.data[p] = storage.back().data();
            for (int r = 0; r < plane_h; ++r) {
                for (int x = 0; x < plane_w; ++x) {
                    const int code = static_cast<int>(random() % (1u << l.depth));
                    uint8_t* at = planes.data[p] + r * planes.linesize[p] + x * bytes;
                    if (bytes == 2)
                        *reinterpret_cast<uint16_t*>(at) = static_cast<uint16_t>(code);
                    else
                        *at = static_cast<uint8_t>(code);
                }
            }
        }
    }
};

}  // namespace

TEST(PixelConvert, StudioRangeMapsOntoTheHostsScale)
{
    const YuvLayout eight = layout(8, 1, 1);
    EXPECT_EQ(code_to_yc(16, luma_scale(eight)), 0);
    EXPECT_EQ(code_to_yc(235, luma_scale(eight)), 4096);
    EXPECT_EQ(code_to_yc(128, chroma_scale(eight)), 0);
    EXPECT_EQ(code_to_yc(16, chroma_scale(eight)), -2048);
    EXPECT_EQ(code_to_yc(240, chroma_scale(eight)), 2048);
    // Below black and above white stay outside 0..4096: the host allows it.
    EXPECT_EQ(code_to_yc(0, luma_scale(eight)), -299);
    EXPECT_EQ(code_to_yc(255, luma_scale(eight)), 4470);

    const YuvLayout ten = layout(10, 1, 0);
    EXPECT_EQ(code_to_yc(64, luma_scale(ten)), 0);
    EXPECT_EQ(code_to_yc(940, luma_scale(ten)), 4096);
    EXPECT_EQ(code_to_yc(512, chroma_scale(ten)), 0);
    EXPECT_EQ(code_to_yc(64, chroma_scale(ten)), -2048);
    EXPECT_EQ(code_to_yc(960, chroma_scale(ten)), 2048);
}

TEST(PixelConvert, FullRangeMapsOntoTheHostsScale)
{
    const YuvLayout full = layout(8, 0, 0, true);
    EXPECT_EQ(code_to_yc(0, luma_scale(full)), 0);
    EXPECT_EQ(code_to_yc(255, luma_scale(full)), 4096);
    EXPECT_EQ(code_to_yc(128, chroma_scale(full)), 0);
    EXPECT_EQ(code_to_yc(255, chroma_scale(full)), 2040);  // 127 / 255 of 4096
    EXPECT_EQ(code_to_yc(0, chroma_scale(full)), -2056);
}

TEST(PixelConvert, EveryCodeComesBackUnchanged)
{
    for (int depth = 8; depth <= 12; ++depth) {
        for (bool full : {false, true}) {
            const YuvLayout l = layout(depth, 1, 1, full);
            for (const SampleScale& scale : {luma_scale(l), chroma_scale(l)}) {
                for (int code = 0; code <= scale.max_code; ++code)
                    ASSERT_EQ(yc_to_code(code_to_yc(code, scale), scale), code)
                        << depth << " bits, full " << full << ", offset " << scale.offset;
            }
        }
    }
}

TEST(PixelConvert, HostValuesGoToTheNearestCode)
{
    for (int depth : {8, 10}) {
        const YuvLayout l = layout(depth, 1, 1);
        for (const SampleScale& scale : {luma_scale(l), chroma_scale(l)}) {
            for (int value = -2100; value <= 4200; ++value) {
                const int code = yc_to_code(value, scale);
                const int distance = std::abs(code_to_yc(code, scale) - value);
                if (code > 0) {
                    ASSERT_LE(distance, std::abs(code_to_yc(code - 1, scale) - value) + 1) << value;
                }
                if (code < scale.max_code) {
                    ASSERT_LE(distance, std::abs(code_to_yc(code + 1, scale) - value) + 1) << value;
                }
            }
        }
    }
}

TEST(PixelConvert, ValuesBeyondTheCodesAreClamped)
{
    const YuvLayout eight = layout(8, 1, 1);
    EXPECT_EQ(yc_to_code(5000, luma_scale(eight)), 255);
    EXPECT_EQ(yc_to_code(-3000, luma_scale(eight)), 0);
    EXPECT_EQ(yc_to_code(32767, chroma_scale(eight)), 255);
    EXPECT_EQ(yc_to_code(-32768, chroma_scale(eight)), 0);
    // A damaged 10-bit file can hold samples up to 65535.
    const YuvLayout ten = layout(10, 1, 1);
    EXPECT_EQ(code_to_yc(65535, luma_scale(ten)), code_to_yc(1023, luma_scale(ten)));
    const YuvLayout twelve = layout(12, 0, 0, true);
    EXPECT_EQ(yc_to_code(32767, luma_scale(twelve)), 4095);
    EXPECT_EQ(yc_to_code(-32768, chroma_scale(twelve)), 0);
}

TEST(PixelConvert, PicturesOfEveryLayoutComeBackUnchanged)
{
    const YuvLayout layouts[] = {
        layout(8, 1, 1), layout(8, 1, 0), layout(8, 0, 0), layout(8, 2, 0), layout(8, 2, 2),
        layout(8, 0, 1), layout(8, 0, 0, false, false), layout(10, 1, 1), layout(10, 1, 0, true),
        layout(12, 0, 0), layout(10, 0, 0, false, false)};
    for (const YuvLayout& l : layouts) {
        for (auto [w, h] : {std::pair{13, 7}, std::pair{16, 8}, std::pair{1, 1}}) {
            RandomPicture source(l, w, h, static_cast<unsigned>(w * 100 + l.depth));
            std::vector<PIXEL_YC> yc(static_cast<size_t>(w + 3) * h);
            yuv_to_yc(l, source.planes, w, h, yc.data(), w + 3);
            RandomPicture back(l, w, h, 999);
            yc_to_yuv(l, yc.data(), w + 3, w, h, back.planes);
            for (size_t p = 0; p < source.storage.size(); ++p) {
                const int bytes = l.depth > 8 ? 2 : 1;
                const int shift_x = p > 0 ? l.chroma_shift_x : 0;
                const int plane_w = (w + (1 << shift_x) - 1) >> shift_x;
                const int rows = static_cast<int>(source.storage[p].size()) / source.planes.linesize[p];
                for (int r = 0; r < rows; ++r) {
                    const uint8_t* a = source.planes.data[p] + r * source.planes.linesize[p];
                    const uint8_t* b = back.planes.data[p] + r * back.planes.linesize[p];
                    ASSERT_TRUE(std::equal(a, a + plane_w * bytes, b))
                        << "depth " << l.depth << " shifts " << l.chroma_shift_x << l.chroma_shift_y
                        << " size " << w << "x" << h << " plane " << p << " row " << r;
                }
            }
        }
    }
}

TEST(PixelConvert, ChromaIsReplicatedUpAndAveragedDown)
{
    const YuvLayout l = layout(8, 1, 1);
    const SampleScale chroma = chroma_scale(l);
    // A 3 x 2 picture: one whole 2 x 2 block and a half block at the edge.
    uint8_t luma[6] = {16, 50, 100, 150, 200, 235};
    uint8_t cb[2] = {100, 200};
    uint8_t cr[2] = {30, 220};
    YuvPlanes planes{{luma, cb, cr}, {3, 2, 2}};
    std::vector<PIXEL_YC> yc(6);
    yuv_to_yc(l, planes, 3, 2, yc.data(), 3);
    for (int i : {0, 1, 3, 4}) {
        EXPECT_EQ(yc[i].cb, code_to_yc(100, chroma));
        EXPECT_EQ(yc[i].cr, code_to_yc(30, chroma));
    }
    EXPECT_EQ(yc[2].cb, code_to_yc(200, chroma));
    EXPECT_EQ(yc[5].cr, code_to_yc(220, chroma));

    // The block's four values average to 250.25, the edge's two to -101.5.
    yc[0].cb = 100, yc[1].cb = 200, yc[3].cb = 300, yc[4].cb = 401;
    yc[2].cr = -100, yc[5].cr = -103;
    yc_to_yuv(l, yc.data(), 3, 3, 2, planes);
    EXPECT_EQ(cb[0], yc_to_code(250, chroma));
    EXPECT_EQ(cr[1], yc_to_code(-101, chroma));
    EXPECT_EQ(cb[1], 200);
    EXPECT_EQ(cr[0], 30);
}

TEST(PixelConvert, GreyPicturesHaveNoChroma)
{
    const YuvLayout grey = layout(8, 0, 0, false, false);
    uint8_t luma[2] = {16, 235};
    YuvPlanes planes{{luma, nullptr, nullptr}, {2, 0, 0}};
    std::vector<PIXEL_YC> yc(2, PIXEL_YC{1, 77, 77});
    yuv_to_yc(grey, planes, 2, 1, yc.data(), 2);
    EXPECT_EQ(yc[0].y, 0);
    EXPECT_EQ(yc[1].y, 4096);
    EXPECT_EQ(yc[0].cb, 0);
    EXPECT_EQ(yc[1].cr, 0);
    yc[0].cb = 1000;  // a colour the filter folded in cannot reach a grey picture
    yc_to_yuv(grey, yc.data(), 2, 2, 1, planes);
    EXPECT_EQ(luma[0], 16);
    EXPECT_EQ(luma[1], 235);
}

namespace {

// PIXEL_YC values anywhere in the 16-bit range, and mostly near the
// nominal ones, where rounding and block means decide the codes.
std::vector<PIXEL_YC> random_yc(size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> any(-32768, 32767), nominal(-2200, 4300);
    std::vector<PIXEL_YC> yc(count);
    for (PIXEL_YC& p : yc) {
        auto value = [&] { return static_cast<short>(random() % 8 == 0 ? any(random) : nominal(random)); };
        p = {value(), value(), value()};
    }
    return yc;
}

}  // namespace

TEST(PixelConvert, FastConversionMatchesTheReferenceOnEveryLayout)
{
    for (int depth = 8; depth <= 12; ++depth) {
        for (int shift_x = 0; shift_x <= 2; ++shift_x) {
            for (int shift_y = 0; shift_y <= 2; ++shift_y) {
                for (bool full : {false, true}) {
                    for (bool chroma : {true, false}) {
                        if (!chroma && (shift_x != 0 || shift_y != 0))
                            continue;
                        const YuvLayout l = layout(depth, shift_x, shift_y, full, chroma);
                        for (auto [w, h] : {std::pair{37, 11}, std::pair{64, 8}, std::pair{17, 2}, std::pair{1, 3}, std::pair{7, 1}, std::pair{49, 4}}) {
                            const unsigned seed = static_cast<unsigned>(depth * 1000 + shift_x * 100 + shift_y * 10 + w);
                            SCOPED_TRACE(testing::Message() << "depth " << depth << " shifts " << shift_x << shift_y
                                                            << " full " << full << " chroma " << chroma << " size "
                                                            << w << "x" << h);
                            // Samples beyond the depth too, as a damaged file holds them.
                            RandomPicture source(l, w, h, seed);
                            if (depth > 8) {
                                uint16_t* first = reinterpret_cast<uint16_t*>(source.planes.data[0]);
                                first[0] = 65535;
                                first[w - 1] = static_cast<uint16_t>(1 << depth);
                            }
                            const int pitch = w + 2;
                            std::vector<PIXEL_YC> fast(static_cast<size_t>(pitch) * h, PIXEL_YC{7, 7, 7});
                            std::vector<PIXEL_YC> reference = fast;
                            yuv_to_yc(l, source.planes, w, h, fast.data(), pitch);
                            yuv_to_yc_reference(l, source.planes, w, h, reference.data(), pitch);
                            for (size_t i = 0; i < fast.size(); ++i) {
                                ASSERT_EQ(fast[i].y, reference[i].y) << "pixel " << i;
                                ASSERT_EQ(fast[i].cb, reference[i].cb) << "pixel " << i;
                                ASSERT_EQ(fast[i].cr, reference[i].cr) << "pixel " << i;
                            }

                            const std::vector<PIXEL_YC> yc = random_yc(fast.size(), seed);
                            RandomPicture fast_back(l, w, h, 1), reference_back(l, w, h, 1);
                            yc_to_yuv(l, yc.data(), pitch, w, h, fast_back.planes);
                            yc_to_yuv_reference(l, yc.data(), pitch, w, h, reference_back.planes);
                            for (size_t p = 0; p < fast_back.storage.size(); ++p)
                                ASSERT_EQ(fast_back.storage[p], reference_back.storage[p]) << "plane " << p;
                        }
                    }
                }
            }
        }
    }
}

// Packed 4:2:2 rows against their planar twin through the references.
TEST(PixelConvert, PackedRowsMatchTheirPlanarTwin)
{
    for (bool full : {false, true}) {
        const YuvLayout l = layout(8, 1, 0, full);
        const YuvRowMaps maps = yuv_row_maps(l);
        for (int luma_first : {0, 1}) {
            for (int w : {1, 2, 15, 16, 17, 33, 64, 71}) {
                SCOPED_TRACE(testing::Message() << "full " << full << " luma first "
                                                << luma_first << " width " << w);
                const RandomPicture twin(l, w, 1, static_cast<unsigned>(w * 7 + luma_first));
                const int pairs = (w + 1) / 2;
                std::vector<uint8_t> packed(4 * pairs + 3, 0xEE);
                const int luma = luma_first ? 0 : 1, chroma = 1 - luma;
                for (int x = 0; x < w; ++x)
                    packed[2 * x + luma] = twin.planes.data[0][x];
                for (int j = 0; j < pairs; ++j) {
                    packed[4 * j + chroma] = twin.planes.data[1][j];
                    packed[4 * j + chroma + 2] = twin.planes.data[2][j];
                }
                std::vector<PIXEL_YC> row(w + 1, PIXEL_YC{7, 7, 7}), expected = row;
                packed_to_yc_row_c(row.data(), packed.data(), w, luma_first, &maps);
                yuv_to_yc_reference(l, twin.planes, w, 1, expected.data(), w);
                for (int x = 0; x <= w; ++x) {
                    ASSERT_EQ(row[x].y, expected[x].y) << x;
                    ASSERT_EQ(row[x].cb, expected[x].cb) << x;
                    ASSERT_EQ(row[x].cr, expected[x].cr) << x;
                }

                const std::vector<PIXEL_YC> yc = random_yc(w, static_cast<unsigned>(w));
                RandomPicture back(l, w, 1, 1);
                yc_to_yuv_reference(l, yc.data(), w, w, 1, back.planes);
                std::vector<uint8_t> out = packed;
                yc_to_packed_row_c(out.data(), yc.data(), w, luma_first, &maps);
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(out[2 * x + luma], back.planes.data[0][x]) << "luma " << x;
                for (int j = 0; j < pairs; ++j) {
                    ASSERT_EQ(out[4 * j + chroma], back.planes.data[1][j]) << "cb " << j;
                    ASSERT_EQ(out[4 * j + chroma + 2], back.planes.data[2][j]) << "cr " << j;
                }
                // Nothing past the row: the odd width's last luma slot and beyond.
                for (int i = 2 * w; i < static_cast<int>(out.size()); ++i) {
                    const bool last_chroma = i < 4 * pairs && (i % 4 == chroma || i % 4 == chroma + 2);
                    if (!last_chroma) {
                        ASSERT_EQ(out[i], packed[i]) << "byte " << i;
                    }
                }
            }
        }
    }
}
