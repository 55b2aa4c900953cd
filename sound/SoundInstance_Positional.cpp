// The positional half of the sound instances: the distance curve, the owner's frame,
// the 3-D update through the panner, the range rules, the placeholders that stand in
// for endless sounds too far away to be heard, and the release of an owner.
//
// An endless positional sound alternates between a voiced instance and a placeholder
// as the listener moves: beyond 1.2 x its range the voiced instance hands its id, owner,
// name, block, flags, fades, Doppler factor and start time to a placeholder and is
// deleted; within 1.1 x the range the placeholder rebuilds the voiced instance at the
// tail of the list (the pass may meet it again; the gap between the factors keeps that
// from flipping back). A sound that plays a finite number of passes is dropped beyond
// 1.8 x the range instead. Important sounds are never judged by distance.
//
// Sound thread only.
#include <cstring>

#include "sound/EntitySoundEmitter.h"
#include "sound/SoundEngine.h"
#include "sound/SoundInstance.h"

namespace {
constexpr float kPlaceholderFactor = 1.2f;  // a voiced endless sound becomes a placeholder
constexpr float kKeepPlaceholderFactor = 1.1f;
constexpr float kDropFactor = 1.8f;  // a finite sound is dropped
}  // namespace

void SoundInstanceBase::InstallDistanceCurve() {
    const float full = params.FullVolumeRange;
    const float zero = params.ZeroVolumeRange;
    if (!(zero > 0.0f)) {
        // Natural roll-off: full volume within FullVolumeRange, then FullVolumeRange / d.
        emitter.volumeCurve = nullptr;
        emitter.curveDistanceScaler = full;
        return;
    }
    if (zero > full) {
        curvePoints[0] = {full, 1.0f};
        curvePoints[1] = {zero, 0.0f};
    } else {
        // The two points would run backwards: full volume up to ZeroVolumeRange, then
        // silence.
        curvePoints[0] = {zero, 1.0f};
        curvePoints[1] = {zero, 0.0f};
    }
    volumeCurve = {curvePoints, 2};
    emitter.volumeCurve = &volumeCurve;
    emitter.curveDistanceScaler = 1.0f;
}

void SoundInstanceBase::CopyOwnerTransform() {
    ownerTransform = owner->Transform();
    const Matrix& m = ownerTransform;
    emitter.orientFront = {m.r[2].x, m.r[2].y, m.r[2].z};
    emitter.orientTop = {m.r[1].x, m.r[1].y, m.r[1].z};
    emitter.position = {m.r[3].x, m.r[3].y, m.r[3].z};
    const Vector& v = owner->Velocity();
    emitter.velocity = {v.x, v.y, v.z};
}

void SoundInstanceBase::CopyStateFrom(const SoundInstanceBase& from) {
    stateFlags = from.stateFlags;
    volumeFade = from.volumeFade;
    frequencyRatioFade = from.frequencyRatioFade;
    dopplerFactor = from.dopplerFactor;
    startTime = from.startTime;
}

void SoundInstanceBase::Update3D() {
    if (owner && (stateFlags & SOUNDINSTANCE_POSITIONAL) && voice) {
        CopyOwnerTransform();
        const SoundEngine& engine = *gSoundEngine;
        float matrix[audio::kPannerMatrixCapacity] = {};
        audio::DspSettings dsp = {};
        dsp.matrixCoefficients = matrix;
        dsp.srcChannelCount = emitter.channelCount ? emitter.channelCount : 1;
        dsp.dstChannelCount = engine.OutputChannelCount();
        const bool doppler = (stateFlags & SOUNDINSTANCE_DOPPLER) != 0;
        dsp.dopplerFactor = 1.0f;
        const uint32_t flags = audio::kCalculateMatrix | (doppler ? audio::kCalculateDoppler : 0u);
        if (dsp.dstChannelCount && dsp.srcChannelCount * dsp.dstChannelCount <= audio::kPannerMatrixCapacity) {
            audio::PannerCalculate(engine.GetPannerHandle(), &engine.GetListener(), &emitter, flags, &dsp);
            // The constant-sum pan gives 0.5 per side at the centre; doubling it gives
            // unity there and keeps the far side of a hard pan silent.
            const uint32_t n = dsp.srcChannelCount * dsp.dstChannelCount;
            for (uint32_t i = 0; i < n; ++i) matrix[i] = matrix[i] * 2.0f < 1.0f ? matrix[i] * 2.0f : 1.0f;
            voice->SetOutputMatrix(engine.GetMasteringVoice(), dsp.srcChannelCount, dsp.dstChannelCount, matrix,
                                   kSoundOperationSet);
            if (doppler) dopplerFactor = dsp.dopplerFactor;
        }
    }
    ApplyLevels();
}

