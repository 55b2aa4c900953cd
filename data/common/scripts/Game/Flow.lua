-- The game's flow: the scenario, the fixed-step count and the scene switches between the
-- sample's first scene (behind the menu) and the mission's scene "Outpost".
--
-- A scenario is the file "Scenario.lua" of the user's project folder (the "project"
-- mount). It sets the global table Scenario: mode ("menu", "mission", or "versus-host" and
-- "versus-guest" for the two sides of a versus match), seed, difficulty
-- ("casual", "advanced" or "hardcore") and timeMultiplier. Without it the menu shows and a
-- started mission plays with seed 1. Each value is checked as it is read: a bad one gets
-- one line naming the file, the key and the value, and the key's default applies.

Flow = {}

local MISSION_SCENE = "Outpost"
-- The scripts of each scene that has any, in "scenes": the mission scene's rules and its
-- sequences.
local SCENE_SCRIPTS = {Outpost = {"Outpost/Outpost", "Outpost/SceneSequences"}}
local SCENARIO_FILE = "Scenario.lua"
local DIFFICULTIES = {casual = true, advanced = true, hardcore = true}
-- Each key's default, its test and what the test asks for. The seed seeds math.random and
-- is shown as a whole number; a time multiplier beyond the top would owe more steps a
-- frame than a frame can run.
local SCENARIO_KEYS = {
    {"mode", "menu", function(v) return v == "menu" or v == "mission" or Versus.IsMode(v) end,
     "one of menu, mission, versus-host and versus-guest"},
    {"seed", 1, function(v) return type(v) == "number" and v == math.floor(v) and v >= 0 and v <= 2147483647 end,
     "a whole number from 0 to 2147483647"},
    {"difficulty", "advanced", function(v) return DIFFICULTIES[v] ~= nil end, "one of casual, advanced and hardcore"},
    {"timeMultiplier", 1, function(v) return type(v) == "number" and v > 0 and v <= 16 end,
     "a number above 0 and at most 16"},
}

-- The count of fixed steps run so far (the delegate's OnTick calls): the step numbers of
-- the log lines.
Flow.step = 0
Flow.scenario = {}
local firstSceneLoaded = false
local missionRequested = false
local missionSceneLoading = false

-- Turns an entity to a heading (degrees about y). The rotation setters take the rotation
-- as a quaternion (x, y, z, w), never as angles; one quaternion serves every turn.
local headingRotation = Vector:Instance(0, 0, 0, 1)
function Flow.SetHeading(entity, degrees)
    local half = math.rad(degrees) / 2
    headingRotation.y, headingRotation.w = math.sin(half), math.cos(half)
    entity:SetGlobalRotation(headingRotation)
end

-- A value as the scenario's line shows it: a text in quotes.
local function Shown(value)
    return type(value) == "string" and string.format("%q", value) or tostring(value)
end

local function ReadScenario()
    Scenario = nil
    if gConfigHelper:CheckIfFileExists("Scenario", "lua", "project") then
        gLua:ExecuteFile("Scenario", "project")
    end
    local s = {}
    if type(Scenario) == "table" then
        s = Scenario
    elseif Scenario ~= nil then
        gConsole:PrintWarning(string.format("%s: Scenario is %s, not a table; the defaults apply", SCENARIO_FILE,
            Shown(Scenario)))
    end
    for _, key in ipairs(SCENARIO_KEYS) do
        local name, default, good, wanted = key[1], key[2], key[3], key[4]
        if s[name] == nil then
            s[name] = default
        elseif not good(s[name]) then
            gConsole:PrintWarning(string.format("%s: %s %s is not %s; %s applies", SCENARIO_FILE, name, Shown(s[name]),
                wanted, Shown(default)))
            s[name] = default
        end
    end
    Flow.scenario = s
    gConsole:Print(string.format("Scenario: mode %s seed %d difficulty %s time multiplier %.2f", s.mode, s.seed,
        s.difficulty, s.timeMultiplier))
end

function Flow.Init()
    ReadScenario()
end

-- Whether the menu is to show at all (a scenario that plays unattended skips it).
function Flow.ShowsMenu()
    return Flow.scenario.mode == "menu"
end

-- Asks for the mission; it starts once the first scene is in (at once when it already is).
function Flow.StartMission()
    if missionRequested then
        return
    end
    missionRequested = true
    if firstSceneLoaded then
        Flow.SwitchToMission()
    end
end

function Flow.SwitchToMission()
    missionSceneLoading = true
    if Flow.scenario.timeMultiplier ~= 1 then
        gGame:SetTimeMultiplier(Flow.scenario.timeMultiplier, 0)
    end
    gGame:SwitchScene(MISSION_SCENE, NEWSCENEREQUEST_DISPLAYLOADINGSCREENDURINGINITIALIZATION)
end

-- Loads the mission's scene for a versus match (a client's receives the host's entities).
function Flow.SwitchToVersus(client)
    missionSceneLoading = true
    local flags = NEWSCENEREQUEST_DISPLAYLOADINGSCREENDURINGINITIALIZATION
    if client then
        flags = flags + NEWSCENEREQUEST_MULTIPLAYER_CLIENT
    end
    gGame:SwitchScene(MISSION_SCENE, flags)
end

-- Runs the scripts of a scene (none for a scene without scripts; the mission scene's when
-- no scene is named).
function Flow.RunSceneScripts(sceneName)
    for _, name in ipairs(SCENE_SCRIPTS[sceneName or MISSION_SCENE] or {}) do
        gLua:ExecuteFile(name, "scenes")
    end
end

-- The Game's OnAfterSwitchScene.
function Flow.OnAfterSwitchScene()
    if missionSceneLoading and gGame:IsLastSwitchedSceneEqual(MISSION_SCENE) then
        missionSceneLoading = false
        Flow.RunSceneScripts(MISSION_SCENE)
        RegisterAllScriptSequences()
        if Versus.Active() then
            Versus.OnSceneLoaded()
        else
            Mission.Begin(Flow.scenario)
        end
        return
    end
    if not firstSceneLoaded then
        firstSceneLoaded = true
        if Versus.IsMode(Flow.scenario.mode) then
            Versus.Begin(Flow.scenario)
            return
        end
        if Flow.scenario.mode == "mission" then
            missionRequested = true
        end
        if missionRequested then
            Flow.SwitchToMission()
        end
    end
end

-- A point of the Game's screen space (0 to 1 across the window) in window pixels.
function Flow.WindowPixels(point)
    local size = UIScreen:GetPhysicalScreenResolution()
    return math.floor(point.x * size.x + 0.5), math.floor(point.y * size.y + 0.5)
end

-- One fixed step (the delegate's OnTick).
function Flow.OnTick()
    Flow.step = Flow.step + 1
    Controls.OnTick()
    Mission.OnTick()
    Versus.OnTick()
end

-- A frame, ticked or not (the delegate's OnSmoothTick and OnPauseTick).
function Flow.OnFrame()
    Controls.OnFrame()
    Mission.OnFrame()
    Versus.OnFrame()
end
