// Every way a run can fail: one line naming what and where, a non-zero exit
// status, and nothing left behind under the output's name or any other.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "hosts/aviutl/descriptor.h"
#include "hosts/aviutl/driver.h"
#include "tests/cli/support.h"

namespace {

// Runs norel and checks that it failed with exactly `message` (after
// "norel: ") and exit status `status`.
void expect_failure(const std::vector<std::string>& arguments, const std::string& message, int status = 1,
                    const RunOptions& options = {})
{
    const RunResult result = run_norel(arguments, options);
    EXPECT_EQ(result.exit_status, status);
    std::string expected = "norel: " + message + "\n";
    if (status == 2)
        expected += "Try 'norel --help' for the options.\n";
    EXPECT_EQ(result.stderr_text, expected);
}

class Failures : public testing::Test {
protected:
    void SetUp() override { synthesize_clip(clip, 6); }

    // Nothing but the files the test made itself.
    void expect_left_alone(std::vector<std::string> made = {})
    {
        made.push_back("clip.y4m");
        std::sort(made.begin(), made.end());
        EXPECT_EQ(dir.entries(), made);
    }

    ScratchDir dir;
    const std::string clip = dir.path("clip.y4m");
    const std::string out = dir.path("out.mkv");
};

}  // namespace

TEST_F(Failures, InputsThatAreNotVideos)
{
    expect_failure({dir.path("missing.y4m"), out}, dir.path("missing.y4m") + ": No such file or directory");

    write_file(dir.path("empty.y4m"), "");
    expect_failure({dir.path("empty.y4m"), out}, dir.path("empty.y4m") + ": file is empty");

    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += static_cast<char>((i * 7919 + 13) % 251);
    write_file(dir.path("garbage.mkv"), garbage);
    expect_failure({dir.path("garbage.mkv"), out},
                   dir.path("garbage.mkv") + ": not a video file that can be read (Invalid data found when processing input)");

    // A WAV file of silence: a container with sound only.
    std::string wav("RIFF\x24\x10\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x80\x3e\0\0\x02\0\x10\0data\0\x10\0\0", 44);
    wav += std::string(4096, '\0');
    write_file(dir.path("sound.wav"), wav);
    expect_failure({dir.path("sound.wav"), out}, dir.path("sound.wav") + ": has no video stream");

    expect_failure({dir.path(""), out}, dir.path("") + ": is a directory, not a video file");
    expect_left_alone({"empty.y4m", "garbage.mkv", "sound.wav"});
}

TEST_F(Failures, TruncatedInputs)
{
    const std::string whole = read_file(clip);
    write_file(dir.path("cut.y4m"), whole.substr(0, whole.size() * 2 / 3));
    expect_failure({"--strict", dir.path("cut.y4m"), out}, dir.path("cut.y4m") + ": truncated: the last frame is incomplete");

    norel_ok({clip, dir.path("whole.mkv")});
    const std::string mkv = read_file(dir.path("whole.mkv"));
    write_file(dir.path("cut.mkv"), mkv.substr(0, mkv.size() / 2));
    const RunResult result = run_norel({"--strict", dir.path("cut.mkv"), out});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.stderr_text.rfind("norel: " + dir.path("cut.mkv") + ": truncated: the video stops at ", 0), 0u)
        << result.stderr_text;
    expect_left_alone({"cut.y4m", "cut.mkv", "whole.mkv"});

    // Without --strict the frames before the break are written, with a warning.
    const RunResult warned = run_norel({dir.path("cut.y4m"), dir.path("part.y4m")});
    EXPECT_EQ(warned.exit_status, 0);
    EXPECT_EQ(warned.stderr_text, "norel: " + dir.path("cut.y4m") +
                                      ": truncated: the last frame is incomplete; processed up to there "
                                      "(--strict refuses it)\n");
    EXPECT_EQ(read_y4m(dir.path("part.y4m")).frames.size(), 3u);
}

TEST_F(Failures, OutputsThatCannotBeWritten)
{
    expect_failure({clip, dir.path("out.avi")},
                   dir.path("out.avi") + ": unsupported output format; name it .mkv (FFV1), .mp4 (H.264), "
                                         ".mov (ProRes), .webm (VP9), .y4m, .png or a PNG sequence such as frame%04d.png");
    expect_failure({clip, dir.path("no/such/dir/out.mkv")},
                   dir.path("no/such/dir/out.mkv") + ": cannot create: No such file or directory");
    expect_failure({clip, dir.path("")}, dir.path("") + ": unsupported output format; name it .mkv (FFV1), .mp4 (H.264), "
                                                        ".mov (ProRes), .webm (VP9), .y4m, .png or a PNG sequence such as frame%04d.png");
    expect_failure({clip, "/dev/full"}, "/dev/full: cannot write: No space left on device");
    expect_failure({clip, dir.path("one.png")},
                   dir.path("one.png") + ": a single PNG holds one frame; name a sequence such as frame%04d.png");
    expect_failure({"--still", "6", dir.path("still.png"), clip},
                   clip + ": has 6 frames; --still 6 is past its end");
    expect_failure({"--still", "1", dir.path("still.mkv"), clip},
                   dir.path("still.mkv") + ": --still writes a single PNG; name it .png");
    expect_left_alone();
}

