// The registered property tables of the configuration classes, checked against the
// documented tables: names, order, type ids, flags and default values. These tables
// are the format of "config.bin" and "Project.ConfigBin".
// test-sanitize: address
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/config/ConfigEnums.h"
#include "core/config/GameConfig.h"
#include "core/config/OutlineParams.h"
#include "core/config/ProjectConfig.h"
#include "core/rtti/RTTIProperty.h"

namespace {

struct Expected {
    const char* name;
    uint32_t type;
    uint32_t flags;
    const char* text;  // default as text; null: not checked here (arrays, embedded)
};

constexpr const char* kZeroGuid = "00000000-0000-0000-0000-000000000000";
constexpr const char* kNoBits = "000000000000000000000000";

const Expected kCore[] = {
    {"Connect to external console", 19, 0, "0"},
    {"Break on assert", 19, 0, "0"},
    {"Log frame info", 24, 0x80, "0"},
};

const Expected kEngine[] = {
    {"Repository path", 12, 34, ""},
    {"Mouse sensitivity", 8, 0, "1.000000"},
    {"Invert mouse", 19, 0, "0"},
    {"Input mode", 10, 0, "1"},
    {"Full screen mode", 19, 0, "1"},
    {"Renderer config", 3, 0, nullptr},
    {"Music volume", 8, 0, "-1.000000"},
    {"SFX volume", 8, 0, "-1.000000"},
    {"Voice volume", 8, 0, "-1.000000"},
    {"Port", 10, 0, "9876"},
    {"EnableCloud", 19, 0, "1"},
    {"Text language", 10, 0x80, "12"},
    {"Voice language", 10, 0x80, "1"},
    {"Subtitle mode", 24, 2, "0"},
    {"Render triggers", 19, 0, "0"},
    {"Render pathfinder debug", 19, 0, "0"},
    {"Active configuration profiles", 12, 0, ""},
    {"Try to load templates and textures from Mobile subdir", 19, 0, "0"},
    {"UserGUID established", 19, 0, "0"},
    {"UserGUID", 20, 0, kZeroGuid},
    {"GamePad Control", 6, 0, nullptr},
    {"Mouse Control", 6, 0, nullptr},
    {"Keyboard Control", 6, 0, nullptr},
    {"DIPad Control", 6, 0, nullptr},
    {"Control established", 10, 0, "0"},
    {"Console show commands", 19, 0, "0"},
    {"Key binds", 6, 0, nullptr},
    {"Console history", 3, 0, nullptr},
    {"In game profilers", 25, 0, kNoBits},
    {"Editor profilers", 25, 0, kNoBits},
};

const Expected kRenderer[] = {
    {"MSAA Mode", 10, 0x80, "0"},
    {"GFX quality level", 10, 0x80, "3"},
    {"Semi resolution screen scale", 8, 0, "1.000000"},
    {"Brightness", 8, 0, "0.500000"},
    {"ScreenScaleX", 8, 0, "1.000000"},
    {"ScreenScaleY", 8, 0, "1.000000"},
    {"GPU Sync", 19, 0, "1"},
    {"VSync", 19, 0, "1"},
    {"Enable shadow map", 19, 0, "1"},
    {"Enable shadow map filtering", 19, 0, "1"},
    {"Shadow map size", 10, 0, "2048"},
    {"Enable full screen effects", 19, 0, "1"},
    {"Enable refraction", 19, 0, "1"},
    {"Enable outlines", 19, 0, "1"},
    {"Display shadow debug info", 19, 0, "0"},
    {"Display entity names", 19, 0, "0"},
};

const Expected kGame[] = {
    {"Window width", 10, 0, "800"},
    {"Window height", 10, 0, "500"},
    {"Use container files", 19, 0, "1"},
};

const Expected kProject[] = {
    {"Default scene", 12, 2, ""},
    {"Default asset import scale", 8, 0, "1.000000"},
    {"Executable file name", 12, 0, "Default"},
    {"Language mask", 10, 0, "4294967295"},
    {"Default language", 10, 0x80, "12"},
    {"Font replacement", 6, 0, nullptr},
    {"Default delegate tag", 12, 0, ""},
    {"Store definition file", 12, 0, ""},
    {"Visualization mode", 10, 0x80, "0"},
    {"Distribution tag", 12, 0, ""},
    {"Text language", 10, 0x80, "12"},
    {"Voice language", 10, 0x80, "1"},
    {"Subtitle mode", 10, 0x80, "0"},
    {"Enable controller", 19, 0, "0"},
    {"XBox controller dead zone", 8, 0, "0.250000"},
    {"Editor FOV", 8, 0, "60.000000"},
    {"Editor near plane", 8, 0, "0.010000"},
    {"Editor far plane", 8, 0, "1000.000000"},
    {"Editor helper scale", 8, 0, "1.000000"},
    {"Editor zoom speed scale", 8, 0, "1.000000"},
    {"Filter kernel size", 8, 0, "3.000000"},
    {"Depth bias", 8, 0, "0.010000"},
    {"Slope depth bias", 8, 0, "0.020000"},
    {"Outline", 3, 0, nullptr},
    {"UI outline", 3, 0, nullptr},
    {"Effect softness distance", 8, 0, "2.500000"},
    {"Fake shadows", 19, 0, "1"},
    {"Outlines", 19, 0, "1"},
    {"Post upscale depth/stencil", 19, 0, "0"},
    {"Lightmap texel density", 8, 0, "1.000000"},
    {"Default sound volume", 8, 0, "1.000000"},
    {"Default music volume", 8, 0, "1.000000"},
    {"Default speech volume", 8, 0, "1.000000"},
    {"UI screen width", 8, 0, "1280.000000"},
    {"UI screen height", 8, 0, "720.000000"},
    {"UI screen Z Near Mult", 8, 0, "1.000000"},
    {"UI screen Z Far Mult", 8, 0, "3.000000"},
    {"UI scene param template", 20, 4096, kZeroGuid},
    {"UI prefab path prefix", 12, 0, ""},
    {"Sound pool MB", 10, 0, "7"},
    {"Sound decoders", 10, 0, "16"},
    {"Animation buffer KB", 10, 0, "128"},
    {"World range", 8, 0, "2400.000000"},
    {"World cell", 8, 0, "40.000000"},
    {"Max particles", 10, 0, "8192"},
    {"Particles per system", 10, 0, "1024"},
    {"Particle spawn rate multiplier", 8, 0, "1.000000"},
    {"Particle pausing", 19, 0, "1"},
    {"Collision vertices", 19, 0, "1"},
    {"PC uses mobile settings", 19, 0, "0"},
};

const Expected kOutline[] = {
    {"Color hostile", 22, 0, "255 0 0 255 1.000000"},
    {"Color friendly", 22, 0, "0 255 0 255 1.000000"},
    {"Color neutral", 22, 0, "0 0 255 255 1.000000"},
    {"Color hero", 22, 0, "255 255 255 255 1.000000"},
    {"Dilatation kernel size", 8, 0, "1.000000"},
    {"Softness", 8, 0, "0.500000"},
};

const Expected kKeyBind[] = {{"Key code", 10, 0, "0"}, {"Command string", 12, 0, ""}};
const Expected kControl[] = {{"Primary", 10, 0, "0"}, {"Secondary", 10, 0, "0"}};
const Expected kFont[] = {
    {"Language", 12, 0, "Polish"},  {"Original", 21, 0, ""}, {"Replacement", 21, 0, ""},
    {"Scale", 8, 0, "1.000000"},    {"Granularity", 10, 0, "1"}, {"MaxSize", 10, 0, "0"},
};
const Expected kHistory[] = {{"History", 2, 0, nullptr}, {"Maximum size", 10, 0, "32"}};

template <size_t N>
void CheckTable(const RTTIClass* c, const char* className, const char* baseName, const void* object,
                const Expected (&rows)[N]) {
    SCOPED_TRACE(className);
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c->Name(), className);
    if (baseName) {
        ASSERT_NE(c->Base(), nullptr);
        EXPECT_STREQ(c->Base()->Name(), baseName);
    } else {
        EXPECT_EQ(c->Base(), nullptr);
    }
    ASSERT_EQ(c->PropertyCount(), N);
    for (uint32_t i = 0; i < N; ++i) {
        const RTTIProperty* p = c->PropertyAt(i);
        SCOPED_TRACE(rows[i].name);
        EXPECT_STREQ(p->Name(), rows[i].name);
        EXPECT_EQ(p->TypeId(), rows[i].type);
        EXPECT_EQ(p->Flags(), rows[i].flags);
        if (rows[i].flags & kPropertyFlagEnum) {
            EXPECT_NE(p->Extra(), nullptr);
        }
        if (rows[i].text) {
            char text[256];
            ASSERT_TRUE(p->ToString(object, text, sizeof(text)));
            EXPECT_STREQ(text, rows[i].text);
        }
    }
}

