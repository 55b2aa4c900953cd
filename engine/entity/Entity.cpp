// Entity core: construction and destruction, flags, the tree, names, rendering context,
// scripts and replication state. Transforms and spatial registration live in
// Entity_Transform.cpp.
#include "engine/entity/Entity.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/CrtRand.h"
#include "core/Log.h"
#include "core/StaticInit.h"
#include "core/Time.h"
#include "core/rtti/RTTIEntityPointer.h"
#include "core/rtti/RTTIProperty.h"
#include "platform/os/Clock.h"
#include "engine/services/GameServices.h"
#include "engine/services/MultiplayerServices.h"
#include "engine/services/SceneContentServices.h"
#include "engine/entity/EntityLayers.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/script/LuaWrapper.h"
#include "engine/entity/ScriptScheduler.h"
#include "render/VornexRenderer.h"
#include "render/scene/EntityRenderingContext.h"
#include "core/rtti/DirectProperty.h"

namespace {

RTTIClass* gEntityClass = nullptr;
Entity* gLiveHead = nullptr;
Entity* gLiveTail = nullptr;

const char kPassNames[] = "Pass 0\0Pass 1\0Pass 2\0Pass 3\0";
const char kVisibilityNames[] = "Template default\0True\0False\0";

const char* ScriptClassOf(const Entity* e) { return e ? e->GetScriptClassName() : ""; }

}  // namespace

// Accessors of properties that are not plain members.
class EntityPropertyAccess {
public:
    static NameString GetName(const Entity* e) { return e->name; }
    static void SetName(Entity* e, const NameString& n) { e->SetName(n.Raw()); }
};

namespace {

class NameAccessor final : public RTTITypedProperty<NameString> {
public:
    using RTTITypedProperty::RTTITypedProperty;
    NameString GetValue(const void* o) const override {
        return EntityPropertyAccess::GetName(static_cast<const Entity*>(static_cast<const RTTIPolyBaseClass*>(o)));
    }
    void SetValue(void* o, const NameString& v) const override {
        EntityPropertyAccess::SetName(static_cast<Entity*>(static_cast<RTTIPolyBaseClass*>(o)), v);
    }
};

// "Parent entity": a resolved parent moves the entity in the tree (SetParent's rules:
// null is the scene root, loops are refused), so the children lists never disagree
// with the stored parent. A parent resolved at the end of a pass was read with the
// entity's whole list, whose "Global" values placed the entity in the world before the
// link existed: the link keeps that world placement (SetParentInPlace), so a scene
// entity lands where its file says at any depth, whatever the order of the records.
// Set on its own (no pass), the link keeps the local matrix.
class ParentAccessor final : public RTTIEntityPointerProperty<Entity> {
public:
    using RTTIEntityPointerProperty::RTTIEntityPointerProperty;
    void ApplyEntity(void* o, uint32_t, RTTIPolyBaseClass* target) const override {
        Entity* entity = static_cast<Entity*>(static_cast<RTTIPolyBaseClass*>(o));
        if (EntityPointerFixups::Resolving()) entity->SetParentInPlace(static_cast<Entity*>(target));
        else entity->SetParent(static_cast<Entity*>(target));
    }
};

template <class T>
class EntitySG final : public RTTITypedProperty<T> {
public:
    using Get = T (*)(Entity*);
    using Set = void (*)(Entity*, const T&);
    EntitySG(const char* name, Get g, Set s, uint32_t flags = 0) : RTTITypedProperty<T>(name, flags), get(g), set(s) {}
    T GetValue(const void* o) const override {
        return get(const_cast<Entity*>(static_cast<const Entity*>(static_cast<const RTTIPolyBaseClass*>(o))));
    }
    void SetValue(void* o, const T& v) const override {
        set(static_cast<Entity*>(static_cast<RTTIPolyBaseClass*>(o)), v);
    }

private:
    Get get;
    Set set;
};

template <class T>
void AddAccess(RTTIClass* c, const char* name, typename EntitySG<T>::Get g, typename EntitySG<T>::Set s,
               uint32_t flags = 0) {
    c->AddProperty(new EntitySG<T>(name, g, s, flags));
}

}  // namespace

