// Frames for the benchmarks: the host's usual picture sizes, filled with
// noise in the nominal ranges so that no kernel meets only easy values.
// Needs no benchmark library, so that the DLL's bench host can use it.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "engine/pixel_yc.h"

struct FrameSize {
    const char* name;
    int w;
    int h;
};

constexpr FrameSize frame_sd = {"720x480", 720, 480};
constexpr FrameSize frame_hd = {"1920x1080", 1920, 1080};
constexpr FrameSize frame_uhd = {"3840x2160", 3840, 2160};

inline std::vector<PIXEL_YC> noise_frame(const FrameSize& size)
{
    std::mt19937 random(20240601);
    std::uniform_int_distribution<int> luma(0, 4096);
    std::uniform_int_distribution<int> chroma(-2048, 2048);
    std::vector<PIXEL_YC> frame(static_cast<size_t>(size.w) * size.h);
    for (PIXEL_YC& p : frame)
        p = {static_cast<short>(luma(random)), static_cast<short>(chroma(random)),
             static_cast<short>(chroma(random))};
    return frame;
}
