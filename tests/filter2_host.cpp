// Our stand-in for the 64-bit editor: loads norel.auf2 as the host does,
// walks its items, and draws objects through the video callback over our
// own buffers. Every picture must equal the effects applied directly to it
// (RGBA to YC, the chain, back with the source's alpha), with every pixel
// outside the rectangle as it was, per instance and on two threads at once,
// and for hostile item values as for the values they stand for.
//
//   norel_filter2_host PLUGIN.auf2
#include <windows.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/frame_effects.h"
#include "engine/rgba_yc.h"
#include "abi/filter2.h"

namespace {

std::atomic<int> failures{0};

void fail(const std::string& what)
{
    std::fprintf(stderr, "norel_filter2_host: %s\n", what.c_str());
    ++failures;
}

// The items the host must find, in order, written out apart from the plug-in.
struct ExpectedTrack {
    const wchar_t* label;
    double default_value, minimum, maximum;
};
const ExpectedTrack expected_tracks[] = {
    {L"左", 0, 0, 2048},       {L"幅", 320, 0, 2048}, {L"上", 0, 0, 2048},
    {L"高さ", 320, 0, 2048},   {L"移動量", 0, -256, 256}, {L"freq", 704, 600, 750},
    {L"phase", 0, -180, 180},
    // The decoder's, after norel2's check boxes; "Y/C分離" without "3d".
    {L"Y/C分離", 0, 0, 3},      {L"色の濃さ", 100, 0, 200}, {L"色合い", 0, -180, 180},
    // The VHS deck's, after PAL's check boxes; the seed's whole 32 bits.
    {L"VHS", 0, 0, 4},          {L"シード", 0, 0, 4294967295.0}, {L"テープノイズ", 100, 0, 200},
    {L"ヘッド切替", -1, -1, 8}, {L"切替ずれ", 2000, -10000, 10000}, {L"トラッキング", 0, 0, 100},
    {L"ドロップアウト", 30, 0, 5000}, {L"ジッター", 30, 0, 300}, {L"色ずれ", -1001, -1001, 1000},
    {L"世代", 1, 1, 5},
};
// Then PAL's: the standard (off: NTSC) and its delay line.
const wchar_t* const expected_checks[] = {L"TFF", L"範囲表示", L"MONO", L"C/Y", L"LPF",
                                          L"狭帯域", L"PAL", L"遅延線", L"ドロップアウト補償"};
const bool expected_check_defaults[] = {true, false, false, false, true, false, false, true, true};
// The item order: 't' a track bar, 'c' a check box.
const char expected_order[] = "tttttttccccctttccctttttttcttt";
constexpr int item_count = sizeof expected_order - 1;

aviutl2_filter_item_track* tracks[std::size(expected_tracks)];
aviutl2_filter_item_check* checks[std::size(expected_checks)];

void walk_items(void** items)
{
    size_t n = 0;
    int track = 0, check = 0;
    for (; items[n] != nullptr; ++n) {
        const wchar_t* type = *static_cast<const wchar_t* const*>(items[n]);
        const bool is_track = expected_order[n] == 't';
        if (n >= item_count || std::wcscmp(type, is_track ? L"track2" : L"check") != 0) {
            fail("item " + std::to_string(n) + " has an unexpected type");
            return;
        }
        if (is_track) {
            auto* t = tracks[track] = static_cast<aviutl2_filter_item_track*>(items[n]);
            const ExpectedTrack& e = expected_tracks[track];
            if (std::wcscmp(t->name, e.label) != 0 || t->value != e.default_value ||
                t->s != e.minimum || t->e != e.maximum || t->step != 1.0)
                fail("track " + std::to_string(track) + " differs in label, default, range or step");
            ++track;
        } else {
            auto* c = checks[check] = static_cast<aviutl2_filter_item_check*>(items[n]);
            if (std::wcscmp(c->name, expected_checks[check]) != 0 ||
                c->value != expected_check_defaults[check])
                fail("check " + std::to_string(check) + " differs in label or default");
            ++check;
        }
    }
    if (n != item_count)
        fail("expected 20 track bars and 9 check boxes, found " + std::to_string(n) + " items");
}

void set_items(const EffectSettings& s)
{
    const double values[] = {double(s.left), double(s.width), double(s.top), double(s.height),
                             double(s.shift), double(s.freq), double(s.phase), double(s.decode.mode),
                             double(s.decode.saturation), double(s.decode.hue), double(s.vhs.format),
                             double(s.vhs.seed), double(s.vhs.tape_noise), double(s.vhs.head_switching),
                             double(s.vhs.head_switching_shift), double(s.vhs.tracking),
                             double(s.vhs.dropouts), double(s.vhs.jitter), double(s.vhs.chroma_delay),
                             double(s.vhs.generations)};
    for (size_t i = 0; i < std::size(values); ++i)
        tracks[i]->value = values[i];
    const int flags[] = {s.top_field_first, s.show_range, s.mono, s.composite, s.lpf,
                         s.decode.bandwidth == CHROMA_NARROW, s.standard == STANDARD_PAL,
                         s.decode.delay_line, s.vhs.dropout_compensator};
    for (size_t i = 0; i < std::size(flags); ++i)
        checks[i]->value = flags[i] != 0;
}

// The host's image services over the picture of the call in progress.
struct Picture {
    std::vector<RgbaPixel> pixels;
    int w, h;
};
thread_local Picture* drawn;

// Every instance's values go through the plug-in's one set of items: a call
// writes them under this lock, and the plug-in must have taken them by the
// time it asks for the picture, when the next call may write its own.
std::mutex items_lock;
thread_local bool holding_items;

void release_items()
{
    if (holding_items)
        items_lock.unlock();
    holding_items = false;
}

void get_image_data(aviutl2_pixel_rgba* buffer)
{
    release_items();
    std::memcpy(buffer, drawn->pixels.data(), drawn->pixels.size() * sizeof(RgbaPixel));
}

void set_image_data(const aviutl2_pixel_rgba* buffer, int width, int height)
{
    drawn->w = width;
    drawn->h = height;
    drawn->pixels.assign(reinterpret_cast<const RgbaPixel*>(buffer),
                         reinterpret_cast<const RgbaPixel*>(buffer) + size_t(width) * height);
}

Picture random_picture(int w, int h, unsigned seed)
{
    std::mt19937 random(seed);
    Picture p{std::vector<RgbaPixel>(size_t(w) * h), w, h};
    for (RgbaPixel& px : p.pixels)
        px = {uint8_t(random()), uint8_t(random()), uint8_t(random()), uint8_t(random())};
    return p;
}

Picture draw(const aviutl2_filter_plugin_table* table, void* userdata, const Picture& source,
             int32_t frame, const std::function<void()>& write_items)
{
    Picture picture = source;
    const aviutl2_scene_info scene = {1920, 1080, 30000, 1001, 48000};
    aviutl2_object_info object = {};
    object.frame = frame;
    object.frame_total = 1000;
    object.width = source.w;
    object.height = source.h;
    aviutl2_filter_proc_video video = {};
    video.scene = &scene;
    video.object = &object;
    video.get_image_data = get_image_data;
    video.set_image_data = set_image_data;
    video.userdata = userdata;
    items_lock.lock();
    holding_items = true;
    write_items();
    drawn = &picture;
    if (!table->func_proc_video(&video))
        fail("the video callback reported a failure");
    drawn = nullptr;
    release_items();
    return picture;
}

Picture engine_result(const Picture& source, const EffectSettings& settings, int32_t frame)
{
    const int w = source.w, h = source.h;
    std::vector<PIXEL_YC> yc(size_t(w) * h), scratch(size_t(w) * h);
    rgba_to_yc(yc.data(), w, source.pixels.data(), w * 4, w, h);
    EffectState state;
    const EffectFrame f = {yc.data(), scratch.data(), w, h, w, frame};
    apply_effects(&state, &settings, &f);
    release_effect_state(&state);
    Picture result{std::vector<RgbaPixel>(size_t(w) * h), w, h};
    yc_to_rgba(result.pixels.data(), w * 4, yc.data(), w, source.pixels.data(), w * 4, w, h);
    return result;
}

bool same(const RgbaPixel& a, const RgbaPixel& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Equal to the engine's result, and, outside the rectangle, to the source.
void check_drawn(const std::string& name, const Picture& source, const Picture& drawn,
                 const EffectSettings& settings, int32_t frame)
{
    if (drawn.w != source.w || drawn.h != source.h) {
        fail(name + ": the picture changed size");
        return;
    }
    const Picture expected = engine_result(source, settings, frame);
    const FilterRect rect = effect_rect(&settings, source.w, source.h, source.w);
    long long wrong = 0, moved_outside = 0;
    for (int r = 0; r < source.h; ++r) {
        for (int x = 0; x < source.w; ++x) {
            const size_t i = size_t(r) * source.w + x;
            wrong += !same(drawn.pixels[i], expected.pixels[i]);
            const bool inside = r >= rect.top && r < rect.bottom && x >= rect.left && x < rect.right;
            moved_outside += !inside && !same(drawn.pixels[i], source.pixels[i]);
        }
    }
    if (wrong != 0 || moved_outside != 0)
        fail(name + ": " + std::to_string(wrong) + " pixels differ from the engine's, " +
             std::to_string(moved_outside) + " outside the rectangle changed");
}

// Settings in EffectSettings order: left, width, top, height, shift, freq,
// phase, TFF, (60FPS), 範囲表示, MONO, C/Y, LPF, the standard, the decoder's
// (mode, bandwidth, saturation, hue, delay line). Frames run from `frame` on.
struct DrawCase {
    const char* name;
    int w, h;
    int32_t frame, frames;
    EffectSettings settings;
};
const DrawCase draw_cases[] = {
    {"defaults (LPF)", 333, 201, 0, 1, {}},
    {"inner rectangle, C/Y, whole-line shift", 333, 201, 0, 4,
     {17, 250, 9, 150, 32, 704, 0, 1, 0, 0, 0, 1, 1, STANDARD_NTSC, {}}},
    {"rectangle past the corner, fractional shift, BFF", 333, 201, 5, 1,
     {300, 320, 180, 320, -37, 704, 0, 0, 0, 0, 0, 0, 1, STANDARD_NTSC, {}}},
    {"C/Y off-nominal, MONO too, largest shift", 640, 96, 7, 2,
     {0, 2048, 0, 2048, 256, 733, 45, 1, 0, 0, 1, 1, 0, STANDARD_NTSC, {}}},
    {"MONO without LPF", 96, 64, 3, 1, {10, 50, 3, 40, 5, 650, -90, 1, 0, 0, 1, 0, 0, STANDARD_NTSC, {}}},
    {"range shown", 333, 201, 0, 1, {40, 100, 20, 60, 8, 704, 0, 1, 0, 1, 0, 1, 1, STANDARD_NTSC, {}}},
    {"one pixel", 1, 1, 0, 2, {0, 320, 0, 320, 3, 704, 0, 1, 0, 0, 0, 1, 1, STANDARD_NTSC, {}}},
    // The decoder after C/Y, the shift and LPF.
    {"C/Y decoded, notch", 333, 201, 0, 2,
     {0, 2048, 0, 2048, 0, 704, 0, 1, 0, 0, 0, 1, 1, STANDARD_NTSC, {DECODE_NOTCH, CHROMA_WIDE, 100, 0}}},
    {"C/Y decoded, 2line narrow, saturated and turned, BFF", 333, 201, 3, 2,
     {17, 250, 9, 150, 23, 690, 33, 0, 0, 0, 0, 1, 1, STANDARD_NTSC, {DECODE_2LINE, CHROMA_NARROW, 150, 30}}},
    {"C/Y decoded, 3line, MONO drops its colour", 160, 97, 1, 2,
     {5, 140, 3, 90, 0, 741, -97, 1, 0, 0, 1, 1, 0, STANDARD_NTSC, {DECODE_3LINE, CHROMA_WIDE, 200, -180}}},
    // The deck with its noise, numbered by the object's frame; a seed past 2^31.
    {"VHS SP with noise, decoded", 333, 201, 0, 3,
     {0, 2048, 0, 2048, 0, 704, 0, 1, 0, 0, 0, 1, 1, STANDARD_NTSC, {DECODE_NOTCH, CHROMA_NARROW, 100, 0}, 0,
      {VHS_SP, 3000000000u, 150, 100, -1, -1500, 30, 2000, 1, 30, -1001, 2, 0}}},
    {"decoding without C/Y does nothing", 96, 64, 0, 1,
     {10, 50, 3, 40, 0, 704, 0, 1, 0, 0, 0, 0, 1, STANDARD_NTSC, {DECODE_3LINE, CHROMA_WIDE, 100, 0}}},
    // PAL over its four-frame sequence; its hue knob costs saturation with
    // the delay line and shows Hanover bars without it.
    {"PAL C/Y alone, off-nominal, fractional shift", 333, 201, 2, 4,
     {17, 250, 9, 150, 23, 690, 33, 1, 0, 0, 0, 1, 1, STANDARD_PAL, {}}},
    {"PAL decoded, 2line, delay line, turned", 333, 201, 0, 4,
     {0, 2048, 0, 2048, 0, 704, 0, 1, 0, 0, 0, 1, 1, STANDARD_PAL, {DECODE_2LINE, CHROMA_WIDE, 120, 45, 1}}},
    {"simple PAL, 3line narrow, turned, BFF", 333, 201, 5, 2,
     {17, 250, 9, 150, 0, 741, -60, 0, 0, 0, 0, 1, 1, STANDARD_PAL, {DECODE_3LINE, CHROMA_NARROW, 100, 45, 0}}},
    {"simple PAL, notch, MONO drops its colour", 160, 97, 1, 1,
     {5, 140, 3, 90, 5, 704, 90, 1, 0, 0, 1, 1, 1, STANDARD_PAL, {DECODE_NOTCH, CHROMA_WIDE, 200, -90, 0}}},
};

// Values no host should send, each drawn as the value it must stand for.
struct HostileTrack {
    int track;
    double value;
    int32_t means;
};
const double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();
const HostileTrack hostile_tracks[] = {
    {0, nan, 0},       {0, -5, 0},         {0, 1e300, 2048},  {0, 40.6, 41},
    {1, -inf, 0},      {1, inf, 2048},     {2, -1e18, 0},     {3, nan, 320},
    {4, nan, 0},       {4, -1e9, -256},    {4, 1e9, 256},     {4, -12.5, -13},
    {5, nan, 704},     {5, -1, 600},       {5, 1e300, 750},   {6, -inf, -180},
    {6, 4e9, 180},     {6, nan, 0},
    // The decoder's, over 2line: no value reaches the frame comb.
    {7, nan, 0},       {7, 4, 3},          {7, 1e300, 3},     {7, -2, 0},
    {7, 1.4, 1},       {8, nan, 100},      {8, 1e9, 200},     {8, -inf, 0},
    {9, inf, 180},     {9, nan, 0},        {9, -200.5, -180}, {9, 44.5, 45},
};

void set_track_setting(EffectSettings* s, int track, int32_t value)
{
    int32_t* fields[] = {&s->left,  &s->width, &s->top,         &s->height,
                         &s->shift, &s->freq,  &s->phase,       &s->decode.mode,
                         &s->decode.saturation, &s->decode.hue};
    *fields[track] = value;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: norel_filter2_host PLUGIN.auf2\n");
        return 2;
    }
    HMODULE module = LoadLibraryA(argv[1]);
    if (module == nullptr) {
        std::fprintf(stderr, "norel_filter2_host: cannot load %s (error %lu)\n", argv[1],
                     GetLastError());
        return 1;
    }
    auto get_table = reinterpret_cast<GetFilterPluginTableFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetFilterPluginTable")));
    if (get_table == nullptr) {
        std::fprintf(stderr, "norel_filter2_host: %s exports no GetFilterPluginTable\n", argv[1]);
        return 1;
    }
    const aviutl2_filter_plugin_table* table = get_table();
    if (get_table() != table || table->flag != (FILTER2_FLAG_VIDEO | FILTER2_FLAG_FILTER |
                                                FILTER2_FLAG_USERDATA) ||
        std::wcscmp(table->name, L"norel2") != 0 || table->func_proc_video == nullptr ||
        table->func_proc_audio != nullptr || table->func_create == nullptr ||
        table->func_destroy == nullptr) {
        std::fprintf(stderr, "norel_filter2_host: the filter table is not as expected\n");
        return 1;
    }
    walk_items(table->items);
    if (failures != 0)
        return 1;

    void* first = table->func_create(101);
    void* second = table->func_create(102);
    if (first == nullptr || second == nullptr || first == second)
        fail("func_create must give every instance a record of its own");

    // Differential run, through one instance, then with no record at all.
    int drawn_count = 0;
    for (void* userdata : {first, static_cast<void*>(nullptr)}) {
        for (const DrawCase& c : draw_cases) {
            for (int32_t frame = c.frame; frame < c.frame + c.frames; ++frame) {
                const Picture source = random_picture(c.w, c.h, 7u + drawn_count);
                const Picture result =
                    draw(table, userdata, source, frame, [&] { set_items(c.settings); });
                check_drawn(std::string(c.name) + ", frame " + std::to_string(frame), source,
                            result, c.settings, frame);
                ++drawn_count;
            }
        }
    }

    // Two instances on two threads at once, with settings of their own (the
    // second PAL and decoded): shared subcarrier or decoder tables or a
    // shared shift kernel would be rebuilt under each other.
    auto run_instance = [&](void* userdata, const EffectSettings& settings, int w,
                            const char* name) {
        for (int32_t frame = 0; frame < 24; ++frame) {
            const Picture source = random_picture(w, 120, unsigned(frame * 31 + w));
            const Picture result =
                draw(table, userdata, source, frame, [&] { set_items(settings); });
            check_drawn(name, source, result, settings, frame);
        }
    };
    const EffectSettings first_settings = {0, 2048, 0, 2048, 21, 704, 30, 1, 0, 0, 0, 1, 1, STANDARD_NTSC, {}};
    const EffectSettings second_settings = {0, 2048, 0, 2048, -11, 650, -60, 0, 0, 0, 0, 1, 1, STANDARD_PAL,
                                            {DECODE_2LINE, CHROMA_WIDE, 100, 20, 1}};
    std::thread other(run_instance, second, second_settings, 352, "second instance");
    run_instance(first, first_settings, 320, "first instance");
    other.join();

    // Hostile values, one item at a time, over C/Y and a fractional shift.
    const Picture source = random_picture(200, 120, 99);
    for (const HostileTrack& t : hostile_tracks) {
        EffectSettings means;
        means.composite = 1;
        means.shift = 5;
        if (t.track >= 7)
            means.decode.mode = DECODE_2LINE;
        const Picture result = draw(table, first, source, 0, [&] {
            set_items(means);
            tracks[t.track]->value = t.value;
        });
        set_track_setting(&means, t.track, t.means);
        check_drawn("track " + std::to_string(t.track) + " at " + std::to_string(t.value), source,
                    result, means, 0);
    }
    for (const unsigned char byte : {0x02, 0x80, 0xFF}) {
        EffectSettings means;
        means.lpf = 0;
        const Picture result = draw(table, first, source, 0, [&] {
            set_items(means);
            std::memcpy(&checks[2]->value, &byte, 1);  // MONO
        });
        means.mono = 1;
        check_drawn("MONO stored as byte " + std::to_string(byte), source, result, means, 0);
    }
    // The standard and the delay line likewise, over simple PAL decoded.
    for (const unsigned char byte : {0x02, 0x80}) {
        EffectSettings means;
        means.composite = 1;
        means.decode.mode = DECODE_2LINE;
        means.decode.hue = 30;
        means.decode.delay_line = 0;
        const Picture result = draw(table, first, source, 1, [&] {
            set_items(means);
            std::memcpy(&checks[6]->value, &byte, 1);  // PAL
        });
        means.standard = STANDARD_PAL;
        check_drawn("PAL stored as byte " + std::to_string(byte), source, result, means, 1);
        const Picture with_delay_line = draw(table, first, source, 1, [&] {
            set_items(means);
            std::memcpy(&checks[7]->value, &byte, 1);  // 遅延線
        });
        means.decode.delay_line = 1;
        check_drawn("the delay line stored as byte " + std::to_string(byte), source,
                    with_delay_line, means, 1);
    }
    // Objects with no picture: nothing is read or written.
    for (const int size : {0, -1}) {
        Picture empty{{}, size, size};
        const Picture after = draw(table, first, empty, 0, [] { set_items(EffectSettings()); });
        if (!after.pixels.empty() || after.w != size)
            fail("a picture of size " + std::to_string(size) + " was written");
    }

    table->func_destroy(101, first);
    table->func_destroy(102, second);
    table->func_destroy(103, nullptr);
    FreeLibrary(module);
    if (failures != 0)
        return 1;
    std::printf("norel_filter2_host: %d differential pictures, 48 on two instances at once, "
                "%d hostile values: all equal to the effects applied directly\n",
                drawn_count, int(std::size(hostile_tracks)) + 7);
    return 0;
}
