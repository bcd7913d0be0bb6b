#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <vector>

#include "tests/host_services.h"
#include "engine/field_shift.h"
#include "engine/shift_kernel.h"
#include "hosts/aviutl/descriptor.h"
#include "hosts/aviutl/driver.h"

// At global scope, where the assertions find them next to PIXEL_YC.
static bool operator==(const PIXEL_YC& a, const PIXEL_YC& b)
{
    return a.y == b.y && a.cb == b.cb && a.cr == b.cr;
}

static std::ostream& operator<<(std::ostream& out, const PIXEL_YC& p)
{
    return out << "(" << p.y << ", " << p.cb << ", " << p.cr << ")";
}

namespace {

using Weights = std::array<int32_t, 4>;

const Weights half_line = {18432, 18432, -2048, -2048};  // phase 8

// What src holds above and below the frame, and what dst holds before the
// stage runs: a pixel read from outside the frame, or written outside the
// rectangle, shows up as one of these.
constexpr PIXEL_YC beyond_frame = {12345, -12345, 23456};
constexpr PIXEL_YC unwritten = {-7777, 7777, -7777};

// A frame of h rows of pitch pixels, w of them in the picture, with guard
// rows before row 0 and after row h - 1 in the same allocation.
struct Frame {
    static constexpr int guard_rows = 4;
    int w, h, pitch;
    std::vector<PIXEL_YC> storage;

    Frame(int w, int h, int pitch, PIXEL_YC fill)
        : w(w), h(h), pitch(pitch), storage(static_cast<size_t>(h + 2 * guard_rows) * pitch, fill)
    {
    }
    PIXEL_YC* rows() { return storage.data() + guard_rows * pitch; }
    const PIXEL_YC* rows() const { return storage.data() + guard_rows * pitch; }
    PIXEL_YC& at(int x, int row) { return rows()[row * pitch + x]; }
    const PIXEL_YC& at(int x, int row) const { return rows()[row * pitch + x]; }
};

// A source frame whose rows and columns all differ; guard rows hold beyond_frame.
Frame patterned_source(int w, int h, int pitch)
{
    Frame src(w, h, pitch, beyond_frame);
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < pitch; ++x)
            src.at(x, r) = {static_cast<short>(100 * r + x), static_cast<short>(-50 * r - x),
                            static_cast<short>(7 * r + 3 * x)};
    return src;
}

Frame blank_destination(const Frame& src)
{
    return Frame(src.w, src.h, src.pitch, unwritten);
}

FilterRect rect_of(int top, int bottom, int left, int right, int pitch)
{
    return FilterRect{top, bottom, left, right, pitch};
}

void shift_whole(Frame& dst, const Frame& src, const FilterRect& rect, int v, int moved_field)
{
    shift_field_whole(dst.rows(), src.rows(), &rect, v, moved_field);
}

void shift_fraction(Frame& dst, const Frame& src, const FilterRect& rect, int v, int moved_field,
                    const Weights& kernel)
{
    shift_field_fraction(dst.rows(), src.rows(), &rect, v, moved_field, kernel.data());
}

// Empty when the two frames agree everywhere, guard rows included; otherwise
// the first difference.
std::string first_difference(const Frame& actual, const Frame& expected)
{
    for (size_t i = 0; i < actual.storage.size(); ++i) {
        if (actual.storage[i] == expected.storage[i])
            continue;
        const long row = static_cast<long>(i / actual.pitch) - Frame::guard_rows;
        std::ostringstream out;
        out << "row " << row << " column " << i % actual.pitch << ": " << actual.storage[i]
            << ", expected " << expected.storage[i];
        return out.str();
    }
    return "";
}

// Checks the rectangle's columns of dst row `row` against src row `from`.
void expect_row_copied(const Frame& dst, int row, const Frame& src, int from, const FilterRect& rect)
{
    for (int x = rect.left; x < rect.right; ++x)
        EXPECT_EQ(dst.at(x, row), src.at(x, from)) << "row " << row << " column " << x;
}

// Checks that dst holds `unwritten` everywhere outside the rectangle.
void expect_only_rect_written(const Frame& dst, const FilterRect& rect)
{
    for (size_t i = 0; i < dst.storage.size(); ++i) {
        const long row = static_cast<long>(i / dst.pitch) - Frame::guard_rows;
        const long x = static_cast<long>(i % dst.pitch);
        const bool inside = row >= rect.top && row < rect.bottom && x >= rect.left && x < rect.right;
        if (!inside) {
            ASSERT_EQ(dst.storage[i], unwritten) << "row " << row << " column " << x;
        }
    }
}

