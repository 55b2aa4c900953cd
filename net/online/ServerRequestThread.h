#pragma once
// ServerRequestThread: the worker that talks to the game's web services (analytics posts
// and the deletion of their records), so the main thread never waits on the network.
// Its settings are kWorkerSettings[WORKER_SERVER_REQUEST]: an 8192-byte ring without a
// writer lock (the main thread is its one writer), waiting until woken.
//
// The Game starts it when its delegate asks for it and stops it when it closes; between
// those, gServerRequestThread is the running worker, otherwise null.
#include "core/BaseThread.h"

class ServerRequestThread : public BaseThread {
public:
    ServerRequestThread();
};

extern ServerRequestThread* gServerRequestThread;

// Main thread. Start creates and starts the worker (nothing when it runs already);
// Stop runs every job still queued, stops and deletes it.
void StartServerRequestThread();
void StopServerRequestThread();
