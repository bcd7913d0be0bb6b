// The 8-bit YUV row kernels: every packed variant against its reference, in
// both ranges and every chroma shape they take, on random codes and values
// for every width up to a few packed groups and for whole picture rows.
// Sources end flush against an inaccessible page; destinations carry
// sentinel bytes or pixels before and after the row.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "engine/yuv_yc.h"
#include "tests/checkasm.h"

using checkasm::Values;

namespace {

constexpr uint8_t sentinel_byte = 0xA5;

// `count` bytes that end where an inaccessible page begins.
class GuardedBytes {
public:
    explicit GuardedBytes(size_t count) : frame_(count / sizeof(PIXEL_YC) + 1), count_(count)
    {
        data_ = reinterpret_cast<uint8_t*>(frame_.data() + count / sizeof(PIXEL_YC) + 1) - count;
    }
    uint8_t* data() { return data_; }
    void fill(std::mt19937& random)
    {
        for (size_t i = 0; i < count_; ++i)
            data_[i] = static_cast<uint8_t>(random());
    }

private:
    checkasm::GuardedFrame frame_;
    size_t count_;
    uint8_t* data_;
};

// A guarded copy of `count` random pixels.
struct GuardedPixels {
    checkasm::GuardedFrame frame;
    explicit GuardedPixels(size_t count, std::mt19937& random, Values values) : frame(count)
    {
        checkasm::fill(random, frame.data(), count, values);
    }
};

// Rows of bytes with sentinel margins, as a kernel's destinations.
struct ByteRows {
    std::vector<std::vector<uint8_t>> rows;
    explicit ByteRows(std::initializer_list<size_t> sizes)
    {
        for (size_t size : sizes)
            rows.emplace_back(size + 2 * checkasm::margin, sentinel_byte);
    }
    uint8_t* at(size_t row) { return rows[row].data() + checkasm::margin; }
};

::testing::AssertionResult same_bytes(const ByteRows& expected, const ByteRows& actual)
{
    for (size_t r = 0; r < expected.rows.size(); ++r) {
        for (size_t i = 0; i < expected.rows[r].size(); ++i) {
            if (expected.rows[r][i] != actual.rows[r][i])
                return ::testing::AssertionFailure()
                       << "output " << r << " byte " << static_cast<long long>(i) - checkasm::margin
                       << ": expected " << int(expected.rows[r][i]) << ", got " << int(actual.rows[r][i]);
        }
    }
    return ::testing::AssertionSuccess();
}

YuvRowMaps maps_for(bool full_range, int shift_x)
{
    YuvLayout layout;
    layout.full_range = full_range;
    layout.chroma_shift_x = shift_x;
    return yuv_row_maps(layout);
}

int chroma_width(int count, int shift_x)
{
    return (count + (1 << shift_x) - 1) >> shift_x;
}

}  // namespace

TEST(CheckasmYuv, PlanarToYcRow)
{
    std::mt19937 random(checkasm::seed());
    for (bool full : {false, true}) {
        for (int shift_x = 0; shift_x <= 2; ++shift_x) {
            const YuvRowMaps maps = maps_for(full, shift_x);
            for (int count : checkasm::row_widths()) {
                SCOPED_TRACE(testing::Message() << "full " << full << " shift " << shift_x << " width " << count);
                const int cw = chroma_width(count, shift_x);
                GuardedBytes y(count), cb(cw), cr(cw);
                y.fill(random);
                cb.fill(random);
                cr.fill(random);
                auto run = [&](PlanarToYcRowFn* fn) {
                    std::vector<PIXEL_YC> out(count + 2 * checkasm::margin, checkasm::sentinel);
                    fn(out.data() + checkasm::margin, y.data(), cb.data(), cr.data(), count, shift_x, &maps);
                    return out;
                };
                const std::vector<PIXEL_YC> expected = run(planar_to_yc_row_kernel.variants[0].fn);
                for (const auto* variant : checkasm::packed_variants(planar_to_yc_row_kernel))
                    EXPECT_TRUE(checkasm::same_buffers(expected, run(variant->fn), count)) << variant->name;
            }
        }
    }
}