short wrap16(long long value)
{
    long long low = value % 65536;
    if (low < 0)
        low += 65536;
    return static_cast<short>(low >= 32768 ? low - 65536 : low);
}

long long floor_div(long long a, long long b)
{
    long long q = a / b;
    if (a % b != 0 && ((a < 0) != (b < 0)))
        --q;
    return q;
}

// The stage written out from its description, separately from the code
// under test. Moved rows read the row v/8 frame rows away (whole lines) or
// the four field rows at 2n, 2n + 2, 2n + 4, 2n + 6 (fractions), in the
// direction of the moved field; a tap beyond the rectangle slides back to the
// nearest row of its field inside it, and a moved row whose source (or
// centre tap) is outside is the average of its other-field neighbours inside
// the rectangle.
Frame model_shift(const Frame& src, const FilterRect& rect, int v, int moved_field,
                  const Weights& kernel)
{
    Frame out = blank_destination(src);
    if (rect.top >= rect.bottom || rect.left >= rect.right)
        return out;
    const int sigma = moved_field != 0 ? 1 : -1;
    const int moved_parity = moved_field != 0 ? 0 : 1;
    auto inside = [&](long long r) { return r >= rect.top && r < rect.bottom; };
    auto component = [](const PIXEL_YC& p, int c) -> int { return c == 0 ? p.y : c == 1 ? p.cb : p.cr; };
    auto set_component = [](PIXEL_YC& p, int c, short value) {
        (c == 0 ? p.y : c == 1 ? p.cb : p.cr) = value;
    };
    auto copy = [&](int row, long long from) {
        for (int x = rect.left; x < rect.right; ++x)
            out.at(x, row) = src.at(x, static_cast<int>(from));
    };
    auto gap_fill = [&](int row) {
        std::vector<int> neighbours;
        for (int r : {row - 1, row + 1})
            if (inside(r))
                neighbours.push_back(r);
        if (neighbours.empty()) {  // one-row rectangle: the row stays as it is
            copy(row, row);
            return;
        }
        if (neighbours.size() == 1)
            neighbours.push_back(neighbours[0]);
        for (int x = rect.left; x < rect.right; ++x)
            for (int c = 0; c < 3; ++c) {
                const double sum = component(src.at(x, neighbours[0]), c) +
                                   component(src.at(x, neighbours[1]), c) + 1;
                set_component(out.at(x, row), c, static_cast<short>(std::trunc(sum / 2)));
            }
    };
    auto slide_into_rect = [&](long long r) {
        while (r < rect.top)
            r += 2;
        while (r >= rect.bottom)
            r -= 2;
        return static_cast<int>(r);
    };

    for (int i = rect.top; i < rect.bottom; ++i) {
        if ((i & 1) != moved_parity) {
            copy(i, i);
            continue;
        }
        if (v % 16 == 0) {
            const long long from = i + static_cast<long long>(sigma) * (v / 8);
            if (inside(from))
                copy(i, from);
            else
                gap_fill(i);
            continue;
        }
        const long long n = floor_div(v, 16);
        const long long centre = i + sigma * (2 * n + 2);
        if (!inside(centre)) {
            gap_fill(i);
            continue;
        }
        int taps[4];
        for (int k = 0; k < 4; ++k)
            taps[k] = slide_into_rect(i + sigma * (2 * n + 2 * k));
        for (int x = rect.left; x < rect.right; ++x)
            for (int c = 0; c < 3; ++c) {
                long long acc = 0x4000;
                for (int k = 0; k < 4; ++k)
                    acc += static_cast<long long>(component(src.at(x, taps[k]), c)) * kernel[k];
                set_component(out.at(x, i), c, wrap16(floor_div(acc, 32768)));
            }
    }
    return out;
}

Weights kernel_for(int v)
{
    Weights w{};
    build_shift_kernel(w.data(), v);
    return w;
}

// Runs the stage the way the driver picks it for v.
void shift_like_the_driver(Frame& dst, const Frame& src, const FilterRect& rect, int v,
                           int moved_field)
{
    if ((v & 15) != 0)
        shift_fraction(dst, src, rect, v, moved_field, kernel_for(v));
    else
        shift_whole(dst, src, rect, v, moved_field);
}

}  // namespace

