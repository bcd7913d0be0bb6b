#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/host_services.h"
#include "engine/composite_chroma.h"
#include "hosts/aviutl/descriptor.h"
#include "hosts/aviutl/driver.h"

namespace {

// No table entry can take this value: every block the probe hands out is
// filled with it, so that an entry left unfilled shows.
constexpr int16_t unfilled = 0x5A5A;

// Watches the tables' allocator: counts and sizes the requests and fails the
// ones asked for.
struct AllocatorProbe {
    int calls = 0;
    unsigned failing_calls = 0;  // bit n set: request n (counted from 0) fails
    std::vector<size_t> sizes;
};

AllocatorProbe probe;

void* probing_alloc(size_t size)
{
    const int call = probe.calls++;
    probe.sizes.push_back(size);
    if (call < 32 && ((probe.failing_calls >> call) & 1u) != 0)
        return nullptr;
    void* block = std::malloc(size);
    if (block != nullptr)
        std::memset(block, 0x5A, size);
    return block;
}

struct Entries {
    std::vector<int16_t> cos_table, sin_table;
};

Entries computed_entries(int32_t freq, int32_t phase, int32_t w)
{
    Entries e{std::vector<int16_t>(w), std::vector<int16_t>(w)};
    compute_subcarrier_entries(e.cos_table.data(), e.sin_table.data(), freq, phase, w);
    return e;
}

// The first n entries of the editor's tables.
Entries table_entries(int n)
{
    const SubcarrierTables& t = editor_effect_state.subcarrier_tables;
    return {std::vector<int16_t>(t.cos_table, t.cos_table + n),
            std::vector<int16_t>(t.sin_table, t.sin_table + n)};
}

void expect_tables_hold(int32_t freq, int32_t phase, int32_t w)
{
    const Entries expected = computed_entries(freq, phase, w);
    const Entries actual = table_entries(w);
    EXPECT_EQ(actual.cos_table, expected.cos_table) << "freq " << freq << " phase " << phase;
    EXPECT_EQ(actual.sin_table, expected.sin_table) << "freq " << freq << " phase " << phase;
}

bool same(const PIXEL_YC& a, const PIXEL_YC& b)
{
    return a.y == b.y && a.cb == b.cb && a.cr == b.cr;
}

// Deterministic nominal-range pixels.
void fill_random(PIXEL_YC* frame, size_t pixels, uint32_t seed)
{
    uint32_t state = seed * 2654435761u + 1;
    auto next = [&state](int low, int high) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<short>(low + static_cast<int>(state % static_cast<uint32_t>(high - low + 1)));
    };
    for (size_t i = 0; i < pixels; ++i)
        frame[i] = {next(0, 4096), next(-2048, 2048), next(-2048, 2048)};
}

// The sign each row of a uniform column was encoded with, read off y: with
// y 2048, cb 512 and cr 0 at a column whose cos weight is 1788, the
// carrier term is +447 or -447.
std::string row_signs(const PIXEL_YC* frame, int pitch, int x, int top, int bottom)
{
    std::string signs;
    for (int r = top; r < bottom; ++r) {
        const int term = frame[r * pitch + x].y - 2048;
        signs += term == 447 ? '+' : term == -447 ? '-' : '?';
    }
    return signs;
}

constexpr PIXEL_YC carrier_probe = {2048, 512, 0};

// Every test starts with no tables, so that the first build allocates, and
// leaves none behind for the tests that follow.
struct CompositeChromaTest : ::testing::Test {
    void* (*saved_alloc)(size_t) = nullptr;

    void SetUp() override
    {
        release_subcarrier_tables(&editor_effect_state.subcarrier_tables);
        probe = AllocatorProbe{};
        saved_alloc = subcarrier_table_alloc;
        subcarrier_table_alloc = probing_alloc;
    }
    void TearDown() override
    {
        subcarrier_table_alloc = saved_alloc;
        release_subcarrier_tables(&editor_effect_state.subcarrier_tables);
    }
};

}  // namespace

// Table entries

