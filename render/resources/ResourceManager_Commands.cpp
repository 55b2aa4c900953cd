// The loader thread's command handlers (one per command id) other than the eviction
// and the per-pool passes (ResourceManager_Passes.cpp).
#include <cstring>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/fs/FileReader.h"
#include "core/fs/FsUtil.h"
#include "core/fs/StreamingFileReader.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourcePool.h"

namespace {
// A text payload {u32 length, bytes, NUL} read in place; null when the record is short
// or the text is not terminated where its length says.
const char* ReadText(CommandRingBuffer& ring, uint32_t* lengthOut) {
    uint32_t length = 0;
    if (!ring.ReadValue(length) || length >= ring.ReadLeft()) return nullptr;
    const char* text = reinterpret_cast<const char*>(ring.ReadCursor());
    if (text[length] != 0) return nullptr;
    ring.SkipRead(length + 1);
    if (lengthOut) *lengthOut = length;
    return text;
}
}  // namespace

const ResourceManager::Handler ResourceManager::kHandlers[RM_CMD_END - RM_CMD_LOAD] = {
    &ResourceManager::CmdLoad,           // 9
    &ResourceManager::CmdLoadMany,       // 10
    &ResourceManager::CmdEvict,          // 11
    &ResourceManager::CmdSceneFileCheck, // 12
    &ResourceManager::CmdPreloadList,    // 13
    &ResourceManager::CmdReload,         // 14
    &ResourceManager::CmdDump,           // 15
    &ResourceManager::CmdUnloadData,     // 16
    &ResourceManager::CmdRestoreData,    // 17
    &ResourceManager::CmdDiscard,        // 18
    &ResourceManager::CmdDestroyPools,   // 19
    &ResourceManager::CmdLogSoundPool,   // 20
    &ResourceManager::CmdSetLoadTypeMask,// 21
    &ResourceManager::CmdAddName,        // 22
};

void ResourceManager::HandleCommand(uint32_t id, CommandRingBuffer& ring) {
    // A file read ahead serves only the load command that follows; any other command may
    // change what that load would read (the load type mask, a reload, the pools).
    if (id != RM_CMD_LOAD && id != RM_CMD_LOAD_MANY) DropReadAheadFile();
    if (id >= RM_CMD_LOAD && id < RM_CMD_END) kHandlers[id - RM_CMD_LOAD](*this, ring);
    StreamingFileReader::PumpAll();
}

void ResourceManager::LoadQueued(Resource* resource) {
    if (!resource) return;
    Unqueue(resource);
    queuedLoad.store(resource, std::memory_order_release);
    const bool loaded = !resource->IsLoaded() && LoadResource(resource);
    queuedLoad.store(nullptr, std::memory_order_release);
    if (!loaded) {
        // Loaded elsewhere in between: a file read ahead for it is stale.
        if (ReadAheadFileOwner() == resource) DropReadAheadFile();
        gLog.Print(LogSeverity::Progress, LogCategory::RenderDevice,
                   "Resource load request skipped. The resource have already been loaded in between (%s)",
                   resource->GetName() ? resource->GetName() : "");
    }
    resource->Release();
    StreamingFileReader::PumpAll();
}

void ResourceManager::CmdLoad(ResourceManager& self, CommandRingBuffer& ring) {
    Resource* resource = nullptr;
    if (ring.ReadValue(resource)) self.LoadQueued(resource);
}

void ResourceManager::CmdLoadMany(ResourceManager& self, CommandRingBuffer& ring) {
    uint32_t count = 0;
    if (!ring.ReadValue(count)) return;
    for (uint32_t i = 0; i < count; ++i) {
        Resource* resource = nullptr;
        if (!ring.ReadValue(resource)) return;
        self.LoadQueued(resource);
    }
}

void ResourceManager::CmdSceneFileCheck(ResourceManager&, CommandRingBuffer& ring) {
    SceneFileImage* result = nullptr;
    if (!ring.ReadValue(result)) return;
    const char* path = ReadText(ring, nullptr);
    if (path && result) ReadSceneFile(path, result);
}

void ResourceManager::ReadSceneFile(const char* path, SceneFileImage* result) {
    FileReader reader(path, nullptr, nullptr);
    result->opened = reader.IsOpen();
    const uint32_t size = reader.IsOpen() ? reader.GetSize() : 0;
    if (size == 0) return;
    // The whole file, once: the main thread parses these bytes.
    void* block = EngineAlloc(size);
    if (!block || !reader.Read(block, size)) {
        gLog.Error(LogCategory::Engine, "ResourceManager - unable to read the %u bytes of %s", size, path);
        EngineFree(block);
        return;
    }
    result->bytes = block;
    result->size = size;
}

void ResourceManager::CmdPreloadList(ResourceManager& self, CommandRingBuffer& ring) {
    if (const char* path = ReadText(ring, nullptr)) self.PreloadListFile(path);
}

void ResourceManager::CmdDiscard(ResourceManager& self, CommandRingBuffer& ring) {
    Resource* resource = nullptr;
    if (!ring.ReadValue(resource) || !resource) return;
    CriticalSectionGuard guard(&self.managerLock);
    const uint32_t type = resource->GetResourceType();
    if (type < RESOURCE_TYPE_COUNT && self.pools[type]) self.pools[type]->Discard(resource);
}

void ResourceManager::CmdDestroyPools(ResourceManager& self, CommandRingBuffer&) { self.DestroyPools(); }

void ResourceManager::DestroyPools() {
    DropReadAheadFile();  // its use must not outlive the pools
    CriticalSectionGuard guard(&managerLock);
    if (!PoolsCreated()) return;
    poolsCreated.store(false, std::memory_order_release);
    for (uint32_t t = RESOURCE_TYPE_COUNT; t-- > 0;) {
        delete pools[t];
        pools[t] = nullptr;
    }
}

void ResourceManager::CmdLogSoundPool(ResourceManager& self, CommandRingBuffer&) {
    if (ResourcePool* sounds = self.pools[RESOURCE_SOUND]) sounds->LogMemory();
}

void ResourceManager::CmdSetLoadTypeMask(ResourceManager& self, CommandRingBuffer& ring) {
    uint32_t mask = 0;
    if (ring.ReadValue(mask)) self.loadTypeMask.store(mask, std::memory_order_release);
}

void ResourceManager::CmdAddName(ResourceManager& self, CommandRingBuffer& ring) {
    uint32_t length = 0;
    const char* text = ReadText(ring, &length);
    if (!text || length == 0) return;
    CriticalSectionGuard guard(&self.managerLock);
    self.names.push_back(fs::CopyText(text));
}
