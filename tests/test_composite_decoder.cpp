// The decoder as a television is judged: flat colours come back, fine luma
// at the carrier frequency turns into false colour through the notch and
// not through the combs, a still picture passes the frame comb untouched,
// and the knobs turn and scale the colour.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "engine/clip_frames.h"
#include "engine/frame_effects.h"

namespace {

constexpr int w = 160, h = 48;
// Columns the horizontal filters' edges do not reach.
constexpr int inner_left = 24, inner_right = w - 24;

using Picture = std::function<PIXEL_YC(int x, int r)>;
using Clip = std::function<PIXEL_YC(int x, int r, int32_t frame)>;

struct Decoded {
    std::vector<PIXEL_YC> source, result;
};

// Frame `number` of a clip through C/Y and the decoder (no shift, no LPF);
// "3d" gets the composite signals of its partner and same-phase frames.
Decoded decode_clip(const Clip& clip, DecodeSettings decode_settings, int32_t number,
                    int mono = 0, int32_t standard = STANDARD_NTSC)
{
    EffectSettings settings;
    settings.width = w;
    settings.height = h;
    settings.composite = 1;
    settings.lpf = 0;
    settings.mono = mono;
    settings.decode = decode_settings;
    settings.standard = standard;
    auto frame_of = [&](int32_t n) {
        std::vector<PIXEL_YC> pixels(w * h);
        for (int r = 0; r < h; ++r)
            for (int x = 0; x < w; ++x)
                pixels[r * w + x] = clip(x, r, n);
        return pixels;
    };
    EffectState state;
    std::vector<PIXEL_YC> scratch(w * h);
    // The earlier frames' composite signals, as apply_effects keeps them.
    auto signal_of = [&](int32_t n) {
        std::vector<PIXEL_YC> pixels = frame_of(n), signal(w * h);
        EffectFrame earlier = {pixels.data(), scratch.data(), w, h, w, n};
        earlier.composite = signal.data();
        apply_effects(&state, &settings, &earlier);
        return signal;
    };
    const int32_t partner_number = comb_partner_frame(&settings, number);
    const int32_t same_phase_number = comb_same_phase_frame(&settings, number);
    const std::vector<PIXEL_YC> partner = signal_of(partner_number);
    const std::vector<PIXEL_YC> same_phase = signal_of(same_phase_number);
    Decoded d;
    d.source = frame_of(number);
    d.result = d.source;
    EffectFrame frame = {d.result.data(), scratch.data(), w, h, w, number};
    if (partner_number >= 0)
        frame.partner = partner.data();
    if (same_phase_number >= 0)
        frame.same_phase = same_phase.data();
    apply_effects(&state, &settings, &frame);
    release_effect_state(&state);
    return d;
}

// Frame `number` of a still clip of the picture.
Decoded decode(const Picture& picture, DecodeSettings decode_settings, int32_t number = 4,
               int mono = 0, int32_t standard = STANDARD_NTSC)
{
    return decode_clip([&](int x, int r, int32_t) { return picture(x, r); }, decode_settings,
                       number, mono, standard);
}

DecodeSettings mode(int32_t m, int32_t bandwidth = CHROMA_WIDE)
{
    DecodeSettings s;
    s.mode = m;
    s.bandwidth = bandwidth;
    return s;
}

const int32_t all_modes[] = {DECODE_NOTCH, DECODE_2LINE, DECODE_3LINE, DECODE_3D};

// The carriers' advance per column at the nominal freq, in radians.
const double carrier_step = 2 * 3.141592653589793 * 3.579545 / 13.5;
const double pal_carrier_step = 2 * 3.141592653589793 * 4.43361875 / 13.5;

TEST(CompositeDecoder, FlatColoursComeBack)
{
    // 75 % bars and a skin tone, in the editor's scale.
    const PIXEL_YC colours[] = {{2060, -1192, 252}, {1732, 410, -1408}, {1390, -780, -1155},
                                {1093, 780, 1155},  {751, -410, 1408},  {423, 1192, -252},
                                {2600, -300, 420}};
    for (int32_t standard : {STANDARD_NTSC, STANDARD_PAL})
    for (int32_t m : all_modes) {
        // PAL's field line two lines up is 1.15 degrees past opposite (the
        // 25 Hz offset): its two-line comb turns the hue by half of that, as
        // does the three-line comb on the rectangle's first and last lines.
        const int tolerance = standard == STANDARD_PAL && (m == DECODE_2LINE || m == DECODE_3LINE) ? 24 : 4;
        for (int32_t bandwidth : {CHROMA_WIDE, CHROMA_NARROW}) {
            for (const PIXEL_YC& c : colours) {
                const Decoded d = decode([&](int, int) { return c; }, mode(m, bandwidth), 5, 0, standard);
                int worst = 0;
                for (int r = 0; r < h; ++r) {
                    for (int x = inner_left; x < inner_right; ++x) {
                        const PIXEL_YC& p = d.result[r * w + x];
                        worst = std::max({worst, std::abs(p.y - c.y), std::abs(p.cb - c.cb),
                                          std::abs(p.cr - c.cr)});
                    }
                }
                EXPECT_LE(worst, tolerance) << colour_standard_name(standard) << " " << decode_mode_name(m) << " " << chroma_bandwidth_name(bandwidth)
                                    << " colour " << c.y << "," << c.cb << "," << c.cr;
            }
        }
    }
}

TEST(CompositeDecoder, LumaAtTheCarrierIsFalseColourOnlyThroughTheNotch)
{
    for (int32_t standard : {STANDARD_NTSC, STANDARD_PAL}) {
        // A vertically uniform grey grating at the standard's carrier.
        const double step = standard == STANDARD_PAL ? pal_carrier_step : carrier_step;
        const Picture grating = [step](int x, int) {
            return PIXEL_YC{static_cast<short>(2048 + std::lround(800 * std::cos(step * x))), 0, 0};
        };
        for (int32_t m : all_modes) {
            const Decoded d = decode(grating, mode(m), 5, 0, standard);
            double colour = 0;
            for (int r = 0; r < h; ++r)
                for (int x = inner_left; x < inner_right; ++x)
                    colour += std::abs(d.result[r * w + x].cb) + std::abs(d.result[r * w + x].cr);
            colour /= h * (inner_right - inner_left);
            if (m == DECODE_NOTCH)
                EXPECT_GT(colour, 400) << colour_standard_name(standard) << " notch";
            else
                EXPECT_LT(colour, 2) << colour_standard_name(standard) << " " << decode_mode_name(m);
        }
    }
}

TEST(CompositeDecoder, FrameCombLeavesStillPicturesCleanAndMovingOnesToTheLineComb)
{
    const PIXEL_YC bars[] = {{2060, -1192, 252}, {1732, 410, -1408}, {1390, -780, -1155},
                             {1093, 780, 1155},  {751, -410, 1408},  {423, 1192, -252}};
    // Colour bars above, fine colour detail below: stripes of cb and cr
    // three columns wide, which put chroma off the carrier at every edge.
    const Clip bars_and_detail = [&](int x, int r, int32_t frame_shift) {
        const int c = x + frame_shift;
        if (r < h / 2)
            return bars[(c / 20 % 6 + 6) % 6];
        const short stripe = (c / 3) % 2 == 0 ? 900 : -900;
        return PIXEL_YC{1400, stripe, static_cast<short>(-stripe / 2)};
    };
    const struct Case {
        const char* name;
        int32_t pan;  // columns the picture moves a frame
        bool diagonal_detail;  // luma detail at the carrier instead of the bars
    } cases[] = {{"still diagonal detail", 0, true},
                 {"still bars and colour detail", 0, false},
                 {"panning bars and colour detail", 1, false},
                 {"panning bars and colour detail", 2, false},
                 {"panning diagonal detail", 2, true}};
    for (int32_t standard : {STANDARD_NTSC, STANDARD_PAL})
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << colour_standard_name(standard) << " " << c.name);
        const double step = standard == STANDARD_PAL ? pal_carrier_step : carrier_step;
        const Clip clip = [&](int x, int r, int32_t frame) {
            if (!c.diagonal_detail)
                return bars_and_detail(x, r, frame * c.pan);
            const int moved = x + frame * c.pan;
            const double d = std::cos(step * moved + 1.3 * r);
            return PIXEL_YC{static_cast<short>(2048 + std::lround(700 * d)),
                            static_cast<short>(moved * 8 - 640), static_cast<short>(r * 20 - 480)};
        };
        const int32_t number = 6;
        const Decoded frame_comb = decode_clip(clip, mode(DECODE_3D), number, 0, standard);
        const Decoded line_comb = decode_clip(clip, mode(DECODE_3LINE), number, 0, standard);
        // The luma's worst and total error; where the clip moves, over the
        // pixels that differ from one of the frames the frame comb reads.
        int frame_error = 0, line_error = 0;
        long frame_total = 0, line_total = 0;
        for (int r = 0; r < h; ++r) {
            for (int x = inner_left; x < inner_right; ++x) {
                const int i = r * w + x;
                bool moves = false;
                for (int32_t back = 1; back <= 4; ++back) {
                    const PIXEL_YC was = clip(x, r, number - back), is = frame_comb.source[i];
                    moves = moves || was.y != is.y || was.cb != is.cb || was.cr != is.cr;
                }
                if (c.pan != 0 && !moves)
                    continue;
                const int frame_pixel = std::abs(frame_comb.result[i].y - frame_comb.source[i].y);
                const int line_pixel = std::abs(line_comb.result[i].y - line_comb.source[i].y);
                frame_error = std::max(frame_error, frame_pixel);
                line_error = std::max(line_error, line_pixel);
                frame_total += frame_pixel;
                line_total += line_pixel;
            }
        }
        if (c.pan == 0) {
            EXPECT_LE(frame_error, 1);
            EXPECT_GT(line_error, 100);  // a picture the line comb gets wrong
        } else {
            EXPECT_LE(frame_error, line_error);
            EXPECT_LE(frame_total, line_total);
        }
    }
    // Without the frame of the same phase (the clip's first frames) the
    // frame comb is the line comb.
    for (int32_t standard : {STANDARD_NTSC, STANDARD_PAL}) {
        const int32_t first_with_partner = standard == STANDARD_PAL ? 2 : 1;
        const Clip still = [&](int x, int r, int32_t) { return bars_and_detail(x, r, 0); };
        const std::vector<PIXEL_YC> frame_comb =
            decode_clip(still, mode(DECODE_3D), first_with_partner, 0, standard).result;
        const std::vector<PIXEL_YC> line_comb =
            decode_clip(still, mode(DECODE_3LINE), first_with_partner, 0, standard).result;
        EXPECT_EQ(std::memcmp(frame_comb.data(), line_comb.data(), frame_comb.size() * sizeof(PIXEL_YC)), 0)
            << colour_standard_name(standard);
    }
}

