// Trigger template and trigger entity: the volume test, the pending pass over moved
// activators, nested trigger groups and the callbacks.
//
// Records: a trigger's inside list holds {entity, reusable id, count}, sorted by the id
// and searched by bisection; an activator's tracker lists the triggers it is inside.
// Both sides change together in HandleEnter / HandleExit and the clearing operations.
// The two gathers (an activator's cells, a trigger's cells) each mark what they handled
// in a bit set over reusable ids, so an entity spanning several cells is handled once.
#include "scene/entities/TriggerEntity.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/Log.h"
#include "core/math/BoundingBox4.h"
#include "core/rtti/DirectProperty.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntitySpatialGrid.h"
#include "engine/script/LuaWrapper.h"
#include "render/VornexRenderer.h"

namespace {

RTTIClass* gTriggerTemplateClass = nullptr;
RTTIClass* gTriggerEntityClass = nullptr;

const char kShapeNames[] = "Box\0Sphere\0";
const char kModeNames[] = "Position inside\0Whole entity inside\0Just touch\0Position with radius\0";

constexpr uint32_t kVisitedBits = 32768;  // reusable ids are below this

// Handled-once marks over reusable ids, 4096 bytes.
struct VisitedSet {
    uint8_t bits[kVisitedBits / 8];
    void Clear() { std::memset(bits, 0, sizeof bits); }
    // True when the id was not marked yet (and marks it).
    bool Mark(uint32_t id) {
        if (id >= kVisitedBits) return true;
        const uint8_t bit = uint8_t(1u << (id & 7));
        if (bits[id >> 3] & bit) return false;
        bits[id >> 3] |= bit;
        return true;
    }
};
static_assert(sizeof(VisitedSet) == 4096);

// One set for the activator gather, one for the trigger gather: a callback in the first
// may move a trigger, which runs the second.
VisitedSet gActivatorVisited;
VisitedSet gTriggerVisited;

DynarraySafe<SafePointer<Entity>> gPending;
bool gChecksEnabled = false;

TriggerTracker* TrackerOf(const Entity* e) { return static_cast<TriggerTracker*>(e->GetTriggerActivator()); }

void Queue(Entity* e, TriggerTracker* tracker) {
    if (!gChecksEnabled || !tracker || tracker->queued) return;
    tracker->queued = true;
    gPending.Add(SafePointer<Entity>(e));
}

TriggerEntity* AsTrigger(Entity* e) {
    if (!e || !e->IsTrigger()) return nullptr;
    return dynamic_cast<TriggerEntity*>(e);
}

void RemoveTriggerFromTracker(TriggerTracker* tracker, const TriggerEntity* trigger) {
    if (!tracker) return;
    auto& list = tracker->insideTriggers;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < list.Count(); ++i)
        if (list[i].Get() != trigger) {
            if (kept != i) list[kept] = list[i];
            ++kept;
        }
    list.Resize(kept);
}

BoundingBox4 WorldBox(const Entity* e) {
    BoundingBox4 box;
    box.Transform3D(e->GetLocalBoundingBox(), e->GetGlobalLocationMatrix());
    return box;
}

// Calls visit(entry) for every entry of list 0 in the cells the box covers, row by row,
// columns ascending. Re-reads the grid on every step: visit may move entities.
template <class Visit>
void WalkCells(const BoundingBox4& box, Visit visit) {
    if (!gEntityManager) return;
    EntitySpatialGrid& grid = gEntityManager->GetSpatialGrid();
    const EntityCellRange range = grid.GetCellRange(box);
    if (range.IsEmpty()) return;
    for (int32_t z = range.z0; z < range.z1; ++z) {
        for (int32_t x = range.x0; x < range.x1; ++x) {
            for (uint32_t j = 0;; ++j) {
                if (uint32_t(x) >= grid.CountX() || uint32_t(z) >= grid.CountZ()) return;
                const EntityGridList& list = grid.Cell(x, z)->lists[0];
                if (j >= list.count) break;
                const EntityGridEntry entry = list.entries[j];
                if (!visit(entry)) return;
            }
        }
    }
}

float LengthSquared3(const Vector& v) { return v.x * v.x + v.y * v.y + v.z * v.z; }

}  // namespace

// ---------------------------------------------------------------------------------
// TriggerTemplate

TriggerTemplate::TriggerTemplate() {
    typeId = ENTITY_TRIGGER;
    wireframeColor = HDRColor(0, 255, 0, 255, 1.0f);
}

