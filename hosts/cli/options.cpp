#include "hosts/cli/options.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
}


namespace {

// Options that turn something on. Those of the filter and the input do
// not apply to --synthesize.
struct FlagOption {
    enum Group { Host, Filter, Input };
    const char* name;
    bool Options::*member;
    Group group;
};

const FlagOption flag_options[] = {
    {"preview", &Options::preview, FlagOption::Filter},   {"compare", &Options::compare, FlagOption::Filter},
    {"quiet", &Options::quiet, FlagOption::Host},         {"verbose", &Options::verbose, FlagOption::Host},
    {"overwrite", &Options::overwrite, FlagOption::Host}, {"no-audio", &Options::no_audio, FlagOption::Input},
    {"strict", &Options::strict, FlagOption::Input},
};

// How many terminal columns a UTF-8 label takes: the labels are ASCII or
// full-width Japanese.
int display_width(const std::string& text)
{
    int width = 0;
    for (unsigned char c : text) {
        if (c < 0x80)
            width += 1;
        else if (c >= 0xC0)
            width += 2;
    }
    return width;
}

std::string padded(const std::string& text, int width)
{
    return text + std::string(std::max(0, width - display_width(text)), ' ');
}

int64_t parse_whole(const std::string& option, const std::string& text)
{
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE)
        throw UsageError("--" + option + ": '" + text + "' is not a whole number");
    return value;
}

int parse_in_range(const std::string& option, const std::string& text, int minimum, int maximum)
{
    const int64_t value = parse_whole(option, text);
    if (value < minimum || value > maximum)
        throw UsageError("--" + option + " " + text + " is out of range: it must be from " +
                         std::to_string(minimum) + " to " + std::to_string(maximum));
    return static_cast<int>(value);
}

// A number of the table as the command line shows it: in its command-line
// unit, with as many decimals as that needs and no trailing zeros.
std::string number_text(const SettingInfo& setting, int64_t value)
{
    const int64_t scale = setting.cli_scale;
    const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::string text = (value < 0 ? "-" : "") + std::to_string(magnitude / scale);
    std::string fraction = std::to_string(scale + magnitude % scale).substr(1);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    return fraction.empty() ? text : text + "." + fraction;
}

// A number in the setting's command-line unit, such as -2.5, as the table
// keeps it (times cli_scale), refused outside the table's range.
int64_t parse_number(const SettingInfo& setting, const std::string& text)
{
    const std::string option = setting.key;
    int64_t value = 0;
    if (setting.cli_scale == 1) {
        value = parse_whole(option, text);
    } else {
        const size_t decimals = std::to_string(setting.cli_scale).size() - 1;
        const size_t point = text.find('.');
        const std::string whole = text.substr(0, point);
        std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
        if (fraction.size() > decimals || fraction.find_first_not_of("0123456789") != std::string::npos ||
            whole.empty() || whole == "-" || whole == "+" || whole.size() > 12)
            throw UsageError("--" + option + ": '" + text + "' is not a number of " + setting.cli_unit +
                             " such as 2.5, with at most " + std::to_string(decimals) + " decimals");
        fraction.resize(decimals, '0');
        value = parse_whole(option, whole) * setting.cli_scale +
                (text[0] == '-' ? -1 : 1) * std::stoll(fraction);
    }
    if (value < setting.minimum || value > setting.maximum)
        throw UsageError("--" + option + " " + text + " is out of range: it must be from " +
                         number_text(setting, setting.minimum) + " to " + number_text(setting, setting.maximum));
    return value;
}

// The names of a setting's choices, as a list: "a, b or c".
std::string choice_list(const SettingInfo& setting, const char* last_joint = " or ")
{
    std::string names;
    for (int i = 0; i < setting.choice_count; ++i)
        names += std::string(i == 0 ? "" : i + 1 == setting.choice_count ? last_joint : ", ") +
                 setting.choices[i].name;
    return names;
}

