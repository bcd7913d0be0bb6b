// Drives the plug-in the way a careless or hostile host could: through
// GetFilterTable and func_proc, with any frame geometry, any track and check
// values, any frame numbers, any answers from the host's services and any
// pixels. Every buffer the plug-in is handed is a heap block of exactly its
// size, so AddressSanitizer reports the first access outside it.
//
// Besides crashes and undefined behaviour, every input checks that
//  - the frames do not depend on the processor's packed variants (or on what
//    ycp_temp held before): the scenario runs twice, once with the scalar
//    code only and another ycp_temp filling, and both runs must agree;
//  - nothing outside the processing rectangle changes except the rows the
//    "60FPS" weave replaces (ycp_temp is scratch and may change anywhere);
//  - a frame reported as failed comes back untouched, and every other frame
//    is reported good;
//  - the host's frames, track and check arrays are only read, and frames
//    the services lent are not used after the call (they are freed then);
//  - the cache of other frames is asked for only after the cache size has
//    been granted, and for frames of the picture's geometry.
//
// Input layout: up to four calls to func_proc, each described by
//   a shape: w (0..40) and h (0..40), or w (300..1100) and h (0..12), or
//     w (0..4) and h (40..700); then max_w - w (0..8),
//   7 track values, 7 check values, frame, frame_n, one byte of host answers,
// after which pixels for every frame are read from the remaining bytes (two
// per component) and, once those run out, from a generator seeded by the
// input. The plug-in's process-wide caches start empty for every input.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/byte_reader.h"
#include "engine/composite_chroma.h"
#include "engine/cpu.h"
#include "hosts/aviutl/descriptor.h"
#include "hosts/aviutl/driver.h"

namespace {

[[noreturn]] void fail(const char* what, int call)
{
    std::fprintf(stderr, "filter_proc fuzz, call %d: %s\n", call, what);
    std::abort();
}

// A heap block of exactly count elements; a zero count still gets its own
// address (malloc(0)), which any access overruns.
template <typename T>
T* exact_block(size_t count)
{
    void* block = std::malloc(count * sizeof(T));
    if (block == nullptr && count == 0)
        block = std::malloc(1);
    if (block == nullptr)
        std::abort();
    return static_cast<T*>(block);
}

template <typename T>
T* exact_copy(const std::vector<T>& values)
{
    T* block = exact_block<T>(values.size());
    if (!values.empty())
        std::memcpy(block, values.data(), values.size() * sizeof(T));
    return block;
}

bool same(const PIXEL_YC& a, const PIXEL_YC& b)
{
    return a.y == b.y && a.cb == b.cb && a.cr == b.cr;
}

// Pixels for the frames of a scenario: the input's leftover bytes first,
// then a generator that favours the 16-bit limits and the nominal range's
// edges, where the saturating and wrapping arithmetic is decided.
class PixelSource {
public:
    PixelSource(ByteReader& reader, uint64_t seed) : reader_(reader), state_(seed | 1) {}

    int16_t component()
    {
        if (!reader_.exhausted())
            return static_cast<int16_t>(reader_.u16());
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        static const int16_t edges[] = {-32768, -32767, -16385, -4096, -2048, -1, 0, 1,
                                        2048, 4096, 16386, 32766, 32767};
        const uint32_t r = static_cast<uint32_t>(state_ >> 32);
        if ((r & 3) == 0)
            return edges[(r >> 2) % (sizeof(edges) / sizeof(edges[0]))];
        return static_cast<int16_t>(r >> 16);
    }

    std::vector<PIXEL_YC> frame(size_t pixels)
    {
        std::vector<PIXEL_YC> out(pixels);
        for (PIXEL_YC& p : out) {
            p.y = component();
            p.cb = component();
            p.cr = component();
        }
        return out;
    }

private:
    ByteReader& reader_;
    uint64_t state_;
};

// One func_proc call and everything the host will answer during it.
struct Call {
    int w = 0, h = 0, max_w = 0;
    std::vector<int> track, check;
    int frame = 0, frame_n = 0;
    bool saving = false;            // is_saving
    bool cache_size_granted = false;  // set_ycp_filtering_cache_size
    bool partner_supplied = false;  // get_ycp_filtering_cache_ex: a frame or null
    bool source_supplied = false;   // get_ycp_source_cache: a frame or null
    bool tables_unobtainable = false;  // the subcarrier tables' allocation fails
    std::vector<PIXEL_YC> edit, partner, source;