// --- No shift, empty rectangles -------------------------------------------

TEST(FieldShift, ZeroShiftLeavesTheRectangleExactlyAsItWas)
{
    const Frame src = patterned_source(12, 14, 15);
    const FilterRect rect = rect_of(3, 12, 2, 9, 15);
    for (int field : {0, 1}) {
        Frame dst = blank_destination(src);
        shift_whole(dst, src, rect, 0, field);
        for (int r = rect.top; r < rect.bottom; ++r)
            expect_row_copied(dst, r, src, r, rect);
        expect_only_rect_written(dst, rect);
    }
}

TEST(FieldShift, EmptyRectangleWritesNothing)
{
    const Frame src = patterned_source(8, 10, 8);
    const FilterRect empties[] = {rect_of(4, 4, 0, 8, 8), rect_of(6, 2, 0, 8, 8),
                                  rect_of(0, 10, 5, 5, 8), rect_of(0, 10, 7, 3, 8)};
    for (const FilterRect& rect : empties)
        for (int v : {0, 16, -256, 8, -5, 255}) {
            Frame dst = blank_destination(src);
            shift_like_the_driver(dst, src, rect, v, 1);
            EXPECT_EQ(first_difference(dst, blank_destination(src)), "")
                << "rect " << rect.top << ".." << rect.bottom << " x " << rect.left << ".."
                << rect.right << ", v " << v;
        }
}

// --- Whole field lines -------------------------------------------------------

TEST(FieldShift, WholeLineWithEvenFieldMovingTakesRowsFromBelow)
{
    // The frame goes on below the rectangle, so reading row 10 would show.
    const Frame src = patterned_source(6, 14, 6);
    const FilterRect rect = rect_of(0, 10, 0, 6, 6);
    Frame dst = blank_destination(src);
    shift_whole(dst, src, rect, 16, 1);
    for (int r : {0, 2, 4, 6})
        expect_row_copied(dst, r, src, r + 2, rect);
    for (int r : {1, 3, 5, 7, 9})
        expect_row_copied(dst, r, src, r, rect);
    // Row 8 would need row 10: it is the average of rows 7 and 9.
    for (int x = 0; x < 6; ++x) {
        EXPECT_EQ(dst.at(x, 8).y, (src.at(x, 7).y + src.at(x, 9).y + 1) / 2);
        EXPECT_EQ(dst.at(x, 8).cb, (src.at(x, 7).cb + src.at(x, 9).cb + 1) / 2);
        EXPECT_EQ(dst.at(x, 8).cr, (src.at(x, 7).cr + src.at(x, 9).cr + 1) / 2);
    }
    EXPECT_EQ(dst.at(0, 8), (PIXEL_YC{800, -399, 56}));
    expect_only_rect_written(dst, rect);
}

TEST(FieldShift, WholeLineWithOddFieldMovingTakesRowsFromAbove)
{
    const Frame src = patterned_source(6, 12, 6);
    const FilterRect rect = rect_of(0, 10, 0, 6, 6);
    Frame dst = blank_destination(src);
    shift_whole(dst, src, rect, 16, 0);
    for (int r : {3, 5, 7, 9})
        expect_row_copied(dst, r, src, r - 2, rect);
    for (int r : {0, 2, 4, 6, 8})
        expect_row_copied(dst, r, src, r, rect);
    // Row 1 would need row -1: it is the average of rows 0 and 2.
    EXPECT_EQ(dst.at(0, 1), (PIXEL_YC{100, -49, 7}));
    EXPECT_EQ(dst.at(5, 1), (PIXEL_YC{105, -54, 22}));
    expect_only_rect_written(dst, rect);
}

TEST(FieldShift, NegativeWholeLinesReverseTheDirection)
{
    const Frame src = patterned_source(5, 16, 7);
    const FilterRect rect = rect_of(2, 14, 1, 4, 7);

    Frame even = blank_destination(src);
    shift_whole(even, src, rect, -32, 1);  // even rows take the row four above
    for (int r : {6, 8, 10, 12})
        expect_row_copied(even, r, src, r - 4, rect);
    EXPECT_EQ(even.at(1, 2), (PIXEL_YC{301, -150, 24}));  // row 1 outside: rows 3 and 3
    EXPECT_EQ(even.at(1, 4), (PIXEL_YC{401, -200, 31}));  // rows 3 and 5

    Frame odd = blank_destination(src);
    shift_whole(odd, src, rect, -32, 0);  // odd rows take the row four below
    for (int r : {3, 5, 7, 9})
        expect_row_copied(odd, r, src, r + 4, rect);
    EXPECT_EQ(odd.at(1, 11), (PIXEL_YC{1101, -550, 80}));  // rows 10 and 12
    EXPECT_EQ(odd.at(1, 13), (PIXEL_YC{1201, -600, 87}));  // row 14 outside: rows 12 and 12
    expect_only_rect_written(even, rect);
    expect_only_rect_written(odd, rect);
}