// Sets a number or a choice of the table from its text; `where` starts
// the message of a refusal.
void set_setting(const SettingInfo& setting, const std::string& where, const std::string& text,
                 Options& options)
{
    const SettingId id = static_cast<SettingId>(&setting - setting_table);
    int64_t value = 0;
    if (setting.kind == SETTING_NUMBER) {
        value = parse_number(setting, text);
    } else if (setting.kind == SETTING_CHOICE) {
        value = setting_choice_value(&setting, text.c_str());
        if (value < 0)
            throw UsageError(where + "'" + text + "' is " +
                             (setting.choice_count == 2 ? "neither " + choice_list(setting, " nor ")
                                                        : "not " + choice_list(setting)));
    } else {
        if (text != "on" && text != "off")
            throw UsageError(where + "'" + text + "' is neither on nor off");
        value = text == "on";
    }
    set_setting_value(&options.settings, id, value);
    options.given[id] = true;
}

void parse_size(const std::string& text, Options& options)
{
    int width = 0, height = 0;
    if (av_parse_video_size(&width, &height, text.c_str()) < 0 || width > 8192 || height > 8192)
        throw UsageError("--size: '" + text + "' is not a picture size such as 720x480 (at most 8192x8192)");
    options.width = width;
    options.height = height;
}

void parse_rate(const std::string& text, Options& options)
{
    AVRational rate;
    if (av_parse_video_rate(&rate, text.c_str()) < 0 || rate.num <= 0 || rate.den <= 0 ||
        av_q2d(rate) > 1000)
        throw UsageError("--rate: '" + text + "' is not a frame rate such as 30000/1001 or 25");
    options.rate = rate;
}

void parse_synthesis_format(const std::string& text, Options& options)
{
    const AVPixelFormat format = av_get_pix_fmt(text.c_str());
    if (format == AV_PIX_FMT_NONE || !yuv_layout_of(format) ||
        std::string(av_get_pix_fmt_name(format)).rfind("yuvj", 0) == 0)
        throw UsageError("--pix-fmt: '" + text + "' is not a planar YUV or grey format of 8 to 12 bits, "
                         "such as yuv420p, yuv422p10le or gray");
    options.pixel_format = format;
}

// A time such as 12.5, 1:02 or 0:01:02.5, in AV_TIME_BASE units.
int64_t parse_time(const std::string& option, const std::string& text)
{
    int64_t time = 0;
    if (av_parse_time(&time, text.c_str(), 1) < 0 || time < 0)
        throw UsageError("--" + option + ": '" + text + "' is not a time such as 12.5, 1:02 or 0:01:02.5");
    return time;
}

// Built-in looks, in the format of a preset file.
const std::pair<const char*, const char*> named_presets[] = {
    {"composite", "cy on\nshift 0\ndecode notch\n"},
    {"composite-signal", "cy on\nshift 8\n"},
    {"pal", "cy on\nshift 0\nlpf off\nstandard pal\ndecode notch\ndelay-line on\n"},
    {"mono", "mono on\nshift 8\n"},
    {"field-shift", "shift 8\n"},
    {"clean", "shift 0\nlpf off\n"},
    // The deck's: a consumer set's notch and narrow chroma, S-VHS's comb.
    {"vhs", "cy on\nshift 0\ndecode notch\nchroma-bandwidth narrow\nvhs sp\n"},
    {"vhs-ep", "cy on\nshift 0\ndecode notch\nchroma-bandwidth narrow\nvhs ep\n"},
    // PAL's LPF blends lines of other carrier phase, as in the pal look.
    {"vhs-pal", "cy on\nshift 0\nlpf off\nstandard pal\ndecode notch\nchroma-bandwidth narrow\ndelay-line on\nvhs sp\n"},
    {"svhs", "cy on\nshift 0\ndecode 3line\nvhs svhs\n"},
};