const RTTIClass* Entity::RegisterClass() {
    if (gEntityClass) return gEntityClass;
    RTTIClass* c = CreateRegisteredClass(gEntityClass, "Entity", kRTTIRootBaseName);
    AddDirect<uint32_t>(c, "Flags", RTTI_OFFSETOF(Entity, flags));
    c->AddProperty(new NameAccessor("Name"));
    AddAccess<SimpleGUID>(
        c, "GUID", [](Entity* e) { return e->GetGUID(); }, [](Entity* e, const SimpleGUID& g) { e->SetGUID(g); },
        kPropertyFlagGuid);
    c->AddProperty(new ParentAccessor("Parent entity", RTTI_OFFSETOF(Entity, parent)));
    AddDirect<uint8_t>(c, "Rendering pass", RTTI_OFFSETOF(Entity, renderingPass), kPropertyFlagEnum, kPassNames);
    AddDirect<float>(c, "Sort offset", RTTI_OFFSETOF(Entity, sortOffset));
    AddDirect<bool>(c, "Sort offset from Template", RTTI_OFFSETOF(Entity, sortOffsetFromTemplate));
    c->AddProperty(new RTTIPropertyGroup("Location"));
    AddAccess<Matrix>(
        c, "Local location matrix", [](Entity* e) { return e->GetLocalLocationMatrix(); },
        [](Entity* e, const Matrix& m) { e->SetLocalLocationMatrix(m); });
    AddAccess<Vector>(
        c, "Local position", [](Entity* e) { return e->GetLocalPosition(); },
        [](Entity* e, const Vector& v) { e->SetLocalPosition(v); });
    AddAccess<Quaternion>(
        c, "Local rotation", [](Entity* e) { return e->GetLocalRotation(); },
        [](Entity* e, const Quaternion& q) { e->SetLocalRotation(q); });
    AddAccess<Vector>(
        c, "Local scale", [](Entity* e) { return e->GetLocalScale(); },
        [](Entity* e, const Vector& v) { e->SetLocalScale(v); });
    AddAccess<Vector>(
        c, "Global position", [](Entity* e) { return e->GetGlobalPosition(); },
        [](Entity* e, const Vector& v) { e->SetGlobalPosition(v); });
    AddAccess<Quaternion>(
        c, "Global rotation", [](Entity* e) { return e->GetGlobalRotation(); },
        [](Entity* e, const Quaternion& q) { e->SetGlobalRotation(q); });
    AddAccess<Vector>(
        c, "Global scale", [](Entity* e) { return e->GetGlobalScale(); },
        [](Entity* e, const Vector& v) { e->SetGlobalScale(v); });
    AddDirect<uint32_t>(c, "Random id", RTTI_OFFSETOF(Entity, randomId));
    AddDirect<uint32_t>(c, "Enforced rendering flags", RTTI_OFFSETOF(Entity, enforcedRenderingFlags));
    AddAccess<uint8_t>(
        c, "Layer", [](Entity* e) { return e->GetLayer(); }, [](Entity* e, const uint8_t& l) { e->SetLayer(l); });
    AddAccess<NameString>(
        c, "Mount to bone", [](Entity* e) { return NameString(e->GetMountBone()); },
        [](Entity* e, const NameString& n) { e->SetMountBone(n.Raw()); });
    AddAccess<Matrix>(
        c, "Mount to bone location", [](Entity* e) { return e->GetMountLocation(); },
        [](Entity* e, const Matrix& m) { e->SetMountLocation(m); });
    AddAccess<Vector>(
        c, "Mount to bone position", [](Entity* e) { return e->GetMountPosition(); },
        [](Entity* e, const Vector& v) { e->SetMountPosition(v); });
    AddAccess<Quaternion>(
        c, "Mount to bone rotation", [](Entity* e) { return e->GetMountRotation(); },
        [](Entity* e, const Quaternion& q) { e->SetMountRotation(q); });
    AddAccess<Vector>(
        c, "Mount to bone scale", [](Entity* e) { return e->GetMountScale(); },
        [](Entity* e, const Vector& v) { e->SetMountScale(v); });
    c->AddProperty(new RTTIPropertyGroup("Visibility"));
    AddDirect<uint8_t>(c, "Visible in combat view", RTTI_OFFSETOF(Entity, combatView), kPropertyFlagEnum,
                       kVisibilityNames);
    AddDirect<uint8_t>(c, "Visible in tactical view", RTTI_OFFSETOF(Entity, tacticalView), kPropertyFlagEnum,
                       kVisibilityNames);
    return c;
}

const RTTIClass* Entity::GetRTTIClass() const { return RegisterClass(); }


// ---------------------------------------------------------------------------------
// Construction and destruction.

Entity::Entity() {
    randomId = uint32_t(CrtRand() & 0x7FFF);
    previousLive = gLiveTail;
    if (gLiveTail) gLiveTail->nextLive = this;
    else gLiveHead = this;
    gLiveTail = this;
    if (gEntityManager) {
        reusableId = gEntityManager->reusableIds.Allocate();
        ++gEntityManager->liveCount;
    }
}

