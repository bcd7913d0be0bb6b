// The VHS deck's row kernels: every packed variant against its reference,
// on random rows of every width up to a few vectors and of whole picture
// rows, each output framed by sentinels that no variant may touch.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/vhs_deck.h"
#include "tests/checkasm.h"

namespace {

constexpr int margin = 80;  // beyond the longest reach
constexpr int16_t sentinel = -21846;

std::vector<int16_t> random_row(std::mt19937& random, int width, int limit)
{
    std::uniform_int_distribution<int> value(-limit, limit);
    std::vector<int16_t> row(width + 2 * margin);
    for (int16_t& v : row)
        v = static_cast<int16_t>(value(random));
    return row;
}

// Runs `run(fn, outputs)` with the reference and every packed variant, each
// on fresh copies of `initial` (the outputs' contents before the call), and
// demands the same outputs.
template <typename Fn, typename Run>
void check(const DispatchedKernel<Fn>& kernel, const std::vector<std::vector<int16_t>>& initial, Run run)
{
    auto result = [&](Fn* fn) {
        std::vector<std::vector<int16_t>> outputs = initial;
        run(fn, outputs);
        return outputs;
    };
    const auto expected = result(kernel.variants[0].fn);
    for (const KernelVariant<Fn>* variant : checkasm::packed_variants(kernel)) {
        const auto actual = result(variant->fn);
        for (size_t i = 0; i < expected.size(); ++i) {
            const auto differs = std::mismatch(expected[i].begin(), expected[i].end(), actual[i].begin());
            EXPECT_TRUE(differs.first == expected[i].end())
                << "variant " << variant->name << ", output " << i << ", value "
                << differs.first - expected[i].begin() - margin << ": expected " << *differs.first
                << ", got " << *differs.second;
        }
    }
}

TEST(CheckasmVhs, EveryVariantMatchesItsReference)
{
    std::mt19937 random(checkasm::seed());
    const std::vector<int16_t> blank(margin * 2 + 1920, sentinel);
    for (int width : checkasm::row_widths()) {
        SCOPED_TRACE("width " + std::to_string(width) + ", seed " + std::to_string(checkasm::seed()));
        const std::vector<int16_t> out(width + 2 * margin, sentinel);
        for (int limit : {4096, 32767}) {
            const std::vector<int16_t> in = random_row(random, width, limit);
            const std::vector<int16_t> in2 = random_row(random, width, limit);
            const std::vector<int16_t> in3 = random_row(random, width, limit);
            for (int reach : {1, 4, 9, 24, 60}) {
                // Taps whose magnitudes add up to at most 65535, as the deck's do.
                std::vector<int16_t> taps(2 * reach + 1);
                std::uniform_int_distribution<int> tap(-65535 / (2 * reach + 1), 65535 / (2 * reach + 1));
                for (int16_t& t : taps)
                    t = static_cast<int16_t>(tap(random));
                check(vhs_fir_row_kernel, {out}, [&](VhsFirRowFn* fn, auto& o) {
                    fn(o[0].data() + margin, in.data() + margin, taps.data(), reach, width);
                });
                for (int k = 1; k <= reach; ++k)
                    taps[reach - k] = taps[reach + k];
                check(vhs_symmetric_fir_row_kernel, {out}, [&](VhsSymmetricFirRowFn* fn, auto& o) {
                    fn(o[0].data() + margin, in.data() + margin, taps.data(), reach, width);
                });
            }
            const uint32_t key = random();
            const auto first = static_cast<int32_t>(random());
            check(vhs_noise_row_kernel, {out, out, out}, [&](VhsNoiseRowFn* fn, auto& o) {
                fn(o[0].data() + margin, o[1].data() + margin, o[2].data() + margin, key, first, width);
            });
            for (auto [gain, rise] : {std::pair{65, 130}, {10922, 21844}, {32767, 0}}) {
                check(vhs_add_noise_row_kernel, {in2}, [&](VhsAddNoiseRowFn* fn, auto& o) {
                    fn(o[0].data() + margin, in.data() + margin, width, gain, rise);
                });
            }
            for (int fraction : {0, 1, 128, 255}) {
                check(vhs_shift_row_kernel, {out}, [&](VhsShiftRowFn* fn, auto& o) {
                    fn(o[0].data() + margin, in.data() + margin, width, fraction);
                });
            }
            const int half = (width + 1) / 2;
            check(vhs_decimate_row_kernel, {out}, [&](VhsDecimateRowFn* fn, auto& o) {
                fn(o[0].data() + margin, in.data() + margin, half);
            });
            check(vhs_interpolate_row_kernel, {out}, [&](VhsInterpolateRowFn* fn, auto& o) {
                fn(o[0].data() + margin, in.data() + margin, half);
            });
            for (auto [boost, clip] : {std::pair{16433, 8192}, {16433, 0}, {-4096, 32767}, {28671, -2000}}) {
                // The least value taken comes back in a row of its own.
                check(vhs_clip_row_kernel, {out, {0}}, [&](VhsClipRowFn* fn, auto& o) {
                    o[1][0] = static_cast<int16_t>(
                        fn(o[0].data() + margin, in.data() + margin, in2.data() + margin, boost, clip, width));
                });
            }
            for (auto [a, b] : {std::pair{3269, 13115}, {-32768, 32767}, {16384, 0}}) {
                check(vhs_mix_row_kernel, {in2}, [&](VhsMixRowFn* fn, auto& o) {
                    fn(o[0].data() + margin, in.data() + margin, in3.data() + margin, a, b, width);
                });
            }
            // Pixels' components as 16-bit values, three a pixel.
            check(vhs_store_luma_row_kernel, {random_row(random, 3 * width, limit)},
                  [&](VhsStoreLumaRowFn* fn, auto& o) {
                      fn(reinterpret_cast<PIXEL_YC*>(o[0].data() + margin), in.data() + margin, width);
                  });
            const std::vector<int16_t> cos_row = random_row(random, width, limit == 4096 ? 2048 : 32767);
            const std::vector<int16_t> sin_row = random_row(random, width, limit == 4096 ? 2048 : 32767);
            std::uniform_int_distribution<int> entry(-32768, 32767);
            const int16_t matrix[4] = {static_cast<int16_t>(entry(random)), static_cast<int16_t>(entry(random)),
                                       static_cast<int16_t>(entry(random)), static_cast<int16_t>(entry(random))};
            // Into a row of its own, and in place over y.
            check(vhs_assemble_row_kernel, {out, in}, [&](VhsAssembleRowFn* fn, auto& o) {
                fn(o[0].data() + margin, in.data() + margin, in2.data() + margin, in3.data() + margin,
                   cos_row.data() + margin, sin_row.data() + margin, matrix, width);
                fn(o[1].data() + margin, o[1].data() + margin, in2.data() + margin, in3.data() + margin,
                   cos_row.data() + margin, sin_row.data() + margin, matrix, width);
            });
        }
    }
}

}  // namespace
