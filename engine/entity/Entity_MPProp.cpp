// Entity: the replicated properties a script declares and sets, and the engine's
// operations on them (the container in MPProperty.cpp does the work). Main thread only.
//
// Index 0 "PosXZ", 1 "PosY" and 2 "Rot" are the standard properties every container
// starts with; the entity's location follows them on the receiving side.
#include <algorithm>
#include <cmath>

#include "core/math/Matrix.h"
#include "engine/entity/Entity.h"
#include "engine/entity/MPProperty.h"
#include "engine/services/SceneContentServices.h"
#include "engine/services/GameServices.h"

namespace {

constexpr uint32_t kPosXZ = 0, kPosY = 1, kRot = 2;

uint8_t Fraction(float f) {
    if (!(f > 0.0f)) return 0;  // NaN too
    return uint8_t(std::min(f, 1.0f) * 255.0f + 0.5f);
}

MPValue FloatValue(float f) {
    MPValue v;
    v.f = f;
    return v;
}
MPValue VecValue(const Vector& x) {
    MPValue v;
    v.v = x;
    return v;
}

}  // namespace

void EncodeMPAnimData(uint8_t out[3], const MPAnimValue& value, float progress) {
    out[0] = uint8_t((value.index & 0x7F) | (value.loop ? 0x80 : 0));
    out[1] = Fraction(value.attackTime);
    out[2] = Fraction(progress);
}

// ---- Declarations ----

uint32_t Entity::MPPropAddFloat(float value, uint32_t type, uint32_t flags, float min, float max, float step, const char* name) {
    if (!mpProperties) return kMPRefused;
    MPProperty p;
    p.kind = type;
    p.flags = flags;
    p.name = name ? name : "";
    if (type == MPPROPTYPE_FLOAT) {
        p.floatMin = min;
        p.floatMax = max > min ? max : min;
        p.floatStep = step > 0.0f ? step : 0.01f;
        p.bits = MPPropFloatBits(p.floatMin, p.floatMax, p.floatStep);
        if (p.floatMax == p.floatMin) p.floatStep = 1.0f;  // a one-value range
    } else if (type == MPPROPTYPE_FLOAT_POSY || type == MPPROPTYPE_FLOAT_ANIM_PROGRESS) {
        p.bits = MPPropKindBits(type);
    } else {
        p.kind = MPPROPTYPE_UNKNOWN;  // refused below
    }
    const uint32_t index = mpProperties->AddProperty(p, FloatValue(value));
    if (index != kMPRefused && type == MPPROPTYPE_FLOAT_ANIM_PROGRESS) mpProperties->SetProgressIndex(index);
    return index;
}

uint32_t Entity::MPPropAddBool(bool value, uint32_t type, uint32_t flags, const char* name) {
    if (!mpProperties) return kMPRefused;
    MPValue v;
    v.b = value ? 1 : 0;
    return mpProperties->Add(type == MPPROPTYPE_BOOL ? type : MPPROPTYPE_UNKNOWN, flags, v, name);
}

uint32_t Entity::MPPropAddVec(const Vector& value, uint32_t type, uint32_t flags, const char* name) {
    if (!mpProperties) return kMPRefused;
    const bool vector = type >= MPPROPTYPE_VEC_ANGLEY && type <= MPPROPTYPE_VEC_POS;
    return mpProperties->Add(vector ? type : MPPROPTYPE_UNKNOWN, flags, VecValue(value), name);
}

uint32_t Entity::MPPropAddInt(int32_t value, uint32_t type, uint32_t flags, int32_t min, int32_t max, const char* name) {
    if (!mpProperties) return kMPRefused;
    MPProperty p;
    p.kind = type == MPPROPTYPE_INT ? type : MPPROPTYPE_UNKNOWN;
    p.flags = flags;
    p.name = name ? name : "";
    p.intMin = min;
    p.intMax = max > min ? max : min;
    p.bits = MPPropIntBits(p.intMin, p.intMax);
    MPValue v;
    v.i = value;
    return mpProperties->AddProperty(p, v);
}

