#pragma once
// Typed properties: one object per registered member, giving its name, flags, type
// id and how its value is written and read as binary (the Solid payload) and text.
//
// Binary forms (little-endian as written; option 2 swaps multi-byte values on
// writing, reading never swaps):
//   8 float, 9 int, 10 u32: 4 bytes;  11 u16: 2 bytes;  19 bool, 23 char, 24 u8: 1 byte
//   12 char*: characters + NUL, null or empty is one 0 byte
//   13 char16_t*: 16-bit units + 16-bit 0, null or empty is two 0 bytes
//   14 Vector, 17 Quaternion: 4 floats; 15 Vector3: 3; 16 BoundingBox4: 8; 18 Matrix: 16
//   20 SimpleGUID: 16 bytes, never swapped
//   21 NameString: byte 0 for empty, else byte 1, the characters and NUL
//   22 HDRColor: R, G, B, A bytes, then the float intensity (swapped)
//   25 bit vector: 32-bit words, never swapped;  26 raw block: the bytes as they are
// Text forms run in the C locale ("%.6f" etc.).
//
// The object pointer handed to a property is the address of the registered object;
// with the single-inheritance trees of this system every base shares it.
// Threads: properties are immutable after registration; their operations run on
// whatever thread owns the object being read or written.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "core/BoundedReader.h"
#include "core/ByteOrder.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/SimpleGUID.h"
#include "core/text/NameString.h"

struct Vector;
struct Vector3;
struct BoundingBox4;
struct Quaternion;
class Matrix;
struct HDRColor;

// Offset of a member inside a registered class (the classes are polymorphic, so
// offsetof is only conditionally supported; g++ gives the natural answer).
#define RTTI_OFFSETOF(Class, member)                                                               \
    ([]() constexpr -> size_t {                                                                    \
        _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Winvalid-offsetof\"") return \
            offsetof(Class, member);                                                               \
        _Pragma("GCC diagnostic pop")                                                              \
    }())

class RTTIProperty {
public:
    // The name is copied (null for an empty name); extra is the 0x80 enumeration
    // table or the 0x800 folder name.
    RTTIProperty(const char* name, uint32_t flags = 0, const void* extra = nullptr);
    RTTIProperty(const RTTIProperty&) = delete;
    RTTIProperty& operator=(const RTTIProperty&) = delete;
    virtual ~RTTIProperty();

    // False for arrays and embedded objects.
    virtual bool IsTyped() const { return true; }
    virtual bool FromString(void* object, const char* text) const { return false; }
    // Writes the text form (cut to the buffer); false when the property has none.
    virtual bool ToString(const void* object, char* buffer, uint32_t size) const;
    virtual uint32_t TypeId() const = 0;
    virtual bool Equal(const void* a, const void* b) const { return true; }
    // Writes at destination (null: size only); returns the bytes.
    virtual uint32_t WriteBinary(uint8_t* destination, const void* object, uint32_t options) const { return 0; }
    // False (and the reader failed) on corrupt input.
    virtual bool ReadBinary(BoundedReader& in, void* object, uint32_t options) const { return true; }
    virtual uint32_t LayoutValue(const void* object) const { return TypeId() ^ flags; }
    // Address of the value inside the object (direct-access families); else null.
    virtual void* GetValuePtr(const void* object) const { return nullptr; }

    const char* Name() const { return name; }
    uint32_t Flags() const { return flags; }
    const void* Extra() const { return extra; }

protected:
    static uint8_t* At(void* object, size_t offset) { return static_cast<uint8_t*>(object) + offset; }
    static const uint8_t* At(const void* object, size_t offset) {
        return static_cast<const uint8_t*>(object) + offset;
    }

private:
    char* name = nullptr;
    uint32_t flags;
    const void* extra;
};

// Name-only entries that group properties for tools: nothing is written or read.
class RTTIPropertyGroup : public RTTIProperty {
public:
    using RTTIProperty::RTTIProperty;
    uint32_t TypeId() const override { return 0; }
};
class RTTIPropertySeparator : public RTTIProperty {
public:
    using RTTIProperty::RTTIProperty;
    uint32_t TypeId() const override { return 1; }
};

// Value codecs: the binary and text form of one value type (defined in the .cpp).
// Read leaves the value untouched on failure. A string codec's Read and FromString
// produce a borrowed pointer (into the input, or a per-thread scratch buffer) that
// the property copies at once through RTTIValueStore.
template <class T>
struct RTTIValueCodec;

