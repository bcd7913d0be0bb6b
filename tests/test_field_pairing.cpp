#include <gtest/gtest.h>

#include <vector>

#include "tests/host_services.h"
#include "hosts/aviutl/field_pairing.h"
#include "hosts/aviutl/descriptor.h"
#include "hosts/aviutl/driver.h"
#include "tests/tagged_clip.h"

namespace {

// A host of a clip of `frames` frames with "60FPS" on and every effect off
// (no shift, no "LPF"), so that the driver's output is the woven frame.
struct PairingHost {
    PluginHost host;
    int frames;
    Clip filtering;
    Clip source;

    PairingHost(int w, int h, int max_w, int frames, bool tff)
        : host(GetFilterTable, w, h, max_w),
          frames(frames),
          filtering(tagged_clip(FILTERING, frames, h, max_w)),
          source(tagged_clip(SOURCE, frames, h, max_w))
    {
        host.answer_from(filtering, source);
        host.check() = {0, 1, tff ? 1 : 0, 0, 0, 0, 0};
        host.track()[TRACK_SHIFT] = 0;
    }

    // Frame n enters as the filters ahead left it; only the stage runs.
    int weave(int n)
    {
        host.load(filtering[n]);
        return host.process_with(weave_partner_field, n, frames);
    }

    // Frame n through the whole driver.
    BOOL process(int n)
    {
        host.load(filtering[n]);
        return host.process(n, frames);
    }

    std::vector<PIXEL_YC> edited() { return {host.edit(), host.edit() + host.frame_pixels()}; }

    // Row r of ycp_edit, padding included, is row r of the filtering cache's frame n.
    ::testing::AssertionResult row_from(int r, int n)
    {
        for (int x = 0; x < host.max_w(); ++x) {
            const PIXEL_YC p = host.edit()[r * host.max_w() + x];
            if (!same(p, tag(FILTERING, n, r, x)))
                return ::testing::AssertionFailure()
                       << "row " << r << " column " << x << " holds {" << p.y << ", " << p.cb
                       << ", " << p.cr << "}, not frame " << n << "'s pixel";
        }
        return ::testing::AssertionSuccess();
    }
};

struct PairingCase {
    bool tff;
    int frame;
    int kept_parity;  // rows of this parity stay the current frame's
    int partner;
};

class FieldPairingTable : public ::testing::TestWithParam<PairingCase> {};

// Frees the chroma tables that a test with "C/Y" on may have built.
struct FieldPairing : ::testing::Test {
    void TearDown() override { filter_exit(GetFilterTable()); }
};

}  // namespace

TEST_P(FieldPairingTable, KeepsItsOwnFieldAndTakesTheOtherFromThePartner)
{
    const PairingCase c = GetParam();
    PairingHost pairing(5, 8, 7, 6, c.tff);
    EXPECT_EQ(pairing.weave(c.frame), 0);
    for (int r = 0; r < 8; ++r)
        EXPECT_TRUE(pairing.row_from(r, r % 2 == c.kept_parity ? c.frame : c.partner));
    const HostServices& services = pairing.host.services();
    EXPECT_EQ(services.filtering_requests, std::vector<int>{c.partner});
    EXPECT_TRUE(services.source_requests.empty());
    EXPECT_FALSE(services.host_buffer_written);
}

INSTANTIATE_TEST_SUITE_P(TffAndFrameParity, FieldPairingTable,
                         ::testing::Values(PairingCase{true, 4, 0, 5}, PairingCase{true, 5, 1, 4},
                                           PairingCase{false, 4, 1, 5},
                                           PairingCase{false, 5, 0, 4}));

TEST_F(FieldPairing, PairsAreFixedFromFrameZero)
{
    PairingHost pairing(4, 4, 4, 4, true);
    for (int n = 0; n < 4; ++n)
        EXPECT_EQ(pairing.weave(n), 0);
    // Frame 2 pairs with 3, never with 1.
    EXPECT_EQ(pairing.host.services().filtering_requests, (std::vector<int>{1, 0, 3, 2}));
}

TEST_F(FieldPairing, BothFramesOfAPairLeaveTheStageIdentical)
{
    for (bool tff : {true, false}) {
        PairingHost pairing(5, 6, 7, 4, tff);
        ASSERT_EQ(pairing.weave(2), 0);
        const std::vector<PIXEL_YC> earlier = pairing.edited();
        ASSERT_EQ(pairing.weave(3), 0);
        const std::vector<PIXEL_YC> later = pairing.edited();
        for (size_t i = 0; i < earlier.size(); ++i)
            ASSERT_TRUE(same(earlier[i], later[i])) << "TFF " << tff << ", pixel " << i;
        // TFF: the earlier frame gives the top (even) rows; BFF: the odd ones.
        EXPECT_TRUE(pairing.row_from(0, tff ? 2 : 3));
        EXPECT_TRUE(pairing.row_from(1, tff ? 3 : 2));
    }
}

TEST_F(FieldPairing, BothFramesOfAPairLeaveTheDriverIdenticalWithEffectsOff)
{
    for (bool tff : {true, false}) {
        PairingHost pairing(5, 6, 7, 4, tff);
        ASSERT_TRUE(pairing.process(0));
        const std::vector<PIXEL_YC> earlier = pairing.edited();
        ASSERT_TRUE(pairing.process(1));
        const std::vector<PIXEL_YC> later = pairing.edited();
        for (size_t i = 0; i < earlier.size(); ++i)
            ASSERT_TRUE(same(earlier[i], later[i])) << "TFF " << tff << ", pixel " << i;
        for (int r = 0; r < 6; ++r)
            EXPECT_TRUE(pairing.row_from(r, (r % 2 == 0) == tff ? 0 : 1));
        EXPECT_FALSE(pairing.host.services().host_buffer_written);
    }
}

TEST_F(FieldPairing, ColourAndLowPassKeepTheFramesOfAPairIdentical)
{
    // "C/Y" follows the pairs (its sign sequence steps every second frame)
    // and "LPF" treats both fields alike, so a pair still matches after both.
    PairingHost pairing(12, 16, 14, 4, true);
    pairing.host.check()[CHECK_CY] = 1;
    pairing.host.check()[CHECK_LPF] = 1;
    ASSERT_TRUE(pairing.process(2));
    const std::vector<PIXEL_YC> earlier = pairing.edited();
    ASSERT_TRUE(pairing.process(3));
    const std::vector<PIXEL_YC> later = pairing.edited();
    for (size_t i = 0; i < earlier.size(); ++i)
        ASSERT_TRUE(same(earlier[i], later[i])) << "pixel " << i;
}

TEST_F(FieldPairing, OddHeightLeavesTheLastRowAlone)
{
    PairingHost pairing(3, 5, 4, 2, true);
    // Frame 0 keeps the even rows: rows 1 and 3 come from frame 1.
    ASSERT_EQ(pairing.weave(0), 0);
    for (int r = 0; r < 5; ++r)
        EXPECT_TRUE(pairing.row_from(r, r == 1 || r == 3 ? 1 : 0));
    // Frame 1 keeps the odd rows: rows 0 and 2 come from frame 0, but row 4
    // belongs to no complete row pair and stays frame 1's.
    ASSERT_EQ(pairing.weave(1), 0);
    for (int r = 0; r < 5; ++r)
        EXPECT_TRUE(pairing.row_from(r, r == 0 || r == 2 ? 0 : 1));
}

TEST_F(FieldPairing, OneOrNoRowsCopyNothingButTheHostIsAskedFirst)
{
    for (int h : {1, 0}) {
        for (int frame : {0, 1}) {
            PairingHost pairing(3, h, 4, 2, true);
            EXPECT_EQ(pairing.weave(frame), 0) << "h " << h;
            for (int r = 0; r < h; ++r)
                EXPECT_TRUE(pairing.row_from(r, frame));
            EXPECT_EQ(pairing.host.services().filtering_requests, std::vector<int>{1 - frame});

            pairing.host.services().filtering_frame = nullptr;
            EXPECT_EQ(pairing.weave(frame), 1) << "h " << h;
            EXPECT_EQ(pairing.host.services().filtering_requests,
                      (std::vector<int>{1 - frame, 1 - frame}));
        }
    }
}

TEST_F(FieldPairing, TheRectangleDoesNotLimitTheWeave)
{
    // Empty (no width), and a small one inside the picture.
    const std::vector<std::vector<int>> rectangles = {{2, 0, 1, 3}, {2, 2, 1, 3}};
    for (const std::vector<int>& rect : rectangles) {
        PairingHost pairing(6, 6, 8, 2, true);
        for (int i = 0; i < 4; ++i)
            pairing.host.track()[i] = rect[i];
        ASSERT_TRUE(pairing.process(0));
        for (int r = 0; r < 6; ++r)
            EXPECT_TRUE(pairing.row_from(r, r % 2)) << "width " << rect[1];
    }
}

