#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/host_services.h"
#include "engine/vertical_lpf.h"
#include "hosts/aviutl/descriptor.h"
#include "hosts/aviutl/driver.h"

namespace {

// What the destination holds where the filter must not write.
constexpr int U = -12345;

// Seven pixels make 21 components a row: whole packed steps plus a last one
// that overlaps the step before. Two more pixels of pitch hold values the
// filter must neither read into the picture nor overwrite.
constexpr int width = 7;
constexpr int pitch = width + 2;
constexpr int padding_value = 31111;

class VerticalLpfColumns : public testing::TestWithParam<size_t> {
protected:
    VerticalLpfFn* variant() const { return vertical_lpf_kernel.variants[GetParam()].fn; }

    // Filters a picture whose every component column holds `column` (row 0
    // first) and returns the filtered column, after checking that all the
    // component columns came out alike and the padding was left alone.
    std::vector<int> filtered(const std::vector<int>& column) const
    {
        const int h = static_cast<int>(column.size());
        std::vector<int16_t> src(3 * pitch * h, padding_value);
        std::vector<int16_t> dst(3 * pitch * h, U);
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < 3 * width; ++c)
                src[3 * pitch * r + c] = static_cast<int16_t>(column[r]);
        }
        variant()(reinterpret_cast<PIXEL_YC*>(dst.data()),
                  reinterpret_cast<const PIXEL_YC*>(src.data()), h, width, pitch);
        std::vector<int> out(h);
        for (int r = 0; r < h; ++r) {
            const int16_t* row = &dst[3 * pitch * r];
            out[r] = row[0];
            for (int c = 1; c < 3 * width; ++c)
                EXPECT_EQ(row[c], out[r]) << "component " << c << " of row " << r;
            for (int c = 3 * width; c < 3 * pitch; ++c)
                EXPECT_EQ(row[c], U) << "padding component " << c << " of row " << r;
        }
        return out;
    }

    // h rows of `value`.
    static std::vector<int> flat(int h, int value) { return std::vector<int>(h, value); }
};

std::vector<size_t> runnable_variants()
{
    std::vector<size_t> found;
    for (size_t i = 0; i < vertical_lpf_kernel.variant_count; ++i) {
        if (cpu_can_run(vertical_lpf_kernel.variants[i].required_flags))
            found.push_back(i);
    }
    return found;
}

INSTANTIATE_TEST_SUITE_P(Variants, VerticalLpfColumns, testing::ValuesIn(runnable_variants()),
                         [](const testing::TestParamInfo<size_t>& info) {
                             return std::string(vertical_lpf_kernel.variants[info.param].name);
                         });

}  // namespace

TEST_P(VerticalLpfColumns, ImpulseSpreadsOverElevenRows)
{
    std::vector<int> column = flat(24, 0);
    column[10] = 1000;
    EXPECT_EQ(filtered(column), (std::vector<int>{U, 0, 0, 0, 0, 16, -44, 82, -122, 152, 832, 152,
                                                  -122, 82, -44, 16, 0, 0, 0, 0, 0, 0, 0, U}));
}

TEST_P(VerticalLpfColumns, StepRoundsHalfUpSoNegatingItNeedNotNegateTheOutput)
{
    std::vector<int> up = flat(24, 0);
    std::vector<int> down = flat(24, 0);
    for (int r = 12; r < 24; ++r) {
        up[r] = 4096;
        down[r] = -4096;
    }
    EXPECT_EQ(filtered(up), (std::vector<int>{U, 0, 0, 0, 0, 0, 0, 65, -115, 221, -278, 345, 3752,
                                              4374, 3875, 4212, 4031, 4096, 4096, 4096, 4096,
                                              4096, 4096, U}));
    const std::vector<int> out = filtered(down);
    EXPECT_EQ(out[11], -344);
    EXPECT_EQ(out[8], 116);
    for (int r = 1; r <= 6; ++r)
        EXPECT_EQ(out[r], 0) << "row " << r;
    for (int r = 17; r <= 22; ++r)
        EXPECT_EQ(out[r], -4096) << "row " << r;
}

TEST_P(VerticalLpfColumns, AlternatingRowsComeOutNearTheirMeanExceptAtTheClampedEdges)
{
    std::vector<int> column(24);
    for (int r = 0; r < 24; ++r)
        column[r] = r % 2 == 0 ? 4096 : 0;
    EXPECT_EQ(filtered(column),
              (std::vector<int>{U, 1024, 2728, 1646, 2229, 1983, 2048, 2048, 2048, 2048, 2048, 2048,
                                2048, 2048, 2048, 2048, 2048, 2048, 2113, 1868, 2450, 1368, 3072,
                                U}));
}

