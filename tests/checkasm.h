// Packed kernel variants against their plain reference: the same random
// input goes through the reference and through every variant this processor
// can run, each into its own copy of a destination that carries sentinel
// margins before and after the frame, and the whole buffers must be equal.
// Sources sit flush against an inaccessible page, so a read past the end of
// the frame crashes the test instead of passing unseen.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "engine/cpu.h"
#include "engine/pixel_yc.h"

namespace checkasm {

// The variants after the reference that may run here.
template <typename Fn>
std::vector<const KernelVariant<Fn>*> packed_variants(const DispatchedKernel<Fn>& kernel)
{
    std::vector<const KernelVariant<Fn>*> found;
    for (size_t i = 1; i < kernel.variant_count; ++i) {
        if (cpu_can_run(kernel.variants[i].required_flags))
            found.push_back(&kernel.variants[i]);
    }
    return found;
}

// NOREL_CHECKASM_SEED when set, so that a failure can be replayed; a fixed
// seed otherwise, so that every run checks the same frames.
// Row widths in pixels: every one up to three 16-pixel groups and a tail,
// then picture widths, odd ones included.
inline std::vector<int> row_widths()
{
    std::vector<int> found;
    for (int w = 1; w <= 52; ++w)
        found.push_back(w);
    for (int w : {319, 320, 719, 720, 1920})
        found.push_back(w);
    return found;
}

inline unsigned seed()
{
    const char* text = std::getenv("NOREL_CHECKASM_SEED");
    return text != nullptr ? static_cast<unsigned>(std::strtoul(text, nullptr, 0)) : 20240601u;
}

// What the random pixels look like.
enum class Values {
    nominal,   // y 0 .. 4096, cb and cr -2048 .. 2048: what the host hands over
    full,      // any 16-bit value
    extremes,  // only -32768 and 32767, where every saturation shows
};

inline const char* name(Values values)
{
    switch (values) {
    case Values::nominal: return "nominal";
    case Values::full: return "full";
    case Values::extremes: return "extremes";
    }
    return "?";
}

inline void fill(std::mt19937& random, PIXEL_YC* pixels, size_t count, Values values)
{
    std::uniform_int_distribution<int> luma(0, 4096);
    std::uniform_int_distribution<int> chroma(-2048, 2048);
    std::uniform_int_distribution<int> any(-32768, 32767);
    std::bernoulli_distribution top;
    auto component = [&](std::uniform_int_distribution<int>& nominal) {
        switch (values) {
        case Values::nominal: return static_cast<short>(nominal(random));
        case Values::full: return static_cast<short>(any(random));
        case Values::extremes: return static_cast<short>(top(random) ? 32767 : -32768);
        }
        return short{0};
    };
    for (size_t i = 0; i < count; ++i) {
        pixels[i].y = component(luma);
        pixels[i].cb = component(chroma);
        pixels[i].cr = component(chroma);
    }
}

// A read-only source of `count` pixels whose last byte is followed by a page
// that may not be touched.
class GuardedFrame {
public:
    explicit GuardedFrame(size_t count) : bytes_(count * sizeof(PIXEL_YC))
    {
        const size_t page = page_size();
        data_bytes_ = (bytes_ + page - 1) / page * page;
#ifdef _WIN32
        base_ = static_cast<char*>(
            VirtualAlloc(nullptr, data_bytes_ + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old;
        if (base_ == nullptr || !VirtualProtect(base_ + data_bytes_, page, PAGE_NOACCESS, &old))
            std::abort();
#else
        void* mapped = mmap(nullptr, data_bytes_ + page, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED)
            std::abort();
        base_ = static_cast<char*>(mapped);
        if (mprotect(base_ + data_bytes_, page, PROT_NONE) != 0)
            std::abort();
#endif
    }
    ~GuardedFrame()
    {
#ifdef _WIN32
        VirtualFree(base_, 0, MEM_RELEASE);
#else
        munmap(base_, data_bytes_ + page_size());
#endif
    }
    GuardedFrame(const GuardedFrame&) = delete;
    GuardedFrame& operator=(const GuardedFrame&) = delete;

    PIXEL_YC* data() { return reinterpret_cast<PIXEL_YC*>(base_ + data_bytes_ - bytes_); }

private:
    static size_t page_size()
    {
#ifdef _WIN32
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return info.dwPageSize;
#else
        return static_cast<size_t>(sysconf(_SC_PAGESIZE));
#endif
    }

    size_t bytes_;
    size_t data_bytes_ = 0;
    char* base_ = nullptr;
};

// Stands in the destination wherever a kernel must not write.
constexpr PIXEL_YC sentinel = {-21846, 23130, -9510};
// Sentinel pixels before and after the destination frame.
constexpr int margin = 64;

inline ::testing::AssertionResult same_buffers(const std::vector<PIXEL_YC>& expected,
                                               const std::vector<PIXEL_YC>& actual, int pitch)
{
    const char* component_names[3] = {"y", "cb", "cr"};
    const auto* e = reinterpret_cast<const int16_t*>(expected.data());
    const auto* a = reinterpret_cast<const int16_t*>(actual.data());
    long long first = -1;
    size_t differences = 0;
    for (size_t i = 0; i < 3 * expected.size(); ++i) {
        if (e[i] != a[i]) {
            if (first < 0)
                first = static_cast<long long>(i);
            ++differences;
        }
    }
    if (differences == 0)
        return ::testing::AssertionSuccess();
    // Position in the frame: pixels before the frame give negative rows.
    const long long pixel = first / 3 - margin;
    const long long row_pixels = std::max(pitch, 1);
    const long long row = pixel >= 0 ? pixel / row_pixels : -1 - (-pixel - 1) / row_pixels;
    std::ostringstream where;
    where << differences << " components differ; the first is " << component_names[first % 3]
          << " of pixel " << pixel - row * row_pixels << " in row " << row << ": expected " << e[first]
          << ", got " << a[first];
    return ::testing::AssertionFailure() << where.str();
}

// Runs run(fn, dst) once with the reference and once with every packed
// variant, each on a fresh copy of `initial` (the frame of rows `pitch`
// pixels apart that dst holds before the call) framed by sentinel margins,
// and compares every byte of the results.
template <typename Fn, typename Run>
void check_variants(const DispatchedKernel<Fn>& kernel, const std::vector<PIXEL_YC>& initial,
                    int pitch, Run run)
{
    std::vector<PIXEL_YC> framed(initial.size() + 2 * margin, sentinel);
    std::copy(initial.begin(), initial.end(), framed.begin() + margin);
    std::vector<PIXEL_YC> expected = framed;
    run(kernel.variants[0].fn, expected.data() + margin);
    for (const KernelVariant<Fn>* variant : packed_variants(kernel)) {
        std::vector<PIXEL_YC> actual = framed;
        run(variant->fn, actual.data() + margin);
        EXPECT_TRUE(same_buffers(expected, actual, pitch)) << "variant " << variant->name;
    }
}

}  // namespace checkasm
