// ProjectConfig: "Project.ConfigBin" blobs made by the writer and, independently,
// byte by byte from the documented property table; the font-replacement language
// mapping; tuning values; FindFontReplacement; the language hook and listeners.
// test-sanitize: address
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "ConfigFolder.h"
#include "core/config/ConfigEnums.h"
#include "core/config/ProjectConfig.h"
#include "core/rtti/RTTIProperty.h"
#include "core/rtti/SolidBlob.h"

namespace {

// Little-endian byte writer following the binary forms of the property types.
struct Bytes {
    std::vector<uint8_t> b;
    void U8(uint8_t v) { b.push_back(v); }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void F32(float f) {
        uint32_t v;
        std::memcpy(&v, &f, 4);
        U32(v);
    }
    void Bool(bool v) { U8(v ? 1 : 0); }
    void Str(const char* s) {  // type 12: characters and NUL
        b.insert(b.end(), s, s + std::strlen(s) + 1);
    }
    void Name(const char* s) {  // type 21: 0, or 1 + characters + NUL
        if (!*s) return U8(0);
        U8(1);
        Str(s);
    }
    void Guid(uint8_t first) {
        for (uint8_t i = 0; i < 16; ++i) U8(static_cast<uint8_t>(first + i));
    }
    void Color(uint8_t r, uint8_t g, uint8_t bl, uint8_t a, float i) {
        U8(r), U8(g), U8(bl), U8(a);
        F32(i);
    }
};

// A "Project.ConfigBin" written field by field in the documented order, with
// values away from the defaults.
std::vector<uint8_t> HandMadeProjectConfigBin() {
    Bytes p;
    p.Str("scenes/menu");   // Default scene
    p.F32(0.5f);            // Default asset import scale
    p.Str("Quorvel.exe");   // Executable file name
    p.U32(0x7FF);           // Language mask
    p.U32(2);               // Default language
    p.U32(2);               // Font replacement: two records
    p.Str("Japanese"), p.Name("arial"), p.Name("MSGothic"), p.F32(1.25f), p.U32(2), p.U32(48);
    p.Str("Klingon"), p.Name("verdana"), p.Name(""), p.F32(0.5f), p.U32(4), p.U32(0);
    p.Str("tag_a");         // Default delegate tag
    p.Str("");              // Store definition file
    p.U32(2);               // Visualization mode
    p.Str("steam");         // Distribution tag
    p.U32(4), p.U32(5), p.U32(2);  // Text language, Voice language, Subtitle mode
    p.Bool(true);           // Enable controller
    for (float f : {0.3f, 70.0f, 0.1f, 500.0f, 2.0f, 3.0f, 5.0f, 0.05f, 0.06f}) p.F32(f);  // dead zone .. slope bias
    p.Color(1, 2, 3, 4, 1.5f), p.Color(5, 6, 7, 8, 2.0f), p.Color(9, 10, 11, 12, 2.5f), p.Color(13, 14, 15, 16, 3.0f);
    p.F32(2.0f), p.F32(0.25f);  // Outline
    p.Color(20, 21, 22, 23, 1.0f), p.Color(24, 25, 26, 27, 1.0f), p.Color(28, 29, 30, 31, 1.0f),
        p.Color(32, 33, 34, 35, 1.0f);
    p.F32(3.0f), p.F32(0.75f);  // UI outline
    p.F32(4.5f);             // Effect softness distance
    p.Bool(false), p.Bool(false), p.Bool(true);  // Fake shadows, Outlines, Post upscale
    for (float f : {2.0f, 0.9f, 0.8f, 0.7f, 1920.0f, 1080.0f, 1.5f, 4.0f}) p.F32(f);  // texel density .. Z far
    p.Guid(0xA0);            // UI scene param template
    p.Str("UI/Prefabs/");    // UI prefab path prefix
    p.U32(12), p.U32(24), p.U32(256);  // Sound pool MB, Sound decoders, Animation buffer KB
    p.F32(3000.0f), p.F32(50.0f);      // World range, World cell
    p.U32(4096), p.U32(512);           // Max particles, Particles per system
    p.F32(0.5f);                       // Particle spawn rate multiplier
    p.Bool(false), p.Bool(false), p.Bool(false);  // pausing, collision vertices, mobile settings
    Bytes blob;
    blob.U32(static_cast<uint32_t>(p.b.size()));
    blob.b.insert(blob.b.end(), p.b.begin(), p.b.end());
    return blob.b;
}

bool Same(const HDRColor& c, uint8_t r, uint8_t g, uint8_t b, uint8_t a, float i) {
    return c == HDRColor(r, g, b, a, i);
}

TEST(ProjectConfigTest, HandMadeBlobLoadsFieldByField) {
    const std::vector<uint8_t> bin = HandMadeProjectConfigBin();
    ProjectConfig c;
    ASSERT_TRUE(SolidDeserializeFromBuffer(c, bin.data(), bin.size(), 0));
    // A few fields at telling places: first, inside the records and the embedded
    // objects, last. The writer's round trip below covers the order of the rest.
    EXPECT_STREQ(c.defaultScene, "scenes/menu");
    EXPECT_EQ(c.languageMask, 0x7FFu);
    ASSERT_EQ(c.fontReplacements.Count(), 2u);
    const FontReplacement& f0 = c.fontReplacements[0];
    EXPECT_EQ(f0.language, 6u);
    EXPECT_STREQ(f0.original.CStr(), "arial");
    EXPECT_STREQ(f0.replacement.CStr(), "MSGothic");
    EXPECT_EQ(f0.scale, 1.25f);
    EXPECT_EQ(f0.maxSize, 48u);
    EXPECT_EQ(c.fontReplacements[1].language, kLanguageNone);
    EXPECT_EQ(c.storeDefinitionFile, nullptr);
    EXPECT_EQ(c.slopeDepthBias, 0.06f);
    EXPECT_TRUE(Same(c.outline.colorHostile, 1, 2, 3, 4, 1.5f));
    EXPECT_TRUE(Same(c.uiOutline.colorHero, 32, 33, 34, 35, 1.0f));
    EXPECT_EQ(c.uiOutline.softness, 0.75f);
    EXPECT_EQ(c.uiSceneParamTemplate.bytes[15], 0xAF);
    EXPECT_STREQ(c.uiPrefabPathPrefix, "UI/Prefabs/");
    EXPECT_EQ(c.particleSpawnRateMultiplier, 0.5f);
    EXPECT_FALSE(c.pcUsesMobileSettings);

    // The writer gives back the same bytes, the unknown language now the empty name.
    std::vector<uint8_t> again;
    SolidSerializeToBuffer(c, again, 0);
    std::vector<uint8_t> expected = bin;
    const std::string klingon("Klingon");
    auto at = std::search(expected.begin(), expected.end(), klingon.begin(), klingon.end());
    ASSERT_NE(at, expected.end());
    expected.erase(at, at + static_cast<std::ptrdiff_t>(klingon.size()));
    const uint32_t n = static_cast<uint32_t>(expected.size() - 4);
    std::memcpy(expected.data(), &n, 4);
    EXPECT_EQ(again, expected);
}

TEST(ProjectConfigTest, FontReplacementLanguageIsReadAndWrittenByName) {
    FontReplacement f;
    EXPECT_EQ(f.language, 0u);
    const RTTIProperty* p = FontReplacement::RegisterClass()->FindProperty("Language");
    ASSERT_NE(p, nullptr);
    struct Case {
        const char* in;
        uint32_t index;
        const char* out;
    } cases[] = {{"english", 1, "English"}, {"KOREAN", 10, "Korean"}, {"polish", 0, "Polish"},
                 {"Default", kLanguageNone, ""}, {"Elvish", kLanguageNone, ""}, {"", kLanguageNone, ""}};
    for (const Case& c : cases) {
        char text[64];
        ASSERT_TRUE(p->FromString(&f, c.in));
        EXPECT_EQ(f.language, c.index) << c.in;
        p->ToString(&f, text, sizeof(text));
        EXPECT_STREQ(text, c.out);
    }
    for (uint32_t index : {12u, 0xFFFFFFFFu}) {
        f.language = index;
        EXPECT_STREQ(LanguageNameFromIndex(index), "");
    }
    // The empty name is written as the single byte 0 and reads back as index 11.
    uint8_t one = 0xEE;
    EXPECT_EQ(p->WriteBinary(&one, &f, 0), 1u);
    EXPECT_EQ(one, 0);
    EXPECT_EQ(LanguageIndexFromName(nullptr), kLanguageNone);
    EXPECT_STREQ(LanguageNameFromIndex(9), "Portuguese");
}

TEST(ProjectConfigTest, TuningValuesAreFixedUnlessMobileSettingsAreUsed) {
    ProjectConfig c;
    c.soundPoolMB = 1, c.soundDecoders = 2, c.animationBufferKB = 3, c.worldRange = 4.0f, c.worldCell = 5.0f;
    c.maxParticles = 8192, c.particlesPerSystem = 7, c.particlePausing = false, c.collisionVertices = false;
    c.particleSpawnRateMultiplier = 9.0f;
    auto tuning = [&c] {
        char s[160];
        std::snprintf(s, sizeof s, "%u %u %u %g %g %u %u %d %d %g", c.GetSoundPoolMB(), c.GetSoundDecoders(),
                      c.GetAnimationBufferKB(), c.GetWorldRange(), c.GetWorldCell(), c.GetMaxParticles(),
                      c.GetParticlesPerSystem(), c.GetParticlePausing(), c.GetCollisionVertices(),
                      c.GetParticleSpawnRateMultiplier());
        return std::string(s);
    };
    EXPECT_EQ(tuning(), "32 64 1024 2400 40 262144 65536 1 1 1");
    c.pcUsesMobileSettings = true;
    EXPECT_EQ(tuning(), "1 2 3 4 5 8192 7 0 0 9");
}

TEST(ProjectConfigTest, FindFontReplacementTakesTheFirstMatchOrTheNameItself) {
    ProjectConfig c;
    FontReplacement a;
    a.language = 6;
    a.SetOriginal("Arial");
    a.replacement = "Gothic";
    a.scale = 1.5f;
    a.granularity = 3;
    a.maxSize = 40;
    FontReplacement b = a;
    b.replacement = "Second";
    c.fontReplacements.Add(a);
    c.fontReplacements.Add(b);

    NameString name;
    float scale = 0;
    uint32_t granularity = 0, maxSize = 9;
    EXPECT_TRUE(c.FindFontReplacement(6, "arial", &name, &scale, &granularity, &maxSize));
    EXPECT_STREQ(name.CStr(), "Gothic");
    EXPECT_EQ(scale, 1.5f);
    EXPECT_EQ(granularity, 3u);
    EXPECT_EQ(maxSize, 40u);
    EXPECT_TRUE(c.FindFontReplacement(6, "ARIAL", &name, nullptr, nullptr, nullptr));

    EXPECT_FALSE(c.FindFontReplacement(7, "Arial", &name, &scale, &granularity, &maxSize));
    EXPECT_STREQ(name.CStr(), "Arial");
    EXPECT_EQ(scale, 1.0f);
    EXPECT_EQ(granularity, 1u);
    EXPECT_EQ(maxSize, 0u);
}

int gLanguageSelections = 0;
void CountSelection() { ++gLanguageSelections; }
std::vector<std::string> gHeard;
void Listen(const char* name, void* context) {
    gHeard.push_back(std::string(static_cast<const char*>(context)) + ":" + (name ? name : "(all)"));
}
void ListenOnce(const char* name, void* context) {
    static_cast<ProjectConfig*>(context)->RemoveListener(&ListenOnce, context);
    gHeard.push_back("once");
}

TEST(ProjectConfigTest, PropertyChangeSelectsTheLanguageThenCallsListeners) {
    ProjectConfig c;
    SetLanguageSelectionHook(&CountSelection);
    gLanguageSelections = 0;
    gHeard.clear();
    static char a[] = "a";
    static char b[] = "b";
    c.AddListener(&Listen, a);
    c.AddListener(&ListenOnce, &c);
    c.AddListener(&Listen, b);

    c.OnPropertyChanged("Default language");
    EXPECT_EQ(gLanguageSelections, 1);
    c.OnPropertyChanged(nullptr);
    EXPECT_EQ(gLanguageSelections, 2);
    c.OnPropertyChanged("UI scene param template");
    EXPECT_EQ(gLanguageSelections, 2);
    const std::vector<std::string> expected = {"a:Default language", "once", "b:Default language",
                                               "a:(all)",            "b:(all)", "a:UI scene param template",
                                               "b:UI scene param template"};
    EXPECT_EQ(gHeard, expected);

    c.RemoveListener(&Listen, a);
    gHeard.clear();
    c.OnPropertyChanged("Outlines");
    EXPECT_EQ(gHeard, std::vector<std::string>{"b:Outlines"});
    SetLanguageSelectionHook(nullptr);
}

TEST(ProjectConfigTest, ReleaseDataFreesStringsAndFonts) {
    ProjectConfig c;
    RTTIValueStore<char*>::Assign(c.distributionTag, const_cast<char*>("x"));
    c.fontReplacements.Resize(3);
    c.ReleaseData();
    EXPECT_EQ(c.distributionTag, nullptr);
    EXPECT_EQ(c.executableFileName, nullptr);
    EXPECT_EQ(c.fontReplacements.Count(), 0u);
}

}  // namespace

