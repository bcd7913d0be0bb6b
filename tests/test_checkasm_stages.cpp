// The row kernels of the chroma encoding, the field shift and the region
// operations: every packed variant against its reference, on random rows at
// odd columns of padded frames, for every width up to a few packed groups
// and for whole picture rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/composite_chroma.h"
#include "engine/cpu.h"
#include "engine/field_shift.h"
#include "engine/shift_kernel.h"
#include "engine/region.h"
#include "tests/checkasm.h"

using checkasm::Values;

namespace {

const Values all_values[] = {Values::nominal, Values::full, Values::extremes};

// Where a row of `width` pixels starts: odd columns, so that no row is
// aligned, and rows padded by an odd number of pixels.
struct Placement {
    int left;
    int pitch;
};

Placement place(int width, int variant)
{
    const int left = 2 * variant + 1;
    return {left, left + width + 2 * variant + 3};
}

// A kernel that works in place: the reference and each variant run on
// their own copy of `initial`, which sits flush against an inaccessible
// page with sentinel pixels before it, so that a read or a write past the
// end crashes and a write before the start shows.
template <typename Fn, typename Run>
void check_in_place(const DispatchedKernel<Fn>& kernel, const std::vector<PIXEL_YC>& initial,
                    int pitch, Run run)
{
    const size_t size = initial.size() + checkasm::margin;
    auto result = [&](Fn* fn) {
        checkasm::GuardedFrame frame(size);
        std::fill(frame.data(), frame.data() + checkasm::margin, checkasm::sentinel);
        std::copy(initial.begin(), initial.end(), frame.data() + checkasm::margin);
        run(fn, frame.data() + checkasm::margin);
        return std::vector<PIXEL_YC>(frame.data(), frame.data() + size);
    };
    const std::vector<PIXEL_YC> expected = result(kernel.variants[0].fn);
    for (const KernelVariant<Fn>* variant : checkasm::packed_variants(kernel))
        EXPECT_TRUE(checkasm::same_buffers(expected, result(variant->fn), pitch))
            << "variant " << variant->name;
}

// `count` table entries that end where a guard page begins.
int16_t* guarded_entries(checkasm::GuardedFrame& storage, size_t storage_pixels, int count)
{
    return reinterpret_cast<int16_t*>(storage.data() + storage_pixels) - count;
}

std::vector<PIXEL_YC> random_frame(std::mt19937& random, size_t pixels, Values values)
{
    std::vector<PIXEL_YC> frame(pixels);
    checkasm::fill(random, frame.data(), pixels, values);
    return frame;
}

std::string trace(const char* what, int width, const Placement& at, Values values)
{
    return std::string(what) + ": width " + std::to_string(width) + ", left " +
           std::to_string(at.left) + ", pitch " + std::to_string(at.pitch) + ", " +
           checkasm::name(values) + " values, seed " + std::to_string(checkasm::seed());
}

// Tables with entries as the carrier gives them (|cos| <= 1788, |sin| <=
// 2519) or anywhere in -32767 .. 32767, the range the packed variants take.
void fill_entries(std::mt19937& random, int16_t* entries, int count, int limit)
{
    std::uniform_int_distribution<int> entry(-limit, limit);
    for (int x = 0; x < count; ++x)
        entries[x] = static_cast<int16_t>(entry(random));
}

// Random carrier tables that end at the rectangle's right edge, as for a
// frame of width right, so that reading an entry too far crashes.
struct CarrierTables {
    CarrierTables(std::mt19937& random, int right, int cos_limit, int sin_limit)
        : cos_storage(table_pixels(right)), sin_storage(table_pixels(right))
    {
        cos_table = guarded_entries(cos_storage, table_pixels(right), right);
        sin_table = guarded_entries(sin_storage, table_pixels(right), right);
        fill_entries(random, cos_table, right, cos_limit);
        fill_entries(random, sin_table, right, sin_limit);
    }
    static size_t table_pixels(int right) { return static_cast<size_t>(right + 2) / 3; }
    checkasm::GuardedFrame cos_storage, sin_storage;
    int16_t* cos_table;
    int16_t* sin_table;
};

void check_encode_composite(std::mt19937& random, int width, const Placement& at, Values values)
{
    SCOPED_TRACE(trace("encode_composite_row", width, at, values));
    const int rows = 2;
    const int right = at.left + width;
    const bool realistic = values == Values::nominal;
    CarrierTables tables(random, right, realistic ? 1788 : 32767, realistic ? 2519 : 32767);
    const int16_t* cos_table = tables.cos_table;
    const int16_t* sin_table = tables.sin_table;
    // The last row ends at the frame's end: nothing may be read past it.
    const std::vector<PIXEL_YC> frame =
        random_frame(random, static_cast<size_t>(rows - 1) * at.pitch + right, values);
    check_in_place(encode_composite_row_kernel, frame, at.pitch,
                   [&](EncodeCompositeRowFn* fn, PIXEL_YC* pixels) {
                       fn(pixels + at.left, cos_table + at.left, sin_table + at.left, width, 1);
                       fn(pixels + at.pitch + at.left, cos_table + at.left, sin_table + at.left,
                          width, -1);
                   });
}

// PAL's row encoding: two rows with the coefficients of real lines (both
// switches), or any 16-bit coefficients with extreme values.
void check_encode_pal(std::mt19937& random, int width, const Placement& at, Values values)
{
    SCOPED_TRACE(trace("encode_pal_row", width, at, values));
    const int rows = 2;
    const int right = at.left + width;
    const bool realistic = values == Values::nominal;
    CarrierTables tables(random, right, realistic ? 2048 : 32767, realistic ? 2048 : 32767);
    const int16_t* cos_table = tables.cos_table;
    const int16_t* sin_table = tables.sin_table;
    int16_t coefficients[2][4];
    for (int i = 0; i < 2; ++i) {
        if (realistic) {
            const PalLine line = {static_cast<int32_t>(random() % pal_phase_steps), i ? -1 : 1};
            pal_row_coefficients(coefficients[i], line);
        } else {
            for (int16_t& c : coefficients[i])
                c = static_cast<int16_t>(random());
        }
    }
    const std::vector<PIXEL_YC> frame =
        random_frame(random, static_cast<size_t>(rows - 1) * at.pitch + right, values);
    check_in_place(encode_pal_row_kernel, frame, at.pitch, [&](EncodePalRowFn* fn, PIXEL_YC* pixels) {
        fn(pixels + at.left, cos_table + at.left, sin_table + at.left, width, coefficients[0]);
        fn(pixels + at.pitch + at.left, cos_table + at.left, sin_table + at.left, width,
           coefficients[1]);
    });
}

void check_region(const DispatchedKernel<RegionRowFn>& kernel, const char* name,
                  std::mt19937& random, int width, const Placement& at, Values values)
{
    SCOPED_TRACE(trace(name, width, at, values));
    const std::vector<PIXEL_YC> frame =
        random_frame(random, static_cast<size_t>(at.left) + width, values);
    check_in_place(kernel, frame, at.pitch,
                   [&](RegionRowFn* fn, PIXEL_YC* pixels) { fn(pixels + at.left, width); });
}

// Source rows 0 .. 3 in a guarded frame; the output row goes into a frame
// of sentinels. call(fn, out, rows, count) runs one variant.
template <typename Fn, typename Call>
void check_from_four_rows(const DispatchedKernel<Fn>& kernel, const char* name,
                          std::mt19937& random, int width, const Placement& at, Values values,
                          Call call)
{
    SCOPED_TRACE(trace(name, width, at, values));
    const size_t pixels = static_cast<size_t>(3) * at.pitch + at.left + width;
    checkasm::GuardedFrame src(pixels);
    checkasm::fill(random, src.data(), pixels, values);
    const int16_t* rows[4];
    for (int r = 0; r < 4; ++r)
        rows[r] = reinterpret_cast<const int16_t*>(src.data() + r * at.pitch + at.left);
    const std::vector<PIXEL_YC> dst(at.pitch, checkasm::sentinel);
    checkasm::check_variants(kernel, dst, at.pitch, [&](Fn* fn, PIXEL_YC* out) {
        call(fn, reinterpret_cast<int16_t*>(out + at.left), rows, 3 * width);
    });
}

// Weights of every shift phase, and the extremes the packed variants
// allow whose sums still fit in 32 bits.
std::vector<ShiftKernel> kernels_to_check()
{
    std::vector<ShiftKernel> kernels;
    for (int32_t v = 1; v < 16; ++v) {
        ShiftKernel kernel;
        build_shift_kernel(kernel.weights, v);
        kernels.push_back(kernel);
    }
    kernels.push_back({{32767, 32767, 0, 0}});
    kernels.push_back({{0, 0, -32767, -32767}});
    kernels.push_back({{-16383, 16383, -16383, 16383}});
    return kernels;
}

// Restores full dispatch however a test ends.
struct FullDispatchAfterwards {
    ~FullDispatchAfterwards() { cpu_set_mask(~0u); }
};

template <typename Fn>
std::string variant_names(const DispatchedKernel<Fn>& kernel)
{
    std::string names;
    for (const auto* variant : checkasm::packed_variants(kernel))
        names += std::string(" ") + variant->name;
    return names.empty() ? " none" : names;
}

}  // namespace

