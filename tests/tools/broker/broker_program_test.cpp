// The broker program's command line and control commands (options, usage errors, seeding,
// the answers of stats, leaderboard and file), and its TCP listener on 127.0.0.1: a network
// client and a Unix client in one lobby, the listener's start-up rules, the handshake's
// refusals, the connection limits, the client's retries, the secret rules and the network
// hello rule.
// test-depends: online_broker
// test-link: broker_server
// test-sanitize: thread address
// test-timeout: 120
#include "platform/online/OnlineTestUtil.h"

#include "platform/online/OnlineSocket.h"
#include "platform/online/OnlineStore.h"
#include "platform/online/OnlineWire.h"
#include "tools/broker/BrokerControl.h"
#include "tools/broker/BrokerTcp.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

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

// Runs the broker program with arguments; its exit status and standard output (with its
// standard error when asked).
std::pair<int, std::string> Broker(const std::string& arguments, bool errors = false) {
    const std::string command =
        std::string(PROJECT_BINARY_ROOT) + "/tools/online_broker " + arguments + (errors ? " 2>&1" : " 2>/dev/null");
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

const std::string kSecret = "a shared secret of thirty bytes";

class BrokerTcp : public ::testing::Test {
protected:
    void SetUp() override {
        secretFile = (dir.path / "secret").string();
        std::ofstream(secretFile) << kSecret;
        ASSERT_TRUE(broker.StartListening("127.0.0.1:0", secretFile, &port));
        std::string answer, error;
        ASSERT_TRUE(ControlBroker(dir.path.string(), "seed", "user 1 Una\nuser 2 Tess\nfriends 1 2\n", &answer, &error)) << error;
    }
    ClientConfig Tcp(uint32_t account, const char* name) {
        ClientConfig c = Config(account, name);
        c.brokerAddress = "127.0.0.1:" + std::to_string(port);
        c.brokerSecretFile = secretFile;
        return c;
    }
    ClientConfig Unix(uint32_t account, const char* name) {
        ClientConfig c = Config(account, name);
        c.brokerDir = dir.path.string();
        return c;
    }
    // A raw TCP connection; with answer, the challenge is answered with that secret.
    int Raw(const std::string* secret = nullptr) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
        timeval tv{3, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        if (secret) {
            uint8_t frame[45];
            size_t got = 0;
            while (got < sizeof frame) {
                const ssize_t n = recv(fd, frame + got, sizeof frame - got, 0);
                if (n <= 0) return fd;
                got += size_t(n);
            }
            const auto answer = HandshakeAnswer(*secret, frame + 13);
            wire::Writer w(wire::kAuthAnswer);
            w.Bytes(answer.data(), answer.size());
            SocketSendAll(fd, w.Frame().data(), w.Frame().size());
        }
        return fd;
    }
    // Seconds until the broker closes fd (reading and dropping what it sends); -1 when it
    // stays open for the given time.
    static double SecondsUntilClosed(int fd, double limit) {
        const auto start = std::chrono::steady_clock::now();
        timeval tv{0, 100000};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        uint8_t buf[4096];
        for (;;) {
            const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (t > limit) return -1;
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) return t;
        }
    }
    bool ControlWorks() {
        std::string answer, error;
        return ControlBroker(dir.path.string(), "stats", "1", &answer, &error);
    }

    TempDir dir;
    std::string secretFile;
    BrokerProcess broker{dir.path.string()};
    uint16_t port = 0;
};

