// Two pairs, each measured in the same run, its two ways interleaved within one
// benchmark so the load of a shared machine falls on both alike.
//
// The rotating shield's aiming from entities:
//  - zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget with 32 targets and a 12-sector
//    mask, the native search;
//  - the same search written in Lua: the bearings from the entities' global positions,
//    then every (target, covering sector) candidate scored against every target.
// Goal: the native at least 10 times faster than the Lua search. Both ways run as script
// loops. Prints the time per search of each and the ratio.
//
// The game's delegate event "OnTick", defined by the script on "ZKRGameDelegate":
//  - forwarded by the desktop delegate, found through its script class line
//    ("PCMacGameDelegate", then "ZKRGameDelegate");
//  - the same Lua function run by a plain lua_pcall on the delegate's handle, found by its
//    name on the delegate's script class as C++ code calling a script would (the class
//    line answers it), and, as the floor, with the function already in hand.
// Goal: the delegate event at most 3 times the plain call. Prints the rate of each and the
// ratios.
#include <benchmark/benchmark.h>

#include <chrono>
#include <lua.hpp>

#include "bench/RateReporter.h"
#include "bench/ScriptBench.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/script/LuaBindings.h"
#include "engine/script/LuaWrapper.h"
#include "game/delegate/GameBindingPackages.h"
#include "game/delegate/PCMacGameDelegate.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

constexpr int kLoop = 20;
constexpr int kTargets = 32;

const char* const kLuaSearch = R"(
function LuaMaxCoverAngleForTarget(tower, targets, current, mask, size)
    local fmod, atan2, abs, floor = math.fmod, math.atan2, math.abs, math.floor
    local t = tower:GetGlobalPosition()
    local bearings = {}
    for i = 1, #targets do
        local p = targets[i]:GetGlobalPosition()
        bearings[i] = fmod(atan2(p.x - t.x, p.z - t.z) * 57.29578 + 3600, 360)
    end
    local best, bestScore = current, 0
    for i = 1, #bearings do
        for j = 1, #mask do
            if mask[j] ~= 0 then
                local c = fmod(bearings[i] - (j - 0.5) * size + 3600, 360)
                local cover = 0
                for k = 1, #bearings do
                    local m = mask[floor(fmod(bearings[k] - c + 3600, 360) / size) + 1]
                    if m then cover = cover + m end
                end
                local d = c - current
                if d > 180 then d = d - 360 elseif d < -180 then d = d + 360 end
                local score = 0.5 - abs(d) * 0.0027777778 + cover
                if score > bestScore then best, bestScore = c, score end
            end
        end
    end
    return best
end
)";

// Globals "tower" and "targets" (32 entities around it) and "mask" (12 sectors).
void PublishScene(lua_State* L) {
    static EntityTemplate entityTemplate;
    static Entity* entities[kTargets + 1] = {};
    if (!entities[0]) {
        entityTemplate.SetName("bench");
        gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
        for (int i = 0; i <= kTargets; ++i) {
            entities[i] =
                gEntityManager->CreateEntityFromTemplate(&entityTemplate, nullptr, Matrix::IDENTITY, 0, nullptr);
            if (entities[i] && i > 0)
                entities[i]->SetGlobalPosition3(float((i * 37) % 61 - 30), 0, float((i * 53) % 47 - 23));
        }
    }
    gLua.PushObject(entities[0]);
    lua_setglobal(L, "tower");
    lua_createtable(L, kTargets, 0);
    for (int i = 1; i <= kTargets; ++i) {
        gLua.PushObject(entities[i]);
        lua_rawseti(L, -2, i);
    }
    lua_setglobal(L, "targets");
    gLua.ExecuteString("mask = {1, 1, 0, 2, 0, 0, 1, 0, 3, 0, 1, 0}");
}

void BM_RotoShieldSearch(benchmark::State& state) {
    benchsupport::StartScriptHost();
    lua_State* L = gLua.GetState();
    OpenGameBindingPackages(L);
    RepairClassFieldAssignment(L);  // classes opened after the host's packages
    PublishScene(L);
    gLua.ExecuteString(kLuaSearch);
    const int refs[2] = {
        benchsupport::CompileLoop(L,
                "local s = 0 for i = 1, 20 do "
                "s = s + zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget(tower, targets, i, mask, 30) end "
                "check = s"),
        benchsupport::CompileLoop(L,
                "local s = 0 for i = 1, 20 do s = s + LuaMaxCoverAngleForTarget(tower, targets, i, mask, 30) end "
                "check_lua = s")};
    if (refs[0] == LUA_NOREF || refs[1] == LUA_NOREF) {
        state.SkipWithError("the loops do not compile");
        return;
    }
    double ns[2] = {0, 0};
    bool ok = true;
    for (auto _ : state)
        for (int way = 0; way < 2; ++way) ns[way] += benchsupport::RunLoop(L, refs[way], &ok);
    if (!ok) state.SkipWithError("a loop failed");
    for (int ref : refs) luaL_unref(L, LUA_REGISTRYINDEX, ref);
    const double searches = static_cast<double>(state.iterations()) * kLoop;
    state.counters["native_us"] = ns[0] / searches / 1000.0;
    state.counters["lua_us"] = ns[1] / searches / 1000.0;
    state.counters["lua/native"] = ns[0] > 0 ? ns[1] / ns[0] : 0;
    state.SetItemsProcessed(state.iterations() * 2 * kLoop);
}
BENCHMARK(BM_RotoShieldSearch)->Unit(benchmark::kMillisecond);

