#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hosts/cli/options.h"
#include "hosts/aviutl/descriptor.h"
#include "hosts/aviutl/driver.h"

namespace {

Options parse(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "norel");
    std::vector<const char*> argv;
    for (const std::string& a : arguments)
        argv.push_back(a.c_str());
    return parse_options(static_cast<int>(argv.size()), argv.data());
}

// The settings as the editor's track and check values: its tracks and
// check boxes lead the settings table.
std::vector<int> tracks(const Options& options)
{
    std::vector<int> values;
    for (int i = 0; i < TRACK_COUNT; ++i)
        values.push_back(setting_value(&options.settings, static_cast<SettingId>(SETTING_LEFT + i)));
    return values;
}

std::vector<int> checks(const Options& options)
{
    std::vector<int> values;
    for (int i = 0; i < CHECK_COUNT; ++i)
        values.push_back(setting_value(&options.settings, static_cast<SettingId>(SETTING_COMPOSE + i)));
    return values;
}

// The message of the UsageError the arguments give, or "" when they parse.
std::string refusal(const std::vector<std::string>& arguments)
{
    try {
        parse(arguments);
    } catch (const UsageError& error) {
        return error.what();
    }
    return "";
}

const std::pair<const char*, int> track_options[] = {
    {"left", TRACK_LEFT}, {"width", TRACK_WIDTH}, {"top", TRACK_TOP}, {"height", TRACK_HEIGHT},
    {"shift", TRACK_SHIFT}, {"freq", TRACK_FREQ}, {"phase", TRACK_PHASE}};

}  // namespace

TEST(Options, SettingsStartAtTheFiltersDefaults)
{
    const FILTER_DLL* filter = GetFilterTable();
    const Options options = parse({"in.mkv", "out.mkv"});
    EXPECT_EQ(options.mode, Options::Mode::Render);
    EXPECT_EQ(options.input, "in.mkv");
    EXPECT_EQ(options.output, "out.mkv");
    EXPECT_EQ(tracks(options), std::vector<int>(filter->track_default, filter->track_default + 7));
    EXPECT_EQ(checks(options), std::vector<int>(filter->check_default, filter->check_default + 7));
    EXPECT_FALSE(options.preview);
}

TEST(Options, EachTrackOptionSetsItsTrackAcrossItsRange)
{
    const FILTER_DLL* filter = GetFilterTable();
    for (const auto& [name, index] : track_options) {
        const std::string option = std::string("--") + name;
        const int low = filter->track_s[index];
        const int high = index <= TRACK_HEIGHT ? 65536 : filter->track_e[index];
        EXPECT_EQ(tracks(parse({option, std::to_string(low), "a", "b"}))[index], low) << name;
        EXPECT_EQ(tracks(parse({option + "=" + std::to_string(high), "a", "b"}))[index], high) << name;

        const std::string range = "from " + std::to_string(low) + " to " + std::to_string(high);
        EXPECT_EQ(refusal({option, std::to_string(low - 1), "a", "b"}),
                  option + " " + std::to_string(low - 1) + " is out of range: it must be " + range);
        EXPECT_EQ(refusal({option + "=" + std::to_string(high + 1), "a", "b"}),
                  option + " " + std::to_string(high + 1) + " is out of range: it must be " + range);
    }
}

TEST(Options, CheckOptionsTurnTheirBoxOnOrOff)
{
    const std::pair<const char*, std::pair<int, int>> cases[] = {
        {"--compose", {CHECK_COMPOSE, 1}}, {"--60fps", {CHECK_60FPS, 1}}, {"--bff", {CHECK_TFF, 0}}, {"--tff", {CHECK_TFF, 1}},
        {"--show-range", {CHECK_SHOW_RANGE, 1}}, {"--mono", {CHECK_MONO, 1}}, {"--cy", {CHECK_CY, 1}},
        {"--no-lpf", {CHECK_LPF, 0}}};
    for (const auto& [option, expected] : cases) {
        const Options options = parse({option, "a", "b"});
        const FILTER_DLL* filter = GetFilterTable();
        std::vector<int> wanted(filter->check_default, filter->check_default + filter->check_n);
        wanted[expected.first] = expected.second;
        EXPECT_EQ(checks(options), wanted) << option;
    }
}

