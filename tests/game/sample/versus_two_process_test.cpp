// test-depends: quorvel2 sample_data online_broker
// test-timeout: 900
// Two copies of the real program play the sample's versus match through the broker's TCP
// listener, each as its own user: the host (the squad) invites its friend, both meet in
// the lobby, the host spawns the match's entities and the guest sees them as proxies and
// turns the shields; both end with the same result, the same entity states and their
// stats raised. The same over a lossy link; a guest killed in the middle leaves the host
// with an abandoned match that it closes normally.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "../../platform/online/OnlineTestUtil.h"
#include "SampleTestSupport.h"

namespace {

using namespace sampletest;

const std::string kConvergenceCheck = PROJECT_SOURCE_ROOT "/tests/game/sample/versus_convergence_check.py";
// Personas beyond ASCII: the lobby shows them and the logs must name them exactly.
const std::string kHostPersona = "H\u00f4st \u00c6r\u00f8";
const std::string kGuestPersona = "G\u00e4st \u00d1and\u00fa";
const int kProgramSeconds = 240;
const std::regex kResultLine("Versus result: winner (squad|towers) score \\d+ steps \\d+");

// The "<prefix> ID CLASS" pairs of a log, e.g. the host's spawns or the guest's proxies,
// sorted and with every repetition kept.
std::vector<std::string> Pairs(const std::string& log, const std::string& prefix) {
    std::vector<std::string> out;
    const std::regex line(prefix + " (\\d+ \\w+)");
    for (std::sregex_iterator i(log.begin(), log.end(), line), end; i != end; ++i) out.push_back((*i)[1]);
    std::sort(out.begin(), out.end());
    return out;
}

// The value of a stat in `ctl stats` JSON output (-1 when absent).
long Stat(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":";
    const size_t at = json.find(key);
    return at == std::string::npos ? -1 : std::strtol(json.c_str() + at + key.size(), nullptr, 10);
}

// What a side did, for a failure's message.
std::string Told(const std::string& log) {
    static const std::regex kStory("Versus|Lobby|Chat|Shield call|Spawned|Proxy|rror|arning|closed");
    return Story(log, kStory);
}

// How a side ended, for a failure of its exit: the log's last lines.
std::string Tail(const std::string& log) { return log.substr(log.size() > 5000 ? log.size() - 5000 : 0); }

struct Side {
    pid_t pid = -1;
    int status = -1;
    std::string logPath;
    std::string log;
};

class VersusTwoProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(brokerDir);
        secretFile = (root.path / "secret").string();
        std::ofstream(secretFile) << "the two players of the sample's versus match";
        ASSERT_TRUE(broker.StartListening("127.0.0.1:0", secretFile, &port));
        const std::string seed = (root.path / "seed.txt").string();
        std::ofstream(seed) << "user 1 " << kHostPersona << "\nuser 2 " << kGuestPersona << "\nfriends 1 2\n";
        ASSERT_EQ(Ctl("seed '" + seed + "'").find("error"), std::string::npos);
    }

    std::string Ctl(const std::string& arguments) const {
        const std::string command = "'" + kBrokerTool + "' ctl --dir '" + brokerDir.string() + "' " + arguments + " 2>&1";
        std::string out;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[4096];
            for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
            pclose(pipe);
        }
        return out;
    }

    // Starts one side with its scenario in a user folder of its own, under the link's
    // conditions.
    Side Start(const std::string& name, const std::string& mode, uint32_t account, const std::string& persona,
               const std::vector<std::string>& env) {
        const std::filesystem::path folder = root.path / name;
        std::filesystem::create_directories(folder / "home" / kProjectFolder);
        std::ofstream(folder / "home" / kProjectFolder / "Scenario.lua") << "Scenario = {mode = \"" << mode << "\", seed = 5}\n";
        Side side;
        side.logPath = (folder / "log.txt").string();
        std::vector<std::string> all = {"XDG_DATA_HOME=" + (folder / "home").string(), "XDG_RUNTIME_DIR=" + folder.string(),
                                        "ONLINE_ACCOUNT=" + std::to_string(account), "ONLINE_PERSONA=" + persona,
                                        "ONLINE_BROKER_SECRET_FILE=" + secretFile, "EGL_PLATFORM=surfaceless"};
        all.insert(all.end(), env.begin(), env.end());
        side.pid = fork();
        if (side.pid == 0) {
            if (chdir(folder.c_str()) != 0) _exit(126);
            if (FILE* out = std::fopen((folder / "out.txt").c_str(), "w")) {
                dup2(fileno(out), 1);
                dup2(fileno(out), 2);
            }
            for (const std::string& e : all) putenv(strdup(e.c_str()));
            std::vector<std::string> args = {kProgram, "--headless", "--log", side.logPath, "--broker", "127.0.0.1:" + std::to_string(port)};
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(kProgram.c_str(), argv.data());
            _exit(127);
        }
        return side;
    }

    using Clock = std::chrono::steady_clock;

    // Waits for one side until the deadline the two sides share, killing it past that.
    static void Finish(Side& side, Clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::seconds>(deadline - Clock::now()).count();
        side.status = onlinetest::WaitOrKill(side.pid, int(std::max<long long>(left, 0)));
        side.log = ReadFile(side.logPath);
    }

    // Plays one match to its end under the link conditions.
    void Play(const std::vector<std::string>& link, Side& host, Side& guest) {
        std::vector<std::string> hostEnv = link;
        hostEnv.push_back("ONLINE_AUTO_INVITE=2");
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(kProgramSeconds);
        host = Start("host", "versus-host", 1, kHostPersona, hostEnv);
        guest = Start("guest", "versus-guest", 2, kGuestPersona, link);
        Finish(guest, deadline);
        Finish(host, deadline);
    }

    // Both sides ended normally with the same result, and agree on every entity.
    void ExpectAgreement(const Side& host, const Side& guest) {
        EXPECT_TRUE(onlinetest::ExitedNormally(host.status)) << host.status << "\n" << Tail(host.log);
        EXPECT_TRUE(onlinetest::ExitedNormally(guest.status)) << guest.status << "\n" << Tail(guest.log);
        std::smatch hostResult, guestResult;
        ASSERT_TRUE(std::regex_search(host.log, hostResult, kResultLine)) << Told(host.log);
        ASSERT_TRUE(std::regex_search(guest.log, guestResult, kResultLine)) << Told(guest.log);
        EXPECT_EQ(hostResult.str(0), guestResult.str(0));
        for (const Side* side : {&host, &guest}) {
            EXPECT_EQ(CountOf(side->log, "Versus result:"), 1u);
            EXPECT_EQ(side->log.find("is not function"), std::string::npos);
            EXPECT_NE(side->log.find("Script errors: 0"), std::string::npos);
            EXPECT_NE(side->log.find("VornexEngine closed"), std::string::npos);
        }
        EXPECT_EQ(Converged(host.logPath, guest.logPath), 0);
    }

    // The convergence check's exit status over two logs.
    static int Converged(const std::string& hostLog, const std::string& guestLog) {
        const std::string command = kPython + " '" + kConvergenceCheck + "' '" + hostLog + "' '" + guestLog + "'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    onlinetest::TempDir root;
    std::filesystem::path brokerDir = root.path / "broker";
    std::string secretFile;
    onlinetest::BrokerProcess broker{(root.path / "broker").string()};
    uint16_t port = 0;
};

