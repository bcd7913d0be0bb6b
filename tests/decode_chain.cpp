#include "tests/decode_chain.h"

#include <cinttypes>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/frame_effects.h"
#include "tests/scenario_support.h"

namespace {

enum Encoder { ENCODER_ON, ENCODER_SWITCHED_OFF, ENCODER_ABSENT };

struct ChainScenario {
    const char* name;
    int w, h, max_w;
    int track[7];         // norel2: left, width, top, height, shift, freq, phase
    int check[7];         // norel2: compose, 60FPS, TFF, show range, MONO, C/Y, LPF
    int decode_track[3];  // the decoder: Y/C分離, 色の濃さ, 色合い
    int narrow;           // the decoder: 狭帯域
    int frame_n;
    // Absent, the frames arrive encoded by the engine with norel2's defaults.
    Encoder encoder;
    bool saving;
    bool still;         // every frame the same picture
    bool reverse;       // frames drawn last to first, each after a seek
    bool refuse_cache;  // the decoder's cache request is refused: no frame comb partner
    bool decodes;       // false: the decoder leaves the frame as it reaches it
    // The deck's tracks, VHS to 世代; VHS 0 (off): the descriptor's defaults.
    int deck_track[10] = {};
};

constexpr bool Y = true, N = false;

const ChainScenario scenarios[] = {
    {"notch", 96, 40, 100, {0, 96, 0, 40, 0, 704, 0}, {0, 0, 1, 0, 0, 1, 1}, {1, 100, 0}, 0, 3, ENCODER_ON, Y, N, N, N, Y},
    {"2line_rect_bff_narrow", 96, 40, 100, {3, 70, 1, 33, 0, 750, -180}, {0, 0, 0, 0, 0, 1, 0}, {2, 150, 30}, 1, 4, ENCODER_ON, Y, N, N, N, Y},
    {"3line_odd_top_60fps_shift", 96, 41, 100, {17, 61, 3, 30, -23, 712, -61}, {0, 1, 1, 0, 0, 1, 1}, {3, 0, -180}, 0, 6, ENCODER_ON, Y, N, N, N, Y},
    {"3d_still", 64, 24, 64, {0, 64, 0, 24, 0, 704, 0}, {0, 0, 1, 0, 0, 1, 0}, {4, 100, 0}, 0, 5, ENCODER_ON, Y, Y, N, N, Y},
    {"3d_moving_60fps_seeking", 96, 40, 100, {5, 80, 2, 36, 17, 690, 33}, {0, 1, 0, 0, 0, 1, 1}, {4, 120, -45}, 1, 6, ENCODER_ON, Y, N, Y, N, Y},
    {"3d_still_refused_cache", 64, 24, 64, {0, 64, 0, 24, 0, 704, 0}, {0, 0, 1, 0, 0, 1, 1}, {4, 100, 0}, 0, 3, ENCODER_ON, Y, Y, N, Y, Y},
    {"mono_drops_colour", 96, 40, 100, {10, 40, 5, 20, 0, 623, 177}, {0, 0, 1, 0, 1, 1, 1}, {1, 200, 90}, 0, 2, ENCODER_ON, Y, N, N, N, Y},
    {"show_range_saving", 96, 40, 100, {8, 50, 3, 20, 17, 704, 0}, {0, 0, 1, 1, 0, 1, 1}, {3, 100, 0}, 0, 2, ENCODER_ON, Y, N, N, N, Y},
    {"wide_1920", 1920, 8, 1936, {0, 2048, 0, 8, 0, 741, -97}, {0, 0, 1, 0, 0, 1, 0}, {1, 100, 0}, 1, 1, ENCODER_ON, Y, N, N, N, Y},
    {"damaged_knobs", 96, 40, 100, {0, 96, 0, 40, 0, 704, 0}, {0, 0, 1, 0, 0, 1, 1}, {3, 900, -1000}, 7, 2, ENCODER_ON, Y, N, N, N, Y},
    {"encoder_absent_defaults", 336, 330, 340, {0, 320, 0, 320, 0, 704, 0}, {0, 0, 1, 0, 0, 1, 1}, {2, 100, 0}, 0, 2, ENCODER_ABSENT, Y, N, N, N, Y},
    // Where norel2 leaves no carrier, nothing is decoded.
    {"show_range_preview", 96, 40, 100, {8, 50, 3, 20, 17, 704, 0}, {0, 0, 1, 1, 0, 1, 1}, {3, 100, 0}, 0, 2, ENCODER_ON, N, N, N, N, N},
    {"cy_off", 96, 40, 100, {0, 96, 0, 40, 0, 704, 0}, {0, 0, 1, 0, 0, 0, 1}, {1, 100, 0}, 0, 2, ENCODER_ON, Y, N, N, N, N},
    {"compose", 96, 40, 100, {10, 50, 5, 20, 0, 704, 0}, {1, 0, 1, 0, 0, 1, 1}, {1, 100, 0}, 0, 4, ENCODER_ON, Y, N, N, N, N},
    {"encoder_switched_off", 96, 40, 100, {0, 96, 0, 40, 0, 704, 0}, {0, 0, 1, 0, 0, 1, 1}, {2, 100, 0}, 0, 2, ENCODER_SWITCHED_OFF, Y, N, N, N, N},
    {"damaged_mode", 96, 40, 100, {0, 96, 0, 40, 0, 704, 0}, {0, 0, 1, 0, 0, 1, 1}, {9, 100, 0}, 0, 2, ENCODER_ON, Y, N, N, N, N},
    // The deck plays into the television, frame by frame after a seek; with
    // the frame comb it compares the earlier frames as the deck played them.
    {"vhs_ep_notch_seeking", 96, 40, 100, {4, 88, 1, 37, 0, 704, 0}, {0, 0, 1, 0, 0, 1, 1}, {1, 100, 0}, 0, 4, ENCODER_ON, Y, N, Y, N, Y,
     {VHS_EP, -7, 150, -1, -3500, 60, 4000, 80, -1001, 2}},
    // The deck without noise, whose still frames the comb sees as still.
    {"vhs_sp_3d_still_quiet", 96, 40, 100, {0, 96, 0, 40, 0, 704, 0}, {0, 0, 1, 0, 0, 1, 0}, {4, 100, 0}, 1, 5, ENCODER_ON, Y, Y, N, N, Y,
     {VHS_SP, 12345, 0, 0, 2000, 0, 0, 0, 250, 1}},
    {"vhs_sp_3d_moving", 96, 40, 100, {0, 96, 0, 40, 0, 704, 0}, {0, 0, 1, 0, 0, 1, 0}, {4, 100, 0}, 1, 5, ENCODER_ON, Y, N, N, N, Y,
     {VHS_SP, 12345, 100, 5, 2000, 0, 3000, 30, 250, 1}},
};

// The decoder's descriptor as the editor must see it: after every other
// filter, and the ranges of its three track bars (Y/C分離 from notch to 3d).
const char* descriptor_mismatch(const FILTER_DLL* filter)
{
    const int ranges[13][3] = {{1, 4, 1}, {0, 200, 100}, {-180, 180, 0},
                               // The deck's; the seed's track holds its 32 bits.
                               {0, 4, 0}, {INT_MIN, INT_MAX, 0}, {0, 200, 100}, {-1, 8, -1},
                               {-10000, 10000, 2000}, {0, 100, 0}, {0, 5000, 30}, {0, 300, 30},
                               {-1001, 1000, -1001}, {1, 5, 1}};
    if (filter == nullptr || filter->flag != (FILTER_FLAG_EX_INFORMATION | FILTER_FLAG_PRIORITY_LOWEST))
        return "flag";
    if (filter->name == nullptr || std::strcmp(filter->name, "norel2 decode") != 0)
        return "name";
    if (filter->track_n != 13 || filter->check_n != 2 || filter->check_default[0] != 0 ||
        filter->check_default[1] != 1)
        return "track or check count, or the checks' defaults";
    for (int i = 0; i < 13; ++i) {
        if (filter->track_s[i] != ranges[i][0] || filter->track_e[i] != ranges[i][1] ||
            filter->track_default[i] != ranges[i][2])
            return "a track's range or default";
    }
    if (filter->func_proc == nullptr || filter->func_exit == nullptr || filter->func_init != nullptr ||
        filter->ex_data_size != 0)
        return "callbacks or extra data";
    return nullptr;
}

// Another filter ahead of norel2 in the host's list.
BOOL pass_through(FILTER*, FILTER_PROC_INFO*)
{
    return TRUE;
}

FILTER_DLL* NOREL_STDCALL other_filter_table()
{
    static FILTER_DLL filter = [] {
        FILTER_DLL f = {};
        f.name = "noise reduction";
        f.func_proc = pass_through;
        return f;
    }();
    return &filter;
}

// The engine's settings for what norel2 and the decoder are set to.
EffectSettings engine_settings(const ChainScenario& s)
{
    EffectSettings settings;
    settings.left = s.track[0];
    settings.width = s.track[1];
    settings.top = s.track[2];
    settings.height = s.track[3];
    settings.shift = s.track[4];
    settings.freq = s.track[5];
    settings.phase = s.track[6];
    settings.paired_fields = s.check[1];
    settings.top_field_first = s.check[2];
    settings.mono = s.check[4];
    settings.composite = s.check[5];
    settings.lpf = s.check[6];
    DecodeSettings decode;
    decode.mode = s.decode_track[0];
    decode.saturation = s.decode_track[1];
    decode.hue = s.decode_track[2];
    decode.bandwidth = s.narrow ? CHROMA_NARROW : CHROMA_WIDE;
    settings.decode = clamp_decode_settings(decode);
    if (s.deck_track[0] != VHS_OFF) {
        VhsSettings& vhs = settings.vhs;
        vhs.format = s.deck_track[0];
        vhs.seed = static_cast<uint32_t>(s.deck_track[1]);
        vhs.tape_noise = s.deck_track[2];
        vhs.head_switching = s.deck_track[3];
        vhs.head_switching_shift = s.deck_track[4];
        vhs.tracking = s.deck_track[5];
        vhs.dropouts = s.deck_track[6];
        vhs.jitter = s.deck_track[7];
        vhs.chroma_delay = s.deck_track[8];
        vhs.generations = s.deck_track[9];
    }
    return settings;
}

// The frames the engine computes directly: norel2's field pairing by hand,
// then the chain, with the frame comb's partner computed the same way.
class Engine {
public:
    Engine(const ChainScenario& s, const Clip& inputs)
        : s_(s), inputs_(inputs), settings_(engine_settings(s))
    {
    }
    ~Engine() { release_effect_state(&state_); }

