#pragma once
// The engine's allocators.
//  - EngineAlloc/EngineFree: every engine object, array and buffer; 16-byte aligned;
//    safe from every thread.
//  - SmallObjectPools: fixed-size block pools (16..256 bytes) for the script VM;
//    main thread only, no lock.
//  - SystemMemoryPool: one block carved into best-fit chunks that merge on release
//    (the base of the sound data pool); serialised by its own lock.
//  - ScratchAllocator: a per-frame wrapping bump buffer with generations; main thread.
#include <cstddef>
#include <cstdint>

#include "core/Sync.h"

void* EngineAlloc(size_t size);
void EngineFree(void* block);
void ReleaseBuffer(void** block);
template <class T>
inline void ReleaseBuffer(T** block) {
    EngineFree(*block);
    *block = nullptr;
}

class SmallObjectPools {
public:
    static constexpr int kClassCount = 5;
    SmallObjectPools(uint32_t c16, uint32_t c32, uint32_t c64, uint32_t c128, uint32_t c256);
    ~SmallObjectPools();
    SmallObjectPools(const SmallObjectPools&) = delete;
    SmallObjectPools& operator=(const SmallObjectPools&) = delete;

    void* Alloc(size_t size);
    void Free(void* block);
    void LogStatistics() const;

    struct SizeClass {
        uint32_t* freeList;  // 32-bit offsets from the block area's start, used as a stack
        uint32_t freeCount;
        uint32_t lowWater;
        uint8_t* first;
        uint8_t* end;
        uint32_t blockSize;
        uint32_t capacity;
    };
    const SizeClass& Class(int i) const { return classes[i]; }
    uint32_t PoolAllocations() const { return poolAllocations; }
    uint32_t AllAllocations() const { return allAllocations; }

private:
    uint8_t* buffer = nullptr;
    uint8_t* blockStart = nullptr;
    uint8_t* blockEnd = nullptr;
    SizeClass classes[kClassCount] = {};
    uint32_t totalBlocks = 0;
    uint64_t blockBytes = 0;
    uint32_t poolAllocations = 0;
    uint32_t allAllocations = 0;
};

class SystemMemoryChunk {
public:
    virtual ~SystemMemoryChunk() = default;
    virtual const char* GetName() const { return nullptr; }
    virtual bool IsLoaded() const { return loading == 0; }
    virtual void SetOffset(uint32_t newOffset) { offset = newOffset; }

    uint32_t offset = 0;
    uint32_t length = 0;
    uint8_t free = 0;
    uint8_t loading = 0;
    SystemMemoryChunk* prev = nullptr;
    SystemMemoryChunk* next = nullptr;
    SystemMemoryChunk* prevFree = nullptr;
    SystemMemoryChunk* nextFree = nullptr;
};

class SystemMemoryPool {
public:
    SystemMemoryPool() = default;
    virtual ~SystemMemoryPool();
    SystemMemoryPool(const SystemMemoryPool&) = delete;
    SystemMemoryPool& operator=(const SystemMemoryPool&) = delete;

    // The third argument is accepted for callers that pass one and ignored.
    bool Init(uint32_t size, int32_t granularity, int32_t unused = 0);
    // A negative granularity means the pool's own. Size 0 takes one granule.
    SystemMemoryChunk* Alloc(uint32_t size, int32_t granularity = -1);
    void MarkLoaded(SystemMemoryChunk* chunk);
    void ReleaseChunk(SystemMemoryChunk* chunk);
    void* GetChunkAddress(const SystemMemoryChunk* chunk) const { return blockBase + chunk->offset; }
    void Dump();
    // Deletes every chunk record (logging those still in use) and frees the block.
    void Release();

    // Inspection, for tests and dumps (take the lock around a walk).
    CriticalSection& Lock() { return lock; }
    SystemMemoryChunk* FirstChunk() const { return head; }
    SystemMemoryChunk* FirstFreeChunk() const { return freeHead; }
    uint32_t Size() const { return blockSize; }
    uint32_t Granularity() const { return static_cast<uint32_t>(granularity); }

protected:
    virtual SystemMemoryChunk* CreateChunk() = 0;

private:
    void LinkFreeAfter(SystemMemoryChunk* after, SystemMemoryChunk* chunk);
    void UnlinkFree(SystemMemoryChunk* chunk);
    void Unlink(SystemMemoryChunk* chunk);

    CriticalSection lock;
    uint8_t* blockBase = nullptr;
    uint32_t blockSize = 0;
    int32_t granularity = 16;
    SystemMemoryChunk* head = nullptr;
    SystemMemoryChunk* tail = nullptr;
    SystemMemoryChunk* freeHead = nullptr;
    SystemMemoryChunk* freeTail = nullptr;
};

class ScratchAllocator {
public:
    void Init(uint32_t bytes);
    void Release();
    void NextFrame() {
        ++generation;
        offset = 0;
    }
    // The address stays valid while Generation() equals the returned generation.
    bool Alloc(uint32_t bytes, void** address, uint32_t* outGeneration);
    uint32_t Generation() const { return generation; }
    uint32_t Offset() const { return offset; }
    uint32_t Size() const { return size; }

private:
    uint8_t* buffer = nullptr;
    uint32_t size = 0;
    uint32_t offset = 0;
    uint32_t generation = 0;
};

extern SmallObjectPools* gSmallObjectPools;
extern ScratchAllocator gScratchAllocator;
