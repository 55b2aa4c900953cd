#pragma once
// The game's trigger volumes. The engine's trigger base tracks who is inside and calls
// the script handlers; these classes only carry the settings the game scripts read (what
// a trigger reacts to, which script runs, which direction of travel counts, the damage of
// a surface, what a tutorial trigger shows), and a few templates preload what they name.
//
// ZKRTriggerTemplate's six Default* values fill the entities that it and the phone-trigger
// template make; the other templates make their entities with constructor defaults.
//
// Threads: templates load (and run PreloadReferencedResources) on the ResourceManager
// thread; everything else on the main thread.
#include <cstdint>

#include "core/text/NameString.h"
#include "game/kinds/GameKindSupport.h"
#include "scene/entities/TriggerEntity.h"

class ZKRTriggerEntity;

// The six reaction switches, as the template's defaults or an entity's own values.
struct ZKRTriggerReactions {
    bool reactToHero = false;
    bool reactToUnits = false;
    bool firstUnit = true;
    bool lastUnit = false;
    bool anyUnit = false;
    bool multipleActivation = false;
};

// ---- The ZKR trigger and its derived kinds ----

class ZKRTriggerTemplate : public TriggerTemplate {
public:
    ZKRTriggerTemplate();
    ZKR_GAME_CLASS_BOILERPLATE()
    const char* GetClassName() const override { return "ZKRTriggerTemplate"; }
    // A ZKRTriggerEntity with the template's six Default* values.
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRTriggerEntity"; }
    // Copies the six Default* values into the entity's switches.
    void FillReactions(ZKRTriggerEntity* entity) const;

    ZKRTriggerReactions defaults;  // "DefaultReactToHero" ... "DefaultMultipleActivation"
};

class ZKRTriggerEntity : public TriggerEntity {
public:
    ZKRTriggerEntity() = default;
    ZKR_GAME_CLASS_BOILERPLATE()

    bool ReactsToHero() const { return reactions.reactToHero; }
    bool ReactsToUnits() const { return reactions.reactToUnits; }
    bool IsFirstUnitReaction() const { return reactions.firstUnit; }
    bool IsLastUnitReaction() const { return reactions.lastUnit; }
    bool IsAnyUnitReaction() const { return reactions.anyUnit; }

    ZKRTriggerReactions reactions;  // "ReactToHero" ... "MultipleActivation"
};

class ZKRScriptTriggerTemplate : public ZKRTriggerTemplate {
public:
    ZKRScriptTriggerTemplate();
    ZKR_GAME_CLASS_BOILERPLATE()
    const char* GetClassName() const override { return "ZKRScriptTriggerTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRScriptTriggerEntity"; }
};

class ZKRScriptTriggerEntity : public ZKRTriggerEntity {
public:
    ZKRScriptTriggerEntity() = default;
    ~ZKRScriptTriggerEntity() override;
    ZKR_GAME_CLASS_BOILERPLATE()

    const char* GetScriptName() const { return scriptName; }
    bool IsScriptActiveDuringPause() const { return scriptActiveDuringPause; }

    char* scriptName = nullptr;            // "ScriptName"
    bool scriptActiveDuringPause = false;  // "ScriptActiveDuringPause"
};

class ZKRProgressAreaTriggerTemplate : public ZKRTriggerTemplate {
public:
    ZKRProgressAreaTriggerTemplate();
    ZKR_GAME_CLASS_BOILERPLATE()
    const char* GetClassName() const override { return "ZKRProgressAreaTriggerTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRProgressAreaTriggerEntity"; }
};

// Reacts to units unless told otherwise.
class ZKRProgressAreaTriggerEntity : public ZKRTriggerEntity {
public:
    ZKRProgressAreaTriggerEntity() { reactions.reactToUnits = true; }
    ZKR_GAME_CLASS_BOILERPLATE()

    uint32_t GetAreaIndex() const { return areaIndex; }

    uint32_t areaIndex = 0;  // "AreaIndex"
};

// ---- Phone (tutorial) triggers ----

