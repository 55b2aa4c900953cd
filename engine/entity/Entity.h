#pragma once
// Entity: the root of every scene object.
//
// Every entity kind (meshes, lights, triggers, effects, UI recipes, the scene root, the
// game's own kinds) derives from this class, so its members, its constants and the order
// of its virtual operations are fixed for the whole system. An entity is created from an
// EntityTemplate by the EntityManager, lives in the tree under the scene root, and is seen
// by scripts as the Lua class its template names.
//
// Transforms: a local matrix relative to the parent and a global (world) matrix derived
// from it (row vectors, translation in row 3, global = local x parent global). Rotation
// and scale are decomposed on demand and cached until the next change. Every change of
// the global matrix re-registers the world box in the EntityManager's spatial grid.
//
// Threads: main thread only.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/math/BoundingBox4.h"
#include "core/math/HDRColor.h"
#include "core/math/Matrix.h"
#include "core/math/Quaternion.h"
#include "core/rtti/SafePointer.h"
#include "core/rtti/SimpleGUID.h"
#include "core/text/NameString.h"
#include "engine/script/LuaBaseClass.h"

class Entity;
class EntityRenderingContext;
class EntitySoundEmitter;
struct SoundParamWrapper;
class EntitySet;
class EntityTemplate;
struct EntityRenderingContextSetup;
struct EntitySetList;
class Player;
class MPPropertyContainer;
struct MPFieldBuffer;

// ---- Script constants ----
enum : uint32_t {
    ENTITYFLAG_SELECTED = 0x1,
    ENTITYFLAG_HIDDEN = 0x10,
    ENTITYFLAG_GHOSTMODE = 0x20,
    ENTITYFLAG_PARENTNOSCALE = 0x10000,
    ENTITYFLAG_POSTFSE = 0x20000,
    ENTITYFLAG_NORENDERINGCONTEXT = 0x40000,   // no context is made; out of grid list two
    ENTITYFLAG_NORENDERINGCONTEXT2 = 0x80000,  // recreates the context; out of grid list one
    ENTITYFLAG_DISABLE_LOS = 0x200000,
    ENTITYFLAG_DISABLE_UPDATE = 0x400000,
    ENTITYFLAG_COMPOUNDELEMENT = 0x40000000,  // made by a compound entity from one of its elements
    ENTITYFLAG_PICKABLE = 0x80000000u,  // passed to the pick handler by picking
};
enum : uint32_t {
    ENTITYCREATION_DONOTCREATERENDERINGCONTEXT = 1,
    ENTITYCREATION_NOGUIDGENERATION = 2,
    ENTITYCREATION_MULTIPLAYER_AUTHORITY = 16,
    ENTITYCREATION_MULTIPLAYER_PROXY = 32,
    ENTITYCREATION_MULTIPLAYER_STATIC = 64,
};
enum : uint32_t {
    ENTITY_NULL = 0,
    ENTITY_MESH = 1,
    ENTITY_FLAG = 2,
    ENTITY_GRAPH = 3,
    ENTITY_TRIGGER = 4,
    ENTITY_COMPOUND = 5,
    ENTITY_PARTICLE = 6,
    ENTITY_SFX = 7,
    ENTITY_LIGHT = 8,
    ENTITY_SCENEPARAMBOX = 9,
    ENTITY_UIRECIPE = 10,
    ENTITY_INGAMEUI = 11,
    ENTITY_COLOR_ENVELOPE = 12,
    ENTITY_VECTOR_ENVELOPE = 13,
    ENTITY_PROJECT_SPECIFIC = 256,
    ENTITY_UNKNOWN = 4096,
};
enum : uint32_t {
    ENTITYBLOCKRENDERINGMASK_COMBATVIEW = 1,
    ENTITYBLOCKRENDERINGMASK_TACTICALVIEW = 2,
    ENTITYBLOCKRENDERINGMASK_TACTICALVIEWEXTENDED = 4,
};
enum : uint32_t { ENTITYREPLICATION_ONLY_OWNER_RELEVANT = 1 };
enum : uint32_t { SCRIPTCALL_REPEAT = 1, SCRIPTCALL_GAMETIME = 0, SCRIPTCALL_GAMEPLAYTIME = 4, SCRIPTCALL_SYSTEMTIME = 8 };
enum : uint32_t { ENTITYGROUP_NONE = 0 };
constexpr uint16_t NULL_ENTITY_MULTIPLAYER_ID = 4095;

