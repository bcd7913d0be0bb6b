// The MLT module libmltnorel.so and its filter "norel": the effects over the
// frame's own YUV (yuv422, yuv420p when the consumer asks for it, yuv422p16
// for deep sources), with the field order and interlacing from the frame
// and the frame number (the carrier's sequence, the VHS deck's noise) from
// its position in its source, so that a frame rendered twice, out of order
// or from a trimmed clip comes out the same.
#include <framework/mlt.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cmath>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "engine/settings_table.h"
#include "engine/yuv_frame.h"

#define NOREL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// One filter's state: frames may reach it on several threads at once.
struct Instance {
    std::mutex mutex;
    YuvEffects effects = {};
    // The frame comb's earlier frames come from a producer of the filter's
    // own for the resource of the frames' producer: MLT reads its producers
    // ahead on a thread of its own, so the filter must not move them.
    mlt_producer earlier_source = nullptr;
    std::string earlier_resource;

    ~Instance()
    {
        release_yuv_effects(&effects);
        if (earlier_source != nullptr)
            mlt_producer_close(earlier_source);
    }
};

// A number as the engine takes it, held to the range MLT offers.
int64_t held(const SettingInfo& setting, int64_t value)
{
    return std::max(setting.minimum, std::min(setting.maximum, value));
}

// "tff" at the frame's place: 0 or 1, or -1 for the frame's own order.
int given_field_order(mlt_filter filter, mlt_frame frame)
{
    mlt_properties properties = MLT_FILTER_PROPERTIES(filter);
    if (mlt_properties_get(properties, "tff") == nullptr)
        return -1;
    return mlt_properties_anim_get_int(properties, "tff", mlt_filter_get_position(filter, frame),
                                       mlt_filter_get_length2(filter, frame));
}

// Interlaced unless the frame, or where it does not say the profile, says
// progressive; a field order given in "tff" says interlaced, as --tff and
// --bff do on the command line.
bool is_interlaced(mlt_filter filter, mlt_frame frame)
{
    if (given_field_order(filter, frame) >= 0)
        return true;
    mlt_properties frame_properties = MLT_FRAME_PROPERTIES(frame);
    if (mlt_properties_get(frame_properties, "progressive") != nullptr)
        return mlt_properties_get_int(frame_properties, "progressive") == 0;
    const mlt_profile profile = mlt_service_profile(MLT_FILTER_SERVICE(filter));
    return profile != nullptr && profile->progressive == 0;
}

// The rectangle is MLT's "rect": "x y w h", keyframable, in the profile's
// pixels or, with '%', in hundredths of its size. Unset, the whole picture.
mlt_rect rect_at(mlt_properties properties, mlt_profile profile, int position, int length)
{
    const double picture_w = profile != nullptr ? profile->width : 65536;
    const double picture_h = profile != nullptr ? profile->height : 65536;
    const char* text = mlt_properties_get(properties, "rect");
    if (text == nullptr)
        return {0, 0, picture_w, picture_h, 1};
    mlt_rect rect = mlt_properties_anim_get_rect(properties, "rect", position, length);
    if (std::strchr(text, '%') != nullptr) {
        rect.x *= picture_w;
        rect.w *= picture_w;
        rect.y *= picture_h;
        rect.h *= picture_h;
    }
    return rect;
}

// The command line's names of the rectangle's edges, the keys of the
// settings MLT holds in "rect". MLT reserves "width" and "height" (its XML
// writer drops them), so each name is folded into "rect" as it is set, and
// cleared: a saved project holds "rect" alone.
double mlt_rect::*rect_component(SettingId id)
{
    switch (id) {
    case SETTING_LEFT:
        return &mlt_rect::x;
    case SETTING_TOP:
        return &mlt_rect::y;
    case SETTING_WIDTH:
        return &mlt_rect::w;
    default:
        return &mlt_rect::h;
    }
}

bool is_in_rect(const SettingInfo& setting)
{
    return std::strcmp(setting_mlt_name(&setting), "rect") == 0;
}

// The positions of a property's keyframes; 0 alone for a fixed value.
std::vector<int> key_positions(mlt_properties properties, const char* name, int length)
{
    std::vector<int> positions = {0};
    mlt_properties_anim_get_double(properties, name, 0, length);
    mlt_animation animation = mlt_properties_get_animation(properties, name);
    const int count = animation != nullptr ? mlt_animation_key_count(animation) : 0;
    mlt_animation_item_s item = {};
    item.property = mlt_property_init();
    for (int i = 0; i < count; ++i) {
        if (mlt_animation_key_get(animation, &item, i) == 0)
            positions.push_back(item.frame);
    }
    mlt_property_close(item.property);
    return positions;
}

