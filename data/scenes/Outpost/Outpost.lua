-- The scene script of "Outpost": run once the scene has loaded, it reads what the level
-- placed (the level parameters, the player marker, the tower markers, the route's flags,
-- the ribbon, the triggers and the camera's start) for the mission's rules.

OutpostScene = {}

local LEVEL_PARAMS = "LevelParams"
local RIBBON = "Route"
local CAMERA = "Camera"
local MINEFIELD = "Minefield"

local function Split(text)
    local out = {}
    for word in string.gmatch(text or "", "[^,]+") do
        table.insert(out, word)
    end
    return out
end

local function Number(entity, property, default)
    local value = entity ~= nil and tonumber(entity:GetPropertyValueAsString(property)) or nil
    return value or default
end

-- The scene's top entities of one type, in name order.
local function EntitiesOfType(entityType)
    local out = {}
    local root = gEntityManager:GetRootEntity()
    for i = 0, root:GetChildrenCount() - 1 do
        local e = root:GetChild(i)
        if e ~= nil and e:GetType() == entityType then
            table.insert(out, e)
        end
    end
    table.sort(out, function(a, b) return a:GetName() < b:GetName() end)
    return out
end

-- The tower markers, in name order.
function OutpostScene.TowerMarkers()
    return EntitiesOfType(ENTITY_ZKR_TOWERMARKER)
end

-- The level as the mission's rules read it. Its entities (the markers, the ribbon and the
-- minefield) are for the mission's start only.
function OutpostScene.Read()
    local params = gEntityManager:FindEntityByName(LEVEL_PARAMS)
    local level = {
        timeLimit = Number(params, "TimeLimit", 120),
        airstrikes = Number(params, "Count_Airstrike", 0),
        repairs = Number(params, "Count_Repair", 0),
        units = Split(params ~= nil and params:GetPropertyValueAsString("UnitsQue") or ""),
        towerMarkers = OutpostScene.TowerMarkers(),
        ribbon = gEntityManager:FindEntityByName(RIBBON),
        minefield = gEntityManager:FindEntityByName(MINEFIELD),
    }
    local players = EntitiesOfType(ENTITY_ZKR_PLAYERMARKER)
    local player = players[1]
    if player ~= nil then
        level.start = player:GetGlobalPosition()
        local hero = player:GetPlayerControllerTemplateName(false)
        level.templateFolder = string.match(hero, "^(.*)/[^/]*$") or ""
        level.heroTemplate = hero
    end
    local camera = gEntityManager:FindEntityByName(CAMERA)
    local target = gEntityManager:FindEntityByName(CAMERA .. "_Target")
    if camera ~= nil and target ~= nil then
        level.cameraEye = camera:GetGlobalPosition()
        level.cameraTarget = target:GetGlobalPosition()
    end
    return level
end

-- The walker template of a queue entry: the hero template's folder and the entry.
function OutpostScene.UnitTemplate(level, entry)
    if level.templateFolder == nil or level.templateFolder == "" then
        return entry
    end
    return level.templateFolder .. "/" .. entry
end
