#include "hosts/cli/decode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

bool is_pattern(const std::string& path)
{
    return av_filename_number_test(path.c_str()) != 0;
}

// The name libavformat opens: standard input for "-", and a plain file for
// a path that would otherwise be taken for a protocol ("a:b.mkv").
std::string url_of(const std::string& path)
{
    if (path == "-")
        return "pipe:0";
    if (path.find(':') != std::string::npos && !is_pattern(path))
        return "file:" + path;
    return path;
}

bool is_regular_file(const std::string& path)
{
    struct stat info;
    return path != "-" && stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Says plainly what is wrong with a path that cannot be a video file.
void check_readable(const std::string& path, const std::string& display_name)
{
    if (path == "-" || is_pattern(path))
        return;
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        throw Failure(display_name + ": " + std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        throw Failure(display_name + ": is a directory, not a video file");
    if (S_ISREG(info.st_mode) && info.st_size == 0)
        throw Failure(display_name + ": file is empty");
}

}  // namespace

InputFile::InputFile(const std::string& path, const std::string& display_name, Truncation truncation)
    : display_name_(display_name), truncation_(truncation)
{
    check_readable(path, display_name);
    AVFormatContext* context = avformat_alloc_context();
    if (context == nullptr)
        throw std::bad_alloc();
    context->interrupt_callback = AVIOInterruptCB{stop_requested_callback, nullptr};
    int result = avformat_open_input(&context, url_of(path).c_str(), nullptr, nullptr);
    if (result < 0) {
        stop_if_requested();
        // The file itself was found: what fails is reading it as video.
        if (result == AVERROR(EACCES) || result == AVERROR(ENOENT) || result == AVERROR(EIO))
            throw Failure(display_name + ": cannot open: " + av_error_text(result));
        throw Failure(display_name + ": not a video file that can be read (" + av_error_text(result) + ")");
    }
    context_.reset(context);
    result = avformat_find_stream_info(context, nullptr);
    if (result < 0)
        throw Failure(display_name + ": cannot read the stream layout: " + av_error_text(result));
    result = av_find_best_stream(context, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (result < 0)
        throw Failure(display_name + ": has no video stream");
    stream_ = context->streams[result];
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        if (context->streams[i] != stream_)
            context->streams[i]->discard = AVDISCARD_ALL;
    }
    if (std::strcmp(context->iformat->name, "yuv4mpegpipe") == 0 && is_regular_file(path))
        check_y4m_size(path);
}

void InputFile::check_y4m_size(const std::string& path) const
{
    // libavformat reads the header's numbers into int without a range
    // check: a width of 2^32 + 64 would pass for 64. Only a regular file
    // can be read a second time for this.
    std::ifstream file(path, std::ios::binary);
    std::string header;
    std::getline(file, header);
    std::istringstream fields(header);
    std::string field;
    while (fields >> field) {
        if (field[0] != 'W' && field[0] != 'H')
            continue;
        const long long declared = std::strtoll(field.c_str() + 1, nullptr, 10);
        const int read = field[0] == 'W' ? stream_->codecpar->width : stream_->codecpar->height;
        if (declared != read)
            throw Failure(display_name_ + ": the header declares an impossible picture size (" + field + ")");
    }
}

bool InputFile::read(AVPacket* packet)
{
    for (;;) {
        const int result = av_read_frame(context_.get(), packet);
        if (result == AVERROR_EOF) {
            stop_if_requested();
            if (context_->pb != nullptr && context_->pb->error < 0)
                throw Failure(display_name_ + ": read error: " + av_error_text(context_->pb->error));
            check_complete();
            return false;
        }
        if (result < 0) {
            stop_if_requested();
            throw Failure(display_name_ + ": read error: " + av_error_text(result));
        }
        if (packet->stream_index != stream_->index || (packet->flags & AV_PKT_FLAG_DISCARD) != 0) {
            av_packet_unref(packet);
            continue;
        }
        const int64_t start = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (start != AV_NOPTS_VALUE) {
            const int64_t end = start + std::max<int64_t>(packet->duration, 1);
            if (end_seen_ == AV_NOPTS_VALUE || end > end_seen_)
                end_seen_ = end;
        }
        if (packet->pos >= 0)
            last_byte_ = packet->pos + packet->size;
        return true;
    }
}

void InputFile::check_complete() const
{
    const AVRational time_base = stream_->time_base;
    // A raw YUV stream is a sequence of equal frames: bytes after the last
    // whole one are a frame cut short.
    if (std::strcmp(context_->iformat->name, "yuv4mpegpipe") == 0 && context_->pb != nullptr &&
        (context_->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0 && last_byte_ >= 0 &&
        avio_size(context_->pb) > last_byte_)
        return truncated("the last frame is incomplete");

    // Otherwise trust the duration the container declares for the video.
    int64_t declared_end = AV_NOPTS_VALUE;
    const int64_t start = stream_->start_time != AV_NOPTS_VALUE ? stream_->start_time : 0;
    if (stream_->duration != AV_NOPTS_VALUE && stream_->duration > 0) {
        declared_end = start + stream_->duration;
    } else if (context_->nb_streams == 1 && context_->duration != AV_NOPTS_VALUE) {
        const int64_t format_start = context_->start_time != AV_NOPTS_VALUE ? context_->start_time : 0;
        declared_end = av_rescale_q(format_start + context_->duration, AV_TIME_BASE_Q, time_base);
    }
    if (declared_end == AV_NOPTS_VALUE || end_seen_ == AV_NOPTS_VALUE)
        return;
    const AVRational rate = av_guess_frame_rate(context_.get(), stream_, nullptr);
    const int64_t two_frames = rate.num > 0 ? av_rescale_q(2, av_inv_q(rate), time_base) : 0;
    if (end_seen_ + two_frames < declared_end) {
        char text[160];
        std::snprintf(text, sizeof text, "the video stops at %.2f s of the %.2f s the file declares",
                      (end_seen_ - start) * av_q2d(time_base), (declared_end - start) * av_q2d(time_base));
        truncated(text);
    }
}

void InputFile::truncated(const std::string& what) const
{
    if (truncation_ == Truncation::Refuse)
        throw Failure(display_name_ + ": truncated: " + what);
    if (truncation_ == Truncation::Warn)
        std::fprintf(stderr, "norel: %s: truncated: %s; processed up to there (--strict refuses it)\n",
                     display_name_.c_str(), what.c_str());
}

VideoDecoder::VideoDecoder(const std::string& path, const std::string& display_name, const Span& span,
                           Truncation truncation, bool interlaced)
    : input_(path, display_name, truncation), interlaced_(interlaced), span_(span)
{
    const AVFormatContext* context = input_.context();
    origin_ = (context->start_time != AV_NOPTS_VALUE ? context->start_time : 0) + span.start;
    if (span.start > 0)
        avformat_seek_file(input_.context(), -1, INT64_MIN, origin_, origin_, 0);
    const AVCodecParameters* parameters = input_.stream()->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (codec == nullptr)
        throw Failure(display_name + ": no decoder for its video codec (" +
                      avcodec_get_name(parameters->codec_id) + ")");
    codec_.reset(avcodec_alloc_context3(codec));
    if (!codec_ || avcodec_parameters_to_context(codec_.get(), parameters) < 0)
        throw std::bad_alloc();
    codec_->pkt_timebase = input_.stream()->time_base;
    codec_->thread_count = 0;
    codec_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    const int result = avcodec_open2(codec_.get(), codec, nullptr);
    if (result < 0)
        throw Failure(display_name + ": cannot start the " + codec->name + " decoder: " + av_error_text(result));

    FramePtr first = decode_in_span();
    if (!first)
        throw Failure(display_name + (span.whole() ? ": contains no video frames"
                                                   : ": has no video frames in the part asked for"));
    if (first->interlaced_frame)
        info_.field_order = first->top_field_first ? AV_FIELD_TT : AV_FIELD_BB;
    else if (parameters->field_order == AV_FIELD_BB || parameters->field_order == AV_FIELD_TB)
        info_.field_order = AV_FIELD_BB;
    else if (parameters->field_order == AV_FIELD_TT || parameters->field_order == AV_FIELD_BT)
        info_.field_order = AV_FIELD_TT;
    else
        info_.field_order = parameters->field_order;
    interlaced_ = interlaced_ || info_.field_order == AV_FIELD_TT || info_.field_order == AV_FIELD_BB;
    info_.width = first->width;
    info_.height = first->height;
    info_.frame_rate = av_guess_frame_rate(input_.context(), input_.stream(), first.get());
    if (info_.frame_rate.num <= 0 || info_.frame_rate.den <= 0)
        info_.frame_rate = AVRational{25, 1};
    info_.sample_aspect = av_guess_sample_aspect_ratio(input_.context(), input_.stream(), first.get());
    first_ = to_working_format(std::move(first));
    info_.format = static_cast<AVPixelFormat>(first_->format);
}

FramePtr VideoDecoder::next()
{
    FramePtr frame = first_ ? std::move(first_) : decode_in_span();
    if (!frame)
        return nullptr;
    if (frame->width != info_.width || frame->height != info_.height)
        throw Failure(input_.display_name() + ": frame " + std::to_string(frames_read_) +
                      " changes the picture size; a clip must keep one size");
    if (frame->format != info_.format)
        frame = to_working_format(std::move(frame));
    frame->interlaced_frame = frame->interlaced_frame || interlaced_;
    ++frames_read_;
    return frame;
}

FramePtr VideoDecoder::decode()
{
    FramePtr frame = make_frame();
    for (;;) {
        int result = avcodec_receive_frame(codec_.get(), frame.get());
        if (result == 0)
            return frame;
        if (result == AVERROR_EOF)
            return nullptr;
        if (result == AVERROR(EAGAIN) && !flushing_) {
            if (input_.read(packet_.get())) {
                result = avcodec_send_packet(codec_.get(), packet_.get());
                av_packet_unref(packet_.get());
            } else {
                result = avcodec_send_packet(codec_.get(), nullptr);
                flushing_ = true;
            }
            if (result >= 0 || result == AVERROR(EAGAIN))
                continue;
        }
        throw Failure(input_.display_name() + ": frame " + std::to_string(frames_read_) +
                      ": cannot decode: " + av_error_text(result));
    }
}

// The next frame that starts inside the span, its timestamp in pts.
FramePtr VideoDecoder::decode_in_span()
{
    const AVRational time_base = input_.stream()->time_base;
    while (!span_ended_) {
        FramePtr frame = decode();
        if (!frame)
            return nullptr;
        frame->pts = frame->best_effort_timestamp;
        if (span_.whole() || frame->pts == AV_NOPTS_VALUE)
            return frame;
        const int64_t time = av_rescale_q(frame->pts, time_base, AV_TIME_BASE_Q) - origin_;
        if (time >= span_.end - span_.start) {
            span_ended_ = true;  // past the span: the clip has ended
            return nullptr;
        }
        // A frame that starts less than half a frame early is the first.
        const int64_t half_frame = frame->pkt_duration > 0 ? av_rescale_q(frame->pkt_duration, time_base, AV_TIME_BASE_Q) / 2 : 0;
        if (time + half_frame >= 0)
            return frame;
    }
    return nullptr;
}

FramePtr VideoDecoder::to_working_format(FramePtr frame)
{
    // The "J" formats are the plain ones in full range: relabel them.
    static const std::pair<AVPixelFormat, AVPixelFormat> full_range_formats[] = {
        {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV420P}, {AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV422P},
        {AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUV444P}, {AV_PIX_FMT_YUVJ440P, AV_PIX_FMT_YUV440P},
        {AV_PIX_FMT_YUVJ411P, AV_PIX_FMT_YUV411P}};
    for (const auto& [full, plain] : full_range_formats) {
        if (frame->format == full) {
            frame->format = plain;
            frame->color_range = AVCOL_RANGE_JPEG;
        }
    }
    const auto format = static_cast<AVPixelFormat>(frame->format);
    if (yuv_layout_of(format))
        return frame;

    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    if (desc == nullptr)
        throw Failure(input_.display_name() + ": unsupported pixel format");
    const int source_depth = desc->comp[0].depth;
    const int depth = source_depth <= 8 ? 8 : source_depth <= 10 ? 10 : 12;
    AVPixelFormat target;
    AVColorRange range = frame->color_range;
    if (is_rgb(format)) {
        // RGB pictures become studio-range YUV in the matrix that suits
        // their size, and the tag says which, so output turns them back.
        frame->colorspace = effective_colorspace(frame->colorspace, frame->height);
        range = AVCOL_RANGE_MPEG;
        target = planar_format(true, 0, 0, depth);
    } else {
        target = planar_format(desc->nb_components >= 3, desc->log2_chroma_w, desc->log2_chroma_h, depth);
        if (target == AV_PIX_FMT_NONE)
            target = planar_format(true, 0, 0, depth);
    }
    return converter_.convert(frame.get(), target, range);
}

namespace {

// A Y4M file whose frames all carry the bare frame header is its stream
// header and then frames of one size, so their number follows from the
// file's size. `first` is the first frame's packet. -1 for any other
// layout (frame parameters, a frame cut short), which is counted instead.
int y4m_frames_from_size(const std::string& path, const AVPacket* first)
{
    static constexpr char frame_header[] = "FRAME\n";
    constexpr int64_t header_size = sizeof frame_header - 1;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat info;
    int count = -1;
    const int64_t start = first->pos - header_size;  // the first frame header
    const int64_t span = header_size + first->size;
    if (fstat(fd, &info) == 0 && first->pos >= header_size && (info.st_size - start) % span == 0 &&
        (info.st_size - start) / span <= INT_MAX) {
        count = static_cast<int>((info.st_size - start) / span);
        char header[header_size];
        for (int n = 0; n < count; ++n) {
            if (pread(fd, header, header_size, start + n * span) != header_size ||
                std::memcmp(header, frame_header, header_size) != 0)
                count = -1;
        }
    }
    close(fd);
    return count;
}

}  // namespace

int count_frames(const std::string& path, const std::string& display_name,
                 const std::function<void(int)>& on_progress, const Span& span)
{
    int count = 0;
    auto counted = [&] {
        if (++count % 64 == 0 && on_progress)
            on_progress(count);
    };
    {
        InputFile input(path, display_name);
        const AVCodecDescriptor* codec = avcodec_descriptor_get(input.stream()->codecpar->codec_id);
        if (span.whole() && codec != nullptr && (codec->props & AV_CODEC_PROP_INTRA_ONLY) != 0) {
            PacketPtr packet = make_packet();
            if (std::strcmp(input.context()->iformat->name, "yuv4mpegpipe") == 0 && is_regular_file(path) &&
                input.read(packet.get())) {
                const int frames = y4m_frames_from_size(path, packet.get());
                if (frames >= 0)
                    return frames;
                av_packet_unref(packet.get());
                counted();
            }
            while (input.read(packet.get())) {
                av_packet_unref(packet.get());
                counted();
            }
            return count;
        }
    }
    VideoDecoder decoder(path, display_name, span);
    while (decoder.next())
        counted();
    return count;
}

int estimated_frames(const VideoDecoder& decoder, const Span& span)
{
    const AVFormatContext* context = decoder.input().context();
    const AVStream* stream = decoder.input().stream();
    int64_t duration = stream->duration != AV_NOPTS_VALUE
                           ? av_rescale_q(stream->duration, stream->time_base, AV_TIME_BASE_Q)
                           : context->duration;
    if (duration == AV_NOPTS_VALUE || duration <= 0)
        return -1;
    duration = std::min(duration, span.end) - span.start;
    const double frames = duration * av_q2d(decoder.info().frame_rate) / AV_TIME_BASE;
    return frames >= 1 && frames < INT_MAX ? static_cast<int>(frames + 0.5) : -1;
}