// Enforced rendering flags with a meaning here.
enum : uint32_t { ENFORCED_SELECTED = 2, ENFORCED_MIRRORED = 4, ENFORCED_NO_CORNER_MARKERS = 0x800 };
// Multiplayer roles.
enum : uint8_t { MPROLE_NONE = 0, MPROLE_AUTHORITY = 1, MPROLE_PROXY = 2 };
// "Visible in combat view" / "Visible in tactical view" of an entity.
enum : uint8_t { VISIBILITY_TEMPLATE_DEFAULT = 0, VISIBILITY_TRUE = 1, VISIBILITY_FALSE = 2 };
// The second flags word.
enum : uint32_t { ENTITY_MOUNTED_TO_BONE = 2 };

// The trigger-activator record the scene-content layer allocates for an entity whose
// template "Activates triggers" (owner, radius, list of triggers it is inside).
struct TriggerActivator {
    Entity* owner = nullptr;
    float radius = 0.0f;
    void* triggers = nullptr;
};

// A native object that receives an entity's volume events (triggers call it instead of
// their script methods "OnEnter", "OnExit", "OnCleared"). Not owned by the entity; the
// game layer sets it on its own kinds and keeps it alive as long as the entity.
class EntityEventHandler {
public:
    virtual ~EntityEventHandler() = default;
    virtual void OnEnter(Entity* entity) = 0;
    virtual void OnExit(Entity* entity) = 0;
    virtual void OnCleared() = 0;
};

// A native object that receives picks of an entity (flag 0x80000000).
class EntityPickHandler {
public:
    virtual ~EntityPickHandler() = default;
    virtual void OnPicked(Entity* entity, uint32_t pointerInput) = 0;
};

// The optional gameplay component owned by an entity; receives deferred delete requests.
class EntityGameplayDelegate : public SafePointerRoot {
public:
    virtual void OnRequestDelete(Entity* entity, uint32_t argument) = 0;
};

// A replicated animation property: the fade-in seconds, the animation index (255 none)
// and the loop flag.
struct MPAnimValue {
    float attackTime = 0.0f;
    uint8_t index = 255;
    uint8_t loop = 0;
};
// The 3-byte replicated animation state: byte 0 the index in bits 0 to 6 with the loop
// flag in bit 7, byte 1 the attack time and byte 2 the progress, each a fraction (clamped
// to 0..1) x 255 + 0.5.
void EncodeMPAnimData(uint8_t out[3], const MPAnimValue& value, float progress);

// Bone mount record: the offset under the bone of the mesh parent.
struct EntityBoneMount {
    Matrix offset = Matrix::IDENTITY;
    Vector position{0, 0, 0, 1};
    Quaternion rotation = Quaternion::ZERO;
    Vector scale{1, 1, 1, 0};
    bool rotationValid = false;
    bool scaleValid = false;
    NameString bone;
};

// Line of sight: results and flags (scripts see them). Only LOSFLAG_BINARY is acted on
// by the query itself; the entity kinds' tests interpret the others.
enum : uint32_t { LOSRESULT_NONE = 0, LOSRESULT_ENTITY = 1 };
enum : uint32_t {
    LOSFLAG_BINARY = 1,  // stop at the first blocking candidate
    LOSFLAG_FORCETWOSIDED = 2,
    LOSFLAG_EXACT = 4,
    LOSFLAG_QUERYWALKMAP = 8,
    LOSFLAG_ALLOWCOLLISIONDISABLE = 16,
};

// What blocked a line of sight: the entity, the hit point and the surface normal there.
struct LOSResult {
    uint32_t Result = LOSRESULT_NONE;
    ::Entity* Entity = nullptr;
    Vector Point{0, 0, 0, 1};
    Vector Normal{0, 0, 0, 0};
};

// Cell rectangle of the spatial grid: x and z begin inclusive, end exclusive; -1 = none.
struct EntityCellRange {
    int32_t x0 = -1, z0 = -1, x1 = -1, z1 = -1;
    bool operator==(const EntityCellRange&) const = default;
    bool IsEmpty() const { return x0 >= x1 || z0 >= z1; }
    bool Contains(int32_t x, int32_t z) const { return x >= x0 && x < x1 && z >= z0 && z < z1; }
};

class Entity : public LuaBaseClass {
public:
    Entity();
    ~Entity() override;
    Entity(const Entity&) = delete;
    Entity& operator=(const Entity&) = delete;

    static const RTTIClass* RegisterClass();

