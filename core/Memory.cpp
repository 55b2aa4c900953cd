// The engine's allocators: the aligned engine allocator, the script host's
// small-object pools, the chunked best-fit pool under the sound data, and the
// per-frame scratch buffer.
#include "core/Memory.h"

#include <cassert>
#include <cstring>
#include <new>

#include "core/Log.h"  // a loop inside core_base: allocation failures are logged, and the log allocates
#include "platform/os/Memory.h"

void* EngineAlloc(size_t size) {
    // Rounded up to whole 16-byte units so that SIMD loads at the end stay inside; a
    // size that would wrap while rounding is exhausted memory, not a tiny block.
    if (size > SIZE_MAX - 15) return nullptr;
    return os::AlignedAlloc((size + 15) & ~size_t(15), 16);
}

void EngineFree(void* block) { os::AlignedFree(block); }

void ReleaseBuffer(void** block) {
    EngineFree(*block);
    *block = nullptr;
}

SmallObjectPools* gSmallObjectPools = nullptr;
ScratchAllocator gScratchAllocator;

// ---------------------------------------------------------------------------------------
// SmallObjectPools

SmallObjectPools::SmallObjectPools(uint32_t c16, uint32_t c32, uint32_t c64, uint32_t c128, uint32_t c256) {
    const uint32_t counts[kClassCount] = {c16, c32, c64, c128, c256};
    blockBytes = 0;
    totalBlocks = 0;
    for (int i = 0; i < kClassCount; ++i) {
        blockBytes += uint64_t(16u << i) * counts[i];
        totalBlocks += counts[i];
    }
    buffer = static_cast<uint8_t*>(EngineAlloc(blockBytes + 4ull * totalBlocks));
    if (!buffer) {  // every request then falls back to the heap
        gLog.Error(LogCategory::Engine, "SmallObjectPools - cannot allocate %llu bytes", static_cast<unsigned long long>(blockBytes));
        totalBlocks = 0;
        blockBytes = 0;
        for (int i = 0; i < kClassCount; ++i) classes[i].blockSize = 16u << i;
        return;
    }
    blockStart = buffer;
    blockEnd = buffer + blockBytes;
    uint32_t* lists = reinterpret_cast<uint32_t*>(blockEnd);
    uint8_t* p = blockStart;
    for (int i = 0; i < kClassCount; ++i) {
        SizeClass& c = classes[i];
        c.blockSize = 16u << i;
        c.capacity = counts[i];
        c.first = p;
        c.end = p + uint64_t(c.blockSize) * c.capacity;
        c.freeList = lists;
        for (uint32_t b = 0; b < c.capacity; ++b) c.freeList[b] = static_cast<uint32_t>((p - blockStart) + uint64_t(b) * c.blockSize);
        c.freeCount = c.capacity;
        c.lowWater = c.capacity;
        lists += c.capacity;
        p = c.end;
    }
}

SmallObjectPools::~SmallObjectPools() { EngineFree(buffer); }

void* SmallObjectPools::Alloc(size_t size) {
    if (size == 0) return nullptr;
    int ci = 0;
    while (ci < kClassCount && size > classes[ci].blockSize) ++ci;
    ++allAllocations;
    if (ci == kClassCount || classes[ci].freeCount == 0) return EngineAlloc(size);
    SizeClass& c = classes[ci];
    --c.freeCount;
    if (c.freeCount < c.lowWater) c.lowWater = c.freeCount;
    ++poolAllocations;
    return blockStart + c.freeList[c.freeCount];
}

void SmallObjectPools::Free(void* block) {
    uint8_t* p = static_cast<uint8_t*>(block);
    if (!p) return;
    if (p < blockStart || p >= blockEnd) {
        EngineFree(block);
        return;
    }
    for (auto& c : classes) {
        if (p < c.end) {
            // A pointer inside a block or a second free would push past the class's
            // stack into the next class's list.
            // Block sizes are powers of two: a mask, not a division, finds the offset.
            if ((static_cast<size_t>(p - c.first) & (c.blockSize - 1)) != 0 || c.freeCount >= c.capacity) {
                gLog.Error(LogCategory::Engine, "SmallObjectPools::Free - %p is not an allocated %u-byte block", block, c.blockSize);
                return;
            }
            c.freeList[c.freeCount++] = static_cast<uint32_t>(p - blockStart);
            return;
        }
    }
}

