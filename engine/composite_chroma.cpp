#include "engine/composite_chroma.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

#if NOREL_X86
#include "engine/x86/composite_chroma.h"
#endif

void* (*subcarrier_table_alloc)(size_t size) = std::malloc;

const char* colour_standard_name(int32_t standard)
{
    return standard == STANDARD_PAL ? "pal" : "ntsc";
}

int32_t colour_standard_from_name(const char* name)
{
    if (std::strcmp(name, "ntsc") == 0)
        return STANDARD_NTSC;
    if (std::strcmp(name, "pal") == 0)
        return STANDARD_PAL;
    return -1;
}

static void free_table(int16_t*& table)
{
    if (table != nullptr) {
        std::free(table);
        table = nullptr;
    }
}

double carrier_step(int32_t standard, int32_t freq)
{
    // 2 pi times the carrier frequency in MHz, scaled by freq / 704, over
    // 13.5 MHz; each operation rounds to double in the order written, so
    // every build derives the same angles.
    if (standard == STANDARD_PAL)
        return ((freq * 0.0014204545454545455) * 27.85724818763592) * 0.07407407407407407;
    return ((freq * 0.0014204545454545455) * 11.245472275194077) * 0.14814814814814814;
}

void compute_subcarrier_entries(int16_t* cos_table, int16_t* sin_table, int32_t freq,
                                int32_t phase, int32_t w)
{
    // Degrees to radians, and 3.579545 MHz sampled at 13.5 MHz scaled by
    // freq / 704. Each operation rounds to double in the order written, so
    // every build derives the same angles.
    const double offset = (phase * 0.005555555555555556) * 3.141592653589793;
    const double step = carrier_step(STANDARD_NTSC, freq);
    for (int32_t x = 0; x < w; ++x) {
        const double angle = x * step + offset;
        cos_table[x] = static_cast<int16_t>(std::floor(std::cos(angle) * 1787.7123152709362 + 0.5));
        sin_table[x] = static_cast<int16_t>(std::floor(std::sin(angle) * 2518.680701754386 + 0.5));
    }
}

// PAL's carrier at full scale, rounded like NTSC's.
static void compute_pal_carrier_entries(int16_t* cos_table, int16_t* sin_table, int32_t freq,
                                        int32_t phase, int32_t w)
{
    const double offset = (phase * 0.005555555555555556) * 3.141592653589793;
    const double step = carrier_step(STANDARD_PAL, freq);
    for (int32_t x = 0; x < w; ++x) {
        const double angle = x * step + offset;
        cos_table[x] = static_cast<int16_t>(std::floor(std::cos(angle) * 2048 + 0.5));
        sin_table[x] = static_cast<int16_t>(std::floor(std::sin(angle) * 2048 + 0.5));
    }
}

int build_subcarrier_tables(SubcarrierTables* tables, int32_t freq, int32_t phase, int32_t w,
                            int32_t max_w)
{
    return build_carrier_tables(tables, STANDARD_NTSC, freq, phase, w, max_w);
}

int build_carrier_tables(SubcarrierTables* tables, int32_t standard, int32_t freq, int32_t phase,
                         int32_t w, int32_t max_w)
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
    } else if (t.table_phase == phase && t.table_freq == freq && t.table_w == w &&
               t.table_standard == standard) {
        return 1;
    }
    if (standard == STANDARD_PAL)
        compute_pal_carrier_entries(t.cos_table, t.sin_table, freq, phase, w);
    else
        compute_subcarrier_entries(t.cos_table, t.sin_table, freq, phase, w);
    t.table_standard = standard;
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

void encode_composite_rect_row(PIXEL_YC* out, const PIXEL_YC* in, const FilterRect* rect,
                               const SubcarrierTables* tables, int32_t carrier_flags, int row,
                               EncodeCompositeRowFn* encode_row)
{
    const int width = rect->right - rect->left;
    if (out != in)
        std::memcpy(out, in, static_cast<size_t>(width) * sizeof(PIXEL_YC));
    // Entries are indexed by absolute column, so every row starts at left.
    encode_row(out, tables->cos_table + rect->left, tables->sin_table + rect->left, width,
               composite_row_sign(rect, carrier_flags, row));
}

void encode_composite(PIXEL_YC* frame, const FilterRect* rect, const SubcarrierTables* tables,
                      int32_t carrier_flags)
{
    if (rect_is_empty(rect))
        return;
    EncodeCompositeRowFn* encode_row = best_variant(encode_composite_row_kernel);
    for (int r = rect->top; r < rect->bottom; ++r)
        encode_composite_rect_row(rect_row(frame, rect, r), rect_row(frame, rect, r), rect, tables,
                                  carrier_flags, r, encode_row);
}

