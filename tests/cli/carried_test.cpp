// What an output keeps of its input: field order, audio, tags, rotation and
// frame timing, each read back with FFmpeg's libraries.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

#include "hosts/cli/av.h"
#include "tests/cli/support.h"

namespace {

// What a file holds, as a player sees it.
struct Probe {
    AVFieldOrder field_order = AV_FIELD_UNKNOWN;
    std::vector<std::string> codecs;  // by stream
    std::string title, video_language;
    bool rotated = false;
    double duration = 0;  // seconds
};

Probe probe(const std::string& path)
{
    AVFormatContext* context = nullptr;
    Probe result;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0)
        return result;
    InputContextPtr owner(context);
    avformat_find_stream_info(context, nullptr);
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        result.codecs.push_back(avcodec_get_name(stream->codecpar->codec_id));
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO)
            continue;
        result.field_order = stream->codecpar->field_order;
        if (const AVDictionaryEntry* language = av_dict_get(stream->metadata, "language", nullptr, 0))
            result.video_language = language->value;
        result.rotated = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr) != nullptr;
    }
    if (const AVDictionaryEntry* title = av_dict_get(context->metadata, "title", nullptr, 0))
        result.title = title->value;
    result.duration = context->duration / double(AV_TIME_BASE);
    return result;
}

// Makes an input with FFmpeg's own program.
void ffmpeg(const std::string& arguments)
{
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// A norel run that succeeds with exactly these notes on stderr.
void norel_notes(const std::vector<std::string>& arguments, const std::string& notes)
{
    const RunResult result = run_norel(arguments);
    EXPECT_EQ(result.exit_status, 0) << result.stderr_text;
    EXPECT_EQ(result.stderr_text, notes);
}

}  // namespace

TEST(Carried, FieldOrderIsLabelledInEveryFormat)
{
    ScratchDir dir;
    const std::string clip = dir.path("clip.y4m");
    synthesize_clip(clip, 4, "64x48");
    // WebM has no field order label.
    const std::pair<const char*, bool> formats[] = {
        {"mkv", true}, {"mp4", true}, {"mov", true}, {"webm", false}, {"y4m", true}};
    for (const auto& [extension, labelled] : formats) {
        for (const char* order : {"--tff", "--bff"}) {
            const std::string out = dir.path(std::string(order + 2) + "." + extension);
            norel_ok({order, clip, out});
            const AVFieldOrder expected = !labelled ? AV_FIELD_UNKNOWN
                                          : order[2] == 't' ? AV_FIELD_TT
                                                            : AV_FIELD_BB;
            EXPECT_EQ(probe(out).field_order, expected) << out;
        }
    }
    // An input that says bottom field first is read so unless told otherwise.
    norel_ok({dir.path("bff.y4m"), dir.path("kept.y4m")});
    EXPECT_EQ(probe(dir.path("kept.y4m")).field_order, AV_FIELD_BB);
    norel_ok({"--tff", dir.path("bff.y4m"), dir.path("chosen.y4m")});
    EXPECT_EQ(probe(dir.path("chosen.y4m")).field_order, AV_FIELD_TT);
}

TEST(Carried, AudioIsCopiedOrReencodedOrSaidToBeLeftOut)
{
    ScratchDir dir;
    const std::string in = dir.path("in.mkv");
    ffmpeg("-f lavfi -i testsrc2=size=64x48:rate=25:duration=1 -f lavfi -i sine=duration=1 -c:v ffv1 -c:a pcm_s16le " +
           in);
    norel_ok({in, dir.path("copy.mkv")});
    EXPECT_EQ(probe(dir.path("copy.mkv")).codecs, (std::vector<std::string>{"ffv1", "pcm_s16le"}));
    EXPECT_NEAR(probe(dir.path("copy.mkv")).duration, 1.0, 0.05);
    norel_notes({in, dir.path("aac.mp4")},
                "norel: " + dir.path("aac.mp4") + ": audio stream 1 (pcm_s16le) re-encoded as aac, which this format holds\n");
    EXPECT_EQ(probe(dir.path("aac.mp4")).codecs, (std::vector<std::string>{"h264", "aac"}));
    norel_ok({"--no-audio", in, dir.path("silent.mkv")});
    EXPECT_EQ(probe(dir.path("silent.mkv")).codecs, (std::vector<std::string>{"ffv1"}));
    norel_notes({in, dir.path("out.y4m")},
                "norel: " + dir.path("out.y4m") + ": YUV4MPEG2 holds no audio; the input's audio was not written\n");
}

TEST(Carried, TagsAndRotationAreKept)
{
    ScratchDir dir;
    const std::string made = dir.path("made.mp4"), in = dir.path("in.mp4");
    ffmpeg("-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.4 -c:v libx264 " + made);
    ffmpeg("-i " + made + " -c copy -metadata title=Garden -metadata:s:v:0 language=jpn -metadata:s:v:0 rotate=90 " + in);
    ASSERT_TRUE(probe(in).rotated);
    for (const char* out : {"out.mp4", "out.mov"}) {
        norel_ok({in, dir.path(out)});
        const Probe result = probe(dir.path(out));
        EXPECT_EQ(result.title, "Garden") << out;
        EXPECT_EQ(result.video_language, "jpn") << out;
        EXPECT_TRUE(result.rotated) << out;
    }
    // Where the writer cannot carry it, one line says so.
    const std::pair<const char*, const char*> dropped[] = {{"out.mkv", "this Matroska writer holds no rotation"},
                                                           {"out.y4m", "YUV4MPEG2 holds no rotation"}};
    for (const auto& [out, why] : dropped)
        norel_notes({in, dir.path(out)},
                    "norel: " + dir.path(out) + ": " + why + "; the input's rotation was not written\n");
    norel_notes({made, dir.path("unrotated.mkv")}, "");
}

TEST(Carried, VariableFrameTimingIsKeptWhereTheContainerHoldsIt)
{
    ScratchDir dir;
    const std::string in = dir.path("in.mkv");
    // 30 frames a second for one second, then 10.
    ffmpeg("-f lavfi -i testsrc2=size=64x48:rate=30:duration=2 -vf \"setpts='if(lt(N,30),N/30,1+(N-30)/10)/TB'\" "
           "-fps_mode vfr -c:v ffv1 " + in);
    const double duration = probe(in).duration;
    ASSERT_GT(duration, 3.5);
    for (const char* out : {"out.mkv", "out.mp4", "out.mov"}) {
        norel_ok({in, dir.path(out)});
        EXPECT_NEAR(probe(dir.path(out)).duration, duration, 0.1) << out;
    }
    norel_notes({in, dir.path("out.y4m")}, "norel: " + dir.path("out.y4m") +
                                              ": YUV4MPEG2 holds no frame timing of its own; the input's variable "
                                              "frame rate was evened out to 30.000 fps\n");
}
