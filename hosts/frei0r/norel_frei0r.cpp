// The frei0r plug-in: the effects for ffmpeg, MLT (Kdenlive, Shotcut, melt)
// and GStreamer. One instance owns everything it needs between frames, so a
// host may run any number of instances on any threads.
//
// Every parameter is a double in frei0r's [0, 1] convention, which all three
// hosts can pass (GStreamer refuses anything outside it); `scale` below maps it
// onto the effect's own units. NaN leaves a parameter as it was; other values
// are clamped into [0, 1]. A choice (the decoder's, the colour standard) is a
// string, which all three pass as given: one of its names, anything else
// leaves it as it was.
// The header declares the entry points without C linkage.
extern "C" {
#include <frei0r.h>
}

#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "engine/frame_effects.h"
#include "engine/rgba_yc.h"
#include "hosts/frei0r/parameters.h"

#define NOREL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Instance {
    int w = 0;
    int h = 0;
    double values[FREI0R_PARAM_COUNT];
    EffectState state;

    ~Instance() { release_effect_state(&state); }
};

// The frame's rows as the chain reads and writes them: RGBA converted a row
// at a time, alpha kept from the input.
struct RgbaRows {
    const RgbaPixel* in;
    RgbaPixel* out;
    int w;
    int left;   // the rectangle's columns, which written rows hold
    int width;
    RgbaKernels kernels;
};

void read_rgba_row(void* host, int row, int left, int right, PIXEL_YC* pixels)
{
    const auto* rows = static_cast<const RgbaRows*>(host);
    rows->kernels.to_yc(pixels, rows->in + static_cast<size_t>(row) * rows->w + left, right - left);
}

void write_rgba_row(void* host, int row, const PIXEL_YC* pixels)
{
    const auto* rows = static_cast<const RgbaRows*>(host);
    const size_t at = static_cast<size_t>(row) * rows->w + rows->left;
    rows->kernels.to_rgba(rows->out + at, pixels, rows->in + at, rows->width);
}

// The frame's number in its clip, from the host's clock: hosts seek, render
// out of order and render a frame twice, so no count of calls would do.
int32_t frame_number(double time, double rate)
{
    const double frame = std::nearbyint(time * rate);
    if (!std::isfinite(frame))
        return 0;
    // Only the low bits reach the carrier's sequence: keep them past 2^31.
    const double wrapped = std::fmod(frame, 4294967296.0);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(wrapped)));
}

void copy_pixels(RgbaPixel* dst, const RgbaPixel* src, size_t count)
{
    if (dst != src && count > 0)
        std::memmove(dst, src, count * sizeof(RgbaPixel));
}

}  // namespace

NOREL_EXPORT int f0r_init()
{
    return 1;
}

NOREL_EXPORT void f0r_deinit() {}

NOREL_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info)
{
    if (info == nullptr)
        return;
    info->name = "norel";
    info->author = "the norel authors";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = NOREL_VERSION_MAJOR;
    info->minor_version = NOREL_VERSION_MINOR;
    info->num_params = FREI0R_PARAM_COUNT;
    info->explanation =
        "Analogue composite video on interlaced pictures, inside a rectangle: colour folded "
        "onto a subcarrier in the luma, one field moved against the other, a vertical "
        "low-pass filter, colour removal, and the television's decoder after the subcarrier; "
        "NTSC or PAL";
}

NOREL_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int index)
{
    if (info == nullptr || index < 0 || index >= FREI0R_PARAM_COUNT)
        return;
    info->name = frei0r_param_name(index);
    const Frei0rParam& param = frei0r_params[index];
    info->type = param.choice_name != nullptr ? F0R_PARAM_STRING
                 : param.is_bool              ? F0R_PARAM_BOOL
                                              : F0R_PARAM_DOUBLE;
    info->explanation = frei0r_params[index].explanation;
}

NOREL_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height)
{
    // The engine indexes rows with int: refuse what it cannot address.
    const unsigned long long pixels = static_cast<unsigned long long>(width) * height;
    if (width > static_cast<unsigned>(std::numeric_limits<int>::max()) ||
        height > static_cast<unsigned>(std::numeric_limits<int>::max()) ||
        pixels > std::numeric_limits<size_t>::max() / sizeof(PIXEL_YC) / 4)
        return nullptr;
    auto* instance = new (std::nothrow) Instance;
    if (instance == nullptr)
        return nullptr;
    instance->w = static_cast<int>(width);
    instance->h = static_cast<int>(height);
    for (int i = 0; i < FREI0R_PARAM_COUNT; ++i)
        instance->values[i] = frei0r_params[i].default_value;
    return instance;
}

NOREL_EXPORT void f0r_destruct(f0r_instance_t instance)
{
    delete static_cast<Instance*>(instance);
}

NOREL_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index)
{
    if (instance == nullptr || param == nullptr || index < 0 || index >= FREI0R_PARAM_COUNT)
        return;
    double* kept = &static_cast<Instance*>(instance)->values[index];
    if (frei0r_params[index].choice_name != nullptr) {
        const int choice = frei0r_choice(frei0r_params[index], *static_cast<const f0r_param_string*>(param));
        if (choice >= 0)
            *kept = choice;
        return;
    }
    const double value = *static_cast<const double*>(param);
    if (std::isnan(value))
        return;
    *kept = value < 0.0 ? 0.0 : value > 1.0 ? 1.0 : value;
}

NOREL_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index)
{
    if (instance == nullptr || param == nullptr || index < 0 || index >= FREI0R_PARAM_COUNT)
        return;
    const double value = static_cast<Instance*>(instance)->values[index];
    const Frei0rParam& own = frei0r_params[index];
    // The name itself, which lives as long as the plug-in.
    if (own.choice_name != nullptr)
        *static_cast<const char**>(param) = own.choice_name(static_cast<int32_t>(value));
    else
        *static_cast<double*>(param) = value;
}

NOREL_EXPORT void f0r_update(f0r_instance_t handle, double time, const uint32_t* inframe,
                             uint32_t* outframe)
{
    auto* instance = static_cast<Instance*>(handle);
    if (instance == nullptr || inframe == nullptr || outframe == nullptr)
        return;
    const auto* in = reinterpret_cast<const RgbaPixel*>(inframe);
    auto* out = reinterpret_cast<RgbaPixel*>(outframe);
    const int w = instance->w, h = instance->h;

    const EffectSettings settings = frei0r_settings(instance->values);
    const FilterRect rect = effect_rect(&settings, w, h, w);
    if (rect_is_empty(&rect)) {
        copy_pixels(out, in, static_cast<size_t>(w) * h);
        return;
    }
    // Only the rectangle changes: the rest is the input itself, which the
    // round trip through YC would give back exactly anyway. The chain reads
    // each row before it writes it, so `in` may be `out`.
    copy_pixels(out, in, static_cast<size_t>(w) * h);
    // Without memory for the rows in use, the frame stays as it came.
    RgbaRows rows = {in, out, w, rect.left, rect.right - rect.left, {}};
    select_rgba_kernels(&rows.kernels);
    const FrameRows frame_rows = {&rows, read_rgba_row, write_rgba_row};
    const EffectFrame frame = {nullptr, nullptr, w, h, w, frame_number(time, frei0r_frame_rate(instance->values))};
    apply_effects_by_rows(&instance->state, &settings, &frame, &frame_rows);
}
