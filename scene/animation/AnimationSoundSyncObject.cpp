#include "scene/animation/AnimationSoundSyncObject.h"

#include <algorithm>
#include <cmath>

#include "scene/SceneSoundServices.h"

namespace {
uint32_t SyncPosition(float fraction) {
    if (!(fraction > 0.0f)) return 0;  // NaN too
    return uint32_t(std::min(fraction, 1.0f) * 65536.0f);
}
}  // namespace

AnimationSoundSyncObject* AnimationSoundSyncObject::Instance(Entity* owner) {
    auto* o = new AnimationSoundSyncObject();
    o->SetOwner(owner);
    return o;
}

void AnimationSoundSyncObject::AddSoundEvent(float time, const char* sound, float full, float zero, int32_t channel) {
    events.push_back({SyncPosition(time), sound ? sound : "", full, zero, channel});
}

void AnimationSoundSyncObject::Clear() { events.clear(); }

void AnimationSoundSyncObject::ReleaseUse() {
    if (uses == 0 || --uses != 0) return;
    if (disposer) disposer(this);
    else delete this;
}

void AnimationSoundSyncObject::Update(float progress, float weight, bool forward) {
    const uint32_t now = SyncPosition(progress);
    Entity* entity = owner.Get();
    if (forward && entity && !events.empty()) {
        const bool wrapped = updated && now < last;
        for (const Event& e : events) {
            bool fire;
            if (!updated || wrapped) fire = e.time <= now;
            else fire = e.time > last && e.time <= now;
            if (!fire) continue;
            GetSceneSoundServices().PlaySound(e.fullVolumeRange <= 0.0f ? nullptr : entity, e.sound.c_str(), weight,
                                              e.fullVolumeRange, e.zeroVolumeRange, e.channel);
        }
    }
    updated = true;
    last = now;
}
