-- The squad's walkers (entity script class "SquadUnit"): they walk the route from the
-- player marker along the flag connections and fire back at the towers in reach. Their
-- state lives in the records of Squad.units, in spawn order (the order every walk over
-- them takes); the entities are held through LuaEntityPointer.

Squad = {}

local SPEED = 4.0              -- units per second
local HEALTH = 100
local FIRE_RANGE = 16.0
local FIRE_PERIOD = 1.0        -- seconds between shots
local FIRE_DAMAGE = 9
local SPAWN_PERIOD = 1.0       -- seconds between two walkers leaving the start
local CHEST_HEIGHT = 1.0
-- The entity group of the walkers, the one the towers' gatherers look for.
Squad.GROUP = 0x10

gLua:RegisterClass("SquadUnit", "MeshEntity")

function SquadUnit:OnInit() end
-- In a versus match a walker replicates its position, rotation and health.
function SquadUnit:InitMPProperties()
    Versus.InitEntity(self, "SquadUnit")
end
function SquadUnit:OnPropertiesReplicated()
    Versus.OnReplicated(self)
end
function SquadUnit:ScriptSchedulerHelper(text) end
function SquadUnit:OnTornOff() end
function SquadUnit:OnNetInit()
    Versus.OnReplicated(self)
end
function SquadUnit:OnNetDestroy() end

-- The route: flags in walking order with their global positions and the distance from
-- the route's start (its first flag, where the ribbon begins) to each.
local route = nil

-- The query point above the start: the nearest-flag search passes over a flag at the very
-- point it is asked about, and one lifted a unit keeps every flag on the ground in the
-- same order of distance (a flag on the start included).
local START_LIFT = 1.0

