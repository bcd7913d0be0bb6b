// The native filters' cost at 1080p 8-bit 4:2:2: the chain over the host's
// own YUV (packed as MLT hands it, planar as GStreamer) beside the same
// chain over a frame already in YC; and the MLT filter and the GStreamer
// element with the editor's default rectangle (320x320 at 0,0) beside a
// memcpy of the host's frame.
#include <benchmark/benchmark.h>
#include <framework/mlt.h>
#include <gst/check/gstharness.h>
#include <gst/gst.h>

#include <cstring>
#include <random>
#include <vector>

#include "bench/bench_frames.h"
#include "engine/yuv_frame.h"

namespace {

constexpr int w = 1920, h = 1080;
constexpr size_t frame_bytes = static_cast<size_t>(w) * h * 2;

// Codes of a 4:2:2 picture within the studio range.
std::vector<uint8_t> noise_yuv422()
{
    std::mt19937 random(20261209);
    std::vector<uint8_t> bytes(frame_bytes);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(16 + random() % 220);
    return bytes;
}

EffectSettings chain_settings()
{
    EffectSettings settings;
    settings.width = w;
    settings.height = h;
    settings.composite = 1;
    settings.shift = 23;
    return settings;
}

void report(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(frame_bytes));
}

void memcpy_yuv422_frame(benchmark::State& state)
{
    const std::vector<uint8_t> src = noise_yuv422();
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    report(state);
}

void chain_over_yc(benchmark::State& state)
{
    std::vector<PIXEL_YC> pixels = noise_frame(frame_hd), scratch(pixels.size());
    const EffectSettings settings = chain_settings();
    EffectState effect_state;
    int32_t number = 0;
    for (auto _ : state) {
        const EffectFrame frame = {pixels.data(), scratch.data(), w, h, w, number++};
        apply_effects(&effect_state, &settings, &frame);
        benchmark::ClobberMemory();
    }
    release_effect_state(&effect_state);
    report(state);
}

YuvPicture picture_422(uint8_t* bytes, int packing)
{
    YuvPicture picture = {};
    picture.layout.chroma_shift_y = 0;
    picture.packing = packing;
    picture.width = w;
    picture.height = h;
    if (packing == YUV_PLANAR) {
        picture.data[0] = bytes;
        picture.data[1] = bytes + static_cast<size_t>(w) * h;
        picture.data[2] = picture.data[1] + static_cast<size_t>(w / 2) * h;
        picture.linesize[0] = w;
        picture.linesize[1] = picture.linesize[2] = w / 2;
    } else {
        picture.data[0] = bytes;
        picture.linesize[0] = 2 * w;
    }
    return picture;
}

void chain_over_yuv422(benchmark::State& state, int packing)
{
    std::vector<uint8_t> bytes = noise_yuv422();
    const YuvPicture picture = picture_422(bytes.data(), packing);
    const EffectSettings settings = chain_settings();
    YuvEffects effects = {};
    int32_t number = 0;
    for (auto _ : state) {
        apply_effects_to_yuv(&effects, &settings, &picture, number++);
        benchmark::ClobberMemory();
    }
    release_yuv_effects(&effects);
    report(state);
}

// The MLT filter as a consumer drives it: a frame holding the producer's
// yuv422 image, the filter's process and get_image.
void mlt_filter_default_rectangle(benchmark::State& state)
{
    if (mlt_factory_init(NOREL_MLT_MODULE_DIR) == nullptr) {
        state.SkipWithError("cannot start MLT");
        return;
    }
    mlt_filter filter = mlt_factory_filter(nullptr, "norel", nullptr);
    if (filter == nullptr) {
        state.SkipWithError("no norel filter");
        return;
    }
    mlt_properties_set_int(MLT_FILTER_PROPERTIES(filter), "width", 320);
    mlt_properties_set_int(MLT_FILTER_PROPERTIES(filter), "height", 320);
    std::vector<uint8_t> bytes = noise_yuv422();
    int position = 0;
    for (auto _ : state) {
        mlt_frame frame = mlt_frame_init(nullptr);
        mlt_properties p = MLT_FRAME_PROPERTIES(frame);
        mlt_frame_set_image(frame, bytes.data(), static_cast<int>(bytes.size()), nullptr);
        mlt_properties_set_int(p, "format", mlt_image_yuv422);
        mlt_properties_set_int(p, "width", w);
        mlt_properties_set_int(p, "height", h);
        mlt_properties_set_int(p, "original_position", position++);
        mlt_filter_process(filter, frame);
        uint8_t* image = nullptr;
        mlt_image_format format = mlt_image_yuv422;
        int iw = w, ih = h;
        mlt_frame_get_image(frame, &image, &format, &iw, &ih, 1);
        mlt_frame_close(frame);
        benchmark::ClobberMemory();
    }
    mlt_filter_close(filter);
    report(state);
}

// The GStreamer element in place on Y42B buffers that the harness hands back.
void gst_element_default_rectangle(benchmark::State& state)
{
    gst_init(nullptr, nullptr);
    if (gst_plugin_load_file(NOREL_GST_PLUGIN, nullptr) == nullptr) {
        state.SkipWithError("cannot load the GStreamer plug-in");
        return;
    }
    GstHarness* harness = gst_harness_new_parse("norel width=320 height=320");
    gst_harness_set_src_caps_str(harness, "video/x-raw,format=Y42B,width=1920,height=1080,framerate=30000/1001,"
                                          "interlace-mode=interleaved,field-order=top-field-first");
    const std::vector<uint8_t> bytes = noise_yuv422();
    GstBuffer* buffer = gst_buffer_new_memdup(bytes.data(), bytes.size());
    guint64 number = 0;
    for (auto _ : state) {
        GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(number++, 1001 * GST_SECOND, 30000);
        gst_harness_push(harness, buffer);
        buffer = gst_harness_pull(harness);
        benchmark::ClobberMemory();
    }
    gst_buffer_unref(buffer);
    gst_harness_teardown(harness);
    report(state);
}

int register_native_hosts()
{
    benchmark::RegisterBenchmark("memcpy_yuv422_frame/1920x1080", memcpy_yuv422_frame)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("chain_cy_shift23_lpf/yc/1920x1080", chain_over_yc)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("chain_cy_shift23_lpf/yuyv/1920x1080", chain_over_yuv422, int(YUV_YUYV))
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("chain_cy_shift23_lpf/y42b/1920x1080", chain_over_yuv422, int(YUV_PLANAR))
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("mlt_filter_default_rectangle/1920x1080", mlt_filter_default_rectangle)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("gst_element_default_rectangle/1920x1080", gst_element_default_rectangle)
        ->Unit(benchmark::kMicrosecond);
    return 0;
}

const int native_hosts_registered = register_native_hosts();

}  // namespace
