-- The game's entity package over entities of the game's kinds: the type constants, the
-- kinds arriving under their own classes, the enumeration getter, the counter text and
-- the route element's forms.

local anchor = Fixture.Entity()  -- makes the fixture's scene

Test("the game entity type constants", function()
    AssertEqual(ENTITY_ZKR_SQUAD_TRIGGER, 275, "the squad trigger")
    AssertEqual(ENTITY_ZKR_VERSUSPLAYERMARKER, 277, "the versus player marker")
    local count = 0
    for name, value in pairs(_G) do
        if type(name) == "string" and name:find("^ENTITY_ZKR_") then
            count = count + 1
            AssertTrue(value ~= 276, name .. " is not 276")
        end
    end
    AssertEqual(count, 21, "constants")
end)

Test("game kinds arrive under their own classes and reach their accessors", function()
    local cases = {
        {"ZKRTowerMarkerTemplate", "ZKRTowerMarkerEntity", "IsRespawnable", true},
        {"ZKRPickupMarkerTemplate", "ZKRPickupMarkerEntity", "IsActive", true},
        {"ZKRCheckpointTemplate", "ZKRCheckpointEntity", "GetTowerAwarenessType", "Standard"},
        {"ZKRObstacleMarkerTemplate", "ZKRObstacleMarkerEntity", "GetObstacleHP", 10},
    }
    for _, c in ipairs(cases) do
        local e = Fixture.GameKind(c[1])
        AssertEqual(tolua.type(e), c[2], c[1] .. " class")
        AssertEqual(e[c[3]](e), c[4], c[2] .. ":" .. c[3])
        Fixture.Destroy(e)
    end
end)

Test("the emergence type reads its name, the default outside the list", function()
    local marker = Fixture.GameKind("ZKRTowerMarkerTemplate")
    for _, c in ipairs({{0, "Default"}, {1, "Sand"}, {2, "Concrete"}, {3, "Water"}, {7, "Default"}}) do
        Fixture.SetEmergence(marker, c[1])
        AssertEqual(marker:GetEmergenceEffectType(), c[2], "stored " .. c[1])
    end
    Fixture.Destroy(marker)
end)

Test("the counter text, under both names; other elements are left alone", function()
    local text = UIText:new_local(nil, "font")
    ZKRHackedSetCounterText(text, 1111, true)
    AssertEqual(Fixture.TextOf(text), "1000", "ones after the first as zeros")
    ZKRHackedBoxSetCounterText(text, -25, false)
    AssertEqual(Fixture.TextOf(text), "-25", "the second name")
    AssertEqual(Results(ZKRHackedSetCounterText(UIElement:new_local(), 5, false)), "0", "a non-text element")
    AssertEqual(Results(ZKRHackedSetCounterText(nil, 5, false)), "0", "nothing")
end)

Test("the route element: new_local and the call belong to the script, new does not", function()
    local owned = ZKRMissionSelectorPathRenderer:new_local()
    AssertEqual(tolua.type(owned), "ZKRMissionSelectorPathRenderer", "new_local")
    AssertTrue(UIFixture.Owned(owned), "new_local is the script's")
    AssertTrue(UIFixture.Owned(ZKRMissionSelectorPathRenderer()), "the call is the script's")
    local kept = ZKRMissionSelectorPathRenderer:new()
    AssertFalse(UIFixture.Owned(kept), "new is released by the script")
    kept:Release()
end)
