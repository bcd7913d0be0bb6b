#include "engine/composite_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

#if NOREL_X86
#include "engine/x86/composite_decoder.h"
#endif

static const char* const decode_mode_names[decode_mode_count] = {"off", "notch", "2line", "3line",
                                                                 "3d"};
static const char* const chroma_bandwidth_names[chroma_bandwidth_count] = {"wide", "narrow"};

const char* decode_mode_name(int32_t mode)
{
    return mode >= 0 && mode < decode_mode_count ? decode_mode_names[mode] : "off";
}

int32_t decode_mode_from_name(const char* name)
{
    for (int32_t i = 0; i < decode_mode_count; ++i) {
        if (std::strcmp(name, decode_mode_names[i]) == 0)
            return i;
    }
    return -1;
}

const char* chroma_bandwidth_name(int32_t bandwidth)
{
    return bandwidth == CHROMA_NARROW ? "narrow" : "wide";
}

int32_t chroma_bandwidth_from_name(const char* name)
{
    for (int32_t i = 0; i < chroma_bandwidth_count; ++i) {
        if (std::strcmp(name, chroma_bandwidth_names[i]) == 0)
            return i;
    }
    return -1;
}

DecodeSettings clamp_decode_settings(const DecodeSettings& settings)
{
    DecodeSettings safe = settings;
    if (safe.mode < 0 || safe.mode >= decode_mode_count)
        safe.mode = DECODE_OFF;
    if (safe.bandwidth < 0 || safe.bandwidth >= chroma_bandwidth_count)
        safe.bandwidth = CHROMA_WIDE;
    safe.saturation = std::clamp(safe.saturation, saturation_min, saturation_max);
    safe.hue = std::clamp(safe.hue, hue_min, hue_max);
    safe.delay_line = safe.delay_line != 0;
    return safe;
}

// Gaussian chroma low-passes in Q14 at 13.5 MHz, 3 dB down at about 1.3 and
// 0.5 MHz, each summing to 16384 so that a flat colour keeps its level.
static const int16_t wide_lowpass[2 * 5 + 1] = {6,    69,   441, 1652, 3648, 4752,
                                                3648, 1652, 441, 69,   6};
// PAL's wide low-pass also has a zero at twice its carrier (folded to 4.63
// MHz), which NTSC's Gaussian already buries at 6.34 MHz.
static const int16_t pal_wide_lowpass[2 * 5 + 1] = {3,    55,   440, 1734, 3658, 4604,
                                                    3658, 1734, 440, 55,   3};
static const int16_t narrow_lowpass[2 * decoder_lowpass_reach + 1] = {
    16,   37,   77,   150,  270,  448,  689, 979, 1287, 1565, 1759, 1830,
    1759, 1565, 1287, 979, 689, 448, 270, 150, 77,   37,   16};

// The band-pass window: a Gaussian of two samples, relative to its centre.
static const double bandpass_window[2 * decoder_bandpass_reach + 1] = {
    36, 182, 720, 2217, 5319, 9937, 14459, 16384, 14459, 9937, 5319, 2217, 720, 182, 36};

// The encoder's carrier amplitudes (its tables over 2048) for cb and cr.
static const double cb_carrier_gain = 1787.7123152709362 / 2048;
static const double cr_carrier_gain = 2518.680701754386 / 2048;

void compute_decoder_bandpass(int16_t taps[2 * decoder_bandpass_reach + 1], int32_t freq,
                              int32_t standard)
{
    // The window turned into a band-pass around the carrier, less as much
    // of the window as it passes at DC, scaled to unit gain at the carrier.
    const int reach = decoder_bandpass_reach;
    // The hosts' range: far outside it the band would fold over itself.
    const double step = carrier_step(standard, std::clamp<int32_t>(freq, 600, 750));
    double band[2 * decoder_bandpass_reach + 1];
    double passed_at_dc = 0, window_sum = 0;
    for (int k = -reach; k <= reach; ++k) {
        band[k + reach] = bandpass_window[k + reach] * std::cos(step * k);
        passed_at_dc += band[k + reach];
        window_sum += bandpass_window[k + reach];
    }
    double gain = 0;
    for (int k = -reach; k <= reach; ++k) {
        band[k + reach] -= passed_at_dc / window_sum * bandpass_window[k + reach];
        gain += band[k + reach] * std::cos(step * k);
    }
    int32_t sum = 0;
    for (int k = -reach; k <= reach; ++k) {
        taps[k + reach] = static_cast<int16_t>(std::floor(band[k + reach] * 16384 / gain + 0.5));
        sum += taps[k + reach];
    }
    // No luma at DC leaks into the chroma, whatever the rounding.
    taps[reach] = static_cast<int16_t>(taps[reach] - sum);
}

