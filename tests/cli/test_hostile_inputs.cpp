// The program against inputs and outputs made to break it: YUV4MPEG2 headers
// declaring impossible sizes or formats, malformed and truncated streams,
// corrupted bytes, and outputs that cannot be written. Every run must end
// one of two ways: refused with one line "norel: <name>: <what>" and a
// non-zero status, or successful without a word. Never a crash or a
// sanitizer report (both break the one line), never a file left behind by a
// refused run, and never a change to the input.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/support.h"

namespace {

// A YUV4MPEG2 stream: the header's fields, then `frames` frames of
// `frame_bytes` zero bytes each.
std::string y4m(const std::string& fields, int frames, size_t frame_bytes)
{
    std::string stream = "YUV4MPEG2 " + fields + "\n";
    for (int i = 0; i < frames; ++i)
        stream += "FRAME\n" + std::string(frame_bytes, '\0');
    return stream;
}

// 4:2:0 frames of 64 x 48 pixels.
const std::string good_fields = "W64 H48 F25:1 Ip A1:1 C420jpeg";
const size_t good_frame = 64 * 48 * 3 / 2;

std::string command_line(const std::vector<std::string>& arguments)
{
    std::string text = "norel";
    for (const std::string& argument : arguments)
        text += " '" + argument + "'";
    return text;
}

class HostileInputs : public testing::Test {
protected:
    // Runs norel and checks that it was refused: one line naming `name`,
    // status 1, the input `input` (if any) unchanged and no file added.
    RunResult expect_refused(const std::vector<std::string>& arguments, const std::string& name,
                             const std::string& input = "", const RunOptions& options = {})
    {
        const Snapshot before = snapshot(input);
        const RunResult result = run_norel(arguments, options);
        check_refused(result, arguments, name, before);
        return result;
    }

    // Writes `bytes` as the input `name` and runs norel on it into out.mkv:
    // it must be refused, naming the input (--strict: a truncated input is
    // otherwise processed up to the break).
    RunResult expect_input_refused(const std::string& name, const std::string& bytes)
    {
        write_file(dir.path(name), bytes);
        return expect_refused({"--strict", dir.path(name), out}, dir.path(name), dir.path(name));
    }

    // Either refused as above, or done: silent, status 0, the output
    // written and the input unchanged. Removes the input and the output.
    void expect_refused_or_done(const std::string& name, const std::string& bytes)
    {
        const std::string input = dir.path(name);
        write_file(input, bytes);
        const Snapshot before = snapshot(input);
        const std::vector<std::string> arguments = {input, out};
        const RunResult result = run_norel(arguments);
        if (result.exit_status == 0) {
            EXPECT_EQ(result.stderr_text, "") << command_line(arguments);
            EXPECT_TRUE(std::filesystem::exists(out)) << command_line(arguments);
            EXPECT_TRUE(read_file(input) == before.input_bytes) << command_line(arguments) << ": the input changed";
        } else {
            check_refused(result, arguments, input, before);
        }
        std::filesystem::remove(input);
        std::filesystem::remove(out);
    }

    void expect_bounded_memory(const RunResult& result)
    {
#ifndef NOREL_ADDRESS_SANITIZER
        // A frame of the declared size alone would take gigabytes.
        EXPECT_LT(result.peak_rss_kb, 256 * 1024);
#else
        (void)result;  // AddressSanitizer's own shadow memory swamps the figure
#endif
    }

    ScratchDir dir;
    const std::string out = dir.path("out.mkv");

private:
    struct Snapshot {
        std::vector<std::string> entries;
        std::string input;
        std::string input_bytes;
    };

    Snapshot snapshot(const std::string& input) const
    {
        return {dir.entries(), input, input.empty() ? "" : read_file(input)};
    }

