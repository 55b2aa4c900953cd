// One fixed step of the sample mission at a crowded moment, against the same rules in plain
// Lua. Both run in the same benchmark, interleaved step by step, so the load of a shared
// machine falls on both alike:
//  - the program's own start-up, headless on the recording device, on the built sample
//    data with a scenario that plays the mission; once "Outpost" has loaded and the level's
//    own walkers are out, the mission is filled to 24 towers (copies of the level's tower
//    markers at offsets around them) and 120 walkers spread along the route. Timed: the
//    step's game work, the delegate's OnTick (the mission's rules and the ribbon's update,
//    through the sample scripts), the tick lists, the delegate's OnAfterTick and the
//    pending trigger checks;
//  - the baseline: the same rule scripts (Game/*.lua and the scene's script, read from the
//    source tree) in a plain Lua state where Lua tables stand in for the engine's objects
//    (entities, pointers, the gatherer, the flags' paths; every other engine call does
//    nothing), on the same route and tower places, filled the same way. Timed: Flow.OnTick.
// Nobody dies (every health is raised out of reach) and the walkers go back to their
// places every kRewindSteps steps, so every step does the same work.
// Prints both times per step (medians of three repetitions) and their ratio. Goals: the
// full step at most 3 times the baseline, and under 4 ms.
// bench-link: app
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <lua.hpp>
#include <string>

#include "app/MainWindow.h"
#include "bench/BenchSupport.h"
#include "bench/RateReporter.h"
#include "core/config/GameConfig.h"
#include "core/rtti/RTTIClass.h"
#include "core/rtti/RTTIProperty.h"
#include "engine/VornexEngine.h"
#include "engine/script/LuaWrapper.h"
#include "game/Game.h"
#include "game/delegate/PCMacGameDelegate.h"
#include "platform/gfx/GfxDevice.h"
#include "scene/entities/TriggerEntity.h"
#include "tests/support/ProgramStaticInit.h"

