// The decoder over whole pictures once per variant of its row kernels (all
// seven are held to the same features), and the whole-picture chain with
// the decoder last, as apply_effects runs it.
//
// The decoder runs again on its own output, as the in-place stages in
// bench_stages.cpp do: its arithmetic does not depend on the pixel values.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_frames.h"
#include "engine/composite_chroma.h"
#include "engine/composite_decoder.h"
#include "engine/frame_effects.h"

namespace {

void report_frames(benchmark::State& state, const FrameSize& size)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(size.w) * size.h *
                            static_cast<int64_t>(sizeof(PIXEL_YC)));
}

template <int32_t mode, int32_t bandwidth>
void decode_stage(benchmark::State& state, unsigned flags, FrameSize size)
{
    std::vector<PIXEL_YC> frame = noise_frame(size);
    // The frame comb's earlier frames: the same noise, a little changed.
    std::vector<PIXEL_YC> partner = frame, same_phase = frame;
    for (size_t i = 0; i < partner.size(); i += 3)
        partner[i].y = static_cast<short>(partner[i].y + 40);
    for (size_t i = 0; i < same_phase.size(); i += 5)
        same_phase[i].y = static_cast<short>(same_phase[i].y + 40);
    const FilterRect rect = {0, size.h, 0, size.w, size.w};
    SubcarrierTables carrier;
    build_subcarrier_tables(&carrier, 704, 0, size.w, size.w);
    DecodeSettings settings;
    settings.mode = mode;
    settings.bandwidth = bandwidth;
    DecoderState decoder;
    VariantScope variant(flags);
    for (auto _ : state) {
        decode_composite(&decoder, &settings, 704, &carrier, 2, frame.data(),
                         mode == DECODE_3D ? partner.data() : nullptr,
                         mode == DECODE_3D ? same_phase.data() : nullptr, &rect);
        benchmark::ClobberMemory();
    }
    release_decoder_state(&decoder);
    release_subcarrier_tables(&carrier);
    report_frames(state, size);
}

constexpr FrameSize frame_pal = {"720x576", 720, 576};

// NAME/VARIANT/SIZE for every variant at PAL's own picture size and 1920x1080.
template <typename Fn, typename Stage>
void register_pal_variants(const char* name, const DispatchedKernel<Fn>& kernel, Stage stage)
{
    register_variants(name, kernel, stage, {frame_pal, frame_hd});
}

const PalSequence pal_bench_sequence = {704, 1, 1};

// PAL's "C/Y" over the whole picture, in place as encode_composite runs.
void encode_pal_stage(benchmark::State& state, unsigned flags, FrameSize size)
{
    std::vector<PIXEL_YC> frame = noise_frame(size);
    const FilterRect rect = {0, size.h, 0, size.w, size.w};
    SubcarrierTables carrier;
    build_carrier_tables(&carrier, STANDARD_PAL, 704, 0, size.w, size.w);
    VariantScope variant(flags);
    EncodePalRowFn* encode_row = best_variant(encode_pal_row_kernel);
    for (auto _ : state) {
        for (int r = 0; r < size.h; ++r)
            encode_pal_rect_row(rect_row(frame.data(), &rect, r), rect_row(frame.data(), &rect, r), &rect, &carrier,
                                &pal_bench_sequence, r, encode_row);
        benchmark::ClobberMemory();
    }
    release_subcarrier_tables(&carrier);
    report_frames(state, size);
}

// PAL's decoder with its delay line, as the pal preset sets it.
template <int32_t mode>
void decode_pal_stage(benchmark::State& state, unsigned flags, FrameSize size)
{
    std::vector<PIXEL_YC> frame = noise_frame(size);
    const FilterRect rect = {0, size.h, 0, size.w, size.w};
    SubcarrierTables carrier;
    build_carrier_tables(&carrier, STANDARD_PAL, 704, 0, size.w, size.w);
    DecodeSettings settings;
    settings.mode = mode;
    settings.delay_line = 1;
    DecoderState decoder;
    VariantScope variant(flags);
    for (auto _ : state) {
        decode_pal_composite(&decoder, &settings, &carrier, &pal_bench_sequence, frame.data(),
                             nullptr, nullptr, &rect);
        benchmark::ClobberMemory();
    }
    release_decoder_state(&decoder);
    release_subcarrier_tables(&carrier);
    report_frames(state, size);
}