void compute_decoder_matrix(int16_t matrix[4], int32_t saturation, int32_t hue)
{
    // The products of the demodulator, low-passed, are cb gain^2 / 2 and
    // cr gain^2 / 2; the hue turns (u, v) as a demodulation phase error would.
    const double angle = (hue * 0.005555555555555556) * 3.141592653589793;
    const double scale = 2 * (saturation * 0.01) * 4096;
    const double c = std::cos(angle), s = std::sin(angle);
    const double u = cb_carrier_gain, v = cr_carrier_gain;
    const double m[4] = {scale * c / (u * u), -scale * s / (u * v), scale * s / (u * v),
                         scale * c / (v * v)};
    for (int i = 0; i < 4; ++i)
        matrix[i] = static_cast<int16_t>(std::floor(m[i] + 0.5));
}

void compute_pal_decoder_matrix(int16_t matrix[4], int32_t saturation, int32_t hue)
{
    // The low-passed products are (u, v) turned by the line's phase, over 2;
    // once turned back, the hue turns (u, switch v) as a phase error would,
    // so that lines of opposite switch err in opposite directions.
    const double angle = (hue * 0.005555555555555556) * 3.141592653589793;
    const double scale = 2 * (saturation * 0.01) * 4096;
    const double c = std::cos(angle), s = std::sin(angle);
    const double m[4] = {scale * c / cb_carrier_gain, -scale * s / cb_carrier_gain,
                         scale * s / cr_carrier_gain, scale * c / cr_carrier_gain};
    for (int i = 0; i < 4; ++i)
        matrix[i] = static_cast<int16_t>(std::floor(m[i] + 0.5));
}

void pal_line_matrix(int16_t matrix[4], const int16_t base[4], const PalLine& line)
{
    int16_t rotation[2];
    pal_rotation(rotation, line.phase);
    const int32_t c = rotation[0], s = rotation[1];
    for (int i = 0; i < 2; ++i) {
        // The switch negates the cr row.
        const int32_t k0 = (i == 1 ? line.v_switch : 1) * base[2 * i];
        const int32_t k1 = (i == 1 ? line.v_switch : 1) * base[2 * i + 1];
        matrix[2 * i] = static_cast<int16_t>((k0 * c + k1 * s + 8192) >> 14);
        matrix[2 * i + 1] = static_cast<int16_t>((k1 * c - k0 * s + 8192) >> 14);
    }
}

static int16_t saturate16(int32_t value)
{
    return static_cast<int16_t>(std::clamp<int32_t>(value, -32768, 32767));
}

void decoder_fir_row_c(int16_t* out, const int16_t* in, const int16_t* taps, int reach, int count)
{
    for (int x = 0; x < count; ++x) {
        int32_t sum = 8192;
        for (int k = -reach; k <= reach; ++k)
            sum += taps[k + reach] * in[x + k];
        out[x] = saturate16(sum >> 14);
    }
}

void demodulate_row_c(int16_t* u, int16_t* v, const int16_t* chroma, const int16_t* cos_weights,
                      const int16_t* sin_weights, int count, int32_t sign)
{
    for (int x = 0; x < count; ++x) {
        u[x] = static_cast<int16_t>((chroma[x] * cos_weights[x] * sign + 1024) >> 11);
        v[x] = static_cast<int16_t>((chroma[x] * sin_weights[x] * sign + 1024) >> 11);
    }
}

void assemble_row_c(PIXEL_YC* out, const int16_t* composite, const int16_t* chroma,
                    const int16_t* u, const int16_t* v, const int16_t matrix[4], int count)
{
    for (int x = 0; x < count; ++x) {
        out[x].y = saturate16(composite[x] - chroma[x]);
        out[x].cb = saturate16((matrix[0] * u[x] + matrix[1] * v[x] + 2048) >> 12);
        out[x].cr = saturate16((matrix[2] * u[x] + matrix[3] * v[x] + 2048) >> 12);
    }
}

