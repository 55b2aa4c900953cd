#pragma once
// The remote connector array: the run-time state of up to 200 connectors that the game
// scripts keep (the active outgoing flag, the disabled outgoing indices, marked, disabled).
// Nothing of it is saved with the level: it registers no properties.
//
// Indices of 200 or more are refused: a setter changes nothing and a getter answers the
// connector's initial value (false, 1, false, no bit), each with one warning per entity.
//
// Main thread only.
#include <cstdint>

#include "engine/entity/Entity.h"
#include "engine/entity/EntityTemplate.h"
#include "game/kinds/GameKindSupport.h"

class ZKRRemoteConnectorArrayTemplate : public EntityTemplate {
public:
    ZKRRemoteConnectorArrayTemplate();
    ZKR_GAME_CLASS_BOILERPLATE()
    const char* GetClassName() const override { return "ZKRRemoteConnectorArrayTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRRemoteConnectorArrayEntity"; }
};

class ZKRRemoteConnectorArrayEntity : public Entity {
public:
    static constexpr uint32_t kConnectors = 200;

    ZKRRemoteConnectorArrayEntity() = default;
    ZKR_GAME_CLASS_BOILERPLATE()

    void SetMarked(uint32_t index, bool value);
    bool IsMarked(uint32_t index) const;
    void SetDisabled(uint32_t index, bool value);
    bool IsDisabled(uint32_t index) const;
    void SetActiveOutFlagIndex(uint32_t index, uint32_t value);
    uint32_t GetActiveOutFlagIndex(uint32_t index) const;
    // The outgoing index selects its bit modulo 32.
    void SetOutIndexDisabled(uint32_t index, uint32_t outIndex, bool value);
    bool IsOutIndexDisabled(uint32_t index, uint32_t outIndex) const;

private:
    struct Connector {
        uint32_t activeOutFlagIndex = 1;
        uint32_t disabledOutMask = 0;  // bit n: outgoing index n disabled
        bool marked = false;
        bool disabled = false;
    };
    // The connector at index, or null (with the entity's one warning) past the array.
    Connector* At(uint32_t index, const char* operation) const;

    mutable Connector connectors[kConnectors];
    mutable bool warned = false;
};
