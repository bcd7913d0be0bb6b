// Writing pictures to an output whose format follows its name: FFV1 in
// Matroska (.mkv), YUV4MPEG2 (.y4m, "-" for standard output, or a device or
// pipe named without an extension), H.264 in MP4 (.mp4), ProRes 4:2:2 HQ in
// QuickTime (.mov), VP9 in WebM (.webm), a PNG sequence (a pattern such as
// frame%04d.png, numbered from 0) or a single PNG (.png). The containers
// also take the input's audio, tags and frame timing.
// Nothing appears under the output's name until it is complete.
#pragma once

#include <memory>
#include <string>

#include "hosts/cli/av.h"

enum class OutputKind { Matroska, Y4m, Mp4, Mov, Webm, PngSequence, Png };

// The kind of output a path names; a Failure for any other.
OutputKind output_kind(const std::string& path, const std::string& display_name);

// A file that takes its name only when complete: it is written beside the
// target under a hidden temporary name and renamed by commit(); destroyed
// uncommitted, it is removed. Standard output ("-"), devices and pipes are
// written in place.
class PendingFile {
public:
    // An existing file is refused unless `overwrite`.
    PendingFile(const std::string& target, const std::string& display_name, bool overwrite);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // The URL to open for writing, for libavformat's avio.
    const std::string& url() const { return url_; }
    void commit();

private:
    std::string target_;
    std::string display_name_;
    std::string temp_;  // empty when written in place
    std::string url_;
    bool committed_ = false;
};

struct EncodeSettings {
    AVRational frame_rate{25, 1};
    AVRational sample_aspect{0, 1};
    AVFieldOrder field_order = AV_FIELD_UNKNOWN;
    int crf = 18;  // H.264 and VP9 quality: 0 is lossless, 51 the worst
    std::string codec;  // the video encoder; empty for the format's own
    AVPixelFormat pixel_format = AV_PIX_FMT_NONE;  // none: the closest to the pictures'
    bool overwrite = false;

    // The input the pictures come from, for what the output keeps of it:
    // null for pictures of no file.
    const AVFormatContext* input = nullptr;
    const AVStream* input_video = nullptr;
    std::string input_path;      // opened again to read its audio
    bool audio = true;           // carries the input's audio
    int64_t origin = 0;          // input time that becomes 0, in AV_TIME_BASE units
    int64_t end = INT64_MAX;     // input time where the work ends, likewise
};

// Takes pictures in a working format (see yuv_layout_of) of one size.
class VideoWriter {
public:
    virtual ~VideoWriter() = default;
    virtual void write(const AVFrame* picture) = 0;
    // Writes what is buffered and gives the output its name.
    virtual void finish() = 0;
};

// Creates the output at once, so that an unwritable path fails before any
// work is done. Notes, such as a substitute codec, go to stderr.
std::unique_ptr<VideoWriter> open_writer(const std::string& path, const std::string& display_name,
                                         const EncodeSettings& settings);

// The name of frame `number` of a PNG sequence pattern.
std::string sequence_file_name(const std::string& pattern, int number);