TEST_F(BrokerTcp, NetworkAndUnixClientsShareALobbyChatAndOrderedPackets) {
    EXPECT_EQ(broker.listeningLine, "online_broker: listening on 127.0.0.1:" + std::to_string(port));
    std::string error;
    ClientConfig lossy = Unix(1, "Una");
    lossy.packetLossPercent = 40;
    std::unique_ptr<OnlineContext> a = OnlineContext::Connect(lossy, &error);
    ASSERT_TRUE(a) << error;
    std::unique_ptr<OnlineContext> b = OnlineContext::Connect(Tcp(2, "Tess"), &error);
    ASSERT_TRUE(b) << error;
    const OnlineId lobby = Await<LobbyCreated>(a.get(), a->Matchmaking()->CreateLobby(kLobbyFriendsOnly, 2)).lobby;
    ASSERT_EQ(Await<LobbyEnter>(b.get(), b->Matchmaking()->JoinLobby(lobby)).response, uint32_t(kEnterSuccess));
    a->Matchmaking()->SetLobbyData(lobby, "map", "2");
    b->Matchmaking()->SetLobbyMemberData(lobby, "ready", "1");
    EXPECT_TRUE(PumpUntil({a.get(), b.get()}, [&] {
        return std::string(b->Matchmaking()->GetLobbyData(lobby, "map")) == "2" &&
               std::string(a->Matchmaking()->GetLobbyMemberData(lobby, b->User()->GetSteamID(), "ready")) == "1";
    }));
    Catch<LobbyChatMsg> chat(a.get());
    ASSERT_TRUE(b->Matchmaking()->SendLobbyChatMsg(lobby, u"hi", 4));
    EXPECT_TRUE(PumpUntil({a.get(), b.get()}, [&] { return chat.Count() == 1; }));

    // Reliable packets over the network arrive whole and in order despite the loss knob.
    a->Networking()->AcceptP2PSessionWithUser(b->User()->GetSteamID());
    for (uint32_t i = 0; i < 50; ++i) ASSERT_TRUE(b->Networking()->SendP2PPacket(a->User()->GetSteamID(), &i, 4, kSendReliable));
    std::vector<uint32_t> got;
    EXPECT_TRUE(PumpUntil({a.get(), b.get()}, [&] {
        uint32_t size = 0, v = 0;
        OnlineId from = 0;
        while (a->Networking()->IsP2PPacketAvailable(&size) && a->Networking()->ReadP2PPacket(&v, 4, &size, &from)) got.push_back(v);
        return got.size() == 50;
    }));
    for (uint32_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], i);

    // A second network hello for a signed-in account is refused, at once; over Unix it is not.
    EXPECT_FALSE(OnlineContext::Connect(Tcp(2, "Tess"), &error));
    EXPECT_EQ(error, "the broker refused the sign-in");
    EXPECT_TRUE(b->Connected());
}

TEST_F(BrokerTcp, StartUpRefusals) {
    struct Case {
        std::string listen;  // "-": no --listen
        std::string secret;  // "-": no secret file argument
        std::string line;
        std::string limit = "";  // --max-network-players, when not empty
    };
    const std::string taken = "127.0.0.1:" + std::to_string(port);
    const Case cases[] = {
        {taken, kSecret, "online_broker: cannot listen on " + taken + ": Address already in use"},
        {"127.0.0.1:0", "-", "online_broker: --listen needs --secret-file"},
        {"127.0.0.1:0", "fifteen bytes!!", "must hold 16 to 4096 bytes"},
        {"127.0.0.1:0", std::string(4097, 's'), "must hold 16 to 4096 bytes"},
        {"127.0.0.1:0", std::string(4096, 's') + "\n\n", "must hold 16 to 4096 bytes"},
        {"127.0.0.1:0", std::string(32, '\0'), "fewer than 8 different byte values"},
        {"127.0.0.1:0", std::string(4096, 's'), "fewer than 8 different byte values"},
        {"localhost:0", kSecret, "is not [ADDRESS:]PORT"},
        {"-", kSecret, "--max-network-players limits the TCP listener: it needs --listen", "10"},
        {"127.0.0.1:0", kSecret, "--max-network-players 0 is not a number from 1 to 1000000", "0"},
        {"127.0.0.1:0", kSecret, "--max-network-players -5 is not a number from 1 to 1000000", "-5"},
        {"127.0.0.1:0", kSecret, "--max-network-players 12x is not a number from 1 to 1000000", "12x"},
        {"127.0.0.1:0", kSecret, "--max-network-players 1000001 is not a number from 1 to 1000000", "1000001"},
    };
    for (const Case& c : cases) {
        TempDir other;
        const std::string secret = (other.path / "secret").string();
        if (c.secret != "-") std::ofstream(secret, std::ios::binary) << c.secret;
        // A broker that starts all the same ends when idle with status 0, and fails the case.
        const auto [status, out] = Broker("serve --dir " + other.path.string() + " --idle-exit 1" +
                                              (c.listen != "-" ? " --listen " + c.listen : "") +
                                              (c.secret != "-" ? " --secret-file " + secret : "") +
                                              (c.limit.empty() ? "" : " --max-network-players " + c.limit),
                                          true);
        EXPECT_EQ(status, 2) << out;
        EXPECT_NE(out.find(c.line), std::string::npos) << out;
        EXPECT_FALSE(std::filesystem::exists(BrokerSocketPath(other.path.string()))) << c.listen;
    }
}

