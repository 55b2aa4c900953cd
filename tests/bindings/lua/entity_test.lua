-- The entity package over the fixture's scene: entities dying under the script, the
-- safe pointers and results that outlive them, and the rows whose forms or results
-- differ from the natives'.

local function V(x, y, z, w)
    return Vector:Instance(x, y, z, w or 1)
end

local function Xyz(v)
    return string.format("%.3f %.3f %.3f", v.x, v.y, v.z)
end

local function DeadError(class)
    return "attempt to use a dead " .. class .. " object"
end

Test("a destroyed entity's handle raises the dead-object error, counted once", function()
    for _, kind in ipairs({"Entity", "MeshEntity", "FlagEntity", "TriggerEntity", "SFXEntity"}) do
        doomed = Fixture[kind](1, 0, 1)
        AssertEqual(tolua.type(doomed), kind, "arrives under its class")
        Fixture.Destroy(doomed)
        local errors = Runner.ErrorCount()
        local reports = Runner.Warnings(DeadError(kind))
        AssertFalse(Runner.Execute("doomed:GetName()"), kind .. ": a run using the dead entity")
        AssertEqual(Runner.ErrorCount(), errors + 1, kind .. ": errors counted")
        AssertEqual(Runner.Warnings(DeadError(kind)), reports + 1, kind .. ": reports")
        AssertRaises(DeadError(kind), function() return doomed:GetGlobalPosition() end)
        AssertEqual(Results(gEntityManager:DestroyEntity(doomed)), "0", kind .. ": a dead argument rejects the call")
    end
    doomed = nil
end)

Test("SetParent: a dead parent is refused and the parent kept; nil is the scene root", function()
    local parent, child, dead = Fixture.Entity(), Fixture.Entity(2, 0, 0), Fixture.Entity()
    AssertEqual(child:SetParent(parent), parent, "the parent afterwards")
    Fixture.Destroy(dead)
    local cases = {
        {"SetParent", dead, parent, "0"},
        {"SetParentInPlace", dead, parent, "0"},
        {"SetParent", nil, gEntityManager:GetRootEntity(), "1 userdata"},
        {"SetParentInPlace", parent, parent, "1 userdata"},
    }
    for _, c in ipairs(cases) do
        AssertEqual(Results(child[c[1]](child, c[2])), c[4], c[1] .. " results")
        AssertEqual(child:GetParent(), c[3], c[1] .. " keeps or takes the parent")
    end
end)

Test("an entity made where a dead one was has a live handle of its own", function()
    local old = Fixture.Entity()
    local address = Fixture.Address(old)
    Fixture.Destroy(old)
    local fresh
    for _ = 1, 200 do
        local e = Fixture.Entity()
        if Fixture.Address(e) == address then
            fresh = e
            break
        end
    end
    if not fresh then
        -- A quarantining allocator never hands the block back this soon.
        AssertTrue(Fixture.Sanitized, "the freed block is reused")
        return
    end
    local errors = Runner.ErrorCount()
    AssertEqual(fresh:SetName("fresh"), "fresh", "the new entity answers")
    AssertEqual(Runner.ErrorCount(), errors, "no error")
    AssertRaises(DeadError("Entity"), function() return old:GetType() end)
end)

Test("an entity whose template names a script class arrives under that class", function()
    local parent, child = Fixture.Entity(), Fixture.Entity()
    child:SetParent(parent)
    Fixture.RegisterClass("FixtureTower", "Entity")
    function FixtureTower:Height() return 12 end
    AssertTrue(parent:SetTemplatePropertyFromString("Lua class", "FixtureTower"), "the template names it")
    local found = child:GetParent()
    parent:SetTemplatePropertyFromString("Lua class", "")
    AssertEqual(tolua.type(found), "FixtureTower", "class")
    AssertEqual(found:Height(), 12, "the script's method")
    AssertEqual(found:GetChildrenCount(), 1, "the entity's function")
end)