bool SoundInstanceBase::OutOfRange(float factor) const {
    if (!(stateFlags & SOUNDINSTANCE_POSITIONAL) || (stateFlags & SOUNDINSTANCE_IMPORTANT)) return false;
    const audio::Vec3& l = gSoundEngine->GetListener().position;
    const Vector& p = ownerTransform.r[3];
    const float dx = l.x - p.x, dy = l.y - p.y, dz = l.z - p.z;
    const float twiceFull = 2.0f * params.FullVolumeRange;
    const float range = (twiceFull > params.ZeroVolumeRange ? twiceFull : params.ZeroVolumeRange) * factor;
    return dx * dx + dy * dy + dz * dz > range * range;
}

bool SoundInstanceBase::BecamePlaceholder(uint32_t kind) {
    if (params.LoopCount != 0 || (stateFlags & SOUNDINSTANCE_STOPPING)) return false;
    if (owner && (stateFlags & SOUNDINSTANCE_POSITIONAL)) CopyOwnerTransform();
    if (!OutOfRange(kPlaceholderFactor)) return false;
    new SoundInstanceZombie(*this, kind);
    return true;
}

SoundInstanceBase* SoundInstanceBase::CreateForOwner(EntitySoundEmitter* soundOwner, const char* soundName,
                                                     uint32_t instanceId, const SoundParamWrapper& parameters) {
    if (!(parameters.Flags & SOUNDSTARTFLAG_STREAMED))
        return new SoundInstanceStatic(soundOwner, soundName, instanceId, parameters);
    return new SoundInstanceStreamed(soundOwner, soundName, instanceId, parameters);
}

void SoundInstanceBase::ReleaseOwner(const EntitySoundEmitter* released, float seconds) {
    for (SoundInstanceBase *i = head, *after = nullptr; i; i = after) {
        after = i->next;
        if (!released || i->owner != released) continue;
        if (seconds <= 0.0f) {
            if (i->voice) i->voice->Stop(audio::kPlayTails, kSoundOperationSet);
            delete i;
            continue;
        }
        // It keeps the position it was last heard at (ownerTransform and the emitter).
        i->owner = nullptr;
        if (i->stateFlags >= 128) continue;  // never true: the flags use five bits
        if (i->IsZombie()) {
            delete i;
            continue;
        }
        i->volumeFade.Start(gSoundEngine->LastUpdateTime(), 0.0f, seconds, 0);
        i->ApplyLevels();
        i->stateFlags |= SOUNDINSTANCE_STOPPING;
    }
}

// Drop (finite sounds beyond 1.8 x) or placeholder (endless sounds beyond 1.2 x): true
// when the instance should report itself finished.
bool SoundInstanceBase::LeavesForRange(uint32_t kind) {
    if (params.LoopCount != 0) {
        if (owner && (stateFlags & SOUNDINSTANCE_POSITIONAL)) CopyOwnerTransform();
        return OutOfRange(kDropFactor);
    }
    return BecamePlaceholder(kind);
}

// ---------------------------------------------------------------------------------------
// SoundInstanceZombie

SoundInstanceZombie::SoundInstanceZombie(const SoundInstanceBase& from, uint32_t rebuildKind)
    : SoundInstanceBase(from.owner, from.name.CStr(), from.id, from.params), kind(rebuildKind) {
    CopyStateFrom(from);
    ownerTransform = from.ownerTransform;
}

bool SoundInstanceZombie::Update() {
    const bool positional = (stateFlags & SOUNDINSTANCE_POSITIONAL) != 0;
    if (owner && positional) CopyOwnerTransform();
    if (positional && !(stateFlags & SOUNDINSTANCE_IMPORTANT) && OutOfRange(kKeepPlaceholderFactor)) return true;
    if (stateFlags & SOUNDINSTANCE_STOPPING) return true;
    if (!owner) return false;
    SoundInstanceBase* rebuilt = nullptr;
    if (kind == KIND_STATIC) rebuilt = new SoundInstanceStatic(owner, name.CStr(), id, params);
    else if (kind == KIND_STREAMED) rebuilt = new SoundInstanceStreamed(owner, name.CStr(), id, params);
    if (rebuilt) rebuilt->CopyStateFrom(*this);
    return false;
}