    size_t pixels() const { return static_cast<size_t>(max_w) * static_cast<size_t>(h); }
};

std::vector<Call> read_scenario(const uint8_t* data, size_t size)
{
    ByteReader in(data, size);
    std::vector<Call> calls(1 + in.below(4));
    for (Call& c : calls) {
        // Mostly small pictures; now and then one wide enough for the
        // low-pass filter to split its rows into strips, or a tall, narrow one.
        const uint8_t shape = in.byte();
        if (shape < 0xE0) {
            c.w = in.below(41);
            c.h = in.below(41);
        } else if (shape < 0xF0) {
            c.w = 300 + in.u16() % 801;
            c.h = in.below(13);
        } else {
            c.w = in.below(5);
            c.h = 40 + in.u16() % 661;
        }
        c.max_w = c.w + in.below(9);
        for (int i = 0; i < TRACK_COUNT; ++i)
            c.track.push_back(in.interesting_int());
        // Mostly 0 and 1, as the host stores them, sometimes any non-zero value.
        for (int i = 0; i < CHECK_COUNT; ++i) {
            const uint8_t b = in.byte();
            c.check.push_back(b < 0xC0 ? (b & 1) : in.interesting_int());
        }
        c.frame = in.interesting_int();
        c.frame_n = in.interesting_int();
        const uint8_t answers = in.byte();
        c.saving = answers & 1;
        c.cache_size_granted = !(answers & 2);
        c.partner_supplied = !(answers & 4);
        c.source_supplied = !(answers & 8);
        c.tables_unobtainable = answers & 16;
    }
    PixelSource pixels(in, 0x9E3779B97F4A7C15ull ^ size);
    for (Call& c : calls) {
        c.edit = pixels.frame(c.pixels());
        c.partner = pixels.frame(c.pixels());
        c.source = pixels.frame(c.pixels());
    }
    return calls;
}

// The host side of one call: the services answer from `call` and lend
// exact-size copies of its frames, which are compared and freed afterwards.
struct HostSide {
    const Call* call = nullptr;
    int index = 0;
    FILTER* filter = nullptr;
    bool cache_size_granted = false;
    struct Lent {
        PIXEL_YC* copy;
        const std::vector<PIXEL_YC>* original;
    };
    std::vector<Lent> lent;

    PIXEL_YC* lend(const std::vector<PIXEL_YC>& frame)
    {
        lent.push_back({exact_copy(frame), &frame});
        return lent.back().copy;
    }