    // ---- Virtual operations, in their fixed order (after those of the bases) ----
    const RTTIClass* GetRTTIClass() const override;
    void OnPropertyChanged(const char* propertyName) override { RefreshAfterChange(); }
    void OnPropertyEdited(const char* propertyName, const void* context) override;
    void OnLoaded(uint32_t options) override;
    void Destroy() override;
    const char* GetScriptClassName() const override;
    virtual void InitFromTemplate(EntityTemplate* t, uint32_t creationFlags);
    virtual void ChangeTemplate(EntityTemplate* t);
    virtual HDRColor GetColor() const;
    // After a property or the template changed (OnPropertyChanged lands here too).
    virtual void RefreshAfterChange() {}
    virtual void OnPostLoad() {}  // after a scene loaded the entity
    virtual void ReleaseRenderingContext();
    virtual void RestoreRenderingContext();
    virtual bool IsRenderingContextReleasable() const { return false; }
    virtual void SetLayer(uint8_t layerId);
    virtual const BoundingBox4& GetLocalBoundingBox() const { return localBoundingBox; }
    virtual void InitTriggerActivation();
    // The scheduled-callback operation. 0 deletes the entity as DeleteMe does; other
    // values go to the gameplay delegate (nothing without one). Kinds override it.
    virtual void RequestDelete(uint32_t argument);
    // Line of sight (start, end, flags, query mask, entry fraction, hit record): true
    // when the entity does not block; a blocking entity fills the record.
    virtual bool TestLineOfSight(const Vector& start, const Vector& end, uint32_t flags, uint32_t mask,
                                 float entry, LOSResult* hit) {
        return true;
    }
    virtual void DrawBoundingCornerMarkers(uint32_t flags);  // the markers of the entity's sets
    virtual void GetGlobalBoundingBoxCorners(Vector corners[8]) const;
    virtual void ResetLayerToDefault();
    virtual void ApplyRenderingParams(Entity* other);
    // After the layer's rendering parameters were applied: kinds refresh their visual state.
    virtual void OnLayerApplied() {}
    virtual void DrawHelpers(uint32_t flags) {}
    virtual bool RenderWithoutContext(uint32_t flags) { return true; }
    // Debug drawing of the box grown by 0.01 on every side, placed by the global
    // matrix and moved 2 units towards the camera.
    virtual void DrawBoundingBox(const BoundingBox4& box, const HDRColor& color);
    virtual void AddChild(Entity* child);
    virtual void RemoveChild(Entity* child);
    virtual EntityRenderingContext* CreateRenderingContext() { return nullptr; }
    virtual void UpdateGlobalLocation();
    // The world box about to be registered in the spatial grid; a kind may grow it.
    virtual void OnGlobalLocationChanged(BoundingBox4& worldBox) {}
    virtual void OnGhostModeOn() {}
    virtual void OnGhostModeOff() {}
    // Replicated animation (mesh entities); empty here.
    virtual void OnReplicatedAnim(uint32_t property) {}
    virtual void OnReplicatedAnimProgress(uint32_t property) {}
    virtual void SetRootAnimProgress(float progress) {}

    // ---- Flags ----
    bool CheckFlag(uint32_t bits) const { return (flags & bits) != 0; }
    void RaiseFlag(uint32_t bits, bool recursive);
    void ClearFlag(uint32_t bits, bool recursive);
    void Hide() { RaiseFlag(ENTITYFLAG_HIDDEN, true); }
    void Show() { ClearFlag(ENTITYFLAG_HIDDEN, true); }
    bool IsHidden() const { return CheckFlag(ENTITYFLAG_HIDDEN); }
    bool IsGhostMode() const { return CheckFlag(ENTITYFLAG_GHOSTMODE); }
    uint32_t GetFlags() const { return flags; }

    // ---- Tree ----
    // Keeps the local matrix; null means the scene root.
    void SetParent(Entity* newParent) { SetParentCore(newParent, false, false); }
    // Keeps the global matrix.
    void SetParentInPlace(Entity* newParent) { SetParentCore(newParent, true, false); }
    // fromInit: the creation path, which may attach authority entities.
    void SetParentCore(Entity* newParent, bool keepGlobal, bool fromInit);
    Entity* GetParent() const { return parent; }
    uint32_t GetChildrenCount() const { return children.Count(); }
    Entity* GetChild(uint32_t i) const { return children.GetAt(i); }
    Entity* GetChildByName(const char* childName) const;
    void DeleteChildren();
    void DeleteMe();
    // The entity and its descendants breadth first into buffer (capacity entries); the
    // count. Logs when the buffer fills.
    uint32_t ListMeAndChildren(Entity** buffer, uint32_t capacity);

