// The recipe classes' stored format against the independent writer
// (tests/support/recipes.py): every class's default list, a list of non-default values
// read and written back byte for byte, the flags and name tables the layout value takes,
// and UI recipe templates' property lists with and without a recipe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ShellCommand.h"
#include "core/BoundedReader.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/EntityTemplateFiles.h"
#include "ui/recipes/UIElementPreset.h"
#include "ui/recipes/UIRecipeClasses.h"
#include "ui/recipes/UIRecipeTemplate.h"
#include "ui/widgets/UIWidgetRecipes.h"

namespace {

// The bytes recipes.py writes for one of its commands.
std::vector<uint8_t> Recipes(const std::string& command, const std::string& json) {
    static int serial = 0;
    const std::string out = (std::filesystem::temp_directory_path() /
                             ("recipes_" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + ".bin"))
                                .string();
    std::string quoted;
    for (char c : json) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    std::vector<uint8_t> bytes;
    if (!shelltest::Shell("python3 " PROJECT_SOURCE_ROOT "/tests/support/recipes.py " + command + " " + out + " '" +
                          quoted + "'")) {
        ADD_FAILURE() << "recipes.py " << command << " failed on " << json;
        return bytes;
    }
    std::ifstream in(out, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::filesystem::remove(out);
    return bytes;
}

std::vector<uint8_t> Write(const RTTIPolyBaseClass& object) {
    std::vector<uint8_t> out(object.SolidSerialize(nullptr, 0));
    object.SolidSerialize(out.data(), 0);
    return out;
}

std::unique_ptr<RTTIPolyBaseClass> Make(const char* cls) {
    return std::unique_ptr<RTTIPolyBaseClass>(NameRegistry::CreateObject(cls));
}

// Every class with a list of values away from its defaults (its own and inherited ones).
const struct {
    const char* cls;
    const char* values;
} kClasses[] = {
    {"UIElementRecipe",
     R"("Disabled": 2, "Hidden": true, "Name": "Root", "Prefab": "Menus/Common/Back", "Position": [1, 2, 3, 1],
        "Color": [10, 20, 30, 40, 2.5], "Anchor by": 0, "Outline": 1, "Clip children": true,
        "Hierarchical anchor": false, "Presets": [{"Id": "Shown", "Hidden": true, "Scale": [2, 2, 2, 0],
        "ActiveProperties": ["Scale", "Hidden"]}],
        "Children": [{"class": "UIPictureRecipe", "Name": "Pic"}, {"class": "UIScreenRecipe"}])"},
    {"UIPictureRecipe",
     R"("Texture": "", "Clamp V": false, "Shader": "", "Tile count X": 4, "Mapping offset Y": 0.25,
        "Render gathering channel": -1, "CornerColor2": [1, 2, 3, 4, 0.5])"},
    {"UIButtonRecipe", R"("Scale on click": 0.9, "Is active": false, "Shader": "", "Focusable with mouse": false)"},
    {"UIRadioButtonContainerRecipe", R"("Name": "Radio")"},
    {"UITabbedContainerRecipe", R"("Size": [300, 40, 0, 0])"},
    {"UIListRecipe", R"("Clip children": false)"},
    {"UIRoundListRecipe", R"("Range from": -5, "Range to": 99)"},
    {"UITextRecipe",
     R"("Font": "Title", "Font size": 24, "Text": "MENU_TITLE", "Localized": true, "Pixel perfect": 3,
        "Shadow position": [2, 2, 0, 0], "Character spacing": -3, "Line spacing": 1.5, "Wrap text": true)"},
    {"UIUniTextInputRecipe", R"("Max input length": 200, "Font": "Input")"},
    {"UIRoundedRectRecipe", R"("Corner texture": "UI/Round", "Corner radius": 4.5)"},
    {"UITemplateViewRecipe", R"("Template name": "Units/Soldier", "Start immediately": false, "Ortho projection": true)"},
    {"UIScreenRecipe", R"("Disabled": 0, "Name": "Screen")"},
    {"UIClipboardRecipe", R"("Name": "Clip")"},
};

TEST(RecipeLists, EveryClassMatchesTheWriterAndReadsBackByteForByte) {
    for (const auto& c : kClasses) {
        SCOPED_TRACE(c.cls);
        auto object = Make(c.cls);
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(Write(*object), Recipes("recipe", std::string(R"({"class": ")") + c.cls + "\"}"));
        const std::vector<uint8_t> bytes =
            Recipes("recipe", std::string(R"({"class": ")") + c.cls + "\", " + c.values + "}");
        BoundedReader in(bytes.data(), bytes.size());
        EXPECT_EQ(object->SolidDeserialize(in, 0), bytes.size());
        EXPECT_FALSE(in.Failed());
        EXPECT_EQ(Write(*object), bytes);
    }
    UIElementPreset preset;
    EXPECT_EQ(Write(preset), Recipes("preset", "{}"));
}

TEST(RecipeLists, ReadValuesLandInTheirFields) {
    const std::vector<uint8_t> bytes = Recipes("recipe", std::string(R"({"class": "UIElementRecipe", )") + kClasses[0].values + "}");
    UIElementRecipe r;
    BoundedReader in(bytes.data(), bytes.size());
    r.SolidDeserialize(in, 0);
    EXPECT_EQ(r.disabled, UIRECIPE_IN_GAME);
    EXPECT_STREQ(r.prefab.CStr(), "Menus/Common/Back");
    EXPECT_EQ(r.color, HDRColor(10, 20, 30, 40, 2.5f));
    EXPECT_FALSE(r.hierarchicalAnchor);
    EXPECT_TRUE(r.clipChildren);
    ASSERT_EQ(r.presets.Count(), 1u);
    EXPECT_STREQ(r.presets[0]->id.CStr(), "Shown");
    EXPECT_EQ(r.presets[0]->activeProperties.Count(), 2u);
    ASSERT_EQ(r.children.Count(), 2u);
    EXPECT_STREQ(r.children[0]->GetClassName(), "UIPictureRecipe");
    EXPECT_STREQ(r.children[1]->GetClassName(), "UIScreenRecipe");
    EXPECT_EQ(r.children[1]->size, Vector(500, 500, 0, 0));
}

// The flags and extras the class-layout value and the editor take.
TEST(RecipeLists, FlagsAndNameTables) {
    const struct {
        const char* cls;
        const char* property;
        uint32_t flags;
        const char* extra;  // the first name of an enumeration, or the folder
    } cases[] = {
        {"UIElementRecipe", "Disabled", 0x80, "No"},       {"UIElementRecipe", "Position", 64, nullptr},
        {"UIElementRecipe", "Outline", 0x80, "None"},      {"UIElementRecipe", "Name", 0, nullptr},
        {"UIPictureRecipe", "Texture", 0x800, "Textures"}, {"UIPictureRecipe", "Shader", 0x800, "Common\\Shaders"},
        {"UITextRecipe", "Pixel perfect", 0x80, "None"},   {"UITextRecipe", "Shadow position", 0, nullptr},
        {"UIRoundedRectRecipe", "Corner texture", 0x800, "Textures"},
        {"UITemplateViewRecipe", "Template name", 4096, nullptr},
        {"UIElementPreset", "Size", 64, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.cls) + " " + c.property);
        const RTTIClass* cls = RTTIClassRegistry::FindClass(c.cls);
        ASSERT_NE(cls, nullptr);
        const RTTIProperty* p = cls->FindProperty(c.property);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->Flags(), c.flags);
        if (c.extra) {
            EXPECT_STREQ(static_cast<const char*>(p->Extra()), c.extra);
        }
    }
    // The outline names keep their stored spelling.
    const char* names = static_cast<const char*>(RTTIClassRegistry::FindClass("UIElementRecipe")->FindProperty("Outline")->Extra());
    EXPECT_STREQ(names + std::strlen(names) + 1, "Alied");
}

