// The usable, ambient sound, tower and helicopter path flag kinds.
#include "game/kinds/ZKRSmallKinds.h"

#include "core/rtti/DirectProperty.h"
#include "game/kinds/GameTypes.h"
#include "sound/SoundEntries.h"

namespace {

RTTIClass* gUsableTemplateClass = nullptr;
RTTIClass* gUsableEntityClass = nullptr;
RTTIClass* gAmbientTemplateClass = nullptr;
RTTIClass* gAmbientEntityClass = nullptr;
RTTIClass* gTowerTemplateClass = nullptr;
RTTIClass* gGameEntityClass = nullptr;
RTTIClass* gTowerEntityClass = nullptr;
RTTIClass* gHeliFlagTemplateClass = nullptr;
RTTIClass* gHeliFlagEntityClass = nullptr;

const ZKRAmbientSoundTemplate* AmbientTemplateOf(const Entity* e) {
    return dynamic_cast<const ZKRAmbientSoundTemplate*>(e->GetTemplate());
}

}  // namespace

// ---------------------------------------------------------------------------------
// Usable objects

ZKRUsableTemplate::ZKRUsableTemplate() { typeId = ENTITY_ZKR_USABLE; }

const RTTIClass* ZKRUsableTemplate::RegisterRTTIClass(const char* name) {
    if (gUsableTemplateClass) return gUsableTemplateClass;
    CompoundTemplate::RegisterClass();
    return CreateRegisteredClass(gUsableTemplateClass, name ? name : "ZKRUsableTemplate", "CompoundTemplate",
                                 &CreateGameObject<ZKRUsableTemplate>);
}

const RTTIClass* ZKRUsableTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKRUsableTemplate::CreateEntity() { return NewGameEntity<ZKRUsableEntity>(); }

ZKRUsableEntity::~ZKRUsableEntity() { RTTIFreeString(onUseSeqName); }

const RTTIClass* ZKRUsableEntity::RegisterRTTIClass(const char* name) {
    if (gUsableEntityClass) return gUsableEntityClass;
    CompoundEntity::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gUsableEntityClass, name ? name : "ZKRUsableEntity", "CompoundEntity");
    AddDirect<bool>(c, "ActiveAtStart", RTTI_OFFSETOF(ZKRUsableEntity, activeAtStart));
    AddDirect<char*>(c, "OnUseSeqName", RTTI_OFFSETOF(ZKRUsableEntity, onUseSeqName));
    return c;
}

const RTTIClass* ZKRUsableEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

// ---------------------------------------------------------------------------------
// Ambient sounds

ZKRAmbientSoundTemplate::ZKRAmbientSoundTemplate() { typeId = ENTITY_ZKR_AMBIENTSOUND; }

const RTTIClass* ZKRAmbientSoundTemplate::RegisterRTTIClass(const char* name) {
    if (gAmbientTemplateClass) return gAmbientTemplateClass;
    CompoundTemplate::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gAmbientTemplateClass, name ? name : "ZKRAmbientSoundTemplate",
                                         "CompoundTemplate", &CreateGameObject<ZKRAmbientSoundTemplate>);
    using T = ZKRAmbientSoundTemplate;
    AddDirect<NameString>(c, "SoundEntryName", RTTI_OFFSETOF(T, soundEntryName));
    AddDirect<bool>(c, "ActiveDuringGameplayPause", RTTI_OFFSETOF(T, activeDuringGameplayPause));
    AddDirect<bool>(c, "KeepVolumeDuringSpeech", RTTI_OFFSETOF(T, keepVolumeDuringSpeech));
    return c;
}

const RTTIClass* ZKRAmbientSoundTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKRAmbientSoundTemplate::CreateEntity() { return NewGameEntity<ZKRAmbientSoundEntity>(); }

void ZKRAmbientSoundTemplate::PreloadReferencedResources() {
    PropagateToElementTemplates();
    if (!soundEntryName.IsEmpty()) SoundEntriesContainer::PreloadSoundEntry(gSoundEntriesContainer, soundEntryName.CStr());
}

const RTTIClass* ZKRAmbientSoundEntity::RegisterRTTIClass(const char* name) {
    if (gAmbientEntityClass) return gAmbientEntityClass;
    CompoundEntity::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gAmbientEntityClass, name ? name : "ZKRAmbientSoundEntity", "CompoundEntity");
    AddDirect<bool>(c, "ActiveAtStart", RTTI_OFFSETOF(ZKRAmbientSoundEntity, activeAtStart));
    return c;
}

const RTTIClass* ZKRAmbientSoundEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

const char* ZKRAmbientSoundEntity::GetSoundEntryName() const {
    const ZKRAmbientSoundTemplate* t = AmbientTemplateOf(this);
    return t ? t->soundEntryName.CStr() : "";
}

bool ZKRAmbientSoundEntity::IsActiveDuringGameplayPause() const {
    const ZKRAmbientSoundTemplate* t = AmbientTemplateOf(this);
    return t && t->activeDuringGameplayPause;
}

bool ZKRAmbientSoundEntity::ShouldDropVolumeDuringSpeech() const {
    const ZKRAmbientSoundTemplate* t = AmbientTemplateOf(this);
    return !t || !t->keepVolumeDuringSpeech;
}

// ---------------------------------------------------------------------------------
// Towers

ZKRTowerTemplate::ZKRTowerTemplate() { typeId = ENTITY_ZKR_TOWER; }

const RTTIClass* ZKRTowerTemplate::RegisterRTTIClass(const char* name) {
    if (gTowerTemplateClass) return gTowerTemplateClass;
    CompoundTemplate::RegisterClass();
    return CreateRegisteredClass(gTowerTemplateClass, name ? name : "ZKRTowerTemplate", "CompoundTemplate",
                                 &CreateGameObject<ZKRTowerTemplate>);
}

const RTTIClass* ZKRTowerTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKRTowerTemplate::CreateEntity() { return NewGameEntity<ZKRTowerEntity>(); }

const RTTIClass* ZKRGameEntity::RegisterRTTIClass(const char* name) {
    if (gGameEntityClass) return gGameEntityClass;
    CompoundEntity::RegisterClass();
    return CreateRegisteredClass(gGameEntityClass, name ? name : "ZKRGameEntity", "CompoundEntity");
}

const RTTIClass* ZKRGameEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

const RTTIClass* ZKRTowerEntity::RegisterRTTIClass(const char* name) {
    if (gTowerEntityClass) return gTowerEntityClass;
    ZKRGameEntity::RegisterRTTIClass();
    return CreateRegisteredClass(gTowerEntityClass, name ? name : "ZKRTowerEntity", "ZKRGameEntity");
}

const RTTIClass* ZKRTowerEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

// ---------------------------------------------------------------------------------
// Helicopter path flags

ZKRHelicopterPathFlagTemplate::ZKRHelicopterPathFlagTemplate() { typeId = ENTITY_ZKR_HELIPATHFLAG; }

const RTTIClass* ZKRHelicopterPathFlagTemplate::RegisterRTTIClass(const char* name) {
    if (gHeliFlagTemplateClass) return gHeliFlagTemplateClass;
    FlagTemplate::RegisterClass();
    return CreateRegisteredClass(gHeliFlagTemplateClass, name ? name : "ZKRHelicopterPathFlagTemplate",
                                 "FlagTemplate", &CreateGameObject<ZKRHelicopterPathFlagTemplate>);
}

const RTTIClass* ZKRHelicopterPathFlagTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKRHelicopterPathFlagTemplate::CreateEntity() { return NewGameEntity<ZKRHelicopterPathFlagEntity>(); }

const RTTIClass* ZKRHelicopterPathFlagEntity::RegisterRTTIClass(const char* name) {
    if (gHeliFlagEntityClass) return gHeliFlagEntityClass;
    FlagEntity::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gHeliFlagEntityClass, name ? name : "ZKRHelicopterPathFlagEntity", "FlagEntity");
    using E = ZKRHelicopterPathFlagEntity;
    AddDirect<float>(c, "Speed", RTTI_OFFSETOF(E, speed));
    AddDirect<float>(c, "WaitTime", RTTI_OFFSETOF(E, waitTime));
    AddDirect<float>(c, "Pitch", RTTI_OFFSETOF(E, pitch));
    AddDirect<bool>(c, "IgnorePathOrientation", RTTI_OFFSETOF(E, ignorePathOrientation));
    return c;
}

const RTTIClass* ZKRHelicopterPathFlagEntity::GetRTTIClass() const { return RegisterRTTIClass(); }
