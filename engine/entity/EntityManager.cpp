// EntityManager: creation within the limits, the name, GUID and multiplayer-id indexes,
// the scene root and new scenes.
//
// Creation runs: the limit checks, the template's CreateEntity, InitFromTemplate, owner,
// local matrix, SetParent (from initialisation), the multiplayer engine's id, and for an
// authority entity ENTITYFLAG_DISABLE_UPDATE with the Game's server-delayed init.
// FinishEntityCreation names the entity and runs its "OnInit" passes in a batch.
#include "engine/entity/EntityManager.h"
#include "engine/entity/MPProperty.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/Log.h"
#include "core/Memory.h"
#include "core/Time.h"
#include "platform/os/Clock.h"
#include "core/rtti/RTTIEntityPointer.h"
#include "engine/services/MultiplayerServices.h"
#include "engine/services/GameServices.h"
#include "engine/entity/EntityLayers.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/script/LuaWrapper.h"
#include "render/VornexRenderer.h"

EntityManager* gEntityManager = nullptr;

namespace {

// ASCII case folding over the whole names (no length cap, no copy).
int NameCompare(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
        if (ca >= 'A' && ca <= 'Z') ca += 'a' - 'A';
        if (cb >= 'A' && cb <= 'Z') cb += 'a' - 'A';
        if (ca != cb || ca == 0) return ca - cb;
    }
}

// Name index order: case-insensitive, then the pointer for equal names.
bool NameLess(const Entity* a, const Entity* b) {
    const int c = NameCompare(a->GetName(), b->GetName());
    return c < 0 || (c == 0 && a < b);
}

bool GuidLess(const Entity* a, const Entity* b) { return SimpleGUID::Compare(a->GetGUID(), b->GetGUID()) < 0; }

// The dynamic multiplayer ids in use: one bit per id, 32 to a word.
constexpr uint32_t kIdBitsPerWord = 32;
uint32_t IdWord(uint32_t id) { return id / kIdBitsPerWord; }
uint32_t IdBit(uint32_t id) { return 1u << (id % kIdBitsPerWord); }

// The first place of a sorted index whose entity is not less than the key.
template <class Key, class Less>
uint32_t LowerBound(const Dynarray<Entity*>& index, const Key& key, Less less) {
    return static_cast<uint32_t>(std::lower_bound(index.begin(), index.end(), key, less) - index.begin());
}

}  // namespace

EntityManager::EntityManager() = default;

EntityManager::~EntityManager() {
    if (GetEntityPointerResolver() == this) SetEntityPointerResolver(nullptr);
    DestroyRoot();
    DeleteAllEntitySets();
    SetSceneGrid(nullptr);
    delete layerSystem;
    EngineFree(sceneFileName);
}

// ---------------------------------------------------------------------------------
// Indexes.

void EntityManager::AddToNameIndex(Entity* e) {
    if (e->inNameIndex) return;
    nameIndex.Insert(e, LowerBound(nameIndex, e, NameLess));
    e->inNameIndex = true;
}

void EntityManager::RemoveFromNameIndex(Entity* e) {
    if (!e->inNameIndex) return;
    const uint32_t at = LowerBound(nameIndex, e, NameLess);
    for (uint32_t i = at; i < nameIndex.Count(); ++i) {
        if (nameIndex[i] == e) {
            nameIndex.Remove(i);
            break;
        }
    }
    e->inNameIndex = false;
}

bool EntityManager::AddToGUIDIndex(Entity* e) {
    if (e->inGUIDIndex) return true;
    const uint32_t at = LowerBound(guidIndex, e, GuidLess);
    if (at < guidIndex.Count() && guidIndex[at]->GetGUID() == e->GetGUID()) return false;
    guidIndex.Insert(e, at);
    e->inGUIDIndex = true;
    return true;
}

