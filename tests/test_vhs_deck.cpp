// The VHS deck as a user measures a deck: black-box, through the chain, one
// table per property (docs/vhs.md gives the numbers).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "engine/cpu.h"
#include "engine/frame_effects.h"

namespace {

struct Picture {
    int w, h;
    std::vector<PIXEL_YC> pixels;
    PIXEL_YC& at(int x, int r) { return pixels[static_cast<size_t>(r) * w + x]; }
};

Picture picture(int w, int h, const std::function<PIXEL_YC(int x, int r)>& pixel)
{
    Picture p{w, h, std::vector<PIXEL_YC>(static_cast<size_t>(w) * h)};
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x)
            p.at(x, r) = pixel(x, r);
    return p;
}

// A deck with every fault off: only its filters.
EffectSettings quiet_deck(int32_t format, int32_t standard = STANDARD_NTSC)
{
    EffectSettings s;
    s.width = s.height = 1 << 20;
    s.composite = 1;
    s.lpf = 0;
    s.standard = standard;
    s.vhs.format = format;
    s.vhs.tape_noise = 0;
    s.vhs.head_switching = 0;
    s.vhs.jitter = 0;
    s.vhs.dropouts = 0;
    return s;
}

Picture played(const EffectSettings& settings, Picture p, int32_t number = 0)
{
    EffectState state;
    std::vector<PIXEL_YC> scratch(p.pixels.size());
    const EffectFrame frame = {p.pixels.data(), scratch.data(), p.w, p.h, p.w, number};
    apply_effects(&state, &settings, &frame);
    release_effect_state(&state);
    return p;
}

constexpr double two_pi = 6.283185307179586;

// The amplitude of the sine of `cycles` per pixel in columns [first, end) of a row.
double amplitude(Picture& p, int r, double cycles, int first, int end)
{
    double re = 0, im = 0;
    for (int x = first; x < end; ++x) {
        re += p.at(x, r).y * std::cos(two_pi * cycles * x);
        im += p.at(x, r).y * std::sin(two_pi * cycles * x);
    }
    return 2 * std::hypot(re, im) / (end - first);
}

TEST(VhsDeck, LumaFallsToHalfPowerAtTheFormatsBandwidth)
{
    // 1440 columns sample at 27 MHz: the carrier (7.16 MHz there) lies
    // above every format's luma band.
    const int w = 1440, h = 8;
    const double mhz = 27;
    const struct {
        int32_t format;
        double bandwidth;
    } formats[] = {{VHS_SP, 3.0}, {VHS_LP, 2.8}, {VHS_EP, 2.5}, {VHS_SVHS, 5.0}};
    for (const auto& format : formats) {
        SCOPED_TRACE(vhs_format_name(format.format));
        double found = 0;
        for (double f = 0.2; f < 6.5 && found == 0; f += 0.05) {
            const Picture sine = picture(w, h, [&](int x, int) {
                return PIXEL_YC{static_cast<short>(2048 + std::lround(1000 * std::sin(two_pi * f / mhz * x))), 0, 0};
            });
            Picture on = played(quiet_deck(format.format), sine);
            Picture off = played(quiet_deck(VHS_OFF), sine);
            if (amplitude(on, 4, f / mhz, 200, 1240) < 0.7071 * amplitude(off, 4, f / mhz, 200, 1240))
                found = f;
        }
        EXPECT_NEAR(found, format.bandwidth, 0.1 * format.bandwidth);
    }
}

// Where a row's value crosses halfway between its plateaus left and right
// of `edge`, in pixels, and its 10 % to 90 % rise in pixels.
struct Crossing {
    double at, rise;
};
Crossing crossing(const std::function<double(int)>& value, int edge, int reach)
{
    auto plateau = [&](int from) {
        double sum = 0;
        for (int x = from; x < from + 16; ++x)
            sum += value(x);
        return sum / 16;
    };
    const double low = plateau(edge - reach - 16), high = plateau(edge + reach);
    auto first_above = [&](double fraction) {
        const double level = low + fraction * (high - low);
        for (int x = edge - reach; x < edge + reach; ++x) {
            if (value(x + 1) >= level && value(x) < level)
                return x + (level - value(x)) / (value(x + 1) - value(x));
        }
        return 0.0;
    };
    return {first_above(0.5), first_above(0.9) - first_above(0.1)};
}

