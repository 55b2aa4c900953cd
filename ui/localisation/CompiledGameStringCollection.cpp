#include "ui/localisation/CompiledGameStringCollection.h"

#include <algorithm>
#include <cstring>

#include "core/SortedSearch.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIArrayProperty.h"

namespace {

RTTIClass* gEntryClass = nullptr;
RTTIClass* gCollectionClass = nullptr;

// Arrays of embedded records whose stored count is checked against the smallest
// record's size before the array grows, so a wild count cannot ask for far more
// memory than the file holds.
template <class A, uint32_t kMinRecordBytes>
class RecordArrayProperty : public RTTIDynarrayOfEmbeddedObjectsProperty<A> {
public:
    using RTTIDynarrayOfEmbeddedObjectsProperty<A>::RTTIDynarrayOfEmbeddedObjectsProperty;
    bool ReadBinary(BoundedReader& in, void* object, uint32_t options) const override {
        uint32_t count = 0;
        if (!in.Failed() && in.Remaining() >= 4) {
            std::memcpy(&count, in.Position(), 4);
            if (count > (in.Remaining() - 4) / kMinRecordBytes) return in.Fail("count larger than the remaining input");
        }
        return RTTIDynarrayOfEmbeddedObjectsProperty<A>::ReadBinary(in, object, options);
    }
};

// An entry is two 32-bit ints; a string at least its empty Id (1), Speaker (4), eleven
// empty texts (2 each) and three empty notes (1 each).
constexpr uint32_t kEntryBytes = 8;
constexpr uint32_t kMinGameStringBytes = 1 + 4 + 11 * 2 + 3;

// strcmp's order: unsigned bytes.
int ComparePath(const char* a, const char* b) { return std::strcmp(a, b); }

}  // namespace

const RTTIClass* CompiledGameStringCollectionEntry::RegisterClass(const char* nameOverride) {
    if (gEntryClass) return gEntryClass;
    using E = CompiledGameStringCollectionEntry;
    RTTIClass* c = CreateRegisteredClass(gEntryClass, nameOverride ? nameOverride : "CompiledGameStringCollectionEntry",
                                         kRTTIRootBaseName);
    AddDirect<int32_t>(c, "StringIndex", RTTI_OFFSETOF(E, stringIndex));
    AddDirect<int32_t>(c, "PathStartOffset", RTTI_OFFSETOF(E, pathStartOffset));
    return c;
}

const RTTIClass* CompiledGameStringCollection::RegisterClass(const char* nameOverride) {
    if (gCollectionClass) return gCollectionClass;
    const RTTIClass* entry = CompiledGameStringCollectionEntry::RegisterClass();
    const RTTIClass* string = GameString::RegisterClass();
    using C = CompiledGameStringCollection;
    RTTIClass* c = CreateRegisteredClass(gCollectionClass, nameOverride ? nameOverride : "CompiledGameStringCollection",
                                         kRTTIRootBaseName);
    c->AddProperty(new RTTIDynarrayProperty<Dynarray<char>>("Paths", RTTI_OFFSETOF(C, paths)));
    c->AddProperty(new RecordArrayProperty<Dynarray<CompiledGameStringCollectionEntry>, kEntryBytes>(
        "Entries", RTTI_OFFSETOF(C, entries), entry));
    c->AddProperty(new RecordArrayProperty<DynarraySafe<GameString>, kMinGameStringBytes>(
        "Strings", RTTI_OFFSETOF(C, strings), string));
    return c;
}

bool CompiledGameStringCollection::Validate() {
    distinctPaths = false;
    const uint32_t n = paths.Count();
    // The last NUL of Paths: every path must start before it to end inside the array.
    uint32_t lastNul = n;
    while (lastNul > 0 && paths[lastNul - 1] != 0) --lastNul;
    if (entries.Count() > 0 && lastNul == 0) return false;
    bool distinct = true;
    for (uint32_t i = 0; i < entries.Count(); ++i) {
        const CompiledGameStringCollectionEntry& e = entries[i];
        if (e.stringIndex < 0 || static_cast<uint32_t>(e.stringIndex) >= strings.Count()) return false;
        if (e.pathStartOffset < 0 || static_cast<uint32_t>(e.pathStartOffset) >= lastNul) return false;
        if (i > 0) {
            const int order = ComparePath(PathOf(i - 1), PathOf(i));
            if (order > 0) return false;
            distinct = distinct && order != 0;
        }
    }
    distinctPaths = distinct;
    return true;
}

GameString* CompiledGameStringCollection::Find(const char* id) const {
    if (!id || paths.Count() == 0) return nullptr;
    if (distinctPaths) {
        // Every path appears once, so the first equal path probed is the lower bound.
        const SortedSearchResult r =
            FindSortedEqual(entries.Count(), [&](uint32_t i) { return ComparePath(id, PathOf(i)); });
        return r.found ? const_cast<GameString*>(&strings[static_cast<uint32_t>(entries[r.index].stringIndex)]) : nullptr;
    }
    const auto before = [this](const CompiledGameStringCollectionEntry& e, const char* key) {
        return ComparePath(paths.data + e.pathStartOffset, key) < 0;
    };
    const uint32_t low =
        static_cast<uint32_t>(std::lower_bound(entries.begin(), entries.end(), id, before) - entries.begin());
    if (low >= entries.Count() || ComparePath(PathOf(low), id) != 0) return nullptr;
    return const_cast<GameString*>(&strings[static_cast<uint32_t>(entries[low].stringIndex)]);
}