namespace {

TEST(ProjectConfigFileTest, ProjectConfigBinLoadsFromTheCommonMount) {
    ConfigFolder common("common");
    ASSERT_TRUE(common.Mounted());
    CaptureLogSink sink;
    sink.Attach();

    // Made byte by byte from the documented table.
    common.Write("Project.ConfigBin", HandMadeProjectConfigBin());
    ProjectConfig c;
    ASSERT_TRUE(c.Load());
    EXPECT_STREQ(c.defaultScene, "scenes/menu");
    ASSERT_EQ(c.fontReplacements.Count(), 2u);
    EXPECT_STREQ(c.fontReplacements[0].replacement.CStr(), "MSGothic");
    EXPECT_TRUE(Same(c.uiOutline.colorFriendly, 24, 25, 26, 27, 1.0f));
    EXPECT_EQ(c.maxParticles, 4096u);
    EXPECT_EQ(c.GetMaxParticles(), 0x40000u);

    // Made by the writer from a hand-built object.
    ProjectConfig built;
    built.languageMask = 3;
    built.fontReplacements.Resize(1);
    built.fontReplacements[0].SetOriginal("Tahoma");
    built.fontReplacements[0].language = 10;
    built.uiScreenWidth = 1600.0f;
    ASSERT_TRUE(built.SaveToFile(kProjectConfigFileName, kProjectConfigFileExtension, kProjectConfigDirectory, 0));
    ProjectConfig back;
    ASSERT_TRUE(back.Load());
    EXPECT_TRUE(built.GetRTTIClass()->PropertiesEqual(&built, &back));
    EXPECT_EQ(back.languageMask, 3u);
    EXPECT_EQ(back.fontReplacements[0].language, 10u);
    EXPECT_STREQ(back.fontReplacements[0].original.CStr(), "tahoma");
    EXPECT_EQ(back.uiScreenWidth, 1600.0f);

    // A payload cut short behind a matching size word fails and changes nothing.
    std::vector<uint8_t> resized = HandMadeProjectConfigBin();
    resized.resize(resized.size() - 40);
    const uint32_t shorter = static_cast<uint32_t>(resized.size() - 4);
    std::memcpy(resized.data(), &shorter, 4);
    common.Write("Project.ConfigBin", resized);
    sink.Clear();
    EXPECT_FALSE(back.Load());
    EXPECT_TRUE(built.GetRTTIClass()->PropertiesEqual(&built, &back));

    // A truncated file fails without reading past its end; a missing one is logged.
    std::vector<uint8_t> cut = HandMadeProjectConfigBin();
    cut.resize(cut.size() / 2);
    common.Write("Project.ConfigBin", cut);
    ProjectConfig partial;
    EXPECT_FALSE(partial.Load());
    std::filesystem::remove(common.File("Project.ConfigBin"));
    sink.Clear();
    EXPECT_FALSE(partial.Load());
    EXPECT_TRUE(sink.Contains("ProjectConfig::Load - cannot open common/Project.ConfigBin"));
}

}  // namespace
