-- The towers (entity script classes "GunTower" and "ShieldTower"), spawned at the level's
-- tower markers. Gun towers pick the nearest walker they can see and fire with a spread
-- drawn from math.random; shield towers turn their shield towards the walkers around
-- them, and shots from the bearings it covers do them no harm. Their records live in
-- Towers.list in marker-name order.

Towers = {}

local GUN_HEALTH = 100        -- one airstrike destroys a gun tower
local SHIELD_HEALTH = 160
local GUN_RANGE = 20.0
local GUN_PERIOD = 1.0         -- seconds between shots
local GUN_DAMAGE = 20
local GUN_SPREAD = 1.6         -- the largest miss, in units, of a shot
local HIT_RADIUS = 0.9         -- a shot this close to the walker hits it
local MUZZLE_HEIGHT = 4.5
local SHIELD_RANGE = 24.0
local SHIELD_SECTOR = 45       -- degrees
local SHIELD_MASK = {1, 1, 0, 0, 0, 0, 0, 0}  -- the shield covers two sectors of eight
local SHIELD_TURN_RATE = 90    -- degrees per second
local WRECKS = {"TowerWreck", "TowerWreck2", "TowerWreck3", "TowerWreck4"}
local BLASTS = {"Blast1", "Blast2", "Blast3"}
local FLASH_STEPS, FIRE_STEPS, BLAST_STEPS = 6, 6, 15  -- steps an event's effect spawns
local WALKER_GUN_HEIGHT = 1.2

gLua:RegisterClass("GunTower", "ZKRTowerEntity")
gLua:RegisterClass("ShieldTower", "ZKRTowerEntity")

function GunTower:OnInit() end
function GunTower:InitMPProperties()
    Versus.InitEntity(self, "GunTower")
end
function GunTower:OnPropertiesReplicated()
    Versus.OnReplicated(self)
end
function GunTower:ScriptSchedulerHelper(text) end
function GunTower:OnNetInit()
    Versus.OnReplicated(self)
end
function GunTower:OnNetDestroy() end
function ShieldTower:OnInit() end
function ShieldTower:InitMPProperties()
    Versus.InitEntity(self, "ShieldTower")
end
function ShieldTower:OnPropertiesReplicated()
    Versus.OnReplicated(self)
end
function ShieldTower:ScriptSchedulerHelper(text) end
function ShieldTower:OnNetInit()
    Versus.OnReplicated(self)
end
function ShieldTower:OnNetDestroy() end

Towers.list = {}
Towers.destroyed = 0
-- The window pixel of a world point, or nil (the mission sets it).
Towers.ScreenPoint = nil
local running = {}  -- {name, steps left} of the started effects that stop by themselves
local nextWreck, nextBlast = 1, 1
local gatherer = NearEntitiesGatherer:Instance()
local losResult = LOSResult:Instance()

function Towers.Reset()
    Towers.remoteShields = false
    Towers.list = {}
    Towers.destroyed = 0
    running = {}
    nextWreck, nextBlast = 1, 1
end

-- Places an effect of the level at a point and starts it; with steps it stops that many
-- steps later (its particles then fade), without it it keeps running.
local function ShowEvent(kind, name, effectName, x, y, z, steps)
    local effect = gEntityManager:FindEntityByName(effectName)
    if effect == nil then
        return
    end
    effect:SetGlobalPosition3(x, y, z)
    effect:Start(true)
    if steps ~= nil then
        for _, r in ipairs(running) do
            if r.name == effectName then
                r.left = steps
                steps = nil
            end
        end
        if steps ~= nil then
            table.insert(running, {name = effectName, left = steps})
        end
    end
    local sx, sy = nil, nil
    if Towers.ScreenPoint ~= nil then
        sx, sy = Towers.ScreenPoint(x, y, z)
    end
    if sx ~= nil then
        gConsole:Print(string.format("Event %s %s at step %d screen %d %d", kind, name, Flow.step, sx, sy))
    end
end