-- Builds the route from the flag nearest to the start along each flag's first connection.
-- The walkers enter at that flag, on the ribbon; a level without flags has the start alone.
function Squad.BuildRoute(start)
    local points = {}
    local flags = {}
    local flag = gEntityManager:GetNearestFlag(Vector:Instance(start.x, start.y + START_LIFT, start.z, 1), 1000, nil)
    local total = 0
    local visited = {}
    while flag ~= nil and not visited[flag:GetName()] do
        visited[flag:GetName()] = true
        local p = flag:GetGlobalPosition()
        local last = points[#points]
        if last ~= nil then
            total = total + math.sqrt((p.x - last.x) ^ 2 + (p.z - last.z) ^ 2)
        end
        table.insert(points, {x = p.x, z = p.z, at = total})
        table.insert(flags, LuaEntityPointer:Instance(flag))
        if flag:GetNeighbourCount() == 0 then
            break
        end
        flag = flag:GetNeighbour(0)
    end
    if #points == 0 then
        points[1] = {x = start.x, z = start.z, at = 0}
    end
    route = {points = points, flags = flags, length = total}
    return route
end

-- The flag entities of the route in walking order (found again on each call).
function Squad.RouteFlags()
    local out = {}
    for i, pointer in ipairs(route.flags) do
        out[i] = pointer:Get()
    end
    return out
end

-- The point at a distance along the route, and the index of the leg it lies on (leg i
-- runs from the route's flag i to flag i + 1, along their connection's own path).
local function PointOnRoute(distance)
    local points = route.points
    for i = 2, #points do
        local a, b = points[i - 1], points[i]
        if distance <= b.at or i == #points then
            local legLength = b.at - a.at
            local t = legLength > 0 and math.min(1, math.max(0, (distance - a.at) / legLength)) or 1
            return a.x + (b.x - a.x) * t, a.z + (b.z - a.z) * t, i - 1
        end
    end
    return points[1].x, points[1].z, 1
end

Squad.units = {}
-- The same walkers by name: the towers and triggers find a walker by its entity's name
-- many times a step.
local unitsByName = {}
local pathMatrix = Matrix:Instance()
-- The level's queue: the index of the next walker to leave and the time until it does.
local nextSpawn, spawnTimer = 1, 0

function Squad.Reset()
    Squad.units = {}
    unitsByName = {}
    nextSpawn, spawnTimer = 1, 0
end

-- Creates one walker at the start of the route (creation flags: a versus match's are
-- the multiplayer authority's).
function Squad.Spawn(templateName, index, flags)
    local x, z = PointOnRoute(0)
    local m = Matrix:Instance()
    m:LoadTranslation(x, 0, z)
    local entity = gEntityManager:CreateEntityInGame(templateName, nil, m, flags or 0, nil)
    if entity == nil then
        gConsole:PrintError("Squad: cannot create " .. templateName)
        return nil
    end
    local name = string.format("Walker%d", index)
    entity:SetName(name)
    entity:SetGroup(Squad.GROUP)
    local unit = {name = name, pointer = LuaEntityPointer:Instance(entity), health = HEALTH, distance = 0,
                  x = x, z = z, cooldown = FIRE_PERIOD, alive = true, arrived = false}
    table.insert(Squad.units, unit)
    unitsByName[name] = unit
    return unit
end

-- One step of the level's queue: its next walker leaves SPAWN_PERIOD after the last one
-- (creation flags as Squad.Spawn's). Answers the walker that left, if one did.
function Squad.SpawnStep(level, dt, flags)
    if nextSpawn > #level.units then
        return nil
    end
    spawnTimer = spawnTimer - dt
    if spawnTimer > 0 then
        return nil
    end
    local index = nextSpawn
    nextSpawn = nextSpawn + 1
    spawnTimer = SPAWN_PERIOD
    return Squad.Spawn(OutpostScene.UnitTemplate(level, level.units[index]), index, flags)
end

-- The walkers of the level's queue that have not left yet.
function Squad.Waiting(level)
    return #level.units - nextSpawn + 1
end

function Squad.Entity(unit)
    return unit.pointer:Get()
end

-- Walks one step: the walker stands on the route at its distance, turned along it; it stays
-- at the route's end once there. It has arrived only when the end's trigger saw it enter.
function Squad.Walk(unit, dt)
    if not unit.alive or unit.arrived then
        return
    end
    unit.distance = math.min(route.length, unit.distance + SPEED * dt)
    local x, z, leg = PointOnRoute(unit.distance)
    local entity = Squad.Entity(unit)
    if entity ~= nil then
        local a = route.flags[leg] and route.flags[leg]:Get() or nil
        local b = route.flags[leg + 1] and route.flags[leg + 1]:Get() or nil
        if a ~= nil and b ~= nil then
            -- Between two flags: the connection's own path position and direction.
            a:GetGlobalPositionOnPath(b, unit.distance - route.points[leg].at, pathMatrix)
            entity:SetGlobalLocationMatrix(pathMatrix)
            local p = entity:GetGlobalPosition()
            x, z = p.x, p.z
        else
            local dx, dz = x - unit.x, z - unit.z
            entity:SetGlobalPosition3(x, 0, z)
            if dx * dx + dz * dz > 1e-6 then
                Flow.SetHeading(entity, math.deg(math.atan2(dx, dz)))
            end
        end
    end
    if entity ~= nil and (x ~= unit.x or z ~= unit.z) then
        Versus.Publish(entity, x, 0, z, math.deg(math.atan2(x - unit.x, z - unit.z)), nil)
    end
    unit.x, unit.z = x, z
end

function Squad.Position(unit)
    return Vector:Instance(unit.x, CHEST_HEIGHT, unit.z, 1)
end

-- Fires back at the nearest tower in reach once its weapon is ready; answers the tower
-- record hit, or nil.
function Squad.FireBack(unit, dt, towers)
    if not unit.alive or unit.arrived then
        return nil
    end
    unit.cooldown = unit.cooldown - dt
    if unit.cooldown > 0 then
        return nil
    end
    local best, bestDistance = nil, FIRE_RANGE
    for _, tower in ipairs(towers) do
        if tower.alive then
            local d = math.sqrt((tower.x - unit.x) ^ 2 + (tower.z - unit.z) ^ 2)
            if d <= bestDistance then
                best, bestDistance = tower, d
            end
        end
    end
    if best == nil then
        return nil
    end
    unit.cooldown = FIRE_PERIOD
    Towers.TakeDamage(best, FIRE_DAMAGE, unit)
    return best
end

-- Damage to a walker; it dies at 0 health.
function Squad.TakeDamage(unit, amount)
    if not unit.alive then
        return
    end
    unit.health = unit.health - amount
    Versus.Publish(Squad.Entity(unit), unit.x, 0, unit.z, nil, math.max(0, unit.health))
    if unit.health <= 0 then
        unit.health = 0
        unit.alive = false
        local entity = Squad.Entity(unit)
        Mission.OnWalkerDied(unit)
        if entity ~= nil then
            entity:DeleteMe()
        end
        unit.pointer:SetNull()
        gConsole:Print(string.format("Walker %s died at step %d", unit.name, Flow.step))
    end
end

function Squad.Heal(unit)
    if unit.alive and unit.health < HEALTH then
        unit.health = HEALTH
        return true
    end
    return false
end

-- Counts: alive, arrived (alive and at the route's end).
function Squad.Counts()
    local alive, arrived = 0, 0
    for _, unit in ipairs(Squad.units) do
        if unit.alive then
            alive = alive + 1
            if unit.arrived then
                arrived = arrived + 1
            end
        end
    end
    return alive, arrived
end

-- The position of the squad's leader (the first walker alive), or nil.
function Squad.LeaderPosition()
    for _, unit in ipairs(Squad.units) do
        if unit.alive then
            return Squad.Position(unit)
        end
    end
    return nil
end

function Squad.FindByName(name)
    return unitsByName[name]
end
