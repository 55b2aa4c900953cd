// Two multiplayer engines with their network threads, each owning an online driver over
// an in-process broker: the main thread pumps the services' callbacks (the copying
// members post into the engine's ring) while the network thread handles them and binds
// call results. A whole invitation-to-game story goes through, and a callback pumped
// before an engine owns the driver is dropped.
// test-sanitize: thread address
// test-link: broker_server
#include "SteamDriverPair.h"

#include "../NetTestSupport.h"
#include "net/MultiplayerEngine.h"
#include "net/Player.h"

namespace {

using namespace steamtest;

struct EngineSide {
    std::unique_ptr<online::OnlineContext> ctx;
    std::unique_ptr<Network::SteamNetDriver> driver;
    nettest::RecordingDelegate delegate;
    std::unique_ptr<MultiplayerEngine> engine;
    bool Has(const std::string& e) const {
        for (const std::string& s : delegate.events)
            if (s == e) return true;
        return false;
    }
};

class Routing : public ::testing::Test {
protected:
    void SetUp() override {
        broker = std::make_unique<online::LocalBroker>();
        ASSERT_TRUE(broker->Open(dir.path.string(), online::StatsSchema(), nullptr));
        std::string answer;
        ASSERT_TRUE(broker->WithStore([&](online::BrokerStore& s) { return online::RunControl(s, "seed", "user 1 A\nuser 2 B\nfriends 1 2\n", &answer); }));
        for (auto [s, account] : {std::pair{&a, 1u}, std::pair{&b, 2u}}) {
            online::ClientConfig c = onlinetest::Config(account, account == 1 ? "A" : "B");
            if (account == 1) c.autoInviteAccount = 2;
            s->ctx = broker->CreateClient(c);
            ASSERT_TRUE(s->ctx);
            s->driver = std::make_unique<Network::SteamNetDriver>(s->ctx.get());
        }
    }
    void Start(EngineSide& s) {
        MultiplayerEngine::Options o;
        o.delegate = &s.delegate;
        o.driver = s.driver.get();
        s.engine = std::make_unique<MultiplayerEngine>(o);
        s.engine->InitRemotePlayers(1);
        s.driver->SetRouteTarget(s.engine.get());
    }
    void TearDown() override {
        for (EngineSide* s : {&a, &b}) {
            s->driver->SetRouteTarget(nullptr);
            s->engine.reset();
            s->driver.reset();
            s->ctx.reset();
        }
        broker.reset();
    }
    // The main thread's frame: pump the services, drain the engines' callbacks.
    bool Frames(const std::function<bool()>& pred, int milliseconds = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (std::chrono::steady_clock::now() < end) {
            for (EngineSide* s : {&a, &b}) {
                s->ctx->RunCallbacks();
                if (s->engine) s->engine->UpdateMainThread();
            }
            if (pred()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    onlinetest::TempDir dir;
    std::unique_ptr<online::LocalBroker> broker;
    EngineSide a, b;
};

TEST_F(Routing, InvitationToGameThroughTheNetworkThreads) {
    Start(a);
    a.engine->LobbyCreatePrivate();
    ASSERT_TRUE(Frames([&] { return a.engine->Flush() && a.driver->GetDriverState() == Network::IN_LOBBY; }));
    a.engine->LobbyInviteFriend();
    // b has no engine yet: its join request is dropped, not queued for later.
    Frames([&] { return false; }, 300);
    EXPECT_EQ(b.driver->PendingLobby(), 0u);
    Start(b);
    a.engine->LobbyInviteFriend();
    ASSERT_TRUE(Frames([&] { return b.Has("lobby join requested"); }));
    b.engine->LobbyAcceptJoinRequest();
    ASSERT_TRUE(Frames([&] { return a.Has("chat 1 2") && b.engine->Flush() && b.driver->GetDriverState() == Network::IN_LOBBY; }));
    a.engine->LobbySetReady(true);
    b.engine->LobbySetReady(true);
    ASSERT_TRUE(Frames([&] { return a.Has("lobby start 0 1 0") && b.Has("lobby start 0 0 0"); }));
    a.engine->Host(0);
    ASSERT_TRUE(Frames([&] { return a.Has("hosted 0"); }));
    b.engine->Join("", 0, 0);
    ASSERT_TRUE(Frames([&] { return a.Has("player connected") && b.Has("joined 0"); }));
    b.engine->Disconnect(0);
    ASSERT_TRUE(Frames([&] { return a.Has("player disconnected 8") || a.Has("disconnected 8"); }));
}

}  // namespace
