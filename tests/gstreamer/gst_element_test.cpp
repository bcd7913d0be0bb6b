// The GStreamer element through GstHarness: hostile caps and frames, field
// order from caps and flags, frame numbers from time or offset.
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// A frame as the harness pushes it: every plane's rows padded by 13 or 14
// bytes and 64 bytes after the last plane, all random, so that a write
// beyond a row or the frame shows.
struct PaddedFrame {
    GstVideoInfo info;
    gsize offsets[GST_VIDEO_MAX_PLANES] = {};
    gint strides[GST_VIDEO_MAX_PLANES] = {};
    std::vector<int> row_bytes;  // per plane
    std::vector<int> rows;
    std::vector<uint8_t> bytes;

    PaddedFrame(const std::string& caps_text, unsigned seed)
    {
        GstCaps* caps = gst_caps_from_string(caps_text.c_str());
        EXPECT_TRUE(gst_video_info_from_caps(&info, caps)) << caps_text;
        gst_caps_unref(caps);
        const GstVideoFormatInfo* format = info.finfo;
        const int w = GST_VIDEO_INFO_WIDTH(&info), h = GST_VIDEO_INFO_HEIGHT(&info);
        gsize size = 0;
        for (guint p = 0; p < GST_VIDEO_INFO_N_PLANES(&info); ++p) {
            int bytes_in_row;
            if (GST_VIDEO_FORMAT_INFO_IS_YUV(format) && GST_VIDEO_INFO_N_PLANES(&info) == 1)
                bytes_in_row = 4 * ((w + 1) / 2);  // packed 4:2:2
            else
                bytes_in_row = GST_VIDEO_FORMAT_INFO_SCALE_WIDTH(format, p, w) * GST_VIDEO_FORMAT_INFO_PSTRIDE(format, p);
            row_bytes.push_back(bytes_in_row);
            rows.push_back(GST_VIDEO_FORMAT_INFO_SCALE_HEIGHT(format, p, h));
            offsets[p] = size;
            // Odd padding for bytes, even for 2-byte samples.
            strides[p] = bytes_in_row + (GST_VIDEO_FORMAT_INFO_BITS(format) > 8 ? 14 : 13);
            size += static_cast<gsize>(strides[p]) * rows.back();
        }
        bytes.resize(size + 64);
        std::mt19937 random(seed);
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(random());
        // 10-bit samples within their depth, as real streams have them.
        if (GST_VIDEO_FORMAT_INFO_BITS(format) > 8) {
            for (guint p = 0; p < GST_VIDEO_INFO_N_PLANES(&info); ++p) {
                for (int r = 0; r < rows[p]; ++r) {
                    for (int b = 1; b < row_bytes[p]; b += 2)
                        bytes[offsets[p] + static_cast<size_t>(r) * strides[p] + b] &= 3;
                }
            }
        }
    }

    GstBuffer* buffer(GstClockTime pts, guint64 offset, guint flags = 0) const
    {
        GstBuffer* buffer = gst_buffer_new_memdup(bytes.data(), bytes.size());
        gst_buffer_add_video_meta_full(buffer, GST_VIDEO_FRAME_FLAG_NONE, GST_VIDEO_INFO_FORMAT(&info),
                                       GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info),
                                       GST_VIDEO_INFO_N_PLANES(&info), const_cast<gsize*>(offsets),
                                       const_cast<gint*>(strides));
        GST_BUFFER_PTS(buffer) = pts;
        GST_BUFFER_OFFSET(buffer) = offset;
        GST_BUFFER_FLAG_SET(buffer, flags);
        return buffer;
    }

    // Whether byte i lies in a row's samples.
    bool inside(size_t i) const
    {
        for (size_t p = 0; p < row_bytes.size(); ++p) {
            if (i < offsets[p] || i >= offsets[p] + static_cast<size_t>(strides[p]) * rows[p])
                continue;
            return static_cast<int>((i - offsets[p]) % strides[p]) < row_bytes[p];
        }
        return false;
    }
};

