-- The character-controller package over the fixture's scene, whose walk map covers
-- -10..10 on x and z.

local function Row(v)
    return string.format("%.2f %.2f %.2f", v.x, v.y, v.z)
end

local function Walk(c, ticks)
    for i = 1, ticks or 400 do
        if c:IsIdle() then return end
        c:Tick()
    end
end

Test("the defaults reach the controller", function()
    -- A goal 19 cells away: the search reaches it within the default cost; within a cost
    -- of 1 the path ends at the tile nearest to it that the search popped.
    local goal = Vector:Instance(6, 0, 5)
    local cases = {{{}, true}, {{1}, false}}
    for _, case in ipairs(cases) do
        local unit = Fixture.Entity(-8, 0, -8)
        local c = VerySimpleCharacterController:Instance(unit)
        c:InitPathfinder()
        c:SetPosition(Vector:Instance(-8, 0, -8))
        c:TestReachability(goal, unpack(case[1]))
        Walk(c)
        AssertTrue(c:GetReachabilityTestResult(), "a path found")
        AssertEqual(Row(c:GetReachablePoint()) == Row(goal), case[2], "the goal reached with " .. #case[1] .. " numbers")

        c:MoveToPoint(goal, unpack(case[1]))
        c:Tick()
        AssertFalse(c:IsIdle(), "a walk under way")
        c:Stop()
        AssertTrue(c:IsIdle(), "stopped")
        Fixture.Destroy(unit)
    end
end)

Test("omitted numbers reach the controller as their defaults", function()
    Fixture.GameplayClock(10)
    local unit = Fixture.Entity(-8, 0, -8)
    local made = VerySimpleCharacterController:Instance(unit)
    local sized = VerySimpleCharacterController:Instance(unit, 0.5)
    Fixture.GameplayClock(10.25)
    local recent = {{{}, true}, {{0.3}, true}}
    local later = {{{}, false}, {{0.3}, false}, {{0.5}, true}}
    for _, c in ipairs(recent) do
        AssertEqual(made:HasBeenFollowingPathRecently(unpack(c[1])), c[2], "0.25 s later, " .. #c[1] .. " numbers")
    end
    Fixture.GameplayClock(10.35)
    for _, c in ipairs(later) do
        AssertEqual(made:HasBeenFollowingPathRecently(unpack(c[1])), c[2], "0.35 s later, " .. #c[1] .. " numbers")
    end
    Fixture.GameplayClock()
    AssertEqual(Fixture.ControllerSpy(made), 0.25, "radius")
    AssertEqual(Fixture.ControllerSpy(sized), 0.5, "radius given")

    local goal = Vector:Instance(6, 0, 5)
    made:InitPathfinder()
    made:SetPosition(Vector:Instance(-8, 0, -8))
    local costs = {
        {"MoveToPoint", {}, 400}, {"MoveToPoint", {7}, 7}, {"TestReachability", {}, 400},
        {"TestReachability", {9}, 9},
    }
    for _, c in ipairs(costs) do
        made[c[1]](made, goal, unpack(c[2]))
        AssertEqual(select(2, Fixture.ControllerSpy(made)), c[3], c[1] .. " with " .. #c[2] .. " numbers")
        made:Stop(false)
    end
    -- Stop resets the search unless told not to.
    local stops = {{{false}, 400}, {{}, 0}}
    for _, c in ipairs(stops) do
        made:MoveToPoint(goal)
        made:Stop(unpack(c[1]))
        AssertEqual(select(2, Fixture.ControllerSpy(made)), c[2], "Stop with " .. #c[1] .. " arguments")
    end
    Fixture.Destroy(unit)
end)

Test("move constraints read the matrix as a box: centre, then half axes", function()
    local c = VerySimpleCharacterController:Instance(Fixture.Entity(0, 0, 0), 0.25)
    c:SetPosition(Vector:Instance(0, 0, 0))
    local box = Matrix:Instance()
    box.v[0] = Vector:Instance(0, 0, 0, 1)
    box.v[1] = Vector:Instance(2, 0, 0, 0)
    box.v[2] = Vector:Instance(0, 5, 0, 0)
    box.v[3] = Vector:Instance(0, 0, 2, 0)
    c:SetMoveConstraints(box)
    c:Move(Vector:Instance(10, 0, 0, 0))
    local x = c:GetPosition().x
    AssertTrue(x > 1 and x < 2, "held inside the box: " .. x)
    c:ResetMoveConstaints()
    c:ResetMoveConstaints()
    c:Move(Vector:Instance(5, 0, 0, 0))
    AssertTrue(c:GetPosition().x > 5, "free again")
end)

Test("a controller outlives its owner; delete frees it once", function()
    local unit = Fixture.Entity(1, 0, 1)
    local c = VerySimpleCharacterController:Instance(unit)
    Fixture.Destroy(unit)
    c:Move(Vector:Instance(1, 0, 0, 0))
    c:SetPosition(Vector:Instance(2, 0, 2))
    c:MoveToPoint(Vector:Instance(3, 0, 3))
    Walk(c, 20)
    c:delete()
    c:delete()
    AssertEqual(Results(c:IsIdle()), "0", "a deleted controller answers nothing")
    for i = 1, 100 do VerySimpleCharacterController:Instance(Fixture.Entity(0, 0, 0)):InitPathfinder() end
    collectgarbage()
end)