TEST(FieldShift, FullRangeShiftGapFillsEveryMovedRowOfAShortRectangle)
{
    const Frame src = patterned_source(4, 40, 4);
    const FilterRect rect = rect_of(0, 32, 0, 4, 4);
    for (int v : {256, -256})
        for (int field : {0, 1}) {
            Frame dst = blank_destination(src);
            shift_whole(dst, src, rect, v, field);
            for (int r = field ? 0 : 1; r < 32; r += 2) {
                const int a = r - 1 >= 0 ? r - 1 : r + 1;
                const int b = r + 1 < 32 ? r + 1 : r - 1;
                EXPECT_EQ(dst.at(2, r).y, (src.at(2, a).y + src.at(2, b).y + 1) / 2)
                    << "v " << v << " row " << r;
            }
        }
}

TEST(FieldShift, FullRangeShiftMovesSixteenFieldLines)
{
    const Frame src = patterned_source(4, 40, 4);
    const FilterRect rect = rect_of(0, 40, 0, 4, 4);
    Frame down = blank_destination(src);
    shift_whole(down, src, rect, 256, 1);
    for (int r = 0; r < 8; r += 2)
        expect_row_copied(down, r, src, r + 32, rect);
    Frame up = blank_destination(src);
    shift_whole(up, src, rect, -256, 1);
    for (int r = 32; r < 40; r += 2)
        expect_row_copied(up, r, src, r - 32, rect);
}

// --- Gap fill ------------------------------------------------------------

TEST(FieldShift, GapFillAtTheFirstRowAveragesTheRowBelowWithItself)
{
    // Odd rows moving by one field line down: row 1, first of the
    // rectangle, would need row -1.
    Frame src = patterned_source(4, 8, 4);
    src.at(0, 2) = {-3, -4, -1};
    src.at(1, 2) = {5, 0, -32768};
    const FilterRect rect = rect_of(1, 7, 0, 4, 4);
    Frame dst = blank_destination(src);
    shift_whole(dst, src, rect, 16, 0);
    // Non-negative components come through, negative ones come out one greater.
    EXPECT_EQ(dst.at(0, 1), (PIXEL_YC{-2, -3, 0}));
    EXPECT_EQ(dst.at(1, 1), (PIXEL_YC{5, 0, -32767}));
    expect_only_rect_written(dst, rect);
}

TEST(FieldShift, GapFillAtTheLastRowAveragesTheRowAboveWithItself)
{
    // Even rows moving by one field line up: row 8, last of the rectangle,
    // would need row 10.
    Frame src = patterned_source(3, 10, 3);
    src.at(2, 7) = {-3, 32767, -4};
    const FilterRect rect = rect_of(0, 9, 1, 3, 3);
    Frame dst = blank_destination(src);
    shift_whole(dst, src, rect, 16, 1);
    EXPECT_EQ(dst.at(2, 8), (PIXEL_YC{-2, 32767, -3}));
    expect_only_rect_written(dst, rect);
}

TEST(FieldShift, GapFillRoundsHalfUpAndTruncatesNegativeSumsTowardZero)
{
    Frame src = patterned_source(4, 10, 4);
    src.at(0, 7) = {-3, -2, 3};
    src.at(0, 9) = {-4, -2, 4};
    src.at(1, 7) = {-32768, 32767, 0};
    src.at(1, 9) = {-32768, 32767, -1};
    const FilterRect rect = rect_of(0, 10, 0, 4, 4);
    Frame dst = blank_destination(src);
    shift_whole(dst, src, rect, 16, 1);  // row 8 is the gap fill of rows 7 and 9
    EXPECT_EQ(dst.at(0, 8), (PIXEL_YC{-3, -1, 4}));
    EXPECT_EQ(dst.at(1, 8), (PIXEL_YC{-32767, 32767, 0}));
}

