// Checks every subcarrier table entry for freq 600..750, phase -180..180 and
// columns below 4096 against sine and cosine evaluated more precisely than
// the C runtime's double functions, and measures how close the entries come
// to a rounding boundary. The closer an entry, the more accurate sin and cos
// must be for every C runtime to give the same table; the program fails when
// an entry is wrong or when that accuracy would exceed a generous bound.
//
// Entries are screened with the C runtime's double sin and cos, whose error
// (under one unit in the last place) is far below the screening distance;
// those near a boundary are decided in quadruple precision.
#include <quadmath.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "engine/composite_chroma.h"
#include "engine/composite_decoder.h"

namespace {

constexpr int32_t columns = 4096;

// The weights as the table builder scales them: cos for cb, sin for cr.
constexpr double cos_weight = 1787.7123152709362;
constexpr double sin_weight = 2518.680701754386;

// Entries farther than this from a boundary are decided by the screen.
constexpr double screen_distance = 1e-7;

// sin and cos errors below this bound must not change any entry. The C
// runtimes in use err by about 1e-16; this leaves a hundredfold margin.
constexpr double required_tolerance = 1e-14;

struct Entry {
    int32_t freq, phase, x;
    const char* table;
    double distance;   // of the exact weight × trig + 0.5 to the nearest integer
    double tolerance;  // the trig error that would move it onto the boundary
};

struct Report {
    long long entries = 0;
    long long decided_in_quad = 0;
    long long wrong = 0;
    std::vector<Entry> nearest;
};

// The carrier angle of column x, rounded to double as the table builder
// rounds it.
double carrier_angle(int32_t freq, int32_t phase, int32_t x, int32_t standard = STANDARD_NTSC)
{
    const double offset = (phase * 0.005555555555555556) * 3.141592653589793;
    const double step = standard == STANDARD_PAL
        ? ((freq * 0.0014204545454545455) * 27.85724818763592) * 0.07407407407407407
        : ((freq * 0.0014204545454545455) * 11.245472275194077) * 0.14814814814814814;
    return x * step + offset;
}

void check_entry(Report& report, int16_t entry, const char* table, bool is_cos, double angle,
                 int32_t freq, int32_t phase, int32_t x, double weight)
{
    const double screened = (is_cos ? std::cos(angle) : std::sin(angle)) * weight + 0.5;
    double distance = std::fabs(screened - std::nearbyint(screened));
    double expected = std::floor(screened);
    if (distance < screen_distance) {
        // Round the exact value to double, then scale and round as the
        // builder does, each step in double.
        const __float128 exact = is_cos ? cosq(angle) : sinq(angle);
        expected = std::floor(static_cast<double>(exact) * weight + 0.5);
        const __float128 scaled = exact * weight + 0.5;
        distance = static_cast<double>(fabsq(scaled - rintq(scaled)));
        ++report.decided_in_quad;
        report.nearest.push_back({freq, phase, x, table, distance, distance / weight});
    }
    ++report.entries;
    if (entry != expected) {
        if (report.wrong < 20)
            std::printf("wrong: freq %d phase %d x %d %s is %d, expected %.0f\n", freq, phase, x,
                        table, entry, expected);
        ++report.wrong;
    }
}

}  // namespace

