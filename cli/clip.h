// The clip as the editor's frame services see it: a small window of frames
// around the one being processed, and a second reader for compose mode's
// source frames half a clip ahead. Memory stays a few frames whatever the
// clip's length.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "cli/decode.h"
#include "cli/pipeline.h"
#include "host/pixel_yc.h"

// Frames current - 1, current and current + 1 of a decoder, as decoded and
// as PIXEL_YC, the next one decoded ahead. A thread of its own decodes and
// converts the frames after those, a few at most, while the filter works.
class ClipWindow {
public:
    // frame_count is the clip's length counted beforehand, or -1 for a
    // stream that is read once; a clip that turns out to have another
    // length is reported. The decode thread fills buffers from `buffers`,
    // and the window hands back there those of the frames it drops.
    ClipWindow(VideoDecoder& decoder, int frame_count, const std::string& display_name, BufferPool& buffers);
    ~ClipWindow();
    ClipWindow(const ClipWindow&) = delete;
    ClipWindow& operator=(const ClipWindow&) = delete;

    // Makes the next frame current; false when the clip has ended.
    bool advance();
    int current() const { return current_; }

    // The clip's length: exact when counted or once the end has been seen,
    // else the frames known so far (the current one and the one ahead).
    int known_length() const;

    // The highest frame number that can be asked for now.
    int last_available() const { return known_length() - 1; }

    // Frame n as decoded, or null outside the window.
    const AVFrame* picture(int n);
    // Frame n as PIXEL_YC, rows `width` pixels apart, or null outside the window.
    const PIXEL_YC* yc(int n);
    // Takes frame n's PIXEL_YC buffer out of the window, for a frame that
    // nothing will ask for again; yc(n) answers null from then on.
    std::vector<PIXEL_YC> take_yc(int n);

private:
    struct Decoded {
        FramePtr picture;
        std::vector<PIXEL_YC> yc;
    };
    struct Slot {
        int number;
        Decoded frame;
    };
    Slot* slot(int n);
    void decode_ahead();
    // The decode thread's work: decodes and converts every frame in order.
    void decode_all(VideoDecoder& decoder);

    int frame_count_;
    std::string display_name_;
    std::deque<Slot> slots_;
    BufferPool& buffers_;
    BoundedQueue<Decoded> decoded_frames_{1};
    Worker decode_thread_;
    int current_ = -1;
    int decoded_ = 0;
    bool ended_ = false;
};

// Compose mode's source frames: a second decoder of the same input that
// runs ahead of the window and keeps only the frame last asked for.
class SourceFrames {
public:
    SourceFrames(const std::string& path, const std::string& display_name, const Span& span);

    // Frame n of the input as PIXEL_YC; null past the end. Frame numbers
    // are expected in increasing order; an earlier one restarts the decoder.
    const PIXEL_YC* frame(int n);

private:
    std::string path_;
    std::string display_name_;
    Span span_;
    std::unique_ptr<VideoDecoder> decoder_;
    int position_ = -1;  // the frame `yc_` holds
    std::vector<PIXEL_YC> yc_;
};

// True for standard input ("-") and pipes: inputs that can be read once.
bool is_stream(const std::string& path);

// A stream copied into a temporary file, for work that must read the input
// twice; the file is removed with the object.
class SpooledInput {
public:
    SpooledInput(const std::string& stream, const std::string& display_name);
    ~SpooledInput();
    SpooledInput(const SpooledInput&) = delete;
    SpooledInput& operator=(const SpooledInput&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};
