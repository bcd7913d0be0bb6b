// Our declarations of the 64-bit editor's filter plug-in interface, in its
// x86-64 Windows layout: pointers and 64-bit integers are 8 bytes, int is 4,
// bool 1, wchar_t is a UTF-16 unit, and every callback uses the platform's one
// calling convention. Only what this plug-in and its test host touch is
// declared by name; the host's other services are padding of the right size.
//
// The host finds the plug-in through one export, GetFilterPluginTable, and
// keeps the table it returns for the life of the DLL.
#pragma once

#include <cstddef>
#include <cstdint>

// A track bar. The host writes the current value into `value` before every
// call of the video callback and only reads the other fields.
struct aviutl2_filter_item_track {
    const wchar_t* type;  // filter2_item_type_track
    const wchar_t* name;
    double value;
    double s;             // range, inclusive
    double e;
    double step;          // 1.0, 0.1, 0.01 or 0.001
    const wchar_t* zero_display;  // text shown for 0 instead of the number; null: the number
    double slider_ratio;  // slider travel over the value range; 1.0: the range itself
};

// A check box; `value` is written by the host as `value` of a track is.
struct aviutl2_filter_item_check {
    const wchar_t* type;  // filter2_item_type_check
    const wchar_t* name;
    bool value;
};

constexpr const wchar_t* filter2_item_type_track = L"track2";
constexpr const wchar_t* filter2_item_type_check = L"check";

// Bytes R, G, B, A in memory order.
struct aviutl2_pixel_rgba {
    uint8_t r, g, b, a;
};

struct aviutl2_scene_info {
    int width, height;
    int rate, scale;  // frames per second: rate / scale
    int sample_rate;
};

// The object being drawn. The host's record continues past `height`; this
// plug-in reads nothing beyond it.
struct aviutl2_object_info {
    int64_t id;
    int frame;        // the current frame, counted from the object's first frame (0)
    int frame_total;  // the object's length in frames
    double time;      // the same two in seconds
    double time_total;
    int width, height;  // the object's picture as the video callback sees it
};

// What the video callback is handed. get_image_data fills a buffer of
// object->width * object->height pixels, rows without gaps; set_image_data
// replaces the object's picture with one of the given size.
struct aviutl2_filter_proc_video {
    const aviutl2_scene_info* scene;
    const aviutl2_object_info* object;
    void (*get_image_data)(aviutl2_pixel_rgba* buffer);
    void (*set_image_data)(const aviutl2_pixel_rgba* buffer, int width, int height);
    void* services_4_to_34[31];  // texture, drawing, resource and shader services
    void* userdata;               // what func_create returned for this effect instance
    // The host's record continues with services this plug-in does not call.
};

struct aviutl2_filter_proc_audio;

// The flags of a filter plug-in table.
enum : int {
    FILTER2_FLAG_VIDEO = 1,      // a video filter on single objects
    FILTER2_FLAG_AUDIO = 2,
    FILTER2_FLAG_INPUT = 4,      // a media object of its own
    FILTER2_FLAG_FILTER = 8,     // also a filter object over the whole scene (same picture size)
    FILTER2_FLAG_USERDATA = 16,  // func_create and func_destroy are called per effect instance
};

struct aviutl2_filter_plugin_table {
    int flag;
    const wchar_t* name;
    const wchar_t* label;        // the category shown by the host; null: its default
    const wchar_t* information;
    void** items;                // pointers to track and check records, null-terminated
    // Returning false makes the host stop the filters after this one and the output.
    bool (*func_proc_video)(aviutl2_filter_proc_video* video);
    bool (*func_proc_audio)(aviutl2_filter_proc_audio* audio);
    // Called for every effect instance the host creates, also one not on
    // any object, and once for its end, after every copy of it (undo
    // history included) is gone. The ids are unique for the host's run.
    void* (*func_create)(int64_t effect_id);
    void (*func_destroy)(int64_t effect_id, void* userdata);
};

typedef aviutl2_filter_plugin_table* (*GetFilterPluginTableFunction)(void);

#if defined(_WIN64)
static_assert(sizeof(aviutl2_filter_item_track) == 64, "track item: 8 words");
static_assert(sizeof(aviutl2_filter_item_check) == 24, "check item: 2 pointers and a bool");
static_assert(offsetof(aviutl2_object_info, width) == 32, "width follows the two times");
static_assert(offsetof(aviutl2_filter_proc_video, userdata) == 35 * 8, "userdata is word 35");
static_assert(offsetof(aviutl2_filter_plugin_table, func_destroy) == 8 * 8,
              "func_destroy is the ninth word");
#endif
