// What the frei0r plug-in must give, computed without it: RGBA frames from
// standard input go through the conversion and the effect chain directly and
// the result goes to standard output. The hosts' renders are compared with
// this byte for byte.
//
//   frei0r_direct W H [first=N] [left=N width=N top=N height=N shift=N freq=N
//                 phase=N tff=0|1 composite=0|1 lpf=0|1 mono=0|1 show_range=0|1
//                 decode=NAME chroma_bandwidth=NAME saturation=N hue=N
//                 standard=ntsc|pal delay_line=0|1 vhs=NAME seed=N tape_noise=N
//                 head_switching=N head_switching_shift=NS tracking=N dropouts=N
//                 dropout_compensator=0|1 jitter=NS chroma_delay=NS generations=N]
//
// Values are in the effects' own units, the choices by name. Fails if a
// pixel outside the rectangle changed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/frame_effects.h"
#include "engine/rgba_yc.h"
#include "engine/settings_table.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: frei0r_direct W H [name=value ...]\n");
        return 2;
    }
    const int w = std::atoi(argv[1]), h = std::atoi(argv[2]);
    EffectSettings settings;
    int first = 0;
    const std::map<std::string, int32_t*> fields = {
        {"left", &settings.left},   {"width", &settings.width},
        {"top", &settings.top},     {"height", &settings.height},
        {"shift", &settings.shift}, {"freq", &settings.freq},
        {"phase", &settings.phase}, {"tff", &settings.top_field_first},
        {"composite", &settings.composite}, {"lpf", &settings.lpf},
        {"mono", &settings.mono},   {"show_range", &settings.show_range},
        {"saturation", &settings.decode.saturation}, {"hue", &settings.decode.hue},
        {"delay_line", &settings.decode.delay_line},
        {"seed", reinterpret_cast<int32_t*>(&settings.vhs.seed)}, {"tape_noise", &settings.vhs.tape_noise},
        {"head_switching", &settings.vhs.head_switching},
        {"head_switching_shift", &settings.vhs.head_switching_shift}, {"tracking", &settings.vhs.tracking},
        {"dropouts", &settings.vhs.dropouts}, {"dropout_compensator", &settings.vhs.dropout_compensator},
        {"jitter", &settings.vhs.jitter}, {"chroma_delay", &settings.vhs.chroma_delay},
        {"generations", &settings.vhs.generations},
        {"first", &first}};
    struct Choice {
        int32_t* field;
        int32_t (*from_name)(const char*);
    };
    const std::map<std::string, Choice> choices = {
        {"decode", {&settings.decode.mode, decode_mode_from_name}},
        {"chroma_bandwidth", {&settings.decode.bandwidth, chroma_bandwidth_from_name}},
        {"standard", {&settings.standard, colour_standard_from_name}},
        {"vhs", {&settings.vhs.format, [](const char* name) { return setting_choice_value(&setting_table[SETTING_VHS], name); }}}};
    for (int i = 3; i < argc; ++i) {
        const char* eq = std::strchr(argv[i], '=');
        const auto choice = eq ? choices.find(std::string(argv[i], static_cast<size_t>(eq - argv[i]))) : choices.end();
        if (choice != choices.end()) {
            *choice->second.field = choice->second.from_name(eq + 1);
            if (*choice->second.field < 0) {
                std::fprintf(stderr, "frei0r_direct: unknown choice %s\n", argv[i]);
                return 2;
            }
            continue;
        }
        const auto field = eq ? fields.find(std::string(argv[i], static_cast<size_t>(eq - argv[i]))) : fields.end();
        if (field == fields.end()) {
            std::fprintf(stderr, "frei0r_direct: unknown setting %s\n", argv[i]);
            return 2;
        }
        // The seed's 32 bits, as an int32_t's.
        *field->second = static_cast<int32_t>(std::strtoll(eq + 1, nullptr, 10));
    }

    const size_t pixels = static_cast<size_t>(w) * h;
    std::vector<RgbaPixel> in(pixels), out(pixels);
    std::vector<PIXEL_YC> yc(pixels), scratch(pixels);
    EffectState state;
    const FilterRect rect = effect_rect(&settings, w, h, w);
    for (int n = first; std::fread(in.data(), sizeof(RgbaPixel), pixels, stdin) == pixels; ++n) {
        rgba_to_yc(yc.data(), w, in.data(), w * 4, w, h);
        const EffectFrame frame = {yc.data(), scratch.data(), w, h, w, n};
        apply_effects(&state, &settings, &frame);
        yc_to_rgba(out.data(), w * 4, yc.data(), w, in.data(), w * 4, w, h);
        for (int r = 0; r < h; ++r) {
            for (int x = 0; x < w; ++x) {
                const bool inside = r >= rect.top && r < rect.bottom && x >= rect.left &&
                                    x < rect.right;
                if (!inside && std::memcmp(&in[r * w + x], &out[r * w + x], 4) != 0) {
                    std::fprintf(stderr, "frei0r_direct: frame %d pixel (%d, %d) outside the "
                                 "rectangle changed\n", n, x, r);
                    return 1;
                }
            }
        }
        std::fwrite(out.data(), sizeof(RgbaPixel), pixels, stdout);
    }
    release_effect_state(&state);
    return 0;
}