Test("LuaEntityPointer: null after the target dies; Set with its target keeps it; Set(nil) clears", function()
    local e, other = Fixture.Entity(), Fixture.Entity()
    local p = LuaEntityPointer:Instance(e)
    local empty = LuaEntityPointer:Instance()
    AssertTrue(empty:IsNull(), "made empty")
    AssertEqual(Results(empty:Get()), "1 nil", "empty Get")
    local steps = {
        {function() p:Set(e) end, e},
        {function() p:Set(other) end, other},
        {function() p:Set(other) end, other},
        {function() p:Set(nil) end, nil},
        {function() p:Set(e) end, e},
    }
    for i, s in ipairs(steps) do
        s[1]()
        AssertEqual(p:Get(), s[2], "step " .. i)
        AssertEqual(p:IsNull(), s[2] == nil, "step " .. i .. " IsNull")
    end
    Fixture.Destroy(e)
    AssertTrue(p:IsNull(), "null once the target is gone")
    AssertEqual(Results(p:Get()), "1 nil", "Get after the target died")
    p:Set(other)
    Fixture.Destroy(other)
    AssertTrue(p:IsNull(), "null after its second target died")
end)

Test("values read from an entity stay readable after it dies", function()
    local e = Fixture.Entity(3, 4, 5)
    local position, matrix, box = e:GetGlobalPosition(), e:GetGlobalLocationMatrix(), e:GetLocalBoundingBox()
    local row = matrix.v[3]
    Fixture.Destroy(e)
    collectgarbage()
    AssertEqual(Xyz(position), "3.000 4.000 5.000", "position")
    AssertEqual(Xyz(row), "3.000 4.000 5.000", "matrix row")
    AssertEqual(tolua.type(box), "BoundingBox4")
end)

Test("LOSResult: the entity reads nil once it has died; Point and Normal keep the result alive", function()
    local e = Fixture.Entity()
    local r = LOSResult:Instance()
    r.Entity = e
    AssertEqual(r.Entity, e, "set")
    Fixture.Destroy(e)
    AssertEqual(Results(r.Entity), "1 nil", "after the entity died")
    r.Point = V(1, 2, 3)
    local point = r.Point
    r = nil
    collectgarbage()
    collectgarbage()
    AssertEqual(Xyz(point), "1.000 2.000 3.000", "the view outlives the name")
    point.x = 7
    AssertEqual(point.x, 7, "writes through the view")
    -- A query that hits nothing.
    local clear = LOSResult:Instance()
    AssertTrue(gEntityManager:LOS(V(-5, 1, -5), V(5, 1, 5), 0, clear, 4294967295, nil, nil), "nothing blocks")
    AssertEqual(Results(clear.Entity), "1 nil", "no entity")
end)

Test("an aiming animation destroyed under the script is dead; its pointer reads null", function()
    local a = Fixture.ProceduralTargetingAnimation()
    local p = LuaProcTgtAnimPointer:Instance(a)
    AssertEqual(p:Get(), a, "points at it")
    a:SetRotationSpeed(10, 20)
    Fixture.DestroyAnimation(a)
    AssertTrue(p:IsNull(), "null once it is gone")
    AssertRaises(DeadError("ProceduralTargetingAnimation"), function() a:Stop(1) end)
    AssertEqual(Results(p:Set(a)), "0", "a dead argument rejects the call")
end)

Test("an aiming animation runs on its own copy of a script's timer", function()
    local timers = {
        {"a new timer", function() return GameTimer:Instance() end},
        {"the gameplay timer", function() return gGame:GetGameplayTimer() end},
        {"none", function() return nil end},
    }
    for _, t in ipairs(timers) do
        local a = Fixture.ProceduralTargetingAnimation()
        a:SetTimer(t[2]())
        collectgarbage()
        collectgarbage()
        -- Stopping reads the clock: the script's timer is gone by now.
        AssertEqual(Results(a:Stop(1)), "0", t[1])
        Fixture.DestroyAnimation(a)
    end
end)

