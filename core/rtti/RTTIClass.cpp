// Class registry, property walk, NameRegistry and TemplateTypeTable.
//
// Descriptors are built by each class's registration function during the ordered
// start-up and never change afterwards; walks and lookups run unlocked on any
// thread. The walk order (chain sorted by class name, then declaration order) and
// the layout hash are part of every stored property list.
#include "core/rtti/RTTIClass.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "core/BoundedReader.h"
#include "core/ByteOrder.h"
#include "core/CRC32.h"
#include "core/Log.h"
#include "core/Memory.h"
#include "core/SortedSearch.h"
#include "core/StaticInit.h"
#include "core/fs/FileReader.h"
#include "core/rtti/RTTIEntityPointer.h"
#include "core/rtti/RTTIProperty.h"

int RTTIStricmp(const char* a, const char* b) {
    // Names are compared as at most kRTTIMaxNameLength characters.
    for (uint32_t i = 0; i < kRTTIMaxNameLength; ++i) {
        int ca = static_cast<unsigned char>(a[i]);
        int cb = static_cast<unsigned char>(b[i]);
        if (ca >= 'A' && ca <= 'Z') ca += 'a' - 'A';
        if (cb >= 'A' && cb <= 'Z') cb += 'a' - 'A';
        if (ca != cb) return ca - cb;
        if (ca == 0) return 0;
    }
    return 0;
}

void RTTIPointerList::Insert(uint32_t index, void* p) {
    if (count == capacity) {
        const uint32_t cap = capacity ? capacity * 2 : 2;
        auto** fresh = static_cast<void**>(EngineAlloc(sizeof(void*) * cap));
        if (count) std::memcpy(fresh, items, sizeof(void*) * count);
        EngineFree(items);
        items = fresh;
        capacity = cap;
    }
    if (index > count) index = count;
    std::memmove(items + index + 1, items + index, sizeof(void*) * (count - index));
    items[index] = p;
    ++count;
}

void RTTIPointerList::RemoveAt(uint32_t index) {
    if (index >= count) return;
    std::memmove(items + index, items + index + 1, sizeof(void*) * (count - index - 1));
    --count;
}

void RTTIPointerList::Free() {
    EngineFree(items);
    items = nullptr;
    count = capacity = 0;
}

namespace {

// Upper bound by name in a list of descriptors sorted by class name.
uint32_t ClassUpperBound(const RTTIPointerList& list, const char* name) {
    const auto after = [](const char* key, const void* item) {
        return RTTIStricmp(key, static_cast<const RTTIClass*>(item)->Name()) < 0;
    };
    void* const* at = std::upper_bound(list.items, list.items + list.count, name, after);
    return static_cast<uint32_t>(at - list.items);
}

RTTIPointerList& Registry() {
    static RTTIPointerList list;
    return list;
}

const char* PropertyName(const void* p) {
    const char* n = static_cast<const RTTIProperty*>(p)->Name();
    return n ? n : "";
}

}  // namespace

RTTIClass::~RTTIClass() {
    for (uint32_t i = 0; i < properties.count; ++i) delete static_cast<RTTIProperty*>(properties.items[i]);
    properties.Free();
    sortedProperties.Free();
    chain.Free();
}

void RTTIClass::Register(const char* className, const char* baseClassName, RTTICreateFunction factory) {
    name = className;
    chain.Insert(chain.count, this);
    SetBase(baseClassName ? RTTIClassRegistry::FindClass(baseClassName) : nullptr);
    RTTIClassRegistry::Insert(this);
    if (factory) id = NameRegistry::Register(className, factory);
}

void RTTIClass::SetBase(RTTIClass* b) {
    base = b;
    for (RTTIClass* c = b; c; c = c->base) chain.Insert(ClassUpperBound(chain, c->name), c);
}

