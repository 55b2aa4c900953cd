#pragma once
// The effect: a compound whose elements are effect (SFX) entities, particle entities and
// plain entities that scripts start and stop as one.
//
// State ("Started"): 0 new, 1 running, 2 stopped (elements wind down), 3 stopped at once.
// A new effect rests in state 2, in ghost mode, until a script starts it: creation takes
// the start-at-creation switches off its elements, and the post-creation step starts and
// at once stops it. Start moves 2 or 3 to 1; Stop(false) moves 1 to 2; Stop(true) moves 1
// or 2 to 3; the other calls change nothing but the ghost mode and answer false.
//
// Only elements that carry ENTITYFLAG_COMPOUNDELEMENT take part in start, stop and time
// advance; an element is an effect element when its type is an SFX type, a particle
// element when it is a particle type, and plain otherwise.
//
// Main thread only.
#include <cstdint>

#include "game/kinds/GameKindSupport.h"
#include "scene/entities/CompoundEntity.h"

enum : int32_t {
    EFFECT_STATE_NEW = 0,
    EFFECT_STATE_RUNNING = 1,
    EFFECT_STATE_STOPPED = 2,
    EFFECT_STATE_STOPPED_AT_ONCE = 3,
};

class ZKREffectTemplate : public CompoundTemplate {
public:
    ZKREffectTemplate();
    ZKR_GAME_CLASS_BOILERPLATE()
    const char* GetClassName() const override { return "ZKREffectTemplate"; }
    Entity* CreateEntity() override;
    const char* GetEntityClassName() const override { return "ZKREffectEntity"; }
};

class ZKREffectEntity : public CompoundEntity {
public:
    ZKREffectEntity() = default;
    ZKR_GAME_CLASS_BOILERPLATE()

    // The compound's elements, then the start-at-creation switches of every effect and
    // particle element cleared (effect elements also stop deleting themselves at stop).
    void InitFromTemplate(EntityTemplate* t, uint32_t creationFlags) override;
    // The compound's step, then started and at once stopped, in ghost mode.
    void InitTriggerActivation() override;

    // Leaves ghost mode; false when already running. Effect elements restart (restart:
    // without their sound), particles spawn, plain elements show.
    bool Start(bool restart);
    // Enters ghost mode; false unless running, or stopped and asked to stop at once.
    // Effect elements end their loops (at once: lose their rendering contexts), particles
    // stop spawning (at once: also lose their contexts), plain elements hide.
    bool Stop(bool immediate);
    // Advances the taking-part effect elements.
    void AdvanceTime(float seconds);
    bool IsStarted() const { return started == EFFECT_STATE_RUNNING; }
    int32_t GetState() const { return started; }

    int32_t started = EFFECT_STATE_NEW;  // "Started"

private:
    // Stops every taking-part element (the post-creation stop and Stop).
    void StopElements(bool immediate);
};
