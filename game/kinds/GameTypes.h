#pragma once
// The game's template type ids (the game's range of the template-type table, 256 up) and
// the rows the game writes into that table at start-up: row number = type id, the
// template class name and its base row (engine rows: 0 EntityTemplate, 2 FlagTemplate,
// 4 TriggerTemplate, 5 CompoundTemplate; kNoBaseRow for none).
//
// 273 is a script constant without a class or row; 276 has a row but no script constant.
// The versus player marker template carries 277, so a stored versus template reloads as
// itself; its row's base is the player marker's, so "is a player marker" tests hold.
#include <cstdint>

#include "core/rtti/RTTIClass.h"
#include "engine/entity/Entity.h"

enum : uint32_t {
    ENTITY_ZKR_TOWERMARKER = 256,
    ENTITY_ZKR_PICKUPMARKER = 257,
    ENTITY_ZKR_SCRIPTTRIGGER = 258,
    ENTITY_ZKR_EFFECT = 259,
    ENTITY_ZKR_DAMAGESURFACE = 260,
    ENTITY_ZKR_PATHRENDERER = 261,
    ENTITY_ZKR_PLAYERMARKER = 262,
    ENTITY_ZKR_USABLE = 263,
    ENTITY_ZKR_OBSTACLEMARKER = 264,
    ENTITY_ZKR_HELIPATHFLAG = 265,
    ENTITY_ZKR_TRIGGER = 266,
    ENTITY_ZKR_AMBIENTSOUND = 267,
    ENTITY_ZKR_LEVELPARAMS = 268,
    ENTITY_ZKR_IPHONETRIGGER = 269,
    ENTITY_ZKR_CHECKPOINT = 270,
    ENTITY_ZKR_PROGRESSAREATRIGGER = 271,
    ENTITY_ZKR_TOWER = 272,
    ENTITY_ZKR_ABILITYTIMEOUTMULTIPLIER = 273,
    ENTITY_ZKR_REMOTECONNECTORARRAY = 274,
    ENTITY_ZKR_SQUAD_TRIGGER = 275,
    ENTITY_ZKR_VERSUSPLAYERMARKER = 277,
};

// The squad script trigger's type (no script constant).
constexpr uint32_t kSquadScriptTriggerType = 276;
// The first and last type id of the game's range.
constexpr uint32_t kFirstGameType = 256;
constexpr uint32_t kLastGameType = 277;
constexpr uint32_t kNoBaseRow = TemplateTypeTable::kRows;

// One row of the game's part of the template-type table.
struct GameTypeRow {
    uint32_t type;
    uint32_t base;
    const char* templateClass;
};