void RTTIClass::AddProperty(RTTIProperty* property) {
    const uint32_t words[2] = {property->TypeId(), property->Flags()};
    const CRC32& crc = CRC32::GetDefault();
    layoutHash = crc.Update(layoutHash, words, sizeof(words));
    if (property->Name()) layoutHash = crc.Update(layoutHash, property->Name(), std::strlen(property->Name()));
    properties.Insert(properties.count, property);
    // After the properties of an equal name.
    void** at = std::upper_bound(sortedProperties.items, sortedProperties.items + sortedProperties.count,
                                 PropertyName(property),
                                 [](const char* key, const void* p) { return RTTIStricmp(key, PropertyName(p)) < 0; });
    sortedProperties.Insert(static_cast<uint32_t>(at - sortedProperties.items), property);
}

const RTTIProperty* RTTIClass::FindProperty(const char* n) const {
    if (!n) return nullptr;
    const SortedSearchResult r = FindSortedEqual(
        sortedProperties.count, [&](uint32_t i) { return RTTIStricmp(n, PropertyName(sortedProperties.items[i])); });
    return r.found ? static_cast<const RTTIProperty*>(sortedProperties.items[r.index]) : nullptr;
}

const RTTIProperty* RTTIClass::FindPropertyInChain(const char* n) const {
    if (!n) return nullptr;
    for (const RTTIClass* c = this; c; c = c->base)
        if (const RTTIProperty* p = c->FindProperty(n)) return p;
    return nullptr;
}

uint32_t RTTIClass::GetLayoutHash(const void* object) const {
    uint32_t h = layoutHash;
    for (uint32_t i = 0; i < properties.count; ++i) h ^= PropertyAt(i)->LayoutValue(object);
    h ^= properties.count;
    if (base) h ^= base->GetLayoutHash(object);
    return h;
}

namespace {

bool Skipped(const RTTIProperty* p, uint32_t options) {
    if (p->Flags() & kPropertyFlagNoSerialize) return true;
    return (options & kSerializeSkipGuid) && (p->Flags() & kPropertyFlagGuid);
}

}  // namespace

uint32_t RTTIClass::SerializeProperties(uint8_t* buffer, const void* object, uint32_t options) const {
    uint32_t total = 0;
    const uint32_t classes = (options & kSerializeOwnClassOnly) ? 1 : chain.count;
    for (uint32_t c = 0; c < classes; ++c) {
        const RTTIClass* cls = (options & kSerializeOwnClassOnly) ? this : ChainAt(c);
        for (uint32_t i = 0; i < cls->properties.count; ++i) {
            const RTTIProperty* p = cls->PropertyAt(i);
            if (Skipped(p, options)) continue;
            total += p->WriteBinary(buffer ? buffer + total : nullptr, object, options);
        }
    }
    return total;
}

uint32_t RTTIClass::DeserializeProperties(BoundedReader& in, void* object, uint32_t options) const {
    const size_t start = in.Offset();
    const bool opened = !(options & kSerializeNoEntityPass) && EntityPointerFixups::Begin();
    const uint32_t classes = (options & kSerializeOwnClassOnly) ? 1 : chain.count;
    for (uint32_t c = 0; c < classes && !in.Failed(); ++c) {
        const RTTIClass* cls = (options & kSerializeOwnClassOnly) ? this : ChainAt(c);
        for (uint32_t i = 0; i < cls->properties.count; ++i) {
            const RTTIProperty* p = cls->PropertyAt(i);
            if (Skipped(p, options)) continue;
            if (!p->ReadBinary(in, object, options)) {
                in.Fail("property read failed");
                break;
            }
        }
    }
    if (opened) EntityPointerFixups::Resolve();
    return static_cast<uint32_t>(in.Offset() - start);
}

bool RTTIClass::ReadPropertiesBlock(FileReader& reader, void* object, uint32_t options) const {
    uint8_t sizeWord[4];
    if (!reader.Read(sizeWord, sizeof sizeWord)) {
        gLog.Error(LogCategory::Engine, "ReadPropertiesBlock - truncated block");
        return false;
    }
    uint32_t n;
    std::memcpy(&n, sizeWord, sizeof n);
    if (n == 0) return true;
    if (n > reader.GetSize()) {
        gLog.Error(LogCategory::Engine, "ReadPropertiesBlock - block size %u larger than the file", n);
        return false;
    }
    // Reused across calls on this thread; taken out while in use, since the object's
    // own read may read a nested block.
    static thread_local std::vector<uint8_t> tBlock;
    std::vector<uint8_t> block;
    block.swap(tBlock);
    block.resize(n);
    bool ok = reader.Read(block.data(), n);
    if (!ok) {
        gLog.Error(LogCategory::Engine, "ReadPropertiesBlock - truncated block");
    } else {
        BoundedReader in(block.data(), n);
        DeserializeProperties(in, object, options);
        ok = !in.Failed();
    }
    block.swap(tBlock);
    return ok;
}

