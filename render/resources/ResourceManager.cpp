// The ResourceManager: pools, queueing and loading.
//
// Design. Every loadable object is a Resource held in one of six pools by type index.
// Other threads find or create resources by name (GetResource, under the manager lock)
// and queue their loads (QueueLoad: state 0 -> 1, a use held by the command, command 9);
// the "ResourceManager" thread runs LoadResource, which reads the files and hands device
// work to the render thread as jobs (render/RenderJobs.h), waiting for them. A resource
// is marked loaded (state 2) whatever the outcome, so no waiter sleeps for ever.
// Evictions (command 11) delete resources without users; the passes 14-17 reload, dump,
// unload and restore loaded ones. Between commands the thread pumps the streaming file
// readers, whose loader it is. Facets: _Commands (command handlers 9-13, 18-22),
// _Passes (eviction and the passes 14-17).
#include "render/resources/ResourceManager.h"

#include <atomic>
#include <cstring>
#include <new>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/Time.h"
#include "core/fs/FileSystem.h"
#include "core/fs/StreamingFileReader.h"
#include "core/profiler/Profiler.h"
#include "platform/os/Clock.h"
#include "platform/os/Thread.h"
#include "render/ResourceStreamPump.h"
#include "render/VornexRenderer.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceAnimation.h"
#include "render/resources/ResourceFont.h"
#include "render/resources/ResourcePool.h"
#include "render/resources/ResourceTemplatePool.h"
#include "render/resources/ResourceTexture.h"

namespace {
alignas(ResourceManager) unsigned char gManagerStorage[sizeof(ResourceManager)];
CriticalSection* gResourceLock = nullptr;

// Entries of one command-10 record; a longer batch goes as several records in order.
constexpr uint32_t kLoadManyPerRecord = 1024;

void* AcquireProfilerFont(const char* name) {
    Resource* font = gResourceManager.GetResource(RESOURCE_FONT, name, 0, true, 0);
    if (!font) return nullptr;
    font->Load(true);
    if (static_cast<ResourceFont*>(font)->PageTextureCount() == 0) {
        font->Release();
        return nullptr;
    }
    return font;
}

void ReleaseProfilerFont(void* font) { static_cast<Resource*>(font)->Release(); }

// The factories of the pools that live above this folder (SetPoolFactory).
std::atomic<ResourceManager::PoolFactory> gPoolFactories[RESOURCE_TYPE_COUNT] = {};

ResourcePool* MakeRegisteredPool(uint32_t type) {
    const ResourceManager::PoolFactory make = gPoolFactories[type].load(std::memory_order_acquire);
    return make ? make() : nullptr;
}
}  // namespace

ResourceManager& gResourceManager = *reinterpret_cast<ResourceManager*>(gManagerStorage);

void CreateGlobalResourceManager() {
    new (gManagerStorage) ResourceManager;
    gResourceLock = new CriticalSection;
    SetResourceStreamPump(&ResourceManager::PumpStreams);
}

void DestroyGlobalResourceManager() {
    SetResourceStreamPump(nullptr);
    gResourceManager.~ResourceManager();
    delete gResourceLock;
    gResourceLock = nullptr;
}

CriticalSection* GlobalResourceLock() { return gResourceLock; }

ResourceManager::ResourceManager()
    : BaseThread(kWorkerSettings[WORKER_RESOURCE_MANAGER].name, kWorkerSettings[WORKER_RESOURCE_MANAGER].ringBytes,
                 kWorkerSettings[WORKER_RESOURCE_MANAGER].useLock,
                 kWorkerSettings[WORKER_RESOURCE_MANAGER].waitTimeoutMs) {}

ResourceManager::~ResourceManager() {
    if (IsRunning() || PoolsCreated()) Stop();
    for (char* n : names) EngineFree(n);
}

// ---------------------------------------------------------------------------------------
// Start and stop (main thread)

void ResourceManager::CreatePools() {
    CriticalSectionGuard guard(&managerLock);
    if (PoolsCreated()) return;
    pools[RESOURCE_TEXTURE] = new ResourceTexturePool;
    pools[RESOURCE_SHADER] = MakeRegisteredPool(RESOURCE_SHADER);
    pools[RESOURCE_FONT] = new ResourceFontPool;
    pools[RESOURCE_TEMPLATE] = new ResourceTemplatePool;
    pools[RESOURCE_SOUND] = MakeRegisteredPool(RESOURCE_SOUND);
    pools[RESOURCE_ANIMATION] = new ResourceAnimationPool;
    poolsCreated.store(true, std::memory_order_release);
}