TEST(CheckasmYuv, PackedToYcRow)
{
    std::mt19937 random(checkasm::seed());
    for (bool full : {false, true}) {
        const YuvRowMaps maps = maps_for(full, 1);
        for (int luma_first : {0, 1}) {
            for (int count : checkasm::row_widths()) {
                SCOPED_TRACE(testing::Message() << "full " << full << " luma first " << luma_first << " width " << count);
                GuardedBytes in(4 * static_cast<size_t>(chroma_width(count, 1)));
                in.fill(random);
                auto run = [&](PackedToYcRowFn* fn) {
                    std::vector<PIXEL_YC> out(count + 2 * checkasm::margin, checkasm::sentinel);
                    fn(out.data() + checkasm::margin, in.data(), count, luma_first, &maps);
                    return out;
                };
                const std::vector<PIXEL_YC> expected = run(packed_to_yc_row_kernel.variants[0].fn);
                for (const auto* variant : checkasm::packed_variants(packed_to_yc_row_kernel))
                    EXPECT_TRUE(checkasm::same_buffers(expected, run(variant->fn), count)) << variant->name;
            }
        }
    }
}

TEST(CheckasmYuv, YcToPlanarRows)
{
    std::mt19937 random(checkasm::seed());
    for (Values values : {Values::nominal, Values::full, Values::extremes}) {
        for (bool full : {false, true}) {
            for (int shift_x = 0; shift_x <= 2; ++shift_x) {
                const YuvRowMaps maps = maps_for(full, shift_x);
                for (int rows = 1; rows <= 2; ++rows) {
                    for (int count : checkasm::row_widths()) {
                        SCOPED_TRACE(testing::Message() << checkasm::name(values) << " full " << full << " shift "
                                                        << shift_x << " rows " << rows << " width " << count);
                        const int pitch = count + 3;
                        GuardedPixels in(static_cast<size_t>(rows - 1) * pitch + count, random, values);
                        const size_t cw = chroma_width(count, shift_x);
                        auto run = [&](YcToPlanarRowsFn* fn) {
                            ByteRows out({static_cast<size_t>(count), static_cast<size_t>(count), cw, cw});
                            fn(out.at(0), rows > 1 ? out.at(1) : nullptr, out.at(2), out.at(3), in.frame.data(), pitch,
                               rows, count, shift_x, &maps);
                            return out;
                        };
                        const ByteRows expected = run(yc_to_planar_rows_kernel.variants[0].fn);
                        for (const auto* variant : checkasm::packed_variants(yc_to_planar_rows_kernel))
                            EXPECT_TRUE(same_bytes(expected, run(variant->fn))) << variant->name;
                    }
                }
            }
        }
    }
}

TEST(CheckasmYuv, YcToPackedRow)
{
    std::mt19937 random(checkasm::seed());
    for (Values values : {Values::nominal, Values::full, Values::extremes}) {
        for (bool full : {false, true}) {
            const YuvRowMaps maps = maps_for(full, 1);
            for (int luma_first : {0, 1}) {
                for (int count : checkasm::row_widths()) {
                    SCOPED_TRACE(testing::Message() << checkasm::name(values) << " full " << full << " luma first "
                                                    << luma_first << " width " << count);
                    GuardedPixels in(count, random, values);
                    auto run = [&](YcToPackedRowFn* fn) {
                        ByteRows out({4 * static_cast<size_t>(chroma_width(count, 1))});
                        fn(out.at(0), in.frame.data(), count, luma_first, &maps);
                        return out;
                    };
                    const ByteRows expected = run(yc_to_packed_row_kernel.variants[0].fn);
                    for (const auto* variant : checkasm::packed_variants(yc_to_packed_row_kernel))
                        EXPECT_TRUE(same_bytes(expected, run(variant->fn))) << variant->name;
                }
            }
        }
    }
}
