#include <gtest/gtest.h>

#include <cstring>

#include "hosts/aviutl/descriptor.h"
#include "tests/expected_descriptor.h"
#include "tests/scenarios.h"

TEST(Descriptor, MatchesTheHostsViewByteForByte)
{
    EXPECT_EQ(descriptor_mismatch(GetFilterTable()), "");
}

TEST(Descriptor, EveryCallReturnsTheSameRecord)
{
    EXPECT_EQ(GetFilterTable(), GetFilterTable());
}

TEST(Descriptor, EveryTrackRangeHoldsItsDefault)
{
    const FILTER_DLL* filter = GetFilterTable();
    for (int i = 0; i < filter->track_n; ++i) {
        EXPECT_LE(filter->track_s[i], filter->track_default[i]) << "track " << i;
        EXPECT_GE(filter->track_e[i], filter->track_default[i]) << "track " << i;
    }
}

TEST(Descriptor, BackslashTrailByteOfShowRangeLabelSurvives)
{
    // 範囲表示: the trail byte of 表 is 0x5C and must not be taken as an escape.
    const unsigned char expected[] = {0x94, 0xCD, 0x88, 0xCD, 0x95, 0x5C, 0x8E, 0xA6, 0x00};
    EXPECT_EQ(std::memcmp(GetFilterTable()->check_name[3], expected, sizeof expected), 0);
}