// Puts the value of `setting` into "rect" at each keyframe of either, keeping
// the other components as they are there.
void fold_into_rect(mlt_filter filter, const SettingInfo& setting)
{
    const char* name = setting.key;
    const SettingId id = static_cast<SettingId>(&setting - setting_table);
    const bool horizontal = id == SETTING_LEFT || id == SETTING_WIDTH;
    mlt_properties properties = MLT_FILTER_PROPERTIES(filter);
    mlt_profile profile = mlt_service_profile(MLT_FILTER_SERVICE(filter));
    const int length = mlt_filter_get_length(filter);
    std::vector<int> positions = key_positions(properties, name, length);
    const bool animated = mlt_properties_is_anim(properties, name) ||
                          (mlt_properties_get(properties, "rect") != nullptr && mlt_properties_is_anim(properties, "rect"));
    if (mlt_properties_get(properties, "rect") != nullptr) {
        const std::vector<int> rect_keys = key_positions(properties, "rect", length);
        positions.insert(positions.end(), rect_keys.begin(), rect_keys.end());
    }
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    std::vector<mlt_rect> rects;
    for (int position : positions) {
        mlt_rect rect = rect_at(properties, profile, position, length);
        const double value = mlt_properties_anim_get_double(properties, name, position, length);
        const double picture = profile == nullptr ? 65536 : horizontal ? profile->width : profile->height;
        const double start = horizontal ? rect.x : rect.y;
        // A size of -1 reaches the picture's edge.
        rect.*rect_component(id) = setting.to_picture_edge && value < 0 ? picture - start : value;
        rect.o = 1;
        rects.push_back(rect);
    }
    mlt_properties_set(properties, "rect", nullptr);
    if (!animated)
        mlt_properties_set_rect(properties, "rect", rects.front());
    for (size_t i = 0; animated && i < positions.size(); ++i)
        mlt_properties_anim_set_rect(properties, "rect", rects[i], positions[i], length, mlt_keyframe_linear);
    mlt_properties_set(properties, name, nullptr);
}

void property_changed(mlt_properties, void* data, mlt_event_data event)
{
    const char* name = mlt_event_data_to_string(event);
    auto filter = static_cast<mlt_filter>(data);
    for (const SettingInfo& setting : setting_table) {
        const char* value = name != nullptr && is_in_rect(setting) && std::strcmp(name, setting.key) == 0
                                ? mlt_properties_get(MLT_FILTER_PROPERTIES(filter), name)
                                : nullptr;
        if (value != nullptr && value[0] != '\0')
            fold_into_rect(filter, setting);
    }
}

// The settings at the frame's place in the filter, with the frame's own
// field order unless "tff" is 0 or 1.
EffectSettings settings_for(mlt_filter filter, mlt_frame frame, int w, int h)
{
    mlt_properties properties = MLT_FILTER_PROPERTIES(filter);
    const int position = mlt_filter_get_position(filter, frame);
    const int length = mlt_filter_get_length2(filter, frame);
    // Every other setting by its MLT name; what needs other frames of the
    // clip MLT does not hand a filter, and the field order is below.
    EffectSettings settings;
    for (const SettingInfo& setting : setting_table) {
        const char* name = setting_mlt_name(&setting);
        if (is_in_rect(setting) || setting.needs_other_frames || setting.from_stream ||
            mlt_properties_get(properties, name) == nullptr)
            continue;
        const SettingId id = static_cast<SettingId>(&setting - setting_table);
        if (setting.kind == SETTING_CHOICE) {
            const int32_t value = setting_choice_value(&setting, mlt_properties_get(properties, name));
            set_setting_value(&settings, id, value >= 0 ? value : setting.default_value);
            continue;
        }
        // The seed's 32 bits are more than MLT's int, which its keyframes are.
        const int64_t value = setting.is_unsigned ? mlt_properties_get_int64(properties, name)
                                                  : mlt_properties_anim_get_int(properties, name, position, length);
        set_setting_value(&settings, id, setting.kind == SETTING_SWITCH ? value != 0 : held(setting, value));
    }
    // The rectangle in the frame's pixels: a preview may render smaller
    // than the profile. Its edges are rounded, so that a moving rectangle
    // keeps its size.
    mlt_profile profile = mlt_service_profile(MLT_FILTER_SERVICE(filter));
    const mlt_rect rect = rect_at(properties, profile, position, length);
    const double scale_x = mlt_profile_scale_width(profile, w), scale_y = mlt_profile_scale_height(profile, h);
    auto edge = [](double value) { return static_cast<int>(std::max(0.0, std::min(65536.0, std::nearbyint(value)))); };
    settings.left = edge(rect.x * scale_x);
    settings.top = edge(rect.y * scale_y);
    settings.width = std::max(0, edge((rect.x + rect.w) * scale_x) - settings.left);
    settings.height = std::max(0, edge((rect.y + rect.h) * scale_y) - settings.top);

    mlt_properties frame_properties = MLT_FRAME_PROPERTIES(frame);
    const int tff = given_field_order(filter, frame);
    if (tff >= 0)
        settings.top_field_first = tff != 0;
    else if (mlt_properties_get_int(frame_properties, "progressive"))
        settings.top_field_first = 1;
    else
        settings.top_field_first = mlt_properties_get(frame_properties, "top_field_first") == nullptr ||
                                   mlt_properties_get_int(frame_properties, "top_field_first") != 0;

    return settings;
}

