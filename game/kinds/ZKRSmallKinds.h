#pragma once
// Four small game kinds without behaviour of their own: the usable object (names the
// sequence its use runs), the ambient sound (names a sound entry; its template preloads
// the entry's sounds), the tower (the compound of a tower, on the RTTI-only game entity
// base) and the helicopter path flag (speed, waiting time and pitch of a helicopter flying
// along the flag graph).
//
// Threads: templates load and preload on the ResourceManager thread; everything else on
// the main thread.
#include <cstdint>

#include "core/text/NameString.h"
#include "game/kinds/GameKindSupport.h"
#include "scene/entities/CompoundEntity.h"
#include "scene/entities/FlagEntity.h"

class ZKRUsableTemplate : public CompoundTemplate {
public:
    ZKRUsableTemplate();
    ZKR_GAME_CLASS_BOILERPLATE()
    const char* GetClassName() const override { return "ZKRUsableTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRUsableEntity"; }
};

class ZKRUsableEntity : public CompoundEntity {
public:
    ZKRUsableEntity() = default;
    ~ZKRUsableEntity() override;
    ZKR_GAME_CLASS_BOILERPLATE()

    bool IsActiveAtStart() const { return activeAtStart; }
    const char* GetOnUseSeqName() const { return onUseSeqName; }

    bool activeAtStart = true;     // "ActiveAtStart"
    char* onUseSeqName = nullptr;  // "OnUseSeqName"
};

class ZKRAmbientSoundTemplate : public CompoundTemplate {
public:
    ZKRAmbientSoundTemplate();
    ZKR_GAME_CLASS_BOILERPLATE()
    const char* GetClassName() const override { return "ZKRAmbientSoundTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRAmbientSoundEntity"; }
    // The elements' templates, then the sound entry's sounds (loaded, not played).
    void PreloadReferencedResources() override;

    NameString soundEntryName;               // "SoundEntryName"
    bool activeDuringGameplayPause = false;  // "ActiveDuringGameplayPause"
    bool keepVolumeDuringSpeech = false;     // "KeepVolumeDuringSpeech"
};

class ZKRAmbientSoundEntity : public CompoundEntity {
public:
    ZKRAmbientSoundEntity() = default;
    ZKR_GAME_CLASS_BOILERPLATE()

    bool IsActiveAtStart() const { return activeAtStart; }
    // From the template (empty, false and true without one).
    const char* GetSoundEntryName() const;
    bool IsActiveDuringGameplayPause() const;
    bool ShouldDropVolumeDuringSpeech() const;

    bool activeAtStart = true;  // "ActiveAtStart"
};

class ZKRTowerTemplate : public CompoundTemplate {
public:
    ZKRTowerTemplate();
    ZKR_GAME_CLASS_BOILERPLATE()
    const char* GetClassName() const override { return "ZKRTowerTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRTowerEntity"; }
};

// The RTTI base of the tower entity: no properties, no template of its own. Its
// registration and the tower entity's check one flag, so it is registered once whichever
// runs first.
class ZKRGameEntity : public CompoundEntity {
public:
    ZKRGameEntity() = default;
    ZKR_GAME_CLASS_BOILERPLATE()
};

class ZKRTowerEntity : public ZKRGameEntity {
public:
    ZKRTowerEntity() = default;
    ZKR_GAME_CLASS_BOILERPLATE()
};

class ZKRHelicopterPathFlagTemplate : public FlagTemplate {
public:
    ZKRHelicopterPathFlagTemplate();
    ZKR_GAME_CLASS_BOILERPLATE()
    const char* GetClassName() const override { return "ZKRHelicopterPathFlagTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRHelicopterPathFlagEntity"; }
};

class ZKRHelicopterPathFlagEntity : public FlagEntity {
public:
    ZKRHelicopterPathFlagEntity() = default;
    ZKR_GAME_CLASS_BOILERPLATE()

    float GetSpeed() const { return speed; }
    float GetWaitTime() const { return waitTime; }
    float GetPitch() const { return pitch; }
    bool IsPathOrientationIgnored() const { return ignorePathOrientation; }

    float speed = 40.0f;                 // "Speed"
    float waitTime = 0.0f;               // "WaitTime"
    float pitch = 0.0f;                  // "Pitch"
    bool ignorePathOrientation = false;  // "IgnorePathOrientation"
};
