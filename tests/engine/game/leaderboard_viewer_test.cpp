// The leaderboard viewer: modes, page ranks and the named rows.
#include <gtest/gtest.h>

#include "engine/game/LeaderboardViewer.h"

namespace {

TEST(LeaderboardViewer, ModesChooseThePageRanks) {
    struct Case {
        const char* mode;
        uint32_t expectedMode;
        int32_t firstRanks[5];
    } cases[] = {
        {"Overall", LeaderboardViewer::kModeOverall, {-199, -99, 1, 101, 201}},
        {"Friends", LeaderboardViewer::kModeFriends, {-201, -100, 1, 102, 203}},
        {"friends", LeaderboardViewer::kModeFriends, {-201, -100, 1, 102, 203}},  // unknown (case): mode kept
        {"UserScore", LeaderboardViewer::kModeUserScore, {-199, -99, 1, 101, 201}},
        {nullptr, LeaderboardViewer::kModeUserScore, {-199, -99, 1, 101, 201}},
    };
    LeaderboardViewer viewer;
    EXPECT_EQ(viewer.GetPage(0), nullptr);  // pages come with the first reset
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode ? c.mode : "null");
        viewer.SetMode(c.mode, 7);
        EXPECT_EQ(viewer.GetMode(), c.expectedMode);
        EXPECT_EQ(viewer.GetModeValue(), 7u);
        for (uint32_t i = 0; i < LeaderboardViewer::kPageCount; ++i) {
            const LeaderboardViewer::Page* p = viewer.GetPage(i);
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(p->firstRank, c.firstRanks[i]);
            EXPECT_EQ(p->state, LeaderboardViewer::kPageStateReset);
            EXPECT_EQ(p->count, 0u);
            EXPECT_EQ(p->capacity, LeaderboardViewer::kPageRows);
            ASSERT_NE(p->rows, nullptr);
        }
    }
    viewer.Show();
    viewer.Hide();
    EXPECT_FALSE(viewer.IsShown());
}

TEST(LeaderboardViewer, NamedRowsAnswerTheirColumnsCaseInsensitively) {
    LeaderboardViewer viewer;
    viewer.SetRowName("Kills", 2);
    for (uint32_t c = 0; c < 3; ++c) viewer.SetColumn(2, c, 10 * (c + 1));
    EXPECT_EQ(viewer.GetRowFirstColumn("KILLS"), 10u);
    EXPECT_EQ(viewer.GetRowSecondColumn("kills"), 20u);
    EXPECT_EQ(viewer.GetRowThirdColumn("Kills"), 30u);
    EXPECT_EQ(viewer.GetRowFirstColumn("Deaths"), 0u);
    EXPECT_EQ(viewer.GetRowFirstColumn(nullptr), 0u);
    viewer.RaiseRowSecondColumn(2, 15);
    EXPECT_EQ(viewer.GetRowSecondColumn("Kills"), 20u);
    viewer.RaiseRowSecondColumn(2, 0x80000000u);  // unsigned comparison
    EXPECT_EQ(viewer.GetRowSecondColumn("Kills"), 0x80000000u);
}

// A script hands any row index: the last one has no room after it, and neither it nor
// a setter may shrink the columns already there.
TEST(LeaderboardViewer, TheLastRowIndexChangesNothing) {
    LeaderboardViewer viewer;
    viewer.SetRowName("Kills", 1);
    viewer.SetColumn(1, 1, 20);
    viewer.RaiseRowSecondColumn(UINT32_MAX, 99);
    viewer.SetColumn(UINT32_MAX, 1, 99);
    EXPECT_EQ(viewer.GetRowSecondColumn("Kills"), 20u);
}

}  // namespace