namespace {

namespace sfs = std::filesystem;

constexpr int kTowers = 24;
constexpr int kWalkers = 120;
constexpr int kStepsPerRepetition = 300;
constexpr int kRewindSteps = 100;
// Frames the start may take: the first scene, the switch and the level's own walkers.
constexpr int kStartFrames = 4000;
constexpr const char* kTitle = "Mission Bench";

// Run in both states once the mission runs: fills it to the counts and makes every step
// the same. Towers are copies of the level's markers (any object with the marker's
// calls), six places around each; walkers are spread half a unit apart along the route.
const char* const kFill = R"(
local OFFSETS = {{0, 0}, {9, 0}, {-9, 0}, {0, 9}, {0, -9}, {9, 9}}
function BenchFill(markers, towers, walkers)
    local copies = {}
    for i = #Towers.list + 1, towers do
        local m = markers[(i - 1) % #markers + 1]
        local o = OFFSETS[math.floor((i - 1) / #markers) % #OFFSETS + 1]
        local name = m:GetName() .. "_" .. i
        local yes = function() return true end
        copies[#copies + 1] = {
            IsActive = yes, IsVisibleInCasual = yes, IsVisibleInAdvanced = yes, IsVisibleInHardcore = yes,
            GetName = function() return name end,
            GetTowerTemplateName = function() return m:GetTowerTemplateName(false) end,
            GetGlobalLocationMatrix = function()
                local p = m:GetGlobalPosition()
                local t = Matrix:Instance()
                t:LoadTranslation(p.x + o[1], p.y, p.z + o[2])
                return t
            end}
    end
    Towers.Spawn(copies, "advanced")
    local level = OutpostScene.Read()
    local template = OutpostScene.UnitTemplate(level, level.units[1])
    while #Squad.units < walkers do
        if Squad.Spawn(template, #Squad.units + 1) == nil then break end
    end
    for _, tower in ipairs(Towers.list) do tower.health = 1e12 end
    for i, unit in ipairs(Squad.units) do
        unit.health = 1e12
        unit.start = (#Squad.units - i) * 0.5
    end
    BenchRewind()
    return #Towers.list, #Squad.units
end
function BenchRewind()
    for _, unit in ipairs(Squad.units) do
        unit.distance, unit.arrived, unit.alive = unit.start, false, true
    end
end
function BenchLevelOwnWalkersOut()
    return Mission.IsRunning() and #Squad.units >= #OutpostScene.Read().units
end
)";

// The level as the baseline needs it, written by the real state as a Lua table: the
// route's flags in order, the tower markers, the player marker and the level parameters.
const char* const kDescribeLevel = R"(
function BenchDescribeLevel()
    local level = OutpostScene.Read()
    local out = {"return {"}
    local function add(s) out[#out + 1] = s end
    local s = level.start
    add(string.format("start = {%.3f, %.3f, %.3f}, timeLimit = %d, airstrikes = %d, repairs = %d,", s.x, s.y, s.z,
        level.timeLimit, level.airstrikes, level.repairs))
    add("units = {") for _, u in ipairs(level.units) do add(string.format("%q,", u)) end add("},")
    add(string.format("templateFolder = %q, flags = {", level.templateFolder or ""))
    for _, f in ipairs(Squad.RouteFlags()) do
        local p = f:GetGlobalPosition()
        add(string.format("{%q, %.3f, %.3f, %.3f},", f:GetName(), p.x, p.y, p.z))
    end
    add("}, markers = {")
    for _, m in ipairs(level.towerMarkers) do
        local p = m:GetGlobalPosition()
        add(string.format("{%q, %q, %.3f, %.3f, %.3f},", m:GetName(), m:GetTowerTemplateName(false), p.x, p.y, p.z))
    end
    add("}}")
    return table.concat(out, "\n")
end
)";

// The baseline's stand-ins for the engine: plain tables with the calls the rules make.
const char* const kStandIns = R"(
local function Nothing() return nil end
-- An engine object whose every call does nothing and answers nil.
local function Inert() return setmetatable({}, {__index = function() return Nothing end}) end
for _, name in ipairs({"gGame", "gConsole", "gSoundEntriesContainer", "gConfigHelper", "gVideoEngine",
                       "LOSResult", "UIScreen", "SoundEntryParams", "LuaWrapper", "Time"}) do
    _G[name] = Inert()
end
UIElement = {CreateFromRecipe = Nothing}
ZKRHackedSetCounterText = Nothing
ReplicateMethod = Nothing
Player = {}
zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget = function(tower, targets, current) return current end
gLua = {RegisterClass = function(_, name) _G[name] = _G[name] or {} end, ExecuteFile = Nothing}
ZKRProgressAreaTriggerEntity = {}

Vector = {Instance = function(_, x, y, z, w) return {x = x or 0, y = y or 0, z = z or 0, w = w or 0} end}
local MatrixMethods = {}
MatrixMethods.__index = MatrixMethods
function MatrixMethods:LoadTranslation(x, y, z) self.v[3] = Vector:Instance(x, y, z, 1) end
Matrix = {Instance = function() return setmetatable({v = {[3] = Vector:Instance(0, 0, 0, 1)}}, MatrixMethods) end}

local Pointer = {}
Pointer.__index = Pointer
function Pointer:Get() local e = self.e return e ~= nil and not e.deleted and e or nil end
function Pointer:Set(e) self.e = e end
function Pointer:SetNull() self.e = nil end
LuaEntityPointer = {Instance = function(_, e) return setmetatable({e = e}, Pointer) end}
LuaUIPointer = LuaEntityPointer

-- Entities in creation order (the gatherer's order).
local entities = {}
local Entity = {}
Entity.__index = Entity
local function NewEntity(name, x, y, z)
    local e = setmetatable({name = name, x = x, y = y, z = z, group = 0, angle = 0, neighbours = {}}, Entity)
    entities[#entities + 1] = e
    return e
end
function Entity:GetName() return self.name end
function Entity:SetName(name) self.name = name end
function Entity:SetGroup(group) self.group = group end
function Entity:GetGlobalPosition() return Vector:Instance(self.x, self.y, self.z, 1) end
function Entity:SetGlobalPosition3(x, y, z) self.x, self.y, self.z = x, y, z end
function Entity:SetGlobalRotation(q) self.angle = math.deg(2 * math.atan2(q.y, q.w)) end
function Entity:SetGlobalLocationMatrix(m) local p = m.v[3] self.x, self.y, self.z = p.x, p.y, p.z end
function Entity:DeleteMe() self.deleted = true end
function Entity:GetNeighbourCount() return #self.neighbours end
function Entity:GetNeighbour(i) return self.neighbours[i + 1] end
function Entity:GetNeighbourDistance(b) return math.sqrt((b.x - self.x) ^ 2 + (b.z - self.z) ^ 2) end
function Entity:GetGlobalPositionOnPath(b, d, m)
    local length = self:GetNeighbourDistance(b)
    local t = length > 0 and d / length or 0
    m.v[3] = Vector:Instance(self.x + (b.x - self.x) * t, 0, self.z + (b.z - self.z) * t, 1)
end
function Entity:IsActive() return true end
function Entity:IsVisibleInCasual() return true end
function Entity:IsVisibleInAdvanced() return true end
function Entity:IsVisibleInHardcore() return true end
function Entity:GetGlobalLocationMatrix()
    local m = Matrix:Instance()
    m:LoadTranslation(self.x, self.y, self.z)
    return m
end
function Entity:BeginPath() end
function Entity:AddGraphSegment() end
function Entity:FinishPath() end
function Entity:UpdateSquadPosition() end

local Gatherer = {}
Gatherer.__index = Gatherer
function Gatherer:Init(group, p, radius)
    local found, r2 = {}, radius * radius
    for _, e in ipairs(entities) do
        if not e.deleted and e.group == group and (e.x - p.x) ^ 2 + (e.y - p.y) ^ 2 + (e.z - p.z) ^ 2 <= r2 then
            found[#found + 1] = e
        end
    end
    self.found = found
end
function Gatherer:GetEntitiesNumber() return #self.found end
function Gatherer:GetEntity(i) return self.found[i + 1] end
NearEntitiesGatherer = {Instance = function() return setmetatable({found = {}}, Gatherer) end}

local flags, ribbon = {}, nil
gEntityManager = {
    CreateEntityInGame = function(_, template, parent, m)
        local p = m.v[3]
        return NewEntity(template, p.x, p.y, p.z)
    end,
    LOS = function() return true end,
    FindEntityByName = function(_, name) return name == "Route" and ribbon or nil end,
    GetNearestFlag = function() return flags[1] end,
}

-- The level the real state described, as the scene script's reading.
function BenchStandInLevel(d)
    entities = {}
    for i, f in ipairs(d.flags) do
        flags[i] = NewEntity(f[1], f[2], f[3], f[4])
        if i > 1 then flags[i - 1].neighbours = {flags[i]} end
    end
    ribbon = NewEntity("Route", 0, 0, 0)
    local markers = {}
    for i, m in ipairs(d.markers) do
        local marker = NewEntity(m[1], m[3], m[4], m[5])
        marker.GetTowerTemplateName = function() return m[2] end
        markers[i] = marker
    end
    OutpostScene.Read = function()
        return {timeLimit = d.timeLimit, airstrikes = d.airstrikes, repairs = d.repairs, units = d.units,
                templateFolder = d.templateFolder, heroTemplate = "", towerMarkers = markers, ribbon = ribbon,
                start = Vector:Instance(d.start[1], d.start[2], d.start[3], 1)}
    end
    return markers
end
)";

// The sample data next to the program (build/app), a private user folder whose project
// folder holds the scenario.
sfs::path gUserRoot;

bool WriteUserFolder() {
    char pattern[] = "/tmp/mission_bench_XXXXXX";
    if (!mkdtemp(pattern)) return false;
    gUserRoot = pattern;
    const sfs::path project = gUserRoot / "home/Brintavolque" / kTitle;
    sfs::create_directories(project);
    std::ofstream(project / "Scenario.lua") << "Scenario = {mode = \"mission\", seed = 1}\n";
    setenv("XDG_DATA_HOME", (gUserRoot / "home").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", gUserRoot.c_str(), 1);
    for (const char* name : {"ONLINE_BROKER_DIR", "ONLINE_DATA_DIR", "ONLINE_ACCOUNT"}) unsetenv(name);
    return true;
}

// Runs a Lua expression in a state and answers its number results (nil: 0).
bool Evaluate(lua_State* L, const std::string& expression, double* first = nullptr, double* second = nullptr) {
    const int top = lua_gettop(L);
    const bool ok = luaL_dostring(L, ("return " + expression).c_str()) == 0;
    if (!ok) std::fprintf(stderr, "mission_bench: %s: %s\n", expression.c_str(), lua_tostring(L, -1));
    if (ok && first) *first = lua_tonumber(L, top + 1);
    if (ok && second) *second = lua_tonumber(L, top + 2);
    lua_settop(L, top);
    return ok;
}

struct Mission {
    PCMacGameDelegate* delegate = nullptr;
    lua_State* baseline = nullptr;
    int baselineTick = LUA_NOREF;
    bool ready = false;

    bool StartProgram() {
        RunProgramStaticInit();
        gfx::SelectDeviceKind(gfx::DeviceKind::Recording);
        if (!WriteUserFolder()) return false;
        const sfs::path build = sfs::canonical("/proc/self/exe").parent_path().parent_path();
        GameConfig& c = *gGameConfig;
        c.useContainerFiles = true;
        if (const RTTIProperty* repository = EngineConfig::RegisterClass()->FindProperty("Repository path"))
            repository->FromString(gGameConfig, (build / "app").c_str());
        gVornexEngine.Timer().SetStepTime(true);
        app::ResetMainWindowState();
        if (!app::CreateMainWindow(wnd::kShowNormal, kTitle)) return false;
        delegate = new PCMacGameDelegate(nullptr);
        app::StartGame(delegate, nullptr, 0);
        lua_State* L = gLua.GetState();
        if (!L || luaL_dostring(L, kFill) != 0 || luaL_dostring(L, kDescribeLevel) != 0) return false;
        for (int i = 0; i < kStartFrames; ++i) {
            double out = 0;
            if (!app::RunMainLoopPass()) return false;
            if (Evaluate(L, "BenchLevelOwnWalkersOut() and 1 or 0", &out) && out == 1) return true;
        }
        std::fprintf(stderr, "mission_bench: the mission did not start within %d frames\n", kStartFrames);
        return false;
    }

    bool Fill(lua_State* L, const char* markers) {
        double towers = 0, walkers = 0;
        if (!Evaluate(L, std::string("BenchFill(") + markers + ", " + std::to_string(kTowers) + ", " +
                             std::to_string(kWalkers) + ")", &towers, &walkers))
            return false;
        if (towers != kTowers || walkers != kWalkers) {
            std::fprintf(stderr, "mission_bench: filled to %.0f towers and %.0f walkers\n", towers, walkers);
            return false;
        }
        return true;
    }

    // The same rule scripts over stand-ins, the level copied from the real one.
    bool StartBaseline(const std::string& level) {
        baseline = luaL_newstate();
        luaL_openlibs(baseline);
        const sfs::path data = sfs::path(PROJECT_SOURCE_ROOT) / "data";
        if (luaL_dostring(baseline, kStandIns) != 0) return false;
        for (const char* script : {"common/scripts/Game/Flow.lua", "common/scripts/Game/Audio.lua",
                                   "common/scripts/Game/Hud.lua", "common/scripts/Game/Squad.lua",
                                   "common/scripts/Game/Towers.lua", "common/scripts/Game/Versus.lua",
                                   "common/scripts/Game/Mission.lua",
                                   "common/scripts/Game/Controls.lua", "scenes/Outpost/Outpost.lua"}) {
            if (luaL_dofile(baseline, (data / script).c_str()) != 0) {
                std::fprintf(stderr, "mission_bench: %s\n", lua_tostring(baseline, -1));
                return false;
            }
        }
        if (luaL_dostring(baseline, kFill) != 0 || luaL_loadstring(baseline, level.c_str()) != 0 ||
            lua_pcall(baseline, 0, 1, 0) != 0)
            return false;
        lua_setglobal(baseline, "benchLevel");
        if (!Evaluate(baseline, "BenchStandInLevel(benchLevel) ~= nil") ||
            !Evaluate(baseline, "Mission.Begin({seed = 1, difficulty = 'advanced'})"))
            return false;
        double out = 0;
        for (int i = 0; i < kStartFrames && out != 1; ++i)
            if (!Evaluate(baseline, "Flow.OnTick() or (BenchLevelOwnWalkersOut() and 1 or 0)", &out)) return false;
        if (out != 1 || !Fill(baseline, "OutpostScene.Read().towerMarkers")) return false;
        lua_getglobal(baseline, "Flow");
        lua_getfield(baseline, -1, "OnTick");
        baselineTick = luaL_ref(baseline, LUA_REGISTRYINDEX);
        lua_pop(baseline, 1);
        return true;
    }

    bool Start() {
        if (!StartProgram()) return false;
        lua_State* L = gLua.GetState();
        lua_getglobal(L, "BenchDescribeLevel");
        if (lua_pcall(L, 0, 1, 0) != 0) return false;
        const std::string level = lua_tostring(L, -1) ? lua_tostring(L, -1) : "";
        lua_pop(L, 1);
        return Fill(L, "OutpostScene.Read().towerMarkers") && StartBaseline(level);
    }

    // The game work of one fixed step, as the Game runs it.
    void FullStep() {
        delegate->OnTick();
        gGame->TickEntities();
        delegate->OnAfterTick();
        TriggerEntity::ProcessPendingChecks();
    }

    bool BaselineStep() {
        lua_rawgeti(baseline, LUA_REGISTRYINDEX, baselineTick);
        return lua_pcall(baseline, 0, 0, 0) == 0;
    }

    void Rewind() {
        luaL_dostring(gLua.GetState(), "BenchRewind()");
        luaL_dostring(baseline, "BenchRewind()");
    }

    bool StillRunning() {
        double full = 0, plain = 0;
        return Evaluate(gLua.GetState(), "Mission.IsRunning() and 1 or 0", &full) &&
               Evaluate(baseline, "Mission.IsRunning() and 1 or 0", &plain) && full == 1 && plain == 1;
    }
};

Mission& TheMission() {
    static Mission* mission = [] {
        auto* m = new Mission();
        m->ready = m->Start();
        if (!m->ready) std::fprintf(stderr, "mission_bench: the mission did not start\n");
        return m;
    }();
    return *mission;
}

void BM_MissionStep(benchmark::State& state) {
    Mission& m = TheMission();
    if (!m.ready) {
        state.SkipWithError("the mission did not start");
        return;
    }
    double ns[2] = {0, 0};
    bool ok = true;
    int steps = 0;
    for (auto _ : state) {
        if (++steps % kRewindSteps == 0) m.Rewind();
        auto start = std::chrono::steady_clock::now();
        m.FullStep();
        auto end = std::chrono::steady_clock::now();
        ns[0] += std::chrono::duration<double, std::nano>(end - start).count();
        start = std::chrono::steady_clock::now();
        ok = m.BaselineStep() && ok;
        end = std::chrono::steady_clock::now();
        ns[1] += std::chrono::duration<double, std::nano>(end - start).count();
    }
    if (!ok || !m.StillRunning()) state.SkipWithError("a step failed or the mission ended");
    const double n = static_cast<double>(state.iterations());
    state.counters["full_ms"] = ns[0] / n / 1e6;
    state.counters["baseline_ms"] = ns[1] / n / 1e6;
    state.counters["full/baseline"] = ns[1] > 0 ? ns[0] / ns[1] : 0;
}
BENCHMARK(BM_MissionStep)->Unit(benchmark::kMillisecond)->Iterations(kStepsPerRepetition)->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchsupport::RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("mission step (%d towers, %d walkers): full %s ms, baseline %s ms (medians of the repetitions)\n",
                kTowers, kWalkers, benchsupport::Describe(reporter.Of("BM_MissionStep", "full_ms"), 3).c_str(),
                benchsupport::Describe(reporter.Of("BM_MissionStep", "baseline_ms"), 3).c_str());
    benchsupport::PrintFigure("full step / baseline step, time", reporter.Of("BM_MissionStep", "full/baseline"),
                              "at most 3");
    benchsupport::PrintFigure("full step, ms", reporter.Of("BM_MissionStep", "full_ms"), "under 4", 3);
    std::fflush(stdout);
    if (TheMission().ready) {
        gGame->Quit();
        app::RunMainLoopPass();
    }
    std::error_code failed;
    sfs::remove_all(gUserRoot, failed);
    benchmark::Shutdown();
    return 0;
}
