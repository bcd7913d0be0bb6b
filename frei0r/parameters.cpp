#include "frei0r/parameters.h"

#include <cmath>
#include <cstring>

// The frame rate's parameter is fps / 100; its default is 30000/1001.
static const double fps_scale = 100.0;

// In the order ffmpeg's frei0r filter takes them (by position): the ones set
// most often first.
const Frei0rParam frei0r_params[FREI0R_PARAM_COUNT] = {
    {"left", "Left edge of the rectangle: pixels / 10000", false, 10000, 0, 0, 10000, 0.0,
     &EffectSettings::left},
    {"width", "Width of the rectangle: pixels / 10000", false, 10000, 0, 0, 10000, 0.032,
     &EffectSettings::width},
    {"top", "Top edge of the rectangle: rows / 10000", false, 10000, 0, 0, 10000, 0.0,
     &EffectSettings::top},
    {"height", "Height of the rectangle: rows / 10000", false, 10000, 0, 0, 10000, 0.032,
     &EffectSettings::height},
    {"shift", "Field shift: (sixteenths of a field line + 256) / 512", false, 512, -256, -256,
     256, 0.5, &EffectSettings::shift},
    {"freq", "Subcarrier frequency scale / 750, from 600 to 750; 704 is the standard's own", false,
     750, 0, 600, 750, 704.0 / 750.0, &EffectSettings::freq},
    {"phase", "Subcarrier phase: (degrees + 180) / 360", false, 360, -180, -180, 180, 0.5,
     &EffectSettings::phase},
    {"tff", "Top field first (off: bottom field first)", true, 1, 0, 0, 1, 1.0,
     &EffectSettings::top_field_first},
    {"composite", "C/Y: fold the colour onto a subcarrier in the luma", true, 1, 0, 0, 1, 0.0,
     &EffectSettings::composite},
    {"lpf", "Vertical 11-tap low-pass filter", true, 1, 0, 0, 1, 1.0, &EffectSettings::lpf},
    {"mono", "Drop the colour inside the rectangle (not with composite)", true, 1, 0, 0, 1, 0.0,
     &EffectSettings::mono},
    {"show_range", "Show the rectangle inverted instead of any effect, to place it", true, 1, 0,
     0, 1, 0.0, &EffectSettings::show_range},
    {"fps", "Frames per second / 100, to number frames from the host's clock", false, fps_scale,
     0, 0, 100, 30000.0 / 1001.0 / fps_scale, nullptr},
    {"clock_ms", "The host's clock counts milliseconds (ffmpeg's frei0r filter)", true, 1, 0, 0,
     1, 0.0, nullptr},
    // The decoder, after the settings of earlier versions, whose positions
    // ffmpeg's users have written down. No "3d": frei0r hands no earlier frame.
    {"decode", "The television after composite: off, notch, 2line or 3line", false, 1, 0, 0,
     DECODE_3LINE, DECODE_OFF, nullptr, &DecodeSettings::mode, decode_mode_name,
     DECODE_3LINE + 1},
    {"chroma_bandwidth", "The decoder's chroma low-pass: wide (1.3 MHz) or narrow (0.5 MHz)",
     false, 1, 0, 0, CHROMA_NARROW, CHROMA_WIDE, nullptr, &DecodeSettings::bandwidth,
     chroma_bandwidth_name, chroma_bandwidth_count},
    {"saturation", "The decoder's saturation: percent / 200", false, 200, 0, saturation_min,
     saturation_max, 0.5, nullptr, &DecodeSettings::saturation},
    {"hue", "The decoder's hue: (degrees + 180) / 360", false, 360, -180, hue_min, hue_max, 0.5,
     nullptr, &DecodeSettings::hue},
    // PAL after the decoder's, so that every earlier position stays.
    {"standard", "The colour standard of composite and the decoder: ntsc or pal", false, 1, 0,
     0, STANDARD_PAL, STANDARD_NTSC, &EffectSettings::standard, nullptr, colour_standard_name,
     colour_standard_count},
    {"delay_line", "PAL's delay line: a phase error costs saturation, not hue (off: Hanover bars)",
     true, 1, 0, 0, 1, 1.0, nullptr, &DecodeSettings::delay_line},
};

enum : int { PARAM_FPS = 12, PARAM_CLOCK_MS = 13 };

// Names a host keeps for itself, and the names the parameters go by there
// instead. MLT's XML writer drops "width" and "height" (its frames' and
// producers'), so a saved project would lose the rectangle; ffmpeg passes
// the parameters by position, and GStreamer names its properties after
// these, so the other hosts are none the worse.
struct HostReservedName {
    const char* name;
    const char* instead;
};

static const HostReservedName host_reserved_names[] = {
    {"width", "rect_width"},
    {"height", "rect_height"},
};

const char* frei0r_param_name(int index)
{
    const char* name = frei0r_params[index].name;
    for (const HostReservedName& reserved : host_reserved_names) {
        if (std::strcmp(name, reserved.name) == 0)
            return reserved.instead;
    }
    return name;
}

int frei0r_choice(const Frei0rParam& param, const char* name)
{
    for (int i = 0; name != nullptr && i < param.choice_count; ++i) {
        if (std::strcmp(name, param.choice_name(i)) == 0)
            return i;
    }
    return -1;
}

static int setting_value(const Frei0rParam& param, double value)
{
    if (param.choice_name != nullptr)
        return value >= 1.0 && value < param.choice_count ? static_cast<int>(value) : 0;
    if (param.is_bool)
        return value >= 0.5;
    const double v = std::nearbyint(value * param.scale) + param.offset;
    return static_cast<int>(v < param.low ? param.low : v > param.high ? param.high : v);
}

EffectSettings frei0r_settings(const double* values)
{
    EffectSettings settings;
    for (int i = 0; i < FREI0R_PARAM_COUNT; ++i) {
        const Frei0rParam& param = frei0r_params[i];
        if (param.setting != nullptr)
            settings.*param.setting = setting_value(param, values[i]);
        else if (param.decode_setting != nullptr)
            settings.decode.*param.decode_setting = setting_value(param, values[i]);
    }
    settings.decode = clamp_decode_settings(settings.decode);
    return settings;
}

double frei0r_frame_rate(const double* values)
{
    const double per_second = values[PARAM_FPS] * fps_scale;
    return values[PARAM_CLOCK_MS] >= 0.5 ? per_second / 1000.0 : per_second;
}
