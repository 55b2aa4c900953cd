// A registered test class with a property of every type, bases, arrays, embedded
// objects and polymorphic arrays; shared by the property, blob and fuzz tests and
// the benchmark. Registration runs once per program through Rich::Class().
#pragma once
#include <cstring>
#include <vector>

#include "core/math/BoundingBox4.h"
#include "core/math/HDRColor.h"
#include "core/math/Matrix.h"
#include "core/math/Quaternion.h"
#include "core/math/Vector.h"
#include "core/rtti/RTTIArrayProperty.h"
#include "core/rtti/RTTIEntityPointer.h"
#include "core/rtti/SolidBlob.h"

namespace richtest {

// Plain record "TestRecord": u32 "A", NameString "N".
struct Record {
    uint32_t a = 0;
    NameString n;
    static const RTTIClass* Class() {
        static RTTIClass* c = [] {
            auto* r = new RTTIClass;
            r->Register("TestRecord", kRTTIRootBaseName);
            r->AddProperty(new RTTIDirectAccessTypedProperty<uint32_t>("A", RTTI_OFFSETOF(Record, a)));
            r->AddProperty(new RTTIDirectAccessTypedProperty<NameString>("N", RTTI_OFFSETOF(Record, n)));
            return r;
        }();
        return c;
    }
};

// Polymorphic elements: "TestElem" (int "V"), "TestElemFloat" : TestElem (float
// "F"), "TestElemText" : TestElem (char* "S").
class Elem : public RTTIPolyBaseClass {
public:
    static const RTTIClass* Class();
    const RTTIClass* GetRTTIClass() const override { return Class(); }
    int32_t v = 0;
};
class ElemFloat : public Elem {
public:
    static const RTTIClass* Class();
    const RTTIClass* GetRTTIClass() const override { return Class(); }
    float f = 0;
};
class ElemText : public Elem {
public:
    static const RTTIClass* Class();
    const RTTIClass* GetRTTIClass() const override { return Class(); }
    ~ElemText() override { RTTIFreeString(s); }
    char* s = nullptr;
};

// Registers class T under name and base with a factory, with one direct property.
template <class T, class V>
const RTTIClass* ElemClass(const char* name, const char* base, const char* prop, uint32_t offset) {
    auto* r = new RTTIClass;
    r->Register(name, base, [](int32_t) -> RTTIPolyBaseClass* { return new T; });
    r->AddProperty(new RTTIDirectAccessTypedProperty<V>(prop, offset));
    return r;
}
inline const RTTIClass* Elem::Class() {
    static const RTTIClass* c = ElemClass<Elem, int32_t>("TestElem", kRTTIRootBaseName, "V", RTTI_OFFSETOF(Elem, v));
    return c;
}
inline const RTTIClass* ElemFloat::Class() {
    static const RTTIClass* c = (Elem::Class(), ElemClass<ElemFloat, float>("TestElemFloat", "TestElem", "F", RTTI_OFFSETOF(ElemFloat, f)));
    return c;
}
inline const RTTIClass* ElemText::Class() {
    static const RTTIClass* c = (Elem::Class(), ElemClass<ElemText, char*>("TestElemText", "TestElem", "S", RTTI_OFFSETOF(ElemText, s)));
    return c;
}

// Entities for the pointer properties, found by a fake entity manager.
class FakeEntity : public RTTIPolyBaseClass {
public:
    static const RTTIClass* Class() {
        static RTTIClass* c = [] {
            auto* r = new RTTIClass;
            r->Register("TestFakeEntity", kRTTIRootBaseName);
            return r;
        }();
        return c;
    }
    const RTTIClass* GetRTTIClass() const override { return Class(); }
    SimpleGUID guid;
    uint32_t templateType = 0;
};

class FakeEntityManager : public EntityPointerResolver {
public:
    FakeEntityManager() { SetEntityPointerResolver(this); }
    ~FakeEntityManager() override { SetEntityPointerResolver(nullptr); }
    RTTIPolyBaseClass* FindEntityByGUID(const SimpleGUID& g) override {
        for (FakeEntity* e : entities)
            if (e->guid == g) return e;
        return nullptr;
    }
    SimpleGUID GetEntityGUID(const RTTIPolyBaseClass* e) override { return static_cast<const FakeEntity*>(e)->guid; }
    uint32_t GetEntityTemplateType(const RTTIPolyBaseClass* e) override {
        return static_cast<const FakeEntity*>(e)->templateType;
    }
    std::vector<FakeEntity*> entities;
};

inline SimpleGUID MakeGuid(uint8_t seed) {
    SimpleGUID g;
    for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<uint8_t>(seed + i);
    return g;
}

// "RichBase": u32 "Base value". "RichObject" : RichBase with one property of every
// type. Walk order: RichBase ("RichB...") before RichObject ("RichO...").
class RichBase : public RTTIPolyBaseClass {
public:
    static const RTTIClass* Class() {
        static RTTIClass* c = [] {
            auto* r = new RTTIClass;
            r->Register("RichBase", kRTTIRootBaseName);
            r->AddProperty(new RTTIDirectAccessTypedProperty<uint32_t>("Base value", RTTI_OFFSETOF(RichBase, baseValue)));
            return r;
        }();
        return c;
    }
    const RTTIClass* GetRTTIClass() const override { return Class(); }
    uint32_t baseValue = 0;
};

class RichObject : public RichBase {
public:
    static const RTTIClass* Class();
    const RTTIClass* GetRTTIClass() const override { return Class(); }
    ~RichObject() override {
        RTTIFreeString(text);
        RTTIFreeString(wide);
        for (ElemFloat* e : owned) delete e;
        for (Elem* e : poly) delete e;
    }

