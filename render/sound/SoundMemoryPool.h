#pragma once
// The sound memory pool: one block of "Sound pool MB" x 2^20 bytes (granularity 16)
// from which sound resources take the chunks that hold their whole data. A chunk knows
// its owning sound resource, whose name the pool dump prints.
//
// Threads: any (the pool has its own lock); Init and Free run when the ResourceManager
// creates and destroys its sound pool.
#include "core/Memory.h"

class Resource;

class SoundMemoryChunk : public SystemMemoryChunk {
public:
    // The owner's name; null without owner.
    const char* GetName() const override;

    Resource* owner = nullptr;
};

class SoundMemoryPool : public SystemMemoryPool {
public:
    // The project's "Sound pool MB" setting shifted left by 20 bits, granularity 16.
    bool Init();
    // Releases every chunk and the block.
    void Free() { Release(); }

protected:
    SystemMemoryChunk* CreateChunk() override { return new SoundMemoryChunk; }
};

// Built by the ordered start-up (kRenderStaticInit, module 6).
extern SoundMemoryPool* gSoundMemoryPool;
