#pragma once
// FixedBlockPool: count blocks of one size in one allocation, handed out and taken back
// through a stack of free indices (16-bit, so at most 65,535 blocks). The block on top
// of the stack goes out first: a new pool hands out its last block first.
//
// Threads: one owner thread (the sound thread's decode buffers).
#include <cstdint>

class FixedBlockPool {
public:
    static constexpr uint32_t kMaxBlocks = 0xFFFF;

    // count is capped at kMaxBlocks; a failed allocation leaves an empty pool.
    FixedBlockPool(uint32_t blockSize, uint32_t count);
    ~FixedBlockPool();
    FixedBlockPool(const FixedBlockPool&) = delete;
    FixedBlockPool& operator=(const FixedBlockPool&) = delete;

    // Null when every block is out.
    uint8_t* Take();
    // A block of this pool (null is ignored).
    void GiveBack(uint8_t* block);

    uint32_t FreeCount() const { return freeCount; }
    uint32_t BlockCount() const { return blockCount; }
    uint32_t BlockSize() const { return blockSize; }

private:
    uint8_t* memory = nullptr;
    uint32_t freeCount = 0;
    uint16_t* freeStack = nullptr;
    uint32_t blockSize;
    uint32_t blockCount = 0;
};
