// test-lua-package: ScriptTestPackage.pkg
// test-sanitize: address
// Number boundary values come from Debian's python3.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <tolua++.h>
#include <vector>

#include "LuaTestSupport.h"
#include "ScriptTestPackage.h"
#include "core/StaticInit.h"
#include "core/config/ConfigFolder.h"
#include "engine/services/UIServices.h"
#include "engine/script/LuaBindings.h"

int tolua_ScriptTestPackage_open(lua_State* state);

namespace {

std::vector<std::string> gOpened;

template <int Which>
int OpenPackage(lua_State* L) {
    static const char* const kNames[] = {"generated", "entity 1", "entity 2", "late"};
    gOpened.push_back(kNames[Which]);
    if (Which == 0) return tolua_ScriptTestPackage_open(L);
    if (Which == 1) tolua_usertype(L, "StringReplacementContainer");
    lua_pushnumber(L, 1);  // left on the stack: the registry restores it
    return 1;
}

class LuaBindingsTest : public LuaHostTest {
protected:
    static void SetUpTestSuite() {
        // Registered out of order; the registry sorts them.
        RegisterLuaBindingPackage(LUA_PACKAGE_USER_INTERFACE, &OpenPackage<3>);
        RegisterLuaBindingPackage(LUA_PACKAGE_ENTITY, &OpenPackage<1>);
        RegisterLuaBindingPackage(LUA_PACKAGE_ENGINE_CORE, &OpenPackage<0>);
        RegisterLuaBindingPackage(LUA_PACKAGE_ENTITY, &OpenPackage<2>);
    }
    void SetUp() override {
        gOpened.clear();
        LuaHostTest::SetUp();
    }
};

bool SameDouble(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

}  // namespace

TEST_F(LuaBindingsTest, PackagesOpenAfterTheInitHooksByOrderThenRegistration) {
    EXPECT_EQ(gOpened, std::vector<std::string>({"generated", "entity 1", "entity 2", "late"}));
    EXPECT_EQ(Top(), 0);
    EXPECT_FALSE(RegisterLuaBindingPackage(LUA_PACKAGE_VIDEO, &OpenPackage<3>));
    EXPECT_EQ(LuaBindingPackageCount(), 4u);
    OpenAllLuaBindings(nullptr);  // no interpreter: nothing opens
    EXPECT_EQ(gOpened.size(), 4u);

    static std::vector<std::string> seen;
    seen.clear();
    gLua.Close();
    gOpened.clear();
    gLua.SetInitHooks(
        [](lua_State* L) {
            lua_getglobal(L, "_LUA5");
            seen.push_back("bit library, _LUA5 " + std::to_string(lua_toboolean(L, -1)) + ", " +
                           std::to_string(gOpened.size()) + " packages");
            lua_pop(L, 1);
        },
        [](lua_State*) { seen.push_back("replication, " + std::to_string(gOpened.size()) + " packages"); });
    gLua.Init();
    gLua.ResetReplication();
    gLua.SetInitHooks(nullptr, nullptr);
    gLua.ResetReplication();
    EXPECT_EQ(seen, std::vector<std::string>({"bit library, _LUA5 1, 0 packages", "replication, 0 packages",
                                              "replication, 4 packages"}));
}

// The shutdown takes each package's registration back, and only that one.
TEST_F(LuaBindingsTest, ShutdownUnregistersEachPackageByItself) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    static uint32_t left = 99;
    EXPECT_EXIT(
        {
            gLua.Close();
            PushExitHandler([](void*) { left = LuaBindingPackageCount(); }, nullptr);
            RegisterLuaBindingPackage(LUA_PACKAGE_VIDEO, [](lua_State*) { return 0; });  // unregistered first
            RunStaticShutdown();
            std::_Exit(static_cast<int>(left * 10 + LuaBindingPackageCount()));
        },
        testing::ExitedWithCode(40), "");
}

TEST_F(LuaBindingsTest, SingletonsArePublishedUnderRegisteredTypes) {
    // gConsole's and gProfiler's types are not registered here: published as plain user types.
    EXPECT_EQ(Eval("type(gLua) .. type(gConsole) .. type(gProfiler)"), "userdatauserdatauserdata");
    EXPECT_EQ(Eval("type(gDefaultReplacementContainer)"), "nil");  // the UI supplies no container
    static int container;
    static struct : UIServices {
        StringReplacementContainer* GetDefaultReplacementContainer() const override {
            return reinterpret_cast<StringReplacementContainer*>(&container);
        }
    } ui;
    SetUIServices(&ui);
    gLua.Close();
    gLua.Init();
    SetUIServices(nullptr);
    lua_getglobal(L(), "gDefaultReplacementContainer");
    EXPECT_EQ(tolua_tousertype(L(), -1, nullptr), &container);
    lua_getglobal(L(), "gLua");
    EXPECT_EQ(tolua_tousertype(L(), -1, nullptr), &gLua);
    lua_settop(L(), 0);
}