-- Stops the effects whose steps ran out.
local function StepEvents()
    local kept = {}
    for _, r in ipairs(running) do
        r.left = r.left - 1
        if r.left > 0 then
            table.insert(kept, r)
        else
            local effect = gEntityManager:FindEntityByName(r.name)
            if effect ~= nil then
                effect:Stop(false)
            end
        end
    end
    running = kept
end

-- A blast of fire at a ground point (a tower falling, an airstrike landing).
function Towers.Blast(kind, name, x, z)
    ShowEvent(kind, name, BLASTS[nextBlast], x, 1.0, z, BLAST_STEPS)
    nextBlast = nextBlast % #BLASTS + 1
end

local function DifficultyVisible(marker, difficulty)
    if difficulty == "casual" then
        return marker:IsVisibleInCasual()
    elseif difficulty == "hardcore" then
        return marker:IsVisibleInHardcore()
    end
    return marker:IsVisibleInAdvanced()
end

-- Spawns a tower at every active marker shown in the difficulty; markers in name order.
-- A versus match's towers are the multiplayer authority's (flags), owned by the towers'
-- player (owner), whose orders turn the shields.
function Towers.Spawn(markers, difficulty, flags, owner)
    Towers.remoteShields = owner ~= nil
    for _, marker in ipairs(markers) do
        if marker:IsActive() and DifficultyVisible(marker, difficulty) then
            local template = marker:GetTowerTemplateName(false)
            local entity = gEntityManager:CreateEntityInGame(template, nil, marker:GetGlobalLocationMatrix(), flags or 0,
                owner)
            if entity == nil then
                gConsole:PrintError("Towers: cannot create " .. tostring(template))
            else
                local name = marker:GetName()
                entity:SetName(name)
                local p = entity:GetGlobalPosition()
                local gun = string.find(template, "Gun", 1, true) ~= nil
                table.insert(Towers.list, {
                    name = name, pointer = LuaEntityPointer:Instance(entity), gun = gun, x = p.x, z = p.z,
                    health = gun and GUN_HEALTH or SHIELD_HEALTH, alive = true, cooldown = GUN_PERIOD,
                    angle = 0})
            end
        end
    end
end

function Towers.Entity(tower)
    return tower.pointer:Get()
end

local function Bearing(tower, x, z)
    return math.fmod(math.deg(math.atan2(x - tower.x, z - tower.z)) + 3600, 360)
end

-- Whether the tower's shield covers a bearing.
local function Covers(tower, bearing)
    local sector = math.floor(math.fmod(bearing - tower.angle + 3600, 360) / SHIELD_SECTOR)
    return SHIELD_MASK[sector + 1] == 1
end

-- The walkers alive near a point, in the gatherer's order (by reusable id).
local function WalkersNear(position, radius)
    local out = {}
    gatherer:Init(Squad.GROUP, position, radius)
    for i = 0, gatherer:GetEntitiesNumber() - 1 do
        local e = gatherer:GetEntity(i)
        local unit = e ~= nil and Squad.FindByName(e:GetName()) or nil
        if unit ~= nil and unit.alive and not unit.arrived then
            table.insert(out, {unit = unit, entity = e})
        end
    end
    return out
end

-- A gun tower's step: the nearest visible walker in range, fired at with a spread.
local function GunStep(tower, entity, dt)
    tower.cooldown = tower.cooldown - dt
    if tower.cooldown > 0 then
        return
    end
    local muzzle = Vector:Instance(tower.x, MUZZLE_HEIGHT, tower.z, 1)
    local target, targetDistance = nil, GUN_RANGE
    for _, near in ipairs(WalkersNear(muzzle, GUN_RANGE)) do
        local unit = near.unit
        local d = math.sqrt((unit.x - tower.x) ^ 2 + (unit.z - tower.z) ^ 2)
        if d <= targetDistance and gEntityManager:LOS(muzzle, Squad.Position(unit), 0, losResult, 0xFFFFFFFF,
            entity, near.entity) then
            target, targetDistance = unit, d
        end
    end
    if target == nil then
        return
    end
    tower.cooldown = GUN_PERIOD
    -- The gun turns to its target.
    tower.angle = Bearing(tower, target.x, target.z)
    Flow.SetHeading(entity, tower.angle)
    Versus.Publish(entity, tower.x, 0, tower.z, tower.angle, nil)
    Audio.Play("Shot", entity)
    ShowEvent("shot", tower.name, "Flash" .. tower.name, tower.x, MUZZLE_HEIGHT + 0.5, tower.z, FLASH_STEPS)
    local miss = math.random() * GUN_SPREAD
    if miss <= HIT_RADIUS then
        Squad.TakeDamage(target, GUN_DAMAGE)
    end