    void check_refused(const RunResult& result, const std::vector<std::string>& arguments,
                       const std::string& name, const Snapshot& before) const
    {
        const std::string& text = result.stderr_text;
        EXPECT_EQ(result.exit_status, 1) << command_line(arguments) << "\n" << text;
        EXPECT_EQ(text.rfind("norel: " + name + ": ", 0), 0u) << command_line(arguments) << "\n" << text;
        EXPECT_TRUE(!text.empty() && text.find('\n') == text.size() - 1)
            << command_line(arguments) << ": not one line:\n" << text;
        EXPECT_EQ(dir.entries(), before.entries) << command_line(arguments);
        if (!before.input.empty()) {
            EXPECT_TRUE(read_file(before.input) == before.input_bytes) << command_line(arguments) << ": the input changed";
        }
    }
};

}  // namespace

TEST_F(HostileInputs, HeadersDeclaringImpossibleSizes)
{
    const char* sizes[] = {"W0 H0", "W64 H0", "W0 H48", "W-64 H48", "W64 H-48", "W100000 H100000",
                           "W2147483647 H2147483647", "W16384 H16384"};
    for (const char* size : sizes) {
        const RunResult result =
            expect_input_refused("size.y4m", y4m(std::string(size) + " F25:1 C420jpeg", 1, good_frame));
        expect_bounded_memory(result);
    }
}

TEST_F(HostileInputs, HugeSizesTheReaderAcceptsButTheFileDoesNotHold)
{
    // 16000 x 16000 passes the reader's own size check; a frame would be
    // 384 MB in the file and three times that as PIXEL_YC.
    expect_bounded_memory(expect_input_refused("huge.y4m", y4m("W16000 H16000 F25:1 C420jpeg", 1, good_frame)));
    expect_bounded_memory(expect_input_refused("huge-header.y4m", y4m("W16000 H16000 F25:1 C420jpeg", 0, 0)));
}

TEST_F(HostileInputs, MalformedStreams)
{
    const std::string frame = std::string("FRAME\n") + std::string(good_frame, '\0');
    expect_input_refused("no-newline.y4m", "YUV4MPEG2 " + good_fields);
    expect_input_refused("long-header.y4m", "YUV4MPEG2 " + good_fields + std::string(200000, 'X') + "\n" + frame);
    expect_input_refused("wrong-magic.y4m", "YUV4MPEG3 " + good_fields + "\n" + frame);
    expect_input_refused("header-only.y4m", y4m(good_fields, 0, 0));
    expect_input_refused("unknown-colour.y4m", y4m("W64 H48 F25:1 C999", 1, good_frame));
    expect_input_refused("bad-marker.y4m", y4m(good_fields, 0, 0) + "FRAMX\n" + std::string(good_frame, '\0'));
    expect_input_refused("long-marker.y4m",
                         y4m(good_fields, 0, 0) + "FRAME" + std::string(200000, ' ') + "\n" + std::string(good_frame, '\0'));
    expect_input_refused("trailing-garbage.y4m", y4m(good_fields, 2, good_frame) + std::string(5000, 'G'));
    expect_input_refused("empty-last-frame.y4m", y4m(good_fields, 2, good_frame) + "FRAME\n");
    expect_input_refused("nul-bytes.y4m", std::string(10000, '\0'));
}

TEST_F(HostileInputs, FormatsBeyondTheWorkingOnesAreConvertedOrRefused)
{
    // Alpha, 16-bit samples, another chroma siting, no frame rate, odd
    // sizes: the program may convert them or refuse them, but never
    // half-writes or crashes.
    expect_refused_or_done("alpha.y4m", y4m("W64 H48 F25:1 C444alpha", 2, 64 * 48 * 4));
    expect_refused_or_done("deep.y4m", y4m("W64 H48 F25:1 C444p16", 2, 64 * 48 * 6));
    expect_refused_or_done("mono16.y4m", y4m("W64 H48 F25:1 Cmono16", 2, 64 * 48 * 2));
    expect_refused_or_done("paldv.y4m", y4m("W64 H48 F25:1 C420paldv", 2, good_frame));
    expect_refused_or_done("no-rate.y4m", y4m("W64 H48 F0:0 C420jpeg", 2, good_frame));
    expect_refused_or_done("odd-size.y4m", y4m("W7 H5 F25:1 C420jpeg", 3, 7 * 5 + 2 * 4 * 3));
}