TEST(RecipeLists, TemplatesWithAndWithoutARecipe) {
    const char* recipeJson =
        R"({"guid": "00000000-0000-0000-0000-0000000000A1", "own": {"LayoutViewLoc": [1, 2, 3, 4],
            "LayoutMarginSnapValue": 8}, "recipe": {"Name": "Menu", "Children": [{"class": "UIButtonRecipe",
            "Name": "Start", "Shader": "", "Children": [{"class": "UITextRecipe", "Text": "Go"}]}]}})";
    for (const char* json : {recipeJson, R"({"guid": "00000000-0000-0000-0000-0000000000A2", "recipe": null})"}) {
        SCOPED_TRACE(json);
        const std::vector<uint8_t> file = Recipes("binarytemplate", json);
        UIRecipeTemplate t;
        BoundedReader in(file.data(), file.size());
        ASSERT_TRUE(ReadBinaryTemplate(in, &t));
        EXPECT_EQ(t.typeId, 10u);
        // The template's list (after GUID, type and size) writes back unchanged.
        EXPECT_EQ(Write(t), std::vector<uint8_t>(file.begin() + 24, file.end()));
    }
    const std::vector<uint8_t> with = Recipes("binarytemplate", recipeJson);
    UIRecipeTemplate t;
    BoundedReader in(with.data(), with.size());
    ASSERT_TRUE(ReadBinaryTemplate(in, &t));
    EXPECT_EQ(t.layoutMarginSnapValue, 8);
    ASSERT_TRUE(t.HasRecipe());
    UIElementRecipe* start = t.GetRecipe()->FindSubRecipe(NameString("Start"));
    ASSERT_NE(start, nullptr);
    EXPECT_STREQ(start->GetClassName(), "UIButtonRecipe");
    EXPECT_STREQ(start->children[0]->GetClassName(), "UITextRecipe");

    // Presence byte 0: an empty screen recipe on first use.
    const std::vector<uint8_t> without = Recipes("binarytemplate", R"({"guid": "00000000-0000-0000-0000-0000000000A2"})");
    UIRecipeTemplate empty;
    BoundedReader in2(without.data(), without.size());
    ASSERT_TRUE(ReadBinaryTemplate(in2, &empty));
    EXPECT_FALSE(empty.HasRecipe());
    UIScreenRecipe* r = empty.GetRecipe();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->children.Count(), 0u);
    EXPECT_EQ(r->size, Vector(500, 500, 0, 0));

    std::unique_ptr<Entity> e(empty.CreateEntity());
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->GetRTTIClass()->Name(), "UIRecipeEntity");
    EXPECT_STREQ(empty.GetEntityClassName(), "UIRecipeEntity");
    EXPECT_TRUE(TemplateTypeTable::IsA(ENTITY_UIRECIPE, 0));
    EXPECT_STREQ(TemplateTypeTable::Get()[ENTITY_UIRECIPE].name, "UIRecipeTemplate");
}

