#include "net/online/InGameStore.h"

#include "core/config/GameConfig.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/SolidBlob.h"

namespace {

RTTIClass* gItemClass = nullptr;
RTTIClass* gStoreClass = nullptr;
RTTIClass* gBackpackClass = nullptr;
RTTIClass* gBackpackItemClass = nullptr;
RTTIClass* gImageClass = nullptr;

constexpr const char* kStoreExtension = "bin";
constexpr const char* kStoreDirectory = "common";

template <class T>
void AddDirect(RTTIClass* c, const char* name, size_t offset) {
    c->AddProperty(new RTTIDirectAccessTypedProperty<T>(name, offset));
}

}  // namespace

// ---- InGameStoreItemImage ----

const RTTIClass* InGameStoreItemImage::RegisterClass() {
    if (gImageClass) return gImageClass;
    RTTIClass* c = CreateRegisteredClass(gImageClass, "InGameStoreItemImage", kRTTIRootBaseName);
    AddDirect<NameString>(c, "File", RTTI_OFFSETOF(InGameStoreItemImage, file));
    AddDirect<uint32_t>(c, "TilesX", RTTI_OFFSETOF(InGameStoreItemImage, tilesX));
    AddDirect<uint32_t>(c, "TilesY", RTTI_OFFSETOF(InGameStoreItemImage, tilesY));
    AddDirect<uint32_t>(c, "X", RTTI_OFFSETOF(InGameStoreItemImage, x));
    AddDirect<uint32_t>(c, "Y", RTTI_OFFSETOF(InGameStoreItemImage, y));
    AddDirect<Vector>(c, "Color", RTTI_OFFSETOF(InGameStoreItemImage, color));
    return c;
}

// ---- InGameStoreItem ----

const RTTIClass* InGameStoreItem::RegisterClass() {
    if (gItemClass) return gItemClass;
    // The image's descriptor must exist before the item's "Image" property points at it.
    const RTTIClass* image = InGameStoreItemImage::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gItemClass, "InGameStoreItem", kRTTIRootBaseName,
                                         [](int32_t) -> RTTIPolyBaseClass* { return new InGameStoreItem(); });
    AddDirect<NameString>(c, "Id", RTTI_OFFSETOF(InGameStoreItem, id));
    AddDirect<NameString>(c, "Name", RTTI_OFFSETOF(InGameStoreItem, name));
    AddDirect<NameString>(c, "Description", RTTI_OFFSETOF(InGameStoreItem, description));
    AddDirect<NameString>(c, "Type", RTTI_OFFSETOF(InGameStoreItem, type));
    AddDirect<uint32_t>(c, "Price", RTTI_OFFSETOF(InGameStoreItem, price));
    AddDirect<float>(c, "RealMoneyPrice", RTTI_OFFSETOF(InGameStoreItem, realMoneyPrice));
    AddDirect<uint16_t>(c, "ExclusivityGroup", RTTI_OFFSETOF(InGameStoreItem, exclusivityGroup));
    AddDirect<bool>(c, "Countable", RTTI_OFFSETOF(InGameStoreItem, countable));
    c->AddProperty(new RTTIEmbeddedObjectProperty<InGameStoreItemImage>("Image", RTTI_OFFSETOF(InGameStoreItem, image), image));
    return c;
}

const RTTIClass* InGameStoreItem::GetRTTIClass() const { return RegisterClass(); }

// ---- InGameStore ----

InGameStore::InGameStore(const char* definitionFile) {
    if (!definitionFile || !*definitionFile || !gGameConfig || !gGameConfig->IsStandaloneBuild()) return;
    if (!LoadFromFile(definitionFile, kStoreExtension, kStoreDirectory, 0)) Clear();
}

InGameStore::~InGameStore() { Clear(); }

const RTTIClass* InGameStore::RegisterClass() {
    if (gStoreClass) return gStoreClass;
    InGameStoreItem::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gStoreClass, "InGameStore", kRTTIRootBaseName);
    // A file that stops parsing half-way is read into a blank store first, so it never
    // leaves a part of itself behind.
    c->SetScratchFactory([](int32_t) -> RTTIPolyBaseClass* { return new InGameStore(); });
    c->AddProperty(new RTTIDynarrayOfPolyObjectPointersProperty<Dynarray<InGameStoreItem*>>(
        "Items", RTTI_OFFSETOF(InGameStore, items)));
    return c;
}

const RTTIClass* InGameStore::GetRTTIClass() const { return RegisterClass(); }

void InGameStore::GetItemImageFiles(uint32_t, DynarraySafe<NameString>& files) const {
    for (uint32_t i = 0; i < items.Count(); ++i)
        if (items[i]) files.Add(items[i]->image.file);
}

bool InGameStore::LoadFromBytes(const void* data, size_t size) {
    if (SolidDeserializeFromBuffer(*this, data, size, 0)) return true;
    Clear();
    return false;
}

void InGameStore::Clear() {
    for (uint32_t i = 0; i < items.Count(); ++i) delete items[i];
    items.Release();
}

// ---- Backpack ----

const RTTIClass* InGameBackpack::RegisterClass() {
    if (gBackpackClass) return gBackpackClass;
    const RTTIClass* item = InGameBackpackItem::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gBackpackClass, "InGameBackpack", kRTTIRootBaseName);
    c->AddProperty(new RTTIDynarrayOfEmbeddedObjectsProperty<DynarraySafe<InGameBackpackItem>>(
        "Items", RTTI_OFFSETOF(InGameBackpack, items), item));
    return c;
}

const RTTIClass* InGameBackpack::GetRTTIClass() const { return RegisterClass(); }

const RTTIClass* InGameBackpackItem::RegisterClass() {
    if (gBackpackItemClass) return gBackpackItemClass;
    RTTIClass* c = CreateRegisteredClass(gBackpackItemClass, "InGameBackpackItem", kRTTIRootBaseName);
    AddDirect<NameString>(c, "Id", RTTI_OFFSETOF(InGameBackpackItem, id));
    AddDirect<uint32_t>(c, "Count", RTTI_OFFSETOF(InGameBackpackItem, count));
    AddDirect<uint32_t>(c, "Consumed", RTTI_OFFSETOF(InGameBackpackItem, consumed));
    AddDirect<uint16_t>(c, "ExclusivityGroup", RTTI_OFFSETOF(InGameBackpackItem, exclusivityGroup));
    AddDirect<bool>(c, "Enabled", RTTI_OFFSETOF(InGameBackpackItem, enabled));
    return c;
}
