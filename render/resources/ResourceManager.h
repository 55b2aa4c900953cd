#pragma once
// ResourceManager (global gResourceManager): the loader. A BaseThread named
// "ResourceManager" (65,536-byte ring with a writer lock, infinite wait) that owns the
// six resource pools, loads queued resources, evicts unused ones and reloads, dumps,
// unloads and restores them on request. Between commands it keeps the streaming file
// readers filled (StreamingFileReader::PumpAll after every command and every pass), and
// it runs plain function jobs (command 5) for other subsystems.
//
// Commands (payload fields in order; pointers at native size):
//   9 resource: load one     10 u32 n, n resources: load each in order
//   11 u32 type mask, u32 flag mask, u32 flag value, u8: evict
//   12 result record, u32 length, path: scene file read
//   13 u32 length, path: preload a resource list     14 u32 type mask: reload
//   15 u32 type mask: dump   16 u32 type mask, u8 keep-flagged: unload data
//   17 u32 type mask: restore data   18 resource: discard from its pool
//   19 destroy the pools     20 log the sound memory pool
//   21 u32: load type mask   22 u32 length, text: append to the name list
// Type masks: bit i selects pool i (ResourceType); -1 all, -3 all but shaders.
//
// Threads: the Post and Queue calls, GetResource and the flag setters on any thread
// (the engine uses the main thread); LoadResource on the loader thread or the caller's;
// the handlers on the loader thread. Locks: the manager lock guards the pools, taken
// before the global resource lock.
#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

#include "core/BaseThread.h"
#include "core/Sync.h"

class Resource;
class ResourcePool;
class ResourceList;

// A scene file read whole by the loader (command 12): an EngineAlloc block the poster
// frees, and its size. The block stays null when the file is missing or empty; opened
// tells the two apart.
struct SceneFileImage {
    void* bytes = nullptr;
    uint32_t size = 0;
    bool opened = false;
};

enum : uint32_t {
    RM_CMD_LOAD = 9,
    RM_CMD_LOAD_MANY = 10,
    RM_CMD_EVICT = 11,
    RM_CMD_SCENE_FILE_CHECK = 12,
    RM_CMD_PRELOAD_LIST = 13,
    RM_CMD_RELOAD = 14,
    RM_CMD_DUMP = 15,
    RM_CMD_UNLOAD_DATA = 16,
    RM_CMD_RESTORE_DATA = 17,
    RM_CMD_DISCARD = 18,
    RM_CMD_DESTROY_POOLS = 19,
    RM_CMD_LOG_SOUND_POOL = 20,
    RM_CMD_SET_LOAD_TYPE_MASK = 21,
    RM_CMD_ADD_NAME = 22,
    RM_CMD_END
};

constexpr uint32_t kAllResourceTypes = 0xFFFFFFFFu;        // -1
constexpr uint32_t kAllResourceTypesButShaders = 0xFFFFFFFDu;  // -3

class ResourceManager : public BaseThread {
public:
    ResourceManager();
    ~ResourceManager() override;

    // ======== Main thread ========
    // Creates the six pools once (the sound pool prepares the sound memory pool),
    // starts the thread and makes it the streaming readers' loader.
    bool Start() override;
    // Evicts everything but shaders, destroys the pools, drains and stops the thread.
    void Stop() override;

