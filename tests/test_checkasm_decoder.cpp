// The decoder's row kernels and the whole stage: every packed variant
// against the reference, on random rows at every width up to a few packed
// steps and at picture widths, with inputs that end at an inaccessible page
// and outputs framed by sentinels; then decode_composite over random
// frames, rectangles and settings with and without the variants.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "engine/composite_chroma.h"
#include "engine/composite_decoder.h"
#include "engine/cpu.h"
#include "tests/checkasm.h"

using checkasm::Values;

namespace {

const Values all_values[] = {Values::nominal, Values::full, Values::extremes};

constexpr int16_t sentinel = -21846;
constexpr int margin = 37;  // sentinels on each side of an output row, odd

// `count` values that end `gap` values before an inaccessible page.
class GuardedRow {
public:
    GuardedRow(int count, int gap)
        : pixels_((count + gap + 2) / 3), frame_(pixels_), count_(count), gap_(gap)
    {
    }
    int16_t* data()
    {
        return reinterpret_cast<int16_t*>(frame_.data() + pixels_) - gap_ - count_;
    }

private:
    size_t pixels_;
    checkasm::GuardedFrame frame_;
    int count_, gap_;
};

int16_t random_value(std::mt19937& random, Values values, int nominal_low, int nominal_high)
{
    switch (values) {
    case Values::nominal:
        return static_cast<int16_t>(std::uniform_int_distribution<int>(nominal_low, nominal_high)(random));
    case Values::full:
        return static_cast<int16_t>(std::uniform_int_distribution<int>(-32768, 32767)(random));
    case Values::extremes:
        return std::bernoulli_distribution()(random) ? 32767 : -32768;
    }
    return 0;
}

// The composite signal's nominal range, or the carrier's chroma.
void fill(std::mt19937& random, int16_t* row, int count, Values values, int low = -2048,
          int high = 4096)
{
    for (int x = 0; x < count; ++x)
        row[x] = random_value(random, values, low, high);
}

::testing::AssertionResult same_rows(const std::vector<int16_t>& expected,
                                     const std::vector<int16_t>& actual)
{
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] != actual[i])
            return ::testing::AssertionFailure()
                   << "value " << static_cast<long long>(i) - margin << " of the output: expected "
                   << expected[i] << ", got " << actual[i];
    }
    return ::testing::AssertionSuccess();
}

// run(fn, out) with the reference and every packed variant, each into its
// own buffer of `size` sentinels (the outputs start at out + margin and
// must leave `margin` sentinels after them), compared whole.
template <typename Fn, typename Run>
void check_rows(const DispatchedKernel<Fn>& kernel, size_t size, Run run)
{
    std::vector<int16_t> expected(size, sentinel);
    run(kernel.variants[0].fn, expected.data() + margin);
    for (const KernelVariant<Fn>* variant : checkasm::packed_variants(kernel)) {
        std::vector<int16_t> actual(size, sentinel);
        run(variant->fn, actual.data() + margin);
        EXPECT_TRUE(same_rows(expected, actual)) << "variant " << variant->name;
    }
}

// run_case(width, gap, values) for every width and value set, inputs
// ending `gap` values before the guard page (0 and an odd gap, so that the
// same width also meets another alignment); stops at the first failure.
template <typename Case>
void for_each_row(const char* what, Case run_case)
{
    for (Values values : all_values) {
        for (int width : checkasm::row_widths()) {
            for (int gap : {0, 3}) {
                SCOPED_TRACE(std::string(what) + ": width " + std::to_string(width) + ", gap " +
                             std::to_string(gap) + ", " + checkasm::name(values) +
                             " values, seed " + std::to_string(checkasm::seed()));
                run_case(width, gap, values);
            }
        }
        if (::testing::Test::HasFailure())
            return;
    }
}