bool ResourceManager::Start() {
    mainThread.store(os::CurrentThreadId(), std::memory_order_release);
    CreatePools();
    if (!BaseThread::Start()) return false;
    StreamingFileReader::SetLoaderThread(this);
    gVornexRenderer.SetProfilerFontLookup(&AcquireProfilerFont, &ReleaseProfilerFont);
    return true;
}

void ResourceManager::Stop() {
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "ResourceManager closing...");
    SetReadAheadResource(nullptr);  // its use would outlive the pools
    if (PoolsCreated()) {
        if (IsRunning()) {
            PostEvictResources(kAllResourceTypesButShaders, false, 0, 0);
            PostDestroyPools();
            Flush();
        } else {
            Evict(kAllResourceTypesButShaders, 0, 0);
            DestroyPools();
        }
        poolsCreated.store(false, std::memory_order_release);
    }
    // The thread ends before the readers fall back to running their jobs inline.
    BaseThread::Stop();
    DropReadAheadFile();  // nobody else touches it once the thread ended
    {
        CriticalSectionGuard guard(&managerLock);
        queued.clear();
    }
    StreamingFileReader::SetLoaderThread(nullptr);
    gVornexRenderer.SetProfilerFontLookup(nullptr, nullptr);
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "ResourceManager closed");
}

bool ResourceManager::OnMainThread() const {
    const uint64_t id = mainThread.load(std::memory_order_acquire);
    return id != 0 && id == os::CurrentThreadId();
}

void ResourceManager::SetPoolFactory(uint32_t typeIndex, PoolFactory factory) {
    if (typeIndex < RESOURCE_TYPE_COUNT) gPoolFactories[typeIndex].store(factory, std::memory_order_release);
}

void ResourceManager::PumpStreams() {
    if (gResourceManager.OnWorkerThread()) StreamingFileReader::PumpAll();
}

void ResourceManager::Tick() {
    BaseThread::Tick();
    StreamingFileReader::PumpAll();
}

// ---------------------------------------------------------------------------------------
// Lookup, queueing and flags (any thread)

Resource* ResourceManager::GetResource(uint32_t typeIndex, const char* name, uint32_t parameter, bool create,
                                       uint32_t flags) {
    if (!name || !name[0] || typeIndex >= RESOURCE_TYPE_COUNT) return nullptr;
    CriticalSectionGuard guard(&managerLock);
    ResourcePool* pool = pools[typeIndex];
    return pool ? pool->GetResource(name, parameter, create, flags) : nullptr;
}

void ResourceManager::QueueLoad(Resource* resource) {
    if (!resource) return;
    bool post = false;
    {
        CriticalSectionGuard guard(&managerLock);
        if (resource->GetState() == RESOURCE_NOT_LOADED) {
            resource->AddRef();
            resource->state.store(RESOURCE_LOADING, std::memory_order_release);
            queued.push_back(resource);
            post = true;
        }
    }
    // Posted outside the lock: a full ring waits for the loader, which needs the lock.
    if (post && !Post(RM_CMD_LOAD, resource)) {
        Unqueue(resource);
        resource->state.store(RESOURCE_LOADED, std::memory_order_release);
        resource->Release();
    }
}

void ResourceManager::QueueLoadMany(Resource* const* resources, uint32_t count) {
    if (!resources || count == 0) return;
    {
        CriticalSectionGuard guard(&managerLock);
        for (uint32_t i = 0; i < count; ++i) {
            if (!resources[i]) continue;
            resources[i]->AddRef();
            resources[i]->state.store(RESOURCE_LOADING, std::memory_order_release);
            queued.push_back(resources[i]);
        }
    }
    for (uint32_t first = 0; first < count; first += kLoadManyPerRecord) {
        const uint32_t n = count - first < kLoadManyPerRecord ? count - first : kLoadManyPerRecord;
        const uint32_t bytes = uint32_t(sizeof n + n * sizeof(Resource*));
        if (BeginCommand(RM_CMD_LOAD_MANY, bytes)) {
            Ring().WriteValue(n);
            Ring().Write(resources + first, uint32_t(n * sizeof(Resource*)));
            EndCommand();
            continue;
        }
        // Nobody will load these: mark them loaded so that no waiter sleeps for ever.
        for (uint32_t i = first; i < first + n; ++i) {
            if (!resources[i]) continue;
            Unqueue(resources[i]);
            resources[i]->state.store(RESOURCE_LOADED, std::memory_order_release);
            resources[i]->Release();
        }
    }
}

template <class... T>
bool ResourceManager::Post(uint32_t id, const T&... fields) {
    constexpr uint32_t size = (0u + ... + static_cast<uint32_t>(sizeof(T)));
    if (!BeginCommand(id, size)) return false;
    (Ring().WriteValue(fields), ...);
    EndCommand();
    return true;
}

