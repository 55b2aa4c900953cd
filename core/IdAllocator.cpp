#include "core/IdAllocator.h"

uint32_t IdAllocator::Allocate() {
    if (released.count) {
        uint32_t id = released[released.count - 1];
        --released.count;
        Compact();
        return id;
    }
    return nextId++;
}

void IdAllocator::Release(uint32_t id) {
    // A duplicate release would let two users hold one id.
    if (id >= nextId || released.Find(id) >= 0) return;
    if (id + 1 == nextId) {
        --nextId;
        Compact();
    } else {
        released.Add(id);
    }
}

void IdAllocator::Compact() {
    while (released.count && released[released.count - 1] + 1 == nextId) {
        --released.count;
        --nextId;
    }
}

void IdAllocator::Reset() {
    released.Clear();
    nextId = 0;
}