std::vector<uint8_t> contents(GstBuffer* buffer)
{
    std::vector<uint8_t> out(gst_buffer_get_size(buffer));
    gst_buffer_extract(buffer, 0, out.data(), out.size());
    return out;
}

// Pushes one frame through a fresh element; empty when no buffer came out.
std::vector<uint8_t> run(const std::string& element, const std::string& caps, GstBuffer* buffer,
                         GstFlowReturn* flow = nullptr)
{
    GstHarness* h = gst_harness_new_parse(element.c_str());
    gst_harness_set_src_caps_str(h, caps.c_str());
    const GstFlowReturn result = gst_harness_push(h, buffer);
    if (flow != nullptr)
        *flow = result;
    std::vector<uint8_t> out;
    if (GstBuffer* pulled = gst_harness_try_pull(h)) {
        out = contents(pulled);
        gst_buffer_unref(pulled);
    }
    gst_harness_teardown(h);
    return out;
}

struct HostileCase {
    const char* what;
    const char* caps;
};

// Odd and tiny sizes in every format, no frame rate, interlaced and mixed.
const HostileCase hostile_cases[] = {
    {"I420 1x1", "format=I420,width=1,height=1,framerate=30/1"},
    {"I420 odd", "format=I420,width=7,height=5,framerate=30000/1001"},
    {"Y42B odd, no rate", "format=Y42B,width=9,height=3,framerate=0/1"},
    {"Y444 odd, interlaced", "format=Y444,width=5,height=7,framerate=25/1,interlace-mode=interleaved"},
    {"YUY2 odd width", "format=YUY2,width=3,height=3,framerate=30/1"},
    {"UYVY 1x2, mixed", "format=UYVY,width=1,height=2,framerate=30/1,interlace-mode=mixed"},
    {"I420_10LE odd", "format=I420_10LE,width=5,height=3,framerate=30/1"},
    {"I422_10LE odd", "format=I422_10LE,width=3,height=11,framerate=30/1"},
    {"Y444_10LE 1x1", "format=Y444_10LE,width=1,height=1,framerate=30/1"},
    {"Y42B wide, 2 rows", "format=Y42B,width=1923,height=2,framerate=30/1"},
};

TEST(GstElement, HostileFramesStayInsideTheirRows)
{
    for (const HostileCase& c : hostile_cases) {
        const std::string caps = std::string("video/x-raw,") + c.caps;
        const PaddedFrame frame(caps, 7);
        for (const char* element : {"norel show-range=true", "norel cy=true shift=23 left=1 width=900 top=1",
                                    "norel cy=true decode=notch shift=-256 freq=750"}) {
            GstFlowReturn flow;
            const std::vector<uint8_t> out = run(element, caps, frame.buffer(0, 0), &flow);
            ASSERT_EQ(flow, GST_FLOW_OK) << c.what << " " << element;
            ASSERT_EQ(out.size(), frame.bytes.size()) << c.what;
            bool changed = false;
            for (size_t i = 0; i < out.size(); ++i) {
                if (!frame.inside(i)) {
                    ASSERT_EQ(out[i], frame.bytes[i]) << c.what << " " << element << ": byte " << i << " outside the rows";
                }
                changed = changed || out[i] != frame.bytes[i];
            }
            // Show range inverts every pixel of the rectangle.
            if (std::strstr(element, "show-range") != nullptr) {
                EXPECT_TRUE(changed) << c.what;
            }
        }
    }
}

TEST(GstElement, RefusesWhatItCannotTakeAtNegotiation)
{
    for (const char* caps : {"video/x-raw,format=RGB,width=16,height=16,framerate=30/1",
                             "video/x-raw,format=GRAY8,width=16,height=16,framerate=30/1",
                             "video/x-raw,format=NV12,width=16,height=16,framerate=30/1",
                             "video/x-raw,format=I420,width=16,height=16,framerate=30/1,interlace-mode=alternate"}) {
        GstHarness* h = gst_harness_new("norel");
        gst_harness_set_src_caps_str(h, caps);
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, 16 * 16 * 4, nullptr);
        EXPECT_EQ(gst_harness_push(h, buffer), GST_FLOW_NOT_NEGOTIATED) << caps;
        gst_harness_teardown(h);
    }
}

