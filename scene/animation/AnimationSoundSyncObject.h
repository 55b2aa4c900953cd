#pragma once
// AnimationSoundSyncObject: sounds fired at times of an animation (AnimationParams'
// SyncObject). Times are fractions of the clip (0..1) kept as 16.16 fixed point. The
// animation updates it with its progress and weight each evaluation: the first update
// fires the events up to the position (an event at 0 once); later ones fire the events
// passed since the last position, and after a wrap those up to the new position.
// Backwards-playing animations fire nothing.
//
// Main thread. Sounds go through SceneSoundServices::PlaySound: a full-volume range not above
// 0 plays a system sound, else a sound on the owner.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/entity/Entity.h"


class AnimationSoundSyncObject {
public:
    struct Event {
        uint32_t time;
        std::string sound;
        float fullVolumeRange;
        float zeroVolumeRange;
        int32_t channel;
    };

    // A new object owned by the caller, sounding on owner.
    static AnimationSoundSyncObject* Instance(Entity* owner);
    void SetOwner(Entity* owner) { this->owner.Assign(owner); }

    void AddSoundEvent(float time, const char* sound, float fullVolumeRange, float zeroVolumeRange, int32_t channel);
    void Clear();
    void Update(float progress, float weight, bool forward);

    uint32_t EventCount() const { return uint32_t(events.size()); }
    uint32_t LastPosition() const { return last; }

    // Uses: one for its maker, and one for every animation running with it (taken when
    // the animation gets it in its parameters, given back when the animation ends or its
    // parameters are replaced). The last use given back destroys the object through its
    // disposer (plain delete unless the maker sets another), so a maker that lets go of
    // the object never frees it under a running animation.
    using Disposer = void (*)(AnimationSoundSyncObject*);
    void SetDisposer(Disposer d) { disposer = d; }
    void AddUse() { ++uses; }
    void ReleaseUse();

private:
    SafePointer<Entity> owner;
    std::vector<Event> events;
    uint32_t last = 0;
    bool updated = false;
    uint32_t uses = 1;
    Disposer disposer = nullptr;
};