// The line's half-line count from the start of frame 0 decides its phase:
// 283.7516 carrier cycles a line = 709379 / 2500, scaled by freq / 704,
// taken modulo one cycle in exact integers and rounded to a step.
PalLine pal_line(const PalSequence* sequence, int row)
{
    const int64_t cycle = 5000LL * 704;  // half-lines x freq units in which the phase is whole
    const int second_field = (row & 1) ^ (sequence->top_field_first != 0 ? 0 : 1);
    const int64_t half_lines =
        2 * (625LL * sequence->frame + (row >> 1)) + (second_field ? 625 : 0);
    const int64_t per_half_line = (709379LL * sequence->freq % cycle + cycle) % cycle;
    const int64_t where = (half_lines % cycle + cycle) % cycle * per_half_line % cycle;
    PalLine line;
    line.phase = static_cast<int32_t>((where * pal_phase_steps + cycle / 2) / cycle % pal_phase_steps);
    // The switch flips every line in the order lines are sent.
    line.v_switch = ((half_lines >> 1) & 1) ? -1 : 1;
    return line;
}

void pal_rotation(int16_t rotation[2], int32_t phase)
{
    // One quarter cycle from doubles; the rest by symmetry, so that phases
    // half a cycle apart give exact negatives.
    static const auto quarter = [] {
        struct Table {
            int16_t value[pal_phase_steps / 4 + 1];
        } table;
        for (int i = 0; i <= pal_phase_steps / 4; ++i)
            table.value[i] = static_cast<int16_t>(
                std::floor(std::cos(i * (6.283185307179586 / pal_phase_steps)) * 16384 + 0.5));
        return table;
    }();
    auto cos_of = [](int32_t p) -> int16_t {
        p &= pal_phase_steps - 1;
        const int q = pal_phase_steps / 4;
        if (p <= q)
            return quarter.value[p];
        if (p <= 2 * q)
            return static_cast<int16_t>(-quarter.value[2 * q - p]);
        if (p <= 3 * q)
            return static_cast<int16_t>(-quarter.value[p - 2 * q]);
        return quarter.value[4 * q - p];
    };
    rotation[0] = cos_of(phase);
    rotation[1] = cos_of(phase - pal_phase_steps / 4);
}

void pal_row_coefficients(int16_t coefficients[4], const PalLine& line)
{
    int16_t rotation[2];
    pal_rotation(rotation, line.phase);
    auto scaled = [](int32_t gain, int32_t value) {
        return static_cast<int16_t>((gain * value + 8192) >> 14);
    };
    // u = cb gain (cb cos - ...) so that y gains cb gain cb cos(angle + phase)
    // + switch cr gain cr sin(angle + phase).
    coefficients[0] = scaled(cb_carrier_gain_q14, rotation[0]);
    coefficients[1] = static_cast<int16_t>(line.v_switch * scaled(cr_carrier_gain_q14, rotation[1]));
    coefficients[2] = static_cast<int16_t>(-scaled(cb_carrier_gain_q14, rotation[1]));
    coefficients[3] = static_cast<int16_t>(line.v_switch * scaled(cr_carrier_gain_q14, rotation[0]));
}

void encode_pal_row_c(PIXEL_YC* pixels, const int16_t* cos_weights, const int16_t* sin_weights,
                      int count, const int16_t coefficients[4])
{
    for (int x = 0; x < count; ++x) {
        PIXEL_YC& p = pixels[x];
        // Saturated to 16 bits, which only values far beyond the picture's reach need.
        const int32_t u = std::clamp((coefficients[0] * p.cb + coefficients[1] * p.cr + 8192) >> 14,
                                     -32768, 32767);
        const int32_t v = std::clamp((coefficients[2] * p.cb + coefficients[3] * p.cr + 8192) >> 14,
                                     -32768, 32767);
        p.y = static_cast<short>(p.y + ((cos_weights[x] * u + sin_weights[x] * v + 1024) >> 11));
        p.cb = 0;
        p.cr = 0;
    }
}

static const KernelVariant<EncodePalRowFn> encode_pal_row_variants[] = {
    {"c", 0, encode_pal_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, encode_pal_row_sse2},
    {"avx2", CPU_FLAG_AVX2, encode_pal_row_avx2},
#endif
};

DispatchedKernel<EncodePalRowFn> encode_pal_row_kernel = {encode_pal_row_variants,
                                                          std::size(encode_pal_row_variants)};

void encode_pal_rect_row(PIXEL_YC* out, const PIXEL_YC* in, const FilterRect* rect,
                         const SubcarrierTables* tables, const PalSequence* sequence, int row,
                         EncodePalRowFn* encode_row)
{
    const int width = rect->right - rect->left;
    if (out != in)
        std::memcpy(out, in, static_cast<size_t>(width) * sizeof(PIXEL_YC));
    int16_t coefficients[4];
    pal_row_coefficients(coefficients, pal_line(sequence, row));
    encode_row(out, tables->cos_table + rect->left, tables->sin_table + rect->left, width,
               coefficients);
}

void release_subcarrier_tables(SubcarrierTables* tables)
{
    free_table(tables->cos_table);
    free_table(tables->sin_table);
}
