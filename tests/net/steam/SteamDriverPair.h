#pragma once
// Two online drivers over one in-process broker, each with its own signed-in context and
// a worker ring that is never started: a Step pumps both contexts (the copying members
// write into the rings), runs each ring's routed jobs and ticks each driver, all on the
// calling thread. Time for the drivers comes from an os::ManualClock.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "../../platform/online/OnlineTestUtil.h"
#include "core/BaseThread.h"
#include "net/steam/SteamNetDriver.h"
#include "platform/online/OnlineBroker.h"
#include "platform/online/OnlineStore.h"
#include "platform/os/Clock.h"
#include "tools/broker/BrokerControl.h"

namespace steamtest {

// A worker whose ring the test drains by hand.
class RouteRing : public BaseThread {
public:
    RouteRing() : BaseThread("route", 1 << 16, false, 0) {}
    void Run() { ProcessCommands(); }
};

// Every observer event, as text.
class Recorder : public Network::NetDriverObserver {
public:
    std::vector<std::string> events;
    std::vector<std::u16string> names, texts;
    std::vector<std::vector<uint8_t>> received;
    bool Has(const std::string& e) const {
        for (const std::string& s : events)
            if (s == e) return true;
        return false;
    }
    size_t CountOf(const std::string& e) const {
        size_t n = 0;
        for (const std::string& s : events) n += s == e;
        return n;
    }
    void OnDriverListening() override { events.push_back("listening"); }
    void OnDriverConnecting() override { events.push_back("connecting to host"); }
    void OnPeerConnecting(int32_t p) override { events.push_back("peer connecting " + std::to_string(p)); }
    void OnPeerConnected(int32_t p) override { events.push_back("peer connected " + std::to_string(p)); }
    void OnPeerDisconnected(int32_t p, uint32_t r) override {
        events.push_back("peer disconnected " + std::to_string(p) + " " + std::to_string(r));
    }
    void OnReceive(int32_t p, const uint8_t* d, uint32_t n, uint32_t k) override {
        events.push_back("receive " + std::to_string(p) + " " + std::to_string(k));
        received.emplace_back(d, d + n);
    }
    void OnPeerConnectionStall(int32_t p) override { events.push_back("stall " + std::to_string(p)); }
    void OnPeerConnectionResume(int32_t p) override { events.push_back("resume " + std::to_string(p)); }
    void OnChatMessage(uint32_t kind, const char16_t* name, const char16_t* text) override {
        events.push_back("chat " + std::to_string(kind));
        names.push_back(name ? name : u"");
        texts.push_back(text ? text : u"");
    }
    void OnLobbyUpdated() override { events.push_back("lobby updated"); }
    void OnLobbyJoinRequested() override { events.push_back("join requested"); }
    void OnLobbyGameStartRequest(uint32_t map, bool host, bool ranked) override {
        events.push_back("start " + std::to_string(map) + " " + std::to_string(host) + " " + std::to_string(ranked));
    }
    void OnLobbyError(uint32_t e) override { events.push_back("lobby error " + std::to_string(e)); }
};

struct Player {
    std::unique_ptr<online::OnlineContext> ctx;
    RouteRing ring;
    Recorder rec;
    std::unique_ptr<Network::SteamNetDriver> driver;
    bool routed = true;  // false: no owner published, callbacks are dropped

    Network::SteamNetDriver& D() { return *driver; }
    online::OnlineId Id() { return ctx->User()->GetSteamID(); }
};

inline const char* kNameA = "\xC3\x85sa \xE6\x97\xA5";      // "Åsa 日"
inline const char* kNameB = "Bj\xC3\xB6rk \xF0\x9F\x98\x80";  // "Björk 😀" (a surrogate pair)

class DriverPair : public ::testing::Test {
protected:
    os::ManualClock clock{os::ReadRealCounter()};
    onlinetest::TempDir dir;
    std::unique_ptr<online::LocalBroker> broker;
    Player a, b;

    // Knobs of each player's context before SetUp makes them.
    virtual void Adjust(online::ClientConfig&, int) {}

    void SetUp() override {
        clock.Install();
        broker = std::make_unique<online::LocalBroker>();
        online::StatsSchema schema;
        ASSERT_TRUE(broker->Open(dir.path.string(), schema, nullptr));
        std::string answer;
        const std::string seed = std::string("user 1 ") + kNameA + "\nuser 2 " + kNameB + "\nuser 3 Mallory\nfriends 1 2\n";
        ASSERT_TRUE(broker->WithStore([&](online::BrokerStore& s) { return online::RunControl(s, "seed", seed, &answer); })) << answer;
        Make(a, 1, kNameA);
        Make(b, 2, kNameB);
    }
    void TearDown() override {
        a.driver.reset();
        b.driver.reset();
        a.ctx.reset();
        b.ctx.reset();
        broker.reset();
        clock.Uninstall();
    }
    void Make(Player& p, uint32_t account, const char* name) {
        online::ClientConfig c = onlinetest::Config(account, name);
        Adjust(c, static_cast<int>(account));
        p.ctx = broker->CreateClient(c);
        ASSERT_TRUE(p.ctx);
        p.driver = std::make_unique<Network::SteamNetDriver>(p.ctx.get());
        p.driver->SetObserver(&p.rec);
        p.driver->SetRouteTarget(&p.ring);
    }