TEST(CompositeDecoder, SaturationScalesAndHueTurnsTheColour)
{
    // Turns act on the carrier's (u, v) = (cb, cr) times the encoder's gains.
    const double gu = 1787.7123152709362 / 2048, gv = 2518.680701754386 / 2048;
    const PIXEL_YC colour = {1500, 600, -400};
    const struct {
        int32_t saturation, hue;
    } knobs[] = {{100, 0}, {0, 0}, {50, 0}, {200, 0}, {100, 90}, {100, -90}, {100, 180}, {150, 33}};
    for (const auto& k : knobs) {
        DecodeSettings s = mode(DECODE_3LINE);
        s.saturation = k.saturation;
        s.hue = k.hue;
        const Decoded d = decode([&](int, int) { return colour; }, s);
        const double a = k.hue * 3.141592653589793 / 180, g = k.saturation / 100.0;
        const double u = gu * colour.cb, v = gv * colour.cr;
        const double cb = g * (u * std::cos(a) - v * std::sin(a)) / gu;
        const double cr = g * (u * std::sin(a) + v * std::cos(a)) / gv;
        const PIXEL_YC& p = d.result[(h / 2) * w + w / 2];
        EXPECT_NEAR(p.cb, cb, 6) << k.saturation << " % " << k.hue << " degrees";
        EXPECT_NEAR(p.cr, cr, 6) << k.saturation << " % " << k.hue << " degrees";
        EXPECT_NEAR(p.y, colour.y, 4);
    }
}