constexpr int kTicks = 1000;

// The plain way of finding a method on a script class line from C++: the name read from
// the class table on top of the stack, then from each class up its line (a class table's
// metatable is its base class). Leaves the class table and the function (nil when none).
bool PushClassLineMethod(lua_State* L, const char* method) {
    lua_pushvalue(L, -1);
    for (;;) {
        lua_pushstring(L, method);
        lua_rawget(L, -2);
        if (!lua_isnil(L, -1) || !lua_getmetatable(L, -2)) break;
        lua_replace(L, -3);
        lua_pop(L, 1);
    }
    lua_replace(L, -2);
    return lua_isfunction(L, -1);
}

void BM_DelegateTick(benchmark::State& state) {
    benchsupport::StartScriptHost();
    lua_State* L = gLua.GetState();
    // Made once and kept to the end of the process, like the program's delegate; it opens
    // the game's packages.
    static PCMacGameDelegate* delegate = [] {
        auto* d = new PCMacGameDelegate();
        d->RegisterBindings();
        return d;
    }();
    gLua.ExecuteString("ticks = 0 function ZKRGameDelegate:OnTick() ticks = ticks + 1 end");
    const char* const className = delegate->GetScriptClassName();
    // The delegate's handle, kept as a script keeps it, and the function in hand.
    gLua.PushUserType(delegate, className);
    const int self = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_getglobal(L, "ZKRGameDelegate");
    lua_getfield(L, -1, "OnTick");
    const int function = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_pop(L, 1);
    double ns[3] = {0, 0, 0};
    bool ok = true;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kTicks; ++i) delegate->OnTick();
        auto end = std::chrono::steady_clock::now();
        ns[0] += std::chrono::duration<double, std::nano>(end - start).count();
        start = end;
        for (int i = 0; i < kTicks; ++i) {
            lua_getglobal(L, className);
            ok = PushClassLineMethod(L, "OnTick") && ok;
            lua_rawgeti(L, LUA_REGISTRYINDEX, self);
            ok = lua_pcall(L, 1, 0, 0) == 0 && ok;
            lua_pop(L, 1);
        }
        end = std::chrono::steady_clock::now();
        ns[1] += std::chrono::duration<double, std::nano>(end - start).count();
        start = end;
        for (int i = 0; i < kTicks; ++i) {
            lua_rawgeti(L, LUA_REGISTRYINDEX, function);
            lua_rawgeti(L, LUA_REGISTRYINDEX, self);
            ok = lua_pcall(L, 1, 0, 0) == 0 && ok;
        }
        ns[2] += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    }
    lua_settop(L, 0);
    luaL_unref(L, LUA_REGISTRYINDEX, function);
    luaL_unref(L, LUA_REGISTRYINDEX, self);
    lua_getglobal(L, "ticks");
    const double ticks = lua_tonumber(L, -1);
    lua_pop(L, 1);
    const double calls = static_cast<double>(state.iterations()) * kTicks;
    if (!ok || ticks != 3 * calls) state.SkipWithError("a call failed");
    state.counters["delegate_per_s"] = ns[0] > 0 ? calls / ns[0] * 1e9 : 0;
    state.counters["pcall_per_s"] = ns[1] > 0 ? calls / ns[1] * 1e9 : 0;
    state.counters["resolved_per_s"] = ns[2] > 0 ? calls / ns[2] * 1e9 : 0;
    state.counters["delegate/pcall"] = ns[1] > 0 ? ns[0] / ns[1] : 0;
    state.counters["delegate/resolved"] = ns[2] > 0 ? ns[0] / ns[2] : 0;
    state.SetItemsProcessed(state.iterations() * 3 * kTicks);
}
BENCHMARK(BM_DelegateTick)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchsupport::PrintFigure("roto-shield search: Lua / native, time", reporter.Of("BM_RotoShieldSearch", "lua/native"),
                              "at least 10", 1);
    benchsupport::PrintFigure("OnTick through the delegate / plain lua_pcall, time",
                              reporter.Of("BM_DelegateTick", "delegate/pcall"), "at most 3");
    benchsupport::PrintFigure("OnTick through the delegate / lua_pcall of the function in hand, time",
                              reporter.Of("BM_DelegateTick", "delegate/resolved"));
    benchmark::Shutdown();
    return 0;
}
