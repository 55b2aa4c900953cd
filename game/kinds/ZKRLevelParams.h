#pragma once
// The level's parameters: one object per level holding the mission's settings (ability
// counts, available unit kinds, time limit, endless mode, the preset unit queue, selling,
// debugging switches, the sound track, arrival markers). No behaviour: the settings are
// its registered properties, stored with the level and read by the game scripts.
//
// Main thread (the template loads on the ResourceManager thread).
#include <cstdint>

#include "core/text/NameString.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityTemplate.h"
#include "game/kinds/GameKindSupport.h"

// Creates ZKRLevelParamsEntity but keeps the base's entity class name, "Entity".
class ZKRLevelParamsTemplate : public EntityTemplate {
public:
    ZKRLevelParamsTemplate();
    ZKR_GAME_CLASS_BOILERPLATE()
    const char* GetClassName() const override { return "ZKRLevelParamsTemplate"; }
    Entity* CreateEntity() override;
};

class ZKRLevelParamsEntity : public Entity {
public:
    ZKRLevelParamsEntity() = default;
    ZKR_GAME_CLASS_BOILERPLATE()

    uint32_t countResources = 250;  // "Count_Resources"
    uint32_t countRepair = 1;       // "Count_Repair"
    uint32_t countDecoy = 1;        // "Count_Decoy"
    uint32_t countSmoke = 1;        // "Count_Smoke"
    uint32_t countCloak = 0;        // "Count_Cloak"
    uint32_t countBoost = 0;        // "Count_Boost"
    uint32_t countAirstrike = 1;    // "Count_Airstrike"
    uint32_t countEMP = 0;          // "Count_EMP"
    uint32_t countSlowdown = 0;     // "Count_Slowdown"
    bool availableAPC = false;      // "isAvailable_APC"
    bool availableTank = false;     // "isAvailable_Tank"
    bool availableCrawler = false;  // "isAvailable_Crawler"
    bool availableShielder = false; // "isAvailable_Shielder"
    bool availableSupply = false;   // "isAvailable_Supply" (declared after "Sound track")
    bool availableFlamer = false;   // "isAvailable_Flamer" (declared after "Sound track")
    float timeLimit = -1.0f;        // "TimeLimit": below 0 no limit
    bool endless = false;           // "isEndless"
    bool unitsSetBeforeStart = false;  // "isUnitsSetBeforeStart"
    NameString unitsQueue;          // "UnitsQue"
    bool blockSell = false;         // "BlockSell"
    bool debugUnitsAttack = false;  // "DebugUnitsAttack"
    bool debugTowersAttack = false; // "DebugTowersAttack"
    NameString soundTrack;          // "Sound track"
    bool etaMarkersVisible = false; // "ETAMarkersVisible"
};