uint32_t Entity::MPPropAddEntity(Entity* value, uint32_t flags, const char* name) {
    if (!mpProperties) return kMPRefused;
    MPValue v;
    v.entity = value;
    return mpProperties->Add(MPPROPTYPE_ENTITY, flags, v, name);
}

uint32_t Entity::MPPropAddAnim(const MPAnimValue& value, uint32_t flags, const char* name) {
    if (!mpProperties) return kMPRefused;
    MPValue v;
    v.animProgress = value.attackTime;
    v.animIndex = value.index;
    v.animLoop = value.loop;
    const uint32_t index = mpProperties->Add(MPPROPTYPE_ANIM, flags, v, name);
    if (index != kMPRefused) mpProperties->SetAnimIndex(index);
    return index;
}

// ---- Sets ----

namespace {
// The property of the index when it is one of the kinds; null otherwise.
MPProperty* Kind(MPPropertyContainer* c, uint32_t index, std::initializer_list<uint32_t> kinds) {
    MPProperty* p = c ? c->Get(index) : nullptr;
    if (!p) return nullptr;
    for (uint32_t k : kinds)
        if (p->kind == k) return p;
    return nullptr;
}
}  // namespace

void Entity::MPPropSetFloat(uint32_t index, float value, uint32_t flags) {
    if (Kind(mpProperties, index, {MPPROPTYPE_FLOAT, MPPROPTYPE_FLOAT_POSY, MPPROPTYPE_FLOAT_ANIM_PROGRESS}))
        mpProperties->Set(index, FloatValue(value), uint8_t(flags != 0));
}

void Entity::MPPropSetBool(uint32_t index, bool value, uint32_t flags) {
    if (!Kind(mpProperties, index, {MPPROPTYPE_BOOL})) return;
    MPValue v;
    v.b = value ? 1 : 0;
    mpProperties->Set(index, v, uint8_t(flags != 0));
}

void Entity::MPPropSetVec(uint32_t index, const Vector& value, uint32_t flags) {
    if (Kind(mpProperties, index,
             {MPPROPTYPE_VEC_ANGLEY, MPPROPTYPE_VEC_ANGLEXY, MPPROPTYPE_VEC_SCALE, MPPROPTYPE_VEC_POS, MPPROPTYPE_VEC_POSXZ}))
        mpProperties->Set(index, VecValue(Vector(value.x, value.y, value.z, 1.0f)), uint8_t(flags != 0));
}

void Entity::MPPropSetVec3(uint32_t index, float x, float y, float z, uint32_t flags) { MPPropSetVec(index, Vector(x, y, z, 1.0f), flags); }

void Entity::MPPropSetInt(uint32_t index, int32_t value, uint32_t flags) {
    if (!Kind(mpProperties, index, {MPPROPTYPE_INT})) return;
    MPValue v;
    v.i = value;
    mpProperties->Set(index, v, uint8_t(flags != 0));
}

void Entity::MPPropSetEntity(uint32_t index, Entity* value, uint32_t flags) {
    if (!Kind(mpProperties, index, {MPPROPTYPE_ENTITY})) return;
    MPValue v;
    v.entity = value;
    mpProperties->Set(index, v, uint8_t(flags != 0));
}

void Entity::MPPropSetAnim(uint32_t index, const MPAnimValue& value, uint32_t flags) {
    if (!Kind(mpProperties, index, {MPPROPTYPE_ANIM})) return;
    MPValue v;
    v.animProgress = value.attackTime;
    v.animIndex = value.index;
    v.animLoop = value.loop;
    mpProperties->Set(index, v, uint8_t(flags != 0));
}

void Entity::MPPropSetEncAnimData(uint32_t animIndex, uint32_t progressIndex, uint32_t packed) {
    const uint8_t b0 = uint8_t(packed), b1 = uint8_t(packed >> 8), b2 = uint8_t(packed >> 16);
    MPAnimValue a;
    a.index = (b0 == 127 || b0 == 255) ? 255 : uint8_t(b0 & 127);
    a.loop = (b0 & 0x80) ? 1 : 0;
    a.attackTime = float(b1) / 255.0f;
    MPPropSetAnim(animIndex, a, 0);
    MPPropSetFloat(progressIndex, float(b2) / 255.0f, 0);
}

