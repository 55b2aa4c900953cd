// The cost of building UI from scripts: a tree of 1,000 text elements under a root, each
// with a position, a colour and one move action, then the root released, built once by a
// script through the UI package and once by C++ calls of the same natives. Both ways run
// in each iteration, one after the other, so the load of a shared machine falls on both
// alike. No renderer runs: the ops each call posts are applied at once on the posting
// thread, the same for both ways. Prints both times and their ratio, the median of three
// repetitions (goal: the script at most 3 times the C++ build).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <lua.hpp>

#include "bench/ScriptBench.h"
#include "BenchSupport.h"
#include "RateReporter.h"
#include "engine/script/LuaWrapper.h"
#include "tests/support/ProgramStaticInit.h"
#include "ui/elements/UIElement.h"
#include "ui/elements/UIText.h"

namespace {

constexpr int kElements = 1000;

constexpr const char* kScriptBuild =
    "local root = UIElement:new()\n"
    "local target = Vector:Instance(100, 50, 0, 1)\n"
    "for i = 1, 1000 do\n"
    "    local t = UIText:new(\"x\", \"font\")\n"
    "    root:AddChild(t)\n"
    "    t:SetPosition(i, i)\n"
    "    t:SetColor(1, 0.5, 0.25)\n"
    "    t:Move(1, target, 0, 0)\n"
    "end\n"
    "root:Release()\n";

void NativeBuild() {
    UIElement* root = new UIElement();
    const Vector target(100, 50, 0, 1);
    for (int i = 1; i <= kElements; ++i) {
        UIText* t = new UIText("x", "font", 10, true);
        root->AddChild(t);
        t->SetPosition(float(i), float(i), 0);
        t->SetColor(1, 0.5f, 0.25f, 1);
        t->Move(1, target, 0, 0);
    }
    root->Release();
}

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_UITree(benchmark::State& state) {
    benchsupport::StartScriptHost();
    lua_State* L = gLua.GetState();
    if (!L || luaL_loadstring(L, kScriptBuild) != 0) {
        state.SkipWithError("the script does not compile");
        return;
    }
    const int ref = luaL_ref(L, LUA_REGISTRYINDEX);
    double script = 0, native = 0;
    bool ok = true;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
        ok = lua_pcall(L, 0, 0, 0) == 0 && ok;
        if (!ok) lua_settop(L, 0);
        // The dead handles of the released tree are the script's cost too.
        lua_gc(L, LUA_GCCOLLECT, 0);
        script += Seconds(start);
        start = std::chrono::steady_clock::now();
        NativeBuild();
        native += Seconds(start);
    }
    luaL_unref(L, LUA_REGISTRYINDEX, ref);
    if (!ok) state.SkipWithError("the script failed");
    const double n = double(state.iterations());
    state.counters["script_s"] = script / n;
    state.counters["native_s"] = native / n;
    state.counters["script/native"] = native > 0 ? script / native : 0;
}
BENCHMARK(BM_UITree)->Unit(benchmark::kMillisecond)->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (!reporter.Values("BM_UITree", "script_s").empty()) {
        std::printf("UI tree of %d elements: script %.2f ms, C++ %.2f ms (medians)\n", kElements,
                    reporter.Median("BM_UITree", "script_s") * 1e3, reporter.Median("BM_UITree", "native_s") * 1e3);
        benchsupport::PrintFigure("UI tree: script / C++, time", reporter.Of("BM_UITree", "script/native"),
                                  "at most 3");
    }
    gLua.Close();
    return 0;
}