// The decoder's band-pass taps and matrices, recomputed in long double:
// each entry must be the same and lie far enough from a rounding boundary
// that no C runtime's cos and sin could move it. Returns the entries wrong.
long long check_decoder_tables(double* nearest)
{
    long long wrong = 0;
    auto check = [&](int16_t entry, long double exact) {
        const long double distance = fabsl(exact + 0.5L - floorl(exact + 0.5L) - 0.5L);
        *nearest = std::min(*nearest, static_cast<double>(0.5L - distance));
        wrong += entry != static_cast<int16_t>(floorl(exact + 0.5L));
    };
    const long double window[] = {36, 182, 720, 2217, 5319, 9937, 14459, 16384,
                                  14459, 9937, 5319, 2217, 720, 182, 36};
    const int reach = decoder_bandpass_reach;
    for (int32_t standard : {STANDARD_NTSC, STANDARD_PAL})
    for (int32_t freq = 600; freq <= 750; ++freq) {
        int16_t taps[2 * decoder_bandpass_reach + 1];
        compute_decoder_bandpass(taps, freq, standard);
        const long double step = carrier_angle(freq, 0, 1, standard);
        long double band[2 * decoder_bandpass_reach + 1], dc = 0, sum = 0, gain = 0;
        for (int k = -reach; k <= reach; ++k) {
            band[k + reach] = window[k + reach] * cosl(step * k);
            dc += band[k + reach];
            sum += window[k + reach];
        }
        for (int k = -reach; k <= reach; ++k) {
            band[k + reach] -= dc / sum * window[k + reach];
            gain += band[k + reach] * cosl(step * k);
        }
        for (int k = -reach; k <= reach; ++k) {
            if (k != 0)  // the centre tap makes the sum 0 and is checked through it
                check(taps[k + reach], band[k + reach] * 16384 / gain);
        }
    }
    const long double u = 1787.7123152709362L / 2048, v = 2518.680701754386L / 2048;
    for (int32_t saturation = saturation_min; saturation <= saturation_max; ++saturation) {
        for (int32_t hue = hue_min; hue <= hue_max; ++hue) {
            int16_t m[4];
            compute_decoder_matrix(m, saturation, hue);
            const long double angle = hue * 3.141592653589793238L / 180;
            const long double scale = 2 * (saturation / 100.0L) * 4096;
            const long double c = cosl(angle), s = sinl(angle);
            check(m[0], scale * c / (u * u));
            check(m[1], -scale * s / (u * v));
            check(m[2], scale * s / (u * v));
            check(m[3], scale * c / (v * v));
            compute_pal_decoder_matrix(m, saturation, hue);
            check(m[0], scale * c / u);
            check(m[1], -scale * s / u);
            check(m[2], scale * s / v);
            check(m[3], scale * c / v);
        }
    }
    for (int32_t p = 0; p < pal_phase_steps; ++p) {
        int16_t rotation[2];
        pal_rotation(rotation, p);
        check(rotation[0], cosl(p * (2 * 3.141592653589793238L / pal_phase_steps)) * 16384);
        check(rotation[1], sinl(p * (2 * 3.141592653589793238L / pal_phase_steps)) * 16384);
    }
    return wrong;
}

int main()
{
    Report report;
    std::vector<int16_t> cos_table(columns), sin_table(columns);
    for (int32_t freq = 600; freq <= 750; ++freq) {
        for (int32_t phase = -180; phase <= 180; ++phase) {
            compute_subcarrier_entries(cos_table.data(), sin_table.data(), freq, phase, columns);
            for (int32_t x = 0; x < columns; ++x) {
                const double angle = carrier_angle(freq, phase, x);
                check_entry(report, cos_table[x], "cos", true, angle, freq, phase, x, cos_weight);
                check_entry(report, sin_table[x], "sin", false, angle, freq, phase, x, sin_weight);
            }
        }
    }
    // PAL's tables: the plain carrier at full scale.
    SubcarrierTables pal;
    for (int32_t freq = 600; freq <= 750; ++freq) {
        for (int32_t phase = -180; phase <= 180; ++phase) {
            build_carrier_tables(&pal, STANDARD_PAL, freq, phase, columns, columns);
            for (int32_t x = 0; x < columns; ++x) {
                const double angle = carrier_angle(freq, phase, x, STANDARD_PAL);
                check_entry(report, pal.cos_table[x], "pal cos", true, angle, freq, phase, x, 2048);
                check_entry(report, pal.sin_table[x], "pal sin", false, angle, freq, phase, x, 2048);
            }
        }
    }
    release_subcarrier_tables(&pal);

    std::sort(report.nearest.begin(), report.nearest.end(),
              [](const Entry& a, const Entry& b) { return a.tolerance < b.tolerance; });
    std::printf("%lld entries checked, %lld within %.0e of a rounding boundary decided in "
                "quadruple precision, %lld wrong\n",
                report.entries, report.decided_in_quad, screen_distance, report.wrong);
    const size_t shown = std::min<size_t>(report.nearest.size(), 8);
    for (size_t i = 0; i < shown; ++i) {
        const Entry& e = report.nearest[i];
        std::printf("  freq %d phase %d x %d %s: %.3e from a boundary, tolerates a trig error "
                    "of %.3e\n", e.freq, e.phase, e.x, e.table, e.distance, e.tolerance);
    }
    double decoder_nearest = 0.5;
    const long long decoder_wrong = check_decoder_tables(&decoder_nearest);
    std::printf("decoder tables: %lld entries wrong; the nearest lies %.3e from a rounding "
                "boundary\n", decoder_wrong, decoder_nearest);
    if (report.wrong != 0 || decoder_wrong != 0 || decoder_nearest < 1e-9)
        return 1;
    if (!report.nearest.empty() && report.nearest.front().tolerance < required_tolerance) {
        std::printf("an entry lies too close to a rounding boundary for a portable table\n");
        return 1;
    }
    return 0;
}
