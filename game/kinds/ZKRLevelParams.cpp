// The level parameters: the 24 properties in their declaration order (the file format).
#include "game/kinds/ZKRLevelParams.h"

#include "core/rtti/DirectProperty.h"
#include "game/kinds/GameTypes.h"

namespace {

RTTIClass* gLevelParamsTemplateClass = nullptr;
RTTIClass* gLevelParamsEntityClass = nullptr;

}  // namespace

ZKRLevelParamsTemplate::ZKRLevelParamsTemplate() { typeId = ENTITY_ZKR_LEVELPARAMS; }

const RTTIClass* ZKRLevelParamsTemplate::RegisterRTTIClass(const char* name) {
    if (gLevelParamsTemplateClass) return gLevelParamsTemplateClass;
    EntityTemplate::RegisterClass();
    return CreateRegisteredClass(gLevelParamsTemplateClass, name ? name : "ZKRLevelParamsTemplate", "EntityTemplate",
                                 &CreateGameObject<ZKRLevelParamsTemplate>);
}

const RTTIClass* ZKRLevelParamsTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKRLevelParamsTemplate::CreateEntity() { return NewGameEntity<ZKRLevelParamsEntity>(); }

const RTTIClass* ZKRLevelParamsEntity::RegisterRTTIClass(const char* name) {
    if (gLevelParamsEntityClass) return gLevelParamsEntityClass;
    Entity::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gLevelParamsEntityClass, name ? name : "ZKRLevelParamsEntity", "Entity");
    using E = ZKRLevelParamsEntity;
    AddDirect<uint32_t>(c, "Count_Resources", RTTI_OFFSETOF(E, countResources));
    AddDirect<uint32_t>(c, "Count_Repair", RTTI_OFFSETOF(E, countRepair));
    AddDirect<uint32_t>(c, "Count_Decoy", RTTI_OFFSETOF(E, countDecoy));
    AddDirect<uint32_t>(c, "Count_Smoke", RTTI_OFFSETOF(E, countSmoke));
    AddDirect<uint32_t>(c, "Count_Cloak", RTTI_OFFSETOF(E, countCloak));
    AddDirect<uint32_t>(c, "Count_Boost", RTTI_OFFSETOF(E, countBoost));
    AddDirect<uint32_t>(c, "Count_Airstrike", RTTI_OFFSETOF(E, countAirstrike));
    AddDirect<uint32_t>(c, "Count_EMP", RTTI_OFFSETOF(E, countEMP));
    AddDirect<uint32_t>(c, "Count_Slowdown", RTTI_OFFSETOF(E, countSlowdown));
    AddDirect<bool>(c, "isAvailable_APC", RTTI_OFFSETOF(E, availableAPC));
    AddDirect<bool>(c, "isAvailable_Tank", RTTI_OFFSETOF(E, availableTank));
    AddDirect<bool>(c, "isAvailable_Crawler", RTTI_OFFSETOF(E, availableCrawler));
    AddDirect<bool>(c, "isAvailable_Shielder", RTTI_OFFSETOF(E, availableShielder));
    AddDirect<float>(c, "TimeLimit", RTTI_OFFSETOF(E, timeLimit));
    AddDirect<bool>(c, "isEndless", RTTI_OFFSETOF(E, endless));
    AddDirect<bool>(c, "isUnitsSetBeforeStart", RTTI_OFFSETOF(E, unitsSetBeforeStart));
    AddDirect<NameString>(c, "UnitsQue", RTTI_OFFSETOF(E, unitsQueue));
    AddDirect<bool>(c, "BlockSell", RTTI_OFFSETOF(E, blockSell));
    AddDirect<bool>(c, "DebugUnitsAttack", RTTI_OFFSETOF(E, debugUnitsAttack));
    AddDirect<bool>(c, "DebugTowersAttack", RTTI_OFFSETOF(E, debugTowersAttack));
    AddDirect<NameString>(c, "Sound track", RTTI_OFFSETOF(E, soundTrack));
    AddDirect<bool>(c, "isAvailable_Supply", RTTI_OFFSETOF(E, availableSupply));
    AddDirect<bool>(c, "isAvailable_Flamer", RTTI_OFFSETOF(E, availableFlamer));
    AddDirect<bool>(c, "ETAMarkersVisible", RTTI_OFFSETOF(E, etaMarkersVisible));
    return c;
}

const RTTIClass* ZKRLevelParamsEntity::GetRTTIClass() const { return RegisterRTTIClass(); }