// Random taps whose magnitudes add up to at most `total` (65535 at most,
// the bound within which the reference's sums fit in 32 bits).
std::vector<int16_t> random_taps(std::mt19937& random, int reach, int total)
{
    std::vector<int> share(2 * reach + 1);
    int shares = 1;
    for (int& m : share)
        shares += m = std::uniform_int_distribution<int>(0, 1000)(random);
    std::vector<int16_t> taps;
    for (int m : share) {
        const int tap = std::min(static_cast<int>(static_cast<long long>(m) * total / shares), 32767);
        taps.push_back(static_cast<int16_t>(std::bernoulli_distribution()(random) ? -tap : tap));
    }
    return taps;
}

struct TapSet {
    std::string name;
    std::vector<int16_t> taps;  // 2 * reach + 1
};

std::vector<TapSet> tap_sets(std::mt19937& random)
{
    std::vector<TapSet> sets;
    for (int32_t standard : {STANDARD_NTSC, STANDARD_PAL}) {
        const std::string name = standard == STANDARD_PAL ? "PAL " : "NTSC ";
        for (int32_t freq : {600, 660, 704, 750}) {
            std::vector<int16_t> taps(2 * decoder_bandpass_reach + 1);
            compute_decoder_bandpass(taps.data(), freq, standard);
            sets.push_back({name + "bandpass " + std::to_string(freq), taps});
        }
        for (int32_t bandwidth : {CHROMA_WIDE, CHROMA_NARROW}) {
            int reach = 0;
            const int16_t* taps = decoder_lowpass_taps(bandwidth, &reach, standard);
            sets.push_back({name + "lowpass " + chroma_bandwidth_name(bandwidth),
                            std::vector<int16_t>(taps, taps + 2 * reach + 1)});
        }
    }
    for (int reach : {5, 7, 11}) {
        for (int total : {16384, 40000, 65535})
            sets.push_back({"random reach " + std::to_string(reach) + " total " +
                                std::to_string(total),
                            random_taps(random, reach, total)});
        // The extremes at the bound: two full taps at the ends, one negative.
        std::vector<int16_t> edges(2 * reach + 1, 0);
        edges.front() = -32768;
        edges.back() = 32767;
        sets.push_back({"edge taps reach " + std::to_string(reach), edges});
    }
    return sets;
}

struct FullDispatchAfterwards {
    ~FullDispatchAfterwards() { cpu_set_mask(~0u); }
};

template <typename... Fn>
size_t fewest_variants(const DispatchedKernel<Fn>&... kernels)
{
    return std::min({checkasm::packed_variants(kernels).size()...});
}

}  // namespace

TEST(CheckasmDecoder, VariantsBuiltForThisProcessor)
{
    // Every x86 kernel has its SSE2 variant at least, so that none of the
    // checks below can pass for want of a variant.
    const size_t fewest = fewest_variants(
        decoder_fir_row_kernel, demodulate_row_kernel, assemble_row_kernel, line_comb_row_kernel,
        frame_difference_row_kernel, frame_comb_row_kernel, extract_luma_row_kernel,
        assemble_delayed_row_kernel, bandpass_demodulate_row_kernel);
    std::printf("[ checkasm ] every decoder kernel checked with at least %zu packed variants\n",
                fewest);
#if NOREL_X86
    EXPECT_GE(fewest, 1u);
#endif
}

TEST(CheckasmDecoder, FirRow)
{
    std::mt19937 random(checkasm::seed() + 20);
    for (const TapSet& set : tap_sets(random)) {
        const int reach = static_cast<int>(set.taps.size() / 2);
        int magnitude = 0;
        for (int16_t tap : set.taps)
            magnitude += std::abs(tap);
        EXPECT_LE(magnitude, 65535) << set.name;
        SCOPED_TRACE(set.name);
        for_each_row("fir", [&](int width, int gap, Values values) {
            GuardedRow in(width + 2 * reach, gap);
            fill(random, in.data(), width + 2 * reach, values);
            check_rows(decoder_fir_row_kernel, width + 2 * margin,
                       [&](DecoderFirRowFn* fn, int16_t* out) {
                           fn(out, in.data() + reach, set.taps.data(), reach, width);
                       });
        });
        if (HasFailure())
            return;
    }
}