TEST(Options, MalformedCommandLinesAreRefused)
{
    EXPECT_EQ(refusal({"--left", "abc", "a", "b"}), "--left: 'abc' is not a whole number");
    EXPECT_EQ(refusal({"--left", "12px", "a", "b"}), "--left: '12px' is not a whole number");
    EXPECT_EQ(refusal({"a", "b", "--shift"}), "--shift needs a value");
    EXPECT_EQ(refusal({"--mono=1", "a", "b"}), "--mono takes no value");
    EXPECT_EQ(refusal({"--bogus", "a", "b"}), "unknown option --bogus");
    EXPECT_EQ(refusal({"-x", "a", "b"}), "unknown option -x");
    EXPECT_EQ(refusal({"a"}), "no OUTPUT given");
    EXPECT_EQ(refusal({}), "no INPUT given");
    EXPECT_EQ(refusal({"a", "b", "c"}), "too many arguments: 'c'");
    EXPECT_EQ(refusal({"--crf", "52", "a", "b"}), "--crf 52 is out of range: it must be from 0 to 51");
    EXPECT_EQ(refusal({"--still", "3"}), "--still needs a frame number and a PNG file");
    EXPECT_EQ(refusal({"--frames", "3", "a", "b"}), "--frames applies to --synthesize only");
    EXPECT_EQ(refusal({"--synthesize", "--cy", "a"}), "--cy does not apply to --synthesize");
    EXPECT_EQ(refusal({"--synthesize", "a", "b"}), "--synthesize needs exactly one OUTPUT");
    EXPECT_NE(refusal({"--synthesize", "--pix-fmt", "rgb24", "a"}).find("not a planar YUV"), std::string::npos);
    EXPECT_NE(refusal({"--synthesize", "--size", "12", "a"}).find("not a picture size"), std::string::npos);
}

TEST(Options, StillNeedsNoOutputAndDashesNameStandardStreams)
{
    const Options still = parse({"--still", "12", "frame.png", "in.mkv"});
    EXPECT_EQ(still.still_frame, 12);
    EXPECT_EQ(still.still_path, "frame.png");
    EXPECT_EQ(still.input, "in.mkv");
    EXPECT_EQ(still.output, "");

    const Options streams = parse({"--preview", "--", "-", "-"});
    EXPECT_TRUE(streams.preview);
    EXPECT_EQ(streams.input, "-");
    EXPECT_EQ(streams.output, "-");
}

TEST(Options, SynthesisHasItsOwnSettings)
{
    const Options options = parse({"--synthesize", "--frames", "9", "--size", "64x48", "--rate", "25",
                                   "--pix-fmt", "yuv422p10le", "clip.y4m"});
    EXPECT_EQ(options.mode, Options::Mode::Synthesize);
    EXPECT_EQ(options.frames, 9);
    EXPECT_EQ(options.width, 64);
    EXPECT_EQ(options.height, 48);
    EXPECT_EQ(options.rate.num, 25);
    EXPECT_EQ(options.rate.den, 1);
    EXPECT_EQ(options.pixel_format, AV_PIX_FMT_YUV422P10LE);
    EXPECT_EQ(options.output, "clip.y4m");
}

TEST(Options, LabelsAreShownInUtf8)
{
    // 範囲表示: the trail byte of 表 is a backslash in code page 932.
    EXPECT_EQ(label_as_utf8("\x94\xCD\x88\xCD\x95\x5C\x8E\xA6"), "範囲表示");
    EXPECT_EQ(label_as_utf8("\x8D\x87\x90\xAC\x83\x82\x81\x5B\x83\x68"), "合成モード");
    EXPECT_EQ(label_as_utf8("freq"), "freq");
}

