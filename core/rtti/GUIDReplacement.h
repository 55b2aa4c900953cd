#pragma once
// The table that maps old GUIDs to new ones while data is loaded. Each entity-
// pointer pass owns one, empty; GUIDs read during the pass go through Translate.
// A table read from data keeps its stored order; lookups need it sorted by
// "Original" in SimpleGUID::Compare order.
#include <cstdint>
#include "core/Dynarray.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/SimpleGUID.h"

// Registered as "GUIDReplacementEntry" (root): "Original", "Replacement".
struct GUIDReplacementEntry {
    SimpleGUID original;
    SimpleGUID replacement;
    static const RTTIClass* RegisterClass(const char* nameOverride = nullptr);
};
static_assert(sizeof(GUIDReplacementEntry) == 32, "32 bytes per entry");

// Registered as "GUIDReplacementTable" (root): "Entries" (array of records).
class GUIDReplacementTable : public RTTIPolyBaseClass {
public:
    static const RTTIClass* RegisterClass(const char* nameOverride = nullptr);
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }

    // Binary search by "Original"; -1 when absent.
    int32_t FindIndex(const SimpleGUID& guid) const;
    // The replacement of the entry whose original is guid, else guid itself.
    SimpleGUID Translate(const SimpleGUID& guid) const;

    Dynarray<GUIDReplacementEntry> entries;
};