TEST(VhsDeck, ChromaLagsLumaByTheSetDelayAndIsAsSlowAsItsBandwidth)
{
    // The composite signal itself, averaged over 15 columns (four carrier
    // cycles): its luma, and the magnitude of its chroma, each edge in a
    // picture of its own, so that neither edge's spectrum is read as the
    // other's.
    const int w = 1440, h = 16, edge = 720, row = 8;
    const double ns_per_pixel = 1000 / 27.0, cycles = 3.579545 / 13.5;
    const Picture luma_step = picture(w, h, [&](int x, int) {
        return x < edge ? PIXEL_YC{1000, 0, 0} : PIXEL_YC{2000, 0, 0};
    });
    const Picture chroma_step = picture(w, h, [&](int x, int) {
        return x < edge ? PIXEL_YC{1500, 0, 0} : PIXEL_YC{1500, -300, 1200};
    });
    auto luma = [&](Picture& p) {
        return [&p](int x) {
            double sum = 0;
            for (int j = -7; j <= 7; ++j)
                sum += p.at(x + j, row).y;
            return sum / 15;
        };
    };
    auto chroma = [&](Picture& p) {
        return [&p, cycles](int x) {
            double re = 0, im = 0;
            for (int j = -15; j <= 15; ++j) {
                const double hann = 1 + std::cos(two_pi * j / 32);
                re += hann * p.at(x + j, row).y * std::cos(two_pi * cycles * (x + j));
                im += hann * p.at(x + j, row).y * std::sin(two_pi * cycles * (x + j));
            }
            return std::hypot(re, im);
        };
    };
    for (int32_t delay : {-1000, -600, -300, -150, -40, 0, 40, 150, 300, 600, 1000}) {
        SCOPED_TRACE(delay);
        EffectSettings on = quiet_deck(VHS_SP);
        on.vhs.chroma_delay = delay;
        Picture luma_with = played(on, luma_step), luma_without = played(quiet_deck(VHS_OFF), luma_step);
        Picture chroma_with = played(on, chroma_step), chroma_without = played(quiet_deck(VHS_OFF), chroma_step);
        const Crossing luma_on = crossing(luma(luma_with), edge, 200);
        const Crossing luma_off = crossing(luma(luma_without), edge, 200);
        const Crossing chroma_on = crossing(chroma(chroma_with), edge, 200);
        const Crossing chroma_off = crossing(chroma(chroma_without), edge, 200);
        const double lag = (chroma_on.at - luma_on.at) - (chroma_off.at - luma_off.at);
        EXPECT_NEAR(lag * ns_per_pixel, delay, 20);
        // The deck's own rise, the window's taken out: a Gaussian 0.5 MHz
        // wide rises from 10 % to 90 % in 0.68 us.
        const double rise = std::sqrt(chroma_on.rise * chroma_on.rise - chroma_off.rise * chroma_off.rise);
        EXPECT_NEAR(rise * ns_per_pixel, 680, 0.25 * 680);
    }
}

TEST(VhsDeck, HeadSwitchingMovesOnlyTheLastFieldLinesAndTheFirstOfThemMost)
{
    const int w = 720, edge = 360;
    const struct {
        int32_t standard, lines, shift_ns;
    } cases[] = {{STANDARD_NTSC, 3, 2000}, {STANDARD_PAL, 4, -3000}, {STANDARD_NTSC, 8, 10000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.lines) + " lines, " + std::to_string(c.shift_ns) + " ns");
        const int h = c.standard == STANDARD_PAL ? 576 : 480;
        const Picture step = picture(w, h, [&](int x, int) { return PIXEL_YC{short(x < edge ? 800 : 3000), 0, 0}; });
        EffectSettings on = quiet_deck(VHS_SP, c.standard);
        on.vhs.head_switching = c.lines;
        on.vhs.head_switching_shift = c.shift_ns;
        Picture with = played(on, step), without = played(quiet_deck(VHS_SP, c.standard), step);
        for (int field = 0; field < 2; ++field) {
            const int lines = (h - field + 1) / 2;
            double moved_before = 1e9;
            for (int line = 0; line < lines; ++line) {
                const int r = 2 * line + field;
                const bool same = std::equal(&with.at(0, r), &with.at(0, r) + w, &without.at(0, r),
                                             [](PIXEL_YC a, PIXEL_YC b) { return a.y == b.y; });
                if (line < lines - c.lines) {
                    ASSERT_TRUE(same) << "row " << r;
                    continue;
                }
                auto at = [&](Picture& p) { return crossing([&](int x) { return p.at(x, r).y; }, edge, 340).at; };
                const double moved = (at(with) - at(without)) * 1000 / 13.5;
                if (line == lines - c.lines)
                    EXPECT_NEAR(moved, c.shift_ns, 40) << "row " << r;
                else
                    EXPECT_LT(std::abs(moved), std::abs(moved_before)) << "row " << r;
                moved_before = moved;
            }
        }
    }
}

