#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "engine/shift_kernel.h"

namespace {

using Weights = std::array<int32_t, 4>;

Weights kernel_for(int32_t v)
{
    // Poisoned first, so a weight the builder forgets to write shows.
    Weights w = {0x7EADBEEF, 0x7EADBEEF, 0x7EADBEEF, 0x7EADBEEF};
    build_shift_kernel(w.data(), v);
    return w;
}

int32_t total(const Weights& w)
{
    return w[0] + w[1] + w[2] + w[3];
}

// The same Lanczos-2 weights computed another way: sinc(t) * sinc(t / 2) with
// t in field lines, pi from acos, summed and scaled in long double. Every
// scaled weight lies far enough from a rounding boundary for both to agree.
Weights reference_kernel(int phase)
{
    const long double pi = std::acos(-1.0L);
    auto sinc = [&](long double t) { return std::sin(pi * t) / (pi * t); };
    const long double t = phase / 16.0L;
    const long double taps[4] = {t, 1 - t, 1 + t, 2 - t};
    long double raw[4];
    long double sum = 0;
    for (int i = 0; i < 4; ++i) {
        raw[i] = sinc(taps[i]) * sinc(taps[i] / 2);
        sum += raw[i];
    }
    Weights w;
    for (int i = 0; i < 4; ++i)
        w[i] = static_cast<int32_t>(std::floor(raw[i] / sum * 32768 + 0.5L));
    return w;
}

}  // namespace

TEST(ShiftKernel, KnownPhasesGiveTheTabulatedWeights)
{
    EXPECT_EQ(kernel_for(1), (Weights{32477, 1466, -1141, -34}));
    EXPECT_EQ(kernel_for(4), (Weights{28462, 7635, -2749, -581}));
    EXPECT_EQ(kernel_for(8), (Weights{18432, 18432, -2048, -2048}));
    EXPECT_EQ(kernel_for(12), (Weights{7635, 28462, -581, -2749}));
    EXPECT_EQ(kernel_for(15), (Weights{1466, 32477, -34, -1141}));
}

TEST(ShiftKernel, WeightsAreRoundedSeparatelySoTwoPhasesSumTo32767)
{
    for (int f = 1; f <= 15; ++f) {
        const int32_t expected = (f == 4 || f == 12) ? 32767 : 32768;
        EXPECT_EQ(total(kernel_for(f)), expected) << "phase " << f;
    }
}

TEST(ShiftKernel, EveryPhaseMatchesAnIndependentEvaluation)
{
    for (int f = 1; f <= 15; ++f)
        EXPECT_EQ(kernel_for(f), reference_kernel(f)) << "phase " << f;
}

TEST(ShiftKernel, NearTapsArePositiveAndFarTapsNegative)
{
    for (int f = 1; f <= 15; ++f) {
        const Weights w = kernel_for(f);
        EXPECT_GT(w[0], 0) << "phase " << f;
        EXPECT_GT(w[1], 0) << "phase " << f;
        EXPECT_LT(w[2], 0) << "phase " << f;
        EXPECT_LT(w[3], 0) << "phase " << f;
    }
}

TEST(ShiftKernel, PhaseSixteenMinusFMirrorsPhaseF)
{
    for (int f = 1; f <= 15; ++f) {
        const Weights w = kernel_for(f);
        const Weights mirror = kernel_for(16 - f);
        EXPECT_EQ(mirror, (Weights{w[1], w[0], w[3], w[2]})) << "phase " << f;
    }
}

TEST(ShiftKernel, HalfLinePhaseIsNineSixteenthsAndMinusOneSixteenth)
{
    const Weights half = {18432, 18432, -2048, -2048};
    EXPECT_EQ(kernel_for(8), half);
    EXPECT_EQ(kernel_for(-8), half);
    EXPECT_EQ(kernel_for(24), half);
    EXPECT_EQ(kernel_for(-248), half);
}

TEST(ShiftKernel, NegativeValuesUseTheirLowFourBits)
{
    // -1 & 15 = 15, -17 & 15 = 15, -255 & 15 = 1.
    EXPECT_EQ(kernel_for(-1), (Weights{1466, 32477, -34, -1141}));
    EXPECT_EQ(kernel_for(-17), kernel_for(15));
    EXPECT_EQ(kernel_for(-255), kernel_for(1));
}

TEST(ShiftKernel, ValuesWithTheSamePhaseShareTheirWeights)
{
    EXPECT_EQ(kernel_for(17), (Weights{32477, 1466, -1141, -34}));
    for (int v = -255; v <= 255; ++v) {
        if ((v & 15) == 0)
            continue;
        EXPECT_EQ(kernel_for(v), kernel_for(v & 15)) << "v " << v;
    }
}