    // ======== Any thread ========
    // Null for a null or empty name (or no pools); the caller owns one use.
    Resource* GetResource(uint32_t typeIndex, const char* name, uint32_t parameter, bool create, uint32_t flags);
    // State 0: adds a use held by the command, state 1 and command 9; otherwise nothing.
    void QueueLoad(Resource* resource);
    // Adds a use to each, state 1 whatever it was, command 10 (in order; a batch larger
    // than one record goes as several records in order).
    void QueueLoadMany(Resource* const* resources, uint32_t count);
    void PostEvictResources(uint32_t typeMask, bool immediate, uint32_t flagMask, uint32_t flagValue);
    // Path "directory/name.kind"; the loader reads the whole file into *result when it
    // exists and is not empty (the poster frees the block once the command has run, and
    // keeps the record alive until then). A file that cannot be read whole leaves it
    // null with one line. Refused with one line when the path does not fit. Without a
    // running loader the file is read at once on the caller's thread.
    void PostLoadScene(SceneFileImage* result, const char* name, const char* kind, const char* directory);
    void PostPreloadList(const char* name, const char* kind, const char* directory);
    void PostReload(uint32_t typeMask, bool wait);
    void PostDump(uint32_t typeMask);
    void PostUnloadData(uint32_t typeMask, bool keepFlagged);
    void PostRestoreData(uint32_t typeMask);
    void PostDiscard(Resource* resource);
    void PostDestroyPools();
    void PostLogSoundMemoryPool();
    void PostSetLoadTypeMask(uint32_t mask);
    void PostAddName(const char* text);
    void SetResourceFlags(Resource* resource, uint32_t bits);
    void SetFlagsOnPools(uint32_t typeMask, uint32_t bits);
    // Releases the previous read-ahead resource and keeps the new one (may be null)
    // with a use of its own.
    void SetReadAheadResource(Resource* resource);
    // The kinds' loads call this right after opening their file: preheats the
    // read-ahead resource unless loaded, releases it and clears the slot.
    void PreheatReadAheadResource();

    // One file of read-ahead for queued loads: while the render thread creates what the
    // loader's queued load hands it, that load reads the file of the resource queued
    // next. The file is only kept: that resource stays queued (state 1) until its own
    // command has created it, so every wait, drain, pass and Stop counts it as pending,
    // and loads, creations and their log lines keep the queue's order.
    // True on the loader thread while it runs the queued load of resource.
    bool InQueuedLoad(const Resource* resource) const;
    // The resource queued after the running load, with a use of its own, when it is of
    // the type and not loaded; else null.
    Resource* NextQueued(uint32_t type);
    // Loader thread: keeps the file (an EngineAlloc block, now kept here) read ahead for
    // resource from the data kind, with a use of the resource; a file kept before is
    // dropped.
    void KeepReadAheadFile(Resource* resource, const char* kind, void* bytes, uint32_t size);
    // Loader thread: hands over the file kept for resource from the data kind (the
    // caller frees it); false when none is kept for it. A file kept for another resource
    // or kind is dropped.
    bool TakeReadAheadFile(const Resource* resource, const char* kind, void** bytes, uint32_t* size);
    // The resource whose file is kept (inspection).
    const Resource* ReadAheadFileOwner() const { return readAheadFile.resource.load(std::memory_order_acquire); }

    // Loads on the calling thread (profiler counter 62 and the load lines) and sets
    // state 2 whatever the outcome. When another thread is loading the resource, waits
    // for it instead and returns false; true when this call did the load.
    bool LoadResource(Resource* resource);

    // Pumps the streaming readers when called on the loader thread (their list belongs
    // to it); nothing elsewhere.
    static void PumpStreams();
    // Makes the pool of one resource type. The shader and sound pools live above this
    // folder (render/shaders, render/sound): the renderer's start-up table registers their
    // factories before any manager starts. A type without a factory gets no pool.
    using PoolFactory = ResourcePool* (*)();
    static void SetPoolFactory(uint32_t typeIndex, PoolFactory factory);
    // The thread that called Start (the engine's main thread).
    bool OnMainThread() const;

    // Inspection (tests, dumps): under the manager lock.
    CriticalSection& ManagerLock() { return managerLock; }
    ResourcePool* Pool(uint32_t typeIndex) const { return typeIndex < 6 ? pools[typeIndex] : nullptr; }
    bool PoolsCreated() const { return poolsCreated.load(std::memory_order_acquire); }
    uint32_t LoadTypeMask() const { return loadTypeMask.load(std::memory_order_acquire); }
    uint32_t NameCount();
    const char* NameAt(uint32_t i);