// The frame number: stream time times the rate, else the buffer offset.
// C/Y's carrier alternates from frame to frame.
TEST(GstElement, FrameNumberFromTimeOrOffset)
{
    const std::string with_rate = "video/x-raw,format=Y42B,width=64,height=16,framerate=30/1";
    const std::string without_rate = "video/x-raw,format=Y42B,width=64,height=16,framerate=0/1";
    const PaddedFrame frame(with_rate, 3);
    const GstClockTime frame_3 = gst_util_uint64_scale(3, GST_SECOND, 30);
    const std::vector<uint8_t> by_time = run("norel cy=true", with_rate, frame.buffer(frame_3, GST_BUFFER_OFFSET_NONE));
    const std::vector<uint8_t> by_offset = run("norel cy=true", without_rate, frame.buffer(GST_CLOCK_TIME_NONE, 3));
    const std::vector<uint8_t> frame_0 = run("norel cy=true", with_rate, frame.buffer(0, 3));
    EXPECT_EQ(by_time, by_offset);
    EXPECT_NE(by_time, frame_0);
    // Out of order and twice on one element: each frame as when alone.
    GstHarness* h = gst_harness_new_parse("norel cy=true");
    gst_harness_set_src_caps_str(h, with_rate.c_str());
    for (GstClockTime pts : {frame_3, GstClockTime(0), frame_3}) {
        ASSERT_EQ(gst_harness_push(h, frame.buffer(pts, GST_BUFFER_OFFSET_NONE)), GST_FLOW_OK);
        GstBuffer* out = gst_harness_pull(h);
        EXPECT_EQ(contents(out), pts == 0 ? frame_0 : by_time);
        gst_buffer_unref(out);
    }
    gst_harness_teardown(h);
}

// After a seek the segment says where the stream is: a source that starts
// its times again at 0 after a seek to frame 3 gives frame 3 the carrier
// and the deck's noise it has when played from the start.
TEST(GstElement, ASeekGivesTheFramesOfTheStreamTime)
{
    const std::string caps = "video/x-raw,format=Y42B,width=64,height=16,framerate=30/1";
    const std::string element = "norel cy=true vhs=sp seed=4000000000 dropouts=3000 tracking=40";
    const PaddedFrame frame(caps, 5);
    const GstClockTime frame_3 = gst_util_uint64_scale(3, GST_SECOND, 30);
    const std::vector<uint8_t> in_order = run(element, caps, frame.buffer(frame_3, GST_BUFFER_OFFSET_NONE));
    GstHarness* h = gst_harness_new_parse(element.c_str());
    gst_harness_set_src_caps_str(h, caps.c_str());
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    segment.time = frame_3;
    ASSERT_TRUE(gst_harness_push_event(h, gst_event_new_segment(&segment)));
    ASSERT_EQ(gst_harness_push(h, frame.buffer(0, GST_BUFFER_OFFSET_NONE)), GST_FLOW_OK);
    GstBuffer* out = gst_harness_pull(h);
    EXPECT_EQ(contents(out), in_order);
    EXPECT_NE(contents(out), run(element, caps, frame.buffer(0, GST_BUFFER_OFFSET_NONE)));
    gst_buffer_unref(out);
    gst_harness_teardown(h);
}