TEST(CheckasmDecoder, BandpassDemodulateRow)
{
    std::mt19937 random(checkasm::seed() + 30);
    const int reach = decoder_bandpass_reach;
    int case_number = 0;
    for_each_row("bandpass_demodulate", [&](int width, int gap, Values values) {
        const int variety = case_number++;
        std::vector<int16_t> taps(2 * reach + 1);
        compute_decoder_bandpass(taps.data(), 600 + variety * 29 % 151,
                                 variety % 2 == 0 ? STANDARD_NTSC : STANDARD_PAL);
        GuardedRow in(width + 2 * reach, gap), cos_weights(width, gap), sin_weights(width, gap);
        fill(random, in.data(), width + 2 * reach, values);
        fill(random, cos_weights.data(), width, values, -2048, 2048);
        fill(random, sin_weights.data(), width, values, -2519, 2519);
        for (int32_t sign : {1, -1}) {
            // chroma, u and v, each followed by sentinels of its own.
            check_rows(bandpass_demodulate_row_kernel, 3 * width + 4 * margin,
                       [&](BandpassDemodulateRowFn* fn, int16_t* out) {
                           fn(out, out + width + margin, out + 2 * (width + margin),
                              in.data() + reach, taps.data(), cos_weights.data(),
                              sin_weights.data(), width, sign);
                       });
        }
    });
}

TEST(CheckasmDecoder, DemodulateRow)
{
    std::mt19937 random(checkasm::seed() + 21);
    for_each_row("demodulate", [&](int width, int gap, Values values) {
        GuardedRow chroma(width, gap), cos_weights(width, gap), sin_weights(width, gap);
        fill(random, chroma.data(), width, values, -4096, 4096);
        // The carrier's entries, or any 16-bit value.
        fill(random, cos_weights.data(), width, values, -1788, 1788);
        fill(random, sin_weights.data(), width, values, -2519, 2519);
        for (int32_t sign : {1, -1}) {
            // u, then v after sentinels of their own.
            check_rows(demodulate_row_kernel, 2 * width + 3 * margin,
                       [&](DemodulateRowFn* fn, int16_t* out) {
                           fn(out, out + width + margin, chroma.data(), cos_weights.data(),
                              sin_weights.data(), width, sign);
                       });
        }
    });
}

TEST(CheckasmDecoder, AssembleRow)
{
    std::mt19937 random(checkasm::seed() + 22);
    std::vector<std::vector<int16_t>> matrices = {{32767, -32768, -32768, 32767}};
    for (int32_t saturation : {0, 100, 200}) {
        for (int32_t hue : {-180, -45, 0, 90}) {
            matrices.emplace_back(4);
            compute_decoder_matrix(matrices.back().data(), saturation, hue);
        }
    }
    int case_number = 0;
    for_each_row("assemble", [&](int width, int gap, Values values) {
        const std::vector<int16_t>& m = matrices[case_number++ % matrices.size()];
        SCOPED_TRACE(testing::Message() << "matrix " << m[0] << " " << m[1] << " " << m[2] << " "
                                        << m[3]);
        GuardedRow composite(width, gap), chroma(width, gap), u(width, gap), v(width, gap);
        fill(random, composite.data(), width, values);
        fill(random, chroma.data(), width, values, -2048, 2048);
        fill(random, u.data(), width, values, -2048, 2048);
        fill(random, v.data(), width, values, -2048, 2048);
        const std::vector<PIXEL_YC> initial(width, checkasm::sentinel);
        checkasm::check_variants(assemble_row_kernel, initial, width,
                                 [&](AssembleRowFn* fn, PIXEL_YC* out) {
                                     fn(out, composite.data(), chroma.data(), u.data(), v.data(),
                                        m.data(), width);
                                 });
    });
}

