// Runs the built program on clips it synthesises and checks what it writes
// against the filter run directly on the same frames.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "hosts/cli/decode.h"
#include "hosts/aviutl/driver.h"
#include "tests/cli/support.h"

namespace {

struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<int> track;  // left, width, top, height, shift, freq, phase
    std::vector<std::pair<int, int>> checks;  // check boxes changed from their defaults
    bool saving = true;
};

const Case cases[] = {
    {"defaults", {}, {0, 320, 0, 320, 0, 704, 0}, {}},
    {"cy_shift_mono",
     {"--cy", "--shift", "-23", "--freq", "690", "--phase", "33", "--mono", "--left", "5", "--width", "40",
      "--top", "3", "--height", "30"},
     {5, 40, 3, 30, -23, 690, 33},
     {{CHECK_CY, 1}, {CHECK_MONO, 1}}},
    {"fractional_shift_bff", {"--shift", "9", "--bff", "--no-lpf"}, {0, 320, 0, 320, 9, 704, 0},
     {{CHECK_TFF, 0}, {CHECK_LPF, 0}}},
    {"60fps_cy", {"--60fps", "--cy", "--width", "2048", "--height", "2048"}, {0, 2048, 0, 2048, 0, 704, 0},
     {{CHECK_60FPS, 1}, {CHECK_CY, 1}}},
    {"60fps_bff_shift", {"--60fps", "--bff", "--shift", "-40"}, {0, 320, 0, 320, -40, 704, 0},
     {{CHECK_60FPS, 1}, {CHECK_TFF, 0}}},
    {"compose", {"--compose", "--cy", "--left", "8", "--width", "30", "--top", "4", "--height", "20"},
     {8, 30, 4, 20, 0, 704, 0}, {{CHECK_COMPOSE, 1}, {CHECK_CY, 1}}},
    {"show_range_preview", {"--show-range", "--preview", "--top", "3", "--height", "10"},
     {0, 320, 3, 10, 0, 704, 0}, {{CHECK_SHOW_RANGE, 1}}, false},
    {"show_range_saving", {"--show-range", "--top", "3", "--height", "10"}, {0, 320, 3, 10, 0, 704, 0},
     {{CHECK_SHOW_RANGE, 1}}},
};

// Names the case in gtest's messages instead of dumping its bytes.
void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

FilterSettings settings_of(const Case& c)
{
    FilterSettings settings = default_settings();
    settings.track = c.track;
    for (auto [index, value] : c.checks)
        settings.check[index] = value;
    settings.saving = c.saving;
    return settings;
}

std::vector<std::string> with(std::vector<std::string> arguments, std::initializer_list<std::string> more)
{
    arguments.insert(arguments.end(), more);
    return arguments;
}

// Renders `clip` with the case's options and checks every output frame
// against the filter run directly.
void expect_program_matches_filter(const Case& c, const ScratchDir& dir, const std::string& clip_path)
{
    const std::string out = dir.path(std::string(c.name) + ".y4m");
    norel_ok(with(c.arguments, {"-y", clip_path, out}));
    Y4mClip in = read_y4m(clip_path);
    const Y4mClip result = read_y4m(out);
    ASSERT_EQ(result.frames.size(), in.frames.size());
    std::vector<std::vector<PIXEL_YC>> frames;
    for (size_t i = 0; i < in.frames.size(); ++i)
        frames.push_back(in.yc(i));
    const auto expected = run_filter_directly(frames, in.width, in.height, settings_of(c));
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(result.frames[i] == in.bytes_of(expected[i])) << c.name << ", frame " << i;
}

class ProgramMatchesFilter : public testing::TestWithParam<std::tuple<Case, int>> {};

int png_width(const std::string& path)
{
    const std::string data = read_file(path);
    if (data.size() < 24 || data.compare(1, 3, "PNG") != 0)
        return -1;
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    return (b[16] << 24) | (b[17] << 16) | (b[18] << 8) | b[19];
}

}  // namespace

TEST_P(ProgramMatchesFilter, OnEveryFrame)
{
    const auto& [c, length] = GetParam();
    ScratchDir dir;
    const std::string clip = dir.path("clip.y4m");
    synthesize_clip(clip, length, "47x35");
    expect_program_matches_filter(c, dir, clip);
}

INSTANTIATE_TEST_SUITE_P(OddAndEvenLengths, ProgramMatchesFilter,
                         testing::Combine(testing::ValuesIn(cases), testing::Values(7, 8)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::to_string(std::get<1>(info.param)) + "_frames";
                         });

