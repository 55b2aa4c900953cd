#include "core/rtti/GUIDReplacement.h"

#include "core/SortedSearch.h"
#include "core/rtti/RTTIProperty.h"
#include "core/rtti/RTTIArrayProperty.h"

const RTTIClass* GUIDReplacementEntry::RegisterClass(const char* nameOverride) {
    static RTTIClass* cls = [nameOverride] {
        auto* c = new RTTIClass;
        c->Register(nameOverride ? nameOverride : "GUIDReplacementEntry", kRTTIRootBaseName);
        c->AddProperty(new RTTIDirectAccessTypedProperty<SimpleGUID>(
            "Original", RTTI_OFFSETOF(GUIDReplacementEntry, original)));
        c->AddProperty(new RTTIDirectAccessTypedProperty<SimpleGUID>(
            "Replacement", RTTI_OFFSETOF(GUIDReplacementEntry, replacement)));
        return c;
    }();
    return cls;
}

const RTTIClass* GUIDReplacementTable::RegisterClass(const char* nameOverride) {
    static RTTIClass* cls = [nameOverride] {
        const RTTIClass* entry = GUIDReplacementEntry::RegisterClass();
        auto* c = new RTTIClass;
        c->Register(nameOverride ? nameOverride : "GUIDReplacementTable", kRTTIRootBaseName);
        c->AddProperty(new RTTIDynarrayOfEmbeddedObjectsProperty<Dynarray<GUIDReplacementEntry>>(
            "Entries", RTTI_OFFSETOF(GUIDReplacementTable, entries), entry));
        return c;
    }();
    return cls;
}

int32_t GUIDReplacementTable::FindIndex(const SimpleGUID& guid) const {
    const SortedSearchResult r = FindSortedEqual(
        entries.Count(), [&](uint32_t i) { return SimpleGUID::Compare(guid, entries[i].original); },
        SortedProbe::LowerMiddle);
    return r.found ? static_cast<int32_t>(r.index) : -1;
}

SimpleGUID GUIDReplacementTable::Translate(const SimpleGUID& guid) const {
    const int32_t i = FindIndex(guid);
    return i < 0 ? guid : entries[static_cast<uint32_t>(i)].replacement;
}
