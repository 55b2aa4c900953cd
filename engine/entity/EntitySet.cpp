#include "engine/entity/EntitySet.h"

#include "core/CrtRand.h"
#include "core/StaticInit.h"
#include "core/config/ProjectConfig.h"
#include "core/math/BoundingBox4.h"
#include "core/math/Matrix.h"
#include "core/rtti/RTTIEntityPointer.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/Entity.h"
#include "render/VornexRenderer.h"

namespace {

RTTIClass* gEntitySetClass = nullptr;

// The position of a set in an entity's list, sorted by set GUID.
uint32_t SortedPlace(const Dynarray<EntitySet*>& sets, const SimpleGUID& guid) {
    uint32_t i = 0;
    while (i < sets.Count() && SimpleGUID::Compare(sets[i]->GetGUID(), guid) < 0) ++i;
    return i;
}

using MemberArray = DynarraySafe<SafePointer<Entity>>;

}  // namespace

// "Entities": a member resolved at the end of a pass joins the set at once, whoever
// closes the pass.
class EntitySetMembersProperty final : public RTTIDynarraySafePointerProperty<MemberArray> {
public:
    using RTTIDynarraySafePointerProperty::RTTIDynarraySafePointerProperty;
    void ApplyEntity(void* object, uint32_t index, RTTIPolyBaseClass* entity) const override {
        RTTIDynarraySafePointerProperty::ApplyEntity(object, index, entity);
        auto* set = static_cast<EntitySet*>(static_cast<RTTIPolyBaseClass*>(object));
        if (Entity* e = set->Member(index); e && e == entity) set->Link(e);
    }
};

EntitySet::~EntitySet() {
    Clear();
    RTTIFreeString(name);
}

const RTTIClass* EntitySet::RegisterClass() {
    if (gEntitySetClass) return gEntitySetClass;
    RTTIClass* c = CreateRegisteredClass(gEntitySetClass, "EntitySet", kRTTIRootBaseName,
                                         [](int32_t) -> RTTIPolyBaseClass* { return new EntitySet(); });
    c->AddProperty(new RTTIDirectAccessTypedProperty<char*>("Name", RTTI_OFFSETOF(EntitySet, name)));
    c->AddProperty(new RTTIDirectAccessTypedProperty<HDRColor>("Color", RTTI_OFFSETOF(EntitySet, color)));
    c->AddProperty(new RTTIDirectAccessTypedProperty<SimpleGUID>("GUID", RTTI_OFFSETOF(EntitySet, guid)));
    c->AddProperty(new EntitySetMembersProperty("Entities", RTTI_OFFSETOF(EntitySet, entities)));
    return c;
}

const RTTIClass* EntitySet::GetRTTIClass() const { return RegisterClass(); }

void EntitySet::Init() {
    guid.Generate();
    const float r = CrtRand() / 32767.0f;
    const float g = CrtRand() / 32767.0f;
    const float b = CrtRand() / 32767.0f;
    color.SetFromVector(Vector(r, g, b, 1.0f));
}

void EntitySet::SetName(const char* text) {
    char* copy = const_cast<char*>(text);
    RTTIValueStore<char*>::Assign(name, copy);
}

Entity* EntitySet::Member(uint32_t i) const { return i < entities.Count() ? entities[i].Get() : nullptr; }

void EntitySet::DropDeadMembers() {
    for (uint32_t i = entities.Count(); i-- > 0;)
        if (!entities[i].Get()) entities.Remove(i);
}

void EntitySet::Link(Entity* entity) {
    Dynarray<EntitySet*>& list = entity->EntitySets();
    if (list.Find(this) >= 0) return;
    list.Insert(this, SortedPlace(list, guid));
}

void EntitySet::Unlink(Entity* entity) { DynarrayRemoveAllEqual(entity->EntitySets(), static_cast<EntitySet*>(this)); }

void EntitySet::AddEntity(Entity* entity) {
    DropDeadMembers();
    if (!entity) return;
    for (const SafePointer<Entity>& member : entities)
        if (member.Get() == entity) return;
    entities.Add(SafePointer<Entity>(entity));
    Link(entity);
}

void EntitySet::RemoveEntity(Entity* entity) {
    for (uint32_t i = 0; entity && i < entities.Count(); ++i) {
        if (entities[i].Get() != entity) continue;
        entities.Remove(i);
        Unlink(entity);
        break;
    }
    DropDeadMembers();
}

void EntitySet::Clear() {
    for (const SafePointer<Entity>& member : entities)
        if (Entity* e = member.Get()) Unlink(e);
    entities.Clear();
}

void EntitySet::LinkMembers() {
    for (const SafePointer<Entity>& member : entities)
        if (Entity* e = member.Get()) Link(e);
}

void EntitySet::OnPreDeserialize(uint32_t) {
    for (const SafePointer<Entity>& member : entities)
        if (Entity* e = member.Get()) Unlink(e);
}

void EntitySet::OnLoaded(uint32_t) { LinkMembers(); }

void EntitySet::DrawSetMarkers(const Dynarray<EntitySet*>& sets, const Vector& position, int32_t index) {
    const float scale = gProjectConfig ? gProjectConfig->editorHelperScale : 1.0f;
    const float half = 1.2f * scale;
    for (uint32_t i = 0; i < sets.Count(); ++i) {
        if (index >= 0 && uint32_t(index) != i) continue;
        Vector centre = position;
        centre.y += 2.4f * scale * float(i);
        const BoundingBox4 box(Vector(centre.x - half, centre.y - half, centre.z - half, 1.0f),
                               Vector(centre.x + half, centre.y + half, centre.z + half, 1.0f));
        gVornexRenderer.DebugDrawBoundingBox(box, Matrix::IDENTITY, sets[i]->GetColor().ToVector());
    }
}

// The set markers at each corner of the global bounding box.
void Entity::DrawBoundingCornerMarkers(uint32_t flags) {
    if (!entitySets.Count() || (flags & 0x800) || (enforcedRenderingFlags & 0x800)) return;
    Vector corners[8];
    GetGlobalBoundingBoxCorners(corners);
    for (const Vector& corner : corners) EntitySet::DrawSetMarkers(entitySets, corner, -1);
}