void line_comb_row_c(int16_t* out, const int16_t* row, const int16_t* above, const int16_t* below,
                     int count)
{
    if (below == nullptr) {
        for (int x = 0; x < count; ++x)
            out[x] = static_cast<int16_t>((row[x] - above[x]) >> 1);
        return;
    }
    for (int x = 0; x < count; ++x)
        out[x] = static_cast<int16_t>((2 * row[x] - above[x] - below[x] + 2) >> 2);
}

void frame_difference_row_c(int16_t* out, const int16_t* row, const int16_t* partner, int count)
{
    for (int x = 0; x < count; ++x)
        out[x] = static_cast<int16_t>((row[x] - partner[x]) >> 1);
}

void frame_comb_row_c(int16_t* chroma, const int16_t* difference,
                      const int16_t* motion_difference, int count)
{
    for (int x = 0; x < count; ++x) {
        int32_t motion = 0;
        for (int k = -frame_comb_motion_reach; k <= frame_comb_motion_reach; ++k)
            motion = std::max(motion, std::abs(int32_t{motion_difference[x + k]}));
        const int32_t moving = std::clamp((motion - frame_comb_threshold) * frame_comb_slope, 0, 256);
        chroma[x] = static_cast<int16_t>(
            (chroma[x] * moving + difference[x] * (256 - moving) + 128) >> 8);
    }
}

void delay_line_row_c(PIXEL_YC* row, PIXEL_YC* previous, int count)
{
    for (int x = 0; x < count; ++x) {
        const PIXEL_YC own = row[x];
        row[x].cb = static_cast<int16_t>((own.cb + previous[x].cb + 1) >> 1);
        row[x].cr = static_cast<int16_t>((own.cr + previous[x].cr + 1) >> 1);
        previous[x] = own;
    }
}

void assemble_delayed_row_c(PIXEL_YC* out, PIXEL_YC* previous, const int16_t* composite,
                            const int16_t* chroma, const int16_t* u, const int16_t* v,
                            const int16_t matrix[4], int count)
{
    assemble_row_c(out, composite, chroma, u, v, matrix, count);
    delay_line_row_c(out, previous, count);
}

void bandpass_demodulate_row_c(int16_t* chroma, int16_t* u, int16_t* v, const int16_t* in,
                               const int16_t* taps, const int16_t* cos_weights,
                               const int16_t* sin_weights, int count, int32_t sign)
{
    decoder_fir_row_c(chroma, in, taps, decoder_bandpass_reach, count);
    demodulate_row_c(u, v, chroma, cos_weights, sin_weights, count, sign);
}

void extract_luma_row_c(int16_t* out, const PIXEL_YC* pixels, int count)
{
    for (int x = 0; x < count; ++x)
        out[x] = pixels[x].y;
}

const int16_t* decoder_lowpass_taps(int32_t bandwidth, int* reach, int32_t standard)
{
    *reach = bandwidth == CHROMA_NARROW ? decoder_lowpass_reach : 5;
    return bandwidth == CHROMA_NARROW   ? narrow_lowpass
           : standard == STANDARD_PAL ? pal_wide_lowpass
                                        : wide_lowpass;
}

