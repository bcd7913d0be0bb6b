// The frei0r plug-in's cost at 1080p: the RGBA <-> YC conversion per
// variant and as a round trip, and f0r_update with the defaults and with the
// whole-picture chain, beside a memcpy of one RGBA frame.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <frei0r.h>
}

#include "bench/bench_frames.h"
#include "engine/rgba_yc.h"

namespace {

std::vector<RgbaPixel> noise_rgba(const FrameSize& size)
{
    std::mt19937 random(20240601);
    std::vector<RgbaPixel> frame(static_cast<size_t>(size.w) * size.h);
    for (RgbaPixel& p : frame) {
        const uint32_t bits = random();
        std::memcpy(&p, &bits, sizeof p);
    }
    return frame;
}

void report_rgba_frames(benchmark::State& state, const FrameSize& size)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size.w * size.h * 4);
}

void memcpy_rgba_frame(benchmark::State& state)
{
    const std::vector<RgbaPixel> src = noise_rgba(frame_hd);
    std::vector<RgbaPixel> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size() * sizeof(RgbaPixel));
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    report_rgba_frames(state, frame_hd);
}

void to_yc_stage(benchmark::State& state, unsigned flags, FrameSize size)
{
    const std::vector<RgbaPixel> src = noise_rgba(size);
    std::vector<PIXEL_YC> dst(src.size());
    VariantScope variant(flags);
    for (auto _ : state) {
        rgba_to_yc(dst.data(), size.w, src.data(), size.w * 4, size.w, size.h);
        benchmark::ClobberMemory();
    }
    report_rgba_frames(state, size);
}

void to_rgba_stage(benchmark::State& state, unsigned flags, FrameSize size)
{
    const std::vector<PIXEL_YC> src = noise_frame(size);
    std::vector<RgbaPixel> dst(src.size());
    VariantScope variant(flags);
    for (auto _ : state) {
        yc_to_rgba(dst.data(), size.w * 4, src.data(), size.w, dst.data(), size.w * 4, size.w,
                   size.h);
        benchmark::ClobberMemory();
    }
    report_rgba_frames(state, size);
}

// RGBA in, YC, RGBA out: what the plug-in adds to the effects.
void round_trip(benchmark::State& state)
{
    const std::vector<RgbaPixel> src = noise_rgba(frame_hd);
    std::vector<RgbaPixel> dst(src.size());
    std::vector<PIXEL_YC> yc(src.size());
    const int w = frame_hd.w, h = frame_hd.h;
    for (auto _ : state) {
        rgba_to_yc(yc.data(), w, src.data(), w * 4, w, h);
        yc_to_rgba(dst.data(), w * 4, yc.data(), w, src.data(), w * 4, w, h);
        benchmark::ClobberMemory();
    }
    report_rgba_frames(state, frame_hd);
}

// f0r_update as a host calls it, with `values` set over the defaults.
void f0r_update_frame(benchmark::State& state, std::vector<std::pair<int, double>> values)
{
    f0r_instance_t instance = f0r_construct(frame_hd.w, frame_hd.h);
    for (auto [index, value] : values)
        f0r_set_param_value(instance, &value, index);
    const std::vector<RgbaPixel> src = noise_rgba(frame_hd);
    std::vector<RgbaPixel> dst(src.size());
    int frame = 0;
    for (auto _ : state) {
        f0r_update(instance, frame++ / 30.0, reinterpret_cast<const uint32_t*>(src.data()),
                   reinterpret_cast<uint32_t*>(dst.data()));
        benchmark::ClobberMemory();
    }
    f0r_destruct(instance);
    report_rgba_frames(state, frame_hd);
}

int register_frei0r()
{
    register_variants("rgba_to_yc", rgba_to_yc_row_kernel, to_yc_stage);
    register_variants("yc_to_rgba", yc_to_rgba_row_kernel, to_rgba_stage);
    benchmark::RegisterBenchmark("memcpy_rgba_frame/1920x1080", memcpy_rgba_frame)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("rgba_round_trip/1920x1080", round_trip)
        ->Unit(benchmark::kMicrosecond);
    // Parameters: 1 width, 3 height, 4 shift, 8 composite (frei0r's order).
    benchmark::RegisterBenchmark("f0r_update_default/1920x1080", f0r_update_frame,
                                 std::vector<std::pair<int, double>>{})
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("f0r_update_cy_shift23_lpf/1920x1080", f0r_update_frame,
                                 std::vector<std::pair<int, double>>{
                                     {1, 1.0}, {3, 1.0}, {4, 279.0 / 512}, {8, 1.0}})
        ->Unit(benchmark::kMicrosecond);
    return 0;
}

const int frei0r_registered = register_frei0r();

}  // namespace