TEST(VhsDeck, DropoutsAreFilledWithTheFieldsLineAboveOrLeftWhite)
{
    const int w = 720, h = 480;
    const Picture ramp = picture(w, h, [](int, int r) { return PIXEL_YC{short(300 + 7 * r), 0, 0}; });
    const struct {
        int32_t standard, compensator;
    } cases[] = {{STANDARD_NTSC, 1}, {STANDARD_PAL, 1}, {STANDARD_NTSC, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.standard) + (c.compensator ? " compensated" : " white"));
        EffectSettings on = quiet_deck(VHS_SP, c.standard);
        on.vhs.dropouts = 5000;
        on.vhs.dropout_compensator = c.compensator;
        Picture with = played(on, ramp), without = played(quiet_deck(VHS_SP, c.standard), ramp);
        int dropped = 0;
        for (int r = 0; r < h; ++r) {
            for (int x = 0; x < w; ++x) {
                if (with.at(x, r).y == without.at(x, r).y)
                    continue;
                ++dropped;
                ASSERT_GE(r, c.compensator ? 2 : 0);
                // The line's own colour-under rounding (a code or two) aside.
                ASSERT_NEAR(with.at(x, r).y, c.compensator ? with.at(x, r - 2).y : 4096, 2) << x << ", " << r;
            }
        }
        EXPECT_GT(dropped, 2000);
    }
}

// The deck's noise on flat grey: frame `number`, `seed`, the luma alone.
Picture noise(int32_t format, int32_t tape_noise, uint32_t seed = 0, int32_t number = 0)
{
    EffectSettings s = quiet_deck(format);
    s.vhs.tape_noise = tape_noise;
    s.vhs.chroma_noise = 0;
    s.vhs.seed = seed;
    Picture grey = played(s, picture(720, 240, [](int, int) { return PIXEL_YC{2048, 0, 0}; }), number);
    for (PIXEL_YC& p : grey.pixels)
        p.y = static_cast<short>(p.y - 2048);
    return grey;
}

double correlation(Picture& a, Picture& b)
{
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) {
        ab += a.pixels[i].y * b.pixels[i].y;
        aa += a.pixels[i].y * a.pixels[i].y;
        bb += b.pixels[i].y * b.pixels[i].y;
    }
    return ab / std::sqrt(aa * bb);
}

TEST(VhsDeck, NoiseFollowsTheFormatsSignalToNoiseRatioAndRisesWithFrequency)
{
    const struct {
        int32_t format, tape_noise;
        double snr;  // dB; 0: none beyond the deck's rounding (below 1.5 codes)
    } cases[] = {{VHS_SP, 100, 43}, {VHS_EP, 100, 38}, {VHS_LP, 100, 40.5},
                 {VHS_SP, 200, 43 - 6.02}, {VHS_SVHS, 50, 45 + 6.02}, {VHS_SP, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(vhs_format_name(c.format)) + " " + std::to_string(c.tape_noise));
        Picture n = noise(c.format, c.tape_noise);
        double power = 0;
        int count = 0;
        for (int r = 0; r < n.h; ++r)
            for (int x = 16; x < n.w - 16; ++x, ++count)
                power += n.at(x, r).y * n.at(x, r).y;
        if (c.snr == 0) {
            EXPECT_LT(std::sqrt(power / count), 1.5);
            continue;
        }
        EXPECT_NEAR(20 * std::log10(4096 / std::sqrt(power / count)), c.snr, 1.0);
    }
    // The spectrum, averaged over rows: more power at 2 - 2.8 MHz than at 0.3 - 1.
    Picture n = noise(VHS_SP, 100);
    auto band = [&](double from, double to) {
        const int length = 512;
        double sum = 0;
        int bins = 0;
        for (int k = static_cast<int>(from / 13.5 * length); k <= to / 13.5 * length; ++k, ++bins)
            for (int r = 0; r < n.h; r += 4)
                sum += std::pow(amplitude(n, r, double(k) / length, 100, 100 + length), 2);
        return sum / bins;
    };
    EXPECT_GT(band(2.0, 2.8), 2 * band(0.3, 1.0));
    // Other seeds and other frames: other noise.
    Picture seed_1 = noise(VHS_SP, 100, 1), seed_2 = noise(VHS_SP, 100, 2), later = noise(VHS_SP, 100, 1, 1);
    EXPECT_LT(std::abs(correlation(seed_1, seed_2)), 0.02);
    EXPECT_LT(std::abs(correlation(seed_1, later)), 0.02);
}