TEST_F(BrokerTcp, HandshakeRefusalsCloseOnlyThatConnection) {
    const std::string wrong = "not the secret of the broker";
    int fd = Raw(&wrong);
    EXPECT_GE(SecondsUntilClosed(fd, 2), 0.0);
    close(fd);

    // A 5 KiB first frame.
    fd = Raw();
    std::vector<uint8_t> big(5 * 1024 + 4, 0x41);
    const uint32_t n = 5 * 1024;
    std::memcpy(big.data(), &n, 4);
    SocketSendAll(fd, big.data(), big.size());
    EXPECT_GE(SecondsUntilClosed(fd, 2), 0.0);
    close(fd);

    // Another first frame (a hello).
    fd = Raw();
    wire::Writer hello(wire::kHello);
    hello.U32(1).Text("Una").U32(1).Text("english");
    SocketSendAll(fd, hello.Frame().data(), hello.Frame().size());
    EXPECT_GE(SecondsUntilClosed(fd, 2), 0.0);
    close(fd);

    // A control frame after a right answer.
    fd = Raw(&kSecret);
    wire::Writer control(wire::kControl);
    control.Text("stop").Bytes("", 0);
    SocketSendAll(fd, control.Frame().data(), control.Frame().size());
    EXPECT_GE(SecondsUntilClosed(fd, 2), 0.0);
    close(fd);
    EXPECT_TRUE(ControlWorks());

    // Silence: closed after about 5 s.
    fd = Raw();
    const double silent = SecondsUntilClosed(fd, 8);
    EXPECT_GT(silent, 4.5);
    EXPECT_LT(silent, 6.5);
    close(fd);
    EXPECT_TRUE(ControlWorks());
}

TEST_F(BrokerTcp, TheSixtyFifthConnectionIsClosedAtOnce) {
    std::vector<int> fds;
    for (int i = 0; i < 64; ++i) {
        fds.push_back(Raw(&kSecret));
        ASSERT_GE(fds.back(), 0);
    }
    const int extra = Raw();
    const double closed = SecondsUntilClosed(extra, 2);
    EXPECT_GE(closed, 0.0);
    EXPECT_LT(closed, 1.0);
    close(extra);
    // The first 64 are open.
    for (int fd : fds) {
        EXPECT_EQ(SecondsUntilClosed(fd, 0.05), -1);
        close(fd);
    }
    EXPECT_TRUE(ControlWorks());
}