TEST_F(FieldPairing, PaddingBeyondTheWidthComesFromThePartnerToo)
{
    PairingHost pairing(2, 4, 6, 2, true);
    ASSERT_EQ(pairing.weave(0), 0);
    for (int r = 0; r < 4; ++r)
        for (int x = 2; x < 6; ++x)
            EXPECT_TRUE(same(pairing.host.edit()[r * 6 + x], tag(FILTERING, r % 2, r, x)))
                << "row " << r << " column " << x;
}

TEST_F(FieldPairing, EveryFrameAsksForTheCacheSizeOfThePitchAndHeight)
{
    PairingHost pairing(5, 6, 7, 2, true);
    ASSERT_TRUE(pairing.process(0));
    ASSERT_TRUE(pairing.process(1));
    const auto& requests = pairing.host.services().cache_size_requests;
    ASSERT_EQ(requests.size(), 2u);
    for (const HostServices::CacheSizeRequest& request : requests) {
        EXPECT_EQ(request.w, 7);
        EXPECT_EQ(request.h, 6);
        EXPECT_EQ(request.d, 2);
        EXPECT_EQ(request.flag, 0);
    }
}

TEST_F(FieldPairing, ARefusedCacheSizeFailsTheFrameUntouched)
{
    PairingHost pairing(5, 6, 7, 2, true);
    // Every effect on: none of them may run once the frame has failed.
    pairing.host.check() = {0, 1, 1, 0, 1, 1, 1};
    pairing.host.track()[TRACK_SHIFT] = 23;
    pairing.host.services().refuse_cache_size = true;
    EXPECT_EQ(pairing.process(1), FALSE);
    for (int r = 0; r < 6; ++r)
        EXPECT_TRUE(pairing.row_from(r, 1));
    const HostServices& services = pairing.host.services();
    ASSERT_EQ(services.cache_size_requests.size(), 1u);
    EXPECT_EQ(services.cache_size_requests[0].w, 7);
    EXPECT_EQ(services.cache_size_requests[0].h, 6);
    EXPECT_EQ(services.cache_size_requests[0].d, 2);
    EXPECT_EQ(services.cache_size_requests[0].flag, 0);
    EXPECT_TRUE(services.filtering_requests.empty());
}

TEST_F(FieldPairing, AMissingPartnerFailsTheFrameUntouched)
{
    PairingHost pairing(5, 6, 7, 2, true);
    pairing.host.check() = {0, 1, 1, 0, 1, 1, 1};
    pairing.host.track()[TRACK_SHIFT] = 23;
    pairing.host.services().filtering_frame = nullptr;
    EXPECT_EQ(pairing.process(0), FALSE);
    for (int r = 0; r < 6; ++r)
        EXPECT_TRUE(pairing.row_from(r, 0));
    EXPECT_EQ(pairing.host.services().filtering_requests, std::vector<int>{1});
}

TEST_F(FieldPairing, TheLastFrameOfAnOddClipAsksOnePastTheEnd)
{
    // The stand-in has no frame 5 in a clip of 5 frames and answers null.
    PairingHost pairing(5, 6, 7, 5, true);
    for (int n = 0; n < 4; ++n)
        EXPECT_TRUE(pairing.process(n)) << "frame " << n;
    EXPECT_EQ(pairing.process(4), FALSE);
    for (int r = 0; r < 6; ++r)
        EXPECT_TRUE(pairing.row_from(r, 4));
    EXPECT_EQ(pairing.host.services().filtering_requests, (std::vector<int>{1, 0, 3, 2, 5}));
}

TEST_F(FieldPairing, TheStandInNoticesAWriteIntoALentFrame)
{
    // Makes sure that host_buffer_written, checked throughout, can fail.
    PairingHost pairing(3, 2, 3, 2, true);
    const auto scribble = [](FILTER* fp, FILTER_PROC_INFO* fpip) -> int {
        PIXEL_YC* partner = fp->exfunc->get_ycp_filtering_cache_ex(fp, fpip->editp, 1, nullptr,
                                                                    nullptr);
        partner[0].y = static_cast<short>(partner[0].y + 1);
        return 0;
    };
    pairing.host.process_with(scribble, 0, 2);
    EXPECT_TRUE(pairing.host.services().host_buffer_written);
}