TEST(CheckasmDecoder, CombRows)
{
    std::mt19937 random(checkasm::seed() + 23);
    for_each_row("combs", [&](int width, int gap, Values values) {
        GuardedRow row(width, gap), above(width, gap), below(width, gap);
        fill(random, row.data(), width, values);
        fill(random, above.data(), width, values);
        fill(random, below.data(), width, values);
        for (const int16_t* partner : {below.data(), static_cast<int16_t*>(nullptr)})
            check_rows(line_comb_row_kernel, width + 2 * margin,
                       [&](LineCombRowFn* fn, int16_t* out) {
                           fn(out, row.data(), above.data(), partner, width);
                       });
        check_rows(frame_difference_row_kernel, width + 2 * margin,
                   [&](FrameDifferenceRowFn* fn, int16_t* out) {
                       fn(out, row.data(), below.data(), width);
                   });
    });
}

TEST(CheckasmDecoder, FrameCombRow)
{
    std::mt19937 random(checkasm::seed() + 24);
    for_each_row("frame_comb", [&](int width, int gap, Values values) {
        const int reach = frame_comb_motion_reach;
        GuardedRow difference(width, gap), motion(width + 2 * reach, gap);
        fill(random, difference.data(), width, values);
        // Nominal motions lie near nought, so that their neighbourhoods'
        // largest sweep the blend's whole ramp.
        for (int x = 0; x < width + 2 * reach; ++x) {
            motion.data()[x] = values == Values::nominal
                                   ? static_cast<int16_t>(std::uniform_int_distribution<int>(-40, 40)(random))
                                   : random_value(random, values, 0, 0);
        }
        std::vector<int16_t> chroma(width);
        fill(random, chroma.data(), width, values);
        // In place: each output buffer starts as the chroma row.
        check_rows(frame_comb_row_kernel, width + 2 * margin,
                   [&](FrameCombRowFn* fn, int16_t* out) {
                       std::copy(chroma.begin(), chroma.end(), out);
                       fn(out, difference.data(), motion.data() + reach, width);
                   });
    });
}

TEST(CheckasmDecoder, ExtractLumaRow)
{
    std::mt19937 random(checkasm::seed() + 25);
    for_each_row("extract_luma", [&](int width, int gap, Values values) {
        checkasm::GuardedFrame pixels(width + gap);
        checkasm::fill(random, pixels.data(), width + gap, values);
        check_rows(extract_luma_row_kernel, width + 2 * margin,
                   [&](ExtractLumaRowFn* fn, int16_t* out) { fn(out, pixels.data(), width); });
    });
}

TEST(CheckasmDecoder, AssembleDelayedRow)
{
    std::mt19937 random(checkasm::seed() + 29);
    std::vector<int16_t> matrix(4);
    compute_pal_decoder_matrix(matrix.data(), 150, 30);
    for_each_row("assemble_delayed", [&](int width, int gap, Values values) {
        GuardedRow composite(width, gap), chroma(width, gap), u(width, gap), v(width, gap);
        fill(random, composite.data(), width, values);
        fill(random, chroma.data(), width, values, -2048, 2048);
        fill(random, u.data(), width, values, -2048, 2048);
        fill(random, v.data(), width, values, -2048, 2048);
        // The output row, then the previous field line's row, framed together.
        std::vector<PIXEL_YC> rows(2 * static_cast<size_t>(width) + gap, checkasm::sentinel);
        checkasm::fill(random, rows.data() + width + gap, width, values);
        checkasm::check_variants(assemble_delayed_row_kernel, rows, width,
                                 [&](AssembleDelayedRowFn* fn, PIXEL_YC* out) {
                                     fn(out, out + width + gap, composite.data(), chroma.data(),
                                        u.data(), v.data(), matrix.data(), width);
                                 });
    });
}