void EntityManager::RemoveFromGUIDIndex(Entity* e) {
    if (!e->inGUIDIndex) return;
    const uint32_t at = LowerBound(guidIndex, e, GuidLess);
    if (at < guidIndex.Count() && guidIndex[at] == e) guidIndex.Remove(at);
    e->inGUIDIndex = false;
}

Entity* EntityManager::FindEntityByName(const char* name) const {
    if (!name) return nullptr;
    const uint32_t lo = LowerBound(nameIndex, name, [](const Entity* e, const char* n) {
        return NameCompare(e->GetName(), n) < 0;
    });
    return lo < nameIndex.Count() && NameCompare(nameIndex[lo]->GetName(), name) == 0 ? nameIndex[lo] : nullptr;
}

Entity* EntityManager::FindEntityByGUID(const SimpleGUID& guid) const {
    const uint32_t lo = LowerBound(guidIndex, guid, [](const Entity* e, const SimpleGUID& g) {
        return SimpleGUID::Compare(e->GetGUID(), g) < 0;
    });
    return lo < guidIndex.Count() && guidIndex[lo]->GetGUID() == guid ? guidIndex[lo] : nullptr;
}

RTTIPolyBaseClass* EntityManager::FindEntityByGUID(const SimpleGUID& guid) {
    return static_cast<const EntityManager*>(this)->FindEntityByGUID(guid);
}

SimpleGUID EntityManager::GetEntityGUID(const RTTIPolyBaseClass* entity) {
    const Entity* e = dynamic_cast<const Entity*>(entity);
    return e ? e->GetGUID() : SimpleGUID{};
}

uint32_t EntityManager::GetEntityTemplateType(const RTTIPolyBaseClass* entity) {
    const Entity* e = dynamic_cast<const Entity*>(entity);
    return e ? e->GetType() : ENTITY_UNKNOWN;
}

void EntityManager::SetSceneFileName(const char* fileName) {
    EngineFree(sceneFileName);
    sceneFileName = nullptr;
    if (!fileName) return;
    const size_t n = std::strlen(fileName) + 1;
    sceneFileName = static_cast<char*>(EngineAlloc(n));
    if (sceneFileName) std::memcpy(sceneFileName, fileName, n);
}

// ---------------------------------------------------------------------------------
// Multiplayer ids.

void EntityManager::AddToMIDTable(Entity* e) {
    const uint16_t id = e->GetMultiplayerId();
    if (id >= NULL_ENTITY_MULTIPLAYER_ID) return;
    if (midTable[id] && midTable[id] != e)
        gLog.Print(LogSeverity::Error, LogCategory::Multiplayer, "Entity already in lookup mid:%d newEntName:%s oldEntName:%s",
                   int(id), e->GetName(), midTable[id]->GetName());
    midTable[id] = e;
}

void EntityManager::RemoveFromMIDTable(Entity* e) {
    const uint16_t id = e->GetMultiplayerId();
    if (id >= NULL_ENTITY_MULTIPLAYER_ID) return;
    if (midTable[id] != e) {
        if (midTable[id])
            gLog.Print(LogSeverity::Error, LogCategory::Multiplayer,
                       "Removing wrong entity from lookup mid:%d newEntName:%s oldEntName:%s", int(id), e->GetName(),
                       midTable[id]->GetName());
        return;
    }
    midTable[id] = nullptr;
}

uint16_t EntityManager::AllocateDynamicMID() {
    for (uint32_t i = 0; i < kDynamicMultiplayerIds; ++i) {
        if (!(dynamicIdBits[IdWord(i)] & IdBit(i))) {
            dynamicIdBits[IdWord(i)] |= IdBit(i);
            ++dynamicIdCount;
            return uint16_t(i);
        }
    }
    return NULL_ENTITY_MULTIPLAYER_ID;
}

uint16_t EntityManager::AllocateStaticMID() {
    if (staticIdCounter >= kStaticMultiplayerIds) return NULL_ENTITY_MULTIPLAYER_ID;
    return uint16_t(kDynamicMultiplayerIds + staticIdCounter++);
}

