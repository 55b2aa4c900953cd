// The effect entity's state machine over its elements.
#include "game/kinds/ZKREffect.h"

#include <vector>

#include "core/rtti/DirectProperty.h"
#include "game/kinds/GameTypes.h"
#include "scene/particles/ParticleEntity.h"
#include "scene/sfx/SFXEntity.h"

namespace {

RTTIClass* gEffectTemplateClass = nullptr;
RTTIClass* gEffectEntityClass = nullptr;

// The "Started" property's flag word.
constexpr uint32_t kStartedPropertyFlags = 2;

struct Element {
    Entity* entity;
    SFXEntity* sfx;            // an effect element
    ParticleEntity* particle;  // a particle element
};

Element Classify(Entity* e) {
    Element out{e, nullptr, nullptr};
    if (TemplateTypeTable::IsA(e->GetType(), ENTITY_SFX)) out.sfx = dynamic_cast<SFXEntity*>(e);
    else if (TemplateTypeTable::IsA(e->GetType(), ENTITY_PARTICLE)) out.particle = dynamic_cast<ParticleEntity*>(e);
    return out;
}

// The effect's elements, its own children in element order; with takingPart only those
// carrying the element flag. An element's own children are not the effect's: a particle
// element's particle children keep their start switches and run as their parent makes
// them. Gathered before anything is done to them.
std::vector<Element> Elements(const Entity* effect, bool takingPart) {
    std::vector<Element> out;
    for (uint32_t c = 0; c < effect->GetChildrenCount(); ++c) {
        Entity* e = effect->GetChild(c);
        if (e && (!takingPart || (e->GetFlags() & ENTITYFLAG_COMPOUNDELEMENT))) out.push_back(Classify(e));
    }
    return out;
}

}  // namespace

ZKREffectTemplate::ZKREffectTemplate() { typeId = ENTITY_ZKR_EFFECT; }

const RTTIClass* ZKREffectTemplate::RegisterRTTIClass(const char* name) {
    if (gEffectTemplateClass) return gEffectTemplateClass;
    CompoundTemplate::RegisterClass();
    return CreateRegisteredClass(gEffectTemplateClass, name ? name : "ZKREffectTemplate", "CompoundTemplate",
                                 &CreateGameObject<ZKREffectTemplate>);
}

const RTTIClass* ZKREffectTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }
Entity* ZKREffectTemplate::CreateEntity() { return NewGameEntity<ZKREffectEntity>(); }

const RTTIClass* ZKREffectEntity::RegisterRTTIClass(const char* name) {
    if (gEffectEntityClass) return gEffectEntityClass;
    CompoundEntity::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gEffectEntityClass, name ? name : "ZKREffectEntity", "CompoundEntity");
    AddDirect<int32_t>(c, "Started", RTTI_OFFSETOF(ZKREffectEntity, started), kStartedPropertyFlags);
    return c;
}

const RTTIClass* ZKREffectEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

void ZKREffectEntity::InitFromTemplate(EntityTemplate* t, uint32_t creationFlags) {
    CompoundEntity::InitFromTemplate(t, creationFlags);
    // The effect alone decides when its elements run.
    for (const Element& e : Elements(this, false)) {
        if (e.sfx) {
            e.sfx->startAtGameInit = false;
            e.sfx->SetDeleteAtStop(false);
        } else if (e.particle) {
            e.particle->spawnInGame = false;
        }
    }
}

void ZKREffectEntity::InitTriggerActivation() {
    CompoundEntity::InitTriggerActivation();
    started = EFFECT_STATE_RUNNING;
    RaiseFlag(ENTITYFLAG_GHOSTMODE, true);
    // The ghost-mode hooks may have stopped it already.
    if (started == EFFECT_STATE_RUNNING) {
        started = EFFECT_STATE_STOPPED;
        StopElements(false);
    }
}

bool ZKREffectEntity::Start(bool restart) {
    ClearFlag(ENTITYFLAG_GHOSTMODE, true);
    if (started == EFFECT_STATE_RUNNING) return false;
    started = EFFECT_STATE_RUNNING;
    for (const Element& e : Elements(this, true)) {
        if (e.sfx) e.sfx->Restart(restart ? 1 : 0, true);
        else if (e.particle) e.particle->StartSpawning();
        else e.entity->Show();
    }
    return true;
}

bool ZKREffectEntity::Stop(bool immediate) {
    RaiseFlag(ENTITYFLAG_GHOSTMODE, true);
    if (!(started == EFFECT_STATE_RUNNING || (started == EFFECT_STATE_STOPPED && immediate))) return false;
    started = immediate ? EFFECT_STATE_STOPPED_AT_ONCE : EFFECT_STATE_STOPPED;
    StopElements(immediate);
    return true;
}

void ZKREffectEntity::StopElements(bool immediate) {
    for (const Element& e : Elements(this, true)) {
        if (e.sfx) {
            if (immediate) e.sfx->DeleteRenderingContext();
            else e.sfx->BreakLoop(nullptr);
        } else if (e.particle) {
            e.particle->StopSpawning();
            if (immediate) e.particle->DeleteRenderingContext();
        } else {
            e.entity->Hide();
        }
    }
}

void ZKREffectEntity::AdvanceTime(float seconds) {
    for (const Element& e : Elements(this, true))
        if (e.sfx) e.sfx->AdvanceTime(seconds);
}
