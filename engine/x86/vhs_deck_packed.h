// The deck's row kernels over 16-bit lanes, written once for SSE2 and AVX2
// (see vector_ops.h for why everything here has internal linkage). Each
// returns false for a row shorter than one vector; the caller then runs
// the reference.
#pragma once

#include "engine/vhs_deck.h"
#include "engine/x86/composite_decoder_packed.h"
#include "engine/x86/vector_ops.h"

#include <cstring>

namespace {

// Runs step at every whole vector of a row, and where the row does not
// end on one, once more at its last vector's columns (their values come
// again from the same input).
template <typename Ops, typename Step>
void each_vector(int count, Step step)
{
    int x = 0;
    for (; x + Ops::lanes <= count; x += Ops::lanes)
        step(x);
    if (x < count)
        step(count - Ops::lanes);
}

// 32-bit lanes: what the hash needs beyond vector_ops.h.
inline __m128i mullo_u32(__m128i a, __m128i b)
{
    const __m128i even = _mm_mul_epu32(a, b);
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
    return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, 0x08), _mm_shuffle_epi32(odd, 0x08));
}
inline __m128i srli_u32(__m128i a, int bits) { return _mm_srli_epi32(a, bits); }
inline __m128i sub_i32(__m128i a, __m128i b) { return _mm_sub_epi32(a, b); }
inline __m128i min_i16(__m128i a, __m128i b) { return _mm_min_epi16(a, b); }
// Packs whose results are in 16-bit range, back in lane order.
inline __m128i in_order(__m128i packed) { return packed; }
// The values of lo, then of hi, as unpacking two vectors gives them, to p in row order.
inline void store_unpacked(int16_t* p, __m128i lo, __m128i hi)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 8), hi);
}
#ifdef __AVX2__
inline __m256i mullo_u32(__m256i a, __m256i b) { return _mm256_mullo_epi32(a, b); }
inline __m256i srli_u32(__m256i a, int bits) { return _mm256_srli_epi32(a, bits); }
inline __m256i sub_i32(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }
inline __m256i min_i16(__m256i a, __m256i b) { return _mm256_min_epi16(a, b); }
inline __m256i in_order(__m256i packed) { return _mm256_permute4x64_epi64(packed, 0xD8); }
inline void store_unpacked(int16_t* p, __m256i lo, __m256i hi)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 16), _mm256_permute2x128_si256(lo, hi, 0x31));
}
#endif

template <typename Ops>
typename Ops::V hash_lanes(typename Ops::V x)
{
    x = Ops::bit_xor(x, srli_u32(x, 16));
    x = mullo_u32(x, Ops::set1_i32(0x7feb352d));
    x = Ops::bit_xor(x, srli_u32(x, 15));
    x = mullo_u32(x, Ops::set1_i32(static_cast<int32_t>(0x846ca68bu)));
    return Ops::bit_xor(x, srli_u32(x, 16));
}

// The low 16 bits of each 32-bit lane, sign-extended, so that packing keeps them.
template <typename Ops>
typename Ops::V low16(typename Ops::V x)
{
    return Ops::srai_i32(Ops::slli_i32(x, 16), 16);
}

