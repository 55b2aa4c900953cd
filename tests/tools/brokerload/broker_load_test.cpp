// broker_load: a short step of 100 players against a broker of its own (the table's
// shape, no error, the broker ended cleanly, the CSV and the chart written), its
// usage errors, the rule that decides whether a step met the goals, its percentiles and
// the players' seeded roles.
// test-depends: broker_load online_broker
// test-sources: ../../../tools/brokerload/LoadReport.cpp ../../../tools/brokerload/LoadPlayers.cpp
// test-link: platform_online
// test-timeout: 120
#include "tools/brokerload/LoadReport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace brokerload;

namespace {

const std::string kProgram = PROJECT_BINARY_ROOT "/tools/broker_load";

struct LoadRun {
    std::string output;  // standard output
    std::string errors;  // standard error, shown with every failed expectation
    int exitCode = -1;
};

// limits: shell commands run before the program (its open-file limits).
LoadRun RunLoad(const std::string& arguments, const std::string& limits = "") {
    LoadRun run;
    const std::string errorFile =
        (std::filesystem::temp_directory_path() / ("broker_load_test.stderr." + std::to_string(::getpid()))).string();
    const std::string command = (limits.empty() ? "" : limits + "; ") + "exec " + kProgram + " " + arguments;
    FILE* p = popen((command + " 2>'" + errorFile + "'").c_str(), "r");
    if (!p) return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) run.output.append(buffer, n);
    const int status = pclose(p);
    if (status != -1 && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    std::ifstream errors(errorFile);
    run.errors.assign(std::istreambuf_iterator<char>(errors), std::istreambuf_iterator<char>());
    std::filesystem::remove(errorFile);
    return run;
}

std::ostream& operator<<(std::ostream& out, const LoadRun& run) {
    return out << run.output << "--- standard error:\n" << run.errors;
}

std::vector<std::string> Words(const std::string& line, char separator = ' ') {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string w; std::getline(in, w, separator);)
        if (!w.empty() || separator != ' ') words.push_back(w);
    return words;
}

double Cell(const std::map<std::string, std::string>& row, const std::string& name) {
    auto it = row.find(name);
    if (it == row.end()) return NAN;
    char* end = nullptr;
    const double v = std::strtod(it->second.c_str(), &end);
    return *end || it->second.empty() ? NAN : v;
}

TEST(BrokerLoad, HundredPlayersForFifteenSecondsRunWithoutAFault) {
    const std::filesystem::path work = std::filesystem::temp_directory_path() / ("broker_load_test." + std::to_string(::getpid()));
    std::filesystem::remove_all(work);
    const LoadRun run = RunLoad("--steps 100 --seconds 15 --threads 2 --work " + work.string());

    // The header and one row per step, cell for cell.
    std::istringstream lines(run.output);
    std::vector<std::string> header, cells;
    int dropped = -1;
    for (std::string line; std::getline(lines, line);) {
        const std::vector<std::string> words = Words(line);
        if (!words.empty() && words[0] == "players") header = words;
        else if (!header.empty() && words.size() == header.size()) cells = words;
        else if (words.size() > 1 && words[1] == "dropped") dropped = std::atoi(words[0].c_str());
    }
    EXPECT_EQ(dropped, 1) << "one player in a hundred drops and comes back:\n" << run;
    ASSERT_EQ(header, Columns()) << run;
    ASSERT_EQ(cells.size(), header.size()) << run;
    std::map<std::string, std::string> row;
    for (size_t i = 0; i < header.size(); ++i) row[header[i]] = cells[i];
    EXPECT_EQ(row["players"], "100");
    EXPECT_EQ(row["signed_in"], "100") << "more players than the broker's default of network players";
    EXPECT_EQ(row["errors"], "0");
    EXPECT_EQ(row["refused"], "0");
    // Latency goals depend on the machine's load (this is no timed test), the rest not.
    const std::string result = row["result"];
    EXPECT_EQ(result.find("errors"), std::string::npos) << result;
    EXPECT_EQ(result.find("broker"), std::string::npos) << "the broker did not end cleanly:\n" << run;
    EXPECT_EQ(run.exitCode, result == "ok" ? 0 : 1) << run;
    // Every latency was measured, frames were relayed between paired players, writes
    // reached the database, and the broker's own figures were read.
    for (const char* name : {"signin_p50", "signin_p99", "search_p99", "frame_p50", "frame_p99", "stats_p99", "score_p99",
                             "cpu_core", "rss_mb", "kb_per_conn"})
        EXPECT_FALSE(std::isnan(Cell(row, name))) << name << " = " << row[name];
    EXPECT_GE(Cell(row, "pairs"), 1);
    EXPECT_GT(Cell(row, "frames_per_s"), 100);
    EXPECT_GT(Cell(row, "db_mb"), 0);
    EXPECT_LE(Cell(row, "signin_p50"), Cell(row, "signin_p99"));
    EXPECT_LE(Cell(row, "frame_p50"), Cell(row, "frame_p99"));

    // The same row in the CSV, and a PNG chart.
    std::ifstream csv(work / "table.csv");
    std::string csvHeader, csvRow;
    std::getline(csv, csvHeader);
    std::getline(csv, csvRow);
    EXPECT_EQ(Words(csvHeader, ','), Columns());
    EXPECT_EQ(Words(csvRow, ',').size(), Columns().size()) << csvRow;
    EXPECT_EQ(Words(csvRow, ',')[0], "100");
    std::ifstream chart(work / "chart.png", std::ios::binary);
    char signature[4] = {};
    chart.read(signature, 4);
    EXPECT_EQ(std::string(signature, 4), "\x89PNG") << "no chart (python3-matplotlib missing?)";
    std::filesystem::remove_all(work);
}

