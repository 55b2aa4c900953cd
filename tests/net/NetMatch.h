#pragma once
// Two multiplayer engines over one LoopbackLink on an os::ManualClock, both run without
// their threads: each Step advances the clock, performs one wake of each engine and
// then each engine's main-thread step, all on the calling thread.
#include <gtest/gtest.h>

#include <memory>

#include "NetTestSupport.h"
#include "engine/services/GameClock.h"
#include "net/LoopbackNetDriver.h"
#include "net/MultiplayerEngine.h"
#include "net/Player.h"
#include "platform/os/Clock.h"

namespace nettest {

struct Side {
    RecordingDelegate delegate;
    int64_t clockOffset = 0;  // added to network time
    std::unique_ptr<MultiplayerEngine> engine;
    LoopbackNetDriver* driver = nullptr;

    static int64_t Now(void* self) { return GetNetworkTime() + static_cast<Side*>(self)->clockOffset; }

    void Make(LoopbackNetDriver* d, MultiplayerEngine::Options options = {}) {
        driver = d;
        options.delegate = &delegate;
        options.driver = d;
        options.networkTime = &Side::Now;
        options.networkTimeContext = this;
        options.startThread = false;
        engine = std::make_unique<MultiplayerEngine>(options);
        engine->InitRemotePlayers(1);
    }
    PeerSyncRecord* Peer() { return engine->Peers().Find(1); }
};

struct Match {
    os::ManualClock clock{os::ReadRealCounter() + 1000 * os::kCounterFrequency};
    LoopbackLink link{99};
    Side host, client;
    bool tickGameClock = true;

    // Ring sizes of 0: the engine's own.
    explicit Match(int64_t clientOffset = 0, uint32_t commandRingBytes = 0, uint32_t callbackQueueBytes = 0) {
        clock.Install();
        client.clockOffset = clientOffset;
        MultiplayerEngine::Options options;
        options.commandRingBytes = commandRingBytes;
        if (callbackQueueBytes) options.callbackQueueBytes = callbackQueueBytes;
        host.Make(link.Endpoint(0), options);
        client.Make(link.Endpoint(1), options);
    }
    ~Match() {
        host.engine.reset();
        client.engine.reset();
        clock.Uninstall();
    }

    void Wakes() {
        host.engine->RunWake();
        client.engine->RunWake();
    }
    void Mains() {
        if (tickGameClock && gGameClock) gGameClock->Tick(-1, 1.0f);
        host.engine->UpdateMainThread();
        client.engine->UpdateMainThread();
    }
    void Step(int64_t microseconds = 10000) {
        clock.Advance(microseconds * (os::kCounterFrequency / 1000000));
        Wakes();
        Mains();
    }
    // Host and join; true once both sides are in the game with the peer connected.
    bool Connect() {
        host.engine->Host(0);
        Step();
        Step();
        client.engine->Join("loopback", 0, 0);
        for (int i = 0; i < 20; ++i) {
            Step();
            if (host.engine->GetMainThreadState() == NETSTATE_IN_GAME && client.engine->GetMainThreadState() == NETSTATE_IN_GAME &&
                host.engine->GetRemotePlayer(0)->IsConnected())
                return true;
        }
        return false;
    }
};

}  // namespace nettest