TEST(EndToEnd, DeeperAndLessSubsampledPicturesMatchTheFilterToo)
{
    ScratchDir dir;
    for (const char* format : {"yuv422p10le", "yuv444p12le", "gray"}) {
        const std::string clip = dir.path(std::string(format) + ".y4m");
        synthesize_clip(clip, 4, "48x36", format);
        expect_program_matches_filter(cases[1], dir, clip);
        expect_program_matches_filter(cases[3], dir, clip);
    }
}

TEST(EndToEnd, LastFrameOfAnOddClipPairsWithItself)
{
    ScratchDir dir;
    const std::string clip = dir.path("clip.y4m"), out = dir.path("out.y4m");
    synthesize_clip(clip, 5, "48x36");
    norel_ok({"--60fps", "--no-lpf", clip, out});
    const Y4mClip in = read_y4m(clip), result = read_y4m(out);
    ASSERT_EQ(result.frames.size(), 5u);
    EXPECT_TRUE(result.frames[4] == in.frames[4]);  // woven with its own field
    EXPECT_TRUE(result.frames[2] == result.frames[3]);  // a pair becomes one picture
    EXPECT_FALSE(result.frames[2] == in.frames[2]);
}

TEST(EndToEnd, MiddleFrameOfAnEvenClipComposesTheLastFrame)
{
    ScratchDir dir;
    const std::string clip = dir.path("clip.y4m"), out = dir.path("out.y4m");
    synthesize_clip(clip, 6, "48x36", "yuv444p");
    norel_ok({"--compose", "--width", "2048", "--height", "2048", clip, out});
    const Y4mClip in = read_y4m(clip), result = read_y4m(out);
    ASSERT_EQ(result.frames.size(), 6u);
    EXPECT_TRUE(result.frames[0] == in.frames[3]);
    EXPECT_TRUE(result.frames[2] == in.frames[5]);
    EXPECT_TRUE(result.frames[3] == in.frames[5]);  // asks for frame 6, gets the nearest
    EXPECT_TRUE(result.frames[4] == in.frames[4]);
}

TEST(EndToEnd, EveryFormatComesBackBitExactWithEveryEffectOff)
{
    ScratchDir dir;
    const std::pair<const char*, const char*> clips[] = {
        {"yuv420p", "47x35"}, {"yuv422p", "47x35"}, {"yuv444p", "47x35"}, {"yuv411p", "47x35"},
        {"gray", "47x35"},    {"yuv420p10le", "48x36"}, {"yuv444p12le", "47x35"}};
    for (const auto& [format, size] : clips) {
        const std::string clip = dir.path(std::string(format) + ".y4m");
        const std::string out = dir.path(std::string(format) + "_out.y4m");
        synthesize_clip(clip, 3, size, format);
        norel_ok({"--no-lpf", clip, out});
        EXPECT_EQ(read_file(out), read_file(clip)) << format;
    }
}

// Interlaced 4:2:0 keeps each field's colour: chroma rows alternating
// between two colours, one field moved by one field line, come back with
// every chroma row of both fields as it was but at the picture's top and
// bottom. A field order given makes a progressive clip interlaced; a
// progressive one keeps frame chroma, whose rows mix the fields.
TEST(EndToEnd, Interlaced420KeepsEachFieldsColour)
{
    struct Case {
        const char* tag;
        std::vector<std::string> options;
        bool by_field;
    };
    const Case cases[] = {
        {"It", {}, true}, {"Ib", {}, true}, {"Ip", {"--tff"}, true}, {"Ip", {"--bff"}, true}, {"Ip", {}, false},
    };
    const int w = 64, h = 48, cw = w / 2, ch = h / 2;
    std::string picture(static_cast<size_t>(w) * h, '\x64');
    for (const int field_colours : {0, 1}) {  // cb, then cr: field 0's and field 1's
        const char colours[2][2] = {{'\x5a', '\xc8'}, {'\xdc', '\x64'}};
        for (int r = 0; r < ch; ++r)
            picture.append(cw, colours[field_colours][r % 2]);
    }
    ScratchDir dir;
    for (const Case& c : cases) {
        const std::string in = dir.path("in.y4m"), out = dir.path("out.y4m");
        write_file(in, "YUV4MPEG2 W64 H48 F30000:1001 " + std::string(c.tag) + " A1:1 C420jpeg\nFRAME\n" + picture);
        norel_ok(with(c.options, {"-y", "--quiet", "--no-lpf", "--shift", "16", in, out}));
        const std::vector<uint8_t> result = read_y4m(out).frames.at(0);
        int kept = 0, checked = 0;
        for (int plane = 0; plane < 2; ++plane) {
            for (int r = 2; r < ch - 2; ++r, ++checked) {
                const size_t row = static_cast<size_t>(w) * h + static_cast<size_t>(plane * ch + r) * cw;
                kept += std::equal(result.begin() + row, result.begin() + row + cw, picture.begin() + row,
                                   [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); });
            }
        }
        EXPECT_EQ(kept, c.by_field ? checked : 0) << c.tag << " " << testing::PrintToString(c.options);
    }
}