// The picture MLT handed over. Subsampled rows of odd width or height are
// cut by MLT's own plane layout, so the last odd column or row is left out.
bool picture_of(mlt_image_format format, uint8_t* image, int w, int h, mlt_properties frame_properties,
                YuvPicture* picture)
{
    *picture = YuvPicture{};
    YuvLayout& layout = picture->layout;
    const char* range = mlt_properties_get(frame_properties, "color_range");
    layout.full_range = mlt_properties_get_int(frame_properties, "full_range") != 0 ||
                        (range != nullptr && (std::strcmp(range, "pc") == 0 || std::strcmp(range, "jpeg") == 0 ||
                                              std::strcmp(range, "full") == 0));
    uint8_t* planes[4] = {};
    int strides[4] = {};
    switch (format) {
    case mlt_image_yuv422:
        picture->packing = YUV_YUYV;
        layout.chroma_shift_y = 0;
        picture->width = w & ~1;
        picture->height = h;
        picture->data[0] = image;
        picture->linesize[0] = w * 2;
        return true;
    case mlt_image_yuv420p:
        layout.chroma_shift_y = 1;
        picture->width = w & ~1;
        picture->height = h & ~1;
        break;
    case mlt_image_yuv422p16:
        // 16-bit samples, converted with 12 bits.
        layout.depth = 12;
        picture->sample_shift = 4;
        layout.chroma_shift_y = 0;
        picture->width = w & ~1;
        picture->height = h;
        break;
    default:
        return false;
    }
    mlt_image_format_planes(format, w, h, image, planes, strides);
    // MLT 7.12 puts yuv420p's V plane inside its U plane (64x48: 56 bytes
    // after its start); it follows the U plane's rows.
    if (format == mlt_image_yuv420p)
        planes[2] = planes[1] + static_cast<ptrdiff_t>(strides[1]) * (h / 2);
    for (int p = 0; p < 3; ++p) {
        picture->data[p] = planes[p];
        picture->linesize[p] = strides[p];
    }
    return true;
}

// The formats taken without a conversion; anything else as yuv422.
mlt_image_format format_taken(mlt_image_format asked)
{
    return asked == mlt_image_yuv420p || asked == mlt_image_yuv422p16 ? asked : mlt_image_yuv422;
}

// The frame being filtered, for the frame comb's earlier frames, and the
// image of the one last asked for.
struct EarlierFrames {
    mlt_filter filter;
    mlt_frame frame;
    int asked_width, asked_height;  // what the frame was asked for
    mlt_image_format format;        // what it got
    int width, height;
    mlt_frame fetched;
};

// The frame comb ("3d") reads the composite signals of earlier frames; the
// engine's history holds those filtered before, and those it lacks (after
// a seek, or when frames are drawn out of order) are asked for here: the
// same position of the source, from the filter's own producer of it, as
// the frame's producer would give it.
int earlier_picture(void* host, int32_t number, YuvPicture* picture)
{
    auto* earlier = static_cast<EarlierFrames*>(host);
    auto* instance = static_cast<Instance*>(earlier->filter->child);
    mlt_producer original = mlt_frame_get_original_producer(earlier->frame);
    if (original != nullptr && mlt_producer_is_cut(original))
        original = mlt_producer_cut_parent(original);
    const char* resource = original != nullptr ? mlt_properties_get(MLT_PRODUCER_PROPERTIES(original), "resource") : nullptr;
    if (resource == nullptr)
        return 0;
    if (instance->earlier_source == nullptr || instance->earlier_resource != resource) {
        if (instance->earlier_source != nullptr)
            mlt_producer_close(instance->earlier_source);
        instance->earlier_source = mlt_factory_producer(mlt_service_profile(MLT_FILTER_SERVICE(earlier->filter)),
                                                        nullptr, resource);
        instance->earlier_resource = resource;
    }
    mlt_producer source = instance->earlier_source;
    if (source == nullptr)
        return 0;
    mlt_producer_seek(source, number);
    mlt_frame fetched = nullptr;
    if (mlt_service_get_frame(MLT_PRODUCER_SERVICE(source), &fetched, 0) != 0 || fetched == nullptr)
        return 0;
    earlier->fetched = fetched;
    // What the consumer asks of every frame (field order, scaling), as for the frame itself.
    mlt_properties asked = MLT_FRAME_PROPERTIES(earlier->frame);
    for (int i = 0; i < mlt_properties_count(asked); ++i) {
        const char* name = mlt_properties_get_name(asked, i);
        if (std::strncmp(name, "consumer.", 9) == 0)
            mlt_properties_set(MLT_FRAME_PROPERTIES(fetched), name, mlt_properties_get_value(asked, i));
    }
    uint8_t* image = nullptr;
    mlt_image_format format = earlier->format;
    int width = earlier->asked_width, height = earlier->asked_height;
    // Only that position of the source, at the frame's size, will do.
    if (mlt_frame_original_position(fetched) != number ||
        mlt_frame_get_image(fetched, &image, &format, &width, &height, 0) != 0 || image == nullptr ||
        format != earlier->format || width != earlier->width || height != earlier->height ||
        !picture_of(format, image, width, height, MLT_FRAME_PROPERTIES(fetched), picture))
        return 0;
    picture->interlaced = is_interlaced(earlier->filter, fetched);
    return 1;
}

