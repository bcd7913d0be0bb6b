// The GStreamer element "norel": the effects over the stream's own YUV, in
// place, with the field order from the caps and the buffer flags and the
// frame number from the buffer's stream time and the caps' frame rate.
#include <gst/gst.h>
#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <new>
#include <string>

#include "engine/settings_table.h"
#include "engine/yuv_frame.h"

#ifndef NOREL_VERSION
#define NOREL_VERSION "0"
#endif

GST_DEBUG_CATEGORY_STATIC(norel_debug);
#define GST_CAT_DEFAULT norel_debug

namespace {

enum FieldOrderChoice { FIELD_ORDER_AUTO = -1, FIELD_ORDER_BFF = 0, FIELD_ORDER_TFF = 1 };

struct GstNorel {
    GstVideoFilter parent;
    // Properties, written by any thread under the object lock.
    EffectSettings settings;
    int32_t width_setting;  // -1: to the picture's right edge
    int32_t height_setting; // -1: to the picture's bottom edge
    int32_t tff;            // FieldOrderChoice
    // Streaming thread only.
    YuvEffects effects;
    YuvPicture layout;      // the negotiated format; planes and sizes set per frame
};

struct GstNorelClass {
    GstVideoFilterClass parent_class;
};

// Properties are the settings table's, property id = setting id + 1, but
// those that read other frames of the clip, which a stream does not hand
// over ("60FPS", "合成モード"). The field order also takes the stream's own
// ("auto"), the rectangle's size "to the picture's edge" (-1).
guint property_id(SettingId id)
{
    return static_cast<guint>(id) + 1;
}

GType field_order_type()
{
    static GType type = 0;
    if (g_once_init_enter(&type)) {
        static const GEnumValue values[] = {
            {FIELD_ORDER_AUTO, "From the caps and the buffer flags; top field first for progressive video", "auto"},
            {FIELD_ORDER_TFF, "Top field first", "on"},
            {FIELD_ORDER_BFF, "Bottom field first", "off"},
            {0, nullptr, nullptr},
        };
        g_once_init_leave(&type, g_enum_register_static("GstNorelFieldOrder", values));
    }
    return type;
}

// A choice's enumeration, "GstNorel" and its key in camel case
// ("chroma-bandwidth": GstNorelChromaBandwidth), its values from the table.
GType choice_type(const SettingInfo& setting)
{
    std::string name = "GstNorel";
    for (const char* c = setting.key; *c != 0; ++c) {
        if (*c == '-')
            continue;
        name += c == setting.key || c[-1] == '-' ? static_cast<char>(std::toupper(*c)) : *c;
    }
    if (GType known = g_type_from_name(name.c_str()))
        return known;
    // Registered once, for the process's life, as GLib keeps them.
    auto* values = new GEnumValue[setting.choice_count + 1]();
    for (int i = 0; i < setting.choice_count; ++i)
        values[i] = {setting.choices[i].value, setting.choices[i].text, setting.choices[i].name};
    return g_enum_register_static(g_intern_string(name.c_str()), values);
}

// The field a property is kept in: the rectangle's size and the field
// order apart from the settings, for their own "unset" values.
int32_t* setting_field(GstNorel* self, guint id)
{
    if (id == 0 || id > SETTING_COUNT)
        return nullptr;
    const SettingId setting = static_cast<SettingId>(id - 1);
    if (setting_table[setting].needs_other_frames)
        return nullptr;
    switch (setting) {
    case SETTING_WIDTH: return &self->width_setting;
    case SETTING_HEIGHT: return &self->height_setting;
    case SETTING_TFF: return &self->tff;
    default:
        return reinterpret_cast<int32_t*>(reinterpret_cast<char*>(&self->settings) + setting_table[setting].offset);
    }
}

G_DEFINE_TYPE(GstNorel, gst_norel, GST_TYPE_VIDEO_FILTER)

#define GST_NOREL(obj) (reinterpret_cast<GstNorel*>(obj))

void gst_norel_set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    GstNorel* self = GST_NOREL(object);
    GST_OBJECT_LOCK(self);
    if (int32_t* setting = setting_field(self, id)) {
        if (G_VALUE_HOLDS_ENUM(value))
            *setting = g_value_get_enum(value);
        else if (G_VALUE_HOLDS_UINT(value))
            *reinterpret_cast<uint32_t*>(setting) = g_value_get_uint(value);
        else if (G_VALUE_HOLDS_BOOLEAN(value))
            *setting = g_value_get_boolean(value) ? 1 : 0;
        else
            *setting = g_value_get_int(value);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
    GST_OBJECT_UNLOCK(self);
}

void gst_norel_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    GstNorel* self = GST_NOREL(object);
    GST_OBJECT_LOCK(self);
    if (int32_t* setting = setting_field(self, id)) {
        if (G_VALUE_HOLDS_ENUM(value))
            g_value_set_enum(value, *setting);
        else if (G_VALUE_HOLDS_UINT(value))
            g_value_set_uint(value, *reinterpret_cast<const uint32_t*>(setting));
        else if (G_VALUE_HOLDS_BOOLEAN(value))
            g_value_set_boolean(value, *setting != 0);
        else
            g_value_set_int(value, *setting);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
    GST_OBJECT_UNLOCK(self);
}

void gst_norel_finalize(GObject* object)
{
    GstNorel* self = GST_NOREL(object);
    release_yuv_effects(&self->effects);
    G_OBJECT_CLASS(gst_norel_parent_class)->finalize(object);
}

// The layout of a negotiated format; false for one the element cannot take.
bool layout_of(const GstVideoInfo* info, YuvPicture* picture)
{
    *picture = YuvPicture{};
    YuvLayout& layout = picture->layout;
    switch (GST_VIDEO_INFO_FORMAT(info)) {
    case GST_VIDEO_FORMAT_I420: layout.chroma_shift_x = 1; layout.chroma_shift_y = 1; break;
    case GST_VIDEO_FORMAT_Y42B: layout.chroma_shift_x = 1; layout.chroma_shift_y = 0; break;
    case GST_VIDEO_FORMAT_Y444: layout.chroma_shift_x = 0; layout.chroma_shift_y = 0; break;
    case GST_VIDEO_FORMAT_I420_10LE: layout.depth = 10; layout.chroma_shift_x = 1; layout.chroma_shift_y = 1; break;
    case GST_VIDEO_FORMAT_I422_10LE: layout.depth = 10; layout.chroma_shift_x = 1; layout.chroma_shift_y = 0; break;
    case GST_VIDEO_FORMAT_Y444_10LE: layout.depth = 10; layout.chroma_shift_x = 0; layout.chroma_shift_y = 0; break;
    case GST_VIDEO_FORMAT_YUY2: picture->packing = YUV_YUYV; layout.chroma_shift_x = 1; layout.chroma_shift_y = 0; break;
    case GST_VIDEO_FORMAT_UYVY: picture->packing = YUV_UYVY; layout.chroma_shift_x = 1; layout.chroma_shift_y = 0; break;
    default: return false;
    }
    layout.full_range = GST_VIDEO_INFO_COLORIMETRY(info).range == GST_VIDEO_COLOR_RANGE_0_255;
    return true;
}

gboolean gst_norel_set_info(GstVideoFilter* filter, GstCaps*, GstVideoInfo* in_info, GstCaps*, GstVideoInfo*)
{
    GstNorel* self = GST_NOREL(filter);
    if (GST_VIDEO_INFO_INTERLACE_MODE(in_info) == GST_VIDEO_INTERLACE_MODE_ALTERNATE ||
        GST_VIDEO_INFO_INTERLACE_MODE(in_info) == GST_VIDEO_INTERLACE_MODE_FIELDS) {
        GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("norel takes whole frames, not separate fields"),
                          ("interlace-mode %s", gst_video_interlace_mode_to_string(GST_VIDEO_INFO_INTERLACE_MODE(in_info))));
        return FALSE;
    }
    if (!layout_of(in_info, &self->layout)) {
        GST_ELEMENT_ERROR(self, STREAM, FORMAT, ("norel cannot take %s video", GST_VIDEO_INFO_NAME(in_info)), (nullptr));
        return FALSE;
    }
    // The frame comb's history holds another stream's frames.
    release_yuv_effects(&self->effects);
    return TRUE;
}