void EntityManager::ReleaseMID(uint16_t id) {
    if (id >= kDynamicMultiplayerIds) return;
    if (dynamicIdBits[IdWord(id)] & IdBit(id)) {
        dynamicIdBits[IdWord(id)] &= ~IdBit(id);
        --dynamicIdCount;
    }
}

void EntityManager::ClearMIDTable() {
    for (uint32_t i = 0; i < NULL_ENTITY_MULTIPLAYER_ID; ++i) {
        Entity* e = midTable[i];
        midTable[i] = nullptr;
        if (e) e->multiplayerId = NULL_ENTITY_MULTIPLAYER_ID;
    }
    std::memset(dynamicIdBits, 0, sizeof(dynamicIdBits));
    dynamicIdCount = 0;
    staticIdCounter = 0;
}

// ---------------------------------------------------------------------------------
// Creation.

Entity* EntityManager::CreateEntityFromTemplate(EntityTemplate* t, Entity* parent, const Matrix& local,
                                                uint32_t creationFlags, Player* owner) {
    if (!t) return nullptr;
    const bool authority = (creationFlags & ENTITYCREATION_MULTIPLAYER_AUTHORITY) != 0;
    bool refused = false;
    if (authority && parent && parent->GetMultiplayerRole() != MPROLE_AUTHORITY) {
        gLog.Error(LogCategory::Engine,
                   "CreateEntity MULTIPLAYER_AUTHORITY - parent is not replicable while child is template:%s parent:%s",
                   t->GetName() ? t->GetName() : "", parent->GetName());
        refused = true;
    }
    if ((creationFlags & ENTITYCREATION_MULTIPLAYER_STATIC) && staticIdCounter >= kStaticMultiplayerIds) {
        gLog.Error(LogCategory::Engine,
                   "CreateEntity MULTIPLAYER_AUTHORITY - too many static multiplayer entities! Current limit: %d",
                   int(kStaticMultiplayerIds));
        return nullptr;
    }
    if (!(creationFlags & ENTITYCREATION_MULTIPLAYER_STATIC) && authority && dynamicIdCount >= kDynamicMultiplayerIds) {
        gLog.Error(LogCategory::Engine,
                   "CreateEntity MULTIPLAYER_AUTHORITY - too many dynamic multiplayer entities! Current limit: %d",
                   int(kDynamicMultiplayerIds));
        return nullptr;
    }
    if (refused) return nullptr;
    if (liveCount >= kMaxLiveEntities) {
        gLog.Error(LogCategory::Engine, "Too many entities! Current limit: %d", int(kMaxLiveEntities));
        return nullptr;
    }
    Entity* e = t->CreateEntity();
    if (!e) return nullptr;
    ++creationCount;
    e->InitFromTemplate(t, creationFlags);
    e->SetPlayerOwner(owner);
    e->SetLocalLocationMatrix(local);
    e->SetParentCore(parent, false, true);
    GetMultiplayerServices().OnEntityCreated(e);
    if (authority) {
        e->RaiseFlag(ENTITYFLAG_DISABLE_UPDATE, true);
        GetGameServices().AddServerDelayedEntity(e, DELAYED_ENTITY_INIT);
    }
    return e;
}

Entity* EntityManager::CreateEntity(const char* templateName, Entity* parent, const Matrix& local,
                                    uint32_t creationFlags, Player* owner) {
    EntityTemplate* t = gEntityTemplateRegistry.FindTemplateByName(templateName, true);
    if (!t) {
        gLog.Error(LogCategory::Engine, "Unable to find template: %s", templateName ? templateName : "");
        return nullptr;
    }
    return CreateEntityFromTemplate(t, parent, local, creationFlags, owner);
}

