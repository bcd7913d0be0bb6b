#include "engine/vhs_deck.h"

#include "engine/composite_decoder.h"
#include "engine/settings_table.h"

#if NOREL_X86
#include "engine/x86/vhs_deck.h"
#endif

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

// Working rows carry at least this many values to either side of the
// rectangle, for the filters' reach (VhsState::margin: more where the
// colour-under channel's reduced rate needs it).
constexpr int least_margin = 64;
constexpr int most_reach = vhs_most_reach;

const char* vhs_format_name(int32_t format)
{
    static const char* const names[vhs_format_count] = {"off", "sp", "lp", "ep", "svhs"};
    return format >= 0 && format < vhs_format_count ? names[format] : "off";
}

// What each tape format records (docs/vhs.md): luma bandwidth in kHz, the
// luma signal-to-noise ratio in tenths of a dB, the deck's peaking in
// percent, the chroma's lag behind luma in ns.
struct TapeFormat {
    int32_t luma_khz;
    int32_t snr_decibels_10;
    int32_t peaking;
    int32_t chroma_delay_ns;
};
static const TapeFormat tape_formats[vhs_format_count] = {
    {0, 0, 0, 0},             // off
    {3000, 430, 50, 150},     // SP
    {2800, 405, 50, 150},     // LP
    {2500, 380, 50, 150},     // EP
    {5000, 450, 35, 100},     // S-VHS
};
constexpr int32_t chroma_bandwidth_khz = 500;   // colour-under, both standards
constexpr int32_t chroma_snr_decibels_10 = 400;  // AM noise of the colour-under channel
constexpr double emphasis_us = 1.3, emphasis_decibels = 14;  // the luma's emphasis shelf
constexpr int32_t white_clip_percent = 200;  // the pre-emphasised luma's white clip, of white

VhsSettings clamp_vhs_settings(const VhsSettings& settings, int32_t standard)
{
    EffectSettings given;
    given.vhs = settings;
    VhsSettings s = normalised_settings(&given).vhs;
    s.chroma_noise = std::clamp(s.chroma_noise, 0, vhs_tape_noise_max);
    if (s.head_switching == vhs_own_head_switching)
        s.head_switching = standard == STANDARD_PAL ? 4 : 3;
    if (s.chroma_delay == vhs_own_chroma_delay)
        s.chroma_delay = tape_formats[s.format].chroma_delay_ns;
    return s;
}