void SmallObjectPools::LogStatistics() const {
    // Percentages in 64 bits: the counters pass 43 million allocations in long sessions.
    auto percent = [](uint64_t part, uint64_t whole) { return whole ? static_cast<unsigned>(part * 100 / whole) : 0u; };
    const double indexBytes = 4.0 * totalBlocks;
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Total memory used: %.2fMB, (data: %.2f, block indices: %.2f)\n",
               (static_cast<double>(blockBytes) + indexBytes) / 1048576.0, static_cast<double>(blockBytes) / 1048576.0,
               indexBytes / 1048576.0);
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "Pool based allocations: %d out of %d (%d%%)", poolAllocations, allAllocations,
               percent(poolAllocations, allAllocations));
    char line[103];
    std::memset(line, '-', 102);
    line[102] = 0;
    gLog.Print(LogSeverity::Information, LogCategory::Engine, "%s", line);
    for (const auto& c : classes) {
        const uint32_t inUse = c.capacity - c.freeCount;
        const uint32_t peak = c.capacity - c.lowWater;
        gLog.Print(LogSeverity::Information, LogCategory::Engine, "%03d bytes:  %d (%d%%), peak: %d (%d%%)", c.blockSize, inUse, percent(inUse, c.capacity), peak,
                   percent(peak, c.capacity));
    }
}

// ---------------------------------------------------------------------------------------
// SystemMemoryPool

SystemMemoryPool::~SystemMemoryPool() { Release(); }

bool SystemMemoryPool::Init(uint32_t size, int32_t gran, int32_t) {
    CriticalSectionGuard guard(&lock);
    if (blockBase || gran <= 0) return false;
    blockSize = size;
    granularity = gran;
    blockBase = static_cast<uint8_t*>(EngineAlloc(size));
    if (!blockBase) {
        gLog.Error(LogCategory::Engine, "SystemMemoryPool::Init - cannot allocate %u bytes", size);
        return false;
    }
    SystemMemoryChunk* c = CreateChunk();
    if (!c) {
        ReleaseBuffer(&blockBase);
        return false;
    }
    c->offset = 0;
    c->length = size;
    c->free = 1;
    head = tail = freeHead = freeTail = c;
    return true;
}

void SystemMemoryPool::UnlinkFree(SystemMemoryChunk* c) {
    (c->prevFree ? c->prevFree->nextFree : freeHead) = c->nextFree;
    (c->nextFree ? c->nextFree->prevFree : freeTail) = c->prevFree;
    c->prevFree = c->nextFree = nullptr;
    c->free = 0;
}

void SystemMemoryPool::LinkFreeAfter(SystemMemoryChunk* after, SystemMemoryChunk* c) {
    c->prevFree = after;
    c->nextFree = after ? after->nextFree : freeHead;
    (c->nextFree ? c->nextFree->prevFree : freeTail) = c;
    (after ? after->nextFree : freeHead) = c;
    c->free = 1;
}

void SystemMemoryPool::Unlink(SystemMemoryChunk* c) {
    (c->prev ? c->prev->next : head) = c->next;
    (c->next ? c->next->prev : tail) = c->prev;
    c->prev = c->next = nullptr;
}