TEST(Options, HelpListsEveryOptionBesideTheEditorsLabel)
{
    const std::string help = help_text();
    const char* lines[] = {
        "--left N      [左]",        "--width N     [幅]",    "--top N       [上]",
        "--height N    [高さ]",      "--shift N     [移動量]", "--freq N      [freq]",
        "--phase N     [phase]",     "--compose     [合成モード]", "--60fps       [60FPS]",
        "--bff         [TFF]",       "--show-range  [範囲表示]", "--mono        [MONO]",
        "--cy          [C/Y]",       "--no-lpf      [LPF]"};
    for (const char* line : lines)
        EXPECT_NE(help.find(line), std::string::npos) << line;
    for (const char* option : {"--decode MODE", "--chroma-bandwidth B", "--saturation N", "--hue N", "--standard S",
                               "--no-delay-line", "--threads N", "-q, --quiet"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    EXPECT_NE(help.find("(-256 to 256; default 0)"), std::string::npos);
    EXPECT_NE(help.find("(600 to 750; default 704)"), std::string::npos);
    EXPECT_NE(help.find("no vertical low-pass filter, LPF off (default on)"), std::string::npos);
    EXPECT_EQ(parse({"--help"}).mode, Options::Mode::Help);
}

TEST(Options, PresetsAreAStartThatExplicitOptionsOverride)
{
    const Options composite = parse({"--preset", "composite", "--shift", "3", "a", "b"});
    EXPECT_EQ(checks(composite)[CHECK_CY], 1);
    EXPECT_EQ(tracks(composite)[TRACK_SHIFT], 3);
    // What is saved reads back as the same settings.
    const Options chosen = parse({"--cy", "--bff", "--width", "5000", "--phase", "-7", "a", "b"});
    const std::string path = testing::TempDir() + "norel-preset-test.txt";
    {
        std::FILE* file = std::fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs(preset_text(chosen).c_str(), file);
        std::fclose(file);
    }
    const Options loaded = parse({"--preset=" + path, "a", "b"});
    std::remove(path.c_str());
    EXPECT_EQ(tracks(loaded), tracks(chosen));
    EXPECT_EQ(checks(loaded), checks(chosen));
    // The rectangle is saved only where it was chosen.
    EXPECT_EQ(std::vector<bool>(loaded.given, loaded.given + 4), (std::vector<bool>{false, true, false, false}));
    EXPECT_TRUE(loaded.given[SETTING_TFF]);
    EXPECT_EQ(parse({"--version"}).mode, Options::Mode::Version);
    EXPECT_EQ(parse({"-h"}).mode, Options::Mode::Help);
    EXPECT_TRUE(parse({"-y", "a", "b"}).overwrite);
    EXPECT_TRUE(parse({"-q", "a", "b"}).quiet);
    const Options span = parse({"--ss", "1:02", "--t", "0.5", "a", "b"});
    EXPECT_EQ(span.span.start, 62 * AV_TIME_BASE);
    EXPECT_EQ(span.span.end, 62 * AV_TIME_BASE + AV_TIME_BASE / 2);
}

TEST(Options, DecoderOptionsSetTheTelevisionAndNeedCy)
{
    const std::pair<std::vector<std::string>, DecodeSettings> cases[] = {
        {{"--cy"}, {DECODE_OFF, CHROMA_WIDE, 100, 0}},
        {{"--cy", "--decode", "notch"}, {DECODE_NOTCH, CHROMA_WIDE, 100, 0}},
        {{"--cy", "--decode=2line", "--chroma-bandwidth", "narrow"}, {DECODE_2LINE, CHROMA_NARROW, 100, 0}},
        {{"--cy", "--decode", "3line", "--saturation", "200", "--hue", "-180"}, {DECODE_3LINE, CHROMA_WIDE, 200, -180}},
        {{"--cy", "--decode", "3d", "--saturation=0", "--hue=180"}, {DECODE_3D, CHROMA_WIDE, 0, 180}},
        {{"--preset", "composite"}, {DECODE_NOTCH, CHROMA_WIDE, 100, 0}},
        {{"--preset", "composite-signal"}, {DECODE_OFF, CHROMA_WIDE, 100, 0}},
        {{"--preset", "composite", "--decode", "3d"}, {DECODE_3D, CHROMA_WIDE, 100, 0}},
    };
    for (const auto& [arguments, expected] : cases) {
        std::vector<std::string> line = arguments;
        line.insert(line.end(), {"a", "b"});
        const DecodeSettings decode = parse(line).settings.decode;
        EXPECT_EQ(decode.mode, expected.mode) << line[1];
        EXPECT_EQ(decode.bandwidth, expected.bandwidth) << line[1];
        EXPECT_EQ(decode.saturation, expected.saturation) << line[1];
        EXPECT_EQ(decode.hue, expected.hue) << line[1];
    }
    EXPECT_EQ(parse({"--preset", "composite-signal", "a", "b"}).settings.composite, 1);
    EXPECT_EQ(refusal({"--decode", "notch", "a", "b"}), "--decode decodes the composite signal that --cy makes; give --cy too");
    EXPECT_EQ(refusal({"--cy", "--decode", "pal", "a", "b"}),
              "--decode: 'pal' is not off, notch, 2line, 3line or 3d");
    EXPECT_EQ(refusal({"--cy", "--chroma-bandwidth", "vhs", "a", "b"}), "--chroma-bandwidth: 'vhs' is neither wide nor narrow");
    EXPECT_EQ(refusal({"--saturation", "201", "a", "b"}), "--saturation 201 is out of range: it must be from 0 to 200");
    EXPECT_EQ(refusal({"--hue", "-181", "a", "b"}), "--hue -181 is out of range: it must be from -180 to 180");
    EXPECT_EQ(refusal({"--threads", "0", "a", "b"}), "--threads 0 is out of range: it must be from 1 to 256");
    // A saved preset carries the decoder.
    const Options chosen = parse({"--cy", "--decode", "3d", "--chroma-bandwidth", "narrow", "--saturation", "150",
                                  "--hue", "-20", "a", "b"});
    const std::string path = testing::TempDir() + "norel-decoder-preset-test.txt";
    {
        std::FILE* file = std::fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs(preset_text(chosen).c_str(), file);
        std::fclose(file);
    }
    const DecodeSettings loaded = parse({"--preset", path, "a", "b"}).settings.decode;
    std::remove(path.c_str());
    EXPECT_EQ(loaded.mode, DECODE_3D);
    EXPECT_EQ(loaded.bandwidth, CHROMA_NARROW);
    EXPECT_EQ(loaded.saturation, 150);
    EXPECT_EQ(loaded.hue, -20);
}

TEST(Options, StandardAndDelayLine)
{
    const struct {
        std::vector<std::string> arguments;
        int32_t standard;
        int32_t delay_line;
        int32_t mode;
    } cases[] = {
        {{}, STANDARD_NTSC, 1, DECODE_OFF},
        {{"--standard", "pal"}, STANDARD_PAL, 1, DECODE_OFF},
        {{"--standard=ntsc", "--no-delay-line"}, STANDARD_NTSC, 0, DECODE_OFF},
        {{"--preset", "pal"}, STANDARD_PAL, 1, DECODE_NOTCH},
        {{"--preset", "pal", "--no-delay-line", "--decode", "3d"}, STANDARD_PAL, 0, DECODE_3D},
        {{"--no-delay-line", "--delay-line"}, STANDARD_NTSC, 1, DECODE_OFF},
    };
    for (const auto& c : cases) {
        std::vector<std::string> line = c.arguments;
        line.insert(line.end(), {"a", "b"});
        const Options options = parse(line);
        EXPECT_EQ(options.settings.standard, c.standard) << line[0];
        EXPECT_EQ(options.settings.decode.delay_line, c.delay_line) << line[0];
        EXPECT_EQ(options.settings.decode.mode, c.mode) << line[0];
    }
    EXPECT_EQ(parse({"--preset", "pal", "a", "b"}).settings.composite, 1);
    EXPECT_EQ(refusal({"--standard", "secam", "a", "b"}), "--standard: 'secam' is neither ntsc nor pal");
    // A saved preset carries them.
    const std::string path = testing::TempDir() + "norel-standard-preset-test.txt";
    {
        std::FILE* file = std::fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs(preset_text(parse({"--standard", "pal", "--no-delay-line", "a", "b"})).c_str(), file);
        std::fclose(file);
    }
    const Options loaded = parse({"--preset", path, "a", "b"});
    std::remove(path.c_str());
    EXPECT_EQ(loaded.settings.standard, STANDARD_PAL);
    EXPECT_EQ(loaded.settings.decode.delay_line, 0);
}
