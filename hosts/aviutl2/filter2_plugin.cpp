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
#include <string>
#include <vector>

#include "engine/frame_effects.h"
#include "engine/rgba_yc.h"
#include "engine/settings_table.h"
#include "abi/filter2.h"

static_assert(sizeof(RgbaPixel) == sizeof(aviutl2_pixel_rgba), "the host's RGBA is RgbaPixel");

namespace {

// Every setting of the table but those that read other frames: numbers and
// choices of more than two as track bars, switches and choices of two
// (on: the second) as check boxes, in the table's order, which keeps every
// item's place in saved projects.
struct Item {
    SettingId id;
    bool is_track;
    std::wstring label;
    union {
        aviutl2_filter_item_track track;
        aviutl2_filter_item_check check;
    };
};

bool is_track(const SettingInfo& setting)
{
    return setting.kind == SETTING_NUMBER || (setting.kind == SETTING_CHOICE && setting.choice_count > 2);
}

// The labels are UTF-8 in the table, of the Basic Multilingual Plane.
std::wstring utf16(const char* utf8)
{
    std::wstring text;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(utf8); *c != 0;) {
        const int length = *c < 0x80 ? 1 : *c < 0xE0 ? 2 : 3;
        wchar_t code = length == 1 ? *c : length == 2 ? (*c & 0x1F) : (*c & 0x0F);
        for (int i = 1; i < length && c[i] != 0; ++i)
            code = static_cast<wchar_t>((code << 6) | (c[i] & 0x3F));
        text += code;
        c += length;
    }
    return text;
}

// A track's ends: a choice's values up to the last one that needs no
// other frame ("3d" reads the frame before).
int64_t track_maximum(const SettingInfo& setting)
{
    if (setting.kind != SETTING_CHOICE)
        return setting.maximum;
    int64_t maximum = setting.minimum;
    for (int i = 0; i < setting.choice_count; ++i) {
        if (!setting.choices[i].needs_other_frames)
            maximum = std::max<int64_t>(maximum, setting.choices[i].value);
    }
    return maximum;
}

struct Items {
    std::vector<Item> items;
    std::vector<void*> pointers;  // what the host walks, null-terminated

    Items()
    {
        items.reserve(SETTING_COUNT);
        for (int id = 0; id < SETTING_COUNT; ++id) {
            const SettingInfo& setting = setting_table[id];
            if (setting.needs_other_frames)
                continue;
            items.emplace_back();
            Item& item = items.back();
            item.id = static_cast<SettingId>(id);
            item.is_track = is_track(setting);
            item.label = utf16(setting.label);
            if (item.is_track)
                item.track = {filter2_item_type_track, item.label.c_str(), double(setting.default_value),
                              double(setting_editor_minimum(&setting)),
                              double(std::min(track_maximum(setting), setting_editor_maximum(&setting))), 1.0,
                              nullptr, 1.0};
            else
                item.check = {filter2_item_type_check, item.label.c_str(), setting.default_value != 0};
        }
        for (Item& item : items)
            pointers.push_back(item.is_track ? static_cast<void*>(&item.track) : static_cast<void*>(&item.check));
        pointers.push_back(nullptr);
    }
};

Items items;

// A track value as the engine's integer: NaN gives the default, anything
// else is held to the range and rounded to the nearest step (the seed's
// range is more than an int32_t's).
int64_t track_value(const Item& item)
{
    const double value = item.track.value;
    if (std::isnan(value))
        return setting_table[item.id].default_value;
    return std::llround(std::clamp(value, item.track.s, item.track.e));
}

// Read as a byte: a host may store any non-zero byte for "on".
int64_t check_value(const Item& item)
{
    unsigned char byte;
    std::memcpy(&byte, &item.check.value, 1);
    const SettingInfo& setting = setting_table[item.id];
    return setting.kind == SETTING_CHOICE ? setting.choices[byte != 0].value : byte != 0;
}

EffectSettings settings_from_items()
{
    EffectSettings settings;
    for (const Item& item : items.items)
        set_setting_value(&settings, item.id, item.is_track ? track_value(item) : check_value(item));
    // The video callback cannot tell preview from output: "範囲表示" shows
    // the rectangle in both.
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
// from the host's pixels. Frames are numbered from the object's first frame:
// the carrier's sequence and the VHS deck's noise follow the object.
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
    nullptr,  // items: filled below
    filter_video,
    nullptr,  // no audio
    create_instance,
    destroy_instance,
};

}  // namespace

extern "C" aviutl2_filter_plugin_table* GetFilterPluginTable(void)
{
    filter_table.items = items.pointers.data();
    return &filter_table;
}
