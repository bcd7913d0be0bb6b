#include "effects/composite_chroma.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

void* (*subcarrier_table_alloc)(size_t size) = std::malloc;

static void free_table(int16_t*& table)
{
    if (table != nullptr) {
        std::free(table);
        table = nullptr;
    }
}

void compute_subcarrier_entries(int16_t* cos_table, int16_t* sin_table, int32_t freq,
                                int32_t phase, int32_t w)
{
    // Degrees to radians, and 3.579545 MHz sampled at 13.5 MHz scaled by
    // freq / 704. Each operation rounds to double in the order written, so
    // every build derives the same angles.
    const double offset = (phase * 0.005555555555555556) * 3.141592653589793;
    const double step = ((freq * 0.0014204545454545455) * 11.245472275194077) * 0.14814814814814814;
    for (int32_t x = 0; x < w; ++x) {
        const double angle = x * step + offset;
        cos_table[x] = static_cast<int16_t>(std::floor(std::cos(angle) * 1787.7123152709362 + 0.5));
        sin_table[x] = static_cast<int16_t>(std::floor(std::sin(angle) * 2518.680701754386 + 0.5));
    }
}

int build_subcarrier_tables(SubcarrierTables* tables, int32_t freq, int32_t phase, int32_t w,
                            int32_t max_w)
{
    SubcarrierTables& t = *tables;
    if (t.cos_table == nullptr || t.sin_table == nullptr || t.table_max_w != max_w) {
        free_table(t.cos_table);
        free_table(t.sin_table);
        const size_t bytes = static_cast<size_t>(max_w > 0 ? max_w : 0) * sizeof(PIXEL_YC);
        auto* cos_block = static_cast<int16_t*>(subcarrier_table_alloc(bytes));
        auto* sin_block = static_cast<int16_t*>(subcarrier_table_alloc(bytes));
        if (cos_block == nullptr || sin_block == nullptr) {
            std::free(cos_block);
            std::free(sin_block);
            return 0;
        }
        t.cos_table = cos_block;
        t.sin_table = sin_block;
        t.table_max_w = max_w;
    } else if (t.table_phase == phase && t.table_freq == freq && t.table_w == w) {
        return 1;
    }
    compute_subcarrier_entries(t.cos_table, t.sin_table, freq, phase, w);
    t.table_phase = phase;
    t.table_freq = freq;
    t.table_w = w;
    return 1;
}

void encode_composite_row_c(PIXEL_YC* pixels, const int16_t* cos_weights,
                            const int16_t* sin_weights, int count, int32_t sign)
{
    for (int x = 0; x < count; ++x) {
        PIXEL_YC& p = pixels[x];
        const int32_t t_cb = (cos_weights[x] * p.cb * sign + 1024) >> 11;
        const int32_t t_cr = (sin_weights[x] * p.cr * sign + 1024) >> 11;
        p.y = static_cast<short>(p.y + t_cb + t_cr);
        p.cb = 0;
        p.cr = 0;
    }
}

static const KernelVariant<EncodeCompositeRowFn> encode_composite_row_variants[] = {
    {"c", 0, encode_composite_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, encode_composite_row_sse2},
    {"avx2", CPU_FLAG_AVX2, encode_composite_row_avx2},
#endif
};

DispatchedKernel<EncodeCompositeRowFn> encode_composite_row_kernel = {
    encode_composite_row_variants, std::size(encode_composite_row_variants)};

// The sign flips every second row, counted from the rectangle's top: before
// each row whose parity, offset by bit 0 of the flags, is even.
int32_t composite_row_sign(const FilterRect* rect, int32_t carrier_flags, int row)
{
    const int first = rect->top + (carrier_flags & 1);
    const int last = row + (carrier_flags & 1);
    const int flips = last / 2 - (first + 1) / 2 + 1;  // even numbers in first .. last
    const int32_t start = (carrier_flags & 2) ? 1 : -1;
    return (flips & 1) ? -start : start;
}

void encode_composite_rect_row(PIXEL_YC* out, const PIXEL_YC* src, const FilterRect* rect,
                               const SubcarrierTables* tables, int32_t carrier_flags, int row)
{
    const int width = rect->right - rect->left;
    const PIXEL_YC* in = rect_row(src, rect, row);
    if (out != in)
        std::memcpy(out, in, static_cast<size_t>(width) * sizeof(PIXEL_YC));
    // Entries are indexed by absolute column, so every row starts at left.
    dispatched(&encode_composite_row_kernel)(out, tables->cos_table + rect->left,
                                             tables->sin_table + rect->left, width,
                                             composite_row_sign(rect, carrier_flags, row));
}

void encode_composite(PIXEL_YC* frame, const FilterRect* rect, const SubcarrierTables* tables,
                      int32_t carrier_flags)
{
    if (rect_is_empty(rect))
        return;
    for (int r = rect->top; r < rect->bottom; ++r)
        encode_composite_rect_row(rect_row(frame, rect, r), frame, rect, tables, carrier_flags, r);
}

void release_subcarrier_tables(SubcarrierTables* tables)
{
    free_table(tables->cos_table);
    free_table(tables->sin_table);
}
