#include "ui/elements/UIIdTable.h"

#include <cstring>

#include "core/Memory.h"

UIIdTable* gUIIdTable = nullptr;

UIIdTable::~UIIdTable() { Clear(); }

void UIIdTable::Clear() {
    EngineFree(entries);
    entries = nullptr;
    count = capacity = 0;
}

uint32_t UIIdTable::UpperBound(uint32_t id) const {
    uint32_t lo = 0, hi = count;
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (entries[mid].id <= int64_t(id))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

uint32_t UIIdTable::LowerBound(uint32_t id) const {
    uint32_t lo = 0, hi = count;
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if (entries[mid].id < int64_t(id))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

void UIIdTable::Insert(UIElement* element, uint32_t id) {
    if (count == capacity) {
        const uint32_t grown = capacity ? capacity * 2 : 2;
        Entry* bigger = static_cast<Entry*>(EngineAlloc(sizeof(Entry) * grown));
        if (!bigger) return;
        if (count) std::memcpy(bigger, entries, sizeof(Entry) * count);
        for (uint32_t i = count; i < grown; ++i) bigger[i] = {nullptr, -1};
        EngineFree(entries);
        entries = bigger;
        capacity = grown;
    }
    const uint32_t at = UpperBound(id);
    std::memmove(entries + at + 1, entries + at, sizeof(Entry) * (count - at));
    entries[at] = {element, int64_t(id)};
    ++count;
}

void UIIdTable::Remove(uint32_t id) {
    const uint32_t at = LowerBound(id);
    if (at >= count || entries[at].id != int64_t(id)) return;
    std::memmove(entries + at, entries + at + 1, sizeof(Entry) * (count - at - 1));
    --count;
    entries[count] = {nullptr, -1};
}

UIElement* UIIdTable::Find(uint32_t id) const {
    const uint32_t at = LowerBound(id);
    return at < count && entries[at].id == int64_t(id) ? entries[at].element : nullptr;
}
