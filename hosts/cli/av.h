// Owning handles for the FFmpeg library objects the command-line host uses,
// its error type and stop request, and the picture formats it works in.
#pragma once

#include <csignal>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "engine/yuv_frame.h"
#include "engine/yuv_yc.h"

// A failure reported to the user as one line, "norel: <what>".
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Set from a signal handler to stop the work between two frames or during a
// wait for input; the output is then abandoned like after any other failure.
extern volatile std::sig_atomic_t stop_requested;

// Throws the Failure that ends an interrupted run, if a stop was requested.
void stop_if_requested();

// For AVIOInterruptCB: makes libavformat give up a blocking read or write
// once a stop is requested.
int stop_requested_callback(void*);

// The text of an FFmpeg error code.
std::string av_error_text(int code);

struct InputContextCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct OutputContextFreer {
    void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};
struct CodecContextFreer {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScalerFreer {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextCloser>;
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextFreer>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerFreer>;

FramePtr make_frame();
PacketPtr make_packet();

// A frame of the given format and size with its own buffers.
FramePtr make_picture(AVPixelFormat format, int width, int height);

// The sample layout of a pixel format the conversion to PIXEL_YC reads and
// writes directly: planar YUV or grey, 8 to 12 bits in native byte order,
// no alpha. Empty for every other format.
std::optional<YuvLayout> yuv_layout_of(AVPixelFormat format);

// The layout of a picture in a working format, with its colour range.
YuvLayout yuv_layout_of(const AVFrame* picture);

// The planes of a picture in a working format.
YuvPlanes planes_of(const AVFrame* picture);
// A picture in a working format as the engine's YUV hosts hand it over,
// its 4:2:0 chroma by field where the picture is flagged interlaced.
YuvPicture yuv_picture_of(const AVFrame* picture);

// A picture in a working format as PIXEL_YC, rows `width` pixels apart.
void picture_to_yc(const AVFrame* picture, std::vector<PIXEL_YC>& yc);

// The planar format with the given chroma subsampling and depth (8, 10 or
// 12 bits), or grey when there is no chroma.
AVPixelFormat planar_format(bool has_chroma, int chroma_shift_x, int chroma_shift_y, int depth);

// True for RGB and palette formats, which are always full range.
bool is_rgb(AVPixelFormat format);

// Converts pictures from one format to another with libswscale, using the
// YUV matrix and ranges of the pictures' colour tags. Samples are copied
// exactly when only the packing differs.
class FormatConverter {
public:
    // The converted picture; its colour tags and timing follow `picture`.
    FramePtr convert(const AVFrame* picture, AVPixelFormat target, AVColorRange target_range);

private:
    ScalerPtr scaler_;
    AVPixelFormat source_format_ = AV_PIX_FMT_NONE;
    AVPixelFormat target_format_ = AV_PIX_FMT_NONE;
    int width_ = 0, height_ = 0;
};

// The YUV matrix a picture is in: its tag, or BT.601 for standard
// definition and BT.709 above it when it carries none.
AVColorSpace effective_colorspace(AVColorSpace tag, int height);
