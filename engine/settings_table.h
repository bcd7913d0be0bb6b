// Every setting of the effects once: its name in every host, its label,
// kind, unit, range, default and choices, and where EffectSettings keeps
// it. Hosts build their parameter lists from this table, and the engine
// makes any value safe with normalised_settings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/frame_effects.h"

enum SettingId : int {
    SETTING_LEFT,
    SETTING_WIDTH,
    SETTING_TOP,
    SETTING_HEIGHT,
    SETTING_SHIFT,
    SETTING_FREQ,
    SETTING_PHASE,
    SETTING_COMPOSE,
    SETTING_PAIRED_FIELDS,
    SETTING_TFF,
    SETTING_SHOW_RANGE,
    SETTING_MONO,
    SETTING_CY,
    SETTING_LPF,
    SETTING_DECODE,
    SETTING_SATURATION,
    SETTING_HUE,
    SETTING_CHROMA_BANDWIDTH,
    SETTING_STANDARD,
    SETTING_DELAY_LINE,
    SETTING_VHS,
    SETTING_SEED,
    SETTING_TAPE_NOISE,
    SETTING_HEAD_SWITCHING,
    SETTING_HEAD_SWITCHING_SHIFT,
    SETTING_TRACKING,
    SETTING_DROPOUTS,
    SETTING_DROPOUT_COMPENSATOR,
    SETTING_JITTER,
    SETTING_CHROMA_DELAY,
    SETTING_GENERATIONS,
    SETTING_COUNT
};

enum SettingKind : int {
    SETTING_NUMBER,  // a whole number in [minimum, maximum]
    SETTING_SWITCH,  // 0 off, 1 on
    SETTING_CHOICE,  // one of `choices`, by value
};

// One value of a choice: the name hosts take and show, and a line for a
// host's menu.
struct SettingChoice {
    int32_t value;
    const char* name;
    const char* text;
    // Needs earlier frames of the clip: left out where a host has none.
    bool needs_other_frames;
};

struct SettingInfo {
    // The command line's long option, the preset's and GStreamer's name,
    // and every host's where no name of its own is given below.
    const char* key = nullptr;
    // MLT's and frei0r's names where they differ from the key: neither
    // keeps a hyphen, and MLT reserves "width" and "height" for its own
    // frames and does not save them. MLT holds the rectangle as one "rect",
    // x y w h, into which it folds the keys as they are set; frei0r calls
    // its width and height rect_width and rect_height.
    const char* mlt_name = nullptr;
    const char* frei0r_name = nullptr;
    const char* label = nullptr;        // the editor's label, UTF-8
    const char* label_cp932 = nullptr;  // the same as the 32-bit editor stores it
    const char* meaning = nullptr;      // a line for --help and a host's description
    SettingKind kind = SETTING_NUMBER;
    const char* unit = nullptr;  // what a number counts; null for none
    int64_t minimum = 0;         // what the engine takes; a switch 0 to 1, a choice
    int64_t maximum = 1;         // its first to its last value
    int64_t default_value = 0;
    // The editor's track bar ends where they are narrower than the engine's
    // (the rectangle: at most 2048 there); 0, 0: the same.
    int64_t editor_minimum = 0, editor_maximum = 0;
    // EffectSettings keeps it as a uint32_t (the seed), else as an int32_t.
    bool is_unsigned = false;
    // A number whose default is the colour standard's or the tape format's
    // own: its minimum, below the numbers that are set, stands for that,
    // which this says; null for none.
    const char* own_default = nullptr;
    // The command line takes and shows the number in this unit, the
    // table's divided by cli_scale (the head switching's shift: us, kept in
    // ns), with as many decimals as cli_scale has zeros; null: the table's.
    const char* cli_unit = nullptr;
    int32_t cli_scale = 1;
    const SettingChoice* choices = nullptr;
    int choice_count = 0;
    const char* value_name = "N";  // what --help shows for the value
    // The engine holds the number to its range. The others the stages take
    // at any value (the rectangle is cut to the picture, the shift, freq
    // and phase are computed with): the range is what hosts offer.
    bool held_to_range = false;
    // Hosts that know the picture take an unset value as "to the picture's
    // edge": the rectangle's width and height.
    bool to_picture_edge = false;
    // Hosts that read a stream take the stream's own unless set: the field order.
    bool from_stream = false;
    // Needs other frames of the clip: left out where a host hands the
    // filter only the frame being drawn.
    bool needs_other_frames = false;
    // A switch's second option on the command line, which sets it off
    // ("bff" for "tff"), and what it means; null for none.
    const char* off_option = nullptr;
    const char* off_meaning = nullptr;
    size_t offset = 0;  // where EffectSettings keeps it
};

extern const SettingInfo setting_table[SETTING_COUNT];

inline int64_t setting_value(const EffectSettings* settings, SettingId id)
{
    const char* field = reinterpret_cast<const char*>(settings) + setting_table[id].offset;
    if (setting_table[id].is_unsigned)
        return *reinterpret_cast<const uint32_t*>(field);
    return *reinterpret_cast<const int32_t*>(field);
}

// Kept as the field holds it: an int32_t's or a uint32_t's low 32 bits.
inline void set_setting_value(EffectSettings* settings, SettingId id, int64_t value)
{
    char* field = reinterpret_cast<char*>(settings) + setting_table[id].offset;
    if (setting_table[id].is_unsigned)
        *reinterpret_cast<uint32_t*>(field) = static_cast<uint32_t>(value);
    else
        *reinterpret_cast<int32_t*>(field) = static_cast<int32_t>(value);
}

// The setting with that key; null for none.
const SettingInfo* setting_by_key(const char* key);

// Its name in MLT and in frei0r.
const char* setting_mlt_name(const SettingInfo* setting);
const char* setting_frei0r_name(const SettingInfo* setting);

// The track bar's ends in the editor.
int64_t setting_editor_minimum(const SettingInfo* setting);
int64_t setting_editor_maximum(const SettingInfo* setting);

// A choice's value by its name; -1 for a name that is none.
int32_t setting_choice_value(const SettingInfo* setting, const char* name);
// A choice's name; the default's for a value that is none.
const char* setting_choice_name(const SettingInfo* setting, int64_t value);

// A value as the engine takes it: a number held to its range where the
// table says so, a switch on for any non-zero value, a choice that is
// none its default.
int64_t normalised_value(const SettingInfo* setting, int64_t value);

// Every setting so made safe: what a damaged project, a script or a
// hostile host may give becomes a value the stages are built for.
EffectSettings normalised_settings(const EffectSettings* settings);