TEST(FieldShift, OneRowRectangleNeedingTheGapFillKeepsItsRowAndReadsNoOtherRow)
{
    // Guard rows around the frame and distinct rows next to the rectangle:
    // reading row -1, row h or any neighbour would change the result.
    struct Case {
        int h, top, v, moved_field;
    };
    const Case cases[] = {
        // The first row of the frame, even and odd field.
        {9, 0, 16, 1}, {9, 0, -16, 1}, {9, 0, 8, 1}, {9, 0, 3, 1}, {9, 0, -256, 1},
        {9, 1, 16, 0}, {9, 1, 8, 0}, {9, 1, -16, 0}, {9, 1, -17, 0},
        // The last row of the frame: even in a 9-row frame, odd in a 10-row one.
        {9, 8, 16, 1}, {9, 8, -32, 1}, {9, 8, 8, 1}, {9, 8, 17, 1}, {9, 8, 256, 1},
        {10, 9, -16, 0}, {10, 9, 16, 0}, {10, 9, -8, 0}, {10, 9, -255, 0}, {10, 9, 1, 0},
        // Inside the frame.
        {9, 3, 256, 0}, {9, 4, 255, 1}, {9, 4, -256, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "h " << c.h << ", top " << c.top << ", v " << c.v
                                          << ", moved_field " << c.moved_field);
        const Frame src = patterned_source(5, c.h, 6);
        const FilterRect rect = rect_of(c.top, c.top + 1, 1, 5, 6);
        Frame dst = blank_destination(src);
        shift_like_the_driver(dst, src, rect, c.v, c.moved_field);
        expect_row_copied(dst, c.top, src, c.top, rect);
        expect_only_rect_written(dst, rect);
    }
}

TEST(FieldShift, OneRowRectangleOfTheFieldThatStaysIsCopied)
{
    const Frame src = patterned_source(5, 6, 5);
    const FilterRect rect = rect_of(5, 6, 0, 5, 5);  // odd row 5, even field moving
    Frame dst = blank_destination(src);
    shift_fraction(dst, src, rect, 8, 1, half_line);
    expect_row_copied(dst, 5, src, 5, rect);
    expect_only_rect_written(dst, rect);
}

// --- Fractions of a field line ---------------------------------------------

TEST(FieldShift, HalfLineBothNegativeTapsLieBeyondTheCentre)
{
    // Column 1 holds 1000, 2000, 3000, 4000 in rows 0, 2, 4, 6:
    // (18432*1000 + 18432*2000 - 2048*3000 - 2048*4000 + 16384) >> 15 = 1250.
    Frame src = patterned_source(4, 10, 4);
    src.at(1, 0).y = 1000;
    src.at(1, 2).y = 2000;
    src.at(1, 4).y = 3000;
    src.at(1, 6).y = 4000;
    const FilterRect rect = rect_of(0, 10, 0, 4, 4);
    Frame dst = blank_destination(src);
    shift_fraction(dst, src, rect, 8, 1, half_line);
    EXPECT_EQ(dst.at(1, 0).y, 1250);
}

TEST(FieldShift, TapsBeyondTheRectangleSlideBackTowardTheCentre)
{
    // Rectangle rows 0..9 of a 14-row frame; rows 10 and 12 hold values that
    // would show if they were read.
    Frame src = patterned_source(3, 14, 3);
    src.at(0, 6).y = 600;
    src.at(0, 8).y = 800;
    src.at(0, 10).y = 30000;
    src.at(0, 12).y = -30000;
    const FilterRect rect = rect_of(0, 10, 0, 3, 3);
    Frame dst = blank_destination(src);
    shift_fraction(dst, src, rect, 8, 1, half_line);
    // Row 6: centre 8, taps 6, 8, 8, 8:
    // (18432*600 + 18432*800 - 2048*800 - 2048*800 + 16384) >> 15 = 688.
    EXPECT_EQ(dst.at(0, 6).y, 688);
    // Row 8: centre 10 is outside, so it is the gap fill of rows 7 and 9.
    EXPECT_EQ(dst.at(0, 8), (PIXEL_YC{800, -399, 56}));
    expect_only_rect_written(dst, rect);
}