const RTTIClass* TriggerTemplate::RegisterRTTIClass() {
    if (gTriggerTemplateClass) return gTriggerTemplateClass;
    EntityTemplate::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gTriggerTemplateClass, "TriggerTemplate", "EntityTemplate",
                                         [](int32_t) -> RTTIPolyBaseClass* { return new TriggerTemplate(); });
    AddDirect<uint32_t>(c, "Trigger shape", RTTI_OFFSETOF(TriggerTemplate, shape), kPropertyFlagEnum, kShapeNames);
    AddDirect<uint32_t>(c, "Trigger mode", RTTI_OFFSETOF(TriggerTemplate, mode), kPropertyFlagEnum, kModeNames);
    return c;
}

const RTTIClass* TriggerTemplate::GetRTTIClass() const { return RegisterRTTIClass(); }

Entity* TriggerTemplate::CreateEntity() { return new TriggerEntity(); }

// The colour argument is not used: white for flag value 2, else the template's own colour.
bool TriggerTemplate::DrawHelper(const Matrix& m, const Vector&, uint32_t flags, const char*) {
    const Vector colour = (flags & 2) ? Vector(1, 1, 1, 1) : wireframeColor.ToVector();
    if (shape == TRIGGER_SHAPE_SPHERE) gVornexRenderer.DebugDrawTrigger(m, colour);
    else gVornexRenderer.DebugDrawBoundingBox(staticBoundingBox, m, colour);
    return true;
}

// ---------------------------------------------------------------------------------
// TriggerEntity: class, overrides

TriggerEntity::TriggerEntity() { RaiseFlag(ENTITYFLAG_POSTFSE, false); }

const RTTIClass* TriggerEntity::RegisterRTTIClass() {
    if (gTriggerEntityClass) return gTriggerEntityClass;
    Entity::RegisterClass();
    RTTIClass* c = CreateRegisteredClass(gTriggerEntityClass, "TriggerEntity", "Entity");
    AddDirect<bool>(c, "Active", RTTI_OFFSETOF(TriggerEntity, active));
    return c;
}

const RTTIClass* TriggerEntity::GetRTTIClass() const { return RegisterRTTIClass(); }

void TriggerEntity::OnLoaded(uint32_t options) {
    Entity::OnLoaded(options);
    RaiseFlag(ENTITYFLAG_POSTFSE, false);
}

void TriggerEntity::UpdateGlobalLocation() {
    Entity::UpdateGlobalLocation();
    CheckInside();
}

void TriggerEntity::Destroy() {
    // An exit callback may ask to destroy the trigger again: the running destruction
    // finishes the job.
    if (destroyRunning) return;
    destroyRunning = true;
    ExitAll();
    Entity::Destroy();
}

void TriggerEntity::DrawHelpers(uint32_t flags) {
    Entity::DrawHelpers(flags);
    if (EntityTemplate* t = GetTemplate()) t->DrawHelper(GetGlobalLocationMatrix(), t->wireframeColor.ToLinearVector(), flags, nullptr);
}

uint32_t TriggerEntity::GetShape() const {
    auto* t = dynamic_cast<const TriggerTemplate*>(GetTemplate());
    return t ? t->shape : TRIGGER_SHAPE_BOX;
}

uint32_t TriggerEntity::GetMode() const {
    auto* t = dynamic_cast<const TriggerTemplate*>(GetTemplate());
    return t ? t->mode : TRIGGER_MODE_POSITION_INSIDE;
}

// ---------------------------------------------------------------------------------
// The volume test

