// Arbitrary bytes as a script, run as a string or as a file under instruction and byte
// budgets, then driven as the engine would. Taken away is what would let a script outlast
// the budgets or reach the machine: file and console access, the hook and the registry,
// finalisers (Lua runs them with hooks off), and string loops the hook cannot interrupt.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <lua.hpp>
#include <string>
#include <string_view>

#include "core/fs/FileSystem.h"
#include "engine/script/LuaWrapper.h"
#include "support/ProgramStaticInit.h"

namespace {

constexpr int kInstructionBudget = 200000;
constexpr size_t kByteBudget = 8u << 20;
constexpr const char* kMount = "fuzz";

constexpr const char* kRestrict =
    "dofile, loadfile, print, newproxy = nil\n"
    "debug.debug, debug.sethook, debug.getregistry, debug.setmetatable = nil\n"
    "string.rep, string.find, string.match, string.gmatch, string.gsub = nil\n";

std::string gFolder;

void BudgetHook(lua_State* L, lua_Debug*) {
    lua_sethook(L, &BudgetHook, LUA_MASKCOUNT, 1);
    luaL_error(L, "instruction budget exhausted");
}

using namespace std::literals;

constexpr std::string_view kSeeds[] = {
    "local t = {} for i = 1, 100 do t[i] = i * 0.5 end floats = t"sv,
    "floats = {1, 2, nil, 4}"sv,
    "function FuzzClass:Run(n, s) return s .. n end\nfunction FuzzClass.Static() static = (static or 0) + 1 end"sv,
    "function _ERRORMESSAGE(m) last = m return m end error('handled')"sv,
    "function _ERRORMESSAGE(m) error('again') end local x = nil + 1"sv,
    "while true do end"sv,
    "pcall(function() while true do end end) while true do pcall(error) end"sv,
    "local s = 'a' for i = 1, 40 do s = s .. s end"sv,
    "local t = {} for i = 1, 1e7 do t[i] = {} end"sv,
    "x = = 1"sv,
    "\x1bLuaQ\x00\x01\x04\x08\x04\x08\x00"sv,
    "local co = coroutine.wrap(function() while true do coroutine.yield(1) end end) for i = 1, 10 do co() end"sv,
    "setmetatable(_G, {__index = function(t, k) error('undeclared ' .. k) end})\n"
    "function FuzzClass:Run() return undeclared end"sv,
    "getmetatable(FuzzClass).__index = function() error('lookup') end"sv,
    "local t = setmetatable({}, {__index = function(t, k) return t[k] end}) return t.x"sv,
    "local function f(n) if n > 0 then return f(n - 1) + 1 end return 0 end return f(1e6)"sv,
    "return string.format('%5.2f %s %q', 1.5, 'x', 'y\\n') .. table.concat({1, 2, 3}, ',')"sv,
    "for k, v in pairs(_G) do if type(v) == 'table' and k ~= '_G' then for k2 in pairs(v) do end end end"sv,
};

}  // namespace

extern "C" void FuzzSeeds(void (*add)(const uint8_t*, size_t)) {
    for (std::string_view seed : kSeeds) {
        for (uint8_t way = 0; way < 2; ++way) {
            std::string input(1, static_cast<char>(way));
            input.append(seed);
            add(reinterpret_cast<const uint8_t*>(input.data()), input.size());
        }
    }
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    RunProgramStaticInit();
    gFolder = (std::filesystem::temp_directory_path() /
               ("lua_host_fuzz_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
                  .string();
    std::filesystem::create_directories(gFolder);
    gFileSystem.MountDirectory(kMount, gFolder.c_str());
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(gFolder, ec);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string script(reinterpret_cast<const char*>(data + 1), size - 1);
    const bool asFile = data[0] & 1;
    if (asFile) std::ofstream(gFolder + "/input.lua", std::ios::binary | std::ios::trunc) << script;

    gLua.Init();
    lua_State* L = gLua.GetState();
    luaL_dostring(L, kRestrict);
    gLua.RegisterClass("FuzzClass", "");
    lua_sethook(L, &BudgetHook, LUA_MASKCOUNT, kInstructionBudget);
    LuaWrapper::SetAllocationBudget(LuaWrapper::AllocatedBytes() + kByteBudget);

    if (asFile)
        gLua.ExecuteFile("input", kMount, true);
    else
        gLua.ExecuteString(script.c_str());

    // The engine's own reads get room; the script's code again runs under a fresh budget.
    LuaWrapper::SetAllocationBudget(SIZE_MAX);
    lua_sethook(L, &BudgetHook, LUA_MASKCOUNT, kInstructionBudget);
    lua_pushliteral(L, "floats");
    lua_rawget(L, LUA_GLOBALSINDEX);
    gLua.GetFloatArray(-1);
    gLua.Pop(1);
    int object = 0;
    LuaWrapper::SetAllocationBudget(LuaWrapper::AllocatedBytes() + kByteBudget);
    for (int call = 0; call < 2; ++call) {  // the second finds the names of the first
        gLua.PushString("fuzz");
        gLua.PushInt(static_cast<int32_t>(size));
        if (gLua.CallMethod(2, 1, &object, "FuzzClass", "Run")) gLua.Pop(1);
    }
    gLua.ExecuteStaticFunction("FuzzClass", "Static", 0, 0);
    for (int i = 0; i < 4; ++i) gLua.StepGarbageCollector();

    LuaWrapper::SetAllocationBudget(SIZE_MAX);
    gLua.Close();
    return 0;
}