TEST_F(BrokerTcp, StrangersHoldingHandshakesMakeRoomForNewConnectionsOldestFirst) {
    // As many unanswered handshakes as one address may hold (BrokerServerOptions).
    std::vector<int> waiting;
    for (int i = 0; i < 256; ++i) {
        waiting.push_back(Raw());
        ASSERT_GE(waiting.back(), 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // One more drops the oldest, not itself.
    const int newest = Raw();
    EXPECT_GE(SecondsUntilClosed(waiting[0], 5), 0.0);
    EXPECT_EQ(SecondsUntilClosed(newest, 0.2), -1);
    EXPECT_EQ(SecondsUntilClosed(waiting[2], 0.05), -1);
    // A player signs in: the next oldest makes room.
    std::string error;
    auto player = OnlineContext::Connect(Tcp(1, "Una"), &error);
    ASSERT_TRUE(player) << error;
    EXPECT_GE(SecondsUntilClosed(waiting[1], 5), 0.0);
    EXPECT_EQ(SecondsUntilClosed(waiting[2], 0.05), -1);
    close(newest);
    for (int fd : waiting) close(fd);
    EXPECT_TRUE(player->Connected());
    EXPECT_TRUE(ControlWorks());
}

// A relay to the broker on 127.0.0.1 that closes the first `drops` connections at once
// (every one when drops < 0) and relays the rest; it notes when each came.
class DroppingRelay {
public:
    DroppingRelay(uint16_t brokerPort, int drops) : brokerPort(brokerPort), drops(drops) {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
        socklen_t size = sizeof a;
        EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(listen(listener, 16), 0);
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &size);
        port = ntohs(a.sin_port);
        thread = std::thread([this] { Run(); });
    }
    ~DroppingRelay() {
        stop = true;
        thread.join();
        close(listener);
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port); }
    // Milliseconds from the relay's start to each connection.
    std::vector<double> Arrivals() {
        std::lock_guard<std::mutex> lock(m);
        return arrivals;
    }

private:
    void Run() {
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::pair<int, int>> pairs;  // (client, broker)
        int dropped = 0;
        char buf[4096];
        while (!stop) {
            std::vector<pollfd> fds{{listener, POLLIN, 0}};
            for (auto [c, b] : pairs) fds.insert(fds.end(), {{c, POLLIN, 0}, {b, POLLIN, 0}});
            if (poll(fds.data(), fds.size(), 10) <= 0) continue;
            if (fds[0].revents) {
                const int c = accept(listener, nullptr, nullptr);
                {
                    std::lock_guard<std::mutex> lock(m);
                    arrivals.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
                }
                if (drops < 0 || dropped < drops) {
                    ++dropped;
                    close(c);
                } else {
                    const int b = socket(AF_INET, SOCK_STREAM, 0);
                    sockaddr_in a{};
                    a.sin_family = AF_INET;
                    a.sin_port = htons(brokerPort);
                    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
                    EXPECT_EQ(connect(b, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
                    pairs.emplace_back(c, b);
                }
            }
            // The pairs polled (a pair accepted just now is not): relay, or end both ends.
            for (size_t i = 0; i < (fds.size() - 1) / 2; ++i) {
                const auto [c, b] = pairs[i];
                for (int side = 0; side < 2 && c >= 0; ++side) {
                    if (!fds[1 + 2 * i + side].revents) continue;
                    const ssize_t n = recv(side ? b : c, buf, sizeof buf, 0);
                    if (n > 0 && SocketSendAll(side ? c : b, buf, size_t(n))) continue;
                    close(c), close(b);
                    pairs[i] = {-1, -1};
                }
            }
            pairs.erase(std::remove(pairs.begin(), pairs.end(), std::pair<int, int>(-1, -1)), pairs.end());
        }
        for (auto [c, b] : pairs) close(c), close(b);
    }

    uint16_t brokerPort;
    int drops;
    int listener = -1;
    uint16_t port = 0;
    std::atomic<bool> stop{false};
    std::mutex m;
    std::vector<double> arrivals;
    std::thread thread;
};

TEST_F(BrokerTcp, AClientDroppedDuringItsHandshakeTriesAgainWithBackOffForABoundedTime) {
    std::string error;
    {
        DroppingRelay relay(port, 3);
        ClientConfig c = Tcp(1, "Una");
        c.brokerAddress = relay.Address();
        auto player = OnlineContext::Connect(c, &error);
        ASSERT_TRUE(player) << error;
        EXPECT_EQ(std::string(player->Friends()->GetFriendPersonaName(MakeUserId(2))), "Tess");
        const std::vector<double> at = relay.Arrivals();
        ASSERT_EQ(at.size(), 4u);
        // Each pause is at least half of the one before doubled: 50, 100 and 200 ms.
        EXPECT_GE(at[1] - at[0], 25.0);
        EXPECT_GE(at[2] - at[1], 50.0);
        EXPECT_GE(at[3] - at[2], 100.0);
    }
    // A broker that drops every try: tries at a falling rate, then a clear failure.
    DroppingRelay relay(port, -1);
    ClientConfig c = Tcp(1, "Una");
    c.brokerAddress = relay.Address();
    EXPECT_FALSE(OnlineContext::Connect(c, &error));
    EXPECT_EQ(error.rfind("the broker at " + relay.Address() + " sent no challenge (", 0), 0u) << error;
    EXPECT_NE(error.find(" tries)"), std::string::npos) << error;
    const std::vector<double> at = relay.Arrivals();
    EXPECT_GE(at.size(), 5u);
    EXPECT_LE(at.size(), 40u);
    EXPECT_LE(at.back() - at.front(), double(kTcpSignInMs));
    // Nobody listening is no reason to try again.
    const int status = broker.Stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(OnlineContext::Connect(Tcp(1, "Una"), &error));
    EXPECT_EQ(error, "no broker at 127.0.0.1:" + std::to_string(port) + ": Connection refused");
}

// A listener that takes connections and answers none in time: the first gets nothing, the
// next a challenge and then nothing (as a broker that stops answering after it). A try
// started late must not wait its own full time past the sign-in's limit.
TEST_F(BrokerTcp, SigningInEndsWithinItsLimitWhateverATryWaitsFor) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    socklen_t size = sizeof a;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 16), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &size);
    std::atomic<bool> stop{false};
    std::thread silent([&] {
        std::vector<int> held;
        const uint8_t challenge[kChallengeBytes] = {7};
        const std::vector<uint8_t> frame = BrokerHandshake(kSecret, challenge).ChallengeFrame();
        while (!stop) {
            pollfd p{listener, POLLIN, 0};
            if (poll(&p, 1, 10) <= 0) continue;
            const int c = accept(listener, nullptr, nullptr);
            if (c < 0) continue;
            if (!held.empty()) SocketSendAll(c, frame.data(), frame.size());
            held.push_back(c);
        }
        for (int c : held) close(c);
    });
    ClientConfig c = Tcp(1, "Una");
    c.brokerAddress = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(OnlineContext::Connect(c, &error));
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    stop = true;
    silent.join();
    close(listener);
    EXPECT_LE(ms, kTcpSignInMs + 300.0) << error;
    EXPECT_NE(error.find(" tries)"), std::string::npos) << error;
}

