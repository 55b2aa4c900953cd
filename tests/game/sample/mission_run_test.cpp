// test-sanitize: thread address
// test-depends: quorvel2 sample_data online_broker
// test-timeout: 900
// The sample mission played by the real program, headless and one fixed step a frame,
// against a broker seeded with the mission's boards: it plays from the scenario to its
// result line, records it in the profile (its files decoded by cloudfile.py) and ends the
// program by itself; each run plays as an account of its own. Its saved frames and its
// mixed sound pass the independent checks (mission_pictures_check.py,
// mission_sound_check.py). The same seed plays the same mission again, without sound: the
// same result line, the same results file apart from its stamp, the same frames within the
// picture check's tolerance. On the real clock, eight times as fast, it plays the same
// mission; another seed plays a mission of its own. A short run saving every frame shows
// the mission's own HUD values in the first frame that shows the HUD.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <utility>

#include "../../platform/online/OnlineTestUtil.h"
#include "SampleTestSupport.h"

namespace {

using namespace sampletest;

const std::string kChecks = PROJECT_SOURCE_ROOT "/tests/game/sample/";
const std::string kCloudFile = PROJECT_SOURCE_ROOT "/tests/support/cloudfile.py";
// Where a failed picture check leaves its marked pictures.
const std::string kPictureFailures = PROJECT_BINARY_ROOT "/tests/mission_pictures";
const std::regex kResultLine(
    "Mission M01 finished: result (won|lost|abandoned) score (\\d+) survivors (\\d+) towers (\\d+) steps (\\d+)");

// How a run plays: the scenario's seed and time multiplier, the fixed-step clock, and what
// it saves besides its log.
struct Playing {
    int account = 1;  // each run plays as an account of its own, so that its record is its own
    int seed = 7;
    bool stepTime = true;
    int timeMultiplier = 1;
    bool pictures = false;
    bool sound = true;  // false: --no-sound and no --audio-out
    int frames = 20000;  // the safety cap
    int every = 30;      // frames between two saved pictures
};

struct Outcome {
    int status = -1;
    std::string log, folder;
    std::string Frames() const { return folder + "/frames"; }
    std::string Last() const { return folder + "/last.png"; }
    std::string Wav() const { return folder + "/mission.wav"; }
    // The log's end, for a failure's message.
    std::string Tail() const { return log.substr(log.size() > 6000 ? log.size() - 6000 : 0); }
};

// The status and the output of a command.
std::pair<int, std::string> Command(const std::string& command) {
    std::string out;
    int status = -1;
    if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        status = pclose(pipe);
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string ResultLine(const std::string& log) {
    std::smatch m;
    return std::regex_search(log, m, kResultLine) ? m.str(0) : std::string();
}

// A result line's score against its counts: survivors x 1000 + towers x 250 + whole
// seconds left x 10 (none left at the level's time limit), 0 when abandoned.
void ExpectScoreOfItsLine(const std::string& line) {
    std::smatch m, limit;
    ASSERT_TRUE(std::regex_search(line, m, kResultLine)) << line;
    const std::string level = ReadFile(PROJECT_SOURCE_ROOT "/data/scenes/Outpost/Outpost.level");
    ASSERT_TRUE(std::regex_search(level, limit, std::regex(" TimeLimit=(\\d+)")));
    const long steps = std::stol(m[5].str());
    const long secondsLeft = std::max(0L, long(std::floor(std::stod(limit[1].str()) - steps * (1.0 / 15))));
    const long expected = m[1].str() == "abandoned"
                              ? 0
                              : std::stol(m[3].str()) * 1000 + std::stol(m[4].str()) * 250 + secondsLeft * 10;
    EXPECT_EQ(std::stol(m[2].str()), expected) << line;
}

class MissionRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        broker = std::make_unique<onlinetest::BrokerProcess>(brokerDir.path.string());
        ASSERT_TRUE(broker->Start());
        const std::string seed = (brokerDir.path / "seed.txt").string();
        std::ofstream seeds(seed);
        for (int account = 1; account <= kAccounts; ++account) seeds << "user " << account << " Tester\n";
        seeds << "leaderboard M01 descending\nleaderboard GlobalScore descending\n";
        seeds.close();
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

    // A cloud file the profile stored for the account ("progress" or "results"), as it is,
    // and its values as cloudfile.py decodes them (empty when it does not decode whole).
    std::pair<std::string, std::string> ProfileFile(int account, const std::string& kind) {
        const std::string data = Ctl("file " + std::to_string(account) + "/" + kind);
        const std::string path = (root.path / (std::to_string(account) + "-" + kind + ".bin")).string();
        std::ofstream(path, std::ios::binary) << data;
        const auto [status, out] = Command(kPython + " '" + kCloudFile + "' show '" + path + "' " + kind);
        EXPECT_EQ(status, 0) << kind << " of account " << account << ": " << out;
        return {data, status == 0 ? out : std::string()};
    }

    // Plays the mission with a scenario of the seed in a user folder of its own, the
    // safety cap (20,000 frames unless told) and at most 180 s.
    Outcome Play(const std::string& name, const Playing& how) {
        const std::filesystem::path folder = root.path / name;
        std::filesystem::create_directories(folder / "home" / kProjectFolder);
        std::filesystem::create_directories(folder / "frames");
        std::ofstream(folder / "home" / kProjectFolder / "Scenario.lua")
            << "Scenario = {mode = \"mission\", seed = " << how.seed << ", timeMultiplier = " << how.timeMultiplier
            << "}\n";
        Outcome run;
        run.folder = folder.string();
        const std::string log = (folder / "log.txt").string();
        std::string options = " --headless --frames " + std::to_string(how.frames);
        if (how.stepTime) options += " --step-time";
        if (how.pictures)
            options += " --screenshot-every " + std::to_string(how.every) + " '" + run.Frames() + "' --screenshot '" +
                       run.Last() + "'";
        options += how.sound ? " --audio-out '" + run.Wav() + "'" : std::string(" --no-sound");
        const std::string command = "cd '" + folder.string() + "' && XDG_DATA_HOME='" + folder.string() +
                                    "/home' XDG_RUNTIME_DIR='" + folder.string() + "' ONLINE_BROKER_DIR='" +
                                    brokerDir.path.string() + "' ONLINE_ACCOUNT=" + std::to_string(how.account) +
                                    " ONLINE_PERSONA=Tester " +
                                    "EGL_PLATFORM=surfaceless timeout -s KILL 180 '" + kProgram + "' --log '" + log +
                                    "'" + options + " >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.log = ReadFile(log);
        return run;
    }

    static constexpr int kAccounts = 4;
    onlinetest::TempDir root, brokerDir;
    std::unique_ptr<onlinetest::BrokerProcess> broker;
};

TEST_F(MissionRunTest, PlaysFromTheScenarioToItsScoreSeenHeardAndTheSameOnEveryRun) {
    const Outcome first = Play("first", Playing{.pictures = true});
    ASSERT_EQ(first.status, 0) << first.Tail();
    for (const char* line : {"Loading script file: Main.lua", "Scenario: mode mission seed 7",
                             "Mission M01 started at step ", "Script errors: 0", "Game closed", "VornexEngine closed"})
        EXPECT_NE(first.log.find(line), std::string::npos) << line;
    EXPECT_EQ(first.log.find("is not function"), std::string::npos);
    EXPECT_EQ(first.log.find("LUA_ERROR"), std::string::npos);
#if defined(__SANITIZE_THREAD__)
    // The thread sanitizer's run: one mission from start to close with no report (a report
    // fails the program's exit status); the rest is the same program's logic, checked in
    // the other builds.
    return;
#endif

    // One result line, after the start, whose towers are the towers the run destroyed.
    std::smatch result;
    ASSERT_TRUE(std::regex_search(first.log, result, kResultLine));
    EXPECT_EQ(CountOf(first.log, "Mission M01 finished:"), 1u);
    EXPECT_LT(first.log.find("Mission M01 started"), size_t(result.position(0)));
    EXPECT_EQ(CountOf(first.log, " destroyed at step "), std::stoul(result[4].str()));
    EXPECT_NE(result[1].str(), "abandoned") << "no one pressed a key";
    ExpectScoreOfItsLine(result.str(0));

    // The profile's record: the score on both boards (rank, account, score), the towers in
    // the stats, the mission's achievement for a win only.
    for (const char* board : {"M01", "GlobalScore"})
        EXPECT_NE(("\n" + Ctl(std::string("leaderboard ") + board)).find("\n1 1 " + result[2].str() + "\n"),
                  std::string::npos)
            << board;
    const std::string stats = Ctl("stats 1");
    EXPECT_NE(stats.find("\"CTowersDestroyed\":" + result[4].str() + ","), std::string::npos) << stats;
    EXPECT_NE(stats.find(std::string("\"M01\":") + (result[1].str() == "won" ? "1" : "0")), std::string::npos);

    // The profile's files, decoded: mission M01 holds the score, the distinctions the
    // script logged and the result's flag; the progress names M01 (1) the last finished.
    std::smatch distinctions;
    ASSERT_TRUE(std::regex_search(first.log, distinctions,
                                  std::regex("Mission M01 distinctions: Celerity (\\d+) Ruthlessness (\\d+) "
                                             "Efficiency (\\d+)")));
    const auto [results, resultValues] = ProfileFile(1, "results");
    const std::string flag = result[1].str() == "won" ? "Won" : "Lost";
    EXPECT_NE(resultValues.find("mission M01 score " + result[2].str() + " Celerity=" + distinctions[1].str() +
                                " Ruthlessness=" + distinctions[2].str() + " Efficiency=" + distinctions[3].str() +
                                " flags " + flag + "\n"),
              std::string::npos)
        << resultValues;
    const auto [progress, progressValues] = ProfileFile(1, "progress");
    EXPECT_NE(progressValues.find("finished 1 0 0 0\n"), std::string::npos) << progressValues;

    // Seen and heard.
    const auto pictures = Command(kPython + " '" + kChecks + "mission_pictures_check.py' check '" PROJECT_BINARY_ROOT
                                  "' '" + first.folder + "/log.txt' '" + first.Frames() + "' '" + first.Last() + "' '" +
                                  kPictureFailures + "'");
    EXPECT_EQ(pictures.first, 0) << pictures.second;
    const auto sound =
        Command(kPython + " '" + kChecks + "mission_sound_check.py' '" + first.Wav() + "' '" + first.folder + "/log.txt'");
    EXPECT_EQ(sound.first, 0) << sound.second;

    // The same seed without sound: the same mission, record and pictures.
    const Outcome second = Play("second", Playing{.account = 2, .pictures = true, .sound = false});
    ASSERT_EQ(second.status, 0) << second.Tail();
    EXPECT_EQ(ResultLine(second.log), result.str(0)) << "the same seed plays the same mission, heard or not";
    const std::string secondResults = ProfileFile(2, "results").first;
    ASSERT_GE(secondResults.size(), 16u) << "the second run stored its results";
    ASSERT_GE(results.size(), 16u);
    EXPECT_EQ(secondResults.substr(12), results.substr(12)) << "the results apart from their stamp";
    const auto same = Command(kPython + " '" + kChecks + "mission_pictures_check.py' same '" + first.Frames() + "' '" +
                              second.Frames() + "' '" + kPictureFailures + "'");
    EXPECT_EQ(same.first, 0) << same.second;

    // On the real clock, eight times as fast: the steps are the same, so is the mission.
    const Outcome fast = Play("fast", Playing{.account = 3, .stepTime = false, .timeMultiplier = 8});
    ASSERT_EQ(fast.status, 0) << fast.Tail();
    EXPECT_NE(fast.log.find("time multiplier 8.00"), std::string::npos);
    EXPECT_EQ(ResultLine(fast.log), result.str(0)) << "the game's time decides, not the frames";

    // Another seed plays to a result line of its own.
    const Outcome other = Play("other", Playing{.account = 4, .seed = 8});
    ASSERT_EQ(other.status, 0) << other.Tail();
    EXPECT_NE(other.log.find("Scenario: mode mission seed 8"), std::string::npos);
    EXPECT_EQ(CountOf(other.log, "Mission M01 finished:"), 1u);
    ASSERT_FALSE(ResultLine(other.log).empty()) << other.Tail();
    ExpectScoreOfItsLine(ResultLine(other.log));
}

// The HUD's first frame holds the mission's counters, not the recipe's zeros: every frame
// of the mission's first steps is saved.
TEST_F(MissionRunTest, TheHudShowsTheMissionsValuesFromItsFirstFrame) {
    const Outcome run = Play("hud", Playing{.pictures = true, .sound = false, .frames = 30, .every = 1});
    ASSERT_EQ(run.status, 0) << run.Tail();
    ASSERT_NE(run.log.find("Mission M01 started at step "), std::string::npos) << run.Tail();
    const auto hud = Command(kPython + " '" + kChecks + "mission_pictures_check.py' hud '" PROJECT_BINARY_ROOT "' '" +
                             run.Frames() + "' '" + kPictureFailures + "'");
    EXPECT_EQ(hud.first, 0) << hud.second;
}

}  // namespace
