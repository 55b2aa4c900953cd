// The progress analyzer against ascending boards of the in-process broker, checked
// against tests/support/progress_bruteforce.py; refusals, a board sorted the wrong way,
// a log-out under a window, and the others kept in a crowded area.
// test-link: broker_server
// test-timeout: 240
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ProfileTestSupport.h"
#include "core/math/MathHelpers.h"
#include "net/online/PCMacProgressAnalyzer.h"
#include "net/online/PCMacProgressData.h"
#include "net/online/SteamLeaderboardsManager.h"

namespace {

constexpr int kMaxUpdates = 20000;

struct Player {
    uint32_t account;
    int score;
    bool isFriend, isUser;
    int value;
};

class ProgressAnalyzerTest : public profiletest::BrokerTest {
protected:
    // Seeds board "P" (ascending) with the players and signs in account 1.
    void Seed(const std::vector<Player>& players, const char* order = "ascending", const std::string& board = "P") {
        std::string seed = "user 1 Me\nuser 2 Ally\nuser 3 Buddy\nfriends 1 2\nfriends 1 3\nleaderboard " + board + " ";
        seed += order;
        seed += "\n";
        for (const Player& p : players)
            seed += "score " + board + " " + std::to_string(p.account) + " " + std::to_string(p.score) + " " +
                    std::to_string(p.value) + "\n";
        Control("seed", seed);
        ctx = Client(1, "Me");
        ASSERT_TRUE(ctx);
        manager = std::make_unique<SteamLeaderboardsManager>(ctx.get());
    }
    void TearDown() override { manager.reset(); }

    // Updates (pumping the services between steps) until the analysis ends; the number
    // of updates, or -1 when it did not end.
    int Run(PCMacProgressAnalyzer& analyzer, PCMacProgressData& data, const std::function<void(int)>& each = nullptr) {
        for (int i = 0; i < kMaxUpdates; ++i) {
            if (analyzer.Update(&data)) return i;
            if (each) each(i);
            onlinetest::PumpUntil({ctx.get()}, [&] { return manager->RequestCount() == 0 && !manager->InFlight(); });
        }
        return -1;
    }

    std::unique_ptr<online::OnlineContext> ctx;
    std::unique_ptr<SteamLeaderboardsManager> manager;
};

// Players with scores 0 .. areas (areas = finished) drawn from a fixed sequence; account
// 2 and 3 are friends, account 1 the user when asked for.
std::vector<Player> Board(int players, int areas, bool withUser) {
    std::vector<Player> board;
    uint32_t x = 12345u + static_cast<uint32_t>(players * 7 + areas);
    for (int i = 0; i < players; ++i) {
        x = x * 1103515245u + 12345u;
        const uint32_t account = i == 0 && withUser ? 1u : i == 1 ? 2u : i == 2 ? 3u : 1000u + static_cast<uint32_t>(i);
        board.push_back({account, static_cast<int>((x >> 8) % static_cast<uint32_t>(areas + 1)), account == 2 || account == 3,
                         account == 1, static_cast<int>(x >> 20)});
    }
    return board;
}

std::string BruteForce(const std::vector<Player>& board, int areas) {
    const std::string path = PROJECT_BINARY_ROOT "/progress_board_" + std::to_string(::getpid()) + ".txt";
    {
        std::ofstream out(path);
        for (const Player& p : board) out << p.score << " " << p.isFriend << " " << p.isUser << " " << p.value << "\n";
    }
    const std::string command = "/usr/bin/python3 " PROJECT_SOURCE_ROOT "/tests/support/progress_bruteforce.py " +
                                std::to_string(areas) + " " + path;
    std::string result;
    if (FILE* f = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, f)) result += buffer;
        if (::pclose(f) != 0) result.clear();  // a reference that crashed or failed gives nothing
    }
    std::remove(path.c_str());
    return result;
}

std::string Describe(const PCMacProgressData& data) {
    std::ostringstream out;
    uint32_t area = PROGRESS_INVALID_INDEX;
    int32_t value = 0;
    data.GetUserData(&area, &value);
    out << "user " << area << " " << value << "\n";
    for (uint32_t i = 0; i < data.GetAreasNumber(); ++i)
        out << data.GetArea(i)->GetDeathsNumber() << " " << data.GetArea(i)->GetFriendsEntriesNumber() << "\n";
    return out.str();
}

