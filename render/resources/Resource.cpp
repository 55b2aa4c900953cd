#include "render/resources/Resource.h"

#include <cstring>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/fs/FsUtil.h"
#include "platform/os/Thread.h"
#include "render/VornexRenderer.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourcePool.h"

namespace {
constexpr uint32_t kWaitStepMs = 10;
constexpr const char* kTypeNames[RESOURCE_TYPE_COUNT] = {"texture", "shader", "font", "template", "sound", "animation"};

// Sleeps while the resource is queued or loading; the loader thread keeps its streams
// filled meanwhile.
void WaitWhileLoading(const Resource& resource) {
    while (resource.GetState() == RESOURCE_LOADING) {
        ResourceManager::PumpStreams();
        os::Sleep(kWaitStepMs);
    }
}

void FlushRendererOnMainThread() {
    if (gResourceManager.OnMainThread()) gVornexRenderer.FlushCommands(false);
}
}  // namespace

bool ResourceBaseName(const char* name, char* base) {
    if (!name) return false;
    // The extension belongs to the last path component: a dot in a folder name is not
    // one.
    const char* dot = std::strrchr(name, '.');
    const char* slash = std::strrchr(name, '/');
    if (dot && slash && dot < slash) dot = nullptr;
    const size_t length = dot ? size_t(dot - name) : std::strlen(name);
    if (length > kMaxResourceName) return false;
    std::memcpy(base, name, length);
    base[length] = 0;
    return true;
}

const char* ResourceTypeName(uint32_t type) { return type < RESOURCE_TYPE_COUNT ? kTypeNames[type] : "unknown"; }

Resource::Resource(const char* resourceName) { SetName(resourceName); }

Resource::~Resource() {
    gLog.Print(LogSeverity::Progress, LogCategory::RenderDevice, "Removing unused resource: %s", name ? name : "");
    if (pool) pool->Remove(this);
    EngineFree(name);
}

void Resource::SetName(const char* newName) {
    EngineFree(name);
    name = (newName && newName[0]) ? fs::CopyText(newName) : nullptr;
}

void Resource::AddRef() {
    CriticalSectionGuard guard(GlobalResourceLock());
    useCount.fetch_add(1, std::memory_order_acq_rel);
}

void Resource::Release() {
    CriticalSectionGuard guard(GlobalResourceLock());
    if (useCount.load(std::memory_order_acquire) == 0) {
        gLog.Error(LogCategory::RenderDevice, "Resource::Release - %s has no use to release", name ? name : "");
        return;
    }
    useCount.fetch_sub(1, std::memory_order_acq_rel);
}

void ReleaseResources(Resource* const* resources, uint32_t count) {
    if (!resources || count == 0) return;
    CriticalSectionGuard guard(GlobalResourceLock());
    for (uint32_t i = 0; i < count; ++i)
        if (resources[i]) resources[i]->Release();  // the lock is recursive
}

void Resource::QueueLoad() { gResourceManager.QueueLoad(this); }

void Resource::Load(bool onLoaderThread) {
    // On the loader thread itself a queued command would wait behind this very call, and
    // with the loader stopped nobody would run it: both load here.
    if (onLoaderThread && gResourceManager.IsRunning() && !gResourceManager.OnWorkerThread()) {
        FlushRendererOnMainThread();
        gResourceManager.QueueLoad(this);
        FlushRendererOnMainThread();
        WaitWhileLoading(*this);
        return;
    }
    if (GetState() == RESOURCE_LOADED) return;
    {
        CriticalSectionGuard guard(GlobalResourceLock());
        uint32_t expected = RESOURCE_NOT_LOADED;
        state.compare_exchange_strong(expected, RESOURCE_LOADING, std::memory_order_acq_rel);
    }
    gResourceManager.LoadResource(this);
}

void Resource::WaitUntilLoaded(bool flushRenderer) {
    if (flushRenderer) FlushRendererOnMainThread();
    // The loader cannot wait for a command queued behind the one it runs, and a stopped
    // loader runs nothing: the resource is loaded here instead.
    if ((gResourceManager.OnWorkerThread() || !gResourceManager.IsRunning()) && GetState() == RESOURCE_LOADING) {
        Load(false);
        return;
    }
    WaitWhileLoading(*this);
}