// The field order: the caps' when they have one, else the buffer's flags;
// progressive frames are top field first. Compared with the order forced,
// in 4:2:2, whose chroma lies alike either way.
TEST(GstElement, FieldOrderFromCapsAndFlags)
{
    struct Case {
        const char* caps;
        guint flags;
        bool top_first;
    };
    const Case cases[] = {
        {"", 0, true},
        {",interlace-mode=interleaved,field-order=top-field-first", 0, true},
        {",interlace-mode=interleaved,field-order=bottom-field-first", GST_VIDEO_BUFFER_FLAG_TFF, false},
        {",interlace-mode=interleaved", GST_VIDEO_BUFFER_FLAG_TFF, true},
        {",interlace-mode=interleaved", 0, false},
        {",interlace-mode=mixed", GST_VIDEO_BUFFER_FLAG_INTERLACED, false},
        {",interlace-mode=mixed", GST_VIDEO_BUFFER_FLAG_INTERLACED | GST_VIDEO_BUFFER_FLAG_TFF, true},
        {",interlace-mode=mixed", 0, true},
    };
    const std::string base = "video/x-raw,format=Y42B,width=32,height=24,framerate=30/1";
    const PaddedFrame frame(base, 5);
    const std::vector<uint8_t> top = run("norel shift=23 tff=on", base, frame.buffer(0, 0));
    const std::vector<uint8_t> bottom = run("norel shift=23 tff=off", base, frame.buffer(0, 0));
    ASSERT_NE(top, bottom);
    for (const Case& c : cases) {
        const std::string caps = base + c.caps;
        EXPECT_EQ(run("norel shift=23", caps, frame.buffer(0, 0, c.flags)), c.top_first ? top : bottom)
            << c.caps << " flags " << c.flags;
    }
}

// Interlaced 4:2:0 keeps each field's colour: chroma rows alternating
// between two colours, one field moved by one field line, come back with
// every chroma row of both fields as it was but at the top and bottom.
// Interlaced are frames the caps or the buffer's flags call so, and any
// frame a field order is given for.
TEST(GstElement, Interlaced420KeepsEachFieldsColour)
{
    struct Case {
        const char* caps;
        guint flags;
        const char* element;
        bool by_field;
    };
    const Case cases[] = {
        {",interlace-mode=interleaved,field-order=top-field-first", 0, "", true},
        {",interlace-mode=interleaved,field-order=bottom-field-first", 0, "", true},
        {",interlace-mode=mixed", GST_VIDEO_BUFFER_FLAG_INTERLACED, "", true},
        {",interlace-mode=mixed", 0, "", false},
        {"", 0, " tff=off", true},
        {"", 0, "", false},
    };
    const int w = 64, h = 48, cw = w / 2, ch = h / 2;
    std::vector<uint8_t> picture(static_cast<size_t>(w) * h, 100);
    for (int r = 0; r < 2 * ch; ++r)  // cb rows, then cr rows
        picture.insert(picture.end(), cw, r < ch ? (r % 2 ? 200 : 90) : (r % 2 ? 100 : 220));
    for (const Case& c : cases) {
        const std::string caps = std::string("video/x-raw,format=I420,width=64,height=48,framerate=30/1") + c.caps;
        GstBuffer* buffer = gst_buffer_new_memdup(picture.data(), picture.size());
        GST_BUFFER_FLAG_SET(buffer, c.flags);
        const std::vector<uint8_t> out = run(std::string("norel shift=16 lpf=false") + c.element, caps, buffer);
        ASSERT_EQ(out.size(), picture.size()) << c.caps;
        int kept = 0, checked = 0;
        for (int plane = 0; plane < 2; ++plane) {
            for (int r = 2; r < ch - 2; ++r, ++checked) {
                const size_t row = static_cast<size_t>(w) * h + static_cast<size_t>(plane * ch + r) * cw;
                kept += std::equal(out.begin() + row, out.begin() + row + cw, picture.begin() + row);
            }
        }
        EXPECT_EQ(kept, c.by_field ? checked : 0) << c.caps << " flags " << c.flags << c.element;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    GError* error = nullptr;
    if (gst_plugin_load_file(NOREL_GST_PLUGIN, &error) == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", NOREL_GST_PLUGIN, error->message);
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
