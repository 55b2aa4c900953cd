#pragma once
// Stores for the store tests and the store file fuzz target: an item class derived from
// InGameStoreItem, a registered class that is not an item, and a store written by the
// engine's own Solid writer.
#include <vector>

#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/SolidBlob.h"
#include "net/online/InGameStore.h"

namespace storetest {

// 13 characters each, so one name can stand in for another in a written file.
constexpr const char* kDerivedName = "TestStoreItem";
constexpr const char* kForeignName = "ForeignObject";
constexpr const char* kUnknownName = "UnknownThingX";

class TestStoreItem : public InGameStoreItem {
public:
    static const RTTIClass* RegisterClass() {
        static RTTIClass* slot = nullptr;
        if (slot) return slot;
        InGameStoreItem::RegisterClass();
        RTTIClass* c = CreateRegisteredClass(slot, kDerivedName, "InGameStoreItem",
                                             [](int32_t) -> RTTIPolyBaseClass* { return new TestStoreItem(); });
        c->AddProperty(new RTTIDirectAccessTypedProperty<uint32_t>("Rarity", RTTI_OFFSETOF(TestStoreItem, rarity)));
        return c;
    }
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }
    uint32_t rarity = 0;
};

class ForeignObject : public RTTIPolyBaseClass {
public:
    static const RTTIClass* RegisterClass() {
        static RTTIClass* slot = nullptr;
        if (slot) return slot;
        RTTIClass* c = CreateRegisteredClass(slot, kForeignName, kRTTIRootBaseName,
                                             [](int32_t) -> RTTIPolyBaseClass* { return new ForeignObject(); });
        c->AddProperty(new RTTIDirectAccessTypedProperty<uint32_t>("Value", RTTI_OFFSETOF(ForeignObject, value)));
        return c;
    }
    const RTTIClass* GetRTTIClass() const override { return RegisterClass(); }
    uint32_t value = 0;
};

inline void RegisterTestClasses() {
    TestStoreItem::RegisterClass();
    ForeignObject::RegisterClass();
}

// Three items: a full InGameStoreItem, a TestStoreItem, and a default item without an
// image file.
inline void Fill(InGameStore& store) {
    auto* a = new InGameStoreItem;
    a->id = "sword";
    a->name = "Sword";
    a->description = "Sharp";
    a->type = "weapon";
    a->price = 250;
    a->realMoneyPrice = 1.99f;
    a->exclusivityGroup = 3;
    a->countable = true;
    a->image.file = "sheet.dds";
    a->image.tilesX = 8;
    a->image.tilesY = 4;
    a->image.x = 5;
    a->image.y = 2;
    a->image.color = Vector(0.5f, 0.25f, 1.0f, 0.75f);
    auto* b = new TestStoreItem;
    b->id = "potion";
    b->price = 10;
    b->rarity = 7;
    b->image.file = "other.dds";
    store.items.Add(a);
    store.items.Add(b);
    store.items.Add(new InGameStoreItem);
}

inline std::vector<uint8_t> Written(const RTTIPolyBaseClass& object) {
    std::vector<uint8_t> bytes;
    SolidSerializeToBuffer(object, bytes, 0);
    return bytes;
}

}  // namespace storetest
