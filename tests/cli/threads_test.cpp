// Frames filtered on several threads at once: the program's output is the
// same bytes for every thread count, and those of the engine run one frame
// after another, the frame comb reading the signal apply_effects kept.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/frame_effects.h"
#include "hosts/aviutl/driver.h"
#include "tests/cli/support.h"

namespace {

struct Case {
    const char* name;
    std::vector<std::string> arguments;
    EffectSettings settings;  // the same, for the engine
};

EffectSettings engine_settings(int left, int width, int top, int height, int shift, bool paired, bool mono,
                               DecodeSettings decode)
{
    EffectSettings s;
    s.left = left;
    s.width = width;
    s.top = top;
    s.height = height;
    s.shift = shift;
    s.paired_fields = paired;
    s.mono = mono;
    s.composite = 1;
    s.decode = decode;
    return s;
}

const Case cases[] = {
    {"frame_comb_in_a_rectangle",
     {"--cy", "--decode", "3d", "--shift", "5", "--left", "3", "--width", "40", "--top", "2", "--height", "30",
      "--saturation", "140", "--hue", "25"},
     engine_settings(3, 40, 2, 30, 5, false, false, {DECODE_3D, CHROMA_WIDE, 140, 25})},
    {"frame_comb_60fps_mono",
     {"--cy", "--decode", "3d", "--60fps", "--mono", "--shift", "-9", "--chroma-bandwidth", "narrow"},
     engine_settings(0, 47, 0, 35, -9, true, true, {DECODE_3D, CHROMA_NARROW, 100, 0})},
    {"pal_frame_comb_simple", {"--preset", "pal", "--decode", "3d", "--no-delay-line", "--hue", "30", "--shift", "8"},
     [] {
         EffectSettings s = engine_settings(0, 47, 0, 35, 8, false, false, {DECODE_3D, CHROMA_WIDE, 100, 30, 0});
         s.standard = STANDARD_PAL;
         s.lpf = 0;  // as the preset sets it
         return s;
     }()},
    {"vhs_deck", {"--preset", "vhs", "--seed", "9", "--tracking", "40", "--dropouts", "2000", "--generations", "2"},
     [] {
         EffectSettings s = engine_settings(0, 47, 0, 35, 0, false, false, {DECODE_NOTCH, CHROMA_NARROW, 100, 0});
         s.vhs.format = VHS_SP;
         s.vhs.seed = 9;
         s.vhs.tracking = 40;
         s.vhs.dropouts = 2000;
         s.vhs.generations = 2;
         return s;
     }()},
    {"notch_60fps", {"--cy", "--decode", "notch", "--60fps", "--no-lpf"},
     [] {
         EffectSettings s = engine_settings(0, 47, 0, 35, 0, true, false, {DECODE_NOTCH, CHROMA_WIDE, 100, 0});
         s.lpf = 0;
         return s;
     }()},
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

// The engine over the clip's frames in order, woven first where fields are
// paired (the editor's filter with every effect off does only that).
std::vector<std::vector<uint8_t>> engine_output(Y4mClip& clip, const EffectSettings& settings)
{
    std::vector<std::vector<PIXEL_YC>> frames;
    for (size_t i = 0; i < clip.frames.size(); ++i)
        frames.push_back(clip.yc(i));
    if (settings.paired_fields) {
        FilterSettings weave = default_settings();
        weave.check[CHECK_60FPS] = 1;
        weave.check[CHECK_LPF] = 0;
        frames = run_filter_directly(frames, clip.width, clip.height, weave);
    }
    EffectState state;
    std::vector<PIXEL_YC> scratch(frames[0].size());
    std::vector<std::vector<PIXEL_YC>> signals(frames.size(), std::vector<PIXEL_YC>(frames[0].size()));
    std::vector<std::vector<uint8_t>> bytes;
    for (int n = 0; n < static_cast<int>(frames.size()); ++n) {
        const int partner = comb_partner_frame(&settings, n), same_phase = comb_same_phase_frame(&settings, n);
        EffectFrame frame = {frames[n].data(), scratch.data(), clip.width, clip.height, clip.width, n};
        frame.partner = partner >= 0 ? signals[partner].data() : nullptr;
        frame.same_phase = same_phase >= 0 ? signals[same_phase].data() : nullptr;
        frame.composite = signals[n].data();
        apply_effects(&state, &settings, &frame);
        bytes.push_back(clip.bytes_of(frames[n]));
    }
    release_effect_state(&state);
    return bytes;
}

class EveryThreadCount : public testing::TestWithParam<Case> {};

}  // namespace

TEST_P(EveryThreadCount, GivesTheEnginesBytes)
{
    const Case& c = GetParam();
    ScratchDir dir;
    const std::string clip_path = dir.path("clip.y4m");
    // Longer than the still and the frames decoded ahead of it.
    synthesize_clip(clip_path, 12, "47x35");
    Y4mClip clip = read_y4m(clip_path);
    const auto expected = engine_output(clip, c.settings);
    for (const char* threads : {"1", "2", "3", "5"}) {
        std::vector<std::string> arguments = c.arguments;
        const std::string out = dir.path(std::string("out") + threads + ".y4m");
        arguments.insert(arguments.end(), {"--tff", "--threads", threads, clip_path, out});
        norel_ok(arguments);
        const Y4mClip result = read_y4m(out);
        ASSERT_EQ(result.frames.size(), expected.size()) << threads;
        for (size_t n = 0; n < expected.size(); ++n)
            EXPECT_TRUE(result.frames[n] == expected[n]) << c.name << ", " << threads << " threads, frame " << n;
    }
    // A still alone is the same frame: the frames its frame comb reads are filtered too.
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.end(), {"--tff", "--still", "6", dir.path("still.png"), clip_path, dir.path("f%d.png")});
    norel_ok(arguments);
    arguments = c.arguments;
    arguments.insert(arguments.end(), {"--tff", "--still", "6", dir.path("alone.png"), clip_path});
    norel_ok(arguments);
    EXPECT_EQ(read_file(dir.path("alone.png")), read_file(dir.path("f6.png")));
    EXPECT_EQ(read_file(dir.path("still.png")), read_file(dir.path("f6.png")));
}

INSTANTIATE_TEST_SUITE_P(Decoders, EveryThreadCount, testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });
