// Markers: the player, versus player, tower, pickup and obstacle marker templates and
// entities, their properties in declaration order (the order is the file format) and the
// marker template load.
#include "game/kinds/ZKRMarkers.h"

#include <cstring>

#include "core/rtti/DirectProperty.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "game/kinds/GameKindSupport.h"
#include "game/kinds/GameTypes.h"

namespace {

RTTIClass* gPlayerMarkerTemplateClass = nullptr;
RTTIClass* gPlayerMarkerEntityClass = nullptr;
RTTIClass* gVersusPlayerMarkerTemplateClass = nullptr;
RTTIClass* gVersusPlayerMarkerEntityClass = nullptr;
RTTIClass* gTowerMarkerTemplateClass = nullptr;
RTTIClass* gTowerMarkerEntityClass = nullptr;
RTTIClass* gPickupMarkerTemplateClass = nullptr;
RTTIClass* gPickupMarkerEntityClass = nullptr;
RTTIClass* gObstacleMarkerTemplateClass = nullptr;
RTTIClass* gObstacleMarkerEntityClass = nullptr;

const char kEmergenceEffectNames[] = "Default\0Sand\0Concrete\0Water\0";

// The compound load, then the named template taken (which loads it and marks it used)
// and given back at once. An unset or empty name looks nothing up. The name is the
// template's member, read after the load has filled it.
bool LoadMarkerTemplate(CompoundTemplate* marker, char* const& referencedName) {
    const bool loaded = marker->CompoundTemplate::LoadResource();
    if (!loaded) return loaded;
    if (referencedName && referencedName[0]) {
        if (EntityTemplate* t = gEntityTemplateRegistry.AcquireTemplateByName(referencedName, 0)) t->Release();
    }
    return loaded;
}

template <class T>
const T* TemplateAs(const Entity* e) {
    return dynamic_cast<const T*>(e->GetTemplate());
}

void AddVisibilityGroup(RTTIClass* c, size_t casual, size_t advanced, size_t hardcore) {
    c->AddProperty(new RTTIPropertyGroup("Difficulty level"));
    AddDirect<bool>(c, "VisibleInCasual", casual);
    AddDirect<bool>(c, "VisibleInAdvanced", advanced);
    AddDirect<bool>(c, "VisibleInHardcore", hardcore);
}

}  // namespace

// ---------------------------------------------------------------------------------
// Shared helpers of the kinds

const char* EnumerationName(const char* names, uint32_t value) {
    const char* p = names;
    for (uint32_t i = 0; i < value; ++i) {
        p += std::strlen(p) + 1;
        if (!*p) return names;
    }
    return p;
}

const char* ReferencedTemplateName(const char* name, bool bareName) {
    if (!name || !bareName) return name;
    if (const char* slash = std::strrchr(name, '/')) name = slash + 1;
    if (const char* backslash = std::strrchr(name, '\\')) name = backslash + 1;
    return name;
}

// ---------------------------------------------------------------------------------
// Player markers

ZKRPlayerMarkerTemplate::ZKRPlayerMarkerTemplate() { typeId = ENTITY_ZKR_PLAYERMARKER; }

ZKRPlayerMarkerTemplate::~ZKRPlayerMarkerTemplate() { RTTIFreeString(heroTemplateName); }

const RTTIClass* ZKRPlayerMarkerTemplate::RegisterRTTIClass(const char* name) {
    if (gPlayerMarkerTemplateClass) return gPlayerMarkerTemplateClass;
    CompoundTemplate::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gPlayerMarkerTemplateClass, name ? name : "ZKRPlayerMarkerTemplate",
                                         "CompoundTemplate", &CreateGameObject<ZKRPlayerMarkerTemplate>);
    AddDirect<char*>(c, "HeroTemplateName", RTTI_OFFSETOF(ZKRPlayerMarkerTemplate, heroTemplateName));
    AddDirect<uint32_t>(c, "TeamIndex", RTTI_OFFSETOF(ZKRPlayerMarkerTemplate, teamIndex));
    return c;
}

const RTTIClass* ZKRPlayerMarkerTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKRPlayerMarkerTemplate::CreateEntity() { return NewGameEntity<ZKRPlayerMarkerEntity>(); }
bool ZKRPlayerMarkerTemplate::LoadResource() { return LoadMarkerTemplate(this, heroTemplateName); }

const RTTIClass* ZKRPlayerMarkerEntity::RegisterRTTIClass(const char* name) {
    if (gPlayerMarkerEntityClass) return gPlayerMarkerEntityClass;
    CompoundEntity::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gPlayerMarkerEntityClass, name ? name : "ZKRPlayerMarkerEntity", "CompoundEntity");
    AddDirect<uint32_t>(c, "PlayerIndex", RTTI_OFFSETOF(ZKRPlayerMarkerEntity, playerIndex));
    AddDirect<bool>(c, "ActivateAtStart", RTTI_OFFSETOF(ZKRPlayerMarkerEntity, activateAtStart));
    return c;
}

const RTTIClass* ZKRPlayerMarkerEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

const char* ZKRPlayerMarkerEntity::GetPlayerControllerTemplateName(bool bareName) const {
    const auto* t = TemplateAs<ZKRPlayerMarkerTemplate>(this);
    return t ? ReferencedTemplateName(t->heroTemplateName, bareName) : nullptr;
}

uint32_t ZKRPlayerMarkerEntity::GetTeamIndex() const {
    const auto* t = TemplateAs<ZKRPlayerMarkerTemplate>(this);
    return t ? t->teamIndex : 1;
}

ZKRVersusPlayerMarkerTemplate::ZKRVersusPlayerMarkerTemplate() { typeId = ENTITY_ZKR_VERSUSPLAYERMARKER; }

const RTTIClass* ZKRVersusPlayerMarkerTemplate::RegisterRTTIClass(const char* name) {
    if (gVersusPlayerMarkerTemplateClass) return gVersusPlayerMarkerTemplateClass;
    ZKRPlayerMarkerTemplate::RegisterRTTIClass();
    return CreateRegisteredClass(gVersusPlayerMarkerTemplateClass, name ? name : "ZKRVersusPlayerMarkerTemplate",
                                 "ZKRPlayerMarkerTemplate", &CreateGameObject<ZKRVersusPlayerMarkerTemplate>);
}

const RTTIClass* ZKRVersusPlayerMarkerTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKRVersusPlayerMarkerTemplate::CreateEntity() { return NewGameEntity<ZKRVersusPlayerMarkerEntity>(); }

ZKRVersusPlayerMarkerEntity::~ZKRVersusPlayerMarkerEntity() { RTTIFreeString(localizedName); }

const RTTIClass* ZKRVersusPlayerMarkerEntity::RegisterRTTIClass(const char* name) {
    if (gVersusPlayerMarkerEntityClass) return gVersusPlayerMarkerEntityClass;
    ZKRPlayerMarkerEntity::RegisterRTTIClass();
    RTTIClass* c = CreateRegisteredClass(gVersusPlayerMarkerEntityClass, name ? name : "ZKRVersusPlayerMarkerEntity",
                                         "ZKRPlayerMarkerEntity");
    using E = ZKRVersusPlayerMarkerEntity;
    AddDirect<char*>(c, "LocalizedName", RTTI_OFFSETOF(E, localizedName));
    AddDirect<float>(c, "SquadSkill", RTTI_OFFSETOF(E, squadSkill));
    AddDirect<float>(c, "TowersSkill", RTTI_OFFSETOF(E, towersSkill));
    AddDirect<float>(c, "RankedSquadSkill", RTTI_OFFSETOF(E, rankedSquadSkill));
    AddDirect<float>(c, "RankedTowersSkill", RTTI_OFFSETOF(E, rankedTowersSkill));
    AddDirect<int32_t>(c, "Grade", RTTI_OFFSETOF(E, grade));
    return c;
}