TEST_P(VerticalLpfColumns, FlatColumnsKeepTheirValueUntilThePairSumsSaturate)
{
    for (int value : {-16386, -4096, -1, 0, 1, 2048, 4096, 16386}) {
        std::vector<int> expected = flat(16, value);
        expected.front() = expected.back() = U;
        EXPECT_EQ(filtered(flat(16, value)), expected) << "flat " << value;
    }
    const int saturating[][2] = {{16400, 16397},   {20000, 19392},   {32767, 30011},
                                 {-16400, -16397}, {-32768, -30012}};
    for (const auto& [value, result] : saturating) {
        std::vector<int> expected = flat(16, result);
        expected.front() = expected.back() = U;
        EXPECT_EQ(filtered(flat(16, value)), expected) << "flat " << value;
    }
}

TEST_P(VerticalLpfColumns, ExtremePatternSaturatesTheResult)
{
    // Row 10 and the rows 1, 3 and 5 away at one extreme, the rows 2 and 4
    // away at the other: q is 40881, or -40882 the other way round.
    std::vector<int> high = flat(24, 0);
    std::vector<int> low = flat(24, 0);
    for (int d = -5; d <= 5; ++d) {
        const bool even = d % 2 == 0 && d != 0;
        high[10 + d] = even ? -32768 : 32767;
        low[10 + d] = even ? 32767 : -32768;
    }
    EXPECT_EQ(filtered(high)[10], 32767);
    EXPECT_EQ(filtered(low)[10], -32768);
}

TEST_P(VerticalLpfColumns, ThreeAndFourRowsUseOnlyTheInnerRows)
{
    EXPECT_EQ(filtered({100, 200, 300}), (std::vector<int>{U, 200, U}));
    EXPECT_EQ(filtered({0, 1000, 3000, 5}), (std::vector<int>{U, 1168, 2832, U}));
    EXPECT_EQ(filtered({-32768, 1000, 3000, 32767}), (std::vector<int>{U, 1168, 2832, U}));
}

TEST_P(VerticalLpfColumns, FirstAndLastSourceRowsAreNeverRead)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> value(-32768, 32767);
    for (int h : {5, 12, 13, 24}) {
        std::vector<int> column(h);
        for (int& v : column)
            v = value(random);
        const std::vector<int> out = filtered(column);
        column.front() = value(random);
        column.back() = value(random);
        EXPECT_EQ(filtered(column), out) << "h " << h;
    }
}

TEST_P(VerticalLpfColumns, OneOrTwoRowsOrNoWidthLeaveEverythingAlone)
{
    // Nothing may be read or written: no buffer at all must do.
    variant()(nullptr, nullptr, 1, width, pitch);
    variant()(nullptr, nullptr, 2, width, pitch);
    variant()(nullptr, nullptr, 0, width, pitch);
    EXPECT_EQ(filtered({5}), (std::vector<int>{U}));
    EXPECT_EQ(filtered({5, 6}), (std::vector<int>{U, U}));

    std::vector<int16_t> src(3 * pitch * 12, 1000);
    for (int w : {0, -1}) {
        std::vector<int16_t> dst(src.size(), U);
        variant()(reinterpret_cast<PIXEL_YC*>(dst.data()),
                  reinterpret_cast<const PIXEL_YC*>(src.data()), 12, w, pitch);
        EXPECT_EQ(dst, std::vector<int16_t>(src.size(), U)) << "w " << w;
    }
}

TEST_P(VerticalLpfColumns, EveryComponentIsAColumnOfItsOwn)
{
    // An impulse in the cb of pixel 3 reaches nothing but that column.
    constexpr int h = 24;
    constexpr int impulse = 3 * 3 + 1;
    std::vector<int16_t> src(3 * pitch * h, 0);
    std::vector<int16_t> dst(src.size(), U);
    src[3 * pitch * 10 + impulse] = 1000;
    variant()(reinterpret_cast<PIXEL_YC*>(dst.data()),
              reinterpret_cast<const PIXEL_YC*>(src.data()), h, width, pitch);
    for (int r = 1; r < h - 1; ++r) {
        for (int c = 0; c < 3 * width; ++c) {
            if (c != impulse) {
                EXPECT_EQ(dst[3 * pitch * r + c], 0) << "component " << c << " of row " << r;
            }
        }
    }
    EXPECT_EQ(dst[3 * pitch * 10 + impulse], 832);
}

