// The per-pixel stages over whole pictures, once per variant of the row
// kernel each one dispatches, and filter_proc over 1080p frames as the host
// calls it.
//
// The in-place stages run again on their own output; their arithmetic does
// not depend on the pixel values, so every iteration costs the same.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_frames.h"
#include "bench/bench_settings.h"
#include "tests/host_services.h"
#include "engine/composite_chroma.h"
#include "engine/field_shift.h"
#include "engine/shift_kernel.h"
#include "hosts/aviutl/descriptor.h"
#include "hosts/aviutl/driver.h"
#include "engine/region.h"

namespace {

FilterRect whole_picture(const FrameSize& size)
{
    return {0, size.h, 0, size.w, size.w};
}

void report_frames(benchmark::State& state, const FrameSize& size)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(size.w) * size.h *
                            static_cast<int64_t>(sizeof(PIXEL_YC)));
}

void encode_composite_stage(benchmark::State& state, unsigned flags, FrameSize size)
{
    std::vector<PIXEL_YC> frame = noise_frame(size);
    const FilterRect rect = whole_picture(size);
    SubcarrierTables tables;
    build_subcarrier_tables(&tables, 704, 0, size.w, size.w);
    VariantScope variant(flags);
    for (auto _ : state) {
        encode_composite(frame.data(), &rect, &tables, 2);
        benchmark::ClobberMemory();
    }
    release_subcarrier_tables(&tables);
    report_frames(state, size);
}

void shift_field_fraction_stage(benchmark::State& state, unsigned flags, FrameSize size)
{
    const std::vector<PIXEL_YC> src = noise_frame(size);
    std::vector<PIXEL_YC> dst(src.size());
    const FilterRect rect = whole_picture(size);
    ShiftKernel kernel;
    build_shift_kernel(kernel.weights, 23);
    VariantScope variant(flags);
    for (auto _ : state) {
        shift_field_fraction(dst.data(), src.data(), &rect, 23, 1, kernel.weights);
        benchmark::ClobberMemory();
    }
    report_frames(state, size);
}

// Every moved row gap-filled: the field shift with a source outside the
// picture for each of them.
void fill_from_other_field_stage(benchmark::State& state, unsigned flags, FrameSize size)
{
    const std::vector<PIXEL_YC> src = noise_frame(size);
    std::vector<PIXEL_YC> dst(src.size());
    const FilterRect rect = whole_picture(size);
    VariantScope variant(flags);
    for (auto _ : state) {
        for (int i = 0; i < size.h; i += 2)
            fill_from_other_field(dst.data(), src.data(), &rect, i);
        benchmark::ClobberMemory();
    }
    report_frames(state, size);
}

template <void (*stage)(PIXEL_YC*, const FilterRect*)>
void region_stage(benchmark::State& state, unsigned flags, FrameSize size)
{
    std::vector<PIXEL_YC> frame = noise_frame(size);
    const FilterRect rect = whole_picture(size);
    VariantScope variant(flags);
    for (auto _ : state) {
        stage(frame.data(), &rect);
        benchmark::ClobberMemory();
    }
    report_frames(state, size);
}

// The block copies: the whole-line shift by 0 and copy_rect.
void shift_by_zero(PIXEL_YC* dst, const PIXEL_YC* src, const FilterRect* rect)
{
    shift_field_whole(dst, src, rect, 0, 1);
}

template <void (*copy)(PIXEL_YC*, const PIXEL_YC*, const FilterRect*)>
void block_copy_stage(benchmark::State& state, FrameSize size)
{
    const std::vector<PIXEL_YC> src = noise_frame(size);
    std::vector<PIXEL_YC> dst(src.size());
    const FilterRect rect = whole_picture(size);
    for (auto _ : state) {
        copy(dst.data(), src.data(), &rect);
        benchmark::ClobberMemory();
    }
    report_frames(state, size);
}

// filter_proc as the host calls it.
void filter_proc_frame(benchmark::State& state, FilterProcBenchmark setting)
{
    PluginHost host(GetFilterTable, setting.size.w, setting.size.h, setting.size.w);
    prepare_host(host, setting);
    int frame = 0;
    for (auto _ : state) {
        host.process(frame, 1000);
        frame = (frame + 1) % 1000;
        benchmark::ClobberMemory();
    }
    host.finish();
    report_frames(state, setting.size);
}

int register_stages()
{
    register_variants("encode_composite", encode_composite_row_kernel, encode_composite_stage);
    register_variants("shift_field_fraction", interpolate_row_kernel, shift_field_fraction_stage);
    register_variants("fill_from_other_field", average_rows_kernel, fill_from_other_field_stage);
    register_variants("show_range", show_range_row_kernel, region_stage<show_range>);
    register_variants("strip_chroma", strip_chroma_row_kernel, region_stage<strip_chroma>);
    for (const FrameSize& size : {frame_sd, frame_hd}) {
        benchmark::RegisterBenchmark((std::string("shift_field_whole/") + size.name).c_str(),
                                     block_copy_stage<shift_by_zero>, size)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("copy_rect/") + size.name).c_str(),
                                     block_copy_stage<copy_rect>, size)
            ->Unit(benchmark::kMicrosecond);
    }
    for (const FilterProcBenchmark& setting : filter_proc_benchmarks())
        benchmark::RegisterBenchmark((std::string(setting.name) + "/" + setting.size.name).c_str(),
                                     filter_proc_frame, setting)
            ->Unit(benchmark::kMicrosecond);
    return 0;
}

const int stages_registered = register_stages();

}  // namespace
