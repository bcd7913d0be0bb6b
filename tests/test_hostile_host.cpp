// Frame numbers and counts at the ends of the int range, as a damaged
// project or a careless host could hand them over: the plug-in must still
// compute the frame it asks for without overflow (the sanitizer build turns
// any overflow into a failure) and ask for the number the 32-bit host would.
#include <gtest/gtest.h>

#include <climits>

#include "tests/host_services.h"
#include "hosts/aviutl/descriptor.h"
#include "hosts/aviutl/driver.h"

namespace {

struct HostileHost : ::testing::Test {
    void TearDown() override { filter_exit(GetFilterTable()); }
};

}  // namespace

TEST_F(HostileHost, WeavePartnerOfExtremeFrameNumbersIsTheOtherMemberOfThePair)
{
    PluginHost host(GetFilterTable, 4, 4, 4);
    host.check()[CHECK_60FPS] = 1;
    const struct {
        int frame, partner;
    } pairs[] = {{INT_MIN, INT_MIN + 1}, {INT_MIN + 1, INT_MIN}, {INT_MAX - 1, INT_MAX},
                 {INT_MAX, INT_MAX - 1}, {-1, -2}};
    for (const auto& pair : pairs) {
        host.services().clear_record();
        EXPECT_FALSE(host.process(pair.frame, 2)) << pair.frame;  // no clip: no partner
        ASSERT_EQ(host.services().filtering_requests.size(), 1u) << pair.frame;
        EXPECT_EQ(host.services().filtering_requests[0], pair.partner) << pair.frame;
    }
}

TEST_F(HostileHost, ComposeSourceNumberWrapsForNegativeFrameCounts)
{
    PluginHost host(GetFilterTable, 4, 4, 4);
    host.check()[CHECK_COMPOSE] = 1;
    // half = INT_MIN / 2; frame + half wraps past INT_MIN to 2^30.
    EXPECT_TRUE(host.process(INT_MIN, INT_MIN));
    ASSERT_EQ(host.services().source_requests.size(), 1u);
    EXPECT_EQ(host.services().source_requests[0], 1 << 30);

    // The largest frame of the first half of the largest clip.
    host.services().clear_record();
    EXPECT_TRUE(host.process(INT_MAX / 2, INT_MAX));
    ASSERT_EQ(host.services().source_requests.size(), 1u);
    EXPECT_EQ(host.services().source_requests[0], INT_MAX - 1);
}