    // ---- Names and identity ----
    void SetName(const char* newName);
    const char* GetName() const { return name.CStr(); }
    const NameString& GetNameString() const { return name; }
    // Template file name, "_", the first "%03d" no entity uses.
    void MakeUniqueName();
    const SimpleGUID& GetGUID() const { return guid; }
    // Draws random GUIDs until one is free, then enters the GUID index under it.
    void GenerateGUID();
    void SetGUID(const SimpleGUID& g);
    EntityTemplate* GetTemplate() const { return entityTemplate; }
    uint32_t GetType() const { return type; }
    uint32_t GetGroup() const { return group; }
    void SetGroup(uint32_t g) { group = g; }
    // True when the group and the mask share a bit.
    bool IsInGroups(uint32_t mask) const { return (group & mask) != 0; }
    uint32_t GetRandomId() const { return randomId; }
    uint32_t GetReusableId() const { return reusableId; }
    // The template's file name / its full path in the template tree; "" without template.
    const char* GetTemplateName() const;
    const char* GetTemplateFullName() const;
    SimpleGUID GetTemplateGUID() const;
    bool GetTemplatePropertyValueAsString(const char* propertyName, char* buffer, uint32_t size) const;
    bool SetTemplatePropertyFromString(const char* propertyName, const char* text);

    // Kind tests on the template type.
    bool IsKindOf(uint32_t typeId) const;
    bool IsMesh() const { return IsKindOf(ENTITY_MESH); }
    bool IsTrigger() const { return IsKindOf(ENTITY_TRIGGER); }
    bool IsGraph() const { return IsKindOf(ENTITY_GRAPH); }
    bool IsFlag() const { return IsKindOf(ENTITY_FLAG); }
    bool IsGraphNode() const;
    bool IsSFX() const { return IsKindOf(ENTITY_SFX); }
    bool IsCompound() const { return IsKindOf(ENTITY_COMPOUND); }
    bool IsInGameUI() const { return IsKindOf(ENTITY_INGAMEUI); }
    bool IsPartOfCompoundEntity() const { return (flags & ENTITYFLAG_COMPOUNDELEMENT) != 0; }

    // ---- Transforms ----
    Vector GetLocalPosition() const { return localMatrix.r[3]; }
    Vector GetGlobalPosition() const { return globalMatrix.r[3]; }
    Quaternion GetLocalRotation();
    Vector GetLocalScale();
    Quaternion GetGlobalRotation();
    Vector GetGlobalScale();
    const Matrix& GetLocalLocationMatrix() const { return localMatrix; }
    const Matrix& GetGlobalLocationMatrix() const { return globalMatrix; }

    // ---- Sounds (engine/entity/Entity_Sound.cpp; main thread) ----
    // The emitter is made on first use from the global transform; the stop, loop,
    // pause, resume and volume methods never make one. Ids: 0xFFFFFFFF every sound of
    // the entity; a negative channel any channel.
    EntitySoundEmitter* GetSoundEmitter();
    // The new instance id (0: nothing started). Null params: the defaults.
    uint32_t PlaySound(const char* name, const SoundParamWrapper* params);
    void StopSound(uint32_t id, float seconds);
    void StopAllSounds(float seconds) { StopSound(0xFFFFFFFFu, seconds); }
    void ExitLoop(uint32_t id);
    void PauseSound(uint32_t id, float seconds, int32_t channel);
    void ResumeSound(uint32_t id, float seconds, int32_t channel);
    void SetVolume(float target, float seconds, uint32_t curve, uint32_t id);
    void SetVelocityForDopplerEffect(const Vector& velocity);
    void SetSoundAltitudeOverride(float altitude);
    // From every recompute of the global transform, and from destruction (which
    // forgets the emitter).
    void UpdateSoundEmitter();
    void ReleaseSoundEmitter();
    bool HasSoundEmitter() const { return soundEmitter != nullptr; }
    const Matrix& GetInversedGlobalLocationMatrix();
    Vector GetGlobalDirVector() const { return globalMatrix.r[2]; }
    Vector GetGlobalSideVector() const { return globalMatrix.r[0]; }
    float GetDistanceToBoundingBox(const Vector& point) const;
    void SetLocalPosition(const Vector& p);
    void SetLocalPosition3(float x, float y, float z) { SetLocalPosition(Vector(x, y, z, 1)); }
    void SetLocalRotation(const Quaternion& q);
    void SetLocalRotation3(float x, float y, float z);  // degrees about x, y, z
    void SetLocalScale(const Vector& s);
    void SetLocalScale3(float x, float y, float z) { SetLocalScale(Vector(x, y, z, 0)); }
    void SetLocalUScale(float s) { SetLocalScale(Vector(s, s, s, 0)); }
    void SetLocalLocationMatrix(const Matrix& m);
    void SetGlobalLocationMatrix(const Matrix& m);
    void SetGlobalPosition(const Vector& p);
    void SetGlobalPosition3(float x, float y, float z) { SetGlobalPosition(Vector(x, y, z, 1)); }
    void SetGlobalRotation(const Quaternion& q);
    void SetGlobalRotation3(float x, float y, float z);
    void SetGlobalScale(const Vector& s);
    void SetGlobalScale3(float x, float y, float z) { SetGlobalScale(Vector(x, y, z, 0)); }
    void SetGlobalUScale(float s) { SetGlobalScale(Vector(s, s, s, 0)); }
    void CopyLocalLocation(Entity* other);
    void CopyGlobalLocation(Entity* other);
    // Global matrices of the entity (unless skipSelf) and its descendants, parents first.
    void RecomputeGlobalLocations(bool skipSelf);
    // Pushes the global matrices down the tree (without recomputing this one).
    void PropagateGlobalLocation() { RecomputeGlobalLocations(true); }
    void UpdateSpatialRegistration(const BoundingBox4& worldBox);
    void RemoveFromSpatialGrid();
    const EntityCellRange& GetCellRange(uint32_t list) const { return cellRanges[list]; }
    void SetLocalBoundingBox(const BoundingBox4& box);
    BoundingBox4 GetGlobalBoundingBox() const;
    // Cache-valid bytes: local rotation, local scale, global rotation, global scale, inverse.
    enum : uint32_t { CACHE_LOCAL_ROTATION, CACHE_LOCAL_SCALE, CACHE_GLOBAL_ROTATION, CACHE_GLOBAL_SCALE, CACHE_INVERSE };
    bool IsCacheValid(uint32_t which) const { return cacheValid[which] != 0; }

