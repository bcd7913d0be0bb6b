// The frei0r plug-in as hosts load it: norel.so opened with dlopen, driven
// through its entry points only.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <frei0r.h>
}

#include "engine/rgba_yc.h"
#include "hosts/frei0r/parameters.h"

namespace {

struct Plugin {
    void* library = dlopen(NOREL_FREI0R_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    template <typename Fn>
    Fn* entry(const char* name) const
    {
        return reinterpret_cast<Fn*>(dlsym(library, name));
    }
    decltype(&f0r_get_plugin_info) plugin_info = entry<void(f0r_plugin_info_t*)>("f0r_get_plugin_info");
    decltype(&f0r_get_param_info) param_info = entry<void(f0r_param_info_t*, int)>("f0r_get_param_info");
    decltype(&f0r_construct) construct = entry<f0r_instance_t(unsigned, unsigned)>("f0r_construct");
    decltype(&f0r_destruct) destruct = entry<void(f0r_instance_t)>("f0r_destruct");
    decltype(&f0r_set_param_value) set = entry<void(f0r_instance_t, f0r_param_t, int)>("f0r_set_param_value");
    decltype(&f0r_get_param_value) get = entry<void(f0r_instance_t, f0r_param_t, int)>("f0r_get_param_value");
    decltype(&f0r_update) update =
        entry<void(f0r_instance_t, double, const uint32_t*, uint32_t*)>("f0r_update");

    void set_value(f0r_instance_t instance, int index, double value) const
    {
        set(instance, &value, index);
    }
    double value(f0r_instance_t instance, int index) const
    {
        double v = -1.0;
        get(instance, &v, index);
        return v;
    }
    // A choice, by name.
    void set_text(f0r_instance_t instance, int index, const char* text) const
    {
        f0r_param_string value = const_cast<char*>(text);
        set(instance, &value, index);
    }
    const char* text(f0r_instance_t instance, int index) const
    {
        const char* t = nullptr;
        get(instance, &t, index);
        return t;
    }
    // Every value as frei0r_settings takes it: a choice as its index.
    void values(f0r_instance_t instance, double* values) const
    {
        for (int i = 0; i < FREI0R_PARAM_COUNT; ++i)
            values[i] = frei0r_params[i].choice_name != nullptr
                            ? frei0r_choice(frei0r_params[i], text(instance, i))
                            : value(instance, i);
    }
};

const Plugin& plugin()
{
    static Plugin loaded;
    return loaded;
}

enum { LEFT, WIDTH, TOP, HEIGHT, SHIFT, FREQ, PHASE, TFF, COMPOSITE, LPF, MONO, SHOW_RANGE, FPS,
       CLOCK_MS, DECODE, BANDWIDTH, SATURATION, HUE, STANDARD, DELAY_LINE };

std::vector<uint32_t> random_frame(size_t pixels, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<uint32_t> frame(pixels);
    for (auto& p : frame)
        p = random();
    return frame;
}

TEST(Frei0rPlugin, LoadsWithEveryEntryPoint)
{
    const Plugin& p = plugin();
    ASSERT_NE(p.library, nullptr) << dlerror();
    for (void* fn : {(void*)p.plugin_info, (void*)p.param_info, (void*)p.construct,
                     (void*)p.destruct, (void*)p.set, (void*)p.get, (void*)p.update})
        ASSERT_NE(fn, nullptr);
    f0r_plugin_info_t info = {};
    p.plugin_info(&info);
    EXPECT_STREQ(info.name, "norel");
    EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
    EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_RGBA8888);
    EXPECT_EQ(info.frei0r_version, 1);
    EXPECT_EQ(info.num_params, FREI0R_PARAM_COUNT);
}

// What the conversion and the effect chain give when applied to the whole
// frame directly, for frame `number`.
std::vector<uint32_t> direct(const std::vector<uint32_t>& in, int w, int h,
                             const EffectSettings& settings, int number)
{
    std::vector<PIXEL_YC> yc(in.size()), scratch(in.size());
    std::vector<uint32_t> out(in.size());
    const auto* rgba = reinterpret_cast<const RgbaPixel*>(in.data());
    rgba_to_yc(yc.data(), w, rgba, w * 4, w, h);
    EffectState state;
    const EffectFrame frame = {yc.data(), scratch.data(), w, h, w, number};
    apply_effects(&state, &settings, &frame);
    release_effect_state(&state);
    yc_to_rgba(reinterpret_cast<RgbaPixel*>(out.data()), w * 4, yc.data(), w, rgba, w * 4, w, h);
    return out;
}

// The plug-in gives what the conversion and the chain give directly, the
// decoder's looks among them; outside the rectangle nothing changes; an
// empty rectangle or every effect off gives the frame back bit for bit,
// alpha included.
TEST(Frei0rPlugin, EqualsTheDirectComputationAndChangesOnlyTheRectangle)
{
    const Plugin& p = plugin();
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        const unsigned w = 1 + random() % 70, h = 1 + random() % 50;
        // Rectangles up to 40 pixels: some cover the frame, most leave margins.
        f0r_instance_t instance = p.construct(w, h);
        ASSERT_NE(instance, nullptr);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (int i = 0; i < FREI0R_PARAM_COUNT; ++i) {
            if (frei0r_params[i].choice_name == nullptr)
                p.set_value(instance, i, i <= HEIGHT ? unit(random) * 0.004 : unit(random));
        }
        p.set_text(instance, DECODE, decode_mode_name(int32_t(random() % 4)));
        p.set_text(instance, BANDWIDTH, chroma_bandwidth_name(int32_t(random() % 2)));
        p.set_text(instance, STANDARD, colour_standard_name(int32_t(random() % 2)));
        const bool effects_off = round % 3 == 0;
        if (effects_off) {
            for (int i : {COMPOSITE, LPF, MONO, SHOW_RANGE})
                p.set_value(instance, i, 0.0);
            p.set_value(instance, SHIFT, 0.5);
        }
        p.set_value(instance, FPS, 30000.0 / 1001.0 / 100.0);
        p.set_value(instance, CLOCK_MS, 0.0);
        const std::vector<uint32_t> in = random_frame(size_t(w) * h, round);
        std::vector<uint32_t> out(in.size());
        p.update(instance, round * 1001.0 / 30000.0, in.data(), out.data());
        double values[FREI0R_PARAM_COUNT];
        p.values(instance, values);
        ASSERT_TRUE(out == direct(in, int(w), int(h), frei0r_settings(values), round))
            << "round " << round;
        // In place, as a host may call it, the same.
        std::vector<uint32_t> same = in;
        p.update(instance, round * 1001.0 / 30000.0, same.data(), same.data());
        ASSERT_TRUE(same == out) << "in place, round " << round;

        const int left = int(std::nearbyint(p.value(instance, LEFT) * 10000));
        const int top = int(std::nearbyint(p.value(instance, TOP) * 10000));
        const int right = left + int(std::nearbyint(p.value(instance, WIDTH) * 10000));
        const int bottom = top + int(std::nearbyint(p.value(instance, HEIGHT) * 10000));
        for (unsigned r = 0; r < h; ++r) {
            for (unsigned x = 0; x < w; ++x) {
                const bool inside = int(x) >= left && int(x) < right && int(r) >= top &&
                                    int(r) < bottom;
                const size_t i = size_t(r) * w + x;
                if (!inside || effects_off)
                    ASSERT_EQ(out[i], in[i]) << "round " << round << " (" << x << ", " << r << ")";
                else
                    ASSERT_EQ(out[i] >> 24, in[i] >> 24) << "alpha, round " << round;
            }
        }
        p.destruct(instance);
    }
}