TEST_F(CompositeChromaTest, EntriesMatchTheReferenceColumns)
{
    struct Reference {
        int32_t freq, phase;
        std::vector<int16_t> cos_table, sin_table;
    };
    const Reference references[] = {
        {704, 0, {1788, -170, -1755, 504, 1660, -819, -1504, 1105},
         {0, 2507, -477, -2417, 936, 2239, -1362, -1980}},
        {704, 90, {0, -1780, 338, 1715}, {2519, -239, -2473, 710}},
        {750, -180, {-1788, 362, 1641, -1027}, {0, -2466, 1000, 2061}},
        {600, 45, {1264, -1060, -1583, 584}, {1781, 2028, -1171, -2381}},
    };
    for (const Reference& r : references) {
        const int32_t w = static_cast<int32_t>(r.cos_table.size());
        ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, r.freq, r.phase, w, w));
        const Entries actual = table_entries(w);
        EXPECT_EQ(actual.cos_table, r.cos_table) << "freq " << r.freq << " phase " << r.phase;
        EXPECT_EQ(actual.sin_table, r.sin_table) << "freq " << r.freq << " phase " << r.phase;
    }
}

TEST_F(CompositeChromaTest, EntriesReachButNeverPassTheWeights)
{
    // At column 0 the angle is the phase alone, so the phases sweep a full
    // turn: the extremes are reached at 0, +-180, 90 and -90 degrees.
    int cos_low = 0, cos_high = 0, sin_low = 0, sin_high = 0;
    for (int32_t freq : {600, 704, 750}) {
        for (int32_t phase = -180; phase <= 180; ++phase) {
            const Entries e = computed_entries(freq, phase, 512);
            for (int x = 0; x < 512; ++x) {
                cos_low = std::min<int>(cos_low, e.cos_table[x]);
                cos_high = std::max<int>(cos_high, e.cos_table[x]);
                sin_low = std::min<int>(sin_low, e.sin_table[x]);
                sin_high = std::max<int>(sin_high, e.sin_table[x]);
            }
        }
    }
    EXPECT_EQ(cos_low, -1788);
    EXPECT_EQ(cos_high, 1788);
    EXPECT_EQ(sin_low, -2519);
    EXPECT_EQ(sin_high, 2519);
}

// Table maintenance

TEST_F(CompositeChromaTest, FirstBuildAllocatesTwoPixelRowsAndFillsThem)
{
    ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 704, 0, 24, 40));
    EXPECT_EQ(probe.sizes, (std::vector<size_t>{40 * sizeof(PIXEL_YC), 40 * sizeof(PIXEL_YC)}));
    expect_tables_hold(704, 0, 24);
    // Columns from w on are neither computed nor touched.
    EXPECT_EQ(editor_effect_state.subcarrier_tables.cos_table[24], unfilled);
    EXPECT_EQ(editor_effect_state.subcarrier_tables.sin_table[40 * 3 - 1], unfilled);
    EXPECT_EQ(editor_effect_state.subcarrier_tables.table_max_w, 40);
    EXPECT_EQ(editor_effect_state.subcarrier_tables.table_freq, 704);
    EXPECT_EQ(editor_effect_state.subcarrier_tables.table_phase, 0);
    EXPECT_EQ(editor_effect_state.subcarrier_tables.table_w, 24);
}

TEST_F(CompositeChromaTest, UnchangedInputsKeepTheTablesAsTheyAre)
{
    ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 704, 0, 16, 16));
    const int16_t* cos_table = editor_effect_state.subcarrier_tables.cos_table;
    // A marked entry survives only if nothing is recomputed.
    editor_effect_state.subcarrier_tables.cos_table[5] = 777;
    ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 704, 0, 16, 16));
    EXPECT_EQ(editor_effect_state.subcarrier_tables.cos_table, cos_table);
    EXPECT_EQ(editor_effect_state.subcarrier_tables.cos_table[5], 777);
    EXPECT_EQ(probe.calls, 2);
}

