-- The single-player mission "M01" on the scene "Outpost": its rules, run once per fixed
-- step from the delegate's OnTick, and its score.
--
-- The squad's walkers leave the player marker one after another and walk the route; the
-- towers shoot at them and they fire back; the minefield hurts those inside it. The
-- mission is won when every walker alive has reached the route's end ("MissionEnd"), lost
-- when none is left or at the time limit, and abandoned with Escape. The score is
-- survivors x 1000 + towers destroyed x 250 + whole seconds left x 10 (a mission lost at
-- the time limit has none left), and 0 when abandoned. The profile records a finished
-- mission once its data has arrived; the program quits after that, at once when the
-- mission played unattended, else once the player, shown the result, presses a key or
-- clicks. A mission that cannot start says why, counts it as a script error and quits.
-- Only game time and math.random (seeded from the scenario) drive the rules, and every
-- walk over entities takes an order the engine or the level fixes, so a run without input
-- plays the same on every run.

Mission = {}

local MISSION_ID = "M01"
local MISSION_NUMBER = 1
local STEP = 1 / 15            -- seconds of game time per fixed step
local RESULT_SECONDS = 2.0
local RECORD_WAIT_SECONDS = 30.0 -- after the result, how long a record waits for the profile's data
local AIRSTRIKE_RADIUS = 12.0
local AIRSTRIKE_DAMAGE = 100
local ROUTE_SAMPLE = 1.0       -- units between two route samples; every tenth is logged
local CAMERA_MIN, CAMERA_MAX, CAMERA_STEP = 40.0, 140.0, 10.0
-- The distinctions' thresholds, lowest level first: a level per threshold reached.
local DISTINCTIONS = {
    {"Celerity", function(r) return r.result == "won" and r.secondsLeft or 0 end, {30, 50, 70}},
    {"Ruthlessness", function(r) return r.towers end, {1, 2, 3}},
    {"Efficiency", function(r) return r.survivors end, {2, 4, 6}},
}

local state = "idle"           -- idle, running, result, waiting (for the player), done
local level = nil
local steps = 0                -- fixed steps since the mission started
local resultSteps = 0
local airstrikesLeft, repairsLeft = 0, 0
local outcome = nil
local unrecorded = nil         -- a finished mission's result waiting for the profile's data
local cameraDistance = 0
local cameraDirection = nil
local deathsByArea = {}
local screenLogged = false
local ribbon = LuaEntityPointer:Instance()
local minefield = LuaEntityPointer:Instance()

-- ---- the trigger classes of the level ----

gLua:RegisterClass("MissionEnd", "ZKRScriptTriggerEntity")
gLua:RegisterClass("Minefield", "ZKRDamageSurfaceEntity")

function MissionEnd:OnInit() end
function MissionEnd:OnEnter(entity)
    local unit = entity ~= nil and Squad.FindByName(entity:GetName()) or nil
    if unit ~= nil and unit.alive and not unit.arrived then
        unit.arrived = true
        gConsole:Print(string.format("Walker %s reached the end at step %d", unit.name, Flow.step))
    end
end
function MissionEnd:OnExit(entity) end
function MissionEnd:OnCleared() end

-- The progress areas note which area each walker is in, so that a death is counted in its
-- area.
function ZKRProgressAreaTriggerEntity:OnEnter(entity)
    local unit = entity ~= nil and Squad.FindByName(entity:GetName()) or nil
    if unit ~= nil then
        unit.area = self:GetAreaIndex()
    end
end
function ZKRProgressAreaTriggerEntity:OnExit(entity)
    local unit = entity ~= nil and Squad.FindByName(entity:GetName()) or nil
    if unit ~= nil and unit.area == self:GetAreaIndex() then
        unit.area = nil
    end
end
function ZKRProgressAreaTriggerEntity:OnCleared() end

function Minefield:OnInit() end
function Minefield:OnEnter(entity) end
function Minefield:OnExit(entity) end
function Minefield:OnCleared() end

-- ---- start ----

-- Shows the view from the eye to the target through a new strategy subcontroller made
-- current at once. The mission keeps no subcontroller: the view is placed anew from the
-- target, the direction and the distance, so each placement takes a new one (a zoom that
-- changes the distance, a few a game).
local function Look(eye, target)
    local controller = gGame:GetCameraController()
    local camera = controller ~= nil and controller:AddNewSubcontroller(CAMERASUBCONTROLLER_RTS) or nil
    if camera == nil then
        return false
    end
    local dx, dy, dz = target.x - eye.x, target.y - eye.y, target.z - eye.z
    local horizontal = math.sqrt(dx * dx + dz * dz)
    camera:SetPosition(Vector:Instance(eye.x, eye.y, eye.z, 1))
    camera:SetRotation(math.deg(math.atan2(-dy, horizontal)), 0, math.deg(math.atan2(dx, dz)))
    camera:SetFOV(50)
    controller:SetCurrentSubcontroller(camera, 0, 0)
    return true
