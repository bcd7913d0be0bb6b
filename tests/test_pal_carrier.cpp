// The PAL carrier as a measurement sees it: the frequency and the phase of
// the encoded signal, taken from flat U-only and V-only fields, against the
// standard's facts (4.43361875 MHz at 13.5 MHz sampling; 283.7516 cycles a
// line; the second field 312.5 lines after the first; V switched every line).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/frame_effects.h"

namespace {

constexpr int w = 720, h = 8;
const double pi = 3.141592653589793;

// The carrier of row r of frame `number`: the encoded luma less the flat
// source luma.
std::vector<double> carrier(int32_t number, int r, short cb, short cr, int32_t freq = 704)
{
    EffectSettings settings;
    settings.width = w;
    settings.height = h;
    settings.composite = 1;
    settings.lpf = 0;
    settings.standard = STANDARD_PAL;
    settings.freq = freq;
    std::vector<PIXEL_YC> pixels(w * h, PIXEL_YC{2000, cb, cr}), scratch(w * h);
    EffectState state;
    const EffectFrame frame = {pixels.data(), scratch.data(), w, h, w, number};
    apply_effects(&state, &settings, &frame);
    release_effect_state(&state);
    std::vector<double> c(w);
    for (int x = 0; x < w; ++x)
        c[x] = pixels[r * w + x].y - 2000;
    return c;
}

// For a sampled sinusoid c[x - 1] + c[x + 1] = 2 cos(step) c[x].
double measured_step(const std::vector<double>& c)
{
    double across = 0, power = 0;
    for (size_t x = 1; x + 1 < c.size(); ++x) {
        across += (c[x - 1] + c[x + 1]) * c[x];
        power += c[x] * c[x];
    }
    return std::acos(across / (2 * power));
}

// The phase at column 0, in degrees 0 .. 360.
double measured_phase(const std::vector<double>& c, double step)
{
    double in = 0, quadrature = 0;
    for (size_t x = 0; x < c.size(); ++x) {
        in += c[x] * std::cos(step * x);
        quadrature += c[x] * std::sin(step * x);
    }
    const double degrees = std::atan2(-quadrature, in) * 180 / pi;
    return degrees < 0 ? degrees + 360 : degrees;
}

double turn(double from, double to)
{
    const double d = std::fmod(to - from + 720, 360);
    return d;
}

TEST(PalCarrier, FrequencyIsTheStandardsAtEveryFreq)
{
    for (int32_t freq : {704, 640, 750}) {
        const double step = measured_step(carrier(0, 2, 1000, 0, freq));
        EXPECT_NEAR(step * 180 / pi, 360 * 4.43361875 / 13.5 * freq / 704, 0.01) << freq;
    }
}

TEST(PalCarrier, PhaseFollowsTheLineSequence)
{
    const double step = 2 * pi * 4.43361875 / 13.5;
    // Phase turns from (frame, row) to (frame, row) in degrees: U-only and
    // V-only (V adds half a cycle wherever the switch flips).
    const struct {
        const char* what;
        int32_t frame_a;
        int row_a;
        int32_t frame_b;
        int row_b;
        double u_turn, v_turn;
    } cases[] = {
        {"next line of a field", 0, 2, 0, 4, 270.576, 90.576},
        {"two lines on", 0, 2, 0, 6, 181.152, 181.152},
        // 312.5 lines on, the switch counting whole lines: 312.
        {"first line of the second field", 0, 0, 0, 1, 135.0, 135.0},
        {"next frame", 0, 2, 1, 2, 270.0, 90.0},                       // 625 lines
        {"two frames on: inverted", 1, 3, 3, 3, 180.0, 180.0},
        {"four frames on: the same", 2, 5, 6, 5, 0.0, 0.0},
    };
    for (const auto& c : cases) {
        const double u_a = measured_phase(carrier(c.frame_a, c.row_a, 1000, 0), step);
        const double u_b = measured_phase(carrier(c.frame_b, c.row_b, 1000, 0), step);
        const double v_a = measured_phase(carrier(c.frame_a, c.row_a, 0, 1000), step);
        const double v_b = measured_phase(carrier(c.frame_b, c.row_b, 0, 1000), step);
        // Within a tenth of a step of the line phase (360 / 4096 degrees).
        EXPECT_NEAR(std::remainder(turn(u_a, u_b) - c.u_turn, 360), 0, 0.2) << c.what << " (U)";
        EXPECT_NEAR(std::remainder(turn(v_a, v_b) - c.v_turn, 360), 0, 0.2) << c.what << " (V)";
    }
}

}  // namespace
