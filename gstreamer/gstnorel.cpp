// The GStreamer element "norel": the effects over the stream's own YUV, in
// place, with the field order from the caps and the buffer flags and the
// frame number from the buffer's stream time and the caps' frame rate.
#include <gst/gst.h>
#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "effects/yuv_frame.h"

#ifndef NOREL_VERSION
#define NOREL_VERSION "0"
#endif

GST_DEBUG_CATEGORY_STATIC(norel_debug);
#define GST_CAT_DEFAULT norel_debug

namespace {

enum FieldOrderChoice { FIELD_ORDER_AUTO = -1, FIELD_ORDER_BFF = 0, FIELD_ORDER_TFF = 1 };

// The composite signals of the last frames, kept for the frame comb ("3d")
// of a later frame: frame n's partner is n - 1 (NTSC) or n - 2 (PAL).
constexpr int kept_frames = 3;
struct KeptComposite {
    PIXEL_YC* pixels;
    int32_t number;
    bool valid;
};

struct GstNorel {
    GstVideoFilter parent;
    // Properties, written by any thread under the object lock.
    EffectSettings settings;
    int32_t width_setting;  // -1: to the picture's right edge
    int32_t height_setting; // -1: to the picture's bottom edge
    int tff;                // FieldOrderChoice
    // Streaming thread only.
    YuvEffects effects;
    YuvPicture layout;      // the negotiated format; planes and sizes set per frame
    KeptComposite kept[kept_frames];
    size_t kept_pixels;     // the size of each kept frame
};

struct GstNorelClass {
    GstVideoFilterClass parent_class;
};

enum {
    PROP_0,
    PROP_LEFT,
    PROP_WIDTH,
    PROP_TOP,
    PROP_HEIGHT,
    PROP_SHIFT,
    PROP_FREQ,
    PROP_PHASE,
    PROP_TFF,
    PROP_CY,
    PROP_LPF,
    PROP_MONO,
    PROP_SHOW_RANGE,
    PROP_DECODE,
    PROP_CHROMA_BANDWIDTH,
    PROP_SATURATION,
    PROP_HUE,
    PROP_STANDARD,
    PROP_DELAY_LINE,
};

// The largest rectangle edge or size taken, as on the command line: more
// than any picture, since the rectangle is cut to the picture.
constexpr int largest_rectangle = 65536;

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

GType decode_type()
{
    static GType type = 0;
    if (g_once_init_enter(&type)) {
        static const GEnumValue values[] = {
            {DECODE_OFF, "No decoding: the composite signal itself is shown", "off"},
            {DECODE_NOTCH, "A horizontal notch at the carrier", "notch"},
            {DECODE_2LINE, "Comb over this field line and the one above", "2line"},
            {DECODE_3LINE, "Comb over the field lines above and below", "3line"},
            {DECODE_3D, "Motion-adaptive frame comb with the previous frame's (PAL: two frames back) composite signal; 3line where it was not seen, as on the first frame", "3d"},
            {0, nullptr, nullptr},
        };
        g_once_init_leave(&type, g_enum_register_static("GstNorelDecode", values));
    }
    return type;
}

GType standard_type()
{
    static GType type = 0;
    if (g_once_init_enter(&type)) {
        static const GEnumValue values[] = {
            {STANDARD_NTSC, "NTSC: 3.579545 MHz, the carrier inverted every field line", "ntsc"},
            {STANDARD_PAL, "PAL: 4.43361875 MHz with the V switch", "pal"},
            {0, nullptr, nullptr},
        };
        g_once_init_leave(&type, g_enum_register_static("GstNorelStandard", values));
    }
    return type;
}

GType bandwidth_type()
{
    static GType type = 0;
    if (g_once_init_enter(&type)) {
        static const GEnumValue values[] = {
            {CHROMA_WIDE, "About 1.3 MHz, a studio monitor", "wide"},
            {CHROMA_NARROW, "About 0.5 MHz, a consumer set", "narrow"},
            {0, nullptr, nullptr},
        };
        g_once_init_leave(&type, g_enum_register_static("GstNorelChromaBandwidth", values));
    }
    return type;
}

// Integer properties: one table, in the command line's units and ranges.
struct IntProperty {
    guint id;
    const char* name;
    const char* blurb;
    int minimum, maximum, default_value;
};

const IntProperty int_properties[] = {
    {PROP_LEFT, "left", "Left edge of the rectangle, in pixels", 0, largest_rectangle, 0},
    {PROP_WIDTH, "width", "Width of the rectangle, in pixels; -1: to the picture's right edge", -1,
     largest_rectangle, -1},
    {PROP_TOP, "top", "Top edge of the rectangle, in rows", 0, largest_rectangle, 0},
    {PROP_HEIGHT, "height", "Height of the rectangle, in rows; -1: to the picture's bottom edge", -1,
     largest_rectangle, -1},
    {PROP_SHIFT, "shift", "Field shift, in sixteenths of a field line", -256, 256, 0},
    {PROP_FREQ, "freq", "Subcarrier frequency scale; 704 is 3.579545 MHz", 600, 750, 704},
    {PROP_PHASE, "phase", "Subcarrier phase offset, in degrees", -180, 180, 0},
    {PROP_SATURATION, "saturation", "Decoded colour saturation, in percent", saturation_min, saturation_max, 100},
    {PROP_HUE, "hue", "Decoder's hue (tint), in degrees", hue_min, hue_max, 0},
};

struct BoolProperty {
    guint id;
    const char* name;
    const char* blurb;
    gboolean default_value;
};

const BoolProperty bool_properties[] = {
    {PROP_CY, "cy", "C/Y: fold the colour onto a subcarrier in the luma", FALSE},
    {PROP_LPF, "lpf", "Vertical 11-tap low-pass filter", TRUE},
    {PROP_MONO, "mono", "Drop the colour inside the rectangle", FALSE},
    {PROP_SHOW_RANGE, "show-range", "Show the rectangle inverted instead of any effect, to place it", FALSE},
    {PROP_DELAY_LINE, "delay-line", "PAL decoder: average the colour over two field lines (off: simple PAL)", TRUE},
};

int32_t* int_setting(GstNorel* self, guint id)
{
    switch (id) {
    case PROP_LEFT: return &self->settings.left;
    case PROP_WIDTH: return &self->width_setting;
    case PROP_TOP: return &self->settings.top;
    case PROP_HEIGHT: return &self->height_setting;
    case PROP_SHIFT: return &self->settings.shift;
    case PROP_FREQ: return &self->settings.freq;
    case PROP_PHASE: return &self->settings.phase;
    case PROP_SATURATION: return &self->settings.decode.saturation;
    case PROP_HUE: return &self->settings.decode.hue;
    case PROP_DECODE: return &self->settings.decode.mode;
    case PROP_CHROMA_BANDWIDTH: return &self->settings.decode.bandwidth;
    case PROP_STANDARD: return &self->settings.standard;
    default: return nullptr;
    }
}

int* flag_setting(GstNorel* self, guint id)
{
    switch (id) {
    case PROP_CY: return &self->settings.composite;
    case PROP_LPF: return &self->settings.lpf;
    case PROP_MONO: return &self->settings.mono;
    case PROP_SHOW_RANGE: return &self->settings.show_range;
    case PROP_DELAY_LINE: return &self->settings.decode.delay_line;
    case PROP_TFF: return &self->tff;
    default: return nullptr;
    }
}

G_DEFINE_TYPE(GstNorel, gst_norel, GST_TYPE_VIDEO_FILTER)

#define GST_NOREL(obj) (reinterpret_cast<GstNorel*>(obj))

void gst_norel_set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    GstNorel* self = GST_NOREL(object);
    GST_OBJECT_LOCK(self);
    if (int32_t* setting = int_setting(self, id))
        *setting = G_VALUE_HOLDS_ENUM(value) ? g_value_get_enum(value) : g_value_get_int(value);
    else if (id == PROP_TFF)
        self->tff = g_value_get_enum(value);
    else if (int* flag = flag_setting(self, id))
        *flag = g_value_get_boolean(value) ? 1 : 0;
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    GST_OBJECT_UNLOCK(self);
}