// Applies a preset: one setting a line, "NAME VALUE" with the long option's
// name, numbers for the tracks and on or off for the boxes; # starts a
// comment.
void apply_preset(const std::string& text, const std::string& origin, Options& options)
{
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line.erase(std::min(line.find('#'), line.size()));
        std::istringstream words(line);
        std::string name, value, extra;
        if (!(words >> name))
            continue;
        const std::string where = origin + ":" + std::to_string(number) + ": ";
        if (!(words >> value) || (words >> extra))
            throw UsageError(where + "expected a setting and its value, such as 'shift 8'");
        const SettingInfo* setting = setting_by_key(name.c_str());
        if (setting == nullptr)
            throw UsageError(where + "unknown setting '" + name + "'");
        set_setting(*setting, where + name + ": ", value, options);
    }
}

void load_preset(const std::string& name, Options& options)
{
    for (const auto& [preset, text] : named_presets) {
        if (name == preset)
            return apply_preset(text, "--preset " + name, options);
    }
    std::ifstream file(name);
    if (!file) {
        std::string names;
        for (const auto& preset : named_presets)
            names += std::string(names.empty() ? "" : ", ") + preset.first;
        throw UsageError("--preset: '" + name + "' is neither a preset (" + names + ") nor a file that can be read");
    }
    std::ostringstream text;
    text << file.rdbuf();
    apply_preset(text.str(), name, options);
}

}  // namespace

std::string label_as_utf8(const char* cp932)
{
    iconv_t converter = iconv_open("UTF-8", "CP932");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return cp932;
    std::string input(cp932);
    std::string output(input.size() * 3 + 1, '\0');
    char* in = input.data();
    char* out = output.data();
    size_t in_left = input.size(), out_left = output.size();
    const size_t result = iconv(converter, &in, &in_left, &out, &out_left);
    iconv_close(converter);
    if (result == static_cast<size_t>(-1))
        return cp932;
    output.resize(output.size() - out_left);
    return output;
}

