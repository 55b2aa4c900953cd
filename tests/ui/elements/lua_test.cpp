// test-link: bindings
// test-sources: ../../engine/NumpyReference.cpp ../../bindings/RunnerNatives.cpp ../../bindings/UIFixture.cpp ../../bindings/EntityFixture.cpp
// test-depends: shader_data bindings_call_scripts
// test-sanitize: address
// Elements seen from scripts through the UI package: pushed under their script class,
// dead to the script once released; and the package over real data on the recording
// device: a screen built from a recipe template written by tests/support/recipes.py, text
// in a BinFont from binfont.py, a DDS picture made by ImageMagick, strings from l01n.py;
// the package's generated call script runs over them.
#include <gtest/gtest.h>

#include <lua.hpp>
#include <string>

#include "core/fs/FileSystem.h"

#include "TextTestSupport.h"
#include "bindings/RunnerNatives.h"
#include "bindings/EntityFixture.h"
#include "bindings/UIFixture.h"
#include "engine/entity/EntityTemplateFiles.h"
#include "engine/entity/EntityTemplateRegistry.h"
#include "engine/script/LuaWrapper.h"
#include "ui/elements/UIElement.h"
#include "ui/elements/UIRoundedRect.h"
#include "ui/localisation/StringManager.h"

namespace {

struct UILuaTest : ::testing::Test {
    void SetUp() override { gLua.Init(); }
    void TearDown() override { gLua.Close(); }
    void SetGlobal(const char* name, UIElement* e) {
        gLua.PushObject(e);
        lua_setglobal(gLua.GetState(), name);
    }
    std::string Global(const char* name) {
        lua_getglobal(gLua.GetState(), name);
        const char* s = lua_tostring(gLua.GetState(), -1);
        std::string out = s ? s : "nil";
        lua_pop(gLua.GetState(), 1);
        return out;
    }
};

}  // namespace

TEST_F(UILuaTest, TheScriptsHandleIsDeadAfterRelease) {
    UIElement* e = new UIElement();
    EXPECT_STREQ(e->GetScriptClassName(), "UIElement");
    SetGlobal("E", e);
    ASSERT_TRUE(gLua.ExecuteString("Id = tostring(E:GetId()); E:Hide(); Visible = tostring(E:IsVisible())"));
    EXPECT_EQ(Global("Id"), std::to_string(e->GetId()));
    EXPECT_EQ(Global("Visible"), "false");
    e->Release();
    ASSERT_TRUE(gLua.ExecuteString("Alive = tostring(pcall(function() return E:GetId() end))"));
    EXPECT_EQ(Global("Alive"), "false");
}

TEST_F(UILuaTest, SetLuaClassRenamesTheScriptClass) {
    UIElement* e = new UIElement();
    e->SetLuaClass("NoSuchClass");
    EXPECT_STREQ(e->GetScriptClassName(), "NoSuchClass");
    SetGlobal("F", e);  // an unknown class pushes nil
    ASSERT_TRUE(gLua.ExecuteString("IsNil = tostring(F == nil)"));
    EXPECT_EQ(Global("IsNil"), "true");
    e->Release();
}

namespace {

const char* const kScreenGuid = "00000000-0000-0000-0000-0000000000C1";
const char* const kPlainGuid = "00000000-0000-0000-0000-0000000000C2";

// A screen: a picture with the DDS, a text in the box font, and a group with a child.
const char* const kScreen = R"({"Name": "Screen", "Children": [
  {"class": "UIPictureRecipe", "Name": "Back", "Texture": "UI/Back.dds", "Size": [200, 100, 0, 0]},
  {"class": "UIElementRecipe", "Name": "Group", "Children": [{"Name": "Inner"}]}]})";