bool ResourceManager::PostText(uint32_t id, const void* prefix, uint32_t prefixBytes, const char* text) {
    const uint32_t length = static_cast<uint32_t>(std::strlen(text));
    if (!BeginCommand(id, prefixBytes + uint32_t(sizeof length) + length + 1)) return false;
    Ring().Write(prefix, prefixBytes);
    Ring().WriteValue(length);
    Ring().Write(text, length + 1);
    EndCommand();
    return true;
}

void ResourceManager::PostEvictResources(uint32_t typeMask, bool immediate, uint32_t flagMask, uint32_t flagValue) {
    const uint8_t flag = immediate ? 1 : 0;
    Post(RM_CMD_EVICT, typeMask, flagMask, flagValue, flag);
}

namespace {
// "directory/name.kind" through the file system's composition; false (one line) when
// it does not fit.
bool ComposeScenePath(char* path, const char* name, const char* kind, const char* directory) {
    if (FileSystem::ComposePath(path, fs::kMaxPath, name, kind, directory)) return true;
    gLog.Error(LogCategory::Engine, "ResourceManager - the path of %s.%s in %s is longer than %u characters",
               name ? name : "", kind ? kind : "", directory ? directory : "", fs::kMaxPath - 1);
    return false;
}
}  // namespace

void ResourceManager::PostLoadScene(SceneFileImage* result, const char* name, const char* kind, const char* directory) {
    char path[fs::kMaxPath];
    if (!ComposeScenePath(path, name, kind, directory) || !path[0]) return;
    // The record lives only until the poster's wait: without a running loader the file
    // is read here, as the loader would read it, rather than left in the ring to be
    // written into long after.
    if (!IsRunning()) {
        ReadSceneFile(path, result);
        return;
    }
    PostText(RM_CMD_SCENE_FILE_CHECK, &result, sizeof result, path);
}

void ResourceManager::PostPreloadList(const char* name, const char* kind, const char* directory) {
    char path[fs::kMaxPath];
    if (!ComposeScenePath(path, name, kind, directory)) return;
    PostText(RM_CMD_PRELOAD_LIST, nullptr, 0, path);
}

void ResourceManager::PostReload(uint32_t typeMask, bool wait) {
    gVornexRenderer.FlushCommands(true);
    Post(RM_CMD_RELOAD, typeMask);
    if (wait) Flush();
}

void ResourceManager::PostDump(uint32_t typeMask) { Post(RM_CMD_DUMP, typeMask); }

void ResourceManager::PostUnloadData(uint32_t typeMask, bool keepFlagged) {
    gVornexRenderer.FlushCommands(true);
    const uint8_t keep = keepFlagged ? 1 : 0;
    Post(RM_CMD_UNLOAD_DATA, typeMask, keep);
}

void ResourceManager::PostRestoreData(uint32_t typeMask) {
    gVornexRenderer.FlushCommands(true);
    Post(RM_CMD_RESTORE_DATA, typeMask);
    Flush();
    gVornexRenderer.FlushCommands(true);
}

void ResourceManager::PostDiscard(Resource* resource) {
    if (resource) Post(RM_CMD_DISCARD, resource);
}

void ResourceManager::PostDestroyPools() { Post(RM_CMD_DESTROY_POOLS); }
void ResourceManager::PostLogSoundMemoryPool() { Post(RM_CMD_LOG_SOUND_POOL); }
void ResourceManager::PostSetLoadTypeMask(uint32_t mask) { Post(RM_CMD_SET_LOAD_TYPE_MASK, mask); }

void ResourceManager::PostAddName(const char* text) {
    if (!text || !text[0]) return;
    PostText(RM_CMD_ADD_NAME, nullptr, 0, text);
}

void ResourceManager::SetResourceFlags(Resource* resource, uint32_t bits) {
    if (!resource) return;
    CriticalSectionGuard guard(&managerLock);
    resource->AddFlags(bits);
}

void ResourceManager::SetFlagsOnPools(uint32_t typeMask, uint32_t bits) {
    CriticalSectionGuard guard(&managerLock);
    for (uint32_t t = 0; t < RESOURCE_TYPE_COUNT; ++t)
        if ((typeMask & (1u << t)) && pools[t]) pools[t]->SetFlagsOnAll(bits);
}

void ResourceManager::SetReadAheadResource(Resource* resource) {
    if (resource) resource->AddRef();
    Resource* previous;
    {
        CriticalSectionGuard guard(&managerLock);
        previous = readAhead.load(std::memory_order_relaxed);
        readAhead.store(resource, std::memory_order_release);
    }
    if (previous) previous->Release();
}

