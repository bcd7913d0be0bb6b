// The decoder as a television is judged: flat colours come back, fine luma
// at the carrier frequency turns into false colour through the notch and
// not through the combs, a still picture passes the frame comb untouched,
// and the knobs turn and scale the colour.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "effects/frame_effects.h"

namespace {

constexpr int w = 160, h = 48;
// Columns the horizontal filters' edges do not reach.
constexpr int inner_left = 24, inner_right = w - 24;

using Picture = std::function<PIXEL_YC(int x, int r)>;

struct Decoded {
    std::vector<PIXEL_YC> source, result;
};

// Frame `number` of a still clip through C/Y and the decoder (no shift, no
// LPF); "3d" gets the previous frame's composite signal as its partner.
Decoded decode(const Picture& picture, DecodeSettings decode_settings, int32_t number = 1,
               int mono = 0)
{
    EffectSettings settings;
    settings.width = w;
    settings.height = h;
    settings.composite = 1;
    settings.lpf = 0;
    settings.mono = mono;
    settings.decode = decode_settings;
    Decoded d;
    d.source.resize(w * h);
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x)
            d.source[r * w + x] = picture(x, r);
    EffectState state;
    std::vector<PIXEL_YC> scratch(w * h), partner(w * h), previous = d.source;
    EffectFrame before = {previous.data(), scratch.data(), w, h, w, number - 1};
    before.composite = partner.data();
    apply_effects(&state, &settings, &before);
    d.result = d.source;
    EffectFrame frame = {d.result.data(), scratch.data(), w, h, w, number};
    if (number > 0)
        frame.partner = partner.data();
    apply_effects(&state, &settings, &frame);
    release_effect_state(&state);
    return d;
}

DecodeSettings mode(int32_t m, int32_t bandwidth = CHROMA_WIDE)
{
    DecodeSettings s;
    s.mode = m;
    s.bandwidth = bandwidth;
    return s;
}

const int32_t all_modes[] = {DECODE_NOTCH, DECODE_2LINE, DECODE_3LINE, DECODE_3D};

// The carrier's advance per column at the nominal freq, in radians.
const double carrier_step = 2 * 3.141592653589793 * 3.579545 / 13.5;

TEST(CompositeDecoder, FlatColoursComeBack)
{
    // 75 % bars and a skin tone, in the editor's scale.
    const PIXEL_YC colours[] = {{2060, -1192, 252}, {1732, 410, -1408}, {1390, -780, -1155},
                                {1093, 780, 1155},  {751, -410, 1408},  {423, 1192, -252},
                                {2600, -300, 420}};
    for (int32_t m : all_modes) {
        for (int32_t bandwidth : {CHROMA_WIDE, CHROMA_NARROW}) {
            for (const PIXEL_YC& c : colours) {
                const Decoded d = decode([&](int, int) { return c; }, mode(m, bandwidth));
                int worst = 0;
                for (int r = 0; r < h; ++r) {
                    for (int x = inner_left; x < inner_right; ++x) {
                        const PIXEL_YC& p = d.result[r * w + x];
                        worst = std::max({worst, std::abs(p.y - c.y), std::abs(p.cb - c.cb),
                                          std::abs(p.cr - c.cr)});
                    }
                }
                EXPECT_LE(worst, 4) << decode_mode_name(m) << " " << chroma_bandwidth_name(bandwidth)
                                    << " colour " << c.y << "," << c.cb << "," << c.cr;
            }
        }
    }
}

TEST(CompositeDecoder, LumaAtTheCarrierIsFalseColourOnlyThroughTheNotch)
{
    // A vertically uniform grey grating at the carrier frequency.
    const Picture grating = [](int x, int) {
        return PIXEL_YC{static_cast<short>(2048 + std::lround(800 * std::cos(carrier_step * x))), 0, 0};
    };
    for (int32_t m : all_modes) {
        const Decoded d = decode(grating, mode(m));
        double colour = 0;
        for (int r = 0; r < h; ++r)
            for (int x = inner_left; x < inner_right; ++x)
                colour += std::abs(d.result[r * w + x].cb) + std::abs(d.result[r * w + x].cr);
        colour /= h * (inner_right - inner_left);
        if (m == DECODE_NOTCH)
            EXPECT_GT(colour, 400) << "notch";
        else
            EXPECT_LT(colour, 2) << decode_mode_name(m);
    }
}

TEST(CompositeDecoder, StillPictureThroughTheFrameCombKeepsItsLuma)
{
    // Diagonal fine detail at the carrier, which the line combs cannot
    // separate, over a colour gradient.
    const Picture detail = [](int x, int r) {
        const double d = std::cos(carrier_step * x + 1.3 * r);
        return PIXEL_YC{static_cast<short>(2048 + std::lround(700 * d)),
                        static_cast<short>(x * 8 - 640), static_cast<short>(r * 20 - 480)};
    };
    const Decoded still = decode(detail, mode(DECODE_3D));
    const Decoded line = decode(detail, mode(DECODE_3LINE));
    int still_error = 0, line_error = 0;
    for (int r = 0; r < h; ++r) {
        for (int x = inner_left; x < inner_right; ++x) {
            still_error = std::max(still_error, std::abs(still.result[r * w + x].y - still.source[r * w + x].y));
            line_error = std::max(line_error, std::abs(line.result[r * w + x].y - line.source[r * w + x].y));
        }
    }
    EXPECT_LE(still_error, 1);
    EXPECT_GT(line_error, 100);  // the picture is one the line comb gets wrong

    // Frame 0 has no partner: the frame comb is the line comb there.
    const std::vector<PIXEL_YC> first = decode(detail, mode(DECODE_3D), 0).result;
    const std::vector<PIXEL_YC> line_first = decode(detail, mode(DECODE_3LINE), 0).result;
    EXPECT_EQ(std::memcmp(first.data(), line_first.data(), first.size() * sizeof(PIXEL_YC)), 0);
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

TEST(CompositeDecoder, MonoDropsTheDecodedColour)
{
    const PIXEL_YC colour = {1500, 600, -400};
    const Decoded colour_set = decode([&](int, int) { return colour; }, mode(DECODE_NOTCH));
    const Decoded mono_set = decode([&](int, int) { return colour; }, mode(DECODE_NOTCH), 1, 1);
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
    } cases[] = {{0, 1, 0}, {0, 10, 9}, {1, 2, 0}, {1, 3, 1}, {1, 7, 5}, {0, INT32_MIN, INT32_MAX}};
    for (const auto& c : cases) {
        EffectSettings settings;
        settings.paired_fields = c.paired;
        EXPECT_EQ(comb_partner_frame(&settings, c.frame), c.partner);
        // The partner's carrier starts with the other sign.
        EXPECT_NE(carrier_flags(&settings, c.frame) & 2, carrier_flags(&settings, c.partner) & 2);
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

}  // namespace