// "C/Y", the field shift by 23, "LPF" and the decoder over the whole
// picture, with every variant the processor runs.
template <int32_t mode, int32_t standard = STANDARD_NTSC>
void decoded_chain(benchmark::State& state, FrameSize size)
{
    std::vector<PIXEL_YC> pixels = noise_frame(size);
    std::vector<PIXEL_YC> scratch(pixels.size());
    EffectSettings settings;
    settings.width = size.w;
    settings.height = size.h;
    settings.shift = 23;
    settings.composite = 1;
    settings.lpf = 1;
    settings.decode.mode = mode;
    settings.standard = standard;  // PAL: the delay line is on by default
    EffectState effects;
    int32_t number = 0;
    for (auto _ : state) {
        const EffectFrame frame = {pixels.data(), scratch.data(), size.w, size.h, size.w, number};
        apply_effects(&effects, &settings, &frame);
        number = (number + 1) % 1000;
        benchmark::ClobberMemory();
    }
    release_effect_state(&effects);
    report_frames(state, size);
}

// One kernel over a picture's rows: `rows` working rows of the picture's
// width that stay in cache as the stage's do, and the frame itself for the
// kernels that read or write it.
struct KernelRows {
    std::vector<int16_t> storage;
    std::vector<PIXEL_YC> frame;
    int width, pitch;
    KernelRows(const FrameSize& size, int rows)
        : storage(static_cast<size_t>(rows) * (size.w + 2 * decoder_lowpass_reach)),
          frame(noise_frame(size)), width(size.w), pitch(size.w + 2 * decoder_lowpass_reach)
    {
        for (size_t i = 0; i < storage.size(); ++i)
            storage[i] = frame[i % frame.size()].y;
    }
    int16_t* row(int k) { return storage.data() + static_cast<size_t>(k) * pitch + decoder_lowpass_reach; }
};

template <int reach>
void fir_kernel(benchmark::State& state, unsigned flags, FrameSize size)
{
    KernelRows rows(size, 2);
    int16_t taps[2 * reach + 1];
    int lowpass_reach = 0;
    const int16_t* lowpass = decoder_lowpass_taps(CHROMA_NARROW, &lowpass_reach);
    for (int k = 0; k <= 2 * reach; ++k)
        taps[k] = lowpass[k];
    VariantScope variant(flags);
    DecoderFirRowFn* fir = best_variant(decoder_fir_row_kernel);
    for (auto _ : state) {
        for (int r = 0; r < size.h; ++r)
            fir(rows.row(0), rows.row(1), taps, reach, size.w);
        benchmark::ClobberMemory();
    }
    report_frames(state, size);
}

void demodulate_kernel(benchmark::State& state, unsigned flags, FrameSize size)
{
    KernelRows rows(size, 5);
    VariantScope variant(flags);
    DemodulateRowFn* demodulate = best_variant(demodulate_row_kernel);
    for (auto _ : state) {
        for (int r = 0; r < size.h; ++r)
            demodulate(rows.row(0), rows.row(1), rows.row(2), rows.row(3), rows.row(4), size.w,
                       r % 2 == 0 ? 1 : -1);
        benchmark::ClobberMemory();
    }
    report_frames(state, size);
}

void assemble_kernel(benchmark::State& state, unsigned flags, FrameSize size)
{
    KernelRows rows(size, 4);
    int16_t matrix[4];
    compute_decoder_matrix(matrix, 100, 0);
    VariantScope variant(flags);
    AssembleRowFn* assemble = best_variant(assemble_row_kernel);
    for (auto _ : state) {
        for (int r = 0; r < size.h; ++r)
            assemble(rows.frame.data() + static_cast<size_t>(r) * size.w, rows.row(0), rows.row(1),
                     rows.row(2), rows.row(3), matrix, size.w);
        benchmark::ClobberMemory();
    }
    report_frames(state, size);
}

