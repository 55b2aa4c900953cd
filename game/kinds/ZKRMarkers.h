#pragma once
// Markers: compound objects a level places to say where the game puts a player, a tower,
// a pickup or an obstacle. The marker carries settings that the game scripts read; the
// templates of player, tower and obstacle markers name the template of the object they
// stand for, and loading such a marker template makes sure that template is known and
// marked in use (the reference taken for the look-up is given back at once).
//
// Threads: templates load on the ResourceManager thread (LoadResource); everything else
// on the main thread.
#include <cstdint>

#include "core/text/NameString.h"
#include "scene/entities/CompoundEntity.h"

// ---- Player markers ----

class ZKRPlayerMarkerTemplate : public CompoundTemplate {
public:
    ZKRPlayerMarkerTemplate();
    ~ZKRPlayerMarkerTemplate() override;
    static const RTTIClass* RegisterRTTIClass(const char* name = nullptr);
    static const RTTIClass* RegisterClass() { return RegisterRTTIClass(); }
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "ZKRPlayerMarkerTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRPlayerMarkerEntity"; }
    bool LoadResource() override;

    char* heroTemplateName = nullptr;  // "HeroTemplateName"
    uint32_t teamIndex = 1;            // "TeamIndex"
};

class ZKRPlayerMarkerEntity : public CompoundEntity {
public:
    ZKRPlayerMarkerEntity() = default;
    static const RTTIClass* RegisterRTTIClass(const char* name = nullptr);
    static const RTTIClass* RegisterClass() { return RegisterRTTIClass(); }
    const RTTIClass* GetRTTIClass() const override;

    uint32_t GetPlayerIndex() const { return playerIndex; }
    bool IsActiveAtStart() const { return activateAtStart; }
    // The template's HeroTemplateName (see ReferencedTemplateName); null without one.
    const char* GetPlayerControllerTemplateName(bool bareName = true) const;
    // The template's TeamIndex (1 without a player marker template).
    uint32_t GetTeamIndex() const;

    uint32_t playerIndex = 1;     // "PlayerIndex"
    bool activateAtStart = true;  // "ActivateAtStart"
};

class ZKRVersusPlayerMarkerTemplate : public ZKRPlayerMarkerTemplate {
public:
    ZKRVersusPlayerMarkerTemplate();
    static const RTTIClass* RegisterRTTIClass(const char* name = nullptr);
    static const RTTIClass* RegisterClass() { return RegisterRTTIClass(); }
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "ZKRVersusPlayerMarkerTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRVersusPlayerMarkerEntity"; }
};

class ZKRVersusPlayerMarkerEntity : public ZKRPlayerMarkerEntity {
public:
    ZKRVersusPlayerMarkerEntity() = default;
    ~ZKRVersusPlayerMarkerEntity() override;
    static const RTTIClass* RegisterRTTIClass(const char* name = nullptr);
    static const RTTIClass* RegisterClass() { return RegisterRTTIClass(); }
    const RTTIClass* GetRTTIClass() const override;

    const char* GetLocalizedName() const { return localizedName; }
    float GetSquadSkill() const { return squadSkill; }
    void SetSquadSkill(float v) { squadSkill = v; }
    float GetTowersSkill() const { return towersSkill; }
    void SetTowersSkill(float v) { towersSkill = v; }
    float GetRankedSquadSkill() const { return rankedSquadSkill; }
    void SetRankedSquadSkill(float v) { rankedSquadSkill = v; }
    float GetRankedTowersSkill() const { return rankedTowersSkill; }
    void SetRankedTowersSkill(float v) { rankedTowersSkill = v; }
    int32_t GetGrade() const { return grade; }
    void SetGrade(int32_t v) { grade = v; }

    char* localizedName = nullptr;     // "LocalizedName"
    float squadSkill = 1200.0f;        // "SquadSkill"
    float towersSkill = 1200.0f;       // "TowersSkill"
    float rankedSquadSkill = 1200.0f;  // "RankedSquadSkill"
    float rankedTowersSkill = 1200.0f; // "RankedTowersSkill"
    int32_t grade = 1;                 // "Grade"
};

// ---- Tower markers ----

enum : uint32_t {
    EMERGENCE_EFFECT_DEFAULT = 0,
    EMERGENCE_EFFECT_SAND = 1,
    EMERGENCE_EFFECT_CONCRETE = 2,
    EMERGENCE_EFFECT_WATER = 3,
};

class ZKRTowerMarkerTemplate : public CompoundTemplate {
public:
    ZKRTowerMarkerTemplate();
    ~ZKRTowerMarkerTemplate() override;
    static const RTTIClass* RegisterRTTIClass(const char* name = nullptr);
    static const RTTIClass* RegisterClass() { return RegisterRTTIClass(); }
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "ZKRTowerMarkerTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRTowerMarkerEntity"; }
    bool LoadResource() override;

    char* towerTemplateName = nullptr;  // "TowerTemplateName"
};

