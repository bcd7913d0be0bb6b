#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "tests/host_services.h"
#include "hosts/aviutl/descriptor.h"
#include "hosts/aviutl/driver.h"
#include "engine/region.h"

namespace {

// Nominal-range pixels that differ from row to row and column to column.
void fill_pattern(PIXEL_YC* frame, int w, int h, int max_w, int seed)
{
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < max_w; ++x) {
            const int v = (r * 131 + x * 71 + seed * 977) % 4097;
            frame[r * max_w + x] = {static_cast<short>(v), static_cast<short>((v * 3) % 4097 - 2048),
                                    static_cast<short>((v * 7) % 4097 - 2048)};
        }
    (void)w;
}

bool same_pixel(const PIXEL_YC& a, const PIXEL_YC& b)
{
    return a.y == b.y && a.cb == b.cb && a.cr == b.cr;
}

// Counts pixels that differ inside and outside the rectangle [left, right) x [top, bottom).
struct Changes {
    int inside = 0;
    int outside = 0;
};

Changes count_changes(const PIXEL_YC* before, const PIXEL_YC* after, int h, int max_w, int left,
                      int right, int top, int bottom)
{
    Changes c;
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < max_w; ++x) {
            if (same_pixel(before[r * max_w + x], after[r * max_w + x]))
                continue;
            const bool in = r >= top && r < bottom && x >= left && x < right;
            (in ? c.inside : c.outside)++;
        }
    return c;
}

struct DriverTest : ::testing::Test {
    void TearDown() override { filter_exit(GetFilterTable()); }
};

}  // namespace

TEST_F(DriverTest, DefaultsChangeOnlyTheTopLeftRectangleAndOnlyByTheLowPassFilter)
{
    PluginHost host(GetFilterTable, 720, 480, 720);
    fill_pattern(host.edit(), 720, 480, 720, 1);
    const std::vector<PIXEL_YC> before(host.edit(), host.edit() + 720 * 480);
    ASSERT_TRUE(host.process(0, 1));
    const Changes c = count_changes(before.data(), host.edit(), 480, 720, 0, 320, 0, 320);
    EXPECT_EQ(c.outside, 0);
    EXPECT_GT(c.inside, 0);

    // The same frame with "LPF" off comes back unchanged: nothing else runs by default.
    PluginHost plain(GetFilterTable, 720, 480, 720);
    fill_pattern(plain.edit(), 720, 480, 720, 1);
    plain.check()[CHECK_LPF] = 0;
    ASSERT_TRUE(plain.process(0, 1));
    EXPECT_EQ(std::memcmp(before.data(), plain.edit(), before.size() * sizeof(PIXEL_YC)), 0);
}

TEST_F(DriverTest, ACallerOwnedEditBufferIsFilteredInPlaceWithTheHostsFramesUncopied)
{
    // 60FPS reads the partner frame through the filtering cache: without
    // lent copies it must be handed frame 1 itself and still see it intact.
    Clip clip(2, std::vector<PIXEL_YC>(48 * 16));
    fill_pattern(clip[0].data(), 48, 16, 48, 1);
    fill_pattern(clip[1].data(), 48, 16, 48, 2);
    PluginHost lending(GetFilterTable, 48, 16, 48);
    lending.check()[CHECK_60FPS] = 1;
    lending.answer_from(clip, {});
    lending.load(clip[0]);
    ASSERT_TRUE(lending.process(0, 2));

    PluginHost direct(GetFilterTable, 48, 16, 48);
    direct.check()[CHECK_60FPS] = 1;
    direct.services().lend_copies = false;
    const PIXEL_YC* handed = nullptr;
    direct.services().filtering_frame = [&](int n) {
        handed = n == 1 ? clip[1].data() : nullptr;
        return handed;
    };
    const std::vector<PIXEL_YC> untouched_edit(direct.edit(), direct.edit() + direct.frame_pixels());
    std::vector<PIXEL_YC> frame = clip[0];
    ASSERT_TRUE(direct.process(0, 2, frame.data()));
    EXPECT_EQ(handed, clip[1].data());
    EXPECT_EQ(std::memcmp(frame.data(), lending.edit(), frame.size() * sizeof(PIXEL_YC)), 0);
    EXPECT_NE(std::memcmp(frame.data(), clip[0].data(), frame.size() * sizeof(PIXEL_YC)), 0);
    EXPECT_EQ(std::memcmp(direct.edit(), untouched_edit.data(), frame.size() * sizeof(PIXEL_YC)), 0);
}

