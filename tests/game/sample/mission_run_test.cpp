// test-depends: quorvel2 sample_data online_broker
// test-timeout: 600
// The sample mission played by the real program, headless and one fixed step a frame,
// against a broker seeded with the mission's boards: it plays from the scenario to its
// result line, records it in the profile and ends the program by itself; a second run with
// the same seed plays the same mission.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>

#include "../../platform/online/OnlineTestUtil.h"

namespace {

const std::string kProgram = PROJECT_BINARY_ROOT "/app/quorvel2";
const std::string kBrokerTool = PROJECT_BINARY_ROOT "/tools/online_broker";
// The project folder below the user folder, where the program reads its scenario.
const std::string kProjectFolder = "Brintavolque/Quorvel 2";
const std::regex kResultLine(
    "Mission M01 finished: result (won|lost|abandoned) score (\\d+) survivors (\\d+) towers (\\d+) steps (\\d+)");

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

size_t CountOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

struct Outcome {
    int status = -1;
    std::string log;
};

class MissionRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        broker = std::make_unique<onlinetest::BrokerProcess>(brokerDir.path.string());
        ASSERT_TRUE(broker->Start());
        const std::string seed = (brokerDir.path / "seed.txt").string();
        std::ofstream(seed) << "user 1 Tester\nleaderboard M01 descending\nleaderboard GlobalScore descending\n";
        const std::string command = "'" + kBrokerTool + "' ctl --dir '" + brokerDir.path.string() + "' seed '" + seed + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    void TearDown() override { broker.reset(); }

    // The output of `online_broker ctl` with the arguments.
    std::string Ctl(const std::string& arguments) const {
        const std::string command = "'" + kBrokerTool + "' ctl --dir '" + brokerDir.path.string() + "' " + arguments;
        std::string out;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[4096];
            for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
            pclose(pipe);
        }
        return out;
    }

    // Plays the mission with a scenario of the seed in a user folder of its own, the
    // safety cap 20,000 frames and at most 180 s.
    Outcome Play(const std::string& name, int seed) {
        const std::filesystem::path folder = root.path / name;
        std::filesystem::create_directories(folder / "home" / kProjectFolder);
        std::ofstream(folder / "home" / kProjectFolder / "Scenario.lua")
            << "Scenario = {mode = \"mission\", seed = " << seed << "}\n";
        const std::string log = (folder / "log.txt").string();
        const std::string command = "cd '" + folder.string() + "' && XDG_DATA_HOME='" + folder.string() +
                                    "/home' XDG_RUNTIME_DIR='" + folder.string() + "' ONLINE_BROKER_DIR='" +
                                    brokerDir.path.string() + "' ONLINE_ACCOUNT=1 ONLINE_PERSONA=Tester " +
                                    "EGL_PLATFORM=surfaceless timeout -s KILL 180 '" + kProgram + "' --log '" + log +
                                    "' --headless --step-time --frames 20000 >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        Outcome run;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.log = ReadFile(log);
        return run;
    }

    onlinetest::TempDir root, brokerDir;
    std::unique_ptr<onlinetest::BrokerProcess> broker;
};

TEST_F(MissionRunTest, PlaysFromTheScenarioToItsScoreAndTheSameOnEveryRun) {
    const Outcome first = Play("first", 7);
    ASSERT_EQ(first.status, 0) << first.log.substr(first.log.size() > 6000 ? first.log.size() - 6000 : 0);
    for (const char* line : {"Loading script file: Main.lua", "Scenario: mode mission seed 7",
                             "Mission M01 started at step ", "Script errors: 0", "Game closed", "VornexEngine closed"})
        EXPECT_NE(first.log.find(line), std::string::npos) << line;
    EXPECT_EQ(first.log.find("is not function"), std::string::npos);
    EXPECT_EQ(first.log.find("LUA_ERROR"), std::string::npos);

    // One result line, after the start, whose towers are the towers the run destroyed.
    std::smatch result;
    ASSERT_TRUE(std::regex_search(first.log, result, kResultLine));
    EXPECT_EQ(CountOf(first.log, "Mission M01 finished:"), 1u);
    EXPECT_LT(first.log.find("Mission M01 started"), size_t(result.position(0)));
    EXPECT_EQ(CountOf(first.log, " destroyed at step "), std::stoul(result[4].str()));
    EXPECT_NE(result[1].str(), "abandoned") << "no one pressed a key";

    // The profile's record: the score on both boards (rank, account, score), the towers in
    // the stats, the mission's achievement for a win only.
    for (const char* board : {"M01", "GlobalScore"})
        EXPECT_NE(("\n" + Ctl(std::string("leaderboard ") + board)).find("\n1 1 " + result[2].str() + "\n"),
                  std::string::npos)
            << board;
    const std::string stats = Ctl("stats 1");
    EXPECT_NE(stats.find("\"CTowersDestroyed\":" + result[4].str() + ","), std::string::npos) << stats;
    EXPECT_NE(stats.find(std::string("\"M01\":") + (result[1].str() == "won" ? "1" : "0")), std::string::npos);

    const Outcome second = Play("second", 7);
    ASSERT_EQ(second.status, 0);
    std::smatch again;
    ASSERT_TRUE(std::regex_search(second.log, again, kResultLine));
    EXPECT_EQ(again.str(0), result.str(0)) << "the same seed plays the same mission";
}

}  // namespace
