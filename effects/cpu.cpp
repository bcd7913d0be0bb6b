#include "effects/cpu.h"

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