static const KernelVariant<DecoderFirRowFn> decoder_fir_row_variants[] = {
    {"c", 0, decoder_fir_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, decoder_fir_row_sse2},
    {"avx2", CPU_FLAG_AVX2, decoder_fir_row_avx2},
#endif
};
static const KernelVariant<DemodulateRowFn> demodulate_row_variants[] = {
    {"c", 0, demodulate_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, demodulate_row_sse2},
    {"avx2", CPU_FLAG_AVX2, demodulate_row_avx2},
#endif
};
static const KernelVariant<AssembleRowFn> assemble_row_variants[] = {
    {"c", 0, assemble_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, assemble_row_sse2},
    {"avx2", CPU_FLAG_AVX2, assemble_row_avx2},
#endif
};
static const KernelVariant<LineCombRowFn> line_comb_row_variants[] = {
    {"c", 0, line_comb_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, line_comb_row_sse2},
    {"avx2", CPU_FLAG_AVX2, line_comb_row_avx2},
#endif
};
static const KernelVariant<FrameDifferenceRowFn> frame_difference_row_variants[] = {
    {"c", 0, frame_difference_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, frame_difference_row_sse2},
    {"avx2", CPU_FLAG_AVX2, frame_difference_row_avx2},
#endif
};
static const KernelVariant<FrameCombRowFn> frame_comb_row_variants[] = {
    {"c", 0, frame_comb_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, frame_comb_row_sse2},
    {"avx2", CPU_FLAG_AVX2, frame_comb_row_avx2},
#endif
};
static const KernelVariant<AssembleDelayedRowFn> assemble_delayed_row_variants[] = {
    {"c", 0, assemble_delayed_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, assemble_delayed_row_sse2},
    {"avx2", CPU_FLAG_AVX2, assemble_delayed_row_avx2},
#endif
};
static const KernelVariant<BandpassDemodulateRowFn> bandpass_demodulate_row_variants[] = {
    {"c", 0, bandpass_demodulate_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, bandpass_demodulate_row_sse2},
    {"avx2", CPU_FLAG_AVX2, bandpass_demodulate_row_avx2},
#endif
};
static const KernelVariant<ExtractLumaRowFn> extract_luma_row_variants[] = {
    {"c", 0, extract_luma_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, extract_luma_row_sse2},
    {"avx2", CPU_FLAG_AVX2, extract_luma_row_avx2},
#endif
};

DispatchedKernel<DecoderFirRowFn> decoder_fir_row_kernel = {decoder_fir_row_variants,
                                                            std::size(decoder_fir_row_variants)};
DispatchedKernel<DemodulateRowFn> demodulate_row_kernel = {demodulate_row_variants,
                                                           std::size(demodulate_row_variants)};
DispatchedKernel<AssembleRowFn> assemble_row_kernel = {assemble_row_variants,
                                                       std::size(assemble_row_variants)};
DispatchedKernel<LineCombRowFn> line_comb_row_kernel = {line_comb_row_variants,
                                                        std::size(line_comb_row_variants)};
DispatchedKernel<FrameDifferenceRowFn> frame_difference_row_kernel = {
    frame_difference_row_variants, std::size(frame_difference_row_variants)};
DispatchedKernel<FrameCombRowFn> frame_comb_row_kernel = {frame_comb_row_variants,
                                                          std::size(frame_comb_row_variants)};
DispatchedKernel<AssembleDelayedRowFn> assemble_delayed_row_kernel = {
    assemble_delayed_row_variants, std::size(assemble_delayed_row_variants)};
DispatchedKernel<BandpassDemodulateRowFn> bandpass_demodulate_row_kernel = {
    bandpass_demodulate_row_variants, std::size(bandpass_demodulate_row_variants)};
DispatchedKernel<ExtractLumaRowFn> extract_luma_row_kernel = {
    extract_luma_row_variants, std::size(extract_luma_row_variants)};

void select_decoder_kernels(DecoderKernels* kernels)
{
    kernels->fir = best_variant(decoder_fir_row_kernel);
    kernels->demodulate = best_variant(demodulate_row_kernel);
    kernels->assemble = best_variant(assemble_row_kernel);
    kernels->line_comb = best_variant(line_comb_row_kernel);
    kernels->frame_difference = best_variant(frame_difference_row_kernel);
    kernels->frame_comb = best_variant(frame_comb_row_kernel);
    kernels->assemble_delayed = best_variant(assemble_delayed_row_kernel);
    kernels->bandpass_demodulate = best_variant(bandpass_demodulate_row_kernel);
    kernels->extract_luma = best_variant(extract_luma_row_kernel);
}

// The working rows, each with room for the filters' reach on both sides.
constexpr int max_comb_reach = 4;  // rows to a comb partner: PAL's two field lines
enum WorkRow {
    RING_ROWS = 2 * max_comb_reach + 1,  // composite rows r - 4 .. r + 4, row q at (q - top) % 9
    SEPARATED = RING_ROWS,  // what the band-pass separates the chroma from
    CHROMA,
    DIFFERENCE,         // half the difference from the partner frame
    MOTION_DIFFERENCE,  // half the difference from the frame of the same phase
    PARTNER,
    SAME_PHASE,
    U_PRODUCT,
    V_PRODUCT,
    U_LOW,
    V_LOW,
    DELAYED,  // PAL's delay line: two rows of undelayed pixels, 3 values each
    WORK_ROWS = DELAYED + 6
};
constexpr int row_margin = decoder_lowpass_reach;

