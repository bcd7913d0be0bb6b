// Every packed variant of every dispatched kernel against its reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "engine/cpu.h"
#include "engine/vertical_lpf.h"
#include "tests/checkasm.h"

using checkasm::Values;

namespace {

const Values all_values[] = {Values::nominal, Values::full, Values::extremes};

// One frame of w x h pixels, rows max_w apart, through every variant.
void check_vertical_lpf(std::mt19937& random, int w, int h, int max_w, Values values)
{
    SCOPED_TRACE(testing::Message() << "w " << w << ", h " << h << ", max_w " << max_w << ", "
                                    << checkasm::name(values) << " values, seed "
                                    << checkasm::seed());
    const size_t pixels = static_cast<size_t>(h) * max_w;
    checkasm::GuardedFrame src(pixels);
    checkasm::fill(random, src.data(), pixels, values);
    const std::vector<PIXEL_YC> dst(pixels, checkasm::sentinel);
    checkasm::check_variants(vertical_lpf_kernel, dst, max_w, [&](VerticalLpfFn* fn, PIXEL_YC* out) {
        fn(out, src.data(), h, w, max_w);
    });
}

// Restores full dispatch however a test ends.
struct FullDispatchAfterwards {
    ~FullDispatchAfterwards() { cpu_set_mask(~0u); }
};

}  // namespace

TEST(CpuDispatch, DetectsSse2WhereverThePackedVariantsAreBuilt)
{
    // Without this a broken detection would leave every check below with
    // no variant to run, and passing.
#if NOREL_X86
    EXPECT_NE(cpu_detected_flags() & CPU_FLAG_SSE2, 0u);
#endif
    std::string names;
    for (const auto* variant : checkasm::packed_variants(vertical_lpf_kernel))
        names += std::string(" ") + variant->name;
    std::printf("[ checkasm ] vertical_lpf variants checked:%s\n", names.empty() ? " none" : names.c_str());
}

TEST(CpuDispatch, MaskRestrictsTheChoice)
{
    FullDispatchAfterwards restore;
    VerticalLpfFn* best = best_variant(vertical_lpf_kernel);
    cpu_set_mask(0);
    EXPECT_EQ(best_variant(vertical_lpf_kernel), &vertical_lpf_c);
    for (const auto* variant : checkasm::packed_variants(vertical_lpf_kernel)) {
        cpu_set_mask(~0u);
        cpu_set_mask(variant->required_flags);
        EXPECT_EQ(best_variant(vertical_lpf_kernel), variant->fn) << variant->name;
    }
    cpu_set_mask(~0u);
    EXPECT_EQ(best_variant(vertical_lpf_kernel), best);
    const auto variants = checkasm::packed_variants(vertical_lpf_kernel);
    EXPECT_EQ(best, variants.empty() ? &vertical_lpf_c : variants.back()->fn);
}

TEST(Checkasm, VerticalLpfNarrowFrames)
{
    std::mt19937 random(checkasm::seed());
    for (Values values : all_values) {
        for (int w = 1; w <= 48; ++w) {
            for (int pad : {0, 3}) {
                for (int h = 0; h <= 12; ++h)
                    check_vertical_lpf(random, w, h, w + pad, values);
                // Taller frames: groups of rows in the middle, with every
                // number of single rows left over below them.
                for (int h : {16, 17, 18, 19, 40})
                    check_vertical_lpf(random, w, h, w + pad, values);
                if (HasFailure())
                    return;
            }
        }
    }
}

TEST(Checkasm, VerticalLpfWideFrames)
{
    std::mt19937 random(checkasm::seed() + 1);
    for (Values values : all_values) {
        for (int w : {720, 1920, 4096}) {
            for (int pad : {0, 37}) {
                for (int h : {0, 1, 2, 3, 4, 6, 7, 11, 12, 13, 16, 19, 61})
                    check_vertical_lpf(random, w, h, w + pad, values);
                if (HasFailure())
                    return;
            }
        }
    }
}

namespace {

// The window's rows and columns of the whole-picture reference, sentinels
// everywhere else, against every row-group variant over the window alone.
void check_vertical_lpf_window(const PIXEL_YC* src, const std::vector<PIXEL_YC>& whole, int h,
                               int max_w, const FilterRect& window)
{
    SCOPED_TRACE(testing::Message() << "rows " << window.top << " .. " << window.bottom
                                    << ", columns " << window.left << " .. " << window.right);
    std::vector<PIXEL_YC> expected(whole.size() + 2 * checkasm::margin, checkasm::sentinel);
    for (int r = std::max(window.top, 1); r < std::min(window.bottom, h - 1); ++r) {
        for (int x = window.left; x < window.right; ++x)
            expected[checkasm::margin + r * max_w + x] = whole[r * max_w + x];
    }
    for (size_t i = 0; i < vertical_lpf_rows_kernel.variant_count; ++i) {
        const auto& variant = vertical_lpf_rows_kernel.variants[i];
        if (!cpu_can_run(variant.required_flags))
            continue;
        std::vector<PIXEL_YC> actual(expected.size(), checkasm::sentinel);
        vertical_lpf_window_rows(actual.data() + checkasm::margin, src, h, &window, variant.fn);
        EXPECT_TRUE(checkasm::same_buffers(expected, actual, max_w)) << "variant " << variant.name;
    }
}

}  // namespace

TEST(Checkasm, VerticalLpfWindowEqualsTheWholePicture)
{
    std::mt19937 random(checkasm::seed() + 2);
    for (Values values : all_values) {
        for (int w : {1, 6, 37, 83, 1920}) {
            for (int h : {1, 2, 3, 4, 7, 12, 23}) {
                SCOPED_TRACE(testing::Message() << "w " << w << ", h " << h << ", "
                                                << checkasm::name(values) << " values, seed "
                                                << checkasm::seed());
                const int max_w = w + 5;
                const size_t pixels = static_cast<size_t>(h) * max_w;
                checkasm::GuardedFrame src(pixels);
                checkasm::fill(random, src.data(), pixels, values);
                std::vector<PIXEL_YC> whole(pixels, checkasm::sentinel);
                vertical_lpf_c(whole.data(), src.data(), h, w, max_w);
                // Edges on rows 0, 1, h - 2 and h - 1 and in between; odd
                // columns; one-pixel and empty windows.
                const int rows[] = {0, 1, 2, h / 2, h - 2, h - 1, h};
                const int columns[][2] = {{0, w}, {1, w}, {w / 3, w - 1}, {w - 1, w},
                                          {w / 2, w / 2}, {3 % w, std::min(w, 40)}};
                for (int top : rows) {
                    for (int bottom : rows) {
                        if (top < 0 || top > bottom)
                            continue;
                        for (const auto& edge : columns)
                            check_vertical_lpf_window(src.data(), whole, h, max_w,
                                                      {top, bottom, edge[0], edge[1], max_w});
                    }
                }
                if (HasFailure())
                    return;
            }
        }
    }
}