TEST(FieldShift, NearTapBeforeTheRectangleSlidesToTheCentre)
{
    // v = -8, even field, top = 0: row 0 has centre 0 and reads rows 0, 0, 2, 4.
    // (18432*-501 + 18432*-501 - 2048*300 - 2048*-700 + 16384) >> 15
    //   = -17633280 >> 15 = -539 (floor of -538.1).
    Frame src = patterned_source(2, 8, 2);
    src.at(0, 0).y = -501;
    src.at(0, 2).y = 300;
    src.at(0, 4).y = -700;
    const FilterRect rect = rect_of(0, 8, 0, 2, 2);
    Frame dst = blank_destination(src);
    shift_fraction(dst, src, rect, -8, 1, half_line);
    EXPECT_EQ(dst.at(0, 0).y, -539);
}

TEST(FieldShift, OddFieldTapsRunUpwardAndSlideBackAtTheTop)
{
    // v = 8, odd field: row i has centre i - 2 and taps i, i - 2, i - 4, i - 6.
    Frame src = patterned_source(2, 12, 2);
    const FilterRect rect = rect_of(0, 12, 0, 2, 2);
    src.at(0, 1).y = 1000;
    src.at(0, 3).y = 2000;
    src.at(0, 5).y = 3000;
    src.at(0, 7).y = 4000;
    Frame dst = blank_destination(src);
    shift_fraction(dst, src, rect, 8, 0, half_line);
    // Row 7 reads 7, 5, 3, 1: (18432*4000 + 18432*3000 - 2048*2000 - 2048*1000 + 16384) >> 15.
    EXPECT_EQ(dst.at(0, 7).y, 3750);
    // Row 3 reads 3, 1, 1, 1: (18432*2000 + 18432*1000 - 4096*1000 + 16384) >> 15.
    EXPECT_EQ(dst.at(0, 3).y, 1563);
    // Row 1 has centre -1: gap fill of rows 0 and 2.
    EXPECT_EQ(dst.at(0, 1), (PIXEL_YC{100, -49, 7}));
}

TEST(FieldShift, SmallNegativeFractionsNeverGapFill)
{
    // For -15 <= v <= -1 the centre is the row itself. The field that stays
    // holds 30000 everywhere, so a gap-filled row would stand out.
    for (int field : {0, 1}) {
        Frame src = patterned_source(3, 10, 3);
        const int moved_parity = field ? 0 : 1;
        for (int r = 0; r < 10; ++r)
            if ((r & 1) != moved_parity)
                for (int x = 0; x < 3; ++x)
                    src.at(x, r) = {30000, 30000, 30000};
        const FilterRect rect = rect_of(0, 10, 0, 3, 3);
        for (int v = -15; v <= -1; ++v) {
            Frame dst = blank_destination(src);
            shift_fraction(dst, src, rect, v, field, kernel_for(v));
            for (int r = moved_parity; r < 10; r += 2)
                EXPECT_LT(dst.at(1, r).y, 2000) << "v " << v << " row " << r;
        }
    }
}

TEST(FieldShift, CentreOutsideTheRectangleGapFillsEvenWhenTheNearTapIsInside)
{
    // v = 1, even field, rows 0..7: row 6 has its near tap at 6 but its
    // centre at 8, outside.
    const Frame src = patterned_source(2, 10, 2);
    const FilterRect rect = rect_of(0, 8, 0, 2, 2);
    Frame dst = blank_destination(src);
    shift_fraction(dst, src, rect, 1, 1, kernel_for(1));
    EXPECT_EQ(dst.at(1, 6), (PIXEL_YC{601, -300, 45}));  // rows 5 and 7
}

TEST(FieldShift, FractionalResultsWrapInsteadOfSaturating)
{
    // Positive taps at the top of the range and negative taps at the bottom:
    // 36864*32767 + 4096*32768 + 16384 = 1342156800, >> 15 = 40959 -> -24577.
    Frame src(1, 8, 1, beyond_frame);
    for (int r = 0; r < 8; ++r)
        src.at(0, r) = {0, 0, 0};
    src.at(0, 0) = {32767, -32768, 100};
    src.at(0, 2) = {32767, -32768, 100};
    src.at(0, 4) = {-32768, 32767, 100};
    src.at(0, 6) = {-32768, 32767, 100};
    const FilterRect rect = rect_of(0, 8, 0, 1, 1);
    Frame dst = blank_destination(src);
    shift_fraction(dst, src, rect, 8, 1, half_line);
    // cb: -1342156800 >> 15 = -40960 -> 24576; cr: 100 * 32768 + 16384 >> 15 = 100.
    EXPECT_EQ(dst.at(0, 0), (PIXEL_YC{-24577, 24576, 100}));
}

