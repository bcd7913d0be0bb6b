// The command line's filter stage on one thread and on several: 1080p
// yuv420p pictures through FrameFilter, from the decoder's picture into an
// output picture, each job (a frame, with the frame comb four in a row) to
// whichever thread is free, as the run's workers take their jobs. Rows give
// the time a frame, so that the ratio of two rows is the speed-up; the
// counter cpu_ms is the processor time a frame summed over the threads,
// which stays flat as threads are added where they share nothing (on a
// machine busy with other work the wall time cannot show that).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <time.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bench/noise_frames.h"
#include "hosts/cli/av.h"
#include "hosts/cli/frame_filter.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace {

// Frames a timed round: enough that each thread has several.
constexpr int round_frames = 16;

EffectSettings whole_picture(const FrameSize& size)
{
    EffectSettings settings;
    settings.width = size.w;
    settings.height = size.h;
    return settings;
}

// The `composite` preset: C/Y, a field shift of 8 and the LPF, decoded.
EffectSettings composite(const FrameSize& size, int32_t mode)
{
    EffectSettings settings = whole_picture(size);
    settings.composite = 1;
    settings.shift = 8;
    settings.decode.mode = mode;
    return settings;
}

struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using Picture = std::unique_ptr<AVFrame, FrameFree>;

// A yuv420p picture of noise codes, interlaced (chroma by field) or not.
Picture noise_picture(const FrameSize& size, bool interlaced)
{
    Picture picture(av_frame_alloc());
    picture->format = AV_PIX_FMT_YUV420P;
    picture->interlaced_frame = interlaced;
    picture->width = size.w;
    picture->height = size.h;
    if (av_frame_get_buffer(picture.get(), 0) < 0)
        throw std::bad_alloc();
    uint32_t seed = 12345;
    for (int p = 0; p < 3; ++p) {
        for (int r = 0; r < (p == 0 ? size.h : size.h / 2); ++r) {
            for (int x = 0; x < (p == 0 ? size.w : size.w / 2); ++x) {
                seed = seed * 1664525u + 1013904223u;
                picture->data[p][r * picture->linesize[p] + x] = static_cast<uint8_t>(16 + (seed >> 24) % 220);
            }
        }
    }
    return picture;
}

void filter_stage(benchmark::State& state, EffectSettings settings, bool interlaced, int threads)
{
    const FrameSize size = frame_hd;
    const Picture source = noise_picture(size, interlaced);
    std::vector<std::unique_ptr<FrameFilter>> filters;
    std::vector<Picture> frames;
    for (int t = 0; t < threads; ++t) {
        filters.push_back(std::make_unique<FrameFilter>(settings, size.w, size.h));
        frames.push_back(noise_picture(size, interlaced));
    }
    int first = 0;  // frame numbers go on from round to round, as in a clip
    std::atomic<long long> cpu_ns(0);
    for (auto _ : state) {
        std::atomic<int> next(first);
        const int end = first + round_frames;
        auto work = [&](int t) {
            timespec start, stop;
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
            // Each thread filters the source into its output picture over
            // and over, as a worker filters the frames of its jobs.
            // The earlier frames, for the frame comb, are the source too.
            const EarlierPictures earlier = {source.get(),
                                             [](void* host, int32_t, YuvPicture* picture) {
                                                 *picture = yuv_picture_of(static_cast<const AVFrame*>(host));
                                                 return 1;
                                             },
                                             [](void*, int32_t) {}};
            // Jobs of frames in a row with the frame comb, as the run deals them.
            const int job = frame_comb_reach(settings) > 0 ? combed_job_frames : 1;
            for (int first; (first = next.fetch_add(job)) < end;) {
                for (int n = first; n < std::min(first + job, end); ++n)
                    filters[t]->filter_picture(n, source.get(), frames[t].get(), &earlier);
            }
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &stop);
            cpu_ns += (stop.tv_sec - start.tv_sec) * 1000000000LL + (stop.tv_nsec - start.tv_nsec);
        };
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> helpers;
        for (int t = 1; t < threads; ++t)
            helpers.emplace_back(work, t);
        work(0);
        for (std::thread& helper : helpers)
            helper.join();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds / round_frames);
        first = end;
    }
    state.counters["cpu_ms"] = cpu_ns.load() / 1e6 / (static_cast<double>(state.iterations()) * round_frames);
    benchmark::DoNotOptimize(frames[0]->data[0]);
}

const int registered = [] {
    const std::tuple<const char*, EffectSettings, bool> looks[] = {
        {"default", whole_picture(frame_hd), false},
        {"default_interlaced", whole_picture(frame_hd), true},
        {"composite_notch", composite(frame_hd, DECODE_NOTCH), false},
        {"composite_3d", composite(frame_hd, DECODE_3D), false},
    };
    for (const auto& [look, settings, interlaced] : looks) {
        for (int threads : {1, 2}) {
            const std::string name = std::string("cli_filter_stage_") + look + "/threads" + std::to_string(threads) +
                                     "/" + frame_hd.name;
            benchmark::RegisterBenchmark(name.c_str(), filter_stage, settings, interlaced, threads)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
    }
    return 0;
}();

}  // namespace
