// The leaderboards manager against boards of the in-process broker: download ranges,
// the request queue, ResetNonUpdateRequests, failed finds and log-out under a call.
// test-link: broker_server
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ProfileTestSupport.h"
#include "net/online/SteamLeaderboardsManager.h"

using namespace online;

namespace {

class LeaderboardsTest : public profiletest::BrokerTest {
protected:
    void SetUp() override {
        BrokerTest::SetUp();
        // "G": 70 entries best first, the user (account 1) at rank 30; "A" ascending.
        std::string seed = "user 1 Me\nuser 2 Friend\nfriends 1 2\nleaderboard G descending\nleaderboard A ascending\n";
        for (int rank = 1; rank <= 70; ++rank) {
            const int account = rank == 30 ? 1 : rank == 31 ? 2 : 100 + rank;
            seed += "score G " + std::to_string(account) + " " + std::to_string(10000 - rank) + "\n";
        }
        seed += "score A 5 30\nscore A 6 10\nscore A 7 20\n";
        Control("seed", seed);
        ctx = Client(1, "Me");
        ASSERT_TRUE(ctx);
        manager = std::make_unique<SteamLeaderboardsManager>(ctx.get());
    }
    void TearDown() override { manager.reset(); }

    bool Settle() {
        return onlinetest::PumpUntil({ctx.get()}, [&] { return manager->RequestCount() == 0 && !manager->InFlight(); });
    }
    std::vector<uint32_t> Ranks(const char* name) {
        std::vector<uint32_t> ranks;
        int32_t row = 0;
        const int32_t n = manager->GetLeaderboardRetrievedEntriesNumber(name, &row);
        for (int32_t i = 0; i < n; ++i) {
            uint32_t rank = 0;
            EXPECT_TRUE(manager->GetLeaderboardRetrievedEntry(name, i, &rank, nullptr, nullptr, nullptr));
            ranks.push_back(rank);
        }
        return ranks;
    }

