// copy_rect over rectangles of whole buffer rows, which it moves as one block.
#include <gtest/gtest.h>

#include <vector>

#include "engine/region.h"

namespace {

std::vector<PIXEL_YC> numbered(size_t count)
{
    std::vector<PIXEL_YC> pixels(count);
    for (size_t i = 0; i < count; ++i)
        pixels[i] = {static_cast<short>(i), static_cast<short>(-static_cast<int>(i)),
                     static_cast<short>(i + 7)};
    return pixels;
}

}  // namespace

TEST(CopyRect, WholeRowsCopyExactlyTheRectangleRows)
{
    const int pitch = 9, rows = 7;
    const std::vector<PIXEL_YC> src = numbered(static_cast<size_t>(pitch) * rows);
    const PIXEL_YC untouched = {-5, 5, -5};
    const FilterRect rects[] = {
        {2, 5, 0, pitch, pitch}, {0, rows, 0, pitch, pitch}, {6, 7, 0, pitch, pitch}};
    for (const FilterRect& rect : rects) {
        std::vector<PIXEL_YC> dst(src.size(), untouched);
        copy_rect(dst.data(), src.data(), &rect);
        for (int r = 0; r < rows; ++r) {
            for (int x = 0; x < pitch; ++x) {
                const PIXEL_YC& expected =
                    r >= rect.top && r < rect.bottom ? src[r * pitch + x] : untouched;
                const PIXEL_YC& got = dst[r * pitch + x];
                ASSERT_TRUE(got.y == expected.y && got.cb == expected.cb && got.cr == expected.cr)
                    << "rows " << rect.top << ".." << rect.bottom << ": pixel " << x
                    << " of row " << r;
            }
        }
    }
}

TEST(CopyRect, RowsNarrowerThanTheBufferStayRowByRow)
{
    // The picture fills the rows but the buffer is wider: the padding
    // between rows must not be copied.
    const int pitch = 9, rows = 4;
    const std::vector<PIXEL_YC> src = numbered(static_cast<size_t>(pitch) * rows);
    const PIXEL_YC untouched = {-5, 5, -5};
    std::vector<PIXEL_YC> dst(src.size(), untouched);
    const FilterRect rect = {0, rows, 0, pitch - 2, pitch};
    copy_rect(dst.data(), src.data(), &rect);
    for (int r = 0; r < rows; ++r) {
        for (int x = 0; x < pitch; ++x) {
            const PIXEL_YC& expected = x < rect.right ? src[r * pitch + x] : untouched;
            EXPECT_EQ(dst[r * pitch + x].y, expected.y) << "pixel " << x << " of row " << r;
        }
    }
}
