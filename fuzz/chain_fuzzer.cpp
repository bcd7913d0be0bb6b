// The whole chain with the VHS deck and the decoder, for either standard, over arbitrary
// sizes, settings (any value, damaged ones included), frame numbers and
// pixels, with and without a partner frame for the frame comb. Each input
// runs with every packed variant and with the references alone: the frames
// must be identical, nothing outside the rectangle may change, and no
// access may stray outside the exact-size heap frames.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/cpu.h"
#include "engine/frame_effects.h"
#include "fuzz/byte_reader.h"

namespace {

struct Scenario {
    EffectSettings settings;
    int w, h, max_w;
    int32_t number;
    bool with_partner;
    std::vector<PIXEL_YC> pixels, partner;
};

Scenario read_scenario(ByteReader& in)
{
    Scenario s;
    s.w = 1 + in.below(80);
    s.h = 1 + in.below(40);
    s.max_w = s.w + in.below(3);
    EffectSettings& e = s.settings;
    e.left = in.below(4) == 0 ? in.interesting_int() : in.below(s.w + 2);
    e.width = in.below(4) == 0 ? in.interesting_int() : in.below(s.w + 2);
    e.top = in.below(4) == 0 ? in.interesting_int() : in.below(s.h + 2);
    e.height = in.below(4) == 0 ? in.interesting_int() : in.below(s.h + 2);
    e.shift = in.below(2) ? in.interesting_int() : in.below(64) - 32;
    e.freq = in.below(4) == 0 ? in.interesting_int() : 600 + in.below(151);
    e.phase = in.below(4) == 0 ? in.interesting_int() : in.below(256) - 128;
    const uint8_t flags = in.byte();
    e.top_field_first = flags & 1;
    e.paired_fields = flags >> 1 & 1;
    e.mono = flags >> 2 & 1;
    e.lpf = flags >> 3 & 1;
    e.composite = (flags >> 4 & 3) != 0;
    e.standard = in.below(8) == 0 ? in.interesting_int() : in.below(2);
    e.decode.mode = in.below(8) == 0 ? in.interesting_int() : in.below(decode_mode_count);
    e.decode.bandwidth = in.below(8) == 0 ? in.interesting_int() : in.below(2);
    e.decode.saturation = in.below(4) == 0 ? in.interesting_int() : in.below(201);
    e.decode.hue = in.below(4) == 0 ? in.interesting_int() : in.below(256) - 128;
    e.decode.delay_line = in.below(4) == 0 ? in.interesting_int() : in.below(2);
    s.number = in.interesting_int();
    s.with_partner = in.below(2) != 0;
    const size_t count = static_cast<size_t>(s.max_w) * s.h;
    s.pixels.resize(count);
    s.partner.resize(count);
    const int spread = in.below(3);  // nominal, full or any 16-bit values
    auto value = [&]() -> int16_t {
        const int16_t raw = static_cast<int16_t>(in.u16());
        return spread == 0 ? static_cast<int16_t>(raw % 4097) : spread == 1 ? static_cast<int16_t>(raw % 32768) : raw;
    };
    for (size_t i = 0; i < count; ++i) {
        s.pixels[i] = {value(), value(), value()};
        s.partner[i] = {value(), 0, 0};
    }
    // The VHS deck last, so that inputs from before it still mean what they did.
    VhsSettings& vhs = e.vhs;
    auto setting = [&](int range) { return in.below(4) == 0 ? in.interesting_int() : in.below(range); };
    auto signed_setting = [&](int most) {
        return in.below(4) == 0 ? in.interesting_int() : in.below(2 * most + 1) - most;
    };
    vhs.format = setting(vhs_format_count);
    vhs.seed = static_cast<uint32_t>(in.interesting_int());
    vhs.tape_noise = setting(vhs_tape_noise_max + 1);
    vhs.chroma_noise = setting(vhs_tape_noise_max + 1);
    vhs.head_switching = setting(vhs_head_switching_max + 1);
    vhs.head_switching_shift = signed_setting(vhs_head_switching_shift_max);
    vhs.tracking = setting(vhs_tracking_max + 1);
    vhs.dropouts = setting(vhs_dropouts_max + 1);
    vhs.dropout_compensator = setting(2);
    vhs.jitter = setting(vhs_jitter_max + 1);
    vhs.chroma_delay = signed_setting(vhs_chroma_delay_max);
    vhs.generations = setting(vhs_generations_max + 1);
    vhs.first_frame = in.interesting_int();
    return s;
}

std::vector<PIXEL_YC> run(const Scenario& s, unsigned mask)
{
    cpu_set_mask(mask);
    const size_t count = s.pixels.size();
    // Exact-size heap blocks, so that a stray access shows under the sanitizers.
    PIXEL_YC* pixels = static_cast<PIXEL_YC*>(std::malloc(count * sizeof(PIXEL_YC)));
    PIXEL_YC* scratch = static_cast<PIXEL_YC*>(std::malloc(count * sizeof(PIXEL_YC)));
    PIXEL_YC* partner = static_cast<PIXEL_YC*>(std::malloc(count * sizeof(PIXEL_YC)));
    PIXEL_YC* composite = static_cast<PIXEL_YC*>(std::malloc(count * sizeof(PIXEL_YC)));
    std::memcpy(pixels, s.pixels.data(), count * sizeof(PIXEL_YC));
    std::memcpy(partner, s.partner.data(), count * sizeof(PIXEL_YC));
    EffectState state;
    EffectFrame frame = {pixels, scratch, s.w, s.h, s.max_w, s.number};
    frame.partner = s.with_partner ? partner : nullptr;
    frame.composite = composite;
    apply_effects(&state, &s.settings, &frame);
    release_effect_state(&state);
    std::vector<PIXEL_YC> result(pixels, pixels + count);
    for (PIXEL_YC* block : {pixels, scratch, partner, composite})
        std::free(block);
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ByteReader in(data, size);
    const Scenario s = read_scenario(in);
    const std::vector<PIXEL_YC> packed = run(s, ~0u);
    const std::vector<PIXEL_YC> reference = run(s, 0);
    if (std::memcmp(packed.data(), reference.data(), packed.size() * sizeof(PIXEL_YC)) != 0)
        std::abort();
    // Outside the rectangle nothing changes, unless paired fields weave (the
    // engine never does) or show range inverts (inside only).
    const FilterRect rect = effect_rect(&s.settings, s.w, s.h, s.max_w);
    for (int r = 0; r < s.h; ++r) {
        for (int x = 0; x < s.max_w; ++x) {
            const bool inside = r >= rect.top && r < rect.bottom && x >= rect.left && x < rect.right;
            const size_t i = static_cast<size_t>(r) * s.max_w + x;
            if (!inside && std::memcmp(&packed[i], &s.pixels[i], sizeof(PIXEL_YC)) != 0)
                std::abort();
        }
    }
    return 0;
}
