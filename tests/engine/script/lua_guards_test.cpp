// test-sanitize: address
// The host's guards of the script boundary: the library sandbox, the script random
// generator, dead handles, read-only bound variables and the registry of live UTF-16
// buffers.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tolua++.h>

#include "LuaTestSupport.h"
#include "core/math/MathHelpers.h"
#include "engine/script/LuaBaseClass.h"
#include "engine/script/LuaBindings.h"
#include "engine/script/LuaHandleGuards.h"
#include "engine/script/LuaSandbox.h"
#include "engine/script/LuaUnicodeRegistry.h"
#include "engine/script/LuaUnicodeString.h"

namespace {

// A class with a constant (getter only) and a settable field, and one global constant,
// registered as a binding package would, so the host's repairs run over them.
struct GuardProbe {
    float value = 0;
};
float gGuardSetting = 7;

int GetConstant(lua_State* L) {
    lua_pushnumber(L, 42);
    return 1;
}
int GetSetting(lua_State* L) {
    lua_pushnumber(L, gGuardSetting);
    return 1;
}
int SetSetting(lua_State* L) {
    gGuardSetting = static_cast<float>(lua_tonumber(L, 2));
    return 0;
}

int OpenGuardPackage(lua_State* L) {
    tolua_open(L);
    tolua_usertype(L, "GuardBase");
    tolua_usertype(L, "GuardProbe");
    tolua_usertype(L, "GuardOther");
    tolua_module(L, nullptr, 1);
    tolua_beginmodule(L, nullptr);
    tolua_cclass(L, "GuardBase", "GuardBase", "", nullptr);
    tolua_beginmodule(L, "GuardBase");
    tolua_variable(L, "LIMIT", &GetConstant, nullptr);
    tolua_endmodule(L);
    tolua_cclass(L, "GuardProbe", "GuardProbe", "GuardBase", nullptr);
    tolua_cclass(L, "GuardOther", "GuardOther", "", nullptr);
    tolua_beginmodule(L, "GuardProbe");
    tolua_variable(L, "ZERO", &GetConstant, nullptr);
    tolua_variable(L, "setting", &GetSetting, &SetSetting);
    tolua_endmodule(L);
    tolua_variable(L, "GLOBAL_LIMIT", &GetConstant, nullptr);
    tolua_variable(L, "gGuardSetting", &GetSetting, &SetSetting);
    tolua_endmodule(L);
    return 0;
}

class GuardObject : public LuaBaseClass {
public:
    const RTTIClass* GetRTTIClass() const override { return nullptr; }
    const char* GetScriptClassName() const override { return "GuardObject"; }
};

class LuaGuardsTest : public LuaHostTest {
protected:
    static void SetUpTestSuite() { RegisterLuaBindingPackage(LUA_PACKAGE_VIDEO, &OpenGuardPackage); }

    // The message of a failing chunk run under pcall ("" when it succeeds).
    std::string ErrorOf(const std::string& chunk) {
        return Eval("select(2, pcall(function() " + chunk + " end)) or ''");
    }
};

// The 15-bit rule as a Python model: the draws of math.random() after randomseed(seed).
std::string PythonDraws(uint32_t seed, int count) {
    std::ostringstream script;
    script << "s=" << seed << "\nout=[]\nfor _ in range(" << count
           << "):\n s=(s*214013+2531011)&0xFFFFFFFF\n out.append('%.17g' % (((s>>16)&0x7FFF)/32768.0))\n"
           << "print(' '.join(out), end='')\n";
    const std::string file = luatest::TempFile(script.str());
    const std::string out = luatest::RunProgram("python3 " + file);
    std::filesystem::remove(file);
    return out;
}

}  // namespace

TEST_F(LuaGuardsTest, SandboxRefusesBytecodeAndKeepsOnlyTheReadingDebugFunctions) {
    const std::pair<const char*, const char*> kCases[] = {
        {"select('#', loadstring(string.dump(function() end)))", "2"},
        {"select(2, loadstring(string.dump(function() end)))", "precompiled chunks are not accepted"},
        {"loadstring('return 1 + 2')()", "3"},
        // load() sees the signature in its first non-empty piece, however the pieces fall.
        {"select(2, load(coroutine and (function() local p = {'', string.dump(function() end)} "
         "local i = 0 return function() i = i + 1 return p[i] end end)()))",
         "precompiled chunks are not accepted"},
        {"(function() local p = {'ret', 'urn ', '5'} local i = 0 "
         "return load(function() i = i + 1 return p[i] end)() end)()",
         "5"},
        {"type(dofile) .. type(loadfile)", "nilnil"},
        {"type(debug.setmetatable) .. type(debug.getregistry) .. type(debug.sethook) .. type(debug.setfenv)",
         "nilnilnilnil"},
        {"type(debug.setlocal) .. type(debug.setupvalue) .. type(debug.debug)", "nilnilnil"},
        {"type(debug.traceback) .. type(debug.getinfo) .. type(debug.getlocal) .. type(debug.getupvalue)",
         "functionfunctionfunctionfunction"},
        {"(function() local n = 0 for _ in pairs(debug) do n = n + 1 end return n end)()", "4"},
    };
    for (const auto& [expression, value] : kCases) EXPECT_EQ(Eval(expression), value) << expression;
}