Test("CreateEntityInGame and CreateEntity by GUID and name, with parent, transform and flags", function()
    local parent = Fixture.Entity(0, 0, 0)
    local m = Matrix:Instance()
    m:LoadTranslation(4, 0, 6)
    local guid = Fixture.TemplateGUID("FlagEntity")
    local cases = {
        {"GUID short", function() return gEntityManager:CreateEntityInGame(guid, parent) end, "0.000 0.000 0.000", 0},
        {"GUID long", function() return gEntityManager:CreateEntityInGame(guid, parent, m, ENTITYFLAG_SELECTED) end,
         "4.000 0.000 6.000", ENTITYFLAG_SELECTED},
        {"GUID long, no flags", function() return gEntityManager:CreateEntityInGame(guid, nil, m) end,
         "4.000 0.000 6.000", 0},
    }
    for _, c in ipairs(cases) do
        local e = c[2]()
        AssertEqual(tolua.type(e), "FlagEntity", c[1] .. ": under its kind's class")
        AssertEqual(Xyz(e:GetLocalPosition()), c[3], c[1] .. ": transform")
        AssertEqual(e:GetTemplateName(), "FlagEntity", c[1] .. ": template")
        AssertEqual(e:CheckFlag(ENTITYFLAG_SELECTED), 0, c[1] .. ": creation flags are not entity flags")
    end
    -- The owner and the creation flags of the long form.
    local player = Fixture.Player()
    local owned = {
        {0, false, false},
        {ENTITYCREATION_MULTIPLAYER_AUTHORITY, true, false},
        {ENTITYCREATION_MULTIPLAYER_PROXY, false, true},
    }
    for _, c in ipairs(owned) do
        local what = "flags " .. c[1]
        local e = gEntityManager:CreateEntityInGame(guid, nil, m, c[1], player)
        AssertEqual(e:GetPlayerOwner(), player, what .. ": owner")
        AssertEqual(e:IsMultiplayerAuthority(), c[2], what .. ": authority")
        AssertEqual(e:IsMultiplayerProxy(), c[3], what .. ": proxy")
        AssertEqual(Xyz(e:GetLocalPosition()), "4.000 0.000 6.000", what .. ": transform")
    end
    AssertEqual(Results(gEntityManager:CreateEntityInGame(guid, nil, m):GetPlayerOwner()), "1 nil", "no owner")
    AssertEqual(gEntityManager:CreateEntityInGame(guid, parent):GetParent(), parent, "parent")
    AssertEqual(gEntityManager:CreateEntityInGame(guid, nil, m):GetParent(), gEntityManager:GetRootEntity(), "nil parent")
    AssertEqual(Results(gEntityManager:CreateEntityInGame(SimpleGUID:Instance(), parent)), "1 nil", "unknown GUID")
    AssertEqual(Results(gEntityManager:CreateEntity("no such template", nil)), "1 nil", "unknown name")
end)

Test("GetNearestFlag: the short form looks every way; the long one within the cone", function()
    local near = Fixture.FlagEntity(2, 0, 0)
    local far = Fixture.FlagEntity(-5, 0, 0)
    local origin = V(0, 0, 0)
    local cases = {
        {"short", {origin, 100, nil}, near},
        {"short, excluding the nearest", {origin, 100, near}, far},
        {"short, too far", {origin, 1, nil}, nil},
        {"long, toward -x", {origin, 100, nil, V(-1, 0, 0, 0), 0.5}, far},
        {"long, toward +x", {origin, 100, nil, V(1, 0, 0, 0), 0.5}, near},
        {"long, default cosine", {origin, 100, nil, V(0, 0, 1, 0)}, near},
        {"long, toward +z, narrow", {origin, 100, nil, V(0, 0, 1, 0), 0.9}, nil},
    }
    for _, c in ipairs(cases) do
        local found = gEntityManager:GetNearestFlag(unpack(c[2], 1, 5))
        AssertEqual(found, c[3], c[1])
        if found then AssertEqual(tolua.type(found), "FlagEntity", c[1] .. " class") end
    end
    Fixture.Destroy(near)
    Fixture.Destroy(far)
end)

