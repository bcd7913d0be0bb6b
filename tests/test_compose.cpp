#include <gtest/gtest.h>

#include <vector>

#include "tests/host_services.h"
#include "hosts/aviutl/descriptor.h"
#include "hosts/aviutl/driver.h"
#include "tests/tagged_clip.h"

namespace {

// The processing rectangle as the driver should cut it.
struct Box {
    int left, right, top, bottom;
};

// A 6 x 5 picture (pitch 8) of a clip of `frames` frames, with the default
// settings plus "合成モード" on and the rectangle columns 2..4, rows 1..3.
struct ComposeHost {
    static constexpr int w = 6, h = 5, max_w = 8;
    PluginHost host;
    int frames;
    Clip filtering;
    Clip source;
    Box box{2, 5, 1, 4};

    explicit ComposeHost(int frames)
        : host(GetFilterTable, w, h, max_w),
          frames(frames),
          filtering(tagged_clip(FILTERING, frames, h, max_w)),
          source(tagged_clip(SOURCE, frames, h, max_w))
    {
        host.answer_from(filtering, source);
        host.check()[CHECK_COMPOSE] = 1;
        place(2, 3, 1, 3);
    }

    void place(int left, int width, int top, int height)
    {
        host.track()[TRACK_LEFT] = left;
        host.track()[TRACK_WIDTH] = width;
        host.track()[TRACK_TOP] = top;
        host.track()[TRACK_HEIGHT] = height;
    }

    // Frame n enters as the filters ahead left it.
    BOOL process(int n)
    {
        host.load(filtering[n]);
        return host.process(n, frames);
    }

    std::vector<PIXEL_YC> edited() { return {host.edit(), host.edit() + host.frame_pixels()}; }

    // Frame n holds the box of source frame `from` and is otherwise as it
    // entered; from < 0: the frame is unchanged.
    ::testing::AssertionResult pasted(int n, int from)
    {
        for (int r = 0; r < h; ++r)
            for (int x = 0; x < max_w; ++x) {
                const bool inside = from >= 0 && r >= box.top && r < box.bottom &&
                                    x >= box.left && x < box.right;
                const PIXEL_YC want = inside ? tag(SOURCE, from, r, x) : tag(FILTERING, n, r, x);
                const PIXEL_YC got = host.edit()[r * max_w + x];
                if (!same(got, want))
                    return ::testing::AssertionFailure()
                           << "frame " << n << ", row " << r << " column " << x << " holds {"
                           << got.y << ", " << got.cb << ", " << got.cr << "}, wanted {" << want.y
                           << ", " << want.cb << ", " << want.cr << "}";
            }
        return ::testing::AssertionSuccess();
    }
};

// Frees the chroma tables that a test with "C/Y" on may have built.
struct Compose : ::testing::Test {
    void TearDown() override { filter_exit(GetFilterTable()); }
};

}  // namespace

TEST_F(Compose, ElevenFramesFillTheFirstHalfFromFrameHalfAClipLater)
{
    ComposeHost compose(11);
    std::vector<PIXEL_YC> frame_5_output;
    for (int n = 0; n < 11; ++n) {
        ASSERT_TRUE(compose.process(n));
        // Frame 5 is the middle frame: it receives frame 10's rectangle.
        EXPECT_TRUE(compose.pasted(n, n <= 5 ? n + 5 : -1));
        if (n == 5)
            frame_5_output = compose.edited();
    }
    // Frame 0 got frame 5's unfiltered source, not frame 5's composed output.
    compose.process(0);
    const int inside = compose.box.top * ComposeHost::max_w + compose.box.left;
    EXPECT_FALSE(same(compose.host.edit()[inside], frame_5_output[inside]));

    const HostServices& services = compose.host.services();
    EXPECT_EQ(services.source_requests, (std::vector<int>{5, 6, 7, 8, 9, 10, 5}));
    EXPECT_TRUE(services.filtering_requests.empty());
    EXPECT_TRUE(services.cache_size_requests.empty());
    EXPECT_FALSE(services.host_buffer_written);
}

TEST_F(Compose, TenFramesLetTheMiddleFrameAskOnePastTheEnd)
{
    // The stand-in has no frame 10 in a clip of 10 and answers null.
    ComposeHost compose(10);
    for (int n = 0; n < 10; ++n) {
        ASSERT_TRUE(compose.process(n));
        EXPECT_TRUE(compose.pasted(n, n <= 4 ? n + 5 : -1));
    }
    EXPECT_EQ(compose.host.services().source_requests, (std::vector<int>{5, 6, 7, 8, 9, 10}));
    EXPECT_FALSE(compose.host.services().host_buffer_written);
}

TEST_F(Compose, ASingleFrameGetsItsOwnSourceBack)
{
    ComposeHost compose(1);
    ASSERT_TRUE(compose.process(0));
    EXPECT_TRUE(compose.pasted(0, 0));
    EXPECT_EQ(compose.host.services().source_requests, std::vector<int>{0});
}