const std::vector<std::string> kLink = {"ONLINE_PACKET_LATENCY_MS=20", "ONLINE_PACKET_JITTER_MS=10"};

TEST_F(VersusTwoProcessTest, TwoProgramsMeetPlayAndAgreeOnTheMatchAndItsRecord) {
    Side host, guest;
    Play(kLink, host, guest);
    ExpectAgreement(host, guest);

    // The check finds a guest whose entity stands elsewhere, turned, hurt or missing.
    std::smatch entity;
    const std::regex entityLine("Versus entity (\\d+ \\w+) (-?[\\d.]+) (-?[\\d.]+) (-?[\\d.]+) (\\d+)");
    ASSERT_TRUE(std::regex_search(guest.log, entity, entityLine)) << Told(guest.log);
    const std::string who = entity[1].str(), x = entity[2].str(), z = entity[3].str(), angle = entity[4].str(),
                      health = entity[5].str();
    const struct {
        const char* what;
        std::string line;
    } faults[] = {
        {"moved", who + " " + std::to_string(std::stod(x) + 0.5) + " " + z + " " + angle + " " + health},
        {"turned", who + " " + x + " " + z + " " + std::to_string(std::stod(angle) + 5) + " " + health},
        {"hurt", who + " " + x + " " + z + " " + angle + " " + std::to_string(std::stoi(health) + 1)},
        {"missing", ""},
    };
    for (const auto& f : faults) {
        const std::string tampered = (root.path / "tampered.txt").string();
        std::string text = guest.log;
        text.replace(size_t(entity.position(0)), size_t(entity.length(0)), f.line.empty() ? "" : "Versus entity " + f.line);
        std::ofstream(tampered) << text;
        EXPECT_EQ(Converged(host.logPath, tampered), 1) << f.what;
    }

    // The lobby: the guest's persona exactly, its readiness.
    EXPECT_NE(host.log.find("Lobby: member 1 " + kGuestPersona + "\n"), std::string::npos) << Told(host.log);
    const size_t guestReady = host.log.find("Lobby: member 1 ready"), start = host.log.find("Versus: start request");
    EXPECT_NE(guestReady, std::string::npos);
    EXPECT_LT(guestReady, start) << "the guest's readiness is seen before the lobby starts the game";
    EXPECT_NE(host.log.find("Versus: player ready"), std::string::npos);

    // Every spawned entity reached the guest as a proxy, and nothing else did.
    const std::vector<std::string> spawned = Pairs(host.log, "Spawned"), proxies = Pairs(guest.log, "Proxy");
    EXPECT_FALSE(spawned.empty());
    EXPECT_EQ(spawned, proxies);

    // Every shield order the guest sent ran on the host, once; the greetings crossed.
    const size_t sent = CountOf(guest.log, "Shield call sent "), run = CountOf(host.log, "Shield call run ");
    EXPECT_GT(sent, 0u);
    EXPECT_EQ(run, sent);
    EXPECT_NE(host.log.find("Chat: " + kGuestPersona + ": Greetings from the towers"), std::string::npos);
    EXPECT_NE(guest.log.find("Chat: " + kHostPersona + ": Greetings from the squad"), std::string::npos);

    // Each side's stats: one game of its side, won or lost by the winner, on map 0.
    std::smatch result;
    ASSERT_TRUE(std::regex_search(host.log, result, kResultLine));
    const bool squadWon = result[1] == "squad";
    const std::string hostStats = Ctl("stats 1"), guestStats = Ctl("stats 2");
    const struct {
        const std::string& stats;
        const char* name;
        long value;
    } expected[] = {
        {hostStats, "MPUnrankedSquadGamesNum", 1}, {hostStats, "MPSquadWinsNum", squadWon},
        {hostStats, "MPSquadLossesNum", !squadWon}, {hostStats, "MPMap0WinsNum", squadWon},
        {hostStats, "MPMap0LossesNum", !squadWon}, {hostStats, "MPUnrankedTowersGamesNum", 0},
        {guestStats, "MPUnrankedTowersGamesNum", 1}, {guestStats, "MPTowersWinsNum", !squadWon},
        {guestStats, "MPTowersLossesNum", squadWon}, {guestStats, "MPMap0WinsNum", !squadWon},
        {guestStats, "MPMap0LossesNum", squadWon}, {guestStats, "MPUnrankedSquadGamesNum", 0},
    };
    for (const auto& e : expected)
        EXPECT_EQ(Stat(e.stats, e.name), e.value) << (&e.stats == &hostStats ? "host " : "guest ") << e.name;
}