TEST_F(LuaGuardsTest, ToluaModuleKeepsOwnershipAndCastsAlongTheClassLine) {
    GuardProbe probe, other;
    gLua.PushUserType(&probe, "GuardProbe");
    lua_setglobal(L(), "probe");
    gLua.PushUserType(&other, "GuardBase");
    lua_setglobal(L(), "base");
    const std::pair<const char*, const char*> kCases[] = {
        {"type(tolua.takeownership) .. type(tolua.releaseownership) .. type(tolua.inherit)", "nilnilnil"},
        {"tostring(tolua.cast(probe, 'GuardBase') == probe)", "true"},
        {"tolua.type(tolua.cast(base, 'GuardProbe'))", "GuardProbe"},
        {"tostring(tolua.cast(probe, 'GuardOther'))", "nil"},
        {"tostring(tolua.cast(probe, 'NoSuchClass'))", "nil"},
        {"tostring(tolua.cast({}, 'GuardProbe'))", "nil"},
        {"tostring(tolua.cast(5, 'GuardProbe'))", "nil"},
        {"tostring(tolua.cast(probe))", "nil"},
    };
    for (const auto& [expression, value] : kCases) EXPECT_EQ(Eval(expression), value) << expression;
    for (const char* name : {"probe", "base"}) {
        lua_pushnil(L());
        lua_setglobal(L(), name);
    }
}

TEST_F(LuaGuardsTest, DestroyedObjectLeavesNoCollectorEntry) {
    gLua.RegisterClass("GuardObject", "");
    const auto collectorEntry = [this](void* object) {
        lua_getfield(L(), LUA_REGISTRYINDEX, "tolua_gc");
        lua_pushlightuserdata(L(), object);
        lua_rawget(L(), -2);
        const bool found = !lua_isnil(L(), -1);
        lua_pop(L(), 2);
        return found;
    };
    auto* object = new GuardObject();
    gLua.PushCollectedUserType(object, "GuardObject");
    lua_setglobal(L(), "held");
    EXPECT_TRUE(collectorEntry(object));
    object->Destroy();
    EXPECT_FALSE(collectorEntry(object)) << "a later object at the address would never be collected";
    lua_pushnil(L());
    lua_setglobal(L(), "held");
}

int gDeferredRuns = 0;

TEST_F(LuaGuardsTest, DeferredWorkRunsAtTheCollectionStepOutsideScriptCalls) {
    gDeferredRuns = 0;
    SetLuaDeferredWork([] { ++gDeferredRuns; });
    lua_register(L(), "StepFromScript", [](lua_State*) {
        gLua.StepGarbageCollector();
        return 0;
    });
    EXPECT_TRUE(gLua.ExecuteString("StepFromScript()"));
    EXPECT_EQ(gDeferredRuns, 0) << "not inside a script call";
    gLua.StepGarbageCollector();
    EXPECT_EQ(gDeferredRuns, 1) << "at the host's own step";
    SetLuaDeferredWork(nullptr);
    gLua.StepGarbageCollector();
    EXPECT_EQ(gDeferredRuns, 1);
}

TEST_F(LuaGuardsTest, ScriptRandomFollowsTheFifteenBitRuleWhateverTheEngineDraws) {
    for (const uint32_t seed : {0u, 1u, 12345u}) {
        const std::string expected = PythonDraws(seed, 8);
        ASSERT_FALSE(expected.empty());
        Run("math.randomseed(" + std::to_string(seed) + ") draws = {}");
        for (int i = 0; i < 8; ++i) {
            // The engine's own generators step between the script's draws.
            gRandomGenerators[0].Next();
            gSharedRandomState.Next();
            Run("draws[#draws + 1] = string.format('%.17g', math.random())");
        }
        EXPECT_EQ(Eval("table.concat(draws, ' ')"), expected) << "seed " << seed;
    }
    // The scaled forms follow Lua's own arithmetic over the same draw.
    Run("math.randomseed(12345) a = math.random() math.randomseed(12345) b = math.random(10) "
        "math.randomseed(12345) c = math.random(-3, 3)");
    EXPECT_EQ(Eval("b == math.floor(a * 10) + 1 and c == math.floor(a * 7) - 3"), "true");
    EXPECT_NE(ErrorOf("math.random(0)").find("interval is empty"), std::string::npos);
    EXPECT_NE(ErrorOf("math.random(3, 1)").find("interval is empty"), std::string::npos);
}