Options parse_options(int argc, const char* const* argv)
{
    Options options;

    // A preset is applied first, wherever it stands: the options given
    // beside it override it.
    std::string preset;
    for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i) {
        const std::string argument = argv[i];
        if (argument == "--preset" && i + 1 < argc)
            preset = argv[i + 1];
        else if (argument.rfind("--preset=", 0) == 0)
            preset = argument.substr(9);
    }
    if (!preset.empty())
        load_preset(preset, options);

    std::vector<std::string> positional;
    std::vector<std::string> filter_options_seen, synthesis_options_seen, input_options_seen;
    if (!preset.empty())
        filter_options_seen.push_back("preset");
    bool options_ended = false, has_duration = false, has_end = false;
    int64_t duration = 0;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (!options_ended && (argument == "-h" || argument == "-y" || argument == "-q"))
            argument = argument == "-h" ? "--help" : argument == "-y" ? "--overwrite" : "--quiet";
        if (options_ended || argument == "-" || argument.rfind("--", 0) != 0) {
            if (!options_ended && argument.size() > 1 && argument[0] == '-')
                throw UsageError("unknown option " + argument);
            if (argument.empty())
                throw UsageError("an empty file name was given");
            positional.push_back(argument);
            continue;
        }
        if (argument == "--") {
            options_ended = true;
            continue;
        }
        std::string name = argument.substr(2);
        std::string inline_value;
        bool has_inline_value = false;
        if (const size_t equals = name.find('='); equals != std::string::npos) {
            inline_value = name.substr(equals + 1);
            name.erase(equals);
            has_inline_value = true;
        }
        auto value = [&]() -> std::string {
            if (has_inline_value)
                return inline_value;
            if (i + 1 >= argc)
                throw UsageError("--" + name + " needs a value");
            return argv[++i];
        };
        auto no_value = [&] {
            if (has_inline_value)
                throw UsageError("--" + name + " takes no value");
        };

        bool known = false;
        for (const SettingInfo& setting : setting_table) {
            const bool off = setting.off_option != nullptr && name == setting.off_option;
            if (name != setting.key && !off)
                continue;
            if (setting.kind == SETTING_SWITCH) {
                no_value();
                set_setting(setting, "", off ? "off" : "on", options);
            } else {
                set_setting(setting, "--" + name + ": ", value(), options);
            }
            filter_options_seen.push_back(name);
            known = true;
        }
        for (const FlagOption& flag : flag_options) {
            if (name == flag.name) {
                no_value();
                options.*flag.member = true;
                if (flag.group == FlagOption::Filter)
                    filter_options_seen.push_back(name);
                else if (flag.group == FlagOption::Input)
                    input_options_seen.push_back(name);
                known = true;
            }
        }
        if (known)
            continue;
        if (name == "help") {
            options.mode = Options::Mode::Help;
            return options;
        } else if (name == "version") {
            options.mode = Options::Mode::Version;
            return options;
        } else if (name == "preset") {
            value();  // applied above
        } else if (name == "save-preset") {
            options.save_preset = value();
            if (options.save_preset.empty())
                throw UsageError("--save-preset: an empty file name was given");
            filter_options_seen.push_back(name);
        } else if (name == "crf") {
            options.crf = parse_in_range(name, value(), 0, 51);
        } else if (name == "threads") {
            options.threads = parse_in_range(name, value(), 1, most_threads);
        } else if (name == "codec") {
            options.codec = value();
            const AVCodec* codec = avcodec_find_encoder_by_name(options.codec.c_str());
            if (codec == nullptr || codec->type != AVMEDIA_TYPE_VIDEO)
                throw UsageError("--codec: '" + options.codec + "' is not a video encoder of FFmpeg's libraries here");
        } else if (name == "pix-fmt") {
            const std::string text = value();
            options.pixel_format = av_get_pix_fmt(text.c_str());
            if (options.pixel_format == AV_PIX_FMT_NONE)
                throw UsageError("--pix-fmt: '" + text + "' is not a pixel format, such as yuv422p10le");
        } else if (name == "ss" || name == "from") {
            options.span.start = parse_time(name, value());
            input_options_seen.push_back(name);
        } else if (name == "t") {
            duration = parse_time(name, value());
            has_duration = true;
            input_options_seen.push_back(name);
        } else if (name == "to") {
            options.span.end = parse_time(name, value());
            has_end = true;
            input_options_seen.push_back(name);
        } else if (name == "still") {
            options.still_frame = parse_in_range(name, value(), 0, INT_MAX);
            if (i + 1 >= argc)
                throw UsageError("--still needs a frame number and a PNG file");
            options.still_path = argv[++i];
            if (options.still_path.empty())
                throw UsageError("--still: an empty file name was given");
            filter_options_seen.push_back(name);
        } else if (name == "synthesize") {
            no_value();
            options.mode = Options::Mode::Synthesize;
        } else if (name == "frames") {
            options.frames = parse_in_range(name, value(), 1, 1000000);
            synthesis_options_seen.push_back(name);
        } else if (name == "size") {
            parse_size(value(), options);
            synthesis_options_seen.push_back(name);
        } else if (name == "rate") {
            parse_rate(value(), options);
            synthesis_options_seen.push_back(name);
        } else {
            throw UsageError("unknown option --" + name);
        }
    }
    if (has_duration && has_end)
        throw UsageError("--t and --to both end the part to work on; give one of them");
    if (has_duration)
        options.span.end = duration > INT64_MAX - options.span.start ? INT64_MAX : options.span.start + duration;
    if (options.span.end <= options.span.start)
        throw UsageError("the part of the clip to work on is empty: it must end after it starts");

    if (options.mode == Options::Mode::Synthesize) {
        if (!filter_options_seen.empty())
            throw UsageError("--" + filter_options_seen.front() + " does not apply to --synthesize");
        if (!input_options_seen.empty())
            throw UsageError("--" + input_options_seen.front() + " does not apply to --synthesize");
        if (positional.size() != 1)
            throw UsageError("--synthesize needs exactly one OUTPUT");
        if (options.pixel_format == AV_PIX_FMT_NONE)
            options.pixel_format = AV_PIX_FMT_YUV420P;
        parse_synthesis_format(av_get_pix_fmt_name(options.pixel_format), options);
        options.output = positional[0];
        return options;
    }
    if (!synthesis_options_seen.empty())
        throw UsageError("--" + synthesis_options_seen.front() + " applies to --synthesize only");
    if (options.settings.decode.mode != DECODE_OFF && !options.settings.composite)
        throw UsageError("--decode decodes the composite signal that --cy makes; give --cy too");
    if (options.settings.vhs.format != VHS_OFF && !options.settings.composite)
        throw UsageError("--vhs plays the composite signal that --cy makes; give --cy too");
    if (positional.empty() && !options.save_preset.empty())
        return options;  // only the preset is written
    const size_t wanted_min = options.still_frame >= 0 ? 1 : 2;
    if (positional.size() < wanted_min || positional.size() > 2)
        throw UsageError(positional.empty() ? "no INPUT given"
                         : positional.size() > 2 ? "too many arguments: '" + positional[2] + "'"
                                                 : "no OUTPUT given");
    options.input = positional[0];
    if (positional.size() == 2)
        options.output = positional[1];
    return options;
}