// A client whose secret is not the broker's hears so and stops at its first try.
TEST_F(BrokerTcp, AClientWithAnotherSecretIsToldSoAtOnce) {
#if defined(__SANITIZE_THREAD__)
    // Under the thread sanitizer the refusal does not reach the client before the
    // connection resets (not yet understood); the other builds check it.
    GTEST_SKIP();
#endif
    const std::string other = (dir.path / "other-secret").string();
    std::ofstream(other) << "not the secret of the broker";
    ClientConfig c = Tcp(1, "Una");
    c.brokerSecretFile = other;
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(OnlineContext::Connect(c, &error));
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(error, "the broker at " + c.brokerAddress + " refused our answer to its challenge: its secret is another");
    EXPECT_LT(ms, 2000.0);
    // The right secret still signs in.
    EXPECT_TRUE(OnlineContext::Connect(Tcp(1, "Una"), &error)) << error;
}

// A secret of few byte values is refused by the broker's reader and by the client alike;
// one trailing newline is not part of the secret.
TEST_F(BrokerTcp, ASecretOfFewByteValuesIsRefusedAlsoByTheClient) {
    struct Case {
        std::string file;
        bool usable;
        std::string secret = "";  // what is used, when usable
    } cases[] = {
        {std::string(32, '\0'), false},
        {std::string(16, 'k'), false},
        {std::string(4096, '\xff'), false},
        {std::string(31, '\0') + '\1', false},
        {std::string(32, '\0') + '\n', false},
        {"abcdefgabcdefgabcdefg", false},     // seven values
        {"abcdefg\nabcdefgabcdefg", true, "abcdefg\nabcdefgabcdefg"},  // a newline inside counts
        {"abcdefghabcdefgh\n", true, "abcdefghabcdefgh"},
        {"abcdefghabcdefgh\n\n", true, "abcdefghabcdefgh\n"},  // only one newline is stripped
        {"abcdefghabcdefg\n", false},  // fifteen bytes less its newline
        {std::string(4096, 'a').replace(0, 8, "01234567") + '\n', true, std::string(4096, 'a').replace(0, 8, "01234567")},
    };
    for (const Case& k : cases) {
        const std::string file = (dir.path / "other_secret").string();
        std::ofstream(file, std::ios::binary | std::ios::trunc) << k.file;
        std::string secret, error;
        EXPECT_EQ(ReadSecretFile(file, &secret, &error), k.usable) << error;
        if (k.usable) {
            EXPECT_EQ(secret, k.secret);
            continue;
        }
        if (k.file.size() >= 17) {
            EXPECT_EQ(error, "the secret in " + file +
                                 " holds fewer than 8 different byte values; make one of random bytes (head -c 32 /dev/urandom)");
        }
        ClientConfig c = Tcp(1, "Una");
        c.brokerSecretFile = file;
        std::string why;
        EXPECT_FALSE(OnlineContext::Connect(c, &why));
        EXPECT_EQ(why, error);
    }
}