TEST_F(CompositeChromaTest, ChangingPhaseFreqOrWidthRecomputesInPlace)
{
    struct Inputs {
        int32_t freq, phase, w;
    };
    const Inputs sequence[] = {{704, 33, 16}, {650, 33, 16}, {650, 33, 9}, {650, 33, 32}};
    ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 704, 0, 16, 32));
    const int16_t* cos_table = editor_effect_state.subcarrier_tables.cos_table;
    const int16_t* sin_table = editor_effect_state.subcarrier_tables.sin_table;
    for (const Inputs& in : sequence) {
        editor_effect_state.subcarrier_tables.cos_table[0] = 777;
        editor_effect_state.subcarrier_tables.sin_table[0] = 777;
        ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, in.freq, in.phase, in.w, 32));
        expect_tables_hold(in.freq, in.phase, in.w);
        EXPECT_EQ(editor_effect_state.subcarrier_tables.table_freq, in.freq);
        EXPECT_EQ(editor_effect_state.subcarrier_tables.table_phase, in.phase);
        EXPECT_EQ(editor_effect_state.subcarrier_tables.table_w, in.w);
    }
    EXPECT_EQ(probe.calls, 2) << "only the first build allocates";
    EXPECT_EQ(editor_effect_state.subcarrier_tables.cos_table, cos_table);
    EXPECT_EQ(editor_effect_state.subcarrier_tables.sin_table, sin_table);
}

TEST_F(CompositeChromaTest, ChangingOnlyTheRowPitchAllocatesAndFillsFreshBlocks)
{
    ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 704, 0, 16, 16));
    ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 704, 0, 16, 20));
    EXPECT_EQ(probe.calls, 4);
    EXPECT_EQ(probe.sizes[2], 20 * sizeof(PIXEL_YC));
    EXPECT_EQ(probe.sizes[3], 20 * sizeof(PIXEL_YC));
    EXPECT_EQ(editor_effect_state.subcarrier_tables.table_max_w, 20);
    // The keys still matched, yet the fresh blocks hold the entries.
    expect_tables_hold(704, 0, 16);
}

TEST_F(CompositeChromaTest, ReleaseEmptiesTheTablesAndTheNextBuildFillsFreshBlocks)
{
    ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 690, -12, 16, 16));
    release_subcarrier_tables(&editor_effect_state.subcarrier_tables);
    EXPECT_EQ(editor_effect_state.subcarrier_tables.cos_table, nullptr);
    EXPECT_EQ(editor_effect_state.subcarrier_tables.sin_table, nullptr);
    release_subcarrier_tables(&editor_effect_state.subcarrier_tables);  // a second release is harmless
    ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 690, -12, 16, 16));
    EXPECT_EQ(probe.calls, 4);
    expect_tables_hold(690, -12, 16);
}

TEST_F(CompositeChromaTest, FailedAllocationLeavesNoTableAndKeepsTheKeys)
{
    // The first, the second or both requests fail.
    for (unsigned failing : {1u, 2u, 3u}) {
        SCOPED_TRACE("failing requests mask " + std::to_string(failing));
        release_subcarrier_tables(&editor_effect_state.subcarrier_tables);
        probe = AllocatorProbe{};
        ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 704, 0, 16, 16));
        probe.failing_calls = failing << probe.calls;
        EXPECT_FALSE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 700, 10, 24, 24));
        EXPECT_EQ(probe.calls, 4) << "both blocks are requested before either is examined";
        EXPECT_EQ(editor_effect_state.subcarrier_tables.cos_table, nullptr);
        EXPECT_EQ(editor_effect_state.subcarrier_tables.sin_table, nullptr);
        EXPECT_EQ(editor_effect_state.subcarrier_tables.table_max_w, 16);
        EXPECT_EQ(editor_effect_state.subcarrier_tables.table_freq, 704);
        EXPECT_EQ(editor_effect_state.subcarrier_tables.table_phase, 0);
        EXPECT_EQ(editor_effect_state.subcarrier_tables.table_w, 16);

        // The next build tries again and fills its blocks, although the keys
        // and the row pitch are those of the lost tables.
        probe.failing_calls = 0;
        ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 704, 0, 16, 16));
        EXPECT_EQ(probe.calls, 6);
        expect_tables_hold(704, 0, 16);
    }
}

// Modulation

TEST_F(CompositeChromaTest, WorkedPixelTakesBothSigns)
{
    ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 704, 0, 2, 2));
    const FilterRect rect{0, 1, 1, 2, 2};
    // Row 0 with flags 0 starts at -1 and flips to +1 before the row.
    PIXEL_YC frame[2] = {{0, 0, 0}, {2048, 512, -256}};
    encode_composite(frame, &rect, &editor_effect_state.subcarrier_tables, 0);
    EXPECT_TRUE(same(frame[1], PIXEL_YC{1693, 0, 0}));
    frame[1] = {2048, 512, -256};
    encode_composite(frame, &rect, &editor_effect_state.subcarrier_tables, 2);
    EXPECT_TRUE(same(frame[1], PIXEL_YC{2404, 0, 0}));
    EXPECT_TRUE(same(frame[0], PIXEL_YC{0, 0, 0})) << "column 0 lies outside";
}