    float f = 0;
    int32_t i = 0;
    uint32_t u = 0;
    uint16_t u16 = 0;
    char *text = nullptr, ch = 0;
    char16_t* wide = nullptr;
    Vector vec{};
    Vector3 vec3{};
    BoundingBox4 box{};
    Quaternion quat{};
    Matrix mat{};
    bool flag = false;
    SimpleGUID guid;
    NameString name;
    HDRColor color{};
    uint8_t byte = 0, raw[5] = {};
    uint32_t bits[3] = {};
    FakeEntity* entity = nullptr;
    SafePointer<FakeEntity> safeEntity;
    Dynarray<uint32_t> words;
    DynarraySafe<NameString> names;
    Record record;
    ElemFloat embedded;
    Dynarray<ElemFloat*> owned;
    DynarraySafe<Record> records;
    Dynarray<Elem*> poly;
    DynarraySafe<SafePointer<FakeEntity>> safeArray;
};

inline const RTTIClass* RichObject::Class() {
    static RTTIClass* c = [] {
        RichBase::Class();
        ElemFloat::Class();
        ElemText::Class();
        const RTTIClass* rec = Record::Class();
        auto* r = new RTTIClass;
        r->Register("RichObject", "RichBase", [](int32_t) -> RTTIPolyBaseClass* { return new RichObject; });
        using R = RichObject;
        r->AddProperty(new RTTIPropertyGroup("Group"));
        r->AddProperty(new RTTIDirectAccessTypedProperty<float>("Float", RTTI_OFFSETOF(R, f)));
        r->AddProperty(new RTTIDirectAccessTypedProperty<int32_t>("Int", RTTI_OFFSETOF(R, i)));
        r->AddProperty(new RTTIDirectAccessTypedProperty<uint32_t>("U32", RTTI_OFFSETOF(R, u)));
        r->AddProperty(new RTTIDirectAccessTypedProperty<uint16_t>("U16", RTTI_OFFSETOF(R, u16)));
        r->AddProperty(new RTTIDirectAccessTypedProperty<char*>("Text", RTTI_OFFSETOF(R, text)));
        r->AddProperty(new RTTIDirectAccessTypedProperty<char16_t*>("Wide", RTTI_OFFSETOF(R, wide)));
        r->AddProperty(new RTTIDirectAccessTypedProperty<Vector>("Vector", RTTI_OFFSETOF(R, vec)));
        r->AddProperty(new RTTIDirectAccessTypedProperty<Vector3>("Vector3", RTTI_OFFSETOF(R, vec3)));
        r->AddProperty(new RTTIDirectAccessTypedProperty<BoundingBox4>("Box", RTTI_OFFSETOF(R, box)));
        r->AddProperty(new RTTIDirectAccessTypedProperty<Quaternion>("Quat", RTTI_OFFSETOF(R, quat)));
        r->AddProperty(new RTTIDirectAccessTypedProperty<Matrix>("Matrix", RTTI_OFFSETOF(R, mat)));
        r->AddProperty(new RTTIPropertySeparator("Separator"));
        r->AddProperty(new RTTIDirectAccessTypedProperty<bool>("Bool", RTTI_OFFSETOF(R, flag)));
        r->AddProperty(new RTTIDirectAccessTypedProperty<SimpleGUID>("GUID", RTTI_OFFSETOF(R, guid), 4));
        r->AddProperty(new RTTIDirectAccessTypedProperty<NameString>("Name", RTTI_OFFSETOF(R, name)));
        r->AddProperty(new RTTIDirectAccessTypedProperty<HDRColor>("Color", RTTI_OFFSETOF(R, color)));
        r->AddProperty(new RTTIDirectAccessTypedProperty<char>("Char", RTTI_OFFSETOF(R, ch)));
        r->AddProperty(new RTTIDirectAccessTypedProperty<uint8_t>("Byte", RTTI_OFFSETOF(R, byte)));
        r->AddProperty(new RTTIStaticBitVectorProperty<76>("Bits", RTTI_OFFSETOF(R, bits)));
        r->AddProperty(new RTTIPureMemoryBlockProperty("Raw", RTTI_OFFSETOF(R, raw), 5));
        r->AddProperty(new RTTIEntityPointerProperty<FakeEntity>("Entity", RTTI_OFFSETOF(R, entity)));
        r->AddProperty(new RTTISafeEntityPointerProperty<FakeEntity>("Safe entity", RTTI_OFFSETOF(R, safeEntity)));
        r->AddProperty(new RTTIDynarrayProperty<Dynarray<uint32_t>>("Words", RTTI_OFFSETOF(R, words)));
        r->AddProperty(new RTTIDynarrayProperty<DynarraySafe<NameString>>("Names", RTTI_OFFSETOF(R, names)));
        r->AddProperty(new RTTIEmbeddedObjectProperty<Record>("Record", RTTI_OFFSETOF(R, record), rec));
        r->AddProperty(new RTTIEmbeddedObjectProperty<ElemFloat>("Embedded", RTTI_OFFSETOF(R, embedded)));
        r->AddProperty(new RTTIDynarrayOfEmbeddedObjectPointersProperty<Dynarray<ElemFloat*>>("Owned", RTTI_OFFSETOF(R, owned)));
        r->AddProperty(new RTTIDynarrayOfEmbeddedObjectsProperty<DynarraySafe<Record>>("Records", RTTI_OFFSETOF(R, records), rec));
        r->AddProperty(new RTTIDynarrayOfPolyObjectPointersProperty<Dynarray<Elem*>>("Poly", RTTI_OFFSETOF(R, poly), "TestElem"));
        r->AddProperty(new RTTIDynarraySafePointerProperty<DynarraySafe<SafePointer<FakeEntity>>>("Safe array", RTTI_OFFSETOF(R, safeArray)));
        r->AddProperty(new RTTIDirectAccessTypedProperty<uint32_t>("Hidden", RTTI_OFFSETOF(R, u), kPropertyFlagNoSerialize));
        return r;
    }();
    return c;
}

inline void FillRich(RichObject& o, FakeEntity* entity) {
    o.baseValue = 0xA1B2C3D4, o.f = 1.5f, o.i = -2, o.u = 0x11223344, o.u16 = 0xBEEF;
    RTTIValueStore<char*>::Assign(o.text, const_cast<char*>("hi"));
    static char16_t w[] = u"A\u00e9";
    RTTIValueStore<char16_t*>::Assign(o.wide, w);
    o.vec = Vector(1, 2, 3, 4), o.vec3 = Vector3(5, 6, 7), o.quat = Quaternion(0, 0, 0, 1);
    o.box = BoundingBox4(Vector(-1, -2, -3, 1), Vector(1, 2, 3, 1));
    for (int k = 0; k < 16; ++k) o.mat.r[k / 4][k % 4] = static_cast<float>(k);
    o.flag = true, o.guid = MakeGuid(0x40), o.name = "ab", o.color = HDRColor(10, 20, 30, 255, 2.0f);
    o.ch = -1, o.byte = 200, o.bits[0] = 1, o.bits[2] = 0x800;
    std::memcpy(o.raw, "\x01\x02\x03\x04\x05", 5);
    o.entity = entity;
    o.safeEntity.Assign(entity);
    o.words.Add(7), o.words.Add(8), o.names.Add(NameString("x")), o.names.Add(NameString());
    o.record.a = 9, o.record.n = "r", o.embedded.v = 3, o.embedded.f = 0.25f;
    auto* e1 = new ElemFloat;
    e1->v = 5, e1->f = 2.0f;
    o.owned.Add(e1), o.owned.Add(nullptr);
    o.records.Add(Record{1, NameString("p")}), o.records.Add(Record{2, NameString()});
    auto* p1 = new ElemText;
    p1->v = 6;
    RTTIValueStore<char*>::Assign(p1->s, const_cast<char*>("z"));
    auto* p2 = new Elem;
    p2->v = 7;
    o.poly.Add(p1), o.poly.Add(nullptr), o.poly.Add(p2);
    o.safeArray.Add(SafePointer<FakeEntity>(entity));
    o.safeArray.Add(SafePointer<FakeEntity>());
}

}  // namespace richtest
