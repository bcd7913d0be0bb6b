// vertical_lpf over whole frames, once per variant this processor can run.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_frames.h"
#include "engine/vertical_lpf.h"

static void run_vertical_lpf(benchmark::State& state, VerticalLpfFn* fn, FrameSize size)
{
    const std::vector<PIXEL_YC> src = noise_frame(size);
    std::vector<PIXEL_YC> dst(src.size());
    for (auto _ : state) {
        fn(dst.data(), src.data(), size.h, size.w, size.w);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(src.size() * sizeof(PIXEL_YC)));
}

static int register_vertical_lpf()
{
    for (const FrameSize& size : {frame_sd, frame_hd}) {
        for (size_t i = 0; i < vertical_lpf_kernel.variant_count; ++i) {
            const KernelVariant<VerticalLpfFn>& variant = vertical_lpf_kernel.variants[i];
            if (!cpu_can_run(variant.required_flags))
                continue;
            const std::string name = std::string("vertical_lpf/") + variant.name + "/" + size.name;
            benchmark::RegisterBenchmark(name.c_str(), run_vertical_lpf, variant.fn, size)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    return 0;
}
static const int vertical_lpf_registered = register_vertical_lpf();