TEST(FieldShift, SourceFrameIsNeverWritten)
{
    const Frame original = patterned_source(7, 20, 9);
    Frame src = original;
    const FilterRect rect = rect_of(2, 18, 1, 6, 9);
    for (int v : {0, 16, -48, 256, 1, -5, 8, 255, -255}) {
        Frame dst = blank_destination(src);
        shift_like_the_driver(dst, src, rect, v, v & 1);
    }
    EXPECT_EQ(first_difference(src, original), "");
}

// --- Against the model -------------------------------------------------------

TEST(FieldShift, RandomFramesMatchTheModel)
{
    std::mt19937 random(20240607);
    auto uniform = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const int interesting[] = {0, 1, -1, 8, -8, 15, -15, 16, -16, 17, -17, 31, 32, -32, 255, -255, 256, -256};
    for (int round = 0; round < 3000; ++round) {
        const int w = uniform(1, 9);
        const int h = uniform(1, 40);
        const int pitch = w + uniform(0, 3);
        const int top = uniform(0, h);
        const int bottom = uniform(0, 3) == 0 ? h : uniform(top, h);
        const int left = uniform(0, w);
        const int right = uniform(0, 3) == 0 ? w : uniform(left, w);
        const FilterRect rect = rect_of(top, bottom, left, right, pitch);
        const int v = uniform(0, 2) == 0 ? interesting[uniform(0, 17)] : uniform(-256, 256);
        // Any non-zero value selects the even field.
        const int moved_field = uniform(0, 3) == 3 ? -1 : uniform(0, 1);
        const bool extremes = uniform(0, 1) == 0;

        Frame src(w, h, pitch, beyond_frame);
        for (int r = 0; r < h; ++r)
            for (int x = 0; x < pitch; ++x) {
                auto value = [&] {
                    if (extremes)
                        return static_cast<short>(uniform(0, 1) ? uniform(32000, 32767) : uniform(-32768, -32000));
                    return static_cast<short>(uniform(-32768, 32767));
                };
                src.at(x, r) = {value(), value(), value()};
            }

        Weights kernel = kernel_for((v & 15) != 0 ? v : 1);
        if ((v & 15) != 0 && uniform(0, 3) == 0) {
            // Any weights keeping the sum below 2^31 go through the same arithmetic.
            for (int32_t& weight : kernel)
                weight = uniform(-16383, 16383);
        }
        Frame dst = blank_destination(src);
        if ((v & 15) != 0)
            shift_fraction(dst, src, rect, v, moved_field, kernel);
        else
            shift_whole(dst, src, rect, v, moved_field);

        const std::string difference = first_difference(dst, model_shift(src, rect, v, moved_field, kernel));
        ASSERT_EQ(difference, "") << "frame " << w << "x" << h << " pitch " << pitch << ", rect rows "
                                  << top << ".." << bottom << " columns " << left << ".." << right
                                  << ", v " << v << ", moved_field " << moved_field;
    }
}

// --- Through the driver ------------------------------------------------------

namespace {

// Runs frames through filter_proc with only the shift active, keeping the
// process-wide kernel and its key as the test found them.
struct DriverShift : ::testing::Test {
    static constexpr int w = 10, h = 24, max_w = 12;
    PluginHost host{GetFilterTable, w, h, max_w};
    Frame input = patterned_source(max_w, h, max_w);
    ShiftKernel saved_kernel = editor_effect_state.shift_kernel;
    int32_t saved_key = editor_effect_state.kernel_key;

    void SetUp() override
    {
        // Rectangle rows 3..20, columns 2..8; "LPF" off, "TFF" on.
        host.track() = {2, 6, 3, 17, 0, 704, 0};
        host.check() = {0, 0, 1, 0, 0, 0, 0};
    }
    void TearDown() override
    {
        editor_effect_state.shift_kernel = saved_kernel;
        editor_effect_state.kernel_key = saved_key;
    }

    FilterRect rect() const { return rect_of(3, 20, 2, 8, max_w); }