// The carrier's sequence follows the host's clock: frame 3 is the same in
// sequence, alone after a seek, and rendered twice.
TEST(Frei0rPlugin, FrameNumberFollowsTheClock)
{
    const Plugin& p = plugin();
    const unsigned w = 64, h = 24;
    const std::vector<uint32_t> in = random_frame(w * h, 3);
    auto render = [&](f0r_instance_t instance, int frame) {
        std::vector<uint32_t> out(in.size());
        p.update(instance, frame * 1001.0 / 30000.0, in.data(), out.data());
        return out;
    };
    auto composite_instance = [&] {
        f0r_instance_t instance = p.construct(w, h);
        p.set_value(instance, WIDTH, 1.0);
        p.set_value(instance, COMPOSITE, 1.0);
        p.set_value(instance, SHIFT, 0.52);
        return instance;
    };
    f0r_instance_t in_sequence = composite_instance();
    std::vector<std::vector<uint32_t>> sequence;
    for (int frame = 0; frame < 6; ++frame)
        sequence.push_back(render(in_sequence, frame));
    f0r_instance_t seeking = composite_instance();
    EXPECT_EQ(render(seeking, 3), sequence[3]);
    EXPECT_EQ(render(seeking, 3), sequence[3]);
    EXPECT_EQ(render(seeking, 0), sequence[0]);
    EXPECT_NE(sequence[2], sequence[3]);  // the sequence does alternate
    EXPECT_EQ(sequence[2], sequence[4]);
    // A host whose clock counts milliseconds, told so.
    p.set_value(seeking, CLOCK_MS, 1.0);
    std::vector<uint32_t> out(in.size());
    p.update(seeking, 3 * 1001.0 / 30.0, in.data(), out.data());
    EXPECT_EQ(out, sequence[3]);
    p.destruct(in_sequence);
    p.destruct(seeking);
}