void ResourceManager::PreheatReadAheadResource() {
    // Every load asks, and few have a resource to preheat: an empty slot costs no lock.
    if (!readAhead.load(std::memory_order_acquire)) return;
    Resource* resource;
    {
        CriticalSectionGuard guard(&managerLock);
        resource = readAhead.exchange(nullptr, std::memory_order_acq_rel);
    }
    if (!resource) return;
    if (!resource->IsLoaded()) resource->PreheatResource();
    resource->Release();
}

void ResourceManager::Unqueue(const Resource* resource) {
    CriticalSectionGuard guard(&managerLock);
    for (auto it = queued.begin(); it != queued.end(); ++it)
        if (*it == resource) {
            queued.erase(it);
            return;
        }
}

bool ResourceManager::InQueuedLoad(const Resource* resource) const {
    return resource && queuedLoad.load(std::memory_order_acquire) == resource && OnWorkerThread();
}

Resource* ResourceManager::NextQueued(uint32_t type) {
    CriticalSectionGuard guard(&managerLock);
    if (queued.empty()) return nullptr;
    Resource* next = queued.front();
    if (next->GetResourceType() != type || next->IsLoaded()) return nullptr;
    if (type < 32 && !(loadTypeMask.load(std::memory_order_acquire) & (1u << type))) return nullptr;
    next->AddRef();
    return next;
}

void ResourceManager::KeepReadAheadFile(Resource* resource, const char* kind, void* bytes, uint32_t size) {
    DropReadAheadFile();
    resource->AddRef();
    readAheadFile.kind = kind;
    readAheadFile.bytes = bytes;
    readAheadFile.size = size;
    readAheadFile.resource.store(resource, std::memory_order_release);
}

bool ResourceManager::TakeReadAheadFile(const Resource* resource, const char* kind, void** bytes, uint32_t* size) {
    Resource* owner = readAheadFile.resource.load(std::memory_order_acquire);
    if (!owner) return false;
    if (owner != resource || std::strcmp(readAheadFile.kind, kind) != 0) {
        DropReadAheadFile();
        return false;
    }
    *bytes = readAheadFile.bytes;
    *size = readAheadFile.size;
    readAheadFile.bytes = nullptr;
    DropReadAheadFile();
    return true;
}

void ResourceManager::DropReadAheadFile() {
    Resource* owner = readAheadFile.resource.exchange(nullptr, std::memory_order_acq_rel);
    EngineFree(readAheadFile.bytes);
    readAheadFile.bytes = nullptr;
    readAheadFile.size = 0;
    readAheadFile.kind = nullptr;
    if (owner) owner->Release();
}

uint32_t ResourceManager::NameCount() {
    CriticalSectionGuard guard(&managerLock);
    return static_cast<uint32_t>(names.size());
}

const char* ResourceManager::NameAt(uint32_t i) {
    CriticalSectionGuard guard(&managerLock);
    return i < names.size() ? names[i] : nullptr;
}

// ---------------------------------------------------------------------------------------
// Loading (loader thread, or the caller's for a synchronous load)

bool ResourceManager::LoadResource(Resource* resource) {
    bool expected = false;
    if (!resource->loadClaimed.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
        // Another thread is loading it: its result is this call's result.
        while (!resource->IsLoaded()) {
            PumpStreams();
            os::Sleep(10);
        }
        return false;
    }
    if (resource->IsLoaded()) {
        resource->loadClaimed.store(false, std::memory_order_release);
        return false;
    }
    gProfiler.StartTimer(PROFILE_RESOURCE_LOADING, PROFILER_THREAD_OTHER);
    const int64_t start = os::ReadCounter();
    const uint32_t type = resource->GetResourceType();
    const char* name = resource->GetName() ? resource->GetName() : "";
    gLog.Print(LogSeverity::Progress, LogCategory::RenderDevice, "Loading %s resource: %s", ResourceTypeName(type), name);
    if (type >= 32 || !(loadTypeMask.load(std::memory_order_acquire) & (1u << type))) {
        gLog.Print(LogSeverity::Progress, LogCategory::RenderDevice, "Resource loading skipped (%s)", name);
    } else if (resource->LoadResource()) {
        const double seconds = Time(os::ReadCounter() - start).ToSeconds();
        gLog.Print(LogSeverity::Progress, LogCategory::RenderDevice,
                   "Resource loaded successfully (%s) in %f seconds", name, seconds);
    } else {
        gLog.Error(LogCategory::RenderDevice, "Resource loading failed (%s)", name);
    }
    {
        CriticalSectionGuard guard(&managerLock);
        resource->state.store(RESOURCE_LOADED, std::memory_order_release);
    }
    resource->loadClaimed.store(false, std::memory_order_release);
    gProfiler.StopTimer(PROFILE_RESOURCE_LOADING, PROFILER_THREAD_OTHER);
    return true;
}