#define RTTI_DECLARE_VALUE_CODEC(T, ID)                                           \
    template <>                                                                   \
    struct RTTIValueCodec<T> {                                                    \
        using Value = T;                                                          \
        static constexpr uint32_t kTypeId = ID;                                   \
        static uint32_t Write(uint8_t* destination, const Value& v, uint32_t options); \
        static bool Read(BoundedReader& in, Value& v);                            \
        static void ToString(const Value& v, char* buffer, uint32_t size);        \
        static bool FromString(const char* text, Value& v);                       \
        static bool Equal(const Value& a, const Value& b);                        \
    };

RTTI_DECLARE_VALUE_CODEC(float, 8)
RTTI_DECLARE_VALUE_CODEC(int32_t, 9)
RTTI_DECLARE_VALUE_CODEC(uint32_t, 10)
RTTI_DECLARE_VALUE_CODEC(uint16_t, 11)
RTTI_DECLARE_VALUE_CODEC(char*, 12)
RTTI_DECLARE_VALUE_CODEC(char16_t*, 13)
RTTI_DECLARE_VALUE_CODEC(Vector, 14)
RTTI_DECLARE_VALUE_CODEC(Vector3, 15)
RTTI_DECLARE_VALUE_CODEC(BoundingBox4, 16)
RTTI_DECLARE_VALUE_CODEC(Quaternion, 17)
RTTI_DECLARE_VALUE_CODEC(Matrix, 18)
RTTI_DECLARE_VALUE_CODEC(bool, 19)
RTTI_DECLARE_VALUE_CODEC(SimpleGUID, 20)
RTTI_DECLARE_VALUE_CODEC(NameString, 21)
RTTI_DECLARE_VALUE_CODEC(HDRColor, 22)
RTTI_DECLARE_VALUE_CODEC(char, 23)
RTTI_DECLARE_VALUE_CODEC(uint8_t, 24)
#undef RTTI_DECLARE_VALUE_CODEC

// How a value is stored into a member: plain assignment, except owned heap strings
// (char*, char16_t*), which free the old text and keep a copy (null when empty).
template <class T>
struct RTTIValueStore {
    static void Assign(T& member, const T& v) { member = v; }
    static void Release(T&) {}
};
template <>
struct RTTIValueStore<char*> {
    static void Assign(char*& member, char* const& v);
    static void Release(char*& member);
};
template <>
struct RTTIValueStore<char16_t*> {
    static void Assign(char16_t*& member, char16_t* const& v);
    static void Release(char16_t*& member);
};

// Base of the three value families: every write goes through SetValue.
template <class T>
class RTTITypedProperty : public RTTIProperty {
public:
    using Codec = RTTIValueCodec<T>;
    using RTTIProperty::RTTIProperty;

    virtual T GetValue(const void* object) const = 0;
    virtual void SetValue(void* object, const T& v) const = 0;

    uint32_t TypeId() const override { return Codec::kTypeId; }
    bool ToString(const void* object, char* buffer, uint32_t size) const override {
        Codec::ToString(GetValue(object), buffer, size);
        return true;
    }
    // Starts from the current value, so fields the text does not give keep it.
    bool FromString(void* object, const char* text) const override {
        T v = GetValue(object);
        if (!text || !Codec::FromString(text, v)) return false;
        SetValue(object, v);
        return true;
    }
    bool Equal(const void* a, const void* b) const override { return Codec::Equal(GetValue(a), GetValue(b)); }
    uint32_t WriteBinary(uint8_t* destination, const void* object, uint32_t options) const override {
        return Codec::Write(destination, GetValue(object), options);
    }
    bool ReadBinary(BoundedReader& in, void* object, uint32_t options) const override {
        T v = GetValue(object);
        if (!Codec::Read(in, v)) return false;
        SetValue(object, v);
        return true;
    }
};

// Value at object + offset.
template <class T>
class RTTIDirectAccessTypedProperty : public RTTITypedProperty<T> {
public:
    RTTIDirectAccessTypedProperty(const char* name, size_t valueOffset, uint32_t flags = 0,
                                  const void* extra = nullptr)
        : RTTITypedProperty<T>(name, flags, extra), offset(valueOffset) {}
    T GetValue(const void* object) const override {
        return *reinterpret_cast<const T*>(RTTIProperty::At(object, offset));
    }
    void SetValue(void* object, const T& v) const override {
        RTTIValueStore<T>::Assign(*reinterpret_cast<T*>(RTTIProperty::At(object, offset)), v);
    }
    void* GetValuePtr(const void* object) const override {
        return const_cast<uint8_t*>(RTTIProperty::At(object, offset));
    }

private:
    size_t offset;
};