// The standard by name and the delay line reach the engine as the settings
// they stand for: PAL's hue knob costs saturation with the delay line and
// shows Hanover bars without it, NTSC's turns the hue.
TEST(Frei0rPlugin, StandardAndDelayLineReachTheEngine)
{
    const Plugin& p = plugin();
    const unsigned w = 96, h = 40;
    const std::vector<uint32_t> in = random_frame(w * h, 11);
    struct Case {
        const char* standard;
        double delay_line;
        int32_t expected_standard, expected_delay_line;
    };
    const Case cases[] = {{"ntsc", 1.0, STANDARD_NTSC, 1},
                          {"pal", 1.0, STANDARD_PAL, 1},
                          {"pal", 0.2, STANDARD_PAL, 0}};
    std::vector<std::vector<uint32_t>> outs;
    for (const Case& c : cases) {
        f0r_instance_t instance = p.construct(w, h);
        p.set_value(instance, WIDTH, 1.0);
        p.set_value(instance, HEIGHT, 1.0);
        p.set_value(instance, COMPOSITE, 1.0);
        p.set_text(instance, DECODE, "2line");
        p.set_value(instance, HUE, 0.625);  // 45 degrees
        p.set_text(instance, STANDARD, c.standard);
        p.set_value(instance, DELAY_LINE, c.delay_line);
        std::vector<uint32_t> out(in.size());
        p.update(instance, 5 * 1001.0 / 30000.0, in.data(), out.data());
        EffectSettings settings;
        settings.width = settings.height = 10000;
        settings.composite = 1;
        settings.standard = c.expected_standard;
        settings.decode.mode = DECODE_2LINE;
        settings.decode.hue = 45;
        settings.decode.delay_line = c.expected_delay_line;
        EXPECT_TRUE(out == direct(in, int(w), int(h), settings, 5)) << c.standard << c.delay_line;
        outs.push_back(out);
        p.destruct(instance);
    }
    EXPECT_NE(outs[0], outs[1]);
    EXPECT_NE(outs[1], outs[2]);
}

TEST(Frei0rPlugin, HostileUseIsHarmless)
{
    const Plugin& p = plugin();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    // Calls without an instance, frames or values do nothing.
    p.set_value(nullptr, 0, 0.5);
    p.set(nullptr, nullptr, 0);
    p.get(nullptr, nullptr, 0);
    p.update(nullptr, 0.0, nullptr, nullptr);
    p.destruct(nullptr);
    f0r_param_info_t info = {"untouched", -1, nullptr};
    p.param_info(&info, FREI0R_PARAM_COUNT);
    p.param_info(&info, -1);
    EXPECT_STREQ(info.name, "untouched");
    // Sizes the engine cannot address are refused.
    EXPECT_EQ(p.construct(0x80000000u, 2), nullptr);
    EXPECT_EQ(p.construct(0xffffffffu, 0xffffffffu), nullptr);

    struct Case {
        double given, kept;  // the value set, and what the parameter holds afterwards
    };
    const Case cases[] = {{0.25, 0.25}, {nan, 0.25}, {inf, 1.0}, {-inf, 0.0},
                          {-7.0, 0.0},  {1e300, 1.0}, {0.75, 0.75}};
    for (unsigned size : {0u, 1u, 5u}) {
        f0r_instance_t instance = p.construct(size, size);
        ASSERT_NE(instance, nullptr) << size;
        for (int i = 0; i < FREI0R_PARAM_COUNT; ++i) {
            if (frei0r_params[i].choice_name != nullptr)
                continue;  // below
            for (const Case& c : cases) {
                p.set_value(instance, i, c.given);
                EXPECT_EQ(p.value(instance, i), c.kept) << "param " << i << " given " << c.given;
                std::vector<uint32_t> in = random_frame(size * size + 1, i), out(in.size(), 0);
                const uint32_t guard = out.back();
                p.update(instance, c.given, in.data(), out.data());
                EXPECT_EQ(out.back(), guard);  // nothing written past the frame
                p.update(instance, 0.0, in.data(), nullptr);
                p.update(instance, 0.0, nullptr, out.data());
            }
        }
        p.set_value(instance, FREI0R_PARAM_COUNT, 0.5);
        p.set_value(instance, -1, 0.5);
        // A choice keeps its name through anything but one of its names.
        struct TextCase {
            const char* given;
            const char* kept;
        };
        const TextCase texts[] = {{"2line", "2line"}, {nullptr, "2line"}, {"3d", "2line"},
                                  {"NOTCH", "2line"}, {"", "2line"},      {"narrow", "2line"},
                                  {"notch ", "2line"}, {"off", "off"}};
        for (const TextCase& t : texts) {
            p.set_text(instance, DECODE, t.given);
            EXPECT_STREQ(p.text(instance, DECODE), t.kept) << (t.given ? t.given : "(null)");
        }
        p.set(instance, nullptr, DECODE);
        p.set_text(instance, BANDWIDTH, "notch");
        EXPECT_STREQ(p.text(instance, BANDWIDTH), "wide");
        for (const TextCase& t : {TextCase{"pal", "pal"}, {"PAL", "pal"}, {"secam", "pal"},
                                  {nullptr, "pal"}, {"narrow", "pal"}, {"ntsc", "ntsc"}}) {
            p.set_text(instance, STANDARD, t.given);
            EXPECT_STREQ(p.text(instance, STANDARD), t.kept) << (t.given ? t.given : "(null)");
        }
        p.destruct(instance);
    }
}