template <typename Ops>
bool noise_row_packed(int16_t* luma, int16_t* u, int16_t* v, uint32_t key, int32_t first, int count)
{
    using V = typename Ops::V;
    constexpr int half = Ops::lanes / 2;  // 32-bit lanes a vector
    if (count < Ops::lanes)
        return false;
    alignas(32) int32_t steps[half];
    for (int i = 0; i < half; ++i)
        steps[i] = static_cast<int32_t>(static_cast<uint32_t>(i) * 0x9E3779B9u);
    V offsets;
    std::memcpy(&offsets, steps, sizeof(offsets));
    const V mask = Ops::set1_i32(0xff00);
    auto step = [&](int x) {
        const uint32_t base = key + static_cast<uint32_t>(first + x) * 0x9E3779B9u;
        const uint32_t next = key + static_cast<uint32_t>(first + x + half) * 0x9E3779B9u;
        const V a = hash_lanes<Ops>(Ops::add_i32(Ops::set1_i32(static_cast<int32_t>(base)), offsets));
        const V b = hash_lanes<Ops>(Ops::add_i32(Ops::set1_i32(static_cast<int32_t>(next)), offsets));
        Ops::store(luma + x, in_order(Ops::packs_i32(low16<Ops>(a), low16<Ops>(b))));
        Ops::store(u + x, in_order(Ops::packs_i32(low16<Ops>(Ops::bit_and(srli_u32(a, 8), mask)),
                                                  low16<Ops>(Ops::bit_and(srli_u32(b, 8), mask)))));
        Ops::store(v + x, in_order(Ops::packs_i32(low16<Ops>(Ops::bit_and(srli_u32(a, 16), mask)),
                                                  low16<Ops>(Ops::bit_and(srli_u32(b, 16), mask)))));
    };
    each_vector<Ops>(count, step);
    return true;
}

// sum over pairs of (a[x] wa + b[x] wb) as 32-bit lanes of the low and high halves.
template <typename Ops>
void madd_pair(typename Ops::V& lo, typename Ops::V& hi, typename Ops::V a, typename Ops::V b,
               typename Ops::V weights)
{
    lo = Ops::add_i32(lo, Ops::madd_i16(Ops::unpacklo_i16(a, b), weights));
    hi = Ops::add_i32(hi, Ops::madd_i16(Ops::unpackhi_i16(a, b), weights));
}

template <typename Ops>
bool fir_row_any_packed(int16_t* out, const int16_t* in, const int16_t* taps, int reach, int count)
{
    using V = typename Ops::V;
    if (count < Ops::lanes)
        return false;
    const int taps_n = 2 * reach + 1;
    V pairs[vhs_most_reach + 1];
    for (int k = 0; k < taps_n; k += 2)
        pairs[k / 2] = weight_pair<Ops>(taps[k], k + 1 < taps_n ? taps[k + 1] : 0);
    // The even outputs' sums in the 32-bit lanes of rows read from even
    // offsets, the odd outputs' from odd ones: no unpacking per tap.
    auto step = [&](int x) {
        V even = Ops::set1_i32(8192), odd = even;
        const int16_t* p = in + x - reach;
        for (int k = 0; k < taps_n; k += 2) {
            even = Ops::add_i32(even, Ops::madd_i16(Ops::load(p + k), pairs[k / 2]));
            odd = Ops::add_i32(odd, Ops::madd_i16(Ops::load(p + k + 1), pairs[k / 2]));
        }
        const V e = Ops::srai_i32(even, 14), o = Ops::srai_i32(odd, 14);
        Ops::store(out + x, Ops::unpacklo_i16(Ops::packs_i32(e, e), Ops::packs_i32(o, o)));
    };
    each_vector<Ops>(count, step);
    return true;
}

// The symmetric taps folded: each pair of values the same distance from
// x summed (saturated) before the multiply, the centre paired with the
// first sum.
template <typename Ops>
bool symmetric_fir_row_packed(int16_t* out, const int16_t* in, const int16_t* taps, int reach,
                              int count)
{
    using V = typename Ops::V;
    if (count < Ops::lanes)
        return false;
    const int16_t* centre = taps + reach;
    const int terms = reach + 1;
    V pairs[vhs_most_reach / 2 + 1];
    for (int k = 0; k < terms; k += 2)
        pairs[k / 2] = weight_pair<Ops>(centre[k], k + 1 < terms ? centre[k + 1] : 0);
    auto folded = [](const int16_t* p, int k) { return Ops::adds_i16(Ops::load(p - k), Ops::load(p + k)); };
    auto step = [&](int x) {
        V lo = Ops::set1_i32(8192), hi = lo;
        const int16_t* p = in + x;
        madd_pair<Ops>(lo, hi, Ops::load(p), folded(p, 1), pairs[0]);
        int k = 2;
        for (; k + 1 <= reach; k += 2)
            madd_pair<Ops>(lo, hi, folded(p, k), folded(p, k + 1), pairs[k / 2]);
        if (k == reach)
            madd_pair<Ops>(lo, hi, folded(p, k), Ops::set1_i16(0), pairs[k / 2]);
        Ops::store(out + x, Ops::packs_i32(Ops::srai_i32(lo, 14), Ops::srai_i32(hi, 14)));
    };
    each_vector<Ops>(count, step);
    return true;
}