// Value reached through the owner class's getter and setter.
template <class T, class Owner, class GetResult = T, class SetArgument = const T&>
class RTTISGProperty : public RTTITypedProperty<T> {
public:
    using Getter = GetResult (Owner::*)() const;
    using Setter = void (Owner::*)(SetArgument);
    RTTISGProperty(const char* name, Getter g, Setter s, uint32_t flags = 0, const void* extra = nullptr)
        : RTTITypedProperty<T>(name, flags, extra), getter(g), setter(s) {}
    T GetValue(const void* object) const override { return (static_cast<const Owner*>(object)->*getter)(); }
    void SetValue(void* object, const T& v) const override { (static_cast<Owner*>(object)->*setter)(v); }

private:
    Getter getter;
    Setter setter;
};

// Value reached through a small accessor object that receives the property name
// (members exist for bool, int32_t, float and char*). The accessor is not owned.
template <class T>
class RTTISGOAccessor {
public:
    virtual ~RTTISGOAccessor() = default;
    virtual T Get(const void* object, const char* propertyName) const = 0;
    virtual void Set(void* object, const char* propertyName, const T& v) const = 0;
};
template <class T>
class RTTISGOProperty : public RTTITypedProperty<T> {
public:
    RTTISGOProperty(const char* name, const RTTISGOAccessor<T>* a, uint32_t flags = 0, const void* extra = nullptr)
        : RTTITypedProperty<T>(name, flags, extra), accessor(a) {}
    T GetValue(const void* object) const override { return accessor->Get(object, this->Name()); }
    void SetValue(void* object, const T& v) const override { accessor->Set(object, this->Name(), v); }

private:
    const RTTISGOAccessor<T>* accessor;
};

// Type 25: a fixed bit vector of Bits bits stored as 32-bit words at an offset;
// written unswapped; text 8 hex digits per word, least significant nibble first.
class RTTIBitVectorPropertyBase : public RTTIProperty {
public:
    RTTIBitVectorPropertyBase(const char* name, size_t valueOffset, uint32_t wordCount, uint32_t flags)
        : RTTIProperty(name, flags), offset(valueOffset), words(wordCount) {}
    uint32_t TypeId() const override { return 25; }
    bool ToString(const void* object, char* buffer, uint32_t size) const override;
    bool FromString(void* object, const char* text) const override;
    bool Equal(const void* a, const void* b) const override;
    uint32_t WriteBinary(uint8_t* destination, const void* object, uint32_t options) const override;
    bool ReadBinary(BoundedReader& in, void* object, uint32_t options) const override;
    void* GetValuePtr(const void* object) const override { return const_cast<uint8_t*>(At(object, offset)); }

private:
    size_t offset;
    uint32_t words;
};
template <uint32_t Bits>
class RTTIStaticBitVectorProperty : public RTTIBitVectorPropertyBase {
public:
    static constexpr uint32_t kWords = (Bits + 31) / 32;
    RTTIStaticBitVectorProperty(const char* name, size_t valueOffset, uint32_t flags = 0)
        : RTTIBitVectorPropertyBase(name, valueOffset, kWords, flags) {}
};

// Type 26: a raw block of a fixed size at an offset, written as it is.
class RTTIPureMemoryBlockProperty : public RTTIProperty {
public:
    RTTIPureMemoryBlockProperty(const char* name, size_t valueOffset, uint32_t blockSize, uint32_t flags = 0)
        : RTTIProperty(name, flags), offset(valueOffset), size(blockSize) {}
    uint32_t TypeId() const override { return 26; }
    bool Equal(const void* a, const void* b) const override;
    uint32_t WriteBinary(uint8_t* destination, const void* object, uint32_t options) const override;
    bool ReadBinary(BoundedReader& in, void* object, uint32_t options) const override;
    void* GetValuePtr(const void* object) const override { return const_cast<uint8_t*>(At(object, offset)); }

private:
    size_t offset;
    uint32_t size;
};

// Frees an owned string member (char* or char16_t*) and nulls it.
inline void RTTIFreeString(char*& s) { RTTIValueStore<char*>::Release(s); }
inline void RTTIFreeString(char16_t*& s) { RTTIValueStore<char16_t*>::Release(s); }
