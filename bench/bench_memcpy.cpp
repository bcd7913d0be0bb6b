// The memory-bandwidth yardstick: one 1920x1080 frame copied whole. A
// kernel that reads one frame and writes another cannot beat it by much.
#include <benchmark/benchmark.h>

#include <cstring>

#include "bench/bench_frames.h"

static void memcpy_frame(benchmark::State& state)
{
    const std::vector<PIXEL_YC> src = noise_frame(frame_hd);
    std::vector<PIXEL_YC> dst(src.size());
    const size_t bytes = src.size() * sizeof(PIXEL_YC);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}
BENCHMARK(memcpy_frame)->Name("memcpy_frame/1920x1080")->Unit(benchmark::kMicrosecond);
