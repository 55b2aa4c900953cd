#pragma once
// Array and embedded-object properties (type ids 2, 3, 5, 6, 7).
//
//   2 RTTIDynarrayProperty<A>: u32 count (swapped with option 2), then each element
//     in its value type's binary form.
//   3 RTTIEmbeddedObjectProperty<T>: a polymorphic member writes its own
//     SolidSerialize output; a plain record member its class's property walk.
//   5 RTTIDynarrayOfEmbeddedObjectPointersProperty<A>: u32 count, then per element
//     byte 0 for null, else byte 1 and the element's SolidSerialize output.
//   6 RTTIDynarrayOfEmbeddedObjectsProperty<A>: u32 count, then each record by its
//     class's property walk.
//   7 RTTIDynarrayOfPolyObjectPointersProperty<A>: u32 count, then per element byte
//     0 for null, else byte 1, the class name without the property's class-name
//     prefix, NUL, and the element's SolidSerialize output.
//
// Arrays are reached through RTTIArrayTraits<A> (Element, Count, Resize, At),
// provided here for Dynarray and DynarraySafe.
// Reading an array empties it first (owned object pointers are deleted), checks the
// stored count against the remaining input and only then grows the array.
#include <cstdint>
#include <type_traits>

#include "core/Dynarray.h"
#include "core/rtti/RTTIProperty.h"

template <class A>
struct RTTIArrayTraits;

// Resize to 0 frees the storage; new elements are zero or default-constructed;
// false when memory runs out.
template <class A, class E>
struct RTTIDynarrayTraits {
    using Element = E;
    static uint32_t Count(const A& a) { return a.Count(); }
    static bool Resize(A& a, uint32_t n) {
        if (n) return a.Resize(n);
        a.Release();
        return true;
    }
    static E& At(A& a, uint32_t i) { return a[i]; }
    static const E& At(const A& a, uint32_t i) { return a[i]; }
};
template <class E>
struct RTTIArrayTraits<Dynarray<E>> : RTTIDynarrayTraits<Dynarray<E>, E> {};
template <class E>
struct RTTIArrayTraits<DynarraySafe<E>> : RTTIDynarrayTraits<DynarraySafe<E>, E> {};

// Elements of a type-2 array: value codecs by default; entity safe pointers
// specialise this (RTTIEntityPointer.h).
template <class E>
struct RTTIArrayElementIO {
    static uint32_t Write(uint8_t* destination, const E& v, uint32_t options) {
        return RTTIValueCodec<E>::Write(destination, v, options);
    }
    static bool Read(BoundedReader& in, E& element, const RTTIProperty*, void*, uint32_t) {
        E v = element;
        if (!RTTIValueCodec<E>::Read(in, v)) return false;
        RTTIValueStore<E>::Assign(element, v);
        return true;
    }
    static void Release(E& element) { RTTIValueStore<E>::Release(element); }
    static bool Equal(const E& a, const E& b) { return RTTIValueCodec<E>::Equal(a, b); }
};

// Shared helpers (defined in the .cpp).
namespace RTTIArrayIO {
// Reads the u32 count and checks it against the remaining input, at least
// minElementBytes per element.
bool ReadCount(BoundedReader& in, uint32_t& count, uint32_t minElementBytes);
// Fails the reader when an array could not grow to the stored count.
bool Grown(BoundedReader& in, bool resized);
uint32_t WriteObject(uint8_t* destination, const RTTIPolyBaseClass* object, uint32_t options);
bool ReadObject(BoundedReader& in, RTTIPolyBaseClass* object, uint32_t options);
// Present byte + class name without prefix + NUL (type 7 element header).
uint32_t WritePolyHeader(uint8_t* destination, const RTTIPolyBaseClass* object, const char* prefix);
// Reads a present element's stored class name, creates it through NameRegistry;
// logs the factory message and fails the reader when it cannot be created. With a
// family, a class that is not that class or derived from it fails the reader before
// anything is created.
RTTIPolyBaseClass* ReadPolyObject(BoundedReader& in, const char* prefix, const RTTIClass* family = nullptr);
bool SameClass(const RTTIPolyBaseClass* a, const RTTIPolyBaseClass* b);
}  // namespace RTTIArrayIO

