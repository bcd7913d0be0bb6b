// Clips whose every pixel tells where it came from: y is the clip and frame
// number, cb the row, cr the column. Tests of the stages that fetch other
// frames from the host read off which frame, row and cache a pixel was
// taken from.
#pragma once

#include "tests/host_services.h"

// The filtering cache (frame n as it enters the filter) and the unfiltered
// source are tagged apart, so that a pixel taken from the wrong one shows.
enum ClipKind { FILTERING = 1000, SOURCE = 2000 };

inline PIXEL_YC tag(ClipKind kind, int frame, int row, int x)
{
    return {static_cast<short>(kind + frame), static_cast<short>(row), static_cast<short>(x)};
}

inline Clip tagged_clip(ClipKind kind, int frames, int h, int max_w)
{
    Clip clip(frames);
    for (int n = 0; n < frames; ++n)
        for (int r = 0; r < h; ++r)
            for (int x = 0; x < max_w; ++x)
                clip[n].push_back(tag(kind, n, r, x));
    return clip;
}

inline bool same(const PIXEL_YC& a, const PIXEL_YC& b)
{
    return a.y == b.y && a.cb == b.cb && a.cr == b.cr;
}
