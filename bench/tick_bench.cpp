// The Game tick with 1,000 script-ticked entities, beside the same script calls made from
// C++ with plain protected calls, one of each per iteration (so the load of a shared
// machine falls on all alike). Each tick of 1/15 s runs about one fixed step, in which the
// tick calls every entity's "OnSmoothTick" (empty) and "OnTick" (a small update). The
// plain calls make those 2,000 calls: found by class and method name as C++ code calling
// a script would, and, as the floor, with the functions already in hand.
// Counters: microseconds per step and the tick's ratios (goals: at most 3 times the plain
// calls, under 1 ms per step).
#include <benchmark/benchmark.h>

#include <chrono>
#include <lua.hpp>
#include <vector>

#include "bench/RateReporter.h"
#include "core/Time.h"
#include "core/math/BoundingBox4.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "game/Game.h"
#include "engine/delegate/GameDelegate.h"
#include "engine/script/LuaWrapper.h"
#include "platform/os/Clock.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

constexpr int kEntities = 1000;
constexpr const char* kClass = "TickBench";
constexpr const char* kMethods[] = {"OnSmoothTick", "OnTick"};

struct Bench {
    Bench() {
        RunProgramStaticInit();
        Time::InitTimer(0, os::kCounterFrequency);
        clock.Install();
        gLua.Init();
        gLua.RegisterClass(kClass, "");
        gLua.ExecuteString(
            "ticks = 0\n"
            "function TickBench:OnTick() ticks = ticks + 1 end\n"
            "function TickBench:OnSmoothTick() end\n");
        gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
        tpl.SetName(kClass);
        RTTIValueStore<char*>::Assign(tpl.luaClass, const_cast<char*>(kClass));
        gGame->Init(0, 1280, 720, &delegate, nullptr, 0);
        lua_State* L = gLua.GetState();
        for (int i = 0; i < kEntities; ++i) {
            Entity* e = gEntityManager->CreateEntityFromTemplate(&tpl, nullptr, Matrix::IDENTITY,
                                                                 ENTITYCREATION_NOGUIDGENERATION, nullptr);
            gGame->AddTickEntity(e);
            gLua.PushObject(e);
            selfRefs.push_back(luaL_ref(L, LUA_REGISTRYINDEX));
        }
        for (int m = 0; m < 2; ++m) {
            lua_getglobal(L, kClass);
            lua_getfield(L, -1, kMethods[m]);
            functionRefs[m] = luaL_ref(L, LUA_REGISTRYINDEX);
            lua_pop(L, 1);
        }
        for (int i = 0; i < 8; ++i) {  // the frame-delta history filled
            clock.Advance(os::kCounterFrequency / 15);
            gGame->Tick(true);
        }
    }

    os::ManualClock clock{1'000'000'000};
    GameDelegate delegate;  // fixed steps
    EntityTemplate tpl;
    std::vector<int> selfRefs;
    int functionRefs[2] = {0, 0};
};

// One step's calls, each function found by class and method name.
bool PlainCalls(lua_State* L, const Bench& bench) {
    bool ok = true;
    for (const char* method : kMethods)
        for (int self : bench.selfRefs) {
            lua_getglobal(L, kClass);
            lua_getfield(L, -1, method);
            lua_rawgeti(L, LUA_REGISTRYINDEX, self);
            ok = lua_pcall(L, 1, 0, 0) == 0 && ok;
            lua_pop(L, 1);
        }
    return ok;
}

// The same with the functions in hand.
bool ResolvedCalls(lua_State* L, const Bench& bench) {
    bool ok = true;
    for (int function : bench.functionRefs)
        for (int self : bench.selfRefs) {
            lua_rawgeti(L, LUA_REGISTRYINDEX, function);
            lua_rawgeti(L, LUA_REGISTRYINDEX, self);
            ok = lua_pcall(L, 1, 0, 0) == 0 && ok;
        }
    return ok;
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
}

void BM_TickStep(benchmark::State& state) {
    static Bench bench;
    lua_State* L = gLua.GetState();
    double tickNs = 0, plainNs = 0, resolvedNs = 0;
    uint64_t steps = 0;
    for (auto _ : state) {
        bench.clock.Advance(os::kCounterFrequency / 15);
        const uint32_t before = gGame->GetFixedStepCount();
        auto start = std::chrono::steady_clock::now();
        gGame->Tick(true);
        tickNs += Since(start);
        steps += gGame->GetFixedStepCount() - before;
        start = std::chrono::steady_clock::now();
        if (!PlainCalls(L, bench)) state.SkipWithError("call failed");
        plainNs += Since(start);
        start = std::chrono::steady_clock::now();
        if (!ResolvedCalls(L, bench)) state.SkipWithError("call failed");
        resolvedNs += Since(start);
    }
    // A frame of 1/15 s runs one step most of the time (the float step count sometimes
    // moves a step into the next frame), so the tick's time is divided by its steps.
    if (steps == 0) return;  // a calibration run of a single frame
    const double n = static_cast<double>(state.iterations());
    const double tickUs = tickNs / static_cast<double>(steps) / 1000.0;
    state.counters["tick_us"] = tickUs;
    state.counters["plain_us"] = plainNs / n / 1000.0;
    state.counters["resolved_us"] = resolvedNs / n / 1000.0;
    state.counters["tick/plain"] = plainNs > 0 ? tickUs * 1000.0 * n / plainNs : 0;
    state.counters["tick/resolved"] = resolvedNs > 0 ? tickUs * 1000.0 * n / resolvedNs : 0;
}
BENCHMARK(BM_TickStep);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchsupport::PrintFigure("tick, us per step", reporter.Of("BM_TickStep", "tick_us"), "under 1000", 1);
    benchsupport::PrintFigure("tick / plain calls, time", reporter.Of("BM_TickStep", "tick/plain"), "at most 3");
    benchsupport::PrintFigure("tick / calls of functions in hand, time", reporter.Of("BM_TickStep", "tick/resolved"));
    benchmark::Shutdown();
    return 0;
}