// Every row the game writes, in type order. The registration table
// (GameClassRegistration.cpp) writes these rows; the static_asserts below tie them to
// the type ids.
inline constexpr GameTypeRow kGameTypeRows[] = {
    {ENTITY_ZKR_TOWERMARKER, ENTITY_COMPOUND, "ZKRTowerMarkerTemplate"},
    {ENTITY_ZKR_PICKUPMARKER, ENTITY_COMPOUND, "ZKRPickupMarkerTemplate"},
    {ENTITY_ZKR_SCRIPTTRIGGER, ENTITY_ZKR_TRIGGER, "ZKRScriptTriggerTemplate"},
    {ENTITY_ZKR_EFFECT, ENTITY_COMPOUND, "ZKREffectTemplate"},
    {ENTITY_ZKR_DAMAGESURFACE, ENTITY_TRIGGER, "ZKRDamageSurfaceTemplate"},
    {ENTITY_ZKR_PATHRENDERER, ENTITY_NULL, "ZKRPathRendererTemplate"},
    {ENTITY_ZKR_PLAYERMARKER, ENTITY_COMPOUND, "ZKRPlayerMarkerTemplate"},
    {ENTITY_ZKR_USABLE, ENTITY_COMPOUND, "ZKRUsableTemplate"},
    {ENTITY_ZKR_OBSTACLEMARKER, ENTITY_COMPOUND, "ZKRObstacleMarkerTemplate"},
    {ENTITY_ZKR_HELIPATHFLAG, ENTITY_FLAG, "ZKRHelicopterPathFlagTemplate"},
    {ENTITY_ZKR_TRIGGER, ENTITY_TRIGGER, "ZKRTriggerTemplate"},
    {ENTITY_ZKR_AMBIENTSOUND, ENTITY_COMPOUND, "ZKRAmbientSoundTemplate"},
    {ENTITY_ZKR_LEVELPARAMS, ENTITY_NULL, "ZKRLevelParamsTemplate"},
    {ENTITY_ZKR_IPHONETRIGGER, ENTITY_ZKR_TRIGGER, "ZKRiPhoneTriggerTemplate"},
    {ENTITY_ZKR_CHECKPOINT, ENTITY_TRIGGER, "ZKRCheckpointTemplate"},
    {ENTITY_ZKR_PROGRESSAREATRIGGER, ENTITY_ZKR_TRIGGER, "ZKRProgressAreaTriggerTemplate"},
    {ENTITY_ZKR_TOWER, ENTITY_COMPOUND, "ZKRTowerTemplate"},
    {ENTITY_ZKR_REMOTECONNECTORARRAY, kNoBaseRow, "ZKRRemoteConnectorArrayTemplate"},
    {ENTITY_ZKR_SQUAD_TRIGGER, ENTITY_TRIGGER, "ZKRSquadZDirTriggerTemplate"},
    {kSquadScriptTriggerType, ENTITY_TRIGGER, "ZKRSquadScriptTriggerTemplate"},
    {ENTITY_ZKR_VERSUSPLAYERMARKER, ENTITY_ZKR_PLAYERMARKER, "ZKRVersusPlayerMarkerTemplate"},
};

// The index of a game type's row in kGameTypeRows, or -1 (273, and types outside the
// game's range).
constexpr int GameTypeRowIndex(uint32_t type) {
    for (size_t i = 0; i < sizeof(kGameTypeRows) / sizeof(kGameTypeRows[0]); ++i)
        if (kGameTypeRows[i].type == type) return int(i);
    return -1;
}

// The base row of a game type; kNoBaseRow + 1 when the type has no row.
constexpr uint32_t GameTypeBase(uint32_t type) {
    const int i = GameTypeRowIndex(type);
    return i < 0 ? kNoBaseRow + 1 : kGameTypeRows[i].base;
}

constexpr bool GameTypeRowsAscend() {
    for (size_t i = 1; i < sizeof(kGameTypeRows) / sizeof(kGameTypeRows[0]); ++i)
        if (kGameTypeRows[i].type <= kGameTypeRows[i - 1].type) return false;
    return true;
}

static_assert(GameTypeRowsAscend(), "one row per type, in type order");
static_assert(kGameTypeRows[0].type == kFirstGameType);
static_assert(GameTypeBase(kLastGameType) == ENTITY_ZKR_PLAYERMARKER, "a versus marker is a player marker");
static_assert(GameTypeBase(ENTITY_ZKR_ABILITYTIMEOUTMULTIPLIER) == kNoBaseRow + 1, "273 has a constant and no row");
static_assert(GameTypeBase(kSquadScriptTriggerType) == ENTITY_TRIGGER, "276 has a row and no constant");
static_assert(GameTypeBase(ENTITY_ZKR_REMOTECONNECTORARRAY) == kNoBaseRow);
static_assert(GameTypeBase(ENTITY_ZKR_LEVELPARAMS) == ENTITY_NULL);
static_assert(GameTypeBase(ENTITY_ZKR_SCRIPTTRIGGER) == ENTITY_ZKR_TRIGGER &&
              GameTypeBase(ENTITY_ZKR_IPHONETRIGGER) == ENTITY_ZKR_TRIGGER &&
              GameTypeBase(ENTITY_ZKR_PROGRESSAREATRIGGER) == ENTITY_ZKR_TRIGGER);