    // Processes the input frame with shift v; returns what ycp_edit holds.
    Frame run(int v)
    {
        host.track()[TRACK_SHIFT] = v;
        std::memcpy(host.edit(), input.rows(), sizeof(PIXEL_YC) * max_w * h);
        EXPECT_EQ(host.process(0, 1), TRUE);
        Frame out(max_w, h, max_w, beyond_frame);
        std::memcpy(out.rows(), host.edit(), sizeof(PIXEL_YC) * max_w * h);
        return out;
    }

    // The input frame with the rectangle replaced by what the stage gives.
    Frame expected(const Frame& stage_output) const
    {
        Frame out = input;
        const FilterRect r = rect();
        for (int row = r.top; row < r.bottom; ++row)
            for (int x = r.left; x < r.right; ++x)
                out.at(x, row) = stage_output.at(x, row);
        return out;
    }
    Frame expected_whole(int v) const
    {
        Frame stage = blank_destination(input);
        shift_whole(stage, input, rect(), v, 0);  // "TFF" on: the odd rows move
        return expected(stage);
    }
    Frame expected_fraction(int v, const Weights& kernel) const
    {
        Frame stage = blank_destination(input);
        shift_fraction(stage, input, rect(), v, 0, kernel);
        return expected(stage);
    }
    static Weights current_kernel()
    {
        return {editor_effect_state.shift_kernel.weights[0], editor_effect_state.shift_kernel.weights[1], editor_effect_state.shift_kernel.weights[2],
                editor_effect_state.shift_kernel.weights[3]};
    }
    static void set_kernel(const Weights& w) { std::memcpy(editor_effect_state.shift_kernel.weights, w.data(), sizeof w); }
};

const Weights poisoned = {32768, 0, 0, 0};  // not a kernel the builder makes

}  // namespace

TEST_F(DriverShift, WholeLinesTakeTheWholePathAndLeaveTheKernelAlone)
{
    for (int v : {16, 0, -32}) {
        editor_effect_state.kernel_key = 5;
        set_kernel(poisoned);
        EXPECT_EQ(first_difference(run(v), expected_whole(v)), "") << "v " << v;
        EXPECT_EQ(editor_effect_state.kernel_key, 5) << "v " << v;
        EXPECT_EQ(current_kernel(), poisoned) << "v " << v;
    }
    // Shift 0 gives back the input.
    EXPECT_EQ(first_difference(run(0), input), "");
}

TEST_F(DriverShift, FractionsTakeTheFractionalPathWithAFreshKernel)
{
    for (int v : {17, -5}) {
        editor_effect_state.kernel_key = 0;
        EXPECT_EQ(first_difference(run(v), expected_fraction(v, kernel_for(v))), "") << "v " << v;
        EXPECT_EQ(editor_effect_state.kernel_key, v);
        EXPECT_EQ(current_kernel(), kernel_for(v));
    }
}

TEST_F(DriverShift, KernelIsRebuiltOnlyWhenTheFractionalShiftChanges)
{
    editor_effect_state.kernel_key = 0;
    run(17);
    EXPECT_EQ(editor_effect_state.kernel_key, 17);
    EXPECT_EQ(current_kernel(), kernel_for(1));
    run(18);
    EXPECT_EQ(editor_effect_state.kernel_key, 18);
    EXPECT_EQ(current_kernel(), kernel_for(2));

    // Poison the kernel: if 16 or the return to 18 rebuilt it, this would go.
    set_kernel(poisoned);
    run(16);
    EXPECT_EQ(editor_effect_state.kernel_key, 18);
    EXPECT_EQ(first_difference(run(18), expected_fraction(18, poisoned)), "");
    EXPECT_EQ(editor_effect_state.kernel_key, 18);
    EXPECT_EQ(current_kernel(), poisoned);

    // The same phase under another value is rebuilt all the same.
    run(2);
    EXPECT_EQ(editor_effect_state.kernel_key, 2);
    EXPECT_EQ(current_kernel(), kernel_for(2));
}

TEST_F(DriverShift, FieldOrderPicksTheFieldThatMoves)
{
    // "TFF" on: odd rows move; a positive shift takes them from above.
    Frame tff = run(16);
    expect_row_copied(tff, 7, input, 5, rect());
    expect_row_copied(tff, 8, input, 8, rect());
    // "TFF" off: even rows move and take them from below.
    host.check()[CHECK_TFF] = 0;
    Frame bff = run(16);
    expect_row_copied(bff, 8, input, 10, rect());
    expect_row_copied(bff, 7, input, 7, rect());
}
