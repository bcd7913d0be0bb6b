// The VHS deck alone over a whole composite frame, at its defaults, once
// per kernel variant (the reference: every kernel in plain C); compare with
// memcpy_frame/1920x1080.
#include <benchmark/benchmark.h>

#include "bench/bench_frames.h"
#include "engine/vhs_deck.h"

namespace {

void vhs_deck_stage(benchmark::State& state, unsigned flags, FrameSize size)
{
    std::vector<PIXEL_YC> frame = noise_frame(size);
    const FilterRect rect = {0, size.h, 0, size.w, size.w};
    VhsSettings settings;
    settings.format = VHS_SP;
    VhsState deck;
    const PalSequence sequence = {704, 0, 1};
    VariantScope variant(flags);
    int32_t number = 0;
    for (auto _ : state) {
        VhsWalk walk;
        if (!start_vhs_deck(&walk, &deck, &settings, STANDARD_NTSC, 704, 0, 2, &sequence, &rect,
                            size.w, size.h, number++)) {
            state.SkipWithError("no memory");
            break;
        }
        for (int r = 0; r < size.h; ++r)
            play_vhs_row(&walk, frame.data() + static_cast<size_t>(r) * size.w, r);
        benchmark::ClobberMemory();
    }
    release_vhs_state(&deck);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size.w * size.h *
                            static_cast<int64_t>(sizeof(PIXEL_YC)));
}

const bool registered = [] {
    register_variants("vhs_deck", vhs_fir_row_kernel, vhs_deck_stage);
    return true;
}();

}  // namespace
