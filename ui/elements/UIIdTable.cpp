#include "ui/elements/UIIdTable.h"

#include <algorithm>
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
    const Entry* at =
        std::upper_bound(entries, entries + count, int64_t(id), [](int64_t key, const Entry& e) { return key < e.id; });
    return static_cast<uint32_t>(at - entries);
}

uint32_t UIIdTable::LowerBound(uint32_t id) const {
    const Entry* at =
        std::lower_bound(entries, entries + count, int64_t(id), [](const Entry& e, int64_t key) { return e.id < key; });
    return static_cast<uint32_t>(at - entries);
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