std::string preset_text(const Options& options)
{
    std::string text = "# norel preset: one setting a line; numbers, on or off, or a choice's name\n";
    for (const SettingInfo& setting : setting_table) {
        const SettingId id = static_cast<SettingId>(&setting - setting_table);
        // The rectangle and the field order belong to the clip unless chosen.
        if ((setting.to_picture_edge || setting.from_stream || id == SETTING_LEFT || id == SETTING_TOP) &&
            !options.given[id])
            continue;
        const int64_t value = setting_value(&options.settings, id);
        text += std::string(setting.key) + " " +
                (setting.kind == SETTING_NUMBER   ? number_text(setting, value)
                 : setting.kind == SETTING_CHOICE ? std::string(setting_choice_name(&setting, value))
                                                  : std::string(value ? "on" : "off")) +
                "\n";
    }
    return text;
}

namespace {

// A setting's line of --help, or its off option's: the option padded to
// `width`, the editor's label, the meaning, the range and the default.
std::string help_line(const SettingInfo& setting, bool off, int width, int label_width)
{
    std::string option = "--" + std::string(off ? setting.off_option : setting.key);
    if (setting.kind != SETTING_SWITCH)
        option += std::string(" ") + setting.value_name;
    const std::string label = "[" + std::string(setting.label) + "]";
    std::string meaning = off ? setting.off_meaning : setting.meaning;
    if (setting.cli_unit != nullptr || setting.unit != nullptr)
        meaning += std::string(", in ") + (setting.cli_unit != nullptr ? setting.cli_unit : setting.unit);
    if (setting.own_default != nullptr)
        meaning += "; " + number_text(setting, setting.minimum) + ": " + setting.own_default;
    if (setting.kind == SETTING_SWITCH) {
        if (setting.from_stream)
            meaning += ", whatever the input says";
        if (off)
            meaning += ", " + std::string(setting.label) + " off";
    }
    std::string range;
    if (setting.kind == SETTING_NUMBER)
        range = number_text(setting, setting.minimum) + " to " + number_text(setting, setting.maximum) + "; ";
    else if (setting.kind == SETTING_CHOICE)
        range = choice_list(setting) + "; ";
    const std::string fallback =
        setting.to_picture_edge ? "the whole picture"
        : setting.kind == SETTING_NUMBER ? number_text(setting, setting.default_value)
        : setting.kind == SETTING_CHOICE ? setting_choice_name(&setting, setting.default_value)
                                         : setting.default_value ? "on" : "off";
    const std::string defaults = setting.from_stream ? " (default: the input's, else " + std::string(setting.meaning) + ")"
                                                     : " (" + range + "default " + fallback + ")";
    return "  " + padded(option, width) + padded(label, label_width + 1) + meaning + defaults + "\n";
}

}  // namespace