// Top field first unless the caps or the buffer say otherwise; progressive
// frames count as top field first, as on the command line.
int stream_top_field_first(const GstVideoInfo* info, const GstBuffer* buffer)
{
    const GstVideoInterlaceMode mode = GST_VIDEO_INFO_INTERLACE_MODE(info);
    if (mode == GST_VIDEO_INTERLACE_MODE_PROGRESSIVE)
        return 1;
    if (mode == GST_VIDEO_INTERLACE_MODE_MIXED && !GST_BUFFER_FLAG_IS_SET(buffer, GST_VIDEO_BUFFER_FLAG_INTERLACED))
        return 1;
    if (mode == GST_VIDEO_INTERLACE_MODE_INTERLEAVED) {
        if (GST_VIDEO_INFO_FIELD_ORDER(info) == GST_VIDEO_FIELD_ORDER_TOP_FIELD_FIRST)
            return 1;
        if (GST_VIDEO_INFO_FIELD_ORDER(info) == GST_VIDEO_FIELD_ORDER_BOTTOM_FIELD_FIRST)
            return 0;
    }
    return GST_BUFFER_FLAG_IS_SET(buffer, GST_VIDEO_BUFFER_FLAG_TFF) ? 1 : 0;
}

// Interlaced frames by the caps or, in mixed streams, the buffer's flag.
bool stream_interlaced(const GstVideoInfo* info, const GstBuffer* buffer)
{
    const GstVideoInterlaceMode mode = GST_VIDEO_INFO_INTERLACE_MODE(info);
    return mode == GST_VIDEO_INTERLACE_MODE_INTERLEAVED ||
           (mode == GST_VIDEO_INTERLACE_MODE_MIXED && GST_BUFFER_FLAG_IS_SET(buffer, GST_VIDEO_BUFFER_FLAG_INTERLACED));
}

