// The VHS deck on the command line: a part cut with --ss gets the noise its
// frames have in the whole clip, and the deck's options are checked.
#include <gtest/gtest.h>

#include "tests/cli/support.h"

namespace {

TEST(VhsDeckOnTheCommandLine, APartHasTheWholeClipsNoise)
{
    ScratchDir dir;
    const std::string clip = dir.path("clip.y4m"), whole = dir.path("whole.y4m"), part = dir.path("part.y4m");
    synthesize_clip(clip, 10, "64x48");
    const std::vector<std::string> look = {"--preset", "vhs", "--seed", "3", "--dropouts", "3000", "--tff"};
    std::vector<std::string> arguments = look;
    arguments.insert(arguments.end(), {clip, whole});
    norel_ok(arguments);
    // Frame 4 of 30000/1001 frames a second starts at 0.13347 s; four
    // frames on, the carrier's sequence is the same again too.
    arguments = look;
    arguments.insert(arguments.end(), {"--ss", "0.13347", clip, part});
    norel_ok(arguments);
    const Y4mClip a = read_y4m(whole), b = read_y4m(part);
    ASSERT_EQ(b.frames.size(), 6u);
    for (size_t n = 0; n < b.frames.size(); ++n)
        EXPECT_TRUE(a.frames[n + 4] == b.frames[n]) << "frame " << n + 4;
    EXPECT_FALSE(a.frames[4] == a.frames[5]);
}

TEST(VhsDeckOnTheCommandLine, RefusesWhatItCannotPlay)
{
    ScratchDir dir;
    const std::string clip = dir.path("clip.y4m");
    synthesize_clip(clip, 1);
    const struct {
        std::vector<std::string> arguments;
        const char* message;
    } cases[] = {
        {{"--vhs", "sp"}, "--vhs plays the composite signal that --cy makes; give --cy too"},
        {{"--cy", "--vhs", "beta"}, "--vhs: 'beta' is not off, sp, lp, ep or svhs"},
        {{"--cy", "--vhs", "sp", "--seed", "4294967296"}, "--seed 4294967296 is out of range: it must be from 0 to 4294967295"},
        {{"--cy", "--vhs", "sp", "--head-switching-shift", "10.5"}, "--head-switching-shift 10.5 is out of range"},
        {{"--cy", "--vhs", "sp", "--head-switching-shift", "1.2345"}, "'1.2345' is not a number of microseconds such as 2.5"},
        {{"--cy", "--vhs", "sp", "--generations", "6"}, "--generations 6 is out of range"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), {clip, dir.path("out.y4m")});
        const RunResult result = run_norel(arguments);
        EXPECT_NE(result.exit_status, 0);
        EXPECT_NE(result.stderr_text.find(c.message), std::string::npos) << result.stderr_text;
    }
}

}  // namespace
