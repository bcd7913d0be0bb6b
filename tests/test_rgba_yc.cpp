// RGBA <-> YC: every packed variant equals the reference on random rows,
// every colour through every variant comes back exactly, the fixed points of
// the scale sit where the editor's YC scale puts them, and the way back
// clamps what the effects may leave.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/rgba_yc.h"
#include "tests/checkasm.h"

namespace {

template <typename Fn>
std::vector<const KernelVariant<Fn>*> runnable(const DispatchedKernel<Fn>& kernel)
{
    std::vector<const KernelVariant<Fn>*> found;
    for (size_t i = 0; i < kernel.variant_count; ++i) {
        if (cpu_can_run(kernel.variants[i].required_flags))
            found.push_back(&kernel.variants[i]);
    }
    return found;
}

// `count` RGBA pixels whose last byte is followed by a page that may not be
// touched.
struct GuardedRgba {
    explicit GuardedRgba(int count)
        : storage(static_cast<size_t>(count) * 4 / sizeof(PIXEL_YC) + 1),
          pixels(reinterpret_cast<RgbaPixel*>(reinterpret_cast<char*>(storage.data() +
                                                                      count * 4 / 6 + 1)) -
                 count)
    {
    }
    checkasm::GuardedFrame storage;
    RgbaPixel* pixels;
};

const int row_lengths[] = {1, 2, 7, 8, 9, 15, 16, 17, 23, 24, 31, 33, 47, 63, 65, 319, 320, 1920};
const RgbaPixel rgba_sentinel = {0xa5, 0x5a, 0xc3, 0x3c};

TEST(RgbaYc, PackedVariantsEqualTheReference)
{
    std::mt19937 random(checkasm::seed());
    for (int count : row_lengths) {
        GuardedRgba rgba(count);
        for (int i = 0; i < count; ++i) {
            const uint32_t bits = random();
            std::memcpy(&rgba.pixels[i], &bits, 4);
        }
        const std::vector<PIXEL_YC> dst(count, checkasm::sentinel);
        checkasm::check_variants(rgba_to_yc_row_kernel, dst, count,
                                 [&](RgbaToYcRowFn* fn, PIXEL_YC* out) { fn(out, rgba.pixels, count); });

        for (auto values : {checkasm::Values::nominal, checkasm::Values::full,
                            checkasm::Values::extremes}) {
            checkasm::GuardedFrame yc(count);
            checkasm::fill(random, yc.data(), count, values);
            // Alpha from another row, and from the destination itself.
            for (bool in_place : {false, true}) {
                auto run = [&](YcToRgbaRowFn* fn) {
                    std::vector<RgbaPixel> out(count + 2 * checkasm::margin, rgba_sentinel);
                    RgbaPixel* row = out.data() + checkasm::margin;
                    if (in_place)
                        std::memcpy(row, rgba.pixels, count * 4);
                    fn(row, yc.data(), in_place ? row : rgba.pixels, count);
                    return std::vector<uint8_t>(reinterpret_cast<uint8_t*>(out.data()),
                                                reinterpret_cast<uint8_t*>(out.data() + out.size()));
                };
                const std::vector<uint8_t> expected = run(yc_to_rgba_row_kernel.variants[0].fn);
                for (auto* variant : checkasm::packed_variants(yc_to_rgba_row_kernel))
                    EXPECT_EQ(run(variant->fn), expected)
                        << variant->name << ", " << count << " pixels, "
                        << checkasm::name(values) << (in_place ? ", in place" : "");
            }
        }
    }
}

TEST(RgbaYc, EveryColourComesBackExactlyWithItsAlpha)
{
    // One row per red value: 65,536 pixels of every green and blue.
    std::vector<RgbaPixel> source(65536), back(65536);
    std::vector<PIXEL_YC> yc(65536);
    for (auto* to_yc : runnable(rgba_to_yc_row_kernel)) {
        for (auto* to_rgba : runnable(yc_to_rgba_row_kernel)) {
            long long wrong = 0;
            for (int r = 0; r < 256; ++r) {
                for (int i = 0; i < 65536; ++i)
                    source[i] = {static_cast<uint8_t>(r), static_cast<uint8_t>(i >> 8),
                                 static_cast<uint8_t>(i), static_cast<uint8_t>(i * 7 + r)};
                to_yc->fn(yc.data(), source.data(), 65536);
                back.assign(65536, RgbaPixel{1, 2, 3, 4});
                to_rgba->fn(back.data(), yc.data(), source.data(), 65536);
                for (int i = 0; i < 65536; ++i) {
                    const RgbaPixel& s = source[i];
                    const RgbaPixel& b = back[i];
                    wrong += s.r != b.r || s.g != b.g || s.b != b.b || s.a != b.a;
                }
            }
            EXPECT_EQ(wrong, 0) << to_yc->name << " then " << to_rgba->name;
        }
    }
}

TEST(RgbaYc, ScalePointsAndClamping)
{
    struct Case {
        RgbaPixel rgba;
        PIXEL_YC yc;
    };
    const Case to_yc_cases[] = {
        {{0, 0, 0, 0}, {0, 0, 0}},           {{255, 255, 255, 0}, {4096, 0, 0}},
        {{128, 128, 128, 0}, {2056, 0, 0}},  {{0, 0, 255, 0}, {467, 2048, -333}},
        {{255, 0, 0, 0}, {1225, -691, 2048}}, {{255, 255, 0, 0}, {3629, -2048, 333}},
    };
    for (auto* kernel : runnable(rgba_to_yc_row_kernel)) {
        for (const Case& c : to_yc_cases) {
            PIXEL_YC yc;
            kernel->fn(&yc, &c.rgba, 1);
            EXPECT_EQ(yc.y, c.yc.y) << kernel->name;
            EXPECT_EQ(yc.cb, c.yc.cb) << kernel->name;
            EXPECT_EQ(yc.cr, c.yc.cr) << kernel->name;
        }
    }
    // Values no picture gives but the effects may leave: clamped, alpha kept.
    const Case to_rgba_cases[] = {
        {{255, 255, 255, 9}, {32767, 0, 0}},     {{0, 0, 0, 9}, {-32768, 0, 0}},
        {{255, 0, 128, 9}, {2048, 0, 32767}},    {{0, 255, 128, 9}, {2048, 0, -32768}},
        {{0, 255, 0, 9}, {0, -32768, -32768}},   {{255, 0, 255, 9}, {4096, 32767, 32767}},
        {{255, 255, 255, 9}, {4400, 0, 0}},      {{0, 0, 0, 9}, {-300, 0, 0}},
    };
    for (auto* kernel : runnable(yc_to_rgba_row_kernel)) {
        for (const Case& c : to_rgba_cases) {
            const RgbaPixel alpha = {0, 0, 0, 9};
            RgbaPixel rgba = {7, 7, 7, 7};
            kernel->fn(&rgba, &c.yc, &alpha, 1);
            EXPECT_EQ(rgba.r, c.rgba.r) << kernel->name << " y " << c.yc.y;
            EXPECT_EQ(rgba.g, c.rgba.g) << kernel->name << " y " << c.yc.y;
            EXPECT_EQ(rgba.b, c.rgba.b) << kernel->name << " y " << c.yc.y;
            EXPECT_EQ(rgba.a, 9) << kernel->name;
        }
    }
}

}  // namespace