TEST_F(ProgressAnalyzerTest, MatchesTheBruteForce) {
    struct Case {
        int players, areas;
        bool withUser;
    } cases[] = {
        {0, 5, true},    {1, 1, true},      {1, 5, false},   {25, 1, false},    {25, 20, true},
        {1000, 5, true}, {1000, 100, false}, {1000, 1, true}, {5000, 100, true}, {3000, 20, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.players) + " players, " + std::to_string(c.areas) + " areas");
        const std::vector<Player> board = Board(c.players, c.areas, c.withUser);
        const std::string name = "P" + std::to_string(&c - cases);
        Seed(board, "ascending", name);
        PCMacProgressAnalyzer analyzer(manager.get());
        PCMacProgressData data;
        ASSERT_TRUE(analyzer.StartAnalyze(name.c_str(), &data, static_cast<uint32_t>(c.areas)));
        ASSERT_GE(Run(analyzer, data), 0);
        EXPECT_EQ(analyzer.GetState(), PCMacProgressAnalyzer::kIdle);
        EXPECT_EQ(Describe(data), BruteForce(board, c.areas));
        if (c.withUser && c.players > 0) {
            NameString me("Me");
            EXPECT_EQ(data.userName, me);
        }
        manager.reset();
        ctx.reset();
    }
}

TEST_F(ProgressAnalyzerTest, RefusesAreaCountsOutsideOneToHundred) {
    Seed(Board(10, 3, true));
    PCMacProgressData data;
    for (uint32_t areas : {0u, 101u}) {
        PCMacProgressAnalyzer analyzer(manager.get());
        EXPECT_FALSE(analyzer.StartAnalyze("P", &data, areas)) << areas;
        EXPECT_EQ(analyzer.GetState(), PCMacProgressAnalyzer::kIdle);
    }
    PCMacProgressAnalyzer analyzer(manager.get());
    EXPECT_FALSE(analyzer.StartAnalyze("", &data, 3));
    EXPECT_TRUE(analyzer.StartAnalyze("P", &data, 100));
    EXPECT_FALSE(analyzer.StartAnalyze("P", &data, 5)) << "a second start while busy";
}

// 25 strangers in area 1 keep exactly 10 others, the same 10 for the same seed.
TEST_F(ProgressAnalyzerTest, CrowdedAreaKeepsTenOthersDeterministically) {
    std::vector<Player> board;
    for (int i = 0; i < 25; ++i) board.push_back({1000u + static_cast<uint32_t>(i), 1, false, false, i});
    board.push_back({1, 0, false, true, 7});
    Seed(board);
    std::vector<std::vector<int32_t>> runs;
    for (int run = 0; run < 2; ++run) {
        gSharedRandomState.SetState(99);
        PCMacProgressAnalyzer analyzer(manager.get());
        PCMacProgressData data;
        ASSERT_TRUE(analyzer.StartAnalyze("P", &data, 3));
        ASSERT_GE(Run(analyzer, data), 0);
        ASSERT_EQ(data.GetArea(1)->GetOtherEntriesNumber(), 10u);
        EXPECT_EQ(data.GetArea(1)->GetDeathsNumber(), 25u);
        EXPECT_EQ(data.GetArea(0)->GetDeathsNumber(), 1u);
        std::vector<int32_t> values;
        for (uint32_t i = 0; i < 10; ++i) {
            int32_t v = -1;
            ASSERT_TRUE(data.GetArea(1)->GetOtherEntry(i, nullptr, &v));
            values.push_back(v);
        }
        runs.push_back(values);
    }
    EXPECT_EQ(runs[0], runs[1]);
}

// A board whose scores fall, and one whose windows fail (log-out under a download): the
// analysis still ends idle.
TEST_F(ProgressAnalyzerTest, UntrustedBoardsEndWithinBoundedUpdates) {
    Seed(Board(3000, 20, true), "descending");
    {
        PCMacProgressAnalyzer analyzer(manager.get());
        PCMacProgressData data;
        ASSERT_TRUE(analyzer.StartAnalyze("P", &data, 20));
        EXPECT_GE(Run(analyzer, data), 0);
        EXPECT_EQ(analyzer.GetState(), PCMacProgressAnalyzer::kIdle);
    }
    {
        PCMacProgressAnalyzer analyzer(manager.get());
        PCMacProgressData data;
        ASSERT_TRUE(analyzer.StartAnalyze("P", &data, 20));
        int windows = 0;
        EXPECT_GE(Run(analyzer, data,
                      [&](int) {
                          if (analyzer.GetState() == PCMacProgressAnalyzer::kWaitWindow && ++windows % 3 == 0)
                              manager->Clear();
                      }),
                  0);
        EXPECT_EQ(analyzer.GetState(), PCMacProgressAnalyzer::kIdle);
    }
}

TEST_F(ProgressAnalyzerTest, CopyKeepsTheAnalysisGoing) {
    Seed(Board(500, 5, true));
    PCMacProgressAnalyzer analyzer(manager.get());
    PCMacProgressData data;
    ASSERT_TRUE(analyzer.StartAnalyze("P", &data, 5));
    analyzer.Update(&data);
    PCMacProgressAnalyzer copy(analyzer);
    EXPECT_EQ(copy.GetState(), analyzer.GetState());
    ASSERT_GE(Run(copy, data), 0);
    EXPECT_EQ(Describe(data), BruteForce(Board(500, 5, true), 5));
}

}  // namespace