template <typename Ops>
bool add_noise_row_packed(int16_t* y, const int16_t* w, int count, int32_t gain, int32_t rise)
{
    using V = typename Ops::V;
    if (count < Ops::lanes)
        return false;
    const V weights = weight_pair<Ops>(gain + rise, -rise);
    const V round = Ops::set1_i32(16384);
    // The sum in 32 bits: the noise alone may exceed 16 bits.
    auto noisy = [&](int x) {
        V lo = round, hi = round;
        madd_pair<Ops>(lo, hi, Ops::load(w + x), Ops::load(w + x - 1), weights);
        const V yy = Ops::load(y + x);
        lo = Ops::add_i32(Ops::srai_i32(lo, 15), Ops::srai_i32(Ops::unpacklo_i16(yy, yy), 16));
        hi = Ops::add_i32(Ops::srai_i32(hi, 15), Ops::srai_i32(Ops::unpackhi_i16(yy, yy), 16));
        return Ops::packs_i32(lo, hi);
    };
    auto step = [&](int x) { Ops::store(y + x, noisy(x)); };
    // In place: each vector is read before it is written, so the last,
    // overlapping one is taken from the values as they were.
    if (count % Ops::lanes != 0) {
        alignas(32) int16_t tail[Ops::lanes];
        const int last = count - Ops::lanes;
        Ops::store(tail, noisy(last));
        int x = 0;
        for (; x + Ops::lanes <= count; x += Ops::lanes)
            step(x);
        std::memcpy(y + last, tail, sizeof(tail));
        return true;
    }
    for (int x = 0; x < count; x += Ops::lanes)
        step(x);
    return true;
}

template <typename Ops>
bool shift_row_packed(int16_t* out, const int16_t* in, int count, int32_t fraction)
{
    using V = typename Ops::V;
    if (count < Ops::lanes)
        return false;
    const V weights = weight_pair<Ops>(256 - fraction, fraction);
    auto step = [&](int x) {
        V lo = Ops::set1_i32(128), hi = lo;
        madd_pair<Ops>(lo, hi, Ops::load(in + x), Ops::load(in + x + 1), weights);
        Ops::store(out + x, Ops::packs_i32(Ops::srai_i32(lo, 8), Ops::srai_i32(hi, 8)));
    };
    each_vector<Ops>(count, step);
    return true;
}