void release_earlier(void* host, int32_t)
{
    auto* earlier = static_cast<EarlierFrames*>(host);
    mlt_frame_close(earlier->fetched);
    earlier->fetched = nullptr;
}

int get_image(mlt_frame frame, uint8_t** image, mlt_image_format* format, int* width, int* height, int)
{
    mlt_filter filter = static_cast<mlt_filter>(mlt_frame_pop_service(frame));
    auto* instance = static_cast<Instance*>(filter->child);
    *format = format_taken(*format);
    EarlierFrames earlier = {filter, frame, *width, *height, mlt_image_none, 0, 0, nullptr};
    const int error = mlt_frame_get_image(frame, image, format, width, height, 1);
    if (error != 0 || *image == nullptr || *width <= 0 || *height <= 0)
        return error;
    earlier.format = *format;
    earlier.width = *width;
    earlier.height = *height;
    YuvPicture picture;
    if (!picture_of(*format, *image, *width, *height, MLT_FRAME_PROPERTIES(frame), &picture)) {
        mlt_log_warning(MLT_FILTER_SERVICE(filter), "cannot take this frame's image format (%s): left as it is\n",
                        mlt_image_format_name(*format));
        return 0;
    }
    picture.interlaced = is_interlaced(filter, frame);
    if (!yuv_picture_is_usable(&picture))
        return 0;
    std::lock_guard<std::mutex> lock(instance->mutex);
    const EffectSettings settings = settings_for(filter, frame, picture.width, picture.height);
    // The frame's place in its source, which trimming, playlists and
    // timelines leave alone (the frame's own position is the timeline's
    // by now). Only the low bits reach the carrier's sequence.
    const int32_t number = static_cast<int32_t>(mlt_frame_original_position(frame));
    const EarlierPictures pictures = {&earlier, earlier_picture, release_earlier};
    if (!apply_effects_to_yuv(&instance->effects, &settings, &picture, number, &pictures))
        mlt_log_error(MLT_FILTER_SERVICE(filter), "out of memory for a %dx%d frame: left as it is\n", *width, *height);
    return 0;
}

mlt_frame filter_process(mlt_filter filter, mlt_frame frame)
{
    mlt_frame_push_service(frame, filter);
    mlt_frame_push_get_image(frame, get_image);
    return frame;
}

void filter_close(mlt_filter filter)
{
    delete static_cast<Instance*>(filter->child);
    filter->child = nullptr;
    filter->close = nullptr;
    filter->parent.close = nullptr;
    mlt_service_close(&filter->parent);
}

void* filter_init(mlt_profile, mlt_service_type, const char*, char*)
{
    mlt_filter filter = mlt_filter_new();
    if (filter == nullptr)
        return nullptr;
    auto* instance = new (std::nothrow) Instance;
    if (instance == nullptr) {
        mlt_filter_close(filter);
        return nullptr;
    }
    filter->child = instance;
    mlt_events_listen(MLT_FILTER_PROPERTIES(filter), filter, "property-changed", property_changed);
    filter->process = filter_process;
    filter->close = filter_close;
    return filter;
}

mlt_properties metadata(mlt_service_type, const char*, void* data)
{
    char path[PATH_MAX];
    std::snprintf(path, sizeof path, "%s/norel/%s", mlt_environment("MLT_DATA"), static_cast<const char*>(data));
    return mlt_properties_parse_yaml(path);
}

}  // namespace

NOREL_EXPORT void mlt_register(mlt_repository repository)
{
    MLT_REGISTER(mlt_service_filter_type, "norel", filter_init);
    MLT_REGISTER_METADATA(mlt_service_filter_type, "norel", metadata, const_cast<char*>("filter_norel.yml"));
}

