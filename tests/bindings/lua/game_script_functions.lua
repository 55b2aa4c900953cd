-- The game's native script functions: the table sum, the rotating shield's aiming from
-- bearings and from entities, their type tests and the tables they read and write.

local function Sum(t) return zkr2_testTableSum(t) end

Test("the four functions are plain globals", function()
    for _, name in ipairs({"zkr2_testTableSum", "zkr2_towerRotoShield_ComputeMaxCoverAngle",
                           "zkr2_towerRotoShield_ComputeAttackAngles",
                           "zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget"}) do
        AssertEqual(type(_G[name]), "function", name)
    end
end)

Test("the table sum adds number values only, of every key", function()
    local cases = {
        {{}, 0},
        {{1, 2, 3}, 6},
        {{1, "2", "x", true, {}, 4.5}, 5.5},
        {{a = 1, b = 2, [10] = 3, [-1] = 4}, 10},
    }
    for i, c in ipairs(cases) do AssertEqual(Sum(c[1]), c[2], "case " .. i) end
end)

Test("a wrong argument type raises the function's error and returns nothing", function()
    local e = Fixture.Entity()
    local cases = {
        {"zkr2_testTableSum", 1, "number", "table", {5}},
        {"zkr2_towerRotoShield_ComputeMaxCoverAngle", 2, "nil", "table", {0}},
        {"zkr2_towerRotoShield_ComputeMaxCoverAngle", 4, "string", "number", {0, {}, {}, "x"}},
        {"zkr2_towerRotoShield_ComputeAttackAngles", 1, "table", "Entity", {{}, {}}},
        {"zkr2_towerRotoShield_ComputeAttackAngles", 2, "number", "table", {e, 3}},
        {"zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget", 3, "nil", "number", {e, {}, nil, {}, 30}},
        {"zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget", 5, "boolean", "number", {e, {}, 0, {}, true}},
    }
    for _, c in ipairs(cases) do
        local args = c[5]
        local ok, message = pcall(_G[c[1]], unpack(args, 1, 5))
        AssertFalse(ok, c[1] .. " ran")
        AssertEqual(message, string.format("error in function '%s'.\n     argument #%d is '%s'; '%s' expected.\n",
                                           c[1], c[2], c[3], c[4]), c[1] .. " message")
    end
    Fixture.Destroy(e)
end)

Test("the best angle from bearings", function()
    local f = zkr2_towerRotoShield_ComputeMaxCoverAngle
    local cases = {
        {"one target, one sector", 0, {100}, {1}, 360, 280},
        {"the turn across zero is the short one", 350, {100}, {1, 1}, 180, 10},
        {"ties go to the first", 180, {0, 0}, {1, 1}, 180, 270},
        {"no bearings", 42, {}, {1}, 360, 42},
        {"sector size 0", 42, {100}, {1}, 0, 42},
        {"a mask shorter than the circle", 0, {100, 300}, {1}, 90, 55},
        {"read up to the first nil", 0, {100, nil, 300}, {1, 1, 1, 1}, 90, 325},
        {"non-numbers read as 0", 0, {"x", 100}, {0, 1}, 180, 90},
    }
    for _, c in ipairs(cases) do AssertNear(f(c[2], c[3], c[4], c[5]), c[6], c[1]) end
end)

Test("bearings of entities start at key 0; other entries take no part", function()
    local tower = Fixture.Entity(1, 0, 1)
    local east, south, dead = Fixture.Entity(11, 5, 1), Fixture.Entity(1, -3, -9), Fixture.Entity(0, 0, 7)
    Fixture.Destroy(dead)
    local angles = zkr2_towerRotoShield_ComputeAttackAngles(tower, {east, dead, "x", south, Vector:Instance(1, 2, 3)})
    AssertNear(angles[0], 90, "+x")
    AssertNear(angles[1], 180, "-z")
    AssertEqual(angles[2], nil, "no third")
    AssertEqual(#zkr2_towerRotoShield_ComputeAttackAngles(tower, {}), 0, "empty")
    -- One sector of 360 centred on the +x target.
    AssertNear(zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget(tower, {east, dead}, 0, {1}, 360), 270, "best")
    AssertNear(zkr2_towerRotoShield_ComputeMaxCoverAngleForTarget(tower, {}, 33, {1}, 360), 33, "no targets")
    for _, e in ipairs({tower, east, south}) do Fixture.Destroy(e) end
end)