    std::vector<PIXEL_YC> frame(int n, bool decode)
    {
        EffectSettings settings = settings_;
        if (!decode)
            settings.decode.mode = DECODE_OFF;
        std::vector<PIXEL_YC> partner, same_phase;
        const int32_t p = comb_partner_frame(&settings, n), q = comb_same_phase_frame(&settings, n);
        const bool combs = settings.decode.mode == DECODE_3D && !s_.refuse_cache && q >= 0 && q < n;
        if (combs) {
            // Outside the rectangle each holds what the host's frame does.
            partner = woven(p);
            run(&settings, p, woven(p), nullptr, nullptr, partner.data());
            same_phase = woven(q);
            run(&settings, q, woven(q), nullptr, nullptr, same_phase.data());
        }
        return run(&settings, n, woven(n), combs ? partner.data() : nullptr,
                   combs ? same_phase.data() : nullptr, nullptr);
    }

private:
    std::vector<PIXEL_YC> woven(int n) const
    {
        std::vector<PIXEL_YC> frame = inputs_[n];
        if (!settings_.paired_fields)
            return frame;
        const int parity = 1 - moved_field(&settings_, n);
        const size_t row = static_cast<size_t>(s_.max_w);
        for (int pair = 0; 2 * pair + 1 < s_.h; ++pair)
            std::memcpy(&frame[(2 * pair + parity) * row], &inputs_[n ^ 1][(2 * pair + parity) * row],
                        row * sizeof(PIXEL_YC));
        return frame;
    }