    // One wake of both sides.
    void Step(int64_t advanceMs = 1) {
        clock.Advance(advanceMs * (os::kCounterFrequency / 1000));
        for (Player* p : {&a, &b}) {
            p->ctx->RunCallbacks();
            p->ring.Run();
            p->driver->Tick();
        }
    }
    // Steps (1 ms of driver time each, real sleeps between) until pred holds or 5 s of
    // real time pass.
    bool StepUntil(const std::function<bool()>& pred, int64_t advanceMs = 1) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end) {
            Step(advanceMs);
            if (pred()) return true;
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        return false;
    }
    // Steps for a while (real time) without expecting anything.
    void Settle(int milliseconds = 60) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (std::chrono::steady_clock::now() < end) {
            Step(0);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    }

    // A creates a friends-only lobby and b joins it through a join request.
    void MeetInLobby() {
        a.D().LobbyCreatePrivate();
        ASSERT_TRUE(StepUntil([&] { return a.D().GetDriverState() == Network::IN_LOBBY; }));
        b.D().LobbyRequestJoin(a.D().CurrentLobby());
        b.D().LobbyAcceptJoinRequest();
        ASSERT_TRUE(StepUntil([&] {
            return b.D().GetDriverState() == Network::IN_LOBBY && a.D().GetLobbyMember(1).steamId == b.Id() &&
                   b.D().GetLobbyMember(1).steamId == a.Id();
        }));
    }
    // Both ready: the owner starts the game.
    void StartGame() {
        a.D().LobbySetReady(true);
        b.D().LobbySetReady(true);
        ASSERT_TRUE(StepUntil([&] {
            return a.D().GetDriverState() == Network::IN_LOBBY_STARTING_GAME && b.D().GetDriverState() == Network::IN_LOBBY_STARTING_GAME;
        }));
    }
    // The squad player (a, team 0) hosts, b joins; the host's game accepts.
    void Connect(bool accept = true) {
        ASSERT_EQ(a.D().Listen(0), 0u);
        ASSERT_EQ(b.D().Connect("", 0, 0), 0u);
        ASSERT_TRUE(StepUntil([&] { return a.rec.Has("peer connecting 1"); }));
        a.D().AnswerPeer(1, accept);
    }
};

// Two players of an in-process broker in real time, for the fuzz targets (no fixture):
// Meet signs users 1 and 2 (friends) in and has the guest join the owner's private
// lobby; Pump ticks both on the calling thread.
struct LobbyWorld {
    onlinetest::TempDir dir;
    online::LocalBroker broker;
    Player owner, guest;

    void Pump(int times) {
        for (int i = 0; i < times; ++i)
            for (Player* p : {&owner, &guest}) {
                p->ctx->RunCallbacks();
                p->ring.Run();
                p->driver->Tick();
            }
    }
    // Pumps until pred holds, one second at the most.
    bool Until(const std::function<bool()>& pred) {
        for (int i = 0; i < 5000 && !pred(); ++i) {
            Pump(1);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return pred();
    }
    bool Meet(const char* ownerName, const char* guestName) {
        online::StatsSchema schema;
        if (!broker.Open(dir.path.string(), schema, nullptr)) return false;
        std::string answer;
        const std::string seed = std::string("user 1 ") + ownerName + "\nuser 2 " + guestName + "\nfriends 1 2\n";
        broker.WithStore([&](online::BrokerStore& s) { return online::RunControl(s, "seed", seed, &answer); });
        for (auto [p, account] : {std::pair{&owner, 1u}, std::pair{&guest, 2u}}) {
            p->ctx = broker.CreateClient(onlinetest::Config(account, account == 1 ? ownerName : guestName));
            if (!p->ctx) return false;
            p->driver = std::make_unique<Network::SteamNetDriver>(p->ctx.get());
            p->driver->SetObserver(&p->rec);
            p->driver->SetRouteTarget(&p->ring);
        }
        owner.driver->LobbyCreatePrivate();
        if (!Until([&] { return owner.driver->GetDriverState() == Network::IN_LOBBY; })) return false;
        guest.driver->LobbyRequestJoin(owner.driver->CurrentLobby());
        guest.driver->LobbyAcceptJoinRequest();
        return Until([&] { return guest.driver->GetDriverState() == Network::IN_LOBBY && owner.driver->GetLobbyMember(1).steamId != 0; });
    }
};

}  // namespace steamtest
