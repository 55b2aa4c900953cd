// test-sanitize: address
// test-link: bindings
// test-depends: online_broker
// The leaderboard bindings against the broker program: a real `online_broker serve` in a
// child process, seeded and read back through `online_broker ctl`, its board compared
// with what scripts read through the game-delegate package.
#include "bindings/BindingsFixture.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "net/online/SteamLeaderboardsManager.h"
#include "platform/online/OnlineTestUtil.h"

namespace {

const std::map<uint32_t, std::string> kPersonas = {{1, "Me"},      {101, "Zoë Ünal"}, {102, "Bo"},  {103, "Cy"},
                                                   {104, "Di"},    {105, "Ed"},       {106, "Fa"},  {107, "Gu"},
                                                   {108, "Hal"},   {109, "Ivo"},      {110, "Jan"}};

// The output of `online_broker ctl --dir folder ARGUMENTS`, and its exit status.
std::string Ctl(const std::string& folder, const std::string& arguments, int* status) {
    const std::string command = std::string(PROJECT_BINARY_ROOT) + "/tools/online_broker ctl --dir '" + folder + "' " + arguments;
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        *status = -1;
        return out;
    }
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    *status = pclose(pipe);
    return out;
}

class LeaderboardsBrokerTest : public BindingsTest {
protected:
    void SetUp() override {
        BindingsTest::SetUp();
        broker = std::make_unique<onlinetest::BrokerProcess>(dir.path.string());
        ASSERT_TRUE(broker->Start());
        // "M01": ten scores, 1000 down to 550 (accounts 101 to 110); account 102 a friend
        // of the user, who has no score yet.
        std::string seed = "leaderboard M01 descending\nfriends 1 102\n";
        for (const auto& [account, persona] : kPersonas) seed += "user " + std::to_string(account) + " " + persona + "\n";
        for (uint32_t i = 0; i < 10; ++i) seed += "score M01 " + std::to_string(101 + i) + " " + std::to_string(1000 - 50 * i) + "\n";
        const std::string seedFile = (dir.path / "seed.txt").string();
        std::ofstream(seedFile) << seed;
        int status = 0;
        Ctl(dir.path.string(), "seed '" + seedFile + "'", &status);
        ASSERT_EQ(status, 0);

        online::ClientConfig config = onlinetest::Config(1, "Me");
        config.brokerDir = dir.path.string();
        std::string error;
        services = online::OnlineContext::Connect(config, &error);
        ASSERT_TRUE(services) << error;
        manager = std::make_unique<SteamLeaderboardsManager>(services.get());
        gLua.SetGlobalObject(manager.get(), "SteamLeaderboardsManager", "lb");
    }
    void TearDown() override {
        gLua.SetGlobalObject(nullptr, "SteamLeaderboardsManager", "lb");
        manager.reset();
        services.reset();
        if (broker) {
            EXPECT_TRUE(onlinetest::ExitedNormally(broker->Stop())) << "the broker's exit";
        }
        broker.reset();
        BindingsTest::TearDown();
    }
    bool Settle() {
        return onlinetest::PumpUntil({services.get()}, [&] { return manager->RequestCount() == 0 && !manager->InFlight(); });
    }

    onlinetest::TempDir dir;
    std::unique_ptr<onlinetest::BrokerProcess> broker;
    std::unique_ptr<online::OnlineContext> services;
    std::unique_ptr<SteamLeaderboardsManager> manager;
};

TEST_F(LeaderboardsBrokerTest, ScriptReadsEqualTheBrokersBoard) {
    EXPECT_EQ(Eval("lb:GetLeaderboardRetrieveStatus('M99')"), "2");
    EXPECT_EQ(Eval("lb:UpdateAndRetrieveLeaderboard('M01', 500, RETREQ_AROUNDUSER, 3, 0, false)"), "true");
    EXPECT_EQ(Eval("lb:GetLeaderboardRetrieveStatus('M01') == RETSTATUS_WAIT"), "true") << "under way";
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Eval("lb:GetLeaderboardRetrieveStatus('M01') == RETSTATUS_RETRIEVED"), "true");
    EXPECT_EQ(Values("local n, row = lb:GetLeaderboardRetrievedEntriesNumber('M01', -1) "
                     "return n, select(3, lb:GetLeaderboardRetrievedEntry('M01', row, 0, '', 0, false))"),
              "2 Me 500 false")
        << "around the user, who is last: the row before and the user's";

    ASSERT_EQ(Eval("lb:RetrieveLeaderboard('M01', RETREQ_GLOBAL, 20, 0)"), "true");
    ASSERT_TRUE(Settle());
    int status = 0;
    std::istringstream board(Ctl(dir.path.string(), "leaderboard M01", &status));
    ASSERT_EQ(status, 0);
    int rows = 0;
    for (uint32_t rank, account; board >> rank;) {
        int32_t score = 0;
        board >> account >> score;
        const std::string expected = std::to_string(rank) + " " + kPersonas.at(account) + " " + std::to_string(score) + " " +
                                     (account == 102 ? "true" : "false");
        EXPECT_EQ(Values("local r = {lb:GetLeaderboardRetrievedEntry('M01', " + std::to_string(rows) +
                         ", 0, '', 0, false)} assert(r[1] == true) return r[2], r[3], r[4], r[5]"),
                  expected)
            << "row " << rows;
        ++rows;
    }
    EXPECT_EQ(rows, 11) << "ten seeded scores and the user's";
    EXPECT_EQ(Values("return lb:GetLeaderboardRetrievedEntry('M01', 11, 7, 'in', 8, true)"), "false 7 in 8 true");
    EXPECT_EQ(Values("return lb:GetLeaderboardRetrievedEntryDetail('M01', 11, 5)"), "false 5");
}

TEST_F(LeaderboardsBrokerTest, BothUploadFormsReachTheManager) {
    struct Case {
        const char* call;
        int32_t score;
        int32_t detail;  // -1: none expected
    } cases[] = {
        {"lb:UpdateLeaderboard('M01', 600, 7, true)", 600, 7},
        {"lb:UpdateLeaderboard('M01', 610, true)", 610, -1},
        {"lb:UpdateLeaderboard('M01', 620, 'x', true)", 620, -1},  // the earlier form
        {"lb:UpdateAndRetrieveLeaderboard('M01', 630, 9, RETREQ_GLOBAL, 5)", 630, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.call);
        ASSERT_EQ(Eval(c.call), "true");
        ASSERT_TRUE(Settle());
        int status = 0;
        const std::string board = Ctl(dir.path.string(), "leaderboard M01", &status);
        EXPECT_NE(board.find(" 1 " + std::to_string(c.score) + "\n"), std::string::npos) << board;
        if (c.detail < 0) continue;
        ASSERT_EQ(Eval("lb:RetrieveLeaderboard('M01', RETREQ_AROUNDUSER, 1, 0)"), "true");
        ASSERT_TRUE(Settle());
        EXPECT_EQ(Values("return lb:GetLeaderboardRetrievedEntryDetail('M01', 0, -1)"), "true " + std::to_string(c.detail));
    }
}

}  // namespace