TEST_F(LuaGuardsTest, DeadHandlesRaiseTheirErrorAndAreNeverTakenForNil) {
    gLua.RegisterClass("GuardObject", "");
    auto* object = new GuardObject();
    gLua.PushObject(object);
    lua_setglobal(L(), "held");
    object->Destroy();

    const std::string expected = "attempt to use a dead GuardObject object";
    for (const char* use : {"return held.x", "held.x = 1", "held:Method()", "held()", "return #held"})
        EXPECT_NE(ErrorOf(use).find(expected), std::string::npos) << use;
    EXPECT_EQ(Eval("type(held) .. tostring(getmetatable(held))"), "userdatafalse") << "its metatable is locked";

    lua_getglobal(L(), "held");
    lua_pushnil(L());
    EXPECT_TRUE(LuaIsDeadHandle(L(), -2));
    EXPECT_STREQ(LuaDeadHandleClass(L(), -2), "GuardObject");
    EXPECT_FALSE(LuaIsDeadHandle(L(), -1));
    EXPECT_EQ(*static_cast<void**>(lua_touserdata(L(), -2)), nullptr);
    lua_settop(L(), 0);

    // Raised inside a host run, the error is reported and counted once.
    EXPECT_FALSE(gLua.ExecuteString("held:Method()"));
    EXPECT_EQ(LuaWrapper::GetErrorCount(), 1u);
    EXPECT_EQ(CountLogged(expected), 1);

    // An object made later at any address gets a live handle of its own.
    auto* next = new GuardObject();
    gLua.PushObject(next);
    EXPECT_FALSE(LuaIsDeadHandle(L(), -1));
    EXPECT_EQ(*static_cast<void**>(lua_touserdata(L(), -1)), next);
    lua_settop(L(), 0);
    next->Destroy();
}

TEST_F(LuaGuardsTest, ReadOnlyVariablesRefuseAssignmentAndKeepTheirValue) {
    struct Case {
        const char* assignment;
        const char* name;
        const char* reread;
    };
    const Case kCases[] = {
        {"GuardProbe.ZERO = 5", "ZERO", "GuardProbe.ZERO"},
        {"GuardBase.LIMIT = 5", "LIMIT", "GuardBase.LIMIT"},
        {"GLOBAL_LIMIT = 5", "GLOBAL_LIMIT", "GLOBAL_LIMIT"},
    };
    for (const Case& c : kCases) {
        EXPECT_NE(ErrorOf(c.assignment).find(std::string("attempt to assign to read-only variable '") + c.name + "'"),
                  std::string::npos)
            << c.assignment;
        EXPECT_EQ(Eval(c.reread), "42") << c.assignment;
    }
    // Variables with a setter, new fields and plain globals assign as before.
    EXPECT_EQ(ErrorOf("GuardProbe.setting = 3 gGuardSetting = 4 GuardProbe.Extra = 1 plain = 2"), "");
    EXPECT_EQ(gGuardSetting, 4.0f);
    EXPECT_EQ(Eval("GuardProbe.Extra + plain"), "3");
    EXPECT_EQ(Eval("rawget(_G, 'gGuardSetting')"), "nil") << "the setter ran; nothing shadows it";
}

TEST(LuaUnicodeRegistryTest, OnlyTheStartOfALiveBufferReachesANativeWithItsCount) {
    const uint32_t before = LuaUnicodeBufferRegistrySize();
    const void* old = nullptr;
    {
        LuaUnicodeString text(u"ab");
        const char16_t* p = text.GetUnicharPtr();
        EXPECT_EQ(LuaUnicodeBufferCount(p), 3u);
        EXPECT_EQ(CheckedLuaUnicodeBuffer(p + 1), nullptr) << "an interior pointer reads as null";
        for (int i = 0; i < 40; ++i) text.AppendChar(u'x');  // grows, so the buffer moves
        EXPECT_EQ(LuaUnicodeBufferCount(text.GetUnicharPtr()), 43u);
        if (text.GetUnicharPtr() != p) {
            EXPECT_EQ(LuaUnicodeBufferCount(p), 0u) << "the old buffer is gone";
        }
        text.RemoveLastChar();
        EXPECT_EQ(LuaUnicodeBufferCount(text.GetUnicharPtr()), 42u);
        old = text.GetUnicharPtr();
        text.Clear();
        EXPECT_EQ(LuaUnicodeBufferCount(old), 0u) << "an emptied string's buffer holds nothing to read";
        EXPECT_EQ(LuaUnicodeBufferCount(text.GetUnicharPtr()), 1u) << "the shared empty text";
        text.Set(u"back");
        old = text.GetUnicharPtr();
        EXPECT_EQ(LuaUnicodeBufferCount(old), 5u);
    }
    EXPECT_EQ(LuaUnicodeBufferCount(old), 0u) << "a destroyed string's pointer reads as null";
    EXPECT_EQ(LuaUnicodeBufferRegistrySize(), before);
    EXPECT_EQ(CheckedLuaUnicodeBuffer(u"stray"), nullptr);
}
