// The game's triggers: classes, properties in declaration order, the creation rules of the
// ZKR trigger and phone-trigger templates, the preload hooks and the damage accessors.
#include "game/kinds/ZKRTriggers.h"

#include <cstring>

#include "core/Memory.h"
#include "core/rtti/DirectProperty.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "game/kinds/GameTypes.h"

namespace {

RTTIClass* gTriggerTemplateClass = nullptr;
RTTIClass* gTriggerEntityClass = nullptr;
RTTIClass* gScriptTriggerTemplateClass = nullptr;
RTTIClass* gScriptTriggerEntityClass = nullptr;
RTTIClass* gProgressAreaTemplateClass = nullptr;
RTTIClass* gProgressAreaEntityClass = nullptr;
RTTIClass* gPhoneTemplateClass = nullptr;
RTTIClass* gPhoneEntityClass = nullptr;
RTTIClass* gPhoneChatBoxClass = nullptr;
RTTIClass* gPhoneDialogClass = nullptr;
RTTIClass* gPhoneDamageAreaClass = nullptr;
RTTIClass* gPhoneBurnAreaClass = nullptr;
RTTIClass* gSquadScriptTemplateClass = nullptr;
RTTIClass* gSquadScriptEntityClass = nullptr;
RTTIClass* gSquadZDirTemplateClass = nullptr;
RTTIClass* gSquadZDirEntityClass = nullptr;
RTTIClass* gCheckpointTemplateClass = nullptr;
RTTIClass* gCheckpointEntityClass = nullptr;
RTTIClass* gDamageSurfaceTemplateClass = nullptr;
RTTIClass* gDamageSurfaceEntityClass = nullptr;

const char kPhoneModeNames[] = "Anything\0First unit\0";
const char kTowerAwarenessNames[] = "Standard\0IgnoreHackers\0IgnoreTowers\0";

// The six switches at the offset of a ZKRTriggerReactions member, under the given names.
void AddReactions(RTTIClass* c, size_t at, const char* const names[6]) {
    AddDirect<bool>(c, names[0], at + offsetof(ZKRTriggerReactions, reactToHero));
    AddDirect<bool>(c, names[1], at + offsetof(ZKRTriggerReactions, reactToUnits));
    AddDirect<bool>(c, names[2], at + offsetof(ZKRTriggerReactions, firstUnit));
    AddDirect<bool>(c, names[3], at + offsetof(ZKRTriggerReactions, lastUnit));
    AddDirect<bool>(c, names[4], at + offsetof(ZKRTriggerReactions, anyUnit));
    AddDirect<bool>(c, names[5], at + offsetof(ZKRTriggerReactions, multipleActivation));
}

// A template class on `base`, registered with its factory.
template <class T>
RTTIClass* RegisterTemplate(RTTIClass*& slot, const char* name, const char* own, const char* base) {
    return CreateRegisteredClass(slot, name ? name : own, base, &CreateGameObject<T>);
}

// The phone-trigger entity class a TriggerType chooses; null for 1 and above 10.
ZKRTriggerEntity* NewPhoneEntity(uint32_t triggerType) {
    switch (triggerType) {
        case 0:
        case 3:
        case 4:
        case 7:
            return NewGameEntity<ZKRiPhoneTriggerEntity>();
        case 2:
            return NewGameEntity<ZKRiPhoneChatBoxTriggerEntity>();
        case 5:
        case 6:
        case 8:
            return NewGameEntity<ZKRiPhoneDialogTriggerEntity>();
        case 9:
            return NewGameEntity<ZKRiPhoneDamageAreaEntity>();
        case 10:
            return NewGameEntity<ZKRiPhoneBurnAreaEntity>();
        default:
            return nullptr;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------
// ZKR trigger

ZKRTriggerTemplate::ZKRTriggerTemplate() { typeId = ENTITY_ZKR_TRIGGER; }

const RTTIClass* ZKRTriggerTemplate::RegisterRTTIClass(const char* name) {
    if (gTriggerTemplateClass) return gTriggerTemplateClass;
    TriggerTemplate::RegisterRTTIClass();
    RTTIClass* c =
        RegisterTemplate<ZKRTriggerTemplate>(gTriggerTemplateClass, name, "ZKRTriggerTemplate", "TriggerTemplate");
    static const char* const kNames[6] = {"DefaultReactToHero", "DefaultReactToUnits", "DefaultFirstUnit",
                                          "DefaultLastUnit",    "DefaultAnyUnit",      "DefaultMultipleActivation"};
    AddReactions(c, RTTI_OFFSETOF(ZKRTriggerTemplate, defaults), kNames);
    return c;
}

const RTTIClass* ZKRTriggerTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }

Entity* ZKRTriggerTemplate::CreateEntity() {
    ZKRTriggerEntity* e = NewGameEntity<ZKRTriggerEntity>();
    if (e) FillReactions(e);
    return e;
}

void ZKRTriggerTemplate::FillReactions(ZKRTriggerEntity* entity) const { entity->reactions = defaults; }

const RTTIClass* ZKRTriggerEntity::RegisterRTTIClass(const char* name) {
    if (gTriggerEntityClass) return gTriggerEntityClass;
    TriggerEntity::RegisterRTTIClass();
    RTTIClass* c = CreateRegisteredClass(gTriggerEntityClass, name ? name : "ZKRTriggerEntity", "TriggerEntity");
    static const char* const kNames[6] = {"ReactToHero", "ReactToUnits", "FirstUnit",
                                          "LastUnit",    "AnyUnit",      "MultipleActivation"};
    AddReactions(c, RTTI_OFFSETOF(ZKRTriggerEntity, reactions), kNames);
    return c;
}

const RTTIClass* ZKRTriggerEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

// ---------------------------------------------------------------------------------
// Script and progress-area triggers

ZKRScriptTriggerTemplate::ZKRScriptTriggerTemplate() { typeId = ENTITY_ZKR_SCRIPTTRIGGER; }

const RTTIClass* ZKRScriptTriggerTemplate::RegisterRTTIClass(const char* name) {
    if (gScriptTriggerTemplateClass) return gScriptTriggerTemplateClass;
    ZKRTriggerTemplate::RegisterRTTIClass();
    return RegisterTemplate<ZKRScriptTriggerTemplate>(gScriptTriggerTemplateClass, name, "ZKRScriptTriggerTemplate",
                                                      "ZKRTriggerTemplate");
}

const RTTIClass* ZKRScriptTriggerTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKRScriptTriggerTemplate::CreateEntity() { return NewGameEntity<ZKRScriptTriggerEntity>(); }

ZKRScriptTriggerEntity::~ZKRScriptTriggerEntity() { RTTIFreeString(scriptName); }

const RTTIClass* ZKRScriptTriggerEntity::RegisterRTTIClass(const char* name) {
    if (gScriptTriggerEntityClass) return gScriptTriggerEntityClass;
    ZKRTriggerEntity::RegisterRTTIClass();
    RTTIClass* c =
        CreateRegisteredClass(gScriptTriggerEntityClass, name ? name : "ZKRScriptTriggerEntity", "ZKRTriggerEntity");
    AddDirect<char*>(c, "ScriptName", RTTI_OFFSETOF(ZKRScriptTriggerEntity, scriptName));
    AddDirect<bool>(c, "ScriptActiveDuringPause", RTTI_OFFSETOF(ZKRScriptTriggerEntity, scriptActiveDuringPause));
    return c;
}

const RTTIClass* ZKRScriptTriggerEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

ZKRProgressAreaTriggerTemplate::ZKRProgressAreaTriggerTemplate() { typeId = ENTITY_ZKR_PROGRESSAREATRIGGER; }

const RTTIClass* ZKRProgressAreaTriggerTemplate::RegisterRTTIClass(const char* name) {
    if (gProgressAreaTemplateClass) return gProgressAreaTemplateClass;
    ZKRTriggerTemplate::RegisterRTTIClass();
    return RegisterTemplate<ZKRProgressAreaTriggerTemplate>(gProgressAreaTemplateClass, name,
                                                            "ZKRProgressAreaTriggerTemplate", "ZKRTriggerTemplate");
}

const RTTIClass* ZKRProgressAreaTriggerTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKRProgressAreaTriggerTemplate::CreateEntity() { return NewGameEntity<ZKRProgressAreaTriggerEntity>(); }

const RTTIClass* ZKRProgressAreaTriggerEntity::RegisterRTTIClass(const char* name) {
    if (gProgressAreaEntityClass) return gProgressAreaEntityClass;
    ZKRTriggerEntity::RegisterRTTIClass();
    RTTIClass* c = CreateRegisteredClass(gProgressAreaEntityClass, name ? name : "ZKRProgressAreaTriggerEntity",
                                         "ZKRTriggerEntity");
    AddDirect<uint32_t>(c, "AreaIndex", RTTI_OFFSETOF(ZKRProgressAreaTriggerEntity, areaIndex));
    return c;
}

const RTTIClass* ZKRProgressAreaTriggerEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

// ---------------------------------------------------------------------------------
// Phone triggers

const RTTIClass* ZKRiPhoneTriggerEntity::RegisterRTTIClass(const char* name) {
    if (gPhoneEntityClass) return gPhoneEntityClass;
    ZKRTriggerEntity::RegisterRTTIClass();
    RTTIClass* c = CreateRegisteredClass(gPhoneEntityClass, name ? name : "ZKRiPhoneTriggerEntity", "ZKRTriggerEntity");
    AddDirect<uint32_t>(c, "iPhoneMode", RTTI_OFFSETOF(ZKRiPhoneTriggerEntity, iPhoneMode), kPropertyFlagEnum,
                        kPhoneModeNames);
    return c;
}

const RTTIClass* ZKRiPhoneTriggerEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

const RTTIClass* ZKRiPhoneChatBoxTriggerEntity::RegisterRTTIClass(const char* name) {
    if (gPhoneChatBoxClass) return gPhoneChatBoxClass;
    ZKRiPhoneTriggerEntity::RegisterRTTIClass();
    RTTIClass* c = CreateRegisteredClass(gPhoneChatBoxClass, name ? name : "ZKRiPhoneChatBoxTriggerEntity",
                                         "ZKRiPhoneTriggerEntity");
    using E = ZKRiPhoneChatBoxTriggerEntity;
    AddDirect<NameString>(c, "DisplayText", RTTI_OFFSETOF(E, displayText));
    AddDirect<bool>(c, "ShouldStopGamePlay", RTTI_OFFSETOF(E, shouldStopGamePlay));
    AddDirect<bool>(c, "EndOnTouch", RTTI_OFFSETOF(E, endOnTouch));
    AddDirect<float>(c, "DisplayTime", RTTI_OFFSETOF(E, displayTime));
    return c;
}

const RTTIClass* ZKRiPhoneChatBoxTriggerEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

const RTTIClass* ZKRiPhoneDialogTriggerEntity::RegisterRTTIClass(const char* name) {
    if (gPhoneDialogClass) return gPhoneDialogClass;
    ZKRiPhoneTriggerEntity::RegisterRTTIClass();
    RTTIClass* c = CreateRegisteredClass(gPhoneDialogClass, name ? name : "ZKRiPhoneDialogTriggerEntity",
                                         "ZKRiPhoneTriggerEntity");
    AddDirect<NameString>(c, "Lang_Path", RTTI_OFFSETOF(ZKRiPhoneDialogTriggerEntity, langPath));
    return c;
}

const RTTIClass* ZKRiPhoneDialogTriggerEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

const RTTIClass* ZKRiPhoneDamageAreaEntity::RegisterRTTIClass(const char* name) {
    if (gPhoneDamageAreaClass) return gPhoneDamageAreaClass;
    ZKRiPhoneTriggerEntity::RegisterRTTIClass();
    RTTIClass* c = CreateRegisteredClass(gPhoneDamageAreaClass, name ? name : "ZKRiPhoneDamageAreaEntity",
                                         "ZKRiPhoneTriggerEntity");
    AddDirect<float>(c, "Damage Per Second", RTTI_OFFSETOF(ZKRiPhoneDamageAreaEntity, damagePerSecond));
    return c;
}

const RTTIClass* ZKRiPhoneDamageAreaEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

const RTTIClass* ZKRiPhoneBurnAreaEntity::RegisterRTTIClass(const char* name) {
    if (gPhoneBurnAreaClass) return gPhoneBurnAreaClass;
    ZKRiPhoneDamageAreaEntity::RegisterRTTIClass();
    RTTIClass* c = CreateRegisteredClass(gPhoneBurnAreaClass, name ? name : "ZKRiPhoneBurnAreaEntity",
                                         "ZKRiPhoneDamageAreaEntity");
    AddDirect<float>(c, "Burn time after leave", RTTI_OFFSETOF(ZKRiPhoneBurnAreaEntity, burnTimeAfterLeave));
    AddDirect<float>(c, "Burn damage per second", RTTI_OFFSETOF(ZKRiPhoneBurnAreaEntity, burnDamagePerSecond));
    return c;
}

const RTTIClass* ZKRiPhoneBurnAreaEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

// The ZKR trigger part is built first (type 266), then the phone type is set.
ZKRiPhoneTriggerTemplate::ZKRiPhoneTriggerTemplate() { typeId = ENTITY_ZKR_IPHONETRIGGER; }

const RTTIClass* ZKRiPhoneTriggerTemplate::RegisterRTTIClass(const char* name) {
    if (gPhoneTemplateClass) return gPhoneTemplateClass;
    ZKRTriggerTemplate::RegisterRTTIClass();
    RTTIClass* c = RegisterTemplate<ZKRiPhoneTriggerTemplate>(gPhoneTemplateClass, name, "ZKRiPhoneTriggerTemplate",
                                                              "ZKRTriggerTemplate");
    AddDirect<uint32_t>(c, "TriggerType", RTTI_OFFSETOF(ZKRiPhoneTriggerTemplate, triggerType));
    AddDirect<uint32_t>(c, "ActivationMask", RTTI_OFFSETOF(ZKRiPhoneTriggerTemplate, activationMask));
    AddDirect<NameString>(c, "Param", RTTI_OFFSETOF(ZKRiPhoneTriggerTemplate, param));
    return c;
}

const RTTIClass* ZKRiPhoneTriggerTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }

Entity* ZKRiPhoneTriggerTemplate::CreateEntity() {
    ZKRTriggerEntity* e = NewPhoneEntity(triggerType);
    if (e) FillReactions(e);
    return e;
}

void ZKRiPhoneTriggerTemplate::PreloadReferencedResources() {
    if ((triggerType == 9 || triggerType == 10) && !param.IsEmpty())
        gEntityTemplateRegistry.PreloadTemplateByName(param.CStr());
}

// ---------------------------------------------------------------------------------
// Squad triggers and checkpoints

ZKRSquadScriptTriggerTemplate::ZKRSquadScriptTriggerTemplate() { typeId = kSquadScriptTriggerType; }

const RTTIClass* ZKRSquadScriptTriggerTemplate::RegisterRTTIClass(const char* name) {
    if (gSquadScriptTemplateClass) return gSquadScriptTemplateClass;
    TriggerTemplate::RegisterRTTIClass();
    return RegisterTemplate<ZKRSquadScriptTriggerTemplate>(gSquadScriptTemplateClass, name,
                                                           "ZKRSquadScriptTriggerTemplate", "TriggerTemplate");
}

const RTTIClass* ZKRSquadScriptTriggerTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKRSquadScriptTriggerTemplate::CreateEntity() { return NewGameEntity<ZKRSquadScriptTriggerEntity>(); }

ZKRSquadScriptTriggerEntity::~ZKRSquadScriptTriggerEntity() {
    RTTIFreeString(onEnterScript);
    RTTIFreeString(onExitScript);
}

const RTTIClass* ZKRSquadScriptTriggerEntity::RegisterRTTIClass(const char* name) {
    if (gSquadScriptEntityClass) return gSquadScriptEntityClass;
    TriggerEntity::RegisterRTTIClass();
    RTTIClass* c = CreateRegisteredClass(gSquadScriptEntityClass, name ? name : "ZKRSquadScriptTriggerEntity",
                                         "TriggerEntity");
    using E = ZKRSquadScriptTriggerEntity;
    AddDirect<char*>(c, "OnEnterScript", RTTI_OFFSETOF(E, onEnterScript));
    AddDirect<char*>(c, "OnExitScript", RTTI_OFFSETOF(E, onExitScript));
    AddDirect<bool>(c, "MultipleActivation", RTTI_OFFSETOF(E, multipleActivation));
    AddDirect<bool>(c, "ScriptActiveDuringPause", RTTI_OFFSETOF(E, scriptActiveDuringPause));
    return c;
}

const RTTIClass* ZKRSquadScriptTriggerEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

ZKRSquadZDirTriggerTemplate::ZKRSquadZDirTriggerTemplate() { typeId = ENTITY_ZKR_SQUAD_TRIGGER; }

const RTTIClass* ZKRSquadZDirTriggerTemplate::RegisterRTTIClass(const char* name) {
    if (gSquadZDirTemplateClass) return gSquadZDirTemplateClass;
    TriggerTemplate::RegisterRTTIClass();
    return RegisterTemplate<ZKRSquadZDirTriggerTemplate>(gSquadZDirTemplateClass, name, "ZKRSquadZDirTriggerTemplate",
                                                         "TriggerTemplate");
}

const RTTIClass* ZKRSquadZDirTriggerTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKRSquadZDirTriggerTemplate::CreateEntity() { return NewGameEntity<ZKRSquadZDirTriggerEntity>(); }

ZKRSquadZDirTriggerEntity::~ZKRSquadZDirTriggerEntity() {
    RTTIFreeString(zDirPositive);
    RTTIFreeString(zDirNegative);
}

const RTTIClass* ZKRSquadZDirTriggerEntity::RegisterRTTIClass(const char* name) {
    if (gSquadZDirEntityClass) return gSquadZDirEntityClass;
    TriggerEntity::RegisterRTTIClass();
    RTTIClass* c =
        CreateRegisteredClass(gSquadZDirEntityClass, name ? name : "ZKRSquadZDirTriggerEntity", "TriggerEntity");
    using E = ZKRSquadZDirTriggerEntity;
    AddDirect<char*>(c, "ZDirPositive", RTTI_OFFSETOF(E, zDirPositive));
    AddDirect<char*>(c, "ZDirNegative", RTTI_OFFSETOF(E, zDirNegative));
    AddDirect<bool>(c, "MultipleActivation", RTTI_OFFSETOF(E, multipleActivation));
    return c;
}

const RTTIClass* ZKRSquadZDirTriggerEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

ZKRCheckpointTemplate::ZKRCheckpointTemplate() { typeId = ENTITY_ZKR_CHECKPOINT; }

const RTTIClass* ZKRCheckpointTemplate::RegisterRTTIClass(const char* name) {
    if (gCheckpointTemplateClass) return gCheckpointTemplateClass;
    TriggerTemplate::RegisterRTTIClass();
    return RegisterTemplate<ZKRCheckpointTemplate>(gCheckpointTemplateClass, name, "ZKRCheckpointTemplate",
                                                   "TriggerTemplate");
}

const RTTIClass* ZKRCheckpointTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKRCheckpointTemplate::CreateEntity() { return NewGameEntity<ZKRCheckpointEntity>(); }

const RTTIClass* ZKRCheckpointEntity::RegisterRTTIClass(const char* name) {
    if (gCheckpointEntityClass) return gCheckpointEntityClass;
    TriggerEntity::RegisterRTTIClass();
    RTTIClass* c = CreateRegisteredClass(gCheckpointEntityClass, name ? name : "ZKRCheckpointEntity", "TriggerEntity");
    AddDirect<uint32_t>(c, "TowerAwarenessType", RTTI_OFFSETOF(ZKRCheckpointEntity, towerAwarenessType),
                        kPropertyFlagEnum, kTowerAwarenessNames);
    return c;
}

const RTTIClass* ZKRCheckpointEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

const char* ZKRCheckpointEntity::GetTowerAwarenessType() const {
    return EnumerationName(kTowerAwarenessNames, towerAwarenessType);
}

// ---------------------------------------------------------------------------------
// Damage surfaces

ZKRDamageSurfaceTemplate::ZKRDamageSurfaceTemplate() {
    typeId = ENTITY_ZKR_DAMAGESURFACE;
    SetOwnedText(damageType, "Normal");
}

ZKRDamageSurfaceTemplate::~ZKRDamageSurfaceTemplate() {
    RTTIFreeString(damageType);
    RTTIFreeString(effectTemplate);
}

const RTTIClass* ZKRDamageSurfaceTemplate::RegisterRTTIClass(const char* name) {
    if (gDamageSurfaceTemplateClass) return gDamageSurfaceTemplateClass;
    TriggerTemplate::RegisterRTTIClass();
    RTTIClass* c = RegisterTemplate<ZKRDamageSurfaceTemplate>(gDamageSurfaceTemplateClass, name,
                                                              "ZKRDamageSurfaceTemplate", "TriggerTemplate");
    using T = ZKRDamageSurfaceTemplate;
    AddDirect<float>(c, "DamagePerSec", RTTI_OFFSETOF(T, damagePerSec));
    AddDirect<char*>(c, "DamageType", RTTI_OFFSETOF(T, damageType));
    AddDirect<char*>(c, "EffectTemplate", RTTI_OFFSETOF(T, effectTemplate));
    return c;
}

const RTTIClass* ZKRDamageSurfaceTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKRDamageSurfaceTemplate::CreateEntity() { return NewGameEntity<ZKRDamageSurfaceEntity>(); }

void ZKRDamageSurfaceTemplate::PreloadReferencedResources() {
    if (effectTemplate && effectTemplate[0]) gEntityTemplateRegistry.PreloadTemplateByName(effectTemplate);
}

ZKRDamageSurfaceEntity::~ZKRDamageSurfaceEntity() { RTTIFreeString(damageType); }

const RTTIClass* ZKRDamageSurfaceEntity::RegisterRTTIClass(const char* name) {
    if (gDamageSurfaceEntityClass) return gDamageSurfaceEntityClass;
    TriggerEntity::RegisterRTTIClass();
    RTTIClass* c =
        CreateRegisteredClass(gDamageSurfaceEntityClass, name ? name : "ZKRDamageSurfaceEntity", "TriggerEntity");
    using E = ZKRDamageSurfaceEntity;
    AddDirect<float>(c, "DamagePerSec", RTTI_OFFSETOF(E, damagePerSec));
    AddDirect<char*>(c, "DamageType", RTTI_OFFSETOF(E, damageType));
    AddDirect<bool>(c, "StartAtInit", RTTI_OFFSETOF(E, startAtInit));
    return c;
}

const RTTIClass* ZKRDamageSurfaceEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

float ZKRDamageSurfaceEntity::GetDamagePerSec() const {
    if (damagePerSec >= 0.0f) return damagePerSec;
    const auto* t = dynamic_cast<const ZKRDamageSurfaceTemplate*>(GetTemplate());
    return t ? t->damagePerSec : damagePerSec;
}

const char* ZKRDamageSurfaceEntity::GetDamageType() const {
    if (damageType) return damageType;
    const auto* t = dynamic_cast<const ZKRDamageSurfaceTemplate*>(GetTemplate());
    return t ? t->damageType : nullptr;
}

void ZKRDamageSurfaceEntity::SetDamageType(const char* text) {
    char* copy = nullptr;
    if (text) {
        const size_t size = std::strlen(text) + 1;
        copy = static_cast<char*>(EngineAlloc(size));
        std::memcpy(copy, text, size);
    }
    RTTIFreeString(damageType);  // after the copy: text may be the member itself
    damageType = copy;
}

const char* ZKRDamageSurfaceEntity::GetEffectTemplate() const {
    const auto* t = dynamic_cast<const ZKRDamageSurfaceTemplate*>(GetTemplate());
    return t ? t->effectTemplate : nullptr;
}