Entity::~Entity() {
    destroying = true;
    MPPropFree();
    ReleaseSoundEmitter();
    delete pickHandler;
    pickHandler = nullptr;
    delete gameplayDelegate.Get();
    DeleteRenderingContext();
    while (children.Count()) {
        Entity* child = children[children.Count() - 1];
        children.Remove(children.Count() - 1);
        child->parent = nullptr;
        child->Destroy();
    }
    if (parent) parent->RemoveChild(this);
    parent = nullptr;
    if (entityTemplate) {
        EntityTemplate* t = entityTemplate;
        entityTemplate = nullptr;
        t->ReleaseInstanceRef();
    }
    RemoveFromSpatialGrid();
    if (gEntityManager) {
        if (gEntityManager->sceneRoot == this) gEntityManager->sceneRoot = nullptr;
        --gEntityManager->liveCount;
        gEntityManager->reusableIds.Release(reusableId);
        gEntityManager->RemoveFromNameIndex(this);
        gEntityManager->RemoveFromGUIDIndex(this);
        if (multiplayerId != NULL_ENTITY_MULTIPLAYER_ID) gEntityManager->RemoveFromMIDTable(this);
    }
    multiplayerId = NULL_ENTITY_MULTIPLAYER_ID;
    delete mount;
    mount = nullptr;
    if (previousLive) previousLive->nextLive = nextLive;
    else gLiveHead = nextLive;
    if (nextLive) nextLive->previousLive = previousLive;
    else gLiveTail = previousLive;
}

Entity* Entity::FirstLive() { return gLiveHead; }

void Entity::Destroy() {
    // A callback run from here (a trigger's exit) may destroy this entity again: the
    // running destruction finishes the job.
    if (destroyCalled) return;
    destroyCalled = true;
    EndReplication();
    if (triggerActivator) {
        GetSceneContentServices().DestroyTriggerTracker(this, triggerActivator);
        triggerActivator = nullptr;
    }
    ClearSafePointers();
    LuaBaseClass::Destroy();
}

void Entity::DeleteMe() {
    if (gEntityManager) gEntityManager->DestroyEntity(this);
    else Destroy();
}

void Entity::RequestDelete(uint32_t argument) {
    if (argument == 0) DeleteMe();
    else if (EntityGameplayDelegate* d = gameplayDelegate.Get()) d->OnRequestDelete(this, argument);
}

void Entity::DeleteChildren() {
    for (uint32_t i = children.Count(); i-- > 0;) {
        if (i >= children.Count()) continue;
        if (gEntityManager) gEntityManager->DestroyEntity(children[i]);
        else children[i]->Destroy();
    }
}

const char* Entity::GetScriptClassName() const {
    if (entityTemplate) return entityTemplate->GetScriptClassName();
    return "Entity";
}

HDRColor Entity::GetColor() const { return HDRColor(255, 255, 255, 255, 1.0f); }

// ---------------------------------------------------------------------------------
// Template.

void Entity::InitFromTemplate(EntityTemplate* t, uint32_t creationFlags) {
    entityTemplate = t;
    if (t) {
        t->AddInstanceRef();
        type = t->typeId;
    }
    if (!(creationFlags & ENTITYCREATION_NOGUIDGENERATION)) GenerateGUID();
    if (creationFlags & ENTITYCREATION_MULTIPLAYER_AUTHORITY) multiplayerRole = MPROLE_AUTHORITY;
    else if (creationFlags & ENTITYCREATION_MULTIPLAYER_PROXY) multiplayerRole = MPROLE_PROXY;
    staticMultiplayer = (creationFlags & ENTITYCREATION_MULTIPLAYER_STATIC) ? 1 : 0;
    RecomputeFromTemplate();
    if (creationFlags & ENTITYCREATION_DONOTCREATERENDERINGCONTEXT) return;
    RecreateRenderingContext(true);
}

void Entity::ChangeTemplate(EntityTemplate* t) {
    EntityTemplate* old = entityTemplate;
    entityTemplate = t;
    if (t) {
        t->AddInstanceRef();
        type = t->typeId;
    }
    if (old) old->ReleaseInstanceRef();
    RecomputeFromTemplate();
    RecreateRenderingContext(true);
}

void Entity::RecomputeFromTemplate() {
    if (entityTemplate) localBoundingBox = entityTemplate->staticBoundingBox;
    UpdateBlockRenderingMask();
    RecomputeGlobalLocations(false);
}

void Entity::UpdateBlockRenderingMask() {
    const EntityTemplate* t = entityTemplate;
    const bool tCombat = t ? t->visibleInCombatView : true;
    const bool tTactical = t ? t->visibleInTacticalView : true;
    uint32_t m = 0;
    if (combatView == VISIBILITY_FALSE || (combatView == VISIBILITY_TEMPLATE_DEFAULT && !tCombat))
        m |= ENTITYBLOCKRENDERINGMASK_COMBATVIEW;
    if (tacticalView == VISIBILITY_FALSE || (tacticalView == VISIBILITY_TEMPLATE_DEFAULT && !tTactical))
        m |= ENTITYBLOCKRENDERINGMASK_TACTICALVIEW;
    if (t && (t->visibleInTacticalExtended == TACTICALEXT_FALSE ||
              (t->visibleInTacticalExtended == TACTICALEXT_SAME_AS_VR && !t->visibleInTacticalView)))
        m |= ENTITYBLOCKRENDERINGMASK_TACTICALVIEWEXTENDED;
    blockRenderingMask = m;
    minimumQualityLevel = t ? t->minimumQualityLevel : 0;
}