TEST_F(Compose, AnEmptyRectangleCopiesNothingButTheHostIsStillAsked)
{
    ComposeHost compose(4);
    compose.place(2, 0, 1, 3);
    ASSERT_TRUE(compose.process(1));
    EXPECT_TRUE(compose.pasted(1, -1));
    // "左" beyond the picture gives left = right = w.
    compose.place(2000, 320, 0, 320);
    ASSERT_TRUE(compose.process(1));
    EXPECT_TRUE(compose.pasted(1, -1));
    EXPECT_EQ(compose.host.services().source_requests, (std::vector<int>{3, 3}));
}

TEST_F(Compose, OnlyTheRectangleCutToThePictureIsPasted)
{
    ComposeHost compose(4);
    compose.place(4, 100, 3, 100);
    compose.box = {4, ComposeHost::w, 3, ComposeHost::h};
    ASSERT_TRUE(compose.process(0));
    // pasted() also checks that the padding beyond w stays.
    EXPECT_TRUE(compose.pasted(0, 2));
}

TEST_F(Compose, AMissingSourceLeavesTheFrameUnchangedAndGood)
{
    ComposeHost compose(4);
    compose.host.services().source_frame = nullptr;
    EXPECT_TRUE(compose.process(0));
    EXPECT_TRUE(compose.pasted(0, -1));
    EXPECT_EQ(compose.host.services().source_requests, std::vector<int>{2});
}

TEST_F(Compose, NoOtherSettingChangesAnything)
{
    // Every check box flipped alone and all at once, and the effect tracks at
    // their extremes and on both shift paths; "範囲表示" is ignored while saving.
    struct Setting {
        int index;
        bool is_check;
        int value;
    };
    std::vector<std::vector<Setting>> variations;
    std::vector<Setting> all_flipped;
    const int defaults[CHECK_COUNT] = {1, 0, 1, 0, 0, 0, 1};
    for (int i = CHECK_60FPS; i < CHECK_COUNT; ++i) {
        variations.push_back({{i, true, !defaults[i]}});
        all_flipped.push_back({i, true, !defaults[i]});
    }
    variations.push_back(all_flipped);
    for (int shift : {-256, -5, 16, 17, 256})
        variations.push_back({{TRACK_SHIFT, false, shift}});
    for (int freq : {600, 750})
        variations.push_back({{TRACK_FREQ, false, freq}});
    for (int phase : {-180, 180})
        variations.push_back({{TRACK_PHASE, false, phase}});

    for (int frame : {0, 4}) {
        ComposeHost plain(6);
        ASSERT_TRUE(plain.process(frame));
        ASSERT_TRUE(plain.pasted(frame, frame == 0 ? 3 : -1));
        const std::vector<PIXEL_YC> expected = plain.edited();

        for (const std::vector<Setting>& variation : variations) {
            ComposeHost compose(6);
            for (const Setting& s : variation)
                (s.is_check ? compose.host.check() : compose.host.track())[s.index] = s.value;
            ASSERT_TRUE(compose.process(frame));
            const std::vector<PIXEL_YC> got = compose.edited();
            for (size_t i = 0; i < got.size(); ++i)
                ASSERT_TRUE(same(got[i], expected[i]))
                    << "frame " << frame << ", setting " << variation[0].index << " ("
                    << variation.size() << " changed), pixel " << i;
            const HostServices& services = compose.host.services();
            EXPECT_TRUE(services.cache_size_requests.empty());
            EXPECT_TRUE(services.filtering_requests.empty());
            EXPECT_FALSE(services.host_buffer_written);
        }
    }
}

TEST_F(Compose, NeedsNoneOfThe60FpsServices)
{
    ComposeHost compose(4);
    compose.host.check()[CHECK_60FPS] = 1;
    compose.host.services().refuse_cache_size = true;
    compose.host.services().filtering_frame = nullptr;
    EXPECT_TRUE(compose.process(1));
    EXPECT_TRUE(compose.pasted(1, 3));
    EXPECT_TRUE(compose.host.services().cache_size_requests.empty());
    EXPECT_TRUE(compose.host.services().filtering_requests.empty());
}

TEST_F(Compose, ShowRangeStillWinsDuringPreview)
{
    ComposeHost compose(4);
    compose.host.check()[CHECK_SHOW_RANGE] = 1;
    compose.host.services().saving = false;
    ASSERT_TRUE(compose.process(0));
    for (int r = 0; r < ComposeHost::h; ++r)
        for (int x = 0; x < ComposeHost::max_w; ++x) {
            PIXEL_YC want = tag(FILTERING, 0, r, x);
            const Box& b = compose.box;
            if (r >= b.top && r < b.bottom && x >= b.left && x < b.right)
                want = {static_cast<short>(4096 - want.y), static_cast<short>(-want.cb),
                        static_cast<short>(-want.cr)};
            EXPECT_TRUE(same(compose.host.edit()[r * ComposeHost::max_w + x], want))
                << "row " << r << " column " << x;
        }
    EXPECT_TRUE(compose.host.services().source_requests.empty());

    // While saving the inversion stands aside and compose mode runs.
    compose.host.services().saving = true;
    ASSERT_TRUE(compose.process(0));
    EXPECT_TRUE(compose.pasted(0, 2));
    EXPECT_EQ(compose.host.services().is_saving_calls, 2);
}
