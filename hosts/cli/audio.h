// Carrying an input's audio into an output container beside the filtered
// video: each stream is copied when the container takes its codec, and
// re-encoded to the container's own audio codec otherwise. The input is
// read by a demuxer of its own, kept a little ahead of the video.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hosts/cli/av.h"

class AudioCarrier {
public:
    // Adds the output's audio streams; call before the header is written.
    // The input's time `origin` becomes 0, audio from `end` on is dropped
    // (AV_TIME_BASE units). Notes, such as a re-encoding, go to stderr.
    AudioCarrier(const std::string& input_path, AVFormatContext* output, const std::string& output_name,
                 int64_t origin, int64_t end);
    ~AudioCarrier();
    AudioCarrier(const AudioCarrier&) = delete;
    AudioCarrier& operator=(const AudioCarrier&) = delete;

    bool empty() const { return streams_.empty(); }

    // Writes the audio up to output time `until` (AV_TIME_BASE units).
    void write_until(int64_t until);
    // Writes the rest and drains the encoders.
    void finish();

    struct Stream;

private:
    bool read_next();
    void write_packet(Stream& stream, AVPacket* packet);

    AVFormatContext* output_;
    std::string output_name_;
    InputContextPtr input_;
    std::vector<std::unique_ptr<Stream>> streams_;  // by input stream, null for those not carried
    PacketPtr packet_ = make_packet();
    bool pending_ = false;  // packet_ holds a packet read but not written
    bool ended_ = false;
    int64_t origin_;
    int64_t end_;
};

// How many audio streams an input has.
int audio_stream_count(const AVFormatContext* input);