void Entity::SetVisibleInCombatView(bool visible) {
    if (visible) blockRenderingMask &= ~ENTITYBLOCKRENDERINGMASK_COMBATVIEW;
    else blockRenderingMask |= ENTITYBLOCKRENDERINGMASK_COMBATVIEW;
}

void Entity::SetVisibleInTacticalView(bool visible) {
    if (visible) blockRenderingMask &= ~ENTITYBLOCKRENDERINGMASK_TACTICALVIEW;
    else blockRenderingMask |= ENTITYBLOCKRENDERINGMASK_TACTICALVIEW;
}

void Entity::SetVisibleInCombatViewMode(uint32_t mode) {
    if (mode > VISIBILITY_FALSE) return;
    combatView = static_cast<uint8_t>(mode);
    UpdateBlockRenderingMask();
}

void Entity::SetVisibleInTacticalViewMode(uint32_t mode) {
    if (mode > VISIBILITY_FALSE) return;
    tacticalView = static_cast<uint8_t>(mode);
    UpdateBlockRenderingMask();
}

const char* Entity::GetTemplateName() const {
    if (entityTemplate && entityTemplate->stub) return entityTemplate->stub->FileName();
    return GetTemplateFullName();
}

const char* Entity::GetTemplateFullName() const {
    return entityTemplate && entityTemplate->GetName() ? entityTemplate->GetName() : "";
}

SimpleGUID Entity::GetTemplateGUID() const { return entityTemplate ? entityTemplate->guid : SimpleGUID{}; }

bool Entity::GetTemplatePropertyValueAsString(const char* propertyName, char* buffer, uint32_t size) const {
    return entityTemplate && entityTemplate->GetPropertyValueAsString(propertyName, buffer, size);
}

bool Entity::SetTemplatePropertyFromString(const char* propertyName, const char* text) {
    return entityTemplate && entityTemplate->SetPropertyFromString(propertyName, text);
}

bool Entity::IsKindOf(uint32_t typeId) const { return TemplateTypeTable::IsA(type, typeId); }

bool Entity::IsGraphNode() const {
    return parent && parent->IsGraph() && IsKindOf(ENTITY_FLAG);
}

// ---------------------------------------------------------------------------------
// Flags.

void Entity::ApplyFlagSideEffects(uint32_t changed, bool raised) {
    if (!changed) return;
    if (changed & ENTITYFLAG_SELECTED) {
        if (raised) enforcedRenderingFlags |= ENFORCED_SELECTED;
        else enforcedRenderingFlags &= ~ENFORCED_SELECTED;
    }
    if (changed & (ENTITYFLAG_HIDDEN | ENTITYFLAG_DISABLE_UPDATE)) {
        if (raised) {
            if (renderingContext) renderingContext->PostFlagRaised();
        } else if (!(flags & (ENTITYFLAG_HIDDEN | ENTITYFLAG_DISABLE_UPDATE))) {
            if (renderingContext) renderingContext->PostFlagCleared();
        }
    }
    if (changed & ENTITYFLAG_GHOSTMODE) {
        if (raised) OnGhostModeOn();
        else OnGhostModeOff();
    }
    if (changed & (ENTITYFLAG_NORENDERINGCONTEXT | ENTITYFLAG_NORENDERINGCONTEXT2)) RecreateRenderingContext(true);
    if (changed & (ENTITYFLAG_NORENDERINGCONTEXT | ENTITYFLAG_NORENDERINGCONTEXT2 | ENTITYFLAG_DISABLE_UPDATE)) {
        RemoveFromSpatialGrid();
        UpdateGlobalLocation();
    }
}

void Entity::RaiseFlag(uint32_t bits, bool recursive) {
    const uint32_t changed = bits & ~flags;
    flags |= bits;
    ApplyFlagSideEffects(changed, true);
    if (!recursive) return;
    const uint32_t pass = changed ? changed : bits;
    for (uint32_t i = 0; i < children.Count(); ++i) children[i]->RaiseFlag(pass, true);
}

void Entity::ClearFlag(uint32_t bits, bool recursive) {
    const uint32_t changed = bits & flags;
    flags &= ~bits;
    ApplyFlagSideEffects(changed, false);
    if (!recursive) return;
    const uint32_t pass = changed ? changed : bits;
    for (uint32_t i = 0; i < children.Count(); ++i) children[i]->ClearFlag(pass, true);
}

// ---------------------------------------------------------------------------------
// Tree.