namespace {

constexpr int picture_w = 40;
constexpr int picture_h = 30;
constexpr int picture_pitch = 44;

std::vector<PIXEL_YC> noise_picture(unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> luma(0, 4096);
    std::uniform_int_distribution<int> chroma(-2048, 2048);
    std::vector<PIXEL_YC> frame(picture_pitch * picture_h);
    for (PIXEL_YC& p : frame)
        p = {static_cast<short>(luma(random)), static_cast<short>(chroma(random)),
             static_cast<short>(chroma(random))};
    return frame;
}

struct Rect {
    int left, width, top, height;
};

// The frame after filter_proc with the default settings ("LPF" on, no
// shift) and the rectangle `rect`.
std::vector<PIXEL_YC> through_filter(const std::vector<PIXEL_YC>& frame, Rect rect)
{
    PluginHost host(GetFilterTable, picture_w, picture_h, picture_pitch);
    host.track()[TRACK_LEFT] = rect.left;
    host.track()[TRACK_WIDTH] = rect.width;
    host.track()[TRACK_TOP] = rect.top;
    host.track()[TRACK_HEIGHT] = rect.height;
    EXPECT_NE(host.check()[CHECK_LPF], 0);
    std::copy(frame.begin(), frame.end(), host.edit());
    EXPECT_EQ(host.process(0, 1), TRUE);
    return std::vector<PIXEL_YC>(host.edit(), host.edit() + frame.size());
}

bool same_pixel(const PIXEL_YC& a, const PIXEL_YC& b)
{
    return a.y == b.y && a.cb == b.cb && a.cr == b.cr;
}

// Whether any pixel of the rectangle differs between a and b.
bool rect_differs(const std::vector<PIXEL_YC>& a, const std::vector<PIXEL_YC>& b, Rect rect)
{
    for (int r = rect.top; r < rect.top + rect.height; ++r) {
        for (int x = rect.left; x < rect.left + rect.width; ++x) {
            if (!same_pixel(a[r * picture_pitch + x], b[r * picture_pitch + x]))
                return true;
        }
    }
    return false;
}

// Sets every pixel of row r to a value the noise never has.
void mark_row(std::vector<PIXEL_YC>& frame, int r)
{
    for (int x = 0; x < picture_w; ++x)
        frame[r * picture_pitch + x] = {-5000, 3000, -3000};
}

}  // namespace

TEST(VerticalLpfInDriver, OnlyTheRectangleTakesTheFilteredValues)
{
    const Rect rect = {5, 20, 8, 12};
    const std::vector<PIXEL_YC> frame = noise_picture(1);
    std::vector<PIXEL_YC> filtered(frame.size(), PIXEL_YC{0, 0, 0});
    vertical_lpf_c(filtered.data(), frame.data(), picture_h, picture_w, picture_pitch);

    const std::vector<PIXEL_YC> out = through_filter(frame, rect);
    int changed = 0;
    for (int r = 0; r < picture_h; ++r) {
        for (int x = 0; x < picture_pitch; ++x) {
            const size_t i = r * picture_pitch + x;
            const bool inside = r >= rect.top && r < rect.top + rect.height && x >= rect.left &&
                                x < rect.left + rect.width;
            const PIXEL_YC& expected = inside ? filtered[i] : frame[i];
            EXPECT_TRUE(same_pixel(out[i], expected)) << "pixel " << x << " of row " << r;
            changed += !same_pixel(out[i], frame[i]);
        }
    }
    EXPECT_GT(changed, rect.width * rect.height / 2);
}

TEST(VerticalLpfInDriver, RowsUpToFiveAwayFromTheRectangleReachIt)
{
    const Rect rect = {5, 20, 8, 12};
    const std::vector<PIXEL_YC> frame = noise_picture(2);
    const std::vector<PIXEL_YC> plain = through_filter(frame, rect);
    const int last = rect.top + rect.height - 1;
    for (int r : {rect.top - 5, rect.top - 1, last + 1, last + 5}) {
        std::vector<PIXEL_YC> marked = frame;
        mark_row(marked, r);
        EXPECT_TRUE(rect_differs(through_filter(marked, rect), plain, rect)) << "row " << r;
    }
    for (int r : {rect.top - 6, last + 6}) {
        std::vector<PIXEL_YC> marked = frame;
        mark_row(marked, r);
        EXPECT_FALSE(rect_differs(through_filter(marked, rect), plain, rect)) << "row " << r;
    }
    // Columns beside the rectangle, in its own rows, play no part either.
    std::vector<PIXEL_YC> beside = frame;
    for (int r = rect.top; r < rect.top + rect.height; ++r) {
        beside[r * picture_pitch + rect.left - 1] = {-5000, 3000, -3000};
        beside[r * picture_pitch + rect.left + rect.width] = {-5000, 3000, -3000};
    }
    EXPECT_FALSE(rect_differs(through_filter(beside, rect), plain, rect));
}

TEST(VerticalLpfInDriver, FirstAndLastPictureRowsInsideTheRectangleStayAsTheyWere)
{
    const Rect whole = {0, picture_w, 0, picture_h};
    const std::vector<PIXEL_YC> frame = noise_picture(3);
    const std::vector<PIXEL_YC> out = through_filter(frame, whole);
    for (int r : {0, picture_h - 1}) {
        for (int x = 0; x < picture_w; ++x)
            EXPECT_TRUE(same_pixel(out[r * picture_pitch + x], frame[r * picture_pitch + x]))
                << "pixel " << x << " of row " << r;
    }
    EXPECT_TRUE(rect_differs(out, frame, {0, picture_w, 1, picture_h - 2}));
}
