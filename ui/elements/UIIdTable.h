#pragma once
// UIIdTable: the elements that can take the focus with the mouse, as (element, id)
// pairs sorted by id, so that the id the render side's hit test reports resolves to its
// element by binary search.
//
// Main thread only (unlocked).
#include <cstdint>

class UIElement;

class UIIdTable {
public:
    struct Entry {
        UIElement* element;
        int64_t id;  // -1 in an empty slot
    };

    UIIdTable() = default;
    ~UIIdTable();
    UIIdTable(const UIIdTable&) = delete;
    UIIdTable& operator=(const UIIdTable&) = delete;

    // Inserts at the upper-bound position of the id (after equal ids).
    void Insert(UIElement* element, uint32_t id);
    // Removes the first entry with the id; an absent id changes nothing.
    void Remove(uint32_t id);
    // The element of the id, or null.
    UIElement* Find(uint32_t id) const;

    uint32_t Count() const { return count; }
    uint32_t Capacity() const { return capacity; }
    const Entry& At(uint32_t i) const { return entries[i]; }
    void Clear();

private:
    // The first position whose id is greater than the id (upper) or not less (lower).
    uint32_t UpperBound(uint32_t id) const;
    uint32_t LowerBound(uint32_t id) const;

    Entry* entries = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
};

// Made by the UI's start-up row.
extern UIIdTable* gUIIdTable;
