// The script host's two hot paths, each beside its baseline in the same run:
//  - LuaWrapper::CallMethod of a script method on a registered object, beside a plain
//    lua_pcall of the same Lua function from C++, found by name (goal: at most 3 times the
//    plain call), and beside a lua_pcall of the function already in hand;
//  - the host allocator (small-object pools) beside Lua's default allocator, on a workload
//    of small tables and strings (goal: at least as fast).
// Prints the rates, then the two ratios.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <lua.hpp>
#include <map>
#include <string>

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

void BM_CallMethod(benchmark::State& state) {
    StartOnce();
    int n = 0;
    for (auto _ : state) {
        gLua.PushInt(++n & 0xFFFF);
        if (!gLua.CallMethod(1, 1, &gObject, kClass, "Touch")) state.SkipWithError("call failed");
        gLua.Pop(1);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CallMethod);

// The plain call from C++: the function found by its class and method name, the object's
// handle (made once, as a script keeps it), the argument, lua_pcall.
void BM_PlainPcall(benchmark::State& state) {
    StartOnce();
    lua_State* L = gLua.GetState();
    gLua.PushUserType(&gObject, kClass);
    const int self = luaL_ref(L, LUA_REGISTRYINDEX);
    int n = 0;
    for (auto _ : state) {
        lua_getglobal(L, kClass);
        lua_getfield(L, -1, "Touch");
        lua_rawgeti(L, LUA_REGISTRYINDEX, self);
        lua_pushnumber(L, ++n & 0xFFFF);
        if (lua_pcall(L, 2, 1, 0) != 0) state.SkipWithError("call failed");
        lua_pop(L, 2);
    }
    luaL_unref(L, LUA_REGISTRYINDEX, self);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainPcall);

// The same with the function already in hand: the floor of any call into a script.
void BM_ResolvedPcall(benchmark::State& state) {
    StartOnce();
    lua_State* L = gLua.GetState();
    lua_getglobal(L, kClass);
    lua_getfield(L, -1, "Touch");
    const int function = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_pop(L, 1);
    gLua.PushUserType(&gObject, kClass);
    const int self = luaL_ref(L, LUA_REGISTRYINDEX);
    int n = 0;
    for (auto _ : state) {
        lua_rawgeti(L, LUA_REGISTRYINDEX, function);
        lua_rawgeti(L, LUA_REGISTRYINDEX, self);
        lua_pushnumber(L, ++n & 0xFFFF);
        if (lua_pcall(L, 2, 1, 0) != 0) state.SkipWithError("call failed");
        lua_pop(L, 1);
    }
    luaL_unref(L, LUA_REGISTRYINDEX, function);
    luaL_unref(L, LUA_REGISTRYINDEX, self);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ResolvedPcall);

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

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            times[run.benchmark_name()] = run.GetAdjustedRealTime();
            const auto ratio = run.counters.find("default/pool");
            if (ratio != run.counters.end()) allocatorRatio = ratio->second;
        }
    }
    double allocatorRatio = 0;
    double Ratio(const char* a, const char* b) const {
        const auto x = times.find(a), y = times.find(b);
        return x == times.end() || y == times.end() || y->second <= 0 ? 0 : x->second / y->second;
    }

private:
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("CallMethod / plain lua_pcall: %.2f (goal: at most 3)\n", reporter.Ratio("BM_CallMethod", "BM_PlainPcall"));
    std::printf("CallMethod / lua_pcall of a resolved function: %.2f\n", reporter.Ratio("BM_CallMethod", "BM_ResolvedPcall"));
    std::printf("default allocator / pool allocator: %.2f (goal: at least 1)\n", reporter.allocatorRatio);
    benchmark::Shutdown();
    return 0;
}
