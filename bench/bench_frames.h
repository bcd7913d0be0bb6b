// Frames for the benchmarks: the host's usual picture sizes, filled with
// noise in the nominal ranges so that no kernel meets only easy values.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "effects/cpu.h"

#include "host/pixel_yc.h"

struct FrameSize {
    const char* name;
    int w;
    int h;
};

constexpr FrameSize frame_sd = {"720x480", 720, 480};
constexpr FrameSize frame_hd = {"1920x1080", 1920, 1080};
constexpr FrameSize frame_uhd = {"3840x2160", 3840, 2160};

inline std::vector<PIXEL_YC> noise_frame(const FrameSize& size)
{
    std::mt19937 random(20240601);
    std::uniform_int_distribution<int> luma(0, 4096);
    std::uniform_int_distribution<int> chroma(-2048, 2048);
    std::vector<PIXEL_YC> frame(static_cast<size_t>(size.w) * size.h);
    for (PIXEL_YC& p : frame)
        p = {static_cast<short>(luma(random)), static_cast<short>(chroma(random)),
             static_cast<short>(chroma(random))};
    return frame;
}

// Holds dispatch to the variant that needs `flags` while a benchmark runs.
struct VariantScope {
    explicit VariantScope(unsigned flags) { cpu_set_mask(flags); }
    ~VariantScope() { cpu_set_mask(~0u); }
};

// NAME/VARIANT/SIZE for every variant of `kernel` this processor runs, at
// both sizes: stage(state, variant's flags, size).
template <typename Fn, typename Stage>
void register_variants(const char* name, const DispatchedKernel<Fn>& kernel, Stage stage)
{
    for (const FrameSize& size : {frame_sd, frame_hd}) {
        for (size_t i = 0; i < kernel.variant_count; ++i) {
            const KernelVariant<Fn>& variant = kernel.variants[i];
            if (!cpu_can_run(variant.required_flags))
                continue;
            const std::string full_name = std::string(name) + "/" + variant.name + "/" + size.name;
            benchmark::RegisterBenchmark(full_name.c_str(), stage, variant.required_flags, size)
                ->Unit(benchmark::kMicrosecond);
        }
    }
}