class ZKRTowerMarkerEntity : public CompoundEntity {
public:
    ZKRTowerMarkerEntity() = default;
    static const RTTIClass* RegisterRTTIClass(const char* name = nullptr);
    static const RTTIClass* RegisterClass() { return RegisterRTTIClass(); }
    const RTTIClass* GetRTTIClass() const override;

    bool IsActive() const { return active; }
    bool IsVisibleInCasual() const { return visibleInCasual; }
    bool IsVisibleInAdvanced() const { return visibleInAdvanced; }
    bool IsVisibleInHardcore() const { return visibleInHardcore; }
    bool IsHeroTargeted() const { return heroTargeted; }
    bool IsNeededForVictory() const { return neededForVictory; }
    float GetInitialSpawnDelay() const { return initialSpawnDelay; }
    float GetRespawnTimeOverride() const { return respawnTimeOverride; }
    bool IsRespawnable() const { return respawnable; }
    // "Default", "Sand", "Concrete" or "Water"; a stored value outside them reads "Default".
    const char* GetEmergenceEffectType() const;
    const char* GetTowerTemplateName(bool bareName = true) const;

    bool active = true;                                  // "Active"
    float initialSpawnDelay = 0.0f;                      // "InitialSpawnDelay"
    float respawnTimeOverride = 0.0f;                    // "RespawnTimeOverride"
    bool neededForVictory = false;                       // "NeededForVictory"
    bool heroTargeted = true;                            // "HeroTargeted"
    bool respawnable = true;                             // "Respawnable"
    NameString preset;                                   // "Preset"
    uint32_t emergenceEffectType = EMERGENCE_EFFECT_DEFAULT;  // "EmergenceEffectType"
    bool visibleInCasual = true;                         // "VisibleInCasual"
    bool visibleInAdvanced = true;                       // "VisibleInAdvanced"
    bool visibleInHardcore = true;                       // "VisibleInHardcore"
};

// ---- Pickup markers ----

class ZKRPickupMarkerTemplate : public CompoundTemplate {
public:
    ZKRPickupMarkerTemplate();
    ~ZKRPickupMarkerTemplate() override;
    static const RTTIClass* RegisterRTTIClass(const char* name = nullptr);
    static const RTTIClass* RegisterClass() { return RegisterRTTIClass(); }
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "ZKRPickupMarkerTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRPickupMarkerEntity"; }

    char* abilityName = nullptr;  // "AbilityName": an ability, not a template
};

class ZKRPickupMarkerEntity : public CompoundEntity {
public:
    ZKRPickupMarkerEntity() = default;
    static const RTTIClass* RegisterRTTIClass(const char* name = nullptr);
    static const RTTIClass* RegisterClass() { return RegisterRTTIClass(); }
    const RTTIClass* GetRTTIClass() const override;

    bool IsActive() const { return active; }
    bool IsVisibleInCasual() const { return visibleInCasual; }
    bool IsVisibleInAdvanced() const { return visibleInAdvanced; }
    bool IsVisibleInHardcore() const { return visibleInHardcore; }
    float GetInitialSpawnDelay() const { return initialSpawnDelay; }
    float GetRespawnTime() const { return respawnTime; }
    // The template's AbilityName; null without one.
    const char* GetAbilityName() const;

    bool active = true;              // "Active"
    float initialSpawnDelay = 0.0f;  // "InitialSpawnDelay"
    float respawnTime = 0.0f;        // "RespawnTime"
    bool visibleInCasual = true;     // "VisibleInCasual"
    bool visibleInAdvanced = true;   // "VisibleInAdvanced"
    bool visibleInHardcore = true;   // "VisibleInHardcore"
};

// ---- Obstacle markers ----

class ZKRObstacleMarkerTemplate : public CompoundTemplate {
public:
    ZKRObstacleMarkerTemplate();
    ~ZKRObstacleMarkerTemplate() override;
    static const RTTIClass* RegisterRTTIClass(const char* name = nullptr);
    static const RTTIClass* RegisterClass() { return RegisterRTTIClass(); }
    const RTTIClass* GetRTTIClass() const override;
    const char* GetClassName() const override { return "ZKRObstacleMarkerTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKRObstacleMarkerEntity"; }
    bool LoadResource() override;

    char* obstacleTemplateName = nullptr;  // "ObstacleTemplateName"
};

class ZKRObstacleMarkerEntity : public CompoundEntity {
public:
    ZKRObstacleMarkerEntity() = default;
    static const RTTIClass* RegisterRTTIClass(const char* name = nullptr);
    static const RTTIClass* RegisterClass() { return RegisterRTTIClass(); }
    const RTTIClass* GetRTTIClass() const override;

    float GetObstacleHP() const { return obstacleHP; }
    const char* GetObstacleTemplateName(bool bareName = true) const;

    float obstacleHP = 10.0f;  // "ObstacleHP"
};