    // Command 13's body: the resource-list preload, after which the read-ahead resource
    // is released.
    void PreloadListFile(const char* path);
    // Loads a list's shaders, textures, animations, sounds and templates in that order
    // (ResourceList.cpp).
    void PreloadResources(const ResourceList& list);

protected:
    void HandleCommand(uint32_t id, CommandRingBuffer& ring) override;
    void Tick() override;

private:
    using Handler = void (*)(ResourceManager& self, CommandRingBuffer& ring);
    static const Handler kHandlers[RM_CMD_END - RM_CMD_LOAD];

    // Handlers (ResourceManager_Commands.cpp, ResourceManager_Passes.cpp).
    static void CmdLoad(ResourceManager& self, CommandRingBuffer& ring);
    static void CmdLoadMany(ResourceManager& self, CommandRingBuffer& ring);
    static void CmdEvict(ResourceManager& self, CommandRingBuffer& ring);
    static void CmdSceneFileCheck(ResourceManager& self, CommandRingBuffer& ring);
    // The whole file at path into *result (command 12's work, or the caller's without a loader).
    static void ReadSceneFile(const char* path, SceneFileImage* result);
    static void CmdPreloadList(ResourceManager& self, CommandRingBuffer& ring);
    static void CmdReload(ResourceManager& self, CommandRingBuffer& ring);
    static void CmdDump(ResourceManager& self, CommandRingBuffer& ring);
    static void CmdUnloadData(ResourceManager& self, CommandRingBuffer& ring);
    static void CmdRestoreData(ResourceManager& self, CommandRingBuffer& ring);
    static void CmdDiscard(ResourceManager& self, CommandRingBuffer& ring);
    static void CmdDestroyPools(ResourceManager& self, CommandRingBuffer& ring);
    static void CmdLogSoundPool(ResourceManager& self, CommandRingBuffer& ring);
    static void CmdSetLoadTypeMask(ResourceManager& self, CommandRingBuffer& ring);
    static void CmdAddName(ResourceManager& self, CommandRingBuffer& ring);

    // Posting: fields copied back to back; a text goes as u32 length + bytes + NUL.
    template <class... T>
    bool Post(uint32_t id, const T&... fields);
    bool PostText(uint32_t id, const void* prefix, uint32_t prefixBytes, const char* text);
    void CreatePools();
    void Evict(uint32_t typeMask, uint32_t flagMask, uint32_t flagValue);
    void DestroyPools();
    // Command 9 and each entry of 10: skip a loaded resource, else load; drop the use.
    void LoadQueued(Resource* resource);
    // Loader thread (or after it ended): frees the kept file and its use.
    void DropReadAheadFile();
    // Takes resource's first entry off the list of queued loads.
    void Unqueue(const Resource* resource);
    // Passes 14-17 over the loaded resources of the selected pools, under the manager
    // lock (the reload pass only collects them there and reloads outside it).
    template <class Visit>
    void ForEachLoaded(uint32_t typeMask, Visit visit);

    CriticalSection managerLock;
    ResourcePool* pools[6] = {};
    std::atomic<bool> poolsCreated{false};
    std::atomic<uint32_t> loadTypeMask{0xFFFFFFFFu};
    std::atomic<Resource*> readAhead{nullptr};  // written under the manager lock
    // Under the manager lock: the queued loads not begun yet, in posting order (the
    // read-ahead's guess at the next command; a wrong guess only costs a read).
    std::deque<Resource*> queued;
    // Loader thread: the queued load running and the file read ahead.
    std::atomic<const Resource*> queuedLoad{nullptr};
    struct ReadAheadFile {
        std::atomic<Resource*> resource{nullptr};
        const char* kind = nullptr;
        void* bytes = nullptr;
        uint32_t size = 0;
    } readAheadFile;
    std::vector<char*> names;
    std::atomic<uint64_t> mainThread{0};
};

// Lives in static storage; built and destroyed by the ordered start-up (kRenderStaticInit).
extern ResourceManager& gResourceManager;
void CreateGlobalResourceManager();
void DestroyGlobalResourceManager();
// The global resource lock (a start-up row); guards use counts.
CriticalSection* GlobalResourceLock();