// A cut list fails the read; a tree nested deeper than the reader allows fails instead of
// exhausting the stack.
TEST(RecipeLists, CutAndOverDeepListsFailCleanly) {
    const std::vector<uint8_t> bytes = Recipes("recipe", std::string(R"({"class": "UIElementRecipe", )") + kClasses[0].values + "}");
    for (size_t cut = 0; cut < bytes.size(); cut += 7) {
        UIElementRecipe r;
        BoundedReader in(bytes.data(), cut);
        r.SolidDeserialize(in, 0);
        EXPECT_TRUE(in.Failed()) << cut;
    }
    std::string deep = R"({"class": "UIClipboardRecipe"})";
    for (uint32_t i = 0; i < kUIRecipeMaxDepth + 2; ++i) deep = R"({"class": "UIClipboardRecipe", "Children": [)" + deep + "]}";
    const std::vector<uint8_t> tooDeep = Recipes("recipe", deep);
    UIElementRecipe r;
    BoundedReader in(tooDeep.data(), tooDeep.size());
    r.SolidDeserialize(in, 0);
    EXPECT_TRUE(in.Failed());
}

// Stored element classes outside the array's family are refused before their factory
// runs (an entity's factory, say, links the entity into the main thread's lists while
// the list is read on the loader thread).
int gCountedMade = 0;
RTTIClass* gCountedClasses[2] = {};
struct Counted : RTTIPolyBaseClass {
    explicit Counted(int32_t index) : index(index) { ++gCountedMade; }
    const RTTIClass* GetRTTIClass() const override { return gCountedClasses[index]; }
    int32_t index;
};

TEST(RecipeLists, StoredClassesOutsideTheFamilyAreNotMade) {
    // Same lengths as the names they replace.
    const char* const names[2] = {"CountedTestObject", "CountedPresetAB"};
    for (int i = 0; i < 2; ++i)
        if (!gCountedClasses[i])
            CreateRegisteredClass(gCountedClasses[i], names[i], kRTTIRootBaseName,
                                  i == 0 ? [](int32_t) -> RTTIPolyBaseClass* { return new Counted(0); }
                                         : [](int32_t) -> RTTIPolyBaseClass* { return new Counted(1); });
    const struct {
        const char* json;
        std::string stored, replacement;
    } cases[] = {
        {R"({"Children": [{"class": "UIClipboardRecipe"}]})", "UIClipboardRecipe", names[0]},
        {R"({"Presets": [{"Id": "P"}]})", "UIElementPreset", names[1]},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.replacement);
        std::vector<uint8_t> bytes = Recipes("recipe", c.json);
        const auto at = std::search(bytes.begin(), bytes.end(), c.stored.begin(), c.stored.end());
        ASSERT_NE(at, bytes.end());
        ASSERT_EQ(c.replacement.size(), c.stored.size());
        std::copy(c.replacement.begin(), c.replacement.end(), at);
        gCountedMade = 0;
        UIElementRecipe r;
        BoundedReader in(bytes.data(), bytes.size());
        r.SolidDeserialize(in, 0);
        EXPECT_TRUE(in.Failed());
        EXPECT_EQ(gCountedMade, 0);
    }
}

}  // namespace

namespace {

// The text recipe's spacing (lo-res offset up to 640 x 480, the sum clamped) and its
// pixel-perfect flags.
TEST(TextRecipeRules, SpacingAndPixelPerfectFlags) {
    const struct {
        int32_t spacing, offset;
        uint32_t width, height;
        int32_t expected;
    } spacing[] = {
        {2, 3, 640, 480, 5},     {2, 3, 641, 481, 2},      {2, 3, 641, 480, 5},   {2, 3, 1280, 400, 5},
        {999, 5, 320, 200, 1000}, {-999, -5, 320, 200, -1000}, {2147483647, 1, 0, 0, 1000},
    };
    for (const auto& s : spacing) {
        UITextRecipe r;
        r.characterSpacing = s.spacing;
        r.charSpacingLoResOffset = s.offset;
        EXPECT_EQ(r.SpacingFor(s.width, s.height), s.expected) << s.spacing << " " << s.width << "x" << s.height;
    }
    const uint32_t flags[] = {0, 0x60, 0x40, 0x20, 0};
    for (uint8_t mode = 0; mode < 5; ++mode) {
        UITextRecipe r;
        r.pixelPerfect = mode;
        EXPECT_EQ(r.PixelPerfectFlags(), flags[mode]) << int(mode);
    }
}

}  // namespace