// The hue knob is a demodulation phase error: NTSC turns the hue; PAL's
// delay line keeps it and loses cos(hue) of the saturation; simple PAL turns
// alternate field lines in opposite directions (Hanover bars).
TEST(CompositeDecoder, HueIsAPhaseErrorAsEachStandardShowsIt)
{
    const double gu = 1787.7123152709362 / 2048, gv = 2518.680701754386 / 2048;
    const PIXEL_YC colour = {1500, 600, -400};
    const double u = gu * colour.cb, v = gv * colour.cr;
    // (cb, cr) of the colour with its (u, v) turned by `degrees` and scaled.
    auto turned = [&](double degrees, double gain) {
        const double a = degrees * 3.141592653589793 / 180;
        return std::pair<double, double>{gain * (u * std::cos(a) - v * std::sin(a)) / gu,
                                         gain * (u * std::sin(a) + v * std::cos(a)) / gv};
    };
    for (int32_t hue : {30, -60}) {
        DecodeSettings s = mode(DECODE_3LINE);
        s.hue = hue;
        const Decoded ntsc = decode([&](int, int) { return colour; }, s);
        const Decoded delayed = decode([&](int, int) { return colour; }, s, 5, 0, STANDARD_PAL);
        s.delay_line = 0;
        const Decoded simple = decode([&](int, int) { return colour; }, s, 5, 0, STANDARD_PAL);
        const double cos_hue = std::cos(hue * 3.141592653589793 / 180);
        for (int r = 8; r < h - 8; ++r) {
            const int i = r * w + w / 2;
            const auto n = turned(hue, 1), d = turned(0, cos_hue);
            EXPECT_NEAR(ntsc.result[i].cb, n.first, 8) << "ntsc row " << r;
            EXPECT_NEAR(ntsc.result[i].cr, n.second, 8) << "ntsc row " << r;
            EXPECT_NEAR(delayed.result[i].cb, d.first, 8) << "pal row " << r;
            EXPECT_NEAR(delayed.result[i].cr, d.second, 8) << "pal row " << r;
            // This field line and the next turned by +hue and -hue, either way round.
            const PIXEL_YC& a = simple.result[i];
            const PIXEL_YC& b = simple.result[i + 2 * w];
            const auto plus = turned(hue, 1), minus = turned(-hue, 1);
            const bool a_plus = std::abs(a.cb - plus.first) + std::abs(a.cr - plus.second) < 16;
            const PIXEL_YC& on_plus = a_plus ? a : b;
            const PIXEL_YC& on_minus = a_plus ? b : a;
            EXPECT_NEAR(on_plus.cb, plus.first, 8) << "simple pal row " << r;
            EXPECT_NEAR(on_plus.cr, plus.second, 8) << "simple pal row " << r;
            EXPECT_NEAR(on_minus.cb, minus.first, 8) << "simple pal row " << r;
            EXPECT_NEAR(on_minus.cr, minus.second, 8) << "simple pal row " << r;
        }
    }
}