struct UIPackageDataTest : texttest::TextFixtureOf<shadertest::ShaderFixture> {
    void SetUp() override {
        TextFixtureOf::SetUp();
        if (HasFatalFailure()) return;
        std::filesystem::create_directories(root + "/templates/UI");
        gFileSystem.MountDirectory("templates", (root + "/templates").c_str());
        gEntityTemplateRegistry.Clear();
        ASSERT_TRUE(MakeTexture("Back", "#ff8000"));
        ASSERT_TRUE(kindstest::WriteRecipeTemplates(root, "Screen", kScreenGuid, kScreen, kPlainGuid));
        ASSERT_TRUE(ReadTemplateInfoFile(gEntityTemplateRegistry));
        gLua.Init();
        ASSERT_NE(gLua.GetState(), nullptr);
        log.Clear();
    }
    void TearDown() override {
        gLua.Close();
        gEntityTemplateRegistry.SetInitialised(true);
        gEntityTemplateRegistry.Shutdown();
        TextFixtureOf::TearDown();
    }
    // tostring of what the chunk returns, or "<error: message>".
    std::string Run(const std::string& chunk) {
        lua_State* L = gLua.GetState();
        if (luaL_loadstring(L, chunk.c_str()) != 0 || lua_pcall(L, 0, 1, 0) != 0) {
            std::string message = std::string("<error: ") + lua_tostring(L, -1) + ">";
            lua_pop(L, 1);
            return message;
        }
        lua_getglobal(L, "tostring");
        lua_insert(L, -2);
        lua_call(L, 1, 1);
        std::string value = lua_tostring(L, -1);
        lua_pop(L, 1);
        return value;
    }
    bool Logged(const std::string& text) {
        for (const auto& m : log.Messages())
            if (m.text.find(text) != std::string::npos) return true;
        return false;
    }
};

}  // namespace

// A tree from a recipe template seen from a script: found by name, its sub-recipes, its
// picture's texture, and the lines of the failures.
TEST_F(UIPackageDataTest, ScriptsBuildTreesFromRecipes) {
    ASSERT_EQ(Run("Tree = UIElement:CreateFromRecipe('UI/Screen', nil) return tolua.type(Tree)"), "UIElement") << [&] {
        std::string all;
        for (const auto& m : log.Messages()) all += m.text + "\n";
        return all;
    }();
    gVornexRenderer.FlushCommands(true);
    const struct {
        const char* chunk;
        const char* expected;
    } cases[] = {
        {"return tolua.type(Tree:FindElementByName('Back'))", "UIPicture"},
        {"return Tree:FindElementByName('Inner'):GetParent():GetName()", "Group"},
        {"return Tree:FindElementByName('Back'):IsUIPicture()", "true"},
        {"local g = UIElement:CreateFromRecipe('UI/Screen', 'Group') local n = g:GetFirstChild():GetName() "
         "g:Release() return n",
         "Inner"},
        {"return UIElement:CreateFromRecipe('UI/Plain', nil)", "nil"},
        {"return UIElement:CreateFromRecipe('UI/Screen', 'Nothing')", "nil"},
        {"return UIElement:CreateFromRecipe('UI/None', nil)", "nil"},
    };
    for (const auto& c : cases) EXPECT_EQ(Run(c.chunk), c.expected) << c.chunk;
    for (const char* line : {"Template [UI/Plain] is not a UI recipe!", "Subrecipe [Nothing] not found",
                             "Recipe [UI/None] not found!"})
        EXPECT_TRUE(Logged(line)) << line;
    // The recipe's picture shows the DDS; one a script makes takes it by name too.
    ASSERT_EQ(Run("Made = UIPicture:new() Tree:AddChild(Made) Made:SetTexture('UI/Back.dds', 0) "
                  "return Tree:FindElementByName('Back') ~= nil"),
              "true");
    gVornexRenderer.FlushCommands(true);
    gVornexRenderer.WaitForResourceJobs(1);
    for (const char* name : {"Back", "Made"}) {
        lua_State* L = gLua.GetState();
        luaL_loadstring(L, name == std::string("Back") ? "return Tree:FindElementByName('Back')" : "return Made");
        lua_call(L, 0, 1);
        auto* picture = static_cast<UIPicture*>(*static_cast<void**>(lua_touserdata(L, -1)));
        lua_pop(L, 1);
        ASSERT_NE(picture, nullptr) << name;
        EXPECT_NE(picture->TextureResource(0), nullptr) << name;
    }
    EXPECT_EQ(Run("local b = Tree:FindElementByName('Back') Tree:Release() return (pcall(function() return b.GetId end))"),
              "false");
}

// Text in a BinFont measured from a script: the font of the constructor's size, and the
// widths of the box font's glyphs.
TEST_F(UIPackageDataTest, ScriptsMeasureTextInItsFont) {
    const struct {
        const char* chunk;
        float expected;
    } cases[] = {
        {"return T:GetTextWidth('AB')", texttest::BoxWidth(u"AB", false)},
        {"return T:GetTextWidth('A')", texttest::BoxWidth(u"A", false)},
        {"return T:GetFontHeight()", texttest::kBoxLine},
        {"local v = Vector:Instance() T:GetTextSize('AB', v) return v.x", texttest::BoxWidth(u"AB", false)},
    };
    ASSERT_EQ(Run("S = UIScreen:new() T = UIText:new('AB', 'boxes.ttf', 20) S:AddChild(T) return T:IsUITextBase()"),
              "true");
    for (const auto& c : cases) {
        const std::string got = Run(c.chunk);
        EXPECT_FLOAT_EQ(std::stof(got.c_str()[0] == '<' ? "-1" : got), c.expected) << c.chunk << " " << got;
    }
    Run("S:Release()");
}