end

-- Turns a shield to an angle (degrees about y).
function Towers.SetShieldAngle(tower, angle)
    local entity = Towers.Entity(tower)
    tower.angle = math.fmod(math.fmod(angle, 360) + 360, 360)
    if entity ~= nil then
        Flow.SetHeading(entity, tower.angle)
        Versus.Publish(entity, tower.x, 0, tower.z, tower.angle, nil)
    end
end

-- A shield tower's step: turns its shield towards the best cover of the walkers around
-- (unless its player turns it).
local function ShieldStep(tower, entity, dt)
    if Towers.remoteShields then
        return
    end
    local targets = {}
    for _, near in ipairs(WalkersNear(entity:GetGlobalPosition(), SHIELD_RANGE)) do
        table.insert(targets, near.entity)
    end
    if #targets == 0 then
        return
    end
    local wanted = zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget(entity, targets, tower.angle, SHIELD_MASK,
        SHIELD_SECTOR)
    local d = math.fmod(wanted - tower.angle + 540, 360) - 180
    local turn = SHIELD_TURN_RATE * dt
    d = math.max(-turn, math.min(turn, d))
    tower.angle = math.fmod(tower.angle + d + 360, 360)
    Flow.SetHeading(entity, tower.angle)
end

function Towers.Step(dt)
    StepEvents()
    for _, tower in ipairs(Towers.list) do
        local entity = tower.alive and Towers.Entity(tower) or nil
        if entity ~= nil then
            if tower.gun then
                GunStep(tower, entity, dt)
            else
                ShieldStep(tower, entity, dt)
            end
        end
    end
end

local function Destroy(tower)
    tower.alive = false
    Towers.destroyed = Towers.destroyed + 1
    local entity = Towers.Entity(tower)
    Towers.Blast("blast", tower.name, tower.x, tower.z)
    local wreckName = WRECKS[nextWreck]
    nextWreck = nextWreck % #WRECKS + 1
    ShowEvent("wreck", tower.name, wreckName, tower.x, 0, tower.z, nil)
    Audio.Play("Explosion", gEntityManager:FindEntityByName(wreckName))
    if entity ~= nil then
        entity:DeleteMe()
    end
    tower.pointer:SetNull()
    gConsole:Print(string.format("Tower %s destroyed at step %d", tower.name, Flow.step))
end

-- Damage to a tower from a walker (nil: from above, which no shield covers).
function Towers.TakeDamage(tower, amount, fromUnit)
    if not tower.alive then
        return false
    end
    if fromUnit ~= nil then
        -- The walker's shot shows whether the shield takes it or not.
        ShowEvent("fire", fromUnit.name, "Fire" .. string.sub(fromUnit.name, 7), fromUnit.x, WALKER_GUN_HEIGHT,
            fromUnit.z, FIRE_STEPS)
    end
    if fromUnit ~= nil and not tower.gun and Covers(tower, Bearing(tower, fromUnit.x, fromUnit.z)) then
        return false
    end
    tower.health = tower.health - amount
    Versus.Publish(Towers.Entity(tower), tower.x, 0, tower.z, nil, math.max(0, tower.health))
    if tower.health <= 0 then
        Destroy(tower)
    end
    return true
end

function Towers.AliveCount()
    local n = 0
    for _, tower in ipairs(Towers.list) do
        if tower.alive then
            n = n + 1
        end
    end
    return n
end

function Towers.FindByName(name)
    for _, tower in ipairs(Towers.list) do
        if tower.name == name then
            return tower
        end
    end
    return nil
end
