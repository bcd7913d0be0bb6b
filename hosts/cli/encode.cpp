#include "hosts/cli/encode.h"

#include "hosts/cli/audio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace {

bool ends_with(const std::string& text, const std::string& suffix)
{
    if (text.size() < suffix.size())
        return false;
    return std::equal(suffix.rbegin(), suffix.rend(), text.rbegin(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

[[noreturn]] void fail_write(const std::string& display_name, int code)
{
    stop_if_requested();
    throw Failure(display_name + ": cannot write: " + av_error_text(code));
}

// The formats of `list` (ending in AV_PIX_FMT_NONE) closest to `wanted`.
AVPixelFormat closest_format(const AVPixelFormat* list, AVPixelFormat wanted)
{
    for (const AVPixelFormat* f = list; *f != AV_PIX_FMT_NONE; ++f) {
        if (*f == wanted)
            return wanted;
    }
    return avcodec_find_best_pix_fmt_of_list(list, wanted, 0, nullptr);
}

// What the YUV4MPEG2 muxer accepts among the formats the host works in.
const AVPixelFormat y4m_formats[] = {
    AV_PIX_FMT_GRAY8, AV_PIX_FMT_GRAY10LE, AV_PIX_FMT_GRAY12LE, AV_PIX_FMT_YUV411P,
    AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV444P, AV_PIX_FMT_YUV420P10LE,
    AV_PIX_FMT_YUV422P10LE, AV_PIX_FMT_YUV444P10LE, AV_PIX_FMT_YUV420P12LE,
    AV_PIX_FMT_YUV422P12LE, AV_PIX_FMT_YUV444P12LE, AV_PIX_FMT_NONE};

// Copies the colour description of a picture onto an encoder.
void describe_colour(AVCodecContext* codec, const AVFrame* picture)
{
    codec->color_range = picture->color_range;
    codec->colorspace = picture->colorspace;
    codec->color_primaries = picture->color_primaries;
    codec->color_trc = picture->color_trc;
    codec->chroma_sample_location = picture->chroma_location;
}

// Sends one picture (or null to drain) and hands every packet it yields to
// `take`.
template <typename Take>
void encode(AVCodecContext* codec, const AVFrame* picture, AVPacket* packet,
            const std::string& display_name, Take take)
{
    int result = avcodec_send_frame(codec, picture);
    if (result < 0)
        throw Failure(display_name + ": cannot encode: " + av_error_text(result));
    for (;;) {
        result = avcodec_receive_packet(codec, packet);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            return;
        if (result < 0)
            throw Failure(display_name + ": cannot encode: " + av_error_text(result));
        take(packet);
        av_packet_unref(packet);
    }
}

// Watches the timing of the input's frames for an output that holds a
// constant frame rate, and says once at the end if it was not constant.
class TimingWatch {
public:
    TimingWatch(const EncodeSettings& settings) : settings_(settings) {}

    void see(const AVFrame* picture)
    {
        if (settings_.input_video == nullptr || picture->pts == AV_NOPTS_VALUE)
            return;
        const AVRational time_base = settings_.input_video->time_base;
        const int64_t step = av_rescale_q(1, av_inv_q(settings_.frame_rate), time_base);
        if (last_ != AV_NOPTS_VALUE && std::abs(picture->pts - last_ - step) * 2 > step)
            variable_ = true;
        last_ = picture->pts;
    }

    void report(const std::string& display_name, const char* format) const
    {
        if (variable_)
            std::fprintf(stderr, "norel: %s: %s holds no frame timing of its own; the input's variable frame rate "
                                 "was evened out to %.3f fps\n",
                         display_name.c_str(), format, av_q2d(settings_.frame_rate));
    }

private:
    const EncodeSettings& settings_;
    int64_t last_ = AV_NOPTS_VALUE;
    bool variable_ = false;
};

// Removes the tags that describe the input's own encoding or length.
void copy_tags(AVDictionary** to, const AVDictionary* from)
{
    av_dict_copy(to, from, 0);
    for (const char* stale : {"encoder", "DURATION", "ENCODER"})
        av_dict_set(to, stale, nullptr, 0);
}

// A video stream in a container written by libavformat.
class ContainerWriter : public VideoWriter {
public:
    ContainerWriter(OutputKind kind, const std::string& path, const std::string& display_name,
                    const EncodeSettings& settings)
        : file_(path, display_name, settings.overwrite), kind_(kind), display_name_(display_name),
          settings_(settings), timing_(settings_)
    {
        // Containers with timestamps keep the input's.
        keeps_timing_ = kind != OutputKind::Y4m && settings.input_video != nullptr;
    }

    ~ContainerWriter() override
    {
        if (context_ && context_->pb != nullptr)
            avio_closep(&context_->pb);
    }

    void write(const AVFrame* picture) override
    {
        if (!codec_)
            start(picture);
        FramePtr converted;
        if (picture->format != codec_->pix_fmt) {
            converted = converter_.convert(picture, codec_->pix_fmt, picture->color_range);
            picture = converted.get();
        }
        FramePtr frame = make_frame();
        if (av_frame_ref(frame.get(), picture) < 0)
            throw std::bad_alloc();
        frame->pts = timestamp(picture);
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        if (settings_.field_order == AV_FIELD_TT || settings_.field_order == AV_FIELD_BB) {
            frame->interlaced_frame = 1;
            frame->top_field_first = settings_.field_order == AV_FIELD_TT;
        }
        encode(codec_.get(), frame.get(), packet_.get(), display_name_, [this](AVPacket* p) { mux(p); });
    }

    void finish() override
    {
        if (!codec_)
            throw Failure(display_name_ + ": no frames to write");
        encode(codec_.get(), nullptr, packet_.get(), display_name_, [this](AVPacket* p) { mux(p); });
        if (audio_)
            audio_->finish();
        int result = av_write_trailer(context_.get());
        if (result < 0)
            fail_write(display_name_, result);
        result = context_->pb->error;
        const int closed = avio_closep(&context_->pb);
        if (result < 0 || closed < 0)
            fail_write(display_name_, result < 0 ? result : closed);
        file_.commit();
        if (!keeps_timing_)
            timing_.report(display_name_, "YUV4MPEG2");
    }

private:
    // The picture's time from the input where the container can hold it,
    // else the next frame at the constant rate; never earlier than the last.
    int64_t timestamp(const AVFrame* picture)
    {
        timing_.see(picture);
        int64_t pts = last_pts_ == AV_NOPTS_VALUE ? 0 : last_pts_ + 1;
        if (keeps_timing_ && picture->pts != AV_NOPTS_VALUE) {
            const int64_t from_input =
                picture->pts - av_rescale_q(settings_.origin, AV_TIME_BASE_Q, settings_.input_video->time_base);
            pts = std::max(pts, from_input);
        }
        last_pts_ = pts;
        return pts;
    }

    const AVCodec* choose_codec()
    {
        if (!settings_.codec.empty()) {
            const AVCodec* chosen = avcodec_find_encoder_by_name(settings_.codec.c_str());
            if (kind_ == OutputKind::Y4m || chosen == nullptr ||
                avformat_query_codec(context_->oformat, chosen->id, FF_COMPLIANCE_NORMAL) != 1)
                throw Failure(display_name_ + ": this format cannot hold " + settings_.codec + " video");
            return chosen;
        }
        switch (kind_) {
        case OutputKind::Matroska:
            return avcodec_find_encoder(AV_CODEC_ID_FFV1);
        case OutputKind::Y4m:
            return avcodec_find_encoder(AV_CODEC_ID_WRAPPED_AVFRAME);
        case OutputKind::Mov:
            return avcodec_find_encoder_by_name("prores_ks");
        case OutputKind::Webm:
            return avcodec_find_encoder_by_name("libvpx-vp9");
        default:
            break;
        }
        if (const AVCodec* x264 = avcodec_find_encoder_by_name("libx264"))
            return x264;
        std::fprintf(stderr, "norel: %s: libx264 is not available; writing MPEG-4 Visual (ASP) video instead of H.264\n",
                     display_name_.c_str());
        return avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    }

    // The encoder's pixel format: the one asked for, or the closest to the
    // pictures' that it takes.
    AVPixelFormat choose_pixel_format(const AVCodec* codec, const AVFrame* picture)
    {
        const AVPixelFormat* list = kind_ == OutputKind::Y4m ? y4m_formats : codec->pix_fmts;
        const auto working = static_cast<AVPixelFormat>(picture->format);
        if (settings_.pixel_format != AV_PIX_FMT_NONE) {
            for (const AVPixelFormat* f = list; f != nullptr && *f != AV_PIX_FMT_NONE; ++f) {
                if (*f == settings_.pixel_format)
                    return *f;
            }
            if (list != nullptr)
                throw Failure(display_name_ + ": the " + codec->name + " encoder does not take " +
                              av_get_pix_fmt_name(settings_.pixel_format) + " pictures");
            return settings_.pixel_format;
        }
        if (list == nullptr)
            return working;
        AVPixelFormat format = closest_format(list, working);
        // 4:2:0 and 4:2:2 H.264 need even sizes: odd ones are coded 4:4:4.
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
        if (std::strcmp(codec->name, "libx264") == 0 && desc->nb_components == 3 &&
            ((picture->width % 2 != 0 && desc->log2_chroma_w > 0) ||
             (picture->height % 2 != 0 && desc->log2_chroma_h > 0))) {
            format = closest_format(list, planar_format(true, 0, 0, desc->comp[0].depth));
            std::fprintf(stderr, "norel: %s: %dx%d is odd-sized, which subsampled H.264 cannot code; writing %s "
                                 "(High 4:4:4 profile)\n",
                         display_name_.c_str(), picture->width, picture->height, av_get_pix_fmt_name(format));
        }
        return format;
    }

    void start(const AVFrame* picture)
    {
        const char* muxer = kind_ == OutputKind::Matroska ? "matroska"
                            : kind_ == OutputKind::Y4m    ? "yuv4mpegpipe"
                            : kind_ == OutputKind::Mov    ? "mov"
                            : kind_ == OutputKind::Webm   ? "webm"
                                                          : "mp4";
        AVFormatContext* context = nullptr;
        int result = avformat_alloc_output_context2(&context, nullptr, muxer, file_.url().c_str());
        if (result < 0)
            throw Failure(display_name_ + ": cannot set up the output: " + av_error_text(result));
        context_.reset(context);
        const AVCodec* codec = choose_codec();
        if (codec == nullptr)
            throw Failure(display_name_ + ": no encoder available for this format");
        // YUV4MPEG2 names its deeper formats as an extension of the standard.
        if (kind_ == OutputKind::Y4m)
            context_->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;

        codec_.reset(avcodec_alloc_context3(codec));
        if (!codec_)
            throw std::bad_alloc();
        codec_->pix_fmt = choose_pixel_format(codec, picture);
        if (kind_ == OutputKind::Y4m && picture->width % 2 != 0) {
            // libavformat's YUV4MPEG2 writer drops the last byte of every
            // row of such chroma planes.
            const YuvLayout layout = *yuv_layout_of(codec_->pix_fmt);
            if (layout.depth > 8 && layout.has_chroma && layout.chroma_shift_x > 0)
                throw Failure(display_name_ + ": odd-width pictures deeper than 8 bits with subsampled chroma "
                                              "cannot be written as YUV4MPEG2; write .mkv instead");
        }
        codec_->width = picture->width;
        codec_->height = picture->height;
        codec_->time_base = keeps_timing_ ? settings_.input_video->time_base : av_inv_q(settings_.frame_rate);
        codec_->framerate = settings_.frame_rate;
        codec_->sample_aspect_ratio = settings_.sample_aspect;
        codec_->field_order = settings_.field_order;
        codec_->thread_count = 0;
        describe_colour(codec_.get(), picture);
        AVDictionary* options = nullptr;
        set_quality(codec, &options);
        if ((context_->oformat->flags & AVFMT_GLOBALHEADER) != 0)
            codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        result = avcodec_open2(codec_.get(), codec, &options);
        av_dict_free(&options);
        if (result < 0)
            throw Failure(display_name_ + ": cannot start the " + codec->name + " encoder: " + av_error_text(result));

        stream_ = avformat_new_stream(context_.get(), nullptr);
        if (stream_ == nullptr)
            throw std::bad_alloc();
        stream_->time_base = codec_->time_base;
        stream_->avg_frame_rate = settings_.frame_rate;
        stream_->sample_aspect_ratio = settings_.sample_aspect;
        if (avcodec_parameters_from_context(stream_->codecpar, codec_.get()) < 0)
            throw std::bad_alloc();
        keep_description();
        if (settings_.audio && !settings_.input_path.empty() && kind_ != OutputKind::Y4m) {
            audio_ = std::make_unique<AudioCarrier>(settings_.input_path, context_.get(), display_name_,
                                                    settings_.origin, settings_.end);
            if (audio_->empty())
                audio_.reset();
        }

        context_->interrupt_callback = AVIOInterruptCB{stop_requested_callback, nullptr};
        result = avio_open2(&context_->pb, file_.url().c_str(), AVIO_FLAG_WRITE, &context_->interrupt_callback,
                            nullptr);
        if (result < 0)
            throw Failure(display_name_ + ": cannot create: " + av_error_text(result));
        AVDictionary* muxer_options = nullptr;
        if (kind_ == OutputKind::Mp4)
            av_dict_set(&muxer_options, "movflags", "+faststart", 0);
        result = avformat_write_header(context_.get(), &muxer_options);
        av_dict_free(&muxer_options);
        if (result < 0)
            fail_write(display_name_, result);
    }

    // Encoder settings by encoder: a quality that follows --crf, and
    // interlaced coding where the encoder has it.
    void set_quality(const AVCodec* codec, AVDictionary** options)
    {
        const bool interlaced = settings_.field_order == AV_FIELD_TT || settings_.field_order == AV_FIELD_BB;
        const std::string name = codec->name;
        if (name == "ffv1") {
            // Version 3 codes slices in parallel and checks each with a CRC.
            av_dict_set(options, "level", "3", 0);
            av_dict_set(options, "slicecrc", "1", 0);
            codec_->gop_size = 1;
        } else if (name == "libx264") {
            av_opt_set_int(codec_->priv_data, "crf", settings_.crf, 0);
            if (interlaced && codec_->height % 4 == 0) {
                codec_->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
                // The stream's picture timing carries the field order from
                // the first frame on.
                if (settings_.field_order == AV_FIELD_BB)
                    av_dict_set(options, "x264-params", "bff=1", 0);
            }
        } else if (name == "prores_ks") {
            if (yuv_layout_of(codec_->pix_fmt).value_or(YuvLayout{}).chroma_shift_x > 0)
                av_dict_set(options, "profile", "hq", 0);
            if (interlaced)
                codec_->flags |= AV_CODEC_FLAG_INTERLACED_DCT;
        } else if (name == "libvpx-vp9") {
            av_dict_set_int(options, "crf", settings_.crf, 0);
            av_dict_set(options, "b", "0", 0);
            av_dict_set(options, "row-mt", "1", 0);
            av_dict_set(options, "cpu-used", "4", 0);
            av_dict_set(options, "deadline", "good", 0);
        } else if (name == "mpeg4") {
            // A fixed quantiser from 2 to 31 that follows the quality setting.
            codec_->flags |= AV_CODEC_FLAG_QSCALE;
            codec_->global_quality = FF_QP2LAMBDA * (2 + settings_.crf * 29 / 51);
        }
    }

    // The input's tags, rotation and stream disposition, as far as the
    // container holds them.
    void keep_description()
    {
        if (settings_.input != nullptr)
            copy_tags(&context_->metadata, settings_.input->metadata);
        const AVStream* in = settings_.input_video;
        if (in == nullptr)
            return;
        copy_tags(&stream_->metadata, in->metadata);
        stream_->disposition = in->disposition;
        for (int i = 0; i < in->nb_side_data; ++i) {
            const AVPacketSideData& side = in->side_data[i];
            if (side.type != AV_PKT_DATA_DISPLAYMATRIX)
                continue;
            uint8_t* copy = av_stream_new_side_data(stream_, side.type, side.size);
            if (copy == nullptr)
                throw std::bad_alloc();
            std::memcpy(copy, side.data, side.size);
        }
    }

    void mux(AVPacket* packet)
    {
        // The audio is kept half a second ahead, for the muxer to interleave.
        if (audio_ && packet->dts != AV_NOPTS_VALUE)
            audio_->write_until(av_rescale_q(packet->dts, codec_->time_base, AV_TIME_BASE_Q) + AV_TIME_BASE / 2);
        av_packet_rescale_ts(packet, codec_->time_base, stream_->time_base);
        packet->stream_index = stream_->index;
        const int result = av_interleaved_write_frame(context_.get(), packet);
        if (result < 0)
            fail_write(display_name_, result);
    }

    PendingFile file_;
    OutputKind kind_;
    std::string display_name_;
    EncodeSettings settings_;
    OutputContextPtr context_;
    CodecContextPtr codec_;
    AVStream* stream_ = nullptr;
    PacketPtr packet_ = make_packet();
    FormatConverter converter_;
    TimingWatch timing_;
    bool keeps_timing_ = false;
    int64_t last_pts_ = AV_NOPTS_VALUE;
    std::unique_ptr<AudioCarrier> audio_;
};

// PNG images: one for a single .png, one per frame for a pattern.
class PngWriter : public VideoWriter {
public:
    PngWriter(const std::string& path, const std::string& display_name, bool sequence, const EncodeSettings& settings)
        : path_(path), display_name_(display_name), sequence_(sequence), settings_(settings), timing_(settings_)
    {
        // The first image is created now, so that a bad path fails early.
        files_.push_back(std::make_unique<PendingFile>(file_name(0), display_name, settings.overwrite));
    }

    void write(const AVFrame* picture) override
    {
        if (!codec_)
            start(picture);
        const int number = frames_written_;
        if (number > 0) {
            if (!sequence_)
                throw Failure(display_name_ + ": a single PNG holds one frame; name a sequence such as frame%04d.png");
            files_.push_back(std::make_unique<PendingFile>(file_name(number), display_name_, settings_.overwrite));
        }
        timing_.see(picture);
        FramePtr image = converter_.convert(picture, codec_->pix_fmt, AVCOL_RANGE_JPEG);
        image->pts = number;
        encode(codec_.get(), image.get(), packet_.get(), display_name_,
               [&](AVPacket* packet) { save(*files_.back(), packet); });
        ++frames_written_;
    }

    void finish() override
    {
        if (frames_written_ == 0)
            throw Failure(display_name_ + ": no frames to write");
        for (const auto& file : files_)
            file->commit();
        if (sequence_)
            timing_.report(display_name_, "a PNG sequence");
    }

private:
    std::string file_name(int number) const
    {
        return sequence_ ? sequence_file_name(path_, number) : path_;
    }

    void start(const AVFrame* picture)
    {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
        if (codec == nullptr)
            throw Failure(display_name_ + ": no PNG encoder available");
        const YuvLayout layout = yuv_layout_of(picture);
        codec_.reset(avcodec_alloc_context3(codec));
        if (!codec_)
            throw std::bad_alloc();
        if (layout.has_chroma)
            codec_->pix_fmt = layout.depth > 8 ? AV_PIX_FMT_RGB48BE : AV_PIX_FMT_RGB24;
        else
            codec_->pix_fmt = layout.depth > 8 ? AV_PIX_FMT_GRAY16BE : AV_PIX_FMT_GRAY8;
        codec_->width = picture->width;
        codec_->height = picture->height;
        codec_->time_base = AVRational{1, 25};
        codec_->sample_aspect_ratio = picture->sample_aspect_ratio;
        const int result = avcodec_open2(codec_.get(), codec, nullptr);
        if (result < 0)
            throw Failure(display_name_ + ": cannot start the PNG encoder: " + av_error_text(result));
    }

    void save(const PendingFile& file, const AVPacket* packet)
    {
        AVIOContext* io = nullptr;
        const AVIOInterruptCB interrupt{stop_requested_callback, nullptr};
        int result = avio_open2(&io, file.url().c_str(), AVIO_FLAG_WRITE, &interrupt, nullptr);
        if (result < 0)
            throw Failure(display_name_ + ": cannot create: " + av_error_text(result));
        avio_write(io, packet->data, packet->size);
        avio_flush(io);
        result = io->error;
        const int closed = avio_closep(&io);
        if (result < 0 || closed < 0)
            fail_write(display_name_, result < 0 ? result : closed);
    }

    std::string path_;
    std::string display_name_;
    bool sequence_;
    EncodeSettings settings_;
    TimingWatch timing_;
    std::vector<std::unique_ptr<PendingFile>> files_;
    CodecContextPtr codec_;
    PacketPtr packet_ = make_packet();
    FormatConverter converter_;
    int frames_written_ = 0;
};

}  // namespace

OutputKind output_kind(const std::string& path, const std::string& display_name)
{
    if (path == "-" || ends_with(path, ".y4m"))
        return OutputKind::Y4m;
    // A device or a pipe named without an extension takes the stream format.
    struct stat info;
    const bool named_by_extension = path.find('.', path.rfind('/') + 1) != std::string::npos;
    if (!named_by_extension && stat(path.c_str(), &info) == 0 && (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode)))
        return OutputKind::Y4m;
    if (ends_with(path, ".mkv"))
        return OutputKind::Matroska;
    if (ends_with(path, ".mp4"))
        return OutputKind::Mp4;
    if (ends_with(path, ".mov"))
        return OutputKind::Mov;
    if (ends_with(path, ".webm"))
        return OutputKind::Webm;
    if (ends_with(path, ".png"))
        return av_filename_number_test(path.c_str()) ? OutputKind::PngSequence : OutputKind::Png;
    throw Failure(display_name + ": unsupported output format; name it .mkv (FFV1), .mp4 (H.264), "
                                 ".mov (ProRes), .webm (VP9), .y4m, .png or a PNG sequence such as frame%04d.png");
}

std::string sequence_file_name(const std::string& pattern, int number)
{
    std::vector<char> name(pattern.size() + 32);
    if (av_get_frame_filename2(name.data(), static_cast<int>(name.size()), pattern.c_str(), number, 0) < 0)
        return pattern;
    return name.data();
}

PendingFile::PendingFile(const std::string& target, const std::string& display_name, bool overwrite)
    : target_(target), display_name_(display_name)
{
    if (target == "-") {
        if (isatty(STDOUT_FILENO))
            throw Failure("standard output is a terminal; redirect it or name an OUTPUT file");
        url_ = "pipe:1";
        return;
    }
    struct stat info;
    if (stat(target.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        if (S_ISDIR(info.st_mode))
            throw Failure(display_name + ": is a directory");
        url_ = "file:" + target;  // a device or a pipe: written in place
        return;
    }
    if (!overwrite && lstat(target.c_str(), &info) == 0)
        throw Failure(display_name + ": already exists; give -y to overwrite it");
    const size_t slash = target.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    // A hidden name of our own in the target's directory, so that the
    // rename stays on one file system; created with the usual permissions.
    for (int attempt = 0;; ++attempt) {
        temp_ = directory + "." + base + ".norel-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
        const int fd = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            break;
        }
        if (errno != EEXIST || attempt > 100) {
            const int error = errno;
            temp_.clear();
            throw Failure(display_name + ": cannot create: " + std::strerror(error));
        }
    }
    url_ = "file:" + temp_;
}

PendingFile::~PendingFile()
{
    if (!temp_.empty() && !committed_)
        unlink(temp_.c_str());
}

void PendingFile::commit()
{
    if (temp_.empty() || committed_)
        return;
    if (rename(temp_.c_str(), target_.c_str()) != 0)
        throw Failure(display_name_ + ": cannot put the finished file in place: " + std::strerror(errno));
    committed_ = true;
}

std::unique_ptr<VideoWriter> open_writer(const std::string& path, const std::string& display_name,
                                         const EncodeSettings& settings)
{
    const OutputKind kind = output_kind(path, display_name);
    if (kind == OutputKind::Png || kind == OutputKind::PngSequence)
        return std::make_unique<PngWriter>(path, display_name, kind == OutputKind::PngSequence, settings);
    if (path == "-" && kind != OutputKind::Y4m)
        throw Failure("standard output carries YUV4MPEG2 only");
    return std::make_unique<ContainerWriter>(kind, path, display_name, settings);
}
