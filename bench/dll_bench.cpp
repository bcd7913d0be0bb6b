// The filter_proc benchmarks against the shipped DLL: loads norel.auf as the
// editor does and times the same settings as the native benchmarks, with a
// frame memcpy as the yardstick, printing the medians as Google Benchmark's
// JSON so that scripts/bench prints them in the same table.
//
//   norel_dll_bench PLUGIN.auf [REPETITIONS]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_settings.h"

// Seconds on the performance counter.
static double now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The median time of one call of run, in microseconds, over `repetitions`
// runs of as many calls as fill about a tenth of a second.
template <typename Run>
static double median_us(int repetitions, Run run)
{
    int calls = 1;
    for (;;) {
        const double start = now();
        for (int i = 0; i < calls; ++i)
            run();
        const double elapsed = now() - start;
        if (elapsed >= 0.1 || calls >= (1 << 20))
            break;
        calls = elapsed > 0.001 ? std::max(calls + 1, static_cast<int>(calls * 0.1 / elapsed))
                                : calls * 10;
    }
    std::vector<double> times;
    for (int r = 0; r < repetitions; ++r) {
        const double start = now();
        for (int i = 0; i < calls; ++i)
            run();
        times.push_back((now() - start) / calls * 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

static void print_median(bool first, const std::string& name, double us)
{
    std::printf("%s\n  {\"run_name\": \"%s\", \"aggregate_name\": \"median\", \"real_time\": %.3f, "
                "\"time_unit\": \"us\"}",
                first ? "" : ",", name.c_str(), us);
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: norel_dll_bench PLUGIN.auf [REPETITIONS]\n");
        return 2;
    }
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;
    HMODULE module = LoadLibraryA(argv[1]);
    if (module == nullptr) {
        std::fprintf(stderr, "norel_dll_bench: cannot load %s (error %lu)\n", argv[1],
                     GetLastError());
        return 1;
    }
    auto get_table = reinterpret_cast<GetFilterTableFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetFilterTable")));
    if (get_table == nullptr) {
        std::fprintf(stderr, "norel_dll_bench: %s exports no GetFilterTable\n", argv[1]);
        return 1;
    }

    std::printf("{\"benchmarks\": [");
    {
        const std::vector<PIXEL_YC> src = noise_frame(frame_hd);
        std::vector<PIXEL_YC> dst(src.size());
        const size_t bytes = src.size() * sizeof(PIXEL_YC);
        const double us = median_us(repetitions, [&] {
            std::memcpy(dst.data(), src.data(), bytes);
            // Keeps the copy from being optimised away.
            __asm__ volatile("" : : "r"(dst.data()) : "memory");
        });
        print_median(true, "memcpy_frame/1920x1080", us);
    }
    for (const FilterProcBenchmark& setting : filter_proc_benchmarks()) {
        PluginHost host(get_table, setting.size.w, setting.size.h, setting.size.w);
        prepare_host(host, setting);
        int frame = 0;
        const double us = median_us(repetitions, [&] {
            host.process(frame, 1000);
            frame = (frame + 1) % 1000;
        });
        host.finish();
        print_median(false, std::string(setting.name) + "/" + setting.size.name, us);
    }
    std::printf("\n]}\n");
    std::fflush(stdout);
    FreeLibrary(module);
    return 0;
}
