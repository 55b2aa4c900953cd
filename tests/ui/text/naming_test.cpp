// The font table ("Fonts.Config" written by binfont.py) and the font names text
// elements compute from a font, a size, an outline and the language.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "FontTestSupport.h"
#include "core/config/ConfigRecords.h"
#include "core/config/ProjectConfig.h"
#include "ui/text/FontNaming.h"
#include "ui/text/UIFontTable.h"

using namespace fonttest;

namespace {

struct NamingTest : ::testing::Test {
    CommonFolder folder;
    void SetUp() override {
        ASSERT_NE(gUIFontTable, nullptr);
        ASSERT_NE(gProjectConfig, nullptr);
        folder.Write("Fonts.Config",
                     BinFontPy("config", R"([["menu.ttf", 2, [9]], ["_system.ttf", 0, [12, 16, 24]],
                                              ["_system.ttf", 3, [40]]])"));
        ASSERT_TRUE(UIFontTable::Load());
    }
    void TearDown() override {
        gUIFontTable->Free();
        gProjectConfig->fontReplacements.Clear();
    }
    static FontNameResult Name(const char* font, uint32_t size, uint32_t outline = 0, uint32_t language = 1) {
        FontNameRequest r;
        r.fontName = font, r.fontSize = size, r.outlineWidth = outline, r.language = language;
        FontNameResult out;
        EXPECT_TRUE(ComputeFontName(r, &out));
        return out;
    }
};

}  // namespace

TEST(FontSizeStep, QuantisesToTheBuiltSizes) {
    const uint32_t cases[][2] = {{0, 0},     {8, 8},     {9, 8},     {15, 14},   {17, 16},   {20, 20},
                                 {19, 16},   {31, 28},   {33, 30},   {64, 60},   {65, 60},   {127, 120},
                                 {129, 120}, {255, 240}, {256, 255}, {300, 255}, {UINT32_MAX, 255}};
    for (const auto& c : cases) EXPECT_EQ(GetFontSizeStep(c[0]), c[1]) << c[0];
}

TEST_F(NamingTest, TableSnapsSizesAndAMissingFileLeavesNoDefinitions) {
    ASSERT_EQ(gUIFontTable->definitions.Count(), 3u);
    const struct {
        uint32_t size, outline, snapped;
        float scale;
    } cases[] = {{20, 0, 16, 1}, {10, 0, 10, 1}, {60, 0, 24, 2}, {24, 0, 24, 1}, {12, 0, 12, 1},
                 {20, 1, 20, 1},  // no definition of that outline
                 {100, 3, 40, 2}};
    for (const auto& c : cases) {
        float e = 1.0f;
        EXPECT_EQ(gUIFontTable->SnapSize("_system.ttf", c.outline, c.size, &e), c.snapped) << c.size;
        EXPECT_EQ(e, c.scale) << c.size;
    }
    std::filesystem::remove(folder.root + "/Fonts.Config");
    EXPECT_FALSE(UIFontTable::Load());
    EXPECT_EQ(gUIFontTable->definitions.Count(), 0u);
    folder.Write("Fonts.Config", {0xFF, 0, 0, 0, 1});  // a blob longer than the file
    EXPECT_FALSE(UIFontTable::Load());
    EXPECT_EQ(gUIFontTable->definitions.Count(), 0u);
}

TEST_F(NamingTest, NamesSizesOutlinesAndReplacements) {
    const struct {
        const char* font;
        uint32_t size, outline;
        const char* name;
        float scale;
    } cases[] = {
        {"_system.ttf", 12, 0, "_system.ttf~012", 1},  {"_system.ttf", 20, 0, "_system.ttf~016", 1},
        {"_system.ttf", 60, 0, "_system.ttf~024", 2},  {"name", 12, 2, "name#2~012", 1},
        {"other.ttf", 19, 0, "other.ttf~016", 1},      {"other.ttf", 300, 0, "other.ttf~255", 1},
        {"other.ttf", 20, 0, "other.ttf~020", 1},
    };
    for (const auto& c : cases) {
        const FontNameResult r = Name(c.font, c.size, c.outline);
        EXPECT_STREQ(r.resourceName, c.name);
        EXPECT_EQ(r.textScale, c.scale) << c.name;
        EXPECT_FALSE(r.replaced || r.lineBreaking) << c.name;
    }
}

TEST_F(NamingTest, ReplacementsOfTheLanguageNameTheirFileAndBreakCJKLines) {
    for (uint32_t language : {1u, 6u, 7u, 10u, 2u}) {
        FontReplacement f;
        f.language = language;
        f.original = "menu.ttf";
        f.replacement = "cjk.ttf";
        f.scale = 1.5f;
        f.maxSize = 24;
        gProjectConfig->fontReplacements.Add(f);
    }
    const struct {
        uint32_t language, size;
        const char* name;
        float scale;
        bool lineBreaking;
    } cases[] = {
        {1, 12, "cjk.ttf~016_English", 1, false},  // 12 x 1.5 = 18, step 16; the outline is dropped
        {6, 20, "cjk.ttf~024_Japanese", 1.25f, true},  // 30 above the maximum 24
        {7, 12, "cjk.ttf~016_Chinese", 1, true},
        {10, 12, "cjk.ttf~016_Korean", 1, true},
        {2, 12, "cjk.ttf~016_German", 1, false},
        {3, 12, "menu.ttf#2~009", 1, false},  // no replacement for French: the table's 9
    };
    for (const auto& c : cases) {
        const FontNameResult r = Name("menu.ttf", c.size, 2, c.language);
        EXPECT_STREQ(r.resourceName, c.name);
        EXPECT_FLOAT_EQ(r.textScale, c.scale) << c.name;
        EXPECT_EQ(r.lineBreaking, c.lineBreaking) << c.name;
    }
    FontReplacement broken;  // a damaged scale names size 0
    broken.language = 4, broken.original = "menu.ttf", broken.replacement = "cjk.ttf", broken.scale = std::nanf("");
    gProjectConfig->fontReplacements.Add(broken);
    EXPECT_STREQ(Name("menu.ttf", 12, 0, 4).resourceName, "cjk.ttf~000_Italian");
    FontNameRequest ignoring;
    ignoring.fontName = "menu.ttf", ignoring.fontSize = 12, ignoring.language = 6, ignoring.ignoreReplacement = true;
    FontNameResult r;
    ASSERT_TRUE(ComputeFontName(ignoring, &r));
    EXPECT_STREQ(r.resourceName, "menu.ttf~012");
}

TEST_F(NamingTest, PixelPerfectFactorFollowsThePhysicalResolution) {
    FontNameRequest r;
    r.fontName = "other.ttf", r.fontSize = 16, r.pixelPerfect = true, r.uiWidth = 1280, r.uiHeight = 720;
    FontNameResult out;
    ASSERT_TRUE(ComputeFontName(r, &out));  // no resolution yet: f = 1
    EXPECT_STREQ(out.resourceName, "other.ttf~016");
    EXPECT_EQ(out.textScale, 1.0f);
    r.physicalWidth = 2560, r.physicalHeight = 1600;  // f = min(2560 x 720 / 1280, 1600) / 720 = 2
    ASSERT_TRUE(ComputeFontName(r, &out));
    EXPECT_STREQ(out.resourceName, "other.ttf~032");
    EXPECT_EQ(out.textScale, 0.5f);
    const std::string tooLong(400, 'x');
    r.fontName = tooLong.c_str();
    EXPECT_FALSE(ComputeFontName(r, &out));
}