TEST(CheckasmStages, VariantsBuiltForThisProcessor)
{
    std::printf("[ checkasm ] row kernels checked: encode_composite%s, encode_pal%s, interpolate%s, "
                "average%s, show_range%s, strip_chroma%s\n",
                variant_names(encode_composite_row_kernel).c_str(),
                variant_names(encode_pal_row_kernel).c_str(),
                variant_names(interpolate_row_kernel).c_str(),
                variant_names(average_rows_kernel).c_str(),
                variant_names(show_range_row_kernel).c_str(),
                variant_names(strip_chroma_row_kernel).c_str());
#if NOREL_X86
    // Each x86 kernel has its SSE2 variant at least, so none of the checks
    // below can pass for want of a variant.
    EXPECT_FALSE(checkasm::packed_variants(encode_composite_row_kernel).empty());
    EXPECT_FALSE(checkasm::packed_variants(interpolate_row_kernel).empty());
    EXPECT_FALSE(checkasm::packed_variants(average_rows_kernel).empty());
    EXPECT_FALSE(checkasm::packed_variants(show_range_row_kernel).empty());
    EXPECT_FALSE(checkasm::packed_variants(strip_chroma_row_kernel).empty());
#endif
}

TEST(CheckasmStages, EncodeCompositeRow)
{
    std::mt19937 random(checkasm::seed());
    for (Values values : all_values) {
        for (int width : checkasm::row_widths()) {
            for (int variant = 0; variant < 2; ++variant)
            {
                check_encode_composite(random, width, place(width, variant), values);
                check_encode_pal(random, width, place(width, variant), values);
            }
            if (HasFailure())
                return;
        }
    }
}

