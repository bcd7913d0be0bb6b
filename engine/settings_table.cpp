#include "engine/settings_table.h"

#include <algorithm>
#include <cstring>

namespace {

const SettingChoice decode_choices[] = {
    {DECODE_OFF, "off", "No decoding: the composite signal itself is shown", false},
    {DECODE_NOTCH, "notch", "A horizontal notch at the carrier", false},
    {DECODE_2LINE, "2line", "Comb over this field line and the one above", false},
    {DECODE_3LINE, "3line", "Comb over the field lines above and below", false},
    {DECODE_3D, "3d",
     "Motion-adaptive frame comb with the composite signals of the last two frames (PAL: four); "
     "3line on a clip's first frames, which have none",
     true},
};

const SettingChoice bandwidth_choices[] = {
    {CHROMA_WIDE, "wide", "About 1.3 MHz, a studio monitor", false},
    {CHROMA_NARROW, "narrow", "About 0.5 MHz, a consumer set", false},
};

const SettingChoice vhs_choices[] = {
    {VHS_OFF, "off", "No deck: the composite signal goes straight to the television", false},
    {VHS_SP, "sp", "VHS at standard play: about 3.0 MHz of luma, 43 dB", false},
    {VHS_LP, "lp", "VHS at long play: about 2.8 MHz, 40.5 dB", false},
    {VHS_EP, "ep", "VHS at extended play: about 2.5 MHz, 38 dB", false},
    {VHS_SVHS, "svhs", "S-VHS: about 5.0 MHz, 45 dB", false},
};

const SettingChoice standard_choices[] = {
    {STANDARD_NTSC, "ntsc", "NTSC: 3.579545 MHz, the carrier inverted every field line", false},
    {STANDARD_PAL, "pal", "PAL: 4.43361875 MHz with the V switch", false},
};

// The largest rectangle edge or size: more than any picture, since the
// rectangle is cut to the picture.
constexpr int32_t largest_rectangle = 65536;

constexpr SettingInfo number(const char* key, const char* label, const char* label_cp932,
                             const char* meaning, const char* unit, int64_t minimum,
                             int64_t maximum, int64_t default_value, size_t offset)
{
    SettingInfo setting;
    setting.key = key;
    setting.label = label;
    setting.label_cp932 = label_cp932;
    setting.meaning = meaning;
    setting.unit = unit;
    setting.minimum = minimum;
    setting.maximum = maximum;
    setting.default_value = default_value;
    setting.offset = offset;
    return setting;
}

// The rectangle: MLT holds it as one rectangle.
constexpr SettingInfo rectangle(const char* key, const char* label, const char* label_cp932,
                                const char* meaning, const char* unit, int32_t default_value,
                                bool to_picture_edge, size_t offset)
{
    SettingInfo setting = number(key, label, label_cp932, meaning, unit, 0, largest_rectangle,
                                 default_value, offset);
    setting.mlt_name = "rect";
    setting.editor_maximum = 2048;
    setting.to_picture_edge = to_picture_edge;
    return setting;
}

// `host_name`: MLT's and frei0r's, null for the key.
constexpr SettingInfo on_off(const char* key, const char* host_name, const char* label,
                             const char* label_cp932, const char* meaning, int32_t default_value,
                             size_t offset)
{
    SettingInfo setting = number(key, label, label_cp932, meaning, nullptr, 0, 1, default_value,
                                 offset);
    setting.kind = SETTING_SWITCH;
    setting.mlt_name = setting.frei0r_name = host_name;
    setting.value_name = nullptr;
    return setting;
}

template <int N>
constexpr SettingInfo choice(const char* key, const char* host_name, const char* label,
                             const char* label_cp932, const char* meaning,
                             const char* value_name, int32_t default_value,
                             const SettingChoice (&choices)[N], size_t offset)
{
    SettingInfo setting = number(key, label, label_cp932, meaning, nullptr, choices[0].value,
                                 choices[N - 1].value, default_value, offset);
    setting.kind = SETTING_CHOICE;
    setting.mlt_name = setting.frei0r_name = host_name;
    setting.choices = choices;
    setting.choice_count = N;
    setting.value_name = value_name;
    return setting;
}

constexpr SettingInfo with_off_option(SettingInfo setting, const char* option,
                                      const char* meaning)
{
    setting.off_option = option;
    setting.off_meaning = meaning;
    return setting;
}

constexpr SettingInfo needing_other_frames(SettingInfo setting)
{
    setting.needs_other_frames = true;
    return setting;
}

constexpr SettingInfo from_stream(SettingInfo setting)
{
    setting.from_stream = true;
    return setting;
}

constexpr SettingInfo held_to_range(SettingInfo setting)
{
    setting.held_to_range = true;
    return setting;
}

constexpr SettingInfo with_frei0r_name(SettingInfo setting, const char* name)
{
    setting.frei0r_name = name;
    return setting;
}

// MLT's and frei0r's name, which keep no hyphen.
constexpr SettingInfo with_host_name(SettingInfo setting, const char* name)
{
    setting.mlt_name = setting.frei0r_name = name;
    return setting;
}

constexpr SettingInfo with_value_name(SettingInfo setting, const char* name)
{
    setting.value_name = name;
    return setting;
}

// The table's minimum stands for the standard's or the format's own.
constexpr SettingInfo with_own_default(SettingInfo setting, const char* own)
{
    setting.own_default = own;
    return setting;
}

constexpr SettingInfo unsigned_field(SettingInfo setting)
{
    setting.is_unsigned = true;
    return setting;
}

constexpr SettingInfo on_the_command_line_in(SettingInfo setting, const char* unit, int32_t scale)
{
    setting.cli_unit = unit;
    setting.cli_scale = scale;
    return setting;
}

// A number of the deck: the engine holds every one to its range.
constexpr SettingInfo deck_number(const char* key, const char* host_name, const char* label,
                                  const char* label_cp932, const char* meaning, const char* unit,
                                  int64_t minimum, int64_t maximum, int64_t default_value,
                                  size_t offset)
{
    return held_to_range(with_host_name(number(key, label, label_cp932, meaning, unit, minimum,
                                               maximum, default_value, offset),
                                        host_name));
}

#define AT(member) offsetof(EffectSettings, member)

}  // namespace

