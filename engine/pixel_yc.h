// The host's pixel: three signed 16-bit components, 6 bytes, no padding.
// Nominal y is 0..4096 (4096 = white), nominal cb and cr are -2048..2048;
// values outside those ranges are legal and are never clamped.
#pragma once

struct PIXEL_YC {
    short y;
    short cb;
    short cr;
};

static_assert(sizeof(PIXEL_YC) == 6, "PIXEL_YC must be 6 bytes");