// Only the low bits reach the carrier's sequence: frame numbers wrap.
int32_t wrapped(guint64 frame)
{
    return static_cast<int32_t>(static_cast<uint32_t>(frame));
}

// The frame's number in its stream: its stream time times the frame rate;
// without a rate (variable-rate streams) or a time, the buffer's offset,
// which raw video sources and parsers set to the frame's count; else 0.
int32_t frame_number(GstBaseTransform* transform, const GstVideoInfo* info, const GstBuffer* buffer)
{
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (GST_VIDEO_INFO_FPS_N(info) > 0 && GST_VIDEO_INFO_FPS_D(info) > 0 && GST_CLOCK_TIME_IS_VALID(pts)) {
        guint64 time = pts;
        if (transform->segment.format == GST_FORMAT_TIME) {
            const guint64 stream_time = gst_segment_to_stream_time(&transform->segment, GST_FORMAT_TIME, pts);
            if (GST_CLOCK_TIME_IS_VALID(stream_time))
                time = stream_time;
        }
        return wrapped(gst_util_uint64_scale_round(time, GST_VIDEO_INFO_FPS_N(info),
                                                   static_cast<guint64>(GST_VIDEO_INFO_FPS_D(info)) * GST_SECOND));
    }
    if (GST_BUFFER_OFFSET_IS_VALID(buffer))
        return wrapped(GST_BUFFER_OFFSET(buffer));
    return 0;
}

GstFlowReturn gst_norel_transform_frame_ip(GstVideoFilter* filter, GstVideoFrame* frame)
{
    GstNorel* self = GST_NOREL(filter);
    const GstVideoInfo* info = &frame->info;
    GST_OBJECT_LOCK(self);
    EffectSettings settings = self->settings;
    const int32_t width = self->width_setting, height = self->height_setting;
    const int tff = self->tff;
    GST_OBJECT_UNLOCK(self);

    YuvPicture picture = self->layout;
    picture.width = GST_VIDEO_FRAME_WIDTH(frame);
    picture.height = GST_VIDEO_FRAME_HEIGHT(frame);
    for (guint p = 0; p < GST_VIDEO_FRAME_N_PLANES(frame) && p < 3; ++p) {
        picture.data[p] = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(frame, p));
        picture.linesize[p] = GST_VIDEO_FRAME_PLANE_STRIDE(frame, p);
    }
    settings.width = width >= 0 ? width : std::max(0, picture.width - settings.left);
    settings.height = height >= 0 ? height : std::max(0, picture.height - settings.top);
    settings.top_field_first = tff == FIELD_ORDER_AUTO ? stream_top_field_first(info, frame->buffer) : tff;
    // A field order given says the frames are interlaced, as --tff does.
    picture.interlaced = tff != FIELD_ORDER_AUTO || stream_interlaced(info, frame->buffer);
    const int32_t number = frame_number(GST_BASE_TRANSFORM(filter), info, frame->buffer);
    if (picture.width == 0 || picture.height == 0)
        return GST_FLOW_OK;
    if (!yuv_picture_is_usable(&picture)) {
        GST_WARNING_OBJECT(self, "a %dx%d frame whose planes the element cannot use (strides %d, %d, %d): passed on "
                                 "as it is", picture.width, picture.height, picture.linesize[0], picture.linesize[1],
                           picture.linesize[2]);
        return GST_FLOW_OK;
    }
    // The frame comb ("3d") reads the frames that have passed, from the
    // engine's history by number: a stream hands over no earlier frame, so
    // after a seek a frame decodes as "3line" until those it reads have passed.
    if (!apply_effects_to_yuv(&self->effects, &settings, &picture, number)) {
        GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("norel: out of memory for a %dx%d frame", picture.width, picture.height),
                          (nullptr));
        return GST_FLOW_ERROR;
    }
    return GST_FLOW_OK;
}

#define NOREL_FORMATS "{ I420, Y42B, Y444, YUY2, UYVY, I420_10LE, I422_10LE, Y444_10LE }"