// Labels as escapes, so that no editor or compiler can re-encode them. In
// the order of the editors' lists: norel.auf's tracks and check boxes, then
// the television of the decoder filter and the 64-bit plug-in, then the VHS
// deck before it.
const SettingInfo setting_table[SETTING_COUNT] = {
    rectangle("left", "\u5DE6", "\x8D\xB6", "left edge of the rectangle", "pixels", 0, false,
              AT(left)),
    with_frei0r_name(rectangle("width", "\u5E45", "\x95\x9D", "width of the rectangle", "pixels",
                               320, true, AT(width)),
                     "rect_width"),
    rectangle("top", "\u4E0A", "\x8F\xE3", "top edge of the rectangle", "rows", 0, false,
              AT(top)),
    with_frei0r_name(rectangle("height", "\u9AD8\u3055", "\x8D\x82\x82\xB3",
                               "height of the rectangle", "rows", 320, true, AT(height)),
                     "rect_height"),
    number("shift", "\u79FB\u52D5\u91CF", "\x88\xDA\x93\xAE\x97\xCA", "field shift",
           "sixteenths of a field line", -256, 256, 0, AT(shift)),
    number("freq", "freq", "freq", "subcarrier frequency scale; 704 is 3.579545 MHz", nullptr, 600,
           750, 704, AT(freq)),
    number("phase", "phase", "phase", "subcarrier phase offset", "degrees", -180, 180, 0,
           AT(phase)),
    needing_other_frames(on_off("compose", nullptr, "\u5408\u6210\u30E2\u30FC\u30C9",
                                "\x8D\x87\x90\xAC\x83\x82\x81\x5B\x83\x68",
                                "paste into the first half the rectangle of the frame half a "
                                "clip later",
                                0, AT(compose))),
    needing_other_frames(on_off("60fps", nullptr, "60FPS", "60FPS",
                                "frames 0 and 1, 2 and 3, ... are the fields of one interlaced "
                                "frame",
                                0, AT(paired_fields))),
    from_stream(with_off_option(on_off("tff", nullptr, "TFF", "TFF", "top field first", 1,
                                       AT(top_field_first)),
                                "bff", "bottom field first")),
    on_off("show-range", "show_range", "\u7BC4\u56F2\u8868\u793A",
           "\x94\xCD\x88\xCD\x95\x5C\x8E\xA6",
           "show the rectangle inverted instead of any effect, to place it", 0, AT(show_range)),
    on_off("mono", nullptr, "MONO", "MONO", "drop the colour inside the rectangle", 0, AT(mono)),
    with_frei0r_name(on_off("cy", nullptr, "C/Y", "C/Y",
                            "fold the colour onto a subcarrier in the luma", 0, AT(composite)),
                     "composite"),
    with_off_option(on_off("lpf", nullptr, "LPF", "LPF", "vertical 11-tap low-pass filter", 1,
                           AT(lpf)),
                    "no-lpf", "no vertical low-pass filter"),
    choice("decode", nullptr, "Y/C\u5206\u96E2", "Y/C\x95\xAA\x97\xA3",
           "the television after C/Y: how it tells luma from chroma", "MODE", DECODE_OFF,
           decode_choices, AT(decode.mode)),
    held_to_range(number("saturation", "\u8272\u306E\u6FC3\u3055",
                         "\x90\x46\x82\xCC\x94\x5A\x82\xB3", "decoded colour saturation",
                         "percent", 0, 200, 100, AT(decode.saturation))),
    held_to_range(number("hue", "\u8272\u5408\u3044", "\x90\x46\x8D\x87\x82\xA2",
                         "the decoder's hue (tint)", "degrees", -180, 180, 0, AT(decode.hue))),
    choice("chroma-bandwidth", "chroma_bandwidth", "\u72ED\u5E2F\u57DF", "\x8B\xB7\x91\xD1\x88\xE6",
           "the decoder's chroma low-pass", "B", CHROMA_WIDE, bandwidth_choices,
           AT(decode.bandwidth)),
    choice("standard", nullptr, "PAL", "PAL", "colour standard of C/Y and the decoder", "S",
           STANDARD_NTSC, standard_choices, AT(standard)),
    with_off_option(on_off("delay-line", "delay_line", "\u9045\u5EF6\u7DDA",
                           "\x92\x78\x89\x84\x90\xFC",
                           "PAL's delay line: the colour averaged over two field lines, so that "
                           "a hue error costs saturation",
                           1, AT(decode.delay_line)),
                    "no-delay-line",
                    "PAL without its delay line (\"simple PAL\": hue errors show as Hanover "
                    "bars)"),
    choice("vhs", nullptr, "VHS", "VHS",
           "play the composite signal through a VHS deck, between C/Y and the television", "F",
           VHS_OFF, vhs_choices, AT(vhs.format)),
    unsigned_field(deck_number("seed", nullptr, "\u30B7\u30FC\u30C9", "\x83\x56\x81\x5B\x83\x68",
                               "the deck's noise: another seed, other noise", nullptr, 0,
                               UINT32_MAX, 0, AT(vhs.seed))),
    deck_number("tape-noise", "tape_noise", "\u30C6\u30FC\u30D7\u30CE\u30A4\u30BA",
                "\x83\x65\x81\x5B\x83\x76\x83\x6D\x83\x43\x83\x59",
                "tape noise, of the format's nominal signal-to-noise ratio", "percent", 0,
                vhs_tape_noise_max, 100, AT(vhs.tape_noise)),
    with_own_default(deck_number("head-switching", "head_switching",
                                 "\u30D8\u30C3\u30C9\u5207\u66FF",
                                 "\x83\x77\x83\x62\x83\x68\x90\xD8\x91\xD6",
                                 "the head switching band at the foot of each field",
                                 "field lines", vhs_own_head_switching, vhs_head_switching_max,
                                 vhs_own_head_switching, AT(vhs.head_switching)),
                     "the standard's own, 3 (PAL 4)"),
    on_the_command_line_in(with_value_name(deck_number("head-switching-shift", "head_switching_shift",
                                       "\u5207\u66FF\u305A\u308C", "\x90\xD8\x91\xD6\x82\xB8\x82\xEA",
                                       "sideways shift of the head switching band's first line",
                                       "ns", -vhs_head_switching_shift_max,
                                       vhs_head_switching_shift_max, 2000,
                                       AT(vhs.head_switching_shift)),
                                           "US"),
                           "microseconds", 1000),
    deck_number("tracking", nullptr, "\u30C8\u30E9\u30C3\u30AD\u30F3\u30B0",
                "\x83\x67\x83\x89\x83\x62\x83\x4C\x83\x93\x83\x4F",
                "tracking error: a band of noise and displacement", "percent", 0,
                vhs_tracking_max, 0, AT(vhs.tracking)),
    deck_number("dropouts", nullptr, "\u30C9\u30ED\u30C3\u30D7\u30A2\u30A6\u30C8",
                "\x83\x68\x83\x8D\x83\x62\x83\x76\x83\x41\x83\x45\x83\x67",
                "mean dropouts per 100 fields", nullptr, 0, vhs_dropouts_max, 30,
                AT(vhs.dropouts)),
    with_off_option(on_off("dropout-compensator", "dropout_compensator",
                           "\u30C9\u30ED\u30C3\u30D7\u30A2\u30A6\u30C8\u88DC\u511F",
                           "\x83\x68\x83\x8D\x83\x62\x83\x76\x83\x41\x83\x45\x83\x67\x95\xE2\x8F\x9E",
                           "dropouts filled with the same field's line above", 1,
                           AT(vhs.dropout_compensator)),
                    "no-dropout-compensator", "dropouts left white"),
    with_value_name(deck_number("jitter", nullptr, "\u30B8\u30C3\u30BF\u30FC",
                                "\x83\x57\x83\x62\x83\x5E\x81\x5B",
                                "time-base error, rms", "ns", 0, vhs_jitter_max, 30,
                                AT(vhs.jitter)),
                    "NS"),
    with_value_name(with_own_default(deck_number("chroma-delay", "chroma_delay",
                                                 "\u8272\u305A\u308C", "\x90\x46\x82\xB8\x82\xEA",
                                                 "chroma behind luma", "ns",
                                                 vhs_own_chroma_delay, vhs_chroma_delay_max,
                                                 vhs_own_chroma_delay, AT(vhs.chroma_delay)),
                                     "the format's own, 150 (S-VHS 100)"),
                    "NS"),
    deck_number("generations", nullptr, "\u4E16\u4EE3", "\x90\xA2\x91\xE3",
                "copies of the tape, each with its own noise (1: the recording itself)",
                nullptr, 1, vhs_generations_max, 1, AT(vhs.generations)),
};

