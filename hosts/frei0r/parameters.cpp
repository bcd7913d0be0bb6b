#include "hosts/frei0r/parameters.h"

#include <cmath>
#include <cstring>

#include "engine/settings_table.h"

namespace {

// The frame rate's parameter is fps / 100; its default is 30000/1001.
const double fps_scale = 100.0;

// How a number's [0, 1] spans its setting.
enum Span {
    SPAN_RANGE,      // from its minimum to its maximum
    SPAN_FRACTION,   // a fraction of its maximum (freq: value * 750)
    SPAN_RECTANGLE,  // frei0r_rectangle_span pixels or rows from 0
};

template <SettingId id>
const char* choice_name(int32_t index)
{
    return setting_table[id].choices[index].name;
}

// The choices frei0r offers: those that need no earlier frame, which
// frei0r does not hand a filter.
int offered_choices(const SettingInfo& setting)
{
    int count = 0;
    while (count < setting.choice_count && !setting.choices[count].needs_other_frames)
        ++count;
    return count;
}

template <SettingId id>
Frei0rParam param(const char* explanation, Span span = SPAN_RANGE)
{
    const SettingInfo& setting = setting_table[id];
    Frei0rParam p = {setting_frei0r_name(&setting), explanation, setting.kind == SETTING_SWITCH, 1, 0,
                     setting.minimum, setting.maximum, 0.0, id};
    if (setting.kind == SETTING_CHOICE) {
        p.choice_name = choice_name<id>;
        p.choice_count = offered_choices(setting);
        for (int i = 0; i < p.choice_count; ++i) {
            if (setting.choices[i].value == setting.default_value)
                p.default_value = i;
        }
        return p;
    }
    if (setting.kind == SETTING_SWITCH) {
        p.default_value = setting.default_value;
        return p;
    }
    if (span == SPAN_RANGE) {
        p.scale = static_cast<double>(setting.maximum - setting.minimum);
        p.offset = setting.minimum;
    } else {
        p.scale = span == SPAN_FRACTION ? static_cast<double>(setting.maximum) : frei0r_rectangle_span;
        p.high = span == SPAN_FRACTION ? setting.maximum : frei0r_rectangle_span;
    }
    p.default_value = static_cast<double>(setting.default_value - p.offset) / p.scale;
    return p;
}

Frei0rParam own(const char* name, const char* explanation, bool is_bool, double scale, double default_value)
{
    return {name, explanation, is_bool, scale, 0, 0, is_bool ? 1 : 100, default_value, -1};
}

}  // namespace

