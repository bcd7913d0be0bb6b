// apply_effects walks "C/Y", the field shift and "LPF" down strips of the
// rectangle together; the stages one after another over the whole frame,
// all in their plain references, must give the same frame for every
// setting and with every set of variants.
#include <gtest/gtest.h>

#include <vector>

#include "engine/composite_chroma.h"
#include "engine/cpu.h"
#include "engine/field_shift.h"
#include "engine/frame_effects.h"
#include "engine/region.h"
#include "engine/shift_kernel.h"
#include "engine/vertical_lpf.h"
#include "tests/checkasm.h"

namespace {

// The chain as separate passes: encode in place, shift into the scratch
// frame, copy back, filter the whole picture into the scratch frame, copy
// back, drop the colour.
void unfused_effects(const EffectSettings& settings, const EffectFrame& frame)
{
    const FilterRect rect = effect_rect(&settings, frame.w, frame.h, frame.max_w);
    SubcarrierTables tables;
    if (settings.composite &&
        build_subcarrier_tables(&tables, settings.freq, settings.phase, frame.w, frame.max_w))
        encode_composite(frame.pixels, &rect, &tables, carrier_flags(&settings, frame.number));
    release_subcarrier_tables(&tables);

    const int field = moved_field(&settings, frame.number);
    if ((settings.shift & 15) != 0) {
        ShiftKernel kernel;
        build_shift_kernel(kernel.weights, settings.shift);
        shift_field_fraction(frame.scratch, frame.pixels, &rect, settings.shift, field,
                             kernel.weights);
    } else {
        shift_field_whole(frame.scratch, frame.pixels, &rect, settings.shift, field);
    }
    copy_rect(frame.pixels, frame.scratch, &rect);
    if (settings.lpf) {
        vertical_lpf_c(frame.scratch, frame.pixels, frame.h, frame.w, frame.max_w);
        copy_rect(frame.pixels, frame.scratch, &rect);
    }
    if (settings.mono && !settings.composite)
        strip_chroma(frame.pixels, &rect);
}

struct FullDispatchAfterwards {
    ~FullDispatchAfterwards() { cpu_set_mask(~0u); }
};

// The settings' rectangle: left, width, top, height.
struct TestRectangle {
    int left, width, top, height;
};

}  // namespace

TEST(CheckasmChain, FusedEqualsTheStagesOneAfterAnother)
{
    FullDispatchAfterwards restore;
    std::mt19937 random(checkasm::seed() + 10);
    const unsigned masks[] = {0, CPU_FLAG_SSE2, ~0u};
    const struct {
        int w, h, max_w;
    } sizes[] = {{611, 41, 617}, {9, 2, 9}, {5, 1, 6}};
    // The whole picture (several strips), odd edges, the first and last
    // rows, one and two rows, an empty rectangle.
    const TestRectangle rectangles[] = {{0, 10000, 0, 10000}, {3, 301, 0, 7}, {1, 260, 29, 100},
                                    {2, 5, 1, 1},        {0, 600, 5, 2}, {7, 0, 3, 9}};
    const int shifts[] = {0, 16, -32, 8, 23, -1, -8, -17, 255, -255, 256, -256, 600};
    int case_number = 0;
    for (const auto& size : sizes) {
        for (const TestRectangle& r : rectangles) {
            for (int shift : shifts) {
                for (int composite = 0; composite < 2; ++composite) {
                    for (int lpf = 0; lpf < 2; ++lpf) {
                        EffectSettings settings;
                        settings.left = r.left;
                        settings.width = r.width;
                        settings.top = r.top;
                        settings.height = r.height;
                        settings.shift = shift;
                        settings.composite = composite;
                        settings.lpf = lpf;
                        // The rest varies from case to case.
                        const int variety = case_number++;
                        settings.freq = 600 + 37 * (variety % 5);
                        settings.phase = variety % 7 * 50 - 150;
                        settings.top_field_first = variety & 1;
                        settings.paired_fields = variety >> 1 & 1;
                        settings.mono = variety >> 2 & 1;
                        const int32_t number = variety % 4;
                        SCOPED_TRACE(testing::Message()
                                     << size.w << "x" << size.h << ", rectangle " << r.left << " "
                                     << r.width << " " << r.top << " " << r.height << ", shift "
                                     << shift << ", C/Y " << composite << ", LPF " << lpf
                                     << ", case " << variety << ", seed " << checkasm::seed());

                        // Frames with sentinel margins, which must stay as they are.
                        const size_t pixels = static_cast<size_t>(size.h) * size.max_w;
                        const int margin = checkasm::margin;
                        std::vector<PIXEL_YC> input(pixels + 2 * margin, checkasm::sentinel);
                        std::vector<PIXEL_YC> scratch(pixels);
                        checkasm::fill(random, input.data() + margin, pixels,
                                       variety % 3 == 0 ? checkasm::Values::full
                                                        : checkasm::Values::nominal);
                        cpu_set_mask(0);
                        std::vector<PIXEL_YC> expected = input;
                        unfused_effects(settings, {expected.data() + margin, scratch.data(),
                                                   size.w, size.h, size.max_w, number});
                        for (unsigned mask : masks) {
                            cpu_set_mask(mask);
                            std::vector<PIXEL_YC> actual = input;
                            checkasm::fill(random, scratch.data(), pixels,
                                           checkasm::Values::full);
                            EffectState state;
                            const EffectFrame frame = {actual.data() + margin, scratch.data(),
                                                       size.w, size.h, size.max_w, number};
                            apply_effects(&state, &settings, &frame);
                            release_effect_state(&state);
                            EXPECT_TRUE(checkasm::same_buffers(expected, actual, size.max_w))
                                << "features " << mask;
                        }
                        if (HasFailure())
                            return;
                    }
                }
            }
        }
    }
}

