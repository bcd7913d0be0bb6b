// The frei0r plug-in's entry points with arbitrary sizes, parameter values
// (NaN, infinities, any bit pattern; for a choice its names and others),
// clock times and call orders, over exact-size heap frames so that any stray
// access shows. Each input runs twice from fresh instances, once with every
// packed variant and once with the references alone: the frames must be
// identical, alpha and everything outside the rectangle must be the input's,
// and nothing may crash.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <frei0r.h>
}

#include "engine/cpu.h"
#include "fuzz/byte_reader.h"
#include "hosts/frei0r/parameters.h"

namespace {

double any_double(ByteReader& in)
{
    static const double edges[] = {0.0, 1.0, 0.5, -1.0, 2.0, 1e308, -1e308, 0.032, 0.515625,
                                   __builtin_nan(""), __builtin_inf(), -__builtin_inf()};
    const uint8_t selector = in.byte();
    if (selector < 0x80)
        return edges[selector % (sizeof edges / sizeof edges[0])];
    if (selector < 0xf0)
        return in.u16() / 65535.0;
    uint64_t bits = in.u32();
    bits = bits << 32 | in.u32();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// A choice's names, a name of another choice, and names of none.
const char* any_text(ByteReader& in)
{
    static const char* const texts[] = {"off",    "notch", "2line", "3line", "wide",
                                        "narrow", "3d",    "",      "NOTCH", "2line ",
                                        nullptr,  "ntsc",  "pal",   "PAL",   "secam"};
    return texts[in.below(sizeof texts / sizeof texts[0])];
}

bool is_choice(int index)
{
    return index >= 0 && index < FREI0R_PARAM_COUNT && frei0r_params[index].choice_name != nullptr;
}

struct Call {
    bool set;        // a parameter change, else an update
    int index;
    double value;    // the parameter's value or the update's time
    const char* text;  // a choice's value
    bool in_place;
};

std::vector<std::vector<uint32_t>> run(unsigned w, unsigned h, const std::vector<Call>& calls,
                                       const std::vector<uint32_t>& frame)
{
    std::vector<std::vector<uint32_t>> results;
    f0r_instance_t instance = f0r_construct(w, h);
    if (instance == nullptr)
        return results;
    for (const Call& call : calls) {
        if (call.set) {
            double value = call.value;
            f0r_param_string text = const_cast<char*>(call.text);
            if (is_choice(call.index))
                f0r_set_param_value(instance, &text, call.index);
            else
                f0r_set_param_value(instance, &value, call.index);
            continue;
        }
        // Exact-size blocks: a write or read past the frame is a heap error.
        const size_t pixels = static_cast<size_t>(w) * h;
        std::unique_ptr<uint32_t[]> in(new uint32_t[pixels ? pixels : 1]);
        if (pixels > 0)
            std::memcpy(in.get(), frame.data(), pixels * 4);
        std::unique_ptr<uint32_t[]> separate(new uint32_t[pixels ? pixels : 1]);
        uint32_t* out = call.in_place ? in.get() : separate.get();
        f0r_update(instance, call.value, in.get(), out);
        results.emplace_back(out, out + pixels);

        double values[FREI0R_PARAM_COUNT];
        for (int i = 0; i < FREI0R_PARAM_COUNT; ++i) {
            const char* text = nullptr;
            if (is_choice(i)) {
                f0r_get_param_value(instance, &text, i);
                values[i] = frei0r_choice(frei0r_params[i], text);
                if (values[i] < 0)
                    std::abort();  // a choice always holds one of its names
            } else {
                f0r_get_param_value(instance, &values[i], i);
            }
        }
        const EffectSettings settings = frei0r_settings(values);
        const FilterRect rect = effect_rect(&settings, int(w), int(h), int(w));
        for (size_t i = 0; i < pixels; ++i) {
            const int x = int(i % w), r = int(i / w);
            const bool inside = x >= rect.left && x < rect.right && r >= rect.top && r < rect.bottom;
            const uint32_t keep = inside ? 0xff000000u : 0xffffffffu;  // alpha is always kept
            if ((results.back()[i] & keep) != (frame[i] & keep))
                std::abort();
        }
    }
    f0r_destruct(instance);
    return results;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ByteReader in(data, size);
    unsigned w = in.below(41), h = in.below(41);
    if (in.below(8) == 0) {
        w = 1 + in.u16() % 400;
        h = 1 + in.below(64);
    }
    std::vector<Call> calls;
    for (int i = 0, n = 1 + in.below(12); i < n; ++i) {
        Call call;
        call.set = in.below(3) != 0;
        call.index = in.below(FREI0R_PARAM_COUNT + 2) - 1;  // one past each end too
        call.value = any_double(in);
        call.text = any_text(in);
        call.in_place = in.below(2) != 0;
        calls.push_back(call);
    }
    std::vector<uint32_t> frame(static_cast<size_t>(w) * h);
    for (auto& p : frame)
        p = in.exhausted() ? static_cast<uint32_t>(p * 2654435761u + 12345) : in.u32();

    cpu_set_mask(~0u);
    const auto packed = run(w, h, calls, frame);
    cpu_set_mask(0);
    const auto reference = run(w, h, calls, frame);
    cpu_set_mask(~0u);
    if (packed != reference)
        std::abort();
    return 0;
}