Test("rows that differ from the natives", function()
    local e = Fixture.Entity()
    AssertEqual(e:SetName("tower"), "tower", "SetName gives the name")
    AssertEqual(e:ToString(), e:GetName(), "ToString")
    e:SetGlobalPosition3(1, 2, 3)
    AssertEqual(Xyz(e:GetGlobalTargetingPoint()), Xyz(e:GetGlobalPosition()), "targeting point")
    e:SetGlobalPosition3(5)
    AssertEqual(Xyz(e:GetGlobalPosition()), "5.000 0.000 0.000", "omitted coordinates are 0")
    -- A rotation goes in as a Quaternion or as the Vector the getter gives.
    local function Rotation(x)
        local r = x:GetLocalRotation()
        return string.format("%.3f %.3f %.3f %.3f", math.abs(r.x), math.abs(r.y), math.abs(r.z), math.abs(r.w))
    end
    local q = Quaternion:Instance()
    q:SetAxisAlpha(V(0, 1, 0, 0), 90)
    e:SetLocalRotation(q)
    AssertEqual(Rotation(e), "0.000 0.707 0.000 0.707", "from a Quaternion")
    local copy = Fixture.Entity()
    copy:SetLocalRotation(e:GetLocalRotation())
    AssertEqual(Rotation(copy), Rotation(e), "from a Vector")
    -- The three-number setters take the same four numbers as the Vector form, w = 0.
    local threes = {{0, 0.6, 0}, {0.3, -0.4, 0.5}, {0, 0, 0}}
    for _, t in ipairs(threes) do
        for _, scope in ipairs({"Local", "Global"}) do
            local byNumbers, byVector = Fixture.Entity(), Fixture.Entity()
            byNumbers["Set" .. scope .. "Rotation3"](byNumbers, t[1], t[2], t[3])
            byVector["Set" .. scope .. "Rotation"](byVector, Vector:Instance(t[1], t[2], t[3], 0))
            AssertEqual(Rotation(byNumbers), Rotation(byVector), "Set" .. scope .. "Rotation3 " .. table.concat(t, " "))
        end
    end
    e:SetLocalUScale(2)
    AssertEqual(Xyz(e:GetLocalScale()), "2.000 2.000 2.000", "uniform scale")
    e:RaiseFlag(ENTITYFLAG_SELECTED + ENTITYFLAG_POSTFSE, false)
    local flags = {
        {ENTITYFLAG_SELECTED, ENTITYFLAG_SELECTED},
        {ENTITYFLAG_SELECTED + ENTITYFLAG_HIDDEN + ENTITYFLAG_POSTFSE, ENTITYFLAG_SELECTED + ENTITYFLAG_POSTFSE},
        {ENTITYFLAG_HIDDEN, 0},
    }
    for _, f in ipairs(flags) do AssertEqual(e:CheckFlag(f[1]), f[2], "CheckFlag " .. f[1]) end
    e:GhostModeOn(false)
    AssertTrue(e:IsGhostMode(), "ghost mode on")
    e:GhostModeOff(false)
    AssertFalse(e:IsGhostMode(), "ghost mode off")
    e:Hide(true)
    AssertTrue(e:IsHidden(), "hidden")
    e:Show(true)
    AssertFalse(e:IsHidden(), "shown")
    local views = {
        {ENTITYOVERRIDETEMPLATEFLAG_FALSE, false},
        {ENTITYOVERRIDETEMPLATEFLAG_TRUE, true},
        {ENTITYOVERRIDETEMPLATEFLAG_FALSE, false},
        {ENTITYOVERRIDETEMPLATEFLAG_TEMPLATEDEFAULT, true},
    }
    for _, v in ipairs(views) do
        e:SetVisibleInCombatView(v[1])
        e:SetVisibleInTacticalView(v[1])
        AssertEqual(e:IsVisibleInCombatView(), v[2], "combat view " .. v[1])
        AssertEqual(e:IsVisibleInTacticalView(), v[2], "tactical view " .. v[1])
    end
    e:SetGroup(6)
    AssertTrue(e:IsInGroups(2), "groups share a bit")
    AssertFalse(e:IsInGroups(9), "groups share none")
    AssertEqual(e:SetLayer(3), 3, "SetLayer gives the layer")
    -- Indexed getters: nil outside their list and for a dead entry.
    local parent = Fixture.Entity()
    local kids = {Fixture.Entity(), Fixture.Entity()}
    for _, k in ipairs(kids) do k:SetParent(parent) end
    Fixture.Destroy(kids[2])
    AssertEqual(parent:GetChildrenCount(), 1, "the dead child left the list")
    for _, i in ipairs({1, 2, 2^32, 1e30}) do
        AssertEqual(Results(parent:GetChild(i)), "1 nil", "GetChild " .. tostring(i))
    end
    AssertEqual(parent:GetChild(0), kids[1], "GetChild 0")
    local gatherer = NearEntitiesGatherer:Instance()
    local a, b = Fixture.Entity(30, 0, 30), Fixture.Entity(31, 0, 30)
    a:SetGroup(1)
    b:SetGroup(1)
    gatherer:Init(1, V(30, 0, 30), 5)
    AssertEqual(gatherer:GetEntitiesNumber(), 2, "gathered")
    Fixture.Destroy(a)
    local live = 0
    for i = -1, 3 do
        if gatherer:GetEntity(i) then live = live + 1 end
    end
    AssertEqual(live, 1, "only the live entry reads")
    AssertEqual(Results(TriggerEntity.GetEntityInside(Fixture.TriggerEntity(), 0)), "1 nil", "empty trigger")
end)