TEST(CheckasmStages, EncodeCompositeRowWithTheCarrierTables)
{
    std::mt19937 random(checkasm::seed() + 1);
    const int w = 1920;
    std::vector<int16_t> cos_table(w), sin_table(w);
    for (int32_t freq : {600, 704, 750}) {
        compute_subcarrier_entries(cos_table.data(), sin_table.data(), freq, -45, w);
        std::vector<PIXEL_YC> frame = random_frame(random, w, Values::full);
        auto run = [&](EncodeCompositeRowFn* fn, PIXEL_YC* pixels) {
            fn(pixels + 3, cos_table.data() + 3, sin_table.data() + 3, w - 3, -1);
        };
        check_in_place(encode_composite_row_kernel, frame, w, run);
    }
}

TEST(CheckasmStages, InterpolateRow)
{
    std::mt19937 random(checkasm::seed() + 2);
    int case_number = 0;
    for (Values values : all_values) {
        for (const ShiftKernel& kernel : kernels_to_check()) {
            for (int width : checkasm::row_widths()) {
                // Taps in several orders, repeated rows included, as at the
                // rectangle's edges.
                const int order = case_number++ % 3;
                auto call = [&](InterpolateRowFn* fn, int16_t* out, const int16_t* const r[4],
                                int count) {
                    const int16_t* const orders[3][4] = {{r[0], r[1], r[2], r[3]},
                                                         {r[3], r[1], r[1], r[0]},
                                                         {r[2], r[2], r[2], r[2]}};
                    fn(out, orders[order], kernel.weights, count);
                };
                check_from_four_rows(interpolate_row_kernel, "interpolate_row", random, width,
                                     place(width, order % 2), values, call);
            }
            if (HasFailure())
                return;
        }
    }
}

