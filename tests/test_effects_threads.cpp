// Two effect states used at once on two threads, each with its own settings
// and frame size, give exactly what each gives alone: the chain keeps no
// state of its own beyond the caller's record.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "engine/frame_effects.h"

namespace {

struct Job {
    EffectSettings settings;
    int w, h;
};

// Every frame's result, one after the other, from a fresh state.
std::vector<PIXEL_YC> run(const Job& job)
{
    const int max_w = job.w + 3, frames = 12;
    const size_t size = static_cast<size_t>(max_w) * job.h;
    std::mt19937 random(job.w);
    std::vector<PIXEL_YC> all, pixels(size), scratch(size);
    EffectState state;
    for (int n = 0; n < frames; ++n) {
        for (auto& p : pixels)
            p = {short(random() % 4097), short(random() % 4097 - 2048),
                 short(random() % 4097 - 2048)};
        const EffectFrame frame = {pixels.data(), scratch.data(), job.w, job.h, max_w, n};
        apply_effects(&state, &job.settings, &frame);
        all.insert(all.end(), pixels.begin(), pixels.end());
    }
    release_effect_state(&state);
    return all;
}

TEST(EffectThreads, TwoStatesOnTwoThreadsGiveWhatEachGivesAlone)
{
    Job a = {{}, 333, 201};
    a.settings.width = a.settings.height = 4000;
    a.settings.composite = 1;
    a.settings.shift = 23;
    a.settings.freq = 690;
    Job b = {{}, 160, 97};
    b.settings.left = 7;
    b.settings.composite = 1;
    b.settings.shift = -5;
    b.settings.freq = 740;
    b.settings.phase = 90;
    b.settings.top_field_first = 0;

    const std::vector<PIXEL_YC> alone_a = run(a), alone_b = run(b);
    for (int round = 0; round < 3; ++round) {
        std::vector<PIXEL_YC> together_a, together_b;
        std::thread thread_a([&] { together_a = run(a); });
        std::thread thread_b([&] { together_b = run(b); });
        thread_a.join();
        thread_b.join();
        ASSERT_EQ(0, std::memcmp(together_a.data(), alone_a.data(), alone_a.size() * 6));
        ASSERT_EQ(together_a.size(), alone_a.size());
        ASSERT_EQ(together_b.size(), alone_b.size());
        ASSERT_EQ(0, std::memcmp(together_b.data(), alone_b.data(), alone_b.size() * 6));
    }
}

}  // namespace