Test("indexed getters read nil for an entry whose entity has died", function()
    local function Monitor(x)
        local m = EntitiesVicinityMonitor:Instance()
        m:Init(4)
        m:AddTestPosition(V(x, 0, -30), 3)
        return m
    end
    local function Near()
        local e = Fixture.Entity(50, 0, -30)
        e:SetGroup(4)
        local m = Monitor(50)
        m:CalculateEntitiesVicinityChange()
        AssertEqual(m:GetEntityChangedToNear(0), e, "near before the death")
        return e, function() return m:GetEntityChangedToNear(0) end
    end
    local function Far()
        local e = Fixture.Entity(60, 0, -30)
        e:SetGroup(4)
        local m = Monitor(60)
        m:CalculateEntitiesVicinityChange()
        e:SetGlobalPosition3(70, 0, -30)
        m:CalculateEntitiesVicinityChange()
        AssertEqual(m:GetEntityChangedToFar(0), e, "far before the death")
        return e, function() return m:GetEntityChangedToFar(0) end
    end
    local function Neighbour()
        local a, b = Fixture.FlagEntity(40, 0, 40), Fixture.FlagEntity(42, 0, 40)
        Fixture.ConnectFlags(a, b)
        AssertEqual(a:GetNeighbour(0), b, "neighbour before the death")
        return b, function() return a:GetNeighbour(0) end
    end
    local function Inside()
        local t, e = Fixture.TriggerEntity(45, 0, 45), Fixture.Entity(45, 0, 45)
        Fixture.EnterTrigger(t, e)
        AssertEqual(t:GetEntityInside(0), e, "inside before the death")
        return e, function() return t:GetEntityInside(0) end
    end
    for name, make in pairs({GetEntityChangedToNear = Near, GetEntityChangedToFar = Far, GetNeighbour = Neighbour,
                             GetEntityInside = Inside}) do
        local e, read = make()
        Fixture.Destroy(e)
        AssertEqual(Results(read()), "1 nil", name)
    end
end)

Test("an LOSResult of a query that hit an entity reads nil once the entity has died", function()
    local wall = Fixture.Kind("BlockingMesh", 3, 0, -45)
    local r = LOSResult:Instance()
    AssertFalse(gEntityManager:LOS(V(-5, 0.5, -45), V(8, 0.5, -45), 0, r, 4294967295, nil, nil), "blocked")
    AssertEqual(r.Result, LOSRESULT_ENTITY, "an entity was hit")
    AssertEqual(r.Entity, wall, "the wall")
    Fixture.Destroy(wall)
    AssertEqual(Results(r.Entity), "1 nil", "after the wall died")
    AssertEqual(r.Result, LOSRESULT_ENTITY, "the rest of the result stays")
end)

