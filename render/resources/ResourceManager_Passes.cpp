// The loader thread's eviction (command 11) and the per-pool passes over loaded
// resources: reload (14), dump (15), unload data (16) and restore data (17).
#include <vector>

#include "core/Log.h"
#include "core/fs/StreamingFileReader.h"
#include "render/resources/Resource.h"
#include "render/resources/ResourceManager.h"
#include "render/resources/ResourcePool.h"

namespace {
// Pass messages go to the engine category.
template <class... A>
void PassLine(const char* format, A... args) {
    if constexpr (sizeof...(A) == 0) {
        gLog.Print(LogSeverity::Progress, LogCategory::Engine, "%s", format);
    } else {
        gLog.Print(LogSeverity::Progress, LogCategory::Engine, format, args...);
    }
}
}  // namespace

void ResourceManager::CmdEvict(ResourceManager& self, CommandRingBuffer& ring) {
    uint32_t typeMask = 0, flagMask = 0, flagValue = 0;
    uint8_t immediate = 0;
    if (ring.ReadValue(typeMask) && ring.ReadValue(flagMask) && ring.ReadValue(flagValue) && ring.ReadValue(immediate))
        self.Evict(typeMask, flagMask, flagValue);
}

void ResourceManager::Evict(uint32_t typeMask, uint32_t flagMask, uint32_t flagValue) {
    PassLine("Evicting resources");
    std::vector<Resource*> collected;
    int32_t total = 0;
    for (;;) {
        {
            CriticalSectionGuard guard(&managerLock);
            for (uint32_t t = RESOURCE_TYPE_COUNT; t-- > 0;)
                if ((typeMask & (1u << t)) && pools[t]) pools[t]->CollectUnused(collected, flagMask, flagValue);
        }
        if (collected.empty()) break;
        // Destructors may release further resources, which the next round collects.
        for (Resource* r : collected) delete r;
        total += static_cast<int32_t>(collected.size());
        collected.clear();
    }
    PassLine("Evicted %d resources", total);
}

template <class Visit>
void ResourceManager::ForEachLoaded(uint32_t typeMask, Visit visit) {
    CriticalSectionGuard guard(&managerLock);
    for (uint32_t t = 0; t < RESOURCE_TYPE_COUNT; ++t) {
        ResourcePool* pool = pools[t];
        if (!(typeMask & (1u << t)) || !pool) continue;
        for (uint32_t i = 0; i < pool->Count(); ++i)
            if (pool->At(i)->IsLoaded()) visit(pool->At(i));
        visit(nullptr);  // end of this pool
    }
}

void ResourceManager::CmdReload(ResourceManager& self, CommandRingBuffer& ring) {
    uint32_t typeMask = 0;
    if (!ring.ReadValue(typeMask)) return;
    // The loaded resources are collected (with a use each) under the manager lock and
    // reloaded outside it: a shader's reload asks the shader manager, whose lock comes
    // before this one.
    std::vector<std::vector<Resource*>> pools(1);
    self.ForEachLoaded(typeMask, [&](Resource* r) {
        if (r) {
            r->AddRef();
            pools.back().push_back(r);
        } else {
            pools.emplace_back();
        }
    });
    pools.pop_back();
    for (std::vector<Resource*>& loaded : pools) {
        for (Resource* r : loaded) r->ReloadResource();
        PassLine("Reloaded %d resources", static_cast<int32_t>(loaded.size()));
        ReleaseResources(loaded.data(), static_cast<uint32_t>(loaded.size()));
    }
}

void ResourceManager::CmdDump(ResourceManager& self, CommandRingBuffer& ring) {
    uint32_t typeMask = 0;
    if (!ring.ReadValue(typeMask)) return;
    int32_t count = 0;
    uint32_t bytes = 0;
    self.ForEachLoaded(typeMask, [&](Resource* r) {
        if (!r) return;
        PassLine("%08d %s", static_cast<int32_t>(r->GetSize()), r->GetName() ? r->GetName() : "");
        ++count;
        bytes += r->GetSize();
    });
    PassLine("Total resNum:%d resSize:%d", count, static_cast<int32_t>(bytes));
}

void ResourceManager::CmdUnloadData(ResourceManager& self, CommandRingBuffer& ring) {
    uint32_t typeMask = 0;
    uint8_t keepFlagged = 0;
    if (!ring.ReadValue(typeMask) || !ring.ReadValue(keepFlagged)) return;
    self.ForEachLoaded(typeMask, [&](Resource* r) {
        if (!r || (keepFlagged && (r->GetFlags() & RESOURCE_FLAG_KEEP_DATA))) return;
        PassLine("Unloading data for resource %s", r->GetName() ? r->GetName() : "");
        r->UnloadResourceData();
        StreamingFileReader::PumpAll();
    });
}

void ResourceManager::CmdRestoreData(ResourceManager& self, CommandRingBuffer& ring) {
    uint32_t typeMask = 0;
    if (!ring.ReadValue(typeMask)) return;
    self.ForEachLoaded(typeMask, [&](Resource* r) {
        if (r) r->RestoreResourceData();
    });
}
