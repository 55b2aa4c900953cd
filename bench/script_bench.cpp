// The script host's two hot paths, each beside its baseline in the same run:
//  - LuaWrapper::CallMethod of a script method on a registered object, beside a plain
//    lua_pcall of the same Lua function from C++, found by name (goal: at most 3 times the
//    plain call), and beside a lua_pcall of the function already in hand, in batches
//    interleaved within one benchmark;
//  - the host allocator (small-object pools) beside Lua's default allocator, on a workload
//    of small tables and strings (goal: at least as fast).
// Prints the rates, then the two ratios.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <lua.hpp>
#include <map>
#include <string>

#include "bench/RateReporter.h"
#include "engine/script/LuaWrapper.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

constexpr const char* kClass = "BenchObject";

void StartOnce() {
    static const bool started = [] {
        RunProgramStaticInit();
        gLua.Init();
        gLua.RegisterClass(kClass, "");
        gLua.ExecuteString("function BenchObject:Touch(n) return n + 1 end");
        return true;
    }();
    (void)started;
}

int gObject = 0;

// One way of calling BenchObject:Touch(n) from C++: a batch of kBatch calls.
constexpr int kBatch = 256;
using CallBatch = bool (*)(lua_State* L, int first);

// Through the host, by class and method name.
bool HostCalls(lua_State*, int first) {
    bool ok = true;
    for (int i = 0; i < kBatch; ++i) {
        gLua.PushInt((first + i) & 0xFFFF);
        ok = gLua.CallMethod(1, 1, &gObject, kClass, "Touch") && ok;
        gLua.Pop(1);
    }
    return ok;
}

// Registry references of the object's handle (made once, as a script keeps it) and of
// the method (for the call with the function in hand).
int gSelfRef = 0;
int gFunctionRef = 0;

// A plain lua_pcall from C++, the function found by its class and method name.
bool PlainCalls(lua_State* L, int first) {
    bool ok = true;
    for (int i = 0; i < kBatch; ++i) {
        lua_getglobal(L, kClass);
        lua_getfield(L, -1, "Touch");
        lua_rawgeti(L, LUA_REGISTRYINDEX, gSelfRef);
        lua_pushnumber(L, (first + i) & 0xFFFF);
        ok = lua_pcall(L, 2, 1, 0) == 0 && ok;
        lua_pop(L, 2);
    }
    return ok;
}

// The same with the function already in hand: the floor of any call into a script.
bool ResolvedCalls(lua_State* L, int first) {
    bool ok = true;
    for (int i = 0; i < kBatch; ++i) {
        lua_rawgeti(L, LUA_REGISTRYINDEX, gFunctionRef);
        lua_rawgeti(L, LUA_REGISTRYINDEX, gSelfRef);
        lua_pushnumber(L, (first + i) & 0xFFFF);
        ok = lua_pcall(L, 2, 1, 0) == 0 && ok;
        lua_pop(L, 1);
    }
    return ok;
}

// The three ways in one benchmark, one batch of each per iteration, so that the load of a
// shared machine falls on all alike; the counters give nanoseconds per call and the
// ratios.
void BM_MethodCalls(benchmark::State& state) {
    StartOnce();
    lua_State* L = gLua.GetState();
    gLua.PushUserType(&gObject, kClass);
    gSelfRef = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_getglobal(L, kClass);
    lua_getfield(L, -1, "Touch");
    gFunctionRef = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_pop(L, 1);
    const CallBatch kWays[] = {&HostCalls, &PlainCalls, &ResolvedCalls};
    double ns[3] = {0, 0, 0};
    int first = 0;
    for (auto _ : state) {
        for (int way = 0; way < 3; ++way) {
            const auto start = std::chrono::steady_clock::now();
            if (!kWays[way](L, first)) state.SkipWithError("call failed");
            ns[way] += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
        }
        first += kBatch;
    }
    luaL_unref(L, LUA_REGISTRYINDEX, gSelfRef);
    luaL_unref(L, LUA_REGISTRYINDEX, gFunctionRef);
    const double calls = static_cast<double>(state.iterations()) * kBatch;
    state.counters["host_ns"] = ns[0] / calls;
    state.counters["plain_ns"] = ns[1] / calls;
    state.counters["resolved_ns"] = ns[2] / calls;
    state.counters["host/plain"] = ns[1] > 0 ? ns[0] / ns[1] : 0;
    state.counters["host/resolved"] = ns[2] > 0 ? ns[0] / ns[2] : 0;
    state.SetItemsProcessed(state.iterations() * 3 * kBatch);
}
BENCHMARK(BM_MethodCalls);

// Small tables and strings, made and dropped; the collector runs as it would. The
// strings are joined from a fixed set of parts, so the work is allocation rather than
// number formatting.
constexpr const char* kChurn =
    "local parts = {}\n"
    "for i = 1, 64 do parts[i] = string.char(64 + i % 26, 97 + i % 23) end\n"
    "return function()\n"
    "  local t, u, s\n"
    "  for i = 1, 200 do\n"
    "    t = {i, i + 1, key = i}\n"
    "    u = {t, t}\n"
    "    s = parts[i % 64 + 1] .. parts[(i * 7) % 64 + 1] .. parts[(i * 13) % 64 + 1]\n"
    "  end\n"
    "end";

// A state running the churn: the chunk's function kept in the registry.
struct ChurnState {
    explicit ChurnState(lua_State* state) : L(state) {
        luaL_openlibs(L);
        luaL_loadstring(L, kChurn);
        lua_call(L, 0, 1);
        churn = luaL_ref(L, LUA_REGISTRYINDEX);
    }
    ~ChurnState() { lua_close(L); }
    // Nanoseconds of one run.
    double Run() {
        const auto start = std::chrono::steady_clock::now();
        lua_rawgeti(L, LUA_REGISTRYINDEX, churn);
        const int status = lua_pcall(L, 0, 0, 0);
        const auto end = std::chrono::steady_clock::now();
        if (status != 0) lua_pop(L, 1);
        return status == 0 ? std::chrono::duration<double, std::nano>(end - start).count() : -1;
    }
    lua_State* L;
    int churn;
};

// Both allocators in one benchmark, one run of each per iteration, so that the load of a
// shared machine falls on both alike.
void BM_Allocators(benchmark::State& state) {
    StartOnce();
    ChurnState pool(lua_newstate(&LuaWrapper::HostAllocate, nullptr));
    ChurnState standard(luaL_newstate());
    double poolTime = 0, standardTime = 0;
    for (auto _ : state) {
        const double a = pool.Run(), b = standard.Run();
        if (a < 0 || b < 0) state.SkipWithError("churn failed");
        poolTime += a;
        standardTime += b;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["pool_ns"] = poolTime / n;
    state.counters["default_ns"] = standardTime / n;
    state.counters["default/pool"] = poolTime > 0 ? standardTime / poolTime : 0;
    state.SetItemsProcessed(state.iterations() * 2 * 200);
}
BENCHMARK(BM_Allocators);

// Prints the ratios after the usual table.

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchsupport::PrintFigure("CallMethod / plain lua_pcall, time", reporter.Of("BM_MethodCalls", "host/plain"),
                              "at most 3");
    benchsupport::PrintFigure("CallMethod / lua_pcall of a resolved function, time",
                              reporter.Of("BM_MethodCalls", "host/resolved"));
    benchsupport::PrintFigure("default allocator / pool allocator, time", reporter.Of("BM_Allocators", "default/pool"),
                              "at least 1", 3);
    benchmark::Shutdown();
    return 0;
}