TEST_F(Failures, AFullDiskLeavesNoPartialFile)
{
    for (const char* name : {"out.mkv", "out.y4m", "out.mp4", "f%02d.png"}) {
        RunOptions small_disk;
        small_disk.file_size_limit = 1000;
        expect_failure({clip, dir.path(name)}, dir.path(name) + ": cannot write: File too large", 1, small_disk);
    }
    expect_left_alone();
}

TEST_F(Failures, TheInputIsNeverOverwritten)
{
    expect_failure({clip, clip}, clip + ": is the input; choose another output");
    std::filesystem::create_symlink(clip, dir.path("link.y4m"));
    expect_failure({clip, dir.path("link.y4m")}, dir.path("link.y4m") + ": is the input; choose another output");
    std::filesystem::create_hard_link(clip, dir.path("hard.y4m"));
    expect_failure({dir.path("hard.y4m"), dir.path("./clip.y4m")},
                   dir.path("./clip.y4m") + ": is the input; choose another output");

    // An image sequence reads every file its pattern names.
    norel_ok({clip, dir.path("f%d.png")});
    expect_failure({dir.path("f%d.png"), dir.path("f%d.png")}, dir.path("f%d.png") + ": is the input; choose another output");
    expect_failure({dir.path("f%d.png"), dir.path("f3.png")}, dir.path("f3.png") + ": is the input; choose another output");
    expect_failure({"--still", "0", dir.path("f5.png"), dir.path("f%d.png")},
                   dir.path("f5.png") + ": is the input; choose another output");
    expect_left_alone({"link.y4m", "hard.y4m", "f0.png", "f1.png", "f2.png", "f3.png", "f4.png", "f5.png"});
}

TEST_F(Failures, OptionsOutOfRangeAreRefused)
{
    const FILTER_DLL* filter = GetFilterTable();
    const char* names[] = {"left", "width", "top", "height", "shift", "freq", "phase"};
    for (int i = 0; i < 7; ++i) {
        // The rectangle may exceed the editor's range: the filter cuts it to the picture.
        const int maximum = i <= TRACK_HEIGHT ? 65536 : filter->track_e[i];
        const std::string range = "from " + std::to_string(filter->track_s[i]) + " to " + std::to_string(maximum);
        const std::string above = std::to_string(maximum + 1);
        expect_failure({std::string("--") + names[i], above, clip, out},
                       std::string("--") + names[i] + " " + above + " is out of range: it must be " + range, 2);
    }
    expect_failure({"--frobnicate", clip, out}, "unknown option --frobnicate", 2);
    expect_left_alone();
}

TEST_F(Failures, EveryEndingSignalLeavesNothing)
{
    for (int signal_number : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM}) {
        RunOptions interrupt;
        interrupt.interrupt_after_ms = 500;
        interrupt.interrupt_signal = signal_number;
        // Long enough to be still running when the signal comes.
        expect_failure({"--synthesize", "--frames", "1000000", "--size", "64x48", dir.path("endless.mkv")},
                       std::string("interrupted by SIG") + sigabbrev_np(signal_number) + "; nothing was written",
                       128 + signal_number, interrupt);
        expect_left_alone();
    }
}

TEST_F(Failures, NewcomersMistakesAreNamedInOneLine)
{
    write_file(out, "precious");
    write_file(dir.path("bad.preset"), "shift 8\nsparkle on\n");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{clip, out}, out + ": already exists; give -y to overwrite it"},
        {{"--still", "1", dir.path("still.jpg"), clip}, dir.path("still.jpg") + ": --still writes a single PNG; name it .png"},
        {{"--codec", "ffv1", clip, dir.path("out.mp4")}, dir.path("out.mp4") + ": this format cannot hold ffv1 video"},
        {{"--pix-fmt", "rgb24", clip, dir.path("out.mov")},
         dir.path("out.mov") + ": the prores_ks encoder does not take rgb24 pictures"},
        {{"--ss", "5", clip, dir.path("late.mkv")}, clip + ": has no video frames in the part asked for"},
    };
    for (const auto& [arguments, message] : cases)
        expect_failure(arguments, message);
    const std::pair<std::vector<std::string>, std::string> usage[] = {
        {{"--t", "1", "--to", "2", clip, out}, "--t and --to both end the part to work on; give one of them"},
        {{"--ss", "2", "--to", "1", clip, out}, "the part of the clip to work on is empty: it must end after it starts"},
        {{"--ss", "soon", clip, out}, "--ss: 'soon' is not a time such as 12.5, 1:02 or 0:01:02.5"},
        {{"--preset", "sparkly", clip, out},
         "--preset: 'sparkly' is neither a preset (composite, composite-signal, pal, mono, field-shift, clean, vhs, vhs-ep, vhs-pal, svhs) nor a file that can be read"},
        {{"--preset", dir.path("bad.preset"), clip, out}, dir.path("bad.preset") + ":2: unknown setting 'sparkle'"},
    };
    for (const auto& [arguments, message] : usage)
        expect_failure(arguments, message, 2);
    EXPECT_EQ(read_file(out), "precious");
    expect_left_alone({"out.mkv", "bad.preset"});
}
