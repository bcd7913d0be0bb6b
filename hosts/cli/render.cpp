#include "hosts/cli/render.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <new>
#include <optional>
#include <thread>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
}

#include "hosts/cli/audio.h"
#include "hosts/cli/clip.h"
#include "hosts/cli/encode.h"
#include "hosts/cli/frame_filter.h"
#include "hosts/cli/pipeline.h"
#include "engine/clip_frames.h"
#include "engine/settings_table.h"

namespace {

struct FileId {
    dev_t device;
    ino_t inode;
    bool operator==(const FileId& other) const { return device == other.device && inode == other.inode; }
};

// The file a name stands for; "-" is the file behind standard input for an
// input and behind standard output for an output.
std::optional<FileId> file_id(const std::string& path, int standard_stream = STDIN_FILENO)
{
    struct stat info;
    if (path == "-" ? fstat(standard_stream, &info) != 0 : stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return FileId{info.st_dev, info.st_ino};
}

// The files an input reads: the file itself (for "-", the file standard
// input comes from), or for a pattern the run of files the image sequence
// reader takes (from the first of numbers 0 to 4).
std::vector<FileId> input_files(const std::string& input)
{
    std::vector<FileId> files;
    if (av_filename_number_test(input.c_str()) == 0) {
        if (std::optional<FileId> id = file_id(input))
            files.push_back(*id);
        return files;
    }
    int number = 0;
    while (number < 5 && !file_id(sequence_file_name(input, number)))
        ++number;
    for (; number < INT_MAX; ++number) {
        std::optional<FileId> id = file_id(sequence_file_name(input, number));
        if (!id)
            break;
        files.push_back(*id);
    }
    return files;
}

void refuse_input(const std::string& path, const std::string& display_name, const std::vector<FileId>& inputs)
{
    const std::optional<FileId> id = file_id(path, STDOUT_FILENO);
    if (id && std::find(inputs.begin(), inputs.end(), *id) != inputs.end())
        throw Failure(display_name + ": is the input; choose another output");
}

// Buffers for the pictures of one format and size, taken by the workers
// and back in the pool once the encoder has let go of them, so that their
// pages are touched once and not for every frame.
class PicturePool {
public:
    PicturePool(AVPixelFormat format, int width, int height) : format_(format), width_(width), height_(height)
    {
        // Rows 64-byte aligned, and spare bytes after the last, as
        // av_frame_get_buffer lays them out for encoders that read ahead.
        if (av_image_fill_linesizes(linesize_, format, FFALIGN(width, 64)) < 0)
            throw std::bad_alloc();
        ptrdiff_t linesizes[4];
        for (int p = 0; p < 4; ++p) {
            linesize_[p] = FFALIGN(linesize_[p], 64);
            linesizes[p] = linesize_[p];
        }
        if (av_image_fill_plane_sizes(plane_size_, format, height, linesizes) < 0)
            throw std::bad_alloc();
        size_t total = 64;
        for (size_t size : plane_size_)
            total += size;
        pool_ = av_buffer_pool_init(total, nullptr);
        if (pool_ == nullptr)
            throw std::bad_alloc();
    }
    ~PicturePool() { av_buffer_pool_uninit(&pool_); }
    PicturePool(const PicturePool&) = delete;
    PicturePool& operator=(const PicturePool&) = delete;

    bool fits(const AVFrame* picture) const
    {
        return picture->format == format_ && picture->width == width_ && picture->height == height_;
    }

    FramePtr take()
    {
        FramePtr picture = make_frame();
        picture->format = format_;
        picture->width = width_;
        picture->height = height_;
        picture->buf[0] = av_buffer_pool_get(pool_);
        if (picture->buf[0] == nullptr)
            throw std::bad_alloc();
        uint8_t* data = picture->buf[0]->data;
        for (int p = 0; p < 4 && plane_size_[p] > 0; ++p) {
            picture->data[p] = data;
            picture->linesize[p] = linesize_[p];
            data += plane_size_[p];
        }
        return picture;
    }

private:
    AVPixelFormat format_;
    int width_, height_;
    int linesize_[4] = {};
    size_t plane_size_[4] = {};
    AVBufferPool* pool_ = nullptr;
};

// A picture for the filter's output for a frame, in the source's format and
// colour tags, of `pool` where there is one.
FramePtr output_picture(const AVFrame* source, PicturePool* pool = nullptr)
{
    FramePtr result = pool != nullptr && pool->fits(source) ? pool->take()
                                      : make_picture(static_cast<AVPixelFormat>(source->format), source->width,
                                                     source->height);
    av_frame_copy_props(result.get(), source);
    return result;
}

// The filter's output for a frame from its YC pixels.
FramePtr result_picture(const PIXEL_YC* yc, const AVFrame* source, PicturePool* pool = nullptr)
{
    FramePtr result = output_picture(source, pool);
    YuvPicture picture = yuv_picture_of(result.get());
    picture.layout = yuv_layout_of(source);
    yc_to_yuv_picture(yc, source->width, &picture);
    return result;
}

// Copies `width` samples of a row and repeats the last over the rest of
// `span` samples.
void copy_padded(uint8_t* dst, const uint8_t* src, int width, int span, int bytes)
{
    std::memcpy(dst, src, static_cast<size_t>(width) * bytes);
    for (int x = width; x < span; ++x)
        std::memcpy(dst + static_cast<size_t>(x) * bytes, src + static_cast<size_t>(width - 1) * bytes, bytes);
}

// Source on the left, result on the right. Each half is widened to a whole
// number of chroma blocks, so that both keep their own chroma samples.
FramePtr side_by_side(const AVFrame* left, const AVFrame* right)
{
    const YuvLayout layout = yuv_layout_of(left);
    const int block = 1 << layout.chroma_shift_x;
    const int half = (left->width + block - 1) / block * block;
    FramePtr both = make_picture(static_cast<AVPixelFormat>(left->format), 2 * half, left->height);
    av_frame_copy_props(both.get(), right);
    const int bytes = layout.depth > 8 ? 2 : 1;
    for (int p = 0; p < (layout.has_chroma ? 3 : 1); ++p) {
        const int shift_x = p > 0 ? layout.chroma_shift_x : 0;
        const int shift_y = p > 0 ? layout.chroma_shift_y : 0;
        const int width = AV_CEIL_RSHIFT(left->width, shift_x);
        const int span = half >> shift_x;
        for (int r = 0; r < AV_CEIL_RSHIFT(left->height, shift_y); ++r) {
            uint8_t* row = both->data[p] + static_cast<ptrdiff_t>(r) * both->linesize[p];
            copy_padded(row, left->data[p] + static_cast<ptrdiff_t>(r) * left->linesize[p], width, span, bytes);
            copy_padded(row + static_cast<size_t>(span) * bytes,
                        right->data[p] + static_cast<ptrdiff_t>(r) * right->linesize[p], width, span, bytes);
        }
    }
    return both;
}

std::string clock_text(double seconds)
{
    const long total = static_cast<long>(seconds + 0.5);
    char text[32];
    if (total >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

// Refuses output names that cannot be written or that name the input,
// before any work is done.
void check_outputs(const Options& options, const std::string& output_name, const std::vector<FileId>& inputs)
{
    if (!options.output.empty()) {
        refuse_input(options.output, output_name, inputs);
        // The files of a sequence that are there already, and a few gaps.
        if (output_kind(options.output, output_name) == OutputKind::PngSequence) {
            for (int n = 0, gaps = 0; n < INT_MAX && gaps < 5; ++n) {
                const std::string name = sequence_file_name(options.output, n);
                gaps = file_id(name) ? 0 : gaps + 1;
                refuse_input(name, output_name, inputs);
            }
        }
    }
    if (options.still_frame >= 0) {
        const std::string& still = options.still_path;
        const bool png_named = still.size() > 4 && strcasecmp(still.c_str() + still.size() - 4, ".png") == 0 &&
                               av_filename_number_test(still.c_str()) == 0;
        if (!png_named)
            throw Failure(options.still_path + ": --still writes a single PNG; name it .png");
        refuse_input(options.still_path, options.still_path, inputs);
    }
}

// Unless given, the rectangle is the whole picture; one that misses the
// picture is worth a warning, since the filter then changes nothing there.
void cover_the_picture(const Options& options, const VideoInfo& info, EffectSettings& settings)
{
    if (!options.given[SETTING_LEFT])
        settings.left = 0;
    if (!options.given[SETTING_TOP])
        settings.top = 0;
    if (!options.given[SETTING_WIDTH])
        settings.width = std::max(0, info.width - settings.left);
    if (!options.given[SETTING_HEIGHT])
        settings.height = std::max(0, info.height - settings.top);
    if (settings.left >= info.width || settings.top >= info.height || settings.width == 0 || settings.height == 0)
        std::fprintf(stderr, "norel: the rectangle (%d,%d %dx%d) misses the %dx%d picture: the effects change nothing\n",
                     settings.left, settings.top, settings.width, settings.height, info.width, info.height);
}

// Says when the input's audio has no place in the output.
void note_audio_left_out(const Options& options, const std::string& output_name, const EncodeSettings& settings)
{
    const int streams = audio_stream_count(settings.input);
    if (streams == 0 || options.no_audio)
        return;
    const OutputKind kind = output_kind(options.output, output_name);
    const char* why = kind == OutputKind::Y4m                                 ? "YUV4MPEG2 holds no audio"
                      : kind == OutputKind::Png || kind == OutputKind::PngSequence ? "PNG images hold no audio"
                      : settings.input_path.empty() ? "the audio of a stream is not carried"
                                                    : nullptr;
    if (why != nullptr)
        std::fprintf(stderr, "norel: %s: %s; the input's audio was not written\n", output_name.c_str(), why);
}

// Says when the input's rotation has no place in the output. FFmpeg 5.1's
// Matroska writer cannot carry a display matrix.
void note_rotation_left_out(const std::string& output_name, const std::string& output, const AVStream* video)
{
    int32_t identity[9];
    av_display_rotation_set(identity, 0);
    bool rotated = false;
    for (int i = 0; i < video->nb_side_data; ++i) {
        const AVPacketSideData& side = video->side_data[i];
        rotated = rotated || (side.type == AV_PKT_DATA_DISPLAYMATRIX && side.size >= sizeof identity &&
                              std::memcmp(side.data, identity, sizeof identity) != 0);
    }
    if (!rotated)
        return;
    const OutputKind kind = output_kind(output, output_name);
    const char* why = kind == OutputKind::Matroska || kind == OutputKind::Webm ? "this Matroska writer holds no rotation"
                      : kind == OutputKind::Y4m                                 ? "YUV4MPEG2 holds no rotation"
                      : kind == OutputKind::Png || kind == OutputKind::PngSequence ? "PNG images hold no rotation"
                                                                                  : nullptr;
    if (why != nullptr)
        std::fprintf(stderr, "norel: %s: %s; the input's rotation was not written\n", output_name.c_str(), why);
}

std::string past_the_end(const std::string& input_name, int frames, int still_frame)
{
    return input_name + ": has " + std::to_string(frames) + " frames; --still " + std::to_string(still_frame) +
           " is past its end";
}

// What the run is made of.
struct Run {
    const Options& options;
    const std::string& input_name;
    VideoDecoder& decoder;
    VideoWriter* clip_writer;
    VideoWriter* still_writer;
    ProgressLine& progress;
    int progress_total;
    // Compose mode: the unfiltered source and the clip's length, counted
    // beforehand; null and -1 otherwise.
    SourceFrames* source;
    int frame_count;
};

// Compose mode's source frame n, clamped to the clip, as the editor's
// source cache answers.
struct ComposeSource {
    SourceFrames* frames;
    int frame_count;
};

const PIXEL_YC* compose_source_frame(void* host, int32_t n)
{
    const auto* source = static_cast<const ComposeSource*>(host);
    return source->frames->frame(std::clamp(n, 0, source->frame_count - 1));
}

// A frame, or where fields are paired the two frames of a pair, or with the
// frame comb combed_job_frames in a row, with what becomes of each: written
// to the output or the still, or only decoded. The pictures before it that
// its frame comb reads come along.
struct Job {
    long number = 0;  // its place in the output
    int first = 0;
    int count = 0;
    FramePtr pictures[combed_job_frames];
    bool written[combed_job_frames] = {};
    std::vector<FramePtr> earlier;  // frames first - earlier.size() .. first - 1
};

struct Written {
    FramePtr picture;
    bool to_clip;
    bool to_still;
};

// Another reference to a decoded picture.
FramePtr clone_frame(const AVFrame* frame)
{
    FramePtr copy(av_frame_clone(frame));
    if (!copy)
        throw std::bad_alloc();
    return copy;
}

// The job's earlier frames, for the engine's frame comb where its history
// lacks them: as decoded, or where fields are paired woven into `yc`.
struct EarlierOfJob {
    const Job* job;
    FrameFilter* filter;
    std::vector<PIXEL_YC>* yc;  // two frames: the frame and its pair

    const AVFrame* picture(int32_t number) const
    {
        const long back = static_cast<long>(job->first) - number;
        const long kept = static_cast<long>(job->earlier.size());
        if (back <= 0 && -back < job->count)
            return job->pictures[-back].get();  // the job's own, where not filtered
        return back >= 1 && back <= kept ? job->earlier[kept - back].get() : nullptr;
    }
};

int earlier_picture(void* host, int32_t number, YuvPicture* picture)
{
    const AVFrame* frame = static_cast<const EarlierOfJob*>(host)->picture(number);
    if (frame != nullptr)
        *picture = yuv_picture_of(frame);
    return frame != nullptr;
}

void release_earlier(void*, int32_t) {}

const PIXEL_YC* earlier_woven(void* host, int32_t number)
{
    const auto* earlier = static_cast<const EarlierOfJob*>(host);
    const AVFrame* frame = earlier->picture(number);
    const AVFrame* pair = earlier->picture(number ^ 1);
    if (frame == nullptr || pair == nullptr)
        return nullptr;
    picture_to_yc(frame, earlier->yc[0]);
    picture_to_yc(pair, earlier->yc[1]);
    earlier->filter->weave(number, earlier->yc[0].data(), earlier->yc[1].data());
    return earlier->yc[0].data();
}

// The frames of a job filtered on a worker thread. Frames go through the
// chain row by row from the decoder's pictures into the output's, except
// where fields are paired: the moved field is woven in from the partner
// frame, in PIXEL_YC.
void filter_job(Job& job, FrameFilter& filter, std::vector<PIXEL_YC> (&yc)[4], const Run& run,
                PicturePool& pictures, std::vector<Written>& written)
{
    if (composes(filter.settings())) {
        // No effect runs: the first half gets the source's second half.
        ComposeSource source = {run.source, run.frame_count};
        const ClipFrames clip = {&source, compose_source_frame};
        const AVFrame* picture = job.pictures[0].get();
        picture_to_yc(picture, yc[0]);
        const EffectFrame frame = {yc[0].data(), nullptr, picture->width, picture->height, picture->width,
                                   job.first};
        paste_second_half(&filter.settings(), &frame, run.frame_count, &clip);
        FramePtr result = result_picture(yc[0].data(), picture, &pictures);
        if (run.options.compare)
            result = side_by_side(picture, result.get());
        written.push_back({std::move(result), run.clip_writer != nullptr, job.first == run.options.still_frame});
        return;
    }
    EarlierOfJob earlier = {&job, &filter, yc + 2};
    const bool pairs = pairs_fields(filter.settings());
    if (pairs) {
        for (int i = 0; i < job.count; ++i)
            picture_to_yc(job.pictures[i].get(), yc[i]);
        // The last frame of an odd clip is paired with itself.
        filter.weave(job.first, yc[0].data(), yc[job.count - 1].data());
        if (job.count == 2)
            filter.weave(job.first + 1, yc[1].data(), yc[0].data());
    }
    const ClipFrames woven = {&earlier, earlier_woven};
    const EarlierPictures decoded = {&earlier, earlier_picture, release_earlier};
    for (int i = 0; i < job.count; ++i) {
        if (!job.written[i])
            continue;
        const AVFrame* source = job.pictures[i].get();
        FramePtr picture;
        if (pairs) {
            filter.filter(job.first + i, yc[i].data(), &woven);
            picture = result_picture(yc[i].data(), source, &pictures);
        } else {
            picture = output_picture(source, &pictures);
            filter.filter_picture(job.first + i, source, picture.get(), &decoded);
        }
        if (run.options.compare)
            picture = side_by_side(source, picture.get());
        written.push_back(
            {std::move(picture), run.clip_writer != nullptr, job.first + i == run.options.still_frame});
    }
}

// The filter on the engine, on `threads` threads at once:
// frames are decoded in order on one thread, converted, filtered and
// converted back on the workers, a job each, and written in order on one
// more. Returns the frames seen.
int filter_on_every_core(const Run& run, const EffectSettings& settings, int threads)
{
    const Options& options = run.options;
    const VideoInfo& info = run.decoder.info();
    PicturePool pictures(info.format, info.width, info.height);
    BoundedQueue<FramePtr> decoded(2);
    BoundedQueue<Job> jobs(static_cast<size_t>(threads));
    // Jobs handed out and not yet written: a few beyond one a thread.
    InOrder<std::vector<Written>> results(static_cast<size_t>(threads) + 2);
    Crew crew([&] {
        decoded.cancel();
        jobs.cancel();
        results.cancel();
    });

    crew.start(
        [&] {
            while (FramePtr picture = run.decoder.next()) {
                if (!decoded.push(std::move(picture)))
                    return;
            }
        },
        [&] { decoded.close(); });
    std::atomic<int> working(threads);
    for (int t = 0; t < threads; ++t) {
        crew.start(
            [&] {
                FrameFilter filter(settings, info.width, info.height);
                std::vector<PIXEL_YC> yc[4];
                while (std::optional<Job> job = jobs.pop()) {
                    std::vector<Written> written;
                    filter_job(*job, filter, yc, run, pictures, written);
                    results.put(job->number, std::move(written));
                }
            },
            [&] {
                if (--working == 0)
                    results.close();
            });
    }
    crew.start([&] {
        while (std::optional<std::vector<Written>> written = results.pop()) {
            for (const Written& w : *written) {
                if (w.to_clip)
                    run.clip_writer->write(w.picture.get());
                if (w.to_still)
                    run.still_writer->write(w.picture.get());
            }
        }
    });

    const bool pairs = pairs_fields(settings);
    const int still = options.still_frame;
    const int last_frame = run.clip_writer ? INT_MAX : still;
    // The last pictures decoded, for a later job's frame comb.
    const size_t reach = static_cast<size_t>(frame_comb_reach(settings));
    std::deque<FramePtr> recent;
    int next = 0;
    bool still_seen = false;
    while (next <= last_frame) {
        stop_if_requested();
        Job job;
        job.first = next;
        const int frames = pairs ? 2 : reach > 0 ? static_cast<int>(std::min<long long>(combed_job_frames, 1LL + last_frame - next)) : 1;
        for (int i = 0; i < frames; ++i) {
            std::optional<FramePtr> picture = decoded.pop();
            if (!picture)
                break;
            job.pictures[job.count++] = std::move(*picture);
        }
        if (job.count == 0)
            break;
        // Compose mode's half was counted on a first reading.
        if (run.frame_count >= 0 && next >= run.frame_count)
            throw Failure(run.input_name + ": gave more frames on the second reading than on the first");
        bool filtered = false;
        for (int i = 0; i < job.count; ++i) {
            const int n = next + i;
            job.written[i] = run.clip_writer != nullptr || n == still;
            filtered = filtered || job.written[i];
            still_seen = still_seen || n == still;
        }
        const int count = job.count;
        next += count;
        if (filtered) {
            for (const FramePtr& picture : recent)
                job.earlier.push_back(clone_frame(picture.get()));
        }
        for (int i = 0; i < count && reach > 0; ++i) {
            recent.push_back(clone_frame(job.pictures[i].get()));
            if (recent.size() > reach)
                recent.pop_front();
        }
        if (filtered) {
            job.number = results.reserve();
            if (job.number < 0 || !jobs.push(std::move(job)))
                break;  // a thread failed: finish() says why
        }
        for (int i = count - 1; i >= 0; --i)
            run.progress.frames(next - i, run.progress_total);
    }
    // A still alone leaves the rest of the clip undecoded.
    decoded.cancel();
    jobs.close();
    crew.finish();
    if (run.frame_count >= 0 && run.clip_writer && next != run.frame_count)
        throw Failure(run.input_name + ": only " + std::to_string(next) + " of its " +
                      std::to_string(run.frame_count) + " frames could be read");
    if (run.still_writer && !still_seen)
        throw Failure(past_the_end(run.input_name, next, still));
    return next;
}

}  // namespace

void render(const Options& options)
{
    const std::string input_name = options.input == "-" ? "standard input" : options.input;
    const std::string output_name = options.output == "-" ? "standard output" : options.output;
    const std::vector<FileId> inputs = input_files(options.input);
    check_outputs(options, output_name, inputs);

    // Compose mode reads the input twice; a stream can be read once.
    const bool shows_range = options.settings.show_range && options.preview;
    const bool composes = options.settings.compose && !shows_range;
    std::unique_ptr<SpooledInput> spool;
    if (composes && is_stream(options.input))
        spool = std::make_unique<SpooledInput>(options.input, input_name);
    const std::string path = spool ? spool->path() : options.input;

    VideoDecoder decoder(path, input_name, options.span, options.strict ? Truncation::Refuse : Truncation::Warn,
                         options.given[SETTING_TFF]);
    const VideoInfo& info = decoder.info();
    EffectSettings chosen = options.settings;
    if (!options.given[SETTING_TFF] && info.field_order == AV_FIELD_BB)
        chosen.top_field_first = 0;

    EncodeSettings settings;
    settings.frame_rate = info.frame_rate;
    settings.sample_aspect = info.sample_aspect;
    settings.field_order = chosen.top_field_first ? AV_FIELD_TT : AV_FIELD_BB;
    settings.crf = options.crf;
    settings.codec = options.codec;
    settings.pixel_format = options.pixel_format;
    settings.overwrite = options.overwrite;
    settings.input = decoder.input().context();
    settings.input_video = decoder.input().stream();
    settings.origin = decoder.origin();
    settings.end = options.span.end == INT64_MAX ? INT64_MAX : decoder.origin() - options.span.start + options.span.end;
    settings.audio = !options.no_audio;
    if (!is_stream(path))
        settings.input_path = path;
    std::unique_ptr<VideoWriter> clip_writer, still_writer;
    if (!options.output.empty()) {
        clip_writer = open_writer(options.output, output_name, settings);
        note_audio_left_out(options, output_name, settings);
        note_rotation_left_out(output_name, options.output, settings.input_video);
    }
    if (options.still_frame >= 0) {
        EncodeSettings still = settings;
        still.input_path.clear();
        still_writer = open_writer(options.still_path, options.still_path, still);
    }

    cover_the_picture(options, info, chosen);

    ProgressLine progress(!options.quiet && isatty(STDERR_FILENO));
    // Only compose mode needs the clip's length before its first frame:
    // otherwise the length is known when the end is seen, which is all the
    // filter asks for.
    int frame_count = -1;
    if (composes && !is_stream(path)) {
        frame_count = count_frames(path, input_name, [&](int n) { progress.counting(input_name, n); },
                                   options.span);
        if (still_writer && options.still_frame >= frame_count)
            throw Failure(past_the_end(input_name, frame_count, options.still_frame));
    }
    const int progress_total = frame_count >= 0 ? frame_count
                               : clip_writer    ? estimated_frames(decoder, options.span)
                                                : options.still_frame + 1;

    std::unique_ptr<SourceFrames> source;
    if (composes)
        source = std::make_unique<SourceFrames>(path, input_name, options.span, options.given[SETTING_TFF]);
    const Run run{options,  input_name,   decoder,      clip_writer.get(), still_writer.get(),
                  progress, progress_total, source.get(), frame_count};
    // Compose mode asks for its source frames in order: one thread.
    const int threads = composes          ? 1
                        : options.threads > 0 ? options.threads
                                              : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    EffectSettings filter = filter_settings(chosen, options.preview);
    // The deck's noise follows the frames' place in the source, not in the part.
    filter.vhs.first_frame = first_frame_of_part(options.span.start, info.frame_rate);
    const int frames = filter_on_every_core(run, filter, threads);
    if (clip_writer)
        clip_writer->finish();
    if (still_writer)
        still_writer->finish();
    progress.summary(frames, clip_writer ? options.output : options.still_path);
}

ProgressLine::ProgressLine(bool enabled)
    : enabled_(enabled), start_(std::chrono::steady_clock::now())
{
}

ProgressLine::~ProgressLine()
{
    clear();
}

void ProgressLine::counting(const std::string& name, int frames)
{
    const auto now = std::chrono::steady_clock::now();
    if (!enabled_ || now - last_shown_ < std::chrono::milliseconds(250))
        return;
    last_shown_ = now;
    show("counting the frames of " + name + ": " + std::to_string(frames));
}

void ProgressLine::frames(int done, int total)
{
    if (!enabled_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (done == 1)
        start_ = now;  // timing starts after opening and counting
    if (now - last_shown_ < std::chrono::milliseconds(250) && done != total)
        return;
    last_shown_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? (done - 1) / seconds : 0;
    std::string text = "frame " + std::to_string(done);
    const bool known = total >= done;
    if (known)
        text += " of " + std::to_string(total) + " (" + std::to_string(std::min(99, done * 100 / total)) + " %)";
    if (rate > 0) {
        char fps[32];
        std::snprintf(fps, sizeof fps, ", %.1f fps", rate);
        text += fps;
        if (known)
            text += ", " + clock_text((total - done) / rate) + " left";
    }
    show(text);
}

void ProgressLine::summary(int frames, const std::string& output)
{
    if (!enabled_)
        return;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    char text[200];
    std::snprintf(text, sizeof text, "done (100 %%): %d frames in %.1f s, %.1f fps", frames, seconds,
                  seconds > 0 ? frames / seconds : 0.0);
    std::string line = text;
    struct stat info;
    if (output != "-" && stat(output.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        std::snprintf(text, sizeof text, ", %.1f MB", info.st_size / 1e6);
        line += text;
    }
    show(line);
    std::fputc('\n', stderr);
    shown_length_ = 0;
}

void ProgressLine::show(const std::string& text)
{
    const std::string line = "norel: " + text;
    std::fprintf(stderr, "\r%s%*s", line.c_str(),
                 static_cast<int>(std::max(line.size(), shown_length_) - line.size()), "");
    std::fflush(stderr);
    shown_length_ = line.size();
}

void ProgressLine::clear()
{
    if (!enabled_ || shown_length_ == 0)
        return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(shown_length_), "");
    std::fflush(stderr);
    shown_length_ = 0;
}