TEST(CheckasmStages, AverageRows)
{
    std::mt19937 random(checkasm::seed() + 3);
    for (Values values : all_values) {
        for (int width : checkasm::row_widths()) {
            for (int variant = 0; variant < 2; ++variant) {
                // Two different rows, or one row with itself as at the
                // rectangle's first and last rows.
                auto call = [&](AverageRowsFn* fn, int16_t* out, const int16_t* const r[4],
                                int count) {
                    fn(out, r[1], r[variant == 0 ? 2 : 1], count);
                };
                check_from_four_rows(average_rows_kernel, "average_rows", random, width,
                                     place(width, variant), values, call);
            }
        }
        if (HasFailure())
            return;
    }
}

TEST(CheckasmStages, ShowRangeAndStripChromaRows)
{
    std::mt19937 random(checkasm::seed() + 4);
    for (Values values : all_values) {
        for (int width : checkasm::row_widths()) {
            for (int variant = 0; variant < 2; ++variant) {
                check_region(show_range_row_kernel, "show_range_row", random, width,
                             place(width, variant), values);
                check_region(strip_chroma_row_kernel, "strip_chroma_row", random, width,
                             place(width, variant), values);
            }
        }
        if (HasFailure())
            return;
    }
}

TEST(CheckasmStages, EveryShiftKernelFitsThePackedInterpolation)
{
    // Weights beyond 16 bits would send every fractional shift to the
    // reference; a sum of magnitudes of 65536 or more could overflow the
    // 32-bit accumulator for extreme pixels.
    for (int32_t v = -255; v <= 255; ++v) {
        if ((v & 15) == 0)
            continue;
        ShiftKernel kernel;
        build_shift_kernel(kernel.weights, v);
        int32_t magnitude = 0;
        for (int32_t weight : kernel.weights) {
            EXPECT_LE(std::abs(weight), 32767) << "v " << v;
            magnitude += std::abs(weight);
        }
        EXPECT_LT(magnitude, 65536) << "v " << v;
    }
}

TEST(CheckasmStages, OversizedWeightsFallBackToTheReference)
{
    // A kernel from elsewhere with a weight beyond 16 bits: a packed variant
    // would take its low 16 bits; the stage must give the reference's result.
    FullDispatchAfterwards restore;
    const int w = 40, h = 8;
    std::mt19937 random(checkasm::seed() + 5);
    const std::vector<PIXEL_YC> src =
        random_frame(random, static_cast<size_t>(w) * h, Values::nominal);
    const FilterRect rect = {0, h, 1, w, w};
    const int32_t weights[4] = {40000, -8000, 600, 600};
    std::vector<PIXEL_YC> expected(src.size(), checkasm::sentinel);
    cpu_set_mask(0);
    shift_field_fraction(expected.data(), src.data(), &rect, 5, 1, weights);
    cpu_set_mask(~0u);
    std::vector<PIXEL_YC> actual(src.size(), checkasm::sentinel);
    shift_field_fraction(actual.data(), src.data(), &rect, 5, 1, weights);
    EXPECT_TRUE(checkasm::same_buffers(expected, actual, w));
}