namespace {

Entity* FinishInGame(EntityManager& m, Entity* e) {
    if (!e) return nullptr;
    if (e->GetMultiplayerRole() != MPROLE_NONE) m.CallInitMPProperties(e);
    m.FinishEntityCreation(e);
    return e;
}

}  // namespace

Entity* EntityManager::CreateEntityInGame(const char* templateName, Entity* parent, const Matrix& local,
                                          uint32_t creationFlags, Player* owner) {
    return FinishInGame(*this, CreateEntity(templateName, parent, local, creationFlags, owner));
}

Entity* EntityManager::CreateEntityInGameByGUID(const SimpleGUID& templateGuid, Entity* parent, const Matrix& local,
                                                uint32_t creationFlags, Player* owner) {
    EntityTemplate* t = gEntityTemplateRegistry.FindTemplateByGUID(templateGuid, true);
    if (!t) {
        gLog.Error(LogCategory::Engine, "Unable to find template by guid: %s", templateGuid.ToStringUnsafe());
        return nullptr;
    }
    return FinishInGame(*this, CreateEntityFromTemplate(t, parent, local, creationFlags, owner));
}

void EntityManager::CallInitMPProperties(Entity* entity) {
    if (!entity) return;
    entity->CreateMPProperties();
    gLua.CallObjectMethod(entity, "InitMPProperties");
}

void EntityManager::FinishEntityCreation(Entity* entity) {
    if (!entity) return;
    const bool opened = EntityInitBatch::Begin();
    SafePointer<Entity> alive(entity);
    char buffer[kRTTIMaxNameLength + 1];
    std::snprintf(buffer, sizeof(buffer), "%s*%d", entity->GetTemplateName(), int(creationCount));
    entity->SetName(buffer);
    entity->InitTriggerActivation();
    GetGameServices().OnEntityCreatedByListener(entity);
    if (alive.Get()) {
        if (!GetGameServices().InitEntity(entity)) EntityInitBatch::InitEntity(entity);
    }
    if (opened) EntityInitBatch::Finish();
}

void EntityManager::DestroyEntity(Entity* entity) {
    if (!entity) return;
    if (entity->GetMultiplayerRole() == MPROLE_AUTHORITY) {
        GetMultiplayerServices().OnEntityDestroyed(entity);
        if (GetGameServices().AddServerDelayedEntity(entity, DELAYED_ENTITY_DESTROY)) return;
    }
    entity->Destroy();
}

// ---------------------------------------------------------------------------------
// Scenes.

void EntityManager::Init(const BoundingBox4& bounds, float size) {
    if (!layerSystem) layerSystem = new EntityLayerSystem();
    worldBounds = bounds;
    queryBounds = bounds;
    // Both machines read the same world box, so both quantise positions alike.
    SetMPReplicationBox(bounds.min, bounds.max);
    if (queryBounds.max.y > kQueryBoundsMaxY) queryBounds.max.y = kQueryBoundsMaxY;
    cellSize = size;
    SetEntityPointerResolver(this);
    NewScene();
}

void EntityManager::SetUniverseMinY(float y) {
    worldBounds.min.y = y;
    grid.SetMinY(y);
    gVornexRenderer.PostSceneGridValue(y);
    queryBounds = worldBounds;
    if (queryBounds.max.y > kQueryBoundsMaxY) queryBounds.max.y = kQueryBoundsMaxY;
}

void EntityManager::DestroyRoot() {
    Entity* root = sceneRoot;
    sceneRoot = nullptr;
    if (!root) return;
    if (root->GetMultiplayerRole() == MPROLE_AUTHORITY && GetGameServices().TakesDelayedEntities()) {
        GetMultiplayerServices().OnEntityDestroyed(root);
        GetGameServices().AddServerDelayedEntity(root, DELAYED_ENTITY_DESTROY);
        return;
    }
    root->Destroy();
}

void EntityManager::ClearSpatialRegistrations() {
    for (Entity* e = Entity::FirstLive(); e; e = e->NextLive()) e->cellRanges[0] = e->cellRanges[1] = EntityCellRange{};
}