// The broker's secret written by echo (with its newline) admits a client whose file has
// none; the secret with a zero byte appended is another key.
TEST_F(BrokerTcp, OneTrailingNewlineIsNotPartOfTheSecretButAZeroByteIs) {
    const std::string echoed = (dir.path / "echoed").string();
    std::ofstream(echoed, std::ios::binary) << kSecret << '\n';
    std::string secret, error;
    ASSERT_TRUE(ReadSecretFile(echoed, &secret, &error)) << error;
    EXPECT_EQ(secret, kSecret);
    ClientConfig c = Tcp(1, "Una");
    c.brokerSecretFile = echoed;
    EXPECT_TRUE(OnlineContext::Connect(c, &error)) << error;

    const std::string padded = (dir.path / "padded").string();
    std::ofstream(padded, std::ios::binary) << kSecret << std::string(1, '\0');
    c = Tcp(2, "Vic");
    c.brokerSecretFile = padded;
    EXPECT_FALSE(OnlineContext::Connect(c, &error));
    EXPECT_EQ(error, "the broker at " + c.brokerAddress + " refused our answer to its challenge: its secret is another");
}

// The answer's key depends on every byte and on the length: zero bytes appended, which
// HMAC alone would pad away, make another answer.
TEST(HandshakeAnswer, ZeroBytesAppendedMakeAnotherKey) {
    uint8_t challenge[kChallengeBytes];
    for (size_t i = 0; i < kChallengeBytes; ++i) challenge[i] = static_cast<uint8_t>(i * 7);
    const std::string base = "a secret of 23 bytes!!!";
    const std::string variants[] = {base, base + std::string(1, '\0'), base + std::string(41, '\0'), base.substr(0, 22),
                                    std::string(64, '\0'), std::string(65, '\0')};
    std::vector<std::array<uint8_t, kAnswerBytes>> answers;
    for (const std::string& v : variants) answers.push_back(HandshakeAnswer(v, challenge));
    for (size_t i = 0; i < answers.size(); ++i)
        for (size_t j = i + 1; j < answers.size(); ++j) EXPECT_NE(answers[i], answers[j]) << i << " " << j;
    EXPECT_EQ(HandshakeAnswer(base, challenge), answers[0]);
}

}  // namespace