bool TriggerEntity::IsInside(const TriggerEntity* trigger, const Entity* entity) {
    if (!trigger || !entity) return false;
    const uint32_t shape = trigger->GetShape();
    const uint32_t mode = trigger->GetMode();
    if (shape > TRIGGER_SHAPE_SPHERE || mode > TRIGGER_MODE_POSITION_WITH_RADIUS) return false;
    const bool sphere = shape == TRIGGER_SHAPE_SPHERE;
    const Matrix& inverse = const_cast<TriggerEntity*>(trigger)->GetInversedGlobalLocationMatrix();
    const BoundingBox4& triggerBox = trigger->GetLocalBoundingBox();
    const Vector position = entity->GetGlobalPosition();

    switch (mode) {
        case TRIGGER_MODE_POSITION_INSIDE: {
            Vector p;
            p.Transform3D(inverse, position);
            return sphere ? LengthSquared3(p) <= 1.0f : triggerBox.Inside3D(p);
        }
        case TRIGGER_MODE_WHOLE_ENTITY_INSIDE:
        case TRIGGER_MODE_JUST_TOUCH: {
            // The entity's local space carried into the trigger's: W_E, then W_T^-1.
            Matrix toTrigger;
            toTrigger.Mul(inverse, entity->GetGlobalLocationMatrix());
            const BoundingBox4& entityBox = entity->GetLocalBoundingBox();
            if (mode == TRIGGER_MODE_WHOLE_ENTITY_INSIDE) {
                BoundingBox4 local;
                local.Transform3D(entityBox, toTrigger);
                if (!sphere) return triggerBox.Inside3D(local);
                for (uint32_t i = 0; i < 8; ++i)
                    if (LengthSquared3(local.GetVertex(i)) > 1.0f) return false;
                return true;
            }
            if (!sphere) return triggerBox.CollidesWithTransformedBox(entityBox, toTrigger);
            OBBox4 box;
            box.Transform3D(entityBox, toTrigger);
            return LengthSquared3(box.GetClosestPoint(Vector(0, 0, 0, 1))) <= 1.0f;
        }
        default: {
            const float radius = entity->GetRadiusForTrigger();
            if (!sphere) {
                OBBox4 box;
                box.Transform3D(triggerBox, trigger->GetGlobalLocationMatrix());
                const Vector closest = box.GetClosestPoint(position);
                return LengthSquared3(position - closest) <= radius * radius;
            }
            Vector d = position - trigger->GetGlobalPosition();
            d.w = 0.0f;
            const float distanceSquared = LengthSquared3(d);
            if (radius * radius >= distanceSquared) return true;
            const float distance = std::sqrt(distanceSquared);
            Vector q = d * ((distance - radius) / distance);
            q.Transform3DNormal(inverse);
            return LengthSquared3(q) <= 1.0f;
        }
    }
}

// ---------------------------------------------------------------------------------
// Inside records

int32_t TriggerEntity::FindRecord(uint32_t key, bool* found) const {
    const auto before = [](const InsideRecord& r, uint32_t k) { return r.key < k; };
    const uint32_t lo =
        static_cast<uint32_t>(std::lower_bound(inside.begin(), inside.end(), key, before) - inside.begin());
    *found = lo < inside.Count() && inside[lo].key == key;
    return static_cast<int32_t>(lo);
}

void TriggerEntity::InsertRecord(Entity* entity, uint32_t count) {
    bool found = false;
    const int32_t at = FindRecord(entity->GetReusableId(), &found);
    if (found) return;
    InsideRecord r;
    r.entity = entity;
    r.key = entity->GetReusableId();
    r.count = count;
    inside.Insert(r, static_cast<uint32_t>(at));
}

void TriggerEntity::RemoveRecord(const Entity* entity) {
    bool found = false;
    const int32_t at = FindRecord(entity->GetReusableId(), &found);
    if (found) inside.Remove(static_cast<uint32_t>(at));
}

uint32_t TriggerEntity::GetInsideCount(const Entity* entity) const {
    bool found = false;
    const int32_t at = entity ? FindRecord(entity->GetReusableId(), &found) : 0;
    return found ? inside[at].count : 0;
}

Entity* TriggerEntity::GetEntityInside(uint32_t i) const {
    if (i >= inside.Count()) {
        gLog.Warning(LogCategory::Script, "TriggerEntity::GetEntityInside: index %u out of range", i);
        return nullptr;
    }
    return inside[i].entity.Get();
}

TriggerEntity* TriggerEntity::GetTopTrigger() {
    TriggerEntity* top = this;
    while (TriggerEntity* parent = AsTrigger(top->GetParent())) top = parent;
    return top;
}

// ---------------------------------------------------------------------------------
// Callbacks

void TriggerEntity::FireEnter(Entity* entity) {
    if (EntityEventHandler* h = GetEventHandler()) return h->OnEnter(entity);
    gLua.PushObject(entity);
    gLua.CallObjectMethod(this, "OnEnter", 1);
}

void TriggerEntity::FireExit(Entity* entity) {
    if (EntityEventHandler* h = GetEventHandler()) return h->OnExit(entity);
    gLua.PushObject(entity);
    gLua.CallObjectMethod(this, "OnExit", 1);
}

void TriggerEntity::FireCleared() {
    if (EntityEventHandler* h = GetEventHandler()) return h->OnCleared();
    gLua.CallObjectMethod(this, "OnCleared", 0);
}

// ---------------------------------------------------------------------------------
// Groups

void TriggerEntity::HandleEnter(TriggerEntity* trigger, Entity* entity) {
    TriggerEntity* top = trigger->GetTopTrigger();
    if (top != trigger) {
        if (trigger->GetInsideCount(entity)) return;  // this part already counted
        trigger->InsertRecord(entity, 1);
        trigger = top;
    }
    bool found = false;
    const int32_t at = trigger->FindRecord(entity->GetReusableId(), &found);
    if (found) {
        ++trigger->inside[at].count;
        return;
    }
    trigger->InsertRecord(entity, 1);
    trigger->FireEnter(entity);
}

