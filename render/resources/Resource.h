#pragma once
// Resource: the base of every loadable object (textures, shaders, fonts, sounds,
// animations, and the resource part of entity templates).
//
// A resource has a normalised name, a size in bytes of loaded data, a load state
// (0 not loaded, 1 queued or loading, 2 loaded, also after a failed or skipped load), a
// use count, its owning pool and a flag word that is only ever ORed into. Users hold
// uses (AddRef/Release); releasing the last use does not destroy: an eviction of the
// ResourceManager deletes resources without users (ResourcePool::CollectUnused).
//
// Locks: the global resource lock guards every use count change and the 0 -> 1 state
// change of a synchronous load; the manager lock (ResourceManager) guards the pools and
// the 1 -> 2 change. Order: manager lock before resource lock, never the reverse. The
// state, use count and flags are atomics so that waits and dumps read them without a
// lock.
//
// Threads: any thread may hold, release, queue or wait; LoadResource and the other
// data operations run on the loader thread (or the caller's for a synchronous load).
#include <atomic>
#include <cstdint>

class ResourcePool;

enum ResourceType : uint32_t {
    RESOURCE_TEXTURE = 0,
    RESOURCE_SHADER = 1,
    RESOURCE_FONT = 2,
    RESOURCE_TEMPLATE = 3,
    RESOURCE_SOUND = 4,
    RESOURCE_ANIMATION = 5,
    RESOURCE_TYPE_COUNT = 6
};
// "texture", "shader", "font", "template", "sound", "animation"; "unknown" otherwise.
const char* ResourceTypeName(uint32_t type);

enum ResourceState : uint32_t { RESOURCE_NOT_LOADED = 0, RESOURCE_LOADING = 1, RESOURCE_LOADED = 2 };

// Flag bits with a meaning here; other bits (the shader manager's 4, 16 and 64) are
// carried as given.
enum : uint32_t {
    RESOURCE_FLAG_STARTUP = 1,          // present when engine start-up finished
    RESOURCE_FLAG_KEEP_DATA = 32,       // keeps its data when the application is deactivated
    RESOURCE_FLAG_SCENE_TEXTURE = 128,  // read from "scenes"; evicted with the scene's lightmaps
    RESOURCE_FLAG_LOADING_SCREEN = 256, // temporary loading-screen resource
};

// Names longer than this are refused, never truncated (two names must not merge).
constexpr uint32_t kMaxResourceName = 259;

class Resource {
public:
    // Copies the name (none for null or empty); everything else zero.
    explicit Resource(const char* name);
    Resource(const Resource&) = delete;
    Resource& operator=(const Resource&) = delete;

    // Slot order of the design: type index, a query answering 0 (templates: their type
    // id), preheat, destructor, load, reload, unload and restore of the data.
    virtual uint32_t GetResourceType() const = 0;
    virtual uint32_t GetTypeId() const { return 0; }
    // Asks the file system to start reading the resource's file ahead of its load.
    virtual void PreheatResource() {}
    // Logs "Removing unused resource: %s", leaves its pool's index when still in one.
    virtual ~Resource();
    // Loader thread (or the caller's): reads the data; true on success.
    virtual bool LoadResource() { return true; }
    virtual void ReloadResource() {}
    virtual void UnloadResourceData() {}
    virtual void RestoreResourceData() {}

    // Use count +1 / -1 under the global resource lock. Releasing at 0 keeps 0 and logs
    // an error. Never destroys.
    void AddRef();
    void Release();
    // Makes the resource available: with onLoaderThread, queues it on the ResourceManager
    // and sleeps in 10 ms steps while it is queued or loading; otherwise loads it on
    // this thread unless it is loaded already. The renderer's stream is flushed only on
    // the main thread.
    void Load(bool onLoaderThread);
    void QueueLoad();
    // Sleeps in 10 ms steps while the state is 1.
    void WaitUntilLoaded(bool flushRenderer);

    const char* GetName() const { return name; }
    uint32_t GetSize() const { return size; }
    uint32_t GetState() const { return state.load(std::memory_order_acquire); }
    bool IsLoaded() const { return GetState() == RESOURCE_LOADED; }
    uint32_t GetUseCount() const { return useCount.load(std::memory_order_acquire); }
    uint32_t GetFlags() const { return flags.load(std::memory_order_acquire); }
    void AddFlags(uint32_t bits) { flags.fetch_or(bits, std::memory_order_acq_rel); }
    ResourcePool* GetPool() const { return pool; }

    // Replaces the name (the template pool names the resource part it creates).
    void SetName(const char* newName);

protected:
    uint32_t size = 0;

private:
    friend class ResourcePool;
    friend class ResourceManager;

    char* name = nullptr;
    std::atomic<uint32_t> state{RESOURCE_NOT_LOADED};
    std::atomic<uint32_t> useCount{0};
    ResourcePool* pool = nullptr;
    std::atomic<uint32_t> flags{0};
    // Set by the one thread that performs the load (ResourceManager::LoadResource), so
    // a queued load and a synchronous one never read the same data at once.
    std::atomic<bool> loadClaimed{false};
};

// The (normalised) name without the extension of its last component (from that
// component's last dot on) into base (at least kMaxResourceName + 1 bytes); false when
// the name is null or too long.
bool ResourceBaseName(const char* name, char* base);

// Release of every non-null entry under one hold of the global resource lock.
void ReleaseResources(Resource* const* resources, uint32_t count);