TEST_F(LuaBindingsTest, StackDumpNamesLevelsAndDescribesLocals) {
    for (int i = 0; i < 16; ++i) gProbeMatrix.r[i / 4][i % 4] = static_cast<float>(i) * 0.5f;
    ScriptTestEntity entity;
    gProbeEntity = &entity;
    Run("function Probe(s, n)\n"
        "  local b, t, p = true, {}, newproxy(true)\n"
        "  local v, m, e = ProbeVector(), ProbeMatrix(), ProbeEntity()\n"
        "  ProbeDumpStack()\n"
        "end\n"
        "Probe('text', 1.5)");
    gProbeEntity = nullptr;
    const std::vector<std::string> expected = {
        "(0) C: global:[C] ProbeDumpStack [line: -1] [defined: -1]\n",
        "(1) Lua: global:[string \"function Probe(s, n)...\"] Probe [line: 4] [defined: 1]\n",
        "\t(1) s - type string - value text\n",
        "\t(2) n - type number - value 1.5\n",
        "\t(3) b - type boolean - value \n",
        "\t(4) t - type table - value <unsupported yet>\n",
        "\t(5) p - type userdata - value <unsupported yet>\n",  // not a bound object
        "\t(6) v - type userdata - value [1.000000 2.000000 3.000000 4.000000]\n",
        "\t(7) m - type userdata - value [0.000000 0.500000 1.000000 1.500000],[2.000000 2.500000 3.000000 "
        "3.500000],[4.000000 4.500000 5.000000 5.500000],[6.000000 6.500000 7.000000 7.500000]\n",
        "\t(8) e - type userdata - value <unsupported yet>\n",
    };
    EXPECT_EQ(gProbeDumpPushed, 0);
    ASSERT_GE(gProbeDumpLines.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(gProbeDumpLines.begin(), gProbeDumpLines.begin() + expected.size()), expected);
    // The console form: the heading, then one warning per line, without its line end.
    const auto messages = sink.Messages();
    ASSERT_EQ(messages.size(), gProbeDumpLines.size() + 1);
    for (size_t i = 0; i < messages.size(); ++i) {
        const std::string& line = i ? gProbeDumpLines[i - 1] : "Lua stack dump:\n";
        EXPECT_EQ(messages[i].text + "\n", line);
        EXPECT_EQ(messages[i].severity, static_cast<uint8_t>(LogSeverity::Warning));
        EXPECT_EQ(messages[i].category, static_cast<uint8_t>(LogCategory::Script));
    }
}

TEST_F(LuaBindingsTest, ScriptsRunNestedFilesThroughTheHost) {
    ConfigFolder folder("common");
    std::filesystem::create_directories(folder.File("scripts"));
    folder.Write("scripts/Outer.lua", luatest::Bytes("order = 'outer'\n"
                                                     "gLua:ExecuteFile('Inner', 'common/scripts')\n"
                                                     "gLua:ExecuteFile('Missing', 'common/scripts')\n"
                                                     "gLua:ExecuteFile('Default')\n"
                                                     "order = order .. ',outer end'"));
    folder.Write("scripts/Inner.lua", luatest::Bytes("order = order .. ',inner'"));
    folder.Write("scripts/Default.lua", luatest::Bytes("order = order .. ',default'"));
    luatest::FileRecorder recorder;
    gLua.SetFileExecutionCallback(&recorder);
    gLua.ExecuteFile("Outer", "common/scripts", false);
    EXPECT_EQ(Eval("order"), "outer,inner,default,outer end");
    const luatest::FileRecorder::Seen seen = {
        {"common/scripts/Outer", false}, {"common/scripts/Inner", true}, {"common/scripts/Default", true}};
    EXPECT_EQ(recorder.seen, seen);
    // The script form always reports a missing file, and never counts it.
    EXPECT_TRUE(Logged("Cannot load script file: common/scripts/Missing.lua"));
    EXPECT_EQ(LuaWrapper::GetErrorCount(), 0u);
}

