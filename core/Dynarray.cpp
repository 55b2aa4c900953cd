// Storage routines of the growable arrays.
#include "core/Dynarray.h"

#include <cstring>

#include "core/Memory.h"
#include "core/SortedSearch.h"

void* DynarrayAllocate(uint64_t bytes) {
    if (bytes == 0 || bytes > 0x7FFFFFFFull) return nullptr;
    return EngineAlloc(static_cast<size_t>(bytes));
}

void DynarrayFree(void* data) {
    if (data) EngineFree(data);
}

void* DynarrayReallocate(void* data, uint32_t count, uint32_t capacity, uint32_t elementSize) {
    void* p = DynarrayAllocate(uint64_t(capacity) * elementSize);
    if (!p) return nullptr;
    if (data) {
        if (count) std::memcpy(p, data, size_t(count) * elementSize);
        EngineFree(data);
    }
    return p;
}

uint32_t DynarrayGrownCapacity(uint32_t capacity, uint32_t needed) {
    uint64_t c = capacity ? capacity : 2;
    while (c < needed) c *= 2;
    return c > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(c);
}

int32_t CompareNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
        if (ca >= 'A' && ca <= 'Z') ca += 'a' - 'A';
        if (cb >= 'A' && cb <= 'Z') cb += 'a' - 'A';
        if (ca != cb || ca == 0) return ca - cb;
    }
}

int32_t SortedNameList::Find(const char* name) const {
    if (!name) return -1;
    // A null name sorts before every other.
    const SortedSearchResult r = FindSortedEqual(
        count, [&](uint32_t i) { return data[i] ? CompareNoCase(name, data[i]) : 1; }, SortedProbe::LowerMiddle);
    return r.found ? static_cast<int32_t>(r.index) : -1;
}
