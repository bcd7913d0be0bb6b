// The decoded looks on a photograph-like picture: a look named after a
// composite picture keeps the source's colour, as a television shows it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "tests/cli/support.h"

namespace {

constexpr int width = 320, height = 240, frames = 4;

// A value in [0, 1) from a hashed lattice point, smoothly interpolated
// between points `cell` pixels apart: a natural texture.
double texture(double x, double y, int cell, uint32_t seed)
{
    auto at = [&](int i, int j) {
        uint32_t v = static_cast<uint32_t>(i) * 0x9E3779B1u ^ static_cast<uint32_t>(j) * 0x85EBCA77u ^ seed;
        v = (v ^ (v >> 15)) * 0x2C1B3C6Du;
        return ((v ^ (v >> 12)) & 0xFFFF) / 65536.0;
    };
    const double fx = x / cell, fy = y / cell;
    const int i = static_cast<int>(std::floor(fx)), j = static_cast<int>(std::floor(fy));
    const double s = fx - i, t = fy - j;
    const double u = s * s * (3 - 2 * s), v = t * t * (3 - 2 * t);
    return (at(i, j) * (1 - u) + at(i + 1, j) * u) * (1 - v) + (at(i, j + 1) * (1 - u) + at(i + 1, j + 1) * u) * v;
}

// Frame n of a pan across a scene: a sky over warm ground, three soft
// coloured objects, textured at several scales; RGB in [0, 1].
void scene(double x, double y, double rgb[3])
{
    const double sky = std::clamp(1 - y / 150, 0.0, 1.0);
    const double grain = 0.6 * texture(x, y, 24, 1) + 0.3 * texture(x, y, 6, 2) + 0.1 * texture(x, y, 2, 3);
    const double base[3] = {0.35 + 0.35 * (1 - sky), 0.45 + 0.1 * sky, 0.25 + 0.6 * sky};
    for (int k = 0; k < 3; ++k)
        rgb[k] = base[k] * (0.7 + 0.5 * grain);
    const struct { double x, y, r, rgb[3]; } objects[] = {
        {90, 150, 45, {0.85, 0.2, 0.15}}, {210, 170, 55, {0.2, 0.6, 0.25}}, {330, 120, 40, {0.9, 0.75, 0.2}}};
    for (const auto& o : objects) {
        const double d = std::hypot(x - o.x, y - o.y) / o.r;
        const double cover = std::clamp((1.2 - d) * 4, 0.0, 1.0);
        for (int k = 0; k < 3; ++k)
            rgb[k] = rgb[k] * (1 - cover) + o.rgb[k] * (0.75 + 0.35 * grain) * cover;
    }
}

// The pan as an interlaced 4:2:2 YUV4MPEG2 clip, BT.601 limited range.
std::string pan_clip()
{
    std::string clip = "YUV4MPEG2 W320 H240 F30000:1001 It A1:1 C422\n";
    std::vector<uint8_t> y(width * height), cb(width * height / 2), cr(width * height / 2);
    for (int n = 0; n < frames; ++n) {
        for (int r = 0; r < height; ++r) {
            for (int x = 0; x < width; x += 2) {
                double sum_cb = 0, sum_cr = 0;
                for (int k = 0; k < 2; ++k) {
                    double rgb[3];
                    scene(x + k + 5 * n, r, rgb);
                    const double luma = 0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2];
                    y[r * width + x + k] = static_cast<uint8_t>(std::lround(16 + 219 * std::clamp(luma, 0.0, 1.0)));
                    sum_cb += (rgb[2] - luma) / 1.772;
                    sum_cr += (rgb[0] - luma) / 1.402;
                }
                cb[r * width / 2 + x / 2] = static_cast<uint8_t>(std::lround(128 + 224 * std::clamp(sum_cb / 2, -0.5, 0.5)));
                cr[r * width / 2 + x / 2] = static_cast<uint8_t>(std::lround(128 + 224 * std::clamp(sum_cr / 2, -0.5, 0.5)));
            }
        }
        clip += "FRAME\n";
        for (const auto* plane : {&y, &cb, &cr})
            clip.append(plane->begin(), plane->end());
    }
    return clip;
}

// The mean distance of the chroma from grey in the last frame, away from
// the picture's edges.
double mean_saturation(const Y4mClip& clip)
{
    const std::vector<uint8_t>& frame = clip.frames.back();
    const size_t plane = static_cast<size_t>(width) * height / 2;
    const uint8_t* cb = frame.data() + static_cast<size_t>(width) * height;
    const uint8_t* cr = cb + plane;
    double sum = 0;
    int count = 0;
    for (int r = 8; r < height - 8; ++r) {
        for (int x = 8; x < width / 2 - 8; ++x) {
            sum += std::hypot(cb[r * width / 2 + x] - 128.0, cr[r * width / 2 + x] - 128.0);
            ++count;
        }
    }
    return sum / count;
}

}  // namespace

TEST(Looks, DecodedLooksKeepThePhotographsSaturation)
{
    ScratchDir dir;
    const std::string clip = dir.path("pan.y4m");
    write_file(clip, pan_clip());
    const double source = mean_saturation(read_y4m(clip));
    ASSERT_GT(source, 15);  // a colourful picture
    for (const char* look : {"composite", "pal"}) {
        const std::string out = dir.path(std::string(look) + ".y4m");
        norel_ok({"--preset", look, "-q", clip, out});
        const double decoded = mean_saturation(read_y4m(out));
        EXPECT_NEAR(decoded / source, 1, 0.1) << look << ": " << source << " -> " << decoded;
    }
}
