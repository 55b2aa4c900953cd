// test-sanitize: thread address
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <thread>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "RichTestClass.h"
#include "core/Memory.h"

using namespace richtest;

namespace {

// Independent little encoder: appends fields as the format tables describe them.
struct Enc {
    std::vector<uint8_t> b;
    bool swap = false;
    Enc& U8(std::initializer_list<uint8_t> v) { return b.insert(b.end(), v), *this; }
    Enc& U16(uint16_t v) {
        if (swap) v = static_cast<uint16_t>((v >> 8) | (v << 8));
        return U8({static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
    }
    Enc& U32(std::initializer_list<uint32_t> vs, bool swappable = true) {
        for (uint32_t v : vs) {
            if (swap && swappable) v = __builtin_bswap32(v);
            for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(v >> (8 * k)));
        }
        return *this;
    }
    Enc& F32(std::initializer_list<float> fs) {
        for (float f : fs) U32({std::bit_cast<uint32_t>(f)});
        return *this;
    }
    Enc& Str(const char* s) { return b.insert(b.end(), s, s + std::strlen(s) + 1), *this; }  // characters and NUL
    Enc& Guid(const SimpleGUID& g) { return b.insert(b.end(), g.bytes, g.bytes + 16), *this; }
};

std::vector<uint8_t> ExpectedRich(bool swap, const SimpleGUID& g) {
    Enc e;
    e.swap = swap;
    // RichBase "Base value" first: "RichBase" sorts before "RichObject".
    e.U32({0xA1B2C3D4}).F32({1.5f}).U32({static_cast<uint32_t>(-2), 0x11223344}).U16(0xBEEF).Str("hi");
    e.U16(u'A').U16(0xE9).U16(0).F32({1, 2, 3, 4, 5, 6, 7, -1, -2, -3, 1, 1, 2, 3, 1, 0, 0, 0, 1});
    for (int k = 0; k < 16; ++k) e.F32({static_cast<float>(k)});
    e.U8({1}).Guid(MakeGuid(0x40)).U8({1}).Str("ab").U8({10, 20, 30, 255}).F32({2.0f}).U8({0xFF, 200});
    e.U32({1, 0, 0x800}, false).U8({1, 2, 3, 4, 5});  // bit vector words are never swapped
    e.Guid(g).Guid(g).U32({2, 7, 8, 2}).U8({1}).Str("x").U8({0});  // pointers, "Words", "Names"
    e.U32({9}).U8({1}).Str("r").U32({3}).F32({0.25f});             // "Record", "Embedded"
    e.U32({2}).U8({1}).U32({5}).F32({2.0f}).U8({0});                // "Owned": ElemFloat, null
    e.U32({2, 1}).U8({1}).Str("p").U32({2}).U8({0});                // "Records"
    // "Poly": class names without the "TestElem" prefix.
    e.U32({3}).U8({1}).Str("Text").U32({6}).Str("z").U8({0, 1}).Str("").U32({7});
    e.U32({2}).Guid(g).Guid(SimpleGUID());  // "Safe array"
    return e.b;
}

std::vector<uint8_t> Write(const RTTIPolyBaseClass& o, uint32_t options) {
    std::vector<uint8_t> out(o.SolidSerialize(nullptr, options));
    EXPECT_EQ(o.SolidSerialize(out.data(), options), out.size());
    return out;
}

// Every property of RichObject's walk, in walk order.
template <class F>
void EachProperty(F f) {
    const RTTIClass* rich = RichObject::Class();
    for (uint32_t c = 0; c < rich->ChainCount(); ++c)
        for (uint32_t k = 0; k < rich->ChainAt(c)->PropertyCount(); ++k) f(rich->ChainAt(c)->PropertyAt(k));
}

class PropertyTest : public ::testing::Test {
protected:
    void SetUp() override {
        entity.guid = MakeGuid(0x90);
        entity.templateType = 5;
        manager.entities.push_back(&entity);
    }
    FakeEntityManager manager;
    FakeEntity entity;
};

TEST_F(PropertyTest, EveryTypeWritesItsSpecifiedBinaryFormAndReadsBack) {
    RichObject o;
    FillRich(o, &entity);
    EXPECT_EQ(Write(o, 0), ExpectedRich(false, entity.guid));
    EXPECT_EQ(Write(o, kSerializeByteSwap), ExpectedRich(true, entity.guid));  // GUIDs and bit vectors unswapped

    RichObject back;
    const std::vector<uint8_t> bytes = Write(o, 0);
    BoundedReader reader(bytes.data(), bytes.size());
    EXPECT_EQ(back.SolidDeserialize(reader, 0), bytes.size());
    EXPECT_FALSE(reader.Failed());
    EXPECT_TRUE(RichObject::Class()->PropertiesEqual(&o, &back));
    EXPECT_EQ(back.entity, &entity);
    EXPECT_EQ(back.safeEntity.Get(), &entity);
    EXPECT_EQ(back.safeArray[0].Get(), &entity);
    ASSERT_EQ(back.poly.Count(), 3u);
    EXPECT_NE(dynamic_cast<ElemText*>(back.poly[0]), nullptr);
    EXPECT_EQ(back.poly[1], nullptr);
    EXPECT_EQ(back.poly[2]->GetRTTIClass(), Elem::Class());
    EXPECT_STREQ(back.text, "hi");
    EXPECT_EQ(back.u, 0x11223344u);  // the 0x4000 "Hidden" alias was skipped
    EXPECT_EQ(Write(back, 0), bytes);
}

TEST_F(PropertyTest, TypeIdsAndTextFormsOfEveryFamily) {
    // Type id of each property of RichObject's walk, in walk order; arrays and embedded
    // objects (2, 3, 5, 6, 7) have no typed value, group and separator entries (0, 1) do.
    std::string ids;
    EachProperty([&ids](const RTTIProperty* p) {
        EXPECT_EQ(p->IsTyped(), p->TypeId() < 2 || p->TypeId() > 7) << p->Name();
        ids += std::to_string(p->TypeId()) + " ";
    });
    EXPECT_EQ(ids, "10 0 8 9 10 11 12 13 14 15 16 17 18 1 19 20 21 22 23 24 25 26 27 28 2 2 3 3 5 6 7 2 10 ");
    // Properties without a text form clear the caller's buffer.
    RichObject o;
    char text[8] = "stale";
    EXPECT_TRUE(RichObject::Class()->FindProperty("Wide")->ToString(&o, text, sizeof text));
    EXPECT_STREQ(text, "");
    std::strcpy(text, "stale");
    EXPECT_FALSE(RichObject::Class()->FindProperty("Words")->ToString(&o, text, sizeof text));
    EXPECT_STREQ(text, "");
    // The wide string's terminator is written, whatever the buffer held; wide strings
    // compare unit by unit, down to a single one.
    RTTIValueStore<char16_t*>::Assign(o.wide, const_cast<char16_t*>(u"A"));
    uint8_t bytes[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    ASSERT_EQ(RichObject::Class()->FindProperty("Wide")->WriteBinary(bytes, &o, 0), 4u);
    EXPECT_EQ(0, std::memcmp(bytes, "A\0\0\0", 4));
    RichObject w2;
    RTTIValueStore<char16_t*>::Assign(w2.wide, const_cast<char16_t*>(u"B"));
    EXPECT_FALSE(RichObject::Class()->FindProperty("Wide")->Equal(&o, &w2));
    // Equality covers the base classes, every float of the float families (the last
    // one changed here) and the classes of polymorphic elements.
    RichObject a, b;
    EXPECT_TRUE(RichObject::Class()->PropertiesEqual(&a, &b));
    b.baseValue = 1;
    EXPECT_FALSE(RichObject::Class()->PropertiesEqual(&a, &b));
    b.baseValue = 0;
    const std::pair<const char*, float*> lastFloats[] = {{"Vector", &b.vec.w}, {"Vector3", &b.vec3.z},
                                                         {"Box", &b.box.max.w}, {"Quat", &b.quat.w},
                                                         {"Matrix", &b.mat.r[3].w}};
    for (const auto& f : lastFloats) {
        *f.second += 1;
        EXPECT_FALSE(RichObject::Class()->FindProperty(f.first)->Equal(&a, &b)) << f.first;
        *f.second -= 1;
    }
    a.poly.Add(new Elem);
    b.poly.Add(new ElemFloat);  // same base values, another class
    EXPECT_FALSE(RichObject::Class()->FindProperty("Poly")->Equal(&a, &b));
}

TEST_F(PropertyTest, SmallFormsOfStringsNamesAndEmptyArrays) {
    RichObject o;  // defaults: null strings, empty name, empty arrays, null pointers
    const std::vector<uint8_t> b = Write(o, 0);
    RichObject back;
    RTTIValueStore<char*>::Assign(back.text, const_cast<char*>("stale"));
    back.name = "stale";
    back.words.Add(1);
    BoundedReader in(b.data(), b.size());
    back.SolidDeserialize(in, 0);
    EXPECT_FALSE(in.Failed());
    EXPECT_EQ(back.text, nullptr);  // null char* is one 0 byte and reads back null
    EXPECT_TRUE(back.name.IsEmpty() && back.words.Count() == 0u);

    // An empty (not null) string also reads back as null and equals null.
    RTTIValueStore<char*>::Assign(o.text, const_cast<char*>(""));
    EXPECT_EQ(o.text, nullptr);
    const RTTIProperty* name = RichObject::Class()->FindProperty("name");  // found without regard to case
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->WriteBinary(nullptr, &o, 0) + RichObject::Class()->FindProperty("Words")->WriteBinary(nullptr, &o, 0), 5u);
}

// The engine allocator rounds to 16 bytes, so texts of 15 to 17 units reach the
// block's end: a copy one unit short or an allocation without room for the
// terminator shows here (under AddressSanitizer as an overflow). The block the copy
// will take is handed out and filled first, so a missing terminator cannot pass
// by finding a zero left behind.
TEST_F(PropertyTest, StringCopiesHoldExactlyTheirTextAndTerminator) {
    auto recycle = [](size_t bytes) {
        void* junk = EngineAlloc(bytes);
        std::memset(junk, 0x5A, (bytes + 15) & ~size_t(15));
        EngineFree(junk);
    };
    for (size_t len : {15, 16, 17, 31, 32}) {
        SCOPED_TRACE(len);
        std::string narrow(len, 'n');
        std::u16string wide(len, u'w');
        narrow.back() = 'e', wide.back() = u'e';
        RichObject o;
        recycle(len + 1);
        RTTIValueStore<char*>::Assign(o.text, narrow.data());
        recycle(2 * (len + 1));
        RTTIValueStore<char16_t*>::Assign(o.wide, wide.data());
        ASSERT_NE(o.text, narrow.data());
        EXPECT_EQ(std::string(o.text), narrow);
        EXPECT_EQ(std::u16string(o.wide), wide);
        // Through the text and binary forms as well: the property keeps its own copy.
        RichObject back;
        ASSERT_TRUE(back.SetPropertyFromString("Text", narrow.c_str()));
        EXPECT_EQ(std::string(back.text), narrow);
        ASSERT_TRUE(back.SetPropertyFromString("Wide", narrow.c_str()));
        EXPECT_EQ(std::u16string(back.wide), std::u16string(narrow.begin(), narrow.end()));
        const std::vector<uint8_t> b = Write(o, 0);
        RichObject read;
        recycle(2 * (len + 1));
        BoundedReader in(b.data(), b.size());
        read.SolidDeserialize(in, 0);
        EXPECT_EQ(std::u16string(read.wide), wide);
        EXPECT_EQ(std::string(read.text), narrow);
    }
}

TEST_F(PropertyTest, TextFormsRoundTripAndKeepUnparsedFields) {
    RichObject o;
    FillRich(o, &entity);
    RichObject copy;
    copy.safeArray.Add(SafePointer<FakeEntity>(&entity));
    copy.safeArray.Add(SafePointer<FakeEntity>());
    EachProperty([&](const RTTIProperty* p) {
        char text[1024];
        if (!p->IsTyped() || !p->ToString(&o, text, sizeof(text)) || p->TypeId() == 13) return;
        EXPECT_TRUE(copy.SetPropertyFromString(p->Name(), text)) << p->Name() << " " << text;
        EXPECT_TRUE(p->Equal(&o, &copy)) << p->Name() << " from \"" << text << "\"";
    });
    EXPECT_STREQ(o.GetPropertyValueAsString("Char"), "4294967295");
    EXPECT_EQ(copy.ch, -1);
    EXPECT_STREQ(o.GetPropertyValueAsString("Color"), "10 20 30 255 2.000000");
    EXPECT_STREQ(o.GetPropertyValueAsString("Vector3"), "5.000000 6.000000 7.000000");
    EXPECT_STREQ(o.GetPropertyValueAsString("Bits"), "100000000000000000800000");
    EXPECT_STREQ(o.GetPropertyValueAsString("Wide"), "");
    EXPECT_EQ(o.GetPropertyValueAsString("No such property"), nullptr);

    ASSERT_TRUE(copy.SetPropertyFromString("U32", "4294967295"));
    EXPECT_EQ(copy.u, 4294967295u);
    ASSERT_TRUE(copy.SetPropertyFromString("Vector", "9 8"));  // fields the text does not give stay
    EXPECT_EQ(copy.vec, Vector(9, 8, 3, 4));
    ASSERT_TRUE(copy.SetPropertyFromString("Color", "2 1 0 1"));  // falls back to a vector
    EXPECT_EQ(copy.color, HDRColor(255, 127, 0, 255, 2.0f));
    ASSERT_TRUE(copy.SetPropertyFromString("Wide", "\xC3\xA9t\xC3\xA9"));
    EXPECT_EQ(std::u16string(copy.wide), u"\u00e9t\u00e9");
    EXPECT_FALSE(copy.SetPropertyFromString("GUID", "01-02"));
    EXPECT_EQ(copy.guid, o.guid);
}

TEST_F(PropertyTest, TruncatedAndCorruptInputFailsCleanly) {
    RichObject o;
    FillRich(o, &entity);
    const std::vector<uint8_t> b = Write(o, 0);
    CaptureLogSink sink;
    sink.Attach();
    for (size_t cut = 0; cut < b.size(); cut += 7) {
        std::vector<uint8_t> part(b.begin(), b.begin() + static_cast<long>(cut));
        RichObject back;
        BoundedReader in(part.data(), part.size());
        back.SolidDeserialize(in, 0);
        EXPECT_TRUE(in.Failed()) << cut;
        EXPECT_LE(in.Offset(), part.size());
    }
    // A huge array count fails before anything is allocated.
    const uint8_t huge[] = {0xFF, 0xFF, 0xFF, 0x7F};
    RichObject back;
    BoundedReader in(huge, 4);
    EXPECT_FALSE(RichObject::Class()->FindProperty("Words")->ReadBinary(in, &back, 0));
    EXPECT_TRUE(sink.Contains("count larger than the remaining input"));
    // A string whose terminator would lie beyond the input.
    const uint8_t unterminated[] = {'a', 'b'};
    BoundedReader s(unterminated, sizeof unterminated);
    EXPECT_FALSE(RichObject::Class()->FindProperty("Text")->ReadBinary(s, &back, 0));
    EXPECT_TRUE(sink.Contains("string without terminator"));
}

TEST_F(PropertyTest, UnknownPolymorphicClassLogsAndFailsTheRead) {
    Enc e;
    e.U32({2}).U8({1}).Str("Missing").U32({1}).U8({0});
    const RTTIProperty* poly = RichObject::Class()->FindProperty("Poly");
    CaptureLogSink sink;
    sink.Attach();
    RichObject back;
    BoundedReader in(e.b.data(), e.b.size());
    EXPECT_FALSE(poly->ReadBinary(in, &back, 0));
    EXPECT_TRUE(in.Failed());
    EXPECT_TRUE(sink.Contains(
        "Class factory cannot create an object of class TestElemMissing. Some objects cannot be deserialized properly."));
    ASSERT_EQ(back.poly.Count(), 2u);
    EXPECT_EQ(back.poly[0], nullptr);
}

// Elements of a polymorphic array may be typed by an abstract base: they are only
// ever created by class name.
TEST_F(PropertyTest, PolymorphicArrayOfAnAbstractBase) {
    struct Holder {
        Dynarray<RTTIPolyBaseClass*> any;
        ~Holder() { DeleteOwnedPointerArray(any); }
    };
    ElemFloat::Class();
    const RTTIDynarrayOfPolyObjectPointersProperty<Dynarray<RTTIPolyBaseClass*>> prop("Any", offsetof(Holder, any),
                                                                                      "TestElem");
    Holder h;
    h.any.Add(new ElemFloat);
    static_cast<ElemFloat*>(h.any[0])->f = 4.5f;
    std::vector<uint8_t> b(prop.WriteBinary(nullptr, &h, 0));
    prop.WriteBinary(b.data(), &h, 0);
    Holder back;
    BoundedReader in(b.data(), b.size());
    ASSERT_TRUE(prop.ReadBinary(in, &back, 0));
    ASSERT_EQ(back.any.Count(), 1u);
    auto* g = dynamic_cast<ElemFloat*>(back.any[0]);
    EXPECT_TRUE(g && g->f == 4.5f);
    // An element of no registered class is written under an empty name.
    struct Unnamed : RTTIPolyBaseClass { const RTTIClass* GetRTTIClass() const override { return nullptr; } };
    h.any.Add(new Unnamed);
    EXPECT_EQ(prop.WriteBinary(nullptr, &h, 0), b.size() + 2);  // present byte and terminator
}

TEST_F(PropertyTest, EntityPointersResolveAtTheEndOfTheOutermostPass) {
    FakeEntity later;
    later.guid = MakeGuid(0xA0);
    RichObject source;
    source.entity = &later;  // written by GUID while "later" is not known yet
    source.safeEntity.Assign(&later);
    manager.entities.push_back(&later);
    const std::vector<uint8_t> b = Write(source, 0);
    manager.entities.pop_back();

    RichObject back;
    ASSERT_TRUE(EntityPointerFixups::Begin());
    EXPECT_FALSE(EntityPointerFixups::Begin());  // nested passes do not open again
    BoundedReader in(b.data(), b.size());
    back.SolidDeserialize(in, 0);  // nested: does not resolve
    EXPECT_EQ(back.entity, nullptr);
    manager.entities.push_back(&later);  // the entity is created later in the load
    EntityPointerFixups::Resolve();
    EXPECT_EQ(back.entity, &later);
    EXPECT_EQ(back.safeEntity.Get(), &later);
    EXPECT_FALSE(EntityPointerFixups::IsOpen());

    // A zero GUID sets null at once, even inside a pass.
    const RTTIProperty* ptr = RichObject::Class()->FindProperty("Entity");
    ASSERT_TRUE(EntityPointerFixups::Begin());
    uint8_t zero[16] = {};
    BoundedReader z(zero, 16);
    EXPECT_TRUE(ptr->ReadBinary(z, &back, 0));
    EXPECT_EQ(back.entity, nullptr);
    EntityPointerFixups::Resolve();
}

TEST_F(PropertyTest, MissingEntitiesAndTypeMismatchesAreLogged) {
    TemplateTypeTable::Get()[5].base = 2;
    struct Holder {
        FakeEntity* e = nullptr;
    } h;
    RTTIEntityPointerProperty<FakeEntity> typed("Typed", 0, 3);
    CaptureLogSink sink;
    sink.Attach();
    ASSERT_TRUE(EntityPointerFixups::Begin());
    EXPECT_TRUE(typed.FromString(&h, entity.guid.ToStringUnsafe()));
    EntityPointerFixups::Resolve();
    EXPECT_EQ(h.e, nullptr);
    EXPECT_TRUE(sink.Contains(std::string("Unable to deserialize entity pointer due to type mismatch. Guid=") +
                              entity.guid.ToStringUnsafe() + ", type=5, expected=3"));

    RTTIEntityPointerProperty<FakeEntity> base("Base", 0, 2);
    ASSERT_TRUE(EntityPointerFixups::Begin());
    EXPECT_TRUE(base.FromString(&h, entity.guid.ToStringUnsafe()));
    EntityPointerFixups::Resolve();
    EXPECT_EQ(h.e, &entity);  // type 5 derives from 2

    // No pass open: looked up at once; a miss is logged and leaves null.
    const SimpleGUID missing = MakeGuid(0xE0);
    EXPECT_TRUE(base.FromString(&h, missing.ToStringUnsafe()));
    EXPECT_EQ(h.e, nullptr);
    EXPECT_TRUE(sink.Contains(std::string("Unable to deserialize entity pointer. Guid=") + missing.ToStringUnsafe()));
    TemplateTypeTable::Get()[5].base = TemplateTypeTable::kRows;
}

TEST_F(PropertyTest, SafePointerReadWithoutPassResolvesAtOnce) {
    RichObject back;
    BoundedReader in(entity.guid.bytes, 16);
    EXPECT_TRUE(RichObject::Class()->FindProperty("Safe entity")->ReadBinary(in, &back, kSerializeNoEntityPass));
    EXPECT_EQ(back.safeEntity.Get(), &entity);
    EXPECT_FALSE(EntityPointerFixups::IsOpen());
}

TEST_F(PropertyTest, EachThreadHasItsOwnPass) {
    ASSERT_TRUE(EntityPointerFixups::Begin());
    bool otherOpened = false, otherSawOpen = true;
    std::thread other([&] {
        otherSawOpen = EntityPointerFixups::IsOpen();
        otherOpened = EntityPointerFixups::Begin();
        EntityPointerFixups::Resolve();
    });
    other.join();
    EXPECT_FALSE(otherSawOpen);
    EXPECT_TRUE(otherOpened);
    EXPECT_TRUE(EntityPointerFixups::IsOpen());
    EntityPointerFixups::Resolve();
}

}  // namespace