static int16_t* work_row(DecoderState* state, int index)
{
    return state->rows + static_cast<size_t>(index) * (state->rows_width + 2 * row_margin) +
           row_margin;
}

static PIXEL_YC* delayed_row(DecoderState* state, int row)
{
    return reinterpret_cast<PIXEL_YC*>(work_row(state, DELAYED + 3 * (row & 1)) - row_margin);
}

static bool reserve_rows(DecoderState* state, int width)
{
    if (state->rows != nullptr && state->rows_width >= width)
        return true;
    release_decoder_state(state);
    const size_t count = static_cast<size_t>(WORK_ROWS) * (width + 2 * row_margin);
    state->rows = static_cast<int16_t*>(std::malloc(count * sizeof(int16_t)));
    if (state->rows == nullptr)
        return false;
    state->rows_width = width;
    return true;
}

// Repeats a row's first and last value over its margins, so that the
// filters see the rectangle's own edge beyond it.
static void extend_edges(int16_t* row, int count)
{
    for (int k = 1; k <= row_margin; ++k) {
        row[-k] = row[0];
        row[count - 1 + k] = row[count - 1];
    }
}

// Asks for slice `part` of `parts` of a frame row ahead of its use, so
// that its fetch from memory overlaps the filters' work before it.
static void prefetch_slice(const PIXEL_YC* pixels, int count, int part, int parts)
{
    const char* bytes = reinterpret_cast<const char*>(pixels);
    const size_t size = static_cast<size_t>(count) * sizeof(PIXEL_YC);
    const size_t begin = size * part / parts & ~size_t(63), end = size * (part + 1) / parts;
    for (size_t offset = begin; offset < end; offset += 64)
        __builtin_prefetch(bytes + offset);
}

static void update_tables(DecoderState* state, const DecodeSettings* settings, int32_t freq,
                          int32_t standard)
{
    if (state->bandpass_freq != freq || state->bandpass_standard != standard) {
        compute_decoder_bandpass(state->bandpass, freq, standard);
        state->bandpass_freq = freq;
        state->bandpass_standard = standard;
    }
    if (state->matrix_saturation != settings->saturation || state->matrix_hue != settings->hue) {
        compute_decoder_matrix(state->matrix, settings->saturation, settings->hue);
        compute_pal_decoder_matrix(state->pal_matrix, settings->saturation, settings->hue);
        state->matrix_saturation = settings->saturation;
        state->matrix_hue = settings->hue;
    }
}

int start_decode_walk(DecodeWalk* walk, DecoderState* state, const DecoderKernels* kernels,
                      const DecodeSettings* settings, int32_t standard, int32_t freq,
                      const SubcarrierTables* carrier,
                      int32_t carrier_flags, const PalSequence* sequence, const PIXEL_YC* partner,
                      const PIXEL_YC* same_phase, const FilterRect* rect)
{
    walk->state = state;
    walk->kernels = kernels;
    walk->settings = clamp_decode_settings(*settings);
    walk->standard = standard == STANDARD_PAL ? STANDARD_PAL : STANDARD_NTSC;
    walk->freq = freq;
    walk->carrier = carrier;
    walk->carrier_flags = carrier_flags;
    walk->sequence = walk->standard == STANDARD_PAL ? *sequence : PalSequence{};
    walk->partner = partner;
    walk->same_phase = same_phase;
    walk->rect = *rect;
    walk->loaded = walk->decoded = rect->top;
    if (walk->settings.mode == DECODE_OFF || rect_is_empty(rect))
        return 1;
    if (!reserve_rows(state, rect->right - rect->left))
        return 0;
    update_tables(state, &walk->settings, freq, walk->standard);
    return 1;
}

int decode_walk_reach(const DecodeWalk* walk)
{
    return walk->standard == STANDARD_PAL ? 4 : 2;
}

