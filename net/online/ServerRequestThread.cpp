#include "net/online/ServerRequestThread.h"

ServerRequestThread* gServerRequestThread = nullptr;

namespace {
const WorkerSettings& Settings() { return kWorkerSettings[WORKER_SERVER_REQUEST]; }
}  // namespace

ServerRequestThread::ServerRequestThread()
    : BaseThread(Settings().name, Settings().ringBytes, Settings().useLock, Settings().waitTimeoutMs) {}

void StartServerRequestThread() {
    if (gServerRequestThread) return;
    auto* thread = new ServerRequestThread();
    if (!thread->Start()) {
        delete thread;
        return;
    }
    gServerRequestThread = thread;
}

void StopServerRequestThread() {
    ServerRequestThread* thread = gServerRequestThread;
    if (!thread) return;
    thread->Flush();
    thread->Stop();
    gServerRequestThread = nullptr;
    delete thread;
}