TEST(ConfigTablesTest, EveryClassRegistersItsDocumentedTableWithDefaults) {
    GameConfig game;
    const RTTIClass* gameClass = game.GetRTTIClass();
    CheckTable(gameClass, "GameConfig", "EngineConfig", &game, kGame);
    CheckTable(gameClass->Base(), "EngineConfig", "CoreConfig", &game, kEngine);
    CheckTable(gameClass->Base()->Base(), "CoreConfig", nullptr, &game, kCore);
    CheckTable(game.rendererConfig.GetRTTIClass(), "RendererConfigContainer", nullptr, &game.rendererConfig,
               kRenderer);
    CheckTable(game.consoleHistory.GetRTTIClass(), "StringHistoryContainer", nullptr, &game.consoleHistory, kHistory);

    ProjectConfig project;
    CheckTable(project.GetRTTIClass(), "ProjectConfig", nullptr, &project, kProject);
    CheckTable(OutlineParams::RegisterClass(), "OutlineParams", nullptr, &project.outline, kOutline);
    CheckTable(OutlineParams::RegisterClass(), "OutlineParams", nullptr, &project.uiOutline, kOutline);

    KeyBindDef bind;
    ControlEntry control;
    FontReplacement font;
    CheckTable(KeyBindDef::RegisterClass(), "KeyBindDef", nullptr, &bind, kKeyBind);
    CheckTable(ControlEntry::RegisterClass(), "ControlEntry", nullptr, &control, kControl);
    CheckTable(FontReplacement::RegisterClass(), "FontReplacement", nullptr, &font, kFont);
}

