#include "bindings/EntityBindings.h"

#include <lua.hpp>

#include <algorithm>
#include <vector>

#include "bindings/frame/LuaBindingSupport.h"
#include "core/math/BoundingBox4.h"
#include "core/math/Matrix.h"
#include "engine/camera/CameraSubcontrollers.h"
#include "engine/camera/Cameras.h"
#include "engine/entity/EntityBlender.h"
#include "engine/entity/EntityManager.h"
#include "engine/navigation/VerySimpleCharacterController.h"
#include "scene/entities/EnvelopeEntity.h"
#include "scene/entities/FlagEntity.h"
#include "scene/entities/InGameUIEntity.h"
#include "scene/entities/TriggerEntity.h"
#include "scene/mesh/MeshEntity.h"
#include "ui/elements/UIElement.h"

namespace {

class LastingCameras {
public:
    ~LastingCameras() {
        for (BaseCamera* camera : cameras) LuaBindingDestroy(camera);
    }
    std::vector<BaseCamera*> cameras;
};

LastingCameras gLastingCameras;

class LastingIterators {
public:
    ~LastingIterators() {
        for (EntitySetIterator* iterator : iterators) LuaBindingDestroy(iterator);
    }
    std::vector<EntitySetIterator*> iterators;
};

LastingIterators gLastingIterators;

}  // namespace

void KeepCameraUntilExit(BaseCamera* camera) {
    if (camera) gLastingCameras.cameras.push_back(camera);
}

void CameraSetBackgroundColor(BaseCamera* self, const Vector& color) {
    if (self) self->SetBackgroundColor(color.x, color.y, color.z, color.w);
}

void RTSCameraApplyAcceleration(LCRTSCameraSubcontroller* self, const Vector& acceleration, const Vector*) {
    if (self) self->ApplyAcceleration(acceleration, nullptr);
}

VerySimpleCharacterController CharacterControllerInstance(Entity* owner, float radius) {
    return VerySimpleCharacterController(owner, radius);
}

OBBox4 MatrixAsOBBox(const Matrix& m) {
    OBBox4 box;
    box.center = m.r[0];
    box.xextent = m.r[1];
    box.yextent = m.r[2];
    box.zextent = m.r[3];
    return box;
}

void CharacterControllerSetMoveConstraints(VerySimpleCharacterController* self, const Matrix& constraints) {
    if (self) self->SetMoveConstraints(MatrixAsOBBox(constraints));
}

// ---- Entities ----

void EntityBindingPushLastingIterator(lua_State* L, void* iterator, const char* type) {
    if (iterator) gLastingIterators.iterators.push_back(static_cast<EntitySetIterator*>(iterator));
    LuaBindingPushObject(L, iterator, type);
}

LOSResult LOSResultInstance() { return LOSResult(); }
SimpleGUID SimpleGUIDInstance() { return SimpleGUID(); }
LuaEntityPointer EntityPointerInstance() { return LuaEntityPointer(); }
LuaEntityPointer EntityPointerInstanceOf(Entity* target) { return LuaEntityPointer(target); }
EntitySetIterator SetIteratorInstance() { return EntitySetIterator(); }
EntitySetIterator SetIteratorInstanceOfSet(const char* setName) { return EntitySetIterator(setName); }
EntitySetIterator SetIteratorInstanceOfEntity(Entity* entity) { return EntitySetIterator(entity); }
NearEntitiesGatherer GathererInstance() { return NearEntitiesGatherer(); }
EntitiesVicinityMonitor VicinityMonitorInstance() { return EntitiesVicinityMonitor(); }
EntityBlender BlenderInstance(Entity* entity) { return EntityBlender(entity); }
AnimationParams AnimationParamsInstance() { return AnimationParams(); }
LuaProcTgtAnimPointer TargetingPointerInstance() { return LuaProcTgtAnimPointer(); }
LuaProcTgtAnimPointer TargetingPointerInstanceOf(ProceduralTargetingAnimation* target) {
    LuaProcTgtAnimPointer p;
    p.Set(target);
    return p;
}

Entity* EntityManagerCreateByGUID(EntityManager* self, const SimpleGUID& templateGuid, Entity* parent) {
    return self ? self->CreateEntityInGameByGUID(templateGuid, parent, Matrix::IDENTITY, 0, nullptr) : nullptr;
}

Entity* EntityManagerCreateByGUIDAt(EntityManager* self, const SimpleGUID& templateGuid, Entity* parent,
                                    const Matrix& local, uint32_t creationFlags, Player* owner) {
    return self ? self->CreateEntityInGameByGUID(templateGuid, parent, local, creationFlags, owner) : nullptr;
}

Entity* EntityManagerCreateByName(EntityManager* self, const char* templateName, Entity* parent) {
    return self ? self->CreateEntityInGame(templateName, parent, Matrix::IDENTITY, 0, nullptr) : nullptr;
}