void gst_norel_get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    GstNorel* self = GST_NOREL(object);
    GST_OBJECT_LOCK(self);
    if (int32_t* setting = int_setting(self, id)) {
        if (G_VALUE_HOLDS_ENUM(value))
            g_value_set_enum(value, *setting);
        else
            g_value_set_int(value, *setting);
    } else if (id == PROP_TFF) {
        g_value_set_enum(value, self->tff);
    } else if (int* flag = flag_setting(self, id)) {
        g_value_set_boolean(value, *flag != 0);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
    GST_OBJECT_UNLOCK(self);
}

void forget_composites(GstNorel* self)
{
    for (KeptComposite& k : self->kept)
        k.valid = false;
}

void gst_norel_finalize(GObject* object)
{
    GstNorel* self = GST_NOREL(object);
    release_yuv_effects(&self->effects);
    for (KeptComposite& k : self->kept)
        std::free(k.pixels);
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
    // Composite signals of another stream are no frame's partner.
    forget_composites(self);
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
    settings.decode = clamp_decode_settings(settings.decode);
    const int32_t number = frame_number(GST_BASE_TRANSFORM(filter), info, frame->buffer);
    if (picture.width == 0 || picture.height == 0)
        return GST_FLOW_OK;
    // The frame comb: the partner's composite signal if it was kept, and
    // this frame's kept in place of the oldest. Frames are keyed by number,
    // so after a seek a partner is one only if it is that frame's own.
    const PIXEL_YC* partner = nullptr;
    PIXEL_YC* composite = nullptr;
    if (settings.composite && settings.decode.mode == DECODE_3D) {
        const size_t pixels = static_cast<size_t>(picture.width) * picture.height;
        if (pixels != self->kept_pixels) {
            for (KeptComposite& k : self->kept) {
                std::free(k.pixels);
                k = KeptComposite{static_cast<PIXEL_YC*>(std::malloc(pixels * sizeof(PIXEL_YC))), 0, false};
            }
            self->kept_pixels = pixels;
        }
        const int32_t partner_number = comb_partner_frame(&settings, number);
        KeptComposite* slot = nullptr;
        for (KeptComposite& k : self->kept) {
            if (k.valid && k.number == partner_number)
                partner = k.pixels;
        }
        for (KeptComposite& k : self->kept) {
            if (k.pixels == nullptr || k.pixels == partner)
                continue;
            // The oldest, or one that holds nothing or a frame ahead of this one.
            if (slot == nullptr || !k.valid ||
                (slot->valid && static_cast<uint32_t>(number - k.number) > static_cast<uint32_t>(number - slot->number)))
                slot = &k;
        }
        if (slot != nullptr) {
            composite = slot->pixels;
            slot->number = number;
            slot->valid = true;
        }
    }
    if (!yuv_picture_is_usable(&picture)) {
        GST_WARNING_OBJECT(self, "a %dx%d frame whose planes the element cannot use (strides %d, %d, %d): passed on "
                                 "as it is", picture.width, picture.height, picture.linesize[0], picture.linesize[1],
                           picture.linesize[2]);
        return GST_FLOW_OK;
    }
    if (!apply_effects_to_yuv(&self->effects, &settings, &picture, number, partner, composite)) {
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
    for (const IntProperty& p : int_properties)
        g_object_class_install_property(object_class, p.id,
                                        g_param_spec_int(p.name, p.name, p.blurb, p.minimum, p.maximum, p.default_value, flags));
    for (const BoolProperty& p : bool_properties)
        g_object_class_install_property(object_class, p.id,
                                        g_param_spec_boolean(p.name, p.name, p.blurb, p.default_value, flags));
    g_object_class_install_property(
        object_class, PROP_TFF,
        g_param_spec_enum("tff", "tff", "Field order: top field first (on), bottom field first (off), or the stream's",
                          field_order_type(), FIELD_ORDER_AUTO, flags));
    g_object_class_install_property(
        object_class, PROP_DECODE,
        g_param_spec_enum("decode", "decode", "The television after C/Y: how luma and chroma are separated",
                          decode_type(), DECODE_OFF, flags));
    g_object_class_install_property(
        object_class, PROP_STANDARD,
        g_param_spec_enum("standard", "standard", "The colour standard of C/Y and the decoder",
                          standard_type(), STANDARD_NTSC, flags));
    g_object_class_install_property(
        object_class, PROP_CHROMA_BANDWIDTH,
        g_param_spec_enum("chroma-bandwidth", "chroma-bandwidth", "The decoder's chroma low-pass",
                          bandwidth_type(), CHROMA_WIDE, flags));

    gst_element_class_set_static_metadata(
        element_class, "norel", "Filter/Effect/Video",
        "Analogue composite video on interlaced pictures, inside a rectangle: colour folded onto a subcarrier "
        "in the luma, one field moved against the other, a vertical low-pass filter, colour removal. Field "
        "order from the caps and buffer flags; frame number from the stream time and the frame rate, or from "
        "the buffer offset when the caps have no rate",
        "the norel authors");
    GstCaps* caps = gst_caps_from_string(GST_VIDEO_CAPS_MAKE(NOREL_FORMATS));
    gst_element_class_add_pad_template(element_class, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, caps));
    gst_element_class_add_pad_template(element_class, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
    gst_caps_unref(caps);

    filter_class->set_info = gst_norel_set_info;
    filter_class->transform_frame_ip = gst_norel_transform_frame_ip;
    gst_type_mark_as_plugin_api(field_order_type(), static_cast<GstPluginAPIFlags>(0));
    gst_type_mark_as_plugin_api(decode_type(), static_cast<GstPluginAPIFlags>(0));
    gst_type_mark_as_plugin_api(bandwidth_type(), static_cast<GstPluginAPIFlags>(0));
    gst_type_mark_as_plugin_api(standard_type(), static_cast<GstPluginAPIFlags>(0));
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