TEST(ConfigTablesTest, WalkOrderAndEnumerationTables) {
    // The walk visits the chain sorted by class name: CoreConfig, EngineConfig,
    // GameConfig; so "Connect to external console" leads every saved game config.
    const RTTIClass* c = GameConfig::RegisterClass();
    ASSERT_EQ(c->ChainCount(), 3u);
    EXPECT_STREQ(c->ChainAt(0)->Name(), "CoreConfig");
    EXPECT_STREQ(c->ChainAt(1)->Name(), "EngineConfig");
    EXPECT_STREQ(c->ChainAt(2)->Name(), "GameConfig");

    const auto* names = static_cast<const char* const*>(c->FindPropertyInChain("Text language")->Extra());
    EXPECT_STREQ(names[0], "Polish");
    EXPECT_STREQ(names[10], "Korean");
    EXPECT_STREQ(names[11], "");
    EXPECT_STREQ(names[12], "Default");
    EXPECT_EQ(names[13], nullptr);
    const auto* log = static_cast<const char* const*>(c->FindPropertyInChain("Log frame info")->Extra());
    EXPECT_STREQ(log[2], "Only when changed");
    const RTTIClass* r = RendererConfigContainer::RegisterClass();
    EXPECT_STREQ(static_cast<const char* const*>(r->FindProperty("GFX quality level")->Extra())[4], "Very high");
    EXPECT_STREQ(static_cast<const char* const*>(r->FindProperty("MSAA Mode")->Extra())[2], "4X");
    const RTTIClass* p = ProjectConfig::RegisterClass();
    EXPECT_STREQ(static_cast<const char* const*>(p->FindProperty("Visualization mode")->Extra())[2], "iPad2");
    EXPECT_STREQ(static_cast<const char* const*>(p->FindProperty("Subtitle mode")->Extra())[2], "Off");
}

TEST(ConfigTablesTest, GameConfigVirtualFlags) {
    GameConfig game;
    EngineConfig engine;
    EXPECT_TRUE(game.GetUseContainerFiles());
    game.useContainerFiles = false;
    EXPECT_FALSE(game.GetUseContainerFiles());
    EXPECT_FALSE(engine.GetUseContainerFiles());
    EXPECT_TRUE(game.IsStandaloneBuild());
    EXPECT_FALSE(engine.IsStandaloneBuild());
    EXPECT_TRUE(game.GetThirdFlag());
    EXPECT_TRUE(engine.GetThirdFlag());
}

}  // namespace