TEST_F(DriverTest, ShowRangeInvertsTheRectangleDuringPreviewOnly)
{
    PluginHost host(GetFilterTable, 64, 32, 64);
    host.edit()[5 * 64 + 5] = {1000, 100, -7};
    host.check()[CHECK_SHOW_RANGE] = 1;
    host.check()[CHECK_MONO] = 1;  // no other stage may run during the preview
    host.services().saving = false;
    ASSERT_TRUE(host.process(0, 1));
    EXPECT_TRUE(same_pixel(host.edit()[5 * 64 + 5], PIXEL_YC{3096, -100, 7}));
    EXPECT_TRUE(same_pixel(host.edit()[0], PIXEL_YC{4096, 0, 0}));
    EXPECT_EQ(host.services().is_saving_calls, 1);

    // Twice restores the frame.
    ASSERT_TRUE(host.process(0, 1));
    EXPECT_TRUE(same_pixel(host.edit()[5 * 64 + 5], PIXEL_YC{1000, 100, -7}));

    // While saving the inversion is never shown and the rest runs ("MONO" here).
    host.check()[CHECK_LPF] = 0;
    host.services().saving = true;
    ASSERT_TRUE(host.process(0, 1));
    EXPECT_TRUE(same_pixel(host.edit()[5 * 64 + 5], PIXEL_YC{1000, 0, 0}));
}

TEST_F(DriverTest, ShowRangeWrapsInsteadOfClamping)
{
    PIXEL_YC frame[2] = {{-32768, -32768, 32767}, {32767, 5, 0}};
    const FilterRect rect{0, 1, 0, 2, 2};
    show_range(frame, &rect);
    // 4096 - (-32768) = 36864 wraps to -28672; -(-32768) wraps to -32768.
    EXPECT_TRUE(same_pixel(frame[0], PIXEL_YC{-28672, -32768, -32767}));
    // 4096 - 32767 = -28671 stays in range; -5 is plain negation.
    EXPECT_TRUE(same_pixel(frame[1], PIXEL_YC{-28671, -5, 0}));
}

TEST_F(DriverTest, MonoStripsTheRectanglesChromaAndKeepsLuma)
{
    PluginHost host(GetFilterTable, 40, 20, 48);
    fill_pattern(host.edit(), 40, 20, 48, 2);
    const std::vector<PIXEL_YC> before(host.edit(), host.edit() + 48 * 20);
    host.check()[CHECK_LPF] = 0;
    host.check()[CHECK_MONO] = 1;
    host.track() = {3, 10, 4, 6, 0, 704, 0};
    ASSERT_TRUE(host.process(0, 1));
    for (int r = 0; r < 20; ++r)
        for (int x = 0; x < 48; ++x) {
            const PIXEL_YC& p = host.edit()[r * 48 + x];
            const PIXEL_YC& o = before[r * 48 + x];
            const bool in = r >= 4 && r < 10 && x >= 3 && x < 13;
            EXPECT_EQ(p.y, o.y);
            EXPECT_EQ(p.cb, in ? 0 : o.cb) << r << "," << x;
            EXPECT_EQ(p.cr, in ? 0 : o.cr) << r << "," << x;
        }
}

TEST_F(DriverTest, RectangleIsCutToThePicture)
{
    auto filter_rect = [](const int* track, int w, int h, int max_w) {
        const int check[7] = {0, 0, 1, 0, 0, 0, 1};
        const EffectSettings settings = editor_settings(track, check);
        return effect_rect(&settings, w, h, max_w);
    };
    int track[7] = {2000, 320, 100, 5000, 0, 704, 0};
    FilterRect rect = filter_rect(track, 720, 480, 736);
    EXPECT_EQ(rect.left, 720);
    EXPECT_EQ(rect.right, 720);
    EXPECT_EQ(rect.top, 100);
    EXPECT_EQ(rect.bottom, 480);
    EXPECT_EQ(rect.pitch, 736);

    // Damaged project values: negative edges count as 0, and no sum overflows.
    int damaged[7] = {-50, 30, INT_MIN, INT_MAX, 0, 704, 0};
    rect = filter_rect(damaged, 720, 480, 720);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.right, 30);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.bottom, 480);
    int huge[7] = {INT_MAX, INT_MAX, INT_MAX, INT_MAX, 0, 704, 0};
    rect = filter_rect(huge, 720, 480, 720);
    EXPECT_EQ(rect.left, 720);
    EXPECT_EQ(rect.right, 720);
    EXPECT_EQ(rect.top, 480);
    EXPECT_EQ(rect.bottom, 480);
    int negative_size[7] = {10, -5, 10, -5, 0, 704, 0};
    rect = filter_rect(negative_size, 720, 480, 720);
    EXPECT_TRUE(rect_is_empty(&rect));
}

