#pragma once
#include <cstdint>

#include "core/math/Vector.h"
#include "engine/entity/LuaEntityPointer.h"
#include "engine/entity/SpatialQueries.h"
#include "scene/animation/AnimationParams.h"
#include "scene/animation/ProceduralTargetingAnimation.h"

struct lua_State;
// The arithmetic the entity, camera and character-controller packages do in their
// bindings: the script forms whose arguments differ from the natives'. Each helper takes
// the bound object as `self` (the packages call them as methods, tolua_outside) and does
// nothing with a null one.
//
// Threads: main thread only, like every script.

struct Vector;
struct OBBox4;
class Matrix;
class Entity;
class BaseCamera;
class LCRTSCameraSubcontroller;
class VerySimpleCharacterController;
class EntityManager;
class FlagEntity;
class MeshEntity;
class ProceduralTargetingAnimation;
class TriggerEntity;
class InGameUIEntity;
class ColorEnvelopeEntity;
class EntityBlender;
class UIElement;
class Player;
struct SimpleGUID;
struct LOSResult;
struct MPAnimValue;

// ---- Cameras ----
// The colour's four components, in order.
void CameraSetBackgroundColor(BaseCamera* self, const Vector& color);
// Cameras a script made with `new` live until the program ends: they are destroyed and
// released then, after every script has gone.
void KeepCameraUntilExit(BaseCamera* camera);
// The second Vector cannot describe the native's bounding box (min and max), so the
// acceleration is applied without bounds whatever it holds.
void RTSCameraApplyAcceleration(LCRTSCameraSubcontroller* self, const Vector& acceleration, const Vector* unused);

// ---- Character controller ----
// A controller of the owner with the radius; the binding copies it into a script-owned
// object.
VerySimpleCharacterController CharacterControllerInstance(Entity* owner, float radius);
// The matrix's rows read as a box: centre, then the three half axes.
OBBox4 MatrixAsOBBox(const Matrix& m);
void CharacterControllerSetMoveConstraints(VerySimpleCharacterController* self, const Matrix& constraints);

// ---- Entities ----
// A line-of-sight result as scripts hold it: the engine's record, with the entity hit
// also kept as a safe pointer, which reads null once that entity is gone. Every
// LOSResult a script holds is one of these (LOSResult.Instance makes them).
struct ScriptLOSResult : LOSResult {
    LuaEntityPointer entity;
};
// Script constants without a native of their own: the "visible in ... view" settings
// (SetVisibleInCombatView), the custom temporary shader preset flag
// (TemporarySetShaderPreset) and the scene-parameter activation flags.
enum : uint32_t {
    ENTITYOVERRIDETEMPLATEFLAG_TEMPLATEDEFAULT = VISIBILITY_TEMPLATE_DEFAULT,
    ENTITYOVERRIDETEMPLATEFLAG_TRUE = VISIBILITY_TRUE,
    ENTITYOVERRIDETEMPLATEFLAG_FALSE = VISIBILITY_FALSE,
};
enum : uint32_t { MESH_SHADER_PRESET_USE_CUSTOM_TEMPORARY = 1 };
enum : uint32_t {
    ACTIVATESCENEPARAMSETFLAG_BYGAMETIME = 0,
    ACTIVATESCENEPARAMSETFLAG_BYGAMEPLAYTIME = 4,
    ACTIVATESCENEPARAMSETFLAG_BYSYSTEMTIME = 8,
    ACTIVATESCENEPARAMSETFLAG_OVERRIDEMODE = 1,
    ACTIVATESCENEPARAMSETFLAG_KILLOVERRIDEMODEIFANY = 2,
    ACTIVATESCENEPARAMSETFLAG_RESET = 64,
};
// The animation value of a replicated animation property, under its script name.
using ReplicatedAnim = MPAnimValue;


// EntitySetIterator's `new` (which has no delete): the iterator lives until the program
// ends, when it is destroyed and released, after every script has gone; pushed without
// a collector.
void EntityBindingPushLastingIterator(lua_State* L, void* iterator, const char* type);

// Values a script owns, made zeroed or empty.
LOSResult LOSResultInstance();
SimpleGUID SimpleGUIDInstance();
LuaEntityPointer EntityPointerInstance();
LuaEntityPointer EntityPointerInstanceOf(Entity* target);
EntitySetIterator SetIteratorInstance();
EntitySetIterator SetIteratorInstanceOfSet(const char* setName);
EntitySetIterator SetIteratorInstanceOfEntity(Entity* entity);
NearEntitiesGatherer GathererInstance();
EntitiesVicinityMonitor VicinityMonitorInstance();
EntityBlender BlenderInstance(Entity* entity);
AnimationParams AnimationParamsInstance();
LuaProcTgtAnimPointer TargetingPointerInstance();
LuaProcTgtAnimPointer TargetingPointerInstanceOf(ProceduralTargetingAnimation* target);

// The entity manager's script forms: the short creation forms place the entity at the
// identity, with no creation flags and no owner.
Entity* EntityManagerCreateByGUID(EntityManager* self, const SimpleGUID& templateGuid, Entity* parent);
Entity* EntityManagerCreateByGUIDAt(EntityManager* self, const SimpleGUID& templateGuid, Entity* parent,
                                    const Matrix& local, uint32_t creationFlags, Player* owner);
