// Reading the video frames of an input with FFmpeg's libraries: any
// container and codec they read, image sequences given as a pattern such as
// frame%04d.png, and "-" for standard input.
#pragma once

#include <functional>
#include <string>

#include "hosts/cli/av.h"
#include "hosts/cli/options.h"

// What a clip looks like, taken from its first frame.
struct VideoInfo {
    int width = 0;
    int height = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;  // the working format frames are delivered in
    AVRational frame_rate{0, 1};
    AVRational sample_aspect{0, 1};
    AVFieldOrder field_order = AV_FIELD_UNKNOWN;  // as the input says, in display order
};

// What to do about an input that ends before it says it does.
enum class Truncation { Ignore, Warn, Refuse };

// The demuxer of one input and its video stream.
class InputFile {
public:
    // display_name is how messages name the input.
    InputFile(const std::string& path, const std::string& display_name, Truncation truncation = Truncation::Ignore);

    AVFormatContext* context() const { return context_.get(); }
    AVStream* stream() const { return stream_; }
    const std::string& display_name() const { return display_name_; }

    // The next packet of the video stream; false at the end of the input.
    // A container that stops before the duration it declares, or a raw
    // stream that ends inside a frame, is truncated: that is warned about
    // or refused as asked.
    bool read(AVPacket* packet);

private:
    void check_y4m_size(const std::string& path) const;
    void check_complete() const;

    void truncated(const std::string& what) const;

    std::string display_name_;
    Truncation truncation_;
    InputContextPtr context_;
    AVStream* stream_ = nullptr;
    int64_t end_seen_ = AV_NOPTS_VALUE;  // latest packet end, in stream time base
    int64_t last_byte_ = -1;             // file offset after the latest packet
};

// Decodes the video frames of an input in order and hands them out in a
// working format (planar YUV or grey, 8 to 12 bits, see yuv_layout_of),
// converting only what the conversion to PIXEL_YC cannot read directly.
class VideoDecoder {
public:
    // Opens the input and decodes its first frame of `span`, so that a file
    // that is not a video is reported here. Frames outside the span are
    // skipped: the clip is the span.
    // Frames are flagged interlaced where the input's field order says so,
    // where the frame itself does, or when `interlaced` (a field order the
    // user gave): their 4:2:0 chroma is then taken by field.
    VideoDecoder(const std::string& path, const std::string& display_name, const Span& span = {},
                 Truncation truncation = Truncation::Ignore, bool interlaced = false);

    const InputFile& input() const { return input_; }

    // The input time at the span's start, in AV_TIME_BASE units: output
    // time 0.
    int64_t origin() const { return origin_; }

    const VideoInfo& info() const { return info_; }

    // The next frame, or null after the last one.
    FramePtr next();

    // Frames handed out so far.
    int frames_read() const { return frames_read_; }

private:
    FramePtr decode();
    FramePtr decode_in_span();
    FramePtr to_working_format(FramePtr frame);

    InputFile input_;
    CodecContextPtr codec_;
    PacketPtr packet_ = make_packet();
    FormatConverter converter_;
    FramePtr first_;
    VideoInfo info_;
    bool interlaced_;
    bool flushing_ = false;
    int frames_read_ = 0;
    Span span_;
    bool span_ended_ = false;
    int64_t origin_ = 0;
};

// The exact number of frames of an input that can be read twice. Counts
// packets where every packet is a frame, decodes everything otherwise.
// on_progress, if set, is called with the count now and then.
int count_frames(const std::string& path, const std::string& display_name,
                 const std::function<void(int)>& on_progress, const Span& span = {});

// The clip's length as the container gives it, for a progress line; -1
// when it says nothing.
int estimated_frames(const VideoDecoder& decoder, const Span& span);