// The owning object's array member at an offset.
template <class A>
class RTTIArrayPropertyBase : public RTTIProperty {
public:
    using Traits = RTTIArrayTraits<A>;
    RTTIArrayPropertyBase(const char* name, size_t valueOffset, uint32_t flags = 0)
        : RTTIProperty(name, flags), offset(valueOffset) {}
    bool IsTyped() const override { return false; }
    void* GetValuePtr(const void* object) const override { return const_cast<uint8_t*>(At(object, offset)); }

protected:
    A& Array(void* object) const { return *reinterpret_cast<A*>(At(object, offset)); }
    const A& Array(const void* object) const { return *reinterpret_cast<const A*>(At(object, offset)); }
    size_t offset;
};

template <class A>
class RTTIDynarrayProperty : public RTTIArrayPropertyBase<A> {
public:
    using Base = RTTIArrayPropertyBase<A>;
    using Traits = typename Base::Traits;
    using Element = typename Traits::Element;
    using IO = RTTIArrayElementIO<Element>;
    using Base::Base;

    uint32_t TypeId() const override { return 2; }
    bool IsTyped() const override { return false; }
    uint32_t WriteBinary(uint8_t* destination, const void* object, uint32_t options) const override {
        const A& a = this->Array(object);
        const uint32_t count = Traits::Count(a);
        if (destination) StoreU32(destination, count, options);
        uint32_t n = 4;
        for (uint32_t i = 0; i < count; ++i) n += IO::Write(destination ? destination + n : nullptr, Traits::At(a, i), options);
        return n;
    }
    bool ReadBinary(BoundedReader& in, void* object, uint32_t options) const override {
        A& a = this->Array(object);
        for (uint32_t i = 0; i < Traits::Count(a); ++i) IO::Release(Traits::At(a, i));
        Traits::Resize(a, 0);
        uint32_t count = 0;
        if (!RTTIArrayIO::ReadCount(in, count, 1) || !RTTIArrayIO::Grown(in, Traits::Resize(a, count))) return false;
        for (uint32_t i = 0; i < count; ++i)
            if (!IO::Read(in, Traits::At(a, i), this, object, i)) return false;
        return true;
    }
    bool Equal(const void* x, const void* y) const override {
        const A& a = this->Array(x);
        const A& b = this->Array(y);
        if (Traits::Count(a) != Traits::Count(b)) return false;
        for (uint32_t i = 0; i < Traits::Count(a); ++i)
            if (!IO::Equal(Traits::At(a, i), Traits::At(b, i))) return false;
        return true;
    }
};

// T is a polymorphic class (derives from RTTIPolyBaseClass) or a plain record whose
// descriptor is given.
template <class T>
class RTTIEmbeddedObjectProperty : public RTTIProperty {
public:
    static constexpr bool kPoly = std::is_base_of_v<RTTIPolyBaseClass, T>;
    RTTIEmbeddedObjectProperty(const char* name, size_t valueOffset, const RTTIClass* recordClass = nullptr,
                               uint32_t flags = 0)
        : RTTIProperty(name, flags), offset(valueOffset), cls(recordClass) {}

