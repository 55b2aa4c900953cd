// The network thread's modes and states with two engines over the in-memory driver
// pair: every transition of the state table, and what each side's game hears.
#include <gtest/gtest.h>

#include "CaptureLogSink.h"
#include "NetMatch.h"

namespace {

using nettest::Match;

struct Views {
    uint32_t netMode, netState, mainMode, mainState;
};

Views Of(MultiplayerEngine& e) { return {e.GetNetworkMode(), e.GetNetworkState(), e.GetMainThreadMode(), e.GetMainThreadState()}; }

#define EXPECT_VIEWS(engine, nm, ns, mm, ms)                                                 \
    do {                                                                                     \
        const Views v = Of(engine);                                                          \
        EXPECT_EQ(v.netMode, uint32_t(nm));                                                  \
        EXPECT_EQ(v.netState, uint32_t(ns));                                                 \
        EXPECT_EQ(v.mainMode, uint32_t(mm));                                                 \
        EXPECT_EQ(v.mainState, uint32_t(ms));                                                \
    } while (0)

TEST(NetworkStates, HostListensThenTheClientConnects) {
    Match m;
    m.host.engine->Host(0);
    m.host.engine->RunWake();
    m.host.engine->UpdateMainThread();
    EXPECT_VIEWS(*m.host.engine, 1, 1, 1, 1);
    EXPECT_TRUE(m.host.delegate.Has("hosted 0"));
    m.client.engine->Join("loopback", 0, 0);
    m.client.engine->RunWake();
    EXPECT_VIEWS(*m.client.engine, 2, 0, 0, 0);  // connecting
    for (int i = 0; i < 5; ++i) m.Step();
    EXPECT_VIEWS(*m.client.engine, 2, 1, 2, 1);
    EXPECT_TRUE(m.client.delegate.Has("joined 0"));
    EXPECT_TRUE(m.host.delegate.Has("connecting"));
    EXPECT_TRUE(m.host.delegate.Has("player connected"));
    EXPECT_TRUE(m.host.engine->GetRemotePlayer(0)->IsConnected());
    ASSERT_NE(m.host.Peer(), nullptr);
    ASSERT_NE(m.client.Peer(), nullptr);
}

TEST(NetworkStates, HostingTwiceAnswersInvalidState) {
    Match m;
    m.host.engine->Host(0);
    m.Step();
    m.host.engine->Host(0);
    m.Step();
    EXPECT_TRUE(m.host.delegate.Has("hosted 9"));
    EXPECT_VIEWS(*m.host.engine, 1, 1, 1, 1);
}

TEST(NetworkStates, RejectedPeerMakesNoDisconnectionOnTheHost) {
    Match m;
    m.host.delegate.acceptConnections = false;
    m.host.engine->Host(0);
    m.Step();
    m.client.engine->Join("loopback", 0, 0);
    for (int i = 0; i < 6; ++i) m.Step();
    EXPECT_TRUE(m.client.delegate.Has("joined 6")) << "the join fails with the driver's reason";
    EXPECT_FALSE(m.client.delegate.Has("disconnected 6"));
    EXPECT_VIEWS(*m.client.engine, 0, 0, 0, 0);
    EXPECT_FALSE(m.host.delegate.Has("player disconnected 6"));
    EXPECT_VIEWS(*m.host.engine, 1, 1, 1, 1);
    EXPECT_EQ(m.host.engine->Peers().Count(), 0u);
}

TEST(NetworkStates, JoinWithoutAHostFails) {
    Match m;
    m.client.engine->Join("loopback", 0, 0);
    for (int i = 0; i < 4; ++i) m.Step();
    EXPECT_TRUE(m.client.delegate.Has("joined 6"));
    EXPECT_VIEWS(*m.client.engine, 0, 0, 0, 0);
    EXPECT_FALSE(m.client.engine->IsHalted());
}

TEST(NetworkStates, ConnectingPeerWhileClientIsRejectedWithoutAsking) {
    Match m;
    ASSERT_TRUE(m.Connect());
    // A second connection request reaching the client (mode 2): never asked.
    m.client.delegate.events.clear();
    m.client.engine->CallbackQueue().BeginWrite(NETCB_PEER_CONNECTING, 4);
    const uint32_t id = 1;
    m.client.engine->CallbackQueue().WriteValue(id);
    m.client.engine->CallbackQueue().EndWrite();
    m.client.engine->UpdateMainThread();
    EXPECT_FALSE(m.client.delegate.Has("connecting"));
}

TEST(NetworkStates, DisconnectWithoutPeersEndsAtOnce) {
    Match m;
    m.host.engine->Host(0);
    m.Step();
    m.host.engine->Disconnect(0);
    m.Step();
    EXPECT_TRUE(m.host.delegate.Has("disconnected 0"));
    EXPECT_VIEWS(*m.host.engine, 0, 0, 0, 0);
}

TEST(NetworkStates, DisconnectInTheWrongState) {
    Match m;
    m.host.engine->Disconnect(0);
    m.Step();
    EXPECT_VIEWS(*m.host.engine, 0, 0, 0, 0);
    EXPECT_FALSE(m.host.delegate.Has("disconnected 9")) << "mode 0 before: no game event";
    // The host disconnecting its peer asked again: NETERROR_INPROGRESS.
    Match n;
    ASSERT_TRUE(n.Connect());
    n.host.engine->Disconnect(0);
    n.host.engine->Disconnect(0);
    n.host.engine->RunWake();  // both commands: the first starts, the second finds (1, 2)
    CommandRingBuffer& q = n.host.engine->CallbackQueue();
    bool sawInProgress = false;
    while (q.BeginRead()) {
        uint32_t reason = 0;
        if (q.RecordId() == NETCB_DISCONNECTED && q.ReadValue(reason) && reason == NETERROR_INPROGRESS) sawInProgress = true;
        q.EndRead();
    }
    EXPECT_TRUE(sawInProgress);
}

TEST(NetworkStates, ClientLeavesTheHostStaysInTheGame) {
    Match m;
    ASSERT_TRUE(m.Connect());
    m.client.engine->Disconnect(0);
    for (int i = 0; i < 4; ++i) m.Step();
    EXPECT_TRUE(m.client.delegate.Has("disconnected 0"));
    EXPECT_VIEWS(*m.client.engine, 0, 0, 0, 0);
    EXPECT_EQ(m.client.engine->Peers().Count(), 0u);
    EXPECT_TRUE(m.host.delegate.Has("player disconnected 0"));
    EXPECT_VIEWS(*m.host.engine, 1, 1, 1, 1);
    EXPECT_EQ(m.host.engine->Peers().Count(), 0u);
    EXPECT_FALSE(m.host.engine->GetRemotePlayer(0)->IsConnected());
}

TEST(NetworkStates, HostLeavingEndsBothSides) {
    Match m;
    ASSERT_TRUE(m.Connect());
    m.host.engine->Disconnect(0);
    EXPECT_EQ(m.host.engine->GetMainThreadState(), uint32_t(NETSTATE_DISCONNECTING));
    for (int i = 0; i < 4; ++i) m.Step();
    EXPECT_TRUE(m.host.delegate.Has("player disconnected 0"));
    EXPECT_TRUE(m.host.delegate.Has("disconnected 0"));
    EXPECT_VIEWS(*m.host.engine, 0, 0, 0, 0);
    EXPECT_FALSE(m.host.engine->IsHalted()) << "the next wake completed the reset";
    EXPECT_TRUE(m.client.delegate.Has("disconnected 0"));
    EXPECT_VIEWS(*m.client.engine, 0, 0, 0, 0);
}

TEST(NetworkStates, ForcedDisconnectResetsAtOnce) {
    Match m;
    ASSERT_TRUE(m.Connect());
    m.host.engine->Disconnect(1);
    m.host.engine->RunWake();
    EXPECT_EQ(m.host.engine->GetNetworkMode(), 0u);
    EXPECT_EQ(m.host.engine->Peers().Count(), 0u);
    for (int i = 0; i < 3; ++i) m.Step();
    EXPECT_TRUE(m.host.delegate.Has("disconnected 0"));
    EXPECT_TRUE(m.client.delegate.Has("disconnected 0"));
}

TEST(NetworkStates, GivingUpWhileConnectingTakesTheQuitPath) {
    Match m;
    m.host.engine->Host(0);
    m.Step();
    m.client.engine->Join("loopback", 0, 0);
    m.client.engine->RunWake();  // (2, 0): the host has not answered
    m.client.engine->Disconnect(0);
    m.client.engine->RunWake();
    m.client.engine->UpdateMainThread();
    EXPECT_VIEWS(*m.client.engine, 0, 0, 0, 0);
    EXPECT_FALSE(m.client.delegate.Has("joined 0"));
    for (int i = 0; i < 6; ++i) m.Step();
    EXPECT_FALSE(m.client.delegate.Has("joined 0")) << "no join is reported after the reset";
    EXPECT_FALSE(m.client.delegate.Has("joined 6"));
}

TEST(NetworkStates, SynchronisationReachesReady) {
    Match m;
    ASSERT_TRUE(m.Connect());
    Player* remote = m.host.engine->GetRemotePlayer(0);
    m.host.engine->SynchronizePlayer(remote);
    m.host.engine->RunWake();
    ASSERT_EQ(m.host.Peer()->syncState, uint32_t(PLAYERSYNCSTATE_READY_TO_SYNC));
    // Without an end of frame the peer stays at 1: no ready event.
    for (int i = 0; i < 40; ++i) m.Step();
    EXPECT_FALSE(m.host.delegate.Has("player ready"));
    m.host.engine->EndFrame(1000000);
    m.host.engine->RunWake();
    EXPECT_EQ(m.host.Peer()->syncState, uint32_t(PLAYERSYNCSTATE_SYNCING));
    for (int i = 0; i < 40; ++i) m.Step();
    EXPECT_EQ(m.host.Peer()->syncState, uint32_t(PLAYERSYNCSTATE_READY));
    EXPECT_TRUE(m.host.delegate.Has("player ready"));
}

TEST(NetworkStates, SynchronizeIsPostedOnlyInAHostedGame) {
    Match m;
    m.host.engine->SynchronizePlayer(m.host.engine->GetRemotePlayer(0));
    EXPECT_FALSE(m.host.engine->Ring().HasRecord());
}

TEST(NetworkStates, QuitOnDestructionResetsTheDriver) {
    Match m;
    ASSERT_TRUE(m.Connect());
    m.host.engine.reset();
    for (int i = 0; i < 3; ++i) {
        m.clock.Advance(100000);
        m.client.engine->RunWake();
        m.client.engine->UpdateMainThread();
    }
    EXPECT_TRUE(m.client.delegate.Has("disconnected 0"));
}

// Ids the handler table does not hold, below its first and past its last, are dropped
// without touching the engine: the next command still runs.
TEST(NetworkStates, CommandIdsOutsideTheTableAreDropped) {
    const uint32_t ids[] = {6, NETCMD_FIRST - 1, NETCMD_LAST + 1, NETCMD_LAST + 2, 0x7FFFFFFFu, 0xFFFFFFF0u};
    for (uint32_t id : ids) {
        Match m;
        ASSERT_TRUE(m.host.engine->BeginCommand(id, 4)) << id;
        const uint32_t payload = 0;
        m.host.engine->Ring().Write(&payload, 4);
        m.host.engine->EndCommand();
        m.host.engine->Host(0);
        m.host.engine->RunWake();
        m.host.engine->UpdateMainThread();
        EXPECT_VIEWS(*m.host.engine, 1, 1, 1, 1);
        EXPECT_TRUE(m.host.delegate.Has("hosted 0")) << id;
    }
}

// With nothing to deliver the driver reports no pending work, so the network thread
// waits for its time-out instead of polling: alone, listening, and in a game whose
// frames are all delivered or not yet due.
TEST(NetworkStates, AnIdleDriverLetsTheNetworkThreadSleep) {
    struct Row {
        const char* name;
        int stage;  // 0 alone, 1 hosting, 2 connected, 3 a frame in flight
    };
    const Row rows[] = {{"alone", 0}, {"hosting", 1}, {"connected", 2}, {"a frame in flight", 3}};
    for (const Row& row : rows) {
        Match m;
        if (row.stage == 1) {
            m.host.engine->Host(0);
            m.Step();
        }
        if (row.stage >= 2) {
            ASSERT_TRUE(m.Connect()) << row.name;
        }
        if (row.stage == 3) {
            LoopbackConditions slow;
            slow.delayUs = 500000;
            m.link.SetConditions(0, slow);
            m.host.engine->EndFrame(5000000);
            m.Step(1000);
        }
        for (int i = 0; i < 3; ++i) m.Step(1000);
        EXPECT_FALSE(m.host.driver->Tick()) << row.name;
        EXPECT_FALSE(m.client.driver->Tick()) << row.name;
        m.host.engine->RunWake();
        EXPECT_NE(m.host.engine->CurrentTimeout(), 0u) << row.name;
    }
}

}  // namespace