const RTTIClass* ZKRVersusPlayerMarkerEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

// ---------------------------------------------------------------------------------
// Tower markers

ZKRTowerMarkerTemplate::ZKRTowerMarkerTemplate() { typeId = ENTITY_ZKR_TOWERMARKER; }

ZKRTowerMarkerTemplate::~ZKRTowerMarkerTemplate() { RTTIFreeString(towerTemplateName); }

const RTTIClass* ZKRTowerMarkerTemplate::RegisterRTTIClass(const char* name) {
    if (gTowerMarkerTemplateClass) return gTowerMarkerTemplateClass;
    CompoundTemplate::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gTowerMarkerTemplateClass, name ? name : "ZKRTowerMarkerTemplate",
                                         "CompoundTemplate", &CreateGameObject<ZKRTowerMarkerTemplate>);
    AddDirect<char*>(c, "TowerTemplateName", RTTI_OFFSETOF(ZKRTowerMarkerTemplate, towerTemplateName));
    return c;
}

const RTTIClass* ZKRTowerMarkerTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKRTowerMarkerTemplate::CreateEntity() { return NewGameEntity<ZKRTowerMarkerEntity>(); }
bool ZKRTowerMarkerTemplate::LoadResource() { return LoadMarkerTemplate(this, towerTemplateName); }

const RTTIClass* ZKRTowerMarkerEntity::RegisterRTTIClass(const char* name) {
    if (gTowerMarkerEntityClass) return gTowerMarkerEntityClass;
    CompoundEntity::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gTowerMarkerEntityClass, name ? name : "ZKRTowerMarkerEntity", "CompoundEntity");
    using E = ZKRTowerMarkerEntity;
    AddDirect<bool>(c, "Active", RTTI_OFFSETOF(E, active));
    AddDirect<float>(c, "InitialSpawnDelay", RTTI_OFFSETOF(E, initialSpawnDelay));
    AddDirect<float>(c, "RespawnTimeOverride", RTTI_OFFSETOF(E, respawnTimeOverride));
    AddDirect<bool>(c, "NeededForVictory", RTTI_OFFSETOF(E, neededForVictory));
    AddDirect<bool>(c, "HeroTargeted", RTTI_OFFSETOF(E, heroTargeted));
    AddDirect<bool>(c, "Respawnable", RTTI_OFFSETOF(E, respawnable));
    AddDirect<NameString>(c, "Preset", RTTI_OFFSETOF(E, preset));
    AddDirect<uint32_t>(c, "EmergenceEffectType", RTTI_OFFSETOF(E, emergenceEffectType), kPropertyFlagEnum,
                        kEmergenceEffectNames);
    AddVisibilityGroup(c, RTTI_OFFSETOF(E, visibleInCasual), RTTI_OFFSETOF(E, visibleInAdvanced),
                       RTTI_OFFSETOF(E, visibleInHardcore));
    return c;
}

const RTTIClass* ZKRTowerMarkerEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

const char* ZKRTowerMarkerEntity::GetEmergenceEffectType() const {
    return EnumerationName(kEmergenceEffectNames, emergenceEffectType);
}

const char* ZKRTowerMarkerEntity::GetTowerTemplateName(bool bareName) const {
    const auto* t = TemplateAs<ZKRTowerMarkerTemplate>(this);
    return t ? ReferencedTemplateName(t->towerTemplateName, bareName) : nullptr;
}

// ---------------------------------------------------------------------------------
// Pickup markers (no load of their own: the ability name names no template)

ZKRPickupMarkerTemplate::ZKRPickupMarkerTemplate() { typeId = ENTITY_ZKR_PICKUPMARKER; }

ZKRPickupMarkerTemplate::~ZKRPickupMarkerTemplate() { RTTIFreeString(abilityName); }

