#include "hosts/cli/audio.h"

#include <cstdio>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
}

namespace {

struct ResamplerFreer {
    void operator()(SwrContext* context) const { swr_free(&context); }
};
struct FifoFreer {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};

}  // namespace

struct AudioCarrier::Stream {
    AVStream* in = nullptr;
    AVStream* out = nullptr;
    int64_t offset = 0;  // the origin, in the input stream's time base
    // Set when the stream is re-encoded.
    CodecContextPtr decoder, encoder;
    std::unique_ptr<SwrContext, ResamplerFreer> resampler;
    std::unique_ptr<AVAudioFifo, FifoFreer> fifo;
    int64_t next_pts = AV_NOPTS_VALUE;  // in the encoder's time base
};

int audio_stream_count(const AVFormatContext* input)
{
    int count = 0;
    for (unsigned i = 0; input != nullptr && i < input->nb_streams; ++i)
        count += input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    return count;
}

AudioCarrier::AudioCarrier(const std::string& input_path, AVFormatContext* output, const std::string& output_name,
                           int64_t origin, int64_t end)
    : output_(output), output_name_(output_name), origin_(origin), end_(end)
{
    AVFormatContext* input = avformat_alloc_context();
    if (input == nullptr)
        throw std::bad_alloc();
    input->interrupt_callback = AVIOInterruptCB{stop_requested_callback, nullptr};
    const std::string url = input_path.find(':') != std::string::npos ? "file:" + input_path : input_path;
    if (avformat_open_input(&input, url.c_str(), nullptr, nullptr) < 0)
        return;  // the video reader has opened it: nothing to carry from a stream
    input_.reset(input);
    if (avformat_find_stream_info(input, nullptr) < 0)
        throw Failure(output_name + ": cannot read the input's audio layout");
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* in = input->streams[i];
        streams_.emplace_back();
        if (in->codecpar->codec_type != AVMEDIA_TYPE_AUDIO || in->codecpar->codec_id == AV_CODEC_ID_NONE) {
            in->discard = AVDISCARD_ALL;
            continue;
        }
        auto stream = std::make_unique<Stream>();
        stream->in = in;
        stream->offset = av_rescale_q(origin, AV_TIME_BASE_Q, in->time_base);
        stream->out = avformat_new_stream(output, nullptr);
        if (stream->out == nullptr)
            throw std::bad_alloc();
        av_dict_copy(&stream->out->metadata, in->metadata, 0);
        av_dict_set(&stream->out->metadata, "DURATION", nullptr, 0);
        av_dict_set(&stream->out->metadata, "encoder", nullptr, 0);
        stream->out->disposition = in->disposition;
        if (avformat_query_codec(output->oformat, in->codecpar->codec_id, FF_COMPLIANCE_NORMAL) == 1) {
            if (avcodec_parameters_copy(stream->out->codecpar, in->codecpar) < 0)
                throw std::bad_alloc();
            stream->out->codecpar->codec_tag = 0;
            stream->out->time_base = in->time_base;
        } else {
            const AVCodec* decoder = avcodec_find_decoder(in->codecpar->codec_id);
            const AVCodecID target = av_guess_codec(output->oformat, nullptr, nullptr, nullptr, AVMEDIA_TYPE_AUDIO);
            const AVCodec* encoder = avcodec_find_encoder(target);
            if (decoder == nullptr || encoder == nullptr)
                throw Failure(output_name + ": cannot carry the input's " + avcodec_get_name(in->codecpar->codec_id) +
                              " audio; give --no-audio to leave it out");
            stream->decoder.reset(avcodec_alloc_context3(decoder));
            stream->encoder.reset(avcodec_alloc_context3(encoder));
            if (!stream->decoder || !stream->encoder ||
                avcodec_parameters_to_context(stream->decoder.get(), in->codecpar) < 0)
                throw std::bad_alloc();
            stream->decoder->pkt_timebase = in->time_base;
            if (avcodec_open2(stream->decoder.get(), decoder, nullptr) < 0)
                throw Failure(output_name + ": cannot decode the input's " + decoder->name + " audio");
            AVCodecContext* e = stream->encoder.get();
            e->sample_rate = stream->decoder->sample_rate;
            if (encoder->supported_samplerates != nullptr) {
                e->sample_rate = encoder->supported_samplerates[0];
                for (const int* rate = encoder->supported_samplerates; *rate != 0; ++rate) {
                    if (*rate == stream->decoder->sample_rate)
                        e->sample_rate = *rate;
                }
            }
            e->sample_fmt = encoder->sample_fmts != nullptr ? encoder->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
            if (av_channel_layout_copy(&e->ch_layout, &stream->decoder->ch_layout) < 0)
                throw std::bad_alloc();
            if (e->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
                av_channel_layout_default(&e->ch_layout, e->ch_layout.nb_channels);
            e->time_base = AVRational{1, e->sample_rate};
            e->bit_rate = 64000 * std::min(e->ch_layout.nb_channels, 6);
            if ((output->oformat->flags & AVFMT_GLOBALHEADER) != 0)
                e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            if (avcodec_open2(e, encoder, nullptr) < 0)
                throw Failure(output_name + ": cannot start the " + encoder->name + " encoder for the audio");
            SwrContext* resampler = nullptr;
            if (swr_alloc_set_opts2(&resampler, &e->ch_layout, e->sample_fmt, e->sample_rate,
                                    &stream->decoder->ch_layout, stream->decoder->sample_fmt,
                                    stream->decoder->sample_rate, 0, nullptr) < 0 ||
                swr_init(resampler) < 0) {
                swr_free(&resampler);
                throw Failure(output_name + ": cannot convert the audio for the " + encoder->name + " encoder");
            }
            stream->resampler.reset(resampler);
            stream->fifo.reset(av_audio_fifo_alloc(e->sample_fmt, e->ch_layout.nb_channels, 1));
            if (!stream->fifo || avcodec_parameters_from_context(stream->out->codecpar, e) < 0)
                throw std::bad_alloc();
            stream->out->time_base = e->time_base;
            std::fprintf(stderr, "norel: %s: audio stream %d (%s) re-encoded as %s, which this format holds\n",
                         output_name.c_str(), in->index, avcodec_get_name(in->codecpar->codec_id),
                         avcodec_get_name(target));
        }
        streams_.back() = std::move(stream);
    }
    bool carried = false;
    for (const auto& stream : streams_)
        carried = carried || stream != nullptr;
    if (!carried) {
        streams_.clear();
        return;
    }
    const int64_t start = input->start_time != AV_NOPTS_VALUE ? input->start_time : 0;
    if (origin > start)
        avformat_seek_file(input, -1, INT64_MIN, origin, origin, 0);
}