TEST_F(DriverTest, LeftBeyondTheWidthLeavesTheFrameUnchanged)
{
    PluginHost host(GetFilterTable, 720, 48, 720);
    fill_pattern(host.edit(), 720, 48, 720, 3);
    const std::vector<PIXEL_YC> before(host.edit(), host.edit() + 720 * 48);
    host.track()[TRACK_LEFT] = 2000;
    host.track()[TRACK_SHIFT] = 17;
    host.check()[CHECK_CY] = 1;
    host.check()[CHECK_MONO] = 1;
    ASSERT_TRUE(host.process(0, 1));
    EXPECT_EQ(std::memcmp(before.data(), host.edit(), before.size() * sizeof(PIXEL_YC)), 0);
}

TEST_F(DriverTest, NegativeEdgesCountAsZero)
{
    const int w = 32, h = 16;
    PluginHost host(GetFilterTable, w, h, w);
    fill_pattern(host.edit(), w, h, w, 4);
    host.track() = {-7, 20, -3, 9, 0, 704, 0};
    host.check()[CHECK_MONO] = 1;
    ASSERT_TRUE(host.process(0, 1));
    // Edges at 0, width and height counted from there: the rectangle is [0, 20) x [0, 9).
    EXPECT_EQ(host.edit()[8 * w + 19].cb, 0);
    EXPECT_NE(host.edit()[8 * w + 20].cb, 0);
    EXPECT_NE(host.edit()[9 * w + 0].cb, 0);
}

TEST_F(DriverTest, ExtremeTrackValuesStayInsideTheFrame)
{
    // Out-of-range values from a damaged project must not crash or write outside the buffers.
    const int values[] = {INT_MIN, -100000, -257, 257, 100000, INT_MAX};
    for (int v : values) {
        PluginHost host(GetFilterTable, 24, 12, 24);
        fill_pattern(host.edit(), 24, 12, 24, 5);
        host.track() = {0, 24, 0, 12, v, v, v};
        host.check() = {0, 0, 1, 0, 0, 1, 1};
        EXPECT_TRUE(host.process(v & 7, 8)) << v;
    }
}

TEST_F(DriverTest, MovedFieldFollowsTheFieldOrderAndTheFramePairs)
{
    int check[7] = {0, 0, 1, 0, 0, 0, 1};
    const int track[7] = {0, 320, 0, 320, 0, 704, 0};
    auto moved_field = [&](const int* check, int32_t frame) {
        const EffectSettings settings = editor_settings(track, check);
        return ::moved_field(&settings, frame);
    };
    EXPECT_EQ(moved_field(check, 0), 0);  // TFF: the odd rows move
    EXPECT_EQ(moved_field(check, 1), 0);
    check[CHECK_TFF] = 0;
    EXPECT_EQ(moved_field(check, 0), 1);
    check[CHECK_60FPS] = 1;
    // With frame pairs the current frame's own field stays and the other moves.
    EXPECT_EQ(moved_field(check, 0), 1);
    EXPECT_EQ(moved_field(check, 1), 0);
    check[CHECK_TFF] = 1;
    EXPECT_EQ(moved_field(check, 4), 0);
    EXPECT_EQ(moved_field(check, 5), 1);
}

TEST_F(DriverTest, CopyRectTouchesOnlyTheRectangle)
{
    std::vector<PIXEL_YC> src(10 * 8), dst(10 * 8, PIXEL_YC{-1, -1, -1});
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = {static_cast<short>(i), static_cast<short>(i + 1), static_cast<short>(i + 2)};
    const FilterRect rect{2, 5, 3, 7, 10};
    copy_rect(dst.data(), src.data(), &rect);
    for (int r = 0; r < 8; ++r)
        for (int x = 0; x < 10; ++x) {
            const bool in = r >= 2 && r < 5 && x >= 3 && x < 7;
            const PIXEL_YC expected = in ? src[r * 10 + x] : PIXEL_YC{-1, -1, -1};
            EXPECT_TRUE(same_pixel(dst[r * 10 + x], expected)) << r << "," << x;
        }
    const FilterRect empty{2, 2, 0, 10, 10};
    std::vector<PIXEL_YC> untouched = dst;
    copy_rect(dst.data(), src.data(), &empty);
    EXPECT_EQ(std::memcmp(untouched.data(), dst.data(), dst.size() * sizeof(PIXEL_YC)), 0);
}

TEST_F(DriverTest, FilterExitReturnsTrueAndMayBeFollowedByMoreFrames)
{
    FILTER_DLL* filter = GetFilterTable();
    EXPECT_TRUE(filter->func_exit(filter));
    PluginHost host(GetFilterTable, 16, 8, 16);
    host.check()[CHECK_CY] = 1;
    EXPECT_TRUE(host.process(0, 1));
}
