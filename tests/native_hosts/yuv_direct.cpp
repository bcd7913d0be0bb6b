// The reference for the native hosts: planar 4:2:2 frames of a raw file
// converted whole to YC with the reference conversion, the effects applied
// frame after frame (each frame's composite signal kept for the next one's
// frame comb), and converted whole back, as the command line does.
//
//   yuv_direct IN OUT WIDTH HEIGHT DEPTH TFF [NAME=VALUE...]
// with the MLT filter's property names and values.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/frame_effects.h"
#include "engine/yuv_yc.h"

int main(int argc, char** argv)
{
    if (argc < 7) {
        std::fprintf(stderr, "usage: yuv_direct IN OUT WIDTH HEIGHT DEPTH TFF [NAME=VALUE...]\n");
        return 2;
    }
    const int w = std::atoi(argv[3]), h = std::atoi(argv[4]);
    YuvLayout layout;
    layout.depth = std::atoi(argv[5]);
    layout.chroma_shift_x = 1;
    layout.chroma_shift_y = 0;
    EffectSettings settings;
    settings.width = w;
    settings.height = h;
    settings.top_field_first = std::atoi(argv[6]);
    for (int i = 7; i < argc; ++i) {
        const std::string arg = argv[i];
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const char* value = argv[i] + eq + 1;
        const int number = std::atoi(value);
        if (name == "left") settings.left = number;
        else if (name == "top") settings.top = number;
        else if (name == "width") settings.width = number;
        else if (name == "height") settings.height = number;
        else if (name == "shift") settings.shift = number;
        else if (name == "freq") settings.freq = number;
        else if (name == "phase") settings.phase = number;
        else if (name == "cy") settings.composite = number;
        else if (name == "lpf") settings.lpf = number;
        else if (name == "mono") settings.mono = number;
        else if (name == "standard") settings.standard = colour_standard_from_name(value);
        else if (name == "decode") settings.decode.mode = decode_mode_from_name(value);
        else if (name == "chroma_bandwidth") settings.decode.bandwidth = chroma_bandwidth_from_name(value);
        else if (name == "saturation") settings.decode.saturation = number;
        else if (name == "hue") settings.decode.hue = number;
        else if (name == "delay_line") settings.decode.delay_line = number;
        else {
            std::fprintf(stderr, "yuv_direct: unknown setting %s\n", argv[i]);
            return 2;
        }
    }
    const int bytes = layout.depth > 8 ? 2 : 1;
    const size_t luma = static_cast<size_t>(w) * h * bytes, chroma = static_cast<size_t>((w + 1) / 2) * h * bytes;
    std::vector<uint8_t> frame(luma + 2 * chroma);
    const size_t pixels = static_cast<size_t>(w) * h;
    std::vector<PIXEL_YC> yc(pixels), scratch(pixels), composite[5];
    for (auto& c : composite)
        c.resize(pixels);
    YuvPlanes planes = {{frame.data(), frame.data() + luma, frame.data() + luma + chroma},
                        {w * bytes, (w + 1) / 2 * bytes, (w + 1) / 2 * bytes}};
    FILE* in = std::fopen(argv[1], "rb");
    FILE* out = std::fopen(argv[2], "wb");
    if (in == nullptr || out == nullptr) {
        std::fprintf(stderr, "yuv_direct: cannot open the files\n");
        return 1;
    }
    EffectState state;
    for (int32_t n = 0; std::fread(frame.data(), 1, frame.size(), in) == frame.size(); ++n) {
        yuv_to_yc_reference(layout, planes, w, h, yc.data(), w);
        EffectFrame f = {yc.data(), scratch.data(), w, h, w, n};
        // Frame n's composite in slot n % 5; its partner and same phase,
        // n - 1 and n - 2 or n - 2 and n - 4, are in their own slots once seen.
        const int32_t partner = comb_partner_frame(&settings, n);
        const int32_t same_phase = comb_same_phase_frame(&settings, n);
        f.partner = partner >= 0 ? composite[partner % 5].data() : nullptr;
        f.same_phase = same_phase >= 0 ? composite[same_phase % 5].data() : nullptr;
        f.composite = composite[n % 5].data();
        apply_effects(&state, &settings, &f);
        yc_to_yuv_reference(layout, yc.data(), w, w, h, planes);
        std::fwrite(frame.data(), 1, frame.size(), out);
    }
    release_effect_state(&state);
    std::fclose(in);
    return std::fclose(out) == 0 ? 0 : 1;
}