// Kdenlive's description lists every parameter under the plug-in's name and
// type, with the plug-in's range, scale and default.
TEST(Frei0rPlugin, KdenliveDescriptionMatchesTheParameters)
{
    std::ifstream file(NOREL_KDENLIVE_XML);
    std::stringstream text;
    text << file.rdbuf();
    const std::string xml = text.str();
    ASSERT_NE(xml.find("tag=\"frei0r.norel\""), std::string::npos);

    const std::regex parameter("<parameter ([^>]*)>");
    auto attribute = [](const std::string& attributes, const std::string& name) {
        std::smatch m;
        const std::regex pattern("\\b" + name + "=\"([^\"]*)\"");
        return std::regex_search(attributes, m, pattern) ? m[1].str() : std::string("(none)");
    };
    const Plugin& p = plugin();
    f0r_instance_t instance = p.construct(8, 8);
    int index = 0;
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), parameter);
         it != std::sregex_iterator(); ++it, ++index) {
        ASSERT_LT(index, FREI0R_PARAM_COUNT);
        const std::string a = (*it)[1];
        f0r_param_info_t info = {};
        p.param_info(&info, index);
        const Frei0rParam& own = frei0r_params[index];
        EXPECT_EQ(attribute(a, "name"), info.name);
        const std::string type = attribute(a, "type");
        if (info.type == F0R_PARAM_STRING) {
            // A list of the choices by name.
            EXPECT_EQ(type, "list") << info.name;
            EXPECT_EQ(attribute(a, "default"), p.text(instance, index)) << info.name;
            std::string names;
            for (int i = 0; i < own.choice_count; ++i)
                names += std::string(i ? ";" : "") + own.choice_name(i);
            EXPECT_EQ(attribute(a, "paramlist"), names) << info.name;
            continue;
        }
        const double default_value = std::stod(attribute(a, "default"));
        EXPECT_NEAR(default_value, p.value(instance, index), 1e-6) << info.name;
        if (type == "fixed")
            continue;  // the host's clock setting: seconds in MLT
        if (info.type == F0R_PARAM_BOOL) {
            EXPECT_EQ(type, "bool") << info.name;
            continue;
        }
        EXPECT_EQ(info.type, F0R_PARAM_DOUBLE);
        EXPECT_TRUE(type == "animated" || type == "constant") << info.name;
        // Kdenlive shows value * factor; the setting adds the offset.
        EXPECT_EQ(std::stod(attribute(a, "factor")), own.scale) << info.name;
        EXPECT_EQ(std::stod(attribute(a, "min")), own.low - own.offset) << info.name;
        EXPECT_EQ(std::stod(attribute(a, "max")), own.high - own.offset) << info.name;
    }
    EXPECT_EQ(index, FREI0R_PARAM_COUNT);
    p.destruct(instance);
}

}  // namespace