// Strips of every width give the same frame and the same kept composite
// signal: decoded strips overlap by the decoder's reach, and the columns a
// strip writes never depend on where its neighbours end.
TEST(CheckasmChain, EveryStripWidthGivesTheSameFrame)
{
    std::mt19937 random(checkasm::seed() + 11);
    const int w = 611, h = 41, max_w = 617;
    const struct {
        int32_t standard, mode, bandwidth, shift, lpf, mono;
        TestRectangle rect;
    } cases[] = {
        {STANDARD_NTSC, DECODE_OFF, CHROMA_WIDE, 23, 1, 0, {0, 10000, 0, 10000}},
        {STANDARD_NTSC, DECODE_NOTCH, CHROMA_WIDE, 23, 1, 1, {0, 10000, 0, 10000}},
        {STANDARD_NTSC, DECODE_NOTCH, CHROMA_NARROW, 0, 1, 0, {0, 10000, 0, 10000}},
        {STANDARD_NTSC, DECODE_2LINE, CHROMA_WIDE, 0, 0, 0, {3, 590, 2, 30}},
        {STANDARD_NTSC, DECODE_3LINE, CHROMA_NARROW, -40, 1, 0, {1, 601, 5, 36}},
        {STANDARD_NTSC, DECODE_3D, CHROMA_WIDE, 8, 1, 1, {0, 10000, 0, 10000}},
        {STANDARD_PAL, DECODE_3LINE, CHROMA_WIDE, 23, 1, 0, {0, 10000, 1, 39}},
        {STANDARD_PAL, DECODE_NOTCH, CHROMA_NARROW, -17, 0, 1, {5, 200, 0, 10000}},
    };
    const size_t pixels = static_cast<size_t>(h) * max_w;
    std::vector<PIXEL_YC> input(pixels), scratch(pixels), partner(pixels);
    checkasm::fill(random, input.data(), pixels, checkasm::Values::nominal);
    checkasm::fill(random, partner.data(), pixels, checkasm::Values::nominal);
    // The first: one strip, whatever the cache.
    const int widths[] = {1 << 20, 64, 97, 300};
    for (const auto& c : cases) {
        EffectSettings settings;
        settings.left = c.rect.left;
        settings.width = c.rect.width;
        settings.top = c.rect.top;
        settings.height = c.rect.height;
        settings.standard = c.standard;
        settings.decode.mode = c.mode;
        settings.decode.bandwidth = c.bandwidth;
        settings.shift = c.shift;
        settings.lpf = c.lpf;
        settings.mono = c.mono;
        settings.composite = 1;
        std::vector<PIXEL_YC> expected, expected_composite;
        for (int columns : widths) {
            SCOPED_TRACE(testing::Message() << "standard " << c.standard << ", mode " << c.mode
                                            << ", shift " << c.shift << ", strips of " << columns);
            std::vector<PIXEL_YC> actual = input;
            std::vector<PIXEL_YC> composite(pixels, checkasm::sentinel);
            EffectState state;
            state.strip_columns = columns;
            EffectFrame frame = {actual.data(), scratch.data(), w, h, max_w, 7};
            frame.partner = partner.data();
            frame.composite = composite.data();
            apply_effects(&state, &settings, &frame);
            release_effect_state(&state);
            if (expected.empty()) {
                expected = actual;
                expected_composite = composite;
                continue;
            }
            EXPECT_TRUE(checkasm::same_buffers(expected, actual, max_w));
            EXPECT_TRUE(checkasm::same_buffers(expected_composite, composite, max_w));
        }
    }
}
