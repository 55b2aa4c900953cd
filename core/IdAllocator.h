#pragma once
// Small integer ids with reuse: released ids are handed out again, most recently
// released first, and ids released at the top lower the next fresh id. Owned by one
// thread (no lock).
#include <cstdint>

#include "core/Dynarray.h"

class IdAllocator {
public:
    uint32_t Allocate();
    // Ignores an id that was never handed out or is already free.
    void Release(uint32_t id);
    // While the last released id is just below the next id, drop it and lower the next.
    void Compact();
    void Reset();

    uint32_t NextId() const { return nextId; }
    uint32_t ReleasedCount() const { return released.count; }

private:
    Dynarray<uint32_t> released;
    uint32_t nextId = 0;
};