void Entity::MPPropSetPosition(const Vector& position, uint32_t flags) {
    MPPropSetVec(kPosXZ, Vector(position.x, 0.0f, position.z, 1.0f), flags);
    MPPropSetFloat(kPosY, position.y, flags);
}

void Entity::MPPropSetRotation(const Vector& angles) { MPPropSetVec(kRot, angles, 0); }

void Entity::MPPropSetLocation(const Matrix& m, uint32_t flags) {
    Vector position, angles, scale;
    m.Decompose(&position, &angles, &scale);
    MPPropSetPosition(position, flags);
    MPPropSetVec(kRot, angles, flags);
}

// ---- Reads ----

float Entity::MPPropGetFloat(uint32_t index) {
    const MPProperty* p = mpProperties ? mpProperties->Get(index) : nullptr;
    return p ? p->current.f : 0.0f;
}
bool Entity::MPPropGetBool(uint32_t index) {
    const MPProperty* p = mpProperties ? mpProperties->Get(index) : nullptr;
    return p ? (p->current.b & 1) != 0 : false;
}
Vector Entity::MPPropGetVec(uint32_t index) {
    const MPProperty* p = mpProperties ? mpProperties->Get(index) : nullptr;
    return p ? p->current.v : Vector(0.0f, 0.0f, 0.0f, 0.0f);
}
int32_t Entity::MPPropGetInt(uint32_t index) {
    const MPProperty* p = mpProperties ? mpProperties->Get(index) : nullptr;
    return p ? p->current.i : 0;
}
Entity* Entity::MPPropGetEntity(uint32_t index) {
    const MPProperty* p = mpProperties ? mpProperties->Get(index) : nullptr;
    return p ? p->current.entity.Get() : nullptr;
}
uint32_t Entity::MPPropGetType(uint32_t index) {
    const MPProperty* p = mpProperties ? mpProperties->Get(index) : nullptr;
    return p ? p->kind : MPPROPTYPE_UNKNOWN;
}
MPAnimValue Entity::MPPropGetAnim(uint32_t index) {
    MPAnimValue a;
    const MPProperty* p = mpProperties ? mpProperties->Get(index) : nullptr;
    if (!p) return a;
    a.attackTime = p->current.animProgress;
    a.index = p->current.animIndex;
    a.loop = p->current.animLoop;
    return a;
}
bool Entity::MPPropHasChanged(uint32_t index) {
    const MPProperty* p = mpProperties ? mpProperties->Get(index) : nullptr;
    return p && p->changed;
}
bool Entity::MPPropHasChangedPosition() { return MPPropHasChanged(kPosXZ) || MPPropHasChanged(kPosY); }
bool Entity::MPPropHasChangedRotation() { return MPPropHasChanged(kRot); }

void Entity::MPPropRaiseFlag(uint32_t index, uint32_t bits) {
    if (MPProperty* p = mpProperties ? mpProperties->Get(index) : nullptr) p->flags |= bits;
}
void Entity::MPPropClearFlag(uint32_t index, uint32_t bits) {
    if (MPProperty* p = mpProperties ? mpProperties->Get(index) : nullptr) p->flags &= ~bits;
}
void Entity::MPPropRaisePositionFlag(uint32_t bits) {
    MPPropRaiseFlag(kPosXZ, bits);
    MPPropRaiseFlag(kPosY, bits);
}
void Entity::MPPropClearPositionFlag(uint32_t bits) {
    MPPropClearFlag(kPosXZ, bits);
    MPPropClearFlag(kPosY, bits);
}
void Entity::MPPropRaiseRotationFlag(uint32_t bits) { MPPropRaiseFlag(kRot, bits); }
void Entity::MPPropClearRotationFlag(uint32_t bits) { MPPropClearFlag(kRot, bits); }

