#include "engine/shift_kernel.h"

#include <cmath>

void build_shift_kernel(int32_t weights[4], int32_t v)
{
    const int32_t f = v & 15;
    const int32_t distance[4] = {f, 16 - f, 16 + f, 32 - f};
    double w[4];
    for (int i = 0; i < 4; ++i) {
        // sinc(t) * sinc(t / 2) at t = d / 16 field lines.
        const double a = distance[i] * 0.19634954084936207;
        const double b = distance[i] * 0.09817477042468103;
        w[i] = (std::sin(a) / a) * (std::sin(b) / b);
    }
    const double sum = w[0] + ((w[3] + w[2]) + w[1]);
    const double norm = 1.0 / sum;
    for (int i = 0; i < 4; ++i)
        weights[i] = static_cast<int32_t>(std::floor(norm * w[i] * 32768.0 + 0.5));
}