// Numbers reach natives as floats (integers truncate and saturate, NaN is 0, a negative
// number for an unsigned type wraps as a 32-bit integer) and leave through a float.
TEST_F(LuaBindingsTest, NumbersCrossTheBoundaryAsFloats) {
    const std::pair<const char*, const char*> kInputs[] = {
        {"16777217", "16777217.0"},     {"-16777217", "-16777217.0"},   {"2.9", "2.9"},
        {"-2.9", "-2.9"},               {"0.1", "0.1"},                 {"255.99", "255.99"},
        {"32767.5", "32767.5"},         {"-32769", "-32769.0"},         {"65535.9", "65535.9"},
        {"2147483647", "2147483647.0"}, {"-2147483649", "-2147483649.0"}, {"4294967295", "4294967295.0"},
        {"-1", "-1.0"},                 {"3e10", "3e10"},               {"1e-45", "1e-45"},
        {"0/0", "float('nan')"},        {"1/0", "float('inf')"},        {"-1/0", "float('-inf')"},
    };
    const char* const kProbes[] = {"ProbeInt", "ProbeUInt", "ProbeShort", "ProbeByte", "ProbeFloat", "ProbeDouble"};

    std::ostringstream program;
    program << "import math, struct\n"
               "def f32(x):\n"
               "    return x if math.isnan(x) else struct.unpack('f', struct.pack('f', x))[0]\n"
               "def integer(x, lo, hi):\n"
               "    y = f32(x)\n"
               "    if math.isnan(y): return 0\n"
               "    if lo == 0 and y < 0: return (-2**31 if y <= -2**31 else int(y)) % 2**32 % (hi + 1)\n"
               "    return lo if y <= lo else hi if y >= hi else int(y)\n"
               "limits = [(-2**31, 2**31 - 1), (0, 2**32 - 1), (-2**15, 2**15 - 1), (0, 255)]\n"
               "for x in [";
    for (const auto& input : kInputs) program << input.second << ", ";
    program << "]:\n"
               "    for lo, hi in limits:\n"
               "        r = float(integer(x, lo, hi))\n"
               "        print(repr(r), repr(f32(r)))\n"
               "    print(repr(f32(x)), repr(f32(x)))\n"
               "    print(repr(f32(x)), repr(f32(x)))\n"
               "for x in [0.1, 4294967295.0, 2147483649.0, 16777217.0, -16777217.0, 16777217.0]:\n"
               "    print(repr(f32(x)))\n";
    const std::string script = luatest::TempFile(program.str());
    std::istringstream expected(luatest::RunProgram("/usr/bin/python3 " + script));
    std::filesystem::remove(script);

    for (const auto& input : kInputs) {
        for (const char* probe : kProbes) {
            const std::string call = std::string("returned = ") + probe + "(" + input.first + ")";
            SCOPED_TRACE(call);
            std::string received, returned;
            ASSERT_TRUE(expected >> received >> returned);
            gProbeReceived = -12345;
            ASSERT_TRUE(gLua.ExecuteString(call.c_str()));
            EXPECT_TRUE(SameDouble(gProbeReceived, std::strtod(received.c_str(), nullptr))) << gProbeReceived;
            lua_getglobal(L(), "returned");
            EXPECT_TRUE(SameDouble(lua_tonumber(L(), -1), std::strtod(returned.c_str(), nullptr)))
                << lua_tonumber(L(), -1);
            lua_settop(L(), 0);
        }
    }

    // Engine pushes: a package's double result, the host's helpers and a constant.
    std::string tenth, uintMax, uintTop, intPlus, intMinus, constant;
    ASSERT_TRUE(expected >> tenth >> uintMax >> uintTop >> intPlus >> intMinus >> constant);
    ASSERT_TRUE(gLua.ExecuteString("tenth = ProbeTenth()"));
    lua_getglobal(L(), "tenth");
    gLua.PushUInt(4294967295u);
    gLua.PushUInt(2147483649u);
    gLua.PushInt(16777217);
    gLua.PushInt(-16777217);
    lua_getglobal(L(), "PROBE_CONSTANT");
    const std::string kExpected[] = {tenth, uintMax, uintTop, intPlus, intMinus, constant};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(lua_tonumber(L(), i + 1), std::strtod(kExpected[i].c_str(), nullptr)) << i;
    lua_settop(L(), 0);
}