TEST(CompositeDecoder, MonoDropsTheDecodedColour)
{
    const PIXEL_YC colour = {1500, 600, -400};
    const Decoded colour_set = decode([&](int, int) { return colour; }, mode(DECODE_NOTCH));
    const Decoded mono_set = decode([&](int, int) { return colour; }, mode(DECODE_NOTCH), 2, 1);
    for (size_t i = 0; i < mono_set.result.size(); ++i) {
        ASSERT_EQ(mono_set.result[i].y, colour_set.result[i].y);
        ASSERT_EQ(mono_set.result[i].cb, 0);
        ASSERT_EQ(mono_set.result[i].cr, 0);
    }
}

TEST(CompositeDecoder, CombPartnerIsTheFrameOfOppositeCarrier)
{
    const struct {
        int paired;
        int32_t frame, partner;
        int32_t standard;
    } cases[] = {{0, 1, 0, STANDARD_NTSC},          {0, 10, 9, STANDARD_NTSC},
                 {1, 2, 0, STANDARD_NTSC},          {1, 3, 1, STANDARD_NTSC},
                 {1, 7, 5, STANDARD_NTSC},          {0, INT32_MIN, INT32_MAX, STANDARD_NTSC},
                 {0, 2, 0, STANDARD_PAL},           {0, 9, 7, STANDARD_PAL},
                 {1, 4, 0, STANDARD_PAL},           {1, 7, 3, STANDARD_PAL}};
    for (const auto& c : cases) {
        EffectSettings settings;
        settings.paired_fields = c.paired;
        settings.standard = c.standard;
        EXPECT_EQ(comb_partner_frame(&settings, c.frame), c.partner);
        if (c.standard == STANDARD_NTSC) {
            // The partner's carrier starts with the other sign.
            EXPECT_NE(carrier_flags(&settings, c.frame) & 2, carrier_flags(&settings, c.partner) & 2);
        }
    }
}

