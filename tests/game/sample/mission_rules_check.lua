-- The mission's rules the sample's program cannot show without a player: the repair's
-- count of walkers healed, and a mission that cannot start.
--
--   lua5.1 mission_rules_check.lua <folder of the game's scripts>
--
-- Loads the sample's Game/Squad.lua and Game/Mission.lua in a stand-in of the engine:
-- every global the scripts reach and this file does not define is a stub that answers
-- any field and any call with another stub; the console's lines, the error counter and
-- the Game's quit are recorded. Prints one line per failed case and exits with 1 when
-- any failed.

local folder = arg[1] or "."
local failures = 0

local function Stub()
    return setmetatable({}, {__index = function() return Stub() end, __call = function() return Stub() end})
end
-- The scene's script defines OutpostScene: without it the name stays nil.
local ABSENT = {OutpostScene = true}
setmetatable(_G, {__index = function(t, name)
    if ABSENT[name] then
        return nil
    end
    local s = Stub()
    rawset(t, name, s)
    return s
end})

local lines, errorsCounted, quits = {}, 0, 0
gConsole = {}
function gConsole:Print(text) lines[#lines + 1] = text end
gConsole.PrintWarning, gConsole.PrintError = gConsole.Print, gConsole.Print
LuaWrapper = {}
function LuaWrapper:IncErrorCounter() errorsCounted = errorsCounted + 1 end
gGame = Stub()
function gGame:Quit() quits = quits + 1 end
Flow = {step = 0, ShowsMenu = function() return false end}

dofile(folder .. "/Game/Squad.lua")
dofile(folder .. "/Game/Mission.lua")
-- The route needs the level's flags: not this check's concern.
Squad.BuildRoute = function() return {} end
Squad.RouteFlags = function() return {} end

local function Level(start, repairs)
    return {timeLimit = 120, airstrikes = 0, repairs = repairs, units = {}, towerMarkers = {}, start = start}
end

-- Starts the mission on a level (nil: the scene's script did not run; a function: the
-- scene script's reading of the level); the error it raised, or nil.
local function Begin(level)
    local read = type(level) == "function" and level or function() return level end
    OutpostScene = level and {Read = read} or nil
    lines, errorsCounted, quits = {}, 0, 0
    local ok, raised = pcall(Mission.Begin, {seed = 1, difficulty = "advanced"})
    return not ok and tostring(raised) or nil
end

local function Fail(what, text)
    failures = failures + 1
    print("FAIL: " .. what .. ": " .. text)
end

local function Logged(pattern)
    for _, line in ipairs(lines) do
        if string.find(line, pattern) then
            return line
        end
    end
    return nil
end

-- The repair heals each walker alive and hurt, and says how many it healed.
local FULL = 1e9  -- more than a walker's health: not hurt
local repairs = {
    {"two hurt, one whole", {{true, 1}, {true, 1}, {true, FULL}}, 2},
    {"one hurt among the dead", {{false, 1}, {true, 40}, {false, 0}}, 1},
    {"all whole", {{true, FULL}, {true, FULL}}, 0},
    {"none", {}, 0},
}
for _, case in ipairs(repairs) do
    Begin(Level({x = 0, y = 0, z = 0}, 1))
    if not Mission.IsRunning() then
        Fail(case[1], "the mission did not start")
    end
    Squad.units = {}
    for i, u in ipairs(case[2]) do
        Squad.units[i] = {name = "W" .. i, alive = u[1], health = u[2]}
    end
    Mission.Repair()
    local line = Logged("^Repair: ")
    local expected = string.format("Repair: %d walkers healed", case[3])
    if line ~= expected then
        Fail(case[1], string.format("%q, not %q", tostring(line), expected))
    end
    -- The level's one repair is spent.
    lines = {}
    Mission.Repair()
    if Logged("^Repair: ") then
        Fail(case[1], "a second repair of a level with one")
    end
end

-- A mission that cannot start says why, and raises it as an error out of the scene's start
-- (the program counts it, says it and ends), once: neither counted nor ended twice.
local cannot = {
    {"no player marker", Level(nil, 1), "the level has no player marker"},
    {"no scene script", nil, "the scene's script did not run"},
    {"a level that cannot be read", function() error("level.lua:7: unreadable", 0) end, "level.lua:7: unreadable"},
}
for _, case in ipairs(cannot) do
    local raised = Begin(case[2])
    local expected = "Mission M01 cannot start: " .. case[3]
    if not Logged("^" .. expected:gsub("%p", "%%%0") .. "$") or #lines ~= 1 then
        Fail(case[1], "no one line " .. string.format("%q", expected) .. " (" .. table.concat(lines, " | ") .. ")")
    end
    if raised ~= expected then
        Fail(case[1], string.format("raised %q, not %q", tostring(raised), expected))
    end
    if errorsCounted ~= 0 or quits ~= 0 or Mission.IsRunning() then
        Fail(case[1], string.format("%d errors counted, %d quits, running %s", errorsCounted, quits,
            tostring(Mission.IsRunning())))
    end
end

print(string.format("mission rules: %d failures", failures))
os.exit(failures == 0 and 0 or 1)