TEST_F(VersusTwoProcessTest, ALossyLinkStillEndsConvergedAndInAgreement) {
    std::vector<std::string> link = kLink;
    link.push_back("ONLINE_PACKET_LOSS=10");
    Side host, guest;
    Play(link, host, guest);
    ExpectAgreement(host, guest);
    const size_t sent = CountOf(guest.log, "Shield call sent ");
    EXPECT_GT(sent, 0u);
    EXPECT_EQ(CountOf(host.log, "Shield call run "), sent);
}

TEST_F(VersusTwoProcessTest, AGuestKilledInTheMatchLeavesTheHostWithAnAbandonedMatch) {
    std::vector<std::string> hostEnv = kLink;
    hostEnv.push_back("ONLINE_AUTO_INVITE=2");
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(kProgramSeconds);
    Side host = Start("host", "versus-host", 1, kHostPersona, hostEnv);
    Side guest = Start("guest", "versus-guest", 2, kGuestPersona, kLink);
    bool playing = false;
    while (Clock::now() < deadline && !playing) {
        playing = ReadFile(guest.logPath).find("Shield call sent ") != std::string::npos;
        if (!playing) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(guest.pid, SIGKILL);
    Finish(guest, deadline);
    ASSERT_TRUE(playing) << Told(guest.log);
    Finish(host, deadline);
    EXPECT_TRUE(onlinetest::ExitedNormally(host.status)) << host.status << "\n" << Tail(host.log);
    EXPECT_NE(host.log.find("Versus: player disconnected"), std::string::npos) << Told(host.log);
    EXPECT_NE(host.log.find("Versus result: abandoned"), std::string::npos) << Told(host.log);
    EXPECT_FALSE(std::regex_search(host.log, kResultLine)) << "an abandoned match has no winner";
    EXPECT_NE(host.log.find("Game closed"), std::string::npos);
    const std::string stats = Ctl("stats 1");
    for (const char* name : {"MPSquadWinsNum", "MPSquadLossesNum", "MPMap0WinsNum", "MPMap0LossesNum", "MPUnrankedSquadGamesNum"})
        EXPECT_EQ(Stat(stats, name), 0) << name;
}

}  // namespace