void decode_walk_rows(DecodeWalk* walk, const RowPlace* rows, int end)
{
    const DecodeSettings& settings = walk->settings;
    const FilterRect* rect = &walk->rect;
    end = std::min(end, rect->bottom);
    if (settings.mode == DECODE_OFF || walk->decoded >= end)
        return;
    DecoderState* state = walk->state;
    const int width = rect->right - rect->left;
    const bool pal = walk->standard == STANDARD_PAL;
    const PIXEL_YC* partner = walk->partner;
    const PIXEL_YC* same_phase = walk->same_phase;
    const bool frame_comb =
        settings.mode == DECODE_3D && partner != nullptr && same_phase != nullptr;
    const int mode = settings.mode == DECODE_3D ? DECODE_3LINE : settings.mode;
    const int comb_reach = decode_walk_reach(walk);
    const bool delay_line = pal && settings.delay_line;
    int lowpass_reach = 0;
    const int16_t* lowpass = decoder_lowpass_taps(settings.bandwidth, &lowpass_reach, walk->standard);

    const DecoderKernels* kernels = walk->kernels;
    DecoderFirRowFn* fir = kernels->fir;
    DemodulateRowFn* demodulate = kernels->demodulate;
    AssembleRowFn* assemble = kernels->assemble;
    LineCombRowFn* line_comb = kernels->line_comb;
    FrameDifferenceRowFn* frame_difference = kernels->frame_difference;
    FrameCombRowFn* frame_comb_blend = kernels->frame_comb;
    AssembleDelayedRowFn* assemble_delayed = kernels->assemble_delayed;
    BandpassDemodulateRowFn* bandpass_demodulate = kernels->bandpass_demodulate;
    ExtractLumaRowFn* extract_luma = kernels->extract_luma;

    auto ring = [&](int q) { return work_row(state, (q - rect->top) % RING_ROWS); };
    auto load_through = [&](int last) {
        for (; walk->loaded <= std::min(last, rect->bottom - 1); ++walk->loaded) {
            extract_luma(ring(walk->loaded), place_row(rows, walk->loaded), width);
            extend_edges(ring(walk->loaded), width);
        }
    };

    int16_t* separated = work_row(state, SEPARATED);
    int16_t* chroma = work_row(state, CHROMA);
    int16_t* u = work_row(state, U_PRODUCT);
    int16_t* v = work_row(state, V_PRODUCT);
    int16_t* u_low = work_row(state, U_LOW);
    int16_t* v_low = work_row(state, V_LOW);
    for (int r = walk->decoded; r < end; ++r) {
        load_through(r + comb_reach);
        const int16_t* row = ring(r);
        const int16_t* above = r - comb_reach >= rect->top ? ring(r - comb_reach) : nullptr;
        const int16_t* below = r + comb_reach < rect->bottom ? ring(r + comb_reach) : nullptr;
        if (mode == DECODE_2LINE && above != nullptr)
            below = nullptr;  // one partner: above, else below
        if (above == nullptr)
            std::swap(above, below);

        // Separation: the chroma is the band around the carrier of the row
        // itself (notch) or of the line comb's output.
        const int16_t* source = row;
        if (mode != DECODE_NOTCH && above != nullptr) {
            line_comb(separated, row, above, below, width);
            extend_edges(separated, width);
            source = separated;
        }
        // The next row to load (and the earlier frames' next rows), a
        // quarter before each filter, so that the fetches overlap them.
        auto prefetch_ahead = [&](int part) {
            if (walk->loaded < end + comb_reach && walk->loaded < rect->bottom)
                prefetch_slice(place_row(rows, walk->loaded), width, part, 4);
            if (frame_comb && r + 1 < rect->bottom) {
                prefetch_slice(rect_row(partner, rect, r + 1), width, part, 4);
                prefetch_slice(rect_row(same_phase, rect, r + 1), width, part, 4);
            }
        };
        // Demodulation with the encoder's carrier, then the chroma low-pass.
        // NTSC demodulates with the row's sign; PAL with the column's carrier
        // alone and turns the line's phase back in its matrix.
        const int16_t* matrix = state->matrix;
        int16_t line_matrix[4];
        int32_t sign = 1;
        if (pal) {
            pal_line_matrix(line_matrix, state->pal_matrix, pal_line(&walk->sequence, r));
            matrix = line_matrix;
        } else {
            sign = composite_row_sign(rect, walk->carrier_flags, r);
        }
        const int16_t* cos_weights = walk->carrier->cos_table + rect->left;
        const int16_t* sin_weights = walk->carrier->sin_table + rect->left;
        prefetch_ahead(0);
        if (frame_comb) {
            fir(chroma, source, state->bandpass, decoder_bandpass_reach, width);
            prefetch_ahead(1);
            // Where the frame of the same phase is the same, nothing moved:
            // half the difference from the partner is the chroma there.
            int16_t* difference = work_row(state, DIFFERENCE);
            int16_t* motion_difference = work_row(state, MOTION_DIFFERENCE);
            int16_t* partner_row = work_row(state, PARTNER);
            int16_t* same_phase_row = work_row(state, SAME_PHASE);
            extract_luma(partner_row, rect_row(partner, rect, r), width);
            extract_luma(same_phase_row, rect_row(same_phase, rect, r), width);
            frame_difference(difference, row, partner_row, width);
            frame_difference(motion_difference, row, same_phase_row, width);
            extend_edges(motion_difference, width);
            frame_comb_blend(chroma, difference, motion_difference, width);
            demodulate(u, v, chroma, cos_weights, sin_weights, width, sign);
        } else {
            // The chroma is final as the band-pass gives it: demodulated at once.
            bandpass_demodulate(chroma, u, v, source, state->bandpass, cos_weights, sin_weights,
                                width, sign);
            prefetch_ahead(1);
        }
        extend_edges(u, width);
        extend_edges(v, width);
        prefetch_ahead(2);
        fir(u_low, u, lowpass, lowpass_reach, width);
        prefetch_ahead(3);
        fir(v_low, v, lowpass, lowpass_reach, width);
        PIXEL_YC* out = place_row(rows, r);
        // PAL's delay line: row r - 2, the previous field line, as the
        // demodulator gave it.
        PIXEL_YC* previous = delay_line ? delayed_row(state, r) : nullptr;
        if (previous != nullptr && r - 2 >= rect->top) {
            assemble_delayed(out, previous, row, chroma, u_low, v_low, matrix, width);
        } else {
            assemble(out, row, chroma, u_low, v_low, matrix, width);
            if (previous != nullptr)
                std::memcpy(previous, out, static_cast<size_t>(width) * sizeof(PIXEL_YC));
        }
    }
    walk->decoded = end;
}

