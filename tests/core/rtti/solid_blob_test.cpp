// test-sanitize: address
#include <gtest/gtest.h>

#include <cstring>

#include "CaptureLogSink.h"
#include "RichTestClass.h"
#include "core/CRC32.h"

using namespace richtest;

namespace {

// Variants of one small class that differ in one declaration each.
struct Small : RTTIPolyBaseClass {
    uint32_t a = 0, b = 0;
    const RTTIClass* cls = nullptr;
    const RTTIClass* GetRTTIClass() const override { return cls; }
    int loaded = 0;
    void OnLoaded(uint32_t) override { ++loaded; }
};

const RTTIClass* SmallClass(const char* name, const char* nameA, uint32_t flagsA, bool swapOrder, bool floatB) {
    auto* c = new RTTIClass;
    c->Register(name, kRTTIRootBaseName);
    RTTIProperty* pa = new RTTIDirectAccessTypedProperty<uint32_t>(nameA, RTTI_OFFSETOF(Small, a), flagsA);
    RTTIProperty* pb = floatB ? static_cast<RTTIProperty*>(new RTTIDirectAccessTypedProperty<float>("B", RTTI_OFFSETOF(Small, b)))
                              : new RTTIDirectAccessTypedProperty<uint32_t>("B", RTTI_OFFSETOF(Small, b));
    c->AddProperty(swapOrder ? pb : pa);
    c->AddProperty(swapOrder ? pa : pb);
    return c;
}

TEST(SolidBlobTest, Option16WritesCheckValueAndCrcAndRoundTrips) {
    Small s;
    s.cls = SmallClass("BlobSmall", "A", 0, false, false);
    s.a = 0x01020304, s.b = 5;
    std::vector<uint8_t> blob;
    SolidSerializeToBuffer(s, blob, kSerializeSolidCheck);
    ASSERT_EQ(blob.size(), 20u);
    const uint8_t payload[8] = {4, 3, 2, 1, 5, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(blob.data() + 12, payload, 8));
    uint32_t head[3];  // size, check value, CRC
    std::memcpy(head, blob.data(), 12);
    const uint32_t check = s.cls->GetLayoutHash(&s);
    EXPECT_EQ(std::vector<uint32_t>(head, head + 3), (std::vector<uint32_t>{8, check, CRC32::GetDefault().Compute(payload, 8)}));

    Small back;
    back.cls = s.cls;
    EXPECT_TRUE(SolidDeserializeFromBuffer(back, blob.data(), blob.size(), kSerializeSolidCheck));
    EXPECT_TRUE(back.a == s.a && back.b == 5u && back.loaded == 1);

    // Option 2 swaps the size and the values, never the check value or the CRC,
    // and the CRC covers the payload as written.
    std::vector<uint8_t> swapped;
    SolidSerializeToBuffer(s, swapped, kSerializeSolidCheck | kSerializeByteSwap);
    EXPECT_TRUE(swapped[3] == 8 && std::memcmp(&swapped[4], &check, 4) == 0);
    const uint8_t swappedPayload[8] = {1, 2, 3, 4, 0, 0, 0, 5};
    EXPECT_EQ(0, std::memcmp(swapped.data() + 12, swappedPayload, 8));
    uint32_t swappedCrc;
    std::memcpy(&swappedCrc, &swapped[8], 4);
    EXPECT_EQ(swappedCrc, CRC32::GetDefault().Compute(swappedPayload, 8));
}

// A changed declaration fails the check value, a flipped payload byte the CRC; the
// object is left as it was either way.
TEST(SolidBlobTest, ChangedDeclarationsAndPayloadsFailTheirChecksAndLeaveTheObject) {
    Small s;
    s.cls = SmallClass("BlobOrig", "A", 0, false, false);
    s.a = 7;
    std::vector<uint8_t> blob;
    SolidSerializeToBuffer(s, blob, kSerializeSolidCheck);
    std::vector<uint8_t> flipped = blob;
    flipped[14] ^= 0x10;
    const struct {
        const RTTIClass* cls;
        const std::vector<uint8_t>* blob;
        const char* error;
    } cases[] = {
        {SmallClass("BlobName", "A2", 0, false, false), &blob, "magic"},  // property name
        {SmallClass("BlobType", "A", 0, false, true), &blob, "magic"},    // property type
        {SmallClass("BlobFlag", "A", 8, false, false), &blob, "magic"},   // property flags
        {SmallClass("BlobOrder", "A", 0, true, false), &blob, "magic"},   // declaration order
        {s.cls, &flipped, "CRC"},
    };
    for (const auto& c : cases) {
        CaptureLogSink sink;
        sink.Attach();
        Small back;
        back.cls = c.cls;
        back.a = 99;
        BoundedReader in(c.blob->data(), c.blob->size());
        EXPECT_FALSE(SolidDeserializeFromBuffer(back, in, kSerializeSolidCheck)) << c.cls->Name();
        EXPECT_TRUE(in.Failed());  // a blob behind it is not read from the middle of this one
        EXPECT_TRUE(sink.Contains(std::string("SolidDeserializeFromFileReader - ") + c.error + " check error!!!"));
        EXPECT_EQ(back.a, 99u);
        EXPECT_EQ(back.loaded, 0);
    }
}

TEST(SolidBlobTest, EmptyTruncatedOversizedAndMismatchedBlobs) {
    struct Nothing : RTTIPolyBaseClass {
        const RTTIClass* GetRTTIClass() const override {
            static RTTIClass* c = [] {
                auto* r = new RTTIClass;
                r->Register("BlobNothing", kRTTIRootBaseName);
                r->AddProperty(new RTTIPropertyGroup("Only a group"));
                return r;
            }();
            return c;
        }
    } nothing;
    std::vector<uint8_t> blob;
    SolidSerializeToBuffer(nothing, blob, kSerializeSolidCheck);
    EXPECT_EQ(blob, (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_TRUE(SolidDeserializeFromBuffer(nothing, blob.data(), blob.size(), kSerializeSolidCheck));

    FakeEntityManager manager;
    RichObject o;
    FillRich(o, nullptr);
    std::vector<uint8_t> rich;
    SolidSerializeToBuffer(o, rich, kSerializeSolidCheck);
    CaptureLogSink sink;
    sink.Attach();
    for (size_t cut : {size_t(0), size_t(3), size_t(11), rich.size() - 1}) {
        RichObject back;
        back.baseValue = 42;
        EXPECT_FALSE(SolidDeserializeFromBuffer(back, rich.data(), cut, kSerializeSolidCheck)) << cut;
        EXPECT_EQ(back.baseValue, 42u);  // a short blob never reaches the object
    }
    std::vector<uint8_t> oversized = rich;  // a size word larger than the input
    oversized[3] = 0x7F;
    RichObject back, mismatched;
    EXPECT_FALSE(SolidDeserializeFromBuffer(back, oversized.data(), oversized.size(), kSerializeSolidCheck));
    // Written with option 16 and read without: the check value is taken as payload
    // and the read fails cleanly at the end of the input.
    EXPECT_FALSE(SolidDeserializeFromBuffer(mismatched, rich.data(), rich.size(), 0));
    // The full blob still reads.
    RichObject good;
    EXPECT_TRUE(SolidDeserializeFromBuffer(good, rich.data(), rich.size(), kSerializeSolidCheck));
    EXPECT_TRUE(RichObject::Class()->PropertiesEqual(&o, &good));
}

// A class with a factory reads a blob into a scratch object first: a payload that stops
// parsing changes nothing, and entity pointers are resolved only for the real object.
TEST(SolidBlobTest, ScratchReadsLeaveTheObjectAndResolvePointersOnce) {
    FakeEntityManager manager;
    FakeEntity entity;
    entity.guid = MakeGuid(0x70);
    RichObject source;
    FillRich(source, &entity);
    std::vector<uint8_t> blob;
    SolidSerializeToBuffer(source, blob, 0);

    // Cut behind a matching size word: half the properties would parse.
    std::vector<uint8_t> cut(blob.begin(), blob.begin() + static_cast<long>(blob.size() / 2));
    const uint32_t n = static_cast<uint32_t>(cut.size() - 4);
    std::memcpy(cut.data(), &n, 4);
    CaptureLogSink sink;
    sink.Attach();
    RichObject target, expected;
    for (RichObject* o : {&target, &expected}) {
        o->baseValue = 5;
        RTTIValueStore<char*>::Assign(o->text, const_cast<char*>("kept"));
    }
    EXPECT_FALSE(SolidDeserializeFromBuffer(target, cut.data(), cut.size(), 0));
    EXPECT_TRUE(RichObject::Class()->PropertiesEqual(&expected, &target));

    // Inside an outer pass the pointers wait for its end; the scratch object, gone by
    // then, left no record behind.
    ASSERT_TRUE(EntityPointerFixups::Begin());
    ASSERT_TRUE(SolidDeserializeFromBuffer(target, blob.data(), blob.size(), 0));
    EXPECT_EQ(target.entity, nullptr);
    manager.entities.push_back(&entity);
    EntityPointerFixups::Resolve();
    EXPECT_TRUE(target.entity == &entity && target.safeArray[0].Get() == &entity);
    EXPECT_TRUE(RichObject::Class()->PropertiesEqual(&source, &target));

    // Without a pass, a missing entity is reported once per pointer, not once more for
    // the scratch read.
    manager.entities.clear();
    sink.Clear();
    RichObject again;
    ASSERT_TRUE(SolidDeserializeFromBuffer(again, blob.data(), blob.size(), 0));
    int misses = 0;
    for (const auto& m : sink.Messages()) misses += m.text.find("Unable to deserialize entity pointer") != std::string::npos;
    EXPECT_EQ(misses, 3);  // "Entity", "Safe entity" and the first "Safe array" element
}

}  // namespace