void gst_norel_class_init(GstNorelClass* klass)
{
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstVideoFilterClass* filter_class = GST_VIDEO_FILTER_CLASS(klass);
    object_class->set_property = gst_norel_set_property;
    object_class->get_property = gst_norel_get_property;
    object_class->finalize = gst_norel_finalize;

    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_CONTROLLABLE);
    for (int id = 0; id < SETTING_COUNT; ++id) {
        const SettingInfo& setting = setting_table[id];
        if (setting.needs_other_frames)
            continue;
        // Blurbs as the table's meaning, begun with a capital.
        std::string text = setting.meaning;
        text[0] = static_cast<char>(std::toupper(text[0]));
        if (setting.unit != nullptr)
            text += std::string(", in ") + setting.unit;
        if (setting.from_stream)
            text += std::string(" (off: ") + setting.off_meaning + "); auto: the stream's own";
        if (setting.to_picture_edge)
            text += std::string("; -1: to the picture's ") + (id == SETTING_WIDTH ? "right" : "bottom") + " edge";
        if (setting.own_default != nullptr)
            text += "; " + std::to_string(setting.minimum) + ": " + setting.own_default;
        const char* blurb = g_intern_string(text.c_str());
        GParamSpec* property;
        if (setting.from_stream)
            property = g_param_spec_enum(setting.key, setting.key, blurb, field_order_type(), FIELD_ORDER_AUTO, flags);
        else if (setting.kind == SETTING_SWITCH)
            property = g_param_spec_boolean(setting.key, setting.key, blurb, setting.default_value != 0, flags);
        else if (setting.kind == SETTING_CHOICE)
            property = g_param_spec_enum(setting.key, setting.key, blurb, choice_type(setting), setting.default_value, flags);
        else if (setting.to_picture_edge)
            property = g_param_spec_int(setting.key, setting.key, blurb, -1, static_cast<gint>(setting.maximum), -1, flags);
        else if (setting.is_unsigned)
            property = g_param_spec_uint(setting.key, setting.key, blurb, static_cast<guint>(setting.minimum),
                                         static_cast<guint>(setting.maximum), static_cast<guint>(setting.default_value),
                                         flags);
        else
            property = g_param_spec_int(setting.key, setting.key, blurb, static_cast<gint>(setting.minimum),
                                        static_cast<gint>(setting.maximum), static_cast<gint>(setting.default_value),
                                        flags);
        g_object_class_install_property(object_class, property_id(static_cast<SettingId>(id)), property);
    }

    gst_element_class_set_static_metadata(
        element_class, "norel", "Filter/Effect/Video",
        "Analogue composite video on interlaced pictures, inside a rectangle: colour folded onto a subcarrier "
        "in the luma, one field moved against the other, a vertical low-pass filter, colour removal, a VHS deck "
        "and the television's decoder. Field order from the caps and buffer flags; frame number (the carrier's "
        "sequence, the deck's noise) from the stream time and the frame rate, so that a seek gives the same "
        "frames, or from the buffer offset when the caps have no rate",
        "the norel authors");
    GstCaps* caps = gst_caps_from_string(GST_VIDEO_CAPS_MAKE(NOREL_FORMATS));
    gst_element_class_add_pad_template(element_class, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, caps));
    gst_element_class_add_pad_template(element_class, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
    gst_caps_unref(caps);

    filter_class->set_info = gst_norel_set_info;
    filter_class->transform_frame_ip = gst_norel_transform_frame_ip;
    gst_type_mark_as_plugin_api(field_order_type(), static_cast<GstPluginAPIFlags>(0));
    for (const SettingInfo& setting : setting_table) {
        if (setting.kind == SETTING_CHOICE)
            gst_type_mark_as_plugin_api(choice_type(setting), static_cast<GstPluginAPIFlags>(0));
    }
}

void gst_norel_init(GstNorel* self)
{
    new (&self->settings) EffectSettings();
    new (&self->effects) YuvEffects();
    self->width_setting = -1;
    self->height_setting = -1;
    self->tff = FIELD_ORDER_AUTO;
    self->settings.left = 0;
    self->settings.top = 0;
    // The whole rectangle is processed in place; nothing else is written.
    gst_base_transform_set_in_place(GST_BASE_TRANSFORM(self), TRUE);
}

gboolean plugin_init(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(norel_debug, "norel", 0, "norel");
    return gst_element_register(plugin, "norel", GST_RANK_NONE, gst_norel_get_type());
}

}  // namespace

#define PACKAGE "norel"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, norel,
                  "Analogue composite video effects over the stream's own YUV", plugin_init, NOREL_VERSION, "MIT",
                  "norel", "norel")