// The whole rectangle of a frame in one walk.
static int decode_frame(DecodeWalk* walk, PIXEL_YC* frame, const FilterRect* rect)
{
    const RowPlace rows = {rect_row(frame, rect, 0), rect->pitch, 0};
    decode_walk_rows(walk, &rows, rect->bottom);
    return 1;
}

int decode_composite(DecoderState* state, const DecodeSettings* settings, int32_t freq,
                     const SubcarrierTables* carrier, int32_t carrier_flags, PIXEL_YC* frame,
                     const PIXEL_YC* partner, const PIXEL_YC* same_phase, const FilterRect* rect)
{
    DecoderKernels kernels;
    select_decoder_kernels(&kernels);
    DecodeWalk walk;
    return start_decode_walk(&walk, state, &kernels, settings, STANDARD_NTSC, freq, carrier, carrier_flags,
                             nullptr, partner, same_phase, rect) &&
           decode_frame(&walk, frame, rect);
}

int decode_pal_composite(DecoderState* state, const DecodeSettings* settings,
                         const SubcarrierTables* carrier, const PalSequence* sequence,
                         PIXEL_YC* frame, const PIXEL_YC* partner, const PIXEL_YC* same_phase,
                         const FilterRect* rect)
{
    DecoderKernels kernels;
    select_decoder_kernels(&kernels);
    DecodeWalk walk;
    return start_decode_walk(&walk, state, &kernels, settings, STANDARD_PAL, sequence->freq, carrier, 0,
                             sequence, partner, same_phase, rect) &&
           decode_frame(&walk, frame, rect);
}

void release_decoder_state(DecoderState* state)
{
    std::free(state->rows);
    state->rows = nullptr;
    state->rows_width = -1;
}