RTTIPolyBaseClass* RTTIClass::CreateScratch() const {
    if (scratchFactory) return scratchFactory(id);
    return id >= 0 ? NameRegistry::CreateObject(name) : nullptr;
}

bool RTTIClass::PropertiesEqual(const void* a, const void* b) const {
    for (uint32_t c = 0; c < chain.count; ++c) {
        const RTTIClass* cls = ChainAt(c);
        for (uint32_t i = 0; i < cls->properties.count; ++i)
            if (!cls->PropertyAt(i)->Equal(a, b)) return false;
    }
    return true;
}

RTTIClass* RTTIClassRegistry::FindClass(const char* n) {
    const int32_t i = FindIndex(n);
    return i < 0 ? nullptr : At(static_cast<uint32_t>(i));
}

int32_t RTTIClassRegistry::FindIndex(const char* n) {
    if (!n) return -1;
    const RTTIPointerList& list = Registry();
    const SortedSearchResult r = FindSortedEqual(
        list.count, [&](uint32_t i) { return RTTIStricmp(n, static_cast<const RTTIClass*>(list.items[i])->Name()); });
    return r.found ? static_cast<int32_t>(r.index) : -1;
}

void RTTIClassRegistry::RemoveClass(const RTTIClass* descriptor) {
    if (!descriptor || !descriptor->Name()) return;
    RTTIPointerList& list = Registry();
    for (uint32_t i = 0; i < list.count; ++i) {
        if (std::strcmp(static_cast<RTTIClass*>(list.items[i])->Name(), descriptor->Name()) == 0) {
            list.RemoveAt(i);
            return;
        }
    }
}

uint32_t RTTIClassRegistry::Count() { return Registry().count; }
RTTIClass* RTTIClassRegistry::At(uint32_t index) {
    return index < Registry().count ? static_cast<RTTIClass*>(Registry().items[index]) : nullptr;
}
void RTTIClassRegistry::Insert(RTTIClass* descriptor) {
    RTTIPointerList& list = Registry();
    list.Insert(ClassUpperBound(list, descriptor->Name()), descriptor);
}

// ---------------------------------------------------------------------------------
// RTTIPolyBaseClass

uint32_t RTTIPolyBaseClass::SolidSerialize(uint8_t* buffer, uint32_t options) const {
    const RTTIClass* cls = GetRTTIClass();
    return cls ? cls->SerializeProperties(buffer, this, options) : 0;
}

uint32_t RTTIPolyBaseClass::SolidDeserialize(BoundedReader& in, uint32_t options) {
    const RTTIClass* cls = GetRTTIClass();
    OnPreDeserialize(options);
    const uint32_t n = cls ? cls->DeserializeProperties(in, this, options) : 0;
    OnLoaded(options);
    return n;
}

bool RTTIPolyBaseClass::GetPropertyValueAsString(const char* name, char* buffer, uint32_t size) const {
    if (!buffer || size == 0) return false;
    buffer[0] = 0;
    const RTTIClass* cls = GetRTTIClass();
    const RTTIProperty* p = cls ? cls->FindPropertyInChain(name) : nullptr;
    return p && p->ToString(this, buffer, size);
}

const char* RTTIPolyBaseClass::GetPropertyValueAsString(const char* name) const {
    static thread_local char buffer[4096];
    return GetPropertyValueAsString(name, buffer, sizeof(buffer)) ? buffer : nullptr;
}

bool RTTIPolyBaseClass::SetPropertyFromString(const char* name, const char* text) {
    const RTTIClass* cls = GetRTTIClass();
    const RTTIProperty* p = cls ? cls->FindPropertyInChain(name) : nullptr;
    return p && text && p->FromString(this, text);
}