    // ---- Bone mounts ----
    const char* GetMountBone() const { return mount ? mount->bone.CStr() : ""; }
    void SetMountBone(const char* bone);
    Matrix GetMountLocation() const { return mount ? mount->offset : Matrix::IDENTITY; }
    void SetMountLocation(const Matrix& m);
    Vector GetMountPosition() const;
    void SetMountPosition(const Vector& p);
    Quaternion GetMountRotation() const;
    void SetMountRotation(const Quaternion& q);
    Vector GetMountScale() const;
    void SetMountScale(const Vector& s);
    // Applies the mount record again through the mesh parent (after its template changed).
    void UpdateMountToParentBone();
    uint32_t GetMountFlags() const { return mountFlags; }
    void SetMountFlags(uint32_t bits, bool on) { mountFlags = on ? (mountFlags | bits) : (mountFlags & ~bits); }

    // ---- Rendering ----
    EntityRenderingContext* GetRenderingContext() const { return renderingContext; }
    // The sets the entity belongs to, sorted by set GUID (kept by EntitySet).
    Dynarray<EntitySet*>& EntitySets() { return entitySets; }
    // Set membership by name. AddToSet with create makes a missing set (after the
    // manager has dropped its empty sets); without it a missing set is left alone.
    void AddToSet(const char* setName, bool create);
    void RemoveFromSet(const char* setName);
    uint32_t GetSetsCount() const { return entitySets.Count(); }
    // Null for an index not below the count.
    const char* GetSetName(uint32_t index) const;
    void DeleteRenderingContext();
    void RecreateRenderingContext(bool initialise);
    // The setup from which an entity kind builds its context (owner, class, flags,
    // hidden state, template colour, random id, box, world matrix, mirrored bit, layer).
    void FillRenderingContextSetup(EntityRenderingContextSetup& setup, uint32_t renderingClass,
                                   uint32_t creationFlags) const;
    void SubmitForRendering(uint32_t renderFlags);
    void SubmitHelperRendering(uint32_t renderFlags);
    // False while the context has not published a box.
    bool UpdateBoundingBoxFromRenderingContext();
    static void ReleaseAllRenderingContexts();
    static void RestoreAllRenderingContexts();
    uint32_t GetEnforcedRenderingFlags() const { return enforcedRenderingFlags; }
    // Clears the bits of clearMask, then sets those of setMask (an entity kind's render bits).
    void SetEnforcedRenderingBits(uint32_t clearMask, uint32_t setMask) {
        enforcedRenderingFlags = (enforcedRenderingFlags & ~clearMask) | setMask;
    }
    uint8_t GetLayer() const { return layer; }
    uint32_t GetBlockRenderingMask() const { return blockRenderingMask; }
    void UpdateBlockRenderingMask();
    uint8_t GetVisibleInCombatView() const { return combatView; }
    uint8_t GetVisibleInTacticalView() const { return tacticalView; }
    bool IsVisibleInCombatView() const { return !(blockRenderingMask & ENTITYBLOCKRENDERINGMASK_COMBATVIEW); }
    bool IsVisibleInTacticalView() const { return !(blockRenderingMask & ENTITYBLOCKRENDERINGMASK_TACTICALVIEW); }
    void SetVisibleInCombatView(bool visible);
    void SetVisibleInTacticalView(bool visible);
    // The "visible in ... view" settings by value (VISIBILITY_*): the template's default,
    // visible or hidden; other values leave them unchanged.
    void SetVisibleInCombatViewMode(uint32_t mode);
    void SetVisibleInTacticalViewMode(uint32_t mode);
    uint32_t GetLastSubmittedFrame() const { return submittedFrame; }
    uint32_t GetMinimumQualityLevel() const { return minimumQualityLevel; }