void TriggerEntity::HandleExit(TriggerEntity* trigger, Entity* entity) {
    bool found = false;
    int32_t at = trigger->FindRecord(entity->GetReusableId(), &found);
    if (!found) return;
    TriggerEntity* top = trigger->GetTopTrigger();
    if (top != trigger) {
        SafePointer<TriggerEntity> part(trigger);
        const uint32_t key = entity->GetReusableId();
        HandleExit(top, entity);
        // The top's exit may have destroyed the entity: its record here goes all the same,
        // or a newcomer given the same id would find it and count as already inside.
        if (!part) return;
        at = part->FindRecord(key, &found);
        if (found && (!part->inside[at].entity || part->inside[at].entity.Get() == entity))
            part->inside.Remove(static_cast<uint32_t>(at));
        return;
    }
    if (--trigger->inside[at].count > 0) return;
    trigger->inside.Remove(static_cast<uint32_t>(at));
    trigger->FireExit(entity);
}

void TriggerEntity::DropSilently(TriggerEntity* trigger, Entity* entity) {
    if (!trigger->GetInsideCount(entity)) return;
    TriggerEntity* top = trigger->GetTopTrigger();
    if (top != trigger) {
        trigger->RemoveRecord(entity);
        trigger = top;
    }
    bool found = false;
    const int32_t at = trigger->FindRecord(entity->GetReusableId(), &found);
    if (found && --trigger->inside[at].count == 0) trigger->inside.Remove(static_cast<uint32_t>(at));
}

void TriggerEntity::ExitAll() {
    SafePointer<TriggerEntity> self(this);
    for (uint32_t c = 0; c < GetChildrenCount(); ++c)
        if (TriggerEntity* child = AsTrigger(GetChild(c))) {
            child->ExitAll();
            if (!self) return;
        }
    for (uint32_t i = inside.Count(); i-- > 0;) {
        if (i >= inside.Count()) continue;  // a callback shortened the list
        Entity* e = inside[i].entity.Get();
        if (!e) {
            inside.Remove(i);
            continue;
        }
        RemoveTriggerFromTracker(TrackerOf(e), this);
        HandleExit(this, e);
        if (!self) return;
    }
}

void TriggerEntity::ClearInsideList() {
    SafePointer<TriggerEntity> self(this);
    for (uint32_t c = 0; c < GetChildrenCount(); ++c)
        if (TriggerEntity* child = AsTrigger(GetChild(c))) {
            child->ClearInsideList();
            if (!self) return;
        }
    TriggerEntity* top = GetTopTrigger();
    for (uint32_t i = inside.Count(); i-- > 0;) {
        Entity* e = inside[i].entity.Get();
        if (!e) continue;
        RemoveTriggerFromTracker(TrackerOf(e), this);
        if (top == this) continue;
        // A part of a group: the top's count of the entity drops with it.
        bool found = false;
        const int32_t at = top->FindRecord(e->GetReusableId(), &found);
        if (found && --top->inside[at].count == 0) top->inside.Remove(static_cast<uint32_t>(at));
    }
    inside.Release();
    FireCleared();
}

void TriggerEntity::Activate(bool flag) {
    if (flag == active) return;
    active = flag;
    if (active) UpdateGlobalLocation();
    else ExitAll();
}

// ---------------------------------------------------------------------------------
// Gathers

void TriggerEntity::CheckInside() {
    if (!active) return;
    for (const InsideRecord& r : inside)
        if (Entity* e = r.entity.Get()) Queue(e, TrackerOf(e));
    BoundingBox4 box = WorldBox(this);
    if (GetMode() == TRIGGER_MODE_POSITION_WITH_RADIUS) {
        const Vector grow(positionMaxRange, positionMaxRange, positionMaxRange, 0.0f);
        box.min -= grow;
        box.max += grow;
    }
    gTriggerVisited.Clear();
    // Queueing runs no callback, so the walk sees a still grid.
    WalkCells(box, [](const EntityGridEntry& entry) {
        if (gTriggerVisited.Mark(entry.key) && entry.entity->GetTriggerActivator())
            Queue(entry.entity, TrackerOf(entry.entity));
        return true;
    });
}