TEST(EndToEnd, Ffv1OutputHoldsExactlyTheFilteredFrames)
{
    ScratchDir dir;
    for (const char* format : {"yuv420p", "yuv422p10le"}) {
        const std::string clip = dir.path("clip.y4m");
        synthesize_clip(clip, 5, "48x36", format);
        const std::vector<std::string> settings = {"--cy", "--shift", "7", "--60fps"};
        norel_ok(with(settings, {"-y", clip, dir.path("out.y4m")}));
        norel_ok(with(settings, {"-y", clip, dir.path("out.mkv")}));
        norel_ok({"-y", "--no-lpf", dir.path("out.mkv"), dir.path("back.y4m")});
        EXPECT_EQ(read_file(dir.path("back.y4m")), read_file(dir.path("out.y4m"))) << format;
    }
}

TEST(EndToEnd, StandardInputAndOutputCarryYuv4mpeg)
{
    ScratchDir dir;
    const std::string clip = dir.path("clip.y4m");
    synthesize_clip(clip, 7, "48x36");
    for (const char* mode : {"--60fps", "--compose"}) {
        norel_ok({"-y", mode, clip, dir.path("file.y4m")});
        RunOptions streams;
        streams.stdin_path = clip;
        streams.stdout_path = dir.path("stream.y4m");
        norel_ok({mode, "-", "-"}, streams);
        EXPECT_EQ(read_file(dir.path("stream.y4m")), read_file(dir.path("file.y4m"))) << mode;
    }
    // Compose mode reads standard input twice from a copy that is removed.
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"clip.y4m", "file.y4m", "stream.y4m"}));
}

TEST(EndToEnd, NamedPipesAreReadOnceAsStreams)
{
    ScratchDir dir;
    const std::string clip = dir.path("clip.y4m"), pipe = dir.path("pipe");
    synthesize_clip(clip, 7, "48x36");
    const std::string bytes = read_file(clip);
    // Should the program stop reading, the feeder's write fails instead of
    // killing the test.
    signal(SIGPIPE, SIG_IGN);
    for (const char* mode : {"--60fps", "--compose"}) {
        norel_ok({"-y", mode, clip, dir.path("file.y4m")});
        ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
        // Feeds the pipe once the program has opened it; gives up after 10 s.
        std::thread feeder([&] {
            int fd = -1;
            for (int tries = 0; fd < 0 && tries < 1000; ++tries) {
                fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd < 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (fd < 0)
                return;
            fcntl(fd, F_SETFL, 0);
            EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
            close(fd);
        });
        norel_ok({"-y", mode, pipe, dir.path("stream.y4m")});
        feeder.join();
        EXPECT_EQ(read_file(dir.path("stream.y4m")), read_file(dir.path("file.y4m"))) << mode;
        std::filesystem::remove(pipe);
    }
}

TEST(EndToEnd, PngSequencesStillsAndComparisons)
{
    ScratchDir dir;
    const std::string clip = dir.path("clip.y4m");
    synthesize_clip(clip, 4, "47x35");
    norel_ok({"--cy", clip, dir.path("f%03d.png")});
    norel_ok({"--cy", "--still", "2", dir.path("still.png"), clip});
    norel_ok({"--cy", "--compare", "--still", "1", dir.path("compare.png"), clip, dir.path("compare.y4m")});
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"clip.y4m", "compare.png", "compare.y4m", "f000.png",
                                                       "f001.png", "f002.png", "f003.png", "still.png"}));
    EXPECT_EQ(read_file(dir.path("still.png")), read_file(dir.path("f002.png")));
    EXPECT_EQ(png_width(dir.path("f000.png")), 47);
    // Each half is widened to whole chroma blocks: 48 + 48.
    EXPECT_EQ(png_width(dir.path("compare.png")), 96);
    const Y4mClip compare = read_y4m(dir.path("compare.y4m"));
    EXPECT_EQ(compare.width, 96);
    EXPECT_EQ(compare.frames.size(), 4u);

    // A sequence reads back as a clip of as many frames.
    norel_ok({dir.path("f%03d.png"), dir.path("back.y4m")});
    EXPECT_EQ(read_y4m(dir.path("back.y4m")).frames.size(), 4u);
}