TEST_F(CompositeChromaTest, TermsRoundHalvesUpward)
{
    ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 704, 0, 1, 1));
    // A weight of 1 makes the term's product the chroma value itself.
    editor_effect_state.subcarrier_tables.cos_table[0] = 1;
    editor_effect_state.subcarrier_tables.sin_table[0] = 1;
    const FilterRect rect{0, 1, 0, 1, 1};
    struct Case {
        short cb, cr;
        short y;
    };
    const Case cases[] = {
        {1024, 0, 1001}, {-1024, 0, 1000}, {-1025, 0, 999}, {0, 1024, 1001}, {0, -1025, 999},
        {1023, 0, 1000}, {3072, 0, 1002}, {-3072, 0, 999},
    };
    for (const Case& c : cases) {
        PIXEL_YC pixel{1000, c.cb, c.cr};
        encode_composite(&pixel, &rect, &editor_effect_state.subcarrier_tables, 0);  // sign +1
        EXPECT_EQ(pixel.y, c.y) << "cb " << c.cb << " cr " << c.cr;
    }
}

TEST_F(CompositeChromaTest, NegativeSignIsAppliedBeforeRounding)
{
    ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 704, 0, 2, 2));  // cos weight of column 1: -170
    const FilterRect rect{0, 1, 1, 2, 2};
    PIXEL_YC frame[2] = {{0, 0, 0}, {0, 512, 0}};
    encode_composite(frame, &rect, &editor_effect_state.subcarrier_tables, 0);
    EXPECT_EQ(frame[1].y, -42);
    frame[1] = {0, 512, 0};
    encode_composite(frame, &rect, &editor_effect_state.subcarrier_tables, 2);
    EXPECT_EQ(frame[1].y, 43);
}

TEST_F(CompositeChromaTest, ExtremeWeightsWithFullChromaGiveTheWeights)
{
    const FilterRect rect{0, 1, 0, 1, 1};
    struct Case {
        int32_t phase;
        PIXEL_YC pixel;
        short term;
    };
    // Column 0: cos weight 1788 at phase 0, sin weight 2519 at phase 90.
    const Case cases[] = {{0, {0, 2048, 0}, 1788}, {90, {0, 0, 2048}, 2519}};
    for (const Case& c : cases) {
        ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 704, c.phase, 1, 1));
        for (int32_t flags : {0, 2}) {
            PIXEL_YC pixel = c.pixel;
            encode_composite(&pixel, &rect, &editor_effect_state.subcarrier_tables, flags);
            EXPECT_EQ(pixel.y, flags == 0 ? c.term : -c.term) << "phase " << c.phase;
        }
    }
}

TEST_F(CompositeChromaTest, LumaWrapsInsteadOfSaturating)
{
    ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 704, 0, 1, 1));  // cos weight 1788
    const FilterRect rect{0, 1, 0, 1, 1};
    // 32767 + 7233 = 40000 and -32768 - 7233 = -40001.
    PIXEL_YC high{32767, 8285, 0};
    encode_composite(&high, &rect, &editor_effect_state.subcarrier_tables, 0);
    EXPECT_EQ(high.y, -25536);
    PIXEL_YC low{-32768, -8285, 0};
    encode_composite(&low, &rect, &editor_effect_state.subcarrier_tables, 0);
    EXPECT_EQ(low.y, 25535);
}

TEST_F(CompositeChromaTest, ChromaFreePixelKeepsItsLuma)
{
    ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 704, 0, 8, 8));
    const FilterRect rect{0, 2, 0, 8, 8};
    std::vector<PIXEL_YC> frame(16);
    for (int i = 0; i < 16; ++i)
        frame[i] = {static_cast<short>(i * 100 - 300), 0, 0};
    const std::vector<PIXEL_YC> before = frame;
    encode_composite(frame.data(), &rect, &editor_effect_state.subcarrier_tables, 3);
    for (int i = 0; i < 16; ++i)
        EXPECT_TRUE(same(frame[i], before[i])) << i;
}