template <typename Ops>
bool assemble_row_any_packed(int16_t* out, const int16_t* y, const int16_t* u, const int16_t* v,
                             const int16_t* cos_weights, const int16_t* sin_weights,
                             const int16_t matrix[4], int count)
{
    using V = typename Ops::V;
    if (count < Ops::lanes)
        return false;
    const V to_a = weight_pair<Ops>(matrix[0], matrix[1]);
    const V to_b = weight_pair<Ops>(matrix[2], matrix[3]);
    auto step = [&](int16_t* dst, int x) {
        const V uu = Ops::load(u + x), vv = Ops::load(v + x);
        V a_lo = Ops::set1_i32(8192), a_hi = a_lo, b_lo = a_lo, b_hi = a_lo;
        madd_pair<Ops>(a_lo, a_hi, uu, vv, to_a);
        madd_pair<Ops>(b_lo, b_hi, uu, vv, to_b);
        const V a = Ops::packs_i32(Ops::srai_i32(a_lo, 14), Ops::srai_i32(a_hi, 14));
        const V b = Ops::packs_i32(Ops::srai_i32(b_lo, 14), Ops::srai_i32(b_hi, 14));
        const V c = Ops::load(cos_weights + x), s = Ops::load(sin_weights + x);
        const V round = Ops::set1_i32(1024);
        const V c_lo = Ops::srai_i32(
            Ops::add_i32(Ops::madd_i16(Ops::unpacklo_i16(a, b), Ops::unpacklo_i16(c, s)), round), 11);
        const V c_hi = Ops::srai_i32(
            Ops::add_i32(Ops::madd_i16(Ops::unpackhi_i16(a, b), Ops::unpackhi_i16(c, s)), round), 11);
        const V yy = Ops::load(y + x);
        const V y_lo = Ops::srai_i32(Ops::unpacklo_i16(yy, yy), 16);
        const V y_hi = Ops::srai_i32(Ops::unpackhi_i16(yy, yy), 16);
        Ops::store(dst, Ops::packs_i32(Ops::add_i32(y_lo, c_lo), Ops::add_i32(y_hi, c_hi)));
    };
    // out may be y: the overlapping last vector is computed before any store.
    const int last = count - Ops::lanes;
    alignas(32) int16_t tail[Ops::lanes];
    step(tail, last);
    for (int x = 0; x + Ops::lanes <= count; x += Ops::lanes)
        step(out + x, x);
    std::memcpy(out + last, tail, sizeof(tail));
    return true;
}

// Both halvings of the rate: every output is a function of the input alone,
// so the last, overlapping vector is simply done again.
template <typename Ops>
bool decimate_row_packed(int16_t* out, const int16_t* in, int count)
{
    using V = typename Ops::V;
    if (count < Ops::lanes)
        return false;
    const V before = weight_pair<Ops>(1, 4), centre = weight_pair<Ops>(6, 4), after = weight_pair<Ops>(1, 0);
    const V round = Ops::set1_i32(8);
    // 32-bit lanes of (in[2j - 2], in[2j - 1]), (in[2j], in[2j + 1]) and (in[2j + 2], in[2j + 3]).
    auto half = [&](const int16_t* p) {
        V sum = Ops::add_i32(Ops::madd_i16(Ops::load(p - 2), before), Ops::madd_i16(Ops::load(p), centre));
        sum = Ops::add_i32(sum, Ops::madd_i16(Ops::load(p + 2), after));
        return Ops::srai_i32(Ops::add_i32(sum, round), 4);
    };
    auto step = [&](int j) {
        const int16_t* p = in + 2 * j;
        Ops::store(out + j, in_order(Ops::packs_i32(half(p), half(p + Ops::lanes))));
    };
    each_vector<Ops>(count, step);
    return true;
}

template <typename Ops>
bool interpolate_row_packed(int16_t* out, const int16_t* in, int count)
{
    using V = typename Ops::V;
    if (count < Ops::lanes)
        return false;
    // The rounded mean of signed values: the unsigned one of the values with
    // their sign bits flipped, flipped back.
    const V sign = Ops::set1_i16(static_cast<short>(0x8000));
    auto step = [&](int j) {
        const V a = Ops::load(in + j);
        const V mean = Ops::bit_xor(
            Ops::avg_u16(Ops::bit_xor(a, sign), Ops::bit_xor(Ops::load(in + j + 1), sign)), sign);
        store_unpacked(out + 2 * j, Ops::unpacklo_i16(a, mean), Ops::unpackhi_i16(a, mean));
    };
    each_vector<Ops>(count, step);
    return true;
}