Test("AnimationParams: defaults, the number rule for Id, and a sync object kept reachable", function()
    local p = AnimationParams:Instance()
    local defaults = {
        {"Flags", 0}, {"Id", 4294967295}, {"AttackTime", 0.2}, {"AutoFinishTime", 0.2}, {"SpeedMultiplier", 1},
        {"OverrideProgress", -1}, {"StartTimeOffset", 0},
    }
    for _, d in ipairs(defaults) do AssertNear(p[d[1]], d[2], d[1]) end
    AssertEqual(p.SyncObject, nil, "SyncObject")
    local ids = {{-1, 4294967295}, {4294967295, 4294967295}, {7, 7}, {-2, 4294967294}}
    for _, c in ipairs(ids) do
        p.Id = c[1]
        AssertEqual(p.Id, c[2], "Id = " .. c[1])
    end
    p.SyncObject = AnimationSoundSyncObject:Instance(Fixture.MeshEntity())
    p.SyncObject:AddSoundEvent(0.5, "step", 10, 20, -1)
    collectgarbage()
    collectgarbage()
    AssertEqual(tolua.type(p.SyncObject), "AnimationSoundSyncObject", "still reachable")
    p.SyncObject:Clear()
    p:LoadDefaults()
    AssertEqual(p.Id, 4294967295, "LoadDefaults")
end)

Test("a sync object lives while an animation started with it runs", function()
    local owner = Fixture.MeshEntity()
    -- In a function of its own, so that no register of this one still holds them.
    local function Start()
        local p = AnimationParams:Instance()
        p.Flags = ANIMFLAG_LOOP
        p.SyncObject = AnimationSoundSyncObject:Instance(owner)
        p.SyncObject:AddSoundEvent(0.5, "step", 10, 20, -1)
        Fixture.StartAnimation(p)
        Fixture.StartAnimation(p)
    end
    Start()
    -- The params go first; the sync object they kept goes in a later cycle.
    for _ = 1, 4 do collectgarbage() end
    -- The script's hold is gone; both animations still update the object.
    for _ = 1, 3 do Fixture.TickAnimations(0.4) end
    Fixture.EndAnimations()
    local kept = AnimationParams:Instance()
    kept.SyncObject = AnimationSoundSyncObject:Instance(owner)
    Fixture.StartAnimation(kept)
    Fixture.EndAnimations()
    -- The animation's end leaves the script's object alone.
    AssertEqual(Results(kept.SyncObject:AddSoundEvent(0.1, "step", 10, 20, -1)), "0", "still the script's")
end)

Test("NULL_ENTITY_MULTIPLAYER_ID cannot be assigned", function()
    AssertEqual(NULL_ENTITY_MULTIPLAYER_ID, 4095)
    AssertRaises("attempt to assign to read-only variable 'NULL_ENTITY_MULTIPLAYER_ID'",
                 function() NULL_ENTITY_MULTIPLAYER_ID = 5 end)
    AssertEqual(NULL_ENTITY_MULTIPLAYER_ID, 4095, "still")
end)

Test("MPPropAdd...: the new index as a number, refused without a container", function()
    local e = Fixture.Entity()
    -- Refused: all bits set, read through the float rule.
    AssertEqual(e:MPPropAddVec(V(1, 2, 3), MPPROPTYPE_VEC_POS, 0, "Goal"), 2^32, "no container")
    Fixture.CreateMPProperties(e)
    local first = e:MPPropAddVec(V(1, 2, 3), MPPROPTYPE_VEC_POS, 0, "Goal")
    AssertEqual(type(first), "number")
    AssertEqual(e:MPPropGetType(first), MPPROPTYPE_VEC_POS, "its kind")
    AssertEqual(e:MPPropAddBool(true, MPPROPTYPE_BOOL, 0, "b"), first + 1, "the next index")
    AssertEqual(e:MPPropAddInt(5, MPPROPTYPE_INT, 0, 0, 10, "i"), first + 2, "the next index")
    AssertEqual(e:MPPropGetInt(first + 2), 5, "its value")
end)