    uint32_t TypeId() const override { return 3; }
    bool IsTyped() const override { return false; }
    void* GetValuePtr(const void* object) const override { return const_cast<uint8_t*>(At(object, offset)); }
    const RTTIClass* ClassOf(const void* object) const {
        if constexpr (kPoly) return Member(object)->GetRTTIClass();
        else return cls;
    }
    uint32_t LayoutValue(const void* object) const override {
        const RTTIClass* c = object ? ClassOf(object) : cls;
        return c ? c->GetLayoutHash(object ? Member(object) : nullptr) : TypeId() ^ Flags();
    }
    uint32_t WriteBinary(uint8_t* destination, const void* object, uint32_t options) const override {
        if constexpr (kPoly) return RTTIArrayIO::WriteObject(destination, Member(object), options);
        else return cls ? cls->SerializeProperties(destination, Member(object), options) : 0;
    }
    bool ReadBinary(BoundedReader& in, void* object, uint32_t options) const override {
        T* m = const_cast<T*>(Member(object));
        if constexpr (kPoly) return RTTIArrayIO::ReadObject(in, m, options);
        else {
            if (cls) cls->DeserializeProperties(in, m, options);
            return !in.Failed();
        }
    }
    bool Equal(const void* a, const void* b) const override {
        if constexpr (kPoly)
            if (!RTTIArrayIO::SameClass(Member(a), Member(b))) return false;
        const RTTIClass* c = ClassOf(a);
        return !c || c->PropertiesEqual(Member(a), Member(b));
    }

private:
    const T* Member(const void* object) const { return reinterpret_cast<const T*>(At(object, offset)); }
    size_t offset;
    const RTTIClass* cls;
};

// Elements are plain records of one registered class.
template <class A>
class RTTIDynarrayOfEmbeddedObjectsProperty : public RTTIArrayPropertyBase<A> {
public:
    using Base = RTTIArrayPropertyBase<A>;
    using Traits = typename Base::Traits;
    RTTIDynarrayOfEmbeddedObjectsProperty(const char* name, size_t valueOffset, const RTTIClass* elementClass,
                                          uint32_t flags = 0)
        : Base(name, valueOffset, flags), cls(elementClass) {}

    uint32_t TypeId() const override { return 6; }
    uint32_t WriteBinary(uint8_t* destination, const void* object, uint32_t options) const override {
        const A& a = this->Array(object);
        const uint32_t count = Traits::Count(a);
        if (destination) StoreU32(destination, count, options);
        uint32_t n = 4;
        for (uint32_t i = 0; i < count; ++i)
            n += cls->SerializeProperties(destination ? destination + n : nullptr, &Traits::At(a, i), options);
        return n;
    }
    bool ReadBinary(BoundedReader& in, void* object, uint32_t options) const override {
        A& a = this->Array(object);
        Traits::Resize(a, 0);
        uint32_t count = 0;
        if (!RTTIArrayIO::ReadCount(in, count, 1) || !RTTIArrayIO::Grown(in, Traits::Resize(a, count))) return false;
        for (uint32_t i = 0; i < count && !in.Failed(); ++i) cls->DeserializeProperties(in, &Traits::At(a, i), options);
        return !in.Failed();
    }
    bool Equal(const void* x, const void* y) const override {
        const A& a = this->Array(x);
        const A& b = this->Array(y);
        if (Traits::Count(a) != Traits::Count(b)) return false;
        for (uint32_t i = 0; i < Traits::Count(a); ++i)
            if (!cls->PropertiesEqual(&Traits::At(a, i), &Traits::At(b, i))) return false;
        return true;
    }

private:
    const RTTIClass* cls;
};

// Arrays of owned object pointers (types 5 and 7); null elements allowed. With a
// class-name prefix (type 7) each present element also stores its class name
// without the prefix and is created by name through NameRegistry (prefix + stored
// name, at most 1023 characters); without one (type 5) elements are created with
// new T. An element of a class that cannot be created fails the whole read: its
// data has no length, so nothing after it could be trusted.
template <class A>
class RTTIObjectPointerArrayPropertyBase : public RTTIArrayPropertyBase<A> {
public:
    using Base = RTTIArrayPropertyBase<A>;
    using Traits = typename Base::Traits;
    using T = std::remove_pointer_t<typename Traits::Element>;
    RTTIObjectPointerArrayPropertyBase(const char* name, size_t valueOffset, const char* classNamePrefix,
                                       uint32_t flags)
        : Base(name, valueOffset, flags), prefix(classNamePrefix) {}