TEST_F(CompositeChromaTest, RowSignsFollowTheClosedFormula)
{
    // s(r) = s0 * (-1)^(floor((r + f) / 2) - floor((top + f - 1) / 2)); bits
    // above bit 1 of the flags are ignored.
    const int pitch = 3, rows = 12;
    ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 704, 0, pitch, pitch));
    auto floor_half = [](int v) { return v >= 0 ? v / 2 : -((1 - v) / 2); };
    for (int32_t flags : {0, 1, 2, 3, -4, -3, 0x7FFFFFF6, INT_MIN + 3}) {
        const int s0 = (flags & 2) ? 1 : -1;
        const int f = flags & 1;
        for (int top = 0; top < 6; ++top) {
            std::vector<PIXEL_YC> frame(pitch * rows, carrier_probe);
            const FilterRect rect{top, rows, 0, 1, pitch};
            encode_composite(frame.data(), &rect, &editor_effect_state.subcarrier_tables, flags);
            std::string expected;
            for (int r = top; r < rows; ++r) {
                const int exponent = floor_half(r + f) - floor_half(top + f - 1);
                expected += s0 * ((exponent & 1) ? -1 : 1) > 0 ? '+' : '-';
            }
            EXPECT_EQ(row_signs(frame.data(), pitch, 0, top, rows), expected)
                << "flags " << flags << " top " << top;
        }
    }
}

TEST_F(CompositeChromaTest, OnlyTheRectangleChangesAndLosesItsChroma)
{
    const int w = 20, h = 12;
    ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 733, -71, w, w));
    std::vector<PIXEL_YC> frame(w * h);
    fill_random(frame.data(), frame.size(), 7);
    const std::vector<PIXEL_YC> before = frame;
    const FilterRect rect{3, 9, 5, 13, w};
    encode_composite(frame.data(), &rect, &editor_effect_state.subcarrier_tables, 1);
    for (int r = 0; r < h; ++r) {
        for (int x = 0; x < w; ++x) {
            const PIXEL_YC& p = frame[r * w + x];
            if (r >= 3 && r < 9 && x >= 5 && x < 13) {
                EXPECT_EQ(p.cb, 0) << r << "," << x;
                EXPECT_EQ(p.cr, 0) << r << "," << x;
            } else {
                EXPECT_TRUE(same(p, before[r * w + x])) << r << "," << x;
            }
        }
    }
}

TEST_F(CompositeChromaTest, ColumnsAreCountedFromTheFrameEdge)
{
    // Two rectangles differing only in left agree on their shared columns.
    const int w = 24, h = 6;
    ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 617, 140, w, w));
    std::vector<PIXEL_YC> wide(w * h), narrow;
    fill_random(wide.data(), wide.size(), 11);
    narrow = wide;
    const FilterRect wide_rect{1, 5, 0, 20, w};
    const FilterRect narrow_rect{1, 5, 7, 20, w};
    encode_composite(wide.data(), &wide_rect, &editor_effect_state.subcarrier_tables, 2);
    encode_composite(narrow.data(), &narrow_rect, &editor_effect_state.subcarrier_tables, 2);
    for (int r = 1; r < 5; ++r)
        for (int x = 7; x < 20; ++x)
            EXPECT_TRUE(same(wide[r * w + x], narrow[r * w + x])) << r << "," << x;
}

TEST_F(CompositeChromaTest, EmptyRectangleChangesNothing)
{
    const int w = 8, h = 4;
    ASSERT_TRUE(build_subcarrier_tables(&editor_effect_state.subcarrier_tables, 704, 0, w, w));
    std::vector<PIXEL_YC> frame(w * h);
    fill_random(frame.data(), frame.size(), 3);
    const std::vector<PIXEL_YC> before = frame;
    const FilterRect empty_rects[] = {{2, 2, 0, w, w}, {3, 1, 0, w, w}, {0, h, 5, 5, w}, {0, h, 6, 2, w}};
    for (const FilterRect& rect : empty_rects)
        encode_composite(frame.data(), &rect, &editor_effect_state.subcarrier_tables, 2);
    EXPECT_EQ(std::memcmp(frame.data(), before.data(), frame.size() * sizeof(PIXEL_YC)), 0);
}