    // ---- Scripts ----
    void ExecuteScript(const char* functionName);
    void OnProcTargetingAnimRotStart();
    void OnProcTargetingAnimRotStop();
    void EnableTickCallback();
    void DisableTickCallback();
    void ScheduleScriptCall(const char* functionName, float delay, uint32_t callFlags);
    void ScheduleCallback(uint32_t id, float delay, uint32_t callFlags);
    void DeleteScriptCalls(const char* functionName);
    void DeleteScheduledCallback(uint32_t id);
    float GetScheduledCallbackTimeLeft(uint32_t id, uint32_t callFlags);
    // "OnInit" of the template's Lua class for every pass (when the count is not 0).
    static void CallScriptOnInit(Entity* entity);
    void IncreaseDeleteGuardCounter() { ++deleteGuardCounter; }
    void DecreaseDeleteGuardCounter() { --deleteGuardCounter; }
    uint32_t GetDeleteGuardCounter() const { return deleteGuardCounter; }

    // ---- Replication state ----
    uint16_t GetMultiplayerId() const { return multiplayerId; }
    void SetMultiplayerId(uint16_t id);
    uint8_t GetMultiplayerRole() const { return multiplayerRole; }
    bool IsMultiplayerAuthority() const { return multiplayerRole == MPROLE_AUTHORITY; }
    bool IsMultiplayerProxy() const { return multiplayerRole == MPROLE_PROXY; }
    // Authority or proxy: an entity that takes part in replication.
    bool IsMultiplayerEntity() const { return multiplayerRole != MPROLE_NONE; }
    bool IsStaticMultiplayer() const { return staticMultiplayer != 0; }
    void RegisterForReplication();
    bool IsRegisteredForReplication() const { return registeredForReplication != 0; }
    void MPPropMarkDirty(uint32_t propertyIndex);
    // ---- Replicated properties (Entity_MPProp.cpp; main thread) ----
    // Without a container the sets change nothing and the reads give 0, false, a zero
    // vector, null, MPPROPTYPE_UNKNOWN or an animation of progress 0 and index 255; an
    // index at or beyond the count acts the same. Each Add returns the new index, or
    // 0xFFFFFFFF when the declaration is refused.
    uint32_t MPPropAddFloat(float value, uint32_t type, uint32_t flags, float min, float max, float step, const char* name);
    uint32_t MPPropAddBool(bool value, uint32_t type, uint32_t flags, const char* name);
    uint32_t MPPropAddVec(const Vector& value, uint32_t type, uint32_t flags, const char* name);
    uint32_t MPPropAddInt(int32_t value, uint32_t type, uint32_t flags, int32_t min, int32_t max, const char* name);
    uint32_t MPPropAddEntity(Entity* value, uint32_t flags, const char* name);
    uint32_t MPPropAddAnim(const MPAnimValue& value, uint32_t flags, const char* name);
    void MPPropSetFloat(uint32_t index, float value, uint32_t flags);
    void MPPropSetBool(uint32_t index, bool value, uint32_t flags);
    void MPPropSetVec(uint32_t index, const Vector& value, uint32_t flags);
    void MPPropSetVec3(uint32_t index, float x, float y, float z, uint32_t flags);
    void MPPropSetInt(uint32_t index, int32_t value, uint32_t flags);
    void MPPropSetEntity(uint32_t index, Entity* value, uint32_t flags);
    void MPPropSetAnim(uint32_t index, const MPAnimValue& value, uint32_t flags = 0);
    // The packed 3-byte animation state (byte 0 in the low bits) into both properties.
    void MPPropSetEncAnimData(uint32_t animIndex, uint32_t progressIndex, uint32_t packed);
    void MPPropSetPosition(const Vector& position, uint32_t flags);
    void MPPropSetRotation(const Vector& anglesDegrees);
    void MPPropSetLocation(const Matrix& m, uint32_t flags);
    float MPPropGetFloat(uint32_t index);
    bool MPPropGetBool(uint32_t index);
    Vector MPPropGetVec(uint32_t index);
    int32_t MPPropGetInt(uint32_t index);
    Entity* MPPropGetEntity(uint32_t index);
    uint32_t MPPropGetType(uint32_t index);
    MPAnimValue MPPropGetAnim(uint32_t index);
    bool MPPropHasChanged(uint32_t index);
    bool MPPropHasChangedPosition();
    bool MPPropHasChangedRotation();
    void MPPropRaiseFlag(uint32_t index, uint32_t bits);
    void MPPropClearFlag(uint32_t index, uint32_t bits);
    void MPPropRaisePositionFlag(uint32_t bits);
    void MPPropClearPositionFlag(uint32_t bits);
    void MPPropRaiseRotationFlag(uint32_t bits);
    void MPPropClearRotationFlag(uint32_t bits);
    void ReplicateAnimEnable(uint32_t animIndex, uint32_t progressIndex);
    void ReplicateAnimDisable();
    // Engine side.
    void CreateMPProperties();
    void MPPropFree();
    MPPropertyContainer* GetMPProperties() const { return mpProperties; }
    void MPPropSerialize(MPFieldBuffer& out, uint64_t& snapMask, uint64_t& ownerRelevantMask);
    bool MPPropDeserialize(const MPFieldBuffer& in, uint64_t dirtyMask, uint64_t snapMask, uint64_t time, bool create);
    void MPPropApplyReceived(uint64_t time, uint64_t previousTime);
    bool MPPropTick(uint64_t time);
    Vector MPPropGetPosition();
    Vector MPPropGetRotationValue();
    void MPPropApplyLocation();
    void ClearReplicationDirtyMasks();
    uint64_t GetReplicationDirtyMask(uint32_t i) const { return dirtyMasks[i]; }
    void RaiseReplicationFlag(uint8_t bits, bool recursive);
    void ClearReplicationFlag(uint8_t bits, bool recursive);
    uint8_t GetReplicationFlags() const { return replicationFlags; }
    // The replication flags (ENTITYREPLICATION_*) the mask selects; 0 when none is set.
    uint32_t CheckReplicationFlag(uint32_t mask) const { return replicationFlags & mask; }
    void SetTornOff();
    // The mesh an avatar shows in a match. Avatars show their own meshes here, so there
    // is nothing to record.
    void SetMPAvatarMesh(Entity* mesh) {}
    void SetTornOffReceived() { tornOffReceived = 1; }
    bool IsTornOffReceived() const { return tornOffReceived != 0; }
    bool IsTornOff() const { return tornOff != 0; }
    // "OnNetDestroy" on the entity and its descendants that have a role (children first);
    // their roles become 0.
    void EndReplication();
    Player* GetPlayerOwner() const { return playerOwner; }
    void SetPlayerOwner(Player* p);
    // The Game's per-frame replication lists: membership marks, the net-attached byte
    // (set at creation, cleared when the Game tears the entity off) and the mask of
    // received properties not yet applied (written by the multiplayer layer).
    bool IsOnReplicatedList() const { return onReplicatedList != 0; }
    void SetOnReplicatedList(bool on) { onReplicatedList = on ? 1 : 0; }
    bool IsOnReceivedList() const { return onReceivedList != 0; }
    void SetOnReceivedList(bool on) { onReceivedList = on ? 1 : 0; }
    bool IsNetAttached() const { return netAttached != 0; }
    void SetNetAttached(bool on) { netAttached = on ? 1 : 0; }
    uint64_t GetReceivedChangeMask() const { return receivedChangeMask; }
    void SetReceivedChangeMask(uint64_t mask) { receivedChangeMask = mask; }
    float GetRadiusForTrigger() const { return triggerActivator ? triggerActivator->radius : 0.0f; }
    void SetRadiusForTrigger(float r) {
        if (triggerActivator) triggerActivator->radius = r;
    }
    TriggerActivator* GetTriggerActivator() const { return triggerActivator; }

