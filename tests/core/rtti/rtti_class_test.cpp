// test-sanitize: address
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "../config/ConfigFolder.h"
#include "CaptureLogSink.h"
#include "core/ByteOrder.h"
#include "core/CRC32.h"
#include "core/CrtRand.h"
#include "core/fs/FileReader.h"
#include "core/rtti/GUIDReplacement.h"
#include "core/rtti/RTTIProperty.h"
#include "core/rtti/SimpleGUID.h"

namespace {

// Each test class holds one u32 whose value names the class, so the written order
// of the words is the walk order.
struct Words : RTTIPolyBaseClass {
    uint32_t alpha = 1, zeta = 2, alpha2 = 3;
    const RTTIClass* cls = nullptr;
    const RTTIClass* GetRTTIClass() const override { return cls; }
};

RTTIClass* MakeClass(const char* name, const char* base) {
    auto* c = new RTTIClass;
    c->Register(name, base);
    return c;
}

struct Hierarchy {
    RTTIClass* alpha = MakeClass("WalkAlpha", kRTTIRootBaseName);
    RTTIClass* zeta = MakeClass("WalkZeta", "WalkAlpha");
    RTTIClass* alpha2 = MakeClass("WalkAlpha2", "WalkZeta");
    Hierarchy() {
        alpha->AddProperty(new RTTIDirectAccessTypedProperty<uint32_t>("a", RTTI_OFFSETOF(Words, alpha)));
        zeta->AddProperty(new RTTIDirectAccessTypedProperty<uint32_t>("z", RTTI_OFFSETOF(Words, zeta), 4));
        alpha2->AddProperty(new RTTIDirectAccessTypedProperty<uint32_t>("a2", RTTI_OFFSETOF(Words, alpha2), 0x4000));
        alpha2->AddProperty(new RTTIDirectAccessTypedProperty<uint32_t>("a2b", RTTI_OFFSETOF(Words, alpha2)));
    }
};

Hierarchy& H() {
    // Registered once per program (descriptors live until exit, as in the engine).
    static Hierarchy* h = new Hierarchy;
    return *h;
}

std::vector<uint32_t> Walk(const RTTIClass* cls, uint32_t options) {
    Words w;
    std::vector<uint32_t> out(cls->SerializeProperties(nullptr, &w, options) / 4);
    cls->SerializeProperties(reinterpret_cast<uint8_t*>(out.data()), &w, options);
    return out;
}

TEST(RTTIClassTest, WalkVisitsClassesSortedByNameThenDeclarationOrder) {
    // Zeta : Alpha walks Alpha first; Alpha2 : Zeta : Alpha walks Alpha, Alpha2, Zeta.
    EXPECT_EQ(Walk(H().zeta, 0), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(Walk(H().alpha2, 0), (std::vector<uint32_t>{1, 3, 2}));
    // Option 8: the class itself only; flag 0x4000 is always skipped; option 1 skips
    // flag-4 properties.
    EXPECT_EQ(Walk(H().alpha2, kSerializeOwnClassOnly), (std::vector<uint32_t>{3}));
    EXPECT_EQ(Walk(H().alpha2, kSerializeSkipGuid), (std::vector<uint32_t>{1, 3}));
    // '_' sorts before letters, as with a lower-casing compare.
    EXPECT_STREQ(MakeClass("Walk_Under", "WalkAlpha")->ChainAt(0)->Name(), "Walk_Under");
}

TEST(RTTIClassTest, LayoutHashFollowsTheDeclarations) {
    // Values worked out independently with a bit-by-bit CRC-32 of {u32 type, u32
    // flags, name} per property, then ^ each TypeId ^ flags ^ the count.
    EXPECT_EQ(GUIDReplacementEntry::RegisterClass()->GetLayoutHash(nullptr), 0xA22DC406u);
    EXPECT_EQ(GUIDReplacementTable::RegisterClass()->GetLayoutHash(nullptr), 0x91E72AEBu);

    // A class without properties: 0 ^ 0 ^ the base's value.
    Words w;
    EXPECT_EQ(MakeClass("WalkEmpty", "WalkZeta")->GetLayoutHash(&w), H().zeta->GetLayoutHash(&w));
    EXPECT_NE(H().zeta->GetLayoutHash(&w), 0u);
}

// Size-prefixed property blocks read from a file: a block, an empty block, then a
// block that claims more than the file holds; and a file cut inside a block.
TEST(RTTIClassTest, ReadPropertiesBlockFromAFile) {
    ConfigFolder folder("rttiblocks");
    ASSERT_TRUE(folder.Mounted());
    auto writeFile = [&folder](const char* name, std::vector<uint32_t> words, size_t cut) {
        std::vector<uint8_t> bytes(words.size() * 4 - cut);
        std::memcpy(bytes.data(), words.data(), bytes.size());
        folder.Write(name, bytes);
    };
    writeFile("blocks.bin", {8, 11, 22, 0, 0xFFFF}, 0);
    writeFile("cut.bin", {8, 33, 44}, 2);
    CaptureLogSink sink;
    sink.Attach();
    Words w;
    FileReader r("blocks", "bin", "rttiblocks");
    ASSERT_TRUE(r.IsOpen());
    EXPECT_TRUE(H().zeta->ReadPropertiesBlock(r, &w, 0));
    EXPECT_EQ(w.alpha * 100 + w.zeta, 1122u);
    EXPECT_TRUE(H().zeta->ReadPropertiesBlock(r, &w, 0));
    EXPECT_FALSE(H().zeta->ReadPropertiesBlock(r, &w, 0));
    EXPECT_TRUE(sink.Contains("larger than the file"));

    Words cut;
    FileReader c("cut", "bin", "rttiblocks");
    EXPECT_FALSE(H().zeta->ReadPropertiesBlock(c, &cut, 0));
    EXPECT_EQ(cut.alpha * 100 + cut.zeta, 102u);
}

TEST(RTTIClassTest, LookupsAreCaseInsensitive) {
    EXPECT_EQ(RTTIClassRegistry::FindClass("walkzeta"), H().zeta);
    EXPECT_EQ(RTTIClassRegistry::FindClass("WALKALPHA2"), H().alpha2);
    EXPECT_EQ(RTTIClassRegistry::FindClass("NoSuchClass"), nullptr);
    EXPECT_EQ(H().alpha2->FindProperty("A2B"), H().alpha2->PropertyAt(1));
    EXPECT_EQ(H().alpha2->FindPropertyInChain("A"), H().alpha->PropertyAt(0));
    EXPECT_EQ(H().alpha2->FindPropertyInChain(nullptr), nullptr);
}

TEST(RTTIClassTest, NameRegistryCreatesByExactName) {
    static int created = -1;
    struct Made : RTTIPolyBaseClass {
        const RTTIClass* GetRTTIClass() const override { return nullptr; }
    };
    auto factory = [](int32_t i) -> RTTIPolyBaseClass* { return created = i, new Made; };
    // The registry keeps its names for the process's life: each run of the test has names
    // of its own.
    static int run = 0;
    static auto* kept = new std::deque<std::string>;  // the registry holds the names' pointers
    const std::string suffix = std::to_string(++run);
    const auto name = [&](const char* n) { return std::string(n) + suffix; };
    const auto keep = [&](const char* n) { return kept->emplace_back(name(n)).c_str(); };
    const int32_t first = NameRegistry::Register(keep("FactoryB"), factory);
    auto* cls = new RTTIClass;
    cls->Register(keep("FactoryA"), kRTTIRootBaseName, factory);
    EXPECT_EQ(cls->id, first + 1);
    EXPECT_EQ(NameRegistry::FindIndex(name("FactoryA").c_str()), first + 1);
    EXPECT_EQ(NameRegistry::FindIndex(name("factorya").c_str()), -1);
    EXPECT_EQ(NameRegistry::CreateObject("Unknown"), nullptr);
    RTTIPolyBaseClass* o = NameRegistry::CreateObject(name("FactoryB").c_str());
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(created, first);
    delete o;

    // Names registered out of order, growing the tables on the way: each one still
    // creates through its own factory.
    const char* const scrambled[] = {"FactoryM", "FactoryD", "FactoryZ", "FactoryC", "FactoryQ", "FactoryE",
                                     "FactoryY", "FactoryF", "FactoryN", "FactoryG", "FactoryX", "FactoryH"};
    int32_t index[12];
    for (int i = 0; i < 12; ++i) index[i] = NameRegistry::Register(keep(scrambled[i]), factory);
    for (int i = 0; i < 12; ++i) {
        created = -1;
        delete NameRegistry::CreateObject(name(scrambled[i]).c_str());
        EXPECT_EQ(created, index[i]) << scrambled[i];
        EXPECT_EQ(NameRegistry::FindIndex(name(scrambled[i]).c_str()), index[i]);
    }
}

TEST(RTTIClassTest, TemplateTypeIsA) {
    TemplateTypeTable::Row* rows = TemplateTypeTable::Get();
    EXPECT_TRUE(TemplateTypeTable::IsA(5, 5));
    EXPECT_TRUE(TemplateTypeTable::IsA(5000, 5000));
    EXPECT_FALSE(TemplateTypeTable::IsA(5000, 0));
    rows[300].base = 200;
    rows[200].base = 100;
    EXPECT_TRUE(TemplateTypeTable::IsA(300, 100));
    EXPECT_FALSE(TemplateTypeTable::IsA(100, 300));
    // A cyclic chain answers false instead of looping.
    rows[100].base = 300;
    EXPECT_FALSE(TemplateTypeTable::IsA(300, 7));
    rows[100].base = rows[200].base = rows[300].base = TemplateTypeTable::kRows;
}

// A table sorted by original GUID: every entry is found, and GUIDs between and
// beyond the entries translate to themselves.
TEST(RTTIClassTest, GuidReplacementTranslates) {
    auto guid = [](int top) {
        SimpleGUID g;
        g.bytes[15] = static_cast<uint8_t>(top);
        return g;
    };
    GUIDReplacementTable table;
    for (int i = 1; i <= 21; ++i) table.entries.Add({guid(2 * i), guid(200 + i)});
    for (int i = 1; i <= 21; ++i) {
        EXPECT_EQ(table.FindIndex(guid(2 * i)), i - 1);
        EXPECT_EQ(table.Translate(guid(2 * i)), guid(200 + i));
    }
    for (int odd = 1; odd <= 45; odd += 2) EXPECT_EQ(table.Translate(guid(odd)), guid(odd)) << odd;
}


// Bit-by-bit reference: MSB first, polynomial 0x04C11DB7, init 0, no final XOR.
uint32_t ReferenceCrc(const uint8_t* p, size_t n) {
    uint32_t v = 0;
    for (size_t i = 0; i < n; ++i) {
        v ^= static_cast<uint32_t>(p[i]) << 24;
        for (int b = 0; b < 8; ++b) v = (v & 0x80000000u) ? (v << 1) ^ 0x04C11DB7u : v << 1;
    }
    return v;
}

TEST(CRC32Test, CheckValuesAndReference) {
    const CRC32& crc = CRC32::GetDefault();
    EXPECT_EQ(crc.Compute("123456789", 9), 0x89A1897Fu);
    EXPECT_EQ(crc.Compute("abc", 3), 0x2C17398Cu);
    EXPECT_EQ(crc.Compute("", 0), 0u);
    EXPECT_TRUE(crc.Verify(nullptr, 0, 0) && !crc.Verify(nullptr, 0, 1));
    CrtSrand(7);
    uint8_t buf[300];
    for (int round = 0; round < 50; ++round) {
        const size_t n = static_cast<size_t>(CrtRand()) % sizeof(buf);
        for (size_t i = 0; i < n; ++i) buf[i] = static_cast<uint8_t>(CrtRand());
        EXPECT_EQ(crc.Compute(buf, n), ReferenceCrc(buf, n));
        // Update is a running value: split anywhere.
        const size_t cut = n / 3;
        EXPECT_EQ(crc.Update(crc.Compute(buf, cut), buf + cut, n - cut), ReferenceCrc(buf, n));
    }
    CRC32 other(0x1EDC6F41u);
    EXPECT_NE(other.Compute("abc", 3), 0x2C17398Cu);
    other.SetPolynomial(CRC32::kDefaultPolynomial);
    EXPECT_EQ(other.Compute("abc", 3), 0x2C17398Cu);
}

TEST(SimpleGUIDTest, TextFormStartsAtByte15) {
    SimpleGUID g;
    g.bytes[15] = 0x01;
    char text[64];
    g.ToString(text, sizeof(text));
    EXPECT_STREQ(text, "01000000-0000-0000-0000-000000000000");
    for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<uint8_t>(0xA0 + i);
    EXPECT_STREQ(g.ToStringUnsafe(), "AFAEADAC-ABAA-A9A8-A7A6-A5A4A3A2A1A0");
    SimpleGUID back;
    EXPECT_TRUE(back.FromString("afaeadac-abaa-a9a8-a7a6-a5a4a3a2a1a0"));
    EXPECT_EQ(back, g);
    // Fifteen pairs fail and leave the GUID unchanged.
    SimpleGUID keep = g;
    EXPECT_FALSE(keep.FromString("01000000-0000-0000-0000-0000000000"));
    EXPECT_EQ(keep, g);
    g.ToString(text, 9);
    EXPECT_STREQ(text, "AFAEADAC");
}

TEST(SimpleGUIDTest, CompareFromByte15Down) {
    SimpleGUID a, b;
    a.bytes[0] = 1;
    EXPECT_TRUE(SimpleGUID::Compare(a, b) > 0 && SimpleGUID::Compare(b, a) < 0);
    b.bytes[15] = 1;  // byte 15 dominates byte 0
    EXPECT_LT(SimpleGUID::Compare(a, b), 0);
    EXPECT_EQ(SimpleGUID::Compare(a, a), 0);
}

TEST(SimpleGUIDTest, GenerateSetsVersionBits) {
    CrtSrand(1234);
    SimpleGUID previous;
    int differentBytes = 0;
    for (int i = 0; i < 1000; ++i) {
        SimpleGUID g;
        g.Generate();
        EXPECT_TRUE((g.bytes[9] & 0xF0) == 0x40 && (g.bytes[7] & 0xC0) == 0x80) << i;
        for (int k = 0; k < 16; ++k) differentBytes += g.bytes[k] != previous.bytes[k];
        previous = g;
    }
    EXPECT_GT(differentBytes, 1000 * 12);  // every byte is drawn afresh
}

TEST(ByteOrderTest, HexWordsAndSwaps) {
    uint32_t w[3] = {0x1, 0xABCDEF01, 0};
    char text[25];
    WordsToHexString(w, 3, text);
    EXPECT_STREQ(text, "1000000010FEDCBA00000000");
    uint32_t back[3] = {};
    EXPECT_TRUE(HexStringToWords(back, 3, "1000000010FEdcba00000000"));
    EXPECT_TRUE(back[0] == 1u && back[1] == 0xABCDEF01u);
    uint32_t partial[2] = {9, 9};
    EXPECT_FALSE(HexStringToWords(partial, 2, "20000000x"));
    EXPECT_TRUE(partial[0] == 2u && partial[1] == 9u);  // words before the bad character are set

    EXPECT_TRUE(ByteSwap16(uint16_t{0x1234}) == 0x3412 && ByteSwap32(0x11223344u) == 0x44332211u);
    uint8_t color[8] = {1, 2, 3, 4, 0x10, 0x20, 0x30, 0x40};
    ByteSwapHDRColor(reinterpret_cast<HDRColor*>(color));
    const uint8_t expected[8] = {1, 2, 3, 4, 0x40, 0x30, 0x20, 0x10};
    EXPECT_EQ(0, std::memcmp(color, expected, 8));
    uint32_t three[4] = {0x01020304, 0x05060708, 0x090A0B0C, 0x0D0E0F10};
    ByteSwapVector3(reinterpret_cast<Vector3*>(three));
    EXPECT_TRUE(three[2] == 0x0C0B0A09u && three[3] == 0x0D0E0F10u);  // three floats only
    uint32_t pair[2] = {0x01020304, 0x05060708};
    ByteSwap32Pair(pair);
    EXPECT_TRUE(pair[0] == 0x04030201u && pair[1] == 0x08070605u);
}

}  // namespace
