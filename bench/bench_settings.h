// The filter_proc benchmarks as the editor calls the filter: the settings
// and frame sizes, shared by the native benchmarks and the bench host that
// loads the Windows DLL, so that both print the same rows.
#pragma once

#include <vector>

#include "bench/noise_frames.h"
#include "tests/host_services.h"
#include "hosts/aviutl/driver.h"

struct FilterProcBenchmark {
    const char* name;  // the row's name without its size
    void (*setup)(PluginHost& host);
    FrameSize size;
};

inline void default_settings(PluginHost&) {}

// The same without the low-pass filter, to show what it adds.
inline void default_settings_without_lpf(PluginHost& host)
{
    host.check()[CHECK_LPF] = 0;
}

inline void whole_picture_cy_shift(PluginHost& host)
{
    host.track()[TRACK_WIDTH] = host.w();
    host.track()[TRACK_HEIGHT] = host.h();
    host.track()[TRACK_SHIFT] = 23;
    host.check()[CHECK_CY] = 1;
    host.check()[CHECK_LPF] = 0;
}

inline void whole_picture_cy_shift_lpf(PluginHost& host)
{
    whole_picture_cy_shift(host);
    host.check()[CHECK_LPF] = 1;
}

inline std::vector<FilterProcBenchmark> filter_proc_benchmarks()
{
    return {
        {"filter_proc_default", default_settings, frame_sd},
        {"filter_proc_default", default_settings, frame_hd},
        {"filter_proc_default", default_settings, frame_uhd},
        {"filter_proc_default_no_lpf", default_settings_without_lpf, frame_hd},
        {"filter_proc_cy_shift23_lpf", whole_picture_cy_shift_lpf, frame_hd},
        {"filter_proc_cy_shift23_no_lpf", whole_picture_cy_shift, frame_hd},
    };
}

// A host for one benchmark: the settings applied, a noise frame loaded.
// process(frame, 1000) then filters it as the editor would.
inline void prepare_host(PluginHost& host, const FilterProcBenchmark& benchmark)
{
    benchmark.setup(host);
    host.load(noise_frame(benchmark.size));
}