void extract_luma_kernel(benchmark::State& state, unsigned flags, FrameSize size)
{
    KernelRows rows(size, 1);
    VariantScope variant(flags);
    ExtractLumaRowFn* extract_luma = best_variant(extract_luma_row_kernel);
    for (auto _ : state) {
        for (int r = 0; r < size.h; ++r)
            extract_luma(rows.row(0), rows.frame.data() + static_cast<size_t>(r) * size.w, size.w);
        benchmark::ClobberMemory();
    }
    report_frames(state, size);
}

void line_comb_kernel(benchmark::State& state, unsigned flags, FrameSize size)
{
    KernelRows rows(size, 4);
    VariantScope variant(flags);
    LineCombRowFn* line_comb = best_variant(line_comb_row_kernel);
    for (auto _ : state) {
        for (int r = 0; r < size.h; ++r)
            line_comb(rows.row(0), rows.row(1), rows.row(2), rows.row(3), size.w);
        benchmark::ClobberMemory();
    }
    report_frames(state, size);
}

void frame_comb_kernel(benchmark::State& state, unsigned flags, FrameSize size)
{
    KernelRows rows(size, 3);
    VariantScope variant(flags);
    FrameCombRowFn* frame_comb = best_variant(frame_comb_row_kernel);
    for (auto _ : state) {
        for (int r = 0; r < size.h; ++r)
            frame_comb(rows.row(0), rows.row(1), rows.row(2), size.w);
        benchmark::ClobberMemory();
    }
    report_frames(state, size);
}

int register_decoder()
{
    // Each row kernel alone, a picture's worth of rows.
    register_variants("decoder_fir_reach5", decoder_fir_row_kernel, fir_kernel<5>);
    register_variants("decoder_fir_reach7", decoder_fir_row_kernel, fir_kernel<7>);
    register_variants("decoder_fir_reach11", decoder_fir_row_kernel, fir_kernel<11>);
    register_variants("decoder_demodulate", demodulate_row_kernel, demodulate_kernel);
    register_variants("decoder_assemble", assemble_row_kernel, assemble_kernel);
    register_variants("decoder_extract_luma", extract_luma_row_kernel, extract_luma_kernel);
    register_variants("decoder_line_comb", line_comb_row_kernel, line_comb_kernel);
    register_variants("decoder_frame_comb", frame_comb_row_kernel, frame_comb_kernel);

    // Every decoder kernel has the same variants; the FIR's table names them.
    register_variants("decode_notch", decoder_fir_row_kernel,
                      decode_stage<DECODE_NOTCH, CHROMA_WIDE>);
    register_variants("decode_notch_narrow", decoder_fir_row_kernel,
                      decode_stage<DECODE_NOTCH, CHROMA_NARROW>);
    register_variants("decode_3line", decoder_fir_row_kernel,
                      decode_stage<DECODE_3LINE, CHROMA_WIDE>);
    register_variants("decode_3d", decoder_fir_row_kernel, decode_stage<DECODE_3D, CHROMA_WIDE>);
    benchmark::RegisterBenchmark("chain_cy_shift23_lpf/1920x1080", decoded_chain<DECODE_OFF>,
                                 frame_hd)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("chain_cy_shift23_lpf_decode_notch/1920x1080",
                                 decoded_chain<DECODE_NOTCH>, frame_hd)
        ->Unit(benchmark::kMicrosecond);

    // PAL: its encoder, its decoder (delay line on) and its chain.
    register_pal_variants("encode_pal", encode_pal_row_kernel, encode_pal_stage);
    register_pal_variants("decode_pal_notch", decoder_fir_row_kernel,
                          decode_pal_stage<DECODE_NOTCH>);
    register_pal_variants("decode_pal_3line", decoder_fir_row_kernel,
                          decode_pal_stage<DECODE_3LINE>);
    benchmark::RegisterBenchmark("chain_cy_shift23_lpf_decode_pal_notch/1920x1080",
                                 decoded_chain<DECODE_NOTCH, STANDARD_PAL>, frame_hd)
        ->Unit(benchmark::kMicrosecond);
    return 0;
}

const int decoder_registered = register_decoder();

}  // namespace