template <typename Ops>
bool clip_row_packed(int32_t* least, int16_t* r, const int16_t* y, const int16_t* low, int32_t boost,
                     int32_t clip, int count)
{
    using V = typename Ops::V;
    if (count < Ops::lanes)
        return false;
    const V weights = weight_pair<Ops>(4096 + boost, -boost);
    const V round = Ops::set1_i32(2048), level = Ops::set1_i32(clip), zero = Ops::set1_i32(0);
    V smallest = zero;
    auto step = [&](int x) {
        V lo = round, hi = round;
        madd_pair<Ops>(lo, hi, Ops::load(y + x), Ops::load(low + x), weights);
        lo = sub_i32(level, Ops::srai_i32(lo, 12));
        hi = sub_i32(level, Ops::srai_i32(hi, 12));
        const V taken = min_i16(Ops::packs_i32(lo, hi), zero);
        smallest = min_i16(smallest, taken);
        Ops::store(r + x, taken);
    };
    each_vector<Ops>(count, step);
    alignas(32) int16_t lanes[Ops::lanes];
    Ops::store(lanes, smallest);
    int32_t found = 0;
    for (int16_t value : lanes)
        found = value < found ? value : found;
    *least = found;
    return true;
}

template <typename Ops>
bool mix_row_packed(int16_t* y, const int16_t* r, const int16_t* l, int32_t a, int32_t b, int count)
{
    using V = typename Ops::V;
    if (count < Ops::lanes)
        return false;
    const V weights = weight_pair<Ops>(a, b);
    const V round = Ops::set1_i32(8192);
    auto mixed = [&](int x) {
        V lo = round, hi = round;
        madd_pair<Ops>(lo, hi, Ops::load(r + x), Ops::load(l + x), weights);
        const V yy = Ops::load(y + x);
        lo = Ops::add_i32(Ops::srai_i32(lo, 14), Ops::srai_i32(Ops::unpacklo_i16(yy, yy), 16));
        hi = Ops::add_i32(Ops::srai_i32(hi, 14), Ops::srai_i32(Ops::unpackhi_i16(yy, yy), 16));
        return Ops::packs_i32(lo, hi);
    };
    // In place: the last, overlapping vector is taken from y as it was.
    const int last = count - Ops::lanes;
    alignas(32) int16_t tail[Ops::lanes];
    Ops::store(tail, mixed(last));
    for (int x = 0; x + Ops::lanes <= count; x += Ops::lanes)
        Ops::store(y + x, mixed(x));
    std::memcpy(y + last, tail, sizeof(tail));
    return true;
}

// The row's y put into the pixels' places of y, in the decoder's layout of
// interleaved blocks (Ops: its DecoderOps); cb and cr are loaded and kept.
template <typename Ops>
bool store_luma_row_packed(PIXEL_YC* pixels, const int16_t* y, int count)
{
    using V = typename Ops::V;
    if (count < Ops::lanes)
        return false;
    struct Block {
        V k[3];
    };
    int16_t lanes_of_y[3 * Ops::lanes];
    for (int k = 0; k < 3; ++k) {
        for (int j = 0; j < Ops::lanes; ++j)
            lanes_of_y[k * Ops::lanes + j] = (8 * k + j % 8) % 3 == 0 ? -1 : 0;
    }
    const V keep[3] = {Ops::load(lanes_of_y), Ops::load(lanes_of_y + Ops::lanes),
                       Ops::load(lanes_of_y + 2 * Ops::lanes)};
    const V zero = Ops::set1_i16(0);
    walk_row<Ops>(
        count,
        [&](int x) {
            Block block;  // y in its places, zero in the others
            interleave_pixels<Ops>(block.k, Components<Ops>{Ops::load(y + x), zero, zero});
            const int16_t* own = reinterpret_cast<const int16_t*>(pixels + x);
            for (int k = 0; k < 3; ++k)
                block.k[k] = Ops::bit_or(block.k[k], Ops::and_not(keep[k], Ops::load_block(own, 8 * k)));
            return block;
        },
        [&](int x, const Block& block) { Ops::store_block(reinterpret_cast<int16_t*>(pixels + x), block.k); });
    return true;
}

}  // namespace
