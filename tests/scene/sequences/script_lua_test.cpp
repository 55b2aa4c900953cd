// test-lua-package: SequenceTestPackage.pkg
// test-sanitize: address
// The action factory, the spawner and the inspection functions reached from Lua through
// the globals the script host publishes.
#include <lua.hpp>

#include "SequenceTestSupport.h"
#include "engine/script/LuaBindings.h"
#include "engine/script/LuaWrapper.h"
#include "scene/startup/SceneStaticInit.h"

int tolua_SequenceTestPackage_open(lua_State* state);

using namespace seqtest;

namespace {

class SequenceLuaTest : public SequenceTest {
protected:
    static void SetUpTestSuite() { RegisterLuaBindingPackage(LUA_PACKAGE_ENGINE_CORE, &tolua_SequenceTestPackage_open); }
    void SetUp() override {
        SequenceTest::SetUp();
        InstallSceneHooks();
        gLua.Init();
    }
    void TearDown() override {
        gLua.Close();
        SequenceTest::TearDown();
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

TEST_F(SequenceLuaTest, DeclareSpawnAndInspectFromLua) {
    ASSERT_TRUE(gLua.ExecuteString(R"(
        local f = gSequenceActionFactory
        local i = f:RegisterLuaSequenceActionClass("LuaSay", "SequenceAction", false, "Target")
        f:AddLuaSequenceActionParam(i, "Text", "string")
        f:AddLuaSequenceActionParam(i, "Volume", "float")
        f:AddLuaSequenceActionParam(i, "Count", "int")
        f:AddLuaSequenceActionParam(i, "Loud", "bool")
        f:AddSequenceActionLookupParamName(i, "Text")
        Same = tostring(f:RegisterLuaSequenceActionClass("LuaSay", "", true) == i)
        Builtin = tostring(f:RegisterLuaSequenceActionClass("SequenceActionRaiseSemaphore", "", true))
        Taken = tostring(f:RegisterLuaSequenceActionClass("SequenceActionSemaphore", "", true))
        f:RegisterLuaSequenceActionClass("LuaSequenceActionWait", "SequenceAction", false)

        local s = gSequenceSpawner
        s:BeginSequenceSpawn("FromLua")
        s:AppendTrack("Main")
        s:AppendAction("LuaSay")
        s:AppendActionParam("Count", "5")
        s:AppendActionParam("Text", "hello")
        s:AppendActionParam("Time", "0")
        s:AppendAction("LuaSequenceActionWait")
        s:AppendActionParam("Time", "2")
        s:AppendAction("SequenceActionRaiseGlobalSemaphore")
        s:AppendActionParam("Semaphore", "done")
        Missing = tostring(s:AppendAction("NoSuchAction"))
        s:EndSequenceSpawn()

        local q = gSequenceSystem
        local n = q:GetSequenceIndex("FromLua")
        local parts = {}
        for p = 0, q:GetParamCount(n, 0, 0) - 1 do
            parts[#parts + 1] = q:GetParamName(n, 0, 0, p) .. ":" .. q:GetParamType(n, 0, 0, p)
        end
        Params = table.concat(parts, " ")
        Values = q:GetIntParamValue(n, 0, 0, 2) .. " " .. q:GetStringParamValue(n, 0, 0, 0) .. " " ..
                 tostring(q:GetBoolParamValue(n, 0, 0, 3)) .. " " .. tostring(q:GetStringParamValue(n, 0, 0, 2)) .. " " .. q:GetTracksCount(n) .. " " ..
                 q:GetTrackName(n, 1) .. " " .. q:GetActionName(n, 1, 0)
        Nil = tostring(q:GetActionName(n, 5, 0))
    )"));
    EXPECT_EQ(Global("Same"), "true");
    // A built-in's name answers its entry's index; a name the class registry holds for
    // another class is refused.
    EXPECT_EQ(Global("Builtin"), std::to_string(NameRegistry::FindIndex("SequenceActionRaiseSemaphore")));
    EXPECT_EQ(Global("Taken"), "-1");
    EXPECT_EQ(Global("Missing"), "false");
    // The class's own parameters in declaration order, then "SequenceAction"'s five.
    EXPECT_EQ(Global("Params"),
              "Text:12 Volume:8 Count:9 Loud:19 Time:8 Minimal start time:8 EditorHelperTime:8 Designer comment:21 "
              "Editor flags:10");
    EXPECT_EQ(Global("Values"), "5 hello false nil 2 Track001 SequenceActionRaiseGlobalSemaphore");
    // The instance's table: bool, int, float, string.
    auto* say = static_cast<LuaSequenceAction*>(gSequenceSystem->FindSequence("FromLua")->tracks[0]->actions[0]);
    std::string table;
    for (LuaSequenceActionParam* p : say->Params()) table += std::string(p->typeName.CStr()) + " ";
    EXPECT_EQ(table, "bool int float string ");
    EXPECT_EQ(Global("Nil"), "nil");
    EXPECT_TRUE(log.Contains("Action NoSuchAction not found in class factory! Ommiting..."));
    Sequence* s = gSequenceSystem->FindSequence("FromLua");
    ASSERT_NE(s, nullptr);
    EXPECT_FLOAT_EQ(s->tracks[1]->actions[0]->minimalStartTime, 2.0f);

    ASSERT_TRUE(gLua.ExecuteString(R"(
        gSequenceActionFactory:BeginLuaActionsSync()
        local i = gSequenceActionFactory:RegisterLuaSequenceActionClass("LuaSay", "", false)
        gSequenceActionFactory:AddLuaSequenceActionParam(i, "Count", "int")
        gSequenceActionFactory:AddLuaSequenceActionParam(i, "Speaker", "string")
        gSequenceActionFactory:EndLuaActionsSync()
        local q = gSequenceSystem
        local n = q:GetSequenceIndex("FromLua")
        After = q:GetParamCount(n, 0, 0) .. " " .. q:GetIntParamValue(n, 0, 0, 0) .. " " .. q:GetParamName(n, 0, 0, 1)
    )"));
    EXPECT_EQ(Global("After"), "7 5 Speaker");
}