TEST_F(HostileInputs, TruncatedAtEveryBoundary)
{
    const std::string clip = y4m(good_fields, 3, good_frame);
    const size_t header = clip.find('\n') + 1;
    const size_t frame = 6 + good_frame;
    const size_t cuts[] = {5, header - 1, header, header + 3, header + 6, header + good_frame / 2,
                           header + frame - 1, header + frame + 2, header + 3 * frame - 1};
    for (size_t cut : cuts)
        expect_input_refused("cut.y4m", clip.substr(0, cut));
    // A cut between two frames leaves a shorter clip, which is read whole.
    write_file(dir.path("two.y4m"), clip.substr(0, header + 2 * frame));
    norel_ok({dir.path("two.y4m"), dir.path("out.y4m")});
    EXPECT_EQ(read_y4m(dir.path("out.y4m")).frames.size(), 2u);
}

TEST_F(HostileInputs, FrameParametersThatMimicEqualFramesAreCounted)
{
    // 2 x 2 4:4:4 frames take 6 + 12 bytes with a bare marker. Two markers
    // with 9 bytes of parameters add up to one such frame more, so the
    // file's size alone would give 4 frames: the markers must be looked at.
    const std::string pixels(12, '\x80');
    const std::string clip = "YUV4MPEG2 W2 H2 F25:1 Ip C444\n" + ("FRAME\n" + pixels) +
                             ("FRAME Xabcdefg\n" + pixels) + ("FRAME Xabcdefg\n" + pixels);
    write_file(dir.path("parameters.y4m"), clip);
    norel_ok({dir.path("parameters.y4m"), dir.path("out.y4m")});
    EXPECT_EQ(read_y4m(dir.path("out.y4m")).frames.size(), 3u);
}

TEST_F(HostileInputs, CorruptedHeaderAndMarkerBytes)
{
    const std::string clip = y4m(good_fields, 2, good_frame);
    const size_t header = clip.find('\n') + 1;
    const char replacements[] = {'\0', '\xff', ' ', '\n', '9', '-', 'W', 'C'};
    int n = 0;
    // Every byte of the header and of the first frame's marker, each with
    // one of the replacements in turn.
    for (size_t at = 0; at < header + 6; ++at, ++n) {
        std::string corrupted = clip;
        corrupted[at] = replacements[n % sizeof replacements];
        if (corrupted == clip)
            corrupted[at] = replacements[(n + 1) % sizeof replacements];
        expect_refused_or_done("corrupt.y4m", corrupted);
    }
}

TEST_F(HostileInputs, OutputsThatCannotBeWritten)
{
    const std::string clip = dir.path("clip.y4m");
    synthesize_clip(clip, 3);
    std::filesystem::create_directory(dir.path("folder.mkv"));
    expect_refused({clip, dir.path("folder.mkv")}, dir.path("folder.mkv"), clip);
    expect_refused({clip, clip + "/out.mkv"}, clip + "/out.mkv", clip);
    expect_refused({clip, "/proc/norel-test.mkv"}, "/proc/norel-test.mkv", clip);

    RunOptions full_stdout;
    full_stdout.stdout_path = "/dev/full";
    expect_refused({clip, "-"}, "standard output", clip, full_stdout);
}

TEST_F(HostileInputs, AnEmptyOutputNameIsRefused)
{
    // Taken for "no OUTPUT", it would end successfully having written nothing.
    const std::string clip = dir.path("clip.y4m");
    synthesize_clip(clip, 3);
    const RunResult result = run_norel({clip, ""});
    EXPECT_NE(result.exit_status, 0) << "norel " << clip << " '' succeeded";
    EXPECT_EQ(result.stderr_text.rfind("norel: ", 0), 0u) << result.stderr_text;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"clip.y4m"});
}

TEST_F(HostileInputs, StandardInputRedirectedFromTheOutputIsRefused)
{
    // norel - clip.y4m < clip.y4m: the output would replace the file being read.
    const std::string clip = dir.path("clip.y4m");
    synthesize_clip(clip, 3);
    RunOptions from_clip;
    from_clip.stdin_path = clip;
    expect_refused({"-", clip}, clip, clip, from_clip);
}
