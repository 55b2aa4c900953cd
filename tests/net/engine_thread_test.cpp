// test-sanitize: thread address
// Two engines on their real network threads over the in-memory driver pair: hosting,
// joining, calls and texts both ways, a command ring too small for the burst, and
// teardown. Every wait has a time-out.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "NetTestSupport.h"
#include "net/LoopbackNetDriver.h"
#include "net/MultiplayerEngine.h"
#include "net/Player.h"
#include "platform/os/Thread.h"

namespace {

using nettest::RecordingDelegate;

// Runs the main-thread steps until the condition holds; false after 10 s.
bool PumpUntil(std::initializer_list<MultiplayerEngine*> engines, const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < limit) {
        for (MultiplayerEngine* e : engines) {
            e->UpdateMainThread();
            e->DispatchReplicatedMethodCalls(true);
        }
        if (done()) return true;
        os::Sleep(1);
    }
    return false;
}

std::unique_ptr<MultiplayerEngine> Make(RecordingDelegate* d, LoopbackNetDriver* driver, uint32_t ringBytes = 0) {
    MultiplayerEngine::Options o;
    o.delegate = d;
    o.driver = driver;
    o.commandRingBytes = ringBytes;
    auto e = std::make_unique<MultiplayerEngine>(o);
    e->InitRemotePlayers(1);
    return e;
}

TEST(EngineThreads, AMatchOnRealThreads) {
    LoopbackLink link;
    RecordingDelegate hostGame, clientGame;
    auto host = Make(&hostGame, link.Endpoint(0));
    auto client = Make(&clientGame, link.Endpoint(1));
    ASSERT_TRUE(host->IsRunning());
    host->Host(0);
    ASSERT_TRUE(PumpUntil({host.get()}, [&] { return host->IsServer(); }));
    client->Join("loopback", 0, 0);
    ASSERT_TRUE(PumpUntil({host.get(), client.get()}, [&] { return client->IsClient() && hostGame.Has("player connected"); }));

    for (int i = 0; i < 50; ++i) {
        MPMethodCall c;
        c.methodId = 1;
        c.AddNumberArg(float(i));
        host->ReplicateMethodCall(host->GetRemotePlayer(0), c, true);
        client->ReplicateMethodCall(client->GetLocalPlayer(), c, true);
        client->SendChatMessage(0, u"over");
        host->EndFrame(uint64_t(i) * 66666);
    }
    ASSERT_TRUE(PumpUntil({host.get(), client.get()}, [&] { return hostGame.calls.size() == 50 && clientGame.calls.size() == 50; }));
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(hostGame.calls[i].GetNumberArg(0), float(i));
        EXPECT_EQ(clientGame.calls[i].GetNumberArg(0), float(i));
    }
    ASSERT_TRUE(PumpUntil({host.get(), client.get()}, [&] { return host->GetRemotePlayer(0)->GetReliableMethodAckID() == 50; }));

    client->Disconnect(0);
    ASSERT_TRUE(PumpUntil({host.get(), client.get()}, [&] { return clientGame.Has("disconnected 0") && hostGame.Has("player disconnected 0"); }));
    EXPECT_FALSE(client->IsMultiplayerGame());
    EXPECT_TRUE(host->IsServer());
    client.reset();
    host.reset();
}

TEST(EngineThreads, AFullCommandRingMakesTheWriterWaitAndLosesNothing) {
    LoopbackLink link;
    RecordingDelegate game;
    auto engine = Make(&game, link.Endpoint(0), 2048);
    constexpr int kLines = 3000;
    for (int i = 0; i < kLines; ++i) engine->SendChatMessage(1, u"a lobby line of some length, to fill the ring");
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (link.Endpoint(0)->LobbyRequests().size() < size_t(kLines) && std::chrono::steady_clock::now() < limit) os::Sleep(1);
    EXPECT_EQ(link.Endpoint(0)->LobbyRequests().size(), size_t(kLines));
    EXPECT_EQ(game.chat.size(), size_t(kLines)) << "each line echoed locally";
}

TEST(EngineThreads, WithoutADriverHostingIsNotSupported) {
    RecordingDelegate game;
    MultiplayerEngine::Options o;
    o.delegate = &game;
    MultiplayerEngine engine(o);
    engine.Host(0);
    engine.Join("somewhere", 0, 0);
    ASSERT_TRUE(PumpUntil({&engine}, [&] { return game.Has("hosted 10") && game.Has("joined 10"); }));
    EXPECT_FALSE(engine.IsMultiplayerGame());
    EXPECT_TRUE(PumpUntil({&engine}, [&] { return engine.IsIdle(); }));
}

}  // namespace