// The package's call script (tests/bindings/gen_calls.py), its fresh objects made over the
// data: screens holding the recipe's tree, text in the box font, pictures with the DDS.
TEST_F(UIPackageDataTest, TheCallScriptRunsOverRealData) {
    ASSERT_TRUE(rendertest::Shell("python3 " PROJECT_SOURCE_ROOT "/tests/support/l01n.py " + root +
                                  "/common/L01n.bin '{\"strings\": [{\"path\": \"text\", \"texts\": "
                                  "{\"English\": \"Hello\"}}]}'"));
    const bool ownStrings = !gStringManager;
    if (ownStrings) gStringManager = new StringManager();
    EXPECT_TRUE(gStringManager->LoadCompiledStrings());
    lua_State* L = gLua.GetState();
    OpenRunnerNatives(L, &log);
    OpenUIFixture(L);
    OpenEntityFixture(L);  // the entities entity tracking follows
    ASSERT_EQ(Run(R"(
        Holder = UIElement:new()
        local function Held(e) Holder:AddChild(e) return e end
        Fixture.UIScreen = function()
            local s = Held(UIScreen:new())
            s:AddChild(UIElement:CreateFromRecipe('UI/Screen', nil))
            return s
        end
        Fixture.UIText = function() return Held(UIText:new('AB', 'boxes.ttf', 20)) end
        Fixture.UITextBase = Fixture.UIText
        Fixture.UIPicture = function()
            local p = Held(UIPicture:new())
            p:SetTexture('UI/Back.dds', 0)
            return p
        end
        return Fixture.UIScreen():FindElementByName('Back') ~= nil)"),
              "true");
    for (const char* file : {PROJECT_SOURCE_ROOT "/tests/bindings/lua/assert.lua",
                             PROJECT_BINARY_ROOT "/tests/bindings/calls/UI_calls.lua"}) {
        ASSERT_EQ(luaL_loadfile(L, file), 0) << file;
        ASSERT_EQ(lua_pcall(L, 0, 0, 0), 0) << lua_tostring(L, -1);
    }
    lua_getglobal(L, "RunTests");
    ASSERT_EQ(lua_pcall(L, 0, 3, 0), 0) << lua_tostring(L, -1);
    EXPECT_GT(lua_tonumber(L, -3), 0);
    EXPECT_EQ(lua_tonumber(L, -2), 0);
    for (int i = 1; i <= int(lua_objlen(L, -1)); ++i) {
        lua_rawgeti(L, -1, i);
        ADD_FAILURE() << lua_tostring(L, -1);
        lua_pop(L, 1);
    }
    lua_pop(L, 3);
    Run("Holder:Release()");
    gLua.Close();
    DestroyRunnerProbes();
    CloseEntityFixture();
    CloseUIFixture();
    if (ownStrings) {
        delete gStringManager;
        gStringManager = nullptr;
    }
}

// A rounded rectangle made by a script: its last picture's shader flag is the first
// constructor argument, true unless given, with the shader of the empty option string.
TEST_F(UIPackageDataTest, RoundedRectanglesTakeTheirDefaults) {
    const struct {
        const char* chunk;
        bool flushAfter;
    } cases[] = {
        {"return UIRoundedRect:new()", true},
        {"return UIRoundedRect:new(false)", false},
        {"return UIRoundedRect:new(true, '')", true},
    };
    for (const auto& c : cases) {
        lua_State* L = gLua.GetState();
        ASSERT_EQ(luaL_loadstring(L, c.chunk), 0);
        lua_call(L, 0, 1);
        auto* rect = static_cast<UIRoundedRect*>(*static_cast<void**>(lua_touserdata(L, -1)));
        lua_pop(L, 1);
        ASSERT_NE(rect, nullptr) << c.chunk;
        screen->AddChild(rect);
        gVornexRenderer.FlushCommands(true);
        const UIPicture* last = rect->Picture(UIRoundedRect::kPictures - 1);
        bool flushAfter = !c.flushAfter;
        bool shaded = false;
        OnRender([&] {
            flushAfter = last->PictureRender().flushAfter;
            shaded = last->PictureRender().pixelShader != nullptr;
        });
        EXPECT_EQ(flushAfter, c.flushAfter) << c.chunk;
        EXPECT_TRUE(shaded) << c.chunk;
    }
}