Entity* EntityManagerCreateEntity(EntityManager* self, const char* templateName, Entity* parent) {
    return self ? self->CreateEntity(templateName, parent, Matrix::IDENTITY, 0, nullptr) : nullptr;
}

Entity* EntityManagerCreateEntityAt(EntityManager* self, const char* templateName, Entity* parent,
                                    const Matrix& local, uint32_t creationFlags) {
    return self ? self->CreateEntity(templateName, parent, local, creationFlags, nullptr) : nullptr;
}

FlagEntity* EntityManagerGetNearestFlag(EntityManager* self, const Vector& position, float maxDistance,
                                        FlagEntity* excluded) {
    return self ? static_cast<FlagEntity*>(self->GetNearestFlag(position, maxDistance, excluded)) : nullptr;
}

FlagEntity* EntityManagerGetNearestFlagToward(EntityManager* self, const Vector& position, float maxDistance,
                                              FlagEntity* excluded, const Vector& direction, float minCosine) {
    return self ? static_cast<FlagEntity*>(self->GetNearestFlag(position, maxDistance, excluded, direction, minCosine))
                : nullptr;
}

bool EntityManagerLOS(EntityManager* self, const Vector& start, const Vector& end, uint32_t flags, LOSResult* result,
                      uint32_t mask, Entity* ignore1, Entity* ignore2) {
    if (!self) return false;
    const bool clear = self->LOS(start, end, flags, result, mask, ignore1, ignore2);
    if (result) static_cast<ScriptLOSResult*>(result)->entity.Assign(result->Entity);
    return clear;
}

void EntityManagerLogMPEntities(EntityManager*) {}

void EntityPointerSet(LuaEntityPointer* self, Entity* target) {
    if (self) self->Assign(target);
}

bool EntityPointerIsNull(const LuaEntityPointer* self) { return !self || !self->Get(); }

void EntityPointerSetNull(LuaEntityPointer* self) {
    if (self) self->Assign(nullptr);
}

void BlenderSetColorMultiplier(EntityBlender* self, const Vector& color) {
    if (self) self->SetColorMultiplier(color.x, color.y, color.z, color.w);
}

Entity* EntitySetParent(Entity* self, Entity* parent) {
    if (!self) return nullptr;
    self->SetParent(parent);
    return self->GetParent();
}

Entity* EntitySetParentInPlace(Entity* self, Entity* parent) {
    if (!self) return nullptr;
    self->SetParentInPlace(parent);
    return self->GetParent();
}

const char* EntitySetName(Entity* self, const char* name) {
    if (!self) return nullptr;
    self->SetName(name);
    return self->GetName();
}

void EntitySetLocalRotation(Entity* self, const Vector& r) {
    if (self) self->SetLocalRotation(Quaternion(r.x, r.y, r.z, r.w));
}

void EntitySetGlobalRotation(Entity* self, const Vector& r) {
    if (self) self->SetGlobalRotation(Quaternion(r.x, r.y, r.z, r.w));
}

void EntitySetLocalRotation3(Entity* self, float x, float y, float z) {
    EntitySetLocalRotation(self, Vector(x, y, z, 0.0f));
}

void EntitySetGlobalRotation3(Entity* self, float x, float y, float z) {
    EntitySetGlobalRotation(self, Vector(x, y, z, 0.0f));
}

Vector EntityGetLocalRotation(Entity* self) {
    const Quaternion q = self ? self->GetLocalRotation() : Quaternion::ZERO;
    return Vector(q.x, q.y, q.z, q.w);
}

Vector EntityGetGlobalRotation(Entity* self) {
    const Quaternion q = self ? self->GetGlobalRotation() : Quaternion::ZERO;
    return Vector(q.x, q.y, q.z, q.w);
}

uint32_t EntityCheckFlag(const Entity* self, uint32_t mask) { return self ? self->GetFlags() & mask : 0; }

void EntityHide(Entity* self, bool recursive) {
    if (self) self->RaiseFlag(ENTITYFLAG_HIDDEN, recursive);
}

void EntityShow(Entity* self, bool recursive) {
    if (self) self->ClearFlag(ENTITYFLAG_HIDDEN, recursive);
}

void EntityGhostModeOn(Entity* self, bool recursive) {
    if (self) self->RaiseFlag(ENTITYFLAG_GHOSTMODE, recursive);
}

void EntityGhostModeOff(Entity* self, bool recursive) {
    if (self) self->ClearFlag(ENTITYFLAG_GHOSTMODE, recursive);
}

const char* EntityGetTemplateFullName(const Entity* self, bool) { return self ? self->GetTemplateFullName() : nullptr; }

const char* EntityGetTemplatePropertyValueAsString(const Entity* self, const char* propertyName) {
    static char buffer[4096];
    if (!self || !self->GetTemplatePropertyValueAsString(propertyName, buffer, sizeof buffer)) return nullptr;
    return buffer;
}

