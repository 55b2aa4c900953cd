#pragma once
// Entity layers: every entity names one layer by its layer id byte. The scene's
// EntityLayerSystem (owned by the EntityManager, stored in every binary scene) keeps a
// tree of EntityLayerGroups and turns the layers' switches into 256-bit masks: bit i
// (bit i % 32 of word i / 32) for layer id i. Id 0 stands for no layer.
//
// A global table of 256 layer pointers maps ids to layers; a layer enters it when its
// "Id" is set and leaves it when it is deleted or given another id, but only when it is
// the one the slot holds.
//
// Threads: main thread only.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/math/HDRColor.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/SimpleGUID.h"

constexpr uint32_t kLayerCount = 256;
constexpr uint32_t kLayerMaskWords = kLayerCount / 32;

class EntityLayer : public RTTIPolyBaseClass {
public:
    EntityLayer() = default;
    ~EntityLayer() override;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    // The "Color" hook: "Proprietary color set" follows the colour.
    void OnPropertyEdited(const char* propertyName, const void* context) override;

    // Nothing when unchanged; leaves the old slot (only when it owns it), takes the new.
    void SetId(uint8_t newId);
    uint8_t GetId() const { return id; }

    char* name = nullptr;
    SimpleGUID guid;
    bool visible = true;
    bool frozen = false;
    bool visibleInGame = true;
    bool persistent = false;
    bool proprietaryColorSet = false;
    bool selectionEditorSelected = true;
    uint8_t id = 0;
    HDRColor color{255, 255, 255, 255, 1.0f};
    float optimizationSectorSize = 100.0f;
    bool presentInIPhoneBuild = true;
    bool presentInIPadBuild = true;
    uint32_t userData = 0;
};

class EntityLayerGroup : public RTTIPolyBaseClass {
public:
    EntityLayerGroup() = default;
    ~EntityLayerGroup() override;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    // The "Color" hook: as a layer's, then the colour goes down to every sub-group and
    // layer below without a colour of its own.
    void OnPropertyEdited(const char* propertyName, const void* context) override;
    void DeleteContents();

    HDRColor color{255, 255, 255, 255, 1.0f};
    char* name = nullptr;
    bool expanded = false;
    bool proprietaryColorSet = false;
    Dynarray<EntityLayerGroup*> children;
    Dynarray<EntityLayer*> layers;
};

class EntityLayerSystem : public RTTIPolyBaseClass {
public:
    EntityLayerSystem();
    ~EntityLayerSystem() override;
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    // Active layer 0, empty tree named "LAYERS" (expanded) with one layer "Default" of id 1
    // and a new GUID, which becomes the active layer.
    void Reset();
    EntityLayer* FindLayerByName(const char* layerName) const { return FindLayerByName(&root, layerName); }
    static EntityLayer* FindLayerByName(const EntityLayerGroup* group, const char* layerName);
    static EntityLayerGroup* FindLayerGroupByName(const EntityLayerGroup* group, const char* groupName);
    void HideLayerInGame(const char* layerName, bool hide);
    void HideLayerGroupInGame(const char* groupName, bool hide);
    static void BuildVisibleLayerMask(uint32_t mask[kLayerMaskWords]);
    static void BuildInGameVisibleLayerMask(uint32_t mask[kLayerMaskWords]);
    static void BuildFrozenLayerMask(uint32_t mask[kLayerMaskWords]);
    // The layer registered under an id (null for 0 and unused ids).
    static EntityLayer* LayerById(uint8_t id);

    EntityLayerGroup root;
    uint8_t activeLayerId = 0;
};