void Entity::AddChild(Entity* child) { children.Add(child); }

void Entity::RemoveChild(Entity* child) {
    for (uint32_t i = 0; i < children.Count(); ++i) {
        if (children[i] == child) {
            children.Remove(i);
            return;
        }
    }
}

void Entity::SetParentCore(Entity* newParent, bool keepGlobal, bool fromInit) {
    Entity* root = gEntityManager ? gEntityManager->GetRootEntity() : nullptr;
    if (this == root) return;
    if (!newParent) newParent = root;
    if (multiplayerRole == MPROLE_AUTHORITY) {
        const bool allowed =
            fromInit && (newParent == root || (newParent && newParent->multiplayerRole == MPROLE_AUTHORITY));
        if (!allowed) {
            const auto id = [](const Entity* e) { return e ? int(e->multiplayerId) : int(NULL_ENTITY_MULTIPLAYER_ID); };
            const auto nm = [](const Entity* e) { return e ? e->GetName() : ""; };
            gLog.Error(LogCategory::Engine, "SetParent of multiplayer entity %d %s %s from %d %s %s to %d %s %s is forbidden %s",
                       id(this), nm(this), ScriptClassOf(this), id(parent), nm(parent), ScriptClassOf(parent),
                       id(newParent), nm(newParent), ScriptClassOf(newParent),
                       fromInit ? "due to parent not being multiplayer authority!" : "outside initialization!");
            return;
        }
    }
    for (Entity* p = newParent; p; p = p->parent) {
        if (p == this) {
            gLog.Error(LogCategory::Engine, "SetParent call ignored to avoid a loop");
            return;
        }
    }
    if (newParent == parent) return;
    if (parent && (mountFlags & ENTITY_MOUNTED_TO_BONE) && parent->IsMesh())
        GetSceneContentServices().UnmountFromMesh(parent, this);
    if (parent) parent->RemoveChild(this);
    parent = newParent;
    if (parent) parent->AddChild(this);
    if (keepGlobal) {
        Matrix inverse = Matrix::IDENTITY;
        if (parent) inverse.Inverse(ParentMatrixForChild());
        localMatrix.Mul(inverse, globalMatrix);
        cacheValid[CACHE_LOCAL_ROTATION] = cacheValid[CACHE_LOCAL_SCALE] = 0;
    }
    RecomputeGlobalLocations(false);
    ReapplyMount();
}

Entity* Entity::GetChildByName(const char* childName) const {
    if (!childName) return nullptr;
    for (uint32_t i = 0; i < children.Count(); ++i)
        if (std::strcmp(children[i]->GetName(), childName) == 0) return children[i];
    return nullptr;
}

uint32_t Entity::ListMeAndChildren(Entity** buffer, uint32_t capacity) {
    if (!capacity) return 0;
    uint32_t count = 0;
    buffer[count++] = this;
    for (uint32_t next = 0; next < count && count < capacity; ++next) {
        const Entity* e = buffer[next];
        for (uint32_t i = 0; i < e->children.Count() && count < capacity; ++i) buffer[count++] = e->children[i];
    }
    if (count >= capacity)
        gLog.Error(LogCategory::Engine, "Buffer too small (%d entities) in a call to ListMeAndChildren", int(capacity));
    return count;
}

// ---------------------------------------------------------------------------------
// Names and identity.

void Entity::SetName(const char* newName) {
    if (gEntityManager) gEntityManager->RemoveFromNameIndex(this);
    name = newName;
    if (gEntityManager && !name.IsEmpty() && !destroying) gEntityManager->AddToNameIndex(this);
}

void Entity::MakeUniqueName() {
    // Built whole (no fixed buffer): a cut name would repeat for every index.
    std::string candidate;
    for (int i = 0;; ++i) {
        char index[16];
        std::snprintf(index, sizeof(index), "_%03d", i);
        candidate = std::string(GetTemplateName()) + index;
        if (!gEntityManager || !gEntityManager->FindEntityByName(candidate.c_str())) break;
    }
    SetName(candidate.c_str());
}

void Entity::GenerateGUID() {
    SimpleGUID g;
    do g.Generate();
    while (gEntityManager && gEntityManager->FindEntityByGUID(g));
    SetGUID(g);
}

void Entity::SetGUID(const SimpleGUID& g) {
    if (gEntityManager) gEntityManager->RemoveFromGUIDIndex(this);
    guid = g;
    if (gEntityManager && !guid.IsNull() && !destroying) gEntityManager->AddToGUIDIndex(this);
}

// ---------------------------------------------------------------------------------
// Rendering context.

void Entity::DeleteRenderingContext() {
    if (!renderingContext) return;
    EntityRenderingContext* c = renderingContext;
    renderingContext = nullptr;
    c->Release();
}