    EntityEventHandler* GetEventHandler() const { return eventHandler; }
    void SetEventHandler(EntityEventHandler* handler) { eventHandler = handler; }

    void SetPickHandler(EntityPickHandler* handler);
    EntityPickHandler* GetPickHandler() const { return pickHandler; }
    void SetGameplayDelegate(EntityGameplayDelegate* d) { gameplayDelegate = d; }

    // The live-entity list, in creation order.
    static Entity* FirstLive();
    Entity* NextLive() const { return nextLive; }

private:
    friend class EntityManager;
    friend class EntityPropertyAccess;
    void ApplyFlagSideEffects(uint32_t changed, bool raised);
    void RecomputeFromTemplate();
    void StoreLocalMatrixFromParts(const Vector& position, const Quaternion& rotation, const Vector& scale);
    void ComputeGlobalFromParent();
    // The parent's global matrix as this child inherits it (without scale under
    // ENTITYFLAG_PARENTNOSCALE).
    Matrix ParentMatrixForChild() const;
    void DecomposeLocal();
    void DecomposeGlobal();
    void ReapplyMount();
    EntityBoneMount& Mount();
    void PostTransformToContext();

    // Members in the documented order.
    SimpleGUID guid;
    EntityTemplate* entityTemplate = nullptr;
    uint32_t type = ENTITY_NULL;
    uint32_t group = ENTITYGROUP_NONE;
    Entity* parent = nullptr;
    NameString name;
    uint32_t randomId = 0;
    uint32_t reusableId = 0;
    uint8_t registeredForReplication = 0;
    uint64_t dirtyMasks[2] = {0, 0};
    uint32_t flags = 0;
    Dynarray<Entity*> children;
    SafePointer<EntityGameplayDelegate> gameplayDelegate;
    EntitySetList* setList = nullptr;
    TriggerActivator* triggerActivator = nullptr;
    float sortOffset = 0.0f;
    bool sortOffsetFromTemplate = true;
    uint16_t multiplayerId = NULL_ENTITY_MULTIPLAYER_ID;
    // The owning peer. A plain pointer while the multiplayer layer's Player is not part
    // of the build; the multiplayer engine clears it when a peer leaves.
    Player* playerOwner = nullptr;
    uint8_t replicationFlags = 0;
    uint8_t multiplayerRole = MPROLE_NONE;
    uint8_t tornOff = 0;
    uint8_t tornOffReceived = 0;
    uint8_t staticMultiplayer = 0;
    MPPropertyContainer* mpProperties = nullptr;  // owned
    Matrix localMatrix = Matrix::IDENTITY;
    Matrix globalMatrix = Matrix::IDENTITY;
    Matrix inverseGlobalMatrix = Matrix::IDENTITY;
    Quaternion localRotation = Quaternion::ZERO;
    Vector localScale{1, 1, 1, 0};
    Quaternion globalRotation = Quaternion::ZERO;
    Vector globalScale{1, 1, 1, 0};
    uint8_t cacheValid[5] = {1, 1, 1, 1, 1};
    BoundingBox4 localBoundingBox = BoundingBox4::UNITCUBE3D;
    EntityRenderingContext* renderingContext = nullptr;
    // Null until the entity first needs it; owned by the sound thread once posted.
    EntitySoundEmitter* soundEmitter = nullptr;
    Dynarray<EntitySet*> entitySets;
    uint32_t enforcedRenderingFlags = 0;
    uint32_t deleteGuardCounter = 0;
    uint32_t blockRenderingMask = 0;
    uint32_t minimumQualityLevel = 0;
    uint8_t combatView = VISIBILITY_TEMPLATE_DEFAULT;
    uint8_t tacticalView = VISIBILITY_TEMPLATE_DEFAULT;
    uint8_t layer = 0;
    uint8_t renderingPass = 0;
    Entity* previousLive = nullptr;
    Entity* nextLive = nullptr;
    // Spatial registration, one range per grid list.
    EntityCellRange cellRanges[2];
    EntityBoneMount* mount = nullptr;
    uint32_t mountFlags = 0;
    EntityPickHandler* pickHandler = nullptr;
    EntityEventHandler* eventHandler = nullptr;
    uint32_t submittedFrame = 0;
    bool inNameIndex = false;
    bool inGUIDIndex = false;
    bool destroying = false;
    bool destroyCalled = false;  // Destroy ran: a nested call from its callbacks does nothing
    uint8_t onReplicatedList = 0;
    uint8_t onReceivedList = 0;
    uint8_t netAttached = 1;
    uint64_t receivedChangeMask = 0;
};

