// What the scenario programs share: pixels and a digest that are the same on
// every build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/pixel_yc.h"

struct Xorshift {
    uint32_t state;
    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    short in(int low, int high) { return static_cast<short>(low + next() % (high - low + 1)); }
};

// Pixels in the nominal range, or over the whole 16-bit range.
inline std::vector<PIXEL_YC> random_frame(size_t pixels, bool full_range, uint32_t seed)
{
    Xorshift random{seed * 2654435761u + 12345u};
    std::vector<PIXEL_YC> frame(pixels);
    for (PIXEL_YC& p : frame) {
        if (full_range)
            p = {random.in(-32768, 32767), random.in(-32768, 32767), random.in(-32768, 32767)};
        else
            p = {random.in(0, 4096), random.in(-2048, 2048), random.in(-2048, 2048)};
    }
    return frame;
}

// FNV-1a, 64 bits.
struct Digest {
    uint64_t value = 1469598103934665603ull;
    void add(const void* data, size_t bytes)
    {
        const auto* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < bytes; ++i)
            value = (value ^ p[i]) * 1099511628211ull;
    }
    void add(int v) { add(&v, sizeof v); }
};
