#pragma once
// Entity pointers in property lists (type ids 27 Entity*, 28 SafePointer<Entity>,
// and SafePointer elements of type-2 arrays): stored as the target's SimpleGUID
// (16 zero bytes for none) and resolved by GUID.
//
// A read zero GUID sets null at once. Otherwise, while an entity-pointer pass is
// open (EntityPointerFixups::Begin .. Resolve), a record is queued and resolved at
// the end of the outermost pass, so forward references to entities created later in
// the same load work; with no pass open the entity is looked up at once.
//
// The pass state is per thread (the main thread loads scenes while the resource
// thread reads binary templates). The entity lookup by GUID, an entity's GUID and its
// template type id come from the entity manager through EntityPointerResolver.
#include <cstdint>

#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/SafePointer.h"

class GUIDReplacementTable;

class EntityPointerResolver {
public:
    virtual ~EntityPointerResolver() = default;
    // Null when no entity has the GUID.
    virtual RTTIPolyBaseClass* FindEntityByGUID(const SimpleGUID& guid) = 0;
    virtual SimpleGUID GetEntityGUID(const RTTIPolyBaseClass* entity) = 0;
    virtual uint32_t GetEntityTemplateType(const RTTIPolyBaseClass* entity) = 0;
};

// Installed once by the entity manager at start-up (tests install fakes); null
// resolves nothing and writes zero GUIDs.
void SetEntityPointerResolver(EntityPointerResolver* resolver);
EntityPointerResolver* GetEntityPointerResolver();

// Implemented by entity-pointer properties: stores a resolved entity (index is the
// element index for arrays, else 0).
class RTTIEntityPointerTarget {
public:
    virtual void ApplyEntity(void* object, uint32_t index, RTTIPolyBaseClass* entity) const = 0;
    // Template type id the target must derive from (0: any).
    virtual uint32_t ExpectedTemplateType() const = 0;

protected:
    ~RTTIEntityPointerTarget() = default;
};

class EntityPointerFixups {
public:
    // Opens a pass on this thread; false when one is already open.
    static bool Begin();
    // Closes the pass and resolves its records: raw pointers first, then safe
    // pointers, each in read order.
    static void Resolve();
    static bool IsOpen();
    // True while Resolve applies its records on this thread: the pointer being set was
    // read with the rest of its object's property list.
    static bool Resolving();
    // GUID translated through the open pass's replacement table (identity if none).
    static SimpleGUID Translate(const SimpleGUID& guid);
    // Reads or sets one pointer from a GUID: zero -> null now; pass open -> queued
    // (raw or safe list); no pass -> looked up now.
    static void Assign(const SimpleGUID& guid, uint32_t expectedType, bool safeList,
                       const RTTIEntityPointerTarget* target, void* object, uint32_t index);
    static SimpleGUID GuidOf(const RTTIPolyBaseClass* entity);
};

// While one lives on a thread, entity pointers read there are dropped: no lookup, no
// record, no log line. Reads into a scratch object that is thrown away use it, so the
// object never lands in a pending list that outlives it.
class EntityPointerScratchScope {
public:
    EntityPointerScratchScope();
    ~EntityPointerScratchScope();
    EntityPointerScratchScope(const EntityPointerScratchScope&) = delete;
    EntityPointerScratchScope& operator=(const EntityPointerScratchScope&) = delete;
};

// Binary form of a GUID (16 bytes, never swapped).
uint32_t RTTIWriteGuid(uint8_t* destination, const SimpleGUID& guid);

// Shared text and binary handling of types 27 and 28.
class RTTIEntityPointerPropertyBase : public RTTIProperty, public RTTIEntityPointerTarget {
public:
    RTTIEntityPointerPropertyBase(const char* name, size_t valueOffset, uint32_t expectedTemplateType, uint32_t flags)
        : RTTIProperty(name, flags), offset(valueOffset), expectedType(expectedTemplateType) {}
    virtual RTTIPolyBaseClass* GetTarget(const void* object) const = 0;
    bool ToString(const void* object, char* buffer, uint32_t size) const override;
    bool FromString(void* object, const char* text) const override;
    bool Equal(const void* a, const void* b) const override { return GetTarget(a) == GetTarget(b); }
    uint32_t WriteBinary(uint8_t* destination, const void* object, uint32_t options) const override;
    bool ReadBinary(BoundedReader& in, void* object, uint32_t options) const override;
    void* GetValuePtr(const void* object) const override { return const_cast<uint8_t*>(At(object, offset)); }
    uint32_t ExpectedTemplateType() const override { return expectedType; }

protected:
    size_t offset;
    uint32_t expectedType;
};

