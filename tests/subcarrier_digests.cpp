// The subcarrier tables are the one place where floating point, and so the
// C runtime's sine and cosine, decides output pixels. This program prints
// them in a form the native build and the DLL's build can be compared by:
//
//   subcarrier_digests                      one line "freq phase digest" for
//                                           every freq 600..750 and phase
//                                           -180..180, over 4096 columns
//                                           then the decoder's tables: one
//                                           line "bandpass freq taps..." per
//                                           freq and "matrix saturation
//                                           digest" over every hue, then
//                                           "vhs standard format width
//                                           digest": the VHS deck's frames,
//                                           whose filters are built in double
//   subcarrier_digests --entries FREQ PHASE one line "x cos sin" per column
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <vector>

#include "engine/composite_chroma.h"
#include "engine/composite_decoder.h"
#include "engine/vhs_deck.h"

namespace {

constexpr int32_t columns = 4096;

// FNV-1a over one 32-bit unit per column: a single differing column always
// changes the digest, since every step is a bijection of the state.
uint64_t digest(const std::vector<int16_t>& cos_table, const std::vector<int16_t>& sin_table)
{
    uint64_t value = 1469598103934665603ull;
    for (int32_t x = 0; x < columns; ++x) {
        const uint32_t unit = (static_cast<uint32_t>(static_cast<uint16_t>(cos_table[x])) << 16) |
                              static_cast<uint16_t>(sin_table[x]);
        value = (value ^ unit) * 1099511628211ull;
    }
    return value;
}

void print_digests()
{
    std::vector<int16_t> cos_table(columns), sin_table(columns);
    for (int32_t freq = 600; freq <= 750; ++freq) {
        for (int32_t phase = -180; phase <= 180; ++phase) {
            compute_subcarrier_entries(cos_table.data(), sin_table.data(), freq, phase, columns);
            std::printf("%d %d %016" PRIx64 "\n", freq, phase, digest(cos_table, sin_table));
        }
    }
    SubcarrierTables pal;
    for (int32_t freq = 600; freq <= 750; ++freq) {
        for (int32_t phase = -180; phase <= 180; ++phase) {
            build_carrier_tables(&pal, STANDARD_PAL, freq, phase, columns, columns);
            std::copy(pal.cos_table, pal.cos_table + columns, cos_table.begin());
            std::copy(pal.sin_table, pal.sin_table + columns, sin_table.begin());
            std::printf("pal %d %d %016" PRIx64 "\n", freq, phase, digest(cos_table, sin_table));
        }
    }
    release_subcarrier_tables(&pal);
}

void print_decoder_tables()
{
    for (int32_t standard : {STANDARD_NTSC, STANDARD_PAL})
    for (int32_t freq = 600; freq <= 750; ++freq) {
        int16_t taps[2 * decoder_bandpass_reach + 1];
        compute_decoder_bandpass(taps, freq, standard);
        std::printf("%s bandpass %d", colour_standard_name(standard), freq);
        for (int16_t tap : taps)
            std::printf(" %d", tap);
        std::printf("\n");
    }
    for (int32_t saturation = saturation_min; saturation <= saturation_max; ++saturation) {
        uint64_t value = 1469598103934665603ull;
        for (int32_t hue = hue_min; hue <= hue_max; ++hue) {
            int16_t matrix[4];
            compute_decoder_matrix(matrix, saturation, hue);
            for (int16_t m : matrix)
                value = (value ^ static_cast<uint16_t>(m)) * 1099511628211ull;
            compute_pal_decoder_matrix(matrix, saturation, hue);
            for (int16_t m : matrix)
                value = (value ^ static_cast<uint16_t>(m)) * 1099511628211ull;
        }
        std::printf("matrix %d %016" PRIx64 "\n", saturation, value);
    }
    for (int32_t p = 0; p < pal_phase_steps; ++p) {
        int16_t rotation[2];
        pal_rotation(rotation, p);
        std::printf("pal rotation %d %d %d\n", p, rotation[0], rotation[1]);
    }
}

void print_entries(int32_t freq, int32_t phase)
{
    std::vector<int16_t> cos_table(columns), sin_table(columns);
    compute_subcarrier_entries(cos_table.data(), sin_table.data(), freq, phase, columns);
    for (int32_t x = 0; x < columns; ++x)
        std::printf("%d %d %d\n", x, cos_table[x], sin_table[x]);
}

}  // namespace

// A frame played by the deck, every fault on, at picture widths whose
// filters differ: the whole of the deck's set-up, checked across builds.
void print_deck_digests()
{
    for (int32_t standard : {STANDARD_NTSC, STANDARD_PAL}) {
        for (int32_t format = VHS_SP; format < vhs_format_count; ++format) {
            for (int w : {64, 720, 1440, 1920}) {
                const int h = 24;
                std::vector<PIXEL_YC> frame(static_cast<size_t>(w) * h);
                for (size_t i = 0; i < frame.size(); ++i)
                    frame[i] = {static_cast<short>((i * 2654435761u) >> 20), 0, 0};
                VhsSettings settings;
                settings.format = format;
                settings.seed = 7;
                settings.tracking = 50;
                settings.dropouts = 3000;
                settings.generations = 2;
                const FilterRect rect = {0, h, 0, w, w};
                const PalSequence sequence = {704, 3, 1};
                VhsState state;
                VhsKernels kernels;
                select_vhs_kernels(&kernels);
                VhsWalk walk;
                if (!start_vhs_deck(&walk, &state, &kernels, &settings, standard, 704, 0, 2, &sequence, &rect,
                                    w, h, 11))
                    std::abort();
                for (int r = 0; r < h; ++r)
                    play_vhs_row(&walk, frame.data() + static_cast<size_t>(r) * w, r);
                release_vhs_state(&state);
                uint64_t value = 1469598103934665603ull;
                for (const PIXEL_YC& p : frame)
                    value = (value ^ static_cast<uint16_t>(p.y)) * 1099511628211ull;
                std::printf("vhs %s %s %d %016" PRIx64 "\n", colour_standard_name(standard),
                            vhs_format_name(format), w, value);
            }
        }
    }
}

int main(int argc, char** argv)
{
    if (argc == 1) {
        print_digests();
        print_decoder_tables();
        print_deck_digests();
    } else if (argc == 4 && std::strcmp(argv[1], "--entries") == 0) {
        print_entries(std::atoi(argv[2]), std::atoi(argv[3]));
    } else {
        std::fprintf(stderr, "usage: subcarrier_digests [--entries FREQ PHASE]\n");
        return 2;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