void Entity::FillRenderingContextSetup(EntityRenderingContextSetup& s, uint32_t renderingClass,
                                       uint32_t creationFlags) const {
    s.owner = const_cast<Entity*>(this);
    s.hasEntity = true;
    s.renderingClass = renderingClass;
    s.creationFlags = creationFlags;
    s.entityFloat = sortOffset;
    s.entityByte = renderingPass;
    s.layer = layer;
    s.alignmentMode = entityTemplate ? entityTemplate->faceCameraMode : 0;
    s.alignmentWeight = entityTemplate ? entityTemplate->faceCameraOffset : 0.0f;
    s.mirrored = (enforcedRenderingFlags & ENFORCED_MIRRORED) != 0;
    s.hidden = (flags & (ENTITYFLAG_HIDDEN | ENTITYFLAG_DISABLE_UPDATE)) != 0;
    s.color = entityTemplate ? entityTemplate->wireframeColor.ToLinearVector() : Vector(1, 1, 1, 1);
    s.randomId = randomId;
    s.templateFloat = entityTemplate ? entityTemplate->sortOffset : 0.0f;
    s.localBox = localBoundingBox;
    s.world = globalMatrix;
    s.exclusionMask = GetBlockRenderingMask();
    s.minimumQuality = static_cast<uint8_t>(GetMinimumQualityLevel());
}

void Entity::RecreateRenderingContext(bool initialise) {
    DeleteRenderingContext();
    if (flags & ENTITYFLAG_NORENDERINGCONTEXT) return;
    renderingContext = CreateRenderingContext();
    if (!renderingContext || !initialise) return;
    if (entityTemplate) renderingContext->PostSetColor(entityTemplate->wireframeColor.ToLinearVector());
    PostTransformToContext();
    renderingContext->PostSetLayer(layer);
}

void Entity::PostTransformToContext() {
    if (!renderingContext) return;
    renderingContext->PostTransform(globalMatrix, GetInversedGlobalLocationMatrix(),
                                    (enforcedRenderingFlags & ENFORCED_MIRRORED) ? 1 : 0, localBoundingBox);
}

void Entity::ReleaseRenderingContext() {
    if (IsRenderingContextReleasable()) DeleteRenderingContext();
}

void Entity::RestoreRenderingContext() {
    if (IsRenderingContextReleasable()) RecreateRenderingContext(true);
}

void Entity::ReleaseAllRenderingContexts() {
    for (Entity* e = gLiveHead; e; e = e->nextLive) e->ReleaseRenderingContext();
}

void Entity::RestoreAllRenderingContexts() {
    for (Entity* e = gLiveHead; e; e = e->nextLive) e->RestoreRenderingContext();
}

void Entity::SubmitForRendering(uint32_t renderFlags) {
    submittedFrame = GetGameServices().TickedFrameCount();
    if (!renderingContext) {
        RenderWithoutContext(renderFlags | enforcedRenderingFlags);
        return;
    }
    const uint32_t flags = renderFlags | enforcedRenderingFlags;
    gVornexRenderer.SubmitRenderTask(renderingContext, flags);
    // 0x100: the entity takes its box from the render side (particle entities enforce it).
    if (flags & 0x100) UpdateBoundingBoxFromRenderingContext();
}

void Entity::SubmitHelperRendering(uint32_t renderFlags) {
    if (flags & 0x8) DrawHelpers(renderFlags | enforcedRenderingFlags);
}

bool Entity::UpdateBoundingBoxFromRenderingContext() {
    BoundingBox4 box;
    if (!renderingContext || !renderingContext->FetchBoundingBox(&box)) return false;
    // The published box is in world space; the entity keeps it local.
    box.Transform3D(GetInversedGlobalLocationMatrix());
    SetLocalBoundingBox(box);
    return true;
}

void Entity::SetLayer(uint8_t layerId) {
    layer = layerId;
    if (renderingContext) renderingContext->PostSetLayer(layerId);
}

void Entity::ResetLayerToDefault() {
    const EntityLayerSystem* ls = gEntityManager ? gEntityManager->GetLayerSystem() : nullptr;
    SetLayer(ls ? ls->activeLayerId : 0);
    OnLayerApplied();
}

void Entity::ApplyRenderingParams(Entity* other) {
    if (renderingContext) renderingContext->PostRenderingParam(other ? other->renderingContext : nullptr);
}

void Entity::GetGlobalBoundingBoxCorners(Vector corners[8]) const {
    for (uint32_t i = 0; i < 8; ++i) {
        corners[i] = localBoundingBox.GetVertex(i);
        corners[i].Transform3D(globalMatrix);
    }
}