    // Type 7: stored classes outside this family are refused unmade (the factory of an
    // unrelated class, an entity's for one, may act on shared state as it constructs).
    void SetElementFamily(const RTTIClass* family) { elementFamily = family; }

    uint32_t WriteBinary(uint8_t* destination, const void* object, uint32_t options) const override {
        const A& a = this->Array(object);
        const uint32_t count = Traits::Count(a);
        if (destination) StoreU32(destination, count, options);
        uint32_t n = 4;
        for (uint32_t i = 0; i < count; ++i) {
            const T* e = Traits::At(a, i);
            uint8_t* at = destination ? destination + n : nullptr;
            if (prefix) {
                n += RTTIArrayIO::WritePolyHeader(at, e, prefix);
            } else {
                if (at) *at = e ? 1 : 0;
                ++n;
            }
            if (e) n += RTTIArrayIO::WriteObject(destination ? destination + n : nullptr, e, options);
        }
        return n;
    }
    bool ReadBinary(BoundedReader& in, void* object, uint32_t options) const override {
        A& a = this->Array(object);
        for (uint32_t i = 0; i < Traits::Count(a); ++i) delete Traits::At(a, i);
        Traits::Resize(a, 0);
        uint32_t count = 0;
        if (!RTTIArrayIO::ReadCount(in, count, 1) || !RTTIArrayIO::Grown(in, Traits::Resize(a, count))) return false;
        for (uint32_t i = 0; i < count; ++i) {
            uint8_t present = 0;
            if (!in.ReadU8(present)) return false;
            if (!present) continue;
            T* e = Create(in);
            if (!e) return false;
            Traits::At(a, i) = e;
            if (!RTTIArrayIO::ReadObject(in, e, options)) return false;
        }
        return true;
    }
    bool Equal(const void* x, const void* y) const override {
        const A& a = this->Array(x);
        const A& b = this->Array(y);
        if (Traits::Count(a) != Traits::Count(b)) return false;
        for (uint32_t i = 0; i < Traits::Count(a); ++i) {
            const T* p = Traits::At(a, i);
            const T* q = Traits::At(b, i);
            if (!p || !q) {
                if (p != q) return false;
                continue;
            }
            if (!RTTIArrayIO::SameClass(p, q) || !p->GetRTTIClass()->PropertiesEqual(p, q)) return false;
        }
        return true;
    }

private:
    T* Create(BoundedReader& in) const {
        // Type 5 creates T itself; type 7 (a prefix) creates by name, so its T may be
        // an abstract base.
        if constexpr (!std::is_abstract_v<T>) {
            if (!prefix) return new T();
        } else if (!prefix) {
            in.Fail("array element of an abstract class");
            return nullptr;
        }
        RTTIPolyBaseClass* created = RTTIArrayIO::ReadPolyObject(in, prefix, elementFamily);
        if (!created) return nullptr;
        T* e = dynamic_cast<T*>(created);
        if (!e) {
            delete created;
            in.Fail("array element of an unrelated class");
        }
        return e;
    }
    const char* prefix;
    const RTTIClass* elementFamily = nullptr;
};

template <class A>
class RTTIDynarrayOfEmbeddedObjectPointersProperty : public RTTIObjectPointerArrayPropertyBase<A> {
public:
    RTTIDynarrayOfEmbeddedObjectPointersProperty(const char* name, size_t valueOffset, uint32_t flags = 0)
        : RTTIObjectPointerArrayPropertyBase<A>(name, valueOffset, nullptr, flags) {}
    uint32_t TypeId() const override { return 5; }
};

template <class A>
class RTTIDynarrayOfPolyObjectPointersProperty : public RTTIObjectPointerArrayPropertyBase<A> {
public:
    RTTIDynarrayOfPolyObjectPointersProperty(const char* name, size_t valueOffset, const char* classNamePrefix = "",
                                             uint32_t flags = 0)
        : RTTIObjectPointerArrayPropertyBase<A>(name, valueOffset, classNamePrefix ? classNamePrefix : "", flags) {}
    uint32_t TypeId() const override { return 7; }
};