enum : uint32_t { IPHONE_MODE_ANYTHING = 0, IPHONE_MODE_FIRST_UNIT = 1 };

class ZKRiPhoneTriggerEntity : public ZKRTriggerEntity {
public:
    ZKRiPhoneTriggerEntity() = default;
    ZKR_GAME_CLASS_BOILERPLATE()
    // The stored mode; a value outside the list counts as "Anything".
    uint32_t GetMode() const { return iPhoneMode <= IPHONE_MODE_FIRST_UNIT ? iPhoneMode : IPHONE_MODE_ANYTHING; }

    uint32_t iPhoneMode = IPHONE_MODE_ANYTHING;  // "iPhoneMode"
};

class ZKRiPhoneChatBoxTriggerEntity : public ZKRiPhoneTriggerEntity {
public:
    ZKRiPhoneChatBoxTriggerEntity() = default;
    ZKR_GAME_CLASS_BOILERPLATE()

    NameString displayText;           // "DisplayText"
    bool shouldStopGamePlay = false;  // "ShouldStopGamePlay"
    bool endOnTouch = false;          // "EndOnTouch"
    float displayTime = 1.0f;         // "DisplayTime"
};

class ZKRiPhoneDialogTriggerEntity : public ZKRiPhoneTriggerEntity {
public:
    ZKRiPhoneDialogTriggerEntity() = default;
    ZKR_GAME_CLASS_BOILERPLATE()

    NameString langPath;  // "Lang_Path"
};

class ZKRiPhoneDamageAreaEntity : public ZKRiPhoneTriggerEntity {
public:
    ZKRiPhoneDamageAreaEntity() = default;
    ZKR_GAME_CLASS_BOILERPLATE()

    float damagePerSecond = 50.0f;  // "Damage Per Second"
};

class ZKRiPhoneBurnAreaEntity : public ZKRiPhoneDamageAreaEntity {
public:
    ZKRiPhoneBurnAreaEntity() = default;
    ZKR_GAME_CLASS_BOILERPLATE()

    float burnTimeAfterLeave = 0.0f;    // "Burn time after leave"
    float burnDamagePerSecond = 0.0f;   // "Burn damage per second"
};

class ZKRiPhoneTriggerTemplate : public ZKRTriggerTemplate {
public:
    ZKRiPhoneTriggerTemplate();
    ZKR_GAME_CLASS_BOILERPLATE()
    const char* GetClassName() const override { return "ZKRiPhoneTriggerTemplate"; }
    // The class TriggerType chooses (0, 3, 4, 7 plain; 2 chat box; 5, 6, 8 dialog;
    // 9 damage area; 10 burn area), filled from the Default* values; null for 1 and
    // every type above 10.
    Entity* CreateEntity() override;
    // Answers the trigger entity's name whatever class TriggerType chooses.
    const char* GetEntityClassName() const override { return "ZKRTriggerEntity"; }
    // Types 9 and 10 preload the template Param names.
    void PreloadReferencedResources() override;

    uint32_t triggerType = 0;     // "TriggerType"
    uint32_t activationMask = 4;  // "ActivationMask"
    NameString param;             // "Param"
};

// ---- Triggers on the engine's trigger base ----

class ZKRSquadScriptTriggerTemplate : public TriggerTemplate {
public:
    ZKRSquadScriptTriggerTemplate();
    ZKR_GAME_CLASS_BOILERPLATE()
    const char* GetClassName() const override { return "ZKRSquadScriptTriggerTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRSquadScriptTriggerEntity"; }
};

class ZKRSquadScriptTriggerEntity : public TriggerEntity {
public:
    ZKRSquadScriptTriggerEntity() = default;
    ~ZKRSquadScriptTriggerEntity() override;
    ZKR_GAME_CLASS_BOILERPLATE()

    const char* GetOnEnterScript() const { return onEnterScript; }
    const char* GetOnExitScript() const { return onExitScript; }
    bool IsScriptActiveDuringPause() const { return scriptActiveDuringPause; }
    bool IsMultipleActivation() const { return multipleActivation; }

