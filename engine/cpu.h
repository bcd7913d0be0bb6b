// Processor features and run-time selection of kernel variants.
//
// A kernel is one inner loop with a plain C++ reference and optional packed
// variants that need processor features. Each kernel keeps a small table of
// its variants; a state chooses the best of every kernel it runs once, when
// it is first used, into a record of function pointers, and the stages call
// through that record. Adding a kernel:
//   1. write foo_c and the variants (engine/x86/foo_sse2.cpp, ...), their
//      prototypes in engine/x86/foo.h;
//   2. next to foo_c, define the table {"c", 0, foo_c}, {"sse2",
//      CPU_FLAG_SSE2, foo_sse2}, ... (reference first, best last) and
//      DispatchedKernel<FooFn> foo_kernel = {table, std::size(table)};
//   3. add a pointer to the record of the state that runs it (EffectKernels
//      in engine/effect_kernels.h, or a converter's own), filled with
//      best_variant(foo_kernel), and call it from there.
// Tests and benchmarks walk kernel.variants and skip those !cpu_can_run;
// they hold dispatch to a subset with cpu_set_mask before they make a state.
#pragma once

#include <cstddef>

// Features a variant may need. The 32-bit plug-in is built for SSE2 as a
// whole, but its packed variants still name what they use.
enum : unsigned {
    CPU_FLAG_SSE2 = 1u << 0,
    CPU_FLAG_AVX2 = 1u << 1,
};

// What this processor (and its operating system) supports, detected once.
unsigned cpu_detected_flags();

// The features dispatch may use: the detected ones within the mask.
unsigned cpu_flags();

// Lets tests, benchmarks and fuzzers hold dispatch to a subset of the
// features (0: references only; ~0u: everything detected). States made
// afterwards choose their kernels within it.
void cpu_set_mask(unsigned mask);

// True when every feature in `required` may be used.
inline bool cpu_can_run(unsigned required)
{
    return (required & ~cpu_flags()) == 0;
}

template <typename Fn>
struct KernelVariant {
    const char* name;         // "c", "sse2", "avx2", ...
    unsigned required_flags;  // CPU_FLAG_* the variant needs
    Fn* fn;
};

// A kernel's variants, the reference first, then by preference.
template <typename Fn>
struct DispatchedKernel {
    const KernelVariant<Fn>* variants;
    size_t variant_count;
};

// The last variant of the table that the allowed features can run: what a
// state's record of kernels is filled with.
template <typename Fn>
Fn* best_variant(const DispatchedKernel<Fn>& kernel)
{
    Fn* best = kernel.variants[0].fn;
    for (size_t i = 1; i < kernel.variant_count; ++i) {
        if (cpu_can_run(kernel.variants[i].required_flags))
            best = kernel.variants[i].fn;
    }
    return best;
}

// The second-level cache of one core in bytes, read once: the environment's
// NOREL_L2_CACHE_SIZE (bytes, or with a K or M suffix) where it is set, so
// that a benchmark can show another machine's walk; else what the system or
// the processor reports; 0 where nothing does.
size_t cpu_l2_cache_bytes();
