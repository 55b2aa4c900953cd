-- The game's profile and camera package and its test package: the camera helper's copies
-- and two-result fit, the walk-map measure, the profile's forwards to the game delegate's
-- profile (its default user logged in through the in-process broker), and the two test
-- functions.

local function V(x, y, z, w) return Vector:Instance(x, y, z, w or 1) end

local function Down()
    local q = Quaternion:Instance()
    q:SetAxisAlpha(V(1, 0, 0, 0), 60)
    return q
end

Test("the camera helper's Instance is a copy of the shared helper", function()
    local a = ZKRCameraHelper:Instance()
    a:AddObjectPosition(V(1, 2, 3), true)
    local at = V(0, 0, 0)
    AssertEqual(Results(ZKRCameraHelper:Instance():CalculateCamLookAtPosAndDispAlongViewDir(Down(), 50, 8, 20, at, 0)),
                "2 boolean number", "results of a fresh copy")
    AssertFalse(ZKRCameraHelper:Instance():CalculateCamLookAtPosAndDispAlongViewDir(Down(), 50, 8, 20, at, 0),
                "the shared helper holds nothing")
    local ok, distance = a:CalculateCamLookAtPosAndDispAlongViewDir(Down(), 50, 8, 20, at, 0)
    AssertTrue(ok, "one object fits")
    AssertEqual(distance, 8, "the smallest distance")
    AssertEqual(string.format("%g %g %g", at.x, at.y, at.z), "1 2 3", "the object is the look-at point")
end)

Test("a group is framed at a distance of at least the smallest one", function()
    local h = ZKRCameraHelper:Instance()
    h:SetScreenEdgeDistOffset(1)
    h:AddObjectPosition(V(-40, 0, 0), false)
    h:AddObjectPosition(V(40, 0, 10), false)
    local at = V(0, 0, 0)
    local ok, distance = h:CalculateCamLookAtPosAndDispAlongViewDir(Down(), 50, 8, 500, at, 0)
    AssertTrue(ok, "fits")
    AssertTrue(distance > 8 and distance < 500, "a distance between the limits: " .. tostring(distance))
    AssertEqual(at.y, 0, "the look-at point on the ground")
    local eye = V(0, 0, 0)
    h:CalculateCamPosition(at, Down(), distance, eye)
    AssertNear(eye:Distance(at), distance, "the eye stands that far back", 1e-4)
    h:ResetObjectsPositions()
    AssertFalse(h:CalculateCamLookAtPosAndDispAlongViewDir(Down(), 50, 8, 500, at, 0), "emptied")
end)

Test("the walk-map measure refuses a short direction", function()
    AssertEqual(ZKRWalkMapUtils:GetExtrudeLength(V(0, 0, 0), V(0.5, 0, 0, 0), 2, 10, false), 0, "length 0.5")
end)

Test("the test functions", function()
    AssertEqual(zkr2_sumtest(2, 3), 5, "sum")
    -- Saturated, not wrapped; the largest integer reads back through the float as 2^31.
    AssertEqual(zkr2_sumtest(2^31 - 1, 2^31 - 1), 2^31, "saturated")
    local e = Fixture.Entity()
    AssertEqual(zkr2_testGetEntityName(e), e:GetName(), "the entity's name")
    AssertEqual(zkr2_testGetEntityName(nil), nil, "no entity")
    Fixture.Destroy(e)
end)

Test("the profile's forwards reach a logged-in profile", function()
    local p = Fixture.LCZKRGamerProfile()
    AssertTrue(p ~= nil, "a profile")
    AssertTrue(p:StoreMissionScore("M01", 1234), "score stored")
    AssertEqual(p:GetMissionScore("M01"), 1234, "score read")
    AssertTrue(p:RaiseProgressFlag("intro"), "flag raised")
    AssertTrue(p:CheckProgressFlag("intro"), "flag read")
    AssertTrue(p:ClearProgressFlag("intro"), "flag cleared")
    AssertFalse(p:CheckProgressFlag("intro"), "flag gone")
    AssertEqual(Results(p:SetLastUnlockedMissionNumericalId(3, 0)), "0", "a setter without result")
    AssertEqual(p:GetLastUnlockedMissionNumericalId(0), 3, "the unlocked mission")
    AssertEqual(Results(p:RaiseMissionFlag("M01", "done")), "0", "a flag without result")
    AssertTrue(p:CheckMissionFlag("M01", "done"), "the mission flag")
    AssertTrue(p:IsProgessDirty(), "progress dirty")
end)

-- Each forward against its partner on the same profile: a write, then the read that sees
-- it; and the resets and stores, seen through the reads and the dirty flags.
Test("every forward reaches the profile's own operation", function()
    local p = Fixture.LCZKRGamerProfile()
    local otherScores = p:GetTotalScoreForAllMissions() - p:GetMissionScore("M04")
    -- The desktop profile keeps no awards: UnlockAward leaves IsAwardUnlocked false.
    local rows = {
        {"SetLastFinishedMissionNumericalId", {7, 1}, "GetLastFinishedMissionNumericalId", {1}, 7},
        {"SetLastPresentedMissionNumericalId", {9, 2}, "GetLastPresentedMissionNumericalId", {2}, 9},
        {"UnlockEndlessMode", {"E1"}, "IsEndlessModeUnlocked", {"E1"}, true},
        {"StoreMissionScore", {"M04", 300}, "GetTotalScoreForAllMissions", {}, otherScores + 300},
        {"StoreMissionDistinctionLevel", {"M01", "Celerity", 2}, "GetMissionDistinctionLevel", {"M01", "Celerity"}, 2},
        {"UpdateUnsignedLocalDataValue", {"laps", 4}, "GetUnsignedLocalDataValue", {"laps", 0}, 4},
        {"UpdateFloatLocalDataValue", {"ratio", 0.5}, "GetFloatLocalDataValue", {"ratio", 0}, 0.5},
        {"UpdateUnsignedStatValue", {"MPSquadWinsNum", 6}, "GetUnsignedStatValue", {"MPSquadWinsNum"}, 6},
        {"UpdateFloatStatValue", {"MPRankedGamesAverageTime", 1.5},
         "GetFloatStatValue", {"MPRankedGamesAverageTime"}, 1.5},
        {"UnlockAchievement", {"M10"}, "IsAchievementUnlocked", {"M10"}, true},
        {"DebugLockAchievement", {"M10"}, "IsAchievementUnlocked", {"M10"}, false},
        {"UnlockAward", {"A1"}, "IsAwardUnlocked", {"A1"}, false},
        {"StoreProgress", {}, "IsProgessDirty", {}, false},
        {"StoreResults", {}, "IsResultsDirty", {}, false},
        {"DebugResetProgress", {}, "GetLastFinishedMissionNumericalId", {1}, 0},
        {"DebugResetResults", {}, "GetMissionScore", {"M01"}, 0},
        {"DebugResetStats", {}, "GetUnsignedStatValue", {"MPSquadWinsNum"}, 0},
    }
    for _, row in ipairs(rows) do
        local write, writeArgs, read, readArgs, expected = unpack(row)
        p[write](p, unpack(writeArgs))
        AssertEqual(p[read](p, unpack(readArgs)), expected, write .. " then " .. read)
    end
    AssertEqual(type(p:StoreStats()), "boolean", "StoreStats answers")
    AssertEqual(type(p:IsStatsDirty()), "boolean", "IsStatsDirty answers")
end)
