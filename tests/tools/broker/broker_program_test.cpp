// The broker program's command line and control commands: options, usage errors, seeding,
// and the answers of stats, leaderboard and file.
// test-depends: online_broker
// test-link: broker_server
// test-sanitize: address
#include "platform/online/OnlineTestUtil.h"

#include "platform/online/OnlineStore.h"
#include "platform/online/OnlineWire.h"
#include "tools/broker/BrokerControl.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

using namespace online;
using namespace onlinetest;

namespace {

TEST(BrokerControl, SeedsTheStoreLineByLineAndReportsIt) {
    BrokerStore store;
    ASSERT_TRUE(store.Open(":memory:", nullptr));
    ASSERT_TRUE(store.WriteFile(1, "a", "xyz", 3));
    const std::string longest(wire::kMaxName, 'p');
    struct Case {
        const char* command;
        std::string argument;
        bool ok;
        std::string answer;  // "*": not compared
    } cases[] = {
        {"seed", "user 1 Ann  Lee \r\n# note\n\nfriends 1 2\nleaderboard B descending\nscore B 1 50 7 -8\nscore B 2 70\n",
         true, "5 lines applied"},
        {"seed", "user 3 " + longest + "\n", true, "1 lines applied"},
        {"seed", "user 3 " + longest + "q\n", false, "seed line 1 refused"},
        {"seed", "friends 1 2\nuser 1\n", false, "seed line 2 refused"},
        {"seed", "friends 1 0\n", false, "*"},
        {"seed", "friends 1 2 3\n", false, "*"},
        {"seed", "leaderboard C sideways\n", false, "*"},
        {"seed", "score B 1 2147483648\n", false, "*"},
        {"seed", "score B 1 -2147483648 x\n", false, "*"},
        {"seed", "score B 4294967296 5\n", false, "*"},
        {"seed", "trophy 1\n", false, "*"},
        {"leaderboard", "B", true, "1 2 70\n2 1 50\n"},
        {"leaderboard", "C", false, ""},
        {"stats", "1", true, "{\"stats\":{},\"achievements\":{}}"},
        {"stats", "0", false, ""},
        {"stats", "1x", false, ""},
        {"file", "1/a", true, "xyz"},
        {"file", "1/b", false, "*"},
        {"file", "1a", false, "*"},
        {"file", "0/a", false, "*"},
        {"frob", "", false, "unknown control command"},
    };
    for (const Case& c : cases) {
        std::string answer = "stale";
        EXPECT_EQ(RunControl(store, c.command, c.argument, &answer), c.ok) << c.command << " " << c.argument;
        if (c.answer != "*") {
            EXPECT_EQ(answer, c.answer) << c.command << " " << c.argument;
        }
    }
    EXPECT_EQ(store.Persona(1), "Ann  Lee");
    EXPECT_EQ(store.Persona(3), longest);
    EXPECT_EQ(store.Friends(1), (std::vector<uint32_t>{2}));
    const auto ranked = store.Ranked(store.FindBoard("B", false, nullptr));
    ASSERT_EQ(ranked.size(), 2u);
    EXPECT_EQ(ranked[1].details, (std::vector<int32_t>{7, -8}));
}

TEST(BrokerSocket, FolderPathsUpToWhatASocketAddressHolds) {
    // A socket address holds a path of 107 bytes and its terminator.
    for (size_t length : {107u, 108u}) {
        std::string error;
        EXPECT_EQ(ConnectBroker("/tmp/" + std::string(length - 5 - 12, 'x'), &error), -1);
        EXPECT_EQ(error.rfind("no broker at ", 0) == 0, length == 107) << error;
    }
}

// Runs the broker program with arguments; its exit status and standard output.
std::pair<int, std::string> Broker(const std::string& arguments) {
    const std::string command = std::string(PROJECT_BINARY_ROOT) + "/tools/online_broker " + arguments + " 2>/dev/null";
    FILE* p = popen(command.c_str(), "r");
    std::string out;
    char buf[256];
    for (size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int status = p ? pclose(p) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST(BrokerProgram, ServesWithItsOptionsAndAnswersControlCommands) {
    TempDir dir;
    const std::string folder = dir.path.string(), data = folder + "/elsewhere", seed = folder + "/seed.txt";
    std::ofstream(seed) << "user 7 Seven\nleaderboard M descending\nscore M 7 12\n";
    std::ofstream(folder + "/bad_schema.txt") << "trophy t\n";
    using R = std::pair<int, std::string>;
    EXPECT_EQ(Broker(""), R(2, ""));
    EXPECT_EQ(Broker("serve --dir " + folder + " --bogus x"), R(2, ""));
    EXPECT_EQ(Broker("serve --dir " + folder + " --schema " + folder + "/bad_schema.txt"), R(2, ""));
    EXPECT_EQ(Broker("serve --dir " + folder + "/missing --data " + folder + " --idle-exit 1"), R(2, ""))
        << "nowhere to listen";
    EXPECT_EQ(Broker("serve --dir " + folder + " --data " + folder + "/no/store --idle-exit 1"), R(2, "")) << "no store";
    EXPECT_EQ(Broker("ctl --dir " + folder), R(2, ""));
    EXPECT_EQ(Broker("ctl --dir " + folder + " stats 7").first, 1) << "no broker is running";

    BrokerProcess broker(folder);
    ASSERT_TRUE(broker.Start(0, {"--data", data, "--schema", std::string(PROJECT_SOURCE_ROOT) + "/platform/online/online_schema.txt"}));
    EXPECT_EQ(Broker("ctl --dir " + folder + " seed " + seed), R(0, "3 lines applied\n"));
    EXPECT_EQ(Broker("ctl --dir " + folder + " seed " + folder + "/missing.txt").first, 1);
    EXPECT_EQ(Broker("ctl --dir " + folder + " leaderboard M"), R(0, "1 7 12\n"));
    EXPECT_EQ(Broker("ctl --dir " + folder + " leaderboard N").first, 1);
    EXPECT_TRUE(std::filesystem::is_directory(data)) << "the store lives in --data";
    EXPECT_FALSE(std::filesystem::exists(folder + "/data"));
    EXPECT_EQ(Broker("ctl --dir " + folder + " stop").first, 0);
    const int status = broker.Stop(0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
