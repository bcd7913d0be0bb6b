// The 64-bit editor's adapter: the table the host loads, with the 32-bit
// plug-in's seven track bars and the five check boxes that need no other
// frame, then the decoder filter's settings and the colour standard, and a
// video callback that runs the effect chain over the object's RGBA picture. "60FPS", "合成モード" and
// the decoder's frame comb ("3d") are left out: they read other frames of
// the clip, which the video callback is never handed.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "effects/frame_effects.h"
#include "effects/rgba_yc.h"
#include "host/filter2.h"

static_assert(sizeof(RgbaPixel) == sizeof(aviutl2_pixel_rgba), "the host's RGBA is RgbaPixel");

namespace {

enum TrackIndex { TRACK_LEFT, TRACK_WIDTH, TRACK_TOP, TRACK_HEIGHT, TRACK_SHIFT, TRACK_FREQ,
                  TRACK_PHASE, TRACK_DECODE, TRACK_SATURATION, TRACK_HUE, TRACK_COUNT };
enum CheckIndex { CHECK_TFF, CHECK_SHOW_RANGE, CHECK_MONO, CHECK_CY, CHECK_LPF, CHECK_NARROW,
                  CHECK_PAL, CHECK_DELAY_LINE, CHECK_COUNT };

struct TrackDefinition {
    const wchar_t* label;
    int32_t default_value, minimum, maximum;
};

// Labels, defaults and ranges of the 32-bit plug-ins; labels as UTF-16
// escapes, so that no editor or compiler can re-encode them.
constexpr TrackDefinition track_definitions[TRACK_COUNT] = {
    {L"\u5DE6", 0, 0, 2048},                // 左: rectangle left edge
    {L"\u5E45", 320, 0, 2048},              // 幅: rectangle width
    {L"\u4E0A", 0, 0, 2048},                // 上: rectangle top edge
    {L"\u9AD8\u3055", 320, 0, 2048},        // 高さ: rectangle height
    {L"\u79FB\u52D5\u91CF", 0, -256, 256},  // 移動量: field shift in 1/16 field line
    {L"freq", 704, 600, 750},
    {L"phase", 0, -180, 180},
    // Y/C分離: the DecodeMode numbers, 0 (none) to 3 (3line).
    {L"Y/C\u5206\u96E2", DECODE_OFF, DECODE_OFF, DECODE_3LINE},
    {L"\u8272\u306E\u6FC3\u3055", 100, saturation_min, saturation_max},  // 色の濃さ: percent
    {L"\u8272\u5408\u3044", 0, hue_min, hue_max},                         // 色合い: degrees
};

constexpr aviutl2_filter_item_track track_item(const TrackDefinition& definition)
{
    return {filter2_item_type_track, definition.label, double(definition.default_value),
            double(definition.minimum), double(definition.maximum), 1.0, nullptr, 1.0};
}

// The host writes the current values into these records before each call.
aviutl2_filter_item_track track_items[TRACK_COUNT] = {
    track_item(track_definitions[0]), track_item(track_definitions[1]), track_item(track_definitions[2]),
    track_item(track_definitions[3]), track_item(track_definitions[4]), track_item(track_definitions[5]),
    track_item(track_definitions[6]), track_item(track_definitions[7]), track_item(track_definitions[8]),
    track_item(track_definitions[9]),
};
aviutl2_filter_item_check check_items[CHECK_COUNT] = {
    {filter2_item_type_check, L"TFF", true},
    {filter2_item_type_check, L"\u7BC4\u56F2\u8868\u793A", false},  // 範囲表示: show the rectangle
    {filter2_item_type_check, L"MONO", false},
    {filter2_item_type_check, L"C/Y", false},
    {filter2_item_type_check, L"LPF", true},
    {filter2_item_type_check, L"\u72ED\u5E2F\u57DF", false},  // 狭帯域: the narrow chroma low-pass
    {filter2_item_type_check, L"PAL", false},  // off: NTSC, as norel.auf
    {filter2_item_type_check, L"\u9045\u5EF6\u7DDA", true},  // 遅延線: PAL's delay line
};
// The decoder's items, then PAL's, after norel2's: every earlier item keeps
// its place in saved projects.
void* items[] = {
    &track_items[0], &track_items[1], &track_items[2], &track_items[3], &track_items[4],
    &track_items[5], &track_items[6],
    &check_items[0], &check_items[1], &check_items[2], &check_items[3], &check_items[4],
    &track_items[7], &track_items[8], &track_items[9], &check_items[5],
    &check_items[6], &check_items[7],
    nullptr,
};

// A track value as the engine's integer: NaN gives the default, anything
// else is held to the range and rounded to the nearest step.
int32_t track_value(int index)
{
    const TrackDefinition& definition = track_definitions[index];
    const double value = track_items[index].value;
    if (std::isnan(value))
        return definition.default_value;
    return static_cast<int32_t>(
        std::lround(std::clamp(value, double(definition.minimum), double(definition.maximum))));
}

// Read as a byte: a host may store any non-zero byte for "on".
int check_value(int index)
{
    unsigned char byte;
    std::memcpy(&byte, &check_items[index].value, 1);
    return byte != 0;
}

EffectSettings settings_from_items()
{
    EffectSettings settings;
    settings.left = track_value(TRACK_LEFT);
    settings.width = track_value(TRACK_WIDTH);
    settings.top = track_value(TRACK_TOP);
    settings.height = track_value(TRACK_HEIGHT);
    settings.shift = track_value(TRACK_SHIFT);
    settings.freq = track_value(TRACK_FREQ);
    settings.phase = track_value(TRACK_PHASE);
    settings.top_field_first = check_value(CHECK_TFF);
    settings.paired_fields = 0;
    // The video callback cannot tell preview from output: "範囲表示" shows
    // the rectangle in both.
    settings.show_range = check_value(CHECK_SHOW_RANGE);
    settings.mono = check_value(CHECK_MONO);
    settings.composite = check_value(CHECK_CY);
    settings.lpf = check_value(CHECK_LPF);
    settings.standard = check_value(CHECK_PAL) ? STANDARD_PAL : STANDARD_NTSC;
    DecodeSettings decode;
    decode.mode = track_value(TRACK_DECODE);
    decode.saturation = track_value(TRACK_SATURATION);
    decode.hue = track_value(TRACK_HUE);
    decode.bandwidth = check_value(CHECK_NARROW) ? CHROMA_NARROW : CHROMA_WIDE;
    decode.delay_line = check_value(CHECK_DELAY_LINE);
    settings.decode = clamp_decode_settings(decode);
    return settings;
}

// One per effect instance, through the host's user data. The host may draw
// one instance on two threads at once (preview and output), so its state is
// locked; different instances never share anything.
struct EffectInstance {
    std::mutex lock;
    EffectState state;
};

void* create_instance(int64_t)
{
    return new (std::nothrow) EffectInstance;
}

void destroy_instance(int64_t, void* userdata)
{
    auto* instance = static_cast<EffectInstance*>(userdata);
    if (instance == nullptr)
        return;
    release_effect_state(&instance->state);
    delete instance;
}

void run_effects(EffectInstance* instance, const EffectSettings* settings,
                 const EffectFrame* frame)
{
    if (instance != nullptr) {
        std::lock_guard<std::mutex> hold(instance->lock);
        apply_effects(&instance->state, settings, frame);
        return;
    }
    // The instance's record could not be made: a state for this frame alone.
    EffectState state;
    apply_effects(&state, settings, frame);
    release_effect_state(&state);
}

// What the effects read of the object's picture to YC, the chain, and the
// rectangle back: nothing outside it can have changed, and alpha is carried
// from the host's pixels. Frames are numbered from the object's first frame.
bool filter_video(aviutl2_filter_proc_video* video)
{
    const EffectSettings settings = settings_from_items();
    const int w = video->object->width;
    const int h = video->object->height;
    if (w <= 0 || h <= 0)
        return true;
    const FilterRect rect = effect_rect(&settings, w, h, w);
    if (rect_is_empty(&rect))
        return true;

    // RGBA, the YC frame and its scratch frame: 16 bytes a pixel.
    const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
    if (count > SIZE_MAX / 16)
        return false;
    std::unique_ptr<RgbaPixel[]> rgba(new (std::nothrow) RgbaPixel[count]);
    std::unique_ptr<PIXEL_YC[]> yc(new (std::nothrow) PIXEL_YC[2 * count]());
    if (rgba == nullptr || yc == nullptr)
        return false;

    const ptrdiff_t stride = static_cast<ptrdiff_t>(w) * sizeof(RgbaPixel);
    video->get_image_data(reinterpret_cast<aviutl2_pixel_rgba*>(rgba.get()));
    const FilterRect window = effect_input_window(&settings, w, h, w);
    const size_t window_start = static_cast<size_t>(window.top) * w + window.left;
    rgba_to_yc(yc.get() + window_start, w, rgba.get() + window_start, stride,
               window.right - window.left, window.bottom - window.top);
    const EffectFrame frame = {yc.get(), yc.get() + count, w, h, w, video->object->frame};
    run_effects(static_cast<EffectInstance*>(video->userdata), &settings, &frame);

    const size_t corner = static_cast<size_t>(rect.top) * w + rect.left;
    yc_to_rgba(rgba.get() + corner, stride, yc.get() + corner, w, rgba.get() + corner, stride,
               rect.right - rect.left, rect.bottom - rect.top);
    video->set_image_data(reinterpret_cast<const aviutl2_pixel_rgba*>(rgba.get()), w, h);
    return true;
}

aviutl2_filter_plugin_table filter_table = {
    FILTER2_FLAG_VIDEO | FILTER2_FLAG_FILTER | FILTER2_FLAG_USERDATA,
    L"norel2",
    nullptr,  // the host's default category
    L"norel2 version " NOREL_VERSION L": analogue composite video imitation",
    items,
    filter_video,
    nullptr,  // no audio
    create_instance,
    destroy_instance,
};

}  // namespace

extern "C" aviutl2_filter_plugin_table* GetFilterPluginTable(void)
{
    return &filter_table;
}