TEST(BrokerLoad, SaysWhetherItRaisedTheOpenFileLimit) {
    struct Case {
        const char* limits;
        const char* said;
    } cases[] = {
        {"ulimit -S -n 300", "open-file limit raised to the hard limit"},
        {"ulimit -n 300", "open-file limit stays 300"},
    };
    for (const Case& c : cases) {
        const std::filesystem::path work = std::filesystem::temp_directory_path() / ("broker_load_limit." + std::to_string(::getpid()));
        const LoadRun run = RunLoad("--steps 1 --seconds 1 --threads 1 --work " + work.string(), c.limits);
        EXPECT_NE(run.output.find(c.said), std::string::npos) << c.limits << "\n" << run;
        std::filesystem::remove_all(work);
    }
}

TEST(BrokerLoad, RefusesMalformedOptions) {
    for (const char* arguments : {"--steps 0", "--steps 100,,500", "--steps 10x", "--seconds 0", "--threads 0",
                                  "--broker 127.0.0.1:9", "--secret-file /dev/null", "--frob 1", "--steps",
                                  "--broker no-such-host.invalid:9 --secret-file /dev/null", "--broker 127.0.0.1 --secret-file /dev/null"}) {
        const LoadRun run = RunLoad(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments;
        EXPECT_EQ(run.output, "") << arguments << ": no step may run";
    }
}

TEST(BrokerLoad, AStepFailsOnEveryMissedGoalAndOnlyThen) {
    LoadResult good;
    good.signIn = {1000, 2000, 3000};     // microseconds
    good.frame = {500, 700, 900};
    BrokerFigures broker;
    broker.known = true;
    broker.kbPerConnection = 20;
    struct Case {
        const char* name;
        uint32_t signInUs, frameUs;
        uint64_t errors;
        double kb;
        bool known;
        const char* ended;
        const char* verdict;
    } cases[] = {
        {"all met", 0, 0, 0, 20, true, "", "ok"},
        {"an error", 0, 0, 1, 20, true, "", "fail:errors"},
        {"a broker that crashed", 0, 0, 0, 20, true, "killed by signal 11", "fail:broker"},
        {"slow sign-ins", 600000, 0, 0, 20, true, "", "fail:signin"},
        {"slow frames", 0, 60000, 0, 20, true, "", "fail:frame"},
        {"a frame at the goal", 0, 50000, 0, 20, true, "", "ok"},
        {"memory", 0, 0, 0, 120, true, "", "fail:memory"},
        {"memory of a broker not measured", 0, 0, 0, 120, false, "", "ok"},
        {"several", 600000, 60000, 2, 20, true, "", "fail:errors+signin+frame"},
        {"nobody signed in", 1, 0, 0, 20, true, "", "fail:signin"},
        {"no frame relayed", 0, 1, 0, 20, true, "", "fail:frame"},
        {"frames lost beyond the excused", 0, 0, 0, 20, true, "", "fail:frames"},
        {"frames lost, all excused", 0, 0, 0, 20, true, "", "ok"},
    };
    for (const Case& c : cases) {
        LoadResult r = good;
        // One slow sample in a hundred sets the p99.
        for (int i = 0; i < 97; ++i) r.signIn.push_back(1000), r.frame.push_back(500);
        // A latency of 1 us stands for no sample at all.
        if (c.signInUs) r.signIn.assign(c.signInUs == 1 ? 0 : 100, c.signInUs);
        if (c.frameUs) r.frame.assign(c.frameUs == 1 ? 0 : 100, c.frameUs);
        r.framesSent = 1000;
        r.framesReceived = std::string(c.name).find("frames lost") == 0 ? 990 : 1000;
        r.framesExcused = std::string(c.name) == "frames lost, all excused" ? 10 : 0;
        r.errors[kConnectionLost] = c.errors;
        BrokerFigures b = broker;
        b.kbPerConnection = c.kb;
        b.known = c.known;
        b.ended = c.ended;
        const StepRow row = MakeRow(100, 15, r, 100, 10, b);
        EXPECT_EQ(row.cells.back(), c.verdict) << c.name;
        EXPECT_EQ(row.passed, std::string(c.verdict) == "ok") << c.name;
        EXPECT_EQ(row.cells.size(), Columns().size()) << c.name;
    }
}

TEST(BrokerLoad, PercentilesTakeTheNearestRank) {
    std::vector<uint32_t> hundred;
    for (uint32_t i = 1; i <= 100; ++i) hundred.push_back(i * 1000);  // 1 ms .. 100 ms, shuffled below
    std::swap(hundred[3], hundred[97]);
    std::vector<uint32_t> thousand;
    for (uint32_t i = 1; i <= 1000; ++i) thousand.push_back(i * 1000);
    struct Case {
        const std::vector<uint32_t>* samples;
        double q, ms;
    } cases[] = {
        {&hundred, 0.99, 99}, {&hundred, 0.5, 50}, {&hundred, 1.0, 100}, {&hundred, 0.001, 1},
        {&thousand, 0.99, 990}, {&thousand, 0.5, 500},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(QuantileMs(*c.samples, c.q), c.ms) << c.samples->size() << " at " << c.q;
    EXPECT_DOUBLE_EQ(QuantileMs({7000}, 0.99), 7);
    EXPECT_TRUE(std::isnan(QuantileMs({}, 0.99)));
}

TEST(BrokerLoad, RolesAreSeededAndLeaveNobodyOut) {
    struct Case {
        int players, hosts, drops;
    } cases[] = {{1, 1, 0}, {2, 1, 1}, {3, 1, 1}, {9, 1, 1}, {10, 1, 1}, {100, 10, 1}, {250, 25, 2}, {1000, 100, 10}};
    for (const Case& c : cases) {
        const std::vector<PlayerRole> roles = DrawRoles(c.players, 7);
        ASSERT_EQ(roles.size(), static_cast<size_t>(c.players));
        int hosts = 0, drops = 0;
        for (const PlayerRole& r : roles) hosts += r.host, drops += r.drops;
        EXPECT_EQ(hosts, c.hosts) << c.players;
        EXPECT_EQ(drops, c.drops) << c.players;
        const std::vector<PlayerRole> again = DrawRoles(c.players, 7);
        for (int i = 0; i < c.players; ++i) EXPECT_TRUE(again[i].host == roles[i].host && again[i].drops == roles[i].drops);
    }
    // Other seeds draw other players, and a host drops now and then.
    bool hostDropped = false, moved = false;
    const std::vector<PlayerRole> first = DrawRoles(100, 1);
    for (uint32_t seed = 2; seed < 60; ++seed) {
        const std::vector<PlayerRole> roles = DrawRoles(100, seed);
        for (int i = 0; i < 100; ++i) {
            hostDropped = hostDropped || (roles[i].host && roles[i].drops);
            moved = moved || roles[i].drops != first[i].drops;
        }
    }
    EXPECT_TRUE(hostDropped);
    EXPECT_TRUE(moved);
}

}  // namespace