void Entity::ReplicateAnimEnable(uint32_t animIndex, uint32_t progressIndex) {
    // The mesh keeps each index in a byte: one past it names no property (255), not the
    // property its low byte would name.
    animIndex = std::min<uint32_t>(animIndex, kNoMPProperty);
    progressIndex = std::min<uint32_t>(progressIndex, kNoMPProperty);
    if (!GetSceneContentServices().SetAnimationReplication(this, true, animIndex, progressIndex)) return;
    GetGameServices().AddMeshToAnimationList(this);
    GetGameServices().AddMeshToFinishList(this);
}

void Entity::ReplicateAnimDisable() {
    if (!GetSceneContentServices().SetAnimationReplication(this, false, 255, 255)) return;
    GetGameServices().RemoveMeshFromAnimationList(this);
    GetGameServices().RemoveMeshFromFinishList(this);
}

// ---- Engine side ----

void Entity::CreateMPProperties() {
    if (mpProperties) return;
    mpProperties = new MPPropertyContainer(this);
    mpProperties->Add(MPPROPTYPE_VEC_POSXZ, MPPROPFLAG_NULL, VecValue(Vector(0.0f, 0.0f, 0.0f, 1.0f)), "PosXZ");
    mpProperties->Add(MPPROPTYPE_FLOAT_POSY, MPPROPFLAG_NULL, FloatValue(0.0f), "PosY");
    mpProperties->Add(MPPROPTYPE_VEC_ANGLEY, MPPROPFLAG_NULL, VecValue(Vector(0.0f, 0.0f, 0.0f, 1.0f)), "Rot");
    Vector position, angles, scale;
    GetLocalLocationMatrix().Decompose(&position, &angles, &scale);
    MPPropSetPosition(position, 0);
    MPPropSetRotation(angles);
    GetGameServices().RegisterReplicatedEntity(this, false);
}

namespace {
// The containers whose ticks are running, innermost first. What a tick reports (the
// script's property callback, the mesh's animation) may destroy the entity, and the tick
// still reads its container after that returns: the tick frees it once it ends.
struct TickingContainer {
    MPPropertyContainer* container;
    TickingContainer* outer;
    bool orphaned;
};
TickingContainer* gTicking = nullptr;
}  // namespace

void Entity::MPPropFree() {
    for (TickingContainer* t = gTicking; t; t = t->outer)
        if (t->container == mpProperties) {
            t->orphaned = true;
            mpProperties = nullptr;
            return;
        }
    delete mpProperties;
    mpProperties = nullptr;
}

void Entity::MPPropSerialize(MPFieldBuffer& out, uint64_t& snapMask, uint64_t& ownerRelevantMask) {
    if (mpProperties) mpProperties->Serialize(out, snapMask, ownerRelevantMask);
}

bool Entity::MPPropDeserialize(const MPFieldBuffer& in, uint64_t dirtyMask, uint64_t snapMask, uint64_t time, bool create) {
    if (!mpProperties || !mpProperties->Deserialize(in, dirtyMask, snapMask, time, create)) return false;
    GetGameServices().RegisterReplicatedEntity(this, false);
    return true;
}

void Entity::MPPropApplyReceived(uint64_t time, uint64_t previousTime) {
    const uint64_t mask = GetReceivedChangeMask();
    SetReceivedChangeMask(0);
    if (mpProperties) mpProperties->ApplyReceived(mask, time, previousTime);
}

bool Entity::MPPropTick(uint64_t time) {
    if (!mpProperties) return false;
    TickingContainer frame{mpProperties, gTicking, false};
    gTicking = &frame;
    const bool pending = frame.container->Tick(time);
    gTicking = frame.outer;
    if (!frame.orphaned) return pending;
    delete frame.container;  // the entity went during its tick
    return false;
}

Vector Entity::MPPropGetPosition() {
    const Vector xz = MPPropGetVec(kPosXZ);
    return Vector(xz.x, MPPropGetFloat(kPosY), xz.z, 1.0f);
}

Vector Entity::MPPropGetRotationValue() { return MPPropGetVec(kRot); }

void Entity::MPPropApplyLocation() {
    if (!mpProperties) return;
    Matrix m;
    m.LoadComplexTransformation(MPPropGetPosition(), MPPropGetRotationValue(), Vector(1.0f, 1.0f, 1.0f, 1.0f));
    SetLocalLocationMatrix(m);
}
