// The clip read again: compose mode's source frames half a clip ahead,
// and a stream spooled to a file so that it can be read twice.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "hosts/cli/decode.h"
#include "hosts/cli/pipeline.h"
#include "engine/pixel_yc.h"

// Compose mode's source frames: a second decoder of the same input that
// runs ahead of the filter and keeps only the frame last asked for.
class SourceFrames {
public:
    // `interlaced`: as VideoDecoder's.
    SourceFrames(const std::string& path, const std::string& display_name, const Span& span, bool interlaced);

    // Frame n of the input as PIXEL_YC; null past the end. Frame numbers
    // are expected in increasing order; an earlier one restarts the decoder.
    const PIXEL_YC* frame(int n);

private:
    std::string path_;
    std::string display_name_;
    Span span_;
    bool interlaced_;
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
