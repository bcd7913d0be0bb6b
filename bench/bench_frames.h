// What the benchmark files share: the frames, and the registration of a
// stage once per kernel variant.
#pragma once

#include <initializer_list>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/noise_frames.h"
#include "engine/cpu.h"

// Holds dispatch to the variant that needs `flags` while a benchmark runs.
struct VariantScope {
    explicit VariantScope(unsigned flags) { cpu_set_mask(flags); }
    ~VariantScope() { cpu_set_mask(~0u); }
};

// NAME/VARIANT/SIZE for every variant of `kernel` this processor runs, at
// both sizes: stage(state, variant's flags, size).
template <typename Fn, typename Stage>
void register_variants(const char* name, const DispatchedKernel<Fn>& kernel, Stage stage,
                       std::initializer_list<FrameSize> sizes = {frame_sd, frame_hd})
{
    for (const FrameSize& size : sizes) {
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
