// The effect chain over a YUV picture in a host's own memory, for hosts that
// hand over YUV (MLT, GStreamer, the command line). The chain takes the
// picture's rows one at a time (apply_effects_by_rows): only the pixels it
// reads are converted to the YC scale, as it reaches them, and only the
// rectangle is written back, widened to whole chroma blocks so that every
// block written is the mean of its own pixels, as a conversion of the whole
// frame would give. Everything outside stays exactly as the host gave it.
//
// Interlaced 4:2:0 keeps each field's colour: its chroma rows alternate
// between the fields, chroma row 2j + p holding field p's rows 4j + p and
// 4j + 2 + p, so a chroma block there is four rows high. A picture 4k + 2
// rows high has no chroma row of the second field for its last two rows:
// those two share chroma row 2k, as in a progressive picture.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/frame_effects.h"
#include "engine/yuv_yc.h"

// How a picture's samples lie in memory.
enum YuvPacking : int {
    YUV_PLANAR = 0,  // a plane per component (luma alone without chroma)
    YUV_YUYV = 1,    // 8-bit 4:2:2 in one plane: Y0 Cb Y1 Cr
    YUV_UYVY = 2,    // 8-bit 4:2:2 in one plane: Cb Y0 Cr Y1
};

struct YuvPicture {
    YuvLayout layout;  // for packed pictures: 8 bits, 4:2:2
    int packing;
    int interlaced;  // non-zero: 4:2:0 chroma lies by field (above)
    // Planar samples of more than 8 bits whose low `sample_shift` bits lie
    // below the layout's depth (16-bit samples converted as 12-bit: 4). They
    // are rounded off on the way in and the depth's bits repeated into them
    // on the way back.
    int sample_shift;
    uint8_t* data[3];
    int linesize[3];  // bytes
    int width;
    int height;
};

// What lasts between frames: the chain's state and its buffers, grown as
// pictures need. Zero-initialised: empty.
struct YuvEffects {
    EffectState state;
    YuvKernels kernels;  // chosen at the first picture
    bool kernels_chosen;
    PIXEL_YC* pixels;  // a chroma block's rows as the chain finishes them
    size_t capacity;   // pixels in `pixels`
    uint8_t* rows;     // rows narrowed to the depth, for shifted pictures
    size_t rows_capacity;
};

// FALSE when a picture's geometry cannot be used (zero or negative size,
// missing planes, rows shorter than the picture, 2-byte samples off 2-byte
// boundaries, a layout the conversion does not take): such a picture is
// left as it is.
int yuv_picture_is_usable(const YuvPicture* picture);

// Earlier pictures of the clip, for the frame comb's history ("3d"):
// picture() gives frame `number` as it enters the filter, in the geometry
// and layout of the frame being filtered, FALSE where the host cannot give
// it; release() lets it go again.
struct EarlierPictures {
    void* host;
    int (*picture)(void* host, int32_t number, YuvPicture* picture);
    void (*release)(void* host, int32_t number);
};

// Runs apply_effects on the picture in place as frame `number`. The frame
// comb reads the composite signals of earlier frames from the state's
// history; those it lacks are first chained from `earlier` (null: a host
// that has none, whose frames then decode as "3line" until the history
// holds them). FALSE when the picture is not usable or memory cannot be
// had; the picture is then unchanged.
int apply_effects_to_yuv(YuvEffects* effects, const EffectSettings* settings, const YuvPicture* picture,
                         int32_t number, const EarlierPictures* earlier = nullptr);

// The same from `picture` into `result`, a usable picture of the same
// geometry and layout that does not overlap it: result's pixels outside the
// rectangle's blocks become picture's. FALSE as above, or when result does
// not fit picture; result is then unchanged.
int apply_effects_from_yuv(YuvEffects* effects, const EffectSettings* settings, const YuvPicture* picture,
                           const YuvPicture* result, int32_t number, const EarlierPictures* earlier = nullptr);

// The whole picture to YC (rows `pitch` pixels apart) and back, converted
// as the chain's rows are, for hosts that filter whole frames of PIXEL_YC:
// planar pictures without sample_shift, as yuv_to_yc and yc_to_yuv take.
void yuv_picture_to_yc(const YuvPicture* picture, PIXEL_YC* yc, int pitch);
void yc_to_yuv_picture(const PIXEL_YC* yc, int pitch, const YuvPicture* picture);

// Frees what the record holds; it can be used again afterwards.
void release_yuv_effects(YuvEffects* effects);