// Through the driver

namespace {

// A host whose frames are uniform carrier probes, with "C/Y" on at freq 704
// and phase 0 over a rectangle of width 4 and every other stage off.
struct ProbeHost {
    PluginHost host;
    std::vector<PIXEL_YC> uniform;

    ProbeHost(int w, int h) : host(GetFilterTable, w, h, w), uniform(w * h, carrier_probe)
    {
        host.track() = {0, 4, 0, h, 0, 704, 0};
        host.check() = {0, 0, 1, 0, 0, 1, 0};
        host.services().filtering_frame = [this](int) { return uniform.data(); };
    }
    std::string process_signs(int frame)
    {
        std::copy(uniform.begin(), uniform.end(), host.edit());
        if (!host.process(frame, 1000))
            return "failed";
        return row_signs(host.edit(), host.max_w(), 0, 0, host.h());
    }
};

}  // namespace

TEST_F(CompositeChromaTest, DriverSignsAlternateByFieldOrderAndFrame)
{
    struct Row {
        int fps60, tff;
        const char* signs[4];  // frames 0 to 3
    };
    const Row table[] = {
        {0, 1, {"-++-", "+--+", "-++-", "+--+"}},
        {0, 0, {"++--", "--++", "++--", "--++"}},
        {1, 1, {"-++-", "-++-", "+--+", "+--+"}},
        {1, 0, {"++--", "++--", "--++", "--++"}},
    };
    for (const Row& row : table) {
        ProbeHost probe_host(4, 4);
        probe_host.host.check()[CHECK_60FPS] = row.fps60;
        probe_host.host.check()[CHECK_TFF] = row.tff;
        for (int frame = 0; frame < 4; ++frame)
            EXPECT_EQ(probe_host.process_signs(frame), row.signs[frame])
                << "60FPS " << row.fps60 << " TFF " << row.tff << " frame " << frame;
    }
}

TEST_F(CompositeChromaTest, CarrierFlagsFollowTheFrameNumberOverItsWholeRange)
{
    int check[7] = {0, 0, 1, 0, 0, 1, 0};
    const int track[7] = {0, 320, 0, 320, 0, 704, 0};
    auto carrier_flags = [&](const int* check, int32_t frame) {
        const EffectSettings settings = editor_settings(track, check);
        return ::carrier_flags(&settings, frame);
    };
    // "60FPS" off: bit 1 is bit 0 of the frame, also where -2 * frame wraps.
    EXPECT_EQ(carrier_flags(check, INT_MAX), 3);
    EXPECT_EQ(carrier_flags(check, INT_MAX - 1), 1);
    EXPECT_EQ(carrier_flags(check, 5), 3);
    check[CHECK_TFF] = 0;
    EXPECT_EQ(carrier_flags(check, 6), 0);
    // "60FPS" on: bit 1 is bit 1 of the frame.
    check[CHECK_60FPS] = 1;
    EXPECT_EQ(carrier_flags(check, INT_MAX), 2);
    EXPECT_EQ(carrier_flags(check, 5), 0);
    EXPECT_EQ(carrier_flags(check, 6), 2);
}

TEST_F(CompositeChromaTest, DriverBuildsForTheTrackValuesAndTheFrameWidth)
{
    PluginHost host(GetFilterTable, 30, 6, 48);
    host.track() = {3, 10, 1, 2, 0, 655, -99};
    host.check() = {0, 0, 1, 0, 0, 1, 0};
    ASSERT_TRUE(host.process(0, 1));
    EXPECT_EQ(editor_effect_state.subcarrier_tables.table_freq, 655);
    EXPECT_EQ(editor_effect_state.subcarrier_tables.table_phase, -99);
    EXPECT_EQ(editor_effect_state.subcarrier_tables.table_w, 30);
    EXPECT_EQ(editor_effect_state.subcarrier_tables.table_max_w, 48);
    expect_tables_hold(655, -99, 30);
}

