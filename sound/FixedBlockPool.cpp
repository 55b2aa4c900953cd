#include "sound/FixedBlockPool.h"

#include <cassert>

#include "core/Memory.h"

FixedBlockPool::FixedBlockPool(uint32_t size, uint32_t count) : blockSize(size) {
    if (count > kMaxBlocks) count = kMaxBlocks;
    if (count == 0 || size == 0) return;
    memory = static_cast<uint8_t*>(EngineAlloc(size_t(size) * count));
    freeStack = static_cast<uint16_t*>(EngineAlloc(sizeof(uint16_t) * count));
    if (!memory || !freeStack) {
        EngineFree(memory);
        EngineFree(freeStack);
        memory = nullptr;
        freeStack = nullptr;
        return;
    }
    for (uint32_t i = 0; i < count; ++i) freeStack[i] = static_cast<uint16_t>(i);
    blockCount = freeCount = count;
}

FixedBlockPool::~FixedBlockPool() {
    EngineFree(freeStack);
    EngineFree(memory);
}

uint8_t* FixedBlockPool::Take() {
    if (freeCount == 0) return nullptr;
    const uint32_t index = freeStack[--freeCount];
    return memory + size_t(index) * blockSize;
}

void FixedBlockPool::GiveBack(uint8_t* block) {
    if (!block) return;
    assert(block >= memory && block < memory + size_t(blockCount) * blockSize && freeCount < blockCount);
    freeStack[freeCount++] = static_cast<uint16_t>(size_t(block - memory) / blockSize);
}