TEST(CheckasmDecoder, WholeStageWithAndWithoutTheVariants)
{
    FullDispatchAfterwards restore;
    std::mt19937 random(checkasm::seed() + 26);
    const unsigned masks[] = {CPU_FLAG_SSE2, ~0u};
    const struct {
        int w, h, max_w;
    } sizes[] = {{611, 23, 617}, {1920, 6, 1920}, {9, 5, 9}};
    // Rectangles as top, bottom, left, right (cut to the picture): the whole
    // picture, odd edges, one to four rows, narrow columns.
    const struct {
        int top, bottom, left, right;
    } rectangles[] = {{0, 10000, 0, 10000}, {1, 18, 3, 304}, {2, 3, 5, 601}, {0, 2, 0, 17},
                      {3, 6, 1, 8},         {4, 8, 2, 3},    {1, 5, 7, 1920}};
    int case_number = 0;
    for (const auto& size : sizes) {
        for (const auto& r : rectangles) {
            const FilterRect rect = {std::min(r.top, size.h), std::min(r.bottom, size.h),
                                     std::min(r.left, size.w), std::min(r.right, size.w),
                                     size.max_w};
            if (rect_is_empty(&rect))
                continue;
            for (int32_t mode = DECODE_NOTCH; mode <= DECODE_3D; ++mode) {
                const int variety = case_number++;
                DecodeSettings settings;
                settings.mode = mode;
                settings.bandwidth = variety % 2 == 0 ? CHROMA_WIDE : CHROMA_NARROW;
                settings.saturation = variety * 37 % 201;
                settings.hue = variety * 53 % 361 - 180;
                const int32_t freq = 600 + variety * 29 % 151;
                const int32_t flags = variety % 4;
                const bool with_partner = mode == DECODE_3D && variety % 3 != 0;
                const Values values = variety % 3 == 0   ? Values::full
                                      : variety % 7 == 1 ? Values::extremes
                                                         : Values::nominal;
                SCOPED_TRACE(testing::Message()
                             << size.w << "x" << size.h << ", rectangle " << rect.top << " "
                             << rect.bottom << " " << rect.left << " " << rect.right << ", mode "
                             << decode_mode_name(mode) << (with_partner ? " with partner" : "")
                             << ", case " << variety << ", seed " << checkasm::seed());

                SubcarrierTables carrier;
                ASSERT_TRUE(build_subcarrier_tables(&carrier, freq, variety % 7 * 50 - 150, size.w,
                                                    size.max_w));
                const size_t pixels = static_cast<size_t>(size.h) * size.max_w;
                std::vector<PIXEL_YC> input(pixels + 2 * checkasm::margin, checkasm::sentinel);
                checkasm::fill(random, input.data() + checkasm::margin, pixels, values);
                std::vector<PIXEL_YC> partner(pixels);
                checkasm::fill(random, partner.data(), pixels, values);
                std::vector<PIXEL_YC> same_phase(pixels);
                checkasm::fill(random, same_phase.data(), pixels, values);
                // The partner is mostly the frame itself, and the frame of
                // the same phase near it, so that still and moving pixels
                // and the blend between them all occur.
                for (size_t i = 0; i < pixels; ++i) {
                    const short y = input[checkasm::margin + i].y;
                    if (values == Values::nominal && i % 5 != 0)
                        partner[i].y = static_cast<short>(y + static_cast<int>(i % 7) - 3);
                    if (values == Values::nominal && i % 3 != 0)
                        same_phase[i].y = static_cast<short>(y + static_cast<int>(i % 13) * 16 - 96);
                }
                auto decoded = [&](unsigned mask) {
                    cpu_set_mask(mask);
                    std::vector<PIXEL_YC> frame = input;
                    DecoderState state;
                    EXPECT_TRUE(decode_composite(&state, &settings, freq, &carrier, flags,
                                                 frame.data() + checkasm::margin,
                                                 with_partner ? partner.data() : nullptr,
                                                 same_phase.data(), &rect));
                    release_decoder_state(&state);
                    return frame;
                };
                const std::vector<PIXEL_YC> expected = decoded(0);
                for (unsigned mask : masks)
                    EXPECT_TRUE(checkasm::same_buffers(expected, decoded(mask), size.max_w))
                        << "features " << mask;
                release_subcarrier_tables(&carrier);
                if (HasFailure())
                    return;
            }
        }
    }
}

