// The cost of crossing the binding frame, each beside its baseline in the same run:
//  - v:Dot3(w) through the generated maths binding (checked reading of both objects,
//    the rejection check, the float rule) beside a plain lua_CFunction global that reads
//    the same two userdata and does the same work (goal: at most 2.5 times the plain call);
//  - Vector:Instance(1, 2, 3), a script-owned value from the engine allocator with its
//    collector, beside a plain function that returns a table of three numbers (goal: at
//    most 4 times the plain function);
//  - e:GetName() on an entity through the generated entity binding beside a plain
//    lua_CFunction global that reads the entity from the userdata and pushes its name
//    (goal: at most 2.5 times the plain call).
// Both ways run as script loops of kLoop calls, interleaved within one benchmark, so the
// load of a shared machine falls on both alike. Prints the three ratios after the runs, the
// medians of the repetitions.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <lua.hpp>

#include "bench/RateReporter.h"
#include "bench/ScriptBench.h"
#include "core/math/Vector.h"
#include "engine/entity/Entity.h"
#include "engine/entity/EntityManager.h"
#include "engine/entity/EntityTemplate.h"
#include "engine/script/LuaWrapper.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

constexpr int kLoop = 1000;

// The plain baseline of v:Dot3(w): the two objects straight from their userdata.
int PlainDot3(lua_State* L) {
    const Vector* a = lua_isuserdata(L, 1) ? *static_cast<Vector**>(lua_touserdata(L, 1)) : nullptr;
    const Vector* b = lua_isuserdata(L, 2) ? *static_cast<Vector**>(lua_touserdata(L, 2)) : nullptr;
    lua_pushnumber(L, a && b ? a->Dot3(*b) : 0.0);
    return 1;
}

// The plain baseline of Vector:Instance(x, y, z): a table of the three numbers.
int PlainTriple(lua_State* L) {
    lua_createtable(L, 3, 0);
    for (int i = 1; i <= 3; ++i) {
        lua_pushnumber(L, lua_tonumber(L, i));
        lua_rawseti(L, -2, i);
    }
    return 1;
}

// The plain baseline of e:GetName(): the entity straight from its userdata.
int PlainGetName(lua_State* L) {
    const Entity* e = lua_isuserdata(L, 1) ? *static_cast<Entity**>(lua_touserdata(L, 1)) : nullptr;
    lua_pushstring(L, e ? e->GetName() : "");
    return 1;
}

// The global "e": an entity of a small scene, made once and kept for the run.
void PublishEntity(lua_State* L) {
    static Entity* entity = [] {
        static EntityTemplate entityTemplate;
        entityTemplate.SetName("bench");
        gEntityManager->Init(BoundingBox4(Vector(-100, -50, -100, 1), Vector(100, 50, 100, 1)), 10.0f);
        Entity* e = gEntityManager->CreateEntityFromTemplate(&entityTemplate, nullptr, Matrix::IDENTITY, 0, nullptr);
        if (e) e->SetName("tower");
        return e;
    }();
    gLua.PushObject(entity);
    lua_setglobal(L, "e");
}

void Compare(benchmark::State& state, const char* bound, const char* plain, const char* boundName,
             const char* plainName, const char* ratioName) {
    benchsupport::StartScriptHost();
    lua_State* L = gLua.GetState();
    lua_register(L, "PlainDot3", &PlainDot3);
    lua_register(L, "PlainTriple", &PlainTriple);
    lua_register(L, "PlainGetName", &PlainGetName);
    PublishEntity(L);
    const int refs[2] = {benchsupport::CompileLoop(L, bound), benchsupport::CompileLoop(L, plain)};
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
    lua_gc(L, LUA_GCCOLLECT, 0);
    const double calls = static_cast<double>(state.iterations()) * kLoop;
    state.counters[boundName] = ns[0] / calls;
    state.counters[plainName] = ns[1] / calls;
    state.counters[ratioName] = ns[1] > 0 ? ns[0] / ns[1] : 0;
    state.SetItemsProcessed(state.iterations() * 2 * kLoop);
}

void BM_BoundCall(benchmark::State& state) {
    Compare(state,
            "local v, w, s = Vector:Instance(1, 2, 3), Vector:Instance(4, 5, 6), 0 "
            "for i = 1, 1000 do s = s + v:Dot3(w) end",
            "local v, w, s = Vector:Instance(1, 2, 3), Vector:Instance(4, 5, 6), 0 "
            "for i = 1, 1000 do s = s + PlainDot3(v, w) end",
            "bound_ns", "plain_ns", "bound/plain");
}
BENCHMARK(BM_BoundCall);

void BM_OwnedValue(benchmark::State& state) {
    Compare(state, "for i = 1, 1000 do local v = Vector:Instance(1, 2, 3) end",
            "for i = 1, 1000 do local v = PlainTriple(1, 2, 3) end", "owned_ns", "table_ns", "owned/table");
}
BENCHMARK(BM_OwnedValue);

void BM_EntityCall(benchmark::State& state) {
    Compare(state, "local s for i = 1, 1000 do s = e:GetName() end",
            "local s for i = 1, 1000 do s = PlainGetName(e) end", "entity_ns", "plain_name_ns", "entity/plain");
}
BENCHMARK(BM_EntityCall);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchsupport::PrintFigure("v:Dot3(w) bound / plain, time", reporter.Of("BM_BoundCall", "bound/plain"),
                              "at most 2.5");
    benchsupport::PrintFigure("Vector:Instance / a table of three numbers, time",
                              reporter.Of("BM_OwnedValue", "owned/table"), "at most 4");
    benchsupport::PrintFigure("e:GetName() bound / plain, time", reporter.Of("BM_EntityCall", "entity/plain"),
                              "at most 2.5");
    benchmark::Shutdown();
    return 0;
}
