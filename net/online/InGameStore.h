#pragma once
// The in-game store definitions: the items a store can offer (name, description, type,
// prices, an image from a tile sheet) and the items a player owns (a backpack with
// counts). Objects load from a binary property file made by the content tools; this
// code only loads and lists them (buying, owning and using items are the scripts').
//
// Registration (rows of the multiplayer layer's start-up table, in this order):
// InGameStoreItem, InGameStore, InGameBackpack, InGameBackpackItem, InGameStoreItemImage.
// InGameStoreItem also has a creation function in the NameRegistry: the store's items
// are created by the class name stored with each, which must be InGameStoreItem or a
// class derived from it; any other name fails the load.
//
// Threads: main thread.
#include <cstddef>
#include <cstdint>

#include "core/Dynarray.h"
#include "core/math/Vector.h"
#include "core/rtti/RTTIClass.h"
#include "core/text/NameString.h"

// The picture of an item: one tile of a sheet (a plain record).
struct InGameStoreItemImage {
    static const RTTIClass* RegisterClass();

    NameString file;       // "File"
    uint32_t tilesX = 0;   // "TilesX"
    uint32_t tilesY = 0;   // "TilesY"
    uint32_t x = 0;        // "X"
    uint32_t y = 0;        // "Y"
    Vector color{1.0f, 1.0f, 1.0f, 1.0f};  // "Color"
};

class InGameStoreItem : public RTTIPolyBaseClass {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    NameString id;                 // "Id"
    NameString name;               // "Name"
    NameString description;        // "Description"
    NameString type;               // "Type"
    uint32_t price = 0;            // "Price"
    float realMoneyPrice = 0.0f;   // "RealMoneyPrice"
    uint16_t exclusivityGroup = 0; // "ExclusivityGroup"
    bool countable = false;        // "Countable"
    InGameStoreItemImage image;    // "Image"
};

class InGameStore : public RTTIPolyBaseClass {
public:
    // With a definition file name in a standalone build, loads it ("<name>.bin" of the
    // "common" mount); otherwise, or when the file fails to load, the store is empty.
    explicit InGameStore(const char* definitionFile = nullptr);
    ~InGameStore() override;
    InGameStore(const InGameStore&) = delete;
    InGameStore& operator=(const InGameStore&) = delete;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    // Appends the image file name of every item, in item order (empty names included).
    void GetItemImageFiles(uint32_t word, DynarraySafe<NameString>& files) const;

    // Reads a store file's bytes as the loader does (a Solid blob); false, with the store
    // empty, when they do not load whole.
    bool LoadFromBytes(const void* data, size_t size);
    // Deletes every item.
    void Clear();

    Dynarray<InGameStoreItem*> items;  // "Items", owned
};

struct InGameBackpackItem {
    static const RTTIClass* RegisterClass();

    NameString id;                  // "Id"
    uint32_t count = 0;             // "Count"
    uint32_t consumed = 0;          // "Consumed"
    uint16_t exclusivityGroup = 0;  // "ExclusivityGroup"
    bool enabled = true;            // "Enabled"
};

class InGameBackpack : public RTTIPolyBaseClass {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    DynarraySafe<InGameBackpackItem> items;  // "Items"
};