AudioCarrier::~AudioCarrier() = default;

bool AudioCarrier::read_next()
{
    for (;;) {
        const int result = av_read_frame(input_.get(), packet_.get());
        if (result == AVERROR_EOF)
            return false;
        if (result < 0) {
            stop_if_requested();
            return false;  // a damaged tail: the video reader reports it
        }
        const unsigned index = static_cast<unsigned>(packet_->stream_index);
        if (index < streams_.size() && streams_[index] && packet_->pts != AV_NOPTS_VALUE)
            return true;
        av_packet_unref(packet_.get());
    }
}

void AudioCarrier::write_until(int64_t until)
{
    while (!ended_) {
        if (!pending_ && !(pending_ = read_next())) {
            ended_ = true;
            return;
        }
        Stream& stream = *streams_[static_cast<unsigned>(packet_->stream_index)];
        const int64_t time = av_rescale_q(packet_->pts - stream.offset, stream.in->time_base, AV_TIME_BASE_Q);
        if (time > until)
            return;
        pending_ = false;
        if (time < end_ - origin_)
            write_packet(stream, packet_.get());
        av_packet_unref(packet_.get());
    }
}

namespace {

// Encodes `frame` (null to drain) and writes what comes out.
void encode_audio(AVCodecContext* encoder, const AVFrame* frame, AVStream* out, AVFormatContext* output,
                  const std::string& output_name)
{
    if (avcodec_send_frame(encoder, frame) < 0)
        throw Failure(output_name + ": cannot encode the audio");
    PacketPtr packet = make_packet();
    while (avcodec_receive_packet(encoder, packet.get()) == 0) {
        av_packet_rescale_ts(packet.get(), encoder->time_base, out->time_base);
        packet->stream_index = out->index;
        if (av_interleaved_write_frame(output, packet.get()) < 0) {
            stop_if_requested();
            throw Failure(output_name + ": cannot write the audio");
        }
    }
}

// Takes whole encoder frames out of the FIFO, or everything when draining.
void encode_fifo(AudioCarrier::Stream& stream, bool draining, AVFormatContext* output, const std::string& output_name);

}  // namespace