TEST(CompositeDecoder, NamesAndHostileSettings)
{
    for (int32_t m = 0; m < decode_mode_count; ++m)
        EXPECT_EQ(decode_mode_from_name(decode_mode_name(m)), m);
    EXPECT_EQ(decode_mode_from_name("comb"), -1);
    EXPECT_EQ(chroma_bandwidth_from_name(chroma_bandwidth_name(CHROMA_NARROW)), CHROMA_NARROW);
    EXPECT_EQ(chroma_bandwidth_from_name(""), -1);
    const DecodeSettings hostile = {99, -3, 1000, -1000};
    const DecodeSettings safe = clamp_decode_settings(hostile);
    EXPECT_EQ(safe.mode, DECODE_OFF);
    EXPECT_EQ(safe.bandwidth, CHROMA_WIDE);
    EXPECT_EQ(safe.saturation, saturation_max);
    EXPECT_EQ(safe.hue, hue_min);
}

// The frame comb's history gives every frame the bytes it gets with the
// earlier frames' signals handed in frame after frame, whatever order the
// host filters the frames in: what the history lacks it chains from the
// host's frames; a host without them gets the same in order.
TEST(CompositeDecoder, TheFrameCombGivesTheSameBytesInAnyOrder)
{
    constexpr int frames = 12;
    // Still bars on the left; on the right bars moving two columns a
    // frame, over grain that varies with the frame.
    auto source = [](int x, int r, int32_t frame) {
        const uint32_t n = x < w / 2 ? 0u : static_cast<uint32_t>(frame);
        const uint32_t grain = (static_cast<uint32_t>(x) * 73856093u) ^ (static_cast<uint32_t>(r) * 19349663u) ^
                               (n * 83492791u);
        const int bar = ((x + 2 * static_cast<int>(n)) / 12) % 4;
        return PIXEL_YC{static_cast<short>(600 + 500 * bar + static_cast<int>(grain % 64)),
                        static_cast<short>(bar * 300 - 450), static_cast<short>(350 - bar * 200)};
    };
    std::vector<std::vector<PIXEL_YC>> clip(frames, std::vector<PIXEL_YC>(w * h));
    for (int32_t n = 0; n < frames; ++n)
        for (int r = 0; r < h; ++r)
            for (int x = 0; x < w; ++x)
                clip[n][r * w + x] = source(x, r, n);
    const ClipFrames host = {&clip, [](void* frames, int32_t n) -> const PIXEL_YC* {
                                 auto* all = static_cast<std::vector<std::vector<PIXEL_YC>>*>(frames);
                                 return n >= 0 && n < static_cast<int32_t>(all->size()) ? (*all)[n].data() : nullptr;
                             }};
    struct Case {
        int32_t standard;
        int32_t paired;
        int32_t shift;
    };
    for (const Case c : {Case{STANDARD_NTSC, 0, 0}, Case{STANDARD_PAL, 0, 23}, Case{STANDARD_NTSC, 1, -40},
                         Case{STANDARD_PAL, 1, 0}}) {
        EffectSettings settings;
        settings.left = 10;
        settings.width = w - 30;
        settings.top = 4;
        settings.height = h - 8;
        settings.composite = 1;
        settings.shift = c.shift;
        settings.standard = c.standard;
        settings.paired_fields = c.paired;
        settings.decode.mode = DECODE_3D;
        std::vector<PIXEL_YC> scratch(w * h);
        // Frame after frame, each frame's signal kept for the later ones.
        std::vector<std::vector<PIXEL_YC>> expected = clip, signals(frames, std::vector<PIXEL_YC>(w * h));
        EffectState reference;
        for (int32_t n = 0; n < frames; ++n) {
            EffectFrame frame = {expected[n].data(), scratch.data(), w, h, w, n};
            const int32_t p = comb_partner_frame(&settings, n), q = comb_same_phase_frame(&settings, n);
            frame.partner = p >= 0 ? signals[p].data() : nullptr;
            frame.same_phase = q >= 0 ? signals[q].data() : nullptr;
            frame.composite = signals[n].data();
            apply_effects(&reference, &settings, &frame);
        }
        release_effect_state(&reference);
        // The frame comb is at work: the last frame is not what "3line" gives.
        EffectSettings line_comb = settings;
        line_comb.decode.mode = DECODE_3LINE;
        std::vector<PIXEL_YC> by_lines = clip[frames - 1];
        EffectState lines;
        const EffectFrame last = {by_lines.data(), scratch.data(), w, h, w, frames - 1};
        apply_effects(&lines, &line_comb, &last);
        release_effect_state(&lines);
        EXPECT_NE(std::memcmp(by_lines.data(), expected[frames - 1].data(), w * h * sizeof(PIXEL_YC)), 0);

        const std::vector<int32_t> in_order = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
        const std::vector<int32_t> backwards = {11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
        const std::vector<int32_t> seeked = {7, 8, 9, 2, 3, 11, 0, 5, 4, 1, 10, 6, 9, 3};
        struct Order {
            const char* name;
            const std::vector<int32_t>* frames;
            const ClipFrames* earlier;
        };
        for (const Order order : {Order{"in order", &in_order, &host}, Order{"backwards", &backwards, &host},
                                  Order{"seeked", &seeked, &host}, Order{"in order, no earlier frames", &in_order,
                                                                         nullptr}}) {
            EffectState state;
            for (const int32_t n : *order.frames) {
                std::vector<PIXEL_YC> pixels = clip[n];
                const EffectFrame frame = {pixels.data(), scratch.data(), w, h, w, n};
                ASSERT_TRUE(apply_effects_in_clip(&state, &settings, &frame, order.earlier));
                EXPECT_EQ(std::memcmp(pixels.data(), expected[n].data(), w * h * sizeof(PIXEL_YC)), 0)
                    << order.name << ", frame " << n << ", standard " << c.standard
                                               << (c.paired ? ", 60FPS" : "");
            }
            release_effect_state(&state);
        }
    }
}

}  // namespace
