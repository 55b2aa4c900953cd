#pragma once
// EntitySet: a named, coloured group of entities across the tree. The EntityManager
// owns every set; each entity keeps the list of the sets it belongs to, sorted by set
// GUID. Members are safe pointers, so a destroyed entity leaves an empty member that
// the next AddEntity or RemoveEntity drops.
//
// Threads: main thread only.
#include <cstdint>

#include "core/Dynarray.h"
#include "core/math/HDRColor.h"
#include "core/math/Vector.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/SafePointer.h"
#include "core/rtti/SimpleGUID.h"

class Entity;

class EntitySet : public RTTIPolyBaseClass {
public:
    EntitySet() = default;
    ~EntitySet() override;
    EntitySet(const EntitySet&) = delete;
    EntitySet& operator=(const EntitySet&) = delete;

    static const RTTIClass* RegisterClass();
    const RTTIClass* GetRTTIClass() const override;

    // New random GUID and colour (alpha 1).
    void Init();
    void AddEntity(Entity* entity);
    void RemoveEntity(Entity* entity);
    // Removes the set from every member's list and empties the members.
    void Clear();
    // Drops members whose entity has died.
    void DropDeadMembers();
    // Adds the set to the list of every live member; a member already listing the set
    // is left alone.
    void LinkMembers();

    // Property read: the set leaves its members' lists before and rejoins them after.
    void OnPreDeserialize(uint32_t options) override;
    void OnLoaded(uint32_t options) override;

    // Debug boxes for the sets of an entity's list at a position: the set at index, or
    // every set when index is negative, each raised by its place in the list.
    static void DrawSetMarkers(const Dynarray<EntitySet*>& sets, const Vector& position, int32_t index);

    const char* GetName() const { return name ? name : ""; }
    void SetName(const char* text);
    const SimpleGUID& GetGUID() const { return guid; }
    void SetGUID(const SimpleGUID& g) { guid = g; }
    const HDRColor& GetColor() const { return color; }
    uint32_t MemberCount() const { return entities.Count(); }
    Entity* Member(uint32_t i) const;

private:
    friend class EntitySetMembersProperty;
    void Unlink(Entity* entity);
    void Link(Entity* entity);

    char* name = nullptr;
    HDRColor color = HDRColor(255, 255, 255, 255, 1.0f);
    SimpleGUID guid;
    DynarraySafe<SafePointer<Entity>> entities;
};
