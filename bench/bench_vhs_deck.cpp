// The VHS deck alone over a whole composite frame, at its defaults, once
// per kernel variant (the reference: every kernel in plain C); compare with
// memcpy_frame/1920x1080. Then each of its row kernels alone, a frame's rows
// of calls (1080 rows of 1920 values), per variant: where the deck's time goes.
#include <benchmark/benchmark.h>

#include <random>

#include "bench/bench_frames.h"
#include "engine/vhs_deck.h"

namespace {

void vhs_deck_stage(benchmark::State& state, unsigned flags, FrameSize size)
{
    std::vector<PIXEL_YC> frame = noise_frame(size);
    const FilterRect rect = {0, size.h, 0, size.w, size.w};
    VhsSettings settings;
    settings.format = VHS_SP;
    VhsState deck;
    const PalSequence sequence = {704, 0, 1};
    VariantScope variant(flags);
    VhsKernels kernels;
    select_vhs_kernels(&kernels);
    int32_t number = 0;
    for (auto _ : state) {
        VhsWalk walk;
        if (!start_vhs_deck(&walk, &deck, &kernels, &settings, STANDARD_NTSC, 704, 0, 2, &sequence,
                            &rect, size.w, size.h, number++)) {
            state.SkipWithError("no memory");
            break;
        }
        for (int r = 0; r < size.h; ++r)
            play_vhs_row(&walk, frame.data() + static_cast<size_t>(r) * size.w, r);
        benchmark::ClobberMemory();
    }
    release_vhs_state(&deck);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size.w * size.h *
                            static_cast<int64_t>(sizeof(PIXEL_YC)));
}

// Rows of luma-like values with room for every kernel's reach and output.
struct KernelRows {
    static constexpr int margin = 64;
    std::vector<int16_t> a, b, c, d, cos_row, sin_row;
    std::vector<PIXEL_YC> pixels;
    explicit KernelRows(int w) : pixels(w)
    {
        std::mt19937 random(1);
        std::uniform_int_distribution<int> value(0, 4096), weight(-2048, 2048);
        for (auto* row : {&a, &b, &c, &d, &cos_row, &sin_row}) {
            row->resize(2 * w + 2 * margin);
            for (int16_t& v : *row)
                v = static_cast<int16_t>(row == &cos_row || row == &sin_row ? weight(random) : value(random));
        }
    }
};

template <typename Fn, typename Call>
void register_kernel(const char* name, const DispatchedKernel<Fn>& kernel, Call call)
{
    register_variants(
        name, kernel,
        [&kernel, call](benchmark::State& state, unsigned flags, FrameSize size) {
            Fn* fn = kernel.variants[0].fn;
            for (size_t i = 0; i < kernel.variant_count; ++i) {
                if (kernel.variants[i].required_flags == flags)
                    fn = kernel.variants[i].fn;
            }
            KernelRows rows(size.w);
            for (auto _ : state) {
                for (int r = 0; r < size.h; ++r)
                    call(fn, rows, size.w);
                benchmark::ClobberMemory();
            }
        },
        {frame_hd});
}

int16_t* at(std::vector<int16_t>& row) { return row.data() + KernelRows::margin; }

const bool registered = [] {
    register_variants("vhs_deck", vhs_fir_row_kernel, vhs_deck_stage);
    // The luma filter's reach at 1920 columns, its taps a Gaussian's shape.
    static int16_t luma_taps[25];
    for (int k = 0; k < 25; ++k)
        luma_taps[k] = static_cast<int16_t>(1300 - 8 * (k - 12) * (k - 12));
    register_kernel("vhs_kernel_fir_25_taps", vhs_fir_row_kernel, [](VhsFirRowFn* fn, KernelRows& r, int w) {
        fn(at(r.a), at(r.b), luma_taps, 12, w);
    });
    register_kernel("vhs_kernel_symmetric_fir_25_taps", vhs_symmetric_fir_row_kernel,
                    [](VhsSymmetricFirRowFn* fn, KernelRows& r, int w) { fn(at(r.a), at(r.b), luma_taps, 12, w); });
    register_kernel("vhs_kernel_noise", vhs_noise_row_kernel, [](VhsNoiseRowFn* fn, KernelRows& r, int w) {
        fn(at(r.a), at(r.c), at(r.d), 12345u, 0, w);
    });
    register_kernel("vhs_kernel_add_noise", vhs_add_noise_row_kernel, [](VhsAddNoiseRowFn* fn, KernelRows& r, int w) {
        fn(at(r.a), at(r.b), w, 200, 400);
    });
    register_kernel("vhs_kernel_shift", vhs_shift_row_kernel, [](VhsShiftRowFn* fn, KernelRows& r, int w) {
        fn(at(r.a), at(r.b), w, 77);
    });
    register_kernel("vhs_kernel_assemble", vhs_assemble_row_kernel, [](VhsAssembleRowFn* fn, KernelRows& r, int w) {
        static const int16_t matrix[4] = {16384, 0, 0, 16384};
        fn(at(r.a), at(r.b), at(r.c), at(r.d), at(r.cos_row), at(r.sin_row), matrix, w);
    });
    register_kernel("vhs_kernel_decimate", vhs_decimate_row_kernel, [](VhsDecimateRowFn* fn, KernelRows& r, int w) {
        fn(at(r.a), at(r.b), w / 2);
    });
    register_kernel("vhs_kernel_interpolate", vhs_interpolate_row_kernel,
                    [](VhsInterpolateRowFn* fn, KernelRows& r, int w) { fn(at(r.a), at(r.b), w / 2); });
    register_kernel("vhs_kernel_clip", vhs_clip_row_kernel, [](VhsClipRowFn* fn, KernelRows& r, int w) {
        benchmark::DoNotOptimize(fn(at(r.a), at(r.b), at(r.c), 16433, 8192, w));
    });
    register_kernel("vhs_kernel_store_luma", vhs_store_luma_row_kernel,
                    [](VhsStoreLumaRowFn* fn, KernelRows& r, int w) { fn(r.pixels.data(), at(r.a), w); });
    register_kernel("vhs_kernel_mix", vhs_mix_row_kernel, [](VhsMixRowFn* fn, KernelRows& r, int w) {
        fn(at(r.a), at(r.b), at(r.c), 3269, 13115, w);
    });
    return true;
}();

}  // namespace
