// The online driver's receive path against the bare service calls, and the broker's
// round trip over TCP beside the Unix socket.
// - DriverTick: 1,200-byte game frames from one driver to another over an in-process
//   broker, received through SteamNetDriver::Tick (one frame per tick).
// - BareRead: the same frames read with an IsP2PPacketAvailable / ReadP2PPacket loop.
//   Goal: DriverTick at least 0.8 of BareRead's rate.
// - BrokerRoundTrip/tcp and /unix: reliable 1,200-byte packets there and back between two
//   contexts through the broker program (build/tools/online_broker) on 127.0.0.1.
// bench-link: broker_server
#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/RateReporter.h"
#include "core/BaseThread.h"
#include "net/steam/SteamNetDriver.h"
#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineSocket.h"
#include "tools/broker/BrokerControl.h"

namespace {

constexpr uint32_t kFrame = 1200;
constexpr int kBatch = 64;

class Ring : public BaseThread {
public:
    Ring() : BaseThread("route", 1 << 16, false, 0) {}
    void Run() { ProcessCommands(); }
};

struct Counter : Network::NetDriverObserver {
    uint64_t received = 0;
    bool connecting = false;
    void OnDriverListening() override {}
    void OnPeerConnecting(int32_t) override { connecting = true; }
    void OnPeerConnected(int32_t) override {}
    void OnPeerDisconnected(int32_t, uint32_t) override {}
    void OnReceive(int32_t, const uint8_t*, uint32_t, uint32_t) override { ++received; }
    void OnPeerConnectionStall(int32_t) override {}
    void OnPeerConnectionResume(int32_t) override {}
    void OnChatMessage(uint32_t, const char16_t*, const char16_t*) override {}
    void OnLobbyUpdated() override {}
    void OnLobbyJoinRequested() override {}
    void OnLobbyGameStartRequest(uint32_t, bool, bool) override {}
    void OnLobbyError(uint32_t) override {}
};

struct Side {
    std::unique_ptr<online::OnlineContext> ctx;
    Ring ring;
    Counter counter;
    std::unique_ptr<Network::SteamNetDriver> driver;
};

// Two drivers in an active game over an in-process broker.
struct Pair {
    std::string folder;
    online::LocalBroker broker;
    Side host, client;