TEST_F(CompositeChromaTest, DriverBuildsTheTablesEvenForAnEmptyRectangle)
{
    PluginHost host(GetFilterTable, 16, 8, 16);
    fill_random(host.edit(), 16 * 8, 5);
    const std::vector<PIXEL_YC> before(host.edit(), host.edit() + 16 * 8);
    host.track() = {4, 0, 2, 5, 0, 704, 0};
    host.check() = {0, 0, 1, 0, 0, 1, 0};
    ASSERT_TRUE(host.process(0, 1));
    EXPECT_EQ(probe.calls, 2);
    EXPECT_EQ(editor_effect_state.subcarrier_tables.table_w, 16);
    EXPECT_EQ(std::memcmp(before.data(), host.edit(), before.size() * sizeof(PIXEL_YC)), 0);
}

TEST_F(CompositeChromaTest, FailedAllocationSkipsOnlyTheChromaStage)
{
    // With the tables unavailable frame 0 must come out as with "C/Y" off:
    // shift and low-pass filter still run, and "MONO" stays off because the
    // "C/Y" box is on. Frame 1 tries again and comes out fully encoded.
    const int w = 40, h = 24;
    std::vector<PIXEL_YC> input(w * h);
    fill_random(input.data(), input.size(), 9);
    const std::vector<int> track = {6, 20, 3, 15, 17, 704, 0};
    const std::vector<int> check_cy = {0, 0, 1, 0, 1, 1, 1};
    std::vector<int> check_plain = check_cy;
    check_plain[CHECK_CY] = 0;
    check_plain[CHECK_MONO] = 0;

    auto run = [&](const std::vector<int>& check, int frame) {
        PluginHost host(GetFilterTable, w, h, w);
        host.track() = track;
        host.check() = check;
        std::copy(input.begin(), input.end(), host.edit());
        EXPECT_TRUE(host.process(frame, 2));
        return std::vector<PIXEL_YC>(host.edit(), host.edit() + w * h);
    };
    auto same_frames = [](const std::vector<PIXEL_YC>& a, const std::vector<PIXEL_YC>& b) {
        return std::memcmp(a.data(), b.data(), a.size() * sizeof(PIXEL_YC)) == 0;
    };
    const std::vector<PIXEL_YC> plain = run(check_plain, 0);
    const std::vector<PIXEL_YC> encoded = run(check_cy, 1);
    ASSERT_FALSE(same_frames(plain, input));
    ASSERT_FALSE(same_frames(encoded, run(check_plain, 1)));

    for (unsigned failing : {1u, 2u, 3u}) {
        SCOPED_TRACE("failing requests mask " + std::to_string(failing));
        release_subcarrier_tables(&editor_effect_state.subcarrier_tables);
        probe = AllocatorProbe{};
        probe.failing_calls = failing;
        PluginHost host(GetFilterTable, w, h, w);
        host.track() = track;
        host.check() = check_cy;
        std::copy(input.begin(), input.end(), host.edit());
        EXPECT_TRUE(host.process(0, 2));
        EXPECT_EQ(editor_effect_state.subcarrier_tables.cos_table, nullptr);
        EXPECT_EQ(editor_effect_state.subcarrier_tables.sin_table, nullptr);
        EXPECT_TRUE(same_frames(std::vector<PIXEL_YC>(host.edit(), host.edit() + w * h), plain));

        std::copy(input.begin(), input.end(), host.edit());
        EXPECT_TRUE(host.process(1, 2));
        EXPECT_EQ(probe.calls, 4);
        EXPECT_TRUE(same_frames(std::vector<PIXEL_YC>(host.edit(), host.edit() + w * h), encoded));
    }
}

TEST_F(CompositeChromaTest, FilterExitReleasesTheTables)
{
    {
        ProbeHost probe_host(4, 4);
        EXPECT_EQ(probe_host.process_signs(0), "-++-");
        EXPECT_NE(editor_effect_state.subcarrier_tables.cos_table, nullptr);
        EXPECT_TRUE(probe_host.host.finish());
        EXPECT_EQ(editor_effect_state.subcarrier_tables.cos_table, nullptr);
        EXPECT_EQ(editor_effect_state.subcarrier_tables.sin_table, nullptr);
    }
    // A plug-in loaded again starts from empty tables and builds them afresh.
    ProbeHost probe_host(4, 4);
    EXPECT_EQ(probe_host.process_signs(1), "+--+");
    EXPECT_EQ(probe.calls, 4);
}