// In the order ffmpeg's frei0r filter takes them (by position): the ones set
// most often first.
const Frei0rParam frei0r_params[FREI0R_PARAM_COUNT] = {
    param<SETTING_LEFT>("Left edge of the rectangle: pixels / 10000", SPAN_RECTANGLE),
    param<SETTING_WIDTH>("Width of the rectangle: pixels / 10000", SPAN_RECTANGLE),
    param<SETTING_TOP>("Top edge of the rectangle: rows / 10000", SPAN_RECTANGLE),
    param<SETTING_HEIGHT>("Height of the rectangle: rows / 10000", SPAN_RECTANGLE),
    param<SETTING_SHIFT>("Field shift: (sixteenths of a field line + 256) / 512"),
    param<SETTING_FREQ>("Subcarrier frequency scale / 750, from 600 to 750; 704 is the standard's own",
                        SPAN_FRACTION),
    param<SETTING_PHASE>("Subcarrier phase: (degrees + 180) / 360"),
    param<SETTING_TFF>("Top field first (off: bottom field first)"),
    param<SETTING_CY>("C/Y: fold the colour onto a subcarrier in the luma"),
    param<SETTING_LPF>("Vertical 11-tap low-pass filter"),
    param<SETTING_MONO>("Drop the colour inside the rectangle (not with composite)"),
    param<SETTING_SHOW_RANGE>("Show the rectangle inverted instead of any effect, to place it"),
    own("fps", "Frames per second / 100, to number frames from the host's clock", false, fps_scale,
        30000.0 / 1001.0 / fps_scale),
    own("clock_ms", "The host's clock counts milliseconds (ffmpeg's frei0r filter)", true, 1, 0.0),
    // The decoder, after the settings of earlier versions, whose positions
    // ffmpeg's users have written down.
    param<SETTING_DECODE>("The television after composite: off, notch, 2line or 3line"),
    param<SETTING_CHROMA_BANDWIDTH>("The decoder's chroma low-pass: wide (1.3 MHz) or narrow (0.5 MHz)"),
    param<SETTING_SATURATION>("The decoder's saturation: percent / 200"),
    param<SETTING_HUE>("The decoder's hue: (degrees + 180) / 360"),
    // PAL after the decoder's, so that every earlier position stays.
    param<SETTING_STANDARD>("The colour standard of composite and the decoder: ntsc or pal"),
    param<SETTING_DELAY_LINE>("PAL's delay line: a phase error costs saturation, not hue (off: Hanover bars)"),
    // The VHS deck between composite and the decoder, after all of those;
    // its noise follows the frame's number, from the host's time and fps.
    param<SETTING_VHS>("A VHS deck between composite and the decoder: off, sp, lp, ep or svhs"),
    param<SETTING_SEED>("The deck's noise: seed / 4294967295"),
    param<SETTING_TAPE_NOISE>("Tape noise: percent of the format's / 200"),
    param<SETTING_HEAD_SWITCHING>("Head switching band: (field lines + 1) / 9; 0: the standard's own (3, PAL 4)"),
    param<SETTING_HEAD_SWITCHING_SHIFT>("Head switching band's shift: (ns + 10000) / 20000"),
    param<SETTING_TRACKING>("Tracking error: percent / 100"),
    param<SETTING_DROPOUTS>("Dropouts: mean per 100 fields / 5000"),
    param<SETTING_DROPOUT_COMPENSATOR>("Dropouts filled with the field's line above (off: left white)"),
    param<SETTING_JITTER>("Time-base error: rms ns / 300"),
    param<SETTING_CHROMA_DELAY>("Chroma behind luma: (ns + 1001) / 2001; 0: the format's own (150, S-VHS 100)"),
    param<SETTING_GENERATIONS>("Copies of the tape: (generations - 1) / 4"),
};

enum : int { PARAM_FPS = 12, PARAM_CLOCK_MS = 13 };

const char* frei0r_param_name(int index)
{
    return frei0r_params[index].name;
}

int frei0r_choice(const Frei0rParam& param, const char* name)
{
    for (int i = 0; name != nullptr && i < param.choice_count; ++i) {
        if (std::strcmp(name, param.choice_name(i)) == 0)
            return i;
    }
    return -1;
}

static int64_t setting_value(const Frei0rParam& param, double value)
{
    const SettingInfo& setting = setting_table[param.setting_id];
    if (param.choice_name != nullptr)
        return setting.choices[value >= 1.0 && value < param.choice_count ? static_cast<int>(value) : 0].value;
    if (param.is_bool)
        return value >= 0.5;
    const double v = std::nearbyint(value * param.scale) + static_cast<double>(param.offset);
    return v < static_cast<double>(param.low) ? param.low : v > static_cast<double>(param.high) ? param.high : static_cast<int64_t>(v);
}

EffectSettings frei0r_settings(const double* values)
{
    EffectSettings settings;
    for (int i = 0; i < FREI0R_PARAM_COUNT; ++i) {
        if (frei0r_params[i].setting_id >= 0)
            set_setting_value(&settings, static_cast<SettingId>(frei0r_params[i].setting_id),
                              setting_value(frei0r_params[i], values[i]));
    }
    return settings;
}

double frei0r_frame_rate(const double* values)
{
    const double per_second = values[PARAM_FPS] * fps_scale;
    return values[PARAM_CLOCK_MS] >= 0.5 ? per_second / 1000.0 : per_second;
}