    // After the call: every lent frame must be as it was; then it is gone.
    void take_back()
    {
        for (const Lent& l : lent) {
            if (!l.original->empty() &&
                std::memcmp(l.copy, l.original->data(), l.original->size() * sizeof(PIXEL_YC)) != 0)
                fail("the plug-in wrote into a frame the host lent it", index);
            std::free(l.copy);
        }
        lent.clear();
    }
};

HostSide* host = nullptr;

HostSide& host_for(void* editp)
{
    if (editp != host)
        fail("a service was called with an edit handle that is not the host's", host->index);
    return *host;
}

BOOL is_saving(void* editp)
{
    return host_for(editp).call->saving;
}

BOOL set_ycp_filtering_cache_size(FILTER* fp, int w, int h, int, int)
{
    // The host keeps frames of the requested size; anything smaller than the
    // picture would be read past its end.
    if (fp != host->filter || w != host->call->max_w || h != host->call->h)
        fail("the cache size asked for is not the picture's", host->index);
    host->cache_size_granted = host->call->cache_size_granted;
    return host->cache_size_granted;
}

void* get_ycp_source_cache(void* editp, int, int)
{
    HostSide& side = host_for(editp);
    return side.call->source_supplied ? side.lend(side.call->source) : nullptr;
}

PIXEL_YC* get_ycp_filtering_cache_ex(FILTER* fp, void* editp, int, int*, int*)
{
    HostSide& side = host_for(editp);
    if (fp != side.filter || !side.cache_size_granted)
        fail("a filtering cache frame was asked for before its size was granted", side.index);
    return side.call->partner_supplied ? side.lend(side.call->partner) : nullptr;
}

void* refuse_allocation(size_t)
{
    return nullptr;
}

int clamp_edge(long long value, int limit)
{
    return static_cast<int>(value < 0 ? 0 : value > limit ? limit : value);
}

// Checks the frame the plug-in left in ycp_edit against what it was before.
void check_result(const Call& c, int index, BOOL result, const PIXEL_YC* edit)
{
    const int* track = c.track.data();
    const int* check = c.check.data();
    const bool preview_range = check[CHECK_SHOW_RANGE] && !c.saving;
    const bool weave = !preview_range && !check[CHECK_COMPOSE] && check[CHECK_60FPS];
    const bool weave_fails = weave && (!c.cache_size_granted || !c.partner_supplied);

    if (result != (weave_fails ? FALSE : TRUE))
        fail(weave_fails ? "a frame whose partner was refused was reported good"
                         : "a good frame was reported failed",
             index);
    if (weave_fails) {
        if (!c.edit.empty() && std::memcmp(edit, c.edit.data(), c.pixels() * sizeof(PIXEL_YC)) != 0)
            fail("a frame reported failed was changed", index);
        return;
    }

    // The rectangle of the track values, cut to the picture.
    const int top = clamp_edge(track[TRACK_TOP], c.h);
    const int left = clamp_edge(track[TRACK_LEFT], c.w);
    const int bottom = clamp_edge(static_cast<long long>(top) + track[TRACK_HEIGHT], c.h);
    const int right = clamp_edge(static_cast<long long>(left) + track[TRACK_WIDTH], c.w);

    // The weave replaces the moved field's rows of every complete row pair,
    // across the whole row; the current frame keeps parity
    // (NOT "TFF" XOR frame) AND 1.
    const int top_field_first = check[CHECK_TFF] != 0;
    const int kept_parity = (~top_field_first ^ c.frame) & 1;
    for (int r = 0; r < c.h; ++r) {
        const bool woven = weave && (r & 1) != kept_parity && (r | 1) < c.h;
        const std::vector<PIXEL_YC>& expected = woven ? c.partner : c.edit;
        for (int x = 0; x < c.max_w; ++x) {
            if (r >= top && r < bottom && x >= left && x < right)
                continue;
            const size_t i = static_cast<size_t>(r) * c.max_w + x;
            if (!same(edit[i], expected[i]))
                fail(woven ? "a woven row outside the rectangle does not hold the partner's pixels"
                           : "a pixel outside the rectangle changed",
                     index);
        }
    }
}

// Runs the whole scenario from freshly loaded plug-in state, checking every
// call; returns the frame each call left in ycp_edit and appends its return
// value to `results`.
std::vector<std::vector<PIXEL_YC>> run(const std::vector<Call>& calls, bool scalar_only,
                                       uint8_t temp_filling, std::vector<BOOL>& results)
{
    FILTER_DLL* filter = GetFilterTable();
    // As after loading the DLL: no subcarrier tables and no shift kernel.
    filter->func_exit(filter);
    editor_effect_state = EffectState{};
    // 0 holds every kernel to its plain reference.
    cpu_set_mask(scalar_only ? 0u : ~0u);

    EXFUNC exfunc{};
    exfunc.is_saving = is_saving;
    exfunc.set_ycp_filtering_cache_size = set_ycp_filtering_cache_size;
    exfunc.get_ycp_source_cache = get_ycp_source_cache;
    exfunc.get_ycp_filtering_cache_ex = get_ycp_filtering_cache_ex;

    std::vector<std::vector<PIXEL_YC>> frames;
    for (size_t index = 0; index < calls.size(); ++index) {
        const Call& c = calls[index];
        int* track = exact_copy(c.track);
        int* check = exact_copy(c.check);
        PIXEL_YC* edit = exact_copy(c.edit);
        PIXEL_YC* temp = exact_block<PIXEL_YC>(c.pixels());
        std::memset(temp, temp_filling, c.pixels() * sizeof(PIXEL_YC));

        HostSide side;
        side.call = &c;
        side.index = static_cast<int>(index);
        side.filter = filter;
        host = &side;

        filter->track = track;
        filter->check = check;
        filter->exfunc = &exfunc;
        FILTER_PROC_INFO info{};
        info.ycp_edit = edit;
        info.ycp_temp = temp;
        info.w = c.w;
        info.h = c.h;
        info.max_w = c.max_w;
        info.max_h = c.h;
        info.frame = c.frame;
        info.frame_n = c.frame_n;
        info.org_w = c.w;
        info.org_h = c.h;
        info.editp = &side;
        info.yc_size = static_cast<int>(sizeof(PIXEL_YC));
        info.line_size = c.max_w * static_cast<int>(sizeof(PIXEL_YC));

        subcarrier_table_alloc = c.tables_unobtainable ? refuse_allocation : std::malloc;
        const BOOL result = filter->func_proc(filter, &info);
        subcarrier_table_alloc = std::malloc;

        side.take_back();
        host = nullptr;
        if (std::memcmp(track, c.track.data(), c.track.size() * sizeof(int)) != 0 ||
            std::memcmp(check, c.check.data(), c.check.size() * sizeof(int)) != 0)
            fail("the plug-in wrote into the host's track or check values", side.index);
        check_result(c, side.index, result, edit);

        frames.emplace_back(edit, edit + c.pixels());
        results.push_back(result);
        std::free(track);
        std::free(check);
        std::free(edit);
        std::free(temp);
    }
    // As at unload.
    filter->func_exit(filter);
    cpu_set_mask(~0u);
    return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<Call> calls = read_scenario(data, size);
    std::vector<BOOL> packed_results, scalar_results;
    const auto packed = run(calls, false, 0xA5, packed_results);
    const auto scalar = run(calls, true, 0x3C, scalar_results);
    for (size_t i = 0; i < calls.size(); ++i) {
        if (packed_results[i] != scalar_results[i] || packed[i].size() != scalar[i].size())
            fail("the packed and the scalar run disagree on the result", static_cast<int>(i));
        for (size_t p = 0; p < packed[i].size(); ++p)
            if (!same(packed[i][p], scalar[i][p]))
                fail("the packed and the scalar run (with other ycp_temp contents) give "
                     "different frames",
                     static_cast<int>(i));
    }
    return 0;
}