SystemMemoryChunk* SystemMemoryPool::Alloc(uint32_t size, int32_t gran) {
    CriticalSectionGuard guard(&lock);
    if (!blockBase) return nullptr;
    const uint64_t g = gran < 0 ? uint64_t(granularity) : uint64_t(gran ? gran : 1);
    uint64_t s = (uint64_t(size) + g - 1) / g * g;
    if (s == 0) s = g;  // a zero-length chunk would break the tiling
    if (s > blockSize) return nullptr;

    SystemMemoryChunk* best = nullptr;
    for (SystemMemoryChunk* c = freeHead; c; c = c->nextFree) {
        if (c->length == s) {
            UnlinkFree(c);
            c->loading = 1;
            return c;
        }
        if (c->length > s && (!best || c->length < best->length)) best = c;
    }
    if (!best) return nullptr;
    SystemMemoryChunk* c = CreateChunk();
    if (!c) return nullptr;
    c->SetOffset(best->offset);
    c->length = static_cast<uint32_t>(s);
    c->loading = 1;
    c->free = 0;
    c->prev = best->prev;
    c->next = best;
    (best->prev ? best->prev->next : head) = c;
    best->prev = c;
    best->SetOffset(best->offset + static_cast<uint32_t>(s));
    best->length -= static_cast<uint32_t>(s);
    return c;
}

void SystemMemoryPool::MarkLoaded(SystemMemoryChunk* chunk) {
    CriticalSectionGuard guard(&lock);
    chunk->loading = 0;
}

void SystemMemoryPool::ReleaseChunk(SystemMemoryChunk* c) {
    if (!c) return;
    CriticalSectionGuard guard(&lock);
    assert(!c->free && "chunk released twice");
    if (c->free) return;
    SystemMemoryChunk* prev = c->prev;
    SystemMemoryChunk* next = c->next;
    if (prev && prev->free) {
        prev->length += c->length;
        Unlink(c);
        delete c;
        if (next && next->free) {
            prev->length += next->length;
            UnlinkFree(next);
            Unlink(next);
            delete next;
        }
    } else if (next && next->free) {
        next->SetOffset(c->offset);
        next->length += c->length;
        Unlink(c);
        delete c;
    } else {
        SystemMemoryChunk* before = prev;
        while (before && !before->free) before = before->prev;
        c->loading = 0;
        LinkFreeAfter(before, c);
    }
}

void SystemMemoryPool::Dump() {
    CriticalSectionGuard guard(&lock);
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "Dump of memory pool of size %d and alignment %d", blockSize, granularity);
    uint32_t number = 0;
    uint32_t highWater = 0;
    for (SystemMemoryChunk* c = head; c; c = c->next) {
        if (c->free) continue;
        const char* chunkName = c->GetName();
        gLog.Print(LogSeverity::Progress, LogCategory::Engine, "Chunk: %06d    start: %08d, length: %08d, loading: %d [%s]", number++, c->offset, c->length,
                   c->loading ? 1 : 0, chunkName ? chunkName : "");
        if (c->offset + c->length > highWater) highWater = c->offset + c->length;
    }
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "High watermark: %u", highWater);
}

void SystemMemoryPool::Release() {
    CriticalSectionGuard guard(&lock);
    for (SystemMemoryChunk* c = head; c;) {
        SystemMemoryChunk* next = c->next;
        if (!c->free) {
            const char* chunkName = c->GetName();
            gLog.Warning(LogCategory::Engine, "SystemMemoryPool::Release - chunk at %u (%u bytes) still in use [%s]", c->offset, c->length,
                         chunkName ? chunkName : "");
        }
        delete c;
        c = next;
    }
    head = tail = freeHead = freeTail = nullptr;
    ReleaseBuffer(&blockBase);
    blockSize = 0;
}

// ---------------------------------------------------------------------------------------
// ScratchAllocator

void ScratchAllocator::Init(uint32_t bytes) {
    if (!buffer) {
        size = bytes;
        if (bytes) {
            buffer = static_cast<uint8_t*>(EngineAlloc(bytes));
            if (!buffer) size = 0;
        }
    }
    offset = 0;
    generation = 0;
}

void ScratchAllocator::Release() {
    ReleaseBuffer(&buffer);
    size = 0;
    offset = 0;
}

bool ScratchAllocator::Alloc(uint32_t bytes, void** address, uint32_t* outGeneration) {
    const uint64_t rounded = (uint64_t(bytes) + 15) & ~uint64_t(15);
    if (rounded > size || !buffer) return false;
    if (offset + rounded > size) {
        ++generation;
        offset = 0;
    }
    *address = buffer + offset;
    *outGeneration = generation;
    offset += static_cast<uint32_t>(rounded);
    return true;
}