TEST(EndToEnd, Mp4OutputIsH264OfTheWholeClip)
{
    ScratchDir dir;
    const std::string clip = dir.path("clip.y4m"), out = dir.path("out.mp4");
    synthesize_clip(clip, 6, "48x36");
    norel_ok({"--crf", "30", "--cy", clip, out});
    EXPECT_EQ(count_frames(out, out, nullptr), 6);
    VideoDecoder decoder(out, out);
    EXPECT_EQ(decoder.info().width, 48);
    EXPECT_EQ(decoder.info().height, 36);
    EXPECT_EQ(decoder.info().frame_rate.num * 1001, decoder.info().frame_rate.den * 30000);
}

TEST(EndToEnd, MemoryStaysBoundedOnALongClip)
{
#ifdef NOREL_ADDRESS_SANITIZER
    GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine: peak memory says nothing here";
#endif
    // Half of the long clip as PIXEL_YC frames would take over 100 MB.
    ScratchDir dir;
    synthesize_clip(dir.path("short.y4m"), 8, "256x192");
    synthesize_clip(dir.path("long.y4m"), 800, "256x192");
    const std::vector<std::string> settings = {"--compose", "--60fps", "--quiet"};
    const RunResult short_run = run_norel(with(settings, {dir.path("short.y4m"), dir.path("short.mkv")}));
    const RunResult long_run = run_norel(with(settings, {dir.path("long.y4m"), dir.path("long.mkv")}));
    ASSERT_EQ(short_run.exit_status, 0) << short_run.stderr_text;
    ASSERT_EQ(long_run.exit_status, 0) << long_run.stderr_text;
    EXPECT_LT(long_run.peak_rss_kb - short_run.peak_rss_kb, 24 * 1024)
        << "short clip " << short_run.peak_rss_kb << " KB, long clip " << long_run.peak_rss_kb << " KB";
}

TEST(EndToEnd, ProgressIsShownOnATerminalUnlessQuiet)
{
    ScratchDir dir;
    const std::string clip = dir.path("clip.y4m");
    synthesize_clip(clip, 8, "48x36");
    for (bool quiet : {false, true}) {
        int terminal = -1;
        const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
        ASSERT_GE(child, 0);
        if (child == 0) {
            const std::string out = dir.path("out.y4m");
            if (quiet)
                execl(NOREL_PROGRAM, NOREL_PROGRAM, "-y", "--quiet", clip.c_str(), out.c_str(), nullptr);
            else
                execl(NOREL_PROGRAM, NOREL_PROGRAM, "-y", clip.c_str(), out.c_str(), nullptr);
            _exit(127);
        }
        std::string shown;
        char buffer[1024];
        for (ssize_t got; (got = read(terminal, buffer, sizeof buffer)) > 0;)
            shown.append(buffer, static_cast<size_t>(got));
        close(terminal);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0) << shown;
        if (quiet)
            EXPECT_EQ(shown, "");
        else
            EXPECT_NE(shown.find("norel: frame 8 of 8"), std::string::npos) << shown;
    }
}

TEST(EndToEnd, DecodedCompositeComesBackInItsOwnColour)
{
    // A flat colour field, 4:4:4: Y 120, U 100, V 170.
    ScratchDir dir;
    const int width = 64, height = 48;
    std::string clip = "YUV4MPEG2 W64 H48 F30000:1001 It A1:1 C444\n";
    for (int frame = 0; frame < 3; ++frame) {
        clip += "FRAME\n";
        for (int value : {120, 100, 170})
            clip += std::string(static_cast<size_t>(width) * height, static_cast<char>(value));
    }
    write_file(dir.path("flat.y4m"), clip);
    norel_ok({"--cy", "--decode", "notch", "--no-lpf", dir.path("flat.y4m"), dir.path("decoded.y4m")});
    norel_ok({"--cy", "--no-lpf", dir.path("flat.y4m"), dir.path("signal.y4m")});
    const Y4mClip decoded = read_y4m(dir.path("decoded.y4m")), signal = read_y4m(dir.path("signal.y4m"));
    ASSERT_EQ(decoded.frames.size(), 3u);
    const size_t plane = static_cast<size_t>(width) * height;
    for (size_t f = 0; f < 3; ++f) {
        // Away from the edges the horizontal filters see only the field.
        for (int r = 0; r < height; ++r) {
            for (int x = 16; x < width - 16; ++x) {
                const size_t i = static_cast<size_t>(r) * width + x;
                EXPECT_NEAR(decoded.frames[f][i], 120, 3) << "y at " << x << "," << r;
                EXPECT_NEAR(decoded.frames[f][plane + i], 100, 3) << "u at " << x << "," << r;
                EXPECT_NEAR(decoded.frames[f][2 * plane + i], 170, 3) << "v at " << x << "," << r;
            }
        }
    }
    // Undecoded, the colour is the carrier's dots in a grey picture.
    EXPECT_EQ(signal.frames[0][plane + width * 20 + 30], 128);
}