std::string help_text()
{
    std::string text =
        "Usage: norel [options] INPUT OUTPUT\n"
        "       norel [options] --still N IMAGE.png INPUT [OUTPUT]\n"
        "       norel [options] --save-preset FILE\n"
        "       norel --synthesize [--frames N] [--size WxH] [--rate R] [--pix-fmt F] OUTPUT\n"
        "\n"
        "Runs the filter \"norel2\" over every frame of INPUT as the editor does\n"
        "while it saves a file, and writes the result to OUTPUT.\n"
        "\n"
        "Filter settings (the editor's label in brackets):\n";
    int label_width = 0;
    for (const SettingInfo& setting : setting_table)
        label_width = std::max(label_width, display_width(setting.label) + 2);
    for (const SettingInfo& setting : setting_table) {
        const bool television = &setting - setting_table >= SETTING_DECODE;
        if (&setting - setting_table == SETTING_DECODE)
            text += "\nTelevision (it decodes what --cy encodes):\n";
        if (&setting - setting_table == SETTING_VHS)
            text += "\nVHS deck (it plays what --cy encodes into the television):\n";
        const int width = &setting - setting_table >= SETTING_VHS ? 27 : television ? 21 : 14;
        // A switch that is on is listed by the option that turns it off.
        const bool off_first = setting.off_option != nullptr && setting.default_value != 0 && !setting.from_stream;
        if (!off_first)
            text += help_line(setting, false, width, label_width);
        if (setting.off_option != nullptr)
            text += help_line(setting, true, width, label_width);
        if (off_first)
            text += help_line(setting, false, width, label_width);
    }
    std::string names;
    for (const auto& preset : named_presets)
        names += std::string(names.empty() ? "" : ", ") + preset.first;
    text +=
        "\n"
        "Looks:\n"
        "  --preset NAME|FILE   start from a look or a preset file; the options given\n"
        "                       beside it override it. Looks: " + names + "\n"
        "  --save-preset FILE   write the filter settings as a preset file\n"
        "\n"
        "Input:\n"
        "  --ss T, --from T     start at time T (seconds, or [HH:]MM:SS[.frac]); the filter\n"
        "                       sees that part as the whole clip\n"
        "  --t D, --to T        work on D from there, or up to time T\n"
        "  --no-audio           write no audio\n"
        "  --strict             refuse a truncated input instead of warning\n"
        "\n"
        "Host and output:\n"
        "  --preview            answer the filter that the editor is previewing, not saving\n"
        "  --compare            put the source (left) and the result (right) side by side\n"
        "  --still N IMAGE.png  also write frame N (counted from 0) alone as a PNG\n"
        "  --codec NAME         video encoder, such as libx264, ffv1, prores_ks or libvpx-vp9\n"
        "  --pix-fmt F          output pixel format, such as yuv422p10le\n"
        "  --crf N              H.264 and VP9 quality, 0 (lossless) to 51; default 18\n"
        "  --threads N          filter on N threads; default one a core\n"
        "  -y                   overwrite an existing OUTPUT\n"
        "  -q, --quiet          no progress line\n"
        "  --verbose            show FFmpeg's own warnings\n"
        "  -h, --help           this text\n"
        "  --version            the program's version\n"
        "\n"
        "Test clip (--synthesize writes colour bars, a moving zone plate, interlaced motion\n"
        "and sharp horizontal edges to OUTPUT):\n"
        "  --frames N           length of the clip; default 60\n"
        "  --size WxH           picture size; default 720x480\n"
        "  --rate R             frame rate; default 30000/1001\n"
        "  --pix-fmt F          planar YUV or grey format of 8 to 12 bits; default yuv420p\n"
        "\n"
        "INPUT is any video file FFmpeg's libraries read, an image sequence given as a\n"
        "pattern such as frame%04d.png, or - for a stream on standard input.\n"
        "OUTPUT is named .mkv (lossless FFV1), .mp4 (H.264), .mov (ProRes 4:2:2 HQ),\n"
        ".webm (VP9), .y4m (or - for standard output), .png (a single frame) or a PNG\n"
        "sequence pattern such as out%04d.png, numbered from 0. Audio, tags, rotation,\n"
        "aspect ratio, colour description and frame timing are kept where OUTPUT can\n"
        "hold them. OUTPUT is written under a temporary name and appears only when\n"
        "complete.\n";
    return text;
}
