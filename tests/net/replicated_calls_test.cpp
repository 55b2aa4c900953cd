// test-link: game
// Replicated method calls end to end: the Game's engine hosts over the in-memory driver
// pair, a second engine joins, and a script method decorated toClient, called on the
// host, runs on the client through the game delegate and the script bridge.
#include <gtest/gtest.h>

#include <lua.hpp>

#include "NetMatch.h"
#include "engine/entity/EntityTestSupport.h"
#include "game/Game.h"
#include "engine/script/LuaWrapper.h"
#include "engine/entity/ReplicationBridge.h"

struct GameEntityListsTestAccess {
    static void SetMultiplayerEngine(Game& game, MultiplayerEngine* engine) { game.multiplayerEngine = engine; }
};

namespace {

using nettest::Match;

// Forwards received calls to the script bridge, as the game's delegate does.
struct ForwardingDelegate : nettest::RecordingDelegate {
    void OnReplicatedMethodCall(Player* player, const MPMethodCall* call) override {
        RecordingDelegate::OnReplicatedMethodCall(player, call);
        CallReplicatedMethod(player, *call);
    }
};

class ReplicatedCallsTest : public EntityTest {
protected:
    void SetUp() override {
        EntityTest::SetUp();
        InstallNetServices();
        gLua.Init();
        match = std::make_unique<Match>();
        ASSERT_TRUE(match->Connect());
        GameEntityListsTestAccess::SetMultiplayerEngine(*gGame, match->host.engine.get());
        SetGameServices(&GetRunningGameServices());
    }
    void TearDown() override {
        GameEntityListsTestAccess::SetMultiplayerEngine(*gGame, nullptr);
        match.reset();
        gGame->ClearDelayedEntityLists();
        gLua.Close();
        ClearNetServices();
        EntityTest::TearDown();
    }
    MultiplayerEngine& Client() { return *match->client.engine; }
    MultiplayerEngine& Host() { return *match->host.engine; }
    // Host frames until the client has dispatched what is due.
    void Frames(int n) {
        for (int i = 0; i < n; ++i) {
            match->Step(66666);
            gGame->MultiplayerStep(1, 0, 0);
            Client().DispatchReplicatedMethodCalls(false);
        }
    }
    static MPMethodCall Numbered(uint8_t method, float n) {
        MPMethodCall c;
        c.methodId = method;
        c.AddNumberArg(n);
        return c;
    }
    std::unique_ptr<Match> match;
};

TEST_F(ReplicatedCallsTest, AToClientScriptMethodRunsOnceInOrderOnTheClient) {
    ForwardingDelegate forward;
    // The client engine's delegate forwards to the scripts.
    MultiplayerEngine::Options o;
    (void)o;
    lua_State* L = gLua.GetState();
    ASSERT_NE(L, nullptr);
    for (const char* c : {"Entity", "Player", "LuaEntityPointer", "Vector"}) gLua.RegisterClass(c, "");
    const char* chunk =
        "received = {}\n"
        "function Player:Note(x) received[#received + 1] = x end\n"
        "ReplicateMethod(Player, 'Note', toClient, reliable, 1)\n";
    ASSERT_EQ(luaL_loadstring(L, chunk), 0);
    ASSERT_EQ(lua_pcall(L, 0, 0, 0), 0) << lua_tostring(L, -1);
    gLua.SetGlobalObject(Host().GetRemotePlayer(0), "Player", "remote");
    // Calls arriving at the client run through the bridge.
    match->client.engine.reset();
    match->client.delegate.events.clear();
    MultiplayerEngine::Options co;
    co.delegate = &forward;
    co.driver = match->link.Endpoint(1);
    co.networkTime = &nettest::Side::Now;
    co.networkTimeContext = &match->client;
    co.startThread = false;
    match->client.engine = std::make_unique<MultiplayerEngine>(co);
    match->client.engine->InitRemotePlayers(1);
    // The old client left; the host forgets it and the new one joins.
    for (int i = 0; i < 5; ++i) match->Step();
    match->client.engine->Join("loopback", 0, 0);
    for (int i = 0; i < 10; ++i) match->Step();
    ASSERT_EQ(Client().GetMainThreadState(), uint32_t(NETSTATE_IN_GAME));

    ASSERT_EQ(luaL_loadstring(L, "for i = 1, 20 do remote:Note(i) end"), 0);
    ASSERT_EQ(lua_pcall(L, 0, 0, 0), 0) << lua_tostring(L, -1);
    EXPECT_EQ(Host().GetRemotePlayer(0)->GetReliableMethodSendID(), 20u);
    Frames(20);
    ASSERT_EQ(forward.calls.size(), 20u) << "each call runs once";
    lua_getglobal(L, "received");
    ASSERT_EQ(lua_objlen(L, -1), 20u);
    for (int i = 1; i <= 20; ++i) {
        lua_rawgeti(L, -1, i);
        EXPECT_EQ(lua_tonumber(L, -1), double(i));
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    EXPECT_EQ(Host().GetRemotePlayer(0)->GetReliableMethodAckID(), 20u);
}

TEST_F(ReplicatedCallsTest, WaitingRulesAndForcedDispatch) {
    // A call due in the future and one naming an entity still in the delayed lists wait;
    // calls due together keep their order.
    Entity* pending = Make();
    pending->SetMultiplayerId(77);
    gGame->AddDelayedEntity(pending, uint64_t(gGameClock->GetCurrentTime()) + 1000000000ull, DELAYED_ENTITY_INIT);
    MPMethodCall waitsForEntity;
    waitsForEntity.methodId = 50;
    waitsForEntity.AddEntityArg(77);
    Player* remote = Host().GetRemotePlayer(0);
    Host().ReplicateMethodCall(remote, waitsForEntity, true);
    for (int i = 0; i < 5; ++i) Host().ReplicateMethodCall(remote, Numbered(uint8_t(i), float(i)), true);
    Frames(10);
    const auto& calls = match->client.delegate.calls;
    ASSERT_EQ(calls.size(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(calls[i].methodId, i) << "in arrival order";
    EXPECT_EQ(Client().PendingCallCount(), 1u);
    for (auto* caller : match->client.delegate.callers) EXPECT_EQ(caller, Client().GetLocalPlayer()) << "a client's caller is the local player";

    // A future-dated call straight from the callback queue.
    CommandRingBuffer& q = Client().CallbackQueue();
    const MPMethodCall future = Numbered(60, 1.0f);
    ASSERT_TRUE(q.BeginWrite(NETCB_METHOD_CALL, kMethodCallCallbackBytes));
    q.WriteValue(uint32_t(1));
    q.WriteValue(uint64_t(gGameClock->GetCurrentTime()) + 5000000);
    q.Write(&future, kMethodCallBytes);
    q.EndWrite();
    Client().UpdateMainThread();
    Client().DispatchReplicatedMethodCalls(false);
    EXPECT_EQ(Client().PendingCallCount(), 2u);
    Frames(10);  // 0.67 s
    EXPECT_EQ(Client().PendingCallCount(), 2u);
    Frames(70);  // past 5 s
    EXPECT_EQ(Client().PendingCallCount(), 1u);
    EXPECT_EQ(calls.back().methodId, 60);

    // The disconnection runs what is left at once.
    Client().Disconnect(1);
    for (int i = 0; i < 3; ++i) match->Step();
    EXPECT_EQ(Client().PendingCallCount(), 0u);
    EXPECT_EQ(calls.back().methodId, 50);
}

TEST_F(ReplicatedCallsTest, HostRunsReceivedCallsAtOnceWithTheSender) {
    Client().ReplicateMethodCall(Client().GetLocalPlayer(), Numbered(9, 3.0f), false);
    for (int i = 0; i < 10; ++i) match->Step(50000);
    ASSERT_EQ(match->host.delegate.calls.size(), 1u);
    EXPECT_EQ(match->host.delegate.callers[0], Host().GetRemotePlayer(0));
    EXPECT_EQ(Host().PendingCallCount(), 0u);
    // A host call to itself runs locally through the pending list.
    Host().ReplicateMethodCall(Host().GetLocalPlayer(), Numbered(10, 1.0f), true);
    EXPECT_EQ(Host().PendingCallCount(), 1u);
    Host().DispatchReplicatedMethodCalls(false);
    EXPECT_EQ(match->host.delegate.callers.back(), Host().GetLocalPlayer());
}

TEST_F(ReplicatedCallsTest, EndFrameCarriesTheStepTime) {
    match->Step(66666);
    gGame->MultiplayerStep(1, 0, 0);  // the Game's step time catches up with this clock
    Host().RunWake();
    match->Step(66666);
    gGame->MultiplayerStep(1, 0, 0);
    Host().RunWake();
    EXPECT_EQ(Host().GetFrameTime(), gGame->GetReplicationTime());
    EXPECT_EQ(int64_t(Host().GetFrameTime()), gGameClock->GetCurrentTime());
}

}  // namespace
