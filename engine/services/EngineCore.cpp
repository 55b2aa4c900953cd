// Core process state: the configuration, the main thread and the executable's folder.
#include "engine/services/EngineCore.h"

#include <cstring>

#include "core/CrtRand.h"
#include "core/Log.h"
#include "core/PathLimit.h"
#include "core/Time.h"
#include "core/fs/FileSystem.h"
#include "platform/os/Clock.h"
#include "platform/os/Paths.h"

namespace {

CoreConfig* gCoreConfiguration = nullptr;
os::ThreadId gMainThreadId = 0;
char gExecutableDirectory[fs::kMaxPath] = {};
LogSink* gAdoptedSink = nullptr;

}  // namespace

namespace EngineCore {

void Init(CoreConfig* configuration) {
    gCoreConfiguration = configuration;
    gMainThreadId = os::CurrentThreadId();
    os::SetCurrentThreadAffinity(1);
    CrtSrand(static_cast<uint32_t>(os::ReadCounter()));
    Time::InitTimer();
    if (!os::GetExecutableFolder(gExecutableDirectory, sizeof gExecutableDirectory)) gExecutableDirectory[0] = 0;
    for (char* c = gExecutableDirectory; *c; ++c)
        if (*c == '\\') *c = '/';
    if (gExecutableDirectory[0] && !gFileSystem.MountDirectory("locals", gExecutableDirectory))
        gLog.Error(LogCategory::Engine, "Cannot mount the executable folder %s", gExecutableDirectory);
}

void AdoptLogSink(LogSink* sink) { gAdoptedSink = sink; }

void Shutdown() {
    // Only a sink handed over is destroyed: an attached sink belongs to its attacher.
    if (gAdoptedSink && gLog.Sink() == gAdoptedSink) Log::DestroySink(&gAdoptedSink);
    gAdoptedSink = nullptr;
    gFileSystem.UnmountAll();
    gCoreConfiguration = nullptr;
}

CoreConfig* GetConfiguration() { return gCoreConfiguration; }

}  // namespace EngineCore

const char* GetExecutableDirectory() { return gExecutableDirectory; }
os::ThreadId GetMainThreadId() { return gMainThreadId; }