    std::unique_ptr<OnlineContext> ctx;
    std::unique_ptr<SteamLeaderboardsManager> manager;
};

std::vector<uint32_t> Range(uint32_t first, uint32_t last) {
    std::vector<uint32_t> r;
    for (uint32_t i = first; i <= last; ++i) r.push_back(i);
    return r;
}

TEST_F(LeaderboardsTest, DownloadRangesFollowTheDataRequest) {
    struct Case {
        int32_t request, count, offset;
        std::vector<uint32_t> ranks;
        int32_t userRow;
    } cases[] = {
        {RETREQ_AROUNDUSER, 10, 0, Range(26, 35), 4},   // asks -4 .. 5 around rank 30
        {RETREQ_AROUNDUSER, 1, 0, Range(30, 30), 0},    // asks 0 .. 0
        {RETREQ_AROUNDUSER, 4, 10, Range(39, 42), 4},   // -1 .. 2 shifted by 10: absent user
        {RETREQ_GLOBAL, 20, 40, Range(41, 60), 20},     // ranks 41 .. 60, the user absent
        {RETREQ_GLOBAL, 5, 0, Range(1, 5), 5},
        {RETREQ_FRIENDS, 0, 0, {30, 31}, 0},            // friends: count 0 allowed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.request) + " " + std::to_string(c.count) + " " + std::to_string(c.offset));
        ASSERT_TRUE(manager->RetrieveLeaderboard("G", c.request, c.count, c.offset));
        EXPECT_EQ(manager->GetLeaderboardRetrieveStatus("G"), RETSTATUS_WAIT);
        ASSERT_TRUE(Settle());
        ASSERT_EQ(manager->GetLeaderboardRetrieveStatus("G"), RETSTATUS_RETRIEVED);
        EXPECT_EQ(Ranks("G"), c.ranks);
        int32_t row = -1;
        manager->GetLeaderboardRetrievedEntriesNumber("G", &row);
        EXPECT_EQ(row, c.userRow);
        EXPECT_EQ(manager->GetLeaderboardTotalEntriesNumber("G"), 70);
    }
}

TEST_F(LeaderboardsTest, RefusedRequestsQueueNothing) {
    EXPECT_FALSE(manager->RetrieveLeaderboard("G", RETREQ_GLOBAL, 0, 0));
    EXPECT_FALSE(manager->RetrieveLeaderboard("G", RETREQ_AROUNDUSER, 0, 0));
    EXPECT_FALSE(manager->RetrieveLeaderboard("G", 3, 10, 0));
    EXPECT_FALSE(manager->RetrieveLeaderboard("G", -1, 10, 0));
    EXPECT_FALSE(manager->RetrieveLeaderboard(nullptr, RETREQ_GLOBAL, 10, 0));
    EXPECT_FALSE(manager->PrepareLeaderboard(nullptr, true));
    EXPECT_FALSE(manager->UpdateLeaderboard(nullptr, 1, false));
    // A refused data request leaves no record that would claim a find is queued.
    EXPECT_FALSE(manager->UpdateAndRetrieveLeaderboard("N1", 5, 3, 10, 0, false));
    EXPECT_FALSE(manager->UpdateAndRetrieveLeaderboard("N2", 5, 1, -1, 10, 0, false));
    EXPECT_FALSE(manager->IsLeaderboardPrepared("N1"));
    EXPECT_FALSE(manager->IsLeaderboardPrepared("N2"));
    EXPECT_EQ(manager->RequestCount(), 0u);
    EXPECT_EQ(manager->GetLeaderboardRetrieveStatus("never asked"), RETSTATUS_FAILED);
    EXPECT_EQ(manager->GetLeaderboardTotalEntriesNumber("never asked"), 0);
}

TEST_F(LeaderboardsTest, ANewNameFindsThenDownloadsAndReadsWaitUntilDone) {
    ASSERT_TRUE(manager->RetrieveLeaderboard("A", RETREQ_GLOBAL, 3, 0));
    EXPECT_TRUE(manager->IsLeaderboardPrepared("A"));
    EXPECT_EQ(manager->FindRecord("A")->findState, SteamLeaderboardsManager::kFindQueued);
    EXPECT_EQ(manager->GetLeaderboardRetrieveStatus("A"), RETSTATUS_WAIT);
    bool sawFound = false;
    ASSERT_TRUE(onlinetest::PumpUntil({ctx.get()}, [&] {
        if (manager->FindRecord("A")->findState == SteamLeaderboardsManager::kFound &&
            manager->GetLeaderboardRetrieveStatus("A") == RETSTATUS_WAIT)
            sawFound = true;
        return manager->RequestCount() == 0;
    }));
    EXPECT_TRUE(sawFound);
    EXPECT_EQ(manager->GetLeaderboardRetrieveStatus("A"), RETSTATUS_RETRIEVED);
    // Ascending: the lowest score is first.
    int32_t score = 0;
    const char* persona = nullptr;
    ASSERT_TRUE(manager->GetLeaderboardRetrievedEntry("A", 0, nullptr, &persona, &score, nullptr));
    EXPECT_EQ(score, 10);
    EXPECT_FALSE(manager->GetLeaderboardRetrievedEntry("A", 3, nullptr, nullptr, nullptr, nullptr));
    EXPECT_FALSE(manager->GetLeaderboardRetrievedEntry("A", -1, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(LeaderboardsTest, EntriesGiveNamesFriendsAndAtMostTwoDetails) {
    ASSERT_TRUE(manager->UpdateAndRetrieveLeaderboard("D", 50, 7, RETREQ_GLOBAL, 5, 0, false));
    EXPECT_TRUE(manager->HasPendingUploads());
    ASSERT_TRUE(Settle());
    EXPECT_FALSE(manager->HasPendingUploads());
    Control("seed", "score D 2 60 1 2 3 4\n");
    ASSERT_TRUE(manager->RetrieveLeaderboard("D", RETREQ_GLOBAL, 5, 0));
    ASSERT_TRUE(Settle());
    ASSERT_EQ(manager->GetLeaderboardRetrieveStatus("D"), RETSTATUS_RETRIEVED);

    struct Row {
        int32_t score;
        std::string persona;
        bool isFriend;
        std::vector<int32_t> details;
    } expected[] = {{60, "Friend", true, {1, 2}}, {50, "Me", false, {7}}};
    for (int32_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        uint32_t rank = 0;
        const char* persona = nullptr;
        int32_t score = 0;
        bool isFriend = false;
        ASSERT_TRUE(manager->GetLeaderboardRetrievedEntry("D", i, &rank, &persona, &score, &isFriend));
        EXPECT_EQ(rank, static_cast<uint32_t>(i + 1));
        EXPECT_EQ(score, expected[i].score);
        EXPECT_EQ(std::string(persona), expected[i].persona);
        EXPECT_EQ(isFriend, expected[i].isFriend);
        int32_t count = -1;
        const int32_t* details = nullptr;
        ASSERT_TRUE(manager->GetLeaderboardRetrievedEntryDetails("D", i, &count, &details));
        EXPECT_EQ(std::vector<int32_t>(details, details + count), expected[i].details);
        int32_t first = 0;
        EXPECT_TRUE(manager->GetLeaderboardRetrievedEntryDetail("D", i, &first));
        EXPECT_EQ(first, expected[i].details[0]);
    }
    int32_t count = 0;
    EXPECT_FALSE(manager->GetLeaderboardRetrievedEntryDetails("D", 0, &count, nullptr));
}

TEST_F(LeaderboardsTest, KeptUploadsSurviveResetNonUpdateRequests) {
    ASSERT_TRUE(manager->PrepareLeaderboard("X", true));  // its find is in flight
    ASSERT_TRUE(manager->InFlight());
    ASSERT_TRUE(manager->UpdateLeaderboard("X", 5, 70, true));
    ASSERT_TRUE(manager->UpdateAndRetrieveLeaderboard("Y", 9, 3, RETREQ_GLOBAL, 5, 0, false));
    ASSERT_TRUE(manager->RetrieveLeaderboard("Z", RETREQ_GLOBAL, 5, 0));
    ASSERT_TRUE(manager->RetrieveLeaderboard("X", RETREQ_GLOBAL, 5, 0));
    ASSERT_EQ(manager->RequestCount(), 5u);

    manager->ResetNonUpdateRequests();
    ASSERT_EQ(manager->RequestCount(), 3u);
    EXPECT_EQ(manager->RequestAt(0)->kind, SteamLeaderboardsManager::kRequestFind);
    EXPECT_EQ(manager->RequestAt(1)->kind, SteamLeaderboardsManager::kRequestUpload);
    const SteamLeaderboardsManager::Request* y = manager->RequestAt(2);
    EXPECT_EQ(y->kind, SteamLeaderboardsManager::kRequestUpload);
    EXPECT_STREQ(y->name.CStr(), "Y");
    ASSERT_EQ(y->details.Count(), 1u);
    EXPECT_EQ(y->details[0], 3);
    // Z's find was still queued: its record is gone. X's download was dropped under the
    // in-flight find of the same record, which therefore left too.
    EXPECT_EQ(manager->FindRecord("Z"), nullptr);
    EXPECT_EQ(manager->FindRecord("X"), nullptr);
    EXPECT_TRUE(manager->HasPendingUploads());

    ASSERT_TRUE(Settle());
    EXPECT_FALSE(manager->HasPendingUploads());
    EXPECT_NE(Control("leaderboard", "X").find("1 1 5"), std::string::npos);
    EXPECT_NE(Control("leaderboard", "Y").find("1 1 9"), std::string::npos);
    EXPECT_EQ(manager->GetLeaderboardRetrieveStatus("Y"), RETSTATUS_FAILED);  // became a plain upload
}

// The front request stays even when the reset drops its record (a download of the same
// board behind it): its find still answers, and the score goes up.
TEST_F(LeaderboardsTest, TheFrontUploadSurvivesTheLossOfItsRecord) {
    ASSERT_TRUE(manager->UpdateLeaderboard("W", 8, false));  // in flight: its find
    ASSERT_TRUE(manager->InFlight());
    ASSERT_TRUE(manager->RetrieveLeaderboard("W", RETREQ_GLOBAL, 5, 0));
    manager->ResetNonUpdateRequests();
    EXPECT_EQ(manager->FindRecord("W"), nullptr);
    ASSERT_TRUE(Settle());
    EXPECT_FALSE(manager->HasPendingUploads());
    EXPECT_NE(Control("leaderboard", "W").find("1 1 8"), std::string::npos) << Control("leaderboard", "W");
    EXPECT_TRUE(manager->IsLeaderboardPrepared("W"));
}

// Ranges are script numbers: the extremes wrap as 32-bit words instead of overflowing,
// and each request still settles.
TEST_F(LeaderboardsTest, ExtremeRangesSettle) {
    const int32_t cases[][3] = {
        {RETREQ_GLOBAL, 10, INT32_MAX},
        {RETREQ_GLOBAL, INT32_MAX, 5},
        {RETREQ_AROUNDUSER, INT32_MIN, INT32_MAX},
        {RETREQ_AROUNDUSER, INT32_MAX, INT32_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c[0]) + " " + std::to_string(c[1]) + " " + std::to_string(c[2]));
        ASSERT_TRUE(manager->RetrieveLeaderboard("G", c[0], c[1], c[2]));
        ASSERT_TRUE(Settle());
        EXPECT_NE(manager->GetLeaderboardRetrieveStatus("G"), RETSTATUS_WAIT);
    }
}

TEST_F(LeaderboardsTest, AFindWithoutAHandleFailsItsRequestAndTheNextRuns) {
    const std::string tooLong(261, 'n');
    ASSERT_TRUE(manager->RetrieveLeaderboard(tooLong.c_str(), RETREQ_GLOBAL, 5, 0));
    ASSERT_TRUE(manager->UpdateLeaderboard(tooLong.c_str(), 5, false) == false);  // its find already failed
    EXPECT_FALSE(manager->IsLeaderboardPrepared(tooLong.c_str()));
    EXPECT_FALSE(manager->PrepareLeaderboard(tooLong.c_str(), true));
    EXPECT_EQ(manager->GetLeaderboardRetrieveStatus(tooLong.c_str()), RETSTATUS_FAILED);
    EXPECT_EQ(manager->RequestCount(), 0u);
    EXPECT_FALSE(manager->HasPendingUploads());

    ASSERT_TRUE(manager->RetrieveLeaderboard("G", RETREQ_GLOBAL, 5, 0));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(manager->GetLeaderboardRetrieveStatus("G"), RETSTATUS_RETRIEVED);
}

TEST_F(LeaderboardsTest, ALostBrokerFailsTheRequestInFlightAndTheQueueDrains) {
    ASSERT_TRUE(manager->RetrieveLeaderboard("G", RETREQ_GLOBAL, 5, 0));
    ASSERT_TRUE(manager->UpdateLeaderboard("G", 5, false));
    broker.reset();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(manager->GetLeaderboardRetrieveStatus("G"), RETSTATUS_FAILED);
    EXPECT_FALSE(manager->HasPendingUploads());
    // Later requests fail at once instead of waiting.
    EXPECT_TRUE(manager->RetrieveLeaderboard("new", RETREQ_GLOBAL, 5, 0));
    EXPECT_EQ(manager->RequestCount(), 0u);
    EXPECT_EQ(manager->GetLeaderboardRetrieveStatus("new"), RETSTATUS_FAILED);
}

TEST_F(LeaderboardsTest, ClearDuringADownloadLeavesNothingForTheLateResult) {
    ASSERT_TRUE(manager->RetrieveLeaderboard("G", RETREQ_GLOBAL, 50, 0));
    ASSERT_TRUE(onlinetest::PumpUntil({ctx.get()}, [&] {
        const SteamLeaderboardsManager::Record* r = manager->FindRecord("G");
        return r && r->findState == SteamLeaderboardsManager::kFound;
    }));
    ASSERT_TRUE(manager->InFlight());  // the download is out
    manager->Clear();
    EXPECT_EQ(manager->RequestCount(), 0u);
    EXPECT_EQ(manager->FindRecord("G"), nullptr);
    manager.reset();  // the late result must not reach a freed manager either
    onlinetest::PumpUntil({ctx.get()}, [] { return false; }, 100);
}

}  // namespace