    char* onEnterScript = nullptr;         // "OnEnterScript"
    char* onExitScript = nullptr;          // "OnExitScript"
    bool multipleActivation = false;       // "MultipleActivation"
    bool scriptActiveDuringPause = false;  // "ScriptActiveDuringPause"
};

class ZKRSquadZDirTriggerTemplate : public TriggerTemplate {
public:
    ZKRSquadZDirTriggerTemplate();
    ZKR_GAME_CLASS_BOILERPLATE()
    const char* GetClassName() const override { return "ZKRSquadZDirTriggerTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRSquadZDirTriggerEntity"; }
};

class ZKRSquadZDirTriggerEntity : public TriggerEntity {
public:
    ZKRSquadZDirTriggerEntity() = default;
    ~ZKRSquadZDirTriggerEntity() override;
    ZKR_GAME_CLASS_BOILERPLATE()

    const char* GetZDirPositive() const { return zDirPositive; }
    const char* GetZDirNegative() const { return zDirNegative; }
    bool IsMultipleActivation() const { return multipleActivation; }

    char* zDirPositive = nullptr;     // "ZDirPositive"
    char* zDirNegative = nullptr;     // "ZDirNegative"
    bool multipleActivation = false;  // "MultipleActivation"
};

enum : uint32_t {
    TOWER_AWARENESS_STANDARD = 0,
    TOWER_AWARENESS_IGNORE_HACKERS = 1,
    TOWER_AWARENESS_IGNORE_TOWERS = 2,
};

class ZKRCheckpointTemplate : public TriggerTemplate {
public:
    ZKRCheckpointTemplate();
    ZKR_GAME_CLASS_BOILERPLATE()
    const char* GetClassName() const override { return "ZKRCheckpointTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRCheckpointEntity"; }
};

class ZKRCheckpointEntity : public TriggerEntity {
public:
    ZKRCheckpointEntity() = default;
    ZKR_GAME_CLASS_BOILERPLATE()

    // "Standard", "IgnoreHackers" or "IgnoreTowers"; a stored value outside them reads
    // "Standard".
    const char* GetTowerAwarenessType() const;

    uint32_t towerAwarenessType = TOWER_AWARENESS_STANDARD;  // "TowerAwarenessType"
};

// ---- Damage surfaces ----

class ZKRDamageSurfaceTemplate : public TriggerTemplate {
public:
    ZKRDamageSurfaceTemplate();
    ~ZKRDamageSurfaceTemplate() override;
    ZKR_GAME_CLASS_BOILERPLATE()
    const char* GetClassName() const override { return "ZKRDamageSurfaceTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRDamageSurfaceEntity"; }
    // Preloads the template EffectTemplate names, when it names one.
    void PreloadReferencedResources() override;

    float damagePerSec = 5.0f;       // "DamagePerSec"
    char* damageType = nullptr;      // "DamageType" ("Normal")
    char* effectTemplate = nullptr;  // "EffectTemplate"
};

// The entity's own damage values override the template's: a DamagePerSec of 0.0 or more
// and a set DamageType.
class ZKRDamageSurfaceEntity : public TriggerEntity {
public:
    ZKRDamageSurfaceEntity() = default;
    ~ZKRDamageSurfaceEntity() override;
    ZKR_GAME_CLASS_BOILERPLATE()

    float GetDamagePerSec() const;
    void SetDamagePerSec(float value) { damagePerSec = value; }
    const char* GetDamageType() const;
    // Keeps a copy of any text, the empty one too; only null gives the template's type
    // back. (A loaded empty text reads as unset.)
    void SetDamageType(const char* text);
    const char* GetEffectTemplate() const;
    bool GetStartAtInit() const { return startAtInit; }

    float damagePerSec = -1.0f;   // "DamagePerSec": below 0 uses the template's
    char* damageType = nullptr;   // "DamageType": unset uses the template's
    bool startAtInit = false;     // "StartAtInit"
};