// Entity initialisation in batches: "OnInit" of every listed entity's script class runs
// pass by pass (pass 0 for all, then pass 1 for those with more passes, ...).
class EntityInitBatch {
public:
    // Opens the batch unless it is open; true when this call opened it.
    static bool Begin();
    // Runs the listed entities' passes and closes the batch.
    static void Finish();
    // Initialises one entity: the passes the open batch has completed run at once; when
    // passes remain the entity joins the batch (without an open batch it runs them all).
    static void InitEntity(Entity* entity);
    static bool IsOpen();
    static uint32_t CurrentPass();
};

// Registers "Entity" and "SceneEntity" (the scene root's class).
// The scene root carries the scene-wide settings (defined with the scene entities).
class SceneEntity : public Entity {
public:
    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;
    const char* GetScriptClassName() const override { return "SceneEntity"; }
    // Visualization mode, universe minimum y and the terrain lightmap vectors go out.
    void OnLoaded(uint32_t options) override;
    void OnPropertyChanged(const char* propertyName) override;
    // The active parameter entity with flags 2, else the default parameters.
    void ActivateSceneParams();

    SimpleGUID activeSceneParamBox;
    bool requiresCommonResources = true;
    bool allowMeshOptimization = true;
    float universeMinY = -25.0f;
    NameString sceneTag;
    uint32_t visualizationMode = 3;  // PC, iPhone, iPad2, DEFAULT (the configured one)
    Vector terrainLightmapPosBBox;
    Vector terrainLightmapUVBBox;
    Vector terrainLightmapUVMulAdd;
};