void Entity::DrawBoundingBox(const BoundingBox4& box, const HDRColor& color) {
    const Vector grow(0.01f, 0.01f, 0.01f, 0.0f);
    const BoundingBox4 grown(box.min - grow, box.max + grow);
    Matrix m = globalMatrix;
    Vector toCamera = gVornexRenderer.CameraPosition() - m.r[3];
    toCamera.w = 0.0f;
    const float length = toCamera.Length3();
    if (length > 0.0f) m.r[3] = m.r[3] + toCamera * (2.0f / length);
    gVornexRenderer.DebugDrawBoundingBox(grown, m, color.ToVector());
}

void Entity::InitTriggerActivation() {
    if (entityTemplate && entityTemplate->activatesTriggers && !triggerActivator)
        triggerActivator = GetSceneContentServices().CreateTriggerTracker(this);
}

void Entity::SetPickHandler(EntityPickHandler* handler) {
    if (handler == pickHandler) return;
    delete pickHandler;
    pickHandler = handler;
}

// ---------------------------------------------------------------------------------
// Properties.

void Entity::OnPropertyEdited(const char* propertyName, const void* context) {
    if (propertyName && std::strcmp(propertyName, "Mount to bone") == 0) ReapplyMount();
}

void Entity::OnLoaded(uint32_t options) {
    for (uint8_t& c : cacheValid) c = 0;
    if (flags & ENTITYFLAG_SELECTED) enforcedRenderingFlags |= ENFORCED_SELECTED;
    else enforcedRenderingFlags &= ~ENFORCED_SELECTED;
    RecomputeGlobalLocations(false);
}

// ---------------------------------------------------------------------------------
// Scripts.

void Entity::ExecuteScript(const char* functionName) {
    if (!functionName || !GetGameServices().ListenerAllowsScripts()) return;
    gLua.CallObjectMethod(this, functionName);
}

void Entity::OnProcTargetingAnimRotStart() { gLua.CallObjectMethod(this, "OnProcTargetingAnimRotStart"); }
void Entity::OnProcTargetingAnimRotStop() { gLua.CallObjectMethod(this, "OnProcTargetingAnimRotStop"); }

void Entity::EnableTickCallback() {
    GetGameServices().AddTickEntity(this);
}

void Entity::DisableTickCallback() {
    GetGameServices().RemoveTickEntity(this);
}

namespace {

ScriptScheduler* ChosenScheduler(uint32_t callFlags, int64_t* now) {
    *now = 0;
    return GetGameServices().SelectScheduler(callFlags & 12, now);
}

template <class Fn>
void ForEachScheduler(Fn fn) {
    int64_t now;
    ScriptScheduler* seen[3] = {};
    const uint32_t selections[3] = {0, SCRIPTCALL_GAMEPLAYTIME, SCRIPTCALL_SYSTEMTIME};
    for (uint32_t i = 0; i < 3; ++i) {
        ScriptScheduler* s = GetGameServices().SelectScheduler(selections[i], &now);
        if (!s || s == seen[0] || s == seen[1]) continue;
        seen[i] = s;
        fn(s);
    }
}

}  // namespace

void Entity::ScheduleScriptCall(const char* functionName, float delay, uint32_t callFlags) {
    int64_t now;
    ScriptScheduler* s = ChosenScheduler(callFlags, &now);
    if (!s) {
        gLog.Error(LogCategory::Script, "Cannot schedule script [%s] because the game is not active",
                   functionName ? functionName : "");
        return;
    }
    s->ScheduleString(this, functionName, now, delay, callFlags);
}

void Entity::ScheduleCallback(uint32_t id, float delay, uint32_t callFlags) {
    int64_t now;
    ScriptScheduler* s = ChosenScheduler(callFlags, &now);
    if (!s) {
        gLog.Error(LogCategory::Script, "Cannot schedule callback [%d] because the game is not active", int(id));
        return;
    }
    s->ScheduleCallbackId(this, id, now, delay, callFlags);
}

void Entity::DeleteScriptCalls(const char* functionName) {
    ForEachScheduler([&](ScriptScheduler* s) { s->CancelScriptCalls(this, functionName); });
}

void Entity::DeleteScheduledCallback(uint32_t id) {
    ForEachScheduler([&](ScriptScheduler* s) { s->CancelCallback(this, id); });
}

float Entity::GetScheduledCallbackTimeLeft(uint32_t id, uint32_t callFlags) {
    int64_t now, due;
    ScriptScheduler* s = ChosenScheduler(callFlags, &now);
    if (!s || !s->FindCallback(this, id, &due)) return -1.0f;
    return float(Time(due - now).ToSeconds());
}

// ---------------------------------------------------------------------------------
// Replication state.

void Entity::SetMultiplayerId(uint16_t id) {
    if (multiplayerId != NULL_ENTITY_MULTIPLAYER_ID && gEntityManager) gEntityManager->RemoveFromMIDTable(this);
    multiplayerId = id;
    if (id != NULL_ENTITY_MULTIPLAYER_ID && gEntityManager) gEntityManager->AddToMIDTable(this);
}