    std::vector<PIXEL_YC> run(const EffectSettings* settings, int n, std::vector<PIXEL_YC> frame,
                              const PIXEL_YC* partner, const PIXEL_YC* same_phase, PIXEL_YC* composite)
    {
        std::vector<PIXEL_YC> scratch(frame.size());
        const EffectFrame f = {frame.data(), scratch.data(), s_.w, s_.h, s_.max_w, n, partner, same_phase,
                               composite};
        apply_effects(&state_, settings, &f);
        return frame;
    }

    const ChainScenario& s_;
    const Clip& inputs_;
    EffectSettings settings_;
    EffectState state_;
};

// Runs one scenario; false after reporting a difference from the engine.
bool run_scenario(const ChainScenario& s, GetFilterTableFunction encoder,
                  GetFilterTableFunction decoder, Digest* digest)
{
    const size_t pixels = static_cast<size_t>(s.max_w) * s.h;
    Clip inputs, sources;
    for (int n = 0; n < s.frame_n; ++n) {
        inputs.push_back(random_frame(pixels, false, s.still ? 1 : 2 * n + 1));
        sources.push_back(random_frame(pixels, false, 2 * n + 2));
    }
    Engine engine(s, inputs);

    // The host's filter list: another filter, norel2, the decoder.
    PluginHost other(other_filter_table, s.w, s.h, s.max_w);
    std::unique_ptr<PluginHost> norel2;
    if (s.encoder != ENCODER_ABSENT) {
        norel2 = std::make_unique<PluginHost>(encoder, s.w, s.h, s.max_w);
        std::memcpy(norel2->track().data(), s.track, sizeof s.track);
        std::memcpy(norel2->check().data(), s.check, sizeof s.check);
        norel2->services().saving = s.saving;
        norel2->active() = s.encoder == ENCODER_ON;
        norel2->answer_from(inputs, sources);
    }
    PluginHost decode(decoder, s.w, s.h, s.max_w);
    std::memcpy(decode.track().data(), s.decode_track, sizeof s.decode_track);
    if (s.deck_track[0] != VHS_OFF)
        std::memcpy(decode.track().data() + 3, s.deck_track, sizeof s.deck_track);
    decode.check()[0] = s.narrow;
    decode.services().saving = s.saving;
    decode.services().refuse_cache_size = s.refuse_cache;

    // Each frame as it reaches the decoder, which its filtering cache answers.
    Clip arriving;
    for (int n = 0; n < s.frame_n; ++n) {
        arriving.push_back(s.encoder == ENCODER_ABSENT ? engine.frame(n, false) : inputs[n]);
        if (s.encoder == ENCODER_ON && !norel2->process(n, s.frame_n, arriving[n].data())) {
            std::fprintf(stderr, "%s: norel2 failed on frame %d\n", s.name, n);
            return false;
        }
    }
    decode.answer_from(arriving, sources);

    for (int i = 0; i < s.frame_n; ++i) {
        const int n = s.reverse ? s.frame_n - 1 - i : i;
        // The editor's frame goes through every active filter in turn.
        std::vector<PIXEL_YC> frame = s.encoder == ENCODER_ABSENT ? arriving[n] : inputs[n];
        other.process(n, s.frame_n, frame.data());
        if (s.encoder == ENCODER_ON)
            norel2->process(n, s.frame_n, frame.data());
        const BOOL result = decode.process(n, s.frame_n, frame.data());
        const std::vector<PIXEL_YC> expected = s.decodes ? engine.frame(n, true) : arriving[n];
        const bool same = std::memcmp(frame.data(), expected.data(), frame.size() * sizeof(PIXEL_YC)) == 0;
        if (!result || !same) {
            std::fprintf(stderr, "%s: frame %d %s\n", s.name, n,
                         result ? "differs from the engine's" : "failed");
            return false;
        }
        digest->add(frame.data(), frame.size() * sizeof(PIXEL_YC));
    }
    const HostServices& services = decode.services();
    if (services.host_buffer_written) {
        std::fprintf(stderr, "%s: the decoder wrote into the host's frame\n", s.name);
        return false;
    }
    digest->add(services.is_saving_calls);
    for (const auto& request : services.cache_size_requests) {
        digest->add(request.w);
        digest->add(request.h);
        digest->add(request.d);
        digest->add(request.flag);
    }
    for (int n : services.filtering_requests)
        digest->add(n);
    digest->add(decode.finish());
    return true;
}

}  // namespace

int run_decode_chain(GetFilterTableFunction encoder, GetFilterTableFunction decoder, FILE* out)
{
    if (const char* mismatch = descriptor_mismatch(decoder())) {
        std::fprintf(stderr, "the decoder's descriptor differs: %s\n", mismatch);
        return 0;
    }
    int count = 0;
    for (const ChainScenario& s : scenarios) {
        Digest digest;
        if (!run_scenario(s, encoder, decoder, &digest))
            return 0;
        std::fprintf(out, "%s %016" PRIx64 "\n", s.name, digest.value);
        ++count;
    }
    return count;
}