// Type 27: an E* member (E derives from RTTIPolyBaseClass).
template <class E>
class RTTIEntityPointerProperty : public RTTIEntityPointerPropertyBase {
public:
    RTTIEntityPointerProperty(const char* name, size_t valueOffset, uint32_t expectedTemplateType = 0,
                              uint32_t flags = 0)
        : RTTIEntityPointerPropertyBase(name, valueOffset, expectedTemplateType, flags) {}
    uint32_t TypeId() const override { return 27; }
    RTTIPolyBaseClass* GetTarget(const void* object) const override {
        return *reinterpret_cast<E* const*>(At(object, offset));
    }
    void ApplyEntity(void* object, uint32_t, RTTIPolyBaseClass* entity) const override {
        *reinterpret_cast<E**>(At(object, offset)) = static_cast<E*>(entity);
    }
};

// Type 28: a SafePointer<E> member.
template <class E>
class RTTISafeEntityPointerProperty : public RTTIEntityPointerPropertyBase {
public:
    RTTISafeEntityPointerProperty(const char* name, size_t valueOffset, uint32_t expectedTemplateType = 0,
                                  uint32_t flags = 0)
        : RTTIEntityPointerPropertyBase(name, valueOffset, expectedTemplateType, flags) {}
    uint32_t TypeId() const override { return 28; }
    RTTIPolyBaseClass* GetTarget(const void* object) const override {
        return reinterpret_cast<const SafePointer<E>*>(At(object, offset))->Get();
    }
    void ApplyEntity(void* object, uint32_t, RTTIPolyBaseClass* entity) const override {
        reinterpret_cast<SafePointer<E>*>(At(object, offset))->Assign(static_cast<E*>(entity));
    }
};

// SafePointer elements of a type-2 array: GUIDs, resolved into the element by index
// (an element gone by resolution time is skipped).
template <class E>
struct RTTIArrayElementIO<SafePointer<E>> {
    static uint32_t Write(uint8_t* destination, const SafePointer<E>& v, uint32_t) {
        return RTTIWriteGuid(destination, EntityPointerFixups::GuidOf(v.Get()));
    }
    static bool Read(BoundedReader& in, SafePointer<E>&, const RTTIProperty* property, void* object, uint32_t index);
    static void Release(SafePointer<E>& element) { element.Assign(nullptr); }
    static bool Equal(const SafePointer<E>& a, const SafePointer<E>& b) { return a.Get() == b.Get(); }
};

template <class A>
class RTTIDynarraySafePointerProperty : public RTTIDynarrayProperty<A>, public RTTIEntityPointerTarget {
public:
    using Traits = RTTIArrayTraits<A>;
    RTTIDynarraySafePointerProperty(const char* name, size_t valueOffset, uint32_t expectedTemplateType = 0,
                                    uint32_t flags = 0)
        : RTTIDynarrayProperty<A>(name, valueOffset, flags), expectedType(expectedTemplateType) {}
    void ApplyEntity(void* object, uint32_t index, RTTIPolyBaseClass* entity) const override {
        A& a = this->Array(object);
        if (index < Traits::Count(a)) Traits::At(a, index).Assign(static_cast<typename Traits::Element::Pointee*>(entity));
    }
    uint32_t ExpectedTemplateType() const override { return expectedType; }

private:
    uint32_t expectedType;
};

template <class E>
bool RTTIArrayElementIO<SafePointer<E>>::Read(BoundedReader& in, SafePointer<E>&, const RTTIProperty* property,
                                              void* object, uint32_t index) {
    SimpleGUID guid;
    if (!in.Read(guid.bytes, 16)) return false;
    // Only RTTIDynarraySafePointerProperty resolves elements; a plain type-2 array of
    // safe pointers reads the GUIDs and leaves the elements null.
    if (const auto* target = dynamic_cast<const RTTIEntityPointerTarget*>(property))
        EntityPointerFixups::Assign(guid, target->ExpectedTemplateType(), true, target, object, index);
    return true;
}