void Entity::RegisterForReplication() {
    if (multiplayerRole != MPROLE_AUTHORITY || registeredForReplication) return;
    GetMultiplayerServices().MarkEntityDirty(this);
    registeredForReplication = 1;
}

void Entity::MPPropMarkDirty(uint32_t propertyIndex) {
    if (propertyIndex >= 64) return;
    dirtyMasks[0] |= uint64_t(1) << propertyIndex;
    dirtyMasks[1] |= uint64_t(1) << propertyIndex;
    RegisterForReplication();
}

void Entity::ClearReplicationDirtyMasks() {
    registeredForReplication = 0;
    dirtyMasks[0] = 0;
}

void Entity::RaiseReplicationFlag(uint8_t bits, bool recursive) {
    replicationFlags |= bits;
    if (recursive)
        for (uint32_t i = 0; i < children.Count(); ++i) children[i]->RaiseReplicationFlag(bits, true);
}

void Entity::ClearReplicationFlag(uint8_t bits, bool recursive) {
    replicationFlags &= uint8_t(~bits);
    if (recursive)
        for (uint32_t i = 0; i < children.Count(); ++i) children[i]->ClearReplicationFlag(bits, true);
}

void Entity::SetTornOff() {
    if (tornOff || tornOffReceived) return;
    for (uint32_t i = 0; i < children.Count(); ++i)
        if (children[i]->multiplayerRole != MPROLE_NONE) children[i]->SetTornOff();
    tornOff = 1;
    GetMultiplayerServices().OnEntityTornOff(this);
    if (multiplayerRole == MPROLE_AUTHORITY) GetGameServices().AddServerDelayedEntity(this, DELAYED_ENTITY_TEAROFF);
}

void Entity::EndReplication() {
    for (uint32_t i = 0; i < children.Count(); ++i) children[i]->EndReplication();
    if (multiplayerRole == MPROLE_NONE) return;
    gLua.CallObjectMethod(this, "OnNetDestroy");
    multiplayerRole = MPROLE_NONE;
}

void Entity::SetPlayerOwner(Player* p) {
    if (p == playerOwner) return;
    playerOwner = p;
    RegisterForReplication();
}

// ---------------------------------------------------------------------------------
// Initialisation passes.

namespace {

struct InitBatchState {
    bool open = false;
    uint32_t pass = 0;
    DynarraySafe<SafePointer<Entity>> entities;
};
InitBatchState gInitBatch;

uint32_t PassCount(const Entity* e) {
    const EntityTemplate* t = e->GetTemplate();
    if (!t) return 0;
    return t->initPassCount > kMaxInitPasses ? kMaxInitPasses : t->initPassCount;
}

void RunInitPass(Entity* e, uint32_t pass) {
    gLua.PushUInt(pass);
    gLua.CallObjectMethod(e, "OnInit", 1);
}

}  // namespace

bool EntityInitBatch::Begin() {
    if (gInitBatch.open) return false;
    gInitBatch.open = true;
    gInitBatch.pass = 0;
    return true;
}

bool EntityInitBatch::IsOpen() { return gInitBatch.open; }
uint32_t EntityInitBatch::CurrentPass() { return gInitBatch.pass; }

void EntityInitBatch::Finish() {
    for (uint32_t pass = gInitBatch.pass; gInitBatch.entities.Count(); ++pass) {
        gInitBatch.pass = pass;
        for (uint32_t i = 0; i < gInitBatch.entities.Count(); ++i) {
            Entity* e = gInitBatch.entities[i].Get();
            if (e && pass < PassCount(e)) RunInitPass(e, pass);
        }
        // Entities leave after their last pass; dead ones are dropped.
        for (uint32_t i = gInitBatch.entities.Count(); i-- > 0;) {
            Entity* e = gInitBatch.entities[i].Get();
            if (!e || pass + 1 >= PassCount(e)) gInitBatch.entities.Remove(i);
        }
    }
    gInitBatch.entities.Clear();
    gInitBatch.open = false;
    gInitBatch.pass = 0;
}

void EntityInitBatch::InitEntity(Entity* entity) {
    if (!entity) return;
    const uint32_t n = PassCount(entity);
    if (!n) return;
    if (!gInitBatch.open) {
        Entity::CallScriptOnInit(entity);
        return;
    }
    SafePointer<Entity> alive(entity);
    uint32_t pass = 0;
    for (; pass < gInitBatch.pass && pass < n && alive.Get(); ++pass) RunInitPass(entity, pass);
    if (alive.Get() && pass < n) gInitBatch.entities.Add(alive);
}

void Entity::CallScriptOnInit(Entity* entity) {
    if (!entity) return;
    SafePointer<Entity> alive(entity);
    const uint32_t n = PassCount(entity);
    for (uint32_t pass = 0; pass < n && alive.Get(); ++pass) RunInitPass(entity, pass);
}