uint32_t vhs_hash(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

static int16_t saturate16(int32_t value)
{
    return static_cast<int16_t>(std::clamp(value, -32768, 32767));
}

void vhs_noise_row_c(int16_t* luma, int16_t* u, int16_t* v, uint32_t key, int32_t first, int count)
{
    for (int x = 0; x < count; ++x) {
        const uint32_t h = vhs_hash(key + static_cast<uint32_t>(first + x) * 0x9E3779B9u);
        luma[x] = static_cast<int16_t>(h & 0xffffu);
        u[x] = static_cast<int16_t>((h >> 8) & 0xff00u);
        v[x] = static_cast<int16_t>((h >> 16) & 0xff00u);
    }
}

void vhs_add_noise_row_c(int16_t* y, const int16_t* w, int count, int32_t gain, int32_t rise)
{
    for (int x = 0; x < count; ++x)
        y[x] = saturate16(y[x] + (((gain + rise) * w[x] - rise * w[x - 1] + 16384) >> 15));
}

void vhs_shift_row_c(int16_t* out, const int16_t* in, int count, int32_t fraction)
{
    for (int x = 0; x < count; ++x)
        out[x] = static_cast<int16_t>((in[x] * (256 - fraction) + in[x + 1] * fraction + 128) >> 8);
}

void vhs_assemble_row_c(int16_t* out, const int16_t* y, const int16_t* u, const int16_t* v,
                        const int16_t* cos_weights, const int16_t* sin_weights,
                        const int16_t matrix[4], int count)
{
    for (int x = 0; x < count; ++x) {
        const int32_t a = saturate16((matrix[0] * u[x] + matrix[1] * v[x] + 8192) >> 14);
        const int32_t b = saturate16((matrix[2] * u[x] + matrix[3] * v[x] + 8192) >> 14);
        out[x] = saturate16(y[x] + ((a * cos_weights[x] + b * sin_weights[x] + 1024) >> 11));
    }
}

void vhs_symmetric_fir_row_c(int16_t* out, const int16_t* in, const int16_t* taps, int reach,
                             int count)
{
    const int16_t* centre = taps + reach;
    for (int x = 0; x < count; ++x) {
        int32_t sum = centre[0] * in[x] + 8192;
        for (int k = 1; k <= reach; ++k)
            sum += centre[k] * saturate16(in[x - k] + in[x + k]);
        out[x] = saturate16(sum >> 14);
    }
}

void vhs_decimate_row_c(int16_t* out, const int16_t* in, int count)
{
    for (int j = 0; j < count; ++j)
        out[j] = static_cast<int16_t>((in[2 * j - 2] + 4 * in[2 * j - 1] + 6 * in[2 * j] +
                                       4 * in[2 * j + 1] + in[2 * j + 2] + 8) >> 4);
}

void vhs_interpolate_row_c(int16_t* out, const int16_t* in, int count)
{
    for (int j = 0; j < count; ++j) {
        out[2 * j] = in[j];
        out[2 * j + 1] = static_cast<int16_t>((in[j] + in[j + 1] + 1) >> 1);
    }
}

int32_t vhs_clip_row_c(int16_t* r, const int16_t* y, const int16_t* low, int32_t boost, int32_t clip,
                       int count)
{
    int32_t least = 0;
    for (int x = 0; x < count; ++x) {
        const int32_t emphasised = (y[x] * (4096 + boost) - low[x] * boost + 2048) >> 12;
        r[x] = std::min<int16_t>(saturate16(clip - emphasised), 0);
        least = std::min<int32_t>(least, r[x]);
    }
    return least;
}

void vhs_mix_row_c(int16_t* y, const int16_t* r, const int16_t* l, int32_t a, int32_t b, int count)
{
    for (int x = 0; x < count; ++x)
        y[x] = saturate16(y[x] + ((a * r[x] + b * l[x] + 8192) >> 14));
}

void vhs_store_luma_row_c(PIXEL_YC* pixels, const int16_t* y, int count)
{
    for (int x = 0; x < count; ++x)
        pixels[x].y = y[x];
}

static const KernelVariant<VhsFirRowFn> fir_variants[] = {
    {"c", 0, decoder_fir_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, vhs_fir_row_sse2},
    {"avx2", CPU_FLAG_AVX2, vhs_fir_row_avx2},
#endif
};
static const KernelVariant<VhsSymmetricFirRowFn> symmetric_fir_variants[] = {
    {"c", 0, vhs_symmetric_fir_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, vhs_symmetric_fir_row_sse2},
    {"avx2", CPU_FLAG_AVX2, vhs_symmetric_fir_row_avx2},
#endif
};
static const KernelVariant<VhsNoiseRowFn> noise_variants[] = {
    {"c", 0, vhs_noise_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, vhs_noise_row_sse2},
    {"avx2", CPU_FLAG_AVX2, vhs_noise_row_avx2},
#endif
};
static const KernelVariant<VhsAddNoiseRowFn> add_noise_variants[] = {
    {"c", 0, vhs_add_noise_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, vhs_add_noise_row_sse2},
    {"avx2", CPU_FLAG_AVX2, vhs_add_noise_row_avx2},
#endif
};
static const KernelVariant<VhsShiftRowFn> shift_variants[] = {
    {"c", 0, vhs_shift_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, vhs_shift_row_sse2},
    {"avx2", CPU_FLAG_AVX2, vhs_shift_row_avx2},
#endif
};
static const KernelVariant<VhsAssembleRowFn> assemble_variants[] = {
    {"c", 0, vhs_assemble_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, vhs_assemble_row_sse2},
    {"avx2", CPU_FLAG_AVX2, vhs_assemble_row_avx2},
#endif
};
static const KernelVariant<VhsDecimateRowFn> decimate_variants[] = {
    {"c", 0, vhs_decimate_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, vhs_decimate_row_sse2},
    {"avx2", CPU_FLAG_AVX2, vhs_decimate_row_avx2},
#endif
};
static const KernelVariant<VhsInterpolateRowFn> interpolate_variants[] = {
    {"c", 0, vhs_interpolate_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, vhs_interpolate_row_sse2},
    {"avx2", CPU_FLAG_AVX2, vhs_interpolate_row_avx2},
#endif
};
static const KernelVariant<VhsClipRowFn> clip_variants[] = {
    {"c", 0, vhs_clip_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, vhs_clip_row_sse2},
    {"avx2", CPU_FLAG_AVX2, vhs_clip_row_avx2},
#endif
};
static const KernelVariant<VhsMixRowFn> mix_variants[] = {
    {"c", 0, vhs_mix_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, vhs_mix_row_sse2},
    {"avx2", CPU_FLAG_AVX2, vhs_mix_row_avx2},
#endif
};
static const KernelVariant<VhsStoreLumaRowFn> store_luma_variants[] = {
    {"c", 0, vhs_store_luma_row_c},
#if NOREL_X86
    {"sse2", CPU_FLAG_SSE2, vhs_store_luma_row_sse2},
    {"avx2", CPU_FLAG_AVX2, vhs_store_luma_row_avx2},
#endif
};
DispatchedKernel<VhsFirRowFn> vhs_fir_row_kernel = {fir_variants, std::size(fir_variants)};
DispatchedKernel<VhsSymmetricFirRowFn> vhs_symmetric_fir_row_kernel = {
    symmetric_fir_variants, std::size(symmetric_fir_variants)};
DispatchedKernel<VhsNoiseRowFn> vhs_noise_row_kernel = {noise_variants, std::size(noise_variants)};
DispatchedKernel<VhsAddNoiseRowFn> vhs_add_noise_row_kernel = {add_noise_variants,
                                                               std::size(add_noise_variants)};
DispatchedKernel<VhsShiftRowFn> vhs_shift_row_kernel = {shift_variants, std::size(shift_variants)};
DispatchedKernel<VhsAssembleRowFn> vhs_assemble_row_kernel = {assemble_variants,
                                                              std::size(assemble_variants)};
DispatchedKernel<VhsDecimateRowFn> vhs_decimate_row_kernel = {decimate_variants,
                                                              std::size(decimate_variants)};
DispatchedKernel<VhsInterpolateRowFn> vhs_interpolate_row_kernel = {interpolate_variants,
                                                                    std::size(interpolate_variants)};
DispatchedKernel<VhsClipRowFn> vhs_clip_row_kernel = {clip_variants, std::size(clip_variants)};
DispatchedKernel<VhsMixRowFn> vhs_mix_row_kernel = {mix_variants, std::size(mix_variants)};
DispatchedKernel<VhsStoreLumaRowFn> vhs_store_luma_row_kernel = {store_luma_variants,
                                                                 std::size(store_luma_variants)};

void select_vhs_kernels(VhsKernels* kernels)
{
    kernels->fir = best_variant(vhs_fir_row_kernel);
    kernels->symmetric_fir = best_variant(vhs_symmetric_fir_row_kernel);
    kernels->noise = best_variant(vhs_noise_row_kernel);
    kernels->add_noise = best_variant(vhs_add_noise_row_kernel);
    kernels->shift = best_variant(vhs_shift_row_kernel);
    kernels->assemble = best_variant(vhs_assemble_row_kernel);
    kernels->decimate = best_variant(vhs_decimate_row_kernel);
    kernels->interpolate = best_variant(vhs_interpolate_row_kernel);
    kernels->clip = best_variant(vhs_clip_row_kernel);
    kernels->mix = best_variant(vhs_mix_row_kernel);
    kernels->demodulate = best_variant(demodulate_row_kernel);
    kernels->extract_luma = best_variant(extract_luma_row_kernel);
    kernels->store_luma = best_variant(vhs_store_luma_row_kernel);
}

// The set-up's cosine and exponential from additions, multiplications and
// divisions alone, which IEEE rounds alike on every build (no library's
// own approximation decides a tap).
static double series_cos(double x)
{
    const double two_pi = 6.283185307179586;
    x -= two_pi * std::floor(x / two_pi + 0.5);
    const double x2 = x * x;
    double term = 1, sum = 1;
    for (int n = 1; n <= 14; ++n) {
        term = -term * x2 / ((2 * n - 1) * (2.0 * n));
        sum += term;
    }
    return sum;
}

static double series_exp(double x)
{
    // e^x = (e^(x / 1024))^1024, the small power from its series.
    const double small = x / 1024;
    double term = 1, sum = 1;
    for (int n = 1; n <= 12; ++n) {
        term = term * small / n;
        sum += term;
    }
    for (int i = 0; i < 10; ++i)
        sum *= sum;
    return sum;
}

constexpr double ln2 = 0.6931471805599453;
constexpr double pi = 3.141592653589793;

// A Gaussian of sigma pixels, sampled from -reach to reach, into taps
// (reach as given).
static void gaussian(double* taps, int reach, double sigma)
{
    for (int k = -reach; k <= reach; ++k)
        taps[k + reach] = series_exp(-(k * k) / (2 * sigma * sigma));
    double sum = 0;
    for (int k = 0; k <= 2 * reach; ++k)
        sum += taps[k];
    for (int k = 0; k <= 2 * reach; ++k)
        taps[k] /= sum;
}

static int reach_for(double sigma)
{
    return std::clamp(static_cast<int>(std::ceil(3.5 * sigma)), 1, most_reach);
}

// Taps in Q14 summing to exactly `total`, the rounding's error in the centre.
static void quantise(int16_t* out, const double* taps, int reach, int32_t total)
{
    int32_t sum = 0;
    for (int k = 0; k <= 2 * reach; ++k) {
        out[k] = static_cast<int16_t>(std::floor(taps[k] * total + 0.5));
        sum += out[k];
    }
    out[reach] = static_cast<int16_t>(out[reach] + total - sum);
}

// The luma's record-to-playback response: the tape's FM bandwidth (a
// Gaussian roll-off) with the deck's peaking, a difference of Gaussians,
// (1 + p) G(sigma) - p G(1.6 sigma). Sigma is searched so that the
// response falls to -3 dB at `cutoff` (cycles per pixel).
static int luma_filter(int16_t* out, double cutoff, double peaking)
{
    double taps[2 * most_reach + 1], wide[2 * most_reach + 1];
    int reach = 1;
    auto build = [&](double sigma) {
        reach = reach_for(1.6 * sigma);
        gaussian(taps, reach, sigma);
        gaussian(wide, reach, 1.6 * sigma);
        for (int k = 0; k <= 2 * reach; ++k)
            taps[k] = (1 + peaking) * taps[k] - peaking * wide[k];
    };
    auto response = [&] {
        double sum = 0;
        for (int k = -reach; k <= reach; ++k)
            sum += taps[k + reach] * series_cos(2 * pi * cutoff * k);
        return sum;
    };
    double low = 0.05, high = 40;
    for (int i = 0; i < 60; ++i) {
        const double sigma = (low + high) / 2;
        build(sigma);
        if (response() > 0.7071067811865476)
            low = sigma;
        else
            high = sigma;
    }
    build((low + high) / 2);
    quantise(out, taps, reach, 16384);
    return reach;
}

// Values beyond a row's ends that `decimate` reads for `margin` values
// beyond its result's ends.
static int full_rate_margin(int margin, int levels)
{
    return ((margin + 2) << levels) - 2;
}

// A Gaussian low-pass of sigma samples, its taps summing to `total`.
static int gaussian_filter(int16_t* out, double sigma, int32_t total)
{
    // At least half a sample, so that no tap reaches 16 bits.
    sigma = std::max(0.5, sigma);
    double taps[2 * most_reach + 1];
    const int reach = reach_for(sigma);
    gaussian(taps, reach, sigma);
    quantise(out, taps, reach, total);
    return reach;
}

// How many times the colour-under channel's rate is halved: while the rate
// stays at or above 6.75 MHz (w / 360 samples a line), where each halving's
// [1 4 6 4 1] / 16 still takes the carrier's own frequency (the luma's
// image after demodulation) far enough down.
static int chroma_levels(int w)
{
    int levels = 0;
    while ((w >> (levels + 1)) >= 360)
        ++levels;
    return levels;
}

// The same for the de-emphasis's low-pass, whose corner lies at 122 kHz:
// while the rate stays at or above 1.69 MHz (w / 90 samples a line).
static int deemphasis_levels(int w)
{
    int levels = 0;
    while ((w >> (levels + 1)) >= 90)
        ++levels;
    return levels;
}

// The pre-emphasis's low-pass: first order, time constant `tau` samples,
// causal, as a filter of reach r read from 2r samples before: taps[j] is
// the weight of the sample 2r - j before.
static int emphasis_filter(int16_t* out, double tau)
{
    // Read from 2 reach before: within the rows' margin.
    const int reach = std::clamp(static_cast<int>(std::ceil(tau)), 1, most_reach / 2);
    const double pole = series_exp(-1 / tau);
    double taps[2 * most_reach + 1], weight = 1, sum = 0;
    for (int k = 0; k <= 2 * reach; ++k, weight *= pole) {
        taps[2 * reach - k] = weight;
        sum += weight;
    }
    for (int k = 0; k <= 2 * reach; ++k)
        taps[k] /= sum;
    quantise(out, taps, reach, 16384);
    return reach;
}

// Standard deviation of 16-bit uniform noise: 2^15 / sqrt(3).
constexpr double uniform_sigma = 18918.6;

static void build_filters(VhsState* state, const VhsSettings* s, int w)
{
    const TapeFormat& format = tape_formats[s->format];
    const double pixel_mhz = 13.5 * w / 720;  // the picture's sampling rate
    state->luma_reach = luma_filter(state->luma_taps, format.luma_khz / 1000.0 / pixel_mhz,
                                    format.peaking / 100.0);
    // Two colour-under Gaussians each falling to 2^(-1/4) at the cutoff,
    // together to -3 dB; the halvings of the rate (each [1 4 6 4 1] / 16,
    // variance 1 sample^2) and the doublings back (linear, 1/2 sample^2)
    // take their share of the spread.
    const double chroma_cutoff = chroma_bandwidth_khz / 1000.0 / pixel_mhz;
    const double sigma = std::sqrt(ln2 / (8 * pi * pi)) / chroma_cutoff;
    const int levels = chroma_levels(w);
    const double scale = 1 << levels;
    const double spread = (scale * scale - 1) / 3 + (scale * scale - 1) / 6;
    const double reduced_sigma = std::sqrt(std::max(0.0, sigma * sigma - spread / 2)) / scale;
    state->chroma_levels = levels;
    state->chroma_reach = gaussian_filter(state->record_taps, reduced_sigma, 32768);
    gaussian_filter(state->playback_taps, reduced_sigma, 16384);

    // Emphasis: a first-order shelf, +14 dB above 1 / (2 pi tau) with tau
    // 1.3 us; the pre-emphasis y + (10^(14/20) - 1) (y - low-passed y)
    // with that low-pass's time constant 1.3 us / 10^(14/20), the
    // de-emphasis its inverse, y / 10^(14/20) + (1 - 1 / 10^(14/20)) times y
    // low-passed with 1.3 us.
    const double shelf = series_exp(emphasis_decibels / 20.0 * 2.302585092994046);
    const double tau = emphasis_us * pixel_mhz;
    state->emphasis_reach = emphasis_filter(state->emphasis_taps, tau / shelf);
    state->emphasis_boost = static_cast<int32_t>(std::floor(4096 * (shelf - 1) + 0.5));
    state->white_clip = 4096 * white_clip_percent / 100;
    state->deemphasis_direct = static_cast<int32_t>(std::floor(16384 / shelf + 0.5));
    state->deemphasis_levels = deemphasis_levels(w);
    state->deemphasis_pole = static_cast<int32_t>(
        std::floor(32768 * (1 - series_exp(-(1 << state->deemphasis_levels) / tau)) + 0.5));
    state->margin = std::max({least_margin, full_rate_margin(state->chroma_reach, levels),
                              full_rate_margin(0, state->deemphasis_levels)});

    // Luma noise w (uniform) shaped to rise with frequency, then through the
    // luma filter: its deviation there is gain times sqrt(sum e^2 / 2^28 / 3)
    // with e the filter convolved with (1 + rise, -rise).
    const double rise = 2;
    const int reach = state->luma_reach;
    double energy = 0;
    for (int k = 0; k <= 2 * reach + 1; ++k) {
        const double now = k <= 2 * reach ? state->luma_taps[k] : 0;
        const double before = k > 0 ? state->luma_taps[k - 1] : 0;
        const double e = (1 + rise) * now - rise * before;
        energy += e * e;
    }
    const double per_gain = uniform_sigma / 32768 * std::sqrt(energy) / 16384;
    const double target = 4096 * series_exp(-format.snr_decibels_10 / 200.0 * 2.302585092994046) *
                          s->tape_noise / 100;
    const double gain = std::min(target / per_gain, 32767 / (1 + rise));
    state->noise_gain = static_cast<int32_t>(std::floor(gain + 0.5));
    state->noise_rise = static_cast<int32_t>(std::floor(gain * rise + 0.5));

    double chroma_energy = 0;
    for (int k = 0; k <= 2 * state->chroma_reach; ++k)
        chroma_energy += static_cast<double>(state->playback_taps[k]) * state->playback_taps[k];
    const double chroma_per_gain = uniform_sigma / 32768 * std::sqrt(chroma_energy) / 16384;
    const double chroma_target = 4096 * series_exp(-chroma_snr_decibels_10 / 200.0 * 2.302585092994046) *
                                 s->tape_noise / 100 * s->chroma_noise / 100;
    state->chroma_noise_gain =
        static_cast<int32_t>(std::floor(std::min(chroma_target / chroma_per_gain, 32767.0) + 0.5));
    state->chroma_delay_q8 = static_cast<int32_t>(static_cast<long long>(s->chroma_delay) * w * 12 / 2500);
}

// The deck's own carrier, the encoder's angles at unit gain (Q11), for
// columns -margin .. w + margin - 1.
static void build_carrier(VhsState* state, int32_t standard, int32_t freq, int32_t phase, int w)
{
    const double offset = (phase * 0.005555555555555556) * pi;
    const double step = carrier_step(standard, freq);
    const int margin = state->margin;
    for (int x = -margin; x < w + margin; ++x) {
        const double angle = x * step + offset;
        state->cos_table[x + margin] = static_cast<int16_t>(std::floor(series_cos(angle) * 2048 + 0.5));
        state->sin_table[x + margin] =
            static_cast<int16_t>(std::floor(series_cos(angle - pi / 2) * 2048 + 0.5));
    }
}

// The working rows, each row_length values: the rectangle's columns from
// the margin on.
// ROW_UD, ROW_VD hold the colour-under chroma at its reduced rate, ROW_R
// what the white clip took; the spare rows carry the changes of rate.
enum WorkRow {
    ROW_S, ROW_Y, ROW_U, ROW_V, ROW_T, ROW_UR, ROW_VR, ROW_UD, ROW_VD, ROW_R, ROW_WN, ROW_UN, ROW_VN,
    ROW_SPARE_1, ROW_SPARE_2, ROW_SPARE_3, ROW_SPARE_4, work_rows
};
// Per generation and field: two comb rows of u and v, the compensator's y, u, v.
constexpr int history_rows = 7;

static int16_t* work_row(const VhsWalk* walk, int which)
{
    const int margin = walk->state->margin;
    return walk->state->cos_table + 2 * (walk->w + 2 * margin) +
           static_cast<size_t>(which) * walk->row_length + margin;
}

static int16_t* history_row(const VhsWalk* walk, int generation, int field, int which)
{
    return work_row(walk, work_rows + (generation * 2 + field) * history_rows + which);
}

int start_vhs_deck(VhsWalk* walk, VhsState* state, const VhsKernels* kernels,
                   const VhsSettings* settings, int32_t standard, int32_t freq, int32_t phase,
                   int32_t carrier_flags, const PalSequence* sequence, const FilterRect* rect, int w,
                   int h, int32_t frame_number)
{
    walk->state = state;
    walk->kernels = kernels;
    walk->standard = standard == STANDARD_PAL ? STANDARD_PAL : STANDARD_NTSC;
    walk->settings = clamp_vhs_settings(*settings, walk->standard);
    walk->carrier_flags = carrier_flags;
    walk->sequence = *sequence;
    walk->rect = *rect;
    walk->w = w;
    walk->h = h;
    walk->frame = static_cast<uint32_t>(walk->settings.first_frame) + static_cast<uint32_t>(frame_number);
    const int width = rect->right - rect->left;
    // No line yet: far from any line's "line above".
    const int none = -1000000;
    for (auto& generation : walk->comb_line)
        for (auto& field : generation)
            field[0] = field[1] = none;
    for (auto& generation : walk->doc_line)
        generation[0] = generation[1] = none;

    const VhsSettings& s = walk->settings;
    const VhsSettings& b = state->built_for;
    const bool same_filters = state->built_w == w && b.format == s.format &&
                              b.tape_noise == s.tape_noise && b.chroma_noise == s.chroma_noise &&
                              b.chroma_delay == s.chroma_delay;
    if (!same_filters)
        build_filters(state, &s, w);
    const int margin = state->margin;
    walk->row_length = width + 2 * margin;
    const size_t need = 2 * static_cast<size_t>(w + 2 * margin) +
                        static_cast<size_t>(walk->row_length) *
                            (work_rows + s.generations * 2 * history_rows + 1);
    if (need > state->capacity) {
        std::free(state->memory);
        state->memory = static_cast<int16_t*>(std::malloc(need * sizeof(int16_t)));
        state->capacity = state->memory != nullptr ? need : 0;
        state->built_phase = 361;  // the carrier's table is gone
        if (state->memory == nullptr) {
            state->built_w = -1;
            return 0;
        }
    }
    state->cos_table = state->memory;
    state->sin_table = state->memory + (w + 2 * margin);
    if (!same_filters || state->built_standard != walk->standard || state->built_freq != freq ||
        state->built_phase != phase)
        build_carrier(state, walk->standard, freq, phase, w);
    state->built_for = s;
    state->built_w = w;
    state->built_standard = walk->standard;
    state->built_freq = freq;
    state->built_phase = phase;
    return 1;
}

void release_vhs_state(VhsState* state)
{
    std::free(state->memory);
    *state = VhsState{};
}

// The row's values beyond its ends, for a filter's reach: the end values again.
static void extend(int16_t* row, int width, int reach)
{
    std::fill(row - reach, row, row[0]);
    std::fill(row + width, row + width + reach, row[width - 1]);
}

// out[x] = in at x + offset / 256 (Q8), between its samples linearly,
// beyond its ends the end value.
static void shift_row(int16_t* out, const int16_t* in, int width, int32_t offset, VhsShiftRowFn* shift)
{
    const int whole = offset >> 8;  // floor
    const int32_t fraction = offset & 255;
    // Columns x whose samples x + whole and x + whole + 1 are both inside.
    const int first = std::clamp(-whole, 0, width);
    const int end = std::clamp(width - 1 - whole, first, width);
    auto at = [&](int x) {
        const int i = std::clamp(x + whole, 0, width - 1);
        const int j = std::clamp(x + whole + 1, 0, width - 1);
        return static_cast<int16_t>((in[i] * (256 - fraction) + in[j] * fraction + 128) >> 8);
    };
    for (int x = 0; x < first; ++x)
        out[x] = at(x);
    if (end > first)
        shift(out + first, in + first + whole, end - first, fraction);
    for (int x = end; x < width; ++x)
        out[x] = at(x);
}

// Values in a row at 1 / 2^level of the full rate: a row `width` long.
static int count_at(int width, int level)
{
    return (width + (1 << level) - 1) >> level;
}

// `row` (width values) at 1 / 2^levels of its rate, each halving low-passed
// by [1 4 6 4 1] / 16, so that value j lies where the row's value j 2^levels
// does, from -margin to its end + margin - 1; in `spare` or `spare_2` (a
// copy in `spare` for no halving). The row must hold values from
// -full_rate_margin to width + full_rate_margin - 1.
static int16_t* decimate(int16_t* row, int16_t* spare, int16_t* spare_2, int width, int levels,
                         int margin, VhsDecimateRowFn* halve)
{
    if (levels == 0) {
        std::memcpy(spare - margin, row - margin, (width + 2 * margin) * sizeof(int16_t));
        return spare;
    }
    int16_t* from = row;
    for (int level = 0; level < levels; ++level) {
        int16_t* to = level % 2 == 0 ? spare : spare_2;
        const int beyond = full_rate_margin(margin, levels - level - 1);
        halve(to - beyond, from - 2 * beyond, count_at(width, level + 1) + 2 * beyond);
        from = to;
    }
    return from;
}

// The row at 1 / 2^levels of the full rate back at the full rate, each
// doubling linear, in `spare` or `spare_2` (or `row` for none).
static int16_t* interpolate(int16_t* row, int16_t* spare, int16_t* spare_2, int width, int levels,
                            VhsInterpolateRowFn* twice)
{
    int16_t* from = row;
    for (int level = levels; level > 0; --level) {
        int16_t* to = level % 2 == 0 ? spare : spare_2;
        extend(from, count_at(width, level), 1);
        twice(to, from, count_at(width, level));
        from = to;
    }
    return from;
}

// The de-emphasis's low-pass, first order (`pole` Q15: the new value's
// weight), over a row in place, from rest at its left end.
static void low_pass(int16_t* row, int count, int32_t pole)
{
    int64_t state = 0;  // Q8
    for (int j = 0; j < count; ++j) {
        state += ((static_cast<int64_t>(row[j]) * 256 - state) * pole) >> 15;
        row[j] = saturate16(static_cast<int32_t>((state + 128) >> 8));
    }
}

// (u, v) turned by a Q14 matrix, saturated.
static void turn(int16_t* u, int16_t* v, const int16_t m[4], int width)
{
    for (int x = 0; x < width; ++x) {
        const int32_t a = (m[0] * u[x] + m[1] * v[x] + 8192) >> 14;
        const int32_t b = (m[2] * u[x] + m[3] * v[x] + 8192) >> 14;
        u[x] = saturate16(a);
        v[x] = saturate16(b);
    }
}

// Purposes of the row keys.
enum : uint32_t { KEY_NOISE = 1, KEY_TIMEBASE, KEY_DROPOUT, KEY_PHASE, KEY_FLAG };

static uint32_t row_key(const VhsWalk* walk, int generation, int field, int line, uint32_t purpose)
{
    uint32_t k = vhs_hash(walk->settings.seed ^ 0x6a09e667u);
    k = vhs_hash(k ^ walk->frame);
    k = vhs_hash(k ^ (static_cast<uint32_t>(generation) << 1 | static_cast<uint32_t>(field)));
    k = vhs_hash(k ^ static_cast<uint32_t>(line));
    return vhs_hash(k ^ purpose * 0x85ebca6bu);
}

// A signed 16-bit random value.
static int32_t signed16(uint32_t h)
{
    return static_cast<int16_t>(h & 0xffffu);
}

// ns of the line in Q8 pixels of a picture w wide (720 pixels: 13.5 MHz).
static int32_t q8_pixels(long long ns, int w)
{
    return static_cast<int32_t>(ns * w * 12 / 2500);
}

// The sideways displacement of a field line, Q8 pixels: time-base error
// (with flagging at the top of the field), head switching and tracking.
static int32_t displacement(const VhsWalk* walk, int generation, int field, int line, int lines,
                            int32_t tracking_weight)
{
    const VhsSettings& s = walk->settings;
    const uint32_t a = row_key(walk, generation, field, line, KEY_TIMEBASE);
    const uint32_t b = vhs_hash(a);
    // Four uniform values make a near-normal one of deviation 37837.
    const long long normal = signed16(a) + signed16(a >> 16) + signed16(b) + signed16(b >> 16);
    long long ns_256 = normal * s.jitter * 256 / 37837;
    // Flagging: the field's first lines skew, ten times the jitter at the
    // top, by a factor of 0.5 .. 1.5 for the field, falling off squarely.
    constexpr int flag_lines = 12;
    if (line < flag_lines) {
        const uint32_t f = row_key(walk, generation, field, 0, KEY_FLAG);
        const long long factor = 128 + (f & 255);  // Q8
        const long long fall = (flag_lines - line) * (flag_lines - line);
        ns_256 += 10LL * s.jitter * factor * fall / (flag_lines * flag_lines);
    }
    const int band = std::min(s.head_switching, lines);
    const int in_band = line - (lines - band);
    if (in_band >= 0)
        ns_256 += 256LL * s.head_switching_shift * (band - in_band) / band;
    if (tracking_weight > 0)
        ns_256 += signed16(b >> 8) * 1500LL * s.tracking / 100 * tracking_weight / 32768;
    return q8_pixels(ns_256, walk->w) / 256;
}

// 0 .. 256: how deep the field line lies in the tracking error's band,
// which rolls slowly down the picture, a quarter of the field high at 100 %.
static int32_t tracking_weight(const VhsWalk* walk, int line, int lines)
{
    const int32_t t = walk->settings.tracking;
    if (t == 0)
        return 0;
    const int half = std::max(1, t * lines / 800);
    const uint32_t start = vhs_hash(walk->settings.seed ^ 0xbb67ae85u);
    const int period = lines + 2 * half;
    const int centre = static_cast<int>((start + walk->frame * 2u) % static_cast<uint32_t>(period)) - half;
    const int distance = std::abs(line - centre);
    return distance < half ? 256 * (half - distance) / half : 0;
}

// The demodulation's matrix that brings a line's (u, v) to the
// colour-difference axes, and the remodulation's back, with a phase error
// of `error` (Q14 radians, small). NTSC: the line's sign; PAL: its phase
// and V switch.
static void line_matrices(const VhsWalk* walk, int row, int32_t error, int16_t to_axes[4],
                          int16_t back[4])
{
    const int32_t c_error = 16384 - ((error * error) >> 15);
    if (walk->standard == STANDARD_NTSC) {
        const int32_t sign = composite_row_sign(&walk->rect, walk->carrier_flags, row);
        to_axes[0] = to_axes[3] = 16384;
        to_axes[1] = to_axes[2] = 0;
        back[0] = back[3] = static_cast<int16_t>(sign * c_error);
        back[1] = static_cast<int16_t>(-sign * error);
        back[2] = static_cast<int16_t>(sign * error);
        return;
    }
    const PalLine line = pal_line(&walk->sequence, row);
    int16_t r[2];
    pal_rotation(r, line.phase);
    const int32_t sw = line.v_switch;
    to_axes[0] = r[0];
    to_axes[1] = static_cast<int16_t>(-r[1]);
    to_axes[2] = static_cast<int16_t>(sw * r[1]);
    to_axes[3] = static_cast<int16_t>(sw * r[0]);
    // The line's own rotation, turned on by the error.
    const int32_t c = (r[0] * c_error - r[1] * error + 8192) >> 14;
    const int32_t s = (r[1] * c_error + r[0] * error + 8192) >> 14;
    back[0] = saturate16(c);
    back[1] = saturate16(sw * s);
    back[2] = saturate16(-s);
    back[3] = saturate16(sw * c);
}

// One generation of record and playback of the composite row `s` into
// `out` (both the rectangle's width).
static void play_generation(VhsWalk* walk, const int16_t* in, int16_t* out, int row, int generation)
{
    VhsState* state = walk->state;
    const VhsSettings& s = walk->settings;
    const FilterRect& rect = walk->rect;
    const int width = rect.right - rect.left;
    const int field = row & 1, line = row >> 1;
    const int lines = (walk->h - field + 1) / 2;
    int16_t* sig = work_row(walk, ROW_S);
    int16_t* y = work_row(walk, ROW_Y);
    int16_t* u = work_row(walk, ROW_U);
    int16_t* v = work_row(walk, ROW_V);
    int16_t* t = work_row(walk, ROW_T);
    int16_t* ur = work_row(walk, ROW_UR);
    int16_t* vr = work_row(walk, ROW_VR);
    int16_t* wn = work_row(walk, ROW_WN);
    int16_t* un = work_row(walk, ROW_UN);
    int16_t* vn = work_row(walk, ROW_VN);
    const VhsKernels* kernels = walk->kernels;
    VhsFirRowFn* fir = kernels->fir;
    // The luma's and the colour-under channel's filters are symmetric.
    VhsSymmetricFirRowFn* symmetric_fir = kernels->symmetric_fir;
    VhsAddNoiseRowFn* add_noise = kernels->add_noise;
    VhsAssembleRowFn* assemble = kernels->assemble;
    VhsDecimateRowFn* halve = kernels->decimate;
    VhsInterpolateRowFn* twice = kernels->interpolate;
    const int16_t* cos_at = state->cos_table + state->margin + rect.left;
    const int16_t* sin_at = state->sin_table + state->margin + rect.left;
    const int cr = state->chroma_reach;

    // Record: the colour-under chroma is the composite demodulated on the
    // carrier, taken to the channel's reduced rate and low-passed; the luma
    // is what remains of the composite.
    const int levels = state->chroma_levels;
    const int reduced = count_at(width, levels);
    int16_t* spare_1 = work_row(walk, ROW_SPARE_1);
    int16_t* spare_2 = work_row(walk, ROW_SPARE_2);
    int16_t* spare_3 = work_row(walk, ROW_SPARE_3);
    int16_t* spare_4 = work_row(walk, ROW_SPARE_4);
    int16_t* ud = work_row(walk, ROW_UD);
    int16_t* vd = work_row(walk, ROW_VD);
    std::memmove(sig, in, width * sizeof(int16_t));
    const int beyond = full_rate_margin(cr, levels);
    extend(sig, width, beyond);
    const int32_t sign = walk->standard == STANDARD_NTSC
                             ? composite_row_sign(&rect, walk->carrier_flags, row)
                             : 1;
    // demodulate_row_kernel gives half the chroma's amplitude; record_taps double it.
    // The composite's ends extended before the demodulation, so that what
    // the halvings leave of the carrier does not stand beyond them.
    kernels->demodulate(ur - beyond, vr - beyond, sig - beyond, cos_at - beyond,
                                       sin_at - beyond, width + 2 * beyond, sign);
    int16_t* u_in = decimate(ur, spare_1, spare_2, width, levels, cr, halve);
    int16_t* v_in = decimate(vr, spare_3, spare_4, width, levels, cr, halve);
    symmetric_fir(ud, u_in, state->record_taps, cr, reduced);
    symmetric_fir(vd, v_in, state->record_taps, cr, reduced);
    const int16_t remove[4] = {static_cast<int16_t>(-16384 * sign), 0, 0,
                               static_cast<int16_t>(-16384 * sign)};
    assemble(y, sig, interpolate(ud, spare_1, spare_2, width, levels, twice),
             interpolate(vd, spare_3, spare_4, width, levels, twice), cos_at, sin_at, remove, width);

    // The luma pre-emphasised and white-clipped, then de-emphasised: what
    // the clip took comes back through the de-emphasis (its low-pass at a
    // reduced rate of its own); with nothing clipped the two cancel.
    const int er = state->emphasis_reach;
    extend(y, width, 2 * er);
    fir(t, y - er, state->emphasis_taps, er, width);
    int16_t* taken = work_row(walk, ROW_R);
    if (kernels->clip(taken, y, t, state->emphasis_boost, state->white_clip, width) < 0) {
        const int slow = state->deemphasis_levels;
        extend(taken, width, full_rate_margin(0, slow));
        int16_t* low = decimate(taken, spare_1, spare_2, width, slow, 0, halve);
        low_pass(low, count_at(width, slow), state->deemphasis_pole);
        kernels->mix(y, taken, interpolate(low, spare_3, spare_4, width, slow, twice),
                                        state->deemphasis_direct, 16384 - state->deemphasis_direct,
                                        width);
    }

    const int32_t tracking = tracking_weight(walk, line, lines);
    kernels->noise(wn - 1, un - 1, vn - 1,
                                      row_key(walk, generation, field, line, KEY_NOISE),
                                      rect.left - 1, width + 1);
    if (state->noise_gain > 0)
        add_noise(y, wn, width, state->noise_gain, state->noise_rise);
    if (tracking > 0)
        add_noise(y, wn, width, s.tracking * tracking * 10 / 256, 0);

    // Playback: the luma's bandwidth and peaking; the chroma's noise and
    // second low-pass and the comb, at the reduced rate.
    extend(y, width, state->luma_reach);
    symmetric_fir(t, y, state->luma_taps, state->luma_reach, width);
    if (state->chroma_noise_gain > 0) {
        add_noise(ud, un, reduced, state->chroma_noise_gain, 0);
        add_noise(vd, vn, reduced, state->chroma_noise_gain, 0);
    }
    extend(ud, reduced, cr);
    extend(vd, reduced, cr);
    symmetric_fir(ur, ud, state->playback_taps, cr, reduced);
    symmetric_fir(vr, vd, state->playback_taps, cr, reduced);

    const uint32_t phase_key = row_key(walk, generation, field, line, KEY_PHASE);
    const int32_t error = signed16(phase_key) * 286 >> 15;  // within 1 degree, Q14 radians
    int16_t to_axes[4], back[4];
    line_matrices(walk, row, error, to_axes, back);
    if (walk->standard == STANDARD_PAL)
        turn(ur, vr, to_axes, reduced);
    // The comb: NTSC the field line above (1H), PAL the one two above (2H).
    const int span = walk->standard == STANDARD_PAL ? 2 : 1;
    const int slot = walk->standard == STANDARD_PAL ? (line & 1) : 0;
    int* comb_line = &walk->comb_line[generation][field][slot];
    int16_t* comb_u = history_row(walk, generation, field, 2 * slot);
    int16_t* comb_v = history_row(walk, generation, field, 2 * slot + 1);
    const bool comb = *comb_line == line - span;
    for (int x = 0; x < reduced; ++x) {
        const int16_t own_u = ur[x], own_v = vr[x];
        if (comb) {
            ur[x] = static_cast<int16_t>((own_u + comb_u[x] + 1) >> 1);
            vr[x] = static_cast<int16_t>((own_v + comb_v[x] + 1) >> 1);
        }
        comb_u[x] = own_u;
        comb_v[x] = own_v;
    }
    *comb_line = line;

    // Time-base error moves luma and chroma together; chroma lags by the delay.
    const int32_t moved = displacement(walk, generation, field, line, lines, tracking);
    shift_row(y, t, width, -moved, kernels->shift);
    shift_row(u, interpolate(ur, spare_1, spare_2, width, levels, twice), width,
              -moved - state->chroma_delay_q8, kernels->shift);
    shift_row(v, interpolate(vr, spare_3, spare_4, width, levels, twice), width,
              -moved - state->chroma_delay_q8, kernels->shift);

    // Dropouts: streaks of 10 .. 50 us (one in eight three times that),
    // up to four a line; the compensator repeats the field's line above.
    int16_t* doc_y = history_row(walk, generation, field, 4);
    int16_t* doc_u = history_row(walk, generation, field, 5);
    int16_t* doc_v = history_row(walk, generation, field, 6);
    const bool above = walk->doc_line[generation][field] == line - 1;
    if (s.dropouts > 0 && (above || !s.dropout_compensator)) {
        const unsigned long long threshold =
            std::min<unsigned long long>(0xffffffffull, (static_cast<unsigned long long>(s.dropouts) << 32) /
                                                            (400ull * static_cast<unsigned>(lines)));
        uint32_t h = row_key(walk, generation, field, line, KEY_DROPOUT);
        for (int k = 0; k < 4; ++k) {
            const uint32_t chance = vhs_hash(h + 1), where = vhs_hash(h + 2), length = vhs_hash(h + 3);
            h = vhs_hash(h + 4);
            if (chance >= threshold)
                continue;
            long long us = 10 + length % 41;
            if ((length >> 8) % 8 == 0)
                us *= 3;
            const int start = static_cast<int>(where % static_cast<uint32_t>(walk->w)) - rect.left;
            const int end = start + std::max(1, q8_pixels(us * 1000, walk->w) / 256);
            for (int x = std::max(0, start); x < std::min(width, end); ++x) {
                const bool fill = s.dropout_compensator;
                y[x] = fill ? doc_y[x] : 4096;
                u[x] = fill ? doc_u[x] : 0;
                v[x] = fill ? doc_v[x] : 0;
            }
        }
    }
    std::memcpy(doc_y, y, width * sizeof(int16_t));
    std::memcpy(doc_u, u, width * sizeof(int16_t));
    std::memcpy(doc_v, v, width * sizeof(int16_t));
    walk->doc_line[generation][field] = line;

    // Chroma back on the stable carrier, with the line's small phase error.
    assemble(out, y, u, v, cos_at, sin_at, back, width);
}

void play_vhs_row(VhsWalk* walk, PIXEL_YC* pixels, int row)
{
    const int width = walk->rect.right - walk->rect.left;
    if (walk->settings.format == VHS_OFF || width <= 0)
        return;
    // The row's composite values in a row of their own, after the histories.
    int16_t* own = history_row(walk, walk->settings.generations, 0, 0);
    walk->kernels->extract_luma(own, pixels, width);
    for (int g = 0; g < walk->settings.generations; ++g)
        play_generation(walk, own, own, row, g);
    walk->kernels->store_luma(pixels, own, width);
}