// ---------------------------------------------------------------------------------
// NameRegistry: a strcmp-sorted table and a registration-order table of rows.

namespace {

struct NameRow {
    char* name;
    RTTICreateFunction create;
};

struct NameTables {
    NameRow* sorted = nullptr;
    NameRow* ordered = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
};

NameTables& Names() {
    static NameTables tables;
    return tables;
}

}  // namespace

int32_t NameRegistry::Register(const char* name, RTTICreateFunction create) {
    NameTables& t = Names();
    if (!name) return -1;
    if (t.count == t.capacity) {
        const uint32_t cap = t.capacity ? t.capacity * 2 : 2;
        auto* s = static_cast<NameRow*>(EngineAlloc(sizeof(NameRow) * cap));
        auto* o = static_cast<NameRow*>(EngineAlloc(sizeof(NameRow) * cap));
        if (t.count) {
            std::memcpy(s, t.sorted, sizeof(NameRow) * t.count);
            std::memcpy(o, t.ordered, sizeof(NameRow) * t.count);
        }
        EngineFree(t.sorted);
        EngineFree(t.ordered);
        t.sorted = s;
        t.ordered = o;
        t.capacity = cap;
    }
    const size_t len = std::strlen(name);
    auto* copy = static_cast<char*>(EngineAlloc(len + 1));
    std::memcpy(copy, name, len + 1);
    const auto after = [](const char* key, const NameRow& row) { return std::strcmp(key, row.name) < 0; };
    const NameRow* at = std::upper_bound(t.sorted, t.sorted + t.count, copy, after);
    const uint32_t lo = static_cast<uint32_t>(at - t.sorted);
    std::memmove(t.sorted + lo + 1, t.sorted + lo, sizeof(NameRow) * (t.count - lo));
    t.sorted[lo] = {copy, create};
    t.ordered[t.count] = {copy, create};
    return static_cast<int32_t>(t.count++);
}

int32_t NameRegistry::FindIndex(const char* name) {
    const NameTables& t = Names();
    if (!name) return -1;
    for (uint32_t i = 0; i < t.count; ++i)
        if (std::strcmp(t.ordered[i].name, name) == 0) return static_cast<int32_t>(i);
    return -1;
}

RTTIPolyBaseClass* NameRegistry::CreateObject(const char* name) {
    const NameTables& t = Names();
    if (!name) return nullptr;
    const SortedSearchResult r =
        FindSortedEqual(t.count, [&](uint32_t i) { return std::strcmp(name, t.sorted[i].name); });
    if (!r.found) return nullptr;
    const NameRow& row = t.sorted[r.index];
    return row.create ? row.create(FindIndex(name)) : nullptr;
}

uint32_t NameRegistry::Count() { return Names().count; }

void NameRegistry::Release() {
    NameTables& t = Names();
    for (uint32_t i = 0; i < t.count; ++i) EngineFree(t.ordered[i].name);
    EngineFree(t.sorted);
    EngineFree(t.ordered);
    t = NameTables{};
}

// ---------------------------------------------------------------------------------
// TemplateTypeTable

TemplateTypeTable::Row* TemplateTypeTable::Get() {
    static Row rows[kRows];
    return rows;
}

bool TemplateTypeTable::IsA(uint32_t typeId, uint32_t baseId) {
    if (typeId == baseId) return true;
    if (typeId >= kRows) return false;
    const Row* rows = Get();
    uint32_t t = typeId;
    for (uint32_t step = 0; step < kRows; ++step) {
        t = rows[t].base;
        if (t == baseId) return true;
        if (t >= kRows) return false;
    }
    return false;
}

namespace {
void DestroyRegisteredClass(void* context) {
    auto** slot = static_cast<RTTIClass**>(context);
    RTTIClassRegistry::RemoveClass(*slot);
    delete *slot;
    *slot = nullptr;
}
}  // namespace

RTTIClass* CreateRegisteredClass(RTTIClass*& slot, const char* className, const char* baseClassName,
                                 RTTICreateFunction factory) {
    slot = new RTTIClass;
    slot->Register(className, baseClassName, factory);
    PushExitHandler(DestroyRegisteredClass, &slot);
    return slot;
}
