-- Where a destroyed tower's wreck effect and explosion play:
--
--   lua5.1 towers_rules_check.lua <folder of the game's scripts>
--
-- Loads the sample's Game/Towers.lua in a stand-in of the engine (every global the script
-- reaches and this file does not define is a stub that answers any field and any call
-- with another stub), records what the scene's wreck effect and the sound are told, and
-- destroys towers. Prints one line per failed case and exits with 1 when any failed.

local folder = arg[1] or "."
local failures = 0

local function Stub()
    return setmetatable({}, {__index = function() return Stub() end, __call = function() return Stub() end})
end
setmetatable(_G, {__index = function(t, name)
    local s = Stub()
    rawset(t, name, s)
    return s
end})

gConsole = {}
function gConsole:Print(text) end
gConsole.PrintWarning, gConsole.PrintError = gConsole.Print, gConsole.Print
Flow = {step = 0}

-- The scene's wreck effects (the script takes them in turn): where each was put and how
-- often it started.
local Wreck = {}
Wreck.__index = Wreck
function Wreck:SetGlobalPosition3(x, y, z) self.at = {x, y, z} end
function Wreck:Start(restart) self.started = (self.started or 0) + 1 end
local wrecks = {}
gEntityManager = {}
function gEntityManager:FindEntityByName(name)
    if name:match("^TowerWreck%d*$") then
        wrecks[name] = wrecks[name] or setmetatable({at = {0, 0, 0}}, Wreck)
        return wrecks[name]
    end
    return nil
end
-- Each sound played: its name and where (the entity it plays at, and that entity's place then).
local played = {}
Audio = {}
function Audio.Play(name, at)
    played[#played + 1] = {name = name, at = at, place = at and at.at and {at.at[1], at.at[2], at.at[3]}}
end

dofile(folder .. "/Game/Towers.lua")

local function Fail(what, text)
    failures = failures + 1
    print("FAIL: " .. what .. ": " .. text)
end

local function Tower(name, gun, x, z, health)
    local pointer = {}
    function pointer:Get() return nil end
    function pointer:SetNull() end
    return {name = name, pointer = pointer, gun = gun, x = x, z = z, health = health, alive = true, angle = 0}
end

-- Towers at different places, destroyed from above (no shield covers that): the wreck goes
-- to the tower's place on the ground and starts, and the explosion plays at the wreck there,
-- once; damage that leaves a tower standing plays nothing.
local cases = {
    {"a gun tower", Tower("G1", true, 12.5, -30, 100), 100, true},
    {"a shield tower", Tower("S1", false, -7, 44.25, 160), 200, true},
    {"a tower left standing", Tower("G2", true, 3, 3, 100), 40, false},
}
for _, case in ipairs(cases) do
    local what, tower, damage, destroyed = case[1], case[2], case[3], case[4]
    for _, w in pairs(wrecks) do
        w.at, w.started = {0, 0, 0}, nil
    end
    played = {}
    Towers.TakeDamage(tower, damage, nil)
    Towers.TakeDamage(tower, damage, nil)  -- a wreck is not destroyed again
    -- The one wreck that started (the first found when none or several did).
    local wreck, startedWrecks = nil, 0
    for _, w in pairs(wrecks) do
        if w.started then
            wreck, startedWrecks = w, startedWrecks + 1
        end
    end
    if not destroyed then
        if #played ~= 0 or startedWrecks ~= 0 then
            Fail(what, "a tower still standing exploded")
        end
    elseif startedWrecks ~= 1 then
        Fail(what, startedWrecks .. " wrecks started, not one")
    else
        local at = wreck.at
        if at[1] ~= tower.x or at[2] ~= 0 or at[3] ~= tower.z then
            Fail(what, string.format("the wreck is at (%g, %g, %g), not at the tower (%g, 0, %g)", at[1], at[2], at[3], tower.x,
                tower.z))
        end
        if wreck.started ~= 1 then
            Fail(what, "the wreck started " .. tostring(wreck.started or 0) .. " times")
        end
        if #played ~= 1 or played[1].name ~= "Explosion" then
            Fail(what, #played .. " sounds, not one explosion")
        elseif played[1].at ~= wreck or not played[1].place or played[1].place[1] ~= tower.x or played[1].place[3] ~= tower.z then
            Fail(what, "the explosion does not play at the wreck on the tower")
        end
    end
end

print(string.format("towers rules: %d failures", failures))
os.exit(failures == 0 and 0 or 1)