void EntityManager::FormatLiveCount(char* buffer, uint32_t size) const {
    const Entity* first = Entity::FirstLive();
    std::snprintf(buffer, size, "LiveEntityCount: %u, First: %s", liveCount, first ? first->GetName() : "");
}

void EntityManager::NewScene() {
    const int64_t start = os::ReadCounter();
    SetSceneGrid(nullptr);
    SetSceneFileName(nullptr);
    DestroyRoot();
    grid.Free();
    ClearSpatialRegistrations();
    nameIndex.Clear();
    guidIndex.Clear();
    for (Entity* e = Entity::FirstLive(); e; e = e->NextLive()) e->inNameIndex = e->inGUIDIndex = false;
    frameEntities.Clear();
    secondFrameEntities.Clear();
    creationCount = 0;
    cellSize = grid.Build(worldBounds, cellSize);
    if (layerSystem) layerSystem->Reset();
    DeleteAllEntitySets();
    SceneEntity* root = new SceneEntity();
    sceneRoot = root;
    root->SetName("SCENE ROOT");
    root->RaiseFlag(ENTITYFLAG_HIDDEN, false);
    root->RecomputeGlobalLocations(false);
    gVornexRenderer.PostNewScene(worldBounds, cellSize);
    gLog.Print(LogSeverity::Progress, LogCategory::Engine, "NewScene in %f sec",
               Time(os::ReadCounter() - start).ToSeconds());
}

void EntityManager::Shutdown() {
    DestroyRoot();
    creationCount = 0;
    SetSceneFileName(nullptr);
    DeleteAllEntitySets();
    SetSceneGrid(nullptr);
    delete layerSystem;
    layerSystem = nullptr;
    grid.Free();
    ClearSpatialRegistrations();
    if (GetEntityPointerResolver() == this) SetEntityPointerResolver(nullptr);
}

// ---------------------------------------------------------------------------------
// Picking.

void EntityManager::Pick(const Vector& cursor, const uint32_t* pressedInputs, uint32_t pressedCount,
                         const Matrix& view, const Matrix& projection) {
    if (pressedCount == 0) return;
    Matrix viewProjection, inverse;
    viewProjection.Mul(projection, view);  // view first, then projection
    if (!inverse.Inverse(viewProjection)) return;
    const float x = cursor.x * 2.0f - 1.0f, y = 1.0f - cursor.y * 2.0f;
    Vector nearPoint(x, y, 0.0f, 1.0f), farPoint(x, y, 1.0f, 1.0f);
    nearPoint.TransformHomogen(inverse);
    farPoint.TransformHomogen(inverse);
    Vector direction = farPoint - nearPoint;
    direction.w = 0.0f;
    const float length = direction.Length3();
    if (!(length > 0.0f)) return;
    const Vector to = nearPoint + direction * (kPickRayLength / length);
    for (uint32_t i = 0; i < pressedCount; ++i) PickAlongSegment(nearPoint, to, pressedInputs[i]);
}

void EntityManager::PickAlongSegment(const Vector& from, const Vector& to, uint32_t pointerInput) {
    for (uint32_t i = 0; i < frameEntities.Count(); ++i) {
        Entity* e = frameEntities[i];
        if (!e || !(e->GetFlags() & ENTITYFLAG_PICKABLE) || !e->GetPickHandler()) continue;
        // The segment in the entity's local space against its local box.
        Vector a = from, b = to;
        const Matrix& inv = e->GetInversedGlobalLocationMatrix();
        a.Transform3D(inv);
        b.Transform3D(inv);
        // The exact clipping test: a pick near an edge must not depend on the fast test's
        // rounding.
        if (e->GetLocalBoundingBox().CollidesWithSegment3DSlowSlowSlow(a, b))
            e->GetPickHandler()->OnPicked(e, pointerInput);
    }
}