const SettingInfo* setting_by_key(const char* key)
{
    for (const SettingInfo& setting : setting_table) {
        if (std::strcmp(setting.key, key) == 0)
            return &setting;
    }
    return nullptr;
}

const char* setting_mlt_name(const SettingInfo* setting)
{
    return setting->mlt_name != nullptr ? setting->mlt_name : setting->key;
}

const char* setting_frei0r_name(const SettingInfo* setting)
{
    return setting->frei0r_name != nullptr ? setting->frei0r_name : setting->key;
}

int64_t setting_editor_minimum(const SettingInfo* setting)
{
    return setting->editor_maximum != 0 ? setting->editor_minimum : setting->minimum;
}

int64_t setting_editor_maximum(const SettingInfo* setting)
{
    return setting->editor_maximum != 0 ? setting->editor_maximum : setting->maximum;
}

int32_t setting_choice_value(const SettingInfo* setting, const char* name)
{
    for (int i = 0; i < setting->choice_count; ++i) {
        if (std::strcmp(setting->choices[i].name, name) == 0)
            return setting->choices[i].value;
    }
    return -1;
}

const char* setting_choice_name(const SettingInfo* setting, int64_t value)
{
    const char* fallback = "";
    for (int i = 0; i < setting->choice_count; ++i) {
        if (setting->choices[i].value == value)
            return setting->choices[i].name;
        if (setting->choices[i].value == setting->default_value)
            fallback = setting->choices[i].name;
    }
    return fallback;
}

int64_t normalised_value(const SettingInfo* setting, int64_t value)
{
    switch (setting->kind) {
    case SETTING_SWITCH:
        return value != 0;
    case SETTING_CHOICE:
        for (int i = 0; i < setting->choice_count; ++i) {
            if (setting->choices[i].value == value)
                return value;
        }
        return setting->default_value;
    case SETTING_NUMBER:
        break;
    }
    return setting->held_to_range ? std::clamp(value, setting->minimum, setting->maximum) : value;
}

EffectSettings normalised_settings(const EffectSettings* settings)
{
    EffectSettings safe = *settings;
    for (int id = 0; id < SETTING_COUNT; ++id) {
        const SettingId setting = static_cast<SettingId>(id);
        set_setting_value(&safe, setting, normalised_value(&setting_table[id], setting_value(&safe, setting)));
    }
    return safe;
}