// A frame in a host's rows, for apply_effects_by_rows.
struct Rows {
    Picture* p;
    static void read(void* host, int row, int left, int right, PIXEL_YC* out)
    {
        auto* self = static_cast<Rows*>(host);
        std::copy(&self->p->at(left, row), &self->p->at(left, row) + (right - left), out);
    }
    static void write(void* host, int row, const PIXEL_YC* pixels)
    {
        auto* self = static_cast<Rows*>(host);
        std::copy(pixels, pixels + self->p->w, &self->p->at(0, row));
    }
};

TEST(VhsDeck, AFrameIsTheSameBytesInAnyOrderWalkAndVariant)
{
    for (int32_t standard : {STANDARD_NTSC, STANDARD_PAL}) {
        SCOPED_TRACE(standard);
        EffectSettings s;
        s.width = s.height = 1 << 20;
        s.composite = 1;
        s.standard = standard;
        s.shift = 8;
        s.decode.mode = DECODE_3LINE;
        s.vhs.format = VHS_EP;
        s.vhs.seed = 77;
        s.vhs.tracking = 60;
        s.vhs.dropouts = 800;
        s.vhs.generations = 3;
        const Picture source = picture(720, 96, [](int x, int r) {
            return PIXEL_YC{short((x * 7 + r * 31) % 4096), short((x * 13) % 4096 - 2048), short((r * 29) % 4096 - 2048)};
        });
        const Picture alone = played(s, source, 5);
        // The same state, after other frames, out of order.
        EffectState state;
        std::vector<PIXEL_YC> scratch(source.pixels.size());
        Picture p;
        for (int32_t number : {9, 2, 5}) {
            p = source;
            const EffectFrame frame = {p.pixels.data(), scratch.data(), p.w, p.h, p.w, number};
            apply_effects(&state, &s, &frame);
        }
        EXPECT_EQ(0, std::memcmp(alone.pixels.data(), p.pixels.data(), p.pixels.size() * sizeof(PIXEL_YC)));
        // Over a host's rows.
        Picture by_rows = source;
        Rows host{&by_rows};
        const FrameRows rows = {&host, Rows::read, Rows::write};
        const EffectFrame frame = {nullptr, nullptr, p.w, p.h, p.w, 5};
        ASSERT_TRUE(apply_effects_by_rows(&state, &s, &frame, &rows));
        release_effect_state(&state);
        EXPECT_EQ(0, std::memcmp(alone.pixels.data(), by_rows.pixels.data(), p.pixels.size() * sizeof(PIXEL_YC)));
        // Counted from a later start: the same frame of the source, whose
        // noise follows its place there (the carrier, the clip's count).
        EffectSettings part = s;
        part.vhs.first_frame = 4;
        const Picture from_part = played(part, source, 1);
        EXPECT_EQ(0, std::memcmp(alone.pixels.data(), from_part.pixels.data(), p.pixels.size() * sizeof(PIXEL_YC)))
            << "four frames on, the carrier is the same again";
        // The references alone.
        cpu_set_mask(0);
        const Picture plain = played(s, source, 5);
        cpu_set_mask(~0u);
        EXPECT_EQ(0, std::memcmp(alone.pixels.data(), plain.pixels.data(), p.pixels.size() * sizeof(PIXEL_YC)));
    }
}

}  // namespace
