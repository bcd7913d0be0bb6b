// apply_effects walks "C/Y", the field shift and "LPF" down strips of the
// rectangle together; the stages one after another over the whole frame,
// all in their plain references, must give the same frame for every
// setting and with every set of variants.
#include <gtest/gtest.h>

#include <vector>

#include "effects/composite_chroma.h"
#include "effects/cpu.h"
#include "effects/field_shift.h"
#include "effects/frame_effects.h"
#include "effects/region.h"
#include "effects/shift_kernel.h"
#include "effects/vertical_lpf.h"
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
