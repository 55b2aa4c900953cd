// test-link: bindings
// test-sanitize: address
// Elements seen from scripts through the UI package: pushed under their script class,
// and dead to the script once released.
#include <gtest/gtest.h>

#include <lua.hpp>

#include "engine/script/LuaWrapper.h"
#include "ui/elements/UIElement.h"

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