void AudioCarrier::write_packet(Stream& stream, AVPacket* packet)
{
    const int64_t duration = std::max<int64_t>(packet->duration, 0);
    if (packet->pts + duration <= stream.offset)
        return;  // before the part worked on
    if (!stream.encoder) {
        packet->pts -= stream.offset;
        if (packet->dts != AV_NOPTS_VALUE)
            packet->dts -= stream.offset;
        av_packet_rescale_ts(packet, stream.in->time_base, stream.out->time_base);
        packet->stream_index = stream.out->index;
        packet->pos = -1;
        if (av_interleaved_write_frame(output_, packet) < 0) {
            stop_if_requested();
            throw Failure(output_name_ + ": cannot write the audio");
        }
        return;
    }
    if (avcodec_send_packet(stream.decoder.get(), packet) < 0)
        return;  // a damaged packet is skipped, as a player would
    FramePtr decoded = make_frame();
    while (avcodec_receive_frame(stream.decoder.get(), decoded.get()) == 0) {
        if (stream.next_pts == AV_NOPTS_VALUE) {
            const int64_t pts = decoded->best_effort_timestamp != AV_NOPTS_VALUE ? decoded->best_effort_timestamp
                                                                                 : packet->pts;
            stream.next_pts = std::max<int64_t>(
                0, av_rescale_q(pts - stream.offset, stream.in->time_base, stream.encoder->time_base));
        }
        const int room = swr_get_out_samples(stream.resampler.get(), decoded->nb_samples);
        if (room < 0 || av_audio_fifo_realloc(stream.fifo.get(), av_audio_fifo_size(stream.fifo.get()) + room) < 0)
            throw std::bad_alloc();
        FramePtr converted = make_frame();
        converted->nb_samples = room;
        converted->format = stream.encoder->sample_fmt;
        converted->sample_rate = stream.encoder->sample_rate;
        if (av_channel_layout_copy(&converted->ch_layout, &stream.encoder->ch_layout) < 0 ||
            av_frame_get_buffer(converted.get(), 0) < 0)
            throw std::bad_alloc();
        const int got = swr_convert(stream.resampler.get(), converted->extended_data, room,
                                    const_cast<const uint8_t**>(decoded->extended_data), decoded->nb_samples);
        if (got < 0)
            throw Failure(output_name_ + ": cannot convert the audio");
        av_audio_fifo_write(stream.fifo.get(), reinterpret_cast<void**>(converted->extended_data), got);
        av_frame_unref(decoded.get());
        encode_fifo(stream, false, output_, output_name_);
    }
}

namespace {

void encode_fifo(AudioCarrier::Stream& stream, bool draining, AVFormatContext* output, const std::string& output_name)
{
    AVCodecContext* encoder = stream.encoder.get();
    const int frame_size = encoder->frame_size > 0 ? encoder->frame_size : 1024;
    for (int left; (left = av_audio_fifo_size(stream.fifo.get())) >= frame_size || (draining && left > 0);) {
        FramePtr frame = make_frame();
        frame->nb_samples = std::min(left, frame_size);
        frame->format = encoder->sample_fmt;
        frame->sample_rate = encoder->sample_rate;
        if (av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout) < 0 ||
            av_frame_get_buffer(frame.get(), 0) < 0)
            throw std::bad_alloc();
        av_audio_fifo_read(stream.fifo.get(), reinterpret_cast<void**>(frame->extended_data), frame->nb_samples);
        frame->pts = stream.next_pts;
        stream.next_pts += frame->nb_samples;
        encode_audio(encoder, frame.get(), stream.out, output, output_name);
    }
}

}  // namespace

void AudioCarrier::finish()
{
    write_until(INT64_MAX);
    for (const auto& stream : streams_) {
        if (!stream || !stream->encoder)
            continue;
        if (stream->next_pts != AV_NOPTS_VALUE)
            encode_fifo(*stream, true, output_, output_name_);
        encode_audio(stream->encoder.get(), nullptr, stream->out, output_, output_name_);
    }
}