void TriggerEntity::CheckQueuedEntity(TriggerTracker* tracker) {
    Entity* owner = tracker ? tracker->owner : nullptr;
    if (!owner) return;
    SafePointer<Entity> entity(owner);
    // The gather reaches as far as the activator's trigger radius: a "Position with
    // radius" trigger in a neighbouring cell may hold it.
    BoundingBox4 box = WorldBox(owner);
    if (tracker->radius > 0.0f) {
        const Vector grow(tracker->radius, tracker->radius, tracker->radius, 0.0f);
        box.min -= grow;
        box.max += grow;
    }
    const bool frozen = owner->CheckFlag(ENTITYFLAG_DISABLE_UPDATE);
    gActivatorVisited.Clear();

    // The triggers it is known to be in.
    for (uint32_t i = 0; i < tracker->insideTriggers.Count();) {
        TriggerEntity* t = tracker->insideTriggers[i].Get();
        if (!t) {
            tracker->insideTriggers.Remove(i);
            continue;
        }
        gActivatorVisited.Mark(t->GetReusableId());
        if (!t->active || (!frozen && IsInside(t, owner))) {
            ++i;
            continue;
        }
        // The record goes first: the exit callback may change the list.
        tracker->insideTriggers.Remove(i);
        HandleExit(t, owner);
        if (!entity) return;  // destroyed by the callback, tracker and all
    }
    if (frozen) return;

    // The triggers in the cells around it.
    WalkCells(box, [&](const EntityGridEntry& entry) {
        if (!TemplateTypeTable::IsA(entry.type, ENTITY_TRIGGER) || !gActivatorVisited.Mark(entry.key)) return true;
        TriggerEntity* t = AsTrigger(entry.entity);
        if (!t || t == owner || !t->active || !IsInside(t, owner)) return true;
        tracker->insideTriggers.Add(SafePointer<TriggerEntity>(t));
        HandleEnter(t, owner);
        return static_cast<bool>(entity);
    });
}

// ---------------------------------------------------------------------------------
// The pass

void TriggerEntity::EnableChecks() { gChecksEnabled = true; }
bool TriggerEntity::ChecksEnabled() { return gChecksEnabled; }
uint32_t TriggerEntity::PendingCount() { return gPending.Count(); }

void TriggerEntity::QueueTriggerCheck(Entity* entity) {
    if (entity) Queue(entity, TrackerOf(entity));
}

void TriggerEntity::ProcessPendingChecks() {
    for (uint32_t i = 0; i < gPending.Count(); ++i) {
        Entity* e = gPending[i].Get();
        if (!e) continue;
        TriggerTracker* tracker = TrackerOf(e);
        if (!tracker) continue;
        tracker->queued = false;
        CheckQueuedEntity(tracker);
    }
    gPending.Clear();
}

void TriggerEntity::ClearPendingChecks() {
    for (const SafePointer<Entity>& p : gPending)
        if (p && TrackerOf(p.Get())) TrackerOf(p.Get())->queued = false;
    gPending.Release();
    gChecksEnabled = false;
}

TriggerActivator* TriggerEntity::CreateTriggerTracker(Entity* entity) {
    auto* tracker = new TriggerTracker();
    tracker->owner = entity;
    tracker->triggers = &tracker->insideTriggers;
    Queue(entity, tracker);
    return tracker;
}

void TriggerEntity::DestroyTriggerTracker(Entity* entity, TriggerActivator* record) {
    auto* tracker = static_cast<TriggerTracker*>(record);
    if (!tracker) return;
    // A copy: exit callbacks may touch the tracker's list.
    DynarraySafe<SafePointer<TriggerEntity>> triggers = tracker->insideTriggers;
    tracker->insideTriggers.Release();
    SafePointer<Entity> alive(entity);
    for (const SafePointer<TriggerEntity>& p : triggers) {
        TriggerEntity* t = p.Get();
        if (!t || !alive) continue;
        if (t->active) HandleExit(t, entity);
        else DropSilently(t, entity);
    }
    delete tracker;
}

void TriggerEntity::ClearAllTriggers() {
    // The triggers first: a cleared callback may destroy any entity of the live list.
    DynarraySafe<SafePointer<TriggerEntity>> triggers;
    for (Entity* e = Entity::FirstLive(); e; e = e->NextLive())
        if (TriggerEntity* t = AsTrigger(e)) triggers.Add(SafePointer<TriggerEntity>(t));
    for (const SafePointer<TriggerEntity>& t : triggers)
        if (t) t->ClearInsideList();
}

void TriggerEntity::RecheckAllTriggers() {
    for (Entity* e = Entity::FirstLive(); e; e = e->NextLive())
        if (TriggerEntity* t = AsTrigger(e)) t->CheckInside();
}