TEST(CheckasmDecoder, WholePalStageWithAndWithoutTheVariants)
{
    // PAL's own paths: combs four rows apart, its line matrices and the
    // delay line, on and off, over rectangles with odd edges and short ones.
    FullDispatchAfterwards restore;
    std::mt19937 random(checkasm::seed() + 28);
    const int w = 613, h = 21;
    const struct {
        int top, bottom, left, right;
    } rectangles[] = {{0, h, 0, w}, {1, 20, 3, 305}, {2, 5, 5, 600}, {3, 4, 1, 17}};
    int case_number = 0;
    for (const auto& r : rectangles) {
        const FilterRect rect = {r.top, r.bottom, r.left, r.right, w};
        for (int32_t mode = DECODE_NOTCH; mode <= DECODE_3D; ++mode) {
            for (int32_t delay_line : {0, 1}) {
                const int variety = case_number++;
                DecodeSettings settings;
                settings.mode = mode;
                settings.delay_line = delay_line;
                settings.bandwidth = variety % 2 == 0 ? CHROMA_WIDE : CHROMA_NARROW;
                settings.saturation = variety * 37 % 201;
                settings.hue = variety * 53 % 361 - 180;
                const PalSequence sequence = {600 + variety * 29 % 151, variety % 5, variety % 2};
                const Values values = all_values[variety % 3];
                SCOPED_TRACE(testing::Message()
                             << "rectangle " << rect.top << " " << rect.bottom << " " << rect.left
                             << " " << rect.right << ", mode " << decode_mode_name(mode)
                             << ", delay line " << delay_line << ", case " << variety << ", seed "
                             << checkasm::seed());
                SubcarrierTables carrier;
                ASSERT_TRUE(build_carrier_tables(&carrier, STANDARD_PAL, sequence.freq,
                                                 variety % 7 * 50 - 150, w, w));
                const size_t pixels = static_cast<size_t>(h) * w;
                std::vector<PIXEL_YC> input(pixels + 2 * checkasm::margin, checkasm::sentinel);
                checkasm::fill(random, input.data() + checkasm::margin, pixels, values);
                std::vector<PIXEL_YC> partner(input.begin() + checkasm::margin,
                                               input.end() - checkasm::margin);
                std::vector<PIXEL_YC> same_phase = partner;
                for (size_t i = 0; i < pixels; i += 4)
                    partner[i].y = static_cast<short>(partner[i].y + 40);
                for (size_t i = 0; i < pixels; i += 3)
                    same_phase[i].y = static_cast<short>(same_phase[i].y + static_cast<int>(i % 13) * 16 - 96);
                auto decoded = [&](unsigned mask) {
                    cpu_set_mask(mask);
                    std::vector<PIXEL_YC> frame = input;
                    DecoderState state;
                    EXPECT_TRUE(decode_pal_composite(&state, &settings, &carrier, &sequence,
                                                     frame.data() + checkasm::margin,
                                                     partner.data(), same_phase.data(), &rect));
                    release_decoder_state(&state);
                    return frame;
                };
                const std::vector<PIXEL_YC> expected = decoded(0);
                for (unsigned mask : {static_cast<unsigned>(CPU_FLAG_SSE2), ~0u})
                    EXPECT_TRUE(checkasm::same_buffers(expected, decoded(mask), w))
                        << "features " << mask;
                release_subcarrier_tables(&carrier);
                if (HasFailure())
                    return;
            }
        }
    }
}