end

local function PlaceCamera()
    cameraDirection = nil
    if level.cameraEye == nil then
        return
    end
    local eye, target = level.cameraEye, level.cameraTarget
    local dx, dy, dz = eye.x - target.x, eye.y - target.y, eye.z - target.z
    cameraDistance = math.sqrt(dx * dx + dy * dy + dz * dz)
    if Look(eye, target) then
        cameraDirection = {dx / cameraDistance, dy / cameraDistance, dz / cameraDistance}
    end
end

local function BuildRibbon(route)
    local path = level.ribbon
    if path == nil then
        return
    end
    ribbon:Set(path)
    local flags = Squad.RouteFlags()
    path:BeginPath()
    for i = 2, #flags do
        path:AddGraphSegment(flags[i - 1], flags[i], 0, i == 2, i == 2, i == #flags)
    end
    path:FinishPath()
end

-- The mission cannot be played: the reason's line, then an error out of the scene's start,
-- which the program counts, says (on standard error, and on the desktop's console) and
-- ends the run with.
local function CannotStart(reason)
    state = "done"
    local line = string.format("Mission %s cannot start: %s", MISSION_ID, reason)
    gConsole:PrintError(line)
    error(line, 0)
end

local HudStep  -- below: the HUD's counters from the mission's state
local ScreenPoint  -- below: the window pixel of a world point

-- Starts the mission; nil, or why it cannot start.
local function Start(scenario)
    if math.randomseed ~= nil then
        math.randomseed(scenario.seed)
    end
    if OutpostScene == nil then
        return "the scene's script did not run"
    end
    level = OutpostScene.Read()
    if level.start == nil then
        return "the level has no player marker"
    end
    Squad.Reset()
    Towers.Reset()
    Towers.ScreenPoint = ScreenPoint
    local route = Squad.BuildRoute(level.start)
    Towers.Spawn(level.towerMarkers, scenario.difficulty)
    BuildRibbon(route)
    minefield:Set(level.minefield)
    level.towerMarkers, level.ribbon, level.minefield = nil, nil, nil
    Audio.StartAmbient()
    PlaceCamera()
    Hud.Show()
    Controls.Begin()
    steps, resultSteps = 0, 0
    unrecorded = nil
    airstrikesLeft, repairsLeft = level.airstrikes, level.repairs
    deathsByArea = {}
    screenLogged = false
    outcome = nil
    state = "running"
    HudStep()  -- the mission's values from its first frame, not the recipe's zeros
    gConsole:Print(string.format("Mission %s started at step %d", MISSION_ID, Flow.step))
    return nil
end

-- Starts the mission; a level it cannot read (a script error on the way) is a mission that
-- cannot start, said with the error's place.
function Mission.Begin(scenario)
    local ok, failure = pcall(Start, scenario)
    if not ok then
        CannotStart(tostring(failure))
    elseif failure then
        CannotStart(failure)
    end
end

function Mission.IsRunning()
    return state == "running"
end

-- ---- the picture checks' lines ----

function ScreenPoint(x, y, z)
    local ui, screen = Vector:Instance(0, 0, 0, 0), Vector:Instance(0, 0, 0, 0)
    if not gGame:WorldPositionToUIPoint(Vector:Instance(x, y, z, 1), ui) then
        return nil
    end
    if not gGame:UIPointToScreenPoint(ui, screen) then
        return nil
    end
    return Flow.WindowPixels(screen)
end

-- Every living tower and walker on the screen, every LIVING_LOG_STEPS steps:
-- "Living at step S: NAME,X,Y ..." (its middle's window pixel).
local LIVING_LOG_STEPS = 10
local function LogLiving()
    local places = {}
    local function add(name, x, y, z)
        local sx, sy = ScreenPoint(x, y, z)
        if sx ~= nil then
            table.insert(places, string.format("%s,%d,%d", name, sx, sy))
        end
    end
    for _, tower in ipairs(Towers.list) do
        if tower.alive then
            add(tower.name, tower.x, 2.5, tower.z)
        end
    end
    for _, unit in ipairs(Squad.units) do
        if unit.alive and not unit.arrived then
            add(unit.name, unit.x, 0.8, unit.z)
        end
    end
    gConsole:Print(string.format("Living at step %d: %s", Flow.step, table.concat(places, " ")))
end

local function LogScreenPlaces()
    local points = {}
    local flags = Squad.RouteFlags()
    local m = Matrix:Instance()
    local sample = 0
    for i = 2, #flags do
        local a, b = flags[i - 1], flags[i]
        local length = a:GetNeighbourDistance(b)
        local d = 0
        while d < length do
            if sample % 10 == 0 then
                a:GetGlobalPositionOnPath(b, d, m)
                local p = m.v[3]
                local x, y = ScreenPoint(p.x, 0.05, p.z)
                if x ~= nil then
                    table.insert(points, string.format("%d,%d", x, y))
                end
            end
            sample = sample + 1
            d = d + ROUTE_SAMPLE
        end
    end
    gConsole:Print("Route on screen: " .. table.concat(points, " "))
    for _, tower in ipairs(Towers.list) do
        local x, y = ScreenPoint(tower.x, 2.5, tower.z)
        if x ~= nil then
            gConsole:Print(string.format("Tower %s at screen %d %d", tower.name, x, y))
        end
    end
end

-- ---- each step ----

local function SecondsLeft()
    return math.max(0, math.floor(level.timeLimit - steps * STEP))
end

local function MinefieldStep()
    local mines = minefield:Get()
    if mines == nil then
        return
    end
    -- Every walker inside is found first: one that dies of its damage leaves the inside
    -- list at once, which would move the next one past the walk.
    local inside = {}
    for i = 0, mines:GetEntitiesInsideCount() - 1 do
        local e = mines:GetEntityInside(i)
        local unit = e ~= nil and Squad.FindByName(e:GetName()) or nil
        if unit ~= nil then
            table.insert(inside, unit)
        end
    end
    local damage = mines:GetDamagePerSec() * STEP
    for _, unit in ipairs(inside) do
        Squad.TakeDamage(unit, damage)
    end
end

-- Notes a walker's death in the progress area it died in.
function Mission.OnWalkerDied(unit)
    if unit.area ~= nil then
        deathsByArea[unit.area] = (deathsByArea[unit.area] or 0) + 1
    end
end

local function Finish(result)
    local survivors = Squad.Counts()
    local r = {result = result, survivors = survivors, towers = Towers.destroyed, steps = steps,
               secondsLeft = result == "abandoned" and 0 or SecondsLeft()}
    r.score = result == "abandoned" and 0 or r.survivors * 1000 + r.towers * 250 + r.secondsLeft * 10
    r.distinctions = {}
    local levels = {}
    for _, d in ipairs(DISTINCTIONS) do
        local value, levelReached = d[2](r), 0
        for i, threshold in ipairs(d[3]) do
            if value >= threshold then
                levelReached = i
            end
        end
        table.insert(r.distinctions, {d[1], result == "abandoned" and 0 or levelReached})
        table.insert(levels, string.format("%s %d", d[1], r.distinctions[#r.distinctions][2]))
    end
    gConsole:Print(string.format("Mission %s distinctions: %s", MISSION_ID, table.concat(levels, " ")))
    outcome = r
    state = "result"
    resultSteps = 0
    local areas = {}
    for index in pairs(deathsByArea) do
        table.insert(areas, index)
    end
    table.sort(areas)
    for _, index in ipairs(areas) do
        gConsole:Print(string.format("Progress area %d: %d walkers lost", index, deathsByArea[index]))
    end
    unrecorded = r
    Mission.RecordWhenReady()
    Hud.ShowResult(result, r.score)
    Audio.Play(result == "won" and "Won" or "Lost", nil)
end

-- Records the finished mission once the profile's data has arrived. Answers whether
-- nothing is left to record.
function Mission.RecordWhenReady()
    if unrecorded == nil then
        return true
    end
    local r = unrecorded
    if not Profile.RecordWhenReady("Mission", function() Mission.Record(r) end,
        resultSteps * STEP < RESULT_SECONDS + RECORD_WAIT_SECONDS) then
        return false
    end
    unrecorded = nil
    return true
end

-- The profile's record of a finished mission (only the stats when abandoned).
function Mission.Record(r)
    local profile = Profile.Get()
    if r.result ~= "abandoned" then
        profile:StoreMissionScore(MISSION_ID, r.score)
        for _, d in ipairs(r.distinctions) do
            profile:StoreMissionDistinctionLevel(MISSION_ID, d[1], d[2])
        end
        profile:SetLastFinishedMissionNumericalId(MISSION_NUMBER, 0)
        profile:RaiseMissionFlag(MISSION_ID, r.result == "won" and "Won" or "Lost")
        profile:UpdateUnsignedStatValue("CTowersDestroyed", profile:GetUnsignedStatValue("CTowersDestroyed") + r.towers)
        if r.result == "won" then
            profile:UnlockAchievement(MISSION_ID)
        end
        profile:StoreProgress()
        profile:StoreResults()
    end
    profile:StoreStats()
end

function HudStep()
    local alive = Squad.Counts()
    Hud.Update({Survivors = alive + Squad.Waiting(level), Towers = Towers.AliveCount(),
                Seconds = SecondsLeft(), Airstrikes = airstrikesLeft})
end

local function RunningStep()
    steps = steps + 1
    Squad.SpawnStep(level, STEP)
    for _, unit in ipairs(Squad.units) do
        Squad.Walk(unit, STEP)
    end
    MinefieldStep()
    Towers.Step(STEP)
    for _, unit in ipairs(Squad.units) do
        Squad.FireBack(unit, STEP, Towers.list)
    end
    local path = ribbon:Get()
    local leader = Squad.LeaderPosition()
    if path ~= nil and leader ~= nil then
        path:UpdateSquadPosition(leader)
    end
    if not screenLogged and steps >= 2 then
        screenLogged = true
        LogScreenPlaces()
    end
    if Flow.step % LIVING_LOG_STEPS == 0 then
        LogLiving()
    end
    HudStep()
    local alive, arrived = Squad.Counts()
    local allOut = Squad.Waiting(level) == 0
    if allOut and alive > 0 and arrived == alive then
        Finish("won")
    elseif allOut and alive == 0 then
        Finish("lost")
    elseif steps * STEP >= level.timeLimit then
        Finish("lost")
    end
end

local function ResultStep()
    resultSteps = resultSteps + 1
    if not Mission.RecordWhenReady() or resultSteps * STEP < RESULT_SECONDS then
        return
    end
    local r = outcome
    gConsole:Print(string.format("Mission %s finished: result %s score %d survivors %d towers %d steps %d", MISSION_ID,
        r.result, r.score, r.survivors, r.towers, r.steps))
    -- A player who started the mission from the menu reads the result until done with it.
    if Flow.ShowsMenu() then
        state = "waiting"
        gConsole:Print("Result shown: a key or a click ends the program")
        return
    end
    state = "done"
    gGame:Quit()
end

-- Whether any key or mouse button went down in this frame.
local LAST_KEY = 255
local function AnyPress()
    if gGame:IsMouseButtonPressedForTheFirstTime(LEMB_LEFT) or gGame:IsMouseButtonPressedForTheFirstTime(LEMB_RIGHT) then
        return true
    end
    for key = 1, LAST_KEY do
        if gGame:IsKeyPressedForTheFirstTime(key) then
            return true
        end
    end
    return false
end

-- Once a frame: the result shown to the player ends with a key or a click.
function Mission.OnFrame()
    if state == "waiting" and AnyPress() then
        state = "done"
        gGame:Quit()
    end
end

function Mission.OnTick()
    if state == "running" then
        RunningStep()
    elseif state == "result" then
        ResultStep()
    end
end

-- ---- the player's actions ----

function Mission.Abandon()
    if state == "running" then
        Finish("abandoned")
    end
end

function Mission.AirstrikesLeft()
    return state == "running" and airstrikesLeft or 0
end

-- Drops an airstrike at a ground point: every tower within reach takes its damage.
function Mission.Airstrike(x, z)
    if state ~= "running" or airstrikesLeft <= 0 then
        return
    end
    airstrikesLeft = airstrikesLeft - 1
    -- The strike's line comes before the lines of the towers it destroys.
    local hit = {}
    for _, tower in ipairs(Towers.list) do
        if tower.alive and math.sqrt((tower.x - x) ^ 2 + (tower.z - z) ^ 2) <= AIRSTRIKE_RADIUS then
            hit[#hit + 1] = tower
        end
    end
    gConsole:Print(string.format("Airstrike at %.1f %.1f: %d towers hit", x, z, #hit))
    Towers.Blast("airstrike", "Airstrike", x, z)
    for _, tower in ipairs(hit) do
        Towers.TakeDamage(tower, AIRSTRIKE_DAMAGE, nil)
    end
end

function Mission.Repair()
    if state ~= "running" or repairsLeft <= 0 then
        return
    end
    repairsLeft = repairsLeft - 1
    local healed = 0
    for _, unit in ipairs(Squad.units) do
        if Squad.Heal(unit) then
            healed = healed + 1
        end
    end
    gConsole:Print(string.format("Repair: %d walkers healed", healed))
end

-- Moves the camera in (negative notches) or out along its view, within its limits.
function Mission.Zoom(notches)
    if cameraDirection == nil or state ~= "running" then
        return
    end
    local distance = math.max(CAMERA_MIN, math.min(CAMERA_MAX, cameraDistance + notches * CAMERA_STEP))
    if distance == cameraDistance then
        gConsole:Print(string.format("Camera distance %.1f", cameraDistance))
        return
    end
    cameraDistance = distance
    local t = level.cameraTarget
    local eye = {x = t.x + cameraDirection[1] * cameraDistance, y = t.y + cameraDirection[2] * cameraDistance,
                 z = t.z + cameraDirection[3] * cameraDistance}
    Look(eye, t)
    gConsole:Print(string.format("Camera distance %.1f", cameraDistance))
end