Entity* EntityGetChild(const Entity* self, uint32_t index) {
    return self && index < self->GetChildrenCount() ? self->GetChild(index) : nullptr;
}

uint32_t EntityMPPropAddEntity(Entity* self, uint32_t multiplayerId, uint32_t flags, const char* name) {
    if (!self) return 0xFFFFFFFFu;
    return self->MPPropAddEntity(gEntityManager ? gEntityManager->GetEntityByMID(multiplayerId) : nullptr, flags, name);
}

uint32_t EntityMPPropAddAnim(Entity* self, uint32_t animation, uint32_t flags, const char* name) {
    if (!self) return 0xFFFFFFFFu;
    MPAnimValue value;
    value.index = static_cast<uint8_t>(std::min<uint32_t>(animation, 255));
    return self->MPPropAddAnim(value, flags, name);
}

void EntityMPPropSetPosition(Entity* self, const Vector& position, bool flags) {
    if (self) self->MPPropSetPosition(position, flags);
}

void EntityMPPropSetRotation(Entity* self, const Vector& anglesDegrees, bool) {
    if (self) self->MPPropSetRotation(anglesDegrees);
}

void EntityMPPropSetLocation(Entity* self, const Matrix& m, bool flags) {
    if (self) self->MPPropSetLocation(m, flags);
}

void EntityMPPropSetVec3(Entity* self, uint32_t index, const Vector& value, bool flags) {
    if (self) self->MPPropSetVec3(index, value.x, value.y, value.z, flags);
}

void EntityMPPropSetEntity(Entity* self, uint32_t index, Entity* value) {
    if (self) self->MPPropSetEntity(index, value, 0);
}

void EntityReplicateAnimEnable(Entity* self, Entity*, uint32_t animIndex, uint32_t progressIndex) {
    if (self) self->ReplicateAnimEnable(animIndex, progressIndex);
}

void EntityOnReplicatedAnim(Entity* self, Entity*, uint32_t property) {
    if (self) self->OnReplicatedAnim(property);
}

void EntityOnReplicatedAnimProgress(Entity* self, Entity*, uint32_t property) {
    if (self) self->OnReplicatedAnimProgress(property);
}

uint32_t EntitySetLayer(Entity* self, uint32_t layer) {
    if (!self) return 0;
    self->SetLayer(static_cast<uint8_t>(std::min<uint32_t>(layer, 255)));
    return self->GetLayer();
}

uint32_t MeshStartAnimation(MeshEntity* self, const char* node, const char* animation, AnimationParams* params) {
    return self && self->StartAnimation(node, animation, params) ? 1 : 0;
}

void MeshGetGlobalHierarchyPosition(MeshEntity* self, int32_t node, Matrix* out) {
    if (self && out) self->GetGlobalHierarchyPosition(node, *out);
}

void MeshGetGlobalHierarchyPositionVector(MeshEntity* self, int32_t node, Vector* out) {
    if (self && out) self->GetGlobalHierarchyPositionVector(node, *out);
}

void MeshSetLocalColor(MeshEntity* self, const Vector& color) {
    auto byte = [](float c) {
        const float v = c != c ? 0.0f : std::clamp(c, 0.0f, 1.0f);
        return static_cast<uint8_t>(v * 255.0f + 0.5f);
    };
    if (self) self->SetLocalColor(HDRColor(byte(color.x), byte(color.y), byte(color.z), byte(color.w), 1.0f));
}

void MeshSetShaderPreset(MeshEntity* self, const char* name) {
    if (self) self->SetShaderPreset(NameString(name ? name : ""));
}

bool TargetingGetTargetPoint(const ProceduralTargetingAnimation* self, Vector* out) {
    return self && out && self->GetTargetPoint(*out);
}

void FlagGetGlobalPositionOnPath(const FlagEntity* self, const FlagEntity* flag, float distance, Matrix* out,
                                 bool wrap, const FlagEntity* previous) {
    if (self && out) self->GetGlobalPositionOnPath(flag, distance, *out, wrap, previous);
}

void FlagGetGlobalPositionOnPathAt(const FlagEntity* self, uint32_t index, float distance, Matrix* out, bool wrap,
                                   const FlagEntity* previous) {
    if (self && out) self->GetGlobalPositionOnPath(index, distance, *out, wrap, previous);
}

Entity* TriggerGetEntityInside(const TriggerEntity* self, uint32_t index) {
    return self && index < self->GetEntitiesInsideCount() ? self->GetEntityInside(index) : nullptr;
}

void InGameUISetUIElement(InGameUIEntity* self, UIElement* element) {
    if (self) self->SetUIElement(element);
}

void EnvelopeGetLinearColor(const ColorEnvelopeEntity* self, Vector* out) {
    if (self && out) self->GetLinearColor(*out);
}
