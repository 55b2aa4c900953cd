// test-sanitize: address
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "CaptureLogSink.h"
#include "ConfigFolder.h"
#include "core/CRC32.h"
#include "core/config/ConfigEnums.h"
#include "core/config/GameConfig.h"
#include "core/config/OutlineParams.h"
#include "core/config/ProjectConfig.h"
#include "core/rtti/RTTIProperty.h"

namespace {

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
    for (uint32_t index : {12u, 0xFFFFFFFFu}) EXPECT_STREQ(LanguageNameFromIndex(index), "");
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
    a.SetOriginal("Arial");
    a.language = 6, a.replacement = "Gothic", a.scale = 1.5f, a.granularity = 3, a.maxSize = 40;
    FontReplacement b = a;
    b.replacement = "Second";
    c.fontReplacements.Add(a), c.fontReplacements.Add(b);

    NameString name;
    float scale = 0;
    uint32_t granularity = 0, maxSize = 9;
    auto found = [&] { return std::string(name.CStr()) + " " + std::to_string(scale) + " " + std::to_string(granularity) + " " + std::to_string(maxSize); };
    EXPECT_TRUE(c.FindFontReplacement(6, "arial", &name, &scale, &granularity, &maxSize));
    EXPECT_EQ(found(), "Gothic 1.500000 3 40");
    EXPECT_TRUE(c.FindFontReplacement(6, "ARIAL", &name, nullptr, nullptr, nullptr));
    EXPECT_FALSE(c.FindFontReplacement(7, "Arial", &name, &scale, &granularity, &maxSize));
    EXPECT_EQ(found(), "Arial 1.000000 1 0");
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

    std::string selections;  // after each change
    for (const char* name : {"Default language", static_cast<const char*>(nullptr), "UI scene param template"})
        c.OnPropertyChanged(name), selections += std::to_string(gLanguageSelections);
    EXPECT_EQ(selections, "122");
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

TEST(ProjectConfigFileTest, ProjectConfigBinLoadsFromTheCommonMount) {
    ConfigFolder common("common");
    ASSERT_TRUE(common.Mounted());
    CaptureLogSink sink;
    sink.Attach();

    // Values away from the defaults in the records and the embedded objects too.
    ProjectConfig built;
    built.languageMask = 3, built.uiScreenWidth = 1600.0f, built.maxParticles = 4096;
    built.fontReplacements.Resize(2);
    built.fontReplacements[0].SetOriginal("Tahoma");
    built.fontReplacements[0].language = 10, built.fontReplacements[1].language = kLanguageNone;
    built.outline.colorHostile = HDRColor(1, 2, 3, 4, 1.5f), built.uiOutline.softness = 0.75f;
    ASSERT_TRUE(built.SaveToFile(kProjectConfigFileName, kProjectConfigFileExtension, kProjectConfigDirectory, 0));
    ProjectConfig back;
    ASSERT_TRUE(back.Load());
    EXPECT_TRUE(built.GetRTTIClass()->PropertiesEqual(&built, &back));
    EXPECT_EQ(back.fontReplacements[1].language, kLanguageNone);
    EXPECT_STREQ(back.fontReplacements[0].original.CStr(), "tahoma");

    // A payload cut short behind a matching size word fails and changes nothing.
    std::vector<uint8_t> resized = common.Read("Project.ConfigBin");
    ASSERT_GT(resized.size(), 44u);
    resized.resize(resized.size() - 40);
    const uint32_t shorter = static_cast<uint32_t>(resized.size() - 4);
    std::memcpy(resized.data(), &shorter, 4);
    common.Write("Project.ConfigBin", resized);
    EXPECT_FALSE(back.Load());
    EXPECT_TRUE(built.GetRTTIClass()->PropertiesEqual(&built, &back));

    // A truncated file fails without reading past its end; a missing one is logged.
    resized.resize(resized.size() / 2);
    common.Write("Project.ConfigBin", resized);
    ProjectConfig partial;
    EXPECT_FALSE(partial.Load());
    std::filesystem::remove(common.File("Project.ConfigBin"));
    sink.Clear();
    EXPECT_FALSE(partial.Load());
    EXPECT_TRUE(sink.Contains("ProjectConfig::Load - cannot open common/Project.ConfigBin"));
}

}  // namespace

// The registered property tables of the configuration classes are the format of
// "config.bin" and "Project.ConfigBin". Each table (class and base names, and per
// property its name, type id, flags, default as text and enumeration names) is folded
// into one CRC-32 and compared with the value taken when the tables were checked entry
// by entry against the design; a changed row anywhere changes the digest.
namespace {

std::string Describe(const RTTIClass* c, const void* object) {
    std::string s = std::string(c->Name()) + "<" + (c->Base() ? c->Base()->Name() : "") + ">";
    for (uint32_t i = 0; i < c->PropertyCount(); ++i) {
        const RTTIProperty* p = c->PropertyAt(i);
        char text[256] = "-";
        if (p->IsTyped()) p->ToString(object, text, sizeof text);
        s += "|" + std::string(p->Name()) + "," + std::to_string(p->TypeId()) + "," + std::to_string(p->Flags()) + "," +
             text;
        if (p->Flags() & kPropertyFlagEnum)
            for (auto* names = static_cast<const char* const*>(p->Extra()); *names; ++names) s += std::string(",") + *names;
    }
    return s;
}

uint32_t Digest(const RTTIClass* c, const void* object) {
    const std::string s = Describe(c, object);
    return CRC32::GetDefault().Compute(s.data(), static_cast<uint32_t>(s.size()));
}

TEST(ConfigTablesTest, EveryTableMatchesItsCheckedDigest) {
    GameConfig game;
    ProjectConfig project;
    KeyBindDef bind;
    ControlEntry control;
    FontReplacement font;
    const RTTIClass* gameClass = game.GetRTTIClass();
    struct Case {
        const RTTIClass* cls;
        const void* object;
        uint32_t digest;
    } cases[] = {
        {gameClass, &game, 0x2DFDFABBu},
        {gameClass->Base(), &game, 0xBA4DD3CBu},
        {gameClass->Base()->Base(), &game, 0xCC4A84FEu},
        {game.rendererConfig.GetRTTIClass(), &game.rendererConfig, 0x6DD9B7E3u},
        {game.consoleHistory.GetRTTIClass(), &game.consoleHistory, 0xE7569FC1u},
        {project.GetRTTIClass(), &project, 0x4CF6B142u},
        {OutlineParams::RegisterClass(), &project.outline, 0x7EA20BE6u},
        {OutlineParams::RegisterClass(), &project.uiOutline, 0x7EA20BE6u},
        {KeyBindDef::RegisterClass(), &bind, 0x7B2F58C1u},
        {ControlEntry::RegisterClass(), &control, 0xEC6B4DF4u},
        {FontReplacement::RegisterClass(), &font, 0x3821DCE9u},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.cls, nullptr);
        EXPECT_EQ(Digest(c.cls, c.object), c.digest) << Describe(c.cls, c.object);
    }
}

}  // namespace