    Pair() {
        char pattern[] = "/tmp/netdriverbenchXXXXXX";
        folder = mkdtemp(pattern);
        broker.Open(folder, online::StatsSchema(), nullptr);
        std::string answer;
        broker.WithStore([&](online::BrokerStore& s) { return online::RunControl(s, "seed", "user 1 H\nuser 2 C\nfriends 1 2\n", &answer); });
        for (auto [s, account] : {std::pair{&host, 1u}, std::pair{&client, 2u}}) {
            online::ClientConfig c;
            c.account = account;
            c.persona = account == 1 ? "H" : "C";
            s->ctx = broker.CreateClient(c);
            s->driver = std::make_unique<Network::SteamNetDriver>(s->ctx.get());
            s->driver->SetObserver(&s->counter);
            s->driver->SetRouteTarget(&s->ring);
        }
        host.driver->LobbyCreatePrivate();
        Until([&] { return host.driver->GetDriverState() == Network::IN_LOBBY; });
        client.driver->LobbyRequestJoin(host.driver->CurrentLobby());
        client.driver->LobbyAcceptJoinRequest();
        Until([&] { return client.driver->GetDriverState() == Network::IN_LOBBY && host.driver->GetLobbyMember(1).steamId != 0; });
        host.driver->LobbySetReady(true);
        client.driver->LobbySetReady(true);
        Until([&] { return client.driver->GetDriverState() == Network::IN_LOBBY_STARTING_GAME; });
        host.driver->Listen(0);
        client.driver->Connect("", 0, 0);
        Until([&] { return host.counter.connecting; });
        host.driver->AnswerPeer(1, true);
        Until([&] { return client.driver->GetDriverState() == Network::GAME_ACTIVE && host.driver->GetDriverState() == Network::GAME_ACTIVE; });
    }
    ~Pair() {
        host.driver.reset();
        client.driver.reset();
        host.ctx.reset();
        client.ctx.reset();
        std::filesystem::remove_all(folder);
    }
    template <class F>
    void Until(F pred) {
        for (int i = 0; i < 20000 && !pred(); ++i) {
            for (Side* s : {&host, &client}) {
                s->ctx->RunCallbacks();
                s->ring.Run();
                s->driver->Tick();
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
};

Pair& Shared() {
    static Pair pair;
    return pair;
}

void DriverTick(benchmark::State& state) {
    Pair& p = Shared();
    uint8_t frame[kFrame] = {};
    uint64_t frames = 0;
    for (auto _ : state) {
        const uint64_t before = p.host.counter.received;
        for (int i = 0; i < kBatch; ++i) p.client.driver->SendGamePacket(1, frame, kFrame, 0);
        for (int spins = 0; p.host.counter.received - before < kBatch && spins < 1000000; ++spins) p.host.driver->Tick();
        frames += p.host.counter.received - before;
    }
    state.SetItemsProcessed(static_cast<int64_t>(frames));
}

void BareRead(benchmark::State& state) {
    Pair& p = Shared();
    online::OnlineNetworking* out = p.client.ctx->Networking();
    online::OnlineNetworking* in = p.host.ctx->Networking();
    const online::OnlineId to = p.host.ctx->User()->GetSteamID();
    uint8_t frame[kFrame] = {5};
    uint8_t buffer[kFrame];
    uint64_t frames = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i) out->SendP2PPacket(to, frame, kFrame, online::kSendUnreliableNoDelay, 0);
        int got = 0;
        for (int spins = 0; got < kBatch && spins < 1000000; ++spins) {
            uint32_t size = 0;
            online::OnlineId from = 0;
            if (in->IsP2PPacketAvailable(&size, 0) && in->ReadP2PPacket(buffer, kFrame, &size, &from, 0)) ++got;
        }
        frames += static_cast<uint64_t>(got);
    }
    state.SetItemsProcessed(static_cast<int64_t>(frames));
}

// The broker program with a TCP listener; pid and port.
struct BrokerProgram {
    std::string folder;
    pid_t pid = -1;
    uint16_t port = 0;
    BrokerProgram() {
        char pattern[] = "/tmp/netdriverbrokerXXXXXX";
        folder = mkdtemp(pattern);
        const std::string secret = folder + "/secret";
        std::ofstream(secret) << "a benchmark secret of some length";
        std::string program = online::ExecutableFolder() + "/../tools/online_broker";
        int out[2];
        if (pipe(out) != 0) return;
        pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            execl(program.c_str(), program.c_str(), "serve", "--dir", folder.c_str(), "--listen", "127.0.0.1:0", "--secret-file", secret.c_str(),
                  "--idle-exit", "60", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        std::string line;
        char c = 0;
        pollfd pfd{out[0], POLLIN, 0};
        while (line.size() < 200 && poll(&pfd, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        const size_t colon = line.rfind(':');
        if (colon != std::string::npos) port = static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1));
        std::string answer, error;
        online::ControlBroker(folder, "seed", "user 1 A\nuser 2 B\nuser 3 C\nuser 4 D\nfriends 1 2\nfriends 3 4\n", &answer, &error);
    }
    ~BrokerProgram() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        std::filesystem::remove_all(folder);
    }
};

void BrokerRoundTrip(benchmark::State& state) {
    static BrokerProgram broker;
    const bool tcp = state.range(0) != 0;
    if (broker.port == 0) {
        state.SkipWithError("no broker program");
        return;
    }
    auto config = [&](uint32_t account) {
        online::ClientConfig c;
        c.account = account + (tcp ? 2 : 0);
        if (tcp) {
            c.brokerAddress = "127.0.0.1:" + std::to_string(broker.port);
            c.brokerSecretFile = broker.folder + "/secret";
        } else {
            c.brokerDir = broker.folder;
        }
        return c;
    };
    std::string error;
    std::unique_ptr<online::OnlineContext> a = online::OnlineContext::Connect(config(1), &error);
    std::unique_ptr<online::OnlineContext> b = online::OnlineContext::Connect(config(2), &error);
    if (!a || !b) {
        state.SkipWithError(error.c_str());
        return;
    }
    const online::OnlineId aId = a->User()->GetSteamID(), bId = b->User()->GetSteamID();
    a->Networking()->AcceptP2PSessionWithUser(bId);
    b->Networking()->AcceptP2PSessionWithUser(aId);
    uint8_t payload[kFrame] = {}, buffer[kFrame];
    auto receive = [&](online::OnlineContext* ctx) {
        for (int spins = 0; spins < 10000000; ++spins) {
            uint32_t size = 0;
            online::OnlineId from = 0;
            if (ctx->Networking()->IsP2PPacketAvailable(&size, 0) && ctx->Networking()->ReadP2PPacket(buffer, kFrame, &size, &from, 0)) return true;
        }
        return false;
    };
    for (auto _ : state) {
        a->Networking()->SendP2PPacket(bId, payload, kFrame, online::kSendReliable, 0);
        if (!receive(b.get())) break;
        b->Networking()->SendP2PPacket(aId, payload, kFrame, online::kSendReliable, 0);
        if (!receive(a.get())) break;
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(DriverTick)->Unit(benchmark::kMicrosecond);
BENCHMARK(BareRead)->Unit(benchmark::kMicrosecond);
BENCHMARK(BrokerRoundTrip)->Arg(1)->Arg(0)->ArgName("tcp")->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchsupport::PrintFigure("DriverTick / BareRead, rate",
                              reporter.Ratio("DriverTick", "items_per_second", "BareRead", "items_per_second"),
                              "at least 0.8");
    for (const char* kind : {"tcp:1", "tcp:0"}) {
        std::vector<double> us = reporter.Values(std::string("BrokerRoundTrip/") + kind, "real_s");
        for (double& seconds : us) seconds *= 1e6;
        benchsupport::PrintFigure(
            (std::string("broker round trip over ") + (kind[4] == '1' ? "TCP" : "the Unix socket") + ", us").c_str(),
            benchsupport::SpreadOf(us), nullptr, 1);
    }
    benchmark::Shutdown();
    return 0;
}
