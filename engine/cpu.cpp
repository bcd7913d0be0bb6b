#include "engine/cpu.h"

#include <atomic>
#include <cstdlib>

#if NOREL_X86
#include <cpuid.h>
#endif
#if defined(__linux__)
#include <unistd.h>
#endif

static unsigned detect_cpu_flags()
{
    unsigned flags = 0;
#if NOREL_X86
    // Explicit, so that detection also works when it runs before the
    // runtime's own constructors; the answers include the operating
    // system's support for the AVX register state.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse2"))
        flags |= CPU_FLAG_SSE2;
    if (__builtin_cpu_supports("avx2"))
        flags |= CPU_FLAG_AVX2;
#endif
    return flags;
}

static std::atomic<unsigned> allowed_mask{~0u};

unsigned cpu_detected_flags()
{
    static const unsigned detected = detect_cpu_flags();
    return detected;
}

unsigned cpu_flags()
{
    return cpu_detected_flags() & allowed_mask.load(std::memory_order_relaxed);
}

void cpu_set_mask(unsigned mask)
{
    allowed_mask.store(mask, std::memory_order_relaxed);
}

// "512K", "1M", "1048576": bytes; 0 for anything else.
static size_t parse_size(const char* text)
{
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text)
        return 0;
    if (*end == 'K' || *end == 'k')
        return static_cast<size_t>(value << 10);
    if (*end == 'M' || *end == 'm')
        return static_cast<size_t>(value << 20);
    return *end == '\0' ? static_cast<size_t>(value) : 0;
}

static size_t detect_l2_cache_bytes()
{
    const char* forced = std::getenv("NOREL_L2_CACHE_SIZE");
    if (forced != nullptr && *forced != '\0')
        return parse_size(forced);
#if defined(_SC_LEVEL2_CACHE_SIZE)
    // Per core, where lscpu adds the cores' caches together.
    const long bytes = sysconf(_SC_LEVEL2_CACHE_SIZE);
    if (bytes > 0)
        return static_cast<size_t>(bytes);
#endif
#if NOREL_X86
    // Both vendors report the core's L2 in KiB in ECX bits 31..16 of this leaf.
    unsigned eax, ebx, ecx, edx;
    if (__get_cpuid(0x80000000u, &eax, &ebx, &ecx, &edx) && eax >= 0x80000006u &&
        __get_cpuid(0x80000006u, &eax, &ebx, &ecx, &edx))
        return static_cast<size_t>(ecx >> 16) << 10;
#endif
    return 0;
}

size_t cpu_l2_cache_bytes()
{
    static const size_t bytes = detect_l2_cache_bytes();
    return bytes;
}