Entity* EntityManagerCreateByName(EntityManager* self, const char* templateName, Entity* parent);
Entity* EntityManagerCreateEntity(EntityManager* self, const char* templateName, Entity* parent);
Entity* EntityManagerCreateEntityAt(EntityManager* self, const char* templateName, Entity* parent,
                                    const Matrix& local, uint32_t creationFlags);
// The nearest flag entity; the short form looks in every direction.
FlagEntity* EntityManagerGetNearestFlag(EntityManager* self, const Vector& position, float maxDistance,
                                        FlagEntity* excluded);
FlagEntity* EntityManagerGetNearestFlagToward(EntityManager* self, const Vector& position, float maxDistance,
                                              FlagEntity* excluded, const Vector& direction, float minCosine);
// The query; a result given also keeps the entity hit as its safe pointer.
bool EntityManagerLOS(EntityManager* self, const Vector& start, const Vector& end, uint32_t flags,
                      LOSResult* result, uint32_t mask, Entity* ignore1, Entity* ignore2);
void EntityManagerLogMPEntities(EntityManager* self);

void EntityPointerSet(LuaEntityPointer* self, Entity* target);
bool EntityPointerIsNull(const LuaEntityPointer* self);
void EntityPointerSetNull(LuaEntityPointer* self);

void BlenderSetColorMultiplier(EntityBlender* self, const Vector& color);

// Entity: the forms whose arguments or results differ from the natives'.
// SetParent(null) attaches to the scene root; the result is the parent afterwards.
Entity* EntitySetParent(Entity* self, Entity* parent);
Entity* EntitySetParentInPlace(Entity* self, Entity* parent);
// The name afterwards.
const char* EntitySetName(Entity* self, const char* name);
// Rotations cross as vectors holding the quaternion's x, y, z, w.
void EntitySetLocalRotation(Entity* self, const Vector& rotation);
void EntitySetGlobalRotation(Entity* self, const Vector& rotation);
// The three-number forms: the Vector (x, y, z, 0) through the Vector form.
void EntitySetLocalRotation3(Entity* self, float x, float y, float z);
void EntitySetGlobalRotation3(Entity* self, float x, float y, float z);
Vector EntityGetLocalRotation(Entity* self);
Vector EntityGetGlobalRotation(Entity* self);
// The entity's flags the mask selects.
uint32_t EntityCheckFlag(const Entity* self, uint32_t mask);
void EntityHide(Entity* self, bool recursive);
void EntityShow(Entity* self, bool recursive);
void EntityGhostModeOn(Entity* self, bool recursive);
void EntityGhostModeOff(Entity* self, bool recursive);
const char* EntityGetTemplateFullName(const Entity* self, bool unused);
// Null when the template has no such property (or no text form of it).
const char* EntityGetTemplatePropertyValueAsString(const Entity* self, const char* propertyName);
// Null outside the list.
Entity* EntityGetChild(const Entity* self, uint32_t index);
// The entity of that multiplayer id (null for none) as the initial value.
uint32_t EntityMPPropAddEntity(Entity* self, uint32_t multiplayerId, uint32_t flags, const char* name);
// An animation property whose initial value plays the animation of that index.
uint32_t EntityMPPropAddAnim(Entity* self, uint32_t animation, uint32_t flags, const char* name);
void EntityMPPropSetPosition(Entity* self, const Vector& position, bool flags);
void EntityMPPropSetRotation(Entity* self, const Vector& anglesDegrees, bool unused);
void EntityMPPropSetLocation(Entity* self, const Matrix& m, bool flags);
void EntityMPPropSetVec3(Entity* self, uint32_t index, const Vector& value, bool flags);
void EntityMPPropSetEntity(Entity* self, uint32_t index, Entity* value);
void EntityReplicateAnimEnable(Entity* self, Entity* unused, uint32_t animIndex, uint32_t progressIndex);
void EntityOnReplicatedAnim(Entity* self, Entity* unused, uint32_t property);
void EntityOnReplicatedAnimProgress(Entity* self, Entity* unused, uint32_t property);
// The layer afterwards (ids are bytes).
uint32_t EntitySetLayer(Entity* self, uint32_t layer);

// Mesh entities.
uint32_t MeshStartAnimation(MeshEntity* self, const char* node, const char* animation, AnimationParams* params);
void MeshGetGlobalHierarchyPosition(MeshEntity* self, int32_t node, Matrix* out);
void MeshGetGlobalHierarchyPositionVector(MeshEntity* self, int32_t node, Vector* out);
// The colour's components 0..1 (clamped) as bytes, intensity 1.
void MeshSetLocalColor(MeshEntity* self, const Vector& color);
void MeshSetShaderPreset(MeshEntity* self, const char* name);

bool TargetingGetTargetPoint(const ProceduralTargetingAnimation* self, Vector* out);

void FlagGetGlobalPositionOnPath(const FlagEntity* self, const FlagEntity* flag, float distance, Matrix* out,
                                 bool wrap, const FlagEntity* previous);
void FlagGetGlobalPositionOnPathAt(const FlagEntity* self, uint32_t index, float distance, Matrix* out, bool wrap,
                                   const FlagEntity* previous);
// Null outside the list, without the native's warning.
Entity* TriggerGetEntityInside(const TriggerEntity* self, uint32_t index);
void InGameUISetUIElement(InGameUIEntity* self, UIElement* element);
void EnvelopeGetLinearColor(const ColorEnvelopeEntity* self, Vector* out);