const RTTIClass* ZKRPickupMarkerTemplate::RegisterRTTIClass(const char* name) {
    if (gPickupMarkerTemplateClass) return gPickupMarkerTemplateClass;
    CompoundTemplate::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gPickupMarkerTemplateClass, name ? name : "ZKRPickupMarkerTemplate",
                                         "CompoundTemplate", &CreateGameObject<ZKRPickupMarkerTemplate>);
    AddDirect<char*>(c, "AbilityName", RTTI_OFFSETOF(ZKRPickupMarkerTemplate, abilityName));
    return c;
}

const RTTIClass* ZKRPickupMarkerTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKRPickupMarkerTemplate::CreateEntity() { return NewGameEntity<ZKRPickupMarkerEntity>(); }

const RTTIClass* ZKRPickupMarkerEntity::RegisterRTTIClass(const char* name) {
    if (gPickupMarkerEntityClass) return gPickupMarkerEntityClass;
    CompoundEntity::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gPickupMarkerEntityClass, name ? name : "ZKRPickupMarkerEntity", "CompoundEntity");
    using E = ZKRPickupMarkerEntity;
    AddDirect<bool>(c, "Active", RTTI_OFFSETOF(E, active));
    AddDirect<float>(c, "InitialSpawnDelay", RTTI_OFFSETOF(E, initialSpawnDelay));
    AddDirect<float>(c, "RespawnTime", RTTI_OFFSETOF(E, respawnTime));
    AddVisibilityGroup(c, RTTI_OFFSETOF(E, visibleInCasual), RTTI_OFFSETOF(E, visibleInAdvanced),
                       RTTI_OFFSETOF(E, visibleInHardcore));
    return c;
}

const RTTIClass* ZKRPickupMarkerEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

const char* ZKRPickupMarkerEntity::GetAbilityName() const {
    const auto* t = TemplateAs<ZKRPickupMarkerTemplate>(this);
    return t ? t->abilityName : nullptr;
}

// ---------------------------------------------------------------------------------
// Obstacle markers

ZKRObstacleMarkerTemplate::ZKRObstacleMarkerTemplate() { typeId = ENTITY_ZKR_OBSTACLEMARKER; }

ZKRObstacleMarkerTemplate::~ZKRObstacleMarkerTemplate() { RTTIFreeString(obstacleTemplateName); }

const RTTIClass* ZKRObstacleMarkerTemplate::RegisterRTTIClass(const char* name) {
    if (gObstacleMarkerTemplateClass) return gObstacleMarkerTemplateClass;
    CompoundTemplate::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gObstacleMarkerTemplateClass, name ? name : "ZKRObstacleMarkerTemplate",
                                         "CompoundTemplate", &CreateGameObject<ZKRObstacleMarkerTemplate>);
    AddDirect<char*>(c, "ObstacleTemplateName", RTTI_OFFSETOF(ZKRObstacleMarkerTemplate, obstacleTemplateName));
    return c;
}

const RTTIClass* ZKRObstacleMarkerTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKRObstacleMarkerTemplate::CreateEntity() { return NewGameEntity<ZKRObstacleMarkerEntity>(); }
bool ZKRObstacleMarkerTemplate::LoadResource() { return LoadMarkerTemplate(this, obstacleTemplateName); }

const RTTIClass* ZKRObstacleMarkerEntity::RegisterRTTIClass(const char* name) {
    if (gObstacleMarkerEntityClass) return gObstacleMarkerEntityClass;
    CompoundEntity::RegisterClass();
    RTTIClass* c =
        CreateRegisteredClass(gObstacleMarkerEntityClass, name ? name : "ZKRObstacleMarkerEntity", "CompoundEntity");
    AddDirect<float>(c, "ObstacleHP", RTTI_OFFSETOF(ZKRObstacleMarkerEntity, obstacleHP));
    return c;
}

const RTTIClass* ZKRObstacleMarkerEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

const char* ZKRObstacleMarkerEntity::GetObstacleTemplateName(bool bareName) const {
    const auto* t = TemplateAs<ZKRObstacleMarkerTemplate>(this);
    return t ? ReferencedTemplateName(t->obstacleTemplateName, bareName) : nullptr;
}
